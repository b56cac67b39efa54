"""The road of one call: serialising the configuration, reading and validating it, the warnings,
and every failure on the way with its exact message."""

import json
import re
import sys
import tracemalloc
import warnings

import pytest

import abyx
from conftest import make_config

POSITION_TAIL = re.compile(r" at line 1 column \d+$")


class Unprintable(Exception):
    """A host error whose str() itself raises."""

    def __str__(self):
        raise ValueError("str() of this exception always fails")


def raising_mapping(exception):
    """A dict whose items() raises: json.dumps fails with exactly this exception."""

    class Raising(dict):
        def items(self):
            raise exception

    return Raising(ssp={})


def warning_config(**beam):
    """A valid configuration with one depth correction (source z = -5) and two unknown keys,
    beam.extra and then note in document order."""
    config = make_config(**{"+beam": {"extra": {"nested": [1, 2]}, **beam}})
    config["source"]["position"] = [0.0, 0.0, -5.0]
    config["note"] = "ignored"
    return config


CORRECTION = "abyx: source: z position -5 is negative (positive down convention); correcting to 5"
UNKNOWN_EXTRA = "abyx: unknown input key is ignored: config.beam.extra"
UNKNOWN_NOTE = "abyx: unknown input key is ignored: config.note"


def run_failing(cfg, expected=RuntimeError):
    with pytest.raises(expected) as caught:
        abyx.run_simulation(cfg)
    return caught.value


# --- failures and their messages ---------------------------------------------------------------


@pytest.mark.parametrize(
    "make_cfg, message",
    [
        (
            lambda: make_config(**{"+source": {"freq_hz": {100.0}}}),
            "json.dumps failed: TypeError: Object of type set is not JSON serializable",
        ),
        (
            lambda: raising_mapping(Unprintable()),
            "json.dumps failed: Unprintable: <exception str() failed>",
        ),
        (
            lambda: raising_mapping(KeyError("lone \udc80 surrogate")),
            "json.dumps failed: KeyError: 'lone \\udc80 surrogate'",
        ),
        (
            lambda: raising_mapping(OSError("lone \udc80 surrogate")),
            "json.dumps failed: OSError: lone ? surrogate",
        ),
    ],
)
def test_json_dumps_failure_renders_the_host_error(make_cfg, message):
    error = run_failing(make_cfg())
    assert str(error) == message
    assert error.__cause__ is None and error.__context__ is None


def test_failed_json_import_is_reported(monkeypatch, config):
    monkeypatch.setitem(sys.modules, "json", None)
    error = run_failing(config)
    assert str(error) == (
        "failed to import json: ModuleNotFoundError: import of json halted; None in sys.modules"
    )


@pytest.mark.parametrize(
    "dumped, message",
    [
        (b"{}", "extract json string failed: TypeError: json.dumps returned bytes, expected str"),
        (
            "{\udc80}",
            "extract json string failed: UnicodeEncodeError: 'utf-8' codec can't encode "
            "character '\\udc80' in position 1: surrogates not allowed",
        ),
    ],
)
def test_unusable_dump_result_is_reported(monkeypatch, config, dumped, message):
    monkeypatch.setattr(json, "dumps", lambda obj: dumped)
    assert str(run_failing(config)) == message


@pytest.mark.parametrize(
    "value, reader_message",
    [(float("nan"), "expected value"), (float("inf"), "expected value"),
     (float("-inf"), "invalid number")],
)
def test_non_finite_float_fails_while_reading(value, reader_message):
    message = str(run_failing(make_config(**{"+beam": {"step_m": value}})))
    assert message.startswith("failed to parse config JSON: " + reader_message + " at line 1 ")
    assert POSITION_TAIL.search(message)


def test_json_text_instead_of_a_dict_fails_while_reading(config):
    message = str(run_failing(json.dumps(config)))
    assert message.startswith("failed to parse config JSON: invalid type: string ")
    assert "expected struct SimulationConfig" in message
    assert POSITION_TAIL.search(message)


def test_validation_failure_lists_every_problem_and_issues_no_warning():
    config = warning_config()
    config["ssp"]["c_m_s"] = []
    config["beam"]["max_steps"] = 0
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        error = run_failing(config)
    assert str(error) == (
        "invalid simulation config: Invalid simulation config:\n"
        "  - ssp: c_m_s must not be empty\n"
        "  - beam: max_steps must be > 0"
    )
    assert issued == []


# --- warnings ----------------------------------------------------------------------------------


def test_corrections_then_unknown_keys_are_warned_in_order_from_the_caller():
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        abyx.run_simulation(warning_config())
    assert [str(w.message) for w in issued] == [CORRECTION, UNKNOWN_EXTRA, UNKNOWN_NOTE]
    assert all(w.category is UserWarning for w in issued)
    assert all(w.filename == __file__ for w in issued)


