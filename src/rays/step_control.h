#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "bty/bty_field.h"
#include "bty/height_cursor.h"
#include "common/float4.h"
#include "common/vec3.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// The sea surface a ray runs under: the flat one at z = 0, or a shaped one given on a grid.
enum class SurfaceShape { Flat, Shaped };

// Where a step starts: the position, the unit tangent the step goes along, the cells whose grid
// lines it may end on, the bottom under the position and, under a shaped surface, the surface over
// it.
struct StepStart {
  Vec3 pos;                 // (m)
  Vec3 dir;                 // unit tangent
  SSPCursor ssp_cursor;     // the sound-speed cell of pos
  HeightCursor bty_cursor;  // the bathymetry cell whose grid lines count
  HeightSample bottom;      // the bottom under pos
  HeightSample surface;     // a shaped surface over pos (normal pointing down); unread when flat
};

// Shortens the nominal step h (m) from `start` so that it ends on the next sound-speed plane,
// bathymetry grid line, the surface (the plane touching a shaped one over pos) or the local bottom
// plane ahead; the result is never below h / 10^6.
template <SurfaceShape kSurface = SurfaceShape::Flat>
inline float reduce_step_to_boundaries(const StepStart& start, const SSPFields& ssp,
                                       const BTYfield& bty, float h);

// The nominal step h (m) shortened, where the sound speed changes fast, to the length over which
// the slowness changes by a tenth of itself (a tenth of c / |grad c|): a longer step in a thin
// layer or a steep turn of the gradient would carry the slowness far from 1 / c and the ray
// through a turn it should take. h itself where the bound is NaN or below h / 10^6.
inline float turn_limited_step(Vec3 dslowness, float c, float h);

// Step control runs once per ray step, so it is defined here and always inlined into the tracing
// loop: left to itself the compiler called it, and each plane's candidate, out of line.
namespace detail {

// Direction components at or below this (per metre of step) never end a step on a grid line.
inline constexpr float kMinGridDirection = 1e-9f;
// Steps to a grid line at or below this (m) are ignored: the point already lies on it.
inline constexpr float kMinGridStep = 1e-9f;
// The same two floors for the surface and the bottom plane.
inline constexpr float kMinBoundaryDirection = 1e-8f;
inline constexpr float kMinBoundaryStep = 1e-8f;
// No step is shorter than this fraction of the nominal step, so a ray always moves on.
inline constexpr float kMinStepFraction = 1e-6f;

// The fraction of its own length the slowness may change by over a step.
inline constexpr float kMaxSlownessTurn = 0.1f;

// A candidate end of the step: the distance ahead is (target - p) / d; it counts only when valid.
struct StepCandidate {
  float target = 0.0f;  // coordinate of the plane or line (m); p when not valid
  bool valid = false;   // the direction crosses it and the grid has it
};

// The sound-speed plane ahead along one axis, in the cell of the cursor (pulled into the axis). A
// point on the face it heads out through keeps its cell, so the step runs into the next cell: it
// ends on that cell's far face, or it would cross a cell thinner than itself without taking the
// turn of the speed there (a thin layer, or the turn of a gradient at a node).
[[gnu::always_inline]] inline StepCandidate ssp_plane_ahead(const std::vector<float>& a,
                                                            std::size_t cell, float p, float d) {
  if (!(std::abs(d) > kMinGridDirection) || a.size() < 2) return {p, false};
  const std::size_t i = cell < a.size() - 2 ? cell : a.size() - 2;
  if (d > 0.0f) return {p >= a[i + 1] && i + 2 < a.size() ? a[i + 2] : a[i + 1], true};
  return {p <= a[i] && i > 0 ? a[i - 1] : a[i], true};
}

// The bathymetry grid line ahead along one horizontal axis; an axis of a single node has none.
[[gnu::always_inline]] inline StepCandidate bty_line_ahead(const std::vector<float>& a,
                                                           std::size_t i, float p, float d) {
  if (!(std::abs(d) > kMinGridDirection) || i + 1 >= a.size()) return {p, false};
  return {d > 0.0f ? a[i + 1] : a[i], true};
}

}  // namespace detail

