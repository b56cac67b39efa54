"""The arrivals of a run (`beam.arrivals`) as arrays or a table, and the impulse responses they make.

Each arrival is one path from the source to a receiver: its delay, its complex amplitude per
frequency, the launch angles of its central ray and its surface and bottom bounces. The arrivals of a
receiver reproduce its pressure: p_k = sum_j A_jk exp(2 pi i f_k tau_j).
"""

from __future__ import annotations

import math
import operator
import os
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any, Dict, NamedTuple, Optional, Tuple, get_args, get_type_hints

from abyx_tools._extras import require
from abyx_tools.results import to_arrays
from abyx_tools.saved import ARRIVAL_ANGLES, SavedRun, open_dataset, read_npz
from abyx_tools.schema import Arrivals

np = require("numpy", "abyx_tools.arrival_tables")

__all__ = [
    "ArrivalArrays",
    "ImpulseResponse",
    "arrival_arrays",
    "arrival_variables",
    "arrivals",
    "impulse_response",
]

# An impulse response holds at most this many bytes (its times and values); a larger one is refused.
RESPONSE_BUDGET_BYTES = 2**30
# Its samples are summed over the arrivals in blocks of at most this many terms.
RESPONSE_BLOCK_TERMS = 2**20
# Its times lie within this many seconds of zero (sound goes round the globe in about 7 hours).
RESPONSE_SPAN_LIMIT_S = 1e6

# The per-arrival lists of result["arrivals"] (the amplitudes aside, per frequency too) and their dtypes.
_LISTS = {
    name: np.int64 if get_args(hint) == (int,) else np.float64
    for name, hint in get_type_hints(Arrivals).items()
    if not name.startswith("amplitude_")
}


@dataclass(frozen=True)
class ArrivalArrays:
    """The arrivals of a run, one entry per arrival, by receiver and then by delay."""

    frequency_hz: Any  # (nf,) float64
    receiver: Any  # (n,) int64: the receiver's flat index, as in the field's delay_s
    x_m: Any  # (n,) float64: the receiver's position (m)
    y_m: Any
    z_m: Any
    delay_s: Any  # (n,) float64: travel time (s)
    amplitude: Any  # (nf, n) complex128: p = sum A exp(2 pi i f delay)
    launch_elev_deg: Any  # (n,) float64: launch angles of the central ray (deg)
    launch_azim_deg: Any
    arrival_elev_deg: Any  # (n,) float64: its angles at the receiver (deg; NaN from files written without them)
    arrival_azim_deg: Any
    n_surface: Any  # (n,) int64: bounces of the path
    n_bottom: Any
    ray_index: Any  # (n,) int64: the central ray in the azimuth-major launch list

    def at(self, receiver: int) -> Any:
        """The positions in these arrays of one receiver's arrivals."""
        return np.flatnonzero(self.receiver == receiver)


def _from_stored(stored: Any) -> ArrivalArrays:
    """From the variables of a dataset, or the arrays of an .npz file, that `save` wrote."""
    if "arrival_delay_s" not in stored:
        raise ValueError("the file or dataset holds no arrivals: run with beam.arrivals set to true")

    def value(name: str, dtype: Any) -> Any:
        return np.asarray(getattr(stored[name], "values", stored[name]), dtype=dtype)

    # one frequency chosen from a dataset by .sel is a scalar
    frequency = np.atleast_1d(value("frequency_hz" if "frequency_hz" in stored else "freq_hz", np.float64))
    columns = {name: value(f"arrival_{name}", dtype) for name, dtype in _LISTS.items() if f"arrival_{name}" in stored}
    for name in ARRIVAL_ANGLES:
        columns.setdefault(name, np.full(columns["delay_s"].shape, np.nan))
    amplitude = value("arrival_amplitude_re", np.float64) + 1j * value("arrival_amplitude_im", np.float64)
    return ArrivalArrays(
        frequency_hz=frequency,
        amplitude=amplitude.reshape(frequency.size, columns["delay_s"].size),  # a run may have no frequency
        **columns,
        **{axis: value(f"arrival_{axis}", np.float64) for axis in ("x_m", "y_m", "z_m")},
    )


