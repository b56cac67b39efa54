#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "common/fault_messages.h"
#include "input/simulation_config.h"

namespace abyx {

// Floats per node in SSPFields::nodes: the ten values of SSPSample, then the uniform-cell mark and
// zero padding so that a node fills whole vector registers.
inline constexpr std::size_t kSspNodeStride = 12;
// Offset in a node of the mark that is 1 when the cell whose lower corner the node is holds one
// sound speed and no slope at all eight corners, and 0 otherwise (and in hand-made grids).
inline constexpr std::size_t kSspUniformCellMark = 10;

// A dense 3-D grid of f32 stored row-major: iz fastest, then iy, then ix.
struct Grid3 {
  std::size_t nx = 0;         // nodes along axis 0
  std::size_t ny = 0;         // nodes along axis 1
  std::size_t nz = 0;         // nodes along axis 2
  std::vector<float> values;  // nx * ny * nz values

  std::size_t index(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return (ix * ny + iy) * nz + iz;
  }
  float at(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return values[index(ix, iy, iz)];
  }
};

// The sound-speed grid, built once per run and then read-only: its axes and, per node, the sound
// speed and its nine derivatives interleaved (SSPSample order, padded to kSspNodeStride floats)
// so that a cell's corners are read contiguously.
struct SSPFields {
  std::vector<float> x;            // axis x (m)
  std::vector<float> y;            // axis y (m)
  std::vector<float> z;            // axis z (m, positive down)
  std::vector<float> nodes;        // kSspNodeStride floats per node, z fastest, then y, then x
  bool has_uniform_cells = false;  // some node carries the uniform-cell mark

  std::size_t node_index(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return (ix * y.size() + iy) * z.size() + iz;
  }
  // The first of the node's kSspNodeStride floats.
  const float* node(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return nodes.data() + node_index(ix, iy, iz) * kSspNodeStride;
  }
  float* node(std::size_t ix, std::size_t iy, std::size_t iz) {
    return nodes.data() + node_index(ix, iy, iz) * kSspNodeStride;
  }
};

// Builds the grid and its derivatives from the validated sound speeds: at the given nodes for
// SspInterpolation::Nodes, on the finer depth axis of refine_columns for the others; throws Fault
// on a bad shape.
SSPFields init_ssp(const SoundSpeed& sound_speed);

// Sets the uniform-cell mark of every node from the ten values of the grid (init_ssp does this;
// a grid made by hand needs it once its values are in place).
void mark_uniform_cells(SSPFields& ssp);

// Finite-difference derivative along axis 0, 1 or 2 at the nodes of that axis (one per grid node
// along it); throws Fault when the axis has fewer than two nodes.
Grid3 partial_x(const Grid3& grid, const std::vector<float>& x);
Grid3 partial_y(const Grid3& grid, const std::vector<float>& y);
Grid3 partial_z(const Grid3& grid, const std::vector<float>& z);

}  // namespace abyx
