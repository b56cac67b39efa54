#include "input/json_cursor.h"

#include <charconv>
#include <limits>
#include <system_error>
#include <utility>

#include "input/number_text.h"

namespace abyx {

namespace {

// Powers of ten that a double holds exactly; with a mantissa below 2^53 one multiplication or
// division by them is correctly rounded, which makes the short decimal path exact.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kLargestExactPower = 22;
constexpr std::uint64_t kLargestExactMantissa = std::uint64_t{1} << 53;
// Digits a u64 mantissa always holds; longer numbers take the library path.
constexpr int kMantissaDigits = 19;
// Exponents are clamped here while they are accumulated; anything beyond is out of range anyway.
constexpr std::int64_t kExponentClamp = 100000;
constexpr std::uint64_t kMagnitudeOfInt64Min = std::uint64_t{1} << 63;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the four hex digits at `at`, or -1 when they are not four hex digits.
long read_hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const int digit = hex_value(text[at + k]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void append_utf8(std::string& out, unsigned long code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 when it is malformed (overlong
// forms, surrogates and code points above U+10FFFF included).
std::size_t utf8_sequence_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) {
    return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u;
  };
  const auto continuation = [](unsigned b) { return b >= 0x80 && b <= 0xBF; };
  const unsigned lead = byte(0);
  unsigned low = 0x80;  // bounds of the second byte
  unsigned high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!continuation(byte(k))) return 0;
  }
  return length;
}

// The character a one-letter escape stands for, or 0 for 'u' and for letters that escape nothing.
char escaped_character(char letter) {
  switch (letter) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

// Checks the escape whose backslash is at `p`, decoding it into `out` when given; returns its
// length in the text, or 0 after recording the failure.
std::size_t scan_escape(JsonCursor& cursor, std::size_t p, std::string* out) {
  const std::string_view text = cursor.text;
  if (p + 1 >= text.size()) {
    fail(cursor, text.size(), std::string(kUnterminatedStringMessage));
    return 0;
  }
  if (text[p + 1] != 'u') {
    const char plain = escaped_character(text[p + 1]);
    if (plain == 0) {
      fail(cursor, p, std::string(kInvalidEscapeMessage));
      return 0;
    }
    if (out) *out += plain;
    return 2;
  }
  const long unit = read_hex4(text, p + 2);
  if (unit < 0) {
    fail(cursor, p, std::string(kInvalidUnicodeEscapeMessage));
    return 0;
  }
  unsigned long code_point = static_cast<unsigned long>(unit);
  std::size_t escape_length = 6;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    fail(cursor, p, std::string(kLoneSurrogateMessage));
    return 0;
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    // a high surrogate must be followed at once by an escaped low one
    const bool escaped_next = p + 7 < text.size() && text[p + 6] == '\\' && text[p + 7] == 'u';
    const long low = escaped_next ? read_hex4(text, p + 8) : -1;
    if (low < 0xDC00 || low > 0xDFFF) {
      fail(cursor, p, std::string(kLoneSurrogateMessage));
      return 0;
    }
    code_point = 0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) +
                 (static_cast<unsigned long>(low) - 0xDC00);
    escape_length = 12;
  }
  if (out) append_utf8(*out, code_point);
  return escape_length;
}

// Reads the string at the cursor, decoding it into `out` when given; checks it either way.
bool scan_string(JsonCursor& cursor, std::string* out) {
  const std::string_view text = cursor.text;
  std::size_t p = cursor.pos + 1;
  for (;;) {
    // copy the run of plain characters in one piece
    const std::size_t run = p;
    while (p < text.size()) {
      const auto c = static_cast<unsigned char>(text[p]);
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
      ++p;
    }
    if (out) out->append(text.data() + run, p - run);
    if (p >= text.size()) return fail(cursor, text.size(), std::string(kUnterminatedStringMessage));

    const auto c = static_cast<unsigned char>(text[p]);
    if (c == '"') {
      cursor.pos = p + 1;
      return true;
    }
    if (c < 0x20) return fail(cursor, p, std::string(kControlCharacterMessage));
    if (c >= 0x80) {
      const std::size_t length = utf8_sequence_length(text, p);
      if (length == 0) return fail(cursor, p, std::string(kInvalidUtf8Message));
      if (out) out->append(text.data() + p, length);
      p += length;
      continue;
    }
    const std::size_t escape_length = scan_escape(cursor, p, out);
    if (escape_length == 0) return false;
    p += escape_length;
  }
}

