#pragma once

#include <optional>

#include "bty/height_grid.h"
#include "common/reflection_table.h"
#include "input/simulation_config.h"

namespace abyx {

// The shaped sea surface of a validated configuration, or none for the flat surface at z = 0: also
// when every node of the given surface lies at z = 0, which then takes the flat surface's own
// path, bit for bit, and when the section gives no grid. Throws Fault when the depths do not match
// the axes.
std::optional<HeightGrid> init_surface(const std::optional<SeaSurface>& surface);

// The surface's reflection table, or none for the pressure-release surface: also for a table of
// R = -1 at every angle, which then takes that surface's own path, bit for bit.
std::optional<ReflectionTable> init_surface_table(const std::optional<SeaSurface>& surface);

}  // namespace abyx
