#include "engine/core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/fault.h"
#include "engine/launch_fan.h"
#include "engine/pool_environment.h"
#include "influence/pressure_field.h"

namespace abyx {
namespace {

constexpr float kPositionTolerance = 1e-3f;     // m, launch point and first step
constexpr float kDirectionTolerance = 1e-4f;    // unit-vector components
constexpr float kPressureRelTolerance = 1e-5f;  // of the summed magnitudes, f32 re-grouping

// Isovelocity 1500 m/s water over a flat rigid bottom at 100 m, source at 50 m, a 3 x 3 x 2 grid.
SimulationConfig tiny_config() {
  SimulationConfig config;
  config.ssp.x_ssp_m = {-1000.0f, 1000.0f};
  config.ssp.y_ssp_m = {-1000.0f, 1000.0f};
  config.ssp.z_ssp_m = {0.0f, 100.0f};
  config.ssp.c_m_s = std::vector<float>(8, 1500.0f);
  config.bathymetry.x_bty_m = {-1000.0f, 1000.0f};
  config.bathymetry.y_bty_m = {-1000.0f, 1000.0f};
  config.bathymetry.z_bty_m = std::vector<float>(4, 100.0f);
  config.source.position = {0.0f, 0.0f, 50.0f};
  config.source.freq_hz = {100.0f, 250.0f};
  // the first two entries 1 degree apart, so one-ray runs have the same spacings
  config.source.launch_elev_deg = {0.0f, 1.0f, -7.0f, 12.0f};
  config.source.launch_azim_deg = {0.0f, 1.0f, 95.0f};
  config.receivers.config_type = "grid";
  config.receivers.x_rcvr_m = {-33.0f, 7.5f, 61.0f};
  config.receivers.y_rcvr_m = {40.0f, 151.0f, 260.0f};
  config.receivers.z_rcvr_m = {35.0f, 62.0f};
  config.beam.step_m = 10.0f;
  config.beam.max_steps = 60;
  config.beam.max_range_m = 400.0f;
  return config;
}

bool reached_no_receiver(const PressureField& field) {
  for (const float delay : field.delay_s) {
    if (delay != std::numeric_limits<float>::infinity()) return false;
  }
  for (const float amplitude : field.amplitude) {
    if (amplitude != 0.0f) return false;
  }
  for (const Complex32 p : field.pressure) {
    if (!(p == Complex32{})) return false;
  }
  return true;
}

TEST_F(PoolEnvironment, CoreWithoutRaysGivesAnUntouchedFieldAndNoPaths) {
  set_thread_override("2");
  SimulationConfig config = tiny_config();
  config.source.launch_azim_deg.clear();
  config.beam.store_ray_paths = true;
  config.beam.show_progress = true;
  const CoreResult result = core(config);
  ASSERT_TRUE(result.ray_paths);
  EXPECT_TRUE(result.ray_paths->empty());
  EXPECT_EQ(result.field.shape, (std::array<std::size_t, 4>{2, 3, 3, 2}));
  EXPECT_TRUE(reached_no_receiver(result.field));
}

TEST_F(PoolEnvironment, CoreReturnsNoPathsUnlessAsked) {
  set_thread_override("2");
  EXPECT_FALSE(core(tiny_config()).ray_paths);
}

class CorePathOrder : public PoolEnvironment, public testing::WithParamInterface<const char*> {};

TEST_P(CorePathOrder, OnePathPerRayInRayIndexOrderFromTheSource) {
  set_thread_override(GetParam());
  SimulationConfig config = tiny_config();
  config.beam.store_ray_paths = true;
  const CoreResult result = core(config);
  const LaunchFan fan = make_launch_fan(config.source);
  ASSERT_TRUE(result.ray_paths);
  ASSERT_EQ(result.ray_paths->size(), fan.azimuths_rad.size() * fan.elevations_rad.size());
  for (std::size_t ray = 0; ray < result.ray_paths->size(); ++ray) {
    const std::vector<Vec3>& points = (*result.ray_paths)[ray];
    ASSERT_GE(points.size(), 2u);
    EXPECT_NEAR(points[0].x, 0.0f, kPositionTolerance);
    EXPECT_NEAR(points[0].y, 0.0f, kPositionTolerance);
    EXPECT_NEAR(points[0].z, 50.0f, kPositionTolerance);
    // ray a * N_el + e leaves along (sin a cos e, cos a cos e, sin e)
    const float azimuth = fan.azimuths_rad[ray / fan.elevations_rad.size()];
    const float elevation = fan.elevations_rad[ray % fan.elevations_rad.size()];
    const Vec3 step = points[1] - points[0];
    const float length = norm(step);
    EXPECT_NEAR(step.x / length, std::sin(azimuth) * std::cos(elevation), kDirectionTolerance);
    EXPECT_NEAR(step.y / length, std::cos(azimuth) * std::cos(elevation), kDirectionTolerance);
    EXPECT_NEAR(step.z / length, std::sin(elevation), kDirectionTolerance);
  }
}

// one worker; fewer workers than rays; more workers than rays
INSTANTIATE_TEST_SUITE_P(WorkerCounts, CorePathOrder, testing::Values("1", "2", "5", "40"));

TEST_F(PoolEnvironment, CoreFieldEqualsTheSumOfOneRayRuns) {
  set_thread_override("3");
  const SimulationConfig config = tiny_config();
  const CoreResult whole = core(config);
  const PressureField& field = whole.field;
  std::vector<Complex32> sum(field.pressure.size());
  std::vector<float> magnitude(field.pressure.size(), 0.0f);
  std::vector<float> earliest(field.delay_s.size(), std::numeric_limits<float>::infinity());
  std::vector<float> amplitude_of_earliest(field.delay_s.size(), 0.0f);
  for (const float azimuth : config.source.launch_azim_deg) {
    for (const float elevation : config.source.launch_elev_deg) {
      SimulationConfig one = config;
      one.source.launch_azim_deg = {azimuth};
      one.source.launch_elev_deg = {elevation};
      const PressureField single = core(one).field;
      for (std::size_t i = 0; i < sum.size(); ++i) {
        sum[i] = sum[i] + single.pressure[i];
        magnitude[i] += std::hypot(single.pressure[i].re, single.pressure[i].im);
      }
      for (std::size_t i = 0; i < earliest.size(); ++i) {
        if (single.delay_s[i] < earliest[i]) {
          earliest[i] = single.delay_s[i];
          amplitude_of_earliest[i] = single.amplitude[i];
        }
      }
    }
  }
  float total_magnitude = 0.0f;
  for (const float m : magnitude) total_magnitude += m;
  ASSERT_GT(total_magnitude, 0.0f) << "the rays must reach some receivers";
  for (std::size_t i = 0; i < sum.size(); ++i) {
    const float tolerance = kPressureRelTolerance * magnitude[i] + 1e-30f;
    EXPECT_NEAR(field.pressure[i].re, sum[i].re, tolerance) << i;
    EXPECT_NEAR(field.pressure[i].im, sum[i].im, tolerance) << i;
  }
  EXPECT_EQ(field.delay_s, earliest);
  EXPECT_EQ(field.amplitude, amplitude_of_earliest);
}

TEST_F(PoolEnvironment, SetUpFaultReachesTheCallerAsFault) {
  set_thread_override("2");
  SimulationConfig config = tiny_config();
  config.ssp.c_m_s.push_back(1500.0f);
  try {
    core(config);
    FAIL() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_EQ(std::string(fault.what()).rfind("c_m_s does not match grid dimensions", 0), 0u)
        << fault.what();
  }
}

TEST_F(PoolEnvironment, WorkerFaultReachesTheCallerAndTheNextRunWorks) {
  set_thread_override("2");
  SimulationConfig config = tiny_config();
  config.receivers.config_type = "array";
  config.receivers.x_rcvr_m = {1.0f, 2.0f};
  config.receivers.y_rcvr_m = {1.0f};
  config.receivers.z_rcvr_m = {1.0f, 2.0f};
  try {
    core(config);
    FAIL() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), "array receiver coordinates must have equal lengths");
  }
  config.receivers.y_rcvr_m = {1.0f, 2.0f};
  EXPECT_EQ(core(config).field.shape, (std::array<std::size_t, 4>{2, 2, 1, 1}));
}

}  // namespace
}  // namespace abyx
