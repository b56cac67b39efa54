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
  return init_bty(config.bathymetry);
}

// Depth and normal after moving a fresh cursor to the point, the way callers use the evaluators.
struct Probe {
  float depth;
  Vec3 normal;
};

Probe probe(const BTYfield& bty, Vec3 p) {
  BTYCursor cursor = init_bty_cursor({0, 0, 0}, bty);
  update_bty_cursor(p, bty, cursor);
  const BottomSample bottom = sample_bottom_from_cursor(p, bty, cursor);
  return {bottom.depth, bottom.normal};
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

}  // namespace
}  // namespace abyx
