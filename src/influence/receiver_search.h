#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "common/axis_cell.h"
#include "common/vec3.h"
#include "influence/pressure_field.h"
#include "influence/segment_reach.h"
#include "model/packed_points.h"
#include "model/receiver_index.h"

namespace abyx {

// An array receiver near a beam: its point and its index.
struct NearReceiver {
  Vec3 point;          // (m)
  std::size_t id = 0;  // index in the field's receiver list
};

// Array receivers gathered from the index for the segments ahead: the reach of the segment that
// gathered them, carried forward along its axis. Segments whose reach lies inside the region reuse
// the list instead of searching the index again, and read only the slices of it along the axis
// that they can reach. A region without receivers is its box alone: its planes lie at infinity.
struct GatheredReceivers {
  bool valid = false;              // false until the first gathering of a ray
  Vec3 lo, hi;                     // box of the region (m)
  Vec3 start, axis;                // the region lies between two planes across this axis...
  float s_lo = 0.0f, s_hi = 0.0f;  // ...at these distances from start along it (m)
  float slices_per_m = 0.0f;       // slices of the region along the axis per metre
  // The region holds only the receivers within this distance (m) of its axis through start;
  // infinite when it holds all of its box.
  float line_distance = std::numeric_limits<float>::infinity();
  PackedPoints points;                   // the receivers inside the region, slice by slice...
  std::vector<std::size_t> ids;          // ...and their indices in the field's receiver list
  std::vector<std::size_t> slice_start;  // first receiver of every slice, then the end
  std::vector<NearReceiver> unsorted;    // working list of the gathering
  std::vector<std::size_t> slice_of;     // working list of the gathering
};

// Gathers the receivers that the segment of this reach and the next few of a straight ray, in
// steps of about step_m (m), can reach into the region.
void gather_receivers(const SegmentReach& reach, float step_m, const ReceiverIndex& index,
                      GatheredReceivers& region);

// The receiver searches of the beam sum below run for every segment and call visit(point, cell)
// for every receiver the segment may reach; they are defined here, where the beam sum inlines them.
namespace detail {

// Half-open index range of an axis.
struct IndexRange {
  std::size_t begin = 0;  // first index
  std::size_t end = 0;    // one past the last index

