// The batch program: options, exit codes, output and the files it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "JobFiles.h"
#include "RunDriver.h"
#include "message.h"
#include "quarel_job.h"

using quarel::testjob::Job;
using quarel::testjob::ScratchDir;

namespace {

using Result = quarel::testjob::BatchResult;

Result batch(const std::string& args) {
    return quarel::testjob::runBatch(args);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

Job smallJob() {
    Job j;
    j.NPA = 12;
    j.NCO = 4;
    j.NBH = 3;
    j.Kgrid = 2;
    j.mach = 0.5;
    j.alpha = 1.0;
    return j;
}

double valueAfter(const std::string& text, const std::string& key) {
    const size_t p = text.find(key);
    return p == std::string::npos ? NAN : std::stod(text.substr(p + key.size()));
}

}  // namespace

TEST(Batch, HelpAndRefusedCommandLines) {
    ScratchDir dir;
    const Result help = batch("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: quarel-batch"), std::string::npos);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
    for (const char* opt : {"--alpha", "--mach", "--swept", "--method", "--save", "--quiet"}) {
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
    }

    quarel::testjob::writeJob("x.dat", smallJob());
    const char* usage[] = {
        "",                     // no input file
        "--frobnicate x.dat",   // unknown option
        "--mach 0.995 x.dat",   // above the Mach spinner's range
        "--alpha -86 x.dat",    // below the Alpha spinner's range
        "--swept 90 x.dat",     // above the Swept spinner's range
        "--mach 0.5x x.dat",    // not a number
        "x.dat --alpha",        // missing value
        "x.dat y.dat",          // two files
        "--method fast x.dat",  // unknown linear method
        "x.dat --method",       // missing method
    };
    for (const char* args : usage) {
        SCOPED_TRACE(args);
        const Result r = batch(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("quarel-batch: "), std::string::npos);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
    EXPECT_FALSE(exists("x.itr"));  // nothing ran
    // The design does not take the displacement thickness out of the
    // contour yet: a viscous design is refused, not run wrong.
    std::ofstream("t.txt") << "1 0.1\n0.6 -0.4\n0.2 -0.6\n0 1\n0.2 -0.2\n0.6 -0.1\n1 0.1\n";
    const Result viscousDesign = batch("--re 3e6 --target t.txt --design-iterations 1 x.dat");
    EXPECT_EQ(viscousDesign.code, 1);
    EXPECT_NE(viscousDesign.err.find("inviscid mode only"), std::string::npos);

    const Result missing = batch("missing.dat");
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("missing.dat"), std::string::npos);

    Job big = smallJob();
    big.NPA = 300;
    quarel::testjob::writeJob("big.dat", big);
    const Result param = batch("big.dat");
    EXPECT_EQ(param.code, 3);
    EXPECT_EQ(param.out.find("Clift="), std::string::npos);
    // The log of a job that opened but never ran holds the header only.
    EXPECT_EQ(quarel::testjob::readFile("big.itr"),
              "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n");
}

TEST(Batch, RunsTheAnalysisAndWritesItsFiles) {
    ScratchDir dir;
    quarel::testjob::writeJob("x.dat", smallJob());
    const Result r = batch("--save x.dat");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("File=x.dat"), std::string::npos);
    EXPECT_NE(r.out.find("  Grid: 18 x   5"), std::string::npos);
    EXPECT_NE(r.out.find("  Grid: 36 x   9"), std::string::npos);
    const double cl = valueAfter(r.out, "Clift=");
    const double cd = valueAfter(r.out, "Cdrag=");
    const double cm = valueAfter(r.out, "Cmoment=");
    const double cdp = valueAfter(r.out, "Cdrag(p)=");
    EXPECT_GT(cl, 0.05);
    EXPECT_NE(cm, 0.0);
    EXPECT_GT(cdp, 0.0);
    EXPECT_GE(cd, -1e-3);
    for (const char* f : {"x.ptl", "x.cp", "x.itr", "x_1.out", "grid.out"}) {
        EXPECT_TRUE(exists(f)) << f;
    }
    // Two levels in the log, the iteration lines as printed.
    const std::string log = quarel::testjob::readFile("x.itr");
    EXPECT_NE(log.find("\n Grid: 18 x 5\n"), std::string::npos);
    EXPECT_NE(log.find("\n Grid: 36 x 9\n"), std::string::npos);
    const std::regex line(R"(\n  01  )");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()),
        2);

    // Overrides act like the spinners; --quiet leaves only the results.
    const Result q = batch("--quiet --alpha -1 x.dat");
    ASSERT_EQ(q.code, 0) << q.err;
    EXPECT_EQ(q.out.find("Grid:"), std::string::npos);
    EXPECT_NEAR(valueAfter(q.out, "Clift="), -cl, 1e-4);  // symmetric section
    EXPECT_NEAR(valueAfter(q.out, "Cmoment="), -cm, 1e-5);
    EXPECT_NEAR(valueAfter(q.out, "Cdrag(p)="), cdp, 1e-4);
    const Result m = batch("--quiet --mach 0 --alpha 1 --swept 0 x.dat");
    ASSERT_EQ(m.code, 0) << m.err;
    EXPECT_LT(valueAfter(m.out, "Clift="), cl);  // lower Mach, less lift
    EXPECT_NEAR(valueAfter(m.out, "Cdrag="), 0.0, 1e-12);
}

