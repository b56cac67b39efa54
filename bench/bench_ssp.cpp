// Sound-speed cursor and interpolation on a Munk-like 23 x 23 x 62 grid, along a closed path whose
// steps (about 30 m) move the cursor the way a traced ray does.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

constexpr std::size_t kPathPoints = 8192;

// Munk's canonical profile with a gentle horizontal perturbation.
float munk_speed(float x, float y, float z) {
  const float eta = 2.0f * (z - 1300.0f) / 1300.0f;
  const float munk = 1500.0f * (1.0f + 0.00737f * (eta - 1.0f + std::exp(-eta)));
  return munk + 4.0f * std::sin(x / 20000.0f) * std::cos(y / 30000.0f);
}

SSPFields munk_fields() {
  SimulationConfig config;
  SoundSpeed& s = config.ssp;
  for (int i = 0; i < 23; ++i) s.x_ssp_m.push_back(5000.0f * i);
  s.y_ssp_m = s.x_ssp_m;
  for (int i = 0; i < 62; ++i) s.z_ssp_m.push_back(5000.0f * i / 61.0f);
  for (float x : s.x_ssp_m) {
    for (float y : s.y_ssp_m) {
      for (float z : s.z_ssp_m) s.c_m_s.push_back(munk_speed(x, y, z));
    }
  }
  return init_ssp(config.ssp);
}

// A closed loop through the grid: a 40 km circle in plan, three depth oscillations per turn.
std::vector<Vec3> loop_path() {
  std::vector<Vec3> path;
  for (std::size_t i = 0; i < kPathPoints; ++i) {
    const float a = 6.2831855f * static_cast<float>(i) / kPathPoints;
    path.push_back({55000.0f + 40000.0f * std::cos(a), 55000.0f + 40000.0f * std::sin(a),
                    2500.0f + 2000.0f * std::sin(3.0f * a)});
  }
  return path;
}

void BM_InterpolateAllWithCursor(benchmark::State& state) {
  const SSPFields ssp = munk_fields();
  const std::vector<Vec3> path = loop_path();
  SSPCursor cursor = init_ssp_cursor(path[0], ssp);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(interpolate_all_with_cursor(path[i], ssp, cursor));
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateAllWithCursor);

void BM_InterpolateCWithCursor(benchmark::State& state) {
  const SSPFields ssp = munk_fields();
  const std::vector<Vec3> path = loop_path();
  SSPCursor cursor = init_ssp_cursor(path[0], ssp);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(interpolate_all_with_cursor(path[i], ssp, cursor).c);
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateCWithCursor);

void BM_UpdateSspCursor(benchmark::State& state) {
  const SSPFields ssp = munk_fields();
  const std::vector<Vec3> path = loop_path();
  SSPCursor cursor = init_ssp_cursor(path[0], ssp);
  std::size_t i = 0;
  for (auto _ : state) {
    update_ssp_cursor(path[i], ssp, cursor);
    benchmark::DoNotOptimize(cursor);
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UpdateSspCursor);

void BM_InitSspCursor(benchmark::State& state) {
  const SSPFields ssp = munk_fields();
  const std::vector<Vec3> path = loop_path();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(init_ssp_cursor(path[i], ssp));
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InitSspCursor);

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
