// Discrete full-potential operator: density law, face densities, node rows
// and far-field values.  The Jacobian rows are checked against central
// finite differences of the residual wherever the row is the exact
// derivative, so a wrong slot or sign cannot pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <utility>

#include "metrics.h"
#include "operator.h"
#include "state.h"

using namespace quarel;

namespace {

const double kGamma = 1.4;

using GridFn = std::function<void(int, int, double&, double&)>;

// Fills xg, yg and the metrics.
void makeGrid(int NX, int NY, const GridFn& f) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) f(i, j, xg(i, j), yg(i, j));
    GridMetric(NY, NX);
}

// Left-handed like the C-grid: i runs along x, j runs towards -y.
void affineGrid(int i, int j, double& x, double& y) {
    x = 0.1 * i + 0.04 * j;
    y = 0.02 * i - 0.12 * j;
}
void distortedGrid(int i, int j, double& x, double& y) {
    affineGrid(i, j, x, y);
    x += 0.012 * std::sin(0.7 * i + 0.3 * j);
    y += 0.015 * std::cos(0.5 * i - 0.4 * j);
}
// Orthogonal polar grid: the metric cross terms vanish.
void polarGrid(int i, int j, double& x, double& y) {
    const double r = 1.0 + 0.25 * (j - 1), t = 3.1415926535897931 * (0.9 - 0.07 * i);
    x = r * std::cos(t);
    y = r * std::sin(t);
}

// Far-field doublet factors off: these tests set the vortex factors by
// hand and check the vortex term alone.
void noDoublet() {
    std::fill(fdo.data(), fdo.data() + fdo.size(), 0.0);
    std::fill(fd0.data(), fd0.data() + fd0.size(), 0.0);
    std::fill(fdn.data(), fdn.data() + fdn.size(), 0.0);
    std::fill(fto.data(), fto.data() + fto.size(), 0.0);
    std::fill(ft0.data(), ft0.data() + ft0.size(), 0.0);
    std::fill(ftn.data(), ftn.data() + ftn.size(), 0.0);
}

// State of an analysis start: unit densities and the incompressible
// coefficients, no bias, no transpiration.
void initFlow(int NX, int NY) {
    InitialiseFlowArrays(NY, NX);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i) rsi(i, j) = 1.0, shk(i, j) = 0.0;
    for (int i = 0; i < kContourSize; ++i) vfx(i) = ptc(i) = 0.0;
}

void setPhi(int NX, int NY, const std::function<double(double, double)>& f) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = f(xg(i, j), yg(i, j));
}

void refreshDensities(int NX, int NY, int k, double mach, double s2) {
    const double circ = Circulation(NX, k);
    for (int i = 1; i <= NX - 1; ++i) JFaceDensities(i, NY, mach, kGamma, s2);
    for (int j = 1; j <= NY - 1; ++j) IFaceDensities(j, k, NX, circ, mach, kGamma, s2);
}

// A row written as coefficients of the potentials of the stencil
// (di = -2..2, dj = -1..1), index [di + 2][dj + 1].
struct Stencil {
    double c[5][3] = {};
    double& at(int di, int dj) { return c[di + 2][dj + 1]; }
};

Stencil expand(const Row& r) {
    Stencil s;
    s.at(0, 0) += r.slot[1];
    s.at(-1, 0) += r.slot[2];
    s.at(1, 0) += r.slot[3];
    s.at(0, 1) += r.slot[4];
    s.at(0, -1) += r.slot[5];
    s.at(-1, 0) += r.slot[7];  // phi(i-1) - phi(i-2)
    s.at(-2, 0) -= r.slot[7];
    s.at(2, 0) += r.slot[8];  // phi(i+2) - phi(i+1)
    s.at(1, 0) -= r.slot[8];
    s.at(-1, 1) += r.slot[11];
    s.at(1, 1) += r.slot[12];
    s.at(-1, -1) += r.slot[13];
    s.at(1, -1) += r.slot[14];
    return s;
}

// -dR/dphi(i+di, j+dj) by central differences; refresh recomputes the
// densities when the flow is compressible.
double minusDerivative(int i, int j, int di, int dj, const std::function<double()>& residual,
                       double delta) {
    double& p = phi(i + di, j + dj);
    const double p0 = p;
    p = p0 + delta;
    const double rp = residual();
    p = p0 - delta;
    const double rm = residual();
    p = p0;
    return -(rp - rm) / (2.0 * delta);
}

double randomish(int i, int j) {
    return std::sin(1.3 * i + 0.7 * j * j) + 0.3 * std::cos(2.1 * j);
}

// Far boundary of a test C-grid on a circle of radius R, from the angle t0
// above the cut round to t0 below it (line NY), and the downstream ends
// i = 0 and NX of lines 2 .. NY-1 on the vertical through the circle's
// ends.  Writes xg, yg there.
void CircularFarBoundary(int NX, int NY, double R, double t0) {
    const double kTwoPi = 6.283185307179586;
    for (int i = 0; i <= NX; ++i) {
        const double t = t0 + (kTwoPi - 2.0 * t0) * i / NX;
        xg(i, NY) = R * std::cos(t);
        yg(i, NY) = R * std::sin(t);
    }
    for (int j = 2; j <= NY - 1; ++j) {
        const double h = R * std::sin(t0) * (j - 1) / (NY - 1);
        xg(0, j) = xg(NX, j) = R * std::cos(t0);
        yg(0, j) = h;
        yg(NX, j) = -h;
    }
}

}  // namespace

