"""Pictures of a run with matplotlib: transmission loss on a horizontal or a vertical slice (or on a
map, for a run about a geographic source), the bathymetry, the ray paths in plan and in range-depth
view, and a receiver's arrivals and eigenrays.

Every function draws into the Axes given as `ax` (or into a new figure from pyplot when none is
given) and returns that Axes. matplotlib is imported only when a function draws. The field may be
given as the result dict of a run, `FieldArrays`, a `SavedRun` from `abyx_tools.files.load` (or the
path of the file, read with it), or a dataset from `abyx_tools.dataset.to_dataset`; ray paths and
configurations likewise.

Bearings follow the launch azimuths: 0 deg along +y, 90 deg along +x. Depth is drawn positive
downwards. Transmission loss is `-20 log10 |p|` in dB re 1 m; receivers that no ray reached are drawn
in grey.
"""

from __future__ import annotations

import math
import os
from collections.abc import Mapping, Sequence
from typing import Any, List, Optional, Tuple

from abyx_tools import arrival_tables
from abyx_tools._extras import require
from abyx_tools.arrival_tables import arrival_arrays
from abyx_tools.results import (
    FieldArrays,
    RayPath,
    bilinear,
    polar_positions_m,
    ray_paths,
    seabed_depth_m,
    source_position_of,
    to_arrays,
    with_config,
)
from abyx_tools.runtime import keyed_config, plain_config
from abyx_tools.saved import SavedRun, is_dataset, opened

np = require("numpy", "abyx_tools.plot")

__all__ = [
    "arrivals",
    "bathymetry",
    "eigenrays",
    "impulse_response",
    "rays_plan",
    "rays_range_depth",
    "sound_speed",
    "tl_horizontal",
    "tl_map",
    "tl_vertical",
]

_FEATURE = "abyx_tools.plot"
# Samples along the bearing of a vertical slice when no range step is given.
DEFAULT_RANGE_SAMPLES = 400
# Relative tolerance within which a requested depth or frequency equals a grid value.
MATCH_TOLERANCE = 1e-6
# Colour limits of a transmission-loss picture: these percentiles of the finite values.
TL_COLOUR_PERCENTILES = (2.0, 98.0)
TL_COLOUR_SPAN_DB = 60.0  # default colour limits are at most this far apart: deep shadows clip
_TL_LABEL = "transmission loss (dB re 1 m)"
SEABED_COLOUR = "tan"
SEABED_BAND = 1.05  # a vertical slice shows the seabed at least this far below its deepest point (relative)
# A polar plan view draws each bearing's cells as arcs of steps of at most this (deg).
SECTOR_STEP_DEG = 1.0
# Positions, depths and bearings in titles are rounded to this many decimals (a millimetre).
TITLE_DECIMALS = 3
# A ray's bearing, from its first step, matches a requested azimuth within this (deg).
AZIMUTH_TOLERANCE_DEG = 0.05


def _axes(ax: Any) -> Any:
    if ax is not None:
        return ax
    plt = require("matplotlib.pyplot", _FEATURE)
    _, new = plt.subplots(figsize=(7.0, 5.0), layout="constrained")
    return new


def _field(data: Any) -> FieldArrays:
    data = opened(data)
    if isinstance(data, FieldArrays):
        return data
    if isinstance(data, SavedRun):
        return data.field
    return to_arrays(data)


def _paths(data: Any) -> List[RayPath]:
    data = opened(data)
    if isinstance(data, SavedRun):
        data = data.ray_paths
    elif isinstance(data, Mapping):
        return ray_paths(data)
    if data is None:
        raise ValueError(
            "no ray paths to draw: run with beam.store_ray_paths set to true to keep them"
        )
    return [
        p if isinstance(p, RayPath) else RayPath(i, np.asarray(p).reshape(-1, 3))
        for i, p in enumerate(data)
    ]


def _config(data: Any, section: str = "bathymetry", what: str = "a bathymetry") -> Mapping[str, Any]:
    """The configuration given, or held by a saved run or a dataset, with `section` in it."""
    data = opened(data)
    config = keyed_config(data.config if isinstance(data, SavedRun) else data)
    if not isinstance(config, Mapping) or section not in config:
        raise ValueError(f"no configuration with {what} to draw: pass the run's config")
    return config


def _config_or_none(data: Any) -> Optional[Mapping[str, Any]]:
    try:
        return _config(data)
    except ValueError:
        return None


def _frequency_index(field: FieldArrays, frequency_hz: Optional[float]) -> int:
    count = field.frequency_hz.size
    if count == 0:
        raise ValueError("the run has no frequencies, so there is no transmission loss to draw")
    if frequency_hz is None:
        return 0
    frequency_hz = _finite(frequency_hz, "frequency_hz")
    gaps = np.abs(field.frequency_hz.astype(np.float64) - frequency_hz)
    best = int(np.argmin(gaps))
    if gaps[best] > MATCH_TOLERANCE * max(1.0, abs(frequency_hz)):
        available = ", ".join(f"{f:g}" for f in field.frequency_hz)
        raise ValueError(f"the run has no frequency {frequency_hz:g} Hz (it has {available} Hz)")
    return best


