#include "input/read_simulation_config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "input/json_cursor.h"

namespace abyx {
namespace {

// The five records of a small valid document, each replaceable by its own JSON text.
struct Document {
  std::string ssp = R"({"x_ssp_m": [0, 1], "y_ssp_m": [0, 1], "z_ssp_m": [0, 100],
                       "c_m_s": [1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500]})";
  std::string bathymetry =
      R"({"x_bty_m": [0, 1], "y_bty_m": [0, 1], "z_bty_m": [100, 100, 100, 100]})";
  std::string source = R"({"position": [0, 0, 50], "freq_hz": [100], "launch_elev_deg": [0],
                          "launch_azim_deg": [0]})";
  std::string receivers = R"({"config_type": "grid", "x_rcvr_m": [10], "y_rcvr_m": [10],
                             "z_rcvr_m": [20]})";
  std::string beam = R"({"step_m": 10, "max_steps": 100, "max_range_m": 500})";
  std::string extra;  // members appended to the top-level object, with a leading comma

  std::string text() const {
    return "{\"ssp\": " + ssp + ", \"bathymetry\": " + bathymetry + ", \"source\": " + source +
           ", \"receivers\": " + receivers + ", \"beam\": " + beam + extra + "}";
  }
};

Document with_ssp(const std::string& ssp) {
  Document document;
  document.ssp = ssp;
  return document;
}

Document with_bathymetry(const std::string& bathymetry) {
  Document document;
  document.bathymetry = bathymetry;
  return document;
}

Document with_source(const std::string& source) {
  Document document;
  document.source = source;
  return document;
}

Document with_receivers(const std::string& receivers) {
  Document document;
  document.receivers = receivers;
  return document;
}

Document with_extra(const std::string& extra) {
  Document document;
  document.extra = extra;
  return document;
}

Document with_beam(const std::string& beam) {
  Document document;
  document.beam = beam;
  return document;
}

Document with_bottom(const std::string& bottom_model) {
  Document document;
  document.bathymetry =
      R"({"x_bty_m": [0], "y_bty_m": [0], "z_bty_m": [100], "bottom_model": )" + bottom_model + "}";
  return document;
}

// The beam with the given max_steps text.
Document with_max_steps(const std::string& max_steps) {
  return with_beam(R"({"step_m": 10, "max_steps": )" + max_steps + R"(, "max_range_m": 500})");
}

// The value of step_m read from the given number text.
float step_read_from(const std::string& number) {
  const ReadConfigResult result = read_simulation_config(
      with_beam(R"({"step_m": )" + number + R"(, "max_steps": 1, "max_range_m": 1})").text());
  EXPECT_TRUE(result.config.has_value()) << number << ": " << result.error;
  return result.config ? result.config->beam.step_m : std::numeric_limits<float>::quiet_NaN();
}

SimulationConfig read_ok(const std::string& text) {
  ReadConfigResult result = read_simulation_config(text);
  EXPECT_TRUE(result.config.has_value()) << result.error;
  return result.config ? std::move(*result.config) : SimulationConfig{};
}

// The message without its " at line L column C" suffix, which must be present.
std::string message_of(const ReadConfigResult& result) {
  EXPECT_FALSE(result.config.has_value());
  EXPECT_TRUE(result.unknown_key_paths.empty());
  const std::size_t at = result.error.rfind(" at line ");
  EXPECT_NE(at, std::string::npos) << result.error;
  if (at == std::string::npos) return result.error;
  const std::string suffix = result.error.substr(at);
  unsigned line = 0;
  unsigned column = 0;
  char tail = 0;
  EXPECT_EQ(std::sscanf(suffix.c_str(), " at line %u column %u%c", &line, &column, &tail), 2)
      << result.error;
  return result.error.substr(0, at);
}

std::string read_error(const std::string& text) { return message_of(read_simulation_config(text)); }

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

struct MessageCase {
  const char* name;     // what the case shows
  std::string text;     // the whole document
  std::string message;  // expected message before the position
};

void PrintTo(const MessageCase& c, std::ostream* out) { *out << c.name; }

class ReaderMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(ReaderMessage, ReportsExactMessage) {
  EXPECT_EQ(read_error(GetParam().text), GetParam().message) << GetParam().text;
}

Document missing_beam_field() { return with_beam(R"({"step_m": 1, "max_steps": 1})"); }

const std::string kBeamStart = R"({"step_m": 10, "max_steps": 100, "max_range_m": 500, )";

