#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/float4.h"
#include "common/float4_math.h"
#include "common/vec3.h"

namespace abyx {

// The state of a ray after one step.
// Only the tracer writes it; what a bottom reflection records beyond the counts and the phase is
// kept beside the states (BottomHits).
struct RayState {
  Vec3 pos;                     // x, y, z (m, z positive down)
  Vec3 slowness;                // (xi, eta, zeta) in s/m; c * slowness is the unit tangent
  float phi = 0.0f;             // rotation of the ray-centred basis about the tangent (rad)
  float tau = 0.0f;             // travel time (s)
  float phase = 0.0f;           // accumulated boundary phase (rad)
  std::uint32_t n_surface = 0;  // surface reflections so far
  std::uint32_t n_bottom = 0;   // bottom reflections so far
  Vec2 p1{1.0f, 0.0f};          // first column of P: (P11, P21)
  Vec2 q1{0.0f, 0.0f};          // first column of Q: (Q11, Q21)
  Vec2 p2{0.0f, 1.0f};          // second column of P: (P12, P22)
  Vec2 q2{0.0f, 0.0f};          // second column of Q: (Q12, Q22)
  float c = 0.0f;               // sound speed belonging to the state (m/s)
  // The plane-wave solution of the dynamic ray equations (P = 0, Q = I at the source), traced
  // only for complex-Q beams; elsewhere it keeps its start.
  Vec2 p1w{0.0f, 0.0f};
  Vec2 q1w{1.0f, 0.0f};
  Vec2 p2w{0.0f, 0.0f};
  Vec2 q2w{0.0f, 1.0f};
};

// Derivative of a state with respect to arc length.
struct RayDerivatives {
  Vec2 dp1, dq1, dp2, dq2;      // dP/ds and dQ/ds column by column
  Vec2 dp1w, dq1w, dp2w, dq2w;  // the same for the plane-wave solution, when it is traced
  Vec3 dpos;                    // unit tangent c * slowness
  Vec3 dslowness;               // -grad c / c^2
  float dphi = 0.0f;            // rotation rate of the basis (rad/m)
  float c = 0.0f;               // sound speed at the state's position (m/s)
};

// The ray-centred unit vectors normal to the tangent.
struct RayBasis {
  Vec3 e1;  // in the vertical plane of the ray when phi = 0
  Vec3 e2;  // horizontal when phi = 0
};

// Whether a boundary reflection made `after` from `before`, the state of the step before it.
inline bool reflects(const RayState& before, const RayState& after) {
  return after.n_surface != before.n_surface || after.n_bottom != before.n_bottom;
}

// Whether the state's position, slowness, travel time and sound speed are all finite. The first
// eight floats from the position lie in a row with the rotation angle among them, which is left
// out; they are tested four at a time, (v - v) being 0 exactly where v is finite.
inline bool is_finite_state(const RayState& s) {
  static_assert(offsetof(RayState, slowness) == offsetof(RayState, pos) + 3 * sizeof(float));
  static_assert(offsetof(RayState, tau) == offsetof(RayState, slowness) + 4 * sizeof(float));
  const char* base = reinterpret_cast<const char*>(&s);
  Float4 first;   // x, y, z, xi
  Float4 second;  // eta, zeta, phi, tau
  std::memcpy(&first, base + offsetof(RayState, pos), sizeof first);
  std::memcpy(&second, base + offsetof(RayState, slowness) + sizeof(float), sizeof second);
  second[2] = 0.0f;
  return lane_bits(lane_finite(first) & lane_finite(second)) == 0xfu && std::isfinite(s.c);
}

// The basis of a state from its slowness, sound speed and rotation angle. A state moving exactly
// vertically has no horizontal direction of its own; it then takes +y as its horizontal reference
// so that the basis stays finite.
inline RayBasis ray_basis(Vec3 slowness, float c, float phi) {
  const float xi = slowness.x;
  const float eta = slowness.y;
  const float zeta = slowness.z;
  float rl = std::sqrt(xi * xi + eta * eta);
  float hx = xi;  // horizontal reference, scaled by rl below
  float hy = eta;
  if (!(rl > 0.0f)) {
    rl = 1.0f;
    hx = 0.0f;
    hy = 1.0f;
  }
  const float p_h = std::sqrt(xi * xi + eta * eta);
  if (phi == 0.0f) {
    return {{c * hx * zeta / rl, c * hy * zeta / rl, -c * p_h}, {-hy / rl, hx / rl, 0.0f}};
  }
  const float s = std::sin(phi);
  const float k = std::cos(phi);
  return {{(c * hx * zeta * k + hy * s) / rl, (c * hy * zeta * k - hx * s) / rl, -c * p_h * k},
          {(c * hx * zeta * s - hy * k) / rl, (c * hy * zeta * s + hx * k) / rl, -c * p_h * s}};
}

}  // namespace abyx
