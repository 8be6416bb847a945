// The end test of a grid level: residual below the tolerance and a lift
// that has stopped changing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LevelConvergence.h"

using quarel::LevelConvergence;

TEST(LevelConvergence, NeedsTheResidualAndASettledLift) {
    // A residual below the tolerance from the first step does not end the
    // level: the lift has no history yet.
    LevelConvergence t(1e-7);
    t.step(1e-9, 0.6);
    EXPECT_TRUE(t.residualMet());
    EXPECT_FALSE(t.liftSettled());
    t.step(1e-9, 0.6);
    t.step(1e-9, 0.6);
    EXPECT_FALSE(t.converged());  // two changes only
    t.step(1e-9, 0.6);
    EXPECT_TRUE(t.converged());
    EXPECT_EQ(t.steps(), LevelConvergence::kChanges + 1);

    // A settled lift with the residual above the tolerance does not either.
    LevelConvergence r(1e-7);
    for (int s = 0; s < 5; ++s) r.step(1e-5, 0.5);
    EXPECT_TRUE(r.liftSettled());
    EXPECT_FALSE(r.residualMet());
    EXPECT_FALSE(r.converged());
}

TEST(LevelConvergence, LiftConvergingSlowlyIsNotSettled) {
    // The residual is tiny but the lift creeps by a constant factor 0.9 per
    // step: each change (3e-5, below the limit 6e-5 of a lift of 0.6) hides
    // ten times as much still to come.
    LevelConvergence t(1e-7);
    double cl = 0.6, d = 3e-4;
    for (int s = 0; s < 25; ++s) {
        t.step(1e-8, cl);
        cl += d;
        d *= 0.9;
    }
    EXPECT_LT(t.liftChange(), t.liftLimit());
    EXPECT_GT(t.liftChangeAhead(), 5.0 * t.liftChange());
    EXPECT_FALSE(t.converged());

    // The same changes falling by a factor 0.3 per step: settled once the
    // changes are below the limit.
    LevelConvergence f(1e-7);
    cl = 0.6;
    d = 1e-2;
    int steps = 0;
    while (!f.converged() && steps < 50) {
        f.step(1e-8, cl);
        cl += d;
        d *= 0.3;
        ++steps;
    }
    EXPECT_TRUE(f.converged());
    EXPECT_LE(f.liftChangeAhead(), f.liftLimit());
    EXPECT_LT(steps, 12);
}

TEST(LevelConvergence, OscillatingLiftAndItsLimits) {
    // A shock jumping between two cells makes the lift flip; one small
    // change by chance between two large ones is not settled.
    LevelConvergence t(1e-5);
    t.step(5e-6, 0.602);
    t.step(5e-6, 0.609);
    t.step(5e-6, 0.60903);
    EXPECT_LT(t.liftChange(), t.liftLimit());
    EXPECT_FALSE(t.converged());

    // The limit is relative to the lift, with a floor for a lift near 0
    // (a symmetric section at zero incidence).
    LevelConvergence z(1e-7);
    z.step(1e-9, 0.0);
    EXPECT_DOUBLE_EQ(z.liftLimit(), LevelConvergence::kLiftFloor);
    z.step(1e-9, 2e-6);
    z.step(1e-9, 3e-6);
    z.step(1e-9, 3.1e-6);
    EXPECT_TRUE(z.converged());
    LevelConvergence big(1e-7);
    big.step(1e-9, -1.5);
    EXPECT_DOUBLE_EQ(big.liftLimit(), 1.5 * LevelConvergence::kLiftShare);

    // A steady drift (changes that do not decrease) below the limit is not
    // settled either, unless it is far below it.
    LevelConvergence d(1e-7);
    for (int s = 0; s < 8; ++s) d.step(1e-9, 0.6 + 3e-5 * s);
    EXPECT_FALSE(d.converged());
    LevelConvergence e(1e-7);
    for (int s = 0; s < 8; ++s) e.step(1e-9, 0.6 + 1e-6 * s);
    EXPECT_TRUE(e.converged());

    // A step whose predecessor's correction was cut back to a fraction
    // shows that fraction of the change still asked for: the same lift
    // changes that settle with whole steps do not with steps cut to 1/16.
    LevelConvergence whole(1e-7), cut(1e-7);
    whole.step(1e-9, 0.6);
    cut.step(1e-9, 0.6);
    double cl = 0.6;
    for (double change : {4e-5, 2e-5, 1e-5}) {
        cl += change;
        whole.step(1e-9, cl);
        cut.step(1e-9, cl, 1.0 / 16.0);
    }
    EXPECT_TRUE(whole.converged());
    EXPECT_FALSE(cut.converged());
    EXPECT_NEAR(cut.liftChange(), 16.0 * 1e-5, 1e-12);
    // A held step that changes nothing changes nothing in full either.
    LevelConvergence still(1e-7);
    for (int s = 0; s < 4; ++s) still.step(1e-9, 0.6, 0.5);
    EXPECT_TRUE(still.converged());

    // A lift that is not a number never settles.
    LevelConvergence n(1e-7);
    for (int s = 0; s < 4; ++s) n.step(1e-9, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(n.converged());
}

TEST(LevelConvergence, StepsWhoseSolveStalledProveNothing) {
    // The residual below the tolerance and the lift steady, but the last
    // solves left all of their residual: the steps changed nothing, so the
    // steady lift is no evidence.  Three good steps after the last stalled
    // one are needed.
    LevelConvergence t(1e-7);
    for (int s = 0; s < 6; ++s) t.step(7e-8, 0.626, 1.0, 0.9998);
    EXPECT_TRUE(t.residualMet());
    EXPECT_FALSE(t.liftSettled());
    t.step(7e-8, 0.626, 1.0, 0.001);
    t.step(7e-8, 0.626, 1.0, 0.001);
    EXPECT_FALSE(t.converged());
    t.step(7e-8, 0.626, 1.0, 0.001);
    EXPECT_TRUE(t.converged());
    // A solve that leaves half of the residual still counts.
    LevelConvergence h(1e-7);
    for (int s = 0; s < 4; ++s) h.step(1e-8, 0.5, 1.0, LevelConvergence::kSolvedShare);
    EXPECT_TRUE(h.converged());
}
