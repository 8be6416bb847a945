// Line preconditioner, the linear operator, the line-1 block solver and
// one restarted-GMRES cycle.
#pragma once

#include "state.h"

namespace quarel {

// With frozen = true the operator, the preconditioner and the GMRES cycle
// act on potentials with a fixed circulation: the second-side cut values
// of every vector equal their partners' and the circulation column of the
// Newton matrix is left out.  frozen [in]
void FreezeCirculation(const bool frozen);

// With on = true the preconditioner follows its line factorisation with one
// Gauss-Seidel sweep of exact column solves, marching with the flow: about
// twice the work per application, for systems on which the line
// factorisation alone leaves GMRES stalled (fine grids with large supersonic
// regions).  on [in]
void AddColumnSweep(const bool on);
bool ColumnSweepAdded();

// z = P^-1 r with the factors of BuildSystem.  r and z may be the same
// array.  NY, k, NX [in]; r [in]; z [out]
void ApplyPreconditioner(const int& NY, const int& k, const int& NX, const GridArray& r,
                         GridArray& z);

// av = A v at every unknown node (0 at the second-side cut nodes of
// line 1).  NY, k, NX [in]; v [in]; av [out]
void ApplyOperator(const int& NY, const int& k, const int& NX, const GridArray& v, GridArray& av);

// Solves the line-1 block-tridiagonal system in bta, btb, btc, btg with
// the right-hand sides in btr (stations 1..NX-k); the solution replaces
// btr.  NX, k [in]
void BlockSolveLine1(const int& NX, const int& k);

// One GMRES cycle of dimension m (1..30) with the scaled preconditioned
// operator, started from b; the result overwrites b.  The Arnoldi process
// stops early once the cycle has reduced the 2-norm of its (preconditioned)
// residual to target times that of b (target 0: never).  With
// rescale = false the operator is P^-1 A itself: the factor s2/s1 only
// rescales the basis vectors, which leaves the Krylov space and the result
// the same up to rounding, and saves one operator product per iteration.
// Returns the dimension reached.
//   NY, k, NX, m [in]; b [in,out]; target, rescale [in]
int GmresCycle(const int& NY, const int& k, const int& NX, const int& m, GridArray& b,
               const double& target = 0.0, const bool& rescale = true);

}  // namespace quarel
