"""An ocean from real data: bathymetry grids, temperature and salinity fields, casts, geographic
coordinates.

* `config(bathymetry=..., water=..., source_lat_lon=(lat, lon), ...)`: the whole configuration of a
  run from a bathymetry grid on latitude and longitude and from water data, with `abyx_tools.config`.
* `bathymetry(...)`, `sound_speed(...)`: the two grids of it, on their own.
* `absorption_parameters(...)`: temperature, salinity and pH for the water's absorption.
* `lat_lon(config, x_m, y_m)`, `local_xy(config, lat, lon)`: between the run's metres and the globe.

The run's x (east) and y (north) are metres of an azimuthal-equidistant projection (WGS84) about the
source: a bearing (0 deg along +y, 90 deg along +x) is a true bearing, and the horizontal range from
the source is the geodesic distance. The geographic origin is kept in the configuration under the
toolkit's own key `"geographic"`, which `abyx_tools.run` (and so `sweep` and `abyx run`) removes
before the module sees the configuration, and from which `to_dataset` gives every receiver its
latitude and longitude.

Needs the `ocean` extra (xarray, netCDF4, pyproj, gsw).
"""

from __future__ import annotations

import contextlib
import csv
import functools
import math
import os
import warnings
from collections.abc import Mapping
from typing import Any, Dict, Iterator, NamedTuple, Optional, Sequence, Tuple

from abyx_tools import builder
from abyx_tools._extras import require
from abyx_tools.results import bilinear

_FEATURE = "abyx_tools.ocean"
np = require("numpy", _FEATURE, extra="ocean")

__all__ = [
    "GEOGRAPHIC_KEY",
    "absorption_parameters",
    "bathymetry",
    "config",
    "lat_lon",
    "local_xy",
    "sound_speed",
]

# The toolkit's key of a configuration that holds the run's geographic origin; never sent to the module.
GEOGRAPHIC_KEY = "geographic"
# Most bathymetry nodes per horizontal axis: finer data are averaged down to this.
MAX_BATHYMETRY_NODES = 401
# The speed that turns a frequency into the wavelength of the bathymetry's beam scale (m/s).
NOMINAL_SOUND_SPEED_M_S = 1500.0
DEFAULT_PH = 8.0

_LATITUDE_UNITS = {"degrees_north", "degree_north", "degree_n", "degrees_n", "degreen", "degreesn"}
_LONGITUDE_UNITS = {"degrees_east", "degree_east", "degree_e", "degrees_e", "degreee", "degreese"}
_LATITUDE_NAMES = ("lat", "latitude", "nav_lat")
_LONGITUDE_NAMES = ("lon", "longitude", "nav_lon")
_DEPTH_NAMES = ("depth", "depth_m", "z", "lev", "deptht", "pressure_level")
_DEPTH_STANDARD = {"depth", "sea_floor_depth_below_sea_surface", "sea_floor_depth_below_geoid", "sea_floor_depth",
                   "sea_floor_depth_below_mean_sea_level"}
# Names of water variables: the standard names first, then the usual variable names (WOA, Copernicus, casts).
_WATER_VARIABLES = {
    "temperature": (("sea_water_temperature", "sea_water_potential_temperature", "sea_water_conservative_temperature"),
                    ("t_an", "t_mn", "thetao", "temperature", "temp", "t", "temperature_c")),
    "salinity": (("sea_water_salinity", "sea_water_practical_salinity", "sea_water_absolute_salinity"),
                 ("s_an", "s_mn", "so", "salinity", "sal", "s", "psal", "salinity_psu")),
    "sound_speed": (("speed_of_sound_in_sea_water",),
                    ("sound_speed", "c", "c_m_s", "sound_speed_m_s", "soundspeed", "svel", "sound_velocity")),
    "ph": (("sea_water_ph_reported_on_total_scale", "sea_water_ph"), ("ph",)),
}


def _ocean_packages() -> Tuple[Any, Any, Any]:
    return (require("xarray", _FEATURE, extra="ocean"), require("pyproj", _FEATURE, extra="ocean"),
            require("gsw", _FEATURE, extra="ocean"))


# --- the projection ---------------------------------------------------------------------------------


@functools.lru_cache(maxsize=16)
def _projection(latitude: float, longitude: float) -> Any:
    pyproj = require("pyproj", _FEATURE, extra="ocean")
    return pyproj.Proj(proj="aeqd", lat_0=latitude, lon_0=longitude, datum="WGS84", units="m")


def _origin(source_lat_lon: Any) -> Tuple[float, float]:
    try:
        latitude, longitude = (float(v) for v in source_lat_lon)
    except (TypeError, ValueError):
        raise ValueError(f"source_lat_lon must be (latitude, longitude) in degrees, got {source_lat_lon!r}") from None
    if not (math.isfinite(latitude) and math.isfinite(longitude) and -90.0 < latitude < 90.0):
        raise ValueError(f"source_lat_lon must be a finite latitude inside (-90, 90) and a longitude, "
                         f"got {source_lat_lon!r}")
    return latitude, (longitude + 180.0) % 360.0 - 180.0


