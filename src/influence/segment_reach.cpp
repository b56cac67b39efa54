#include "influence/segment_reach.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace abyx {

namespace {

// Axes more vertical than this (horizontal part squared below 0.01) are not bounded by their
// mantle: the quadratic degenerates there, and their caps bound each column closely anyway.
constexpr float kSmallestHorizontalPartSq = 0.01f;
// Slack on the discriminant of the mantle quadratic, relative to the size of its terms; covers its
// rounding, including near tangent columns.
constexpr float kDiscriminantSlack = 1e-4f;

}  // namespace

SegmentReach segment_reach(Vec3 start, Vec3 d, float radius) {
  return segment_reach(start, d, radius, std::sqrt(dot(d, d)));
}

DepthInterval reach_depths(const SegmentReach& reach, float x, float y) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const Vec3 u = reach.axis;
  const float m = reach.margin;
  const float wx = x - reach.start.x;
  const float wy = y - reach.start.y;
  // distance along the axis of the column's point at the start's depth
  const float p = wx * u.x + wy * u.y;
  float lo = -kInf;  // relative to the start's depth
  float hi = kInf;

  // between the caps: -m <= p + dz * u.z <= length + m
  if (u.z != 0.0f) {
    const float z1 = (-m - p) / u.z;
    const float z2 = (reach.length + m - p) / u.z;
    lo = std::min(z1, z2);
    hi = std::max(z1, z2);
  } else if (p < -m || p > reach.length + m) {
    return {kInf, -kInf};
  }

  // inside the mantle: (ux^2 + uy^2) dz^2 - 2 p u.z dz + (h^2 - p^2 - r^2) <= 0
  const float a = u.x * u.x + u.y * u.y;
  if (a >= kSmallestHorizontalPartSq) {
    const float h2 = wx * wx + wy * wy;
    const float r2 = reach.radius * reach.radius;
    const float b = p * u.z;
    const float c = h2 - p * p - r2;
    const float disc = b * b - a * c + kDiscriminantSlack * (h2 + p * p + r2);
    if (!(disc >= 0.0f)) {
      return {kInf, -kInf};
    }
    const float root = std::sqrt(disc);
    lo = std::max(lo, (b - root) / a);
    hi = std::min(hi, (b + root) / a);
  }
  return {reach.start.z + lo, reach.start.z + hi};
}

}  // namespace abyx