  bool empty() const { return begin >= end; }
};

inline IndexRange intersect(IndexRange a, IndexRange b) {
  return {std::max(a.begin, b.begin), std::min(a.end, b.end)};
}

// First index in [range) at which before(axis[i]) turns false; bisection, so the axis is taken to
// be ascending (whether or not it is).
template <class Before>
std::size_t bisect(std::span<const float> axis, IndexRange range, Before before) {
  std::size_t lo = range.begin;
  std::size_t hi = range.end;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (before(axis[mid])) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Indices in [range) from the first coordinate >= lo to the last coordinate <= hi.
inline IndexRange axis_range(std::span<const float> axis, IndexRange range, float lo, float hi) {
  const std::size_t first = bisect(axis, range, [lo](float v) { return !(v >= lo); });
  const std::size_t end = bisect(axis, range, [hi](float v) { return v <= hi; });
  return {first, end};
}

// axis_range on a whole ascending axis, starting from where evenly spaced nodes would put lo and
// hi (first node `first`, `per_step` nodes per unit) and walking a few nodes from there; bisection
// when the guess is further off. The guess only saves steps: the walk settles the bounds.
inline IndexRange guessed_axis_range(std::span<const float> axis, float first, float per_step,
                                     float lo, float hi) {
  constexpr std::size_t kLongestWalk = 4;
  const std::size_t n = axis.size();
  const auto guess = [&](float v) {
    const float f = (v - first) * per_step;
    if (!(f > 0.0f)) return std::size_t{0};
    return f >= static_cast<float>(n) ? n : static_cast<std::size_t>(f);
  };
  // the first index whose node is not before(v), from the guess
  const auto walk = [&](std::size_t i, auto before) {
    for (std::size_t steps = 0; steps < kLongestWalk; ++steps) {
      if (i > 0 && !before(axis[i - 1])) {
        --i;
      } else if (i < n && before(axis[i])) {
        ++i;
      } else {
        return i;
      }
    }
    return bisect(axis, {0, n}, before);
  };
  if (!(lo <= hi) || n == 0 || !(per_step > 0.0f && std::isfinite(per_step))) {
    return axis_range(axis, {0, n}, lo, hi);
  }
  const std::size_t begin = walk(guess(lo), [lo](float v) { return !(v >= lo); });
  const std::size_t end = walk(std::min(guess(hi) + 1, n), [hi](float v) { return v <= hi; });
  return {begin, end};
}

// Finite and ascending.
inline bool is_ascending(std::span<const float> axis) {
  for (std::size_t i = 0; i < axis.size(); ++i) {
    if (!std::isfinite(axis[i]) || (i > 0 && axis[i] < axis[i - 1])) {
      return false;
    }
  }
  return true;
}

// The distances (m) along the gathered region's axis, from its start, that the reach's capped
// cylinder can have: those of its axis, widened by radius * sqrt(1 - (a.g)^2) for its disks and
// by margins that cover the rounding of these bounds.
struct AxisSpan {
  float lo = 0.0f;
  float hi = 0.0f;
};

inline AxisSpan reach_span(const SegmentReach& reach, const GatheredReceivers& region) {
  const float along = dot(reach.axis, region.axis);
  const float s_start = dot(reach.start - region.start, region.axis);
  const float s_end = s_start + reach.length * along;
  const float disk = reach.radius * std::sqrt(std::max(0.0f, 1.0f - along * along));
  const float widening = disk + 2.0f * reach.margin;
  return {std::min(s_start, s_end) - widening, std::max(s_start, s_end) + widening};
}

// Whether everything within `reach` (m) of the segment from a to b lies within the distance of
// the region's axis that its receivers were gathered from: both ends close enough, as the distance
// from a line is convex; always for a region that holds all of its box.
inline bool ends_near_axis(const GatheredReceivers& region, Vec3 a, Vec3 b, float reach) {
  if (region.line_distance == std::numeric_limits<float>::infinity()) return true;
  const float room = region.line_distance - reach;
  const auto distance_sq = [&](Vec3 p) {
    const Vec3 offset = p - region.start;
    const Vec3 across = offset - dot(offset, region.axis) * region.axis;
    return dot(across, across);
  };
  return room >= 0.0f && distance_sq(a) <= room * room && distance_sq(b) <= room * room;
}

// Whether everything the reach can touch lies inside the gathered region: its box inside the
// region's box, its span between the region's planes and, for a region near its axis, both ends
// of its axis close enough to the region's that its radius stays near it as well (the distance
// from a line is convex, so the ends bound the whole reach).
inline bool reach_inside(const SegmentReach& reach, const AxisSpan& span,
                         const GatheredReceivers& region) {
  return reach.lo.x >= region.lo.x && reach.lo.y >= region.lo.y && reach.lo.z >= region.lo.z &&
         reach.hi.x <= region.hi.x && reach.hi.y <= region.hi.y && reach.hi.z <= region.hi.z &&
         span.lo >= region.s_lo && span.hi <= region.s_hi &&
         ends_near_axis(region, reach.start, reach.start + reach.length * reach.axis,
                        reach.radius + 2.0f * reach.margin);
}

// The slice of the region that distance s along its axis falls in, clamped; monotone in s.
inline std::size_t slice_at(const GatheredReceivers& region, float s) {
  return clamped_uniform_cell((s - region.s_lo) * region.slices_per_m,
                              region.slice_start.size() - 2);
}

// The angles (deg, as bearings) that the reach's horizontal shadow spans seen from the origin o,
// widened by how far across the shadow reaches; the whole turn when the shadow covers o.
struct BearingWindow {
  bool all = false;
  float lo = 0.0f;  // (deg)
  float hi = 0.0f;  // (deg), lo <= hi < lo + 360
};

BearingWindow bearing_window(const SegmentReach& reach, Vec2 o);

// Calls f(range) for every index range of the ascending bearing axis whose bearings equal an angle
// of the window modulo 360.
template <class F>
void for_each_bearing_range(std::span<const float> bearings, const BearingWindow& window, F&& f) {
  const IndexRange whole{0, bearings.size()};
  if (window.all || !(window.hi - window.lo < 360.0f)) {
    f(whole);
    return;
  }
  // the window's copies a whole number of turns away that meet the axis
  const float first = bearings.front();
  const float last = bearings.back();
  const float turns_lo = std::ceil((first - window.hi) / 360.0f);
  const float turns_hi = std::floor((last - window.lo) / 360.0f);
  if (!(turns_lo <= turns_hi) || turns_hi - turns_lo > 1e6f) {
    f(whole);  // a window or axis beyond single precision's turns: every bearing
    return;
  }
  for (float turn = turns_lo; turn <= turns_hi; turn += 1.0f) {
    const IndexRange range =
        axis_range(bearings, whole, window.lo + 360.0f * turn, window.hi + 360.0f * turn);
    if (!range.empty()) f(range);
  }
}

}  // namespace detail

// The segment a search is about: from start along d (m), with its search radius (m).
struct SearchedSegment {
  Vec3 start;
  Vec3 d;
  float radius = 0.0f;
};

// Where a search looks: the reach it bounds its receivers by, and the segment whose box a grid
// search walks.
struct SearchArea {
  SegmentReach reach;
  SearchedSegment segment;
};

// How a grid search bounds the receivers of a segment.
enum class GridWalk {
  WholeBox,  // every receiver of the box of the search radius around the segment
  Reach,     // only those of that box inside the segment's reach
};

// Narrowed grid searches bisect tighter bounds, which finds a superset of the receivers that pass
// only on axes that are really ascending.
inline GridWalk grid_walk(const PressureField& field) {
  return detail::is_ascending(field.x_m) && detail::is_ascending(field.y_m) &&
                 detail::is_ascending(field.z_m)
             ? GridWalk::Reach
             : GridWalk::WholeBox;
}

// The grid receivers of one segment: the box of the search radius around it, then, walking the
// reach, the box of its reach and for every (ix, iy) column only the depths inside that reach.
template <class Visit>
void visit_grid_receivers(const SearchArea& area, GridWalk walk, const PressureField& field,
                          Visit&& visit) {
  const Vec3 a = area.segment.start;
  const Vec3 d = area.segment.d;
  const float r = area.segment.radius;
  const SegmentReach& reach = area.reach;
  const std::span<const float> xs(field.x_m);
  const std::span<const float> ys(field.y_m);
  const std::span<const float> zs(field.z_m);
  const Vec3 b = a + d;
  detail::IndexRange rx =
      detail::axis_range(xs, {0, xs.size()}, std::min(a.x, b.x) - r, std::max(a.x, b.x) + r);
  detail::IndexRange ry =
      detail::axis_range(ys, {0, ys.size()}, std::min(a.y, b.y) - r, std::max(a.y, b.y) + r);
  detail::IndexRange rz =
      detail::axis_range(zs, {0, zs.size()}, std::min(a.z, b.z) - r, std::max(a.z, b.z) + r);
  if (rx.empty() || ry.empty() || rz.empty()) {
    return;
  }

  if (walk == GridWalk::WholeBox) {
    for (std::size_t ix = rx.begin; ix < rx.end; ++ix) {
      for (std::size_t iy = ry.begin; iy < ry.end; ++iy) {
        const std::size_t column = field.cell_index(ix, iy, 0);
        for (std::size_t iz = rz.begin; iz < rz.end; ++iz) {
          visit(Vec3{xs[ix], ys[iy], zs[iz]}, column + iz);
        }
      }
    }
    return;
  }

  rx = detail::intersect(rx, detail::axis_range(xs, rx, reach.lo.x, reach.hi.x));
  ry = detail::intersect(ry, detail::axis_range(ys, ry, reach.lo.y, reach.hi.y));
  rz = detail::intersect(rz, detail::axis_range(zs, rz, reach.lo.z, reach.hi.z));
  if (rx.empty() || ry.empty() || rz.empty()) {
    return;
  }
  for (std::size_t ix = rx.begin; ix < rx.end; ++ix) {
    for (std::size_t iy = ry.begin; iy < ry.end; ++iy) {
      const DepthInterval depths = reach_depths(reach, xs[ix], ys[iy]);
      if (!(depths.lo <= depths.hi)) {
        continue;
      }
      const detail::IndexRange column_z = detail::axis_range(zs, rz, depths.lo, depths.hi);
      const std::size_t column = field.cell_index(ix, iy, 0);
      for (std::size_t iz = column_z.begin; iz < column_z.end; ++iz) {
        visit(Vec3{xs[ix], ys[iy], zs[iz]}, column + iz);
      }
    }
  }
}

// Up to this many bearings are tested one by one faster than a window of them is worked out.
inline constexpr std::size_t kWindowedBearings = 16;

namespace detail {

// How far a segment from a to b with search radius `radius` may reach (m), without working out its
// reach: the radius plus four margins, where the reach's own bounds add at most three. NaN when an
// end is not finite (std::min and std::max would drop a NaN coordinate), so that every comparison
// with it fails.
inline float loose_reach(Vec3 a, Vec3 b, float radius) {
  constexpr float kLooseMargin = 4.0f * kReachRelativeMargin;
  if (!is_finite(a) || !is_finite(b)) return std::numeric_limits<float>::quiet_NaN();
  const Vec3 d = b - a;
  const float size = std::max(max_abs_component(a), max_abs_component(b)) + radius +
                     std::fabs(d.x) + std::fabs(d.y) + std::fabs(d.z);
  return radius + kLooseMargin * size;
}

}  // namespace detail

// Whether a segment from a to b with search radius `radius` passes too far to one side of every
// bearing line of a polar layout to reach a receiver, so that its search would find nothing.
// Layouts with a window of bearings are not tested: one by one would cost more than the search.
inline bool polar_rules_out(const PressureField& field, Vec3 a, Vec3 b, float radius) {
  if (field.polar_directions.size() > kWindowedBearings || !(radius >= 0.0f)) return false;
  const float e = detail::loose_reach(a, b, radius);
  const float ax = a.x - field.polar_source.x;
  const float ay = a.y - field.polar_source.y;
  const float bx = b.x - field.polar_source.x;
  const float by = b.y - field.polar_source.y;
  for (const Vec2 w : field.polar_directions) {
    const float side_a = ax * w.y - ay * w.x;
    const float side_b = bx * w.y - by * w.x;
    if (!(std::min(side_a, side_b) - e > 0.0f || std::max(side_a, side_b) + e < 0.0f)) {
      return false;
    }
  }
  return true;
}

namespace detail {

// What the search of one bounded segment among polar receivers holds fixed: the field's axes and
// points, the reach, the ends of the reach's axis from the source (a, b), how far across the
// shadow reaches, the slab between the end planes widened twice by the margin, and the depths
// inside the reach.
struct PolarSearch {
  // below this horizontal share of the axis along a bearing, the slab between the reach's end
  // planes does not bound the ranges usefully
  static constexpr float kAlongBearing = 0.05f;

