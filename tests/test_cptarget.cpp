// The Cp editor's arithmetic and the target files, without a display: the
// editor order and initial stretches, the plot scale and critical Cp,
// control points, Akima interpolation of a stretch, the pointer rules, the
// lift values, and reading and writing target tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "SRV11.h"
#include "solution_files.h"
#include "SRV21.h"
#include "cptarget.h"
#include "message.h"
#include "state.h"

using namespace quarel;

namespace {

const double kPi = 3.14159265358979323846;

// A closed section round the C-grid's body line: N faces between the upper
// trailing-edge node k and the lower one NX-k (cosine spacing, leading edge
// at node NX/2), wake nodes beyond both ends, and a smooth Cp with a
// suction peak on the upper surface.
struct Section {
    int NX = 0, k = 0, N = 0;
    std::vector<double> x, y, cpf;
};

Section makeSection(int N, int k) {
    Section s;
    s.N = N;
    s.k = k;
    s.NX = N + 2 * k;
    s.x.assign(s.NX + 1, 0.0);
    s.y.assign(s.NX + 1, 0.0);
    s.cpf.assign(s.NX + 1, 0.0);
    for (int i = 0; i <= s.NX; ++i) {
        if (i < k) {
            s.x[i] = 1.0 + 0.05 * (k - i);
        } else if (i > s.NX - k) {
            s.x[i] = 1.0 + 0.05 * (i - (s.NX - k));
        } else {
            const double t = double(i - k) / N;
            s.x[i] = 0.5 * (1.0 + std::cos(2.0 * kPi * t));
            s.y[i] = (t <= 0.5 ? 1.0 : -1.0) * 0.3 * std::sqrt(s.x[i]) * (1.0 - s.x[i]);
        }
    }
    for (int i = 0; i < s.NX; ++i) {
        const double xm = 0.5 * (s.x[i] + s.x[i + 1]);
        if (i < s.NX / 2) {
            s.cpf[i] = -0.9 * std::exp(-std::pow((xm - 0.3) / 0.2, 2)) + 0.2 * xm - 0.1;
        } else {
            s.cpf[i] = 0.3 - 0.5 * xm;
        }
    }
    return s;
}

CpEditor loaded(const Section& s) {
    CpEditor e;
    EXPECT_TRUE(e.load(s.NX, s.k, s.x.data(), s.y.data(), s.cpf.data()));
    return e;
}

// Collects every console line and warning while it lives.
struct ConsoleCapture {
    ConsoleCapture() {
        msg::setSink([this](msg::Kind, const std::string& l) { lines.push_back(l); });
    }
    ~ConsoleCapture() { msg::setSink(nullptr); }
    std::vector<std::string> lines;
};

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "cptarget_" + name;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The FileError message of reading `path`, or "" when it was accepted.
std::string refusal(const std::string& path) {
    try {
        readCpTable(path);
    } catch (const FileError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CpEditorScale, TableRowsStrictThresholdsAndGridLineCounts) {
    // One value inside every row: (cpMin, cpTop, cpSpan, nGridLines).
    const struct {
        double cpMin, top, span;
        int lines;
    } rows[] = {
        {-0.3, -0.6, 1.1, 11}, {-0.5, -0.8, 1.3, 13}, {-0.7, -1.0, 1.5, 15}, {-0.9, -1.2, 1.7, 17},
        {-1.1, -1.4, 1.9, 18}, {-1.3, -1.6, 2.1, 21}, {-1.5, -1.8, 2.3, 22}, {-1.7, -2.0, 2.5, 25},
        {-1.9, -2.2, 2.7, 27}, {-2.1, -2.4, 2.9, 28}, {-2.3, -2.6, 3.1, 31}, {-2.5, -2.8, 3.3, 32},
        {-2.7, -3.0, 3.5, 35}, {-2.9, -3.2, 3.7, 37}, {-3.1, -3.5, 4.0, 40}, {-3.4, -3.8, 4.3, 42},
        {-3.6, -5.0, 5.5, 55},
    };
    for (const auto& r : rows) {
        const CpScale s = cpScaleFor(r.cpMin);
        EXPECT_EQ(s.cpTop, r.top) << r.cpMin;
        EXPECT_EQ(s.cpSpan, r.span) << r.cpMin;
        EXPECT_EQ(s.nGridLines, r.lines) << r.cpMin;
        // The bottom of the plot is Cp = 0.5 on every scale.
        EXPECT_NEAR(s.cpTop + s.cpSpan, 0.5, 1e-12) << r.cpMin;
    }
    // cpMin = -1.3: lines j = 0..21, the last one at the bottom; cpMin =
    // -1.1: j = 0..18, the last one a step short of it.
    EXPECT_NEAR(cpScaleFor(-1.3).cpTop + 0.1 * 21, 0.5, 1e-12);
    EXPECT_NEAR(cpScaleFor(-1.1).cpTop + 0.1 * 18, 0.4, 1e-12);
    // A value on a threshold falls to the next row.
    EXPECT_EQ(cpScaleFor(-0.4).cpTop, -0.8);
    EXPECT_EQ(cpScaleFor(-3.25).cpTop, -3.8);
    EXPECT_EQ(cpScaleFor(-3.5).cpTop, -5.0);
    EXPECT_EQ(cpScaleFor(-0.3999).cpTop, -0.6);

    // The mapping puts the chord 0..1 at 0.1..1.1 of 0.89 W and the whole
    // span into 0.98 H, Cp growing downwards.
    const PlotMapping m = plotMapping(500, 400, cpScaleFor(-1.3));
    EXPECT_EQ(m.px(0.0), static_cast<int>(0.1 * 0.89 * 500));
    EXPECT_EQ(m.px(1.0), static_cast<int>(1.1 * 0.89 * 500));
    EXPECT_EQ(m.py(-1.61), 0);
    EXPECT_EQ(m.py(0.5), static_cast<int>(2.11 * 0.98 * 400 / 2.1));
    EXPECT_NEAR(m.xAt(m.px(0.5)), 0.5, 1.0 / m.sx);
}

TEST(CpEditorScale, CriticalCpIsTheIsentropicSonicValue) {
    EXPECT_NEAR(criticalCp(0.8), -0.4346, 5e-5);
    EXPECT_EQ(criticalCp(0.05), -67.0);
    EXPECT_EQ(criticalCp(0.0999), -67.0);
    // Against the textbook form 2/(gM^2) [((2 + (g-1)M^2)/(g+1))^(g/(g-1)) - 1].
    const double g = 1.4;
    for (double M : {0.3, 0.5, 0.7, 0.85, 0.95}) {
        const double ref = 2.0 / (g * M * M) *
                           (std::pow((2.0 + (g - 1.0) * M * M) / (g + 1.0), g / (g - 1.0)) - 1.0);
        EXPECT_NEAR(criticalCp(M), ref, 1e-12) << M;
    }
    // At Mach 1 the free stream itself is sonic.
    EXPECT_NEAR(criticalCp(1.0), 0.0, 1e-12);
}

TEST(CpEditorLoad, EditorOrderInitialStretchesAndRanges) {
    const Section s = makeSection(100, 5);
    const CpEditor e = loaded(s);
    EXPECT_EQ(e.nFaces, 100);
    EXPECT_EQ(e.nHalf, 50);
    // m stands for face NX-k-1-m: m = 0 next to the lower trailing edge,
    // m = N-1 next to the upper one; xMid[N] is the wake face beyond node k.
    for (int m = 0; m < 100; ++m) {
        const int i = s.NX - s.k - 1 - m;
        EXPECT_EQ(e.cpCur[m], s.cpf[i]);
        EXPECT_EQ(e.cpDes[m], s.cpf[i]);
        EXPECT_EQ(e.xMid[m], 0.5 * (s.x[i] + s.x[i + 1]));
    }
    EXPECT_EQ(e.xMid[100], 0.5 * (s.x[s.k - 1] + s.x[s.k]));
    EXPECT_GT(e.xMid[0], 0.99);   // lower trailing edge
    EXPECT_LT(e.xMid[49], 0.01);  // leading edge, lower side
    EXPECT_LT(e.xMid[50], 0.01);  // leading edge, upper side
    EXPECT_GT(e.xMid[99], 0.99);  // upper trailing edge

    EXPECT_EQ(e.upFirst, 52);
    EXPECT_EQ(e.upLast, 96);
    EXPECT_EQ(e.upMark, 74);
    EXPECT_EQ(e.loFirst, 3);
    EXPECT_EQ(e.loLast, 47);
    EXPECT_EQ(e.loMark, 25);
    int lo, hi;
    e.boundRange(0, lo, hi);  // "U1="
    EXPECT_EQ(lo, 52);
    EXPECT_EQ(hi, 96);
    e.boundRange(3, lo, hi);  // "L2="
    EXPECT_EQ(lo, 3);
    EXPECT_EQ(hi, 47);
    EXPECT_EQ(e.surface, 0);
    EXPECT_EQ(e.corrMode[0], 1);
    EXPECT_EQ(e.corrMode[1], 0);
    EXPECT_EQ(e.nSpl[0], 8);
    EXPECT_EQ(e.splineOn[0] + e.splineOn[1], 0);
    EXPECT_EQ(e.selCtl, CpEditor::kNone);

    // Grids the stretches do not fit refuse to load.
    CpEditor small;
    const Section tiny = makeSection(10, 2);
    EXPECT_FALSE(small.load(tiny.NX, tiny.k, tiny.x.data(), tiny.y.data(), tiny.cpf.data()));
    EXPECT_EQ(small.ready, 0);
    EXPECT_FALSE(small.load(s.NX, 0, s.x.data(), s.y.data(), s.cpf.data()));
}

TEST(CpEditorCommands, BoundsMarksRestoreAndNoCorrection) {
    const Section s = makeSection(100, 5);
    CpEditor e = loaded(s);
    // Edit both surfaces by hand.
    for (int m = 0; m < 100; ++m) e.cpDes[m] = -3.0;

    // "U1=" above the mark takes the mark along; the partner's range
    // narrows; the faces outside the stretch and both ends get the current
    // Cp back, the inside keeps its edits (spline editing is off).
    e.setBound(0, 80);
    EXPECT_EQ(e.upFirst, 80);
    EXPECT_EQ(e.upMark, 80);
    int lo, hi;
    e.boundRange(1, lo, hi);
    EXPECT_EQ(lo, 80);
    for (int m = 50; m <= 80; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]) << m;
    for (int m = 96; m < 100; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]) << m;
    for (int m = 81; m <= 95; ++m) EXPECT_EQ(e.cpDes[m], -3.0) << m;
    for (int m = 0; m < 50; ++m) EXPECT_EQ(e.cpDes[m], -3.0) << m;  // other surface untouched

