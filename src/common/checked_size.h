#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace abyx {

// Sizes computed from configuration values can exceed what a size_t holds; these never wrap.

// a * b into out, or false (out untouched) when the product does not fit.
inline bool checked_multiply(std::size_t a, std::size_t b, std::size_t& out) {
  std::size_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return false;
  out = product;
  return true;
}

// a * b and a + b, saturating at the largest value: a saturated size is too large for any memory.
inline std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max()
                                                : product;
}

inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

}  // namespace abyx
