// Polars and Mach sweeps: the range, warm starts from the previous point,
// each point's own Cp file, a failed point marked and passed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "FixedLift.h"
#include "Sweep.h"
#include "message.h"
#include "quarel_job.h"

using namespace quarel;
using testjob::ScratchDir;

TEST(Sweep, RangesParseAndStopAtTheirEnd) {
    SweepSpec s;
    std::string error;
    ASSERT_TRUE(ParseSweep("-2:4:2", SweepSpec::Variable::Alpha, s, error));
    EXPECT_EQ(SweepValues(s), (std::vector<double>{-2.0, 0.0, 2.0, 4.0}));
    ASSERT_TRUE(ParseSweep("0.7:0.6:-0.05", SweepSpec::Variable::Mach, s, error));
    ASSERT_EQ(SweepValues(s).size(), 3u);
    EXPECT_NEAR(SweepValues(s).back(), 0.6, 1e-12);
    ASSERT_TRUE(ParseSweep("0:1:0.3", SweepSpec::Variable::Alpha, s, error));
    EXPECT_EQ(SweepValues(s).size(), 4u);  // 0, 0.3, 0.6, 0.9
    for (const char* bad : {"1:2", "a:b:c", "0:1:0", "0:1:-1", "0:1000:0.001"})
        EXPECT_FALSE(ParseSweep(bad, SweepSpec::Variable::Alpha, s, error)) << bad;
}

TEST(Sweep, PointsStartFromTheirPredecessorAndKeepTheirCp) {
    msg::setQuiet(true);
    ScratchDir dir;
    testjob::Job j;
    j.NPA = 16;
    j.NCO = 5;
    j.NBH = 4;
    j.Kgrid = 2;
    j.mach = 0.5;
    j.alpha = 1.0;
    RunControl run;
    run.open(testjob::writeJob(dir.file("w.dat"), j));
    SweepSpec spec;
    std::string error;
    ASSERT_TRUE(ParseSweep("0.5:0.7:0.05", SweepSpec::Variable::Mach, spec, error));
    // The second point breaks down; the sweep goes on from the first one's
    // solution, and the fifth from the fourth and the third extrapolated.
    int calls = 0;
    run.setProgressHook([&](const Progress& p) -> bool {
        if (run.job.mach > 0.52 && run.job.mach < 0.58 && p.step == 1 && ++calls == 1)
            throw SolverError("zero diagonal (test)");
        return true;
    });
    std::vector<int> seen;
    const auto points =
        RunSweep(run, spec, true, [&](const SweepPoint& p) { seen.push_back(p.index); });
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(points[0].done);
    EXPECT_EQ(points[0].levels, 2);  // coarse to fine
    EXPECT_FALSE(points[1].done);
    EXPECT_NE(points[1].problem.find("zero diagonal"), std::string::npos);
    EXPECT_TRUE(points[2].done);
    EXPECT_EQ(points[2].levels, 2);  // the coarse level from the first point's solution
    EXPECT_TRUE(points[2].converged);
    EXPECT_TRUE(run.warmStarted());
    EXPECT_GT(points[2].clift, points[0].clift);  // compressibility raises the lift slope
    // Each point keeps its own Cp file.
    EXPECT_NE(testjob::readFile(points[0].cpFile), testjob::readFile(points[2].cpFile));
    EXPECT_TRUE(points[1].cpFile.empty());
    // The same points from the free stream give the same lifts.
    for (int n : {2, 4}) {
        RunControl cold;
        cold.open(dir.file("w.dat"));
        cold.job.mach = points[n].mach;
        ASSERT_EQ(cold.calculate(), RunControl::CalcOutcome::Done);
        EXPECT_NEAR(cold.results.clift, points[n].clift, 1e-5 * std::fabs(cold.results.clift));
    }

    const std::string table = SweepTable(points);
    std::istringstream in(table);
    std::vector<std::string> rows;
    for (std::string l; std::getline(in, l);) rows.push_back(l);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].rfind("point,alpha,mach,clift,cdrag,cmoment,converged", 0), 0u);
    EXPECT_NE(rows[2].find(",failed,"), std::string::npos);
    EXPECT_NE(rows[3].find(",yes,2,"), std::string::npos);
    msg::setQuiet(false);
}

