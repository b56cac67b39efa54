#pragma once

#include <cstddef>
#include <vector>

#include "input/simulation_config.h"

namespace abyx {

// A dense 3-D grid of f32 stored row-major: iz fastest, then iy, then ix.
struct Grid3 {
  std::size_t nx = 0;         // nodes along axis 0
  std::size_t ny = 0;         // nodes along axis 1
  std::size_t nz = 0;         // nodes along axis 2
  std::vector<float> values;  // nx * ny * nz values

  std::size_t index(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return (ix * ny + iy) * nz + iz;
  }
  float at(std::size_t ix, std::size_t iy, std::size_t iz) const { return values[index(ix, iy, iz)]; }
};

// The sound-speed grid with its nine precomputed derivative grids; built once per run, then read-only.
struct SSPFields {
  std::vector<float> x;  // axis x (m)
  std::vector<float> y;  // axis y (m)
  std::vector<float> z;  // axis z (m, positive down)
  Grid3 c;               // sound speed (m/s)
  Grid3 c_x, c_y, c_z;   // first partial derivatives (1/s)
  Grid3 c_xx, c_yy, c_zz;  // second partial derivatives (1/(m s))
  Grid3 c_xy, c_xz, c_yz;  // mixed second derivatives (1/(m s))
};

// Builds the grid and its derivatives from the validated configuration; throws Fault on a bad shape.
SSPFields init_ssp(const SimulationConfig& config);

// Finite-difference derivative along axis 0, 1 or 2 with one signed spacing; throws Fault when the
// axis has fewer than two nodes.
Grid3 partial_x(const Grid3& grid, float dx);
Grid3 partial_y(const Grid3& grid, float dy);
Grid3 partial_z(const Grid3& grid, float dz);

}  // namespace abyx
