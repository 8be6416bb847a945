// End test of a grid level: residual below the tolerance and a settled lift.
#include "LevelConvergence.h"

#include <cmath>

namespace quarel {

void LevelConvergence::step(double residual, double lift) {
    ++steps_;
    residual_ = std::fabs(residual);
    lastChange_ = change_;
    change_ = steps_ > 1 ? std::fabs(lift - lift_) : 0.0;
    lift_ = lift;
}

bool LevelConvergence::residualMet() const {
    return steps_ > 0 && residual_ <= tolerance_;
}

double LevelConvergence::liftLimit() const {
    return std::fmax(kLiftShare * std::fabs(lift_), kLiftFloor);
}

double LevelConvergence::liftChangeAhead() const {
    if (steps_ < 3 || lastChange_ <= 0.0) return change_;
    const double rate = change_ / lastChange_;
    if (rate >= 1.0) return change_;
    return change_ * rate / (1.0 - rate);
}

bool LevelConvergence::liftSettled() const {
    if (steps_ < 3) return false;
    const double limit = liftLimit();
    // Two small changes in a row: a shock that jumps between two cells can
    // leave one small change by chance.  A lift that is not a number never
    // settles.
    if (!(change_ <= limit && lastChange_ <= limit)) return false;
    return liftChangeAhead() <= limit;
}

}  // namespace quarel