def _origin_of(config: Any) -> Tuple[float, float]:
    """The geographic origin of a configuration `config` built, or an origin (lat, lon) itself."""
    if isinstance(config, Mapping):
        place = config.get(GEOGRAPHIC_KEY)
        if not isinstance(place, Mapping):
            raise ValueError(f"the configuration has no '{GEOGRAPHIC_KEY}' origin: build it with ocean.config")
        return _origin((place["latitude_deg"], place["longitude_deg"]))
    return _origin(config)


def lat_lon(config: Any, x_m: Any, y_m: Any) -> Tuple[Any, Any]:
    """Latitude and longitude (deg, longitudes in [-180, 180)) of the run's points (x_m, y_m), for a
    configuration made by `config` (or an origin (lat, lon))."""
    latitude, longitude = _origin_of(config)
    lon, lat = _projection(latitude, longitude)(np.asarray(x_m, np.float64), np.asarray(y_m, np.float64),
                                                inverse=True)
    return np.asarray(lat), (np.asarray(lon) + 180.0) % 360.0 - 180.0


def local_xy(config: Any, latitude: Any, longitude: Any) -> Tuple[Any, Any]:
    """The run's x (east) and y (north) in metres of points given by latitude and longitude."""
    origin = _origin_of(config)
    x, y = _projection(*origin)(np.asarray(longitude, np.float64), np.asarray(latitude, np.float64))
    return np.asarray(x), np.asarray(y)


# --- reading grids ----------------------------------------------------------------------------------


@contextlib.contextmanager
def _dataset(data: Any, what: str) -> Iterator[Any]:
    """An xarray Dataset from a Dataset, a DataArray or the path of a netCDF file (opened lazily,
    so that only the part read is loaded, and closed afterwards)."""
    xr = _ocean_packages()[0]
    if isinstance(data, (str, os.PathLike)):
        try:
            opened = xr.open_dataset(data)
        except ValueError:  # time units xarray cannot decode (the WOA's "months since ..."): kept as numbers
            opened = xr.open_dataset(data, decode_times=False)
        with opened:
            yield opened
    elif isinstance(data, xr.DataArray):
        yield data.to_dataset(name=data.name or "values")
    elif isinstance(data, xr.Dataset):
        yield data
    else:
        raise TypeError(f"{what} must be an xarray Dataset or DataArray or the path of a netCDF file, "
                        f"got {type(data).__name__}")


def _attribute(variable: Any, name: str) -> str:
    return str(variable.attrs.get(name, "")).strip().lower()


def _coordinate(dataset: Any, units: Any, standard: str, names: Sequence[str], what: str) -> str:
    """The name of the 1-D coordinate found by its units or standard name, else by a usual name."""
    candidates = [n for n in dataset.variables if dataset[n].ndim <= 2]
    found = [n for n in candidates if _attribute(dataset[n], "units").replace(" ", "_") in units
             or _attribute(dataset[n], "standard_name") == standard]
    found = found or [n for n in candidates if str(n).lower() in names]
    found.sort(key=lambda n: (n not in dataset.dims, dataset[n].ndim))  # a dimension's own coordinate first
    if not found:
        raise ValueError(f"no {what} coordinate found (by units {sorted(units)[0]!r}, standard_name {standard!r} "
                         f"or a name such as {names[0]!r})")
    name = str(found[0])
    if dataset[name].ndim != 1:
        raise ValueError(f"the {what} coordinate '{name}' is 2-D: grids on curvilinear coordinates must be "
                         "regridded to a latitude-longitude grid first")
    return name


def _horizontal(dataset: Any) -> Tuple[str, str]:
    return (_coordinate(dataset, _LATITUDE_UNITS, "latitude", _LATITUDE_NAMES, "latitude"),
            _coordinate(dataset, _LONGITUDE_UNITS, "longitude", _LONGITUDE_NAMES, "longitude"))


class _Crop(NamedTuple):
    """A part of a latitude-longitude grid: ascending axes and the values [lat, lon, ...]."""

    latitude: Any  # (n_lat,) ascending (deg)
    longitude: Any  # (n_lon,) ascending, continuous across the data's seam (deg)
    values: Any  # float64 [lat, lon, ...], NaN where the data have none


