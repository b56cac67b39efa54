#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "common/float4.h"
#include "common/float4_math.h"
#include "common/ray_state.h"
#include "rays/ray_equations.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// The geometric derivatives of four states side by side, one per vector lane, each with a cursor
// that already holds the cell of its position: out[j] equals
// compute_ray_derivatives_in_cell(*states[j], ssp, *cursors[j]) bit for bit in every field but the
// plane-wave ones, which are left as they are: both take the equations of detail::lane_kinematics,
// here with a state to a lane.
inline void compute_ray_derivatives_in_cells_x4(const RayState* const states[4],
                                                const SSPCursor* const cursors[4],
                                                const SSPFields& ssp, RayDerivatives out[4]);

namespace detail {

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
  float sines[4];
  float cosines[4];
  for (int j = 0; j < 4; ++j) {
    const detail::SineCosine rotation = detail::sine_cosine(states[j]->phi);
    sines[j] = rotation.sine;
    cosines[j] = rotation.cosine;
  }
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
  struct Rotation {
    Float4 sine, cosine;
  };
  const Rotation rotation{{sines[0], sines[1], sines[2], sines[3]},
                          {cosines[0], cosines[1], cosines[2], cosines[3]}};
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

}  // namespace abyx
