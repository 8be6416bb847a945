// Run control: "Open", the grid calculation, the coarse-to-fine run and
// the physics the whole chain must reproduce.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <regex>

#include "RunControl.h"
#include "gmres.h"
#include "message.h"
#include "quarel_job.h"
#include "state.h"

using namespace quarel;
using testjob::Job;
using testjob::ScratchDir;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Quiet {
    Quiet() { msg::setQuiet(true); }
    ~Quiet() { msg::setQuiet(false); }
};

// Opens and calculates a job in the scratch directory.
void runJob(RunControl& rc, const ScratchDir& dir, const Job& j, const char* name = "x.dat") {
    rc.open(testjob::writeJob(dir.file(name), j));
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
}

double liftOf(const Job& j) {
    ScratchDir dir;
    RunControl rc;
    runJob(rc, dir, j);
    return rc.clift;
}

// (NX, NY) of every " Grid: NX x NY" line, and the Newton lines after each.
struct Level {
    int nx, ny, steps;
};
std::vector<Level> levels(const std::vector<std::string>& log, size_t from = 0) {
    std::vector<Level> out;
    const std::regex title(R"( Grid: (\d+) x (\d+))");
    for (size_t n = from; n < log.size(); ++n) {
        std::smatch m;
        if (std::regex_match(log[n], m, title)) {
            out.push_back({std::stoi(m[1]), std::stoi(m[2]), 0});
        } else if (!out.empty()) {
            ++out.back().steps;
        }
    }
    return out;
}

}  // namespace

TEST(RunControlOpen, FillsNamesAndPanelAndRefusesWithoutChange) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.mach = 0.63;
    j.alpha = 1.5;
    j.sweep = 20.0;
    j.diagDom = 0.25;
    j.NPA = 24;
    j.NCO = 7;
    j.NBH = 5;
    j.Kgrid = 4;
    j.gmresDim = 17;
    j.designRegime = 2;
    const std::string path = testjob::writeJob(dir.file("wing.dat"), j);

    RunControl rc;
    EXPECT_FALSE(rc.fileOpen());
    EXPECT_EQ(rc.calculate(), RunControl::CalcOutcome::NoFile);
    rc.flowChanged();  // a spinner before any file: still nothing to calculate
    EXPECT_EQ(rc.calculate(), RunControl::CalcOutcome::NoFile);
    EXPECT_THROW(rc.gridCalculation(), ParameterError);

    rc.designMode = 1;
    rc.globalIteration = 3;
    rc.open(path);
    EXPECT_EQ(rc.runStage, 1);
    EXPECT_EQ(rc.designMode, 0);
    EXPECT_EQ(rc.globalIteration, 0);
    EXPECT_EQ(rc.inputPath, path);
    EXPECT_EQ(rc.pathLength, static_cast<int>(path.size()));
    const std::string stem = path.substr(0, path.size() - 3);
    EXPECT_EQ(rc.itrPath, stem + "itr");
    EXPECT_EQ(nameOf(rc.names.itrName, 80), stem + "itr");
    EXPECT_EQ(nameOf(rc.names.ptlName, 80), stem + "ptl");
    EXPECT_EQ(nameOf(rc.names.cpName, 80), stem + "cp");
    EXPECT_EQ(rc.names.nameLen, static_cast<int>(path.size()));
    EXPECT_EQ(rc.names.cpLen, rc.names.nameLen - 1);
    EXPECT_EQ(rc.names.itrLen, rc.names.nameLen);
    EXPECT_EQ(rc.names.ptlLen, rc.names.nameLen);
    EXPECT_EQ(nameOf(rc.names.title, 80), j.title);
    EXPECT_EQ(rc.NPA, 24);
    EXPECT_EQ(rc.NCO, 7);
    EXPECT_EQ(rc.NBH, 5);
    EXPECT_EQ(rc.Kgrid, 4);
    EXPECT_EQ(rc.gmresDim, 17);
    EXPECT_EQ(rc.designRegime, 2);
    EXPECT_DOUBLE_EQ(rc.mach, 0.63);
    EXPECT_DOUBLE_EQ(rc.alpha, 1.5);
    EXPECT_DOUBLE_EQ(rc.swept, 20.0);
    EXPECT_DOUBLE_EQ(rc.diagDom, 0.25);
    EXPECT_DOUBLE_EQ(rc.gamma, static_cast<double>(1.4f));
    EXPECT_EQ(rc.NCONT, 2 * j.points - 1);

    // Every refusal leaves the open job exactly as it was.
    auto unchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(rc.inputPath, path);
        EXPECT_EQ(nameOf(rc.names.inputName, 160), path);
        EXPECT_EQ(nameOf(rc.names.ptlName, 80), stem + "ptl");
        EXPECT_EQ(rc.itrPath, stem + "itr");
        EXPECT_EQ(rc.NPA, 24);
        EXPECT_DOUBLE_EQ(rc.mach, 0.63);
        EXPECT_EQ(rc.runStage, 1);
    };
    Job other;
    other.NPA = 40;
    other.mach = 0.2;
    const std::string longDir = dir.file(std::string(70, 'd'));
    mkdir(longDir.c_str(), 0755);
    EXPECT_THROW(rc.open(testjob::writeJob(longDir + "/long.dat", other)), FileError);
    unchanged("path longer than 80 characters");
    EXPECT_THROW(rc.open("a.da"), FileError);
    unchanged("path shorter than 5 characters");
    EXPECT_THROW(rc.open(dir.file("missing.dat")), FileError);
    unchanged("missing file");
    EXPECT_THROW(rc.open(testjob::writeJob(dir.file("other.ptl"), other)), FileError);
    unchanged("input named like its own restart file");
    {
        std::ofstream bad(dir.file("bad.dat"));
        bad << "title\n\n  0.5  x  \n";
    }
    EXPECT_THROW(rc.open(dir.file("bad.dat")), FileError);
    unchanged("malformed file");
}

