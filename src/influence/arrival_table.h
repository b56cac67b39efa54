#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/checked_size.h"
#include "common/complex32.h"
#include "common/vec3.h"

namespace abyx {

// How contributions are gathered into arrivals, fixed for one run.
struct ArrivalSettings {
  std::size_t kept = 0;       // arrivals returned per receiver at most (max_arrivals)
  std::size_t capacity = 0;   // paths gathered per receiver at once, room for the kept ones
  std::vector<float> omegas;  // angular frequencies (rad/s)
  float tolerance_s = 0.0f;   // a path's contributions lie this close to its mean delay (s)
  std::int64_t azimuth_count = 0;
  std::int64_t elevation_count = 0;
  bool azimuth_wraps = false;  // the fan's azimuths close the circle: the last neighbours the first
};

// Paths a receiver gathers at once for max_arrivals kept: twice as many, counted in 32 bits.
inline std::uint64_t arrival_capacity(std::uint64_t max_arrivals) {
  return std::min(saturating_multiply(max_arrivals, 2), std::uint64_t{1} << 31);
}

// Settings for max_arrivals per receiver: a quarter period of the highest frequency as tolerance,
// arrival_capacity of working room; the azimuths wrap when azimuth_count steps of
// d_azimuth_rad make a full turn.
ArrivalSettings make_arrival_settings(std::size_t max_arrivals, const std::vector<float>& omegas,
                                      std::int64_t azimuth_count, std::int64_t elevation_count,
                                      float d_azimuth_rad);

// One path at one receiver while its contributions come in.
struct ArrivalBin {
  double weighted_delay;    // sum of weight x delay (s)
  double weight;            // sum of the contributions' delay weights
  double magnitude;         // sum of the contributions' magnitudes at the first frequency
  float reference_s;        // the delay the sums are referred to (s)
  float strongest;          // delay weight of the most central contribution
  float peak;               // magnitude of the largest contribution
  std::uint64_t ray;        // ray of the strongest contribution
  std::uint64_t segment;    // state that ends its segment
  Vec3 direction;           // the ray's tangent there, towards the receiver
  std::uint32_t n_surface;  // bounce counts of the path
  std::uint32_t n_bottom;
  std::int64_t elevation_lo;  // launch indices of the rays seen, inclusive; the azimuths
  std::int64_t elevation_hi;  // may run past the fan's last when it wraps
  std::int64_t azimuth_lo;
  std::int64_t azimuth_hi;
};

// Bytes a receiver's bin takes while it gathers, beside its nf sums: the bin, its bounce counts
// and its place in the heap of the weakest.
inline constexpr std::uint64_t kArrivalBinBytes =
    sizeof(ArrivalBin) + sizeof(std::uint64_t) + 2 * sizeof(std::uint32_t);

// A contribution, or a path, whose delay weight is below this fraction of its magnitude lies in the
// far tails of wide beams, well outside the ray tubes.
inline constexpr double kOutlyingWeight = 1e-3;

// One contribution of a ray's segment to a receiver.
// Its delay weight is its magnitude for a beam that stays within its ray tube; a wider beam weighs
// its delay down with the distance from its ray in ray-tube widths, so that the delay of a path
// is that of the rays that pass closest.
struct ArrivalContribution {
  float delay_s = 0.0f;       // travel time at the receiver (s)
  float weight = 0.0f;        // delay weight
  float magnitude = 0.0f;     // magnitude at the first frequency
  std::uint64_t ray = 0;      // in the azimuth-major launch list
  std::uint64_t segment = 0;  // state that ends the segment
  Vec3 direction;             // the ray's unit tangent along the segment
  std::uint32_t n_surface = 0;
  std::uint32_t n_bottom = 0;
};

struct FreeStorage {
  void operator()(void* p) const { std::free(p); }
};

// The paths of every receiver: `capacity` bins each, with nf sums per bin. The bins are only
// allocated with the first contribution, and only the counts are cleared, so that a chunk's table
// costs what it touches.
struct ArrivalTable {
  std::shared_ptr<const ArrivalSettings> settings;  // null: the run gathers no arrivals
  std::size_t receivers = 0;
  std::vector<std::uint32_t> counts;  // bins in use per receiver; empty before the first
  std::unique_ptr<ArrivalBin[], FreeStorage> bins;
  std::unique_ptr<Complex32[], FreeStorage> sums;  // per bin, every frequency, referred to its
                                                   // reference_s: sum of p exp(-i w reference_s)
  std::vector<double> fold_delays;                 // working room of a full receiver's folding
  // per receiver: 1 while a fold of its full bins would find nothing, its bins' bounce counts
  // and outlying marks unchanged since one found nothing
  std::vector<std::uint8_t> fold_futile;
  // per bin: a full receiver's bins as a binary heap, weakest on top (smallest largest
  // contribution, then lowest index), and where each bin stands in it; per receiver: whether its
  // heap is built, which it is from the first eviction until a fold makes room
  // per bin: its bounce counts, side by side, for the search of a contribution's path
  std::unique_ptr<std::uint64_t[], FreeStorage> bounce_keys;
  std::unique_ptr<std::uint32_t[], FreeStorage> weak_heap;
  std::unique_ptr<std::uint32_t[], FreeStorage> heap_place;
  std::vector<std::uint8_t> heap_built;

