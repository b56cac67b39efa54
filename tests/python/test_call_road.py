"""The module's surface and its type stub, and one call's road: serialising, reading, validating, warning, each failure's message."""

import ast
import ctypes
import functools
import importlib
import importlib.metadata
import inspect
import itertools
import json
import math
import re
import sys
import warnings
from pathlib import Path

import pytest

import abyx
import abyx_tools
from abyx_tools import schema
from conftest import make_config

ROOT = Path(__file__).resolve().parents[2]


def test_docstrings_all_signature_version_and_the_panic_class_made_once():
    assert abyx.__doc__ == "Python bindings for the abyx underwater acoustic ray tracer."
    assert abyx.__all__ == ["__doc__", "run_simulation"]
    version = re.search(r'^version = "(.+)"$', (ROOT / "pyproject.toml").read_text(encoding="utf-8"), re.M)
    assert abyx.__version__ == version[1] and abyx_tools.__version__ in (version[1], "0+unknown")
    assert str(inspect.signature(abyx.run_simulation)) == "(py_cfg, /)"
    assert (abyx.run_simulation.__module__, abyx.run_simulation.__name__) == ("abyx", "run_simulation")
    panic = abyx.PanicException
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert (panic.__module__, panic.__name__) == ("abyx", "PanicException")
    init = ctypes.PyDLL(abyx.__file__).PyInit_abyx
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):  # a second initialisation is refused, a reload keeps the class
        init()
    assert importlib.reload(abyx).PanicException is panic and abyx.__all__ == ["__doc__", "run_simulation"]


# the stub beside an installed module (abyx.pyi, and abyx-stubs for mypy), else the source tree's
def test_the_stubs_name_exactly_the_modules_names():
    module = Path(abyx.__file__).resolve()
    try:
        installed = {Path(f.locate()).resolve() for f in importlib.metadata.files("abyx") or ()}
    except importlib.metadata.PackageNotFoundError:
        installed = set()
    stubs = ([module.with_name("abyx.pyi"), module.with_name("abyx-stubs") / "__init__.pyi"] if module in installed
             else [ROOT / "python" / "abyx.pyi"])
    for stub in stubs:  # every name but the dunders: the toolkit's private helper too
        body = ast.parse(stub.read_text(encoding="utf-8")).body
        named = {node.name for node in body if isinstance(node, (ast.ClassDef, ast.FunctionDef))} | {
            node.target.id for node in body if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name)}
        assert {name for name in named if not name.startswith("__")} == {
            name for name in dir(abyx) if not name.startswith("__")}


# the reader's records (key, presence): the TypedDicts' keys in order, as required, listable up to the first key only
def test_the_toolkit_schema_is_the_modules_key_tables():
    text = (ROOT / "src" / "input" / "read_simulation_config.cpp").read_text(encoding="utf-8")
    tables = dict(re.findall(r"SchemaField<\w+> k(\w+)Fields\[\] = \{(.*?)\n\};", text, re.S))
    records = {"Acoustic": schema.AcousticBottom, "Elastic": schema.ElasticBottom, "ReflectionTable": schema.TableBottom,
               "BeamPattern": schema.BeamPattern,
               **{record.__name__: record for record in [schema.SimulationConfig, *schema.SECTIONS.values()]}}
    assert set(tables) == set(records) and len(records) == 12
    for name, body in tables.items():
        fields, record = re.findall(r'\{"(\w+)", Presence::(\w+)', body), records[name]
        required = {key for key, presence in fields if presence in ("Required", "Grouped")}
        assert [key for key in record.__annotations__ if key != "model"] == [key for key, _ in fields], name
        assert record.__required_keys__ - {"model"} == required, name
        assert schema.record_keys(record) == (tuple(k for k, p in fields if p != "KeyOnly"), len(required)), name
    assert [(section, record.__name__) for section, record in schema.SECTIONS.items()] == re.findall(
        r'\{"(\w+)", Presence::\w+,\s*\[\]\([^)]*\) \{\s*return read_(?:optional_)?record\(r, k(\w+)Schema',
        tables["SimulationConfig"])


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "run_simulation() missing 1 required positional argument: 'py_cfg'"),
    ((), {"cfg": {}}, "run_simulation() got an unexpected keyword argument 'cfg'"),
    (({},), {"py_cfg": {}}, "run_simulation() got multiple values for argument 'py_cfg'")])
