#include "input/simulation_config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "input/validation_messages.h"

namespace abyx {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A small configuration that passes every check.
SimulationConfig valid_config() {
  SimulationConfig config;
  config.ssp = {{0.0f, 1000.0f}, {0.0f, 1000.0f}, {0.0f, 100.0f}, std::vector<float>(8, 1500.0f)};
  config.bathymetry.x_bty_m = {0.0f, 1000.0f};
  config.bathymetry.y_bty_m = {0.0f, 1000.0f};
  config.bathymetry.z_bty_m = {100.0f, 100.0f, 100.0f, 100.0f};
  config.source = {{0.0f, 0.0f, 50.0f}, {100.0f}, {-10.0f, 10.0f}, {0.0f}};
  config.receivers = {"grid", {100.0f, 200.0f}, {100.0f}, {20.0f, 60.0f}};
  config.beam.step_m = 10.0f;
  config.beam.max_steps = 100;
  config.beam.max_range_m = 500.0f;
  return config;
}

BottomBoundaryModel::Acoustic valid_acoustic() { return {1600.0f, 1.8f, 0.5f}; }
BottomBoundaryModel::Elastic valid_elastic() { return {1600.0f, 400.0f, 1.8f, 0.5f, 0.2f}; }

std::string failure_of(const std::vector<std::string>& items) {
  std::string text = "Invalid simulation config:";
  for (const std::string& item : items) text += "\n  - " + item;
  return text;
}

// One change to a valid configuration and the single error item it must cause.
struct ErrorCase {
  const char* name;
  void (*change)(SimulationConfig&);
  std::string item;
};

void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.name; }

class ValidateError : public testing::TestWithParam<ErrorCase> {};

