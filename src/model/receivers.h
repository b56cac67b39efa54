#pragma once

#include <string_view>
#include <vector>

#include "common/fault_messages.h"
#include "common/vec3.h"
#include "input/simulation_config.h"

namespace abyx {

// Where the field is computed: every (x, y, z) of three axes, an explicit list of points, or every
// (range, bearing, depth) of three axes around the source.
enum class ReceiverLayout { Grid, Array, Polar };

// The layout named by config_type: "array" in any letter case is a point list, "polar" the polar
// layout, anything else the grid; read once per run.
ReceiverLayout receiver_layout(const Receivers& receivers);

// The array receivers as points, in list order; throws Fault when the three lists differ in length.
std::vector<Vec3> array_receiver_points(const Receivers& receivers);

}  // namespace abyx
