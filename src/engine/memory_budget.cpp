#include "engine/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "common/checked_size.h"
#include "common/complex32.h"
#include "common/decimal_text.h"
#include "common/fault.h"
#include "common/fault_messages.h"
#include "common/message_pattern.h"
#include "common/vec3.h"
#include "engine/chunk_plan.h"
#include "influence/arrival_table.h"
#include "influence/complex_q_beam.h"
#include "influence/pressure_field.h"
#include "model/launch_fan.h"
#include "rays/trace_ray.h"
#include "ssp/profile_refinement.h"
#include "ssp/ssp_fields.h"

namespace abyx {
namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The count in decimal; a saturated count is a lower bound.
std::string decimal(std::uint64_t value) {
  const std::string digits = decimal_text(value);
  return value == kUnlimited ? "at least " + digits : digits;
}

std::string need_text(std::uint64_t need, std::uint64_t available) {
  return fill_pattern(kNeedBytesPattern, {decimal(need), decimal(available)});
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

// The nodes of a sound-speed grid that its interpolation refines in depth; 0 for one it leaves as
// given, or whose shape the model's own fault refuses.
std::uint64_t refined_node_count(const SoundSpeed& ssp) {
  const std::size_t nz = ssp.z_ssp_m.size();
  const std::uint64_t columns = saturating_multiply(ssp.x_ssp_m.size(), ssp.y_ssp_m.size());
  if (ssp.resolved_interpolation == SspInterpolation::Nodes || nz < 2 ||
      saturating_multiply(columns, nz) != ssp.c_m_s.size()) {
    return 0;
  }
  return saturating_multiply(columns, refined_depths(ssp).size());
}

}  // namespace

RunSizes run_sizes(const SimulationConfig& config) {
  RunSizes sizes;
  sizes.frequencies = config.source.freq_hz.size();
  sizes.layout = receiver_layout(config.receivers);
  sizes.receivers = receiver_count(config.receivers, sizes.layout);
  sizes.azimuths = config.source.launch_azim_deg.size();
  sizes.elevations = config.source.launch_elev_deg.size();
  sizes.max_steps = config.beam.max_steps;
  sizes.store_ray_paths = config.beam.store_ray_paths;
  sizes.fewest_path_points = fewest_path_points(config.beam);
  sizes.incoherent = config.beam.incoherent;
  sizes.arrivals = config.beam.arrivals;
  sizes.max_arrivals = config.beam.max_arrivals;
  sizes.beam_type = config.beam.resolved_beam_type;
  sizes.refined_ssp_nodes = refined_node_count(config.ssp);
  sizes.absorbs = config.water.resolved_absorption != AbsorptionKind::None;
  return sizes;
}

std::uint64_t path_point_bytes(const ResultCosts& result) {
  return saturating_add(sizeof(Vec3), result.bytes_per_path_point);
}

std::uint64_t bytes_per_traced_state() {
  return sizeof(RayState) + sizeof(std::size_t) + sizeof(BottomHit);
}

std::uint64_t worker_bytes_per_state(const RunSizes& sizes) {
  // the caustic phase and the search width of each state, and a bottom hit at each at most
  std::uint64_t bytes = 2 * bytes_per_traced_state() + 2 * sizeof(float);
  if (sizes.beam_type == BeamType::Cerveny) {
    // a beam form per parameter set (at most one per frequency) and the reach of each state
    const std::uint64_t sets = std::max<std::uint64_t>(sizes.frequencies, 1);
    bytes = saturating_add(
        bytes, saturating_add(saturating_multiply(sets, sizeof(CervenyBeamForm)), sizeof(float)));
  }
  if (sizes.absorbs) {
    bytes = saturating_add(bytes, saturating_multiply(sizes.frequencies, sizeof(float)));
  }
  return bytes;
}

namespace {

// The states a ray may take: one that never leaves the range (launched straight down, say) takes
// every step it may.
std::uint64_t most_states(const RunSizes& sizes) { return saturating_add(sizes.max_steps, 1); }

// What the rays that `workers` workers trace take, each worker with `rays` rays' states of
// most_states each and the beam sum's working arrays for one of them, per state.
std::uint64_t tracing_bytes(const RunSizes& sizes, std::uint64_t workers, std::uint64_t rays) {
  const std::uint64_t per_state = saturating_add(
      worker_bytes_per_state(sizes), saturating_multiply(rays - 1, 2 * bytes_per_traced_state()));
  return saturating_multiply(saturating_multiply(most_states(sizes), per_state), workers);
}

}  // namespace

bool fits_rays_side_by_side(const RunSizes& sizes, std::size_t worker_count,
                            std::uint64_t available_bytes) {
  return tracing_bytes(sizes, worker_count, kSideBySideRays) <= available_bytes;
}

// The memory the system can give without swapping: MemAvailable of /proc/meminfo (kB), where the
// system reports it; kUnlimited elsewhere.
std::uint64_t memory_the_system_offers() {
  std::FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) return kUnlimited;
  std::uint64_t offered = kUnlimited;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    unsigned long long kilobytes = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
      offered = saturating_multiply(kilobytes, 1024);
      break;
    }
  }
  std::fclose(file);
  return offered;
}

