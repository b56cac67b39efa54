#pragma once

#include "input/simulation_config.h"

namespace abyx {

// Where the speed that rays follow with node gradients (SspInterpolation::Nodes) lies furthest from
// the straight lines between the nodes.
struct ProfileDeparture {
  double speed_m_s = 0.0;  // the largest difference (m/s)
  double depth_m = 0.0;    // its depth (m)
};

// The largest departure over every column of the grid, from its first node down to its last node
// or to deepest_m, whichever is shallower. Rays bend with the gradient interpolated between the
// finite-difference gradients of the nodes, so the speed they follow is the speed of the first node
// plus the integral of that gradient: a parabola in each cell, which departs from the cell's
// straight line where the nodes lie too far apart for their gradients. None (zero) for a grid the
// run could not use, whose own errors say why.
ProfileDeparture largest_profile_departure(const SoundSpeed& ssp, float deepest_m);

}  // namespace abyx
