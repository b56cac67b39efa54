"""Sweeps: results in the order of the configurations, locally and on a LocalCluster of two worker
processes, equal to serial runs; failures raised at their place; each worker's pool sized to its
thread count."""

import os

import distributed
import numpy as np
import pytest

import abyx
from abyx_tools import run, runtime, sweep
from toolkit_cases import run_config

# pressures of runs that differ only in their pool size agree to f32 summation rounding
PRESSURE_REL_TOL = 1e-4


def three_configs():
    """A frequency sweep, a different sound speed and an array of receivers."""
    first = run_config()
    first["source"]["freq_hz"] = [50.0, 150.0]
    second = run_config()
    second["ssp"]["c_m_s"] = [1480.0, 1520.0] * 4
    third = run_config(
        receivers={
            "config_type": "array",
            "x_rcvr_m": [50.0, 120.0],
            "y_rcvr_m": [10.0, -80.0],
            "z_rcvr_m": [30.0, 60.0],
        }
    )
    return [first, second, third]


def assert_same_run(got, want):
    assert list(got) == list(want)
    g, w = got["pressure_field"], want["pressure_field"]
    assert list(g) == list(w) and g["shape"] == w["shape"]
    for key in ("pressure_re", "pressure_im"):
        scale = max(np.abs(w[key]).max(), 1e-30)
        np.testing.assert_allclose(g[key], w[key], atol=PRESSURE_REL_TOL * scale)
    assert g["delay_s"] == w["delay_s"]
    np.testing.assert_allclose(g["amplitude"], w["amplitude"], rtol=PRESSURE_REL_TOL)


@pytest.fixture(scope="module")
def client():
    saved = os.environ.pop(runtime.NUM_THREADS_VARIABLE, None)  # workers inherit the environment
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as connected:
        yield connected
    cluster.close()
    if saved is not None:
        os.environ[runtime.NUM_THREADS_VARIABLE] = saved


def test_local_sweep_yields_serial_results_in_order():
    configs = three_configs()
    for got, config in zip(sweep(iter(configs)), configs):
        assert_same_run(got, run(config))


def test_local_sweep_raises_the_failure_at_its_place():
    configs = three_configs()
    configs[1]["beam"]["max_steps"] = 0
    results = sweep(configs)
    next(results)
    with pytest.raises(RuntimeError, match="beam: max_steps must be > 0"):
        next(results)


def test_cluster_sweep_equals_serial_runs(client):
    configs = three_configs()
    serial = [run(config) for config in configs]
    got = list(sweep(configs, client, max_pending=2))
    assert len(got) == 3
    for one, want in zip(got, serial):
        assert_same_run(one, want)
    threads = client.run(lambda: os.environ.get("ABYX_NUM_THREADS"))
    assert sorted(threads.values()) == ["1", "1"]


def test_cluster_sweep_raises_module_errors_and_faults_as_locally(client):
    invalid = run_config()
    invalid["beam"]["step_m"] = -1.0
    with pytest.raises(RuntimeError, match="beam: step_m must be positive"):
        list(sweep([run_config(), invalid], client))
    faulty = run_config()
    faulty["ssp"]["c_m_s"] = [1500.0] * 7
    with pytest.raises(abyx.PanicException):
        list(sweep([faulty], client))


def test_max_pending_must_be_positive(client):
    with pytest.raises(ValueError, match="max_pending must be a positive int"):
        sweep([], client, max_pending=0)
