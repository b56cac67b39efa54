#pragma once

#include "bty/bty_cursor.h"
#include "bty/bty_field.h"
#include "common/vec3.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// Shortens the nominal step h (m) so that it ends on the next sound-speed plane, bathymetry grid
// line, the surface or the local bottom plane ahead along the unit tangent dir; never below h * 1e-6.
// Moves the bathymetry cursor to pos.
float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                BTYCursor& bty_cursor, float h);

}  // namespace abyx
