#pragma once

#include <string_view>

#include "bty/height_grid.h"
#include "common/fault_messages.h"
#include "common/reflection_table.h"
#include "input/simulation_config.h"

namespace abyx {

enum class BottomKind { Rigid, Acoustic, Elastic, Table };

// The bottom model resolved for the reflection coefficient; absent attenuations are 0.
struct BottomParams {
  BottomKind kind = BottomKind::Rigid;                       // which half-space
  float compressional_speed_m_s = 0.0f;                      // m/s (acoustic, elastic)
  float shear_speed_m_s = 0.0f;                              // m/s (elastic)
  float density_g_cm3 = 0.0f;                                // g/cm^3 (acoustic, elastic)
  float compressional_attenuation_db_per_wavelength = 0.0f;  // dB per wavelength
  float shear_attenuation_db_per_wavelength = 0.0f;          // dB per wavelength (elastic)
  ReflectionTable table{};  // the coefficient against the grazing angle (table)
};

// The bathymetry: the seabed's depth grid and what it is made of; built once, then read-only.
struct BTYfield {
  HeightGrid grid;             // seabed depth (m, positive down)
  BottomParams bottom;         // resolved bottom model
  float water_density = 1.0f;  // g/cm^3
};

// Builds the bathymetry from the validated configuration; throws Fault when the depth list does not
// match the axes.
BTYfield init_bty(const Bathymetry& bathymetry);

}  // namespace abyx
