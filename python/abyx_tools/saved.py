"""A run as it is kept: the `SavedRun` that plots, files and datasets share. `saved_run` makes one from a
result dict, `opened` from a file `save` wrote (netCDF or .npz, chosen by the suffix) or from a dataset
`to_dataset` made.

Reading needs NumPy; a netCDF file needs xarray too, imported when one is read. Writing is
`abyx_tools.files` (files) and `abyx_tools.dataset` (datasets); both start from `saved_run`.
"""

from __future__ import annotations

import json
import os
import zipfile
import zlib
from collections.abc import Mapping
from dataclasses import MISSING, fields
from pathlib import Path
from typing import Any, Dict, List, NamedTuple, Optional, Union

from abyx_tools._extras import require
from abyx_tools.results import FieldArrays, RayPath, ray_paths, to_arrays, with_config
from abyx_tools.runtime import keyed_config, plain_config

np = require("numpy", "abyx_tools.saved")

__all__ = [
    "CONFIG_ATTRIBUTE",
    "NPZ_FIELD",
    "SUFFIXES",
    "SavedRun",
    "complex_pressure",
    "config_of",
    "field_of",
    "is_dataset",
    "load",
    "open_dataset",
    "opened",
    "ray_paths_of",
    "read_npz",
    "saved_run",
    "suffix_of",
]

PathLike = Union[str, "os.PathLike[str]"]

# The file formats, by suffix.
SUFFIXES = (".nc", ".npz")
# The arrays an .npz result always holds: the fields every `FieldArrays` has.
NPZ_FIELD = tuple(f.name for f in fields(FieldArrays) if f.default is MISSING)
# The attribute of a dataset that holds the run's configuration as JSON text.
CONFIG_ATTRIBUTE = "abyx_config"


class SavedRun(NamedTuple):
    """What a result file holds, in the form the plots take."""

    field: FieldArrays  # the field at the receivers
    ray_paths: Optional[List[RayPath]]  # the traced rays, None when the run did not store them
    config: Optional[Dict[str, Any]]  # the run's configuration, None when it was not saved


def is_dataset(data: Any) -> bool:
    """Whether `data` is an xarray Dataset (told without importing xarray)."""
    return hasattr(data, "data_vars") and hasattr(data, "attrs")


def saved_run(result: Any, config: Optional[Mapping[str, Any]] = None) -> SavedRun:
    """A result dict (or its `FieldArrays`) as a `SavedRun`, with the run's `config`, which the field
    then knows (the source, the receivers below the seabed) and which is kept in plain, keyed form."""
    plain = keyed_config(plain_config(config)) if config is not None else None
    field = with_config(result if isinstance(result, FieldArrays) else to_arrays(result, plain), plain)
    paths = ray_paths(result) if isinstance(result, Mapping) and "ray_paths" in result else None
    return SavedRun(field, paths, plain)


def opened(data: Any) -> Any:
    """The `SavedRun` of a file's path or of a dataset; anything else as it is."""
    if isinstance(data, (str, os.PathLike)):
        return load(data)
    if is_dataset(data):
        return _from_dataset(data)
    return data


def _from_dataset(dataset: Any) -> SavedRun:
    return SavedRun(field_of(dataset), ray_paths_of(dataset), config_of(dataset))


def suffix_of(path: PathLike) -> str:
    """The suffix that names the format of a result file, lower-cased; a ValueError for another."""
    suffix = Path(path).suffix.lower()
    if suffix not in SUFFIXES:
        raise ValueError(
            f"cannot tell the format of '{os.fspath(path)}': name it *.nc (netCDF) or *.npz (NumPy)"
        )
    return suffix


def load(path: PathLike) -> SavedRun:
    """Reads a file written by `save` (`*.nc` needs the xarray extra, `*.npz` only NumPy)."""
    if suffix_of(path) == ".npz":
        return _load_npz(path)
    return _from_dataset(open_dataset(path))


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
    missing = [k for k in NPZ_FIELD if k not in data]
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


def complex_pressure(dataset: Any) -> Any:
    """The complex pressure (complex64) of a dataset made by `to_dataset` or read from its file."""
    missing = [name for name in ("pressure_re", "pressure_im") if name not in dataset]
    if missing:
        raise ValueError(f"not an abyx result dataset: no variable(s) {', '.join(missing)}")
    pressure = dataset["pressure_re"] + 1j * dataset["pressure_im"]
    return pressure.astype(np.complex64).assign_attrs(long_name="pressure", units="re 1 m")


