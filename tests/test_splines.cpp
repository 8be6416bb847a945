// Cubic spline, Akima interpolation and the surface-point preparation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "SRV21.h"
#include "message.h"
#include "splines.h"
#include "state.h"

using namespace quarel;

namespace {

// Collects the warnings of the Akima routine.
struct WarningCapture {
    std::vector<std::string> warnings;
    WarningCapture() {
        msg::setQuiet(true);
        msg::setSink([this](msg::Kind kind, const std::string& text) {
            if (kind == msg::Kind::Warning) warnings.push_back(text);
        });
    }
    ~WarningCapture() {
        msg::setSink(nullptr);
        msg::takeWarnings();
        msg::setQuiet(false);
    }
};

double cubic(double x) {
    return 0.5 - 0.3 * x + 0.8 * x * x - 0.25 * x * x * x;
}
double cubic1(double x) {
    return -0.3 + 1.6 * x - 0.75 * x * x;
}

}  // namespace

TEST(Spline, EndConditions) {
    const std::vector<double> X = {0.0, 0.3, 0.7, 1.2, 2.0, 2.1, 3.0};
    std::vector<double> Y, M(X.size());
    for (double x : X) Y.push_back(cubic(x));
    const int n = X.size();
    double s, s1, s2;

    // Natural: zero curvature at both ends, the data reproduced at the knots.
    SplineCoef(0.0, 0.0, n, X.data(), Y.data(), M.data(), 0);
    EXPECT_EQ(M[0], 0.0);
    EXPECT_NEAR(M[n - 1], 0.0, 1e-14);
    for (int k = 0; k < n; ++k) {
        SplineEval(n, X.data(), Y.data(), M.data(), X[k], s, s1, s2);
        EXPECT_NEAR(s, Y[k], 1e-14) << k;
    }

    // Clamped with the true end slopes: a cubic is reproduced exactly,
    // derivatives included, and extrapolates with its first piece.
    SplineCoef(cubic1(X[0]), cubic1(X[n - 1]), n, X.data(), Y.data(), M.data(), 1);
    for (double x : {-0.5, 0.0, 0.1, 0.5, 1.0, 1.7, 2.05, 2.9, 3.0}) {
        SplineEval(n, X.data(), Y.data(), M.data(), x, s, s1, s2);
        EXPECT_NEAR(s, cubic(x), 1e-12) << x;
        EXPECT_NEAR(s1, cubic1(x), 1e-12) << x;
        EXPECT_NEAR(s2, 1.6 - 1.5 * x, 1e-12) << x;
    }

    // Prescribed end curvatures are met.
    SplineCoef(0.7, -1.1, n, X.data(), Y.data(), M.data(), 2);
    EXPECT_NEAR(M[0], 0.7, 1e-14);
    EXPECT_NEAR(M[n - 1], -1.1, 1e-14);
    SplineEval(n, X.data(), Y.data(), M.data(), X[0], s, s1, s2);
    EXPECT_NEAR(s2, 0.7, 1e-14);

    // Beyond the last knot the last piece is used instead of reading past
    // the data.
    SplineCoef(cubic1(X[0]), cubic1(X[n - 1]), n, X.data(), Y.data(), M.data(), 1);
    SplineEval(n, X.data(), Y.data(), M.data(), 3.4, s, s1, s2);
    EXPECT_NEAR(s, cubic(3.4), 1e-12);

    EXPECT_THROW(SplineCoef(0.0, 0.0, 1, X.data(), Y.data(), M.data(), 0), ParameterError);
}

