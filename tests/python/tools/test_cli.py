"""The `abyx` command line: runs and pictures written, exit statuses, the module's own messages
on bad input, --threads in a fresh process, and the pool size fixed once a process has run."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

from abyx_tools import cli, files, results, run, runtime
from toolkit_cases import run_config

# pressures of runs that differ only in their pool size agree to f32 summation rounding
PRESSURE_REL_TOL = 1e-4


@pytest.fixture
def config_file(tmp_path):
    path = tmp_path / "config.json"
    path.write_text(json.dumps(run_config(store_ray_paths=True)))
    return path


@pytest.fixture(autouse=True)
def keep_thread_variable(monkeypatch):
    """Whatever a command sets in the environment is undone after the test."""
    monkeypatch.delenv(runtime.NUM_THREADS_VARIABLE, raising=False)


def test_module_entry_runs_with_threads_in_a_fresh_process(config_file, tmp_path):
    output = tmp_path / "result.nc"
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "abyx_tools",
            "run",
            str(config_file),
            "-o",
            str(output),
            "--threads",
            "1",
            "--no-progress",
        ],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stderr
    assert done.stderr == f"abyx: wrote {output}\n"
    assert done.stdout == ""
    saved = files.load(output)
    expected = results.to_arrays(run(json.loads(config_file.read_text())))
    scale = np.abs(expected.pressure).max()
    np.testing.assert_allclose(
        saved.field.pressure, expected.pressure, atol=PRESSURE_REL_TOL * scale
    )
    np.testing.assert_array_equal(saved.field.delay_s, expected.delay_s)


def test_run_then_plot_writes_npz_and_png(config_file, tmp_path, capsys):
    output = tmp_path / "r.npz"
    assert cli.main(["run", str(config_file), "-o", str(output), "--no-progress"]) == 0
    assert files.load(output).config == json.loads(config_file.read_text())
    for args, picture in [
        (["--depth", "50"], "r_tl_z50.png"),
        (["--bearing", "30", "--frequency", "100"], "r_tl_bearing30.png"),
        (["--bathymetry"], "r_bathymetry.png"),
        (["--rays", "range-depth"], "r_rays_range_depth.png"),
    ]:
        assert cli.main(["plot", str(output)] + args) == 0
        assert (tmp_path / picture).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert cli.main(["plot", str(output), "--rays", "plan", "-o", str(tmp_path / "p.png")]) == 0
    assert (tmp_path / "p.png").stat().st_size > 0
    assert "abyx: wrote" in capsys.readouterr().err


def test_warnings_of_the_run_reach_standard_error(tmp_path, capsys):
    config = run_config()
    config["note"] = "sweep 3"
    path = tmp_path / "c.json"
    path.write_text(json.dumps(config))
    assert cli.main(["run", str(path), "-o", str(tmp_path / "c.npz"), "--no-progress"]) == 0
    assert "abyx: unknown input key is ignored: config.note\n" in capsys.readouterr().err


def broken(kind, tmp_path):
    path = tmp_path / "config.json"
    if kind == "not json":
        path.write_text('{"ssp": ')
    elif kind == "invalid":
        config = run_config()
        config["beam"]["step_m"] = 0.0
        path.write_text(json.dumps(config))
    elif kind == "set-up fault":
        config = run_config()
        config["ssp"]["c_m_s"] = [1500.0] * 7
        path.write_text(json.dumps(config))
    return path


@pytest.mark.parametrize(
    "kind, args, message",
    [
        ("not json", [], "abyx: error: {path} is not valid JSON: Expecting value: line 1 column 9"),
        (
            "invalid",
            [],
            "abyx: error: invalid simulation config: Invalid simulation config:\n"
            "  - beam: step_m must be positive",
        ),
        ("set-up fault", [], "abyx: error: internal fault: "),
        ("missing", [], "abyx: error: cannot read {path}: No such file or directory"),
        ("invalid", ["-o", "out.csv"], "abyx: error: cannot write out.csv: name it *.nc or *.npz"),
        ("invalid", ["-o", "no/such/out.nc"], "the folder no/such does not exist"),
    ],
)
def test_bad_input_fails_with_a_message_and_status_1(kind, args, message, tmp_path, capsys):
    path = broken(kind, tmp_path) if kind != "missing" else tmp_path / "absent.json"
    assert cli.main(["run", str(path), "--no-progress"] + args) == 1
    err = capsys.readouterr().err
    assert message.format(path=path) in err
    assert not list(tmp_path.glob("*.nc"))


def test_plot_of_a_broken_or_unsuitable_file_fails_with_status_1(tmp_path, capsys):
    junk = tmp_path / "junk.nc"
    junk.write_text("not netcdf")
    assert cli.main(["plot", str(junk), "--depth", "50"]) == 1
    assert cli.main(["plot", str(tmp_path / "none.npz"), "--depth", "50"]) == 1
    assert "no such file" in capsys.readouterr().err
    files.save(tmp_path / "r.npz", run(run_config()))
    assert cli.main(["plot", str(tmp_path / "r.npz"), "--rays", "plan"]) == 1
    assert "store_ray_paths" in capsys.readouterr().err


@pytest.mark.parametrize(
    "args",
    [
        ["run", "c.json", "--threads", "0"],
        ["plot", "r.nc"],
        ["run", "c.json", "--progress", "--no-progress"],
        [],
    ],
)
def test_malformed_command_lines_exit_with_status_2(args):
    with pytest.raises(SystemExit) as caught:
        cli.main(args)
    assert caught.value.code == 2


def test_thread_count_is_refused_once_the_pool_exists():
    run(run_config())
    created = runtime._pool_size_at_first_run
    other = 3 if created != "3" else 4
    with pytest.raises(RuntimeError, match="already exists .* keeps its size"):
        runtime.set_worker_threads(other)
    with pytest.raises(ValueError, match="from 1 to 4096"):
        runtime.set_worker_threads(4097)
    if created is not None:
        runtime.set_worker_threads(int(created))  # the size it already has is fine
        assert os.environ[runtime.NUM_THREADS_VARIABLE] == created
