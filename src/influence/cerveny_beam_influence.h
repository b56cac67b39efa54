#pragma once

#include <span>
#include <vector>

#include "bty/bty_field.h"
#include "common/ray_state.h"
#include "influence/gaussian_beam_influence.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"
#include "model/receiver_index.h"

namespace abyx {

// Adds the complex-Q Gaussian beam around one ray traced with its plane-wave solution; the beam
// settings give the width rule, max_range_m (where min_width beams are narrowest) and beam_width_m.
// The beam of the complex parameters E = diag(e1, e2) has Q = Q_point + Q_plane E and P = P_point +
// P_plane E; a receiver at normal coordinates n takes
//   i w / (2 pi c0) sqrt(c / c0) sqrt(det Q(0) / det Q) exp(i w (tau + n^T P Q^-1 n / 2)) dOmega
// with the branch of the root followed along the ray, dOmega the launch solid angle of the ray.
// Throws Fault, before anything is changed, on the field faults gaussian_beam_influence names.
// With `arrivals`, every contribution is also gathered into the arrival of its path.
void cerveny_beam_influence(const std::vector<RayState>& states, PressureField& field,
                            const BTYfield& bty, std::span<const float> omegas,
                            const BeamLaunch& launch, const BeamSettings& beam,
                            const ReceiverIndex& array_index, BeamScratch& scratch,
                            ArrivalTable* arrivals = nullptr);

}  // namespace abyx
