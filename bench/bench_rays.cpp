// Ray tracing speed in the deep-water benchmark ocean: a Munk profile plus 0.5 m/s per km along x
// on a 23 x 23 x 62 grid (x, y from -22 km to 22 km every 2 km, z from 0 to 6100 m every 100 m), a
// bottom at 5000 + 0.05 y m with an attenuating fluid bottom, a source at 1000 m, 50 m steps and a
// 20 km range. Items are ray steps (states after the launch state).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bty/bty_field.h"
#include "bty/height_cursor.h"
#include "input/simulation_config.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "rays/ray_equations.h"
#include "rays/step_control.h"
#include "rays/trace_ray.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

constexpr float kDeg = 0.017453292f;

// n nodes first, first + step, ...
std::vector<float> axis(float first, float step, std::size_t n) {
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = first + step * static_cast<float>(i);
  return values;
}

// The ocean's sound speed as its configuration file lists it: Munk's canonical profile (minimum
// 1500 m/s at 1300 m) plus 0.5 m/s per km along x, evaluated in double and written with four
// decimals, so that the grid holds the very same f32 values.
float ocean_speed(float x, float z) {
  const double eta = 2.0 * (static_cast<double>(z) - 1300.0) / 1300.0;
  const double c = 1500.0 * (1.0 + 0.00737 * (eta - 1.0 + std::exp(-eta))) + 0.0005 * x;
  return static_cast<float>(std::round(c * 1e4) / 1e4);
}

SimulationConfig ocean_config(IntegrationMethod method) {
  SimulationConfig config;
  SoundSpeed& ssp = config.ssp;
  ssp.x_ssp_m = axis(-22000.0f, 2000.0f, 23);
  ssp.y_ssp_m = axis(-22000.0f, 2000.0f, 23);
  ssp.z_ssp_m = axis(0.0f, 100.0f, 62);
  for (float x : ssp.x_ssp_m) {
    for (std::size_t iy = 0; iy < ssp.y_ssp_m.size(); ++iy) {
      for (float z : ssp.z_ssp_m) ssp.c_m_s.push_back(ocean_speed(x, z));
    }
  }
  Bathymetry& bty = config.bathymetry;
  bty.x_bty_m = axis(-22000.0f, 2000.0f, 23);
  bty.y_bty_m = axis(-22000.0f, 2000.0f, 23);
  for (std::size_t ix = 0; ix < bty.x_bty_m.size(); ++ix) {
    for (float y : bty.y_bty_m) bty.z_bty_m.push_back(5000.0f + 0.05f * y);
  }
  bty.bottom_model.alternative = BottomBoundaryModel::Acoustic{1600.0f, 1.8f, 0.8f};
  config.source.position = {0.0f, 0.0f, 1000.0f};
  config.beam.step_m = 50.0f;
  config.beam.max_steps = 20000;
  config.beam.max_range_m = 20000.0f;
  config.beam.integration_method = method;
  return config;
}

struct Ocean {
  explicit Ocean(IntegrationMethod method) : model(build_model(ocean_config(method))) {}
  Model model;
  const SSPFields& ssp = model.ssp;
  const BTYfield& bty = model.bty;
};

// The full elevation fan of the scenario (-20..20 deg every 0.5 deg) on 8 azimuths 45 deg apart:
// refracted, surface- and bottom-reflected rays, across the x gradient and the bottom slope.
template <class Trace>
void trace_fan(benchmark::State& bench, Trace trace) {
  std::size_t steps = 0;
  std::size_t steps_per_fan = 0;
  for (auto _ : bench) {
    steps_per_fan = 0;
    for (int a = 0; a < 8; ++a) {
      for (int e = 0; e <= 80; ++e) {
        steps_per_fan += trace(static_cast<float>(a) * 45.0f * kDeg,
                               (-20.0f + 0.5f * static_cast<float>(e)) * kDeg);
      }
    }
    steps += steps_per_fan;
  }
  bench.SetItemsProcessed(static_cast<std::int64_t>(steps));
  bench.counters["steps_per_fan"] = static_cast<double>(steps_per_fan);
}

void BM_TraceRay(benchmark::State& bench, IntegrationMethod method) {
  const Ocean ocean(method);
  RayTrace trace;
  trace_fan(bench, [&](float az, float el) {
    trace_ray({az, el}, ocean.model, trace);
    benchmark::DoNotOptimize(trace.states.data());
    return trace.states.size() - 1;
  });
}

BENCHMARK_CAPTURE(BM_TraceRay, euler, IntegrationMethod::Euler)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TraceRay, rk2, IntegrationMethod::Rk2)->Unit(benchmark::kMillisecond);

// The same fan, four consecutive elevations of an azimuth side by side.
void BM_TraceRaysSideBySide(benchmark::State& bench, IntegrationMethod method) {
  const Ocean ocean(method);
  RayTrace lists[4];
  RayTrace* const traces[4] = {&lists[0], &lists[1], &lists[2], &lists[3]};
  std::size_t steps = 0;
  std::size_t steps_per_fan = 0;
  for (auto _ : bench) {
    steps_per_fan = 0;
    for (int a = 0; a < 8; ++a) {
      for (int e = 0; e <= 80; e += 4) {
        const int n = std::min(4, 81 - e);
        Launch launches[4];
        for (int j = 0; j < n; ++j) {
          launches[j] = {static_cast<float>(a) * 45.0f * kDeg,
                         (-20.0f + 0.5f * static_cast<float>(e + j)) * kDeg};
        }
        const auto m = static_cast<std::size_t>(n);
        trace_rays({launches, m}, ocean.model, {traces, m});
        for (std::size_t j = 0; j < m; ++j) steps_per_fan += lists[j].states.size() - 1;
      }
    }
    steps += steps_per_fan;
  }
  bench.SetItemsProcessed(static_cast<std::int64_t>(steps));
  bench.counters["steps_per_fan"] = static_cast<double>(steps_per_fan);
}

