#include "model/receiver_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace abyx {

namespace {

// Cells per axis at most; keeps cell coordinates exact in single precision.
constexpr std::size_t kMaxCellsPerAxis = 1024;
// The grid may hold this many cells per receiver at most before it is coarsened.
constexpr std::size_t kMaxCellsPerReceiver = 2;
// Finer grids are added while the occupied cells hold more than this many receivers on average...
constexpr std::size_t kReceiversPerOccupiedCell = 2;
// ...and the finer grid stays below this many cells (8 bytes each).
constexpr std::size_t kMaxRefinedCells = std::size_t{1} << 21;
// Grids at most, the coarsest included.
constexpr std::size_t kMaxLevels = 12;

// Cells along an axis of extent `extent` (m) for cells of size `size` (m).
std::size_t cells_along(float extent, float size) {
  if (!(extent > 0.0f)) {
    return 1;
  }
  const float cells = extent / size;
  if (!(cells >= 1.0f)) {
    return 1;
  }
  if (cells >= static_cast<float>(kMaxCellsPerAxis)) {
    return kMaxCellsPerAxis;
  }
  return static_cast<std::size_t>(cells);
}

// Cells per axis: a cube size chosen for about one receiver per cell, coarsened while flat or
// thin extents would leave far more cells than receivers.
std::array<std::size_t, 3> choose_counts(std::array<float, 3> extent, std::size_t n) {
  std::array<std::size_t, 3> counts{1, 1, 1};
  float log_volume = 0.0f;
  int spread_axes = 0;
  for (const float e : extent) {
    if (e > 0.0f) {
      log_volume += std::log(e);
      ++spread_axes;
    }
  }
  if (spread_axes == 0) {
    return counts;
  }
  float size = std::exp((log_volume - std::log(static_cast<float>(n))) / spread_axes);
  if (!(size > 0.0f) || !std::isfinite(size)) {
    return counts;
  }
  const std::size_t most_cells = kMaxCellsPerReceiver * n + 8;
  for (int attempt = 0; attempt < 64; ++attempt) {
    for (std::size_t k = 0; k < 3; ++k) {
      counts[k] = cells_along(extent[k], size);
    }
    if (counts[0] * counts[1] * counts[2] <= most_cells) {
      break;
    }
    size *= 2.0f;
  }
  return counts;
}

// A grid over the bounding box [lo, hi] with the given cell counts, its cells not yet filled.
ReceiverGrid layout_grid(Vec3 lo, Vec3 hi, std::array<std::size_t, 3> counts) {
  ReceiverGrid grid;
  grid.origin = lo;
  grid.upper = hi;
  grid.counts = counts;
  const std::array<float, 3> extent{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
  for (std::size_t k = 0; k < 3; ++k) {
    grid.cells_per_m[k] = extent[k] > 0.0f && std::isfinite(extent[k])
                              ? static_cast<float>(grid.counts[k]) / extent[k]
                              : 0.0f;
  }
  return grid;
}

std::size_t cell_of_point(const ReceiverGrid& grid, Vec3 p) {
  return grid.cell(grid.cell_coordinate(0, p.x), grid.cell_coordinate(1, p.y),
                   grid.cell_coordinate(2, p.z));
}

// Sorts the finite points into the grid's cells, with a copy of each point so that a cell's points
// are read in a row; a counting sort keeps the receivers of a cell in ascending order. cell_of is
// working memory.
void fill_grid(ReceiverGrid& grid, std::span<const Vec3> points, std::size_t finite_count,
               std::vector<std::size_t>& cell_of) {
  const std::size_t total = grid.counts[0] * grid.counts[1] * grid.counts[2];
  grid.cell_start.assign(total + 1, 0);
  cell_of.assign(points.size(), total);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (is_finite(points[i])) {
      cell_of[i] = cell_of_point(grid, points[i]);
      ++grid.cell_start[cell_of[i] + 1];
    }
  }
  for (std::size_t c = 0; c < total; ++c) {
    grid.cell_start[c + 1] += grid.cell_start[c];
  }
  grid.receivers.resize(finite_count);
  grid.points.resize(finite_count);
  std::vector<std::size_t> fill(grid.cell_start.begin(), grid.cell_start.end() - 1);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (cell_of[i] != total) {
      const std::size_t slot = fill[cell_of[i]]++;
      grid.receivers[slot] = i;
      grid.points.set(slot, points[i]);
    }
  }
}

