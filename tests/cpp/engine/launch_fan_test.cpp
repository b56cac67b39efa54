#include "engine/launch_fan.h"

#include <gtest/gtest.h>

#include <vector>

namespace abyx {
namespace {

Source source_with(std::vector<float> elevations, std::vector<float> azimuths) {
  Source source;
  source.freq_hz = {0.1f, 50.0f};
  source.launch_elev_deg = std::move(elevations);
  source.launch_azim_deg = std::move(azimuths);
  return source;
}

TEST(LaunchFan, ConvertsWithTheSinglePrecisionFactorAndTakesTheFirstTwoForTheSpacing) {
  const LaunchFan fan = make_launch_fan(source_with({-10.0f, 0.0f, 10.0f, 30.0f}, {0.0f, 5.0f}));
  ASSERT_EQ(fan.elevations_rad.size(), 4u);
  EXPECT_EQ(fan.elevations_rad[0], -10.0f * 0.017453292f);
  EXPECT_EQ(fan.elevations_rad[3], 30.0f * 0.017453292f);
  EXPECT_EQ(fan.d_elevation_rad, 0.0f - (-10.0f * 0.017453292f));
  EXPECT_EQ(fan.d_azimuth_rad, 5.0f * 0.017453292f);
}

TEST(LaunchFan, SpacingIsOneDegreeForAListShorterThanTwo) {
  const LaunchFan fan = make_launch_fan(source_with({3.0f}, {}));
  EXPECT_EQ(fan.d_elevation_rad, 0.017453292f);
  EXPECT_EQ(fan.d_azimuth_rad, 0.017453292f);
}

TEST(LaunchFan, DescendingElevationsGiveAPositiveSpacing) {
  const LaunchFan fan = make_launch_fan(source_with({20.0f, 10.0f, 0.0f}, {0.0f}));
  EXPECT_EQ(fan.d_elevation_rad, 20.0f * 0.017453292f - 10.0f * 0.017453292f);
  EXPECT_GT(fan.d_elevation_rad, 0.0f);
}

TEST(LaunchFan, LaunchListIsAzimuthMajor) {
  const LaunchFan fan = make_launch_fan(source_with({-10.0f, 0.0f, 10.0f, 30.0f}, {0.0f, 5.0f}));
  const std::vector<Launch> launches = launch_list(fan);
  ASSERT_EQ(launches.size(), 8u);
  EXPECT_EQ(launches[5].azimuth_rad, 5.0f * 0.017453292f);
  EXPECT_EQ(launches[5].elevation_rad, 0.0f);
  EXPECT_EQ(launches[3].azimuth_rad, 0.0f);
  EXPECT_EQ(launches[3].elevation_rad, 30.0f * 0.017453292f);
}

TEST(LaunchFan, AngularFrequenciesUseTheSinglePrecisionTwoPi) {
  const std::vector<float> omegas = angular_frequencies({0.1f, 50.0f});
  EXPECT_EQ(omegas, (std::vector<float>{6.2831855f * 0.1f, 6.2831855f * 50.0f}));
}

struct ChunkCase {
  std::size_t rays;     // N
  std::size_t workers;  // T
  std::size_t size;     // expected C
  std::size_t count;    // expected number of chunks
};

class PlanChunks : public testing::TestWithParam<ChunkCase> {};

TEST_P(PlanChunks, CutsAboutTwoChunksPerWorker) {
  const ChunkPlan plan = plan_chunks(GetParam().rays, GetParam().workers);
  EXPECT_EQ(plan.chunk_size, GetParam().size);
  EXPECT_EQ(plan.chunk_count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(LaunchFan, PlanChunks,
                         testing::Values(ChunkCase{0, 4, 1, 0}, ChunkCase{1, 1, 1, 1},
                                         ChunkCase{1, 8, 1, 1}, ChunkCase{8, 4, 1, 8},
                                         ChunkCase{9, 4, 2, 5}, ChunkCase{4800, 2, 1200, 4},
                                         ChunkCase{43560, 2, 10890, 4}, ChunkCase{10, 3, 2, 5},
                                         ChunkCase{7, 0, 7, 1}));

}  // namespace
}  // namespace abyx
