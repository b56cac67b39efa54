#include "input/number_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace abyx {
namespace {

struct F32Case {
  float value;
  std::string text;
};

class F32Positional : public testing::TestWithParam<F32Case> {};

TEST_P(F32Positional, WritesShortestDigitsWithoutExponent) {
  EXPECT_EQ(format_f32_positional(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, F32Positional,
    testing::Values(F32Case{-5.0f, "-5"}, F32Case{5.0f, "5"}, F32Case{-2.5f, "-2.5"},
                    F32Case{-0.1f, "-0.1"}, F32Case{-0.0000001f, "-0.0000001"}, F32Case{0.0f, "0"},
                    F32Case{-0.0f, "-0"}, F32Case{-20.5f, "-20.5"}, F32Case{1500.25f, "1500.25"},
                    F32Case{100000000.0f, "100000000"}, F32Case{16777216.0f, "16777216"},
                    F32Case{123456.79f, "123456.79"},
                    F32Case{1e-45f, "0.000000000000000000000000000000000000000000001"},
                    F32Case{std::numeric_limits<float>::max(),
                            "340282350000000000000000000000000000000"},
                    F32Case{std::numeric_limits<float>::infinity(), "inf"},
                    F32Case{-std::numeric_limits<float>::infinity(), "-inf"},
                    F32Case{std::numeric_limits<float>::quiet_NaN(), "nan"}));

struct F64Case {
  double value;
  std::string text;
};

class F64Shortest : public testing::TestWithParam<F64Case> {};

TEST_P(F64Shortest, AlwaysShowsAPointOrAnExponent) {
  EXPECT_EQ(format_f64_shortest(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, F64Shortest,
                         testing::Values(F64Case{1000.0, "1000.0"}, F64Case{0.1, "0.1"},
                                         F64Case{-0.0, "-0.0"}, F64Case{1.5, "1.5"},
                                         F64Case{1e300, "1e+300"}, F64Case{1e-7, "1e-07"},
                                         F64Case{18446744073709551616.0, "18446744073709551616.0"},
                                         F64Case{std::numeric_limits<double>::infinity(), "inf"}));

}  // namespace
}  // namespace abyx
