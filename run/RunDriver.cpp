#include "RunDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "LevelConvergence.h"
#include "SOLV1.h"
#include "SRV11.h"
#include "ViscousCoupling.h"
#include "constants.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

// Newton steps allowed on one grid level.
constexpr int kMaxLevelSteps = 50;

// Beyond this surface Mach number the shock in front of it is too strong for
// an isentropic model: the entropy it would produce is no longer small.
constexpr double kPlausibleSurfaceMach = 1.6;
// A fine-grid lift that differs from the coarser level's by more than this
// share (and by more than the floor) is reported.
constexpr double kLiftJump = 0.25;
constexpr double kLiftJumpFloor = 0.05;

}  // namespace

std::string MachText(double mach) {
    if (!std::isfinite(mach))
        return "beyond any value (the speed exceeds the largest one the gas can reach)";
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", mach);
    return b;
}

void RunDriver::run(const JobParameters& job, const FreeStream& flow, const DesignRows& design,
                    const ProgressHook& progress) {
    // Every calculation starts with the plain line preconditioner; a level
    // that stalls adds the column sweep for the rest of the calculation.
    struct ColumnSweepOff {
        NewtonSolver& newton;
        explicit ColumnSweepOff(NewtonSolver& n) : newton(n) { newton.setColumnSweep(false); }
        ~ColumnSweepOff() { newton.setColumnSweep(false); }
    } columnSweepOff(newton_);
    double previousLift = 0.0;  // lift at the end of the next coarser level
    std::string previousTitle;
    status_.converged = false;
    status_.implausible = false;
    results_.viscous = ViscousResults();
    // A fixed-lift run moves alpha from step to step; the levels, the
    // boundary layer and the results follow the free stream as it stands.
    flowNow_ = flow;
    if (job.fixedLift) flowNow_.setAlphaNExact(flow.alphaN);
    try {
        for (;;) {
            prepareLevel(flowNow_);
            iterateLevel(job, flowNow_, progress);
            if (level_.isFine()) {
                if (job.viscous.enabled) {
                    ViscousCoupling coupling(level_, flowNow_, job.viscous);
                    coupleBoundaryLayer(job, flowNow_, progress, coupling);
                }
                postProcess(job, flowNow_, design);
                // A viscous lift is not comparable with the coarser level's
                // inviscid one: no lift-jump check then.
                checkPlausibility(flowNow_, previousLift,
                                  job.viscous.enabled ? std::string() : previousTitle);
                break;
            }
            previousLift = results_.clift;
            previousTitle = status_.levelTitle;
            // Refine: the next level is sampled from the saved fine grid.
            RestoreFineGrid(level_);
            level_ = level_.refined();
            status_.iterCount = 0;
        }
    } catch (const SolverError&) {
        reportSupersonicBreakdown(flowNow_);
        // Leave a consistent job behind: the fine grid with its sizes, so
        // the grid picture and a new grid calculation start from sound data.
        RestoreFineGrid(level_);
        level_ = level_.fineLevel();
        throw;
    } catch (const RunStopped&) {
        RestoreFineGrid(level_);
        level_ = level_.fineLevel();
        throw;
    }
}

NewtonProblem NewtonProblemOf(const GridLevel& level, const FreeStream& flow,
                              const JobParameters& job, const Tolerances& tol) {
    NewtonProblem p;
    p.NY = level.NY;
    p.k = level.k;
    p.NX = level.NX;
    p.mach = flow.mach;
    p.gamma = flow.gamma;
    p.diagFactor = job.diagDom + 1.0;
    p.cu = flow.cu;
    p.su = flow.su;
    p.liftRef = flow.cosSweep;
    p.s2 = flow.sin2Sweep;
    p.entropy = job.entropy;
    p.fixedLift = job.fixedLift;
    p.liftTarget = job.clTarget;
    p.alphaN = flow.alphaN;
    p.cycles = job.linearIterations;
    p.m = job.gmresDim;
    p.tol = tol;
    return p;
}

void RestoreFineGrid(const GridLevel& level) {
    const int nxf = level.fineNX();
    const int nyf = level.fineNY();
    for (int j = 1; j <= nyf; ++j) {
        for (int i = 0; i <= nxf; ++i) {
            xg(i, j) = xgs(i, j);
            yg(i, j) = ygs(i, j);
        }
    }
}

void SaveFineGrid(int NX, int NY) {
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            xgs(i, j) = xg(i, j);
            ygs(i, j) = yg(i, j);
        }
    }
}

