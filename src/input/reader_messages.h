#pragma once

#include <string_view>

namespace abyx {

// Texts of the configuration reader: the JSON text layer's, then the record reader's. The reader
// adds the position (" at line 3 column 7") to every one.

// The JSON text layer.
inline constexpr std::string_view kExpectedValueMessage = "expected value";
inline constexpr std::string_view kInvalidNumberMessage = "invalid number";
inline constexpr std::string_view kInvalidLiteralMessage = "invalid literal";
inline constexpr std::string_view kTrailingCharactersMessage = "trailing characters";
inline constexpr std::string_view kTrailingCommaMessage = "trailing comma";
inline constexpr std::string_view kRecursionLimitMessage = "recursion limit exceeded";
inline constexpr std::string_view kUnexpectedEndMessage = "unexpected end of input";
inline constexpr std::string_view kUnterminatedStringMessage = "unterminated string";
inline constexpr std::string_view kControlCharacterMessage = "control character in string";
inline constexpr std::string_view kInvalidEscapeMessage = "invalid escape in string";
inline constexpr std::string_view kInvalidUnicodeEscapeMessage = "invalid unicode escape";
inline constexpr std::string_view kLoneSurrogateMessage = "lone surrogate in unicode escape";
inline constexpr std::string_view kInvalidUtf8Message = "invalid UTF-8 in string";
inline constexpr std::string_view kExpectedKeyMessage = "expected a string key";
inline constexpr std::string_view kExpectedColonMessage = "expected `:`";
inline constexpr std::string_view kExpectedCommaOrBracketMessage = "expected `,` or `]`";
inline constexpr std::string_view kExpectedCommaOrBraceMessage = "expected `,` or `}`";

// "invalid type: <found>, expected <wanted>", "invalid value: ..." and "invalid length 2, ...".
inline constexpr std::string_view kInvalidTypeLead = "invalid type: ";
inline constexpr std::string_view kInvalidValueLead = "invalid value: ";
inline constexpr std::string_view kInvalidLengthLead = "invalid length ";
inline constexpr std::string_view kExpectedMiddle = ", expected ";

// What a type error found: "string \"abc\"", "integer `5`", "floating point `1000.0`", ...
inline constexpr std::string_view kFoundStringLead = "string ";
inline constexpr std::string_view kFoundIntegerLead = "integer `";
inline constexpr std::string_view kFoundFloatLead = "floating point `";
inline constexpr std::string_view kFoundTrue = "boolean `true`";
inline constexpr std::string_view kFoundFalse = "boolean `false`";
inline constexpr std::string_view kFoundNull = "null";
inline constexpr std::string_view kFoundSequence = "sequence";
inline constexpr std::string_view kFoundMap = "map";

// What a value had to be, as the type errors name it.
inline constexpr std::string_view kWantF32 = "f32";
inline constexpr std::string_view kWantUsize = "usize";
inline constexpr std::string_view kWantSequence = "a sequence";
inline constexpr std::string_view kWantPosition = "an array of length 3";
inline constexpr std::string_view kWantBoolean = "a boolean";
inline constexpr std::string_view kWantString = "a string";
inline constexpr std::string_view kWantNull = "null";
inline constexpr std::string_view kWantStringOrF32 = "a string or f32";
inline constexpr std::string_view kWantVariantIdentifier = "variant identifier";
inline constexpr std::string_view kWantBottomModel = "internally tagged enum BottomBoundaryModel";
// "invalid length 1, expected struct Source with 4 elements"
inline constexpr std::string_view kWantStructLead = "struct ";
inline constexpr std::string_view kStructLengthMiddle = " with ";
inline constexpr std::string_view kStructLengthTail = " elements";

// Keys and variants, written "missing field `step_m`".
inline constexpr std::string_view kMissingField = "missing field";
inline constexpr std::string_view kDuplicateField = "duplicate field";
inline constexpr std::string_view kUnknownVariant = "unknown variant";
inline constexpr std::string_view kIntegrationMethodsExpected = ", expected `euler` or `rk2`";
inline constexpr std::string_view kBottomModelsExpected =
    ", expected one of `rigid`, `acoustic`, `elastic`";

// The position of every message, and the note of a field whose value could not be read: "in
// source.position, which takes exactly three numbers: x, y and z (m)".
inline constexpr std::string_view kPositionLineLead = " at line ";
inline constexpr std::string_view kPositionColumnMiddle = " column ";
inline constexpr std::string_view kFieldNoteLead = "in ";
inline constexpr std::string_view kFieldNoteMiddle = ", which takes ";

}  // namespace abyx
