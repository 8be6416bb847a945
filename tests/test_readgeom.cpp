// Input geometry reader: values, layouts, titles and every kind of bad file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "INPT1.h"
#include "message.h"

using namespace quarel;

namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "quarel_readgeom_" + name;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Everything ReadGeom writes, preset to sentinels so that a failed read can
// be seen to leave it alone.
struct Job {
    FileNames names;
    double mach = -1, alpha = -1, gamma = -1, sweep = -1, diag = -1, resid = -1, lead = -1;
    int npa = -1, ny = -1, k = -1, step = -1, lin = -1, gm = -1, lift = -1, regime = -1;
    int designMode = 7, ncont = -1;
    ContourInput x, y;
    GrowthRatios ds;

    Job() {
        std::memset(names.title, '#', sizeof names.title);
        for (int m = 1; m <= kMaxContour; ++m) x(m) = y(m) = -9.0;
        for (int m = 1; m <= 13; ++m) ds(m) = -9.0;
    }
    void read(const std::string& path) {
        std::snprintf(names.inputName, sizeof names.inputName, "%s", path.c_str());
        ReadGeom(names, mach, alpha, gamma, sweep, diag, resid, npa, ny, k, step, lin, gm, lift,
                 regime, lead, designMode, ncont, x, y, ds);
    }
    bool untouched() const {
        return mach == -1 && alpha == -1 && gamma == -1 && npa == -1 && ncont == -1 &&
               designMode == 7 && names.title[0] == '#' && x(1) == -9.0 && ds(1) == -9.0;
    }
};

// A file with the given contour block (layout code, count, point lines).
std::string geomFile(const std::string& contourHead, const std::vector<std::string>& points,
                     const std::string& title = "Test section") {
    std::string s = title + "\n";
    s += "caption\n   0.75000   1.50000   0.00000\n";
    s += "caption\n   0.20000   1.0E-05   0.10000\n";
    s += "caption\n       48.       10.        8.        4.\n";
    s += "caption\n       10.       15.        1.        2.\n";
    s += "caption\n" + contourHead + "\n";
    s += "caption\n";
    for (const std::string& p : points) s += p + "\n";
    s += "caption\n 1.10 1.12 1.13 1.14 1.15 1.16 1.17\n";
    return s;
}

std::string errorOf(const std::string& path) {
    Job job;
    try {
        job.read(path);
    } catch (const FileError& e) {
        EXPECT_TRUE(job.untouched()) << path;
        return e.what();
    }
    ADD_FAILURE() << "no FileError for " << path;
    return "";
}

}  // namespace

TEST(ReadGeom, ValuesLayoutsAndImpliedDecimals) {
    // Point list with full double precision; NPA "120" without a point is
    // 0.0012 and truncates to 0, "120." is 120; line 9 is empty.
    std::string s = geomFile("        0.        3.",
                             {"  1.000000  0.00000001", "0.12345678 -0.1", "  1.000000"});
    s.replace(s.find("       48.       10.        8.        4."), 40,
              "       120      120.        8.        4.");
    s.replace(s.find("       10.       15.        1.        2."), 40, "");
    std::string path = tempPath("points.dat");
    writeFile(path, s);
    Job job;
    job.designMode = 1;  // after a design run
    job.read(path);
    EXPECT_EQ(job.mach, 0.75);
    EXPECT_EQ(job.alpha, 1.5);
    EXPECT_EQ(job.sweep, 0.0);
    EXPECT_EQ(job.diag, 0.2);
    EXPECT_EQ(job.resid, 1.0e-5);
    EXPECT_EQ(job.lead, 0.1);
    EXPECT_EQ(job.npa, 0);
    EXPECT_EQ(job.ny, 120);
    EXPECT_EQ(job.k, 8);
    EXPECT_EQ(job.step, 4);
    EXPECT_EQ(job.lin, 0);
    EXPECT_EQ(job.gm, 0);
    EXPECT_EQ(job.lift, 0);
    EXPECT_EQ(job.regime, 0);
    EXPECT_EQ(job.gamma, 1.39999997615814209);
    EXPECT_EQ(job.designMode, 0);
    ASSERT_EQ(job.ncont, 3);
    EXPECT_EQ(job.x(2), 0.12345678);  // no single-precision rounding
    EXPECT_EQ(job.y(2), -0.1);
    EXPECT_EQ(job.y(1), 0.0);  // columns after the field are ignored
    EXPECT_EQ(job.x(3), 1.0);
    EXPECT_EQ(job.y(3), 0.0);   // short line
    EXPECT_EQ(job.x(4), -9.0);  // nothing beyond the contour
    const int given[7] = {1, 4, 6, 7, 8, 10, 13};
    const double ratio[7] = {1.10, 1.12, 1.13, 1.14, 1.15, 1.16, 1.17};
    for (int m = 0; m < 7; ++m) EXPECT_EQ(job.ds(given[m]), ratio[m]);
    EXPECT_EQ(job.ds(2), -9.0);  // filled by the grid generator, not here
    EXPECT_STREQ(job.names.title, "Test section");
    EXPECT_EQ(job.names.titleLen, 13);

    // Common abscissae: n = 3 lines give five points TE -> y1 -> LE -> y2 -> TE,
    // in single precision.
    s = geomFile("        1.        3.",
                 {"  0.000000  0.000000  0.500000", "  0.100000  0.050000 -0.040000",
                  "  1.000000  0.001000 -0.001000"});
    writeFile(path, s);
    Job ca;
    ca.read(path);
    ASSERT_EQ(ca.ncont, 5);
    const float ex[5] = {1.0f, 0.1f, 0.0f, 0.1f, 1.0f};
    const float ey[5] = {0.001f, 0.05f, 0.0f, -0.04f, -0.001f};
    for (int m = 1; m <= 5; ++m) {
        EXPECT_EQ(ca.x(m), static_cast<double>(ex[m - 1])) << m;
        EXPECT_EQ(ca.y(m), static_cast<double>(ey[m - 1])) << m;
    }
    EXPECT_NE(ca.x(2), 0.1);  // only single precision survives
    EXPECT_EQ(ca.x(6), -9.0);

    // No contour lines at all: a common-abscissa file with n = 0 gives -1.
    writeFile(path, geomFile("        1.        0.", {}));
    Job none;
    none.read(path);
    EXPECT_EQ(none.ncont, -1);
}

