"""Results on disk: netCDF (through xarray) or NumPy's .npz (NumPy only), chosen by the file suffix.

netCDF has no complex numbers, so the file holds the pressure as `pressure_re` and `pressure_im`;
`open_dataset` joins them again. Both formats keep the field, the ray paths when the run stored
them, and the configuration. A file is written under a temporary name next to its destination and
moved into place when complete, so a failed write never leaves a partial file or spoils an older
one.
"""

from __future__ import annotations

import json
import os
import tempfile
import zipfile
import zlib
from collections.abc import Mapping
from pathlib import Path
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Union

from abyx_tools._extras import missing_extra_message, require
from abyx_tools.results import FieldArrays, RayPath, ray_paths, to_arrays, with_config

np = require("numpy", "abyx_tools.files")

__all__ = ["SUFFIXES", "SavedRun", "load", "open_dataset", "read_npz", "require_netcdf", "save"]

PathLike = Union[str, "os.PathLike[str]"]

# The file formats, by suffix.
SUFFIXES = (".nc", ".npz")
# The arrays an .npz result always holds.
_NPZ_FIELD = ("frequency_hz", "pressure", "delay_s", "amplitude", "x_m", "y_m", "z_m", "is_array")


class SavedRun(NamedTuple):
    """What a result file holds, in the form the plots take."""

    field: FieldArrays  # the field at the receivers
    ray_paths: Optional[List[RayPath]]  # the traced rays, None when the run did not store them
    config: Optional[Dict[str, Any]]  # the run's configuration, None when it was not saved


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


def _suffix(path: PathLike) -> str:
    suffix = Path(path).suffix.lower()
    if suffix not in SUFFIXES:
        raise ValueError(
            f"cannot tell the format of '{os.fspath(path)}': name it *.nc (netCDF) or *.npz (NumPy)"
        )
    return suffix


def _umask() -> int:
    """The process's file-creation mask (temporary files are created private; results are not)."""
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _write_atomically(path: PathLike, write: Callable[[str], None]) -> None:
    """Calls write(temporary path) and moves the file to `path` only when it returned; a link is
    followed, so that the file it names is replaced rather than the link."""
    target = Path(os.path.realpath(path))
    handle, temporary = tempfile.mkstemp(
        dir=target.parent if str(target.parent) else ".", prefix=f".{target.name}.", suffix=".tmp"
    )
    os.close(handle)
    try:
        write(temporary)
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def _save_npz(path: PathLike, result: Any, config: Optional[Mapping[str, Any]]) -> None:
    from abyx_tools.runtime import keyed_config, plain_config

    plain = keyed_config(plain_config(config)) if config is not None else None
    field = with_config(result if isinstance(result, FieldArrays) else to_arrays(result, plain), plain)
    arrays: Dict[str, Any] = {
        "frequency_hz": field.frequency_hz,
        "pressure": field.pressure,
        "delay_s": field.delay_s,
        "amplitude": field.amplitude,
        "x_m": field.x_m,
        "y_m": field.y_m,
        "z_m": field.z_m,
        "is_array": np.array(field.is_array),
    }
    if field.intensity is not None:
        arrays["intensity"] = field.intensity
    if field.is_polar:
        arrays["range_m"], arrays["bearing_deg"] = field.range_m, field.bearing_deg
    if field.in_water is not None:
        arrays["in_water"] = np.asarray(field.in_water, dtype=bool)
    if field.source_position_m is not None:
        arrays["source_position_m"] = np.array(field.source_position_m, dtype=np.float64)
    if isinstance(result, Mapping) and "ray_paths" in result:
        paths = ray_paths(result)
        arrays["ray_index"] = np.array([p.ray_index for p in paths], dtype=np.int64)
        arrays["ray_point_count"] = np.array([len(p.points) for p in paths], dtype=np.int64)
        arrays["ray_points_m"] = (
            np.concatenate([p.points for p in paths]) if paths else np.empty((0, 3), np.float32)
        )
    if isinstance(result, Mapping) and "arrivals" in result:
        from abyx_tools.arrival_tables import arrival_variables

        arrays.update((name, values) for name, (_, values, _) in arrival_variables(result, plain).items())
    if plain is not None:
        arrays["config_json"] = np.array(json.dumps(plain))

    def write(temporary: str) -> None:
        with open(temporary, "wb") as stream:
            np.savez_compressed(stream, **arrays)

    _write_atomically(path, write)


