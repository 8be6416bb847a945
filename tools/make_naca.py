#!/usr/bin/env python3
"""Writes a Quarel input geometry file for a NACA 4-digit section.

The section comes from the published NACA 4-digit formulas:

  thickness  yt = 5 t (0.2969 sqrt(x) - 0.1260 x - 0.3516 x^2 + 0.2843 x^3 - 0.1036 x^4)
             (the last coefficient -0.1036 closes the trailing edge)
  camber     yc = m/p^2 (2 p x - x^2)                 for x < p
             yc = m/(1-p)^2 ((1 - 2p) + 2 p x - x^2)  for x >= p

with m the maximum camber (first digit / 100), p its position (second digit
/ 10) and t the thickness (last two digits / 100).  The stations are cosine
spaced, clustered at the leading and trailing edges.

Contour layouts (the layout code of the file):
  0  point list: x, y from the trailing edge over the upper surface to the
     leading edge and back over the lower surface; the thickness is laid off
     normal to the camber line (the exact published construction).
  1  common abscissae: x, y_upper, y_lower from the leading edge to the
     trailing edge.  Both surfaces must share the stations, so the thickness
     is laid off normal to the chord (y = yc +- yt); for a symmetric section
     this is exact, for a cambered one a close approximation.

Example:
  tools/make_naca.py 2412 --layout 1 --mach 0.75 --alpha 1.0 -o examples/naca2412.dat
"""

import argparse
import math
import sys


def thickness(x, t, open_te=False):
    """Half thickness; the published last coefficient -0.1015 leaves the
    trailing edge open (0.126 % chord thick at 12 %), -0.1036 closes it."""
    a4 = -0.1015 if open_te else -0.1036
    return 5.0 * t * (0.2969 * math.sqrt(x) - 0.1260 * x - 0.3516 * x ** 2
                      + 0.2843 * x ** 3 + a4 * x ** 4)


def camber(x, m, p):
    """Camber ordinate and slope."""
    if m == 0.0 or p == 0.0:
        return 0.0, 0.0
    if x < p:
        return m / p ** 2 * (2 * p * x - x * x), 2 * m / p ** 2 * (p - x)
    return (m / (1 - p) ** 2 * ((1 - 2 * p) + 2 * p * x - x * x),
            2 * m / (1 - p) ** 2 * (p - x))


def stations(n):
    """n cosine-spaced abscissae from the leading edge (0) to the trailing edge (1)."""
    xs = [0.5 * (1.0 - math.cos(math.pi * i / (n - 1))) for i in range(n)]
    xs[0], xs[-1] = 0.0, 1.0
    return xs


def parse_digits(code):
    if len(code) != 4 or not code.isdigit():
        raise ValueError("a NACA 4-digit code has four digits, e.g. 0012 or 2412")
    m = int(code[0]) / 100.0
    p = int(code[1]) / 10.0
    t = int(code[2:]) / 100.0
    if (m == 0.0) != (p == 0.0):
        raise ValueError("camber and its position must both be zero or both non-zero")
    if t <= 0.0:
        raise ValueError("the thickness must be positive")
    return m, p, t


def field(v, decimals=6):
    """A 10-column field with a decimal point (read as written)."""
    v = round(v, decimals) + 0.0  # no "-0.000000"
    s = "%10.*f" % (decimals, v)
    if len(s) > 10:
        raise ValueError("value %r does not fit a 10-column field" % v)
    return s


def ratio(r):
    """A 5-column growth-ratio field, blank-separated when the value allows."""
    s = "%.3f" % r
    if s.endswith("0"):
        s = s[:-1]
    if len(s) > 5:
        raise ValueError("growth ratio %r does not fit a 5-column field" % r)
    return s.rjust(5)


def surfaces(code, n, open_te):
    """Upper and lower surface points, each from the leading edge to the
    trailing edge, thickness laid off normal to the camber line."""
    m, p, t = parse_digits(code)
    upper, lower = [], []
    for x in stations(n):
        yc, slope = camber(x, m, p)
        yt = thickness(x, t, open_te)
        th = math.atan(slope)
        upper.append((x - yt * math.sin(th), yc + yt * math.cos(th)))
        lower.append((x + yt * math.sin(th), yc - yt * math.cos(th)))
    return upper, lower


def coordinates(args):
    """A section coordinate file as section libraries publish them."""
    upper, lower = surfaces(args.code, args.stations, args.open_te)
    name = args.title or "NACA %s" % args.code
    lines = [name]
    if args.format == "points":
        # Upper trailing edge round the leading edge to the lower one.
        for x, y in list(reversed(upper)) + lower[1:]:
            lines.append("%10.6f %10.6f" % (x, y))
    else:
        # Point counts, then both surfaces from the leading edge.
        lines.append("%8d.  %8d." % (len(upper), len(lower)))
        lines.append("")
        for x, y in upper:
            lines.append("%10.6f %10.6f" % (x, y))
        lines.append("")
        for x, y in lower:
            lines.append("%10.6f %10.6f" % (x, y))
    return "\n".join(lines) + "\n"


def count(v):
    """An integer written with a decimal point, as the F10.5 fields need."""
    return "%9d." % v


