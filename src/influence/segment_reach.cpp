#include "influence/segment_reach.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/float4.h"
#include "common/float4_math.h"

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

SegmentReach segment_reach(Vec3 start, Vec3 d, float radius, float length) {
  SegmentReach reach;
  const Vec3 end = start + d;
  const float scale = std::max(max_abs_component(start), max_abs_component(end)) + radius + length;
  reach.start = start;
  reach.length = length;
  reach.margin = kReachRelativeMargin * scale;
  reach.radius = radius + reach.margin;
  reach.bounded = is_finite(start) && is_finite(end) && std::isfinite(radius) &&
                  std::isfinite(scale) && length > 0.0f && radius >= 0.0f;
  if (!reach.bounded) {
    return reach;
  }
  // lane by lane, as the scalar divisions and roots would round
  const Float4 u = Float4{d.x, d.y, d.z, 1.0f} / broadcast4(length);
  reach.axis = {u[0], u[1], u[2]};

  // a disk of radius r across the unit axis u spans r * sqrt(1 - u_k^2) along axis k
  const Float4 u2 = u * u;
  const Float4 across = Float4{u2[1], u2[0], u2[0], 0.0f} + Float4{u2[2], u2[2], u2[1], 0.0f};
  const Float4 half = broadcast4(reach.radius) * sqrt4(across) + broadcast4(reach.margin);
  reach.lo = {std::min(start.x, end.x) - half[0], std::min(start.y, end.y) - half[1],
              std::min(start.z, end.z) - half[2]};
  reach.hi = {std::max(start.x, end.x) + half[0], std::max(start.y, end.y) + half[1],
              std::max(start.z, end.z) + half[2]};
  return reach;
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
