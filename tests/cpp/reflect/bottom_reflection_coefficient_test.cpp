#include "reflect/bottom_reflection_coefficient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace abyx {
namespace {

using Complex = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;
constexpr float kTolerance = 5e-5f;     // single-precision pipeline vs double closed form
constexpr double kWaterSpeed = 1500.0;  // m/s, water density 1 g/cm^3

BottomParams fluid(float c, float rho, float alpha = 0.0f) {
  return {BottomKind::Acoustic, c, 0.0f, rho, alpha, 0.0f};
}

BottomParams solid(float cp, float cs, float rho, float alpha_p = 0.0f, float alpha_s = 0.0f) {
  return {BottomKind::Elastic, cp, cs, rho, alpha_p, alpha_s};
}

// The coefficient at angle theta (deg) from the normal of a flat bottom.
Complex32 coefficient(const BottomParams& b, double theta_deg, double f) {
  const double t = theta_deg * kPi / 180.0;
  const Vec3 p{static_cast<float>(std::sin(t) / kWaterSpeed), 0.0f,
               static_cast<float>(std::cos(t) / kWaterSpeed)};
  return compute_bottom_reflection_coefficient(b, {{0, 0, 1}, p, kWaterSpeed}, 1.0f,
                                               static_cast<float>(2 * kPi * f));
}

// Plane-wave coefficients of a fluid and of a solid half-space under water for exp(-i w t): a lossy
// medium has wavenumber w / c + i * (nepers per metre); the refracted wave decays downwards.
Complex closed_form(const BottomParams& b, double theta_deg, double f) {
  if (b.kind == BottomKind::Rigid || f == 0) return 1.0;
  if (f < 0) return std::conj(closed_form(b, theta_deg, -f));
  const double w = 2 * kPi * f, t = theta_deg * kPi / 180.0;
  const double k_w = w / kWaterSpeed, z_w = kWaterSpeed / std::cos(t);
  const auto wavenumber = [&](double c, double alpha_db) {
    return Complex{w / c, alpha_db / (20.0 * std::log10(std::exp(1.0))) * f / c};
  };
  const auto refracted_cos = [&](Complex k) {  // Snell: k sin = k_w sin_w
    const Complex sin_b = k_w * std::sin(t) / k;
    const Complex cos_b = std::sqrt(1.0 - sin_b * sin_b);
    return (k * cos_b).imag() < 0 ? -cos_b : cos_b;
  };
  const Complex kp =
      wavenumber(b.compressional_speed_m_s, b.compressional_attenuation_db_per_wavelength);
  Complex z = double{b.density_g_cm3} * (w / kp) / refracted_cos(kp);
  if (b.kind == BottomKind::Elastic) {
    const Complex ks = wavenumber(b.shear_speed_m_s, b.shear_attenuation_db_per_wavelength);
    const Complex sin_s = k_w * std::sin(t) / ks, cos_s = refracted_cos(ks);
    const Complex z_s = double{b.density_g_cm3} * (w / ks) / cos_s;
    const Complex cos_2s = 1.0 - 2.0 * sin_s * sin_s, sin_2s = 2.0 * sin_s * cos_s;
    z = z * cos_2s * cos_2s + z_s * sin_2s * sin_2s;
  }
  return (z - z_w) / (z + z_w);
}

struct Case {
  const char* name;
  BottomParams bottom;
  double theta_deg, f_hz;
};

class ClosedForm : public testing::TestWithParam<Case> {};

TEST_P(ClosedForm, MatchesThePlaneWaveCoefficient) {
  const Case& c = GetParam();
  const Complex32 got = coefficient(c.bottom, c.theta_deg, c.f_hz);
  const Complex want = closed_form(c.bottom, c.theta_deg, c.f_hz);
  EXPECT_NEAR(got.re, want.real(), kTolerance);
  EXPECT_NEAR(got.im, want.imag(), kTolerance);
}

// 1600 m/s has its critical angle at 69.6 deg; beyond it a lossless bottom reflects totally with
// the phase that vanishing loss tends to
INSTANTIATE_TEST_SUITE_P(
    Bottoms, ClosedForm,
    testing::Values(Case{"Rigid", BottomParams{}, 30, 5000},
                    Case{"ZeroFrequency", solid(1800, 600, 2.0f), 40, 0},
                    Case{"FluidNormal", fluid(1600, 1.5f), 0, 100},
                    Case{"FluidSlowerThanWater", fluid(1400, 1.2f), 80, 100},
                    Case{"FluidLossy75deg", fluid(1600, 1.5f, 0.5f), 75, 250},
                    Case{"Solid50deg", solid(1800, 600, 2.0f), 50, 400},
                    Case{"RockLossy80deg", solid(3000, 1600, 2.5f, 0.1f, 0.2f), 80, 300},
                    Case{"NegativeFrequency", solid(1800, 600, 2.0f, 0.3f, 0.8f), 55, -300},
                    // the two terms reach 1e20: their squared magnitudes overflow single precision
                    Case{"SolidHighFrequency", solid(1800, 600, 2.0f, 0.3f, 0.8f), 40, 1e5},
                    // beyond single precision altogether: computed again in double precision
                    Case{"SolidAt1GHz", solid(1800, 600, 2.0f, 0.3f, 0.8f), 40, 1e9},
                    Case{"SolidAt1GHzNegative", solid(1800, 600, 2.0f, 0.3f, 0.8f), 70, -1e9},
                    Case{"SolidWithSlowShear", solid(1800, 1e-3f, 2.0f, 0.3f, 0.8f), 30, 100}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(BottomReflectionCoefficient, SeesOnlyTheAngleBetweenSlownessAndNormal) {
  // 50 deg from a tilted normal, with vectors of any length, as on a flat bottom
  const float tilt = 0.4f, theta = 50.0f * static_cast<float>(kPi) / 180.0f;
  const Vec3 n{std::sin(tilt), 0.0f, std::cos(tilt)}, along{std::cos(tilt), 0.0f, -std::sin(tilt)};
  const Vec3 p = std::cos(theta) * n + std::sin(theta) * along;
  const BottomParams b = solid(1800, 600, 2.0f, 0.3f, 0.8f);
  const Complex32 flat = coefficient(b, 50.0, 700 / (2 * kPi));
  const Complex32 r = compute_bottom_reflection_coefficient(b, {1e-4f * n, 1e3f * p, 1500}, 1, 700);
  EXPECT_NEAR(r.re, flat.re, kTolerance);
  EXPECT_NEAR(r.im, flat.im, kTolerance);
}

// Grazing 10 and 30 deg: |R| 0.2 and 0.6, arg R 90 and 150 deg; incidence given from the normal.
TEST(BottomReflectionCoefficient, TableIsLinearInMagnitudeAndPhaseAndHeldBeyondItsEnds) {
  BottomParams table{BottomKind::Table,
                     0,
                     0,
                     0,
                     0,
                     0,
                     make_reflection_table({10.0f, 30.0f}, {0.2f, 0.6f}, {90.0f, 150.0f})};
  const struct {
    double theta_deg, f_hz, magnitude, phase_deg;
  } cases[] = {{70, 100, 0.4, 120}, {85, 100, 0.2, 90}, {90, 5e8, 0.2, 90},
               {75, -9, 0.3, -105}, {0, 100, 0.6, 150}, {30, 100, 0.6, 150}};
  for (const auto& c : cases) {
    const Complex32 r = coefficient(table, c.theta_deg, c.f_hz);
    const Complex want = std::polar(c.magnitude, c.phase_deg * kPi / 180.0);
    EXPECT_NEAR(r.re, want.real(), 1e-5) << c.theta_deg;
    EXPECT_NEAR(r.im, want.imag(), 1e-5) << c.theta_deg;
  }
  // an empty table (never validated) reflects totally
  table.table = {};
  EXPECT_EQ(coefficient(table, 45, 100), (Complex32{1.0f, 0.0f}));
}

TEST(BottomReflectionCoefficient, MatchedBottomGivesPositiveZeroAndAVanishingSumOne) {
  const Complex32 r =
      compute_bottom_reflection_coefficient(fluid(1, 1), {{0, 0, 1}, {0, 0, 1}, 1}, 1, 500);
  EXPECT_EQ(r, (Complex32{0.0f, 0.0f}));
  EXPECT_FALSE(std::signbit(r.re) || std::signbit(r.im));
  // leaving a matched bottom the two terms are opposite and their sum is zero
  EXPECT_EQ(compute_bottom_reflection_coefficient(fluid(1, 1), {{0, 0, 1}, {0, 0, -1}, 1}, 1, 500),
            (Complex32{1.0f, 0.0f}));
}

}  // namespace
}  // namespace abyx
