// Arithmetic of the grid picture and the Cp plot.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "plotmath.h"

using namespace quarel::plot;

TEST(PlotMath, CpAxisTable) {
    struct {
        double cpMin, top, step;
    } rows[] = {
        {-0.2, -0.8, 0.1}, {-0.5, -1.0, 0.1}, {-0.74, -1.0, 0.1}, {-0.75, -1.5, 0.1},
        {-1.2, -2.0, 0.2}, {-1.5, -2.5, 0.2}, {-3.4, -4.0, 0.2},  {-3.9, -4.5, 0.5},
        {-4.0, -5.0, 0.5}, {-7.4, -8.0, 0.5}, {-7.5, -10.0, 1.0}, {-30.0, -10.0, 1.0},
        {0.3, -0.8, 0.1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.cpMin);
        const CpAxis a = cpAxisTop(r.cpMin);
        EXPECT_EQ(a.top, r.top);
        EXPECT_EQ(a.step, r.step);
        // The top always lies above (more negative than) the lowest Cp
        // while the table reaches.
        if (r.cpMin > -7.5) {
            EXPECT_LT(a.top, r.cpMin);
        }
    }
    EXPECT_DOUBLE_EQ(cpAxisBottom(1.02), 1.2);
    EXPECT_EQ(cpAxisBottom(0.8), 0.8);
    EXPECT_EQ(cpAxisBottom(0.61), 0.8);
    EXPECT_EQ(cpAxisBottom(0.6), 0.6);
    EXPECT_EQ(cpAxisBottom(0.4), 0.4);
    EXPECT_EQ(cpAxisBottom(-1.0), 0.4);
    // Beyond 1 the stagnation Cp of compressible flow stays on the plot.
    EXPECT_DOUBLE_EQ(cpAxisBottom(1.0), 1.0);
    EXPECT_DOUBLE_EQ(cpAxisBottom(1.16), 1.2);
    EXPECT_DOUBLE_EQ(cpAxisBottom(1.2), 1.2);
    EXPECT_DOUBLE_EQ(cpAxisBottom(1.21), 1.4);

    CpLayout l;
    ASSERT_TRUE(cpLayout(555, 400, 0.0, 1.0, -0.6, 1.0, l));
    EXPECT_EQ(l.top, -1.0);
    EXPECT_EQ(l.bottom, 1.0);
    EXPECT_EQ(l.hLines, 20);
    EXPECT_EQ(l.vLines, 10);
    EXPECT_DOUBLE_EQ(l.cpRef, -0.99);
    // The axis spans 98 % of the height, the chord 1/1.11 of the width
    // after an offset of a tenth of the chord.
    EXPECT_NEAR(l.scaleY * (l.bottom - l.top), 0.98 * 400, 1e-9);
    EXPECT_NEAR(l.scaleX * (1.0 + l.xOffset), 555 / 1.11 * 1.1, 1e-9);
    // A margin below the axis for the chord labels.
    ASSERT_TRUE(cpLayout(555, 400, 0.0, 1.0, -0.6, 1.0, l, 30));
    EXPECT_NEAR(l.scaleY * (l.bottom - l.top), 0.98 * 400 - 30, 1e-9);
    EXPECT_FALSE(cpLayout(555, 20, 0.0, 1.0, -0.6, 1.0, l, 30));
    EXPECT_FALSE(cpLayout(0, 400, 0.0, 1.0, -0.6, 1.0, l));
    EXPECT_FALSE(cpLayout(500, 0, 0.0, 1.0, -0.6, 1.0, l));
    EXPECT_FALSE(cpLayout(500, 400, 0.5, 0.5, -0.6, 1.0, l));
}

TEST(PlotMath, GridScaleKeepsEqualScalesInsideTheMargins) {
    double s = 0;
    // A wide canvas: the height decides and space is left on the right.
    ASSERT_TRUE(gridScale(1050, 125, 0.0, 10.0, -5.0, 5.0, s));
    EXPECT_DOUBLE_EQ(s, 10.0);
    EXPECT_EQ(gridScreenX(0.0, 0.0, s), kMarginLeft);
    EXPECT_LT(gridScreenX(10.0, 0.0, s), 1050 - kMarginRight);
    EXPECT_EQ(gridScreenY(-5.0, -5.0, s, 125), 125 - kMarginBottom);
    EXPECT_EQ(gridScreenY(5.0, -5.0, s, 125), kMarginTop);
    // A tall canvas: the width decides.
    ASSERT_TRUE(gridScale(150, 1000, 0.0, 10.0, -1.0, 1.0, s));
    EXPECT_DOUBLE_EQ(s, 10.0);
    // Nothing to draw: no room, or extents without size.
    EXPECT_FALSE(gridScale(0, 0, 0.0, 1.0, 0.0, 1.0, s));
    EXPECT_FALSE(gridScale(50, 500, 0.0, 1.0, 0.0, 1.0, s));
    EXPECT_FALSE(gridScale(500, 25, 0.0, 1.0, 0.0, 1.0, s));
    EXPECT_FALSE(gridScale(500, 500, 1.0, 1.0, 0.0, 1.0, s));
    EXPECT_FALSE(gridScale(500, 500, 0.0, 1.0, 2.0, 2.0, s));
    EXPECT_FALSE(gridScale(500, 500, 1e6, -1e6, 1e6, -1e6, s));  // seeds only
}