TEST(ReadGeom, Titles) {
    std::string path = tempPath("title.dat");
    std::string longTitle(100, 'T');
    longTitle[79] = 'E';
    writeFile(path, geomFile("        0.        1.", {"  1.000000"}, longTitle));
    Job job;
    job.read(path);
    EXPECT_EQ(std::string(job.names.title, 80), longTitle.substr(0, 80));
    EXPECT_EQ(job.names.titleLen, 81);
    EXPECT_EQ(std::string(job.names.inputName), path);  // nothing written past the title

    writeFile(path, geomFile("        0.        1.", {"  1.000000"}, "      "));
    job.read(path);
    EXPECT_EQ(job.names.titleLen, 1);
    EXPECT_STREQ(job.names.title, "");

    writeFile(path, geomFile("        0.        1.", {"  1.000000"}, "  A wing   \r"));
    job.read(path);
    EXPECT_STREQ(job.names.title, "  A wing");
    EXPECT_EQ(job.names.titleLen, 9);
}

TEST(ReadGeom, BadFilesNameFileLineAndCause) {
    EXPECT_EQ(errorOf(tempPath("missing.dat")),
              "Cannot open \"" + tempPath("missing.dat") + "\": No such file or directory");

    std::string path = tempPath("bad.dat");
    std::string good = geomFile("        0.        2.", {"  1.000000", "  0.000000"});
    std::string s = good;
    s.replace(s.find("       48.       10."), 20, "       48.     12a.5");
    writeFile(path, s);
    EXPECT_EQ(errorOf(path), "Cannot read \"" + path +
                                 "\", line 7: field 2 (columns 11-20) is not a number: \"12a.5\"");

    // Ends before a line that must be read: after line 7, before the
    // skipped line of the growth ratios, and before the ratios themselves.
    size_t line8 = 0;
    for (int n = 0; n < 7; ++n) line8 = good.find('\n', line8) + 1;
    writeFile(path, good.substr(0, line8));
    EXPECT_EQ(errorOf(path),
              "Cannot read \"" + path + "\", line 8: the file ends before this line");
    writeFile(path, good.substr(0, good.find("caption\n 1.10")));
    EXPECT_EQ(errorOf(path),
              "Cannot read \"" + path + "\", line 15: the file ends before this line");
    writeFile(path, good.substr(0, good.find(" 1.10")));
    EXPECT_EQ(errorOf(path),
              "Cannot read \"" + path + "\", line 16: the file ends before this line");
    writeFile(path, "");
    EXPECT_NE(errorOf(path).find("line 1: the file ends"), std::string::npos);

    // A bad growth ratio: 5-column fields.
    s = good;
    s.replace(s.find(" 1.12"), 5, " 1,12");
    writeFile(path, s);
    EXPECT_EQ(errorOf(path), "Cannot read \"" + path +
                                 "\", line 16: field 2 (columns 6-10) is not a number: \"1,12\"");

    // A count that does not fit an integer.
    s = good;
    s.replace(s.find("       48."), 10, "    1.E+20");
    writeFile(path, s);
    EXPECT_NE(errorOf(path).find("line 7: field 1 (columns 1-10) is too large for an integer"),
              std::string::npos);

    // More points than the contour arrays hold (the limit itself is fine).
    std::vector<std::string> pts(361, "  0.500000  0.000000");
    writeFile(path, geomFile("        0.      361.", pts));
    EXPECT_EQ(errorOf(path),
              "Cannot read \"" + path + "\", line 11: 361 contour points; at most 360 fit");
    pts.resize(360);
    writeFile(path, geomFile("        0.      360.", pts));
    Job full;
    full.read(path);
    EXPECT_EQ(full.ncont, 360);
    std::vector<std::string> lines(181, "  0.500000  0.010000 -0.010000");
    writeFile(path, geomFile("        1.      181.", lines));
    EXPECT_EQ(errorOf(path), "Cannot read \"" + path +
                                 "\", line 11: 181 contour lines in the common-abscissa "
                                 "layout; at most 180 fit");
    lines.resize(180);
    writeFile(path, geomFile("        1.      180.", lines));
    full.read(path);
    EXPECT_EQ(full.ncont, 359);
}

