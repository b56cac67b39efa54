#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "common/axis_cell.h"
#include "common/float4.h"
#include "common/vec3.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// A ray's cell in the sound-speed grid: each index is the lower corner, in [0, n - 2].
struct SSPCursor {
  std::size_t ix = 0;  // cell index along x
  std::size_t iy = 0;  // cell index along y
  std::size_t iz = 0;  // cell index along z
};

// Sound speed and its derivatives at a point, in this order.
struct SSPSample {
  float c = 0.0f;                            // m/s
  float c_x = 0.0f, c_y = 0.0f, c_z = 0.0f;  // 1/s
  float c_xx = 0.0f, c_yy = 0.0f, c_zz = 0.0f;
  float c_xy = 0.0f, c_xz = 0.0f, c_yz = 0.0f;
};

// Bisection search for the cell of pos; called once per ray at the source.
SSPCursor init_ssp_cursor(Vec3 pos, const SSPFields& ssp);

// Walks the cursor to the cell of pos (strict comparisons: a point on a cell face keeps its cell).
inline void update_ssp_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor);

// Sound speed and its nine derivatives at pos, with one set of weights; moves the cursor.
inline SSPSample interpolate_all_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor);

// Whether the cursor's cell holds one sound speed and no slope at all eight corners, so that the
// field is that speed everywhere inside it.
inline bool holds_uniform_cell(const SSPFields& ssp, const SSPCursor& cursor);

// The same sample for a cursor that already holds the cell of pos, which is not moved: walking to
// a point already reached leaves a cursor where it is, so this equals interpolate_all_with_cursor
// after the cursor was last walked to pos.
inline SSPSample interpolate_all_in_cell(Vec3 pos, const SSPFields& ssp, const SSPCursor& cursor);