    // "U2=" cannot go below "U1=": the stretch shrinks to face 80, and
    // the whole upper surface is back to the current Cp.
    e.setBound(1, 60);
    EXPECT_EQ(e.upLast, 80);
    EXPECT_EQ(e.upMark, 80);
    for (int m = 50; m < 100; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]) << m;

    // "No correction" on the lower surface restores exactly its faces.
    e.setCorrection(1, 0);
    EXPECT_EQ(e.surface, 1);
    for (int m = 0; m < 50; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]) << m;
    e.setCorrection(0, 0);
    for (int m = 0; m < 100; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]) << m;
    EXPECT_EQ(e.corrMode[0], 0);
    e.setCorrection(0, 1);
    EXPECT_EQ(e.corrMode[0], 1);

    // "Nspl=" keeps 2 .. 21.
    EXPECT_EQ(e.setControlPointCount(0), 2);
    EXPECT_EQ(e.setControlPointCount(1), 2);
    EXPECT_EQ(e.setControlPointCount(100), 21);
    EXPECT_EQ(e.setControlPointCount(7), 7);
    EXPECT_EQ(e.nSpl[0], 7);
    EXPECT_EQ(e.nSpl[1], 8);
}

TEST(CpEditorSpline, StraightDistributionsSurviveEveryControlPointCount) {
    // Akima's method reproduces straight lines: with a Cp linear in x on
    // the stretch, placing and interpolating changes nothing, on both
    // surfaces and for every control-point count.
    const Section s = makeSection(100, 5);
    CpEditor e = loaded(s);
    for (int m = 0; m < 100; ++m) {
        e.cpCur[m] = m >= 50 ? -0.4 + 0.5 * e.xMid[m] : 0.6 - 0.3 * e.xMid[m];
        e.cpDes[m] = e.cpCur[m];
    }
    for (int surface = 0; surface < 2; ++surface) {
        e.selectSurface(surface);
        e.setCorrection(surface, 1);
        e.setSpline(true);
        for (int n = 2; n <= 21; ++n) {
            e.setControlPointCount(n);
            // Evenly spaced from the face before the stretch to the one
            // after it, on the line.
            const double a = surface == 0 ? e.xMid[e.upFirst - 1] : e.xMid[e.loLast + 1];
            const double b = surface == 0 ? e.xMid[e.upLast + 1] : e.xMid[e.loFirst - 1];
            for (int c = 0; c < n; ++c) {
                EXPECT_NEAR(e.ctlX[c][surface], a + (b - a) / (n - 1) * c, 1e-14);
                const double line =
                    surface == 0 ? -0.4 + 0.5 * e.ctlX[c][surface] : 0.6 - 0.3 * e.ctlX[c][surface];
                EXPECT_NEAR(e.ctlCp[c][surface], line, 1e-14) << n << " " << c;
            }
            for (int m = 0; m < 100; ++m)
                EXPECT_NEAR(e.cpDes[m], e.cpCur[m], 1e-13) << n << " " << m;
        }
    }
}

