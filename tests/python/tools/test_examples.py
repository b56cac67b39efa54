"""The README's Python examples run as written (the cluster one needs a cluster and is left out), and the
examples run on small fans and write their pictures."""

import pathlib
import re
import runpy
import subprocess
import sys

import pytest

from conftest import child_env

ROOT = pathlib.Path(__file__).resolve().parents[3]


def test_the_readme_examples_run_as_written(tmp_path, monkeypatch):
    pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    pytest.importorskip("matplotlib").use("Agg")
    pytest.importorskip("pyproj"), pytest.importorskip("gsw")
    runpy.run_path(str(ROOT / "examples" / "real_ocean.py"))["write_scene"](tmp_path)  # the ocean example's files
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.S)
    monkeypatch.chdir(tmp_path)  # the examples write result.nc
    namespace = {}
    for block in blocks:
        if "LocalCluster" not in block:
            exec(compile(block, str(ROOT / "README.md"), "exec"), namespace)
    assert (tmp_path / "result.nc").exists() and len(blocks) == 5


@pytest.mark.parametrize("script, arguments, pictures", [
    ("plot_coastal_wedge.py", ["--small"], ["transmission_loss.png", "ray_paths.png"]),  # into the current folder
    ("munk_deep_water.py", ["--plot", "{out}/munk.png", "--small"], ["munk.png"]),
    ("arrivals_shallow_water.py", ["--plot", "{out}/arrivals.png", "--small"], ["arrivals.png"]),
    ("real_ocean.py", ["{out}", "--small"], ["real_ocean.png", "gebco.nc", "woa.nc"]),
])
def test_example_runs_on_a_small_fan(script, arguments, pictures, tmp_path):
    pytest.importorskip("matplotlib")
    pytest.importorskip("pandas")
    if script == "real_ocean.py":
        pytest.importorskip("pyproj"), pytest.importorskip("gsw")
    done = subprocess.run([sys.executable, str(ROOT / "examples" / script), *(a.format(out=tmp_path) for a in arguments)],
                          capture_output=True, text=True, timeout=300, cwd=tmp_path, env=child_env())
    assert done.returncode == 0, done.stderr
    assert all((tmp_path / name).stat().st_size > 0 for name in pictures)
