// The linear solve of the Newton step, A corr = sp0, behind one interface:
// each method (newton_options.h) is a class of its own file, made by
// MakeLinearMethod.  The Newton step decides which matrix the rows hold
// (approximate or exact) and the tolerance of a solve with the exact
// matrix; the method decides how to reach it, and how far an approximate
// step has to solve.
#pragma once

#include <functional>
#include <memory>

#include "newton_options.h"
#include "tolerances.h"

namespace quarel {

// What one solve needs to know of the step it serves.
struct LinearStep {
    int NY = 0, k = 0, NX = 0;
    int cycles = 1;          // at most this many GMRES cycles
    int m = 1;               // Krylov dimension
    bool sameLevel = false;  // the step follows another of the same grid level
    double residual = 0.0;   // |largest residual| of the step
    Tolerances tol;          // the tolerances of the run
};

// The Newton step's rows, for a method that must form the approximate rows
// again (to factor them) and then put the exact ones back.
struct RowsAccess {
    std::function<void()> approximate;  // BuildSystem on the present potential
    std::function<void()> exact;        // the held exact rows in their place
};

class LinearMethodSolve {
public:
    virtual ~LinearMethodSolve() = default;

    // A new grid level (or a new run) begins: nothing kept from the last
    // step's solve belongs to it.
    virtual void beginLevel() {}
    // Before the exact rows replace the approximate ones of a step with the
    // exact matrix: a method preconditioned by factors of the approximate
    // rows makes them here.  chord [in] the held exact rows are used again
    // (their factors stay).
    virtual void beforeExactRows(const LinearStep& step, bool chord) {
        (void)step;
        (void)chord;
    }
    // The solve with the exact matrix, to the largest linear residual tau.
    virtual void solveExact(const LinearStep& step, double tau, const RowsAccess& rows) = 0;
    // The solve with the approximate matrix, as far as the method asks.
    virtual void solveApproximate(const LinearStep& step) = 0;
    // After solveExact or solveApproximate: solves the same matrix for the
    // right-hand side now in sp0 (into corr) with the factors of that solve,
    // to the largest linear residual tau.  A method that keeps no factors
    // returns false and leaves corr alone.
    virtual bool solveAgain(const LinearStep& step, double tau) {
        (void)step;
        (void)tau;
        return false;
    }
    virtual bool canSolveAgain() const { return false; }

    // The line preconditioner follows its factorisation with a sweep of
    // column solves (LineSolver::columns) from now on; a method without the
    // line preconditioner only keeps the flag.
    void setColumnSweep(bool on) { columnSweep_ = on; }
    bool columnSweep() const { return columnSweep_; }

    // GMRES iterations of the last solve (Arnoldi steps, all cycles, the
    // circulation response and any repeated solve together).
    int iterations() const { return iterations_; }
    // The last solve was repeated because the first stalled.
    bool fellBack() const { return fellBack_; }

protected:
    int iterations_ = 0;
    bool fellBack_ = false;
    bool columnSweep_ = false;
};

// The solver of the method chosen in options [in].
std::unique_ptr<LinearMethodSolve> MakeLinearMethod(const NewtonOptions& options);

// Forcing term of the inexact Newton iteration (Eisenstat and Walker,
// choice 2): far from the solution a rough correction is as good as an
// exact one, near it the solve tightens with the square of the residual's
// fall, so the iteration keeps Newton's rate.
class ForcingTerm {
public:
    // The absolute linear tolerance of an approximate step whose forcing
    // term may be at most etaMax.
    double tolerance(const LinearStep& step, double etaMax);
    // The step solved otherwise (exact matrix, line method): the next one
    // starts the sequence again.
    void reset() { lastResidual_ = 0.0; }

private:
    double lastResidual_ = 0.0;
    double lastEta_ = 0.1;
};

}  // namespace quarel

namespace quarel {

// The makers of the methods, one per file (linear_line.cpp,
// linear_inexact.cpp, linear_factored.cpp, linear_direct.cpp).
std::unique_ptr<LinearMethodSolve> MakeLineMethod();
std::unique_ptr<LinearMethodSolve> MakeInexactMethod();
std::unique_ptr<LinearMethodSolve> MakeFactoredMethod(const NewtonOptions& options);
std::unique_ptr<LinearMethodSolve> MakeDirectMethod(const NewtonOptions& options);

}  // namespace quarel