  std::span<const float> ranges, depths;
  std::size_t nb = 0, nz = 0;
  const Vec3* points = nullptr;
  const SegmentReach& reach;
  float ax = 0.0f, ay = 0.0f, bx = 0.0f, by = 0.0f;
  float across = 0.0f;
  float s_lo = 0.0f, s_hi = 0.0f;
  IndexRange rz;
  float ranges_per_m = 0.0f;

  PolarSearch(const SegmentReach& reach_, const PressureField& field)
      : ranges(field.x_m),
        depths(field.z_m),
        nb(field.y_m.size()),
        nz(field.z_m.size()),
        points(field.receiver_positions_m->data()),
        reach(reach_) {
    const Vec2 o{field.polar_source.x, field.polar_source.y};
    const Vec3 u = reach.axis;
    ax = reach.start.x - o.x;
    ay = reach.start.y - o.y;
    bx = ax + reach.length * u.x;
    by = ay + reach.length * u.y;
    across = reach.radius + reach.margin;
    s_lo = -2.0f * reach.margin;
    s_hi = reach.length + 2.0f * reach.margin;
    rz = axis_range(depths, {0, nz}, reach.lo.z, reach.hi.z);
    ranges_per_m = ranges.size() > 1
                       ? static_cast<float>(ranges.size() - 1) / (ranges.back() - ranges.front())
                       : 0.0f;
  }