def _finite(value: Any, what: str) -> float:
    """A slice's position as a finite float, or a ValueError naming it."""
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{what} must be a finite number, got {value!r}")
    return number


def _label(value: Any) -> str:
    """A coordinate for a title, rounded to the millimetre so that rounding noise (a y of 1e-13 m on
    the bearing 90 deg) does not show."""
    return f"{round(float(value), TITLE_DECIMALS) + 0.0:g}"


def _bracket(axis: Any, value: float, what: str, unit: str = "m") -> Tuple[int, int, float]:
    """Indices i0, i1 and weight w of `value` on an ascending axis, value = (1-w) axis[i0] +
    w axis[i1]; a value on a node gives that node twice. Raises ValueError outside the axis."""
    value = _finite(value, what)
    lo, hi = float(axis[0]), float(axis[-1])
    # relative to the axis, as the range interval of a slice is: its ends may round past the grid
    tolerance = MATCH_TOLERANCE * max(1.0, abs(value), abs(lo), abs(hi))
    if not lo - tolerance <= value <= hi + tolerance:
        raise ValueError(f"{what} {value:g} {unit} is outside the receiver grid ({lo:g} to {hi:g} {unit})")
    value = min(max(value, lo), hi)
    nearest = int(np.argmin(np.abs(axis.astype(np.float64) - value)))
    if abs(float(axis[nearest]) - value) <= tolerance:
        return nearest, nearest, 0.0
    upper = int(np.searchsorted(axis, value))
    lower = upper - 1
    return lower, upper, (value - float(axis[lower])) / (float(axis[upper]) - float(axis[lower]))


def _blend(a: Any, b: Any, weight: Any) -> Any:
    """(1-w) a + w b, where a value of zero weight does not spread its NaN."""
    weight = np.asarray(weight)
    return np.where(weight == 1.0, b, a * (1.0 - weight)) + np.where(weight == 0.0, 0.0, b * weight)


def _edges(centres: Any) -> Any:
    """Cell edges around node values: midpoints inside, half a spacing beyond the ends."""
    centres = np.asarray(centres, dtype=np.float64)
    if centres.size == 1:
        return np.array([centres[0] - 0.5, centres[0] + 0.5])
    middle = 0.5 * (centres[1:] + centres[:-1])
    return np.concatenate(
        [
            [centres[0] - (middle[0] - centres[0])],
            middle,
            [centres[-1] + (centres[-1] - middle[-1])],
        ]
    )


def _colour_limits(values: Any, vmin: Optional[float], vmax: Optional[float]) -> Tuple[Any, Any]:
    finite = values[np.isfinite(values)]
    if finite.size == 0:
        return vmin, vmax
    low, high = (float(v) for v in np.percentile(finite, TL_COLOUR_PERCENTILES))
    # the default limit stays on its side of a given one: the full span from it where the slice
    # lies beyond that bound
    if vmin is None and vmax is not None:
        low = max(low, vmax - TL_COLOUR_SPAN_DB) if low < vmax else vmax - TL_COLOUR_SPAN_DB
    else:
        high = min(high, (low if vmin is None else vmin) + TL_COLOUR_SPAN_DB)
        if vmin is not None and not high > vmin:
            high = vmin + TL_COLOUR_SPAN_DB
    return (low if vmin is None else vmin, high if vmax is None else vmax)


def _polar_mesh(field: FieldArrays, values: Any) -> Tuple[Any, Any, Any]:
    """x and y of the cell corners around a polar field's (range, bearing) nodes, ranges from 0 up,
    each bearing's cells cut into arcs of at most SECTOR_STEP_DEG, and `values` repeated over them."""
    edges = _edges(field.bearing_deg)
    steps = np.maximum(1, np.ceil(np.diff(edges) / SECTOR_STEP_DEG - 1e-9)).astype(int)
    arcs = [np.linspace(a, b, n, endpoint=False) for a, b, n in zip(edges[:-1], edges[1:], steps)]
    bearings = np.concatenate([*arcs, edges[-1:]])
    x, y = polar_positions_m(np.maximum(_edges(field.range_m), 0.0), bearings, field.source_position_m)
    return x, y, np.repeat(values, steps, axis=1)


def _mesh_args(field: FieldArrays, values: Any) -> Tuple[Any, Any, Any]:
    """pcolormesh's corners and cell values for `values` indexed [i1, i2] on a field's horizontal axes."""
    if field.is_polar:
        return _polar_mesh(field, values)
    return _edges(field.x_m), _edges(field.y_m), values.T


def _tl_mesh(ax: Any, corners_x: Any, corners_y: Any, cells: Any, cmap: str, vmin: Any, vmax: Any,
             **where: Any) -> Any:
    """pcolormesh of the cells between the corners, with a colour bar; `where` goes to pcolormesh
    (a map's transform)."""
    matplotlib = require("matplotlib", _FEATURE)
    colours = matplotlib.colormaps[cmap].with_extremes(bad="0.8")
    low, high = _colour_limits(cells, vmin, vmax)
    mesh = ax.pcolormesh(
        corners_x, corners_y, np.ma.masked_invalid(cells), cmap=colours, vmin=low, vmax=high, **where
    )
    ax.figure.colorbar(mesh, ax=ax, label=_TL_LABEL)
    return mesh


