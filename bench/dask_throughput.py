"""Throughput of quarel.run_cases with 1 and 2 Dask worker processes.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_throughput.py [CASES] [ROUNDS]

Builds a table of CASES analyses (NACA 0012 and 2412 on the sample grid,
M 0.5-0.8, alpha -2..4), starts both local clusters once, then times
run_cases on them alternately (1, 2, 1, 2, ...: the machine is shared, so
the pair ratio is what counts) and prints every time, the medians and the
median of the per-round ratios.  Cluster start-up is not timed.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

from distributed import Client, LocalCluster

import quarel


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    cases = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3

    work = tempfile.mkdtemp(prefix="quarel-bench-")
    for code in ("0012", "2412"):
        subprocess.run(["/usr/bin/python3", os.path.join(here, "..", "tools", "make_naca.py"), code,
                        "-o", os.path.join(work, f"naca{code}.dat")], check=True)
    grid = [(c, m, a) for c in ("0012", "2412") for m in (0.5, 0.6, 0.7, 0.8)
            for a in (-2, 0, 1, 2, 4)]
    rows = [grid[n % len(grid)] for n in range(cases)]
    table = os.path.join(work, "cases.csv")
    with open(table, "w") as f:
        f.write("section,mach,alpha\n")
        f.writelines(f"naca{c}.dat,{m},{a}\n" for c, m, a in rows)

    clients = {}
    for n in (1, 2):
        cluster = LocalCluster(n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
                               dashboard_address=":0")
        clients[n] = (Client(cluster), cluster)
    times = {1: [], 2: []}
    for r in range(rounds):
        for n in (1, 2):
            start = time.perf_counter()
            quarel.run_cases(table, clients[n][0], progress=False,
                             output=os.path.join(work, f"out{n}.csv"))
            times[n].append(time.perf_counter() - start)
            print(f"round {r + 1}, {n} worker(s): {times[n][-1]:.2f} s", flush=True)
    same = open(os.path.join(work, "out1.csv")).read() == open(os.path.join(work, "out2.csv")).read()
    ratios = [a / b for a, b in zip(times[1], times[2])]
    print(f"{cases} cases: median {statistics.median(times[1]):.2f} s with 1 worker, "
          f"{statistics.median(times[2]):.2f} s with 2; throughput ratio (median of pairs) "
          f"{statistics.median(ratios):.2f}; tables equal: {same}")
    for c, cluster in clients.values():
        c.close()
        cluster.close()


if __name__ == "__main__":  # the worker processes import this file
    main()
