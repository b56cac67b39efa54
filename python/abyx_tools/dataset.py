"""The result of a run as an `xarray.Dataset`, and back.

Layout of the dataset:

* coordinates `frequency_hz`; in grid mode the axes `x_m`, `y_m`, `z_m` as dimensions; in array mode a
  `receiver` dimension (0 .. n-1) with `x_m`, `y_m`, `z_m` as coordinate variables along it; in polar
  mode the axes `range_m`, `bearing_deg`, `z_m` as dimensions, with `x_m`, `y_m` along (`range_m`,
  `bearing_deg`);
* variables `pressure_re`, `pressure_im` (float32; `complex_pressure` gives the complex view) and
  `transmission_loss_db` (frequency_hz + receiver dimensions), `delay_s` and `amplitude` (receiver
  dimensions), and with the incoherent intensity `intensity` and `incoherent_transmission_loss_db`
  (the names of the result dict and of `FieldArrays`); each with a short `long_name`
  and its `units`, so that `Dataset.to_netcdf` writes it as it is;
* with arrivals (`beam.arrivals`), variables `arrival_delay_s`, `arrival_receiver`, its position
  `arrival_x_m`, `arrival_y_m`, `arrival_z_m`, the central ray's `arrival_launch_elev_deg`,
  `arrival_launch_azim_deg` and `arrival_ray_index`, `arrival_n_surface`, `arrival_n_bottom` along an
  `arrival` dimension, and `arrival_amplitude_re`, `arrival_amplitude_im` along (`frequency_hz`,
  `arrival`); `abyx_tools.arrival_tables` reads them back;
* with stored ray paths, a contiguous ragged array: `ray_point_count` and `ray_index` along `ray`,
  `ray_x_m`, `ray_y_m`, `ray_z_m` along `ray_point`, the points of ray r following those of ray r-1;
* attributes: the source (`source_position_m`, launch angles), the environment (grid sizes, bottom
  model and its parameters, water density), the receiver layout, and `abyx_config`, the whole
  configuration as JSON text, from which `config_of` gives it back.
"""

from __future__ import annotations

import json
from collections.abc import Mapping
from typing import Any, Dict, List, Optional

from abyx_tools._extras import require
from abyx_tools.results import FieldArrays, RayPath, ray_paths, to_arrays, with_config

np = require("numpy", "abyx_tools.dataset")
xr = require("xarray", "abyx_tools.dataset")

__all__ = ["CONFIG_ATTRIBUTE", "complex_pressure", "config_of", "field_of", "ray_paths_of", "to_dataset"]

# The attribute that holds the run's configuration as JSON text.
CONFIG_ATTRIBUTE = "abyx_config"

_RECEIVER_DIMS = {"grid": ("x_m", "y_m", "z_m"), "array": ("receiver",), "polar": ("range_m", "bearing_deg", "z_m")}


def _layout(field: FieldArrays) -> str:
    return "array" if field.is_array else "polar" if field.is_polar else "grid"


def _field_variables(field: FieldArrays) -> Dict[str, Any]:
    # Pressure is held as two real variables, so that the plain Dataset.to_netcdf writes it;
    # complex_pressure gives the complex view.
    dims = _RECEIVER_DIMS[_layout(field)]
    per_frequency = ("frequency_hz",) + dims
    variables = {
        "pressure_re": (
            per_frequency,
            np.ascontiguousarray(field.pressure.real, dtype=np.float32),
            {"long_name": "pressure, real part", "units": "re 1 m"},
        ),
        "pressure_im": (
            per_frequency,
            np.ascontiguousarray(field.pressure.imag, dtype=np.float32),
            {"long_name": "pressure, imaginary part", "units": "re 1 m"},
        ),
        "transmission_loss_db": (
            per_frequency,
            field.transmission_loss_db,
            {"long_name": "transmission loss", "units": "dB re 1 m"},
        ),
        "delay_s": (dims, field.delay_s, {"long_name": "earliest arrival", "units": "s"}),
        "amplitude": (dims, field.amplitude, {"long_name": "earliest arrival amplitude"}),
    }
    if field.in_water is not None:
        variables["in_water"] = (
            dims,
            np.asarray(field.in_water, dtype=np.int8),
            {"long_name": "receiver in the water (1) or below the seabed (0)"},
        )
    if field.intensity is not None:
        variables["intensity"] = (
            per_frequency,
            field.intensity,
            {"long_name": "incoherent intensity", "units": "re 1 m"},
        )
        variables["incoherent_transmission_loss_db"] = (
            per_frequency,
            field.incoherent_transmission_loss_db,
            {"long_name": "incoherent transmission loss", "units": "dB re 1 m"},
        )
    return variables


def complex_pressure(dataset: Any) -> Any:
    """The complex pressure (complex64) of a dataset made by `to_dataset` or read from its file."""
    missing = [name for name in ("pressure_re", "pressure_im") if name not in dataset]
    if missing:
        raise ValueError(f"not an abyx result dataset: no variable(s) {', '.join(missing)}")
    pressure = dataset["pressure_re"] + 1j * dataset["pressure_im"]
    return pressure.astype(np.complex64).assign_attrs(long_name="pressure", units="re 1 m")


