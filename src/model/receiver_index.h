#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "common/axis_cell.h"
#include "common/vec3.h"
#include "model/packed_points.h"

namespace abyx {

// Array receivers sorted into a uniform grid of cells over their bounding box. Receivers with a
// coordinate that is not finite are left out: no beam segment can reach them.
struct ReceiverGrid {
  Vec3 origin;                          // lower corner of the bounding box (m)
  Vec3 upper;                           // upper corner of the bounding box (m)
  std::array<float, 3> cells_per_m{};   // inverse cell size per axis (1/m); 0 on a flat axis
  std::array<std::size_t, 3> counts{};  // cells along x, y, z
  std::vector<std::size_t> cell_start;  // offset of each cell's receivers in `receivers`, plus end
  std::vector<std::size_t> receivers;   // receiver indices grouped by cell, ascending in a cell
  PackedPoints points;                  // their points (m), in the same order

  // flat index of cell (ix, iy, iz)
  std::size_t cell(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return (ix * counts[1] + iy) * counts[2] + iz;
  }
  // cell coordinate along `axis` of coordinate v (m), clamped to the grid; monotone in v, so a
  // point between two coordinates lies in a cell between theirs
  std::size_t cell_coordinate(std::size_t axis, float v) const {
    return clamped_uniform_cell((v - origin[axis]) * cells_per_m[axis], counts[axis] - 1);
  }
};

// The same receivers in grids of ever finer cells, each halving the cells of the one before, so
// that the receivers near a beam segment are found without visiting all of them: a wide beam
// walks few coarse cells, a narrow one few fine cells.
struct ReceiverIndex {
  std::vector<ReceiverGrid> levels;  // coarsest first; empty when no receiver is finite
  std::size_t point_count = 0;       // points indexed, the left-out ones included
  // Receivers of the coarsest grid's cells [0, ix) x [0, iy) x [0, iz) at ((ix * (ny + 1) + iy) *
  // (nz + 1) + iz): any box of cells is counted in eight reads, so that the many searches that
  // find nothing skip the walk. Empty when the counts would not fit.
  std::vector<std::uint32_t> cells_below;
};

// Indexes the points: the coarsest grid has about one cell per receiver of the bounding box, the
// finest about two receivers per occupied cell (receivers on lines or surfaces leave most cells of
// their box empty).
ReceiverIndex build_receiver_index(std::span<const Vec3> points);

namespace detail {

// The interval (m) along `axis` of the receivers of cell i on that axis, a little wider than the
// cell so that rounding in the cell coordinates cannot leave a receiver outside; the edge cells
// are open.
inline void axis_cell_bounds(const ReceiverGrid& index, std::size_t axis, std::size_t i, float& v0,
                             float& v1) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kWidening = 0.01f;  // of a cell
  const float per_m = index.cells_per_m[axis];
  v0 = -kInf;
  v1 = kInf;
  if (!(per_m > 0.0f)) {
    return;
  }
  if (i > 0) {
    v0 = index.origin[axis] + (static_cast<float>(i) - kWidening) / per_m;
  }
  if (i + 1 < index.counts[axis]) {
    v1 = index.origin[axis] + (static_cast<float>(i + 1) + kWidening) / per_m;
  }
}

// The smallest and largest of a * v over v in [v0, v1].
inline void linear_range(float a, float v0, float v1, float& lo, float& hi) {
  const float p = a * v0;
  const float q = a * v1;
  lo = std::min(p, q);
  hi = std::max(p, q);
}

// The points [run.first, run.second) of a walk, tested as for_each_lanes_inside tests them; kept
// out of line, as a walk tests its runs from two places.
template <bool kNearLine, class Visits, class Visit>
[[gnu::noinline]] void test_run(const PackedPoints& points, std::pair<std::size_t, std::size_t> run,
                                const LaneRegion& region, Visit& visit) {
  for_each_lanes_inside<kNearLine, Visits>(points, run.first, run.second, region, visit);
}

// Calls visit(k, bits) for the grid's receivers inside the box [lo, hi] (m, finite, inside the
// grid's bounding box) and the slab (finite, unit axis) four at a time, as for_each_lanes_inside
// gives them from grid.points, each receiver once and in ascending k. Rows of cells are walked
// across the horizontal axis along which the slab's normal leans least, and in each row only the
// cells along the other axis that the slab can cross over the row and the box's depths: dividing
// by the larger component keeps those runs short.
template <bool kNearLine, class Visits, class Visit>
void for_each_grid_lanes_near(const ReceiverGrid& grid, Vec3 lo, Vec3 hi, const Slab& slab,
                              float line_distance_sq, Visit&& visit) {
  const Vec3 u = slab.axis;
  // rows follow axis `outer`, the runs inside a row axis `inner`
  const std::size_t outer = std::fabs(u.x) <= std::fabs(u.y) ? 0 : 1;
  const std::size_t inner = 1 - outer;
  const float u_outer = u[outer];
  const float u_inner = u[inner];
  const float start_outer = slab.start[outer];
  const float start_inner = slab.start[inner];
  const std::size_t o0 = grid.cell_coordinate(outer, lo[outer]);
  const std::size_t o1 = grid.cell_coordinate(outer, hi[outer]);
  const std::size_t i0 = grid.cell_coordinate(inner, lo[inner]);
  const std::size_t i1 = grid.cell_coordinate(inner, hi[inner]);
  const std::size_t z0 = grid.cell_coordinate(2, lo.z);
  const std::size_t z1 = grid.cell_coordinate(2, hi.z);
  float z_lo = 0.0f;
  float z_hi = 0.0f;
  detail::linear_range(u.z, lo.z - slab.start.z, hi.z - slab.start.z, z_lo, z_hi);
  // Near the line, a receiver also lies within its distance of the vertical plane through the
  // line, whose horizontal normal n is square to the axis: a second slab, which keeps the runs of
  // an oblique line to its own band of cells where the box is much wider than the band (a short
  // search gains too little to pay for it). Widened for the rounding of both tests.
  constexpr float kBandsPerBox = 8.0f;
  float n_outer = 0.0f;
  float n_inner = 0.0f;
  float band = std::numeric_limits<float>::infinity();
  if constexpr (kNearLine) {
    const float horizontal = std::sqrt(u.x * u.x + u.y * u.y);
    const float widest = std::max(hi.x - lo.x, hi.y - lo.y);
    if (horizontal > 1e-3f && widest * widest > kBandsPerBox * kBandsPerBox * line_distance_sq) {
      const Vec3 n{-u.y / horizontal, u.x / horizontal, 0.0f};
      n_outer = n[outer];
      n_inner = n[inner];
      const float scale = std::fabs(slab.start.x) + std::fabs(slab.start.y) +
                          std::fabs(hi.x - lo.x) + std::fabs(hi.y - lo.y);
      band = std::sqrt(line_distance_sq) * 1.001f + 1e-4f * scale;
    }
  }
  // the column (ix, iy) of a row and a run position
  const LaneRegion region(BoxAndSlab{lo, hi, slab, line_distance_sq});
  const std::size_t outer_step = outer == 0 ? grid.counts[1] * grid.counts[2] : grid.counts[2];
  const std::size_t inner_step = outer == 0 ? grid.counts[2] : grid.counts[1] * grid.counts[2];
  // the receivers [run_begin, run_end) of the columns walked since the last test, in their order
  std::size_t run_begin = 0;
  std::size_t run_end = 0;
  for (std::size_t io = o0; io <= o1; ++io) {
    float row_lo = 0.0f;
    float row_hi = 0.0f;
    detail::axis_cell_bounds(grid, outer, io, row_lo, row_hi);
    row_lo = std::max(row_lo, lo[outer]);
    row_hi = std::min(row_hi, hi[outer]);
    // the slab distance without its inner part, over the row and the box's depths
    float part_lo = 0.0f;
    float part_hi = 0.0f;
    detail::linear_range(u_outer, row_lo - start_outer, row_hi - start_outer, part_lo, part_hi);
    const float rest_lo = part_lo + z_lo;
    const float rest_hi = part_hi + z_hi;
    float run_lo = lo[inner];
    float run_hi = hi[inner];
    if (u_inner != 0.0f) {
      const float a = start_inner + (slab.lo - rest_hi) / u_inner;
      const float b = start_inner + (slab.hi - rest_lo) / u_inner;
      run_lo = std::max(run_lo, std::min(a, b));
      run_hi = std::min(run_hi, std::max(a, b));
    } else if (rest_hi < slab.lo || rest_lo > slab.hi) {
      continue;
    }
    if (band < std::numeric_limits<float>::infinity()) {
      float side_lo = 0.0f;
      float side_hi = 0.0f;
      detail::linear_range(n_outer, row_lo - start_outer, row_hi - start_outer, side_lo, side_hi);
      if (n_inner != 0.0f) {
        const float a = start_inner + (-band - side_hi) / n_inner;
        const float b = start_inner + (band - side_lo) / n_inner;
        run_lo = std::max(run_lo, std::min(a, b));
        run_hi = std::min(run_hi, std::max(a, b));
      } else if (side_hi < -band || side_lo > band) {
        continue;
      }
    }
    if (!(run_lo <= run_hi)) {
      continue;
    }
    const std::size_t first = std::max(i0, grid.cell_coordinate(inner, run_lo));
    const std::size_t last = std::min(i1, grid.cell_coordinate(inner, run_hi));
    for (std::size_t ii = first; ii <= last; ++ii) {
      // the cells of one column are adjacent, so their receivers are one run; so are those of the
      // next column when nothing lies between, as with the empty cells between sparse receivers
      const std::size_t column = io * outer_step + ii * inner_step;
      const std::size_t begin = grid.cell_start[column + z0];
      if (begin != run_end) {
        test_run<kNearLine, Visits>(grid.points, {run_begin, run_end}, region, visit);
        run_begin = begin;
      }
      run_end = grid.cell_start[column + z1 + 1];
    }
  }
  test_run<kNearLine, Visits>(grid.points, {run_begin, run_end}, region, visit);
}

// Whether the coarsest grid's cells that the box [lo, hi] (m, inside the grid's bounding box) spans
// hold a receiver; true when there is no table to count them.
inline bool cells_hold_receivers(const ReceiverIndex& index, Vec3 lo, Vec3 hi) {
  if (index.cells_below.empty()) return true;
  const ReceiverGrid& grid = index.levels.front();
  const std::size_t x0 = grid.cell_coordinate(0, lo.x), x1 = grid.cell_coordinate(0, hi.x) + 1;
  const std::size_t y0 = grid.cell_coordinate(1, lo.y), y1 = grid.cell_coordinate(1, hi.y) + 1;
  const std::size_t z0 = grid.cell_coordinate(2, lo.z), z1 = grid.cell_coordinate(2, hi.z) + 1;
  const std::size_t ny = grid.counts[1] + 1;
  const std::size_t nz = grid.counts[2] + 1;
  const auto below = [&](std::size_t ix, std::size_t iy, std::size_t iz) {
    return index.cells_below[(ix * ny + iy) * nz + iz];
  };
  // inclusion and exclusion, in unsigned arithmetic that wraps back to the box's count
  const std::uint32_t count = below(x1, y1, z1) - below(x0, y1, z1) - below(x1, y0, z1) -
                              below(x1, y1, z0) + below(x0, y0, z1) + below(x0, y1, z0) +
                              below(x1, y0, z0) - below(x0, y0, z0);
  return count != 0;
}

}  // namespace detail

