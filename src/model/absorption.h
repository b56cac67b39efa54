#pragma once

#include <cstddef>
#include <vector>

#include "common/ray_state.h"
#include "input/simulation_config.h"

namespace abyx {

// How sea water absorbs sound at each source frequency, in nepers per metre. Thorp's formula and a
// given number are the same at every depth; Francois and Garrison's depends on depth through the
// sound speed and the pressure terms of its magnesium-sulphate and pure-water parts:
//   alpha_k(z) = (boric_k + magnesium_k P2(z)) / c(z) + pure_k P3(z)
// with c(z) = speed_base + 0.0167 z (m/s), P2 = 1 - 1.37e-4 z + 6.2e-9 z^2 and
// P3 = 1 - 3.83e-5 z + 4.9e-10 z^2 (z in m). Built once per run, then only read.
struct Absorption {
  AbsorptionKind kind = AbsorptionKind::None;
  std::vector<float> uniform_np_per_m;  // per frequency (thorp, a number)
  std::vector<float> boric;             // per frequency, times m/s (francois_garrison)
  std::vector<float> magnesium;         // per frequency, times m/s
  std::vector<float> pure;              // per frequency
  float speed_base_m_s = 0.0f;          // the formula's sound speed at the surface
};

// Whether the run absorbs at all.
inline bool absorbs(const Absorption& absorption) {
  return absorption.kind != AbsorptionKind::None;
}

// The absorption of the validated water section at each frequency (Hz; the sign is ignored).
Absorption make_absorption(const Water& water, const std::vector<float>& freq_hz);

// Thorp's absorption (dB/km) at a frequency in kHz.
double thorp_db_per_km(double f_khz);

// Francois and Garrison's absorption (dB/km) at a frequency in kHz and a depth in m.
double francois_garrison_db_per_km(double f_khz, const Water& water, double depth_m);

// The absorption along a ray, per state and frequency ([state * nf + k], nepers): the integral of
// alpha over the ray's path from the launch to the state, the path taken straight between states
// and alpha trapezoidal over each step.
void accumulate_absorption(const Absorption& absorption, const std::vector<RayState>& states,
                           std::vector<float>& absorbed_np);

}  // namespace abyx