TEST(DensityLaw, SonicSpeedMachThreeLimitAndExponentialContinuation) {
    const double M = 0.8, s2 = 0.12;
    const FlowConstants c = MakeFlowConstants(M, kGamma, s2);
    EXPECT_DOUBLE_EQ(c.kappa, 0.2 * 0.64);
    // Free stream: speed 1 in the section plane plus the spanwise part.
    EXPECT_NEAR(c.density(1.0 - s2), 1.0, 1e-15);
    EXPECT_NEAR(c.a2(1.0 - s2), 1.0 / (M * M), 1e-15);
    // q* is the sonic speed in the section plane, q3 the total speed at
    // local Mach 3.
    EXPECT_NEAR(c.qstar * c.qstar / c.a2(c.qstar * c.qstar), 1.0, 1e-14);
    EXPECT_NEAR(c.rhostar, c.density(c.qstar * c.qstar), 0.0);
    EXPECT_NEAR(c.q3sq / c.a2(c.q3sq - s2), 9.0, 1e-12);

    // The exponential continuation meets the isentropic law with the same
    // value and slope, and stays positive and decreasing far beyond the
    // speed where the isentropic density would vanish.
    const double qL = c.q3sq - s2;  // section-plane speed squared at the limit
    const double iso = [&] { return std::pow(1.0 + c.kappa * (1.0 - c.q3sq), 2.5); }();
    EXPECT_NEAR(c.density(qL), iso, 1e-15);
    EXPECT_NEAR(c.density(qL + 1e-9), iso, 1e-9);
    const double h = 1e-6;
    const double slopeBelow = (c.density(qL) - c.density(qL - h)) / h;
    const double slopeAbove = (c.density(qL + h) - c.density(qL)) / h;
    EXPECT_NEAR(slopeAbove, slopeBelow, 1e-5 * std::fabs(slopeBelow));
    double prev = c.density(qL);
    for (double q2 = qL + 0.5; q2 < 60.0; q2 += 0.5) {
        const double rho = c.density(q2);
        EXPECT_GT(rho, 0.0) << q2;
        EXPECT_LT(rho, prev) << q2;
        prev = rho;
    }
    // Without spanwise flow and without compressibility.
    const FlowConstants c0 = MakeFlowConstants(0.0, kGamma, 0.0);
    EXPECT_EQ(c0.density(3.7), 1.0);
    EXPECT_TRUE(std::isfinite(c0.rho3));
}

// The isentropic law is evaluated as a power of a square root where the
// exponent allows it (gamma 1.4 as the input file holds it, in single
// precision, and exactly); it must agree with pow to rounding over the
// whole subsonic and supersonic range, and another gamma must take pow.
TEST(DensityLaw, SquareRootFormAgreesWithPow) {
    for (double gamma : {static_cast<double>(1.4f), 1.4, 1.3, 5.0 / 3.0}) {
        SCOPED_TRACE(gamma);
        const FlowConstants c = MakeFlowConstants(0.8, gamma, 0.1);
        EXPECT_EQ(c.halfPowers, gamma == 1.3 ? 0 : (gamma > 1.5 ? 3 : 5));
        double worst = 0.0;
        for (double q2 = 0.0; q2 + c.s2 < c.q3sq; q2 += 0.01) {
            const double exact = std::pow(1.0 + c.kappa * (1.0 - q2 - c.s2), 1.0 / (gamma - 1.0));
            worst = std::fmax(worst, std::fabs(c.density(q2) / exact - 1.0));
        }
        EXPECT_LT(worst, 1.0e-15);
    }
}

TEST(DensityLaw, EntropyJumpOfNormalShock) {
    const double e = 1.0 / (kGamma - 1.0);
    EXPECT_NEAR(EntropyJump(1.0, e, kGamma), 0.0, 1e-15);
    // Entropy rises across a compression shock and falls across an
    // (impossible) expansion shock; the rise is of third order in the
    // shock strength: F ~ 2 gamma/(3 (gamma+1)^2) (m2-1)^3.
    double prev = 0.0;
    for (double m2 = 1.05; m2 < 6.0; m2 += 0.05) {
        const double F = EntropyJump(m2, e, kGamma);
        EXPECT_GT(F, prev) << m2;
        prev = F;
    }
    EXPECT_LT(EntropyJump(0.9, e, kGamma), 0.0);
    const double lead = 2.0 * kGamma / (3.0 * (kGamma + 1.0) * (kGamma + 1.0));
    for (double eps : {1e-2, 3e-3}) {
        EXPECT_NEAR(EntropyJump(1.0 + eps, e, kGamma) / (eps * eps * eps), lead, 2.0 * eps * lead);
    }
    // A normal shock at upstream Mach 2: p2/p1 = 4.5, rho2/rho1 = 8/3.
    EXPECT_NEAR(EntropyJump(4.0, e, kGamma), std::pow(4.5, 2.5) * std::pow(3.0 / 8.0, 3.5) - 1.0,
                1e-14);
}

TEST(InteriorRow, UniformFlowHasZeroResidual) {
    const int NX = 14, NY = 8, k = 0;
    makeGrid(NX, NY, affineGrid);
    const double cu = 0.93, su = 0.21;
    for (double M : {0.0, 0.6}) {
        for (double s2 : {0.0, 0.1}) {
            initFlow(NX, NY);
            setPhi(NX, NY, [&](double x, double y) { return cu * x + su * y; });
            if (M > 0.0) refreshDensities(NX, NY, k, M, s2);
            for (int j = 2; j <= NY - 1; ++j) {
                for (int i = 1; i <= NX - 1; ++i) {
                    Row r;
                    InteriorRow(NX, NY, i, j, r);
                    EXPECT_NEAR(r.res, 0.0, 1e-12) << M << " " << i << "," << j;
                }
            }
        }
    }
}

