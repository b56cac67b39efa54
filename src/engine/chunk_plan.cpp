#include "engine/chunk_plan.h"

#include "rays/trace_ray.h"

namespace abyx {
namespace {

std::size_t ceil_div(std::size_t n, std::size_t d) { return (n + d - 1) / d; }

}  // namespace

ChunkPlan plan_chunks(std::size_t ray_count) {
  if (ray_count == 0) return {1, 0};
  // a chunk of a group or more is a whole number of the groups traced side by side, so that only
  // the last chunk may end on a short group; a few rays stay in chunks of one to three, spread
  // over as many workers
  const std::size_t even = ceil_div(ray_count, kMaxChunks);
  const std::size_t size =
      even < kSideBySideRays ? even : ceil_div(even, kSideBySideRays) * kSideBySideRays;
  return {size, ceil_div(ray_count, size)};
}

}  // namespace abyx
