"""The `abyx` command line: run a configuration file, and draw a result file.

    abyx run config.json -o result.nc [--force] [--threads N] [--no-progress] [--no-check]
    abyx plot result.nc --depth 50 [-o picture.png]

Also reachable as `python -m abyx_tools`. The exit status is 0 on success, 1 when the input is
refused or a file cannot be read or written (the message, the module's own where it comes from the
module, goes to standard error), and 2 for a malformed command line.

`--threads N` sizes the module's worker pool. The pool is created by the first run of a process and
keeps its size, so the option takes effect because the command sets ABYX_NUM_THREADS before it runs
anything; calling `main` again in the same process with another count is refused.
"""

from __future__ import annotations

import argparse
import copy
import json
import math
import os
import sys
import warnings
from pathlib import Path
from typing import Any, Callable, List, Optional, Sequence

from abyx_tools import __version__, runtime
from abyx_tools._extras import require
from abyx_tools._nesting import CONFIG_DEPTH_LIMIT, nested_deeper_than
from abyx_tools.runtime import keyed_config, set_worker_threads

__all__ = ["main"]

PROGRAM = "abyx"
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_INTERRUPTED = 130  # as a shell reports a command ended by SIGINT


class CommandError(Exception):
    """A failure reported to the user as one line on standard error."""


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return value


def _finite(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"expected a finite number, got {text!r}")
    return value


# The pictures are 7 x 5 inches: at most 7000 x 5000 pixels.
DPI_RANGE = (10, 1000)


def _dpi(text: str) -> int:
    value = _positive_int(text)
    if not DPI_RANGE[0] <= value <= DPI_RANGE[1]:
        raise argparse.ArgumentTypeError(f"expected a resolution from {DPI_RANGE[0]} to {DPI_RANGE[1]}, got {text!r}")
    return value


# Worker threads per processor that --threads may ask for: more only adds overhead.
THREADS_PER_PROCESSOR = 8


def _processors() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _threads(text: str) -> int:
    value = _positive_int(text)
    limit = THREADS_PER_PROCESSOR * _processors()
    if value > limit:
        raise argparse.ArgumentTypeError(
            f"expected at most {limit} threads ({THREADS_PER_PROCESSOR} per processor available), got {text!r}"
        )
    return value


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Run abyx simulations and draw their results."
    )
    parser.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    run = commands.add_parser(
        "run",
        help="run a JSON configuration and save the result",
        description="Run the JSON configuration CONFIG and save the result as netCDF (*.nc, "
        "needs the xarray extra) or NumPy (*.npz).",
    )
    run.add_argument("config", metavar="CONFIG", help="configuration file (JSON)")
    run.add_argument(
        "-o",
        "--output",
        metavar="RESULT",
        help="result file, *.nc or *.npz (default: CONFIG with the suffix .nc)",
    )
    run.add_argument(
        "--threads",
        type=_threads,
        metavar="N",
        help="worker threads of the run (default: ABYX_NUM_THREADS, else one per logical "
        "processor)",
    )
    run.add_argument(
        "--force", action="store_true", help="replace RESULT when it exists (keeping its permissions)"
    )
    progress = run.add_mutually_exclusive_group()
    progress.add_argument(
        "--progress",
        dest="progress",
        action="store_true",
        default=None,
        help="show progress (the default unless the configuration's beam.show_progress says "
        "otherwise)",
    )
    progress.add_argument(
        "--no-progress", dest="progress", action="store_false", help="show no progress"
    )
    run.add_argument(
        "--no-check",
        dest="check",
        action="store_false",
        help="run without the toolkit's checks of the configuration (mistakes the module accepts "
        "silently); the module's own validation stays",
    )

    plot = commands.add_parser(
        "plot",
        help="draw a result file into a PNG",
        description="Draw one picture of the result file RESULT (*.nc or *.npz) into a PNG.",
    )
    plot.add_argument("result", metavar="RESULT", help="result file written by 'abyx run'")
    what = plot.add_mutually_exclusive_group(required=True)
    what.add_argument(
        "--depth",
        type=_finite,
        metavar="Z",
        help="transmission loss on the horizontal slice at depth Z (m)",
    )
    what.add_argument(
        "--bearing",
        type=_finite,
        metavar="DEG",
        help="transmission loss on the vertical slice along bearing DEG from the source "
        "(0 along +y, 90 along +x)",
    )
    what.add_argument("--bathymetry", action="store_true", help="the bottom depth")
    what.add_argument(
        "--rays",
        choices=("plan", "range-depth"),
        help="the ray paths, from above or in range-depth",
    )
    plot.add_argument(
        "--frequency",
        type=_finite,
        metavar="HZ",
        help="frequency of a transmission-loss picture (default: the first)",
    )
    plot.add_argument(
        "-o",
        "--output",
        metavar="PNG",
        help="picture file (default: RESULT's name with the picture's kind and .png)",
    )
    for bound, default in (("--vmin", "the 2nd percentile"), ("--vmax", "the 98th, at most 60 dB more")):
        plot.add_argument(
            bound,
            type=_finite,
            metavar="DB",
            help=f"colour limit of a transmission-loss picture (default: {default})",
        )
    plot.add_argument(
        "--dpi", type=_dpi, default=150, help=f"resolution, {DPI_RANGE[0]} to {DPI_RANGE[1]} (default: 150)"
    )
    return parser


