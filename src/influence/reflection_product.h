#pragma once

#include <span>

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "common/ray_state.h"

namespace abyx {

// A bottom reflection at `state` weighs every later segment of its beam, not the one ending there:
// multiplies the running product of reflection coefficients, one per angular frequency, by the
// coefficient of the state's bottom hit; leaves it as it is where the state hit no bottom.
void weigh_bottom_hit(const RayState& state, const BTYfield& bty, std::span<const float> omegas,
                      std::span<Complex32> refl);

}  // namespace abyx
