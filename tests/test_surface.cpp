// Surface velocity, pressure, lift, wave drag, Mach field, maximum
// thickness and the coarse-to-fine transfer of the potential.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SRV11.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "state.h"

using namespace quarel;

namespace {

const double kGamma = 1.4;

// C-grid about a flat plate of unit chord from the conformal map
// z = zeta^2: line 1 is the plate (i = k..NX-k, leading edge at x = 0)
// and the wake cut, node i < k coinciding with node NX-i.  Left-handed
// like the program's grids (upper surface first).
struct PlateGrid {
    int NX, NY, k;
    double h, cr, sr;  // rotation of the whole grid about the leading edge
    PlateGrid(int nx, int ny, int kk, double rot = 0.0)
        : NX(nx), NY(ny), k(kk), h(1.0 / (nx / 2 - kk)), cr(std::cos(rot)), sr(std::sin(rot)) {
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) {
                const double a = (NX / 2 - i) * h, b = (j - 1) * h;
                const double x = a * a - b * b, y = 2 * a * b;
                xg(i, j) = cr * x - sr * y;
                yg(i, j) = sr * x + cr * y;
            }
        GridMetric(NY, NX);
        for (int i = 0; i < kContourSize; ++i) vfx(i) = 0.0;
    }
    // Distance along the plate from the leading edge.
    double along(int i, int j) const { return cr * xg(i, j) + sr * yg(i, j); }
    // Line-1 potential with the given speed on each face, flowing from the
    // leading edge to the trailing edge on both sides; line 2 and beyond
    // smooth.
    template <class Speed>
    void setSurfaceSpeeds(Speed speed) {
        for (int j = 2; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) phi(i, j) = xg(i, j) + 0.2 * yg(i, j);
        const int mid = NX / 2;
        phi(mid, 1) = 0.0;
        for (int i = mid - 1; i >= 0; --i)
            phi(i, 1) = phi(i + 1, 1) + speed(i) * (along(i, 1) - along(i + 1, 1));
        for (int i = mid + 1; i <= NX; ++i)
            phi(i, 1) = phi(i - 1, 1) + speed(i - 1) * (along(i, 1) - along(i - 1, 1));
    }
    double circ() const { return Circulation(NX, k); }
};

}  // namespace

