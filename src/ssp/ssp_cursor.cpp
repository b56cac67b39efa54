#include "ssp/ssp_cursor.h"

namespace abyx {

SSPCursor init_ssp_cursor(Vec3 pos, const SSPFields& ssp) {
  return {search_axis_cell(ssp.x, pos.x), search_axis_cell(ssp.y, pos.y),
          search_axis_cell(ssp.z, pos.z)};
}

}  // namespace abyx
