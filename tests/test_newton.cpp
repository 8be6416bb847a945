// Newton step and system assembly on a small C-grid around a flat plate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "CDEF1.h"
#include "SOLV1.h"
#include "SRV11.h"
#include "fixedformat.h"
#include "gmres.h"
#include "linear_system_fixture.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "state.h"

using namespace quarel;
using namespace quarel::testing;

namespace {

constexpr int NX = 12, NY = 5, K = 3;

// The plate of the parabolic C-grid (the body 0.5 <= x <= 0.5 + xi_k^2).
void PlateGrid() {
    ParabolicPlateGrid(NX, NY);
}

// The flow arrays as the analysis run initialises them, the potential
// of the free stream (cu, su).
void StartFlow(double cu, double su) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) phi(i, j) = cu * xg(i, j) + su * yg(i, j);
    InitialiseFlowArrays(NY, NX);
    for (int i = 0; i <= NX; ++i) {
        vfx(i) = vdu(i) = 0.0;
        for (int j = 1; j <= NY - 1; ++j) shk(i, j) = 0.0;
    }
    FarFieldValues(K, NX, NY, cu, su);
}

struct Console {
    std::vector<std::string> lines;
    Console() {
        msg::setQuiet(true);
        msg::setSink([this](msg::Kind kind, const std::string& s) {
            if (kind == msg::Kind::Console) lines.push_back(s);
        });
    }
    ~Console() {
        msg::setSink(nullptr);
        msg::setQuiet(false);
    }
};

struct Step {
    NewtonSolver newton;
    int last = 0;  // number of the last step
    StepReport r;
    double res = 0.0, cd = 0.0, cl = 0.0;
    std::string line;
};

// Step number itr of a level: one that does not follow the last begins a
// new level.  The steps use the line method unless told otherwise: most of
// these tests are about its solve.
void RunStep(Step& s, int itr, double mach, double cu, double su, int design = 0, int m = 10,
             int cycles = 20, LinearMethod method = LinearMethod::Line) {
    if (itr != s.last + 1 || s.newton.options().method != method) {
        NewtonOptions options;
        options.method = method;
        s.newton.setOptions(options);
        NewtonProblem p;
        p.NY = NY;
        p.k = K;
        p.NX = NX;
        p.mach = mach;
        p.diagFactor = 1.2;
        p.cu = cu;
        p.su = su;
        p.designFlag = design;
        p.L = K + 2;
        p.cycles = cycles;
        p.m = m;
        p.tol.maxResidual = p.tol.linear = 1e-12;
        s.newton.beginLevel(p);
    }
    s.last = itr;
    s.r = s.newton.step();
    s.res = s.r.residual;
    s.cd = s.r.cdrag;
    s.cl = s.r.clift;
    s.line = s.r.line;
}

}  // namespace