INSTANTIATE_TEST_SUITE_P(
    Schema, ReaderMessage,
    testing::Values(
        MessageCase{"EmptyObject", "{}", "missing field `ssp`"},
        MessageCase{"MissingRequiredOfBeam", missing_beam_field().text(),
                    "missing field `max_range_m`"},
        MessageCase{"FirstMissingInDeclarationOrder",
                    "{\"beam\": " + Document{}.beam + ", \"source\": " + Document{}.source + "}",
                    "missing field `ssp`"},
        MessageCase{
            "DuplicateKnownKey",
            with_beam(R"({"step_m": 1, "step_m": 2, "max_steps": 1, "max_range_m": 1})").text(),
            "duplicate field `step_m`"},
        MessageCase{"DuplicateRecord", with_extra(R"(, "ssp": {})").text(),
                    "duplicate field `ssp`"},
        MessageCase{"BooleanFromInteger", with_beam(kBeamStart + R"("store_ray_paths": 1})").text(),
                    "invalid type: integer `1`, expected a boolean"},
        MessageCase{"BooleanFromNull", with_beam(kBeamStart + R"("show_progress": null})").text(),
                    "invalid type: null, expected a boolean"},
        MessageCase{"MaxStepsWithFraction", with_max_steps("1000.0").text(),
                    "invalid type: floating point `1000.0`, expected usize"},
        MessageCase{"MaxStepsWithExponent", with_max_steps("1e3").text(),
                    "invalid type: floating point `1000.0`, expected usize"},
        MessageCase{"MaxStepsNegative", with_max_steps("-1").text(),
                    "invalid value: integer `-1`, expected usize"},
        MessageCase{"MaxStepsBeyondU64", with_max_steps("18446744073709551616").text(),
                    "invalid type: floating point `18446744073709551616.0`, expected usize"},
        MessageCase{"MaxStepsFraction", with_max_steps("-2.5e-3").text(),
                    "invalid type: floating point `-0.0025`, expected usize"},
        MessageCase{"MaxStepsNegativeZeroFloat", with_max_steps("-0.0").text(),
                    "invalid type: floating point `-0.0`, expected usize"},
        MessageCase{"MaxStepsHuge", with_max_steps("1e300").text(),
                    "invalid type: floating point `1e+300`, expected usize"},
        MessageCase{"MaxStepsString", with_max_steps(R"("100")").text(),
                    "invalid type: string \"100\", expected usize"},
        MessageCase{"MaxStepsBoolean", with_max_steps("true").text(),
                    "invalid type: boolean `true`, expected usize"},
        MessageCase{"PositionTooShort",
                    with_source(R"({"position": [1, 2], "freq_hz": [],
                             "launch_elev_deg": [], "launch_azim_deg": []})")
                        .text(),
                    "invalid length 2, expected an array of length 3"},
        MessageCase{"PositionTooLong",
                    with_source(R"({"position": [1, 2, 3, 4], "freq_hz": [],
                             "launch_elev_deg": [], "launch_azim_deg": []})")
                        .text(),
                    "trailing characters"},
        MessageCase{"PositionNotArray",
                    with_source(R"({"position": 5, "freq_hz": [],
                             "launch_elev_deg": [], "launch_azim_deg": []})")
                        .text(),
                    "invalid type: integer `5`, expected an array of length 3"},
        MessageCase{"MethodCaseSensitive",
                    with_beam(kBeamStart + R"("integration_method": "RK2"})").text(),
                    "unknown variant `RK2`, expected `euler` or `rk2`"},
        MessageCase{"MethodNumber", with_beam(kBeamStart + R"("integration_method": 2})").text(),
                    "expected value"},
        MessageCase{"MethodNull", with_beam(kBeamStart + R"("integration_method": null})").text(),
                    "expected value"},
        MessageCase{"MethodObjectUnknownName",
                    with_beam(kBeamStart + R"("integration_method": {"rk3": null}})").text(),
                    "unknown variant `rk3`, expected `euler` or `rk2`"},
        MessageCase{"MethodObjectNonNull",
                    with_beam(kBeamStart + R"("integration_method": {"rk2": 1}})").text(),
                    "invalid type: integer `1`, expected null"},
        MessageCase{"MethodObjectEmpty",
                    with_beam(kBeamStart + R"("integration_method": {}})").text(),
                    "expected value"},
        MessageCase{"RecordNotObject", with_ssp("5").text(),
                    "invalid type: integer `5`, expected struct SoundSpeed"},
        MessageCase{"TopLevelNotObject", "true",
                    "invalid type: boolean `true`, expected struct SimulationConfig"},
        MessageCase{"TopLevelString", R"("{}")",
                    "invalid type: string \"{}\", expected struct SimulationConfig"},
        MessageCase{"ListNotArray", with_ssp(R"({"x_ssp_m": "x"})").text(),
                    "invalid type: string \"x\", expected a sequence"},
        MessageCase{"ListElementString", with_ssp(R"({"x_ssp_m": [1, "a"]})").text(),
                    "invalid type: string \"a\", expected f32"},
        MessageCase{"ListElementArray", with_ssp(R"({"x_ssp_m": [1, [2]]})").text(),
                    "invalid type: sequence, expected f32"},
        MessageCase{"FloatFromMap",
                    with_beam(R"({"step_m": {}, "max_steps": 1, "max_range_m": 1})").text(),
                    "invalid type: map, expected f32"},
        MessageCase{"FloatFromEscapedString",
                    with_beam(R"({"step_m": "a\"b\\c\n\u0001", "max_steps": 1})").text(),
                    R"(invalid type: string "a\"b\\c\n\u0001", expected f32)"},
        MessageCase{"TextFromNumber", with_receivers(R"({"config_type": 5})").text(),
                    "invalid type: integer `5`, expected a string"},
        MessageCase{"OptionalFromString", with_bathymetry(R"({"water_density_g_cm3": "1"})").text(),
                    "invalid type: string \"1\", expected f32"},
        MessageCase{"PositionalRecordShort", with_ssp("[[0], [0]]").text(),
                    "invalid length 2, expected struct SoundSpeed with 4 elements"},
        MessageCase{"PositionalBeamShort", with_beam("[1, 2]").text(),
                    "invalid length 2, expected struct BeamSettings with 7 elements"},
        MessageCase{"PositionalBeamLong",
                    with_beam(R"([1, 2, 3, false, false, false, "euler", 8])").text(),
                    "trailing characters"},
        MessageCase{"PositionalTopLevelShort", "[{}, {}, {}, {}]", "missing field `x_ssp_m`"},
        MessageCase{"PositionalTopLevelEmpty", "[]",
                    "invalid length 0, expected struct SimulationConfig with 5 elements"},
        MessageCase{"EmptyPositionalSource", with_source("[]").text(),
                    "invalid length 0, expected struct Source with 4 elements"},
        MessageCase{"BathymetryPositionalShort", with_bathymetry("[[], []]").text(),
                    "invalid length 2, expected struct Bathymetry with 5 elements"},
        MessageCase{"ReceiversPositionalShort", with_receivers(R"(["grid"])").text(),
                    "invalid length 1, expected struct Receivers with 4 elements"}),
    [](const testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    BottomModel, ReaderMessage,
    testing::Values(
        MessageCase{"UnknownTag", with_bottom(R"({"model": "sand"})").text(),
                    "unknown variant `sand`, expected one of `rigid`, `acoustic`, `elastic`"},
        MessageCase{"NoTag", with_bottom(R"({"density_g_cm3": 1})").text(),
                    "missing field `model`"},
        MessageCase{"TwoTags",
                    with_bottom(R"({"model": "rigid", "x": 1, "model": "rigid"})").text(),
                    "duplicate field `model`"},
        MessageCase{"TagNotString", with_bottom(R"({"model": 3})").text(),
                    "invalid type: integer `3`, expected variant identifier"},
        MessageCase{"TagArray", with_bottom(R"({"model": ["rigid"]})").text(),
                    "invalid type: sequence, expected variant identifier"},
        MessageCase{"NotObject", with_bottom(R"("rigid")").text(),
                    "invalid type: string \"rigid\", expected internally tagged enum "
                    "BottomBoundaryModel"},
        MessageCase{"NullModel", with_bottom("null").text(),
                    "invalid type: null, expected internally tagged enum BottomBoundaryModel"},
        MessageCase{"AcousticMissingSpeed",
                    with_bottom(R"({"model": "acoustic", "density_g_cm3": 1.8})").text(),
                    "missing field `compressional_speed_m_s`"},
        MessageCase{"ElasticMissingShear",
                    with_bottom(R"({"compressional_speed_m_s": 1, "density_g_cm3": 1,
                                    "model": "elastic"})")
                        .text(),
                    "missing field `shear_speed_m_s`"},
        MessageCase{"DuplicateHeldField",
                    with_bottom(R"({"density_g_cm3": 1, "model": "acoustic", "density_g_cm3": 2,
                                    "compressional_speed_m_s": 1600})")
                        .text(),
                    "duplicate field `density_g_cm3`"},
        MessageCase{"HeldFieldWrongType",
                    with_bottom(R"({"compressional_speed_m_s": "fast", "density_g_cm3": 1,
                                    "model": "acoustic"})")
                        .text(),
                    "invalid type: string \"fast\", expected f32"},
        MessageCase{"MalformedDroppedMember",
                    with_bottom(R"({"model": "rigid", "depth": [1, NaN]})").text(),
                    "expected value"},
        MessageCase{"ArrayEmpty", with_bottom("[]").text(), "missing field `model`"},
        MessageCase{"ArrayRigidWithMore", with_bottom(R"(["rigid", 1])").text(),
                    "trailing characters"},
        MessageCase{"ArrayElasticShort", with_bottom(R"(["elastic", 1600, 400])").text(),
                    "invalid length 2, expected struct Elastic with 5 elements"},
        MessageCase{"ArrayAcousticLong", with_bottom(R"(["acoustic", 1600, 1.8, 0.5, 9])").text(),
                    "trailing characters"},
        MessageCase{"ArrayUnknownTag", with_bottom(R"(["mud"])").text(),
                    "unknown variant `mud`, expected one of `rigid`, `acoustic`, `elastic`"}),
    [](const testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Text, ReaderMessage,
    testing::Values(
        MessageCase{"NaN", with_beam(R"({"step_m": NaN})").text(), "expected value"},
        MessageCase{"Infinity", with_ssp(R"({"c_m_s": [1, Infinity]})").text(), "expected value"},
        MessageCase{"MinusInfinity", with_ssp(R"({"c_m_s": [-Infinity]})").text(),
                    "invalid number"},
        MessageCase{"MinusInfinityAsMethod",
                    with_beam(kBeamStart + R"("integration_method": -Infinity})").text(),
                    "invalid number"},
        MessageCase{"NaNInsideSkippedValue", with_extra(R"(, "note": {"a": [NaN]})").text(),
                    "expected value"},
        MessageCase{"EmptyText", "", "unexpected end of input"},
        MessageCase{"OnlySpaces", "  \n ", "unexpected end of input"},
        MessageCase{"CutShort", R"({"ssp": {"x_ssp_m": [1, 2)", "unexpected end of input"},
        MessageCase{"MethodObjectCutShort", R"({"beam": {"integration_method": {"rk2": null)",
                    "unexpected end of input"},
        MessageCase{"UnterminatedString", R"({"ssp)", "unterminated string"},
        MessageCase{"MissingComma", R"({"ssp": {"x_ssp_m": [1 2]}})", "expected `,` or `]`"},
        MessageCase{"MissingMemberComma", R"({"note": 1 "ssp": {}})", "expected `,` or `}`"},
        MessageCase{"MissingColon", R"({"ssp" {}})", "expected `:`"},
        MessageCase{"KeyNotString", R"({ssp: {}})", "expected a string key"},
        MessageCase{"TrailingCommaInList", R"({"ssp": {"x_ssp_m": [1, 2,]}})", "trailing comma"},
        MessageCase{"TrailingCommaInObject", R"({"note": 1,})", "trailing comma"},
        MessageCase{"TrailingCommaInSkipped", R"({"note": [1,], "ssp": {}})", "trailing comma"},
        MessageCase{"GarbageAfterDocument", Document{}.text() + " x", "trailing characters"},
        MessageCase{"SecondDocument", Document{}.text() + " {}", "trailing characters"},
        MessageCase{"ControlCharacterInString", "{\"ss\tp\": {}}", "control character in string"},
        MessageCase{"BadEscape", R"({"s\xp": {}})", "invalid escape in string"},
        MessageCase{"BadUnicodeEscape", R"({"s\u12G4": {}})", "invalid unicode escape"},
        MessageCase{"LoneLowSurrogate", R"({"\udc00": {}})", "lone surrogate in unicode escape"},
        MessageCase{"HighSurrogateAlone", R"({"\ud800x": {}})", "lone surrogate in unicode escape"},
        MessageCase{"HighSurrogateThenNonLow", R"({"\ud800\u0041": {}})",
                    "lone surrogate in unicode escape"},
        MessageCase{"InvalidUtf8", "{\"\xff\": {}}", "invalid UTF-8 in string"},
        MessageCase{"OverlongUtf8", "{\"\xc0\xaf\": {}}", "invalid UTF-8 in string"},
        MessageCase{"EncodedSurrogateUtf8", "{\"\xed\xa0\x80\": {}}", "invalid UTF-8 in string"},
        MessageCase{"LeadingZero", with_ssp(R"({"c_m_s": [01]})").text(), "invalid number"},
        MessageCase{"BarePoint", with_ssp(R"({"c_m_s": [1.]})").text(), "invalid number"},
        MessageCase{"BareExponent", with_ssp(R"({"c_m_s": [1e+]})").text(), "invalid number"},
        MessageCase{"PlusSign", with_ssp(R"({"c_m_s": [+1]})").text(), "expected value"},
        MessageCase{"BadLiteral", with_beam(kBeamStart + R"("show_progress": tru})").text(),
                    "invalid literal"},
        MessageCase{"BadLiteralSkipped", with_extra(R"(, "note": nul)").text(), "invalid literal"}),
    [](const testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

TEST(ReadSimulationConfig, ReportsLineAndColumnOfTheProblem) {
  // column of the offending value, counted in characters from 1
  EXPECT_EQ(read_simulation_config(R"({"ssp": 5})").error,
            "invalid type: integer `5`, expected struct SoundSpeed at line 1 column 9");
  EXPECT_EQ(read_simulation_config("{\n  \"ssp\": 5}").error,
            "invalid type: integer `5`, expected struct SoundSpeed at line 2 column 10");
  EXPECT_EQ(read_simulation_config("{\"\xc3\xa9\": 1, \"ssp\": 5}").error,
            "invalid type: integer `5`, expected struct SoundSpeed at line 1 column 17");
  EXPECT_EQ(read_simulation_config("{}").error, "missing field `ssp` at line 1 column 2");
  EXPECT_EQ(read_simulation_config("").error, "unexpected end of input at line 1 column 1");
}

TEST(ReadSimulationConfig, DefaultsTheOptionalFields) {
  const SimulationConfig config = read_ok(Document{}.text());
  EXPECT_FALSE(config.bathymetry.water_density_g_cm3.has_value());
  EXPECT_TRUE(std::holds_alternative<BottomBoundaryModel::Rigid>(
      config.bathymetry.bottom_model.alternative));
  EXPECT_FALSE(config.beam.store_ray_paths);
  EXPECT_FALSE(config.beam.show_progress);
  EXPECT_FALSE(config.beam.atomic_progress_counter);
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Euler);
}

TEST(ReadSimulationConfig, ReadsEveryFieldOfTheObjectForm) {
  const std::string text = R"({
    "ssp": {"x_ssp_m": [-1.5, 2], "y_ssp_m": [], "z_ssp_m": [0.25], "c_m_s": [1500.5]},
    "bathymetry": {"x_bty_m": [1], "y_bty_m": [2], "z_bty_m": [3], "water_density_g_cm3": 1.03,
                   "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1600,
                                    "density_g_cm3": 1.8}},
    "source": {"position": [1, 2, -3], "freq_hz": [50, 100], "launch_elev_deg": [-90, 90],
               "launch_azim_deg": [360]},
    "receivers": {"config_type": " Grid ", "x_rcvr_m": [5], "y_rcvr_m": [], "z_rcvr_m": [7]},
    "beam": {"integration_method": "rk2", "max_range_m": 1e4, "step_m": 2, "max_steps": 0,
             "store_ray_paths": true, "show_progress": false, "atomic_progress_counter": true}
  })";
  const SimulationConfig config = read_ok(text);
  EXPECT_EQ(config.ssp.x_ssp_m, (std::vector<float>{-1.5f, 2.0f}));
  EXPECT_TRUE(config.ssp.y_ssp_m.empty());
  EXPECT_EQ(config.ssp.z_ssp_m, std::vector<float>{0.25f});
  EXPECT_EQ(config.ssp.c_m_s, std::vector<float>{1500.5f});
  EXPECT_EQ(config.bathymetry.water_density_g_cm3, std::optional<float>(1.03f));
  const auto& acoustic =
      std::get<BottomBoundaryModel::Acoustic>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(acoustic.compressional_speed_m_s, 1600.0f);
  EXPECT_EQ(acoustic.density_g_cm3, 1.8f);
  EXPECT_FALSE(acoustic.compressional_attenuation_db_per_wavelength.has_value());
  EXPECT_EQ(config.source.position, (std::array<float, 3>{1.0f, 2.0f, -3.0f}));
  EXPECT_EQ(config.source.freq_hz, (std::vector<float>{50.0f, 100.0f}));
  EXPECT_EQ(config.source.launch_elev_deg, (std::vector<float>{-90.0f, 90.0f}));
  EXPECT_EQ(config.receivers.config_type, " Grid ");  // kept as written
  EXPECT_EQ(config.receivers.z_rcvr_m, std::vector<float>{7.0f});
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Rk2);
  EXPECT_EQ(config.beam.max_range_m, 10000.0f);
  EXPECT_EQ(config.beam.step_m, 2.0f);
  EXPECT_EQ(config.beam.max_steps, 0u);
  EXPECT_TRUE(config.beam.store_ray_paths);
  EXPECT_FALSE(config.beam.show_progress);
  EXPECT_TRUE(config.beam.atomic_progress_counter);
}

