"""The result dict of `abyx.run_simulation` as NumPy arrays.

The module returns flat lists in row-major order (last index fastest) with an explicit shape
(nf, n1, n2, n3). Here they become arrays shaped as the receivers were configured:

* grid mode: pressure and transmission loss (frequency, nx, ny, nz), delay and amplitude
  (nx, ny, nz);
* array mode: pressure and transmission loss (frequency, receiver), delay and amplitude
  (receiver,); but with the run's configuration, receivers that lie on ranges x depths along one
  or more bearings from the source (as `abyx_tools.config` lays them out), every combination once,
  in any order, are shaped as polar ones, their axes sorted;
* polar mode: pressure and transmission loss (frequency, range, bearing, depth), delay and
  amplitude (range, bearing, depth).

Receivers that no ray reached hold pressure 0, delay inf and amplitude 0; their transmission loss
is NaN. With the run's configuration the arrays also know which receivers lie below the seabed
(`in_water` False): they are outside the model, and their transmission loss is NaN too.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass, replace
from typing import Any, List, NamedTuple, Optional, Tuple

from abyx_tools._extras import require
from abyx_tools.runtime import keyed_config
from abyx_tools.schema import FIELD_KEYS

np = require("numpy", "abyx_tools.results")

__all__ = [
    "FieldArrays",
    "RayPath",
    "polar_positions_m",
    "ray_paths",
    "seabed_depth_m",
    "source_position_of",
    "to_arrays",
    "transmission_loss_db",
    "with_config",
]

class RayPath(NamedTuple):
    """One traced ray: its index in the launch list (azimuth-major: azimuth a, elevation e of N_el
    elevations has index a * N_el + e) and its points, an (n, 3) float32 array of x, y, z (m)."""

    ray_index: int  # position of the ray's (azimuth, elevation) pair in the launch list
    points: Any  # (n, 3) float32 array of positions, launch point first (m)


@dataclass(frozen=True)
class FieldArrays:
    """The field at the receivers as arrays.

    In grid mode `x_m`, `y_m`, `z_m` are the three receiver axes; in array mode they are the
    coordinates of each receiver (length n each). In polar mode `range_m` and `bearing_deg` are the
    first two axes, `z_m` the third, and `x_m`, `y_m` the horizontal position of every (range,
    bearing) pair, shaped (n_range, n_bearing): from the source when the arrays know its position,
    else relative to it. Receivers listed as points that lie on ranges x depths along bearings take
    the polar layout too (with the run's configuration), `receiver_index` holding the run's index
    of each and `x_m`, `y_m` their positions as the run returned them."""

    frequency_hz: Any  # (nf,) float32, the source frequencies (Hz)
    pressure: Any  # complex64, (nf, nx, ny, nz) in grid mode, (nf, n) in array mode
    delay_s: Any  # float32, (nx, ny, nz) or (n,): earliest arrival, inf where none (s)
    amplitude: Any  # float32, (nx, ny, nz) or (n,): amplitude of that arrival, 0 where none
    x_m: Any  # float32: receiver x axis (grid) or x per receiver (array) (m)
    y_m: Any  # float32: receiver y axis (grid) or y per receiver (array) (m)
    z_m: Any  # float32: receiver depth axis (grid) or depth per receiver (array) (m, down)
    is_array: bool  # True for a list of receiver points, False for a receiver grid
    source_position_m: Optional[Tuple[float, float, float]] = None  # source x, y, z when known (m)
    intensity: Any = None  # float32 shaped as `pressure`: incoherent intensity, when the run summed it
    in_water: Any = None  # bool, receiver shape: not below the seabed (known with the run's config)
    range_m: Any = None  # float32, polar mode only: the ranges from the source (m)
    bearing_deg: Any = None  # float32, polar mode only: the bearings (deg, 0 along +y, 90 along +x)
    receiver_index: Any = None  # int, receivers listed as points but shaped as polar: the result's index of each

    @property
    def is_polar(self) -> bool:
        """True for receivers at every (range, bearing, depth) around the source."""
        return self.range_m is not None

    def positions_m(self) -> Tuple[Any, Any, Any]:
        """x, y and z of every receiver, flat in the order of the result's receiver index."""
        if self.is_array:
            return self.x_m, self.y_m, self.z_m
        n3 = self.z_m.size
        if self.is_polar:
            x, y = (np.repeat(np.ravel(v), n3) for v in (self.x_m, self.y_m))
            z = np.tile(self.z_m, self.x_m.size)
            if self.receiver_index is None:
                return x, y, z
            order = np.ravel(self.receiver_index)
            return tuple(_placed(values, order) for values in (x, y, z))
        x, y, z = np.meshgrid(self.x_m, self.y_m, self.z_m, indexing="ij")
        return x.ravel(), y.ravel(), z.ravel()

    @property
    def transmission_loss_db(self) -> Any:
        """`-20 log10 |p|` (dB re 1 m), shaped as `pressure`, NaN where no ray arrived and, with the
        run's config, below the seabed."""
        return self._in_water_only(transmission_loss_db(self.pressure))

    def _in_water_only(self, loss: Any) -> Any:
        if self.in_water is not None:
            loss[..., ~np.asarray(self.in_water)] = np.nan
        return loss

    @property
    def incoherent_transmission_loss_db(self) -> Any:
        """-10 log10 of the incoherent intensity (dB re 1 m), shaped as `pressure`, NaN where no ray
        arrived; a ValueError when the run did not sum it (`beam.incoherent`)."""
        if self.intensity is None:
            raise ValueError("the run has no incoherent intensity: set beam.incoherent to true")
        return self._in_water_only(
            transmission_loss_db(np.sqrt(np.asarray(self.intensity, dtype=np.float64)))
        )

    def loss_db(self, incoherent: bool = False) -> Any:
        """`transmission_loss_db`, or `incoherent_transmission_loss_db` when `incoherent`."""
        return self.incoherent_transmission_loss_db if incoherent else self.transmission_loss_db


def transmission_loss_db(pressure: Any) -> Any:
    """`-20 log10 |p|` in dB re 1 m, as float32 of the shape of `pressure`. Entries with `|p| = 0` (no
    ray arrived) or a non-finite pressure are NaN; no floating-point warning is raised."""
    magnitude = np.abs(np.asarray(pressure)).astype(np.float64)
    reached = np.isfinite(magnitude) & (magnitude > 0.0)
    loss = np.full(magnitude.shape, np.nan)
    np.log10(magnitude, out=loss, where=reached)
    loss[reached] *= -20.0
    return loss.astype(np.float32)


def _pressure_field(result: Mapping[str, Any]) -> Mapping[str, Any]:
    """The pressure-field dict of a whole result, or `result` itself when it is that dict."""
    if not isinstance(result, Mapping):
        raise TypeError(
            f"expected the result dict of abyx.run_simulation, got {type(result).__name__}"
        )
    field = result.get("pressure_field", result)
    if not isinstance(field, Mapping):
        raise TypeError(f"result['pressure_field'] must be a dict, got {type(field).__name__}")
    missing = [key for key in FIELD_KEYS if key not in field]
    if missing:
        raise ValueError(f"not a pressure field: missing key(s) {', '.join(missing)}")
    return field


def _flat(field: Mapping[str, Any], key: str, count: int, dtype: Any) -> Any:
    values = np.asarray(field[key], dtype=dtype)
    if values.ndim != 1 or values.size != count:
        raise ValueError(
            f"pressure field '{key}' holds {values.size} values, but its shape "
            f"{tuple(field['shape'])} needs {count}"
        )
    return values


def source_position_of(config: Optional[Mapping[str, Any]]) -> Optional[Tuple[float, float, float]]:
    """The source position of a configuration, with its depth made positive as validation does,
    or None without a configuration."""
    if config is None:
        return None
    x, y, z = (float(v) for v in keyed_config(config)["source"]["position"])
    return (x, y, abs(z))  # a negative source depth is read as a depth given with the wrong sign


def axis_cells(axis: Any, values: Any) -> Tuple[Any, Any, Any]:
    """Lower and upper node and the local coordinate in [0, 1] of each value on a grid axis; beyond
    the axis the end cell's edge holds, as the tracer's bottom does."""
    if axis.size < 2:
        zero = np.zeros(values.shape, dtype=np.intp)
        return zero, zero, np.zeros(values.shape)
    lower = np.clip(np.searchsorted(axis, values, side="right") - 1, 0, axis.size - 2)
    t = np.clip((values - axis[lower]) / (axis[lower + 1] - axis[lower]), 0.0, 1.0)
    return lower, lower + 1, t


def seabed_depth_m(config: Mapping[str, Any], x_m: Any, y_m: Any) -> Any:
    """The bottom depth (m) of `config`'s bathymetry at the points (x_m, y_m), interpolated as the
    tracer interpolates it: bilinear in the grid cell, the edge values beyond the grid."""
    bathymetry = keyed_config(config)["bathymetry"]
    xs = np.asarray(bathymetry["x_bty_m"], dtype=np.float64)
    ys = np.asarray(bathymetry["y_bty_m"], dtype=np.float64)
    depth = np.abs(np.asarray(bathymetry["z_bty_m"], dtype=np.float64)).reshape(xs.size, ys.size)
    return bilinear(xs, ys, depth, x_m, y_m)


def bilinear(xs: Any, ys: Any, grid: Any, x_m: Any, y_m: Any) -> Any:
    """`grid` (indexed [ix, iy, ...] on the axes xs, ys) at the points (x_m, y_m): bilinear in the
    cell, the edge values beyond the axes."""
    x0, x1, tx = axis_cells(xs, np.asarray(x_m, dtype=np.float64))
    y0, y1, ty = axis_cells(ys, np.asarray(y_m, dtype=np.float64))
    tx, ty = (np.expand_dims(t, tuple(range(t.ndim, t.ndim + grid.ndim - 2))) for t in (tx, ty))
    return ((1 - tx) * (1 - ty) * grid[x0, y0] + (1 - tx) * ty * grid[x0, y1]
            + tx * (1 - ty) * grid[x1, y0] + tx * ty * grid[x1, y1])


def _in_water(config: Optional[Mapping[str, Any]], x: Any, y: Any, z: Any) -> Any:
    """Receivers not below the seabed; x, y, z broadcast to the receiver shape. None without config."""
    if config is None:
        return None
    return np.asarray(z, dtype=np.float64) <= seabed_depth_m(config, x, y)


def with_config(field: FieldArrays, config: Optional[Mapping[str, Any]]) -> FieldArrays:
    """`field` with what the run's config tells of it and it does not know yet: the source position,
    and which receivers lie below the seabed."""
    if config is None:
        return field
    source = field.source_position_m or source_position_of(config)
    in_water = field.in_water
    if in_water is None:
        z = np.asarray(field.z_m, np.float64)
        if field.is_array:
            in_water = _in_water(config, field.x_m, field.y_m, z)
        elif field.is_polar:
            x, y = polar_positions_m(field.range_m, field.bearing_deg, source)
            in_water = _in_water(config, x[:, :, None], y[:, :, None], z[None, None, :])
        else:
            in_water = _in_water(config, np.asarray(field.x_m)[:, None, None],
                                 np.asarray(field.y_m)[None, :, None], z[None, None, :])
    return replace(field, source_position_m=source, in_water=in_water)


def polar_positions_m(range_m: Any, bearing_deg: Any, source: Optional[Sequence[float]]) -> Tuple[Any, Any]:
    """x and y (float32, shaped (n_range, n_bearing)) of polar receivers around the source, or
    relative to it when `source` is None; computed as the module places them."""
    x0, y0 = (np.float32(v) for v in (source[:2] if source is not None else (0.0, 0.0)))
    radians = np.asarray(bearing_deg, np.float32) * np.float32(0.017453292)
    r = np.asarray(range_m, np.float32)[:, None]
    return x0 + r * np.sin(radians)[None, :], y0 + r * np.cos(radians)[None, :]


def to_arrays(result: Mapping[str, Any], config: Optional[Mapping[str, Any]] = None) -> FieldArrays:
    """The field of a result dict (or of its "pressure_field" dict) as arrays. With the run's
    `config` the arrays also know the source position (for slices along a bearing)."""
    field = _pressure_field(result)
    shape = tuple(int(n) for n in field["shape"])
    if len(shape) != 4 or min(shape) < 0:
        raise ValueError(f"pressure field 'shape' must be four sizes, got {field['shape']!r}")
    nf, n1, n2, n3 = shape
    receivers = n1 * n2 * n3
    re = _flat(field, "pressure_re", nf * receivers, np.float32)
    im = _flat(field, "pressure_im", nf * receivers, np.float32)
    delay = _flat(field, "delay_s", receivers, np.float32)
    amplitude = _flat(field, "amplitude", receivers, np.float32)
    frequency = _flat(field, "frequency_hz", nf, np.float32)
    pressure = np.empty(nf * receivers, dtype=np.complex64)
    pressure.real = re
    pressure.imag = im
    intensity = (
        _flat(field, "intensity", nf * receivers, np.float32) if "intensity" in field else None
    )
    is_array = "receiver_positions_m" in field
    if is_array:
        positions = np.asarray(field["receiver_positions_m"], dtype=np.float32).reshape(-1, 3)
        if positions.shape[0] != n1 or n2 != 1 or n3 != 1:
            raise ValueError(
                f"array-mode shape {shape} does not match {positions.shape[0]} receiver positions"
            )
        points = FieldArrays(
            frequency_hz=frequency,
            pressure=pressure.reshape(nf, n1),
            delay_s=delay,
            amplitude=amplitude,
            x_m=positions[:, 0].copy(),
            y_m=positions[:, 1].copy(),
            z_m=positions[:, 2].copy(),
            is_array=True,
            source_position_m=source_position_of(config),
            intensity=None if intensity is None else intensity.reshape(nf, n1),
            in_water=_in_water(config, positions[:, 0], positions[:, 1], positions[:, 2]),
        )
        return points if config is None else _polar_from_points(points, config)
    polar = "range_m" in field
    axes = []
    for key, size in (("range_m" if polar else "x_m", n1), ("bearing_deg" if polar else "y_m", n2), ("z_m", n3)):
        if key not in field:
            raise ValueError(f"{'polar' if polar else 'grid'}-mode pressure field has no '{key}' axis")
        axes.append(_flat(field, key, size, np.float32))
    source = source_position_of(config)
    if polar:  # x and y per (range, bearing)
        x, y = polar_positions_m(axes[0], axes[1], source)
        column_x, column_y = x[:, :, None], y[:, :, None]
    else:
        x, y = axes[0], axes[1]
        column_x, column_y = x[:, None, None], y[None, :, None]
    return FieldArrays(
        frequency_hz=frequency,
        pressure=pressure.reshape(shape),
        delay_s=delay.reshape(shape[1:]),
        amplitude=amplitude.reshape(shape[1:]),
        x_m=x,
        y_m=y,
        z_m=axes[2],
        is_array=False,
        source_position_m=source,
        intensity=None if intensity is None else intensity.reshape(shape),
        in_water=_in_water(config, column_x, column_y, axes[2][None, None, :]),
        range_m=axes[0] if polar else None,
        bearing_deg=axes[1] if polar else None,
    )


def _placed(values: Any, order: Any) -> Any:
    placed = np.empty_like(values)
    placed[order] = values
    return placed


def _clusters(values: Any, tolerance: float) -> Tuple[Any, Any]:
    """The distinct values (ascending, the first of each cluster) and the cluster of each value: values
    within `tolerance` (relative, at least 1) of their neighbour below are one."""
    order = np.argsort(values, kind="stable")
    ordered = values[order]
    starts = np.concatenate([[True], np.diff(ordered) > tolerance * np.maximum(1.0, np.abs(ordered[1:]))])
    labels = np.empty(values.size, dtype=np.intp)
    labels[order] = np.cumsum(starts) - 1
    return ordered[starts], labels


def _polar_product(config: Mapping[str, Any], count: int) -> Optional[Tuple[Any, Any, Any, Any]]:
    """Ranges, bearings (deg, 0 to 360), depths and the receiver index shaped (range, bearing, depth)
    of an array of `count` receivers that holds every combination of them once, or None. A receiver
    at the source's own x and y lies on every bearing: those are given their bearings in the order
    the others first take them."""
    cfg = keyed_config(config)
    receivers, source = cfg.get("receivers"), source_position_of(config)
    if not isinstance(receivers, Mapping) or receivers.get("config_type") != "array" or source is None:
        return None
    try:
        x, y, z = (np.asarray(receivers[k], dtype=np.float64) for k in ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m"))
    except (KeyError, TypeError, ValueError):
        return None
    if not (x.shape == y.shape == z.shape == (count,)) or count < 2:
        return None
    dx, dy = x - source[0], y - source[1]
    r = np.hypot(dx, dy)
    at_source = r <= 1e-9 * np.maximum(1.0, np.abs(x) + np.abs(y))
    bearing = np.degrees(np.arctan2(dx, dy)) % 360.0
    if at_source.all():
        return None
    ranges, ir = _clusters(r, 1e-9)
    depths, iz = _clusters(np.abs(z), 0.0)
    bearings, ib = _clusters(bearing[~at_source], 1e-9)
    in_order_seen = np.argsort(np.unique(ib, return_index=True)[1])
    ib_all = np.zeros(count, dtype=np.intp)
    ib_all[~at_source] = ib
    for k in range(depths.size if at_source.any() else 0):  # the j-th at depth k takes the j-th bearing
        here = np.flatnonzero(at_source & (iz == k))
        if here.size != bearings.size:
            return None
        ib_all[here] = in_order_seen
    shape = (ranges.size, bearings.size, depths.size)
    if int(np.prod(shape)) != count:
        return None
    index = np.full(shape, -1, dtype=np.intp)
    index[ir, ib_all, iz] = np.arange(count)
    if np.any(index < 0):
        return None  # some combination twice, another missing
    return ranges, bearings, depths, index


def _polar_from_points(field: FieldArrays, config: Mapping[str, Any]) -> FieldArrays:
    """An array-mode field whose receivers form a product of ranges, bearings and depths, shaped as a
    polar one with its receiver_index; else the field as it is."""
    product = _polar_product(config, field.x_m.size)
    if product is None:
        return field
    ranges, bearings, depths, index = product
    x, y = field.x_m[index[:, :, 0]], field.y_m[index[:, :, 0]]
    return replace(
        field,
        pressure=field.pressure[:, index],
        delay_s=field.delay_s[index],
        amplitude=field.amplitude[index],
        x_m=x,
        y_m=y,
        z_m=np.asarray(depths, np.float32),
        is_array=False,
        intensity=None if field.intensity is None else field.intensity[:, index],
        in_water=None if field.in_water is None else np.asarray(field.in_water)[index],
        range_m=np.asarray(ranges, np.float32),
        bearing_deg=np.asarray(bearings, np.float32),
        receiver_index=index,
    )


def ray_paths(result: Mapping[str, Any]) -> List[RayPath]:
    """The traced rays of a result dict, in ray-index order, each as a `RayPath` with an (n, 3)
    array. Raises ValueError when the run did not store them (beam.store_ray_paths false)."""
    if not isinstance(result, Mapping):
        raise TypeError(
            f"expected the result dict of abyx.run_simulation, got {type(result).__name__}"
        )
    if "ray_paths" not in result:
        raise ValueError(
            "the result holds no ray paths: run with beam.store_ray_paths set to true to keep them"
        )
    paths: Sequence[Any] = result["ray_paths"]
    return [
        RayPath(index, np.asarray(points, dtype=np.float32).reshape(-1, 3))
        for index, points in enumerate(paths)
    ]
