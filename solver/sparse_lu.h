// Complete LU factors of a sparse matrix, by the unsymmetric multifrontal
// method of UMFPACK (fill-reducing column ordering, threshold partial
// pivoting, dense frontal kernels through BLAS).
//
// The symbolic analysis (ordering and the frontal tree) depends on the
// pattern alone and is kept while the pattern stays the same, so that a
// run factors each grid level's matrices with one analysis; only the
// numerical factorisation is repeated for new values.
//
// The caller may give the order of elimination (a nested dissection that
// knows the grid, see nested_dissection.h); without one, large matrices
// are ordered by a general graph partitioner and small ones by minimum
// degree.
#pragma once

#include <vector>

#include "ilu.h"

namespace quarel {

class SparseLu {
public:
    SparseLu() = default;
    SparseLu(const SparseLu&) = delete;
    SparseLu& operator=(const SparseLu&) = delete;
    ~SparseLu();

    // Factors a [in], with the rows and columns eliminated in the order
    // `order` [in] when one of size a.n is given (order[q] = the q-th;
    // threshold pivoting still chooses off the diagonal where it must).
    // Returns false when the matrix is singular to working precision (a
    // zero pivot) or the factorisation fails; Solve must not be called
    // then.
    bool Factor(const SparseRows& a, const std::vector<int>* order = nullptr);
    // y = A^-1 r.  r [in]; y [out] (not r)
    void Solve(const double* r, double* y) const;
    // Nonzeros of L and U (0 before the first factorisation).
    double entries() const { return entries_; }
    // Discards the factors and the analysis.
    void Clear();

private:
    void* symbolic_ = nullptr;
    void* numeric_ = nullptr;
    int n_ = 0;
    // The pattern and the values the factors were made from (UMFPACK
    // reads them again in Solve).
    std::vector<int> start_, col_;
    std::vector<int> order_;  // the order the analysis was made with (empty: its own)
    std::vector<double> val_;
    double entries_ = 0.0;
    mutable std::vector<int> wi_;  // work of the solve
    mutable std::vector<double> w_;
};

}  // namespace quarel