def test_warning_turned_into_error_stops_the_call_before_the_engine(capfd):
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        warnings.filterwarnings("error", message=re.escape(UNKNOWN_EXTRA))
        error = run_failing(warning_config(show_progress=True, atomic_progress_counter=True))
    assert str(error) == "warnings.warn failed: UserWarning: " + UNKNOWN_EXTRA
    assert error.__cause__ is None and error.__context__ is None
    # the correction went out, the warning after the failing one did not, the engine never ran
    assert [str(w.message) for w in issued] == [CORRECTION]
    assert capfd.readouterr().out == ""


def test_warnings_module_is_imported_only_when_needed(monkeypatch, config):
    monkeypatch.setitem(sys.modules, "warnings", None)
    assert "pressure_field" in abyx.run_simulation(config)
    error = run_failing(warning_config())
    assert str(error) == (
        "failed to import warnings: ModuleNotFoundError: "
        "import of warnings halted; None in sys.modules"
    )


# --- internal faults ---------------------------------------------------------------------------


def array_receivers(x, y, z):
    return make_config(receivers={"config_type": "array", "x_rcvr_m": x, "y_rcvr_m": y,
                                  "z_rcvr_m": z})


def test_engine_fault_is_a_panic_exception_and_the_next_call_works():
    bad = array_receivers([100.0, 200.0], [0.0], [20.0, 30.0])
    raised = []
    for _ in range(2):
        try:
            abyx.run_simulation(bad)
        except Exception:  # a PanicException must not be caught here
            pytest.fail("PanicException was caught as an Exception")
        except BaseException as panic:
            raised.append(panic)
    assert [type(panic) for panic in raised] == [abyx.PanicException] * 2
    assert [str(panic) for panic in raised] == [
        "array receiver coordinates must have equal lengths"] * 2
    good = abyx.run_simulation(array_receivers([100.0], [0.0], [20.0]))
    assert good["pressure_field"]["shape"] == (1, 1, 1, 1)


def test_exhausted_memory_is_a_memory_error_and_the_next_call_works(config):
    # 1e15 receiver cells cannot be held: the allocation fails instead of ending the process
    huge = [float(i) for i in range(100_000)]
    with pytest.raises(MemoryError):
        abyx.run_simulation(make_config(receivers={"config_type": "grid", "x_rcvr_m": huge,
                                                   "y_rcvr_m": huge, "z_rcvr_m": huge}))
    assert abyx.run_simulation(config)["pressure_field"]["shape"] == (1, 2, 2, 2)


FIELD_KEYS = {
    "grid": ["x_m", "y_m", "z_m"],
    "array": ["receiver_positions_m"],
}


@pytest.mark.parametrize("mode", sorted(FIELD_KEYS))
def test_interpreter_allocation_failures_are_clean_exceptions(monkeypatch, mode):
    testcapi = pytest.importorskip("_testcapi")
    config = make_config(**{"+beam": {"store_ray_paths": True}})
    if mode == "array":
        config["receivers"] = {"config_type": "array", "x_rcvr_m": [100.0, 200.0],
                               "y_rcvr_m": [0.0, 50.0], "z_rcvr_m": [20.0, 40.0]}
    # a ready text keeps the failures inside this module's own calls (some interpreter versions
    # cannot survive a failed allocation inside json.dumps itself)
    monkeypatch.setattr(json, "dumps", lambda obj, text=json.dumps(config): text)
    keys = ["ray_paths", *FIELD_KEYS[mode], "frequency_hz", "shape", "pressure_re",
            "pressure_im", "delay_s", "amplitude", "pressure_field"]
    allowed = {"MemoryError", "json.dumps failed: MemoryError: "}
    allowed.update(f"failed to set {key}: MemoryError: " for key in keys)
    seen = set()
    result = None
    # fail the k-th interpreter allocation of the call, for every k until the call succeeds
    for k in range(1, 50_000):
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
    assert seen <= allowed
    assert {f"failed to set {key}: MemoryError: " for key in keys} <= seen


# --- nothing of a call survives it -------------------------------------------------------------


FAILING_CONFIGS = {
    "dumps": lambda: make_config(**{"+source": {"freq_hz": {100.0}}}),
    "parse": lambda: make_config(**{"+beam": {"max_steps": -1}}),
    "validate": lambda: make_config(**{"+beam": {"step_m": 0.0}}),
    "warn": warning_config,
}


@pytest.mark.parametrize("kind", sorted(FAILING_CONFIGS))
def test_failing_calls_keep_no_reference_and_no_memory(kind):
    cfg = FAILING_CONFIGS[kind]()
    before = sys.getrefcount(cfg)

    def fail():
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            try:
                abyx.run_simulation(cfg)
            except RuntimeError:
                pass

    tracemalloc.start()
    try:
        # the interpreter's own caches fill during the first few hundred calls; then it is flat
        for _ in range(500):
            fail()
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(200):
            fail()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert sys.getrefcount(cfg) == before
    assert end - start < 4 * 1024


def test_successful_calls_keep_no_reference_and_no_memory(config):
    config["beam"]["store_ray_paths"] = True
    before = sys.getrefcount(config)
    tracemalloc.start()
    try:
        for _ in range(100):
            abyx.run_simulation(config)
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(100):
            abyx.run_simulation(config)
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert sys.getrefcount(config) == before
    assert end - start < 4 * 1024
