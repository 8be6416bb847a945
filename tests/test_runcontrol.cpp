// Run control: "Open", the grid calculation, the coarse-to-fine run and
// the physics the whole chain must reproduce.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <regex>

#include "RunControl.h"
#include "SRV11.h"
#include "gmres.h"
#include "message.h"
#include "plotmath.h"
#include "quarel_job.h"
#include "state.h"

using namespace quarel;
using testjob::Job;
using testjob::ScratchDir;

namespace {

constexpr double kPi = 3.14159265358979323846;

using testjob::Quiet;

// Opens and calculates a job in the scratch directory.
void runJob(RunControl& rc, const ScratchDir& dir, const Job& j, const char* name = "x.dat") {
    rc.open(testjob::writeJob(dir.file(name), j));
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
}

// The small subsonic job most run-control cases calculate: NACA 0012 at
// M 0.5, 1 degree, on a 72 x 17 (Kgrid 4) or 36 x 9 (Kgrid 2) fine grid.
Job smallJob(int kgrid) {
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = kgrid;
    j.mach = 0.5;
    j.alpha = 1.0;
    return j;
}

double liftOf(const Job& j) {
    ScratchDir dir;
    RunControl rc;
    runJob(rc, dir, j);
    return rc.results.clift;
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

// A run keeps its own warnings: inside its scope a warning is recorded in
// its context only, its console text goes out through the outer context
// (quiet switch and sink) and lines it holds back stay its own.
TEST(RunControlMessages, AScopedContextKeepsItsWarnings) {
    std::vector<std::string> seen;
    msg::takeWarnings();
    msg::setQuiet(true);
    msg::setSink([&](msg::Kind, const std::string& text) { seen.push_back(text); });
    msg::Context run;
    {
        const msg::Scope scope(run);
        const msg::Scope again(run);  // already in use: nothing changes
        msg::warning("w");
        msg::ConsoleHold hold(true);
        msg::console("held");
        EXPECT_EQ(seen, std::vector<std::string>{"w"});
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"w", "held"}));
    EXPECT_TRUE(msg::takeWarnings().empty());
    EXPECT_EQ(run.takeWarnings(), std::vector<std::string>{"w"});
    msg::setSink(nullptr);
    msg::setQuiet(false);
}

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

    rc.design.designMode = 1;
    rc.design.globalIteration = 3;
    rc.open(path);
    EXPECT_EQ(rc.runStage(), 1);
    EXPECT_EQ(rc.design.designMode, 0);
    EXPECT_EQ(rc.design.globalIteration, 0);
    EXPECT_EQ(rc.files().inputPath, path);
    EXPECT_EQ(rc.files().pathLength, static_cast<int>(path.size()));
    const std::string stem = path.substr(0, path.size() - 3);
    EXPECT_EQ(rc.files().itrPath, stem + "itr");
    EXPECT_EQ(nameOf(rc.files().names.itrName, 80), stem + "itr");
    EXPECT_EQ(nameOf(rc.files().names.ptlName, 80), stem + "ptl");
    EXPECT_EQ(nameOf(rc.files().names.cpName, 80), stem + "cp");
    EXPECT_EQ(rc.files().names.nameLen, static_cast<int>(path.size()));
    EXPECT_EQ(rc.files().names.cpLen, rc.files().names.nameLen - 1);
    EXPECT_EQ(rc.files().names.itrLen, rc.files().names.nameLen);
    EXPECT_EQ(rc.files().names.ptlLen, rc.files().names.nameLen);
    EXPECT_EQ(nameOf(rc.files().names.title, 80), j.title);
    EXPECT_EQ(rc.job.NPA, 24);
    EXPECT_EQ(rc.job.NCO, 7);
    EXPECT_EQ(rc.job.NBH, 5);
    EXPECT_EQ(rc.job.Kgrid, 4);
    EXPECT_EQ(rc.job.gmresDim, 17);
    EXPECT_EQ(rc.job.designRegime, 2);
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.63);
    EXPECT_DOUBLE_EQ(rc.job.alpha, 1.5);
    EXPECT_DOUBLE_EQ(rc.job.swept, 20.0);
    EXPECT_DOUBLE_EQ(rc.job.diagDom, 0.25);
    EXPECT_DOUBLE_EQ(rc.job.gamma, static_cast<double>(1.4f));
    EXPECT_EQ(rc.job.NCONT, 2 * j.points - 1);

    // Every refusal leaves the open job exactly as it was.
    auto unchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(rc.files().inputPath, path);
        EXPECT_EQ(nameOf(rc.files().names.inputName, 160), path);
        EXPECT_EQ(nameOf(rc.files().names.ptlName, 80), stem + "ptl");
        EXPECT_EQ(rc.files().itrPath, stem + "itr");
        EXPECT_EQ(rc.job.NPA, 24);
        EXPECT_DOUBLE_EQ(rc.job.mach, 0.63);
        EXPECT_EQ(rc.runStage(), 1);
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
        {"Kgrid*NPA over the plot buffers", [](RunControl& r) { r.job.NPA = 250; }},
        {"NX over the grid arrays", [](RunControl& r) { r.job.NBH = 120; }},
        {"NY over the grid arrays", [](RunControl& r) { r.job.NCO = 80; }},
        {"Kgrid not a power of two", [](RunControl& r) { r.job.Kgrid = 3; }},
        {"Kgrid zero", [](RunControl& r) { r.job.Kgrid = 0; }},
        {"GMRES dimension over 30", [](RunControl& r) { r.job.gmresDim = 31; }},
        {"odd panel count", [](RunControl& r) { r.job.NPA = 7, r.job.Kgrid = 1; }},
        {"Mach number 1", [](RunControl& r) { r.job.mach = 1.0; }},
        {"negative Mach number", [](RunControl& r) { r.job.mach = -0.5; }},
        {"angle of attack beyond 20 degrees", [](RunControl& r) { r.job.alpha = -25.0; }},
        {"sweep beyond 70 degrees", [](RunControl& r) { r.job.swept = 75.0; }},
        {"normal angle beyond 25 degrees",
         [](RunControl& r) { r.job.alpha = 15.0, r.job.swept = 60.0; }},
        {"diagonal dominance -1", [](RunControl& r) { r.job.diagDom = -1.0; }},
        {"tolerance 0", [](RunControl& r) { r.job.maxResidual = 0.0; }},
        {"no linear iteration", [](RunControl& r) { r.job.linearIterations = 0; }},
        {"upper surface below the lower one",
         [](RunControl& r) { r.job.YCONT(r.job.NCONT / 4) = -0.2; }},
        {"open trailing edge", [](RunControl& r) { r.job.YCONT(1) += 0.03; }},
        {"shrinking spacing", [](RunControl& r) { r.job.DSGRID(7) = 0.9; }},
        {"growth ratio 2", [](RunControl& r) { r.job.DSGRID(13) = 2.0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunControl r = rc;
        c.apply(r);
        EXPECT_THROW(r.gridCalculation(), ParameterError);
        EXPECT_THROW(r.calculate(), ParameterError);
        EXPECT_EQ(r.runStage(), 1);
        EXPECT_EQ(r.log().size(), 0u);
        EXPECT_EQ(xg(0, 1), 12345.0);
        EXPECT_EQ(phi(3, 2), -777.0);
    }
}

