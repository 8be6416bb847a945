"""Quarel from Python: transonic analysis, polars and inverse design of wing
sections with the run code of ``quarel-batch``.

    import quarel
    r = quarel.analyse("examples/naca0012.dat", mach=0.75, alpha=1.0)
    r["CL"], r["CD"], r["converged"], r["message"]

Results are plain dicts of floats, bools, strings and NumPy arrays.  A run
that does not converge, an input the program refuses or a solver breakdown
never raises: the dict says ``converged=False`` with ``exit_code`` (the exit
codes of ``quarel-batch``) and ``message``.  Arguments of the wrong type or
shape raise ``TypeError`` or ``ValueError``.

Drag of an inviscid run: ``CD`` is the drag of the surface pressures
(``Cdrag(p)=`` of quarel-batch, the figure published full-potential drags
compare with), ``CDw`` the wave drag as the scheme produces it (``Cdrag=``),
``CDp`` equals ``CD`` and ``CDf`` (friction) is 0.  With ``re`` the run is
viscous (quarel-batch --re): ``CD`` is the total drag from the wake
(``Cdrag(total)=``), ``CDf`` the friction drag, ``CDp = CD - CDf``, and
``xtr_upper``, ``xtr_lower`` the transition x/c (NaN for an inviscid run).

One analysis at a time per process: the solver keeps its arrays as process
globals, so every call holds a lock for its whole run (the interpreter is
released meanwhile, so other threads go on).  Run analyses in parallel in
separate processes (``multiprocessing``, Dask: see ``run_cases``).

Every run works in a scratch folder of its own that is removed afterwards;
only the grid listing ``grid.out`` is written into the current folder, as by
every grid calculation of the program.
"""
import numbers
import os

import numpy as np

from . import _core

__all__ = ["analyse", "polar", "design", "run_cases", "CASE_COLUMNS"]

# The columns of a case table and of its result table.
CASE_COLUMNS = ("section", "mach", "alpha", "sweep", "re", "ncrit", "xtr_upper", "xtr_lower",
                "entropy", "cl")
_GRID_KEYS = ("NPA", "NCO", "NBH", "Kgrid")
_METHODS = ("direct", "multilevel", "ilu", "line", "inexact")


def _number(name, value, optional=False):
    if value is None and optional:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    value = float(value)
    if not np.isfinite(value):
        raise ValueError(f"{name} must be finite, not {value}")
    return value


def _section(section):
    """(path, xs, ys) of a file path or an N x 2 array of coordinates."""
    if isinstance(section, (str, os.PathLike)):
        return os.fspath(section), [], []
    if isinstance(section, (bytes, dict, set)) or section is None:
        raise TypeError("section must be a file path or an N x 2 array of coordinates, not "
                        f"{type(section).__name__}")
    try:
        xy = np.asarray(section, dtype=float)
    except (TypeError, ValueError) as e:
        raise TypeError(f"section: not an array of numbers ({e})") from None
    if xy.ndim == 0:
        raise TypeError("section must be a file path or an N x 2 array of coordinates, not "
                        f"{type(section).__name__}")
    if xy.ndim != 2 or xy.shape[1] != 2 or xy.shape[0] < 3:
        raise ValueError(f"section must be an N x 2 array (N >= 3), not of shape {xy.shape}")
    if not np.all(np.isfinite(xy)):
        raise ValueError("section: the coordinates must be finite")
    return "", xy[:, 0].tolist(), xy[:, 1].tolist()


def _grid(grid):
    """(template path, [NPA, NCO, NBH, Kgrid] or [])."""
    if grid is None:
        return "", []
    if isinstance(grid, (str, os.PathLike)):
        return os.fspath(grid), []
    if isinstance(grid, dict):
        unknown = set(grid) - set(_GRID_KEYS)
        if unknown:
            raise ValueError(f"grid: unknown keys {sorted(unknown)} (known: {_GRID_KEYS})")
        sizes = []
        for key in _GRID_KEYS:
            v = grid.get(key, 0)
            if isinstance(v, bool) or not isinstance(v, numbers.Integral):
                raise TypeError(f"grid[{key!r}] must be a whole number")
            if v < 0:
                raise ValueError(f"grid[{key!r}] must not be negative")
            sizes.append(int(v))
        return "", sizes
    raise TypeError("grid must be None, an input file to take the grid from, or a dict of "
                    f"{_GRID_KEYS}, not {type(grid).__name__}")


