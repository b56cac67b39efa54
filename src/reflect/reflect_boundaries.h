#pragma once

#include "bty/bty_cursor.h"
#include "bty/bty_field.h"
#include "rays/ray_state.h"

namespace abyx {

// Repairs the newest state of a ray that has crossed the surface or entered the bottom: puts it back
// on the boundary, mirrors the slowness, counts the reflection and keeps the beam frame consistent.
// Tests the surface first; moves the bathymetry cursor to the state's (x, y).
void reflect_boundaries(RayState& last_state, const BTYfield& bty, BTYCursor& bty_cursor);

}  // namespace abyx
