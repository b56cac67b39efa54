#include "influence/reflection_product.h"

#include <cmath>
#include <complex>
#include <limits>

#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {
namespace {

// Below this magnitude a coefficient has no phase to difference.
constexpr float kLeastMagnitude = 1e-6f;

// The hit turned to the grazing angle theta + d_theta in its own plane of incidence.
BottomHit turned_hit(const BottomHit& hit, float d_theta) {
  const Vec3 normal = (1.0f / norm(hit.normal)) * hit.normal;
  const Vec3 s = (1.0f / norm(hit.slowness_in)) * hit.slowness_in;
  const float sine = dot(s, normal);
  const Vec3 across = s - sine * normal;
  const float cosine = norm(across);
  const Vec3 tangent = cosine > 0.0f ? (1.0f / cosine) * across : Vec3{};
  const float theta = std::atan2(sine, cosine) + d_theta;
  return {hit.normal, std::cos(theta) * tangent + std::sin(theta) * normal, hit.c};
}

// The phase of b / a (rad), or NaN where either has next to no magnitude.
float phase_change(Complex32 a, Complex32 b) {
  if (std::hypot(a.re, a.im) < kLeastMagnitude || std::hypot(b.re, b.im) < kLeastMagnitude) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  return std::arg(std::complex<float>(b.re, b.im) / std::complex<float>(a.re, a.im));
}

}  // namespace

void start_reflection_product(const Model& model, ReflectionProduct& product) {
  product.per_frequency.assign(model.omegas.size(), Complex32{1.0f, 0.0f});
  product.phase_slope.clear();
  product.angle_step_rad = 0.0f;
  product.next_hit = 0;
}

void keep_reflection_slopes(const Model& model, float angle_step_rad, ReflectionProduct& product) {
  if (model.bty.bottom.kind == BottomKind::Rigid || !(angle_step_rad > 0.0f)) return;
  product.phase_slope.assign(model.omegas.size(), 0.0f);
  product.angle_step_rad = angle_step_rad;
}

void weigh_bottom_hit(const BottomHit& hit, const Model& model, ReflectionProduct& product) {
  const bool slopes = !product.phase_slope.empty();
  const float h = product.angle_step_rad;
  const BottomHit steeper = slopes ? turned_hit(hit, h) : hit;
  const BottomHit flatter = slopes ? turned_hit(hit, -h) : hit;
  for (std::size_t k = 0; k < model.omegas.size(); ++k) {
    const float omega = model.omegas[k];
    const Complex32 r = reflection_coefficient(hit, model.bty, omega);
    product.per_frequency[k] = product.per_frequency[k] * r;
    if (!slopes) continue;
    const float up = phase_change(r, reflection_coefficient(steeper, model.bty, omega));
    const float down = phase_change(r, reflection_coefficient(flatter, model.bty, omega));
    if (std::isfinite(up) && std::isfinite(down))
      product.phase_slope[k] += (up - down) / (2.0f * h);
  }
}

void weigh_bottom_hits_through(std::size_t state, const BottomHits& bottom_hits, const Model& model,
                               ReflectionProduct& product) {
  const std::size_t count = bottom_hits.states.size();
  for (; product.next_hit < count && bottom_hits.states[product.next_hit] <= state;
       ++product.next_hit) {
    weigh_bottom_hit(bottom_hits.hits[product.next_hit], model, product);
  }
}

}  // namespace abyx
