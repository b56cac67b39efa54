#include "influence/receiver_index.h"

#include <algorithm>
#include <cmath>

namespace abyx {

namespace {

// Cells per axis at most; keeps cell coordinates exact in single precision.
constexpr std::size_t kMaxCellsPerAxis = 1024;
// The grid may hold this many cells per receiver at most before it is coarsened.
constexpr std::size_t kMaxCellsPerReceiver = 2;

bool is_finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

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

}  // namespace

ReceiverIndex build_receiver_index(std::span<const Vec3> points) {
  ReceiverIndex index;
  index.counts = {1, 1, 1};

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
    index.cell_start.assign(2, 0);
    return index;
  }

  index.origin = lo;
  const std::array<float, 3> extent{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
  index.counts = choose_counts(extent, finite_count);
  for (std::size_t k = 0; k < 3; ++k) {
    index.cells_per_m[k] = extent[k] > 0.0f && std::isfinite(extent[k])
                               ? static_cast<float>(index.counts[k]) / extent[k]
                               : 0.0f;
  }

  // counting sort by cell keeps the receivers of a cell in ascending order
  const std::size_t total = index.counts[0] * index.counts[1] * index.counts[2];
  index.cell_start.assign(total + 1, 0);
  std::vector<std::size_t> cell_of(points.size(), total);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Vec3& p = points[i];
    if (!is_finite(p)) {
      continue;
    }
    cell_of[i] = index.cell(index.cell_coordinate(0, p.x), index.cell_coordinate(1, p.y),
                            index.cell_coordinate(2, p.z));
    ++index.cell_start[cell_of[i] + 1];
  }
  for (std::size_t c = 0; c < total; ++c) {
    index.cell_start[c + 1] += index.cell_start[c];
  }
  index.receivers.resize(finite_count);
  std::vector<std::size_t> fill(index.cell_start.begin(), index.cell_start.end() - 1);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (cell_of[i] != total) {
      index.receivers[fill[cell_of[i]]++] = i;
    }
  }
  return index;
}

}  // namespace abyx
