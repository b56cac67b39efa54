"""Randomised invariants: random valid configurations give a finite field of the documented shape,
never a crash or a hang. (Malformed configurations are the fuzz target's subject.)"""

import copy
import faulthandler
import itertools
import math
import warnings

import pytest

pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import abyx  # noqa: E402

# reproducible (derandomized, no example database) and small enough to run in seconds
RUN_SETTINGS = settings(max_examples=120, deadline=None, derandomize=True, database=None,
                        suppress_health_check=[HealthCheck.too_slow])
HANG_LIMIT_S = 120  # one example running longer ends the process with every thread's traceback
F32 = lambda lo, hi: st.floats(lo, hi, width=32)  # noqa: E731


@st.composite
def axis(draw, first, min_size, max_size, gap=(10.0, 1000.0)):
    """Strictly increasing, on a 1/8 m lattice so that every node is exact in single precision."""
    eighths = lambda b: st.integers(int(b[0] * 8), int(b[1] * 8))  # noqa: E731
    n = draw(st.integers(min_size, max_size))
    gaps = draw(st.lists(eighths(gap), min_size=max(n - 1, 0), max_size=max(n - 1, 0)))
    return [v / 8 for v in itertools.accumulate([draw(eighths(first)), *gaps])][:n]


def grid(draw, names, z=None):
    x, y = draw(axis((-2000.0, 0.0), 2, 3)), draw(axis((-2000.0, 0.0), 2, 3))
    return dict(zip(names, (x, y) + ((z,) if z is not None else ()))), len(x) * len(y)


def listed(draw, element, n):
    return draw(st.lists(element, min_size=n, max_size=n))


@st.composite
def valid_config(draw):
    z = draw(axis((0.0, 10.0), 2, 4, gap=(10.0, 100.0)))
    ssp, n = grid(draw, ("x_ssp_m", "y_ssp_m", "z_ssp_m"), z)
    ssp["c_m_s"] = listed(draw, F32(1400.0, 1600.0), n * len(z))
    bty, n = grid(draw, ("x_bty_m", "y_bty_m"))
    bty["z_bty_m"] = listed(draw, F32(20.0, 200.0), n)
    model = draw(st.sampled_from(["rigid", "acoustic", "elastic"]))
    bty["bottom_model"] = {"model": model}
    if model != "rigid":  # each attenuation absent, null or given
        bty["bottom_model"].update(compressional_speed_m_s=draw(F32(1000.0, 3000.0)), density_g_cm3=draw(F32(1.0, 3.0)))
        for key in ["compressional"] + ["shear"] * (model == "elastic"):
            if draw(st.booleans()):
                bty["bottom_model"][key + "_attenuation_db_per_wavelength"] = draw(st.one_of(st.none(), F32(0.0, 2.0)))
        if model == "elastic":
            bty["bottom_model"]["shear_speed_m_s"] = draw(F32(100.0, 1500.0))
    if draw(st.booleans()):
        bty["water_density_g_cm3"] = draw(F32(0.875, 1.125))
    source = {"position": [draw(F32(-100.0, 100.0)), draw(F32(-100.0, 100.0)), draw(F32(0.0, 150.0))],
              "freq_hz": draw(st.lists(F32(1.0, 500.0), max_size=2)),
              "launch_elev_deg": draw(st.lists(F32(-90.0, 90.0), min_size=1, max_size=3)),
              "launch_azim_deg": draw(st.lists(F32(0.0, 360.0), min_size=1, max_size=3))}
    keys, bounds = ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m"), ((-500.0, 500.0), (-500.0, 500.0), (0.0, 100.0))
    if draw(st.booleans()):
        rcv = {"config_type": "grid", **{k: draw(axis(b, 0, 3, gap=(0.125, 300.0))) for k, b in zip(keys, bounds)}}
    else:
        n = draw(st.integers(0, 4))
        rcv = {"config_type": "array", **{k: listed(draw, F32(*b), n) for k, b in zip(keys, bounds)}}
    beam = {"step_m": draw(F32(1.0, 50.0)), "max_steps": draw(st.integers(1, 200)),
            "max_range_m": draw(F32(10.0, 2000.0)), "store_ray_paths": draw(st.booleans()),
            "integration_method": draw(st.sampled_from(["euler", "rk2"]))}
    return {"ssp": ssp, "bathymetry": bty, "source": source, "receivers": rcv, "beam": beam}


