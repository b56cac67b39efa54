"""The configuration and the result of `abyx.run_simulation` as TypedDicts, so that editors and type
checkers know every key.

Lengths are in metres with depth z positive downwards, angles in degrees, speeds in m/s, densities
in g/cm^3 and attenuations in dB per wavelength. Gridded values are flat lists in row-major order
(last index fastest). Keys that a section may leave out sit in its `total=False` class; the others
are required.

These classes are the toolkit's one statement of the schema: `record_keys`, `SECTIONS`, `BOTTOM_MODELS` and
`FIELD_KEYS` read it from them, and a test ties them to the extension module's own key tables.
"""

from __future__ import annotations

from typing import Any, Dict, List, Literal, Optional, Tuple, TypedDict, Union, get_type_hints

__all__ = [
    "BOTTOM_MODELS",
    "FIELD_KEYS",
    "SECTIONS",
    "AcousticBottom",
    "Arrivals",
    "Bathymetry",
    "BeamPattern",
    "BeamSettings",
    "BottomModel",
    "Eigenray",
    "ElasticBottom",
    "PressureField",
    "Receivers",
    "ReflectionTable",
    "Result",
    "RigidBottom",
    "SeaSurface",
    "SimulationConfig",
    "SoundSpeed",
    "Source",
    "TableBottom",
    "Water",
    "record_keys",
]


class _SoundSpeedRequired(TypedDict):
    x_ssp_m: List[float]  # grid axis x, strictly increasing (m)
    y_ssp_m: List[float]  # grid axis y, strictly increasing (m)
    z_ssp_m: List[float]  # grid axis z, depth positive down (m)
    c_m_s: List[float]  # nx*ny*nz sound speeds indexed [ix, iy, iz], z fastest (m/s)


class SoundSpeed(_SoundSpeedRequired, total=False):
    """The sound-speed grid."""

    interpolation: Literal["nodes", "linear", "pchip"]  # the speed between the depths; default "nodes"


class RigidBottom(TypedDict):
    """A bottom that reflects everything."""

    model: Literal["rigid"]


class _AcousticBottomRequired(TypedDict):
    model: Literal["acoustic"]
    compressional_speed_m_s: float  # sound speed in the bottom (m/s)
    density_g_cm3: float  # bottom density (g/cm^3)


class AcousticBottom(_AcousticBottomRequired, total=False):
    """A fluid half-space."""

    compressional_attenuation_db_per_wavelength: Optional[float]  # absent or null means 0


class _ElasticBottomRequired(TypedDict):
    model: Literal["elastic"]
    compressional_speed_m_s: float  # compressional speed in the bottom (m/s)
    shear_speed_m_s: float  # shear speed in the bottom (m/s)
    density_g_cm3: float  # bottom density (g/cm^3)


class ElasticBottom(_ElasticBottomRequired, total=False):
    """A solid half-space."""

    compressional_attenuation_db_per_wavelength: Optional[float]  # absent or null means 0
    shear_attenuation_db_per_wavelength: Optional[float]  # absent or null means 0


class ReflectionTable(TypedDict):
    """A reflection coefficient tabulated against the grazing angle, linear between the angles and held beyond them."""

    angle_deg: List[float]  # grazing angles from 0 to 90, strictly increasing (deg)
    magnitude: List[float]  # |R| at each angle, from 0 up
    phase_deg: List[float]  # arg R at each angle (deg), for a positive frequency


class TableBottom(ReflectionTable):
    """The bottom's reflection coefficient as a table."""

    model: Literal["table"]


BottomModel = Union[RigidBottom, AcousticBottom, ElasticBottom, TableBottom]


class _BathymetryRequired(TypedDict):
    x_bty_m: List[float]  # grid axis x (m)
    y_bty_m: List[float]  # grid axis y (m)
    z_bty_m: List[float]  # nx*ny bottom depths indexed [ix, iy], y fastest (m, positive down)


class Bathymetry(_BathymetryRequired, total=False):
    """The bottom depth grid and the bottom it reflects from."""

    water_density_g_cm3: Optional[float]  # water density (g/cm^3); absent or null means 1.0
    bottom_model: BottomModel  # the reflecting bottom; rigid when absent


class _BeamPatternRequired(TypedDict):
    elev_deg: List[float]  # elevations, strictly increasing, positive downwards (deg)
    level_db: Union[List[float], List[List[float]]]  # level per elevation, or per azimuth a row of them (dB)