def _common(section, mach, alpha, sweep, grid, tolerance, method, timeout):
    path, xs, ys = _section(section)
    mach = _number("mach", mach, optional=True)
    alpha = _number("alpha", alpha, optional=True)
    sweep = _number("sweep", sweep, optional=True)
    templ, sizes = _grid(grid)
    tolerance = _number("tolerance", tolerance, optional=True)
    if tolerance is not None and tolerance <= 0:
        raise ValueError("tolerance must be positive")
    if not isinstance(method, str):
        raise TypeError("method must be a string")
    if method and method not in _METHODS:
        raise ValueError(f"method must be one of {_METHODS}")
    timeout = _number("timeout", timeout, optional=True)
    if timeout is not None and timeout <= 0:
        raise ValueError("timeout must be positive")
    return [path, xs, ys, mach, alpha, sweep, templ, sizes, tolerance or 0.0, method], timeout


def _viscous(re, ncrit, xtr, entropy):
    """([re, ncrit, xtr upper, xtr lower] for the core, '') or (None, the
    message for what cannot be run).  Values out of range come back from the
    run as quarel-batch refuses them."""
    re = _number("re", re, optional=True)
    ncrit = _number("ncrit", ncrit)
    upper = lower = 1.0  # free transition
    if xtr is not None:
        if not isinstance(xtr, (tuple, list)) or len(xtr) != 2:
            raise TypeError("xtr must be None or a pair (upper, lower)")
        upper, lower = (1.0 if v is None else _number("xtr", v) for v in xtr)
    if not isinstance(entropy, bool):
        raise TypeError("entropy must be True or False")
    if entropy:
        return None, "entropy: the entropy correction is not available in this build."
    if re is None and (xtr is not None or ncrit != 9.0):
        return None, "ncrit and xtr need re (the viscous mode)."
    return [re, ncrit, upper, lower], ""


def _refused(message, keys):
    d = {k: float("nan") for k in ("CL", "CD", "CDw", "CDp", "CDf", "CM", "xtr_upper",
                                   "xtr_lower", "alpha")}
    d.update(converged=False, exit_code=1, message=message, warnings=[])
    for k in keys:
        d[k] = np.zeros(0)
    return d


def analyse(section, mach=None, alpha=None, sweep=None, *, cl=None, re=None, ncrit=9, xtr=None,
            grid=None, tolerance=None, entropy=False, timeout=None, method=""):
    """Analyses one section: the grid calculation and the coarse-to-fine run.

    section    an N x 2 array of coordinates (from the upper trailing edge
               round the leading edge to the lower trailing edge, or any
               layout a coordinate file may have), a coordinate file or an
               input file of the program
    mach, alpha, sweep   free stream (degrees); None keeps the input file's
               (or the template's; Mach 0.5, alpha 0 and sweep 0 by default)
    cl         fixed lift, as quarel-batch --cl: alpha is found inside the
               Newton iteration so that CL is this (alpha, if given, is the
               start); None: the run at alpha
    grid       None, an input file whose grid and convergence settings a
               coordinate section takes, or a dict with some of NPA, NCO,
               NBH and Kgrid
    tolerance  Max.residual of the run; None keeps the file's (1e-7 by default)
    timeout    seconds; the run stops after the Newton step that passes it
    method     linear solve of the Newton steps (as quarel-batch --method)
    re         Reynolds number (chord, free stream): the viscous mode, as
               quarel-batch --re; None: inviscid
    ncrit      N of the e^N transition (viscous mode)
    xtr        None, or (upper, lower) forced transition x/c (None or 1: free)
    entropy    not in this build: asking for it returns converged=False with a
               message

    Returns a dict: CL, CD, CDw, CDp, CDf, CM, xtr_upper, xtr_lower, alpha
    (floats, NaN when not computed; alpha NaN too when a fixed lift did not
    converge), converged, exit_code, message, warnings, and the surface
    arrays x, y, cp, mach (one value per body face, from the upper trailing
    edge round the leading edge to the lower one).  Holds the process's solver lock while it
    runs.
    """
    args, timeout = _common(section, mach, alpha, sweep, grid, tolerance, method, timeout)
    cl = _number("cl", cl, optional=True)
    viscous, why = _viscous(re, ncrit, xtr, entropy)
    if why:
        return _refused(why, ("x", "y", "cp", "mach"))
    return _core.analyse(*args, timeout or 0.0, *viscous, cl)


