#pragma once

#include <cstddef>
#include <limits>
#include <string_view>
#include <vector>

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

// The bathymetry: a depth surface on a rectilinear horizontal grid; built once, then read-only.
struct BTYfield {
  std::vector<float> x;        // axis x (m)
  std::vector<float> y;        // axis y (m)
  std::vector<float> depth;    // depth (m, positive down) at [ix, iy], y fastest
  BottomParams bottom;         // resolved bottom model
  float water_density = 1.0f;  // g/cm^3
  // Bounds of the whole surface, inside the grid and beyond it: no depth lies above
  // shallowest_depth (m), and no normal leans so far from the vertical that 1 / n_z exceeds
  // steepest_tilt_secant. Until measure_bottom_bounds sets them they bound nothing.
  float shallowest_depth = -std::numeric_limits<float>::infinity();
  float steepest_tilt_secant = std::numeric_limits<float>::infinity();

  std::size_t index(std::size_t ix, std::size_t iy) const { return ix * y.size() + iy; }
};

// Sets the bounds of the surface from its nodes (init_bty does this; a surface made by hand needs
// it once its depths are in place, or the ray tracer evaluates the bottom after every step).
void measure_bottom_bounds(BTYfield& bty);

// Builds the bathymetry from the validated configuration; throws Fault when the depth list does not
// match the axes.
BTYfield init_bty(const Bathymetry& bathymetry);

}  // namespace abyx
