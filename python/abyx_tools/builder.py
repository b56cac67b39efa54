"""A whole configuration from what a study has: water depth, sound speed, bottom, source, receivers.

`config(...)` returns the plain dict that `abyx.run_simulation` takes, so it can still be edited.
Everything it chooses (the grids around the source, the fan, the step and the range) is written
into that dict, and the README lists the rules.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Mapping, Sequence
from typing import Any, Dict, List, Optional, Tuple

from abyx_tools._extras import require
from abyx_tools.fans import FanSpacing, suggest_fan
from abyx_tools.runtime import plain_config

np = require("numpy", "abyx_tools.config")

__all__ = ["SEDIMENTS", "config"]

# Typical fluid sediments: compressional speed (m/s), density (g/cm^3) and attenuation (dB per
# wavelength), as the usual geoacoustic tables give them.
SEDIMENTS: Dict[str, Dict[str, float]] = {
    "clay": {"compressional_speed_m_s": 1500.0, "density_g_cm3": 1.5,
            "compressional_attenuation_db_per_wavelength": 0.2},
    "silt": {"compressional_speed_m_s": 1575.0, "density_g_cm3": 1.7,
            "compressional_attenuation_db_per_wavelength": 1.0},
    "sand": {"compressional_speed_m_s": 1650.0, "density_g_cm3": 1.9,
            "compressional_attenuation_db_per_wavelength": 0.8},
    "gravel": {"compressional_speed_m_s": 1800.0, "density_g_cm3": 2.0,
              "compressional_attenuation_db_per_wavelength": 0.6},
}

_NICE_STEPS_DEG = (2.0, 1.0, 0.5, 0.25, 0.2, 0.1, 0.05, 0.02, 0.01)
_STEEPEST_DEG = 80.0  # the automatic fan's elevations reach this far up and down
_PROFILE_NODES = 101  # grid nodes per axis for a depth profile along an oblique bearing


def _is_number(value: Any) -> bool:
    """A real number: a Python or NumPy scalar, or a 0-d array of one; not a bool."""
    if isinstance(value, (bool, np.bool_)):
        return False
    if isinstance(value, np.ndarray):
        return value.ndim == 0 and (np.issubdtype(value.dtype, np.integer) or np.issubdtype(value.dtype, np.floating))
    return isinstance(value, numbers.Real)


def _floats(values: Any, what: str, may_be_empty: bool = False) -> List[float]:
    array = np.atleast_1d(np.asarray(values, dtype=np.float64))
    if array.ndim != 1 or (array.size == 0 and not may_be_empty) or not np.all(np.isfinite(array)):
        raise ValueError(f"{what} must be one or more finite numbers")
    return [float(v) for v in array]


def _bottom_model(bottom: Any) -> Dict[str, Any]:
    if isinstance(bottom, Mapping):
        return dict(plain_config(bottom))
    if isinstance(bottom, str) and bottom.lower() == "rigid":
        return {"model": "rigid"}
    if isinstance(bottom, str) and bottom.lower() in SEDIMENTS:
        return {"model": "acoustic", **SEDIMENTS[bottom.lower()]}
    raise ValueError(f"bottom must be 'rigid', one of {', '.join(SEDIMENTS)} or a bottom_model dict, got {bottom!r}")


def _receivers(source: Tuple[float, float, float], ranges_m: Any, depths_m: Any, bearings_deg: Any,
               receiver_grid: Any, receiver_points: Any,
               polar: bool) -> Tuple[Dict[str, Any], List[Tuple[float, float, float]]]:
    """The receiver section and the receivers' positions (for the domain and the range)."""
    chosen = [ranges_m is not None, receiver_grid is not None, receiver_points is not None]
    if sum(chosen) != 1:
        raise ValueError("give the receivers one way: ranges_m with depths_m (and bearings_deg), receiver_grid "
                         "(x, y, z axes) or receiver_points ([(x, y, z), ...])")
    if polar and ranges_m is None:
        raise ValueError("polar=True lays out ranges_m x bearings_deg x depths_m; receiver_grid and receiver_points "
                         "have their own layouts")
    if receiver_grid is not None:
        x, y, z = (_floats(axis, f"receiver_grid {name}") for axis, name in zip(receiver_grid, "xyz"))
        corners = [(a, b, c) for a in (x[0], x[-1]) for b in (y[0], y[-1]) for c in (z[0], z[-1])]
        return {"config_type": "grid", "x_rcvr_m": x, "y_rcvr_m": y, "z_rcvr_m": z}, corners
    if receiver_points is not None:
        points = np.asarray(receiver_points, dtype=np.float64)
        if points.ndim == 1 and points.size == 3:
            points = points[None, :]
        if points.ndim != 2 or points.shape[1:] != (3,) or points.size == 0 or not np.all(np.isfinite(points)):
            raise ValueError("receiver_points must be finite (x, y, z) triples")
    else:
        if depths_m is None:
            raise ValueError("ranges_m needs depths_m")
        ranges, depths = _floats(ranges_m, "ranges_m"), _floats(depths_m, "depths_m")
        bearings_deg = _floats(bearings_deg, "bearings_deg")
        bearings = [math.radians(b) for b in bearings_deg]
        points = np.array([(source[0] + r * math.sin(b), source[1] + r * math.cos(b), z)
                           for b in bearings for r in ranges for z in depths])
        if polar:  # the layout's axes ascend
            section = {"config_type": "polar", "x_rcvr_m": sorted(ranges), "y_rcvr_m": sorted(bearings_deg),
                       "z_rcvr_m": sorted(depths)}
            return section, [tuple(p) for p in points]
    section = {"config_type": "array", "x_rcvr_m": points[:, 0].tolist(), "y_rcvr_m": points[:, 1].tolist(),
               "z_rcvr_m": points[:, 2].tolist()}
    return section, [tuple(p) for p in points]