// Writes decoded text the way a JSON string literal would hold it, for messages.
std::string quote_text(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '\b':
        quoted += "\\b";
        break;
      case '\f':
        quoted += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          constexpr char kHex[] = "0123456789abcdef";
          quoted += "\\u00";
          quoted += kHex[(c >> 4) & 0xF];
          quoted += kHex[c & 0xF];
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

bool skip_scalar(JsonCursor& cursor) {
  const int c = peek_char(cursor);
  if (c == '"') return scan_string(cursor, nullptr);
  if (starts_number(c)) {
    JsonNumber ignored;
    return read_number(cursor, ignored);
  }
  if (c == 't') return read_literal(cursor, "true");
  if (c == 'f') return read_literal(cursor, "false");
  if (c == 'n') return read_literal(cursor, "null");
  return fail_expected_value(cursor);
}

void close_container(JsonCursor& cursor) {
  ++cursor.pos;
  --cursor.open_containers;
}

bool fail_at_separator(JsonCursor& cursor, std::string_view expected) {
  if (peek_char(cursor) < 0) return fail(cursor, cursor.pos, std::string(kUnexpectedEndMessage));
  return fail(cursor, cursor.pos, std::string(expected));
}

}  // namespace

float to_f32(const JsonNumber& number) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      return static_cast<float>(number.unsigned_value);
    case JsonNumber::Kind::Negative:
      return static_cast<float>(number.negative_value);
    case JsonNumber::Kind::Float:
      break;
  }
  return static_cast<float>(number.float_value);
}

std::string describe_number(const JsonNumber& number) {
  char buffer[32];
  std::to_chars_result written{buffer, std::errc()};
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      written = std::to_chars(buffer, buffer + sizeof buffer, number.unsigned_value);
      break;
    case JsonNumber::Kind::Negative:
      written = std::to_chars(buffer, buffer + sizeof buffer, number.negative_value);
      break;
    case JsonNumber::Kind::Float:
      return std::string(kFoundFloatLead) + format_f64_shortest(number.float_value) + "`";
  }
  return std::string(kFoundIntegerLead) + std::string(buffer, written.ptr) + "`";
}

TextPosition locate_offset(std::string_view text, std::size_t offset) {
  if (offset > text.size()) offset = text.size();
  TextPosition position;
  for (std::size_t k = 0; k < offset; ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if (c == '\n') {
      ++position.line;
      position.column = 1;
    } else if (c < 0x80 || c > 0xBF) {
      ++position.column;  // continuation bytes belong to the character before them
    }
  }
  return position;
}

bool fail(JsonCursor& cursor, std::size_t offset, std::string message) {
  if (cursor.failure.message.empty()) {
    cursor.failure.offset = offset;
    cursor.failure.message = std::move(message);
  }
  return false;
}

