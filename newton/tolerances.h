// Every tolerance of a run, derived in one place from "Max.residual".
#pragma once

namespace quarel {

struct Tolerances {
    // A level ends once its largest residual is at most this ("Max.residual").
    double maxResidual = 0.0;
    // Linear tolerance of the Newton steps.  An analysis solves well below
    // the end tolerance (kLinearShare of it): with the linear tolerance at
    // the end tolerance itself, the steps near the end of a level leave
    // most of their residual in place and change the lift by little because
    // they change little, not because the lift has settled.  The design run
    // solves to the end tolerance itself.
    double linear = 0.0;

    static constexpr double kLinearShare = 0.1;
    // The loosest linear tolerance of the solves with the exact matrix
    // (that of the run tolerance 1e-7: a looser run solves as that one does).
    static constexpr double kExactLinear = 1.0e-8;

    static Tolerances analysis(double maxResidual) {
        return Tolerances{maxResidual, kLinearShare * maxResidual};
    }
    static Tolerances design(double maxResidual) { return Tolerances{maxResidual, maxResidual}; }

    // The residual a level starts from: above the end tolerance, so that a
    // level takes at least one step unless the tolerance is 0.
    double startResidual() const { return 10.0 * maxResidual; }
    // The line method solves every step until its largest linear residual
    // is at most this.
    double lineSolve() const { return 0.75 * linear; }
    // The inexact solves never stop above this: a bound at the linear
    // tolerance itself lets a step near the end do nothing, and the lift
    // then looks settled when it is not.
    double forcingFloor() const { return 0.05 * linear; }
    // The solves with the exact matrix go down at least to this.
    double exactSolve() const {
        const double capped = linear > 2.0 * kExactLinear ? kExactLinear : linear;
        return 0.75 * capped;
    }
};

}  // namespace quarel