TEST(CpEditorPointer, PickDragLimitsAndTheAkimaStretch) {
    const Section s = makeSection(100, 5);
    CpEditor e = loaded(s);
    e.setSpline(true);
    ASSERT_EQ(e.nSpl[0], 8);
    const int W = 400, H = 500;
    const std::vector<double> before = e.cpDes;

    // A drag without a selection moves nothing.
    e.press(W, H);
    EXPECT_FALSE(e.pointerMoved(0.5, -2.0));
    e.release();

    // A press 0.009 chord to the right and within 0.01 W/H in Cp selects an
    // interior point; the end points are never selected.
    e.pointerMoved(e.ctlX[0][0], e.ctlCp[0][0]);
    EXPECT_FALSE(e.press(W, H));
    e.release();
    e.pointerMoved(e.ctlX[7][0], e.ctlCp[7][0]);
    EXPECT_FALSE(e.press(W, H));
    e.release();
    e.pointerMoved(e.ctlX[3][0] + 0.009, e.ctlCp[3][0] + 0.0079);
    EXPECT_TRUE(e.press(W, H));
    EXPECT_EQ(e.selCtl, 3);
    EXPECT_EQ(e.dragging, 1);

    // Drag the point up (more suction).
    const double x3 = e.ctlX[3][0];
    EXPECT_TRUE(e.pointerMoved(x3, e.ctlCp[3][0] - 0.3));
    e.release();
    EXPECT_EQ(e.ctlX[3][0], x3);
    // The stretch is Akima's interpolation through the control points, the
    // rest of the distribution is as it was.
    std::vector<double> u, v;
    for (int m = e.upFirst; m <= e.upLast; ++m) u.push_back(e.xMid[m]);
    v.assign(u.size(), 0.0);
    double cx[8], cy[8];
    for (int c = 0; c < 8; ++c) {
        cx[c] = e.ctlX[c][0];
        cy[c] = e.ctlCp[c][0];
    }
    const int L = 8, N = static_cast<int>(u.size()), unit = 6;
    ASSERT_TRUE(AkimaInterp(unit, L, cx, cy, N, u.data(), v.data()));
    for (int m = e.upFirst; m <= e.upLast; ++m) EXPECT_EQ(e.cpDes[m], v[m - e.upFirst]) << m;
    for (int m = 0; m < 100; ++m) {
        if (m < e.upFirst || m > e.upLast) {
            EXPECT_EQ(e.cpDes[m], before[m]) << m;
        }
    }
    // The face nearest the moved point went up with it.
    int nearest = e.upFirst;
    for (int m = e.upFirst; m <= e.upLast; ++m) {
        if (std::fabs(e.xMid[m] - x3) < std::fabs(e.xMid[nearest] - x3)) nearest = m;
    }
    EXPECT_LT(e.cpDes[nearest], before[nearest] - 0.2);
    // More suction on the upper surface: more lift.
    EXPECT_GT(e.liftEdited(1.0, 0.0, 1.0), e.liftCurrent(1.0, 0.0, 1.0) + 0.01);

    // A press that misses keeps the selection; dragging past a neighbour
    // stops minGap short of it on either side.
    e.pointerMoved(0.01, 0.4);
    EXPECT_FALSE(e.press(W, H));
    EXPECT_EQ(e.selCtl, 3);
    e.pointerMoved(e.ctlX[1][0] - 0.2, -0.5);
    EXPECT_EQ(e.ctlX[3][0], e.ctlX[2][0] + 0.001);
    EXPECT_EQ(e.ctlCp[3][0], -0.5);
    e.pointerMoved(e.ctlX[6][0] + 0.3, -0.5);
    EXPECT_EQ(e.ctlX[3][0], e.ctlX[4][0] - 0.001);
    e.release();
    EXPECT_EQ(e.dragging, 0);

    // Motion without the button only tracks the pointer.
    EXPECT_FALSE(e.pointerMoved(0.25, -0.75));
    EXPECT_EQ(e.ptrX, 0.25);
    EXPECT_EQ(e.ptrCp, -0.75);

    // A selection that fewer control points no longer hold moves nothing.
    e.pointerMoved(e.ctlX[5][0], e.ctlCp[5][0]);
    ASSERT_TRUE(e.press(W, H));
    e.release();
    e.setControlPointCount(4);
    const std::vector<double> held = e.cpDes;
    e.press(W, H);
    EXPECT_FALSE(e.pointerMoved(0.5, -1.0));
    e.release();
    EXPECT_EQ(e.cpDes, held);

    // Nor does a selection made on the other surface.
    e.setControlPointCount(8);
    e.pointerMoved(e.ctlX[2][0], e.ctlCp[2][0]);
    ASSERT_TRUE(e.press(W, H));
    e.release();
    e.setCorrection(1, 1);
    e.setSpline(true);
    EXPECT_EQ(e.selCtl, CpEditor::kNone);
    const std::vector<double> lower = e.cpDes;
    e.pointerMoved(0.5, 0.3);
    e.press(W, H);
    EXPECT_FALSE(e.pointerMoved(0.5, 0.4));
    e.release();
    EXPECT_EQ(e.cpDes, lower);
}

