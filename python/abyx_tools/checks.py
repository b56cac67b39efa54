"""Mistakes in a configuration that the module accepts without a word and turns into wrong physics.

`check(config)` returns the findings as `Finding` records; `enforce(config)` issues every warning as
a `UserWarning` and raises a `ValueError` for the errors (configurations where no answer can be
right). `abyx_tools.run`, `sweep`, `config` and `abyx run` enforce them unless told not to
(`check=False`, `--no-check`). A grid whose values do not fill it is refused with the text of the
module's own fault, which would otherwise arrive as `abyx.PanicException`.

The checks read the configuration as the module does (sections written as lists included) and skip
whatever the module refuses itself: a value of the wrong type is left to its message.
"""

from __future__ import annotations

import bisect
import difflib
import json
import math
import warnings
from collections import OrderedDict
from dataclasses import dataclass
from typing import Any, List, Mapping, Optional, Tuple

from abyx_tools.runtime import keyed_config, plain_config
from abyx_tools.schema import BOTTOM_MODELS, BOTTOM_TAG, SECTIONS, SimulationConfig

__all__ = ["Finding", "check", "enforce"]

WARNING = "warning"
ERROR = "error"

# Beyond these the numbers are in other units: kg/m3 for a density in g/cm3, km for metres, km/s for m/s.
_DENSEST_G_CM3 = 10.0
_SLOWEST_M_S = 20.0
_KM_LIKE_M = 20.0
_KILOMETRES_M = 1000.0
_LOWEST_HZ = 1.0
_SPACING_RTOL = 1e-4  # float32 angles of a fan written in decimal keep about this much of their spacing
# configurations whose warnings `config` issued already, so that running them does not repeat them
_WARNED: "OrderedDict[str, None]" = OrderedDict()  # noqa: UP037
_WARNED_KEPT = 8


@dataclass(frozen=True)
class Finding:
    """One mistake: its level ("warning" or "error"), where it lies ("section.key") and what to do."""

    level: str  # "warning": the run would go on with a likely wrong answer; "error": no answer is right
    where: str  # the section and key, e.g. "ssp.z_ssp_m"
    message: str  # the value, what it does and the fix

    def __str__(self) -> str:
        return self.message


def _numbers(section: Any, key: str) -> Optional[List[float]]:
    """The finite numbers of a section's list (or number), None when they are something else."""
    if not isinstance(section, Mapping) or key not in section:
        return None
    values = section[key]
    values = values if isinstance(values, list) else [values]
    if not all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in values):
        return None
    return [float(v) for v in values]


def _key_findings(section: Any, record: Any, where: str) -> List[Finding]:
    """Keys the record does not know that look like one it does, and required keys that are missing."""
    if not isinstance(section, Mapping):
        return []
    known = (set(record.__required_keys__) | set(record.__optional_keys__)) - {BOTTOM_TAG}
    required = set(record.__required_keys__) - {BOTTOM_TAG}
    findings, suggested = [], set()
    for key in section:
        if not isinstance(key, str) or key in known or key == BOTTOM_TAG:
            continue
        close = [k for k in sorted(known) if k.lower() == key.lower()] or difflib.get_close_matches(
            key, sorted(known), n=1, cutoff=0.6)
        if not close:
            continue  # the module warns of a key it ignores
        missing = close[0] in required and close[0] not in section
        suggested.add(close[0])
        findings.append(Finding(
            ERROR if missing else WARNING, f"{where}.{key}",
            f"{where}: '{key}' is not a key of {where}"
            + (f" and '{close[0]}' is missing" if missing else " (the module ignores it)")
            + f": did you mean '{close[0]}'?"))
    findings += [Finding(ERROR, f"{where}.{key}", f"{where}: the required key '{key}' is missing")
                 for key in sorted(required - set(section) - suggested)]
    return findings


