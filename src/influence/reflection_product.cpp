#include "influence/reflection_product.h"

#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {

void weigh_bottom_hit(const RayState& state, const BTYfield& bty, std::span<const float> omegas,
                      std::span<Complex32> refl) {
  if (!state.bottom_hit) return;
  const BottomHit& hit = *state.bottom_hit;
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    refl[k] =
        refl[k] * compute_bottom_reflection_coefficient(bty.bottom, hit.slowness_in, hit.normal,
                                                        bty.water_density, hit.c, omegas[k]);
  }
}

}  // namespace abyx
