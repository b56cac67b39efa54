#include "python_bindings/result_dict.h"

#include <cstddef>
#include <string>
#include <vector>

#include "common/fault.h"
#include "python_bindings/host_error.h"

namespace abyx {
namespace {

// A pre-sized list of n floats; value(i) gives element i as f32, widened exactly.
template <class Value>
PyRef float_list(std::size_t n, Value value) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) {
    return list;
  }
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = PyFloat_FromDouble(static_cast<double>(value(i)));
    if (item == nullptr) {
      return PyRef();  // the list releases the items set so far
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyRef float_list(const std::vector<float>& values) {
  return float_list(values.size(), [&](std::size_t i) { return values[i]; });
}

// [[x, y, z], ...] for a list of points in metres.
PyRef point_list(const std::vector<Vec3>& points) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(points.size())));
  if (!list) {
    return list;
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Vec3 p = points[i];
    PyRef point = float_list(3, [&](std::size_t k) { return p[k]; });
    if (!point) {
      return PyRef();
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), point.release());
  }
  return list;
}

PyRef ray_path_list(const std::vector<std::vector<Vec3>>& paths) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(paths.size())));
  if (!list) {
    return list;
  }
  for (std::size_t r = 0; r < paths.size(); ++r) {
    PyRef path = point_list(paths[r]);
    if (!path) {
      return PyRef();
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(r), path.release());
  }
  return list;
}

PyRef shape_tuple(const std::array<std::size_t, 4>& shape) {
  PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
  if (!tuple) {
    return tuple;
  }
  for (std::size_t d = 0; d < shape.size(); ++d) {
    PyObject* size = PyLong_FromSize_t(shape[d]);
    if (size == nullptr) {
      return PyRef();
    }
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(d), size);
  }
  return tuple;
}

// Raises "failed to set <key>: <host error>" for the pending host error; returns false.
bool report_store_failure(const char* key) {
  std::string prefix = "failed to set ";
  prefix.append(key).append(": ");
  raise_runtime_error_from_host(prefix);
  return false;
}

// Stores value under key; a value that could not be built, or a failed store, is reported.
// The key is a plain new str: interning it (as PyDict_SetItemString does) would churn the
// interpreter's table of interned strings on every call.
bool store(PyObject* dict, const char* key, PyRef value) {
  if (value) {
    PyRef py_key(PyUnicode_FromString(key));
    if (py_key && PyDict_SetItem(dict, py_key.get(), value.get()) == 0) {
      return true;
    }
  }
  return report_store_failure(key);
}

// The engine hands over a field built for this configuration; anything else is a broken contract.
void check_field_invariants(const PressureField& field) {
  if (field.is_array() && !field.receiver_positions_m) {
    throw Fault(std::string(kArrayModeWithoutPositionsMessage));
  }
  if (!field_matches_shape(field)) throw Fault(std::string(kFieldShapeMismatchMessage));
}

// Fills the nested "pressure_field" dict in its key order.
bool store_field_entries(PyObject* dict, const PressureField& field,
                         const SimulationConfig& config) {
  if (field.is_array()) {
    if (!store(dict, "receiver_positions_m", point_list(*field.receiver_positions_m))) {
      return false;
    }
  } else if (!store(dict, "x_m", float_list(field.x_m)) ||
             !store(dict, "y_m", float_list(field.y_m)) ||
             !store(dict, "z_m", float_list(field.z_m))) {
    return false;
  }
  const std::vector<Complex32>& pressure = field.pressure;
  return store(dict, "frequency_hz", float_list(config.source.freq_hz)) &&
         store(dict, "shape", shape_tuple(field.shape)) &&
         store(dict, "pressure_re",
               float_list(pressure.size(), [&](std::size_t i) { return pressure[i].re; })) &&
         store(dict, "pressure_im",
               float_list(pressure.size(), [&](std::size_t i) { return pressure[i].im; })) &&
         store(dict, "delay_s", float_list(field.delay_s)) &&
         store(dict, "amplitude", float_list(field.amplitude)) &&
         (field.intensity.empty() || store(dict, "intensity", float_list(field.intensity)));
}

}  // namespace

PyRef build_result_dict(const CoreResult& result, const SimulationConfig& config) {
  const PressureField& field = result.field;
  check_field_invariants(field);

  PyRef top(PyDict_New());
  if (!top) {
    // reported under the first key the dict would have received
    report_store_failure(result.ray_paths ? "ray_paths" : "pressure_field");
    return PyRef();
  }
  if (result.ray_paths && !store(top.get(), "ray_paths", ray_path_list(*result.ray_paths))) {
    return PyRef();
  }

  PyRef field_dict(PyDict_New());
  if (!field_dict) {
    report_store_failure("pressure_field");
    return PyRef();
  }
  if (!store_field_entries(field_dict.get(), field, config) ||
      !store(top.get(), "pressure_field", std::move(field_dict))) {
    return PyRef();
  }
  return top;
}

}  // namespace abyx