inline float turn_limited_step(Vec3 dslowness, float c, float h) {
  // (|grad c| / c)^2: the squared rate at which the slowness turns, per metre
  const float rate2 = dot(dslowness, dslowness) * (c * c);
  constexpr float kTurn2 = detail::kMaxSlownessTurn * detail::kMaxSlownessTurn;
  if (!(h * h * rate2 > kTurn2)) return h;  // also for a NaN
  // The steps follow the gradient down to the shortest step of all: a longer one leaves the
  // slowness far from 1 / c and takes the ray where it can never be (into water faster than its
  // horizontal slowness allows, above the surface). A ray that crawls through such a gradient, or
  // along a duct thinner than a millimetre, ends at max_steps. A gradient that turns the slowness
  // further within that shortest step (speeds that jump across less than a micrometre) is beyond
  // what steps can follow: the equations take it whole, and the states that run beyond single
  // precision say so.
  const float turn_m = detail::kMaxSlownessTurn / std::sqrt(rate2);
  return turn_m >= h * detail::kMinStepFraction ? turn_m : h;
}

template <SurfaceShape kSurface>
[[gnu::always_inline]] inline float reduce_step_to_boundaries(const StepStart& start,
                                                              const SSPFields& ssp,
                                                              const BTYfield& bty, float h) {
  using detail::StepCandidate;
  const Vec3 pos = start.pos;
  const Vec3 dir = start.dir;
  const SSPCursor& ssp_cursor = start.ssp_cursor;
  const HeightCursor& bty_cursor = start.bty_cursor;
  const HeightSample& bottom = start.bottom;
  // the three sound-speed planes, then the two bathymetry grid lines of the cursor's cell
  const StepCandidate sx = detail::ssp_plane_ahead(ssp.x, ssp_cursor.ix, pos.x, dir.x);
  const StepCandidate sy = detail::ssp_plane_ahead(ssp.y, ssp_cursor.iy, pos.y, dir.y);
  const StepCandidate sz = detail::ssp_plane_ahead(ssp.z, ssp_cursor.iz, pos.z, dir.z);
  const StepCandidate bx = detail::bty_line_ahead(bty.grid.x, bty_cursor.ix, pos.x, dir.x);
  const StepCandidate by = detail::bty_line_ahead(bty.grid.y, bty_cursor.iy, pos.y, dir.y);
  // the sea surface (or the plane touching it over pos) when heading up through it, and the
  // plane that touches the bottom below pos
  float surface_rise = 0.0f - pos.z;  // distance to the surface along its normal, times n_z
  float surface_den = dir.z;          // the direction's component along the surface's normal
  if constexpr (kSurface == SurfaceShape::Shaped) {
    surface_rise = (start.surface.depth - pos.z) * start.surface.normal.z;
    surface_den = dot(dir, start.surface.normal);
  }
  const bool surface = surface_den < -detail::kMinBoundaryDirection;
  const float den = dot(dir, bottom.normal);
  const bool bottom_plane = std::abs(den) > detail::kMinBoundaryDirection;

  // the seven distances in two vector divisions, each lane rounded as its scalar division
  const Float4 grid_t =
      Float4{sx.target - pos.x, sy.target - pos.y, sz.target - pos.z, surface_rise} /
      Float4{dir.x, dir.y, dir.z, surface_den};
  const Float4 line_t =
      Float4{bx.target - pos.x, by.target - pos.y, (bottom.depth - pos.z) * bottom.normal.z, 0.0f} /
      Float4{dir.x, dir.y, den, 1.0f};

  // The shortest candidate that lies farther ahead than its floor, or h. Taking the minimum in any
  // order gives the same result as shortening one candidate after the other; a NaN or infinite
  // candidate never wins.
  const float candidates[7] = {grid_t[0], grid_t[1], grid_t[2], line_t[0],
                               line_t[1], grid_t[3], line_t[2]};
  const bool valid[7] = {sx.valid, sy.valid, sz.valid, bx.valid, by.valid, surface, bottom_plane};
  const float floors[7] = {detail::kMinGridStep,    detail::kMinGridStep, detail::kMinGridStep,
                           detail::kMinGridStep,    detail::kMinGridStep, detail::kMinBoundaryStep,
                           detail::kMinBoundaryStep};
  float s = h;
  for (int k = 0; k < 7; ++k) {
    const float t = candidates[k];
    s = valid[k] && t < s && t > floors[k] ? t : s;
  }

  const float shortest = h * detail::kMinStepFraction;
  return s < shortest ? shortest : s;
}

}  // namespace abyx