TEST(RunControlGrid, ParameterRefusalsTouchNoArray) {
    Quiet q;
    ScratchDir dir;
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), Job()));
    xg(0, 1) = 12345.0;
    phi(3, 2) = -777.0;
    struct Case {
        const char* what;
        void (*apply)(RunControl&);
    } cases[] = {
        {"Kgrid*NPA over the plot buffers", [](RunControl& r) { r.NPA = 250; }},
        {"NX over the grid arrays", [](RunControl& r) { r.NBH = 120; }},
        {"NY over the grid arrays", [](RunControl& r) { r.NCO = 80; }},
        {"Kgrid not a power of two", [](RunControl& r) { r.Kgrid = 3; }},
        {"Kgrid zero", [](RunControl& r) { r.Kgrid = 0; }},
        {"GMRES dimension over 30", [](RunControl& r) { r.gmresDim = 31; }},
        {"odd panel count", [](RunControl& r) { r.NPA = 7, r.Kgrid = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunControl r = rc;
        c.apply(r);
        EXPECT_THROW(r.gridCalculation(), ParameterError);
        EXPECT_THROW(r.calculate(), ParameterError);
        EXPECT_EQ(r.runStage, 1);
        EXPECT_EQ(r.log.size(), 0u);
        EXPECT_EQ(xg(0, 1), 12345.0);
        EXPECT_EQ(phi(3, 2), -777.0);
    }
}

TEST(RunControlGrid, SizesFreeStreamAndFirstLevel) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 5;
    j.NBH = 3;
    j.Kgrid = 4;
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    rc.swept = 30.0;
    rc.alpha = 2.0;
    rc.diagDom = 0.5;
    rc.flowChanged();
    EXPECT_EQ(rc.runStage, 2);
    rc.gridCalculation();

    // Single-precision constants and rounding, as the panels' angles are
    // turned into the free-stream factors.
    const double sweep = 30.0 * double(3.1415927f) / double(180.0f);
    EXPECT_EQ(rc.sweepRad, sweep);
    EXPECT_EQ(rc.cosSweep, double(float(std::cos(sweep))));
    EXPECT_EQ(rc.sin2Sweep, std::pow(double(float(std::sin(sweep))), 2));
    const double an = 2.0 * double(3.1415927f) / 180.0 / rc.cosSweep;
    EXPECT_DOUBLE_EQ(rc.alphaN, an);
    EXPECT_EQ(rc.cu, rc.cosSweep * double(float(std::cos(rc.alphaN))));
    EXPECT_EQ(rc.su, rc.cosSweep * double(float(std::sin(rc.alphaN))));
    EXPECT_NEAR(rc.cu * rc.cu + rc.su * rc.su, 0.75, 1e-6);
    EXPECT_EQ(rc.diagFactor, 1.5);

    // Fine grid: npa 48, NY 21, k 12, NX 72; first level with step 4.
    EXPECT_EQ(rc.gridStep, 4);
    EXPECT_EQ(rc.npa, 12);
    EXPECT_EQ(rc.NY, 6);
    EXPECT_EQ(rc.k, 3);
    EXPECT_EQ(rc.NX, 18);
    EXPECT_EQ(rc.iMid, 9);
    EXPECT_EQ(rc.iLead, 24);
    EXPECT_EQ(rc.runStage, 2);
    ASSERT_EQ(rc.yBody0.size(), 49u);

    // The saved fine grid, the body ordinates and the free-stream potential.
    double xmin = 1e9, xmax = -1e9, ymin = 1e9, ymax = -1e9;
    for (int jj = 1; jj <= 21; ++jj) {
        for (int i = 0; i <= 72; ++i) {
            ASSERT_EQ(xgs(i, jj), xg(i, jj));
            ASSERT_EQ(ygs(i, jj), yg(i, jj));
            ASSERT_DOUBLE_EQ(phis(i, jj), rc.cu * xg(i, jj) + rc.su * yg(i, jj));
            xmin = std::min(xmin, xg(i, jj));
            xmax = std::max(xmax, xg(i, jj));
            ymin = std::min(ymin, yg(i, jj));
            ymax = std::max(ymax, yg(i, jj));
        }
    }
    for (int i = 12; i <= 60; ++i) EXPECT_EQ(rc.yBody0[size_t(i - 12)], yg(i, 1));
    EXPECT_EQ(rc.gxMin, xmin);
    EXPECT_EQ(rc.gxMax, xmax);
    EXPECT_EQ(rc.gyMin, ymin);
    EXPECT_EQ(rc.gyMax, ymax);
    // A C-grid around a unit chord reaching several chords out.
    EXPECT_LT(xmin, -1.0);
    EXPECT_GT(xmax, 5.0);
}

