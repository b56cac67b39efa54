#pragma once

#include <cstring>

namespace abyx {

// Four f32 lanes in one SSE register (a GCC/Clang vector type). Each lane rounds exactly as the
// same scalar operation would, so the hot kernels use it only to run independent operations side
// by side; no sum is ever reordered across lanes.
using Float4 = float __attribute__((vector_size(16)));

// Four consecutive floats from memory that need not be 16-byte aligned.
inline Float4 load_float4(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The same value in every lane.
inline Float4 broadcast4(float s) { return Float4{s, s, s, s}; }

}  // namespace abyx