TEST(ReadSimulationConfig, ReadsEveryRecordInPositionalForm) {
  const std::string text = R"([
    [[0], [1], [2], [1500]],
    [[0], [0], [100], 1.0, ["elastic", 1600, 400, 1.8, 0.5, 0.25]],
    [[1, 2, 3], [10], [0], [45]],
    ["array", [1], [2], [3]],
    [5, 7, 900, true, true, false, {"rk2": null}]
  ])";
  const SimulationConfig config = read_ok(text);
  EXPECT_EQ(config.ssp.c_m_s, std::vector<float>{1500.0f});
  EXPECT_EQ(config.bathymetry.water_density_g_cm3, std::optional<float>(1.0f));
  const auto& elastic =
      std::get<BottomBoundaryModel::Elastic>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(elastic.compressional_speed_m_s, 1600.0f);
  EXPECT_EQ(elastic.shear_speed_m_s, 400.0f);
  EXPECT_EQ(elastic.density_g_cm3, 1.8f);
  EXPECT_EQ(elastic.compressional_attenuation_db_per_wavelength, std::optional<float>(0.5f));
  EXPECT_EQ(elastic.shear_attenuation_db_per_wavelength, std::optional<float>(0.25f));
  EXPECT_EQ(config.source.position, (std::array<float, 3>{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(config.receivers.config_type, "array");
  EXPECT_EQ(config.beam.max_steps, 7u);
  EXPECT_TRUE(config.beam.store_ray_paths);
  EXPECT_TRUE(config.beam.show_progress);
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Rk2);
}

TEST(ReadSimulationConfig, PositionalFormsMayLeaveOffDefaultedFields) {
  Document document;
  document.bathymetry = "[[0], [0], [100]]";
  document.beam = "[5, 7, 900]";
  const SimulationConfig config = read_ok(document.text());
  EXPECT_FALSE(config.bathymetry.water_density_g_cm3.has_value());
  EXPECT_TRUE(std::holds_alternative<BottomBoundaryModel::Rigid>(
      config.bathymetry.bottom_model.alternative));
  EXPECT_EQ(config.beam.max_range_m, 900.0f);
  EXPECT_EQ(config.beam.integration_method, IntegrationMethod::Euler);

  const SimulationConfig acoustic = read_ok(with_bottom(R"(["acoustic", 1600, 1.8])").text());
  EXPECT_FALSE(std::get<BottomBoundaryModel::Acoustic>(acoustic.bathymetry.bottom_model.alternative)
                   .compressional_attenuation_db_per_wavelength.has_value());
}

TEST(ReadSimulationConfig, ReadsBottomModelMembersWhereverTheTagStands) {
  const SimulationConfig config =
      read_ok(with_bottom(R"({"shear_attenuation_db_per_wavelength": null, "density_g_cm3": 2,
                      "compressional_speed_m_s": 1700, "shear_speed_m_s": 300, "grain": {"a": 1},
                      "compressional_attenuation_db_per_wavelength": 0.1, "model": "elastic"})")
                  .text());
  const auto& elastic =
      std::get<BottomBoundaryModel::Elastic>(config.bathymetry.bottom_model.alternative);
  EXPECT_EQ(elastic.compressional_speed_m_s, 1700.0f);
  EXPECT_EQ(elastic.shear_speed_m_s, 300.0f);
  EXPECT_EQ(elastic.density_g_cm3, 2.0f);
  EXPECT_EQ(elastic.compressional_attenuation_db_per_wavelength, std::optional<float>(0.1f));
  EXPECT_FALSE(elastic.shear_attenuation_db_per_wavelength.has_value());
}

