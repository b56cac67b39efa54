#include "bty/height_cursor.h"

namespace abyx {

HeightCursor init_height_cursor(Vec3 pos, const HeightGrid& grid) {
  return {search_axis_cell(grid.x, pos.x), search_axis_cell(grid.y, pos.y)};
}

}  // namespace abyx
