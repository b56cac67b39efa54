#include "bty/sea_surface.h"

#include <algorithm>
#include <string>

#include "common/fault.h"
#include "common/fault_messages.h"

namespace abyx {

std::optional<HeightGrid> init_surface(const std::optional<SeaSurface>& surface) {
  if (!surface || !surface->grid_given) return std::nullopt;
  const std::size_t nx = surface->x_ati_m.size(), ny = surface->y_ati_m.size();
  if (nx == 0 || ny == 0 || surface->z_ati_m.size() / nx != ny ||
      surface->z_ati_m.size() % nx != 0) {
    throw Fault(std::string(kSurfaceShapeMismatchMessage));
  }
  const std::vector<float>& z = surface->z_ati_m;
  if (std::all_of(z.begin(), z.end(), [](float depth) { return depth == 0.0f; })) {
    return std::nullopt;
  }
  HeightGrid grid;
  grid.x = surface->x_ati_m;
  grid.y = surface->y_ati_m;
  grid.depth = z;  // [ix, iy] with y fastest, the layout of HeightGrid::index
  measure_height_bounds(grid);
  return grid;
}

std::optional<ReflectionTable> init_surface_table(const std::optional<SeaSurface>& surface) {
  if (!surface || !surface->reflection) return std::nullopt;
  const ReflectionTableConfig& table = *surface->reflection;
  const bool released = std::all_of(table.magnitude.begin(), table.magnitude.end(),
                                    [](float m) { return m == 1.0f; }) &&
                        std::all_of(table.phase_deg.begin(), table.phase_deg.end(),
                                    [](float p) { return p == 180.0f || p == -180.0f; });
  if (released) return std::nullopt;
  return make_reflection_table(table.angle_deg, table.magnitude, table.phase_deg);
}

}  // namespace abyx
