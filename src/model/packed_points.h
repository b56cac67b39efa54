#pragma once

#include <cstddef>
#include <vector>

#include "common/float4.h"
#include "common/vec3.h"

namespace abyx {

// Points stored coordinate by coordinate, so that four or eight of them are tested at once. Each
// list has kPadding entries more, so that eight points can be loaded from the index of any point.
struct PackedPoints {
  static constexpr std::size_t kPadding = 7;
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

// A box and a slab (and the distance from the slab's axis) in four lanes, set once for the many
// runs of points that one search tests.
struct LaneRegion {
  Float4 lo_x, hi_x, lo_y, hi_y, lo_z, hi_z;
  Float4 start_x, start_y, start_z, axis_x, axis_y, axis_z;
  Float4 s_lo, s_hi, line_distance_sq;

  explicit LaneRegion(const BoxAndSlab& r)
      : lo_x(broadcast4(r.lo.x)),
        hi_x(broadcast4(r.hi.x)),
        lo_y(broadcast4(r.lo.y)),
        hi_y(broadcast4(r.hi.y)),
        lo_z(broadcast4(r.lo.z)),
        hi_z(broadcast4(r.hi.z)),
        start_x(broadcast4(r.slab.start.x)),
        start_y(broadcast4(r.slab.start.y)),
        start_z(broadcast4(r.slab.start.z)),
        axis_x(broadcast4(r.slab.axis.x)),
        axis_y(broadcast4(r.slab.axis.y)),
        axis_z(broadcast4(r.slab.axis.z)),
        s_lo(broadcast4(r.slab.lo)),
        s_hi(broadcast4(r.slab.hi)),
        line_distance_sq(broadcast4(r.line_distance_sq)) {}
};

namespace detail {

// The region's value in every lane of V.
template <class V>
inline V region_lanes(Float4 v) {
  if constexpr (kLanesOf<V> == 4) {
    return v;
  } else {
    return __builtin_shufflevector(v, v, 0, 1, 2, 3, 0, 1, 2, 3);
  }
}

// The lanes of the points from k on that lie inside the box and the slab (and, with kNearLine,
// near the line).
template <bool kNearLine, class V>
inline MaskOf<V> lanes_inside(const PackedPoints& points, std::size_t k, const LaneRegion& r) {
  const auto at = [](Float4 v) { return region_lanes<V>(v); };
  const V x = load_lanes<V>(points.x.data() + k);
  const V y = load_lanes<V>(points.y.data() + k);
  const V z = load_lanes<V>(points.z.data() + k);
  // dot(p - start, axis), summed in x, y, z order
  const V s = (x - at(r.start_x)) * at(r.axis_x) + (y - at(r.start_y)) * at(r.axis_y) +
              (z - at(r.start_z)) * at(r.axis_z);
  MaskOf<V> inside = (x >= at(r.lo_x)) & (x <= at(r.hi_x)) & (y >= at(r.lo_y)) & (y <= at(r.hi_y)) &
                     (z >= at(r.lo_z)) & (z <= at(r.hi_z)) & (s >= at(r.s_lo)) & (s <= at(r.s_hi));
  if constexpr (kNearLine) {
    // p - start less its part along the axis
    const V across_x = (x - at(r.start_x)) - s * at(r.axis_x);
    const V across_y = (y - at(r.start_y)) - s * at(r.axis_y);
    const V across_z = (z - at(r.start_z)) - s * at(r.axis_z);
    inside &=
        across_x * across_x + across_y * across_y + across_z * across_z <= at(r.line_distance_sq);
  }
  return inside;
}

}  // namespace detail

// Calls visit(k, bits) for every four points from k on, k = begin, begin + 4, ... below end, that
// hold one inside the box and the slab (and, with kNearLine, near the line): bit j of `bits` set
// where point k + j is, never for points at or past end. Each lane computes and compares exactly
// as the scalar test would (a NaN is never inside), so which points are visited does not depend
// on the grouping. With AVX, eight points are tested at once and visited as two fours, or, where
// the visits take Float8 lanes, as one eight (the last points of a run still come as fours).
template <bool kNearLine = false, class Visits = Float4, class Visit>
inline void for_each_lanes_inside(const PackedPoints& points, std::size_t begin, std::size_t end,
                                  const LaneRegion& r, Visit&& visit) {
  std::size_t k = begin;
#if defined(__AVX__)
  for (; k < end && end - k >= 8; k += 8) {
    const unsigned bits = lane_bits(detail::lanes_inside<kNearLine, Float8>(points, k, r));
    if constexpr (kLanesOf<Visits> == 8) {
      if (bits != 0) visit(k, bits);
    } else {
      if ((bits & 0xFu) != 0) visit(k, bits & 0xFu);
      if ((bits >> 4) != 0) visit(k + 4, bits >> 4);
    }
  }
#endif
  for (; k < end; k += 4) {
    unsigned bits = lane_bits(detail::lanes_inside<kNearLine, Float4>(points, k, r));
    if (end - k < 4) bits &= (1u << (end - k)) - 1u;  // lanes past the end belong to others
    if (bits != 0) visit(k, bits);
  }
}

template <bool kNearLine = false, class Visit>
inline void for_each_lanes_inside(const PackedPoints& points, std::size_t begin, std::size_t end,
                                  const BoxAndSlab& region, Visit&& visit) {
  for_each_lanes_inside<kNearLine>(points, begin, end, LaneRegion(region), visit);
}

}  // namespace abyx
