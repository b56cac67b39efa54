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

constexpr float kC = 1500.0f;         // m/s
constexpr float kDeg = 0.017453292f;  // rad per degree

// Homogeneous water with sound-speed planes every 250 m and bathymetry lines every 300 m over a
// flat bottom at 5000 m.
struct GriddedOcean {
  SSPFields ssp = make_linear_ssp(kC, 0.0f, linspace(-5000.0f, 5000.0f, 41),
                                  linspace(-5000.0f, 5000.0f, 41), linspace(0.0f, 6000.0f, 25));
  BTYfield bty = make_bty(linspace(-6000.0f, 6000.0f, 41), linspace(-6000.0f, 6000.0f, 41),
                          [](float, float) { return 5000.0f; });
};

const GriddedOcean kOcean;

TEST(TraceRay, StopsOnFirstStateBeyondRange) {
  const float step = 30.0f;
  const float range = 1000.0f;
  const auto config =
      make_trace_config({0, 0, 1000}, step, 100000, range, IntegrationMethod::Euler);
  const std::vector<RayState> states = trace_ray(config, kOcean.ssp, kOcean.bty, 0.7f, 0.0f);
  ASSERT_GE(states.size(), 3u);
  const auto horizontal = [](Vec3 p) { return std::hypot(p.x, p.y); };
  EXPECT_LT(horizontal(states[states.size() - 2].pos), range);
  EXPECT_GE(horizontal(states.back().pos), range);
  EXPECT_LE(horizontal(states.back().pos), range + step);
}

TEST(TraceRay, VerticalLaunchBouncesForWholeBudget) {
  const auto config = make_trace_config({0, 0, 1000}, 100.0f, 500, 1e4f, IntegrationMethod::Rk2);
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

}  // namespace
}  // namespace abyx
