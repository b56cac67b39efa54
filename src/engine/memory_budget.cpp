#include "engine/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/checked_size.h"
#include "common/complex32.h"
#include "common/decimal_text.h"
#include "common/fault.h"
#include "common/vec3.h"
#include "engine/chunk_plan.h"
#include "influence/arrival_table.h"
#include "influence/complex_q_beam.h"
#include "influence/pressure_field.h"
#include "model/launch_fan.h"
#include "rays/trace_ray.h"

namespace abyx {
namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The count in decimal; a saturated count is a lower bound.
std::string decimal(std::uint64_t value) {
  const std::string digits = decimal_text(value);
  return value == kUnlimited ? "at least " + digits : digits;
}

std::string need_text(std::uint64_t need, std::uint64_t available) {
  return "need " + decimal(need) + " bytes, " + decimal(available) + " bytes are available";
}

std::uint64_t soft_limit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::uint64_t receiver_count(const Receivers& receivers, ReceiverLayout layout) {
  if (layout == ReceiverLayout::Array) return receivers.x_rcvr_m.size();
  return saturating_multiply(
      saturating_multiply(receivers.x_rcvr_m.size(), receivers.y_rcvr_m.size()),
      receivers.z_rcvr_m.size());
}

// The fewest points a stored ray path can have: the launch point and one per step, and a ray stops
// only after max_steps steps or beyond max_range_m, which steps of at most step_m reach no sooner
// than after max_range_m / step_m of them (one less for rounding).
std::uint64_t fewest_path_points(const BeamSettings& beam) {
  const double ratio = std::floor(static_cast<double>(beam.max_range_m) / beam.step_m);
  const double steps_to_leave = ratio >= 0x1p63 ? 0x1p63 : std::max(ratio - 1.0, 0.0);
  const std::uint64_t steps =
      std::min<std::uint64_t>(beam.max_steps, static_cast<std::uint64_t>(steps_to_leave));
  return saturating_add(steps, 1);
}

}  // namespace

std::uint64_t path_point_bytes(const ResultCosts& result) {
  return saturating_add(sizeof(Vec3), result.bytes_per_path_point);
}

std::uint64_t worker_bytes_per_state(const SimulationConfig& config) {
  // the caustic phase and the search width of each state
  std::uint64_t bytes = 2 * sizeof(RayState) + 2 * sizeof(float);
  if (config.beam.resolved_beam_type == BeamType::Cerveny) {
    // a beam form per parameter set (at most one per frequency) and the reach of each state
    const std::uint64_t sets = std::max<std::uint64_t>(config.source.freq_hz.size(), 1);
    bytes = saturating_add(
        bytes, saturating_add(saturating_multiply(sets, sizeof(CervenyBeamForm)), sizeof(float)));
  }
  return bytes;
}

namespace {

// The states a ray may take: one that never leaves the range (launched straight down, say) takes
// every step it may.
std::uint64_t most_states(const SimulationConfig& config) {
  return saturating_add(config.beam.max_steps, 1);
}

// What the rays that `workers` workers trace take, each worker with `rays` rays' states of
// most_states each and the beam sum's working arrays for one of them, per state.
std::uint64_t tracing_bytes(const SimulationConfig& config, std::uint64_t workers,
                            std::uint64_t rays) {
  const std::uint64_t per_state = saturating_add(
      worker_bytes_per_state(config), saturating_multiply(rays - 1, 2 * sizeof(RayState)));
  return saturating_multiply(saturating_multiply(most_states(config), per_state), workers);
}

}  // namespace

bool fits_rays_side_by_side(const SimulationConfig& config, std::size_t worker_count,
                            std::uint64_t available_bytes) {
  return tracing_bytes(config, worker_count, kSideBySideRays) <= available_bytes;
}

std::uint64_t available_memory_bytes() {
  std::uint64_t available = kUnlimited;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    available = saturating_multiply(static_cast<std::uint64_t>(pages),
                                    static_cast<std::uint64_t>(page_size));
  }
  available = std::min(available, soft_limit(RLIMIT_AS));
  return std::min(available, soft_limit(RLIMIT_DATA));
}

