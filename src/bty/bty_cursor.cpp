#include "bty/bty_cursor.h"

#include <cmath>
#include <vector>

namespace abyx {
namespace {

// Index of the last cell of an axis of n nodes; 0 for an axis with a single node.
inline std::size_t last_cell(std::size_t n) { return n >= 2 ? n - 2 : 0; }

// The largest i with a[i] <= p (0 when there is none), clamped to the last cell. A NaN fails every
// comparison and gives 0.
std::size_t search_cell(const std::vector<float>& a, float p) {
  std::size_t lo = 0;         // every node before lo is <= p
  std::size_t hi = a.size();  // no node from hi on is known to be <= p
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (a[mid] <= p) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  const std::size_t i = lo > 0 ? lo - 1 : 0;
  return i < last_cell(a.size()) ? i : last_cell(a.size());
}

// Moves a cell index to the cell of p with strict comparisons (a point on a face keeps its cell).
// A stored index beyond the axis is pulled back first; a NaN leaves the index where it is.
inline std::size_t walk_cell(const std::vector<float>& a, float p, std::size_t i) {
  const std::size_t n = a.size();
  if (n < 2) return 0;
  const std::size_t last = n - 2;
  if (p <= a[0]) return 0;
  if (p >= a[n - 1]) return last;
  if (i > last) i = last;
  while (i < last && p > a[i + 1]) ++i;
  while (i > 0 && p < a[i]) --i;
  return i;
}

// One axis of the cursor's cell: the two node indices, the spacing and the clamped local
// coordinate. An axis with a single node is a constant depth along it: both indices name that
// node, t is 0 and the axis adds no slope.
struct AxisCell {
  std::size_t i0 = 0;    // lower node
  std::size_t i1 = 0;    // upper node (i0 on a single-node axis)
  float spacing = 1.0f;  // a[i1] - a[i0] (m), unused on a single-node axis
  float t = 0.0f;        // position in the cell, clamped to [0, 1]
  bool sloped = false;   // false on a single-node axis
};

inline AxisCell axis_cell(const std::vector<float>& a, float p, std::size_t cursor_index) {
  AxisCell cell;
  if (a.size() < 2) return cell;
  cell.i0 = cursor_index < a.size() - 2 ? cursor_index : a.size() - 2;
  cell.i1 = cell.i0 + 1;
  cell.spacing = a[cell.i1] - a[cell.i0];
  float t = (p - a[cell.i0]) / cell.spacing;
  if (t < 0.0f) t = 0.0f;
  if (t > 1.0f) t = 1.0f;
  cell.t = t;
  cell.sloped = true;
  return cell;
}

// The four depths z_ab = depth[ix + a, iy + b] of a cell.
struct CellDepths {
  float z00 = 0.0f, z01 = 0.0f, z10 = 0.0f, z11 = 0.0f;  // m
};

inline CellDepths cell_depths(const BTYfield& bty, const AxisCell& cx, const AxisCell& cy) {
  return {bty.depth[bty.index(cx.i0, cy.i0)], bty.depth[bty.index(cx.i0, cy.i1)],
          bty.depth[bty.index(cx.i1, cy.i0)], bty.depth[bty.index(cx.i1, cy.i1)]};
}

}  // namespace

BTYCursor init_bty_cursor(Vec3 pos, const BTYfield& bty) {
  return {search_cell(bty.x, pos.x), search_cell(bty.y, pos.y)};
}

void update_bty_cursor(Vec3 pos, const BTYfield& bty, BTYCursor& cursor) {
  cursor.ix = walk_cell(bty.x, pos.x, cursor.ix);
  cursor.iy = walk_cell(bty.y, pos.y, cursor.iy);
}

float interpolate_bty_from_cursor(Vec3 pos, const BTYfield& bty, const BTYCursor& cursor) {
  const AxisCell cx = axis_cell(bty.x, pos.x, cursor.ix);
  const AxisCell cy = axis_cell(bty.y, pos.y, cursor.iy);
  const CellDepths z = cell_depths(bty, cx, cy);
  const float tx = cx.t, ty = cy.t;
  float depth = 0.0f;
  depth += ((1.0f - tx) * (1.0f - ty)) * z.z00;
  depth += (ty * (1.0f - tx)) * z.z01;
  depth += (tx * (1.0f - ty)) * z.z10;
  depth += (tx * ty) * z.z11;
  return depth;
}

Vec3 bottom_normal_from_cursor(Vec3 pos, const BTYfield& bty, const BTYCursor& cursor) {
  const AxisCell cx = axis_cell(bty.x, pos.x, cursor.ix);
  const AxisCell cy = axis_cell(bty.y, pos.y, cursor.iy);
  const CellDepths z = cell_depths(bty, cx, cy);
  const float tx = cx.t, ty = cy.t;
  // gradient of the bilinear patch; outside the grid t is clamped, so the edge cell's slope holds
  const float gx =
      cx.sloped ? (1.0f - ty) * (z.z10 - z.z00) / cx.spacing + ty * (z.z11 - z.z01) / cx.spacing
                : 0.0f;
  const float gy =
      cy.sloped ? (1.0f - tx) * (z.z01 - z.z00) / cy.spacing + tx * (z.z11 - z.z10) / cy.spacing
                : 0.0f;
  const float n = std::sqrt(gx * gx + gy * gy + 1.0f);
  return {-gx / n, -gy / n, 1.0f / n};
}

}  // namespace abyx