// The contour refusals say what is wrong with the contour.
TEST(RunControlGrid, ContourRefusalsNameTheFault) {
    Quiet q;
    ScratchDir dir;
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), Job()));
    auto message = [&](void (*apply)(JobParameters&)) {
        RunControl r = rc;
        apply(r.job);
        try {
            r.gridCalculation();
        } catch (const ParameterError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message([](JobParameters& p) { p.YCONT(p.NCONT / 4) = -0.2; }).find("crosses itself"),
              std::string::npos);
    EXPECT_NE(message([](JobParameters& p) { p.YCONT(1) += 0.03; }).find("open at the trailing"),
              std::string::npos);
    EXPECT_NE(message([](JobParameters& p) { p.alpha = 30.0; }).find("Alpha=30"),
              std::string::npos);
    // Mirrored: the lower surface first, which once broke the Newton
    // iteration down instead of being refused.
    EXPECT_NE(message([](JobParameters& p) {
                  for (int m = 1; m <= p.NCONT; ++m) p.YCONT(m) = -p.YCONT(m);
              }).find("runs clockwise"),
              std::string::npos);
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
    rc.job.swept = 30.0;
    rc.job.alpha = 2.0;
    rc.job.diagDom = 0.5;
    rc.flowChanged();
    EXPECT_EQ(rc.runStage(), 2);
    rc.gridCalculation();

    // Single-precision constants and rounding, as the panels' angles are
    // turned into the free-stream factors.
    const double sweep = 30.0 * double(3.1415927f) / double(180.0f);
    EXPECT_EQ(rc.freeStream().sweepRad, sweep);
    EXPECT_EQ(rc.freeStream().cosSweep, double(float(std::cos(sweep))));
    EXPECT_EQ(rc.freeStream().sin2Sweep, std::pow(double(float(std::sin(sweep))), 2));
    const double an = 2.0 * double(3.1415927f) / 180.0 / rc.freeStream().cosSweep;
    EXPECT_DOUBLE_EQ(rc.freeStream().alphaN, an);
    EXPECT_EQ(rc.freeStream().cu,
              rc.freeStream().cosSweep * double(float(std::cos(rc.freeStream().alphaN))));
    EXPECT_EQ(rc.freeStream().su,
              rc.freeStream().cosSweep * double(float(std::sin(rc.freeStream().alphaN))));
    EXPECT_NEAR(rc.freeStream().cu * rc.freeStream().cu + rc.freeStream().su * rc.freeStream().su,
                0.75, 1e-6);

    // Fine grid: npa 48, NY 21, k 12, NX 72; first level with step 4.
    EXPECT_EQ(rc.level().gridStep, 4);
    EXPECT_EQ(rc.level().npa, 12);
    EXPECT_EQ(rc.level().NY, 6);
    EXPECT_EQ(rc.level().k, 3);
    EXPECT_EQ(rc.level().NX, 18);
    EXPECT_EQ(rc.level().iMid, 9);
    EXPECT_EQ(rc.design.iLead, 24);
    EXPECT_EQ(rc.runStage(), 2);
    ASSERT_EQ(rc.design.yBody0.size(), 49u);

    // The saved fine grid, the body ordinates and the free-stream potential.
    double xmin = 1e9, xmax = -1e9, ymin = 1e9, ymax = -1e9;
    for (int jj = 1; jj <= 21; ++jj) {
        for (int i = 0; i <= 72; ++i) {
            ASSERT_EQ(xgs(i, jj), xg(i, jj));
            ASSERT_EQ(ygs(i, jj), yg(i, jj));
            ASSERT_DOUBLE_EQ(phis(i, jj),
                             rc.freeStream().cu * xg(i, jj) + rc.freeStream().su * yg(i, jj));
            xmin = std::min(xmin, xg(i, jj));
            xmax = std::max(xmax, xg(i, jj));
            ymin = std::min(ymin, yg(i, jj));
            ymax = std::max(ymax, yg(i, jj));
        }
    }
    for (int i = 12; i <= 60; ++i) EXPECT_EQ(rc.design.yBody0[size_t(i - 12)], yg(i, 1));
    const plot::Extents e = plot::gridExtents(rc.level());
    EXPECT_EQ(e.xMin, xmin);
    EXPECT_EQ(e.xMax, xmax);
    EXPECT_EQ(e.yMin, ymin);
    EXPECT_EQ(e.yMax, ymax);
    // A C-grid around a unit chord reaching several chords out.
    EXPECT_LT(xmin, -1.0);
    EXPECT_GT(xmax, 5.0);
}