def _crop(variable: Any, lat_name: str, lon_name: str, lat_needed: Any, lon_needed: Any, margin: int,
          what: str) -> _Crop:
    """The part of `variable` that brackets every needed point with `margin` cells to spare; longitudes
    are taken in the data's convention (0..360 or -180..180), across the seam of a global grid too.
    Only that part is read from the data."""
    lat_all = np.asarray(variable[lat_name].values, np.float64)
    lon_all = np.asarray(variable[lon_name].values, np.float64)
    lat_order, lon_order = np.argsort(lat_all, kind="stable"), np.argsort(lon_all, kind="stable")
    lat, lon = lat_all[lat_order], lon_all[lon_order]
    # the needed longitudes as a continuous range near the data's own
    shift = 360.0 * np.round((0.5 * (lon[0] + lon[-1]) - float(np.mean(lon_needed))) / 360.0)
    lon_needed = np.asarray(lon_needed) + shift
    spacing = float(np.median(np.diff(lon))) if lon.size > 1 else 360.0
    if lon.size > 1 and lon[-1] - lon[0] + 1.5 * spacing >= 360.0:  # a global grid: its seam is crossed freely
        lon_order = np.tile(lon_order, 3)
        lon = np.concatenate([lon - 360.0, lon, lon + 360.0])
    low_lat, high_lat = float(np.min(lat_needed)), float(np.max(lat_needed))
    low_lon, high_lon = float(np.min(lon_needed)), float(np.max(lon_needed))
    if lat.size < 2 or lon.size < 2 or low_lat < lat[0] or high_lat > lat[-1] or low_lon < lon[0] or high_lon > lon[-1]:
        raise ValueError(
            f"{what} does not cover the run's area: it needs latitudes {low_lat:.4f} to {high_lat:.4f} and "
            f"longitudes {_lon_text(low_lon)} to {_lon_text(high_lon)}; the data span latitudes "
            f"{lat[0]:.4f} to {lat[-1]:.4f} and longitudes {_lon_text(lon[0])} to {_lon_text(lon[-1])}")
    i0 = max(int(np.searchsorted(lat, low_lat, side="right")) - 1 - margin, 0)
    i1 = min(int(np.searchsorted(lat, high_lat, side="left")) + 1 + margin, lat.size)
    j0 = max(int(np.searchsorted(lon, low_lon, side="right")) - 1 - margin, 0)
    j1 = min(int(np.searchsorted(lon, high_lon, side="left")) + 1 + margin, lon.size)
    part = variable.isel({lat_name: lat_order[i0:i1], lon_name: lon_order[j0:j1]})
    other = [d for d in part.dims if d not in (lat_name, lon_name)]
    values = np.asarray(part.transpose(lat_name, lon_name, *other).values, np.float64)
    return _Crop(lat[i0:i1], lon[j0:j1] - shift, values)


def _lon_text(longitude: float) -> str:
    return f"{(longitude + 180.0) % 360.0 - 180.0:.4f}"


def _spacing_m(latitude: Any, longitude: Any, at_latitude: float) -> Tuple[float, float]:
    """The data's spacing in metres north-south and east-west near `at_latitude` (a median cell)."""
    metres_per_degree = 6371008.8 * math.pi / 180.0
    north = float(np.median(np.abs(np.diff(latitude)))) * metres_per_degree
    east = float(np.median(np.abs(np.diff(longitude)))) * metres_per_degree * max(math.cos(math.radians(at_latitude)),
                                                                                 1e-6)
    return north, east


