
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <limits>

#include "bty/height_cursor.h"
#include "common/constants.h"
#include "common/float4_math.h"
#include "influence/beam_image.h"
#include "influence/beam_influence.h"
#include "influence/beam_walk.h"
#include "influence/receiver_search.h"
#include "influence/reflection_product.h"
#include "influence/segment_reach.h"
#include "influence/segment_rules.h"
#include "influence/wavefront_delay.h"

namespace abyx {
namespace {

using Complex = std::complex<double>;

// Beams end where exp(-w Im(n^T M n) / 2) < e^-5 (0.7 % of their peak). The beams of a fan
// overlap many times over, so the tails cut matter little: in free water a 1.5 deg fan stays within
// 1 % of the point source's field (0.6 % with a cut at e^-6), and on the waveguides of the README
// the medians move by at most 0.02 dB, for 7 % fewer instructions of a run.
constexpr float kExponentCut = 5.0f;
// Im M is positive definite, so a beam never grows away from its ray; an exponent below -1 is the
// rounding of a large Re M into Im M in single precision, magnified by a high frequency, and
// the lane is left out rather than given a Gaussian above e.
constexpr float kGrowthCut = -1.0f;
constexpr float kReachMargin = 1.02f;     // on the larger end reach of a segment
constexpr std::size_t kRunSegments = 64;  // most segments searched together
static_assert(kRunSegments % 4 == 0, "the segments' windows are compared four at a time");
constexpr std::size_t kMostOffers = 256;  // receivers offered to a segment before it sums them
constexpr float kShortSegment = 1.0f;     // shorter segments take the tangent (m)
constexpr float kLongestReach = 1000.0f;  // most beam reaches past a reflection
// The bottom's phase slope is taken over this much grazing angle to either side (rad, 2 deg):
// wide enough to smooth the turn of the phase at the critical angle, which the beams' plane waves
// straddle.
constexpr float kPhaseSlopeStepRad = 0.035f;
constexpr float kAxisMargin = 1e-3f;    // on a segment's extent along its run's axis (m)
constexpr float kAxisRounding = 1e-5f;  // and relative to the lengths that make it

// The products are written out: std::complex<double> arithmetic without -ffast-math calls the
// library for every division.
inline Complex mul(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
inline Complex divide(Complex a, Complex b) {
  const double scale = 1.0 / (b.real() * b.real() + b.imag() * b.imag());
  return mul(a, Complex{b.real() * scale, -b.imag() * scale});
}

// Q, P and their determinant for one parameter set at one point of the ray.
struct BeamMatrices {
  Complex q11, q21, q12, q22;
  Complex p11, p21, p12, p22;
  Complex det;
};

// The columns of both solutions at a state or continued from one.
struct Solutions {
  Vec2 q1, q2, p1, p2;      // point-source solution
  Vec2 q1w, q2w, p1w, p2w;  // plane-wave solution
};

Solutions solutions_of(const RayState& s) {
  return {s.q1, s.q2, s.p1, s.p2, s.q1w, s.q2w, s.p1w, s.p2w};
}

BeamMatrices beam_matrices(const Solutions& s, Complex e1, Complex e2) {
  BeamMatrices m;
  m.q11 = Complex(s.q1.x) + e1 * double{s.q1w.x};
  m.q21 = Complex(s.q1.y) + e1 * double{s.q1w.y};
  m.q12 = Complex(s.q2.x) + e2 * double{s.q2w.x};
  m.q22 = Complex(s.q2.y) + e2 * double{s.q2w.y};
  m.p11 = Complex(s.p1.x) + e1 * double{s.p1w.x};
  m.p21 = Complex(s.p1.y) + e1 * double{s.p1w.y};
  m.p12 = Complex(s.p2.x) + e2 * double{s.p2w.x};
  m.p22 = Complex(s.p2.y) + e2 * double{s.p2w.y};
  m.det = mul(m.q11, m.q22) - mul(m.q12, m.q21);
  return m;
}

using BeamForm = CervenyBeamForm;

// The square root with a non-negative real part, written out for the same reason as the products.
Complex principal_root(Complex ratio) {
  const double modulus = std::sqrt(ratio.real() * ratio.real() + ratio.imag() * ratio.imag());
  const double re = std::sqrt(0.5 * (modulus + ratio.real()));
  const double im =
      std::copysign(std::sqrt(0.5 * std::max(modulus - ratio.real(), 0.0)), ratio.imag());
  return {re, im};
}

// Of the two roots +-root, the one nearest to `previous`: the branch followed continuously along
// the ray.
Complex nearest_branch(Complex root, Complex previous) {
  return root.real() * previous.real() + root.imag() * previous.imag() < 0.0 ? -root : root;
}

Complex continued_root(Complex ratio, Complex previous) {
  return nearest_branch(principal_root(ratio), previous);
}

// The form with the principal root; trace_beam_forms picks the branch.
BeamForm beam_form(const BeamMatrices& m, Complex eps_product) {
  const Complex inv_det = divide(Complex(1.0, 0.0), m.det);
  // P adj(Q), adj(Q) = [[q22, -q12], [-q21, q11]]
  const Complex a11 = mul(m.p11, m.q22) - mul(m.p12, m.q21);
  const Complex a12 = mul(m.p12, m.q11) - mul(m.p11, m.q12);
  const Complex a21 = mul(m.p21, m.q22) - mul(m.p22, m.q21);
  const Complex a22 = mul(m.p22, m.q11) - mul(m.p21, m.q12);
  return {mul(a11, inv_det), mul(0.5 * (a12 + a21), inv_det), mul(a22, inv_det),
          principal_root(mul(eps_product, inv_det))};
}

// The smallest eigenvalue of Im M, which sets the widest extent of the beam.
double narrowest_decay(const BeamForm& f) {
  const double a = f.m11.imag();
  const double b = f.m12.imag();
  const double d = f.m22.imag();
  return 0.5 * (a + d) - std::sqrt(0.25 * (a - d) * (a - d) + b * b);
}

// How far across the ray the beam of this form reaches at this frequency before the exponent cut;
// NaN when it does not decay.
double beam_extent(const BeamForm& f, double omega) {
  const double decay = narrowest_decay(f);
  return decay > 0.0 ? std::sqrt(2.0 * kExponentCut / (omega * decay))
                     : std::numeric_limits<double>::quiet_NaN();
}

// A segment's receivers side by side, one to a lane.
using Lanes = CervenyLanes;
using Mask = MaskOf<Lanes>;
inline Lanes fill(float s) { return lane_splat<Lanes>(s); }

// Complex numbers in lanes.
struct ComplexLanes {
  Lanes re, im;
};

inline ComplexLanes operator+(ComplexLanes a, ComplexLanes b) { return {a.re + b.re, a.im + b.im}; }
inline ComplexLanes operator*(ComplexLanes a, ComplexLanes b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline ComplexLanes operator*(Lanes s, ComplexLanes a) { return {s * a.re, s * a.im}; }
inline ComplexLanes fill_complex(Complex32 a) { return {fill(a.re), fill(a.im)}; }
inline ComplexLanes select_complex(Mask mask, ComplexLanes yes, ComplexLanes no) {
  return {lane_select(mask, yes.re, no.re), lane_select(mask, yes.im, no.im)};
}

// The beam form at a segment's receivers.
struct BeamFormLanes {
  ComplexLanes m11, m12, m22, root;
};

inline Complex32 to_complex32(Complex a) {
  return {static_cast<float>(a.real()), static_cast<float>(a.imag())};
}

CervenySegmentForm segment_form(const BeamForm& a, const BeamForm& b) {
  return {to_complex32(a.m11),
          to_complex32(a.m12),
          to_complex32(a.m22),
          to_complex32(a.root),
          to_complex32(b.m11 - a.m11),
          to_complex32(b.m12 - a.m12),
          to_complex32(b.m22 - a.m22),
          to_complex32(b.root - a.root),
          to_complex32(a.m11 + a.m22),
          to_complex32(mul(a.m11, a.m22) - mul(a.m12, a.m12)),
          to_complex32(mul(a.root, a.root))};
}

// The form at the fractions t of the way from A to B.
BeamFormLanes mixed_form(const CervenySegmentForm& f, Lanes t) {
  const auto mix = [t](Complex32 a, Complex32 d) { return fill_complex(a) + t * fill_complex(d); };
  return {mix(f.m11, f.d11), mix(f.m12, f.d12), mix(f.m22, f.d22), mix(f.root, f.droot)};
}

// The root of z nearest to `previous`, lane by lane, as continued_root.
[[gnu::always_inline]] inline ComplexLanes continued_root_lanes(ComplexLanes z,
                                                                ComplexLanes previous) {
  const Lanes modulus = lane_sqrt(z.re * z.re + z.im * z.im);
  const Lanes re = lane_sqrt(fill(0.5f) * (modulus + z.re));
  const Lanes gap = fill(0.5f) * (modulus - z.re);
  const Lanes im = lane_copysign(lane_sqrt(lane_select(gap > fill(0.0f), gap, fill(0.0f))), z.im);
  const Mask flip = re * previous.re + im * previous.im < fill(0.0f);
  return {lane_select(flip, -re, re), lane_select(flip, -im, im)};
}

// The form continued straight from A by h = c ds, as continue_form; inlined, as its form is
// larger than its work when passed back through memory.
[[gnu::always_inline]] inline BeamFormLanes continued_form(const CervenySegmentForm& f, Lanes h) {
  const ComplexLanes det = fill_complex(f.det);
  const ComplexLanes growth =
      ComplexLanes{fill(1.0f), fill(0.0f)} + h * fill_complex(f.trace) + (h * h) * det;
  const Lanes scale = fill(1.0f) / (growth.re * growth.re + growth.im * growth.im);
  const ComplexLanes inv{growth.re * scale, -growth.im * scale};
  const ComplexLanes h_det = h * det;
  return {(fill_complex(f.m11) + h_det) * inv, fill_complex(f.m12) * inv,
          (fill_complex(f.m22) + h_det) * inv,
          continued_root_lanes(fill_complex(f.root_sq) * inv, fill_complex(f.root))};
}

// The parameter sets of one ray: one shared by every frequency, or one per frequency. The
// parameters are -i times a positive real, so that every beam starts with a plane wavefront
// (Re M = 0) and decays away from its ray (Im M > 0).
std::size_t choose_parameters(const BeamSettings& beam, const BeamLaunch& launch, double c0,
                              std::span<const float> omegas, std::vector<Complex>& eps) {
  const double min_width = c0 * beam.max_range_m;  // narrowest at max_range_m
  const BeamWidthRule rule = beam.resolved_beam_width;
  const float half_width_m = beam.beam_width_m.value_or(0.0f);
  eps.clear();
  if (rule == BeamWidthRule::MinWidth) {
    eps.assign(2, Complex(0.0, -min_width));
    return 1;
  }
  const double spacing[2] = {launch.d_elevation_rad,
                             launch.d_azimuth_rad * std::fabs(std::cos(launch.elevation_rad))};
  for (const float signed_omega : omegas) {
    const float omega = std::fabs(signed_omega);  // a negative frequency: its positive one's beams
    for (const double d : spacing) {
      double e = min_width;  // for a direction without a spacing, and unused at frequency zero
      if (omega > 0.0f && rule == BeamWidthRule::SpaceFilling && d > 0.0) {
        e = 2.0 * c0 * c0 / (omega * d * d);  // spreads at the fan's spacing far from the source
      } else if (omega > 0.0f && rule == BeamWidthRule::HalfWidth) {
        e = 0.5 * omega * double{half_width_m} * half_width_m;
      }
      eps.emplace_back(0.0, -e);
    }
  }
  return omegas.size();
}

// The form of the beam continued straight by h = c ds from the form f, as in a homogeneous medium:
// Q grows by h P, so M becomes M (I + h M)^-1 = (M + h det(M) I) / det(I + h M), and det Q grows by
// det(I + h M) = 1 + h tr(M) + h^2 det(M).
BeamForm continue_form(const BeamForm& f, double h) {
  const Complex det = mul(f.m11, f.m22) - mul(f.m12, f.m12);
  const Complex growth = Complex(1.0, 0.0) + h * (f.m11 + f.m22) + (h * h) * det;
  const Complex inv = divide(Complex(1.0, 0.0), growth);
  return {mul(f.m11 + h * det, inv), mul(f.m12, inv), mul(f.m22 + h * det, inv),
          continued_root(mul(mul(f.root, f.root), inv), f.root)};
}

// How far past the reflection that made state `after` of the ray, if any, the leg along the unit
// direction `along` reaches (m).
float reach_past_reflection(const RayTrace& trace, std::size_t after, Vec3 along, float reach) {
  Vec3 normal{0.0f, 0.0f, 1.0f};
  if (const BottomHit* hit = bottom_hit_at(trace.bottom_hits, after)) normal = hit->normal;
  const float sine = std::fabs(dot(along, normal));
  return reach * std::min(kLongestReach, 1.0f / sine);
}

// What the ray's point-source solution says of a receiver off the ray by n = (n1, n2): the travel
// time on the wavefront through it, tau + n^T P Q^-1 n / 2, and the Gaussian weight of its distance
// in ray-tube widths, exp(-|Q^-1 n|^2 / 2) with Q's columns scaled to the fan's spacings (0 where
// the tube has no width).
struct PointSourceView {
  float delay;
  double tube_weight;
};

// Where a receiver lies against segment A..B: its foot at fraction t of the segment, or, continued,
// straight on from A by h (c times the arc length); its offset (n1, n2) from the ray; the travel
// time tau of its foot.
struct OffRay {
  bool continued;
  float t;
  double h;
  double n1, n2;
  float tau;
};

PointSourceView view_from_point_source(const RayState& a, const RayState& b, const OffRay& off,
                                       Vec2 tube_scale, float max_slowness) {
  const float t = off.t;
  const double h = off.h;
  const double n1 = off.n1;
  const double n2 = off.n2;
  const float tau = off.tau;
  Vec2 q1, q2, p1, p2;
  if (off.continued) {  // straight on from A: Q grows by c ds P
    p1 = a.p1;
    p2 = a.p2;
    q1 = a.q1 + static_cast<float>(h) * a.p1;
    q2 = a.q2 + static_cast<float>(h) * a.p2;
  } else {
    p1 = a.p1 + t * (b.p1 - a.p1);
    p2 = a.p2 + t * (b.p2 - a.p2);
    q1 = a.q1 + t * (b.q1 - a.q1);
    q2 = a.q2 + t * (b.q2 - a.q2);
  }
  const double det = double{q1.x} * q2.y - double{q1.y} * q2.x;
  const double quadratic = curvature_term<double>({q1, q2, p1, p2}, det, n1, n2);
  const float delay =
      std::isfinite(quadratic)
          ? bounded_delay(tau, 0.5 * quadratic, static_cast<float>(std::sqrt(n1 * n1 + n2 * n2)),
                          max_slowness)
          : tau;
  // gamma = (Q diag(s1, s2))^-1 n
  const double scaled_det = det * tube_scale.x * tube_scale.y;
  const double g1 = tube_scale.y * (double{q2.y} * n1 - double{q2.x} * n2) / scaled_det;
  const double g2 = tube_scale.x * (double{q1.x} * n2 - double{q1.y} * n1) / scaled_det;
  const double weight = std::exp(-0.5 * (g1 * g1 + g2 * g2));
  return {delay, std::isfinite(weight) ? weight : 0.0};
}

// The lowest frequency other than 0 sets the search and the arrival amplitude; without one (the
// list's size) the beams add nothing, their weight being proportional to the frequency. A negative
// frequency gives the conjugate of its positive one's field.
std::size_t reference_frequency(std::span<const float> omegas) {
  const std::size_t nf = omegas.size();
  std::size_t k_ref = nf;
  for (std::size_t k = 0; k < nf; ++k) {
    const float w = std::fabs(omegas[k]);
    if (w > 0.0f && (k_ref == nf || w < std::fabs(omegas[k_ref]))) k_ref = k;
  }
  return k_ref;
}

// A leg's beam mirrored in a boundary it passes within reach of without reflecting from it: the
// plane, and the reflection it counts as in the arrivals.
struct BeamImage {
  BeamMirror mirror;
  std::uint32_t surface = 0, bottom = 0;  // reflections added
};

// One ray's complex-Q beam as its segments read it: the ray, the outputs, the beam's parameter
// sets and its working arrays, and the factors fixed by the launch.
struct ComplexQRay {
  const RayTrace& trace;
  const std::vector<RayState>& states;
  const Model& model;
  BeamOutputs& out;
  ComplexQBeamScratch& ws;
  ReflectionProduct& reflection;
  std::uint64_t ray_index = 0;
  std::size_t k_ref = 0;  // the reference frequency
  std::size_t sets = 0;   // parameter sets: 1, or one per frequency
  float weight = 0.0f;    // dOmega / (2 pi c0)
  float inv_c0 = 0.0f;
  // The intensity of a beam: the ray tube's intensity spread over the beam's squared Gaussian
  // |exp(i w n^T M n / 2)|^2, normalised to unit integral, pi / (w sqrt(det Im M)), over the
  // plane across the ray. Summed over the fan, the rays' density brings in the tube's spreading,
  // so one path adds its |p|^2 without its rays being told apart from other paths', and a beam's
  // squared Gaussian is as narrow as the beam itself, unlike the tube's at coarse fans.
  float intensity_weight = 0.0f;    // dOmega / pi
  float* intensity = nullptr;       // the field's, when the run sums intensities
  const float* absorbed = nullptr;  // the water's absorption per state and frequency, if any
  // the ray tube's widths per unit of Q's columns, as the fan spaces its rays
  Vec2 tube_scale{};
  const FanFill* fan_fill = nullptr;  // per frequency, 1 where the fan's beams meet
  const BeamImage* image = nullptr;   // while a leg's image is summed
};

double omega_of_set(const ComplexQRay& ray, std::size_t m) {
  const std::span<const float> omegas = ray.model.omegas;
  return std::fabs(double{ray.sets == 1 ? omegas[ray.k_ref] : omegas[m]});
}

// Per state: the form of each set, with its root continued along the ray, and the beam's reach
// across the ray. The states' forms do not wait on each other; only the branches of the roots are
// followed one state after another.
void trace_beam_forms(const ComplexQRay& ray) {
  const std::size_t n = ray.states.size();
  const std::size_t sets = ray.sets;
  ComplexQBeamScratch& ws = ray.ws;
  ws.beam_forms.resize(n * sets);
  ws.beam_reach.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Solutions s = solutions_of(ray.states[i]);
    float reach = 0.0f;
    for (std::size_t m = 0; m < sets; ++m) {
      const Complex e1 = ws.beam_eps[2 * m];
      const Complex e2 = ws.beam_eps[2 * m + 1];
      const BeamForm& form = ws.beam_forms[i * sets + m] =
          beam_form(beam_matrices(s, e1, e2), mul(e1, e2));
      const double omega = omega_of_set(ray, m);
      if (!(omega > 0.0)) continue;
      // NaN, when the beam has no decay, makes the segments on either side unreachable (and
      // stays NaN whatever the other sets' extents)
      const double extent = beam_extent(form, omega);
      reach = std::isnan(extent) ? static_cast<float>(extent)
                                 : std::max(reach, static_cast<float>(extent));
    }
    ws.beam_reach[i] = reach;
  }
  for (std::size_t m = 0; m < sets; ++m) {
    Complex previous(1.0, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      Complex& root = ws.beam_forms[i * sets + m].root;
      root = nearest_branch(root, previous);
      previous = root;
    }
  }
}

// The reach across the ray of the beams continued straight from state `from` by ds; NaN when one
// of them has no decay there.
float continued_reach(const ComplexQRay& ray, std::size_t from, float ds) {
  const double h = double{ray.states[from].c} * ds;
  float reach = 0.0f;
  for (std::size_t m = 0; m < ray.sets; ++m) {
    const double omega = omega_of_set(ray, m);
    if (!(omega > 0.0)) continue;
    const double extent =
        beam_extent(continue_form(ray.ws.beam_forms[from * ray.sets + m], h), omega);
    if (std::isnan(extent)) return std::numeric_limits<float>::quiet_NaN();
    reach = std::max(reach, static_cast<float>(extent));
  }
  return reach;
}

// One segment's share: where its receivers lie along it and across it, and its ends' bases.
struct Segment {
  std::size_t end = 0;  // index of the end state
  Vec3 along;           // unit direction
  float length = 0.0f;
  float s_lo = 0.0f, s_hi = 0.0f;  // the window of foot points along `along` (m)
  float radius_sq = 0.0f;
  bool ends_reflected = false;
  bool continues = false;   // reaches past a reflection at either end
  bool shares_end = false;  // the next segment follows on the same leg, along next_along
  Vec3 next_along;
  RayBasis basis_a, basis_b;
};

// The segment's search radius: straight on, a beam narrows towards its waist and widens past it,
// so the widest point of a window continued from one state is one of its ends; without that
// bound, the window's half length widens the radius instead.
float segment_radius(const ComplexQRay& ray, const Segment& g, float reach) {
  float across = reach;
  const float lo_reach =
      g.s_lo < 0.0f ? kReachMargin * continued_reach(ray, g.end - 1, g.s_lo) : 0.0f;
  const float hi_reach =
      g.ends_reflected ? kReachMargin * continued_reach(ray, g.end - 1, g.s_hi) : 0.0f;
  if (std::isfinite(lo_reach) && std::isfinite(hi_reach)) {
    across = std::max({across, lo_reach, hi_reach}) + g.length / 2.0f;
  } else {
    across += (g.s_hi - g.s_lo) / 2.0f;
  }
  return across + kRadiusMargin;
}

// A leg of the ray between reflections is one image of the beam: near a reflection its straight
// continuation still reaches the water, so the leg's end segments reach on past the reflection
// points. At a grazing reflection the neighbouring rays of the fan meet the boundary a long way
// off, so the continuation reaches reach / sin(grazing angle), up to kLongestReach reaches.
// Beyond a reflection, and on the whole segment that ends at one (its end state already holds
// the reflected solutions), the beam continues from the state at the leg's side as in a
// homogeneous medium: Q + c P ds, tau + ds / c. Returns false for a segment that takes nothing.
bool make_segment(const ComplexQRay& ray, std::size_t i, Segment& g) {
  const std::vector<RayState>& states = ray.states;
  const RayState& a = states[i - 1];
  const RayState& b = states[i];
  const Vec3 d = b.pos - a.pos;
  g.end = i;
  g.length = std::sqrt(dot(d, d));
  const float reach = kReachMargin * std::max(ray.ws.beam_reach[i - 1], ray.ws.beam_reach[i]);
  g.ends_reflected = reflects(a, b);
  const bool starts_reflected = i >= 2 && reflects(states[i - 2], a);
  g.continues = g.ends_reflected || starts_reflected;
  // a short segment beside a reflection still carries the leg on past it
  if (!(g.length > kMinSegmentLength || g.continues) || !std::isfinite(reach) ||
      !std::isfinite(g.length)) {
    return false;
  }
  g.along = g.length >= kShortSegment ? (1.0f / g.length) * d : a.c * a.slowness;
  g.shares_end = false;
  if (!g.ends_reflected && i + 1 < states.size()) {
    // the next segment's direction, as it works it out
    const Vec3 next_d = states[i + 1].pos - b.pos;
    const float next_length = std::sqrt(dot(next_d, next_d));
    g.shares_end = next_length > kMinSegmentLength || reflects(b, states[i + 1]);
    g.next_along = next_length >= kShortSegment ? (1.0f / next_length) * next_d : b.c * b.slowness;
  }
  // behind the leg's image source the continuation would arrive before the launch
  g.s_lo = starts_reflected
               ? std::max(-reach_past_reflection(ray.trace, i - 1, g.along, reach), -a.tau * a.c)
               : 0.0f;
  g.s_hi =
      g.length + (g.ends_reflected ? reach_past_reflection(ray.trace, i, g.along, reach) : 0.0f);
  const float radius = segment_radius(ray, g, reach);
  g.radius_sq = radius * radius;
  g.basis_a = ray_basis(a.slowness, a.c, a.phi);
  g.basis_b = ray_basis(b.slowness, b.c, b.phi);
  return true;
}

// What a segment's receiver tests hold fixed: its start A and its direction, in lanes.
struct SegmentFrame {
  Lanes ax, ay, az, ux, uy, uz;
  float inv_length;
};

// A segment's offered receivers from `first` in its offers, one to a lane: which lanes it takes,
// which of them the beam reaches continued straight from A, and where they lie along and across it.
struct SegmentLanes {
  std::size_t first = 0;
  float phase = 0.0f;  // boundary phase of A (rad)
  unsigned lanes = 0;
  Mask continued;
  unsigned continued_lanes = 0;
  Lanes t, h, n1, n2, tau, c_ratio, amplitude;
  // b: the turn of the grazing angle on the bottom per unit of each slowness component across the
  // ray, when the bottom's phase slopes are kept (rad s^-1 m)
  Lanes turn1, turn2;
  Lanes along;                        // where the foot lies along the segment, 0 at A and 1 at B
  const float* absorbed_a = nullptr;  // the water's absorption (Np) at A per frequency, if any
  const float* absorbed_b = nullptr;  // and at B
};

// The tests of the offered receivers from lanes.first; false when the segment takes none.
bool test_lanes(const ComplexQRay& ray, const Segment& g, const SegmentFrame& f,
                const CervenyOffers& offers, SegmentLanes& l) {
  const RayState& a = ray.states[g.end - 1];
  const RayState& b = ray.states[g.end];
  const std::size_t first = l.first;
  const Lanes x = load_lanes<Lanes>(offers.x.data() + first);
  const Lanes y = load_lanes<Lanes>(offers.y.data() + first);
  const Lanes z = load_lanes<Lanes>(offers.z.data() + first);
  const Lanes s = (x - f.ax) * f.ux + (y - f.ay) * f.uy + (z - f.az) * f.uz;
  Mask take = (s >= fill(g.s_lo)) & (s <= fill(g.s_hi));
  if (g.shares_end) take &= ~taken_by_next(x, y, z, b.pos, g.next_along);
  const Lanes dx = x - (f.ax + s * f.ux), dy = y - (f.ay + s * f.uy), dz = z - (f.az + s * f.uz);
  take &= dx * dx + dy * dy + dz * dz <= fill(g.radius_sq);
  l.lanes = lane_bits(take);
  const std::size_t end = offers.count;
  if (end - first < kCervenyLanes) l.lanes &= (1u << (end - first)) - 1u;  // the padding
  if (l.lanes == 0) return false;
  // beyond a reflection, and along a segment that ends at one, the beam continues from A
  const Mask continued = g.ends_reflected ? fill(0.0f) == fill(0.0f) : s < fill(0.0f);
  l.continued = continued;
  l.continued_lanes = lane_bits(continued) & l.lanes;
  const Lanes along = s * fill(f.inv_length);
  l.along = along;
  if (ray.absorbed != nullptr) {
    const std::size_t nf = ray.model.omegas.size();
    l.absorbed_a = ray.absorbed + (g.end - 1) * nf;
    l.absorbed_b = ray.absorbed + g.end * nf;
  }
  // the basis of A beyond a reflection and along a segment that ends at one, of B within it; lanes
  // all on one side take that side's values without working out the other's
  const unsigned side = l.continued_lanes == 0 ? 1u : (l.continued_lanes == l.lanes ? 2u : 0u);
  const auto pick = [continued, side](float at_a, float at_b) {
    if (side != 0u) return fill(side == 1u ? at_b : at_a);
    return lane_select(continued, fill(at_a), fill(at_b));
  };
  l.n1 = dx * pick(g.basis_a.e1.x, g.basis_b.e1.x) + dy * pick(g.basis_a.e1.y, g.basis_b.e1.y) +
         dz * pick(g.basis_a.e1.z, g.basis_b.e1.z);
  l.n2 = dx * pick(g.basis_a.e2.x, g.basis_b.e2.x) + dy * pick(g.basis_a.e2.y, g.basis_b.e2.y) +
         dz * pick(g.basis_a.e2.z, g.basis_b.e2.z);
  Lanes c;
  if (side == 2u) {
    // continued from A: c stays a.c, in every lane
    const float c_ratio = a.c * ray.inv_c0;
    l.t = fill(0.0f);
    l.tau = fill(a.tau) + s * fill(1.0f / a.c);
    c = fill(a.c);
    l.c_ratio = fill(c_ratio);
    l.amplitude = fill(ray.weight * std::sqrt(c_ratio));
  } else {
    const Lanes within = lane_select(along < fill(1.0f), along, fill(1.0f));
    l.t = side == 1u ? within : lane_select(continued, fill(0.0f), within);
    const Lanes tau_within = fill(a.tau) + l.t * fill(b.tau - a.tau);
    const Lanes c_within = fill(a.c) + l.t * fill(b.c - a.c);
    l.tau = side == 1u ? tau_within
                       : lane_select(continued, fill(a.tau) + s * fill(1.0f / a.c), tau_within);
    c = side == 1u ? c_within : lane_select(continued, fill(a.c), c_within);
    l.c_ratio = c * fill(ray.inv_c0);
    l.amplitude = fill(ray.weight) * lane_sqrt(l.c_ratio);
  }
  l.h = fill(a.c) * s;
  l.phase = a.phase;
  if (!ray.reflection.phase_slope.empty()) {
    // sin(theta) = |t_z| for the tangent t; turned by c dp across it, dtheta = sign(t_z) c dp_z /
    // cos(theta)
    const float cosine = std::sqrt(std::max(0.0f, 1.0f - g.along.z * g.along.z));
    const Lanes scale = c * fill(std::copysign(1.0f, g.along.z) / cosine);
    l.turn1 = scale * pick(g.basis_a.e1.z, g.basis_b.e1.z);
    l.turn2 = scale * pick(g.basis_a.e2.z, g.basis_b.e2.z);
  }
  return true;
}

// The beam form of one set at the lanes: continued straight from A, or mixed between A and B.
BeamFormLanes form_at(const CervenySegmentForm& f, const SegmentLanes& l) {
  if (l.continued_lanes == 0) return mixed_form(f, l.t);
  if (l.continued_lanes == l.lanes) return continued_form(f, l.h);
  const BeamFormLanes on = continued_form(f, l.h), within = mixed_form(f, l.t);
  return BeamFormLanes{select_complex(l.continued, on.m11, within.m11),
                       select_complex(l.continued, on.m12, within.m12),
                       select_complex(l.continued, on.m22, within.m22),
                       select_complex(l.continued, on.root, within.root)};
}

// One parameter set's beam at the lanes: its form, n^T M n, the delay on its wavefront, the
// lanes where both are finite and, for the intensity, the spread of its squared Gaussian.
struct SetLanes {
  BeamFormLanes form;
  ComplexLanes w;
  Lanes tau_beam;
  Mask valid;
  Lanes spread;
};

SetLanes set_lanes(const ComplexQRay& ray, const SegmentLanes& l, const CervenySegmentForm& f) {
  SetLanes v;
  v.form = form_at(f, l);
  const Lanes n11 = l.n1 * l.n1, n12 = fill(2.0f) * l.n1 * l.n2, n22 = l.n2 * l.n2;
  v.w = n11 * v.form.m11 + n12 * v.form.m12 + n22 * v.form.m22;
  v.tau_beam = l.tau + fill(0.5f) * v.w.re;
  v.valid = lane_finite(v.tau_beam) & lane_finite(v.form.root.re);
  v.spread = fill(0.0f);
  if (ray.intensity != nullptr) {
    const Lanes det = v.form.m11.im * v.form.m22.im - v.form.m12.im * v.form.m12.im;
    v.spread = fill(ray.intensity_weight) * (l.c_ratio * l.c_ratio) *
               lane_sqrt(lane_select(det > fill(0.0f), det, fill(0.0f)));
  }
  return v;
}

// A beam is made of plane waves, and those turned from its ray by dtheta meet the bottom at
// other grazing angles, where its phase differs by g dtheta for the sum g of the bottom hits' phase
// slopes: at a receiver off the ray by n, the beam's wave has the slowness M n across the ray
// (complex, as its phase and decay), so dtheta = b^T M n. Its phase factor exp(i g b^T M n) is the
// beam displaced across its ray by n0 = g b / w, up to a constant that the displaced beam does not
// have, exp(-i w n0^T M n0 / 2): together, exp(i g (b^T M n + g b^T M b / (2 w))), which the
// lanes take as a phase and a decay beside their own.
struct Displacement {
  Lanes phase, decay;  // the factor exp(i phase - decay)
};

Displacement displacement_by_reflections(const ComplexQRay& ray, const SegmentLanes& l,
                                         const SetLanes& v, std::size_t k, bool conjugate,
                                         float omega) {
  const std::vector<float>& slopes = ray.reflection.phase_slope;
  if (slopes.empty() || slopes[k] == 0.0f) return {Lanes{}, Lanes{}};
  const Lanes g = fill(conjugate ? -slopes[k] : slopes[k]);
  const ComplexLanes d_theta = l.turn1 * (l.n1 * v.form.m11 + l.n2 * v.form.m12) +
                               l.turn2 * (l.n1 * v.form.m12 + l.n2 * v.form.m22);
  const ComplexLanes b_m_b = (l.turn1 * l.turn1) * v.form.m11 +
                             (fill(2.0f) * l.turn1 * l.turn2) * v.form.m12 +
                             (l.turn2 * l.turn2) * v.form.m22;
  const ComplexLanes turn = d_theta + (g / fill(2.0f * omega)) * b_m_b;
  return {g * turn.re, g * turn.im};
}

// The travel times the lanes report from their beam's own wavefront tau_wave, tau + Re(n^T M n) /
// 2, bounded as reported_delay bounds them; the beam's phase keeps the unbounded ones.
Lanes beam_delays(const ComplexQRay& ray, const SegmentLanes& l, Lanes tau_wave) {
  return reported_delay(l.tau, tau_wave, l.n1 * l.n1 + l.n2 * l.n2, ray.model.max_slowness_s_m);
}

// Frequency k's beam added at the lanes it reaches, with what the arrivals take of it kept.
void add_frequency(const ComplexQRay& ray, const SegmentLanes& l, const SetLanes& v, std::size_t k,
                   const CervenyOffers& offers) {
  const float signed_omega = ray.model.omegas[k];
  const float omega = std::fabs(signed_omega);
  const bool conjugate = signed_omega < 0.0f;
  if (!(omega > 0.0f)) return;
  const Lanes exponent = fill(0.5f * omega) * v.w.im;
  const unsigned reached =
      lane_bits(v.valid & (exponent <= fill(kExponentCut)) & (exponent >= fill(kGrowthCut))) &
      l.lanes;
  if (reached == 0 && ray.out.arrivals == nullptr) return;
  const Displacement shift = displacement_by_reflections(ray, l, v, k, conjugate, omega);
  // the Gaussian and the displacement's decay in one exponential, and their phases in one turn
  const Lanes shaped = lane_exp(-(exponent + shift.decay));
  // i w / (2 pi c0): the plane-wave start's factor, a quarter turn ahead; a beam narrower than its
  // cell of the fan weighs only the angles it covers
  const float weighed_omega = omega * ray.fan_fill[k].field;
  const Lanes unabsorbed = l.amplitude * fill(weighed_omega) * shaped;
  Lanes loss = fill(1.0f);
  if (l.absorbed_a != nullptr) {
    // the water's loss up to the foot, taken along the segment (and on past its ends)
    const float start = l.absorbed_a[k];
    loss = lane_exp(-(fill(start) + l.along * fill(l.absorbed_b[k] - start)));
  }
  const Lanes magnitude = l.absorbed_a != nullptr ? unabsorbed * loss : unabsorbed;
  Lanes sine, cosine;
  lane_sincos(fill(omega) * v.tau_beam - fill(l.phase) + shift.phase, sine, cosine);
  // the reflections of a negative frequency are the conjugates of its positive one's
  const Complex32 r = ray.reflection.per_frequency[k];
  const ComplexLanes root = v.form.root;
  ComplexLanes beam = (fill_complex(conjugate ? conj(r) : r) * root) *
                      ComplexLanes{-magnitude * sine, magnitude * cosine};
  if (conjugate) beam.im = -beam.im;
  if (ray.out.arrivals != nullptr) {
    ray.ws.lane_values[k] = {v.tau_beam, magnitude, root.re, root.im, shift.phase, reached};
  }
  Lanes share{};
  if (ray.intensity != nullptr) {
    const Lanes gaussian = lane_exp(-exponent);
    share = v.spread * (fill(omega * ray.fan_fill[k].intensity) * gaussian * gaussian);
  }
  if (l.absorbed_a != nullptr) share = share * (loss * loss);
  // the earliest arrival's amplitude carries neither the boundaries' nor the water's losses
  const Lanes arrival_amplitude =
      k != ray.k_ref ? Lanes{} : unabsorbed * lane_sqrt(root.re * root.re + root.im * root.im);
  const Lanes delays = k == ray.k_ref ? beam_delays(ray, l, v.tau_beam) : Lanes{};
  PressureField& field = ray.out.field;
  const std::size_t stride = field.receiver_count();
  for (unsigned bits = reached; bits != 0; bits &= bits - 1u) {
    const int lane = std::countr_zero(bits);
    const std::size_t cell = offers.cells[l.first + lane];
    Complex32& p = field.pressure[k * stride + cell];
    p = p + Complex32{beam.re[lane], beam.im[lane]};
    if (ray.intensity != nullptr && std::isfinite(share[lane])) {
      ray.intensity[k * stride + cell] += (r.re * r.re + r.im * r.im) * share[lane];
    }
    // a beam of no weight (a fan without spacing, a width that underflows) arrives nowhere
    if (k == ray.k_ref && arrival_amplitude[lane] > 0.0f) {
      record_arrival(field.delay_s[cell], field.amplitude[cell], delays[lane],
                     arrival_amplitude[lane]);
    }
  }
}

// Each receiver's path, by the delay and magnitude of the reference frequency's set, and the
// contributions referred to that path's reference delay, one receiver after another; a receiver
// no frequency reached adds no path.
void gather_lane_arrivals(const ComplexQRay& ray, const Segment& g, const SegmentLanes& l,
                          const CervenyOffers& offers) {
  const RayState& a = ray.states[g.end - 1];
  const RayState& b = ray.states[g.end];
  const std::span<const float> omegas = ray.model.omegas;
  const std::vector<Complex32>& refl = ray.reflection.per_frequency;
  const std::vector<CervenyLaneValues>& values = ray.ws.lane_values;
  unsigned reached_any = 0;
  for (const CervenyLaneValues& kept : values) reached_any |= kept.reached;
  const CervenyLaneValues& ref = values[ray.k_ref];
  const Lanes own_delays = beam_delays(ray, l, ref.delay);
  for (unsigned bits = l.lanes & reached_any; bits != 0; bits &= bits - 1u) {
    const int lane = std::countr_zero(bits);
    const std::size_t cell = offers.cells[l.first + lane];
    const double magnitude = double{ref.magnitude[lane]} *
                             std::hypot(ref.root_re[lane], ref.root_im[lane]) *
                             std::hypot(refl[ray.k_ref].re, refl[ray.k_ref].im);
    const PointSourceView view = view_from_point_source(
        a, b, {l.continued[lane] != 0, l.t[lane], l.h[lane], l.n1[lane], l.n2[lane], l.tau[lane]},
        ray.tube_scale, ray.model.max_slowness_s_m);
    // far outside the ray tube the point source's wavefront is no guide to the delay (it
    // diverges near the source and at caustics), so a tail takes its beam's own
    const float delay = view.tube_weight >= kOutlyingWeight ? view.delay : own_delays[lane];
    if (!std::isfinite(delay) || !(magnitude > 0.0 && std::isfinite(magnitude))) continue;
    const BeamImage* image = ray.image;
    const ArrivalSlot slot =
        gather_arrival(*ray.out.arrivals, cell,
                       {delay, static_cast<float>(magnitude * view.tube_weight),
                        static_cast<float>(magnitude), ray.ray_index, g.end,
                        image != nullptr ? mirror_direction(image->mirror, g.along) : g.along,
                        a.n_surface + (image != nullptr ? image->surface : 0),
                        a.n_bottom + (image != nullptr ? image->bottom : 0)});
    if (slot.bin == nullptr) continue;
    for (std::size_t k = 0; k < omegas.size(); ++k) {
      const CervenyLaneValues& kept = values[k];
      if ((kept.reached & (1u << lane)) == 0) continue;
      const bool conjugate = omegas[k] < 0.0f;
      const float theta = std::fabs(omegas[k]) * (kept.delay[lane] - slot.bin->reference_s) -
                          a.phase + kept.turn[lane];
      const float size = kept.magnitude[lane];
      const Complex32 referred = Complex32{kept.root_re[lane], kept.root_im[lane]} *
                                 Complex32{-size * std::sin(theta), size * std::cos(theta)};
      Complex32 term = (conjugate ? conj(refl[k]) : refl[k]) * referred;
      if (conjugate) term.im = -term.im;
      slot.sums[k] = slot.sums[k] + term;
    }
  }
}

// The receivers that segment g is offered, a lane's worth at a time: each lane tests, and where it
// takes its receiver adds the beam, as the others do theirs.
void add_segment(const ComplexQRay& ray, const Segment& g, const CervenyOffers& offers) {
  const RayState& a = ray.states[g.end - 1];
  const std::size_t sets = ray.sets;
  ComplexQBeamScratch& ws = ray.ws;
  CervenySegmentForm* const forms = ws.segment_forms.data();
  for (std::size_t m = 0; m < sets; ++m) {
    forms[m] = segment_form(ws.beam_forms[(g.end - 1) * sets + m], ws.beam_forms[g.end * sets + m]);
  }
  const SegmentFrame frame{fill(a.pos.x),   fill(a.pos.y),   fill(a.pos.z),  fill(g.along.x),
                           fill(g.along.y), fill(g.along.z), 1.0f / g.length};
  const std::size_t nf = ray.model.omegas.size();
  SegmentLanes l;
  for (l.first = 0; l.first < offers.count; l.first += kCervenyLanes) {
    if (!test_lanes(ray, g, frame, offers, l)) continue;
    for (CervenyLaneValues& kept : ws.lane_values) kept.reached = 0;
    for (std::size_t m = 0; m < sets; ++m) {
      const SetLanes v = set_lanes(ray, l, forms[m]);
      const std::size_t k_first = sets == 1 ? 0 : m;
      const std::size_t k_last = sets == 1 ? nf : m + 1;
      for (std::size_t k = k_first; k < k_last; ++k) add_frequency(ray, l, v, k, offers);
    }
    if (ray.out.arrivals != nullptr) gather_lane_arrivals(ray, g, l, offers);
  }
}

// One search around a run's chord: the cylinder that holds every segment's, and where along its
// axis each segment can take a receiver.
struct RunSearch {
  Vec3 start;  // of the search, on the axis (m)
  Vec3 d;      // along the axis, to the search's end (m)
  Vec3 axis;   // unit
  float radius = 0.0f;
  SegmentReach reach;
  float cylinder_sq = 0.0f;  // the squared radius a receiver found must lie within
  // the windows of foot points along the axis; those past the run's end are empty, so that the
  // windows are compared four at a time
  std::array<float, kRunSegments> axis_lo, axis_hi;
  // the windows of each four segments together, so that a receiver skips the fours it is not in
  std::array<float, kRunSegments / 4> four_lo, four_hi;
};

// Every segment's cylinder lies within the run's, widened by how far the run's states stray from
// the chord and lengthened by how far its segments' discs tilt past the ends.
RunSearch run_cylinder(const ComplexQRay& ray, const std::array<Segment, kRunSegments>& run,
                       std::size_t count) {
  const std::vector<RayState>& states = ray.states;
  const Segment& first = run[0];
  const Segment& last = run[count - 1];
  const Vec3 start = states[first.end - 1].pos + first.s_lo * first.along;
  const Vec3 finish = states[last.end - 1].pos + last.s_hi * last.along;
  const Vec3 chord = finish - start;
  const float chord_length = std::sqrt(dot(chord, chord));
  float radius = 0.0f;
  float tilt = 0.0f;
  const Vec3 axis = chord_length > 0.0f ? (1.0f / chord_length) * chord : first.along;
  for (std::size_t j = 0; j < count; ++j) {
    const Vec3 off = states[run[j].end].pos - start;
    const Vec3 across = off - dot(off, axis) * axis;
    const float stray = std::sqrt(dot(across, across));
    const float own = std::sqrt(run[j].radius_sq);
    radius = std::max(radius, own + stray);
    const Vec3 bend = cross(run[j].along, axis);
    tilt = std::max(tilt, own * std::sqrt(dot(bend, bend)));
  }
  RunSearch search;
  search.start = start - tilt * axis;
  search.d = (chord_length + 2.0f * tilt) * axis;
  search.axis = axis;
  search.radius = radius + kRadiusMargin;
  search.reach = segment_reach(search.start, search.d, search.radius);
  // The searches return the run's box, or more; only its cylinder can hold a segment's
  // receivers, with a margin for the rounding of this test and of the segments' own.
  const float cylinder = search.reach.radius + search.reach.margin;
  search.cylinder_sq =
      search.reach.bounded ? cylinder * cylinder : std::numeric_limits<float>::infinity();
  return search;
}

// Where along the axis each segment can take a receiver: its window's foot points, widened by how
// far its disc tilts against the axis and by the rounding of both projections. Each receiver
// found is offered to those segments only.
void axis_windows(const ComplexQRay& ray, const std::array<Segment, kRunSegments>& run,
                  std::size_t count, RunSearch& search) {
  search.axis_lo.fill(std::numeric_limits<float>::infinity());
  search.axis_hi.fill(-std::numeric_limits<float>::infinity());
  const Vec3 axis = search.axis;
  for (std::size_t j = 0; j < count; ++j) {
    const Segment& g = run[j];
    const float at = dot(ray.states[g.end - 1].pos - search.start, axis);
    const float slope = dot(g.along, axis);
    const float own = std::sqrt(g.radius_sq);
    const Vec3 bend = cross(g.along, axis);
    const float slack = own * std::sqrt(dot(bend, bend)) + kAxisMargin +
                        kAxisRounding * (std::fabs(at) + own + g.s_hi - g.s_lo);
    search.axis_lo[j] = at + std::min(g.s_lo * slope, g.s_hi * slope) - slack;
    search.axis_hi[j] = at + std::max(g.s_lo * slope, g.s_hi * slope) + slack;
  }
  for (std::size_t q = 0; q < kRunSegments / 4; ++q) {
    const auto lo = search.axis_lo.begin() + 4 * q;
    const auto hi = search.axis_hi.begin() + 4 * q;
    search.four_lo[q] = *std::min_element(lo, lo + 4);
    search.four_hi[q] = *std::max_element(hi, hi + 4);
  }
}

// Wide beams reach far across their ray, so neighbouring segments share most receivers: the
// segments of a leg are searched together in runs, one search around the run's chord, each
// receiver found then offered to the segments whose stretch of the chord holds it.
struct RunOffers {
  const ComplexQRay& ray;
  const std::array<Segment, kRunSegments>& run;
  std::size_t count;
  const RunSearch& search;
  // for a leg's image: the mirror, and the reach of the mirrored run that finds its receivers
  const BeamMirror* mirror = nullptr;
  const SegmentReach* image_reach = nullptr;

  // a full list is summed at once, so that the lists stay small however many receivers a run finds
  void offer_to(std::size_t j, Vec3 x, std::size_t cell) {
    CervenyOffers& offers = ray.ws.offers[j];
    if (offers.count == kMostOffers) {
      add_segment(ray, run[j], offers);
      offers.count = 0;
    }
    offers.add(x, cell);
  }
  // Calls take(j, lanes) for each segment j, in order, whose window holds the distance t along
  // the axis of one of the lanes `bits`: the fours of segments first, then their segments.
  template <class V, class Take>
  void for_each_window_holding(V t, unsigned bits, Take&& take) const {
    const auto holding = [t](float lo, float hi) {
      return lane_bits((t >= lane_splat<V>(lo)) & (t <= lane_splat<V>(hi)));
    };
    for (std::size_t q = 0; 4 * q < count; ++q) {
      const unsigned in_four = bits & holding(search.four_lo[q], search.four_hi[q]);
      if (in_four == 0) continue;
      for (std::size_t j = 4 * q; j < 4 * q + 4; ++j) {
        const unsigned lanes = in_four & holding(search.axis_lo[j], search.axis_hi[j]);
        if (lanes != 0) take(j, lanes);
      }
    }
  }
  // each receiver to the segments whose windows hold its distance t along the axis
  void offer(Vec3 x, std::size_t cell) {
    if (count == 1) {  // a segment alone tests its own window
      offer_to(0, x, cell);
      return;
    }
    for_each_window_holding(broadcast4(dot(x - search.start, search.axis)), 1u,
                            [&](std::size_t j, unsigned) { offer_to(j, x, cell); });
  }

  // a receiver a search found, offered when it lies inside the run's cylinder; for an image, its
  // mirror point takes its place
  void visit(Vec3 x, std::size_t cell) {
    if (mirror != nullptr) x = mirror_point(*mirror, x);
    const SegmentReach& reach = search.reach;
    const Vec3 off = x - reach.start;
    const Vec3 across = off - dot(off, reach.axis) * reach.axis;
    if (dot(across, across) <= search.cylinder_sq) offer(x, cell);
  }
  // A run's reach is far longer and wider than a segment's, so a region gathered for the runs
  // ahead would span kilometres to either side of an oblique run: the index is asked for each
  // run's own cylinder instead.
  void visit_indexed() {
    const SegmentReach& reach = image_reach != nullptr ? *image_reach : search.reach;
    for_each_receiver_lanes_in_reach<Lanes>(ray.model.array_index, reach, search.cylinder_sq,
                                            [this](const ReceiverGrid& grid, std::size_t k,
                                                   unsigned bits) { offer_lanes(grid, k, bits); });
  }
  // at most how many receivers more the fullest list can take without being summed
  std::size_t room = 0;

  // Whether every segment's list has room for a lane group more, so that none is summed before
  // the group's receivers have been offered; the lists are counted again only when one more group
  // could fill one.
  bool lists_have_room() {
    if (room < kCervenyLanes) {
      room = kMostOffers;
      for (std::size_t j = 0; j < count; ++j)
        room = std::min(room, kMostOffers - ray.ws.offers[j].count);
      if (room < kCervenyLanes) return false;
    }
    room -= kCervenyLanes;
    return true;
  }
  // The index's receivers k + j of the bits j, a group of up to kCervenyLanes. Without an image and
  // while the lists have room, they go to the lists together: to a segment alone all of them, to
  // the segments of a run those in their windows, as offer would give them one by one (each list
  // receives them in the same order, and none is summed in between).
  void offer_lanes(const ReceiverGrid& grid, std::size_t k, unsigned bits) {
    if (mirror == nullptr && lists_have_room()) {
      const std::size_t* const ids = grid.receivers.data();
      if (count == 1) {
        ray.ws.offers[0].add_lanes(grid.points, ids, k, bits);
        return;
      }
      const auto along = [&](const std::vector<float>& v, float start, float axis) {
        return (load_lanes<Lanes>(v.data() + k) - fill(start)) * fill(axis);
      };
      const Lanes t = along(grid.points.x, search.start.x, search.axis.x) +
                      along(grid.points.y, search.start.y, search.axis.y) +
                      along(grid.points.z, search.start.z, search.axis.z);
      for_each_window_holding(t, bits, [&](std::size_t j, unsigned lanes) {
        ray.ws.offers[j].add_lanes(grid.points, ids, k, lanes);
      });
      return;
    }
    room = 0;  // the lists fill and are summed one receiver at a time
    for (; bits != 0; bits &= bits - 1u) {
      const std::size_t i = k + static_cast<std::size_t>(std::countr_zero(bits));
      const Vec3 p = grid.points.at(i);
      offer(mirror != nullptr ? mirror_point(*mirror, p) : p, grid.receivers[i]);
    }
  }
};

// The receivers of one run, offered to its segments as the search finds them, the rest summed
// once it is done.
struct RunReceivers {
  RunOffers offers;

  void visit(Vec3 x, std::size_t cell) { offers.visit(x, cell); }
  void visit_indexed() { offers.visit_indexed(); }
  void finish() {
    for (std::size_t j = 0; j < offers.count; ++j) {
      CervenyOffers& left = offers.ray.ws.offers[j];
      if (left.count > 0) add_segment(offers.ray, offers.run[j], left);
    }
  }
};

// Segments first..last of a ray, searched together as one run; none (count 0) for a segment alone
// that takes nothing.
struct Run {
  std::size_t last = 0;
  std::size_t count = 0;
};

// The complex-Q beam of one ray as the beam walk cuts it: into runs of segments, each searched
// once around its chord.
struct ComplexQBeam {
  ComplexQRay& ray;
  std::array<Segment, kRunSegments> run;
  RunSearch run_search;
  BeamImage image;
  SegmentReach image_reach;

  // Up to kRunSegments valid segments of one leg, from segment i on. Only the last can end at a
  // reflection, and one that reaches past a reflection stands alone. A segment that takes nothing
  // is a run of its own, without segments.
  Run piece_from(std::size_t i) {
    const std::size_t n = ray.states.size();
    std::size_t count = 0;
    for (; i < n && count < kRunSegments; ++i) {
      Segment& g = run[count];
      if (!make_segment(ray, i, g)) {
        if (count > 0) break;  // made again by the next run
        return {i, 0};
      }
      if (count > 0 && g.continues) break;
      ++count;
      if (g.continues) {
        ++i;
        break;
      }
    }
    return {i - 1, count};
  }
  std::optional<SearchArea> search(const Run& piece) {
    if (piece.count == 0) return std::nullopt;
    run_search = run_cylinder(ray, run, piece.count);
    axis_windows(ray, run, piece.count, run_search);
    return SearchArea{run_search.reach, {run_search.start, run_search.d, run_search.radius}};
  }
  RunReceivers receivers(const Run& piece, const SearchArea&) {
    for (std::size_t j = 0; j < piece.count; ++j) ray.ws.offers[j].count = 0;
    return {{ray, run, piece.count, run_search}};
  }

  // A leg that passes within its beam's reach of a boundary without reflecting from it at either
  // end has no neighbouring leg whose straight continuation is its mirror image there, so the
  // image is summed from the leg itself: each receiver is taken at its mirror point, with the
  // boundary's reflection coefficient at the leg's grazing angle. None when the leg reflects from
  // the boundary or the run cannot reach it. Called after search(piece).
  std::optional<SearchArea> image_search(const Run& piece, Boundary boundary) {
    if (piece.count == 0) return std::nullopt;
    const bool surface = boundary == Boundary::Surface;
    const std::uint8_t reflects_there =
        surface ? kLegStartsAtSurface | kLegEndsAtSurface : kLegStartsAtBottom | kLegEndsAtBottom;
    if ((ray.ws.leg_ends[run[0].end] & reflects_there) != 0) return std::nullopt;
    // the plane touching the boundary under the middle of the run: the flat surface is z = 0
    const RayState& middle = ray.states[(run[0].end + piece.last) / 2];
    const HeightGrid* grid =
        surface ? (ray.model.surface ? &*ray.model.surface : nullptr) : &ray.model.bty.grid;
    HeightSample plane{0.0f, {0.0f, 0.0f, 1.0f}};
    if (grid != nullptr) {
      if (grid->depth.empty()) return std::nullopt;  // a model without that boundary
      plane = sample_height_from_cursor(middle.pos, *grid, init_height_cursor(middle.pos, *grid));
    }
    const BeamMirror mirror{{middle.pos.x, middle.pos.y, plane.depth}, plane.normal};
    const Vec3 from = run_search.start;
    const Vec3 to = run_search.start + run_search.d;
    const float nearest = std::min(std::fabs(dot(from - mirror.point, mirror.normal)),
                                   std::fabs(dot(to - mirror.point, mirror.normal)));
    if (!(nearest <= run_search.radius)) return std::nullopt;
    image = {mirror, surface ? 1u : 0u, surface ? 0u : 1u};
    weigh_image(run[0].along, middle.c, boundary);
    ray.image = &image;
    const Vec3 start = mirror_point(mirror, from);
    const Vec3 d = mirror_direction(mirror, run_search.d);
    image_reach = segment_reach(start, d, run_search.radius);
    return SearchArea{image_reach, {start, d, run_search.radius}};
  }
  RunReceivers image_receivers(const Run& piece) {
    for (std::size_t j = 0; j < piece.count; ++j) ray.ws.offers[j].count = 0;
    return {{ray, run, piece.count, run_search, &image.mirror, &image_reach}};
  }
  void end_image() {
    ray.image = nullptr;
    std::swap(ray.reflection, ray.ws.image_product);
  }

  // The product the image carries: the piece's, times -1 at a pressure-release surface, else the
  // boundary's coefficient for a ray along `along` meeting it; the piece's own is kept aside
  // meanwhile.
  void weigh_image(Vec3 along, float c, Boundary boundary) {
    ray.ws.image_product = ray.reflection;
    const bool surface = boundary == Boundary::Surface;
    if (surface && !ray.model.surface_table) {
      for (Complex32& r : ray.reflection.per_frequency) r = Complex32{-r.re, -r.im};
      return;
    }
    // the mirror's normal points down at both boundaries; the hit's points out of the water
    const Vec3 normal = surface ? -1.0f * image.mirror.normal : image.mirror.normal;
    // the incident direction heads out of the water, whichever way the leg runs
    const Vec3 incident = dot(along, normal) < 0.0f ? mirror_direction(image.mirror, along) : along;
    weigh_hit({normal, (1.0f / c) * incident, c}, boundary, ray.model, ray.reflection);
  }
};

// The shares of its cell of the fan that a beam weighs in the field and in the intensity: 1 where
// the cell's sides are within the frequency's, below where the fan is coarser than its beams. Such
// a fan leaves gaps between its beams, and says so; each beam keeps the field on itself.
FanFill fan_fill(const BeamLaunch& launch, const FanCellSides& sides) {
  constexpr double kSpacingTolerance = 1e-6;  // the gaps' warning's own
  const double spacing[2] = {launch.d_elevation_rad,
                             launch.d_azimuth_rad * std::fabs(std::cos(launch.elevation_rad))};
  const double largest[2] = {sides.field, sides.intensity};
  double fill[2] = {1.0, 1.0};
  for (int m = 0; m < 2; ++m) {
    for (const double d : spacing) {
      if (d > largest[m] * (1.0 + kSpacingTolerance)) fill[m] *= largest[m] / d;  // false for NaN
    }
  }
  return {static_cast<float>(fill[0]), static_cast<float>(fill[1])};
}

// The factors of one ray's beam that its launch fixes.
void launch_factors(const BeamLaunch& launch, double c0, ComplexQRay& ray) {
  const double solid_angle = double{launch.d_elevation_rad} * launch.d_azimuth_rad *
                             std::fabs(std::cos(double{launch.elevation_rad}));
  ray.weight = static_cast<float>(solid_angle / (2.0 * kPiDouble * c0) * launch.gain);
  ray.inv_c0 = static_cast<float>(1.0 / c0);
  ray.intensity_weight = static_cast<float>(solid_angle / kPiDouble * launch.gain * launch.gain);
  ray.tube_scale = {static_cast<float>(launch.d_elevation_rad / c0),
                    static_cast<float>(launch.d_azimuth_rad *
                                       std::fabs(std::cos(double{launch.elevation_rad})) / c0)};
}

}  // namespace

void add_complex_q_beam(const RayTrace& trace, const BeamLaunch& launch, const Model& model,
                        BeamScratch& scratch, BeamOutputs& out) {
  const std::vector<RayState>& states = trace.states;
  PressureField& field = out.field;
  const std::size_t nf = model.omegas.size();
  check_beam_field(field, nf, model.array_index);
  check_arrival_table(out.arrivals, field.receiver_count(), nf);
  const std::size_t k_ref = reference_frequency(model.omegas);
  if (states.size() < 2 || k_ref == nf) return;

  ComplexQBeamScratch& ws = scratch.complex_q;
  ComplexQRay ray{trace, states, model, out, ws, scratch.reflection, launch.ray_index, k_ref};
  const double c0 = states.front().c;
  ray.sets = choose_parameters(model.beam, launch, c0, model.omegas, ws.beam_eps);
  trace_beam_forms(ray);
  ws.segment_forms.resize(ray.sets);
  ws.offers.resize(kRunSegments);
  if (out.arrivals != nullptr) ws.lane_values.resize(nf);
  start_reflection_product(model, scratch.reflection);
  keep_reflection_slopes(model, kPhaseSlopeStepRad, scratch.reflection);
  launch_factors(launch, c0, ray);
  ws.fan_fill.resize(nf);
  // a model without the table weighs every cell in full
  const std::vector<FanCellSides>& sides = model.fan_cell_sides;
  for (std::size_t k = 0; k < nf; ++k) {
    ws.fan_fill[k] = fan_fill(launch, k < sides.size() ? sides[k] : FanCellSides{});
  }
  ray.fan_fill = ws.fan_fill.data();
  ray.intensity = field.intensity.empty() ? nullptr : field.intensity.data();
  if (absorbs(model.absorption)) {
    accumulate_absorption(model.absorption, states, scratch.absorbed_np);
    ray.absorbed = scratch.absorbed_np.data();
  }
  mark_leg_ends(states, ws.leg_ends);
  ComplexQBeam beam{ray, {}, {}, {}, {}};
  walk_beam(beam, trace, model, field, scratch.reflection);
}

}  // namespace abyx
