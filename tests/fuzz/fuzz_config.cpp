// Fuzz target for the configuration road: JSON text -> reader -> validate -> set-up of the
// sound-speed grid, the bathymetry and the receivers (no tracing). Faults and allocation failures
// are expected outcomes; anything else that goes wrong (a sanitizer report, an escaped exception, a
// broken post-condition) stops the process so that the fuzzer keeps the input.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bty/bty_field.h"
#include "common/fault.h"
#include "engine/memory_budget.h"
#include "influence/pressure_field.h"
#include "input/read_simulation_config.h"
#include "input/simulation_config.h"
#include "ssp/ssp_fields.h"

namespace {

using abyx::SimulationConfig;

// Largest number of values a set-up may allocate here; bigger requests are skipped so that the
// fuzzer explores the road instead of the allocator.
constexpr std::size_t kMaxSetupValues = std::size_t{1} << 18;

constexpr std::string_view kInvalidPrefix = "Invalid simulation config:\n  - ";

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "fuzz_config: broken post-condition: %s\n", what);
  std::abort();
}

void require(bool condition, const char* what) {
  if (!condition) broken(what);
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool none_negative(const std::vector<float>& values) {
  for (const float v : values) {
    if (v < 0.0f || std::isnan(v)) return false;
  }
  return true;
}

// a * b * c, or the largest size_t when the product overflows.
std::size_t saturating_product(std::size_t a, std::size_t b, std::size_t c) {
  std::size_t ab = 0, abc = 0;
  if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc)) {
    return std::numeric_limits<std::size_t>::max();
  }
  return abc;
}

// What validation promises about a record it accepted.
void check_validated(const SimulationConfig& config) {
  require(!config.ssp.c_m_s.empty(), "accepted an empty c_m_s");
  for (const float c : config.ssp.c_m_s) require(c > 0.0f, "accepted a sound speed <= 0");
  require(!config.bathymetry.z_bty_m.empty(), "accepted an empty z_bty_m");
  require(none_negative(config.ssp.z_ssp_m), "left a negative z_ssp_m");
  require(none_negative(config.receivers.z_rcvr_m), "left a negative z_rcvr_m");
  require(!(config.source.position[2] < 0.0f), "left a negative source depth");
  for (const float e : config.source.launch_elev_deg) {
    require(std::fabs(e) <= 90.0f, "accepted an elevation outside [-90, 90]");
  }
  const std::string& layout = config.receivers.config_type;
  require(layout == "grid" || layout == "array", "accepted an unknown receiver layout");
  require(config.beam.step_m > 0.0f, "accepted step_m <= 0");
  require(config.beam.max_steps > 0, "accepted max_steps = 0");
  require(config.beam.max_range_m > 0.0f, "accepted max_range_m <= 0");
  if (config.bathymetry.water_density_g_cm3) {
    require(*config.bathymetry.water_density_g_cm3 > 0.0f, "accepted a water density <= 0");
  }
}

std::size_t receiver_count(const SimulationConfig& config) {
  const abyx::Receivers& r = config.receivers;
  if (r.config_type == "array") return r.x_rcvr_m.size();
  return saturating_product(r.x_rcvr_m.size(), r.y_rcvr_m.size(), r.z_rcvr_m.size());
}

void set_up_sound_speed(const SimulationConfig& config) {
  const abyx::SoundSpeed& in = config.ssp;
  if (in.c_m_s.size() > kMaxSetupValues) return;
  const abyx::SSPFields ssp = abyx::init_ssp(config);
  const std::size_t nodes =
      saturating_product(in.x_ssp_m.size(), in.y_ssp_m.size(), in.z_ssp_m.size());
  require(nodes == in.c_m_s.size(), "sound-speed grid built from a list of the wrong length");
  require(ssp.c.values == in.c_m_s, "sound-speed grid does not hold the configured values");
  for (const abyx::Grid3* g : {&ssp.c_x, &ssp.c_y, &ssp.c_z, &ssp.c_xx, &ssp.c_yy, &ssp.c_zz,
                               &ssp.c_xy, &ssp.c_xz, &ssp.c_yz}) {
    require(g->values.size() == nodes, "derivative grid of the wrong size");
  }
}