  bool gathering() const { return settings != nullptr; }
};

// Where one contribution goes: its bin and that bin's sums (null when the receiver's bins all hold
// stronger paths and this one is dropped).
struct ArrivalSlot {
  ArrivalBin* bin = nullptr;
  Complex32* sums = nullptr;
};

ArrivalTable init_arrival_table(std::shared_ptr<const ArrivalSettings> settings,
                                std::size_t receivers);

// Throws Fault unless `table` is null or gathers for `receivers` receivers and nf frequencies.
void check_arrival_table(const ArrivalTable* table, std::size_t receivers, std::size_t nf);

// The bin of the path the contribution belongs to at receiver `cell`, its delay and weight counted:
// same bounce counts, launch angles next to those seen, delay within the tolerance of the path's
// mean. A new path takes a free bin, or that of the path whose largest contribution is the
// smallest, if smaller than this one.
// The caller adds its pressure, referred to bin->reference_s, to the slot's sums.
ArrivalSlot gather_arrival(ArrivalTable& table, std::size_t cell,
                           const ArrivalContribution& contribution);

// Adds right's paths into left's: a path found in both (by the same rule, launch ranges touching)
// becomes one. Throws Fault when the tables do not belong to the same run.
void merge_arrival_tables(ArrivalTable& left, ArrivalTable&& right);

// The kept arrivals, flat, ordered by receiver then delay.
struct ArrivalList {
  std::vector<std::uint64_t> receiver;
  std::vector<float> delay_s;  // amplitude-weighted mean delay (s)
  std::vector<std::uint32_t> n_surface;
  std::vector<std::uint32_t> n_bottom;
  std::vector<std::uint64_t> ray;  // azimuth-major: azimuth ray / n_el, elevation ray % n_el
  std::vector<std::uint64_t> segment;
  std::vector<Vec3> direction;       // the central ray's tangent at the receiver's foot
  std::vector<Complex32> amplitude;  // nf x arrivals, frequency first: p = sum A exp(i w delay)

  std::size_t size() const { return delay_s.size(); }
};

// Each receiver's strongest paths by |amplitude| at the first frequency (ties: the earlier), at
// most settings.kept, each amplitude referred to its mean delay. A path whose contributions all
// came from rays far from the receiver (delay weight below a thousandth of its magnitude: the tails
// of wide beams) is part of the nearest-delay path of its bounce counts that has rays near it.
ArrivalList list_arrivals(const ArrivalTable& table);

}  // namespace abyx
