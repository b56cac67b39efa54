#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "common/complex32.h"
#include "common/constants.h"
#include "common/float4.h"
#include "common/float4_math.h"
#include "common/ray_state.h"
#include "influence/arrival_table.h"
#include "influence/beam_influence.h"
#include "influence/beam_scratch.h"
#include "influence/beam_walk.h"
#include "influence/receiver_search.h"
#include "influence/reflection_product.h"
#include "influence/segment_reach.h"
#include "influence/segment_rules.h"
#include "influence/wavefront_delay.h"
#include "model/model.h"

// The geometric beam sum as one driver over its receiver search and its tally: the ray cut into
// straight stretches, each stretch's receivers searched, each receiver's contribution added. Runs
// instantiate it with NarrowedSearch and NoTally; tests and benchmarks with their own.

namespace abyx {

// The production search: only the receivers a segment's beam can reach.
struct NarrowedSearch {
  // Whether the segment from a to b with this search radius finds no receiver for certain.
  static bool rules_out(const PressureField& field, const GatheredReceivers& gathered, Vec3 a,
                        Vec3 b, float radius) {
    return (field.is_array() && region_rules_out(gathered, a, b, radius)) ||
           (field.layout == ReceiverLayout::Polar && polar_rules_out(field, a, b, radius));
  }
  // The reach the search bounds its receivers by.
  static SegmentReach bounds(const SegmentReach& reach) { return reach; }
};

// Counts nothing.
struct NoTally {
  void add(unsigned /*lanes*/, unsigned /*taken*/) {}
};

namespace geometric {

constexpr float kWidthFactor = 4.0f;           // search width per largest Q column norm
constexpr float kMinSegmentLengthSq = 1e-12f;  // shorter segments are skipped (m^2)
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
  float amp_end;      // scaled amplitude of B
  Vec3 e1;            // basis of the ray along the segment
  Vec3 e2;            // basis of the ray along the segment
  const RayState* a;  // the states, for what only arrivals read
  const RayState* b;
  // the water's absorption (Np) at A and B per frequency; null when the water absorbs nothing
  const float* absorbed_start;
  const float* absorbed_end;
  const float* start_losses;  // exp(-absorbed_start) per frequency
};

// Where contributions go: the field's arrays and the per-frequency factors of this ray.
struct FieldSink {
  Complex32* pressure;      // pressure[k * stride + cell]
  std::size_t stride;       // receivers per frequency
  float* delay;             // earliest arrival per cell (s)
  float* amplitude;         // amplitude of that arrival per cell
  const float* omegas;      // angular frequencies (rad/s)
  const Complex32* refl;    // running product of bottom reflection coefficients per frequency
  std::size_t nf;           // number of frequencies
  float* intensity;         // like pressure; null unless the run sums intensities
  ArrivalTable* arrivals;   // null unless the run gathers arrivals
  std::uint64_t ray;        // the ray's index in the launch list
  const RayState* states;   // its first state
  Vec2 q_scale;             // the scales of Q's columns
  float max_slowness;       // 1 / the slowest sound speed (s/m)
  float* losses = nullptr;  // exp(-absorption) per frequency at the receiver under way, if any
};

// Below this absorption across a segment (Np) the loss within it is a cubic in the distance from
// its start, exact to single precision (the next term is under 3e-7).
constexpr float kSmallAbsorptionNp = 0.05f;

// The water's absorption at fraction t of the segment as a factor at frequency k: the loss at the
// segment's start times the loss along it.
inline float loss_at(const BeamSegment& seg, float t, std::size_t k) {
  const float change = seg.absorbed_end[k] - seg.absorbed_start[k];
  const float x = t * change;
  const float along = std::fabs(change) <= kSmallAbsorptionNp
                          ? 1.0f - x * (1.0f - x * (0.5f - x * (1.0f / 6.0f)))
                          : std::exp(-x);
  return seg.start_losses[k] * along;
}

// The losses at fraction t of the segment at every frequency, into the sink.
inline void set_losses(const BeamSegment& seg, float t, const FieldSink& sink) {
  for (std::size_t k = 0; k < sink.nf; ++k) sink.losses[k] = loss_at(seg, t, k);
}

// The amplitude a of a contribution at frequency k, with the water's loss when there is one.
inline float absorbed(const FieldSink& sink, std::size_t k, float a) {
  return sink.losses == nullptr ? a : a * sink.losses[k];
}

// Whether a receiver's contribution is also gathered into its path's arrival; a separate version
// of the receiver step, so that the plain sum carries none of it.
enum class Gathering { Off, On };

// A receiver as the segment sees it: its foot at fraction t of the segment, the scaled Q there
// (columns q1, q2, determinant det), its offset n = (n1, n2) from the ray and the travel time tau
// of its foot.
struct ReceiverFoot {
  float t;
  Vec2 q1, q2;
  float det;
  Vec2 n;
  float tau;
};

// The travel time at the receiver off the ray: tau + n^T M n / 2 with the wavefront curvature
// M = P Q^-1, bounded by bounded_delay; tau itself where the curvature is not finite.
inline float delay_off_ray(const BeamSegment& seg, Vec2 q_scale, const ReceiverFoot& foot,
                           float max_slowness) {
  // P scaled as Q is
  const float t = foot.t;
  const Vec2 p1 = q_scale.x * (seg.a->p1 + t * (seg.b->p1 - seg.a->p1));
  const Vec2 p2 = q_scale.y * (seg.a->p2 + t * (seg.b->p2 - seg.a->p2));
  const float half =
      0.5f * curvature_term<float>({foot.q1, foot.q2, p1, p2}, foot.det, foot.n.x, foot.n.y);
  if (!std::isfinite(half)) return foot.tau;
  return bounded_delay(foot.tau, half, std::sqrt(foot.n.x * foot.n.x + foot.n.y * foot.n.y),
                       max_slowness);
}

// The state that ends the step of the ray in which the foot at fraction t of the segment lies: B,
// or for a stretch of several steps the first of its states level with the foot or beyond it.
inline std::uint64_t step_end(const BeamSegment& seg, float t, const RayState* states) {
  const RayState* end = seg.b;
  if (seg.b - seg.a > 1) {
    const float foot = t * seg.length_sq;
    end = std::partition_point(
        seg.a + 1, seg.b, [&](const RayState& s) { return dot(s.pos - seg.start, seg.d) < foot; });
  }
  return static_cast<std::uint64_t>(end - states);
}

// Gathers one contribution of amplitude a and phase omega tau - phase, at fraction t of the
// segment, into its path's arrival; `at` holds t, the delay and the travel time.
struct ContributionAt {
  float t, delay, tau;
};
inline void gather_contribution(const BeamSegment& seg, const FieldSink& sink, std::size_t cell,
                                ContributionAt at, float phase, float a) {
  const float weight =
      sink.nf > 0 ? absorbed(sink, 0, a) * std::hypot(sink.refl[0].re, sink.refl[0].im) : a;
  const ArrivalSlot slot =
      gather_arrival(*sink.arrivals, cell,
                     {at.delay, weight, weight, sink.ray, step_end(seg, at.t, sink.states),
                      seg.a->c * seg.a->slowness, seg.a->n_surface, seg.a->n_bottom});
  if (slot.bin == nullptr) return;
  const float offset = at.tau - slot.bin->reference_s;
  for (std::size_t k = 0; k < sink.nf; ++k) {
    const float theta = sink.omegas[k] * offset - phase;
    const float ak = absorbed(sink, k, a);
    slot.sums[k] =
        slot.sums[k] + sink.refl[k] * Complex32{ak * std::cos(theta), ak * std::sin(theta)};
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

// Four receivers of one segment: their coordinates, the lanes that hold one and their cells.
struct ReceiverLanes {
  Float4 x, y, z;
  unsigned lanes;
  const std::size_t* cells;
};

// The receivers of four lanes that take a contribution from a segment: lane j of the bits holds
// receiver cells[j], with amplitude a, Gaussian weight `weight`, travel time tau and phase at
// fraction t of the segment.
struct TakenLanes {
  unsigned bits;
  const std::size_t* cells;
  Float4 t, tau, phase, a, weight;
};

// Adds the lanes' contributions at every frequency: pressure, and the intensity when the run sums
// it.
inline void add_to_cells(const BeamSegment& seg, const FieldSink& sink, const TakenLanes& lanes) {
  // The beam's intensity spread over its footprint as its pressure is: the Gaussian weights of
  // neighbouring rays, one spacing apart, sum to 2 pi, so the rays of one path add up to |p|^2.
  const Float4 intensity = broadcast4(kTwoPi) * lanes.a * (lanes.a / lanes.weight);
  // indexed from the base: a field without frequencies has no array to point into
  for (std::size_t k = 0; k < sink.nf; ++k) {
    Float4 sine;
    Float4 cosine;
    lane_sincos(broadcast4(sink.omegas[k]) * lanes.tau - lanes.phase, sine, cosine);
    const Complex32 r = sink.refl[k];
    for (unsigned bits = lanes.bits; bits != 0; bits &= bits - 1u) {
      const int lane = std::countr_zero(bits);
      const float loss = seg.absorbed_start == nullptr ? 1.0f : loss_at(seg, lanes.t[lane], k);
      const float ak = seg.absorbed_start == nullptr ? lanes.a[lane] : lanes.a[lane] * loss;
      const std::size_t i = lanes.cells[lane] + k * sink.stride;
      sink.pressure[i] = sink.pressure[i] + r * Complex32{ak * cosine[lane], ak * sine[lane]};
      if (sink.intensity != nullptr) {
        sink.intensity[i] += (r.re * r.re + r.im * r.im) * (loss * loss) * intensity[lane];
      }
    }
  }
}

// The contributions of one segment to the candidate receivers; returns how many took one. A
// receiver takes none when it lies outside the segment, its radius or the Gaussian cut-off, or Q
// is near-singular there. Each lane rounds as every other lane would, operation for operation
// (lane_exp and lane_sincos are lane-wise too), so the sums do not depend on how receivers are
// grouped.
template <Gathering kGather>
unsigned add_receiver_contributions(const BeamSegment& seg, const ReceiverLanes& r,
                                    const FieldSink& sink) {
  const auto at = [](float v) { return broadcast4(v); };
  const Float4 x = r.x, y = r.y, z = r.z;
  // t = dot(x - start, d) / |d|^2
  const Float4 t = ((x - at(seg.start.x)) * at(seg.d.x) + (y - at(seg.start.y)) * at(seg.d.y) +
                    (z - at(seg.start.z)) * at(seg.d.z)) /
                   at(seg.length_sq);
  Int4 take = (t >= at(0.0f)) & (t <= at(1.0f));
  if (seg.shares_end) take &= ~taken_by_next(x, y, z, seg.end, seg.next_d);
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
  const Float4 abs_det = lane_abs(det);
  take &= (abs_det >= at(kMinAbsDetQ)) & lane_finite(abs_det);
  // normal coordinates: solve Q gamma = (nu1, nu2), falling back where a diagonal entry vanishes
  const Float4 n1 = dx * at(seg.e1.x) + dy * at(seg.e1.y) + dz * at(seg.e1.z);
  const Float4 n2 = dx * at(seg.e2.x) + dy * at(seg.e2.y) + dz * at(seg.e2.z);
  const Float4 nu1 = lane_abs(n1);
  const Float4 nu2 = lane_abs(n2);
  const Float4 gamma1 = lane_select(lane_abs(q22) > at(kSolveThreshold),
                                    (nu1 * q22 - nu2 * q12) / det, nu2 / abs_det);
  const Float4 gamma2 = lane_select(lane_abs(q11) > at(kSolveThreshold),
                                    (nu2 * q11 - nu1 * q21) / det, nu1 / abs_det);
  take &= ~(lane_abs(gamma1) + lane_abs(gamma2) > at(kGaussianCutoff));
  if ((lane_bits(take) & r.lanes) == 0) return 0;
  const Float4 weight = lane_exp(at(-0.5f) * (gamma1 * gamma1 + gamma2 * gamma2));
  const Float4 a = weight * at(seg.amp_end) / lane_sqrt(abs_det);
  take &= lane_finite(a);
  const Float4 tau = at(seg.tau_start) + t * at(seg.tau_change);
  // a caustic inside the segment, before the projection, counts as well
  Int4 caustic = {};
  if (seg.det_q_start > 0.0f) caustic = det <= at(0.0f);
  if (seg.det_q_start < 0.0f) caustic = det >= at(0.0f);
  const Float4 phase = lane_select(caustic, at(seg.phase_start + kHalfPi), at(seg.phase_start));
  const unsigned taken_bits = lane_bits(take) & r.lanes;
  for (unsigned bits = taken_bits; bits != 0; bits &= bits - 1u) {
    const int lane = std::countr_zero(bits);
    const std::size_t cell = r.cells[lane];
    record_arrival(sink.delay[cell], sink.amplitude[cell], tau[lane], a[lane]);
    if constexpr (kGather == Gathering::On) {
      if (seg.absorbed_start != nullptr) set_losses(seg, t[lane], sink);
      const float delay = delay_off_ray(seg, sink.q_scale,
                                        {t[lane],
                                         {q11[lane], q21[lane]},
                                         {q12[lane], q22[lane]},
                                         det[lane],
                                         {n1[lane], n2[lane]},
                                         tau[lane]},
                                        sink.max_slowness);
      gather_contribution(seg, sink, cell, {t[lane], delay, tau[lane]}, phase[lane], a[lane]);
    }
  }
  add_to_cells(seg, sink, {taken_bits, r.cells, t, tau, phase, a, weight});
  return static_cast<unsigned>(std::popcount(taken_bits));
}

// What the ray's amplitude and Q become in the beam: scaled to the launch spacing, the amplitude
// norm * c and Q's columns by the column scales. The states are left as they are; the scaled values
// are worked out where they are read, by the same operations.
struct BeamScales {
  float norm = 0.0f;
  Vec2 q;  // of Q's two columns
};

inline float scaled_amp(const RayState& s, const BeamScales& scales) { return scales.norm * s.c; }

// det Q of the state before scaling (only its sign is used)
inline float det_q(const RayState& s) { return s.q1.x * s.q2.y - s.q1.y * s.q2.x; }

// The larger of a and b, or the one that is a number where the other is NaN, as std::fmax gives
// them (which the compiler leaves a library call) for all but the sign of a zero.
inline float larger_number(float a, float b) { return b > a || std::isnan(a) ? b : a; }

// The scales of the beam, the caustic phases of the ray and the lengths and search radii of its
// segments.
inline BeamScales prepare_beam(const std::vector<RayState>& states, const BeamLaunch& launch,
                               GeometricBeamScratch& ws) {
  const std::size_t n = states.size();
  const float abs_cos_beta = std::fabs(std::cos(launch.elevation_rad));
  const float c0 = states.front().c;
  const float norm = std::sqrt(abs_cos_beta) *
                     std::sqrt(launch.d_azimuth_rad * launch.d_elevation_rad) / c0 / kTwoPi *
                     launch.gain;
  const BeamScales scales{norm,
                          {launch.d_elevation_rad / c0, launch.d_azimuth_rad * abs_cos_beta / c0}};
  // the square root is monotone and correctly rounded, so the largest column norm of a segment
  // is the root of the largest square, taken once; NaN is ignored
  const auto square_norm = [](Vec2 q) { return q.x * q.x + q.y * q.y; };
  const auto largest_square = [&scales, square_norm](const RayState& st) {
    return larger_number(square_norm(scales.q.x * st.q1), square_norm(scales.q.y * st.q2));
  };
  // the caustic phases and the squares in one pass over the states, then the roots four at a
  // time, each lane rounded as std::sqrt rounds: a root per segment would wait on the one before
  const std::size_t padded = (n - 1 + 3) / 4 * 4;
  ws.kmah.resize(n);
  ws.segment_length_sq.resize(padded);
  ws.segment_length.resize(padded);
  ws.segment_radius.resize(padded);
  float* const width_sq = ws.segment_radius.data();  // the squares, until the radii replace them
  float kmah = 0.0f;
  ws.kmah[0] = kmah;
  float before = det_q(states[0]);
  float square_a = largest_square(states[0]);
  for (std::size_t s = 0; s + 1 < n; ++s) {
    const RayState& next = states[s + 1];
    const float now = det_q(next);
    const bool caustic = (now <= 0.0f && before > 0.0f) || (now >= 0.0f && before < 0.0f);
    kmah = caustic ? kmah + kHalfPi : kmah;
    ws.kmah[s + 1] = kmah;
    before = now;
    const float square_b = largest_square(next);
    width_sq[s] = larger_number(square_a, square_b);
    square_a = square_b;
    const Vec3 d = next.pos - states[s].pos;
    ws.segment_length_sq[s] = dot(d, d);
  }
  for (std::size_t s = n - 1; s < padded; ++s) ws.segment_length_sq[s] = width_sq[s] = 0.0f;
  for (std::size_t s = 0; s < padded; s += 4) {
    const Float4 length = lane_sqrt(load_float4(&ws.segment_length_sq[s]));
    const Float4 width = broadcast4(kWidthFactor) * lane_sqrt(load_float4(width_sq + s));
    const Float4 radius = length / broadcast4(2.0f) + width + broadcast4(kRadiusMargin);
    std::memcpy(&ws.segment_length[s], &length, sizeof length);
    std::memcpy(&ws.segment_radius[s], &radius, sizeof radius);
  }
  return scales;
}

// Segments shorter than this take no receivers.
inline bool takes_receivers(float length_sq, float length) {
  return !(length_sq < kMinSegmentLengthSq || length <= kMinSegmentLength);
}

// The ray as the stretches read it: its states, the beam's scales, the caustic phases and the
// search widths of its segments.
struct ScaledRay {
  const std::vector<RayState>& states;
  const GeometricBeamScratch& ws;
  BeamScales scales;
  const float* absorbed = nullptr;  // the water's absorption per state and frequency, if any
  std::size_t nf = 0;               // frequencies per state in it
  float* start_losses = nullptr;    // the loss at the start of the segment under way (nf)
};

// The ray as its receivers read it: the stretches' view, where contributions go, and the array
// receivers' index and the region gathered from it near the segments under way.
struct GeometricRay {
  ScaledRay scaled;
  FieldSink sink;
  const ReceiverIndex& index;
  GatheredReceivers& region;
};

// Whether the segment from state k - 1 to state k continues, as a straight line, the stretch of
// the ray that starts at state `first`: no reflection, and the slowness, sound
// speed, rotation, P, amplitude and phase all as at `first`, so that the sound speed did not
// change along it and Q, the travel time and the position change in proportion to arc length. The
// caustic phase is unchanged and det Q keeps its sign at every state, as it does at `first`.
inline bool continues_straight(const ScaledRay& ray, std::size_t first, std::size_t k) {
  const RayState& start = ray.states[first];
  const RayState& next = ray.states[k];
  const float det_first = det_q(start);
  const float det_next = det_q(next);
  const bool same_side =
      (det_first > 0.0f && det_next > 0.0f) || (det_first < 0.0f && det_next < 0.0f);
  return !reflects(ray.states[k - 1], next) && same_side && ray.ws.kmah[k] == ray.ws.kmah[first] &&
         next.slowness == start.slowness && next.c == start.c && next.phi == start.phi &&
         next.p1 == start.p1 && next.p2 == start.p2 &&
         scaled_amp(next, ray.scales) == scaled_amp(start, ray.scales) && next.phase == start.phase;
}

// Segments first..last of a ray (segment i runs from state i - 1 to state i), summed as one from
// state first - 1 to state last, and the search radius of the whole.
struct Stretch {
  std::size_t first = 0;
  std::size_t last = 0;
  float radius = 0.0f;     // the largest of its segments' radii (m)
  float length_sq = 0.0f;  // |d|^2 of the whole, from state first - 1 to state last (m^2)
  float length = 0.0f;     // |d| (m)
};

// Segment k alone: its radius and length, as prepare_beam worked them out.
inline Stretch single_segment(const ScaledRay& ray, std::size_t k) {
  return Stretch{k, k, ray.ws.segment_radius[k - 1], ray.ws.segment_length_sq[k - 1],
                 ray.ws.segment_length[k - 1]};
}

// The stretch that begins with segment `first`: up to kLongestStretch straight segments that each
// take receivers, or the segment alone. Along such a stretch Q and the travel time are linear in
// arc length, so interpolating them between its ends gives what its segments give, up to rounding,
// and it is searched once instead of once per segment.
inline Stretch straight_stretch(const ScaledRay& ray, std::size_t first) {
  Stretch stretch = single_segment(ray, first);
  if (!takes_receivers(stretch.length_sq, stretch.length) ||
      !continues_straight(ray, first - 1, first)) {
    return stretch;
  }
  const std::size_t n = ray.states.size();
  for (std::size_t k = first + 1; k < n && k - first < kLongestStretch; ++k) {
    if (!continues_straight(ray, first - 1, k)) break;
    const Stretch next = single_segment(ray, k);
    if (!takes_receivers(next.length_sq, next.length)) break;
    stretch.last = k;
    stretch.radius = larger_number(stretch.radius, next.radius);
  }
  if (stretch.last != first) {
    const Vec3 d = ray.states[stretch.last].pos - ray.states[first - 1].pos;
    stretch.length_sq = dot(d, d);
    stretch.length = std::sqrt(stretch.length_sq);
  }
  return stretch;
}

// Writes the segment from state i to state j in place: built in a temporary, its copy stalled on
// store forwarding.
inline void make_segment(const ScaledRay& ray, std::size_t i, std::size_t j, const Stretch& stretch,
                         const Vec3* shared_next_d, BeamSegment& seg) {
  const RayState& a = ray.states[i];
  const RayState& b = ray.states[j];
  const Vec2 scale = ray.scales.q;
  const Vec2 a_q1 = scale.x * a.q1, a_q2 = scale.y * a.q2;
  // A reflection moves B back onto the boundary: the segment then runs along the incident ray,
  // whose basis is A's, not B's reflected one (which would tilt the normal coordinates by an
  // amount that depends on where the step happened to cross the boundary).
  const RayState& frame = reflects(a, b) ? a : b;
  const RayBasis basis = ray_basis(frame.slowness, frame.c, frame.phi);
  seg.start = a.pos;
  seg.end = b.pos;
  seg.d = b.pos - a.pos;
  seg.length_sq = stretch.length_sq;
  seg.radius = stretch.radius;
  seg.radius_sq = stretch.radius * stretch.radius;
  seg.q1_start = a_q1;
  seg.q1_change = scale.x * b.q1 - a_q1;
  seg.q2_start = a_q2;
  seg.q2_change = scale.y * b.q2 - a_q2;
  seg.a = &a;
  seg.b = &b;
  seg.absorbed_start = nullptr;
  if (ray.absorbed != nullptr) {
    seg.absorbed_start = ray.absorbed + i * ray.nf;
    seg.absorbed_end = ray.absorbed + j * ray.nf;
    seg.start_losses = ray.start_losses;
    for (std::size_t k = 0; k < ray.nf; ++k) ray.start_losses[k] = std::exp(-seg.absorbed_start[k]);
  }
  seg.det_q_start = det_q(a);
  seg.phase_start = a.phase + ray.ws.kmah[i];
  seg.tau_start = a.tau;
  seg.tau_change = b.tau - a.tau;
  seg.amp_end = scaled_amp(b, ray.scales);
  seg.e1 = basis.e1;
  seg.e2 = basis.e2;
  seg.shares_end = shared_next_d != nullptr;
  if (seg.shares_end) seg.next_d = *shared_next_d;
}

// The receivers of one stretch, from state stretch.first - 1 to state stretch.last. Most stretches
// reach no receiver, so their segment is only worked out for the first one; the receivers that
// come one by one are tested four at a time all the same.
template <class Tally>
struct StretchReceivers {
  const ScaledRay& ray;
  const FieldSink& sink;
  std::size_t first;
  const Stretch& stretch;
  std::optional<Stretch>& ahead;  // the next stretch, once the segment has worked it out
  GatheredReceivers& region;
  const ReceiverIndex& index;
  Tally& tally;
  const SegmentReach& reach;  // what the search bounds the stretch's receivers by
  BeamSegment seg;            // written by make_ready before it is read
  bool seg_ready = false;
  CandidateLanes candidates;

  StretchReceivers(const GeometricRay& ray_, const Stretch& stretch_, const SegmentReach& reach_,
                   std::optional<Stretch>& ahead_, Tally& tally_)
      : ray(ray_.scaled),
        sink(ray_.sink),
        first(stretch_.first),
        stretch(stretch_),
        ahead(ahead_),
        region(ray_.region),
        index(ray_.index),
        tally(tally_),
        reach(reach_) {}

  void make_ready() {
    if (seg_ready) return;
    const std::size_t j = stretch.last;
    const RayState& a = ray.states[first - 1];
    const RayState& b = ray.states[j];
    // the next segment of the same leg, when there is one that takes receivers
    Vec3 next_d{};
    bool shares_end = false;
    if (!reflects(a, b) && j + 1 < ray.states.size()) {
      ahead = straight_stretch(ray, j + 1);
      next_d = ray.states[ahead->last].pos - b.pos;
      // A next segment that turns back (rounding can put a reflection up to a few mm behind the
      // state before it) takes only its own slab, not all beyond its start.
      shares_end =
          takes_receivers(ahead->length_sq, ahead->length) && dot(next_d, b.pos - a.pos) > 0.0f;
    }
    make_segment(ray, first - 1, j, stretch, shares_end ? &next_d : nullptr, seg);
    seg_ready = true;
  }
  void add(const ReceiverLanes& lanes) {
    const unsigned taken = sink.arrivals != nullptr
                               ? add_receiver_contributions<Gathering::On>(seg, lanes, sink)
                               : add_receiver_contributions<Gathering::Off>(seg, lanes, sink);
    tally.add(lanes.lanes, taken);
  }
  void flush() {
    add({load_float4(candidates.x), load_float4(candidates.y), load_float4(candidates.z),
         (1u << candidates.count) - 1u, candidates.cells});
    candidates.count = 0;
  }
  void visit(Vec3 x, std::size_t cell) {
    make_ready();
    candidates.add(x, cell);
    if (candidates.count == 4) flush();
  }
  // The array receivers near a bounded reach, through the index and its gathered regions. A
  // straight stretch of several steps is searched alone: the stretch after it begins where a region
  // gathered along it would end, or leaves it at a reflection.
  void visit_indexed() {
    const std::size_t steps = stretch.last + 1 - first;
    const float step_m = stretch.length / static_cast<float>(steps);
    visit_indexed_array_lanes(
        reach, step_m, [this, steps] { return steps > 1 || reflects_into_straight(); }, index,
        region,
        [this](const PackedPoints& points, const std::vector<std::size_t>& ids, std::size_t k,
               unsigned bits) { visit_lanes(points, ids, k, bits); });
  }
  // Whether the stretch ends at a reflection followed by straight steps, which will be searched
  // alone: a region gathered along it would serve no other segment.
  bool reflects_into_straight() const {
    const std::size_t next = stretch.last + 1;
    return next + 1 < ray.states.size() &&
           reflects(ray.states[first - 1], ray.states[stretch.last]) &&
           continues_straight(ray, next, next + 1);
  }
  void visit_lanes(const PackedPoints& points, const std::vector<std::size_t>& ids, std::size_t k,
                   unsigned bits) {
    make_ready();
    std::size_t cells[4];
    for (unsigned rest = bits; rest != 0; rest &= rest - 1u) {
      const int lane = std::countr_zero(rest);
      cells[lane] = ids[k + static_cast<std::size_t>(lane)];
    }
    add({load_float4(points.x.data() + k), load_float4(points.y.data() + k),
         load_float4(points.z.data() + k), bits, cells});
  }
  void finish() {
    if (candidates.count > 0) flush();
  }
};

// The geometric beam of one ray as the beam walk cuts it: into straight stretches, each searched
// by Search, its receivers' contributions told to the tally.
template <class Search, class Tally>
struct GeometricBeam {
  const GeometricRay& ray;
  const PressureField& field;
  Tally& tally;
  std::optional<Stretch> ahead;  // the next stretch, when a segment worked it out

  Stretch piece_from(std::size_t i) {
    const Stretch stretch = ahead ? *ahead : straight_stretch(ray.scaled, i);
    ahead.reset();
    return stretch;
  }
  std::optional<SearchArea> search(const Stretch& stretch) const {
    const Vec3 a = ray.scaled.states[stretch.first - 1].pos;
    const Vec3 b = ray.scaled.states[stretch.last].pos;
    if (!takes_receivers(stretch.length_sq, stretch.length) ||
        Search::rules_out(field, ray.region, a, b, stretch.radius)) {
      return std::nullopt;
    }
    const Vec3 d = b - a;
    return SearchArea{Search::bounds(segment_reach(a, d, stretch.radius, stretch.length)),
                      {a, d, stretch.radius}};
  }
  StretchReceivers<Tally> receivers(const Stretch& stretch, const SearchArea& area) {
    return {ray, stretch, area.reach, ahead, tally};
  }
};

// The field sink of one ray.
inline FieldSink field_sink(const std::vector<RayState>& states, const BeamLaunch& launch,
                            const Model& model, const std::vector<Complex32>& refl,
                            BeamOutputs& out) {
  PressureField& field = out.field;
  return {field.pressure.data(), field.receiver_count(),
          field.delay_s.data(),  field.amplitude.data(),
          model.omegas.data(),   refl.data(),
          model.omegas.size(),   field.intensity.empty() ? nullptr : field.intensity.data(),
          out.arrivals,          launch.ray_index,
          states.data(),         {},
          model.max_slowness_s_m};
}

}  // namespace geometric

// The geometric beam around one ray added to the outputs, the receivers of each stretch found by
// Search, what each batch of four did told to the tally. The states are only read.
template <class Search, class Tally>
void sum_geometric_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
                        BeamScratch& scratch, BeamOutputs& out, Tally& tally) {
  using namespace geometric;
  const std::vector<RayState>& states = trace.states;
  PressureField& field = out.field;
  check_beam_field(field, model.omegas.size(), model.array_index);
  check_arrival_table(out.arrivals, field.receiver_count(), model.omegas.size());
  if (states.size() < 2) return;
  GeometricBeamScratch& ws = scratch.geometric;
  start_reflection_product(model, scratch.reflection);
  FieldSink sink = field_sink(states, launch, model, scratch.reflection.per_frequency, out);
  const BeamScales scales = prepare_beam(states, launch, ws);
  sink.q_scale = scales.q;
  ws.gathered.valid = false;  // gathered for another ray or field
  const float* absorbed = nullptr;
  if (absorbs(model.absorption)) {
    accumulate_absorption(model.absorption, states, scratch.absorbed_np);
    scratch.losses.resize(2 * model.omegas.size());
    sink.losses = scratch.losses.data();
    absorbed = scratch.absorbed_np.data();
  }
  const GeometricRay ray{{states, ws, scales, absorbed, model.omegas.size(),
                          absorbed != nullptr ? sink.losses + model.omegas.size() : nullptr},
                         sink,
                         model.array_index,
                         ws.gathered};
  GeometricBeam<Search, Tally> beam{ray, field, tally, std::nullopt};
  walk_beam(beam, trace, model, field, scratch.reflection);
}

}  // namespace abyx
