#include "rays/step_control.h"

namespace abyx {

float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                BTYCursor& bty_cursor, float h) {
  // the grid lines are taken from the cell the cursor still holds from its last move; only the
  // bottom is evaluated in the cell of pos
  const BTYCursor line_cursor = bty_cursor;
  update_bty_cursor(pos, bty, bty_cursor);
  const BottomSample bottom = sample_bottom_from_cursor(pos, bty, bty_cursor);
  return reduce_step_to_boundaries(pos, dir, ssp, ssp_cursor, bty, line_cursor, h, bottom);
}

}  // namespace abyx
