// Linear solver of the Newton step: line-1 block solve, line
// preconditioner, operator and restarted GMRES, each checked against a
// dense solve of the same small system.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

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
    const std::vector<double> x = L.fromGrid(corr);
    const std::vector<double> b = L.fromGrid(sp0);
    const std::vector<double> ax = MatVec(a, x);
    double m = 0.0;
    for (size_t r = 0; r < b.size(); ++r) m = std::fmax(m, std::fabs(ax[r] - b[r]));
    return m;
}

// The line method's solve of A corr = sp0 to the linear tolerance tol.
void LineMethodSolve(const Layout& L, double tol, int cycles, int m, LineSolve& solve) {
    solve.solve(L.NY, L.k, L.NX, 0.75 * tol, cycles, m, false, false);
}
void LineMethodSolve(const Layout& L, double tol, int cycles, int m) {
    LineSolve solve;
    LineMethodSolve(L, tol, cycles, m, solve);
}

}  // namespace

TEST(BlockSolveLine1, MatchesDenseSolveWithBorderUnknowns) {
    for (const int k : {3, 1}) {
        const int NX = 12, N = NX - k;
        std::mt19937 gen(7 + k);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int s = 1; s <= N; ++s) {
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    btb(r, c, s) = (r == c ? 3.0 : 0.0) + 0.4 * u(gen);
                    bta(r, c, s) = 0.4 * u(gen);
                    btc(r, c, s) = 0.4 * u(gen);
                }
                btg(r, s) = 0.5 * u(gen);
                btr(r, s) = u(gen);
            }
            bta(0, 2, s) = bta(1, 2, s) = bta(2, 2, s) = s == N ? 0.0 : bta(0, 2, s);
        }
        // Dense system: 3 unknowns per station, then dGamma, w2, w3.
        const int n = 3 * N + 3, G = 3 * N, W2 = G + 1, W3 = G + 2;
        Matrix a(n, std::vector<double>(n, 0.0));
        std::vector<double> b(n, 0.0);
        for (int s = 1; s <= N; ++s) {
            for (int r = 0; r < 3; ++r) {
                std::vector<double>& row = a[3 * (s - 1) + r];
                for (int c = 0; c < 3; ++c) {
                    row[3 * (s - 1) + c] += btb(r, c, s);
                    if (s > 1) row[3 * (s - 2) + c] += btc(r, c, s);
                    if (s < N) row[3 * s + c] += bta(r, c, s);
                }
                if (s == N) {
                    row[W2] += bta(r, 1, s);
                    row[W3] += bta(r, 0, s);
                }
                row[G] += btg(r, s);
                b[3 * (s - 1) + r] = btr(r, s);
            }
        }
        a[G][G] = 1.0;  // dGamma = u2(N) - u2(k)
        a[G][3 * (N - 1) + 1] -= 1.0;
        a[G][3 * (k - 1) + 1] += 1.0;
        a[W2][W2] = 1.0;
        a[W3][W3] = 1.0;
        if (k >= 2) {  // w2 = u2(k-1) + dGamma, w3 = u3(k-1)
            a[W2][3 * (k - 2) + 1] = -1.0;
            a[W2][G] = -1.0;
            a[W3][3 * (k - 2) + 2] = -1.0;
        }
        const std::vector<double> x = DenseSolve(a, b);
        BlockSolveLine1(*std::make_unique<LineSolver>(), NX, k);
        for (int s = 1; s <= N; ++s)
            for (int r = 0; r < 3; ++r)
                EXPECT_NEAR(btr(r, s), x[3 * (s - 1) + r], 1e-12) << "k " << k << " station " << s;
    }
}

