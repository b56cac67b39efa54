#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/float4_math.h"
#include "common/ray_state.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// Right-hand side of the kinematic and dynamic ray equations at the state's position; moves the
// cursor to that position. With kPlaneWave the plane-wave solution's derivatives are worked out
// too; without, they are left unset and the plane-wave columns are not advanced.
template <bool kPlaneWave = false>
inline RayDerivatives compute_ray_derivatives(const RayState& state, const SSPFields& ssp,
                                              SSPCursor& cursor);

// The same derivatives for a cursor that already holds the cell of the state's position; the
// cursor is not moved (walking it there again would not move it either).
template <bool kPlaneWave = false>
inline RayDerivatives compute_ray_derivatives_in_cell(const RayState& state, const SSPFields& ssp,
                                                      const SSPCursor& cursor);

// The geometric derivatives of four states side by side, one per vector lane, each with a cursor
// that already holds the cell of its position: out[j] equals
// compute_ray_derivatives_in_cell(*states[j], ssp, *cursors[j]) bit for bit in every field but the
// plane-wave ones, which are left as they are: both take the equations of detail::lane_kinematics,
// here with a state to a lane.
inline void compute_ray_derivatives_in_cells_x4(const RayState* const states[4],
                                                const SSPCursor* const cursors[4],
                                                const SSPFields& ssp, RayDerivatives out[4]);

// The derivatives k of a state in a uniform cell (one sound speed, no slope), carried to the next
// state of a straight run through it: the slowness does not change there (its derivative is zero),
// so the tangent, the slowness derivative and the rotation rate stay as they are, and only dP/ds
// and dQ/ds follow the state's Q and P. For k worked out at a finite rotation angle with a finite,
// positive sound speed, this equals compute_ray_derivatives_in_cell at the next state, bit for
// bit.
template <bool kPlaneWave = false>
inline void follow_straight_run(const RayState& state, RayDerivatives& k);

// First-order step of length h (m) from the last state of a ray, with its derivatives k: appends
// the new state. Without kPlaneWave the plane-wave columns of the new state keep their launch
// values.
template <bool kPlaneWave = false>
inline void euler_step(std::vector<RayState>& states, const RayDerivatives& k, float h);

// Explicit midpoint step of length h (m) from the last state, appended as by euler_step: k1 are the
// derivatives of that state; the midpoint is evaluated on a copy of the tracing cursor, which
// itself is not moved. With kUniformCells (for grids that have uniform cells) a midpoint in the
// uniform cell of the start takes k1 without evaluating anything: the same derivatives.
template <bool kPlaneWave = false, bool kUniformCells = true>
inline void rk2_step(std::vector<RayState>& states, const RayDerivatives& k1, float h,
                     const SSPFields& ssp, const SSPCursor& cursor);

// A midpoint step under way: its length, and its midpoint with the cell of it.
struct MidpointStep {
  float h = 0.0f;      // (m)
  RayState mid;        // the state half way, when it needs derivatives of its own
  SSPCursor mid_cell;  // the cell of its position
};

// Which derivatives carry a midpoint step from its start to its end.
enum class MidpointDerivatives { Own, Start };

// The midpoint of a step of step.h (m) from `start`, whose derivatives are k1 and whose cell the
// tracing cursor holds: step.mid_cell walked there from a copy of the cursor, and step.mid the
// state there, when it needs derivatives of its own (the step ends with them). With kUniformCells
// a midpoint in the uniform cell of the start needs none: the step ends with k1, mid is not built.
template <bool kPlaneWave, bool kUniformCells>
[[gnu::always_inline]] inline MidpointDerivatives place_midpoint(const RayState& start,
                                                                 const RayDerivatives& k1,
                                                                 const SSPFields& ssp,
                                                                 const SSPCursor& cursor,
                                                                 MidpointStep& step);