TEST(Batch, StronglySupersonicCaseIsReportedAsNotPhysical) {
    ScratchDir dir;
    // The sample at M 0.75 and 6 degrees: the supersonic region on the
    // upper surface reaches the trailing edge, with a surface Mach number
    // near 1.8.  The run converges to that solution of the isentropic
    // model, and reports it as not physical (exit code 6) in plain words.
    std::filesystem::copy_file(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012.dat", "x.dat");
    const Result r = batch("--quiet --mach 0.75 --alpha 6 x.dat");
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.out.find("Clift="), std::string::npos);
    EXPECT_NE(r.err.find("the result is not physical"), std::string::npos) << r.err;
    EXPECT_TRUE(exists("x.itr"));
}

TEST(Batch, NotConvergedExitCodeAndLinearMethods) {
    ScratchDir dir;
    // Every linear method converges the small job to the same lift.
    Job j = smallJob();
    quarel::testjob::writeJob("x.dat", j);
    const Result line = batch("--quiet --method line x.dat");
    ASSERT_EQ(line.code, 0) << line.err;
    for (const char* method : {"inexact", "ilu", "multilevel"}) {
        const Result other = batch(std::string("--quiet --method ") + method + " x.dat");
        ASSERT_EQ(other.code, 0) << method << ": " << other.err;
        EXPECT_NEAR(valueAfter(other.out, "Clift="), valueAfter(line.out, "Clift="), 1e-5)
            << method;
    }

    // A tolerance no run can meet: the fine grid ends at its step limit,
    // the results are printed, the warning names the residual and the lift
    // change, and the exit code says the solution is not converged.
    j.maxResidual = 1.0e-30;
    quarel::testjob::writeJob("y.dat", j);
    const Result r = batch("--quiet y.dat");
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.out.find("Clift="), std::string::npos);
    EXPECT_NE(r.err.find("ended after 50 steps at the residual"), std::string::npos) << r.err;
    // The lift itself settles: said so, not "still changing by INF".
    EXPECT_NE(r.err.find("with the lift settled"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("INF"), std::string::npos) << r.err;
    // Nor a "surface Mach number inf" where the speed passed its limit.
    EXPECT_EQ(quarel::MachText(HUGE_VAL).find("inf"), std::string::npos);
    EXPECT_EQ(quarel::MachText(1.234), "1.23");
    EXPECT_NE(r.err.find("quarel-batch: the solution is not converged."), std::string::npos)
        << r.err;
    EXPECT_TRUE(exists("y.ptl"));  // the run itself completed
}

// A converged result the isentropic model cannot carry exits with 6 and
// says why.
TEST(Batch, ImplausibleResultExitCode) {
    ScratchDir dir;
    Job j = smallJob();
    j.NPA = 16;
    j.NCO = 4;
    j.NBH = 4;
    j.Kgrid = 2;
    j.mach = 0.8;
    j.alpha = 6.0;
    j.maxResidual = 1e-7;
    quarel::testjob::writeJob("x.dat", j);
    const Result r = batch("--quiet x.dat");
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.out.find("Clift="), std::string::npos);
    EXPECT_NE(r.err.find("not physical"), std::string::npos);
}

