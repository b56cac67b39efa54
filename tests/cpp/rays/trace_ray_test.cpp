#include "rays/trace_ray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "bty/bty_cursor.h"
#include "rays/ocean_fixtures.h"
#include "ssp/ssp_cursor.h"

namespace abyx {
namespace {

using testing::linspace;
using testing::make_bty;
using testing::make_linear_ssp;
using testing::make_trace_config;

constexpr float kC = 1500.0f;           // m/s
constexpr float kRelTol = 1e-5f;        // relative, quantities accumulated over many steps
constexpr float kDirectionTol = 1e-6f;  // components of unit vectors
constexpr float kPlaneTol = 1e-3f;      // m, a step end lying on a grid plane
constexpr float kDeg = 0.017453292f;    // rad per degree

// Homogeneous water with sound-speed planes every 250 m and bathymetry lines every 300 m over a
// flat bottom at 5000 m.
struct GriddedOcean {
  SSPFields ssp = make_linear_ssp(kC, 0.0f, linspace(-5000.0f, 5000.0f, 41),
                                  linspace(-5000.0f, 5000.0f, 41), linspace(0.0f, 6000.0f, 25));
  BTYfield bty = make_bty(linspace(-6000.0f, 6000.0f, 41), linspace(-6000.0f, 6000.0f, 41),
                          [](float, float) { return 5000.0f; });
};

const GriddedOcean kOcean;

class TraceRayMethodTest : public ::testing::TestWithParam<IntegrationMethod> {};

TEST_P(TraceRayMethodTest, HomogeneousMediumKeepsSlownessAndGrowsQLinearly) {
  const Vec3 source{10.0f, -20.0f, 1000.0f};
  const SimulationConfig config = make_trace_config(source, 50.0f, 200, 1e4f, GetParam());
  const std::vector<RayState> states =
      trace_ray(config, kOcean.ssp, kOcean.bty, 30 * kDeg, 20 * kDeg);
  ASSERT_EQ(states.size(), 201u);
  const Vec3 launch = states.front().slowness;
  for (const RayState& state : states) {
    const float s = norm(state.pos - source);
    EXPECT_TRUE(state.slowness == launch);
    EXPECT_EQ(state.phi, 0.0f);
    EXPECT_TRUE(state.p1 == (Vec2{1.0f, 0.0f}) && state.p2 == (Vec2{0.0f, 1.0f}));
    EXPECT_NEAR(state.q1.x, kC * s, kRelTol * kC * s);
    EXPECT_NEAR(state.q2.y, kC * s, kRelTol * kC * s);
    EXPECT_EQ(state.q1.y, 0.0f);
    EXPECT_EQ(state.q2.x, 0.0f);
    EXPECT_NEAR(state.tau, s / kC, kRelTol * s / kC);
    EXPECT_EQ(state.n_surface + state.n_bottom, 0u);
  }
}

TEST_P(TraceRayMethodTest, StepsEndOnGridPlanesAheadOrRunTheNominalLength) {
  const Vec3 source{10.0f, -20.0f, 1000.0f};
  const float step = 70.0f;
  const SimulationConfig config = make_trace_config(source, step, 300, 1e4f, GetParam());
  const std::vector<RayState> states =
      trace_ray(config, kOcean.ssp, kOcean.bty, 40 * kDeg, 15 * kDeg);
  const std::vector<float>* ssp_axes[] = {&kOcean.ssp.x, &kOcean.ssp.y, &kOcean.ssp.z};
  const std::vector<float>* bty_axes[] = {&kOcean.bty.x, &kOcean.bty.y};
  for (std::size_t i = 1; i < states.size(); ++i) {
    const Vec3 a = states[i - 1].pos;
    const Vec3 b = states[i].pos;
    bool ends_on_plane = false;
    for (std::size_t k = 0; k < 3; ++k) {
      const float lo = std::fmin(a[k], b[k]);
      const float hi = std::fmax(a[k], b[k]);
      std::vector<const std::vector<float>*> axes{ssp_axes[k]};
      if (k < 2) axes.push_back(bty_axes[k]);
      for (const std::vector<float>* axis : axes) {
        for (float plane : *axis) {
          EXPECT_FALSE(plane > lo + kPlaneTol && plane < hi - kPlaneTol)
              << "step " << i << " crosses plane " << plane << " of axis " << k;
          ends_on_plane = ends_on_plane || std::abs(b[k] - plane) < kPlaneTol;
        }
      }
    }
    EXPECT_TRUE(ends_on_plane || std::abs(norm(b - a) - step) < kPlaneTol) << "step " << i;
  }
}

TEST_P(TraceRayMethodTest, RayStartingOnGridNodeStillAdvances) {
  const Vec3 source{0.0f, 0.0f, 1000.0f};  // a node of both grids
  const float step = 50.0f;
  const SimulationConfig config = make_trace_config(source, step, 50, 1e4f, GetParam());
  const std::vector<RayState> states = trace_ray(config, kOcean.ssp, kOcean.bty, 0.0f, 0.0f);
  for (std::size_t i = 1; i < states.size(); ++i) {
    EXPECT_GE(norm(states[i].pos - states[i - 1].pos), step * 1e-6f * (1.0f - kRelTol));
  }
  EXPECT_GT(states.back().pos.y, 1000.0f);
}

INSTANTIATE_TEST_SUITE_P(Methods, TraceRayMethodTest,
                         ::testing::Values(IntegrationMethod::Euler, IntegrationMethod::Rk2));

struct LaunchCase {
  float azimuth_deg;
  float elevation_deg;
  Vec3 direction;  // expected unit tangent
};

class LaunchDirectionTest : public ::testing::TestWithParam<LaunchCase> {};

TEST_P(LaunchDirectionTest, AzimuthFromYTowardsXAndElevationDown) {
  const SimulationConfig config =
      make_trace_config({0, 0, 1000}, 10.0f, 1, 1e4f, IntegrationMethod::Euler);
  const float az = GetParam().azimuth_deg * kDeg;
  const float el = GetParam().elevation_deg * kDeg;
  const RayState launch = trace_ray(config, kOcean.ssp, kOcean.bty, az, el).front();
  const Vec3 expected = GetParam().direction;
  EXPECT_NEAR(kC * launch.slowness.x, expected.x, kDirectionTol);
  EXPECT_NEAR(kC * launch.slowness.y, expected.y, kDirectionTol);
  EXPECT_NEAR(kC * launch.slowness.z, expected.z, kDirectionTol);
}

INSTANTIATE_TEST_SUITE_P(Conventions, LaunchDirectionTest,
                         ::testing::Values(LaunchCase{0, 0, {0, 1, 0}},
                                           LaunchCase{90, 0, {1, 0, 0}},
                                           LaunchCase{180, 0, {0, -1, 0}},
                                           LaunchCase{270, 0, {-1, 0, 0}},
                                           LaunchCase{0, 30, {0, 0.8660254f, 0.5f}},
                                           LaunchCase{90, -45, {0.70710677f, 0, -0.70710677f}}));

TEST(TraceRay, LaunchStateIsPointSource) {
  const Vec3 source{5.0f, 6.0f, 700.0f};
  const SimulationConfig config = make_trace_config(source, 10.0f, 3, 1e4f, IntegrationMethod::Rk2);
  const RayState launch = trace_ray(config, kOcean.ssp, kOcean.bty, 0.3f, 0.2f).front();
  EXPECT_TRUE(launch.pos == source);
  EXPECT_FLOAT_EQ(launch.c, kC);
  EXPECT_TRUE(launch.p1 == (Vec2{1, 0}) && launch.p2 == (Vec2{0, 1}));
  EXPECT_TRUE(launch.q1 == (Vec2{0, 0}) && launch.q2 == (Vec2{0, 0}));
  EXPECT_EQ(launch.amp, 1.0f);
  EXPECT_EQ(launch.tau + launch.phi + launch.phase + launch.det_q, 0.0f);
  EXPECT_EQ(launch.n_surface + launch.n_bottom, 0u);
  EXPECT_FALSE(launch.bottom_hit.has_value());
}

TEST(TraceRay, StepBudgetBoundsStateCount) {
  for (const std::uint64_t max_steps : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{7}}) {
    const SimulationConfig config =
        make_trace_config({0, 0, 1000}, 10.0f, max_steps, 1e4f, IntegrationMethod::Euler);
    EXPECT_EQ(trace_ray(config, kOcean.ssp, kOcean.bty, 0.0f, 0.1f).size(), max_steps + 1);
  }
}

TEST(TraceRay, StopsOnFirstStateBeyondRange) {
  const float step = 30.0f;
  const float range = 1000.0f;
  const SimulationConfig config =
      make_trace_config({0, 0, 1000}, step, 100000, range, IntegrationMethod::Euler);
  const std::vector<RayState> states = trace_ray(config, kOcean.ssp, kOcean.bty, 0.7f, 0.0f);
  ASSERT_GE(states.size(), 3u);
  const auto horizontal = [](Vec3 p) { return std::hypot(p.x, p.y); };
  EXPECT_LT(horizontal(states[states.size() - 2].pos), range);
  EXPECT_GE(horizontal(states.back().pos), range);
  EXPECT_LE(horizontal(states.back().pos), range + step);
}

TEST(TraceRay, NanRangeStopsAfterFirstStep) {
  const SimulationConfig config = make_trace_config(
      {0, 0, 1000}, 10.0f, 100, std::numeric_limits<float>::quiet_NaN(), IntegrationMethod::Euler);
  EXPECT_EQ(trace_ray(config, kOcean.ssp, kOcean.bty, 0.0f, 0.0f).size(), 2u);
}

TEST(TraceRay, VerticalLaunchBouncesForWholeBudget) {
  const SimulationConfig config =
      make_trace_config({0, 0, 1000}, 100.0f, 500, 1e4f, IntegrationMethod::Rk2);
  for (const float el : {90 * kDeg, -90 * kDeg}) {
    const std::vector<RayState> states = trace_ray(config, kOcean.ssp, kOcean.bty, 0.0f, el);
    ASSERT_EQ(states.size(), 501u);
    EXPECT_GT(states.back().n_surface, 0u);
    EXPECT_GT(states.back().n_bottom, 0u);
    for (const RayState& state : states) {
      ASSERT_TRUE(std::isfinite(state.pos.z) && std::isfinite(state.p1.x) &&
                  std::isfinite(state.phi));
    }
  }
}

TEST(TraceRay, PathHoldsPositionsAfterReflection) {
  const SimulationConfig config =
      make_trace_config({0, 0, 100}, 50.0f, 40, 1e4f, IntegrationMethod::Euler);
  const std::vector<RayState> states = trace_ray(config, kOcean.ssp, kOcean.bty, 0.0f, -30 * kDeg);
  const RayPath path = extract_ray_path(17, states);
  EXPECT_EQ(path.ray_index, 17u);
  ASSERT_EQ(path.points.size(), states.size());
  bool surface_point = false;
  for (std::size_t i = 0; i < states.size(); ++i) {
    EXPECT_TRUE(path.points[i] == states[i].pos);
    surface_point = surface_point || (states[i].n_surface == 1 && path.points[i].z == 1e-9f &&
                                      (i == 0 || states[i - 1].n_surface == 0));
  }
  EXPECT_TRUE(surface_point);
}

TEST(TraceRay, ReusedListIsClearedAndRefilled) {
  const SimulationConfig config =
      make_trace_config({0, 0, 1000}, 25.0f, 60, 1e4f, IntegrationMethod::Rk2);
  std::vector<RayState> reused(500);
  trace_ray(config, kOcean.ssp, kOcean.bty, 0.4f, 0.3f, reused);
  const std::vector<RayState> fresh = trace_ray(config, kOcean.ssp, kOcean.bty, 0.4f, 0.3f);
  ASSERT_EQ(reused.size(), fresh.size());
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    EXPECT_TRUE(reused[i].pos == fresh[i].pos && reused[i].q1 == fresh[i].q1);
  }
}

