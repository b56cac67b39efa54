"""The result dict: keys and their order, shapes, flat row-major lists and exact float widening."""

import math
import struct

import pytest

import abyx
from conftest import make_config

GRID_KEYS = ["x_m", "y_m", "z_m", "frequency_hz", "shape", "pressure_re", "pressure_im",
             "delay_s", "amplitude"]
ARRAY_KEYS = ["receiver_positions_m", "frequency_hz", "shape", "pressure_re", "pressure_im",
              "delay_s", "amplitude"]

# a 3 x 4 x 5 grid with distinct coordinates, all within reach of a dense fan of rays
GRID_X = [100.0, 250.0, 400.0]
GRID_Y = [-150.0, -50.0, 60.0, 170.0]
GRID_Z = [15.0, 30.0, 45.0, 60.0, 75.0]
DENSE_SOURCE = {
    "position": [0.0, 0.0, 50.0],
    "freq_hz": [50.0, 120.0],
    "launch_elev_deg": [float(e) for e in range(-30, 31, 5)],
    "launch_azim_deg": [float(a) for a in range(0, 360, 15)],
}

# pressures of runs that differ only in grouping agree to single-precision rounding of the sums
PRESSURE_REL_TOL = 1e-4


def f32(value):
    """The value rounded to single precision, as a Python float."""
    return struct.unpack("f", struct.pack("f", value))[0]


def grid_config(freq_hz=None, **receivers):
    source = dict(DENSE_SOURCE, freq_hz=freq_hz if freq_hz is not None else DENSE_SOURCE["freq_hz"])
    rcv = {"config_type": "grid", "x_rcvr_m": GRID_X, "y_rcvr_m": GRID_Y, "z_rcvr_m": GRID_Z}
    rcv.update(receivers)
    return make_config(source=source, receivers=rcv)


def close_lists(a, b):
    scale = max([abs(v) for v in a + b] + [1e-30])
    return all(abs(x - y) <= PRESSURE_REL_TOL * scale for x, y in zip(a, b)) and len(a) == len(b)


def test_grid_result_keys_types_and_axes(config):
    result = abyx.run_simulation(config)
    assert list(result) == ["pressure_field"]
    field = result["pressure_field"]
    assert list(field) == GRID_KEYS
    assert field["x_m"] == [100.0, 200.0] and field["z_m"] == [20.0, 60.0]
    assert field["shape"] == (1, 2, 2, 2)
    assert type(field["shape"]) is tuple and all(type(n) is int for n in field["shape"])
    for key in GRID_KEYS:
        if key != "shape":
            assert type(field[key]) is list and all(type(v) is float for v in field[key]), key


def test_array_result_lists_receivers_first_and_no_axes(config):
    points = [[100.0, 0.0, 20.0], [200.0, 50.0, 40.0], [300.0, -50.0, 60.0]]
    config["receivers"] = {"config_type": "array", "x_rcvr_m": [p[0] for p in points],
                           "y_rcvr_m": [p[1] for p in points], "z_rcvr_m": [p[2] for p in points]}
    config["source"]["freq_hz"] = [100.0, 200.0]
    field = abyx.run_simulation(config)["pressure_field"]
    assert list(field) == ARRAY_KEYS
    assert field["receiver_positions_m"] == points
    assert field["shape"] == (2, 3, 1, 1)
    assert len(field["pressure_re"]) == len(field["pressure_im"]) == 6
    assert len(field["delay_s"]) == len(field["amplitude"]) == 3


def test_ray_paths_come_first_one_per_ray_in_launch_order():
    config = make_config(**{"+beam": {"store_ray_paths": True}})
    elevations = config["source"]["launch_elev_deg"]
    azimuths = config["source"]["launch_azim_deg"]
    result = abyx.run_simulation(config)
    assert list(result) == ["ray_paths", "pressure_field"]
    paths = result["ray_paths"]
    assert len(paths) == len(azimuths) * len(elevations)
    for index, path in enumerate(paths):
        azimuth, elevation = divmod(index, len(elevations))
        assert path[0] == [0.0, 0.0, 50.0]
        assert all(type(p) is list and len(p) == 3 and all(type(v) is float for v in p)
                   for p in path)
        # the first step is straight in isovelocity water: its direction names the launch pair
        dx, dy, dz = (b - a for a, b in zip(path[0], path[1]))
        assert math.degrees(math.atan2(dz, math.hypot(dx, dy))) == pytest.approx(
            elevations[elevation], abs=1e-3)
        assert math.degrees(math.atan2(dx, dy)) % 360.0 == pytest.approx(
            azimuths[azimuth] % 360.0, abs=1e-3)


