#pragma once

#include <string_view>

#include "engine/core.h"
#include "input/simulation_config.h"
#include "python_bindings/py_ref.h"

namespace abyx {

// Fault raised when an array-mode field carries no receiver positions.
inline constexpr std::string_view kArrayModeWithoutPositionsMessage =
    "receiver_positions_m present for array mode";
// Fault raised when the field's arrays disagree with its shape.
inline constexpr std::string_view kFieldShapeMismatchMessage =
    "pressure field arrays do not match its shape";

// Converts the engine's result into the caller's dict: "ray_paths" (when stored) and
// "pressure_field" with flat row-major lists of the f32 values widened to Python floats.
// Returns null with RuntimeError("failed to set <key>: ...") set when storing an entry fails;
// throws Fault when the field breaks its own invariants.
PyRef build_result_dict(const CoreResult& result, const SimulationConfig& config);

}  // namespace abyx