def arrival_arrays(result: Any, config: Optional[Mapping[str, Any]] = None) -> ArrivalArrays:
    """The arrivals of a result dict (run with `beam.arrivals`), of a dataset made from one by
    `to_dataset`, or of a file `save` wrote (a path: netCDF or .npz). Polar receivers are placed
    around the source of the run's `config`, or relative to the source without it. `ArrivalArrays`
    are taken as they are."""
    if isinstance(result, ArrivalArrays):
        return result
    if isinstance(result, (str, os.PathLike)):
        if os.fspath(result).lower().endswith(".npz"):
            return _from_stored(read_npz(result))
        return _from_stored(open_dataset(result))
    if isinstance(result, SavedRun):
        raise ValueError("a run read by load() does not carry the arrivals its file holds: pass the file's name "
                         "instead, as in arrivals(path) or plot.arrivals(path, receiver)")
    if not isinstance(result, Mapping) or "pressure_field" not in result:
        return _from_stored(result)
    if "arrivals" not in result:
        raise ValueError("the result holds no arrivals: run with beam.arrivals set to true")
    field = to_arrays(result, config)
    lists = result["arrivals"]
    columns = {name: np.asarray(lists[name], dtype=dtype) for name, dtype in _LISTS.items() if name in lists}
    for name in ARRIVAL_ANGLES:
        columns.setdefault(name, np.full(np.shape(lists["delay_s"]), np.nan))
    n, nf = columns["delay_s"].size, field.frequency_hz.size
    amplitude = np.asarray(lists["amplitude_re"], np.float64) + 1j * np.asarray(
        lists["amplitude_im"], np.float64
    )
    if any(values.size != n for values in columns.values()) or amplitude.size != nf * n:
        raise ValueError(f"result['arrivals'] lists do not agree with {n} arrivals x {nf} frequencies")
    receiver = columns["receiver"]
    x, y, z = (np.asarray(axis, np.float64)[receiver] for axis in field.positions_m())
    return ArrivalArrays(
        frequency_hz=np.asarray(field.frequency_hz, dtype=np.float64),
        x_m=x,
        y_m=y,
        z_m=z,
        amplitude=amplitude.reshape(nf, n),
        **columns,
    )


def arrival_variables(result: Mapping[str, Any], config: Optional[Mapping[str, Any]] = None) -> Dict[str, Any]:
    """The arrivals as dataset variables along an `arrival` dimension (amplitudes along
    (`frequency_hz`, `arrival`)), for `to_dataset` and `save`."""
    arrays = arrival_arrays(result, config)
    names = {
        "delay_s": {"long_name": "arrival delay", "units": "s"},
        "launch_elev_deg": {"long_name": "launch elevation of the central ray", "units": "degree"},
        "launch_azim_deg": {"long_name": "launch azimuth of the central ray", "units": "degree"},
        "arrival_elev_deg": {"long_name": "elevation of the central ray at the receiver", "units": "degree",
                             "positive": "down"},
        "arrival_azim_deg": {"long_name": "azimuth of the central ray at the receiver", "units": "degree"},
        "receiver": {"long_name": "flat receiver index"},
        "n_surface": {"long_name": "surface reflections"},
        "n_bottom": {"long_name": "bottom reflections"},
        "ray_index": {"long_name": "central ray in the launch list"},
        "x_m": {"long_name": "receiver x", "units": "m"},
        "y_m": {"long_name": "receiver y", "units": "m"},
        "z_m": {"long_name": "receiver depth", "units": "m", "positive": "down"},
    }
    variables: Dict[str, Any] = {
        f"arrival_{name}": ("arrival", getattr(arrays, name), attrs) for name, attrs in names.items()
    }
    for part in ("re", "im"):
        values = getattr(arrays.amplitude, "real" if part == "re" else "imag")
        attrs = {"long_name": f"arrival amplitude, {'real' if part == 're' else 'imaginary'} part", "units": "re 1 m"}
        variables[f"arrival_amplitude_{part}"] = (("frequency_hz", "arrival"), values, attrs)
    return variables


