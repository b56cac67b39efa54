#pragma once

#include <cstddef>
#include <vector>

#include "common/constants.h"
#include "input/simulation_config.h"

namespace abyx {

// The source's launch angles in radians, in configuration order, with the fan's spacings.
struct LaunchFan {
  std::vector<float> elevations_rad;  // launch elevations (rad, positive down)
  std::vector<float> azimuths_rad;    // launch azimuths (rad, 0 along +y)
  float d_elevation_rad = 0.0f;       // |first two elevations' difference|, else one degree
  float d_azimuth_rad = 0.0f;         // |first two azimuths' difference|, else one degree
};

// One ray of the fan.
struct Launch {
  float azimuth_rad = 0.0f;    // launch azimuth (rad)
  float elevation_rad = 0.0f;  // launch elevation (rad)
};

// Converts the elevations, then the azimuths, to radians and takes their spacings.
LaunchFan make_launch_fan(const Source& source);

// 2 pi f for every frequency, in configuration order (rad/s).
std::vector<float> angular_frequencies(const std::vector<float>& freq_hz);

// Every (azimuth, elevation) pair, azimuth-major: ray a * N_el + e is (azimuth a, elevation e).
std::vector<Launch> launch_list(const LaunchFan& fan);

// The amplitude factor 10^(L/20) of every launch, azimuth-major, from the validated pattern's
// level L (dB) at its direction: linear between the pattern's nodes in elevation (and azimuth),
// held beyond its ends. Azimuths are periodic: each launch azimuth is taken into the 360 deg from
// the pattern's first azimuth before the look-up.
std::vector<float> launch_gains(const BeamPattern& pattern, const Source& source);

}  // namespace abyx
