"""The result of a run as an `xarray.Dataset`, and back.

Layout of the dataset:

* coordinates `frequency_hz`; in grid mode the axes `x_m`, `y_m`, `z_m` as dimensions; in array mode a
  `receiver` dimension (0 .. n-1) with `x_m`, `y_m`, `z_m` as coordinate variables along it; in polar
  mode the axes `range_m`, `bearing_deg`, `z_m` as dimensions, with `x_m`, `y_m` along (`range_m`,
  `bearing_deg`); receivers listed as points that `to_arrays` shapes as polar ones (ranges x depths
  along bearings) as well, with a variable `receiver_index` (the run's index of each receiver), and
  along a single bearing as `range_m`, `z_m` only, `bearing_deg` a scalar coordinate
  (`receiver_layout` "range_depth");
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
* for a configuration from `abyx_tools.ocean.config`, `latitude` and `longitude` (deg) of every
  receiver, along its horizontal dimensions (`x_m`, `y_m`; `receiver`; `range_m`, `bearing_deg`), and
  the attribute `source_lat_lon_deg`;
* attributes: the source (`source_position_m`, launch angles), the environment (grid sizes, bottom
  model and its parameters, water density), the receiver layout, and `abyx_config`, the whole
  configuration as JSON text, from which `config_of` gives it back.
"""

from __future__ import annotations

import json
from collections.abc import Mapping
from typing import Any, Dict, List, Optional

from abyx_tools._extras import require
from abyx_tools.arrival_tables import arrival_variables
from abyx_tools.results import FieldArrays, RayPath
from abyx_tools.runtime import TOOLKIT_KEYS
from abyx_tools.saved import CONFIG_ATTRIBUTE, complex_pressure, config_of, field_of, ray_paths_of, saved_run

np = require("numpy", "abyx_tools.dataset")
xr = require("xarray", "abyx_tools.dataset")

__all__ = ["CONFIG_ATTRIBUTE", "complex_pressure", "config_of", "field_of", "ray_paths_of", "to_dataset"]

GEOGRAPHIC_KEY = TOOLKIT_KEYS[0]
_RECEIVER_DIMS = {"grid": ("x_m", "y_m", "z_m"), "array": ("receiver",), "polar": ("range_m", "bearing_deg", "z_m"),
                  "range_depth": ("range_m", "z_m")}


def _layout(field: FieldArrays) -> str:
    if field.is_array:
        return "array"
    if field.is_polar:
        return "range_depth" if field.receiver_index is not None and field.bearing_deg.size == 1 else "polar"
    return "grid"


def _section(values: Any) -> Any:
    """Receiver-shaped values (frequency first or not) without their single bearing."""
    return np.take(values, 0, axis=np.ndim(values) - 2)


def _field_variables(field: FieldArrays) -> Dict[str, Any]:
    # Pressure is held as two real variables, so that the plain Dataset.to_netcdf writes it;
    # complex_pressure gives the complex view.
    layout = _layout(field)
    dims = _RECEIVER_DIMS[layout]
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
    if field.receiver_index is not None:
        variables["receiver_index"] = (dims, np.asarray(field.receiver_index, dtype=np.int32),
                                       {"long_name": "the run's index of the receiver"})
    if layout == "range_depth":
        variables = {name: (v[0], _section(v[1]), *v[2:]) for name, v in variables.items()}
    return variables


def _coordinates(field: FieldArrays) -> Dict[str, Any]:
    metres = {"units": "m"}
    depth = {"units": "m", "positive": "down"}
    coords: Dict[str, Any] = {"frequency_hz": ("frequency_hz", field.frequency_hz, {"units": "Hz"})}
    if field.is_array:
        coords["receiver"] = ("receiver", np.arange(field.x_m.size, dtype=np.int32))
        coords["x_m"] = ("receiver", field.x_m, metres)
        coords["y_m"] = ("receiver", field.y_m, metres)
        coords["z_m"] = ("receiver", field.z_m, depth)
    elif _layout(field) == "range_depth":
        coords["range_m"] = ("range_m", field.range_m, metres)
        coords["bearing_deg"] = ((), field.bearing_deg[0], {"units": "degree"})
        coords["z_m"] = ("z_m", field.z_m, depth)
        coords["x_m"] = ("range_m", field.x_m[:, 0], metres)
        coords["y_m"] = ("range_m", field.y_m[:, 0], metres)
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
    field, paths, plain = saved_run(result, config)
    variables = _field_variables(field)
    if paths is not None:
        variables.update(_ray_variables(paths))
    if isinstance(result, Mapping) and "arrivals" in result:
        variables.update(arrival_variables(result, plain))
    dataset = xr.Dataset(variables, coords=_coordinates(field))
    dataset.attrs["title"] = "abyx simulation result"
    dataset.attrs["receiver_layout"] = _layout(field)
    if plain is not None:
        dataset.attrs.update(_attributes(plain))
        if GEOGRAPHIC_KEY in plain:
            dataset = _with_latitude_longitude(dataset, plain)
    return dataset


def _with_latitude_longitude(dataset: Any, config: Mapping[str, Any]) -> Any:
    from abyx_tools.ocean import lat_lon

    x, y = xr.broadcast(dataset["x_m"], dataset["y_m"])
    latitude, longitude = lat_lon(config, x.values, y.values)
    origin = config[GEOGRAPHIC_KEY]
    dataset.attrs["source_lat_lon_deg"] = np.array([origin["latitude_deg"], origin["longitude_deg"]], np.float64)
    return dataset.assign_coords(
        latitude=(x.dims, latitude, {"units": "degrees_north", "standard_name": "latitude"}),
        longitude=(x.dims, longitude, {"units": "degrees_east", "standard_name": "longitude"}),
    )
