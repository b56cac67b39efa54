#include "bty/bty_field.h"

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
  bty.grid.x = in.x_bty_m;
  bty.grid.y = in.y_bty_m;
  bty.grid.depth = in.z_bty_m;  // already [ix, iy] with y fastest, the layout of HeightGrid::index
  bty.bottom = resolve_bottom(in.bottom_model);
  bty.water_density = in.water_density_g_cm3.value_or(1.0f);
  measure_height_bounds(bty.grid);
  return bty;
}

}  // namespace abyx
