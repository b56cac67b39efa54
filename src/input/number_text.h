#pragma once

#include <string>

namespace abyx {

// Writes a 32-bit float as its shortest round-trip digits in plain positional notation, never
// with an exponent: -5, -2.5, 0.0000001, 340282350000000000000000000000000000000; infinities are
// "inf" and "-inf", a NaN is "nan".
std::string format_f32_positional(float value);

// Writes a 64-bit float as the shortest decimal that reads back to the same value, always with a
// decimal point or an exponent: 1000.0, 0.1, 1e+300; infinities are "inf" and "-inf".
std::string format_f64_shortest(double value);

}  // namespace abyx
