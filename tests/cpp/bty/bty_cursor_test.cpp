#include "bty/bty_cursor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace abyx {
namespace {

constexpr float kDepthTolerance = 1e-3f;   // m
constexpr float kNormalTolerance = 1e-6f;  // unit vector component
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

BTYfield make_bty(std::vector<float> x, std::vector<float> y, std::vector<float> depth) {
  SimulationConfig config;
  config.bathymetry.x_bty_m = std::move(x);
  config.bathymetry.y_bty_m = std::move(y);
  config.bathymetry.z_bty_m = std::move(depth);
  return init_bty(config);
}

// Depth and normal after moving a fresh cursor to the point, the way callers use the evaluators.
struct Probe {
  float depth;
  Vec3 normal;
};

Probe probe(const BTYfield& bty, Vec3 p) {
  BTYCursor cursor = init_bty_cursor({0, 0, 0}, bty);
  update_bty_cursor(p, bty, cursor);
  return {interpolate_bty_from_cursor(p, bty, cursor), bottom_normal_from_cursor(p, bty, cursor)};
}

void expect_normal(Vec3 got, float gx, float gy) {
  const float n = std::sqrt(static_cast<double>(gx) * gx + static_cast<double>(gy) * gy + 1.0);
  EXPECT_NEAR(got.x, -gx / n, kNormalTolerance);
  EXPECT_NEAR(got.y, -gy / n, kNormalTolerance);
  EXPECT_NEAR(got.z, 1.0f / n, kNormalTolerance);
}

TEST(BtyInterpolation, BilinearDepthOnTheWorkedExample) {
  const BTYfield bty = make_bty({0, 1000}, {0, 1000}, {100, 200, 300, 400});
  EXPECT_NEAR(probe(bty, {500, 500, 0}).depth, 250.0f, kDepthTolerance);
  EXPECT_EQ(probe(bty, {0, 1000, 0}).depth, 200.0f);
  EXPECT_EQ(probe(bty, {1000, 0, 0}).depth, 300.0f);
}

TEST(BtyInterpolation, FlatBottomIsConstantInsideAndOutsideWithVerticalNormal) {
  const BTYfield bty = make_bty({0, 500, 1000}, {0, 1000}, {80, 80, 80, 80, 80, 80});
  for (const Vec3 p :
       {Vec3{10, 10, 0}, Vec3{750, 400, 0}, Vec3{-300, 2000, 0}, Vec3{5000, -5000, 0}}) {
    const Probe got = probe(bty, p);
    EXPECT_FLOAT_EQ(got.depth, 80.0f);  // the four weights add up to 1 only within rounding
    EXPECT_EQ(got.normal, (Vec3{-0.0f, -0.0f, 1.0f}));
  }
}

TEST(BtyInterpolation, SlopeKeepsItsNormalBeyondTheEdgesWhileTheDepthIsHeld) {
  const BTYfield bty = make_bty({0, 1000}, {0, 1000}, {100, 100, 200, 200});  // 100 + 0.1 x
  for (const Vec3 p :
       {Vec3{250, 600, 0}, Vec3{1500, 500, 0}, Vec3{-400, 500, 0}, Vec3{700, 3000, 0}}) {
    expect_normal(probe(bty, p).normal, 0.1f, 0.0f);
  }
  EXPECT_NEAR(probe(bty, {250, 600, 0}).depth, 125.0f, kDepthTolerance);
  EXPECT_EQ(probe(bty, {1500, 500, 0}).depth, 200.0f);
  EXPECT_EQ(probe(bty, {-400, 500, 0}).depth, 100.0f);
}

TEST(BtyInterpolation, NormalIsTheGradientOfTheBilinearPatch) {
  // z00 = 100, z01 = 200, z10 = 300, z11 = 600, evaluated at (tx, ty) = (0.25, 0.5)
  const BTYfield bty = make_bty({0, 1000}, {0, 1000}, {100, 200, 300, 600});
  const float gx = (0.5f * 200.0f + 0.5f * 400.0f) / 1000.0f;    // 0.3
  const float gy = (0.75f * 100.0f + 0.25f * 300.0f) / 1000.0f;  // 0.15
  const Probe got = probe(bty, {250, 500, 0});
  expect_normal(got.normal, gx, gy);
  EXPECT_NEAR(got.depth, 0.375f * 100 + 0.375f * 200 + 0.125f * 300 + 0.125f * 600,
              kDepthTolerance);
}

TEST(BtySingleNodeAxis, OneXNodeIsConstantAlongXWithNoXSlope) {
  const BTYfield bty = make_bty({500}, {0, 1000}, {100, 300});
  for (float x : {-1000.0f, 500.0f, 4000.0f}) {
    const Probe got = probe(bty, {x, 250, 0});
    EXPECT_NEAR(got.depth, 150.0f, kDepthTolerance);
    expect_normal(got.normal, 0.0f, 0.2f);
  }
  EXPECT_EQ(init_bty_cursor({900, 900, 0}, bty).ix, 0u);
}

TEST(BtySingleNodeAxis, OneYNodeIsConstantAlongYWithNoYSlope) {
  const BTYfield bty = make_bty({0, 1000}, {3}, {100, 300});
  for (float y : {-1000.0f, 3.0f, 4000.0f}) {
    const Probe got = probe(bty, {750, y, 0});
    EXPECT_NEAR(got.depth, 250.0f, kDepthTolerance);
    expect_normal(got.normal, 0.2f, 0.0f);
  }
}

TEST(BtySingleNodeAxis, OneNodeByOneNodeIsAFlatBottom) {
  const BTYfield bty = make_bty({10}, {20}, {42});
  for (const Vec3 p : {Vec3{10, 20, 0}, Vec3{-1e6f, 3e5f, 0}, Vec3{kNan, 0, 0}}) {
    BTYCursor cursor = init_bty_cursor(p, bty);
    update_bty_cursor(p, bty, cursor);
    EXPECT_EQ(cursor.ix, 0u);
    EXPECT_EQ(cursor.iy, 0u);
    EXPECT_EQ(interpolate_bty_from_cursor(p, bty, cursor), 42.0f);
    EXPECT_EQ(bottom_normal_from_cursor(p, bty, cursor), (Vec3{-0.0f, -0.0f, 1.0f}));
  }
}

TEST(BtyCursor, SearchAndWalkFollowTheSoundSpeedCursorRules) {
  const BTYfield bty = make_bty({0, 100, 200, 300}, {0, 1000}, std::vector<float>(8, 50.0f));
  EXPECT_EQ(init_bty_cursor({100, 0, 0}, bty).ix, 1u);  // on a node: the cell above it
  EXPECT_EQ(init_bty_cursor({300, 0, 0}, bty).ix, 2u);  // last node: clamped
  EXPECT_EQ(init_bty_cursor({-50, 0, 0}, bty).ix, 0u);
  EXPECT_EQ(init_bty_cursor({kNan, 0, 0}, bty).ix, 0u);

  BTYCursor cursor{0, 0};
  update_bty_cursor({100, 0, 0}, bty, cursor);  // tie: the walk keeps the cell
  EXPECT_EQ(cursor.ix, 0u);
  update_bty_cursor({250, 0, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 2u);
  update_bty_cursor({kNan, 0, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 2u);
  update_bty_cursor({150, 0, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 1u);
  update_bty_cursor({9000, 0, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 2u);
  update_bty_cursor({-9000, 0, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 0u);
}

TEST(BtyCursor, StaleIndexIsPulledBackIntoTheGrid) {
  const BTYfield bty = make_bty({0, 1000}, {0, 1000}, {100, 200, 300, 400});
  const BTYCursor stale{50, 60};
  EXPECT_EQ(interpolate_bty_from_cursor({1000, 1000, 0}, bty, stale), 400.0f);
  BTYCursor cursor = stale;
  update_bty_cursor({500, 500, 0}, bty, cursor);
  EXPECT_EQ(cursor.ix, 0u);
  EXPECT_EQ(cursor.iy, 0u);
}

}  // namespace
}  // namespace abyx
