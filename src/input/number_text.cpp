#include "input/number_text.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace abyx {

namespace {

// Large enough for any shortest scientific form of a float or double.
constexpr std::size_t kNumberBufferSize = 64;

std::string_view non_finite_text(double value) {
  if (std::isnan(value)) return "nan";
  return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string format_f32_positional(float value) {
  if (!std::isfinite(value)) return std::string(non_finite_text(value));

  // The shortest scientific form gives the digits and the decimal exponent: "-2.5e+00".
  char buffer[kNumberBufferSize];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + kNumberBufferSize, value, std::chars_format::scientific);
  const std::string_view scientific(buffer, ec == std::errc() ? end - buffer : 0);

  std::string digits;
  std::size_t k = 0;
  const bool negative = !scientific.empty() && scientific[0] == '-';
  if (negative) ++k;
  for (; k < scientific.size() && scientific[k] != 'e'; ++k) {
    if (scientific[k] != '.') digits += scientific[k];
  }
  int exponent = 0;
  if (k < scientific.size()) {
    std::string_view exponent_text = scientific.substr(k + 1);
    if (!exponent_text.empty() && exponent_text[0] == '+') exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  }

  // The value is 0.d1d2d3... times 10^(exponent + 1).
  std::string text = negative ? "-" : "";
  const int integer_digits = exponent + 1;
  if (integer_digits <= 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-integer_digits), '0');
    text += digits;
  } else if (static_cast<std::size_t>(integer_digits) >= digits.size()) {
    text += digits;
    text.append(static_cast<std::size_t>(integer_digits) - digits.size(), '0');
  } else {
    text.append(digits, 0, static_cast<std::size_t>(integer_digits));
    text += '.';
    text.append(digits, static_cast<std::size_t>(integer_digits));
  }
  return text;
}

std::string format_f64_shortest(double value) {
  if (!std::isfinite(value)) return std::string(non_finite_text(value));
  char buffer[kNumberBufferSize];
  const auto [end, ec] = std::to_chars(buffer, buffer + kNumberBufferSize, value);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  // An integral value written without a point or exponent still has to read as a float.
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

}  // namespace abyx
