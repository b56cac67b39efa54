"""The README's Python examples run as written (the cluster one needs a cluster and is left out)."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[3] / "README.md"


def test_the_readme_examples_run_as_written(tmp_path, monkeypatch):
    pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    pytest.importorskip("matplotlib").use("Agg")
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    monkeypatch.chdir(tmp_path)  # the examples write result.nc
    namespace = {}
    for block in blocks:
        if "LocalCluster" not in block:
            exec(compile(block, str(README), "exec"), namespace)
    assert (tmp_path / "result.nc").exists() and len(blocks) == 4