TEST(RunControlRun, LevelsLogAndRepeatedCalculation) {
    Quiet q;
    ScratchDir dir;
    Job j = smallJob(4);
    RunControl rc;
    runJob(rc, dir, j);
    std::vector<Level> lv = levels(rc.log().lines());
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
    EXPECT_EQ(rc.status().levelTitle, " Grid: 72 x 17");
    EXPECT_EQ(rc.level().gridStep, 1);
    EXPECT_EQ(rc.level().NX, 72);
    EXPECT_EQ(rc.runStage(), 3);
    EXPECT_LE(std::fabs(rc.status().residual), rc.job.maxResidual);
    // The lift shown is the integrated lift of cpf, also "Clift current=".
    EXPECT_EQ(rc.results.clift, rc.results.cliftCurrent);
    const double c = rc.results.clift;
    const FreeStream& f = rc.freeStream();
    EXPECT_DOUBLE_EQ(
        IntegratedLift(cpf.data(), rc.level().k, rc.level().NX, f.cu, f.su, f.cosSweep), c);
    EXPECT_GT(c, 0.05);
    // The restart and Cp files of the finished analysis.
    struct stat st;
    EXPECT_EQ(stat(dir.file("x.ptl").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 16 * (3 + 73 * 17));
    EXPECT_EQ(stat(dir.file("x.cp").c_str(), &st), 0);

    // A second "Calculation" without change repeats the run exactly.
    const size_t first = rc.log().size();
    const double cd = rc.results.cdrag;
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    ASSERT_EQ(rc.log().size(), 2 * first);
    for (size_t n = 0; n < first; ++n) EXPECT_EQ(rc.log()[first + n], rc.log()[n]);
    EXPECT_EQ(rc.results.clift, c);
    EXPECT_EQ(rc.results.cdrag, cd);

    // The iteration-log file: the header and every line of both runs.
    ASSERT_TRUE(rc.writeIterationLog());
    std::string expected =
        "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n";
    for (const std::string& l : rc.log()) expected += l + "\n";
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
        std::vector<Level> lv = levels(rc.log().lines());
        ASSERT_EQ(lv.size(), 1u);
        EXPECT_EQ(lv[0].nx, 14);
        EXPECT_EQ(lv[0].ny, 4);
        // Converged: nothing to warn about, and the preconditioner is back
        // to its plain form for the next calculation.
        EXPECT_TRUE(rc.warnings().empty());
        EXPECT_TRUE(rc.converged());
        EXPECT_FALSE(rc.newtonSolver().columnSweep());
    }
    j.NPA = 8;
    j.NCO = 2;
    j.NBH = 2;
    j.Kgrid = 2;
    // A tolerance that cannot end a level honestly, or no linear
    // iterations, is refused before anything is calculated.
    for (double tol : {0.0, -1.0}) {
        RunControl rc;
        rc.open(testjob::writeJob(dir.file("x.dat"), j));
        rc.job.maxResidual = tol;
        EXPECT_THROW(rc.calculate(), ParameterError);
        EXPECT_TRUE(rc.log().empty());
    }
    {
        RunControl rc;
        rc.open(testjob::writeJob(dir.file("x.dat"), j));
        rc.job.linearIterations = 0;
        EXPECT_THROW(rc.calculate(), ParameterError);
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
    const double c = swept.freeStream().cosSweep;
    std::vector<double> cpSwept(cpf.data(), cpf.data() + swept.level().NX);

    Job n = j;
    n.sweep = 0.0;
    n.yScale = 1.0 / c;
    RunControl normal;
    normal.open(testjob::writeJob(dir.file("normal.dat"), n));
    normal.job.alpha = swept.freeStream().alphaN * 180.0 / double(3.1415927f);
    normal.job.mach = j.mach * c;
    ASSERT_EQ(normal.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_NEAR(normal.freeStream().alphaN, swept.freeStream().alphaN, 1e-12);
    EXPECT_NEAR(swept.results.clift, c * c * normal.results.clift,
                2e-3 * std::fabs(normal.results.clift));
    // Face by face the pressures agree away from the leading edge, where
    // the two grids differ.
    ASSERT_EQ(normal.level().NX, swept.level().NX);
    for (int i = swept.level().k; i < swept.level().NX - swept.level().k; ++i) {
        if (std::fabs(xg(i, 1)) < 0.1) continue;
        ASSERT_NEAR(cpSwept[size_t(i)], c * c * cpf(i), 0.01) << "face " << i;
    }
    // The scaling is not a small effect: cos^2 30 deg = 0.75.
    EXPECT_GT(std::fabs(swept.results.clift - normal.results.clift),
              0.2 * std::fabs(swept.results.clift));
}

TEST(RunControlGrid, DesignGridKeepsTheJobWhenTheRestartFileIsMissing) {
    Quiet q;
    ScratchDir dir;
    Job j = smallJob(2);
    RunControl rc;
    runJob(rc, dir, j);
    for (int i = 0; i <= rc.level().NX; ++i) cps(i) = cpf(i);  // target = computed
    const double cl = rc.results.clift;
    const double x5 = xg(5, 1), p5 = phi(5, 3), ps5 = phis(5, 3);
    const int nx = rc.level().NX;

    rc.design.designMode = 1;
    rc.job.designLeadBoundary = 0.1;
    ASSERT_EQ(std::remove(dir.file("x.ptl").c_str()), 0);
    rc.job.alpha = 3.0;  // would change the grid ordinates if it were kept
    EXPECT_THROW(rc.gridCalculation(), FileError);
    EXPECT_EQ(rc.level().NX, nx);
    EXPECT_EQ(rc.level().gridStep, 1);
    EXPECT_EQ(rc.runStage(), 3);
    EXPECT_EQ(rc.results.clift, cl);
    EXPECT_EQ(xg(5, 1), x5);
    EXPECT_EQ(phi(5, 3), p5);
    EXPECT_EQ(phis(5, 3), ps5);

    // With the files of the analysis the design grid starts from its
    // potential: the pressures are those of the analysis again.
    rc.job.alpha = 1.0;
    RunControl again;
    runJob(again, dir, j);
    for (int i = 0; i <= again.level().NX; ++i) cps(i) = cpf(i);
    again.design.designMode = 1;
    again.job.designLeadBoundary = 0.1;
    again.gridCalculation();
    EXPECT_EQ(again.runStage(), 2);
    EXPECT_EQ(again.level().gridStep, 1);
    EXPECT_GT(again.design.designEnd, again.level().k);
    EXPECT_LT(again.results.cpDeviation, 1e-6);
    EXPECT_NEAR(again.design.designLift, cl, 1e-6);
}

// A run that breaks down or is stopped puts back everything it changed:
// the arrays, the grid level, the results and the files of the previous
// calculation stay as they were, and the log keeps what was run.
TEST(RunControlRun, BreakdownAndStopLeaveThePreviousResults) {
    Quiet q;
    ScratchDir dir;
    Job j = smallJob(2);
    RunControl rc;
    // A breakdown on the second level of a run (the solver's own
    // breakdowns end the same way).
    auto breakOnLevel2 = [](const Progress& p) -> bool {
        if (p.level == 2 && p.step == 2) throw SolverError("zero diagonal (test)");
        return true;
    };
    // Nothing calculated yet: a breakdown leaves the freshly opened job.
    {
        RunControl first;
        first.open(testjob::writeJob(dir.file("far.dat"), j));
        first.setProgressHook(breakOnLevel2);
        EXPECT_THROW(first.calculate(), SolverError);
        EXPECT_EQ(first.runStage(), 1);
        EXPECT_FALSE(first.hasResults());
        EXPECT_FALSE(first.canViewGrid());
        struct stat st;
        EXPECT_NE(stat(dir.file("far.ptl").c_str(), &st), 0);
        EXPECT_NE(stat(dir.file("far.cp").c_str(), &st), 0);
        EXPECT_FALSE(first.log().empty());  // the lines up to the breakdown
    }

    runJob(rc, dir, j);
    const Results before = rc.results;
    const GridLevel level = rc.level();
    const std::string ptl = testjob::readFile(dir.file("x.ptl"));
    const std::string cp = testjob::readFile(dir.file("x.cp"));
    std::vector<double> cpBefore(cpf.data(), cpf.data() + kCpSize);
    std::vector<double> phiBefore(phi.data(), phi.data() + kGridSize);
    std::vector<double> xgBefore(xg.data(), xg.data() + kGridSize);
    auto unchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(rc.runStage(), 2);  // as the spinner left it: it may run again
        EXPECT_TRUE(rc.hasResults());
        EXPECT_EQ(rc.results.clift, before.clift);
        EXPECT_EQ(rc.results.cdrag, before.cdrag);
        EXPECT_EQ(rc.level().NX, level.NX);
        EXPECT_EQ(rc.level().gridStep, 1);
        EXPECT_EQ(testjob::readFile(dir.file("x.ptl")), ptl);
        EXPECT_EQ(testjob::readFile(dir.file("x.cp")), cp);
        EXPECT_TRUE(std::equal(cpBefore.begin(), cpBefore.end(), cpf.data()));
        EXPECT_TRUE(std::equal(phiBefore.begin(), phiBefore.end(), phi.data()));
        EXPECT_TRUE(std::equal(xgBefore.begin(), xgBefore.end(), xg.data()));
    };

    // A breakdown on a different grid and flow.
    size_t lines = rc.log().size();
    rc.job.mach = 0.6;
    rc.job.alpha = 4.0;
    rc.job.NPA = 16;
    rc.flowChanged();
    rc.setProgressHook(breakOnLevel2);
    EXPECT_THROW(rc.calculate(), SolverError);
    rc.setProgressHook(nullptr);
    unchanged("breakdown");
    EXPECT_GT(rc.log().size(), lines);
    EXPECT_TRUE(rc.resultsStale());  // the panels still show the new inputs

    // A stop after the third Newton step of the second level.
    rc.job = rc.resultsInputs();
    rc.job.alpha = 2.0;
    rc.flowChanged();
    std::vector<Progress> seen;
    rc.setProgressHook([&](const Progress& p) {
        seen.push_back(p);
        return !(p.level == 2 && p.step == 3);
    });
    lines = rc.log().size();
    EXPECT_EQ(rc.calculate(), RunControl::CalcOutcome::Stopped);
    rc.setProgressHook(nullptr);
    unchanged("stop");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().level, 1);
    EXPECT_EQ(seen.front().levels, 2);
    EXPECT_EQ(seen.front().step, 1);
    EXPECT_EQ(seen.back().level, 2);
    EXPECT_EQ(seen.back().NX, level.NX);
    EXPECT_EQ(seen.back().step, 3);
    EXPECT_EQ(seen.back().maxResidual, rc.job.maxResidual);
    // The log has the title and steps of both levels run.
    EXPECT_EQ(rc.log().size(), lines + seen.size() + 2);
    EXPECT_TRUE(rc.calculationOffered());  // it can be run again
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_GT(rc.results.clift, before.clift);
}

