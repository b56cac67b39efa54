#include "ssp/ssp_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <ostream>
#include <random>
#include <utility>
#include <vector>

#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

constexpr float kSpeedTolerance = 1e-3f;  // m/s, trilinear reproduction of a trilinear field
constexpr float kStepTolerance = 1e-4f;   // m
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SSPFields make_fields(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                      float (*c)(float, float, float)) {
  SimulationConfig config;
  for (float xv : x) {
    for (float yv : y) {
      for (float zv : z) config.ssp.c_m_s.push_back(c(xv, yv, zv));
    }
  }
  config.ssp.x_ssp_m = std::move(x);
  config.ssp.y_ssp_m = std::move(y);
  config.ssp.z_ssp_m = std::move(z);
  return init_ssp(config);
}

float trilinear(float x, float y, float z) {
  return 1500.0f + 0.01f * x + 0.02f * y + 0.1f * z + 1e-5f * x * y - 2e-6f * y * z;
}

// The grid of the worked examples: x = y = (0, 1000), z = (0, 100, 200).
SSPFields example_fields() { return make_fields({0, 1000}, {0, 1000}, {0, 100, 200}, trilinear); }

struct SearchCase {
  float z;
  std::size_t iz;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << "z = " << c.z; }

class SspCursorSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(SspCursorSearch, FindsTheCellAboveANodeAndClampsAtTheEnds) {
  const SSPCursor cursor = init_ssp_cursor({500, 500, GetParam().z}, example_fields());
  EXPECT_EQ(cursor.iz, GetParam().iz);
}

INSTANTIATE_TEST_SUITE_P(Examples, SspCursorSearch,
                         testing::Values(SearchCase{100, 1}, SearchCase{200, 1},
                                         SearchCase{5000, 1}, SearchCase{-10, 0}, SearchCase{0, 0},
                                         SearchCase{50, 0}, SearchCase{150, 1}, SearchCase{kInf, 1},
                                         SearchCase{-kInf, 0}));

TEST(SspCursor, WalkKeepsTheCellOnATieWhileTheSearchTakesTheCellAbove) {
  const SSPFields ssp = example_fields();
  SSPCursor lower{0, 0, 0};
  update_ssp_cursor({500, 500, 100}, ssp, lower);
  EXPECT_EQ(lower.iz, 0u);
  SSPCursor upper{0, 0, 1};
  update_ssp_cursor({500, 500, 100}, ssp, upper);
  EXPECT_EQ(upper.iz, 1u);
  EXPECT_EQ(init_ssp_cursor({500, 500, 100}, ssp).iz, 1u);
}

TEST(SspCursor, WalkClampsBeyondEitherEnd) {
  const SSPFields ssp = make_fields({0, 1, 2, 3}, {0, 1}, {0, 10, 20, 30, 40}, trilinear);
  SSPCursor cursor{1, 0, 2};
  update_ssp_cursor({10, -5, 1000}, ssp, cursor);
  EXPECT_EQ(cursor.ix, 2u);
  EXPECT_EQ(cursor.iy, 0u);
  EXPECT_EQ(cursor.iz, 3u);
  update_ssp_cursor({-10, 1, -3}, ssp, cursor);
  EXPECT_EQ(cursor.ix, 0u);
  EXPECT_EQ(cursor.iy, 0u);
  EXPECT_EQ(cursor.iz, 0u);
}

TEST(SspCursor, WalkFromAnyCellAgreesWithTheSearchOffTheNodes) {
  const SSPFields ssp = make_fields({0, 1}, {0, 1}, {0, 5, 12, 20, 33, 50, 80}, trilinear);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> depth(-20.0f, 100.0f);
  for (int trial = 0; trial < 500; ++trial) {
    const float z = depth(random);
    for (std::size_t start = 0; start < 6; ++start) {
      SSPCursor cursor{0, 0, start};
      update_ssp_cursor({0.5f, 0.5f, z}, ssp, cursor);
      ASSERT_EQ(cursor.iz, init_ssp_cursor({0.5f, 0.5f, z}, ssp).iz) << "z = " << z;
    }
  }
}