def save(path: PathLike, result: Any, config: Optional[Mapping[str, Any]] = None) -> None:
    """Writes the result dict of a run to `path`: netCDF for `*.nc` (needs the xarray extra), NumPy
    for `*.npz`. Pass the run's `config` to keep it with the result."""
    if _suffix(path) == ".npz":
        _save_npz(path, result, config)
        return
    from abyx_tools.dataset import to_dataset

    require_netcdf()
    dataset = to_dataset(result, config)
    _write_atomically(path, lambda temporary: dataset.to_netcdf(temporary))


def open_dataset(path: PathLike) -> Any:
    """Reads a netCDF file written by `save` (or by `to_dataset(...).to_netcdf`) into memory as
    an `xarray.Dataset`; `complex_pressure` gives its complex pressure."""
    xr = require("xarray", "abyx_tools.files.open_dataset")
    try:
        with xr.open_dataset(path) as stored:
            dataset = stored.load()
    except ValueError as error:  # no installed backend reads it
        raise ValueError(f"'{os.fspath(path)}' is not an abyx result: it cannot be read as a netCDF file") from error
    if "pressure_re" not in dataset or "pressure_im" not in dataset:
        raise ValueError(
            f"'{os.fspath(path)}' is not an abyx result: it has no pressure_re/pressure_im"
        )
    return dataset


def read_npz(path: PathLike) -> Dict[str, Any]:
    """The arrays of an .npz file by name. A file that is no .npz archive, or one that holds Python
    objects (which only unpickling would read), is a ValueError saying it is not an abyx result."""
    refusal = f"'{os.fspath(path)}' is not an abyx result: it cannot be read as a NumPy .npz file"
    # opened here, so that it is closed however np.load fails
    with open(path, "rb") as stream:
        try:
            stored = np.load(stream, allow_pickle=False)
            arrays = {name: stored[name] for name in stored.files} if hasattr(stored, "files") else None
        except (ValueError, EOFError, zipfile.BadZipFile, zlib.error) as error:
            raise ValueError(refusal) from error
    if arrays is None:  # a lone .npy array
        raise ValueError(refusal)
    return arrays


def _load_npz(path: PathLike) -> SavedRun:
    data = read_npz(path)
    missing = [k for k in _NPZ_FIELD if k not in data]
    if missing:
        raise ValueError(f"'{os.fspath(path)}' is not an abyx result: no {', '.join(missing)}")
    source = data.get("source_position_m")
    field = FieldArrays(
        frequency_hz=data["frequency_hz"],
        pressure=data["pressure"],
        delay_s=data["delay_s"],
        amplitude=data["amplitude"],
        x_m=data["x_m"],
        y_m=data["y_m"],
        z_m=data["z_m"],
        is_array=bool(data["is_array"]),
        source_position_m=None
        if source is None
        else (float(source[0]), float(source[1]), float(source[2])),
        intensity=data.get("intensity"),
        in_water=data.get("in_water"),
        range_m=data.get("range_m"),
        bearing_deg=data.get("bearing_deg"),
    )
    paths = None
    if "ray_point_count" in data:
        ends = np.cumsum(data["ray_point_count"])
        starts = ends - data["ray_point_count"]
        paths = [
            RayPath(int(index), data["ray_points_m"][start:end])
            for index, start, end in zip(data["ray_index"], starts, ends)
        ]
    config = json.loads(str(data["config_json"])) if "config_json" in data else None
    return SavedRun(field, paths, config)


def load(path: PathLike) -> SavedRun:
    """Reads a file written by `save` (`*.nc` needs the xarray extra, `*.npz` only NumPy)."""
    if _suffix(path) == ".npz":
        return _load_npz(path)
    from abyx_tools.dataset import config_of, field_of, ray_paths_of

    dataset = open_dataset(path)
    return SavedRun(field_of(dataset), ray_paths_of(dataset), config_of(dataset))
