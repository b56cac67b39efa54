#include "influence/gaussian_beam_influence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/fault.h"
#include "common/float4.h"
#include "influence/receiver_index.h"
#include "influence/segment_reach.h"
#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;          // phase added at each caustic (rad)
constexpr float kWidthFactor = 4.0f;           // search width per largest Q column norm
constexpr float kMinSegmentLengthSq = 1e-12f;  // shorter segments are skipped (m^2)
constexpr float kMinSegmentLength = 1e-4f;     // segments not longer are skipped (m)
constexpr float kRadiusMargin = 1e-6f;         // added to the search radius (m)
constexpr float kMinAbsDetQ = 1e-12f;          // smaller |det Q| skips the receiver
constexpr float kSolveThreshold = 1e-12f;      // on |Q22| and |Q11| for the normal solve
constexpr float kGaussianCutoff = 4.0f;        // largest |gamma1| + |gamma2|

// Everything the receiver step reads about one segment, from A = state i-1 to B = state i.
struct BeamSegment {
  Vec3 start;         // A.pos (m)
  Vec3 d;             // B.pos - A.pos (m)
  float length_sq;    // |d|^2 (m^2)
  float radius;       // search radius R (m)
  float radius_sq;    // R^2 (m^2)
  Vec2 q1_start;      // scaled first column of Q at A
  Vec2 q1_change;     // B.q1 - A.q1
  Vec2 q2_start;      // scaled second column of Q at A
  Vec2 q2_change;     // B.q2 - A.q2
  float det_q_start;  // det Q of A (only its sign is used)
  float phase_start;  // boundary phase of A plus the caustic phase up to A (rad)
  float tau_start;    // travel time of A (s)
  float tau_change;   // B.tau - A.tau (s)
  float amp_end;      // scaled amplitude factor of B
  Vec3 e1;            // basis of B
  Vec3 e2;            // basis of B
};

// Where contributions go: the field's arrays and the per-frequency factors of this ray.
struct FieldSink {
  Complex32* pressure;    // pressure[k * stride + cell]
  std::size_t stride;     // receivers per frequency
  float* delay;           // earliest arrival per cell (s)
  float* amplitude;       // amplitude of that arrival per cell
  const float* omegas;    // angular frequencies (rad/s)
  const Complex32* refl;  // running product of bottom reflection coefficients per frequency
  std::size_t nf;         // number of frequencies
};

// The contribution of one segment to the receiver at x, stored in `cell`; false when the receiver
// lies outside the segment, its radius or the Gaussian cut-off, or Q is near-singular there.
inline bool add_receiver_contribution(const BeamSegment& seg, Vec3 x, std::size_t cell,
                                      const FieldSink& sink) {
  const float t = dot(x - seg.start, seg.d) / seg.length_sq;
  if (!(t >= 0.0f && t <= 1.0f)) {
    return false;
  }
  const Vec3 delta = x - (seg.start + t * seg.d);
  if (dot(delta, delta) > seg.radius_sq) {
    return false;
  }
  const Vec2 q1 = seg.q1_start + t * seg.q1_change;  // (Q11, Q21)
  const Vec2 q2 = seg.q2_start + t * seg.q2_change;  // (Q12, Q22)
  const float det = q1.x * q2.y - q1.y * q2.x;
  const float abs_det = std::fabs(det);
  // a beam whose matrices overflowed has no usable determinant: it must not write NaN into the
  // field
  if (!(abs_det >= kMinAbsDetQ) || !std::isfinite(abs_det)) {
    return false;
  }

  // normal coordinates: solve Q gamma = (nu1, nu2), falling back where a diagonal entry vanishes
  const float nu1 = std::fabs(dot(delta, seg.e1));
  const float nu2 = std::fabs(dot(delta, seg.e2));
  const float gamma1 =
      std::fabs(q2.y) > kSolveThreshold ? (nu1 * q2.y - nu2 * q2.x) / det : nu2 / abs_det;
  const float gamma2 =
      std::fabs(q1.x) > kSolveThreshold ? (nu2 * q1.x - nu1 * q1.y) / det : nu1 / abs_det;
  if (std::fabs(gamma1) + std::fabs(gamma2) > kGaussianCutoff) {
    return false;
  }
  const float weight = std::exp(-0.5f * (gamma1 * gamma1 + gamma2 * gamma2));

  // a caustic inside the segment, before the projection, counts as well
  float phase = seg.phase_start;
  if ((det <= 0.0f && seg.det_q_start > 0.0f) || (det >= 0.0f && seg.det_q_start < 0.0f)) {
    phase += kHalfPi;
  }
  const float tau = seg.tau_start + t * seg.tau_change;
  const float a = weight * seg.amp_end / std::sqrt(abs_det);
  if (!std::isfinite(a)) {
    return false;
  }

  float& delay = sink.delay[cell];
  float& amplitude = sink.amplitude[cell];
  if (tau < delay || (tau == delay && std::fabs(a) > std::fabs(amplitude))) {
    delay = tau;
    amplitude = a;
  }

  Complex32* pressure = sink.pressure + cell;
  for (std::size_t k = 0; k < sink.nf; ++k) {
    const float theta = sink.omegas[k] * tau - phase;
    Complex32& p = pressure[k * sink.stride];
    p = p + sink.refl[k] * Complex32{a * std::cos(theta), a * std::sin(theta)};
  }
  return true;
}