// The equations are evaluated once or twice per ray step, so they are defined here, where the
// tracing loop can inline them.
namespace detail {

// Below this squared horizontal slowness (s^2/m^2) the ray is treated as vertical and its basis
// does not rotate.
inline constexpr float kMinHorizontalSlowness2 = 1e-12f;

// H * v for the symmetric Hessian of the sample.
inline Vec3 hessian_times(const SSPSample& s, Vec3 v) {
  return {s.c_xx * v.x + s.c_xy * v.y + s.c_xz * v.z, s.c_xy * v.x + s.c_yy * v.y + s.c_yz * v.z,
          s.c_xz * v.x + s.c_yz * v.y + s.c_zz * v.z};
}

// Calls make with the fields, in declaration order, of the state advanced from `state` by h with
// the derivatives k: every integrated field advanced, the bookkeeping fields copied, the sound
// speed of k, and the plane-wave columns advanced only with kPlaneWave (else at their launch
// values). Handing make the fields lets it build the new state where it is to stay, from values all
// worked out first: without default values written before them, nor a temporary copied whole. It
// runs once or twice a step, so it is always inlined, not called through the module's symbol table.
template <bool kPlaneWave, class Make>
[[gnu::always_inline]] inline decltype(auto) with_advanced_fields(const RayState& state,
                                                                  const RayDerivatives& k, float h,
                                                                  Make&& make) {
  constexpr RayState kLaunch{};  // the launch values of the plane-wave columns
  return make(state.pos + h * k.dpos, state.slowness + h * k.dslowness, state.phi + h * k.dphi,
              state.tau + h / k.c, float{state.phase}, std::uint32_t{state.n_surface},
              std::uint32_t{state.n_bottom}, state.p1 + h * k.dp1, state.q1 + h * k.dq1,
              state.p2 + h * k.dp2, state.q2 + h * k.dq2, float{k.c},
              kPlaneWave ? state.p1w + h * k.dp1w : kLaunch.p1w,
              kPlaneWave ? state.q1w + h * k.dq1w : kLaunch.q1w,
              kPlaneWave ? state.p2w + h * k.dp2w : kLaunch.p2w,
              kPlaneWave ? state.q2w + h * k.dq2w : kLaunch.q2w);
}

// The state advanced by h from `state` with the derivatives k.
template <bool kPlaneWave>
inline RayState advanced(const RayState& state, const RayDerivatives& k, float h) {
  return with_advanced_fields<kPlaneWave>(state, k, h, [](auto&&... fields) {
    return RayState{std::forward<decltype(fields)>(fields)...};
  });
}

// Appends to the ray the state advanced by h from its last one with the derivatives k.
template <bool kPlaneWave>
[[gnu::always_inline]] inline void append_advanced(std::vector<RayState>& states,
                                                   const RayDerivatives& k, float h) {
  with_advanced_fields<kPlaneWave>(states.back(), k, h, [&](auto&&... fields) {
#if defined(__cpp_aggregate_paren_init)  // g++ 10, clang 16: the state built in its slot
    states.emplace_back(std::forward<decltype(fields)>(fields)...);
#else
    states.push_back(RayState{std::forward<decltype(fields)>(fields)...});
#endif
  });
}

// One column (q, p) of Q and P, of one ray or of four side by side.
template <class L>
struct LaneColumn {
  L q_x, q_y, p_x, p_y;
};

// Its derivative: dP/ds = A Q with A = -(1/c^2) C, given as a11, a12, a22, and dQ/ds = c P.
template <class L>
struct LaneColumnRates {
  L dp_x, dp_y, dq_x, dq_y;
};
template <class L>
struct DynamicMatrix {
  L a11, a12, a22, c;
};
template <class L>
[[gnu::always_inline]] inline LaneColumnRates<L> column_rates(const DynamicMatrix<L>& a,
                                                              const LaneColumn<L>& col) {
  return {a.a11 * col.q_x + a.a12 * col.q_y, a.a12 * col.q_x + a.a22 * col.q_y, a.c * col.p_x,
          a.c * col.p_y};
}

// column_rates of the column (q, p) of a state, into dp and dq.
[[gnu::always_inline]] inline void set_column_rates(const DynamicMatrix<float>& a, Vec2 q, Vec2 p,
                                                    Vec2& dp, Vec2& dq) {
  const LaneColumnRates<float> r = column_rates(a, {q.x, q.y, p.x, p.y});
  dp = {r.dp_x, r.dp_y};
  dq = {r.dq_x, r.dq_y};
}

// The dynamic derivatives of every column of the state, with the sound speed of k.
template <bool kPlaneWave>
inline void set_dynamic_derivatives(const RayState& state, float a11, float a12, float a22,
                                    RayDerivatives& k) {
  const DynamicMatrix<float> a{a11, a12, a22, k.c};
  set_column_rates(a, state.q1, state.p1, k.dp1, k.dq1);
  set_column_rates(a, state.q2, state.p2, k.dp2, k.dq2);
  if constexpr (kPlaneWave) {
    set_column_rates(a, state.q1w, state.p1w, k.dp1w, k.dq1w);
    set_column_rates(a, state.q2w, state.p2w, k.dp2w, k.dq2w);
  }
}

// The sound speed and its nine derivatives at the position of one ray (L = float) or of four side
// by side (L = Float4, a ray to a lane), in the order of SSPSample.
template <class L>
struct LaneSample {
  L c, c_x, c_y, c_z, c_xx, c_yy, c_zz, c_xy, c_xz, c_yz;
};

// The slowness (s/m) and the rotation angle (rad) of the rays.
template <class L>
struct LaneDirection {
  L xi, eta, zeta, phi;
};

// The derivatives that do not depend on P and Q, and the matrix A = -(1/c^2) C (a11, a12, a22)
// of dP/ds = A Q.
template <class L>
struct LaneKinematics {
  L dpos_x, dpos_y, dpos_z;
  L dslowness_x, dslowness_y, dslowness_z;
  L dphi, c;
  L a11, a12, a22;
};

// The kinematic derivatives and A of one ray or four side by side, one text for both: where the
// one ray would branch, the lanes work out both sides and keep their own, which is the branch's
// result bit for bit. rotation() gives the sine and cosine of phi in each lane (0 and 1 where phi
// is zero), asked for only when some lane works out a turned basis.
template <class L, class Rotation>
[[gnu::always_inline]] inline LaneKinematics<L> lane_kinematics(const LaneSample<L>& s,
                                                                const LaneDirection<L>& d,
                                                                Rotation&& rotation) {
  using Mask = decltype(L{} == L{});
  const L zero = lane_splat<L>(0.0f);
  const L one = lane_splat<L>(1.0f);
  const L c = s.c;
  const L c2 = c * c;
  LaneKinematics<L> k;
  k.c = c;
  k.dpos_x = c * d.xi;
  k.dpos_y = c * d.eta;
  k.dpos_z = c * d.zeta;
  k.dslowness_x = -s.c_x / c2;
  k.dslowness_y = -s.c_y / c2;
  k.dslowness_z = -s.c_z / c2;
  // the basis turns about the tangent only when the ray has a horizontal direction
  const L rr = d.xi * d.xi + d.eta * d.eta;
  k.dphi = lane_select(rr > lane_splat<L>(kMinHorizontalSlowness2),
                       one / c * d.zeta * (d.eta * s.c_x - d.xi * s.c_y) / rr, zero);
  // Curvature of the sound speed across the ray in the ray-centred basis. Where the sound speed is
  // linear (every second derivative zero, as in isovelocity water) and the basis finite, the
  // curvature is zero whatever the basis, so the basis is not worked out; the zeros may differ
  // in sign from the full products, which no later value can tell apart.
  const Mask linear = lane_and(s.c_xx == zero, s.c_yy == zero, s.c_zz == zero, s.c_xy == zero,
                               s.c_xz == zero, s.c_yz == zero);
  const Mask plain = lane_and(linear, lane_finite(c), lane_finite(d.xi), lane_finite(d.eta),
                              lane_finite(d.zeta), lane_finite(d.phi));
  L c11 = zero, c12 = zero, c22 = zero;
  if (!all_lanes(plain)) {
    const auto [sine, cosine] = rotation();
    // the basis, as ray_basis works it out
    const L p_h = lane_sqrt(rr);
    const Mask horizontal = p_h > zero;
    const L rl = lane_select(horizontal, p_h, one);
    const L hx = lane_select(horizontal, d.xi, zero);
    const L hy = lane_select(horizontal, d.eta, one);
    const Mask level = d.phi == zero;
    const L chz = c * hx * d.zeta;
    const L cyz = c * hy * d.zeta;
    const L cp = -c * p_h;
    const L e1_x = lane_select(level, chz, chz * cosine + hy * sine) / rl;
    const L e1_y = lane_select(level, cyz, cyz * cosine - hx * sine) / rl;
    const L e1_z = lane_select(level, cp, cp * cosine);
    const L e2_x = lane_select(level, -hy, chz * sine - hy * cosine) / rl;
    const L e2_y = lane_select(level, hx, cyz * sine + hx * cosine) / rl;
    const L e2_z = lane_select(level, zero, cp * sine);
    // H e1 and H e2, then the curvature across the ray
    const L h1_x = s.c_xx * e1_x + s.c_xy * e1_y + s.c_xz * e1_z;
    const L h1_y = s.c_xy * e1_x + s.c_yy * e1_y + s.c_yz * e1_z;
    const L h1_z = s.c_xz * e1_x + s.c_yz * e1_y + s.c_zz * e1_z;
    const L h2_x = s.c_xx * e2_x + s.c_xy * e2_y + s.c_xz * e2_z;
    const L h2_y = s.c_xy * e2_x + s.c_yy * e2_y + s.c_yz * e2_z;
    const L h2_z = s.c_xz * e2_x + s.c_yz * e2_y + s.c_zz * e2_z;
    c11 = lane_select(plain, zero, e1_x * h1_x + e1_y * h1_y + e1_z * h1_z);
    c12 = lane_select(plain, zero, e1_x * h2_x + e1_y * h2_y + e1_z * h2_z);
    c22 = lane_select(plain, zero, e2_x * h2_x + e2_y * h2_y + e2_z * h2_z);
  }
  k.a11 = -c11 / c2;
  k.a12 = -c12 / c2;
  k.a22 = -c22 / c2;
  return k;
}

// sin and cos of the rotation angle of one ray or of four side by side; sine_cosine gives 0 and 1
// for an angle of zero (of either sign).
template <class L = float>
struct SineCosine {
  L sine = lane_splat<L>(0.0f);
  L cosine = lane_splat<L>(1.0f);
};
inline SineCosine<> sine_cosine(float phi) {
  if (phi == 0.0f) return {};
  return {std::sin(phi), std::cos(phi)};
}

// Stores lane j of the four vectors as four consecutive floats from `offset` bytes into out[j].
inline void store_lanes(Float4 a, Float4 b, Float4 c, Float4 d, RayDerivatives out[4],
                        std::size_t offset) {
  transpose4(a, b, c, d);
  const Float4 rows[4] = {a, b, c, d};
  for (int j = 0; j < 4; ++j) {
    std::memcpy(reinterpret_cast<char*>(&out[j]) + offset, &rows[j], sizeof(Float4));
  }
}

}  // namespace detail