TEST(BuildSystem, FactorsAndBlocksMatchTheScaledRows) {
    // Subsonic, and supersonic where the rows carry upwind terms.
    for (const double mach : {0.6, 1.3}) {
        SCOPED_TRACE(mach);
        PlateGrid();
        StartFlow(0.999, 0.035);
        // Disturb the free stream so that the densities vary.
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i) phi(i, j) += 0.01 * std::sin(1.7 * i + 2.3 * j);
        const double dprime = 1.25;
        BuildSystem(NY, K, NX, mach, 1.4, dprime, 0.0, 0, 0, 0);

        for (int i = NX - K + 1; i <= NX - 1; ++i) EXPECT_EQ(sp0(i, 1), 0.0);
        int upwindRows = 0;
        for (int j = 2; j <= NY - 1; ++j) {
            for (int i = 1; i <= NX - 1; ++i) {
                ASSERT_DOUBLE_EQ(ad1(i, j), 1.0);
                // The product of the lower and upper factors reproduces the
                // scaled row without its diagonal neighbours: the upwind
                // differences on (i-2, i-1) and (i+1, i+2) included (the
                // latter not on line 2, whose upper factor meets the line-1
                // blocks), no fill-in at the two diagonal corners, and a
                // diagonal of (1 + delta) plus the two dropped fill-in terms.
                const double up = i > 2 ? adm(i, j) : 0.0;
                const double down = i < NX - 2 && j > 2 ? adp(i, j) : 0.0;
                if (up != 0.0 || down != 0.0) ++upwindRows;
                const double ceWW = i > 2 ? pce(i - 2, j) : 0.0;
                const double ceeWW = i > 2 ? pcee(i - 2, j) : 0.0;
                const double tol = 1e-13;
                EXPECT_NEAR(pcn(i, j), ad4(i, j), tol);
                EXPECT_NEAR(pww(i, j), -up, tol);
                EXPECT_NEAR(pmw(i, j) + pcn(i, j) * pcw(i, j + 1) + pww(i, j) * ceWW,
                            ad2(i, j) + up, tol);
                EXPECT_NEAR(ppv(i, j) * pce(i, j) + pme(i, j) * pcs(i + 1, j + 1) +
                                pmw(i, j) * pcee(i - 1, j),
                            ad3(i, j) - down, tol);
                EXPECT_NEAR(ppv(i, j) * pcee(i, j), down, tol);
                EXPECT_NEAR(ppv(i, j) * pcs(i, j), ad5(i, j), tol);
                EXPECT_NEAR(pcn(i, j) * pce(i, j + 1) + pme(i, j), 0.0, tol);
                EXPECT_NEAR(ppv(i, j) * pcw(i, j) + pmw(i, j) * pcs(i - 1, j), 0.0, tol);
                EXPECT_NEAR(ppv(i, j) + pmw(i, j) * pce(i - 1, j) + pcn(i, j) * pcs(i, j + 1) +
                                pme(i, j) * pcw(i + 1, j + 1) + pww(i, j) * ceeWW,
                            dprime + pmw(i, j) * pcw(i - 1, j) + pme(i, j) * pce(i + 1, j + 1),
                            tol);
            }
        }
        if (mach > 1.0) {
            EXPECT_GT(upwindRows, (NX - 1) * (NY - 2) / 2);
        } else {
            EXPECT_EQ(upwindRows, 0);
        }
        // The line-1 blocks are those of the factored system: the block
        // solve inside the preconditioner agrees with a dense solve of
        // P z = r.
        const Layout L{NX, NY, K};
        const std::vector<double> r = L.fromGrid(sp0);
        const std::vector<double> expect = DenseSolve(DensePreconditioner(L), r);
        ApplyPreconditioner(*std::make_unique<LineSolver>(), NY, K, NX, sp0, gmz);
        const std::vector<double> got = L.fromGrid(gmz);
        for (size_t q = 0; q < got.size(); ++q)
            EXPECT_NEAR(got[q], expect[q], 1e-11 * MaxAbs(expect)) << q;
    }
}

TEST(BuildSystem, ZeroDiagonalPrintsBrakedownAndThrows) {
    PlateGrid();
    StartFlow(1.0, 0.0);
    // Interior node (5, 3): all four face coefficients vanish.
    cfi(5, 3) = cfi(4, 3) = cfj(5, 3) = cfj(5, 2) = 0.0;
    {
        Console console;
        EXPECT_THROW(BuildSystem(NY, K, NX, 0.0, 1.4, 1.2, 0.0, 0, 0, 0), SolverError);
        ASSERT_EQ(console.lines.size(), 1u);
        EXPECT_EQ(console.lines[0], " Brakedown (1): zero diagonal element   5,  3.");
    }
    // Body node (7, 1) through a Newton step: kind 3, phi untouched.
    StartFlow(1.0, 0.0);
    cfi(7, 1) = cfi(6, 1) = cfj(7, 1) = 0.0;
    static GridArray before;
    before = phi;
    Console console;
    Step s;
    try {
        RunStep(s, 4, 0.0, 1.0, 0.0);
        FAIL() << "no SolverError";
    } catch (const SolverError& e) {
        EXPECT_NE(std::string(e.what()).find("(7, 1)"), std::string::npos) << e.what();
    }
    ASSERT_EQ(console.lines.size(), 1u);
    EXPECT_EQ(console.lines[0], " Brakedown (3): zero diagonal element   7,  1.");
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) ASSERT_EQ(phi(i, j), before(i, j));
}

