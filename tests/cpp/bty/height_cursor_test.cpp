#include "bty/height_cursor.h"

#include "bty/bty_field.h"
#include "bty/sea_surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

constexpr float kDepthTolerance = 1e-3f;   // m
constexpr float kNormalTolerance = 1e-6f;  // unit vector component

BTYfield make_bty(std::vector<float> x, std::vector<float> y, std::vector<float> depth) {
  Bathymetry bathymetry;
  bathymetry.x_bty_m = std::move(x);
  bathymetry.y_bty_m = std::move(y);
  bathymetry.z_bty_m = std::move(depth);
  return init_bty(bathymetry);
}

// The bottom after moving a fresh cursor to the point, the way callers use the evaluators; the
// normal is compared with that of the gradient (gx, gy) of the depth.
void expect_bottom(const BTYfield& bty, Vec3 p, float depth, float gx, float gy,
                   float depth_tolerance = kDepthTolerance) {
  HeightCursor cursor = init_height_cursor({0, 0, 0}, bty.grid);
  update_height_cursor(p, bty.grid, cursor);
  const HeightSample got = sample_height_from_cursor(p, bty.grid, cursor);
  EXPECT_NEAR(got.depth, depth, depth_tolerance);
  const float n = std::sqrt(static_cast<double>(gx) * gx + static_cast<double>(gy) * gy + 1.0);
  EXPECT_NEAR(got.normal.x, -gx / n, kNormalTolerance);
  EXPECT_NEAR(got.normal.y, -gy / n, kNormalTolerance);
  EXPECT_NEAR(got.normal.z, 1.0f / n, kNormalTolerance);
}

TEST(BtyInterpolation, BilinearDepthAndTheNormalOfThePatchGradient) {
  // z00 = 100, z01 = 200, z10 = 300, z11 = 600 (y fastest), at (tx, ty) = (0.25, 0.5)
  const BTYfield bty = make_bty({0, 1000}, {0, 1000}, {100, 200, 300, 600});
  const float gx = (0.5f * 200.0f + 0.5f * 400.0f) / 1000.0f;    // 0.3
  const float gy = (0.75f * 100.0f + 0.25f * 300.0f) / 1000.0f;  // 0.15
  expect_bottom(bty, {250, 500, 0}, 0.375f * 100 + 0.375f * 200 + 0.125f * 300 + 0.125f * 600, gx,
                gy);
  expect_bottom(bty, {0, 1000, 0}, 200, 0.4f, 0.1f, 0.0f);  // corners exactly
  expect_bottom(bty, {1000, 0, 0}, 300, 0.2f, 0.3f, 0.0f);
}

TEST(BtyInterpolation, OneXNodeIsConstantAlongXWithNoXSlope) {
  const BTYfield bty = make_bty({500}, {0, 1000}, {100, 300});
  for (float x : {-1000.0f, 500.0f, 4000.0f}) expect_bottom(bty, {x, 250, 0}, 150, 0, 0.2f);
  EXPECT_EQ(init_height_cursor({900, 900, 0}, bty.grid).ix, 0u);
}

TEST(BtyInterpolation, ALevelCellIsItsDepthExactlyAndOneRaisedCornerTiltsTheNext) {
  // the first cell is level at 100 m; the second has only its far corner (2000, 1000) at 300 m
  const BTYfield bty = make_bty({0, 1000, 2000}, {0, 1000}, {100, 100, 100, 100, 100, 300});
  HeightCursor cursor{};
  const HeightSample level = sample_height_from_cursor({333.3f, 777.7f, 0}, bty.grid, cursor);
  EXPECT_EQ(level.depth, 100.0f);
  EXPECT_EQ(level.normal, (Vec3{0, 0, 1}));
  EXPECT_TRUE(
      std::isnan(sample_height_from_cursor({std::nanf(""), 500, 0}, bty.grid, cursor).depth));
  expect_bottom(bty, {1500, 500, 0}, 150, 0.1f, 0.1f);
}

// The bounds hold the depth and the tilt of the normal at every point, inside the grid and beyond
// it; the tilt's bound takes the steepest edge along each axis, and a grid with one node along an
// axis has no slope along it.
TEST(BtyInterpolation, BoundsHoldEveryDepthAndNormal) {
  const BTYfield bty = make_bty({0, 1000, 3000}, {-500, 500}, {400, 900, 250, 300, 450, 1200});
  EXPECT_TRUE(bty.grid.shallowest_depth == 250.0f && bty.grid.deepest_depth == 1200.0f);
  const float steepest = std::sqrt(1.0f + 0.6f * 0.6f + 0.75f * 0.75f);  // edges 0.6 and 0.75
  EXPECT_GE(bty.grid.steepest_tilt_secant, steepest * 0.9999f);
  EXPECT_LE(bty.grid.steepest_tilt_secant, steepest * 1.02f);
  for (float x = -1000.0f; x <= 4000.0f; x += 137.0f) {
    for (float y = -900.0f; y <= 900.0f; y += 61.0f) {
      HeightCursor cursor = init_height_cursor({x, y, 0}, bty.grid);
      const HeightSample got = sample_height_from_cursor({x, y, 0}, bty.grid, cursor);
      EXPECT_TRUE(got.depth >= bty.grid.shallowest_depth && got.depth <= bty.grid.deepest_depth);
      EXPECT_LE(1.0f / got.normal.z, bty.grid.steepest_tilt_secant);
    }
  }
  const BTYfield one_column = make_bty({500}, {0, 1000}, {100, 300});
  EXPECT_NEAR(one_column.grid.steepest_tilt_secant, std::sqrt(1.04f) * 1.01f, 1e-5f);
}

TEST(InitBty, ShapeMismatchNamesTheThreeNumbersAndTheMismatch) {
  try {
    make_bty({0, 1000, 2000}, {0, 1000}, {100, 100, 100, 100, 100});
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(),
                 "z_bty_m does not match grid dimensions: nx = 3, ny = 2, bty_len = 5: "
                 "nx * ny = 6 but z_bty_m has 5 values");
  }
}

// A surface level at z = 0 is the flat surface (none), any other is a grid with its bounds; one
// whose depths do not fill its axes cannot be built.
TEST(InitSurface, LevelAtZeroIsTheFlatSurfaceAndAMismatchIsAFault) {
  EXPECT_FALSE(init_surface(std::nullopt) || init_surface(SeaSurface{{0, 1}, {0}, {0.0f, -0.0f}}));
  const std::optional<HeightGrid> raised = init_surface(SeaSurface{{0, 1}, {0}, {-2, -1}});
  ASSERT_TRUE(raised);
  EXPECT_TRUE(raised->shallowest_depth == -2.0f && raised->deepest_depth == -1.0f);
  EXPECT_THROW(init_surface(SeaSurface{{0, 1}, {0, 1}, {1, 2, 3}}), Fault);
}

}  // namespace
}  // namespace abyx
