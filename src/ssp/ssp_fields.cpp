#include "ssp/ssp_fields.h"

#include <array>
#include <charconv>
#include <string>

#include "common/fault.h"

namespace abyx {
namespace {

// Decimal text of a count, for fault messages.
std::string count_text(std::size_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

// nx * ny * nz, or false when the product does not fit in a size_t.
bool node_count(std::size_t nx, std::size_t ny, std::size_t nz, std::size_t& count) {
  std::size_t nxy = 0;
  return !__builtin_mul_overflow(nx, ny, &nxy) && !__builtin_mul_overflow(nxy, nz, &count);
}

void require_consistent(const Grid3& grid) {
  std::size_t count = 0;
  if (!node_count(grid.nx, grid.ny, grid.nz, count) || count != grid.values.size()) {
    throw Fault(std::string(kGridValuesMismatchMessage));
  }
}

// One axis of a row-major grid: its node count, the flat distance between neighbours along it (the
// product of the faster axes, which is also the number of lines along it per block) and the number
// of such blocks (the product of the slower axes).
struct AxisLayout {
  std::size_t n = 0;       // nodes along the axis
  std::size_t stride = 0;  // flat distance between neighbours along the axis
  std::size_t outer = 0;   // blocks of the slower axes
};

// Forward difference at the first node, central differences inside, backward at the last node,
// each dividing by the one spacing h (so a non-uniform axis still uses its first interval).
Grid3 difference_along(const Grid3& f, const AxisLayout& axis, float h) {
  Grid3 out{f.nx, f.ny, f.nz, std::vector<float>(f.values.size(), 0.0f)};
  const float two_h = h + h;
  const std::size_t n = axis.n;
  for (std::size_t o = 0; o < axis.outer; ++o) {
    for (std::size_t l = 0; l < axis.stride; ++l) {
      const std::size_t base = o * n * axis.stride + l;
      const auto at = [&](std::size_t i) { return base + i * axis.stride; };
      out.values[at(0)] = (f.values[at(1)] - f.values[at(0)]) / h;
      for (std::size_t i = 1; i + 1 < n; ++i) {
        out.values[at(i)] = (f.values[at(i + 1)] - f.values[at(i - 1)]) / two_h;
      }
      out.values[at(n - 1)] = (f.values[at(n - 1)] - f.values[at(n - 2)]) / h;
    }
  }
  return out;
}

// Spacing of an axis from its first interval (signed), 1 when the axis has a single node.
float first_spacing(const std::vector<float>& axis) {
  return axis.size() >= 2 ? axis[1] - axis[0] : 1.0f;
}

}  // namespace

Grid3 partial_x(const Grid3& grid, float dx) {
  if (grid.nx < 2) throw Fault(std::string(kNeedNxMessage));
  require_consistent(grid);
  return difference_along(grid, {grid.nx, grid.ny * grid.nz, 1}, dx);
}

Grid3 partial_y(const Grid3& grid, float dy) {
  if (grid.ny < 2) throw Fault(std::string(kNeedNyMessage));
  require_consistent(grid);
  return difference_along(grid, {grid.ny, grid.nz, grid.nx}, dy);
}

Grid3 partial_z(const Grid3& grid, float dz) {
  if (grid.nz < 2) throw Fault(std::string(kNeedNzMessage));
  require_consistent(grid);
  return difference_along(grid, {grid.nz, 1, grid.nx * grid.ny}, dz);
}

void pack_ssp_nodes(SSPFields& ssp) {
  const std::array<const Grid3*, 10> grids = {&ssp.c,    &ssp.c_x,  &ssp.c_y,  &ssp.c_z,
                                              &ssp.c_xx, &ssp.c_yy, &ssp.c_zz, &ssp.c_xy,
                                              &ssp.c_xz, &ssp.c_yz};
  const std::size_t count = ssp.c.values.size();
  for (const Grid3* grid : grids) {
    if (grid->values.size() != count) throw Fault(std::string(kGridValuesMismatchMessage));
  }
  ssp.nodes.assign(count * kSspNodeStride, 0.0f);
  for (std::size_t node = 0; node < count; ++node) {
    for (std::size_t g = 0; g < grids.size(); ++g) {
      ssp.nodes[node * kSspNodeStride + g] = grids[g]->values[node];
    }
  }
}

SSPFields init_ssp(const SimulationConfig& config) {
  const SoundSpeed& in = config.ssp;
  SSPFields ssp;
  ssp.x = in.x_ssp_m;
  ssp.y = in.y_ssp_m;
  ssp.z = in.z_ssp_m;
  const std::size_t nx = ssp.x.size(), ny = ssp.y.size(), nz = ssp.z.size();

  // the flat list is read with z fastest, then y, then x: exactly Grid3's own layout
  std::size_t count = 0;
  const bool fits = node_count(nx, ny, nz, count);
  if (!fits || count != in.c_m_s.size()) {
    const std::string product = fits ? "nx * ny * nz = " + count_text(count)
                                     : "nx * ny * nz = " + count_text(nx) + " * " + count_text(ny) +
                                           " * " + count_text(nz) + " does not fit in memory";
    throw Fault(std::string(kSspShapeMismatchMessage) + ": " + product + " but c_m_s has " +
                count_text(in.c_m_s.size()) + " values");
  }
  ssp.c = Grid3{nx, ny, nz, in.c_m_s};

  const float dx = first_spacing(ssp.x);
  const float dy = first_spacing(ssp.y);
  const float dz = first_spacing(ssp.z);

  // first derivatives first, so a too-short axis is reported in x, y, z order
  ssp.c_x = partial_x(ssp.c, dx);
  ssp.c_y = partial_y(ssp.c, dy);
  ssp.c_z = partial_z(ssp.c, dz);
  ssp.c_xx = partial_x(ssp.c_x, dx);
  ssp.c_yy = partial_y(ssp.c_y, dy);
  ssp.c_zz = partial_z(ssp.c_z, dz);
  ssp.c_xy = partial_y(ssp.c_x, dy);
  ssp.c_xz = partial_z(ssp.c_x, dz);
  ssp.c_yz = partial_z(ssp.c_y, dz);

  pack_ssp_nodes(ssp);
  return ssp;
}

}  // namespace abyx
