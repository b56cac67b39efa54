#pragma once

#include <algorithm>
#include <cmath>

#include "common/float4.h"
#include "common/float4_math.h"
#include "common/vec3.h"

namespace abyx {

// The margin relative to the size of the coordinates involved: single-precision rounding of the
// receiver tests stays below a few 1e-7 of it, so 1e-4 is a wide safety factor.
inline constexpr float kReachRelativeMargin = 1e-4f;

// The region a beam segment can reach: the points whose foot on the segment's line lies between its
// ends and whose distance from that line is at most the search radius (a cylinder flat-capped at
// both ends). The bounds are widened by a margin far larger than the rounding of the per-receiver
// tests, so every receiver that passes those tests lies inside them; they only serve to skip
// receivers that cannot pass.
struct SegmentReach {
  bool bounded = false;  // false when a value is not finite: the bounds are unusable
  Vec3 lo;               // lower corner of the axis-aligned box around the region (m)
  Vec3 hi;               // upper corner of that box (m)
  Vec3 start;            // segment start (m)
  Vec3 axis;             // unit vector from start towards end
  float length = 0.0f;   // segment length (m)
  float margin = 0.0f;   // widening of every bound (m)
  float radius = 0.0f;   // search radius plus margin (m)
};

// Bounds of the segment from `start` along `d` (m) with search radius `radius` (m).
SegmentReach segment_reach(Vec3 start, Vec3 d, float radius);
// The same for a segment whose length std::sqrt(dot(d, d)) the caller has already worked out;
// defined below, where the beam walk inlines it for each segment it searches.
inline SegmentReach segment_reach(Vec3 start, Vec3 d, float radius, float length);

// An interval of depths (m); empty when lo > hi.
struct DepthInterval {
  float lo = 0.0f;  // shallowest depth (m)
  float hi = 0.0f;  // deepest depth (m)
};

// Depths of the vertical line through (x, y) that lie inside a bounded reach.
DepthInterval reach_depths(const SegmentReach& reach, float x, float y);

inline SegmentReach segment_reach(Vec3 start, Vec3 d, float radius, float length) {
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
  const Float4 half = broadcast4(reach.radius) * lane_sqrt(across) + broadcast4(reach.margin);
  reach.lo = {std::min(start.x, end.x) - half[0], std::min(start.y, end.y) - half[1],
              std::min(start.z, end.z) - half[2]};
  reach.hi = {std::max(start.x, end.x) + half[0], std::max(start.y, end.y) + half[1],
              std::max(start.z, end.z) + half[2]};
  return reach;
}

}  // namespace abyx
