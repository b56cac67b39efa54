#include "python_bindings/run_simulation.h"

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/core.h"
#include "input/read_simulation_config.h"
#include "input/simulation_config.h"
#include "python_bindings/ffi_boundary.h"
#include "python_bindings/host_error.h"
#include "python_bindings/result_dict.h"

namespace abyx {
namespace {

// Binds the arguments to py_cfg with the interpreter's own checks and wording, in its order:
// keywords first, then surplus positionals, then the missing argument. Borrowed; null with
// TypeError set on failure.
PyObject* bind_py_cfg(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* py_cfg = nargs > 0 ? args[0] : nullptr;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(name)) {
      PyErr_SetString(PyExc_TypeError, "run_simulation() keywords must be strings");
      return nullptr;
    }
    if (PyUnicode_CompareWithASCIIString(name, "py_cfg") != 0) {
      PyErr_Format(PyExc_TypeError, "run_simulation() got an unexpected keyword argument '%U'",
                   name);
      return nullptr;
    }
    if (py_cfg != nullptr) {
      PyErr_SetString(PyExc_TypeError,
                      "run_simulation() got multiple values for argument 'py_cfg'");
      return nullptr;
    }
    py_cfg = args[nargs + k];
  }
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError, "run_simulation() takes 1 positional argument but %zd were given",
                 nargs);
    return nullptr;
  }
  if (py_cfg == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "run_simulation() missing 1 required positional argument: 'py_cfg'");
    return nullptr;
  }
  return py_cfg;
}

// json.dumps(py_cfg) with the host's defaults; null with RuntimeError set on failure.
PyRef dump_config(PyObject* py_cfg) {
  PyRef json(PyImport_ImportModule("json"));
  if (!json) {
    raise_runtime_error_from_host(kImportJsonFailedPrefix);
    return PyRef();
  }
  PyRef dumps(PyObject_GetAttrString(json.get(), "dumps"));
  PyRef text = dumps ? PyRef(PyObject_CallOneArg(dumps.get(), py_cfg)) : PyRef();
  if (!text) {
    raise_runtime_error_from_host(kJsonDumpsFailedPrefix);
  }
  return text;
}

