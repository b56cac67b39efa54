"""The road of one call: serialising, reading and validating the configuration, the warnings, and
every failure on the way with its exact message."""

import functools
import itertools
import json
import re
import sys
import warnings

import pytest

import abyx
from conftest import make_config

CORRECTION = "abyx: source: z position -5 is negative (positive down convention); correcting to 5"
UNKNOWN_EXTRA = "abyx: unknown input key is ignored: config.beam.extra"
UNKNOWN_NOTE = "abyx: unknown input key is ignored: config.note"


class Unprintable(Exception):
    def __str__(self):
        raise ValueError("str() of this exception always fails")


def raising_mapping(exception):
    """A dict whose items() raises: json.dumps fails with exactly this exception."""
    return type("Raising", (dict,), {"items": lambda self: (_ for _ in ()).throw(exception)})(ssp={})


def warning_config(**beam):
    """One depth correction (source z = -5), then two unknown keys: beam.extra, then note."""
    config = make_config(**{"+beam": {"extra": {"nested": [1, 2]}, **beam}})
    config["source"]["position"] = [0.0, 0.0, -5.0]
    config["note"] = "ignored"
    return config


def failure(cfg, expected=RuntimeError):
    with pytest.raises(expected) as caught:
        abyx.run_simulation(cfg)
    return caught.value


@pytest.mark.parametrize("make_cfg, message", [
    (lambda: make_config(**{"+source": {"freq_hz": {100.0}}}),
     "json.dumps failed: TypeError: Object of type set is not JSON serializable"),
    (lambda: raising_mapping(Unprintable()), "json.dumps failed: Unprintable: <exception str() failed>"),
    (lambda: raising_mapping(KeyError("lone \udc80 surrogate")),
     "json.dumps failed: KeyError: 'lone \\udc80 surrogate'"),
    (lambda: raising_mapping(OSError("lone \udc80 surrogate")), "json.dumps failed: OSError: lone ? surrogate"),
])
def test_json_dumps_failure_renders_the_host_error(make_cfg, message):
    error = failure(make_cfg())
    assert str(error) == message
    assert error.__cause__ is None and error.__context__ is None


@pytest.mark.parametrize("dumped, message", [
    (b"{}", "extract json string failed: TypeError: json.dumps returned bytes, expected str"),
    ("{\udc80}", "extract json string failed: UnicodeEncodeError: 'utf-8' codec can't encode "
                 "character '\\udc80' in position 1: surrogates not allowed"),
])
def test_unusable_dump_result_is_reported(monkeypatch, config, dumped, message):
    monkeypatch.setattr(json, "dumps", lambda obj: dumped)
    assert str(failure(config)) == message


def test_missing_json_or_warnings_module_is_reported_and_warnings_is_imported_only_when_needed(
        monkeypatch, config):
    monkeypatch.setitem(sys.modules, "warnings", None)
    assert "pressure_field" in abyx.run_simulation(config)
    assert str(failure(warning_config())) == (
        "failed to import warnings: ModuleNotFoundError: import of warnings halted; None in sys.modules")
    monkeypatch.setitem(sys.modules, "json", None)
    assert str(failure(config)) == (
        "failed to import json: ModuleNotFoundError: import of json halted; None in sys.modules")


@pytest.mark.parametrize("cfg, reader_message", [
    (make_config(**{"+beam": {"step_m": float("nan")}}), "expected value"),
    (make_config(**{"+beam": {"step_m": float("-inf")}}), "invalid number"),
    (make_config(**{"+beam": {"max_steps": -1}}), "invalid value: integer `-1`"),
    (json.dumps(make_config()), "invalid type: string "),
])
def test_unreadable_configuration_names_the_problem_and_its_column(cfg, reader_message):
    message = str(failure(cfg))
    assert message.startswith("failed to parse config JSON: " + reader_message)
    assert re.search(r" at line 1 column \d+$", message)


