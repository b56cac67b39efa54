#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/ray_state.h"
#include "common/vec3.h"

namespace abyx {

// What a bottom reflection (or a reflection at a surface with a table) records for its reflection
// coefficient.
struct BottomHit {
  Vec3 normal;       // boundary normal used, pointing out of the water (into the bottom, up at the
                     // surface)
  Vec3 slowness_in;  // slowness before the reflection (s/m)
  float c = 0.0f;    // sound speed of the state (m/s)
};

// The bottom reflections of one ray, kept beside its states: the index of the state each one made,
// in the order the ray made them, and what it recorded. The tracer writes them; the cut-off and
// the beam sums read them.
struct BottomHits {
  std::vector<std::size_t> states;
  std::vector<BottomHit> hits;
};

inline void clear_bottom_hits(BottomHits& bottom_hits) {
  bottom_hits.states.clear();
  bottom_hits.hits.clear();
}

inline void record_bottom_hit(BottomHits& bottom_hits, std::size_t state, const BottomHit& hit) {
  bottom_hits.states.push_back(state);
  bottom_hits.hits.push_back(hit);
}

// The hit the ray made at a state, if any.
inline const BottomHit* bottom_hit_at(const BottomHits& bottom_hits, std::size_t state) {
  const auto at = std::lower_bound(bottom_hits.states.begin(), bottom_hits.states.end(), state);
  if (at == bottom_hits.states.end() || *at != state) return nullptr;
  return &bottom_hits.hits[static_cast<std::size_t>(at - bottom_hits.states.begin())];
}

// One traced ray: its states, the launch state first, and its bottom hits, and its surface hits
// under a surface with a reflection table (none under a pressure-release one, whose reflections
// the states carry as phase). The caller owns it and reuses it from ray to ray: the lists are
// cleared first and keep their capacity, so a worker pays for growing them only once. A state
// makes at most one reflection, so both lists together hold no more hits than states.
struct RayTrace {
  std::vector<RayState> states;
  BottomHits bottom_hits;
  BottomHits surface_hits{};
  // The cut-off's product of reflection magnitudes so far (the bottom's, and the surface's under
  // a table), per frequency: the ray ends where it falls below the beam's min_amplitude at every
  // frequency (never without frequencies).
  std::vector<float> remaining{};
};

}  // namespace abyx
