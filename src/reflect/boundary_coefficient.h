#pragma once

#include <optional>

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "common/ray_trace.h"
#include "common/reflection_table.h"
#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {

// The boundary a hit, or a beam's image, belongs to.
enum class Boundary { Surface, Bottom };

// The coefficient of the surface's table at a ray's surface hit, at angular frequency omega: the
// table holds that of a positive frequency, a negative one takes its conjugate.
inline Complex32 surface_reflection_coefficient(const BottomHit& hit, const ReflectionTable& table,
                                                float omega) {
  const Complex32 r =
      evaluate_reflection_table(table, grazing_angle_rad(hit.slowness_in, hit.normal));
  return omega < 0.0f ? conj(r) : r;
}

// The coefficient at a ray's hit of either boundary; a surface hit exists only under a table.
inline Complex32 hit_reflection_coefficient(const BottomHit& hit, Boundary boundary,
                                            const BTYfield& bty,
                                            const std::optional<ReflectionTable>& surface_table,
                                            float omega) {
  if (boundary == Boundary::Bottom) return reflection_coefficient(hit, bty, omega);
  return surface_reflection_coefficient(hit, *surface_table, omega);
}

}  // namespace abyx
