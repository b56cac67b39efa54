"""Shared helpers: a small valid configuration to start from, a child interpreter's run, results compared
across pool sizes."""

import copy
import json
import os
import subprocess
import sys

import pytest


def make_config(**sections):
    """Isovelocity 1500 m/s water over a flat rigid bottom at 100 m, a 3 x 3 fan and a 2 x 2 x 2
    receiver grid. A keyword replaces a whole section, or with a leading "+" is merged into it:
    make_config(**{"+beam": {"step_m": 5.0}})."""
    config = {
        "ssp": {"x_ssp_m": [-1000.0, 1000.0], "y_ssp_m": [-1000.0, 1000.0], "z_ssp_m": [0.0, 100.0], "c_m_s": [1500.0] * 8},
        "bathymetry": {"x_bty_m": [-1000.0, 1000.0], "y_bty_m": [-1000.0, 1000.0], "z_bty_m": [100.0] * 4,
                       "bottom_model": {"model": "rigid"}},
        "source": {"position": [0.0, 0.0, 50.0], "freq_hz": [100.0], "launch_elev_deg": [-10.0, 0.0, 10.0],
                   "launch_azim_deg": [0.0, 120.0, 240.0]},
        "receivers": {"config_type": "grid", "x_rcvr_m": [100.0, 200.0], "y_rcvr_m": [100.0, 200.0], "z_rcvr_m": [20.0, 60.0]},
        "beam": {"step_m": 10.0, "max_steps": 100, "max_range_m": 500.0}}
    for key, value in sections.items():
        if key.startswith("+"):
            config[key[1:]].update(copy.deepcopy(value))
        else:
            config[key] = copy.deepcopy(value)
    return config


def listed_as_array(grid):
    """The receivers of a grid section, listed in its row-major order as an array section."""
    points = [[x, y, z] for x in grid["x_rcvr_m"] for y in grid["y_rcvr_m"] for z in grid["z_rcvr_m"]]
    return {"config_type": "array", **dict(zip(("x_rcvr_m", "y_rcvr_m", "z_rcvr_m"), zip(*points)))}


def complex_q_over_a_fluid_bottom(receivers):
    """Complex-Q beams of a 13 x 24 fan at two frequencies over a fluid bottom (with its phase slopes), reaching
    the receivers of a section."""
    return make_config(**{"+source": {"freq_hz": [50.1, 120.3], "launch_elev_deg": [float(e) for e in range(-30, 31, 5)],
                                      "launch_azim_deg": [float(a) for a in range(0, 360, 15)]},
                          "+bathymetry": {"bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1600.0,
                                                           "density_g_cm3": 1.5}},
                          "+beam": {"beam_type": "cerveny"}, "+receivers": receivers})


# 4800 receivers, so that a segment's lists of receivers fill and are summed while the search goes on
DENSE_GRID = {"config_type": "grid", "x_rcvr_m": [float(x) for x in range(30, 430, 10)],
              "y_rcvr_m": [float(y) for y in range(-195, 205, 10)], "z_rcvr_m": [20.0, 50.0, 80.0]}


def child_env(**environment):
    """This environment with the import path of this interpreter, for a child that imports the same modules."""
    return dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **environment)


def run_child(script, config, **environment):
    """Runs `script` in a fresh interpreter with the configuration as JSON on standard input."""
    return subprocess.run([sys.executable, "-c", script], input=json.dumps(config), env=child_env(**environment),
                          capture_output=True, text=True, timeout=120)


def assert_same_result(got, want):
    """Equal results, the pressures and amplitudes up to the f32 rounding of another grouping of the sums, as
    another pool size gives."""
    assert list(got) == list(want)
    got, want = got["pressure_field"], want["pressure_field"]
    scale = max(map(abs, want["pressure_re"] + want["pressure_im"]))
    assert scale > 0.0, "the rays must reach the receivers"
    assert list(got) == list(want)
    for key in want:
        assert got[key] == (pytest.approx(want[key], abs=1e-4 * scale) if key[:3] in ("pre", "amp") else want[key]), key


@pytest.fixture(params=[".nc", ".npz"])
def suffix(request):
    """Each format of result files; netCDF needs xarray and netCDF4."""
    if request.param == ".nc":
        pytest.importorskip("netCDF4"), pytest.importorskip("xarray")
    return request.param