TEST(CpEditorSpline, FaultKeepsTheStretchAndStaysQuiet) {
    const Section s = makeSection(100, 5);
    CpEditor e = loaded(s);
    e.setSpline(true);
    // Neighbours closer than twice minGap: the drag rule cannot keep the
    // point between them and it lands left of its left neighbour.
    e.ctlX[2][0] = 0.5;
    e.ctlX[3][0] = 0.5004;
    e.ctlX[4][0] = 0.5008;
    e.ctlCp[2][0] = e.ctlCp[4][0] = e.ctlCp[3][0] + 1.0;
    e.pointerMoved(0.5004, e.ctlCp[3][0]);
    ASSERT_TRUE(e.press(400, 400));
    ASSERT_EQ(e.selCtl, 3);
    const std::vector<double> edited = e.cpDes;
    ConsoleCapture console;
    EXPECT_TRUE(e.pointerMoved(0.9, -2.0));
    EXPECT_LT(e.ctlX[3][0], e.ctlX[2][0]);
    EXPECT_EQ(e.interpolateStretch(0), InterpFault::OutOfSequence);
    // The stretch keeps its edited values, and nothing was printed.
    EXPECT_EQ(e.cpDes, edited);
    EXPECT_TRUE(console.lines.empty());

    // The other faults of the quiet interpolation.
    double x[3] = {0.0, 1.0, 1.0}, y[3] = {0, 1, 2}, u[1] = {0.5}, v[1] = {7.0};
    EXPECT_EQ(akimaQuiet(3, x, y, 1, u, v), InterpFault::IdenticalX);
    EXPECT_EQ(akimaQuiet(1, x, y, 1, u, v), InterpFault::TooFewPoints);
    EXPECT_EQ(akimaQuiet(2, x, y, 0, u, v), InterpFault::NoOutputPoints);
    EXPECT_EQ(v[0], 7.0);
    EXPECT_EQ(akimaQuiet(2, x, y, 1, u, v), InterpFault::None);
    EXPECT_DOUBLE_EQ(v[0], 0.5);
    EXPECT_TRUE(console.lines.empty());
}

