"""Plane-wave reflection coefficients of seabeds, and the `bottom_model` tables that carry them.

* `coefficient(grazing_deg, bottom, ...)`: the complex coefficient R against the grazing angle of a
  fluid or a solid half-space (a `bottom_model` dict, as the module's "acoustic" and "elastic"
  models give it), optionally under a stack of fluid layers (then per frequency).
* `table(grazing_deg, bottom, ...)`: the same as `{"model": "table", "angle_deg", "magnitude",
  "phase_deg"}`, ready for `bathymetry.bottom_model`; a list of them for a list of frequencies.
* `rough_surface(grazing_deg, freq_hz, rms_height_m)`: the coherent reflection of a rough
  pressure-release sea surface, ready for `surface.reflection`.

Conventions are the module's: R multiplies the reflected wave for a positive frequency with the
time factor exp(-i w t) (the field carries exp(+i w tau)), and the phase is in degrees, unwrapped
along the angles so that the module's linear interpolation between them follows it. Speeds are in
m/s, densities in g/cm^3 (only ratios count), attenuations in dB per wavelength, thicknesses in m.
A layer is a dict {"thickness_m", "compressional_speed_m_s", "density_g_cm3"} with an optional
"compressional_attenuation_db_per_wavelength".
"""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any, Dict, List, Union

from abyx_tools._extras import require

np = require("numpy", "abyx_tools.reflection")

__all__ = ["coefficient", "rough_surface", "table"]

_NEPERS_PER_DB = math.log(10.0) / 20.0


def _positive(layer: Mapping[str, Any], key: str, what: str) -> float:
    try:
        value = float(layer[key])
    except KeyError:
        raise ValueError(f"{what} needs '{key}'") from None
    except (TypeError, ValueError):
        raise ValueError(f"{what}: '{key}' must be a number, got {layer[key]!r}") from None
    if not (value > 0.0 and math.isfinite(value)):
        raise ValueError(f"{what}: '{key}' must be a positive number, got {value!r}")
    return value


def _loss(layer: Mapping[str, Any], key: str, what: str) -> float:
    value = layer.get(key)
    if value is None:
        return 0.0
    value = float(value)
    if not (value >= 0.0 and math.isfinite(value)):
        raise ValueError(f"{what}: '{key}' must be a number from 0 up, got {value!r}")
    return value


def _wavenumber(speed: float, loss_db: float) -> complex:
    """The complex wavenumber per unit angular frequency: (1 + i delta / k) / c, delta from dB per wavelength."""
    return complex(1.0, loss_db * _NEPERS_PER_DB / (2.0 * math.pi)) / speed


def _vertical(k: complex, kt: Any) -> Any:
    """sqrt(k^2 - kt^2) with a non-negative imaginary part: a wave going down or decaying downwards."""
    root = np.sqrt(k * k - kt * kt + 0j)
    return np.where(root.imag < 0.0, -root, root)


def _half_space(bottom: Mapping[str, Any], kt: Any, above_k: complex, above_rho: float) -> Any:
    """R at the top of the half-space, seen from a fluid of wavenumber above_k and density above_rho."""
    model = bottom.get("model")
    what = f"the {model} bottom"
    if model not in ("acoustic", "elastic"):
        raise ValueError(f"a half-space bottom must be 'acoustic' or 'elastic', got {model!r}")
    kp = _wavenumber(_positive(bottom, "compressional_speed_m_s", what),
                     _loss(bottom, "compressional_attenuation_db_per_wavelength", what))
    rho = _positive(bottom, "density_g_cm3", what)
    kz = _vertical(above_k, kt)
    kzp = _vertical(kp, kt)
    if model == "acoustic":
        return (rho * kz - above_rho * kzp) / (rho * kz + above_rho * kzp)
    ks = _wavenumber(_positive(bottom, "shear_speed_m_s", what),
                     _loss(bottom, "shear_attenuation_db_per_wavelength", what))
    kzs = _vertical(ks, kt)
    # the fluid-solid coefficient: B = (2 kt^2 - ks^2)^2 + 4 kt^2 kzp kzs
    b = (2.0 * kt * kt - ks * ks) ** 2 + 4.0 * kt * kt * kzp * kzs
    return (rho * kz * b - above_rho * ks ** 4 * kzp) / (rho * kz * b + above_rho * ks ** 4 * kzp)


def _grazing(grazing_deg: Any) -> Any:
    angles = np.asarray(grazing_deg, dtype=float)
    if angles.ndim != 1 or not np.all(np.isfinite(angles)) or np.any((angles < 0.0) | (angles > 90.0)):
        raise ValueError("grazing_deg must be a list of finite angles from 0 to 90 deg")
    return angles