def _plane_field(data: Any, what: str) -> FieldArrays:
    field = _field(data)
    if field.is_array:
        raise ValueError(
            f"{what} needs receivers on a grid; this run has a list of receiver points"
        )
    return field


def _plane(field: FieldArrays, depth_m: float, frequency_hz: Optional[float], incoherent: bool) -> Tuple[int, Any]:
    """The frequency index and the loss over the horizontal axes at `depth_m`, linear in depth between
    the two receiver levels around it; NaN marks receivers below the seabed (where the field knows it)
    as seabed with the value True of the mask returned beside it."""
    k = _frequency_index(field, frequency_hz)
    z0, z1, weight = _bracket(field.z_m, float(depth_m), "depth")
    loss = field.loss_db(incoherent)[k].astype(np.float64)
    plane = _blend(loss[:, :, z0], loss[:, :, z1], weight)
    below = None
    if field.in_water is not None:
        below = ~np.asarray(field.in_water)[:, :, z0] | ~np.asarray(field.in_water)[:, :, z1]
    return k, (plane, below)


def _draw_plane(ax: Any, field: FieldArrays, plane: Tuple[Any, Any], colours: Tuple[str, Any, Any],
                place: Any, **where: Any) -> None:
    """The loss and the seabed of `_plane` in their cells, whose corners (x, y) `place` maps to the
    Axes' coordinates; `where` goes to pcolormesh."""
    loss, below = plane
    corners_x, corners_y, cells = _mesh_args(field, loss)
    corners_x, corners_y = place(corners_x, corners_y)
    _tl_mesh(ax, corners_x, corners_y, cells, *colours, **where)
    if below is not None and below.any():
        # receivers below the seabed are outside the model: drawn as seabed, over the grey of the
        # unreached ones
        matplotlib = require("matplotlib", _FEATURE)
        seabed = matplotlib.colors.ListedColormap([SEABED_COLOUR])
        cells = _mesh_args(field, below)[2]
        ax.pcolormesh(corners_x, corners_y, np.ma.masked_where(~cells, cells), cmap=seabed, zorder=2, **where)


def tl_map(
    data: Any,
    depth_m: float,
    *,
    frequency_hz: Optional[float] = None,
    ax: Any = None,
    cmap: str = "viridis_r",
    vmin: Optional[float] = None,
    vmax: Optional[float] = None,
    incoherent: bool = False,
    config: Optional[Mapping[str, Any]] = None,
) -> Any:
    """`tl_horizontal` on a map: over longitude and latitude, for a run built by
    `abyx_tools.ocean.config` (its configuration given as `config`, or held by the dataset or the
    saved file given). Drawn on plain Axes (longitude stretched by 1 / cos(latitude) of the source)
    or, when `ax` is a cartopy GeoAxes, in its projection (PlateCarree coordinates)."""
    data = opened(data)
    config = config if config is not None else data.config if isinstance(data, SavedRun) else None
    if not isinstance(config, Mapping) or "geographic" not in config:
        raise ValueError("a map needs the run's geographic origin: pass the configuration abyx_tools.ocean.config "
                         "built (or a dataset or file saved with it)")
    ocean = require("abyx_tools.ocean", "abyx_tools.plot.tl_map", extra="ocean")
    config = keyed_config(plain_config(config))
    field = with_config(_plane_field(data, "a map"), config)
    k, plane = _plane(field, depth_m, frequency_hz, incoherent)
    ax = _axes(ax)
    where = {}
    if hasattr(ax, "projection"):  # a cartopy GeoAxes: the corners are longitudes and latitudes
        where["transform"] = require("cartopy.crs", "abyx_tools.plot.tl_map on GeoAxes", extra="ocean").PlateCarree()

    def on_map(x: Any, y: Any) -> Tuple[Any, Any]:  # longitude and latitude of the corners
        if np.ndim(x) == 1:
            x, y = np.meshgrid(x, y)
        latitude, longitude = ocean.lat_lon(config, x, y)
        return longitude, latitude

    _draw_plane(ax, field, plane, (cmap, vmin, vmax), on_map, **where)
    latitude, longitude = ocean.lat_lon(config, *(field.source_position_m or (0.0, 0.0, 0.0))[:2])
    ax.plot(longitude, latitude, marker="*", color="red", markersize=12, linestyle="", **where)
    if not where:
        ax.set_aspect(1.0 / max(math.cos(math.radians(float(latitude))), 1e-3), adjustable="box")
        ax.set_xlabel("longitude (deg)")
        ax.set_ylabel("latitude (deg)")
    ax.set_title(f"TL at {field.frequency_hz[k]:g} Hz, depth {_label(depth_m)} m")
    return ax


