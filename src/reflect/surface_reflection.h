#pragma once

#include "common/constants.h"

namespace abyx {

// The sea surface reflects as a pressure-release boundary: R = -1 at every angle and frequency,
// which a ray carries as a boundary phase of pi added at each surface reflection. This is the one
// place the surface's coefficient is decided; a surface whose coefficient depended on angle or
// frequency would record its hits and weigh them per frequency, as the bottom's are.
inline constexpr float kSurfaceReflectionPhase = kPi;

}  // namespace abyx