TEST(RunControlRun, LevelsLogAndRepeatedCalculation) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 4;
    j.mach = 0.5;
    j.alpha = 1.0;
    RunControl rc;
    runJob(rc, dir, j);
    std::vector<Level> lv = levels(rc.log);
    ASSERT_EQ(lv.size(), 3u);
    EXPECT_EQ(lv[0].nx, 18);
    EXPECT_EQ(lv[0].ny, 5);
    EXPECT_EQ(lv[1].nx, 36);
    EXPECT_EQ(lv[1].ny, 9);
    EXPECT_EQ(lv[2].nx, 72);
    EXPECT_EQ(lv[2].ny, 17);
    for (const Level& l : lv) {
        EXPECT_GE(l.steps, 1);
        EXPECT_LE(l.steps, 50);
    }
    EXPECT_EQ(rc.logCount, static_cast<int>(rc.log.size()));
    EXPECT_EQ(rc.levelTitle, " Grid: 72 x 17");
    EXPECT_EQ(rc.gridStep, 1);
    EXPECT_EQ(rc.NX, 72);
    EXPECT_EQ(rc.runStage, 3);
    EXPECT_LE(std::fabs(rc.residual), rc.maxResidual);
    // The lift shown is the integrated lift of cpf, also "Clift current=".
    EXPECT_EQ(rc.clift, rc.cliftCurrent);
    const double c = rc.clift;
    EXPECT_DOUBLE_EQ(rc.integratedLift(cpf.data()), c);
    EXPECT_GT(c, 0.05);
    // The restart and Cp files of the finished analysis.
    struct stat st;
    EXPECT_EQ(stat(dir.file("x.ptl").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 16 * (3 + 73 * 17));
    EXPECT_EQ(stat(dir.file("x.cp").c_str(), &st), 0);

    // A second "Calculation" without change repeats the run exactly.
    const size_t first = rc.log.size();
    const double cd = rc.cdrag;
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    ASSERT_EQ(rc.log.size(), 2 * first);
    for (size_t n = 0; n < first; ++n) EXPECT_EQ(rc.log[first + n], rc.log[n]);
    EXPECT_EQ(rc.clift, c);
    EXPECT_EQ(rc.cdrag, cd);

    // Design mode is refused before anything changes.
    rc.designMode = 1;
    EXPECT_THROW(rc.calculate(), ParameterError);
    EXPECT_EQ(rc.log.size(), 2 * first);
    EXPECT_EQ(rc.clift, c);
    EXPECT_EQ(rc.runStage, 3);

    // The iteration-log file: the header and every line of both runs.
    ASSERT_TRUE(rc.writeIterationLog());
    std::string expected =
        "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n";
    for (const std::string& l : rc.log) expected += l + "\n";
    EXPECT_EQ(testjob::readFile(dir.file("x.itr")), expected);
}