def tl_horizontal(
    data: Any,
    depth_m: float,
    *,
    frequency_hz: Optional[float] = None,
    ax: Any = None,
    cmap: str = "viridis_r",
    vmin: Optional[float] = None,
    vmax: Optional[float] = None,
    incoherent: bool = False,
) -> Any:
    """Transmission loss over x and y at `depth_m`, linear in depth between the two receiver levels
    around it, for `frequency_hz` (the first frequency by default). Colour limits default to the
    2nd and 98th percentiles of the slice. `incoherent` draws the incoherent loss instead. Where the
    field knows the seabed (arrays made with the run's config), receivers below it are drawn as
    seabed. A polar field is drawn in its range-bearing cells (around the source when the field
    knows where it is, else around the origin), its arcs smooth. Receivers in a single row (one x,
    one y, one range or one bearing) are drawn as TL against the position along the row."""
    field = _plane_field(data, "a horizontal slice")
    k, plane = _plane(field, depth_m, frequency_hz, incoherent)
    ax = _axes(ax)
    title = f"TL at {field.frequency_hz[k]:g} Hz, depth {_label(depth_m)} m"
    if 1 in plane[0].shape:  # one row of receivers: a line, not a panel of zero width
        return _tl_line(ax, field, plane[0], title, vmin, vmax)
    _draw_plane(ax, field, plane, (cmap, vmin, vmax), lambda x, y: (x, y))
    if field.source_position_m is not None:
        ax.plot(*field.source_position_m[:2], marker="*", color="red", markersize=12, linestyle="")
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)")
    ax.set_aspect("equal", adjustable="box")
    ax.set_title(title)
    return ax


def _tl_line(ax: Any, field: FieldArrays, plane: Any, title: str, vmin: Any, vmax: Any) -> Any:
    """A horizontal slice through a single row (or column) of receivers: TL against the position
    along it, one mark per receiver; vmin and vmax bound the loss axis."""
    if field.is_polar:
        axes = [("range from the source (m)", field.range_m, "range", "m"),
                ("bearing (deg)", field.bearing_deg, "bearing", "deg")]
    else:
        axes = [("x (m)", field.x_m, "x =", "m"), ("y (m)", field.y_m, "y =", "m")]
    along = 0 if plane.shape[1] == 1 and plane.shape[0] > 1 else 1
    label, positions, _, _ = axes[along]
    _, fixed, name, unit = axes[1 - along]
    ax.plot(np.asarray(positions, dtype=np.float64), np.ravel(plane), marker="o", color="C0")
    ax.set_ylim(vmax, vmin) if vmin is not None and vmax is not None else ax.invert_yaxis()
    ax.set_xlabel(label)
    ax.set_ylabel(_TL_LABEL)
    ax.set_title(f"{title}, {name} {_label(fixed[0])} {unit} ({plane.size} receivers)")
    return ax


def _range_interval(
    origin: Tuple[float, float], direction: Tuple[float, float], field: FieldArrays
) -> Tuple[float, float]:
    """The ranges r >= 0 at which origin + r * direction lies in the receiver grid's x-y box."""
    start, end = 0.0, math.inf
    for o, d, axis in zip(origin, direction, (field.x_m, field.y_m)):
        lo, hi = float(axis[0]), float(axis[-1])
        tolerance = MATCH_TOLERANCE * max(1.0, abs(lo), abs(hi))
        if abs(d) < 1e-12:
            if not lo - tolerance <= o <= hi + tolerance:
                return 0.0, -1.0
            continue
        a, b = sorted(((lo - tolerance - o) / d, (hi + tolerance - o) / d))
        start, end = max(start, a), min(end, b)
    return start, end


def _slice_ranges(
    field: FieldArrays,
    origin: Tuple[float, float],
    direction: Tuple[float, float],
    bearing_deg: float,
    range_step_m: Optional[float],
) -> Any:
    """The ranges of a slice through the receiver grid: the part of the bearing inside it."""
    start, end = _range_interval(origin, direction, field)
    if not end > start:
        raise ValueError(
            f"bearing {bearing_deg:g} deg from ({origin[0]:g}, {origin[1]:g}) m does not cross "
            "the receiver grid"
        )
    if range_step_m is None:
        return np.linspace(start, end, DEFAULT_RANGE_SAMPLES)
    if not range_step_m > 0:
        raise ValueError(f"range_step_m must be positive, got {range_step_m}")
    ranges = np.arange(start, end + 0.5 * range_step_m, range_step_m)
    return ranges[ranges <= end]


def _receiver_section(
    positions: Tuple[Any, Any, Any], loss: Any, origin: Tuple[float, float], direction: Tuple[float, float],
    bearing_deg: float,
) -> Tuple[Any, Any, Any]:
    """Ranges, depths and loss of the receivers at `positions` (x, y, z, flat) that lie on the
    bearing (within 1 m, or a thousandth of their range, of it); a range-depth cell without a
    receiver is NaN."""
    x, y, z = (np.asarray(v, dtype=np.float64) for v in positions)
    dx, dy = x - origin[0], y - origin[1]
    along = dx * direction[0] + dy * direction[1]
    across = dy * direction[0] - dx * direction[1]
    on = (np.abs(across) <= np.maximum(1.0, 1e-3 * np.abs(along))) & (along >= -1.0)
    if not on.any():
        raise ValueError(f"no receiver lies on the bearing {_label(bearing_deg)} deg")
    along = np.round(along[on], 3)  # to the millimetre: receivers at one range share a column
    ranges, columns = np.unique(along, return_inverse=True)
    depths, rows = np.unique(z[on], return_inverse=True)
    section = np.full((ranges.size, depths.size), np.nan)
    section[columns, rows] = loss[on]
    return ranges, depths, section


