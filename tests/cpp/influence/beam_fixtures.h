#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "influence/pressure_field.h"
#include "input/simulation_config.h"

namespace abyx::fixtures {

// The empty field of these receivers and nf frequencies, as a run builds it.
inline PressureField make_field(std::string type, std::vector<float> x, std::vector<float> y,
                                std::vector<float> z, std::size_t nf) {
  const Receivers receivers{std::move(type), std::move(x), std::move(y), std::move(z)};
  return init_pressure_field(receivers, receiver_layout(receivers), nf);
}

}  // namespace abyx::fixtures