TEST(ApplyOperator, MatchesDenseMatrixAndKeepsCutNodesZero) {
    const std::unique_ptr<LineSolver> ls(new LineSolver());
    const Layout& L = kGrid;
    FillRandomSystem(L, 11);
    const Matrix a = DenseOperator(L);
    const std::vector<double> x = RandomVector(L.count(), 3);
    L.toGrid(x, krylov[1]);
    // Garbage in the output array must not survive.
    for (int j = 1; j <= L.NY; ++j)
        for (int i = 0; i <= L.NX; ++i) gmw(i, j) = 99.0;
    ApplyOperator(*ls, L.NY, L.k, L.NX, krylov[1], gmw);
    const std::vector<double> ax = MatVec(a, x);
    const std::vector<double> got = L.fromGrid(gmw);
    for (size_t r = 0; r < ax.size(); ++r) EXPECT_NEAR(got[r], ax[r], 1e-13) << r;
    for (int i = L.NX - L.k + 1; i <= L.NX; ++i) EXPECT_EQ(gmw(i, 1), 0.0) << i;
    for (int j = 1; j <= L.NY; ++j) {
        EXPECT_EQ(gmw(0, j), 0.0);
        EXPECT_EQ(gmw(L.NX, j), 0.0);
    }
    for (int i = 0; i <= L.NX; ++i) EXPECT_EQ(gmw(i, L.NY), 0.0);

    // The upwind terms are dropped next to the ends of a line: with only
    // adm at i = 2 and adp at i = NX-2 the product is the diagonal alone.
    FillRandomSystem(L, 12);
    for (int j = 1; j <= L.NY; ++j)
        for (int i = 0; i <= L.NX; ++i) {
            for (GridArray* c : {&ad2, &ad3, &ad4, &ad5, &ad6, &ad7, &ad8, &ad9, &adm, &adp, &adg})
                (*c)(i, j) = 0.0;
        }
    adm(2, 3) = 5.0;
    adp(L.NX - 2, 3) = 5.0;
    L.toGrid(RandomVector(L.count(), 4), krylov[1]);
    ApplyOperator(*ls, L.NY, L.k, L.NX, krylov[1], gmw);
    EXPECT_DOUBLE_EQ(gmw(2, 3), krylov[1](2, 3));
    EXPECT_DOUBLE_EQ(gmw(L.NX - 2, 3), krylov[1](L.NX - 2, 3));
}

TEST(ApplyPreconditioner, SolvesTheFactoredSystem) {
    const std::unique_ptr<LineSolver> ls(new LineSolver());
    const Layout& L = kGrid;
    FillRandomSystem(L, 21, 1.2);
    const Matrix p = DensePreconditioner(L);
    const std::vector<double> r = RandomVector(L.count(), 5);
    const std::vector<double> expect = DenseSolve(p, r);

    L.toGrid(r, gmr);
    ApplyPreconditioner(*ls, L.NY, L.k, L.NX, gmr, gmz);
    const std::vector<double> got = L.fromGrid(gmz);
    for (size_t q = 0; q < got.size(); ++q) EXPECT_NEAR(got[q], expect[q], 1e-12) << q;
    // The second side of the cut carries the circulation jump.
    const double dg = gmz(L.NX - L.k, 1) - gmz(L.k, 1);
    for (int i = 1; i < L.k; ++i) EXPECT_NEAR(gmz(L.NX - i, 1), gmz(i, 1) + dg, 1e-14);

    // In place (r and z the same array) gives the same result.
    L.toGrid(r, gmw);
    ApplyPreconditioner(*ls, L.NY, L.k, L.NX, gmw, gmw);
    for (int j = 1; j <= L.NY - 1; ++j)
        for (int i = 1; i <= L.NX - 1; ++i) EXPECT_DOUBLE_EQ(gmw(i, j), gmz(i, j));

    // P is a sound approximation of A on this system: a (1 + delta)
    // diagonal only moves the solution a little.
    const std::vector<double> pa = DenseSolve(DenseOperator(L), r);
    double diff = 0.0;
    for (size_t q = 0; q < got.size(); ++q) diff = std::fmax(diff, std::fabs(got[q] - pa[q]));
    EXPECT_LT(diff, 0.5 * MaxAbs(pa));
}

TEST(Gmres, DriverConvergesToTheDenseSolution) {
    const Layout& L = kGrid;
    FillRandomSystem(L, 31, 1.0);
    const Matrix a = DenseOperator(L);
    const std::vector<double> x = DenseSolve(a, L.fromGrid(sp0));
    LineMethodSolve(L, 1e-13, 40, 6);
    const std::vector<double> got = L.fromGrid(corr);
    for (size_t q = 0; q < x.size(); ++q) EXPECT_NEAR(got[q], x[q], 1e-11) << q;
    // The correction jumps by its circulation across the cut, and the
    // linear residual of the driver is the true one.
    const double dg = corr(L.NX - L.k, 1) - corr(L.k, 1);
    for (int i = 1; i < L.k; ++i) EXPECT_NEAR(corr(L.NX - i, 1), corr(i, 1) + dg, 1e-14);
    EXPECT_LT(LinearResidual(a, L), 1e-12);

    // A full Krylov space (dimension = number of unknowns) solves the
    // system in a single cycle.
    const Layout small{8, 4, 2};  // 6 + 2*7 = 20 unknowns
    FillRandomSystem(small, 33, 1.3);
    LineMethodSolve(small, 0.0, 1, small.count());
    EXPECT_LT(LinearResidual(DenseOperator(small), small), 1e-10);
}

