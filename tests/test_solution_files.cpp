// Restart and Cp files: layout byte for byte, round trip, design column and
// target lift, and failures that must leave state and old files intact.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "SRV11.h"
#include "solution_files.h"
#include "message.h"

using namespace quarel;

namespace {

const int NX = 10, NY = 5, K = 2;

std::string dir() {
    return ::testing::TempDir();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

FileNames namesFor(const std::string& stem) {
    FileNames n;
    std::snprintf(n.title, sizeof n.title, "%s", "Flat plate");
    n.titleLen = 11;
    std::snprintf(n.ptlName, sizeof n.ptlName, "%s", (dir() + stem + ".ptl").c_str());
    std::snprintf(n.cpName, sizeof n.cpName, "%s", (dir() + stem + ".cp").c_str());
    return n;
}

// A flat plate from 0 to 1 on the grid NX = 10, k = 2: upper surface
// i = 2..5 (x = 1, 2/3, 1/3, 0), lower surface i = 5..8.  A specified Cp of
// 0 on the upper and 1 on the lower faces; a potential with values that
// text would not keep exactly.
void fillState() {
    const double xs[7] = {1.0, 2.0 / 3, 1.0 / 3, 0.0, 1.0 / 3, 2.0 / 3, 1.0};
    for (int i = 0; i <= NX; ++i) {
        xg(i, 1) = i < K ? 1.0 + (K - i) : i > NX - K ? 1.0 + (i - NX + K) : xs[i - K];
        yg(i, 1) = 0.0;
    }
    for (int i = 0; i < NX; ++i) {
        cpf(i) = -0.5 + 0.1 * i;
        cps(i) = (i >= 5) ? 1.0 : 0.0;
    }
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phis(i, j) = std::sin(i + 11.0 * j) / 3.0;
    phis(1, 1) = -0.0;
    phis(2, 1) = std::numeric_limits<double>::denorm_min();
    phis(3, 1) = 1e300;
}

void setPhi(double v) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = phis(i, j) = v;
}

struct Restart {
    int count = -1, total = -1, end = -3;
    double lift = -4;
    void read(const FileNames& n, double lead = 1.0 / 3) {
        // coef.out goes to the current directory: keep it in the temp dir.
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        ASSERT_EQ(chdir(dir().c_str()), 0);
        const double cu = 0.9, su = 0.1, cosSweep = 0.95;
        try {
            ReadRestart(n, NY, NX, K, count, total, end, lead, cu, su, cosSweep, lift);
        } catch (...) {
            EXPECT_EQ(chdir(cwd), 0);
            throw;
        }
        EXPECT_EQ(chdir(cwd), 0);
    }
};

}  // namespace

TEST(SolutionFiles, RestartAndCpLayout) {
    fillState();
    FileNames n = namesFor("layout");
    SaveSolution(n, NY, NX, K, 1, 17, 42, 0.75, 1.25, 0.0, 0.512344, 12345.0);

    // 3 + 11 * 5 records of 16 bytes.
    std::string ptl = readAll(n.ptlName);
    ASSERT_EQ(ptl.size(), 928u);
    const unsigned char eight[4] = {8, 0, 0, 0};
    for (size_t r = 0; r < 58; ++r) {
        EXPECT_EQ(std::memcmp(ptl.data() + 16 * r, eight, 4), 0) << r;
        EXPECT_EQ(std::memcmp(ptl.data() + 16 * r + 12, eight, 4), 0) << r;
    }
    // Record 1 is 17.0 as a little-endian double: 0x4031000000000000.
    const unsigned char seventeen[8] = {0, 0, 0, 0, 0, 0, 0x31, 0x40};
    EXPECT_EQ(std::memcmp(ptl.data() + 4, seventeen, 8), 0);
    // Record 4 + i + 11 (j - 1) holds phis(i, j): check (3, 2).
    double v;
    std::memcpy(&v, ptl.data() + 16 * (3 + 3 + 11) + 4, 8);
    EXPECT_EQ(v, phis(3, 2));

    std::vector<std::string> cp = linesOf(readAll(n.cpName));
    ASSERT_EQ(cp.size(), 19u);
    EXPECT_EQ(cp[0], "Flat plate" + std::string(70, ' '));
    EXPECT_EQ(cp[1], "   6");
    EXPECT_EQ(cp[2], "<   x    ><   y    >");
    EXPECT_EQ(cp[3], "  1.000000  0.000000");
    EXPECT_EQ(cp[4], "  0.666667  0.000000");
    EXPECT_EQ(cp[9], "  1.000000  0.000000");
    EXPECT_EQ(cp[10], "<   xc   >< CpFact >< CpSpec >");
    EXPECT_EQ(cp[11], "  0.833333 -0.300000  0.000000");  // face 2
    EXPECT_EQ(cp[16], "  0.833333  0.200000  1.000000");  // face 7
    EXPECT_EQ(cp[17], "<  Mach  >< Alpha  ><  Hee   ><   Cy   ><   Cx   >");
    // Too wide for F10.5: asterisks.
    EXPECT_EQ(cp[18], "   0.75000   1.25000   0.00000   0.51234**********");
    EXPECT_EQ(readAll(n.cpName).back(), '\n');
}

