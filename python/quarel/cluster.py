"""python3 -m quarel.cluster cases.csv [--scheduler ADDRESS] [--workers N]
[--timeout S] [--output FILE] [--template T.dat] [--method M] [--quiet]

Runs a case table on a Dask cluster: the scheduler at ADDRESS (workers
started with ``dask worker ADDRESS --nthreads 1``), or without --scheduler a
local cluster of N worker processes (default: one per core).  Writes
cases_results.csv as ``quarel-batch --cases`` does.  Exit code 0 when every
case converged, 6 when some converged with a warning only, 5 when a case
failed or did not converge, 1 for a bad command line, 2 for an unreadable
table.
"""
import argparse
import os
import sys

from .cases import run_cases


def main(argv=None):
    p = argparse.ArgumentParser(prog="python3 -m quarel.cluster",
                                description="Runs a case table on a Dask cluster.")
    p.add_argument("table")
    p.add_argument("--scheduler", help="address of a running Dask scheduler (tcp://HOST:PORT)")
    p.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                   help="worker processes of the local cluster (without --scheduler)")
    p.add_argument("--timeout", type=float, help="seconds per case")
    p.add_argument("--output", help="the result table (default: TABLE_results.csv)")
    p.add_argument("--template", help="input file whose grid settings coordinate files take")
    p.add_argument("--method", help="linear method of the Newton steps")
    p.add_argument("--quiet", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    if a.workers < 1 or (a.timeout is not None and a.timeout <= 0):
        p.error("--workers and --timeout must be positive")

    from distributed import Client, LocalCluster
    if a.scheduler:
        client = Client(a.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=a.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=":0")
        client = Client(cluster)
    try:
        out, codes = run_cases(a.table, client, timeout=a.timeout, output=a.output,
                               template=a.template, method=a.method, progress=not a.quiet)
    except OSError as e:
        print(f"quarel.cluster: {e}", file=sys.stderr)
        return 2
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if not a.quiet:
        print(f"Case results: {out}")
    if any(c not in (0, 6) for c in codes):
        return 5
    return 6 if 6 in codes else 0


if __name__ == "__main__":
    sys.exit(main())