void ClearTranspiration(int NX, std::vector<double>& dy) {
    for (int i = 0; i <= NX; ++i) {
        vfx(i) = 0.0;
        vdu(i) = 0.0;
        dy[static_cast<size_t>(i)] = 0.0;
    }
}

void RunDriver::prepareLevel(const FreeStream& flow) {
    const int NX = level_.NX, NY = level_.NY, step = level_.gridStep;
    for (int j = 1; j <= NY; ++j) {
        const int jf = (j - 1) * step + 1;
        for (int i = 0; i <= NX; ++i) {
            const int i_f = i * step;
            xg(i, j) = xgs(i_f, jf);
            yg(i, j) = ygs(i_f, jf);
            phi(i, j) = phis(i_f, jf);
        }
    }
    GridMetric(level_.NY, level_.NX);
    FarField(flow.mach, level_.NX, level_.NY, flow.cosSweep);
    InitialiseFlowArrays(level_.NY, level_.NX);
    FarFieldValues(level_.k, level_.NX, level_.NY, flow.cu, flow.su);
}

void RunDriver::iterateLevel(const JobParameters& job, const FreeStream& flow,
                             const ProgressHook& progress, bool quiet) {
    const Tolerances tol = Tolerances::analysis(job.maxResidual);
    const double maxResidual = tol.maxResidual;
    status_.iterCount = 0;
    status_.iterTotal = 0;
    status_.residual = tol.startResidual();
    status_.levelTitle = " Grid: " + std::to_string(level_.NX) + " x " + std::to_string(level_.NY);
    log_.append(job.entropy.enabled ? status_.levelTitle + "   Non-isentropic potential"
                                    : status_.levelTitle);
    StallWatch stall;
    // The level ends when the residual is below the tolerance and the lift
    // has stopped changing.
    LevelConvergence test(maxResidual);
    // A tolerance of 0 asks for no step at all (the start value of the
    // residual, ten times the tolerance, is not above it); such a level has
    // not converged.
    const bool anyStep = std::fabs(status_.residual) > maxResidual;
    // The first level of a run on a coarser grid: in an analysis it starts
    // from the free stream, and its shocks travel furthest.
    const bool startLevel = level_.gridStep > 1 && level_.gridStep == job.Kgrid;
    newton_.beginLevel(NewtonProblemOf(level_, flow, job, tol), startLevel);
    // A fixed-lift run ends the fine level only once the lift is met too.
    auto done = [&]() {
        return test.converged() &&
               (!job.fixedLift || !level_.isFine() ||
                std::fabs(results_.clift - job.clTarget) < FixedLiftTolerance(job.clTarget));
    };
    while (anyStep && !done() && status_.iterCount < kMaxLevelSteps) {
        ++status_.iterTotal;
        ++status_.iterCount;
        const StepReport step = newton_.step();
        if (job.fixedLift) flowNow_.setAlphaNExact(newton_.alphaN());
        status_.residual = step.residual;
        results_.cdrag = step.cdrag;
        results_.clift = step.clift;
        log_.append(step.line);
        test.step(step.residual, step.clift, step.keptFraction, step.linearReduction);
        if (progress) {
            Progress p;
            for (int s = job.Kgrid; s > 1; s /= 2) ++p.levels;
            p.level = p.levels;
            for (int s = level_.gridStep; s > 1; s /= 2) --p.level;
            p.NX = level_.NX;
            p.NY = level_.NY;
            p.step = status_.iterCount;
            p.residual = status_.residual;
            p.maxResidual = maxResidual;
            p.clift = results_.clift;
            p.report = step;
            if (!progress(p)) throw RunStopped("The calculation was stopped.");
        }
        const double residual = std::fabs(status_.residual);
        if (stall.step(step.linearReduction, step.largestCorrection, residual) && !done()) {
            if (!newton_.columnSweep()) {
                // The line factorisation leaves GMRES stalled: march through
                // the supersonic regions with column solves from here on.
                newton_.setColumnSweep(true);
                stall.reset();
                continue;
            }
            if (!quiet)
                msg::warning(levelReport("stalled at the residual", maxResidual) +
                             ": the linear solver no longer reduces it, so the level was ended "
                             "after " +
                             std::to_string(status_.iterCount) +
                             " steps. The solution is not converged: near a shock or sonic line "
                             "the lift can then be several per cent from the converged value of "
                             "this grid.");
            if (level_.isFine()) status_.converged = false;
            finishLevel();
            return;
        }
    }
    // The result of the run is that of the fine grid: say so when it did
    // not converge (a coarse level only provides a start).
    if (level_.isFine()) {
        status_.converged = done();
        if (!status_.converged && test.converged() && !quiet) {
            char b[200];
            std::snprintf(b, sizeof b,
                          "The Newton iteration on the %d x %d grid ended after %d steps with "
                          "Clift %.6f, not the %.6f asked for: the solution is not converged.",
                          level_.NX, level_.NY, status_.iterCount, results_.clift, job.clTarget);
            msg::warning(b);
        } else if (!status_.converged && !quiet) {
            char change[32], limit[32];
            std::snprintf(change, sizeof change, "%.3E", test.liftChange());
            std::snprintf(limit, sizeof limit, "%.1E", test.liftLimit());
            // The change of the last step is not known when its linear
            // solve left most of its residual; a settled lift is said so.
            const std::string lift =
                test.liftSettled() ? " with the lift settled"
                : std::isfinite(test.liftChange())
                    ? std::string(" with the lift still changing by ") + change +
                          " per step (settled below " + limit + ")"
                    : std::string(
                          " after a last step whose linear solve left more than half of "
                          "its residual, so that the change of the lift is not known");
            msg::warning(levelReport("ended after " + std::to_string(status_.iterCount) +
                                         " steps at the residual",
                                     maxResidual) +
                         lift +
                         ": the solution is not converged, and Clift and Cdrag are not those "
                         "of this grid.");
        }
    }
    finishLevel();
}