TEST(NewtonStep, ZeroResidualAndLineFormats) {
    PlateGrid();
    // A potential at rest: every flux vanishes.  A stale shock correction
    // of an earlier transonic run must not enter an incompressible step.
    StartFlow(0.0, 0.0);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i) shk(i, j) = 0.5;
    Console console;
    Step s;
    RunStep(s, 1, 0.0, 0.0, 0.0);
    EXPECT_EQ(s.res, 0.0);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) ASSERT_EQ(phi(i, j), 0.0);
    EXPECT_EQ(s.line, "  01   0.0000E+00  001  001   0.0000E+00  001  001   0.00000   0.00000");
    ASSERT_EQ(console.lines.size(), 2u);
    EXPECT_EQ(console.lines[0], "  Grid: 12 x   5");
    EXPECT_EQ(console.lines[1], s.line);

    // A real step, the second of its level (no grid line after the
    // first): columns of the line.
    StartFlow(std::cos(0.05), std::sin(0.05));
    RunStep(s, 10, 0.0, std::cos(0.05), std::sin(0.05));
    RunStep(s, 11, 0.0, std::cos(0.05), std::sin(0.05));
    const std::string line = s.line;
    ASSERT_EQ(line.size(), 70u) << line;
    EXPECT_EQ(line.substr(0, 4), "  02");
    EXPECT_EQ(line.substr(29, 11), ff::fmtE(s.res, 11, 4));
    EXPECT_EQ(line.substr(50, 10), ff::fmtF(s.cl, 10, 5));
    EXPECT_EQ(line.substr(60, 10), ff::fmtF(s.cd, 10, 5));
    EXPECT_EQ(s.cd, 0.0);
    EXPECT_GT(s.cl, 0.0);  // positive incidence lifts the plate
    for (int c : {17, 18, 22, 23, 27, 28, 40, 41, 45, 46}) EXPECT_EQ(line[c], ' ') << c;
    for (int c : {19, 20, 21, 24, 25, 26, 42, 43, 44, 47, 48, 49})
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[c]))) << c;
    EXPECT_EQ(console.lines.size(), 5u);

    // Design step: the transpiration maxima in the last two columns, no
    // lift or drag.
    StartFlow(1.0, 0.0);
    vfx(4) = -0.3 * std::sqrt(g22i(4, 1));
    vfx(8) = 0.2 * std::sqrt(g22i(7, 1));  // i > NX/2 uses the face i-1
    vdu(K) = 0.125;
    vdu(NX - K) = -0.25;
    for (int i = K; i <= NX - K; ++i) ptc(i) = 0.0;
    RunStep(s, 1, 0.0, 1.0, 0.0, 1);
    EXPECT_EQ(s.cl, 0.0);
    EXPECT_EQ(s.cd, 0.0);
    EXPECT_EQ(s.line.substr(0, 4), "  01");
    EXPECT_EQ(s.line.substr(50), "   0.30000   0.25000");
}

TEST(NewtonStep, ConvergesAndGuardsAgainstNonFinitePotential) {
    PlateGrid();
    const double cu = std::cos(0.04), su = std::sin(0.04);
    for (const double mach : {0.0, 0.5}) {
        StartFlow(cu, su);
        Console console;
        Step s;
        std::vector<double> res;
        for (int itr = 1; itr <= 6; ++itr) {
            RunStep(s, itr, mach, cu, su);
            res.push_back(std::fabs(s.res));
            // The solve removes nearly all of the residual (the run control
            // ends a level whose solves leave it all in place).
            EXPECT_LT(s.r.linearReduction, 1e-2) << "M = " << mach << ", step " << itr;
        }
        // The residual falls at every step until it reaches rounding (once
        // it is small the step solves with the exact matrix).
        for (size_t q = 1; q < res.size(); ++q)
            if (res[q - 1] > 1e-13) {
                EXPECT_LT(res[q], res[q - 1]) << "M = " << mach;
            }
        EXPECT_LT(res.back(), 0.25 * res.front()) << "M = " << mach;
        // The corrections keep the jump across the cut equal to the
        // circulation.
        const double circ = phi(NX - K, 1) - phi(K, 1);
        for (int i = 1; i < K; ++i) EXPECT_NEAR(phi(NX - i, 1) - phi(i, 1), circ, 1e-12);
    }

    // One cycle of dimension 1 leaves much of the residual (in the largest
    // entry even more than there was), yet its correction is of the size
    // of the residual: that is a weak solve, not a stalled one.
    {
        StartFlow(cu, su);
        Console console;
        Step s;
        RunStep(s, 1, 0.5, cu, su, 0, 1, 1);
        EXPECT_GT(s.r.linearReduction, 1e-2);
        EXPECT_GT(s.r.largestCorrection, 0.1 * std::fabs(s.res));
    }

    // A metric that is not a number poisons the system: the step throws
    // and keeps the potential of the previous step, whatever the solve.
    for (const LinearMethod method : {LinearMethod::Line, LinearMethod::Multilevel}) {
        SCOPED_TRACE(LinearMethodName(method));
        StartFlow(cu, su);
        g22j(6, 2) = std::numeric_limits<double>::quiet_NaN();
        static GridArray before;
        before = phi;
        Console console;
        Step s;
        EXPECT_THROW(RunStep(s, 2, 0.0, cu, su, 0, 10, 20, method), SolverError);
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) ASSERT_EQ(phi(i, j), before(i, j)) << i << "," << j;
        GridMetric(NY, NX);
    }
}

