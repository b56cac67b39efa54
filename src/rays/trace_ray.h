#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/fault_messages.h"
#include "common/ray_state.h"
#include "common/ray_trace.h"
#include "common/vec3.h"
#include "input/simulation_config.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// The stored path of one ray: its launch index and the positions of its states after reflection.
struct RayPath {
  std::uint64_t ray_index = 0;  // position in the azimuth-major launch list
  std::vector<Vec3> points;     // x, y, z (m), launch point first
};

// How the tracer takes the full steps through a uniform cell over a level bottom: as straight
// runs that leave out the tests that cannot change them (what runs use), or one by one through the
// general loop like every other step. Both give the same states, bit for bit.
enum class UniformCellSteps { StraightRuns, OneByOne };

// Traces one ray of the model from its source, launched at the launch's azimuth (0 along +y, pi/2
// along +x) and elevation (positive downwards) in radians, until max_steps or max_range_m, or the
// bottom reflection that takes it below the cut-off. Its states are never empty.
void trace_ray(const Launch& launch, const Model& model, RayTrace& trace,
               UniformCellSteps uniform_steps = UniformCellSteps::StraightRuns);

// The most rays trace_rays traces side by side.
inline constexpr std::size_t kSideBySideRays = 4;

// Whether trace_rays evaluates the ray equations of its rays four at a time, in the lanes of one
// vector: for geometric beams through a grid without uniform cells. Elsewhere the rays are traced
// one after another, since straight runs leave little to evaluate and complex-Q beams carry more.
bool traces_side_by_side(const BeamSettings& beam, const SSPFields& ssp);

// Traces up to kSideBySideRays rays as trace_ray traces each, bit for bit: ray j is launched as
// launches[j] into *traces[j]. Where traces_side_by_side holds, the rays step in turn and their
// equations are evaluated together; throws Fault when the lists differ in length or hold too many
// rays.
void trace_rays(std::span<const Launch> launches, const Model& model,
                std::span<RayTrace* const> traces);

// Room reserved up front for the states of one ray (a hint only): enough for the steps to
// max_range_m and no more than max_steps + 1, but never more than kMaxReservedStates.
std::size_t reserved_state_count(const BeamSettings& beam);

// The reservation never exceeds this many states, however large max_range_m / step_m is.
inline constexpr std::size_t kMaxReservedStates = 65536;

// The path of a traced ray: its launch index and the position of every state, launch point first.
RayPath extract_ray_path(std::uint64_t ray_index, const std::vector<RayState>& states);

}  // namespace abyx
