#pragma once

#include "common/float4.h"
#include "common/vec3.h"

// What both beam sums ask of a segment of the ray: whether it is long enough to take receivers,
// how its search radius is widened, and which receivers its successor on the leg takes instead.

namespace abyx {

inline constexpr float kMinSegmentLength = 1e-4f;  // segments not longer take no receivers (m)
inline constexpr float kRadiusMargin = 1e-6f;      // added to the search radius (m)

// The lanes at or past the start plane of the next segment of the leg, which leaves `end` along
// `next`: those receivers are the next segment's (by its start test, computed as it computes it),
// not this one's. The foot on a segment rounds to its end for receivers just beyond it, so one
// level with a state was counted twice, or not at all, by which side of the ray it lay on.
template <class V>
inline MaskOf<V> taken_by_next(V x, V y, V z, Vec3 end, Vec3 next) {
  const auto at = [](float s) { return lane_splat<V>(s); };
  const V beyond =
      (x - at(end.x)) * at(next.x) + (y - at(end.y)) * at(next.y) + (z - at(end.z)) * at(next.z);
  return beyond >= at(0.0f);
}

}  // namespace abyx
