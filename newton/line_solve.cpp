// Restarted, line-preconditioned GMRES for the Newton system with the
// circulation split off.
#include "line_solve.h"

#include <cmath>
#include <cstring>

#include "operator.h"

namespace quarel {

double MaxAbsUnknowns(const int& NY, const int& k, const int& NX, const GridArray& v) {
    double m = 0.0;
    for (int i = 1; i <= NX - k; ++i) m = std::fmax(m, std::fabs(v(i, 1)));
    for (int j = 2; j <= NY - 1; ++j) {
        const double* l = v.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) m = std::fmax(m, std::fabs(l[i]));
    }
    return m;
}

LineSolve::LineSolve()
    : lines_(NewZeroed<LineSolver>()),
      gammaColumn_(NewZeroed<GridArray>()),
      gammaResponse_(NewZeroed<GridArray>()) {}
LineSolve::~LineSolve() = default;

// Restarted GMRES for A x = b (x in sol, work in gmr, gmz, gmw): at most
// `cycles` cycles, until the largest residual is at most tau.  With warm,
// sol holds a start value on entry; otherwise the solve starts from 0.
// With inexact, each cycle stops once its own residual has fallen by the
// share that the largest residual still has to fall, and the basis is
// built without the rescaling product.  Returns the GMRES iterations.
int LineSolve::solveLinear(const int& NY, const int& k, const int& NX, const GridArray& b,
                           GridArray& sol, const double tau, const int& cycles, const int& m,
                           const bool warm, const bool inexact) {
    LineSolver& ls = *lines_;
    if (warm) {
        ApplyOperator(ls, NY, k, NX, sol, gmw);
        for (int j = 1; j <= NY; ++j) {
            const int o = GridArray::at(0, j);
            for (int i = 0; i <= NX; ++i) gmr.data()[o + i] = b.data()[o + i] - gmw.data()[o + i];
        }
    } else {
        for (int j = 1; j <= NY; ++j) {
            const int o = GridArray::at(0, j);
            std::memcpy(gmr.data() + o, b.data() + o, sizeof(double) * (NX + 1));
            std::memset(sol.data() + o, 0, sizeof(double) * (NX + 1));
        }
    }
    int iterations = 0;
    double left = inexact || warm ? MaxAbsUnknowns(NY, k, NX, gmr) : 0.0;
    if (warm && left <= tau) return iterations;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        ApplyPreconditioner(ls, NY, k, NX, gmr, gmz);
        const double target = inexact && left > 0.0 ? 0.5 * tau / left : 0.0;
        iterations += GmresCycle(ls, NY, k, NX, m, gmz, target, !inexact);
        ApplyOperator(ls, NY, k, NX, gmz, gmw);
        for (int j = 1; j <= NY - 1; ++j) {
            const int o = GridArray::at(0, j);
            double* c = sol.data() + o;
            double* r = gmr.data() + o;
            const double* z = gmz.data() + o;
            const double* w = gmw.data() + o;
            for (int i = 1; i <= NX - 1; ++i) {
                c[i] += z[i];
                r[i] -= w[i];
            }
        }
        left = MaxAbsUnknowns(NY, k, NX, gmr);
        if (left <= tau) break;
    }
    return iterations;
}

int LineSolve::solve(const int& NY, const int& k, const int& NX, const double& tau,
                     const int& cycles, const int& m, const bool& inexact, const bool& keepResponse,
                     const bool& accurateResponse) {
    // The circulation Gamma = phi(NX-k, 1) - phi(k, 1) couples every node
    // to the trailing edge, and the error of a wrong circulation is a
    // smooth field whose residual restarted GMRES does not reduce at all.
    // The correction is therefore split: x = y - g h + g s, where s is 1 on
    // the second-side cut nodes (the jump), y solves the system with the
    // circulation held, h solves it for the column c that a unit change
    // of circulation adds, and the scalar g follows from the definition of
    // the circulation, g = y(NX-k) - y(k) - g (h(NX-k) - h(k)).
    LineSolver& ls = *lines_;
    GridArray& gammaColumn = *gammaColumn_;
    GridArray& gammaResponse = *gammaResponse_;
    ls.frozen = true;
    int iterations = solveLinear(NY, k, NX, sp0, corr, tau, cycles, m, false, inexact);

    // c = (A without the circulation column) s - adg.
    for (int j = 1; j <= NY; ++j) {
        std::memset(gmw.data() + GridArray::at(0, j), 0, sizeof(double) * (NX + 1));
    }
    for (int i = NX - k + 1; i <= NX - 1; ++i) gmw(i, 1) = 1.0;
    ApplyOperator(ls, NY, k, NX, gmw, gammaColumn);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gammaColumn(i, j) -= adg(i, j);
    for (int i = NX - k + 1; i <= NX - 1; ++i) gammaColumn(i, 1) = 0.0;
    // h is solved to the relative accuracy asked of y (at least 1e-3).
    // The matrix changes little from one Newton step to the next, nor
    // does h: the inexact solve, and the solve of a step with the exact
    // matrix, start from the h of the step before on the same grid.
    const double cMax = MaxAbsUnknowns(NY, k, NX, gammaColumn);
    const double rMax = MaxAbsUnknowns(NY, k, NX, sp0);
    const double relative = rMax > 0.0 ? std::fmin(1.0e-3, tau / rMax) : 1.0e-3;
    const int hCycles = cycles < 3 || accurateResponse ? cycles : 3;
    double hTol = relative * cMax;
    if (accurateResponse) {
        // The error of h enters the correction times the change of
        // circulation g, about dy: with the exact matrix the whole
        // correction must meet tau, or the circulation, and with it the
        // lift, converges only linearly (at the share of h's error).
        const double dy = std::fabs(Circulation(corr, NX, k));
        if (dy > 0.0) hTol = std::fmin(hTol, 0.5 * tau / dy);
    }
    iterations +=
        solveLinear(NY, k, NX, gammaColumn, gammaResponse, hTol, hCycles, m, keepResponse, inexact);
    ls.frozen = false;

    const double dy = Circulation(corr, NX, k);
    const double dh = Circulation(gammaResponse, NX, k);
    const double g = std::fabs(1.0 + dh) > 1.0e-12 ? dy / (1.0 + dh) : 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        double* c = corr.data() + GridArray::at(0, j);
        const double* h = gammaResponse.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) c[i] -= g * h[i];
    }
    for (int i = 1; i <= k - 1; ++i) corr(NX - i, 1) = corr(i, 1) + g;
    // The linear residual of the whole system, for the record.
    ApplyOperator(ls, NY, k, NX, corr, gmw);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gmr(i, j) = sp0(i, j) - gmw(i, j);
    return iterations;
}

}  // namespace quarel
