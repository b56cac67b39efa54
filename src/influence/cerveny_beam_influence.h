#pragma once

#include <span>
#include <vector>

#include "bty/bty_field.h"
#include "common/ray_state.h"
#include "influence/gaussian_beam_influence.h"
#include "influence/pressure_field.h"
#include "influence/receiver_index.h"
#include "input/simulation_config.h"

namespace abyx {

// How a run's complex-Q beams take their width.
struct ComplexBeamWidth {
  BeamWidthRule rule = BeamWidthRule::MinWidth;
  float max_range_m = 0.0f;   // where min_width beams are narrowest (m)
  float half_width_m = 0.0f;  // the initial half-width of the HalfWidth rule (m)
};

// Adds the complex-Q Gaussian beam around one ray traced with its plane-wave solution. The beam of
// the complex parameters E = diag(e1, e2) has Q = Q_point + Q_plane E and P = P_point + P_plane E;
// a receiver at normal coordinates n takes
//   i w / (2 pi c0) sqrt(c / c0) sqrt(det Q(0) / det Q) exp(i w (tau + n^T P Q^-1 n / 2)) dOmega
// with the branch of the root followed along the ray, dOmega the launch solid angle of the ray.
// Throws Fault, before anything is changed, on the field faults gaussian_beam_influence names.
void cerveny_beam_influence(const std::vector<RayState>& states, PressureField& field,
                            const BTYfield& bty, std::span<const float> omegas,
                            const BeamLaunch& launch, const ComplexBeamWidth& width,
                            const ReceiverIndex& array_index, BeamScratch& scratch);

}  // namespace abyx
