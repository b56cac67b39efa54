// Bathymetry cursor, depth and normal on a 101 x 101 sloping, rippled bottom along a closed path.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "bty/bty_field.h"
#include "bty/height_cursor.h"

namespace abyx {
namespace {

constexpr std::size_t kPathPoints = 8192;

BTYfield rippled_bottom() {
  SimulationConfig config;
  Bathymetry& b = config.bathymetry;
  for (int i = 0; i < 101; ++i) b.x_bty_m.push_back(1000.0f * i);
  b.y_bty_m = b.x_bty_m;
  for (float x : b.x_bty_m) {
    for (float y : b.y_bty_m) {
      b.z_bty_m.push_back(3000.0f + 0.01f * x + 200.0f * std::sin(x / 7000.0f + y / 9000.0f));
    }
  }
  return init_bty(config.bathymetry);
}

std::vector<Vec3> loop_path() {
  std::vector<Vec3> path;
  for (std::size_t i = 0; i < kPathPoints; ++i) {
    const float a = 6.2831855f * static_cast<float>(i) / kPathPoints;
    path.push_back({50000.0f + 40000.0f * std::cos(a), 50000.0f + 40000.0f * std::sin(a), 0.0f});
  }
  return path;
}

// What the bottom test does after every step: move the cursor, then depth and normal.
void BM_BtyDepthAndNormal(benchmark::State& state) {
  const BTYfield bty = rippled_bottom();
  const std::vector<Vec3> path = loop_path();
  HeightCursor cursor = init_height_cursor(path[0], bty.grid);
  std::size_t i = 0;
  for (auto _ : state) {
    update_height_cursor(path[i], bty.grid, cursor);
    benchmark::DoNotOptimize(sample_height_from_cursor(path[i], bty.grid, cursor));
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BtyDepthAndNormal);

void BM_InitBtyCursor(benchmark::State& state) {
  const BTYfield bty = rippled_bottom();
  const std::vector<Vec3> path = loop_path();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(init_height_cursor(path[i], bty.grid));
    i = i + 1 == kPathPoints ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InitBtyCursor);

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