// Results belong to the inputs they were computed with: a changed input
// marks them stale, and "Save Result" writes the inputs of the results.
TEST(RunControlRun, ResultsKeepTheirInputs) {
    Quiet q;
    ScratchDir dir;
    Job j = smallJob(2);
    RunControl rc;
    runJob(rc, dir, j);
    EXPECT_FALSE(rc.resultsStale());
    const std::string saved = testjob::readFile(rc.saveResult());
    rc.job.alpha = 1.5;
    EXPECT_TRUE(rc.resultsStale());
    EXPECT_EQ(testjob::readFile(rc.saveResult()), saved);
    rc.job.alpha = 1.0;
    EXPECT_FALSE(rc.resultsStale());
    for (auto change :
         {+[](JobParameters& p) { p.NPA = 14; }, +[](JobParameters& p) { p.DSGRID(4) = 1.2; },
          +[](JobParameters& p) { p.maxResidual = 1e-3; },
          +[](JobParameters& p) { p.swept = 5.0; }}) {
        JobParameters other = rc.job;
        change(other);
        EXPECT_FALSE(SameInputs(rc.job, other));
    }
    // A design-region boundary is not an input of the analysis.
    JobParameters other = rc.job;
    other.designLeadBoundary = 0.3;
    EXPECT_TRUE(SameInputs(rc.job, other));
}

