#include "model/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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

// Levels at azimuths 0 and 90 by elevations 0 and 10; launch azimuths 405 and -315 lie at 45.
TEST(BuildModel, GainsInterpolateThePatternInDecibelsAndTakeAzimuthsRoundTheCircle) {
  SimulationConfig config = fixtures::small_ocean("grid", {100}, {5}, {10});
  config.source.launch_azim_deg = {0, 90, 405, -315};
  config.source.beam_pattern = BeamPattern{{0, 10}, {0, 90}, {0, -10, -20, -30}};
  const std::vector<float> gains = build_model(config).launch_gains;
  const double levels_db[] = {0, 0, -10, -20, -20, -30, -10, -10, -20, -10, -10, -20};
  ASSERT_EQ(gains.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(gains[i], std::pow(10.0, levels_db[i] / 20));
  EXPECT_TRUE(build_model(fixtures::small_ocean("grid", {100}, {5}, {10})).launch_gains.empty());
}

// Along a ray straight down from the surface to 4 km: the integral of alpha over depth, in nepers.
TEST(Absorption, SumsAlphaAlongTheRayAtEachDepth) {
  std::vector<RayState> states(81);
  for (std::size_t i = 0; i < states.size(); ++i) states[i].pos = {3.0f, 4.0f, 50.0f * i};
  const std::vector<float> freq_hz = {-10000.0f, 300.0f};
  Water water;
  water.temperature_c = 12.0f;
  std::vector<float> absorbed;
  for (const AbsorptionKind kind : {AbsorptionKind::Thorp, AbsorptionKind::FrancoisGarrison}) {
    water.resolved_absorption = kind;
    accumulate_absorption(make_absorption(water, freq_hz), states, absorbed);
    ASSERT_EQ(absorbed.size(), 162u);
    for (std::size_t k = 0; k < 2; ++k) {
      const double f_khz = std::fabs(freq_hz[k]) / 1000.0;
      double db = 0.0;  // Simpson's rule, every 10 m
      for (int j = 0; j <= 400; ++j) {
        const double alpha = kind == AbsorptionKind::Thorp
                                 ? thorp_db_per_km(f_khz)
                                 : francois_garrison_db_per_km(f_khz, water, 10.0 * j);
        db += alpha * (j == 0 || j == 400 ? 1 : j % 2 == 1 ? 4 : 2) * 10.0 / 3.0 / 1000.0;
      }
      EXPECT_NEAR(absorbed[80 * 2 + k], db / 8.685889638, 1e-4 * db / 8.685889638) << f_khz;
      EXPECT_EQ(absorbed[k], 0.0f);
    }
  }
}

}  // namespace
}  // namespace abyx
