"""The result dict: keys and their order, types, shapes, flat row-major lists, exact widening."""

import math
import struct

import pytest

import abyx
from abyx_tools.schema import FIELD_KEYS
from conftest import DENSE_GRID, complex_q_over_a_fluid_bottom, listed_as_array, make_config

GRID_KEYS = ["x_m", "y_m", "z_m", *FIELD_KEYS]  # the keys the toolkit's schema states
GRID = {"x_rcvr_m": [100.1, 250.0, 400.0], "y_rcvr_m": [-150.0, -50.0, 60.0, 170.0],
        "z_rcvr_m": [15.0, 30.0, 45.0, 60.0, 75.0]}  # distinct axes, all within reach of the fan


f32 = lambda value: struct.unpack("f", struct.pack("f", value))[0]  # noqa: E731


def dense_config(receivers):
    return make_config(**{"+source": {"freq_hz": [50.1, 120.3],
                                      "launch_elev_deg": [float(e) for e in range(-30, 31, 5)],
                                      "launch_azim_deg": [float(a) for a in range(0, 360, 15)]},
                          "+receivers": receivers})


def test_grid_result_keys_types_axes_and_row_major_cells_match_the_same_receivers_listed_as_an_array():
    result = abyx.run_simulation(dense_config(GRID))
    field = result["pressure_field"]
    assert list(result) == ["pressure_field"] and list(field) == GRID_KEYS
    assert field["frequency_hz"] == [f32(50.1), f32(120.3)]  # f32 widened exactly
    assert field["x_m"] == [f32(100.1), 250.0, 400.0] and field["z_m"] == GRID["z_rcvr_m"]
    assert type(field["shape"]) is tuple and field["shape"] == (2, 3, 4, 5) and all(type(n) is int for n in field["shape"])
    for key in set(GRID_KEYS) - {"shape"}:
        assert type(field[key]) is list and all(type(v) is float for v in field[key]), key
    assert len(field["pressure_re"]) == 120 and all(math.isfinite(d) for d in field["delay_s"]), "every cell reached"
    points = [[x, y, z] for x in field["x_m"] for y in GRID["y_rcvr_m"] for z in GRID["z_rcvr_m"]]
    listed = abyx.run_simulation(dense_config(listed_as_array({**GRID, "x_rcvr_m": field["x_m"]})))["pressure_field"]
    assert list(listed) == ["receiver_positions_m"] + GRID_KEYS[3:]
    assert listed["receiver_positions_m"] == points and listed["shape"] == (2, 60, 1, 1)
    assert listed["delay_s"] == field["delay_s"]
    scale = max(map(abs, field["pressure_re"] + field["pressure_im"]))
    for key in ("pressure_re", "pressure_im", "amplitude"):
        assert listed[key] == pytest.approx(field[key], abs=1e-4 * scale), key


@pytest.mark.filterwarnings("ignore:abyx. beam. launch angles")
def test_complex_q_beams_give_a_grid_the_bits_of_the_same_receivers_listed_as_an_array():
    # the array's receivers come from the index four at a time, the grid's one by one
    field = abyx.run_simulation(complex_q_over_a_fluid_bottom(DENSE_GRID))["pressure_field"]
    listed = abyx.run_simulation(complex_q_over_a_fluid_bottom(listed_as_array(DENSE_GRID)))["pressure_field"]
    assert max(map(abs, field["pressure_re"])) > 0.0
    for key in ("pressure_re", "pressure_im", "delay_s", "amplitude"):
        assert listed[key] == field[key], key


def test_ray_paths_come_first_one_per_ray_in_launch_order():
    config = make_config(**{"+beam": {"store_ray_paths": True}})
    result = abyx.run_simulation(config)
    assert list(result) == ["ray_paths", "pressure_field"] and len(result["ray_paths"]) == 9
    # for each azimuth every elevation; the first step is straight in isovelocity water
    for path, (az, el) in zip(result["ray_paths"], [(a, e) for a in (0.0, 120.0, 240.0) for e in (-10.0, 0.0, 10.0)]):
        assert path[0] == [0.0, 0.0, 50.0] and all(type(p) is list and all(type(v) is float for v in p) for p in path)
        az, el = math.radians(az), math.radians(el)
        step = [b - a for a, b in zip(path[0], path[1])]
        assert step == pytest.approx([10 * math.sin(az) * math.cos(el), 10 * math.cos(az) * math.cos(el), 10 * math.sin(el)], abs=1e-3)
    config["beam"]["max_steps"] = 1
    assert all(len(path) == 2 for path in abyx.run_simulation(config)["ray_paths"])


@pytest.mark.parametrize("edit, shape", [
    ({"+source": {"launch_azim_deg": []}, "+beam": {"store_ray_paths": True, "show_progress": True,
                                                    "atomic_progress_counter": True}}, (1, 2, 2, 2)),
    ({"+receivers": {"x_rcvr_m": [5000.0, 6000.0]}}, (1, 2, 2, 2)),  # beyond max_range_m
    ({"+source": {"freq_hz": []}}, (0, 2, 2, 2)),
    ({"+receivers": {"z_rcvr_m": []}}, (1, 2, 2, 0))])
def test_unreached_or_empty_runs_read_inf_and_zeros_of_the_stated_shape(edit, shape, capfd):
    result = abyx.run_simulation(make_config(**edit))
    field, cells = result["pressure_field"], shape[1] * shape[2] * shape[3]
    assert field["shape"] == shape and result.get("ray_paths", []) == [] and len(field["amplitude"]) == cells
    if shape[0]:  # without frequencies the arrivals are still found
        assert field["delay_s"] == [math.inf] * cells and field["amplitude"] == [0.0] * cells
    assert field["pressure_re"] == field["pressure_im"] == [0.0] * (shape[0] * cells)
    assert capfd.readouterr() == ("", "")  # nothing to show without rays
