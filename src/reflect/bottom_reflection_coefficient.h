#pragma once

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "common/ray_trace.h"
#include "common/vec3.h"

namespace abyx {

// Plane-wave reflection coefficient of the bottom for an incident slowness (only its direction is
// used) and a normal pointing out of the water (any length); rho_water in g/cm^3, c_water in m/s,
// omega in rad/s (a negative omega gives the conjugate).
Complex32 compute_bottom_reflection_coefficient(const BottomParams& bottom, Vec3 slowness_in,
                                                Vec3 normal, float rho_water, float c_water,
                                                float omega);

// The coefficient at a ray's bottom hit, at angular frequency omega.
inline Complex32 reflection_coefficient(const BottomHit& hit, const BTYfield& bty, float omega) {
  return compute_bottom_reflection_coefficient(bty.bottom, hit.slowness_in, hit.normal,
                                               bty.water_density, hit.c, omega);
}

}  // namespace abyx
