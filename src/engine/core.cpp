#include "engine/core.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "bty/bty_field.h"
#include "common/checked_size.h"
#include "common/decimal_text.h"
#include "common/fault.h"
#include "common/fault_messages.h"
#include "common/message_pattern.h"
#include "engine/chunk_plan.h"
#include "engine/memory_budget.h"
#include "engine/parallel_map_reduce.h"
#include "engine/progress.h"
#include "engine/worker_pool.h"
#include "influence/arrival_table.h"
#include "influence/beam_influence.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "rays/trace_ray.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

// What a chunk, or a piece of consecutive chunks, produces.
struct Partial {
  std::vector<RayPath> paths;  // stored paths, ascending ray index
  PressureField field;         // the beams of the chunk's rays
  ArrivalTable arrivals;       // their paths at every receiver, when the run gathers them
};

// The points the stored paths may have together, and how many they have so far: a path's length
// is known only once its ray is traced, so the run stops as soon as the paths outgrow memory.
struct PathBudget {
  std::uint64_t point_bytes = 0;      // what one point costs, the result's copy included
  std::uint64_t available_bytes = 0;  // the memory the run may use
  std::atomic<std::uint64_t> points{0};
};

// Counts a traced ray's path against the budget; throws TooLargeForMemory once they outgrow it.
void count_path_points(PathBudget& budget, std::size_t points) {
  const std::uint64_t total = budget.points.fetch_add(points, std::memory_order_relaxed) + points;
  if (saturating_multiply(total, budget.point_bytes) > budget.available_bytes) {
    throw TooLargeForMemory(fill_pattern(kTracedPathsTooLargePattern,
                                         {decimal_text(total), decimal_text(budget.point_bytes),
                                          decimal_text(budget.available_bytes)}));
  }
}

// A ray that overflowed would put NaN into its path and the field without a word.
void check_traced_ray(const std::vector<RayState>& states, std::size_t ray) {
  const auto bad = std::find_if_not(states.begin(), states.end(), is_finite_state);
  if (bad == states.end()) return;
  throw BeyondPrecision(std::string(kBeyondPrecisionLead) + "ray " + decimal_text(ray) +
                        std::string(kNonFiniteRayMiddle) +
                        decimal_text(static_cast<std::uint64_t>(bad - states.begin())) +
                        std::string(kNonFiniteRayTail));
}

