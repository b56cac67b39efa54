#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace abyx {

// A count in decimal, for messages.
inline std::string decimal_text(std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

}  // namespace abyx
