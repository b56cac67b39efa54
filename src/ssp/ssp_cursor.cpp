#include "ssp/ssp_cursor.h"

#include <array>

namespace abyx {
namespace {

// The eight corner weights ((wx_a * wy_b) * wz_e), corner k = 4a + 2b + e (digits in x, y, z
// order).
using CornerWeights = std::array<float, 8>;

CornerWeights corner_weights(const SSPWeights& w) {
  const std::array<float, 2> wx = {w.wx0, w.wx1};
  const std::array<float, 2> wy = {w.wy0, w.wy1};
  const std::array<float, 2> wz = {w.wz0, w.wz1};
  CornerWeights out{};
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = (wx[k >> 2] * wy[(k >> 1) & 1]) * wz[k & 1];
  }
  return out;
}

// Flat distance from a cell's lower corner to corner k of that cell.
std::array<std::size_t, 8> corner_offsets(const Grid3& grid) {
  std::array<std::size_t, 8> out{};
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = grid.index(k >> 2, (k >> 1) & 1, k & 1);
  }
  return out;
}

// Trilinear value of one grid: the corners are added to a running sum starting at 0 in corner
// order, x offset outermost and z offset innermost.
float sum_corners(const Grid3& grid, std::size_t base, const std::array<std::size_t, 8>& offsets,
                  const CornerWeights& weights) {
  float sum = 0.0f;
  for (std::size_t k = 0; k < weights.size(); ++k) {
    sum += weights[k] * grid.values[base + offsets[k]];
  }
  return sum;
}

}  // namespace

SSPCursor init_ssp_cursor(Vec3 pos, const SSPFields& ssp) {
  return {search_axis_cell(ssp.x, pos.x), search_axis_cell(ssp.y, pos.y),
          search_axis_cell(ssp.z, pos.z)};
}

float interpolate_c_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor) {
  const SSPWeights w = update_cursor_and_weights(pos, ssp.x, ssp.y, ssp.z, cursor);
  return sum_corners(ssp.c, ssp.c.index(w.ix, w.iy, w.iz), corner_offsets(ssp.c),
                     corner_weights(w));
}

SSPSample interpolate_all_from_grids(const SSPFields& ssp, const SSPWeights& w) {
  const CornerWeights weights = corner_weights(w);
  const std::array<std::size_t, 8> offsets = corner_offsets(ssp.c);
  const std::size_t base = ssp.c.index(w.ix, w.iy, w.iz);
  return {
      sum_corners(ssp.c, base, offsets, weights),    sum_corners(ssp.c_x, base, offsets, weights),
      sum_corners(ssp.c_y, base, offsets, weights),  sum_corners(ssp.c_z, base, offsets, weights),
      sum_corners(ssp.c_xx, base, offsets, weights), sum_corners(ssp.c_yy, base, offsets, weights),
      sum_corners(ssp.c_zz, base, offsets, weights), sum_corners(ssp.c_xy, base, offsets, weights),
      sum_corners(ssp.c_xz, base, offsets, weights), sum_corners(ssp.c_yz, base, offsets, weights)};
}

}  // namespace abyx
