#include "influence/gaussian_beam_influence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "beam_fixtures.h"
#include "influence/receiver_index.h"

namespace abyx {
namespace {

using fixtures::kDegree;
using fixtures::kPi;
using fixtures::kTwoPiF;

constexpr float kC0 = 1500.0f;             // m/s
constexpr float kStep = 10.0f;             // m
constexpr float kPiF = 3.1415927f;         // surface reflection phase
constexpr double kAmplitudeRelTol = 2e-5;  // relative, on |a|
// relative, on |a| off the axis: receiver positions are rounded to about 1e-4 of the narrowest
// beam width
constexpr double kOffAxisRelTol = 2e-4;
constexpr double kDelayRelTol = 1e-6;     // relative, on travel time
constexpr double kPressureRelTol = 3e-4;  // on |p - expected| / |expected|
constexpr float kInf = std::numeric_limits<float>::infinity();
const Vec3 kOrigin{100.0f, -50.0f, 500.0f};
const std::vector<float> kOmegas{kTwoPiF * 50.0f, kTwoPiF * 200.0f};

BeamLaunch degree_fan(double elevation_deg) {
  return {static_cast<float>(elevation_deg) * kDegree, kDegree, kDegree};
}

// Checks one receiver's arrival and its pressure at every frequency against a * e^{i(w s/c0 - ph)}
// times the frequency's reflection factor.
void expect_arrival(const PressureField& field, std::size_t cell, double s, double a,
                    double extra_phase, const std::vector<float>& omegas,
                    const std::vector<std::complex<double>>& factors = {},
                    double amplitude_rel_tol = kAmplitudeRelTol) {
  SCOPED_TRACE("receiver " + std::to_string(cell) + " at s = " + std::to_string(s));
  EXPECT_NEAR(field.amplitude[cell], a, amplitude_rel_tol * a);
  EXPECT_NEAR(field.delay_s[cell], s / kC0, kDelayRelTol * s / kC0);
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    const std::complex<double> factor = factors.empty() ? 1.0 : factors[k];
    const std::complex<double> expected =
        factor * std::polar(a, static_cast<double>(omegas[k]) * s / kC0 - extra_phase);
    const Complex32 p = field.pressure[field.pressure_index(k, cell)];
    EXPECT_LE(std::abs(std::complex<double>(p.re, p.im) - expected),
              kPressureRelTol * std::abs(expected) + 1e-12)
        << "frequency " << k;
  }
}

void expect_untouched(const PressureField& field, std::size_t cell) {
  EXPECT_EQ(field.delay_s[cell], kInf);
  EXPECT_EQ(field.amplitude[cell], 0.0f);
  for (std::size_t k = 0; k < field.shape[0]; ++k) {
    EXPECT_EQ(field.pressure[field.pressure_index(k, cell)], (Complex32{0.0f, 0.0f}));
  }
}

struct HomogeneousCase {
  double elevation_deg;
  double azimuth_deg;
  float s;  // arc length of the receiver's foot point (m)
};

class HomogeneousBeam : public ::testing::TestWithParam<HomogeneousCase> {};

TEST_P(HomogeneousBeam, OnAxisAmplitudeDelayAndPhaseFollowTheSpreading) {
  const HomogeneousCase c = GetParam();
  const Vec3 dir =
      fixtures::launch_direction(c.elevation_deg * kPi / 180, c.azimuth_deg * kPi / 180);
  std::vector<RayState> states = fixtures::straight_ray(kOrigin, dir, kC0, kStep, 80);
  PressureField field = fixtures::array_field({fixtures::point_on_ray(kOrigin, dir, c.s)}, 2);
  add_gaussian_beam(states, field, BTYfield{}, kOmegas, degree_fan(c.elevation_deg));
  expect_arrival(field, 0, c.s, 1.0 / (2 * kPi * c.s), 0.0, kOmegas);
}

// Normal coordinates gamma = (nu1 / (s dbeta), nu2 / (s dalpha |cos beta|)) give the weight
// exp(-(gamma1^2 + gamma2^2) / 2); beyond |gamma1| + |gamma2| = 4 there is nothing.
TEST_P(HomogeneousBeam, OffAxisWeightIsGaussianInNormalCoordinates) {
  const HomogeneousCase c = GetParam();
  const double beta = c.elevation_deg * kPi / 180;
  const double alpha = c.azimuth_deg * kPi / 180;
  const Vec3 dir = fixtures::launch_direction(beta, alpha);
  const Vec3 e1{static_cast<float>(std::sin(alpha) * std::sin(beta)),
                static_cast<float>(std::cos(alpha) * std::sin(beta)),
                static_cast<float>(-std::cos(beta))};
  const Vec3 e2{static_cast<float>(-std::cos(alpha)), static_cast<float>(std::sin(alpha)), 0.0f};
  const double width1 = c.s * kDegree;
  const double width2 = c.s * kDegree * std::cos(beta);
  const std::vector<std::pair<double, double>> gammas{
      {0.5, 0.0}, {0.0, 1.2}, {-1.1, 0.7}, {2.0, -1.9}, {2.5, 1.7}};
  std::vector<Vec3> points;
  for (const auto& [g1, g2] : gammas) {
    points.push_back(fixtures::point_on_ray(kOrigin, dir, c.s) +
                     static_cast<float>(g1 * width1) * e1 + static_cast<float>(g2 * width2) * e2);
  }
  std::vector<RayState> states = fixtures::straight_ray(kOrigin, dir, kC0, kStep, 80);
  PressureField field = fixtures::array_field(points, 2);
  add_gaussian_beam(states, field, BTYfield{}, kOmegas, degree_fan(c.elevation_deg));
  for (std::size_t i = 0; i < gammas.size(); ++i) {
    const auto [g1, g2] = gammas[i];
    if (std::abs(g1) + std::abs(g2) > 4.0) {
      expect_untouched(field, i);
    } else {
      const double a = std::exp(-0.5 * (g1 * g1 + g2 * g2)) / (2 * kPi * c.s);
      expect_arrival(field, i, c.s, a, 0.0, kOmegas, {}, kOffAxisRelTol);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Launches, HomogeneousBeam,
                         ::testing::Values(HomogeneousCase{10, 90, 105.0f},
                                           HomogeneousCase{-20, 30, 333.3f},
                                           HomogeneousCase{0.5, 0, 15.5f},
                                           HomogeneousCase{70, 300, 644.0f}));

// Receivers in the middle of segments 5 (ending at state 5), 6, 9 and 13 of a straight ray.
const std::vector<double> kSegmentMids{45.0, 55.0, 85.0, 125.0};

PressureField field_at_segment_mids(Vec3 dir, std::size_t nf) {
  std::vector<Vec3> points;
  for (const double s : kSegmentMids) {
    points.push_back(fixtures::point_on_ray(kOrigin, dir, static_cast<float>(s)));
  }
  return fixtures::array_field(points, nf);
}

TEST(GaussianBeamInfluence, SurfaceReflectionFlipsTheSignOfLaterSegmentsOnly) {
  const Vec3 dir = fixtures::launch_direction(0.1, 2.0);
  std::vector<RayState> states = fixtures::straight_ray(kOrigin, dir, kC0, kStep, 20);
  for (std::size_t i = 5; i < states.size(); ++i) {
    states[i].phase = kPiF;
    states[i].n_surface = 1;
  }
  PressureField field = field_at_segment_mids(dir, 2);
  add_gaussian_beam(states, field, BTYfield{}, kOmegas, degree_fan(0.1 / kDegree));
  for (std::size_t i = 0; i < kSegmentMids.size(); ++i) {
    const double s = kSegmentMids[i];
    expect_arrival(field, i, s, 1.0 / (2 * kPi * s), i == 0 ? 0.0 : kPi, kOmegas);
  }
}

// Lossy fluid bottom above its critical grazing angle (20.4 deg), per unit angular frequency:
// kb = (1 + i eta) / cb with eta = alpha ln(10) / 20 / (2 pi), g = sqrt(cos(graze)^2 / cw^2 - kb^2)
// with a positive imaginary part, R = (i kn rho_b - rho_w g) / (i kn rho_b + rho_w g) with
// kn = sin(graze) / cw; the same at every non-zero frequency, 1 at frequency zero.
TEST(GaussianBeamInfluence, BottomReflectionsWeighOnlyTheSegmentsAfterThem) {
  const double cw = kC0;
  const double cb = 1600.0;
  const double rho_b = 1.5;
  const double alpha = 2.0;  // dB per wavelength
  const double graze = 24.0 * kPi / 180;
  const double kn = std::sin(graze) / cw;
  const std::complex<double> kb =
      std::complex<double>(1.0, alpha * std::log(10.0) / 20.0 / (2 * kPi)) / cb;
  std::complex<double> g = std::sqrt(std::cos(graze) * std::cos(graze) / (cw * cw) - kb * kb);
  if (g.imag() < 0) g = -g;
  const std::complex<double> i_kn_rho(0.0, kn * rho_b);
  const std::complex<double> r = (i_kn_rho - g) / (i_kn_rho + g);
  ASSERT_GT(std::abs(r.imag()), 0.05);  // a complex factor checks the order of the products

  const Vec3 dir = fixtures::launch_direction(0.15, 0.7);
  std::vector<RayState> states = fixtures::straight_ray(kOrigin, dir, kC0, kStep, 20);
  const BottomHit hit{
      {0.0f, 0.0f, 1.0f},
      {static_cast<float>(std::cos(graze) / cw), 0.0f, static_cast<float>(std::sin(graze) / cw)},
      kC0};
  states[5].bottom_hit = hit;
  states[10].bottom_hit = hit;
  const std::vector<float> omegas{0.0f, kTwoPiF * 100.0f, kTwoPiF * 300.0f};
  PressureField field = field_at_segment_mids(dir, 3);
  add_gaussian_beam(states, field, fixtures::fluid_bottom(1600.0f, 1.5f, 2.0f), omegas,
                    degree_fan(0.15 / kDegree));
  const std::vector<int> reflections_before{0, 1, 1, 2};
  for (std::size_t i = 0; i < kSegmentMids.size(); ++i) {
    const std::complex<double> rn = std::pow(r, reflections_before[i]);
    const double s = kSegmentMids[i];
    expect_arrival(field, i, s, 1.0 / (2 * kPi * s), 0.0, omegas, {1.0, rn, rn});
  }
}

// Q = c0 diag(s - 45, s - 95): det Q changes sign at s = 45 and s = 95; on the axis
// a = 1 / (2 pi sqrt(|(s - 45)(s - 95)|)) and each sign change lowers the phase by pi/2, inside
// the segment of the change already beyond it.
TEST(GaussianBeamInfluence, EverySignChangeOfDetQLowersThePhaseByHalfPi) {
  const Vec3 dir = fixtures::launch_direction(0.25, 1.3);
  std::vector<RayState> states = fixtures::straight_ray(kOrigin, dir, kC0, kStep, 20);
  for (std::size_t i = 0; i < states.size(); ++i) {
    const float s = kStep * static_cast<float>(i);
    states[i].q1 = {kC0 * (s - 45.0f), 0.0f};
    states[i].q2 = {0.0f, kC0 * (s - 95.0f)};
  }
  const std::vector<std::pair<double, double>> cases{
      {25.0, 0.0}, {48.0, kPi / 2}, {72.0, kPi / 2}, {97.0, kPi}, {123.0, kPi}};
  std::vector<Vec3> points;
  for (const auto& [s, phase] : cases) {
    points.push_back(fixtures::point_on_ray(kOrigin, dir, static_cast<float>(s)));
  }
  PressureField field = fixtures::array_field(points, 2);
  add_gaussian_beam(states, field, BTYfield{}, kOmegas, degree_fan(0.25 / kDegree));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto [s, phase] = cases[i];
    const double a = 1.0 / (2 * kPi * std::sqrt(std::abs((s - 45.0) * (s - 95.0))));
    expect_arrival(field, i, s, a, phase, kOmegas);
  }
}

// Randomised equivalence of the receiver searches: the narrowed search must give every receiver
// exactly what the exhaustive one gives, bit for bit, in both modes.

// The same bits in every element.
template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// Runs the grid, and the same points as an array, with both searches; all four must agree.
void expect_searches_agree(const std::vector<RayState>& states, const BeamLaunch& launch,
                           std::vector<float> x, std::vector<float> y, std::vector<float> z) {
  const std::vector<float> omegas{kTwoPiF * 30.0f, kTwoPiF * 410.0f};
  std::vector<Vec3> points;
  for (const float px : x) {
    for (const float py : y) {
      for (const float pz : z) {
        points.push_back({px, py, pz});
      }
    }
  }
  const PressureField grid = fixtures::grid_field(x, y, z, omegas.size());
  const PressureField array = fixtures::array_field(points, omegas.size());
  const BTYfield bottom = fixtures::fluid_bottom(1650.0f, 1.8f);
  const auto run = [&](PressureField field, ReceiverSearch search) {
    std::vector<RayState> copy = states;
    const BeamInfluenceCounts counts =
        add_gaussian_beam(copy, field, bottom, omegas, launch, search);
    return std::pair{std::move(field), counts};
  };
  const auto [reference, reference_counts] = run(grid, ReceiverSearch::Exhaustive);
  ASSERT_GT(reference_counts.contributions, 0u);
  for (const auto& [field, search] : {std::pair{&grid, ReceiverSearch::Narrowed},
                                      {&array, ReceiverSearch::Exhaustive},
                                      {&array, ReceiverSearch::Narrowed}}) {
    const auto [got, counts] = run(*field, search);
    SCOPED_TRACE(field->is_array() ? "array" : "grid");
    EXPECT_EQ(counts.contributions, reference_counts.contributions);
    if (!field->is_array()) {
      EXPECT_LE(counts.candidates, reference_counts.candidates);
    }
    EXPECT_TRUE(same_bits(got.pressure, reference.pressure) &&
                same_bits(got.delay_s, reference.delay_s) &&
                same_bits(got.amplitude, reference.amplitude));
  }
}

// Q = [[0, 100], [100, 0]] takes its fallback solve everywhere and keeps gamma tiny, so every
// receiver within the search radius R = L/2 + 400 contributes: receivers on the cylinder's mantle
// and caps, just inside and just outside, test the narrowing's margins.
class BoundaryBeam : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(BoundaryBeam, ReceiversOnTheSearchBoundaryAreFoundByTheNarrowedSearch) {
  std::mt19937 rng(GetParam());
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const Vec3 offset{1.0e4f, -2.0e4f, 300.0f};
  std::vector<RayState> states(6);
  Vec3 pos = offset;
  float tau = 0.0f;
  for (std::size_t i = 0; i < states.size(); ++i) {
    const float elevation = i == 1 ? 0.0f : (i == 2 ? 1.5707964f : -1.5f + 3.0f * u(rng));
    const Vec3 dir = fixtures::launch_direction(elevation, 6.2f * u(rng));
    states[i] = RayState{};
    states[i].pos = pos;
    states[i].slowness = dir;
    states[i].c = 1.0f;
    states[i].tau = tau;
    states[i].q1 = {0.0f, 100.0f};
    states[i].q2 = {100.0f, 0.0f};
    const float step = 5.0f + 45.0f * u(rng);
    pos = pos + step * dir;
    tau += step;
  }
  const std::size_t segment = 1 + GetParam() % (states.size() - 1);
  const Vec3 a = states[segment - 1].pos;
  const Vec3 d = states[segment].pos - a;
  const float length = std::sqrt(dot(d, d));
  const float radius = length / 2.0f + 400.0f;
  std::vector<float> x;
  std::vector<float> y;
  std::vector<float> z;
  for (const float t : {0.0f, 1.0f, 1e-7f, 1.0f - 1e-7f, -1e-6f, 1.0f + 1e-6f, u(rng)}) {
    for (const float scale : {1.0f - 2e-6f, 1.0f - 2e-7f, 1.0f, 1.0f + 2e-7f, 1.0f + 2e-6f}) {
      // a random direction across the segment
      const Vec3 r{u(rng) - 0.5f, u(rng) - 0.5f, u(rng) - 0.5f};
      const Vec3 across = r - (dot(r, d) / dot(d, d)) * d;
      const Vec3 p = a + t * d + (scale * radius / std::sqrt(dot(across, across))) * across;
      x.push_back(p.x);
      y.push_back(p.y);
      z.push_back(p.z);
    }
  }
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  std::sort(z.begin(), z.end());
  expect_searches_agree(states, {0.0f, 1.0f, 1.0f}, x, y, z);
}

INSTANTIATE_TEST_SUITE_P(Seeds, BoundaryBeam, ::testing::Range(1u, 7u));

}  // namespace
}  // namespace abyx