def run_guarded(config):
    faulthandler.dump_traceback_later(HANG_LIMIT_S, exit=True)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return abyx.run_simulation(config)
    finally:
        faulthandler.cancel_dump_traceback_later()


def check_result(result, config):
    """The invariants of every result of a configuration that passed validation."""
    field = result["pressure_field"]
    nf, n1, n2, n3 = field["shape"]
    rc, source = config.get("receivers"), config.get("source")
    if isinstance(rc, dict) and isinstance(source, dict):
        sizes = [len(rc["x_rcvr_m"])] + ([1, 1] if rc["config_type"] == "array" else
                                         [len(rc["y_rcvr_m"]), len(rc["z_rcvr_m"])])
        assert field["shape"] == (len(source["freq_hz"]), *sizes)
    assert len(field["pressure_re"]) == len(field["pressure_im"]) == nf * n1 * n2 * n3
    assert len(field["delay_s"]) == len(field["amplitude"]) == n1 * n2 * n3
    assert all(math.isfinite(p) for p in field["pressure_re"] + field["pressure_im"])
    for delay, amplitude in zip(field["delay_s"], field["amplitude"]):
        assert (delay, amplitude) == (math.inf, 0.0) or (0.0 <= delay < math.inf and 0.0 <= amplitude < math.inf)
    for path in result.get("ray_paths", []):
        assert len(path) >= 1 and all(len(p) == 3 and all(map(math.isfinite, p)) for p in path)
    if "ray_paths" in result and isinstance(source, dict):
        assert len(result["ray_paths"]) == len(source["launch_azim_deg"]) * len(source["launch_elev_deg"])


@RUN_SETTINGS
@given(config=valid_config())
def test_valid_configuration_gives_a_finite_field_of_its_shape(config):
    result = run_guarded(config)
    check_result(result, config)
    assert ("ray_paths" in result) == config["beam"]["store_ray_paths"]


# Regression: one ray through 1/8 m cells with jumps of up to 180 m/s, whose beam matrices grow
# past 1e25 within 14 steps, once put NaN into the pressure.
STEEP_PROFILE = {
    "ssp": {"x_ssp_m": [0.0, 0.125], "y_ssp_m": [-0.125, 0.0, 0.125], "z_ssp_m": [8.875, 10.5, 10.625, 10.75],
            "c_m_s": [1400.0] * 5 + [1574.0, 1464.0, 1539.0, 1400.0, 1580.0, 1404.0, 1401.0]
            + [1400.0] * 5 + [1402.0] + [1400.0] * 6},
    "bathymetry": {"x_bty_m": [0.0, 7.875, 21.625], "y_bty_m": [2.0, 2.125, 100.75],
                   "z_bty_m": [21.0, 20.0, 71.0, 20.0, 86.0, 20.0, 20.0, 20.0, 21.0]},
    "source": {"position": [0.0, 0.0, 0.0], "freq_hz": [1.0], "launch_elev_deg": [0.0], "launch_azim_deg": [0.0]},
    "receivers": {"config_type": "array", "x_rcvr_m": [0.0], "y_rcvr_m": [0.0], "z_rcvr_m": [0.0]},
    "beam": {"step_m": 25.0, "max_steps": 14, "max_range_m": 75.0},
}


def test_steep_profile_whose_beam_matrices_overflow_still_gives_a_finite_field():
    check_result(run_guarded(copy.deepcopy(STEEP_PROFILE)), STEEP_PROFILE)
