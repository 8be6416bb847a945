// Complete LU factors of a sparse matrix whose rows a nested dissection
// has ordered (nested_dissection.h), by the multifrontal method on the
// dissection's tree (multifrontal.h).
//
// The analysis (fronts, assembly maps, storage) depends on the pattern and
// the dissection alone and is kept while both stay the same, so that a run
// factors each grid level's matrices with one analysis; only the numerical
// factorisation is repeated for new values.
#pragma once

#include <vector>

#include "sparse_rows.h"
#include "multifrontal.h"
#include "nested_dissection.h"

namespace quarel {

class SparseLu {
public:
    // Factors a [in] on the tree of the dissection d [in] of its rows.
    // Returns false when the matrix is singular to working precision (a
    // zero pivot), d does not dissect it, or the values are not finite;
    // Solve must not be called then.
    bool Factor(const SparseRows& a, const Dissection& d);
    // y = A^-1 r.  r [in]; y [out] (may be r)
    void Solve(const double* r, double* y) const { frontal_.Solve(r, y); }
    // Entries held by the factors (0 before the first factorisation).
    double entries() const { return entries_; }
    // Discards the factors and the analysis.
    void Clear();

private:
    MultifrontalLu frontal_;
    // The pattern and the order of the dissection of the analysis (empty:
    // none).
    std::vector<int> start_, col_, order_;
    double entries_ = 0.0;
};

}  // namespace quarel
