#pragma once

namespace abyx {

// A single-precision complex number stored as (re, im), the layout of every pressure array.
struct Complex32 {
  float re = 0.0f;  // real part
  float im = 0.0f;  // imaginary part
};

constexpr Complex32 operator+(Complex32 a, Complex32 b) { return {a.re + b.re, a.im + b.im}; }
constexpr Complex32 operator-(Complex32 a, Complex32 b) { return {a.re - b.re, a.im - b.im}; }
constexpr Complex32 operator*(Complex32 a, Complex32 b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
constexpr Complex32 operator*(float s, Complex32 a) { return {s * a.re, s * a.im}; }
constexpr bool operator==(Complex32 a, Complex32 b) { return a.re == b.re && a.im == b.im; }
constexpr Complex32 conj(Complex32 a) { return {a.re, -a.im}; }

}  // namespace abyx
