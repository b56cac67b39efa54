#include "influence/gaussian_beam_influence.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "common/checked_size.h"
#include "common/constants.h"
#include "common/fault.h"
#include "common/float4.h"
#include "common/float4_math.h"
#include "influence/gaussian_beam_testing.h"
#include "influence/receiver_search.h"
#include "influence/segment_reach.h"
#include "reflect/bottom_reflection_coefficient.h"

namespace abyx {

namespace {

constexpr float kWidthFactor = 4.0f;           // search width per largest Q column norm
constexpr float kMinSegmentLengthSq = 1e-12f;  // shorter segments are skipped (m^2)
constexpr float kMinSegmentLength = 1e-4f;     // segments not longer are skipped (m)
constexpr float kRadiusMargin = 1e-6f;         // added to the search radius (m)
constexpr float kMinAbsDetQ = 1e-12f;          // smaller |det Q| skips the receiver
constexpr float kSolveThreshold = 1e-12f;      // on |Q22| and |Q11| for the normal solve
constexpr float kGaussianCutoff = 4.0f;        // largest |gamma1| + |gamma2|
constexpr std::size_t kLongestStretch = 16;    // segments summed as one at most

// Everything the receiver step reads about one segment, from A = state i-1 to B = state i, or the
// last state of a straight stretch that begins there.
struct BeamSegment {
  Vec3 start;         // A.pos (m)
  Vec3 end;           // B.pos (m)
  Vec3 d;             // B.pos - A.pos (m)
  Vec3 next_d;        // the next segment's d, when it follows on the same leg
  bool shares_end;    // next_d is set
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
  Vec3 e1;            // basis of the ray along the segment
  Vec3 e2;            // basis of the ray along the segment
  const RayState* a;  // the states, for what only arrivals read
  const RayState* b;
};

// Where contributions go: the field's arrays and the per-frequency factors of this ray.
struct FieldSink {
  Complex32* pressure;     // pressure[k * stride + cell]
  std::size_t stride;      // receivers per frequency
  float* delay;            // earliest arrival per cell (s)
  float* amplitude;        // amplitude of that arrival per cell
  const float* omegas;     // angular frequencies (rad/s)
  const Complex32* refl;   // running product of bottom reflection coefficients per frequency
  std::size_t nf;          // number of frequencies
  float* intensity;        // like pressure; null unless the run sums intensities
  ArrivalTable* arrivals;  // null unless the run gathers arrivals
  std::uint64_t ray;       // the ray's index in the launch list
  const RayState* states;  // its first state
  Vec2 q_scale;            // the scales of Q's columns
};

// The travel time at the receiver off the ray by n = (n1, n2): tau + n^T M n / 2 with the
// wavefront curvature M = P Q^-1; tau itself where the curvature is not finite.
float delay_off_ray(const BeamSegment& seg, Vec2 q_scale, float t, Vec2 q1, Vec2 q2, float det,
                    float n1, float n2, float tau) {
  // P scaled as Q is
  const Vec2 p1 = q_scale.x * (seg.a->p1 + t * (seg.b->p1 - seg.a->p1));
  const Vec2 p2 = q_scale.y * (seg.a->p2 + t * (seg.b->p2 - seg.a->p2));
  const float m11 = (p1.x * q2.y - p2.x * q1.y) / det;
  const float m12 = (p2.x * q1.x - p1.x * q2.x) / det;
  const float m21 = (p1.y * q2.y - p2.y * q1.y) / det;
  const float m22 = (p2.y * q1.x - p1.y * q2.x) / det;
  const float delay = tau + 0.5f * (m11 * n1 * n1 + (m12 + m21) * n1 * n2 + m22 * n2 * n2);
  return std::isfinite(delay) ? delay : tau;
}

// The state that ends the step of the ray in which the foot at fraction t of the segment lies: B,
// or for a stretch of several steps the first of its states level with the foot or beyond it.
std::uint64_t step_end(const BeamSegment& seg, float t, const RayState* states) {
  const RayState* end = seg.b;
  if (seg.b - seg.a > 1) {
    const float foot = t * seg.length_sq;
    end = std::partition_point(
        seg.a + 1, seg.b, [&](const RayState& s) { return dot(s.pos - seg.start, seg.d) < foot; });
  }
  return static_cast<std::uint64_t>(end - states);
}

// Gathers one contribution of amplitude a and phase omega tau - phase, at fraction t of the
// segment, into its path's arrival.
void gather_contribution(const BeamSegment& seg, const FieldSink& sink, std::size_t cell, float t,
                         float delay, float tau, float phase, float a) {
  const float weight = sink.nf > 0 ? a * std::hypot(sink.refl[0].re, sink.refl[0].im) : a;
  const ArrivalSlot slot =
      gather_arrival(*sink.arrivals, cell,
                     {delay, weight, weight, sink.ray, step_end(seg, t, sink.states),
                      seg.a->n_surface, seg.a->n_bottom});
  if (slot.bin == nullptr) return;
  const float offset = tau - slot.bin->reference_s;
  for (std::size_t k = 0; k < sink.nf; ++k) {
    const float theta = sink.omegas[k] * offset - phase;
    slot.sums[k] =
        slot.sums[k] + sink.refl[k] * Complex32{a * std::cos(theta), a * std::sin(theta)};
  }
}

// Up to four receivers that one segment may reach, coordinate by coordinate, gathered so that
// their tests run side by side.
struct CandidateLanes {
  alignas(16) float x[4];
  alignas(16) float y[4];
  alignas(16) float z[4];
  std::size_t cells[4];
  unsigned count = 0;

