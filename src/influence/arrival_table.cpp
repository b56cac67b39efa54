#include "influence/arrival_table.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>
#include <string>
#include <utility>

#include "common/checked_size.h"
#include "common/constants.h"
#include "common/fault.h"
#include "common/fault_messages.h"

namespace abyx {
namespace {

template <class T>
std::unique_ptr<T[], FreeStorage> allocate_storage(std::size_t a, std::size_t b) {
  std::size_t count = 0;
  std::size_t bytes = 0;
  if (!checked_multiply(a, b, count) || !checked_multiply(count, sizeof(T), bytes)) {
    throw std::bad_alloc();
  }
  // the elements are plain aggregates, written before they are read
  void* storage = std::malloc(std::max<std::size_t>(bytes, 1));
  if (storage == nullptr) throw std::bad_alloc();
  return std::unique_ptr<T[], FreeStorage>(static_cast<T*>(storage));
}

void allocate_bins(ArrivalTable& table) {
  const ArrivalSettings& s = *table.settings;
  table.bins = allocate_storage<ArrivalBin>(table.receivers, s.capacity);
  std::size_t bin_count = 0;
  if (!checked_multiply(table.receivers, s.capacity, bin_count)) throw std::bad_alloc();
  table.sums = allocate_storage<Complex32>(bin_count, s.omegas.size());
  table.counts.assign(table.receivers, 0);
  table.fold_futile.assign(table.receivers, 0);
  table.bounce_keys = allocate_storage<std::uint64_t>(table.receivers, s.capacity);
  // each receiver's pages are touched only once it is full
  table.weak_heap = allocate_storage<std::uint32_t>(table.receivers, s.capacity);
  table.heap_place = allocate_storage<std::uint32_t>(table.receivers, s.capacity);
  table.heap_built.assign(table.receivers, 0);
}

// One receiver's heap of its bins, weakest on top: a bin is weaker than another when its largest
// contribution is smaller, or equal at a lower index, so that the top is the bin a scan from the
// first would pick.
struct WeakHeap {
  const ArrivalBin* bins;
  std::uint32_t* at;     // heap position -> bin
  std::uint32_t* place;  // bin -> heap position
  std::uint32_t size;

