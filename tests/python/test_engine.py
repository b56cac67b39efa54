"""The engine end to end: ray paths, the zero-ray run, parallel runs against one-ray runs and
against other pool sizes, faults and the run after them, and runs in a forked child."""

import json
import math
import os
import struct
import subprocess
import sys
import time
import warnings

import pytest

import abyx
from conftest import make_config

# pressures of runs that differ only in the grouping of their sums agree to f32 rounding
PRESSURE_REL_TOL = 1e-4
# the first step of a ray leaves along its launch direction
DIRECTION_TOL = 1e-4


def f32(value):
    """The value rounded to single precision, as a Python float."""
    return struct.unpack("f", struct.pack("f", value))[0]


def fan_config(**beam):
    """A 4 x 5 fan whose first two angles are one degree apart, so that a one-ray run (spacing
    one degree by default) weighs its beam exactly as the whole fan does."""
    config = make_config(**{"+beam": beam})
    config["source"]["launch_elev_deg"] = [0.0, 1.0, -6.0, 9.0, -14.0]
    config["source"]["launch_azim_deg"] = [40.0, 41.0, 10.0, 75.0]
    config["source"]["freq_hz"] = [60.0, 140.0]
    config["receivers"] = {"config_type": "grid", "x_rcvr_m": [60.0, 130.0, 210.0],
                           "y_rcvr_m": [70.0, 160.0, 255.0], "z_rcvr_m": [30.0, 47.5, 66.0]}
    return config


def launch_direction(azimuth_deg, elevation_deg):
    az = f32(azimuth_deg * f32(0.017453292))
    el = f32(elevation_deg * f32(0.017453292))
    return (math.sin(az) * math.cos(el), math.cos(az) * math.cos(el), math.sin(el))


def assert_close_lists(actual, expected, scale):
    assert len(actual) == len(expected)
    for i, (a, e) in enumerate(zip(actual, expected)):
        assert abs(a - e) <= PRESSURE_REL_TOL * scale[i] + 1e-30, (i, a, e)


def test_ray_paths_one_per_ray_in_launch_order_starting_at_the_source():
    config = fan_config(store_ray_paths=True)
    paths = abyx.run_simulation(config)["ray_paths"]
    source = config["source"]["position"]
    launches = [(a, e) for a in config["source"]["launch_azim_deg"]
                for e in config["source"]["launch_elev_deg"]]
    assert len(paths) == len(launches)
    for path, (azimuth, elevation) in zip(paths, launches):
        assert path[0] == source
        step = [b - a for a, b in zip(path[0], path[1])]
        length = math.sqrt(sum(s * s for s in step))
        for got, want in zip(step, launch_direction(azimuth, elevation)):
            assert abs(got / length - want) <= DIRECTION_TOL


def test_max_steps_of_one_gives_two_points_per_path():
    paths = abyx.run_simulation(fan_config(store_ray_paths=True, max_steps=1))["ray_paths"]
    assert len(paths) == 20
    assert all(len(path) == 2 for path in paths)


@pytest.mark.parametrize("empty", ["launch_azim_deg", "launch_elev_deg"])
def test_no_rays_leave_every_receiver_unreached_and_show_nothing(empty, capfd):
    config = fan_config(store_ray_paths=True, show_progress=True, atomic_progress_counter=True)
    config["source"][empty] = []
    result = abyx.run_simulation(config)
    assert result["ray_paths"] == []
    field = result["pressure_field"]
    assert field["shape"] == (2, 3, 3, 3)
    assert field["delay_s"] == [math.inf] * 27
    assert field["amplitude"] == [0.0] * 27
    assert field["pressure_re"] == [0.0] * 54 and field["pressure_im"] == [0.0] * 54
    assert capfd.readouterr() == ("", "")


def test_pressure_of_a_run_is_the_sum_of_one_ray_runs():
    config = fan_config()
    field = abyx.run_simulation(config)["pressure_field"]
    total_re = [0.0] * len(field["pressure_re"])
    total_im = [0.0] * len(field["pressure_im"])
    magnitude = [0.0] * len(total_re)
    earliest = [math.inf] * len(field["delay_s"])
    for azimuth in config["source"]["launch_azim_deg"]:
        for elevation in config["source"]["launch_elev_deg"]:
            one = json.loads(json.dumps(config))
            one["source"]["launch_azim_deg"] = [azimuth]
            one["source"]["launch_elev_deg"] = [elevation]
            single = abyx.run_simulation(one)["pressure_field"]
            for i, (re, im) in enumerate(zip(single["pressure_re"], single["pressure_im"])):
                total_re[i] += re
                total_im[i] += im
                magnitude[i] += math.hypot(re, im)
            earliest = [min(a, b) for a, b in zip(earliest, single["delay_s"])]
    assert sum(magnitude) > 0.0, "the fan must reach the receivers"
    assert_close_lists(field["pressure_re"], total_re, magnitude)
    assert_close_lists(field["pressure_im"], total_im, magnitude)
    assert field["delay_s"] == earliest


