// Fuzz target for the configuration road: JSON text -> reader -> validate -> size check -> set-up
// of the sound-speed grid, the bathymetry and the receivers, then a short run of small fans. Faults
// and allocation failures are expected outcomes; a sanitizer report, an escaped exception or a
// broken post-condition stops the process so that the fuzzer keeps the input.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bty/bty_field.h"
#include "common/checked_size.h"
#include "common/fault.h"
#include "engine/core.h"
#include "engine/memory_budget.h"
#include "influence/pressure_field.h"
#include "input/read_simulation_config.h"
#include "input/simulation_config.h"
#include "input/validation_messages.h"
#include "ssp/ssp_fields.h"

namespace {

using abyx::SimulationConfig;

// Largest number of values a set-up may allocate here, so that the fuzzer explores the road
// instead of the allocator.
constexpr std::size_t kMaxSetupValues = std::size_t{1} << 18;

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_config: broken post-condition: %s\n", what);
  std::abort();
}

std::uint64_t product(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return abyx::saturating_multiply(abyx::saturating_multiply(a, b), c);
}

// The sound-speed grid, the bathymetry and the empty field of the receivers, where they are small
// enough; the sanitizers watch what they allocate and write.
void set_up(const SimulationConfig& config, const abyx::RunSizes& sizes) {
  if (config.ssp.c_m_s.size() <= kMaxSetupValues) abyx::init_ssp(config.ssp);
  if (config.bathymetry.z_bty_m.size() <= kMaxSetupValues) abyx::init_bty(config.bathymetry);
  if (product(sizes.receivers, sizes.frequencies + 1, 1) <= kMaxSetupValues) {
    abyx::init_pressure_field(config.receivers, sizes.layout, sizes.frequencies);
  }
}

// A small fan traced for a few hundred steps: a finite field and finite paths, or a refusal.
void trace_briefly(SimulationConfig config, const abyx::RunSizes& sizes) {
  if (product(sizes.azimuths, sizes.elevations, 1) > 16 || sizes.receivers > 4096 ||
      config.ssp.c_m_s.size() > 4096 || config.bathymetry.z_bty_m.size() > 4096) {
    return;
  }
  config.beam.max_steps = std::min<std::uint64_t>(config.beam.max_steps, 300);
  config.beam.store_ray_paths = true;
  try {
    const abyx::CoreResult result = abyx::core(config);
    for (const abyx::Complex32 p : result.field.pressure) {
      require(std::isfinite(p.re) && std::isfinite(p.im), "a non-finite pressure");
    }
    for (const auto& path : *result.ray_paths) {
      for (const abyx::Vec3 point : path) {
        require(std::isfinite(point.x) && std::isfinite(point.y) && std::isfinite(point.z),
                "a non-finite ray path");
      }
    }
  } catch (const abyx::BeyondPrecision&) {
  } catch (const abyx::Fault& fault) {
    require(fault.what()[0] != '\0', "a fault without a message");
  } catch (const std::bad_alloc&) {
  }
}

void run_config_road(std::string_view text) {
  abyx::ReadConfigResult read = abyx::read_simulation_config(text);
  if (!read.config) {
    require(read.error.find(" at line ") != std::string::npos && read.unknown_key_paths.empty(),
            "a failed read without a position, or with unknown keys");
    return;
  }
  require(read.error.empty(), "a successful read with an error message");
  SimulationConfig& config = *read.config;
  const abyx::ValidationResult validation = config.validate();
  if (validation.error) {
    require(validation.error->starts_with("Invalid simulation config:\n  - ") &&
                validation.warnings.empty(),
            "an invalid-config text without its head, or with warnings");
    return;
  }
  require(!(config.source.position[2] < 0.0f), "left a negative source depth");
  for (const float z : config.receivers.z_rcvr_m) require(z >= 0.0f, "left a negative depth");
  // a second validation corrects nothing and finds nothing: it tells again only what is not a
  // correction
  std::vector<std::string> told;
  std::copy_if(validation.warnings.begin(), validation.warnings.end(), std::back_inserter(told),
               [](const std::string& w) { return w.find(abyx::kDepthCorrectionMiddle) == w.npos; });
  SimulationConfig again = config;
  const abyx::ValidationResult second = again.validate();
  require(!second.error && second.warnings == told, "validation is not idempotent");
  const abyx::RunSizes sizes = abyx::run_sizes(config);
  try {
    abyx::check_run_fits_memory(sizes, 2, std::uint64_t{1} << 30);
  } catch (const abyx::TooLargeForMemory& refusal) {
    require(std::string_view(refusal.what()).find(" too large for memory: ") != std::string::npos,
            "a size refusal that does not say what is too large");
  }
  try {
    set_up(config, sizes);
  } catch (const abyx::Fault& fault) {
    require(fault.what()[0] != '\0', "a fault without a message");
    return;
  } catch (const std::bad_alloc&) {
    return;
  }
  trace_briefly(config, sizes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_config_road(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