BENCHMARK_CAPTURE(BM_TraceRaysSideBySide, euler, IntegrationMethod::Euler)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TraceRaysSideBySide, rk2, IntegrationMethod::Rk2)
    ->Unit(benchmark::kMillisecond);

// The kernels of one step, at a state inside the ocean heading down at 10 deg along +x.
struct OneStep {
  const Ocean ocean{IntegrationMethod::Rk2};
  RayState state;
  SSPCursor ssp_cursor;
  HeightCursor bty_cursor;
  HeightSample bottom;
  OneStep() {
    state.pos = {1000.0f, 500.0f, 1000.0f};
    ssp_cursor = init_ssp_cursor(state.pos, ocean.ssp);
    bty_cursor = init_height_cursor(state.pos, ocean.bty.grid);
    bottom = sample_height_from_cursor(state.pos, ocean.bty.grid, bty_cursor);
    const float c = interpolate_all_with_cursor(state.pos, ocean.ssp, ssp_cursor).c;
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
    const StepStart start{step.state.pos, dir, step.ssp_cursor, step.bty_cursor, step.bottom, {}};
    benchmark::DoNotOptimize(
        reduce_step_to_boundaries(start, step.ocean.ssp, step.ocean.bty, 50.0f));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_ReduceStepToBoundaries);

void BM_Rk2Step(benchmark::State& bench) {
  OneStep step;
  std::vector<RayState> states{step.state};
  states.reserve(2);
  for (auto _ : bench) {
    states.resize(1);
    benchmark::DoNotOptimize(states.front());
    const RayDerivatives k1 = compute_ray_derivatives(states[0], step.ocean.ssp, step.ssp_cursor);
    rk2_step(states, k1, 50.0f, step.ocean.ssp, step.ssp_cursor);
    benchmark::DoNotOptimize(states.back());
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_Rk2Step);

void BM_EulerStep(benchmark::State& bench) {
  OneStep step;
  std::vector<RayState> states{step.state};
  states.reserve(2);
  for (auto _ : bench) {
    states.resize(1);
    benchmark::DoNotOptimize(states.front());
    const RayDerivatives k = compute_ray_derivatives(states[0], step.ocean.ssp, step.ssp_cursor);
    euler_step(states, k, 50.0f);
    benchmark::DoNotOptimize(states.back());
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_EulerStep);

// The states of every eighth elevation of the fan, with their cells: the derivatives one state at
// a time, and four states of a ray side by side.
struct FanStates {
  const Ocean ocean{IntegrationMethod::Rk2};
  std::vector<RayState> states;
  std::vector<SSPCursor> cursors;
  FanStates() {
    RayTrace ray;
    for (int a = 0; a < 8; ++a) {
      for (int e = 0; e <= 80; e += 8) {
        const Launch launch{static_cast<float>(a) * 45.0f * kDeg,
                            (-20.0f + 0.5f * static_cast<float>(e)) * kDeg};
        trace_ray(launch, ocean.model, ray);
        states.insert(states.end(), ray.states.begin(), ray.states.end());
      }
    }
    states.resize(states.size() / 4 * 4);
    for (const RayState& state : states) {
      SSPCursor cell = init_ssp_cursor(state.pos, ocean.ssp);
      update_ssp_cursor(state.pos, ocean.ssp, cell);
      cursors.push_back(cell);
    }
  }
};

void BM_DerivativesScalar(benchmark::State& bench) {
  FanStates fan;
  std::vector<RayDerivatives> out(fan.states.size());
  for (auto _ : bench) {
    for (std::size_t i = 0; i < fan.states.size(); ++i) {
      out[i] = compute_ray_derivatives_in_cell(fan.states[i], fan.ocean.ssp, fan.cursors[i]);
    }
    benchmark::DoNotOptimize(out.data());
  }
  bench.SetItemsProcessed(static_cast<std::int64_t>(bench.iterations() * fan.states.size()));
}
BENCHMARK(BM_DerivativesScalar);

void BM_DerivativesX4(benchmark::State& bench) {
  FanStates fan;
  std::vector<RayDerivatives> out(fan.states.size());
  for (auto _ : bench) {
    for (std::size_t i = 0; i < fan.states.size(); i += 4) {
      const RayState* states[4] = {&fan.states[i], &fan.states[i + 1], &fan.states[i + 2],
                                   &fan.states[i + 3]};
      const SSPCursor* cells[4] = {&fan.cursors[i], &fan.cursors[i + 1], &fan.cursors[i + 2],
                                   &fan.cursors[i + 3]};
      compute_ray_derivatives_in_cells_x4(states, cells, fan.ocean.ssp, &out[i]);
    }
    benchmark::DoNotOptimize(out.data());
  }
  bench.SetItemsProcessed(static_cast<std::int64_t>(bench.iterations() * fan.states.size()));
}
BENCHMARK(BM_DerivativesX4);

}  // namespace
}  // namespace abyx

BENCHMARK_MAIN();