// The UTF-8 bytes of the dumped text, owned by the str object; false with RuntimeError set.
bool utf8_view(PyObject* text, std::string_view& utf8) {
  if (!PyUnicode_Check(text)) {
    PyErr_Format(PyExc_TypeError, "json.dumps returned %.200s, expected str",
                 Py_TYPE(text)->tp_name);
    raise_runtime_error_from_host(kExtractJsonFailedPrefix);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    raise_runtime_error_from_host(kExtractJsonFailedPrefix);
    return false;
  }
  utf8 = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// Issues each message through warnings.warn("abyx: " + message), in order, stopping at the first
// failure; "warnings" is imported only when there is something to say.
bool issue_warnings(const std::vector<std::string>& messages) {
  if (messages.empty()) {
    return true;
  }
  PyRef warnings(PyImport_ImportModule("warnings"));
  if (!warnings) {
    raise_runtime_error_from_host(kImportWarningsFailedPrefix);
    return false;
  }
  PyRef warn(PyObject_GetAttrString(warnings.get(), "warn"));
  if (!warn) {
    raise_runtime_error_from_host(kWarnFailedPrefix);
    return false;
  }
  std::string text;
  for (const std::string& message : messages) {
    text.assign(kWarningPrefix).append(message);
    PyRef py_text = make_str(text);
    PyRef issued = py_text ? PyRef(PyObject_CallOneArg(warn.get(), py_text.get())) : PyRef();
    if (!issued) {
      raise_runtime_error_from_host(kWarnFailedPrefix);
      return false;
    }
  }
  return true;
}

// How often an interruptible run looks for signals.
constexpr std::chrono::milliseconds kSignalPoll{100};

// Releases the interpreter lock for its lifetime. Taking it back may end the thread, when the
// interpreter is exiting: that unwinding must leave the destructor.
class LockReleased {
 public:
  LockReleased() : state_(PyEval_SaveThread()) {}
  ~LockReleased() noexcept(false) { PyEval_RestoreThread(state_); }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  PyThreadState* state_;
};

// Calls watch(done, total) with the rays traced so far; false with its exception set when it
// raised.
bool report_progress(PyObject* watch, const RunControl& control) {
  PyRef done(PyLong_FromUnsignedLongLong(control.rays_done.load(std::memory_order_relaxed)));
  PyRef total(PyLong_FromUnsignedLongLong(control.rays_total.load(std::memory_order_relaxed)));
  if (!done || !total) return false;
  PyObject* args[] = {done.get(), total.get()};
  PyRef called(PyObject_Vectorcall(watch, args, 2, nullptr));
  return static_cast<bool>(called);
}

// The engine on a thread of its own with the interpreter lock released, so that other Python
// threads run; every kSignalPoll the caller's thread takes the lock back, runs the signal handlers
// and calls `watch` (when given) with the rays done. When one of them raises (KeyboardInterrupt
// for Ctrl-C) the run is stopped before its next ray, its outcome dropped, and nullopt returned
// with that exception set.
std::optional<CoreResult> run_interruptibly(const SimulationConfig& config, PyObject* watch) {
  RunControl control;
  std::packaged_task<CoreResult()> task([&] { return core(config, kResultDictCosts, &control); });
  std::future<CoreResult> outcome = task.get_future();
  std::thread runner(std::move(task));
  // a thread the interpreter ends at its exit stops the run and waits for it as it unwinds
  struct StopOnUnwind {
    RunControl& control;
    std::thread& runner;
    ~StopOnUnwind() {
      if (!runner.joinable()) return;
      control.cancel.store(true, std::memory_order_relaxed);
      runner.join();
    }
  } stop_on_unwind{control, runner};
  bool interrupted = false;
  for (;;) {
    std::future_status status = std::future_status::timeout;
    {
      const LockReleased released;
      status = outcome.wait_for(kSignalPoll);
    }
    if (status == std::future_status::ready) break;
    if (PyErr_CheckSignals() != 0 || (watch != nullptr && !report_progress(watch, control))) {
      interrupted = true;
      control.cancel.store(true, std::memory_order_relaxed);
      break;
    }
  }
  {
    const LockReleased released;
    runner.join();
  }
  if (!interrupted) {
    CoreResult result = outcome.get();  // a fault keeps its type
    if (watch != nullptr && !report_progress(watch, control)) return std::nullopt;
    return result;
  }
  try {
    outcome.get();
  } catch (...) {  // Interrupted, or whatever the run met before it stopped
  }
  return std::nullopt;
}

PyObject* run_call_road(PyObject* py_cfg, PyObject* watch) {
  // serialise the caller's object with the interpreter's own json module
  PyRef text = dump_config(py_cfg);
  if (!text) {
    return nullptr;
  }
  std::string_view utf8;
  if (!utf8_view(text.get(), utf8)) {
    return nullptr;
  }

  // read and check the configuration; the text is dropped as soon as it has been read
  ReadConfigResult read = read_simulation_config(utf8);
  text.reset();
  if (!read.config) {
    raise_runtime_error(kParseConfigFailedPrefix, read.error);
    add_note_to_raised(read.note);
    return nullptr;
  }
  SimulationConfig& config = *read.config;
  ValidationResult validation = config.validate();
  if (validation.error) {
    return raise_runtime_error(kInvalidConfigPrefix, *validation.error);
  }

  // corrections first, then the ignored keys in document order
  std::vector<std::string> messages = std::move(validation.warnings);
  messages.reserve(messages.size() + read.unknown_key_paths.size());
  for (const std::string& path : read.unknown_key_paths) {
    messages.push_back(std::string(kUnknownKeyWarning) + path);
  }
  if (!issue_warnings(messages)) {
    return nullptr;
  }

  // run the engine, then hand the caller plain Python objects
  if (config.beam.interruptible || watch != nullptr) {
    std::optional<CoreResult> result = run_interruptibly(config, watch);
    return result ? build_result_dict(*result, config).release() : nullptr;
  }
  CoreResult result = core(config, kResultDictCosts);
  return build_result_dict(result, config).release();
}

}  // namespace

PyObject* run_simulation(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return call_at_boundary([&]() -> PyObject* {
    PyObject* py_cfg = bind_py_cfg(args, nargs, kwnames);
    return py_cfg == nullptr ? nullptr : run_call_road(py_cfg, nullptr);
  });
}

PyObject* run_simulation_watched(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  return call_at_boundary([&]() -> PyObject* {
    if (nargs != 2 || !PyCallable_Check(args[1])) {
      PyErr_SetString(PyExc_TypeError,
                      "_run_simulation_watched(py_cfg, watch, /) takes a "
                      "configuration and a callable");
      return nullptr;
    }
    return run_call_road(args[0], args[1]);
  });
}

}  // namespace abyx
