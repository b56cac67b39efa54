#pragma once

#include <string>

// A build for x86-64 may carry the module twice: the baseline one, which runs on any processor,
// and an AVX2 flavour beside it, which gives the same bits in fewer instructions. The baseline
// module, once imported, hands the process to the flavour that suits the processor.

namespace abyx {

// The environment variable that picks a flavour; unset, the processor's best is taken.
inline constexpr const char* kSimdVariable = "ABYX_SIMD";

struct SimdChoice {
  bool avx2 = false;
  std::string refusal;  // why the flavour asked for cannot serve; empty when one can
};

// The flavour for this process, given whether the build carries the AVX2 one.
SimdChoice choose_simd_flavour(bool avx2_built);

}  // namespace abyx
