#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef abyx_module = {PyModuleDef_HEAD_INIT, "abyx", nullptr, -1, nullptr,
                                  nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_abyx() { return PyModule_Create(&abyx_module); }
