#include "input/json_cursor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace abyx {
namespace {

struct SkipCase {
  const char* name;
  std::string text;
  std::string_view message;  // the failure, empty when the value is well formed
  std::size_t offset = 0;    // where the failure was found
  std::string decoded = {};  // a string's text
};

class SkipValue : public ::testing::TestWithParam<SkipCase> {};

// a string is read decoded, as keys and texts are; every other value skipped
TEST_P(SkipValue, NamesTheFirstFaultAndItsOffset) {
  JsonCursor cursor;
  cursor.text = GetParam().text;
  std::string decoded;
  const bool ok = GetParam().text.starts_with('"') ? read_string(cursor, decoded)
                                                   : skip_value(cursor, DepthRule::Counted);
  EXPECT_EQ(ok, GetParam().message.empty());
  EXPECT_EQ(ok ? decoded : std::string(), GetParam().decoded);
  EXPECT_EQ(ok ? cursor.pos : GetParam().text.size(), GetParam().text.size());
  EXPECT_EQ(cursor.failure.message, GetParam().message);
  EXPECT_EQ(ok ? 0 : cursor.failure.offset, GetParam().offset);
}

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

INSTANTIATE_TEST_SUITE_P(
    Texts, SkipValue,
    ::testing::Values(
        SkipCase{"Nested", R"({"a": [1, -2.5e3, "x", true, null, {}], "b": {}})", ""},
        SkipCase{"DeepestAllowed", nested(kMaxOpenContainers), ""},
        SkipCase{"TooDeep", nested(kMaxOpenContainers + 1), kRecursionLimitMessage,
                 kMaxOpenContainers},
        SkipCase{"CutShort", "[1, ", kUnexpectedEndMessage, 4},
        SkipCase{"NoValue", "}", kExpectedValueMessage, 0},
        SkipCase{"BadLiteral", "[nul]", kInvalidLiteralMessage, 1},
        SkipCase{"LoneMinus", "-", kInvalidNumberMessage, 1},
        SkipCase{"ObjectMissingComma", R"({"a": 1 "b": 2})", kExpectedCommaOrBraceMessage, 8},
        SkipCase{"TrailingComma", R"({"a": 1,})", kTrailingCommaMessage, 8},
        SkipCase{"KeyNotString", "{1: 2}", kExpectedKeyMessage, 1},
        SkipCase{"NoColon", R"({"a" 1})", kExpectedColonMessage, 5},
        SkipCase{"Unterminated", R"("abc)", kUnterminatedStringMessage, 4},
        SkipCase{"ControlCharacter", "\"a\tb\"", kControlCharacterMessage, 2},
        SkipCase{"BadEscape", R"("a\x")", kInvalidEscapeMessage, 2},
        SkipCase{"BadUnicodeEscape", R"("\u12G4")", kInvalidUnicodeEscapeMessage, 1},
        SkipCase{"LoneLowSurrogate", R"("\udc00")", kLoneSurrogateMessage, 1},
        SkipCase{"InvalidUtf8", "\"a\xff\"", kInvalidUtf8Message, 2},
        SkipCase{"Escapes", R"("\"\\\/\b\f\n\r\t")", "", 0, "\"\\/\b\f\n\r\t"},
        SkipCase{"UnicodeEscapes", R"("\u0041\u00e9\u20ac\ud83d\ude00")", "", 0,
                 "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        SkipCase{"Utf8AndNul", "\"caf\xc3\xa9\\u0000\"", "", 0, std::string("caf\xc3\xa9\0", 6)}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

TEST(JsonCursor, KeepsTheFirstFailure) {
  JsonCursor cursor;
  cursor.text = "x";
  EXPECT_FALSE(fail(cursor, 3, "first") || fail(cursor, 1, "second"));
  EXPECT_TRUE(cursor.failure.message == "first" && cursor.failure.offset == 3);
}

TEST(JsonCursor, ReadsIntegersExactlyAndEverythingElseAsF64) {
  const auto number = [](const std::string& text) {
    JsonCursor cursor;
    cursor.text = text;
    JsonNumber read;
    EXPECT_TRUE(read_number(cursor, read)) << text;
    EXPECT_EQ(cursor.pos, text.size()) << text;
    return read;
  };
  EXPECT_EQ(number("18446744073709551615").unsigned_value,
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(number("-9223372036854775808").negative_value,
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(number("-0").kind, JsonNumber::Kind::Unsigned);       // the integer 0
  EXPECT_EQ(number("18446744073709551616").float_value, 0x1p64);  // beyond 64 bits
  EXPECT_EQ(number("1e400").float_value, std::numeric_limits<double>::infinity());
  EXPECT_EQ(to_f32(number("0.1")), static_cast<float>(0.1));
  EXPECT_EQ(to_f32(number("16777217")), 16777216.0f);  // an integer to the nearest f32
  EXPECT_EQ(to_f32(number("123456789012345678901234567890")), 1.2345679e29f);
  EXPECT_EQ(to_f32(number("-1e400")), -std::numeric_limits<float>::infinity());
  // the decimal is read to f64 first (exactly 1 + 2^-24), then the tie rounds to even
  EXPECT_EQ(to_f32(number("1.000000059604644775390625001")), 1.0f);
  EXPECT_EQ(to_f32(number("3.4028235677973366e38")), std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::signbit(to_f32(number("-0.0"))));
}

}  // namespace
}  // namespace abyx
