#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "common/ray_state.h"
#include "common/vec3.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"

// What the tests of several subsystems and the benchmarks start from: a small valid ocean, empty
// fields and straight rays.

namespace abyx::fixtures {

// A configuration that passes every check: a 1 km square of water 100 m deep at 1500 m/s over a
// rigid bottom, a 100 Hz source at its centre, three elevations by two azimuths, and receivers.
inline SimulationConfig small_ocean(std::string layout, std::vector<float> x, std::vector<float> y,
                                    std::vector<float> z) {
  SimulationConfig config;
  config.ssp = {{0, 1000}, {0, 1000}, {0, 100}, std::vector<float>(8, 1500.0f)};
  config.bathymetry.x_bty_m = {0, 1000};
  config.bathymetry.y_bty_m = {0, 1000};
  config.bathymetry.z_bty_m = {100, 100, 100, 100};
  config.source = {{500, 500, 50}, {100}, {-10, 0, 10}, {0, 90}};
  config.receivers = {std::move(layout), std::move(x), std::move(y), std::move(z)};
  config.beam = {10.0f, 100, 400.0f};
  return config;
}

// The empty field of these receivers and nf frequencies, as a run builds it.
inline PressureField make_field(std::string type, std::vector<float> x, std::vector<float> y,
                                std::vector<float> z, std::size_t nf) {
  const Receivers receivers{std::move(type), std::move(x), std::move(y), std::move(z)};
  return init_pressure_field(receivers, receiver_layout(receivers), nf);
}

// The empty field of array receivers at these points and nf frequencies.
inline PressureField array_field(const std::vector<Vec3>& points, std::size_t nf) {
  std::vector<float> x, y, z;
  for (const Vec3& p : points) {
    x.push_back(p.x);
    y.push_back(p.y);
    z.push_back(p.z);
  }
  return make_field("array", x, y, z, nf);
}

// Unit direction of a launch: elevation positive down, azimuth 0 along +y and 90 deg along +x.
inline Vec3 launch_direction(double elevation_rad, double azimuth_rad) {
  return {static_cast<float>(std::cos(elevation_rad) * std::sin(azimuth_rad)),
          static_cast<float>(std::cos(elevation_rad) * std::cos(azimuth_rad)),
          static_cast<float>(std::sin(elevation_rad))};
}

// The states a tracer gives in homogeneous water: the ray from `origin` along the unit `dir`, n
// states `step` apart, with P = I, Q = c0 * s * I.
inline std::vector<RayState> straight_ray(Vec3 origin, Vec3 dir, float c0, float step,
                                          std::size_t n) {
  std::vector<RayState> states(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float s = step * static_cast<float>(i);
    states[i].pos = origin + s * dir;
    states[i].slowness = (1.0f / c0) * dir;
    states[i].tau = s / c0;
    states[i].q1 = {c0 * s, 0.0f};
    states[i].q2 = {0.0f, c0 * s};
    states[i].c = c0;
  }
  return states;
}

}  // namespace abyx::fixtures
