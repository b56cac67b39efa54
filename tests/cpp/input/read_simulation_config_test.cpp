#include "input/read_simulation_config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace abyx {
namespace {

using Acoustic = BottomBoundaryModel::Acoustic;
using Elastic = BottomBoundaryModel::Elastic;

// The five records of a small valid document, each replaceable by its own JSON text.
struct Document {
  std::string ssp = R"({"x_ssp_m": [0], "y_ssp_m": [0], "z_ssp_m": [0], "c_m_s": [1500]})";
  std::string bathymetry = R"({"x_bty_m": [0], "y_bty_m": [0], "z_bty_m": [100]})";
  std::string source =
      R"({"position": [0, 0, 50], "freq_hz": [], "launch_elev_deg": [], "launch_azim_deg": []})";
  std::string receivers =
      R"({"config_type": "grid", "x_rcvr_m": [], "y_rcvr_m": [], "z_rcvr_m": []})";
  std::string beam = R"({"step_m": 10, "max_steps": 100, "max_range_m": 500})";
  std::string extra = "";  // members appended to the top-level object, with a leading comma

  std::string text() const {
    return "{\"ssp\": " + ssp + ", \"bathymetry\": " + bathymetry + ", \"source\": " + source +
           ", \"receivers\": " + receivers + ", \"beam\": " + beam + extra + "}";
  }
};

std::string ssp(const std::string& json) { return Document{.ssp = json}.text(); }
std::string beam(const std::string& json) { return Document{.beam = json}.text(); }
std::string extra(const std::string& json) { return Document{.extra = json}.text(); }
// The beam with one more member.
std::string beam_and(const std::string& member) {
  return beam(R"({"step_m": 10, "max_steps": 100, "max_range_m": 500, )" + member + "}");
}
std::string max_steps(const std::string& json) {
  return beam(R"({"step_m": 10, "max_range_m": 500, "max_steps": )" + json + "}");
}
std::string bottom(const std::string& json) {
  return Document{.bathymetry =
                      R"({"x_bty_m": [], "y_bty_m": [], "z_bty_m": [], "bottom_model": )" + json +
                      "}"}
      .text();
}
std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

SimulationConfig read_ok(const std::string& text) {
  ReadConfigResult result = read_simulation_config(text);
  EXPECT_TRUE(result.config.has_value()) << result.error;
  return result.config ? std::move(*result.config) : SimulationConfig{};
}

struct MessageCase {
  const char* name;
  std::string text;     // the whole document
  std::string message;  // expected message before its " at line L column C"
};

void PrintTo(const MessageCase& c, std::ostream* out) { *out << c.name; }

class ReaderMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(ReaderMessage, ReportsTheExactMessageWithItsPositionAndNothingElse) {
  const ReadConfigResult result = read_simulation_config(GetParam().text);
  EXPECT_FALSE(result.config.has_value());
  EXPECT_TRUE(result.unknown_key_paths.empty());
  const std::size_t at = result.error.rfind(" at line ");
  unsigned line = 0, column = 0;
  char tail = 0;
  ASSERT_NE(at, std::string::npos) << result.error;
  EXPECT_EQ(
      std::sscanf(result.error.c_str() + at, " at line %u column %u%c", &line, &column, &tail), 2);
  EXPECT_EQ(result.error.substr(0, at), GetParam().message);
}

// NaN and -Infinity literals, and a record's missing field, are checked where users meet them,
// through the module
const std::vector<MessageCase> kMessages = {
    {"DuplicateRecordAfterUnknownKey", extra(R"(, "note": 1, "ssp": {})"), "duplicate field `ssp`"},
    {"BooleanFromInteger", beam_and(R"("store_ray_paths": 1)"),
     "invalid type: integer `1`, expected a boolean"},
    {"MaxStepsWithExponent", max_steps("1e3"),
     "invalid type: floating point `1000.0`, expected usize"},
    {"MaxStepsBeyondU64", max_steps("18446744073709551616"),
     "invalid type: floating point `18446744073709551616.0`, expected usize"},
    {"MaxStepsNegative", max_steps("-1"), "invalid value: integer `-1`, expected usize"},
    {"PositionTooShort", Document{.source = R"({"position": [1, 2]})"}.text(),
     "invalid length 2, expected an array of length 3"},
    {"MethodCase", beam_and(R"("integration_method": "RK2")"),
     "unknown variant `RK2`, expected `euler` or `rk2`"},
    {"MethodObjectNotNull", beam_and(R"("integration_method": {"rk2": 1})"),
     "invalid type: integer `1`, expected null"},
    {"RecordNotObject", ssp("5"), "invalid type: integer `5`, expected struct SoundSpeed"},
    {"ListNotArray", ssp(R"({"x_ssp_m": "x"})"), "invalid type: string \"x\", expected a sequence"},
    {"FloatFromEscapedString", beam(R"({"step_m": "a\"b\\c\n\u0001"})"),
     R"(invalid type: string "a\"b\\c\n\u0001", expected f32)"},
    {"TextFromNumber", Document{.receivers = R"({"config_type": 5})"}.text(),
     "invalid type: integer `5`, expected a string"},
    {"PositionalShort", beam("[1, 2]"),
     "invalid length 2, expected struct BeamSettings with 7 elements"},
    {"BottomUnknownTag", bottom(R"({"model": "sand"})"),
     "unknown variant `sand`, expected one of `rigid`, `acoustic`, `elastic`"},
    {"BottomNoTag", bottom(R"({"density_g_cm3": 1})"), "missing field `model`"},
    {"BottomTagNotString", bottom(R"({"model": 3})"),
     "invalid type: integer `3`, expected variant identifier"},
    {"BottomMissingField",
     bottom(R"({"compressional_speed_m_s": 1, "density_g_cm3": 1, "model": "elastic"})"),
     "missing field `shear_speed_m_s`"},
    {"BottomHeldFieldTwice",
     bottom(
         R"({"density_g_cm3": 1, "model": "acoustic", "density_g_cm3": 2, "compressional_speed_m_s": 1})"),
     "duplicate field `density_g_cm3`"},
    {"BottomArrayRigidWithMore", bottom(R"(["rigid", 1])"), "trailing characters"},
    {"BottomArrayElasticShort", bottom(R"(["elastic", 1600, 400])"),
     "invalid length 2, expected struct Elastic with 5 elements"},
    {"RecursionLimit", bottom(R"({"model": "rigid", "x": )" + nested_arrays(125) + "}"),
     "recursion limit exceeded"},
    {"CutShort", R"({"beam": {"integration_method": {"rk2": null)", "unexpected end of input"},
    {"MissingComma", R"({"ssp": {"x_ssp_m": [1 2]}})", "expected `,` or `]`"},
    {"SecondDocument", Document{}.text() + " {}", "trailing characters"},
    {"AbsorptionNotTextOrNumber", extra(R"(, "water": {"absorption": true})"),
     "invalid type: boolean `true`, expected a string or f32"},
    {"TableMissingPhases", bottom(R"({"model": "table", "angle_deg": [0], "magnitude": [1]})"),
     "missing field `phase_deg`"},
    // the surface's grid keys stand together, and only a reflection may stand without them
    {"SurfaceWithoutKeys", extra(R"(, "surface": {"note": 1})"), "missing field `x_ati_m`"},
    {"SurfaceGridPartly", extra(R"(, "surface": {"z_ati_m": [0], "reflection": null})"),
     "missing field `x_ati_m`"},
    {"PatternLevelRowNotList",
     Document{.source = R"({"position": [0, 0, 5], "freq_hz": [], "launch_elev_deg": [],
         "launch_azim_deg": [], "beam_pattern": {"elev_deg": [0], "level_db": [[0], 1]}})"}
         .text(),
     "invalid type: integer `1`, expected a sequence"},
};

