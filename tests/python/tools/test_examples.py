"""The examples run on small fans and write their pictures."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[3] / "examples"


@pytest.mark.parametrize("script, arguments, pictures", [
    ("plot_coastal_wedge.py", ["{out}", "--small"], ["transmission_loss.png", "ray_paths.png"]),
    ("munk_deep_water.py", ["--plot", "{out}/munk.png", "--small"], ["munk.png"]),
    ("arrivals_shallow_water.py", ["--plot", "{out}/arrivals.png", "--small"], ["arrivals.png"]),
])
def test_example_runs_on_a_small_fan(script, arguments, pictures, tmp_path):
    pytest.importorskip("matplotlib")
    pytest.importorskip("pandas")
    done = subprocess.run([sys.executable, str(EXAMPLES / script), *(a.format(out=tmp_path) for a in arguments)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert all((tmp_path / name).stat().st_size > 0 for name in pictures)
