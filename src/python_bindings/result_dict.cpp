#include "python_bindings/result_dict.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "common/constants.h"
#include "common/fault.h"
#include "common/vec3.h"
#include "python_bindings/host_error.h"

namespace abyx {
namespace {

// A pre-sized list of n items; item(i) returns element i as a new reference, or null with the host
// error set, which stops the list (it releases the items set so far).
template <class Item>
PyRef build_list(std::size_t n, Item item) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) {
    return list;
  }
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* element = item(i);
    if (element == nullptr) {
      return PyRef();
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), element);
  }
  return list;
}

// A list of n floats; value(i) gives element i as f32, widened exactly.
template <class Value>
PyRef float_list(std::size_t n, Value value) {
  return build_list(
      n, [&](std::size_t i) { return PyFloat_FromDouble(static_cast<double>(value(i))); });
}

PyRef float_list(const std::vector<float>& values) {
  return float_list(values.size(), [&](std::size_t i) { return values[i]; });
}

template <class T>
PyRef int_list(const std::vector<T>& values) {
  return build_list(values.size(), [&](std::size_t i) {
    return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(values[i]));
  });
}

// [[x, y, z], ...] for a list of points in metres.
PyRef point_list(const std::vector<Vec3>& points) {
  return build_list(points.size(), [&](std::size_t i) {
    return float_list(3, [&](std::size_t k) { return points[i][k]; }).release();
  });
}

PyRef ray_path_list(const std::vector<std::vector<Vec3>>& paths) {
  return build_list(paths.size(), [&](std::size_t r) { return point_list(paths[r]).release(); });
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
  if (field.has_points() && !field.receiver_positions_m) {
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
  } else {
    // a polar layout's first two axes are its ranges and bearings
    const bool polar = field.layout == ReceiverLayout::Polar;
    if (!store(dict, polar ? "range_m" : "x_m", float_list(field.x_m)) ||
        !store(dict, polar ? "bearing_deg" : "y_m", float_list(field.y_m)) ||
        !store(dict, "z_m", float_list(field.z_m))) {
      return false;
    }
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

// store() for a value whose own failure, if any, was reported as it was built.
bool store_built(PyObject* dict, const char* key, PyRef value) {
  if (!value && PyErr_Occurred()) return false;
  return store(dict, key, std::move(value));
}

// The angles of a ray's tangent as the launch angles are given: elevation positive downwards, in
// [-90, 90]; azimuth from +y towards +x, in [0, 360).
float arrival_elevation_deg(Vec3 t) {
  return static_cast<float>(std::atan2(double{t.z}, std::hypot(double{t.x}, double{t.y})) *
                            kDegreesPerRadian);
}

float arrival_azimuth_deg(Vec3 t) {
  const double turned = std::atan2(double{t.x}, double{t.y}) * kDegreesPerRadian;
  // + 0.0 makes -0 zero; a tiny negative angle that rounds to a full turn is zero as well
  const float azimuth = static_cast<float>(turned < 0.0 ? turned + 360.0 : turned + 0.0);
  return azimuth < 360.0f ? azimuth : 0.0f;
}

// The "arrivals" dict: flat lists, one entry per arrival, amplitudes frequency first.
PyRef arrivals_dict(const ArrivalList& arrivals, const SimulationConfig& config) {
  PyRef dict(PyDict_New());
  if (!dict) return dict;
  const std::vector<float>& elevations = config.source.launch_elev_deg;
  const std::vector<float>& azimuths = config.source.launch_azim_deg;
  const std::vector<Complex32>& amplitude = arrivals.amplitude;
  const std::size_t n = arrivals.size();
  const bool stored =
      store(dict.get(), "receiver", int_list(arrivals.receiver)) &&
      store(dict.get(), "delay_s", float_list(arrivals.delay_s)) &&
      store(
          dict.get(), "launch_elev_deg",
          float_list(
              n, [&](std::size_t j) { return elevations[arrivals.ray[j] % elevations.size()]; })) &&
      store(dict.get(), "launch_azim_deg",
            float_list(
                n, [&](std::size_t j) { return azimuths[arrivals.ray[j] / elevations.size()]; })) &&
      store(dict.get(), "arrival_elev_deg",
            float_list(
                n, [&](std::size_t j) { return arrival_elevation_deg(arrivals.direction[j]); })) &&
      store(dict.get(), "arrival_azim_deg",
            float_list(
                n, [&](std::size_t j) { return arrival_azimuth_deg(arrivals.direction[j]); })) &&
      store(dict.get(), "n_surface", int_list(arrivals.n_surface)) &&
      store(dict.get(), "n_bottom", int_list(arrivals.n_bottom)) &&
      store(dict.get(), "ray_index", int_list(arrivals.ray)) &&
      store(dict.get(), "amplitude_re",
            float_list(amplitude.size(), [&](std::size_t i) { return amplitude[i].re; })) &&
      store(dict.get(), "amplitude_im",
            float_list(amplitude.size(), [&](std::size_t i) { return amplitude[i].im; }));
  return stored ? std::move(dict) : PyRef();
}

// The "eigenrays" list: {"receiver", "ray_index", "path"} per arrival.
PyRef eigenray_list(const ArrivalList& arrivals, const std::vector<std::vector<Vec3>>& paths) {
  return build_list(paths.size(), [&](std::size_t j) -> PyObject* {
    PyRef entry(PyDict_New());
    if (!entry ||
        !store(entry.get(), "receiver", PyRef(PyLong_FromUnsignedLongLong(arrivals.receiver[j]))) ||
        !store(entry.get(), "ray_index", PyRef(PyLong_FromUnsignedLongLong(arrivals.ray[j]))) ||
        !store(entry.get(), "path", point_list(paths[j]))) {
      return nullptr;
    }
    return entry.release();
  });
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
  if (result.arrivals &&
      !store_built(top.get(), "arrivals", arrivals_dict(*result.arrivals, config))) {
    return PyRef();
  }
  if (result.arrivals && result.eigenray_paths &&
      !store_built(top.get(), "eigenrays",
                   eigenray_list(*result.arrivals, *result.eigenray_paths))) {
    return PyRef();
  }
  return top;
}

}  // namespace abyx
