#pragma once

#include <limits>
#include <optional>
#include <vector>

#include "bty/bty_field.h"
#include "bty/height_grid.h"
#include "common/reflection_table.h"
#include "common/vec3.h"
#include "input/simulation_config.h"
#include "model/absorption.h"
#include "model/launch_fan.h"
#include "model/receiver_index.h"
#include "model/receivers.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// The largest sides (rad) of its cell of the fan that a complex-Q beam of one frequency weighs in
// full, in the field and in the intensity; infinite for beams that spread with the fan.
struct FanCellSides {
  double field = std::numeric_limits<double>::infinity();
  double intensity = std::numeric_limits<double>::infinity();
};

// Everything a run reads, built once from the validated configuration and only read afterwards,
// by every worker at once: the ocean, the resolved settings, the fan and the receivers.
struct Model {
  Vec3 source;                        // (m, z positive down)
  BeamSettings beam;                  // the trace and beam settings, beam type resolved
  SSPFields ssp;                      // sound-speed grid
  BTYfield bty;                       // bathymetry and bottom model
  std::optional<HeightGrid> surface;  // a shaped sea surface; none for the flat one at z = 0
  // The surface's reflection coefficient against the grazing angle; none for pressure release,
  // which rays carry as a phase of pi at each surface reflection instead of recording their hits.
  std::optional<ReflectionTable> surface_table;
  std::vector<float> omegas;     // angular frequencies (rad/s), in configuration order
  LaunchFan fan;                 // launch angles and their spacings
  std::vector<Launch> launches;  // the azimuth-major launch list
  Receivers receivers;           // as configured: the field is laid out from them
  ReceiverLayout layout = ReceiverLayout::Grid;
  ReceiverIndex array_index;  // the array receivers' index; empty for other layouts
  // 1 / the slowest sound speed of the grid (s/m): no travel time between two points differs by
  // more than their distance times this
  float max_slowness_s_m = 0.0f;
  Absorption absorption;  // the water's volume absorption; none unless asked for
  // The source's amplitude factor 10^(L/20) for each launch, in launch order; empty without a
  // beam pattern (every factor 1).
  std::vector<float> launch_gains;
  // Per frequency, for complex-Q beams; empty for geometric ones.
  std::vector<FanCellSides> fan_cell_sides;
};

// The model of a validated configuration; after it, nothing reads the configuration record. Throws
// Fault on set-up faults (array receiver lists of different lengths, grids that disagree).
Model build_model(const SimulationConfig& config);

}  // namespace abyx
