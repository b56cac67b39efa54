#pragma once

#include "common/constants.h"

namespace abyx {

// By default the sea surface reflects as a pressure-release boundary: R = -1 at every angle and
// frequency, which a ray carries as a boundary phase of pi added at each surface reflection. A
// surface with a reflection table instead records its hits, which the beams weigh per frequency
// with the table's coefficient, as they weigh the bottom's.
inline constexpr float kSurfaceReflectionPhase = kPi;

// How a ray carries its surface reflections: as the phase of pi, or as hits for a table.
enum class SurfaceCoefficient { PressureRelease, Table };

}  // namespace abyx
