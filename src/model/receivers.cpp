#include "model/receivers.h"

#include <cstddef>
#include <string>

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

}  // namespace

ReceiverLayout receiver_layout(const Receivers& receivers) {
  if (equals_ascii_ignoring_case(receivers.config_type, "array")) return ReceiverLayout::Array;
  if (equals_ascii_ignoring_case(receivers.config_type, "polar")) return ReceiverLayout::Polar;
  return ReceiverLayout::Grid;
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

}  // namespace abyx
