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

TEST(PressureFieldMerge, TakesTheRightArrivalOnlyWhenStrictlyEarlier) {
  // left delay (s), right delay (s), the delay and amplitude kept
  const float cases[][4] = {{2.0f, 1.0f, 1.0f, 0.75f},   // earlier right wins
                            {1.0f, 2.0f, 1.0f, 0.25f},   // later right loses
                            {1.0f, 1.0f, 1.0f, 0.25f},   // equal keeps left
                            {1.0f, kNaN, 1.0f, 0.25f},   // NaN right keeps left
                            {kNaN, 1.0f, kNaN, 0.25f},   // NaN left stays
                            {kInf, 3.0f, 3.0f, 0.75f},   // untouched left takes right
                            {3.0f, kInf, 3.0f, 0.25f}};  // untouched right changes nothing
  for (const auto& [left_delay, right_delay, kept_delay, kept_amplitude] : cases) {
    PressureField left = first_arrival(left_delay, 0.25f);
    merge_pressure_field(left, first_arrival(right_delay, 0.75f));
    EXPECT_TRUE(std::isnan(kept_delay) ? std::isnan(left.delay_s[0])
                                       : left.delay_s[0] == kept_delay)
        << left_delay << " " << right_delay;
    EXPECT_EQ(left.amplitude[0], kept_amplitude) << left_delay << " " << right_delay;
  }
}

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
