#pragma once

#include <new>
#include <stdexcept>
#include <string>

#include "common/fault_messages.h"

namespace abyx {

// The one internal fault type: a set-up failure or a broken invariant. It carries a fixed message;
// only the Python binding turns it into an exception of the interpreter (PanicException).
class Fault : public std::runtime_error {
 public:
  explicit Fault(const std::string& message) : std::runtime_error(message) {}
};

// A size known before any work starts that cannot fit in memory. It is an allocation failure that
// says what was too large: the binding raises MemoryError with its text.
class TooLargeForMemory : public std::bad_alloc {
 public:
  explicit TooLargeForMemory(const std::string& message) : message_(message) {}
  const char* what() const noexcept override { return message_.what(); }

 private:
  std::runtime_error message_;  // copies share the text without allocating
};

// A run stopped by its caller (an interrupt) before it finished; nothing of it is kept.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error(std::string(kInterruptedMessage)) {}
};

// A configuration that reads and validates but holds numbers single precision cannot trace (a ray
// or the field became non-finite). The binding raises RuntimeError with its text.
class BeyondPrecision : public std::runtime_error {
 public:
  explicit BeyondPrecision(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace abyx