TEST(CpEditorSpline, LongestStretchIsInterpolatedWhole) {
    // The largest grid the arrays allow: N = 460 faces, an upper stretch of
    // 225 faces, far more than 65.
    const Section s = makeSection(460, 20);
    ASSERT_LE(s.NX, 500);
    CpEditor e = loaded(s);
    const int count = e.upLast - e.upFirst + 1;
    EXPECT_EQ(count, 225);
    e.setSpline(true);
    e.setControlPointCount(21);
    e.pointerMoved(e.ctlX[10][0], e.ctlCp[10][0]);
    ASSERT_TRUE(e.press(800, 600));
    e.pointerMoved(e.ctlX[10][0], e.ctlCp[10][0] + 0.5);
    e.release();
    // Every face of the stretch holds the interpolation through all 21
    // points.
    std::vector<double> u, v(count);
    for (int m = e.upFirst; m <= e.upLast; ++m) u.push_back(e.xMid[m]);
    double cx[21], cy[21];
    for (int c = 0; c < 21; ++c) {
        cx[c] = e.ctlX[c][0];
        cy[c] = e.ctlCp[c][0];
    }
    const int L = 21, unit = 6;
    ASSERT_TRUE(AkimaInterp(unit, L, cx, cy, count, u.data(), v.data()));
    for (int q = 0; q < count; ++q) EXPECT_EQ(e.cpDes[e.upFirst + q], v[q]) << q;

    // The lower stretch of the same grid runs against the chord in editor
    // order and is filled as well.
    e.selectSurface(1);
    e.setCorrection(1, 1);
    e.setSpline(true);
    e.pointerMoved(e.ctlX[4][1], e.ctlCp[4][1]);
    ASSERT_TRUE(e.press(800, 600));
    e.pointerMoved(e.ctlX[4][1], e.ctlCp[4][1] - 0.5);
    e.release();
    int moved = 0;
    for (int m = e.loFirst; m <= e.loLast; ++m) moved += e.cpDes[m] != e.cpCur[m];
    EXPECT_GT(moved, 40);
    for (int m = 0; m < e.loFirst; ++m) EXPECT_EQ(e.cpDes[m], e.cpCur[m]);
}