// Half-open index range of an axis.
struct IndexRange {
  std::size_t begin = 0;  // first index
  std::size_t end = 0;    // one past the last index

  bool empty() const { return begin >= end; }
};

IndexRange intersect(IndexRange a, IndexRange b) {
  return {std::max(a.begin, b.begin), std::min(a.end, b.end)};
}

// First index in [range) at which before(axis[i]) turns false; bisection, so the axis is taken to
// be ascending (whether or not it is).
template <class Before>
std::size_t bisect(std::span<const float> axis, IndexRange range, Before before) {
  std::size_t lo = range.begin;
  std::size_t hi = range.end;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (before(axis[mid])) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Indices in [range) from the first coordinate >= lo to the last coordinate <= hi.
IndexRange axis_range(std::span<const float> axis, IndexRange range, float lo, float hi) {
  const std::size_t first = bisect(axis, range, [lo](float v) { return !(v >= lo); });
  const std::size_t end = bisect(axis, range, [hi](float v) { return v <= hi; });
  return {first, end};
}

// Narrowed searches bisect tighter bounds, which finds a superset of the receivers that pass only
// on an axis that is really ascending.
bool is_ascending(std::span<const float> axis) {
  for (std::size_t i = 0; i < axis.size(); ++i) {
    if (!std::isfinite(axis[i]) || (i > 0 && axis[i] < axis[i - 1])) {
      return false;
    }
  }
  return true;
}

// The grid receivers of one segment: the box of the search radius around it, then, when narrowed,
// the box of its reach and for every (ix, iy) column only the depths inside that reach.
template <class Visit>
void visit_grid_receivers(Vec3 a, Vec3 d, float r, const SegmentReach& reach, bool narrowed,
                          const PressureField& field, Visit&& visit) {
  const std::span<const float> xs(field.x_m);
  const std::span<const float> ys(field.y_m);
  const std::span<const float> zs(field.z_m);
  const Vec3 b = a + d;
  IndexRange rx = axis_range(xs, {0, xs.size()}, std::min(a.x, b.x) - r, std::max(a.x, b.x) + r);
  IndexRange ry = axis_range(ys, {0, ys.size()}, std::min(a.y, b.y) - r, std::max(a.y, b.y) + r);
  IndexRange rz = axis_range(zs, {0, zs.size()}, std::min(a.z, b.z) - r, std::max(a.z, b.z) + r);
  if (rx.empty() || ry.empty() || rz.empty()) {
    return;
  }

  if (!narrowed) {
    for (std::size_t ix = rx.begin; ix < rx.end; ++ix) {
      for (std::size_t iy = ry.begin; iy < ry.end; ++iy) {
        const std::size_t column = field.cell_index(ix, iy, 0);
        for (std::size_t iz = rz.begin; iz < rz.end; ++iz) {
          visit(Vec3{xs[ix], ys[iy], zs[iz]}, column + iz);
        }
      }
    }
    return;
  }

  rx = intersect(rx, axis_range(xs, rx, reach.lo.x, reach.hi.x));
  ry = intersect(ry, axis_range(ys, ry, reach.lo.y, reach.hi.y));
  rz = intersect(rz, axis_range(zs, rz, reach.lo.z, reach.hi.z));
  if (rx.empty() || ry.empty() || rz.empty()) {
    return;
  }
  for (std::size_t ix = rx.begin; ix < rx.end; ++ix) {
    for (std::size_t iy = ry.begin; iy < ry.end; ++iy) {
      const DepthInterval depths = reach_depths(reach, xs[ix], ys[iy]);
      if (!(depths.lo <= depths.hi)) {
        continue;
      }
      const IndexRange column_z = axis_range(zs, rz, depths.lo, depths.hi);
      const std::size_t column = field.cell_index(ix, iy, 0);
      for (std::size_t iz = column_z.begin; iz < column_z.end; ++iz) {
        visit(Vec3{xs[ix], ys[iy], zs[iz]}, column + iz);
      }
    }
  }
}

// Every array receiver of one segment.
template <class Visit>
void visit_all_array_receivers(std::span<const Vec3> points, Visit&& visit) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    visit(points[i], i);
  }
}

