#pragma once

#include <optional>
#include <vector>

#include "common/vec3.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"

namespace abyx {

// What one run produces: the ray paths in ray-index order (when asked for) and the merged field.
struct CoreResult {
  std::optional<std::vector<std::vector<Vec3>>> ray_paths;  // one point list per ray
  PressureField field;                                      // merged over all rays
};

// Runs one simulation on a validated configuration on the process-wide worker pool. Faults in
// set-up or in any worker are re-thrown on the calling thread as Fault.
CoreResult core(const SimulationConfig& config);

}  // namespace abyx
