#include "engine/launch_fan.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "rays/trace_ray.h"

namespace abyx {
namespace {

// The chunks cover every ray once, at most kMaxChunks of them, none empty; up to kMaxChunks rays
// go one to a chunk, and chunks of a side-by-side group or more are whole groups.
TEST(PlanChunks, CoversTheRaysInWholeGroups) {
  for (const std::size_t rays : {1u, 3u, 128u, 129u, 511u, 512u, 513u, 29160u, 43560u, 1000003u}) {
    const ChunkPlan plan = plan_chunks(rays);
    if (rays <= kMaxChunks) {
      EXPECT_EQ(plan.chunk_size, 1u);
    } else if (plan.chunk_size >= kSideBySideRays) {
      EXPECT_EQ(plan.chunk_size % kSideBySideRays, 0u) << rays;
    }
    EXPECT_LE(plan.chunk_count, kMaxChunks) << rays;
    EXPECT_GE(plan.chunk_count * plan.chunk_size, rays) << rays;
    EXPECT_LT((plan.chunk_count - 1) * plan.chunk_size, rays) << rays;
  }
  EXPECT_EQ(plan_chunks(0).chunk_count, 0u);
}

}  // namespace
}  // namespace abyx
