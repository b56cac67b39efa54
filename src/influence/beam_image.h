#pragma once

#include <cstdint>
#include <vector>

#include "common/ray_state.h"
#include "common/vec3.h"

namespace abyx {

// A leg of a ray is a stretch between two reflections (or the launch, or the end of the trace).
// Where it starts and ends, as bits of one mark per segment.
enum LegEnds : std::uint8_t {
  kLegStartsAtSurface = 1,
  kLegStartsAtBottom = 2,
  kLegEndsAtSurface = 4,
  kLegEndsAtBottom = 8,
};

// The plane a beam is mirrored in to add its image: a point on it and its unit normal.
struct BeamMirror {
  Vec3 point;
  Vec3 normal;
};

inline Vec3 mirror_point(const BeamMirror& mirror, Vec3 x) {
  return x - (2.0f * dot(x - mirror.point, mirror.normal)) * mirror.normal;
}
inline Vec3 mirror_direction(const BeamMirror& mirror, Vec3 d) {
  return d - (2.0f * dot(d, mirror.normal)) * mirror.normal;
}

// The LegEnds of the leg of every segment, indexed by the segment's end state (entry 0 unused).
void mark_leg_ends(const std::vector<RayState>& states, std::vector<std::uint8_t>& marks);

}  // namespace abyx
