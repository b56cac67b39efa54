#include "ssp/ssp_fields.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/fault.h"
#include "ssp/ssp_cursor.h"

namespace abyx {
namespace {

// The sound speed c(x, y, z) sampled on the axes, z fastest.
SoundSpeed sampled(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                   const std::function<float(float, float, float)>& c) {
  SoundSpeed in{x, y, z, {}};
  for (float xv : x) {
    for (float yv : y) {
      for (float zv : z) in.c_m_s.push_back(c(xv, yv, zv));
    }
  }
  return in;
}

// The ten values stored at node (ix, iy, iz), in SSPSample order.
std::vector<float> node(const SSPFields& ssp, std::size_t ix, std::size_t iy, std::size_t iz) {
  const float* first = ssp.nodes.data() + ssp.node_index(ix, iy, iz) * kSspNodeStride;
  return {first, first + 10};
}

TEST(InitSsp, ReadsCmsWithZFastestAndDifferencesALinearFieldExactly) {
  // binary-exact gradients on binary-exact spacings, so every difference is exact
  const SSPFields ssp =
      init_ssp(sampled({0, 4, 8}, {0, 8}, {0, 10, 20}, [](float x, float y, float z) {
        return 1500.0f + 0.25f * x - 0.125f * y + 0.5f * z;
      }));
  for (std::size_t ix = 0; ix < 3; ++ix) {
    for (std::size_t iz = 0; iz < 3; ++iz) {
      const float c = 1499.0f + 1.0f * ix + 5.0f * iz;
      EXPECT_EQ(node(ssp, ix, 1, iz),
                (std::vector<float>{c, 0.25f, -0.125f, 0.5f, 0, 0, 0, 0, 0, 0}));
    }
  }
}

TEST(InitSsp, SecondDerivativeMixesOneSidedAndCentralDifferences) {
  // c = z^2 + x y on z = 0..4: c_z = (1, 2, 4, 6, 7), c_zz = (1, 1.5, 2, 1.5, 1), c_xy = 1
  const SSPFields ssp = init_ssp(sampled({0, 1}, {0, 1}, {0, 1, 2, 3, 4},
                                         [](float x, float y, float z) { return z * z + x * y; }));
  const std::vector<float> c_z = {1, 2, 4, 6, 7}, c_zz = {1, 1.5f, 2, 1.5f, 1};
  for (std::size_t iz = 0; iz < 5; ++iz) {
    const std::vector<float> v = node(ssp, 1, 0, iz);
    EXPECT_EQ(v[3], c_z[iz]);
    EXPECT_EQ(v[6], c_zz[iz]);
    EXPECT_EQ(v[7], 1.0f);
  }
}

struct ShapeCase {
  const char* name;
  std::size_t nx, ny, nz, values;
  std::string message;
};

class InitSspFaults : public testing::TestWithParam<ShapeCase> {};

TEST_P(InitSspFaults, ReportsTheFirstProblemInOrder) {
  const ShapeCase& c = GetParam();
  const auto axis = [](std::size_t n) {
    std::vector<float> a;
    for (std::size_t i = 0; i < n; ++i) a.push_back(10.0f * i);
    return a;
  };
  try {
    init_ssp({axis(c.nx), axis(c.ny), axis(c.nz), std::vector<float>(c.values, 1500.0f)});
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_EQ(fault.what(), c.message);
  }
}

const std::string kShape = "c_m_s does not match grid dimensions";

INSTANTIATE_TEST_SUITE_P(
    Shapes, InitSspFaults,
    testing::Values(ShapeCase{"OneValueTooMany", 2, 2, 2, 9,
                              kShape + ": nx * ny * nz = 8 but c_m_s has 9 values"},
                    ShapeCase{"MismatchBeforeAxisLength", 1, 2, 2, 5,
                              kShape + ": nx * ny * nz = 4 but c_m_s has 5 values"},
                    ShapeCase{"SingleZ", 3, 2, 1, 6,
                              "Need nz >= 2 for finite differences along z"}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return info.param.name; });

TEST(PartialDerivative, RefusesAGridWhoseValuesDoNotMatchItsShape) {
  const Grid3 broken{2, 2, 2, std::vector<float>(7, 1.0f)};
  for (const auto& partial : {partial_x, partial_y, partial_z}) {
    EXPECT_THROW(partial(broken, 1.0f), Fault);
  }
}

}  // namespace
}  // namespace abyx
