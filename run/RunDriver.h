// The coarse-to-fine analysis run: for every grid level from the coarsest
// to the fine grid, the level is sampled from the saved fine grid, its
// metrics and far-field factors computed, and Newton steps repeated until
// the largest residual meets the tolerance; the potential is then carried
// to the fine grid, and on the fine grid the surface results follow.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FreeStream.h"
#include "GridLevel.h"
#include "JobFiles.h"
#include "JobParameters.h"
#include "SOLV1.h"

namespace quarel {

// The run variables of the level being solved.
struct RunStatus {
    int iterCount = 0;           // Newton steps on the current level
    int iterTotal = 0;           // second step counter, written to the restart file
    double residual = 0.0;       // largest scaled residual of the last step
    std::string levelTitle;      // " Grid: NX x NY" of the current level
    int fineNX = 0, fineNY = 0;  // fine-grid sizes of the last coarse-to-fine transfer
    // The fine level ended with the largest residual below the tolerance and
    // a settled lift (LevelConvergence).
    bool converged = false;
    // The fine-grid result was flagged as implausible (surface Mach number,
    // lift jump between the grids).
    bool implausible = false;
};

// One Newton step done, as a progress display shows it.
struct Progress {
    int level = 1;   // grid level, 1 = coarsest
    int levels = 1;  // number of levels of the run
    int NX = 0, NY = 0;
    int step = 0;  // Newton step on this level
    double residual = 0.0;
    double maxResidual = 0.0;
    double clift = 0.0;
    StepReport report;  // what the step did
};
// Called after every Newton step; returning false stops the run after that
// step.
using ProgressHook = std::function<bool(const Progress&)>;

// The run was stopped by its progress hook.
class RunStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the design rows of the Newton step need (the run itself always
// solves the analysis problem).
struct DesignRows {
    int designMode = 0;    // 1: cpDeviation is evaluated against cps
    int designRegime = 0;  // 0 both surfaces, 1 and 2 one stretch
    int designEnd = 0;     // end index of the design stretch
};

class ViscousCoupling;

class RunDriver {
public:
    // level [in,out] the first level on entry, the fine grid on return
    // (also after a SolverError); status, log [in,out]; results [in,out];
    // newton [in,out] the solver of the Newton steps, with the options of
    // the run
    RunDriver(GridLevel& level, RunStatus& status, IterationLog& log, Results& results,
              NewtonSolver& newton)
        : level_(level), status_(status), log_(log), results_(results), newton_(newton) {}

    // Runs every level and the post-processing of the fine grid (Mach
    // field, surface Cp, wave drag, and the Cp deviation in design mode).
    // Throws SolverError on a breakdown and RunStopped when `progress`
    // asks to stop, after putting the fine grid back into xg, yg.
    void run(const JobParameters& job, const FreeStream& flow, const DesignRows& design,
             const ProgressHook& progress = ProgressHook());
    // The free stream the run ended with: that of run() unless the job has
    // a fixed lift, whose alpha the run found.
    const FreeStream& flow() const { return flowNow_; }

private:
    void prepareLevel(const FreeStream& flow);
    // After a breakdown: says so in plain words when the flow it broke down
    // in was strongly supersonic at the surface.
    void reportSupersonicBreakdown(const FreeStream& flow);
    // quiet leaves an unconverged level to the caller to report (the
    // viscous coupling's intermediate solves).
    void iterateLevel(const JobParameters& job, const FreeStream& flow,
                      const ProgressHook& progress, bool quiet = false);
    void finishLevel();
    // Viscous runs: the outer iteration between the boundary layer and the
    // fine level (RunDriverViscous.cpp).
    void coupleBoundaryLayer(const JobParameters& job, const FreeStream& flow,
                             const ProgressHook& progress, ViscousCoupling& coupling);
    void postProcess(const JobParameters& job, const FreeStream& flow, const DesignRows& design);
    // Warnings (console, window, log) for a result the isentropic model
    // cannot carry (surface Mach beyond 1.6) or a fine-grid lift far from
    // the coarser level's.
    void checkPlausibility(const FreeStream& flow, double previousLift,
                           const std::string& previousTitle);
    // "The Newton iteration on the NX x NY grid <what> <residual>
    // (Max.residual <tolerance>)", the start of a warning about the level.
    std::string levelReport(const std::string& what, double maxResidual) const;

    GridLevel& level_;
    RunStatus& status_;
    IterationLog& log_;
    Results& results_;
    NewtonSolver& newton_;
    FreeStream flowNow_;
};

// The Newton problem of an analysis of `level` (no design rows).
NewtonProblem NewtonProblemOf(const GridLevel& level, const FreeStream& flow,
                              const JobParameters& job, const Tolerances& tol);

// Copies the saved fine grid (xgs, ygs) back into xg, yg for every node of
// the fine grid of `level`.
void RestoreFineGrid(const GridLevel& level);
// Keeps the grid in xg, yg (i = 0..NX, j = 1..NY) as the fine grid xgs, ygs.
void SaveFineGrid(int NX, int NY);
// No transpiration: vfx, vdu and the ordinate corrections dy zero for
// i = 0..NX.
void ClearTranspiration(int NX, std::vector<double>& dy);

// Largest |cpf - cps| (each difference in single precision) over the upper
// design stretch i = k .. designEnd and, when both surfaces are designed,
// the lower one NX-designEnd-1 .. NX-k-1; 0 when the stretches are empty.
double CpDeviation(const GridLevel& level, const DesignRows& design);

// Watches the Newton steps of one grid level for a stall: a step whose
// linear solve left more than 99 % of the largest residual and whose
// correction was below 1 % of that residual changes nothing, and three such
// steps in a row make a stall (the run then strengthens the preconditioner,
// or ends the level if it already has).  A weak solve (few short GMRES
// cycles) may also leave the residual in place, but its corrections are of
// the residual's size, so it does not count.
class StallWatch {
public:
    static constexpr int kSteps = 3;
    static constexpr double kLeftShare = 0.99;
    static constexpr double kCorrectionShare = 0.01;
    // One step: the share of the largest residual its solve left, its
    // largest correction and its largest residual (all magnitudes).
    // Returns true when the steps so far make a stall.
    bool step(double leftShare, double largestCorrection, double residual);
    void reset() { count_ = 0; }

private:
    int count_ = 0;
};

// A Mach number for a message: two decimals, or words when it is not
// finite (the speed has passed the largest the isentropic model allows).
std::string MachText(double mach);

}  // namespace quarel