TEST(ReadSimulationConfig, ReportsUnknownKeysByPathInDocumentOrder) {
  Document document;
  document.beam = R"({"step_m": 1, "note": {"inner": [1, {"deep": true}]}, "max_steps": 1,
                      "max_range_m": 1, "note": "again"})";
  document.extra = R"(, "comment": [1, 2], "s\u0073p_extra": null)";
  const ReadConfigResult result = read_simulation_config(document.text());
  ASSERT_TRUE(result.config.has_value()) << result.error;
  EXPECT_EQ(result.unknown_key_paths,
            (std::vector<std::string>{"beam.note", "beam.note", "comment", "ssp_extra"}));
}

TEST(ReadSimulationConfig, UsesIndicesInPathsOfPositionalRecords) {
  Document document;
  const std::string text =
      std::string("[") + R"({"x_ssp_m": [], "y_ssp_m": [], "z_ssp_m": [], "c_m_s": [],
                                     "note": 1})" +
      ", " + document.bathymetry + ", " + document.source + ", " + document.receivers + ", " +
      R"([1, 1, 1, false, false, false, "euler"])" + "]";
  const ReadConfigResult result = read_simulation_config(text);
  ASSERT_TRUE(result.config.has_value()) << result.error;
  EXPECT_EQ(result.unknown_key_paths, std::vector<std::string>{"0.note"});
}