// Codes the reader once took for something else (a layout code of 2 read
// as the point list, a regime of 7 ending in a misleading "would fold"),
// and files with old Mac line ends (CR alone), once one long line.
TEST(ReadGeom, CodesOutOfRangeAndCarriageReturnLineEnds) {
    const std::string path = tempPath("codes.dat");
    const std::string good = geomFile("        0.        2.", {"  1.000000", "  0.000000"});
    for (const char* layout : {"        2.", "       -1."}) {
        std::string s = good;
        s.replace(s.find("        0.        2."), 10, layout);
        writeFile(path, s);
        EXPECT_NE(errorOf(path).find("line 11: layout code"), std::string::npos) << layout;
    }
    std::string s = good;
    s.replace(s.find("        1.        2."), 20, "        1.        7.");
    writeFile(path, s);
    EXPECT_NE(errorOf(path).find("line 9: design regime 7"), std::string::npos);

    std::string mac = good;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    writeFile(path, mac);
    Job a, b;
    a.read(path);
    writeFile(path, good);
    b.read(path);
    EXPECT_EQ(a.ncont, b.ncont);
    EXPECT_EQ(a.npa, b.npa);
    EXPECT_EQ(a.x(2), b.x(2));
    EXPECT_EQ(std::string(a.names.title), std::string(b.names.title));
}

TEST(ReadGeom, SampleFiles) {
    Job a;
    a.read(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012.dat");
    ASSERT_GT(a.ncont, 60);
    ASSERT_LE(a.ncont, kMaxContour);
    EXPECT_GE(a.mach, 0.7);
    EXPECT_LE(a.mach, 0.85);
    const int nx = a.step * (a.npa + 2 * a.k), ny = a.step * a.ny + 1;
    EXPECT_LE(nx, kMaxNXGrid);
    EXPECT_LE(ny, kMaxNY);
    EXPECT_GT(a.resid, 0.0);
    EXPECT_LT(a.resid, 1e-3);
    EXPECT_EQ((a.ncont + 1) / 2 * 2 - 1, a.ncont);  // odd: shared leading edge
    const int le = (a.ncont + 1) / 2;
    EXPECT_EQ(a.x(le), 0.0);
    EXPECT_EQ(a.x(1), 1.0);
    EXPECT_EQ(a.x(a.ncont), 1.0);
    double tmax = 0;
    for (int m = 1; m <= a.ncont; ++m) {
        EXPECT_EQ(a.x(m), a.x(a.ncont + 1 - m));  // symmetric section
        EXPECT_EQ(a.y(m), -a.y(a.ncont + 1 - m));
        if (m < le) {
            EXPECT_GE(a.y(m), 0.0);
        }
        tmax = std::max(tmax, 2 * a.y(m));
    }
    EXPECT_NEAR(tmax, 0.12, 0.001);
    for (int m : {1, 4, 6, 7, 8, 10, 13}) {
        EXPECT_GT(a.ds(m), 1.0);
        EXPECT_LT(a.ds(m), 1.3);
    }

    Job c;
    c.read(std::string(QUAREL_SOURCE_DIR) + "/examples/naca2412.dat");
    const int lc = (c.ncont + 1) / 2;
    EXPECT_EQ(c.ncont % 2, 1);
    EXPECT_EQ(c.x(lc), 0.0);
    double camberMax = 0;
    for (int m = 1; m < lc; ++m) {
        EXPECT_EQ(c.x(m), c.x(c.ncont + 1 - m));
        EXPECT_GE(c.y(m), c.y(c.ncont + 1 - m));
        camberMax = std::max(camberMax, (c.y(m) + c.y(c.ncont + 1 - m)) / 2);
    }
    EXPECT_NEAR(camberMax, 0.02, 0.001);

    Job t;
    t.read(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012_m080.dat");
    EXPECT_EQ(t.mach, 0.8);
    EXPECT_EQ(t.alpha, 1.25);
    EXPECT_LE(t.step * (t.npa + 2 * t.k), kMaxNXGrid);
}

TEST(ReadGeom, NameOf) {
    char field[80];
    std::memset(field, 'a', sizeof field);
    EXPECT_EQ(nameOf(field, 80), std::string(80, 'a'));  // no NUL: all 80
    char longField[160];
    std::memset(longField, 'b', sizeof longField);
    EXPECT_EQ(nameOf(longField, 160).size(), 80u);
    EXPECT_EQ(nameOf("wing.dat\0junk", 13), "wing.dat");
    EXPECT_EQ(nameOf("wing.cp   ", 10), "wing.cp");
}
