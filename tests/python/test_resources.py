"""Resource safety over many calls: memory and threads stay flat, a fault leaves the pool usable,
calls from several Python threads each get their own result, a forked child runs, repeated runs
agree bit for bit, and sizes beyond memory are refused up front with MemoryError."""

import json
import math
import os
import subprocess
import sys
import threading
import warnings

import pytest

import abyx
from conftest import make_config

# Calls measured after warm-up, and the growth of the resident set they may leave behind (pages
# kept by the allocator's own caches, not per-call leaks: a leak of one small list per call
# would already exceed it).
CALLS = 200
RSS_SLACK_BYTES = 4 * 1024 * 1024
# pressures of runs that differ only in the grouping of their sums agree to f32 rounding
PRESSURE_REL_TOL = 1e-4


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def thread_count():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("Threads:"):
                return int(line.split()[1])
    raise AssertionError("no Threads line in /proc/self/status")


def fan_config(**beam):
    config = make_config(**{"+beam": beam})
    config["source"]["launch_elev_deg"] = [-20.0, -8.0, 0.0, 8.0, 20.0]
    config["source"]["launch_azim_deg"] = [0.0, 60.0, 120.0, 180.0, 240.0, 300.0]
    config["source"]["freq_hz"] = [50.0, 150.0]
    return config


def array_fault_config():
    """Array receivers of unequal lengths: refused while the workers build their fields."""
    config = make_config()
    config["receivers"] = {"config_type": "array", "x_rcvr_m": [10.0, 20.0],
                           "y_rcvr_m": [10.0], "z_rcvr_m": [5.0, 6.0]}
    return config


def invalid_config():
    config = make_config()
    config["beam"]["max_steps"] = 0
    return config


def unknown_key_config():
    config = make_config()
    config["note"] = {"deep": [1, [2, [3]]]}
    return config


def call(config):
    """One call of any outcome; the outcome's kind is returned so that the loop can check it."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            abyx.run_simulation(config)
        return "ok"
    except (TypeError, RuntimeError, MemoryError) as failure:
        return type(failure).__name__
    except abyx.PanicException:
        return "PanicException"


# valid runs with and without paths, a validation error, a parse error, a serialisation error, an
# unknown key, a set-up fault and a worker fault, in turn
CALL_MIX = [
    (fan_config(store_ray_paths=True), "ok"),
    (fan_config(integration_method="rk2"), "ok"),
    (invalid_config(), "RuntimeError"),
    ({"ssp": 1}, "RuntimeError"),
    ({"ssp": {1, 2}}, "RuntimeError"),
    (unknown_key_config(), "ok"),
    (make_config(ssp={"x_ssp_m": [0.0], "y_ssp_m": [0.0, 1.0], "z_ssp_m": [0.0, 1.0],
                      "c_m_s": [1500.0] * 4}), "PanicException"),
    (array_fault_config(), "PanicException"),
]


def test_many_calls_of_every_outcome_leave_memory_and_threads_flat():
    for config, outcome in CALL_MIX * 3:  # warm-up: the pool, the allocator, the imports
        assert call(config) == outcome
    rss_before, threads_before = resident_bytes(), thread_count()
    for i in range(CALLS):
        config, outcome = CALL_MIX[i % len(CALL_MIX)]
        assert call(config) == outcome
    rss_after, threads_after = resident_bytes(), thread_count()
    assert threads_after == threads_before
    assert rss_after - rss_before <= RSS_SLACK_BYTES, (rss_before, rss_after)


def test_worker_faults_leave_the_pool_usable_with_the_same_threads_and_results():
    config = fan_config()
    baseline = abyx.run_simulation(config)["pressure_field"]
    threads = thread_count()
    for _ in range(20):
        with pytest.raises(abyx.PanicException, match="array receiver coordinates"):
            abyx.run_simulation(array_fault_config())
    assert thread_count() == threads
    after = abyx.run_simulation(config)["pressure_field"]
    assert_same_field(after, baseline)


def assert_same_field(got, want):
    """Equal fields, the pressure sums up to the rounding of their grouping."""
    for key in want:
        if key not in ("pressure_re", "pressure_im"):
            assert got[key] == want[key], key
    scale = max(math.hypot(a, b) for a, b in zip(want["pressure_re"], want["pressure_im"]))
    assert scale > 0.0, "the fan must reach the receivers"
    for key in ("pressure_re", "pressure_im"):
        assert all(abs(a - b) <= PRESSURE_REL_TOL * scale for a, b in zip(got[key], want[key]))


def thread_configs():
    """Eight configurations that differ in source, frequencies and receivers."""
    configs = []
    for k in range(8):
        config = fan_config()
        config["source"]["position"] = [10.0 * k, -5.0 * k, 20.0 + 5.0 * k]
        config["source"]["freq_hz"] = [40.0 + 10.0 * k]
        if k % 2:
            config["receivers"] = {"config_type": "array", "x_rcvr_m": [50.0 + k, 150.0],
                                   "y_rcvr_m": [60.0, 160.0 + k], "z_rcvr_m": [30.0, 45.0]}
        configs.append(config)
    return configs


def test_calls_from_several_python_threads_each_get_their_own_result():
    configs = thread_configs()
    serial = [abyx.run_simulation(c)["pressure_field"] for c in configs]
    results = [[] for _ in configs]
    errors = []
    start = threading.Barrier(len(configs))

    def worker(k):
        try:
            start.wait()
            for _ in range(5):
                results[k].append(abyx.run_simulation(configs[k])["pressure_field"])
        except BaseException as failure:  # noqa: B036 - PanicException must be seen too
            errors.append(failure)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(len(configs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads)
    assert errors == []
    for k, runs in enumerate(results):
        assert len(runs) == 5
        for field in runs:
            assert_same_field(field, serial[k])


CHILD_STATUS_TIMEOUT_S = 60


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_a_child_forked_after_a_worker_fault_runs_and_faults_cleanly():
    config = fan_config()
    expected = abyx.run_simulation(config)["pressure_field"]
    with pytest.raises(abyx.PanicException):
        abyx.run_simulation(array_fault_config())
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        # newer interpreters warn about forking a process that has threads
        warnings.simplefilter("ignore", DeprecationWarning)
        pid = os.fork()
    if pid == 0:
        status = 1
        try:
            os.close(read_end)
            field = abyx.run_simulation(config)["pressure_field"]
            try:
                abyx.run_simulation(array_fault_config())
            except abyx.PanicException:
                field = abyx.run_simulation(config)["pressure_field"]
                with os.fdopen(write_end, "w") as out:
                    json.dump(field, out)
                status = 0
        finally:
            os._exit(status)
    os.close(write_end)
    with os.fdopen(read_end) as child_out:
        child_text = child_out.read()
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    child_field = json.loads(child_text)
    child_field["shape"] = tuple(child_field["shape"])
    assert_same_field(child_field, expected)


# --- runs in a fresh process --------------------------------------------------------------------

# Runs one configuration read from standard input in a process whose address space is capped, so
# that a size that slips past the checks fails as an allocation instead of exhausting the machine.
CAPPED_RUN = """
import json, resource, sys
import abyx
cap = int(sys.argv[1])
resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
config = json.load(sys.stdin)
try:
    abyx.run_simulation(config)
    print("ok")
