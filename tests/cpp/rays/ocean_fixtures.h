#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "bty/bty_field.h"
#include "common/vec3.h"
#include "input/simulation_config.h"
#include "model/model.h"
#include "rays/trace_ray.h"
#include "ssp/ssp_cursor.h"
#include "ssp/ssp_fields.h"

namespace abyx::testing {

// n equally spaced values from first to last.
inline std::vector<float> linspace(float first, float last, std::size_t n) {
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) {
    values[i] = first + (last - first) * static_cast<float>(i) / static_cast<float>(n - 1);
  }
  return values;
}

// A sound-speed grid whose ten node grids are sampled from a closed form (c and its exact
// derivatives), so the ray tests do not depend on how derivatives are estimated from nodes.
inline SSPFields make_ssp(std::vector<float> x, std::vector<float> y, std::vector<float> z,
                          const std::function<SSPSample(float, float, float)>& field) {
  SSPFields ssp;
  ssp.x = std::move(x);
  ssp.y = std::move(y);
  ssp.z = std::move(z);
  ssp.nodes.assign(ssp.x.size() * ssp.y.size() * ssp.z.size() * kSspNodeStride, 0.0f);
  for (std::size_t ix = 0; ix < ssp.x.size(); ++ix) {
    for (std::size_t iy = 0; iy < ssp.y.size(); ++iy) {
      for (std::size_t iz = 0; iz < ssp.z.size(); ++iz) {
        const SSPSample s = field(ssp.x[ix], ssp.y[iy], ssp.z[iz]);
        const float values[] = {s.c,    s.c_x,  s.c_y,  s.c_z,  s.c_xx,
                                s.c_yy, s.c_zz, s.c_xy, s.c_xz, s.c_yz};
        float* stored = ssp.node(ix, iy, iz);
        for (std::size_t g = 0; g < 10; ++g) stored[g] = values[g];
      }
    }
  }
  mark_uniform_cells(ssp);
  return ssp;
}

// A bathymetry sampled from a closed form depth(x, y) on the given axes; rigid bottom.
inline BTYfield make_bty(std::vector<float> x, std::vector<float> y,
                         const std::function<float(float, float)>& depth) {
  BTYfield bty;
  bty.grid.x = std::move(x);
  bty.grid.y = std::move(y);
  bty.grid.depth.resize(bty.grid.x.size() * bty.grid.y.size());
  for (std::size_t ix = 0; ix < bty.grid.x.size(); ++ix) {
    for (std::size_t iy = 0; iy < bty.grid.y.size(); ++iy) {
      bty.grid.depth[bty.grid.index(ix, iy)] = depth(bty.grid.x[ix], bty.grid.y[iy]);
    }
  }
  measure_height_bounds(bty.grid);
  return bty;
}

// What the tracer reads of a model: the source, the beam settings and the ocean.
inline Model tracer_model(Vec3 source, const BeamSettings& beam, const SSPFields& ssp,
                          const BTYfield& bty) {
  Model model;
  model.source = source;
  model.beam = beam;
  model.ssp = ssp;
  model.bty = bty;
  return model;
}

// One ray traced from `source` with these step settings.
inline std::vector<RayState> trace(Vec3 source, float step_m, std::uint64_t max_steps,
                                   float max_range_m, IntegrationMethod method,
                                   const SSPFields& ssp, const BTYfield& bty, float azimuth_rad,
                                   float elevation_rad) {
  const BeamSettings beam{.step_m = step_m,
                          .max_steps = max_steps,
                          .max_range_m = max_range_m,
                          .integration_method = method};
  RayTrace trace;
  trace_ray({azimuth_rad, elevation_rad}, tracer_model(source, beam, ssp, bty), trace);
  return trace.states;
}

}  // namespace abyx::testing
