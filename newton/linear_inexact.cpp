// The inexact method: the line preconditioner with solves that reduce the
// residual only as far as the Newton iteration can use (the forcing term),
// GMRES stopped inside a cycle once it is there, the circulation response
// started from that of the step before, and the Krylov basis built without
// the rescaling product.
#include "line_solve.h"
#include "linear_method.h"

namespace quarel {

namespace {

// Upper bound of the forcing term.
constexpr double kForcingMax = 0.1;

class InexactMethod : public LinearMethodSolve {
public:
    void solveExact(const LinearStep& s, double tau, const RowsAccess&) override {
        forcing_.reset();
        line_.lines().columns = columnSweep();
        iterations_ = line_.solve(s.NY, s.k, s.NX, tau, s.cycles, s.m, true, s.sameLevel, true);
    }
    void solveApproximate(const LinearStep& s) override {
        const double tau = forcing_.tolerance(s, kForcingMax);
        line_.lines().columns = columnSweep();
        iterations_ = line_.solve(s.NY, s.k, s.NX, tau, s.cycles, s.m, true, s.sameLevel);
    }

private:
    LineSolve line_;
    ForcingTerm forcing_;
};

}  // namespace

std::unique_ptr<LinearMethodSolve> MakeInexactMethod() {
    return std::unique_ptr<LinearMethodSolve>(new InexactMethod());
}

}  // namespace quarel