TEST(SspCursor, StaleIndexBeyondTheAxisIsPulledBackIntoIt) {
  const SSPFields ssp = example_fields();
  SSPCursor cursor{40, 7, 100};
  update_ssp_cursor({500, 500, 150}, ssp, cursor);
  EXPECT_EQ(cursor.ix, 0u);
  EXPECT_EQ(cursor.iy, 0u);
  EXPECT_EQ(cursor.iz, 1u);
}

TEST(SspCursor, NanCoordinatesNeverLeaveTheGrid) {
  const SSPFields ssp = make_fields({0, 1, 2}, {0, 1, 2}, {0, 10, 20, 30}, trilinear);
  const SSPCursor start = init_ssp_cursor({kNan, kNan, kNan}, ssp);
  EXPECT_EQ(start.ix, 0u);
  EXPECT_EQ(start.iz, 0u);
  SSPCursor cursor{1, 1, 2};
  update_ssp_cursor({kNan, 1.5f, kNan}, ssp, cursor);
  EXPECT_EQ(cursor.ix, 1u);
  EXPECT_EQ(cursor.iz, 2u);
  // the value is undefined, but the lookup stays inside the grids
  EXPECT_TRUE(std::isnan(interpolate_all_with_cursor({kNan, 1, 5}, ssp, cursor).c));
  EXPECT_LE(cursor.ix, 1u);
}

TEST(SspCursor, WeightsAreTheClampedPositionInTheCell) {
  const SSPFields ssp = example_fields();
  SSPCursor cursor{};
  const SSPWeights w = update_cursor_and_weights({250, 1200, 175}, ssp.x, ssp.y, ssp.z, cursor);
  EXPECT_EQ(w.ix, 0u);
  EXPECT_EQ(w.iz, 1u);
  EXPECT_EQ(w.wx0, 0.75f);
  EXPECT_EQ(w.wx1, 0.25f);
  EXPECT_EQ(w.wy0, 0.0f);  // beyond the last y node
  EXPECT_EQ(w.wy1, 1.0f);
  EXPECT_EQ(w.wz0, 0.25f);
  EXPECT_EQ(w.wz1, 0.75f);
}

TEST(SspInterpolation, ReproducesATrilinearField) {
  const SSPFields ssp = make_fields({0, 400, 1000}, {0, 500, 1000}, {0, 100, 200}, trilinear);
  SSPCursor cursor{};
  for (const Vec3 p : {Vec3{250, 600, 30}, Vec3{999, 1, 150}, Vec3{400, 500, 100}}) {
    EXPECT_NEAR(interpolate_c_with_cursor(p, ssp, cursor), trilinear(p.x, p.y, p.z),
                kSpeedTolerance);
  }
}

TEST(SspInterpolation, ReturnsNodeValuesExactlyAtNodes) {
  const SSPFields ssp =
      make_fields({0, 400, 1000}, {0, 500, 1000}, {0, 100, 200}, [](float x, float y, float z) {
        return 1500.0f + std::sin(x * 0.01f) + y * y * 1e-4f + std::cos(z * 0.03f);
      });
  SSPCursor cursor{};
  for (std::size_t ix = 0; ix < 3; ++ix) {
    for (std::size_t iy = 0; iy < 3; ++iy) {
      for (std::size_t iz = 0; iz < 3; ++iz) {
        const SSPSample s =
            interpolate_all_with_cursor({ssp.x[ix], ssp.y[iy], ssp.z[iz]}, ssp, cursor);
        EXPECT_EQ(s.c, ssp.c.at(ix, iy, iz));
        EXPECT_EQ(s.c_z, ssp.c_z.at(ix, iy, iz));
        EXPECT_EQ(s.c_xy, ssp.c_xy.at(ix, iy, iz));
      }
    }
  }
}