// The threads (the complete factors' subtrees, the factors made beside the
// exact rows) change no bit of a run: a transonic case with complete
// factors on every level and one with the multilevel method.
TEST(RunControlRun, OneAndTwoThreadsGiveTheSameRun) {
    Quiet q;
    Job j = smallJob(4);
    j.mach = 0.78;
    for (int directFrom : {0, 10000}) {
        std::vector<std::string> log[2];
        std::vector<double> phi[2];
        for (int threads : {1, 2}) {
            ScratchDir dir;
            RunControl rc;
            NewtonOptions o = rc.newtonOptions();
            o.threads = threads;
            o.directFrom = directFrom;
            rc.setNewtonOptions(o);
            runJob(rc, dir, j);
            log[threads - 1] = rc.log().lines();
            phi[threads - 1] = rc.finePotential();
        }
        EXPECT_EQ(log[0], log[1]) << directFrom;
        EXPECT_EQ(0, std::memcmp(phi[0].data(), phi[1].data(), phi[0].size() * sizeof(double)))
            << directFrom;
    }
}

// "Calculation" right after "Grid Calculation" starts from that grid instead
// of making it again, and only while its inputs stand: a Mach number or a
// grid size changed in between (written into the job, as the window does)
// gives the result of a run made with it from the start.
TEST(RunControlRun, CalculationTakesTheGridCalculationOnlyWhileItsInputsStand) {
    Quiet q;
    ScratchDir dir;
    const Job j = smallJob(2);
    Job changed = j;
    changed.mach = 0.6;
    changed.NPA = 14;
    const double direct = liftOf(j), other = liftOf(changed);
    ASSERT_NE(direct, other);
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    rc.gridCalculation();
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_EQ(rc.results.clift, direct);
    rc.gridCalculation();
    rc.job.mach = 0.6;
    rc.job.NPA = 14;
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_EQ(rc.results.clift, other);
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

// What the main window offers after each command: the enabling rules of
// the commands, read from the run control's predicates.
struct Offered {
    bool open, gridTab, grid, calculationTab, gridView, calculate, results, cpEdit, problem;
    bool operator==(const Offered& o) const {
        return open == o.open && gridTab == o.gridTab && grid == o.grid &&
               calculationTab == o.calculationTab && gridView == o.gridView &&
               calculate == o.calculate && results == o.results && cpEdit == o.cpEdit &&
               problem == o.problem;
    }
};
std::ostream& operator<<(std::ostream& s, const Offered& o) {
    return s << "open " << o.open << " gridTab " << o.gridTab << " grid " << o.grid
             << " calculationTab " << o.calculationTab << " gridView " << o.gridView
             << " calculate " << o.calculate << " results " << o.results << " cpEdit " << o.cpEdit
             << " problem " << o.problem;
}
Offered offered(const RunControl& rc) {
    return {rc.canOpen(),
            rc.gridTabEnabled(),
            rc.canGridCalculate(),
            rc.calculationTabEnabled(),
            rc.canViewGrid(),
            rc.calculationOffered(),
            rc.canViewResults(),
            rc.canEditCp(),
            rc.problemChoiceEnabled()};
}

TEST(RunControlEnabling, FollowsTheCommands) {
    Quiet q;
    ScratchDir dir;
    Job j = smallJob(2);
    RunControl rc;
    //                      open  gTab  grid  cTab  gView calc  res   cpEd  prob
    EXPECT_EQ(offered(rc), (Offered{true, false, false, false, false, false, false, false, false}));
    // A spinner before any file offers "Calculation", which then reports
    // the missing file.
    rc.flowChanged();
    EXPECT_EQ(offered(rc), (Offered{true, false, false, false, false, true, false, false, false}));
    EXPECT_EQ(rc.calculate(), RunControl::CalcOutcome::NoFile);

    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    EXPECT_EQ(offered(rc), (Offered{false, true, true, false, false, false, false, false, false}));
    // A refused grid calculation changes nothing.
    rc.job.Kgrid = 3;
    EXPECT_THROW(rc.gridCalculation(), ParameterError);
    EXPECT_EQ(offered(rc), (Offered{false, true, true, false, false, false, false, false, false}));
    rc.job.Kgrid = 2;
    rc.gridCalculation();
    EXPECT_EQ(offered(rc), (Offered{false, true, true, true, true, true, false, false, false}));
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_EQ(offered(rc), (Offered{false, true, true, true, true, false, true, true, false}));
    rc.flowChanged();
    EXPECT_EQ(rc.runStage(), 2);
    EXPECT_EQ(offered(rc), (Offered{false, true, true, true, true, true, true, true, false}));

    // The Cp editor hands over a target: design mode, the Inverse tab and
    // the problem choice open, the Grid tab closes.
    rc.acceptTarget();
    EXPECT_EQ(rc.design.designMode, 1);
    EXPECT_EQ(offered(rc), (Offered{false, false, true, true, true, true, true, true, true}));
    rc.setDesignMode(false);
    EXPECT_EQ(rc.design.designMode, 0);
    rc.design.globalIteration = 1;  // after a design iteration no new target
    EXPECT_FALSE(rc.canEditCp());
    rc.design.globalIteration = 0;

    // A breakdown leaves everything as it was before the command.
    rc.job.alpha = 3.0;
    rc.flowChanged();
    rc.setProgressHook([](const Progress&) -> bool { throw SolverError("zero diagonal (test)"); });
    EXPECT_THROW(rc.calculate(), SolverError);
    rc.setProgressHook(nullptr);
    EXPECT_EQ(offered(rc), (Offered{false, false, true, true, true, true, true, true, true}));
}

// Every refinement factor the grid command takes is run level by level;
// a grid with turned-over cells is refused before any flow is calculated.
TEST(RunControlRun, KgridEightRunsFourLevelsAndAFoldedGridIsRefused) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 4;
    j.NCO = 2;
    j.NBH = 1;
    j.Kgrid = 8;
    j.mach = 0.3;
    j.alpha = 1.0;
    RunControl rc;
    runJob(rc, dir, j);
    const std::vector<Level> lv = levels(rc.log().lines());
    ASSERT_EQ(lv.size(), 4u);
    EXPECT_EQ(lv[0].nx, 6);
    EXPECT_EQ(lv[3].nx, 48);
    EXPECT_EQ(lv[3].ny, 17);
    EXPECT_GT(rc.results.clift, 0.05);

    // Ratios of 1.27 and 1.33 over 159 cells fold the trailing-edge region
    // beyond repair (a grid whose interpolated lines merely cross is
    // repaired; see the grid tests).
    Job folded;
    for (double& r : folded.ratios) r = std::pow(r, 2.5);
    folded.NPA = 320;
    folded.NCO = 159;
    folded.NBH = 89;
    folded.Kgrid = 1;
    RunControl bad;
    bad.open(testjob::writeJob(dir.file("folded.dat"), folded));
    try {
        bad.calculate();
        FAIL() << "a folded grid was calculated";
    } catch (const ParameterError& e) {
        EXPECT_NE(std::string(e.what()).find("folded"), std::string::npos) << e.what();
    }
    EXPECT_EQ(bad.runStage(), 1);
    EXPECT_FALSE(bad.hasResults());
    EXPECT_TRUE(bad.log().empty());
    // The grid command itself shows the grid and warns.
    bad.gridCalculation();
    ASSERT_FALSE(bad.warnings().empty());
    EXPECT_NE(bad.warnings().back().find("folded"), std::string::npos);
}

