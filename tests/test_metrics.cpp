// Grid metrics and far-field angle factors.
#include <gtest/gtest.h>

#include <cmath>

#include "metrics.h"
#include "state.h"

using namespace quarel;

namespace {

void cartesian(int NX, int NY, double h, double x0, double y0) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            xg(i, j) = x0 + i * h;
            yg(i, j) = y0 + j * h;
        }
}

}  // namespace

TEST(GridMetric, UniformCartesianGrid) {
    const int NX = 12, NY = 7;
    const double h = 0.25;
    cartesian(NX, NY, h, -1.0, 0.0);
    GridMetric(NY, NX);
    const double inv = 1.0 / (h * h);
    for (int j = 1; j <= NY - 1; ++j) {
        for (int i = 0; i <= NX - 1; ++i) {
            EXPECT_NEAR(aji(i, j), inv, 1e-12) << i << "," << j;
            EXPECT_NEAR(g11i(i, j), inv, 1e-12);
            EXPECT_NEAR(g22i(i, j), inv, 1e-12);
            EXPECT_NEAR(g12i(i, j), 0.0, 1e-12);
        }
        for (int i = 1; i <= NX - 1; ++i) {
            EXPECT_NEAR(ajj(i, j), inv, 1e-12);
            EXPECT_NEAR(g11j(i, j), inv, 1e-12);
            EXPECT_NEAR(g22j(i, j), inv, 1e-12);
            EXPECT_NEAR(g12j(i, j), 0.0, 1e-12);
        }
    }
}

TEST(GridMetric, ShearedGridIsExactForAffineMaps) {
    // x = a i + b j, y = c i + d j: every difference is exact, so every face
    // carries the analytic values of the affine map.
    const int NX = 10, NY = 6;
    const double a = 0.3, b = 0.1, c = -0.05, d = 0.2;
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            xg(i, j) = a * i + b * j;
            yg(i, j) = c * i + d * j;
        }
    GridMetric(NY, NX);
    const double J = 1.0 / (a * d - c * b);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) {
            EXPECT_NEAR(aji(i, j), J, 1e-12);
            EXPECT_NEAR(ajj(i, j), J, 1e-12);
            EXPECT_NEAR(g11i(i, j), (b * b + d * d) * J * J, 1e-12);
            EXPECT_NEAR(g12j(i, j), -(a * b + c * d) * J * J, 1e-12);
            EXPECT_NEAR(g22j(i, j), (a * a + c * c) * J * J, 1e-12);
        }
}

TEST(FarField, AnglesAroundTheCut) {
    // A half-annulus-like C boundary: the far boundary runs from the upper
    // downstream corner counter-clockwise round to the lower one.
    const int NX = 40, NY = 5;
    const double R = 10.0;
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            const double r = R * (j - 1) / (NY - 1);
            const double th = 2.0 * M_PI * (i + 0.5) / (NX + 1);  // never on the axis
            xg(i, j) = 1.0 + r * std::cos(th);
            yg(i, j) = r * std::sin(th);
        }
    // Downstream columns below the far boundary: straight up from and
    // straight down to the cut.
    for (int j = 1; j <= NY - 1; ++j) {
        xg(0, j) = 5.0;
        yg(0, j) = (j - 1) * 1.0;
        xg(NX, j) = 5.0;
        yg(NX, j) = -(j - 1) * 1.0;
    }
    yg(0, 1) = yg(NX, 1) = 0.0;

    FarField(0.0, NX, NY, 1.0);
    EXPECT_DOUBLE_EQ(ff0(1), 0.0);
    EXPECT_DOUBLE_EQ(ffn(1), 1.0);
    EXPECT_DOUBLE_EQ(ff0(NY), 0.0);
    EXPECT_DOUBLE_EQ(ffn(NY), 0.0);
    // At M = 0 the factor is the plain polar angle / 2 pi, rising along the
    // boundary from just above 0 to just below 1.
    for (int i = 1; i <= NX - 1; ++i) {
        double th = std::atan2(yg(i, NY), xg(i, NY));
        if (th < 0) th += 2.0 * M_PI;
        EXPECT_NEAR(ffo(i), th / (2.0 * M_PI), 1e-6) << i;
        EXPECT_GT(ffo(i), ffo(i - 1));
    }
    EXPECT_GT(ffo(0), 0.0);
    EXPECT_LT(ffo(NX), 1.0);
    // Downstream columns: small angles above the cut, near a full turn below.
    for (int j = 2; j <= NY - 1; ++j) {
        EXPECT_NEAR(ff0(j), std::atan((j - 1) / 5.0) / (2.0 * M_PI), 1e-6);
        EXPECT_NEAR(ffn(j), 1.0 - std::atan((j - 1) / 5.0) / (2.0 * M_PI), 1e-6);
    }

    // Compressibility squeezes the angles towards the axis; the quadrant
    // points x = 0 stay at a quarter and three quarters of a turn.
    FarField(0.8, NX, NY, 1.0);
    const double beta = 0.6;
    for (int j = 2; j <= NY - 1; ++j)
        EXPECT_NEAR(ff0(j), std::atan(beta * (j - 1) / 5.0) / (2.0 * M_PI), 1e-6);
    xg(3, NY) = 0.0;
    yg(3, NY) = 4.0;
    xg(4, NY) = 0.0;
    yg(4, NY) = 0.0;  // the reference point itself: keeps the previous angle
    xg(5, NY) = 0.0;
    yg(5, NY) = -4.0;
    FarField(0.8, NX, NY, 1.0);
    EXPECT_NEAR(ffo(3), 0.25, 1e-7);
    EXPECT_EQ(ffo(4), ffo(3));
    EXPECT_NEAR(ffo(5), 0.75, 1e-7);
    // Sweep: M cos(sweep) is what matters.
    const double f = ff0(2);
    FarField(1.6, NX, NY, 0.5);
    EXPECT_DOUBLE_EQ(ff0(2), f);
}
