#pragma once

#include <cstdint>
#include <vector>

#include "common/fault_messages.h"
#include "common/ray_state.h"
#include "common/ray_trace.h"
#include "influence/arrival_table.h"
#include "influence/beam_scratch.h"
#include "influence/pressure_field.h"
#include "model/model.h"
#include "model/receiver_index.h"

namespace abyx {

// Launch geometry of the ray whose beam is summed, in radians.
struct BeamLaunch {
  float elevation_rad = 0.0f;    // launch elevation beta
  float d_azimuth_rad = 0.0f;    // azimuth spacing of the fan
  float d_elevation_rad = 0.0f;  // elevation spacing of the fan
  std::uint64_t ray_index = 0;   // in the azimuth-major launch list
  float gain = 1.0f;             // the source's amplitude factor in the ray's direction
};

// Where a beam's contributions go: the field, and with `arrivals` the arrival of each one's path.
struct BeamOutputs {
  PressureField& field;
  ArrivalTable* arrivals = nullptr;
};

// Throws Fault (kMissingReceiverPositionsMessage, kBeamFieldMismatchMessage) when the field cannot
// take a beam of nf frequencies.
void check_beam_field(const PressureField& field, std::size_t nf, const ReceiverIndex& array_index);

// Adds the beam around one traced ray to the outputs, for every angular frequency of the model,
// with the model's beam type. The states are only read. Throws Fault, before anything is changed,
// when the field lacks its array points or disagrees with its shape, with the model's frequencies
// or with its index of array receivers (built once per run, unused for a grid field).
void add_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
              BeamScratch& scratch, BeamOutputs& out);

// The geometric Gaussian beam: amplitude and Q of the ray scaled to the fan's spacing.
void add_geometric_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
                        BeamScratch& scratch, BeamOutputs& out);

// The complex-Q Gaussian beam around one ray traced with its plane-wave solution; the model's beam
// settings give the width rule, max_range_m (where min_width beams are narrowest) and beam_width_m.
// The beam of the complex parameters E = diag(e1, e2) has Q = Q_point + Q_plane E and P = P_point +
// P_plane E; a receiver at normal coordinates n takes
//   i w / (2 pi c0) sqrt(c / c0) sqrt(det Q(0) / det Q) exp(i w (tau + n^T P Q^-1 n / 2)) dOmega
// with the branch of the root followed along the ray, dOmega the launch solid angle of the ray.
void add_complex_q_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
                        BeamScratch& scratch, BeamOutputs& out);

}  // namespace abyx