TEST(ReadSimulationConfig, DropsUnknownBottomModelMembersSilently) {
  for (const std::string bottom :
       {R"({"model": "rigid", "depth": 5})",
        R"({"model": "acoustic", "compressional_speed_m_s": 1600, "density_g_cm3": 1.5,
            "porosity": [0.4]})",
        R"({"extra": {}, "model": "elastic", "compressional_speed_m_s": 1, "shear_speed_m_s": 1,
            "density_g_cm3": 1})"}) {
    const ReadConfigResult result = read_simulation_config(with_bottom(bottom).text());
    ASSERT_TRUE(result.config.has_value()) << result.error;
    EXPECT_TRUE(result.unknown_key_paths.empty()) << bottom;
  }
}

TEST(ReadSimulationConfig, KeepsNothingFromAFailedRead) {
  Document document;
  document.extra = R"(, "note": 1, "ssp": {})";
  const ReadConfigResult result = read_simulation_config(document.text());
  EXPECT_FALSE(result.config.has_value());
  EXPECT_TRUE(result.unknown_key_paths.empty());
  EXPECT_EQ(message_of(result), "duplicate field `ssp`");
}

TEST(ReadSimulationConfig, ReadsNumbersAsF32ByTheIntegerAndFloatRules) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(step_read_from("2"), 2.0f);
  EXPECT_EQ(step_read_from("0.1"), static_cast<float>(0.1));
  EXPECT_EQ(step_read_from("16777217"), 16777216.0f);  // integer to the nearest f32
  EXPECT_EQ(step_read_from("-9223372036854775808"), -9223372036854775808.0f);
  EXPECT_EQ(step_read_from("18446744073709551615"), 18446744073709551615.0f);
  EXPECT_EQ(step_read_from("123456789012345678901234567890"), 1.2345679e29f);
  EXPECT_EQ(step_read_from("1e39"), kInf);
  EXPECT_EQ(step_read_from("-1e39"), -kInf);
  EXPECT_EQ(step_read_from("1e400"), kInf);
  EXPECT_EQ(step_read_from("1e-50"), 0.0f);
  EXPECT_EQ(step_read_from("1E2"), 100.0f);
  EXPECT_EQ(step_read_from("2.5e-1"), 0.25f);
  EXPECT_EQ(step_read_from("3.4028235677973366e38"), kInf);  // rounds past the largest f32
  // the decimal is read to f64 first (exactly 1 + 2^-24), then the tie rounds to even
  EXPECT_EQ(step_read_from("1.000000059604644775390625001"), 1.0f);
  EXPECT_EQ(step_read_from("1.00000005960464477539062500001e0"), 1.0f);

  const float negative_zero = step_read_from("-0.0");
  EXPECT_EQ(negative_zero, 0.0f);
  EXPECT_TRUE(std::signbit(negative_zero));
  EXPECT_FALSE(std::signbit(step_read_from("-0")));  // the integer 0
  EXPECT_TRUE(std::signbit(step_read_from("-1e-400")));
}

