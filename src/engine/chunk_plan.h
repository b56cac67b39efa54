#pragma once

#include <cstddef>

namespace abyx {

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

// The chunks of ray_count rays. They depend on the ray count alone, so that the merge tree, and
// with it every rounding of the sums, is the same for any number of workers.
ChunkPlan plan_chunks(std::size_t ray_count);

}  // namespace abyx
