"""abyx_tools: the rest of the workflow around `abyx.run_simulation`.

* `abyx_tools.results`: the result dict as NumPy arrays (`to_arrays`, `transmission_loss_db`,
  `ray_paths`); needs the `numpy` extra.
* `abyx_tools.dataset`: the result as an `xarray.Dataset` (`to_dataset`); needs the `xarray` extra.
* `abyx_tools.arrival_tables`: the arrivals of a run as arrays or a pandas table (`arrivals`), and
  the impulse responses they make (`impulse_response`); the table needs the `arrivals` extra.
* `abyx_tools.files`: results on disk as netCDF or .npz (`save`, `load`).
* `abyx_tools.plot`: transmission-loss slices, bathymetry and ray paths with matplotlib; needs the
  `plot` extra.
* `abyx_tools.reflection`: plane-wave reflection coefficients of fluid and solid half-spaces under
  fluid layers, and the `bottom_model` tables that carry them (`coefficient`, `table`); needs numpy.
* `abyx_tools.ocean`: a configuration from a bathymetry grid and water data on latitude and
  longitude (TEOS-10 sound speed), with the receivers' latitude and longitude in the dataset; needs
  the `ocean` extra.
* `abyx_tools.surface`: shaped sea surfaces for the configuration's `surface` section, a sinusoid or
  a random Pierson-Moskowitz wind sea per seed; needs the `numpy` extra.
* `sweep`: many runs in order, locally or on a Dask cluster; the cluster needs the `dask` extra.
* `config`: a whole configuration from water depth, sound speed, bottom (named sediments too),
  source, receivers and fan.
* `run`: one run of a configuration that may hold NumPy arrays.
* `check`: the mistakes of a configuration that the module would accept without a word (`Finding`
  records); `run`, `sweep`, `config` and `abyx run` warn of them, or refuse them, by default.
* `suggest_fan`: the launch spacings geometric beams need for a configuration's frequency and range.
* `abyx_tools.schema`: the configuration and the result as TypedDicts.
* the `abyx` command line (`abyx run`, `abyx plot`, also `python -m abyx_tools`).

Importing the package imports none of the optional dependencies; each is imported when first used,
and a missing one raises an ImportError that names the extra to install, e.g.
`pip install 'abyx[xarray]'`.
"""

from __future__ import annotations

import importlib
from typing import Any

__all__ = [
    "ArrivalArrays",
    "FanSpacing",
    "FieldArrays",
    "Finding",
    "RayPath",
    "SavedRun",
    "__version__",
    "arrival_arrays",
    "arrivals",
    "check",
    "complex_pressure",
    "config",
    "impulse_response",
    "load",
    "ray_paths",
    "run",
    "save",
    "set_worker_threads",
    "suggest_fan",
    "sweep",
    "to_arrays",
    "to_dataset",
    "transmission_loss_db",
]

def _installed_version() -> str:
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version("abyx")
    except PackageNotFoundError:  # run from a source tree
        return "0+unknown"


__version__ = _installed_version()

# Where each public name lives; its module is imported when the name is first used. No module is
# named as a public name: importing a submodule binds it as an attribute of the package, which would
# replace the function of that name.
_HOMES = {
    "config": "abyx_tools.builder",
    "Finding": "abyx_tools.checks",
    "check": "abyx_tools.checks",
    "ArrivalArrays": "abyx_tools.arrival_tables",
    "arrival_arrays": "abyx_tools.arrival_tables",
    "arrivals": "abyx_tools.arrival_tables",
    "impulse_response": "abyx_tools.arrival_tables",
    "FieldArrays": "abyx_tools.results",
    "RayPath": "abyx_tools.results",
    "ray_paths": "abyx_tools.results",
    "to_arrays": "abyx_tools.results",
    "transmission_loss_db": "abyx_tools.results",
    "to_dataset": "abyx_tools.dataset",
    "complex_pressure": "abyx_tools.dataset",
    "SavedRun": "abyx_tools.files",
    "load": "abyx_tools.files",
    "save": "abyx_tools.files",
    "run": "abyx_tools.runtime",
    "set_worker_threads": "abyx_tools.runtime",
    "sweep": "abyx_tools.sweeps",
    "FanSpacing": "abyx_tools.fans",
    "suggest_fan": "abyx_tools.fans",
}


def __getattr__(name: str) -> Any:
    home = _HOMES.get(name)
    if home is None:
        raise AttributeError(f"module 'abyx_tools' has no attribute '{name}'")
    value = getattr(importlib.import_module(home), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__))