INSTANTIATE_TEST_SUITE_P(Reader, ReaderMessage, testing::ValuesIn(kMessages),
                         [](const testing::TestParamInfo<MessageCase>& info) {
                           return info.param.name;
                         });

TEST(ReadSimulationConfig, CountsLinesAndCharacterColumnsFromOne) {
  EXPECT_EQ(read_simulation_config("{\n  \"\xc3\xa9\": 1, \"ssp\": 5}").error,
            "invalid type: integer `5`, expected struct SoundSpeed at line 2 column 18");
  EXPECT_EQ(read_simulation_config("").error, "unexpected end of input at line 1 column 1");
}

TEST(ReadSimulationConfig, ReadsTheObjectFormAndDefaultsWhatIsLeftOut) {
  const SimulationConfig config = read_ok(Document{
      .bathymetry = R"({"x_bty_m": [], "y_bty_m": [], "z_bty_m": [], "water_density_g_cm3": null,
          "bottom_model": {"density_g_cm3": 1.8, "model": "acoustic", "porosity": [0.4],
          "compressional_speed_m_s": 1600, "compressional_attenuation_db_per_wavelength": null}})",
      .receivers = R"({"config_type": " Grid ", "x_rcvr_m": [5], "y_rcvr_m": [], "z_rcvr_m": []})",
      .beam = R"({"integration_method": "rk2", "max_range_m": 1e4, "step_m": 2,
                  "max_steps": 18446744073709551615, "store_ray_paths": true,
                  "atomic_progress_counter": true})"}
                                              .text());
  EXPECT_FALSE(config.bathymetry.water_density_g_cm3.has_value());
  const auto& acoustic = std::get<Acoustic>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(acoustic.compressional_speed_m_s, 1600.0f);
  EXPECT_EQ(acoustic.density_g_cm3, 1.8f);
  EXPECT_FALSE(acoustic.compressional_attenuation_db_per_wavelength.has_value());
  EXPECT_EQ(config.source.position, (std::array<float, 3>{0.0f, 0.0f, 50.0f}));
  EXPECT_EQ(config.receivers.config_type, " Grid ");  // kept as written
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Rk2);
  EXPECT_EQ(config.beam.max_range_m, 10000.0f);
  EXPECT_EQ(config.beam.max_steps, std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE(config.beam.store_ray_paths && config.beam.atomic_progress_counter);
  EXPECT_FALSE(config.beam.show_progress);
  const SimulationConfig plain = read_ok(Document{}.text());
  EXPECT_TRUE(std::holds_alternative<BottomBoundaryModel::Rigid>(
      plain.bathymetry.bottom_model.alternative));
  EXPECT_EQ(plain.beam.integration_method, IntegrationMethod::Euler);
}

