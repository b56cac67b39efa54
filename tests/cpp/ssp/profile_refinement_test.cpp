#include "ssp/profile_refinement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

// A cast at three uneven depths whose speed falls to a minimum at 100 m and rises below it, in
// two columns (the second rising steadily), as nx = 2, ny = 1 would hold them.
SoundSpeed cast(SspInterpolation interpolation) {
  SoundSpeed in{{0, 1000}, {0}, {0, 100, 1000}, {1500, 1480, 1520, 1500, 1510, 1520}};
  in.resolved_interpolation = interpolation;
  return in;
}

// The sample of column j at refined node i.
struct Node {
  double z, c, c_z, c_zz;
};
Node at(const RefinedColumns& r, std::size_t j, std::size_t i) {
  const std::size_t k = j * r.z.size() + i;
  return {r.z[i], r.c[k], r.c_z[k], r.c_zz[k]};
}

TEST(RefineColumns, MonotoneCubicKeepsTheNodesStaysBetweenThemAndCarriesItsOwnDerivatives) {
  // for a cubic f on [a, b], f(b) - f(a) = h (f'(a) + f'(b)) / 2 - h^2 (f''(b) - f''(a)) / 12
  // exactly, and the straight line between a and b lies within h^2 max|f''| / 8 of it
  const RefinedColumns r = refine_columns(cast(SspInterpolation::Pchip));
  EXPECT_LE(r.z.size(), 2 * kMostPchipSubcells + 1);
  const float given[2][3] = {{1500, 1480, 1520}, {1500, 1510, 1520}};
  for (std::size_t j = 0; j < 2; ++j) {
    EXPECT_EQ(at(r, j, 0).c, given[j][0]);
    for (std::size_t i = 0; i + 1 < r.z.size(); ++i) {
      const Node a = at(r, j, i), b = at(r, j, i + 1);
      const std::size_t cell = b.z <= 100 ? 0 : 1;
      const double rise = given[j][cell + 1] - given[j][cell];
      // monotone in each cell, through the given speeds: no overshoot
      ASSERT_LT(a.z, b.z);
      EXPECT_GE((b.c - a.c) * rise, 0.0) << j << " " << b.z;
      EXPECT_GE(b.c_z * rise, -1e-9) << j << " " << b.z;
      if (b.z == 100 || b.z == 1000) {
        EXPECT_EQ(b.c, given[j][cell + 1]) << j;
      }
      if (a.z == 100 || b.z == 100) continue;  // the curvature there is the mean of two cubics'
      const double h = b.z - a.z;
      EXPECT_NEAR(b.c - a.c, h * (a.c_z + b.c_z) / 2 - h * h * (b.c_zz - a.c_zz) / 12, 2e-4)
          << j << " " << a.z;
      EXPECT_LE(h * h * std::max(std::fabs(a.c_zz), std::fabs(b.c_zz)) / 8,
                kPchipToleranceMS * 1.001)
          << j << " " << a.z;
    }
  }
  // the speed turns at the minimum: no slope there
  const auto minimum = std::find(r.z.begin(), r.z.end(), 100.0f);
  ASSERT_NE(minimum, r.z.end());
  EXPECT_EQ(at(r, 0, static_cast<std::size_t>(minimum - r.z.begin())).c_z, 0.0);
}

TEST(RefineColumns, StraightLinesBendOnlyWithinAMetreOfEachInnerNode) {
  const RefinedColumns r = refine_columns(cast(SspInterpolation::Linear));
  EXPECT_EQ(r.z, (std::vector<float>{0, 99, 100, 101, 1000}));
  // slopes -0.2 and 40 / 900 above and below 100 m; at the node the gradient half way, the
  // curvature that adds up to the change of slope over the bend, and the speed it carries to
  const double g0 = -0.2, g1 = 40.0 / 900.0;
  const Node expected[] = {{0, 1500, g0, 0},
                           {99, 1480.2, g0, 0},
                           {100, 1480 + (g1 - g0) / 4, (g0 + g1) / 2, g1 - g0},
                           {101, 1480 + g1, g1, 0},
                           {1000, 1520, g1, 0}};
  for (std::size_t i = 0; i < 5; ++i) {
    const Node n = at(r, 0, i);
    EXPECT_NEAR(n.c, expected[i].c, 1e-4) << i;
    EXPECT_NEAR(n.c_z, expected[i].c_z, 1e-7) << i;
    EXPECT_NEAR(n.c_zz, expected[i].c_zz, 1e-7) << i;
  }
}

TEST(InitSsp, NodesKeepTheGivenDepthsAndAStraightProfileIsTheSameWhateverTheInterpolation) {
  const auto grid = [](std::vector<float> z, std::vector<float> column, SspInterpolation how) {
    SoundSpeed in{{0, 1}, {0, 1}, std::move(z), {}};
    for (int k = 0; k < 4; ++k) in.c_m_s.insert(in.c_m_s.end(), column.begin(), column.end());
    in.resolved_interpolation = how;
    return init_ssp(in);
  };
  EXPECT_EQ(grid({0, 100, 1000}, {1500, 1480, 1520}, SspInterpolation::Nodes).z,
            (std::vector<float>{0, 100, 1000}));
  const SSPFields nodes = grid({0, 64}, {1500, 1508}, SspInterpolation::Nodes);
  for (const SspInterpolation how : {SspInterpolation::Linear, SspInterpolation::Pchip}) {
    const SSPFields other = grid({0, 64}, {1500, 1508}, how);
    EXPECT_EQ(other.z, nodes.z);
    EXPECT_EQ(other.nodes, nodes.nodes);
  }
  // the refined grid's interpolation follows the cubic between its sub-nodes
  const SSPFields pchip = grid({0, 100, 1000}, {1500, 1480, 1520}, SspInterpolation::Pchip);
  EXPECT_GT(pchip.z.size(), 3u);
  SSPCursor cursor{};
  EXPECT_EQ(interpolate_all_with_cursor({0.5f, 0.5f, 100}, pchip, cursor).c, 1480.0f);
  EXPECT_GE(interpolate_all_with_cursor({0.5f, 0.5f, 99}, pchip, cursor).c, 1480.0f);
}

}  // namespace
}  // namespace abyx
