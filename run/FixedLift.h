// Fixed lift: the angle of attack at which the converged analysis gives a
// chosen lift coefficient.  A secant iteration on alpha, started from the
// job's alpha and a step from the thin-aerofoil slope with the
// Prandtl-Glauert factor; every solve after the first continues from the
// converged solution before it (extrapolated from the last two, as the
// points of a polar do), so the extra solves run only the fine grid and
// the level below it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "LevelConvergence.h"
#include "RunControl.h"

namespace quarel {

struct FixedLiftOptions {
    double target = 0.0;   // the lift coefficient sought
    int maxSolves = 10;    // analyses in all, the first included
    double maxStep = 2.0;  // largest change of alpha between solves, degrees
    // A change of alpha below this (degrees) runs the fine level alone.
    double fineOnlyStep = 0.1;
};

struct FixedLiftStep {
    double alpha = 0.0, clift = 0.0;
    bool converged = false;  // the analysis met the run's own end test
};

struct FixedLiftResult {
    // The last analysis converged and its lift is within the tolerance of
    // the target; the run control holds that solution.
    bool found = false;
    double alpha = 0.0, clift = 0.0;
    std::vector<FixedLiftStep> steps;
    std::string problem;  // why nothing was found
};

// Runs on an opened job: the analysis at the job's
// alpha, then secant steps until the lift is met or maxSolves analyses
// have run.  Refuses a design run (ParameterError); a solve that breaks
// down throws as RunControl::calculate does.  `each` (may be empty) sees
// every analysis as it ends.  Afterwards run.job.alpha is the alpha of
// the last converged analysis.
FixedLiftResult RunFixedLift(RunControl& run, const FixedLiftOptions& options,
                             const std::function<void(const FixedLiftStep&)>& each = {});

}  // namespace quarel
