// The tracing loop against a plain restatement of it: the same formulas written one scalar
// operation after the other, with every cursor walk, evaluation and test where the description of
// the loop makes it. The library inlines this, runs independent operations in vector lanes and
// skips the walks that cannot move a cursor; none of that may change a single bit of any state.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "bty/bty_cursor.h"
#include "rays/ocean_fixtures.h"
#include "rays/trace_ray.h"

namespace abyx {
namespace {

using testing::linspace;
using testing::make_bty;
using testing::make_ssp;
using testing::make_trace_config;

constexpr float kDeg = 0.017453292f;  // rad per degree

namespace reference {

std::size_t search(const std::vector<float>& a, float p) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k] <= p) i = k;
  }
  const std::size_t last = a.size() >= 2 ? a.size() - 2 : 0;
  return i < last ? i : last;
}

std::size_t walk(const std::vector<float>& a, float p, std::size_t i) {
  const std::size_t n = a.size();
  if (n < 2) return 0;
  if (p <= a[0]) return 0;
  if (p >= a[n - 1]) return n - 2;
  if (i > n - 2) i = n - 2;
  while (i < n - 2 && p > a[i + 1]) i = i + 1;
  while (i > 0 && p < a[i]) i = i - 1;
  return i;
}

float clamped_t(const std::vector<float>& a, float p, std::size_t i) {
  if (a.size() < 2) return 0.0f;
  float t = (p - a[i]) / (a[i + 1] - a[i]);
  if (t < 0.0f) t = 0.0f;
  if (t > 1.0f) t = 1.0f;
  return t;
}

// The trilinear value of one grid at pos in the cursor's cell.
float trilinear(const Grid3& g, const SSPFields& ssp, Vec3 pos, const SSPCursor& cur) {
  const float tx = clamped_t(ssp.x, pos.x, cur.ix);
  const float ty = clamped_t(ssp.y, pos.y, cur.iy);
  const float tz = clamped_t(ssp.z, pos.z, cur.iz);
  const float wx[2] = {1.0f - tx, tx};
  const float wy[2] = {1.0f - ty, ty};
  const float wz[2] = {1.0f - tz, tz};
  float sum = 0.0f;
  for (std::size_t a = 0; a < 2; ++a) {
    for (std::size_t b = 0; b < 2; ++b) {
      for (std::size_t e = 0; e < 2; ++e) {
        sum += ((wx[a] * wy[b]) * wz[e]) * g.at(cur.ix + a, cur.iy + b, cur.iz + e);
      }
    }
  }
  return sum;
}

void walk_ssp(Vec3 pos, const SSPFields& ssp, SSPCursor& cur) {
  cur.ix = walk(ssp.x, pos.x, cur.ix);
  cur.iy = walk(ssp.y, pos.y, cur.iy);
  cur.iz = walk(ssp.z, pos.z, cur.iz);
}

SSPSample sample(Vec3 pos, const SSPFields& ssp, SSPCursor& cur) {
  walk_ssp(pos, ssp, cur);
  return {trilinear(ssp.c, ssp, pos, cur),    trilinear(ssp.c_x, ssp, pos, cur),
          trilinear(ssp.c_y, ssp, pos, cur),  trilinear(ssp.c_z, ssp, pos, cur),
          trilinear(ssp.c_xx, ssp, pos, cur), trilinear(ssp.c_yy, ssp, pos, cur),
          trilinear(ssp.c_zz, ssp, pos, cur), trilinear(ssp.c_xy, ssp, pos, cur),
          trilinear(ssp.c_xz, ssp, pos, cur), trilinear(ssp.c_yz, ssp, pos, cur)};
}

// e1, e2; a vertical state takes +y as its horizontal reference.
RayBasis basis(Vec3 p, float c, float phi) {
  float rl = std::sqrt(p.x * p.x + p.y * p.y);
  const float p_h = std::sqrt(p.x * p.x + p.y * p.y);
  float hx = p.x;
  float hy = p.y;
  if (!(rl > 0.0f)) {
    rl = 1.0f;
    hx = 0.0f;
    hy = 1.0f;
  }
  if (phi == 0.0f) {
    return {{c * hx * p.z / rl, c * hy * p.z / rl, -c * p_h}, {-hy / rl, hx / rl, 0.0f}};
  }
  const float s = std::sin(phi);
  const float k = std::cos(phi);
  return {{(c * hx * p.z * k + hy * s) / rl, (c * hy * p.z * k - hx * s) / rl, -c * p_h * k},
          {(c * hx * p.z * s - hy * k) / rl, (c * hy * p.z * s + hx * k) / rl, -c * p_h * s}};
}