TEST(RunControlRun, OneLevelAndTheStepLimits) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 8;
    j.NCO = 3;
    j.NBH = 3;
    j.Kgrid = 1;
    j.mach = 0.3;
    j.alpha = 1.0;
    {
        RunControl rc;
        runJob(rc, dir, j);
        std::vector<Level> lv = levels(rc.log);
        ASSERT_EQ(lv.size(), 1u);
        EXPECT_EQ(lv[0].nx, 14);
        EXPECT_EQ(lv[0].ny, 4);
        // Converged: nothing to warn about, and the preconditioner is back
        // to its plain form for the next calculation.
        EXPECT_TRUE(rc.warnings.empty());
        EXPECT_TRUE(rc.converged);
        EXPECT_FALSE(ColumnSweepAdded());
    }
    j.NPA = 8;
    j.NCO = 2;
    j.NBH = 2;
    j.Kgrid = 2;
    {
        // maxResidual = 0: no Newton step at all, only the level titles.
        RunControl rc;
        rc.open(testjob::writeJob(dir.file("x.dat"), j));
        rc.maxResidual = 0.0;
        ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
        ASSERT_EQ(rc.log.size(), 2u);
        EXPECT_EQ(rc.log[0], " Grid: 12 x 3");
        EXPECT_EQ(rc.log[1], " Grid: 24 x 5");
        EXPECT_EQ(rc.iterCount, 0);
        // Nothing was solved, and the run says so.
        EXPECT_FALSE(rc.converged);
        ASSERT_EQ(rc.warnings.size(), 1u);
        EXPECT_NE(rc.warnings[0].find("ended after 0 steps"), std::string::npos) << rc.warnings[0];
    }
    {
        // A negative tolerance: 50 steps on every level.
        RunControl rc;
        rc.open(testjob::writeJob(dir.file("x.dat"), j));
        rc.maxResidual = -1.0;
        ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
        std::vector<Level> lv = levels(rc.log);
        ASSERT_EQ(lv.size(), 2u);
        EXPECT_EQ(lv[0].steps, 50);
        EXPECT_EQ(lv[1].steps, 50);
        EXPECT_EQ(rc.iterCount, 50);
        EXPECT_EQ(rc.iterTotal, 50);
        // The fine grid did not reach the tolerance, and the user is told;
        // the coarse level, only a start, is not reported.
        ASSERT_EQ(rc.warnings.size(), 1u);
        EXPECT_NE(rc.warnings[0].find("The Newton iteration on the 24 x 5 grid ended after 50 "
                                      "steps at the residual"),
                  std::string::npos)
            << rc.warnings[0];
        // The warning names both figures of the end test: the residual
        // against its tolerance and the last change of the lift against
        // its limit.
        EXPECT_NE(rc.warnings[0].find("(Max.residual -1.0E+00) with the lift still changing by "),
                  std::string::npos)
            << rc.warnings[0];
        EXPECT_NE(rc.warnings[0].find("per step (settled below "), std::string::npos)
            << rc.warnings[0];
        EXPECT_NE(rc.warnings[0].find("the solution is not converged"), std::string::npos)
            << rc.warnings[0];
        EXPECT_FALSE(rc.converged);
    }
}

