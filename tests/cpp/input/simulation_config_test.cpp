#include "input/simulation_config.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace abyx {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
using Acoustic = BottomBoundaryModel::Acoustic;
using Elastic = BottomBoundaryModel::Elastic;

// A change to the valid configuration, the error items it causes in check order (none: it
// passes) and the warnings of a passing run.
struct ValidateCase {
  const char* name;
  std::function<void(SimulationConfig&)> change;
  std::vector<std::string> errors;
  std::vector<std::string> warnings = {};
};

void PrintTo(const ValidateCase& c, std::ostream* out) { *out << c.name; }

class Validate : public testing::TestWithParam<ValidateCase> {};

const std::string kCorrecting = " is negative (positive down convention); correcting to ";

TEST_P(Validate, GathersEveryProblemInCheckOrderOrWarnsOfEachCorrection) {
  SimulationConfig config = fixtures::small_ocean("grid", {100, 200}, {100}, {20, 60});
  GetParam().change(config);
  const ValidationResult result = config.validate();
  std::string expected = "Invalid simulation config:";
  for (const std::string& item : GetParam().errors) expected += "\n  - " + item;
  EXPECT_EQ(result.error.value_or("Invalid simulation config:"), expected);
  EXPECT_EQ(result.warnings, GetParam().warnings);  // discarded with a failure
  // corrected in place: validated again, only the warnings that are not corrections come back
  std::vector<std::string> told;
  for (const std::string& warning : result.warnings) {
    if (warning.find(kCorrecting) == std::string::npos) told.push_back(warning);
  }
  EXPECT_EQ(config.validate().warnings, told);
}

// The seabed rising from 100 m at x = 0 to 20 m at x = 1000 (60 m under x = 500, the edge cell's
// depth beyond the grid) and the source here.
ValidateCase on_slope(const char* name, std::array<float, 3> source, bool below) {
  const char* error =
      "source: position lies below the seabed: its depth exceeds the bottom depth under it";
  return {name,
          [source](SimulationConfig& c) {
            c.bathymetry.z_bty_m = {100.0f, 100.0f, 20.0f, 20.0f};
            c.source.position = source;
          },
          below ? std::vector<std::string>{error} : std::vector<std::string>{}};
}

// 1500, 1480 and 1520 m/s at 0, 100 and 1000 m over a seabed this deep: rays that bend with the
// node gradients (-0.2, -0.176 and 0.044 /s) follow the speed 1500 - 0.188 z down to 100 m and
// 1481.2 - 0.176 (z - 100) + 0.122 (z - 100)^2 / 1000 below, 97.8 m/s slower than the profile at
// 1000 m and 67.2 m/s at 500 m.
ValidateCase coarse_cast(const char* name, float seabed_m, const char* interpolation,
                         std::string departure, std::string depth) {
  std::vector<std::string> warnings;
  if (!departure.empty()) {
    warnings.push_back("ssp: the sound speed the rays follow departs from the profile by up to " +
                       departure + " m/s (at " + depth +
                       " m depth): its nodes lie too far apart for the gradients taken at them; "
                       "set ssp.interpolation to \"pchip\"");
  }
  return {name,
          [seabed_m, interpolation](SimulationConfig& c) {
            c.ssp.z_ssp_m = {0.0f, 100.0f, 1000.0f};
            c.ssp.c_m_s.clear();
            for (int k = 0; k < 4; ++k) c.ssp.c_m_s.insert(c.ssp.c_m_s.end(), {1500, 1480, 1520});
            c.ssp.interpolation = interpolation;
            c.bathymetry.z_bty_m = {seabed_m, seabed_m, seabed_m, seabed_m};
          },
          {},
          warnings};
}

