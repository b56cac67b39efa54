#pragma once

#include <cstdint>
#include <vector>

#include "bty/bty_field.h"
#include "common/vec3.h"
#include "input/simulation_config.h"
#include "rays/ray_state.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// The stored path of one ray: its launch index and the positions of its states after reflection.
struct RayPath {
  std::uint64_t ray_index = 0;  // position in the azimuth-major launch list
  std::vector<Vec3> points;     // x, y, z (m), launch point first
};

// Traces one ray from the source, launched at azimuth (0 along +y, pi/2 along +x) and elevation
// (positive downwards) in radians, until max_steps or max_range_m; the list is never empty.
std::vector<RayState> trace_ray(const SimulationConfig& config, const SSPFields& ssp,
                                const BTYfield& bty, float azimuth_rad, float elevation_rad);

}  // namespace abyx