def test_binding_errors_are_type_errors_in_the_interpreter_wording(args, kwargs, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        abyx.run_simulation(*args, **kwargs)


CORRECTION = "abyx: source: z position -5 is negative (positive down convention); correcting to 5"
UNKNOWN = ["abyx: unknown input key is ignored: config.beam.extra", "abyx: unknown input key is ignored: config.note"]


Unprintable = type("Unprintable", (Exception,), {"__str__": lambda self: 1 / 0})  # str() always fails


def raising(exception):  # a dict whose items() raises: json.dumps fails with exactly this exception
    return type("Raising", (dict,), {"items": lambda self: (_ for _ in ()).throw(exception)})(ssp={})


def warning_config(**beam):
    """One depth correction (source z = -5), then two unknown keys: beam.extra, then note."""
    return dict(make_config(**{"+beam": {"extra": {"nested": [1, 2]}, **beam}, "+source": {
        "position": [0.0, 0.0, -5.0]}}), note="ignored")


def failure(cfg):
    with pytest.raises(RuntimeError) as caught:
        abyx.run_simulation(cfg)
    assert caught.value.__cause__ is None and caught.value.__context__ is None
    return str(caught.value)


@pytest.mark.parametrize("cfg, message", [
    ({"ssp": {1.0}}, "json.dumps failed: TypeError: Object of type set is not JSON serializable"),
    (raising(Unprintable()), "json.dumps failed: Unprintable: <exception str() failed>"),
    (raising(KeyError("lone \udc80 surrogate")), "json.dumps failed: KeyError: 'lone \\udc80 surrogate'"),
    (raising(OSError("lone \udc80 surrogate")), "json.dumps failed: OSError: lone ? surrogate"),
    (make_config(**{"+beam": {"step_m": float("nan")}}), "failed to parse config JSON: expected value at line 1 "),
    (make_config(**{"+beam": {"step_m": float("-inf")}}), "failed to parse config JSON: invalid number at line 1 "),
    (json.dumps(make_config()), "failed to parse config JSON: invalid type: string "),
    (make_config(**{"+beam": {"beam_type": "cerveny", "beam_width": [1.0]}}), "failed to parse config JSON: ")])
def test_unserialisable_or_unreadable_configuration_names_the_problem(cfg, message):
    text = failure(cfg)
    assert text.startswith(message)
    assert text == message or re.search(r" at line 1 column \d+$", text)


@pytest.mark.parametrize("stop", [KeyboardInterrupt(), SystemExit(3)])
def test_a_request_to_stop_during_the_call_stays_itself(stop):
    with pytest.raises(type(stop)) as caught:
        abyx.run_simulation(raising(stop))
    assert caught.value is stop


@pytest.mark.parametrize("sections, text, note", [
    ({"+source": {"position": [0.0, 0.0, 50.0, 1.0]}}, "trailing characters",
     "in source.position, which takes exactly three numbers: x, y and z (m)"),
    ({"+beam": {"integration_method": None}}, "expected value", 'in beam.integration_method, which takes "euler" or "rk2"'),
    ({"beam": [10.0, 100, "far"]}, 'invalid type: string "far", expected f32',
     "in beam.max_range_m, which takes a number of metres"),
    ({"beam": {"step_m": 10.0, "max_range_m": 500.0}}, "missing field `max_steps`", None)])  # says it all
def test_a_failed_read_keeps_its_text_and_notes_where_the_problem_lies(sections, text, note):
    with pytest.raises(RuntimeError) as caught:
        abyx.run_simulation(make_config(**sections))
    assert str(caught.value).startswith("failed to parse config JSON: " + text + " at line 1 column ")
    assert getattr(caught.value, "__notes__", None) == (None if note is None else [note])


@pytest.mark.parametrize("dumped, message", [
    (b"{}", "extract json string failed: TypeError: json.dumps returned bytes, expected str"),
    ("{\udc80}", "extract json string failed: UnicodeEncodeError: 'utf-8' codec can't encode "
                 "character '\\udc80' in position 1: surrogates not allowed")])
def test_unusable_dump_result_is_reported(monkeypatch, dumped, message):
    monkeypatch.setattr(json, "dumps", lambda obj: dumped)
    assert failure(make_config()) == message


def test_missing_modules_are_reported_and_warnings_is_imported_only_when_needed(monkeypatch):
    monkeypatch.setitem(sys.modules, "warnings", None)
    assert "pressure_field" in abyx.run_simulation(make_config())
    halted = "ModuleNotFoundError: import of {0} halted; None in sys.modules"
    assert failure(warning_config()) == "failed to import warnings: " + halted.format("warnings")
    monkeypatch.setitem(sys.modules, "json", None)
    assert failure(make_config()) == "failed to import json: " + halted.format("json")


WIDTH_RANGE = ("m is outside 30 to 50 m: from twice the longest wavelength (the fastest sound speed over the "
               "lowest frequency) up to a tenth of max_range_m and up to sqrt(10 x max_range_m x the shortest "
               "wavelength / pi), beyond which the beams do not spread over the range")
NO_ELEVATION_SPACING = "source: launch_elev_deg must not start with two equal angles: a fan without spacing gives its beams no width"
AZIMUTH_SPACING = ("source: launch_azim_deg must start with two angles that differ by more than 0 and at most 360 deg: "
                   "the fan's spacing sets its beams' width")


# beams that cannot be summed are refused before the run: no width, or a width beyond the paraxial range
@pytest.mark.parametrize("sections, message", [
    ({"+beam": {"beam_type": "cerveny", "beam_width": w}}, f"beam: beam_width of {text} {WIDTH_RANGE}")
    for w, text in ((1.0, 1), (1e-30, "1e-30"), (1e38, "1e+38"), (1e4, 10000), (29.9, 29.9), (50.1, 50.1))] + [
    ({"+source": {"freq_hz": [100.0, 1e5]}, "+beam": {"beam_type": "cerveny", "beam_width": 40.0}},
     "beam: beam_width of 40 m is outside 30 to 4.886025" + WIDTH_RANGE[21:])] + [
    ({"+source": {"launch_elev_deg": [0.0, 0.0, 0.0]}}, NO_ELEVATION_SPACING),
    ({"+source": {"launch_elev_deg": [5.0, 5.0]}, "+beam": {"beam_type": "cerveny", "beam_width": "space_filling"}},
     NO_ELEVATION_SPACING),
    ({"+source": {"launch_azim_deg": [5.0, 5.0, 5.0]}}, AZIMUTH_SPACING),
    ({"+source": {"launch_azim_deg": [0.0, 1e30]}, "+beam": {"beam_type": "cerveny"}}, AZIMUTH_SPACING),
    ({"+source": {"launch_azim_deg": [0.0, 360.5]}}, AZIMUTH_SPACING)])
def test_fans_without_spacing_and_beam_widths_beyond_their_range_are_refused(sections, message):
    assert failure(make_config(**sections)) == "invalid simulation config: Invalid simulation config:\n  - " + message


@pytest.mark.parametrize("sections", [{"+beam": {"beam_type": "cerveny", "beam_width": w}} for w in (30.0, 50.0)] + [
    {"+source": {"launch_azim_deg": [0.0, 360.0]}}, {"+source": {"launch_elev_deg": [0.0], "launch_azim_deg": [7.0]}}])
@pytest.mark.filterwarnings("ignore:.*leave gaps between the complex-Q beams")
def test_widths_and_spacings_at_the_ends_of_their_ranges_run(sections):
    assert abyx.run_simulation(make_config(**sections))["pressure_field"]["shape"] == (1, 2, 2, 2)


# the beam kinds' own texts; the rest of validation's texts are checked in C++
@pytest.mark.parametrize("beam, message", [
    ({}, ""), ({"beam_type": "paraxial"}, '\n  - beam: beam_type must be "geometric" or "cerveny", got "paraxial"'),
    ({"beam_type": "cerveny", "beam_width": "narrow"},
     '\n  - beam: beam_width must be "min_width", "space_filling" or a positive number of metres, got "narrow"'),
    ({"beam_type": "cerveny", "beam_width": -2.5},
     '\n  - beam: beam_width must be "min_width", "space_filling" or a positive number of metres, got -2.5')])
def test_validation_failure_lists_every_problem_and_issues_no_warning(beam, message):
    config = warning_config(**beam)
    config["ssp"]["c_m_s"], config["beam"]["max_steps"] = [], 0
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        assert failure(config) == ("invalid simulation config: Invalid simulation config:\n"
                                   "  - ssp: c_m_s must not be empty\n  - beam: max_steps must be > 0" + message)
    assert issued == []


def test_corrections_then_unknown_keys_are_warned_in_order_and_one_turned_into_an_error_stops_the_call(capfd):
    with pytest.warns(UserWarning) as issued:
        abyx.run_simulation(warning_config())
    assert [str(w.message) for w in issued] == [CORRECTION] + UNKNOWN
    assert all(w.category is UserWarning and w.filename == __file__ for w in issued)  # stacklevel 1
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        warnings.filterwarnings("error", message=re.escape(UNKNOWN[0]))
        message = failure(warning_config(show_progress=True, atomic_progress_counter=True))
    assert message == "warnings.warn failed: UserWarning: " + UNKNOWN[0]
    assert [str(w.message) for w in issued] == [CORRECTION]  # the later warning never went out
    assert capfd.readouterr().out == ""  # nor did the engine run


@pytest.mark.parametrize("section, values, message", [
    ("receivers", {"config_type": "array", "x_rcvr_m": [1.0, 2.0], "y_rcvr_m": [0.0], "z_rcvr_m": [2.0, 3.0]},
     "array receiver coordinates must have equal lengths"),
    ("ssp", {"x_ssp_m": [0.0], "c_m_s": [1500.0] * 4}, "Need nx >= 2 for finite differences along x")])
def test_internal_fault_is_a_panic_exception_and_the_next_call_works(section, values, message):
    for _ in range(2):  # not an Exception: see test_docstrings_all_signature_and_the_panic_class_made_once
        with pytest.raises(abyx.PanicException, match="^" + re.escape(message)):
            abyx.run_simulation(make_config(**{"+" + section: values}))
    # the next call, by keyword this time, runs as one by position
    assert abyx.run_simulation(py_cfg=make_config()) == abyx.run_simulation(make_config())


@pytest.mark.parametrize("receivers, beam", [
    ({}, {}), ({"config_type": "array", "x_rcvr_m": [100.0, 200.0], "y_rcvr_m": [0.0, 50.0], "z_rcvr_m": [20.0, 40.0]},
               {"arrivals": True, "eigenrays": True})], ids=["grid", "array-arrivals"])
def test_interpreter_allocation_failures_are_clean_exceptions(monkeypatch, receivers, beam):
    testcapi = pytest.importorskip("_testcapi")
    config = make_config(**{"+beam": {"store_ray_paths": True, **beam}, "+receivers": receivers})
    # a ready text from a C callable keeps the failures inside this module's own calls: neither
    # json.dumps nor a tracer's Python frame runs while allocations fail
    monkeypatch.setattr(json, "dumps", functools.partial(next, itertools.repeat(json.dumps(config))))
    keys = ["ray_paths", *(["receiver_positions_m"] if receivers else ["x_m", "y_m", "z_m"]), *schema.FIELD_KEYS,
            "pressure_field", *([*schema.Arrivals.__annotations__, "arrivals", "path", "eigenrays"] if beam else [])]
    expected, seen = {f"failed to set {key}: MemoryError: " for key in keys}, set()
    for k in range(1, 50_000):  # fail the k-th allocation of the call until the call succeeds
        testcapi.set_nomemory(k, k + 1)
        try:
            result = abyx.run_simulation(config)
            break
        except (MemoryError, RuntimeError) as error:
            seen.add(str(error) or "MemoryError")
        finally:
            testcapi.remove_mem_hooks()
    assert "pressure_field" in result
    assert expected <= seen <= expected | {"MemoryError", "json.dumps failed: MemoryError: "}


def test_geometric_beams_ignore_the_width_and_stay_as_they_were():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        widened = abyx.run_simulation(make_config(**{"+beam": {"beam_type": "geometric", "beam_width": "narrow"}}))
    assert widened == abyx.run_simulation(make_config())


ELASTIC = {"model": "elastic", "compressional_speed_m_s": 1800.0, "shear_speed_m_s": 600.0, "density_g_cm3": 2.0,
           "compressional_attenuation_db_per_wavelength": 0.3, "shear_attenuation_db_per_wavelength": 0.8}
INVALID = "invalid simulation config: Invalid simulation config:\n  - "


@pytest.mark.parametrize("sections, message", [
    # validation's texts are checked in C++; here an integer beyond f64, and what validation cannot see: speeds
    # that jump by 1e6 m/s across 1e-30 m
    ({"+source": {"freq_hz": [10 ** 400]}}, INVALID + "source: freq_hz values must be finite"),
    ({"+ssp": {"z_ssp_m": [0.0, 1e-30], "c_m_s": [1.0, 1e6] * 4}}, "beyond single precision: ray "),
    ({"+source": {"freq_hz": [1e9], "launch_elev_deg": [-60.0, 30.0, 60.0]}, "+bathymetry": {"bottom_model": ELASTIC}},
     None)], ids=["huge-int-freq", "speed-jump", "elastic-1GHz"])
def test_numbers_single_precision_cannot_trace_are_refused_and_the_rest_stay_finite(sections, message):
    config = make_config(**{"+beam": {"store_ray_paths": True}, **sections})
    if message is not None:
        assert failure(config).startswith(message)
        return
    result = abyx.run_simulation(config)
    field = result["pressure_field"]
    assert all(map(math.isfinite, field["pressure_re"] + field["pressure_im"])) and any(field["pressure_re"])
    assert all(math.isfinite(v) for path in result["ray_paths"] for point in path for v in point)
