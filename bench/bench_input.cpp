#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "input/number_text.h"
#include "input/read_simulation_config.h"

namespace {

constexpr std::size_t kSpeedCount = 1000000;  // 100 x 100 x 100 nodes

enum class Digits { Short, Full };

// A configuration as the caller's conversion writes it (", " and ": " separators, floats in
// their shortest round-trip form) holding a 100 x 100 x 100 sound-speed grid.
std::string million_speed_config(Digits digits) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> jitter(-30.0, 30.0);
  std::string speeds;
  speeds.reserve(kSpeedCount * 20);
  for (std::size_t k = 0; k < kSpeedCount; ++k) {
    if (k > 0) speeds += ", ";
    double speed = 1500.0 + jitter(random);
    if (digits == Digits::Short)
      speed = static_cast<double>(static_cast<long>(speed * 10.0)) / 10.0;
    speeds += abyx::format_f64_shortest(speed);
  }
  std::string axis;
  for (int k = 0; k < 100; ++k) axis += (k ? ", " : "") + abyx::format_f64_shortest(10.0 * k);
  return R"({"ssp": {"x_ssp_m": [)" + axis + R"(], "y_ssp_m": [)" + axis + R"(], "z_ssp_m": [)" +
         axis + R"(], "c_m_s": [)" + speeds +
         R"(]}, "bathymetry": {"x_bty_m": [0.0, 1000.0], "y_bty_m": [0.0, 1000.0],
         "z_bty_m": [100.0, 100.0, 100.0, 100.0], "bottom_model": {"model": "acoustic",
         "compressional_speed_m_s": 1600.0, "density_g_cm3": 1.8}}, "source": {"position": [0.0,
         0.0, 50.0], "freq_hz": [100.0], "launch_elev_deg": [-10.0, 0.0, 10.0],
         "launch_azim_deg": [0.0, 120.0, 240.0]}, "receivers": {"config_type": "grid",
         "x_rcvr_m": [100.0, 200.0], "y_rcvr_m": [100.0, 200.0], "z_rcvr_m": [20.0, 60.0]},
         "beam": {"step_m": 10.0, "max_steps": 100, "max_range_m": 500.0}})";
}

void read_config(benchmark::State& state, Digits digits) {
  const std::string text = million_speed_config(digits);
  for (auto _ : state) {
    abyx::ReadConfigResult result = abyx::read_simulation_config(text);
    if (!result.config) state.SkipWithError(result.error.c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSpeedCount));
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
}

// Speeds with one decimal, e.g. 1487.3.
void BM_ReadConfigMillionShortSpeeds(benchmark::State& state) { read_config(state, Digits::Short); }
// Speeds with all 17 significant digits, as a float64 array converts.
void BM_ReadConfigMillionFullSpeeds(benchmark::State& state) { read_config(state, Digits::Full); }

void BM_ValidateMillionSpeeds(benchmark::State& state) {
  abyx::ReadConfigResult read = abyx::read_simulation_config(million_speed_config(Digits::Short));
  abyx::SimulationConfig config;
  for (auto _ : state) {
    state.PauseTiming();
    config = *read.config;
    state.ResumeTiming();
    benchmark::DoNotOptimize(config.validate());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSpeedCount));
}

BENCHMARK(BM_ReadConfigMillionShortSpeeds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadConfigMillionFullSpeeds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateMillionSpeeds)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
