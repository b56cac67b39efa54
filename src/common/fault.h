#pragma once

#include <stdexcept>
#include <string>

namespace abyx {

// The one internal fault type: a set-up failure or a broken invariant. It carries a fixed message;
// only the Python binding turns it into an exception of the interpreter (PanicException).
class Fault : public std::runtime_error {
 public:
  explicit Fault(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace abyx