template <bool kPlaneWave>
inline RayDerivatives compute_ray_derivatives(const RayState& state, const SSPFields& ssp,
                                              SSPCursor& cursor) {
  update_ssp_cursor(state.pos, ssp, cursor);
  return compute_ray_derivatives_in_cell<kPlaneWave>(state, ssp, cursor);
}

template <bool kPlaneWave>
inline RayDerivatives compute_ray_derivatives_in_cell(const RayState& state, const SSPFields& ssp,
                                                      const SSPCursor& cursor) {
  const SSPSample s = interpolate_all_in_cell(state.pos, ssp, cursor);
  const detail::LaneKinematics<float> m = detail::lane_kinematics<float>(
      {s.c, s.c_x, s.c_y, s.c_z, s.c_xx, s.c_yy, s.c_zz, s.c_xy, s.c_xz, s.c_yz},
      {state.slowness.x, state.slowness.y, state.slowness.z, state.phi},
      [phi = state.phi] { return detail::sine_cosine(phi); });
  RayDerivatives k;
  k.c = m.c;
  k.dpos = {m.dpos_x, m.dpos_y, m.dpos_z};
  k.dslowness = {m.dslowness_x, m.dslowness_y, m.dslowness_z};
  k.dphi = m.dphi;
  detail::set_dynamic_derivatives<kPlaneWave>(state, m.a11, m.a12, m.a22, k);
  return k;
}

