"""The `abyx` command line, the worker pool's size, the optional dependencies, and sweeps."""

import json
import os
import subprocess
import sys

import pytest

import abyx
import abyx_tools
from abyx_tools import cli, run, runtime, sweep
from conftest import assert_same_result, make_config
from toolkit_cases import run_config


@pytest.fixture(autouse=True)
def keep_thread_variable(monkeypatch):
    monkeypatch.delenv(runtime.NUM_THREADS_VARIABLE, raising=False)  # whatever a command sets


def test_module_entry_runs_with_threads_in_a_fresh_process_and_passes_on_warnings(tmp_path):
    pytest.importorskip("numpy")
    from abyx_tools import files
    config, output = dict(run_config(), note="sweep 3"), tmp_path / "result.npz"
    (tmp_path / "c.json").write_text(json.dumps(config))
    done = subprocess.run([sys.executable, "-m", "abyx_tools", "run", str(tmp_path / "c.json"), "-o", str(output),
                           "--threads", "1", "--no-progress"], capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (0, ""), done.stderr
    assert done.stderr == f"abyx: unknown input key is ignored: config.note\nabyx: wrote {output}\n"
    assert files.load(output).config == config  # the field a run writes: see test_results


def test_run_then_plot_writes_pictures_or_fails_with_status_1(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    output = tmp_path / "r.npz"
    for config, args, status in [
            (run_config(True), ["--depth", "50", "--vmin", "40", "--vmax", "90"], 0),
            (None, ["--bearing", "30", "--frequency", "100"], 0),
            (None, ["--bathymetry"], 0), (None, ["--rays", "range-depth"], 0),
            (None, ["--rays", "plan", "-o", str(tmp_path / "p.png")], 0), (run_config(), ["--rays", "plan"], 1)]:
        if config:
            (tmp_path / "c.json").write_text(json.dumps(config))
            assert cli.main(["run", str(tmp_path / "c.json"), "-o", str(output), "--no-progress", "--force"]) == 0
        assert cli.main(["plot", str(output)] + args) == status
    assert [p.read_bytes()[:4] for p in sorted(tmp_path.glob("*.png"))] == [b"\x89PNG"] * 5
    assert "store_ray_paths" in capsys.readouterr().err
    (tmp_path / "junk.nc").write_text("not netcdf")
    (tmp_path / "junk.npz").write_bytes(output.read_bytes()[:100])  # cut short
    assert [cli.main(["plot", str(tmp_path / name), "--depth", "50"]) for name in ("junk.nc", "junk.npz", "none.npz")] == [1] * 3
    err = capsys.readouterr().err
    assert "no such file" in err and "junk.npz' is not an abyx result: it cannot be read as a NumPy .npz file" in err


@pytest.mark.parametrize("content, args, message", [
    ('{"ssp": ', [], "abyx: error: {path} is not valid JSON: Expecting value: line 1 column 9"),
    ({"+ssp": {"c_m_s": [1500.0] * 7}}, [], "abyx: error: c_m_s does not match grid dimensions: nx * ny * nz = 8 "
                                          "but c_m_s has 7 values\n"),
    ({"+ssp": {"c_m_s": [1500.0] * 7}}, ["--no-check", "-o", "unused.npz"], "abyx: error: internal fault: "),
    ({"source": {"position": [0.0, 0.0, 50.0], "freq_Hz": [100.0], "launch_elev_deg": [0.0], "launch_azim_deg": [0.0]}},
     [], "error: source: 'freq_Hz' is not a key of source and 'freq_hz' is "
                                            "missing: did you mean 'freq_hz'?\n"),
    (json.dumps(make_config())[:-1] + ', "beam": {"step_m": 5.0}}', [],
     'abyx: error: {path}: the key "beam" appears twice in one object'),
    ({"+source": {"position": [0.0, 0.0, 50.0, 1.0]}}, [], "trailing characters at line 1 column 364\n"
                                                        "in source.position, which takes exactly three numbers"),
    (None, [], "abyx: error: cannot read {path}: No such file or directory"),
    pytest.param("[" * 100000 + "]" * 100000, [], "abyx: error: {path} nests lists and objects more than 32 deep", id="deep"),
    pytest.param('{"ssp": ' + "[" * 40 + "]" * 40 + "}", [], "abyx: error: {path} nests lists and objects more than 32",
                 id="40 deep"),
    pytest.param('{"ssp": ' + "9" * 5000 + "}", [], "abyx: error: {path} holds a number JSON readers refuse: Exceeds",
                 id="5000 digits"),
    ({}, ["-o", "out.csv"], "abyx: error: cannot write out.csv: name it *.nc or *.npz"),
    ({}, ["-o", "no/such/out.nc"], "the folder no/such does not exist"),
    ({"+source": {"freq_hz": [100.0] * 100}, "receivers": {"config_type": "grid", "x_rcvr_m": [float(x) for x in range(1000)],
                                                           "y_rcvr_m": [0.0] * 1000, "z_rcvr_m": [10.0] * 1000}}, [],
     "abyx: error: receiver grid too large for memory: 100 frequencies x 1000000000 receivers x 8 bytes")])
def test_bad_input_fails_with_a_message_and_status_1(content, args, message, tmp_path, capsys):
    pytest.importorskip("numpy")  # without it, a run names the extra to install instead
    path = tmp_path / "config.json"
    if content is not None:
        path.write_text(content if isinstance(content, str) else json.dumps(make_config(**content)))
    assert cli.main(["run", str(path), "--no-progress"] + (args or ["-o", str(tmp_path / "r.npz")])) == 1
    assert message.format(path=path) in capsys.readouterr().err
    assert not list(tmp_path.glob("*.n[cp]*"))


def test_malformed_command_lines_exit_with_status_2_and_thread_counts_are_refused_once_the_pool_exists(capsys):
    for args in (["run", "c.json", "--threads", "0"], ["plot", "r.nc"], ["run", "c", "--progress", "--no-progress"], [],
                 ["run", "c.json", "--threads", str(8 * len(os.sched_getaffinity(0)) + 1)], ["plot", "r.nc", "--depth", "inf"],
                 ["plot", "r.nc", "--bearing", "nan"], ["plot", "r.nc", "--depth", "5", "--frequency", "nan"],
                 ["plot", "r.nc", "--depth", "5", "--vmin", "-inf"], ["plot", "r.nc", "--depth", "5", "--dpi", "100000"]):
        with pytest.raises(SystemExit, match="^2$"):
            cli.main(args)
    with pytest.raises(SystemExit, match="^0$"):
        cli.main(["--version"])
    assert capsys.readouterr().out == f"abyx {abyx_tools.__version__}\n" and abyx_tools.__version__
    run(run_config())
    created = runtime._pool_size_at_first_run
    with pytest.raises(RuntimeError, match="already exists .* keeps its size"):
        runtime.set_worker_threads(3 if created != "3" else 4)
    with pytest.raises(ValueError, match="from 1 to 4096"):
        runtime.set_worker_threads(4097)
    if created is not None:
        runtime.set_worker_threads(int(created))  # the size it already has is fine
        assert os.environ[runtime.NUM_THREADS_VARIABLE] == created


def test_a_result_never_replaces_its_configuration_and_replaces_another_file_only_when_forced(tmp_path, capsys, monkeypatch):
    pytest.importorskip("numpy")
    study, output = tmp_path / "study.nc", tmp_path / "r.npz"
    study.write_text(json.dumps(run_config()))
    for args in (["run", str(study)], ["run", str(study), "-o", str(study), "--force"]):
        assert cli.main(args + ["--no-progress"]) == 1 and json.loads(study.read_text()) == run_config()
        assert f"abyx: error: the result would overwrite the configuration {study}: name another file" in capsys.readouterr().err
    output.write_text("kept")
    output.chmod(0o640)
    assert cli.main(["run", str(study), "-o", str(output), "--no-progress"]) == 1 and output.read_text() == "kept"
    assert f"abyx: error: {output} exists: pass --force to replace it" in capsys.readouterr().err
    assert cli.main(["run", str(study), "-o", str(output), "--no-progress", "--force"]) == 0
    assert output.stat().st_mode & 0o777 == 0o640 and output.read_bytes()[:2] == b"PK"

    def refused(config, **options):
        raise abyx.PanicException("could not start worker thread 338")

    monkeypatch.setattr(runtime, "run", refused)
    assert cli.main(["run", str(study), "-o", str(tmp_path / "s.npz"), "--no-progress"]) == 1
    assert "could not start the worker threads asked for" in capsys.readouterr().err


@pytest.mark.parametrize("module, extra", [("xarray", "xarray"), ("matplotlib", "plot")])
def test_optional_dependencies_load_late_and_name_their_extra(module, extra):
    pytest.importorskip("numpy")
    # in a fresh interpreter, with the dependency made unimportable (None in sys.modules)
    script = (f"import sys, abyx_tools, abyx_tools.plot, abyx_tools.results, abyx_tools.cli, abyx_tools.sweeps\n"
              f"assert not {{'matplotlib', 'xarray', 'dask', 'distributed'}} & set(sys.modules)\n"
              f"sys.modules['{module}'] = None\n"
              f"abyx_tools.plot.rays_plan([[[0, 0, 0]]]) if '{extra}' == 'plot' else __import__('abyx_tools.dataset')")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    feature = "abyx_tools.plot" if extra == "plot" else "abyx_tools.dataset"
    assert done.stderr.endswith(f"ImportError: {feature} needs the Python package '{module}', which is not installed; "
                                f"install it with: pip install 'abyx[{extra}]'\n"), done.stderr


def assert_same_runs(got, want):
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert_same_result(g, w)


@pytest.fixture(params=["local", "cluster"])
def client(request):
    if request.param == "local":
        yield None
        return
    distributed = pytest.importorskip("distributed")  # the workers inherit no thread count: see keep_thread_variable
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        yield client


def test_a_sweep_yields_serial_results_in_order_and_raises_at_the_failing_place(client):
    # two frequencies, another sound speed, an array of receivers
    configs = [make_config(**{"+source": {"freq_hz": [50.0, 150.0]}}), make_config(**{"+ssp": {"c_m_s": [1480.0, 1520.0] * 4}}),
               run_config(receivers={"config_type": "array", "x_rcvr_m": [50.0, 120.0], "y_rcvr_m": [10.0, -80.0],
                                     "z_rcvr_m": [30.0, 60.0]})]
    assert_same_runs(list(sweep(iter(configs), client, max_pending=2)), [run(c) for c in configs])
    if client:
        with pytest.warns(UserWarning, match=r"^abyx: unknown input key is ignored: config\.note$"):
            next(sweep([dict(configs[0], note="one")], client))  # issued again here, as a local run does
        assert sorted(client.run(lambda: os.environ.get("ABYX_NUM_THREADS")).values()) == ["1", "1"]
        with pytest.raises(ValueError, match="max_pending must be a positive int"):
            sweep([], client, max_pending=0)
    configs[1]["beam"]["max_steps"] = 0
    results = sweep(configs, client)
    next(results)
    with pytest.raises(RuntimeError, match="beam: max_steps must be > 0"):
        next(results)
    kept = list(sweep(configs, client, errors="return"))  # the failure in its place, the rest run
    assert isinstance(kept[1], RuntimeError) and "max_steps must be > 0" in str(kept[1])
    assert_same_runs([kept[0], kept[2]], [run(configs[0]), run(configs[2])])
    configs[1]["beam"]["max_steps"], configs[1]["ssp"]["c_m_s"] = 100, [1500.0] * 7
    with pytest.raises(abyx.PanicException):  # unchecked, the module's fault
        list(sweep(configs, client, check=False))
    kept = list(sweep(configs, client, errors="return"))  # checked, a ValueError with the fault's text
    assert isinstance(kept[1], ValueError) and not isinstance(kept[2], BaseException)
    assert str(kept[1]) == "c_m_s does not match grid dimensions: nx * ny * nz = 8 but c_m_s has 7 values"
    with pytest.raises(ValueError, match='errors must be "raise" or "return"'):
        sweep(configs, client, errors="ignore")


def test_the_progress_bar_counts_every_ray_and_leaves_the_result_as_it_is(capsys):
    pytest.importorskip("tqdm")
    config = run_config()
    assert run(config, progress=True) == run(config)
    rays = len(config["source"]["launch_azim_deg"]) * len(config["source"]["launch_elev_deg"])
    assert f"{rays}/{rays}" in capsys.readouterr().err.split("\r")[-1]


@pytest.mark.parametrize("notebook", [False, True])  # a notebook without ipywidgets: the text bar, no warning
def test_the_progress_bar_gives_the_rays_left_at_the_recent_rate(notebook, monkeypatch, capsys, recwarn):
    """1 ray/s for the steep rays' first minute, then 100 rays/s: 3000 rays left take 30 s, not the 2 min the
    average since the start says."""
    pytest.importorskip("tqdm")
    if notebook:
        for name in ("tqdm.auto", "tqdm.autonotebook"):
            monkeypatch.delitem(sys.modules, name, raising=False)
        shell = type("ZMQInteractiveShell", (), {})
        monkeypatch.setitem(sys.modules, "ipykernel.zmqshell", type(sys)("ipykernel.zmqshell"))
        monkeypatch.setitem(sys.modules, "IPython", type("IPython", (), {"get_ipython": staticmethod(shell)}))
    samples = [(t, t // 10 * 10) for t in range(0, 70, 10)] + [(70, 1060), (80, 2060)]
    now = [0.0]
    monkeypatch.setattr(runtime, "_clock", lambda: now[0])
    frames = []

    def fake_run(config, watch):
        for now[0], done in samples:
            watch(done, 5060)
            frames.append(capsys.readouterr().err.split("\r")[-1])
        return {}

    monkeypatch.setattr(abyx, "_run_simulation_watched", fake_run)
    run(run_config(), progress=True, check=False)
    assert "2060/5060" in frames[-1] and "<00:30" in frames[-1] and "100.00ray/s" in frames[-1]
    assert not recwarn.list
