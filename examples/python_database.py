# A small database of NACA 0012 and 2412 polars at three Mach numbers with
# the quarel module, kept as a CSV file, and one polar plotted: the example
# of docs/python.md, cell by cell.  Run from the top folder:
#   PYTHONPATH=build/python /usr/bin/python3 examples/python_database.py
# %% Sections and the grid
import os
import subprocess

import matplotlib
matplotlib.use("Agg")  # no display needed; in Jupyter leave this out
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import quarel

os.makedirs("db", exist_ok=True)
for code in ("0012", "2412"):
    subprocess.run(["/usr/bin/python3", "tools/make_naca.py", code, "-o", f"db/naca{code}.dat"],
                   check=True)
grid = {"NPA": 32, "NCO": 8, "NBH": 6, "Kgrid": 2}  # a quick grid; leave out for the file's

# %% The database: one polar per section and Mach number, each point
# continued from its neighbour
rows = []
for code in ("0012", "2412"):
    for mach in (0.5, 0.65, 0.75):
        p = quarel.polar(f"db/naca{code}.dat", mach, np.arange(-2.0, 4.01, 1.0), grid=grid)
        frame = pd.DataFrame(p)
        frame.insert(0, "section", f"NACA {code}")
        rows.append(frame)
db = pd.concat(rows, ignore_index=True)
db.to_csv("db/polars.csv", index=False)
print(db[["section", "mach", "alpha", "CL", "CD", "CM", "converged"]].to_string(index=False))

# %% Only converged points without a warning are plotted (exit code 6: a
# shock stronger than the isentropic model carries); the rest are listed
bad = db[db.exit_code != 0]
for _, r in bad.iterrows():
    print(f"not plotted: {r.section} M {r.mach:g} alpha {r.alpha:g}: {r.message[:70]}")
ok = db[db.exit_code == 0]

# %% Lift curve and drag polar of NACA 2412
fig, (a, b) = plt.subplots(1, 2, figsize=(10, 4))
for mach, part in ok[ok.section == "NACA 2412"].groupby("mach"):
    a.plot(part.alpha, part.CL, "o-", label=f"M {mach:g}")
    b.plot(part.CD, part.CL, "o-", label=f"M {mach:g}")
a.set_xlabel("alpha (deg)")
a.set_ylabel("CL")
b.set_xlabel("CD (surface pressures, inviscid)")
b.set_ylabel("CL")
for ax in (a, b):
    ax.grid(True)
    ax.legend()
fig.suptitle(f"NACA 2412, quarel, {grid['NPA'] * grid['Kgrid']} panels, inviscid")
fig.tight_layout()
fig.savefig("db/polar_naca2412.png", dpi=90)
