"""Each of the README's Python examples runs as written, as a script of its own, so does the user guide, and the
examples run on small fans and write their pictures."""

import pathlib
import re
import runpy
import subprocess
import sys
import textwrap

import pytest

from conftest import child_env

ROOT = pathlib.Path(__file__).resolve().parents[3]


README_BLOCKS = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.S)
GUIDE_BLOCKS = [textwrap.dedent(block) for block in re.findall(
    r"\.\. code-block:: python\n\n((?:    .*\n|\n)+)", (ROOT / "docs" / "guide.rst").read_text(encoding="utf-8"))]
# The guide is one script but for its Dask sweep, a script of its own behind the main guard
GUIDE_SCRIPTS = ["\n".join(b for b in GUIDE_BLOCKS if "__main__" not in b)] + [b for b in GUIDE_BLOCKS if "__main__" in b]
SCRIPTS = {**{f"readme{i}": b for i, b in enumerate(README_BLOCKS)}, **{f"guide{i}": b for i, b in enumerate(GUIDE_SCRIPTS)}}


@pytest.mark.parametrize("block", SCRIPTS.values(), ids=SCRIPTS.keys())
def test_each_readme_and_guide_example_runs_as_written_on_its_own(block, tmp_path):
    for package in ("xarray", "netCDF4", "matplotlib", "pandas", "distributed", "pyproj", "gsw"):
        pytest.importorskip(package)
    if "gebco.nc" in block:  # the files examples/real_ocean.py writes
        runpy.run_path(str(ROOT / "examples" / "real_ocean.py"))["write_scene"](tmp_path)
    (tmp_path / "example.py").write_text(block, encoding="utf-8")  # a script of its own: the Dask guard holds
    done = subprocess.run([sys.executable, "example.py"], capture_output=True, text=True, timeout=300, cwd=tmp_path,
                          env=child_env(MPLBACKEND="Agg", PYTHONWARNINGS="error"))
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize("script, arguments, pictures", [
    ("plot_coastal_wedge.py", ["--small"], ["transmission_loss.png", "ray_paths.png"]),  # into the current folder
    ("munk_deep_water.py", ["--plot", "{out}/munk.png", "--small"], ["munk.png"]),
    ("arrivals_shallow_water.py", ["--plot", "{out}/arrivals.png", "--small"], ["arrivals.png"]),
    ("shallow_water_10khz.py", ["--plot", "{out}/shallow.png", "--small"], ["shallow.png"]),
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