RayDerivatives derivatives(const RayState& st, const SSPFields& ssp, SSPCursor& cur) {
  const SSPSample s = sample(st.pos, ssp, cur);
  const float c = s.c;
  const float c2 = c * c;
  const float xi = st.slowness.x, eta = st.slowness.y, zeta = st.slowness.z;
  RayDerivatives k;
  k.c = c;
  k.dpos = {c * xi, c * eta, c * zeta};
  k.dslowness = {-s.c_x / c2, -s.c_y / c2, -s.c_z / c2};
  const float rr = xi * xi + eta * eta;
  k.dphi = rr > 1e-12f ? (1.0f / c) * zeta * (eta * s.c_x - xi * s.c_y) / rr : 0.0f;
  const RayBasis b = basis(st.slowness, c, st.phi);
  const float h1[3] = {s.c_xx * b.e1.x + s.c_xy * b.e1.y + s.c_xz * b.e1.z,
                       s.c_xy * b.e1.x + s.c_yy * b.e1.y + s.c_yz * b.e1.z,
                       s.c_xz * b.e1.x + s.c_yz * b.e1.y + s.c_zz * b.e1.z};
  const float h2[3] = {s.c_xx * b.e2.x + s.c_xy * b.e2.y + s.c_xz * b.e2.z,
                       s.c_xy * b.e2.x + s.c_yy * b.e2.y + s.c_yz * b.e2.z,
                       s.c_xz * b.e2.x + s.c_yz * b.e2.y + s.c_zz * b.e2.z};
  const float c11 = b.e1.x * h1[0] + b.e1.y * h1[1] + b.e1.z * h1[2];
  const float c12 = b.e1.x * h2[0] + b.e1.y * h2[1] + b.e1.z * h2[2];
  const float c22 = b.e2.x * h2[0] + b.e2.y * h2[1] + b.e2.z * h2[2];
  const float a11 = -c11 / c2, a12 = -c12 / c2, a22 = -c22 / c2;
  k.dp1 = {a11 * st.q1.x + a12 * st.q1.y, a12 * st.q1.x + a22 * st.q1.y};
  k.dp2 = {a11 * st.q2.x + a12 * st.q2.y, a12 * st.q2.x + a22 * st.q2.y};
  k.dq1 = {c * st.p1.x, c * st.p1.y};
  k.dq2 = {c * st.p2.x, c * st.p2.y};
  return k;
}

RayState advance(const RayState& st, const RayDerivatives& k, float h) {
  RayState n = st;
  n.bottom_hit.reset();
  n.pos = {st.pos.x + h * k.dpos.x, st.pos.y + h * k.dpos.y, st.pos.z + h * k.dpos.z};
  n.slowness = {st.slowness.x + h * k.dslowness.x, st.slowness.y + h * k.dslowness.y,
                st.slowness.z + h * k.dslowness.z};
  n.phi = st.phi + h * k.dphi;
  n.tau = st.tau + h / k.c;
  n.p1 = {st.p1.x + h * k.dp1.x, st.p1.y + h * k.dp1.y};
  n.q1 = {st.q1.x + h * k.dq1.x, st.q1.y + h * k.dq1.y};
  n.p2 = {st.p2.x + h * k.dp2.x, st.p2.y + h * k.dp2.y};
  n.q2 = {st.q2.x + h * k.dq2.x, st.q2.y + h * k.dq2.y};
  n.c = k.c;
  return n;
}

void walk_bty(Vec3 pos, const BTYfield& bty, BTYCursor& cur) {
  cur.ix = walk(bty.x, pos.x, cur.ix);
  cur.iy = walk(bty.y, pos.y, cur.iy);
}

// Depth and unit normal in the cursor's cell; a single-node axis is a constant depth along it.
struct Bottom {
  float depth;
  Vec3 normal;
};

