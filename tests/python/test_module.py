"""The module's surface: docstrings, __all__, the signature, argument binding, PanicException."""

import ctypes
import importlib
import inspect

import pytest

import abyx

RUN_SIMULATION_DOC = (
    "Run an abyx simulation from a Python configuration object.\n\n"
    "Parameters\n----------\n"
    "py_cfg : dict-like\n    Simulation configuration following the abyx input schema.\n\n"
    "Returns\n-------\n"
    "dict\n    Output dictionary containing `pressure_field` and optional `ray_paths`.\n\n"
    "Notes\n-----\n"
    "Unknown config keys are ignored and emitted as Python warnings."
)


def test_docstrings_all_signature_and_the_panic_class():
    assert abyx.__doc__ == "Python bindings for the abyx underwater acoustic ray tracer."
    assert abyx.__all__ == ["__doc__", "run_simulation"]
    assert abyx.run_simulation.__doc__ == RUN_SIMULATION_DOC
    assert str(inspect.signature(abyx.run_simulation)) == "(py_cfg, /)"
    assert (abyx.run_simulation.__module__, abyx.run_simulation.__name__) == ("abyx", "run_simulation")
    panic = abyx.PanicException
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert (panic.__module__, panic.__name__) == ("abyx", "PanicException")


def test_second_initialisation_is_refused_and_reload_keeps_the_panic_class():
    init = ctypes.PyDLL(abyx.__file__).PyInit_abyx
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    panic = abyx.PanicException
    assert importlib.reload(abyx).PanicException is panic
    assert abyx.__all__ == ["__doc__", "run_simulation"]


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "run_simulation() missing 1 required positional argument: 'py_cfg'"),
    (({}, {}), {}, "run_simulation() takes 1 positional argument but 2 were given"),
    ((), {"cfg": {}}, "run_simulation() got an unexpected keyword argument 'cfg'"),
    (({},), {"py_cfg": {}}, "run_simulation() got multiple values for argument 'py_cfg'"),
])
def test_binding_errors_are_type_errors_in_the_interpreter_wording(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        abyx.run_simulation(*args, **kwargs)
    assert str(caught.value) == message


def test_keyword_call_behaves_like_positional_call(config):
    assert abyx.run_simulation(py_cfg=config) == abyx.run_simulation(config)
    with pytest.raises(RuntimeError, match="^failed to parse config JSON: ") as keyword:
        abyx.run_simulation(py_cfg=[1, 2])
    with pytest.raises(RuntimeError) as positional:
        abyx.run_simulation([1, 2])
    assert str(keyword.value) == str(positional.value)
