#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <utility>

namespace abyx {

// Whether the interpreter's teardown has begun. Late in it PyGILState_Check answers true in every
// thread, the one that holds no lock included.
inline bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// Owns at most one strong reference to a Python object and releases it when it goes out of scope,
// so every exit path of the binding drops what it created. A thread the interpreter ends at its
// exit unwinds without the interpreter lock: its references are left to the ending process.
class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (a C-API result); null stays null.
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
    Py_XDECREF(old);
    return *this;
  }
  ~PyRef() {
    if (object_ != nullptr && !interpreter_finalizing() && PyGILState_Check()) Py_DECREF(object_);
  }

  // A new owner of a borrowed reference.
  static PyRef borrow(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller (for a return value or a stealing call).
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  // Drops the reference now, before the owner's scope ends.
  void reset() noexcept { Py_XDECREF(std::exchange(object_, nullptr)); }

 private:
  PyObject* object_ = nullptr;  // owned reference, or null
};

}  // namespace abyx
