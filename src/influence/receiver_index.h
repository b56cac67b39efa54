#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "common/vec3.h"

namespace abyx {

// Array receivers sorted into a uniform grid of cells over their bounding box, so that the
// receivers near a beam segment are found without visiting all of them. Receivers with a
// coordinate that is not finite are left out: no beam segment can reach them.
struct ReceiverIndex {
  Vec3 origin;                          // lower corner of the bounding box (m)
  std::array<float, 3> cells_per_m{};   // inverse cell size per axis (1/m); 0 on a flat axis
  std::array<std::size_t, 3> counts{};  // cells along x, y, z
  std::vector<std::size_t> cell_start;  // offset of each cell's receivers in `receivers`, plus end
  std::vector<std::size_t> receivers;   // receiver indices grouped by cell, ascending in a cell

  // flat index of cell (ix, iy, iz)
  std::size_t cell(std::size_t ix, std::size_t iy, std::size_t iz) const {
    return (ix * counts[1] + iy) * counts[2] + iz;
  }
  // cell coordinate along `axis` of coordinate v (m), clamped to the grid; monotone in v, so a
  // point between two coordinates lies in a cell between theirs
  std::size_t cell_coordinate(std::size_t axis, float v) const {
    const float f = (v - origin[axis]) * cells_per_m[axis];
    const std::size_t last = counts[axis] - 1;
    if (!(f > 0.0f)) {
      return 0;
    }
    if (f >= static_cast<float>(last)) {
      return last;
    }
    return static_cast<std::size_t>(f);
  }
};

// Indexes the points with about one cell per receiver.
ReceiverIndex build_receiver_index(std::span<const Vec3> points);

// Calls visit(i) once for every indexed receiver i whose cell overlaps the box [lo, hi] (m,
// finite).
template <class Visit>
void for_each_receiver_near(const ReceiverIndex& index, Vec3 lo, Vec3 hi, Visit&& visit) {
  if (index.receivers.empty()) {
    return;
  }
  const std::size_t x0 = index.cell_coordinate(0, lo.x);
  const std::size_t x1 = index.cell_coordinate(0, hi.x);
  const std::size_t y0 = index.cell_coordinate(1, lo.y);
  const std::size_t y1 = index.cell_coordinate(1, hi.y);
  const std::size_t z0 = index.cell_coordinate(2, lo.z);
  const std::size_t z1 = index.cell_coordinate(2, hi.z);
  for (std::size_t ix = x0; ix <= x1; ++ix) {
    for (std::size_t iy = y0; iy <= y1; ++iy) {
      // the cells of one (ix, iy) column are adjacent, so their receivers are one run
      const std::size_t begin = index.cell_start[index.cell(ix, iy, z0)];
      const std::size_t end = index.cell_start[index.cell(ix, iy, z1) + 1];
      for (std::size_t k = begin; k < end; ++k) {
        visit(index.receivers[k]);
      }
    }
  }
}

}  // namespace abyx
