"""Shaped sea surfaces for the configuration's optional `"surface"` section.

Each builder returns the section as a plain dict, `{"x_ati_m", "y_ati_m", "z_ati_m"}`, with the depths of
the surface at the nodes of the given axes indexed [ix, iy], y fastest. Depth is positive down, as
everywhere in a configuration, so a crest is negative and a trough positive; directions are
azimuths, 0 along +y and 90 along +x (deg), the direction the waves travel to.

* `sinusoid`: one long-crested wave of given height (crest to trough) and wavelength.
* `pierson_moskowitz`: one random realisation of a fully developed wind sea (the Pierson-Moskowitz
  spectrum) for a wind speed and a seed, on a uniform grid: the same seed gives the same sea, other
  seeds an ensemble.

Beyond its grid the module holds a surface at its edge depths, so the grid should cover every
range the rays reach.
"""

from __future__ import annotations

import math
from typing import Any, Dict, List, Optional, Tuple

from abyx_tools._extras import require

np = require("numpy", "abyx_tools.surface")

__all__ = ["GRAVITY_M_S2", "pierson_moskowitz", "pierson_moskowitz_height_m", "sinusoid"]

GRAVITY_M_S2 = 9.81  # m/s^2
# The Pierson-Moskowitz constants: the Phillips constant and the peak factor, for the wind speed
# 19.5 m above the sea.
_ALPHA = 8.1e-3
_BETA = 0.74


def _axis(values: Any, name: str, uniform: bool = False) -> List[float]:
    axis = np.atleast_1d(np.asarray(values, dtype=np.float64))
    if axis.ndim != 1 or axis.size < 2 or not np.all(np.isfinite(axis)) or not np.all(np.diff(axis) > 0.0):
        raise ValueError(f"{name} must be at least two finite values (m), strictly increasing")
    if uniform and not np.allclose(np.diff(axis), axis[1] - axis[0], rtol=1e-6, atol=0.0):
        raise ValueError(f"{name} must be evenly spaced (m): the sea is drawn on a uniform grid")
    return [float(v) for v in axis]


def _positive(value: Any, name: str, unit: str) -> float:
    number = float(value)
    if not (number > 0.0 and math.isfinite(number)):
        raise ValueError(f"{name} must be a positive finite number ({unit}), got {value!r}")
    return number


def _section(x: List[float], y: List[float], depth: Any) -> Dict[str, List[float]]:
    return {"x_ati_m": x, "y_ati_m": y, "z_ati_m": [float(v) for v in np.asarray(depth, dtype=np.float64).ravel()]}


def _heading(direction_deg: float) -> Tuple[float, float]:
    """The unit horizontal vector (x, y) of an azimuth (0 along +y, 90 along +x)."""
    a = math.radians(float(direction_deg))
    return math.sin(a), math.cos(a)


def sinusoid(*, height_m: float, wavelength_m: float, x_m: Any, y_m: Any, direction_deg: float = 90.0,
             phase_deg: float = 0.0, mean_depth_m: float = 0.0) -> Dict[str, List[float]]:
    """A long-crested sinusoidal wave: depth = mean_depth_m - height_m / 2 * cos(k s + phase), s the distance
    along `direction_deg` from the origin and k = 2 pi / wavelength_m, so that at phase 0 a crest lies over the
    origin. `height_m` is crest to trough (m, 0 for a flat surface at `mean_depth_m`)."""
    x, y = _axis(x_m, "x_m"), _axis(y_m, "y_m")
    height = float(height_m)
    if not (height >= 0.0 and math.isfinite(height)):
        raise ValueError(f"height_m must be a finite number from 0 up (m), got {height_m!r}")
    k = 2.0 * math.pi / _positive(wavelength_m, "wavelength_m", "m")
    ux, uy = _heading(direction_deg)
    s = ux * np.asarray(x)[:, None] + uy * np.asarray(y)[None, :]
    return _section(x, y, float(mean_depth_m) - 0.5 * height * np.cos(k * s + math.radians(float(phase_deg))))


def pierson_moskowitz_height_m(wind_speed_m_s: float) -> float:
    """The significant wave height (m) of a fully developed sea: 4 sqrt(alpha / (4 beta)) U^2 / g, about
    0.21 U^2 / g, with U the wind speed 19.5 m above the sea (m/s)."""
    wind = _positive(wind_speed_m_s, "wind_speed_m_s", "m/s")
    return 4.0 * math.sqrt(_ALPHA / (4.0 * _BETA)) * wind * wind / GRAVITY_M_S2


def pierson_moskowitz(*, wind_speed_m_s: float, x_m: Any, y_m: Any, seed: int,
                      direction_deg: Optional[float] = None) -> Dict[str, List[float]]:
    """One random sea of the Pierson-Moskowitz spectrum S(w) = alpha g^2 / w^5 exp(-beta (g / (U w))^4) on the
    uniform grid of `x_m` and `y_m` (m), for the wind speed U 19.5 m above the sea (m/s), as deep-water waves
    (w^2 = g k) with random phases drawn from `seed`. With `direction_deg` the waves travel within 90 degrees
    of it, spread as cos^2 about it; without, equally in every direction. The grid's own wavenumbers are the
    components, so the sea repeats with the grid's extent, and waves shorter than two grid spacings are left
    out. The surface's mean is z = 0."""
    wind = _positive(wind_speed_m_s, "wind_speed_m_s", "m/s")
    x, y = _axis(x_m, "x_m", uniform=True), _axis(y_m, "y_m", uniform=True)
    nx, ny = len(x), len(y)
    dx, dy = (x[-1] - x[0]) / (nx - 1), (y[-1] - y[0]) / (ny - 1)
    kx = 2.0 * math.pi * np.fft.fftfreq(nx, dx)[:, None]
    ky = 2.0 * math.pi * np.fft.fftfreq(ny, dy)[None, :]
    k = np.hypot(kx, ky)
    with np.errstate(divide="ignore", invalid="ignore"):
        w = np.sqrt(GRAVITY_M_S2 * k)
        spectrum = _ALPHA * GRAVITY_M_S2 ** 2 / w ** 5 * np.exp(-_BETA * (GRAVITY_M_S2 / (wind * w)) ** 4)
        # the wavenumber density of S(w) D(theta): dw/dk = g / (2 w), over k dk dtheta
        density = spectrum * (GRAVITY_M_S2 / (2.0 * w)) / k
    density[0, 0] = 0.0
    theta = np.arctan2(kx, ky) * np.ones_like(k)  # azimuth of travel of each component
    if direction_deg is None:
        spreading = np.full_like(k, 1.0 / (2.0 * math.pi))
    else:
        off = np.angle(np.exp(1j * (theta - math.radians(float(direction_deg)))))
        spreading = np.where(np.abs(off) < 0.5 * math.pi, (2.0 / math.pi) * np.cos(off) ** 2, 0.0)
    dkx, dky = 2.0 * math.pi / (nx * dx), 2.0 * math.pi / (ny * dy)
    amplitude = np.sqrt(2.0 * np.nan_to_num(density * spreading) * dkx * dky)  # m, each of variance a^2 / 2
    rng = np.random.default_rng(seed)
    phases = np.exp(2j * math.pi * rng.random(k.shape))
    origin = np.exp(1j * (kx * x[0] + ky * y[0]))  # the grid's first node lies at (x[0], y[0])
    elevation = np.real(np.fft.ifft2(amplitude * phases * origin) * (nx * ny))  # the sum of a cos(k . x + phase)
    return _section(x, y, -elevation)
