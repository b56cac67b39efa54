#include "common/float4_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace abyx {
namespace {

// Arguments spread over the range, four per call, against the double-precision functions.
TEST(Float4Math, ExpIsWithinAFewUnitsInTheLastPlace) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> x_of(-87.0f, 88.0f);
  for (int i = 0; i < 20000; ++i) {
    const Float4 x{x_of(gen), -x_of(gen) / 20.0f, 0.0f, -6.0f + i * 3e-4f};
    const Float4 e = lane_exp(x);
    for (int k = 0; k < 4; ++k) {
      const double exact = std::exp(double{x[k]});
      ASSERT_NEAR(e[k] / exact, 1.0, 5e-7) << x[k];
    }
  }
}

TEST(Float4Math, ExpOfNonFiniteOrHugeArgumentsStaysFinite) {
  const float nan = std::nanf("");
  const Float4 e = lane_exp(Float4{nan, -1e30f, 1e30f, -INFINITY});
  EXPECT_LT(e[0], 1e-37f);
  EXPECT_LT(e[1], 1e-37f);
  EXPECT_GT(e[2], 1e38f);
  EXPECT_LT(e[3], 1e-37f);
}

TEST(Float4Math, SincosMatchesTheLibraryNearAndFarFromZero) {
  // far out the float argument itself is coarser (its unit in the last place is 8e-3 at 1e5)
  // than the reduction's 2e-6; past the limit the library answers
  const auto tolerance = [](float theta) {
    const float size = std::fabs(theta);
    return size <= 4.0f ? 2e-7
                        : (size <= 3000.0f ? 5e-7 : (size <= kLaneSincosLimit ? 2e-6 : 2e-7));
  };
  std::mt19937 gen(11);
  for (const float limit : {4.0f, 3000.0f, kLaneSincosLimit, 4e6f}) {
    std::uniform_real_distribution<float> theta_of(-limit, limit);
    for (int i = 0; i < 20000; ++i) {
      const Float4 theta{theta_of(gen), theta_of(gen), theta_of(gen), theta_of(gen)};
      Float4 s, c;
      lane_sincos(theta, s, c);
      for (int k = 0; k < 4; ++k) {
        ASSERT_NEAR(s[k], std::sin(double{theta[k]}), tolerance(theta[k])) << theta[k];
        ASSERT_NEAR(c[k], std::cos(double{theta[k]}), tolerance(theta[k])) << theta[k];
      }
    }
  }
  Float4 s, c;
  lane_sincos(Float4{std::nanf(""), 0.0f, 1.5707964f, -3.1415927f}, s, c);
  EXPECT_TRUE(std::isnan(s[0]) && std::isnan(c[0]));
  EXPECT_EQ(s[1], 0.0f);
  EXPECT_EQ(c[1], 1.0f);
  EXPECT_NEAR(s[2], 1.0f, 1e-7f);
  EXPECT_NEAR(c[3], -1.0f, 1e-7f);
}

}  // namespace
}  // namespace abyx
