#pragma once

#include <bit>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace abyx {

// Four f32 lanes in one SSE register (a GCC/Clang vector type). Each lane rounds exactly as the
// same scalar operation would, so the hot kernels use it only to run independent operations side
// by side; no sum is ever reordered across lanes.
using Float4 = float __attribute__((vector_size(16)));

// Four vectors of four lanes turned about their diagonal: afterwards lane j of the i-th vector
// holds what lane i of the j-th held.
inline void transpose4(Float4& a, Float4& b, Float4& c, Float4& d) {
  const Float4 ab_low = __builtin_shufflevector(a, b, 0, 4, 1, 5);
  const Float4 cd_low = __builtin_shufflevector(c, d, 0, 4, 1, 5);
  const Float4 ab_high = __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const Float4 cd_high = __builtin_shufflevector(c, d, 2, 6, 3, 7);
  a = __builtin_shufflevector(ab_low, cd_low, 0, 1, 4, 5);
  b = __builtin_shufflevector(ab_low, cd_low, 2, 3, 6, 7);
  c = __builtin_shufflevector(ab_high, cd_high, 0, 1, 4, 5);
  d = __builtin_shufflevector(ab_high, cd_high, 2, 3, 6, 7);
}

// Four lanes of a comparison of Float4 values: all bits set where it holds, none where not.
using Int4 = int __attribute__((vector_size(16)));

// Bit k set where lane k of the comparison holds.
inline unsigned lane_bits(Int4 mask) {
#if defined(__SSE__)
  return static_cast<unsigned>(_mm_movemask_ps(std::bit_cast<__m128>(mask)));
#else
  return static_cast<unsigned>((mask[0] & 1) | (mask[1] & 2) | (mask[2] & 4) | (mask[3] & 8));
#endif
}

#if defined(__AVX__)
// Eight f32 lanes in one AVX register. Each lane rounds as Float4's do, so a kernel gives the same
// bits at either width. (Without AVX they would travel through memory as arguments, so the
// builds without it keep to four.)
using Float8 = float __attribute__((vector_size(32)));
using Int8 = int __attribute__((vector_size(32)));

// Bit k set where lane k of the comparison holds.
inline unsigned lane_bits(Int8 mask) {
  return static_cast<unsigned>(_mm256_movemask_ps(std::bit_cast<__m256>(mask)));
}
#endif

// The lanes of a float (one), a Float4 or a Float8, and the mask its comparisons give.
template <class L>
inline constexpr int kLanesOf = static_cast<int>(sizeof(L) / sizeof(float));
template <class V>
using MaskOf = decltype(V{} < V{});

// v in every lane (a minus zero too).
template <class L>
inline L lane_splat(float v) {
  if constexpr (kLanesOf<L> == 1) {
    return v;
  } else if constexpr (kLanesOf<L> == 4) {
    return L{v, v, v, v};
  } else {
    return L{v, v, v, v, v, v, v, v};
  }
}
inline Float4 broadcast4(float s) { return lane_splat<Float4>(s); }

// Consecutive floats from memory that need not be aligned.
template <class V>
inline V load_lanes(const float* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline Float4 load_float4(const float* p) { return load_lanes<Float4>(p); }

}  // namespace abyx
