#pragma once

#include <vector>

#include "rays/trace_ray.h"

// An entry point of the tracer for tests: every step through the general loop.

namespace abyx {

// trace_ray without a cut-off, every step shortened, moved and reflected by the general tests,
// where trace_ray takes straight runs through uniform cells without them; both give the same
// states, bit for bit.
void trace_ray_step_by_step(const BeamSettings& beam, Vec3 source, const SSPFields& ssp,
                            const BTYfield& bty, float azimuth_rad, float elevation_rad,
                            std::vector<RayState>& states);

}  // namespace abyx
