#include "ssp/ssp_cursor.h"

#include <array>
#include <cmath>

namespace abyx {
namespace {

// Index of the last cell of an axis of n nodes; 0 for an axis too short to hold a cell.
inline std::size_t last_cell(std::size_t n) { return n >= 2 ? n - 2 : 0; }

// The largest i with a[i] <= p (0 when there is none), clamped to the last cell. Bisection keeps
// the answer inside the axis whatever p is: a NaN fails every comparison and gives 0.
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

// Moves a cell index from i to the cell of p. The comparisons are strict, so a point on either face
// of the current cell keeps it. A stored index beyond the axis is pulled back first, and a NaN
// fails every comparison and leaves the index where it is, so the result is always a valid cell.
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

// Clamped position of p within the cell [a[i], a[i + 1]] as the pair (1 - t, t).
struct WeightPair {
  float w0 = 1.0f;  // weight of node i
  float w1 = 0.0f;  // weight of node i + 1
};

inline WeightPair cell_weights(const std::vector<float>& a, float p, std::size_t i) {
  if (a.size() < 2) return {};
  float t = (p - a[i]) / (a[i + 1] - a[i]);
  if (t < 0.0f) t = 0.0f;
  if (t > 1.0f) t = 1.0f;
  return {1.0f - t, t};
}

// The eight corner weights ((wx_a * wy_b) * wz_e), corner k = 4a + 2b + e (digits in x, y, z
// order).
using CornerWeights = std::array<float, 8>;

inline CornerWeights corner_weights(const SSPWeights& w) {
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
inline std::array<std::size_t, 8> corner_offsets(const Grid3& grid) {
  std::array<std::size_t, 8> out{};
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = grid.index(k >> 2, (k >> 1) & 1, k & 1);
  }
  return out;
}

// Trilinear value of one grid: the corners are added to a running sum starting at 0 in corner
// order, x offset outermost and z offset innermost.
inline float sum_corners(const Grid3& grid, std::size_t base,
                         const std::array<std::size_t, 8>& offsets, const CornerWeights& weights) {
  float sum = 0.0f;
  for (std::size_t k = 0; k < weights.size(); ++k) {
    sum += weights[k] * grid.values[base + offsets[k]];
  }
  return sum;
}

}  // namespace

SSPCursor init_ssp_cursor(Vec3 pos, const SSPFields& ssp) {
  return {search_cell(ssp.x, pos.x), search_cell(ssp.y, pos.y), search_cell(ssp.z, pos.z)};
}

void update_ssp_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor) {
  cursor.ix = walk_cell(ssp.x, pos.x, cursor.ix);
  cursor.iy = walk_cell(ssp.y, pos.y, cursor.iy);
  cursor.iz = walk_cell(ssp.z, pos.z, cursor.iz);
}

SSPWeights update_cursor_and_weights(Vec3 pos, const std::vector<float>& x_axis,
                                     const std::vector<float>& y_axis,
                                     const std::vector<float>& z_axis, SSPCursor& cursor) {
  cursor.ix = walk_cell(x_axis, pos.x, cursor.ix);
  cursor.iy = walk_cell(y_axis, pos.y, cursor.iy);
  cursor.iz = walk_cell(z_axis, pos.z, cursor.iz);
  const WeightPair wx = cell_weights(x_axis, pos.x, cursor.ix);
  const WeightPair wy = cell_weights(y_axis, pos.y, cursor.iy);
  const WeightPair wz = cell_weights(z_axis, pos.z, cursor.iz);
  return {cursor.ix, cursor.iy, cursor.iz, wx.w0, wx.w1, wy.w0, wy.w1, wz.w0, wz.w1};
}

float interpolate_c_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor) {
  const SSPWeights w = update_cursor_and_weights(pos, ssp.x, ssp.y, ssp.z, cursor);
  return sum_corners(ssp.c, ssp.c.index(w.ix, w.iy, w.iz), corner_offsets(ssp.c),
                     corner_weights(w));
}

SSPSample interpolate_all_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor) {
  const SSPWeights w = update_cursor_and_weights(pos, ssp.x, ssp.y, ssp.z, cursor);
  const CornerWeights weights = corner_weights(w);
  const std::array<std::size_t, 8> offsets = corner_offsets(ssp.c);
  const std::size_t base = ssp.c.index(w.ix, w.iy, w.iz);

  if (ssp.nodes.size() == ssp.c.values.size() * kSspNodeStride) {
    // the ten values of a node lie together: one pass over the eight corners feeds all ten sums,
    // each still summed in corner order
    std::array<float, kSspNodeStride> sum{};
    for (std::size_t k = 0; k < weights.size(); ++k) {
      const float* node = ssp.nodes.data() + (base + offsets[k]) * kSspNodeStride;
      for (std::size_t g = 0; g < kSspNodeStride; ++g) sum[g] += weights[k] * node[g];
    }
    return {sum[0], sum[1], sum[2], sum[3], sum[4], sum[5], sum[6], sum[7], sum[8], sum[9]};
  }

  return {
      sum_corners(ssp.c, base, offsets, weights),    sum_corners(ssp.c_x, base, offsets, weights),
      sum_corners(ssp.c_y, base, offsets, weights),  sum_corners(ssp.c_z, base, offsets, weights),
      sum_corners(ssp.c_xx, base, offsets, weights), sum_corners(ssp.c_yy, base, offsets, weights),
      sum_corners(ssp.c_zz, base, offsets, weights), sum_corners(ssp.c_xy, base, offsets, weights),
      sum_corners(ssp.c_xz, base, offsets, weights), sum_corners(ssp.c_yz, base, offsets, weights)};
}

float reduce_step_to_ssp_interfaces(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                    const SSPCursor& cursor, float h) {
  constexpr float kEps = 1e-9f;
  const std::array<const std::vector<float>*, 3> axes = {&ssp.x, &ssp.y, &ssp.z};
  const std::array<std::size_t, 3> cells = {cursor.ix, cursor.iy, cursor.iz};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::vector<float>& a = *axes[k];
    if (!(std::abs(dir[k]) > kEps) || a.size() < 2) continue;
    // a cursor from another grid is pulled into this one rather than read past its end
    const std::size_t i = cells[k] < a.size() - 2 ? cells[k] : a.size() - 2;
    const float plane = dir[k] > 0.0f ? a[i + 1] : a[i];
    const float t = (plane - pos[k]) / dir[k];
    // a NaN or infinite t fails one of these and leaves h alone
    if (t < h && t > kEps) h = t;
  }
  return h;
}

}  // namespace abyx
