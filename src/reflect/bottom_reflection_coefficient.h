#pragma once

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "common/ray_trace.h"
#include "common/vec3.h"

namespace abyx {

// Plane-wave reflection coefficient of the bottom at a hit: its incident slowness (only its
// direction is used), its normal pointing out of the water (any length) and the water's sound
// speed there (m/s); rho_water in g/cm^3, omega in rad/s (a negative omega gives the conjugate).
Complex32 compute_bottom_reflection_coefficient(const BottomParams& bottom, const BottomHit& hit,
                                                float rho_water, float omega);

// The coefficient at a ray's bottom hit, at angular frequency omega.
inline Complex32 reflection_coefficient(const BottomHit& hit, const BTYfield& bty, float omega) {
  return compute_bottom_reflection_coefficient(bty.bottom, hit, bty.water_density, omega);
}

}  // namespace abyx
