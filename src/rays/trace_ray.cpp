#include "rays/trace_ray.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "bty/height_cursor.h"
#include "common/fault.h"
#include "rays/ray_equations.h"
#include "rays/step_control.h"
#include "reflect/boundary_coefficient.h"
#include "reflect/reflect_boundaries.h"
#include "ssp/ssp_cursor.h"

namespace abyx {
namespace {

// The launch state: P = I, Q = 0, unit amplitude, tangent from azimuth (0 along +y, pi/2 along +x)
// and elevation (positive downwards).
RayState launch_state(Vec3 source, float c0, const Launch& launch) {
  const float cos_el = std::cos(launch.elevation_rad);
  RayState state;
  state.pos = source;
  state.slowness = {std::sin(launch.azimuth_rad) * cos_el / c0,
                    std::cos(launch.azimuth_rad) * cos_el / c0,
                    std::sin(launch.elevation_rad) / c0};
  state.c = c0;
  return state;
}

// True while the horizontal distance of pos from the source is below max_range_m; false for NaN.
bool within_range(Vec3 pos, Vec3 source, float max_range_m) {
  const float dx = pos.x - source.x;
  const float dy = pos.y - source.y;
  return dx * dx + dy * dy < max_range_m * max_range_m;
}

// Weighs a hit of the ray at the boundary into its cut-off; true when the ray ends there.
bool falls_below_cutoff(const BottomHit& hit, Boundary boundary, const Model& model,
                        std::vector<float>& remaining) {
  bool below = true;
  for (std::size_t k = 0; k < model.omegas.size(); ++k) {
    const Complex32 r =
        hit_reflection_coefficient(hit, boundary, model.bty, model.surface_table, model.omegas[k]);
    remaining[k] *= std::hypot(r.re, r.im);
    below = below && remaining[k] < model.beam.min_amplitude;
  }
  return below;
}

// What the tracing loop carries from one step to the next besides the states.
struct RayWalk {
  SSPCursor ssp_cursor;     // the cell of the last state, once walked there
  HeightCursor bty_cursor;  // the bathymetry cell of the last state, once walked there
  // The bottom under the last state, when it was evaluated there, or far_bottom when it lies out
  // of reach of the step. It is evaluated when missing: after a reflection moved the last state,
  // and after a state that was surely in the water.
  std::optional<HeightSample> bottom;
  // Under a shaped surface: its cell of the last state, and the surface over the last state, kept
  // and evaluated as the bottom is (far_surface when out of reach of the step).
  HeightCursor ati_cursor;
  std::optional<HeightSample> surface;
  float surface_clear = 0.0f;  // surface_clear_depth of a shaped surface
  // No reflection moved the last state, so both cursors still hold the cells of its position (a
  // walk to it would not move them); at the launch, the interpolation walked the sound-speed cursor
  // there and the search found the bathymetry cursor's cell.
  bool cursors_hold_last = true;
  float clear = 0.0f;          // clear_depth of the bathymetry
  bool weighs_cutoff = false;  // the ray has a cut-off to weigh its hits into
  SurfaceCoefficient surface_coefficient = SurfaceCoefficient::PressureRelease;
  std::uint64_t steps = 0;  // steps taken
};

// Relative to a coordinate (plus 1 m), far above the rounding of the positions and depths that the
// bounds below compare.
constexpr float kCoordinateSlack = 1e-5f;

// Where a straight run of full steps may go on: a step of the full length from any position p with
// sign * p <= limit on every axis ends short of every sound-speed plane, bathymetry grid line,
// cell face, the surface and the bottom ahead, by far more than rounding, so step control would
// not shorten it, no cursor moves and no boundary reflects it.
struct StraightRun {
  Vec3 sign;   // +1 or -1 per axis: the direction of travel
  Vec3 limit;  // (m); infinite along an axis the ray does not move along
};

// The run from a state in a uniform cell (one sound speed, no slope) over a level bathymetry cell,
// stepping the full step (m) along the unit tangent dir, with the walk's cursors in the state's
// cells and its bottom the bottom under it; none when the state is elsewhere or not finite. In such
// a cell every step has the same tangent and the same full length, and the bottom under it is the
// same. Under a shaped surface a run keeps below its deepest trough.
template <SurfaceShape kSurface>
std::optional<StraightRun> straight_run(Vec3 pos, Vec3 dir, const Model& model,
                                        const RayWalk& walk) {
  const SSPFields& ssp = model.ssp;
  const BTYfield& bty = model.bty;
  const SSPCursor& ssp_cursor = walk.ssp_cursor;
  const HeightCursor& bty_cursor = walk.bty_cursor;
  const HeightSample& bottom = *walk.bottom;
  const float h = model.beam.step_m;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // far above the rounding of the distances that step control divides out
  constexpr float kRelativeSlack = 1e-3f;
  if (!holds_uniform_cell(ssp, ssp_cursor) || !is_finite(pos) || !is_finite(dir) ||
      !(h > 0.0f && std::isfinite(h)) ||
      !detail::is_level_cell(detail::read_height_corners(pos, bty.grid, bty_cursor), pos)) {
    return std::nullopt;
  }
  StraightRun run{{1.0f, 1.0f, 1.0f}, {kInf, kInf, kInf}};
  const auto bound = [&](float& sign, float& limit, float d, float target) {
    sign = d > 0.0f ? 1.0f : -1.0f;
    const float margin =
        h * std::abs(d) * (1.0f + kRelativeSlack) + kCoordinateSlack * (std::abs(target) + 1.0f);
    limit = std::min(limit, sign * target - margin);
  };
  // the faces ahead of the sound-speed cell and the bathymetry cell along one axis
  const auto faces = [&](float& sign, float& limit, float d, const std::vector<float>& planes,
                         std::size_t ssp_cell, const std::vector<float>* lines,
                         std::size_t bty_cell) {
    if (d == 0.0f) return;  // the coordinate never changes
    if (planes.size() >= 2) {
      const std::size_t i = std::min(ssp_cell, planes.size() - 2);
      bound(sign, limit, d, d > 0.0f ? planes[i + 1] : planes[i]);
    }
    if (lines != nullptr && bty_cell + 1 < lines->size()) {
      bound(sign, limit, d, d > 0.0f ? (*lines)[bty_cell + 1] : (*lines)[bty_cell]);
    }
  };
  faces(run.sign.x, run.limit.x, dir.x, ssp.x, ssp_cursor.ix, &bty.grid.x, bty_cursor.ix);
  faces(run.sign.y, run.limit.y, dir.y, ssp.y, ssp_cursor.iy, &bty.grid.y, bty_cursor.iy);
  faces(run.sign.z, run.limit.z, dir.z, ssp.z, ssp_cursor.iz, nullptr, 0);
  // the surface when heading up, the level bottom when heading down
  // (a state below the bottom heading back up has the bottom ahead: step control ends there)
  if (dir.z < 0.0f && pos.z > bottom.depth) return std::nullopt;
  if constexpr (kSurface == SurfaceShape::Shaped) {
    if (!(pos.z > walk.surface_clear)) return std::nullopt;
    if (dir.z < 0.0f) bound(run.sign.z, run.limit.z, dir.z, walk.surface_clear);
  } else {
    if (dir.z < 0.0f) bound(run.sign.z, run.limit.z, dir.z, 0.0f);
  }
  if (dir.z > 0.0f) bound(run.sign.z, run.limit.z, dir.z, bottom.depth);
  return run;
}

// The depth (m) above which no bottom lies, by far more than rounding; -infinity for a bathymetry
// without bounds.
float clear_depth(const BTYfield& bty) {
  return bty.grid.shallowest_depth -
         kCoordinateSlack * (std::abs(bty.grid.shallowest_depth) + 1.0f);
}

// The depth (m) below which no shaped surface lies, by far more than rounding.
float surface_clear_depth(const HeightGrid& surface) {
  return surface.deepest_depth + kCoordinateSlack * (std::abs(surface.deepest_depth) + 1.0f);
}

// How far in depth (m) a boundary must be for the plane touching it to stay more than a step of h
// (m) along dir away: with a normal tilted no further than the grid's steepest, the plane is at
// least (its depth - z) * n_z / |dir| ahead, here twice h or more.
float step_reach(Vec3 dir, float h, const HeightGrid& grid) {
  return 2.0f * h * grid.steepest_tilt_secant *
         (std::abs(dir.x) + std::abs(dir.y) + std::abs(dir.z));
}

// Whether the bottom lies so far below pos that step control needs no bottom there. `clear` is
// clear_depth(bty).
bool far_above_bottom(Vec3 pos, Vec3 dir, float h, const BTYfield& bty, float clear) {
  return pos.z + step_reach(dir, h, bty.grid) < clear;
}

// What step control takes for a shaped surface far above: no plane.
HeightSample far_surface(const HeightGrid& surface) {
  return {surface.deepest_depth, {0.0f, 0.0f, 0.0f}};
}

// What step control takes for a bottom far below: no plane, and a depth no deeper than the
// bottom's anywhere, which keeps a straight run above it.
HeightSample far_bottom(const BTYfield& bty) {
  return {bty.grid.shallowest_depth, {0.0f, 0.0f, 0.0f}};
}

// Whether the state is in the water for sure, above the clear depth and not at the surface
// heading up (below every trough of a shaped one), so that the reflection test would leave it
// where it is.
template <SurfaceShape kSurface>
bool surely_in_water(const RayState& state, const RayWalk& walk) {
  if constexpr (kSurface == SurfaceShape::Shaped) {
    return state.pos.z > walk.surface_clear && state.pos.z < walk.clear;
  }
  return !(state.pos.z <= 0.0f && state.slowness.z < 0.0f) && state.pos.z < walk.clear;
}

bool goes_on(const StraightRun& run, Vec3 pos) {
  return run.sign.x * pos.x <= run.limit.x && run.sign.y * pos.y <= run.limit.y &&
         run.sign.z * pos.z <= run.limit.z;
}

}  // namespace

std::size_t reserved_state_count(const BeamSettings& beam) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  // steps needed to reach the range limit, saturating; a ratio that is not positive counts as none
  const float ratio = std::ceil(beam.max_range_m / beam.step_m);
  std::uint64_t range_steps = 0;
  if (ratio >= 0x1p64f) {
    range_steps = kMax;
  } else if (ratio > 0.0f) {
    range_steps = static_cast<std::uint64_t>(ratio);
  }
  const std::uint64_t range_hint = range_steps > kMax - 2 ? kMax : range_steps + 2;
  const std::uint64_t step_hint = std::max<std::uint64_t>(beam.max_steps, 2);
  const std::uint64_t hint = std::min({range_hint, step_hint, std::uint64_t{kMaxReservedStates}});
  return static_cast<std::size_t>(hint);
}

