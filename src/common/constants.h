#pragma once

namespace abyx {

// The angles every subsystem needs, in single precision.
inline constexpr float kPi = 3.1415927f;
inline constexpr float kTwoPi = 6.2831855f;
inline constexpr float kHalfPi = 1.5707964f;
inline constexpr float kRadiansPerDegree = 0.017453292f;  // pi / 180

}  // namespace abyx
