#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "common/float4.h"
#include "common/ray_state.h"
#include "influence/arrival_table.h"
#include "influence/pressure_field.h"
#include "influence/receiver_search.h"
#include "model/receiver_index.h"

namespace abyx {

// Invariant fault: an array-mode field without its receiver points.
inline constexpr std::string_view kMissingReceiverPositionsMessage =
    "receiver_positions_m must be Some in array mode";
// Invariant fault: the field's arrays, axes or points disagree with its shape, or its frequency
// count with the list of angular frequencies.
inline constexpr std::string_view kBeamFieldMismatchMessage =
    "pressure field does not match its shape or the frequency list";

// Launch geometry of the ray whose beam is summed, in radians.
struct BeamLaunch {
  float elevation_rad = 0.0f;    // launch elevation beta
  float d_azimuth_rad = 0.0f;    // azimuth spacing of the fan
  float d_elevation_rad = 0.0f;  // elevation spacing of the fan
  std::uint64_t ray_index = 0;   // in the azimuth-major launch list
};

// The symmetric matrix M = P Q^-1 (M11, M12, M22) of a complex-Q beam and the root of
// det Q(0) / det Q, at one point of its ray.
struct CervenyBeamForm {
  std::complex<double> m11, m12, m22;
  std::complex<double> root;
};

// The receivers that a run of complex-Q segments found and offers to one of its segments, their
// points coordinate by coordinate. The lists always hold kPadding entries more than `count`, so
// that four load from any receiver's index.
struct CervenyOffers {
  static constexpr std::size_t kPadding = 3;
  std::vector<float> x, y, z;  // (m)
  std::vector<std::size_t> cells;
  std::size_t count = 0;

  void add(Vec3 p, std::size_t cell) {
    if (count + kPadding >= cells.size()) {
      const std::size_t size = std::max<std::size_t>(64, 2 * cells.size());
      x.resize(size);
      y.resize(size);
      z.resize(size);
      cells.resize(size);
    }
    x[count] = p.x;
    y[count] = p.y;
    z[count] = p.z;
    cells[count] = cell;
    ++count;
  }
};

// A segment's beam form of one parameter set, in floats for four receivers at once: M and the
// root at its start A, their change to its end B, and what continuing straight on from A takes.
struct CervenySegmentForm {
  Complex32 m11, m12, m22, root;   // at A
  Complex32 d11, d12, d22, droot;  // B - A
  Complex32 trace, det, root_sq;   // tr M, det M and root^2 at A
};

// What the arrivals take of four receivers at one frequency: the lanes' delays, magnitudes and
// roots, and which lanes the frequency reached.
struct CervenyLaneValues {
  Float4 delay, magnitude, root_re, root_im;
  unsigned reached = 0;
};

// The beam sum's working arrays, kept by one worker from ray to ray so that their memory is
// allocated once; what they hold between calls is never read.
struct BeamScratch {
  std::vector<float> kmah;          // caustic phase accumulated up to each state (rad)
  std::vector<float> search_width;  // search width of each segment (m)
  std::vector<Complex32> refl;      // running bottom reflection product per frequency
  GatheredReceivers gathered;       // array receivers near the segments under way
  // complex-Q beams only
  std::vector<std::complex<double>> beam_eps;  // e1, e2 of each parameter set
  std::vector<CervenyBeamForm>
      beam_forms;                     // M = P Q^-1 and sqrt(det Q(0) / det Q) per state and set
  std::vector<float> beam_reach;      // reach of the beam across each state (m)
  std::vector<CervenyOffers> offers;  // per segment of the run under way
  std::vector<CervenySegmentForm> segment_forms;  // per set, of the segment under way
  std::vector<CervenyLaneValues> lane_values;     // per frequency, for the arrivals
};

// Throws the field faults named above when the field cannot take a beam of nf frequencies.
void check_beam_field(const PressureField& field, std::size_t nf, const ReceiverIndex& array_index);

// Adds the Gaussian beam around one traced ray to the field, for every angular frequency (rad/s).
// Rescales amp, q1, q2 and rewrites det_q of the states in place. Throws Fault, before anything is
// changed, when the field lacks its array points or disagrees with its shape or with omegas.
// array_index is the index of the field's array receivers, built once per run (unused for a grid
// field); a different point count is a Fault too. With `arrivals`, every contribution is also
// gathered into the arrival of its path.
void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch, const ReceiverIndex& array_index,
                             BeamScratch& scratch, ArrivalTable* arrivals = nullptr);

}  // namespace abyx
