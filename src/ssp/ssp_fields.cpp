#include "ssp/ssp_fields.h"

#include <array>
#include <cmath>
#include <string>

#include "common/checked_size.h"
#include "common/decimal_text.h"
#include "common/fault.h"

namespace abyx {
namespace {

// nx * ny * nz, or false when the product does not fit in a size_t.
bool node_count(std::size_t nx, std::size_t ny, std::size_t nz, std::size_t& count) {
  std::size_t nxy = 0;
  return checked_multiply(nx, ny, nxy) && checked_multiply(nxy, nz, count);
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

void mark_uniform_cells(SSPFields& ssp) {
  ssp.has_uniform_cells = false;
  const std::size_t nx = ssp.x.size(), ny = ssp.y.size(), nz = ssp.z.size();
  for (std::size_t ix = 0; ix + 1 < nx; ++ix) {
    for (std::size_t iy = 0; iy + 1 < ny; ++iy) {
      for (std::size_t iz = 0; iz + 1 < nz; ++iz) {
        const float c = ssp.node(ix, iy, iz)[0];
        bool uniform = std::isfinite(c);
        for (std::size_t corner = 0; corner < 8 && uniform; ++corner) {
          const float* values =
              ssp.node(ix + (corner >> 2), iy + ((corner >> 1) & 1), iz + (corner & 1));
          uniform = values[0] == c;
          for (std::size_t g = 1; g < kSspUniformCellMark && uniform; ++g) {
            uniform = values[g] == 0.0f;
          }
        }
        ssp.node(ix, iy, iz)[kSspUniformCellMark] = uniform ? 1.0f : 0.0f;
        ssp.has_uniform_cells = ssp.has_uniform_cells || uniform;
      }
    }
  }
}

SSPFields init_ssp(const SoundSpeed& in) {
  SSPFields ssp;
  ssp.x = in.x_ssp_m;
  ssp.y = in.y_ssp_m;
  ssp.z = in.z_ssp_m;
  const std::size_t nx = ssp.x.size(), ny = ssp.y.size(), nz = ssp.z.size();

  // the flat list is read with z fastest, then y, then x: exactly Grid3's own layout
  std::size_t count = 0;
  const bool fits = node_count(nx, ny, nz, count);
  if (!fits || count != in.c_m_s.size()) {
    const std::string product = fits ? "nx * ny * nz = " + decimal_text(count)
                                     : "nx * ny * nz = " + decimal_text(nx) + " * " +
                                           decimal_text(ny) + " * " + decimal_text(nz) +
                                           " does not fit in memory";
    throw Fault(std::string(kSspShapeMismatchMessage) + ": " + product + " but c_m_s has " +
                decimal_text(in.c_m_s.size()) + " values");
  }
  const Grid3 c{nx, ny, nz, in.c_m_s};

  const float dx = first_spacing(ssp.x);
  const float dy = first_spacing(ssp.y);
  const float dz = first_spacing(ssp.z);

  // first derivatives first, so a too-short axis is reported in x, y, z order
  const Grid3 c_x = partial_x(c, dx);
  const Grid3 c_y = partial_y(c, dy);
  const Grid3 c_z = partial_z(c, dz);
  const std::array<Grid3, 10> grids = {c,
                                       c_x,
                                       c_y,
                                       c_z,
                                       partial_x(c_x, dx),
                                       partial_y(c_y, dy),
                                       partial_z(c_z, dz),
                                       partial_y(c_x, dy),
                                       partial_z(c_x, dz),
                                       partial_z(c_y, dz)};
  ssp.nodes.assign(count * kSspNodeStride, 0.0f);
  for (std::size_t node = 0; node < count; ++node) {
    for (std::size_t g = 0; g < grids.size(); ++g) {
      ssp.nodes[node * kSspNodeStride + g] = grids[g].values[node];
    }
  }
  mark_uniform_cells(ssp);
  return ssp;
}

}  // namespace abyx
