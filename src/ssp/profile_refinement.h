#pragma once

#include <cstddef>
#include <vector>

#include "input/simulation_config.h"

namespace abyx {

// Sub-cells of a "pchip" profile are thin enough that the straight line between two of them stays
// within this of the cubic (m/s); no cell of the given axis is cut into more than
// kMostPchipSubcells.
inline constexpr double kPchipToleranceMS = 0.02;
inline constexpr std::size_t kMostPchipSubcells = 64;

// A "linear" profile bends from one node's slope into the next within this distance above and below
// the node (m), and never over more than kLinearBendFraction of the thinner cell beside it.
inline constexpr double kLinearBendM = 1.0;
inline constexpr double kLinearBendFraction = 0.05;

// The speed of every column on a depth axis finer than the grid's, with its first two depth
// derivatives, taken from the profile the interpolation draws through the column's nodes: the
// grid's trilinear interpolation of these values follows that profile closely.
struct RefinedColumns {
  std::vector<float> z;     // the finer axis (m): the grid's depths and nodes between them
  std::vector<float> c;     // the speed (m/s), nx * ny * z.size() values, z fastest
  std::vector<float> c_z;   // its depth derivative (1/s), laid out as c
  std::vector<float> c_zz;  // its second depth derivative (1/(m s)), laid out as c
};

// The finer depth axis of a grid whose interpolation is Linear or Pchip and whose nx * ny * nz
// speeds are in place; the given axis itself for Nodes and for an axis of fewer than two nodes.
std::vector<float> refined_depths(const SoundSpeed& in);

// The columns of such a grid on its finer depth axis.
RefinedColumns refine_columns(const SoundSpeed& in);

}  // namespace abyx
