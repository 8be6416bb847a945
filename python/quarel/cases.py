"""Case tables on a Dask cluster.

Each case runs as its own ``quarel-batch --cases TABLE --shard K/N`` process
(N the number of cases, so shard K is case K) started by a Dask task.  Why a
process per case rather than the module inside the worker:

- the time limit of a case is kept by ending its process; a computation
  inside the worker could only be abandoned, not stopped;
- a case that crashes or exhausts memory takes down that process only, and
  nothing of one case (solver arrays, memory) is left for the next;
- the result row is the one the serial ``--cases`` run writes, printed by the
  same code, so the gathered table is byte-identical to it.

Starting a process costs a few milliseconds against seconds per case.  A
worker should run one case at a time (``dask worker --nthreads 1``, or a
LocalCluster with ``threads_per_worker=1``): the cases use one core each.
"""
import asyncio
import os
import subprocess
import sys
import time
import uuid
from concurrent.futures import CancelledError

from . import _core

_CRASH = 4         # the batch program's exit code for a breakdown
_NOT_CONVERGED = 5


def batch_program():
    """The quarel-batch the workers start: $QUAREL_BATCH, or the one built with this module."""
    env = os.environ.get("QUAREL_BATCH")
    if env:
        return env
    from ._build import BATCH
    return BATCH


def result_path(table):
    """cases.csv -> cases_results.csv, as quarel-batch --cases names it."""
    root, _ = os.path.splitext(table)
    return root + "_results.csv"


def run_case(batch, table, k, n, timeout, extra):
    """Runs case k of n (1-based) in its own process; returns (k, row, problem)."""
    cmd = [batch, "--cases", table, "--shard", f"{k}/{n}", "--output", "-", *extra]
    # The cluster runs one case per worker process and as many workers as
    # cores: a case that also took every core for its solves would compete
    # with the others (2 workers gave 1.49 times one worker's throughput on
    # 2 cores, 1.71 with one thread per case).  The results do not depend on it.
    env = dict(os.environ)
    env.setdefault("QUAREL_THREADS", "1")
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                           timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return k, None, (_NOT_CONVERGED, f"the case ran past the time limit of {timeout:g} s "
                                         "and was stopped.")
    except OSError as e:
        return k, None, (_CRASH, f"quarel-batch could not be started on the worker: {e}")
    lines = p.stdout.splitlines(keepends=True)
    if p.returncode in (0, 5, 6) and len(lines) == 2:
        return k, lines[1], None
    why = p.stderr.strip().replace("\n", " ")
    if p.returncode < 0:
        why = f"the case's process ended on signal {-p.returncode}. {why}"
    return k, None, (_CRASH, why or f"quarel-batch ended with exit code {p.returncode}.")


class _Bar:
    def __init__(self, total, stream):
        self.total, self.done, self.failed, self.stream = total, 0, 0, stream
        self.start = time.monotonic()

    def step(self, failed):
        self.done += 1
        self.failed += failed
        if self.stream is None:
            return
        width = 30
        full = width * self.done // max(self.total, 1)
        self.stream.write(f"\r[{'#' * full}{'.' * (width - full)}] {self.done}/{self.total} cases, "
                          f"{self.failed} failed, {time.monotonic() - self.start:.0f} s")
        if self.done == self.total:
            self.stream.write("\n")
        self.stream.flush()


def run_cases(table, client, *, timeout=None, output=None, template=None, method=None,
              progress=True, batch=None):
    """Runs every case of `table` (a CSV case table as quarel-batch --cases
    reads it) on the Dask `client`, one process per case, and writes the
    result table (default: cases_results.csv beside cases.csv), byte-identical
    to the serial ``quarel-batch --cases`` run.

    timeout   seconds per case; a case past it is stopped and reported in
              its row (exit code 5)
    progress  a progress bar on standard error (False: none; a function
              f(done, total) is called after every case instead)

    A case whose worker is lost (killed, out of memory) is run again on
    another worker by the scheduler (up to its distributed.scheduler.
    allowed-failures times, 3 by default) and then reported as failed in its
    row.  The table, the sections and quarel-batch must be at the same paths
    on every worker.  Returns the path of the result table and a list of the
    exit codes, one per case.
    """
    from distributed import as_completed
    try:
        from distributed import KilledWorker
    except ImportError:  # older layouts
        from distributed.scheduler import KilledWorker

    table = os.path.abspath(os.fspath(table))
    header, n = _core.case_table(table)
    batch = batch or batch_program()
    extra = []
    if template:
        extra += ["--template", os.path.abspath(os.fspath(template))]
    if method:
        extra += ["--method", method]
    tag = uuid.uuid4().hex[:8]
    futures = {client.submit(run_case, batch, table, k, n, timeout, extra, pure=False,
                             key=f"quarel-case-{tag}-{k}"): k for k in range(1, n + 1)}
    rows = [None] * n
    codes = [None] * n
    report = progress if callable(progress) else None
    bar = _Bar(n, sys.stderr if progress is True else None)
    for future in as_completed(futures):
        k = futures[future]
        try:
            _, row, problem = future.result()
        except (KilledWorker, CancelledError, asyncio.CancelledError) as e:
            row, problem = None, (_CRASH, f"the case was lost with its worker too often ({e}).")
        except Exception as e:  # an error of the task itself, e.g. a worker without the program
            row, problem = None, (_CRASH, f"the case could not be run: {e}")
        if row is None:
            row = _core.case_failed_row(table, k - 1, problem[0], problem[1])
        rows[k - 1] = row
        codes[k - 1] = int(row.rsplit(",\"", 1)[0].rsplit(",", 1)[1])
        bar.step(codes[k - 1] not in (0, 6))
        if report:
            report(bar.done, n)
    out = output or result_path(table)
    with open(out, "w", newline="") as f:
        f.write(header)
        f.writelines(rows)
    return out, codes
