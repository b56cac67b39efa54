#include "python_bindings/ffi_boundary.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "common/fault.h"
#include "python_bindings/host_error.h"

namespace abyx {
namespace {

constexpr const char* kPanicName = "abyx.PanicException";
constexpr const char* kPanicDoc =
    "Raised when abyx meets an internal fault. Derives from BaseException, so a handler for "
    "Exception does not catch it.";

// Kept for the life of the process: exceptions raised by earlier calls still refer to it.
PyObject* g_panic_type = nullptr;

[[noreturn]] void end_process_at_boundary() noexcept {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(kUncaughtPanicMessage.size()),
               kUncaughtPanicMessage.data());
  std::fflush(stderr);
  std::abort();
}

// Raises PanicException with the fault's text, or the fixed text when it has none.
void raise_panic(const char* what) {
  // a host error left pending by the failed step is replaced, not chained
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) {
    return;  // the host error of the failed creation stays set
  }
  std::string_view text =
      (what != nullptr && what[0] != '\0') ? std::string_view(what) : kPanicWithoutMessageText;
  PyRef message = make_str(text);
  if (message) {
    PyErr_SetObject(type, message.get());
  }
}

}  // namespace

PyObject* panic_exception_type() {
  if (g_panic_type == nullptr) {
    g_panic_type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
  }
  return g_panic_type;
}

void raise_current_exception() noexcept {
  try {
    try {
      throw;
    } catch (const TooLargeForMemory& refusal) {
      PyErr_Clear();
      PyErr_SetString(PyExc_MemoryError, refusal.what());
    } catch (const BeyondPrecision& refusal) {
      PyErr_Clear();
      PyErr_SetString(PyExc_RuntimeError, refusal.what());
    } catch (const std::bad_alloc&) {
      PyErr_Clear();
      PyErr_NoMemory();
    } catch (const std::exception& fault) {
      raise_panic(fault.what());
    } catch (...) {
      raise_panic(nullptr);
    }
  } catch (...) {
    end_process_at_boundary();
  }
}

}  // namespace abyx
