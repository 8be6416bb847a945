// Section coordinate files: both published layouts, their variants (order,
// duplicate points, open trailing edge, too many points), refusals, and the
// program's own input file written back from a job.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CoordinateFile.h"
#include "JobFiles.h"
#include "RunControl.h"
#include "message.h"
#include "quarel_job.h"

using namespace quarel;
using testjob::ScratchDir;

namespace {

constexpr double kPi = 3.14159265358979323846;

// NACA 4-digit surfaces from the published formulas, each from the leading
// edge to the trailing edge at cosine-spaced stations.
struct Surfaces {
    std::vector<double> ux, uy, lx, ly;
};
Surfaces naca(double m, double p, double t, int n, bool openTe) {
    Surfaces s;
    for (int i = 0; i < n; ++i) {
        const double x = 0.5 * (1.0 - std::cos(kPi * i / (n - 1)));
        const double a4 = openTe ? -0.1015 : -0.1036;
        const double yt = 5.0 * t *
                          (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x +
                           0.2843 * x * x * x + a4 * x * x * x * x);
        double yc = 0.0, dyc = 0.0;
        if (m > 0.0) {
            yc = x < p ? m / (p * p) * (2 * p * x - x * x)
                       : m / ((1 - p) * (1 - p)) * (1 - 2 * p + 2 * p * x - x * x);
            dyc = x < p ? 2 * m / (p * p) * (p - x) : 2 * m / ((1 - p) * (1 - p)) * (p - x);
        }
        const double th = std::atan(dyc);
        s.ux.push_back(x - yt * std::sin(th));
        s.uy.push_back(yc + yt * std::cos(th));
        s.lx.push_back(x + yt * std::sin(th));
        s.ly.push_back(yc - yt * std::cos(th));
    }
    return s;
}

std::string pair(double x, double y) {
    char b[64];
    std::snprintf(b, sizeof b, "%.7f %.7f\n", x, y);
    return b;
}

// Point-list layout: upper trailing edge round the leading edge.
std::string pointList(const Surfaces& s, const std::string& name = "NACA test") {
    std::string t = name + "\n";
    for (size_t i = s.ux.size(); i-- > 0;) t += pair(s.ux[i], s.uy[i]);
    for (size_t i = 1; i < s.lx.size(); ++i) t += pair(s.lx[i], s.ly[i]);
    return t;
}

// Two-block layout: counts, then both surfaces from the leading edge.
std::string twoBlocks(const Surfaces& s) {
    std::string t = "NACA test two blocks\n";
    t += std::to_string(s.ux.size()) + ". " + std::to_string(s.lx.size()) + ".\n\n";
    for (size_t i = 0; i < s.ux.size(); ++i) t += pair(s.ux[i], s.uy[i]);
    t += "\n";
    for (size_t i = 0; i < s.lx.size(); ++i) t += pair(s.lx[i], s.ly[i]);
    return t;
}

// Largest distance of the section's points from the polygon of the exact
// surface points (a resampled section must stay on the section).
double offSection(const Section& sec, const Surfaces& s) {
    std::vector<double> px, py;
    for (size_t i = s.ux.size(); i-- > 0;) px.push_back(s.ux[i]), py.push_back(s.uy[i]);
    for (size_t i = 1; i < s.lx.size(); ++i) px.push_back(s.lx[i]), py.push_back(s.ly[i]);
    double worst = 0.0;
    for (size_t m = 0; m < sec.x.size(); ++m) {
        double best = 1e30;
        for (size_t i = 0; i + 1 < px.size(); ++i) {
            const double dx = px[i + 1] - px[i], dy = py[i + 1] - py[i];
            double t = ((sec.x[m] - px[i]) * dx + (sec.y[m] - py[i]) * dy) / (dx * dx + dy * dy);
            t = std::fmin(1.0, std::fmax(0.0, t));
            best =
                std::fmin(best, std::hypot(sec.x[m] - px[i] - t * dx, sec.y[m] - py[i] - t * dy));
        }
        worst = std::fmax(worst, best);
    }
    return worst;
}

}  // namespace

