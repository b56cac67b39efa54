// Bottom reflection coefficient for a fan of incidence angles on fluid and solid bottoms.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {
namespace {

constexpr std::size_t kAngles = 256;

// Incident slownesses from normal to grazing incidence on a slightly tilted bottom.
std::vector<Vec3> incidence_fan() {
  std::vector<Vec3> fan;
  for (std::size_t i = 0; i < kAngles; ++i) {
    const float theta = 1.5f * static_cast<float>(i) / kAngles;
    fan.push_back(
        {std::sin(theta) / 1500.0f, 0.1f * std::sin(theta) / 1500.0f, std::cos(theta) / 1500.0f});
  }
  return fan;
}

void run(benchmark::State& state, const BottomParams& bottom) {
  const std::vector<Vec3> fan = incidence_fan();
  const Vec3 normal{0.05f, -0.02f, 1.0f};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        compute_bottom_reflection_coefficient(bottom, {normal, fan[i], 1500.0f}, 1.0f, 628.3f));
    i = i + 1 == kAngles ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ReflectionAcoustic(benchmark::State& state) {
  run(state, {BottomKind::Acoustic, 1600.0f, 0.0f, 1.5f, 0.5f, 0.0f});
}
BENCHMARK(BM_ReflectionAcoustic);

void BM_ReflectionElastic(benchmark::State& state) {
  run(state, {BottomKind::Elastic, 1800.0f, 600.0f, 2.0f, 0.3f, 0.8f});
}
BENCHMARK(BM_ReflectionElastic);

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