namespace {

// The launch: cursors at the source, room for the expected steps, the launch state.
RayWalk launch_ray(const Launch& launch, const Model& model, RayTrace& trace) {
  RayWalk walk;
  std::vector<RayState>& states = trace.states;
  walk.ssp_cursor = init_ssp_cursor(model.source, model.ssp);
  const float c0 = interpolate_all_with_cursor(model.source, model.ssp, walk.ssp_cursor).c;
  walk.bty_cursor = init_height_cursor(model.source, model.bty.grid);
  states.clear();
  states.reserve(reserved_state_count(model.beam));
  states.push_back(launch_state(model.source, c0, launch));
  clear_bottom_hits(trace.bottom_hits);
  clear_bottom_hits(trace.surface_hits);
  if (model.surface_table) walk.surface_coefficient = SurfaceCoefficient::Table;
  // without frequencies there are no reflection magnitudes to weigh
  walk.weighs_cutoff = model.beam.min_amplitude > 0.0f && !model.omegas.empty();
  if (walk.weighs_cutoff) trace.remaining.assign(model.omegas.size(), 1.0f);
  walk.clear = clear_depth(model.bty);
  if (model.surface) {
    walk.ati_cursor = init_height_cursor(model.source, *model.surface);
    walk.surface_clear = surface_clear_depth(*model.surface);
  }
  return walk;
}

// Before a step from the last state: room for the new state, so that the last one stays where it
// is while the step is written next to it, and the sound-speed cursor in the last state's cell.
[[gnu::always_inline]] inline void prepare_step(std::vector<RayState>& states, const SSPFields& ssp,
                                                RayWalk& walk) {
  if (states.size() == states.capacity()) states.reserve(2 * states.size());
  if (!walk.cursors_hold_last) update_ssp_cursor(states.back().pos, ssp, walk.ssp_cursor);
}

// The bottom under the last state for a step along dir, evaluated when it is not known yet in the
// cell of the last position, where the bathymetry cursor then stays.
[[gnu::always_inline]] inline const HeightSample& bottom_under_last(const RayState& last, Vec3 dir,
                                                                    const Model& model,
                                                                    RayWalk& walk) {
  if (!walk.bottom) {
    const BTYfield& bty = model.bty;
    if (!walk.cursors_hold_last) update_height_cursor(last.pos, bty.grid, walk.bty_cursor);
    walk.bottom = far_above_bottom(last.pos, dir, model.beam.step_m, bty, walk.clear)
                      ? far_bottom(bty)
                      : sample_height_from_cursor(last.pos, bty.grid, walk.bty_cursor);
  }
  return *walk.bottom;
}

// The shaped surface over the last state for a step along dir, evaluated when it is not known yet;
// its cursor may lag behind a straight run, so it is walked first.
[[gnu::always_inline]] inline const HeightSample& surface_over_last(const RayState& last, Vec3 dir,
                                                                    const Model& model,
                                                                    RayWalk& walk) {
  if (!walk.surface) {
    const HeightGrid& surface = *model.surface;
    update_height_cursor(last.pos, surface, walk.ati_cursor);
    walk.surface = last.pos.z - step_reach(dir, model.beam.step_m, surface) > walk.surface_clear
                       ? far_surface(surface)
                       : sample_height_from_cursor(last.pos, surface, walk.ati_cursor);
  }
  return *walk.surface;
}

// The repair of a state that may have left the water, under the flat surface or a shaped one.
template <SurfaceShape kSurface>
[[gnu::always_inline]] inline BoundaryRepair repair_state(RayState& state, const Model& model,
                                                          RayWalk& walk) {
  if constexpr (kSurface == SurfaceShape::Shaped) {
    const HeightGrid& grid = *model.surface;
    update_height_cursor(state.pos, grid, walk.ati_cursor);
    const HeightSample surface = sample_height_from_cursor(state.pos, grid, walk.ati_cursor);
    BoundaryRepair repair = reflect_boundaries_under(state, surface, model.bty, walk.bty_cursor,
                                                     walk.surface_coefficient);
    // the surface over a state left where it was serves its next step
    walk.surface = repair.bottom ? std::optional<HeightSample>(surface) : std::nullopt;
    return repair;
  } else {
    return reflect_boundaries(state, model.bty, walk.bty_cursor, walk.surface_coefficient);
  }
}

// After a step: the cursors follow the new state, which is repaired at the surface or the bottom;
// false when the ray ends there (out of range, below the cut-off or out of steps).
template <SurfaceShape kSurface>
[[gnu::always_inline]] inline bool settle_step(RayTrace& trace, const Model& model, RayWalk& walk) {
  RayState& current = trace.states.back();
  update_ssp_cursor(current.pos, model.ssp, walk.ssp_cursor);
  update_height_cursor(current.pos, model.bty.grid, walk.bty_cursor);
  std::optional<BottomHit> hit;
  Boundary boundary = Boundary::Bottom;
  if (surely_in_water<kSurface>(current, walk)) {
    walk.bottom.reset();
    if constexpr (kSurface == SurfaceShape::Shaped) walk.surface.reset();
    walk.cursors_hold_last = true;
  } else {
    const BoundaryRepair repair = repair_state<kSurface>(current, model, walk);
    walk.bottom = repair.bottom;
    walk.cursors_hold_last = walk.bottom.has_value();
    hit = repair.hit;
    if (hit) record_bottom_hit(trace.bottom_hits, trace.states.size() - 1, *hit);
    if (repair.surface_hit) {
      hit = repair.surface_hit;
      boundary = Boundary::Surface;
      record_bottom_hit(trace.surface_hits, trace.states.size() - 1, *hit);
    }
  }
  if (!within_range(current.pos, model.source, model.beam.max_range_m)) return false;
  if (hit && walk.weighs_cutoff && falls_below_cutoff(*hit, boundary, model, trace.remaining)) {
    return false;
  }
  return ++walk.steps != model.beam.max_steps;
}

// How a straight run ended, if one was taken.
enum class RunEnd { NoRun, InRange, OutOfRange };

// The full steps of a straight run from the last state, whose derivatives are k, taken as the
// general loop would take them, without its tests: the same derivatives, the same step and
// midpoint, no cursor moving and no reflection. Ends with the first state past the run, out of
// range or at the step budget.
template <bool kPlaneWave>
[[gnu::always_inline]] inline RunEnd take_straight_run(const StraightRun& run, RayDerivatives k,
                                                       const Model& model, RayWalk& walk,
                                                       std::vector<RayState>& states) {
  const BeamSettings& beam = model.beam;
  const Vec3 source = model.source;
  // a rotation angle or sound speed beyond the equations' own takes them whole every step
  const bool steady = std::isfinite(states.back().phi) && k.c > 0.0f && std::isfinite(k.c);
  for (;;) {
    euler_step<kPlaneWave>(states, k, beam.step_m);
    const RayState& next = states.back();
    if (!within_range(next.pos, source, beam.max_range_m)) return RunEnd::OutOfRange;
    if (++walk.steps == beam.max_steps || !goes_on(run, next.pos)) return RunEnd::InRange;
    if (states.size() == states.capacity()) states.reserve(2 * states.size());
    if (steady) {
      follow_straight_run<kPlaneWave>(states.back(), k);
    } else {
      k = compute_ray_derivatives_in_cell<kPlaneWave>(states.back(), model.ssp, walk.ssp_cursor);
    }
  }
}

// One ray between two evaluations of the ray equations: the tracing loop taken apart where it
// evaluates them, so that trace_ray evaluates them for its one ray and trace_rays for four rays
// together.
struct TracedRay {
  RayTrace* trace = nullptr;
  RayWalk walk;
  UniformCellSteps uniform_steps = UniformCellSteps::StraightRuns;
  bool done = false;
  bool at_midpoint = false;  // the derivatives awaited are the midpoint's
  MidpointStep step;         // the midpoint step under way
  // the state whose derivatives are awaited, and its cell (a cursor the step has just walked is
  // read where it is: a copy of it would wait for the walk's stores)
  const RayState* awaited = nullptr;
  const SSPCursor* awaited_cell = nullptr;
};

// Sets the ray up for the start of its next step, or ends it when it has taken every step.
[[gnu::always_inline]] inline void await_step(TracedRay& ray, const Model& model) {
  if (ray.walk.steps == model.beam.max_steps) {
    ray.done = true;
    return;
  }
  prepare_step(ray.trace->states, model.ssp, ray.walk);
  ray.at_midpoint = false;
  ray.awaited = &ray.trace->states.back();
  ray.awaited_cell = &ray.walk.ssp_cursor;
}

// The launch of the ray into states, awaiting the derivatives of its first step.
void launch_traced_ray(const Launch& launch, const Model& model, RayTrace& trace, TracedRay& ray) {
  ray.trace = &trace;
  ray.walk = launch_ray(launch, model, trace);
  await_step(ray, model);
}

// Through a uniform cell over a level bottom, the full steps from the last state (derivatives k)
// that end well short of everything ahead, taken as a run; none where the ray takes its steps one
// by one or its cursors do not both hold the cells of its position (with the cursors agreeing,
// the bathymetry cursor holds the line cursor's cell).
template <bool kPlaneWave, SurfaceShape kSurface>
[[gnu::always_inline]] inline RunEnd try_straight_run(TracedRay& ray, const RayDerivatives& k,
                                                      const HeightCursor& line_cursor,
                                                      const Model& model) {
  RayWalk& walk = ray.walk;
  const RayState& last = ray.trace->states.back();
  const bool cursors_agree =
      line_cursor.ix == walk.bty_cursor.ix && line_cursor.iy == walk.bty_cursor.iy;
  const std::optional<StraightRun> run =
      ray.uniform_steps == UniformCellSteps::StraightRuns && walk.cursors_hold_last && cursors_agree
          ? straight_run<kSurface>(last.pos, k.dpos, model, walk)
          : std::nullopt;
  if (!run || !goes_on(*run, last.pos)) return RunEnd::NoRun;
  const RunEnd end = take_straight_run<kPlaneWave>(*run, k, model, walk, ray.trace->states);
  walk.bottom.reset();  // a bottom out of reach of the first step may not be of the last
  if constexpr (kSurface == SurfaceShape::Shaped) walk.surface.reset();
  return end;
}

// Goes on with the ray from the derivatives k of its awaited state, up to the next state whose
// derivatives it needs or to its end: a step from the last state, cut short at grid planes and
// boundaries, or a straight run through a uniform cell (kUniformCells: the grid has such cells);
// with kPlaneWave the step also carries the plane-wave solution that complex-Q beams need.
template <bool kPlaneWave, bool kUniformCells, SurfaceShape kSurface>
[[gnu::always_inline]] inline void take_derivatives(TracedRay& ray, const RayDerivatives& k,
                                                    const Model& model) {
  std::vector<RayState>& states = ray.trace->states;
  RayWalk& walk = ray.walk;
  if (ray.at_midpoint) {
    detail::append_advanced<kPlaneWave>(states, k, ray.step.h);
  } else {
    const RayState& last = states.back();
    // the grid lines come from the cell the bathymetry cursor holds from its last move
    const HeightCursor line_cursor = walk.bty_cursor;
    const HeightSample& bottom = bottom_under_last(last, k.dpos, model, walk);
    HeightSample surface;
    if constexpr (kSurface == SurfaceShape::Shaped) {
      surface = surface_over_last(last, k.dpos, model, walk);
    }
    if constexpr (kUniformCells) {
      const RunEnd run = try_straight_run<kPlaneWave, kSurface>(ray, k, line_cursor, model);
      if (run == RunEnd::InRange) await_step(ray, model);
      if (run == RunEnd::OutOfRange) ray.done = true;
      if (run != RunEnd::NoRun) return;
    }
    const float h = reduce_step_to_boundaries<kSurface>(
        {last.pos, k.dpos, walk.ssp_cursor, line_cursor, bottom, surface}, model.ssp, model.bty,
        turn_limited_step(k.dslowness, k.c, model.beam.step_m));
    ray.step.h = h;
    if (model.beam.integration_method == IntegrationMethod::Rk2 &&
        place_midpoint<kPlaneWave, kUniformCells>(last, k, model.ssp, walk.ssp_cursor, ray.step) ==
            MidpointDerivatives::Own) {
      ray.at_midpoint = true;
      ray.awaited = &ray.step.mid;
      ray.awaited_cell = &ray.step.mid_cell;
      return;
    }
    detail::append_advanced<kPlaneWave>(states, k, h);  // Euler, or a midpoint taking k
  }
  if (settle_step<kSurface>(*ray.trace, model, walk)) {
    await_step(ray, model);
  } else {
    ray.done = true;
  }
}

// The tracing loop of one ray, evaluating the derivatives it awaits one at a time.
template <bool kPlaneWave, bool kUniformCells, SurfaceShape kSurface>
void trace_ray_with(const Launch& launch, const Model& model, RayTrace& trace,
                    UniformCellSteps uniform_steps) {
  TracedRay ray;
  ray.uniform_steps = uniform_steps;
  launch_traced_ray(launch, model, trace, ray);
  while (!ray.done) {
    const RayDerivatives k =
        compute_ray_derivatives_in_cell<kPlaneWave>(*ray.awaited, model.ssp, *ray.awaited_cell);
    take_derivatives<kPlaneWave, kUniformCells, kSurface>(ray, k, model);
  }
}

// The derivatives of the awaited states of the n active lanes: three or four side by side (three
// already fill the lanes better than their evaluations one after another; a missing fourth
// repeats the third), fewer one after another.
[[gnu::always_inline]] inline void evaluate_lanes(TracedRay* const active[kSideBySideRays],
                                                  std::size_t n, const SSPFields& ssp,
                                                  RayDerivatives k[kSideBySideRays]) {
  if (n >= 3) {
    const RayState* awaited[4];
    const SSPCursor* cells[4];
    for (std::size_t m = 0; m < 4; ++m) {
      const TracedRay& lane = *active[std::min(m, n - 1)];
      awaited[m] = lane.awaited;
      cells[m] = lane.awaited_cell;
    }
    compute_ray_derivatives_in_cells_x4(awaited, cells, ssp, k);
    return;
  }
  for (std::size_t m = 0; m < n; ++m) {
    const TracedRay& lane = *active[m];
    k[m] = compute_ray_derivatives_in_cell<false>(*lane.awaited, ssp, *lane.awaited_cell);
  }
}

// The tracing loop for the model's beams and grid under the surface kSurface.
template <SurfaceShape kSurface>
void trace_ray_under(const Launch& launch, const Model& model, RayTrace& trace,
                     UniformCellSteps uniform_steps) {
  const bool cerveny = model.beam.resolved_beam_type == BeamType::Cerveny;
  if (cerveny && model.ssp.has_uniform_cells) {
    trace_ray_with<true, true, kSurface>(launch, model, trace, uniform_steps);
  } else if (cerveny) {
    trace_ray_with<true, false, kSurface>(launch, model, trace, uniform_steps);
  } else if (model.ssp.has_uniform_cells) {
    trace_ray_with<false, true, kSurface>(launch, model, trace, uniform_steps);
  } else {
    trace_ray_with<false, false, kSurface>(launch, model, trace, uniform_steps);
  }
}

// Up to four rays stepping in turn, their equations evaluated together.
template <SurfaceShape kSurface>
void trace_side_by_side(std::span<const Launch> launches, const Model& model,
                        std::span<RayTrace* const> traces) {
  static_assert(kSideBySideRays == 4, "one ray to each lane of the evaluation");
  const std::size_t count = traces.size();
  TracedRay lanes[kSideBySideRays];
  for (std::size_t j = 0; j < count; ++j) {
    launch_traced_ray(launches[j], model, *traces[j], lanes[j]);
  }
  // set up once: every evaluation writes all the fields that the steps read
  RayDerivatives k[kSideBySideRays];
  for (;;) {
    TracedRay* active[kSideBySideRays];
    std::size_t n = 0;
    for (std::size_t j = 0; j < count; ++j) {
      if (!lanes[j].done) active[n++] = &lanes[j];
    }
    if (n == 0) return;
    evaluate_lanes(active, n, model.ssp, k);
    for (std::size_t m = 0; m < n; ++m) {
      take_derivatives<false, false, kSurface>(*active[m], k[m], model);
    }
  }
}

}  // namespace

