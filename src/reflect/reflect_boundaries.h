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

// The same repair, also handing back the bottom it evaluated under the state when it tested the
// bottom and left the state where it was; the next step starts there and need not evaluate it
// again. Empty after a reflection, or when the surface test decided.
std::optional<BottomSample> reflect_boundaries_keeping_bottom(RayState& last_state,
                                                              const BTYfield& bty,
                                                              BTYCursor& bty_cursor);

// The same repair for a state whose (x, y) the cursor already holds (the tracing loop has just
// walked it there), so the cursor is not moved again. This is the tracing loop's version: the
// tests of every step are inline, the repairs below run only at a reflection.
inline std::optional<BottomSample> reflect_boundaries_in_cell(RayState& last_state,
                                                              const BTYfield& bty,
                                                              const BTYCursor& bty_cursor);

// The repair at the surface of a state with z <= 0 heading up (slowness z < 0): back to where the
// straight line along the slowness meets z = 0, just below it, slowness z mirrored, one more
// surface reflection, phase + pi, frame updated.
void mirror_at_surface(RayState& last_state);

// The repair at the bottom of a state with z >= depth heading into it (slowness . normal > 0):
// back onto the bottom's tangent plane and just inside the water, slowness mirrored about the
// normal, one more bottom reflection, the hit recorded, frame updated.
void mirror_at_bottom(RayState& last_state, const BottomSample& bottom);

namespace detail {

// The surface test: at or above z = 0 and heading up.
inline bool heads_out_of_the_surface(const RayState& state) {
  return state.pos.z <= 0.0f && state.slowness.z < 0.0f;
}

}  // namespace detail

inline std::optional<BottomSample> reflect_boundaries_in_cell(RayState& last_state,
                                                              const BTYfield& bty,
                                                              const BTYCursor& bty_cursor) {
  last_state.bottom_hit.reset();
  if (detail::heads_out_of_the_surface(last_state)) {
    mirror_at_surface(last_state);
    return std::nullopt;
  }
  const BottomSample bottom = sample_bottom_from_cursor(last_state.pos, bty, bty_cursor);
  // in the water, or below the bottom but already heading back up: nothing to repair
  if (!(last_state.pos.z >= bottom.depth)) return bottom;
  if (!(dot(last_state.slowness, bottom.normal) > 0.0f)) return bottom;
  mirror_at_bottom(last_state, bottom);
  return std::nullopt;
}

}  // namespace abyx
