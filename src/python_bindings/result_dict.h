#pragma once

#include <string_view>

#include "common/fault_messages.h"
#include "engine/core.h"
#include "engine/memory_budget.h"
#include "input/simulation_config.h"
#include "python_bindings/py_ref.h"

namespace abyx {

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
