// Flexible GMRES preconditioned by the flow-ordered factors.
#include "ilu_solve.h"

#include <cmath>

#include "operator.h"

namespace quarel {

IluSolve::IluSolve() : v_(new GridArray()), av_(new GridArray()), plain_(new LineSolver()) {}
IluSolve::~IluSolve() = default;

void IluSolve::build(const int& NY, const int& k, const int& NX, const int& fill,
                     const int& gridLevels, const bool& complete) {
    ilu_.Build(NY, k, NX, fill, gridLevels, complete);
}

int IluSolve::solve(const int& NY, const int& k, const int& NX, const double& tau,
                    const int& cycles, const int& m) {
    const int n = ilu_.size();
    b_.assign(n, 0.0);
    x_.assign(n, 0.0);
    ilu_.Gather(sp0, b_.data());
    const FlowOrderedIlu& ilu = ilu_;
    // Each cycle stops once its residual has fallen by the share that the
    // largest residual still has to fall (the 2-norm and the largest entry
    // fall alike once the error is smooth), and the solve ends when the
    // largest residual is at most tau.
    // A cycle that has not reduced the residual by a hundredth has stalled
    // (a system far from a flow, or one the preconditioner does not reach):
    // further cycles would not do better, and the Newton step goes on with
    // what it has, as a step of a weak solve.
    double lastNorm = HUGE_VAL;
    auto target = [&](const double* r, double norm2) {
        double left = 0.0;
        for (int q = 0; q < n; ++q) left = std::fmax(left, std::fabs(r[q]));
        const bool stalled = norm2 > 0.99 * lastNorm;
        lastNorm = norm2;
        return left <= tau || stalled ? -1.0 : 0.5 * norm2 * tau / left;
    };
    // The exact Newton matrix couples some rows beyond the stencil that the
    // factors were copied from (the far-field doublet, the overhang of the
    // upwind terms): the product then goes through the grid operator, which
    // holds them, and the factors precondition the stencil part.
    const bool beyondStencil =
        extraCouplings.count > 0 || extraCouplings.moment || entropyCouplings.count() > 0;
    auto multiply = [&](const double* x, double* y) {
        if (!beyondStencil) {
            ilu.Multiply(x, y);
            return;
        }
        ilu.Scatter(x, *v_);
        ApplyOperator(*plain_, NY, k, NX, *v_, *av_);
        ilu.Gather(*av_, y);
    };
    const int iterations = Fgmres(
        n, m, cycles, multiply, [&](const double* v, double* z, int) { ilu.Precondition(v, z); },
        target, b_.data(), x_.data(), work_);
    ilu_.Scatter(x_.data(), corr);
    // The linear residual of the whole system, for the record.
    ApplyOperator(*plain_, NY, k, NX, corr, gmw);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gmr(i, j) = sp0(i, j) - gmw(i, j);
    return iterations;
}

}  // namespace quarel
