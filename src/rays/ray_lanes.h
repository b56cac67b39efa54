#pragma once

#include <cmath>
#include <type_traits>

#include "common/float4.h"
#include "common/float4_math.h"

// The operations the ray equations take on one ray (a float) or on four rays side by side (a
// Float4, one ray to a lane), so that one text of the equations serves both: every lane rounds as
// the float operation does, and where the one ray branches the lanes select. The beam sums take
// the same operations on eight receivers at once (a Float8).

namespace abyx {

// v in every lane.
template <class L>
inline L lane_splat(float v) {
  if constexpr (std::is_same_v<L, float>) {
    return v;
  } else {
    return splat<L>(v);
  }
}

inline float lane_select(bool mask, float yes, float no) { return mask ? yes : no; }
inline Float4 lane_select(Int4 mask, Float4 yes, Float4 no) { return select4(mask, yes, no); }
#if defined(__AVX__)
inline Float8 lane_select(Int8 mask, Float8 yes, Float8 no) { return mask ? yes : no; }
#endif

inline float lane_sqrt(float v) { return std::sqrt(v); }
inline Float4 lane_sqrt(Float4 v) { return sqrt4(v); }
#if defined(__AVX__)
inline Float8 lane_sqrt(Float8 v) { return sqrt8(v); }
#endif

// Where the value is finite.
inline bool lane_finite(float v) { return std::isfinite(v); }
inline Int4 lane_finite(Float4 v) { return is_finite4(v); }
#if defined(__AVX__)
inline Int8 lane_finite(Float8 v) { return is_finite_lanes(v); }
#endif

// Lane by lane, whether every mask holds.
template <class Mask, class... Rest>
inline Mask lane_and(Mask first, Rest... rest) {
  if constexpr (std::is_same_v<Mask, bool>) {
    // bitwise like the lanes, without a branch per mask
    return (static_cast<unsigned>(first) & ... & static_cast<unsigned>(rest)) != 0u;
  } else {
    return (first & ... & rest);
  }
}

// Whether the mask holds in every lane.
inline bool all_lanes(bool mask) { return mask; }
inline bool all_lanes(Int4 mask) { return lane_bits(mask) == 0xfu; }

}  // namespace abyx
