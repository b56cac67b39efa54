#pragma once

#include <optional>

#include "bty/bty_cursor.h"
#include "bty/bty_field.h"
#include "common/vec3.h"
#include "rays/ray_state.h"

namespace abyx {

// Repairs the newest state of a ray that has crossed the surface or entered the bottom: puts it
// back on the boundary, mirrors the slowness, counts the reflection and keeps the beam frame
// consistent. Tests the surface first; moves the bathymetry cursor to the state's (x, y).
void reflect_boundaries(RayState& last_state, const BTYfield& bty, BTYCursor& bty_cursor);

// The bottom under a horizontal position, as evaluated in that position's bathymetry cell.
struct BottomSample {
  float depth = 0.0f;  // bottom depth (m, positive down)
  Vec3 normal;         // unit normal pointing down into the seabed
};

// The same repair, also handing back the bottom it evaluated under the state when it tested the
// bottom and left the state where it was; the next step starts there and need not evaluate it
// again. Empty after a reflection, or when the surface test decided.
std::optional<BottomSample> reflect_boundaries_keeping_bottom(RayState& last_state,
                                                              const BTYfield& bty,
                                                              BTYCursor& bty_cursor);

}  // namespace abyx