TEST(InteriorRow, IncompressibleRowIsConservativeLaplacian) {
    // Stretched Cartesian cells hx x hy: the row is hx*hy times the
    // five-point Laplacian.
    const int NX = 10, NY = 7;
    const double hx = 0.2, hy = 0.05;
    makeGrid(NX, NY, [&](int i, int j, double& x, double& y) {
        x = hx * i;
        y = -hy * j;
    });
    initFlow(NX, NY);
    setPhi(NX, NY, [](double x, double y) { return x * x + 2.0 * y * y + 0.3 * x * y; });
    for (int j = 2; j <= NY - 1; ++j) {
        for (int i = 1; i <= NX - 1; ++i) {
            Row r;
            InteriorRow(NX, NY, i, j, r);
            const double lap5 = (phi(i + 1, j) - 2 * phi(i, j) + phi(i - 1, j)) / (hx * hx) +
                                (phi(i, j + 1) - 2 * phi(i, j) + phi(i, j - 1)) / (hy * hy);
            // The grid is left-handed like the C-grid: J = -1/(hx hy).
            EXPECT_NEAR(r.res, lap5 / aji(i, j), 1e-12);
            EXPECT_NEAR(lap5, 6.0, 1e-9);  // exact for a quadratic
            EXPECT_NEAR(r.slot[1], -(2 * hy / hx + 2 * hx / hy), 1e-12);
            EXPECT_NEAR(r.slot[11], 0.0, 1e-12);
        }
    }
    // A sheared grid (nine-point stencil with cross terms): for a quadratic
    // potential the fluxes are exact, so R = cell area * Laplacian = lap/J.
    makeGrid(NX, NY, affineGrid);
    initFlow(NX, NY);
    const double J = aji(3, 3);
    const double quad[2][3] = {{1.0, -1.0, 0.7}, {1.0, 2.0, -0.4}};
    for (const auto& abc : quad) {
        const double a = abc[0], b = abc[1], c = abc[2];
        setPhi(NX, NY, [&](double x, double y) { return a * x * x + b * y * y + c * x * y + x; });
        for (int j = 2; j <= NY - 1; ++j) {
            for (int i = 1; i <= NX - 1; ++i) {
                Row r;
                InteriorRow(NX, NY, i, j, r);
                EXPECT_NEAR(r.res, 2.0 * (a + b) / J, 1e-11) << i << "," << j;
            }
        }
    }
}

TEST(InteriorRow, JacobianIsDerivativeOfResidual) {
    const int NX = 12, NY = 8, k = 0;
    Row r;

    // Incompressible on a sheared grid: the row is the exact derivative,
    // cross terms included.
    makeGrid(NX, NY, affineGrid);
    initFlow(NX, NY);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = randomish(i, j);
    const int i0 = 5, j0 = 4;
    auto res = [&] {
        Row t;
        InteriorRow(NX, NY, i0, j0, t);
        return t.res;
    };
    InteriorRow(NX, NY, i0, j0, r);
    Stencil s = expand(r);
    double sum = 0.0;
    for (int di = -2; di <= 2; ++di)
        for (int dj = -1; dj <= 1; ++dj) {
            EXPECT_NEAR(s.at(di, dj), minusDerivative(i0, j0, di, dj, res, 0.5), 1e-11)
                << "affine " << di << "," << dj;
            sum += s.at(di, dj);
        }
    EXPECT_NEAR(sum, 0.0, 1e-11);  // a constant potential has no flux
    EXPECT_EQ(r.slot[0], 0.0);
    EXPECT_EQ(r.slot[6], 0.0);
    EXPECT_EQ(r.slot[9], 0.0);
    EXPECT_EQ(r.slot[10], 0.0);

    // Incompressible on a curved grid: diagonal and corners are exact; the
    // edge neighbours leave out the cross terms of the facing faces.
    makeGrid(NX, NY, distortedGrid);
    initFlow(NX, NY);
    InteriorRow(NX, NY, i0, j0, r);
    s = expand(r);
    for (auto [di, dj] :
         std::initializer_list<std::pair<int, int>>{{0, 0}, {-1, 1}, {1, 1}, {-1, -1}, {1, -1}})
        EXPECT_NEAR(s.at(di, dj), minusDerivative(i0, j0, di, dj, res, 0.5), 1e-11)
            << "curved " << di << "," << dj;
    const double cE = g12i(i0, j0) / aji(i0, j0) / 4, cW = g12i(i0 - 1, j0) / aji(i0 - 1, j0) / 4;
    const double cN = g12j(i0, j0) / ajj(i0, j0) / 4, cS = g12j(i0, j0 - 1) / ajj(i0, j0 - 1) / 4;
    EXPECT_NEAR(s.at(0, 1) - (cE - cW), minusDerivative(i0, j0, 0, 1, res, 0.5), 1e-11);
    EXPECT_NEAR(s.at(0, -1) + (cE - cW), minusDerivative(i0, j0, 0, -1, res, 0.5), 1e-11);
    EXPECT_NEAR(s.at(1, 0) - (cN - cS), minusDerivative(i0, j0, 1, 0, res, 0.5), 1e-11);
    EXPECT_NEAR(s.at(-1, 0) + (cN - cS), minusDerivative(i0, j0, -1, 0, res, 0.5), 1e-11);

    // Subsonic compressible flow on the curved grid: no bias anywhere, and
    // the linearised diagonal is the exact derivative.
    const double M = 0.6, s2 = 0.05;
    setPhi(NX, NY, [](double x, double y) { return 0.95 * x + 0.2 * y + 0.05 * x * y; });
    auto resM = [&] {
        refreshDensities(NX, NY, k, M, s2);
        return res();
    };
    refreshDensities(NX, NY, k, M, s2);
    for (int j = 2; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i) {
            EXPECT_EQ(rhoi(i, j), rsi(i, j));
            EXPECT_EQ(dsi(i, j), 0.0);
            EXPECT_EQ(dri(i, j), 0.0);
            EXPECT_EQ(shk(i, j), 0.0);
        }
    InteriorRow(NX, NY, i0, j0, r);
    EXPECT_NEAR(r.slot[1], minusDerivative(i0, j0, 0, 0, resM, 1e-6), 1e-9 * std::fabs(r.slot[1]));
}