TEST(NewtonStep, StepControlTakesBackACorrectionThatMakesThingsWorse) {
    PlateGrid();
    const double cu = std::cos(0.04), su = std::sin(0.04);
    const double mach = 0.5;
    // The residual norm after each step of an undisturbed run.
    auto norm = [] {
        double s = 0.0;
        for (int i = 1; i <= NX - K; ++i) s += sp0(i, 1) * sp0(i, 1);
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i) s += sp0(i, j) * sp0(i, j);
        return std::sqrt(s);
    };
    Console console;
    Step s;
    StartFlow(cu, su);
    RunStep(s, 1, mach, cu, su);
    const double first = norm();
    RunStep(s, 2, mach, cu, su);
    ASSERT_LT(norm(), first);

    // The same start, but the first update made 40 times too long: the
    // second step finds the residual grown and halves the correction until
    // the norm is no larger than the last accepted one.
    StartFlow(cu, su);
    RunStep(s, 1, mach, cu, su);
    for (int j = 1; j <= NY - 1; ++j) {
        for (int i = 1; i <= NX - 1; ++i) {
            phi(i, j) += 39.0 * corr(i, j);
            corr(i, j) *= 40.0;
        }
    }
    FarFieldValues(K, NX, NY, cu, su);
    RunStep(s, 2, mach, cu, su);
    // sp0 still holds the residual of the potential the step went on from:
    // no larger than the one before the bad update.
    const double recovered = norm();
    EXPECT_LE(recovered, first);
    EXPECT_TRUE(std::isfinite(s.res));

    // Without the step before (a new level: the iteration number does not
    // follow), nothing is taken back and the long update stays.
    StartFlow(cu, su);
    RunStep(s, 1, mach, cu, su);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) phi(i, j) += 39.0 * corr(i, j);
    FarFieldValues(K, NX, NY, cu, su);
    RunStep(s, 5, mach, cu, su);
    EXPECT_GT(norm(), 10.0 * first);
}

namespace {

// Local Mach numbers of the i-faces of lines 1 .. NY-1 (amach after
// MachField), infinite where the speed is past what the isentropic model
// allows.
std::vector<double> FaceMachs(double mach) {
    MachField(1.4, mach * mach, 0.0, K, NY, NX);
    std::vector<double> m;
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i)
            m.push_back(std::isfinite(amach(i, j)) ? amach(i, j) : HUGE_VAL);
    return m;
}

}  // namespace

// A start with a few faces beyond the speed the isentropic model allows
// (their Mach numbers infinite), as a start interpolated from a coarse
// level that wandered can have.  The limit on the growth of the supersonic
// regions must stay in force for the other faces: none may end the step
// faster than 0.15 above Mach 2 unless it was already.  With the largest
// Mach number before the step as the reference of the limit, those faces
// lifted it everywhere, and three faces of the plate's field went past
// the isentropic limit in this step.
TEST(NewtonStep, MachLimitHoldsBesideFacesPastTheIsentropicLimit) {
    PlateGrid();
    const double cu = std::cos(0.04), su = std::sin(0.04);
    const double mach = 0.8;
    Console console;
    Step s;
    StartFlow(cu, su);
    phi(7, 2) += 0.5;
    const std::vector<double> before = FaceMachs(mach);
    ASSERT_EQ(*std::max_element(before.begin(), before.end()), HUGE_VAL);
    RunStep(s, 1, mach, cu, su);
    const std::vector<double> after = FaceMachs(mach);
    int faster = 0;
    for (size_t f = 0; f < after.size(); ++f)
        if (after[f] > std::fmax(2.15, before[f]) + 1e-9) ++faster;
    EXPECT_EQ(faster, 0);
    EXPECT_TRUE(std::isfinite(s.res));
}
