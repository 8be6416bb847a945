// Line preconditioner, the linear operator, the line-1 block solver and
// one restarted-GMRES cycle.
#pragma once

#include "state.h"

namespace quarel {

// State of the line preconditioner and of the operator product: the two
// mode flags and the work storage of the line-1 factors and of the column
// sweep.  The routines below that take a LineSolver use it; those without
// use the Newton step's own, NewtonLineSolver(), whose flags
// FreezeCirculation and AddColumnSweep set.  (About 0.8 MB: keep it in
// static or heap storage, not on the stack.)
struct LineSolver {
    // Vectors carry no circulation change: their second-side cut values
    // equal their partners', the operator leaves out the circulation
    // column and the preconditioner keeps the second side equal to the
    // first.
    bool frozen = false;
    // The preconditioner follows its line factorisation with one sweep of
    // exact column solves.
    bool columns = false;
    // Factors of the line-1 block elimination, kept for all the
    // preconditioner applications of a GMRES cycle: per station the
    // inverse of the reduced diagonal block, X = M^-1 A and the columns of
    // Y; the inverse of the border system.
    double inv[kBlockStations + 1][3][3];
    double x[kBlockStations + 1][3][3];
    double y[kBlockStations + 1][3][4];
    double binv[3][3];
    // Column sweep: the tridiagonal elimination of one column and a copy
    // of the right-hand side (which may be the output array).
    double colB[kMaxNY + 1], colC[kMaxNY + 1], colD[kMaxNY + 1];
    GridArray columnRhs;
};
LineSolver& NewtonLineSolver();

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
//   ls [in,out] flags and work storage
void ApplyPreconditioner(LineSolver& ls, const int& NY, const int& k, const int& NX,
                         const GridArray& r, GridArray& z);

// av = A v at every unknown node (0 at the second-side cut nodes of
// line 1).  NY, k, NX [in]; v [in]; av [out]
void ApplyOperator(const int& NY, const int& k, const int& NX, const GridArray& v, GridArray& av);
//   ls [in] flags
void ApplyOperator(const LineSolver& ls, const int& NY, const int& k, const int& NX,
                   const GridArray& v, GridArray& av);

// Solves the line-1 block-tridiagonal system in bta, btb, btc, btg with
// the right-hand sides in btr (stations 1..NX-k); the solution replaces
// btr.  NX, k [in]
void BlockSolveLine1(const int& NX, const int& k);
//   ls [in,out] flags and factor storage
void BlockSolveLine1(LineSolver& ls, const int& NX, const int& k);

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
//   ls [in,out] flags and work storage
int GmresCycle(LineSolver& ls, const int& NY, const int& k, const int& NX, const int& m,
               GridArray& b, const double& target = 0.0, const bool& rescale = true);

}  // namespace quarel