TEST(InteriorRow, SupersonicUpwindTermsAreDerivativeOfResidual) {
    // Flow along the grid lines of a rectilinear grid stretched in x,
    // supersonic on the whole stencil: the upwind-biased row (slots 7 and
    // 8 included) is the exact derivative, in either flow direction.
    const int NX = 16, NY = 5, k = 0;
    const double h = 0.1, M = 0.8, s2 = 0.0;
    makeGrid(NX, NY, [&](int i, int j, double& x, double& y) {
        x = h * i + 0.006 * i * i;
        y = -h * j;
    });
    const FlowConstants c = MakeFlowConstants(M, kGamma, s2);
    for (double dir : {1.0, -1.0}) {
        initFlow(NX, NY);
        setPhi(NX, NY, [&](double x, double) { return dir * (1.45 * x + 0.05 * x * x); });
        refreshDensities(NX, NY, k, M, s2);
        for (int f = 0; f <= NX - 1; ++f) {
            const double q = std::fabs(phi(f + 1, 2) - phi(f, 2)) / (xg(f + 1, 2) - xg(f, 2));
            ASSERT_GT(q, c.qstar);
        }
        for (int i0 : {5, 8, 10}) {
            const int j0 = 2;
            auto res = [&] {
                refreshDensities(NX, NY, k, M, s2);
                Row t;
                InteriorRow(NX, NY, i0, j0, t);
                return t.res;
            };
            refreshDensities(NX, NY, k, M, s2);
            Row r;
            InteriorRow(NX, NY, i0, j0, r);
            // Upstream terms sit on the side the flow comes from.
            if (dir > 0) {
                EXPECT_NE(r.slot[7], 0.0);
                EXPECT_EQ(r.slot[8], 0.0);
            } else {
                EXPECT_EQ(r.slot[7], 0.0);
                EXPECT_NE(r.slot[8], 0.0);
            }
            Stencil s = expand(r);
            for (int di = -2; di <= 2; ++di)
                for (int dj = -1; dj <= 1; ++dj)
                    EXPECT_NEAR(s.at(di, dj), minusDerivative(i0, j0, di, dj, res, 1e-6), 1e-7)
                        << dir << " " << i0 << " " << di << "," << dj;
        }
    }
}

TEST(InteriorRow, BoundaryNeighboursMoveIntoCirculationSlot) {
    // The far-field values depend on the circulation; slot 0 must be
    // dR/dGamma through them, and the boundary slots must be cleared.
    const int NX = 10, NY = 6, k = 2;
    makeGrid(NX, NY, affineGrid);
    initFlow(NX, NY);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = randomish(i, j);
    for (int i = 0; i <= NX; ++i) ffo(i) = 0.05 + 0.09 * i;
    for (int j = 1; j <= NY - 1; ++j) {
        ff0(j) = -0.02 * j;
        ffn(j) = 1.0 + 0.03 * j;
    }
    ff0(NY) = ffn(NY) = 0.0;
    noDoublet();
    const double cu = 0.9, su = 0.3;
    const double phiK = phi(k, 1);
    auto setCirc = [&](double circ) {
        phi(NX - k, 1) = phiK + circ;
        FarFieldValues(k, NX, NY, cu, su);
    };
    setCirc(0.4);
    EXPECT_NEAR(phi(0, NY), cu * xg(0, NY) + su * yg(0, NY) + 0.4 * ffo(0), 1e-15);

    for (auto [i0, j0] : std::initializer_list<std::pair<int, int>>{
             {1, 3}, {NX - 1, 3}, {4, NY - 1}, {1, NY - 1}, {NX - 1, NY - 1}}) {
        auto resOf = [&](double circ) {
            setCirc(circ);
            Row t;
            InteriorRow(NX, NY, i0, j0, t);
            return t.res;
        };
        setCirc(0.4);
        Row r;
        InteriorRow(NX, NY, i0, j0, r);
        const double dRdG = (resOf(0.9) - resOf(-0.1)) / 1.0;
        EXPECT_NEAR(r.slot[0], dRdG, 1e-12) << i0 << "," << j0;
        EXPECT_NE(r.slot[0], 0.0);
        if (i0 == 1) {
            EXPECT_TRUE(r.slot[2] == 0.0 && r.slot[11] == 0.0 && r.slot[13] == 0.0);
        }
        if (i0 == NX - 1) {
            EXPECT_TRUE(r.slot[3] == 0.0 && r.slot[12] == 0.0 && r.slot[14] == 0.0);
        }
        if (j0 == NY - 1) {
            EXPECT_TRUE(r.slot[4] == 0.0 && r.slot[11] == 0.0 && r.slot[12] == 0.0);
        }
        // The remaining slots still describe the unknown neighbours.
        setCirc(0.4);
        auto res = [&] { return resOf(0.4); };
        if (i0 == 1) {
            EXPECT_NEAR(r.slot[3], minusDerivative(i0, j0, 1, 0, res, 0.5), 1e-11);
        }
        if (j0 == NY - 1 && i0 == 4) {
            EXPECT_NEAR(r.slot[13], minusDerivative(i0, j0, -1, -1, res, 0.5), 1e-11);
        }
    }
}