def test_validation_failure_lists_every_problem_and_issues_no_warning():
    config = warning_config()
    config["ssp"]["c_m_s"] = []
    config["beam"]["max_steps"] = 0
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        error = failure(config)
    assert str(error) == ("invalid simulation config: Invalid simulation config:\n"
                          "  - ssp: c_m_s must not be empty\n  - beam: max_steps must be > 0")
    assert issued == []


def test_corrections_then_unknown_keys_are_warned_in_order_from_the_caller():
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        abyx.run_simulation(warning_config())
    assert [str(w.message) for w in issued] == [CORRECTION, UNKNOWN_EXTRA, UNKNOWN_NOTE]
    assert all(w.category is UserWarning and w.filename == __file__ for w in issued)


def test_warning_turned_into_error_stops_the_call_before_the_engine(capfd):
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        warnings.filterwarnings("error", message=re.escape(UNKNOWN_EXTRA))
        error = failure(warning_config(show_progress=True, atomic_progress_counter=True))
    assert str(error) == "warnings.warn failed: UserWarning: " + UNKNOWN_EXTRA
    assert error.__cause__ is None and error.__context__ is None
    assert [str(w.message) for w in issued] == [CORRECTION]  # the later warning never went out
    assert capfd.readouterr().out == ""  # nor did the engine run


@pytest.mark.parametrize("section, values, message", [
    ("receivers", {"config_type": "array", "x_rcvr_m": [1.0, 2.0], "y_rcvr_m": [0.0],
                   "z_rcvr_m": [2.0, 3.0]}, "array receiver coordinates must have equal lengths"),
    ("ssp", {"c_m_s": [1500.0] * 7}, "c_m_s does not match grid dimensions"),
    ("bathymetry", {"z_bty_m": [100.0] * 5},
     "z_bty_m does not match grid dimensions: nx = 2, ny = 2, bty_len = 5"),
    ("ssp", {"x_ssp_m": [0.0], "c_m_s": [1500.0] * 4}, "Need nx >= 2 for finite differences along x"),
])
def test_internal_fault_is_a_panic_exception_and_the_next_call_works(section, values, message):
    config = make_config(**{"+" + section: values})
    for _ in range(2):
        try:
            abyx.run_simulation(config)
        except Exception:  # a PanicException must not be caught here
            pytest.fail("PanicException was caught as an Exception")
        except abyx.PanicException as panic:
            assert str(panic).startswith(message)
    field = abyx.run_simulation(make_config())["pressure_field"]
    assert any(d < float("inf") for d in field["delay_s"])


@pytest.mark.parametrize("mode", ["grid", "array"])
def test_interpreter_allocation_failures_are_clean_exceptions(monkeypatch, mode):
    testcapi = pytest.importorskip("_testcapi")
    config = make_config(**{"+beam": {"store_ray_paths": True}})
    if mode == "array":
        config["receivers"] = {"config_type": "array", "x_rcvr_m": [100.0, 200.0],
                               "y_rcvr_m": [0.0, 50.0], "z_rcvr_m": [20.0, 40.0]}
    # a ready text from a C callable keeps the failures inside this module's own calls: neither
    # json.dumps nor a tracer's Python frame runs while allocations fail
    monkeypatch.setattr(json, "dumps", functools.partial(next, itertools.repeat(json.dumps(config))))
    axes = ["x_m", "y_m", "z_m"] if mode == "grid" else ["receiver_positions_m"]
    keys = ["ray_paths", *axes, "frequency_hz", "shape", "pressure_re", "pressure_im", "delay_s",
            "amplitude", "pressure_field"]
    expected = {f"failed to set {key}: MemoryError: " for key in keys}
    seen, result = set(), None
    for k in range(1, 50_000):  # fail the k-th allocation of the call until the call succeeds
        testcapi.set_nomemory(k, k + 1)
        try:
            result = abyx.run_simulation(config)
        except MemoryError:
            seen.add("MemoryError")
        except RuntimeError as error:
            seen.add(str(error))
        else:
            break
        finally:
            testcapi.remove_mem_hooks()
    assert result is not None and "pressure_field" in result
    assert expected <= seen <= expected | {"MemoryError", "json.dumps failed: MemoryError: "}