except MemoryError as error:
    print("MemoryError:", error)
except BaseException as error:
    print(type(error).__name__ + ":", error)
"""
ADDRESS_SPACE_CAP = 8 * 1024**3


def run_in_fresh_process(script, config, *args, **environment):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **environment)
    done = subprocess.run([sys.executable, "-c", script, *map(str, args)],
                          input=json.dumps(config), env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


def axis(n, step=1.0):
    return [step * i for i in range(n)]


def huge_receiver_grid():
    """4 frequencies over 20000 x 20000 x 1000 receivers: 12.8 TB of pressure per worker piece."""
    config = make_config()
    config["source"]["freq_hz"] = [50.0, 100.0, 150.0, 200.0]
    config["receivers"] = {"config_type": "grid", "x_rcvr_m": axis(20000), "y_rcvr_m": axis(20000),
                           "z_rcvr_m": axis(1000, 0.1)}
    return config


def huge_launch_fan():
    """300000 x 300000 launch angles: 9e10 rays, whose launch list alone needs 720 GB."""
    config = make_config()
    config["source"]["launch_azim_deg"] = axis(300000, 0.001)
    config["source"]["launch_elev_deg"] = axis(300000, 0.0003)
    return config


def huge_ray_paths():
    """Stored paths of 65160 rays with at least 10^8 points each: 78 TB."""
    config = make_config()
    config["source"]["launch_azim_deg"] = axis(360)
    config["source"]["launch_elev_deg"] = axis(181, 0.5)
    config["beam"].update(step_m=0.01, max_range_m=1.0e7, max_steps=100_000_000,
                          store_ray_paths=True)
    return config


@pytest.mark.parametrize("make_huge, named", [
    pytest.param(huge_receiver_grid, "receiver grid", id="receiver-grid"),
    pytest.param(huge_launch_fan, "launch fan", id="launch-fan"),
    pytest.param(huge_ray_paths, "ray paths", id="ray-paths"),
])
def test_sizes_beyond_memory_raise_memory_error_naming_what_was_too_large(make_huge, named):
    outcome = run_in_fresh_process(CAPPED_RUN, make_huge(), ADDRESS_SPACE_CAP)
    assert outcome.startswith("MemoryError: ")
    assert named in outcome.lower(), outcome


@pytest.mark.parametrize("make_huge", [
    pytest.param(huge_receiver_grid, id="receiver-grid"),
    pytest.param(huge_launch_fan, id="launch-fan"),
])
def test_sizes_beyond_memory_raise_memory_error_and_the_process_survives(make_huge):
    script = CAPPED_RUN + "\nprint(abyx.run_simulation(json.loads(sys.argv[2]))['pressure_field']" \
                          "['shape'])\n"
    outcome = run_in_fresh_process(script, make_huge(), ADDRESS_SPACE_CAP,
                                   json.dumps(make_config()))
    first, second = outcome.splitlines()
    assert first.startswith("MemoryError")
    assert second == "(1, 2, 2, 2)"


# The same configuration run many times on a pool with many more workers than chunks per worker
# can be claimed in the same order: the results must not depend on which worker took which chunk.
REPEATED_RUNS = """
import json, sys
import abyx
config = json.load(sys.stdin)
fields = {json.dumps(abyx.run_simulation(config)["pressure_field"]) for _ in range(20)}
print(len(fields))
"""


def test_repeated_runs_on_a_large_pool_agree_bit_for_bit():
    config = fan_config()
    config["source"]["launch_elev_deg"] = [float(e) for e in range(-40, 41, 4)]
    config["source"]["launch_azim_deg"] = [float(a) for a in range(0, 360, 10)]
    assert run_in_fresh_process(REPEATED_RUNS, config, ABYX_NUM_THREADS="64") == "1"