TEST(CoordinateFile, BothLayoutsGiveThePointListOfTheSection) {
    const Surfaces s = naca(0.02, 0.4, 0.12, 41, false);
    const std::string points = pointList(s), blocks = twoBlocks(s);
    EXPECT_EQ(RecogniseCoordinates(points), CoordinateLayout::PointList);
    EXPECT_EQ(RecogniseCoordinates(blocks), CoordinateLayout::TwoBlocks);
    const Section a = ReadSection(points, "a.dat"), b = ReadSection(blocks, "b.dat");
    EXPECT_EQ(a.name, "NACA test");
    EXPECT_TRUE(a.notes.empty());
    EXPECT_TRUE(b.notes.empty());
    ASSERT_EQ(a.x.size(), 81u);
    ASSERT_EQ(b.x.size(), 81u);
    for (size_t m = 0; m < a.x.size(); ++m) {
        EXPECT_DOUBLE_EQ(a.x[m], b.x[m]);
        EXPECT_DOUBLE_EQ(a.y[m], b.y[m]);
    }
    EXPECT_NEAR(a.x.front(), 1.0, 1e-7);  // trailing edge, upper side first
    EXPECT_GT(a.y[20], 0.0);
    EXPECT_NEAR(a.x[40], 0.0, 1e-12);  // the shared leading edge

    // Not a coordinate file: the program's own input (a caption after the
    // title).  Numbers right after the name make one, refused when it is
    // not a section.
    testjob::Job j;
    EXPECT_EQ(RecogniseCoordinates(testjob::jobText(j)), CoordinateLayout::None);
    EXPECT_EQ(RecogniseCoordinates("name\ncaption\n1 2 3\n"), CoordinateLayout::None);
    for (const char* text : {"name\n0 0\n1 0\n", "name\n1 2 3\n4 5 6\n7 8 9\n"}) {
        EXPECT_EQ(RecogniseCoordinates(text), CoordinateLayout::PointList) << text;
        EXPECT_THROW(ReadSection(text, "x"), FileError) << text;
    }
}

TEST(CoordinateFile, VariantsAreBroughtIntoOrderAndSaySo) {
    const Surfaces s = naca(0.0, 0.0, 0.12, 31, false);
    const Section ref = ReadSection(pointList(s), "ref");

    // Clockwise (lower surface first): reversed.
    Surfaces flipped = s;
    std::swap(flipped.ux, flipped.lx);
    std::swap(flipped.uy, flipped.ly);
    const Section r = ReadSection(pointList(flipped), "r");
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find("reversed"), std::string::npos);
    ASSERT_EQ(r.x.size(), ref.x.size());
    for (size_t m = 0; m < r.x.size(); ++m) EXPECT_DOUBLE_EQ(r.y[m], ref.y[m]);

    // Both surfaces listed from the leading edge one after the other.
    std::string le = "split\n";
    for (size_t i = 0; i < s.ux.size(); ++i) le += pair(s.ux[i], s.uy[i]);
    for (size_t i = 0; i < s.lx.size(); ++i) le += pair(s.lx[i], s.ly[i]);
    const Section l = ReadSection(le, "l");
    ASSERT_EQ(l.x.size(), ref.x.size());
    for (size_t m = 0; m < l.x.size(); ++m) EXPECT_DOUBLE_EQ(l.y[m], ref.y[m]);

    // A repeated point and a doubled leading edge are dropped.
    std::string dup = pointList(s);
    dup.insert(dup.find('\n') + 1, pair(s.ux.back(), s.uy.back()));
    const Section d = ReadSection(dup, "d");
    EXPECT_EQ(d.x.size(), ref.x.size());
    EXPECT_FALSE(d.notes.empty());

    // An open trailing edge is closed at its midpoint.
    const Surfaces blunt = naca(0.0, 0.0, 0.12, 31, true);
    const Section o = ReadSection(pointList(blunt), "o");
    ASSERT_FALSE(o.notes.empty());
    EXPECT_NE(o.notes.back().find("open"), std::string::npos);
    EXPECT_DOUBLE_EQ(o.x.front(), o.x.back());
    EXPECT_DOUBLE_EQ(o.y.front(), o.y.back());
    EXPECT_NEAR(o.y[15], blunt.uy[15], 0.002);  // the shear stays small

    // More points than the contour holds: resampled onto the section.
    const Surfaces fine = naca(0.04, 0.4, 0.12, 301, false);
    const Section f = ReadSection(pointList(fine), "f");
    EXPECT_LE(static_cast<int>(f.x.size()), kMaxContour);
    EXPECT_GE(f.x.size(), 300u);
    EXPECT_LT(offSection(f, fine), 2e-5);
    EXPECT_DOUBLE_EQ(f.x.front(), fine.ux.back());
}

