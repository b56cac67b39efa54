"""Many runs in a row, on this machine or on a Dask cluster.

On a cluster each task is one whole `run_simulation`. The extension module keeps the interpreter
lock for the whole of a run, so a worker process runs one simulation at a time whatever its thread
count; each run spreads its rays over the module's own worker pool. That pool belongs to the process
and is sized once, when the process's first run creates it: a task sets ABYX_NUM_THREADS to the Dask
worker's thread count before that first run (unless the variable is already set), so every worker
process uses as many cores as it was given and no more. Give workers a thread count that matches
the cores they may use, e.g. `LocalCluster(n_workers=4, threads_per_worker=4)` on 16 cores.

Long runs hold the interpreter lock of the worker for their whole duration, so the worker cannot
answer the scheduler meanwhile; for runs of several minutes raise `distributed.scheduler.worker-ttl`
accordingly.
"""

from __future__ import annotations

import os
import warnings
from collections import deque
from collections.abc import Iterable, Iterator, Mapping
from functools import partial
from typing import Any, Callable, Deque, List, Optional, Tuple

from abyx_tools.runtime import NUM_THREADS_VARIABLE, plain_config, run
from abyx_tools.schema import Result

__all__ = ["sweep"]


def _pool_size_for_worker() -> None:
    """Sizes this worker process's abyx pool to the Dask worker's thread count, unless chosen."""
    if os.environ.get(NUM_THREADS_VARIABLE):
        return
    from distributed import get_worker

    worker = get_worker()
    state: Any = getattr(worker, "state", worker)  # the thread count moved to the worker's state
    threads = state.nthreads
    os.environ[NUM_THREADS_VARIABLE] = str(max(1, int(threads)))


def _run_task(config: Any, check: bool = True) -> Tuple[str, Any, List[Tuple[str, type]]]:
    """One task on a worker: ("ok", result), ("error", the exception of a refused run), or ("panic",
    message) for an internal fault of the module, whose exception class derives from BaseException
    and does not travel as a task error; with the run's warnings (text, category), which would
    otherwise stay in the worker's log."""
    import abyx

    _pool_size_for_worker()
    value: Any
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")  # the client's filters decide when they are issued again
        try:
            status, value = "ok", run(config, check=check)
        except abyx.PanicException as fault:
            status, value = "panic", str(fault)
        except Exception as error:  # raised on the client after the warnings that came before it
            status, value = "error", error
    return status, value, [(str(warning.message), warning.category) for warning in caught]


def _outcome(future: Any) -> Result:
    status, value, warned = future.result()
    for text, category in warned:
        warnings.warn(text, category, stacklevel=2)
    if status == "panic":
        import abyx

        raise abyx.PanicException(value)
    if status == "error":
        raise value
    return value


def _default_window(client: Any) -> int:
    """Tasks kept submitted at once: two per worker process, so none idles between tasks."""
    workers = client.scheduler_info().get("workers", {})
    return max(2, 2 * len(workers))


def sweep(
    configs: Iterable[Mapping[str, Any]],
    client: Any = None,
    *,
    max_pending: Optional[int] = None,
    errors: str = "raise",
    check: bool = True,
) -> Iterator[Any]:
    """Runs every configuration of `configs` and yields the results in the order of `configs`.

    Without a client the runs are made one after another in this process. With a
    `dask.distributed.Client` each configuration is one task on its cluster; at most `max_pending`
    tasks (default: two per worker process) are submitted ahead of the result being yielded, so a
    long or endless iterable of configurations is consumed as results are taken. A failing run
    raises its exception (the module's own `RuntimeError` message, or `abyx.PanicException`) when
    its result is due; the tasks still pending are then cancelled. The warnings of a run on the
    cluster are issued again here, before its result is yielded or its exception raised. With `errors="return"` the
    exception is yielded in its place instead, and the sweep goes on. Configurations may hold NumPy
    arrays (see `abyx_tools.runtime.plain_config`). Each configuration is checked as `run` checks it
    (`check=False` leaves that out): its warnings come with its result, its refusal (ValueError) in
    its place."""
    if errors not in ("raise", "return"):
        raise ValueError(f'errors must be "raise" or "return", got {errors!r}')
    returning = errors == "return"
    if client is None:
        return _sweep_locally(configs, returning, check)
    if max_pending is not None and (
        isinstance(max_pending, bool) or not isinstance(max_pending, int) or max_pending < 1
    ):
        raise ValueError(f"max_pending must be a positive int, got {max_pending!r}")
    return _sweep_on_cluster(configs, client, max_pending or _default_window(client), returning, check)


def _sweep_on_cluster(
    configs: Iterable[Mapping[str, Any]], client: Any, window: int, returning: bool, check: bool
) -> Iterator[Any]:
    pending: Deque[Any] = deque()

    def take() -> Any:
        future = pending.popleft()
        return _failure_of(lambda: _outcome(future)) if returning else _outcome(future)

    try:
        for config in configs:
            pending.append(client.submit(_run_task, plain_config(config), check, pure=False))
            if len(pending) >= window:
                yield take()
        while pending:
            yield take()
    finally:
        if pending:
            client.cancel(list(pending))


def _sweep_locally(configs: Iterable[Mapping[str, Any]], returning: bool, check: bool) -> Iterator[Any]:
    for config in configs:
        yield _failure_of(partial(run, config, check=check)) if returning else run(config, check=check)


def _failure_of(attempt: Callable[[], Any]) -> Any:
    """The result of attempt(), or the exception of a failed run (an internal fault included)."""
    import abyx

    try:
        return attempt()
    except (Exception, abyx.PanicException) as failure:
        return failure