void set_up_bathymetry(const SimulationConfig& config) {
  const abyx::Bathymetry& in = config.bathymetry;
  if (in.z_bty_m.size() > kMaxSetupValues) return;
  const abyx::BTYfield bty = abyx::init_bty(config);
  require(bty.x.size() * bty.y.size() == bty.depth.size(), "bathymetry of the wrong size");
  require(bty.water_density > 0.0f, "water density <= 0 after set-up");
}

void set_up_receivers(const SimulationConfig& config) {
  const std::size_t receivers = receiver_count(config);
  const std::size_t values =
      saturating_product(receivers, std::max<std::size_t>(config.source.freq_hz.size(), 1), 1);
  if (values > kMaxSetupValues) return;
  const abyx::PressureField field = abyx::init_pressure_field(config);
  require(field.receiver_count() == receivers, "field with the wrong receiver count");
  require(field.shape[0] == config.source.freq_hz.size(), "field with the wrong frequency count");
  require(field.pressure.size() == field.shape[0] * receivers, "pressure array of the wrong size");
  require(field.delay_s.size() == receivers && field.amplitude.size() == receivers,
          "delay or amplitude array of the wrong size");
  require(field.is_array == field.receiver_positions_m.has_value(),
          "array flag and receiver positions disagree");
  for (std::size_t i = 0; i < receivers; ++i) {
    require(std::isinf(field.delay_s[i]) && field.delay_s[i] > 0.0f, "a delay starts below +inf");
    require(field.amplitude[i] == 0.0f, "an amplitude starts above 0");
  }
}

// The up-front size check: a refusal names what is too large; for sizes it lets through, each
// field of a run fits what it was told is available.
void check_memory_budget(const SimulationConfig& config) {
  constexpr std::uint64_t kAvailable = std::uint64_t{1} << 30;
  try {
    abyx::check_run_fits_memory(config, 2, kAvailable);
  } catch (const abyx::TooLargeForMemory& refusal) {
    require(std::string_view(refusal.what()).find(" too large for memory: ") != std::string::npos,
            "a size refusal that does not say what is too large");
    return;
  }
  const std::size_t values = saturating_product(
      receiver_count(config), std::max<std::size_t>(config.source.freq_hz.size(), 1), 8);
  require(values <= kAvailable, "a field larger than the memory available was let through");
}

// Each set-up may refuse the configuration with its own fault; the others still run.
template <class SetUp>
void expect_fault_or_success(SetUp set_up, const SimulationConfig& config) {
  try {
    set_up(config);
  } catch (const abyx::Fault& fault) {
    require(fault.what()[0] != '\0', "a fault without a message");
  } catch (const std::bad_alloc&) {
  }
}

void run_config_road(std::string_view text) {
  abyx::ReadConfigResult read = abyx::read_simulation_config(text);
  if (!read.config) {
    require(!read.error.empty(), "a failed read without a message");
    require(read.error.find(" at line ") != std::string::npos, "a read error without a position");
    require(read.unknown_key_paths.empty(), "a failed read kept its unknown keys");
    return;
  }
  require(read.error.empty(), "a successful read with an error message");

  SimulationConfig& config = *read.config;
  const abyx::ValidationResult validation = config.validate();
  if (validation.error) {
    require(starts_with(*validation.error, kInvalidPrefix),
            "an invalid-config text without its head");
    require(validation.warnings.empty(), "a failed validation kept its warnings");
    return;
  }
  check_validated(config);

  // a second validation of its own output corrects nothing and finds nothing
  SimulationConfig again = config;
  const abyx::ValidationResult second = again.validate();
  require(!second.error && second.warnings.empty(), "validation is not idempotent");

  check_memory_budget(config);
  expect_fault_or_success(set_up_sound_speed, config);
  expect_fault_or_success(set_up_bathymetry, config);
  expect_fault_or_success(set_up_receivers, config);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_config_road(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
