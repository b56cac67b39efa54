"""Shared helpers: a small valid configuration to start from, a child interpreter's run."""

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


def run_child(script, config, **environment):
    """Runs `script` in a fresh interpreter with the configuration as JSON on standard input."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **environment)
    return subprocess.run([sys.executable, "-c", script], input=json.dumps(config), env=env, capture_output=True,
                          text=True, timeout=120)


@pytest.fixture
def config():
    return make_config()
