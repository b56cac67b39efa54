#include "model/model.h"

#include <algorithm>
#include <cmath>
#include "bty/sea_surface.h"
#include "common/constants.h"

namespace abyx {
namespace {

// With a waist of Rayleigh distance E at the source, a beam alone gives a point source's field on
// its ray at max_range_m R when it weighs a solid angle of 2 pi sqrt(E^2 + R^2) / (k E R), and its
// intensity when it weighs pi sigma^2 / 2 for its angular 1/e half-width sigma there: weighing a
// coarser fan's whole cell adds up to (dtheta dphi) / (pi sigma^2) times the field, as strong as no
// source allows. In the slowest water, where beams are narrowest; a side is never below sigma,
// where the fan's beams still meet.
FanCellSides complex_q_cell_sides(const BeamSettings& beam, float max_slowness, float omega) {
  const double k = std::fabs(double{omega}) * max_slowness;
  const std::optional<BeamWaist> waist = complex_q_waist(beam, k);
  if (!waist) return {};
  const double range_m = beam.max_range_m;
  const double sigma = waist->half_width_m / range_m;
  const double on_ray =
      2.0 * kPiDouble * std::hypot(waist->rayleigh_m, range_m) / (k * waist->rayleigh_m * range_m);
  return {std::sqrt(std::max(sigma * sigma, on_ray)), std::sqrt(0.5 * kPiDouble) * sigma};
}

}  // namespace

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
  if (model.beam.resolved_beam_type == BeamType::Cerveny) {
    for (const float omega : model.omegas) {
      model.fan_cell_sides.push_back(
          complex_q_cell_sides(model.beam, model.max_slowness_s_m, omega));
    }
  }
  return model;
}

}  // namespace abyx
