"""Imports of the optional dependencies, each failing with the name of the extra supplying it."""

from __future__ import annotations

import importlib
from types import ModuleType
from typing import Optional

# The extra of the abyx distribution that installs each optional top-level package.
EXTRA_OF_PACKAGE = {
    "numpy": "numpy",
    "xarray": "xarray",
    "netCDF4": "xarray",
    "matplotlib": "plot",
    "dask": "dask",
    "distributed": "dask",
    "tqdm": "progress",
    "pandas": "arrivals",
    "pyproj": "ocean",
    "gsw": "ocean",
}


def missing_extra_message(module: str, feature: str, extra: Optional[str] = None) -> str:
    """The text of the ImportError raised when `module` is absent: what needs it, and the command
    that installs it (the extra of `feature`, else the one that supplies the package)."""
    package = module.split(".")[0]
    extra = extra or EXTRA_OF_PACKAGE[package]
    return (
        f"{feature} needs the Python package '{package}', which is not installed; "
        f"install it with: pip install 'abyx[{extra}]'"
    )


def require(module: str, feature: str, extra: Optional[str] = None) -> ModuleType:
    """Imports `module` for `feature` (e.g. "abyx_tools.plot"); raises ImportError naming the extra
    to install (`extra`, else the one supplying the module) when the module or one of its own
    dependencies is missing."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(missing_extra_message(module, feature, extra)) from error
