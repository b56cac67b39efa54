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
// plane-wave ones, which are left as they are. Every lane runs the scalar operations in their
// order; where the scalar code branches, the lanes work out both sides and keep their own.
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
    const float phi = states[j]->phi;
    sines[j] = phi != 0.0f ? std::sin(phi) : 0.0f;
    cosines[j] = phi != 0.0f ? std::cos(phi) : 1.0f;
  }
  const Vec3 positions[4] = {states[0]->pos, states[1]->pos, states[2]->pos, states[3]->pos};
  detail::PackedSample sample[4];
  detail::interpolate_packed_x4(positions, cursors, ssp, sample);
  const auto lanes = [&](auto field) {
    return Float4{field(*states[0]), field(*states[1]), field(*states[2]), field(*states[3])};
  };
  const Float4 zero = broadcast4(0.0f);
  const Float4 one = broadcast4(1.0f);

  // the kinematic derivatives
  Float4 c = sample[0].s0, c_x = sample[1].s0, c_y = sample[2].s0, c_z = sample[3].s0;
  transpose4(c, c_x, c_y, c_z);
  const Float4 xi = lanes([](const RayState& s) { return s.slowness.x; });
  const Float4 eta = lanes([](const RayState& s) { return s.slowness.y; });
  const Float4 zeta = lanes([](const RayState& s) { return s.slowness.z; });
  const Float4 phi = lanes([](const RayState& s) { return s.phi; });
  const Float4 c2 = c * c;
  const Float4 rr = xi * xi + eta * eta;
  const Float4 turn = one / c * zeta * (eta * c_x - xi * c_y) / rr;
  detail::store_lanes(c * xi, c * eta, c * zeta, -c_x / c2, out, offsetof(RayDerivatives, dpos));
  detail::store_lanes(-c_y / c2, -c_z / c2,
                      select4(rr > broadcast4(detail::kMinHorizontalSlowness2), turn, zero), c, out,
                      offsetof(RayDerivatives, dslowness) + 4);

  // the basis, as ray_basis works it out
  Float4 c_xx = sample[0].s1, c_yy = sample[1].s1, c_zz = sample[2].s1, c_xy = sample[3].s1;
  transpose4(c_xx, c_yy, c_zz, c_xy);
  Float4 c_xz = sample[0].s2, c_yz = sample[1].s2, unused_a = sample[2].s2, unused_b = sample[3].s2;
  transpose4(c_xz, c_yz, unused_a, unused_b);
  const Int4 linear = (c_xx == zero) & (c_yy == zero) & (c_zz == zero) & (c_xy == zero) &
                      (c_xz == zero) & (c_yz == zero);
  const Int4 plain = linear & is_finite4(c) & is_finite4(xi) & is_finite4(eta) & is_finite4(zeta) &
                     is_finite4(phi);
  const Float4 p_h = sqrt4(rr);
  const Int4 horizontal = p_h > zero;
  const Float4 rl = select4(horizontal, p_h, one);
  const Float4 hx = select4(horizontal, xi, zero);
  const Float4 hy = select4(horizontal, eta, one);
  const Int4 level = phi == zero;
  const Float4 sine = {sines[0], sines[1], sines[2], sines[3]};
  const Float4 cosine = {cosines[0], cosines[1], cosines[2], cosines[3]};
  const Float4 chz = c * hx * zeta;
  const Float4 cyz = c * hy * zeta;
  const Float4 cp = -c * p_h;
  const Float4 e1_x = select4(level, chz / rl, (chz * cosine + hy * sine) / rl);
  const Float4 e1_y = select4(level, cyz / rl, (cyz * cosine - hx * sine) / rl);
  const Float4 e1_z = select4(level, cp, cp * cosine);
  const Float4 e2_x = select4(level, -hy / rl, (chz * sine - hy * cosine) / rl);
  const Float4 e2_y = select4(level, hx / rl, (cyz * sine + hx * cosine) / rl);
  const Float4 e2_z = select4(level, zero, cp * sine);
  // H e1 and H e2, then the curvature across the ray
  const Float4 h1_x = c_xx * e1_x + c_xy * e1_y + c_xz * e1_z;
  const Float4 h1_y = c_xy * e1_x + c_yy * e1_y + c_yz * e1_z;
  const Float4 h1_z = c_xz * e1_x + c_yz * e1_y + c_zz * e1_z;
  const Float4 h2_x = c_xx * e2_x + c_xy * e2_y + c_xz * e2_z;
  const Float4 h2_y = c_xy * e2_x + c_yy * e2_y + c_yz * e2_z;
  const Float4 h2_z = c_xz * e2_x + c_yz * e2_y + c_zz * e2_z;
  const Float4 c11 = select4(plain, zero, e1_x * h1_x + e1_y * h1_y + e1_z * h1_z);
  const Float4 c12 = select4(plain, zero, e1_x * h2_x + e1_y * h2_y + e1_z * h2_z);
  const Float4 c22 = select4(plain, zero, e2_x * h2_x + e2_y * h2_y + e2_z * h2_z);
  const Float4 a11 = -c11 / c2;
  const Float4 a12 = -c12 / c2;
  const Float4 a22 = -c22 / c2;

  // the dynamic derivatives
  const Float4 q1_x = lanes([](const RayState& s) { return s.q1.x; });
  const Float4 q1_y = lanes([](const RayState& s) { return s.q1.y; });
  const Float4 q2_x = lanes([](const RayState& s) { return s.q2.x; });
  const Float4 q2_y = lanes([](const RayState& s) { return s.q2.y; });
  detail::store_lanes(a11 * q1_x + a12 * q1_y, a12 * q1_x + a22 * q1_y,
                      c * lanes([](const RayState& s) { return s.p1.x; }),
                      c * lanes([](const RayState& s) { return s.p1.y; }), out,
                      offsetof(RayDerivatives, dp1));
  detail::store_lanes(a11 * q2_x + a12 * q2_y, a12 * q2_x + a22 * q2_y,
                      c * lanes([](const RayState& s) { return s.p2.x; }),
                      c * lanes([](const RayState& s) { return s.p2.y; }), out,
                      offsetof(RayDerivatives, dp2));
}

}  // namespace abyx
