#include "influence/reflection_product.h"

#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {

void start_reflection_product(const Model& model, ReflectionProduct& product) {
  product.per_frequency.assign(model.omegas.size(), Complex32{1.0f, 0.0f});
  product.next_hit = 0;
}

void weigh_bottom_hits_through(std::size_t state, const BottomHits& bottom_hits, const Model& model,
                               ReflectionProduct& product) {
  const std::size_t count = bottom_hits.states.size();
  for (; product.next_hit < count && bottom_hits.states[product.next_hit] <= state;
       ++product.next_hit) {
    const BottomHit& hit = bottom_hits.hits[product.next_hit];
    for (std::size_t k = 0; k < model.omegas.size(); ++k) {
      Complex32& r = product.per_frequency[k];
      r = r * reflection_coefficient(hit, model.bty, model.omegas[k]);
    }
  }
}

}  // namespace abyx
