#include "model/launch_fan.h"

#include <algorithm>
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

// Where x falls on an increasing axis: the node below and the weight of the one above, held at
// the ends.
struct AxisPlace {
  std::size_t below = 0;
  double weight = 0.0;
};

AxisPlace place_on_axis(const std::vector<float>& axis, double x) {
  if (!(x > axis.front())) return {0, 0.0};
  if (x >= axis.back()) return {axis.size() - 1, 0.0};
  const std::size_t j = static_cast<std::size_t>(
      std::upper_bound(axis.begin(), axis.end(), x, [](double v, float a) { return v < a; }) -
      axis.begin());
  return {j - 1, (x - axis[j - 1]) / (double{axis[j]} - axis[j - 1])};
}

// The level (dB) of one row of levels at an elevation.
double level_in_row(const float* row, const AxisPlace& el) {
  if (el.weight == 0.0) return row[el.below];
  return row[el.below] + el.weight * (double{row[el.below + 1]} - row[el.below]);
}

}  // namespace

std::vector<float> launch_gains(const BeamPattern& pattern, const Source& source) {
  const std::size_t n_el = pattern.elev_deg.size();
  std::vector<float> gains;
  gains.reserve(source.launch_azim_deg.size() * source.launch_elev_deg.size());
  for (const float azimuth : source.launch_azim_deg) {
    AxisPlace az;
    if (!pattern.azim_deg.empty()) {
      const double first = pattern.azim_deg.front();
      az = place_on_axis(pattern.azim_deg,
                         first + std::fmod(std::fmod(azimuth - first, 360.0) + 360.0, 360.0));
    }
    const float* row = pattern.level_db.data() + az.below * n_el;
    for (const float elevation : source.launch_elev_deg) {
      const AxisPlace el = place_on_axis(pattern.elev_deg, elevation);
      double level = level_in_row(row, el);
      if (az.weight != 0.0) level += az.weight * (level_in_row(row + n_el, el) - level);
      gains.push_back(static_cast<float>(std::pow(10.0, level / 20.0)));
    }
  }
  return gains;
}

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