TEST(RunControlPhysics, SymmetryLiftSlopeAndCompressibility) {
    Quiet q;
    Job j;
    j.NPA = 32;
    j.NCO = 8;
    j.NBH = 6;
    j.Kgrid = 2;

    // A symmetric section at zero incidence carries no lift.  The surface
    // distribution and the grid carry single-precision constants (pi,
    // 2 pi), which keep the mirror symmetry to about 1e-7 in the
    // coordinates, so "zero" is about 1e-6 here.
    j.alpha = 0.0;
    EXPECT_NEAR(liftOf(j), 0.0, 1e-5);
    j.mach = 0.5;
    EXPECT_NEAR(liftOf(j), 0.0, 1e-5);
    j.mach = 0.0;

    // Thin-aerofoil slope 2 pi per radian, a little more for thickness;
    // antisymmetric in the incidence.
    j.alpha = 2.0;
    const double a = 2.0 * kPi / 180.0;
    const double cl12 = liftOf(j);
    j.alpha = -2.0;
    EXPECT_NEAR(liftOf(j), -cl12, 2e-4 * cl12);
    j.alpha = 2.0;
    EXPECT_GT(cl12 / a, 2.0 * kPi);
    EXPECT_LT(cl12 / a, 2.0 * kPi * 1.2);
    j.thickness = 0.04;
    const double cl4 = liftOf(j);
    EXPECT_GT(cl4 / a, 2.0 * kPi * 0.97);
    EXPECT_LT(cl4, cl12);
    j.thickness = 0.12;

    // Prandtl-Glauert: the lift grows like 1/sqrt(1 - M^2) at low Mach.
    j.mach = 0.3;
    const double ratio = liftOf(j) / cl12;
    EXPECT_NEAR(ratio, 1.0 / std::sqrt(1.0 - 0.09), 0.02);
}

