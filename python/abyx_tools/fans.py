"""How fine a launch fan geometric beams need.

A geometric beam is as wide as its ray tube, so its answer is only as good as the fan is dense: at
the range r, neighbouring rays a spacing dtheta apart must lie within a Fresnel zone of each other,
k r dtheta^2 / 2 <= 0.5 with k = 2 pi f / c, that is dtheta <= 1 / sqrt(k r). The same holds across
the fan in azimuth, where neighbouring rays are r dphi apart at the horizontal range r.
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from typing import Any, NamedTuple

from abyx_tools.runtime import keyed_config, plain_config

__all__ = ["FanSpacing", "suggest_fan"]


class FanSpacing(NamedTuple):
    """The largest launch spacings (degrees) for geometric beams."""

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
    """The elevation and azimuth spacings that geometric beams need for this configuration: at its
    highest frequency in magnitude (a negative one is run as the conjugate of its positive), out to
    `beam.max_range_m`, in its slowest water (where k is largest), the spacing is 1 / sqrt(k r)
    radians. `"cerveny"` beams do not need it (see the README's beam types). Raises ValueError when
    the configuration has no frequency other than 0 Hz, or no positive range or sound speed."""
    config = keyed_config(plain_config(config))
    if not isinstance(config, Mapping):
        raise TypeError(f"the configuration must be a dict, got {type(config).__name__}")
    freq_hz = max((abs(f) for f in _numbers(config, "source", "freq_hz")), default=0.0)
    range_m = max(_numbers(config, "beam", "max_range_m"), default=0.0)
    c_m_s = min(_numbers(config, "ssp", "c_m_s"), default=0.0)
    if not (freq_hz > 0.0 and range_m > 0.0 and c_m_s > 0.0):
        raise ValueError("suggest_fan needs a positive frequency, max_range_m and sound speed, got "
                         f"{freq_hz:g} Hz, {range_m:g} m and {c_m_s:g} m/s")
    step_deg = math.degrees(1.0 / math.sqrt(2.0 * math.pi * freq_hz / c_m_s * range_m))
    return FanSpacing(step_deg, step_deg)
