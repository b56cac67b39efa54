#pragma once

#include <bit>
#include <cstddef>
#include <vector>

#include "common/float4.h"
#include "common/vec3.h"

namespace abyx {

// Points stored coordinate by coordinate, so that four of them are tested at once. Each list has
// kPadding entries more, so that four points can be loaded from the index of any point.
struct PackedPoints {
  static constexpr std::size_t kPadding = 3;
  std::vector<float> x, y, z;  // (m)

  void resize(std::size_t n) {
    x.resize(n + kPadding);
    y.resize(n + kPadding);
    z.resize(n + kPadding);
  }
  void set(std::size_t i, Vec3 p) {
    x[i] = p.x;
    y[i] = p.y;
    z[i] = p.z;
  }
  Vec3 at(std::size_t i) const { return {x[i], y[i], z[i]}; }
};

// The points p with lo <= dot(p - start, axis) <= hi between two parallel planes (m).
struct Slab {
  Vec3 start;    // a point of reference (m)
  Vec3 axis;     // unit normal of the planes
  float lo = 0;  // signed distance of the first plane from start along axis (m)
  float hi = 0;  // signed distance of the second plane (m)
};

// The points inside both a box [lo, hi] and a slab; for the searches that ask, also within a
// distance of the line along the slab's axis through its start.
struct BoxAndSlab {
  Vec3 lo, hi;
  Slab slab;
  float line_distance_sq = 0.0f;  // the square of that distance (m^2), read with kNearLine only
};

// Calls visit(k, bits) for every four points from k on, k = begin, begin + 4, ... below end, that
// hold one inside the box and the slab (and, with kNearLine, near the line): bit j of `bits` set
// where point k + j is, never for points at or past end. Each lane computes and compares exactly
// as the scalar test would (a NaN is never inside), so which points are visited does not depend
// on the grouping.
template <bool kNearLine = false, class Visit>
inline void for_each_lanes_inside(const PackedPoints& points, std::size_t begin, std::size_t end,
                                  const BoxAndSlab& region, Visit&& visit) {
  const Float4 lo_x = broadcast4(region.lo.x), hi_x = broadcast4(region.hi.x);
  const Float4 lo_y = broadcast4(region.lo.y), hi_y = broadcast4(region.hi.y);
  const Float4 lo_z = broadcast4(region.lo.z), hi_z = broadcast4(region.hi.z);
  const Slab& slab = region.slab;
  const Float4 start_x = broadcast4(slab.start.x), axis_x = broadcast4(slab.axis.x);
  const Float4 start_y = broadcast4(slab.start.y), axis_y = broadcast4(slab.axis.y);
  const Float4 start_z = broadcast4(slab.start.z), axis_z = broadcast4(slab.axis.z);
  const Float4 s_lo = broadcast4(slab.lo), s_hi = broadcast4(slab.hi);
  for (std::size_t k = begin; k < end; k += 4) {
    const Float4 x = load_float4(points.x.data() + k);
    const Float4 y = load_float4(points.y.data() + k);
    const Float4 z = load_float4(points.z.data() + k);
    // dot(p - start, axis), summed in x, y, z order
    const Float4 s = (x - start_x) * axis_x + (y - start_y) * axis_y + (z - start_z) * axis_z;
    Int4 inside = (x >= lo_x) & (x <= hi_x) & (y >= lo_y) & (y <= hi_y) & (z >= lo_z) &
                  (z <= hi_z) & (s >= s_lo) & (s <= s_hi);
    if constexpr (kNearLine) {
      // p - start less its part along the axis
      const Float4 across_x = (x - start_x) - s * axis_x;
      const Float4 across_y = (y - start_y) - s * axis_y;
      const Float4 across_z = (z - start_z) - s * axis_z;
      inside &= across_x * across_x + across_y * across_y + across_z * across_z <=
                broadcast4(region.line_distance_sq);
    }
    unsigned bits = lane_bits(inside);
    if (end - k < 4) bits &= (1u << (end - k)) - 1u;  // lanes past the end belong to others
    if (bits != 0) visit(k, bits);
  }
}

// Calls visit(k, point) for every point k in [begin, end) inside the box and the slab (and, with
// kNearLine, near the line), in ascending k.
template <bool kNearLine = false, class Visit>
inline void for_each_point_inside(const PackedPoints& points, std::size_t begin, std::size_t end,
                                  const BoxAndSlab& region, Visit&& visit) {
  for_each_lanes_inside<kNearLine>(points, begin, end, region, [&](std::size_t k, unsigned bits) {
    for (; bits != 0; bits &= bits - 1u) {
      const std::size_t i = k + static_cast<std::size_t>(std::countr_zero(bits));
      visit(i, points.at(i));
    }
  });
}

}  // namespace abyx
