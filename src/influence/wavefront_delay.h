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

}  // namespace abyx