// A fixed lift, by the search over whole analyses and inside the Newton
// iteration: the alpha found gives the target lift from the free stream
// too, both find the same alpha, and the run control holds that solution;
// a design run is refused.
TEST(Sweep, FixedLiftAlphaReproducesTheTargetLift) {
    msg::setQuiet(true);
    ScratchDir dir;
    testjob::Job j;
    j.NPA = 16;
    j.NCO = 5;
    j.NBH = 4;
    j.Kgrid = 2;
    j.mach = 0.6;
    j.alpha = 0.0;
    RunControl run;
    run.open(testjob::writeJob(dir.file("f.dat"), j));
    FixedLiftOptions options;
    options.target = 0.3;
    int analyses = 0;
    const FixedLiftResult r = RunFixedLift(run, options, [&](const FixedLiftStep&) { ++analyses; });
    ASSERT_TRUE(r.found) << r.problem;
    EXPECT_EQ(analyses, static_cast<int>(r.steps.size()));
    EXPECT_GT(r.steps.size(), 2u);
    EXPECT_LT(std::fabs(r.clift - 0.3), FixedLiftTolerance(0.3));
    EXPECT_EQ(run.job.alpha, r.alpha);
    EXPECT_EQ(run.results.clift, r.clift);
    RunControl cold;
    cold.open(dir.file("f.dat"));
    cold.job.alpha = r.alpha;
    ASSERT_EQ(cold.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_NEAR(cold.results.clift, 0.3, 2e-5);

    RunControl inside;
    inside.open(dir.file("f.dat"));
    inside.job.fixedLift = true;
    inside.job.clTarget = 0.3;
    ASSERT_EQ(inside.calculate(), RunControl::CalcOutcome::Done);
    EXPECT_TRUE(inside.converged());
    EXPECT_LT(std::fabs(inside.results.clift - 0.3), FixedLiftTolerance(0.3));
    EXPECT_NEAR(inside.job.alpha, r.alpha, 1e-4);

    run.setDesignMode(true);
    EXPECT_THROW(RunFixedLift(run, options), ParameterError);
    inside.setDesignMode(true);
    EXPECT_THROW(inside.calculate(), ParameterError);
    msg::setQuiet(false);
}

// A viscous sweep's table carries the drag split and the transition points,
// in as many fields per row as the header names.
TEST(Sweep, ViscousTableHasTheDragSplitAndTransition) {
    msg::setQuiet(true);
    ScratchDir dir;
    testjob::Job j;
    j.NPA = 32;
    j.NCO = 8;
    j.NBH = 4;
    j.mach = 0.5;
    RunControl run;
    run.open(testjob::writeJob(dir.file("w.dat"), j));
    run.job.viscous.enabled = true;
    run.job.viscous.reynolds = 3.0e6;
    SweepSpec spec;
    std::string error;
    ASSERT_TRUE(ParseSweep("2:3:1", SweepSpec::Variable::Alpha, spec, error));
    const auto points = RunSweep(run, spec, true, nullptr);
    ASSERT_EQ(points.size(), 2u);
    std::istringstream in(SweepTable(points));
    std::vector<std::string> rows;
    for (std::string l; std::getline(in, l);) rows.push_back(l);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].rfind("point,alpha,mach,clift,cdrag,cmoment,cdrag_total,cdrag_f,cdrag_p,"
                            "xtr_upper,xtr_lower,converged,",
                            0),
              0u);
    for (int n = 0; n < 2; ++n) {
        const SweepPoint& p = points[n];
        ASSERT_TRUE(p.converged);
        EXPECT_GT(p.cdFriction, 0.0);
        EXPECT_GT(p.cdTotal, p.cdFriction);
        char fields[128];
        std::snprintf(fields, sizeof fields, ",%.6f,%.6f,%.6f,%.4f,%.4f,", p.cdTotal, p.cdFriction,
                      p.cdTotal - p.cdFriction, p.xtrUpper, p.xtrLower);
        EXPECT_NE(rows[n + 1].find(fields), std::string::npos) << rows[n + 1];
        const std::string unquoted = rows[n + 1].substr(0, rows[n + 1].find('"'));
        EXPECT_EQ(std::count(unquoted.begin(), unquoted.end(), ','),
                  std::count(rows[0].begin(), rows[0].end(), ','));
    }
    // Lift moves the upper transition forward and the lower one back.
    EXPECT_LT(points[1].xtrUpper, points[0].xtrUpper);
    EXPECT_GT(points[1].xtrLower, points[0].xtrLower);
    msg::setQuiet(false);
}