def _bathymetry_grid(depth_m: Any, source: Tuple[float, float, float], half_width: float,
                     bearing_deg: float) -> Tuple[List[float], List[float], List[float]]:
    """Axes and depths (x-major) of the bottom: constant, a profile of depth against range along a
    bearing (constant across it), or a 2-D grid."""
    xs, ys = source[0], source[1]
    span = lambda centre: [centre - half_width, centre + half_width]  # noqa: E731
    if isinstance(depth_m, Mapping):
        x, y = _floats(depth_m["x_m"], "depth_m x_m"), _floats(depth_m["y_m"], "depth_m y_m")
        z = np.asarray(depth_m["z_m"], dtype=np.float64)
        if z.shape != (len(x), len(y)):
            raise ValueError(
                f"depth_m z_m must have the shape (len(x_m), len(y_m)) = {(len(x), len(y))}, got {z.shape}"
            )
        return x, y, z.ravel().tolist()
    if _is_number(depth_m):
        return span(xs), span(ys), [float(depth_m)] * 4
    ranges, depths = (_floats(v, "depth_m profile") for v in depth_m)
    if len(ranges) != len(depths) or any(b <= a for a, b in zip(ranges, ranges[1:])):
        raise ValueError("a depth profile is (ranges_m, depths_m) of equal lengths, ranges increasing")
    bearing = math.radians(bearing_deg)
    along = lambda x, y: (x - xs) * math.sin(bearing) + (y - ys) * math.cos(bearing)  # noqa: E731
    aligned = {0.0: (0, 1.0), 90.0: (1, 1.0), 180.0: (0, -1.0), 270.0: (1, -1.0)}.get(bearing_deg % 360.0)
    if aligned is not None:  # nodes at the profile's own ranges along the aligned axis
        axis, sign = aligned
        centre = (ys, xs)[axis]
        nodes = sorted({centre - half_width, centre + half_width, *(centre + sign * r for r in ranges)})
        nodes = [n for n in nodes if centre - half_width <= n <= centre + half_width]
        x, y = (nodes, span(ys)) if axis == 1 else (span(xs), nodes)
    else:
        x = np.linspace(xs - half_width, xs + half_width, _PROFILE_NODES).tolist()
        y = np.linspace(ys - half_width, ys + half_width, _PROFILE_NODES).tolist()
    z = [float(np.interp(along(a, b), ranges, depths)) for a in x for b in y]
    return x, y, z