class _DuplicateKey(ValueError):
    pass


def _refuse_duplicates(pairs: List[tuple[str, Any]]) -> dict[str, Any]:
    """An object of the file: a key written twice would silently keep only its last value."""
    members: dict[str, Any] = {}
    for key, value in pairs:
        if key in members:
            raise _DuplicateKey(key)
        members[key] = value
    return members


def _read_config(path: str) -> Any:
    try:
        with open(path, encoding="utf-8") as stream:
            config = json.load(stream, object_pairs_hook=_refuse_duplicates)
    except RecursionError:
        config = None
    except _DuplicateKey as error:
        raise CommandError(f'{path}: the key "{error}" appears twice in one object') from None
    except OSError as error:
        raise CommandError(f"cannot read {path}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CommandError(f"{path} is not UTF-8 text: {error}") from None
    except json.JSONDecodeError as error:
        raise CommandError(f"{path} is not valid JSON: {error}") from None
    except ValueError as error:  # a number of thousands of digits
        raise CommandError(f"{path} holds a number JSON readers refuse: {error}") from None
    if config is None or nested_deeper_than(config, CONFIG_DEPTH_LIMIT):
        raise CommandError(f"{path} nests lists and objects more than {CONFIG_DEPTH_LIMIT} deep")
    return config


def _check_destination(path: Path, suffixes: Sequence[str]) -> None:
    """Refuses an output path before any work is done: unknown suffix or missing folder."""
    if path.suffix.lower() not in suffixes:
        raise CommandError(f"cannot write {path}: name it {' or '.join('*' + s for s in suffixes)}")
    folder = path.parent if str(path.parent) else Path(".")
    if not folder.is_dir():
        raise CommandError(f"cannot write {path}: the folder {folder} does not exist")


def _check_overwrite(output: Path, config: str, force: bool) -> None:
    """Refuses to write the result over its own configuration, or over an existing file unless forced."""
    if os.path.exists(output) and os.path.exists(config) and os.path.samefile(output, config):
        raise CommandError(f"the result would overwrite the configuration {config}: name another file with -o")
    if os.path.lexists(output) and not force:
        raise CommandError(f"{output} exists: pass --force to replace it, or name another file with -o")


def _run(args: argparse.Namespace) -> int:
    from abyx_tools.files import SUFFIXES, require_netcdf, save

    output = Path(args.output) if args.output else Path(args.config).with_suffix(".nc")
    _check_destination(output, SUFFIXES)
    _check_overwrite(output, args.config, args.force)
    if output.suffix.lower() == ".nc":
        require_netcdf()  # a missing extra is reported before the run, not after it
    # sections written as lists take the command line's progress and are saved with their keys
    config = keyed_config(_read_config(args.config))
    result = _simulate(_with_progress(config, args.progress), args.threads, args.check)
    try:
        save(output, result, config)
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error.strerror or error}") from None
    print(f"{PROGRAM}: wrote {output}", file=sys.stderr)
    return EXIT_OK