def polar(section, mach, alphas, sweep=None, *, vary="alpha", warm=True, re=None, ncrit=9,
          xtr=None, grid=None, tolerance=None, entropy=False, method=""):
    """A polar (vary="alpha": `alphas` the angles at the fixed `mach`) or a
    Mach sweep (vary="mach": `mach` the Mach numbers at the fixed angle
    `alphas`).  Each point starts from the converged solution of the point
    before it on the fine grid alone, as quarel-batch --alpha-sweep does
    (warm=False: every point from the free stream).

    Returns a dict of arrays, one entry per point, that pandas.DataFrame
    takes directly: alpha, mach, CL, CD, CDw, CDp, CDf, CM, xtr_upper,
    xtr_lower, converged, exit_code, message.  re, ncrit and xtr as for
    analyse.  A failed point is marked and the others go on.
    Holds the process's solver lock while it runs.
    """
    if vary not in ("alpha", "mach"):
        raise ValueError('vary must be "alpha" or "mach"')
    swept, fixed = (alphas, mach) if vary == "alpha" else (mach, alphas)
    values = np.atleast_1d(np.asarray(swept, dtype=float)) if not isinstance(swept, str) else None
    if values is None or values.ndim != 1 or values.size == 0 or not np.all(np.isfinite(values)):
        raise ValueError(f"the {vary} values must be a non-empty list of finite numbers")
    if vary == "alpha":
        args, _ = _common(section, fixed, None, sweep, grid, tolerance, method, None)
    else:
        args, _ = _common(section, None, fixed, sweep, grid, tolerance, method, None)
    viscous, why = _viscous(re, ncrit, xtr, entropy)
    if why:
        n = values.size
        d = {k: np.full(n, np.nan)
             for k in ("CL", "CD", "CDw", "CDp", "CDf", "CM", "xtr_upper", "xtr_lower")}
        d.update(alpha=values if vary == "alpha" else np.full(n, float(fixed)),
                 mach=values if vary == "mach" else np.full(n, float(fixed)),
                 converged=np.zeros(n, dtype=bool), exit_code=np.ones(n, dtype=int),
                 message=[why] * n)
        return d
    return _core.polar(*args, vary, values.tolist(), bool(warm), *viscous)


def design(section, target, mach=None, alpha=None, iterations=5, *, regime=None, sweep=None,
           grid=None, tolerance=None, method=""):
    """Inverse design, as quarel-batch --target --design-iterations: analyses
    the section, takes `target` (an M x 2 array of x and Cp round the section
    from the upper trailing edge, a table file of that layout, or a Cp file
    of an analysis) and runs `iterations` design global iterations.

    Returns a dict: x, y (the designed section, the body nodes of the fine
    grid from the upper trailing edge round the leading edge), alpha (the
    corrected angle of attack), history (a dict of arrays: iteration,
    cp_deviation, CL, CL_target, alpha, largest_dy), converged, exit_code,
    message, warnings.  A refused iteration ends the design with its message.
    Holds the process's solver lock while it runs.
    """
    args, _ = _common(section, mach, alpha, sweep, grid, tolerance, method, None)
    if isinstance(target, (str, os.PathLike)):
        tpath, tx, tcp = os.fspath(target), [], []
    else:
        _, tx, tcp = _section(target)
        tpath = ""
    if isinstance(iterations, bool) or not isinstance(iterations, numbers.Integral):
        raise TypeError("iterations must be a whole number")
    if not 1 <= iterations <= 200:
        raise ValueError("iterations must be 1 .. 200")
    if regime is not None and regime not in (0, 1, 2):
        raise ValueError("regime must be None, 0, 1 or 2")
    return _core.design(*args, tpath, tx, tcp, int(iterations), -1 if regime is None else regime)


def run_cases(table, client, **options):
    """Runs a case table on a Dask cluster; see quarel.cases.run_cases."""
    from .cases import run_cases as run
    return run(table, client, **options)
