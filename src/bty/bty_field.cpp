#include "bty/bty_field.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>

#include "common/checked_size.h"
#include "common/decimal_text.h"
#include "common/fault.h"

namespace abyx {
namespace {

[[noreturn]] void fail_shape(std::size_t nx, std::size_t ny, std::size_t length,
                             const std::string& description) {
  throw Fault(std::string(kBtyShapeMismatchMessage) + ": nx = " + decimal_text(nx) + ", ny = " +
              decimal_text(ny) + ", bty_len = " + decimal_text(length) + ": " + description);
}

BottomParams resolve_bottom(const BottomBoundaryModel& model) {
  return std::visit(
      [](const auto& m) {
        using Model = std::decay_t<decltype(m)>;
        BottomParams out;
        if constexpr (std::is_same_v<Model, BottomBoundaryModel::Acoustic>) {
          out.kind = BottomKind::Acoustic;
          out.compressional_speed_m_s = m.compressional_speed_m_s;
          out.density_g_cm3 = m.density_g_cm3;
          out.compressional_attenuation_db_per_wavelength =
              m.compressional_attenuation_db_per_wavelength.value_or(0.0f);
        } else if constexpr (std::is_same_v<Model, BottomBoundaryModel::Elastic>) {
          out.kind = BottomKind::Elastic;
          out.compressional_speed_m_s = m.compressional_speed_m_s;
          out.shear_speed_m_s = m.shear_speed_m_s;
          out.density_g_cm3 = m.density_g_cm3;
          out.compressional_attenuation_db_per_wavelength =
              m.compressional_attenuation_db_per_wavelength.value_or(0.0f);
          out.shear_attenuation_db_per_wavelength =
              m.shear_attenuation_db_per_wavelength.value_or(0.0f);
        } else if constexpr (std::is_same_v<Model, BottomBoundaryModel::Table>) {
          out.kind = BottomKind::Table;
          out.table = make_reflection_table(m.angle_deg, m.magnitude, m.phase_deg);
        } else {
          out.kind = BottomKind::Rigid;
        }
        return out;
      },
      model.alternative);
}

}  // namespace

BTYfield init_bty(const Bathymetry& in) {
  const std::size_t nx = in.x_bty_m.size(), ny = in.y_bty_m.size(), length = in.z_bty_m.size();

  // the evaluators read at least one node, so an axis without nodes is refused here as well
  if (nx == 0 || ny == 0) fail_shape(nx, ny, length, "each axis needs at least one node");
  std::size_t count = 0;
  if (!checked_multiply(nx, ny, count)) {
    fail_shape(nx, ny, length, "nx * ny does not fit in memory");
  }
  if (count != length) {
    fail_shape(nx, ny, length,
               "nx * ny = " + decimal_text(count) + " but z_bty_m has " + decimal_text(length) +
                   " values");
  }

  BTYfield bty;
  bty.x = in.x_bty_m;
  bty.y = in.y_bty_m;
  bty.depth = in.z_bty_m;  // already [ix, iy] with y fastest, the layout of BTYfield::index
  bty.bottom = resolve_bottom(in.bottom_model);
  bty.water_density = in.water_density_g_cm3.value_or(1.0f);
  measure_bottom_bounds(bty);
  return bty;
}

void measure_bottom_bounds(BTYfield& bty) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::size_t nx = bty.x.size(), ny = bty.y.size();
  bty.shallowest_depth = -kInf;
  bty.steepest_tilt_secant = kInf;
  if (nx == 0 || ny == 0 || bty.depth.size() != nx * ny) return;
  // The bilinear depth is a weighted mean of its cell's corners (its coordinates are clamped
  // beyond the grid), and each slope component a weighted mean of the slopes of the cell's edges
  // along that axis, so the nodes and the edges bound them.
  double shallowest = kInf;
  double slope_x = 0.0, slope_y = 0.0;
  for (std::size_t ix = 0; ix < nx; ++ix) {
    for (std::size_t iy = 0; iy < ny; ++iy) {
      const double z = bty.depth[bty.index(ix, iy)];
      if (!std::isfinite(z)) return;
      shallowest = std::min(shallowest, z);
      if (ix + 1 < nx) {
        const double rise = bty.depth[bty.index(ix + 1, iy)] - z;
        slope_x = std::max(slope_x, std::abs(rise / (double{bty.x[ix + 1]} - bty.x[ix])));
      }
      if (iy + 1 < ny) {
        const double rise = bty.depth[bty.index(ix, iy + 1)] - z;
        slope_y = std::max(slope_y, std::abs(rise / (double{bty.y[iy + 1]} - bty.y[iy])));
      }
    }
  }
  // 1 / n_z = sqrt(1 + |gradient|^2); NaN from equal nodes stays unbounded, and the rounding of
  // the float sums is far inside 1 %
  const double secant = std::sqrt(1.0 + slope_x * slope_x + slope_y * slope_y);
  if (!(secant < 1e30)) return;
  bty.shallowest_depth = static_cast<float>(shallowest);
  bty.steepest_tilt_secant = static_cast<float>(secant * 1.01);
}

}  // namespace abyx