// The cursor walk, the weights and the interpolation run several times per ray step, so they are
// defined here, where the ray tracer can inline them (the walk always: it is a few compares).
namespace detail {

// The distance of p from node i and the width of the cell [a[i], a[i + 1]], whose ratio is the
// weight t of node i + 1; an axis without a cell gives 0 / 1, so that node i takes all the weight.
struct CellSpan {
  float offset = 0.0f;  // p - a[i] (m)
  float width = 1.0f;   // a[i + 1] - a[i] (m)
};

inline CellSpan cell_span(const std::vector<float>& a, float p, std::size_t i) {
  if (a.size() < 2) return {};
  return {p - a[i], a[i + 1] - a[i]};
}

// t = offset / width lane by lane, clamped to [0, 1] (a NaN stays NaN): the weight of the upper
// node of a cell, whose lower node weighs 1 - t.
inline Float4 clamped_weights(Float4 offset, Float4 width) {
  const Float4 zero = {}, one = broadcast4(1.0f);
  Float4 t = offset / width;
  t = t < zero ? zero : t;
  return t > one ? one : t;
}

// The clamped weights t of pos in the cursor's cell along x, y and z, in lanes 0 to 2 (lane 3 is
// 0), in one vector division.
inline Float4 cell_weights(Vec3 pos, const SSPFields& ssp, const SSPCursor& cursor) {
  const CellSpan sx = cell_span(ssp.x, pos.x, cursor.ix);
  const CellSpan sy = cell_span(ssp.y, pos.y, cursor.iy);
  const CellSpan sz = cell_span(ssp.z, pos.z, cursor.iz);
  return clamped_weights(Float4{sx.offset, sy.offset, sz.offset, 0.0f},
                         Float4{sx.width, sy.width, sz.width, 1.0f});
}

// The ten values of a sample in the layout of a node: (c, c_x, c_y, c_z), (c_xx, c_yy, c_zz, c_xy)
// and (c_xz, c_yz, then two lanes that are not read).
struct PackedSample {
  Float4 s0, s1, s2;
};

// The weights of the eight corners of a cell at a position whose clamped weights along x, y and z
// are lanes 0 to 2 of t: corner (a, b, e) weighs (wx_a * wy_b) * wz_e, with the pairs (1 - t, t).
struct CornerWeights {
  Float4 lower;  // corners 0 to 3 (a = 0)
  Float4 upper;  // corners 4 to 7 (a = 1)
};
inline CornerWeights corner_weights(Float4 t) {
  const Float4 r = broadcast4(1.0f) - t;
  const Float4 wxy = Float4{r[0], r[0], t[0], t[0]} * Float4{r[1], t[1], r[1], t[1]};
  const Float4 wz = {r[2], t[2], r[2], t[2]};
  return {Float4{wxy[0], wxy[0], wxy[1], wxy[1]} * wz, Float4{wxy[2], wxy[2], wxy[3], wxy[3]} * wz};
}

// The trilinear sums of the ten values at N positions, position j in the cell whose lower corner
// node is corner00[j], from the interleaved nodes: the eight corners in order (x offset outermost,
// z innermost), corner k weighted by lane k of w[j].lower (k < 4) or lane k - 4 of w[j].upper, each
// term weight * value added to a running sum that starts at 0. The three vectors of a node are
// summed lane by lane, which is the scalar order for every value. The positions take each corner
// side by side, so that their running sums do not wait on each other.
template <std::size_t N>
inline void sum_corners(const SSPFields& ssp, const float* const (&corner00)[N],
                        const CornerWeights (&w)[N], PackedSample (&out)[N]) {
  // flat distances (floats) of the next z, y and x nodes; along an axis of a single node, whose
  // second corners weigh nothing, they are that node again rather than one past the grid
  const std::size_t row = ssp.z.size() > 1 ? kSspNodeStride : 0;
  const std::size_t column = ssp.y.size() > 1 ? ssp.z.size() * kSspNodeStride : 0;
  const std::size_t plane = ssp.x.size() > 1 ? ssp.y.size() * ssp.z.size() * kSspNodeStride : 0;
  // corners (a, b, 0) and (a, b, 1) are neighbouring nodes
  const std::size_t pairs[4] = {0, column, plane, plane + column};
  for (std::size_t j = 0; j < N; ++j) out[j] = PackedSample{};
  for (int k = 0; k < 8; ++k) {
    const std::size_t offset = pairs[k >> 1] + static_cast<std::size_t>(k & 1) * row;
    for (std::size_t j = 0; j < N; ++j) {
      const Float4 weight = broadcast4(k < 4 ? w[j].lower[k] : w[j].upper[k - 4]);
      const float* node = corner00[j] + offset;
      out[j].s0 += weight * load_float4(node);
      out[j].s1 += weight * load_float4(node + 4);
      out[j].s2 += weight * load_float4(node + 8);
    }
  }
}

// The trilinear sums in the cursor's cell at a position whose clamped weights are lanes 0 to 2 of
// t.
inline PackedSample weighted_sample(const SSPFields& ssp, const SSPCursor& cursor, Float4 t) {
  const float* const corner00[1] = {ssp.node(cursor.ix, cursor.iy, cursor.iz)};
  const CornerWeights w[1] = {corner_weights(t)};
  PackedSample sample[1];
  sum_corners<1>(ssp, corner00, w, sample);
  return sample[0];
}

// A uniform cell has its speed everywhere, exactly, so a position in it needs no weights; one that
// is not finite still takes the weighted sum, which says so with NaN. The sample of such a cell, in
// the layout of a node.
inline bool takes_uniform_sample(Vec3 pos, const SSPFields& ssp, const SSPCursor& cursor) {
  return holds_uniform_cell(ssp, cursor) && is_finite(pos);
}
inline PackedSample uniform_sample(const SSPFields& ssp, const SSPCursor& cursor) {
  const Float4 none = {};
  return {Float4{ssp.node(cursor.ix, cursor.iy, cursor.iz)[0], 0.0f, 0.0f, 0.0f}, none, none};
}

// The sample of interpolate_all_in_cell in the layout of a node.
inline PackedSample interpolate_packed_in_cell(Vec3 pos, const SSPFields& ssp,
                                               const SSPCursor& cursor) {
  if (takes_uniform_sample(pos, ssp, cursor)) return uniform_sample(ssp, cursor);
  return weighted_sample(ssp, cursor, cell_weights(pos, ssp, cursor));
}

// interpolate_packed_in_cell at four positions, each with the cursor of its cell, bit for bit: the
// clamped weights of the four are worked out side by side, lane j for position j, then turned into
// the layout of cell_weights for the corner weighting of each.
inline void interpolate_packed_x4(const Vec3 pos[4], const SSPCursor* const cursors[4],
                                  const SSPFields& ssp, PackedSample out[4]) {
  // t of each position along one axis
  const auto axis_t = [&](const std::vector<float>& a, auto coordinate, auto cell) {
    if (a.size() < 2) return Float4{};  // 0 / 1
    const auto span = [&](int j) { return cell_span(a, coordinate(pos[j]), cell(*cursors[j])); };
    const CellSpan s0 = span(0), s1 = span(1), s2 = span(2), s3 = span(3);
    // built whole from the four lanes: stores into single lanes would stall its loads
    return clamped_weights(Float4{s0.offset, s1.offset, s2.offset, s3.offset},
                           Float4{s0.width, s1.width, s2.width, s3.width});
  };
  Float4 t[4] = {axis_t(
                     ssp.x, [](Vec3 p) { return p.x; }, [](const SSPCursor& c) { return c.ix; }),
                 axis_t(
                     ssp.y, [](Vec3 p) { return p.y; }, [](const SSPCursor& c) { return c.iy; }),
                 axis_t(
                     ssp.z, [](Vec3 p) { return p.z; }, [](const SSPCursor& c) { return c.iz; }),
                 Float4{}};
  transpose4(t[0], t[1], t[2], t[3]);  // t[j]: x, y, z of position j, then 0
  // the sums of all four at once, uniform cells or not, so that their running sums interleave
  const float* corner00[4];
  CornerWeights w[4];
  for (int j = 0; j < 4; ++j) {
    corner00[j] = ssp.node(cursors[j]->ix, cursors[j]->iy, cursors[j]->iz);
    w[j] = corner_weights(t[j]);
  }
  PackedSample sums[4];
  sum_corners<4>(ssp, corner00, w, sums);
  for (int j = 0; j < 4; ++j) {
    const SSPCursor& cursor = *cursors[j];
    out[j] = takes_uniform_sample(pos[j], ssp, cursor) ? uniform_sample(ssp, cursor) : sums[j];
  }
}

}  // namespace detail

[[gnu::always_inline]] inline void update_ssp_cursor(Vec3 pos, const SSPFields& ssp,
                                                     SSPCursor& cursor) {
  cursor.ix = walk_axis_cell(ssp.x, pos.x, cursor.ix);
  cursor.iy = walk_axis_cell(ssp.y, pos.y, cursor.iy);
  cursor.iz = walk_axis_cell(ssp.z, pos.z, cursor.iz);
}

inline bool holds_uniform_cell(const SSPFields& ssp, const SSPCursor& cursor) {
  return ssp.node(cursor.ix, cursor.iy, cursor.iz)[kSspUniformCellMark] != 0.0f;
}

inline SSPSample interpolate_all_in_cell(Vec3 pos, const SSPFields& ssp, const SSPCursor& cursor) {
  const detail::PackedSample p = detail::interpolate_packed_in_cell(pos, ssp, cursor);
  return {p.s0[0], p.s0[1], p.s0[2], p.s0[3], p.s1[0], p.s1[1], p.s1[2], p.s1[3], p.s2[0], p.s2[1]};
}

inline SSPSample interpolate_all_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor) {
  update_ssp_cursor(pos, ssp, cursor);
  return interpolate_all_in_cell(pos, ssp, cursor);
}

}  // namespace abyx
