#pragma once

namespace abyx {

// The angles every subsystem needs, in single precision.
inline constexpr float kPi = 3.1415927f;
// pi and degrees per radian for the double-precision work beside the hot path
inline constexpr double kPiDouble = 3.141592653589793;
inline constexpr double kDegreesPerRadian = 180.0 / kPiDouble;
inline constexpr float kTwoPi = 6.2831855f;
inline constexpr float kHalfPi = 1.5707964f;
inline constexpr float kRadiansPerDegree = 0.017453292f;  // pi / 180

}  // namespace abyx
