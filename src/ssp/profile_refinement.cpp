#include "ssp/profile_refinement.h"

#include <algorithm>
#include <cmath>

namespace abyx {
namespace {

// One column's nodes: depths (m) and speeds (m/s).
struct Column {
  const float* z = nullptr;
  const float* c = nullptr;
  std::size_t n = 0;

  double width(std::size_t k) const { return double{z[k + 1]} - z[k]; }
  double slope(std::size_t k) const { return (double{c[k + 1]} - c[k]) / width(k); }
};

// The slope at an end node from the two cells beside it (h0, s0 the end cell's width and slope),
// kept to the sign of the end cell and to three times its slope where the profile turns, so that
// the cubic does not overshoot there.
double end_slope(double h0, double h1, double s0, double s1) {
  const double d = ((2.0 * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
  if (d * s0 <= 0.0) return 0.0;
  if (s0 * s1 < 0.0 && std::fabs(d) > 3.0 * std::fabs(s0)) return 3.0 * s0;
  return d;
}

// The node slopes of the monotone piecewise cubic through the column: zero where the profile turns
// or levels off, elsewhere the weighted harmonic mean of the slopes of the cells beside the node,
// which keeps every cell's cubic between its nodes' speeds.
std::vector<double> monotone_slopes(const Column& col) {
  std::vector<double> d(col.n, 0.0);
  if (col.n == 2) {
    d[0] = d[1] = col.slope(0);
    return d;
  }
  for (std::size_t k = 1; k + 1 < col.n; ++k) {
    const double s0 = col.slope(k - 1), s1 = col.slope(k);
    if (!(s0 * s1 > 0.0)) continue;
    const double w0 = 2.0 * col.width(k) + col.width(k - 1);
    const double w1 = col.width(k) + 2.0 * col.width(k - 1);
    d[k] = (w0 + w1) / (w0 / s0 + w1 / s1);
  }
  const std::size_t last = col.n - 1;
  d[0] = end_slope(col.width(0), col.width(1), col.slope(0), col.slope(1));
  d[last] =
      end_slope(col.width(last - 1), col.width(last - 2), col.slope(last - 1), col.slope(last - 2));
  return d;
}

// The cubic of cell k at depth z: speed, gradient and curvature.
struct CubicSample {
  double c = 0.0, c_z = 0.0, c_zz = 0.0;
};

CubicSample cubic_at(const Column& col, const std::vector<double>& d, std::size_t k, double z) {
  const double h = col.width(k);
  const double s = z - col.z[k];
  const double a2 = (3.0 * col.slope(k) - 2.0 * d[k] - d[k + 1]) / h;
  const double a3 = (d[k] + d[k + 1] - 2.0 * col.slope(k)) / (h * h);
  return {col.c[k] + s * (d[k] + s * (a2 + s * a3)), d[k] + s * (2.0 * a2 + 3.0 * s * a3),
          2.0 * a2 + 6.0 * s * a3};
}

// Every column of the grid, with its monotone slopes.
struct Columns {
  std::vector<Column> list;
  std::vector<std::vector<double>> slopes;
};

Columns columns_of(const SoundSpeed& in) {
  Columns out;
  const std::size_t nz = in.z_ssp_m.size();
  for (std::size_t first = 0; first + nz <= in.c_m_s.size(); first += nz) {
    out.list.push_back({in.z_ssp_m.data(), in.c_m_s.data() + first, nz});
    if (in.resolved_interpolation == SspInterpolation::Pchip) {
      out.slopes.push_back(monotone_slopes(out.list.back()));
    }
  }
  return out;
}

// Appends depth to the axis when it lies below its last node in single precision.
void append_depth(std::vector<float>& axis, double depth) {
  const float value = static_cast<float>(depth);
  if (axis.empty() || value > axis.back()) axis.push_back(value);
}

// Sub-cells per cell: enough in every column for the straight line between sub-nodes to stay within
// the tolerance of the cubic, whose curvature is linear in a cell and so largest at an end.
std::vector<float> pchip_depths(const std::vector<float>& z, const Columns& cols) {
  std::vector<float> axis;
  for (std::size_t k = 0; k + 1 < z.size(); ++k) {
    double curvature = 0.0;
    for (std::size_t j = 0; j < cols.list.size(); ++j) {
      for (const float end : {z[k], z[k + 1]}) {
        curvature =
            std::max(curvature, std::fabs(cubic_at(cols.list[j], cols.slopes[j], k, end).c_zz));
      }
    }
    const double h = double{z[k + 1]} - z[k];
    const double wanted = std::ceil(h * std::sqrt(curvature / (8.0 * kPchipToleranceMS)));
    const double cells = std::clamp(wanted, 1.0, static_cast<double>(kMostPchipSubcells));
    for (double j = 0.0; j < cells; j += 1.0) append_depth(axis, z[k] + h * j / cells);
  }
  append_depth(axis, z.back());
  return axis;
}

// The half-width of the bend at interior node k of the depths z.
double bend_half_width(const float* z, std::size_t k) {
  const double thinner = std::min(double{z[k]} - z[k - 1], double{z[k + 1]} - z[k]);
  return std::min(kLinearBendM, kLinearBendFraction * thinner);
}

// Each interior node with a sub-node on either side of it, where the slope bends.
std::vector<float> linear_depths(const std::vector<float>& z) {
  std::vector<float> axis{z.front()};
  for (std::size_t k = 1; k + 1 < z.size(); ++k) {
    const double half = bend_half_width(z.data(), k);
    append_depth(axis, z[k] - half);
    append_depth(axis, z[k]);
    append_depth(axis, z[k] + half);
  }
  append_depth(axis, z.back());
  return axis;
}

// The cell of the column that holds depth (its lower node), for depths on the column's span.
std::size_t cell_of(const Column& col, float depth) {
  const std::size_t k =
      static_cast<std::size_t>(std::upper_bound(col.z, col.z + col.n, depth) - col.z);
  return std::min(k == 0 ? 0 : k - 1, col.n - 2);
}

void append_sample(RefinedColumns& out, double c, double c_z, double c_zz) {
  out.c.push_back(static_cast<float>(c));
  out.c_z.push_back(static_cast<float>(c_z));
  out.c_zz.push_back(static_cast<float>(c_zz));
}

// The cubic's values at a sub-node; at a node of the given axis the curvature of the cells on both
// sides, which differ there, meets half way.
void append_pchip_column(const Column& col, const std::vector<double>& d, RefinedColumns& out) {
  for (const float depth : out.z) {
    const std::size_t k = cell_of(col, depth);
    CubicSample s = cubic_at(col, d, k, depth);
    if (depth == col.z[k] && k > 0) s.c_zz = (s.c_zz + cubic_at(col, d, k - 1, depth).c_zz) / 2.0;
    append_sample(out, s.c, s.c_z, s.c_zz);
  }
}

// The straight lines between the nodes, with a bend at each interior node k from the slope g0
// above it to g1 below it, between the sub-nodes lo and hi metres away: its gradient runs from g0
// to the node's value and on to g1, and its curvature, largest at the node, adds up over the bend
// to g1 - g0, with the speed at the node where that gradient carries it from the line above.
void append_linear_column(const Column& col, RefinedColumns& out) {
  const std::vector<float>& axis = out.z;
  for (std::size_t i = 0; i < axis.size(); ++i) {
    const float depth = axis[i];
    const std::size_t k = cell_of(col, depth);
    const double line = col.c[k] + col.slope(k) * (double{depth} - col.z[k]);
    // a bend whose sub-nodes single precision could not place apart from the node has none
    const bool inside = depth == col.z[k] && k > 0 && i > 0 && i + 1 < axis.size();
    const double lo = inside ? double{depth} - axis[i - 1] : 0.0;
    const double hi = inside ? double{axis[i + 1]} - depth : 0.0;
    const double reach = inside ? 1.5 * bend_half_width(col.z, k) : 0.0;
    if (!(lo <= reach && hi <= reach && lo > 0.0 && hi > 0.0)) {
      append_sample(out, line, col.slope(k), 0.0);
      continue;
    }
    const double g0 = col.slope(k - 1), g1 = col.slope(k);
    const double g = (hi * g0 + lo * g1) / (lo + hi);
    append_sample(out, line + lo * (g - g0) / 2.0, g, 2.0 * (g1 - g0) / (lo + hi));
  }
}

}  // namespace

std::vector<float> refined_depths(const SoundSpeed& in) {
  if (in.z_ssp_m.size() < 2) return in.z_ssp_m;
  switch (in.resolved_interpolation) {
    case SspInterpolation::Pchip:
      return pchip_depths(in.z_ssp_m, columns_of(in));
    case SspInterpolation::Linear:
      return linear_depths(in.z_ssp_m);
    case SspInterpolation::Nodes:
      break;
  }
  return in.z_ssp_m;
}

RefinedColumns refine_columns(const SoundSpeed& in) {
  const Columns cols = columns_of(in);
  RefinedColumns out;
  out.z = in.resolved_interpolation == SspInterpolation::Pchip ? pchip_depths(in.z_ssp_m, cols)
                                                               : refined_depths(in);
  const std::size_t count = cols.list.size() * out.z.size();
  out.c.reserve(count);
  out.c_z.reserve(count);
  out.c_zz.reserve(count);
  for (std::size_t j = 0; j < cols.list.size(); ++j) {
    if (in.resolved_interpolation == SspInterpolation::Pchip) {
      append_pchip_column(cols.list[j], cols.slopes[j], out);
    } else {
      append_linear_column(cols.list[j], out);
    }
  }
  return out;
}

}  // namespace abyx
