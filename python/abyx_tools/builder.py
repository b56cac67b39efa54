"""A whole configuration from what a study has: water depth, sound speed, bottom, source, receivers.

`config(...)` returns the plain dict that `abyx.run_simulation` takes, so it can still be edited.
Everything it chooses (the grids around the source, the fan, the step and the range) is written
into that dict, and the README lists the rules.
"""

from __future__ import annotations

import math
import numbers
import warnings
from collections.abc import Mapping, Sequence
from typing import Any, Dict, List, Optional, Tuple

from abyx_tools._extras import require
from abyx_tools.checks import enforce_built
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
# What the arguments may hold: horizontal distances and coordinates (m), depths (m), speeds (m/s),
# frequencies (Hz) and angles (deg); the module's own limits where it has them.
_FARTHEST_M = 1e7
_DEEPEST_M = 2e4
_FASTEST_M_S = 1e5
_HIGHEST_HZ = 1e9
_MOST_STEPS = 1e7
_ANY = (-math.inf, math.inf)
_DISTANCE = (-_FARTHEST_M, _FARTHEST_M)
_RANGE = (0.0, _FARTHEST_M)
_DEPTH = (0.0, _DEEPEST_M)
_SPEED = (0.0, _FASTEST_M_S)  # above 0
_BEARING = (-360.0, 360.0)
_POSITIVE_DOWN = "depths are positive down: negate elevations"


def _is_number(value: Any) -> bool:
    """A real number: a Python or NumPy scalar, or a 0-d array of one; not a bool."""
    if isinstance(value, (bool, np.bool_)):
        return False
    if isinstance(value, np.ndarray):
        return value.ndim == 0 and (np.issubdtype(value.dtype, np.integer) or np.issubdtype(value.dtype, np.floating))
    return isinstance(value, numbers.Real)


def _floats(values: Any, what: str, may_be_empty: bool = False, bounds: Tuple[float, float] = _ANY,
            unit: str = "", above_low: bool = False, hint: str = "") -> List[float]:
    """One or more finite numbers within `bounds` (above the low one when `above_low`), or a
    ValueError that names the argument and what it may hold (and `hint` for a value below them)."""
    low, high = bounds
    allowed = ("" if bounds == _ANY else
               f" in {'(' if above_low else '['}{low:g}, {high:g}] {unit}".rstrip())
    try:
        array = np.atleast_1d(np.asarray(values, dtype=np.float64))
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be one or more finite numbers{allowed}, got {values!r}") from None
    if array.ndim != 1 or (array.size == 0 and not may_be_empty):
        raise ValueError(f"{what} must be one or more finite numbers{allowed}, got {values!r}")
    wrong = ~np.isfinite(array) | (array > high) | ((array <= low) if above_low else (array < low))
    if np.any(wrong):
        kind = "a finite number" if array.size == 1 else "finite numbers"
        value = array[wrong][0]
        told = f"; {hint}" if hint and value < low else ""
        raise ValueError(f"{what} must be {kind}{allowed}, got {value:g}{told}")
    return [float(v) for v in array]


def _number(value: Any, what: str, bounds: Tuple[float, float], unit: str, above_low: bool = False,
            hint: str = "") -> float:
    if not _is_number(value):
        raise ValueError(f"{what} must be a number, got {value!r}")
    return _floats(value, what, bounds=bounds, unit=unit, above_low=above_low, hint=hint)[0]


