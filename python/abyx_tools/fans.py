"""How fine a launch fan the beams need.

A geometric beam is as wide as its ray tube, so its answer is only as good as the fan is dense: at
the range r, neighbouring rays a spacing dtheta apart must lie within a Fresnel zone of each other,
k r dtheta^2 / 2 <= 0.5 with k = 2 pi f / c, that is dtheta <= 1 / sqrt(k r). The same holds across
the fan in azimuth, where neighbouring rays are r dphi apart at the horizontal range r.

A complex-Q beam has the width its rule gives it, whatever the fan: neighbouring beams must still
meet at r, dtheta <= w(r) / r for the beam's 1/e half-width w. A "min_width" beam, narrowest at
r = max_range_m, is w = 2 sqrt(r / k) wide there (dtheta <= 2 / sqrt(k r)); one of half-width L0 at
the source, w = L0 sqrt(1 + (2 r / (k L0^2))^2); "space_filling" beams spread with the fan itself,
which then sets no bound from the beams' side, and the geometric rule is given.
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from typing import Any, NamedTuple

from abyx_tools.runtime import keyed_config, plain_config

__all__ = ["FanSpacing", "suggest_fan"]


class FanSpacing(NamedTuple):
    """The largest launch spacings (degrees) for the configuration's beams."""

    elevation_step_deg: float
    azimuth_step_deg: float


def _numbers(config: Mapping[str, Any], section: str, key: str) -> list[float]:
    values = config.get(section, {}).get(key) if isinstance(config.get(section), Mapping) else None
    if values is None:
        raise ValueError(f"suggest_fan needs {section}.{key}")
    values = values if isinstance(values, list) else [values]
    if not all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v)
                             for v in values):
        raise ValueError(f"suggest_fan needs finite numbers in {section}.{key}")
    return [float(v) for v in values]


def suggest_fan(config: Mapping[str, Any]) -> FanSpacing:
    """The elevation and azimuth spacings that the configuration's beams need: at its highest
    frequency in magnitude (a negative one is run as the conjugate of its positive), out to
    `beam.max_range_m`, in its slowest water (where k is largest and beams narrowest), 1 / sqrt(k r)
    radians for geometric beams; for `"cerveny"` beams the spacing at which neighbouring beams still
    meet at that range (2 / sqrt(k r) for `"min_width"` beams; see this module's notes). Raises
    ValueError when the configuration has no frequency other than 0 Hz, or no positive range or
    sound speed."""
    config = keyed_config(plain_config(config))
    if not isinstance(config, Mapping):
        raise TypeError(f"the configuration must be a dict, got {type(config).__name__}")
    freq_hz = max((abs(f) for f in _numbers(config, "source", "freq_hz")), default=0.0)
    range_m = max(_numbers(config, "beam", "max_range_m"), default=0.0)
    c_m_s = min(_numbers(config, "ssp", "c_m_s"), default=0.0)
    if not (freq_hz > 0.0 and range_m > 0.0 and c_m_s > 0.0):
        raise ValueError("suggest_fan needs a positive frequency, max_range_m and sound speed, got "
                         f"{freq_hz:g} Hz, {range_m:g} m and {c_m_s:g} m/s")
    k = 2.0 * math.pi * freq_hz / c_m_s
    step = 1.0 / math.sqrt(k * range_m)
    section = config.get("beam")
    beam: Mapping[str, Any] = section if isinstance(section, Mapping) else {}
    if beam.get("beam_type") == "cerveny":
        width = beam.get("beam_width", "min_width")
        if width == "min_width":
            step = 2.0 / math.sqrt(k * range_m)
        elif isinstance(width, (int, float)) and not isinstance(width, bool) and math.isfinite(width) and width > 0:
            spread = 2.0 * range_m / (k * width * width)
            step = width * math.sqrt(1.0 + spread * spread) / range_m
    step_deg = math.degrees(step)
    return FanSpacing(step_deg, step_deg)
