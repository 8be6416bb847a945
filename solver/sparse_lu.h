// Complete LU factors of a sparse matrix.
//
// With a nested dissection of its rows (nested_dissection.h) the matrix is
// factored by the multifrontal method on the dissection's tree
// (multifrontal.h); without one, by the unsymmetric multifrontal method of
// UMFPACK (fill-reducing ordering of its own, threshold partial pivoting).
//
// The analysis (ordering, fronts) depends on the pattern alone and is kept
// while the pattern and the dissection stay the same, so that a run
// factors each grid level's matrices with one analysis; only the numerical
// factorisation is repeated for new values.
#pragma once

#include <vector>

#include "ilu.h"
#include "multifrontal.h"
#include "nested_dissection.h"

namespace quarel {

class SparseLu {
public:
    SparseLu() = default;
    SparseLu(const SparseLu&) = delete;
    SparseLu& operator=(const SparseLu&) = delete;
    ~SparseLu();

    // Factors a [in], on the tree of the dissection d [in] when one is
    // given.  Returns false when the matrix is singular to working
    // precision (a zero pivot), d does not dissect it, or the factorisation
    // fails; Solve must not be called then.
    bool Factor(const SparseRows& a, const Dissection* d = nullptr);
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
    std::vector<double> val_;
    double entries_ = 0.0;
    mutable std::vector<int> wi_;  // work of the solve
    mutable std::vector<double> w_;
    // The multifrontal factors, and the order of the dissection they
    // were analysed for (empty: UMFPACK's factors are in use).
    MultifrontalLu frontal_;
    std::vector<int> frontalOrder_;
};

}  // namespace quarel
