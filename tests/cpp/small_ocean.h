#pragma once

#include <string>
#include <vector>

#include "input/simulation_config.h"

namespace abyx::fixtures {

// A configuration that passes every check: a 1 km square of water 100 m deep at 1500 m/s over a
// rigid bottom, a 100 Hz source at its centre, three elevations by two azimuths, and receivers.
inline SimulationConfig small_ocean(std::string layout, std::vector<float> x, std::vector<float> y,
                                    std::vector<float> z) {
  SimulationConfig config;
  config.ssp = {{0, 1000}, {0, 1000}, {0, 100}, std::vector<float>(8, 1500.0f)};
  config.bathymetry.x_bty_m = {0, 1000};
  config.bathymetry.y_bty_m = {0, 1000};
  config.bathymetry.z_bty_m = {100, 100, 100, 100};
  config.source = {{500, 500, 50}, {100}, {-10, 0, 10}, {0, 90}};
  config.receivers = {std::move(layout), std::move(x), std::move(y), std::move(z)};
  config.beam = {10.0f, 100, 400.0f};
  return config;
}

}  // namespace abyx::fixtures