TEST(Akima, StraightLinesAndShape) {
    WarningCapture capture;
    // Data on a line with uneven spacing: reproduced exactly everywhere,
    // on both sides of the data too, for every L.
    const std::vector<double> X = {-1.0, -0.2, 0.5, 0.6, 2.0, 3.5};
    for (int L = 2; L <= 6; ++L) {
        std::vector<double> Y;
        for (double x : X) Y.push_back(0.75 - 1.25 * x);
        const std::vector<double> U = {-4.0, -1.0, 0.55, 3.0, -0.3, 1.0, 3.5, 9.0, 0.0};
        std::vector<double> V(U.size(), -99.0);
        const int N = U.size();
        ASSERT_TRUE(AkimaInterp(6, L, X.data(), Y.data(), N, U.data(), V.data()));
        for (int j = 0; j < N; ++j)
            EXPECT_NEAR(V[j], 0.75 - 1.25 * U[j], 1e-12) << L << " " << U[j];
    }

    // A step: the curve passes the data, stays flat where the data are flat
    // and rises monotonically, symmetric about the middle of the step.
    const std::vector<double> Xs = {0, 1, 2, 3, 4, 5};
    const std::vector<double> Ys = {0, 0, 0, 1, 1, 1};
    std::vector<double> U, V;
    for (int m = 0; m <= 50; ++m) U.push_back(m * 0.1);
    V.resize(U.size());
    const int N = U.size(), L = 6;
    ASSERT_TRUE(AkimaInterp(6, L, Xs.data(), Ys.data(), N, U.data(), V.data()));
    for (int m = 0; m <= 50; ++m) {
        if (m <= 20) {
            EXPECT_NEAR(V[m], 0.0, 1e-15) << m;
        }
        if (m >= 30) {
            EXPECT_NEAR(V[m], 1.0, 1e-15) << m;
        }
        if (m > 0) {
            EXPECT_GE(V[m], V[m - 1]);
        }
        EXPECT_NEAR(V[m] + V[50 - m], 1.0, 1e-14) << m;
    }
    EXPECT_NEAR(V[25], 0.5, 1e-15);

    // The order of the output points does not matter.
    std::vector<double> Ur(U.rbegin(), U.rend()), Vr(U.size());
    ASSERT_TRUE(AkimaInterp(6, L, Xs.data(), Ys.data(), N, Ur.data(), Vr.data()));
    for (int m = 0; m <= 50; ++m) EXPECT_EQ(Vr[50 - m], V[m]);
    EXPECT_TRUE(capture.warnings.empty());
}

TEST(Akima, FaultReports) {
    WarningCapture capture;
    const double U[2] = {0.5, 1.5};
    double V[2] = {7.0, 8.0};
    const int two = 2, one = 1, zero = 0, six = 6, five = 5;

    const double X1[1] = {1.0}, Y1[1] = {1.0};
    EXPECT_FALSE(AkimaInterp(6, one, X1, Y1, two, U, V));
    const double X2[2] = {0.0, 1.0}, Y2[2] = {0.0, 1.0};
    EXPECT_FALSE(AkimaInterp(6, two, X2, Y2, zero, U, V));
    // Identical abscissae at positions 4 and 5.
    const double X6[6] = {0.0, 1.0, 2.0, 4.0, 4.0, 5.0}, Y6[6] = {0, 1, 2, 3, 4, 5};
    EXPECT_FALSE(AkimaInterp(6, six, X6, Y6, two, U, V));
    // Out of sequence at the first pair.
    const double X5[5] = {1.0, -2.5, 3.0, 4.0, 5.0}, Y5[5] = {0, 1, 2, 3, 4};
    EXPECT_FALSE(AkimaInterp(6, five, X5, Y5, two, U, V));
    EXPECT_EQ(V[0], 7.0);
    EXPECT_EQ(V[1], 8.0);

    ASSERT_EQ(capture.warnings.size(), 4u);
    EXPECT_EQ(capture.warnings[0],
              " \n  ***  l = 1  or less.\n\n   l =      1          n =      2");
    EXPECT_EQ(capture.warnings[1],
              " \n  ***  n = 0  or less.\n\n   l =      2          n =      0");
    EXPECT_EQ(capture.warnings[2],
              " \n  ***  identical x values.\n\n   i =      5          x(i) =   0.400E+01\n"
              "   l =      6          n =      2");
    EXPECT_EQ(capture.warnings[3],
              " \n  ***  x values out of sequence.\n\n   i =      2          x(i) =  -0.250E+01\n"
              "   l =      5          n =      2");
}

