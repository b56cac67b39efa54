"""The module's surface: docstrings, __all__, the function's signature, argument binding and the
PanicException class."""

import ctypes
import importlib
import inspect
import re

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


def test_module_doc_replaces_the_definition_doc():
    assert abyx.__doc__ == "Python bindings for the abyx underwater acoustic ray tracer."
    assert abyx.__name__ == "abyx"


def test_all_lists_doc_then_run_simulation_only():
    assert abyx.__all__ == ["__doc__", "run_simulation"]
    assert "PanicException" not in abyx.__all__


def test_run_simulation_docstring_and_text_signature():
    assert abyx.run_simulation.__doc__ == RUN_SIMULATION_DOC
    assert abyx.run_simulation.__text_signature__ == "(py_cfg, /)"
    assert str(inspect.signature(abyx.run_simulation)) == "(py_cfg, /)"
    assert abyx.run_simulation.__module__ == "abyx"
    assert abyx.run_simulation.__name__ == "run_simulation"


def test_panic_exception_derives_from_base_exception_only():
    panic = abyx.PanicException
    assert issubclass(panic, BaseException)
    assert not issubclass(panic, Exception)
    assert panic.__name__ == "PanicException"
    assert panic.__module__ == "abyx"


def test_second_initialisation_is_refused():
    init = ctypes.PyDLL(abyx.__file__).PyInit_abyx
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    # the module in use is untouched
    assert abyx.__all__ == ["__doc__", "run_simulation"]


def test_reload_keeps_the_one_panic_class():
    panic = abyx.PanicException
    reloaded = importlib.reload(abyx)
    assert reloaded.PanicException is panic
    assert reloaded.__all__ == ["__doc__", "run_simulation"]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "run_simulation() missing 1 required positional argument: 'py_cfg'"),
        (({}, {}), {}, "run_simulation() takes 1 positional argument but 2 were given"),
        ((), {"cfg": {}}, "run_simulation() got an unexpected keyword argument 'cfg'"),
        (({},), {"py_cfg": {}}, "run_simulation() got multiple values for argument 'py_cfg'"),
        (({},), {"extra": 1}, "run_simulation() got an unexpected keyword argument 'extra'"),
        (({}, {}), {"py_cfg": {}}, "run_simulation() got multiple values for argument 'py_cfg'"),
    ],
)
def test_binding_errors_are_type_errors_in_the_interpreter_wording(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        abyx.run_simulation(*args, **kwargs)
    assert str(caught.value) == message


@pytest.mark.parametrize("cfg", [{}, [1, 2]])
def test_keyword_call_behaves_like_positional_call(cfg):
    with pytest.raises(RuntimeError) as positional:
        abyx.run_simulation(cfg)
    with pytest.raises(RuntimeError) as keyword:
        abyx.run_simulation(py_cfg=cfg)
    assert str(keyword.value) == str(positional.value)
    assert str(keyword.value).startswith("failed to parse config JSON: ")
    assert re.search(r" at line 1 column \d+$", str(keyword.value))


def test_keyword_call_runs_a_simulation(config):
    by_keyword = abyx.run_simulation(py_cfg=config)
    by_position = abyx.run_simulation(config)
    assert list(by_keyword) == list(by_position) == ["pressure_field"]
    assert by_keyword["pressure_field"]["shape"] == by_position["pressure_field"]["shape"]
