#pragma once

#include <optional>

#include "bty/bty_field.h"
#include "bty/height_cursor.h"
#include "common/ray_state.h"
#include "common/ray_trace.h"
#include "common/vec3.h"
#include "reflect/surface_reflection.h"

namespace abyx {

// What the repair of a state did: the bottom it evaluated under the state when it tested the bottom
// and left the state where it was, so that the next step need not evaluate it again (empty after a
// reflection, or when the surface test decided); and the hit, when it reflected the state at the
// bottom, or at a surface with a reflection table (surface_hit, its normal pointing up).
struct BoundaryRepair {
  std::optional<HeightSample> bottom;
  std::optional<BottomHit> hit;
  std::optional<BottomHit> surface_hit{};
};

// Repairs the newest state of a ray that has crossed the surface or entered the bottom: puts it
// back on the boundary, mirrors the slowness, counts the reflection and keeps the beam frame
// consistent. Tests the surface first; the bathymetry cursor must already hold the cell of the
// state's (x, y). The tests run after every step and are inline; the repairs below run only at a
// reflection.
inline BoundaryRepair reflect_boundaries(
    RayState& last_state, const BTYfield& bty, const HeightCursor& bty_cursor,
    SurfaceCoefficient surface_coefficient = SurfaceCoefficient::PressureRelease);

// Repairs the newest state of a ray under a shaped surface as reflect_boundaries does under the
// flat one, the surface being the sample of its grid over the state's (x, y).
inline BoundaryRepair reflect_boundaries_under(
    RayState& last_state, const HeightSample& surface, const BTYfield& bty,
    const HeightCursor& bty_cursor,
    SurfaceCoefficient surface_coefficient = SurfaceCoefficient::PressureRelease);

// The repair at the surface of a state with z <= 0 heading up (slowness z < 0): back to where the
// straight line along the slowness meets z = 0, just below it, slowness z mirrored, one more
// surface reflection, phase + pi (or, under a table, the hit returned instead), frame updated.
std::optional<BottomHit> mirror_at_surface(RayState& last_state,
                                           SurfaceCoefficient surface_coefficient);

// The repair at the bottom of a state with z >= depth heading into it (slowness . normal > 0):
// back onto the bottom's tangent plane and just inside the water, slowness mirrored about the
// normal, one more bottom reflection, frame updated. Returns what the hit records.
BottomHit mirror_at_bottom(RayState& last_state, const HeightSample& bottom);

// The repair at a shaped surface of a state at or above it heading up through it (slowness .
// normal < 0 with the sample's normal pointing down): as at the bottom, about the surface's normal,
// with one more surface reflection and the surface's reflection phase or hit, as at the flat one.
std::optional<BottomHit> mirror_at_shaped_surface(RayState& last_state, const HeightSample& surface,
                                                  SurfaceCoefficient surface_coefficient);

namespace detail {

// The bottom test of both repairs: reflects a state at or below the bottom heading into it.
inline BoundaryRepair reflect_at_bottom(RayState& last_state, const BTYfield& bty,
                                        const HeightCursor& bty_cursor) {
  const HeightSample bottom = sample_height_from_cursor(last_state.pos, bty.grid, bty_cursor);
  // in the water, or below the bottom but already heading back up: nothing to repair
  if (!(last_state.pos.z >= bottom.depth)) return {bottom, std::nullopt};
  if (!(dot(last_state.slowness, bottom.normal) > 0.0f)) return {bottom, std::nullopt};
  return {std::nullopt, mirror_at_bottom(last_state, bottom)};
}

}  // namespace detail

inline BoundaryRepair reflect_boundaries(RayState& last_state, const BTYfield& bty,
                                         const HeightCursor& bty_cursor,
                                         SurfaceCoefficient surface_coefficient) {
  // at or above z = 0 and heading up
  if (last_state.pos.z <= 0.0f && last_state.slowness.z < 0.0f) {
    return {std::nullopt, std::nullopt, mirror_at_surface(last_state, surface_coefficient)};
  }
  return detail::reflect_at_bottom(last_state, bty, bty_cursor);
}

inline BoundaryRepair reflect_boundaries_under(RayState& last_state, const HeightSample& surface,
                                               const BTYfield& bty, const HeightCursor& bty_cursor,
                                               SurfaceCoefficient surface_coefficient) {
  // at or above the surface and heading up through it
  if (last_state.pos.z <= surface.depth && dot(last_state.slowness, surface.normal) < 0.0f) {
    return {std::nullopt, std::nullopt,
            mirror_at_shaped_surface(last_state, surface, surface_coefficient)};
  }
  return detail::reflect_at_bottom(last_state, bty, bty_cursor);
}

}  // namespace abyx