def arrivals(result: Any, config: Optional[Mapping[str, Any]] = None) -> Any:
    """The arrivals as a pandas DataFrame, one row per arrival: `receiver`, its `x_m`, `y_m`, `z_m`,
    `delay_s`, one complex `amplitude_<f>hz` column per frequency (`amplitude_<k>` when two
    frequencies print alike), `launch_elev_deg`, `launch_azim_deg`, `arrival_elev_deg`,
    `arrival_azim_deg` (the central ray's angles at the receiver), `n_surface`, `n_bottom` and
    `ray_index`. Accepts a result dict, a dataset or a saved file (see `arrival_arrays`, also for
    `config`)."""
    pd = require("pandas", "abyx_tools.arrival_tables")
    arrays = arrival_arrays(result, config)
    labels = [f"amplitude_{f:g}hz" for f in arrays.frequency_hz]
    if len(set(labels)) != len(labels):
        labels = [f"amplitude_{k}" for k in range(len(labels))]
    table = {name: getattr(arrays, name) for name in ("receiver", "x_m", "y_m", "z_m", "delay_s")}
    table.update(zip(labels, arrays.amplitude))
    table.update(
        (name, getattr(arrays, name))
        for name in ("launch_elev_deg", "launch_azim_deg", "arrival_elev_deg", "arrival_azim_deg", "n_surface",
                     "n_bottom", "ray_index")
    )
    frame = pd.DataFrame(table)
    frame.attrs["frequency_hz"] = [float(f) for f in arrays.frequency_hz]
    return frame


class ImpulseResponse(NamedTuple):
    """A sampled impulse response: its times and its values."""

    time_s: Any  # (n,) float64 sample times (s)
    response: Any  # (n,) complex128 (or float64 when real) values, re 1 m


