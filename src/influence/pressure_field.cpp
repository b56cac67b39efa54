#include "influence/pressure_field.h"

#include <cstddef>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "common/fault.h"

namespace abyx {

namespace {

// ASCII letters compared without case; any other byte must match exactly.
bool equals_ascii_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch >= 'A' && ch <= 'Z') {
      ch = static_cast<char>(ch - 'A' + 'a');
    }
    if (ch != lower_word[i]) {
      return false;
    }
  }
  return true;
}

// a * b, or std::bad_alloc when the product does not fit in size_t.
std::size_t checked_product(std::size_t a, std::size_t b) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
    throw std::bad_alloc();
  }
  return a * b;
}

// A wrapped element count would give arrays far smaller than the shape they claim, so counts that
// no vector can hold are reported as the allocation failure they are.
template <class T>
void check_vector_capacity(std::size_t count) {
  if (count > std::vector<T>().max_size()) {
    throw std::bad_alloc();
  }
}

// Sizes the three value arrays for the shape already set on the field.
void allocate_arrays(PressureField& field) {
  const std::size_t cells =
      checked_product(checked_product(field.shape[1], field.shape[2]), field.shape[3]);
  const std::size_t values = checked_product(field.shape[0], cells);
  check_vector_capacity<Complex32>(values);
  check_vector_capacity<float>(cells);
  field.pressure.assign(values, Complex32{});
  field.delay_s.assign(cells, std::numeric_limits<float>::infinity());
  field.amplitude.assign(cells, 0.0f);
}

}  // namespace

bool receivers_are_array(const Receivers& receivers) {
  return equals_ascii_ignoring_case(receivers.config_type, "array");
}

std::vector<Vec3> array_receiver_points(const Receivers& receivers) {
  const std::size_t n = receivers.x_rcvr_m.size();
  if (receivers.y_rcvr_m.size() != n || receivers.z_rcvr_m.size() != n) {
    throw Fault(std::string(kArrayLengthsMessage));
  }
  std::vector<Vec3> points(n);
  for (std::size_t i = 0; i < n; ++i) {
    points[i] = {receivers.x_rcvr_m[i], receivers.y_rcvr_m[i], receivers.z_rcvr_m[i]};
  }
  return points;
}

PressureField init_pressure_field(const SimulationConfig& config) {
  const Receivers& receivers = config.receivers;
  const std::size_t nf = config.source.freq_hz.size();
  PressureField field;

  if (receivers_are_array(receivers)) {
    std::vector<Vec3> points = array_receiver_points(receivers);
    field.is_array = true;
    field.shape = {nf, points.size(), 1, 1};
    allocate_arrays(field);
    field.receiver_positions_m = std::move(points);
    return field;
  }

  field.shape = {nf, receivers.x_rcvr_m.size(), receivers.y_rcvr_m.size(),
                 receivers.z_rcvr_m.size()};
  allocate_arrays(field);
  field.x_m = receivers.x_rcvr_m;
  field.y_m = receivers.y_rcvr_m;
  field.z_m = receivers.z_rcvr_m;
  return field;
}

void merge_pressure_field(PressureField& left, const PressureField& right) {
  // an element-wise merge of different layouts would read or write past the smaller arrays
  if (left.shape != right.shape || left.is_array != right.is_array ||
      left.pressure.size() != right.pressure.size() ||
      left.delay_s.size() != right.delay_s.size() ||
      left.amplitude.size() != right.amplitude.size() ||
      left.amplitude.size() != left.delay_s.size()) {
    throw Fault(std::string(kMergeShapeMismatchMessage));
  }
  for (std::size_t i = 0; i < left.pressure.size(); ++i) {
    left.pressure[i] = left.pressure[i] + right.pressure[i];
  }
  for (std::size_t i = 0; i < left.delay_s.size(); ++i) {
    if (right.delay_s[i] < left.delay_s[i]) {
      left.delay_s[i] = right.delay_s[i];
      left.amplitude[i] = right.amplitude[i];
    }
  }
}

}  // namespace abyx