namespace {

// A small two-level grid for flows with strong supersonic regions, run to
// 1e-6.
Job strongFlowJob(double mach, double alpha) {
    Job j;
    j.NPA = 24;
    j.NCO = 6;
    j.NBH = 6;
    j.Kgrid = 2;
    j.mach = mach;
    j.alpha = alpha;
    j.maxResidual = 1e-6;
    return j;
}

}  // namespace

// A result the isentropic model cannot carry is flagged in the warnings and
// in the iteration log.
TEST(RunControlRun, ImplausibleSurfaceMachIsFlagged) {
    Quiet q;
    ScratchDir dir;
    Job j = strongFlowJob(0.8, 6.0);
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    try {
        rc.calculate();
    } catch (const SolverError&) {
        GTEST_SKIP() << "this grid breaks down before it can be judged";
    }
    bool warned = false;
    for (const std::string& w : rc.warnings())
        warned |= w.find("not physical") != std::string::npos;
    EXPECT_TRUE(warned);
    bool logged = false;
    for (const std::string& l : rc.log()) logged |= l.rfind(" Warning: The surface Mach", 0) == 0;
    EXPECT_TRUE(logged);

    // A moderate case is not flagged.
    j.alpha = 1.0;
    j.mach = 0.7;
    RunControl calm;
    runJob(calm, dir, j, "calm.dat");
    for (const std::string& w : calm.warnings())
        EXPECT_EQ(w.find("not physical"), std::string::npos);
}

