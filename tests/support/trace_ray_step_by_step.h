#pragma once

#include <vector>

#include "common/ray_state.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "rays/trace_ray.h"

namespace abyx::testing {

// trace_ray without a cut-off, every step through the general loop (no straight runs).
inline void trace_ray_step_by_step(const Launch& launch, const Model& model,
                                   std::vector<RayState>& states) {
  trace_ray(launch, model, nullptr, states, UniformCellSteps::OneByOne);
}

}  // namespace abyx::testing
