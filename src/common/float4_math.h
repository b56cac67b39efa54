#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "common/float4.h"

namespace abyx {

// Lane-wise functions for the kernels that work on four receivers at once. The selections, the
// square root and the sign round as their scalar versions do; exp4 and sincos4 do not round as the
// library's exp, sin and cos: each is within a few units in the last place of the exact value
// (sincos4 within 2e-6 absolute at the largest arguments it reduces itself), which is far below
// what a float phase or weight carries.

inline Float4 select4(Int4 mask, Float4 yes, Float4 no) { return mask ? yes : no; }

// Square root of each lane, rounded as std::sqrt rounds.
inline Float4 sqrt4(Float4 v) {
#if defined(__SSE__)
  return std::bit_cast<Float4>(_mm_sqrt_ps(std::bit_cast<__m128>(v)));
#else
  return Float4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

// Each lane of `size` with the sign of the same lane of `sign`, as std::copysign.
inline Float4 copysign4(Float4 size, Float4 sign) {
  const Int4 sign_bit{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
  return std::bit_cast<Float4>((std::bit_cast<Int4>(size) & ~sign_bit) |
                               (std::bit_cast<Int4>(sign) & sign_bit));
}

// The magnitude of each lane, as std::fabs.
inline Float4 abs4(Float4 v) { return copysign4(v, broadcast4(1.0f)); }

// The lanes that hold finite values.
inline Int4 is_finite4(Float4 v) { return (v - v) == broadcast4(0.0f); }

// Nearest integer of each lane, for lanes within +-2^30.
inline Int4 round_to_int4(Float4 v) {
  const Float4 half = select4(v >= broadcast4(0.0f), broadcast4(0.5f), broadcast4(-0.5f));
  return __builtin_convertvector(v + half, Int4);  // converts toward zero
}

// e^x; lanes below -87.3 (and NaN lanes) give about 1e-38, lanes above 88 about 2^127.
inline Float4 exp4(Float4 x) {
  x = select4(x > broadcast4(88.0f), broadcast4(88.0f), x);
  x = select4(x >= broadcast4(-87.3f), x, broadcast4(-87.3f));  // a NaN lane too
  const Int4 n = round_to_int4(x * broadcast4(1.44269504088896341f));
  const Float4 nf = __builtin_convertvector(n, Float4);
  // ln 2 in two parts, the first short enough that n times it is exact
  const Float4 r = (x - nf * broadcast4(0.693359375f)) - nf * broadcast4(-2.12194440e-4f);
  // Taylor series of e^r to r^7: |r| <= ln 2 / 2 leaves an error below 1e-8
  Float4 p = broadcast4(1.0f / 5040.0f);
  p = p * r + broadcast4(1.0f / 720.0f);
  p = p * r + broadcast4(1.0f / 120.0f);
  p = p * r + broadcast4(1.0f / 24.0f);
  p = p * r + broadcast4(1.0f / 6.0f);
  p = p * r + broadcast4(0.5f);
  p = p * r + broadcast4(1.0f);
  p = p * r + broadcast4(1.0f);
  return p * std::bit_cast<Float4>((n + 127) << 23);
}

// Lanes up to this magnitude are reduced by multiples of pi / 2 in float; larger ones call the
// library (rad).
inline constexpr float kSincos4Limit = 1.0e5f;

// sin and cos of each lane.
inline void sincos4(Float4 theta, Float4& sine, Float4& cosine) {
  const Int4 in_range =
      (theta <= broadcast4(kSincos4Limit)) & (theta >= broadcast4(-kSincos4Limit));
  const Float4 x = select4(in_range, theta, broadcast4(0.0f));
  const Int4 j = round_to_int4(x * broadcast4(0.636619772367581343f));
  const Float4 jf = __builtin_convertvector(j, Float4);
  // pi / 2 in three parts; j times the first is exact for |j| < 2^16
  const Float4 r = ((x - jf * broadcast4(1.5703125f)) - jf * broadcast4(4.837512969970703125e-4f)) -
                   jf * broadcast4(7.54978995489188216e-8f);
  const Float4 r2 = r * r;
  // Taylor series on |r| <= pi / 4: to r^9 for sin, r^10 for cos, errors below 2e-9
  Float4 s = broadcast4(1.0f / 362880.0f);
  s = s * r2 - broadcast4(1.0f / 5040.0f);
  s = s * r2 + broadcast4(1.0f / 120.0f);
  s = s * r2 - broadcast4(1.0f / 6.0f);
  s = (s * r2) * r + r;
  Float4 c = broadcast4(-1.0f / 3628800.0f);
  c = c * r2 + broadcast4(1.0f / 40320.0f);
  c = c * r2 - broadcast4(1.0f / 720.0f);
  c = c * r2 + broadcast4(1.0f / 24.0f);
  c = c * r2 - broadcast4(0.5f);
  c = c * r2 + broadcast4(1.0f);
  // theta = j pi / 2 + r: odd j swap sine and cosine; j = 2, 3 (mod 4) negate the sine, j = 1, 2
  // the cosine
  const Int4 swap = (j & 1) != 0;
  const Float4 s_base = select4(swap, c, s);
  const Float4 c_base = select4(swap, s, c);
  sine = select4((j & 2) != 0, -s_base, s_base);
  cosine = select4(((j + 1) & 2) != 0, -c_base, c_base);
  if (lane_bits(in_range) != 0xFu) {
    for (int k = 0; k < 4; ++k) {
      if (in_range[k] == 0) {
        sine[k] = std::sin(theta[k]);
        cosine[k] = std::cos(theta[k]);
      }
    }
  }
}

}  // namespace abyx
