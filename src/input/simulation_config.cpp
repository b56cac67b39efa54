#include "input/simulation_config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/axis_cell.h"
#include "common/checked_size.h"
#include "common/constants.h"
#include "common/decimal_text.h"
#include "common/message_pattern.h"
#include "input/number_text.h"
#include "input/profile_departure.h"
#include "input/validation_messages.h"

namespace abyx {

namespace {

// The two lists that validate fills: problems, and the corrections it made.
struct Findings {
  std::vector<std::string> errors;    // one item per problem, in check order
  std::vector<std::string> warnings;  // one text per corrected depth, in check order
};

void add_error_if(bool failed, std::string_view message, Findings& findings) {
  if (failed) findings.errors.emplace_back(message);
}

void add_error_if_text(bool failed, std::string message, Findings& findings) {
  if (failed) findings.errors.push_back(std::move(message));
}

// Mirrors a negative depth to the positive side (not clamped to 0), telling the caller.
void correct_depth(std::string_view lead, float& depth, Findings& findings) {
  if (!(depth < 0.0f)) return;  // -0.0 is not negative
  const float corrected = std::fabs(depth);
  findings.warnings.push_back(std::string(lead) + format_f32_positional(depth) +
                              std::string(kDepthCorrectionMiddle) +
                              format_f32_positional(corrected));
  depth = corrected;
}

void correct_depths(std::string_view lead, std::vector<float>& depths, Findings& findings) {
  for (float& depth : depths) correct_depth(lead, depth, findings);
}

bool not_positive(float value) { return value <= 0.0f; }

bool all_finite(const std::vector<float>& values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// NaN compares false, so a NaN anywhere also breaks the order.
bool strictly_increasing(const std::vector<float>& axis) {
  for (std::size_t k = 1; k < axis.size(); ++k) {
    if (!(axis[k - 1] < axis[k])) return false;
  }
  return true;
}

bool non_decreasing(const std::vector<float>& axis) {
  for (std::size_t k = 1; k < axis.size(); ++k) {
    if (!(axis[k - 1] <= axis[k])) return false;
  }
  return true;
}

bool finite_if_present(const std::optional<float>& value) {
  return !value || std::isfinite(*value);
}

bool negative_if_present(const std::optional<float>& value) { return value && *value < 0.0f; }

void check_bottom_model(const BottomBoundaryModel& model, Findings& findings) {
  if (const auto* acoustic = std::get_if<BottomBoundaryModel::Acoustic>(&model.alternative)) {
    add_error_if(not_positive(acoustic->compressional_speed_m_s), kAcousticSpeedNotPositiveMessage,
                 findings);
    add_error_if(not_positive(acoustic->density_g_cm3), kAcousticDensityNotPositiveMessage,
                 findings);
    add_error_if(negative_if_present(acoustic->compressional_attenuation_db_per_wavelength),
                 kAcousticAttenuationNegativeMessage, findings);
  } else if (const auto* elastic = std::get_if<BottomBoundaryModel::Elastic>(&model.alternative)) {
    add_error_if(not_positive(elastic->compressional_speed_m_s), kElasticSpeedNotPositiveMessage,
                 findings);
    add_error_if(not_positive(elastic->shear_speed_m_s), kElasticShearSpeedNotPositiveMessage,
                 findings);
    add_error_if(not_positive(elastic->density_g_cm3), kElasticDensityNotPositiveMessage, findings);
    add_error_if(negative_if_present(elastic->compressional_attenuation_db_per_wavelength),
                 kElasticAttenuationNegativeMessage, findings);
    add_error_if(negative_if_present(elastic->shear_attenuation_db_per_wavelength),
                 kElasticShearAttenuationNegativeMessage, findings);
  }
}

void check_bottom_model_finite(const BottomBoundaryModel& model, Findings& findings) {
  if (const auto* acoustic = std::get_if<BottomBoundaryModel::Acoustic>(&model.alternative)) {
    add_error_if(!std::isfinite(acoustic->compressional_speed_m_s), kAcousticSpeedNotFiniteMessage,
                 findings);
    add_error_if(!std::isfinite(acoustic->density_g_cm3), kAcousticDensityNotFiniteMessage,
                 findings);
    add_error_if(!finite_if_present(acoustic->compressional_attenuation_db_per_wavelength),
                 kAcousticAttenuationNotFiniteMessage, findings);
  } else if (const auto* elastic = std::get_if<BottomBoundaryModel::Elastic>(&model.alternative)) {
    add_error_if(!std::isfinite(elastic->compressional_speed_m_s), kElasticSpeedNotFiniteMessage,
                 findings);
    add_error_if(!std::isfinite(elastic->shear_speed_m_s), kElasticShearSpeedNotFiniteMessage,
                 findings);
    add_error_if(!std::isfinite(elastic->density_g_cm3), kElasticDensityNotFiniteMessage, findings);
    add_error_if(!finite_if_present(elastic->compressional_attenuation_db_per_wavelength),
                 kElasticAttenuationNotFiniteMessage, findings);
    add_error_if(!finite_if_present(elastic->shear_attenuation_db_per_wavelength),
                 kElasticShearAttenuationNotFiniteMessage, findings);
  }
}

// A depth grid as the configuration gives it: two axes and the depths at their nodes, y fastest.
struct DepthGrid {
  const std::vector<float>& x;  // axis x (m)
  const std::vector<float>& y;  // axis y (m)
  const std::vector<float>& z;  // depths (m, positive down)
};

// Whether the run can use the grid; an unusable one has errors of its own that say why.
bool usable(const DepthGrid& g) {
  return !g.x.empty() && !g.y.empty() && g.z.size() / g.x.size() == g.y.size() &&
         g.z.size() % g.x.size() == 0 && all_finite(g.x) && all_finite(g.y) && all_finite(g.z) &&
         strictly_increasing(g.x) && strictly_increasing(g.y);
}

// The bilinear depth of a usable grid under (x, y), the edge cells holding beyond the grid as the
// tracer's boundaries do.
float depth_under(const DepthGrid& g, float x, float y) {
  // the lower node and the clamped local coordinate along one axis
  const auto locate = [](const std::vector<float>& a, float p, std::size_t& lower, float& t) {
    lower = search_axis_cell(a, p);  // the cell the tracer's cursor starts in
    t = a.size() < 2 ? 0.0f : std::clamp((p - a[lower]) / (a[lower + 1] - a[lower]), 0.0f, 1.0f);
  };
  std::size_t ix = 0, iy = 0;
  float tx = 0.0f, ty = 0.0f;
  locate(g.x, x, ix, tx);
  locate(g.y, y, iy, ty);
  const std::size_t nx = g.x.size(), ny = g.y.size();
  const std::size_t jx = std::min(ix + 1, nx - 1);
  const std::size_t jy = std::min(iy + 1, ny - 1);
  const auto z = [&](std::size_t i, std::size_t j) { return g.z[i * ny + j]; };
  return (1.0f - tx) * (1.0f - ty) * z(ix, iy) + (1.0f - tx) * ty * z(ix, jy) +
         tx * (1.0f - ty) * z(jx, iy) + tx * ty * z(jx, jy);
}

// The bilinear seabed depth under (x, y); none for a grid the run could not use.
std::optional<float> seabed_depth_under(const Bathymetry& b, float x, float y) {
  const DepthGrid seabed{b.x_bty_m, b.y_bty_m, b.z_bty_m};
  if (!usable(seabed)) return std::nullopt;
  return depth_under(seabed, x, y);
}

// Depths this close (m) to a boundary lie on it, whatever the rounding of either.
float boundary_slack(float depth) { return 1e-5f * std::max(1.0f, std::fabs(depth)); }

// A source under the seabed starts its rays outside the water: their first reflection would carry
// them backwards, with travel times below zero.
bool source_below_seabed(const Bathymetry& bathymetry, const std::array<float, 3>& position) {
  if (!std::all_of(position.begin(), position.end(), [](float v) { return std::isfinite(v); })) {
    return false;
  }
  const std::optional<float> seabed = seabed_depth_under(bathymetry, position[0], position[1]);
  // a source on the seabed is in the water, whatever the rounding of either depth
  return seabed && position[2] > *seabed + boundary_slack(*seabed);
}

// The receivers that lie above a shaped surface: how many, and the first with the surface over it.
struct ReceiversAbove {
  const DepthGrid& surface;
  std::size_t count = 0;
  std::array<float, 4> first{};  // x, y, z, surface depth (m)

  // the receivers at depths zs under (x, y)
  void visit(float x, float y, std::span<const float> zs) {
    const float over = depth_under(surface, x, y);
    for (const float z : zs) {
      if (!(z < over - boundary_slack(over))) continue;
      if (count++ == 0) first = {x, y, z, over};
    }
  }
};

void check_receivers_under_surface(const SimulationConfig& config, const DepthGrid& surface,
                                   Findings& findings) {
  const Receivers& r = config.receivers;
  ReceiversAbove above{surface};
  if (r.config_type == "array") {
    const std::size_t n = std::min({r.x_rcvr_m.size(), r.y_rcvr_m.size(), r.z_rcvr_m.size()});
    for (std::size_t i = 0; i < n; ++i) {
      above.visit(r.x_rcvr_m[i], r.y_rcvr_m[i], std::span(&r.z_rcvr_m[i], 1));
    }
  } else if (r.config_type == "polar") {
    // ranges and bearings (deg, 0 along +y, 90 along +x) around the source
    const float sx = config.source.position[0], sy = config.source.position[1];
    for (const float range : r.x_rcvr_m) {
      for (const float bearing : r.y_rcvr_m) {
        const float b = bearing * kRadiansPerDegree;
        above.visit(sx + range * std::sin(b), sy + range * std::cos(b), r.z_rcvr_m);
      }
    }
  } else {
    for (const float x : r.x_rcvr_m) {
      for (const float y : r.y_rcvr_m) above.visit(x, y, r.z_rcvr_m);
    }
  }
  if (above.count == 0) return;
  findings.errors.push_back(
      fill_pattern(kReceiversAboveSurfacePattern,
                   {decimal_text(above.count), format_f32_positional(above.first[0]),
                    format_f32_positional(above.first[1]), format_f32_positional(above.first[2]),
                    format_f32_positional(above.first[3])}));
}

// The nodes of both axes, in order: on each cell between them both bilinear depths are bilinear,
// so their difference takes its extremes at these nodes.
std::vector<float> merged_axis(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> merged(a);
  merged.insert(merged.end(), b.begin(), b.end());
  std::sort(merged.begin(), merged.end());
  merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
  return merged;
}

// The surface may touch the seabed (a shore, the apex of a wedge) but never dip below it.
void check_surface_above_seabed(const Bathymetry& b, const DepthGrid& surface, Findings& findings) {
  const DepthGrid seabed{b.x_bty_m, b.y_bty_m, b.z_bty_m};
  if (!usable(seabed)) return;
  for (const float x : merged_axis(surface.x, seabed.x)) {
    for (const float y : merged_axis(surface.y, seabed.y)) {
      const float top = depth_under(surface, x, y), floor = depth_under(seabed, x, y);
      if (!(top > floor + boundary_slack(floor))) continue;
      findings.errors.push_back(fill_pattern(
          kSurfaceBelowSeabedPattern, {format_f32_positional(x), format_f32_positional(y),
                                       format_f32_positional(top), format_f32_positional(floor)}));
      return;
    }
  }
}

// A shaped surface: a usable grid, with the source and the receivers below it and the seabed
// under it.
void check_surface(const SimulationConfig& config, Findings& findings) {
  if (!config.surface || !config.surface->grid_given) return;
  const SeaSurface& s = *config.surface;
  const std::size_t nx = s.x_ati_m.size(), ny = s.y_ati_m.size();
  std::size_t count = 0;
  const bool fits = checked_multiply(nx, ny, count);
  if (nx == 0 || ny == 0) {
    findings.errors.emplace_back(kSurfaceAxesEmptyMessage);
  } else if (!fits || count != s.z_ati_m.size()) {
    const std::string nodes = fits ? decimal_text(count) : std::string("more than fit in memory");
    findings.errors.push_back(
        fill_pattern(kSurfaceShapePattern, {nodes, decimal_text(s.z_ati_m.size())}));
  }
  add_error_if(!all_finite(s.x_ati_m) || !all_finite(s.y_ati_m) || !all_finite(s.z_ati_m),
               kSurfaceNotFiniteMessage, findings);
  add_error_if(!strictly_increasing(s.x_ati_m), kSurfaceXNotIncreasingMessage, findings);
  add_error_if(!strictly_increasing(s.y_ati_m), kSurfaceYNotIncreasingMessage, findings);
  const DepthGrid surface{s.x_ati_m, s.y_ati_m, s.z_ati_m};
  if (!usable(surface)) return;
  const std::array<float, 3>& source = config.source.position;
  if (std::all_of(source.begin(), source.end(), [](float v) { return std::isfinite(v); })) {
    const float over = depth_under(surface, source[0], source[1]);
    add_error_if(source[2] < over - boundary_slack(over), kSourceAboveSurfaceMessage, findings);
  }
  check_receivers_under_surface(config, surface, findings);
  check_surface_above_seabed(config.bathymetry, surface, findings);
}

bool within(float value, float low, float high) { return value >= low && value <= high; }

// A reflection table's angles, lengths and values; `lead` says where the table stands.
void check_reflection_table(const ReflectionTableConfig& table, std::string_view lead,
                            Findings& findings) {
  const std::vector<float>& angles = table.angle_deg;
  const bool angles_ok = !angles.empty() && all_finite(angles) && strictly_increasing(angles) &&
                         within(angles.front(), 0.0f, 90.0f) && within(angles.back(), 0.0f, 90.0f);
  const std::string where(lead);
  add_error_if_text(!angles_ok, fill_pattern(kTableAnglesPattern, {where}), findings);
  add_error_if_text(
      table.magnitude.size() != angles.size() || table.phase_deg.size() != angles.size(),
      fill_pattern(kTableLengthsPattern, {where}), findings);
  add_error_if_text(!std::all_of(table.magnitude.begin(), table.magnitude.end(),
                                 [](float m) { return std::isfinite(m) && m >= 0.0f; }),
                    fill_pattern(kTableMagnitudesPattern, {where}), findings);
  add_error_if_text(!all_finite(table.phase_deg), fill_pattern(kTablePhasesPattern, {where}),
                    findings);
}

// The pattern's axes and the shape of its levels.
void check_beam_pattern(const BeamPattern& pattern, Findings& findings) {
  const std::size_t n_el = pattern.elev_deg.size();
  const std::size_t n_az = pattern.azim_deg.size();
  add_error_if(n_el == 0 || !all_finite(pattern.elev_deg) || !strictly_increasing(pattern.elev_deg),
               kPatternElevationsMessage, findings);
  add_error_if(!all_finite(pattern.azim_deg) || !strictly_increasing(pattern.azim_deg) ||
                   (n_az > 0 && !(pattern.azim_deg.back() - pattern.azim_deg.front() < 360.0f)),
               kPatternAzimuthsMessage, findings);
  const std::size_t rows = std::max<std::size_t>(n_az, 1);
  const bool shape_ok = pattern.level_db.size() == rows * n_el &&
                        (!pattern.rows || (*pattern.rows == rows && !pattern.uneven_rows));
  add_error_if(!shape_ok, kPatternLevelsShapeMessage, findings);
  add_error_if(!all_finite(pattern.level_db), kPatternLevelsFiniteMessage, findings);
}

// The absorption by name or number, and the water's properties the named formulas read.
void check_water(Water& water, Findings& findings) {
  if (water.absorption_db_per_km) {
    const float loss = *water.absorption_db_per_km;
    if (loss >= 0.0f && std::isfinite(loss)) {
      water.resolved_absorption = AbsorptionKind::Uniform;
    } else {
      findings.errors.push_back(std::string(kAbsorptionMessageLead) + format_f32_positional(loss));
    }
  } else if (water.absorption_text == "none") {
    water.resolved_absorption = AbsorptionKind::None;
  } else if (water.absorption_text == "thorp") {
    water.resolved_absorption = AbsorptionKind::Thorp;
  } else if (water.absorption_text == "francois_garrison") {
    water.resolved_absorption = AbsorptionKind::FrancoisGarrison;
  } else {
    findings.errors.push_back(std::string(kAbsorptionMessageLead) + "\"" + water.absorption_text +
                              "\"");
  }
  add_error_if(!within(water.temperature_c, -10.0f, 50.0f), kWaterTemperatureMessage, findings);
  add_error_if(!within(water.salinity_psu, 0.0f, 100.0f), kWaterSalinityMessage, findings);
  add_error_if(!within(water.ph, 0.0f, 14.0f), kWaterPhMessage, findings);
}

// The optional sections and keys beyond the beam's, checked after everything else.
void check_extensions(SimulationConfig& config, Findings& findings) {
  if (const auto* table =
          std::get_if<BottomBoundaryModel::Table>(&config.bathymetry.bottom_model.alternative)) {
    check_reflection_table(*table, kBottomTableLead, findings);
  }
  if (config.surface && config.surface->reflection) {
    check_reflection_table(*config.surface->reflection, kSurfaceTableLead, findings);
  }
  if (config.source.beam_pattern) check_beam_pattern(*config.source.beam_pattern, findings);
  check_water(config.water, findings);
}

// The beam type, and for complex-Q beams their width rule; a geometric run ignores beam_width.
void check_beam_kind(BeamSettings& beam, Findings& findings) {
  if (beam.beam_type == "geometric") {
    beam.resolved_beam_type = BeamType::Geometric;
    return;
  }
  if (beam.beam_type != "cerveny") {
    findings.errors.push_back(std::string(kBeamTypeMessageLead) + beam.beam_type + "\"");
    return;
  }
  beam.resolved_beam_type = BeamType::Cerveny;
  if (beam.beam_width_m) {
    const float width = *beam.beam_width_m;
    if (width > 0.0f && std::isfinite(width)) {
      beam.resolved_beam_width = BeamWidthRule::HalfWidth;
    } else {
      findings.errors.push_back(std::string(kBeamWidthMessageLead) + format_f32_positional(width));
    }
  } else if (beam.beam_width_text == "min_width") {
    beam.resolved_beam_width = BeamWidthRule::MinWidth;
  } else if (beam.beam_width_text == "space_filling") {
    beam.resolved_beam_width = BeamWidthRule::SpaceFilling;
  } else {
    findings.errors.push_back(std::string(kBeamWidthMessageLead) + "\"" + beam.beam_width_text +
                              "\"");
  }
}

// How the speed between the nodes follows from them.
void check_ssp_interpolation(SoundSpeed& ssp, Findings& findings) {
  if (ssp.interpolation == "nodes") {
    ssp.resolved_interpolation = SspInterpolation::Nodes;
  } else if (ssp.interpolation == "linear") {
    ssp.resolved_interpolation = SspInterpolation::Linear;
  } else if (ssp.interpolation == "pchip") {
    ssp.resolved_interpolation = SspInterpolation::Pchip;
  } else {
    findings.errors.push_back(std::string(kSspInterpolationMessageLead) + ssp.interpolation + "\"");
  }
}

// A length for a message, in the shortest digits that read back to it: 1.5, 1e+38.
std::string length_text(float value) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

// Whether the fan's first two angles, in radians as the fan takes them, are equal: its beams would
// have no width. A fan of one angle takes a default spacing.
bool fan_without_spacing(const std::vector<float>& degrees) {
  return degrees.size() >= 2 &&
         degrees[1] * kRadiansPerDegree - degrees[0] * kRadiansPerDegree == 0.0f;
}

bool azimuth_spacing_out_of_range(const std::vector<float>& degrees) {
  return fan_without_spacing(degrees) ||
         (degrees.size() >= 2 && std::fabs(degrees[1] - degrees[0]) > 360.0f);
}

// A complex-Q beam narrower than two wavelengths is no paraxial beam: it spreads at more than
// 1 / (2 pi) rad, so the fan's beams no longer add up to the point source's field (a tenth of a
// wavelength misses it by 35 dB), and in single precision its curvature runs away. One wider than
// a tenth of the range the rays reach is a plane wave across the receivers, and its intensity
// no longer follows the field's; one whose Rayleigh range pi w^2 / wavelength exceeds ten times
// that range hardly spreads at all, and the fan's collimated beams, summed in single precision at
// phases of millions of radians, no longer cancel. The longest wavelength bounds the width from
// below, the shortest from above, for every frequency of the run. Unchecked where other errors
// already stand in the way.
void check_beam_width_range(const SimulationConfig& config, Findings& findings) {
  const BeamSettings& beam = config.beam;
  if (beam.resolved_beam_type != BeamType::Cerveny ||
      beam.resolved_beam_width != BeamWidthRule::HalfWidth || !beam.beam_width_m) {
    return;
  }
  const std::vector<float>& speeds = config.ssp.c_m_s;
  if (speeds.empty() || !all_finite(speeds) || !all_finite(config.source.freq_hz) ||
      !(beam.max_range_m > 0.0f) || !std::isfinite(beam.max_range_m)) {
    return;
  }
  float lowest = 0.0f;
  float highest = 0.0f;
  for (const float f : config.source.freq_hz) {
    const float magnitude = std::fabs(f);
    if (magnitude > 0.0f && (lowest == 0.0f || magnitude < lowest)) lowest = magnitude;
    highest = std::max(highest, magnitude);
  }
  const float fastest = *std::max_element(speeds.begin(), speeds.end());
  const float slowest = *std::min_element(speeds.begin(), speeds.end());
  const float narrowest =
      lowest > 0.0f ? static_cast<float>(2.0 * double{fastest} / double{lowest}) : 0.0f;
  const double range = double{beam.max_range_m};
  const double spreading = highest > 0.0f
                               ? std::sqrt(10.0 * range * double{slowest} / double{highest} / kPi)
                               : std::numeric_limits<double>::infinity();
  const float widest = static_cast<float>(std::min(0.1 * range, spreading));
  const float width = *beam.beam_width_m;
  if (width >= narrowest && width <= widest) return;
  findings.errors.push_back(fill_pattern(
      kBeamWidthRangePattern, {length_text(width), length_text(narrowest), length_text(widest)}));
}

std::string join_errors(const std::vector<std::string>& errors) {
  std::string text(kInvalidConfigHeader);
  for (const std::string& error : errors) {
    text += kInvalidConfigItemSeparator;
    text += error;
  }
  return text;
}

// The checks every configuration gets, in their fixed order; none stops the others. Negative
// depths are corrected with a warning, unless a shaped surface is given: depths are then measured
// from the same datum as its own, and one above zero lies under a crest.
void check_values(SimulationConfig& config, Findings& findings) {
  const bool corrects_depths = !config.surface || !config.surface->grid_given;
  add_error_if(config.ssp.c_m_s.empty(), kSpeedsEmptyMessage, findings);
  add_error_if(std::any_of(config.ssp.c_m_s.begin(), config.ssp.c_m_s.end(),
                           [](float c) { return c <= 0.0f; }),
               kSpeedsNotPositiveMessage, findings);
  if (corrects_depths) correct_depths(kSspDepthCorrectionLead, config.ssp.z_ssp_m, findings);
  add_error_if(config.bathymetry.z_bty_m.empty(), kBottomDepthsEmptyMessage, findings);
  add_error_if(
      config.bathymetry.water_density_g_cm3 && *config.bathymetry.water_density_g_cm3 <= 0.0f,
      kWaterDensityNotPositiveMessage, findings);
  check_bottom_model(config.bathymetry.bottom_model, findings);
  if (corrects_depths)
    correct_depth(kSourceDepthCorrectionLead, config.source.position[2], findings);
  add_error_if(
      std::any_of(config.source.launch_elev_deg.begin(), config.source.launch_elev_deg.end(),
                  [](float e) { return std::fabs(e) > 90.0f; }),
      kElevationRangeMessage, findings);
  if (config.receivers.config_type != "grid" && config.receivers.config_type != "array" &&
      config.receivers.config_type != "polar") {
    findings.errors.push_back(std::string(kConfigTypeMessageLead) + config.receivers.config_type +
                              "\"");
  }
  if (corrects_depths) {
    correct_depths(kReceiverDepthCorrectionLead, config.receivers.z_rcvr_m, findings);
  }
  add_error_if(config.beam.step_m <= 0.0f, kStepNotPositiveMessage, findings);
  add_error_if(config.beam.max_steps == 0, kMaxStepsZeroMessage, findings);
  add_error_if(config.beam.max_range_m <= 0.0f, kMaxRangeNotPositiveMessage, findings);
}

// The numbers of geometry and media: finite, and their grid axes in order.
void check_geometry(const SimulationConfig& config, Findings& findings) {
  // every number that describes geometry or media must be finite (1e39 reads as infinity)
  add_error_if(!all_finite(config.ssp.x_ssp_m), kSspXNotFiniteMessage, findings);
  add_error_if(!all_finite(config.ssp.y_ssp_m), kSspYNotFiniteMessage, findings);
  add_error_if(!all_finite(config.ssp.z_ssp_m), kSspZNotFiniteMessage, findings);
  add_error_if(!all_finite(config.ssp.c_m_s), kSpeedsNotFiniteMessage, findings);
  add_error_if(!all_finite(config.bathymetry.x_bty_m), kBtyXNotFiniteMessage, findings);
  add_error_if(!all_finite(config.bathymetry.y_bty_m), kBtyYNotFiniteMessage, findings);
  add_error_if(!all_finite(config.bathymetry.z_bty_m), kBottomDepthsNotFiniteMessage, findings);
  add_error_if(!finite_if_present(config.bathymetry.water_density_g_cm3),
               kWaterDensityNotFiniteMessage, findings);
  check_bottom_model_finite(config.bathymetry.bottom_model, findings);
  add_error_if(!std::all_of(config.source.position.begin(), config.source.position.end(),
                            [](float v) { return std::isfinite(v); }),
               kSourcePositionNotFiniteMessage, findings);
  add_error_if(!all_finite(config.receivers.x_rcvr_m), kReceiverXNotFiniteMessage, findings);
  add_error_if(!all_finite(config.receivers.y_rcvr_m), kReceiverYNotFiniteMessage, findings);
  add_error_if(!all_finite(config.receivers.z_rcvr_m), kReceiverZNotFiniteMessage, findings);
  add_error_if(!std::isfinite(config.beam.step_m), kStepNotFiniteMessage, findings);
  add_error_if(!std::isfinite(config.beam.max_range_m), kMaxRangeNotFiniteMessage, findings);

  // grid axes must increase, or cell lookups go wrong silently
  add_error_if(!strictly_increasing(config.ssp.x_ssp_m), kSspXNotIncreasingMessage, findings);
  add_error_if(!strictly_increasing(config.ssp.y_ssp_m), kSspYNotIncreasingMessage, findings);
  add_error_if(!strictly_increasing(config.ssp.z_ssp_m), kSspZNotIncreasingMessage, findings);
  add_error_if(!strictly_increasing(config.bathymetry.x_bty_m), kBtyXNotIncreasingMessage,
               findings);
  add_error_if(!strictly_increasing(config.bathymetry.y_bty_m), kBtyYNotIncreasingMessage,
               findings);

  // a descending receiver grid axis would lose contributions
  if (config.receivers.config_type == "grid") {
    add_error_if(!non_decreasing(config.receivers.x_rcvr_m), kReceiverXDecreasingMessage, findings);
    add_error_if(!non_decreasing(config.receivers.y_rcvr_m), kReceiverYDecreasingMessage, findings);
    add_error_if(!non_decreasing(config.receivers.z_rcvr_m), kReceiverZDecreasingMessage, findings);
  } else if (config.receivers.config_type == "polar") {
    add_error_if(!non_decreasing(config.receivers.x_rcvr_m) ||
                     std::any_of(config.receivers.x_rcvr_m.begin(), config.receivers.x_rcvr_m.end(),
                                 [](float r) { return r < 0.0f; }),
                 kPolarRangesMessage, findings);
    add_error_if(!non_decreasing(config.receivers.y_rcvr_m), kPolarBearingsMessage, findings);
    add_error_if(!non_decreasing(config.receivers.z_rcvr_m), kPolarDepthsMessage, findings);
  }
}

// Numbers that read, but that single precision cannot trace, and settings that need others.
void check_precision(const SimulationConfig& config, Findings& findings) {
  const std::vector<float>& freqs = config.source.freq_hz;
  add_error_if(!all_finite(freqs), kFrequencyNotFiniteMessage, findings);
  add_error_if(
      std::any_of(freqs.begin(), freqs.end(),
                  [](float f) { return std::isfinite(f) && std::fabs(f) > kMaxFrequencyHz; }),
      kFrequencyTooHighMessage, findings);
  add_error_if(!all_finite(config.source.launch_azim_deg), kAzimuthNotFiniteMessage, findings);
  add_error_if(std::any_of(config.ssp.c_m_s.begin(), config.ssp.c_m_s.end(),
                           [](float c) {
                             return c > 0.0f && std::isfinite(c) &&
                                    (c < kMinSoundSpeedMS || c > kMaxSoundSpeedMS);
                           }),
               kSpeedsOutOfRangeMessage, findings);
  add_error_if(config.beam.step_m > config.beam.max_range_m && std::isfinite(config.beam.step_m) &&
                   config.beam.max_range_m > 0.0f,
               kStepBeyondRangeMessage, findings);
  add_error_if(config.beam.max_arrivals < 1 || config.beam.max_arrivals > kMaxArrivalsLimit,
               kMaxArrivalsRangeMessage, findings);
  add_error_if(config.beam.eigenrays && !config.beam.arrivals, kEigenraysNeedArrivalsMessage,
               findings);
  add_error_if(!(config.beam.min_amplitude >= 0.0f && std::isfinite(config.beam.min_amplitude)),
               kMinAmplitudeRangeMessage, findings);
  add_error_if(source_below_seabed(config.bathymetry, config.source.position),
               kSourceBelowSeabedMessage, findings);
  add_error_if(fan_without_spacing(config.source.launch_elev_deg), kElevationSpacingMessage,
               findings);
  add_error_if(all_finite(config.source.launch_azim_deg) &&
                   azimuth_spacing_out_of_range(config.source.launch_azim_deg),
               kAzimuthSpacingMessage, findings);
  check_beam_width_range(config, findings);
}

// The widest spacing (rad) of a complex-Q fan whose beams still meet at max_range_m: the 1/e
// half-width of a beam there over the range, in the slowest water at the highest frequency, where
// beams are narrowest. None for other beams or without a frequency or a speed to work it out from.
std::optional<double> widest_filled_spacing_rad(const SimulationConfig& config, double& width_m) {
  const BeamSettings& beam = config.beam;
  if (beam.resolved_beam_type != BeamType::Cerveny) return std::nullopt;
  double highest_hz = 0.0;
  for (const float f : config.source.freq_hz)
    highest_hz = std::max(highest_hz, std::fabs(double{f}));
  const auto slowest = std::min_element(config.ssp.c_m_s.begin(), config.ssp.c_m_s.end());
  if (!(highest_hz > 0.0) || slowest == config.ssp.c_m_s.end()) return std::nullopt;
  const std::optional<BeamWaist> waist =
      complex_q_waist(beam, 2.0 * kPiDouble * highest_hz / double{*slowest});
  if (!waist) return std::nullopt;
  width_m = waist->half_width_m;
  return width_m / beam.max_range_m;
}

// Rays that bend with the nodes' own gradients follow a speed more than kSspDepartureLimitMS from
// the profile given somewhere in the water (down to the deepest seabed) when its nodes lie far
// apart: a few depths of a cast. Told, not refused: interpolations that follow the profile exist.
constexpr double kSspDepartureLimitMS = 1.0;

void warn_of_node_gradients(const SimulationConfig& config, Findings& findings) {
  if (config.ssp.resolved_interpolation != SspInterpolation::Nodes) return;
  const std::vector<float>& seabed = config.bathymetry.z_bty_m;
  if (seabed.empty()) return;
  const float deepest = *std::max_element(seabed.begin(), seabed.end());
  const ProfileDeparture departure = largest_profile_departure(config.ssp, deepest);
  if (!(departure.speed_m_s > kSspDepartureLimitMS)) return;
  findings.warnings.push_back(fill_pattern(
      kSspNodeGradientsPattern,
      {format_f32_positional(static_cast<float>(std::round(departure.speed_m_s * 10.0) / 10.0)),
       format_f32_positional(static_cast<float>(std::round(departure.depth_m)))}));
}

// Launch angles further apart than complex-Q beams are wide at max_range_m leave gaps between
// them there, which the sum does not close: the beams weigh only the angles they cover, and the
// field is missing between them. Told, not refused.
void warn_of_fan_gaps(const SimulationConfig& config, Findings& findings) {
  double width_m = 0.0;
  const std::optional<double> widest = widest_filled_spacing_rad(config, width_m);
  if (!widest) return;
  double spacing_deg = 0.0;
  for (const std::vector<float>* angles :
       {&config.source.launch_elev_deg, &config.source.launch_azim_deg}) {
    if (angles->size() >= 2) {
      spacing_deg = std::max(spacing_deg, std::fabs(double{(*angles)[1]} - (*angles)[0]));
    }
  }
  const double widest_deg = *widest * kDegreesPerRadian;
  if (!(spacing_deg > widest_deg * (1.0 + 1e-6))) return;
  findings.warnings.push_back(fill_pattern(
      kFanGapsPattern,
      {format_f32_positional(static_cast<float>(spacing_deg)),
       format_f32_positional(config.beam.max_range_m),
       format_f32_positional(static_cast<float>(std::round(width_m))),
       format_f32_positional(static_cast<float>(std::floor(widest_deg * 100.0) / 100.0))}));
}

}  // namespace

std::optional<BeamWaist> complex_q_waist(const BeamSettings& beam, double k) {
  const double range_m = beam.max_range_m;
  if (beam.resolved_beam_width == BeamWidthRule::SpaceFilling || !(k > 0.0) || !(range_m > 0.0)) {
    return std::nullopt;
  }
  if (beam.resolved_beam_width == BeamWidthRule::MinWidth) {
    return BeamWaist{range_m, 2.0 * std::sqrt(range_m / k)};
  }
  const double l0 = beam.beam_width_m.value_or(0.0f);
  const double spread = 2.0 * range_m / (k * l0 * l0);
  return BeamWaist{0.5 * k * l0 * l0, l0 * std::sqrt(1.0 + spread * spread)};
}

ValidationResult SimulationConfig::validate() {
  Findings findings;
  check_values(*this, findings);
  check_geometry(*this, findings);
  check_ssp_interpolation(ssp, findings);
  check_beam_kind(beam, findings);
  check_precision(*this, findings);
  check_surface(*this, findings);
  check_extensions(*this, findings);

  ValidationResult result;
  if (findings.errors.empty()) {
    warn_of_node_gradients(*this, findings);
    warn_of_fan_gaps(*this, findings);
    result.warnings = std::move(findings.warnings);
  } else {
    result.error = join_errors(findings.errors);
  }
  return result;
}

}  // namespace abyx
