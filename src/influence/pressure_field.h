#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "common/complex32.h"
#include "common/fault_messages.h"
#include "common/vec3.h"
#include "input/simulation_config.h"
#include "model/receivers.h"

namespace abyx {

// Complex pressure per frequency and receiver, with the earliest arrival per receiver.
// Grid mode: receivers at every (x_m[ix], y_m[iy], z_m[iz]); array mode: receiver_positions_m;
// polar mode: at range x_m[ir] from the source on bearing y_m[ib] (deg, as azimuths), depth
// z_m[iz], their points also in receiver_positions_m, in cell order.
struct PressureField {
  std::vector<float> x_m;  // grid axis x, or polar ranges (m); empty in array mode
  std::vector<float> y_m;  // grid axis y (m), or polar bearings (deg); empty in array mode
  std::vector<float> z_m;  // grid axis z (m, positive down); empty in array mode
  std::optional<std::vector<Vec3>> receiver_positions_m;  // present in array and polar mode
  Vec3 polar_source{};                 // polar mode: the source the ranges are measured from
  std::vector<Vec2> polar_directions;  // polar mode: (sin, cos) of every bearing
  std::vector<Complex32> pressure;     // shape (nf, n1, n2, n3), row-major
  std::vector<float> delay_s;          // earliest arrival (s) per receiver, +inf when none
  std::vector<float> amplitude;        // amplitude of that arrival, 0 when none
  std::vector<float>
      intensity;  // sum of |contribution|^2, laid out like pressure; empty unless asked
  ReceiverLayout layout = ReceiverLayout::Grid;
  std::array<std::size_t, 4> shape{};  // (nf, nx, ny, nz) or (nf, n, 1, 1)

  bool is_array() const { return layout == ReceiverLayout::Array; }
  // the receivers are found as points (array and polar mode), not along a grid's axes
  bool has_points() const { return layout != ReceiverLayout::Grid; }
  std::size_t receiver_count() const { return shape[1] * shape[2] * shape[3]; }
  // flat index of receiver cell (i, j, k) in delay_s and amplitude
  std::size_t cell_index(std::size_t i, std::size_t j, std::size_t k) const {
    return (i * shape[2] + j) * shape[3] + k;
  }
  // flat index of frequency f at receiver cell `cell` in pressure
  std::size_t pressure_index(std::size_t f, std::size_t cell) const {
    return f * receiver_count() + cell;
  }
};

// Keeps the earliest arrival at a receiver; of two at the same time, the stronger one.
inline void record_arrival(float& delay_s, float& amplitude, float tau_s, float arrival_amplitude) {
  if (tau_s < delay_s ||
      (tau_s == delay_s && std::fabs(arrival_amplitude) > std::fabs(amplitude))) {
    delay_s = tau_s;
    amplitude = arrival_amplitude;
  }
}

// An empty field for the receivers in this layout and frequency_count frequencies (a polar layout
// around `source`); throws Fault when the array receiver lists differ in length, and std::bad_alloc
// when the arrays cannot be held in memory (element counts too large to represent included).
PressureField init_pressure_field(const Receivers& receivers, ReceiverLayout layout,
                                  std::size_t frequency_count, Vec3 source = {});

// The position of receiver `cell` (flat index, as in delay_s).
Vec3 receiver_position(const PressureField& field, std::size_t cell);

// Adds the intensity array (zeros, laid out like the pressure) to an empty field.
void add_intensity(PressureField& field);

// Whether the field's arrays, axes and points all agree with its shape (which every element-wise
// pass over the field relies on, or it would read or write past an array).
bool field_matches_shape(const PressureField& field);

// Adds right into left: pressures and intensities summed; a strictly earlier right delay replaces
// left's delay and amplitude (equal delays and NaN keep left). Throws Fault when the shapes or
// modes differ.
void merge_pressure_field(PressureField& left, const PressureField& right);

}  // namespace abyx
