#include "influence/beam_influence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fixtures.h"
#include "reflect/bottom_reflection_coefficient.h"
#include "support/beam_testing.h"

namespace abyx {
namespace {

using fixtures::array_field;
using fixtures::launch_direction;

constexpr double kPi = 3.14159265358979323846;
constexpr float kDegree = 0.017453292f;  // one degree in radians, single precision
constexpr float kTwoPiF = 6.2831855f;
constexpr float kC0 = 1500.0f;             // m/s
constexpr float kStep = 10.0f;             // m
constexpr double kAmplitudeRelTol = 2e-5;  // relative, on |a|
constexpr double kOffAxisRelTol = 2e-4;    // off the axis, on wide beams
constexpr double kDelayRelTol = 1e-6;      // relative, on travel time
constexpr double kPressureRelTol = 3e-4;   // on |p - expected| / |expected|
const Vec3 kOrigin{100.0f, -50.0f, 500.0f};
const std::vector<float> kOmegas{kTwoPiF * 50.0f, kTwoPiF * 200.0f};

// The straight ray from kOrigin along the unit `dir`, n states kStep apart.
std::vector<RayState> straight_ray(Vec3 dir, std::size_t n) {
  return fixtures::straight_ray(kOrigin, dir, kC0, kStep, n);
}

// The beam of a ray launched at this elevation in a one-degree fan, at array receivers.
PressureField beam_field(const RayTrace& trace, const std::vector<Vec3>& points,
                         double elevation_rad, const BTYfield& bty = {},
                         const std::vector<float>& omegas = kOmegas) {
  PressureField field = array_field(points, omegas.size());
  add_gaussian_beam(trace, field, bty, omegas,
                    {static_cast<float>(elevation_rad), kDegree, kDegree});
  return field;
}

// Points of the straight ray from kOrigin along dir at these arc lengths.
std::vector<Vec3> on_axis(Vec3 dir, const std::vector<double>& arcs) {
  std::vector<Vec3> points;
  for (const double s : arcs) points.push_back(kOrigin + static_cast<float>(s) * dir);
  return points;
}

// One receiver's arrival, and its pressure at every frequency against the frequency's factor
// times a e^{i(w s/c0 - ph)}.
void expect_arrival(const PressureField& field, std::size_t cell, double s, double a,
                    double extra_phase, const std::vector<float>& omegas = kOmegas,
                    const std::vector<std::complex<double>>& factors = {},
                    double amplitude_rel_tol = kAmplitudeRelTol) {
  SCOPED_TRACE("receiver " + std::to_string(cell) + " at s = " + std::to_string(s));
  EXPECT_NEAR(field.amplitude[cell], a, amplitude_rel_tol * a);
  EXPECT_NEAR(field.delay_s[cell], s / kC0, kDelayRelTol * s / kC0);
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    const std::complex<double> expected =
        (factors.empty() ? 1.0 : factors[k]) * std::polar(a, omegas[k] * s / kC0 - extra_phase);
    const Complex32 p = field.pressure[field.pressure_index(k, cell)];
    EXPECT_LE(std::abs(std::complex<double>(p.re, p.im) - expected),
              (kPressureRelTol + amplitude_rel_tol) * std::abs(expected) + 1e-12)
        << "frequency " << k;
  }
}

struct HomogeneousCase {
  double elevation_deg;
  double azimuth_deg;
  float s;  // arc length of the receivers' foot point (m)
};

class HomogeneousBeam : public ::testing::TestWithParam<HomogeneousCase> {};

// On the axis a = 1 / (2 pi s). Normal coordinates gamma = (nu1 / (s dbeta), nu2 / (s dalpha
// |cos beta|)) give the weight exp(-(gamma1^2 + gamma2^2) / 2); beyond |gamma1| + |gamma2| = 4
// there is nothing.
TEST_P(HomogeneousBeam, AmplitudeDelayAndPhaseFollowTheSpreadingAndTheGaussian) {
  const HomogeneousCase c = GetParam();
  const double beta = c.elevation_deg * kPi / 180;
  const double alpha = c.azimuth_deg * kPi / 180;
  const Vec3 dir = launch_direction(beta, alpha);
  const Vec3 e1 = launch_direction(beta - kPi / 2, alpha);  // across the ray, in its vertical plane
  const Vec3 e2 = launch_direction(0.0, alpha - kPi / 2);   // across the ray, level
  const double width1 = c.s * kDegree;
  const double width2 = c.s * kDegree * std::cos(beta);
  const std::vector<std::pair<double, double>> gammas{{0.0, 0.0},  {0.5, 0.0},  {0.0, 1.2},
                                                      {-1.1, 0.7}, {2.0, -1.9}, {2.5, 1.7}};
  std::vector<Vec3> points;
  for (const auto& [g1, g2] : gammas) {
    points.push_back(kOrigin + c.s * dir + static_cast<float>(g1 * width1) * e1 +
                     static_cast<float>(g2 * width2) * e2);
  }
  const PressureField field = beam_field(without_hits(straight_ray(dir, 80)), points, beta);
  for (std::size_t i = 0; i < gammas.size(); ++i) {
    const auto [g1, g2] = gammas[i];
    if (std::abs(g1) + std::abs(g2) > 4.0) {
      EXPECT_EQ(field.delay_s[i], std::numeric_limits<float>::infinity());
      EXPECT_EQ(field.amplitude[i], 0.0f);
      for (std::size_t k = 0; k < kOmegas.size(); ++k) {
        EXPECT_EQ(field.pressure[field.pressure_index(k, i)], (Complex32{0.0f, 0.0f}));
      }
    } else {
      const double a = std::exp(-0.5 * (g1 * g1 + g2 * g2)) / (2 * kPi * c.s);
      // The receivers and the feet on the ray are floats some 500 m from the origin: their
      // spacing there moves a normal coordinate by up to 1.5 spacings, which narrow beams feel.
      const double spacing = std::nextafter(kOrigin.z, 1e9f) - kOrigin.z;
      const double rounding = 1.5 * spacing * (std::abs(g1) / width1 + std::abs(g2) / width2);
      expect_arrival(field, i, c.s, a, 0.0, kOmegas, {},
                     i == 0 ? kAmplitudeRelTol : kOffAxisRelTol + rounding);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Launches, HomogeneousBeam,
                         ::testing::Values(HomogeneousCase{10, 90, 105.0f},
                                           HomogeneousCase{-20, 30, 333.3f},
                                           HomogeneousCase{0.5, 0, 15.5f},
                                           HomogeneousCase{70, 300, 644.0f},
                                           // level with state 30: one segment takes them
                                           HomogeneousCase{0, 90, 300.0f}));

class ComplexQFreeField : public ::testing::TestWithParam<BeamWidthRule> {};

// In isovelocity water a fan of complex-Q beams adds up to the field of a point source,
// e^{i w r / c0} / r, whatever the width of its beams: across the fan the phase is stationary on
// the ray through the receiver, and the beam parameter drops out of the Gaussian integral. The
// fan reaches well past the beams' cut-off around every receiver, whose beams stay narrow enough
// for the paraxial phase.
TEST_P(ComplexQFreeField, FanAddsUpToThePointSourceField) {
  const std::vector<float> omegas{kTwoPiF * 50.0f, kTwoPiF * 120.0f};
  const std::vector<double> ranges{900.0, 700.0, 1000.0};
  const std::vector<Vec3> points{kOrigin + 900.0f * launch_direction(0, 0),
                                 kOrigin + 700.0f * launch_direction(6 * kDegree, -4 * kDegree),
                                 kOrigin + 1000.0f * launch_direction(-8 * kDegree, 7 * kDegree)};
  PressureField field = array_field(points, omegas.size());
  Model model = beam_model(field, BTYfield{}, omegas);
  model.beam.resolved_beam_type = BeamType::Cerveny;
  model.beam.resolved_beam_width = GetParam();
  model.beam.max_range_m = 1000.0f;
  model.beam.beam_width_m = 100.0f;
  const float step = 1.5f * kDegree;
  BeamScratch scratch;
  BeamOutputs out{field};
  for (int elevation = -20; elevation <= 20; ++elevation) {
    for (int azimuth = -20; azimuth <= 20; ++azimuth) {
      const std::vector<RayState> states =
          straight_ray(launch_direction(elevation * step, azimuth * step), 110);
      add_beam(without_hits(states), {elevation * step, step, step}, model, scratch, out);
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

// A surface reflection at state 5 (boundary phase pi) and bottom reflections at states 5 and 10,
// seen by receivers in the middle of segments 5 (ending at state 5), 6, 9 and 13: the phase and
// each coefficient weigh only the segments after their state. The coefficient is complex, which
// also checks the order of the products.
TEST(GaussianBeamInfluence, ReflectionsWeighOnlyTheSegmentsAfterThem) {
  const double elevation = 0.15;
  const Vec3 dir = launch_direction(elevation, 0.7);
  std::vector<RayState> states = straight_ray(dir, 20);
  // 24 deg grazing on a lossy fluid bottom, above its critical angle
  const double graze = 24.0 * kPi / 180;
  const BottomHit hit{
      {0.0f, 0.0f, 1.0f},
      {static_cast<float>(std::cos(graze) / kC0), 0.0f, static_cast<float>(std::sin(graze) / kC0)},
      kC0};
  for (std::size_t i = 5; i < states.size(); ++i) {
    states[i].phase = 3.1415927f;
    states[i].n_surface = 1;
    states[i].n_bottom = i < 10 ? 1 : 2;
  }
  const RayTrace trace{states, {{5, 10}, {hit, hit}}, {}};
  BTYfield bty;
  bty.bottom = {BottomKind::Acoustic, 1600.0f, 0.0f, 1.5f, 2.0f, 0.0f};
  const std::vector<float> omegas{0.0f, kTwoPiF * 100.0f, kTwoPiF * 300.0f};
  std::vector<std::complex<double>> r;
  for (const float omega : omegas) {
    const Complex32 rk = compute_bottom_reflection_coefficient(bty.bottom, hit, 1.0f, omega);
    r.emplace_back(rk.re, rk.im);
  }
  ASSERT_GT(std::abs(r[1].imag()), 0.05);
  const std::vector<double> mids{45.0, 55.0, 85.0, 125.0};
  const PressureField field = beam_field(trace, on_axis(dir, mids), elevation, bty, omegas);
  const std::vector<int> reflections_before{0, 1, 1, 2};
  for (std::size_t i = 0; i < mids.size(); ++i) {
    std::vector<std::complex<double>> factors;
    for (const std::complex<double> rk : r) factors.push_back(std::pow(rk, reflections_before[i]));
    const double s = mids[i];
    expect_arrival(field, i, s, 1.0 / (2 * kPi * s), i == 0 ? 0.0 : kPi, omegas, factors);
  }
}

// Q = c0 diag(s - 45, s - 95): det Q changes sign at s = 45 and s = 95; on the axis
// a = 1 / (2 pi sqrt(|(s - 45)(s - 95)|)) and each sign change lowers the phase by pi/2, inside
// the segment of the change already beyond it.
TEST(GaussianBeamInfluence, EverySignChangeOfDetQLowersThePhaseByHalfPi) {
  const Vec3 dir = launch_direction(0.25, 1.3);
  std::vector<RayState> states = straight_ray(dir, 20);
  for (std::size_t i = 0; i < states.size(); ++i) {
    const float s = kStep * static_cast<float>(i);
    states[i].q1 = {kC0 * (s - 45.0f), 0.0f};
    states[i].q2 = {0.0f, kC0 * (s - 95.0f)};
  }
  const std::vector<double> arcs{25.0, 48.0, 72.0, 97.0, 123.0};
  const std::vector<double> phases{0.0, kPi / 2, kPi / 2, kPi, kPi};
  const PressureField field = beam_field(without_hits(states), on_axis(dir, arcs), 0.25);
  for (std::size_t i = 0; i < arcs.size(); ++i) {
    const double s = arcs[i];
    expect_arrival(field, i, s, 1.0 / (2 * kPi * std::sqrt(std::abs((s - 45.0) * (s - 95.0)))),
                   phases[i]);
  }
}

// A straight ray is summed in stretches of many segments; each segment summed as a ray of its own
// must give the same field, up to rounding, to receivers anywhere in its beam (none level with a
// state, where two such rays would both take one). The beam widens along a stretch, so receivers
// near a stretch's end lie beyond the radius of its first segment.
TEST(GaussianBeamInfluence, StraightStretchesSumAsTheirSegments) {
  const Vec3 dir = launch_direction(0.3, 2.0);
  const std::vector<RayState> states = straight_ray(dir, 60);
  const double elevation = 0.3;
  const double dbeta = kDegree;  // the beam's width per metre of arc
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const Vec3 e1 = launch_direction(elevation - kPi / 2, 2.0);
  const Vec3 e2 = launch_direction(0.0, 2.0 - kPi / 2);
  std::vector<Vec3> points;
  while (points.size() < 200) {
    const double s = 100.0 + 240.0 * (u(rng) + 1.0);
    if (std::abs(s / kStep - std::round(s / kStep)) < 1e-3) continue;
    // normal coordinates up to |gamma1| + |gamma2| = 3.9, clear of the cut-off at 4
    const double width = s * dbeta;
    const double g1 = 3.9 * u(rng);
    const double g2 = (3.9 - std::abs(g1)) * u(rng);
    points.push_back(kOrigin + static_cast<float>(s) * dir + static_cast<float>(g1 * width) * e1 +
                     static_cast<float>(g2 * width * std::cos(elevation)) * e2);
  }
  const PressureField whole = beam_field(without_hits(states), points, elevation);
  PressureField parts = array_field(points, kOmegas.size());
  for (std::size_t i = 1; i < states.size(); ++i) {
    add_gaussian_beam(without_hits({states[i - 1], states[i]}), parts, BTYfield{}, kOmegas,
                      {static_cast<float>(elevation), kDegree, kDegree});
  }
  int reached = 0;
  for (std::size_t cell = 0; cell < points.size(); ++cell) {
    SCOPED_TRACE("receiver " + std::to_string(cell));
    EXPECT_NEAR(whole.amplitude[cell], parts.amplitude[cell], 2e-4 * parts.amplitude[cell]);
    reached += parts.amplitude[cell] > 0.0f;
    for (std::size_t k = 0; k < kOmegas.size(); ++k) {
      const Complex32 p = whole.pressure[whole.pressure_index(k, cell)];
      const Complex32 q = parts.pressure[parts.pressure_index(k, cell)];
      EXPECT_LE(std::hypot(p.re - q.re, p.im - q.im), 5e-4 * std::hypot(q.re, q.im))
          << "frequency " << k;
    }
  }
  EXPECT_GT(reached, 150);
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// The narrowed receiver search must give every receiver exactly what the exhaustive one gives, bit
// for bit, on a grid and on the same points as an array. Q = [[0, 100], [100, 0]] takes its
// fallback solve everywhere and keeps gamma tiny, so every receiver within the search radius
// R = L/2 + 400 contributes: receivers on the cylinder's mantle and caps, just inside and just
// outside, test the narrowing's margins. Even seeds end the ray in a straight stretch of two steps,
// which is searched on its own.
class BoundaryBeam : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(BoundaryBeam, ReceiversOnTheSearchBoundaryAreFoundByTheNarrowedSearch) {
  std::mt19937 rng(GetParam());
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<RayState> states(6);
  Vec3 pos{1.0e4f, -2.0e4f, 300.0f};
  float tau = 0.0f;
  for (std::size_t i = 0; i < states.size(); ++i) {
    const float elevation = i == 1 ? 0.0f : (i == 2 ? 1.5707964f : -1.5f + 3.0f * u(rng));
    const bool straight_tail = GetParam() % 2 == 0 && i > 3;
    const Vec3 dir =
        straight_tail ? states[3].slowness : launch_direction(elevation, 6.2f * u(rng));
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
  const float radius = std::sqrt(dot(d, d)) / 2.0f + 400.0f;
  std::vector<float> axes[3];  // of the grid through the boundary points
  for (const float t : {0.0f, 1.0f, 1e-7f, 1.0f - 1e-7f, -1e-6f, 1.0f + 1e-6f, u(rng)}) {
    for (const float scale : {1.0f - 2e-6f, 1.0f - 2e-7f, 1.0f, 1.0f + 2e-7f, 1.0f + 2e-6f}) {
      // a random direction across the segment
      const Vec3 r{u(rng) - 0.5f, u(rng) - 0.5f, u(rng) - 0.5f};
      const Vec3 across = r - (dot(r, d) / dot(d, d)) * d;
      const Vec3 p = a + t * d + (scale * radius / std::sqrt(dot(across, across))) * across;
      for (std::size_t k = 0; k < 3; ++k) axes[k].push_back(p[k]);
    }
  }
  for (std::vector<float>& axis : axes) std::ranges::sort(axis);
  const auto& [x, y, z] = axes;
  std::vector<Vec3> points;
  for (const float px : x) {
    for (const float py : y) {
      for (const float pz : z) points.push_back({px, py, pz});
    }
  }

  const std::vector<float> omegas{kTwoPiF * 30.0f, kTwoPiF * 410.0f};
  const auto run = [&](PressureField field, ReceiverSearch search) {
    const BeamInfluenceCounts counts = add_gaussian_beam(without_hits(states), field, BTYfield{},
                                                         omegas, {0.0f, 1.0f, 1.0f}, search);
    return std::pair{std::move(field), counts};
  };
  const PressureField grid = fixtures::make_field("grid", x, y, z, omegas.size());
  const PressureField array = array_field(points, omegas.size());
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

  // The same boundary points as ranges and bearings from a source far off (the search then keeps to
  // a window of bearings) and from one beside the segment (every bearing): the polar search finds
  // what visiting every point finds.
  for (const Vec3 source : {a + Vec3{-5000.0f, 3000.0f, 0.0f}, a + Vec3{30.0f, -20.0f, 0.0f}}) {
    std::vector<float> ranges, bearings;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const Vec3 p = points[(i * y.size() + i) * z.size()];
      ranges.push_back(std::hypot(p.x - source.x, p.y - source.y));
      bearings.push_back(std::atan2(p.x - source.x, p.y - source.y) / kDegree);
    }
    std::sort(ranges.begin(), ranges.end());
    std::sort(bearings.begin(), bearings.end());
    const PressureField polar = init_pressure_field(Receivers{"polar", ranges, bearings, z},
                                                    ReceiverLayout::Polar, omegas.size(), source);
    const auto [everywhere, everywhere_counts] = run(polar, ReceiverSearch::Exhaustive);
    const auto [found, found_counts] = run(polar, ReceiverSearch::Narrowed);
    EXPECT_GT(everywhere_counts.contributions, 0u);
    EXPECT_EQ(found_counts.contributions, everywhere_counts.contributions);
    EXPECT_TRUE(same_bits(found.pressure, everywhere.pressure));
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, BoundaryBeam, ::testing::Range(1u, 7u));

}  // namespace
}  // namespace abyx
