#include "python_bindings/host_error.h"

namespace abyx {
namespace {

// The pending exception as one normalised object (null when none is pending).
PyRef fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyRef(PyErr_GetRaisedException());
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref(type);
  PyRef traceback_ref(traceback);
  return PyRef(value);
#endif
}

// UTF-8 bytes of a str, characters that cannot be encoded (lone surrogates) replaced; false with
// the host error cleared when even that fails.
bool append_utf8(PyObject* text, std::string& out) {
  PyRef bytes(PyUnicode_AsEncodedString(text, "utf-8", "replace"));
  if (!bytes) {
    PyErr_Clear();
    return false;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
    PyErr_Clear();
    return false;
  }
  out.append(data, static_cast<std::size_t>(size));
  return true;
}

// The class's __name__, without its module.
void append_class_name(PyObject* exception, std::string& out) {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(exception)), "__name__"));
  if (name && PyUnicode_Check(name.get()) && append_utf8(name.get(), out)) {
    return;
  }
  PyErr_Clear();
  // tp_name of a static type may carry its module as "module.Name"
  std::string_view full = Py_TYPE(exception)->tp_name;
  std::size_t dot = full.rfind('.');
  out.append(dot == std::string_view::npos ? full : full.substr(dot + 1));
}

}  // namespace

PyRef make_str(std::string_view utf8) {
  return PyRef(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace"));
}

std::string take_host_error() {
  PyRef exception = fetch_exception();
  if (!exception) {
    return "SystemError: error return without exception set";
  }
  std::string rendered;
  append_class_name(exception.get(), rendered);
  rendered.append(": ");
  PyRef text(PyObject_Str(exception.get()));
  if (!text || !append_utf8(text.get(), rendered)) {
    PyErr_Clear();
    rendered.append(kStrFailedText);
  }
  return rendered;
}

PyObject* raise_runtime_error_from_host(std::string_view prefix) {
  if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
  std::string host_error = take_host_error();
  return raise_runtime_error(prefix, host_error);
}

PyObject* raise_runtime_error(std::string_view prefix, std::string_view detail) {
  std::string message;
  message.reserve(prefix.size() + detail.size());
  message.append(prefix).append(detail);
  PyRef text = make_str(message);
  if (text) {
    PyErr_SetObject(PyExc_RuntimeError, text.get());
  }
  return nullptr;
}

void add_note_to_raised(std::string_view note) {
  if (note.empty() || !PyErr_Occurred()) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef text = make_str(note);
  if (text && value != nullptr) {
    PyRef added(PyObject_CallMethod(value, "add_note", "O", text.get()));
    if (!added) PyErr_Clear();
  } else {
    PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace abyx