// The distances (m) along the gathered region's axis, from its start, that the reach's capped
// cylinder can have: those of its axis, widened by radius * sqrt(1 - (a.g)^2) for its disks and
// by margins that cover the rounding of these bounds.
struct AxisSpan {
  float lo = 0.0f;
  float hi = 0.0f;
};

AxisSpan reach_span(const SegmentReach& reach, const GatheredReceivers& region) {
  const float along = dot(reach.axis, region.axis);
  const float s_start = dot(reach.start - region.start, region.axis);
  const float s_end = s_start + reach.length * along;
  const float disk = reach.radius * std::sqrt(std::max(0.0f, 1.0f - along * along));
  const float widening = disk + 2.0f * reach.margin;
  return {std::min(s_start, s_end) - widening, std::max(s_start, s_end) + widening};
}

// Whether everything the reach can touch lies inside the gathered region: its box inside the
// region's box and its span between the region's planes.
bool reach_inside(const SegmentReach& reach, const AxisSpan& span,
                  const GatheredReceivers& region) {
  return reach.lo.x >= region.lo.x && reach.lo.y >= region.lo.y && reach.lo.z >= region.lo.z &&
         reach.hi.x <= region.hi.x && reach.hi.y <= region.hi.y && reach.hi.z <= region.hi.z &&
         span.lo >= region.s_lo && span.hi <= region.s_hi;
}

// The slice of the region that distance s along its axis falls in, clamped; monotone in s.
std::size_t slice_at(const GatheredReceivers& region, float s) {
  const float f = (s - region.s_lo) * region.slices_per_m;
  const std::size_t last = region.slice_start.size() - 2;
  if (!(f > 0.0f)) {
    return 0;
  }
  if (f >= static_cast<float>(last)) {
    return last;
  }
  return static_cast<std::size_t>(f);
}

