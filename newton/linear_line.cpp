// The line method: the line preconditioner and restarted GMRES, every
// cycle of full dimension, until the largest linear residual is below
// three quarters of the run's linear tolerance; the circulation response
// is solved anew at every step.
#include "line_solve.h"
#include "linear_method.h"

namespace quarel {

namespace {

class LineMethod : public LinearMethodSolve {
public:
    void solveExact(const LinearStep& s, double tau, const RowsAccess&) override {
        line_.lines().columns = columnSweep();
        iterations_ = line_.solve(s.NY, s.k, s.NX, tau, s.cycles, s.m, false, s.sameLevel, true);
    }
    void solveApproximate(const LinearStep& s) override {
        line_.lines().columns = columnSweep();
        iterations_ = line_.solve(s.NY, s.k, s.NX, s.tol.lineSolve(), s.cycles, s.m, false, false);
    }

private:
    LineSolve line_;
};

}  // namespace

std::unique_ptr<LinearMethodSolve> MakeLineMethod() {
    return std::unique_ptr<LinearMethodSolve>(new LineMethod());
}

}  // namespace quarel
