#include "reflect/bottom_reflection_coefficient.h"

#include <cmath>
#include <complex>

#include "common/constants.h"

namespace abyx {
namespace {

constexpr float kNepersPerDecibel = 0.115129255f;  // ln(10) / 20
constexpr float kTiny = 1e-12f;  // below this a length or denominator counts as zero

inline float magnitude(Complex32 a) { return std::hypot(a.re, a.im); }

// Complex quotient a / b, scaled by the larger part of b so that large coefficients (high
// frequencies on a solid bottom) do not overflow the squared magnitude.
inline Complex32 divide(Complex32 a, Complex32 b) {
  if (std::abs(b.re) >= std::abs(b.im)) {
    const float r = b.im / b.re;
    const float d = b.re + b.im * r;
    return {(a.re + a.im * r) / d, (a.im - a.re * r) / d};
  }
  const float r = b.re / b.im;
  const float d = b.re * r + b.im;
  return {(a.re * r + a.im) / d, (a.im * r - a.re) / d};
}

// Complex wave speed of a bottom wave of real speed c_b (m/s) with attenuation alpha (dB per
// wavelength) at angular frequency w (rad/s, >= 0).
Complex32 complex_speed(float c_b, float alpha, float w) {
  float delta = 0.0f;  // nepers per metre
  if (c_b > 0.0f && alpha > 0.0f) {
    const float f = w / kTwoPi;
    const float wavelength = c_b / f;
    delta = alpha * kNepersPerDecibel / wavelength;
  }
  if (delta > 0.0f) {
    const float k_r = w / c_b;
    const float d = k_r * k_r + delta * delta;
    return {w * k_r / d, w * -delta / d};
  }
  return {c_b, 0.0f};
}

// Square root of k_t^2 - k^2 with a positive imaginary part, or a zero imaginary part and a
// non-positive real part. A lossless bottom beyond the critical angle therefore gets the root that
// the lossy one tends to as its attenuation vanishes (the field decaying into the bottom), so the
// phase of total reflection does not flip sign between "no loss" and "a little loss".
Complex32 vertical_root(float kt2, Complex32 k) {
  const Complex32 k2 = k * k;
  const float x = kt2 - k2.re;
  const float y = 0.0f - k2.im;
  Complex32 root;
  if (y == 0.0f) {
    root = std::signbit(x) ? Complex32{0.0f, std::sqrt(-x)} : Complex32{std::sqrt(x), y};
  } else if (x == 0.0f) {
    const float s = std::sqrt(std::abs(y) / 2.0f);
    root = {s, y > 0.0f ? s : -s};
  } else {
    const float r = std::sqrt(std::hypot(x, y));
    const float theta = std::atan2(y, x) / 2.0f;
    root = {r * std::cos(theta), r * std::sin(theta)};
  }
  if (root.im < 0.0f || (root.im == 0.0f && root.re > 0.0f)) root = {-root.re, -root.im};
  return root;
}

using ComplexD = std::complex<double>;

ComplexD complex_speed_d(double c_b, double alpha, double w) {
  const double delta =
      c_b > 0.0 && alpha > 0.0 ? alpha * kNepersPerDecibel * w / (kTwoPi * c_b) : 0.0;
  if (!(delta > 0.0)) return {c_b, 0.0};
  const double k_r = w / c_b;
  const double d = k_r * k_r + delta * delta;
  return {w * k_r / d, w * -delta / d};
}

ComplexD vertical_root_d(double kt2, ComplexD k) {
  ComplexD root = std::sqrt(ComplexD(kt2, 0.0) - k * k);
  if (root.imag() < 0.0 || (root.imag() == 0.0 && root.real() > 0.0)) root = -root;
  return root;
}

// The coefficient again in double precision, at the angular frequency that gives the water a
// wavenumber of 1: it does not depend on the frequency, and the single-precision terms overflow at
// very high frequencies or with very slow bottom waves. pn, pt: the incident direction's cosine
// and sine to the normal.
Complex32 reflection_in_double(const BottomParams& bottom, double pn, double pt, double rho_water,
                               double c_water) {
  const double w = c_water;
  const double k_n = pn * w / c_water;
  const double k_t = pt * w / c_water;
  const double kt2 = k_t * k_t;
  const double rho_b = bottom.density_g_cm3;
  const ComplexD k_p = w / complex_speed_d(bottom.compressional_speed_m_s,
                                           bottom.compressional_attenuation_db_per_wavelength, w);
  const ComplexD gamma_p = vertical_root_d(kt2, k_p);
  ComplexD t1 = rho_water * gamma_p;
  ComplexD t2(0.0, k_n * rho_b);
  if (bottom.kind == BottomKind::Elastic) {
    const ComplexD c_s =
        complex_speed_d(bottom.shear_speed_m_s, bottom.shear_attenuation_db_per_wavelength, w);
    const ComplexD k_s = w / c_s;
    const ComplexD gamma_s = vertical_root_d(kt2, k_s);
    const ComplexD ks2 = k_s * k_s;
    const ComplexD lead = 2.0 * kt2 - ks2;
    const ComplexD b = lead * lead - 4.0 * kt2 * gamma_s * gamma_p;
    t1 = rho_water * (w * w) * ks2 * gamma_p;
    t2 = ComplexD(0.0, k_n * rho_b) * (c_s * c_s) * b;
  }
  const ComplexD r = (t2 - t1) / (t2 + t1);
  return {static_cast<float>(r.real()), static_cast<float>(r.imag())};
}

}  // namespace

Complex32 compute_bottom_reflection_coefficient(const BottomParams& bottom, const BottomHit& hit,
                                                float rho_water, float omega) {
  const Vec3 normal = hit.normal;
  const Vec3 slowness_in = hit.slowness_in;
  const float c_water = hit.c;
  const Complex32 one{1.0f, 0.0f};
  const float normal_length = norm(normal);
  if (omega == 0.0f || bottom.kind == BottomKind::Rigid || normal_length <= kTiny) return one;
  if (bottom.kind == BottomKind::Table) {
    // the table holds the coefficient of a positive frequency
    const Complex32 r =
        evaluate_reflection_table(bottom.table, grazing_angle_rad(slowness_in, normal));
    return omega < 0.0f ? conj(r) : r;
  }

  // incidence: the slowness rescaled to 1 / c_water, split along and across the unit normal
  const float w = std::abs(omega);
  const Vec3 n_hat{normal.x / normal_length, normal.y / normal_length, normal.z / normal_length};
  const float slowness_length = norm(slowness_in);
  const float s = slowness_length > kTiny ? 1.0f / c_water / slowness_length : 1.0f;
  const Vec3 p = s * slowness_in;
  const float pn = dot(n_hat, p);
  const float k_n = w * pn;
  const float k_t = w * norm(p - pn * n_hat);
  const float kt2 = k_t * k_t;

  const float rho_b = bottom.density_g_cm3;
  const Complex32 k_p =
      divide({w, 0.0f}, complex_speed(bottom.compressional_speed_m_s,
                                      bottom.compressional_attenuation_db_per_wavelength, w));
  const Complex32 gamma_p = vertical_root(kt2, k_p);

  Complex32 t1;
  Complex32 t2;
  if (bottom.kind == BottomKind::Acoustic) {
    t1 = rho_water * gamma_p;
    t2 = {0.0f, k_n * rho_b};
  } else {
    const Complex32 c_s =
        complex_speed(bottom.shear_speed_m_s, bottom.shear_attenuation_db_per_wavelength, w);
    const Complex32 k_s = divide({w, 0.0f}, c_s);
    const Complex32 gamma_s = vertical_root(kt2, k_s);
    const Complex32 ks2 = k_s * k_s;
    const Complex32 lead = Complex32{2.0f * kt2, 0.0f} - ks2;
    const Complex32 b = lead * lead - ((4.0f * kt2) * gamma_s) * gamma_p;
    t1 = ((rho_water * (w * w)) * ks2) * gamma_p;
    t2 = (Complex32{0.0f, k_n * rho_b} * (c_s * c_s)) * b;
  }

  const Complex32 sum = t2 + t1;
  if (!std::isfinite(sum.re) || !std::isfinite(sum.im)) {
    const double tangential = norm(p - pn * n_hat);
    const Complex32 r = reflection_in_double(bottom, pn * double{c_water}, tangential * c_water,
                                             rho_water, c_water);
    return omega < 0.0f ? conj(r) : r;
  }
  if (magnitude(sum) <= kTiny) return one;
  Complex32 r = divide(t2 - t1, sum);
  if (omega < 0.0f) r = conj(r);
  if (magnitude(r) < kTiny) return {0.0f, 0.0f};
  return r;
}

}  // namespace abyx
