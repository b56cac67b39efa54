#include "model/launch_fan.h"

#include <cmath>

namespace abyx {
namespace {

std::vector<float> to_radians(const std::vector<float>& degrees) {
  std::vector<float> radians;
  radians.reserve(degrees.size());
  for (const float angle : degrees) radians.push_back(angle * kRadiansPerDegree);
  return radians;
}

// Only the first two angles count, whatever the spacing of the rest.
float spacing(const std::vector<float>& radians) {
  return radians.size() >= 2 ? std::fabs(radians[1] - radians[0]) : kRadiansPerDegree;
}

}  // namespace

LaunchFan make_launch_fan(const Source& source) {
  LaunchFan fan;
  fan.elevations_rad = to_radians(source.launch_elev_deg);
  fan.azimuths_rad = to_radians(source.launch_azim_deg);
  fan.d_elevation_rad = spacing(fan.elevations_rad);
  fan.d_azimuth_rad = spacing(fan.azimuths_rad);
  return fan;
}

std::vector<float> angular_frequencies(const std::vector<float>& freq_hz) {
  std::vector<float> omegas;
  omegas.reserve(freq_hz.size());
  for (const float f : freq_hz) omegas.push_back(kTwoPi * f);
  return omegas;
}

std::vector<Launch> launch_list(const LaunchFan& fan) {
  std::vector<Launch> launches;
  launches.reserve(fan.azimuths_rad.size() * fan.elevations_rad.size());
  for (const float azimuth : fan.azimuths_rad) {
    for (const float elevation : fan.elevations_rad) launches.push_back({azimuth, elevation});
  }
  return launches;
}

}  // namespace abyx