  // The receiver at range index i, bearing j and depth index k, when it lies in the box and the
  // slab.
  template <class Visit>
  void visit_receiver(std::size_t i, std::size_t j, std::size_t k, Visit& visit) const {
    const Vec3 u = reach.axis;
    const std::size_t column = (i * nb + j) * nz;
    const Vec3 p = points[column];
    if (!(p.x >= reach.lo.x && p.x <= reach.hi.x && p.y >= reach.lo.y && p.y <= reach.hi.y)) {
      return;
    }
    const float column_along = (p.x - reach.start.x) * u.x + (p.y - reach.start.y) * u.y;
    const float s = column_along + (depths[k] - reach.start.z) * u.z;
    if (s >= s_lo && s <= s_hi) visit(points[column + k], column + k);
  }

  // The receivers of bearing j whose direction is w.
  template <class Visit>
  void visit_bearing(std::size_t j, Vec2 w, Visit& visit) const {
    const Vec3 u = reach.axis;
    const float side_a = ax * w.y - ay * w.x;
    const float side_b = bx * w.y - by * w.x;
    if (std::min(side_a, side_b) > across || std::max(side_a, side_b) < -across) return;
    const float along_a = ax * w.x + ay * w.y;
    const float along_b = bx * w.x + by * w.y;
    const float lo = std::min(along_a, along_b) - across;
    const float hi = std::max(along_a, along_b) + across;
    // the receiver at range rho and depth z lies rho * share - start_along + (z - start.z) u.z
    // along the axis from its start
    const float share = w.x * u.x + w.y * u.y;
    const float start_along = ax * u.x + ay * u.y;
    if (std::fabs(share) >= kAlongBearing) {
      // Depth by depth, the slab holds the ranges of a window about length / share long: a steep
      // segment crosses every depth of its box, but each at a few ranges only. The slack holds the
      // rounding of the inverse many times over.
      const float per_share = 1.0f / share;
      const float slack = reach.margin * std::fabs(per_share);
      for (std::size_t k = rz.begin; k < rz.end; ++k) {
        const float depth_along = (depths[k] - reach.start.z) * u.z;
        const float r1 = (s_lo + start_along - depth_along) * per_share;
        const float r2 = (s_hi + start_along - depth_along) * per_share;
        const IndexRange rr = guessed_axis_range(ranges, ranges.front(), ranges_per_m,
                                                 std::max(lo, std::min(r1, r2) - slack),
                                                 std::min(hi, std::max(r1, r2) + slack));
        for (std::size_t i = rr.begin; i < rr.end; ++i) visit_receiver(i, j, k, visit);
      }
      return;
    }
    const IndexRange rr = guessed_axis_range(ranges, ranges.front(), ranges_per_m, lo, hi);
    for (std::size_t i = rr.begin; i < rr.end; ++i) {
      for (std::size_t k = rz.begin; k < rz.end; ++k) visit_receiver(i, j, k, visit);
    }
  }
};

}  // namespace detail

// The polar receivers of one bounded segment: on the bearings within the angles its reach spans
// from the source, at the ranges where the bearing's line passes within the reach's horizontal
// shadow, and there at the depths inside the reach. It visits every receiver the reach holds, each
// as the point the field stores, so a polar layout sums what the same points as an array sum.
template <class Visit>
void visit_polar_receivers(const SegmentReach& reach, const PressureField& field, Visit&& visit) {
  const std::span<const float> bearings(field.y_m);
  if (field.x_m.empty() || bearings.empty() || field.z_m.empty()) return;
  const detail::PolarSearch search(reach, field);
  if (search.rz.empty()) return;
  const Vec2 o{field.polar_source.x, field.polar_source.y};
  const detail::BearingWindow window = bearings.size() > kWindowedBearings
                                           ? detail::bearing_window(reach, o)
                                           : detail::BearingWindow{true};
  const std::span<const Vec2> directions(field.polar_directions);
  detail::for_each_bearing_range(bearings, window, [&](detail::IndexRange range) {
    for (std::size_t j = range.begin; j < range.end; ++j) {
      search.visit_bearing(j, directions[j], visit);
    }
  });
}

// Every array receiver of one segment.
template <class Visit>
void visit_all_array_receivers(std::span<const Vec3> points, Visit&& visit) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    visit(points[i], i);
  }
}

