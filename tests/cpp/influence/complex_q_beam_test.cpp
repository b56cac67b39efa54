#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "fixtures.h"
#include "influence/beam_influence.h"
#include "support/beam_testing.h"

namespace abyx {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180;  // one degree
constexpr float kC0 = 1500.0f;                         // m/s

class ComplexQFreeField : public ::testing::TestWithParam<BeamWidthRule> {};

// In isovelocity water a fan of complex-Q beams adds up to the field of a point source,
// e^{i w r / c0} / r, whatever the width of its beams: across the fan the phase is stationary on
// the ray through the receiver, and the beam parameter drops out of the Gaussian integral. The
// fan reaches well past the beams' cut-off around every receiver, whose beams stay narrow enough
// for the paraxial phase.
TEST_P(ComplexQFreeField, FanAddsUpToThePointSourceField) {
  const Vec3 source{0.0f, 0.0f, 1000.0f};
  const std::vector<float> omegas{static_cast<float>(360 * kRad * 50),
                                  static_cast<float>(360 * kRad * 120)};
  const std::vector<double> ranges{900.0, 700.0, 1000.0};
  const std::vector<Vec3> points{
      source + 900.0f * fixtures::launch_direction(0, 0),
      source + 700.0f * fixtures::launch_direction(6 * kRad, -4 * kRad),
      source + 1000.0f * fixtures::launch_direction(-8 * kRad, 7 * kRad)};
  PressureField field = fixtures::array_field(points, omegas.size());
  Model model = beam_model(field, BTYfield{}, omegas);
  model.beam.resolved_beam_type = BeamType::Cerveny;
  model.beam.resolved_beam_width = GetParam();
  model.beam.max_range_m = 1000.0f;
  model.beam.beam_width_m = 100.0f;
  const float step = static_cast<float>(1.5 * kRad);
  BeamScratch scratch;
  BeamOutputs out{field};
  for (double elevation = -30 * kRad; elevation <= 30 * kRad; elevation += 1.5 * kRad) {
    for (double azimuth = -30 * kRad; azimuth <= 30 * kRad; azimuth += 1.5 * kRad) {
      const std::vector<RayState> states = fixtures::straight_ray(
          source, fixtures::launch_direction(elevation, azimuth), kC0, 10.0f, 110);
      add_beam(states, {static_cast<float>(elevation), step, step}, model, scratch, out);
    }
  }
  for (std::size_t cell = 0; cell < points.size(); ++cell) {
    for (std::size_t k = 0; k < omegas.size(); ++k) {
      const Complex32 p = field.pressure[field.pressure_index(k, cell)];
      const double r = ranges[cell];
      EXPECT_LE(std::abs(std::complex<double>(p.re, p.im) - std::polar(1 / r, omegas[k] * r / kC0)),
                0.01 / r)
          << "receiver " << cell << ", frequency " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WidthRules, ComplexQFreeField,
                         ::testing::Values(BeamWidthRule::MinWidth, BeamWidthRule::HalfWidth));

}  // namespace
}  // namespace abyx
