// The inexact linear solve of the Newton step and the GMRES cycle it uses:
// early stop inside a cycle, the basis without the rescaling product, the
// circulation response carried from one solve to the next; each checked
// against a dense solve of the same small system.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "gmres.h"
#include "line_solve.h"
#include "linear_system_fixture.h"
#include "state.h"

using namespace quarel;
using namespace quarel::testing;

namespace {

const Layout kGrid{12, 5, 3};

// Largest |A corr - sp0| over the unknowns, with the dense matrix.
double LinearResidual(const Matrix& a, const Layout& L) {
    const std::vector<double> ax = MatVec(a, L.fromGrid(corr));
    const std::vector<double> b = L.fromGrid(sp0);
    return MaxAbsDiff(ax, b);
}

}  // namespace

TEST(GmresCycle, WithoutRescalingGivesTheSameCorrection) {
    // The factor s2/s1 scales each new basis vector; the Krylov space, and
    // so the minimising combination, stay the same.
    const Layout& L = kGrid;
    FillRandomSystem(L, 61, 1.2);
    const std::unique_ptr<LineSolver> ls(new LineSolver());
    ApplyPreconditioner(*ls, L.NY, L.k, L.NX, sp0, gmz);
    GridArray& scaled = krylov[0];  // slot 0 is a work vector
    scaled = gmz;
    EXPECT_EQ(GmresCycle(*ls, L.NY, L.k, L.NX, 8, scaled), 8);
    const std::vector<double> withScale = L.fromGrid(scaled);
    ApplyPreconditioner(*ls, L.NY, L.k, L.NX, sp0, gmz);
    EXPECT_EQ(GmresCycle(*ls, L.NY, L.k, L.NX, 8, gmz, 0.0, false), 8);
    const std::vector<double> without = L.fromGrid(gmz);
    EXPECT_LT(MaxAbsDiff(withScale, without), 1e-10 * MaxAbs(withScale));
}

TEST(GmresCycle, StopsOnceTheTargetIsReached) {
    // A cycle asked to reduce its residual by 1e-2 stops early and has
    // done so: the preconditioned residual P^-1 (b - A x) is at most 1e-2
    // of P^-1 b in the 2-norm.
    const Layout& L = kGrid;
    FillRandomSystem(L, 71, 1.1);
    const std::unique_ptr<LineSolver> ls(new LineSolver());
    const Matrix a = DenseOperator(L);
    const Matrix p = DensePreconditioner(L);
    const std::vector<double> b = L.fromGrid(sp0);
    const std::vector<double> pb = DenseSolve(p, b);
    ApplyPreconditioner(*ls, L.NY, L.k, L.NX, sp0, gmz);
    const int dim = GmresCycle(*ls, L.NY, L.k, L.NX, 30, gmz, 1e-2, false);
    EXPECT_GT(dim, 1);
    EXPECT_LT(dim, 30);
    const std::vector<double> x = L.fromGrid(gmz);
    const std::vector<double> ax = MatVec(a, x);
    std::vector<double> r(b.size());
    for (size_t q = 0; q < b.size(); ++q) r[q] = b[q] - ax[q];
    const std::vector<double> pr = DenseSolve(p, r);
    double n0 = 0.0, n1 = 0.0;
    for (size_t q = 0; q < b.size(); ++q) {
        n0 += pb[q] * pb[q];
        n1 += pr[q] * pr[q];
    }
    EXPECT_LE(std::sqrt(n1), 1e-2 * std::sqrt(n0) * (1.0 + 1e-9));
}

TEST(InexactLineSolve, MeetsItsToleranceAndReusesTheCirculationResponse) {
    const Layout& L = kGrid;
    FillRandomSystem(L, 81, 1.0);
    const Matrix a = DenseOperator(L);
    const std::vector<double> exact = DenseSolve(a, L.fromGrid(sp0));

    // A tight tolerance gives the dense solution, with the circulation
    // jump across the cut.
    LineSolve solve;
    const int fresh = solve.solve(L.NY, L.k, L.NX, 1e-13, 40, 6, true, false);
    EXPECT_LT(MaxAbsDiff(L.fromGrid(corr), exact), 1e-10);
    const double dg = corr(L.NX - L.k, 1) - corr(L.k, 1);
    for (int i = 1; i < L.k; ++i) EXPECT_NEAR(corr(L.NX - i, 1), corr(i, 1) + dg, 1e-14);

    // The same system again with the response kept: the same solution for
    // fewer iterations.
    const int kept = solve.solve(L.NY, L.k, L.NX, 1e-13, 40, 6, true, true);
    EXPECT_LT(MaxAbsDiff(L.fromGrid(corr), exact), 1e-10);
    EXPECT_LT(kept, fresh);

    // A loose tolerance is met, and not by much more than asked: the solve
    // stops early.
    const double bMax = MaxAbs(L.fromGrid(sp0));
    const int loose = solve.solve(L.NY, L.k, L.NX, 0.1 * bMax, 40, 6, true, false);
    EXPECT_LT(loose, fresh);
    // The residual with the circulation split is that of the held system
    // plus the error of the response; both were asked for 0.1.
    EXPECT_LT(LinearResidual(a, L), 0.2 * bMax);
}
