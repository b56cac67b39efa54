#include "reflect/reflect_boundaries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "bty/height_cursor.h"
#include "common/ray_state.h"
#include "rays/ocean_fixtures.h"

namespace abyx {
namespace {

constexpr float kPositionTol = 1e-4f;  // m
constexpr float kPiF = 3.1415927f;

// Rigid bottoms on a 3 x 3 grid over [0, 2000] m.
const std::vector<float> kAxis = testing::linspace(0.0f, 2000.0f, 3);
const BTYfield kFlat100 = testing::make_bty(kAxis, kAxis, [](float, float) { return 100.0f; });
const BTYfield kSlope =
    testing::make_bty(kAxis, kAxis, [](float x, float) { return 100.0f + 0.1f * x; });
// A shaped surface, the plane z = 0.1 x - 60 (its crest towards x = 0), over the flat bottom.
const HeightGrid kTiltedTop =
    testing::make_bty(kAxis, kAxis, [](float x, float) { return 0.1f * x - 60.0f; }).grid;

RayState state_at(Vec3 pos, Vec3 slowness, float c = 1500.0f) {
  RayState state;
  state.pos = pos;
  state.slowness = slowness;
  state.c = c;
  state.tau = 2.5f;
  state.p1 = {0.8f, -0.3f};
  state.p2 = {0.2f, 1.1f};
  state.q1 = {40.0f, 3.0f};
  state.q2 = {-5.0f, 70.0f};
  return state;
}

// Reflects a copy of the state under the flat surface or a shaped one, on the bottom, with
// cursors found at its position; the repair's hit, if any, goes to `hit`.
RayState reflected(RayState state, const BTYfield& bty = kFlat100,
                   std::optional<BottomHit>* hit = nullptr, const HeightGrid* surface = nullptr,
                   SurfaceCoefficient coefficient = SurfaceCoefficient::PressureRelease) {
  const HeightCursor cursor = init_height_cursor(state.pos, bty.grid);
  const BoundaryRepair repair =
      surface == nullptr ? reflect_boundaries(state, bty, cursor, coefficient)
                         : reflect_boundaries_under(
                               state,
                               sample_height_from_cursor(state.pos, *surface,
                                                         init_height_cursor(state.pos, *surface)),
                               bty, cursor, coefficient);
  if (hit != nullptr) *hit = repair.hit ? repair.hit : repair.surface_hit;
  return state;
}

// The travel time and Q come back with the position: tau by the distance times |p|, Q by c times
// the distance times P (before the frame turns P), as over straight water.
void expect_retraced(const RayState& before, const RayState& after, float distance) {
  EXPECT_NEAR(after.tau, before.tau - distance * norm(before.slowness), 1e-6f);
  EXPECT_NEAR(after.q1.x, before.q1.x - before.c * distance * before.p1.x, 0.05f);
  EXPECT_NEAR(after.q2.y, before.q2.y - before.c * distance * before.p2.y, 0.05f);
}

TEST(ReflectBoundaries, SurfaceCrossingMovesBackAndMirrorsWithoutABottomHit) {
  RayState state = state_at({100.0f, 50.0f, -2.0f}, {3e-4f, 0.0f, -6e-4f});
  std::optional<BottomHit> hit;
  const RayState after = reflected(state, kFlat100, &hit);
  EXPECT_NEAR(after.pos.x, 99.0f, kPositionTol);  // s = -2 / 6e-4 = -3333.3
  EXPECT_TRUE(after.pos.y == 50.0f && after.pos.z == 1e-9f);
  EXPECT_TRUE(after.slowness == (Vec3{3e-4f, 0.0f, 6e-4f}));
  EXPECT_TRUE(after.n_surface == 1u && after.n_bottom == 0u);
  EXPECT_EQ(after.phase, kPiF);
  EXPECT_FALSE(hit.has_value());
  expect_retraced(state, after, std::sqrt(5.0f));  // back from (100, 50, -2) to (99, 50, 0)
}

TEST(ReflectBoundaries, FlatBottomCrossingMovesBackAndRecordsHit) {
  const RayState before = state_at({500.0f, 500.0f, 101.0f}, {4e-4f, 0.0f, 5e-4f});
  std::optional<BottomHit> hit;
  const RayState after = reflected(before, kFlat100, &hit);
  EXPECT_NEAR(after.pos.x, 499.2f, kPositionTol);  // s = -1 / 5e-4 = -2000
  // the 1e-9 lift is below resolution at 100 m
  EXPECT_TRUE(after.pos.y == 500.0f && after.pos.z == 100.0f);
  EXPECT_TRUE(after.slowness == (Vec3{4e-4f, 0.0f, -5e-4f}));
  EXPECT_TRUE(after.n_bottom == 1u && after.n_surface == 0u);
  EXPECT_EQ(after.phase, 0.0f);
  ASSERT_TRUE(hit.has_value());
  EXPECT_TRUE(hit->normal == (Vec3{0, 0, 1}));
  EXPECT_TRUE(hit->slowness_in == before.slowness);
  EXPECT_EQ(hit->c, before.c);
  expect_retraced(before, after,
                  std::sqrt(1.64f));  // back from (500, 500, 101) to (499.2, 500, 100)
}

// The slowness and the frame after a reflection are the incident ones mirrored, the frame made
// right-handed again, e1' = -R e1 and e2' = R e2, whichever side of the plane of incidence e1 lies
// on: a ray and its mirror image across that plane turn their frames as mirror images do.
TEST(ReflectBoundaries, TheFrameAfterAReflectionIsTheMirrorImageOfTheOneBefore) {
  const float nn = std::sqrt(1.01f);
  const Vec3 slope_normal{-0.1f / nn, 0.0f, 1.0f / nn};
  struct Case {
    Vec3 pos, slowness;
    const BTYfield* bty;
    Vec3 normal;
    const HeightGrid* surface = nullptr;
  };
  // at (500, 500) the tilted surface lies at -10 m; a state 2 m above it heads up through it
  const Case cases[] = {
      {{500.0f, 500.0f, 152.0f}, {5e-4f, 1e-4f, 4e-4f}, &kSlope, slope_normal},
      {{500.0f, 500.0f, 152.0f}, {5e-4f, -1e-4f, 4e-4f}, &kSlope, slope_normal},
      {{500.0f, 500.0f, 101.0f}, {4e-4f, 2e-4f, 5e-4f}, &kFlat100, {0, 0, 1}},
      {{100.0f, 50.0f, -2.0f}, {3e-4f, -1e-4f, -6e-4f}, &kFlat100, {0, 0, -1}},
      {{500.0f, 500.0f, -12.0f}, {5e-4f, 1e-4f, -4e-4f}, &kFlat100, slope_normal, &kTiltedTop},
      {{500.0f, 500.0f, -12.0f}, {-5e-4f, 1e-4f, -4e-4f}, &kFlat100, slope_normal, &kTiltedTop}};
  for (const Case& c : cases) {
    for (const float phi : {0.3f, -0.3f, 2.0f}) {
      RayState before = state_at(c.pos, (1.0f / (1500.0f * norm(c.slowness))) * c.slowness);
      before.phi = phi;
      const RayState after = reflected(before, *c.bty, nullptr, c.surface);
      const RayBasis in = ray_basis(before.slowness, before.c, before.phi);
      const RayBasis out = ray_basis(after.slowness, after.c, after.phi);
      const auto mirror = [&](Vec3 v) { return v - (2.0f * dot(v, c.normal)) * c.normal; };
      EXPECT_LT(norm(after.slowness - mirror(before.slowness)), 1e-9f);
      EXPECT_LT(norm(out.e1 + mirror(in.e1)), 1e-5f) << phi;
      EXPECT_LT(norm(out.e2 - mirror(in.e2)), 1e-5f) << phi;
      if (c.bty == &kSlope) {  // back on the tangent plane at (500, 500): z = 150 + 0.1 (x - 500)
        EXPECT_NEAR(after.pos.z, 150.0f + 0.1f * (after.pos.x - 500.0f), kPositionTol);
        EXPECT_LT(after.pos.x, before.pos.x);
      }
      if (c.surface != nullptr) {  // on the surface plane, one pressure-release reflection more
        EXPECT_NEAR(after.pos.z, 0.1f * after.pos.x - 60.0f, kPositionTol);
        EXPECT_TRUE(after.n_surface == 1u && after.n_bottom == 0u && after.phase == kPiF);
      }
      if (c.pos.z <
          0.0f) {  // under a table: the same reflection, its hit (normal up) for the phase
        std::optional<BottomHit> hit;
        const RayState tabled =
            reflected(before, *c.bty, &hit, c.surface, SurfaceCoefficient::Table);
        ASSERT_TRUE(hit.has_value());
        EXPECT_TRUE(tabled.pos == after.pos && tabled.phi == after.phi && tabled.phase == 0.0f &&
                    hit->slowness_in == before.slowness);
        EXPECT_LT(norm(hit->normal - (c.normal.z < 0.0f ? 1.0f : -1.0f) * c.normal), 1e-6f);
      }
    }
  }
}

// A shaped surface reflects only a state at or above it heading up through it: one below it, or
// above it heading back into the water, is left where it is.
TEST(ReflectBoundaries, AShapedSurfaceLeavesAStateInTheWaterOrReturningToIt) {
  for (const auto& [pos, slowness] :
       {std::pair{Vec3{500.0f, 500.0f, -8.0f}, Vec3{5e-4f, 0.0f, -4e-4f}},
        std::pair{Vec3{500.0f, 500.0f, -12.0f}, Vec3{-5e-4f, 0.0f, 4e-4f}},
        // heading up, but more gently than the surface rises ahead (towards -x)
        std::pair{Vec3{500.0f, 500.0f, -12.0f}, Vec3{-6.6e-4f, 0.0f, -1e-5f}}}) {
    const RayState before = state_at(pos, slowness);
    const RayState after = reflected(before, kFlat100, nullptr, &kTiltedTop);
    EXPECT_TRUE(after.pos == before.pos && after.slowness == before.slowness);
    EXPECT_EQ(after.n_surface, 0u);
  }
}

// Regression: at exact normal incidence on a sloping bottom the plane of incidence is undefined;
// P must be kept instead of being zeroed, and the basis angle stays.
TEST(ReflectBoundaries, NormalIncidenceOnSlopeKeepsP) {
  const Vec3 probe{500.0f, 500.0f, 160.0f};
  const HeightCursor cursor = init_height_cursor(probe, kSlope.grid);
  const Vec3 n = sample_height_from_cursor(probe, kSlope.grid, cursor).normal;
  // c a power of two makes c * (n / c) exactly n, so n x t is exactly zero
  const float c = 1024.0f;
  RayState before = state_at(probe, {n.x / c, n.y / c, n.z / c}, c);
  before.phi = 0.4f;
  const RayState after = reflected(before, kSlope);
  EXPECT_EQ(after.n_bottom, 1u);
  EXPECT_TRUE(after.p1 == before.p1 && after.p2 == before.p2);
  EXPECT_EQ(after.phi, before.phi);
  EXPECT_NEAR(after.slowness.x, -before.slowness.x, 1e-6f / c);
  EXPECT_NEAR(after.slowness.z, -before.slowness.z, 1e-6f / c);
}

}  // namespace
}  // namespace abyx