// Gathers the receivers that this segment and the next few of a straight ray can reach: the
// reach's box stretched along the segment kGatherSegments - 1 times its length further, between
// the planes across its axis from one length behind its start to one length beyond the last, and
// sorts them into slices one segment length thick along the axis.
void gather_receivers(const SegmentReach& reach, Vec3 d, const ReceiverIndex& index,
                      GatheredReceivers& region) {
  constexpr float kGatherSegments = 8.0f;
  constexpr std::size_t kSlices = 10;  // kGatherSegments + 2
  constexpr float kRadiusGrowth = 0.1f;
  const Vec3 ahead = (kGatherSegments - 1.0f) * d;
  // beams widen as they go: room for the radius to grow, and for one more length
  const float room = kRadiusGrowth * reach.radius + reach.length;
  region.valid = true;
  region.lo = {std::min(reach.lo.x, reach.lo.x + ahead.x) - room,
               std::min(reach.lo.y, reach.lo.y + ahead.y) - room,
               std::min(reach.lo.z, reach.lo.z + ahead.z) - room};
  region.hi = {std::max(reach.hi.x, reach.hi.x + ahead.x) + room,
               std::max(reach.hi.y, reach.hi.y + ahead.y) + room,
               std::max(reach.hi.z, reach.hi.z + ahead.z) + room};
  region.start = reach.start;
  region.axis = reach.axis;
  region.s_lo = -reach.length - reach.margin;
  region.s_hi = (kGatherSegments + 1.0f) * reach.length + reach.margin;
  region.slices_per_m = static_cast<float>(kSlices) / (region.s_hi - region.s_lo);
  region.slice_start.assign(kSlices + 1, 0);

  region.unsorted.clear();
  region.slice_of.clear();
  for_each_receiver_near(
      index, region.lo, region.hi, Slab{region.start, region.axis, region.s_lo, region.s_hi},
      [&](std::size_t i, Vec3 p) {
        const std::size_t slice = slice_at(region, dot(p - region.start, region.axis));
        region.unsorted.push_back({p, i});
        region.slice_of.push_back(slice);
        ++region.slice_start[slice + 1];
      });
  // a counting sort by slice
  for (std::size_t k = 0; k < kSlices; ++k) {
    region.slice_start[k + 1] += region.slice_start[k];
  }
  region.receivers.resize(region.unsorted.size());
  for (std::size_t k = 0; k < region.unsorted.size(); ++k) {
    region.receivers[region.slice_start[region.slice_of[k]]++] = region.unsorted[k];
  }
  // the scatter moved every start to the next slice's
  for (std::size_t k = kSlices; k > 0; --k) {
    region.slice_start[k] = region.slice_start[k - 1];
  }
  region.slice_start[0] = 0;
}

// The array receivers of one bounded segment, found through the index: those of the gathered
// slices the reach spans that lie inside its box and the slab between its end planes, the list
// gathered again first when the reach leaves its region.
template <class Visit>
void visit_indexed_array_receivers(const SegmentReach& reach, Vec3 d, const ReceiverIndex& index,
                                   GatheredReceivers& region, Visit&& visit) {
  AxisSpan span;
  if (region.valid) {
    span = reach_span(reach, region);
  }
  if (!region.valid || !reach_inside(reach, span, region)) {
    gather_receivers(reach, d, index, region);
    span = reach_span(reach, region);
  }
  const Vec3 lo = reach.lo;
  const Vec3 hi = reach.hi;
  const Vec3 u = reach.axis;
  const float s_lo = -reach.margin;
  const float s_hi = reach.length + reach.margin;
  const std::size_t begin = region.slice_start[slice_at(region, span.lo)];
  const std::size_t end = region.slice_start[slice_at(region, span.hi) + 1];
  for (std::size_t k = begin; k < end; ++k) {
    const Vec3 p = region.receivers[k].point;
    const float s = dot(p - reach.start, u);
    // one branch for the whole test: most receivers fail it
    const bool inside = (p.x >= lo.x) & (p.x <= hi.x) & (p.y >= lo.y) & (p.y <= hi.y) &
                        (p.z >= lo.z) & (p.z <= hi.z) & (s >= s_lo) & (s <= s_hi);
    if (inside) {
      visit(p, region.receivers[k].id);
    }
  }
}

// a * b, or false when it does not fit.
bool multiply(std::size_t a, std::size_t b, std::size_t& out) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
    return false;
  }
  out = a * b;
  return true;
}