def generate(args):
    m, p, t = parse_digits(args.code)
    xs = stations(args.stations)
    lines = []
    if args.layout == 1:
        title = "NACA %s, common abscissae: y = yc +- yt (thickness normal to chord)" % args.code
    else:
        title = "NACA %s, closed trailing edge, %d cosine-spaced stations per surface" % (
            args.code, args.stations)
    title = args.title or title
    lines.append(title[:80])
    lines.append("<  Mach  >< Alpha  >< Sweep  >  (angles in degrees)")
    lines.append(field(args.mach, 5) + field(args.alpha, 5) + field(args.sweep, 5))
    lines.append("<Diag.dom><Max.res.><Des.lead>  (design region from this x/c)")
    lines.append(field(args.diag, 5) + "%10.1E" % args.residual + field(args.lead, 5))
    lines.append("<  NPA   ><  NCO   ><  NBH   >< Kgrid  >")
    lines.append(count(args.npa) + count(args.nco) + count(args.nbh) + count(args.kgrid))
    lines.append("<Lin.its.><GMRESdim><LiftCorr><Regime  >")
    lines.append(count(args.linear) + count(args.gmres) + count(args.lift) + count(args.regime))
    lines.append("<Layout  ><Lines   >  layout 0: x,y TE-upper-LE-lower-TE;"
                 " layout 1: x,y1,y2 LE to TE")

    if args.layout == 1:
        lines.append(count(1) + count(len(xs)))
        lines.append("<   x    ><y upper ><y lower >")
        for x in xs:
            yc, _ = camber(x, m, p)
            yt = thickness(x, t)
            lines.append(field(x) + field(yc + yt) + field(yc - yt))
    else:
        upper, lower = [], []
        for x in xs:
            yc, slope = camber(x, m, p)
            yt = thickness(x, t)
            th = math.atan(slope)
            upper.append((x - yt * math.sin(th), yc + yt * math.cos(th)))
            lower.append((x + yt * math.sin(th), yc - yt * math.cos(th)))
        # Trailing edge over the upper surface to the leading edge, then back
        # over the lower surface; the leading edge point is shared.
        points = list(reversed(upper)) + lower[1:]
        lines.append(count(0) + count(len(points)))
        lines.append("<   x    ><   y    >")
        for x, y in points:
            lines.append(field(x) + field(y))

    lines.append(" VSup TEup MCup   LE MClo TElo VSlo  (growth ratios: vortex sheet, "
                 "trailing edge, mid-chord, leading edge)")
    lines.append("".join(ratio(r) for r in args.ratios))
    return "\n".join(lines) + "\n"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("code", help="four digits, e.g. 0012")
    ap.add_argument("-o", "--output", help="output file (default: standard output)")
    ap.add_argument("--layout", type=int, choices=(0, 1), default=0)
    ap.add_argument("--format", choices=("input", "points", "blocks"), default="input",
                    help="input: this program's input file; points or blocks: a section "
                         "coordinate file (x y pairs round the section, or point counts and "
                         "the two surfaces from the leading edge)")
    ap.add_argument("--open-te", action="store_true",
                    help="the published open trailing edge (last coefficient -0.1015)")
    ap.add_argument("--stations", type=int, default=41,
                    help="stations per surface, leading and trailing edge included")
    ap.add_argument("--title")
    ap.add_argument("--mach", type=float, default=0.75)
    ap.add_argument("--alpha", type=float, default=1.0, help="degrees")
    ap.add_argument("--sweep", type=float, default=0.0, help="degrees")
    ap.add_argument("--diag", type=float, default=0.2, help="diagonal-dominance parameter")
    ap.add_argument("--residual", type=float, default=1.0e-5)
    ap.add_argument("--lead", type=float, default=0.1,
                    help="leading boundary of the design region (fraction of chord)")
    ap.add_argument("--npa", type=int, default=48)
    ap.add_argument("--nco", type=int, default=10)
    ap.add_argument("--nbh", type=int, default=8)
    ap.add_argument("--kgrid", type=int, default=4)
    ap.add_argument("--linear", type=int, default=10, help="GMRES cycles per Newton step")
    ap.add_argument("--gmres", type=int, default=15, help="Krylov dimension")
    ap.add_argument("--lift", type=int, default=0, help="lift correction switch")
    ap.add_argument("--regime", type=int, default=0, help="design regime 0, 1 or 2")
    ap.add_argument("--ratios", type=float, nargs=7,
                    default=[1.10, 1.12, 1.12, 1.10, 1.12, 1.12, 1.10],
                    help="growth ratios: upper vortex sheet, upper TE, upper mid-chord, LE, "
                         "lower mid-chord, lower TE, lower vortex sheet")
    args = ap.parse_args(argv)

    if args.stations < 3:
        ap.error("at least 3 stations per surface")
    npoints = args.stations if args.layout == 1 else 2 * args.stations - 1
    if args.format == "input" and ((args.layout == 1 and npoints > 180) or npoints > 360):
        ap.error("too many contour points for the reader (360, or 180 lines in layout 1)")
    nx = args.kgrid * (args.npa + 2 * args.nbh)
    ny = args.kgrid * args.nco + 1
    if nx > 499 or ny > 160:
        print("warning: the fine grid %d x %d exceeds 499 x 160" % (nx, ny), file=sys.stderr)
    try:
        text = generate(args) if args.format == "input" else coordinates(args)
    except ValueError as e:
        ap.error(str(e))
    if args.output:
        with open(args.output, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
