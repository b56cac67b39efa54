#include "bty/bty_field.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

SimulationConfig make_config(std::vector<float> x, std::vector<float> y, std::vector<float> z) {
  SimulationConfig config;
  config.bathymetry.x_bty_m = std::move(x);
  config.bathymetry.y_bty_m = std::move(y);
  config.bathymetry.z_bty_m = std::move(z);
  return config;
}

std::string fault_message(const SimulationConfig& config) {
  try {
    init_bty(config.bathymetry);
  } catch (const Fault& fault) {
    return fault.what();
  }
  return "(no fault)";
}

TEST(InitBty, ShapeMismatchNamesTheThreeNumbersAndTheMismatch) {
  const std::string message =
      fault_message(make_config({0, 1000, 2000}, {0, 1000}, {100, 100, 100, 100, 100}));
  EXPECT_EQ(message,
            "z_bty_m does not match grid dimensions: nx = 3, ny = 2, bty_len = 5: "
            "nx * ny = 6 but z_bty_m has 5 values");
}

}  // namespace
}  // namespace abyx