// Every array the receiver step indexes must match the shape, or writes would leave the arrays.
void check_field(const PressureField& field, std::size_t nf, const ReceiverIndex& array_index) {
  if (field.is_array && !field.receiver_positions_m) {
    throw Fault(std::string(kMissingReceiverPositionsMessage));
  }
  std::size_t cells = 0;
  std::size_t values = 0;
  bool ok = multiply(field.shape[1], field.shape[2], cells) &&
            multiply(cells, field.shape[3], cells) && multiply(field.shape[0], cells, values) &&
            field.shape[0] == nf && field.pressure.size() == values &&
            field.delay_s.size() == cells && field.amplitude.size() == cells;
  if (field.is_array) {
    ok = ok && field.receiver_positions_m->size() == field.shape[1] && field.shape[2] == 1 &&
         field.shape[3] == 1 && array_index.point_count == field.shape[1];
  } else {
    ok = ok && field.x_m.size() == field.shape[1] && field.y_m.size() == field.shape[2] &&
         field.z_m.size() == field.shape[3];
  }
  if (!ok) {
    throw Fault(std::string(kBeamFieldMismatchMessage));
  }
}

// Scales amplitude and Q of every state to the launch spacing and derives the caustic phases and
// search widths.
void prepare_beam(std::vector<RayState>& states, const BeamLaunch& launch, BeamScratch& ws) {
  const std::size_t n = states.size();
  const float abs_cos_beta = std::fabs(std::cos(launch.elevation_rad));
  const float c0 = states.front().c;
  const float norm = std::sqrt(abs_cos_beta) *
                     std::sqrt(launch.d_azimuth_rad * launch.d_elevation_rad) / c0 / kTwoPi;
  const float scale1 = launch.d_elevation_rad / c0;
  const float scale2 = launch.d_azimuth_rad * abs_cos_beta / c0;
  for (RayState& s : states) {
    s.amp = s.amp * (norm * s.c);
    s.det_q = s.q1.x * s.q2.y - s.q1.y * s.q2.x;
    s.q1 = scale1 * s.q1;
    s.q2 = scale2 * s.q2;
  }

  ws.kmah.assign(n, 0.0f);
  for (std::size_t i = 1; i < n; ++i) {
    const float now = states[i].det_q;
    const float before = states[i - 1].det_q;
    const bool caustic = (now <= 0.0f && before > 0.0f) || (now >= 0.0f && before < 0.0f);
    ws.kmah[i] = caustic ? ws.kmah[i - 1] + kHalfPi : ws.kmah[i - 1];
  }
  // the square root is monotone and correctly rounded, so the largest column norm of a segment
  // is the root of the largest square, taken once; fmax ignores NaN
  const auto square_norm = [](Vec2 q) { return q.x * q.x + q.y * q.y; };
  const auto largest_square = [&](const RayState& st) {
    return std::fmax(square_norm(st.q1), square_norm(st.q2));
  };
  ws.search_width.resize(n - 1);
  float square_a = largest_square(states[0]);
  for (std::size_t s = 0; s + 1 < n; ++s) {
    const float square_b = largest_square(states[s + 1]);
    const float largest = std::sqrt(std::fmax(square_a, square_b));
    square_a = square_b;
    ws.search_width[s] = kWidthFactor * largest;
  }
}

BeamSegment make_segment(const RayState& a, const RayState& b, const RayBasis& basis_b,
                         float phase_start, float length_sq, float radius) {
  BeamSegment seg;
  seg.start = a.pos;
  seg.d = b.pos - a.pos;
  seg.length_sq = length_sq;
  seg.radius = radius;
  seg.radius_sq = radius * radius;
  seg.q1_start = a.q1;
  seg.q1_change = b.q1 - a.q1;
  seg.q2_start = a.q2;
  seg.q2_change = b.q2 - a.q2;
  seg.det_q_start = a.det_q;
  seg.phase_start = phase_start;
  seg.tau_start = a.tau;
  seg.tau_change = b.tau - a.tau;
  seg.amp_end = b.amp;
  seg.e1 = basis_b.e1;
  seg.e2 = basis_b.e2;
  return seg;
}

}  // namespace

BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search,
                                      const ReceiverIndex& array_index, BeamScratch& ws) {
  check_field(field, omegas.size(), array_index);
  BeamInfluenceCounts counts;
  const std::size_t n = states.size();
  if (n < 2) {
    return counts;
  }

  // scale the beam and derive caustic phases and search widths
  prepare_beam(states, launch, ws);
  ws.gathered.valid = false;  // gathered for another ray or field
  const std::size_t nf = omegas.size();
  std::vector<Complex32>& refl = ws.refl;
  refl.assign(nf, Complex32{1.0f, 0.0f});
  const bool narrowed = search == ReceiverSearch::Narrowed;
  const bool grid_ascending =
      is_ascending(field.x_m) && is_ascending(field.y_m) && is_ascending(field.z_m);
  const FieldSink sink{field.pressure.data(),
                       field.receiver_count(),
                       field.delay_s.data(),
                       field.amplitude.data(),
                       omegas.data(),
                       refl.data(),
                       nf};
  for (std::size_t i = 1; i < n; ++i) {
    const RayState& a = states[i - 1];
    const RayState& b = states[i];
    const Vec3 d = b.pos - a.pos;
    const float length_sq = dot(d, d);
    const float length = std::sqrt(length_sq);
    if (!(length_sq < kMinSegmentLengthSq || length <= kMinSegmentLength)) {
      const float radius = length / 2.0f + ws.search_width[i - 1] + kRadiusMargin;
      const SegmentReach reach = segment_reach(a.pos, d, radius);
      // most segments reach no receiver, so B's basis is only worked out for the first one
      BeamSegment seg;
      bool seg_ready = false;
      const auto visit = [&](Vec3 x, std::size_t cell) {
        if (!seg_ready) {
          seg = make_segment(a, b, ray_basis(b.slowness, b.c, b.phi), a.phase + ws.kmah[i - 1],
                             length_sq, radius);
          seg_ready = true;
        }
        ++counts.candidates;
        if (add_receiver_contribution(seg, x, cell, sink)) {
          ++counts.contributions;
        }
      };
      if (field.is_array && narrowed && reach.bounded) {
        visit_indexed_array_receivers(reach, d, array_index, ws.gathered, visit);
      } else if (field.is_array) {
        visit_all_array_receivers(*field.receiver_positions_m, visit);
      } else {
        visit_grid_receivers(a.pos, d, radius, reach, narrowed && reach.bounded && grid_ascending,
                             field, visit);
      }
    }

    // a bottom reflection at B weighs every later segment, not this one
    if (b.bottom_hit) {
      const BottomHit& hit = *b.bottom_hit;
      for (std::size_t k = 0; k < nf; ++k) {
        refl[k] =
            refl[k] * compute_bottom_reflection_coefficient(bty.bottom, hit.slowness_in, hit.normal,
                                                            bty.water_density, hit.c, omegas[k]);
      }
    }
  }
  return counts;
}

BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search) {
  BeamScratch scratch;
  return add_gaussian_beam(states, field, bty, omegas, launch, search, index_field_receivers(field),
                           scratch);
}

void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch, const ReceiverIndex& array_index,
                             BeamScratch& scratch) {
  add_gaussian_beam(states, field, bty, omegas, launch, ReceiverSearch::Narrowed, array_index,
                    scratch);
}

void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch) {
  add_gaussian_beam(states, field, bty, omegas, launch, ReceiverSearch::Narrowed);
}

ReceiverIndex index_field_receivers(const PressureField& field) {
  if (!field.is_array || !field.receiver_positions_m) return {};
  return build_receiver_index(*field.receiver_positions_m);
}

}  // namespace abyx