def _sound_speed_grid(sound_speed: Any, source: Tuple[float, float, float], half_width: float,
                      deepest: float) -> Dict[str, List[float]]:
    span = lambda centre: [centre - half_width, centre + half_width]  # noqa: E731
    x, y = span(source[0]), span(source[1])
    if isinstance(sound_speed, Mapping):
        x, y, z = (_floats(sound_speed[k], f"sound_speed {k}") for k in ("x_m", "y_m", "z_m"))
        c = np.asarray(sound_speed["c_m_s"], dtype=np.float64)
        if c.shape != (len(x), len(y), len(z)):
            raise ValueError(f"sound_speed c_m_s must have the shape {(len(x), len(y), len(z))}, got {c.shape}")
        return {"x_ssp_m": x, "y_ssp_m": y, "z_ssp_m": z, "c_m_s": c.ravel().tolist()}
    if _is_number(sound_speed):
        z, c = [0.0, deepest], [float(sound_speed)] * 2
    else:
        z, c = (_floats(v, "sound_speed profile") for v in sound_speed)
        if len(z) != len(c):
            raise ValueError("a sound-speed profile is (z_m, c_m_s) of equal lengths")
    return {"x_ssp_m": x, "y_ssp_m": y, "z_ssp_m": z, "c_m_s": c * 4}


def _azimuths_around(bearings: List[float], d: float) -> List[float]:
    """The azimuths within ten spacings d of every bearing, in ascending order from the start of a run
    of neighbours. They lie on one lattice, the first bearing's, and the list starts where two of them
    are one spacing apart (the module takes the beams' width from its first two azimuths): a fan that
    wraps past 360 deg starts below it, and bearings between the lattice's azimuths share them."""
    first = bearings[0]
    steps = {k for b in bearings for k in range(math.floor((b - first) / d + 1e-9) - 10,
                                                math.ceil((b - first) / d - 1e-9) + 11)}
    around = sorted({round((first + d * k) % 360.0, 9) for k in steps})
    if len(around) < 2 or math.isclose(around[1] - around[0], d):
        return around
    # the run that wraps past 360 deg: from its first azimuth below 360 on
    start = next((i for i in range(1, len(around))
                  if not math.isclose(around[i] - around[i - 1], d) and i + 1 < len(around)
                  and math.isclose(around[i + 1] - around[i], d)), 0)
    return around[start:] + around[:start]


def _nice_step(step_deg: float) -> float:
    return next((s for s in _NICE_STEPS_DEG if s <= step_deg), _NICE_STEPS_DEG[-1])