namespace {

// A symmetric section y = +-t(x) given from the upper trailing edge round
// the nose: NACA 0012 with the closed trailing edge, cosine spacing.
void symmetricContour(int perSide, ContourInput& X, ContourInput& Y, int& n) {
    n = 2 * perSide - 1;
    for (int m = 1; m <= perSide; ++m) {
        const double b = M_PI * (perSide - m) / (perSide - 1);
        const double x = 0.5 * (1.0 - std::cos(b));
        const double t = 0.6 * (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x +
                                0.2843 * x * x * x - 0.1036 * x * x * x * x);
        X(m) = x;
        Y(m) = t;
        X(n + 1 - m) = x;
        Y(n + 1 - m) = -t;
    }
}

double naca0012(double x) {
    return 0.6 * (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x + 0.2843 * x * x * x -
                  0.1036 * x * x * x * x);
}

}  // namespace

TEST(PrepContour, SurfacePoints) {
    ContourInput X, Y;
    int n;
    symmetricContour(61, X, Y, n);
    double x0 = -1.0, incl = -1.0;
    const double cu = 1.0;

    // Five points: the cosine clustering puts the quarter points at 0.48820.
    int npa = 4;
    PrepContour(X, Y, n, npa, x0, incl, cu);
    const double expect[5] = {1.0, 0.48820, 0.0, 0.48820, 1.0};
    for (int i = 1; i <= 5; ++i) EXPECT_NEAR(xg(i, 1), expect[i - 1], 5e-6) << i;
    EXPECT_EQ(incl, 0.0);

    // A finer distribution lies on the section, mirror-symmetric in x and y
    // (in x up to the single-precision pi of the clustering).
    npa = 80;
    PrepContour(X, Y, n, npa, x0, incl, cu);
    for (int i = 1; i <= npa + 1; ++i) {
        const int mirror = npa + 2 - i;
        EXPECT_NEAR(xg(i, 1), xg(mirror, 1), 1e-7);
        EXPECT_NEAR(yg(i, 1), -yg(mirror, 1), 1e-12);
        const double x = xg(i, 1);
        EXPECT_NEAR(std::fabs(yg(i, 1)), naca0012(std::min(std::max(x, 0.0), 1.0)), 2e-4) << i;
        if (i > 1 && i <= npa / 2 + 1) {
            EXPECT_LT(x, xg(i - 1, 1));
        }
    }
    EXPECT_NEAR(xg(1, 1), 1.0, 1e-8);
    EXPECT_NEAR(xg(npa / 2 + 1, 1), 0.0, 1e-12);
    EXPECT_NEAR(yg(npa / 2 + 1, 1), 0.0, 1e-12);
    // The singular point lies inside the nose, of the order of the
    // leading-edge radius (1.1019 t^2 = 0.0159 for 12 % thickness).
    EXPECT_GT(x0, 0.5 * 0.0159);
    EXPECT_LT(x0, 1.5 * 0.0159);
    const double x0Ref = x0;

    // The same section moved, scaled by 3 and turned 5 degrees nose-down
    // gives the same surface points; the divisor cu scales the ordinates.
    std::vector<double> xr(npa + 2), yr(npa + 2);
    for (int i = 1; i <= npa + 1; ++i) {
        xr[i] = xg(i, 1);
        yr[i] = yg(i, 1);
    }
    ContourInput X2, Y2;
    const double a = 5.0 * M_PI / 180.0;
    for (int m = 1; m <= n; ++m) {
        X2(m) = 2.0 + 3.0 * (X(m) * std::cos(a) + Y(m) * std::sin(a));
        Y2(m) = -1.0 + 3.0 * (-X(m) * std::sin(a) + Y(m) * std::cos(a));
    }
    const double cu2 = 0.8;
    PrepContour(X2, Y2, n, npa, x0, incl, cu2);
    EXPECT_NEAR(incl, -5.0, 1e-5);
    EXPECT_NEAR(x0, x0Ref, 1e-9);
    for (int i = 1; i <= npa + 1; ++i) {
        EXPECT_NEAR(xg(i, 1), xr[i], 1e-12);
        EXPECT_NEAR(yg(i, 1) * cu2, yr[i], 1e-9);
    }

    // A blunt trailing edge keeps both ordinates; only x is forced to 1.
    ContourInput X3 = X, Y3 = Y;
    Y3(1) = 0.004;
    Y3(n) = -0.004;
    X3(1) = X3(n) = 1.0;
    PrepContour(X3, Y3, n, npa, x0, incl, cu);
    EXPECT_NEAR(yg(1, 1), 0.004, 1e-12);
    EXPECT_NEAR(yg(npa + 1, 1), -0.004, 1e-12);
}