TEST(Gmres, ResidualFallsWithTheKrylovDimension) {
    const Layout& L = kGrid;
    FillRandomSystem(L, 41, 1.5);  // a deliberately weak preconditioner
    const Matrix a = DenseOperator(L);
    double previous = 1e300;
    for (int m = 1; m <= 12; ++m) {
        LineMethodSolve(L, 0.0, 1, m);
        const double res = LinearResidual(a, L);
        EXPECT_LE(res, previous * (1.0 + 1e-12)) << "m = " << m;
        previous = res;
    }
    EXPECT_LT(previous, 1e-3 * MaxAbs(L.fromGrid(sp0)));
}

TEST(Gmres, OneCycleAndZeroRightHandSide) {
    const Layout& L = kGrid;
    FillRandomSystem(L, 51, 1.4);
    const Matrix a = DenseOperator(L);
    // One cycle per solve already reduces the residual, and more cycles
    // reduce it further; the correction always jumps across the cut by
    // its own circulation change.
    LineMethodSolve(L, 0.0, 1, 3);
    const double once = LinearResidual(a, L);
    EXPECT_LT(once, MaxAbs(L.fromGrid(sp0)));
    const double dg = corr(L.NX - L.k, 1) - corr(L.k, 1);
    for (int i = 1; i < L.k; ++i) EXPECT_NEAR(corr(L.NX - i, 1), corr(i, 1) + dg, 1e-14);
    LineMethodSolve(L, 0.0, 4, 3);
    EXPECT_LT(LinearResidual(a, L), once);

    // Zero right-hand side: zero correction, no NaN from the normalisation.
    for (int j = 1; j <= L.NY; ++j)
        for (int i = 0; i <= L.NX; ++i) sp0(i, j) = 0.0;
    LineMethodSolve(L, 0.0, 3, 5);
    for (int j = 1; j <= L.NY; ++j)
        for (int i = 0; i <= L.NX; ++i) EXPECT_EQ(corr(i, j), 0.0) << i << "," << j;
}

TEST(ApplyPreconditioner, ColumnSweepSolvesEachColumnWithTheFlow) {
    const std::unique_ptr<LineSolver> ls(new LineSolver());
    const Layout L{16, 7, 3};
    FillRandomSystem(L, 41, 1.2);
    const Matrix a = DenseOperator(L);
    const std::vector<double> r = RandomVector(L.count(), 43), s = RandomVector(L.count(), 47);
    static GridArray z, zs, zsum, rs;
    for (const bool frozen : {false, true}) {
        SCOPED_TRACE(frozen);
        ls->frozen = frozen;
        ls->columns = true;
        L.toGrid(r, gmr);
        ApplyPreconditioner(*ls, L.NY, L.k, L.NX, gmr, z);
        // The last column swept, i = NX-1, is solved exactly against its
        // neighbours: its rows of A z equal r.
        ApplyOperator(*ls, L.NY, L.k, L.NX, z, gmw);
        for (int j = 2; j <= L.NY - 1; ++j)
            EXPECT_NEAR(gmw(L.NX - 1, j), gmr(L.NX - 1, j), 1e-12) << j;
        // The sweep keeps the preconditioner linear.
        L.toGrid(s, rs);
        ApplyPreconditioner(*ls, L.NY, L.k, L.NX, rs, zs);
        std::vector<double> sum(r.size());
        for (size_t q = 0; q < r.size(); ++q) sum[q] = r[q] + 2.0 * s[q];
        L.toGrid(sum, gmw);
        ApplyPreconditioner(*ls, L.NY, L.k, L.NX, gmw, zsum);
        for (int j = 1; j <= L.NY - 1; ++j)
            for (int i = 1; i <= L.NX - 1; ++i)
                EXPECT_NEAR(zsum(i, j), z(i, j) + 2.0 * zs(i, j), 1e-12) << i << "," << j;
        // In place gives the same result.
        L.toGrid(r, gmw);
        ApplyPreconditioner(*ls, L.NY, L.k, L.NX, gmw, gmw);
        for (int j = 1; j <= L.NY - 1; ++j)
            for (int i = 1; i <= L.NX - 1; ++i) EXPECT_DOUBLE_EQ(gmw(i, j), z(i, j));
        ls->columns = false;
        ls->frozen = false;
    }
    // With the sweep the driver still converges to the dense solution.
    LineSolve solve;
    solve.lines().columns = true;
    const std::vector<double> x = DenseSolve(a, L.fromGrid(sp0));
    LineMethodSolve(L, 1e-13, 40, 6, solve);
    const std::vector<double> got = L.fromGrid(corr);
    for (size_t q = 0; q < x.size(); ++q) EXPECT_NEAR(got[q], x[q], 1e-11) << q;
}
