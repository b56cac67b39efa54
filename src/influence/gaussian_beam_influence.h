#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "bty/bty_field.h"
#include "common/complex32.h"
#include "influence/pressure_field.h"
#include "influence/receiver_index.h"
#include "rays/ray_state.h"

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
};

// An array receiver near a beam: its point and its index.
struct NearReceiver {
  Vec3 point;          // (m)
  std::size_t id = 0;  // index in the field's receiver list
};

// Array receivers gathered from the index for the segments ahead: the reach of the segment that
// gathered them, carried forward along its axis. Segments whose reach lies inside the region reuse
// the list instead of searching the index again, and read only the slices of it along the axis
// that they can reach.
struct GatheredReceivers {
  bool valid = false;                    // false until the first gathering of a ray
  Vec3 lo, hi;                           // box of the region (m)
  Vec3 start, axis;                      // the region lies between two planes across this axis...
  float s_lo = 0.0f, s_hi = 0.0f;        // ...at these distances from start along it (m)
  float slices_per_m = 0.0f;             // slices of the region along the axis per metre
  std::vector<NearReceiver> receivers;   // the receivers inside the region, slice by slice
  std::vector<std::size_t> slice_start;  // first receiver of every slice, then the end
  std::vector<NearReceiver> unsorted;    // working list of the gathering
  std::vector<std::size_t> slice_of;     // working list of the gathering
};

// The beam sum's working arrays, kept by one worker from ray to ray so that their memory is
// allocated once; what they hold between calls is never read.
struct BeamScratch {
  std::vector<float> kmah;          // caustic phase accumulated up to each state (rad)
  std::vector<float> search_width;  // search width of each segment (m)
  std::vector<Complex32> refl;      // running bottom reflection product per frequency
  GatheredReceivers gathered;       // array receivers near the segments under way
};

// Adds the Gaussian beam around one traced ray to the field, for every angular frequency (rad/s).
// Rescales amp, q1, q2 and rewrites det_q of the states in place. Throws Fault, before anything is
// changed, when the field lacks its array points or disagrees with its shape or with omegas.
// array_index is the index of the field's array receivers, built once per run (unused for a grid
// field); a different point count is a Fault too.
void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch, const ReceiverIndex& array_index,
                             BeamScratch& scratch);

// The same for a single ray, building the receiver index and working arrays itself.
void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch);

// The index of a field's array receivers; empty for a grid field.
ReceiverIndex index_field_receivers(const PressureField& field);

// How the receivers of a segment are searched; both give the same field, bit for bit.
enum class ReceiverSearch {
  Exhaustive,  // every receiver of the segment's bounding box (array mode: every receiver)
  Narrowed,    // only the receivers the segment's beam can reach
};

// What one beam added, for benchmarks and diagnostics.
struct BeamInfluenceCounts {
  std::size_t candidates = 0;     // receivers tested against a segment
  std::size_t contributions = 0;  // receivers that took a segment's contribution
};

// gaussian_beam_influence with the receiver search chosen (it uses Narrowed); returns the counts.
BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search,
                                      const ReceiverIndex& array_index, BeamScratch& scratch);

// The same, building the receiver index and working arrays itself.
BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search);

}  // namespace abyx
