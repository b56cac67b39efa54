// The engine's own costs: handing a map-reduce to the pool and back, the counter update of the
// progress lines, and one small whole run (a 100 m flat waveguide over a fluid bottom, 1 440 rays
// to 2 km, a 21 x 21 x 3 receiver grid), whose items are rays.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core.h"
#include "engine/parallel_map_reduce.h"
#include "engine/progress.h"
#include "engine/worker_pool.h"
#include "input/simulation_config.h"

namespace abyx {
namespace {

std::vector<float> axis(float first, float step, std::size_t n) {
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = first + step * static_cast<float>(i);
  return values;
}

SimulationConfig flat_waveguide() {
  SimulationConfig config;
  config.ssp.x_ssp_m = {-3000.0f, 3000.0f};
  config.ssp.y_ssp_m = {-3000.0f, 3000.0f};
  config.ssp.z_ssp_m = {0.0f, 100.0f};
  config.ssp.c_m_s = std::vector<float>(8, 1500.0f);
  config.bathymetry.x_bty_m = {-3000.0f, 3000.0f};
  config.bathymetry.y_bty_m = {-3000.0f, 3000.0f};
  config.bathymetry.z_bty_m = std::vector<float>(4, 100.0f);
  config.bathymetry.bottom_model.alternative = BottomBoundaryModel::Acoustic{1600.0f, 1.5f, {}};
  config.source.position = {0.0f, 0.0f, 50.0f};
  config.source.freq_hz = {100.0f};
  config.source.launch_elev_deg = axis(-60.0f, 3.0f, 40);
  config.source.launch_azim_deg = axis(0.0f, 10.0f, 36);
  config.receivers.config_type = "grid";
  config.receivers.x_rcvr_m = axis(-2000.0f, 200.0f, 21);
  config.receivers.y_rcvr_m = axis(-2000.0f, 200.0f, 21);
  config.receivers.z_rcvr_m = {10.0f, 50.0f, 90.0f};
  config.beam.step_m = 10.0f;
  config.beam.max_steps = 20000;
  config.beam.max_range_m = 2000.0f;
  config.beam.integration_method = IntegrationMethod::Rk2;
  return config;
}

void BM_MapReduceHandOff(benchmark::State& state) {
  const std::size_t chunks = 2 * worker_count();
  for (auto _ : state) {
    const std::size_t sum = parallel_map_reduce<std::size_t>(
        chunks, [] { return std::size_t{0}; }, [](std::size_t chunk) { return chunk; },
        [](std::size_t& left, std::size_t&& right) { left += right; });
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["workers"] = static_cast<double>(worker_count());
}
BENCHMARK(BM_MapReduceHandOff);

void BM_ProgressCounterUpdate(benchmark::State& state) {
  ProgressCounter counter;
  counter.total = UINT64_MAX;
  std::chrono::nanoseconds elapsed{0};
  for (auto _ : state) {
    elapsed += std::chrono::microseconds(1);
    benchmark::DoNotOptimize(advance_counter(counter, 1, elapsed));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProgressCounterUpdate);

void BM_SmallRun(benchmark::State& state) {
  const SimulationConfig config = flat_waveguide();
  const std::size_t rays =
      config.source.launch_elev_deg.size() * config.source.launch_azim_deg.size();
  for (auto _ : state) {
    CoreResult result = core(config);
    benchmark::DoNotOptimize(result.field.pressure.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rays));
}
BENCHMARK(BM_SmallRun)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
