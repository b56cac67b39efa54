"""Randomised invariants of whole runs: random valid configurations always give a finite field of
the documented shape, the same on every run; random mutations of valid configurations always end
in a Python exception of the documented kinds or in such a field, never in a crash or a hang."""

import copy
import itertools
import faulthandler
import math
import warnings

import pytest

hypothesis = pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import HealthCheck, event, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import abyx  # noqa: E402

# Reproducible in CI (derandomize, no example database) and small enough to run in seconds.
RUN_SETTINGS = settings(
    max_examples=120,
    deadline=None,
    derandomize=True,
    database=None,
    suppress_health_check=[HealthCheck.too_slow],
)
MUTATION_SETTINGS = settings(RUN_SETTINGS, max_examples=150)

# One example may take this long before the run is declared hung and the process is ended with
# every thread's traceback.
HANG_LIMIT_S = 120

# pressures of runs that differ only in the grouping of their sums agree to f32 rounding
PRESSURE_REL_TOL = 1e-4

# What a failing call may raise: argument errors, errors of the call road, internal faults and
# allocation failures. Anything else, or a crash, is a fault of the module.
ALLOWED_FAILURES = (TypeError, RuntimeError, abyx.PanicException, MemoryError)

SPEED = st.floats(1400.0, 1600.0, width=32)
DEPTH = st.floats(20.0, 200.0, width=32)


@st.composite
def increasing_axis(draw, first, min_size, max_size, gap=(10.0, 1000.0)):
    """A strictly increasing axis: a first node within `first`, then gaps within `gap` (m), all on
    a 1/8 m lattice so that every node is exact in single precision."""
    n = draw(st.integers(min_size, max_size))
    if n == 0:
        return []
    eighths = lambda bounds: st.integers(int(bounds[0] * 8), int(bounds[1] * 8))  # noqa: E731
    start = draw(eighths(first))
    gaps = draw(st.lists(eighths(gap), min_size=n - 1, max_size=n - 1))
    return [v / 8 for v in itertools.accumulate([start, *gaps])]


@st.composite
def sound_speed(draw):
    x = draw(increasing_axis((-2000.0, 0.0), 2, 3))
    y = draw(increasing_axis((-2000.0, 0.0), 2, 3))
    z = draw(increasing_axis((0.0, 10.0), 2, 4, gap=(10.0, 100.0)))
    c = draw(st.lists(SPEED, min_size=len(x) * len(y) * len(z),
                      max_size=len(x) * len(y) * len(z)))
    return {"x_ssp_m": x, "y_ssp_m": y, "z_ssp_m": z, "c_m_s": c}


ATTENUATION = st.one_of(st.none(), st.floats(0.0, 2.0, width=32))

BOTTOM_MODEL = st.one_of(
    st.just({"model": "rigid"}),
    st.builds(
        lambda cp, rho, ap: {"model": "acoustic", "compressional_speed_m_s": cp,
                             "density_g_cm3": rho,
                             "compressional_attenuation_db_per_wavelength": ap},
        st.floats(1000.0, 3000.0, width=32), st.floats(1.0, 3.0, width=32), ATTENUATION),
    st.builds(
        lambda cp, cs, rho, ap, as_: {"model": "elastic", "compressional_speed_m_s": cp,
                                      "shear_speed_m_s": cs, "density_g_cm3": rho,
                                      "compressional_attenuation_db_per_wavelength": ap,
                                      "shear_attenuation_db_per_wavelength": as_},
        st.floats(1000.0, 3000.0, width=32), st.floats(100.0, 1500.0, width=32),
        st.floats(1.0, 3.0, width=32), ATTENUATION, ATTENUATION),
)


@st.composite
def bathymetry(draw):
    x = draw(increasing_axis((-2000.0, 0.0), 2, 3))
    y = draw(increasing_axis((-2000.0, 0.0), 2, 3))
    section = {"x_bty_m": x, "y_bty_m": y,
               "z_bty_m": draw(st.lists(DEPTH, min_size=len(x) * len(y),
                                        max_size=len(x) * len(y))),
               "bottom_model": draw(BOTTOM_MODEL)}
    density = draw(st.one_of(st.none(), st.floats(0.875, 1.125, width=32)))
    if density is not None:
        section["water_density_g_cm3"] = density
    return section


SOURCE = st.fixed_dictionaries({
    "position": st.tuples(st.floats(-100.0, 100.0, width=32), st.floats(-100.0, 100.0, width=32),
                          st.floats(0.0, 150.0, width=32)).map(list),
    "freq_hz": st.lists(st.floats(1.0, 500.0, width=32), max_size=2),
    "launch_elev_deg": st.lists(st.floats(-90.0, 90.0, width=32), min_size=1, max_size=3),
    "launch_azim_deg": st.lists(st.floats(0.0, 360.0, width=32), min_size=1, max_size=3),
})