TEST(ReadSimulationConfig, ReadsThePositionalFormWithOrWithoutItsDefaultedFields) {
  const SimulationConfig config = read_ok(R"([[[0], [1], [2], [1500]],
    [[0], [0], [100], 1.0, ["elastic", 1600, 400, 1.8, 0.5, 0.25]], [[1, 2, 3], [10], [0], [45]],
    ["array", [1], [2], [3]], [5, 7, 900, true, true, false, {"rk2": null}]])");
  const auto& elastic = std::get<Elastic>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(elastic.shear_speed_m_s, 400.0f);
  EXPECT_EQ(elastic.shear_attenuation_db_per_wavelength, std::optional<float>(0.25f));
  EXPECT_EQ(config.receivers.config_type, "array");
  EXPECT_TRUE(config.beam.max_steps == 7 && config.beam.show_progress);
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Rk2);
  const SimulationConfig shortest = read_ok(Document{
      .bathymetry = R"([[0], [0], [100], null, ["acoustic", 1600, 1.8]])", .beam = "[5, 7, 900]"}
                                                .text());
  EXPECT_EQ(shortest.beam.max_range_m, 900.0f);
  EXPECT_TRUE(std::holds_alternative<Acoustic>(shortest.bathymetry.bottom_model.alternative));
}

