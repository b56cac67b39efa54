#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "common/float4.h"

namespace abyx {

// The operations the hot kernels take on one value (a float) or on four or eight side by side (a
// Float4 or Float8, one ray or receiver to a lane), so that one text of the equations serves every
// width: every lane rounds as the float operation does, and where the one value branches the
// lanes select. lane_exp and lane_sincos do not round as the library's exp, sin and cos: each is
// within a few units in the last place of the exact value (lane_sincos within 2e-6 absolute at the
// largest arguments it reduces itself), which is far below what a float phase or weight carries.

inline float lane_select(bool mask, float yes, float no) { return mask ? yes : no; }
template <class V>
inline V lane_select(MaskOf<V> mask, V yes, V no) {
  return mask ? yes : no;
}

// Square root of each lane, rounded as std::sqrt rounds.
inline float lane_sqrt(float v) { return std::sqrt(v); }
inline Float4 lane_sqrt(Float4 v) {
#if defined(__SSE__)
  return std::bit_cast<Float4>(_mm_sqrt_ps(std::bit_cast<__m128>(v)));
#else
  return Float4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}
#if defined(__AVX__)
inline Float8 lane_sqrt(Float8 v) {
  return std::bit_cast<Float8>(_mm256_sqrt_ps(std::bit_cast<__m256>(v)));
}
#endif

// Each lane of `size` with the sign of the same lane of `sign`, as std::copysign.
template <class V>
inline V lane_copysign(V size, V sign) {
  using M = MaskOf<V>;
  const M sign_bit = std::bit_cast<M>(lane_splat<V>(-0.0f));
  return std::bit_cast<V>((std::bit_cast<M>(size) & ~sign_bit) |
                          (std::bit_cast<M>(sign) & sign_bit));
}

// The magnitude of each lane, as std::fabs.
template <class V>
inline V lane_abs(V v) {
  return lane_copysign(v, lane_splat<V>(1.0f));
}

// Where the value is finite.
inline bool lane_finite(float v) { return std::isfinite(v); }
template <class V>
inline MaskOf<V> lane_finite(V v) {
  return (v - v) == lane_splat<V>(0.0f);
}

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
template <class M>
inline bool all_lanes(M mask) {
  return lane_bits(mask) == (1u << kLanesOf<M>)-1u;
}

// Nearest integer of each lane, for lanes within +-2^30.
template <class V>
inline MaskOf<V> lane_round_to_int(V v) {
  const V half =
      lane_select<V>(v >= lane_splat<V>(0.0f), lane_splat<V>(0.5f), lane_splat<V>(-0.5f));
  return __builtin_convertvector(v + half, MaskOf<V>);  // converts toward zero
}

// e^x; lanes below -87.3 (and NaN lanes) give about 1e-38, lanes above 88 about 2^127.
template <class V>
inline V lane_exp(V x) {
  using M = MaskOf<V>;
  const auto at = [](float s) { return lane_splat<V>(s); };
  x = lane_select<V>(x > at(88.0f), at(88.0f), x);
  x = lane_select<V>(x >= at(-87.3f), x, at(-87.3f));  // a NaN lane too
  const M n = lane_round_to_int(x * at(1.44269504088896341f));
  const V nf = __builtin_convertvector(n, V);
  // ln 2 in two parts, the first short enough that n times it is exact
  const V r = (x - nf * at(0.693359375f)) - nf * at(-2.12194440e-4f);
  // Taylor series of e^r to r^7: |r| <= ln 2 / 2 leaves an error below 1e-8
  V p = at(1.0f / 5040.0f);
  p = p * r + at(1.0f / 720.0f);
  p = p * r + at(1.0f / 120.0f);
  p = p * r + at(1.0f / 24.0f);
  p = p * r + at(1.0f / 6.0f);
  p = p * r + at(0.5f);
  p = p * r + at(1.0f);
  p = p * r + at(1.0f);
  return p * std::bit_cast<V>((n + 127) << 23);
}

// Lanes up to this magnitude are reduced by multiples of pi / 2 in float; larger ones call the
// library (rad).
inline constexpr float kLaneSincosLimit = 1.0e5f;

// sin and cos of each lane.
template <class V>
inline void lane_sincos(V theta, V& sine, V& cosine) {
  using M = MaskOf<V>;
  const auto at = [](float s) { return lane_splat<V>(s); };
  const M in_range = (theta <= at(kLaneSincosLimit)) & (theta >= at(-kLaneSincosLimit));
  const V x = lane_select<V>(in_range, theta, at(0.0f));
  const M j = lane_round_to_int(x * at(0.636619772367581343f));
  const V jf = __builtin_convertvector(j, V);
  // pi / 2 in three parts; j times the first is exact for |j| < 2^16
  const V r = ((x - jf * at(1.5703125f)) - jf * at(4.837512969970703125e-4f)) -
              jf * at(7.54978995489188216e-8f);
  const V r2 = r * r;
  // Taylor series on |r| <= pi / 4: to r^9 for sin, r^10 for cos, errors below 2e-9
  V s = at(1.0f / 362880.0f);
  s = s * r2 - at(1.0f / 5040.0f);
  s = s * r2 + at(1.0f / 120.0f);
  s = s * r2 - at(1.0f / 6.0f);
  s = (s * r2) * r + r;
  V c = at(-1.0f / 3628800.0f);
  c = c * r2 + at(1.0f / 40320.0f);
  c = c * r2 - at(1.0f / 720.0f);
  c = c * r2 + at(1.0f / 24.0f);
  c = c * r2 - at(0.5f);
  c = c * r2 + at(1.0f);
  // theta = j pi / 2 + r: odd j swap sine and cosine; j = 2, 3 (mod 4) negate the sine, j = 1, 2
  // the cosine
  const M swap = (j & 1) != 0;
  const V s_base = lane_select<V>(swap, c, s);
  const V c_base = lane_select<V>(swap, s, c);
  sine = lane_select<V>((j & 2) != 0, -s_base, s_base);
  cosine = lane_select<V>(((j + 1) & 2) != 0, -c_base, c_base);
  if (!all_lanes(in_range)) {
    for (int k = 0; k < kLanesOf<V>; ++k) {
      if (in_range[k] == 0) {
        sine[k] = std::sin(theta[k]);
        cosine[k] = std::cos(theta[k]);
      }
    }
  }
}

}  // namespace abyx
