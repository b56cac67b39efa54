"""Random valid configurations give a finite field of their shape (malformed ones are the fuzzer's)."""

import faulthandler
import math
import warnings

import pytest

pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import HealthCheck, given, settings, strategies as st

import abyx

F32 = lambda lo, hi: st.floats(lo, hi, width=32)  # noqa: E731
MODEL = {"rigid": {}, "acoustic": {"compressional_speed_m_s": F32(1000.0, 3000.0), "density_g_cm3": F32(1.0, 3.0),
                                   "compressional_attenuation_db_per_wavelength": st.one_of(st.none(), F32(0.0, 2.0))}}
MODEL["elastic"] = dict(MODEL["acoustic"], shear_speed_m_s=F32(100.0, 1500.0),
                        shear_attenuation_db_per_wavelength=st.one_of(st.none(), F32(0.0, 2.0)))


@st.composite
def valid_config(draw):
    z = sorted({0.0, *draw(st.lists(st.integers(1, 400).map(lambda v: v / 2), min_size=1, max_size=3))})
    n = draw(st.integers(0, 4))
    model = draw(st.sampled_from(sorted(MODEL)))
    depths = draw(st.lists(F32(20.0, 200.0), min_size=4, max_size=4))
    return {
        "ssp": {"x_ssp_m": [-2000.0, 2000.0], "y_ssp_m": [-2000.0, 0.0, 2000.0], "z_ssp_m": z,
                "c_m_s": draw(st.lists(F32(1400.0, 1600.0), min_size=6 * len(z), max_size=6 * len(z)))},
        "bathymetry": {"x_bty_m": [-2000.0, 2000.0], "y_bty_m": [-2000.0, 2000.0],
                       "z_bty_m": depths,
                       "bottom_model": {"model": model, **draw(st.fixed_dictionaries(MODEL[model]))},
                       "water_density_g_cm3": draw(st.one_of(st.none(), F32(0.875, 1.125)))},
        "source": {"position": [draw(F32(-100.0, 100.0)), draw(F32(-100.0, 100.0)), draw(F32(0.0, min(depths)))],  # in the water
                   "freq_hz": draw(st.lists(F32(1.0, 500.0), max_size=2)),
                   # a fan's first two angles set its spacing, which a fan needs
                   "launch_elev_deg": draw(st.lists(F32(-90.0, 90.0), min_size=1, max_size=3, unique_by=round)),
                   "launch_azim_deg": draw(st.lists(F32(0.0, 360.0), min_size=1, max_size=3, unique_by=round))},
        "receivers": {"config_type": draw(st.sampled_from(["array", "grid"])), **{  # grid axes: sorted, non-negative
            k: sorted(draw(st.lists(F32(0.0, 500.0), min_size=n, max_size=n, unique=True))) for k in ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m")}},
        "beam": {"step_m": draw(F32(1.0, 50.0)), "max_steps": draw(st.integers(1, 200)),
                 "max_range_m": draw(F32(50.0, 2000.0)), "store_ray_paths": draw(st.booleans()),
                 "integration_method": draw(st.sampled_from(["euler", "rk2"]))}}


def check_result(config):
    faulthandler.dump_traceback_later(120, exit=True)  # a hang ends the process with every traceback
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the depth corrections of the grid's negative z
            result = abyx.run_simulation(config)
    finally:
        faulthandler.cancel_dump_traceback_later()
    field, rc, source = result["pressure_field"], config["receivers"], config["source"]
    cells = [len(rc["x_rcvr_m"])] + ([1, 1] if rc["config_type"] == "array" else [len(rc["y_rcvr_m"]), len(rc["z_rcvr_m"])])
    assert field["shape"] == (len(source["freq_hz"]), *cells)
    assert len(field["pressure_re"]) == len(field["pressure_im"]) == math.prod(field["shape"])
    assert all(map(math.isfinite, field["pressure_re"] + field["pressure_im"]))
    for delay, amplitude in zip(field["delay_s"], field["amplitude"]):
        assert (delay, amplitude) == (math.inf, 0.0) or (0.0 <= delay < math.inf and 0.0 <= amplitude < math.inf)
    paths = result.get("ray_paths", [])
    assert len(paths) == config["beam"].get("store_ray_paths", False) * len(source["launch_azim_deg"]) * len(
        source["launch_elev_deg"])
    assert all(len(path) >= 1 and all(len(p) == 3 and all(map(math.isfinite, p)) for p in path) for path in paths)


@settings(max_examples=120, deadline=None, derandomize=True, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(config=valid_config())
def test_valid_configuration_gives_a_finite_field_of_its_shape(config):
    check_result(config)


def test_steep_profile_whose_beam_matrices_overflow_still_gives_a_finite_field():
    # regression: one ray through 1/8 m cells with jumps of 180 m/s (beam matrices past 1e25) gave NaN
    check_result({
        "ssp": {"x_ssp_m": [0.0, 0.125], "y_ssp_m": [-0.125, 0.0, 0.125], "z_ssp_m": [8.875, 10.5, 10.625, 10.75],
                "c_m_s": [1400.0] * 5 + [1574.0, 1464.0, 1539.0, 1400.0, 1580.0, 1404.0, 1401.0]
                + [1400.0] * 5 + [1402.0] + [1400.0] * 6},
        "bathymetry": {"x_bty_m": [0.0, 7.875, 21.625], "y_bty_m": [2.0, 2.125, 100.75],
                       "z_bty_m": [21.0, 20.0, 71.0, 20.0, 86.0, 20.0, 20.0, 20.0, 21.0]},
        "source": {"position": [0.0, 0.0, 0.0], "freq_hz": [1.0], "launch_elev_deg": [0.0], "launch_azim_deg": [0.0]},
        "receivers": {"config_type": "array", "x_rcvr_m": [0.0], "y_rcvr_m": [0.0], "z_rcvr_m": [0.0]},
        "beam": {"step_m": 25.0, "max_steps": 14, "max_range_m": 75.0}})
