// Flexible GMRES on the whole Newton system A corr = sp0 (the circulation
// included), preconditioned by a factorisation of the Newton matrix
// ordered with the flow (ilu.h): the solve of the ilu, multilevel and
// direct methods.
#pragma once

#include <memory>
#include <vector>

#include "fgmres.h"
#include "gmres.h"
#include "ilu.h"
#include "state.h"
#include "zeroed.h"

namespace quarel {

class IluSolve {
public:
    IluSolve();
    ~IluSolve();

    // Builds the factors from the rows of the Newton matrix as they stand:
    // complete LU factors when `complete`, or when that finds the matrix
    // singular, the incomplete ones of fill level `fill` on gridLevels
    // levels.  NY, k, NX, fill, gridLevels, complete [in]
    void build(const int& NY, const int& k, const int& NX, const int& fill, const int& gridLevels,
               const bool& complete = false);
    // build in two parts: copyRows reads the rows, factor (which may run
    // on another thread while the rows change) makes the factors.
    void copyRows(const int& NY, const int& k, const int& NX, const bool& complete) {
        ilu_.CopyRows(NY, k, NX, complete);
    }
    void factor(const int& fill, const int& gridLevels, const bool& complete) {
        ilu_.Factor(fill, gridLevels, complete);
    }
    // Whether the last build made complete factors.
    bool complete() const { return ilu_.complete(); }
    // Threads of the complete factors' solves (0: all cores; the results do
    // not depend on it).
    void setThreads(int threads) { ilu_.setThreads(threads); }

    // Solves for the correction (in corr; the linear residual it leaves in
    // gmr) until the largest linear residual is at most tau, with the
    // factors of the last build.  Returns the FGMRES iterations.
    //   NY, k, NX, tau, cycles, m [in]
    int solve(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
              const int& m);

private:
    FlowOrderedIlu ilu_;
    FgmresWorkspace work_;
    std::vector<double> b_, x_;
    Zeroed<GridArray> v_, av_;  // grid images of a Krylov vector and its product
    Zeroed<LineSolver> plain_;  // the operator with the circulation free
};

}  // namespace quarel