TEST(PlotMath, PanAndZoom) {
    double x0 = -1, x1 = 3, y0 = -2, y1 = 2;
    // Pan: the picture follows the pointer (drag right and down by 10 px
    // at 10 px per unit moves the window left and up by one unit).
    ASSERT_TRUE(panZoom(x0, x1, y0, y1, 100, 100, 110, 110, false, 10.0, 10.0));
    EXPECT_DOUBLE_EQ(x0, -2.0);
    EXPECT_DOUBLE_EQ(x1, 2.0);
    EXPECT_DOUBLE_EQ(y0, -1.0);
    EXPECT_DOUBLE_EQ(y1, 3.0);
    // Zoom about the centre: dragging upward by 100 px doubles the
    // extents, the centre stays.
    ASSERT_TRUE(panZoom(x0, x1, y0, y1, 100, 100, 100, 0, true, 10.0, 10.0));
    EXPECT_DOUBLE_EQ(x0, -4.0);
    EXPECT_DOUBLE_EQ(x1, 4.0);
    EXPECT_DOUBLE_EQ(y0, -3.0);
    EXPECT_DOUBLE_EQ(y1, 5.0);
    // Any downward drag zooms in, however long: the picture never turns
    // inside out and no drag is refused.
    for (int drag : {50, 190, 2000}) {
        const double w = x1 - x0;
        ASSERT_TRUE(panZoom(x0, x1, y0, y1, 100, 100, 100, 100 + drag, true, 10.0, 10.0));
        EXPECT_NEAR(x1 - x0, w * std::exp2(-drag / 100.0), 1e-12 * w);
        EXPECT_GT(x1, x0);
        EXPECT_NEAR(0.5 * (x0 + x1), 0.0, 1e-12);
        EXPECT_NEAR(0.5 * (y0 + y1), 1.0, 1e-12);
    }
    // Without a sound scale nothing moves.
    const double before = x0;
    EXPECT_FALSE(panZoom(x0, x1, y0, y1, 0, 0, 10, 10, false, 0.0, 10.0));
    EXPECT_EQ(x0, before);
}

// Ticks are multiples of a 1-2-5 step inside the range, no more than asked;
// a zoom box maps back to the data it was drawn over; equal scales give as
// many pixels per unit across as up; six kept curves at most.
TEST(PlotFrames, TicksZoomBoxEqualScalesAndKeptCurves) {
    using namespace quarel::plot;
    for (const auto& r : std::vector<std::pair<double, double>>{
             {-1.47, 1.2}, {0.0, 1.0}, {1.2, -2.0}, {0.2999, 0.8001}, {-0.0123, 0.0377}}) {
        double step = 0.0;
        const std::vector<double> t = niceTicks(r.first, r.second, 8, &step);
        ASSERT_GE(t.size(), 2u);
        EXPECT_LE(t.size(), 8u);
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                    std::fabs(mantissa - 5) < 1e-9)
            << step;
        for (std::size_t n = 0; n < t.size(); ++n) {
            EXPECT_GE(t[n], std::min(r.first, r.second) - 1e-12);
            EXPECT_LE(t[n], std::max(r.first, r.second) + 1e-12);
            EXPECT_NEAR(t[n] / step, std::round(t[n] / step), 1e-9);
            if (n > 0) {
                EXPECT_NEAR(t[n] - t[n - 1], step, 1e-12);
            }
        }
    }
    EXPECT_TRUE(niceTicks(1.0, 1.0, 8).empty());

    Frame f;
    f.left = 50;
    f.right = 650;
    f.top = 20;
    f.bottom = 420;
    f.x0 = -0.05;
    f.x1 = 1.05;
    f.yTop = -1.5;
    f.yBottom = 1.0;
    const Frame all = f;
    EXPECT_FALSE(zoomToBox(f, 100, 100, 102, 300));  // too narrow: unchanged
    EXPECT_EQ(f.x0, all.x0);
    ASSERT_TRUE(zoomToBox(f, static_cast<int>(all.px(0.6)), static_cast<int>(all.py(0.2)),
                          static_cast<int>(all.px(0.2)), static_cast<int>(all.py(-0.6))));
    EXPECT_NEAR(f.x0, 0.2, 2e-3);
    EXPECT_NEAR(f.x1, 0.6, 2e-3);
    EXPECT_NEAR(f.yTop, -0.6, 7e-3);  // negative Cp stays up
    EXPECT_NEAR(f.yBottom, 0.2, 7e-3);

    Frame e = all;
    equalScales(e);
    EXPECT_NEAR((e.right - e.left) / std::fabs(e.x1 - e.x0),
                (e.bottom - e.top) / std::fabs(e.yBottom - e.yTop), 1e-9);
    EXPECT_LE(e.x0, all.x0);
    EXPECT_LE(e.yTop, all.yTop);

    KeptCurves kept;
    for (int n = 0; n < KeptCurves::kMax; ++n) EXPECT_TRUE(kept.add(KeptCurve{}));
    EXPECT_TRUE(kept.full());
    EXPECT_FALSE(kept.add(KeptCurve{}));
    kept.clear();
    EXPECT_TRUE(kept.curves().empty());
}
