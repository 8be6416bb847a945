"""Case tables on a Dask cluster of two worker processes: the gathered table
is the serial quarel-batch --cases table byte for byte, a bad case stays in
its row, and a worker killed mid-run costs nothing."""
import os
import signal
import subprocess

import pytest

import quarel
from quarel.cases import run_cases

SOURCE = os.environ.get("QUAREL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BATCH = os.environ["QUAREL_BATCH"]


@pytest.fixture(scope="module")
def table(tmp_path_factory):
    d = tmp_path_factory.mktemp("cases")
    for code in ("0012", "2412"):
        subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tools", "make_naca.py"), code,
                        "--npa", "24", "--nco", "6", "--nbh", "6", "--kgrid", "2",
                        "-o", str(d / f"naca{code}.dat")], check=True)
    rows = [f"naca{c}.dat,{m},{a}" for c in ("0012", "2412") for m in (0.5, 0.6, 0.7, 0.8)
            for a in (-2, 0, 1, 2, 4)]
    rows[13] = "naca9999.dat,0.7,1"  # deliberately bad: no such section
    (d / "cases.csv").write_text("section,mach,alpha\n" + "\n".join(rows) + "\n")
    serial = subprocess.run([BATCH, "--cases", str(d / "cases.csv"), "--quiet",
                             "--output", str(d / "serial.csv")])
    assert serial.returncode == 5  # the bad case
    return d


@pytest.fixture(scope="module")
def client():
    from distributed import Client, LocalCluster
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=":0")
    c = Client(cluster)
    yield c
    c.close()
    cluster.close()


def test_dask_gives_the_serial_table_and_survives_a_killed_worker(table, client):
    serial = (table / "serial.csv").read_text()
    lines = serial.splitlines()
    assert len(lines) == 41
    assert ",no,2,\"The section file" in lines[14]
    assert sum(",yes," in line for line in lines) == 39

    pids = client.run(os.getpid)
    killed = []

    def kill_one(done, total):
        if done == 4 and not killed:  # mid-run: cases still queued on both workers
            pid = next(iter(pids.values()))
            os.kill(pid, signal.SIGKILL)
            killed.append(pid)

    out, codes = run_cases(str(table / "cases.csv"), client, progress=kill_one, timeout=120)
    assert killed and out == str(table / "cases_results.csv")
    assert (table / "cases_results.csv").read_text() == serial
    assert codes[13] == 2 and codes.count(2) == 1
    client.wait_for_workers(2, timeout=60)
    assert killed[0] not in client.run(os.getpid).values()


def test_a_case_past_its_time_limit_is_stopped_and_reported(table, client):
    (table / "two.csv").write_text("section,mach,alpha\nnaca0012.dat,0.5,0\nnaca2412.dat,0.5,0\n")
    out, codes = run_cases(str(table / "two.csv"), client, timeout=1e-3, progress=False,
                           output=str(table / "two_out.csv"))
    rows = (table / "two_out.csv").read_text().splitlines()
    assert codes == [5, 5] and all("time limit" in r for r in rows[1:])
    header, n = quarel._core.case_table(str(table / "two.csv"))
    assert rows[0] + "\n" == header and n == 2