INSTANTIATE_TEST_SUITE_P(
    Checks, Validate,
    testing::Values(
        // the extremes that pass; the cases with errors show the rest of the fixture passes
        ValidateCase{"BoundaryValues",
                     [](SimulationConfig& c) {
                       c.source.launch_elev_deg = {-90.0f, 90.0f};
                       c.bathymetry.bottom_model.alternative = Acoustic{1600.0f, 1.8f, 0.0f};
                       c.bathymetry.water_density_g_cm3.reset();
                       c.receivers = {"array", {300, 100}, {5, 5}, {20, 20}};  // any order
                       c.ssp.z_ssp_m = {-0.0f, 100.0f};  // -0.0 is not negative
                     },
                     {}},
        ValidateCase{"NegativeDepths",
                     [](SimulationConfig& c) {
                       c.ssp.z_ssp_m = {0.0f, -10.0f, -20.5f};
                       c.source.position[2] = -1e-45f;
                       c.receivers.z_rcvr_m = {-0.0000001f, -3e20f};
                     },
                     {},
                     {"ssp: z_ssp_m value -10" + kCorrecting + "10",
                      "ssp: z_ssp_m value -20.5" + kCorrecting + "20.5",
                      "source: z position -0.000000000000000000000000000000000000000000001" +
                          kCorrecting + "0.000000000000000000000000000000000000000000001",
                      "receivers: z_rcvr_m value -0.0000001" + kCorrecting + "0.0000001",
                      "receivers: z_rcvr_m value -300000000000000000000" + kCorrecting +
                          "300000000000000000000"}},
        ValidateCase{"EmptyListsAndAQuoteInTheLayout",
                     [](SimulationConfig& c) {
                       c.ssp.c_m_s.clear();
                       c.bathymetry.z_bty_m.clear();
                       c.receivers.config_type = "a\"b";
                     },
                     {"ssp: c_m_s must not be empty", "bathymetry: z_bty_m must not be empty",
                      "receivers: config_type must be \"grid\" or \"array\", got \"a\"b\""}},
        ValidateCase{
            "EveryFirstCheck",
            [](SimulationConfig& c) {
              c.ssp.c_m_s = {1500.0f, 0.0f, -3.0f};
              c.ssp.z_ssp_m = {-10.0f, 0.0f};  // mirrored to 10, 0: no longer increasing
              c.bathymetry.water_density_g_cm3 = 0.0f;
              c.bathymetry.bottom_model.alternative = Elastic{0.0f, 0.0f, 0.0f, -1.0f, -1.0f};
              c.source.launch_elev_deg = {90.5f};
              c.receivers.config_type = "Grid";
              c.beam = {0.0f, 0, -1.0f};
            },
            {"ssp: all sound speeds must be positive",
             "bathymetry: water_density_g_cm3 must be positive when provided",
             "bathymetry.bottom_model: elastic compressional_speed_m_s must be positive",
             "bathymetry.bottom_model: elastic shear_speed_m_s must be positive",
             "bathymetry.bottom_model: elastic density_g_cm3 must be positive",
             "bathymetry.bottom_model: elastic compressional_attenuation_db_per_wavelength must be "
             ">= 0",
             "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength must be >= 0",
             "source: launch elevation angles must be in [-90, 90] deg",
             "receivers: config_type must be \"grid\" or \"array\", got \"Grid\"",
             "beam: step_m must be positive", "beam: max_steps must be > 0",
             "beam: max_range_m must be positive", "ssp: z_ssp_m must be strictly increasing"}},
        ValidateCase{"AcousticBottom",
                     [](SimulationConfig& c) {
                       c.bathymetry.bottom_model.alternative = Acoustic{0.0f, -1.0f, -0.1f};
                     },
                     {"bathymetry.bottom_model: acoustic compressional_speed_m_s must be positive",
                      "bathymetry.bottom_model: acoustic density_g_cm3 must be positive",
                      "bathymetry.bottom_model: acoustic "
                      "compressional_attenuation_db_per_wavelength must be >= 0"}},
        ValidateCase{
            "EveryAddedCheckFamily",
            [](SimulationConfig& c) {
              c.ssp = {{kInf, kInf}, {0, 1}, {0, NAN}, {1500}};
              c.bathymetry.water_density_g_cm3 = kInf;
              c.bathymetry.bottom_model.alternative = Elastic{1, 1, 1, 0, kInf};
              c.source.position[0] = kInf;
              c.receivers = {"grid", {2, 2}, {2, 1}, {20, -kInf}};  // -inf mirrored
              c.beam.max_range_m = kInf;
            },
            {"ssp: x_ssp_m values must be finite", "ssp: z_ssp_m values must be finite",
             "bathymetry: water_density_g_cm3 must be finite",
             "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength "
             "must be finite",
             "source: position must be finite", "receivers: z_rcvr_m values must be finite",
             "beam: max_range_m must be finite", "ssp: x_ssp_m must be strictly increasing",
             "ssp: z_ssp_m must be strictly increasing",
             "receivers: y_rcvr_m must be non-decreasing in grid mode"}},
        ValidateCase{"BeyondSinglePrecision",
                     [](SimulationConfig& c) {
                       c.source.freq_hz = {kInf, -1.5e9f, 0.0f, -1e9f};
                       c.source.launch_azim_deg = {0.0f, -kInf};
                       c.ssp.c_m_s = {1500.0f, 1e-45f, 2e9f};
                       c.beam.step_m = 501.0f;
                     },
                     {"source: freq_hz values must be finite",
                      "source: freq_hz values must be at most 1e9 Hz in magnitude: above it a "
                      "single-precision travel time keeps no digit of the phase beyond 100 m",
                      "source: launch_azim_deg values must be finite",
                      "ssp: c_m_s values must lie between 0.001 and 1e9 m/s, whose slownesses "
                      "single precision can trace",
                      "beam: step_m must not exceed max_range_m"}},
        ValidateCase{
            "ArrivalKeys",
            [](SimulationConfig& c) {
              c.beam.max_arrivals = 0;
              c.beam.eigenrays = true;
            },
            {"beam: max_arrivals must be from 1 to 1000000", "beam: eigenrays needs arrivals"}},
        ValidateCase{"PolarAxesAndCutoff",
                     [](SimulationConfig& c) {
                       c.receivers = {"polar", {-1, 5}, {90, 0}, {20, 10}};
                       c.beam.min_amplitude = -0.1f;
                     },
                     {"receivers: x_rcvr_m (ranges) must be non-negative and non-decreasing in "
                      "polar mode",
                      "receivers: y_rcvr_m (bearings) must be non-decreasing in polar mode",
                      "receivers: z_rcvr_m must be non-decreasing in polar mode",
                      "beam: min_amplitude must be a finite number from 0 up"}},
        ValidateCase{"SurfaceWithoutNodes",
                     [](SimulationConfig& c) {
                       c.surface = SeaSurface{{}, {0}, {}};
                     },
                     {"surface: x_ati_m and y_ati_m must not be empty"}},
        ValidateCase{"SurfaceGridOutOfShape",
                     [](SimulationConfig& c) {
                       c.surface = SeaSurface{{0, 0}, {0}, {1, std::nanf(""), 3}};
                     },
                     {"surface: z_ati_m must hold one depth per node, len(x_ati_m) * "
                      "len(y_ati_m) = 2, got 3",
                      "surface: x_ati_m, y_ati_m and z_ati_m values must be finite",
                      "surface: x_ati_m must be strictly increasing"}},
        // depths above z = 0 under a crest are not corrected: they are measured from its datum
        ValidateCase{"UnderACrest",
                     [](SimulationConfig& c) {
                       c.surface = SeaSurface{{0, 1000}, {0}, {-2, -2}};
                       c.ssp.z_ssp_m = {-2, 100};
                       c.source.position[2] = -1;
                       c.receivers.z_rcvr_m = {-2, 60};
                     },
                     {}},
        // the surface z = 0.04 x - 10 over a seabed rising to 20 m at x = 1000
        ValidateCase{"AboveTheSurfaceAndSurfaceBelowTheSeabed",
                     [](SimulationConfig& c) {
                       c.surface = SeaSurface{{0, 1000}, {0, 1000}, {-10, -10, 30, 30}};
                       c.bathymetry.z_bty_m = {100, 100, 20, 20};
                       c.source.position[2] = 5;
                       c.receivers = {"array", {900, 100}, {100, 100}, {20, 20}};
                     },
                     {"source: position lies above the surface: its depth is less than the surface "
                      "depth over it",
                      "receivers: 1 receivers lie above the surface, the first at x = 900, y = "
                      "100, z = 20 m under a surface at 26 m",
                      "surface: the surface lies below the seabed at x = 1000, y = 0 m (surface 30 "
                      "m, seabed 20 m)"}},
        ValidateCase{"InterpolationIsCheckedBeforeTheBeamKeys",
                     [](SimulationConfig& c) {
                       c.ssp.interpolation = "cubic";
                       c.beam.beam_type = "paraxial";
                     },
                     {"ssp: interpolation must be \"nodes\", \"linear\" or \"pchip\", got "
                      "\"cubic\"",
                      "beam: beam_type must be \"geometric\" or \"cerveny\", got \"paraxial\""}},
        coarse_cast("CoarseCastToTheSeabed", 1000.0f, "nodes", "97.8", "1000"),
        coarse_cast("CoarseCastOverAShallowerSeabed", 500.0f, "nodes", "67.2", "500"),
        coarse_cast("CoarseCastWithACubic", 1000.0f, "pchip", "", ""),
        ValidateCase{
            "OptionalSectionsAtTheirLimits",
            [](SimulationConfig& c) {
              c.bathymetry.bottom_model.alternative =
                  ReflectionTableConfig{{0.0f, 90.0f}, {1.0f, 0.0f}, {180.0f, -720.0f}};
              c.source.beam_pattern = BeamPattern{{-90.0f}, {0.0f, 359.9f}, {-3.0f, 3.0f}, 2};
              c.water = {"francois_garrison", std::nullopt, -10.0f, 0.0f, 14.0f};
              c.surface = SeaSurface{{}, {}, {}, ReflectionTableConfig{{0}, {0}, {-90}}, false};
              c.source.position[2] = -5.0f;  // a table alone: corrected as without a surface
            },
            {},
            {"source: z position -5 is negative (positive down convention); correcting to 5"}},
        ValidateCase{
            "OptionalSections",
            [](SimulationConfig& c) {
              c.bathymetry.bottom_model.alternative =
                  ReflectionTableConfig{{10.0f, 10.0f, 90.5f}, {-0.5f, 1.0f}, {kInf, 0.0f, 0.0f}};
              c.surface = SeaSurface{{}, {}, {}, ReflectionTableConfig{{0}, {NAN}, {0}}, false};
              c.source.beam_pattern = BeamPattern{{}, {0.0f, 360.0f}, {NAN}, 1, true};
              c.water = {"Thorp", std::nullopt, 4.0f, -1.0f, 14.5f};
            },
            {"bathymetry.bottom_model: table angle_deg must hold at least one finite grazing angle "
             "from 0 to 90 deg, strictly increasing",
             "bathymetry.bottom_model: table magnitude and phase_deg must hold one value per "
             "angle_deg",
             "bathymetry.bottom_model: table magnitude values must be finite and from 0 up",
             "bathymetry.bottom_model: table phase_deg values must be finite",
             "surface: reflection magnitude values must be finite and from 0 up",
             "source: beam_pattern elev_deg must hold at least one finite elevation, strictly "
             "increasing",
             "source: beam_pattern azim_deg must hold finite azimuths, strictly increasing, the "
             "last "
             "less than 360 deg beyond the first",
             "source: beam_pattern level_db must hold one level per elevation, or with azim_deg "
             "one "
             "row per azimuth of one level per elevation",
             "source: beam_pattern level_db values must be finite",
             "water: absorption must be \"none\", \"thorp\", \"francois_garrison\" or a number of "
             "dB/km from 0 up, got \"Thorp\"",
             "water: salinity_psu must be a finite number from 0 to 100",
             "water: ph must be a finite number from 0 to 14"}},
        ValidateCase{"AbsorptionNumber",
                     [](SimulationConfig& c) { c.water.absorption_db_per_km = -kInf; },
                     {"water: absorption must be \"none\", \"thorp\", \"francois_garrison\" or "
                      "a number of dB/km from 0 up, got -inf"}},
        on_slope("SourceBelowSlopingSeabed", {500.0f, 300.0f, 60.1f}, true),
        on_slope("SourceOnSlopingSeabed", {500.0f, 300.0f, 60.0f}, false),
        on_slope("SourceBelowSeabedBeyondTheGrid", {2000.0f, -50.0f, 21.0f}, true)),
    [](const testing::TestParamInfo<ValidateCase>& info) { return info.param.name; });

}  // namespace
}  // namespace abyx
