#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "common/float4.h"

namespace abyx {

// Lane-wise functions for the kernels that work on four or eight receivers at once. The selections,
// the square root and the sign round as their scalar versions do; exp4 and sincos4 do not round as
// the library's exp, sin and cos: each is within a few units in the last place of the exact value
// (sincos4 within 2e-6 absolute at the largest arguments it reduces itself), which is far below
// what a float phase or weight carries.

inline Float4 select4(Int4 mask, Float4 yes, Float4 no) { return mask ? yes : no; }
template <class V>
inline V select_lanes(MaskOf<V> mask, V yes, V no) {
  return mask ? yes : no;
}

// Square root of each lane, rounded as std::sqrt rounds.
inline Float4 sqrt4(Float4 v) {
#if defined(__SSE__)
  return std::bit_cast<Float4>(_mm_sqrt_ps(std::bit_cast<__m128>(v)));
#else
  return Float4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}
#if defined(__AVX__)
inline Float8 sqrt8(Float8 v) {
  return std::bit_cast<Float8>(_mm256_sqrt_ps(std::bit_cast<__m256>(v)));
}
#endif

// Each lane of `size` with the sign of the same lane of `sign`, as std::copysign.
template <class V>
inline V copysign_lanes(V size, V sign) {
  using M = MaskOf<V>;
  const M sign_bit = std::bit_cast<M>(splat<V>(-0.0f));
  return std::bit_cast<V>((std::bit_cast<M>(size) & ~sign_bit) |
                          (std::bit_cast<M>(sign) & sign_bit));
}
inline Float4 copysign4(Float4 size, Float4 sign) { return copysign_lanes(size, sign); }

// The magnitude of each lane, as std::fabs.
inline Float4 abs4(Float4 v) { return copysign4(v, broadcast4(1.0f)); }

// The lanes that hold finite values.
template <class V>
inline MaskOf<V> is_finite_lanes(V v) {
  return (v - v) == splat<V>(0.0f);
}
inline Int4 is_finite4(Float4 v) { return is_finite_lanes(v); }

// Nearest integer of each lane, for lanes within +-2^30.
template <class V>
inline MaskOf<V> round_to_int_lanes(V v) {
  const V half = select_lanes<V>(v >= splat<V>(0.0f), splat<V>(0.5f), splat<V>(-0.5f));
  return __builtin_convertvector(v + half, MaskOf<V>);  // converts toward zero
}
inline Int4 round_to_int4(Float4 v) { return round_to_int_lanes(v); }

// e^x; lanes below -87.3 (and NaN lanes) give about 1e-38, lanes above 88 about 2^127.
template <class V>
inline V exp_lanes(V x) {
  using M = MaskOf<V>;
  const auto at = [](float s) { return splat<V>(s); };
  x = select_lanes<V>(x > at(88.0f), at(88.0f), x);
  x = select_lanes<V>(x >= at(-87.3f), x, at(-87.3f));  // a NaN lane too
  const M n = round_to_int_lanes(x * at(1.44269504088896341f));
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
inline Float4 exp4(Float4 x) { return exp_lanes(x); }

// Lanes up to this magnitude are reduced by multiples of pi / 2 in float; larger ones call the
// library (rad).
inline constexpr float kSincos4Limit = 1.0e5f;

// sin and cos of each lane.
template <class V>
inline void sincos_lanes(V theta, V& sine, V& cosine) {
  using M = MaskOf<V>;
  const auto at = [](float s) { return splat<V>(s); };
  const M in_range = (theta <= at(kSincos4Limit)) & (theta >= at(-kSincos4Limit));
  const V x = select_lanes<V>(in_range, theta, at(0.0f));
  const M j = round_to_int_lanes(x * at(0.636619772367581343f));
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
  const V s_base = select_lanes<V>(swap, c, s);
  const V c_base = select_lanes<V>(swap, s, c);
  sine = select_lanes<V>((j & 2) != 0, -s_base, s_base);
  cosine = select_lanes<V>(((j + 1) & 2) != 0, -c_base, c_base);
  if (lane_bits(in_range) != (1u << kLanesOf<V>)-1u) {
    for (int k = 0; k < kLanesOf<V>; ++k) {
      if (in_range[k] == 0) {
        sine[k] = std::sin(theta[k]);
        cosine[k] = std::cos(theta[k]);
      }
    }
  }
}
inline void sincos4(Float4 theta, Float4& sine, Float4& cosine) {
  sincos_lanes(theta, sine, cosine);
}

}  // namespace abyx
