#include "python_bindings/simd_flavour.h"

#include <cstdlib>
#include <string_view>

namespace abyx {
namespace {

bool processor_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace

SimdChoice choose_simd_flavour(bool avx2_built) {
  const char* raw = std::getenv(kSimdVariable);
  const std::string_view asked = raw != nullptr ? raw : "";
  const bool can_avx2 = avx2_built && processor_has_avx2();
  if (asked.empty()) return {can_avx2, {}};
  if (asked == "baseline") return {false, {}};
  const std::string variable = kSimdVariable;
  if (asked != "avx2") {
    return {false,
            variable + " must be \"baseline\" or \"avx2\", got \"" + std::string(asked) + "\""};
  }
  if (!avx2_built) return {false, variable + "=avx2, but this build of abyx has no AVX2 flavour"};
  if (!can_avx2) return {false, variable + "=avx2, but this processor has no AVX2"};
  return {true, {}};
}

}  // namespace abyx
