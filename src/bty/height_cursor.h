#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "bty/height_grid.h"
#include "common/axis_cell.h"
#include "common/float4.h"
#include "common/vec3.h"

namespace abyx {

// A ray's cell in a height grid (the bathymetry, or a shaped surface): lower-corner indices, each
// in [0, max(n - 2, 0)].
struct HeightCursor {
  std::size_t ix = 0;  // cell index along x
  std::size_t iy = 0;  // cell index along y
};

// A height grid at a horizontal position, as evaluated in that position's cell.
struct HeightSample {
  float depth = 0.0f;  // depth of the boundary (m, positive down)
  Vec3 normal;         // unit normal pointing down (z component > 0): into the seabed at the
                       // bottom, into the water at the surface
};

// Bisection search for the cell of (pos.x, pos.y); called once per ray at the source.
HeightCursor init_height_cursor(Vec3 pos, const HeightGrid& grid);

// Walks the cursor to the cell of (pos.x, pos.y).
inline void update_height_cursor(Vec3 pos, const HeightGrid& grid, HeightCursor& cursor);

// The depth (m) at (pos.x, pos.y), bilinear in the cursor's cell, and the unit normal of that
// bilinear patch pointing down (z component > 0), from one reading of the cell; does not move the
// cursor.
inline HeightSample sample_height_from_cursor(Vec3 pos, const HeightGrid& grid,
                                              const HeightCursor& cursor);

// The cursor walk and the evaluators run after every ray step, so they are defined here, where the
// ray tracer can inline them.
namespace detail {

// One axis of the cursor's cell: the two node indices, the distance of p from the lower node and
// the spacing, whose ratio is the local coordinate. An axis with a single node is a constant depth
// along it: both indices name that node, the coordinate is 0 / 1 and the axis adds no slope.
struct HeightAxisCell {
  std::size_t i0 = 0;    // lower node
  std::size_t i1 = 0;    // upper node (i0 on a single-node axis)
  float offset = 0.0f;   // p - a[i0] (m)
  float spacing = 1.0f;  // a[i1] - a[i0] (m)
  bool sloped = false;   // false on a single-node axis
};

inline HeightAxisCell height_axis_cell(const std::vector<float>& a, float p,
                                       std::size_t cursor_index) {
  HeightAxisCell cell;
  if (a.size() < 2) return cell;
  cell.i0 = cursor_index < a.size() - 2 ? cursor_index : a.size() - 2;
  cell.i1 = cell.i0 + 1;
  cell.offset = p - a[cell.i0];
  cell.spacing = a[cell.i1] - a[cell.i0];
  cell.sloped = true;
  return cell;
}

// A cell read once: its two axes, the local coordinates clamped to [0, 1] and the four depths
// z_ab = depth[ix + a, iy + b].
struct HeightCell {
  HeightAxisCell x, y;                                   // the two axes
  float tx = 0.0f, ty = 0.0f;                            // local coordinates
  float z00 = 0.0f, z01 = 0.0f, z10 = 0.0f, z11 = 0.0f;  // depths (m)
};

// The cell's axes and depths; its local coordinates are left at 0 until set_local_coordinates.
inline HeightCell read_height_corners(Vec3 pos, const HeightGrid& grid,
                                      const HeightCursor& cursor) {
  HeightCell cell;
  cell.x = height_axis_cell(grid.x, pos.x, cursor.ix);
  cell.y = height_axis_cell(grid.y, pos.y, cursor.iy);
  cell.z00 = grid.depth[grid.index(cell.x.i0, cell.y.i0)];
  cell.z01 = grid.depth[grid.index(cell.x.i0, cell.y.i1)];
  cell.z10 = grid.depth[grid.index(cell.x.i1, cell.y.i0)];
  cell.z11 = grid.depth[grid.index(cell.x.i1, cell.y.i1)];
  return cell;
}

// tx and ty with one division; a NaN stays NaN through the clamp.
inline void set_local_coordinates(HeightCell& cell) {
  const Float4 zero = {}, one = broadcast4(1.0f);
  Float4 t = Float4{cell.x.offset, cell.y.offset, 0.0f, 0.0f} /
             Float4{cell.x.spacing, cell.y.spacing, 1.0f, 1.0f};
  t = t < zero ? zero : t;
  t = t > one ? one : t;
  cell.tx = t[0];
  cell.ty = t[1];
}

// A level cell: four equal, finite depths under a finite position.
inline bool is_level_cell(const HeightCell& c, Vec3 pos) {
  return c.z00 == c.z01 && c.z00 == c.z10 && c.z00 == c.z11 && std::isfinite(c.z00) &&
         std::isfinite(pos.x) && std::isfinite(pos.y);
}

// The bilinear depth, summed from 0 in corner order.
inline float height_cell_depth(const HeightCell& c) {
  float depth = 0.0f;
  depth += ((1.0f - c.tx) * (1.0f - c.ty)) * c.z00;
  depth += (c.ty * (1.0f - c.tx)) * c.z01;
  depth += (c.tx * (1.0f - c.ty)) * c.z10;
  depth += (c.tx * c.ty) * c.z11;
  return depth;
}

// The unit normal from the gradient of the bilinear patch; outside the grid t is clamped, so the
// edge cell's slope holds. The four gradient terms and the three normal components are each
// divided in one vector division.
inline Vec3 height_cell_normal(const HeightCell& c) {
  const Float4 terms = Float4{(1.0f - c.ty) * (c.z10 - c.z00), c.ty * (c.z11 - c.z01),
                              (1.0f - c.tx) * (c.z01 - c.z00), c.tx * (c.z11 - c.z10)} /
                       Float4{c.x.spacing, c.x.spacing, c.y.spacing, c.y.spacing};
  const float gx = c.x.sloped ? terms[0] + terms[1] : 0.0f;
  const float gy = c.y.sloped ? terms[2] + terms[3] : 0.0f;
  const float n = std::sqrt(gx * gx + gy * gy + 1.0f);
  const Float4 normal = Float4{-gx, -gy, 1.0f, 0.0f} / broadcast4(n);
  return {normal[0], normal[1], normal[2]};
}

}  // namespace detail

inline void update_height_cursor(Vec3 pos, const HeightGrid& grid, HeightCursor& cursor) {
  cursor.ix = walk_axis_cell(grid.x, pos.x, cursor.ix);
  cursor.iy = walk_axis_cell(grid.y, pos.y, cursor.iy);
}

inline HeightSample sample_height_from_cursor(Vec3 pos, const HeightGrid& grid,
                                              const HeightCursor& cursor) {
  detail::HeightCell cell = detail::read_height_corners(pos, grid, cursor);
  // A level cell lies at its depth exactly, and its zero slope gives the normal straight down (the
  // signed zeros are those the bilinear patch gives); a position that is not finite still takes
  // the bilinear sums, which say so with NaN.
  if (detail::is_level_cell(cell, pos)) return {cell.z00, {-0.0f, -0.0f, 1.0f}};
  detail::set_local_coordinates(cell);
  return {detail::height_cell_depth(cell), detail::height_cell_normal(cell)};
}

}  // namespace abyx
