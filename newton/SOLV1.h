// The Newton iteration of the full-potential equation on one grid level.
#pragma once

#include <memory>
#include <string>

#include "entropy.h"
#include "newton_options.h"
#include "tolerances.h"

namespace quarel {

// What the Newton steps of a level solve: the grid, the flow, the design
// rows and the limits of the linear solve.
struct NewtonProblem {
    int NY = 0, k = 0, NX = 0;
    double mach = 0.0, gamma = 1.4;
    double diagFactor = 1.0;  // 1 + diagonal dominance
    double cu = 1.0, su = 0.0;
    double liftRef = 1.0;    // cos sweep
    double s2 = 0.0;         // sin^2 sweep
    EntropyOptions entropy;  // the non-isentropic model
    // Design rows: 1 imposes the target speed on the design stretch
    // (firstOnly: the first stretch only; L its end index).
    int designFlag = 0, firstOnly = 0, L = 0;
    // Fixed lift: the angle of attack in the section plane alphaN (radians)
    // is one more unknown and Clift = liftTarget one more equation; cu and
    // su then follow alphaN (cu = liftRef cos alphaN, su = liftRef sin
    // alphaN, in full precision so that the lift is smooth in alphaN).
    bool fixedLift = false;
    double liftTarget = 0.0;
    double alphaN = 0.0;
    int cycles = 1;  // GMRES cycles ("Linear itererations")
    int m = 1;       // Krylov dimension (1..30)
    Tolerances tol;
};

// What one Newton step did.
struct StepReport {
    int step = 0;             // number of the step on its level, from 1
    double residual = 0.0;    // largest scaled residual before the step (signed)
    int resI = 1, resJ = 1;   // where it is
    double correction = 0.0;  // largest correction (signed, after the Mach limit)
    int corI = 1, corJ = 1;   // where it is
    double cdrag = 0.0;       // analysis: wave drag and lift after the step
    double clift = 0.0;
    double linearReduction = 0.0;    // largest linear residual left / largest residual
    double largestCorrection = 0.0;  // |correction|
    double keptFraction = 1.0;  // share of the previous step's correction the step control kept
    int linearIterations = 0;   // GMRES iterations of the linear solve
    std::string line;           // the iteration line, at most 80 characters
};

class LinearMethodSolve;

// The Newton solver owns everything the steps of a level remember: the
// step control's residual norms and the potential before the last update,
// the held exact rows of chord steps, the forcing terms and the factors of
// the linear method, and the limit on the growth of the supersonic
// regions.  The arrays of the grid and the flow are the shared ones
// (state.h).
class NewtonSolver {
public:
    explicit NewtonSolver(const NewtonOptions& options = NewtonOptions());
    ~NewtonSolver();
    // A copy has the options of the original but remembers no step: its
    // next step begins a level.
    NewtonSolver(const NewtonSolver& other);
    NewtonSolver& operator=(const NewtonSolver& other);

    // A new choice of the linear solve; the next step begins a level.
    void setOptions(const NewtonOptions& options);
    const NewtonOptions& options() const;

    // Begins a grid level: the steps that follow number from 1 and remember
    // nothing of the steps before.  startLevel [in] the first level of a
    // run on a grid coarser than the fine one (see NewtonOptions).
    void beginLevel(const NewtonProblem& problem, bool startLevel = false);

    // NewtonStep: one Newton iteration on the level, printed as the
    // iteration line.  Updates phi and the far-field values; in an analysis
    // also the surface results.  Throws SolverError on a zero diagonal or a
    // non-finite potential; phi is then left as it was before the step.
    StepReport step();

    // The line preconditioner adds a sweep of column solves from the next
    // step on (the run driver's answer to a stalled level), until the
    // next setColumnSweep(false).
    void setColumnSweep(bool on);
    bool columnSweep() const;

    // Fixed lift: the angle of attack the steps have reached (the problem's
    // alphaN until the first step).
    double alphaN() const;
    // The linear method can solve a second right-hand side with the matrix
    // and factors of a step (what a fixed-lift step needs).
    bool bordered() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quarel