def tl_vertical(
    data: Any,
    bearing_deg: float,
    *,
    frequency_hz: Optional[float] = None,
    origin_m: Optional[Sequence[float]] = None,
    range_step_m: Optional[float] = None,
    ax: Any = None,
    cmap: str = "viridis_r",
    vmin: Optional[float] = None,
    vmax: Optional[float] = None,
    incoherent: bool = False,
    config: Optional[Mapping[str, Any]] = None,
) -> Any:
    """Transmission loss over range and depth along `bearing_deg` from the source (or from the
    horizontal point `origin_m`). On a receiver grid the pressure magnitude is interpolated
    bilinearly in x and y at every receiver depth (not its logarithm: a null does not spread), at
    ranges covering the part of the bearing inside the grid, every `range_step_m` (400 samples by
    default). Array receivers, and a grid that is a single line of receivers (one x or one y), are
    drawn as they lie, those on the bearing (within 1 m or a thousandth of their range) at their
    ranges and depths, and the title says from how many ranges. A polar field is drawn at its own
    ranges, between the two bearings around `bearing_deg` (across 360 deg where its bearings go
    round the circle). `incoherent` draws the incoherent loss
    instead. With
    the run's configuration (`config`, or the one a saved run or dataset holds) the seabed along
    the slice is drawn over the receivers below it."""
    data = opened(data)  # a file or a dataset is read once, for its field and its seabed
    field = _field(data)
    k = _frequency_index(field, frequency_hz)
    from_source = origin_m is None
    if field.is_polar:
        return _polar_vertical(field, data, k, bearing_deg, origin_m, ax, cmap, vmin, vmax, incoherent, config)
    if origin_m is None:
        if field.source_position_m is None:
            raise ValueError(
                "the source position is unknown: pass origin_m, or the run's config to to_arrays"
            )
        origin_m = field.source_position_m[:2]
    origin = (float(origin_m[0]), float(origin_m[1]))
    bearing = math.radians(_finite(bearing_deg, "bearing"))
    direction = (math.sin(bearing), math.cos(bearing))
    loss = field.loss_db(incoherent)[k].astype(np.float64)
    # receivers points, or a grid that is a single line of receivers, are drawn where they lie
    as_they_lie = field.is_array or min(field.x_m.size, field.y_m.size) == 1
    if as_they_lie:
        ranges, depths, section = _receiver_section(field.positions_m(), loss.ravel(), origin, direction, bearing_deg)
    else:
        ranges, depths = _slice_ranges(field, origin, direction, bearing_deg, range_step_m), field.z_m
        # the magnitude is interpolated, not its logarithm, so that a null does not spread
        magnitude = 10.0 ** (-loss / 20.0)
        section = np.empty((ranges.size, field.z_m.size))
        for n, r in enumerate(ranges):
            x0, x1, wx = _bracket(field.x_m, origin[0] + r * direction[0], "x")
            y0, y1, wy = _bracket(field.y_m, origin[1] + r * direction[1], "y")
            near = _blend(magnitude[x0, y0], magnitude[x0, y1], wy)
            far = _blend(magnitude[x1, y0], magnitude[x1, y1], wy)
            section[n] = _blend(near, far, wx)
        with np.errstate(divide="ignore"):
            section = np.where(section > 0.0, -20.0 * np.log10(section), np.nan)
    seabed_config = config if config is not None else _config_or_none(data)
    ax = _draw_section(ax, field, k, bearing_deg, origin, direction, from_source, ranges, depths, section,
                       cmap, vmin, vmax, seabed_config)
    if as_they_lie:
        ax.set_title(f"{ax.get_title()}: {ranges.size} receiver ranges, not interpolated")
    return ax


def _polar_vertical(field: FieldArrays, data: Any, k: int, bearing_deg: float, origin_m: Any, ax: Any, cmap: str,
                    vmin: Any, vmax: Any, incoherent: bool, config: Any) -> Any:
    """tl_vertical of a polar field: its own ranges from the source, the pressure magnitude linear
    in bearing between the two bearings around `bearing_deg` (see `_bearing_bracket`)."""
    if origin_m is not None:
        raise ValueError("a polar field is sliced along its bearings from the source: leave origin_m out")
    b0, b1, weight, bearing = _bearing_bracket(np.asarray(field.bearing_deg, dtype=np.float64), bearing_deg)
    magnitude = 10.0 ** (-field.loss_db(incoherent)[k].astype(np.float64) / 20.0)
    section = _blend(magnitude[:, b0], magnitude[:, b1], weight)
    with np.errstate(divide="ignore"):
        section = np.where(section > 0.0, -20.0 * np.log10(section), np.nan)
    # the seabed along the bearing needs the source, from the field or the configuration
    seabed_config = config if config is not None else _config_or_none(data)
    source = field.source_position_m
    if source is None and seabed_config is not None:
        source = source_position_of(plain_config(seabed_config))
    radians = math.radians(bearing)
    return _draw_section(ax, field, k, bearing_deg, source[:2] if source else (0.0, 0.0),
                         (math.sin(radians), math.cos(radians)), True, field.range_m.astype(np.float64), field.z_m,
                         section, cmap, vmin, vmax, seabed_config)


