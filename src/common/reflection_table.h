#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "common/complex32.h"
#include "common/constants.h"
#include "common/vec3.h"

namespace abyx {

// A plane-wave reflection coefficient against the grazing angle: magnitude and phase at increasing
// angles, linear between them and held at the end values beyond the first and the last angle.
// Built once from a validated table, then only read.
struct ReflectionTable {
  std::vector<float> angle_rad;  // grazing angles (rad), strictly increasing
  std::vector<float> magnitude;  // |R| at each angle
  std::vector<float> phase_rad;  // arg R at each angle (rad)
};

// The table of a validated configuration table (angles and phases in degrees).
inline ReflectionTable make_reflection_table(const std::vector<float>& angle_deg,
                                             const std::vector<float>& magnitude,
                                             const std::vector<float>& phase_deg) {
  ReflectionTable table;
  table.magnitude = magnitude;
  table.angle_rad.reserve(angle_deg.size());
  table.phase_rad.reserve(phase_deg.size());
  for (const float a : angle_deg) table.angle_rad.push_back(a * kRadiansPerDegree);
  for (const float p : phase_deg) table.phase_rad.push_back(p * kRadiansPerDegree);
  return table;
}

// The grazing angle (rad, 0 to pi/2) between an incident direction and a boundary of the given
// normal; neither need be of unit length. 0 when either has no length.
inline float grazing_angle_rad(Vec3 direction, Vec3 normal) {
  const float lengths = std::sqrt(dot(direction, direction) * dot(normal, normal));
  if (!(lengths > 0.0f)) return 0.0f;
  return std::asin(std::min(std::fabs(dot(direction, normal)) / lengths, 1.0f));
}

// The coefficient at a grazing angle (rad); a table without angles reflects totally.
inline Complex32 evaluate_reflection_table(const ReflectionTable& table, float grazing_rad) {
  const std::vector<float>& angles = table.angle_rad;
  const std::size_t n = angles.size();
  if (n == 0) return {1.0f, 0.0f};
  float magnitude = table.magnitude.front();
  float phase = table.phase_rad.front();
  if (!(grazing_rad > angles.front())) {
    // held below the first angle (and for a NaN angle)
  } else if (grazing_rad >= angles.back()) {
    magnitude = table.magnitude.back();
    phase = table.phase_rad.back();
  } else {
    const std::size_t j = static_cast<std::size_t>(
        std::upper_bound(angles.begin(), angles.end(), grazing_rad) - angles.begin());
    const float w = (grazing_rad - angles[j - 1]) / (angles[j] - angles[j - 1]);
    magnitude = table.magnitude[j - 1] + w * (table.magnitude[j] - table.magnitude[j - 1]);
    phase = table.phase_rad[j - 1] + w * (table.phase_rad[j] - table.phase_rad[j - 1]);
  }
  return {magnitude * std::cos(phase), magnitude * std::sin(phase)};
}

}  // namespace abyx
