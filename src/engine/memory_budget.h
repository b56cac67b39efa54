#pragma once

#include <cstddef>
#include <cstdint>

#include "influence/pressure_field.h"
#include "input/simulation_config.h"

namespace abyx {

// The memory a run may use at most: the smallest of the memory the system can give now
// (MemAvailable, where it says), the physical memory and the process's address-space and
// data-segment limits (bytes).
std::uint64_t available_memory_bytes();

// What the caller's result costs beyond the engine's own copy, per stored ray-path point (bytes).
struct ResultCosts {
  std::uint64_t bytes_per_path_point = 0;
  std::uint64_t bytes_per_arrival = 0;            // its receiver, delay, angles, bounces and ray
  std::uint64_t bytes_per_arrival_frequency = 0;  // its amplitude at one frequency
  std::uint64_t bytes_per_field_value = 0;        // one number of the field's lists
};

// What one stored ray-path point costs while the run and its result exist: the engine's point and
// the caller's copy.
std::uint64_t path_point_bytes(const ResultCosts& result);

// The sizes of a run that decide what it needs in memory, known before anything is built.
struct RunSizes {
  std::uint64_t frequencies = 0;
  std::uint64_t receivers = 0;  // saturated where the grid's count would not fit
  ReceiverLayout layout = ReceiverLayout::Grid;
  std::uint64_t azimuths = 0;
  std::uint64_t elevations = 0;
  std::uint64_t max_steps = 0;
  bool store_ray_paths = false;
  std::uint64_t fewest_path_points = 0;  // the fewest points a stored ray path can have
  bool incoherent = false;               // the field also sums the intensities
  bool arrivals = false;                 // the run gathers arrivals
  std::uint64_t max_arrivals = 0;        // kept per receiver
  BeamType beam_type = BeamType::Geometric;
  std::uint64_t refined_ssp_nodes = 0;  // the grid's nodes on its finer depth axis; 0 unrefined
  bool absorbs = false;  // the water absorbs: the beams keep its loss per state and frequency
};

// The sizes of a validated configuration.
RunSizes run_sizes(const SimulationConfig& config);

// The bytes a worker holds for each state of the ray it traces: the state in a list that grows by
// doubling, and the beam sum's working arrays per state.
std::uint64_t worker_bytes_per_state(const RunSizes& sizes);

// What one state of a traced ray takes: the state, and room for a bottom hit.
std::uint64_t bytes_per_traced_state();

// Whether each of worker_count workers may keep kSideBySideRays rays' states at once, each ray
// taking up to max_steps + 1 states, with the beam sum's working arrays for one of them, in
// available_bytes; a run whose rays fit only one at a time traces them so.
bool fits_rays_side_by_side(const RunSizes& sizes, std::size_t worker_count,
                            std::uint64_t available_bytes);

// Throws TooLargeForMemory, naming what is too large, when the sizes known before any work starts
// cannot fit in available_bytes: the pressure fields that worker_count workers hold at once (each
// its chunk's field and the piece that chunk is folded into, every one of frequencies x receivers
// x 8 bytes plus 8 bytes of earliest arrival per receiver), the launch list, the stored ray paths
// at their fewest points, or the states of the rays the busy workers trace, each of which may
// take max_steps steps, and the arrivals being gathered (each piece's paths at every receiver,
// with their amplitudes) and returned, or a sound-speed grid refined in depth while it is built;
// and when each fits alone, when all of them together do not.
void check_run_fits_memory(const RunSizes& sizes, std::size_t worker_count,
                           std::uint64_t available_bytes, const ResultCosts& result = {});

// What `arrivals` kept arrivals at `frequencies` frequencies take in the engine's list and the
// caller's result (bytes).
std::uint64_t kept_arrival_bytes(std::uint64_t arrivals, std::uint64_t frequencies,
                                 const ResultCosts& result);

// What the field of a run takes once its rays are done, beside its arrivals and paths: the
// engine's last piece and the caller's lists (bytes).
std::uint64_t field_bytes_beside_eigenrays(const RunSizes& sizes, const ResultCosts& result);

// Throws TooLargeForMemory when the eigenray paths, `points` points at most, cannot be stored
// beside the `stored_points` points of the ray paths at point_bytes each in available_bytes.
void check_eigenrays_fit(std::uint64_t points, std::uint64_t stored_points,
                         std::uint64_t point_bytes, std::uint64_t available_bytes);

}  // namespace abyx