TEST(RunControlPhysics, SweptSectionFollowsNormalSection) {
    Quiet q;
    // An infinite swept wing of sweep L is the normal section (ordinates
    // over cos L, incidence alpha/cos L, Mach M cos L) with the pressures
    // scaled by cos^2 L: Cl(swept) = cos^2 L Cl(normal).  The singular
    // point of the grid's square-root map comes from the file ordinates
    // before they are divided by cu, so the two grids differ a little near
    // the leading edge and the relation holds to the discretisation error.
    Job j;
    j.NPA = 24;
    j.NCO = 6;
    j.NBH = 5;
    j.Kgrid = 2;
    j.maxResidual = 1e-11;
    j.mach = 0.5;
    j.alpha = 2.0;
    j.sweep = 30.0;
    ScratchDir dir;
    RunControl swept;
    runJob(swept, dir, j, "swept.dat");
    const double c = swept.cosSweep;
    std::vector<double> cpSwept(cpf.data(), cpf.data() + swept.NX);

    Job n = j;
    n.sweep = 0.0;
    n.yScale = 1.0 / c;
    RunControl normal;
    normal.open(testjob::writeJob(dir.file("normal.dat"), n));
    normal.alpha = swept.alphaN * 180.0 / double(3.1415927f);
    normal.mach = j.mach * c;
    ASSERT_EQ(normal.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_NEAR(normal.alphaN, swept.alphaN, 1e-12);
    EXPECT_NEAR(swept.clift, c * c * normal.clift, 2e-3 * std::fabs(normal.clift));
    // Face by face the pressures agree away from the leading edge, where
    // the two grids differ.
    ASSERT_EQ(normal.NX, swept.NX);
    for (int i = swept.k; i < swept.NX - swept.k; ++i) {
        if (std::fabs(xg(i, 1)) < 0.1) continue;
        ASSERT_NEAR(cpSwept[size_t(i)], c * c * cpf(i), 0.01) << "face " << i;
    }
    // The scaling is not a small effect: cos^2 30 deg = 0.75.
    EXPECT_GT(std::fabs(swept.clift - normal.clift), 0.2 * std::fabs(swept.clift));
}

TEST(RunControlGrid, DesignGridKeepsTheJobWhenTheRestartFileIsMissing) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 2;
    j.mach = 0.5;
    j.alpha = 1.0;
    RunControl rc;
    runJob(rc, dir, j);
    for (int i = 0; i <= rc.NX; ++i) cps(i) = cpf(i);  // target = computed
    const double cl = rc.clift;
    const double x5 = xg(5, 1), p5 = phi(5, 3), ps5 = phis(5, 3);
    const int nx = rc.NX;

    rc.designMode = 1;
    rc.designLeadBoundary = 0.1;
    ASSERT_EQ(std::remove(dir.file("x.ptl").c_str()), 0);
    rc.alpha = 3.0;  // would change the grid ordinates if it were kept
    EXPECT_THROW(rc.gridCalculation(), FileError);
    EXPECT_EQ(rc.NX, nx);
    EXPECT_EQ(rc.gridStep, 1);
    EXPECT_EQ(rc.runStage, 3);
    EXPECT_EQ(rc.clift, cl);
    EXPECT_EQ(xg(5, 1), x5);
    EXPECT_EQ(phi(5, 3), p5);
    EXPECT_EQ(phis(5, 3), ps5);

    // With the files of the analysis the design grid starts from its
    // potential: the pressures are those of the analysis again.
    rc.alpha = 1.0;
    RunControl again;
    runJob(again, dir, j);
    for (int i = 0; i <= again.NX; ++i) cps(i) = cpf(i);
    again.designMode = 1;
    again.designLeadBoundary = 0.1;
    again.gridCalculation();
    EXPECT_EQ(again.runStage, 2);
    EXPECT_EQ(again.gridStep, 1);
    EXPECT_GT(again.designEnd, again.k);
    EXPECT_LT(again.cpDeviation, 1e-6);
    EXPECT_NEAR(again.designLift, cl, 1e-6);
}

TEST(RunControlRun, BreakdownLeavesTheFineGridAndNoFiles) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 2;
    j.mach = 0.9;
    j.alpha = 85.0;  // far beyond what the scheme can carry: zero diagonal
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    EXPECT_THROW(rc.calculate(), SolverError);
    EXPECT_EQ(rc.runStage, 2);
    EXPECT_EQ(rc.gridStep, 1);
    EXPECT_EQ(rc.NX, 36);
    EXPECT_EQ(rc.NY, 9);
    EXPECT_EQ(rc.k, 6);
    EXPECT_EQ(rc.npa, 24);
    for (int jj = 1; jj <= 9; ++jj) {
        for (int i = 0; i <= 36; ++i) {
            ASSERT_EQ(xg(i, jj), xgs(i, jj));
            ASSERT_EQ(yg(i, jj), ygs(i, jj));
        }
    }
    struct stat st;
    EXPECT_NE(stat(dir.file("x.ptl").c_str(), &st), 0);
    EXPECT_NE(stat(dir.file("x.cp").c_str(), &st), 0);
    // The log keeps the lines up to the breakdown.
    EXPECT_FALSE(rc.log.empty());
}

TEST(RunControlRun, StallWatchCountsOnlyStepsThatChangeNothing) {
    // Three steps in a row whose solve left the residual and whose
    // corrections vanished end the level.
    StallWatch stalled;
    EXPECT_FALSE(stalled.step(0.9999, 1e-9, 1e-5));
    EXPECT_FALSE(stalled.step(1.0, 1e-10, 1e-5));
    EXPECT_TRUE(stalled.step(1.0, 1e-11, 1e-5));

    // A step that reduces the residual, or one whose correction is of the
    // residual's size (a weak solve), starts the count again.
    StallWatch progressing;
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(0.5, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(1.2, 3e-6, 1e-5));
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_FALSE(progressing.step(1.0, 1e-9, 1e-5));
    EXPECT_TRUE(progressing.step(1.0, 1e-9, 1e-5));
}
