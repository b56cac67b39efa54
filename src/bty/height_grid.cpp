#include "bty/height_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace abyx {

void measure_height_bounds(HeightGrid& grid) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::size_t nx = grid.x.size(), ny = grid.y.size();
  grid.shallowest_depth = -kInf;
  grid.deepest_depth = kInf;
  grid.steepest_tilt_secant = kInf;
  if (nx == 0 || ny == 0 || grid.depth.size() != nx * ny) return;
  // The bilinear depth is a weighted mean of its cell's corners (its coordinates are clamped
  // beyond the grid), and each slope component a weighted mean of the slopes of the cell's edges
  // along that axis, so the nodes and the edges bound them.
  double shallowest = kInf, deepest = -kInf;
  double slope_x = 0.0, slope_y = 0.0;
  for (std::size_t ix = 0; ix < nx; ++ix) {
    for (std::size_t iy = 0; iy < ny; ++iy) {
      const double z = grid.depth[grid.index(ix, iy)];
      if (!std::isfinite(z)) return;
      shallowest = std::min(shallowest, z);
      deepest = std::max(deepest, z);
      if (ix + 1 < nx) {
        const double rise = grid.depth[grid.index(ix + 1, iy)] - z;
        slope_x = std::max(slope_x, std::abs(rise / (double{grid.x[ix + 1]} - grid.x[ix])));
      }
      if (iy + 1 < ny) {
        const double rise = grid.depth[grid.index(ix, iy + 1)] - z;
        slope_y = std::max(slope_y, std::abs(rise / (double{grid.y[iy + 1]} - grid.y[iy])));
      }
    }
  }
  // 1 / n_z = sqrt(1 + |gradient|^2); NaN from equal nodes stays unbounded, and the rounding of
  // the float sums is far inside 1 %
  const double secant = std::sqrt(1.0 + slope_x * slope_x + slope_y * slope_y);
  if (!(secant < 1e30)) return;
  grid.shallowest_depth = static_cast<float>(shallowest);
  grid.deepest_depth = static_cast<float>(deepest);
  grid.steepest_tilt_secant = static_cast<float>(secant * 1.01);
}

}  // namespace abyx