def _coordinates(field: FieldArrays) -> Dict[str, Any]:
    metres = {"units": "m"}
    depth = {"units": "m", "positive": "down"}
    coords: Dict[str, Any] = {"frequency_hz": ("frequency_hz", field.frequency_hz, {"units": "Hz"})}
    if field.is_array:
        coords["receiver"] = ("receiver", np.arange(field.x_m.size, dtype=np.int32))
        coords["x_m"] = ("receiver", field.x_m, metres)
        coords["y_m"] = ("receiver", field.y_m, metres)
        coords["z_m"] = ("receiver", field.z_m, depth)
    elif field.is_polar:
        coords["range_m"] = ("range_m", field.range_m, metres)
        coords["bearing_deg"] = ("bearing_deg", field.bearing_deg, {"units": "degree"})
        coords["z_m"] = ("z_m", field.z_m, depth)
        coords["x_m"] = (("range_m", "bearing_deg"), field.x_m, metres)
        coords["y_m"] = (("range_m", "bearing_deg"), field.y_m, metres)
    else:
        coords["x_m"] = ("x_m", field.x_m, metres)
        coords["y_m"] = ("y_m", field.y_m, metres)
        coords["z_m"] = ("z_m", field.z_m, depth)
    return coords


def _ray_variables(paths: List[RayPath]) -> Dict[str, Any]:
    points = (
        np.concatenate([path.points for path in paths])
        if paths
        else np.empty((0, 3), dtype=np.float32)
    )
    counts = np.array([len(path.points) for path in paths], dtype=np.int32)
    return {
        "ray_index": ("ray", np.array([path.ray_index for path in paths], dtype=np.int32)),
        "ray_point_count": ("ray", counts, {"sample_dimension": "ray_point"}),
        "ray_x_m": ("ray_point", points[:, 0], {"units": "m"}),
        "ray_y_m": ("ray_point", points[:, 1], {"units": "m"}),
        "ray_z_m": ("ray_point", points[:, 2], {"units": "m", "positive": "down"}),
    }


def _attributes(config: Mapping[str, Any]) -> Dict[str, Any]:
    """The source, the environment and the receiver layout of `config` as netCDF-storable
    attributes (strings, numbers and non-empty number arrays); values of another kind (other keys
    of the bottom_model may hold anything) are left to the whole configuration in `abyx_config`."""
    attrs: Dict[str, Any] = {}

    def put(name: str, value: Any) -> None:
        if isinstance(value, (list, tuple)):
            try:
                numbers = np.asarray(value, dtype=np.float64)
            except (TypeError, ValueError):  # text, or lists of unequal lengths
                return
            if numbers.ndim == 1 and numbers.size:
                attrs[name] = numbers
        elif isinstance(value, (int, float)) and not isinstance(value, bool):
            attrs[name] = float(value)
        elif isinstance(value, str):
            attrs[name] = value

    source = config.get("source", {})
    put("source_position_m", list(source.get("position", [])))
    put("source_launch_elev_deg", list(source.get("launch_elev_deg", [])))
    put("source_launch_azim_deg", list(source.get("launch_azim_deg", [])))
    ssp = config.get("ssp", {})
    attrs["ssp_grid_shape"] = np.array(
        [len(ssp.get(key, [])) for key in ("x_ssp_m", "y_ssp_m", "z_ssp_m")], dtype=np.int32
    )
    bathymetry = config.get("bathymetry", {})
    attrs["bathymetry_grid_shape"] = np.array(
        [len(bathymetry.get(key, [])) for key in ("x_bty_m", "y_bty_m")], dtype=np.int32
    )
    depths = bathymetry.get("z_bty_m", [])
    if depths:
        put("bathymetry_depth_range_m", [min(depths), max(depths)])
    put("water_density_g_cm3", bathymetry.get("water_density_g_cm3"))
    bottom = bathymetry.get("bottom_model", {"model": "rigid"})
    for key, value in bottom.items():
        put("bottom_model" if key == "model" else f"bottom_{key}", value)
    put("receivers_config_type", config.get("receivers", {}).get("config_type"))
    attrs[CONFIG_ATTRIBUTE] = json.dumps(config)
    return attrs


def to_dataset(result: Any, config: Optional[Mapping[str, Any]] = None) -> Any:
    """The result dict of a run (or its `FieldArrays`) as an `xarray.Dataset`, described above.
    Pass the run's `config` to keep the source and the environment as attributes; ray paths are
    included when the result holds them."""
    from abyx_tools.runtime import keyed_config, plain_config

    plain = keyed_config(plain_config(config)) if config is not None else None
    field = with_config(result if isinstance(result, FieldArrays) else to_arrays(result, plain), plain)
    variables = _field_variables(field)
    if isinstance(result, Mapping) and "ray_paths" in result:
        variables.update(_ray_variables(ray_paths(result)))
    if isinstance(result, Mapping) and "arrivals" in result:
        from abyx_tools.arrival_tables import arrival_variables

        variables.update(arrival_variables(result, plain))
    dataset = xr.Dataset(variables, coords=_coordinates(field))
    dataset.attrs["title"] = "abyx simulation result"
    dataset.attrs["receiver_layout"] = _layout(field)
    if plain is not None:
        dataset.attrs.update(_attributes(plain))
    return dataset


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

    pressure = per_frequency(complex_pressure(dataset))
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
        delay_s=np.asarray(dataset["delay_s"].values, dtype=np.float32),
        amplitude=np.asarray(dataset["amplitude"].values, dtype=np.float32),
        x_m=np.asarray(dataset["x_m"].values, dtype=np.float32),
        y_m=np.asarray(dataset["y_m"].values, dtype=np.float32),
        z_m=np.asarray(dataset["z_m"].values, dtype=np.float32),
        is_array=is_array,
        source_position_m=source_position,
        intensity=(
            np.asarray(per_frequency(dataset["intensity"]).values, dtype=np.float32)
            if "intensity" in dataset
            else None
        ),
        in_water=np.asarray(dataset["in_water"].values, dtype=bool) if "in_water" in dataset else None,
        range_m=np.asarray(dataset["range_m"].values, dtype=np.float32) if polar else None,
        bearing_deg=np.asarray(dataset["bearing_deg"].values, dtype=np.float32) if polar else None,
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