// A design run vouches for nothing its analyses did not converge to: an
// unconverged analysis stops it with exit 5 before any designed section is
// written.
TEST(Batch, DesignRunMeetsTheEndTestOfEveryAnalysis) {
    ScratchDir dir;
    Job j = smallJob();
    quarel::testjob::writeJob("x.dat", j);
    ASSERT_EQ(batch("--quiet x.dat").code, 0);
    j.maxResidual = 1.0e-30;
    quarel::testjob::writeJob("y.dat", j);
    const Result r = batch("--quiet --target x.cp --design-iterations 1 y.dat");
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_NE(r.err.find("not converged"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("y_design.dat"));
}

// Simple sweep theory: the swept run at (M, alpha, sweep) is the normal
// section run at (M cos, alpha / cos) with the ordinates over cos; all four
// figures refer to the free-stream dynamic pressure, so each is cos^2 times
// the normal section's (the moment once came out cos times: 31 % high at
// 40 degrees).  The two grids differ a little (the leading-edge parameter
// of the grid comes from the ordinates before they are divided by cos), so
// the figures agree to that grid's discretisation error: 0.3 % here, and
// 3 % for the pressure drag, whose shock-free part is that error itself.
TEST(Batch, SweptWingFiguresAreCosSquaredTimesTheNormalSections) {
    ScratchDir dir;
    const double c = std::cos(40.0 * 3.14159265358979323846 / 180.0);
    Job swept = smallJob();
    swept.NPA = 32;
    swept.NCO = 6;
    swept.NBH = 6;
    swept.camber = 0.04;
    swept.mach = 0.8;
    swept.alpha = 2.0;
    quarel::testjob::writeJob("s.dat", swept);
    Job normal = swept;
    normal.yScale = 1.0 / c;
    quarel::testjob::writeJob("n.dat", normal);
    const Result s = batch("--quiet --swept 40 s.dat");
    char args[128];
    std::snprintf(args, sizeof args, "--quiet --mach %.12f --alpha %.12f n.dat", 0.8 * c, 2.0 / c);
    const Result n = batch(args);
    ASSERT_EQ(s.code, 0) << s.err;
    ASSERT_EQ(n.code, 0) << n.err;
    for (const char* key : {"Clift=", "Cdrag=", "Cmoment=", "Cdrag(p)="}) {
        const double ratio = valueAfter(s.out, key) / valueAfter(n.out, key);
        EXPECT_NEAR(ratio, c * c, (key[5] == '(' ? 0.05 : 0.01) * c * c) << key;
    }
}

// Every output is replaced whole, never truncated and rewritten: a hard
// link to each old file keeps its old content, as a kill during the write
// would leave it.  Only one process runs a job at a time.
TEST(Batch, OutputsAreReplacedWholeAndOneProcessRunsAJob) {
    ScratchDir dir;
    quarel::testjob::writeJob("x.dat", smallJob());
    const char* files[] = {"x.itr",    "x.ptl",       "x.cp",         "x_1.out",
                           "grid.out", "x_sweep.csv", "x_sweep_01.cp"};
    for (const char* f : files) {
        std::FILE* o = std::fopen(f, "w");
        std::fputs("old\n", o);
        std::fclose(o);
        ASSERT_EQ(link(f, (std::string(f) + ".old").c_str()), 0);
    }
    ASSERT_EQ(batch("--quiet --save x.dat").code, 0);
    ASSERT_EQ(batch("--quiet --alpha-sweep 0:1:1 x.dat").code, 0);
    for (const char* f : files) {
        EXPECT_EQ(quarel::testjob::readFile(std::string(f) + ".old"), "old\n") << f;
        EXPECT_GT(quarel::testjob::readFile(f).size(), 10u) << f;
    }
    for (const auto& e : std::filesystem::directory_iterator("."))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();

    // The lock on the job: another process is refused (the window) or
    // waits (the batch program); this process may lock it again.
    quarel::JobLock held;
    held.acquire("x.dat", false);
    const pid_t child = fork();
    if (child == 0) {
        quarel::JobLock other;
        try {
            other.acquire("x.dat", false);
        } catch (const quarel::FileError&) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 3);
    held.release();
    quarel::JobLock again;
    EXPECT_NO_THROW(again.acquire("x.dat", false));
}

// Values to refuse before any work: an override that --write-input once
// ignored, sweep ranges checked as a whole (a range of 501 points, one
// whose points the solver cannot take).
TEST(Batch, WriteInputTakesTheOverridesAndSweepsAreCheckedWhole) {
    ScratchDir dir;
    quarel::testjob::writeJob("x.dat", smallJob());
    ASSERT_EQ(batch("--quiet --alpha 3.5 --mach 0.6 --write-input y.dat x.dat").code, 0);
    const std::string y = quarel::testjob::readFile("y.dat");
    EXPECT_NE(y.find("\n   0.60000 3.5000000   0.00000\n"), std::string::npos) << y;

    EXPECT_EQ(batch("--quiet --alpha-sweep 21:521:1 x.dat").code, 1);
    const Result r = batch("--quiet --alpha-sweep 18:22:1 x.dat");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("sweep point 4"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("18.0000"), std::string::npos) << r.out;  // no point ran
    EXPECT_FALSE(exists("x_sweep.csv"));
}