def _bearing_bracket(bearings: Any, bearing_deg: float) -> Tuple[int, int, float, float]:
    """The two bearings of a polar field around `bearing_deg` (taken modulo 360 into their span), their
    weight and the bearing within the span; across 360 deg from the last bearing to the first where
    the bearings go round the circle (that gap no wider than their widest spacing)."""
    lo, hi = float(bearings[0]), float(bearings[-1])
    wrapped = lo + (_finite(bearing_deg, "bearing") - lo) % 360.0
    closing = lo + 360.0 - hi
    tolerance = MATCH_TOLERANCE * 360.0
    if wrapped > hi + tolerance and bearings.size > 1 and closing <= np.diff(bearings).max() + tolerance:
        if 360.0 - (wrapped - lo) <= tolerance:  # the first bearing, a turn on
            return 0, 0, 0.0, lo
        return bearings.size - 1, 0, (wrapped - hi) / closing, wrapped
    bearing = wrapped if wrapped <= hi + tolerance else float(bearing_deg)  # else refused as outside them
    b0, b1, weight = _bracket(bearings, bearing, "bearing", "deg")
    return b0, b1, weight, bearing


def _draw_section(ax: Any, field: FieldArrays, k: int, bearing_deg: float, origin: Any, direction: Any,
                  from_source: bool, ranges: Any, depths: Any, section: Any, cmap: str, vmin: Any, vmax: Any,
                  seabed_config: Any) -> Any:
    """The range-depth section of tl_vertical, with the seabed along it when a configuration is known."""
    ax = _axes(ax)
    range_edges, depth_edges = _edges(ranges), _edges(depths)
    _tl_mesh(ax, range_edges, depth_edges, section.T, cmap, vmin, vmax)
    if seabed_config is not None:
        # over the whole width of the cells, down to their lowest edge or a band below the seabed
        along = np.linspace(range_edges[0], range_edges[-1], DEFAULT_RANGE_SAMPLES)
        seabed = seabed_depth_m(
            plain_config(seabed_config), origin[0] + along * direction[0], origin[1] + along * direction[1]
        )
        deepest = max(float(depth_edges[-1]), SEABED_BAND * float(np.max(seabed)))
        ax.fill_between(along, seabed, deepest, color=SEABED_COLOUR, linewidth=0.0, zorder=3)
    ax.invert_yaxis()
    ax.set_xlabel("range from the source (m)" if from_source else "range (m)")
    ax.set_ylabel("depth (m)")
    ax.set_title(f"TL at {field.frequency_hz[k]:g} Hz, bearing {_label(bearing_deg)} deg")
    return ax


def bathymetry(data: Any, *, ax: Any = None, cmap: str = "Blues") -> Any:
    """The bottom depth of a configuration over x and y, shaded between the grid nodes, with
    depth contours and the source."""
    config = _config(data)
    grid = config["bathymetry"]
    x = np.asarray(grid["x_bty_m"], dtype=np.float64)
    y = np.asarray(grid["y_bty_m"], dtype=np.float64)
    depth = np.asarray(grid["z_bty_m"], dtype=np.float64)
    if x.size == 0 or y.size == 0 or depth.size != x.size * y.size:
        raise ValueError(f"the bathymetry holds {depth.size} depths for a {x.size} x {y.size} grid")
    depth = depth.reshape(x.size, y.size)
    ax = _axes(ax)
    if x.size > 1 and y.size > 1:
        # shaded between the nodes, as the bottom itself is interpolated
        mesh = ax.pcolormesh(x, y, depth.T, cmap=cmap, shading="gouraud")
    else:
        mesh = ax.pcolormesh(_edges(x), _edges(y), depth.T, cmap=cmap)
    ax.figure.colorbar(mesh, ax=ax, label="bottom depth (m)")
    if x.size > 1 and y.size > 1 and np.ptp(depth) > 0:
        ax.contour(x, y, depth.T, colors="white", linewidths=0.6)
    position = config.get("source", {}).get("position")
    if position is not None:
        ax.plot(position[0], position[1], marker="*", color="red", markersize=12, linestyle="")
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)")
    ax.set_aspect("equal", adjustable="box")
    ax.set_title("bathymetry")
    return ax


def _every(paths: List[RayPath], every: int) -> List[RayPath]:
    if isinstance(every, bool) or not isinstance(every, int) or every < 1:
        raise ValueError(f"every must be a positive int, got {every!r}")
    return paths[::every]


def _ray_lines(ax: Any, lines: List[Any], color: Any, linewidth: float, alpha: float) -> None:
    collections = require("matplotlib.collections", _FEATURE)
    ax.add_collection(
        collections.LineCollection(lines, colors=color, linewidths=linewidth, alpha=alpha)
    )
    ax.autoscale_view()


