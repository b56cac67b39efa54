#pragma once

#include "bty/bty_cursor.h"
#include "bty/bty_field.h"
#include "common/vec3.h"
#include "reflect/reflect_boundaries.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// Shortens the nominal step h (m) so that it ends on the next sound-speed plane, bathymetry grid
// line, the surface or the local bottom plane ahead along the unit tangent dir; the result is never
// below h / 10^6. Moves the bathymetry cursor to pos.
float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                BTYCursor& bty_cursor, float h);

// The same with the bottom under pos already known: the bathymetry cursor already holds the cell of
// pos and is not moved.
float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                const BTYCursor& bty_cursor, float h, const BottomSample& bottom);

}  // namespace abyx
