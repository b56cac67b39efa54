#include "ssp/ssp_fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "common/fault.h"
#include "ssp/ssp_cursor.h"

namespace abyx {
namespace {

constexpr float kSpeedTolerance = 1e-3f;  // m/s, trilinear reproduction of a trilinear field
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The grids of the sound speed c(x, y, z) sampled on the axes, z fastest.
SSPFields fields(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                 const std::function<float(float, float, float)>& c) {
  SoundSpeed in{x, y, z, {}};
  for (float xv : x) {
    for (float yv : y) {
      for (float zv : z) in.c_m_s.push_back(c(xv, yv, zv));
    }
  }
  return init_ssp(in);
}

// The ten values stored at node (ix, iy, iz), in SSPSample order.
std::vector<float> node(const SSPFields& ssp, std::size_t ix, std::size_t iy, std::size_t iz) {
  const float* first = ssp.node(ix, iy, iz);
  return {first, first + 10};
}

TEST(InitSsp, ReadsCmsWithZFastestAndMixesOneSidedAndCentralDifferences) {
  // c = 1500 + x / 4 - y / 8 + z^2 + x y on binary-exact nodes, so every difference is exact:
  // c_x = 1/4 + y, c_y = x - 1/8, c_xy = 1, and along z = 0..4 c_z = (1, 2, 4, 6, 7) and
  // c_zz = (1, 1.5, 2, 1.5, 1) from the one-sided differences at the ends
  const SSPFields ssp = fields({0, 4, 8}, {0, 8}, {0, 1, 2, 3, 4}, [](float x, float y, float z) {
    return 1500.0f + 0.25f * x - 0.125f * y + z * z + x * y;
  });
  const float c_z[] = {1, 2, 4, 6, 7}, c_zz[] = {1, 1.5f, 2, 1.5f, 1};
  for (std::size_t ix = 0; ix < 3; ++ix) {
    for (std::size_t iy = 0; iy < 2; ++iy) {
      for (std::size_t iz = 0; iz < 5; ++iz) {
        const float x = 4.0f * ix, y = 8.0f * iy, z = 1.0f * iz;
        EXPECT_EQ(node(ssp, ix, iy, iz),
                  (std::vector<float>{1500.0f + 0.25f * x - 0.125f * y + z * z + x * y, 0.25f + y,
                                      x - 0.125f, c_z[iz], 0, 0, c_zz[iz], 1, 0, 0}))
            << ix << iy << iz;
      }
    }
  }
}

TEST(InitSsp, AnUnevenAxisTakesTheIntervalsBesideEachNode) {
  // a cast sampled at uneven depths, c = 1500 + x / 4 + z / 2 + z^2 / 8 on x = 0, 4, 12 and
  // z = 0, 1, 3, 7: c_x = 1/4 and c_xx = 0 everywhere; c_z = 1/2 + z / 4 inside, and the one-sided
  // differences of their own intervals at the ends
  const SSPFields ssp = fields({0, 4, 12}, {0, 8}, {0, 1, 3, 7}, [](float x, float, float z) {
    return 1500.0f + 0.25f * x + 0.5f * z + 0.125f * z * z;
  });
  const float c_z[] = {0.625f, 0.75f, 1.25f, 1.75f};
  for (std::size_t ix = 0; ix < 3; ++ix) {
    for (std::size_t iz = 0; iz < 4; ++iz) {
      const std::vector<float> values = node(ssp, ix, 1, iz);
      EXPECT_EQ(values[1], 0.25f) << ix << iz;
      EXPECT_EQ(values[3], c_z[iz]) << ix << iz;
      EXPECT_EQ(values[4], 0.0f) << ix << iz;
    }
  }
}

// The message of the fault init_ssp raises for axes of these lengths and this many speeds.
std::string init_ssp_fault(std::size_t nx, std::size_t ny, std::size_t nz, std::size_t values) {
  const auto axis = [](std::size_t n) {
    std::vector<float> a;
    for (std::size_t i = 0; i < n; ++i) a.push_back(10.0f * i);
    return a;
  };
  try {
    init_ssp({axis(nx), axis(ny), axis(nz), std::vector<float>(values, 1500.0f)});
  } catch (const Fault& fault) {
    return fault.what();
  }
  return "no fault";
}

TEST(InitSsp, ReportsTheFirstProblemInOrder) {
  // one x node too: the count is checked first
  EXPECT_EQ(init_ssp_fault(1, 2, 2, 5),
            "c_m_s does not match grid dimensions: nx * ny * nz = 4 but c_m_s has 5 values");
  EXPECT_EQ(init_ssp_fault(3, 2, 1, 6), "Need nz >= 2 for finite differences along z");
}

float trilinear(float x, float y, float z) {
  return 1500.0f + 0.01f * x + 0.02f * y + 0.1f * z + 1e-5f * x * y - 2e-6f * y * z;
}

TEST(SspCursor, SearchFindsTheCellAboveANodeAndClampsAtTheEnds) {
  const SSPFields ssp = fields({0, 1000}, {0, 1000}, {0, 100, 200}, trilinear);
  // NaN fails every comparison of the search and gives the first cell
  const std::pair<float, std::size_t> searches[] = {{100, 1},  {200, 1},   {-10, 0}, {50, 0},
                                                    {kInf, 1}, {-kInf, 0}, {kNan, 0}};
  for (const auto& [z, iz] : searches) {
    EXPECT_EQ(init_ssp_cursor({500, 500, z}, ssp).iz, iz) << "z = " << z;
  }
}

// The bathymetry cursor walks its axes by the same rules.
TEST(SspCursor, WalkKeepsTheCellOnEitherFaceOrOnNanAndClampsAtTheEnds) {
  const SSPFields ssp = fields({0, 1, 2}, {0, 1, 2}, {0, 10, 20, 30}, trilinear);
  SSPCursor cursor{1, 0, 7};  // a stored index beyond the axis is pulled back first
  const std::pair<float, std::size_t> walk[] = {{25, 2},   {19.5f, 1}, {10, 1}, {5, 0},
                                                {10, 0},   {10.5f, 1}, {25, 2}, {kNan, 2},
                                                {9000, 2}, {-9000, 0}};
  for (const auto& [z, iz] : walk) {
    update_ssp_cursor({kNan, 1.5f, z}, ssp, cursor);
    EXPECT_EQ(cursor.iz, iz) << "z = " << z;
  }
  EXPECT_EQ(cursor.ix, 1u);
  EXPECT_EQ(cursor.iy, 1u);
  // the value is undefined, but the lookup stays inside the grids
  EXPECT_TRUE(std::isnan(interpolate_all_with_cursor({kNan, 1, 5}, ssp, cursor).c));
  EXPECT_LE(cursor.ix, 1u);
}

TEST(SspInterpolation, ReproducesATrilinearField) {
  const SSPFields ssp = fields({0, 400, 1000}, {0, 500, 1000}, {0, 100, 200}, trilinear);
  SSPCursor cursor{};
  for (const Vec3 p : {Vec3{250, 600, 30}, Vec3{999, 1, 150}, Vec3{400, 500, 100}}) {
    EXPECT_NEAR(interpolate_all_with_cursor(p, ssp, cursor).c, trilinear(p.x, p.y, p.z),
                kSpeedTolerance);
  }
  // beyond the last node the weights clamp to it
  EXPECT_NEAR(interpolate_all_with_cursor({250, 1200, 175}, ssp, cursor).c,
              trilinear(250, 1000, 175), kSpeedTolerance);
}

TEST(SspInterpolation, AUniformCellIsItsSpeedExactlyAndASlopeAtACornerIsNot) {
  // 1501.3 m/s up to x = 4 and rising beyond: the differences give node 4 a slope and node 3 a
  // curvature, so only the cells below x = 3 are uniform
  const SSPFields ssp = fields({0, 1, 2, 3, 4, 5, 6}, {0, 1}, {0, 1}, [](float x, float, float) {
    return x <= 4.0f ? 1501.3f : 1501.3f + 10.0f * (x - 4.0f);
  });
  SSPCursor cursor{};
  for (const Vec3 p : {Vec3{0.3f, 0.7f, 0.1f}, Vec3{1.9f, 0.01f, 0.6f}}) {
    const SSPSample s = interpolate_all_with_cursor(p, ssp, cursor);
    EXPECT_EQ(s.c, 1501.3f);
    EXPECT_EQ(
        (std::vector<float>{s.c_x, s.c_y, s.c_z, s.c_xx, s.c_yy, s.c_zz, s.c_xy, s.c_xz, s.c_yz}),
        std::vector<float>(9, 0.0f));
  }
  EXPECT_TRUE(std::isnan(interpolate_all_with_cursor({1.5f, kNan, 0.5f}, ssp, cursor).c));
  // half way between nodes 2 and 3 the curvature of node 3 is half there
  EXPECT_NEAR(interpolate_all_with_cursor({2.5f, 0.5f, 0.5f}, ssp, cursor).c_xx, 1.25f, 1e-6f);
}

}  // namespace
}  // namespace abyx