TEST(CpEditorPlot, SonicIndexAndWhereTheSonicLineStarts) {
    const Section s = makeSection(100, 5);
    CpEditor e = loaded(s);
    const double star = -0.5;
    for (int m = 0; m < 100; ++m) e.cpCur[m] = 0.0;
    EXPECT_EQ(e.sonicIndex(star), 100);  // no crossing
    // Crossings at m = 20 and m = 70: the last one scanned from the upper
    // trailing edge counts.
    for (int m = 20; m < 70; ++m) e.cpCur[m] = -1.0;
    EXPECT_EQ(e.sonicIndex(star), 70);
    EXPECT_EQ(CpEditor::sonicLineStart(70), 66);
    // A crossing between faces 2 and 3 only: sonic index 3, the line starts
    // at the first face.
    for (int m = 0; m < 100; ++m) e.cpCur[m] = m >= 3 ? -1.0 : 0.0;
    EXPECT_EQ(e.sonicIndex(star), 3);
    EXPECT_EQ(CpEditor::sonicLineStart(3), 0);
    // Faces 0..2 are never tested.
    for (int m = 0; m < 100; ++m) e.cpCur[m] = m >= 2 ? -1.0 : 0.0;
    EXPECT_EQ(e.sonicIndex(star), 100);

    // The scale ignores faces 0 and 2.
    e.cpCur.assign(100, 0.0);
    e.cpCur[0] = -9.0;
    e.cpCur[2] = -8.0;
    EXPECT_EQ(e.scaleCpMin(), 0.0);
    e.cpCur[1] = -1.3;
    EXPECT_EQ(e.scaleCpMin(), -1.3);
}