def impulse_response(
    result: Any,
    receiver: int,
    sample_rate_hz: float,
    *,
    frequency_index: int = 0,
    start_s: Optional[float] = None,
    duration_s: Optional[float] = None,
    band_hz: Optional[float] = None,
    real: bool = False,
) -> ImpulseResponse:
    """The band-limited impulse response of one receiver, built from its arrivals at one frequency:
    each arrival j adds A_j sinc(B (t - tau_j)), with B = `band_hz` (default half the sample rate),
    so that an isolated arrival peaks at `|A_j|` at its delay. Each pulse keeps its arrival's own
    phase, referred to its own delay: where pulses overlap they add as those amplitudes do, not as
    the field at f does (the baseband envelope of the passband response would weigh each by
    exp(2 pi i f tau_j)). `real` gives the real passband response instead,
    sum_j Re(A_j exp(-2 pi i f (t - tau_j))) sinc(B (t - tau_j)), the response to a pulse of carrier f
    (for the time dependence exp(-2 pi i f t) of the pressure). The samples start at `start_s`
    (default 8 / B before the first arrival) and last `duration_s` (default until 8 / B after the
    last). Each argument is checked first (a ValueError names the one that is wrong), and so is the
    size: the times must stay within `RESPONSE_SPAN_LIMIT_S` of zero and the response within
    `RESPONSE_BUDGET_BYTES` (1 GiB)."""
    rate = _positive("sample_rate_hz", sample_rate_hz)
    band = 0.5 * rate if band_hz is None else _positive("band_hz", band_hz)
    if not isinstance(real, (bool, np.bool_)):
        raise ValueError(f"real must be True or False, got {real!r}")
    arrays = arrival_arrays(result)
    index = _index("frequency_index", frequency_index)
    if not 0 <= index < arrays.frequency_hz.size:
        raise IndexError(f"frequency_index {index} is out of range for {arrays.frequency_hz.size} frequencies")
    receiver = _index("receiver", receiver)
    chosen = arrays.at(receiver)
    if chosen.size == 0:
        raise ValueError(f"receiver {receiver} has no arrivals")
    delays = arrays.delay_s[chosen]
    amplitude = arrays.amplitude[index, chosen]
    if not (np.isfinite(delays).all() and np.isfinite(amplitude).all()):
        raise ValueError(f"receiver {receiver} has an arrival whose delay or amplitude is not a finite number")
    start, count = _window(delays, rate, band, start_s, duration_s, real)
    time = start + np.arange(count) / rate
    response = np.empty(count, dtype=np.float64 if real else np.complex128)
    carrier_hz = arrays.frequency_hz[index]
    # in blocks of samples, so that the (samples x arrivals) terms stay within a fixed size
    block = max(1, RESPONSE_BLOCK_TERMS // delays.size)
    for first in range(0, count, block):
        offset = time[first : first + block, None] - delays[None, :]
        terms = amplitude[None, :] * np.sinc(band * offset)
        if real:
            response[first : first + block] = np.real(terms * np.exp(-2j * np.pi * carrier_hz * offset)).sum(axis=1)
        else:
            response[first : first + block] = terms.sum(axis=1)
    return ImpulseResponse(time, response)


def _positive(name: str, value: Any) -> float:
    """A finite number above zero, or a ValueError naming the argument."""
    number = _finite(name, value, "a positive number")
    if not number > 0.0:
        raise ValueError(f"{name} must be a positive number, got {value!r}")
    return number


def _index(name: str, value: Any) -> int:
    """An integer index (not a bool, a string or None), or a ValueError naming the argument."""
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{name} must be an integer index, got {value!r}")
    try:
        index = operator.index(value)
    except TypeError:
        raise ValueError(f"{name} must be an integer index, got {value!r}") from None
    if index < 0:
        raise ValueError(f"{name} must be 0 or more, got {index}")
    return index


def _window(delays: Any, rate: float, band: float, start_s: Any, duration_s: Any, real: bool) -> Tuple[float, int]:
    """The first sample time and the sample count of a response, checked against the span and the
    memory budget before anything is allocated."""
    margin = 8.0 / band
    start = float(delays.min()) - margin if start_s is None else _finite("start_s", start_s)
    duration = float(delays.max()) + margin - start if duration_s is None else _positive("duration_s", duration_s)
    if not duration > 0.0:
        raise ValueError(f"the response would end before it starts: duration {duration:g} s from start_s {start:g} s")
    if not (abs(start) <= RESPONSE_SPAN_LIMIT_S and duration <= RESPONSE_SPAN_LIMIT_S and 1.0 / rate <= duration):
        raise ValueError(
            f"the response would run {duration:g} s from {start:g} s, its samples {1.0 / rate:g} s apart: its times "
            f"must stay within {RESPONSE_SPAN_LIMIT_S:g} s of zero, with more than one sample (a sample_rate_hz or "
            "band_hz this low makes pulses that long)"
        )
    samples = math.ceil(duration * rate)
    needed = samples * (16 if real else 24)  # the times and the values
    if needed > RESPONSE_BUDGET_BYTES:
        raise ValueError(
            f"the response would hold {samples} samples ({needed / 2**30:.3g} GiB), more than the "
            f"{RESPONSE_BUDGET_BYTES / 2**30:g} GiB allowed: lower duration_s or sample_rate_hz"
        )
    return start, samples


def _finite(name: str, value: Any, kind: str = "a finite number") -> float:
    """A finite real number (not a bool or a string), or a ValueError naming the argument."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise ValueError(f"{name} must be {kind}, got {value!r}")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{name} must be {kind}, got {value!r}")
    return number