def _two_lists(value: Any, what: str, names: Tuple[str, str]) -> Tuple[Any, Any]:
    """A profile's two lists from the tuple (first, second), the dict of their names, or an array of
    n (first, second) pairs or of the two lists; a 2 x 2 list or array could be either and is refused."""
    if isinstance(value, Mapping):
        if set(value) != set(names):
            raise ValueError(f"{what} as a profile dict takes the keys {names[0]} and {names[1]}, got {sorted(value)}")
        return value[names[0]], value[names[1]]
    forms = f"the tuple ({names[0]}, {names[1]}), the dict {{'{names[0]}': [...], '{names[1]}': [...]}}"
    if isinstance(value, tuple) and len(value) == 2 and not any(_is_number(v) for v in value):
        return value
    try:
        array = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a number, {forms} or a list of pairs, got {value!r}") from None
    if array.ndim == 2 and array.shape == (2, 2):
        raise ValueError(f"{what}={value!r} is ambiguous: two pairs or two lists? write it as {forms}, or "
                         "give three or more pairs")
    if array.ndim == 2 and array.shape[1] == 2:
        return array[:, 0], array[:, 1]
    if array.ndim == 2 and array.shape[0] == 2:
        return array[0], array[1]
    raise ValueError(f"{what} must be a number, {forms} or a list of ({names[0]}, {names[1]}) pairs, got an "
                     f"array of shape {array.shape}")


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
        x, y, z = (_floats(axis, f"receiver_grid {name}", bounds=_DEPTH if name == "z" else _DISTANCE, unit="m")
                   for axis, name in zip(receiver_grid, "xyz"))
        corners = [(a, b, c) for a in (x[0], x[-1]) for b in (y[0], y[-1]) for c in (z[0], z[-1])]
        return {"config_type": "grid", "x_rcvr_m": x, "y_rcvr_m": y, "z_rcvr_m": z}, corners
    if receiver_points is not None:
        points = np.asarray(receiver_points, dtype=np.float64)
        if points.ndim == 1 and points.size == 3:
            points = points[None, :]
        if points.ndim != 2 or points.shape[1:] != (3,) or points.size == 0 or not np.all(np.isfinite(points)):
            raise ValueError("receiver_points must be finite (x, y, z) triples")
        _floats(points[:, :2].ravel(), "receiver_points x and y", bounds=_DISTANCE, unit="m")
        _floats(points[:, 2], "receiver_points z", bounds=_DEPTH, unit="m")
    else:
        if depths_m is None:
            raise ValueError("ranges_m needs depths_m")
        ranges = _floats(ranges_m, "ranges_m", bounds=_RANGE, unit="m")
        depths = _floats(depths_m, "depths_m", bounds=_DEPTH, unit="m")
        bearings_deg = _floats(bearings_deg, "bearings_deg", bounds=_BEARING, unit="deg")
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
    if isinstance(depth_m, Mapping) and "z_m" in depth_m:
        x, y = (_floats(depth_m[k], f"depth_m {k}", bounds=_DISTANCE, unit="m") for k in ("x_m", "y_m"))
        z = np.asarray(_floats(np.ravel(depth_m["z_m"]), "depth_m z_m", bounds=_DEPTH, unit="m", hint=_POSITIVE_DOWN))
        if np.shape(depth_m["z_m"]) != (len(x), len(y)):
            raise ValueError(
                f"depth_m z_m must have the shape (len(x_m), len(y_m)) = {(len(x), len(y))}, got "
                f"{np.shape(depth_m['z_m'])}"
            )
        return x, y, z.ravel().tolist()
    if _is_number(depth_m):
        return span(xs), span(ys), [_number(depth_m, "depth_m", _DEPTH, "m", above_low=True, hint=_POSITIVE_DOWN)] * 4
    first, second = _two_lists(depth_m, "depth_m", ("ranges_m", "depths_m"))
    ranges = _floats(first, "depth_m ranges", bounds=_DISTANCE, unit="m")
    depths = _floats(second, "depth_m depths", bounds=_DEPTH, unit="m", hint=_POSITIVE_DOWN)
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
                      deepest: float, check: bool) -> Dict[str, List[float]]:
    span = lambda centre: [centre - half_width, centre + half_width]  # noqa: E731
    x, y = span(source[0]), span(source[1])
    if isinstance(sound_speed, Mapping) and "x_m" in sound_speed:
        x, y, z = (_floats(sound_speed[k], f"sound_speed {k}", bounds=_DEPTH if k == "z_m" else _DISTANCE, unit="m")
                   for k in ("x_m", "y_m", "z_m"))
        c = _floats(np.ravel(sound_speed["c_m_s"]), "sound_speed c_m_s", bounds=_SPEED, unit="m/s", above_low=True)
        if np.shape(sound_speed["c_m_s"]) != (len(x), len(y), len(z)):
            raise ValueError(f"sound_speed c_m_s must have the shape {(len(x), len(y), len(z))}, got "
                             f"{np.shape(sound_speed['c_m_s'])}")
        return {"x_ssp_m": x, "y_ssp_m": y, "z_ssp_m": z, "c_m_s": c}
    if _is_number(sound_speed):
        z, c = [0.0, deepest], [_number(sound_speed, "sound_speed", _SPEED, "m/s", above_low=True)] * 2
    else:
        first, second = _two_lists(sound_speed, "sound_speed", ("z_m", "c_m_s"))
        z = _floats(first, "sound_speed depths", bounds=_DEPTH, unit="m")
        c = _floats(second, "sound_speed speeds", bounds=_SPEED, unit="m/s", above_low=True)
        if len(z) != len(c):
            raise ValueError("a sound-speed profile is (z_m, c_m_s) of equal lengths")
        z, c = _reaching(z, c, deepest, check)
    return {"x_ssp_m": x, "y_ssp_m": y, "z_ssp_m": z, "c_m_s": c * 4}