@st.composite
def receivers(draw):
    if draw(st.booleans()):
        return {"config_type": "grid",
                "x_rcvr_m": draw(increasing_axis((-500.0, 500.0), 0, 3, gap=(0.125, 300.0))),
                "y_rcvr_m": draw(increasing_axis((-500.0, 500.0), 0, 3, gap=(0.125, 300.0))),
                "z_rcvr_m": draw(increasing_axis((0.0, 100.0), 0, 3, gap=(0.125, 50.0)))}
    n = draw(st.integers(0, 4))
    coordinate = st.lists(st.floats(-500.0, 500.0, width=32), min_size=n, max_size=n)
    return {"config_type": "array", "x_rcvr_m": draw(coordinate), "y_rcvr_m": draw(coordinate),
            "z_rcvr_m": draw(st.lists(st.floats(0.0, 200.0, width=32), min_size=n, max_size=n))}


BEAM = st.fixed_dictionaries({
    "step_m": st.floats(1.0, 50.0, width=32),
    "max_steps": st.integers(1, 200),
    "max_range_m": st.floats(10.0, 2000.0, width=32),
    "store_ray_paths": st.booleans(),
    "integration_method": st.sampled_from(["euler", "rk2"]),
})

VALID_CONFIG = st.fixed_dictionaries({
    "ssp": sound_speed(), "bathymetry": bathymetry(), "source": SOURCE,
    "receivers": receivers(), "beam": BEAM,
})