std::uint64_t available_memory_bytes() {
  std::uint64_t available = memory_the_system_offers();
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    available = std::min(available, saturating_multiply(static_cast<std::uint64_t>(pages),
                                                        static_cast<std::uint64_t>(page_size)));
  }
  available = std::min(available, soft_limit(RLIMIT_AS));
  return std::min(available, soft_limit(RLIMIT_DATA));
}

namespace {

std::uint64_t ray_count(const RunSizes& sizes) {
  return saturating_multiply(sizes.azimuths, sizes.elevations);
}

// The pressure-field pieces held at once, and the workers that hold them.
struct FieldPieces {
  std::uint64_t busy_workers = 0;
  std::uint64_t pieces = 0;
};

// Every worker that has a chunk holds that chunk's field and the piece it is folded into. The merge
// tree keeps finished pieces until their siblings are done: at every level at most one beside the
// chunk each worker has under way or claims next, and never more than there are chunks.
FieldPieces pieces_at_once(std::uint64_t rays, std::size_t worker_count) {
  const std::uint64_t chunks = plan_chunks(static_cast<std::size_t>(std::min<std::uint64_t>(
                                               rays, std::numeric_limits<std::size_t>::max())))
                                   .chunk_count;
  const std::uint64_t busy_workers =
      std::min<std::uint64_t>(worker_count, std::max<std::uint64_t>(std::min(rays, chunks), 1));
  std::uint64_t levels = 0;
  while ((std::uint64_t{1} << levels) < chunks) ++levels;
  const std::uint64_t waiting = std::min(chunks, saturating_multiply(busy_workers, levels));
  return {busy_workers, saturating_add(saturating_multiply(2, busy_workers), waiting)};
}

// with the intensities, each frequency also keeps one float per receiver
std::uint64_t frequency_bytes(const RunSizes& sizes) {
  return sizeof(Complex32) + (sizes.incoherent ? sizeof(float) : 0);
}

std::uint64_t bytes_per_receiver(const RunSizes& sizes) {
  // an array or polar field also keeps its receivers' points
  const std::uint64_t point_bytes = sizes.layout != ReceiverLayout::Grid ? sizeof(Vec3) : 0;
  return saturating_add(saturating_multiply(sizes.frequencies, frequency_bytes(sizes)),
                        2 * sizeof(float) + point_bytes);
}

std::string layout_kind(ReceiverLayout layout) {
  return layout == ReceiverLayout::Array   ? "array"
         : layout == ReceiverLayout::Polar ? "polar layout"
                                           : "grid";
}

std::uint64_t check_field_fits(const RunSizes& sizes, std::uint64_t pieces,
                               std::uint64_t available_bytes) {
  const std::uint64_t field_bytes =
      saturating_multiply(saturating_multiply(bytes_per_receiver(sizes), sizes.receivers), pieces);
  if (field_bytes > available_bytes) {
    throw TooLargeForMemory(fill_pattern(
        kFieldTooLargePattern, {layout_kind(sizes.layout), decimal(sizes.frequencies),
                                decimal(sizes.receivers), decimal(frequency_bytes(sizes)),
                                decimal(pieces), need_text(field_bytes, available_bytes)}));
  }
  return field_bytes;
}

// the caller's lists of the field (pressures, with the intensities, and the earliest arrival of
// every receiver), made beside the engine's last piece once the rays are done
std::uint64_t check_result_lists_fit(const RunSizes& sizes, const ResultCosts& result,
                                     std::uint64_t available_bytes) {
  if (result.bytes_per_field_value == 0) return 0;
  const std::uint64_t values =
      saturating_add(saturating_multiply(sizes.frequencies, sizes.incoherent ? 3 : 2), 2);
  const std::uint64_t result_bytes =
      saturating_add(saturating_multiply(saturating_multiply(values, sizes.receivers),
                                         result.bytes_per_field_value),
                     saturating_multiply(bytes_per_receiver(sizes), sizes.receivers));
  if (result_bytes > available_bytes) {
    throw TooLargeForMemory(fill_pattern(
        kResultListsTooLargePattern,
        {layout_kind(sizes.layout), decimal(sizes.frequencies), decimal(sizes.receivers),
         decimal(values), decimal(result.bytes_per_field_value),
         need_text(result_bytes, available_bytes)}));
  }
  return result_bytes;
}

// the working bins of every piece, and the kept arrivals in the engine's list and the result
std::uint64_t check_arrivals_fit(const RunSizes& sizes, std::uint64_t pieces,
                                 const ResultCosts& result, std::uint64_t available_bytes) {
  if (!sizes.arrivals) return 0;
  const std::uint64_t frequencies = sizes.frequencies;
  const std::uint64_t receivers = sizes.receivers;
  const std::uint64_t capacity = arrival_capacity(sizes.max_arrivals);
  const std::uint64_t bin_bytes =
      saturating_add(kArrivalBinBytes, saturating_multiply(frequencies, sizeof(Complex32)));
  const std::uint64_t gathering = saturating_multiply(
      saturating_add(saturating_multiply(saturating_multiply(receivers, capacity), bin_bytes),
                     saturating_multiply(receivers, sizeof(std::uint32_t))),
      pieces);
  const std::uint64_t kept_bytes =
      kept_arrival_bytes(saturating_multiply(receivers, sizes.max_arrivals), frequencies, result);
  const std::uint64_t arrival_bytes = saturating_add(gathering, kept_bytes);
  if (arrival_bytes > available_bytes) {
    throw TooLargeForMemory(
        fill_pattern(kArrivalsTooLargePattern,
                     {decimal(sizes.max_arrivals), decimal(receivers), decimal(frequencies),
                      decimal(pieces), need_text(arrival_bytes, available_bytes)}));
  }
  return arrival_bytes;
}

std::uint64_t check_launches_fit(const RunSizes& sizes, std::uint64_t available_bytes) {
  const std::uint64_t rays = ray_count(sizes);
  const std::uint64_t launch_bytes = saturating_multiply(rays, sizeof(Launch));
  if (launch_bytes > available_bytes) {
    throw TooLargeForMemory(fill_pattern(
        kLaunchesTooLargePattern, {decimal(sizes.azimuths), decimal(sizes.elevations),
                                   decimal(rays), need_text(launch_bytes, available_bytes)}));
  }
  return launch_bytes;
}

std::uint64_t check_paths_fit(const RunSizes& sizes, const ResultCosts& result,
                              std::uint64_t available_bytes) {
  if (!sizes.store_ray_paths) return 0;
  const std::uint64_t rays = ray_count(sizes);
  const std::uint64_t points = sizes.fewest_path_points;
  const std::uint64_t point_bytes = path_point_bytes(result);
  const std::uint64_t path_bytes =
      saturating_add(saturating_multiply(saturating_multiply(rays, points), point_bytes),
                     saturating_multiply(rays, sizeof(RayPath)));
  if (path_bytes > available_bytes) {
    throw TooLargeForMemory(
        fill_pattern(kPathsTooLargePattern, {decimal(rays), decimal(points), decimal(point_bytes),
                                             need_text(path_bytes, available_bytes)}));
  }
  return path_bytes;
}

std::uint64_t check_states_fit(const RunSizes& sizes, std::uint64_t busy_workers,
                               std::uint64_t available_bytes) {
  const std::uint64_t states_bytes = tracing_bytes(sizes, busy_workers, 1);
  if (states_bytes > available_bytes) {
    throw TooLargeForMemory(
        fill_pattern(kStatesTooLargePattern,
                     {decimal(most_states(sizes)), decimal(worker_bytes_per_state(sizes)),
                      decimal(busy_workers), need_text(states_bytes, available_bytes)}));
  }
  return states_bytes;
}

// the grid's nodes, and the speed and its nine derivatives on the finer grid while it is built
void check_refined_ssp_fits(const RunSizes& sizes, std::uint64_t available_bytes) {
  constexpr std::uint64_t kBytesPerNode = (kSspNodeStride + 13) * sizeof(float);
  const std::uint64_t ssp_bytes = saturating_multiply(sizes.refined_ssp_nodes, kBytesPerNode);
  if (ssp_bytes > available_bytes) {
    throw TooLargeForMemory(fill_pattern(kRefinedSspTooLargePattern,
                                         {decimal(sizes.refined_ssp_nodes), decimal(kBytesPerNode),
                                          need_text(ssp_bytes, available_bytes)}));
  }
}

}  // namespace

