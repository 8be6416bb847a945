// End test of a grid level: residual below the tolerance and a settled lift.
#include "LevelConvergence.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarel {

void LevelConvergence::step(double residual, double lift, double keptFraction, double linearShare) {
    ++steps_;
    residual_ = std::fabs(residual);
    for (int q = kChanges - 1; q > 0; --q) change_[q] = change_[q - 1];
    // A fraction of at least 1/64 (the step control halves six times at
    // most); anything else is taken as a whole step.
    const double f =
        keptFraction > 0.0 && keptFraction < 1.0 ? std::fmax(keptFraction, 1.0 / 64.0) : 1.0;
    change_[0] = steps_ > 1 ? std::fabs(lift - lift_) / f : 0.0;
    if (linearShare > kSolvedShare) change_[0] = std::numeric_limits<double>::infinity();
    lift_ = lift;
}

bool LevelConvergence::residualMet() const {
    return steps_ > 0 && residual_ <= tolerance_;
}

double LevelConvergence::liftLimit() const {
    return std::fmax(kLiftShare * std::fabs(lift_), kLiftFloor);
}

double LevelConvergence::liftChangeAhead() const {
    // The slowest of the last two rates of decrease; changes that do not
    // decrease are taken as a slow geometric series (rate kSlowRate).
    double rate = 0.0;
    for (int q = 0; q + 1 < kChanges && q + 2 <= steps_ - 1; ++q) {
        const double r = change_[q + 1] > 0.0 ? change_[q] / change_[q + 1] : 0.0;
        rate = std::fmax(rate, r);
    }
    if (rate >= kSlowRate) rate = kSlowRate;
    return change_[0] * rate / (1.0 - rate);
}

bool LevelConvergence::liftSettled() const {
    if (steps_ < kChanges + 1) return false;
    const double limit = liftLimit();
    // Every one of the last changes small: a shock that jumps between two
    // cells can leave one or two small changes by chance.  A lift that is
    // not a number never settles.
    for (int q = 0; q < kChanges; ++q)
        if (!(change_[q] <= limit)) return false;
    return liftChangeAhead() <= limit;
}

double FixedLiftTolerance(double target) {
    return 1e-5 * std::max(1.0, std::fabs(target));
}

}  // namespace quarel
