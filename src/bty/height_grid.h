#pragma once

#include <cstddef>
#include <limits>
#include <vector>

namespace abyx {

// A boundary given as a depth on a rectilinear horizontal grid: the seabed under the water, or a
// shaped sea surface above it. Built once, then read-only.
struct HeightGrid {
  std::vector<float> x;      // axis x (m)
  std::vector<float> y;      // axis y (m)
  std::vector<float> depth;  // depth (m, positive down) at [ix, iy], y fastest
  // Bounds of the whole boundary, inside the grid and beyond it: no depth lies above
  // shallowest_depth (m) or below deepest_depth (m), and no normal leans so far from the vertical
  // that 1 / n_z exceeds steepest_tilt_secant. Until measure_height_bounds sets them they bound
  // nothing.
  float shallowest_depth = -std::numeric_limits<float>::infinity();
  float deepest_depth = std::numeric_limits<float>::infinity();
  float steepest_tilt_secant = std::numeric_limits<float>::infinity();

  std::size_t index(std::size_t ix, std::size_t iy) const { return ix * y.size() + iy; }
};

// Sets the bounds of the grid from its nodes (the builders do this; a grid made by hand needs it
// once its depths are in place, or the ray tracer evaluates the boundary after every step).
void measure_height_bounds(HeightGrid& grid);

}  // namespace abyx
