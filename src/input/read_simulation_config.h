#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/simulation_config.h"

namespace abyx {

// Outcome of reading: the record with its unknown-key paths, or one message and nothing else.
struct ReadConfigResult {
  std::optional<SimulationConfig> config;      // present on success
  std::vector<std::string> unknown_key_paths;  // document order, e.g. "beam.note" (success only)
  std::string error;                           // "<message> at line L column C" on failure
  // On failure, where the problem lies and what that field takes ("in source.position, which
  // takes exactly three numbers: x, y and z (m)"); empty when a whole record is at fault.
  std::string note;
};

// Reads the JSON text (UTF-8) straight into a SimulationConfig.
ReadConfigResult read_simulation_config(std::string_view json_text);

}  // namespace abyx