TEST(ReadSimulationConfig, ReadsMaxStepsOverTheWholeUnsignedRange) {
  EXPECT_EQ(read_ok(with_max_steps("0").text()).beam.max_steps, 0u);
  EXPECT_EQ(read_ok(with_max_steps("18446744073709551615").text()).beam.max_steps,
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(read_ok(with_max_steps("-0").text()).beam.max_steps, 0u);
}

TEST(ReadSimulationConfig, ReadsNullAndAbsentOptionalsAsAbsent) {
  Document document;
  document.bathymetry =
      R"({"x_bty_m": [], "y_bty_m": [], "z_bty_m": [], "water_density_g_cm3": null,
                           "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1,
                           "density_g_cm3": 1, "compressional_attenuation_db_per_wavelength": null}})";
  const SimulationConfig config = read_ok(document.text());
  EXPECT_FALSE(config.bathymetry.water_density_g_cm3.has_value());
  EXPECT_FALSE(std::get<BottomBoundaryModel::Acoustic>(config.bathymetry.bottom_model.alternative)
                   .compressional_attenuation_db_per_wavelength.has_value());
}

TEST(ReadSimulationConfig, AllowsUpTo127OpenContainers) {
  // top-level object, bathymetry and bottom_model are three; the held member adds the rest
  const auto bottom_with_depth = [](int depth) {
    return with_bottom(R"({"model": "rigid", "x": )" + nested_arrays(depth) + "}").text();
  };
  EXPECT_TRUE(read_simulation_config(bottom_with_depth(124)).config.has_value());
  EXPECT_EQ(read_error(bottom_with_depth(125)), "recursion limit exceeded");
}