TEST(FarFieldValues, FreeStreamPlusVortexOnTheBoundary) {
    const int NX = 8, NY = 5, k = 2;
    makeGrid(NX, NY, polarGrid);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = -7.0;
    for (int i = 0; i <= NX; ++i) ffo(i) = 0.1 * i;
    for (int j = 1; j <= NY; ++j) {
        ff0(j) = j < NY ? 0.01 * (j - 1) : 0.0;
        ffn(j) = j < NY ? 1.0 - 0.01 * (j - 1) : 0.0;
    }
    phi(k, 1) = 0.25;
    phi(NX - k, 1) = 0.75;  // circulation 0.5
    noDoublet();
    const double cu = 0.8, su = 0.6;
    FarFieldValues(k, NX, NY, cu, su);
    auto free = [&](int i, int j) { return cu * xg(i, j) + su * yg(i, j); };
    for (int i = 0; i <= NX; ++i) EXPECT_DOUBLE_EQ(phi(i, NY), free(i, NY) + 0.05 * i);
    for (int j = 1; j <= NY - 1; ++j) {
        EXPECT_DOUBLE_EQ(phi(0, j), free(0, j) + 0.5 * 0.01 * (j - 1));
        EXPECT_DOUBLE_EQ(phi(NX, j), free(NX, j) + 0.5 * (1.0 - 0.01 * (j - 1)));
    }
    // The two ends of the cut differ by the circulation; the interior
    // stays untouched.
    EXPECT_NEAR(phi(NX, 1) - phi(0, 1), 0.5 + free(NX, 1) - free(0, 1), 1e-15);
    for (int j = 2; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) EXPECT_EQ(phi(i, j), -7.0);
    EXPECT_EQ(phi(1, 1), -7.0);
}

TEST(WakeRow, JacobianIsDerivativeOfResidualAcrossTheCut) {
    // Constant metrics with a cross term on every face: the cut cell is
    // then differentiated exactly, the circulation (slot 0) included.  In
    // a second pass the partner-side j-faces get other metrics: the row
    // stays exact except for the line-1 neighbours (slots 2, 3), whose
    // cross terms from the two north faces no longer cancel.
    const int NX = 14, NY = 5, k = 3;
    for (int variant : {0, 1}) {
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) {
                xg(i, j) = yg(i, j) = 0.0;
                aji(i, j) = ajj(i, j) = -2.0;
                g11i(i, j) = g11j(i, j) = 1.3;
                g22i(i, j) = g22j(i, j) = 0.9;
                g12i(i, j) = g12j(i, j) = 0.35;
            }
        if (variant == 1) {
            for (int i = NX - k; i <= NX - 1; ++i) {
                ajj(i, 1) = -1.7;
                g22j(i, 1) = 1.1;
                g12j(i, 1) = -0.6;
            }
        }
        initFlow(NX, NY);
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) phi(i, j) = randomish(i, j);
        ff0(2) = 0.03;
        ffn(2) = 0.96;
        ff0(1) = 0.0;
        ffn(1) = 1.0;
        ff0(NY) = ffn(NY) = 0.0;
        for (int i = 0; i <= NX; ++i) ffo(i) = i / double(NX);
        noDoublet();

        // Unknowns: the first-side cut nodes; the second side and the
        // boundary follow from them and the circulation.
        double upper[k + 1];
        for (int m = 0; m <= k; ++m) upper[m] = phi(m, 1);
        auto tie = [&](double circ) {
            for (int m = 1; m <= k; ++m) {
                phi(m, 1) = upper[m];
                phi(NX - m, 1) = upper[m] + circ;
            }
            FarFieldValues(k, NX, NY, 0.0, 0.0);
        };
        for (int i0 : {1, 2}) {
            const int p = NX - i0;
            double circ = 0.3;
            auto res = [&] {
                tie(circ);
                Row t;
                WakeRow(i0, NX, k, circ, t);
                return t.res;
            };
            // -dR/d(node) by central differences; first-side nodes of line 1
            // are perturbed through the tie.
            auto dUpper = [&](int m) {
                const double u0 = upper[m];
                upper[m] = u0 + 0.5;
                const double rp = res();
                upper[m] = u0 - 0.5;
                const double rm = res();
                upper[m] = u0;
                return -(rp - rm);
            };
            auto dNode = [&](int i, int j) {
                tie(circ);
                return minusDerivative(i, j, 0, 0, res, 0.5);
            };
            tie(circ);
            Row r;
            WakeRow(i0, NX, k, circ, r);
            EXPECT_NEAR(r.slot[1], dUpper(i0), 1e-12);
            if (variant == 0) {
                EXPECT_NEAR(r.slot[3], dUpper(i0 + 1), 1e-12);
                if (i0 > 1) {
                    EXPECT_NEAR(r.slot[2], dUpper(i0 - 1), 1e-12);
                }
            }
            EXPECT_NEAR(r.slot[4], dNode(i0, 2), 1e-12);
            EXPECT_NEAR(r.slot[5], dNode(p, 2), 1e-12);
            EXPECT_NEAR(r.slot[12], dNode(i0 + 1, 2), 1e-12);
            EXPECT_NEAR(r.slot[14], dNode(p - 1, 2), 1e-12);
            if (i0 > 1) {
                EXPECT_NEAR(r.slot[11], dNode(i0 - 1, 2), 1e-12);
                EXPECT_NEAR(r.slot[13], dNode(p + 1, 2), 1e-12);
            } else {
                EXPECT_EQ(r.slot[2], 0.0);
                EXPECT_EQ(r.slot[11], 0.0);
                EXPECT_EQ(r.slot[13], 0.0);
            }
            // Slot 0 holds +dR/dGamma.
            circ = 0.8;
            const double rp = res();
            circ = -0.2;
            const double rm = res();
            circ = 0.3;
            EXPECT_NEAR(r.slot[0], rp - rm, 1e-12) << i0;
            // Nodes that are not in the row.
            EXPECT_NEAR(dNode(i0, 3), 0.0, 1e-12);
            EXPECT_NEAR(dNode(p, 3), 0.0, 1e-12);
        }
    }
}