def test_no_rays_with_paths_gives_an_empty_path_list(config):
    config["source"]["launch_azim_deg"] = []
    config["beam"]["store_ray_paths"] = True
    result = abyx.run_simulation(config)
    assert result["ray_paths"] == []
    assert result["pressure_field"]["delay_s"] == [math.inf] * 8


def test_shape_and_row_major_flat_indexing():
    field = abyx.run_simulation(grid_config())["pressure_field"]
    assert field["shape"] == (2, 3, 4, 5)
    assert len(field["pressure_re"]) == len(field["pressure_im"]) == 120
    assert len(field["delay_s"]) == len(field["amplitude"]) == 60
    assert all(math.isfinite(d) for d in field["delay_s"]), "every cell must be reached"

    # each frequency's block equals a run with that frequency alone
    for f, freq in enumerate(DENSE_SOURCE["freq_hz"]):
        alone = abyx.run_simulation(grid_config(freq_hz=[freq]))["pressure_field"]
        for part in ("pressure_re", "pressure_im"):
            assert close_lists(field[part][60 * f:60 * (f + 1)], alone[part])

    # the same receivers listed as an array in (i, j, k) order, last index fastest
    points = [(x, y, z) for x in GRID_X for y in GRID_Y for z in GRID_Z]
    array_config = grid_config(config_type="array", x_rcvr_m=[p[0] for p in points],
                               y_rcvr_m=[p[1] for p in points], z_rcvr_m=[p[2] for p in points])
    listed = abyx.run_simulation(array_config)["pressure_field"]
    assert listed["shape"] == (2, 60, 1, 1)
    assert listed["delay_s"] == field["delay_s"]
    assert close_lists(listed["amplitude"], field["amplitude"])
    for part in ("pressure_re", "pressure_im"):
        assert close_lists(listed[part], field[part])
    # frequency 1 at cell (0, 0, 1) sits at position ((1 * 3 + 0) * 4 + 0) * 5 + 1 = 61
    assert points[1] == (GRID_X[0], GRID_Y[0], GRID_Z[1])
    assert field["pressure_re"][61] == pytest.approx(listed["pressure_re"][60 + 1],
                                                     rel=PRESSURE_REL_TOL)


def test_floats_are_widened_exactly_from_single_precision(config):
    config["source"]["freq_hz"] = [0.1, 1e-3]
    config["receivers"]["x_rcvr_m"] = [100.1, 200.7]
    field = abyx.run_simulation(config)["pressure_field"]
    assert field["frequency_hz"] == [0.10000000149011612, f32(1e-3)]
    assert field["x_m"] == [f32(100.1), f32(200.7)]


def test_unreached_cells_read_inf_and_zero(config):
    config["receivers"]["x_rcvr_m"] = [5000.0, 6000.0]  # far beyond max_range_m
    field = abyx.run_simulation(config)["pressure_field"]
    assert field["delay_s"] == [math.inf] * 8
    assert field["amplitude"] == [0.0] * 8
    assert field["pressure_re"] == [0.0] * 8 and field["pressure_im"] == [0.0] * 8


def test_empty_frequency_list_keeps_the_receiver_arrays(config):
    config["source"]["freq_hz"] = []
    field = abyx.run_simulation(config)["pressure_field"]
    assert field["frequency_hz"] == []
    assert field["shape"] == (0, 2, 2, 2)
    assert field["pressure_re"] == [] and field["pressure_im"] == []
    assert len(field["delay_s"]) == len(field["amplitude"]) == 8


def test_zero_size_receiver_dimension_gives_empty_arrays(config):
    config["receivers"]["z_rcvr_m"] = []
    field = abyx.run_simulation(config)["pressure_field"]
    assert field["shape"] == (1, 2, 2, 0)
    assert field["z_m"] == []
    for key in ("pressure_re", "pressure_im", "delay_s", "amplitude"):
        assert field[key] == [], key
