// The end test of the Newton iteration on one grid level.
#pragma once

namespace quarel {

// A level has converged when the largest residual of its last step is
// below the tolerance and the lift has stopped changing.  The largest
// residual alone is a weak measure near a shock: the circulation there
// converges by a constant factor per step while the residual is already
// small, and a run that stops on the residual alone can carry a lift one
// or several per cent from the converged value of the grid.
//
// The lift has stopped changing when the changes of the last two steps, and
// the change still to come if the lift goes on converging at the rate of
// those two steps (a geometric series), are all below
//   max(kLiftShare |Clift|, kLiftFloor).
// The first step of a level has no change to judge, so a level converges
// after three steps at the earliest.
class LevelConvergence {
public:
    static constexpr double kLiftShare = 1.0e-4;
    static constexpr double kLiftFloor = 1.0e-5;

    // tolerance [in] the "Max.residual" of the run
    explicit LevelConvergence(double tolerance) : tolerance_(tolerance) {}

    // Records one Newton step: its largest residual and the lift after it.
    void step(double residual, double lift);

    // Both conditions hold after the last step.
    bool converged() const { return residualMet() && liftSettled(); }
    bool residualMet() const;
    bool liftSettled() const;

    int steps() const { return steps_; }
    double residual() const { return residual_; }
    // |change of the lift| over the last step (0 before the second step).
    double liftChange() const { return change_; }
    // The change of the lift still to be expected (the last change when
    // the lift is not converging geometrically).
    double liftChangeAhead() const;
    // The limit that liftChange() and liftChangeAhead() must keep.
    double liftLimit() const;

private:
    double tolerance_;
    int steps_ = 0;
    double residual_ = 0.0;
    double lift_ = 0.0;
    double change_ = 0.0;      // |lift change| of the last step
    double lastChange_ = 0.0;  // of the step before
};

}  // namespace quarel