TEST(BodyRow, WallRowIsDerivativeAndDesignRowPrescribesIncrement) {
    const int NX = 12, NY = 5, k = 2, mid = NX / 2;
    Row r;
    // Orthogonal grid: the incompressible wall row is exact.
    makeGrid(NX, NY, polarGrid);
    initFlow(NX, NY);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = randomish(i, j);
    for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.01 * (i + 1);
    // Frozen densities that differ from face to face.
    for (int i = 0; i <= NX - 1; ++i) {
        rhoi(i, 1) = 1.0 - 0.03 * i;
        cfi(i, 1) = rhoi(i, 1) * g11i(i, 1) / aji(i, 1);
        rhoj(i, 1) = 0.9 + 0.02 * i;
        if (i >= 1) cfj(i, 1) = rhoj(i, 1) * g22j(i, 1) / ajj(i, 1);
    }
    for (int i0 : {3, mid, NX - 3}) {
        auto res = [&] {
            Row t;
            BodyRow(i0, NX, k, 0, 0, 0, t);
            return t.res;
        };
        BodyRow(i0, NX, k, 0, 0, 0, r);
        Stencil s = expand(r);
        for (int di = -2; di <= 2; ++di)
            for (int dj = 0; dj <= 1; ++dj)
                EXPECT_NEAR(s.at(di, dj), minusDerivative(i0, 1, di, dj, res, 0.5), 1e-11)
                    << i0 << " " << di << "," << dj;
        for (int n : {0, 5, 6, 9, 10, 13, 14}) EXPECT_EQ(r.slot[n], 0.0);
        // The wall carries the mass flux rho V/J of the transpiration on
        // the two adjacent half faces, with the same slots as the face
        // densities (face f: vfx(f) on the first half, vfx(f+1) on the
        // second).
        auto slotOf = [&](int f) { return f < mid ? f : f + 1; };
        for (int m = 0; m <= NX; ++m) {
            const double v0 = vfx(m);
            vfx(m) = v0 + 1.0;
            const double dR = res();
            vfx(m) = v0;
            double expect = 0.0;
            for (int f : {i0 - 1, i0})
                if (m == slotOf(f)) expect -= 0.5 * rhoi(f, 1) / aji(f, 1);
            EXPECT_NEAR(dR - res(), expect, 1e-12) << i0 << " vfx " << m;
        }
    }
    // A sheared wall: the north flux and its cross slots stay exact.
    makeGrid(NX, NY, distortedGrid);
    initFlow(NX, NY);
    {
        const int i0 = 4;
        auto res = [&] {
            Row t;
            BodyRow(i0, NX, k, 0, 0, 0, t);
            return t.res;
        };
        BodyRow(i0, NX, k, 0, 0, 0, r);
        EXPECT_NEAR(r.slot[4], minusDerivative(i0, 1, 0, 1, res, 0.5), 1e-11);
        EXPECT_NEAR(r.slot[11], minusDerivative(i0, 1, -1, 1, res, 0.5), 1e-11);
        EXPECT_NEAR(r.slot[12], minusDerivative(i0, 1, 1, 1, res, 0.5), 1e-11);
    }

    // Design rows on k..L and NX-L..NX-k.
    const int L = 4;
    for (int i = 0; i <= NX; ++i) ptc(i) = 0.1 * i;
    BodyRow(3, NX, k, 1, 0, L, r);
    EXPECT_DOUBLE_EQ(r.res, phi(4, 1) - phi(3, 1) - ptc(3));
    EXPECT_EQ(r.slot[1], 1.0);
    EXPECT_EQ(r.slot[3], -1.0);
    EXPECT_EQ(r.slot[2], 0.0);
    BodyRow(NX - 3, NX, k, 1, 0, L, r);
    EXPECT_DOUBLE_EQ(r.res, phi(NX - 4, 1) - phi(NX - 3, 1) - ptc(NX - 3));
    EXPECT_EQ(r.slot[2], -1.0);
    EXPECT_EQ(r.slot[3], 0.0);
    Row wall;
    for (auto [i0, firstOnly] :
         std::initializer_list<std::pair<int, int>>{{NX - 3, 1}, {L + 1, 0}}) {
        BodyRow(i0, NX, k, 1, firstOnly, L, r);
        BodyRow(i0, NX, k, 0, 0, L, wall);
        EXPECT_EQ(r.res, wall.res) << i0;
        EXPECT_EQ(r.slot[4], wall.slot[4]);
    }
}

TEST(IFaceDensities, SubsonicNoBiasCutPartnersAndWallTangency) {
    // A C-grid about a flat plate (conformal map z = zeta^2, left-handed
    // like the program's grids): line 1 is the plate and the wake cut.
    const int NX = 20, NY = 6, k = 4;
    const double h = 1.0 / (NX / 2 - k);
    makeGrid(NX, NY, [&](int i, int j, double& x, double& y) {
        const double a = (NX / 2 - i) * h, b = (j - 1) * h;
        x = a * a - b * b;
        y = 2 * a * b;
    });
    const double M = 0.6, s2 = 0.0;
    initFlow(NX, NY);
    // A subsonic field with normal velocity at the wall, which the wall
    // condition must ignore, and a circulation across the cut.
    setPhi(NX, NY, [](double x, double y) { return x + 0.3 * y; });
    for (int m = 0; m <= k - 1; ++m) phi(NX - m, 1) += 0.02;
    refreshDensities(NX, NY, k, M, s2);
    const FlowConstants c = MakeFlowConstants(M, kGamma, s2);
    for (int j = 1; j <= NY - 1; ++j)
        for (int f = 0; f <= NX - 1; ++f) {
            EXPECT_EQ(rhoi(f, j), rsi(f, j));
            EXPECT_EQ(dsi(f, j) + dri(f, j) + shk(f, j), 0.0);
        }
    for (int f = k; f <= NX - k - 1; ++f) EXPECT_NEAR(rsi(f, 1), c.density(1.0), 1e-14) << f;
    for (int f = 0; f <= k - 1; ++f) {
        EXPECT_EQ(rsi(NX - 1 - f, 1), rsi(f, 1));
        EXPECT_EQ(cfi(NX - 1 - f, 1), cfi(f, 1));
    }
    EXPECT_LT(rsi(k + 1, 3), c.density(1.0));  // off the wall the normal part counts

    // Supersonic flow along the plate, symmetric about it (transpiration
    // too: face f of the first half uses vfx(f), its mirror face NX-1-f
    // uses vfx(NX-f)).  The second side of line 1, lower surface and
    // partner faces of the cut, must mirror the first, with the upwind
    // derivative on the other side of each face.
    const int mid = NX / 2;
    for (int i = 0; i <= NX + 1; ++i) vfx(i) = 0.0;
    for (int f = k; f < mid; ++f) vfx(f) = vfx(NX - f) = 0.05 * std::sin(1.7 * f);
    vfx(mid) = 0.5;  // not used by any face
    setPhi(NX, NY, [](double x, double) { return 1.5 * x + 0.05 * x * x; });
    refreshDensities(NX, NY, k, 0.8, s2);
    for (int f = 0; f <= NX - 1; ++f) {
        const int g = NX - 1 - f;
        EXPECT_NEAR(rsi(g, 1), rsi(f, 1), 1e-12) << f;
        EXPECT_NEAR(rhoi(g, 1), rhoi(f, 1), 1e-12) << f;
        EXPECT_NEAR(dri(g, 1), dsi(f, 1), 1e-12) << f;
        EXPECT_NEAR(dsi(g, 1), dri(f, 1), 1e-12) << f;
        EXPECT_NEAR(shk(g, 1), 0.0, 1e-12);
    }
    // Upper side: the flow runs towards lower i, so the upstream face is
    // f+1, and rho~ q is the upstream mass flux.
    for (int f = 2; f < mid; ++f) {
        EXPECT_NE(dsi(f, 1), 0.0) << f;
        EXPECT_EQ(dri(f, 1), 0.0) << f;
    }
}

