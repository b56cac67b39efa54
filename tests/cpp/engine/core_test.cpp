#include "engine/core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/fault.h"
#include "engine/launch_fan.h"
#include "engine/pool_environment.h"

namespace abyx {
namespace {

constexpr float kPositionTolerance = 1e-3f;   // m, launch point
constexpr float kDirectionTolerance = 1e-4f;  // unit-vector components of the first step

// Isovelocity 1500 m/s water over a flat rigid bottom at 100 m, source at 50 m, a 3 x 3 x 2 grid.
SimulationConfig tiny_config() {
  SimulationConfig config;
  config.ssp = {{-1000, 1000}, {-1000, 1000}, {0, 100}, std::vector<float>(8, 1500.0f)};
  config.bathymetry.x_bty_m = {-1000.0f, 1000.0f};
  config.bathymetry.y_bty_m = {-1000.0f, 1000.0f};
  config.bathymetry.z_bty_m = std::vector<float>(4, 100.0f);
  config.source = {{0, 0, 50}, {100, 250}, {0, 1, -7, 12}, {0, 1, 95}};
  config.receivers = {"grid", {-33, 7.5f, 61}, {40, 151, 260}, {35, 62}};
  config.beam = {10.0f, 60, 400.0f, true};
  return config;
}

TEST(LaunchFan, SpacingIsTheFirstTwoAnglesApartOrOneDegree) {
  Source source;
  source.launch_elev_deg = {20.0f, 10.0f, 0.0f};
  source.launch_azim_deg = {3.0f};
  const LaunchFan fan = make_launch_fan(source);
  EXPECT_FLOAT_EQ(fan.d_elevation_rad, 10.0f * 3.14159265f / 180.0f);
  EXPECT_FLOAT_EQ(fan.d_azimuth_rad, 3.14159265f / 180.0f);
  EXPECT_EQ(angular_frequencies({50.0f}), std::vector<float>{6.2831855f * 50.0f});
}

class CorePaths : public PoolEnvironment, public testing::WithParamInterface<const char*> {};

TEST_P(CorePaths, OnePathPerRayAzimuthMajorLeavingTheSourceAlongItsLaunchDirection) {
  set_thread_override(GetParam());
  const SimulationConfig config = tiny_config();
  const CoreResult result = core(config);
  EXPECT_EQ(result.field.shape, (std::array<std::size_t, 4>{2, 3, 3, 2}));
  const std::vector<float>& azimuths = config.source.launch_azim_deg;
  const std::vector<float>& elevations = config.source.launch_elev_deg;
  ASSERT_TRUE(result.ray_paths);
  ASSERT_EQ(result.ray_paths->size(), azimuths.size() * elevations.size());
  for (std::size_t ray = 0; ray < result.ray_paths->size(); ++ray) {
    const std::vector<Vec3>& points = (*result.ray_paths)[ray];
    ASSERT_GE(points.size(), 2u);
    EXPECT_NEAR(norm(points[0] - Vec3{0, 0, 50}), 0.0f, kPositionTolerance);
    // ray a * N_el + e leaves along (sin a cos e, cos a cos e, sin e)
    const float a = azimuths[ray / elevations.size()] * 3.14159265f / 180.0f;
    const float e = elevations[ray % elevations.size()] * 3.14159265f / 180.0f;
    const Vec3 step = (1.0f / norm(points[1] - points[0])) * (points[1] - points[0]);
    EXPECT_NEAR(step.x, std::sin(a) * std::cos(e), kDirectionTolerance) << ray;
    EXPECT_NEAR(step.y, std::cos(a) * std::cos(e), kDirectionTolerance) << ray;
    EXPECT_NEAR(step.z, std::sin(e), kDirectionTolerance) << ray;
  }
}

// one worker; fewer workers than rays; more workers than rays
INSTANTIATE_TEST_SUITE_P(WorkerCounts, CorePaths, testing::Values("1", "2", "40"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string("Workers") + info.param;
                         });

TEST_F(PoolEnvironment, CoreWithoutRaysOrWithoutPathsAskedLeavesThemOut) {
  set_thread_override("2");
  SimulationConfig config = tiny_config();
  config.source.launch_azim_deg.clear();
  config.beam.show_progress = true;
  const CoreResult result = core(config);
  ASSERT_TRUE(result.ray_paths);
  EXPECT_TRUE(result.ray_paths->empty());
  for (const float amplitude : result.field.amplitude) EXPECT_EQ(amplitude, 0.0f);
  config.beam.store_ray_paths = false;
  EXPECT_FALSE(core(config).ray_paths);
}

TEST_F(PoolEnvironment, SetUpAndWorkerFaultsReachTheCallerAndTheNextRunWorks) {
  set_thread_override("2");
  SimulationConfig config = tiny_config();
  config.ssp.c_m_s.push_back(1500.0f);
  try {
    core(config);
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_TRUE(std::string(fault.what()).starts_with("c_m_s does not match grid dimensions"));
  }
  config = tiny_config();
  config.receivers = {"array", {1.0f, 2.0f}, {1.0f}, {1.0f, 2.0f}};
  try {
    core(config);
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), "array receiver coordinates must have equal lengths");
  }
  config.receivers.y_rcvr_m = {1.0f, 2.0f};
  EXPECT_EQ(core(config).field.shape, (std::array<std::size_t, 4>{2, 2, 1, 1}));
}

}  // namespace
}  // namespace abyx
