#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/vec3.h"
#include "engine/memory_budget.h"
#include "influence/arrival_table.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"
#include "model/model.h"

namespace abyx {

// What one run produces: the ray paths in ray-index order (when asked for) and the merged field.
struct CoreResult {
  std::optional<std::vector<std::vector<Vec3>>> ray_paths;       // one point list per ray
  PressureField field;                                           // merged over all rays
  std::optional<ArrivalList> arrivals;                           // when asked for
  std::optional<std::vector<std::vector<Vec3>>> eigenray_paths;  // one per arrival, when asked
};

// What a caller on another thread may see of a run and do to it.
struct RunControl {
  std::atomic<bool> cancel{false};           // set: the run stops before its next ray
  std::atomic<std::uint64_t> rays_done{0};   // rays traced so far
  std::atomic<std::uint64_t> rays_total{0};  // set before the first ray
};

// Runs one simulation on a validated configuration on the process-wide worker pool. Faults in
// set-up or in any worker are re-thrown on the calling thread as Fault; sizes that do not fit in
// memory, with the result's own cost per path point, as TooLargeForMemory; a ray or field that
// became non-finite as BeyondPrecision. With `control`, a set cancel stops the run before its next
// ray with Interrupted.
CoreResult core(const SimulationConfig& config, const ResultCosts& result_costs = {},
                RunControl* control = nullptr);

// What a run of a built model may use: the memory, found once before the model was built, and
// the caller's costs and control.
struct RunResources {
  std::uint64_t available_bytes = 0;  // the memory the run may use
  bool side_by_side_fits = false;     // each worker may keep kSideBySideRays rays at once
  ResultCosts result_costs;           // what the caller's result costs per path point and value
  RunControl* control = nullptr;      // may be null
  // what the field takes once the rays are done, in the engine and the result (bytes)
  std::uint64_t field_bytes = 0;
};

// The run of core on a model built from a configuration that passed the memory check.
CoreResult run_model(const Model& model, const RunResources& resources);

}  // namespace abyx