@pytest.fixture(autouse=True)
def hang_watchdog():
    """Ends the process with every thread's traceback if a test runs far longer than it should."""
    faulthandler.dump_traceback_later(HANG_LIMIT_S * 5, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


def run_guarded(config):
    """Runs with a watchdog per example; warnings are not the subject here."""
    faulthandler.dump_traceback_later(HANG_LIMIT_S, exit=True)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return abyx.run_simulation(config)
    finally:
        faulthandler.cancel_dump_traceback_later()


def expected_shape(config):
    nf = len(config["source"]["freq_hz"])
    rc = config["receivers"]
    if rc["config_type"] == "array":
        return (nf, len(rc["x_rcvr_m"]), 1, 1)
    return (nf, len(rc["x_rcvr_m"]), len(rc["y_rcvr_m"]), len(rc["z_rcvr_m"]))


def check_result(result, config):
    """The invariants of every result of a configuration that passed validation."""
    field = result["pressure_field"]
    shape = field["shape"]
    if all(isinstance(config.get(s), dict) for s in ("source", "receivers")):
        assert shape == expected_shape(config)
    cells = shape[1] * shape[2] * shape[3]
    assert len(field["pressure_re"]) == len(field["pressure_im"]) == shape[0] * cells
    assert len(field["delay_s"]) == len(field["amplitude"]) == cells
    assert all(math.isfinite(p) for p in field["pressure_re"] + field["pressure_im"])
    for delay, amplitude in zip(field["delay_s"], field["amplitude"]):
        assert delay == math.inf or (math.isfinite(delay) and delay >= 0.0), delay
        assert math.isfinite(amplitude) and amplitude >= 0.0, amplitude
        if delay == math.inf:
            assert amplitude == 0.0
    if "ray_paths" in result:
        paths = result["ray_paths"]
        source = config["source"]
        if isinstance(source, dict):
            assert len(paths) == len(source["launch_azim_deg"]) * len(source["launch_elev_deg"])
        for path in paths:
            assert len(path) >= 1
            assert all(len(p) == 3 and all(math.isfinite(v) for v in p) for p in path)


@RUN_SETTINGS
@given(config=VALID_CONFIG)
def test_valid_configuration_gives_a_finite_field_of_its_shape_and_the_same_on_rerun(config):
    first = run_guarded(config)
    check_result(first, config)
    assert ("ray_paths" in first) == config["beam"]["store_ray_paths"]
    # nothing of a run survives into the next: the same input gives the same output (the pressure
    # sums up to the rounding of their grouping, which follows the pool's timing)
    second = run_guarded(copy.deepcopy(config))
    assert second.get("ray_paths") == first.get("ray_paths")
    again, field = second["pressure_field"], first["pressure_field"]
    for key in field:
        if key not in ("pressure_re", "pressure_im"):
            assert again[key] == field[key], key
    scale = max((math.hypot(a, b) for a, b in zip(field["pressure_re"], field["pressure_im"])),
                default=0.0)
    for key in ("pressure_re", "pressure_im"):
        assert all(abs(a - b) <= PRESSURE_REL_TOL * scale for a, b in zip(again[key], field[key]))


# A single ray through a sound-speed grid of 1/8 m cells with jumps of up to 180 m/s: its beam
# matrices grow past 1e25 within 14 steps.
STEEP_PROFILE = {
    "ssp": {"x_ssp_m": [0.0, 0.125], "y_ssp_m": [-0.125, 0.0, 0.125],
            "z_ssp_m": [8.875, 10.5, 10.625, 10.75],
            "c_m_s": [1400.0] * 5 + [1574.0, 1464.0, 1539.0, 1400.0, 1580.0, 1404.0, 1401.0]
            + [1400.0] * 5 + [1402.0] + [1400.0] * 6},
    "bathymetry": {"x_bty_m": [0.0, 7.875, 21.625], "y_bty_m": [2.0, 2.125, 100.75],
                   "z_bty_m": [21.0, 20.0, 71.0, 20.0, 86.0, 20.0, 20.0, 20.0, 21.0],
                   "bottom_model": {"model": "rigid"}},
    "source": {"position": [0.0, 0.0, 0.0], "freq_hz": [1.0], "launch_elev_deg": [0.0],
               "launch_azim_deg": [0.0]},
    "receivers": {"config_type": "array", "x_rcvr_m": [0.0], "y_rcvr_m": [0.0],
                  "z_rcvr_m": [0.0]},
    "beam": {"step_m": 25.0, "max_steps": 14, "max_range_m": 75.0},
}


# Regression: overflowing beam matrices once put NaN into the pressure.
def test_steep_profile_whose_beam_matrices_overflow_still_gives_a_finite_field():
    check_result(run_guarded(copy.deepcopy(STEEP_PROFILE)), STEEP_PROFILE)


# --- mutations of valid configurations ----------------------------------------------------------


def deep_nesting(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


# Replacement values: wrong types, signs, magnitudes and shapes.
REPLACEMENTS = st.one_of(
    st.sampled_from([None, True, False, "", "grid", "rk2", "text", [], {}, [None], {"a": 1},
                     0, -1, -1.0, 0.0, -0.0, 1e39, -1e39, 10**30, -(10**30), 2**64, 2**63 - 1,
                     float("nan"), float("inf"), float("-inf"), [1.0, 2.0], [[1.0]],
                     {"model": "sand"}, {"model": "elastic"}, {"rk2": None}, [1500.0] * 7,
                     [-5.0, -1.0], [0.0, 0.0], [3.0, 1.0, 2.0]]),
    st.integers(2, 300).map(deep_nesting),
    st.floats(allow_nan=True, allow_infinity=True),
    st.integers(-(2**70), 2**70),
    st.text(max_size=8),
)


def paths_of(value, prefix=()):
    """Every place in a nested configuration: dict keys and list indices, outermost first."""
    yield prefix
    if isinstance(value, dict):
        for key, item in value.items():
            yield from paths_of(item, prefix + (key,))
    elif isinstance(value, list):
        for index, item in enumerate(value):
            yield from paths_of(item, prefix + (index,))


def container_at(config, path):
    node = config
    for step in path[:-1]:
        node = node[step]
    return node


@st.composite
def mutated_config(draw):
    config = copy.deepcopy(draw(VALID_CONFIG))
    for _ in range(draw(st.integers(1, 3))):
        places = [p for p in paths_of(config) if p]
        path = draw(st.sampled_from(places))
        parent, last = container_at(config, path), path[-1]
        action = draw(st.sampled_from(["replace", "replace", "delete", "add_key", "negate"]))
        if action == "replace":
            parent[last] = draw(REPLACEMENTS)
        elif action == "delete":
            del parent[last]
        elif action == "add_key" and isinstance(parent, dict):
            parent[draw(st.sampled_from(["extra", "model", "c_m_s", "step_m"]))] = draw(REPLACEMENTS)
        elif action == "negate" and isinstance(parent[last], (int, float)) and not isinstance(
                parent[last], bool):
            parent[last] = -parent[last]
    return config


def is_result_of_valid_run(result):
    return isinstance(result, dict) and "pressure_field" in result


@MUTATION_SETTINGS
@given(config=mutated_config())
def test_mutated_configuration_raises_a_documented_exception_or_runs(config):
    try:
        result = run_guarded(config)
    except ALLOWED_FAILURES as failure:
        event(type(failure).__name__)
        assert str(failure) or isinstance(failure, MemoryError)
        return
    event("ran")
    assert is_result_of_valid_run(result)
    # a mutation that stays valid still obeys every invariant of a valid run
    check_result(result, config)