TEST(SolutionFiles, RoundTripDesignColumnAndTargetLift) {
    fillState();
    FileNames n = namesFor("trip");
    SaveSolution(n, NY, NX, K, 1, 17, 42, 0.75, 1.25, 0.0, 0.5, 0.01);
    GridArray saved = phis;
    setPhi(99.0);

    Restart r;
    std::remove((dir() + "coef.out").c_str());
    r.read(n);
    EXPECT_EQ(r.count, 17);
    EXPECT_EQ(r.total, 42);
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            EXPECT_EQ(std::memcmp(&phi(i, j), &saved(i, j), 8), 0) << i << "," << j;
            EXPECT_EQ(std::memcmp(&phis(i, j), &saved(i, j), 8), 0) << i << "," << j;
        }
    }
    EXPECT_TRUE(std::signbit(phi(1, 1)));
    // The leading boundary equal to x(4) = 1/3 selects column 4.
    EXPECT_EQ(r.end, 4);
    // Cp 1 below, 0 above a unit plate: Sx = 1, Sy = 0, lift = cu / cos(sweep).
    EXPECT_DOUBLE_EQ(r.lift, 0.9 / 0.95);
    std::ifstream coef(dir() + "coef.out", std::ios::binary);
    EXPECT_TRUE(coef.good());
    EXPECT_EQ(coef.peek(), EOF);

    // A boundary outside the upper surface leaves the design column alone.
    r.end = -3;
    r.read(n, 5.0);
    EXPECT_EQ(r.end, -3);
    r.read(n, 0.9);  // between x(3) = 2/3 and x(2) = 1
    EXPECT_EQ(r.end, 3);
}

TEST(SolutionFiles, MissingShortOrDamagedFilesLeaveStateAlone) {
    fillState();
    FileNames n = namesFor("bad");
    SaveSolution(n, NY, NX, K, 1, 3, 4, 0.75, 1.25, 0.0, 0.5, 0.01);
    const std::string ptl = readAll(n.ptlName), cp = readAll(n.cpName);

    auto expectFailure = [&](const char* what, const std::string& needle) {
        setPhi(7.0);
        Restart r;
        try {
            r.read(n);
            ADD_FAILURE() << what << ": no FileError";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(needle), std::string::npos)
                << what << ": " << e.what();
        }
        EXPECT_EQ(r.count, -1) << what;
        EXPECT_EQ(r.end, -3) << what;
        EXPECT_EQ(r.lift, -4) << what;
        EXPECT_EQ(phi(0, 1), 7.0) << what;
        EXPECT_EQ(phis(NX, NY), 7.0) << what;
    };

    std::remove(n.ptlName);
    expectFailure("missing restart", std::string("\"") + n.ptlName + "\"");
    std::ofstream(n.ptlName, std::ios::binary) << ptl.substr(0, ptl.size() - 16);
    expectFailure("short restart", "holds 57 records");
    std::string damaged = ptl;
    damaged[16 * 20] = 4;
    std::ofstream(n.ptlName, std::ios::binary) << damaged;
    expectFailure("damaged restart", "record 21");

    std::ofstream(n.ptlName, std::ios::binary) << ptl;
    std::remove(n.cpName);
    expectFailure("missing Cp", std::string("\"") + n.cpName + "\"");
    // The reader needs NX - 2k + 5 = 11 lines of the Cp file.
    std::vector<std::string> lines = linesOf(cp);
    std::string ten;
    for (int l = 0; l < 10; ++l) ten += lines[static_cast<size_t>(l)] + "\n";
    std::ofstream(n.cpName, std::ios::binary) << ten;
    expectFailure("short Cp", "line 11");
    std::ofstream(n.cpName, std::ios::binary) << ten + lines[10] + "\n";
    setPhi(7.0);
    Restart ok;
    ok.read(n);
    EXPECT_EQ(phi(0, 1), phis(0, 1));
    EXPECT_NE(phi(0, 1), 7.0);
}

TEST(SolutionFiles, FailedWriteKeepsPreviousFiles) {
    fillState();
    FileNames n = namesFor("keep");
    SaveSolution(n, NY, NX, K, 1, 1, 1, 0.75, 1.25, 0.0, 0.5, 0.01);
    const std::string ptl = readAll(n.ptlName), cp = readAll(n.cpName);

    // The Cp file cannot be created: neither file changes, no leftovers.
    FileNames broken = n;
    std::snprintf(broken.cpName, sizeof broken.cpName, "%s",
                  (dir() + "no_such_dir/keep.cp").c_str());
    phis(0, 1) = 12.5;
    EXPECT_THROW(SaveSolution(broken, NY, NX, K, 1, 2, 2, 0.8, 0, 0, 0, 0), FileError);
    EXPECT_EQ(readAll(n.ptlName), ptl);
    EXPECT_EQ(readAll(n.cpName), cp);
    EXPECT_FALSE(std::ifstream(std::string(n.ptlName) + ".part").good());

    std::snprintf(broken.ptlName, sizeof broken.ptlName, "%s",
                  (dir() + "no_such_dir/keep.ptl").c_str());
    try {
        SaveSolution(broken, NY, NX, K, 1, 2, 2, 0.8, 0, 0, 0, 0);
        ADD_FAILURE() << "no FileError";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("no_such_dir/keep.ptl"), std::string::npos);
    }

    // Grids the arrays cannot hold are refused before anything is written.
    EXPECT_THROW(SaveSolution(n, NY, NX, K, 100, 1, 1, 0, 0, 0, 0, 0), ParameterError);
    EXPECT_THROW(SaveSolution(n, NY, NX, 6, 1, 1, 1, 0, 0, 0, 0, 0), ParameterError);
    EXPECT_EQ(readAll(n.ptlName), ptl);
}