def rays_plan(
    data: Any,
    *,
    every: int = 1,
    ax: Any = None,
    color: Any = "C0",
    linewidth: float = 0.6,
    alpha: float = 0.6,
) -> Any:
    """The ray paths seen from above (x, y), every `every`-th ray, with the source."""
    paths = _every(_paths(data), every)
    ax = _axes(ax)
    _ray_lines(ax, [p.points[:, :2] for p in paths], color, linewidth, alpha)
    if paths and len(paths[0].points):
        ax.plot(*paths[0].points[0, :2], marker="*", color="red", markersize=12, linestyle="")
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)")
    ax.set_aspect("equal", adjustable="box")
    ax.set_title(f"ray paths, plan view ({len(paths)} rays)")
    return ax


def _bearing_deg(path: RayPath) -> float:
    """The launch bearing of a ray from its first horizontal move (deg in [0, 360)); NaN for a ray
    that never moves horizontally."""
    moves = path.points[1:, :2] - path.points[:1, :2]
    moved = np.flatnonzero(np.hypot(moves[:, 0], moves[:, 1]) > 0.0)
    if moved.size == 0:
        return math.nan
    dx, dy = moves[moved[0]]
    return math.degrees(math.atan2(dx, dy)) % 360.0


def _on_bearing(bearing: float, azimuth_deg: Any) -> bool:
    if isinstance(azimuth_deg, (tuple, list)):
        if float(azimuth_deg[1]) - float(azimuth_deg[0]) >= 360.0:
            return True  # the whole circle
        low, high = (float(a) % 360.0 for a in azimuth_deg)
        width = (high - low) % 360.0  # clockwise from the first to the last
        return (bearing - low + AZIMUTH_TOLERANCE_DEG) % 360.0 <= width + 2.0 * AZIMUTH_TOLERANCE_DEG
    gap = abs((bearing - float(azimuth_deg) + 180.0) % 360.0 - 180.0)
    return gap <= AZIMUTH_TOLERANCE_DEG


def rays_range_depth(
    data: Any,
    *,
    every: int = 1,
    azimuth_deg: Any = None,
    ax: Any = None,
    color: Any = "C0",
    linewidth: float = 0.6,
    alpha: float = 0.6,
) -> Any:
    """The ray paths over horizontal range from their launch point and depth, every `every`-th.
    `azimuth_deg` keeps the rays launched along one azimuth (deg, 0 along +y), or within a
    (first, last) interval of azimuths taken clockwise; a ray's azimuth is read from its first
    horizontal move."""
    paths = _paths(data)
    if azimuth_deg is not None:
        paths = [p for p in paths if _on_bearing(_bearing_deg(p), azimuth_deg)]
    paths = _every(paths, every)
    lines = []
    for path in paths:
        offset = path.points[:, :2] - path.points[:1, :2]
        lines.append(np.column_stack([np.hypot(offset[:, 0], offset[:, 1]), path.points[:, 2]]))
    ax = _axes(ax)
    _ray_lines(ax, lines, color, linewidth, alpha)
    ax.invert_yaxis()
    ax.set_xlabel("range from the source (m)")
    ax.set_ylabel("depth (m)")
    ax.set_title(f"ray paths, range-depth view ({len(paths)} rays)")
    return ax


def _bounce_colours(bounces: Any) -> Any:
    """A mappable giving one colour per total bounce count, 0 .. the largest in `bounces`."""
    colors = require("matplotlib.colors", _FEATURE)
    cm = require("matplotlib.cm", _FEATURE)
    mpl = require("matplotlib", _FEATURE)
    highest = int(bounces.max()) if bounces.size else 0
    palette = mpl.colormaps["viridis"].resampled(highest + 1)
    return cm.ScalarMappable(norm=colors.Normalize(-0.5, highest + 0.5), cmap=palette)


def arrivals(
    data: Any,
    receiver: int,
    *,
    frequency_index: int = 0,
    ax: Any = None,
) -> Any:
    """One receiver's arrivals as stems: `20 log10 |A|` (dB re 1 m) against delay, coloured by the
    number of bounces (surface and bottom). `data` is a result dict run with `beam.arrivals`, a
    dataset or a saved file (see `abyx_tools.arrival_arrays`)."""
    arrays = arrival_arrays(data)
    count = arrays.frequency_hz.size
    if not -count <= frequency_index < count:
        raise IndexError(f"frequency_index {frequency_index} is out of range for {count} frequencies")
    chosen = arrays.at(receiver)
    if chosen.size == 0:
        raise ValueError(f"receiver {receiver} has no arrivals")
    level = 20.0 * np.log10(np.maximum(np.abs(arrays.amplitude[frequency_index, chosen]), 1e-300))
    delay = arrays.delay_s[chosen]
    bounces = arrays.n_surface[chosen] + arrays.n_bottom[chosen]
    mappable = _bounce_colours(bounces)
    ax = _axes(ax)
    floor = float(level.min()) - 10.0
    ax.vlines(delay, floor, level, colors=mappable.to_rgba(bounces.astype(np.float64)), linewidth=1.2)
    ax.scatter(delay, level, c=mappable.to_rgba(bounces.astype(np.float64)), s=14, zorder=3)
    ax.set_ylim(bottom=floor)
    ax.figure.colorbar(mappable, ax=ax, label="bounces (surface + bottom)")
    ax.set_xlabel("delay (s)")
    ax.set_ylabel("arrival level (dB re 1 m)")
    x, y, z = (float(v[chosen[0]]) for v in (arrays.x_m, arrays.y_m, arrays.z_m))
    ax.set_title(
        f"arrivals at receiver {receiver} ({_label(x)}, {_label(y)}, {_label(z)}) m, "
        f"{arrays.frequency_hz[frequency_index]:g} Hz"
    )
    return ax