def _with_progress(config: Any, progress: Optional[bool]) -> Any:
    """A copy of the configuration whose beam.show_progress is `progress`, or true when neither the
    command line nor the configuration says."""
    beam = config.get("beam") if isinstance(config, dict) else None
    if not isinstance(beam, dict):
        return config  # the module reports what is wrong with it
    config = copy.deepcopy(config)
    if progress is None:
        config["beam"].setdefault("show_progress", True)
    else:
        config["beam"]["show_progress"] = progress
    return config


def _simulate(config: Any, threads: Optional[int], check: bool = True) -> Any:
    """One run on `threads` workers, checked first unless `check` is false; its warnings are written
    to standard error as their text, its refusal raised as a CommandError with its message."""
    import abyx

    if threads is not None:
        try:
            set_worker_threads(threads)
        except (ValueError, RuntimeError) as error:
            raise CommandError(str(error)) from None

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = runtime.run(config, check=check)  # looked up at each call, so that it can be replaced
        except (RuntimeError, MemoryError, ValueError) as error:  # with the notes that say where the problem lies
            raise CommandError("\n".join([str(error), *getattr(error, "__notes__", [])])) from None
        except abyx.PanicException as fault:
            if "could not start worker thread" in str(fault):
                raise CommandError(f"the machine could not start the worker threads asked for ({fault}): "
                                   "use fewer --threads or a smaller ABYX_NUM_THREADS") from None
            raise CommandError(f"internal fault: {fault}") from None
        finally:
            for warning in caught:
                print(str(warning.message), file=sys.stderr)
    return result


def _picture(args: argparse.Namespace) -> tuple[str, Callable[[Any, Any], Any]]:
    """The picture's name part and the call that draws it from a SavedRun into an Axes."""
    from abyx_tools import plot

    if args.depth is not None:
        return f"tl_z{args.depth:g}", lambda saved, ax: plot.tl_horizontal(
            saved, args.depth, frequency_hz=args.frequency, ax=ax, vmin=args.vmin, vmax=args.vmax
        )
    if args.bearing is not None:
        return f"tl_bearing{args.bearing:g}", lambda saved, ax: plot.tl_vertical(
            saved, args.bearing, frequency_hz=args.frequency, ax=ax, vmin=args.vmin, vmax=args.vmax
        )
    if args.bathymetry:
        return "bathymetry", lambda saved, ax: plot.bathymetry(saved, ax=ax)
    if args.rays == "plan":
        return "rays_plan", lambda saved, ax: plot.rays_plan(saved, ax=ax)
    return "rays_range_depth", lambda saved, ax: plot.rays_range_depth(saved, ax=ax)


def _plot(args: argparse.Namespace) -> int:
    from abyx_tools.files import _write_atomically, load

    name, draw = _picture(args)
    source = Path(args.result)
    output = Path(args.output) if args.output else source.with_name(f"{source.stem}_{name}.png")
    _check_destination(output, (".png",))
    figure_module = require("matplotlib.figure", "abyx plot")
    if not source.is_file():
        raise CommandError(f"cannot read {source}: no such file")
    try:
        saved = load(source)
    except ValueError as error:
        raise CommandError(str(error)) from None
    except OSError as error:
        raise CommandError(f"cannot read {source}: {error.strerror or error}") from None
    figure = figure_module.Figure(figsize=(7.0, 5.0), layout="constrained")
    try:
        draw(saved, figure.add_subplot())
    except ValueError as error:
        raise CommandError(str(error)) from None
    try:
        _write_atomically(
            output, lambda temporary: figure.savefig(temporary, format="png", dpi=args.dpi)
        )
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error.strerror or error}") from None
    print(f"{PROGRAM}: wrote {output}", file=sys.stderr)
    return EXIT_OK


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line with `argv` (default: sys.argv[1:]) and returns the exit status."""
    args = _parser().parse_args(argv)
    try:
        return _run(args) if args.command == "run" else _plot(args)
    except CommandError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return EXIT_FAILED
    except ImportError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return EXIT_FAILED
    except KeyboardInterrupt:
        print(f"{PROGRAM}: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