// Narrows the box [lo, hi] (m) to the bounding box of the indexed receivers, which bounds the walks
// tightly; false when it then holds none for certain.
inline bool narrow_to_receivers(const ReceiverIndex& index, Vec3& lo, Vec3& hi) {
  if (index.levels.empty()) {
    return false;
  }
  const ReceiverGrid& coarsest = index.levels.front();
  const Vec3 narrow_lo{std::max(lo.x, coarsest.origin.x), std::max(lo.y, coarsest.origin.y),
                       std::max(lo.z, coarsest.origin.z)};
  const Vec3 narrow_hi{std::min(hi.x, coarsest.upper.x), std::min(hi.y, coarsest.upper.y),
                       std::min(hi.z, coarsest.upper.z)};
  lo = narrow_lo;
  hi = narrow_hi;
  return lo.x <= hi.x && lo.y <= hi.y && lo.z <= hi.z &&
         detail::cells_hold_receivers(index, lo, hi);
}

// Calls visit(grid, k, bits) for the indexed receivers inside the box [lo, hi] (m, finite) and the
// slab (finite, unit axis) four at a time (or eight, as Visits says), as for_each_grid_lanes_near
// gives them from the grid it searches: the finest where the box covers few columns. With
// kNearLine, only those within sqrt(line_distance_sq) of the slab's axis through its start.
template <bool kNearLine = false, class Visits = Float4, class Visit>
void for_each_receiver_lanes_near(const ReceiverIndex& index, Vec3 lo, Vec3 hi, const Slab& slab,
                                  float line_distance_sq, Visit&& visit) {
  // each column walked costs about as much as a few receivers tested
  constexpr std::size_t kMostColumns = 4;
  if (!narrow_to_receivers(index, lo, hi)) {
    return;
  }
  std::size_t level = index.levels.size() - 1;
  for (; level > 0; --level) {
    const ReceiverGrid& grid = index.levels[level];
    const std::size_t columns =
        (grid.cell_coordinate(0, hi.x) - grid.cell_coordinate(0, lo.x) + 1) *
        (grid.cell_coordinate(1, hi.y) - grid.cell_coordinate(1, lo.y) + 1);
    if (columns <= kMostColumns) {
      break;
    }
  }
  const ReceiverGrid& grid = index.levels[level];
  detail::for_each_grid_lanes_near<kNearLine, Visits>(
      grid, lo, hi, slab, line_distance_sq,
      [&grid, &visit](std::size_t k, unsigned bits) { visit(grid, k, bits); });
}

// Calls visit(i, point) once for every indexed receiver i inside the box [lo, hi] (m, finite) and
// the slab (finite, unit axis), as for_each_receiver_lanes_near finds them.
template <bool kNearLine = false, class Visit>
void for_each_receiver_near(const ReceiverIndex& index, Vec3 lo, Vec3 hi, const Slab& slab,
                            float line_distance_sq, Visit&& visit) {
  for_each_receiver_lanes_near<kNearLine>(
      index, lo, hi, slab, line_distance_sq,
      [&visit](const ReceiverGrid& grid, std::size_t k, unsigned bits) {
        for (; bits != 0; bits &= bits - 1u) {
          const std::size_t i = k + static_cast<std::size_t>(std::countr_zero(bits));
          visit(grid.receivers[i], grid.points.at(i));
        }
      });
}

template <class Visit>
void for_each_receiver_near(const ReceiverIndex& index, Vec3 lo, Vec3 hi, const Slab& slab,
                            Visit&& visit) {
  for_each_receiver_near<false>(index, lo, hi, slab, 0.0f, visit);
}

}  // namespace abyx
