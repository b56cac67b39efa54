#include "model/model.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fixtures.h"

namespace abyx {
namespace {

TEST(BuildModel, IndexesOnlyAnArrayAndListsTheLaunchesAzimuthMajor) {
  const Model array = build_model(
      fixtures::small_ocean("Array", {100, 200, 300}, {5, 5, 5}, {10, 20, 30}));  // any case
  EXPECT_TRUE(array.layout == ReceiverLayout::Array && array.array_index.point_count == 3);
  for (const char* other : {"grid", "polar"}) {
    const Model model = build_model(fixtures::small_ocean(other, {100, 200}, {5}, {10}));
    EXPECT_TRUE(model.layout != ReceiverLayout::Array && model.array_index.levels.empty());
  }
  // the three elevations of the first azimuth, then those of the second
  ASSERT_EQ(array.launches.size(), 6u);
  EXPECT_EQ(array.launches[2].azimuth_rad, 0.0f);
  EXPECT_NEAR(array.launches[3].azimuth_rad, M_PI / 2.0, 1e-6);
  EXPECT_NEAR(array.launches[3].elevation_rad, -M_PI / 18.0, 1e-6);
}

}  // namespace
}  // namespace abyx