TEST(IFaceDensities, SupersonicBiasAndShockPointCorrection) {
    // One-dimensional flow along x: supersonic faces 0..s, subsonic after.
    const int NX = 20, NY = 4, k = 0, s = 9;
    const double h = 0.1, M = 0.8, s2 = 0.0;
    makeGrid(NX, NY, [&](int i, int j, double& x, double& y) {
        x = h * i;
        y = -h * j;
    });
    const FlowConstants c = MakeFlowConstants(M, kGamma, s2);
    double speed[NX];
    for (int f = 0; f < NX; ++f) speed[f] = f <= s ? 1.40 + 0.01 * f : 0.80 + 0.005 * f;
    auto build = [&](bool reversed) {
        initFlow(NX, NY);
        for (int j = 1; j <= NY; ++j) {
            double p = 0.0;
            for (int i = 0; i <= NX; ++i) {
                const int n = reversed ? NX - i : i;
                phi(n, j) = p;
                if (i < NX) p += speed[i] * h;
            }
        }
        refreshDensities(NX, NY, k, M, s2);
    };
    const int j = 2;
    build(false);
    double rho[NX], ds[NX], dr[NX], sh[NX + 1];
    for (int f = 0; f < NX; ++f) {
        rho[f] = rhoi(f, j);
        ds[f] = dsi(f, j);
        dr[f] = dri(f, j);
        sh[f] = shk(f, j);
    }
    // The flow comes from lower i: a supersonic face carries the mass flux
    // of the face upstream of it.
    for (int f = 3; f <= s; ++f) {
        EXPECT_NEAR(rhoi(f, j) * speed[f], rsi(f - 1, j) * speed[f - 1], 1e-13) << f;
        EXPECT_EQ(dsi(f, j), 0.0);
        EXPECT_NE(dri(f, j), 0.0);
    }
    // Behind the shock the density falls below the isentropic one; further
    // downstream the flow is isentropic again.
    EXPECT_LT(rhoi(s + 1, j), rsi(s + 1, j));
    for (int f = s + 2; f <= NX - 3; ++f) {
        EXPECT_EQ(rhoi(f, j), rsi(f, j));
        EXPECT_EQ(dri(f, j), 0.0);
    }
    // The entropy correction is confined to the shock and positive at the
    // first subsonic face: minus the entropy-jump flux of the face ahead.
    for (int f = 2; f <= NX - 3; ++f)
        if (f < s - 1 || f > s + 1) {
            EXPECT_EQ(shk(f, j), 0.0) << f;
        }
    const double U = speed[s] / h, m2 = speed[s] * speed[s] / c.a2(speed[s] * speed[s]);
    EXPECT_GT(m2, 1.0);
    EXPECT_NEAR(shk(s + 1, j), -EntropyJump(m2, 2.5, kGamma) * rsi(s, j) * U / aji(s, j), 1e-12);
    EXPECT_GT(shk(s + 1, j), 0.0);

    // The mirrored flow gives the mirrored result: face f <-> NX-1-f, the
    // upstream derivatives swap sides, the node-centred correction moves
    // to NX-f.
    build(true);
    for (int f = 2; f <= NX - 3; ++f) {
        const int g = NX - 1 - f;
        EXPECT_NEAR(rhoi(g, j), rho[f], 1e-14) << f;
        EXPECT_NEAR(dsi(g, j), dr[f], 1e-12) << f;
        EXPECT_NEAR(dri(g, j), ds[f], 1e-12) << f;
        if (f >= 3) {
            EXPECT_NEAR(shk(NX - f, j), sh[f], 1e-12) << f;
        }
    }
}

