#if defined(ABYX_AVX2_FLAVOUR)
#include <dlfcn.h>
#endif

#include <string>

#include "python_bindings/ffi_boundary.h"
#include "python_bindings/py_ref.h"
#include "python_bindings/run_simulation.h"
#include "python_bindings/simd_flavour.h"

namespace abyx {
namespace {

constexpr const char* kDefinitionDoc =
    "Python extension module exposing abyx simulation functions.";
constexpr const char* kModuleDoc = "Python bindings for the abyx underwater acoustic ray tracer.";
constexpr const char* kSecondInitMessage =
    "abyx is already initialised in this process and cannot be initialised again";

// The module holds no per-module state: its only process-wide objects are the PanicException
// class and the engine's worker pool.
PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "abyx", kDefinitionDoc, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyMethodDef g_run_simulation_def = {
    "run_simulation",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_simulation)),
    METH_FASTCALL | METH_KEYWORDS,
    kRunSimulationDoc,
};

PyMethodDef g_watched_def = {
    "_run_simulation_watched",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&run_simulation_watched)),
    METH_FASTCALL,
    "_run_simulation_watched(py_cfg, watch, /)\n--\n\nrun_simulation, interruptible, calling "
    "watch(rays_done, rays_total) about every 0.1 s and at the end (the toolkit's progress bar).",
};

bool g_initialised = false;

// Sets a public attribute, first appending its name to __all__ (created when absent).
bool add_to_module(PyObject* module, const char* name, PyObject* value) {
  PyObject* attributes = PyModule_GetDict(module);  // borrowed
  PyRef all_key(PyUnicode_FromString("__all__"));
  if (attributes == nullptr || !all_key) {
    return false;
  }
  PyRef all = PyRef::borrow(PyDict_GetItemWithError(attributes, all_key.get()));
  if (!all) {
    if (PyErr_Occurred() != nullptr) {
      return false;
    }
    all = PyRef(PyList_New(0));
    if (!all || PyDict_SetItem(attributes, all_key.get(), all.get()) < 0) {
      return false;
    }
  }
  PyRef py_name(PyUnicode_FromString(name));
  if (!py_name) {
    return false;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "abyx.__all__ is not a list");
    return false;
  }
  return PyList_Append(all.get(), py_name.get()) == 0 &&
         PyObject_SetAttr(module, py_name.get(), value) == 0;
}

// The module body: the docstring, the function, and the version and the PanicException class
// outside __all__.
bool fill_module(PyObject* module) {
  PyRef doc(PyUnicode_FromString(kModuleDoc));
  if (!doc || !add_to_module(module, "__doc__", doc.get())) {
    return false;
  }
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) {
    return false;
  }
  PyRef function(PyCFunction_NewEx(&g_run_simulation_def, module, module_name.get()));
  if (!function || !add_to_module(module, "run_simulation", function.get())) {
    return false;
  }
  PyRef watched(PyCFunction_NewEx(&g_watched_def, module, module_name.get()));
  if (!watched || PyObject_SetAttrString(module, "_run_simulation_watched", watched.get()) < 0) {
    return false;
  }
  if (PyModule_AddStringConstant(module, "__version__", ABYX_VERSION) < 0 ||
      PyModule_AddStringConstant(module, "simd", ABYX_SIMD_NAME) < 0) {
    return false;
  }
  PyObject* panic_type = panic_exception_type();  // borrowed, lives for the process
  return panic_type != nullptr && PyObject_SetAttrString(module, "PanicException", panic_type) == 0;
}

PyObject* init_module() {
  if (g_initialised) {
    PyErr_SetString(PyExc_ImportError, kSecondInitMessage);
    return nullptr;
  }
  PyRef module(PyModule_Create(&g_module_def));
  if (!module || !fill_module(module.get())) {
    return nullptr;
  }
  g_initialised = true;
  return module.release();
}

#if !defined(ABYX_SIMD_FLAVOUR_ENTRY)
#if defined(ABYX_AVX2_FLAVOUR)
// The AVX2 flavour lies beside this module's file; it is loaded with its own symbols, so that
// nothing of it stands in for this one's.
PyObject* init_avx2_flavour() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&init_avx2_flavour), &self) == 0 ||
      self.dli_fname == nullptr) {
    PyErr_SetString(PyExc_ImportError, "abyx: cannot find the module's own file");
    return nullptr;
  }
  const std::string own = self.dli_fname;
  const std::string path = own.substr(0, own.find_last_of('/') + 1) + ABYX_AVX2_FLAVOUR;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = library != nullptr ? dlsym(library, "abyx_simd_flavour_init") : nullptr;
  if (entry == nullptr) {
    const char* why = dlerror();
    PyErr_Format(PyExc_ImportError, "abyx: cannot load its AVX2 flavour (%s); set %s=baseline",
                 why != nullptr ? why : path.c_str(), kSimdVariable);
    return nullptr;
  }
  return reinterpret_cast<PyObject* (*)()>(entry)();
}
constexpr bool kAvx2Built = true;
#else
PyObject* init_avx2_flavour() { return nullptr; }
constexpr bool kAvx2Built = false;
#endif

// This module, or the flavour that suits the processor.
PyObject* init_module_for_processor() {
  const SimdChoice choice = choose_simd_flavour(kAvx2Built);
  if (!choice.refusal.empty()) {
    PyErr_SetString(PyExc_ImportError, choice.refusal.c_str());
    return nullptr;
  }
  return choice.avx2 ? init_avx2_flavour() : init_module();
}
#endif

}  // namespace
}  // namespace abyx

#if defined(ABYX_SIMD_FLAVOUR_ENTRY)
extern "C" __attribute__((visibility("default"))) PyObject* abyx_simd_flavour_init() {
  return abyx::call_at_boundary([] { return abyx::init_module(); });
}
#else
PyMODINIT_FUNC PyInit_abyx() {
  return abyx::call_at_boundary([] { return abyx::init_module_for_processor(); });
}
#endif