// Whether the gathered region holds no receiver and covers all that a segment from a to b with
// search radius `radius` can reach, so that its search would find nothing and gather nothing
// anew. The test bounds the segment by a box, a span and the distance from the region's axis,
// each widened by its loose reach.
inline bool region_rules_out(const GatheredReceivers& region, Vec3 a, Vec3 b, float radius) {
  if (!region.valid || !region.ids.empty() || !(radius >= 0.0f)) return false;
  const float e = detail::loose_reach(a, b, radius);
  const float s_a = dot(a - region.start, region.axis);
  const float s_b = dot(b - region.start, region.axis);
  // false for any NaN
  return std::min(a.x, b.x) - e >= region.lo.x && std::min(a.y, b.y) - e >= region.lo.y &&
         std::min(a.z, b.z) - e >= region.lo.z && std::max(a.x, b.x) + e <= region.hi.x &&
         std::max(a.y, b.y) + e <= region.hi.y && std::max(a.z, b.z) + e <= region.hi.z &&
         std::min(s_a, s_b) - e >= region.s_lo && std::max(s_a, s_b) + e <= region.s_hi &&
         detail::ends_near_axis(region, a, b, e);
}

// The slab between a reach's end planes, each moved out by its margin.
inline Slab reach_slab(const SegmentReach& reach) {
  return {reach.start, reach.axis, -reach.margin, reach.length + reach.margin};
}