void check_run_fits_memory(const SimulationConfig& config, ReceiverLayout layout,
                           std::size_t worker_count, std::uint64_t available_bytes,
                           const ResultCosts& result) {
  const std::uint64_t frequencies = config.source.freq_hz.size();
  const std::uint64_t receivers = receiver_count(config.receivers, layout);
  const std::uint64_t azimuths = config.source.launch_azim_deg.size();
  const std::uint64_t elevations = config.source.launch_elev_deg.size();
  const std::uint64_t rays = saturating_multiply(azimuths, elevations);

  // Every worker that has a chunk holds that chunk's field and the piece it is folded into. The
  // merge tree keeps finished pieces until their siblings are done: at every level at most one
  // beside the chunk each worker has under way or claims next, and never more than there are
  // chunks.
  const std::uint64_t chunks = plan_chunks(static_cast<std::size_t>(std::min<std::uint64_t>(
                                               rays, std::numeric_limits<std::size_t>::max())))
                                   .chunk_count;
  const std::uint64_t busy_workers =
      std::min<std::uint64_t>(worker_count, std::max<std::uint64_t>(std::min(rays, chunks), 1));
  std::uint64_t levels = 0;
  while ((std::uint64_t{1} << levels) < chunks) ++levels;
  const std::uint64_t waiting = std::min(chunks, saturating_multiply(busy_workers, levels));
  const std::uint64_t pieces = saturating_add(saturating_multiply(2, busy_workers), waiting);
  // an array or polar field also keeps its receivers' points
  const std::uint64_t point_bytes = layout != ReceiverLayout::Grid ? sizeof(Vec3) : 0;
  // with the intensities, each frequency also keeps one float per receiver
  const std::uint64_t frequency_bytes =
      sizeof(Complex32) + (config.beam.incoherent ? sizeof(float) : 0);
  const std::uint64_t bytes_per_receiver = saturating_add(
      saturating_multiply(frequencies, frequency_bytes), 2 * sizeof(float) + point_bytes);
  const std::uint64_t field_bytes =
      saturating_multiply(saturating_multiply(bytes_per_receiver, receivers), pieces);
  const std::string kind = layout == ReceiverLayout::Array   ? "array"
                           : layout == ReceiverLayout::Polar ? "polar layout"
                                                             : "grid";
  if (field_bytes > available_bytes) {
    throw TooLargeForMemory("receiver " + kind + " too large for memory: " + decimal(frequencies) +
                            " frequencies x " + decimal(receivers) + " receivers x " +
                            decimal(frequency_bytes) + " bytes per worker piece, " +
                            decimal(pieces) + " pieces at once with their arrival times " +
                            need_text(field_bytes, available_bytes));
  }
  // the caller's lists of the field (pressures, with the intensities, and the earliest arrival of
  // every receiver), made beside the engine's last piece once the rays are done
  if (result.bytes_per_field_value > 0) {
    const std::uint64_t values =
        saturating_add(saturating_multiply(frequencies, config.beam.incoherent ? 3 : 2), 2);
    const std::uint64_t result_bytes = saturating_add(
        saturating_multiply(saturating_multiply(values, receivers), result.bytes_per_field_value),
        saturating_multiply(bytes_per_receiver, receivers));
    if (result_bytes > available_bytes) {
      throw TooLargeForMemory(
          "receiver " + kind + " too large for memory: " + decimal(frequencies) +
          " frequencies x " + decimal(receivers) + " receivers returned as " + decimal(values) +
          " numbers each of " + decimal(result.bytes_per_field_value) +
          " bytes in the result's lists, " + need_text(result_bytes, available_bytes));
    }
  }

  if (config.beam.arrivals) {
    // the working bins of every piece, and the kept arrivals in the engine's list and the result
    const std::uint64_t capacity = arrival_capacity(config.beam.max_arrivals);
    const std::uint64_t bin_bytes =
        saturating_add(sizeof(ArrivalBin), saturating_multiply(frequencies, sizeof(Complex32)));
    const std::uint64_t gathering = saturating_multiply(
        saturating_add(saturating_multiply(saturating_multiply(receivers, capacity), bin_bytes),
                       saturating_multiply(receivers, sizeof(std::uint32_t))),
        pieces);
    const std::uint64_t kept = saturating_multiply(receivers, config.beam.max_arrivals);
    const std::uint64_t kept_bytes = saturating_multiply(
        kept, saturating_add(saturating_add(64, result.bytes_per_arrival),
                             saturating_multiply(
                                 frequencies, saturating_add(sizeof(Complex32),
                                                             result.bytes_per_arrival_frequency))));
    const std::uint64_t arrival_bytes = saturating_add(gathering, kept_bytes);
    if (arrival_bytes > available_bytes) {
      throw TooLargeForMemory(
          "arrivals too large for memory: max_arrivals = " + decimal(config.beam.max_arrivals) +
          " per receiver x " + decimal(receivers) + " receivers x " + decimal(frequencies) +
          " frequencies, gathered in " + decimal(pieces) + " pieces at once and returned, " +
          need_text(arrival_bytes, available_bytes) + "; lower max_arrivals");
    }
  }

  const std::uint64_t launch_bytes = saturating_multiply(rays, sizeof(Launch));
  if (launch_bytes > available_bytes) {
    throw TooLargeForMemory("launch fan too large for memory: " + decimal(azimuths) +
                            " azimuths x " + decimal(elevations) +
                            " elevations = " + decimal(rays) + " rays, whose launch angles " +
                            need_text(launch_bytes, available_bytes));
  }

  if (config.beam.store_ray_paths) {
    const std::uint64_t points = fewest_path_points(config.beam);
    const std::uint64_t point_bytes = path_point_bytes(result);
    const std::uint64_t path_bytes =
        saturating_add(saturating_multiply(saturating_multiply(rays, points), point_bytes),
                       saturating_multiply(rays, sizeof(RayPath)));
    if (path_bytes > available_bytes) {
      throw TooLargeForMemory("ray paths too large for memory: " + decimal(rays) +
                              " rays x at least " + decimal(points) + " points x " +
                              decimal(point_bytes) + " bytes " +
                              need_text(path_bytes, available_bytes));
    }
  }

  const std::uint64_t states_bytes = tracing_bytes(config, busy_workers, 1);
  if (states_bytes > available_bytes) {
    throw TooLargeForMemory(
        "ray states too large for memory: max_steps + 1 = " + decimal(most_states(config)) +
        " states x " + decimal(worker_bytes_per_state(config)) + " bytes for each of " +
        decimal(busy_workers) + " rays traced at once " + need_text(states_bytes, available_bytes) +
        "; lower max_steps");
  }
}

}  // namespace abyx