namespace {

// A number's digits as read: the value is mantissa * 10^exponent; digits past the 19th are
// dropped (and marked inexact).
struct NumberDigits {
  std::uint64_t mantissa = 0;
  int kept_digits = 0;
  std::int64_t exponent = 0;
  bool inexact = false;
  bool integral = true;  // no fraction and no exponent
};

// Records "invalid number" at p; returns 0, the end of no number.
std::size_t fail_number(JsonCursor& cursor, std::size_t p) {
  fail(cursor, p, std::string(kInvalidNumberMessage));
  return 0;
}

// The integer part at p: 0 or a digit 1-9 and more digits; returns where it ends, or 0 after
// recording the failure (an integer part never ends at the start of the text).
std::size_t scan_integer_part(JsonCursor& cursor, std::size_t p, NumberDigits& digits) {
  const std::string_view text = cursor.text;
  const std::size_t size = text.size();
  if (p >= size || !is_digit(text[p])) return fail_number(cursor, p);
  if (text[p] == '0') {
    ++p;
    if (p < size && is_digit(text[p])) return fail_number(cursor, p);
    return p;
  }
  for (; p < size && is_digit(text[p]); ++p) {
    if (digits.kept_digits < kMantissaDigits) {
      digits.mantissa = digits.mantissa * 10 + static_cast<std::uint64_t>(text[p] - '0');
      ++digits.kept_digits;
    } else {
      ++digits.exponent;
      digits.inexact = true;
    }
  }
  return p;
}

// The fraction and the exponent after the integer part, where written; returns where the number
// ends, or 0 after recording the failure.
std::size_t scan_fraction_and_exponent(JsonCursor& cursor, std::size_t p, NumberDigits& digits) {
  const std::string_view text = cursor.text;
  const std::size_t size = text.size();
  if (p < size && text[p] == '.') {
    digits.integral = false;
    ++p;
    if (p >= size || !is_digit(text[p])) return fail_number(cursor, p);
    for (; p < size && is_digit(text[p]); ++p) {
      const auto digit = static_cast<std::uint64_t>(text[p] - '0');
      if (digits.kept_digits == 0 && digit == 0) {
        --digits.exponent;  // a leading zero of the fraction
      } else if (digits.kept_digits < kMantissaDigits) {
        digits.mantissa = digits.mantissa * 10 + digit;
        ++digits.kept_digits;
        --digits.exponent;
      } else {
        digits.inexact = true;
      }
    }
  }
  if (p < size && (text[p] == 'e' || text[p] == 'E')) {
    digits.integral = false;
    ++p;
    bool exponent_negative = false;
    if (p < size && (text[p] == '+' || text[p] == '-')) {
      exponent_negative = text[p] == '-';
      ++p;
    }
    if (p >= size || !is_digit(text[p])) return fail_number(cursor, p);
    std::int64_t written = 0;
    for (; p < size && is_digit(text[p]); ++p) {
      if (written < kExponentClamp) written = written * 10 + (text[p] - '0');
    }
    digits.exponent += exponent_negative ? -written : written;
  }
  return p;
}

// An integer that fits 64 bits stays an integer; -0 is the integer 0. `integer` is the integer
// part's text, read again when digits were dropped.
bool take_integer(std::string_view integer, bool negative, const NumberDigits& digits,
                  JsonNumber& number) {
  std::uint64_t magnitude = digits.mantissa;
  if (digits.inexact &&
      std::from_chars(integer.data(), integer.data() + integer.size(), magnitude).ec !=
          std::errc()) {
    return false;
  }
  if (!negative || magnitude == 0) {
    number.kind = JsonNumber::Kind::Unsigned;
    number.unsigned_value = magnitude;
    return true;
  }
  if (magnitude <= kMagnitudeOfInt64Min) {
    number.kind = JsonNumber::Kind::Negative;
    number.negative_value = static_cast<std::int64_t>(~magnitude + 1);
    return true;
  }
  return false;
}

// The nearest double of the number's whole text; exact where mantissa and power of ten are.
double float_value(std::string_view written, bool negative, const NumberDigits& digits) {
  const std::int64_t exponent = digits.exponent;
  if (!digits.inexact && digits.mantissa <= kLargestExactMantissa &&
      exponent >= -kLargestExactPower && exponent <= kLargestExactPower) {
    double value = static_cast<double>(digits.mantissa);
    value =
        exponent < 0 ? value / kExactPowersOfTen[-exponent] : value * kExactPowersOfTen[exponent];
    return negative ? -value : value;
  }
  double value = 0.0;
  const auto parsed = std::from_chars(written.data(), written.data() + written.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    // beyond the f64 range: huge magnitudes become infinities, tiny ones zero
    const bool huge = digits.kept_digits + exponent > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  }
  return value;
}

}  // namespace