TEST(SurfaceResults, IncompressibleBernoulliAndKuttaJoukowskiLift) {
    PlateGrid g(24, 6, 4);
    const int NX = g.NX, mid = NX / 2;
    // Faster on the upper surface than on the lower: a lifting plate.
    const double d = 0.07;
    g.setSurfaceSpeeds([&](int f) { return f < mid ? 1.0 + d : 1.0 - d; });
    const double s2 = 0.1, liftRef = std::sqrt(1.0 - s2);

    // Face velocity: the contravariant speed squared is the Cartesian
    // one, and the wall faces carry exactly the transpiration.
    for (int f = 0; f <= NX - 1; ++f) {
        const double vw = 0.01 * f;
        double U, V, u, v, q2;
        FaceVelocity(f, g.k, NX, vw, U, V, u, v, q2);
        EXPECT_NEAR(q2, u * u + v * v, 1e-12 * q2) << f;
        if (f >= g.k - 1 && f <= NX - g.k) {
            EXPECT_NEAR(V, vw, 1e-13) << f;
        }
    }

    double CD = 0.0, CL = 0.0, cpStar = 7.0;
    SurfaceResults(g.NY, g.k, NX, 0.0, kGamma, CD, CL, 1.0, 0.0, liftRef, s2,
                   quarel::EntropyOptions{}, cpStar);
    for (int f = 0; f <= NX - 1; ++f) {
        double U, V, u, v, q2;
        FaceVelocity(f, g.k, NX, 0.0, U, V, u, v, q2);
        EXPECT_NEAR(cpf(f), 1.0 - (u * u + v * v) - s2, 1e-12) << f;
        EXPECT_NEAR(q2f(f), q2, 1e-14);
        EXPECT_NEAR(qsf(f) * qsf(f), q2, 1e-14);
    }
    for (int f = g.k; f <= NX - g.k - 1; ++f) {
        const double q = f < mid ? 1.0 + d : 1.0 - d;
        EXPECT_NEAR(cpf(f), 1.0 - q * q - s2, 1e-12) << f;
    }
    // Pressure lift of the plate equals the Kutta-Joukowski lift 2|Gamma|
    // (unit chord), divided by the lift reference; no drag at M = 0.
    EXPECT_NEAR(CL, 4.0 * d / liftRef, 1e-12);
    EXPECT_NEAR(CL, -2.0 * g.circ() / liftRef, 1e-12);
    EXPECT_EQ(CD, 0.0);
    EXPECT_EQ(cpStar, 7.0);
    // At incidence only the component normal to the free stream counts.
    const double a = 0.1;
    CL = 0.0;
    SurfaceResults(g.NY, g.k, NX, 0.0, kGamma, CD, CL, std::cos(a), std::sin(a), 1.0, 0.0,
                   quarel::EntropyOptions{}, cpStar);
    EXPECT_NEAR(CL, std::cos(a) * 4.0 * d, 1e-12);
    // Lift is normal to the free stream: turning the plate and the stream
    // together leaves it unchanged.
    {
        PlateGrid turned(24, 6, 4, a);
        turned.setSurfaceSpeeds([&](int f) { return f < mid ? 1.0 + d : 1.0 - d; });
        CL = 0.0;
        SurfaceResults(g.NY, g.k, NX, 0.0, kGamma, CD, CL, std::cos(a), std::sin(a), 1.0, 0.0,
                       quarel::EntropyOptions{}, cpStar);
        EXPECT_NEAR(CL, 4.0 * d, 1e-12);
        PlateGrid again(24, 6, 4);
        again.setSurfaceSpeeds([&](int f) { return f < mid ? 1.0 + d : 1.0 - d; });
    }
    // With CL set on entry only the surface arrays are refreshed.
    g.setSurfaceSpeeds([](int) { return 1.0; });
    CL = 0.5;
    CD = 0.25;
    SurfaceResults(g.NY, g.k, NX, 0.0, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                   cpStar);
    EXPECT_EQ(CL, 0.5);
    EXPECT_EQ(CD, 0.25);
    EXPECT_NEAR(cpf(g.k + 1), 0.0, 1e-12);
}

TEST(SurfaceResults, CompressiblePressureSonicValueAndMachThreeBound) {
    PlateGrid g(24, 6, 4);
    const int NX = g.NX, mid = NX / 2;
    const double M = 0.8, g1 = kGamma - 1.0;
    for (double s2 : {0.0, 0.1}) {
        const FlowConstants c = MakeFlowConstants(M, kGamma, s2);
        const double qLimit = std::sqrt(c.q3sq - s2);  // section-plane speed at Mach 3
        // Upper surface: free stream, sonic, then speeds rising through
        // the Mach-3 limit; lower surface: subsonic.
        auto speed = [&](int f) {
            if (f < mid) {
                const int n = f - g.k;
                if (n == 0) return std::sqrt(1.0 - s2);
                if (n == 1) return c.qstar;
                if (n == 4 && s2 > 0.0) return 0.5 * (qLimit + std::sqrt(c.q3sq));
                return 1.3 + 0.25 * n;
            }
            return 0.9;
        };
        g.setSurfaceSpeeds(speed);
        double CD = 0.0, CL = 0.0, cpStar = 0.0;
        SurfaceResults(g.NY, g.k, NX, M, kGamma, CD, CL, 1.0, 0.0, 1.0, s2,
                       quarel::EntropyOptions{}, cpStar);
        EXPECT_NEAR(cpStar, -0.43464047915523, 1e-12);
        EXPECT_NEAR(cpf(g.k), 0.0, 1e-12);
        if (s2 == 0.0) {
            EXPECT_NEAR(cpf(g.k + 1), cpStar, 1e-12);
        }
        const double cpLimit =
            2.0 * (std::pow(1.0 + 0.5 * g1 * M * M * (1.0 - c.q3sq), kGamma / g1) - 1.0) /
            (kGamma * M * M);
        double prev = cpf(g.k + 1);
        int beyond = 0;
        for (int f = g.k + 2; f < mid; ++f) {
            if (speed(f) > qLimit) {
                EXPECT_NEAR(cpf(f), cpLimit, 1e-12) << f;
                ++beyond;
            } else {
                EXPECT_LT(cpf(f), prev);
                EXPECT_GT(cpf(f), cpLimit);
            }
            prev = cpf(f);
        }
        EXPECT_GE(beyond, 2);
        EXPECT_TRUE(std::isfinite(CD));
    }

    // Cp* is kept at and below M = 0.1 (single precision).
    double CD = 0.0, CL = 1.0, cpStar = 5.0;
    SurfaceResults(g.NY, g.k, NX, 0.1, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                   cpStar);
    EXPECT_EQ(cpStar, 5.0);
    SurfaceResults(g.NY, g.k, NX, 0.1000001, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0,
                   quarel::EntropyOptions{}, cpStar);
    EXPECT_LT(cpStar, -50.0);
}