TEST(SspInterpolation, AboveTheFirstDepthHoldsTheValuesAtIt) {
  const SSPFields ssp = example_fields();
  SSPCursor above{}, at{};
  const SSPSample a = interpolate_all_with_cursor({300, 700, -10}, ssp, above);
  const SSPSample b = interpolate_all_with_cursor({300, 700, 0}, ssp, at);
  EXPECT_EQ(a.c, b.c);
  EXPECT_EQ(a.c_z, b.c_z);
  EXPECT_EQ(a.c_yz, b.c_yz);
}

// Every grid set to its 1-based position in the sample, so the sample shows the order.
SSPFields numbered_fields(bool packed) {
  SSPFields ssp = example_fields();
  Grid3* grids[] = {&ssp.c,    &ssp.c_x,  &ssp.c_y,  &ssp.c_z,  &ssp.c_xx,
                    &ssp.c_yy, &ssp.c_zz, &ssp.c_xy, &ssp.c_xz, &ssp.c_yz};
  float value = 1.0f;
  for (Grid3* g : grids) {
    for (float& v : g->values) v = value;
    value += 1.0f;
  }
  if (packed) {
    pack_ssp_nodes(ssp);
  } else {
    ssp.nodes.clear();
  }
  return ssp;
}

TEST(SspInterpolation, SampleHoldsCFirstAndCyzLast) {
  for (bool packed : {true, false}) {
    const SSPFields ssp = numbered_fields(packed);
    SSPCursor cursor{};
    const SSPSample s = interpolate_all_with_cursor({123, 456, 78}, ssp, cursor);
    const float got[] = {s.c, s.c_x, s.c_y, s.c_z, s.c_xx, s.c_yy, s.c_zz, s.c_xy, s.c_xz, s.c_yz};
    for (int g = 0; g < 10; ++g) EXPECT_FLOAT_EQ(got[g], g + 1.0f) << "packed " << packed;
  }
}

TEST(SspInterpolation, PackedNodesGiveBitwiseTheSameSampleAsTheGrids) {
  const SSPFields packed =
      make_fields({0, 300, 700, 1000}, {-200, 0, 500, 900}, {0, 40, 100, 180, 300},
                  [](float x, float y, float z) {
                    return 1500.0f + 30.0f * std::sin(x * 0.004f) * std::cos(y * 0.003f) +
                           0.02f * z + std::exp(-z * 0.01f);
                  });
  SSPFields plain = packed;
  plain.nodes.clear();
  std::mt19937 random(11);
  std::uniform_real_distribution<float> coordinate(-100.0f, 1100.0f);
  SSPCursor a{}, b{};
  for (int trial = 0; trial < 2000; ++trial) {
    const Vec3 p{coordinate(random), coordinate(random), 0.3f * coordinate(random)};
    const SSPSample s = interpolate_all_with_cursor(p, packed, a);
    const SSPSample t = interpolate_all_with_cursor(p, plain, b);
    const float sv[] = {s.c, s.c_x, s.c_y, s.c_z, s.c_xx, s.c_yy, s.c_zz, s.c_xy, s.c_xz, s.c_yz};
    const float tv[] = {t.c, t.c_x, t.c_y, t.c_z, t.c_xx, t.c_yy, t.c_zz, t.c_xy, t.c_xz, t.c_yz};
    for (int g = 0; g < 10; ++g) ASSERT_EQ(sv[g], tv[g]) << "value " << g;
    ASSERT_EQ(s.c, interpolate_c_with_cursor(p, packed, a));
  }
}

