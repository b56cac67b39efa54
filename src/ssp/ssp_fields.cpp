#include "ssp/ssp_fields.h"

#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "common/checked_size.h"
#include "common/decimal_text.h"
#include "common/fault.h"
#include "ssp/profile_refinement.h"

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

// Whether every interval of the axis is its first, to the bit.
bool evenly_spaced(const std::vector<float>& nodes) {
  for (std::size_t i = 1; i + 1 < nodes.size(); ++i) {
    if (nodes[i + 1] - nodes[i] != nodes[1] - nodes[0]) return false;
  }
  return true;
}

// Forward difference at the first node, central differences inside, backward at the last node.
// An evenly spaced axis divides by its one spacing; on an uneven one (a table of the depths a cast
// was sampled at) each difference takes the intervals beside its node, the central one weighing
// both so that it is exact for a quadratic.
Grid3 difference_along(const Grid3& f, const AxisLayout& axis, const std::vector<float>& nodes) {
  Grid3 out{f.nx, f.ny, f.nz, std::vector<float>(f.values.size(), 0.0f)};
  const std::size_t n = axis.n;
  const bool even = evenly_spaced(nodes);
  const float h = nodes[1] - nodes[0];
  const float two_h = h + h;
  for (std::size_t o = 0; o < axis.outer; ++o) {
    for (std::size_t l = 0; l < axis.stride; ++l) {
      const std::size_t base = o * n * axis.stride + l;
      const auto value = [&](std::size_t i) { return f.values[base + i * axis.stride]; };
      float* const result = out.values.data() + base;
      result[0] = (value(1) - value(0)) / h;
      for (std::size_t i = 1; i + 1 < n; ++i) {
        if (even) {
          result[i * axis.stride] = (value(i + 1) - value(i - 1)) / two_h;
          continue;
        }
        const double before = double{nodes[i]} - nodes[i - 1];
        const double after = double{nodes[i + 1]} - nodes[i];
        result[i * axis.stride] =
            static_cast<float>((before * before * (double{value(i + 1)} - value(i)) +
                                after * after * (double{value(i)} - value(i - 1))) /
                               (before * after * (before + after)));
      }
      result[(n - 1) * axis.stride] = (value(n - 1) - value(n - 2)) / (nodes[n - 1] - nodes[n - 2]);
    }
  }
  return out;
}

}  // namespace

Grid3 partial_x(const Grid3& grid, const std::vector<float>& x) {
  if (grid.nx < 2) throw Fault(std::string(kNeedNxMessage));
  require_consistent(grid);
  if (x.size() != grid.nx) throw Fault(std::string(kGridValuesMismatchMessage));
  return difference_along(grid, {grid.nx, grid.ny * grid.nz, 1}, x);
}

Grid3 partial_y(const Grid3& grid, const std::vector<float>& y) {
  if (grid.ny < 2) throw Fault(std::string(kNeedNyMessage));
  require_consistent(grid);
  if (y.size() != grid.ny) throw Fault(std::string(kGridValuesMismatchMessage));
  return difference_along(grid, {grid.ny, grid.nz, grid.nx}, y);
}

Grid3 partial_z(const Grid3& grid, const std::vector<float>& z) {
  if (grid.nz < 2) throw Fault(std::string(kNeedNzMessage));
  require_consistent(grid);
  if (z.size() != grid.nz) throw Fault(std::string(kGridValuesMismatchMessage));
  return difference_along(grid, {grid.nz, 1, grid.nx * grid.ny}, z);
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

namespace {

// The speed and its nine derivatives of the grid's own nodes: every derivative a finite difference.
std::array<Grid3, 10> node_grids(const Grid3& c, const SSPFields& ssp) {
  // first derivatives first, so a too-short axis is reported in x, y, z order
  const Grid3 c_x = partial_x(c, ssp.x);
  const Grid3 c_y = partial_y(c, ssp.y);
  const Grid3 c_z = partial_z(c, ssp.z);
  return {c,
          c_x,
          c_y,
          c_z,
          partial_x(c_x, ssp.x),
          partial_y(c_y, ssp.y),
          partial_z(c_z, ssp.z),
          partial_y(c_x, ssp.y),
          partial_z(c_x, ssp.z),
          partial_z(c_y, ssp.z)};
}

// The same on the finer depth axis of the profile the interpolation draws through each column
// (which replaces ssp.z): the depth derivatives are the profile's own, the others finite
// differences of its speeds.
std::array<Grid3, 10> refined_grids(const SoundSpeed& in, SSPFields& ssp) {
  RefinedColumns columns = refine_columns(in);
  ssp.z = std::move(columns.z);
  const std::size_t nx = ssp.x.size(), ny = ssp.y.size(), nz = ssp.z.size();
  const Grid3 c{nx, ny, nz, std::move(columns.c)};
  const Grid3 c_x = partial_x(c, ssp.x);
  const Grid3 c_y = partial_y(c, ssp.y);
  return {c,
          c_x,
          c_y,
          Grid3{nx, ny, nz, std::move(columns.c_z)},
          partial_x(c_x, ssp.x),
          partial_y(c_y, ssp.y),
          Grid3{nx, ny, nz, std::move(columns.c_zz)},
          partial_y(c_x, ssp.y),
          partial_z(c_x, ssp.z),
          partial_z(c_y, ssp.z)};
}

}  // namespace

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
  // a single depth leaves nothing to refine, and its fault comes from the node differences
  const bool refines = in.resolved_interpolation != SspInterpolation::Nodes && nz >= 2;
  const std::array<Grid3, 10> grids =
      refines ? refined_grids(in, ssp) : node_grids(Grid3{nx, ny, nz, in.c_m_s}, ssp);
  const std::size_t nodes = grids[0].values.size();
  ssp.nodes.assign(nodes * kSspNodeStride, 0.0f);
  for (std::size_t node = 0; node < nodes; ++node) {
    for (std::size_t g = 0; g < grids.size(); ++g) {
      ssp.nodes[node * kSspNodeStride + g] = grids[g].values[node];
    }
  }
  mark_uniform_cells(ssp);
  return ssp;
}

}  // namespace abyx