Bottom bottom(Vec3 pos, const BTYfield& bty, const BTYCursor& cur) {
  const bool sx = bty.x.size() >= 2, sy = bty.y.size() >= 2;
  const std::size_t i0 = cur.ix, i1 = sx ? cur.ix + 1 : cur.ix;
  const std::size_t j0 = cur.iy, j1 = sy ? cur.iy + 1 : cur.iy;
  const float dx = sx ? bty.x[i1] - bty.x[i0] : 1.0f;
  const float dy = sy ? bty.y[j1] - bty.y[j0] : 1.0f;
  const float tx = clamped_t(bty.x, pos.x, i0);
  const float ty = clamped_t(bty.y, pos.y, j0);
  const float z00 = bty.depth[bty.index(i0, j0)], z01 = bty.depth[bty.index(i0, j1)];
  const float z10 = bty.depth[bty.index(i1, j0)], z11 = bty.depth[bty.index(i1, j1)];
  float depth = 0.0f;
  depth += ((1.0f - tx) * (1.0f - ty)) * z00;
  depth += (ty * (1.0f - tx)) * z01;
  depth += (tx * (1.0f - ty)) * z10;
  depth += (tx * ty) * z11;
  const float gx = sx ? (1.0f - ty) * (z10 - z00) / dx + ty * (z11 - z01) / dx : 0.0f;
  const float gy = sy ? (1.0f - tx) * (z01 - z00) / dy + tx * (z11 - z10) / dy : 0.0f;
  const float n = std::sqrt(gx * gx + gy * gy + 1.0f);
  return {depth, {-gx / n, -gy / n, 1.0f / n}};
}

// Candidates one after the other, each replacing s when shorter and above its floor.
float step(Vec3 pos, Vec3 d, const SSPFields& ssp, const SSPCursor& sc, const BTYfield& bty,
           BTYCursor& bc, float h) {
  float s = h;
  const auto keep = [&s](float t, float floor) {
    if (t < s && t > floor) s = t;
  };
  const std::vector<float>* axes[3] = {&ssp.x, &ssp.y, &ssp.z};
  const std::size_t cells[3] = {sc.ix, sc.iy, sc.iz};
  const float p[3] = {pos.x, pos.y, pos.z};
  const float dir[3] = {d.x, d.y, d.z};
  for (int k = 0; k < 3; ++k) {
    if (!(std::abs(dir[k]) > 1e-9f)) continue;
    const float plane = dir[k] > 0.0f ? (*axes[k])[cells[k] + 1] : (*axes[k])[cells[k]];
    keep((plane - p[k]) / dir[k], 1e-9f);
  }
  const std::vector<float>* lines[2] = {&bty.x, &bty.y};
  const std::size_t line_cells[2] = {bc.ix, bc.iy};
  for (int k = 0; k < 2; ++k) {
    const std::vector<float>& a = *lines[k];
    if (!(std::abs(dir[k]) > 1e-9f) || line_cells[k] + 1 >= a.size()) continue;
    const float line = dir[k] > 0.0f ? a[line_cells[k] + 1] : a[line_cells[k]];
    keep((line - p[k]) / dir[k], 1e-9f);
  }
  if (d.z < -1e-8f) keep((0.0f - pos.z) / d.z, 1e-8f);
  walk_bty(pos, bty, bc);
  const Bottom b = bottom(pos, bty, bc);
  const float den = d.x * b.normal.x + d.y * b.normal.y + d.z * b.normal.z;
  if (std::abs(den) > 1e-8f) keep((b.depth - pos.z) * b.normal.z / den, 1e-8f);
  return s < h * 1e-6f ? h * 1e-6f : s;
}

