#include "reflect/reflect_boundaries.h"

#include <cmath>
#include <limits>
#include <optional>

#include "common/constants.h"
#include "common/vec3.h"
#include "reflect/surface_reflection.h"

namespace abyx {
namespace {

// The reflected state sits this far (m) inside the water: below the surface, or back along the
// bottom normal.
inline constexpr float kSurfaceOffset = 1e-9f;
inline constexpr float kBottomOffset = 1e-9f;
// Slowness components along a boundary's normal (s/m) at or below this are grazing: the position
// is then dropped onto the boundary's depth instead of being moved back along the ray.
inline constexpr float kGrazingSlowness = 1e-12f;
inline constexpr Vec3 kSurfaceNormal{0.0f, 0.0f, -1.0f};

// Keeps the ray-centred frame consistent across a reflection with outward normal n of a ray whose
// slowness before the reflection was p_in (the state already holds the reflected one):
// re-expresses P through the frame spanned by the plane of incidence (a rotation that leaves it
// unchanged up to rounding) and sets phi so that the frame is the mirror image of the incident one.
void update_frame(RayState& state, Vec3 p_in, Vec3 n) {
  const Vec3 t = state.c * p_in;
  Vec3 u = cross(n, t);
  const float uu = dot(u, u);
  // At normal incidence there is no plane of incidence; the frame is then left as it is instead of
  // collapsing P to zero. A squared length in the subnormal range is treated the same way, since
  // its normalisation would be inaccurate.
  if (!(uu >= std::numeric_limits<float>::min())) return;
  const float length = std::sqrt(uu);
  u = {u.x / length, u.y / length, u.z / length};
  const Vec3 w = cross(t, u);

  const RayBasis basis = ray_basis(p_in, state.c, state.phi);
  const float a = -dot(basis.e1, w);
  const float b = -dot(basis.e2, w);
  const float d = dot(basis.e2, u);

  // both solutions of the dynamic ray equations take the same change of frame
  const auto reframe = [a, b, d](Vec2& p1, Vec2& p2) {
    const Vec2 p1_frame = a * p1 + b * p2;
    const Vec2 p2_frame = d * p2 - b * p1;
    p1 = a * p1_frame - b * p2_frame;
    p2 = b * p1_frame + d * p2_frame;
  };
  reframe(state.p1, state.p2);
  reframe(state.p1w, state.p2w);

  // The frame after the reflection is the mirror image of the one before, right-handed again:
  // e1' = -R e1 = cos(phi') e1(0) - sin(phi') e2(0), with R the mirror and e1(0), e2(0) the
  // reflected ray's frame at phi = 0. (Turning phi by twice the angle between e1 and the plane of
  // incidence loses the side of the plane e1 lies on, so that a ray and its mirror image turned
  // their frames alike, and phi grew by 2 pi at every surface reflection, gathering rounding.)
  const Vec3 mirrored = basis.e1 - (2.0f * dot(basis.e1, n)) * n;
  const RayBasis reflected = ray_basis(state.slowness, state.c, 0.0f);
  state.phi = std::atan2(dot(mirrored, reflected.e2), -dot(mirrored, reflected.e1));
}

// A state moved back along its ray by s * slowness (s < 0) onto a boundary takes its travel time
// and its spreading back with it, as over the straight stretch of water it retraces: a step that
// ends beyond the boundary would otherwise keep the time and the Q of its whole length.
void retrace_along_ray(RayState& state, Vec3 p, float s) {
  state.tau = state.tau + s * dot(p, p);
  // The first step from a source on the boundary it crosses (at the surface, heading up) comes
  // back to about the source; retraced along its final slowness its time can fall below zero,
  // which no travel time may.
  if (state.tau < 0.0f) state.tau = 0.0f;
  const float h = state.c * s * norm(p);  // c times the signed arc length
  state.q1 = state.q1 + h * state.p1;
  state.q2 = state.q2 + h * state.p2;
  state.q1w = state.q1w + h * state.p1w;
  state.q2w = state.q2w + h * state.p2w;
}

// Puts a state that has crossed a boundary back on the plane touching it at the state's (x, y):
// back along the ray when it meets the plane at more than a grazing angle, else straight onto the
// boundary's depth; then `offset` (m) inside the water along the outward normal n. Mirrors the
// slowness about n and keeps the frame consistent; returns the incident slowness.
Vec3 mirror_at_plane(RayState& state, float depth, Vec3 n, float offset) {
  const Vec3 p = state.slowness;
  const float pn = dot(p, n);
  if (pn > kGrazingSlowness) {
    const float s = n.z * (depth - state.pos.z) / pn;
    state.pos = state.pos + s * p;
    retrace_along_ray(state, p, s);
  } else {
    state.pos.z = depth;
  }
  state.pos = state.pos - offset * n;
  state.slowness = p - (2.0f * pn) * n;
  update_frame(state, p, n);
  return p;
}

// Counts a surface reflection of a state whose slowness was p_in, the surface's normal up out of
// the water: a phase of pi, or the hit for the surface's table.
std::optional<BottomHit> count_surface_reflection(RayState& state, Vec3 p_in, Vec3 up,
                                                  SurfaceCoefficient surface_coefficient) {
  state.n_surface += 1;
  if (surface_coefficient == SurfaceCoefficient::PressureRelease) {
    state.phase += kSurfaceReflectionPhase;
    return std::nullopt;
  }
  return BottomHit{up, p_in, state.c};
}

}  // namespace

std::optional<BottomHit> mirror_at_surface(RayState& state,
                                           SurfaceCoefficient surface_coefficient) {
  const Vec3 p = state.slowness;
  const float s = -state.pos.z / p.z;
  state.pos.x = state.pos.x + p.x * s;
  state.pos.y = state.pos.y + p.y * s;
  state.pos.z = kSurfaceOffset;
  retrace_along_ray(state, p, s);
  state.slowness.z = -p.z;
  const std::optional<BottomHit> hit =
      count_surface_reflection(state, p, kSurfaceNormal, surface_coefficient);
  update_frame(state, p, kSurfaceNormal);
  return hit;
}

BottomHit mirror_at_bottom(RayState& state, const HeightSample& bottom) {
  const Vec3 p = mirror_at_plane(state, bottom.depth, bottom.normal, kBottomOffset);
  state.n_bottom += 1;
  return {bottom.normal, p, state.c};
}

std::optional<BottomHit> mirror_at_shaped_surface(RayState& state, const HeightSample& surface,
                                                  SurfaceCoefficient surface_coefficient) {
  const Vec3 up = -1.0f * surface.normal;  // out of the water
  const Vec3 p = mirror_at_plane(state, surface.depth, up, kSurfaceOffset);
  return count_surface_reflection(state, p, up, surface_coefficient);
}

}  // namespace abyx