def _block_mean(crop: _Crop, k_lat: int, k_lon: int) -> _Crop:
    """Means over blocks of k_lat x k_lon cells, at the mean latitude and longitude of each block (a
    seabed that is linear in them keeps its values)."""
    if k_lat <= 1 and k_lon <= 1:
        return crop
    n_lat, n_lon = crop.latitude.size // k_lat * k_lat, crop.longitude.size // k_lon * k_lon
    values = crop.values[:n_lat, :n_lon].reshape(n_lat // k_lat, k_lat, n_lon // k_lon, k_lon)
    return _Crop(crop.latitude[:n_lat].reshape(-1, k_lat).mean(axis=1),
                 crop.longitude[:n_lon].reshape(-1, k_lon).mean(axis=1), values.mean(axis=(1, 3)))


# --- bathymetry -------------------------------------------------------------------------------------


def _seabed_variable(dataset: Any, lat_name: str, lon_name: str) -> Tuple[Any, bool]:
    """The seabed variable and whether it holds depths (positive down) rather than elevations."""
    gridded = [n for n, v in dataset.data_vars.items() if lat_name in v.dims and lon_name in v.dims]
    if not gridded:
        raise ValueError(f"the bathymetry has no variable on ({lat_name}, {lon_name})")
    preferred = ("elevation", "z", "depth", "bathymetry", "topo", "height", "band1", "deptho")
    name = gridded[0] if len(gridded) == 1 else next(
        (n for p in preferred for n in gridded if str(n).lower() == p), gridded[0])
    variable = dataset[name]
    is_depth = (_attribute(variable, "positive") == "down" or _attribute(variable, "standard_name") in _DEPTH_STANDARD
                or (_attribute(variable, "positive") != "up" and "depth" in str(name).lower()))
    return _squeezed(variable, (lat_name, lon_name)), is_depth


def _squeezed(variable: Any, kept: Sequence[str]) -> Any:
    """`variable` without its other dimensions of length 1."""
    return variable.squeeze([d for d in variable.dims if d not in kept and variable.sizes[d] == 1], drop=True)


def _node_axis(half_width_m: float, spacing_m: float) -> Any:
    """Nodes from -half_width to +half_width, evenly spaced at most `spacing_m` apart, one on 0."""
    intervals = max(1, math.ceil(half_width_m / spacing_m - 1e-9))
    return np.linspace(-half_width_m, half_width_m, 2 * intervals + 1)


def bathymetry(data: Any, source_lat_lon: Any, half_width_m: float, *, beam_scale_m: float = 0.0) -> Any:
    """The seabed of the square of half-width `half_width_m` about the source, as the run's depth
    grid: {"x_m", "y_m", "z_m"} with z_m (m, positive down) shaped (len(x_m), len(y_m)) on the
    projection about the source, or one number when it is flat there.

    `data` is an xarray Dataset (or DataArray) or a netCDF path, on 1-D latitude and longitude
    coordinates, found by their units or standard names (else the names lat, latitude, lon, ...);
    its seabed variable holds elevations (up positive, the GEBCO and ETOPO layout) unless its
    `positive` attribute is "down", its standard name a depth, or its name says depth. Nodes are
    evenly spaced, the larger of `beam_scale_m`, the data's spacing and a 400th of the square's
    width apart; where that is k data cells or more, the data are first averaged over blocks of k
    cells. Depths are bilinear in latitude and longitude between the (averaged) data nodes. Land
    (elevation above sea level) is clipped to the surface, with a warning that says how much."""
    latitude, longitude = _origin(source_lat_lon)
    if not (half_width_m > 0.0 and math.isfinite(half_width_m)):
        raise ValueError(f"half_width_m must be positive, got {half_width_m}")
    with _dataset(data, "bathymetry") as dataset:
        lat_name, lon_name = _horizontal(dataset)
        variable, is_depth = _seabed_variable(dataset, lat_name, lon_name)
        north_m, east_m = _spacing_m(dataset[lat_name].values, dataset[lon_name].values, latitude)
        spacing = max(beam_scale_m, min(north_m, east_m), 2.0 * half_width_m / (MAX_BATHYMETRY_NODES - 1))
        axis = _node_axis(half_width_m, spacing)
        x, y = np.meshgrid(axis, axis, indexing="ij")
        node_lat, node_lon = lat_lon((latitude, longitude), x, y)
        k_lat, k_lon = max(1, int(spacing // north_m)), max(1, int(spacing // east_m))
        crop = _crop(variable, lat_name, lon_name, node_lat, _near(node_lon, longitude), max(k_lat, k_lon) + 1,
                     "the bathymetry")
    if crop.values.ndim != 2:
        raise ValueError(f"the bathymetry variable must be 2-D on ({lat_name}, {lon_name}), "
                         f"got the dimensions {variable.dims}")
    missing = int(np.count_nonzero(~np.isfinite(crop.values)))
    if missing:
        raise ValueError(f"the bathymetry has {missing} missing values in the run's area")
    flat = float(crop.values.flat[0]) * (1.0 if is_depth else -1.0)
    if flat >= 0.0 and np.all(crop.values == crop.values.flat[0]):  # flat water about the run: its one depth
        return flat
    crop = _block_mean(crop, k_lat, k_lon)
    depth = bilinear(crop.latitude, crop.longitude, crop.values, node_lat, _near(node_lon, longitude))
    depth = depth if is_depth else -depth
    _clip_land(depth)
    return {"x_m": axis.tolist(), "y_m": axis.tolist(), "z_m": depth}


_bathymetry = bathymetry  # for config, whose keyword of that name hides it


def _near(longitudes: Any, centre: float) -> Any:
    """Longitudes made continuous about `centre` (no jump at +-180)."""
    return centre + (np.asarray(longitudes) - centre + 180.0) % 360.0 - 180.0


def _clip_land(depth: Any) -> None:
    land = depth < 0.0
    if land.any():
        count = int(np.count_nonzero(land))
        warnings.warn(
            f"ocean: {100.0 * count / depth.size:.1f} % of the bathymetry nodes ({count} of {depth.size}) are land, "
            f"up to {float(-depth.min()):.0f} m above sea level; their seabed is clipped to the sea surface (0 m)",
            UserWarning, stacklevel=2)
        depth[land] = 0.0


# --- water ------------------------------------------------------------------------------------------


class _Water(NamedTuple):
    """Water data on [lat, lon, depth] nodes (a cast: one column on a 1 x 1 grid at the source)."""

    latitude: Any  # (n_lat,) ascending (deg)
    longitude: Any  # (n_lon,) ascending (deg)
    depth_m: Any  # (n_z,) ascending (m, positive down)
    values: Dict[str, Any]  # by kind ("temperature", "salinity", "sound_speed", "ph"): float64 [lat, lon, z]
    kinds: Dict[str, str]  # the standard name of each variable ("" where none is given)


def _water_variable(dataset: Any, kind: str) -> Optional[str]:
    """The variable of a kind: by standard name, the usual names first among several (the WOA's
    objectively analysed mean `t_an` before its statistical mean `t_mn`), else by a usual name."""
    standard, names = _WATER_VARIABLES[kind]
    found = [str(n) for n, v in dataset.data_vars.items() if _attribute(v, "standard_name") in standard]
    found.sort(key=lambda n: names.index(n.lower()) if n.lower() in names else len(names))
    return found[0] if found else next((str(n) for n in dataset.data_vars if str(n).lower() in names), None)


def _chosen_variables(dataset: Any) -> Dict[str, str]:
    chosen = {kind: _water_variable(dataset, kind) for kind in _WATER_VARIABLES}
    found = {kind: name for kind, name in chosen.items() if name is not None}
    if not ("sound_speed" in found or ("temperature" in found and "salinity" in found)):
        raise ValueError("the water data need temperature and salinity, or sound speed; found the variables "
                         f"{', '.join(map(str, dataset.data_vars)) or 'none'}")
    if "temperature" in found and "salinity" in found:
        found.pop("sound_speed", None)  # TEOS-10 from temperature and salinity where both are given
    return found


def _time_selected(variable: Any, time: Any) -> Any:
    """The variable at the caller's time; a time dimension is never averaged."""
    times = [d for d in variable.dims if str(d).lower() in ("time", "t") or
             _attribute(variable[d], "standard_name") == "time" or _attribute(variable[d], "axis") == "t"]
    if not times:
        if time is not None:
            raise ValueError(f"the water data have no time dimension: leave time= out (got {time!r})")
        return variable
    dim = times[0]
    listed = ", ".join(str(v) for v in variable[dim].values)
    if time is None:
        if variable.sizes[dim] == 1:
            return variable.isel({dim: 0})
        raise ValueError(f"the water data have {variable.sizes[dim]} times: choose one with time= "
                         f"(the times: {listed})")
    try:
        return variable.sel({dim: time})
    except (KeyError, TypeError, ValueError):
        raise ValueError(f"the water data have no time {time!r} (the times: {listed})") from None


def _depth_coordinate(dataset: Any, variable: Any) -> str:
    for dim in variable.dims:
        coord = dataset[dim] if dim in dataset.variables else None
        if coord is not None and (_attribute(coord, "standard_name") == "depth" or _attribute(coord, "positive")
                                  or str(dim).lower() in _DEPTH_NAMES or _attribute(coord, "axis") == "z"):
            return str(dim)
    raise ValueError(f"no depth coordinate found among the dimensions {variable.dims} of the water data")


def _gridded_water(data: Any, source: Tuple[float, float], half_width_m: float, time: Any) -> Tuple[_Water, Any]:
    """The water nodes around the run's square, and the run's horizontal node axis for them."""
    with _dataset(data, "the water data") as dataset:
        return _water_nodes(dataset, source, half_width_m, time)


def _water_nodes(dataset: Any, source: Tuple[float, float], half_width_m: float, time: Any) -> Tuple[_Water, Any]:
    lat_name, lon_name = _horizontal(dataset)
    chosen = _chosen_variables(dataset)
    north_m, east_m = _spacing_m(dataset[lat_name].values, dataset[lon_name].values, source[0])
    axis = _node_axis(half_width_m, min(north_m, east_m))
    x, y = np.meshgrid(axis, axis, indexing="ij")
    node_lat, node_lon = lat_lon(source, x, y)
    values, kinds, depth = {}, {}, None
    for kind, name in chosen.items():
        variable = _time_selected(dataset[name], time)
        z_name = _depth_coordinate(dataset, variable)
        positive_up = _attribute(dataset[z_name], "positive") == "up"
        variable = _squeezed(variable, (lat_name, lon_name, z_name))
        crop = _crop(variable.transpose(lat_name, lon_name, z_name), lat_name, lon_name, node_lat,
                     _near(node_lon, source[1]), 1, "the water data")
        if crop.values.ndim != 3:
            raise ValueError(f"the water variable '{name}' must be on latitude, longitude and depth (and a time "
                             f"chosen with time=), got the dimensions {variable.dims}")
        z = np.abs(np.asarray(variable[z_name].values, np.float64)) if positive_up else np.asarray(
            variable[z_name].values, np.float64)
        order = np.argsort(z)
        values[kind], kinds[kind] = crop.values[:, :, order], _attribute(dataset[name], "standard_name")
        depth, grid = z[order], crop
    return _Water(grid.latitude, grid.longitude, depth, values, kinds), (axis, node_lat, node_lon)


def _cast(data: Any, source: Tuple[float, float]) -> _Water:
    """A cast: a CSV file (a header row naming the columns) or a mapping of 1-D arrays, with a
    depth column and temperature and salinity, or sound speed."""
    columns: Dict[str, Any] = {}
    if isinstance(data, (str, os.PathLike)):
        with open(data, newline="", encoding="utf-8") as stream:
            rows = [row for row in csv.reader(stream) if row and not row[0].lstrip().startswith("#")]
        if len(rows) < 2:
            raise ValueError(f"the cast '{os.fspath(data)}' needs a header row and at least one row of values")
        header = [h.split("(")[0].split("[")[0].strip().lower() for h in rows[0]]
        if any(len(row) != len(header) for row in rows):
            raise ValueError(f"the cast '{os.fspath(data)}' has rows of other lengths than its header's {len(header)}")
        try:
            table = np.array([[float(v) if v.strip() else math.nan for v in row] for row in rows[1:]], np.float64)
        except ValueError as error:
            raise ValueError(f"the cast '{os.fspath(data)}' has a value that is no number: {error}") from None
        columns = {name: table[:, i] for i, name in enumerate(header)}
    else:
        columns = {str(k).lower(): np.asarray(v, np.float64) for k, v in data.items()}
    location = (float(columns.pop("latitude", [source[0]])[0]), float(columns.pop("longitude", [source[1]])[0]))
    depth_name = next((n for n in _DEPTH_NAMES if n in columns), None)
    if depth_name is None:
        raise ValueError(f"the cast has no depth column (one of {', '.join(_DEPTH_NAMES)}); it has "
                         f"{', '.join(columns)}")
    values: Dict[str, Any] = {}
    for kind, (_, names) in _WATER_VARIABLES.items():
        name = next((n for n in names if n in columns), None)
        if name is not None:
            values[kind] = columns[name]
    if "temperature" in values and "salinity" in values:
        values.pop("sound_speed", None)
    elif "sound_speed" not in values:
        raise ValueError(f"the cast needs temperature and salinity, or sound speed; it has {', '.join(columns)}")
    depth = np.abs(columns[depth_name])
    order = np.argsort(depth, kind="stable")
    if np.any(np.diff(depth[order]) == 0.0):
        raise ValueError("the cast lists a depth twice")
    return _Water(np.array([location[0]]), np.array([location[1]]), depth[order],
                  {k: v[order][None, None, :] for k, v in values.items()}, dict.fromkeys(values, ""))


def _is_cast(water: Any) -> bool:
    if hasattr(water, "data_vars"):  # an xarray Dataset is a Mapping too
        return False
    if isinstance(water, Mapping):
        return True
    return isinstance(water, (str, os.PathLike)) and os.fspath(water).lower().endswith((".csv", ".txt"))


def _filled(values: Any, depth_m: Any, what: str) -> Any:
    """Each column with its missing values filled: linear between valid depths, the shallowest value
    above them and the deepest below them; a column with none takes the nearest column's values."""
    filled = np.array(values, np.float64)
    valid = np.isfinite(filled)
    has_data = valid.any(axis=2)
    if not has_data.any():
        raise ValueError(f"the water data hold no valid {what} in the run's area")
    for i, j in zip(*np.nonzero(has_data)):
        column = valid[i, j]
        filled[i, j] = np.interp(depth_m, depth_m[column], filled[i, j, column])
    if not has_data.all():
        rows, cols = np.nonzero(has_data)
        for i, j in zip(*np.nonzero(~has_data)):
            nearest = int(np.argmin((rows - i) ** 2 + (cols - j) ** 2))
            filled[i, j] = filled[rows[nearest], cols[nearest]]
    return filled


def _levels(water: _Water, deepest_m: float) -> _Water:
    """The levels the run needs: from the surface down to the first at or below the deepest seabed,
    extended there (values held from the deepest level, with a warning) when the data end above it."""
    depth = water.depth_m
    below = np.flatnonzero(depth >= deepest_m)
    keep = slice(0, below[0] + 1) if below.size else slice(0, depth.size)
    values = {k: v[:, :, keep] for k, v in water.values.items()}
    depth = depth[keep]
    if depth[0] > 0.0:  # the shallowest values up to the surface
        depth = np.concatenate([[0.0], depth])
        values = {k: np.concatenate([v[:, :, :1], v], axis=2) for k, v in values.items()}
    if depth[-1] < deepest_m:
        held = "temperature and salinity" if "temperature" in values else "sound speed"
        warnings.warn(
            f"ocean: the water data end at {depth[-1]:.1f} m, {deepest_m - depth[-1]:.1f} m above the deepest "
            f"seabed of the run ({deepest_m:.1f} m); the profile is extended to it with the deepest {held}",
            UserWarning, stacklevel=2)
        depth = np.concatenate([depth, [deepest_m]])
        values = {k: np.concatenate([v, v[:, :, -1:]], axis=2) for k, v in values.items()}
    return water._replace(depth_m=depth, values=values)


def _teos10(water: _Water) -> Dict[str, Any]:
    """Absolute salinity, conservative temperature, pressure and sound speed at every node (TEOS-10):
    pressure from depth and latitude; practical salinity and in-situ (or potential) temperature
    converted unless the data give absolute salinity and conservative temperature."""
    gsw = _ocean_packages()[2]
    lat = np.broadcast_to(water.latitude[:, None, None], water.values["temperature"].shape)
    lon = np.broadcast_to(water.longitude[None, :, None], lat.shape)
    pressure = gsw.p_from_z(-np.broadcast_to(water.depth_m[None, None, :], lat.shape), lat)
    salinity, temperature = water.values["salinity"], water.values["temperature"]
    absolute = (salinity if water.kinds["salinity"] == "sea_water_absolute_salinity"
                else gsw.SA_from_SP(salinity, pressure, lon, lat))
    kind = water.kinds["temperature"]
    conservative = (temperature if kind == "sea_water_conservative_temperature"
                    else gsw.CT_from_pt(absolute, temperature) if kind == "sea_water_potential_temperature"
                    else gsw.CT_from_t(absolute, temperature, pressure))
    return {"SA": absolute, "CT": conservative, "p": pressure,
            "c": np.asarray(gsw.sound_speed(absolute, conservative, pressure), np.float64)}


def _water(water: Any, source: Tuple[float, float], half_width_m: float, time: Any) -> Tuple[_Water, Any]:
    if _is_cast(water):
        if time is not None:
            raise ValueError("a cast has no times: leave time= out")
        return _cast(water, source), None
    return _gridded_water(water, source, half_width_m, time)


def sound_speed(water: Any, source_lat_lon: Any, half_width_m: float, deepest_m: float, *, time: Any = None) -> Any:
    """The sound speed of the square of half-width `half_width_m` about the source, down to
    `deepest_m` (the deepest seabed of the run): a profile (z_m, c_m_s), or {"x_m", "y_m", "z_m",
    "c_m_s"} with c_m_s shaped (nx, ny, nz) where it changes across the square.

    `water` is a Dataset or a netCDF path on latitude, longitude and depth (the World Ocean Atlas
    and Copernicus layouts; fill values are missing values), or a cast: a CSV path or a mapping of
    arrays, a depth column with temperature and salinity, or with sound speed, taken at the source
    (or at its own "latitude" and "longitude"). Temperature (in-situ, potential or conservative, by
    standard name) and salinity (practical unless named absolute) give the sound speed with TEOS-10;
    a sound-speed variable is used as it is. A time dimension must be chosen with `time` (a value
    of the time coordinate). Missing values of a column are filled downward from its deepest valid
    value (and upward from its shallowest, linearly between); a column with none takes the nearest
    column's. The levels run down to the first at or below `deepest_m`; data that end above it are
    extended to it at the deepest temperature and salinity (or sound speed), with a warning that
    says by how many metres. Horizontal nodes are evenly spaced at about the data's spacing across
    the square (bilinear in latitude and longitude between data nodes)."""
    source = _origin(source_lat_lon)
    data, nodes = _water(water, source, half_width_m, time)
    data = _levels(_fill_all(data), float(deepest_m))
    speed = _teos10(data)["c"] if "temperature" in data.values else data.values["sound_speed"]
    if nodes is None:
        return data.depth_m.tolist(), speed[0, 0].tolist()
    if np.all(speed == speed[:1, :1, :]):  # the same at every data node: one profile
        return data.depth_m.tolist(), speed[0, 0].tolist()
    axis, node_lat, node_lon = nodes
    grid = bilinear(data.latitude, data.longitude, speed, node_lat, _near(node_lon, source[1]))
    return {"x_m": axis.tolist(), "y_m": axis.tolist(), "z_m": data.depth_m.tolist(), "c_m_s": grid}


def _fill_all(water: _Water) -> _Water:
    return water._replace(values={k: _filled(v, water.depth_m, k.replace("_", " ")) for k, v in water.values.items()})


def absorption_parameters(water: Any, source_lat_lon: Any, *, seabed_m: Optional[float] = None,
                          time: Any = None) -> Dict[str, float]:
    """{"temperature_c", "salinity_psu", "ph"} for the water's absorption: the in-situ temperature,
    practical salinity and pH of the water column at the source, averaged over depth (trapezoids)
    from the surface to `seabed_m` (default: the deepest level of the data). pH is 8 where the
    data have none. A ValueError when the data hold no temperature and salinity."""
    source = _origin(source_lat_lon)
    data, _ = _water(water, source, 1.0, time)
    if "temperature" not in data.values:
        raise ValueError("the water data hold sound speed but no temperature and salinity for the absorption")
    data = _fill_all(data)
    data = _levels(data, float(seabed_m) if seabed_m is not None else float(data.depth_m[-1]))
    teos = _teos10(data)
    gsw = _ocean_packages()[2]
    columns = {"temperature_c": gsw.t_from_CT(teos["SA"], teos["CT"], teos["p"]),
               "salinity_psu": gsw.SP_from_SA(teos["SA"], teos["p"], data.longitude[None, :, None],
                                              data.latitude[:, None, None])}
    if "ph" in data.values:
        columns["ph"] = data.values["ph"]
    # the column at the source (bilinear between the data's columns), from the surface to the seabed
    lon = float(_near(source[1], 0.5 * (data.longitude[0] + data.longitude[-1])))
    bottom = float(seabed_m) if seabed_m is not None else float(data.depth_m[-1])
    depth = np.append(data.depth_m[data.depth_m < bottom], bottom)
    averaged = {name: _depth_mean(depth, np.interp(depth, data.depth_m,
                                                   bilinear(data.latitude, data.longitude, v, source[0], lon)))
                for name, v in columns.items()}
    averaged.setdefault("ph", DEFAULT_PH)
    return averaged


def _depth_mean(depth_m: Any, values: Any) -> float:
    if depth_m.size < 2:
        return float(values[0])
    return float(np.sum(0.5 * (values[1:] + values[:-1]) * np.diff(depth_m)) / (depth_m[-1] - depth_m[0]))


# --- the whole configuration -----------------------------------------------------------------------


def _beam_scale_m(freq_hz: Any, max_range_m: float) -> float:
    """Half the first Fresnel zone's width at the far end of the run, at its highest frequency:
    seabed detail finer than this is not resolved by the field."""
    frequencies = np.abs(np.atleast_1d(np.asarray(freq_hz, np.float64)))
    highest = float(frequencies.max()) if frequencies.size else 0.0
    if not highest > 0.0:
        return 0.0
    return 0.5 * math.sqrt(NOMINAL_SOUND_SPEED_M_S / highest * max_range_m)


def config(
    *,
    bathymetry: Any,
    water: Any,
    source_lat_lon: Sequence[float],
    source_depth_m: float,
    freq_hz: Any = 100.0,
    ranges_m: Any = None,
    bearings_deg: Any = (0.0,),
    depths_m: Any = None,
    bottom: Any = "rigid",
    time: Any = None,
    absorption: Any = None,
    **options: Any,
) -> Dict[str, Any]:
    """A whole configuration from a bathymetry grid and water data, as `abyx_tools.config` builds it
    (the same receivers, fan, step and range rules; other keywords are its keywords), with the
    source at `source_lat_lon` and `source_depth_m`, bearings true (0 north, 90 east).

    * `bathymetry`: see `bathymetry`; the grid covers the builder's square about the source (1.1
      times the range), nodes about half the first Fresnel zone at the farthest range apart at the
      highest frequency (sqrt(1500 / f * range) / 2), but no finer than the data, and at most 401
      per axis.
    * `water`, `time`: see `sound_speed`; the profile reaches the deepest seabed of the square.
    * `absorption`: None (default) adds no "water" section; otherwise the section {"absorption":
      absorption, "temperature_c", "salinity_psu", "ph"} with the values of `absorption_parameters`
      at the source, down to its seabed (only "absorption" when the data hold no temperature).

    The result holds the toolkit's key "geographic" ({"latitude_deg", "longitude_deg"}): run it with
    `abyx_tools.run`, which keeps it from the module, and `to_dataset` gives the receivers' latitude
    and longitude."""
    origin = _origin(source_lat_lon)
    shared = dict(source_depth_m=source_depth_m, freq_hz=freq_hz, ranges_m=ranges_m, bearings_deg=bearings_deg,
                  depths_m=depths_m, bottom=bottom, **options)
    # the builder's extent and range, from a draft over the deepest ocean (deeper than any source)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        draft = builder.config(depth_m=11000.0, **shared)
    half_width = draft["bathymetry"]["x_bty_m"][1] - draft["source"]["position"][0]
    beam_scale = _beam_scale_m(freq_hz, draft["beam"]["max_range_m"])
    depth = _bathymetry(bathymetry, origin, half_width, beam_scale_m=beam_scale)
    deepest = depth if isinstance(depth, float) else float(np.max(depth["z_m"]))
    speed = sound_speed(water, origin, half_width, max(deepest, 1.0), time=time)
    cfg = builder.config(depth_m=depth, sound_speed=speed, **shared)
    if absorption is not None:
        cfg["water"] = {"absorption": absorption, **_absorption_or_none(water, origin, depth, time)}
    cfg[GEOGRAPHIC_KEY] = {"latitude_deg": origin[0], "longitude_deg": origin[1]}
    return cfg


def _absorption_or_none(water: Any, origin: Tuple[float, float], depth: Any, time: Any) -> Dict[str, float]:
    # the seabed under the source, the middle node
    seabed = depth if isinstance(depth, float) else float(depth["z_m"][len(depth["x_m"]) // 2, len(depth["y_m"]) // 2])
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the sound speed has said so already
            return absorption_parameters(water, origin, seabed_m=max(seabed, 1.0), time=time)
    except ValueError as error:
        if "no temperature" in str(error):
            return {}
        raise


def receiver_lat_lon(config: Mapping[str, Any], x_m: Any, y_m: Any) -> Optional[Tuple[Any, Any]]:
    """Latitude and longitude of receivers when `config` holds a geographic origin, else None."""
    if not isinstance(config, Mapping) or GEOGRAPHIC_KEY not in config:
        return None
    return lat_lon(config, x_m, y_m)