RUN_AND_PRINT = """
import json, sys
import abyx
result = abyx.run_simulation(json.load(sys.stdin))
json.dump(result["pressure_field"], sys.stdout)
"""


def run_in_subprocess(config, script=RUN_AND_PRINT, **environment):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **environment)
    return subprocess.run([sys.executable, "-c", script], input=json.dumps(config), env=env,
                          capture_output=True, text=True, timeout=60)


def test_one_and_four_threads_agree_up_to_rounding():
    config = make_config()
    config["source"]["launch_elev_deg"] = [float(e) for e in range(-40, 41, 4)]
    config["source"]["launch_azim_deg"] = [float(a) for a in range(0, 360, 10)]
    runs = {}
    for threads in ("1", "4"):
        done = run_in_subprocess(config, ABYX_NUM_THREADS=threads)
        assert done.returncode == 0, done.stderr
        runs[threads] = json.loads(done.stdout)
    one, four = runs["1"], runs["4"]
    magnitude = [math.hypot(a, b) for a, b in zip(one["pressure_re"], one["pressure_im"])]
    assert max(magnitude) > 0.0
    assert_close_lists(four["pressure_re"], one["pressure_re"], magnitude)
    assert_close_lists(four["pressure_im"], one["pressure_im"], magnitude)
    assert four["delay_s"] == one["delay_s"]
    # equal delays from different rays keep the lower chunk's amplitude, and the chunks differ
    # with the pool size; in this symmetric fan such rays carry nearly the same amplitude
    assert_close_lists(four["amplitude"], one["amplitude"], [abs(a) for a in one["amplitude"]])


def test_invalid_thread_override_raises_panic_exception_in_a_fresh_process():
    done = run_in_subprocess(make_config(), script="""
import json, sys
import abyx
try:
    abyx.run_simulation(json.load(sys.stdin))
except abyx.PanicException as panic:
    print(panic)
""", ABYX_NUM_THREADS="lots")
    assert done.returncode == 0, done.stderr
    assert done.stdout == 'ABYX_NUM_THREADS must be a positive integer, got "lots"\n'


def with_array_receivers(lengths):
    config = make_config()
    config["receivers"] = {"config_type": "array",
                           "x_rcvr_m": [10.0 * (i + 1) for i in range(lengths[0])],
                           "y_rcvr_m": [5.0 * (i + 1) for i in range(lengths[1])],
                           "z_rcvr_m": [20.0 + i for i in range(lengths[2])]}
    return config


def with_ssp(**ssp):
    config = make_config()
    config["ssp"].update(ssp)
    return config


def with_bty(**bathymetry):
    config = make_config()
    config["bathymetry"].update(bathymetry)
    return config


FAULTS = [
    pytest.param(with_array_receivers((3, 2, 3)),
                 "array receiver coordinates must have equal lengths", id="array-lengths"),
    pytest.param(with_array_receivers((3, 3, 4)),
                 "array receiver coordinates must have equal lengths", id="array-z-length"),
    pytest.param(with_ssp(c_m_s=[1500.0] * 7), "c_m_s does not match grid dimensions",
                 id="c_m_s-shape"),
    pytest.param(with_bty(z_bty_m=[100.0] * 5),
                 "z_bty_m does not match grid dimensions: nx = 2, ny = 2, bty_len = 5",
                 id="z_bty_m-shape"),
    pytest.param(with_ssp(x_ssp_m=[0.0], c_m_s=[1500.0] * 4),
                 "Need nx >= 2 for finite differences along x", id="nx-1"),
]


@pytest.mark.parametrize("config, message", FAULTS)
def test_fault_raises_panic_exception_and_the_next_run_works(config, message):
    with pytest.raises(abyx.PanicException) as raised:
        abyx.run_simulation(config)
    assert str(raised.value).startswith(message)
    assert not isinstance(raised.value, Exception)
    field = abyx.run_simulation(make_config())["pressure_field"]
    assert field["shape"] == (1, 2, 2, 2)
    assert any(d < math.inf for d in field["delay_s"])


def wait_for_child(pid, timeout_s):
    """The child's exit status, or None after killing it when it does not end in time."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_a_forked_child_runs_after_the_parent_used_the_pool():
    config = fan_config()
    expected = abyx.run_simulation(config)["pressure_field"]["delay_s"]
    with warnings.catch_warnings():
        # newer interpreters warn about forking a process that has threads
        warnings.simplefilter("ignore", DeprecationWarning)
        pid = os.fork()
    if pid == 0:
        status = 1
        try:
            got = abyx.run_simulation(config)["pressure_field"]["delay_s"]
            status = 0 if got == expected else 2
        finally:
            os._exit(status)
    assert wait_for_child(pid, 60) == 0
    assert abyx.run_simulation(config)["pressure_field"]["delay_s"] == expected
