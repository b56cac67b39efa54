#include "influence/segment_reach.h"

#include <gtest/gtest.h>

#include <limits>

namespace abyx {
namespace {

TEST(SegmentReach, ValuesThatAreNotFiniteLeaveItUnbounded) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kNaN).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kInf).bounded);
  EXPECT_FALSE(segment_reach({kNaN, 0, 0}, {1, 0, 0}, 1.0f).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {0, 0, 0}, 1.0f).bounded);
}

}  // namespace
}  // namespace abyx
