#pragma once

#include <vector>

#include "common/complex32.h"
#include "influence/complex_q_beam.h"
#include "influence/receiver_search.h"
#include "influence/reflection_product.h"

namespace abyx {

// The geometric beam sum's working arrays, kept from ray to ray.
struct GeometricBeamScratch {
  std::vector<float> kmah;  // caustic phase accumulated up to each state (rad)
  // per segment, padded to whole vectors: |d|^2 (m^2), |d| (m) and the search radius (m)
  std::vector<float> segment_length_sq;
  std::vector<float> segment_length;
  std::vector<float> segment_radius;
  GatheredReceivers gathered;  // array receivers near the segments under way
};

// The beam sums' working arrays, kept by one worker from ray to ray so that their memory is
// allocated once; what they hold between calls is never read.
struct BeamScratch {
  ReflectionProduct reflection;
  std::vector<float> absorbed_np;  // the water's absorption up to each state, per frequency
  std::vector<float>
      losses;  // exp(-absorption) at a receiver and at its segment's start, per frequency
  GeometricBeamScratch geometric;
  ComplexQBeamScratch complex_q;
};

}  // namespace abyx
