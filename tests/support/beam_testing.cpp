#include "support/beam_testing.h"

#include <bit>

#include "influence/geometric_beam_sum.h"

namespace abyx {
namespace {

// Every receiver of the segment's bounding box: the reach is not used to narrow the search.
struct ExhaustiveSearch {
  static bool rules_out(const PressureField&, const GatheredReceivers&, Vec3, Vec3, float) {
    return false;
  }
  static SegmentReach bounds(SegmentReach reach) {
    reach.bounded = false;
    return reach;
  }
};

struct CountingTally {
  BeamInfluenceCounts counts;
  void add(unsigned lanes, unsigned taken) {
    counts.candidates += static_cast<std::size_t>(std::popcount(lanes));
    counts.contributions += taken;
  }
};

}  // namespace

Model beam_model(const PressureField& field, const BTYfield& bty, std::span<const float> omegas) {
  Model model;
  model.bty = bty;
  model.omegas.assign(omegas.begin(), omegas.end());
  model.layout = field.layout;
  if (field.is_array() && field.receiver_positions_m) {
    model.array_index = build_receiver_index(*field.receiver_positions_m);
  }
  return model;
}

BeamInfluenceCounts add_gaussian_beam(const RayTrace& trace, const BeamLaunch& launch,
                                      const Model& model, ReceiverSearch search,
                                      BeamScratch& scratch, BeamOutputs& out) {
  CountingTally tally;
  if (search == ReceiverSearch::Exhaustive) {
    sum_geometric_beam<ExhaustiveSearch>(trace, launch, model, scratch, out, tally);
  } else {
    sum_geometric_beam<NarrowedSearch>(trace, launch, model, scratch, out, tally);
  }
  return tally.counts;
}

BeamInfluenceCounts add_gaussian_beam(const RayTrace& trace, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search) {
  BeamScratch scratch;
  BeamOutputs out{field};
  return add_gaussian_beam(trace, launch, beam_model(field, bty, omegas), search, scratch, out);
}

}  // namespace abyx
