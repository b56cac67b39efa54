// Counts, for one configuration file, what the beam sum does over the whole fan: the rays, their
// states, the receivers tested against a segment and those that took a contribution. The counts
// do not depend on the number of threads, so bench_run.py divides them by the wall time of a run.
//
//     count_contributions scenario.json   ->   {"rays": ..., "states": ..., "candidates": ..., ...}

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bty/bty_field.h"
#include "input/read_simulation_config.h"
#include "model/launch_fan.h"
#include "model/model.h"
#include "rays/trace_ray.h"
#include "ssp/ssp_fields.h"
#include "support/beam_testing.h"

int main(int argc, char** argv) {
  using namespace abyx;
  if (argc != 2) {
    std::fprintf(stderr, "usage: count_contributions scenario.json\n");
    return 2;
  }
  std::ifstream file(argv[1]);
  std::stringstream text;
  text << file.rdbuf();
  ReadConfigResult read = read_simulation_config(text.str());
  if (!read.config) {
    std::fprintf(stderr, "%s\n", read.error.c_str());
    return 1;
  }
  SimulationConfig& config = *read.config;
  const ValidationResult validation = config.validate();
  if (validation.error) {
    std::fprintf(stderr, "%s\n", validation.error->c_str());
    return 1;
  }

  // the engine's set-up, on one thread
  const LaunchFan fan = make_launch_fan(config.source);
  Model tracer;  // what the tracer reads
  tracer.beam = config.beam;
  tracer.ssp = init_ssp(config.ssp);
  tracer.bty = init_bty(config.bathymetry);
  const BTYfield& bty = tracer.bty;
  const std::vector<float> omegas = angular_frequencies(config.source.freq_hz);
  const std::vector<Launch> launches = launch_list(fan);
  const Vec3 source{config.source.position[0], config.source.position[1],
                    config.source.position[2]};
  tracer.source = source;
  PressureField field = init_pressure_field(config.receivers, receiver_layout(config.receivers),
                                            config.source.freq_hz.size(), source);
  const Model model = beam_model(field, bty, omegas);
  BeamOutputs out{field};
  BeamScratch scratch;
  tracer.omegas = omegas;  // for the cut-off
  RayTrace trace;
  const std::vector<RayState>& states = trace.states;
  unsigned long long state_count = 0;
  BeamInfluenceCounts total;
  for (const Launch& launch : launches) {
    trace_ray(launch, tracer, trace);
    state_count += states.size();
    const BeamInfluenceCounts counts = add_gaussian_beam(
        trace, BeamLaunch{launch.elevation_rad, fan.d_azimuth_rad, fan.d_elevation_rad}, model,
        ReceiverSearch::Narrowed, scratch, out);
    total.candidates += counts.candidates;
    total.contributions += counts.contributions;
  }
  std::printf("{\"rays\": %zu, \"states\": %llu, \"candidates\": %zu, \"contributions\": %zu}\n",
              launches.size(), state_count, total.candidates, total.contributions);
  return 0;
}
