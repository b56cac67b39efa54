#pragma once

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

// The travel time at a receiver off the ray by `distance`, from the time tau of its foot and half
// the curvature term: the term is a parabolic guess, which runs away near caustics and across
// sharp gradients, while no travel time between the foot and the receiver differs from tau by
// more than distance / c_min (the straight line at the slowest speed is never slower than the
// fastest path), and none is negative. Within those bounds the sum is tau + half, as it was.
template <class T>
float bounded_delay(float tau, T half, float distance, float max_slowness) {
  const T limit = T(distance) * T(max_slowness);
  const T bounded = half > limit ? limit : (half < -limit ? -limit : half);
  const float delay = tau + static_cast<float>(bounded);
  return delay < 0.0f ? 0.0f : delay;  // a NaN stays one, for the callers' checks
}

}  // namespace abyx
