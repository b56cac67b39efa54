#include "reflect/bottom_reflection_coefficient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <ostream>
#include <vector>

namespace abyx {
namespace {

using Complex = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;
constexpr float kCoefficientTolerance = 5e-5f;  // single-precision pipeline vs double closed form
constexpr float kScaleTolerance = 2e-6f;        // same incidence given with other vector lengths
constexpr float kWaterSpeed = 1500.0f;          // m/s
constexpr float kWaterDensity = 1.0f;           // g/cm^3

BottomParams fluid(float c, float rho, float alpha = 0.0f) {
  return {BottomKind::Acoustic, c, 0.0f, rho, alpha, 0.0f};
}

BottomParams solid(float cp, float cs, float rho, float alpha_p = 0.0f, float alpha_s = 0.0f) {
  return {BottomKind::Elastic, cp, cs, rho, alpha_p, alpha_s};
}

// Incident slowness at angle theta (deg) from the normal of a flat bottom, magnitude 1 / c_w.
Vec3 incident(double theta_deg) {
  const double t = theta_deg * kPi / 180.0;
  return {static_cast<float>(std::sin(t) / kWaterSpeed), 0.0f,
          static_cast<float>(std::cos(t) / kWaterSpeed)};
}

Complex32 coefficient(const BottomParams& b, double theta_deg, float freq_hz) {
  return compute_bottom_reflection_coefficient(b, incident(theta_deg), {0, 0, 1}, kWaterDensity,
                                               kWaterSpeed, static_cast<float>(2 * kPi) * freq_hz);
}

// Textbook plane-wave coefficients, written in angles and impedances in double precision for the
// time convention exp(-i w t): a lossy medium has wavenumber w / c + i * (attenuation in nepers
// per metre), and a vertical wavenumber in the bottom with a non-negative imaginary part.
Complex wavenumber(double c, double alpha_db_per_wavelength, double f) {
  const double nepers_per_wavelength = alpha_db_per_wavelength / (20.0 * std::log10(std::exp(1.0)));
  return {2 * kPi * f / c, nepers_per_wavelength * f / c};
}

struct Incidence {
  double f;      // Hz
  double sin_w;  // sine of the angle in the water
  double cos_w;  // cosine of the angle in the water
};

Incidence incidence(double theta_deg, double f) {
  const double t = theta_deg * kPi / 180.0;
  return {f, std::sin(t), std::cos(t)};
}

// cos of the refracted angle for a wave of wavenumber k (Snell: k sin = k_w sin_w)
Complex refracted_cos(Complex k, const Incidence& in) {
  const Complex sin_b = (2 * kPi * in.f / kWaterSpeed) * in.sin_w / k;
  Complex cos_b = std::sqrt(1.0 - sin_b * sin_b);
  if ((k * cos_b).imag() < 0) cos_b = -cos_b;
  return cos_b;
}

Complex rayleigh(double c_b, double rho_b, double alpha, const Incidence& in) {
  const Complex k = wavenumber(c_b, alpha, in.f);
  const Complex c = 2 * kPi * in.f / k;  // complex speed
  const Complex z_b = rho_b * c / refracted_cos(k, in);
  const double z_w = kWaterDensity * kWaterSpeed / in.cos_w;
  return (z_b - z_w) / (z_b + z_w);
}

Complex fluid_solid(double cp, double cs, double rho_b, double alpha_p, double alpha_s,
                    const Incidence& in) {
  const Complex kp = wavenumber(cp, alpha_p, in.f), ks = wavenumber(cs, alpha_s, in.f);
  const Complex cp_hat = 2 * kPi * in.f / kp, cs_hat = 2 * kPi * in.f / ks;
  const Complex cos_p = refracted_cos(kp, in), cos_s = refracted_cos(ks, in);
  const Complex sin_s = (2 * kPi * in.f / kWaterSpeed) * in.sin_w / ks;
  const Complex z_p = rho_b * cp_hat / cos_p, z_s = rho_b * cs_hat / cos_s;
  const double z_w = kWaterDensity * kWaterSpeed / in.cos_w;
  const Complex cos_2s = 1.0 - 2.0 * sin_s * sin_s, sin_2s = 2.0 * sin_s * cos_s;
  const Complex z = z_p * cos_2s * cos_2s + z_s * sin_2s * sin_2s;
  return (z - z_w) / (z + z_w);
}

void expect_near(Complex32 got, Complex want, float tolerance) {
  EXPECT_NEAR(got.re, want.real(), tolerance);
  EXPECT_NEAR(got.im, want.imag(), tolerance);
}

float magnitude(Complex32 r) { return std::hypot(r.re, r.im); }

TEST(BottomReflectionCoefficient, RigidBottomReflectsTotally) {
  for (double theta : {0.0, 30.0, 89.0}) {
    for (float f : {-50.0f, 10.0f, 5000.0f}) {
      EXPECT_EQ(coefficient(BottomParams{}, theta, f), (Complex32{1.0f, 0.0f}));
    }
  }
}

TEST(BottomReflectionCoefficient, ZeroFrequencyReflectsTotallyOnEveryBottom) {
  for (const BottomParams& b : {fluid(1600, 1.5f, 0.5f), solid(1800, 600, 2.0f, 0.2f, 0.4f)}) {
    EXPECT_EQ(coefficient(b, 40.0, 0.0f), (Complex32{1.0f, 0.0f}));
  }
}

TEST(BottomReflectionCoefficient, NormalIncidenceOnAFluidBottom) {
  const Complex32 r = coefficient(fluid(1600, 1.5f), 0.0, 100.0f);
  const float expected = (1.5f / 1500.0f - 1.0f / 1600.0f) / (1.5f / 1500.0f + 1.0f / 1600.0f);
  EXPECT_NEAR(r.re, expected, 1e-6f);
  EXPECT_NEAR(r.re, 0.2308f, 1e-4f);
  EXPECT_NEAR(r.im, 0.0f, 1e-6f);
}

struct FluidCase {
  float c_b, rho_b, alpha;
  double theta, f;
};

void PrintTo(const FluidCase& c, std::ostream* os) {
  *os << "c_b " << c.c_b << ", rho_b " << c.rho_b << ", alpha " << c.alpha << ", " << c.theta
      << " deg, " << c.f << " Hz";
}

class FluidBottom : public testing::TestWithParam<FluidCase> {};

TEST_P(FluidBottom, MatchesTheRayleighCoefficient) {
  const FluidCase& c = GetParam();
  expect_near(coefficient(fluid(c.c_b, c.rho_b, c.alpha), c.theta, static_cast<float>(c.f)),
              rayleigh(c.c_b, c.rho_b, c.alpha, incidence(c.theta, c.f)), kCoefficientTolerance);
}

// lossless cases stay below the critical angle (69.6 deg for 1600 m/s); lossy ones go beyond it
INSTANTIATE_TEST_SUITE_P(
    Cases, FluidBottom,
    testing::Values(FluidCase{1600, 1.5f, 0, 0, 100}, FluidCase{1600, 1.5f, 0, 35, 100},
                    FluidCase{1600, 1.5f, 0, 60, 2000}, FluidCase{1400, 1.2f, 0, 80, 100},
                    FluidCase{1600, 1.5f, 0.5f, 20, 100}, FluidCase{1600, 1.5f, 0.5f, 75, 250},
                    FluidCase{1700, 1.9f, 1.0f, 85, 50}, FluidCase{1550, 1.3f, 0.1f, 89, 1000}));

struct SolidCase {
  float cp, cs, rho_b, alpha_p, alpha_s;
  double theta, f;
};

void PrintTo(const SolidCase& c, std::ostream* os) {
  *os << "cp " << c.cp << ", cs " << c.cs << ", rho_b " << c.rho_b << ", alpha " << c.alpha_p << "/"
      << c.alpha_s << ", " << c.theta << " deg, " << c.f << " Hz";
}

class SolidBottom : public testing::TestWithParam<SolidCase> {};

TEST_P(SolidBottom, MatchesTheFluidSolidCoefficient) {
  const SolidCase& c = GetParam();
  expect_near(coefficient(solid(c.cp, c.cs, c.rho_b, c.alpha_p, c.alpha_s), c.theta,
                          static_cast<float>(c.f)),
              fluid_solid(c.cp, c.cs, c.rho_b, c.alpha_p, c.alpha_s, incidence(c.theta, c.f)),
              kCoefficientTolerance);
}

// lossless cases stay below the compressional (and, for rock, shear) critical angles
INSTANTIATE_TEST_SUITE_P(Cases, SolidBottom,
                         testing::Values(SolidCase{1800, 600, 2.0f, 0, 0, 0, 100},
                                         SolidCase{1800, 600, 2.0f, 0, 0, 30, 100},
                                         SolidCase{1800, 600, 2.0f, 0, 0, 50, 400},
                                         SolidCase{3000, 1400, 2.5f, 0, 0, 25, 100},
                                         SolidCase{1800, 600, 2.0f, 0.3f, 0.8f, 20, 100},
                                         SolidCase{1800, 600, 2.0f, 0.3f, 0.8f, 70, 100},
                                         SolidCase{3000, 1600, 2.5f, 0.1f, 0.2f, 45, 300},
                                         SolidCase{3000, 1600, 2.5f, 0.1f, 0.2f, 80, 300}));

TEST(BottomReflectionCoefficient, HighFrequencySolidBottomDoesNotOverflow) {
  // the two terms reach 1e20 here, so their squared magnitudes would overflow single precision
  const Complex32 r = coefficient(solid(1800, 600, 2.0f, 0.3f, 0.8f), 40.0, 100000.0f);
  expect_near(r, fluid_solid(1800, 600, 2.0f, 0.3f, 0.8f, incidence(40.0, 100000.0)),
              kCoefficientTolerance);
}

TEST(BottomReflectionCoefficient, LosslessBeyondTheCriticalAngleReflectsTotally) {
  for (double theta : {72.0, 80.0, 89.0}) {
    EXPECT_NEAR(magnitude(coefficient(fluid(1600, 1.5f), theta, 100.0f)), 1.0f, 1e-5f);
  }
  // rock with both speeds above the water's: beyond both critical angles
  EXPECT_NEAR(magnitude(coefficient(solid(3000, 1600, 2.5f), 75.0, 100.0f)), 1.0f, 1e-5f);
}

// Regression: the lossless root beyond the critical angle once had the growing branch, which gave
// the conjugate of the lossy limit (a phase jump from "no loss" to "a little loss").
TEST(BottomReflectionCoefficient, LosslessTotalReflectionIsTheLimitOfVanishingLoss) {
  for (double theta : {72.0, 80.0, 89.0}) {
    const Complex32 lossless = coefficient(fluid(1600, 1.5f), theta, 100.0f);
    const Complex32 nearly_lossless = coefficient(fluid(1600, 1.5f, 1e-6f), theta, 100.0f);
    expect_near(lossless, rayleigh(1600, 1.5, 0.0, incidence(theta, 100.0)), kCoefficientTolerance);
    expect_near(lossless, {nearly_lossless.re, nearly_lossless.im}, 1e-4f);
  }
  const Complex32 rock = coefficient(solid(3000, 1600, 2.5f), 75.0, 100.0f);
  expect_near(rock, fluid_solid(3000, 1600, 2.5, 0.0, 0.0, incidence(75.0, 100.0)),
              kCoefficientTolerance);
}

TEST(BottomReflectionCoefficient, AttenuationLowersTheMagnitudeBeyondTheCriticalAngle) {
  for (double theta : {72.0, 80.0, 89.0}) {
    EXPECT_LT(magnitude(coefficient(fluid(1600, 1.5f, 0.5f), theta, 100.0f)), 0.9999f);
  }
}

TEST(BottomReflectionCoefficient, NegativeFrequencyGivesTheConjugate) {
  for (const BottomParams& b : {fluid(1600, 1.5f, 0.5f), solid(1800, 600, 2.0f, 0.3f, 0.8f)}) {
    const Complex32 pos = coefficient(b, 55.0, 300.0f);
    const Complex32 neg = coefficient(b, 55.0, -300.0f);
    EXPECT_NE(pos.im, 0.0f);
    EXPECT_EQ(neg.re, pos.re);
    EXPECT_EQ(neg.im, -pos.im);
  }
}

TEST(BottomReflectionCoefficient, OnlyTheDirectionsOfSlownessAndNormalMatter) {
  const Vec3 n{0.3f, -0.2f, 1.0f};  // a sloping bottom
  const Vec3 p{2e-4f, 3e-4f, 5e-4f};
  for (const BottomParams& b : {fluid(1600, 1.5f, 0.5f), solid(1800, 600, 2.0f, 0.3f, 0.8f)}) {
    const Complex32 base = compute_bottom_reflection_coefficient(b, p, n, 1.0f, 1500, 900);
    for (float sp : {1e-6f, 1.0f, 1e3f}) {
      for (float sn : {1e-4f, 7.0f, 1e4f}) {
        const Complex32 r =
            compute_bottom_reflection_coefficient(b, sp * p, sn * n, 1.0f, 1500, 900);
        EXPECT_NEAR(r.re, base.re, kScaleTolerance);
        EXPECT_NEAR(r.im, base.im, kScaleTolerance);
      }
    }
  }
}

TEST(BottomReflectionCoefficient, SlopingBottomSeesOnlyTheAngleOfIncidence) {
  // the same 50 deg incidence, measured from a tilted normal, as on a flat bottom
  const double tilt = 0.4, theta = 50.0 * kPi / 180.0;
  const Vec3 n{static_cast<float>(std::sin(tilt)), 0.0f, static_cast<float>(std::cos(tilt))};
  const Vec3 along{static_cast<float>(std::cos(tilt)), 0.0f, static_cast<float>(-std::sin(tilt))};
  const Vec3 p = (1.0f / kWaterSpeed) * (static_cast<float>(std::cos(theta)) * n +
                                         static_cast<float>(std::sin(theta)) * along);
  const BottomParams b = solid(1800, 600, 2.0f, 0.3f, 0.8f);
  const Complex32 tilted = compute_bottom_reflection_coefficient(b, p, n, 1.0f, kWaterSpeed, 700);
  const Complex32 flat = coefficient(b, 50.0, static_cast<float>(700 / (2 * kPi)));
  EXPECT_NEAR(tilted.re, flat.re, kCoefficientTolerance);
  EXPECT_NEAR(tilted.im, flat.im, kCoefficientTolerance);
}

TEST(BottomReflectionCoefficient, SolidWithVanishingShearSpeedApproachesTheFluid) {
  for (double theta : {0.0, 30.0, 60.0, 80.0}) {
    for (float alpha : {0.0f, 0.5f}) {
      const Complex32 s = coefficient(solid(1600, 1.0f, 1.5f, alpha, 0.0f), theta, 100.0f);
      const Complex32 f = coefficient(fluid(1600, 1.5f, alpha), theta, 100.0f);
      EXPECT_NEAR(s.re, f.re, 1e-4f) << theta;
      EXPECT_NEAR(s.im, f.im, 1e-4f) << theta;
    }
  }
}

TEST(BottomReflectionCoefficient, MatchedBottomGivesExactlyZero) {
  // water against the same fluid: the two terms cancel exactly
  const Complex32 r = compute_bottom_reflection_coefficient(fluid(1.0f, 1.0f), {0, 0, 1}, {0, 0, 1},
                                                            1.0f, 1.0f, 500.0f);
  EXPECT_EQ(r, (Complex32{0.0f, 0.0f}));
  EXPECT_FALSE(std::signbit(r.re));
  EXPECT_FALSE(std::signbit(r.im));
}

TEST(BottomReflectionCoefficient, VanishingDenominatorReflectsTotally) {
  // leaving a matched bottom: the terms are opposite and their sum is zero
  EXPECT_EQ(compute_bottom_reflection_coefficient(fluid(1.0f, 1.0f), {0, 0, -1}, {0, 0, 1}, 1.0f,
                                                  1.0f, 500.0f),
            (Complex32{1.0f, 0.0f}));
}

}  // namespace
}  // namespace abyx