TEST(CpEditorLift, FlatPlateClosedContourAndTheTargetSlots) {
    // A flat plate from 0 to 1: Cp 1 on the lower and 0 on the upper
    // surface lifts cu/cosSweep; a constant Cp round a closed section
    // lifts nothing.
    Section s = makeSection(20, 3);
    for (double& y : s.y) y = 0.0;
    std::vector<double> f(s.NX + 1, 0.0);
    for (int i = s.NX / 2; i < s.NX - s.k; ++i) f[i] = 1.0;
    EXPECT_NEAR(integratedLift(s.NX, s.k, f.data(), s.x.data(), s.y.data(), 0.9, 0.1, 0.95),
                0.9 / 0.95, 1e-14);
    const Section c = makeSection(60, 4);
    std::vector<double> one(c.NX + 1, 0.7);
    EXPECT_NEAR(integratedLift(c.NX, c.k, one.data(), c.x.data(), c.y.data(), 0.8, 0.3, 0.9), 0.0,
                1e-14);

    // The editor writes exactly the N slots k .. NX-k-1 of the target, and
    // its two lift values are those of the target and of the computed Cp.
    CpEditor e = loaded(c);
    for (int m = 0; m < e.nFaces; ++m) e.cpDes[m] = e.cpCur[m] - 0.1 * (m >= e.nHalf);
    std::vector<double> target(kContourSize, 123.0);
    e.writeTarget(target.data());
    for (int i = 0; i < kContourSize; ++i) {
        if (i < c.k || i > c.NX - c.k - 1) {
            EXPECT_EQ(target[i], 123.0) << i;
        } else {
            EXPECT_EQ(target[i], e.cpDes[c.NX - c.k - 1 - i]) << i;
        }
    }
    EXPECT_EQ(e.liftEdited(0.8, 0.3, 0.9),
              integratedLift(c.NX, c.k, target.data(), c.x.data(), c.y.data(), 0.8, 0.3, 0.9));
    EXPECT_EQ(e.liftCurrent(0.8, 0.3, 0.9),
              integratedLift(c.NX, c.k, c.cpf.data(), c.x.data(), c.y.data(), 0.8, 0.3, 0.9));
    // 0.1 more suction on the upper surface at zero incidence adds 0.1
    // times the chord (the upper surface's projection) to the lift.
    EXPECT_NEAR(e.liftEdited(1.0, 0.0, 1.0) - e.liftCurrent(1.0, 0.0, 1.0), 0.1, 1e-12);

    // The editor knows whether it still shows the last analysis.
    EXPECT_TRUE(e.loadedFrom(c.NX, c.k, c.cpf.data()));
    std::vector<double> changed = c.cpf;
    changed[c.NX / 2] += 1e-9;
    EXPECT_FALSE(e.loadedFrom(c.NX, c.k, changed.data()));
    EXPECT_FALSE(e.loadedFrom(c.NX + 2, c.k, c.cpf.data()));
}

TEST(CpTargetFile, CpFileOfAnAnalysisLoadsAsItsComputedCp) {
    // The Cp file as the solver writes it after an analysis.
    const Section s = makeSection(40, 4);
    for (int i = 0; i <= s.NX; ++i) {
        xg(i, 1) = s.x[i];
        yg(i, 1) = s.y[i];
        cpf(i) = i < s.NX ? s.cpf[i] : 0.0;
        cps(i) = 5.0;  // a target of an earlier session: not what is loaded
    }
    FileNames n;
    std::snprintf(n.title, sizeof n.title, "%s", "Test section");
    n.titleLen = 13;
    std::snprintf(n.ptlName, sizeof n.ptlName, "%s", tempPath("run.ptl").c_str());
    std::snprintf(n.cpName, sizeof n.cpName, "%s", tempPath("run.cp").c_str());
    const int NY = 2, step = 1, it = 1;
    const double mach = 0.7, alpha = 1.0, sweep = 0.0, cl = 0.3, cd = 0.01;
    SaveSolution(n, NY, s.NX, s.k, step, it, it, mach, alpha, sweep, cl, cd);

    const CpTable t = readCpTable(n.cpName);
    EXPECT_TRUE(t.fromCpFile);
    ASSERT_EQ(t.x.size(), 40u);
    EXPECT_EQ(t.line.front(), 1 + 1 + 1 + 41 + 1 + 1);  // after title, count, 41 nodes, captions
    CpEditor e = loaded(s);
    e.loadTarget(t);
    // The same grid: face by face, to the six decimals of the file.
    for (int m = 0; m < 40; ++m) EXPECT_NEAR(e.cpDes[m], e.cpCur[m], 5.0000001e-7) << m;

    // The batch design run fills cps from the same table: only the body
    // faces, with the same values.
    std::vector<double> target(kContourSize, -9.0);
    targetFromTable(t, s.NX, s.k, s.x.data(), target.data());
    for (int i = 0; i < kContourSize; ++i) {
        if (i < s.k || i >= s.NX - s.k) {
            EXPECT_EQ(target[i], -9.0) << i;
        } else {
            EXPECT_EQ(target[i], e.cpDes[s.NX - s.k - 1 - i]) << i;
        }
    }

    // A Cp file cut short names the line where it ends.
    const std::string whole = [&] {
        std::ifstream in(n.cpName);
        std::string text, l;
        for (int q = 0; q < 50 && std::getline(in, l); ++q) text += l + "\n";
        return text;
    }();
    writeText(tempPath("short.cp"), whole);
    const std::string why = refusal(tempPath("short.cp"));
    EXPECT_NE(why.find("line 51"), std::string::npos) << why;
    EXPECT_NE(why.find("short.cp"), std::string::npos) << why;
}

