"""One run of the simulation from Python objects, and the size of the process's worker pool.

The extension module runs its rays on a pool of worker threads that belongs to the process. The
pool is created by the first `run_simulation` call of the process, with as many workers as the
environment variable ABYX_NUM_THREADS says (one per logical processor when it is unset), and its
size is fixed from then on: setting the variable later changes nothing in that process. A thread
count must therefore be chosen before the first run, which is what `set_worker_threads` and the
command line's `--threads` do.
"""

from __future__ import annotations

import importlib.util
import os
import time
from collections import deque
from collections.abc import Mapping
from typing import Any, Optional, cast

from abyx_tools._extras import require
from abyx_tools.schema import BOTTOM_MODELS, SECTIONS, Result, SimulationConfig, record_keys

__all__ = [
    "MAX_WORKER_THREADS",
    "NUM_THREADS_VARIABLE",
    "RATE_WINDOW_S",
    "TOOLKIT_KEYS",
    "keyed_config",
    "plain_config",
    "run",
    "set_worker_threads",
]

# The environment variable the extension module reads when it creates its worker pool.
NUM_THREADS_VARIABLE = "ABYX_NUM_THREADS"
# Keys of a configuration that only the toolkit reads (the geographic origin of abyx_tools.ocean); `run`
# removes them, so that the module never sees them.
TOOLKIT_KEYS = ("geographic",)
# The largest pool size the extension module accepts.
MAX_WORKER_THREADS = 4096
# The progress bar's rate, and the time left at it, count the rays done over this last stretch of the run: the rays
# of a fan take unequal times (the steep ones, which bounce most, come first), so the average since the start
# misjudges the rays left by hours.
RATE_WINDOW_S = 10.0
# The bar's clock (seconds; a test may replace it).
_clock = time.monotonic

# The keys of the configuration, of each section and of each bottom model in the order the module reads them from a
# list of values, with how many a list must hold: (keys, how many are required).
CONFIG_KEYS = record_keys(SimulationConfig)
SECTION_KEYS = {section: record_keys(record) for section, record in SECTIONS.items()}
BOTTOM_KEYS = {name: record_keys(record) for name, record in BOTTOM_MODELS.items()}

# The pool size this process's pool was created with by a run through this module, None before it.
_pool_size_at_first_run: Optional[str] = None
_ran_in_this_process = False


def plain_config(config: Any) -> Any:
    """A copy of `config` made of dicts, lists, strings, numbers and booleans only: NumPy arrays and
    scalars (anything with `tolist`) become lists and Python numbers, tuples become lists, mappings
    become dicts. The extension module serialises its input with `json.dumps`, which takes none of
    the former."""
    if isinstance(config, Mapping):
        return {key: plain_config(value) for key, value in config.items()}
    if isinstance(config, (list, tuple)):
        return [plain_config(value) for value in config]
    if isinstance(config, (str, bytes, bool, int, float)) or config is None:
        return config
    tolist = getattr(config, "tolist", None)
    if callable(tolist):
        return plain_config(tolist())
    return config


def _keyed(values: Any, keys: Any) -> Any:
    """A list of values as the dict of their keys; anything else, a list of a length the module
    refuses included, as it is (the module says what is wrong with it)."""
    names, required = keys
    if isinstance(values, (list, tuple)) and required <= len(values) <= len(names):
        return dict(zip(names, values))
    return values


def keyed_config(config: Any) -> Any:
    """`config` with the configuration, each section and the bottom_model written as lists of their
    values (as the module also reads them) turned into the dicts of their keys; sections written with
    their keys are kept as they are. Only the dicts on the way are new; the values are shared."""
    config = _keyed(config, CONFIG_KEYS)
    if not isinstance(config, Mapping):
        return config
    keyed = dict(config)
    for section, keys in SECTION_KEYS.items():
        if section in keyed:
            keyed[section] = _keyed(keyed[section], keys)
    bathymetry = keyed.get("bathymetry")
    if not isinstance(bathymetry, Mapping):
        return keyed
    bottom = bathymetry.get("bottom_model")
    if isinstance(bottom, (list, tuple)) and bottom and isinstance(bottom[0], str) and bottom[0] in BOTTOM_KEYS:
        fields = _keyed(list(bottom[1:]), BOTTOM_KEYS[bottom[0]])
        if isinstance(fields, dict):
            keyed["bathymetry"] = dict(bathymetry, bottom_model={"model": bottom[0], **fields})
    return keyed


