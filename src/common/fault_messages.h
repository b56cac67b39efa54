#pragma once

#include <string_view>

namespace abyx {

// Texts of the faults of the engine, the model and the binding: set-up faults and broken
// invariants (Fault), stopped runs (Interrupted) and numbers beyond single precision
// (BeyondPrecision). A text that carries numbers is kept here as the fixed parts it is made of.

// Set-up fault: the three array receiver lists differ in length.
inline constexpr std::string_view kArrayLengthsMessage =
    "array receiver coordinates must have equal lengths";

// The environment variable that overrides the pool size, and what a bad value of it is told.
inline constexpr std::string_view kNumThreadsVariable = "ABYX_NUM_THREADS";
inline constexpr std::string_view kNumThreadsTooLargeMiddle = " must be at most ";
inline constexpr std::string_view kNumThreadsNotPositiveMiddle =
    " must be a positive integer, got ";
inline constexpr std::string_view kNumThreadsGotMiddle = ", got ";
// A worker thread the system would not start: "could not start worker thread 3 of 8: <why>".
inline constexpr std::string_view kThreadStartLead = "could not start worker thread ";
// Fault raised when a worker of the pool itself asks the pool for work.
inline constexpr std::string_view kPoolReentryMessage =
    "the worker pool cannot be used from one of its own workers";
// Fault raised when the pieces of a finished reduction do not cover every chunk.
inline constexpr std::string_view kReductionIncompleteMessage =
    "parallel reduction finished without covering every chunk";

// The text of Interrupted.
inline constexpr std::string_view kInterruptedMessage = "the run was interrupted";

// The start of every BeyondPrecision text, and what follows it for a ray and for the field.
inline constexpr std::string_view kBeyondPrecisionLead = "beyond single precision: ";
inline constexpr std::string_view kNonFiniteRayMiddle =
    " of the launch list became non-finite at step ";
inline constexpr std::string_view kNonFiniteRayTail =
    ": sound speeds, their grid spacings or the coordinates are too extreme";
inline constexpr std::string_view kNonFiniteFieldMessage =
    "the pressure field became non-finite: frequencies, sound speeds or distances are too extreme";

// Fault raised when an array-mode field carries no receiver positions.
inline constexpr std::string_view kArrayModeWithoutPositionsMessage =
    "receiver_positions_m present for array mode";
// Fault raised when the field's arrays disagree with its shape.
inline constexpr std::string_view kFieldShapeMismatchMessage =
    "pressure field arrays do not match its shape";

// Message of a PanicException whose fault carried no text.
inline constexpr std::string_view kPanicWithoutMessageText = "internal fault (no message)";
// Written to standard error before the process ends when a fault cannot be converted.
inline constexpr std::string_view kUncaughtPanicMessage = "uncaught panic at ffi boundary";

}  // namespace abyx
