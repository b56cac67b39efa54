#include "influence/reflection_product.h"

#include <cmath>
#include <complex>
#include <limits>

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
  product.next_surface_hit = 0;
}

void keep_reflection_slopes(const Model& model, float angle_step_rad, ReflectionProduct& product) {
  if ((model.bty.bottom.kind == BottomKind::Rigid && !model.surface_table) ||
      !(angle_step_rad > 0.0f)) {
    return;
  }
  product.phase_slope.assign(model.omegas.size(), 0.0f);
  product.angle_step_rad = angle_step_rad;
}

void weigh_hit(const BottomHit& hit, Boundary boundary, const Model& model,
               ReflectionProduct& product) {
  const bool slopes = !product.phase_slope.empty();
  const float h = product.angle_step_rad;
  const BottomHit steeper = slopes ? turned_hit(hit, h) : hit;
  const BottomHit flatter = slopes ? turned_hit(hit, -h) : hit;
  const auto coefficient = [boundary, &model](const BottomHit& at, float omega) {
    return hit_reflection_coefficient(at, boundary, model.bty, model.surface_table, omega);
  };
  for (std::size_t k = 0; k < model.omegas.size(); ++k) {
    const float omega = model.omegas[k];
    const Complex32 r = coefficient(hit, omega);
    product.per_frequency[k] = product.per_frequency[k] * r;
    if (!slopes) continue;
    const float up = phase_change(r, coefficient(steeper, omega));
    const float down = phase_change(r, coefficient(flatter, omega));
    if (std::isfinite(up) && std::isfinite(down))
      product.phase_slope[k] += (up - down) / (2.0f * h);
  }
}

namespace {

// Weighs the boundary's hits from `next` on up to and including `state`; `next` ends at the first
// hit after it.
void weigh_boundary_through(std::size_t state, const BottomHits& hits, Boundary boundary,
                            const Model& model, ReflectionProduct& product, std::size_t& next) {
  const std::size_t count = hits.states.size();
  for (; next < count && hits.states[next] <= state; ++next) {
    weigh_hit(hits.hits[next], boundary, model, product);
  }
}

}  // namespace

void weigh_hits_through(std::size_t state, const RayTrace& trace, const Model& model,
                        ReflectionProduct& product) {
  weigh_boundary_through(state, trace.bottom_hits, Boundary::Bottom, model, product,
                         product.next_hit);
  if (!trace.surface_hits.states.empty()) {
    weigh_boundary_through(state, trace.surface_hits, Boundary::Surface, model, product,
                           product.next_surface_hit);
  }
}

}  // namespace abyx