TEST(CoordinateFile, UnusableFilesAreRefusedNamingTheLine) {
    const Surfaces s = naca(0.0, 0.0, 0.12, 21, false);
    std::string bad = pointList(s);
    bad.insert(bad.find('\n', bad.find('\n') + 1) + 1, "0.5 oops\n");
    try {
        ReadSection(bad, "bad.dat");
        FAIL() << "accepted a line of text";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
    }
    // A surface that turns back on itself.
    std::string zig = "zig\n1 0\n0.5 0.05\n0.7 0.06\n0 0\n0.5 -0.05\n1 0\n";
    EXPECT_THROW(ReadSection(zig, "zig"), FileError);
}

// Damaged coordinate files, found by fuzzing: each is refused as a
// coordinate file naming what is wrong, never read in the fixed columns of
// the program's input file (which made coordinates into Mach numbers).
TEST(CoordinateFile, DamagedFilesAreRefusedAsCoordinateFiles) {
    const Surfaces s = naca(0.04, 0.4, 0.12, 21, true);
    const std::string good = pointList(s);
    auto message = [](const std::string& text) -> std::string {
        EXPECT_NE(RecogniseCoordinates(text), CoordinateLayout::None);
        try {
            ReadSection(text, "f.txt");
        } catch (const FileError& e) {
            return e.what();
        }
        return "accepted";
    };
    // Line 6 replaced by a bad line: that line is named.
    auto withLine6 = [&](const std::string& bad) {
        std::string t = good;
        size_t at = 0;
        for (int n = 1; n < 6; ++n) at = t.find('\n', at) + 1;
        return t.replace(at, t.find('\n', at) - at, bad);
    };
    for (const char* bad : {"NaN NaN", "inf 0.01", "0.9 0.01 0.02", "end"})
        EXPECT_NE(message(withLine6(bad)).find("line 6"), std::string::npos) << bad;
    EXPECT_NE(message(good + "end\n").find("line 43"), std::string::npos);
    // A file cut short: the gap between its ends is named, not sheared shut.
    std::string cut = good.substr(0, good.find('\n', good.find("0.0000000 0.0000000")));
    for (int n = 0; n < 6; ++n)
        cut += "\n" + pair(s.lx[static_cast<size_t>(n + 1)], s.ly[static_cast<size_t>(n + 1)]);
    const std::string gap = message(cut);
    EXPECT_NE(gap.find("the trailing edge is open by"), std::string::npos) << gap;
    EXPECT_NE(gap.find("at most 1 %"), std::string::npos) << gap;
    // Point counts that do not match the points that follow.
    std::string blocks = twoBlocks(s);
    blocks.replace(blocks.find("21. 21."), 7, "22. 21.");
    EXPECT_NE(message(blocks).find("point counts 22 and 21"), std::string::npos);
    // A 309-digit abscissa is not echoed back digit by digit.
    std::string huge = good;
    huge.replace(huge.find("0.9"), 3, "1e308");
    EXPECT_LT(message(huge).size(), 300u);
    // Old Mac line ends (CR alone) read like any other.
    std::string mac = good;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    const Section a = ReadSection(good, "a"), m = ReadSection(mac, "m");
    EXPECT_EQ(a.x, m.x);
    EXPECT_EQ(a.y, m.y);
}