// NACA 0012 at M 0.9 and 7 degrees: the supersonic region of the upper
// surface runs into the trailing edge at Mach 1.7 and more, with no shock on
// the section to end it, and the isentropic model has no steady flow there.
// The run says so in plain words, besides the surface Mach warning, and
// flags the result; a breakdown in such a flow says so too.  A transonic
// flow with its shock on the section (M 0.8, 1 degree) is not flagged.
TEST(RunControlRun, SupersonicTrailingEdgeHasNoSteadySolution) {
    Quiet q;
    ScratchDir dir;
    Job j = strongFlowJob(0.9, 7.0);
    auto said = [](const RunControl& rc, const char* text) {
        int n = 0;
        for (const std::string& w : rc.warnings()) n += w.find(text) != std::string::npos;
        return n;
    };
    const char* noSolution = "The flow has no steady isentropic solution at these conditions";
    RunControl rc;
    runJob(rc, dir, j);
    EXPECT_EQ(said(rc, noSolution), 1);
    EXPECT_EQ(said(rc, "not physical"), 1);
    EXPECT_TRUE(rc.resultFlagged());
    bool logged = false;
    for (const std::string& l : rc.log())
        logged |= l.find(std::string(" Warning: ") + noSolution) == 0;
    EXPECT_TRUE(logged);

    // A breakdown late on the fine level of the same flow.
    RunControl broken;
    broken.open(testjob::writeJob(dir.file("broken.dat"), j));
    broken.setProgressHook([](const Progress& p) -> bool {
        if (p.level == p.levels && p.step == 8) throw SolverError("zero diagonal (test)");
        return true;
    });
    EXPECT_THROW(broken.calculate(), SolverError);
    EXPECT_EQ(said(broken, "The calculation broke down in a flow that is strongly supersonic"), 1);

    j.mach = 0.8;
    j.alpha = 1.0;
    RunControl calm;
    runJob(calm, dir, j, "calm.dat");
    EXPECT_EQ(said(calm, noSolution), 0);
    EXPECT_FALSE(calm.resultFlagged());
}

