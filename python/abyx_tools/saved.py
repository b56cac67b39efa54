"""A run as it is kept: the `SavedRun` that plots, files and datasets share. `saved_run` makes one from a
result dict, `opened` from a file `save` wrote (netCDF or .npz, chosen by the suffix) or from a dataset
`to_dataset` made.

Reading needs NumPy; a netCDF file needs xarray too, imported when one is read. Writing is
`abyx_tools.files` (files) and `abyx_tools.dataset` (datasets); both start from `saved_run`.
"""

from __future__ import annotations

import json
import math
import os
import zipfile
import zlib
from collections.abc import Mapping
from dataclasses import MISSING, fields
from pathlib import Path
from typing import Any, Dict, List, NamedTuple, Optional, Tuple, Union

from abyx_tools._extras import require
from abyx_tools._nesting import CONFIG_DEPTH_LIMIT, nested_deeper_than
from abyx_tools.results import FieldArrays, RayPath, ray_paths, to_arrays, with_config
from abyx_tools.runtime import keyed_config, plain_config

np = require("numpy", "abyx_tools.saved")

__all__ = [
    "CONFIG_ATTRIBUTE",
    "NPZ_FIELD",
    "SUFFIXES",
    "LoadedRun",
    "SavedRun",
    "complex_pressure",
    "config_of",
    "field_of",
    "is_dataset",
    "load",
    "open_dataset",
    "opened",
    "parsed_config",
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
# The arrays an .npz result may hold besides its arrival_<name> lists.
NPZ_NAMES = (*NPZ_FIELD, "intensity", "in_water", "range_m", "bearing_deg", "receiver_index", "source_position_m",
             "ray_index", "ray_point_count", "ray_points_m", "config_json")
# The per-arrival lists of result["arrivals"], which a file keeps as arrival_<name>.
ARRIVAL_LISTS = ("receiver", "delay_s", "launch_elev_deg", "launch_azim_deg", "arrival_elev_deg", "arrival_azim_deg",
                 "n_surface", "n_bottom", "ray_index")
# lists that files written before they existed lack: read as NaN
ARRIVAL_ANGLES = ("arrival_elev_deg", "arrival_azim_deg")
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
    """The `SavedRun` of a file's path, of what `load` read or of a dataset; anything else as it is."""
    if isinstance(data, (str, os.PathLike)):
        return load(data).saved
    if isinstance(data, LoadedRun):
        return data.saved
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


class LoadedRun(Dict[str, Any]):
    """A result file read back by `load`: the result dict `save` took, as `run_simulation` returns
    it but with NumPy arrays for its lists ("pressure_field"; "ray_paths" and "arrivals" where the
    file holds them), so that `to_arrays`, `arrivals`, `impulse_response` and the plots take it as they
    take the run's result. The run's configuration is `config` (None when none was saved), the field
    as arrays that know it is `field` and the rays are `ray_paths`, as in a `SavedRun`."""

    def __init__(self, saved: SavedRun, arrivals: Optional[Dict[str, Any]]) -> None:
        super().__init__(pressure_field=_pressure_field_of(saved.field))
        if saved.ray_paths is not None:
            self["ray_paths"] = [path.points for path in saved.ray_paths]
        if arrivals is not None:
            self["arrivals"] = arrivals
        self.saved = saved

    @property
    def field(self) -> FieldArrays:
        return self.saved.field

    @property
    def ray_paths(self) -> Optional[List[RayPath]]:
        return self.saved.ray_paths

    @property
    def config(self) -> Optional[Dict[str, Any]]:
        return self.saved.config


def _pressure_field_of(field: FieldArrays) -> Dict[str, Any]:
    """The "pressure_field" dict of a run, flat in row-major order, from its arrays: receivers the
    run listed as points (shaped range x bearing x depth since) listed again in the run's order."""
    nf = field.frequency_hz.size
    listed = field.is_polar and field.receiver_index is not None
    order = np.ravel(field.receiver_index) if listed else None

    def in_run_order(values: Any, per_frequency: bool = False) -> Any:
        flat_values = np.asarray(values).reshape(nf, -1) if per_frequency else np.ravel(values)
        if order is None:
            return flat_values.reshape(-1)
        placed = np.empty_like(flat_values)
        placed[..., order] = flat_values
        return placed.reshape(-1)

    receivers = field.delay_s.shape if not (field.is_array or listed) else (field.delay_s.size, 1, 1)
    pressure = in_run_order(field.pressure, per_frequency=True)
    flat: Dict[str, Any] = {
        "frequency_hz": field.frequency_hz,
        "shape": (nf, *receivers),
        "pressure_re": pressure.real.copy(),
        "pressure_im": pressure.imag.copy(),
        "delay_s": in_run_order(field.delay_s),
        "amplitude": in_run_order(field.amplitude),
    }
    if field.is_array or listed:
        flat["receiver_positions_m"] = np.column_stack(field.positions_m())
    elif field.is_polar:
        flat.update(range_m=field.range_m, bearing_deg=field.bearing_deg, z_m=field.z_m)
    else:
        flat.update(x_m=field.x_m, y_m=field.y_m, z_m=field.z_m)
    if field.intensity is not None:
        flat["intensity"] = in_run_order(field.intensity, per_frequency=True)
    return flat


def _arrival_lists(stored: Mapping[str, Any], count: int) -> Optional[Dict[str, Any]]:
    """result["arrivals"] from the arrival variables of a file, None when it holds none."""
    if "arrival_delay_s" not in stored:
        return None
    lists = {
        name: np.ravel(getattr(stored[f"arrival_{name}"], "values", stored[f"arrival_{name}"]))
        for name in ARRIVAL_LISTS
        if f"arrival_{name}" in stored
    }
    for name in ARRIVAL_ANGLES:
        lists.setdefault(name, np.full(lists["delay_s"].shape, np.nan))
    for part in ("re", "im"):
        values = stored[f"arrival_amplitude_{part}"]
        lists[f"amplitude_{part}"] = np.ravel(getattr(values, "values", values))[: count * lists["delay_s"].size]
    return lists


def load(path: PathLike) -> LoadedRun:
    """Reads a file written by `save` (`*.nc` needs the xarray extra, `*.npz` only NumPy) as the
    result dict it was written from, with its configuration (see `LoadedRun`). A file that is no
    abyx result, or one whose arrays do not fit together, is a ValueError saying what is wrong."""
    if suffix_of(path) == ".npz":
        data = read_npz(path)
        saved = _saved_npz(path, data)
        return LoadedRun(saved, _arrival_lists(data, saved.field.frequency_hz.size))
    dataset = open_dataset(path)
    saved = _from_dataset(dataset)
    return LoadedRun(saved, _arrival_lists(dataset, saved.field.frequency_hz.size))


def open_dataset(path: PathLike) -> Any:
    """Reads a netCDF file written by `save` (or by `to_dataset(...).to_netcdf`) into memory as
    an `xarray.Dataset`; `complex_pressure` gives its complex pressure. Its variables' dimensions,
    its configuration and its size are checked before its values are read."""
    xr = require("xarray", "abyx_tools.files.open_dataset")
    refusal = f"'{os.fspath(path)}' is not an abyx result"
    try:
        with xr.open_dataset(path) as stored:
            problem = _dataset_problem(stored)
            if problem:
                raise _NotAResult(problem)
            dataset = stored.load()
            if "receiver_index" in dataset:
                problem = _receiver_order_problem(dataset["receiver_index"].values)
                if problem:
                    raise _NotAResult(problem)
    except _NotAResult as error:
        raise ValueError(f"{refusal}: {error}") from None
    except (ValueError, RecursionError) as error:  # no installed backend reads it
        raise ValueError(f"{refusal}: it cannot be read as a netCDF file") from error
    return dataset


class _NotAResult(Exception):
    """What is wrong with a result file, found before its values are read."""


def read_npz(path: PathLike) -> Dict[str, Any]:
    """The arrays of an .npz file by name. A file that is no .npz archive, one that holds Python
    objects (which only unpickling would read), or one whose arrays do not fit together as a result
    (their shapes and sizes are checked from the headers before any is read) is a ValueError saying
    it is not an abyx result."""
    refusal = f"'{os.fspath(path)}' is not an abyx result"
    # opened here, so that it is closed however np.load fails
    with open(path, "rb") as stream:
        try:
            headers = _npz_headers(stream)
            problem = _npz_problem(headers)
            if problem:
                raise _NotAResult(problem)
            stream.seek(0)
            stored = np.load(stream, allow_pickle=False)
            arrays = {name: stored[name] for name in headers}
        except _NotAResult as error:
            raise ValueError(f"{refusal}: {error}") from None
        except (ValueError, EOFError, OSError, zipfile.BadZipFile, zlib.error, NotImplementedError) as error:
            raise ValueError(f"{refusal}: it cannot be read as a NumPy .npz file") from error
    problem = _npz_values_problem(arrays)
    if problem:
        raise ValueError(f"{refusal}: {problem}")
    return arrays


def _npz_headers(stream: Any) -> Dict[str, Tuple[Tuple[int, ...], Any]]:
    """The shape and dtype of each array of an .npz archive that a result may hold, read from the .npy
    headers alone (other members are left unread); an archive whose arrays claim more bytes than
    their members hold, or more than the memory available, is refused."""
    formats = np.lib.format
    headers: Dict[str, Tuple[Tuple[int, ...], Any]] = {}
    total = 0
    with zipfile.ZipFile(stream) as archive:
        for info in archive.infolist():
            name = info.filename[:-4] if info.filename.endswith(".npy") else info.filename
            if name not in NPZ_NAMES and not name.startswith("arrival_"):
                continue  # no result holds it: left unread
            with archive.open(info) as member:
                version = formats.read_magic(member)
                if version not in ((1, 0), (2, 0)):
                    raise _NotAResult(f"{info.filename} is a .npy file of version {version}")
                reader = formats.read_array_header_1_0 if version == (1, 0) else formats.read_array_header_2_0
                shape, _, dtype = reader(member)
                start = member.tell()
            if dtype.hasobject:
                raise _NotAResult(f"{name} holds Python objects")
            claimed = math.prod(shape) * dtype.itemsize
            if claimed != info.file_size - start:
                raise _NotAResult(f"{name} claims {claimed} bytes of values but holds {info.file_size - start}")
            headers[name] = (tuple(shape), dtype)
            total += claimed
    available = available_memory_bytes()
    if available is not None and total > available:
        raise _NotAResult(f"its arrays take {total} bytes, more than the {available} bytes of memory available")
    return headers


def _npz_problem(headers: Mapping[str, Tuple[Tuple[int, ...], Any]]) -> Optional[str]:
    """What makes the arrays an .npz archive declares unfit for a result, or None."""
    missing = [k for k in NPZ_FIELD if k not in headers]
    if missing:
        return f"no {', '.join(missing)}"
    shapes = {name: shape for name, (shape, _) in headers.items()}
    for name, (_, dtype) in headers.items():
        if dtype.kind not in ("U" if name == "config_json" else "biufc"):
            return f"{name} holds values of type {dtype}"
    if len(shapes["frequency_hz"]) != 1:
        return f"frequency_hz is shaped {shapes['frequency_hz']}, not a list"
    nf = shapes["frequency_hz"][0]
    axes = ("range_m", "bearing_deg", "z_m") if "range_m" in shapes else ("x_m", "y_m", "z_m")
    if any(len(shapes.get(axis, ())) != 1 for axis in axes):
        return f"its receiver axes {', '.join(axes)} are not all lists"
    # receiver points (pressure by frequency and receiver) have one x, y and z each; a grid three axes
    receivers = shapes["x_m"] if len(shapes["pressure"]) == 2 else tuple(shapes[axis][0] for axis in axes)
    if shapes.get("is_array", ()) != ():
        return "is_array is not one value"
    expected = {"source_position_m": (3,), "config_json": ()}
    if len(receivers) == 1:
        expected["y_m"] = expected["z_m"] = receivers
    for name in ("pressure", "intensity"):
        expected[name] = (nf, *receivers)
    for name in ("delay_s", "amplitude", "in_water", "receiver_index"):
        expected[name] = receivers
    if "range_m" in shapes:
        expected["x_m"] = expected["y_m"] = receivers[:2]
    # lists along the rays, the ray points and the arrivals: as long as the first of each
    rays, points = ((shapes.get(name) or (0,))[:1] for name in ("ray_index", "ray_points_m"))
    expected.update(ray_index=rays, ray_point_count=rays, ray_points_m=(*points, 3))
    arrivals = (shapes.get("arrival_delay_s") or (0,))[:1]
    expected.update({f"arrival_{name}": arrivals for name in (*ARRIVAL_LISTS, "x_m", "y_m", "z_m")})
    expected.update(arrival_amplitude_re=(nf, *arrivals), arrival_amplitude_im=(nf, *arrivals))
    for name, shape in expected.items():
        if name in shapes and shapes[name] != shape:
            return f"{name} is shaped {shapes[name]}, not {shape}"
    return None


def _npz_values_problem(arrays: Mapping[str, Any]) -> Optional[str]:
    """What the values of an .npz result (read, their shapes checked) leave wrong, or None."""
    if bool(arrays["is_array"]) != (arrays["pressure"].ndim == 2):
        return f"is_array is {bool(arrays['is_array'])}, but pressure is shaped {arrays['pressure'].shape}"
    if "ray_point_count" in arrays:
        problem = _ray_count_problem(arrays["ray_point_count"], len(arrays["ray_points_m"]))
        if problem:
            return problem
    if "receiver_index" in arrays and _receiver_order_problem(arrays["receiver_index"]):
        return _receiver_order_problem(arrays["receiver_index"])
    if "config_json" in arrays:
        try:
            parsed_config(str(arrays["config_json"]))
        except ValueError as error:
            return str(error)
    return None


def _ray_count_problem(counts: Any, stored: int) -> Optional[str]:
    counts = np.asarray(counts)
    if counts.size and counts.min() < 0:
        return f"ray_point_count holds a negative count, {counts.min()}"
    total = int(counts.sum(dtype=np.float64)) if counts.size else 0
    if total != stored:
        return f"the ray point counts add up to {total}, but {stored} points are stored"
    return None


def _dataset_problem(dataset: Any) -> Optional[str]:
    """What makes a netCDF dataset (opened, not yet read) unfit for a result, or None."""
    missing = [name for name in ("pressure_re", "pressure_im", "delay_s", "amplitude") if name not in dataset]
    if missing:
        return f"it has no {'/'.join(missing)}"
    receivers = tuple(dataset["delay_s"].dims)
    polar_plane = ("range_m", "bearing_deg")
    coordinates: Dict[Tuple[str, ...], Dict[str, Tuple[str, ...]]] = {
        ("receiver",): {"x_m": ("receiver",), "y_m": ("receiver",), "z_m": ("receiver",)},
        ("x_m", "y_m", "z_m"): {"x_m": ("x_m",), "y_m": ("y_m",), "z_m": ("z_m",)},
        (*polar_plane, "z_m"): {"x_m": polar_plane, "y_m": polar_plane, "z_m": ("z_m",)},
        ("range_m", "z_m"): {"x_m": ("range_m",), "y_m": ("range_m",), "z_m": ("z_m",)},  # along one bearing
    }
    if receivers not in coordinates:
        return f"delay_s lies along {receivers}, which are no receiver dimensions"
    frequency = _frequency_name(dataset)
    per_frequency = (frequency, *receivers) if frequency in dataset.dims else receivers
    expected = dict(coordinates[receivers])
    expected.update(pressure_re=per_frequency, pressure_im=per_frequency, intensity=per_frequency, amplitude=receivers,
                    in_water=receivers, receiver_index=receivers, ray_index=("ray",), ray_point_count=("ray",))
    expected.update({f"ray_{axis}": ("ray_point",) for axis in ("x_m", "y_m", "z_m")})
    expected.update({f"arrival_{name}": ("arrival",) for name in (*ARRIVAL_LISTS, "x_m", "y_m", "z_m")})
    arrival_amplitude = (frequency, "arrival") if frequency in dataset.dims else ("arrival",)
    expected.update(arrival_amplitude_re=arrival_amplitude, arrival_amplitude_im=arrival_amplitude)
    for name, dims in expected.items():
        if name in dataset.variables and tuple(dataset[name].dims) != dims:
            return f"{name} lies along {tuple(dataset[name].dims)}, not {dims}"
    source = dataset.attrs.get("source_position_m")
    if source is not None and np.size(source) != 3:
        return f"source_position_m holds {np.size(source)} values, not 3"
    available = available_memory_bytes()
    if available is not None and dataset.nbytes > available:
        return f"its variables take {dataset.nbytes} bytes, more than the {available} bytes of memory available"
    if "ray_point_count" in dataset:
        problem = _ray_count_problem(dataset["ray_point_count"].values, dataset.sizes.get("ray_point", 0))
        if problem:
            return problem
    try:
        config_of(dataset)
    except ValueError as error:
        return str(error)
    return None


def available_memory_bytes() -> Optional[int]:
    """The memory the system can still give (Linux's MemAvailable, else the free pages), or None
    where neither is known."""
    try:
        with open("/proc/meminfo", encoding="ascii") as stream:
            for line in stream:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    try:
        return os.sysconf("SC_AVPHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (ValueError, OSError, AttributeError):
        return None


def parsed_config(text: str) -> Dict[str, Any]:
    """The configuration kept in a file as JSON text; a ValueError saying what is wrong with it."""
    try:
        config = json.loads(text)
    except RecursionError:
        config = None
    except ValueError as error:
        raise ValueError(f"its configuration is not JSON text: {error}") from None
    if config is None or nested_deeper_than(config, CONFIG_DEPTH_LIMIT):
        raise ValueError(f"its configuration nests more than {CONFIG_DEPTH_LIMIT} deep")
    if not isinstance(config, dict):
        raise ValueError(f"its configuration is a JSON {type(config).__name__}, not an object")
    problem = _config_problem(keyed_config(config))
    if problem:
        raise ValueError(f"its configuration's {problem}")
    return config


def _config_problem(config: Mapping[str, Any]) -> Optional[str]:
    """What makes the bathymetry or the source of a kept configuration unfit to draw, or None."""
    bathymetry, source = config.get("bathymetry"), config.get("source")
    if bathymetry is not None:
        x, y, z = (_finite_list(bathymetry, key) for key in ("x_bty_m", "y_bty_m", "z_bty_m"))
        if x is None or y is None or z is None or not x.size or not y.size or z.size != x.size * y.size:
            return "bathymetry is no grid of finite numbers: x_bty_m, y_bty_m and their nx x ny z_bty_m"
    if source is not None:
        position = _finite_list(source, "position")
        if position is None or position.size != 3:
            return "source position is not three finite numbers"
    return None


def _finite_list(section: Any, key: str) -> Any:
    """section[key] as a list of finite numbers, or None."""
    try:
        values = np.asarray(section[key], dtype=np.float64)
    except (KeyError, TypeError, ValueError, IndexError):
        return None
    return values if values.ndim == 1 and np.isfinite(values).all() else None


def _saved_npz(path: PathLike, data: Mapping[str, Any]) -> SavedRun:
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
        receiver_index=_receiver_order(data["receiver_index"]) if "receiver_index" in data else None,
    )
    paths = None
    if "ray_point_count" in data:
        ends = np.cumsum(data["ray_point_count"])
        starts = ends - data["ray_point_count"]
        paths = [
            RayPath(int(index), data["ray_points_m"][start:end])
            for index, start, end in zip(data["ray_index"], starts, ends)
        ]
    config = parsed_config(str(data["config_json"])) if "config_json" in data else None
    return SavedRun(field, paths, config)


def complex_pressure(dataset: Any) -> Any:
    """The complex pressure (complex64) of a dataset made by `to_dataset` or read from its file."""
    missing = [name for name in ("pressure_re", "pressure_im") if name not in dataset]
    if missing:
        raise ValueError(f"not an abyx result dataset: no variable(s) {', '.join(missing)}")
    pressure = dataset["pressure_re"] + 1j * dataset["pressure_im"]
    return pressure.astype(np.complex64).assign_attrs(long_name="pressure", units="re 1 m")


def config_of(dataset: Any) -> Optional[Dict[str, Any]]:
    """The configuration stored with a dataset made by `to_dataset`, or None when it has none; a
    ValueError when it is no JSON object (or one nested absurdly deep)."""
    text = dataset.attrs.get(CONFIG_ATTRIBUTE)
    return parsed_config(str(text)) if text else None


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
        receiver_index=(_receiver_order(receivers(dataset["receiver_index"]).values)
                        if "receiver_index" in dataset else None),
    )


def _receiver_order(index: Any) -> Any:
    """A stored receiver_index (checked by _receiver_order_problem) as the run's index of each receiver."""
    return np.asarray(index).astype(np.intp)


def _receiver_order_problem(index: Any) -> Optional[str]:
    order = np.asarray(index)
    if order.dtype.kind not in "iu" or not np.array_equal(np.sort(order, axis=None), np.arange(order.size)):
        return "its receiver_index does not list every receiver once"
    return None


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
    problem = _ray_count_problem(counts, len(points))
    if problem:
        raise ValueError(f"ray paths: {problem}")
    starts = np.concatenate([[0], np.cumsum(counts)[:-1]]).astype(np.int64)
    return [
        RayPath(int(index), points[start : start + count])
        for index, start, count in zip(indices, starts, counts)
    ]