inline void compute_ray_derivatives_in_cells_x4(const RayState* const states[4],
                                                const SSPCursor* const cursors[4],
                                                const SSPFields& ssp, RayDerivatives out[4]) {
  static_assert(offsetof(RayDerivatives, dq1) == offsetof(RayDerivatives, dp1) + 8);
  static_assert(offsetof(RayDerivatives, dq2) == offsetof(RayDerivatives, dp2) + 8);
  static_assert(offsetof(RayDerivatives, dslowness) == offsetof(RayDerivatives, dpos) + 12);
  static_assert(offsetof(RayDerivatives, dphi) == offsetof(RayDerivatives, dslowness) + 12);
  static_assert(offsetof(RayDerivatives, c) == offsetof(RayDerivatives, dphi) + 4);
  // The rotation of each lane's basis first, while no vector waits across the library's calls: sin
  // and cos wherever the angle is not zero (only lanes that work out a turned basis keep them),
  // each lane's pair on its own and the vectors built whole from them later, since stores into
  // single lanes would stall the loads of the vectors.
  detail::SineCosine<> turns[4];
  for (int j = 0; j < 4; ++j) turns[j] = detail::sine_cosine(states[j]->phi);
  const Vec3 positions[4] = {states[0]->pos, states[1]->pos, states[2]->pos, states[3]->pos};
  detail::PackedSample sample[4];
  detail::interpolate_packed_x4(positions, cursors, ssp, sample);
  const auto lanes = [&](auto field) {
    return Float4{field(*states[0]), field(*states[1]), field(*states[2]), field(*states[3])};
  };
  // the sample turned so that each value has a lane per state
  Float4 c = sample[0].s0, c_x = sample[1].s0, c_y = sample[2].s0, c_z = sample[3].s0;
  transpose4(c, c_x, c_y, c_z);
  Float4 c_xx = sample[0].s1, c_yy = sample[1].s1, c_zz = sample[2].s1, c_xy = sample[3].s1;
  transpose4(c_xx, c_yy, c_zz, c_xy);
  Float4 c_xz = sample[0].s2, c_yz = sample[1].s2, unused_a = sample[2].s2, unused_b = sample[3].s2;
  transpose4(c_xz, c_yz, unused_a, unused_b);
  const detail::SineCosine<Float4> rotation{
      {turns[0].sine, turns[1].sine, turns[2].sine, turns[3].sine},
      {turns[0].cosine, turns[1].cosine, turns[2].cosine, turns[3].cosine}};
  const detail::LaneKinematics<Float4> m =
      detail::lane_kinematics<Float4>({c, c_x, c_y, c_z, c_xx, c_yy, c_zz, c_xy, c_xz, c_yz},
                                      {lanes([](const RayState& s) { return s.slowness.x; }),
                                       lanes([](const RayState& s) { return s.slowness.y; }),
                                       lanes([](const RayState& s) { return s.slowness.z; }),
                                       lanes([](const RayState& s) { return s.phi; })},
                                      [&rotation] { return rotation; });
  detail::store_lanes(m.dpos_x, m.dpos_y, m.dpos_z, m.dslowness_x, out,
                      offsetof(RayDerivatives, dpos));
  detail::store_lanes(m.dslowness_y, m.dslowness_z, m.dphi, m.c, out,
                      offsetof(RayDerivatives, dslowness) + 4);

  // the dynamic derivatives, column by column
  const detail::DynamicMatrix<Float4> a{m.a11, m.a12, m.a22, c};
  const auto column = [&lanes](auto q, auto p) {
    return detail::LaneColumn<Float4>{lanes([q](const RayState& s) { return (s.*q).x; }),
                                      lanes([q](const RayState& s) { return (s.*q).y; }),
                                      lanes([p](const RayState& s) { return (s.*p).x; }),
                                      lanes([p](const RayState& s) { return (s.*p).y; })};
  };
  const detail::LaneColumnRates<Float4> d1 =
      detail::column_rates(a, column(&RayState::q1, &RayState::p1));
  detail::store_lanes(d1.dp_x, d1.dp_y, d1.dq_x, d1.dq_y, out, offsetof(RayDerivatives, dp1));
  const detail::LaneColumnRates<Float4> d2 =
      detail::column_rates(a, column(&RayState::q2, &RayState::p2));
  detail::store_lanes(d2.dp_x, d2.dp_y, d2.dq_x, d2.dq_y, out, offsetof(RayDerivatives, dp2));
}

