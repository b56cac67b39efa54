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
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SSPFields make_fields(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                      float (*c)(float, float, float)) {
  SoundSpeed in;
  for (float xv : x) {
    for (float yv : y) {
      for (float zv : z) in.c_m_s.push_back(c(xv, yv, zv));
    }
  }
  in.x_ssp_m = std::move(x);
  in.y_ssp_m = std::move(y);
  in.z_ssp_m = std::move(z);
  return init_ssp(in);
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
                         testing::Values(SearchCase{100, 1}, SearchCase{200, 1}, SearchCase{-10, 0},
                                         SearchCase{50, 0}, SearchCase{kInf, 1},
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
  const SSPWeights w = update_cursor_and_weights({250, 1200, 175}, ssp, cursor);
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
    EXPECT_NEAR(interpolate_all_with_cursor(p, ssp, cursor).c, trilinear(p.x, p.y, p.z),
                kSpeedTolerance);
  }
}

}  // namespace
}  // namespace abyx