def eigenrays(
    result: Mapping[str, Any],
    receiver: int,
    *,
    ax: Any = None,
    linewidth: float = 1.0,
) -> Any:
    """One receiver's eigenrays (a result run with `beam.eigenrays`) over horizontal range from the
    source and depth, coloured by the number of bounces."""
    if isinstance(result, (str, os.PathLike, SavedRun)) or is_dataset(result):
        raise ValueError("eigenrays are not saved in result files or datasets: draw them from the result dict of "
                         "the run (run with beam.arrivals and beam.eigenrays)")
    if not isinstance(result, Mapping) or "eigenrays" not in result:
        raise ValueError("the result holds no eigenrays: run with beam.arrivals and beam.eigenrays")
    listed = result["arrivals"]
    chosen = [j for j, r in enumerate(listed["receiver"]) if r == receiver]
    if not chosen:
        raise ValueError(f"receiver {receiver} has no arrivals")
    bounces = np.array([listed["n_surface"][j] + listed["n_bottom"][j] for j in chosen])
    mappable = _bounce_colours(bounces)
    ax = _axes(ax)
    for j, count in zip(chosen, bounces):
        points = np.asarray(result["eigenrays"][j]["path"], dtype=np.float64).reshape(-1, 3)
        offset = points[:, :2] - points[:1, :2]
        ax.plot(np.hypot(offset[:, 0], offset[:, 1]), points[:, 2], color=mappable.to_rgba(float(count)),
                linewidth=linewidth)
    ax.figure.colorbar(mappable, ax=ax, label="bounces (surface + bottom)")
    ax.invert_yaxis()
    ax.set_xlabel("range from the source (m)")
    ax.set_ylabel("depth (m)")
    ax.set_title(f"eigenrays of receiver {receiver} ({len(chosen)} arrivals)")
    return ax


def impulse_response(
    data: Any, receiver: int, sample_rate_hz: float, *, ax: Any = None, color: Any = "C0", linewidth: float = 0.8,
    **options: Any,
) -> Any:
    """One receiver's band-limited impulse response against time: its magnitude, or with `real=True`
    the passband response to a pulse of the carrier frequency. `data`, `receiver`, `sample_rate_hz` and
    the `options` (`frequency_index`, `start_s`, `duration_s`, `band_hz`, `real`) are those of
    `abyx_tools.impulse_response`."""
    data = arrival_arrays(data)  # a file is read once
    time, response = arrival_tables.impulse_response(data, receiver, sample_rate_hz, **options)
    frequency = float(data.frequency_hz[options.get("frequency_index", 0)])
    band = options.get("band_hz") or 0.5 * float(sample_rate_hz)
    real = options.get("real", False)
    ax = _axes(ax)
    ax.plot(time, response if real else np.abs(response), color=color, linewidth=linewidth)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("pressure (re 1 m)" if real else "magnitude (re 1 m)")
    what = f"{frequency:g} Hz carrier" if real else f"{frequency:g} Hz"
    ax.set_title(f"impulse response at receiver {receiver}, {what}, {float(band):g} Hz band")
    return ax


def sound_speed(
    config: Any,
    x_m: float = 0.0,
    y_m: float = 0.0,
    *,
    ax: Any = None,
    color: Any = "C0",
) -> Any:
    """The sound-speed profile of a configuration at the horizontal point (x_m, y_m): bilinear in x
    and y at each node depth of the grid (the edge values beyond it), straight between the node
    depths, the nodes marked, down to the deepest node."""
    ssp = plain_config(_config(config, "ssp", "a sound-speed grid"))["ssp"]
    xs, ys, zs = (np.asarray(ssp[key], dtype=np.float64) for key in ("x_ssp_m", "y_ssp_m", "z_ssp_m"))
    speeds = np.asarray(ssp["c_m_s"], dtype=np.float64)
    if speeds.size != xs.size * ys.size * zs.size:
        raise ValueError(
            f"ssp c_m_s holds {speeds.size} values, but its axes need {xs.size * ys.size * zs.size}"
        )
    profile = bilinear(xs, ys, speeds.reshape(xs.size, ys.size, zs.size), float(x_m), float(y_m))
    depths = np.abs(zs)
    ax = _axes(ax)
    ax.plot(profile, depths, color=color, marker="o", markersize=3)
    ax.invert_yaxis()
    ax.set_xlabel("sound speed (m/s)")
    ax.set_ylabel("depth (m)")
    ax.set_title(f"sound speed at ({_label(x_m)}, {_label(y_m)}) m")
    return ax
