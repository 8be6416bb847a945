// Restarted GMRES with the line preconditioner for the Newton system
// A corr = sp0, with the circulation split off (see LineSolve::solve): the
// solve of the line and inexact methods.
#pragma once

#include <memory>

#include "gmres.h"
#include "state.h"
#include "zeroed.h"

namespace quarel {

// Largest |v| over the unknowns (lines 2 .. NY-1, i = 1 .. NX-1, and
// line 1, i = 1 .. NX-k).
double MaxAbsUnknowns(const int& NY, const int& k, const int& NX, const GridArray& v);

class LineSolve {
public:
    LineSolve();
    ~LineSolve();

    // The correction for the Newton residual sp0 (in corr; the linear
    // residual it leaves in gmr).  tau is the largest linear residual the
    // solve of the held-circulation system may leave; with inexact the
    // solves stop inside their cycles, and the Krylov basis is built
    // without the rescaling product.  The circulation response starts from
    // the one of the solve before when keepResponse says it belongs to the
    // same grid and a similar matrix.  With accurateResponse the
    // circulation response is solved as far as the whole correction needs
    // to meet tau (the exact matrix), else to a fixed relative accuracy.
    // Returns the GMRES iterations.
    //   NY, k, NX, tau, cycles, m, inexact, keepResponse, accurateResponse [in]
    int solve(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
              const int& m, const bool& inexact, const bool& keepResponse,
              const bool& accurateResponse = false);

    // The preconditioner's flags and work storage (the column sweep is
    // switched on here).
    LineSolver& lines() { return *lines_; }

private:
    int solveLinear(const int& NY, const int& k, const int& NX, const GridArray& b, GridArray& sol,
                    double tau, const int& cycles, const int& m, bool warm, bool inexact);

    Zeroed<LineSolver> lines_;
    Zeroed<GridArray> gammaColumn_;    // column of the circulation change in A
    Zeroed<GridArray> gammaResponse_;  // its solution with the circulation held
};

}  // namespace quarel