template <bool kPlaneWave>
inline void follow_straight_run(const RayState& state, RayDerivatives& k) {
  // as compute_ray_derivatives_in_cell works them out where the curvature is zero
  const float a = -0.0f / (k.c * k.c);
  detail::set_dynamic_derivatives<kPlaneWave>(state, a, a, a, k);
}

template <bool kPlaneWave>
inline void euler_step(std::vector<RayState>& states, const RayDerivatives& k, float h) {
  detail::append_advanced<kPlaneWave>(states, k, h);
}

template <bool kPlaneWave, bool kUniformCells>
[[gnu::always_inline]] inline MidpointDerivatives place_midpoint(const RayState& start,
                                                                 const RayDerivatives& k1,
                                                                 const SSPFields& ssp,
                                                                 const SSPCursor& cursor,
                                                                 MidpointStep& step) {
  const float half = 0.5f * step.h;
  step.mid_cell = cursor;
  if constexpr (kUniformCells) {
    const Vec3 mid_pos = start.pos + half * k1.dpos;  // as the advanced state puts it
    update_ssp_cursor(mid_pos, ssp, step.mid_cell);
    // In a uniform cell the slowness and P do not change, so a midpoint in the same cell has the
    // derivatives of the start (up to the signs of zeros, which no later value can tell apart).
    const SSPCursor& mid_cell = step.mid_cell;
    if (mid_cell.ix == cursor.ix && mid_cell.iy == cursor.iy && mid_cell.iz == cursor.iz &&
        holds_uniform_cell(ssp, cursor) && is_finite(start.pos) && is_finite(mid_pos)) {
      return MidpointDerivatives::Start;
    }
  }
  // built where it stays, from values all worked out first
  detail::with_advanced_fields<kPlaneWave>(start, k1, half, [&](auto&&... fields) {
    ::new (static_cast<void*>(&step.mid)) RayState{std::forward<decltype(fields)>(fields)...};
  });
  // with uniform cells the copy already walked to this position, where a second walk leaves it
  if constexpr (!kUniformCells) update_ssp_cursor(step.mid.pos, ssp, step.mid_cell);
  return MidpointDerivatives::Own;
}

template <bool kPlaneWave, bool kUniformCells>
inline void rk2_step(std::vector<RayState>& states, const RayDerivatives& k1, float h,
                     const SSPFields& ssp, const SSPCursor& cursor) {
  MidpointStep step;
  step.h = h;
  if (place_midpoint<kPlaneWave, kUniformCells>(states.back(), k1, ssp, cursor, step) ==
      MidpointDerivatives::Start) {
    detail::append_advanced<kPlaneWave>(states, k1, h);
    return;
  }
  const RayDerivatives k2 =
      compute_ray_derivatives_in_cell<kPlaneWave>(step.mid, ssp, step.mid_cell);
  detail::append_advanced<kPlaneWave>(states, k2, h);
}

}  // namespace abyx