class BeamPattern(_BeamPatternRequired, total=False):
    """The source's level against launch direction; each ray's amplitude is scaled by 10^(level/20)."""

    azim_deg: List[float]  # azimuths, strictly increasing, spanning less than 360 deg; absent: vertical only


class _SourceRequired(TypedDict):
    position: List[float]  # [x, y, z] of the source (m, z positive down)
    freq_hz: List[float]  # source frequencies (Hz)
    launch_elev_deg: List[float]  # launch elevations in [-90, 90], positive downwards (deg)
    launch_azim_deg: List[float]  # launch azimuths, 0 along +y and 90 along +x (deg)


class Source(_SourceRequired, total=False):
    """The point source and its fan of rays."""

    beam_pattern: Optional[BeamPattern]  # absent or null: the same level in every direction


class Receivers(TypedDict):
    """Where the field is computed: a grid of x * y * z nodes, a list of points, or every (range,
    bearing, depth) around the source."""

    config_type: Literal["grid", "array", "polar"]  # "grid": three axes; "array": three equal-length lists
    x_rcvr_m: List[float]  # receiver x axis or x coordinates, or polar ranges (m)
    y_rcvr_m: List[float]  # receiver y axis or y coordinates (m), or polar bearings (deg)
    z_rcvr_m: List[float]  # receiver depth axis or depths (m, positive down)


class _BeamSettingsRequired(TypedDict):
    step_m: float  # integration step length (m)
    max_steps: int  # largest number of steps of one ray
    max_range_m: float  # largest horizontal distance of a ray from the source (m)


class BeamSettings(_BeamSettingsRequired, total=False):
    """Integration and run settings."""

    store_ray_paths: bool  # return the traced ray paths; default false
    show_progress: bool  # report progress; default false
    atomic_progress_counter: bool  # progress as text lines instead of a bar; default false
    integration_method: Literal["euler", "rk2"]  # step integrator; default "euler"
    beam_type: Literal["geometric", "cerveny"]  # default "geometric"
    beam_width: Union[Literal["min_width", "space_filling"], float]  # "cerveny" only; default "min_width"
    incoherent: bool  # also return the incoherent intensity; default false
    interruptible: bool  # release the interpreter lock and stop at Ctrl-C; default false (true in abyx_tools.run)
    arrivals: bool  # also return the arrivals at every receiver; default false
    max_arrivals: int  # arrivals kept per receiver, the strongest, 1 to 1000000; default 20
    eigenrays: bool  # also return the path behind each arrival (needs arrivals); default false
    min_amplitude: float  # a ray stops once its amplitude falls below this; default 0 (never)


class _SeaSurfaceRequired(TypedDict):
    x_ati_m: List[float]  # grid axis x (m), strictly increasing
    y_ati_m: List[float]  # grid axis y (m), strictly increasing
    z_ati_m: List[float]  # nx*ny surface depths indexed [ix, iy], y fastest (m, positive down)


class SeaSurface(_SeaSurfaceRequired, total=False):
    """A shaped sea surface instead of the flat one at z = 0 (depth positive down, so a crest is negative); source
    and receivers must lie below it, and it above the bottom. The module also takes a section of `reflection` alone
    (the flat surface with that table), without the grid's three keys."""

    reflection: Optional[ReflectionTable]  # the surface's coefficient; absent or null: pressure release (R = -1)


class Water(TypedDict, total=False):
    """The water's volume absorption."""

    absorption: Union[Literal["none", "thorp", "francois_garrison"], float]  # a number: dB/km; default "none"
    temperature_c: float  # for "francois_garrison" (deg C); default 4
    salinity_psu: float  # for "francois_garrison"; default 35
    ph: float  # for "francois_garrison"; default 8


class _SimulationConfigRequired(TypedDict):
    ssp: SoundSpeed  # the sound-speed grid
    bathymetry: Bathymetry  # the bottom
    source: Source  # the source
    receivers: Receivers  # the receivers
    beam: BeamSettings  # the run settings


class SimulationConfig(_SimulationConfigRequired, total=False):
    """The whole input of one run, as passed to `abyx.run_simulation`."""

    surface: Optional[SeaSurface]  # a shaped sea surface; absent or null: the flat one at z = 0
    water: Water  # the water's absorption; none when absent


class _PressureFieldAlways(TypedDict):
    frequency_hz: List[float]  # the source frequencies in configuration order (Hz)
    shape: Tuple[int, int, int, int]  # (nf, nx, ny, nz) grid, (nf, n, 1, 1) array, (nf, nr, nb, nz) polar
    pressure_re: List[float]  # real parts of the complex pressure, row-major over shape
    pressure_im: List[float]  # imaginary parts of the complex pressure, row-major over shape
    delay_s: List[float]  # earliest arrival per receiver, inf where no ray arrives (s)
    amplitude: List[float]  # amplitude of that arrival per receiver, 0 where no ray arrives


