#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "bty/bty_field.h"
#include "common/ray_state.h"
#include "common/vec3.h"
#include "influence/gaussian_beam_testing.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"

namespace abyx::fixtures {

// The empty field of a configuration's receivers and frequencies, as a run builds it.
inline PressureField field_for(const SimulationConfig& config) {
  return init_pressure_field(config.receivers, receiver_layout(config.receivers),
                             config.source.freq_hz.size());
}

inline constexpr float kDegree = 0.017453292f;  // one degree in radians, single precision
inline constexpr float kTwoPiF = 6.2831855f;
inline constexpr double kPi = 3.14159265358979323846;

// Unit direction of a launch: elevation positive down, azimuth 0 along +y and 90 deg along +x.
inline Vec3 launch_direction(double elevation_rad, double azimuth_rad) {
  return {static_cast<float>(std::cos(elevation_rad) * std::sin(azimuth_rad)),
          static_cast<float>(std::cos(elevation_rad) * std::cos(azimuth_rad)),
          static_cast<float>(std::sin(elevation_rad))};
}

// Point of a straight ray at arc length s (m).
inline Vec3 point_on_ray(Vec3 origin, Vec3 direction, float s) { return origin + s * direction; }

// The states a tracer gives in homogeneous water of speed c0: the ray from `origin` along the unit
// `direction`, n states `step` metres apart starting at arc length s0, with P = I, Q = c0 * s * I.
inline std::vector<RayState> straight_ray(Vec3 origin, Vec3 direction, float c0, float step,
                                          std::size_t n, float s0 = 0.0f) {
  std::vector<RayState> states(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float s = s0 + step * static_cast<float>(i);
    RayState& st = states[i];
    st.pos = point_on_ray(origin, direction, s);
    st.slowness = (1.0f / c0) * direction;
    st.tau = s / c0;
    st.q1 = {c0 * s, 0.0f};
    st.q2 = {0.0f, c0 * s};
    st.c = c0;
  }
  return states;
}

// A configuration holding only what the field reads: receivers and frequencies.
inline SimulationConfig receiver_config(std::string type, std::vector<float> x,
                                        std::vector<float> y, std::vector<float> z,
                                        std::size_t nf) {
  SimulationConfig config;
  config.receivers.config_type = std::move(type);
  config.receivers.x_rcvr_m = std::move(x);
  config.receivers.y_rcvr_m = std::move(y);
  config.receivers.z_rcvr_m = std::move(z);
  config.source.freq_hz.assign(nf, 100.0f);
  return config;
}

// An array-mode field with the given receiver points and nf frequencies.
inline PressureField array_field(const std::vector<Vec3>& points, std::size_t nf) {
  std::vector<float> x;
  std::vector<float> y;
  std::vector<float> z;
  for (const Vec3& p : points) {
    x.push_back(p.x);
    y.push_back(p.y);
    z.push_back(p.z);
  }
  return field_for(receiver_config("array", x, y, z, nf));
}

// A grid-mode field with the given axes and nf frequencies.
inline PressureField grid_field(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                                std::size_t nf) {
  return field_for(receiver_config("grid", std::move(x), std::move(y), std::move(z), nf));
}

// Bathymetry carrying only what the beam sum reads: a fluid bottom and the water density.
inline BTYfield fluid_bottom(float speed_m_s, float density_g_cm3,
                             float attenuation_db_per_wavelength = 0.0f) {
  BTYfield bty;
  bty.bottom.kind = BottomKind::Acoustic;
  bty.bottom.compressional_speed_m_s = speed_m_s;
  bty.bottom.density_g_cm3 = density_g_cm3;
  bty.bottom.compressional_attenuation_db_per_wavelength = attenuation_db_per_wavelength;
  bty.water_density = 1.0f;
  return bty;
}

}  // namespace abyx::fixtures