bool all_finite(const std::vector<float>& values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

bool all_finite(const std::vector<Complex32>& values) {
  return std::all_of(values.begin(), values.end(),
                     [](Complex32 p) { return std::isfinite(p.re) && std::isfinite(p.im); });
}

// Every number the field returns: its pressures and intensities finite, each receiver's earliest
// arrival a time from 0 up with a finite amplitude, or none (+inf with amplitude 0).
void check_finite_field(const PressureField& field) {
  bool finite = all_finite(field.pressure) && all_finite(field.intensity) &&
                all_finite(field.amplitude) && field.delay_s.size() == field.amplitude.size();
  for (std::size_t j = 0; finite && j < field.delay_s.size(); ++j) {
    const float delay = field.delay_s[j];
    finite = (delay >= 0.0f && std::isfinite(delay)) ||
             (delay == std::numeric_limits<float>::infinity() && field.amplitude[j] == 0.0f);
  }
  if (!finite) {
    throw BeyondPrecision(std::string(kBeyondPrecisionLead) + std::string(kNonFiniteFieldMessage));
  }
}

// The arrivals' delays and amplitudes, as the field's.
void check_finite_arrivals(const ArrivalList& arrivals) {
  const bool delays_valid = std::all_of(arrivals.delay_s.begin(), arrivals.delay_s.end(),
                                        [](float d) { return d >= 0.0f && std::isfinite(d); });
  if (!delays_valid || !all_finite(arrivals.amplitude)) {
    throw BeyondPrecision(std::string(kBeyondPrecisionLead) +
                          std::string(kNonFiniteArrivalsMessage));
  }
}

// How the run is carried out, beside the model: shared by the workers, progress aside.
struct RunPlan {
  ChunkPlan chunks;                                 // how the launch list is cut
  std::size_t rays_at_once = 1;                     // rays traced side by side, 1 or more
  std::shared_ptr<const ArrivalSettings> arrivals;  // null unless the run gathers arrivals
  Progress& progress;                               // the run's display
  PathBudget& path_budget;                          // what the stored paths may take together
  RunControl* control = nullptr;                    // the caller's view of the run; may be null
  std::uint64_t field_bytes = 0;                    // the field once the rays are done (bytes)
  ResultCosts result_costs;                         // what the caller's result costs
};

Partial empty_partial(const Model& model, const std::shared_ptr<const ArrivalSettings>& arrivals) {
  Partial partial{
      {},
      init_pressure_field(model.receivers, model.layout, model.omegas.size(), model.source),
      {}};
  if (model.beam.incoherent) add_intensity(partial.field);
  if (arrivals) partial.arrivals = init_arrival_table(arrivals, partial.field.receiver_count());
  return partial;
}

void merge_partials(Partial& left, Partial&& right) {
  left.paths.insert(left.paths.end(), std::make_move_iterator(right.paths.begin()),
                    std::make_move_iterator(right.paths.end()));
  merge_pressure_field(left.field, right.field);
  if (left.arrivals.gathering()) merge_arrival_tables(left.arrivals, std::move(right.arrivals));
}

// One chunk: each ray traced, its beam added to the chunk's own field, its path kept. The state
// list and the beam's working arrays are reused from ray to ray and released with the chunk.
Partial trace_chunk(std::size_t chunk, const Model& model, const RunPlan& run) {
  const std::size_t begin = chunk * run.chunks.chunk_size;
  const std::size_t end = std::min(begin + run.chunks.chunk_size, model.launches.size());
  Partial partial = empty_partial(model, run.arrivals);
  ArrivalTable* arrivals = run.arrivals ? &partial.arrivals : nullptr;
  const bool store_ray_paths = model.beam.store_ray_paths;
  if (store_ray_paths) partial.paths.reserve(end - begin);
  // the rays of a group are traced together, then their beams added one by one in launch order
  RayTrace trace_list[kSideBySideRays];
  RayTrace* const traces[kSideBySideRays] = {&trace_list[0], &trace_list[1], &trace_list[2],
                                             &trace_list[3]};
  BeamScratch scratch;
  BeamOutputs outputs{partial.field, arrivals};
  for (std::size_t group = begin; group < end; group += run.rays_at_once) {
    if (run.control != nullptr && run.control->cancel.load(std::memory_order_relaxed)) {
      throw Interrupted();
    }
    const std::size_t count = std::min(run.rays_at_once, end - group);
    const std::span<const Launch> launches(&model.launches[group], count);
    trace_rays(launches, model, {traces, count});
    for (std::size_t j = 0; j < count; ++j) {
      const std::size_t ray = group + j;
      const RayTrace& trace = trace_list[j];
      const std::vector<RayState>& ray_states = trace.states;
      check_traced_ray(ray_states, ray);
      const BeamLaunch beam{launches[j].elevation_rad, model.fan.d_azimuth_rad,
                            model.fan.d_elevation_rad, static_cast<std::uint64_t>(ray),
                            model.launch_gains.empty() ? 1.0f : model.launch_gains[ray]};
      add_beam(trace, beam, model, scratch, outputs);
      if (store_ray_paths) {
        count_path_points(run.path_budget, ray_states.size());
        partial.paths.push_back(extract_ray_path(static_cast<std::uint64_t>(ray), ray_states));
      }
      advance_progress_ray(run.progress);
      if (run.control != nullptr) run.control->rays_done.fetch_add(1, std::memory_order_relaxed);
    }
  }
  advance_progress_chunk(run.progress, end - begin);
  return partial;
}

// The paths in ray-index order without their indices, when they were asked for.
std::optional<std::vector<std::vector<Vec3>>> ordered_paths(std::vector<RayPath> paths,
                                                            bool store_ray_paths) {
  if (!store_ray_paths) return std::nullopt;
  std::stable_sort(paths.begin(), paths.end(),
                   [](const RayPath& a, const RayPath& b) { return a.ray_index < b.ray_index; });
  std::vector<std::vector<Vec3>> points;
  points.reserve(paths.size());
  for (RayPath& path : paths) points.push_back(std::move(path.points));
  return points;
}

// The path behind each arrival: its ray traced again, from the source to the foot of the receiver
// on the segment that carried the arrival's strongest contribution.
std::vector<std::vector<Vec3>> trace_eigenrays(const ArrivalList& arrivals,
                                               const PressureField& field, const Model& model,
                                               const RunPlan& run) {
  // each path ends at its arrival's segment: all of them are refused before any is traced
  std::uint64_t most_points = 0;
  for (const std::uint64_t segment : arrivals.segment) {
    most_points = saturating_add(most_points, saturating_add(segment, 1));
  }
  // beside everything else the result holds by then: the field, the arrivals, the ray paths
  const std::uint64_t held = saturating_add(
      run.field_bytes, kept_arrival_bytes(arrivals.size(), model.omegas.size(), run.result_costs));
  const std::uint64_t available = run.path_budget.available_bytes;
  check_eigenrays_fit(most_points, run.path_budget.points.load(std::memory_order_relaxed),
                      run.path_budget.point_bytes, available > held ? available - held : 0);
  std::vector<std::vector<Vec3>> paths(arrivals.size());
  std::vector<std::size_t> order(arrivals.size());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  // each ray once, however many arrivals it carries
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return arrivals.ray[a] < arrivals.ray[b]; });
  RayTrace trace;
  const std::vector<RayState>& states = trace.states;
  std::uint64_t traced = std::numeric_limits<std::uint64_t>::max();
  for (const std::size_t j : order) {
    const std::uint64_t ray = arrivals.ray[j];
    if (ray != traced) {
      if (run.control != nullptr && run.control->cancel.load(std::memory_order_relaxed)) {
        throw Interrupted();
      }
      trace_ray(model.launches[ray], model, trace);
      traced = ray;
    }
    const std::size_t end = std::min<std::size_t>(arrivals.segment[j], states.size() - 1);
    const Vec3 receiver = receiver_position(field, arrivals.receiver[j]);
    std::vector<Vec3>& path = paths[j];
    count_path_points(run.path_budget, end + 1);
    path.reserve(end + 1);
    for (std::size_t i = 0; i < end; ++i) path.push_back(states[i].pos);
    const Vec3 a = states[end > 0 ? end - 1 : 0].pos;
    const Vec3 d = states[end].pos - a;
    const float length_sq = dot(d, d);
    const float t =
        length_sq > 0.0f ? std::clamp(dot(receiver - a, d) / length_sq, 0.0f, 1.0f) : 0.0f;
    path.push_back(a + t * d);
  }
  return paths;
}

}  // namespace

