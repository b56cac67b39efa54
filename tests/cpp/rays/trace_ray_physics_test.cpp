// Traced rays: circular arcs in a linear sound-speed gradient with the travel time along them, the
// dynamic ray equations against closed forms, and where tracing stops.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <vector>

#include "common/fault.h"
#include "rays/ocean_fixtures.h"
#include "rays/trace_ray.h"
#include "support/trace_ray_step_by_step.h"

namespace abyx {
namespace {

using testing::linspace;
using testing::make_bty;
using testing::make_ssp;
using testing::trace;
using testing::tracer_model;

// c(z) = kSurfaceC + kG z; the ray from (0, 0, kSourceZ) launched kTheta0 below the horizontal
// along +x is a circle about the depth where c would vanish, of radius c0 / (g cos theta0).
constexpr double kSurfaceC = 1000.0;  // m/s
constexpr double kG = 0.5;            // 1/s
constexpr double kSourceZ = 1000.0;   // m
constexpr double kC0 = kSurfaceC + kG * kSourceZ;
constexpr double kTheta0 = 0.17453292;  // rad, 10 degrees
const double kRadius = kC0 / (kG * std::cos(kTheta0));
const double kCentreX = kRadius * std::sin(kTheta0);
const double kCentreZ = kSourceZ - kC0 / kG;

// One cell in every direction, so no grid plane shortens a step.
const SSPFields kLinearSsp = make_ssp(
    linspace(-1e4f, 1e4f, 2), linspace(-1e4f, 1e4f, 2), linspace(0.0f, 5000.0f, 2),
    [](float, float, float z) {
      return SSPSample{.c = static_cast<float>(kSurfaceC + kG * z), .c_z = static_cast<float>(kG)};
    });
const BTYfield kDeepBottom = make_bty(linspace(-2e4f, 2e4f, 2), linspace(-2e4f, 2e4f, 2),
                                      [](float, float) { return 5000.0f; });

std::vector<RayState> trace_arc(float step, std::uint64_t max_steps, IntegrationMethod method) {
  return trace({0.0f, 0.0f, static_cast<float>(kSourceZ)}, step, max_steps, 1e5f, method,
               kLinearSsp, kDeepBottom, 1.5707964f, static_cast<float>(kTheta0));
}

struct ArcCase {
  IntegrationMethod method;
  float step;         // m
  double radius_tol;  // relative error of the distance from the centre
  double snell_tol;   // error of c(z) |p| = 1, i.e. of cos(theta) / c = cos(theta0) / c0
  double time_tol;    // relative error of the travel time
};

void PrintTo(const ArcCase& param, std::ostream* os) {
  *os << (param.method == IntegrationMethod::Rk2 ? "rk2" : "euler") << " step " << param.step;
}

class ArcTest : public ::testing::TestWithParam<ArcCase> {};

TEST_P(ArcTest, RayFollowsCircleWithSnellInvariantAndTravelTime) {
  const ArcCase& param = GetParam();
  const std::vector<RayState> states =
      trace_arc(param.step, static_cast<std::uint64_t>(2000.0f / param.step), param.method);
  double worst_radius = 0.0, worst_snell = 0.0, worst_time = 0.0;
  for (std::size_t i = 1; i < states.size(); ++i) {
    const RayState& state = states[i];
    ASSERT_EQ(state.n_surface + state.n_bottom, 0u);
    const double dx = state.pos.x - kCentreX;
    const double dz = state.pos.z - kCentreZ;
    worst_radius = std::fmax(worst_radius, std::abs(std::hypot(dx, dz) / kRadius - 1.0));
    const double c = kSurfaceC + kG * state.pos.z;
    worst_snell = std::fmax(worst_snell, std::abs(c * norm(state.slowness) - 1.0));
    // d tau = d theta / (g cos theta): tau = (asinh(tan theta0) - asinh(tan theta)) / g, with the
    // tangent angle taken from the position on the circle
    const double theta = std::asin((kCentreX - state.pos.x) / kRadius);
    const double tau = (std::asinh(std::tan(kTheta0)) - std::asinh(std::tan(theta))) / kG;
    worst_time = std::fmax(worst_time, std::abs(state.tau / tau - 1.0));
  }
  EXPECT_LT(worst_radius, param.radius_tol);
  EXPECT_LT(worst_snell, param.snell_tol);
  EXPECT_LT(worst_time, param.time_tol);
  // the arc has passed its deepest point and climbs again
  EXPECT_LT(states.back().pos.z, kSourceZ);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ArcTest,
    ::testing::Values(ArcCase{IntegrationMethod::Euler, 1.0f, 3e-4, 1.5e-4, 4e-4},
                      ArcCase{IntegrationMethod::Rk2, 1.0f, 1e-6, 1e-6, 1e-5},
                      ArcCase{IntegrationMethod::Rk2, 20.0f, 2e-5, 5e-6, 5e-5}));

// The dynamic ray equations along the arc. Out of the plane of the ray, Q22 is the integral of c
// along the ray, which is r c0 / cos(theta0) at horizontal range r. In the plane, Q11 is c0 times
// the distance between neighbouring arcs per radian of launch angle, measured across the ray:
// the derivative of the closed-form arc point with respect to theta0.
TEST(DynamicRays, QFollowsItsClosedFormInALinearGradient) {
  const std::vector<RayState> states = trace_arc(5.0f, 400, IntegrationMethod::Rk2);
  double s = 0.0;
  for (std::size_t i = 1; i < states.size(); ++i) {
    const RayState& state = states[i];
    s += norm(state.pos - states[i - 1].pos);
    const double q22 = state.pos.x * kC0 / std::cos(kTheta0);
    EXPECT_NEAR(state.q2.y / q22, 1.0, 1e-4) << "state " << i;
    // x and z of the arc launched at theta0 + d, after arc length s
    const auto point = [s](double d) {
      const double r = kC0 / (kG * std::cos(kTheta0 + d));
      const double theta = kTheta0 + d - s / r;
      return std::array<double, 2>{r * std::sin(kTheta0 + d) - r * std::sin(theta),
                                   kCentreZ + r * std::cos(theta)};
    };
    constexpr double kD = 1e-6;
    const std::array<double, 2> ahead = point(kD), behind = point(-kD);
    const double theta = kTheta0 - s / (kC0 / (kG * std::cos(kTheta0)));
    const double dx = (ahead[0] - behind[0]) / (2 * kD), dz = (ahead[1] - behind[1]) / (2 * kD);
    // across the tangent (cos theta, sin theta) of the arc
    const double q11 = kC0 * std::abs(dx * std::sin(theta) - dz * std::cos(theta));
    EXPECT_NEAR(std::abs(state.q1.x) / q11, 1.0, 1e-3) << "state " << i;
    EXPECT_NEAR(state.q1.y, 0.0f, 1e-3f * q11);
    EXPECT_NEAR(state.q2.x, 0.0f, 1e-3f * q22);
  }
}

// For the point-source start (Q = 0, P = I) the dynamic ray system keeps P^T Q symmetric, in any
// medium: p1 . q2 = p2 . q1 along the whole ray. The ocean here curves the sound speed in every
// direction, cross terms included.
TEST(DynamicRays, PointSourceSolutionKeepsPTransposeQSymmetric) {
  const SSPFields ssp =
      make_ssp(linspace(-1e4f, 1e4f, 21), linspace(-1e4f, 1e4f, 21), linspace(0.0f, 5000.0f, 21),
               [](float x, float y, float z) {
                 return SSPSample{.c = 1500.0f + 0.02f * z + 2e-6f * x * y + 1e-6f * x * x +
                                       3e-6f * (z - 2000.0f) * (z - 2000.0f) + 1e-6f * y * z,
                                  .c_x = 2e-6f * y + 2e-6f * x,
                                  .c_y = 2e-6f * x + 1e-6f * z,
                                  .c_z = 0.02f + 6e-6f * (z - 2000.0f) + 1e-6f * y,
                                  .c_xx = 2e-6f,
                                  .c_zz = 6e-6f,
                                  .c_xy = 2e-6f,
                                  .c_yz = 1e-6f};
               });
  for (const IntegrationMethod method : {IntegrationMethod::Euler, IntegrationMethod::Rk2}) {
    const std::vector<RayState> states =
        trace({0, 0, 2000}, 20.0f, 300, 9000.0f, method, ssp, kDeepBottom, 0.6f, 0.1f);
    for (const RayState& st : states) {
      ASSERT_EQ(st.n_surface + st.n_bottom, 0u);
      const double p1q2 = st.p1.x * st.q2.x + st.p1.y * st.q2.y;
      const double p2q1 = st.p2.x * st.q1.x + st.p2.y * st.q1.y;
      // single-precision steps keep the two products equal to about 1e-5 of their size
      EXPECT_LE(std::abs(p1q2 - p2q1), 1e-4 * (std::abs(p1q2) + std::abs(p2q1)) + 1e-6);
    }
    EXPECT_GT(std::abs(states.back().q1.y), 1.0f);  // the cross terms couple the two columns
  }
}

// Homogeneous water with sound-speed planes every 250 m and bathymetry lines every 300 m over a
// flat bottom at 5000 m.
const SSPFields kGriddedSsp = make_ssp(linspace(-5000.0f, 5000.0f, 41),
                                       linspace(-5000.0f, 5000.0f, 41), linspace(0.0f, 6000.0f, 25),
                                       [](float, float, float) { return SSPSample{.c = 1500.0f}; });
const BTYfield kGriddedBottom =
    make_bty(linspace(-6000.0f, 6000.0f, 41), linspace(-6000.0f, 6000.0f, 41),
             [](float, float) { return 5000.0f; });

TEST(TraceRay, StopsOnFirstStateBeyondRange) {
  const float step = 30.0f;
  const float range = 1000.0f;
  const std::vector<RayState> states =
      trace({0, 0, 1000}, step, 100000, range, IntegrationMethod::Euler, kGriddedSsp,
            kGriddedBottom, 0.7f, 0.0f);
  ASSERT_GE(states.size(), 3u);
  const auto horizontal = [](Vec3 p) { return std::hypot(p.x, p.y); };
  EXPECT_LT(horizontal(states[states.size() - 2].pos), range);
  EXPECT_GE(horizontal(states.back().pos), range);
  EXPECT_LE(horizontal(states.back().pos), range + step);
}

// A cut-off ends a ray at the bottom reflection that takes it below (a rigid bottom reflects
// |R| = 1); without frequencies there is nothing to weigh, and the vertical ray bounces for its
// whole budget, staying finite where its frame is singular.
TEST(TraceRay, CutOffEndsTheRayAtTheReflectionThatTakesItBelow) {
  const BeamSettings beam{
      .step_m = 100.0f, .max_steps = 500, .max_range_m = 1e4f, .min_amplitude = 1.5f};
  Model model = tracer_model({0, 0, 1000}, beam, kGriddedSsp, kGriddedBottom);
  const Launch down{0.0f, 90 * 0.017453292f};
  model.omegas = {628.3f};
  RayTrace trace;
  trace_ray(down, model, trace);
  EXPECT_EQ(trace.states.back().n_bottom, 1u);
  EXPECT_TRUE(trace.bottom_hits.states == std::vector<std::size_t>{trace.states.size() - 1});
  model.omegas.clear();
  trace_ray(down, model, trace);
  const std::vector<RayState>& states = trace.states;
  ASSERT_EQ(states.size(), 501u);
  EXPECT_EQ(trace.bottom_hits.states.size(), states.back().n_bottom);
  EXPECT_TRUE(states.back().n_surface > 0u && states.back().n_bottom > 0u);
  for (const RayState& state : states) {
    ASSERT_TRUE(std::isfinite(state.pos.z) && std::isfinite(state.p1.x) &&
                std::isfinite(state.phi));
  }
}

// Regression: the first step up from a source on the surface in a steep gradient was moved back
// to before the source, with a travel time below zero.
TEST(TraceRay, TravelTimeNeverFallsBelowZeroFromASourceOnTheSurface) {
  const SSPFields ssp = make_ssp(
      {-2000.0f, 2000.0f}, {-2000.0f, 2000.0f}, {0.0f, 0.5f, 1.0f},
      [](float, float, float z) { return SSPSample{.c = 1400.0f + 188.0f * z, .c_z = 188.0f}; });
  const std::vector<RayState> states = trace({0, 0, 0}, 11.0f, 4, 50.0f, IntegrationMethod::Euler,
                                             ssp, kGriddedBottom, 0.0f, -70.0f * 0.017453292f);
  EXPECT_GT(states[1].n_surface, 0u);
  for (const RayState& state : states) EXPECT_GE(state.tau, 0.0f);
}

// Whether two states hold the same bits in every field a step writes.
bool same_bits(const RayState& a, const RayState& b) {
  const auto bits = [](const RayState& s) {
    const float fields[] = {s.pos.x, s.pos.y, s.pos.z, s.slowness.x, s.slowness.y, s.slowness.z,
                            s.phi,   s.tau,   s.phase, s.p1.x,       s.p1.y,       s.q1.x,
                            s.q1.y,  s.p2.x,  s.p2.y,  s.q2.x,       s.q2.y,       s.c};
    return std::bit_cast<std::array<std::uint32_t, std::size(fields)>>(fields);
  };
  return bits(a) == bits(b) && a.n_surface == b.n_surface && a.n_bottom == b.n_bottom;
}

// Whether two traces hold the same states, bit for bit, and the same bottom hits.
bool same_trace(const RayTrace& a, const RayTrace& b) {
  if (a.states.size() != b.states.size() || a.bottom_hits.states != b.bottom_hits.states) {
    return false;
  }
  for (std::size_t i = 0; i < a.states.size(); ++i) {
    if (!same_bits(a.states[i], b.states[i])) return false;
  }
  return true;
}

// Straight runs through uniform cells, and steps that leave out a bottom far below, take the steps
// of the general loop with the bottom evaluated after every step, bit for bit: in uniform and
// sloped sound-speed cells, over level, sloping and steep bathymetry cells, through grid planes,
// bounces, a vertical ray, the range limit and the step budget, under the flat surface and a shaped
// one. Rays traced side by side, in groups
// of four to one that end at different steps, take the steps each takes alone, cut-off included.
TEST(TraceRay, StraightRunsTakeTheStepsOfTheGeneralLoop) {
  // uniform for x < 2000 m; beyond, a cell whose far corners are faster and sloped
  const SSPFields ssp = make_ssp(linspace(-6000.0f, 6000.0f, 4), linspace(-6000.0f, 6000.0f, 4),
                                 {-20.0f, 30.0f, 100.0f}, [](float x, float, float) {
                                   return x > 3000.0f ? SSPSample{.c = 1540.0f, .c_x = 0.01f}
                                                      : SSPSample{.c = 1500.0f};
                                 });
  // level for x < 1000 m, shoaling beyond; the grid reaches above the surface
  const BTYfield bty = make_bty(
      linspace(-6000.0f, 6000.0f, 13), linspace(-6000.0f, 6000.0f, 13),
      [](float x, float) { return x < 1000.0f ? 100.0f : 100.0f - 0.005f * (x - 1000.0f); });
  // deep, curved water with a gradient everywhere, over ridges that slope 0.5 along x and y
  const SSPFields deep_ssp = make_ssp(
      linspace(-6000.0f, 6000.0f, 4), linspace(-6000.0f, 6000.0f, 4), {0.0f, 500.0f, 1500.0f},
      [](float x, float, float z) {
        const float d = z - 600.0f;
        return SSPSample{
            1480.0f + 2e-4f * x + 1e-5f * d * d, 2e-4f, 0.0f, 2e-5f * d, 0.0f, 0.0f, 2e-5f};
      });
  const BTYfield deep_bty = make_bty(
      linspace(-6000.0f, 6000.0f, 25), linspace(-6000.0f, 6000.0f, 25),
      [](float x, float y) { return 700.0f + std::abs(std::fmod(x + y, 1000.0f)) * 0.5f; });
  // both again under a rippled surface, 2 m crest to trough about z = -1 m
  const HeightGrid ripples =
      make_bty(linspace(-6000.0f, 6000.0f, 121), linspace(-6000.0f, 6000.0f, 121),
               [](float x, float y) { return std::sin(x / 300.0f) * std::cos(y / 500.0f) - 1.0f; })
          .grid;
  const auto under_ripples = [&ripples](Model model) {
    model.surface = ripples;
    return model;
  };
  RayTrace runs;
  RayTrace steps;
  const auto beam = [](float step_m) {
    return BeamSettings{.step_m = step_m, .max_steps = 700, .max_range_m = 5000.0f};
  };
  const Model shallow = tracer_model({0.0f, 0.0f, 50.0f}, beam(10.0f), ssp, bty);
  const Model deep = tracer_model({0.0f, 0.0f, 300.0f}, beam(50.0f), deep_ssp, deep_bty);
  for (Model model : {shallow, deep, under_ripples(shallow), under_ripples(deep)}) {
    Model unbounded = model;  // the bottom and the surface evaluated after every step
    unbounded.bty.grid.shallowest_depth = -std::numeric_limits<float>::infinity();
    if (unbounded.surface)
      unbounded.surface->deepest_depth = std::numeric_limits<float>::infinity();
    for (const IntegrationMethod method : {IntegrationMethod::Rk2, IntegrationMethod::Euler}) {
      model.beam.integration_method = method;
      unbounded.beam.integration_method = method;
      Model cut = model;  // a rigid bottom reflects |R| = 1: the first hit ends the ray
      cut.beam.min_amplitude = 1.5f;
      cut.omegas = {628.3f};
      std::vector<Launch> launches;
      std::vector<RayTrace> alone;
      for (const float azimuth : {0.3f, 1.2f, 1.5707964f, 2.0f, 3.6f, 4.5f}) {
        for (const float elevation : {-0.7f, -0.2f, -0.02f, 0.0f, 0.05f, 0.4f, 1.0f, 1.5707964f}) {
          SCOPED_TRACE(::testing::Message() << "step " << model.beam.step_m << " azimuth "
                                            << azimuth << " elevation " << elevation);
          const Launch launch{azimuth, elevation};
          trace_ray(launch, model, runs);
          testing::trace_ray_step_by_step(launch, unbounded, steps);
          ASSERT_TRUE(same_trace(runs, steps));
          trace_ray(launch, (launches.size() % 2 == 0 ? cut : model), runs);
          alone.push_back(runs);
          launches.push_back(launch);
        }
      }
      RayTrace lists[kSideBySideRays];
      RayTrace* const traces[] = {&lists[0], &lists[1], &lists[2], &lists[3]};
      for (const Model* group_model : {&model, &cut}) {
        for (std::size_t first = group_model == &cut ? 0 : 1, count = 4; first < alone.size();
             first += 2 * count) {
          // 1, 2, 3, 4 rays, each traced alone with the same model
          count = std::min(1 + (first / 8) % 4, (alone.size() - first + 1) / 2);
          Launch group[kSideBySideRays];
          for (std::size_t j = 0; j < count; ++j) group[j] = launches[first + 2 * j];
          trace_rays({group, count}, *group_model, {traces, count});
          for (std::size_t j = 0; j < count; ++j) {
            ASSERT_TRUE(same_trace(lists[j], alone[first + 2 * j])) << "ray " << first + 2 * j;
          }
        }
      }
    }
  }
  EXPECT_TRUE(traces_side_by_side(deep.beam, deep.ssp));
  RayTrace* const two[] = {&runs, &steps};
  const Launch launches[] = {{0.0f, 0.0f}, {0.0f, 0.0f}};
  EXPECT_THROW(trace_rays({launches, 1}, deep, two), Fault);
}

}  // namespace
}  // namespace abyx
