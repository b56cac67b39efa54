#include "rays/step_control.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace abyx {
namespace {

// Direction components at or below this (per metre of step) never end a step on a grid line.
inline constexpr float kMinGridDirection = 1e-9f;
// Steps to a grid line at or below this (m) are ignored: the point already lies on it.
inline constexpr float kMinGridStep = 1e-9f;
// The same two floors for the surface and the bottom plane.
inline constexpr float kMinBoundaryDirection = 1e-8f;
inline constexpr float kMinBoundaryStep = 1e-8f;
// No step is shorter than this fraction of the nominal step, so a ray always moves on.
inline constexpr float kMinStepFraction = 1e-6f;

// Keeps the shorter of the running step s and a candidate t that lies farther ahead than floor;
// a NaN or infinite candidate never wins.
void keep_shorter(float t, float floor, float& s) {
  if (t < s && t > floor) s = t;
}

// The step to the next bathymetry grid line ahead along one horizontal axis. An axis of a single
// node has no grid lines and returns the running step unchanged.
void reduce_to_bty_line(const std::vector<float>& axis, std::size_t i, float p, float d, float& s) {
  if (!(std::abs(d) > kMinGridDirection) || i + 1 >= axis.size()) return;
  const float line = d > 0.0f ? axis[i + 1] : axis[i];
  keep_shorter((line - p) / d, kMinGridStep, s);
}

}  // namespace

float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                const BTYCursor& bty_cursor, float h, const BottomSample& bottom) {
  float s = reduce_step_to_ssp_interfaces(pos, dir, ssp, ssp_cursor, h);

  // bathymetry grid lines ahead, in the cell the cursor holds
  reduce_to_bty_line(bty.x, bty_cursor.ix, pos.x, dir.x, s);
  reduce_to_bty_line(bty.y, bty_cursor.iy, pos.y, dir.y, s);

  // the sea surface, when heading up
  if (dir.z < -kMinBoundaryDirection) keep_shorter((0.0f - pos.z) / dir.z, kMinBoundaryStep, s);

  // the plane that touches the bottom below the current position
  const float den = dot(dir, bottom.normal);
  if (std::abs(den) > kMinBoundaryDirection) {
    keep_shorter((bottom.depth - pos.z) * bottom.normal.z / den, kMinBoundaryStep, s);
  }

  const float shortest = h * kMinStepFraction;
  return s < shortest ? shortest : s;
}

float reduce_step_to_boundaries(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                const SSPCursor& ssp_cursor, const BTYfield& bty,
                                BTYCursor& bty_cursor, float h) {
  // the grid lines are taken from the cell the cursor still holds from its last move; only the
  // bottom is evaluated in the cell of pos
  const BTYCursor line_cursor = bty_cursor;
  update_bty_cursor(pos, bty, bty_cursor);
  const BottomSample bottom{interpolate_bty_from_cursor(pos, bty, bty_cursor),
                            bottom_normal_from_cursor(pos, bty, bty_cursor)};
  return reduce_step_to_boundaries(pos, dir, ssp, ssp_cursor, bty, line_cursor, h, bottom);
}

}  // namespace abyx