def config(
    *,
    depth_m: Any,
    sound_speed: Any = 1500.0,
    bottom: Any = "rigid",
    source_depth_m: Optional[float] = None,
    source_position_m: Optional[Sequence[float]] = None,
    freq_hz: Any = 100.0,
    ranges_m: Any = None,
    depths_m: Any = None,
    bearings_deg: Any = (0.0,),
    receiver_grid: Any = None,
    receiver_points: Any = None,
    polar: bool = False,
    bathymetry_bearing_deg: Optional[float] = None,
    elevations_deg: Any = None,
    azimuths_deg: Any = None,
    max_range_m: Optional[float] = None,
    step_m: Optional[float] = None,
    **beam: Any,
) -> Dict[str, Any]:
    """A full configuration for `abyx.run_simulation`, as a plain dict.

    * `depth_m`: the water depth, a number; or (ranges_m, depths_m), depth against range from the
      source along `bathymetry_bearing_deg` (default: the first of `bearings_deg`), the same across
      it; or {"x_m", "y_m", "z_m"} with z_m shaped (len(x_m), len(y_m)).
    * `sound_speed`: m/s, a number; or a profile (z_m, c_m_s); or {"x_m", "y_m", "z_m", "c_m_s"}
      with c_m_s shaped (nx, ny, nz).
    * `bottom`: "rigid", a sediment of `SEDIMENTS` ("clay", "silt", "sand", "gravel") or a
      bottom_model dict.
    * the source: `source_depth_m` (at x = y = 0) or `source_position_m`; `freq_hz`, none, one or more.
    * the receivers, one way: `ranges_m` x `depths_m` along each of `bearings_deg` (deg, 0 along +y,
      90 along +x), listed bearing by bearing, range by range (with `polar=True`, the polar layout of
      these axes instead, each sorted); `receiver_grid` (x, y, z axes); or `receiver_points`.
    * the fan: `elevations_deg` and `azimuths_deg`, or chosen: elevations from -80 to 80 deg and
      azimuths within ten spacings of every receiver bearing (the whole circle for a grid or
      points), at half the spacing `suggest_fan` gives for geometric beams (its rule keeps the
      error of a direct path near 1 dB; half of it, near 0.2 dB), rounded down to 2, 1, 0.5, 0.25,
      0.2, 0.1, 0.05, 0.02 or 0.01 deg; 2 deg without a frequency other than 0 Hz. Waveguides need
      finer fans still, or "cerveny" beams.
    * `max_range_m` (default 5 % beyond the farthest receiver), `step_m` (default a five-hundredth
      of the range, from 1 to 50 m); any other keyword is a key of the beam section
      (`beam_type="cerveny"`, `arrivals=True`, ...).
    """
    if (source_depth_m is None) == (source_position_m is None):
        raise ValueError("give the source as source_depth_m or as source_position_m, one of them")
    source = (0.0, 0.0, float(source_depth_m)) if source_depth_m is not None else tuple(
        _floats(source_position_m, "source_position_m"))
    if len(source) != 3:
        raise ValueError("source_position_m must be (x, y, z)")
    receivers, positions = _receivers(source, ranges_m, depths_m, bearings_deg, receiver_grid, receiver_points,
                                      polar)
    farthest = max(math.hypot(x - source[0], y - source[1]) for x, y, _ in positions)
    max_range = float(max_range_m) if max_range_m is not None else max(1.05 * farthest, 100.0)
    half_width = 1.1 * max_range + 10.0
    profile_bearing = (float(bathymetry_bearing_deg) if bathymetry_bearing_deg is not None
                       else _floats(bearings_deg, "bearings_deg")[0])
    x_bty, y_bty, z_bty = _bathymetry_grid(depth_m, source, half_width, profile_bearing)
    deepest = max(max(z_bty), max(p[2] for p in positions), source[2], 1.0)
    step = float(step_m) if step_m is not None else min(max(max_range / 500.0, 1.0), 50.0)
    cfg: Dict[str, Any] = {
        "ssp": _sound_speed_grid(sound_speed, source, half_width, deepest),
        "bathymetry": {"x_bty_m": x_bty, "y_bty_m": y_bty, "z_bty_m": z_bty, "bottom_model": _bottom_model(bottom)},
        "source": {"position": list(source), "freq_hz": _floats(freq_hz, "freq_hz", may_be_empty=True),
                   "launch_elev_deg": [0.0], "launch_azim_deg": [0.0]},
        "receivers": receivers,
        "beam": {"step_m": step, "max_steps": int(math.ceil(10.0 * max_range / step)) + 10, "max_range_m": max_range,
                 "integration_method": "rk2", **plain_config(beam)},
    }
    if elevations_deg is None or azimuths_deg is None:
        # the rule's spacing grows without bound as the frequency goes to 0 Hz: there, the coarsest step
        spacing = suggest_fan(cfg) if any(cfg["source"]["freq_hz"]) else FanSpacing(math.inf, math.inf)
    if elevations_deg is None:
        d = _nice_step(0.5 * spacing.elevation_step_deg)
        count = int(round(2.0 * _STEEPEST_DEG / d))
        elevations_deg = [-_STEEPEST_DEG + d * i for i in range(count + 1)]
    if azimuths_deg is None:
        d = _nice_step(0.5 * spacing.azimuth_step_deg)
        if ranges_m is None:
            azimuths_deg = [d * i for i in range(int(round(360.0 / d)))]
        else:  # ten spacings either side of each receiver bearing
            azimuths_deg = _azimuths_around(_floats(bearings_deg, "bearings_deg"), d)
    cfg["source"]["launch_elev_deg"] = _floats(elevations_deg, "elevations_deg")
    cfg["source"]["launch_azim_deg"] = _floats(azimuths_deg, "azimuths_deg")
    return cfg