class PressureField(_PressureFieldAlways, total=False):
    """The field at the receivers: the grid axes in grid mode, the receiver points in array mode,
    the range, bearing and depth axes in polar mode."""

    receiver_positions_m: List[List[float]]  # array mode: [x, y, z] of each receiver (m)
    intensity: List[float]  # with beam.incoherent: incoherent intensity, laid out like pressure_re
    x_m: List[float]  # grid mode: receiver x axis (m)
    y_m: List[float]  # grid mode: receiver y axis (m)
    z_m: List[float]  # grid and polar mode: receiver depth axis (m)
    range_m: List[float]  # polar mode: the ranges from the source (m)
    bearing_deg: List[float]  # polar mode: the bearings (deg, 0 along +y, 90 along +x)


class Arrivals(TypedDict):
    """With beam.arrivals: flat lists, one entry per arrival, by receiver and then by delay."""

    receiver: List[int]  # flat receiver index, as in delay_s
    delay_s: List[float]  # amplitude-weighted travel time at the receiver (s)
    launch_elev_deg: List[float]  # launch elevation of the arrival's central ray (deg)
    launch_azim_deg: List[float]  # launch azimuth of the arrival's central ray (deg)
    arrival_elev_deg: List[float]  # elevation of that ray at the receiver, positive downwards (deg)
    arrival_azim_deg: List[float]  # its azimuth there, 0 along +y, 90 along +x, in [0, 360) (deg)
    n_surface: List[int]  # surface reflections of the path
    n_bottom: List[int]  # bottom reflections of the path
    ray_index: List[int]  # the central ray, in the azimuth-major launch list
    amplitude_re: List[float]  # nf x arrivals, frequency first: p = sum A exp(2 pi i f delay)
    amplitude_im: List[float]  # imaginary parts, laid out as amplitude_re


class Eigenray(TypedDict):
    """With beam.eigenrays: the path behind one arrival, from the source to the receiver's foot point."""

    receiver: int  # flat receiver index
    ray_index: int  # the arrival's central ray
    path: List[List[float]]  # its [x, y, z] points (m)


class _ResultAlways(TypedDict):
    pressure_field: PressureField  # the field at the receivers


class Result(_ResultAlways, total=False):
    """What `abyx.run_simulation` returns."""

    ray_paths: List[
        List[List[float]]
    ]  # with beam.store_ray_paths: per ray, its [x, y, z] points (m)
    arrivals: Arrivals  # with beam.arrivals
    eigenrays: List[Eigenray]  # with beam.eigenrays: one per arrival, in the order of arrivals


# The first key of a record that the module reads by its key only: a record written as a list of values holds the keys
# before it. Every key of the other records may be listed.
FIRST_KEY_ONLY = {"SoundSpeed": "interpolation", "BeamSettings": "beam_type", "Source": "beam_pattern",
                  "SimulationConfig": "surface", "SeaSurface": "reflection"}
# A bottom_model's tag; the records take it as their first key.
BOTTOM_TAG = "model"
# The configuration's sections, each with its record.
SECTIONS: Dict[str, Any] = {name: next((a for a in getattr(hint, "__args__", ()) if a is not type(None)), hint)
                             for name, hint in get_type_hints(SimulationConfig).items()}
# The bottom models by name; a bottom_model list is the name, then the model's keys.
BOTTOM_MODELS: Dict[str, Any] = {"rigid": RigidBottom, "acoustic": AcousticBottom, "elastic": ElasticBottom,
                                  "table": TableBottom}
# The keys every pressure field has, in the order the module writes them after the receivers.
FIELD_KEYS: Tuple[str, ...] = tuple(_PressureFieldAlways.__annotations__)


def record_keys(record: Any) -> Tuple[Tuple[str, ...], int]:
    """A record's keys in the order the module reads them from a list of values (those it may be written with), and
    how many of them such a list must hold: the required ones, which come first."""
    keys = tuple(key for key in record.__annotations__ if key != BOTTOM_TAG)
    first_key_only = FIRST_KEY_ONLY.get(record.__name__)
    if first_key_only is not None:
        keys = keys[: keys.index(first_key_only)]
    return keys, len(record.__required_keys__ - {BOTTOM_TAG})
