#pragma once

#include <string_view>

namespace abyx {

// Texts of the faults of every layer below the reader and the validator (grids, beam sum, engine,
// model and binding): set-up faults and broken invariants (Fault), stopped runs (Interrupted) and
// numbers beyond single precision (BeyondPrecision). A text that carries numbers is kept here as
// the fixed parts it is made of.

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
inline constexpr std::string_view kNonFiniteArrivalsMessage =
    "the arrivals became non-finite: frequencies, sound speeds or distances are too extreme";

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

// The faults of the environment's grids and of the beam sum's fields and tables.

// Set-up fault of the bathymetry; followed by ": nx = {}, ny = {}, bty_len = {}", then ": " and a
// description of the mismatch.
inline constexpr std::string_view kBtyShapeMismatchMessage =
    "z_bty_m does not match grid dimensions";
// Set-up fault of a shaped surface that validation let through.
inline constexpr std::string_view kSurfaceShapeMismatchMessage =
    "z_ati_m does not match grid dimensions";

// Invariant fault: an array-mode field without its receiver points.
inline constexpr std::string_view kMissingReceiverPositionsMessage =
    "receiver_positions_m must be Some in array mode";

// Invariant fault: the field's arrays, axes or points disagree with its shape, or its frequency
// count with the list of angular frequencies.
inline constexpr std::string_view kBeamFieldMismatchMessage =
    "pressure field does not match its shape or the frequency list";

// Invariant faults: arrival tables of different runs handed to the merge, or a table that does not
// fit the field the beam sum adds to.
inline constexpr std::string_view kArrivalTablesMismatchMessage =
    "arrival tables of different runs cannot be merged";
inline constexpr std::string_view kArrivalTableFieldMessage =
    "arrival table does not match the pressure field";

// Invariant fault: two fields of different shapes or modes were handed to the merge.
inline constexpr std::string_view kMergeShapeMismatchMessage =
    "pressure fields of different shapes cannot be merged";

// Set-up faults of the sound-speed grid. The shape message is followed by ": " and a description.
inline constexpr std::string_view kSspShapeMismatchMessage = "c_m_s does not match grid dimensions";
inline constexpr std::string_view kNeedNxMessage = "Need nx >= 2 for finite differences along x";
inline constexpr std::string_view kNeedNyMessage = "Need ny >= 2 for finite differences along y";
inline constexpr std::string_view kNeedNzMessage = "Need nz >= 2 for finite differences along z";

// A grid whose value list does not hold nx * ny * nz values (a broken invariant of a hand-made
// grid).
inline constexpr std::string_view kGridValuesMismatchMessage =
    "grid values do not match the grid shape";

// Texts of TooLargeForMemory, each a pattern whose "{}" take, in order, the kind of receiver layout
// or the numbers of the run; the need text follows where a pattern ends in one.
inline constexpr std::string_view kNeedBytesPattern = "need {} bytes, {} bytes are available";
inline constexpr std::string_view kFieldTooLargePattern =
    "receiver {} too large for memory: {} frequencies x {} receivers x {} bytes per worker piece, "
    "{} pieces at once with their arrival times {}";
inline constexpr std::string_view kResultListsTooLargePattern =
    "receiver {} too large for memory: {} frequencies x {} receivers returned as {} numbers each "
    "of {} bytes in the result's lists, {}";
inline constexpr std::string_view kArrivalsTooLargePattern =
    "arrivals too large for memory: max_arrivals = {} per receiver x {} receivers x {} "
    "frequencies, gathered in {} pieces at once and returned, {}; lower max_arrivals";
inline constexpr std::string_view kLaunchesTooLargePattern =
    "launch fan too large for memory: {} azimuths x {} elevations = {} rays, whose launch angles "
    "{}";
inline constexpr std::string_view kPathsTooLargePattern =
    "ray paths too large for memory: {} rays x at least {} points x {} bytes {}";
inline constexpr std::string_view kStatesTooLargePattern =
    "ray states too large for memory: max_steps + 1 = {} states x {} bytes for each of {} rays "
    "traced at once {}; lower max_steps";
inline constexpr std::string_view kRefinedSspTooLargePattern =
    "sound-speed grid too large for memory: {} nodes on its finer depth axis x {} bytes while it "
    "is built {}; give fewer nodes or set ssp.interpolation to \"nodes\"";
inline constexpr std::string_view kRunTooLargePattern =
    "run too large for memory: the fields ({} bytes), the result's lists ({} bytes), the arrivals "
    "({} bytes), the launch angles ({} bytes), the ray paths ({} bytes) and the ray states ({} "
    "bytes) are each within the memory but not together: {}";
inline constexpr std::string_view kEigenraysTooLargePattern =
    "eigenray paths too large for memory: the arrivals' paths take up to {} points beside the {} "
    "points of the ray paths, x {} bytes, {}; lower max_arrivals";
inline constexpr std::string_view kTracedPathsTooLargePattern =
    "ray paths too large for memory: the rays traced so far store {} points x {} bytes, more than "
    "the {} bytes available";

// Invariant fault: trace_rays given lists of different lengths, or more than four rays.
inline constexpr std::string_view kSideBySideMismatchMessage =
    "rays traced side by side need one launch, state list and cut-off each, at most four";

}  // namespace abyx