bool read_number(JsonCursor& cursor, JsonNumber& number) {
  const std::string_view text = cursor.text;
  const std::size_t start = cursor.pos;
  std::size_t p = start;
  const bool negative = p < text.size() && text[p] == '-';
  if (negative) ++p;
  NumberDigits digits;
  const std::size_t integer_start = p;
  const std::size_t integer_end = scan_integer_part(cursor, p, digits);
  if (integer_end == 0) return false;
  const std::size_t end = scan_fraction_and_exponent(cursor, integer_end, digits);
  if (end == 0) return false;
  cursor.pos = end;
  if (digits.integral && take_integer(text.substr(integer_start, integer_end - integer_start),
                                      negative, digits, number)) {
    return true;
  }
  number.kind = JsonNumber::Kind::Float;
  number.float_value = float_value(text.substr(start, end - start), negative, digits);
  return true;
}

bool read_string(JsonCursor& cursor, std::string& text) {
  text.clear();
  return scan_string(cursor, &text);
}

bool read_literal(JsonCursor& cursor, std::string_view word) {
  if (cursor.text.substr(cursor.pos, word.size()) != word) {
    return fail(cursor, cursor.pos, std::string(kInvalidLiteralMessage));
  }
  cursor.pos += word.size();
  return true;
}

bool skip_value(JsonCursor& cursor, DepthRule rule) {
  std::string open;  // the opening bracket of every container still open, innermost last
  for (;;) {
    // a value starts here
    skip_whitespace(cursor);
    const int c = peek_char(cursor);
    if (c == '[' || c == '{') {
      if (rule == DepthRule::Counted) {
        if (!open_container(cursor)) return false;
      } else {
        ++cursor.pos;
      }
      open += static_cast<char>(c);
      skip_whitespace(cursor);
      if (peek_char(cursor) != (c == '[' ? ']' : '}')) {
        std::string_view key;
        if (c == '{' && !read_member_key(cursor, key)) return false;
        continue;  // the container's first value follows
      }
    } else if (!skip_scalar(cursor)) {
      return false;
    }

    // step over closing brackets until a comma leads to the next value
    for (;;) {
      if (open.empty()) return true;
      skip_whitespace(cursor);
      const bool in_array = open.back() == '[';
      const char close = in_array ? ']' : '}';
      const int next = peek_char(cursor);
      if (next == close) {
        ++cursor.pos;
        open.pop_back();
        if (rule == DepthRule::Counted) --cursor.open_containers;
        continue;
      }
      if (next != ',') {
        return fail_at_separator(
            cursor, in_array ? kExpectedCommaOrBracketMessage : kExpectedCommaOrBraceMessage);
      }
      ++cursor.pos;
      skip_whitespace(cursor);
      if (peek_char(cursor) == close) {
        return fail(cursor, cursor.pos, std::string(kTrailingCommaMessage));
      }
      std::string_view key;
      if (!in_array && !read_member_key(cursor, key)) return false;
      break;
    }
  }
}

bool fail_expected_value(JsonCursor& cursor) {
  if (peek_char(cursor) < 0) return fail(cursor, cursor.pos, std::string(kUnexpectedEndMessage));
  return fail(cursor, cursor.pos, std::string(kExpectedValueMessage));
}