def coefficient(grazing_deg: Any, bottom: Mapping[str, Any], *, freq_hz: Any = None,
                layers: Sequence[Mapping[str, Any]] = (), water_speed_m_s: float = 1500.0,
                water_density_g_cm3: float = 1.0) -> Any:
    """The plane-wave reflection coefficient at each grazing angle (deg) of the half-space `bottom`
    (a bottom_model dict, "acoustic" or "elastic") under `layers` (top first), for water of the
    given sound speed and density at the seabed. Layers make it depend on frequency: `freq_hz` is
    then required, and a list of frequencies gives one row of coefficients per frequency."""
    angles = _grazing(grazing_deg)
    water = {"compressional_speed_m_s": water_speed_m_s, "density_g_cm3": water_density_g_cm3}
    kw = _wavenumber(_positive(water, "compressional_speed_m_s", "the water"), 0.0)
    rho_w = _positive(water, "density_g_cm3", "the water")
    kt = kw * np.cos(np.radians(angles))  # per unit angular frequency, as every wavenumber here
    if not layers:
        r = _half_space(bottom, kt, kw, rho_w)
        return np.broadcast_to(r, (np.size(freq_hz), angles.size)).copy() if np.ndim(freq_hz) == 1 else r
    if freq_hz is None:
        raise ValueError("a layered bottom depends on frequency: give freq_hz")
    omegas = 2.0 * math.pi * np.abs(np.atleast_1d(np.asarray(freq_hz, dtype=float)))
    stack = []
    for j, layer in enumerate(layers):
        what = f"layer {j}"
        stack.append((_positive(layer, "thickness_m", what),
                      _wavenumber(_positive(layer, "compressional_speed_m_s", what),
                                  _loss(layer, "compressional_attenuation_db_per_wavelength", what)),
                      _positive(layer, "density_g_cm3", what)))
    # from the half-space up: the coefficient at the top of each layer from the one at its bottom
    _, k_last, rho_last = stack[-1]
    r = np.broadcast_to(_half_space(bottom, kt, k_last, rho_last), (omegas.size, angles.size))
    for j in range(len(stack) - 1, -1, -1):
        thickness, k, rho = stack[j]
        above_k, above_rho = (kw, rho_w) if j == 0 else stack[j - 1][1:]
        kz, kz_above = _vertical(k, kt), _vertical(above_k, kt)
        interface = (rho * kz_above - above_rho * kz) / (rho * kz_above + above_rho * kz)
        turn = np.exp(2j * np.outer(omegas, kz) * thickness)
        r = (interface + r * turn) / (1.0 + interface * r * turn)
    return r if np.ndim(freq_hz) == 1 else r[0]


def _as_table(angles: Any, r: Any) -> Dict[str, Any]:
    phase = np.degrees(np.unwrap(np.angle(r)))
    return {"model": "table", "angle_deg": [float(a) for a in angles], "magnitude": [float(m) for m in np.abs(r)],
            "phase_deg": [float(p) for p in phase]}


def table(grazing_deg: Any, bottom: Mapping[str, Any], *, freq_hz: Any = None,
          layers: Sequence[Mapping[str, Any]] = (), water_speed_m_s: float = 1500.0,
          water_density_g_cm3: float = 1.0) -> Union[Dict[str, Any], List[Dict[str, Any]]]:
    """`coefficient` as a bottom_model table, {"model": "table", "angle_deg", "magnitude",
    "phase_deg"}; for a list of frequencies a list of tables, one per frequency (the module's table
    serves every frequency of a run alike, so a layered bottom takes one run per frequency)."""
    angles = _grazing(grazing_deg)
    r = coefficient(angles, bottom, freq_hz=freq_hz, layers=layers, water_speed_m_s=water_speed_m_s,
                    water_density_g_cm3=water_density_g_cm3)
    if np.ndim(freq_hz) == 1:
        return [_as_table(angles, row) for row in r]
    return _as_table(angles, r)


def rough_surface(grazing_deg: Any, freq_hz: Any, rms_height_m: float, *,
                  water_speed_m_s: float = 1500.0) -> Union[Dict[str, Any], List[Dict[str, Any]]]:
    """The coherent reflection coefficient of a pressure-release surface whose heights are Gaussian with
    the rms `rms_height_m` (Kirchhoff, Eckart): R = -exp(-2 (k sigma sin(grazing))^2), k = 2 pi f / c,
    as {"angle_deg", "magnitude", "phase_deg"} for `surface.reflection` (the scattered rest of the wave
    is lost); for a list of frequencies a list of them. Good where k sigma sin(grazing) is not large
    against 1 and the surface's slopes are gentle."""
    angles = _grazing(grazing_deg)
    sigma = float(rms_height_m)
    if not (sigma >= 0.0 and math.isfinite(sigma)):
        raise ValueError(f"rms_height_m must be a finite number from 0 up, got {rms_height_m!r}")
    speed = _positive({"water_speed_m_s": water_speed_m_s}, "water_speed_m_s", "the water")
    freqs = np.atleast_1d(np.asarray(freq_hz, dtype=float))
    if freqs.ndim != 1 or not np.all((freqs > 0.0) & np.isfinite(freqs)):
        raise ValueError("freq_hz must be a positive frequency or a list of them")
    tables = []
    for f in freqs:
        rayleigh = 2.0 * math.pi * f / speed * sigma * np.sin(np.radians(angles))
        tables.append({"angle_deg": [float(a) for a in angles],
                       "magnitude": [float(m) for m in np.exp(-2.0 * rayleigh ** 2)],
                       "phase_deg": [180.0] * len(angles)})
    return tables if np.ndim(freq_hz) == 1 else tables[0]