def config_of(dataset: Any) -> Optional[Dict[str, Any]]:
    """The configuration stored with a dataset made by `to_dataset`, or None when it has none."""
    text = dataset.attrs.get(CONFIG_ATTRIBUTE)
    return json.loads(text) if text else None


def _frequency_name(dataset: Any) -> str:
    # files written before the coordinate took the result's name call it freq_hz
    return "frequency_hz" if "frequency_hz" in dataset.coords else "freq_hz"


def field_of(dataset: Any) -> FieldArrays:
    """The `FieldArrays` of a dataset made by `to_dataset` (or read back from its file)."""
    missing = [name for name in ("delay_s", "amplitude") if name not in dataset]
    if missing:
        raise ValueError(f"not an abyx result dataset: no variable(s) {', '.join(missing)}")
    frequency = _frequency_name(dataset)

    def per_frequency(variable: Any) -> Any:  # one frequency chosen by .sel leaves a scalar coordinate
        return variable if frequency in variable.dims else variable.expand_dims(frequency)

    def receivers(variable: Any) -> Any:  # a single bearing kept as a scalar coordinate gets its axis back
        if "range_m" in variable.dims and "bearing_deg" not in variable.dims:
            return variable.expand_dims("bearing_deg", axis=variable.dims.index("range_m") + 1)
        return variable

    pressure = receivers(per_frequency(complex_pressure(dataset)))
    is_array = "receiver" in dataset["delay_s"].dims
    polar = "range_m" in dataset["delay_s"].dims
    source = dataset.attrs.get("source_position_m")
    source_position = None
    if source is not None and np.size(source) == 3:
        x, y, z = (float(v) for v in np.ravel(source))
        source_position = (x, y, abs(z))
    return FieldArrays(
        frequency_hz=np.atleast_1d(np.asarray(dataset[frequency].values, dtype=np.float32)),
        pressure=np.asarray(pressure.values, dtype=np.complex64),
        delay_s=np.asarray(receivers(dataset["delay_s"]).values, dtype=np.float32),
        amplitude=np.asarray(receivers(dataset["amplitude"]).values, dtype=np.float32),
        x_m=np.asarray(receivers(dataset["x_m"]).values, dtype=np.float32),
        y_m=np.asarray(receivers(dataset["y_m"]).values, dtype=np.float32),
        z_m=np.asarray(dataset["z_m"].values, dtype=np.float32),
        is_array=is_array,
        source_position_m=source_position,
        intensity=(
            np.asarray(receivers(per_frequency(dataset["intensity"])).values, dtype=np.float32)
            if "intensity" in dataset
            else None
        ),
        in_water=np.asarray(receivers(dataset["in_water"]).values, dtype=bool) if "in_water" in dataset else None,
        range_m=np.asarray(dataset["range_m"].values, dtype=np.float32) if polar else None,
        bearing_deg=np.atleast_1d(np.asarray(dataset["bearing_deg"].values, dtype=np.float32)) if polar else None,
        receiver_index=(np.asarray(receivers(dataset["receiver_index"]).values, dtype=np.intp)
                        if "receiver_index" in dataset else None),
    )


def ray_paths_of(dataset: Any) -> Optional[List[RayPath]]:
    """The ray paths stored in a dataset made by `to_dataset`, or None when it holds none."""
    if "ray_point_count" not in dataset:
        return None
    counts = np.asarray(dataset["ray_point_count"].values, dtype=np.int64)
    indices = np.asarray(dataset["ray_index"].values, dtype=np.int64)
    points = np.stack(
        [
            np.asarray(dataset[name].values, dtype=np.float32)
            for name in ("ray_x_m", "ray_y_m", "ray_z_m")
        ],
        axis=1,
    )
    if counts.sum() != len(points):
        raise ValueError(
            f"ray paths: the point counts add up to {counts.sum()}, "
            f"but {len(points)} points are stored"
        )
    starts = np.concatenate([[0], np.cumsum(counts)[:-1]]).astype(np.int64)
    return [
        RayPath(int(index), points[start : start + count])
        for index, start, count in zip(indices, starts, counts)
    ]
