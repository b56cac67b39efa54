#pragma once

#include "common/float4_math.h"
#include "common/vec3.h"

namespace abyx {

// The columns of Q and P of a ray's solution at one point.
struct DynamicColumns {
  Vec2 q1, q2, p1, p2;
};

// n^T M n for the wavefront curvature M = P Q^-1 and the normal coordinates n = (n1, n2), in T;
// det is det Q. The travel time at the receiver off the ray is tau + n^T M n / 2.
template <class T>
T curvature_term(const DynamicColumns& s, T det, T n1, T n2) {
  const T m11 = (T(s.p1.x) * T(s.q2.y) - T(s.p2.x) * T(s.q1.y)) / det;
  const T m12 = (T(s.p2.x) * T(s.q1.x) - T(s.p1.x) * T(s.q2.x)) / det;
  const T m21 = (T(s.p1.y) * T(s.q2.y) - T(s.p2.y) * T(s.q1.y)) / det;
  const T m22 = (T(s.p2.y) * T(s.q1.x) - T(s.p1.y) * T(s.q2.x)) / det;
  return m11 * n1 * n1 + (m12 + m21) * n1 * n2 + m22 * n2 * n2;
}

// tau + half with half held within +-limit, and never below 0 (a NaN stays one, for the callers'
// checks), lane by lane for a float or a Float4.
template <class L>
L clamped_delay(L tau, L half, L limit) {
  const L zero = lane_splat<L>(0.0f);
  const L bounded = lane_select(half > limit, limit, lane_select(half < -limit, -limit, half));
  const L delay = tau + bounded;
  return lane_select(delay < zero, zero, delay);
}

// The travel time at a receiver off the ray by `distance`, from the time tau of its foot and half
// the curvature term: the term is a parabolic guess, which runs away near caustics and across
// sharp gradients, while no travel time between the foot and the receiver differs from tau by
// more than distance / c_min (the straight line at the slowest speed is never slower than the
// fastest path), and none is negative. Within those bounds the sum is tau + half, as it was.
// (Rounding is monotone, so holding half in float gives the bits of holding it in double.)
template <class T>
float bounded_delay(float tau, T half, float distance, float max_slowness) {
  return clamped_delay<float>(tau, static_cast<float>(half), distance * max_slowness);
}

// The delay a receiver off the ray reports, lane by lane for a float or a Float4, from the time
// tau of its foot, the wavefront's own tau_wave = tau + half and the receiver's squared distance
// from the ray: tau_wave itself where it is not finite or where bounded_delay would leave it (so
// that its rounding stays its own), bounded_delay's value elsewhere.
template <class L>
L reported_delay(L tau, L tau_wave, L distance_sq, float max_slowness) {
  const L slowness = lane_splat<L>(max_slowness);
  const L half = tau_wave - tau;
  const L within = lane_select(
      lane_and(tau_wave >= lane_splat<L>(0.0f), half * half <= distance_sq * (slowness * slowness)),
      tau_wave, clamped_delay(tau, half, lane_sqrt(distance_sq) * slowness));
  return lane_select(lane_finite(tau_wave), within, tau_wave);
}

}  // namespace abyx
