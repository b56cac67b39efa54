"""Python bindings for the abyx underwater acoustic ray tracer."""

from typing import Any, Callable, Mapping

__all__ = ["__doc__", "run_simulation"]
__version__: str  # the distribution's version
simd: str  # the flavour serving this process: "avx2" or "baseline" (ABYX_SIMD picks one)

class PanicException(BaseException):
    """Raised when abyx meets an internal fault. Derives from BaseException, so a handler for
    Exception does not catch it."""

def run_simulation(py_cfg: Mapping[str, Any]) -> dict[str, Any]:
    """Run an abyx simulation from a Python configuration object.

    Parameters
    ----------
    py_cfg : dict-like
        Simulation configuration following the abyx input schema.

    Returns
    -------
    dict
        Output dictionary containing `pressure_field` and optional `ray_paths`.

    Notes
    -----
    Unknown config keys are ignored and emitted as Python warnings.
    """

def _run_simulation_watched(py_cfg: Mapping[str, Any], watch: Callable[[int, int], None], /) -> dict[str, Any]:
    """run_simulation, interruptible, calling watch(rays_done, rays_total) about every 0.1 s and at the end (the
    toolkit's progress bar)."""
