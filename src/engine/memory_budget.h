#pragma once

#include <cstddef>
#include <cstdint>

#include "influence/pressure_field.h"
#include "input/simulation_config.h"

namespace abyx {

// The memory a run may use at most: the smallest of the physical memory and the process's
// address-space and data-segment limits (bytes).
std::uint64_t available_memory_bytes();

// Throws TooLargeForMemory, naming what is too large, when the sizes known before any work starts
// cannot fit in available_bytes: the pressure fields that worker_count workers hold at once (each
// its chunk's field and the piece that chunk is folded into, every one of frequencies x receivers
// x 8 bytes plus 8 bytes of earliest arrival per receiver), the launch list, or the stored ray
// paths at their fewest points. layout is the configuration's receiver layout.
void check_run_fits_memory(const SimulationConfig& config, ReceiverLayout layout,
                           std::size_t worker_count, std::uint64_t available_bytes);

}  // namespace abyx
