#include "bty/bty_cursor.h"

namespace abyx {
BTYCursor init_bty_cursor(Vec3 pos, const BTYfield& bty) {
  return {search_axis_cell(bty.x, pos.x), search_axis_cell(bty.y, pos.y)};
}

}  // namespace abyx
