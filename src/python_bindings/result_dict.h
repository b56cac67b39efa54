#pragma once

#include <string_view>

#include "engine/core.h"
#include "engine/memory_budget.h"
#include "input/simulation_config.h"
#include "python_bindings/py_ref.h"

namespace abyx {

// Fault raised when an array-mode field carries no receiver positions.
inline constexpr std::string_view kArrayModeWithoutPositionsMessage =
    "receiver_positions_m present for array mode";
// Fault raised when the field's arrays disagree with its shape.
inline constexpr std::string_view kFieldShapeMismatchMessage =
    "pressure field arrays do not match its shape";

// What one point of "ray_paths" costs the interpreter: a list of three floats and its slot in the
// path's list take 160 bytes as allocated and about 205 as the process's memory grows. An arrival
// takes seven list slots and up to five new numbers, and two floats with their slots per
// frequency. A number of the field's lists is a float and its slot.
inline constexpr ResultCosts kResultDictCosts{208, 200, 64, 32};

// Converts the engine's result into the caller's dict: "ray_paths" (when stored) and
// "pressure_field" with flat row-major lists of the f32 values widened to Python floats.
// Returns null with RuntimeError("failed to set <key>: ...") set when storing an entry fails;
// throws Fault when the field breaks its own invariants.
PyRef build_result_dict(const CoreResult& result, const SimulationConfig& config);

}  // namespace abyx
