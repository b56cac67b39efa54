#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "input/reader_messages.h"

namespace abyx {

// Most arrays and objects that may be open at once while values are read.
inline constexpr int kMaxOpenContainers = 127;

// A JSON number as written: an integer that fits 64 bits, or else a 64-bit float.
struct JsonNumber {
  enum class Kind { Unsigned, Negative, Float };
  Kind kind = Kind::Unsigned;        // how the text was taken
  std::uint64_t unsigned_value = 0;  // the value when Unsigned (also -0)
  std::int64_t negative_value = 0;   // the value when Negative (below zero)
  double float_value = 0.0;          // the value when Float (infinite beyond the f64 range)
};

// The nearest 32-bit float; magnitudes beyond its range become infinities.
float to_f32(const JsonNumber& number);

// "integer `5`" or "floating point `1000.0`", as in type errors.
std::string describe_number(const JsonNumber& number);

// Where a failed read stopped and why; the message does not hold the position yet.
struct JsonFailure {
  std::size_t offset = 0;  // byte offset into the text
  std::string message;     // e.g. "expected value"
};

// A 1-based line and column; columns count characters, not bytes.
struct TextPosition {
  std::size_t line = 1;    // 1-based line
  std::size_t column = 1;  // 1-based column within the line
};

// The line and column of a byte offset, found by counting from the start of the text.
TextPosition locate_offset(std::string_view text, std::size_t offset);

// A read position over JSON text. Reading functions return false after recording the first
// failure; the cursor is not used after that.
struct JsonCursor {
  std::string_view text;    // the whole document, UTF-8
  std::size_t pos = 0;      // byte offset of the next unread character
  int open_containers = 0;  // arrays and objects open and counted against the recursion limit
  JsonFailure failure;      // set by the first failed read
  std::string scratch;      // decoded text of the last key or string read into it
};

// Whether skipped values count their containers against the recursion limit.
enum class DepthRule { Counted, Uncounted };

// Records the failure (the first one wins) and returns false.
bool fail(JsonCursor& cursor, std::size_t offset, std::string message);

inline bool is_json_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

inline void skip_whitespace(JsonCursor& cursor) {
  while (cursor.pos < cursor.text.size() && is_json_whitespace(cursor.text[cursor.pos])) {
    ++cursor.pos;
  }
}

// The next character as 0..255, or -1 at the end of the text.
inline int peek_char(const JsonCursor& cursor) {
  return cursor.pos < cursor.text.size() ? static_cast<unsigned char>(cursor.text[cursor.pos]) : -1;
}

inline bool starts_number(int c) { return c == '-' || (c >= '0' && c <= '9'); }

// Reads a number at the cursor ('-' or a digit).
bool read_number(JsonCursor& cursor, JsonNumber& number);

// Reads a string at the cursor ('"') and decodes its escapes into `text`.
bool read_string(JsonCursor& cursor, std::string& text);

// Reads the word (true, false or null) at the cursor.
bool read_literal(JsonCursor& cursor, std::string_view word);

// Skips one whole value at the cursor, checking that it is well formed.
bool skip_value(JsonCursor& cursor, DepthRule rule);

// Fails with "expected value" for the character at the cursor, or "unexpected end of input".
bool fail_expected_value(JsonCursor& cursor);

// Fails with "invalid type: <found>, expected <wanted>" for the value at the cursor, or with the
// value's own error when it is malformed (an unterminated string, -Infinity, NaN).
bool fail_invalid_type(JsonCursor& cursor, std::string_view wanted);

// Steps into the array or object whose bracket is at the cursor, counting it.
bool open_container(JsonCursor& cursor);

// Steps into the array at the cursor; `has_element` tells whether a value follows.
bool begin_array(JsonCursor& cursor, bool& has_element);

// After an element: steps over the comma to the next value, or over the closing bracket.
bool continue_array(JsonCursor& cursor, bool& has_element);

// After the last element a record may take: the closing bracket, or "trailing characters".
bool end_array(JsonCursor& cursor);

// Steps into the object at the cursor; `has_member` tells whether a member follows.
bool begin_object(JsonCursor& cursor, bool& has_member);

// Reads a member's key and colon and leaves the cursor on its value. The key is decoded into
// `cursor.scratch` and stays valid until the next key or string is read.
bool read_member_key(JsonCursor& cursor, std::string_view& key);

// After a member's value: steps over the comma to the next key, or over the closing brace.
bool continue_object(JsonCursor& cursor, bool& has_member);

}  // namespace abyx
