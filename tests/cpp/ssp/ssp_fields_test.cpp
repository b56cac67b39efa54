#include "ssp/ssp_fields.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

SimulationConfig make_config(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                             std::vector<float> c) {
  SimulationConfig config;
  config.ssp = {std::move(x), std::move(y), std::move(z), std::move(c)};
  return config;
}

// c_m_s for c(x, y, z) on the given axes, z fastest.
std::vector<float> sample(const std::vector<float>& x, const std::vector<float>& y,
                          const std::vector<float>& z,
                          const std::function<float(float, float, float)>& c) {
  std::vector<float> out;
  for (float xv : x) {
    for (float yv : y) {
      for (float zv : z) out.push_back(c(xv, yv, zv));
    }
  }
  return out;
}

void expect_all(const Grid3& grid, float value, const char* name) {
  for (std::size_t i = 0; i < grid.values.size(); ++i) {
    ASSERT_EQ(grid.values[i], value) << name << " at flat index " << i;
  }
}

std::string fault_message(const SimulationConfig& config) {
  try {
    init_ssp(config);
  } catch (const Fault& fault) {
    return fault.what();
  }
  return "(no fault)";
}

TEST(InitSsp, ReadsCmsWithZFastestThenYThenX) {
  const std::vector<float> c = {1500, 1501, 1502, 1510, 1511, 1512, 1520, 1521, 1522,
                                1530, 1531, 1532, 1540, 1541, 1542, 1550, 1551, 1552};
  const SSPFields ssp = init_ssp(make_config({0, 10}, {0, 10, 20}, {0, 5, 10}, c));
  for (std::size_t ix = 0; ix < 2; ++ix) {
    for (std::size_t iy = 0; iy < 3; ++iy) {
      for (std::size_t iz = 0; iz < 3; ++iz) {
        EXPECT_EQ(ssp.c.at(ix, iy, iz), 1500.0f + 30.0f * ix + 10.0f * iy + iz);
      }
    }
  }
  EXPECT_EQ(ssp.x, (std::vector<float>{0, 10}));
  EXPECT_EQ(ssp.z, (std::vector<float>{0, 5, 10}));
}

TEST(InitSsp, LinearFieldGivesExactFirstAndZeroSecondDerivatives) {
  // binary-exact gradients on binary-exact spacings, so every difference is exact
  const std::vector<float> x = {0, 4, 8, 12}, y = {0, 8, 16}, z = {0, 10, 20, 30, 40};
  const SSPFields ssp =
      init_ssp(make_config(x, y, z, sample(x, y, z, [](float xv, float yv, float zv) {
                             return 1500.0f + 0.25f * xv - 0.125f * yv + 0.5f * zv;
                           })));
  expect_all(ssp.c_x, 0.25f, "c_x");
  expect_all(ssp.c_y, -0.125f, "c_y");
  expect_all(ssp.c_z, 0.5f, "c_z");
  for (const Grid3* g : {&ssp.c_xx, &ssp.c_yy, &ssp.c_zz, &ssp.c_xy, &ssp.c_xz, &ssp.c_yz}) {
    expect_all(*g, 0.0f, "second derivative");
  }
}

TEST(InitSsp, NonUniformAxisDividesByTheFirstInterval) {
  const std::vector<float> x = {0, 1}, y = {0, 1}, z = {0, 10, 30};
  const SSPFields ssp = init_ssp(make_config(
      x, y, z, {1500, 1510, 1530, 1500, 1510, 1530, 1500, 1510, 1530, 1500, 1510, 1530}));
  for (std::size_t ix = 0; ix < 2; ++ix) {
    for (std::size_t iy = 0; iy < 2; ++iy) {
      EXPECT_EQ(ssp.c_z.at(ix, iy, 0), 1.0f);
      EXPECT_EQ(ssp.c_z.at(ix, iy, 1), 1.5f);  // (1530 - 1500) / (10 + 10)
      EXPECT_EQ(ssp.c_z.at(ix, iy, 2), 2.0f);
    }
  }
}

TEST(InitSsp, SecondDerivativeMixesOneSidedAndCentralDifferences) {
  // c = z^2 on z = 0..4: c_z = (1, 2, 4, 6, 7), c_zz = (1, 1.5, 2, 1.5, 1)
  const std::vector<float> x = {0, 1}, y = {0, 1}, z = {0, 1, 2, 3, 4};
  const SSPFields ssp = init_ssp(
      make_config(x, y, z, sample(x, y, z, [](float, float, float zv) { return zv * zv; })));
  const std::vector<float> c_z = {1, 2, 4, 6, 7}, c_zz = {1, 1.5f, 2, 1.5f, 1};
  for (std::size_t iz = 0; iz < z.size(); ++iz) {
    EXPECT_EQ(ssp.c_z.at(1, 0, iz), c_z[iz]);
    EXPECT_EQ(ssp.c_zz.at(1, 0, iz), c_zz[iz]);
  }
}

