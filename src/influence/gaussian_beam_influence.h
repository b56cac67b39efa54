#pragma once

#include <span>
#include <vector>

#include "bty/bty_field.h"
#include "influence/pressure_field.h"
#include "rays/ray_state.h"

namespace abyx {

// Launch geometry of the ray whose beam is summed, in radians.
struct BeamLaunch {
  float elevation_rad = 0.0f;    // launch elevation beta
  float d_azimuth_rad = 0.0f;    // azimuth spacing of the fan
  float d_elevation_rad = 0.0f;  // elevation spacing of the fan
};

// Adds the Gaussian beam around one traced ray to the field, for every angular frequency (rad/s).
// Rescales amp, q1, q2 and rewrites det_q of the states in place.
void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch);

}  // namespace abyx