std::string RunDriver::levelReport(const std::string& what, double maxResidual) const {
    char res[32];
    std::snprintf(res, sizeof res, "%.3E", std::fabs(status_.residual));
    char tol[32];
    std::snprintf(tol, sizeof tol, "%.1E", maxResidual);
    return "The Newton iteration on the " + std::to_string(level_.NX) + " x " +
           std::to_string(level_.NY) + " grid " + what + " " + res + " (Max.residual " + tol + ")";
}

void RunDriver::finishLevel() {
    status_.fineNX = level_.fineNX();
    status_.fineNY = level_.fineNY();
    CoarseToFine(status_.fineNX, status_.fineNY, level_.gridStep);
}

void RunDriver::postProcess(const JobParameters& job, const FreeStream& flow,
                            const DesignRows& design) {
    const int NX = level_.NX, NY = level_.NY, k = level_.k;
    if (flow.mach != 0.0) MachField(flow.gamma, flow.mach2, flow.sin2Sweep, k, NY, NX);
    results_.clift = 0.0;
    SurfaceResults(NY, k, NX, flow.mach, flow.gamma, results_.cdrag, results_.clift, flow.cu,
                   flow.su, flow.cosSweep, flow.sin2Sweep, job.entropy, results_.cpStar);
    PressureForces(k, NX, flow.cu, flow.su, flow.cosSweep, results_.cmoment,
                   results_.cdragPressure);
    if (design.designMode == 1) results_.cpDeviation = CpDeviation(level_, design);
    if (job.entropy.enabled) {
        // The drag the entropy of the shocks implies, beside the wave drag
        // of the scheme (SurfaceResults left the densities of phi).
        char b[96];
        std::snprintf(b, sizeof b, " Entropy drag of the shocks (wake entropy flux): %.6f",
                      EntropyDrag(NY, k, NX, flow.mach, flow.gamma, flow.cosSweep));
        log_.append(b);
    }
}

