// The ilu and multilevel methods: inexact Newton with flexible GMRES on the
// whole system, preconditioned by the incomplete factorisation of the
// approximate Newton rows ordered with the flow, on one grid level (ilu) or
// as the smoother of a V-cycle over the coarse levels (multilevel).  The
// direct method (linear_direct.cpp) builds on it.
#pragma once

#include <exception>
#include <thread>

#include "ilu_solve.h"
#include "linear_method.h"

namespace quarel {

class FactoredMethod : public LinearMethodSolve {
public:
    explicit FactoredMethod(const NewtonOptions& options);
    ~FactoredMethod() override;

    void beforeExactRows(const LinearStep& step, bool chord) override;
    void solveExact(const LinearStep& step, double tau, const RowsAccess& rows) override;
    void solveApproximate(const LinearStep& step) override;
    bool solveAgain(const LinearStep& step, double tau) override;
    bool canSolveAgain() const override { return true; }

protected:
    // Complete instead of incomplete factors on this grid.
    virtual bool completeFactors(const LinearStep& step) const {
        (void)step;
        return false;
    }
    // The factors of the step before may precondition this step's exact
    // matrix.
    virtual bool keepFactors(const LinearStep& step) const {
        (void)step;
        return false;
    }
    // A solve that leaves more than kFallbackShare times its tolerance is
    // repeated with a wider Krylov space, then on the fine grid alone.
    void fallBackIfStalled(const LinearStep& step, double tau, const RowsAccess* exactRows);

    // Waits for the factors that beforeExactRows left in the making.
    void factorsMade();

    IluSolve ilu_;
    int fill_;
    int levels_;

private:
    ForcingTerm forcing_;
    bool overlap_;           // factor beside the exact rows (more than one thread)
    std::thread factoring_;  // the factors in the making
    std::exception_ptr factorFault_;
};

}  // namespace quarel