TEST(CoordinateFile, OpenRunsTheSectionWithTheTemplateAndWritesTheInputFile) {
    msg::setQuiet(true);
    ScratchDir dir;
    const Surfaces s = naca(0.02, 0.4, 0.12, 41, false);
    {
        std::FILE* f = std::fopen(dir.file("sec.txt").c_str(), "w");
        std::fputs(pointList(s, "NACA 2412 coordinates").c_str(), f);
        std::fclose(f);
    }
    testjob::Job tj;
    tj.NPA = 16;
    tj.NCO = 5;
    tj.NBH = 4;
    tj.Kgrid = 2;
    tj.mach = 0.5;
    tj.alpha = 1.0;
    std::string title;
    const JobParameters templ = ReadInputFile(testjob::writeJob(dir.file("t.dat"), tj), title);
    RunControl rc;
    rc.open(dir.file("sec.txt"), &templ);
    EXPECT_EQ(rc.title(), "NACA 2412 coordinates");
    EXPECT_EQ(rc.job.NPA, 16);
    EXPECT_EQ(rc.job.NCONT, 81);
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    const double lift = rc.results.clift;
    EXPECT_GT(lift, 0.2);  // cambered, at one degree

    // The job written as an input file reads back to the same run.
    const std::string text = InputFileText(rc.title(), rc.job);
    WriteTextFile(dir.file("back.dat"), text, "input file");
    EXPECT_EQ(RecogniseCoordinates(text), CoordinateLayout::None);
    RunControl back;
    back.open(dir.file("back.dat"));
    EXPECT_EQ(back.title(), "NACA 2412 coordinates");
    EXPECT_EQ(back.job.NCONT, 81);
    EXPECT_EQ(back.job.Kgrid, 2);
    EXPECT_DOUBLE_EQ(back.job.alpha, 1.0);
    ASSERT_EQ(back.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_NEAR(back.results.clift, lift, 1e-9);  // the coordinates as read

    // Without a template the built-in defaults apply.
    RunControl plain;
    plain.open(dir.file("sec.txt"));
    EXPECT_EQ(plain.job.NPA, DefaultJob().NPA);
    EXPECT_TRUE(plain.rotationNote().empty());

    // Finely spaced, the formula's smallest-x point lies above the x-axis,
    // so the chord is turned onto the axis: the turn is reported, in the
    // log as well.  A symmetric section is not turned, and nothing is said.
    const Surfaces fine = naca(0.02, 0.4, 0.12, 121, false);
    {
        std::FILE* f = std::fopen(dir.file("turn.txt").c_str(), "w");
        std::fputs(pointList(fine, "NACA 2412 fine").c_str(), f);
        std::fclose(f);
    }
    size_t le = 0;
    for (size_t i = 0; i < fine.ux.size(); ++i)
        if (fine.ux[i] < fine.ux[le]) le = i;
    const double turn = std::atan2(fine.uy[le], 1.0 - fine.ux[le]) * 180.0 / kPi;
    char degrees[48];
    std::snprintf(degrees, sizeof degrees, "turned %.3f degrees nose down", turn);
    RunControl turned;
    turned.open(dir.file("turn.txt"), &templ);
    turned.gridCalculation();
    EXPECT_GT(turn, 0.01);
    EXPECT_NE(turned.rotationNote().find(degrees), std::string::npos) << turned.rotationNote();
    EXPECT_NEAR(turned.chordRotation(), -turn, 1e-4);
    EXPECT_TRUE(std::any_of(turned.log().begin(), turned.log().end(), [&](const std::string& l) {
        return l.find(degrees) != std::string::npos;
    }));
    {
        std::FILE* f = std::fopen(dir.file("sym.txt").c_str(), "w");
        std::fputs(pointList(naca(0.0, 0.0, 0.12, 41, false), "NACA 0012").c_str(), f);
        std::fclose(f);
    }
    RunControl sym;
    sym.open(dir.file("sym.txt"), &templ);
    sym.gridCalculation();
    EXPECT_TRUE(sym.rotationNote().empty()) << sym.rotationNote();
    msg::setQuiet(false);
}

// A designed section on a fine grid has more body nodes than an input
// file holds: it is resampled on the way out, ends and leading edge kept.
TEST(CoordinateFile, FitContourKeepsTheSectionWithinTheLimit) {
    const Surfaces s = naca(0.0, 0.0, 0.12, 251, false);
    std::vector<double> x, y;
    for (size_t i = s.ux.size(); i-- > 0;) x.push_back(s.ux[i]), y.push_back(s.uy[i]);
    for (size_t i = 1; i < s.lx.size(); ++i) x.push_back(s.lx[i]), y.push_back(s.ly[i]);
    std::vector<std::string> notes;
    FitContour(x, y, notes);
    ASSERT_LE(static_cast<int>(x.size()), kMaxContour);
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_DOUBLE_EQ(x.front(), 1.0);
    EXPECT_DOUBLE_EQ(x.back(), 1.0);
    EXPECT_DOUBLE_EQ(*std::min_element(x.begin(), x.end()), 0.0);
    Section sec;
    sec.x = x;
    sec.y = y;
    EXPECT_LT(offSection(sec, s), 2e-5);
    // Few enough points stay as they are.
    std::vector<double> x2(x.begin(), x.begin() + 3), y2(y.begin(), y.begin() + 3);
    notes.clear();
    FitContour(x2, y2, notes);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(x2.size(), 3u);
}