def _reaching(z: List[float], c: List[float], deepest: float, check: bool) -> Tuple[List[float], List[float]]:
    """A profile from the surface to `deepest`, its end values held beyond its ends (as the module
    would hold them), said in a warning when `check`."""
    added = []
    if z[0] > 0.0:
        z, c = [0.0, *z], [c[0], *c]
        added.append(f"starts at z = {z[1]:g} m: held at {c[0]:g} m/s up to the surface")
    if z[-1] < deepest:
        z, c = [*z, deepest], [*c, c[-1]]
        added.append(f"ends at z = {z[-2]:g} m, above the deepest point at {deepest:g} m: held at {c[-1]:g} m/s "
                     "down to it")
    if added and check:
        warnings.warn(f"abyx_tools: sound_speed: the profile {'; it '.join(added)}; give the profile down to the "
                      "seabed to choose otherwise", UserWarning, stacklevel=4)
    return z, c


def _refracts_horizontally(cfg: Mapping[str, Any]) -> bool:
    """Whether the bottom slopes or the sound speed changes across x or y: rays then turn out of
    their launch bearing's vertical plane, and a receiver may take its sound from any bearing."""
    if len(set(cfg["bathymetry"]["z_bty_m"])) > 1:
        return True
    ssp = cfg["ssp"]
    depths = len(ssp["z_ssp_m"])
    speeds = ssp["c_m_s"]
    return len({tuple(speeds[i:i + depths]) for i in range(0, len(speeds), depths)}) > 1


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
    interpolation: str = "pchip",
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
    surface: Any = None,
    water: Any = None,
    check: bool = True,
    **beam: Any,
) -> Dict[str, Any]:
    """A full configuration for `abyx.run_simulation`, as a plain dict.

    * `depth_m`: the water depth, a number; or a profile of depth against range from the source
      along `bathymetry_bearing_deg` (default: the first of `bearings_deg`), the same across it: the
      tuple (ranges_m, depths_m), the dict {"ranges_m", "depths_m"}, or n (range, depth) pairs (a
      2 x 2 list, pairs or lists, is refused); or {"x_m", "y_m", "z_m"} with z_m shaped
      (len(x_m), len(y_m)). Depths are positive down.
    * `sound_speed`: m/s, a number; or a profile: the tuple (z_m, c_m_s), the dict {"z_m", "c_m_s"}
      or n (z, c) pairs, extended with its end values to the surface and to the deepest point of
      the bottom, receivers and source (with a warning); or {"x_m", "y_m", "z_m", "c_m_s"} with
      c_m_s shaped (nx, ny, nz).
    * `interpolation`: how the speed runs between the profile's depths, the module's
      `ssp.interpolation`: "pchip" (a monotone cubic through them), "linear" or "nodes".
    * `bottom`: "rigid", a sediment of `SEDIMENTS` ("clay", "silt", "sand", "gravel") or a
      bottom_model dict.
    * the source: `source_depth_m` (at x = y = 0) or `source_position_m`; `freq_hz`, none, one or more.
    * the receivers, one way: `ranges_m` x `depths_m` along each of `bearings_deg` (deg, 0 along +y,
      90 along +x), listed bearing by bearing, range by range (with `polar=True`, the polar layout of
      these axes instead, each sorted); `receiver_grid` (x, y, z axes); or `receiver_points`.
    * the fan: `elevations_deg` and `azimuths_deg`, or chosen: elevations from -80 to 80 deg and
      azimuths within ten spacings of every receiver bearing in a range-independent ocean (the whole
      circle where the bottom slopes or the sound speed varies in x or y, and for a grid or
      points), at half the spacing `suggest_fan` gives for geometric beams (its rule keeps the
      error of a direct path near 1 dB; half of it, near 0.2 dB), rounded down to 2, 1, 0.5, 0.25,
      0.2, 0.1, 0.05, 0.02 or 0.01 deg; 2 deg without a frequency other than 0 Hz. Waveguides need
      finer fans still, or "cerveny" beams.
    * `max_range_m` (default 5 % beyond the farthest receiver), `step_m` (default a five-hundredth
      of the range, from 1 to 50 m); any other keyword is a key of the beam section
      (`beam_type="cerveny"`, `arrivals=True`, ...).
    * `surface`: a shaped sea surface, the section dict {"x_ati_m", "y_ati_m", "z_ati_m"} that
      `abyx_tools.surface` builds (z_ati_m flat or shaped (len(x), len(y)), positive down); none: the
      flat surface at z = 0.
    * `water`: the water's volume absorption, none by default: "thorp", "francois_garrison", a
      number of dB/km, or the whole "water" section as a dict ({"absorption": "francois_garrison",
      "temperature_c": 10.0, ...}); copied into the configuration as its "water" section.
    * `check`: refuse a number outside its range up front (ValueError naming the argument and the
      range) and check the configuration built (`abyx_tools.checks`): its warnings as UserWarnings,
      its errors as a ValueError. The ranges are always checked.
    """
    if (source_depth_m is None) == (source_position_m is None):
        raise ValueError("give the source as source_depth_m or as source_position_m, one of them")
    if not isinstance(polar, (bool, np.bool_)):
        raise ValueError(f"polar must be True or False, got {polar!r}")
    if interpolation not in ("nodes", "linear", "pchip"):
        raise ValueError(f'interpolation must be "nodes", "linear" or "pchip", got {interpolation!r}')
    source = _source(source_depth_m, source_position_m)
    frequencies = _floats(freq_hz, "freq_hz", may_be_empty=True, bounds=(-_HIGHEST_HZ, _HIGHEST_HZ), unit="Hz")
    receivers, positions = _receivers(source, ranges_m, depths_m, bearings_deg, receiver_grid, receiver_points,
                                      polar)
    farthest = max(math.hypot(x - source[0], y - source[1]) for x, y, _ in positions)
    max_range = (_number(max_range_m, "max_range_m", _RANGE, "m", above_low=True) if max_range_m is not None
                 else max(1.05 * farthest, 100.0))
    half_width = 1.1 * max_range + 10.0
    profile_bearing = (_number(bathymetry_bearing_deg, "bathymetry_bearing_deg", _BEARING, "deg")
                       if bathymetry_bearing_deg is not None else _floats(bearings_deg, "bearings_deg")[0])
    x_bty, y_bty, z_bty = _bathymetry_grid(depth_m, source, half_width, profile_bearing)
    deepest = max(max(z_bty), max(p[2] for p in positions), source[2], 1.0)
    step = (_number(step_m, "step_m", (max_range / _MOST_STEPS, max_range), "m (from max_range_m / 1e7 up to "
                    "max_range_m)") if step_m is not None else min(max(max_range / 500.0, 1.0), 50.0))
    cfg: Dict[str, Any] = {
        "ssp": {**_sound_speed_grid(sound_speed, source, half_width, deepest, check), "interpolation": interpolation},
        "bathymetry": {"x_bty_m": x_bty, "y_bty_m": y_bty, "z_bty_m": z_bty, "bottom_model": _bottom_model(bottom)},
        "source": {"position": list(source), "freq_hz": frequencies,
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
        if ranges_m is None or _refracts_horizontally(cfg):
            azimuths_deg = [d * i for i in range(int(round(360.0 / d)))]
        else:  # ten spacings either side of each receiver bearing
            azimuths_deg = _azimuths_around(_floats(bearings_deg, "bearings_deg"), d)
    cfg["source"]["launch_elev_deg"] = _floats(elevations_deg, "elevations_deg", bounds=(-90.0, 90.0), unit="deg")
    cfg["source"]["launch_azim_deg"] = _floats(azimuths_deg, "azimuths_deg", bounds=(-720.0, 720.0), unit="deg")
    if surface is not None:
        cfg["surface"] = _surface(surface)
    if water is not None:
        cfg["water"] = plain_config(dict(water)) if isinstance(water, Mapping) else {"absorption": plain_config(water)}
    if check:
        enforce_built(cfg, stacklevel=2)
    return cfg


_SURFACE_KEYS = ("x_ati_m", "y_ati_m", "z_ati_m")


def _surface(surface: Any) -> Dict[str, List[float]]:
    if not isinstance(surface, Mapping) or set(surface) != set(_SURFACE_KEYS):
        raise ValueError(f"surface must be a dict of {', '.join(_SURFACE_KEYS)} (abyx_tools.surface builds one)")
    x = _floats(surface["x_ati_m"], "surface x_ati_m", bounds=_DISTANCE, unit="m")
    y = _floats(surface["y_ati_m"], "surface y_ati_m", bounds=_DISTANCE, unit="m")
    z = _floats(np.ravel(np.asarray(surface["z_ati_m"], dtype=object)), "surface z_ati_m", bounds=_DISTANCE, unit="m")
    if len(z) != len(x) * len(y):
        raise ValueError(f"surface z_ati_m must hold len(x_ati_m) * len(y_ati_m) = {len(x) * len(y)} depths, "
                         f"got {len(z)}")
    return {"x_ati_m": x, "y_ati_m": y, "z_ati_m": z}


def _source(depth_m: Any, position_m: Any) -> Tuple[float, float, float]:
    if depth_m is not None:
        return (0.0, 0.0, _number(depth_m, "source_depth_m", _DEPTH, "m"))
    position = _floats(position_m, "source_position_m", bounds=_DISTANCE, unit="m")
    if len(position) != 3:
        raise ValueError("source_position_m must be (x, y, z)")
    return (position[0], position[1], _floats(position[2], "source_position_m z", bounds=_DEPTH, unit="m")[0])