// Calls visit(grid, k, bits) for the indexed receivers inside the reach's box and slab and within
// sqrt(line_distance_sq) (m) of its axis, four at a time (or eight, as Visits says), as
// for_each_receiver_lanes_near gives them: a search for one reach alone, without a gathered region.
template <class Visits = Float4, class Visit>
void for_each_receiver_lanes_in_reach(const ReceiverIndex& index, const SegmentReach& reach,
                                      float line_distance_sq, Visit&& visit) {
  for_each_receiver_lanes_near<true, Visits>(index, reach.lo, reach.hi, reach_slab(reach),
                                             line_distance_sq, visit);
}

// The array receivers of one bounded segment, found through the index: those of the gathered
// slices the reach spans that lie inside its box and the slab between its end planes, the list
// gathered again first when the reach leaves its region. A reach that no later one would share
// (as alone() tells) asks the index for its own cylinder instead. They come four at a time, as
// for_each_lanes_inside gives them: visit(points, ids, k, bits) for the points k + j of the bits
// j, whose indices in the field's list are ids[k + j].
template <class Alone, class Visit>
void visit_indexed_array_lanes(const SegmentReach& reach, float step_m, Alone&& alone,
                               const ReceiverIndex& index, GatheredReceivers& region,
                               Visit&& visit) {
  detail::AxisSpan span;
  if (region.valid) {
    span = detail::reach_span(reach, region);
  }
  if (!region.valid || !detail::reach_inside(reach, span, region)) {
    if (alone()) {
      const float line_distance = reach.radius + 2.0f * reach.margin;
      for_each_receiver_lanes_in_reach(
          index, reach, line_distance * line_distance,
          [&visit](const ReceiverGrid& grid, std::size_t k, unsigned bits) {
            visit(grid.points, grid.receivers, k, bits);
          });
      return;
    }
    gather_receivers(reach, step_m, index, region);
    span = detail::reach_span(reach, region);
  }
  const BoxAndSlab bounds{reach.lo, reach.hi, reach_slab(reach)};
  const std::size_t begin = region.slice_start[detail::slice_at(region, span.lo)];
  const std::size_t end = region.slice_start[detail::slice_at(region, span.hi) + 1];
  for_each_lanes_inside(region.points, begin, end, bounds, [&](std::size_t k, unsigned bits) {
    visit(region.points, region.ids, k, bits);
  });
}

// The receivers of a search area, by the field's layout: the one dispatch of both beam sums. A
// reach without bounds takes every array receiver, or the grid's box around the segment. Array
// receivers of a bounded reach come through visit_indexed(), as each sum asks the index.
template <class Visit, class VisitIndexed>
void visit_receivers(const PressureField& field, const SearchArea& area, GridWalk walk,
                     Visit&& visit, VisitIndexed&& visit_indexed) {
  const SegmentReach& reach = area.reach;
  if (reach.bounded && field.layout == ReceiverLayout::Polar) {
    visit_polar_receivers(reach, field, visit);
  } else if (reach.bounded && field.has_points()) {
    visit_indexed();
  } else if (field.has_points()) {
    visit_all_array_receivers(*field.receiver_positions_m, visit);
  } else {
    visit_grid_receivers(area, reach.bounded ? walk : GridWalk::WholeBox, field, visit);
  }
}

}  // namespace abyx
