#include "reflect/reflect_boundaries.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "bty/bty_cursor.h"
#include "rays/ray_state.h"

namespace abyx {
namespace {

constexpr float kPositionTol = 1e-4f;  // m
constexpr float kMatrixTol = 1e-5f;    // entries of P, rounding of the frame rotation
constexpr float kAngleTol = 1e-5f;     // rad
constexpr float kPiF = 3.1415927f;

// A rigid bottom sampled from depth(x, y) on a 3 x 3 grid over [0, 2000] m.
BTYfield make_bottom(const std::function<float(float, float)>& depth) {
  BTYfield bty;
  bty.x = {0.0f, 1000.0f, 2000.0f};
  bty.y = {0.0f, 1000.0f, 2000.0f};
  for (float x : bty.x) {
    for (float y : bty.y) bty.depth.push_back(depth(x, y));
  }
  return bty;
}

const BTYfield kFlat100 = make_bottom([](float, float) { return 100.0f; });

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

// Reflects a copy of the state on the bottom with a cursor found at its position.
RayState reflected(RayState state, const BTYfield& bty = kFlat100) {
  BTYCursor cursor = init_bty_cursor(state.pos, bty);
  reflect_boundaries(state, bty, cursor);
  return state;
}

void expect_unchanged_except_bottom_hit(const RayState& after, const RayState& before) {
  EXPECT_FALSE(after.bottom_hit.has_value());
  EXPECT_TRUE(after.pos == before.pos);
  EXPECT_TRUE(after.slowness == before.slowness);
  EXPECT_EQ(after.phi, before.phi);
  EXPECT_EQ(after.phase, before.phase);
  EXPECT_EQ(after.n_surface, before.n_surface);
  EXPECT_EQ(after.n_bottom, before.n_bottom);
  EXPECT_TRUE(after.p1 == before.p1 && after.p2 == before.p2);
  EXPECT_EQ(after.det_q, before.det_q);
}

TEST(ReflectBoundaries, SurfaceCrossingMovesBackAndMirrors) {
  RayState state = state_at({100.0f, 50.0f, -2.0f}, {3e-4f, 0.0f, -6e-4f});
  state.bottom_hit = BottomHit{{0, 0, 1}, {0, 0, 1}, 1500.0f};
  const RayState after = reflected(state);
  EXPECT_NEAR(after.pos.x, 99.0f, kPositionTol);  // s = -2 / 6e-4 = -3333.3
  EXPECT_EQ(after.pos.y, 50.0f);
  EXPECT_EQ(after.pos.z, 1e-9f);
  EXPECT_EQ(after.slowness.z, 6e-4f);
  EXPECT_EQ(after.slowness.x, 3e-4f);
  EXPECT_EQ(after.n_surface, 1u);
  EXPECT_EQ(after.n_bottom, 0u);
  EXPECT_EQ(after.phase, kPiF);
  EXPECT_FALSE(after.bottom_hit.has_value());
}

TEST(ReflectBoundaries, SurfaceTestNeedsUpwardSlowness) {
  const RayState at_surface_up = reflected(state_at({10, 10, 0}, {3e-4f, 0, -6e-4f}));
  EXPECT_EQ(at_surface_up.n_surface, 1u);
  for (const RayState& before :
       {state_at({10, 10, 0}, {3e-4f, 0, 6e-4f}), state_at({10, 10, 0}, {6.6e-4f, 0, 0}),
        state_at({10, 10, -1}, {3e-4f, 0, 6e-4f})}) {
    expect_unchanged_except_bottom_hit(reflected(before), before);
  }
}

TEST(ReflectBoundaries, FlatBottomCrossingMovesBackAndRecordsHit) {
  const RayState before = state_at({500.0f, 500.0f, 101.0f}, {4e-4f, 0.0f, 5e-4f});
  const RayState after = reflected(before);
  EXPECT_NEAR(after.pos.x, 499.2f, kPositionTol);  // s = -1 / 5e-4 = -2000
  EXPECT_EQ(after.pos.y, 500.0f);
  EXPECT_EQ(after.pos.z, 100.0f);  // the 1e-9 lift is below resolution at 100 m
  EXPECT_EQ(after.slowness.x, 4e-4f);
  EXPECT_EQ(after.slowness.z, -5e-4f);
  EXPECT_EQ(after.n_bottom, 1u);
  EXPECT_EQ(after.n_surface, 0u);
  EXPECT_EQ(after.phase, 0.0f);
  ASSERT_TRUE(after.bottom_hit.has_value());
  EXPECT_TRUE(after.bottom_hit->normal == (Vec3{0, 0, 1}));
  EXPECT_TRUE(after.bottom_hit->slowness_in == before.slowness);
  EXPECT_EQ(after.bottom_hit->c, before.c);
}

TEST(ReflectBoundaries, BelowBottomHeadingUpIsLeftAlone) {
  for (const RayState& before :
       {state_at({500, 500, 101}, {4e-4f, 0, -5e-4f}), state_at({500, 500, 101}, {6.6e-4f, 0, 0}),
        state_at({500, 500, 99}, {4e-4f, 0, 5e-4f})}) {
    expect_unchanged_except_bottom_hit(reflected(before), before);
  }
}

TEST(ReflectBoundaries, GrazingBottomDropsOntoDepthInPlace) {
  const RayState after = reflected(state_at({500.0f, 600.0f, 101.0f}, {6.6e-4f, 0.0f, 1e-13f}));
  EXPECT_EQ(after.pos.x, 500.0f);
  EXPECT_EQ(after.pos.y, 600.0f);
  EXPECT_EQ(after.pos.z, 100.0f);
  EXPECT_EQ(after.n_bottom, 1u);
  EXPECT_EQ(after.slowness.z, -1e-13f);
}

TEST(ReflectBoundaries, SlopingBottomMirrorsAboutNormal) {
  const BTYfield slope = make_bottom([](float x, float) { return 100.0f + 0.1f * x; });
  const RayState before = state_at({500.0f, 500.0f, 152.0f}, {5e-4f, 1e-4f, 4e-4f});
  const RayState after = reflected(before, slope);
  const float nn = std::sqrt(1.01f);
  const Vec3 n{-0.1f / nn, 0.0f, 1.0f / nn};
  const float pn = dot(before.slowness, n);
  const Vec3 mirrored = before.slowness - (2.0f * pn) * n;
  EXPECT_NEAR(after.slowness.x, mirrored.x, 1e-9f);
  EXPECT_NEAR(after.slowness.y, mirrored.y, 1e-9f);
  EXPECT_NEAR(after.slowness.z, mirrored.z, 1e-9f);
  // back on the bottom's tangent plane at (500, 500): z = 150 + 0.1 (x - 500)
  EXPECT_NEAR(after.pos.z, 150.0f + 0.1f * (after.pos.x - 500.0f), kPositionTol);
  EXPECT_LT(after.pos.x, before.pos.x);
}

// Reflections at the surface, a flat bottom and a sloping bottom, for several incidences.
std::vector<std::pair<RayState, BTYfield>> reflection_cases() {
  const BTYfield slope =
      make_bottom([](float x, float y) { return 100.0f + 0.1f * x - 0.05f * y; });
  std::vector<std::pair<RayState, BTYfield>> cases;
  const Vec3 directions[] = {{0.6f, 0.0f, 0.8f}, {0.3f, -0.5f, 0.8f}, {-0.7f, 0.2f, 0.3f}};
  for (const Vec3 d : directions) {
    const Vec3 p = (1.0f / (1500.0f * norm(d))) * d;
    cases.push_back({state_at({500, 500, -1}, {p.x, p.y, -p.z}), kFlat100});
    cases.push_back({state_at({500, 500, 101}, p), kFlat100});
    cases.push_back({state_at({500, 500, 160}, p), slope});
  }
  return cases;
}

TEST(ReflectBoundaries, KeepsQAndTauAndPUpToRounding) {
  for (auto& [before, bty] : reflection_cases()) {
    RayState rotated = before;
    rotated.phi = 0.9f;
    for (const RayState& start : {before, rotated}) {
      const RayState after = reflected(start, bty);
      ASSERT_EQ(after.n_surface + after.n_bottom, 1u);
      EXPECT_TRUE(after.q1 == start.q1 && after.q2 == start.q2);
      EXPECT_EQ(after.tau, start.tau);
      EXPECT_NEAR(after.p1.x, start.p1.x, kMatrixTol);
      EXPECT_NEAR(after.p1.y, start.p1.y, kMatrixTol);
      EXPECT_NEAR(after.p2.x, start.p2.x, kMatrixTol);
      EXPECT_NEAR(after.p2.y, start.p2.y, kMatrixTol);
      EXPECT_EQ(after.det_q, start.q1.x * start.q2.y - start.q2.x * start.q1.y);
      EXPECT_NEAR(1500.0f * norm(after.slowness), 1.0f, 1e-6f);
    }
  }
}

TEST(ReflectBoundaries, SurfaceTurnsVerticalPlaneRayBasisByTwoPi) {
  const Vec3 p{0.8f / 1500.0f, 0.0f, -0.6f / 1500.0f};
  const RayState after = reflected(state_at({500, 500, -1}, p));
  EXPECT_NEAR(after.phi, 2.0f * kPiF, kAngleTol);
}

TEST(ReflectBoundaries, FlatBottomLeavesVerticalPlaneRayBasisAngle) {
  const Vec3 p{0.8f / 1500.0f, 0.0f, 0.6f / 1500.0f};
  const RayState after = reflected(state_at({500, 500, 101}, p));
  EXPECT_NEAR(after.phi, 0.0f, kAngleTol);
}

// Regression: a ray moving exactly vertically has no horizontal slowness; the frame update must
// stay finite and leave the beam matrices as they are.
TEST(ReflectBoundaries, ExactlyVerticalRayReflectsFinitely) {
  for (const RayState& before : {state_at({500, 500, 101}, {0, 0, 1 / 1500.0f}),
                                 state_at({500, 500, -1}, {0, 0, -1 / 1500.0f})}) {
    const RayState after = reflected(before);
    EXPECT_EQ(after.slowness.z, -before.slowness.z);
    EXPECT_TRUE(after.p1 == before.p1 && after.p2 == before.p2);
    EXPECT_EQ(after.phi, before.phi);
    EXPECT_TRUE(std::isfinite(after.pos.x) && std::isfinite(after.pos.z));
  }
}

// Regression: at exact normal incidence on a sloping bottom the plane of incidence is undefined;
// P must be kept instead of being zeroed, and the basis angle stays.
TEST(ReflectBoundaries, NormalIncidenceOnSlopeKeepsP) {
  const BTYfield slope = make_bottom([](float x, float) { return 100.0f + 0.1f * x; });
  const Vec3 probe{500.0f, 500.0f, 160.0f};
  BTYCursor cursor = init_bty_cursor(probe, slope);
  const Vec3 n = bottom_normal_from_cursor(probe, slope, cursor);
  // c a power of two makes c * (n / c) exactly n, so n x t is exactly zero
  const float c = 1024.0f;
  RayState before = state_at(probe, {n.x / c, n.y / c, n.z / c}, c);
  before.phi = 0.4f;
  const RayState after = reflected(before, slope);
  EXPECT_EQ(after.n_bottom, 1u);
  EXPECT_TRUE(after.p1 == before.p1 && after.p2 == before.p2);
  EXPECT_EQ(after.phi, before.phi);
  EXPECT_NEAR(after.slowness.x, -before.slowness.x, 1e-6f / c);
  EXPECT_NEAR(after.slowness.z, -before.slowness.z, 1e-6f / c);
  EXPECT_EQ(after.det_q, before.q1.x * before.q2.y - before.q2.x * before.q1.y);
}

// The tracing loop's version, with the cursor already walked to the state, repairs exactly as the
// version that walks the cursor itself, and hands back the bottom it tested.
TEST(ReflectBoundaries, InCellRepairEqualsTheWalkingOne) {
  const BTYfield bty = make_bottom([](float x, float y) { return 100.0f + 0.02f * x - 0.01f * y; });
  const auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
  std::mt19937 random(13);
  std::uniform_real_distribution<float> coordinate(-300.0f, 2300.0f);
  std::uniform_real_distribution<float> depth(-5.0f, 160.0f);
  std::uniform_real_distribution<float> component(-1.0f, 1.0f);
  int reflections = 0;
  for (int trial = 0; trial < 5000; ++trial) {
    const Vec3 dir{component(random), component(random), component(random)};
    const float length = norm(dir);
    const RayState before = state_at(
        {coordinate(random), coordinate(random), depth(random)},
        {dir.x / (1500.0f * length), dir.y / (1500.0f * length), dir.z / (1500.0f * length)});
    RayState walking = before, in_cell = before;
    walking.phi = in_cell.phi = 0.3f * component(random);
    BTYCursor a{1, 0}, b = a;
    const std::optional<BottomSample> kept_a = reflect_boundaries_keeping_bottom(walking, bty, a);
    if (!(in_cell.pos.z <= 0.0f && in_cell.slowness.z < 0.0f))
      update_bty_cursor(in_cell.pos, bty, b);
    const std::optional<BottomSample> kept_b = reflect_boundaries_in_cell(in_cell, bty, b);
    ASSERT_EQ(a.ix, b.ix);
    ASSERT_EQ(a.iy, b.iy);
    ASSERT_EQ(kept_a.has_value(), kept_b.has_value());
    if (kept_a) {
      ASSERT_EQ(bits(kept_a->depth), bits(kept_b->depth));
      ASSERT_EQ(bits(kept_a->normal.z), bits(kept_b->normal.z));
    }
    const float wa[] = {walking.pos.x,      walking.pos.y, walking.pos.z, walking.slowness.x,
                        walking.slowness.z, walking.phi,   walking.phase, walking.p1.x,
                        walking.p2.y,       walking.det_q};
    const float wb[] = {in_cell.pos.x,      in_cell.pos.y, in_cell.pos.z, in_cell.slowness.x,
                        in_cell.slowness.z, in_cell.phi,   in_cell.phase, in_cell.p1.x,
                        in_cell.p2.y,       in_cell.det_q};
    for (int f = 0; f < 10; ++f) ASSERT_EQ(bits(wa[f]), bits(wb[f])) << "field " << f;
    ASSERT_EQ(walking.bottom_hit.has_value(), in_cell.bottom_hit.has_value());
    reflections += static_cast<int>(walking.n_surface + walking.n_bottom);
  }
  EXPECT_GT(reflections, 500);
}

}  // namespace
}  // namespace abyx