void trace_ray(const Launch& launch, const Model& model, RayTrace& trace,
               UniformCellSteps uniform_steps) {
  if (model.surface) {
    trace_ray_under<SurfaceShape::Shaped>(launch, model, trace, uniform_steps);
  } else {
    trace_ray_under<SurfaceShape::Flat>(launch, model, trace, uniform_steps);
  }
}

bool traces_side_by_side(const BeamSettings& beam, const SSPFields& ssp) {
  return beam.resolved_beam_type != BeamType::Cerveny && !ssp.has_uniform_cells;
}

void trace_rays(std::span<const Launch> launches, const Model& model,
                std::span<RayTrace* const> traces) {
  const std::size_t count = traces.size();
  if (count > kSideBySideRays || launches.size() != count) {
    throw Fault(std::string(kSideBySideMismatchMessage));
  }
  if (!traces_side_by_side(model.beam, model.ssp)) {
    for (std::size_t j = 0; j < count; ++j) trace_ray(launches[j], model, *traces[j]);
    return;
  }
  if (model.surface) {
    trace_side_by_side<SurfaceShape::Shaped>(launches, model, traces);
  } else {
    trace_side_by_side<SurfaceShape::Flat>(launches, model, traces);
  }
}

RayPath extract_ray_path(std::uint64_t ray_index, const std::vector<RayState>& states) {
  RayPath path;
  path.ray_index = ray_index;
  path.points.reserve(states.size());
  for (const RayState& state : states) path.points.push_back(state.pos);
  return path;
}

}  // namespace abyx