TEST(ReadSimulationConfig, DoesNotCountSkippedUnknownValuesAgainstTheLimit) {
  Document document;
  document.extra = R"(, "note": )" + nested_arrays(100000);
  const ReadConfigResult result = read_simulation_config(document.text());
  ASSERT_TRUE(result.config.has_value()) << result.error;
  EXPECT_EQ(result.unknown_key_paths, std::vector<std::string>{"note"});

  Document objects;
  std::string deep;
  for (int k = 0; k < 20000; ++k) deep += R"({"k": [)";
  for (int k = 0; k < 20000; ++k) deep += "]}";
  objects.extra = R"(, "note": )" + deep;
  EXPECT_TRUE(read_simulation_config(objects.text()).config.has_value());
}

TEST(ReadSimulationConfig, DecodesStringEscapesToUtf8) {
  const auto config_type_of = [](const std::string& literal) {
    Document document;
    document.receivers =
        R"({"config_type": )" + literal + R"(, "x_rcvr_m": [], "y_rcvr_m": [], "z_rcvr_m": []})";
    return read_ok(document.text()).receivers.config_type;
  };
  EXPECT_EQ(config_type_of(R"("\u0041\u00e9\u20ac")"), "A\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(config_type_of(R"("\ud83d\ude00")"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(config_type_of(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(config_type_of("\"caf\xc3\xa9 \xf0\x9f\x8c\x8a\""), "caf\xc3\xa9 \xf0\x9f\x8c\x8a");
  EXPECT_EQ(config_type_of(R"("a\u0000b")"), std::string("a\0b", 3));
  // keys are compared after decoding
  EXPECT_TRUE(read_simulation_config(
                  R"({"\u0073sp": {"x_ssp_m": [], "y_ssp_m": [], "z_ssp_m": [], "c_m_s": []}})")
                  .error.starts_with("missing field `bathymetry`"));
}

