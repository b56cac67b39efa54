"""Python bindings for the abyx underwater acoustic ray tracer."""

from typing import Any, Mapping

__all__ = ["__doc__", "run_simulation"]

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
