// Settings of the viscous analysis: an integral boundary layer on both
// surfaces and along the wake, coupled to the potential flow.  Off by
// default; with it off every result is that of the inviscid run.
#pragma once

namespace quarel {

struct ViscousOptions {
    bool enabled = false;
    // Reynolds number on the chord and the free-stream state.
    double reynolds = 0.0;
    // Amplification exponent at which the e^N envelope method starts
    // transition (9: a quiet wind tunnel).
    double ncrit = 9.0;
    // Forced transition x/c on the upper and the lower surface; at 1 or
    // beyond, transition is free.
    double xtrUpper = 1.0;
    double xtrLower = 1.0;
    // Sutherland's constant over the free-stream temperature (110.4 K over
    // 288 K) and the ratio of specific heats, for the edge viscosity.
    double sutherland = 0.383;
    double gamma = 1.4;
    // Outer coupling iteration: at most this many boundary-layer solves, the
    // coupling converged once the root-mean-square change of the mass
    // defect relative to its root mean square is below the tolerance ...
    int couplingIterations = 150;
    double couplingTolerance = 1.0e-3;
    // ... and the lift is within this of its limit (estimated from the rate
    // at which its changes fall).
    double liftTolerance = 1.0e-3;
    // Share of each change of the mass defect passed to the outer flow (the
    // iteration halves it when it alternates or stalls).
    double relaxation = 1.0;
    // Extent (x/c) of the trailing-edge region over which the coupling
    // extrapolates the edge speed and the mass defect (see ViscousCoupling).
    double trailingEdgeRegion = 0.03;
    // The wake's displacement acts on the outer flow (a source sheet along
    // the wake cut, with its own interaction law).  Off: on RAE 2822 at
    // M 0.734 it made the coupling run away (docs/viscous.md).
    bool wakeDisplacement = false;
};

}  // namespace quarel
