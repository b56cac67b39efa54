#include "influence/pressure_field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "common/fault.h"
#include "fixtures.h"

namespace abyx {
namespace {

using fixtures::make_field;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Regression: an element count that wraps around would size the arrays far below their shape.
TEST(PressureField, UnrepresentableSizeIsAnAllocationFailure) {
  const std::vector<float> axis(1u << 15, 1.0f);
  EXPECT_THROW(make_field("grid", axis, axis, axis, 1u << 20), std::bad_alloc);
}

// A two-receiver field whose first cell holds this arrival.
PressureField first_arrival(float delay, float amplitude) {
  PressureField field = make_field("array", {0, 1}, {0, 1}, {0, 1}, 2);
  field.delay_s = {delay, 0};
  field.amplitude = {amplitude, 0};
  return field;
}

struct ArrivalCase {
  float left_delay;   // s
  float right_delay;  // s
  float kept_delay;   // s
  float kept_amplitude;
};

class PressureFieldMergeArrival : public ::testing::TestWithParam<ArrivalCase> {};

TEST_P(PressureFieldMergeArrival, TakesTheRightOnlyWhenStrictlyEarlier) {
  const ArrivalCase c = GetParam();
  PressureField left = first_arrival(c.left_delay, 0.25f);
  merge_pressure_field(left, first_arrival(c.right_delay, 0.75f));
  if (std::isnan(c.kept_delay)) {
    EXPECT_TRUE(std::isnan(left.delay_s[0]));
  } else {
    EXPECT_EQ(left.delay_s[0], c.kept_delay);
  }
  EXPECT_EQ(left.amplitude[0], c.kept_amplitude);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PressureFieldMergeArrival,
    ::testing::Values(ArrivalCase{2.0f, 1.0f, 1.0f, 0.75f},    // earlier right wins
                      ArrivalCase{1.0f, 2.0f, 1.0f, 0.25f},    // later right loses
                      ArrivalCase{1.0f, 1.0f, 1.0f, 0.25f},    // equal keeps left
                      ArrivalCase{1.0f, kNaN, 1.0f, 0.25f},    // NaN right keeps left
                      ArrivalCase{kNaN, 1.0f, kNaN, 0.25f},    // NaN left stays
                      ArrivalCase{kInf, 3.0f, 3.0f, 0.75f},    // untouched left takes right
                      ArrivalCase{3.0f, kInf, 3.0f, 0.25f}));  // untouched right changes nothing

// Regression: merging fields of different sizes read and wrote past the smaller arrays.
TEST(PressureFieldMerge, DifferentShapesAreAFault) {
  PressureField left = make_field("grid", {1, 2}, {3}, {4, 5}, 2);
  const std::vector<PressureField> others{
      make_field("grid", {1, 2}, {3}, {4, 5}, 1), make_field("grid", {1, 2, 3}, {3}, {4, 5}, 2),
      make_field("array", {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, 2)};
  for (const PressureField& right : others) {
    try {
      merge_pressure_field(left, right);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& fault) {
      EXPECT_EQ(std::string(fault.what()), kMergeShapeMismatchMessage);
    }
  }
}

}  // namespace
}  // namespace abyx
