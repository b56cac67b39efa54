#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "influence/beam_influence.h"

// Entry points of the beam sum for tests and benchmarks: the exhaustive receiver search that the
// narrowed one must match, and the counts of what a beam touched.

namespace abyx {

// How the receivers of a segment are searched; both give the same field, bit for bit.
enum class ReceiverSearch {
  Exhaustive,  // every receiver of the segment's bounding box (array mode: every receiver)
  Narrowed,    // only the receivers the segment's beam can reach (what runs use)
};

// What one beam added.
struct BeamInfluenceCounts {
  std::size_t candidates = 0;     // receivers tested against a segment
  std::size_t contributions = 0;  // receivers that took a segment's contribution
};

// The model a beam sum reads, for a field: the bottom, the angular frequencies and, for array
// receivers, their index; geometric beams.
Model beam_model(const PressureField& field, const BTYfield& bty, std::span<const float> omegas);

// The trace of a ray whose states are given, with no bottom hit.
inline RayTrace without_hits(std::vector<RayState> states) { return {std::move(states), {}, {}}; }

// The geometric beam with the receiver search chosen; returns the counts.
BeamInfluenceCounts add_gaussian_beam(const RayTrace& trace, const BeamLaunch& launch,
                                      const Model& model, ReceiverSearch search,
                                      BeamScratch& scratch, BeamOutputs& out);

// The same for a single ray, building the model and working arrays itself.
BeamInfluenceCounts add_gaussian_beam(const RayTrace& trace, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch,
                                      ReceiverSearch search = ReceiverSearch::Narrowed);

}  // namespace abyx
