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

TEST(InitBty, FillsTheDepthGridWithYFastest) {
  const BTYfield bty = init_bty(make_config({0, 1000}, {0, 1000}, {100, 200, 300, 400}).bathymetry);
  EXPECT_EQ(bty.depth[bty.index(0, 1)], 200.0f);
  EXPECT_EQ(bty.depth[bty.index(1, 0)], 300.0f);
  EXPECT_EQ(bty.x, (std::vector<float>{0, 1000}));
}

TEST(InitBty, ShapeMismatchNamesTheThreeNumbersAndTheMismatch) {
  const std::string message =
      fault_message(make_config({0, 1000, 2000}, {0, 1000}, {100, 100, 100, 100, 100}));
  EXPECT_EQ(message,
            "z_bty_m does not match grid dimensions: nx = 3, ny = 2, bty_len = 5: "
            "nx * ny = 6 but z_bty_m has 5 values");
}

TEST(InitBty, ElasticBottomKeepsEveryParameter) {
  SimulationConfig config = make_config({0, 1}, {0, 1}, {1, 1, 1, 1});
  config.bathymetry.bottom_model.alternative =
      BottomBoundaryModel::Elastic{1700.0f, 400.0f, 1.8f, 0.5f, 1.25f};
  const BottomParams b = init_bty(config.bathymetry).bottom;
  EXPECT_EQ(b.kind, BottomKind::Elastic);
  EXPECT_EQ(b.compressional_speed_m_s, 1700.0f);
  EXPECT_EQ(b.shear_speed_m_s, 400.0f);
  EXPECT_EQ(b.density_g_cm3, 1.8f);
  EXPECT_EQ(b.compressional_attenuation_db_per_wavelength, 0.5f);
  EXPECT_EQ(b.shear_attenuation_db_per_wavelength, 1.25f);
}

}  // namespace
}  // namespace abyx
