#include "rays/step_control.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>

#include "rays/ocean_fixtures.h"

namespace abyx {
namespace {

using testing::make_bty;
using testing::make_ssp;

constexpr float kStepTol = 1e-4f;  // m, step lengths from closed forms

// Homogeneous water on a grid with planes at x, y = -1000, 1000, 3000 and z = -50, 100, 6000, over
// bathymetry grid lines every 300 m from 0 to 900 m.
SSPFields grid_ssp() {
  return make_ssp({-1000.0f, 1000.0f, 3000.0f}, {-1000.0f, 1000.0f, 3000.0f},
                  {-50.0f, 100.0f, 6000.0f},
                  [](float, float, float) { return SSPSample{.c = 1500.0f}; });
}

struct StepCase {
  std::string name;
  Vec3 pos;         // m
  Vec3 dir;         // unit tangent
  float h;          // nominal step (m)
  float expected;   // m
  float depth;      // m, of the bottom at x = 0
  float slope = 0;  // of the bottom along x
  // a shaped surface at depth top + top_slope * x (m) instead of the flat one, when shaped
  SurfaceShape surface = SurfaceShape::Flat;
  float top = 0, top_slope = 0;
  int ssp_iz =
      -1;  // the sound-speed cell along z a walk left the cursor in; -1: the one found at pos
};

void PrintTo(const StepCase& param, std::ostream* os) { *os << param.name; }

class ReduceStepTest : public ::testing::TestWithParam<StepCase> {};

// The step from pos with both cursors found there and the bottom under pos.
TEST_P(ReduceStepTest, EndsOnNearestBoundaryAhead) {
  const StepCase& c = GetParam();
  const SSPFields ssp = grid_ssp();
  const BTYfield bty = make_bty({0.0f, 300.0f, 600.0f, 900.0f}, {0.0f, 300.0f, 600.0f, 900.0f},
                                [&c](float x, float) { return c.depth + c.slope * x; });
  const HeightGrid top = make_bty({-1000.0f, 2000.0f}, {-1000.0f, 2000.0f}, [&c](float x, float) {
                           return c.top + c.top_slope * x;
                         }).grid;
  const HeightCursor bty_cursor = init_height_cursor(c.pos, bty.grid);
  SSPCursor ssp_cursor = init_ssp_cursor(c.pos, ssp);
  if (c.ssp_iz >= 0) ssp_cursor.iz = static_cast<std::size_t>(c.ssp_iz);
  const StepStart start{c.pos,
                        c.dir,
                        ssp_cursor,
                        bty_cursor,
                        sample_height_from_cursor(c.pos, bty.grid, bty_cursor),
                        sample_height_from_cursor(c.pos, top, init_height_cursor(c.pos, top))};
  const float h = c.surface == SurfaceShape::Flat
                      ? reduce_step_to_boundaries(start, ssp, bty, c.h)
                      : reduce_step_to_boundaries<SurfaceShape::Shaped>(start, ssp, bty, c.h);
  EXPECT_NEAR(h, c.expected, kStepTol);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ReduceStepTest,
    ::testing::Values(
        StepCase{"SoundSpeedPlane", {150, 150, 50}, {0, 0, 1}, 80, 50, 5000},
        StepCase{"BathymetryLineAheadInX", {250, 150, 50}, {1, 0, 0}, 100, 50, 5000},
        StepCase{"BathymetryLineBehindInX", {350, 150, 50}, {-1, 0, 0}, 100, 50, 5000},
        StepCase{"NearestOfSeveral", {250, 150, 50}, {0.6f, 0, 0.8f}, 100, 62.5f, 5000},
        StepCase{"Surface", {150, 150, 30}, {0.6f, 0, -0.8f}, 100, 37.5f, 5000},
        // a point on the surface heading up is not held there: the next plane is z = -50
        StepCase{"OnSurfaceIgnored", {150, 150, 1e-9f}, {0.6f, 0, -0.8f}, 100, 62.5f, 5000},
        // a point on a grid line heading back only sees that line, at distance 0
        StepCase{"OnBathymetryLineIgnored", {300, 150, 50}, {-1, 0, 0}, 100, 100, 5000},
        StepCase{"FlatBottomPlane", {150, 150, 110}, {0.6f, 0, 0.8f}, 100, 12.5f, 120},
        // 110 + 0.8 t = 120 + 0.1 (150 + 0.6 t)
        StepCase{
            "SlopingBottomPlane", {150, 150, 110}, {0.6f, 0, 0.8f}, 100, 25 / 0.74f, 120, 0.1f},
        // 30 - 0.8 t = 10 + 0.1 (150 + 0.6 t): the plane touching a shaped surface over pos
        StepCase{"ShapedSurfacePlane",
                 {150, 150, 30},
                 {0.6f, 0, -0.8f},
                 100,
                 5 / 0.86f,
                 5000,
                 0,
                 SurfaceShape::Shaped,
                 10,
                 0.1f},
        // heading down, away from a shaped surface, the sound-speed plane at 100 m comes first
        StepCase{"ShapedSurfaceBehind",
                 {150, 150, 30},
                 {0.6f, 0, 0.8f},
                 100,
                 87.5f,
                 5000,
                 0,
                 SurfaceShape::Shaped,
                 10,
                 0.1f},
        // on the plane z = 100, its cursor still in the cell above (a walk keeps it there), heading
        // down: the step ends on the far plane of the cell below, at 6000 m, not on the bottom
        StepCase{.name = "OnSoundSpeedPlaneLeavingItsCell",
                 .pos = {150, 150, 100},
                 .dir = {0, 0, 1},
                 .h = 8000,
                 .expected = 5900,
                 .depth = 7000,
                 .ssp_iz = 0},
        // 5e-5 m to the plane at z = 100 is below the floor of 1e-6 of the nominal step
        StepCase{
            "NeverBelowMillionthOfNominal", {150, 150, 99.99995f}, {0, 0, 1}, 100, 1e-4f, 5000}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return info.param.name; });

// A step in a gradient g at speed c is at most a tenth of c / g; the nominal step where that is
// longer, below a millionth of it, or not finite.
TEST(TurnLimitedStep, KeepsTheSlownessWithinATenthOfItself) {
  const auto slowness_rate = [](float g) { return Vec3{0.0f, 0.0f, -g / (1500.0f * 1500.0f)}; };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_NEAR(turn_limited_step(slowness_rate(1e5f), 1500.0f, 5.0f), 1.5e-3f, 1e-7f);  // a layer
  EXPECT_EQ(turn_limited_step(slowness_rate(0.1f), 1500.0f, 50.0f), 50.0f);  // a thermocline
  EXPECT_EQ(turn_limited_step(slowness_rate(nan), 1500.0f, 5.0f), 5.0f);
  EXPECT_NEAR(turn_limited_step(slowness_rate(2e5f), 1500.0f, 5.0f), 7.5e-4f, 1e-8f);
  EXPECT_NEAR(turn_limited_step(slowness_rate(1e6f), 1500.0f, 5.0f), 1.5e-4f, 1e-9f);
  EXPECT_NEAR(turn_limited_step(slowness_rate(2e7f), 1500.0f, 5.0f), 7.5e-6f, 1e-10f);
  EXPECT_EQ(turn_limited_step(slowness_rate(1e8f), 1500.0f, 5.0f), 5.0f);
  EXPECT_EQ(turn_limited_step(slowness_rate(inf), 1500.0f, 5.0f), 5.0f);
}

}  // namespace
}  // namespace abyx
