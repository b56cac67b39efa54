#include "influence/beam_influence.h"

#include <string>

#include "common/fault.h"
#include "influence/geometric_beam_sum.h"

namespace abyx {

// Every array the receiver step indexes must match the shape, or writes would leave the arrays.
void check_beam_field(const PressureField& field, std::size_t nf,
                      const ReceiverIndex& array_index) {
  if (field.has_points() && !field.receiver_positions_m) {
    throw Fault(std::string(kMissingReceiverPositionsMessage));
  }
  if (!field_matches_shape(field) || field.shape[0] != nf ||
      (field.is_array() && array_index.point_count != field.shape[1])) {
    throw Fault(std::string(kBeamFieldMismatchMessage));
  }
}

void add_geometric_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
                        BeamScratch& scratch, BeamOutputs& out) {
  NoTally tally;
  sum_geometric_beam<NarrowedSearch>(trace, launch, model, scratch, out, tally);
}

void add_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
              BeamScratch& scratch, BeamOutputs& out) {
  if (model.beam.resolved_beam_type == BeamType::Cerveny) {
    add_complex_q_beam(trace, launch, model, scratch, out);
  } else {
    add_geometric_beam(trace, launch, model, scratch, out);
  }
}

}  // namespace abyx
