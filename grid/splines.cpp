// Cubic interpolating spline and the preparation of the section contour.
#include "splines.h"

#include <cmath>
#include <string>

#include "constants.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

// Size of the spline's working rows.
constexpr int kSplineMax = 1201;

// Constants of the surface parametrisation, all derived from pi in single
// precision.  kappa = cos^2(pi/130) keeps the square root of the abscissa
// map finite at x = 1, so that the trailing edge sits at a finite
// parameter with a small gap pi/64 before 0 and after 2 pi.
constexpr double kPi = kPiSingle;
constexpr double kKappa = 0.9994161133836734;      // cos^2(pi/130)
constexpr double kPiPlus = 3.1906801275908947;     // pi + pi/64
constexpr double kPi64 = 0.04908738657832146;      // pi/64
constexpr double kHalfPi = kHalfPiSingle;          // pi/2
constexpr double kTwoOverPi = 0.6366197466850281;  // 2/pi
constexpr double kTwoPi = 6.2831854820251465;      // 2 pi

}  // namespace

void SplineCoef(const double& e1, const double& en, const int& n, const double* X, const double* Y,
                double* M, const int& iend) {
    if (n < 2 || n > kSplineMax)
        throw ParameterError("A cubic spline needs 2 to 1201 points; it was given " +
                             std::to_string(n) + ".");
    const double* x = X - 1;
    const double* y = Y - 1;
    double* mm = M - 1;
    // Working rows, 1-based: interval widths, sub- and super-diagonal
    // weights, right-hand side, elimination pivots and factors, and the
    // forward-substituted right-hand side.
    double h[kSplineMax + 1], lam[kSplineMax + 1], mu[kSplineMax + 1], d[kSplineMax + 1];
    double b[kSplineMax + 1], w[kSplineMax + 1], u[kSplineMax + 1];

    for (int k = 1; k <= n - 1; ++k) h[k] = x[k + 1] - x[k];
    for (int k = 2; k <= n - 1; ++k) {
        const double hs = h[k - 1] + h[k];
        lam[k] = h[k] / hs;
        mu[k] = 1.0 - lam[k];
        d[k] = 6.0 * ((y[k + 1] - y[k]) / h[k] - (y[k] - y[k - 1]) / h[k - 1]) / hs;
    }
    if (iend == 1) {
        // Clamped: first derivatives e1, en at the ends.
        lam[1] = 1.0;
        mu[n] = 1.0;
        d[1] = 6.0 * ((y[2] - y[1]) / h[1] - e1) / h[1];
        d[n] = 6.0 * (en - (y[n] - y[n - 1]) / h[n - 1]) / h[n - 1];
    } else {
        // Second derivatives e1, en at the ends (0, 0: natural spline).
        lam[1] = 0.0;
        mu[n] = 0.0;
        d[1] = 2.0 * e1;
        d[n] = 2.0 * en;
    }

    // Tridiagonal elimination without pivoting (the system is diagonally
    // dominant), then back substitution.
    b[1] = 2.0;
    u[1] = d[1] / 2.0;
    for (int k = 2; k <= n; ++k) {
        w[k] = -lam[k - 1] / b[k - 1];
        b[k] = 2.0 + w[k] * mu[k];
        u[k] = (d[k] - mu[k] * u[k - 1]) / b[k];
    }
    mm[n] = u[n];
    for (int k = n - 1; k >= 1; --k) mm[k] = w[k + 1] * mm[k + 1] + u[k];
}

void SplineEval(const int& n, const double* X, const double* Y, const double* M, const double& x,
                double& s, double& s1, double& s2) {
    const double* xx = X - 1;
    const double* y = Y - 1;
    const double* mm = M - 1;
    // First knot at or right of x; points left of X(2) use the first
    // interval.  The scan stops at the last knot, so a point beyond the
    // data is extrapolated with the last cubic instead of reading past the
    // arrays.
    int k = 2;
    while (k < n && xx[k] < x) ++k;
    const int i = k - 1;
    const double h = xx[i + 1] - xx[i];
    const double a = xx[i + 1] - x;
    const double b = x - xx[i];
    s = ((y[i + 1] - h * h * mm[i + 1] / 6.0) * b + (y[i] - h * h * mm[i] / 6.0) * a +
         (b * b * b * mm[i + 1] + a * a * a * mm[i]) / 6.0) /
        h;
    s1 = (y[i + 1] - y[i]) / h + (b * b * mm[i + 1] - a * a * mm[i]) / (2.0 * h) -
         (mm[i + 1] - mm[i]) * h / 6.0;
    s2 = (b * mm[i + 1] + a * mm[i]) / h;
}

void PrepContour(const ContourInput& XCONT, const ContourInput& YCONT, const int& NCONT,
                 const int& npa, double& x0, double& chordInclination, const double& cosSweep) {
    const int n = NCONT;

    // Leading edge: the first point of smallest abscissa.  Trailing edge:
    // midway between the first and the last point.
    int mLE = 1;
    for (int m = 2; m <= n; ++m)
        if (XCONT(m) < XCONT(mLE)) mLE = m;
    const double xLE = XCONT(mLE), yLE = YCONT(mLE);
    const double xTE = 0.5 * (XCONT(1) + XCONT(n));
    const double yTE = 0.5 * (YCONT(1) + YCONT(n));

    const double dx = xTE - xLE, dy = yTE - yLE;
    const double chord = std::sqrt(dx * dx + dy * dy);
    const double cosT = dx / chord, sinT = dy / chord;
    chordInclination = std::atan(dy / dx) * 180.0 / kPi;

    // Chord-normalised coordinates and the surface parameter Theta: 0 at
    // the upper trailing edge, pi at the leading edge, 2 pi at the lower
    // trailing edge.
    double xn[kMaxContour + 1], yn[kMaxContour + 1], th[kMaxContour + 1], m2[kMaxContour + 1];
    for (int m = 1; m <= n; ++m) {
        const double px = XCONT(m) - xLE, py = YCONT(m) - yLE;
        xn[m] = (px * cosT + py * sinT) / chord;
        yn[m] = (py * cosT - px * sinT) / chord;
    }
    xn[1] = 1.0;
    xn[n] = 1.0;
    th[1] = 0.0;
    th[n] = kTwoPi;
    for (int m = 2; m <= n - 1; ++m) {
        const double kx = kKappa * xn[m];
        const double s = kTwoOverPi * std::atan(std::sqrt(kx / (1.0 - kx)));
        th[m] = m <= mLE ? (1.0 - s) * kPiPlus - kPi64 : (1.0 + s) * kPiPlus - kPi64;
    }

    // Ordinates as a natural spline of Theta.
    SplineCoef(0.0, 0.0, n, th + 1, yn + 1, m2 + 1, 0);

    // New surface points, equally spaced in Theta: cosine clustering at
    // both edges in x.
    const int half = npa / 2;
    for (int i = 1; i <= npa + 1; ++i) {
        const double t = (i - 1) * kPi / half;
        double ys, y1, y2;
        SplineEval(n, th + 1, yn + 1, m2 + 1, t, ys, y1, y2);
        const double c = std::cos((t + kPi64) * kHalfPi / kPiPlus);
        xg(i, 1) = c * c / kKappa;
        yg(i, 1) = ys / cosSweep;
        // Singular point of the square-root map, inside the nose: for a
        // nose y^2 = 2 r x it is close to the radius r, taken from the
        // slope dy/dTheta at the leading edge.
        if (i == half + 1) x0 = 2.0 * y1 * y1;
    }
}

}  // namespace quarel
