#pragma once

#include <cstddef>
#include <vector>

#include "common/complex32.h"
#include "common/ray_trace.h"
#include "model/model.h"

namespace abyx {

// The running product of a ray's bottom reflection coefficients, one per angular frequency, as
// its beam is summed from the launch on: a bottom reflection weighs every later segment of the
// beam, not the one ending there. Kept by a worker from ray to ray.
struct ReflectionProduct {
  std::vector<Complex32> per_frequency;
  std::size_t next_hit = 0;  // the first of the ray's hits not weighed yet
};

// Sets the product to one at every frequency of the model, no hit weighed.
void start_reflection_product(const Model& model, ReflectionProduct& product);

// Weighs into the product every hit the ray made at a state up to and including `state`.
void weigh_bottom_hits_through(std::size_t state, const BottomHits& bottom_hits, const Model& model,
                               ReflectionProduct& product);

}  // namespace abyx