def _keys(cfg: Mapping[str, Any]) -> List[Finding]:
    findings = _key_findings(cfg, SimulationConfig, "config")
    for name, record in SECTIONS.items():
        findings += _key_findings(cfg.get(name), record, name)
    bottom = cfg.get("bathymetry", {}).get("bottom_model") if isinstance(cfg.get("bathymetry"), Mapping) else None
    if isinstance(bottom, Mapping) and bottom.get(BOTTOM_TAG) in BOTTOM_MODELS:
        findings += _key_findings(bottom, BOTTOM_MODELS[bottom[BOTTOM_TAG]], "bathymetry.bottom_model")
    return findings


def _shapes(cfg: Mapping[str, Any]) -> List[Finding]:
    """Grids whose value lists do not fill them, with the text of the module's fault for each."""
    findings = []
    ssp = cfg.get("ssp")
    axes = [_numbers(ssp, k) for k in ("x_ssp_m", "y_ssp_m", "z_ssp_m")]
    speeds = ssp.get("c_m_s") if isinstance(ssp, Mapping) else None
    if all(a is not None for a in axes) and isinstance(speeds, list) and speeds:  # empty: the module says so
        nx, ny, nz = (len(a) for a in axes)  # type: ignore[arg-type]
        if nx * ny * nz != len(speeds):
            findings.append(Finding(ERROR, "ssp.c_m_s", f"c_m_s does not match grid dimensions: nx * ny * nz = "
                                                        f"{nx * ny * nz} but c_m_s has {len(speeds)} values"))
        else:
            findings += [Finding(ERROR, f"ssp.{axis}_ssp_m", f"Need n{axis} >= 2 for finite differences along {axis}")
                         for axis, n in zip("xyz", (nx, ny, nz)) if n < 2][:1]
    bty = cfg.get("bathymetry")
    x, y = _numbers(bty, "x_bty_m"), _numbers(bty, "y_bty_m")
    depths = bty.get("z_bty_m") if isinstance(bty, Mapping) else None
    if x is not None and y is not None and isinstance(depths, list) and depths:
        nx, ny, n = len(x), len(y), len(depths)
        why = ("each axis needs at least one node" if nx == 0 or ny == 0
               else f"nx * ny = {nx * ny} but z_bty_m has {n} values" if nx * ny != n else None)
        if why:
            findings.append(Finding(ERROR, "bathymetry.z_bty_m", "z_bty_m does not match grid dimensions: "
                                                                 f"nx = {nx}, ny = {ny}, bty_len = {n}: {why}"))
    receivers = cfg.get("receivers")
    if isinstance(receivers, Mapping) and receivers.get("config_type") == "array":
        lists = [receivers.get(k) for k in ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m")]
        if all(isinstance(v, list) for v in lists) and len({len(v) for v in lists}) > 1:  # type: ignore[arg-type]
            findings.append(Finding(ERROR, "receivers", "array receiver coordinates must have equal lengths"))
    return findings


def _span(values: List[float]) -> str:
    low, high = min(values), max(values)
    return f"{low:g}" if low == high else f"{low:g} to {high:g}"


def _water(cfg: Mapping[str, Any]) -> List[Finding]:
    """The profile's reach, the bottom's sign and units that look like others."""
    findings = []
    bty, ssp = cfg.get("bathymetry"), cfg.get("ssp")
    depths = _numbers(bty, "z_bty_m")
    if depths:
        negative = [z for z in depths if z < 0.0]
        if negative and max(depths) <= 0.0:
            findings.append(Finding(ERROR, "bathymetry.z_bty_m", f"bathymetry: z_bty_m holds no positive depth "
                                    f"({_span(depths)} m): depths are positive down from the surface; an elevation "
                                    "grid (negative below sea level) must be negated"))
        elif negative:
            findings.append(Finding(WARNING, "bathymetry.z_bty_m", f"bathymetry: {len(negative)} of {len(depths)} "
                                    f"z_bty_m values are negative (down to {min(negative):g} m): the bottom lies above "
                                    "the sea surface there; depths are positive down"))
    levels = _numbers(ssp, "z_ssp_m")
    if levels:
        levels = [abs(z) for z in levels]  # the module turns negative depths positive
        if min(levels) > 0.0:
            findings.append(Finding(WARNING, "ssp.z_ssp_m", f"ssp: the sound-speed profile starts at z = "
                                    f"{min(levels):g} m, below the surface: above it the module holds the values of "
                                    "its first node; add a node at z = 0"))
        seabed = max(depths) if depths else 0.0
        if max(levels) < seabed:
            findings.append(Finding(WARNING, "ssp.z_ssp_m", f"ssp: the sound-speed profile ends at z = "
                                    f"{max(levels):g} m, above the seabed at {seabed:g} m: below it the module holds "
                                    f"the values of its last node; extend z_ssp_m to {seabed:g} m"))
    speeds = _numbers(ssp, "c_m_s")
    if speeds and 0.0 < max(speeds) < _SLOWEST_M_S:
        findings.append(Finding(WARNING, "ssp.c_m_s", f"ssp: c_m_s values of {_span(speeds)} look like km/s; sound "
                                f"speeds are in m/s ({_span([1000.0 * c for c in speeds])})"))
    bottom = bty.get("bottom_model") if isinstance(bty, Mapping) else None
    for section, key, where in ((bty, "water_density_g_cm3", "bathymetry"),
                                (bottom, "density_g_cm3", "bathymetry.bottom_model")):
        density = _numbers(section, key)
        if density and density[0] > _DENSEST_G_CM3:
            findings.append(Finding(WARNING, f"{where}.{key}", f"{where}: {key} = {density[0]:g} looks like kg/m3; "
                                    f"densities are in g/cm3 ({density[0]:g} kg/m3 = {density[0] / 1000.0:g} g/cm3)"))
    speed = _numbers(bottom, "compressional_speed_m_s")
    if speed and 0.0 < speed[0] < _SLOWEST_M_S:
        findings.append(Finding(WARNING, "bathymetry.bottom_model.compressional_speed_m_s",
                                f"bathymetry.bottom_model: compressional_speed_m_s = {speed[0]:g} looks like km/s; "
                                f"speeds are in m/s ({1000.0 * speed[0]:g})"))
    return findings


@dataclass(frozen=True)
class _Receivers:
    """The receivers as columns: their x and y (the axes of a grid, else one pair per column, laid
    out as the result's), the depths and how many receivers stand in each column."""

    x: List[float]
    y: List[float]
    z: List[float]
    per_column: int
    grid: bool

    @property
    def count(self) -> int:
        return (len(self.x) * len(self.y) if self.grid else len(self.x)) * self.per_column

    def outside(self, box: Tuple[float, float, float, float]) -> int:
        """Receivers beyond the horizontal box (x0, x1, y0, y1)."""
        x0, x1, y0, y1 = box
        if self.grid:
            inside = sum(x0 <= x <= x1 for x in self.x) * sum(y0 <= y <= y1 for y in self.y)
            return (len(self.x) * len(self.y) - inside) * self.per_column
        return sum(not (x0 <= x <= x1 and y0 <= y <= y1) for x, y in zip(self.x, self.y)) * self.per_column

    def beyond(self, centre: Tuple[float, float], distance: float) -> int:
        """Receivers farther than `distance` horizontally from `centre` (a thousandth of a metre spared)."""
        reach = distance * (1.0 + 1e-9) + 1e-3
        if not self.grid:
            far = sum(math.hypot(x - centre[0], y - centre[1]) > reach for x, y in zip(self.x, self.y))
            return far * self.per_column
        ys, count = sorted(self.y), 0
        for x in self.x:  # per x, the y within reach are one interval
            half = math.sqrt(max(reach * reach - (x - centre[0]) ** 2, 0.0)) if abs(x - centre[0]) <= reach else -1.0
            count += len(ys) - (bisect.bisect_right(ys, centre[1] + half) - bisect.bisect_left(ys, centre[1] - half))
        return count * self.per_column

    def farthest(self, centre: Tuple[float, float]) -> float:
        xs, ys = ((min(self.x), max(self.x)), (min(self.y), max(self.y))) if self.grid else (self.x, self.y)
        pairs = [(a, b) for a in xs for b in ys] if self.grid else list(zip(xs, ys))
        return max(math.hypot(a - centre[0], b - centre[1]) for a, b in pairs)


def _receivers(cfg: Mapping[str, Any], source: List[float]) -> Optional[_Receivers]:
    """The receivers, or None when the section is not readable."""
    receivers = cfg.get("receivers")
    x, y, z = (_numbers(receivers, k) or [] for k in ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m"))
    if not (isinstance(receivers, Mapping) and x and y and z):
        return None
    layout = receivers.get("config_type")
    if layout == "array" and len(x) == len(y) == len(z):
        return _Receivers(x, y, z, 1, False)
    if layout == "grid":
        return _Receivers(x, y, z, len(z), True)
    if layout == "polar":
        bearings = [math.radians(b) for b in y]
        columns = [(source[0] + r * math.sin(b), source[1] + r * math.cos(b)) for r in x for b in bearings]
        return _Receivers([c[0] for c in columns], [c[1] for c in columns], z, len(z), False)
    return None


def _box(section: Any, keys: Tuple[str, str]) -> Optional[Tuple[float, float, float, float]]:
    """The horizontal extent of a grid, None where an axis of one node covers everything."""
    axes = [_numbers(section, k) for k in keys]
    if any(a is None or len(a) < 2 for a in axes):
        return None
    (x0, x1), (y0, y1) = ((min(a), max(a)) for a in axes)  # type: ignore[arg-type]
    return x0, x1, y0, y1


def _reach(cfg: Mapping[str, Any]) -> List[Finding]:
    """Receivers the run cannot reach or that lie off the environment's grids, and rays that stop too soon."""
    source = _numbers(cfg.get("source"), "position")
    receivers = _receivers(cfg, source) if source is not None and len(source) == 3 else None
    if receivers is None or source is None:
        return []
    beam = cfg.get("beam")
    step, steps, max_range = (_numbers(beam, k) for k in ("step_m", "max_steps", "max_range_m"))
    findings, total, centre = [], receivers.count, (source[0], source[1])
    for name, keys in (("ssp", ("x_ssp_m", "y_ssp_m")), ("bathymetry", ("x_bty_m", "y_bty_m"))):
        box = _box(cfg.get(name), keys)
        outside = receivers.outside(box) if box else 0
        if outside:
            findings.append(Finding(WARNING, f"{name}.{keys[0]}", f"receivers: {outside} of {total} receivers "
                                    f"lie outside the {name} grid in x or y: the module holds its edge values there; "
                                    f"widen {keys[0]} and {keys[1]}"))
    farthest, limit = receivers.farthest(centre), max_range[0] if max_range else 0.0
    beyond = receivers.beyond(centre, limit) if limit > 0.0 else 0
    if beyond:
        findings.append(Finding(WARNING, "beam.max_range_m", f"receivers: {beyond} of {total} receivers lie "
                                f"beyond beam.max_range_m = {limit:g} m (the farthest at {farthest:.6g} m): no "
                                f"ray reaches them and their TL is NaN; raise max_range_m to {farthest * 1.05:.6g}"))
    needed = min(farthest, limit) if limit > 0.0 else farthest
    if step and steps and step[0] > 0.0 and 0.0 < steps[0] * step[0] < needed:
        findings.append(Finding(WARNING, "beam.max_steps", f"beam: max_steps x step_m = {steps[0]:g} x {step[0]:g} "
                                f"m = {steps[0] * step[0]:.6g} m of path, short of the receivers at up to "
                                f"{needed:.6g} m: rays stop before them and their TL is NaN; raise max_steps "
                                f"to at least {math.ceil(2.0 * needed / step[0])}"))
    largest = max(max(abs(v) for v in receivers.x), max(abs(v) for v in receivers.y), max(abs(v) for v in receivers.z))
    if limit >= _KILOMETRES_M and largest < _KM_LIKE_M:
        findings.append(Finding(WARNING, "receivers", f"receivers: every receiver coordinate is below {_KM_LIKE_M:g} m "
                                f"while beam.max_range_m is {limit:g} m: positions are in metres, not km"))
    return findings


def _spacing_finding(angles: List[float], key: str, wraps: bool) -> Optional[Finding]:
    """A fan whose entries are not on the lattice of its first two: the beams take their width from them."""
    if len(angles) < 2:
        return None
    steps = [b - a for a, b in zip(angles, angles[1:])]
    if wraps:  # a fan of azimuths may pass 360 deg
        steps = [(s + 180.0) % 360.0 - 180.0 if abs(s) > 180.0 else s for s in steps]
    first = steps[0]
    if first == 0.0:
        return Finding(ERROR, f"source.{key}", f"source: the first two {key} are equal ({angles[0]:g}): the beams "
                                              "take their width from them, which would be 0; space the fan evenly")
    for i, step in enumerate(steps[1:], start=2):
        ratio = step / first  # whole spacings, either way: the entries stay on the first two's lattice
        if abs(ratio) < 1.0 - _SPACING_RTOL or abs(ratio - round(ratio)) > _SPACING_RTOL * max(1.0, abs(ratio)):
            return Finding(WARNING, f"source.{key}", f"source: {key} is not evenly spaced: the beams take their width "
                           f"from the first two entries ({abs(first):g} deg apart), but entry {i} is {step:g} deg from "
                           "the one before; space the fan evenly (steps of whole spacings, either way, are fine)")
    return None


def _source(cfg: Mapping[str, Any]) -> List[Finding]:
    source = cfg.get("source")
    findings = [f for f in (_spacing_finding(_numbers(source, "launch_elev_deg") or [], "launch_elev_deg", False),
                            _spacing_finding(_numbers(source, "launch_azim_deg") or [], "launch_azim_deg", True)) if f]
    low = [f for f in _numbers(source, "freq_hz") or [] if f != 0.0 and f < _LOWEST_HZ]
    if low:
        findings.append(Finding(WARNING, "source.freq_hz", f"source: freq_hz {_span(low)} Hz is below {_LOWEST_HZ:g} "
                                "Hz: frequencies are in Hz (kHz given as Hz?)"))
    return findings


def check(config: Any) -> List[Finding]:
    """The findings of every check of `config` (a configuration dict, its sections as dicts or
    lists, NumPy arrays allowed), errors and warnings in the order of the sections."""
    cfg = keyed_config(plain_config(config))
    if not isinstance(cfg, Mapping):
        return []
    return _keys(cfg) + _shapes(cfg) + _water(cfg) + _reach(cfg) + _source(cfg)


def enforce(config: Any, stacklevel: int = 2) -> None:
    """Raises ValueError with the errors of `check(config)`, one a line; otherwise issues each warning
    as a UserWarning, unless `config()` built this configuration and issued them already."""
    findings = _unless_refused(config)
    if findings and _text(config) not in _WARNED:
        _issue(findings, stacklevel + 1)


def enforce_built(config: Any, stacklevel: int = 2) -> None:
    """`enforce` for a configuration `config()` built: its warnings are issued now and not again when
    it runs."""
    findings = _unless_refused(config)
    if findings:
        _WARNED[_text(config)] = None
        while len(_WARNED) > _WARNED_KEPT:
            _WARNED.popitem(last=False)
        _issue(findings, stacklevel + 1)


def _unless_refused(config: Any) -> List[Finding]:
    findings = check(config)
    errors = [f.message for f in findings if f.level == ERROR]
    if errors:
        raise ValueError("\n".join(errors))
    return findings


def _text(config: Any) -> str:
    return json.dumps(plain_config(config), sort_keys=True, default=repr)


def _issue(findings: List[Finding], stacklevel: int) -> None:
    for finding in findings:
        warnings.warn(f"abyx_tools: {finding.message}", UserWarning, stacklevel=stacklevel + 1)