bool fail_invalid_type(JsonCursor& cursor, std::string_view wanted) {
  const std::size_t offset = cursor.pos;
  std::string found;
  const int c = peek_char(cursor);
  if (c == '"') {
    std::string text;
    if (!read_string(cursor, text)) return false;
    found = std::string(kFoundStringLead) + quote_text(text);
  } else if (starts_number(c)) {
    JsonNumber number;
    if (!read_number(cursor, number)) return false;
    found = describe_number(number);
  } else if (c == 't' || c == 'f') {
    if (!read_literal(cursor, c == 't' ? "true" : "false")) return false;
    found = c == 't' ? kFoundTrue : kFoundFalse;
  } else if (c == 'n') {
    if (!read_literal(cursor, "null")) return false;
    found = kFoundNull;
  } else if (c == '[') {
    found = kFoundSequence;
  } else if (c == '{') {
    found = kFoundMap;
  } else {
    return skip_scalar(cursor);  // the end of the text or a character no value starts with
  }
  return fail(
      cursor, offset,
      std::string(kInvalidTypeLead) + found + std::string(kExpectedMiddle) + std::string(wanted));
}

bool open_container(JsonCursor& cursor) {
  if (cursor.open_containers >= kMaxOpenContainers) {
    return fail(cursor, cursor.pos, std::string(kRecursionLimitMessage));
  }
  ++cursor.open_containers;
  ++cursor.pos;
  return true;
}

bool begin_array(JsonCursor& cursor, bool& has_element) {
  if (!open_container(cursor)) return false;
  skip_whitespace(cursor);
  has_element = peek_char(cursor) != ']';
  if (!has_element) close_container(cursor);
  return true;
}

bool continue_array(JsonCursor& cursor, bool& has_element) {
  skip_whitespace(cursor);
  const int c = peek_char(cursor);
  if (c == ']') {
    close_container(cursor);
    has_element = false;
    return true;
  }
  if (c != ',') return fail_at_separator(cursor, kExpectedCommaOrBracketMessage);
  ++cursor.pos;
  skip_whitespace(cursor);
  if (peek_char(cursor) == ']') return fail(cursor, cursor.pos, std::string(kTrailingCommaMessage));
  has_element = true;
  return true;
}

bool end_array(JsonCursor& cursor) {
  skip_whitespace(cursor);
  const int c = peek_char(cursor);
  if (c == ']') {
    close_container(cursor);
    return true;
  }
  if (c != ',') return fail_at_separator(cursor, kExpectedCommaOrBracketMessage);
  ++cursor.pos;
  skip_whitespace(cursor);
  if (peek_char(cursor) == ']') return fail(cursor, cursor.pos, std::string(kTrailingCommaMessage));
  return fail(cursor, cursor.pos, std::string(kTrailingCharactersMessage));
}

bool begin_object(JsonCursor& cursor, bool& has_member) {
  if (!open_container(cursor)) return false;
  skip_whitespace(cursor);
  has_member = peek_char(cursor) != '}';
  if (!has_member) close_container(cursor);
  return true;
}

bool read_member_key(JsonCursor& cursor, std::string_view& key) {
  const int c = peek_char(cursor);
  if (c != '"') return fail_at_separator(cursor, kExpectedKeyMessage);
  if (!read_string(cursor, cursor.scratch)) return false;
  skip_whitespace(cursor);
  if (peek_char(cursor) != ':') return fail_at_separator(cursor, kExpectedColonMessage);
  ++cursor.pos;
  skip_whitespace(cursor);
  key = cursor.scratch;
  return true;
}

bool continue_object(JsonCursor& cursor, bool& has_member) {
  skip_whitespace(cursor);
  const int c = peek_char(cursor);
  if (c == '}') {
    close_container(cursor);
    has_member = false;
    return true;
  }
  if (c != ',') return fail_at_separator(cursor, kExpectedCommaOrBraceMessage);
  ++cursor.pos;
  skip_whitespace(cursor);
  if (peek_char(cursor) == '}') return fail(cursor, cursor.pos, std::string(kTrailingCommaMessage));
  has_member = true;
  return true;
}

}  // namespace abyx
