#include "rays/ray_equations.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "common/ray_state.h"
#include "rays/ocean_fixtures.h"

namespace abyx {
namespace {

using testing::linspace;
using testing::make_ssp;

constexpr float kUnitTol = 1e-6f;        // components of unit vectors
constexpr float kDerivativeTol = 1e-6f;  // relative, derivatives from closed forms
constexpr float kC = 1500.0f;            // m/s

bool finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool finite(Vec2 v) { return std::isfinite(v.x) && std::isfinite(v.y); }

// A slowness of magnitude 1/c along the direction d.
Vec3 slowness_along(Vec3 d, float c) { return (1.0f / (c * norm(d))) * d; }

// Rotated, and exactly vertical, where the +y fallback keeps the frame finite.
TEST(RayBasis, IsRightHandedOrthonormalFrameAroundTangent) {
  const std::pair<Vec3, float> cases[] = {
      {{-0.2f, 0.1f, -0.9f}, -2.5f}, {{0.0f, 0.0f, -1.0f}, 0.0f}, {{0.0f, 0.0f, 1.0f}, 1.1f}};
  for (const auto& [direction, phi] : cases) {
    SCOPED_TRACE(phi);
    const Vec3 p = slowness_along(direction, kC);
    const Vec3 t = kC * p;
    const RayBasis basis = ray_basis(p, kC, phi);
    ASSERT_TRUE(finite(basis.e1) && finite(basis.e2));
    EXPECT_NEAR(dot(basis.e1, basis.e1), 1.0f, kUnitTol);
    EXPECT_NEAR(dot(basis.e2, basis.e2), 1.0f, kUnitTol);
    EXPECT_NEAR(dot(basis.e1, basis.e2), 0.0f, kUnitTol);
    EXPECT_NEAR(dot(basis.e1, t), 0.0f, kUnitTol);
    EXPECT_NEAR(dot(basis.e2, t), 0.0f, kUnitTol);
    EXPECT_LT(norm(cross(basis.e1, basis.e2) - t), kUnitTol);  // right-handed
  }
}

// A state is finite while its position, slowness, travel time and sound speed are, whatever its
// other fields hold.
TEST(RayState, IsFiniteWhereItsPositionSlownessTravelTimeAndSpeedAre) {
  for (const float value :
       {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN()}) {
    RayState state;
    state.phi = state.phase = state.p1.x = state.q2.y = value;
    EXPECT_TRUE(is_finite_state(state));
    for (int field = 0; field < 8; ++field) {
      RayState broken;
      float* const fields[] = {&broken.pos.x,      &broken.pos.y,      &broken.pos.z,
                               &broken.slowness.x, &broken.slowness.y, &broken.slowness.z,
                               &broken.tau,        &broken.c};
      *fields[field] = value;
      EXPECT_FALSE(is_finite_state(broken)) << field << " " << value;
    }
  }
}

// A field with constant gradient and Hessian around c = 1500 m/s; the node values need not form a
// consistent field for the derivative formulas to be checked.
SSPFields constant_derivative_field(const SSPSample& sample) {
  return make_ssp(linspace(-1000.0f, 1000.0f, 2), linspace(-1000.0f, 1000.0f, 2),
                  linspace(0.0f, 2000.0f, 3), [sample](float, float, float) { return sample; });
}

RayState state_at(Vec3 pos, Vec3 slowness) {
  RayState state;
  state.pos = pos;
  state.slowness = slowness;
  state.c = kC;
  return state;
}

struct CurvatureCase {
  Vec3 direction;       // horizontal direction of travel
  float c11, c12, c22;  // expected curvature matrix in the unrotated basis (1/(m s))
};

class CurvatureTest : public ::testing::TestWithParam<CurvatureCase> {};

TEST_P(CurvatureTest, DpIsMinusCurvatureTimesQOverCSquared) {
  // the Hessian alone: c_xx, c_yy, c_zz, c_xy, c_xz, c_yz
  const SSPFields ssp = constant_derivative_field(
      {kC, 0.0f, 0.0f, 0.0f, 2e-3f, 3e-3f, 5e-3f, 7e-4f, 1.1e-3f, 1.3e-3f});
  RayState state = state_at({10.0f, 20.0f, 500.0f}, slowness_along(GetParam().direction, kC));
  state.q1 = {1.0f, 0.0f};  // Q = I picks the columns of -C / c^2
  state.q2 = {0.0f, 1.0f};
  SSPCursor cursor = init_ssp_cursor(state.pos, ssp);
  const RayDerivatives k = compute_ray_derivatives(state, ssp, cursor);
  const float c2 = kC * kC;
  const float tol = kDerivativeTol * 1e-2f / c2;
  EXPECT_NEAR(k.dp1.x, -GetParam().c11 / c2, tol);
  EXPECT_NEAR(k.dp1.y, -GetParam().c12 / c2, tol);
  EXPECT_NEAR(k.dp2.x, -GetParam().c12 / c2, tol);
  EXPECT_NEAR(k.dp2.y, -GetParam().c22 / c2, tol);
}

// Along +x the basis is e1 = (0, 0, -1), e2 = (0, 1, 0); along +y it is e1 = (0, 0, -1),
// e2 = (-1, 0, 0).
INSTANTIATE_TEST_SUITE_P(
    HorizontalRays, CurvatureTest,
    ::testing::Values(CurvatureCase{{1.0f, 0.0f, 0.0f}, 5e-3f, -1.3e-3f, 3e-3f},
                      CurvatureCase{{0.0f, 1.0f, 0.0f}, 5e-3f, 1.1e-3f, 2e-3f}));

TEST(ComputeRayDerivatives, ExactlyVerticalRayStaysFinite) {
  const SSPFields ssp = constant_derivative_field(
      {.c = kC, .c_x = 0.02f, .c_y = -0.03f, .c_z = 0.05f, .c_xx = 1e-3f, .c_xz = 2e-3f});
  RayState state = state_at({0.0f, 0.0f, 700.0f}, {0.0f, 0.0f, 1.0f / kC});
  state.q1 = {3.0f, 1.0f};
  state.q2 = {-1.0f, 2.0f};
  SSPCursor cursor = init_ssp_cursor(state.pos, ssp);
  const RayDerivatives k = compute_ray_derivatives(state, ssp, cursor);
  EXPECT_EQ(k.dphi, 0.0f);
  EXPECT_TRUE(finite(k.dp1) && finite(k.dp2) && finite(k.dq1) && finite(k.dq2));
  std::vector<RayState> states{state};
  euler_step(states, k, 10.0f);
  const RayState& next = states.back();
  EXPECT_TRUE(finite(next.pos) && finite(next.slowness) && finite(next.p1) && finite(next.p2));
  EXPECT_EQ(next.phi, 0.0f);
}

// Uniform at 1500 m/s down to 1000 m, then 1600 m/s at the 2000 m nodes: in the upper cell a ray
// is straight and its midpoint needs no second look, but a midpoint below 1000 m does.
TEST(Rk2Step, IsStraightInAUniformCellAndEvaluatesAMidpointInTheNext) {
  const SSPFields ssp = make_ssp(
      linspace(-1000.0f, 1000.0f, 2), linspace(-1000.0f, 1000.0f, 2), linspace(0.0f, 2000.0f, 3),
      [](float, float, float z) { return SSPSample{.c = z > 1500.0f ? 1600.0f : kC}; });
  const float h = 40.0f;
  for (const float z : {500.0f, 990.0f}) {
    SCOPED_TRACE(z);
    RayState state = state_at({10.0f, -20.0f, z}, slowness_along({0.6f, 0.3f, 0.5f}, kC));
    state.p1 = {2e-4f, -1e-4f};
    state.q1 = {3.0f, 1.0f};
    SSPCursor cursor = init_ssp_cursor(state.pos, ssp);
    std::vector<RayState> states{state};
    rk2_step(states, compute_ray_derivatives(state, ssp, cursor), h, ssp, cursor);
    const RayState& next = states.back();
    const Vec3 mid = state.pos + (0.5f * h) * (kC * state.slowness);
    const float c_mid = mid.z > 1000.0f ? kC + 100.0f * (mid.z - 1000.0f) / 1000.0f : kC;
    EXPECT_NEAR(next.tau, h / c_mid, 2e-8f);  // a tenth of the 1500 and 1500.02 m/s gap
    EXPECT_NEAR(next.q1.x, state.q1.x + h * c_mid * state.p1.x, 1e-6f);
    if (z < 900.0f) {
      EXPECT_EQ(next.pos, state.pos + h * (kC * state.slowness));
      EXPECT_EQ(next.slowness, state.slowness);
      EXPECT_EQ(next.p1, state.p1);
    }
  }
}

// The bits of every derivative, the plane-wave ones only with_plane_wave; every NaN alike, since
// which operand's NaN an operation passes on is the compiler's choice.
std::vector<std::uint32_t> derivative_bits(const RayDerivatives& k, bool with_plane_wave) {
  const float v[] = {k.dp1.x,       k.dp1.y,       k.dq1.x,  k.dq1.y,  k.dp2.x,  k.dp2.y,
                     k.dq2.x,       k.dq2.y,       k.dpos.x, k.dpos.y, k.dpos.z, k.dslowness.x,
                     k.dslowness.y, k.dslowness.z, k.dphi,   k.c,      k.dp1w.x, k.dp1w.y,
                     k.dq1w.x,      k.dq1w.y,      k.dp2w.x, k.dp2w.y, k.dq2w.x, k.dq2w.y};
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < (with_plane_wave ? std::size(v) : 16); ++i) {
    out.push_back(std::isnan(v[i]) ? 0x7fc00000u : std::bit_cast<std::uint32_t>(v[i]));
  }
  return out;
}

// Along a straight run through a uniform cell, the carried derivatives are those worked out whole
// at every state, bit for bit, signed zeros of P, Q and the slowness included.
TEST(FollowStraightRun, GivesTheDerivativesOfTheNextStateBitForBit) {
  const SSPFields ssp =
      make_ssp(linspace(-1000.0f, 1000.0f, 2), linspace(-1000.0f, 1000.0f, 2),
               linspace(0.0f, 2000.0f, 2), [](float, float, float) { return SSPSample{.c = kC}; });
  const auto bits = [](const RayDerivatives& k) { return derivative_bits(k, true); };
  const SSPCursor cursor = init_ssp_cursor({0.0f, 0.0f, 500.0f}, ssp);
  const float zeros[] = {0.0f, -0.0f, 2.5f, -1.5f};
  for (const Vec3 slowness : {slowness_along({0.6f, -0.3f, 0.5f}, kC), Vec3{-0.0f, 0.0f, 1.0f / kC},
                              Vec3{0.0f, -1.0f / kC, -0.0f}}) {
    RayState start = state_at({10.0f, -20.0f, 500.0f}, slowness);
    start.phi = -0.0f;
    RayDerivatives k = compute_ray_derivatives_in_cell<true>(start, ssp, cursor);
    for (const float a : zeros) {
      for (const float b : zeros) {
        RayState state = start;
        state.pos = {-300.0f, 400.0f, 1200.0f};
        state.phi = 0.0f;
        state.p1 = {a, b};
        state.q1 = {b, a};
        state.p2 = {b, -a};
        state.q2 = {-b, a};
        state.p1w = {-a, b};
        state.q1w = {a, -b};
        state.p2w = {-b, -a};
        state.q2w = {b, b};
        follow_straight_run<true>(state, k);
        EXPECT_EQ(bits(k), bits(compute_ray_derivatives_in_cell<true>(state, ssp, cursor)))
            << a << " " << b;
      }
    }
  }
}

// Four states side by side take the derivatives each takes alone, bit for bit, whatever shares
// their lanes: in uniform and curved cells, at rotation angles of zero (of either sign) and not,
// vertical, with signed zeros in the slowness, beyond the grid and where the state is not finite.
void expect_four_lanes_give_each_state_its_derivatives(const SSPFields& ssp) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Vec3 positions[] = {{-1500.0f, 300.0f, 200.0f},
                            {700.0f, -900.0f, 1200.0f},
                            {1999.0f, 1999.0f, 1999.0f},
                            {2500.0f, -2600.0f, -100.0f},  // beyond the grid, where t is clamped
                            {nan, 0.0f, 500.0f}};
  const Vec3 slownesses[] = {slowness_along({0.6f, -0.3f, 0.5f}, kC),
                             {0.0f, 0.0f, 1.0f / kC},
                             {-0.0f, 1.0f / kC, 0.0f},
                             {1.0f / kC, -0.0f, -0.0f},
                             {inf, 0.0f, 0.0f}};
  const float phis[] = {0.0f, -0.0f, 0.7f, -2.5f, nan};
  std::vector<RayState> states;
  std::vector<SSPCursor> cells;
  for (const Vec3 pos : positions) {
    for (const Vec3 slowness : slownesses) {
      for (const float phi : phis) {
        RayState state = state_at(pos, slowness);
        state.phi = phi;
        const float f = static_cast<float>(states.size());
        state.p1 = {1e-4f * f, -0.0f};
        state.q1 = {0.0f, 3.0f - f};
        state.p2 = {-2e-4f, 1e-5f * f};
        state.q2 = {f, -1.0f};
        states.push_back(state);
        SSPCursor cell = init_ssp_cursor(pos, ssp);
        update_ssp_cursor(pos, ssp, cell);
        cells.push_back(cell);
      }
    }
  }
  // lanes filled from states 0, 1, 2, 3, then 1, 4, 7, 10, and so on
  const std::size_t n = states.size();
  for (std::size_t stride = 1; stride <= 3; ++stride) {
    for (std::size_t first = 0; first < n; ++first) {
      const RayState* lanes[4];
      const SSPCursor* lane_cells[4];
      for (std::size_t j = 0; j < 4; ++j) {
        lanes[j] = &states[(first + j * stride) % n];
        lane_cells[j] = &cells[(first + j * stride) % n];
      }
      RayDerivatives k[4];
      compute_ray_derivatives_in_cells_x4(lanes, lane_cells, ssp, k);
      for (std::size_t j = 0; j < 4; ++j) {
        const std::size_t i = (first + j * stride) % n;
        ASSERT_EQ(derivative_bits(k[j], false),
                  derivative_bits(compute_ray_derivatives_in_cell(states[i], ssp, cells[i]), false))
            << "state " << i;
      }
    }
  }
}

// Two grids, one of them flat along y.
TEST(FourLanes, GiveTheDerivativesOfEachStateBitForBit) {
  const auto field = [](float x, float y, float z) {
    if (x < 1000.0f && z < 1500.0f) return SSPSample{.c = kC};
    const float c = kC + 0.01f * x - 0.02f * y + 0.03f * z;
    return SSPSample{c, 0.01f, -0.02f, 0.03f, 1e-5f, 2e-5f, -3e-5f, 4e-6f, -5e-6f, 6e-6f};
  };
  // the same field on a grid with a single y node, which takes all the weight along y
  for (const SSPFields& ssp :
       {make_ssp(linspace(-2000.0f, 2000.0f, 3), linspace(-2000.0f, 2000.0f, 3),
                 linspace(0.0f, 2000.0f, 3), field),
        make_ssp(linspace(-2000.0f, 2000.0f, 3), {0.0f}, linspace(0.0f, 2000.0f, 3), field)}) {
    expect_four_lanes_give_each_state_its_derivatives(ssp);
  }
}

}  // namespace
}  // namespace abyx