// The far field carries the thickness of the section: a symmetric
// biconvex section at zero incidence (no circulation) gives the far
// boundary the potential of its thickness sources sigma = U dt/dx, here
// summed panel by panel in the Prandtl-Glauert plane, to within the next
// multipole (some x/R of the doublet).
TEST(FarFieldValues, ThicknessDoubletIsTheFarFieldOfTheThicknessSources) {
    const double kTwoPi = 6.283185307179586;
    const int k = 10, npa = 400, NX = npa + 2 * k, NY = 12, mid = NX / 2;
    const double R = 30.0, tau = 0.06, cu = 1.0, su = 0.0;
    for (int i = k; i <= NX - k; ++i) {
        const double t = 3.141592653589793 * (i - k) / (mid - k);
        xg(i, 1) = 0.5 * (1.0 + std::cos(t));
        const double y = 2.0 * tau * xg(i, 1) * (1.0 - xg(i, 1));
        yg(i, 1) = i <= mid ? y : -y;
    }
    const double t0 = 0.05;
    for (int m = 0; m < k; ++m) {
        xg(m, 1) = xg(NX - m, 1) = 1.0 + (R * std::cos(t0) - 1.0) * (k - m) / k;
        yg(m, 1) = yg(NX - m, 1) = 0.0;
    }
    CircularFarBoundary(NX, NY, R, t0);
    for (int i = k; i <= NX - k; ++i) phi(i, 1) = cu * xg(i, 1);

    for (double mach : {0.0, 0.6}) {
        const double beta = std::sqrt(1.0 - mach * mach);
        FarField(mach, NX, NY, 1.0);
        FarFieldValues(k, NX, NY, cu, su);
        // The sources of the upper panels (the thickness is twice the
        // upper ordinate).
        auto sources = [&](int i, int j) {
            double s = 0.0;
            for (int p = k; p < mid; ++p) {
                const double xi = 0.5 * (xg(p, 1) + xg(p + 1, 1));
                const double strength = cu * 2.0 * (yg(p, 1) - yg(p + 1, 1));
                const double dx = xg(i, j) - xi, dy = beta * yg(i, j);
                s += strength * 0.5 * std::log(dx * dx + dy * dy) / (kTwoPi * beta);
            }
            return s;
        };
        double worst = 0.0, largest = 0.0;
        auto check = [&](int i, int j) {
            const double thickness = phi(i, j) - cu * xg(i, j);
            largest = std::max(largest, std::fabs(sources(i, j)));
            worst = std::max(worst, std::fabs(thickness - sources(i, j)));
        };
        for (int i = 0; i <= NX; ++i) check(i, NY);
        for (int j = 1; j <= NY - 1; ++j) {
            check(0, j);
            check(NX, j);
        }
        // Area 2 tau / 3 = 0.04: the doublet reaches U A / (2 pi beta R) =
        // 2.1e-4 (M 0) and 2.7e-4 (M 0.6) on the boundary; the next
        // multipole (the sources' centre lies at mid-chord) is some 2 per
        // cent of it thirty chords out.
        EXPECT_GT(largest, 1.8e-4) << mach;
        EXPECT_LT(worst, 0.04 * largest) << mach;
    }
}

// A section whose circulation is all bound at one point x_c of the chord
// (the potential jumps by Gamma there) has the far field of a vortex at
// x_c.  The far-field values put their vortex at x = 0 and add the
// doublet of the first moment of the bound circulation: on a boundary R
// chords out they must match the vortex at x_c to O((x_c/R)^2), and be
// far from the vortex at x = 0, at M = 0 and in the Prandtl-Glauert plane
// at M = 0.6.
TEST(FarFieldValues, DoubletMovesTheVortexToTheCentreOfCirculation) {
    const double kTwoPi = 6.283185307179586;
    const int k = 10, npa = 400, NX = npa + 2 * k, NY = 12, mid = NX / 2;
    const double R = 8.0, xc = 0.6, circ = -0.3, cu = 0.99, su = 0.1;
    // Flat-plate section on y = 0 (chord 0..1), cut to x = 8, far boundary
    // on a circle of radius R from just above the cut round to just below.
    for (int i = k; i <= NX - k; ++i) {
        const double t = 3.141592653589793 * (i - k) / (mid - k);
        xg(i, 1) = 0.5 * (1.0 + std::cos(t));
        yg(i, 1) = 0.0;
    }
    for (int m = 0; m < k; ++m) {
        xg(m, 1) = xg(NX - m, 1) = 1.0 + 7.0 * (k - m) / k;
        yg(m, 1) = yg(NX - m, 1) = 0.0;
    }
    const double t0 = 0.05;
    CircularFarBoundary(NX, NY, R, t0);
    // Body potential: the free stream, and on the lower surface aft of
    // x_c the jump Gamma (lower minus upper is the circulation).
    for (int i = k; i <= NX - k; ++i)
        phi(i, 1) = cu * xg(i, 1) + su * yg(i, 1) + (i > mid && xg(i, 1) > xc ? circ : 0.0);

    for (double mach : {0.0, 0.6}) {
        const double beta = std::sqrt(1.0 - mach * mach);
        FarField(mach, NX, NY, 1.0);
        FarFieldValues(k, NX, NY, cu, su);
        // Angle about (x0, 0) in the Prandtl-Glauert plane, 0 .. 2 pi from
        // the upper side of the cut.
        auto angle = [&](int i, int j, double x0) {
            double a = std::atan2(beta * yg(i, j), xg(i, j) - x0);
            if (a < 0.0 || (i == NX && j == 1)) a += kTwoPi;
            return a / kTwoPi;
        };
        double worstAtXc = 0.0, worstAtZero = 0.0;
        auto check = [&](int i, int j) {
            const double free = cu * xg(i, j) + su * yg(i, j);
            worstAtXc = std::max(worstAtXc, std::fabs(phi(i, j) - free - circ * angle(i, j, xc)));
            worstAtZero =
                std::max(worstAtZero, std::fabs(phi(i, j) - free - circ * angle(i, j, 0.0)));
        };
        for (int i = 0; i <= NX; ++i) check(i, NY);
        for (int j = 1; j <= NY - 1; ++j) {
            check(0, j);
            check(NX, j);
        }
        // The vortex shift changes the boundary values by up to
        // |Gamma| x_c / (2 pi beta R) = 0.0036 (M 0) and 0.0045 (M 0.6); the
        // next term is smaller by x_c/R, and the step of the jump between
        // two body nodes adds |Gamma| dx/2 = 1e-5.
        EXPECT_GT(worstAtZero, 3.0e-3) << mach;
        EXPECT_LT(worstAtXc, 4.0e-4) << mach;
    }
}
