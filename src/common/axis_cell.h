#pragma once

#include <cstddef>
#include <vector>

namespace abyx {

// Cells of a strictly increasing axis a[0..n): cell i spans [a[i], a[i + 1]] and every index lies
// in [0, max(n - 2, 0)], so a cursor can never read past its grid.

// Index of the last cell of an axis of n nodes; 0 for an axis too short to hold a cell.
inline std::size_t last_axis_cell(std::size_t n) { return n >= 2 ? n - 2 : 0; }

// The cell of a fractional cell position f of a uniform grid with cells 0..last: its whole part,
// clamped; monotone in f, and 0 for a NaN.
inline std::size_t clamped_uniform_cell(float f, std::size_t last) {
  if (!(f > 0.0f)) {
    return 0;
  }
  if (f >= static_cast<float>(last)) {
    return last;
  }
  return static_cast<std::size_t>(f);
}

// The largest i with a[i] <= p (0 when there is none), clamped to the last cell; used once per ray
// at the source. A NaN fails every comparison and gives 0.
inline std::size_t search_axis_cell(const std::vector<float>& a, float p) {
  std::size_t lo = 0;         // every node before lo is <= p
  std::size_t hi = a.size();  // no node from hi on is known to be <= p
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (a[mid] <= p) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  const std::size_t i = lo > 0 ? lo - 1 : 0;
  const std::size_t last = last_axis_cell(a.size());
  return i < last ? i : last;
}

// Moves a cell index from i to the cell of p. The comparisons are strict, so a point on either
// face of the current cell keeps it. A stored index beyond the axis is pulled back first, and a
// NaN fails every comparison and leaves the index where it is. Walking again to the same p never
// moves the index. The tracer walks three axes several times a step, so it is always inlined.
[[gnu::always_inline]] inline std::size_t walk_axis_cell(const std::vector<float>& a, float p,
                                                         std::size_t i) {
  const std::size_t n = a.size();
  if (n < 2) return 0;
  const std::size_t last = n - 2;
  // most walks end where they start: a point inside the cell or on its faces keeps it (on an
  // ascending axis, as the walk below would)
  if (i <= last && a[i] <= p && p <= a[i + 1]) return i;
  if (p <= a[0]) return 0;
  if (p >= a[n - 1]) return last;
  if (i > last) i = last;
  while (i < last && p > a[i + 1]) ++i;
  while (i > 0 && p < a[i]) --i;
  return i;
}

}  // namespace abyx