TEST(SurfaceResults, SubsonicFlowHasNoWaveDrag) {
    PlateGrid g(24, 7, 4);
    const int NX = g.NX;
    for (int j = 1; j <= g.NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = xg(i, j) + 0.05 * yg(i, j) * xg(i, j);
    const int mid = NX / 2;
    for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.02 * std::cos(0.9 * i);
    // Stale densities from an earlier step must not leak into the drag.
    for (int j = 1; j <= g.NY; ++j)
        for (int i = 0; i <= NX; ++i) rhoi(i, j) = 3.0;
    double CD = 1.0, CL = 0.0, cpStar = 0.0;
    SurfaceResults(g.NY, g.k, NX, 0.5, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                   cpStar);
    EXPECT_EQ(CD, 0.0);
    // The face densities of line 1 see the same speeds as the surface on
    // the first side of the cut and on the body.  (The face next to the
    // trailing edge, k-1, takes the wall condition in the surface velocity
    // but the cut formula in the densities.)
    const FlowConstants c = MakeFlowConstants(0.5, kGamma, 0.0);
    for (int f = 0; f <= NX - g.k - 1; ++f) {
        if (f == g.k - 1) continue;
        EXPECT_NEAR(rsi(f, 1), c.density(q2f(f)), 1e-14) << f;
        double U, V, u, v, q2;
        FaceVelocity(f, g.k, NX, f < mid ? vfx(f) : vfx(f + 1), U, V, u, v, q2);
        EXPECT_EQ(q2f(f), q2) << f;
    }
}

TEST(SurfaceResults, WaveDragOfAShockCountsTheBodyLineAsHalfCell) {
    // The same one-dimensional shock on every line of a Cartesian grid
    // (left-handed like the C-grid): each interior line adds twice the
    // contribution of the body line.
    const int NX = 20, sh = 9;
    const double h = 0.1, M = 0.8;
    double drag[2];
    for (int NY : {3, 4}) {
        for (int j = 1; j <= NY; ++j) {
            double p = 0.0;
            for (int i = 0; i <= NX; ++i) {
                xg(i, j) = h * i;
                yg(i, j) = -h * j;
                phi(i, j) = p;
                p += (i <= sh ? 1.40 + 0.01 * i : 0.80 + 0.005 * i) * h;
            }
        }
        GridMetric(NY, NX);
        for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.0;
        double CD = 0.0, CL = 0.0, cpStar = 0.0;
        SurfaceResults(NY, 0, NX, M, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                       cpStar);
        drag[NY - 3] = CD;
    }
    EXPECT_GT(drag[0], 0.0);
    EXPECT_NEAR(drag[1] / drag[0], 5.0 / 3.0, 1e-12);
}

TEST(SurfaceResults, EntropyIsCarriedFromTheShockAndThePressureIsThePotentials) {
    // The one-dimensional shock of the test above on 4 lines: with the
    // non-isentropic model the entropy is 0 up to the shock and one value
    // behind it on each line; the pressures (those of the potential's
    // speed) are the isentropic model's.
    const int NX = 20, NY = 4, sh = 9;
    const double h = 0.1, M = 0.8;
    for (int j = 1; j <= NY; ++j) {
        double p = 0.0;
        for (int i = 0; i <= NX; ++i) {
            xg(i, j) = h * i;
            yg(i, j) = -h * j;
            phi(i, j) = p;
            p += (i <= sh ? 1.40 + 0.01 * i : 0.80 + 0.005 * i) * h;
        }
    }
    GridMetric(NY, NX);
    for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.0;
    double cp[2][kMaxNX], CD[2];
    for (int on = 0; on < 2; ++on) {
        EntropyOptions o;
        o.enabled = on == 1;
        double CL = 0.0, cpStar = 0.0;
        CD[on] = 0.0;
        SurfaceResults(NY, 0, NX, M, kGamma, CD[on], CL, 1.0, 0.0, 1.0, 0.0, o, cpStar);
        for (int f = 0; f < NX; ++f) cp[on][f] = cpf(f);
    }
    for (int f = 0; f < NX; ++f) {
        EXPECT_EQ(cp[1][f], cp[0][f]);
        if (f < sh - 3) {
            EXPECT_EQ(ent(f, 1), 0.0) << f;
        } else if (f > sh + 1) {
            EXPECT_EQ(ent(f, 1), ent(NX - 1, 1)) << f;
        }
    }
    // The rise is that of a normal shock from the speed just ahead, 1.49.
    const double q2 = 1.49 * 1.49, m2 = q2 / (1.0 / (M * M) + 0.2 * (1.0 - q2));
    EXPECT_NEAR(ent(NX - 1, 1) / ShockEntropyRise(m2, kGamma), 1.0, 0.05);
}

TEST(MachField, LocalMachNumberIgnoresTranspiration) {
    PlateGrid g(20, 6, 4);
    const int NX = g.NX;
    const double M = 0.7;
    for (int j = 1; j <= g.NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = xg(i, j);
    MachField(kGamma, M * M, 0.0, g.k, g.NY, NX);
    // Uniform flow along the plate: free-stream Mach number on the wall.
    for (int f = g.k; f <= NX - g.k - 1; ++f) EXPECT_NEAR(amach(f, 1), M, 1e-12) << f;
    // A faster face: M_l^2 = q^2/a^2 with the local speed of sound.
    phi(g.k + 1, 1) += 0.3 * (xg(g.k + 1, 1) - xg(g.k + 2, 1));
    const double q = 1.3, a2 = 1.0 / (M * M) + 0.2 * (1.0 - q * q);
    MachField(kGamma, M * M, 0.0, g.k, g.NY, NX);
    EXPECT_NEAR(amach(g.k + 1, 1), q / std::sqrt(a2), 1e-12);

    // Transpiration changes the surface pressures, not the Mach picture.
    double CD = 0.0, CL = 0.0, cpStar = 0.0;
    SurfaceResults(g.NY, g.k, NX, M, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                   cpStar);
    const double cpBefore = cpf(g.k + 3), machBefore = amach(g.k + 3, 1);
    for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.2;
    CL = 1.0;
    SurfaceResults(g.NY, g.k, NX, M, kGamma, CD, CL, 1.0, 0.0, 1.0, 0.0, quarel::EntropyOptions{},
                   cpStar);
    MachField(kGamma, M * M, 0.0, g.k, g.NY, NX);
    EXPECT_NE(cpf(g.k + 3), cpBefore);
    EXPECT_EQ(amach(g.k + 3, 1), machBefore);

    // Interior lines of a Cartesian grid in uniform flow at incidence.
    const int nx = 8, ny = 5;
    for (int j = 1; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i) {
            xg(i, j) = 0.1 * i;
            yg(i, j) = -0.1 * j;
            phi(i, j) = 0.8 * xg(i, j) + 0.6 * yg(i, j);
        }
    GridMetric(ny, nx);
    MachField(kGamma, M * M, 0.0, 2, ny, nx);
    for (int j = 2; j <= ny - 1; ++j)
        for (int i = 0; i <= nx - 1; ++i) EXPECT_NEAR(amach(i, j), M, 1e-12);
}

TEST(MaxThickness, FindsLargestThicknessFirstOnTies) {
    const int NX = 24, k = 4, mid = NX / 2;
    const double pi = 3.14159265358979;
    for (int i = 0; i <= NX; ++i) yg(i, 1) = 0.0;
    // Upper 0.08 sin, lower -0.04 sin over the surface: maximum 0.12 at
    // the middle station i = 8.
    for (int i = k; i <= mid; ++i) {
        const double s = std::sin(pi * (i - k) / (mid - k));
        yg(i, 1) = 0.08 * s;
        yg(NX - i, 1) = -0.04 * s;
    }
    int iMax = -1;
    double dMax = 0.0;
    MaxThickness(k, NX, mid, iMax, dMax);
    EXPECT_EQ(iMax, 8);
    EXPECT_NEAR(dMax, 0.12, 1e-12);
    // A plateau keeps its first station; a thinning section its first.
    yg(9, 1) = yg(8, 1);
    yg(NX - 9, 1) = yg(NX - 8, 1);
    MaxThickness(k, NX, mid, iMax, dMax);
    EXPECT_EQ(iMax, 8);
    for (int i = k; i <= mid; ++i) {
        yg(i, 1) = 0.1 - 0.001 * i;
        yg(NX - i, 1) = -yg(i, 1);
    }
    MaxThickness(k, NX, mid, iMax, dMax);
    EXPECT_EQ(iMax, k);
    EXPECT_NEAR(dMax, 2 * (0.1 - 0.001 * k), 1e-15);
}

TEST(CoarseToFine, CopiesOrInterpolatesBilinearly) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto coarseValue = [](int i, int j) { return std::sin(0.9 * i + 0.4 * j * j) + 0.1 * i * j; };

    // d = 1 copies.
    for (int j = 1; j <= 5; ++j)
        for (int i = 0; i <= 8; ++i) {
            phi(i, j) = coarseValue(i, j);
            phis(i, j) = nan;
        }
    CoarseToFine(8, 5, 1);
    for (int j = 1; j <= 5; ++j)
        for (int i = 0; i <= 8; ++i) EXPECT_EQ(phis(i, j), phi(i, j));

    // d = 2, 4, 8 on a uniform fine grid: bilinear interpolation of the
    // coarse potential inside each coarse cell.
    for (int d : {2, 4, 8}) {
        const int nxc = 6, nyc = 4, nxf = d * nxc, nyf = d * (nyc - 1) + 1;
        for (int j = 1; j <= nyf; ++j)
            for (int i = 0; i <= nxf; ++i) {
                xgs(i, j) = 0.3 * i;
                ygs(i, j) = -0.2 * j;
                phis(i, j) = nan;
            }
        for (int j = 1; j <= nyc; ++j)
            for (int i = 0; i <= nxc; ++i) phi(i, j) = coarseValue(i, j);
        CoarseToFine(nxf, nyf, d);
        for (int j = 1; j <= nyf; ++j)
            for (int i = 0; i <= nxf; ++i) {
                const int ic = std::min(i / d, nxc - 1), jc = std::min((j - 1) / d + 1, nyc - 1);
                const double s = double(i - d * ic) / d, t = double(j - 1 - d * (jc - 1)) / d;
                const double expect = (1 - s) * (1 - t) * phi(ic, jc) +
                                      s * (1 - t) * phi(ic + 1, jc) +
                                      (1 - s) * t * phi(ic, jc + 1) + s * t * phi(ic + 1, jc + 1);
                EXPECT_NEAR(phis(i, j), expect, 1e-13) << d << " " << i << "," << j;
            }
    }

    // A stretched rectilinear grid: interpolation in arc length is exact
    // for a bilinear potential.
    const int d = 4, nxc = 3, nyc = 3, nxf = d * nxc, nyf = d * (nyc - 1) + 1;
    auto X = [](int i) { return 0.02 * i * i + 0.1 * i; };
    auto Y = [](int j) { return -std::pow(1.15, j); };
    auto f = [](double x, double y) { return 0.5 + 2.0 * x - y + 0.7 * x * y; };
    for (int j = 1; j <= nyf; ++j)
        for (int i = 0; i <= nxf; ++i) {
            xgs(i, j) = X(i);
            ygs(i, j) = Y(j);
            phis(i, j) = nan;
        }
    for (int j = 1; j <= nyc; ++j)
        for (int i = 0; i <= nxc; ++i) phi(i, j) = f(X(d * i), Y(d * (j - 1) + 1));
    CoarseToFine(nxf, nyf, d);
    for (int j = 1; j <= nyf; ++j)
        for (int i = 0; i <= nxf; ++i) EXPECT_NEAR(phis(i, j), f(X(i), Y(j)), 1e-13);

    EXPECT_THROW(CoarseToFine(nxf, nyf, 3), ParameterError);
    EXPECT_THROW(CoarseToFine(nxf, nyf, 0), ParameterError);
}

// Pressure forces on known loadings.  A uniform pressure on a closed
// section has no resultant and no moment.  A flat plate of unit chord at
// incidence alpha with a uniform load Cp_lower - Cp_upper = 1 has the
// normal force 1 at mid-chord: the drag sin(alpha) and the moment -1/4
// about the quarter chord (nose down).
TEST(PressureForces, ClosedSectionUniformPressureAndQuarterChordLoading) {
    const int NX = 120, k = 10, mid = NX / 2;
    const double pi = 3.141592653589793;
    // Ellipse of thickness 0.1 on the surface columns (cosine spacing).
    for (int i = k; i <= NX - k; ++i) {
        const double t = pi * (i - k) / (mid - k);  // 0 upper TE, pi LE, 2 pi lower TE
        xg(i, 1) = 0.5 * (1.0 + std::cos(t));
        yg(i, 1) = 0.05 * std::sin(t);
    }
    for (int i = 0; i <= NX - 1; ++i) cpf(i) = 0.7;
    const double alpha = 0.05, cu = std::cos(alpha), su = std::sin(alpha);
    double cm = 1.0, cdp = 1.0;
    PressureForces(k, NX, cu, su, 1.0, cm, cdp);
    EXPECT_NEAR(cm, 0.0, 1e-14);
    EXPECT_NEAR(cdp, 0.0, 1e-14);

    // Flat plate (y = 0), the load split evenly on the two surfaces.
    for (int i = k; i <= NX - k; ++i) yg(i, 1) = 0.0;
    for (int i = k; i <= NX - k - 1; ++i) cpf(i) = i < mid ? -0.5 : 0.5;
    PressureForces(k, NX, cu, su, 1.0, cm, cdp);
    EXPECT_NEAR(cdp, su, 1e-14);
    EXPECT_NEAR(cm, -0.25, 1e-14);
    // The moment about the quarter chord: nose up is positive, so a
    // loading moved aft gives a negative moment.
    for (int i = mid; i <= NX - k - 1; ++i) cpf(i) += 0.1 * (0.5 * (xg(i, 1) + xg(i + 1, 1)));
    double cm2, cdp2;
    PressureForces(k, NX, cu, su, 1.0, cm2, cdp2);
    // Extra lower-surface pressure 0.1 x: force 0.05 up, centre at 2/3.
    EXPECT_NEAR(cm2 - cm, -0.05 * (2.0 / 3.0 - 0.25), 1e-4);
    // The reference length divides all of it.
    double cm3, cdp3;
    PressureForces(k, NX, cu, su, 0.5, cm3, cdp3);
    EXPECT_NEAR(cm3, 2.0 * cm2, 1e-14);
    EXPECT_NEAR(cdp3, 2.0 * cdp2, 1e-14);
}
