#pragma once

#include <cstddef>
#include <vector>

#include "common/complex32.h"
#include "common/ray_trace.h"
#include "model/model.h"
#include "reflect/boundary_coefficient.h"

namespace abyx {

// The running product of a ray's reflection coefficients (the bottom's, and the surface's under a
// table), one per angular frequency, as its beam is summed from the launch on: a reflection weighs
// every later segment of the beam, not the one ending there. Kept by a worker from ray to ray.
//
// A beam is a bundle of plane waves around its ray's direction, and each reflects with the
// coefficient at its own grazing angle theta. When asked for, the product also keeps, per
// frequency, the sum over the hits of d arg(R) / d theta (a central difference over
// angle_step_rad), by which a beam's plane waves away from its ray are turned in phase.
struct ReflectionProduct {
  std::vector<Complex32> per_frequency;
  std::vector<float> phase_slope;  // (rad per rad); empty unless kept
  float angle_step_rad = 0.0f;
  std::size_t next_hit = 0;          // the first of the ray's bottom hits not weighed yet
  std::size_t next_surface_hit = 0;  // the first of its surface hits not weighed yet
};

// Sets the product to one at every frequency of the model, no hit weighed, and no slopes kept.
void start_reflection_product(const Model& model, ReflectionProduct& product);

// Keeps the phase slopes from now on, from differences over angle_step_rad; at a rigid bottom
// under a pressure-release surface they stay 0 and are not kept.
void keep_reflection_slopes(const Model& model, float angle_step_rad, ReflectionProduct& product);

// Weighs one hit of the boundary into the product (and into the phase slopes, when kept).
void weigh_hit(const BottomHit& hit, Boundary boundary, const Model& model,
               ReflectionProduct& product);

// Weighs into the product every hit the ray made at a state up to and including `state`.
void weigh_hits_through(std::size_t state, const RayTrace& trace, const Model& model,
                        ReflectionProduct& product);

}  // namespace abyx