std::size_t occupied_cells(const ReceiverGrid& grid) {
  std::size_t occupied = 0;
  for (std::size_t c = 0; c + 1 < grid.cell_start.size(); ++c) {
    occupied += grid.cell_start[c + 1] > grid.cell_start[c] ? 1 : 0;
  }
  return occupied;
}

// The running counts of the grid's receivers over the cells below and before each corner.
std::vector<std::uint32_t> count_cells_below(const ReceiverGrid& grid) {
  const std::size_t nx = grid.counts[0] + 1;
  const std::size_t ny = grid.counts[1] + 1;
  const std::size_t nz = grid.counts[2] + 1;
  if (grid.receivers.size() > std::numeric_limits<std::uint32_t>::max()) return {};
  std::vector<std::uint32_t> below(nx * ny * nz, 0);
  const auto at = [&](std::size_t ix, std::size_t iy, std::size_t iz) -> std::uint32_t& {
    return below[(ix * ny + iy) * nz + iz];
  };
  for (std::size_t ix = 1; ix < nx; ++ix) {
    for (std::size_t iy = 1; iy < ny; ++iy) {
      for (std::size_t iz = 1; iz < nz; ++iz) {
        const std::size_t c = grid.cell(ix - 1, iy - 1, iz - 1);
        const auto in_cell =
            static_cast<std::uint32_t>(grid.cell_start[c + 1] - grid.cell_start[c]);
        at(ix, iy, iz) = in_cell + at(ix - 1, iy, iz) + at(ix, iy - 1, iz) + at(ix, iy, iz - 1) -
                         at(ix - 1, iy - 1, iz) - at(ix - 1, iy, iz - 1) - at(ix, iy - 1, iz - 1) +
                         at(ix - 1, iy - 1, iz - 1);
      }
    }
  }
  return below;
}

}  // namespace

ReceiverIndex build_receiver_index(std::span<const Vec3> points) {
  ReceiverIndex index;
  index.point_count = points.size();

  std::size_t finite_count = 0;
  Vec3 lo;
  Vec3 hi;
  for (const Vec3& p : points) {
    if (!is_finite(p)) {
      continue;
    }
    if (finite_count == 0) {
      lo = p;
      hi = p;
    } else {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    ++finite_count;
  }
  if (finite_count == 0) {
    return index;
  }

  const std::array<float, 3> extent{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
  std::vector<std::size_t> cell_of;
  index.levels.push_back(layout_grid(lo, hi, choose_counts(extent, finite_count)));
  fill_grid(index.levels.back(), points, finite_count, cell_of);
  index.cells_below = count_cells_below(index.levels.back());
  // finer grids while the occupied cells are crowded and halving spreads the receivers over
  // clearly more cells (points piled on one spot never spread)
  std::size_t occupied = occupied_cells(index.levels.back());
  while (index.levels.size() < kMaxLevels && occupied * kReceiversPerOccupiedCell < finite_count) {
    const ReceiverGrid& last = index.levels.back();
    std::array<std::size_t, 3> finer = last.counts;
    std::size_t total = 1;
    for (std::size_t k = 0; k < 3; ++k) {
      if (last.cells_per_m[k] > 0.0f) finer[k] = std::min(2 * finer[k], kMaxCellsPerAxis);
      total *= finer[k];
    }
    if (finer == last.counts || total > kMaxRefinedCells) {
      break;
    }
    ReceiverGrid grid = layout_grid(lo, hi, finer);
    fill_grid(grid, points, finite_count, cell_of);
    const std::size_t spread = occupied_cells(grid);
    if (4 * spread < 5 * occupied) {
      break;
    }
    occupied = spread;
    index.levels.push_back(std::move(grid));
  }
  return index;
}

}  // namespace abyx
