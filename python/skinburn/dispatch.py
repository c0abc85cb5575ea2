"""Many tasks side by side: through a concurrent.futures executor, or as GNU parallel jobs.

The one way this package and its tools hand out work: the threshold
searches of :func:`skinburn.searches.search_many` and the cases of the
study tool (tools/study) both go through here, so that a task that does not
come back, an executor already shut down, an interrupt and a machine
without GNU parallel are met the same way everywhere.

- :func:`on_executor`: each task a call on any
  :class:`concurrent.futures.Executor` (a process pool, a Dask cluster's
  ``client.get_executor()``, mpi4py's ``MPIPoolExecutor``); results in the
  order of the tasks, a task that did not come back handed to ``lost``; an
  executor already shut down raises :class:`ExecutorShutDown` and runs
  nothing; an interrupt cancels every task not yet started.
- :func:`gnu_parallel`: one GNU parallel command over a list of arguments
  fed on its standard input; :class:`GnuParallelMissing` where it is not
  installed; an interrupt waits for GNU parallel to stop its jobs.

``progress``, where given, is called after each task that came back (or
did not) with the tasks done so far and their number.

Uses :mod:`skinburn.units` alone.
"""
from __future__ import annotations

import os
import subprocess
from concurrent.futures import CancelledError, Executor, Future
from typing import Any, Callable, Mapping, Optional, Sequence, TypeVar

from .units import SkinburnError

T = TypeVar("T")
R = TypeVar("R")


class ExecutorShutDown(SkinburnError, RuntimeError):
    """The executor given is shut down (or shutting down): it took no task, and none was left half-way."""


class GnuParallelMissing(SkinburnError, FileNotFoundError):
    """GNU parallel is not installed on this machine."""

    def __init__(self) -> None:
        super().__init__("GNU parallel is not installed (Debian: apt-get install parallel)")


def on_executor(executor: Executor, call: Callable[..., R], tasks: Sequence[tuple],
                done: Callable[[int, R], T], lost: Callable[[int, BaseException], T], what: str,
                progress: Optional[Callable[[int, int], None]] = None) -> list[T]:
    """``call(*task)`` for each task on ``executor``; ``done(k, result)`` or ``lost(k, exception)`` for task
    k, in order. ``what`` names the tasks in the message of :class:`ExecutorShutDown` ("searches",
    "cases"). The executor is not shut down here."""
    futures: list[Future] = []
    try:
        for task in tasks:
            futures.append(executor.submit(call, *task))
    except RuntimeError as exc:  # shut down (or shutting down): nothing may be left running half-way
        for f in futures:
            f.cancel()
        raise ExecutorShutDown(f"the executor took no {what} ({exc}): it is shut down") from exc
    except BaseException:
        for f in futures:
            f.cancel()
        raise
    out: list[T] = []
    try:
        for k, f in enumerate(futures):
            try:
                result = f.result()
            except (Exception, CancelledError) as exc:
                out.append(lost(k, exc))
            else:
                out.append(done(k, result))
            if progress is not None:
                progress(k + 1, len(futures))
    except BaseException:  # interrupted: what has not started yet never will
        for f in futures:
            f.cancel()
        raise
    return out


def gnu_parallel(job: Sequence[str], arguments: Sequence[str], options: Sequence[str] = (), *,
                 quiet: bool = True, env: Optional[Mapping[str, str]] = None) -> int:
    """Runs ``parallel OPTIONS JOB...`` with ``arguments`` fed on its standard input, one a line (GNU
    parallel puts each in place of ``{}`` in the job); its exit status. ``quiet`` keeps what the jobs
    print from this process's streams. Raises :class:`GnuParallelMissing` where it is not installed;
    an interrupt waits for GNU parallel to stop its jobs, then goes on."""
    command = ["parallel", "--will-cite", *options, *job]
    out: Any = subprocess.DEVNULL if quiet else None
    try:
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=out, stderr=out, text=True,
                                env=dict(os.environ, **(env or {})))
    except FileNotFoundError:
        raise GnuParallelMissing() from None
    try:
        proc.communicate("".join(a + "\n" for a in arguments))
    except KeyboardInterrupt:
        proc.wait()
        raise
    return proc.returncode
