// Ray tracing speed in a Munk-like ocean: 23 x 23 x 62 sound-speed nodes over 20 km x 20 km x
// 6100 m (Munk profile plus 0.5 m/s per km along x), a bottom at 5000 + 0.05 y m, a source at
// 1000 m and 50 m steps. Items are ray states produced (steps).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bty/bty_cursor.h"
#include "bty/bty_field.h"
#include "input/simulation_config.h"
#include "rays/ray_equations.h"
#include "rays/step_control.h"
#include "rays/trace_ray.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

constexpr float kDeg = 0.017453292f;

std::vector<float> linspace(float first, float last, std::size_t n) {
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) {
    values[i] = first + (last - first) * static_cast<float>(i) / static_cast<float>(n - 1);
  }
  return values;
}

// Munk's canonical profile: minimum 1500 m/s at 1300 m depth.
float munk(float z) {
  const float eta = 2.0f * (z - 1300.0f) / 1300.0f;
  return 1500.0f * (1.0f + 0.00737f * (eta - 1.0f + std::exp(-eta)));
}

SimulationConfig munk_config(IntegrationMethod method) {
  SimulationConfig config;
  SoundSpeed& ssp = config.ssp;
  ssp.x_ssp_m = linspace(0.0f, 20000.0f, 23);
  ssp.y_ssp_m = linspace(0.0f, 20000.0f, 23);
  ssp.z_ssp_m = linspace(0.0f, 6100.0f, 62);
  for (float x : ssp.x_ssp_m) {
    for (float y : ssp.y_ssp_m) {
      (void)y;
      for (float z : ssp.z_ssp_m) ssp.c_m_s.push_back(munk(z) + 0.0005f * x);
    }
  }
  Bathymetry& bty = config.bathymetry;
  bty.x_bty_m = linspace(0.0f, 20000.0f, 23);
  bty.y_bty_m = linspace(0.0f, 20000.0f, 23);
  for (float x : bty.x_bty_m) {
    (void)x;
    for (float y : bty.y_bty_m) bty.z_bty_m.push_back(5000.0f + 0.05f * y);
  }
  config.source.position = {10000.0f, 10000.0f, 1000.0f};
  config.beam.step_m = 50.0f;
  config.beam.max_steps = 100000;
  config.beam.max_range_m = 9000.0f;
  config.beam.integration_method = method;
  return config;
}

struct MunkOcean {
  explicit MunkOcean(IntegrationMethod method)
      : config(munk_config(method)), ssp(init_ssp(config)), bty(init_bty(config)) {}
  SimulationConfig config;
  SSPFields ssp;
  BTYfield bty;
};

// A fan of 9 elevations (-40..40 deg) by 8 azimuths: refracted, surface- and bottom-reflected rays.
template <class Trace>
void trace_fan(benchmark::State& bench, Trace trace) {
  std::size_t states = 0;
  for (auto _ : bench) {
    for (int a = 0; a < 8; ++a) {
      for (int e = 0; e < 9; ++e) {
        states +=
            trace(static_cast<float>(a) * 45.0f * kDeg, static_cast<float>(e - 4) * 10.0f * kDeg);
      }
    }
  }
  bench.SetItemsProcessed(static_cast<std::int64_t>(states));
}

void BM_TraceRay(benchmark::State& bench, IntegrationMethod method) {
  const MunkOcean ocean(method);
  std::vector<RayState> states;
  trace_fan(bench, [&](float az, float el) {
    trace_ray(ocean.config, ocean.ssp, ocean.bty, az, el, states);
    benchmark::DoNotOptimize(states.data());
    return states.size();
  });
}

void BM_TraceRayFreshList(benchmark::State& bench, IntegrationMethod method) {
  const MunkOcean ocean(method);
  trace_fan(bench, [&](float az, float el) {
    const std::vector<RayState> states = trace_ray(ocean.config, ocean.ssp, ocean.bty, az, el);
    benchmark::DoNotOptimize(states.data());
    return states.size();
  });
}

BENCHMARK_CAPTURE(BM_TraceRay, euler, IntegrationMethod::Euler)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TraceRay, rk2, IntegrationMethod::Rk2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TraceRayFreshList, euler, IntegrationMethod::Euler)
    ->Unit(benchmark::kMillisecond);

// The kernels of one step, at a state inside the ocean heading down at 10 deg along +x.
struct OneStep {
  const MunkOcean ocean{IntegrationMethod::Rk2};
  RayState state;
  SSPCursor ssp_cursor;
  BTYCursor bty_cursor;
  OneStep() {
    state.pos = {10000.0f, 10000.0f, 1000.0f};
    ssp_cursor = init_ssp_cursor(state.pos, ocean.ssp);
    bty_cursor = init_bty_cursor(state.pos, ocean.bty);
    const float c = interpolate_c_with_cursor(state.pos, ocean.ssp, ssp_cursor);
    state.slowness = {std::cos(10.0f * kDeg) / c, 0.0f, std::sin(10.0f * kDeg) / c};
    state.c = c;
  }
};

void BM_ComputeRayDerivatives(benchmark::State& bench) {
  OneStep step;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(step.state);
    benchmark::DoNotOptimize(compute_ray_derivatives(step.state, step.ocean.ssp, step.ssp_cursor));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_ComputeRayDerivatives);

void BM_ReduceStepToBoundaries(benchmark::State& bench) {
  OneStep step;
  const Vec3 dir = step.state.c * step.state.slowness;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(step.state);
    benchmark::DoNotOptimize(reduce_step_to_boundaries(step.state.pos, dir, step.ocean.ssp,
                                                       step.ssp_cursor, step.ocean.bty,
                                                       step.bty_cursor, 50.0f));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_ReduceStepToBoundaries);

void BM_Rk2Step(benchmark::State& bench) {
  OneStep step;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(step.state);
    const RayDerivatives k1 = compute_ray_derivatives(step.state, step.ocean.ssp, step.ssp_cursor);
    benchmark::DoNotOptimize(rk2_step(step.state, k1, 50.0f, step.ocean.ssp, step.ssp_cursor));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_Rk2Step);

void BM_EulerStep(benchmark::State& bench) {
  OneStep step;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(step.state);
    const RayDerivatives k = compute_ray_derivatives(step.state, step.ocean.ssp, step.ssp_cursor);
    benchmark::DoNotOptimize(euler_step(step.state, k, 50.0f));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_EulerStep);

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
