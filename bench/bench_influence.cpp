#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "bty/bty_field.h"
#include "common/ray_state.h"
#include "fixtures.h"
#include "influence/pressure_field.h"
#include "input/simulation_config.h"
#include "support/beam_testing.h"

namespace {

using abyx::BeamInfluenceCounts;
using abyx::BeamLaunch;
using abyx::BeamOutputs;
using abyx::BeamScratch;
using abyx::BTYfield;
using abyx::PressureField;
using abyx::RayState;
using abyx::ReceiverIndex;
using abyx::ReceiverSearch;
using abyx::Vec3;

constexpr float kDegree = 0.017453292f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kC0 = 1500.0f;        // m/s
constexpr float kElevation = 10.0f;   // deg, downwards
constexpr std::size_t kStates = 500;  // 10 m apart: a 5 km ray
constexpr float kStep = 10.0f;        // m

// The ray a tracer gives in homogeneous water: along +x, 10 deg down from 100 m depth.
std::vector<RayState> homogeneous_ray() {
  const Vec3 dir{std::cos(kElevation * kDegree), 0.0f, std::sin(kElevation * kDegree)};
  return abyx::fixtures::straight_ray({0.0f, 0.0f, 100.0f}, dir, kC0, kStep, kStates);
}

std::vector<float> axis(float lo, float hi, std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = lo + (hi - lo) * static_cast<float>(i) / static_cast<float>(n - 1);
  }
  return v;
}

// About 50k receivers around the ray, as a grid or as the same points in a list: a volume of
// 101 x 21 x 25 nodes 50 m apart, or a vertical slice through the ray of 501 x 1 x 101 nodes 10 m
// apart.
PressureField receivers(bool slice, bool array, std::size_t nf) {
  abyx::SimulationConfig config;
  config.source.freq_hz.assign(nf, 100.0f);
  const std::vector<float> x = slice ? axis(0.0f, 5000.0f, 501) : axis(0.0f, 5000.0f, 101);
  const std::vector<float> y = slice ? std::vector<float>{0.0f} : axis(-500.0f, 500.0f, 21);
  const std::vector<float> z = slice ? axis(0.0f, 1000.0f, 101) : axis(0.0f, 1000.0f, 25);
  if (!array) {
    config.receivers = {"grid", x, y, z};
    return abyx::init_pressure_field(config.receivers, abyx::receiver_layout(config.receivers),
                                     config.source.freq_hz.size());
  }
  config.receivers.config_type = "array";
  for (const float px : x) {
    for (const float py : y) {
      for (const float pz : z) {
        config.receivers.x_rcvr_m.push_back(px);
        config.receivers.y_rcvr_m.push_back(py);
        config.receivers.z_rcvr_m.push_back(pz);
      }
    }
  }
  return abyx::init_pressure_field(config.receivers, abyx::receiver_layout(config.receivers),
                                   config.source.freq_hz.size());
}

// One beam of the 5 km ray into 53k receivers; items are receiver contributions (one receiver
// inside the beam of one segment, all frequencies). Arguments: slice or volume, array mode,
// frequencies, narrowed search.
void BM_GaussianBeamInfluence(benchmark::State& state) {
  const bool slice = state.range(0) != 0;
  const bool array = state.range(1) != 0;
  const std::size_t nf = static_cast<std::size_t>(state.range(2));
  const ReceiverSearch search =
      state.range(3) != 0 ? ReceiverSearch::Narrowed : ReceiverSearch::Exhaustive;
  const abyx::RayTrace ray = abyx::without_hits(homogeneous_ray());
  PressureField field = receivers(slice, array, nf);
  std::vector<float> omegas(nf);
  for (std::size_t k = 0; k < nf; ++k) {
    omegas[k] = kTwoPi * (50.0f + 25.0f * static_cast<float>(k));
  }
  const BeamLaunch launch{kElevation * kDegree, kDegree, kDegree};
  // the engine builds its model, array index included, once per run and reuses its working arrays
  const abyx::Model model = abyx::beam_model(field, BTYfield{}, omegas);
  BeamScratch scratch;
  BeamOutputs out{field};
  BeamInfluenceCounts counts;
  for (auto _ : state) {
    counts = abyx::add_gaussian_beam(ray, launch, model, search, scratch, out);
    benchmark::DoNotOptimize(field.pressure.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * counts.contributions));
  state.counters["contributions"] = static_cast<double>(counts.contributions);
  state.counters["candidates"] = static_cast<double>(counts.candidates);
}
BENCHMARK(BM_GaussianBeamInfluence)
    ->ArgNames({"slice", "array", "nf", "narrowed"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

std::vector<float> phases() {
  std::vector<float> theta(4096);
  for (std::size_t i = 0; i < theta.size(); ++i) {
    theta[i] = 0.37f * static_cast<float>(i) - 50.0f;
  }
  return theta;
}

// The single-precision library functions of the frequency loop and the Gaussian weight.
void BM_SinCosFused(benchmark::State& state) {
  const std::vector<float> theta = phases();
  for (auto _ : state) {
    float sum = 0.0f;
    for (const float t : theta) {
      float s;
      float c;
      ::sincosf(t, &s, &c);
      sum += s + c;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * theta.size()));
}
BENCHMARK(BM_SinCosFused);

void BM_SinThenCos(benchmark::State& state) {
  const std::vector<float> theta = phases();
  for (auto _ : state) {
    float sum = 0.0f;
    for (const float t : theta) {
      sum += std::sin(t) + std::cos(t);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * theta.size()));
}
BENCHMARK(BM_SinThenCos);

void BM_Exp(benchmark::State& state) {
  const std::vector<float> theta = phases();
  for (auto _ : state) {
    float sum = 0.0f;
    for (const float t : theta) {
      sum += std::exp(-0.001f * t * t);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * theta.size()));
}
BENCHMARK(BM_Exp);

}  // namespace

BENCHMARK_MAIN();