def set_worker_threads(count: int) -> None:
    """Asks for a worker pool of `count` threads in this process. Effective only before the
    process's first run: the pool keeps the size it was created with. Raises ValueError for a count
    outside 1..4096 and RuntimeError when a run of this process has already created the pool with
    another size; only runs made through this toolkit are seen (after a direct
    `abyx.run_simulation` call the pool exists and the request has no effect)."""
    if isinstance(count, bool) or not isinstance(count, int):
        raise TypeError(f"the thread count must be an int, got {type(count).__name__}")
    if not 1 <= count <= MAX_WORKER_THREADS:
        raise ValueError(f"the thread count must be from 1 to {MAX_WORKER_THREADS}, got {count}")
    wanted = str(count)
    if _ran_in_this_process and wanted != _pool_size_at_first_run:
        created = _pool_size_at_first_run or "one per logical processor"
        raise RuntimeError(
            f"cannot use {count} worker threads: this process's worker pool already exists "
            f"({created}) and keeps its size; choose the thread count before the first run"
        )
    os.environ[NUM_THREADS_VARIABLE] = wanted


def run(config: SimulationConfig | Mapping[str, Any], progress: bool = False, check: bool = True) -> Result:
    """Runs one simulation with `abyx.run_simulation` on a plain copy of `config` (see
    `plain_config`) and returns its result dict. With `check` the configuration is checked first
    (`abyx_tools.checks`): its mistakes are UserWarnings, or a ValueError where no answer can be
    right; otherwise warnings and exceptions are the module's own. The
    run is interruptible (Ctrl-C raises KeyboardInterrupt, other threads run meanwhile) unless the
    configuration sets `beam.interruptible` itself. `progress` shows a live bar of the rays (tqdm:
    in a notebook or a terminal), updated ten times a second, its time left the rays left at the rate of the last
    `RATE_WINDOW_S` seconds. The toolkit's own keys
    (`TOOLKIT_KEYS`) are left out of the copy."""
    import abyx

    if check:
        from abyx_tools.checks import enforce

        enforce(config, stacklevel=2)

    plain = keyed_config(plain_config(config))  # a beam written as a list takes interruptible too
    if isinstance(plain, dict):
        for key in TOOLKIT_KEYS:
            plain.pop(key, None)
    beam = plain.get("beam") if isinstance(plain, dict) else None
    if isinstance(beam, dict):
        beam.setdefault("interruptible", True)
    pool_size = os.environ.get(NUM_THREADS_VARIABLE) or None
    try:
        result = _run_with_bar(plain) if progress else abyx.run_simulation(plain)
    except (TypeError, RuntimeError):
        # refused before the engine started: the pool was not touched
        raise
    except BaseException:
        _note_pool_created(pool_size)
        raise
    _note_pool_created(pool_size)
    return cast(Result, result)


class _RecentRate:
    """Rays per second over the last `RATE_WINDOW_S` seconds of samples (time, rays done); 0 while unknown."""

    def __init__(self) -> None:
        self._samples: deque[tuple[float, int]] = deque()

    def add(self, time_s: float, done: int) -> None:
        self._samples.append((time_s, done))
        # keep the newest sample at or before the window's start, so the rate spans the whole window
        while len(self._samples) > 2 and self._samples[1][0] <= time_s - RATE_WINDOW_S:
            self._samples.popleft()

    def rays_per_s(self) -> float:
        (start_s, first), (end_s, last) = self._samples[0], self._samples[-1]
        return (last - first) / (end_s - start_s) if end_s > start_s else 0.0


def _ray_bar_class() -> Any:
    """tqdm's bar showing the recent rate and the time left at it. Notebooks get the widget bar where ipywidgets
    is installed and the text bar otherwise (tqdm.auto would warn and fall back to it): the `progress` extra
    brings tqdm alone."""
    module = "tqdm.auto" if importlib.util.find_spec("ipywidgets") else "tqdm.std"
    base: Any = require(module, "abyx_tools.run(..., progress=True)").tqdm

    class RayBar(base):
        recent: Optional[_RecentRate] = None

        @property
        def format_dict(self) -> Any:
            shown = super().format_dict
            if self.recent is not None:
                shown["rate"] = self.recent.rays_per_s()  # 0 shows the time left as '?'
            return shown

    return RayBar


def _run_with_bar(plain: Any) -> Any:
    """run_simulation with a bar of the rays traced, closed however the run ends."""
    import abyx

    with _ray_bar_class()(total=None, unit="ray", desc="abyx", dynamic_ncols=True) as bar:
        bar.recent = recent = _RecentRate()

        def watch(done: int, total: int) -> None:
            recent.add(_clock(), done)
            bar.total = total
            bar.n = done
            bar.refresh()  # the module calls about ten times a second

        return abyx._run_simulation_watched(plain, watch)


def _note_pool_created(pool_size: Optional[str]) -> None:
    global _ran_in_this_process, _pool_size_at_first_run
    if not _ran_in_this_process:
        _pool_size_at_first_run = pool_size
        _ran_in_this_process = True
