#include "influence/pressure_field.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "beam_fixtures.h"
#include "common/fault.h"

namespace abyx {
namespace {

using fixtures::field_for;
using fixtures::receiver_config;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void expect_empty_values(const PressureField& field) {
  for (const Complex32& p : field.pressure) {
    EXPECT_EQ(p, (Complex32{0.0f, 0.0f}));
  }
  for (const float d : field.delay_s) {
    EXPECT_EQ(d, kInf);
  }
  for (const float a : field.amplitude) {
    EXPECT_EQ(a, 0.0f);
  }
}

TEST(PressureField, GridCopiesItsAxesAndStartsEmpty) {
  const PressureField field =
      field_for(receiver_config("grid", {1, 2}, {3, 4, 5}, {6, 7, 8, 9}, 3));
  EXPECT_FALSE(field.is_array() || field.receiver_positions_m.has_value());
  EXPECT_EQ(field.y_m, (std::vector<float>{3, 4, 5}));
  EXPECT_EQ(field.shape, (std::array<std::size_t, 4>{3, 2, 3, 4}));
  EXPECT_EQ(field.pressure.size(), 72u);
  EXPECT_EQ(field.delay_s.size(), 24u);
  EXPECT_EQ(field.amplitude.size(), 24u);
  expect_empty_values(field);
}

// Regression: an element count that wraps around would size the arrays far below their shape.
TEST(PressureField, UnrepresentableSizeIsAnAllocationFailure) {
  const std::vector<float> axis(1u << 15, 1.0f);
  const SimulationConfig config = receiver_config("grid", axis, axis, axis, 1u << 20);
  EXPECT_THROW(field_for(config), std::bad_alloc);
}

PressureField two_cell_field(std::vector<Complex32> p, std::vector<float> delay,
                             std::vector<float> amplitude) {
  PressureField field = field_for(receiver_config("array", {0, 1}, {0, 1}, {0, 1}, 2));
  field.pressure = std::move(p);
  field.delay_s = std::move(delay);
  field.amplitude = std::move(amplitude);
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
  PressureField left = two_cell_field(std::vector<Complex32>(4), {c.left_delay, 0}, {0.25f, 0});
  const PressureField right =
      two_cell_field(std::vector<Complex32>(4), {c.right_delay, 0}, {0.75f, 0});
  merge_pressure_field(left, right);
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
  PressureField left = field_for(receiver_config("grid", {1, 2}, {3}, {4, 5}, 2));
  const std::vector<PressureField> others{
      field_for(receiver_config("grid", {1, 2}, {3}, {4, 5}, 1)),
      field_for(receiver_config("grid", {1, 2, 3}, {3}, {4, 5}, 2)),
      field_for(receiver_config("array", {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, 2))};
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
