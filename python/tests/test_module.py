"""The quarel module against the batch program, its refusals, polars and the lock."""
import os
import shutil
import subprocess
import threading

import numpy as np
import pytest

import quarel

SOURCE = os.environ.get("QUAREL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BATCH = os.environ["QUAREL_BATCH"]
NACA = os.path.join(SOURCE, "tools", "make_naca.py")
SMALL = dict(NPA=24, NCO=6, NBH=6, Kgrid=2)


def naca(tmp_path, code, **opts):
    path = tmp_path / f"n{code}.dat"
    args = [f"--{k.lower()}" if k != "Kgrid" else "--kgrid" for k in opts]
    cmd = ["/usr/bin/python3", NACA, code, "-o", str(path)]
    for flag, v in zip(args, opts.values()):
        cmd += [flag, str(v)]
    subprocess.run(cmd, check=True)
    return path


def batch_row(tmp_path, section, mach, alpha):
    """The figures of the case-table run (12 digits) for one case."""
    (tmp_path / "one.csv").write_text(f"section,mach,alpha\n{section},{mach},{alpha}\n")
    subprocess.run([BATCH, "--cases", str(tmp_path / "one.csv"), "--quiet"], check=True)
    header, row = (tmp_path / "one_results.csv").read_text().splitlines()
    return dict(zip(header.split(","), row.split(",")))


def test_analyse_gives_the_batch_programs_figures(tmp_path):
    sample = os.path.join(SOURCE, "examples", "naca0012.dat")
    shutil.copy(sample, tmp_path / "s.dat")
    printed = subprocess.run([BATCH, "--quiet", str(tmp_path / "s.dat")], check=True,
                             capture_output=True, text=True).stdout
    lines = dict(line.split("= ") for line in printed.splitlines())
    r = quarel.analyse(sample)  # the file's own Mach 0.75, 1 degree
    assert r["converged"] and r["exit_code"] == 0 and r["message"] == ""
    assert r["CL"] == pytest.approx(float(lines["Clift"]), abs=5e-7)
    assert r["CDw"] == pytest.approx(float(lines["Cdrag"]), abs=5e-7)
    assert r["CM"] == pytest.approx(float(lines["Cmoment"]), abs=5e-7)
    assert r["CD"] == pytest.approx(float(lines["Cdrag(p)"]), abs=5e-7)
    table = batch_row(tmp_path, "s.dat", 0.75, 1)
    for key in ("CL", "CD", "CDw", "CDp", "CDf", "CM"):
        assert abs(r[key] - float(table[key])) <= 1e-9 * max(1.0, abs(r[key])), key
    assert r["CDp"] == r["CD"] and r["CDf"] == 0.0
    # The surface arrays: one value per body face, the lift of the Cp as CL.
    n = r["x"].size
    assert n == 48 * 4 and r["cp"].shape == r["mach"].shape == r["y"].shape == (n,)
    assert r["x"].min() >= 0.0 and r["x"].max() <= 1.0


def test_coordinates_give_the_same_result_as_their_file(tmp_path):
    path = os.path.join(SOURCE, "examples", "naca4412_points.txt")
    xy = np.loadtxt(path, skiprows=1)
    a = quarel.analyse(path, 0.5, 2.0, grid=SMALL)
    b = quarel.analyse(xy, 0.5, 2.0, grid=SMALL)
    assert a["converged"] and a["CL"] == b["CL"] and a["CM"] == b["CM"]
    assert a["warnings"] == b["warnings"] and a["warnings"]  # the open trailing edge was closed
    # A fixed lift started elsewhere finds the angle of that lift.
    f = quarel.analyse(path, 0.5, 0.0, grid=SMALL, cl=a["CL"])
    assert f["converged"] and abs(f["CL"] - a["CL"]) < 1e-5 and f["alpha"] == pytest.approx(2.0, abs=1e-3)


def test_refusals_come_back_as_messages_and_bad_arguments_raise(tmp_path):
    s = naca(tmp_path, "0012", **SMALL)
    r = quarel.analyse(s, 1.2, 0.0)
    assert not r["converged"] and r["exit_code"] == 3 and "Mach" in r["message"]
    assert np.isnan(r["CL"]) and r["x"].size == 0
    r = quarel.analyse(tmp_path / "none.dat", 0.5, 0.0)
    assert r["exit_code"] == 2 and "none.dat" in r["message"]
    r = quarel.analyse(s, 0.5, 0.0, xtr=(0.1, 0.1))
    assert not r["converged"] and "need re" in r["message"]
    r = quarel.analyse(s, 0.5, 0.0, re=50.0)
    assert r["exit_code"] == 3 and "Reynolds" in r["message"]
    r = quarel.analyse(s, 0.7, 2.0, timeout=1e-6)
    assert r["exit_code"] == 5 and "time limit" in r["message"]
    for bad, error in [(dict(section=5), TypeError), (dict(section=np.zeros((4, 3))), ValueError),
                       (dict(mach="0.5"), TypeError), (dict(alpha=float("nan")), ValueError),
                       (dict(grid={"NPX": 3}), ValueError), (dict(tolerance=-1.0), ValueError)]:
        args = dict(section=s, mach=0.5, alpha=0.0)
        args.update(bad)
        with pytest.raises(error):
            quarel.analyse(args.pop("section"), **args)


def test_viscous_analyse_gives_the_batch_programs_figures(tmp_path):
    s = naca(tmp_path, "0012", NPA=32, NCO=8, NBH=4, Kgrid=2)
    printed = subprocess.run([BATCH, "--quiet", "--re", "3e6", "--xtr", "0.3", "1",
                              "--mach", "0.5", "--alpha", "2", str(s)], check=True,
                             capture_output=True, text=True).stdout
    lines = dict(line.split("= ") for line in printed.splitlines())
    r = quarel.analyse(s, 0.5, 2.0, re=3e6, xtr=(0.3, None))
    assert r["converged"] and r["exit_code"] == 0
    for key, line in [("CL", "Clift"), ("CM", "Cmoment"), ("CD", "Cdrag(total)"),
                      ("CDf", "Cdrag(f)"), ("CDp", "Cdrag(p)"), ("xtr_upper", "Xtr(upper)"),
                      ("xtr_lower", "Xtr(lower)")]:
        assert r[key] == pytest.approx(float(lines[line]), abs=6e-5 if "xtr" in key else 6e-7), key
    assert r["xtr_upper"] <= 0.3 and r["CD"] > r["CDf"] > 0
    p = quarel.polar(s, 0.5, [2.0], re=3e6, xtr=(0.3, None))
    assert p["CD"][0] == pytest.approx(r["CD"], rel=1e-6) and p["CDf"][0] == r["CDf"]
    assert np.isnan(quarel.analyse(s, 0.5, 2.0)["xtr_upper"])


def test_polar_continues_from_the_neighbour_and_agrees_with_single_runs(tmp_path):
    s = naca(tmp_path, "2412", **SMALL)
    alphas = [-1.0, 0.0, 1.0, 2.0]
    p = quarel.polar(s, 0.6, alphas, tolerance=1e-10)
    assert list(p["alpha"]) == alphas and all(p["converged"])
    for n, a in enumerate(alphas):
        single = quarel.analyse(s, 0.6, a, tolerance=1e-10)
        assert p["CL"][n] == pytest.approx(single["CL"], abs=1e-6)
        assert p["CM"][n] == pytest.approx(single["CM"], abs=1e-6)
    assert np.all(np.diff(p["CL"]) > 0)
    m = quarel.polar(s, [0.5, 0.6, 1.05], 1.0, vary="mach")
    assert list(m["converged"]) == [True, True, False] and m["exit_code"][2] == 3
    assert m["CL"][1] > m["CL"][0] and m["message"][2]
    import pandas
    assert len(pandas.DataFrame(m)) == 3


def test_threads_share_the_solver_one_run_at_a_time(tmp_path):
    s = naca(tmp_path, "0012", **SMALL)
    cases = [(0.5, a) for a in (0.0, 1.0, 2.0, 3.0)]
    serial = [quarel.analyse(s, m, a)["CL"] for m, a in cases]
    got = [None] * len(cases)

    def run(n):
        got[n] = quarel.analyse(s, *cases[n])["CL"]

    threads = [threading.Thread(target=run, args=(n,)) for n in range(len(cases))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == serial


def test_design_to_the_sections_own_pressures_keeps_the_section(tmp_path):
    s = naca(tmp_path, "0012", **SMALL)
    a = quarel.analyse(s, 0.5, 1.0)
    target = np.column_stack([a["x"], a["cp"]])  # from the upper trailing edge
    d = quarel.design(s, target, 0.5, 1.0, iterations=2)
    assert d["exit_code"] == 0, d["message"]
    assert list(d["history"]["iteration"]) == [1, 2]
    assert np.max(d["history"]["largest_dy"]) < 2e-3
    assert d["history"]["CL"][-1] == pytest.approx(a["CL"], abs=5e-3)
    with pytest.raises(ValueError):
        quarel.design(s, target, 0.5, 1.0, iterations=0)
