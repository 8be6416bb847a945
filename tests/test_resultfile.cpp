// Result file ("Save Result") and iteration-log file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "RunControl.h"
#include "message.h"
#include "quarel_job.h"
#include "state.h"

using namespace quarel;
using testjob::Job;
using testjob::ScratchDir;

namespace {

using testjob::Quiet;

// Pads a line with blanks to `width` characters.
std::string padded(std::string s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

std::string printf1(const char* fmt, double v) {
    char b[64];
    std::snprintf(b, sizeof b, fmt, v);
    return b;
}

// The result file of a finished analysis, written out by hand from the
// column layout: each field left-justified in the blanks up to the next.
std::string expectedResult(const RunControl& rc, bool design) {
    std::ostringstream s;
    char b[256];
    s << nameOf(rc.files().names.title, 80) << "\n";
    s << "    npa       nbh       nco       kgr   \n";
    std::snprintf(b, sizeof b, "     %-10d%-10d%-10d%d", rc.level().npa, rc.level().k,
                  rc.level().NY, rc.job.Kgrid);
    s << padded(b, 68) << "\n\n";
    s << "    Mach     Alpha     Swept      Cy        Cx    \n";
    std::snprintf(b, sizeof b, "   %-10.5f%-10.5f%-10.5f%-10.5f%.5f", rc.job.mach, rc.job.alpha,
                  rc.job.swept, rc.results.clift, rc.results.cdrag);
    s << padded(b, 68) << "\n\n";
    s << (design ? "   i        x              y              Cp             M          Cpd\n"
                 : "   i        x              y              Cp             M\n");
    // The ordinates are those of the section as given: the grid holds them
    // divided by the cosine of the sweep.
    for (int i = rc.level().k; i < rc.level().NX - rc.level().k; ++i) {
        std::snprintf(b, sizeof b, "   %-4d%-15.10f%-15.10f%-15.10f%-15.10f", i - rc.level().k + 1,
                      (xg(i, 1) + xg(i + 1, 1)) * 0.5,
                      (yg(i, 1) + yg(i + 1, 1)) * 0.5 * rc.freeStream().cosSweep, cpf(i),
                      amach(i, 1));
        std::string line = b;
        if (design) line += printf1("%.10f", cps(i));
        s << padded(line, 73) << "\n";
    }
    return s.str();
}

}  // namespace

TEST(ResultFile, PlaceAtOverwritesAndLengthens) {
    std::string line(10, ' ');
    placeAt(line, 2, "123");
    EXPECT_EQ(line, "  123     ");
    placeAt(line, 8, "4567");  // reaches past the end: the line grows
    EXPECT_EQ(line, "  123   4567");
    placeAt(line, 4, "ab");  // a later field overwrites the tail of an earlier one
    EXPECT_EQ(line, "  12ab  4567");
    placeAt(line, 40, "z");  // past the end: appended
    EXPECT_EQ(line, "  12ab  4567z");

    const JobFiles files = JobFiles::forInput("/data/wing.dat");
    EXPECT_EQ(files.resultName(1), "/data/wing_1.out");
    EXPECT_EQ(files.resultName(12), "/data/wing_12.out");
    EXPECT_EQ(files.resultName(1234), "/data/wing_1234.out");
}

TEST(ResultFile, MatchesTheLayoutColumnForColumn) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 8;
    j.NCO = 3;
    j.NBH = 2;
    j.Kgrid = 2;
    j.mach = 0.6;
    j.alpha = 1.25;
    j.sweep = 10.0;
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);

    EXPECT_EQ(rc.saveResult(), dir.file("x_1.out"));
    EXPECT_EQ(rc.saveCounter(), 1);
    const std::string text = testjob::readFile(dir.file("x_1.out"));
    EXPECT_EQ(text, expectedResult(rc, false));

    // The fixed columns themselves, on the lines as written.
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 8u + size_t(rc.level().NX - 2 * rc.level().k));
    EXPECT_EQ(lines[1].size(), 40u);
    EXPECT_EQ(lines[2].size(), 68u);
    EXPECT_EQ(lines[2].substr(5, 3), "16 ");
    EXPECT_EQ(lines[2].substr(15, 2), "4 ");
    EXPECT_EQ(lines[2].substr(25, 2), "7 ");
    EXPECT_EQ(lines[2].substr(35, 2), "2 ");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4].size(), 50u);
    EXPECT_EQ(lines[5].substr(0, 23), "   0.60000   1.25000   ");
    EXPECT_EQ(lines[5].substr(23, 8), "10.00000");
    EXPECT_EQ(lines[7].size(), 58u);
    EXPECT_EQ(lines[8].size(), 73u);
    EXPECT_EQ(lines[8].substr(0, 7), "   1   ");
    EXPECT_EQ(lines.back().substr(3, 3), "16 ");  // faces 1 .. npa

    // A second save numbers the next file; the first stays.
    EXPECT_EQ(rc.saveResult(), dir.file("x_2.out"));
    EXPECT_EQ(testjob::readFile(dir.file("x_2.out")), text);

    // Design mode adds the target column.
    for (int i = 0; i <= rc.level().NX; ++i) cps(i) = -0.001 * i;
    rc.design.designMode = 1;
    EXPECT_EQ(rc.saveResult(), dir.file("x_3.out"));
    EXPECT_EQ(testjob::readFile(dir.file("x_3.out")), expectedResult(rc, true));
    rc.design.designMode = 0;

    // A file that cannot be created: FileError, and the counter still
    // advanced so the next save does not reuse the number.
    ASSERT_EQ(mkdir(dir.file("x_4.out").c_str(), 0755), 0);
    EXPECT_THROW(rc.saveResult(), FileError);
    EXPECT_EQ(rc.saveCounter(), 4);
    EXPECT_EQ(rc.saveResult(), dir.file("x_5.out"));
}

TEST(ResultFile, IterationLogFile) {
    Quiet q;
    ScratchDir dir;
    RunControl none;
    EXPECT_FALSE(none.writeIterationLog());  // nothing opened: no name, no file

    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), Job()));
    ASSERT_TRUE(rc.writeIterationLog());
    EXPECT_EQ(testjob::readFile(dir.file("x.itr")),
              "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n");

    ASSERT_EQ(mkdir(dir.file("y.itr").c_str(), 0755), 0);
    RunControl blocked;
    blocked.open(testjob::writeJob(dir.file("y.dat"), Job()));
    EXPECT_FALSE(blocked.writeIterationLog());
}
