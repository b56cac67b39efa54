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

// The launch list is cut into at most this many chunks, whatever the pool: enough that the last
// chunks, which leave the other workers idle, are short even where some azimuths cost several
// times others, few enough that clearing and merging their fields costs little.
inline constexpr std::size_t kMaxChunks = 128;

// How the launch list is cut: consecutive chunks of chunk_size rays, the last one maybe shorter.
struct ChunkPlan {
  std::size_t chunk_size = 1;   // rays per chunk: ceil(N / kMaxChunks), rounded up to whole
                                // side-by-side groups when it is a group or more; 1 when N = 0
  std::size_t chunk_count = 0;  // ceil(N / chunk_size), at most kMaxChunks
};

// Converts the elevations, then the azimuths, to radians and takes their spacings.
LaunchFan make_launch_fan(const Source& source);

// 2 pi f for every frequency, in configuration order (rad/s).
std::vector<float> angular_frequencies(const std::vector<float>& freq_hz);

// Every (azimuth, elevation) pair, azimuth-major: ray a * N_el + e is (azimuth a, elevation e).
std::vector<Launch> launch_list(const LaunchFan& fan);

// The chunks of ray_count rays. They depend on the ray count alone, so that the merge tree, and
// with it every rounding of the sums, is the same for any number of workers.
ChunkPlan plan_chunks(std::size_t ray_count);

}  // namespace abyx