TEST_P(ValidateError, ReportsTheOneProblem) {
  SimulationConfig config = valid_config();
  GetParam().change(config);
  const ValidationResult result = config.validate();
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_EQ(result.error, failure_of({GetParam().item}));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ValidateError,
    testing::Values(
        ErrorCase{"EmptySpeeds", [](SimulationConfig& c) { c.ssp.c_m_s.clear(); },
                  "ssp: c_m_s must not be empty"},
        ErrorCase{"SpeedsNotPositiveOnce",
                  [](SimulationConfig& c) {
                    c.ssp.c_m_s = {1500.0f, 0.0f, -3.0f};
                  },
                  "ssp: all sound speeds must be positive"},
        ErrorCase{"EmptyBottomDepths", [](SimulationConfig& c) { c.bathymetry.z_bty_m.clear(); },
                  "bathymetry: z_bty_m must not be empty"},
        ErrorCase{"ZeroWaterDensity",
                  [](SimulationConfig& c) { c.bathymetry.water_density_g_cm3 = 0.0f; },
                  "bathymetry: water_density_g_cm3 must be positive when provided"},
        ErrorCase{"ElevationBeyond90",
                  [](SimulationConfig& c) {
                    c.source.launch_elev_deg = {90.5f, -91.0f};
                  },
                  "source: launch elevation angles must be in [-90, 90] deg"},
        ErrorCase{"ConfigTypeCase", [](SimulationConfig& c) { c.receivers.config_type = "Grid"; },
                  "receivers: config_type must be \"grid\" or \"array\", got \"Grid\""},
        ErrorCase{"ConfigTypeUnescaped",
                  [](SimulationConfig& c) { c.receivers.config_type = "a\"b"; },
                  "receivers: config_type must be \"grid\" or \"array\", got \"a\"b\""},
        ErrorCase{"ZeroStep", [](SimulationConfig& c) { c.beam.step_m = 0.0f; },
                  "beam: step_m must be positive"},
        ErrorCase{"ZeroMaxSteps", [](SimulationConfig& c) { c.beam.max_steps = 0; },
                  "beam: max_steps must be > 0"},
        ErrorCase{"NegativeRange", [](SimulationConfig& c) { c.beam.max_range_m = -1.0f; },
                  "beam: max_range_m must be positive"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    BottomModel, ValidateError,
    testing::Values(
        ErrorCase{"AcousticSpeed",
                  [](SimulationConfig& c) {
                    auto a = valid_acoustic();
                    a.compressional_speed_m_s = 0.0f;
                    c.bathymetry.bottom_model.alternative = a;
                  },
                  "bathymetry.bottom_model: acoustic compressional_speed_m_s must be positive"},
        ErrorCase{"AcousticDensity",
                  [](SimulationConfig& c) {
                    auto a = valid_acoustic();
                    a.density_g_cm3 = -1.0f;
                    c.bathymetry.bottom_model.alternative = a;
                  },
                  "bathymetry.bottom_model: acoustic density_g_cm3 must be positive"},
        ErrorCase{"AcousticAttenuation",
                  [](SimulationConfig& c) {
                    auto a = valid_acoustic();
                    a.compressional_attenuation_db_per_wavelength = -0.1f;
                    c.bathymetry.bottom_model.alternative = a;
                  },
                  "bathymetry.bottom_model: acoustic compressional_attenuation_db_per_wavelength "
                  "must be >= 0"},
        ErrorCase{"ElasticSpeed",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.compressional_speed_m_s = 0.0f;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic compressional_speed_m_s must be positive"},
        ErrorCase{"ElasticShearSpeed",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.shear_speed_m_s = 0.0f;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic shear_speed_m_s must be positive"},
        ErrorCase{"ElasticDensity",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.density_g_cm3 = 0.0f;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic density_g_cm3 must be positive"},
        ErrorCase{"ElasticAttenuation",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.compressional_attenuation_db_per_wavelength = -1.0f;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic compressional_attenuation_db_per_wavelength "
                  "must be >= 0"},
        ErrorCase{"ElasticShearAttenuation",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.shear_attenuation_db_per_wavelength = -1.0f;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength must be "
                  ">= 0"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    AddedChecks, ValidateError,
    testing::Values(
        ErrorCase{"InfiniteStep", [](SimulationConfig& c) { c.beam.step_m = kInf; },
                  "beam: step_m must be finite"},
        ErrorCase{"InfiniteRange", [](SimulationConfig& c) { c.beam.max_range_m = kInf; },
                  "beam: max_range_m must be finite"},
        ErrorCase{"InfiniteSpeed", [](SimulationConfig& c) { c.ssp.c_m_s[3] = kInf; },
                  "ssp: c_m_s values must be finite"},
        ErrorCase{"NaNSpeed", [](SimulationConfig& c) { c.ssp.c_m_s[0] = kNaN; },
                  "ssp: c_m_s values must be finite"},
        ErrorCase{"InfiniteSspAxis", [](SimulationConfig& c) { c.ssp.x_ssp_m.back() = kInf; },
                  "ssp: x_ssp_m values must be finite"},
        ErrorCase{"InfiniteBottomDepth",
                  [](SimulationConfig& c) { c.bathymetry.z_bty_m[1] = kInf; },
                  "bathymetry: z_bty_m values must be finite"},
        ErrorCase{"InfiniteBtyAxis",
                  [](SimulationConfig& c) { c.bathymetry.y_bty_m.back() = kInf; },
                  "bathymetry: y_bty_m values must be finite"},
        ErrorCase{"InfiniteWaterDensity",
                  [](SimulationConfig& c) { c.bathymetry.water_density_g_cm3 = kInf; },
                  "bathymetry: water_density_g_cm3 must be finite"},
        ErrorCase{"InfiniteAcousticSpeed",
                  [](SimulationConfig& c) {
                    auto a = valid_acoustic();
                    a.compressional_speed_m_s = kInf;
                    c.bathymetry.bottom_model.alternative = a;
                  },
                  "bathymetry.bottom_model: acoustic compressional_speed_m_s must be finite"},
        ErrorCase{"InfiniteShearAttenuation",
                  [](SimulationConfig& c) {
                    auto e = valid_elastic();
                    e.shear_attenuation_db_per_wavelength = kInf;
                    c.bathymetry.bottom_model.alternative = e;
                  },
                  "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength must be "
                  "finite"},
        ErrorCase{"InfiniteSourceX", [](SimulationConfig& c) { c.source.position[0] = kInf; },
                  "source: position must be finite"},
        ErrorCase{"InfiniteReceiver", [](SimulationConfig& c) { c.receivers.y_rcvr_m[0] = -kInf; },
                  "receivers: y_rcvr_m values must be finite"},
        ErrorCase{"RepeatedSspNode",
                  [](SimulationConfig& c) {
                    c.ssp.y_ssp_m = {0.0f, 0.0f};
                  },
                  "ssp: y_ssp_m must be strictly increasing"},
        ErrorCase{"DescendingBtyAxis",
                  [](SimulationConfig& c) {
                    c.bathymetry.x_bty_m = {1000.0f, 0.0f};
                  },
                  "bathymetry: x_bty_m must be strictly increasing"},
        ErrorCase{"DescendingGridReceivers",
                  [](SimulationConfig& c) {
                    c.receivers.z_rcvr_m = {60.0f, 20.0f};
                  },
                  "receivers: z_rcvr_m must be non-decreasing in grid mode"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST(Validate, PassesAValidConfigurationWithoutWarnings) {
  SimulationConfig config = valid_config();
  const ValidationResult result = config.validate();
  EXPECT_FALSE(result.error.has_value());
  EXPECT_TRUE(result.warnings.empty());
}

TEST(Validate, AcceptsBoundaryValues) {
  SimulationConfig config = valid_config();
  config.source.launch_elev_deg = {-90.0f, 90.0f};
  config.bathymetry.bottom_model.alternative = BottomBoundaryModel::Acoustic{1600.0f, 1.8f, 0.0f};
  config.receivers.config_type = "array";
  config.receivers.x_rcvr_m = {300.0f, 100.0f};  // any order in array mode
  config.receivers.y_rcvr_m = {5.0f, 5.0f};
  config.receivers.z_rcvr_m = {20.0f, 20.0f};
  config.ssp.z_ssp_m = {-0.0f, 100.0f};
  const ValidationResult result = config.validate();
  EXPECT_FALSE(result.error.has_value()) << *result.error;
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_TRUE(std::signbit(config.ssp.z_ssp_m[0]));  // -0.0 is not negative and stays
}

TEST(Validate, AcceptsRepeatedGridReceiverCoordinates) {
  SimulationConfig config = valid_config();
  config.receivers.x_rcvr_m = {100.0f, 100.0f};
  EXPECT_FALSE(config.validate().error.has_value());
}

TEST(Validate, ChecksNothingOfARigidBottomNorOfAnAbsentDensity) {
  SimulationConfig config = valid_config();
  config.bathymetry.bottom_model.alternative = BottomBoundaryModel::Acoustic{1600.0f, 1.8f, {}};
  EXPECT_FALSE(config.validate().error.has_value());
  config.bathymetry.bottom_model.alternative = BottomBoundaryModel::Rigid{};
  config.bathymetry.water_density_g_cm3.reset();
  EXPECT_FALSE(config.validate().error.has_value());
}

TEST(Validate, CorrectsNegativeDepthsInPlaceWithOneWarningEach) {
  SimulationConfig config = valid_config();
  config.ssp.z_ssp_m = {0.0f, -10.0f, -20.5f};
  config.source.position[2] = -5.0f;
  config.receivers.z_rcvr_m = {-0.1f, 3.0f};
  const ValidationResult result = config.validate();
  ASSERT_FALSE(result.error.has_value()) << *result.error;
  EXPECT_EQ(result.warnings,
            (std::vector<std::string>{
                "ssp: z_ssp_m value -10 is negative (positive down convention); correcting to 10",
                "ssp: z_ssp_m value -20.5 is negative (positive down convention); correcting to "
                "20.5",
                "source: z position -5 is negative (positive down convention); correcting to 5",
                "receivers: z_rcvr_m value -0.1 is negative (positive down convention); "
                "correcting to 0.1"}));
  EXPECT_EQ(config.ssp.z_ssp_m, (std::vector<float>{0.0f, 10.0f, 20.5f}));
  EXPECT_EQ(config.source.position[2], 5.0f);
  EXPECT_EQ(config.receivers.z_rcvr_m, (std::vector<float>{0.1f, 3.0f}));

  // a second run over its own output has nothing to correct
  EXPECT_TRUE(config.validate().warnings.empty());
}

TEST(Validate, WritesCorrectedNumbersInPositionalNotation) {
  struct Case {
    float depth;
    std::string written;
    std::string corrected;
  };
  const Case cases[] = {
      {-0.0000001f, "-0.0000001", "0.0000001"},
      {-1e-45f, "-0.000000000000000000000000000000000000000000001",
       "0.000000000000000000000000000000000000000000001"},
      {-3e20f, "-300000000000000000000", "300000000000000000000"},
      {-123.456f, "-123.456", "123.456"},
  };
  for (const Case& c : cases) {
    SimulationConfig config = valid_config();
    config.source.position[2] = c.depth;
    const ValidationResult result = config.validate();
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.warnings[0], "source: z position " + c.written +
                                      " is negative (positive down convention); correcting to " +
                                      c.corrected);
  }
}

TEST(Validate, CorrectsMinusInfinityToInfinityThenRejectsIt) {
  SimulationConfig config = valid_config();
  config.receivers.z_rcvr_m = {20.0f, -kInf};
  const ValidationResult result = config.validate();
  EXPECT_EQ(config.receivers.z_rcvr_m[1], kInf);
  EXPECT_TRUE(result.warnings.empty());  // discarded with the failure
  EXPECT_EQ(result.error, failure_of({"receivers: z_rcvr_m values must be finite"}));
}

TEST(Validate, GathersEveryProblemInCheckOrder) {
  SimulationConfig config = valid_config();
  config.ssp.c_m_s = {-1.0f};
  config.ssp.z_ssp_m = {-5.0f, 10.0f, 5.0f};
  config.bathymetry.z_bty_m.clear();
  config.bathymetry.water_density_g_cm3 = -1.0f;
  config.bathymetry.bottom_model.alternative =
      BottomBoundaryModel::Elastic{0.0f, 0.0f, 0.0f, -1.0f, -1.0f};
  config.source.position = {kInf, 0.0f, -1.0f};
  config.source.launch_elev_deg = {100.0f};
  config.receivers.config_type = "list";
  config.beam = {0.0f, 0, 0.0f};
  const ValidationResult result = config.validate();
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_EQ(
      result.error,
      failure_of({"ssp: all sound speeds must be positive", "bathymetry: z_bty_m must not be empty",
                  "bathymetry: water_density_g_cm3 must be positive when provided",
                  "bathymetry.bottom_model: elastic compressional_speed_m_s must be positive",
                  "bathymetry.bottom_model: elastic shear_speed_m_s must be positive",
                  "bathymetry.bottom_model: elastic density_g_cm3 must be positive",
                  "bathymetry.bottom_model: elastic compressional_attenuation_db_per_"
                  "wavelength must be >= 0",
                  "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength "
                  "must be >= 0",
                  "source: launch elevation angles must be in [-90, 90] deg",
                  "receivers: config_type must be \"grid\" or \"array\", got \"list\"",
                  "beam: step_m must be positive", "beam: max_steps must be > 0",
                  "beam: max_range_m must be positive", "source: position must be finite",
                  "ssp: z_ssp_m must be strictly increasing"}));
  // corrections are applied even though the run failed
  EXPECT_EQ(config.ssp.z_ssp_m[0], 5.0f);
  EXPECT_EQ(config.source.position[2], 1.0f);
}

TEST(Validate, JoinsTheTwoErrorsOfTheWorkedExample) {
  SimulationConfig config = valid_config();
  config.ssp.c_m_s.clear();
  config.beam.max_steps = 0;
  EXPECT_EQ(config.validate().error,
            "Invalid simulation config:\n  - ssp: c_m_s must not be empty\n  - beam: max_steps "
            "must be > 0");
}

TEST(Validate, OrdersTheAddedChecksAfterTheThirteen) {
  SimulationConfig config = valid_config();
  config.beam.max_steps = 0;
  config.ssp.x_ssp_m = {kInf, kInf};
  config.bathymetry.y_bty_m = {2.0f, 1.0f};
  config.receivers.x_rcvr_m = {2.0f, 1.0f};
  config.receivers.y_rcvr_m = {2.0f, 1.0f};
  EXPECT_EQ(config.validate().error,
            failure_of({"beam: max_steps must be > 0", "ssp: x_ssp_m values must be finite",
                        "ssp: x_ssp_m must be strictly increasing",
                        "bathymetry: y_bty_m must be strictly increasing",
                        "receivers: x_rcvr_m must be non-decreasing in grid mode",
                        "receivers: y_rcvr_m must be non-decreasing in grid mode"}));
}

TEST(Validate, ChecksTheSoundSpeedDepthAxisAfterItsCorrection) {
  SimulationConfig config = valid_config();
  config.ssp.z_ssp_m = {-10.0f, 0.0f};  // mirrored to 10, 0: no longer increasing
  EXPECT_EQ(config.validate().error, failure_of({"ssp: z_ssp_m must be strictly increasing"}));
}

}  // namespace
}  // namespace abyx
