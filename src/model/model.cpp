#include "model/model.h"

#include <algorithm>
#include "bty/sea_surface.h"

namespace abyx {

Model build_model(const SimulationConfig& config) {
  Model model;
  model.source = {config.source.position[0], config.source.position[1], config.source.position[2]};
  model.beam = config.beam;
  model.ssp = init_ssp(config.ssp);
  const auto slowest = std::min_element(config.ssp.c_m_s.begin(), config.ssp.c_m_s.end());
  model.max_slowness_s_m = slowest != config.ssp.c_m_s.end() ? 1.0f / *slowest : 0.0f;
  model.bty = init_bty(config.bathymetry);
  model.surface = init_surface(config.surface);
  model.surface_table = init_surface_table(config.surface);
  model.omegas = angular_frequencies(config.source.freq_hz);
  model.fan = make_launch_fan(config.source);
  model.launches = launch_list(model.fan);
  model.receivers = config.receivers;
  model.layout = receiver_layout(config.receivers);
  // array receivers are indexed once and the index shared by every worker; polar ones are found
  // along their own axes
  if (model.layout == ReceiverLayout::Array) {
    model.array_index = build_receiver_index(array_receiver_points(config.receivers));
  }
  model.absorption = make_absorption(config.water, config.source.freq_hz);
  if (config.source.beam_pattern) {
    model.launch_gains = launch_gains(*config.source.beam_pattern, config.source);
  }
  return model;
}

}  // namespace abyx
