"""The `abyx` command line: runs and pictures written, exit statuses, the module's own messages on
bad input, --threads in a fresh process, the pool size fixed once a process has run, and the
optional dependencies imported late and named by their extra."""

import json
import os
import subprocess
import sys

import pytest

from abyx_tools import cli, run, runtime
from conftest import make_config
from toolkit_cases import run_config


@pytest.fixture(autouse=True)
def keep_thread_variable(monkeypatch):
    """Whatever a command sets in the environment is undone after the test."""
    monkeypatch.delenv(runtime.NUM_THREADS_VARIABLE, raising=False)


def write_config(tmp_path, config):
    path = tmp_path / "config.json"
    path.write_text(json.dumps(config))
    return path


def test_module_entry_runs_with_threads_in_a_fresh_process_and_passes_on_warnings(tmp_path):
    np = pytest.importorskip("numpy")
    from abyx_tools import files, results
    config = dict(run_config(), note="sweep 3")
    output = tmp_path / "result.npz"
    done = subprocess.run([sys.executable, "-m", "abyx_tools", "run", str(write_config(tmp_path, config)),
                           "-o", str(output), "--threads", "1", "--no-progress"], capture_output=True, text=True)
    assert done.returncode == 0 and done.stdout == "", done.stderr
    assert done.stderr == f"abyx: unknown input key is ignored: config.note\nabyx: wrote {output}\n"
    saved, expected = files.load(output), results.to_arrays(run(run_config()))
    # a pool of one sums in another grouping than this process's pool: f32 rounding apart
    np.testing.assert_allclose(saved.field.pressure, expected.pressure, atol=1e-4 * np.abs(expected.pressure).max())
    np.testing.assert_array_equal(saved.field.delay_s, expected.delay_s)
    assert saved.config == config


def test_run_then_plot_writes_pictures_or_fails_with_status_1(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    output = tmp_path / "r.npz"
    assert cli.main(["run", str(write_config(tmp_path, run_config(True))), "-o", str(output), "--no-progress"]) == 0
    for args, picture in [(["--depth", "50"], "r_tl_z50.png"), (["--bathymetry"], "r_bathymetry.png"),
                          (["--bearing", "30", "--frequency", "100"], "r_tl_bearing30.png"),
                          (["--rays", "range-depth"], "r_rays_range_depth.png"),
                          (["--rays", "plan", "-o", str(tmp_path / "p.png")], "p.png")]:
        assert cli.main(["plot", str(output)] + args) == 0
        assert (tmp_path / picture).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    (tmp_path / "junk.nc").write_text("not netcdf")
    assert cli.main(["plot", str(tmp_path / "junk.nc"), "--depth", "50"]) == 1
    assert cli.main(["plot", str(tmp_path / "none.npz"), "--depth", "50"]) == 1
    assert "no such file" in capsys.readouterr().err
    assert cli.main(["run", str(write_config(tmp_path, run_config())), "-o", str(output), "--no-progress"]) == 0
    assert cli.main(["plot", str(output), "--rays", "plan"]) == 1
    assert "store_ray_paths" in capsys.readouterr().err


@pytest.mark.parametrize("content, args, message", [
    ('{"ssp": ', [], "abyx: error: {path} is not valid JSON: Expecting value: line 1 column 9"),
    ({"+beam": {"step_m": 0.0}}, [], "abyx: error: invalid simulation config: Invalid simulation config:\n"
                                    "  - beam: step_m must be positive"),
    ({"+ssp": {"c_m_s": [1500.0] * 7}}, [], "abyx: error: internal fault: "),
    (None, [], "abyx: error: cannot read {path}: No such file or directory"),
    ({}, ["-o", "out.csv"], "abyx: error: cannot write out.csv: name it *.nc or *.npz"),
    ({}, ["-o", "no/such/out.nc"], "the folder no/such does not exist"),
])
def test_bad_input_fails_with_a_message_and_status_1(content, args, message, tmp_path, capsys):
    path = tmp_path / "config.json"
    if content is not None:
        path.write_text(content if isinstance(content, str) else json.dumps(make_config(**content)))
    assert cli.main(["run", str(path), "--no-progress"] + args) == 1
    assert message.format(path=path) in capsys.readouterr().err
    assert not list(tmp_path.glob("*.nc"))


@pytest.mark.parametrize("args", [["run", "c.json", "--threads", "0"], ["plot", "r.nc"],
                                  ["run", "c.json", "--progress", "--no-progress"], []])
def test_malformed_command_lines_exit_with_status_2(args):
    with pytest.raises(SystemExit) as caught:
        cli.main(args)
    assert caught.value.code == 2


def test_thread_count_is_refused_once_the_pool_exists():
    run(run_config())
    created = runtime._pool_size_at_first_run
    with pytest.raises(RuntimeError, match="already exists .* keeps its size"):
        runtime.set_worker_threads(3 if created != "3" else 4)
    with pytest.raises(ValueError, match="from 1 to 4096"):
        runtime.set_worker_threads(4097)
    if created is not None:
        runtime.set_worker_threads(int(created))  # the size it already has is fine
        assert os.environ[runtime.NUM_THREADS_VARIABLE] == created


# which optional modules importing the toolkit pulls in, and the errors when one is missing (None
# in sys.modules makes its import fail); in a fresh interpreter
EXTRAS_SCRIPT = r"""
import sys
import abyx_tools, abyx_tools.plot, abyx_tools.results, abyx_tools.cli, abyx_tools.sweeps
print(sorted(m for m in ("matplotlib", "xarray", "dask", "distributed") if m in sys.modules))
sys.modules["xarray"] = sys.modules["matplotlib"] = None
for attempt in (lambda: __import__("abyx_tools.dataset"), lambda: abyx_tools.plot.rays_plan([[[0, 0, 0]]])):
    try:
        attempt()
    except ImportError as error:
        print(error)
"""


def test_optional_dependencies_load_late_and_name_their_extra():
    pytest.importorskip("numpy")
    out = subprocess.run([sys.executable, "-c", EXTRAS_SCRIPT], capture_output=True, text=True,
                         check=True).stdout.splitlines()
    assert out == ["[]", "abyx_tools.dataset needs the Python package 'xarray', which is not installed; "
                         "install it with: pip install 'abyx[xarray]'",
                   "abyx_tools.plot needs the Python package 'matplotlib', which is not installed; "
                   "install it with: pip install 'abyx[plot]'"]