void check_run_fits_memory(const RunSizes& sizes, std::size_t worker_count,
                           std::uint64_t available_bytes, const ResultCosts& result) {
  const FieldPieces held = pieces_at_once(ray_count(sizes), worker_count);
  check_refined_ssp_fits(sizes, available_bytes);  // only while the model is built
  // each piece alone first, for the message that names it; then all of them, held together
  const std::uint64_t pieces[] = {check_field_fits(sizes, held.pieces, available_bytes),
                                  check_result_lists_fit(sizes, result, available_bytes),
                                  check_arrivals_fit(sizes, held.pieces, result, available_bytes),
                                  check_launches_fit(sizes, available_bytes),
                                  check_paths_fit(sizes, result, available_bytes),
                                  check_states_fit(sizes, held.busy_workers, available_bytes)};
  std::uint64_t total = 0;
  for (const std::uint64_t bytes : pieces) total = saturating_add(total, bytes);
  if (total > available_bytes) {
    throw TooLargeForMemory(fill_pattern(
        kRunTooLargePattern,
        {decimal(pieces[0]), decimal(pieces[1]), decimal(pieces[2]), decimal(pieces[3]),
         decimal(pieces[4]), decimal(pieces[5]), need_text(total, available_bytes)}));
  }
}

std::uint64_t kept_arrival_bytes(std::uint64_t arrivals, std::uint64_t frequencies,
                                 const ResultCosts& result) {
  const std::uint64_t amplitude_bytes =
      saturating_add(sizeof(Complex32), result.bytes_per_arrival_frequency);
  return saturating_multiply(arrivals,
                             saturating_add(saturating_add(64, result.bytes_per_arrival),
                                            saturating_multiply(frequencies, amplitude_bytes)));
}

std::uint64_t field_bytes_beside_eigenrays(const RunSizes& sizes, const ResultCosts& result) {
  // each piece's size within an unbounded memory
  return saturating_add(check_field_fits(sizes, 1, kUnlimited),
                        check_result_lists_fit(sizes, result, kUnlimited));
}

void check_eigenrays_fit(std::uint64_t points, std::uint64_t stored_points,
                         std::uint64_t point_bytes, std::uint64_t available_bytes) {
  const std::uint64_t total = saturating_add(points, stored_points);
  const std::uint64_t bytes = saturating_multiply(total, point_bytes);
  if (bytes > available_bytes) {
    throw TooLargeForMemory(fill_pattern(
        kEigenraysTooLargePattern, {decimal(points), decimal(stored_points), decimal(point_bytes),
                                    need_text(bytes, available_bytes)}));
  }
}

}  // namespace abyx