// The optional sections as the toolkit writes them: a table bottom, a pattern of rows, the water.
TEST(ReadSimulationConfig, ReadsTheOptionalSectionsByKey) {
  const SimulationConfig config = read_ok(
      Document{.bathymetry = R"({"x_bty_m": [], "y_bty_m": [], "z_bty_m": [], "bottom_model":
                   {"phase_deg": [180, 170], "model": "table", "angle_deg": [0, 90], "magnitude": [1, 0.5]}})",
               .source = R"({"position": [0, 0, 5], "freq_hz": [], "launch_elev_deg": [],
                   "launch_azim_deg": [], "beam_pattern": {"elev_deg": [0, 1], "azim_deg": [0, 9],
                   "level_db": [[0, -1], [-2, -3, -4]]}})",
               .extra = R"(, "water": {"absorption": "francois_garrison", "temperature_c": 11.5,
                   "salinity_psu": 34.25, "ph": 7.875})"}
          .text());
  const auto& table = std::get<ReflectionTableConfig>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(table.angle_deg, (std::vector<float>{0.0f, 90.0f}));
  EXPECT_EQ(table.phase_deg, (std::vector<float>{180.0f, 170.0f}));
  const BeamPattern& pattern = config.source.beam_pattern.value();
  EXPECT_EQ(pattern.level_db, (std::vector<float>{0, -1, -2, -3, -4}));
  EXPECT_TRUE(pattern.rows == 2u && pattern.uneven_rows);
  EXPECT_EQ(config.water.absorption_text, "francois_garrison");
  EXPECT_TRUE(config.water.temperature_c == 11.5f && config.water.salinity_psu == 34.25f &&
              config.water.ph == 7.875f);
  const SimulationConfig numbered = read_ok(extra(
      R"(, "water": {"absorption": 0.5}, "surface": {"reflection": {"angle_deg": [0],
          "magnitude": [0.5], "phase_deg": [90]}})"));
  EXPECT_EQ(numbered.water.absorption_db_per_km, std::optional<float>(0.5f));
  EXPECT_TRUE(!numbered.surface->grid_given && numbered.surface->reflection->magnitude[0] == 0.5f);
  const SimulationConfig gridded = read_ok(extra(R"(, "surface": [[0], [0], [-1]])"));
  EXPECT_TRUE(gridded.surface->grid_given && !gridded.surface->reflection);
  EXPECT_FALSE(read_ok(Document{}.text()).source.beam_pattern.has_value());
}

TEST(ReadSimulationConfig, ReportsUnknownKeysByPathInDocumentOrderButNotThoseOfTheBottomModel) {
  const Document document{.bathymetry = R"({"x_bty_m": [], "y_bty_m": [], "z_bty_m": [],
                                          "bottom_model": {"model": "rigid", "depth": 5}})",
                          .beam = R"({"step_m": 1, "note": {"a": [1, {"b": true}]}, "max_steps": 1,
                                    "max_range_m": 1, "note": "again"})",
                          .extra = R"(, "comment": [1, 2], "s\u0073p_extra": null)"};
  EXPECT_EQ(read_simulation_config(document.text()).unknown_key_paths,
            (std::vector<std::string>{"beam.note", "beam.note", "comment", "ssp_extra"}));
  const std::string positional =
      R"([{"note": 1, "x_ssp_m": [], "y_ssp_m": [], "z_ssp_m": [], "c_m_s": []}, )" +
      document.bathymetry + ", " + document.source + ", " + document.receivers + ", [1, 1, 1]]";
  EXPECT_EQ(read_simulation_config(positional).unknown_key_paths,
            std::vector<std::string>{"0.note"});
}

TEST(ReadSimulationConfig, DoesNotCountSkippedUnknownValuesAgainstTheNestingLimit) {
  EXPECT_TRUE(
      read_simulation_config(bottom(R"({"model": "rigid", "x": )" + nested_arrays(124) + "}"))
          .config);
  EXPECT_TRUE(read_simulation_config(extra(R"(, "note": )" + nested_arrays(100000))).config);
}

}  // namespace
}  // namespace abyx
