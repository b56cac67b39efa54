"""Results on disk: netCDF (through xarray) or NumPy's .npz (NumPy only), chosen by the file suffix.

netCDF has no complex numbers, so the file holds the pressure as `pressure_re` and `pressure_im`;
`open_dataset` joins them again. Both formats keep the field, the ray paths when the run stored
them, and the configuration. A file is written under a temporary name next to its destination and
moved into place when complete, so a failed write never leaves a partial file or spoils an older
one. Reading (`load`, `open_dataset`, `read_npz`) is `abyx_tools.saved`'s, named here too.
"""

from __future__ import annotations

import json
import os
import stat
import tempfile
from collections.abc import Mapping
from pathlib import Path
from typing import Any, Callable, Dict, Optional

from abyx_tools._extras import missing_extra_message, require
from abyx_tools.arrival_tables import arrival_variables
from abyx_tools.saved import (
    NPZ_FIELD,
    SUFFIXES,
    LoadedRun,
    PathLike,
    SavedRun,
    load,
    open_dataset,
    read_npz,
    saved_run,
    suffix_of,
)

np = require("numpy", "abyx_tools.files")

__all__ = ["SUFFIXES", "LoadedRun", "SavedRun", "load", "open_dataset", "read_npz", "require_netcdf", "save"]


def require_netcdf() -> None:
    """Raises ImportError naming the extra to install unless xarray and a netCDF writer exist."""
    feature = "writing netCDF files"
    require("xarray", feature)
    try:
        require("netCDF4", feature)
    except ImportError:
        try:
            import scipy.io  # noqa: F401  (xarray's netCDF-3 writer)
        except ImportError:
            raise ImportError(missing_extra_message("netCDF4", feature)) from None


def _umask() -> int:
    """The process's file-creation mask (temporary files are created private; results are not)."""
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _write_atomically(path: PathLike, write: Callable[[str], None]) -> None:
    """Calls write(temporary path) and moves the file to `path` only when it returned; a link is
    followed, so that the file it names is replaced rather than the link, and a file replaced keeps
    its permissions."""
    target = Path(os.path.realpath(path))
    mode = stat.S_IMODE(os.stat(target).st_mode) if target.exists() else 0o666 & ~_umask()
    handle, temporary = tempfile.mkstemp(
        dir=target.parent if str(target.parent) else ".", prefix=f".{target.name}.", suffix=".tmp"
    )
    os.close(handle)
    try:
        write(temporary)
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def _save_npz(path: PathLike, result: Any, config: Optional[Mapping[str, Any]]) -> None:
    field, paths, plain = saved_run(result, config)
    arrays: Dict[str, Any] = {name: getattr(field, name) for name in NPZ_FIELD}
    arrays["is_array"] = np.array(field.is_array)
    if field.intensity is not None:
        arrays["intensity"] = field.intensity
    if field.is_polar:
        arrays["range_m"], arrays["bearing_deg"] = field.range_m, field.bearing_deg
    if field.receiver_index is not None:
        arrays["receiver_index"] = np.asarray(field.receiver_index, dtype=np.int64)
    if field.in_water is not None:
        arrays["in_water"] = np.asarray(field.in_water, dtype=bool)
    if field.source_position_m is not None:
        arrays["source_position_m"] = np.array(field.source_position_m, dtype=np.float64)
    if paths is not None:
        arrays["ray_index"] = np.array([p.ray_index for p in paths], dtype=np.int64)
        arrays["ray_point_count"] = np.array([len(p.points) for p in paths], dtype=np.int64)
        arrays["ray_points_m"] = (
            np.concatenate([p.points for p in paths]) if paths else np.empty((0, 3), np.float32)
        )
    if isinstance(result, Mapping) and "arrivals" in result:
        arrays.update((name, values) for name, (_, values, _) in arrival_variables(result, plain).items())
    if plain is not None:
        arrays["config_json"] = np.array(json.dumps(plain))

    def write(temporary: str) -> None:
        with open(temporary, "wb") as stream:
            np.savez_compressed(stream, **arrays)

    _write_atomically(path, write)


def save(path: PathLike, result: Any, config: Optional[Mapping[str, Any]] = None) -> None:
    """Writes the result dict of a run to `path`: netCDF for `*.nc` (needs the xarray extra), NumPy
    for `*.npz`. Pass the run's `config` to keep it with the result (a result `load` read keeps its
    own unless another is given)."""
    if config is None and isinstance(result, LoadedRun):
        config = result.config
    if suffix_of(path) == ".npz":
        _save_npz(path, result, config)
        return
    from abyx_tools.dataset import to_dataset  # needs xarray: imported only for netCDF

    require_netcdf()
    dataset = to_dataset(result, config)
    _write_atomically(path, lambda temporary: dataset.to_netcdf(temporary))
