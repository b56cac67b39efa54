"""Sweeps: results in the order of the configurations, locally and on a LocalCluster of two worker
processes, equal to serial runs; failures raised at their place; each worker's pool sized to its
thread count."""

import os

import pytest

import abyx
from abyx_tools import run, runtime, sweep
from toolkit_cases import run_config


def three_configs():
    """A frequency sweep, a different sound speed and an array of receivers."""
    configs = [run_config(), run_config(), run_config(receivers={
        "config_type": "array", "x_rcvr_m": [50.0, 120.0], "y_rcvr_m": [10.0, -80.0], "z_rcvr_m": [30.0, 60.0]})]
    configs[0]["source"]["freq_hz"] = [50.0, 150.0]
    configs[1]["ssp"]["c_m_s"] = [1480.0, 1520.0] * 4
    return configs


def assert_same_runs(got, want):
    """Equal results; the pressures up to the f32 rounding of another pool's grouping."""
    assert len(got) == len(want)
    for g, w in ((g["pressure_field"], w["pressure_field"]) for g, w in zip(got, want)):
        assert list(g) == list(w) and g["shape"] == w["shape"] and g["delay_s"] == w["delay_s"]
        scale = max(map(abs, w["pressure_re"] + w["pressure_im"]))
        for key in ("pressure_re", "pressure_im", "amplitude"):
            assert g[key] == pytest.approx(w[key], abs=1e-4 * scale), key


def test_local_sweep_yields_serial_results_in_order_and_raises_at_the_failing_place():
    configs = three_configs()
    assert_same_runs(list(sweep(iter(configs))), [run(c) for c in configs])
    configs[1]["beam"]["max_steps"] = 0
    results = sweep(configs)
    next(results)
    with pytest.raises(RuntimeError, match="beam: max_steps must be > 0"):
        next(results)


def test_cluster_sweep_equals_serial_runs_and_raises_as_locally(monkeypatch):
    distributed = pytest.importorskip("distributed")
    monkeypatch.delenv(runtime.NUM_THREADS_VARIABLE, raising=False)  # workers inherit it
    configs = three_configs()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        assert_same_runs(list(sweep(configs, client, max_pending=2)), [run(c) for c in configs])
        assert sorted(client.run(lambda: os.environ.get("ABYX_NUM_THREADS")).values()) == ["1", "1"]
        configs[1]["beam"]["step_m"] = -1.0
        with pytest.raises(RuntimeError, match="beam: step_m must be positive"):
            list(sweep(configs, client))
        configs[1]["beam"]["step_m"], configs[1]["ssp"]["c_m_s"] = 10.0, [1500.0] * 7
        with pytest.raises(abyx.PanicException):
            list(sweep(configs, client))
        with pytest.raises(ValueError, match="max_pending must be a positive int"):
            sweep([], client, max_pending=0)