void RunDriver::checkPlausibility(const FreeStream& flow, double previousLift,
                                  const std::string& previousTitle) {
    const int NX = level_.NX, k = level_.k;
    // The Mach number in the section plane, normal to the leading edge:
    // the spanwise speed of a swept wing crosses no shock.
    double machMax = 0.0;
    int iMax = k;
    for (int i = k; i <= NX - k - 1; ++i) {
        const double q2 = q2f(i);
        const double m =
            flow.mach == 0.0 ? 0.0 : amach(i, 1) * std::sqrt(q2 / (q2 + flow.sin2Sweep));
        if (m > machMax) {
            machMax = m;
            iMax = i;
        }
    }
    auto warn = [this](const std::string& text) {
        status_.implausible = true;
        msg::warning(text);
        log_.append(" Warning: " + text);
    };
    char b[512];
    if (machMax > kPlausibleSurfaceMach) {
        std::snprintf(b, sizeof b,
                      "The surface Mach number (in the section plane) reaches %s (face %d, "
                      "x = %.3f), beyond %.1f, "
                      "where the isentropic potential model no longer describes the flow: the "
                      "shock is too strong and the result is not physical.",
                      MachText(machMax).c_str(), iMax - k + 1,
                      0.5 * (xg(iMax, 1) + xg(iMax + 1, 1)), kPlausibleSurfaceMach);
        warn(b);
    }
    // A supersonic region that reaches the trailing edge strongly
    // supersonic has no shock on the section to end it: the isentropic
    // model has no steady flow to offer there, only the discrete equations'
    // solution with its shock at the trailing edge.  The region reaches the
    // edge when the faces from the edge up to its peak are all supersonic.
    auto sectionMach = [&](int i) {
        const double q2 = q2f(i);
        return flow.mach == 0.0 ? 0.0 : amach(i, 1) * std::sqrt(q2 / (q2 + flow.sin2Sweep));
    };
    auto peakAtEdge = [&](int edge, int step) {
        double peak = 0.0;
        for (int i = edge; i >= k && i <= NX - k - 1; i += step) {
            const double m = sectionMach(i);
            if (!(m > 1.0)) break;
            peak = std::max(peak, m);
        }
        return peak;
    };
    const double upperTE = peakAtEdge(k, 1);
    const double lowerTE = peakAtEdge(NX - k - 1, -1);
    const double machTE = std::max(upperTE, lowerTE);
    if (machTE > kPlausibleSurfaceMach) {
        std::snprintf(b, sizeof b,
                      "The flow has no steady isentropic solution at these conditions: the "
                      "supersonic region on the %s surface reaches the trailing edge at Mach "
                      "%s, so no shock on the section ends it. Clift and Cdrag are those of "
                      "the discrete equations, not of a flow.",
                      upperTE >= lowerTE ? "upper" : "lower", MachText(machTE).c_str());
        warn(b);
    } else if (!status_.converged && machMax > kPlausibleSurfaceMach) {
        std::snprintf(b, sizeof b,
                      "No steady solution was found, and the flow the iteration ended with is "
                      "strongly supersonic (surface Mach number %s at x = %.3f): at these "
                      "conditions the isentropic potential model probably has no steady "
                      "solution.",
                      MachText(machMax).c_str(), 0.5 * (xg(iMax, 1) + xg(iMax + 1, 1)));
        warn(b);
    }
    const double lift = results_.clift;
    if (!previousTitle.empty() &&
        std::fabs(lift - previousLift) > std::max(kLiftJump * std::fabs(lift), kLiftJumpFloor)) {
        std::snprintf(b, sizeof b,
                      "The lift jumped from %.4f on the coarser grid (%s) to %.4f on the fine "
                      "grid: the coarse grid does not resolve the flow, or the solution moved "
                      "to another branch; check the result with a finer grid.",
                      previousLift, previousTitle.substr(7).c_str(), lift);
        warn(b);
    }
}

void RunDriver::reportSupersonicBreakdown(const FreeStream& flow) {
    if (flow.mach == 0.0) return;
    const int NX = level_.NX, NY = level_.NY, k = level_.k;
    // The Mach numbers of the potential the failed step left in place.
    MachField(flow.gamma, flow.mach2, flow.sin2Sweep, k, NY, NX);
    double machMax = 0.0;
    int iMax = k;
    for (int i = k; i <= NX - k - 1; ++i) {
        const double m = std::isnan(amach(i, 1)) ? HUGE_VAL : amach(i, 1);
        if (m > machMax) {
            machMax = m;
            iMax = i;
        }
    }
    if (machMax <= kPlausibleSurfaceMach) return;
    char b[512];
    std::snprintf(b, sizeof b,
                  "The calculation broke down in a flow that is strongly supersonic (surface "
                  "Mach number %s at x = %.3f on the %d x %d grid): at these conditions the "
                  "isentropic potential model probably has no steady solution.",
                  MachText(machMax).c_str(), 0.5 * (xg(iMax, 1) + xg(iMax + 1, 1)), NX, NY);
    status_.implausible = true;
    msg::warning(b);
    log_.append(std::string(" Warning: ") + b);
}

double CpDeviation(const GridLevel& level, const DesignRows& design) {
    double dev = 0.0;
    auto scan = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            const double d = std::fabs(RoundSingle(cpf(i) - cps(i)));
            dev = std::max(dev, d);
        }
    };
    scan(level.k, design.designEnd);
    if (design.designRegime == 0) scan(level.NX - design.designEnd - 1, level.NX - level.k - 1);
    return dev;
}

bool StallWatch::step(double leftShare, double largestCorrection, double residual) {
    const bool stuck = leftShare > kLeftShare && largestCorrection < kCorrectionShare * residual;
    count_ = stuck ? count_ + 1 : 0;
    return count_ >= kSteps;
}

}  // namespace quarel