struct HintCase {
  float max_range_m;
  float step_m;
  std::uint64_t max_steps;
  std::size_t expected;
};

class ReservedStateCountTest : public ::testing::TestWithParam<HintCase> {};

TEST_P(ReservedStateCountTest, IsBoundedByRangeStepsAndCap) {
  BeamSettings beam;
  beam.max_range_m = GetParam().max_range_m;
  beam.step_m = GetParam().step_m;
  beam.max_steps = GetParam().max_steps;
  EXPECT_EQ(reserved_state_count(beam), GetParam().expected);
}

constexpr std::uint64_t kHugeSteps = std::numeric_limits<std::uint64_t>::max();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Hints, ReservedStateCountTest,
    ::testing::Values(HintCase{1000.0f, 10.0f, 1000000, 102},  // ceil(100) + 2
                      HintCase{1005.0f, 10.0f, 1000000, 103},  // ceil(100.5) + 2
                      HintCase{1000.0f, 10.0f, 50, 50}, HintCase{1000.0f, 10.0f, 0, 2},
                      HintCase{1000.0f, 10.0f, 1, 2},
                      HintCase{1e30f, 1e-3f, kHugeSteps, kMaxReservedStates},
                      HintCase{kInf, 1.0f, kHugeSteps, kMaxReservedStates},
                      HintCase{std::numeric_limits<float>::quiet_NaN(), 1.0f, kHugeSteps, 2}));

}  // namespace
}  // namespace abyx
