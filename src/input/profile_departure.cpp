#include "input/profile_departure.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "common/checked_size.h"

namespace abyx {
namespace {

// The gradient of a column at node i: one-sided at the ends, inside the difference that takes the
// intervals on both sides, exact for a quadratic (the gradients the grid stores, in double).
double node_gradient(const std::vector<float>& z, const float* c, std::size_t i) {
  const std::size_t last = z.size() - 1;
  if (i == 0) return (double{c[1]} - c[0]) / (double{z[1]} - z[0]);
  if (i == last) return (double{c[last]} - c[last - 1]) / (double{z[last]} - z[last - 1]);
  const double before = double{z[i]} - z[i - 1], after = double{z[i + 1]} - z[i];
  return (before * before * (double{c[i + 1]} - c[i]) + after * after * (double{c[i]} - c[i - 1])) /
         (before * after * (before + after));
}

// The departure of one column. In the cell [z_k, z_k + h] at the fraction t of its width the rays'
// speed is r_k + a h t + (b - a) h t^2 / 2 for the node gradients a and b, the profile's
// c_k + (c_k+1 - c_k) t: their difference is a parabola, largest at an end or at its vertex.
void column_departure(const std::vector<float>& z, const float* c, double deepest_m,
                      ProfileDeparture& worst) {
  double rays = c[0];  // the rays' speed at the cell's upper node
  double a = node_gradient(z, c, 0);
  for (std::size_t k = 0; k + 1 < z.size() && z[k] < deepest_m; ++k) {
    const double h = double{z[k + 1]} - z[k];
    const double b = node_gradient(z, c, k + 1);
    const double offset = rays - c[k];
    const double slope = a * h - (double{c[k + 1]} - c[k]);
    const double curvature = (b - a) * h;
    const double t_end = std::min(1.0, (deepest_m - z[k]) / h);
    const auto consider = [&](double t) {
      const double difference = std::fabs(offset + slope * t + curvature * t * t / 2.0);
      if (difference > worst.speed_m_s) worst = {difference, z[k] + h * t};
    };
    consider(0.0);
    consider(t_end);
    if (curvature != 0.0) {
      const double vertex = -slope / curvature;
      if (vertex > 0.0 && vertex < t_end) consider(vertex);
    }
    rays += h * (a + b) / 2.0;
    a = b;
  }
}

bool finite_and_increasing(const std::vector<float>& axis) {
  for (std::size_t k = 0; k < axis.size(); ++k) {
    if (!std::isfinite(axis[k]) || (k > 0 && !(axis[k - 1] < axis[k]))) return false;
  }
  return true;
}

}  // namespace

ProfileDeparture largest_profile_departure(const SoundSpeed& ssp, float deepest_m) {
  ProfileDeparture worst;
  const std::size_t nz = ssp.z_ssp_m.size();
  std::size_t columns = 0;
  if (!checked_multiply(ssp.x_ssp_m.size(), ssp.y_ssp_m.size(), columns) || nz < 2 ||
      columns == 0 || ssp.c_m_s.size() / nz != columns || ssp.c_m_s.size() % nz != 0 ||
      !finite_and_increasing(ssp.z_ssp_m) || !std::isfinite(deepest_m)) {
    return worst;
  }
  if (!std::all_of(ssp.c_m_s.begin(), ssp.c_m_s.end(), [](float c) { return std::isfinite(c); })) {
    return worst;
  }
  for (std::size_t column = 0; column < columns; ++column) {
    column_departure(ssp.z_ssp_m, ssp.c_m_s.data() + column * nz, deepest_m, worst);
  }
  return worst;
}

}  // namespace abyx