CoreResult core(const SimulationConfig& config, const ResultCosts& result_costs,
                RunControl* control) {
  // sizes that cannot fit are refused before anything is built
  const std::uint64_t available_bytes = available_memory_bytes();
  const RunSizes sizes = run_sizes(config);
  check_run_fits_memory(sizes, worker_count(), available_bytes, result_costs);
  const bool side_by_side_fits = fits_rays_side_by_side(sizes, worker_count(), available_bytes);
  // the environment, settings, fan and receivers, built once and only read from here on
  const Model model = build_model(config);
  return run_model(model, {available_bytes, side_by_side_fits, result_costs, control,
                           field_bytes_beside_eigenrays(sizes, result_costs)});
}

CoreResult run_model(const Model& model, const RunResources& resources) {
  PathBudget path_budget;
  path_budget.point_bytes = path_point_bytes(resources.result_costs);
  path_budget.available_bytes = resources.available_bytes;
  const BeamSettings& beam = model.beam;
  const std::shared_ptr<const ArrivalSettings> arrival_settings =
      beam.arrivals ? std::make_shared<const ArrivalSettings>(make_arrival_settings(
                          beam.max_arrivals, model.omegas,
                          static_cast<std::int64_t>(model.fan.azimuths_rad.size()),
                          static_cast<std::int64_t>(model.fan.elevations_rad.size()),
                          model.fan.d_azimuth_rad))
                    : nullptr;
  // the progress display; none without rays
  const std::size_t ray_count = model.launches.size();
  Progress progress = start_progress(
      choose_progress_display(beam.show_progress, beam.atomic_progress_counter, ray_count),
      ray_count, detect_progress_output());
  // chunks fixed by the ray count, so any pool gives the same bits
  RunControl* control = resources.control;
  const RunPlan run{
      plan_chunks(ray_count),
      traces_side_by_side(beam, model.ssp) && resources.side_by_side_fits ? kSideBySideRays : 1,
      arrival_settings,
      progress,
      path_budget,
      control,
      resources.field_bytes,
      resources.result_costs};
  if (control != nullptr) control->rays_total.store(ray_count, std::memory_order_relaxed);
  // trace the chunks on the pool, merging their partial results in chunk order
  Partial merged = parallel_map_reduce<Partial>(
      run.chunks.chunk_count, [&] { return empty_partial(model, arrival_settings); },
      [&](std::size_t chunk) { return trace_chunk(chunk, model, run); },
      [](Partial& left, Partial&& right) { merge_partials(left, std::move(right)); },
      control != nullptr ? &control->cancel : nullptr);
  finish_progress(progress);
  check_finite_field(merged.field);
  CoreResult result{ordered_paths(std::move(merged.paths), beam.store_ray_paths),
                    std::move(merged.field), std::nullopt, std::nullopt};
  if (beam.arrivals) {
    result.arrivals = list_arrivals(merged.arrivals);
    check_finite_arrivals(*result.arrivals);
    if (beam.eigenrays) {
      result.eigenray_paths = trace_eigenrays(*result.arrivals, result.field, model, run);
    }
  }
  return result;
}

}  // namespace abyx