TEST(InitSsp, MixedDerivativeOfAProduct) {
  // c = 1500 + x * y on unit spacing: c_x = y at every node, so c_xy = 1
  const std::vector<float> x = {0, 1, 2}, y = {0, 1, 2, 3}, z = {0, 1};
  const SSPFields ssp = init_ssp(make_config(
      x, y, z, sample(x, y, z, [](float xv, float yv, float) { return 1500.0f + xv * yv; })));
  for (std::size_t iy = 0; iy < y.size(); ++iy) EXPECT_EQ(ssp.c_x.at(2, iy, 1), y[iy]);
  expect_all(ssp.c_xy, 1.0f, "c_xy");
  expect_all(ssp.c_xx, 0.0f, "c_xx");
  expect_all(ssp.c_xz, 0.0f, "c_xz");
}

TEST(InitSsp, TwoNodeAxisUsesOneDifferenceAtBothNodes) {
  const std::vector<float> x = {0, 100}, y = {0, 1}, z = {0, 1, 2};
  // c[0, iy, iz] = 1500 + iz, c[1, iy, iz] = 1520 + 2 iz
  const SSPFields ssp = init_ssp(make_config(
      x, y, z, {1500, 1501, 1502, 1500, 1501, 1502, 1520, 1522, 1524, 1520, 1522, 1524}));
  for (std::size_t ix = 0; ix < 2; ++ix) {
    for (std::size_t iz = 0; iz < 3; ++iz) {
      EXPECT_EQ(ssp.c_x.at(ix, 1, iz), (20.0f + iz) / 100.0f);
    }
  }
  expect_all(ssp.c_xx, 0.0f, "c_xx");
}

TEST(InitSsp, DecreasingAxisGivesASignedSpacing) {
  const SSPFields ssp = init_ssp(
      make_config({100, 0}, {0, 1}, {0, 1}, {1500, 1500, 1500, 1500, 1510, 1510, 1510, 1510}));
  expect_all(ssp.c_x, -0.1f, "c_x");
}

struct ShapeCase {
  const char* name;
  std::size_t nx, ny, nz, values;
  std::string message;
};

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

class InitSspFaults : public testing::TestWithParam<ShapeCase> {};

TEST_P(InitSspFaults, ReportsTheFirstProblemInOrder) {
  const ShapeCase& c = GetParam();
  const auto axis = [](std::size_t n) {
    std::vector<float> a;
    for (std::size_t i = 0; i < n; ++i) a.push_back(10.0f * i);
    return a;
  };
  const SimulationConfig config =
      make_config(axis(c.nx), axis(c.ny), axis(c.nz), std::vector<float>(c.values, 1500.0f));
  EXPECT_EQ(fault_message(config), c.message);
}

const std::string kShape = "c_m_s does not match grid dimensions";

INSTANTIATE_TEST_SUITE_P(
    Shapes, InitSspFaults,
    testing::Values(
        ShapeCase{"OneValueTooMany", 2, 2, 2, 9,
                  kShape + ": nx * ny * nz = 8 but c_m_s has 9 values"},
        ShapeCase{"OneValueTooFew", 2, 2, 2, 7,
                  kShape + ": nx * ny * nz = 8 but c_m_s has 7 values"},
        ShapeCase{"MismatchBeforeAxisLength", 1, 2, 2, 5,
                  kShape + ": nx * ny * nz = 4 but c_m_s has 5 values"},
        ShapeCase{"SingleX", 1, 2, 2, 4, "Need nx >= 2 for finite differences along x"},
        ShapeCase{"SingleXAndY", 1, 1, 2, 2, "Need nx >= 2 for finite differences along x"},
        ShapeCase{"SingleY", 2, 1, 3, 6, "Need ny >= 2 for finite differences along y"},
        ShapeCase{"SingleYAndZ", 2, 1, 1, 2, "Need ny >= 2 for finite differences along y"},
        ShapeCase{"SingleZ", 3, 2, 1, 6, "Need nz >= 2 for finite differences along z"}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return info.param.name; });

TEST(PartialDerivative, RefusesAGridWhoseValuesDoNotMatchItsShape) {
  const Grid3 broken{2, 2, 2, std::vector<float>(7, 1.0f)};
  for (const auto& partial : {partial_x, partial_y, partial_z}) {
    try {
      partial(broken, 1.0f);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& fault) {
      EXPECT_EQ(std::string(fault.what()), kGridValuesMismatchMessage);
    }
  }
}

}  // namespace
}  // namespace abyx