  bool weaker(std::uint32_t i, std::uint32_t j) const {
    const float a = bins[at[i]].peak;
    const float b = bins[at[j]].peak;
    return a < b || (!(b < a) && at[i] < at[j]);
  }
  void swap_places(std::uint32_t i, std::uint32_t j) {
    std::swap(at[i], at[j]);
    place[at[i]] = i;
    place[at[j]] = j;
  }
  // Moves the bin at heap position i down to where it is no stronger than its children.
  void sift_down(std::uint32_t i) {
    for (;;) {
      const std::uint64_t left = 2 * std::uint64_t{i} + 1;
      if (left >= size) return;
      std::uint32_t child = static_cast<std::uint32_t>(left);
      if (left + 1 < size && weaker(child + 1, child)) ++child;
      if (!weaker(child, i)) return;
      swap_places(i, child);
      i = child;
    }
  }
};

WeakHeap weak_heap(ArrivalTable& table, std::size_t cell) {
  const std::size_t capacity = table.settings->capacity;
  return {table.bins.get() + cell * capacity, table.weak_heap.get() + cell * capacity,
          table.heap_place.get() + cell * capacity, table.counts[cell]};
}

// The weakest of a full receiver's bins, its heap built on the first call.
std::uint32_t weakest_bin(ArrivalTable& table, std::size_t cell) {
  WeakHeap heap = weak_heap(table, cell);
  if (table.heap_built[cell] == 0) {
    for (std::uint32_t b = 0; b < heap.size; ++b) heap.at[b] = heap.place[b] = b;
    for (std::uint32_t i = heap.size / 2; i-- > 0;) heap.sift_down(i);
    table.heap_built[cell] = 1;
  }
  return heap.at[0];
}

// Keeps a receiver's heap in order once bin b's largest contribution has grown (the only way a
// bin's place can change while the receiver stays full).
void note_stronger(ArrivalTable& table, std::size_t cell, std::uint32_t b) {
  if (table.heap_built[cell] == 0) return;
  WeakHeap heap = weak_heap(table, cell);
  heap.sift_down(heap.place[b]);
}

// A path gathered from the far tails of wide beams only.
bool outlying(const ArrivalBin& bin) { return !(bin.weight >= kOutlyingWeight * bin.magnitude); }

double mean_delay(const ArrivalBin& bin) {
  return bin.weight > 0.0 ? bin.weighted_delay / bin.weight : double{bin.reference_s};
}

// Whether launch index ranges [lo, hi] and [other_lo, other_hi] touch, and by which shift of the
// second (0, or a full turn of azimuths either way when they wrap).
bool ranges_touch(std::int64_t lo, std::int64_t hi, std::int64_t other_lo, std::int64_t other_hi,
                  std::int64_t turn, std::int64_t& shift) {
  const std::int64_t shifts[3] = {0, turn, -turn};
  for (std::size_t i = 0; i < (turn != 0 ? 3u : 1u); ++i) {
    if (other_lo + shifts[i] <= hi + 1 && lo <= other_hi + shifts[i] + 1) {
      shift = shifts[i];
      return true;
    }
  }
  return false;
}

std::int64_t azimuth_turn(const ArrivalSettings& s) {
  return s.azimuth_wraps ? s.azimuth_count : 0;
}

std::uint64_t bounce_key(const ArrivalBin& bin) {
  return std::uint64_t{bin.n_surface} << 32 | bin.n_bottom;
}

// Puts `path` into bin b of the receiver whose first bin and key are `bins` and `keys`.
void place_path(ArrivalBin* bins, std::uint64_t* keys, std::uint32_t b, const ArrivalBin& path) {
  bins[b] = path;
  keys[b] = bounce_key(path);
}

// The bin of the same path at this receiver, or null: same bounce counts, launch ranges touching,
// delays within the tolerance. The bounce counts are compared first, from their own list.
ArrivalBin* find_path(ArrivalBin* bins, const std::uint64_t* keys, std::uint32_t count,
                      const ArrivalSettings& s, const ArrivalBin& probe,
                      std::int64_t& azimuth_shift) {
  const std::int64_t turn = azimuth_turn(s);
  const double delay = mean_delay(probe);
  const std::uint64_t key = bounce_key(probe);
  std::int64_t ignored = 0;
  for (std::uint32_t b = 0; b < count; ++b) {
    if (keys[b] != key) continue;
    ArrivalBin& bin = bins[b];
    if (!ranges_touch(bin.elevation_lo, bin.elevation_hi, probe.elevation_lo, probe.elevation_hi, 0,
                      ignored) ||
        !ranges_touch(bin.azimuth_lo, bin.azimuth_hi, probe.azimuth_lo, probe.azimuth_hi, turn,
                      azimuth_shift)) {
      continue;
    }
    if (std::fabs(mean_delay(bin) - delay) <= s.tolerance_s) return &bin;
  }
  return nullptr;
}

// Refers the sums of one bin from delay `from` to delay `to`: each times exp(-i w (to - from)).
void refer_sums(const Complex32* sums, const std::vector<float>& omegas, double from, double to,
                Complex32* out) {
  const double shift = to - from;
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    const double theta = -double{omegas[k]} * shift;
    const Complex32 turn{static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
    out[k] = out[k] + sums[k] * turn;
  }
}

// The path of the same bounces nearest in delay to bin b that is not outlying; `count` when none.
std::uint32_t host_of(const ArrivalBin* bins, std::uint32_t count, std::uint32_t b,
                      const double* delays) {
  std::uint32_t host = count;
  double nearest = std::numeric_limits<double>::infinity();
  for (std::uint32_t h = 0; h < count; ++h) {
    const double gap = std::fabs(delays[h] - delays[b]);
    if (!outlying(bins[h]) && bins[h].n_surface == bins[b].n_surface &&
        bins[h].n_bottom == bins[b].n_bottom && gap < nearest) {
      nearest = gap;
      host = h;
    }
  }
  return host;
}

// Folds a full receiver's outlying paths into their hosts, as the list does at the end, so that
// the far tails of wide beams do not take the room of whole paths; true when room was made. A fold
// finds a host for an outlying path whenever a path of the same bounce counts is not outlying,
// whatever the delays, so once it found none it finds none again until a bin's bounce counts or
// outlying mark change: the receiver is marked futile until then, and a full receiver's new
// contributions do not fold its whole table again each.
bool fold_outlying(ArrivalTable& table, std::size_t cell) {
  if (table.fold_futile[cell] != 0) return false;
  const ArrivalSettings& s = *table.settings;
  const std::size_t nf = s.omegas.size();
  ArrivalBin* bins = table.bins.get() + cell * s.capacity;
  std::uint64_t* keys = table.bounce_keys.get() + cell * s.capacity;
  Complex32* sums = table.sums.get() + cell * s.capacity * nf;
  std::uint32_t& count = table.counts[cell];
  const std::uint32_t before = count;
  std::vector<double>& delays = table.fold_delays;
  delays.resize(count);
  for (std::uint32_t b = 0; b < count; ++b) delays[b] = mean_delay(bins[b]);
  for (std::uint32_t b = 0; b < count;) {
    const std::uint32_t host = outlying(bins[b]) ? host_of(bins, count, b, delays.data()) : count;
    if (host == count) {
      ++b;
      continue;
    }
    refer_sums(sums + b * nf, s.omegas, bins[b].reference_s, bins[host].reference_s,
               sums + host * nf);
    bins[host].peak = std::max(bins[host].peak, bins[b].peak);
    // the last path takes the place
    --count;
    place_path(bins, keys, b, bins[count]);
    delays[b] = delays[count];
    std::copy_n(sums + count * nf, nf, sums + b * nf);
  }
  const bool delays_finite = std::all_of(delays.begin(), delays.begin() + count,
                                         [](double d) { return std::isfinite(d); });
  table.fold_futile[cell] = count == before && delays_finite ? 1 : 0;
  if (count < before) table.heap_built[cell] = 0;
  return count < before;
}

// Keeps a receiver's fold mark true to its bins once `bin`, outlying or not as `was_outlying`
// says, has absorbed more: a changed mark, or a delay that no longer compares, may give a fold
// a host.
void note_absorbed(ArrivalTable& table, std::size_t cell, const ArrivalBin& bin,
                   bool was_outlying) {
  if (outlying(bin) != was_outlying || !std::isfinite(mean_delay(bin))) {
    table.fold_futile[cell] = 0;
  }
}

// Keeps a receiver's fold mark true to its bins once `path` took bin b: a fold finds nothing still
// unless b's bounce counts are now shared across the outlying mark, or b's delay does not compare.
void note_placed(ArrivalTable& table, std::size_t cell, std::uint32_t b) {
  std::uint8_t& futile = table.fold_futile[cell];
  if (futile == 0) return;
  const std::size_t first = cell * table.settings->capacity;
  const ArrivalBin* bins = table.bins.get() + first;
  const std::uint64_t* keys = table.bounce_keys.get() + first;
  const bool mark = outlying(bins[b]);
  if (!std::isfinite(mean_delay(bins[b]))) futile = 0;
  for (std::uint32_t h = 0; futile != 0 && h < table.counts[cell]; ++h) {
    if (keys[h] == keys[b] && outlying(bins[h]) != mark) futile = 0;
  }
}

// A free bin of the receiver, else its weakest if weaker than `magnitude`; none: the largest index.
std::uint32_t open_bin(ArrivalTable& table, std::size_t cell, float magnitude) {
  const ArrivalSettings& s = *table.settings;
  std::uint32_t& count = table.counts[cell];
  if (count < s.capacity || fold_outlying(table, cell)) return count++;
  const ArrivalBin* bins = table.bins.get() + cell * s.capacity;
  const std::uint32_t weakest = weakest_bin(table, cell);
  // Compared by their largest contributions, not their sums: a path's first contributions are the
  // tails of its beams, far weaker than the sum of a weak path seen whole.
  return bins[weakest].peak < magnitude ? weakest : std::numeric_limits<std::uint32_t>::max();
}

void absorb(ArrivalBin& into, const ArrivalBin& from, std::int64_t azimuth_shift) {
  into.weighted_delay += from.weighted_delay;
  into.weight += from.weight;
  into.magnitude += from.magnitude;
  into.peak = std::max(into.peak, from.peak);
  if (from.strongest > into.strongest) {
    into.strongest = from.strongest;
    into.ray = from.ray;
    into.segment = from.segment;
    into.direction = from.direction;
  }
  into.elevation_lo = std::min(into.elevation_lo, from.elevation_lo);
  into.elevation_hi = std::max(into.elevation_hi, from.elevation_hi);
  into.azimuth_lo = std::min(into.azimuth_lo, from.azimuth_lo + azimuth_shift);
  into.azimuth_hi = std::max(into.azimuth_hi, from.azimuth_hi + azimuth_shift);
}

}  // namespace

ArrivalSettings make_arrival_settings(std::size_t max_arrivals, const std::vector<float>& omegas,
                                      std::int64_t azimuth_count, std::int64_t elevation_count,
                                      float d_azimuth_rad) {
  ArrivalSettings s;
  s.kept = max_arrivals;
  s.capacity = static_cast<std::size_t>(arrival_capacity(max_arrivals));
  s.omegas = omegas;
  float highest = 0.0f;
  for (const float omega : omegas) highest = std::max(highest, std::fabs(omega));
  s.tolerance_s =
      highest > 0.0f ? 0.25f * kTwoPi / highest : std::numeric_limits<float>::infinity();
  s.azimuth_count = azimuth_count;
  s.elevation_count = std::max<std::int64_t>(elevation_count, 1);
  const double turn = double{d_azimuth_rad} * static_cast<double>(azimuth_count);
  s.azimuth_wraps = azimuth_count > 2 && std::fabs(turn - 2.0 * kPi) < 0.5 * d_azimuth_rad;
  return s;
}

ArrivalTable init_arrival_table(std::shared_ptr<const ArrivalSettings> settings,
                                std::size_t receivers) {
  ArrivalTable table;
  table.settings = std::move(settings);
  table.receivers = receivers;
  return table;
}

void check_arrival_table(const ArrivalTable* table, std::size_t receivers, std::size_t nf) {
  if (table == nullptr) return;
  if (!table->gathering() || table->receivers != receivers ||
      table->settings->omegas.size() != nf) {
    throw Fault(std::string(kArrivalTableFieldMessage));
  }
}

ArrivalSlot gather_arrival(ArrivalTable& table, std::size_t cell, const ArrivalContribution& c) {
  const ArrivalSettings& s = *table.settings;
  if (s.capacity == 0) return {};
  if (!table.bins) allocate_bins(table);
  ArrivalBin* bins = table.bins.get() + cell * s.capacity;
  const std::int64_t elevation = static_cast<std::int64_t>(c.ray % s.elevation_count);
  const std::int64_t azimuth = static_cast<std::int64_t>(c.ray / s.elevation_count);
  // the contribution as a path of its own, which joins the path it belongs to
  ArrivalBin one{};
  one.weighted_delay = double{c.weight} * c.delay_s;
  one.weight = c.weight;
  one.magnitude = c.magnitude;
  one.reference_s = c.delay_s;
  one.strongest = c.weight;
  one.peak = c.magnitude;
  one.ray = c.ray;
  one.segment = c.segment;
  one.direction = c.direction;
  one.n_surface = c.n_surface;
  one.n_bottom = c.n_bottom;
  one.elevation_lo = one.elevation_hi = elevation;
  one.azimuth_lo = one.azimuth_hi = azimuth;
  std::int64_t shift = 0;
  std::uint64_t* keys = table.bounce_keys.get() + cell * s.capacity;
  ArrivalBin* bin = find_path(bins, keys, table.counts[cell], s, one, shift);
  if (bin != nullptr) {
    const bool was_outlying = outlying(*bin);
    const float peak = bin->peak;
    absorb(*bin, one, shift);
    note_absorbed(table, cell, *bin, was_outlying);
    if (bin->peak != peak) note_stronger(table, cell, static_cast<std::uint32_t>(bin - bins));
  } else {
    const std::uint32_t b = open_bin(table, cell, c.magnitude);
    if (b == std::numeric_limits<std::uint32_t>::max()) return {};
    bin = bins + b;
    place_path(bins, keys, b, one);
    note_stronger(table, cell, b);
    note_placed(table, cell, b);
    std::fill_n(table.sums.get() + (cell * s.capacity + b) * s.omegas.size(), s.omegas.size(),
                Complex32{});
  }
  const std::size_t index = cell * s.capacity + static_cast<std::size_t>(bin - bins);
  return {bin, table.sums.get() + index * s.omegas.size()};
}

void merge_arrival_tables(ArrivalTable& left, ArrivalTable&& right) {
  if (left.settings != right.settings || left.receivers != right.receivers) {
    throw Fault(std::string(kArrivalTablesMismatchMessage));
  }
  if (!right.bins) return;
  if (!left.bins) {
    left = std::move(right);
    return;
  }
  const ArrivalSettings& s = *left.settings;
  const std::size_t nf = s.omegas.size();
  for (std::size_t cell = 0; cell < left.receivers; ++cell) {
    const ArrivalBin* from = right.bins.get() + cell * s.capacity;
    ArrivalBin* into = left.bins.get() + cell * s.capacity;
    for (std::uint32_t b = 0; b < right.counts[cell]; ++b) {
      const ArrivalBin& path = from[b];
      const Complex32* path_sums = right.sums.get() + (cell * s.capacity + b) * nf;
      std::int64_t shift = 0;
      std::uint64_t* keys = left.bounce_keys.get() + cell * s.capacity;
      ArrivalBin* same = find_path(into, keys, left.counts[cell], s, path, shift);
      if (same == nullptr) {
        const std::uint32_t slot = open_bin(left, cell, path.peak);
        if (slot == std::numeric_limits<std::uint32_t>::max()) continue;
        place_path(into, keys, slot, path);
        note_stronger(left, cell, slot);
        note_placed(left, cell, slot);
        std::copy_n(path_sums, nf, left.sums.get() + (cell * s.capacity + slot) * nf);
        continue;
      }
      Complex32* sums = left.sums.get() + (cell * s.capacity + (same - into)) * nf;
      refer_sums(path_sums, s.omegas, path.reference_s, same->reference_s, sums);
      const bool was_outlying = outlying(*same);
      const float peak = same->peak;
      absorb(*same, path, shift);
      note_absorbed(left, cell, *same, was_outlying);
      if (same->peak != peak) note_stronger(left, cell, static_cast<std::uint32_t>(same - into));
    }
  }
}

ArrivalList list_arrivals(const ArrivalTable& table) {
  ArrivalList list;
  if (!table.gathering() || !table.bins) return list;
  const ArrivalSettings& s = *table.settings;
  const std::size_t nf = s.omegas.size();
  std::vector<Complex32> amplitudes;  // per arrival, nf each, in list order
  std::vector<std::uint32_t> order;
  std::vector<Complex32> referred;
  std::vector<double> delays;
  for (std::size_t cell = 0; cell < table.receivers; ++cell) {
    const std::uint32_t count = table.counts[cell];
    const ArrivalBin* bins = table.bins.get() + cell * s.capacity;
    referred.assign(std::size_t{count} * nf, Complex32{});
    delays.resize(count);
    for (std::uint32_t b = 0; b < count; ++b) delays[b] = mean_delay(bins[b]);
    // each path into its own sums, an outlying one into its host's, at the final delay
    order.clear();
    for (std::uint32_t b = 0; b < count; ++b) {
      std::uint32_t host = outlying(bins[b]) ? host_of(bins, count, b, delays.data()) : b;
      if (host == count) host = b;
      refer_sums(table.sums.get() + (cell * s.capacity + b) * nf, s.omegas, bins[b].reference_s,
                 delays[host], referred.data() + std::size_t{host} * nf);
      if (host == b) order.push_back(b);
    }
    const auto strength = [&](std::uint32_t b) {
      if (nf == 0) return bins[b].weight;
      const Complex32 a = referred[std::size_t{b} * nf];
      return std::hypot(double{a.re}, double{a.im});
    };
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      const double sa = strength(a);
      const double sb = strength(b);
      return sa != sb ? sa > sb : delays[a] < delays[b];
    });
    order.resize(std::min<std::size_t>(order.size(), s.kept));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return delays[a] < delays[b]; });
    for (const std::uint32_t b : order) {
      const ArrivalBin& bin = bins[b];
      list.receiver.push_back(cell);
      list.delay_s.push_back(static_cast<float>(delays[b]));
      list.n_surface.push_back(bin.n_surface);
      list.n_bottom.push_back(bin.n_bottom);
      list.ray.push_back(bin.ray);
      list.segment.push_back(bin.segment);
      list.direction.push_back(bin.direction);
      amplitudes.insert(amplitudes.end(), referred.begin() + std::size_t{b} * nf,
                        referred.begin() + (std::size_t{b} + 1) * nf);
    }
  }
  // frequency first
  const std::size_t n = list.size();
  list.amplitude.resize(n * nf);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t k = 0; k < nf; ++k) list.amplitude[k * n + j] = amplitudes[j * nf + k];
  }
  return list;
}

}  // namespace abyx
