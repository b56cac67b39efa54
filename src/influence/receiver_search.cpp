#include "influence/receiver_search.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace abyx {

namespace detail {

BearingWindow bearing_window(const SegmentReach& reach, Vec2 o) {
  constexpr float kDegreesPerRadian = 57.29578f;
  constexpr float kSlackDeg = 1e-3f;  // far beyond the rounding of the angles below
  const float ax = reach.start.x - o.x;
  const float ay = reach.start.y - o.y;
  const float dx = reach.length * reach.axis.x;
  const float dy = reach.length * reach.axis.y;
  const float across = reach.radius + 2.0f * reach.margin;
  // the shadow's nearest approach to the origin
  const float length_sq = dx * dx + dy * dy;
  const float t =
      length_sq > 0.0f ? std::clamp(-(ax * dx + ay * dy) / length_sq, 0.0f, 1.0f) : 0.0f;
  const float nearest = std::hypot(ax + t * dx, ay + t * dy);
  if (!(nearest > 2.0f * across)) return {true};
  // bearings turn clockwise from +y: the axis's end lies this far round from its start, less than
  // half a turn, as the axis passes the origin at a distance
  const float bx = ax + dx;
  const float by = ay + dy;
  const float start = std::atan2(ax, ay) * kDegreesPerRadian;
  const float turn = -std::atan2(ax * by - ay * bx, ax * bx + ay * by) * kDegreesPerRadian;
  // a point within `across` of the shadow lies within asin(across / nearest) of its angles
  const float widening = std::asin(across / nearest) * kDegreesPerRadian + kSlackDeg;
  return {false, std::min(start, start + turn) - widening,
          std::max(start, start + turn) + widening};
}

}  // namespace detail

// Gathers the receivers that this segment and the next few of a straight ray can reach, counted
// in steps of step_m (a segment may stand for several steps): the reach's box stretched along its
// axis to kGatherSegments steps from its start, between the planes across its axis from one step
// behind its start to one step beyond the last and near its axis (its radius and some room), and
// sorts them into slices one step thick along the axis. A region that holds no receiver rules out
// every segment inside its box, whatever their direction: it is stretched further while it stays
// empty, and its planes are dropped.
void gather_receivers(const SegmentReach& reach, float step_m, const ReceiverIndex& index,
                      GatheredReceivers& region) {
  constexpr std::size_t kGatherSegments = 16;
  constexpr std::size_t kEmptyStretch = 4;     // an empty region is tried this many times longer...
  constexpr std::size_t kLongestEmpty = 1024;  // ...up to this many segments
  constexpr std::size_t kSlices = kGatherSegments + 2;
  constexpr float kRadiusGrowth = 0.1f;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // beams widen as they go: room for the radius to grow, and for one more step
  const float room = kRadiusGrowth * reach.radius + step_m;
  const auto stretch = [&](std::size_t segments, Vec3& lo, Vec3& hi) {
    const float further = static_cast<float>(segments) * step_m - reach.length;
    const Vec3 ahead = std::max(further, 0.0f) * reach.axis;
    lo = {std::min(reach.lo.x, reach.lo.x + ahead.x) - room,
          std::min(reach.lo.y, reach.lo.y + ahead.y) - room,
          std::min(reach.lo.z, reach.lo.z + ahead.z) - room};
    hi = {std::max(reach.hi.x, reach.hi.x + ahead.x) + room,
          std::max(reach.hi.y, reach.hi.y + ahead.y) + room,
          std::max(reach.hi.z, reach.hi.z + ahead.z) + room};
    Vec3 held_lo = lo;
    Vec3 held_hi = hi;
    return narrow_to_receivers(index, held_lo, held_hi);
  };
  region.valid = true;
  region.start = reach.start;
  region.axis = reach.axis;
  region.slice_start.assign(kSlices + 1, 0);
  if (!stretch(kGatherSegments, region.lo, region.hi)) {
    for (std::size_t segments = kEmptyStretch * kGatherSegments; segments <= kLongestEmpty;
         segments *= kEmptyStretch) {
      Vec3 lo;
      Vec3 hi;
      if (stretch(segments, lo, hi)) break;
      region.lo = lo;
      region.hi = hi;
    }
    region.line_distance = kInf;
    region.s_lo = -kInf;
    region.s_hi = kInf;
    region.slices_per_m = 0.0f;
    region.points.resize(0);
    region.ids.clear();
    return;
  }
  region.s_lo = -step_m - reach.margin;
  region.s_hi =
      std::max(reach.length, static_cast<float>(kGatherSegments) * step_m) + step_m + reach.margin;
  region.slices_per_m = static_cast<float>(kSlices) / (region.s_hi - region.s_lo);

  region.line_distance = reach.radius + room;
  region.unsorted.clear();
  region.slice_of.clear();
  for_each_receiver_near<true>(
      index, region.lo, region.hi, Slab{region.start, region.axis, region.s_lo, region.s_hi},
      region.line_distance * region.line_distance, [&](std::size_t i, Vec3 p) {
        const std::size_t slice = detail::slice_at(region, dot(p - region.start, region.axis));
        region.unsorted.push_back({p, i});
        region.slice_of.push_back(slice);
        ++region.slice_start[slice + 1];
      });
  // a counting sort by slice
  for (std::size_t k = 0; k < kSlices; ++k) {
    region.slice_start[k + 1] += region.slice_start[k];
  }
  region.points.resize(region.unsorted.size());
  region.ids.resize(region.unsorted.size());
  for (std::size_t k = 0; k < region.unsorted.size(); ++k) {
    const std::size_t slot = region.slice_start[region.slice_of[k]]++;
    region.points.set(slot, region.unsorted[k].point);
    region.ids[slot] = region.unsorted[k].id;
  }
  // the scatter moved every start to the next slice's
  for (std::size_t k = kSlices; k > 0; --k) {
    region.slice_start[k] = region.slice_start[k - 1];
  }
  region.slice_start[0] = 0;
}

}  // namespace abyx
