#pragma once

#include <vector>

#include "common/ray_state.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "rays/trace_ray.h"

namespace abyx::testing {

// trace_ray with every step through the general loop (no straight runs).
inline void trace_ray_step_by_step(const Launch& launch, const Model& model, RayTrace& trace) {
  trace_ray(launch, model, trace, UniformCellSteps::OneByOne);
}

}  // namespace abyx::testing
