#include "FixedLift.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "FreeStream.h"

namespace quarel {

namespace {

std::string alphaText(double alpha) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", alpha);
    return text;
}

}  // namespace

FixedLiftResult RunFixedLift(RunControl& run, const FixedLiftOptions& options,
                             const std::function<void(const FixedLiftStep&)>& each) {
    if (run.design.designMode == 1)
        throw ParameterError("A fixed lift is for an analysis: a design run sets its own alpha.");
    FixedLiftResult result;
    const double tolerance = FixedLiftTolerance(options.target);
    // Thin-aerofoil lift slope per degree with the Prandtl-Glauert factor:
    // only the first step uses it, the secant takes over from there.
    const double mach = std::min(run.job.mach, 0.95);
    const double slope = 2.0 * M_PI / std::sqrt(1.0 - mach * mach) * M_PI / 180.0;

    // The last two converged analyses, and the potential of the first of
    // them for the extrapolated start.
    double alphaPrev = 0.0, liftPrev = 0.0;
    std::vector<double> potentialPrev;
    bool havePrev = false;
    std::vector<FixedLiftStep> good;  // the converged analyses in order
    double alpha = run.job.alpha;
    for (int n = 0; n < options.maxSolves; ++n) {
        if (n == 0) {
            run.setWarmStart(false);
        } else if (havePrev && result.alpha != alphaPrev) {
            run.setWarmStart(true, potentialPrev,
                             (alpha - result.alpha) / (result.alpha - alphaPrev),
                             std::fabs(alpha - result.alpha) < options.fineOnlyStep);
        } else {
            run.setWarmStart(true, {}, 0.0, std::fabs(alpha - result.alpha) < options.fineOnlyStep);
        }
        std::vector<double> potentialLast = n > 0 ? run.finePotential() : std::vector<double>();
        run.job.alpha = alpha;
        run.flowChanged();
        const RunControl::CalcOutcome outcome = run.calculate();
        FixedLiftStep step;
        step.alpha = alpha;
        step.converged = outcome == RunControl::CalcOutcome::Done && run.converged();
        step.clift = run.results.clift;
        result.steps.push_back(step);
        if (each) each(step);
        if (!step.converged) {
            result.problem = "the analysis at alpha " + alphaText(alpha) + " did not converge.";
            break;
        }
        if (n > 0) {
            alphaPrev = result.alpha;
            liftPrev = result.clift;
            potentialPrev = std::move(potentialLast);
            havePrev = true;
        }
        result.alpha = alpha;
        result.clift = step.clift;
        good.push_back(step);
        const double error = options.target - step.clift;
        if (std::fabs(error) < tolerance) {
            result.found = true;
            break;
        }
        double d = havePrev && result.clift != liftPrev
                       ? error * (result.alpha - alphaPrev) / (result.clift - liftPrev)
                       : error / slope;
        // With three converged points, alpha as a parabola in the lift
        // follows the bend of a transonic lift curve: a solve fewer than
        // the secant on NACA 0012 at M 0.75.
        if (good.size() >= 3) {
            const FixedLiftStep &p0 = good[good.size() - 3], &p1 = good[good.size() - 2],
                                &p2 = good.back();
            const double c = options.target;
            if (p0.clift != p1.clift && p1.clift != p2.clift && p0.clift != p2.clift) {
                const double a = p0.alpha * (c - p1.clift) * (c - p2.clift) /
                                     ((p0.clift - p1.clift) * (p0.clift - p2.clift)) +
                                 p1.alpha * (c - p0.clift) * (c - p2.clift) /
                                     ((p1.clift - p0.clift) * (p1.clift - p2.clift)) +
                                 p2.alpha * (c - p0.clift) * (c - p1.clift) /
                                     ((p2.clift - p0.clift) * (p2.clift - p1.clift));
                // Only a step that goes the same way as the secant's and
                // is not far longer.
                if (std::isfinite(a) && (a - result.alpha) * d > 0.0 &&
                    std::fabs(a - result.alpha) < 2.0 * std::fabs(d))
                    d = a - result.alpha;
            }
        }
        // A secant through a lift curve that has turned over (stall, a
        // shock jumping) points the wrong way: fall back on the slope.
        if (!(d * error > 0.0)) d = error / slope;
        d = std::clamp(d, -options.maxStep, options.maxStep);
        alpha = std::clamp(result.alpha + d, kAlphaRange.lo, kAlphaRange.hi);
        if (n + 1 == options.maxSolves) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the lift was not met in %d analyses: Clift %.6f at alpha %.6f.",
                          options.maxSolves, result.clift, result.alpha);
            result.problem = text;
        }
    }
    run.setWarmStart(false);
    return result;
}

}  // namespace quarel