TEST(ReadSimulationConfig, FailsCleanlyOnMutatedText) {
  // every mutation either reads or fails with a positioned message and nothing else
  Document document;
  document.bathymetry = R"({"x_bty_m": [0], "y_bty_m": [0], "z_bty_m": [1],
      "bottom_model": {"density_g_cm3": 1.8, "model": "acoustic", "compressional_speed_m_s": 1600}})";
  document.beam = R"({"step_m": 1e1, "max_steps": 100, "max_range_m": -5.5e-1,
      "integration_method": {"rk2": null}, "note": [{"a": "\u00e9\ud83d\ude00"}]})";
  const std::string original = document.text();
  const std::string alphabet = "{}[],:\"\\-+.eE0123456789 tfnulNaI\x01\xc3\xa9\xff";
  std::mt19937 random(2024);
  for (int trial = 0; trial < 4000; ++trial) {
    std::string text = original;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text[at] = alphabet[random() % alphabet.size()];
          break;
        case 1:
          text.erase(at, 1 + random() % 8);
          break;
        default:
          text.resize(at);
          break;
      }
    }
    const ReadConfigResult result = read_simulation_config(text);
    if (result.config) {
      EXPECT_TRUE(result.error.empty());
    } else {
      EXPECT_TRUE(result.unknown_key_paths.empty());
      EXPECT_NE(result.error.find(" at line "), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace abyx
