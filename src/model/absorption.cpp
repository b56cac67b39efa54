#include "model/absorption.h"

#include <algorithm>
#include <cmath>

namespace abyx {
namespace {

constexpr double kDecibelsPerKmPerNeperPerM = 8685.889638065036;  // 20 log10(e) * 1000

float to_np_per_m(double db_per_km) {
  return static_cast<float>(db_per_km / kDecibelsPerKmPerNeperPerM);
}

// The relaxation term f_r f^2 / (f_r^2 + f^2) of a relaxation frequency f_r (kHz).
double relaxation(double f_khz, double f_r_khz) {
  const double f2 = f_khz * f_khz;
  return f_r_khz * f2 / (f_r_khz * f_r_khz + f2);
}

// The parts of the formula that depend on frequency, temperature, salinity and pH only, in
// dB/km: boric acid and magnesium sulphate times the sound speed (m/s), pure water as it is.
struct FrancoisGarrisonParts {
  double boric, magnesium, pure;
};

FrancoisGarrisonParts francois_garrison_parts(double f_khz, const Water& water) {
  const double t = water.temperature_c;
  const double s = water.salinity_psu;
  const double theta = 273.0 + t;
  const double f1 = 2.8 * std::sqrt(s / 35.0) * std::pow(10.0, 4.0 - 1245.0 / theta);
  const double f2 = 8.17 * std::pow(10.0, 8.0 - 1990.0 / theta) / (1.0 + 0.0018 * (s - 35.0));
  const double a1 = 8.86 * std::pow(10.0, 0.78 * water.ph - 5.0);
  const double a2 = 21.44 * s * (1.0 + 0.025 * t);
  const double a3 = t <= 20.0 ? 4.937e-4 - 2.59e-5 * t + 9.11e-7 * t * t - 1.50e-8 * t * t * t
                              : 3.964e-4 - 1.146e-5 * t + 1.45e-7 * t * t - 6.5e-10 * t * t * t;
  return {a1 * relaxation(f_khz, f1), a2 * relaxation(f_khz, f2), a3 * f_khz * f_khz};
}

double speed_base(const Water& water) {
  return 1412.0 + 3.21 * water.temperature_c + 1.19 * water.salinity_psu;
}

template <class Real>
Real pressure_term_2(Real z) {
  return Real(1) - Real(1.37e-4) * z + Real(6.2e-9) * z * z;
}
template <class Real>
Real pressure_term_3(Real z) {
  return Real(1) - Real(3.83e-5) * z + Real(4.9e-10) * z * z;
}

// alpha at every frequency at one depth, into out (nepers per metre).
void absorption_at(const Absorption& absorption, float depth_m, float* out) {
  const std::size_t nf = absorption.boric.size();
  const float z = std::max(depth_m, 0.0f);
  const float inv_c = 1.0f / (absorption.speed_base_m_s + 0.0167f * z);
  const float p2 = pressure_term_2(z);
  const float p3 = pressure_term_3(z);
  for (std::size_t k = 0; k < nf; ++k) {
    out[k] = (absorption.boric[k] + absorption.magnesium[k] * p2) * inv_c + absorption.pure[k] * p3;
  }
}

}  // namespace

double thorp_db_per_km(double f_khz) {
  const double f2 = f_khz * f_khz;
  return 0.11 * f2 / (1.0 + f2) + 44.0 * f2 / (4100.0 + f2) + 2.75e-4 * f2 + 0.003;
}

double francois_garrison_db_per_km(double f_khz, const Water& water, double depth_m) {
  const FrancoisGarrisonParts parts = francois_garrison_parts(f_khz, water);
  const double c = speed_base(water) + 0.0167 * depth_m;
  return (parts.boric + parts.magnesium * pressure_term_2(depth_m)) / c +
         parts.pure * pressure_term_3(depth_m);
}

Absorption make_absorption(const Water& water, const std::vector<float>& freq_hz) {
  Absorption absorption;
  absorption.kind = water.resolved_absorption;
  for (const float f : freq_hz) {
    const double f_khz = std::fabs(double{f}) / 1000.0;
    switch (absorption.kind) {
      case AbsorptionKind::None:
        break;
      case AbsorptionKind::Thorp:
        absorption.uniform_np_per_m.push_back(to_np_per_m(thorp_db_per_km(f_khz)));
        break;
      case AbsorptionKind::Uniform:
        absorption.uniform_np_per_m.push_back(to_np_per_m(*water.absorption_db_per_km));
        break;
      case AbsorptionKind::FrancoisGarrison: {
        const FrancoisGarrisonParts parts = francois_garrison_parts(f_khz, water);
        absorption.boric.push_back(to_np_per_m(parts.boric));
        absorption.magnesium.push_back(to_np_per_m(parts.magnesium));
        absorption.pure.push_back(to_np_per_m(parts.pure));
        break;
      }
    }
  }
  absorption.speed_base_m_s = static_cast<float>(speed_base(water));
  return absorption;
}

void accumulate_absorption(const Absorption& absorption, const std::vector<RayState>& states,
                           std::vector<float>& absorbed_np) {
  const std::size_t n = states.size();
  const bool by_depth = absorption.kind == AbsorptionKind::FrancoisGarrison;
  const std::size_t nf = by_depth ? absorption.boric.size() : absorption.uniform_np_per_m.size();
  absorbed_np.resize(n * nf);
  if (n == 0 || nf == 0) return;
  if (!by_depth) {
    float path_m = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0) path_m += norm(states[i].pos - states[i - 1].pos);
      for (std::size_t k = 0; k < nf; ++k) {
        absorbed_np[i * nf + k] = absorption.uniform_np_per_m[k] * path_m;
      }
    }
    return;
  }
  // alpha at every state first, then summed up the ray frequency by frequency in place
  for (std::size_t i = 0; i < n; ++i)
    absorption_at(absorption, states[i].pos.z, &absorbed_np[i * nf]);
  for (std::size_t k = 0; k < nf; ++k) {
    float before = absorbed_np[k];
    absorbed_np[k] = 0.0f;
    for (std::size_t i = 1; i < n; ++i) {
      const float here = absorbed_np[i * nf + k];
      const float half_step = 0.5f * norm(states[i].pos - states[i - 1].pos);
      absorbed_np[i * nf + k] = absorbed_np[(i - 1) * nf + k] + half_step * (before + here);
      before = here;
    }
  }
}

}  // namespace abyx