Vec3 cross3(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float dot3(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

void frame(RayState& st, Vec3 p, Vec3 n) {
  st.det_q = st.q1.x * st.q2.y - st.q2.x * st.q1.y;
  const Vec3 t{st.c * p.x, st.c * p.y, st.c * p.z};
  Vec3 u = cross3(n, t);
  const float uu = dot3(u, u);
  if (!(uu >= std::numeric_limits<float>::min())) return;
  const float len = std::sqrt(uu);
  u = {u.x / len, u.y / len, u.z / len};
  const Vec3 w = cross3(t, u);
  const RayBasis b = basis(p, st.c, st.phi);
  const float a = -dot3(b.e1, w), bb = -dot3(b.e2, w), d = dot3(b.e2, u);
  const Vec2 p1 = st.p1, p2 = st.p2;
  const Vec2 f1{a * p1.x + bb * p2.x, a * p1.y + bb * p2.y};
  const Vec2 f2{d * p2.x - bb * p1.x, d * p2.y - bb * p1.y};
  st.p1 = {a * f1.x - bb * f2.x, a * f1.y - bb * f2.y};
  st.p2 = {bb * f1.x + d * f2.x, bb * f1.y + d * f2.y};
  const float angle = std::acos(std::fmin(std::fmax(a, -1.0f), 1.0f));
  st.phi = (st.phi + angle) + angle;
}

void reflect(RayState& st, const BTYfield& bty, BTYCursor& bc) {
  st.bottom_hit.reset();
  const Vec3 p = st.slowness;
  if (st.pos.z <= 0.0f && p.z < 0.0f) {
    const float s = -st.pos.z / p.z;
    st.pos.x = st.pos.x + p.x * s;
    st.pos.y = st.pos.y + p.y * s;
    st.pos.z = 1e-9f;
    st.slowness.z = -p.z;
    st.n_surface += 1;
    st.phase += 3.1415927f;
    frame(st, p, {0.0f, 0.0f, -1.0f});
    return;
  }
  walk_bty(st.pos, bty, bc);
  const Bottom b = bottom(st.pos, bty, bc);
  const Vec3 n = b.normal;
  if (!(st.pos.z >= b.depth)) return;
  const float pn = dot3(p, n);
  if (!(pn > 0.0f)) return;
  if (pn > 1e-12f) {
    const float s = n.z * (b.depth - st.pos.z) / pn;
    st.pos = {st.pos.x + s * p.x, st.pos.y + s * p.y, st.pos.z + s * p.z};
  } else {
    st.pos.z = b.depth;
  }
  st.pos = {st.pos.x - 1e-9f * n.x, st.pos.y - 1e-9f * n.y, st.pos.z - 1e-9f * n.z};
  st.slowness = {p.x - (2.0f * pn) * n.x, p.y - (2.0f * pn) * n.y, p.z - (2.0f * pn) * n.z};
  st.n_bottom += 1;
  st.bottom_hit = BottomHit{n, p, st.c};
  frame(st, p, n);
}

std::vector<RayState> trace(const SimulationConfig& config, const SSPFields& ssp,
                            const BTYfield& bty, float az, float el) {
  const BeamSettings& beam = config.beam;
  const Vec3 src{config.source.position[0], config.source.position[1], config.source.position[2]};
  SSPCursor sc{search(ssp.x, src.x), search(ssp.y, src.y), search(ssp.z, src.z)};
  walk_ssp(src, ssp, sc);
  const float c0 = trilinear(ssp.c, ssp, src, sc);
  BTYCursor bc{search(bty.x, src.x), search(bty.y, src.y)};
  std::vector<RayState> states(1);
  RayState& launch = states[0];
  launch.pos = src;
  launch.slowness = {std::sin(az) * std::cos(el) / c0, std::cos(az) * std::cos(el) / c0,
                     std::sin(el) / c0};
  launch.c = c0;
  for (std::uint64_t i = 0; i != beam.max_steps; ++i) {
    const RayState last = states.back();
    const RayDerivatives k = derivatives(last, ssp, sc);
    const float h = step(last.pos, k.dpos, ssp, sc, bty, bc, beam.step_m);
    RayState next;
    if (beam.integration_method == IntegrationMethod::Rk2) {
      const RayState mid = advance(last, k, h / 2.0f);
      SSPCursor mid_cursor = sc;
      walk_ssp(mid.pos, ssp, mid_cursor);
      next = advance(last, derivatives(mid, ssp, mid_cursor), h);
    } else {
      next = advance(last, k, h);
    }
    states.push_back(next);
    RayState& cur = states.back();
    walk_ssp(cur.pos, ssp, sc);
    walk_bty(cur.pos, bty, bc);
    reflect(cur, bty, bc);
    const float dx = cur.pos.x - src.x, dy = cur.pos.y - src.y;
    if (!(dx * dx + dy * dy < beam.max_range_m * beam.max_range_m)) break;
  }
  return states;
}

}  // namespace reference

// The bits of every field of a state, named, so that a mismatch says where it is.
struct Field {
  const char* name;
  std::uint32_t bits;
};

std::vector<Field> fields(const RayState& s) {
  const auto b = [](float v) { return std::bit_cast<std::uint32_t>(v); };
  std::vector<Field> out = {
      {"pos.x", b(s.pos.x)},
      {"pos.y", b(s.pos.y)},
      {"pos.z", b(s.pos.z)},
      {"xi", b(s.slowness.x)},
      {"eta", b(s.slowness.y)},
      {"zeta", b(s.slowness.z)},
      {"phi", b(s.phi)},
      {"tau", b(s.tau)},
      {"amp", b(s.amp)},
      {"phase", b(s.phase)},
      {"n_surface", s.n_surface},
      {"n_bottom", s.n_bottom},
      {"p1.x", b(s.p1.x)},
      {"p1.y", b(s.p1.y)},
      {"q1.x", b(s.q1.x)},
      {"q1.y", b(s.q1.y)},
      {"p2.x", b(s.p2.x)},
      {"p2.y", b(s.p2.y)},
      {"q2.x", b(s.q2.x)},
      {"q2.y", b(s.q2.y)},
      {"det_q", b(s.det_q)},
      {"c", b(s.c)},
      {"hit", s.bottom_hit ? 1u : 0u},
  };
  if (s.bottom_hit) {
    const BottomHit& h = *s.bottom_hit;
    out.insert(out.end(), {{"hit.normal.x", b(h.normal.x)},
                           {"hit.normal.y", b(h.normal.y)},
                           {"hit.normal.z", b(h.normal.z)},
                           {"hit.slowness.x", b(h.slowness_in.x)},
                           {"hit.slowness.y", b(h.slowness_in.y)},
                           {"hit.slowness.z", b(h.slowness_in.z)},
                           {"hit.c", b(h.c)}});
  }
  return out;
}

// A sloping, rolling ocean on non-uniform grids: sound speed and its exact derivatives from a
// closed form, a bottom with ridges across a slope. The fan below meets the surface, the bottom,
// every kind of grid plane and the grid edges (the range reaches beyond the grids).
SSPSample rolling_speed(float x, float y, float z) {
  const float a = 8.0f, lx = 1500.0f, ly = 2000.0f, g = 0.02f, b = 12.0f, lz = 300.0f;
  const float sx = std::sin(x / lx), cx = std::cos(x / lx);
  const float sy = std::sin(y / ly), cy = std::cos(y / ly);
  const float ez = std::exp(-z / lz);
  SSPSample s;
  s.c = 1500.0f + g * z + a * sx * cy + b * ez;
  s.c_x = a * cx * cy / lx;
  s.c_y = -a * sx * sy / ly;
  s.c_z = g - b * ez / lz;
  s.c_xx = -a * sx * cy / (lx * lx);
  s.c_yy = -a * sx * cy / (ly * ly);
  s.c_zz = b * ez / (lz * lz);
  s.c_xy = -a * cx * sy / (lx * ly);
  return s;
}

float rolling_depth(float x, float y) {
  return 1200.0f + 0.1f * x - 0.05f * y + 80.0f * std::sin(x / 700.0f) * std::cos(y / 900.0f);
}

struct Ocean {
  std::string name;
  SSPFields ssp;
  BTYfield bty;
  Vec3 source;
};

Ocean rolling_ocean() {
  return {
      "Rolling",
      make_ssp({-4000, -2500, -1000, 0, 1500, 4000}, {-4000, -1200, 0, 900, 2600, 4000},
               {0, 40, 150, 300, 600, 1000, 1500, 2500}, rolling_speed),
      make_bty(linspace(-4000, 4000, 17), {-4000, -2000, -500, 0, 700, 2500, 4000}, rolling_depth),
      {100.0f, -200.0f, 300.0f}};
}

// The same ocean read from the ten separate grids instead of the interleaved nodes.
Ocean unpacked_ocean() {
  Ocean ocean = rolling_ocean();
  ocean.name = "TenGrids";
  ocean.ssp.nodes.clear();
  return ocean;
}

// Derivatives by finite differences from a sampled sound speed, over a bottom with a single node
// along y (a constant depth across y), the source on the surface.
Ocean sampled_ocean() {
  SimulationConfig config;
  config.ssp.x_ssp_m = linspace(-3000, 3000, 7);
  config.ssp.y_ssp_m = linspace(-3000, 3000, 5);
  config.ssp.z_ssp_m = linspace(0, 1600, 17);
  for (float x : config.ssp.x_ssp_m) {
    for (float y : config.ssp.y_ssp_m) {
      for (float z : config.ssp.z_ssp_m) {
        const float eta = 2.0f * (z - 600.0f) / 600.0f;
        config.ssp.c_m_s.push_back(1500.0f * (1.0f + 0.0074f * (eta - 1.0f + std::exp(-eta))) +
                                   0.0005f * x - 0.0003f * y);
      }
    }
  }
  BTYfield bty = make_bty(linspace(-3000, 3000, 13), {0.0f},
                          [](float x, float) { return 1400.0f - 0.04f * x; });
  return {"FiniteDifferences", init_ssp(config), bty, {-50.0f, 30.0f, 0.0f}};
}

// A flat bottom lying exactly on a sound-speed plane, so that a step which ends a rounding error
// beyond the bottom and is moved back onto it changes its sound-speed cell.
Ocean plane_bottom_ocean() {
  return {"BottomOnAPlane",
          make_ssp(linspace(-5000, 5000, 6), linspace(-5000, 5000, 6), linspace(0, 1500, 16),
                   [](float x, float y, float z) {
                     SSPSample s;
                     s.c = 1500.0f + 0.05f * z + 0.002f * x - 0.001f * y;
                     s.c_x = 0.002f;
                     s.c_y = -0.001f;
                     s.c_z = 0.05f;
                     return s;
                   }),
          make_bty(linspace(-5000, 5000, 3), linspace(-5000, 5000, 3),
                   [](float, float) { return 1000.0f; }),
          {0.0f, 0.0f, 500.0f}};
}

struct ReferenceCase {
  Ocean (*ocean)();
  IntegrationMethod method;
};

std::string case_name(const ::testing::TestParamInfo<ReferenceCase>& info) {
  return info.param.ocean().name +
         (info.param.method == IntegrationMethod::Rk2 ? std::string("Rk2") : std::string("Euler"));
}

class TraceRayReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(TraceRayReference, EveryStateHasTheBitsOfThePlainRestatement) {
  const Ocean ocean = GetParam().ocean();
  const SimulationConfig config =
      make_trace_config(ocean.source, 20.0f, 700, 6000.0f, GetParam().method);
  std::size_t reflections = 0;
  for (int a = 0; a < 12; ++a) {
    for (int e = 0; e <= 12; ++e) {
      const float az = (30.0f * static_cast<float>(a) + 7.0f) * kDeg;
      const float el = (-60.0f + 10.0f * static_cast<float>(e)) * kDeg;
      const std::vector<RayState> got = trace_ray(config, ocean.ssp, ocean.bty, az, el);
      const std::vector<RayState> want = reference::trace(config, ocean.ssp, ocean.bty, az, el);
      ASSERT_EQ(got.size(), want.size()) << "azimuth " << a << ", elevation " << e;
      for (std::size_t i = 0; i < got.size(); ++i) {
        const std::vector<Field> g = fields(got[i]);
        const std::vector<Field> w = fields(want[i]);
        ASSERT_EQ(g.size(), w.size()) << "state " << i;
        for (std::size_t f = 0; f < g.size(); ++f) {
          ASSERT_EQ(g[f].bits, w[f].bits)
              << w[f].name << " of state " << i << " (azimuth " << a << ", elevation " << e << ")";
        }
      }
      reflections += got.back().n_surface + got.back().n_bottom;
    }
  }
  EXPECT_GT(reflections, 100u);  // the fan exercised the boundaries, not only the water
}

INSTANTIATE_TEST_SUITE_P(
    Oceans, TraceRayReference,
    ::testing::Values(ReferenceCase{rolling_ocean, IntegrationMethod::Euler},
                      ReferenceCase{rolling_ocean, IntegrationMethod::Rk2},
                      ReferenceCase{unpacked_ocean, IntegrationMethod::Euler},
                      ReferenceCase{unpacked_ocean, IntegrationMethod::Rk2},
                      ReferenceCase{sampled_ocean, IntegrationMethod::Euler},
                      ReferenceCase{sampled_ocean, IntegrationMethod::Rk2},
                      ReferenceCase{plane_bottom_ocean, IntegrationMethod::Euler},
                      ReferenceCase{plane_bottom_ocean, IntegrationMethod::Rk2}),
    case_name);

}  // namespace
}  // namespace abyx
