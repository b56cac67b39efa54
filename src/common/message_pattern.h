#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace abyx {

// The pattern with each "{}" replaced by the next of the parts, in order; a "{}" without a part is
// left as it is.
inline std::string fill_pattern(std::string_view pattern,
                                std::initializer_list<std::string> parts) {
  std::string text;
  auto part = parts.begin();
  for (std::size_t at = 0; at < pattern.size();) {
    const std::size_t hole = pattern.find("{}", at);
    if (hole == std::string_view::npos || part == parts.end()) {
      text.append(pattern.substr(at));
      break;
    }
    text.append(pattern.substr(at, hole - at));
    text.append(*part++);
    at = hole + 2;
  }
  return text;
}

}  // namespace abyx