namespace {

// Newton steps, last residual and last lift of the first level of a job
// on a 368 x 57 grid (Kgrid 4: the first level is 92 x 15) of NACA 0012;
// the run is stopped when the second level begins.
struct FirstLevel {
    int steps = 0;
    double residual = 1.0, lift = 0.0;
};
FirstLevel firstLevelOf(double mach, double alpha) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 68;
    j.NCO = 14;
    j.NBH = 12;
    j.Kgrid = 4;
    j.mach = mach;
    j.alpha = alpha;
    j.maxResidual = 1e-7;
    j.linearIterations = 20;
    j.gmresDim = 30;
    for (double& r : j.ratios) r = std::pow(r, 40.0 / 56.0);
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    rc.setProgressHook([](const Progress& p) { return p.level == 1; });
    EXPECT_EQ(rc.calculate(), RunControl::CalcOutcome::Stopped);
    rc.setProgressHook(nullptr);
    FirstLevel out;
    for (const std::string& l : rc.log()) {
        if (l.rfind(" Grid: ", 0) == 0) {
            if (out.steps > 0) break;
            continue;
        }
        int itr;
        double cor, r, cl;
        if (std::sscanf(l.c_str(), "%d %lf %*d %*d %lf %*d %*d %lf", &itr, &cor, &r, &cl) == 4) {
            ++out.steps;
            out.residual = r;
            out.lift = cl;
        }
    }
    return out;
}

}  // namespace

// NACA 0012 at M 0.85 and 1 degree, first level (92 x 15) of a 368 x 57
// grid: from the free stream the shock forms and moves aft through the
// field by about a cell per Newton step, each step first raising the
// residual norm.  When the step control took back every such step to the
// fraction that kept the norm at the reference, the shock crept by
// fractions of a cell and the level ran out of its 50 steps; with the norm
// allowed to double after three steps in a row cut back, the level reaches
// the tolerance.
TEST(RunControlRun, MovingShockReachesTheToleranceOnTheCoarseLevel) {
    const FirstLevel l = firstLevelOf(0.85, 1.0);
    EXPECT_LT(l.steps, 50);
    EXPECT_LE(std::fabs(l.residual), 1e-7);
}

// NACA 0012 at M 0.75 and +-6 degrees on the same level: a strongly
// supersonic flow (surface Mach about 1.75) whose shock forms near
// mid-chord and stands 18 cells further aft.  Each step that moves it by a
// cell first takes the face behind it far beyond the flow sought and
// raises the residual norm; with the step control of the later levels
// every such step was cut to 1/4 .. 1/8 and the level ran out of its 50
// steps with the lift still rising.  Now the level reaches the tolerance
// well inside them, at the same lift (with opposite signs: the section is
// symmetric) for both incidences.
TEST(RunControlRun, TravellingShockOfTheStartLevelReachesTheTolerance) {
    const FirstLevel up = firstLevelOf(0.75, 6.0);
    const FirstLevel down = firstLevelOf(0.75, -6.0);
    for (const FirstLevel& l : {up, down}) {
        EXPECT_LE(l.steps, 36);
        EXPECT_LE(std::fabs(l.residual), 1e-7);
    }
    EXPECT_GT(up.lift, 1.9);
    EXPECT_NEAR(up.lift, -down.lift, 1e-4);
}

// Growth ratios that do not suit the grid make the spacing interpolation
// fail at many stations: one warning counts them and shows the first.
TEST(RunControlGrid, InterpolationFaultsAreSummarised) {
    Quiet q;
    ScratchDir dir;
    Job j;
    j.NPA = 48;
    j.NCO = 20;
    j.NBH = 8;
    j.Kgrid = 4;
    for (double& r : j.ratios) r = 1.7;
    RunControl rc;
    rc.open(testjob::writeJob(dir.file("x.dat"), j));
    rc.gridCalculation();
    int summaries = 0, blocks = 0;
    for (const std::string& w : rc.warnings()) {
        if (w.find("interpolation faults") != std::string::npos) ++summaries;
        if (w.find("***") != std::string::npos) ++blocks;
    }
    EXPECT_EQ(summaries, 1);
    EXPECT_EQ(blocks, 1);                 // the first fault, inside the summary
    EXPECT_LE(rc.warnings().size(), 2u);  // and the folded grid
}
