#pragma once

#include <cxxabi.h>

#include <string_view>

#include "common/fault_messages.h"
#include "python_bindings/py_ref.h"

namespace abyx {

// The PanicException class (derives from BaseException), created on the first call and kept for
// the life of the process; borrowed. Null with a host error set when it cannot be created.
PyObject* panic_exception_type();

// Turns the C++ exception being handled into a Python one: std::bad_alloc into MemoryError, every
// other exception into PanicException with its message. A fault raised while doing so ends the
// process. Call only from inside a catch block.
void raise_current_exception() noexcept;

// The single interception point between the binding and the interpreter: runs body and returns
// its result, or null with a Python exception set when a C++ exception left it. The one thing let
// through is the unwinding of a thread that the interpreter ends at its exit (a daemon thread that
// wants the interpreter lock back then): the interpreter's frames unwind with it.
template <class Body>
PyObject* call_at_boundary(Body&& body) {
  try {
    return body();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

}  // namespace abyx