// Walking a cursor to the point it has just been walked to must leave it where it is, on any axis
// (unordered ones too) and for any point (NaN and infinities too): the tracing loop relies on it
// when it skips the walk before sampling a state whose cell the cursor already holds. The
// bathymetry cursor walks with the same axis helper.
TEST(SspCursor, WalkingAgainToThePointReachedNeverMovesTheCursor) {
  std::mt19937 random(23);
  std::uniform_real_distribution<float> node(-100.0f, 100.0f);
  std::uniform_int_distribution<int> count(1, 7);
  const float specials[] = {kNan, kInf, -kInf, 0.0f, -0.0f};
  for (int trial = 0; trial < 2000; ++trial) {
    SSPFields ssp;
    for (std::vector<float>* axis : {&ssp.x, &ssp.y, &ssp.z}) {
      axis->resize(static_cast<std::size_t>(count(random)));
      for (float& v : *axis) v = node(random);
      if (trial % 2 == 0) std::sort(axis->begin(), axis->end());
    }
    Vec3 p{node(random), node(random), node(random)};
    if (trial % 7 == 0) p.y = specials[trial % 5];
    if (trial % 5 == 0) p.x = ssp.x[static_cast<std::size_t>(trial) % ssp.x.size()];
    SSPCursor cursor{static_cast<std::size_t>(trial % 9), static_cast<std::size_t>(trial % 4),
                     static_cast<std::size_t>(trial % 6)};
    update_ssp_cursor(p, ssp, cursor);
    const SSPCursor reached = cursor;
    update_ssp_cursor(p, ssp, cursor);
    ASSERT_EQ(cursor.ix, reached.ix) << "trial " << trial;
    ASSERT_EQ(cursor.iy, reached.iy) << "trial " << trial;
    ASSERT_EQ(cursor.iz, reached.iz) << "trial " << trial;
  }
}

struct StepCase {
  const char* name;
  Vec3 pos;
  Vec3 dir;
  SSPCursor cursor;
  float h;
  float expected;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class ReduceStepToSspInterfaces : public testing::TestWithParam<StepCase> {};

TEST_P(ReduceStepToSspInterfaces, ShortensToTheNextPlaneAhead) {
  const StepCase& c = GetParam();
  EXPECT_NEAR(reduce_step_to_ssp_interfaces(c.pos, c.dir, example_fields(), c.cursor, c.h),
              c.expected, kStepTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReduceStepToSspInterfaces,
    testing::Values(
        StepCase{"DownToPlane", {500, 500, 50}, {0, 0, 1}, {0, 0, 0}, 80, 50},
        StepCase{"ShortStepKept", {500, 500, 50}, {0, 0, 1}, {0, 0, 0}, 30, 30},
        StepCase{"UpToPlane", {500, 500, 50}, {0, 0, -1}, {0, 0, 0}, 80, 50},
        StepCase{"OnUpperPlaneIgnored", {500, 500, 100}, {0, 0, 1}, {0, 0, 0}, 80, 80},
        StepCase{"TinyComponentIgnored", {1e-12f, 500, 50}, {-1e-10f, 0, 0}, {0, 0, 0}, 30, 30},
        StepCase{"SmallComponentCounts", {1e-12f, 500, 50}, {-2e-9f, 0, 0}, {0, 0, 0}, 30, 5e-4f},
        StepCase{"AlongX", {900, 500, 50}, {1, 0, 0}, {0, 0, 0}, 500, 100},
        StepCase{"NearestOfTwoAxes", {900, 500, 50}, {0.6f, 0, 0.8f}, {0, 0, 0}, 500, 62.5f},
        StepCase{"NanPositionIgnored", {500, 500, kNan}, {0, 0, 1}, {0, 0, 0}, 80, 80},
        StepCase{"NanDirectionIgnored", {500, 500, 50}, {kNan, 0, 1}, {0, 0, 0}, 80, 50},
        StepCase{"InfinitePositionIgnored", {500, 500, kInf}, {0, 0, 1}, {0, 0, 1}, 80, 80},
        StepCase{"BehindThePlaneIgnored", {500, 500, 250}, {0, 0, 1}, {0, 0, 1}, 80, 80},
        StepCase{"StaleCursorStaysInTheGrid", {500, 500, 150}, {0, 0, 1}, {9, 9, 9}, 80, 50}),
    [](const testing::TestParamInfo<StepCase>& info) { return info.param.name; });

}  // namespace
}  // namespace abyx