TEST(CpTargetFile, TableRoundTripAndRefusalsNameTheLine) {
    const Section s = makeSection(60, 4);
    CpEditor e = loaded(s);
    e.setSpline(true);
    e.pointerMoved(e.ctlX[4][0], e.ctlCp[4][0]);
    ASSERT_TRUE(e.press(400, 400));
    e.pointerMoved(e.ctlX[4][0], e.ctlCp[4][0] - 0.4);
    e.release();

    // Saved and loaded again into a fresh editor: the same target.
    const std::string path = tempPath("target.txt");
    writeCpTable(path, "edited", e.targetTable());
    CpEditor fresh = loaded(s);
    fresh.loadTarget(readCpTable(path));
    for (int m = 0; m < e.nFaces; ++m) EXPECT_NEAR(fresh.cpDes[m], e.cpDes[m], 5.0000001e-9) << m;

    // A plain table on other abscissae, with a comment, a blank line and
    // the leading-edge point given once for each surface: linear between
    // its points, the end values beyond them.
    writeText(tempPath("plain.txt"),
              "# x Cp\n1.0 0.1\n0.5, -0.4\n\n0.0 -1.0\n0.0 1.0\n0.5 0.2\n1.0 0.1\n");
    const CpTable t = readCpTable(tempPath("plain.txt"));
    ASSERT_EQ(t.x.size(), 6u);
    EXPECT_EQ(t.line[2], 5);
    EXPECT_DOUBLE_EQ(tableCpAt(t, 0, 0.25), -0.7);
    EXPECT_DOUBLE_EQ(tableCpAt(t, 1, 0.25), 0.6);
    EXPECT_DOUBLE_EQ(tableCpAt(t, 0, 0.0), -1.0);
    EXPECT_DOUBLE_EQ(tableCpAt(t, 1, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(tableCpAt(t, 0, 1.2), 0.1);

    // Refusals, each naming its line.
    struct Bad {
        const char* name;
        const char* text;
        const char* needle;
    } bad[] = {
        {"few.txt", "1 0\n0.5 0\n0 1\n0.5 0.1\n", "line 4"},
        {"chord.txt", "1 0\n0.5 0\n1.2 0.3\n0 1\n0.5 0\n1 0\n", "line 3: x = 1.2 lies outside"},
        {"noupper.txt", "0 1\n0.2 0\n0.5 0\n0.8 0\n1 0\n", "upper surface is missing"},
        {"nolower.txt", "1 0\n0.8 0\n0.5 0\n0.2 0\n0 1\n", "lower surface is missing"},
        {"words.txt", "1 0\n0.5 0\n0 one\n0.5 0\n1 0\n", "line 3: expected two numbers"},
        {"three.txt", "1 0\n0.5 0 7\n0 1\n0.5 0\n1 0\n", "line 2: expected two numbers"},
        {"back.txt", "1 0\n0.5 0\n0.7 0\n0 1\n0.5 0\n1 0\n", "line 3: x rises again"},
        {"nan.txt", "1 0\n0.5 nan\n0 1\n0.5 0\n1 0\n", "line 2: the Cp value is not a number"},
        {"empty.txt", "", "needs at least three on each surface"},
    };
    for (const Bad& b : bad) {
        writeText(tempPath(b.name), b.text);
        const std::string why = refusal(tempPath(b.name));
        EXPECT_NE(why.find(b.needle), std::string::npos) << b.name << ": " << why;
        EXPECT_NE(why.find(b.name), std::string::npos) << why;
    }
    EXPECT_NE(refusal(tempPath("missing.txt")).find("Cannot open"), std::string::npos);
    // A file that cannot be written is reported, not ignored.
    EXPECT_THROW(writeCpTable("/nonexistent-dir/target.txt", "x", e.targetTable()), FileError);
}
