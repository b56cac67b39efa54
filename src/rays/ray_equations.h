#pragma once

#include "rays/ray_state.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// Right-hand side of the kinematic and dynamic ray equations at the state's position; moves the
// cursor to that position.
RayDerivatives compute_ray_derivatives(const RayState& state, const SSPFields& ssp,
                                       SSPCursor& cursor);

// First-order step of length h (m) with the derivatives k of the current state.
RayState euler_step(const RayState& state, const RayDerivatives& k, float h);

// Explicit midpoint step of length h (m): k1 are the derivatives of the current state; the midpoint
// is evaluated on a copy of the tracing cursor, which itself is not moved.
RayState rk2_step(const RayState& state, const RayDerivatives& k1, float h, const SSPFields& ssp,
                  const SSPCursor& cursor);

}  // namespace abyx
