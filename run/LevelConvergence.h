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
// The lift has stopped changing when its changes over the last kChanges
// steps, and the change still to come if the lift goes on converging at
// the slowest rate of those steps (a geometric series; changes that do not
// decrease count as the rate kSlowRate), are all below
//   max(kLiftShare |Clift|, kLiftFloor).
// The first step of a level has no change to judge, so a level converges
// after kChanges + 1 steps at the earliest.
//
// A small change only means a settled lift if the steps could have changed
// it: Newton steps whose linear solves leave the slow directions untouched
// (very inexact solves) can stall with a steady lift that is not the
// converged one.  The line method solves every step to below the
// tolerance; the test is sound for it.  A step whose solve left more than
// kSolvedShare of its residual says nothing about the lift, and the lift
// counts as not settled until kChanges steps have followed it (restarted
// GMRES that stagnated on the 496 x 97 grid of a transonic NACA 0012 left
// the residual at 7e-8, below the tolerance 1e-7, and the lift steady 0.5
// per cent from the converged one).
class LevelConvergence {
public:
    static constexpr double kLiftShare = 2.5e-4;
    static constexpr double kLiftFloor = 1.0e-5;
    static constexpr int kChanges = 3;
    static constexpr double kSlowRate = 0.95;
    static constexpr double kSolvedShare = 0.5;

    // tolerance [in] the "Max.residual" of the run
    explicit LevelConvergence(double tolerance) : tolerance_(tolerance) {}

    // Records one Newton step: its largest residual and the lift after it.
    // keptFraction is the share of the step before's correction that the
    // step control kept (1 when it kept all): the lift change of a step cut
    // back to a fraction f shows f times the change the iteration still
    // asked for, and counts as the change divided by f.  linearShare is the
    // share of the step's residual that its linear solve left
    // (LastLinearReduction).
    void step(double residual, double lift, double keptFraction = 1.0, double linearShare = 0.0);

    // Both conditions hold after the last step.
    bool converged() const { return residualMet() && liftSettled(); }
    bool residualMet() const;
    bool liftSettled() const;

    int steps() const { return steps_; }
    double residual() const { return residual_; }
    // |change of the lift| over the last step (0 before the second step).
    double liftChange() const { return change_[0]; }
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
    double change_[kChanges] = {};  // |lift change| of the last steps, newest first,
                                    // scaled up where the step was cut back
};

// |Clift - target| below which a fixed lift counts as met.
double FixedLiftTolerance(double target);

}  // namespace quarel