  void add(Vec3 p, std::size_t cell) {
    x[count] = p.x;
    y[count] = p.y;
    z[count] = p.z;
    cells[count] = cell;
    ++count;
  }
};

// The contributions of one segment to the candidate receivers; returns how many took one. A
// receiver takes none when it lies outside the segment, its radius or the Gaussian cut-off, or Q
// is near-singular there. The receivers are the lanes of x, y and z set in `lanes`, cells[j] the
// cell of lane j. Each lane rounds as the scalar arithmetic of one receiver would, operation for
// operation, and the library's exp, sin and cos finish each receiver that passes, so the sums do
// not depend on how receivers are grouped. kGather: the run gathers arrivals (sink.arrivals is
// set); a separate version, so that the plain sum carries none of it.
template <bool kGather>
unsigned add_receiver_contributions(const BeamSegment& seg, Float4 x, Float4 y, Float4 z,
                                    unsigned lanes, const std::size_t* cells,
                                    const FieldSink& sink) {
  const auto at = [](float v) { return broadcast4(v); };
  // t = dot(x - start, d) / |d|^2. Between two segments of one leg, a receiver the next one takes
  // (its start test, computed as it computes it) is not this one's: t rounds to 1 for receivers
  // just beyond B, so a receiver level with a state was counted twice, or not at all, by which
  // side of the ray it lay on.
  const Float4 t = ((x - at(seg.start.x)) * at(seg.d.x) + (y - at(seg.start.y)) * at(seg.d.y) +
                    (z - at(seg.start.z)) * at(seg.d.z)) /
                   at(seg.length_sq);
  Int4 take = (t >= at(0.0f)) & (t <= at(1.0f));
  if (seg.shares_end) {
    const Float4 beyond = (x - at(seg.end.x)) * at(seg.next_d.x) +
                          (y - at(seg.end.y)) * at(seg.next_d.y) +
                          (z - at(seg.end.z)) * at(seg.next_d.z);
    take &= ~(beyond >= at(0.0f));
  }
  // delta = x - (start + t d), inside the radius
  const Float4 dx = x - (at(seg.start.x) + t * at(seg.d.x));
  const Float4 dy = y - (at(seg.start.y) + t * at(seg.d.y));
  const Float4 dz = z - (at(seg.start.z) + t * at(seg.d.z));
  take &= ~(dx * dx + dy * dy + dz * dz > at(seg.radius_sq));
  // Q at the foot: q1 = (Q11, Q21), q2 = (Q12, Q22). A beam whose matrices overflowed has no
  // usable determinant: it must not write NaN into the field.
  const Float4 q11 = at(seg.q1_start.x) + t * at(seg.q1_change.x);
  const Float4 q21 = at(seg.q1_start.y) + t * at(seg.q1_change.y);
  const Float4 q12 = at(seg.q2_start.x) + t * at(seg.q2_change.x);
  const Float4 q22 = at(seg.q2_start.y) + t * at(seg.q2_change.y);
  const Float4 det = q11 * q22 - q21 * q12;
  const Float4 abs_det = abs4(det);
  take &= (abs_det >= at(kMinAbsDetQ)) & is_finite4(abs_det);
  // normal coordinates: solve Q gamma = (nu1, nu2), falling back where a diagonal entry vanishes
  const Float4 n1 = dx * at(seg.e1.x) + dy * at(seg.e1.y) + dz * at(seg.e1.z);
  const Float4 n2 = dx * at(seg.e2.x) + dy * at(seg.e2.y) + dz * at(seg.e2.z);
  const Float4 nu1 = abs4(n1);
  const Float4 nu2 = abs4(n2);
  const Float4 gamma1 =
      select4(abs4(q22) > at(kSolveThreshold), (nu1 * q22 - nu2 * q12) / det, nu2 / abs_det);
  const Float4 gamma2 =
      select4(abs4(q11) > at(kSolveThreshold), (nu2 * q11 - nu1 * q21) / det, nu1 / abs_det);
  take &= ~(abs4(gamma1) + abs4(gamma2) > at(kGaussianCutoff));
  const Float4 exponent = at(-0.5f) * (gamma1 * gamma1 + gamma2 * gamma2);
  const Float4 tau = at(seg.tau_start) + t * at(seg.tau_change);

  unsigned taken = 0;
  unsigned bits = lane_bits(take) & lanes;
  for (; bits != 0; bits &= bits - 1u) {
    const int lane = std::countr_zero(bits);
    const std::size_t cell = cells[lane];
    const float weight = std::exp(exponent[lane]);
    // a caustic inside the segment, before the projection, counts as well
    float phase = seg.phase_start;
    const float det_lane = det[lane];
    if ((det_lane <= 0.0f && seg.det_q_start > 0.0f) ||
        (det_lane >= 0.0f && seg.det_q_start < 0.0f)) {
      phase += kHalfPi;
    }
    const float a = weight * seg.amp_end / std::sqrt(abs_det[lane]);
    if (!std::isfinite(a)) {
      continue;
    }
    ++taken;
    const float tau_lane = tau[lane];
    record_arrival(sink.delay[cell], sink.amplitude[cell], tau_lane, a);
    if constexpr (kGather) {
      const float delay =
          delay_off_ray(seg, sink.q_scale, t[lane], {q11[lane], q21[lane]}, {q12[lane], q22[lane]},
                        det_lane, n1[lane], n2[lane], tau_lane);
      gather_contribution(seg, sink, cell, t[lane], delay, tau_lane, phase, a);
    }
    // indexed from the base: a field without frequencies has no array to point into
    for (std::size_t k = 0; k < sink.nf; ++k) {
      const float theta = sink.omegas[k] * tau_lane - phase;
      Complex32& p = sink.pressure[cell + k * sink.stride];
      p = p + sink.refl[k] * Complex32{a * std::cos(theta), a * std::sin(theta)};
    }
    if (sink.intensity != nullptr) {
      // The beam's intensity spread over its footprint as its pressure is: the Gaussian weights
      // of neighbouring rays, one spacing apart, sum to 2 pi, so the rays of one path add up to
      // |p|^2.
      const float intensity = kTwoPi * a * (a / weight);
      for (std::size_t k = 0; k < sink.nf; ++k) {
        const Complex32 r = sink.refl[k];
        sink.intensity[cell + k * sink.stride] += (r.re * r.re + r.im * r.im) * intensity;
      }
    }
  }
  return taken;
}

// Scales amplitude and Q of every state to the launch spacing and derives the caustic phases and
// search widths; returns the scales of Q's two columns.
Vec2 prepare_beam(std::vector<RayState>& states, const BeamLaunch& launch, BeamScratch& ws) {
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
  return {scale1, scale2};
}

// Segments shorter than this take no receivers.
bool takes_receivers(float length_sq, float length) {
  return !(length_sq < kMinSegmentLengthSq || length <= kMinSegmentLength);
}

// Whether the segment from prev to next continues, as a straight line, the stretch of the ray that
// starts at `first`: no reflection (nor a bottom hit), and the slowness, sound speed, rotation, P,
// amplitude and phase all as at `first`, so that the sound speed did not change along it and Q, the
// travel time and the position change in proportion to arc length. The caustic phase is unchanged
// and det Q keeps its sign at every state, as it does at `first`.
bool continues_straight(const RayState& first, float kmah_first, const RayState& prev,
                        const RayState& next, float kmah_next) {
  const bool same_side =
      (first.det_q > 0.0f && next.det_q > 0.0f) || (first.det_q < 0.0f && next.det_q < 0.0f);
  return !reflects(prev, next) && !next.bottom_hit && same_side && kmah_next == kmah_first &&
         next.slowness == first.slowness && next.c == first.c && next.phi == first.phi &&
         next.p1 == first.p1 && next.p2 == first.p2 && next.amp == first.amp &&
         next.phase == first.phase;
}

// Segments first..last of a ray (segment i runs from state i - 1 to state i), summed as one from
// state first - 1 to state last, and the search radius of the whole.
struct Stretch {
  std::size_t last = 0;
  float radius = 0.0f;     // the largest of its segments' radii (m)
  float length_sq = 0.0f;  // |d|^2 of the whole, from state first - 1 to state last (m^2)
  float length = 0.0f;     // |d| (m)
};

// The stretch that begins with segment `first`: up to kLongestStretch straight segments that each
// take receivers, or the segment alone. Along such a stretch Q and the travel time are linear in
// arc length, so interpolating them between its ends gives what its segments give, up to rounding,
// and it is searched once instead of once per segment.
Stretch straight_stretch(const std::vector<RayState>& states, const std::vector<float>& kmah,
                         const std::vector<float>& search_width, std::size_t first) {
  // segment k alone: its radius and length, and whether it takes receivers
  const auto segment = [&](std::size_t k, bool& takes) {
    const Vec3 d = states[k].pos - states[k - 1].pos;
    const float length_sq = dot(d, d);
    const float length = std::sqrt(length_sq);
    takes = takes_receivers(length_sq, length);
    return Stretch{k, length / 2.0f + search_width[k - 1] + kRadiusMargin, length_sq, length};
  };
  bool takes = false;
  Stretch stretch = segment(first, takes);
  const RayState& start = states[first - 1];
  if (!takes || !continues_straight(start, kmah[first - 1], start, states[first], kmah[first])) {
    return stretch;
  }
  for (std::size_t k = first + 1; k < states.size() && k - first < kLongestStretch; ++k) {
    if (!continues_straight(start, kmah[first - 1], states[k - 1], states[k], kmah[k])) break;
    const float radius = segment(k, takes).radius;
    if (!takes) break;
    stretch.last = k;
    stretch.radius = std::fmax(stretch.radius, radius);
  }
  if (stretch.last != first) {
    const Vec3 d = states[stretch.last].pos - start.pos;
    stretch.length_sq = dot(d, d);
    stretch.length = std::sqrt(stretch.length_sq);
  }
  return stretch;
}

// Writes the segment in place: built in a temporary, its copy stalled on store forwarding.
void make_segment(const RayState& a, const RayState& b, const RayBasis& basis, float phase_start,
                  float length_sq, float radius, const Vec3* shared_next_d, BeamSegment& seg) {
  seg.start = a.pos;
  seg.end = b.pos;
  seg.d = b.pos - a.pos;
  seg.length_sq = length_sq;
  seg.radius = radius;
  seg.radius_sq = radius * radius;
  seg.q1_start = a.q1;
  seg.q1_change = b.q1 - a.q1;
  seg.q2_start = a.q2;
  seg.q2_change = b.q2 - a.q2;
  seg.a = &a;
  seg.b = &b;
  seg.det_q_start = a.det_q;
  seg.phase_start = phase_start;
  seg.tau_start = a.tau;
  seg.tau_change = b.tau - a.tau;
  seg.amp_end = b.amp;
  seg.e1 = basis.e1;
  seg.e2 = basis.e2;
  seg.shares_end = shared_next_d != nullptr;
  if (seg.shares_end) seg.next_d = *shared_next_d;
}

}  // namespace

// Every array the receiver step indexes must match the shape, or writes would leave the arrays.
void check_beam_field(const PressureField& field, std::size_t nf,
                      const ReceiverIndex& array_index) {
  if (field.has_points() && !field.receiver_positions_m) {
    throw Fault(std::string(kMissingReceiverPositionsMessage));
  }
  if (!field_matches_shape(field) || field.shape[0] != nf ||
      (field.is_array() && array_index.point_count != field.shape[1])) {
    throw Fault(std::string(kBeamFieldMismatchMessage));
  }
}

BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search,
                                      const ReceiverIndex& array_index, BeamScratch& ws,
                                      ArrivalTable* arrivals) {
  check_beam_field(field, omegas.size(), array_index);
  check_arrival_table(arrivals, field.receiver_count(), omegas.size());
  BeamInfluenceCounts counts;
  const std::size_t n = states.size();
  if (n < 2) {
    return counts;
  }

  // scale the beam and derive caustic phases and search widths
  const Vec2 q_scale = prepare_beam(states, launch, ws);
  ws.gathered.valid = false;  // gathered for another ray or field
  const std::size_t nf = omegas.size();
  std::vector<Complex32>& refl = ws.refl;
  refl.assign(nf, Complex32{1.0f, 0.0f});
  const bool narrowed = search == ReceiverSearch::Narrowed;
  const bool grid_ascending = grid_is_ascending(field);
  const bool gathering = arrivals != nullptr;
  // array receivers are found through the index and its gathered regions
  const bool indexed = field.is_array() && narrowed;
  const bool polar = field.layout == ReceiverLayout::Polar && narrowed;
  const FieldSink sink{field.pressure.data(),
                       field.receiver_count(),
                       field.delay_s.data(),
                       field.amplitude.data(),
                       omegas.data(),
                       refl.data(),
                       nf,
                       field.intensity.empty() ? nullptr : field.intensity.data(),
                       arrivals,
                       launch.ray_index,
                       states.data(),
                       q_scale};
  // straight runs of segments are summed as stretches
  std::optional<Stretch> ahead;  // the next stretch, when a segment worked it out
  for (std::size_t i = 1; i < n;) {
    const Stretch stretch = ahead ? *ahead : straight_stretch(states, ws.kmah, ws.search_width, i);
    ahead.reset();
    const std::size_t j = stretch.last;
    const float radius = stretch.radius;
    const RayState& a = states[i - 1];
    const RayState& b = states[j];
    const Vec3 d = b.pos - a.pos;
    const float length_sq = stretch.length_sq;
    const float length = stretch.length;
    if (takes_receivers(length_sq, length) &&
        !(indexed && region_rules_out(ws.gathered, a.pos, b.pos, radius)) &&
        !(polar && polar_rules_out(field, a.pos, b.pos, radius))) {
      const SegmentReach reach = segment_reach(a.pos, d, radius);
      // most segments reach no receiver, so the basis is only worked out for the first one. A
      // reflection moves B back onto the boundary: the segment then runs along the incident ray,
      // whose basis is A's, not B's reflected one (which would tilt the normal coordinates by
      // an amount that depends on where the step happened to cross the boundary)
      BeamSegment seg;
      bool seg_ready = false;
      const auto add = [&](Float4 x, Float4 y, Float4 z, unsigned lanes, const std::size_t* cells) {
        counts.candidates += static_cast<std::size_t>(std::popcount(lanes));
        counts.contributions +=
            gathering ? add_receiver_contributions<true>(seg, x, y, z, lanes, cells, sink)
                      : add_receiver_contributions<false>(seg, x, y, z, lanes, cells, sink);
      };
      const auto make_ready = [&] {
        if (!seg_ready) {
          const bool reflected = reflects(a, b);
          const RayState& frame = reflected ? a : b;
          // the next segment of the same leg, when there is one that takes receivers
          Vec3 next_d{};
          bool shares_end = false;
          if (!reflected && j + 1 < n) {
            ahead = straight_stretch(states, ws.kmah, ws.search_width, j + 1);
            next_d = states[ahead->last].pos - b.pos;
            // A next segment that turns back (rounding can put a reflection up to a few mm
            // behind the state before it) takes only its own slab, not all beyond its start.
            shares_end = takes_receivers(ahead->length_sq, ahead->length) && dot(next_d, d) > 0.0f;
          }
          make_segment(a, b, ray_basis(frame.slowness, frame.c, frame.phi),
                       a.phase + ws.kmah[i - 1], length_sq, radius, shares_end ? &next_d : nullptr,
                       seg);
          seg_ready = true;
        }
      };
      // the searches that give receivers one by one are tested four at a time all the same
      CandidateLanes candidates;
      const auto flush = [&] {
        add(load_float4(candidates.x), load_float4(candidates.y), load_float4(candidates.z),
            (1u << candidates.count) - 1u, candidates.cells);
        candidates.count = 0;
      };
      const auto visit = [&](Vec3 x, std::size_t cell) {
        make_ready();
        candidates.add(x, cell);
        if (candidates.count == 4) flush();
      };
      if (polar && reach.bounded) {
        visit_polar_receivers(reach, field, visit);
      } else if (indexed && reach.bounded) {
        visit_indexed_array_lanes(
            reach, length / static_cast<float>(j + 1 - i), array_index, ws.gathered,
            [&](const PackedPoints& points, std::size_t k, unsigned bits) {
              make_ready();
              std::size_t cells[4];
              for (unsigned rest = bits; rest != 0; rest &= rest - 1u) {
                const int lane = std::countr_zero(rest);
                cells[lane] = ws.gathered.ids[k + static_cast<std::size_t>(lane)];
              }
              add(load_float4(points.x.data() + k), load_float4(points.y.data() + k),
                  load_float4(points.z.data() + k), bits, cells);
            });
      } else if (field.has_points()) {
        visit_all_array_receivers(*field.receiver_positions_m, visit);
      } else {
        visit_grid_receivers(a.pos, d, radius, reach, narrowed && reach.bounded && grid_ascending,
                             field, visit);
      }
      if (candidates.count > 0) flush();
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
    i = j + 1;
  }
  return counts;
}

BeamInfluenceCounts add_gaussian_beam(std::vector<RayState>& states, PressureField& field,
                                      const BTYfield& bty, std::span<const float> omegas,
                                      const BeamLaunch& launch, ReceiverSearch search) {
  BeamScratch scratch;
  const ReceiverIndex index = field.is_array() && field.receiver_positions_m
                                  ? build_receiver_index(*field.receiver_positions_m)
                                  : ReceiverIndex{};
  return add_gaussian_beam(states, field, bty, omegas, launch, search, index, scratch);
}

void gaussian_beam_influence(std::vector<RayState>& states, PressureField& field,
                             const BTYfield& bty, std::span<const float> omegas,
                             const BeamLaunch& launch, const ReceiverIndex& array_index,
                             BeamScratch& scratch, ArrivalTable* arrivals) {
  add_gaussian_beam(states, field, bty, omegas, launch, ReceiverSearch::Narrowed, array_index,
                    scratch, arrivals);
}

}  // namespace abyx
