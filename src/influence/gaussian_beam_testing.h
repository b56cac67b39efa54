#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "influence/gaussian_beam_influence.h"

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

// gaussian_beam_influence with the receiver search chosen; returns the counts.
BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search,
                                      const ReceiverIndex& array_index, BeamScratch& scratch,
                                      ArrivalTable* arrivals = nullptr);

// The same for a single ray, building the receiver index and working arrays itself.
BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch,
                                      ReceiverSearch search = ReceiverSearch::Narrowed);

}  // namespace abyx
