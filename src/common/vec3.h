#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace abyx {

// A point or direction in metres (or any 3-vector): x, y horizontal, z depth positive down.
struct Vec3 {
  float x = 0.0f;  // first component
  float y = 0.0f;  // second component
  float z = 0.0f;  // third component

  // component k in x, y, z order; k must be 0, 1 or 2
  constexpr float operator[](std::size_t k) const { return k == 0 ? x : (k == 1 ? y : z); }
};

constexpr Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
constexpr Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
constexpr Vec3 operator*(float s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
constexpr bool operator==(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// dot product summed in x, y, z order
constexpr float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
constexpr Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float norm(Vec3 a) { return std::sqrt(dot(a, a)); }
inline bool is_finite(Vec3 v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
inline float max_abs_component(Vec3 v) {
  return std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
}

// A column of a 2x2 matrix: entries in rows 1 and 2.
struct Vec2 {
  float x = 0.0f;  // row 1
  float y = 0.0f;  // row 2
};

constexpr Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
constexpr Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
constexpr Vec2 operator*(float s, Vec2 a) { return {s * a.x, s * a.y}; }
constexpr bool operator==(Vec2 a, Vec2 b) { return a.x == b.x && a.y == b.y; }

}  // namespace abyx
