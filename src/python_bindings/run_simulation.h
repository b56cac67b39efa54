#pragma once

#include <string_view>

#include "python_bindings/py_ref.h"

namespace abyx {

// Message prefixes of the call road's RuntimeErrors, one per step.
inline constexpr std::string_view kImportJsonFailedPrefix = "failed to import json: ";
inline constexpr std::string_view kJsonDumpsFailedPrefix = "json.dumps failed: ";
inline constexpr std::string_view kExtractJsonFailedPrefix = "extract json string failed: ";
inline constexpr std::string_view kParseConfigFailedPrefix = "failed to parse config JSON: ";
inline constexpr std::string_view kInvalidConfigPrefix = "invalid simulation config: ";
inline constexpr std::string_view kImportWarningsFailedPrefix = "failed to import warnings: ";
inline constexpr std::string_view kWarnFailedPrefix = "warnings.warn failed: ";
// Every warning the caller sees starts with this; unknown keys follow it with the second text.
inline constexpr std::string_view kWarningPrefix = "abyx: ";
inline constexpr std::string_view kUnknownKeyWarning = "unknown input key is ignored: config.";

// The docstring of run_simulation; its first line is the published text signature.
inline constexpr const char* kRunSimulationDoc =
    "run_simulation(py_cfg, /)\n--\n\n"
    "Run an abyx simulation from a Python configuration object.\n\n"
    "Parameters\n----------\n"
    "py_cfg : dict-like\n    Simulation configuration following the abyx input schema.\n\n"
    "Returns\n-------\n"
    "dict\n    Output dictionary containing `pressure_field` and optional `ray_paths`.\n\n"
    "Notes\n-----\n"
    "Unknown config keys are ignored and emitted as Python warnings.";

// run_simulation(py_cfg): the whole road of one call, from the caller's object to the result
// dict. Fast-call convention with keywords; the one parameter binds positionally or by keyword.
// Runs with the interpreter lock held throughout.
PyObject* run_simulation(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

// _run_simulation_watched(py_cfg, watch): run_simulation, interruptible, calling watch(done,
// total) with the rays traced about every 0.1 s and once at the end; an exception it raises stops
// the run and is raised. Private to the toolkit's progress bar; not in __all__.
PyObject* run_simulation_watched(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace abyx
