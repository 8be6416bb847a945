// The compressed-row matrix shared by the incomplete and the complete
// factorisations of the Newton matrix.
#pragma once

#include <vector>

namespace quarel {

// A sparse matrix in compressed rows, columns ascending in each row.
struct SparseRows {
    int n = 0;
    std::vector<int> start{0}, col;
    std::vector<double> val;
    // y = A x.  x [in]; y [out]
    void Multiply(const double* x, double* y) const;
    // t = b - A x.  b, x [in]; t [out] (not x)
    void Residual(const double* b, const double* x, double* t) const;
    // y += A x.  x [in]; y [in,out] (not x)
    void MultiplyAdd(const double* x, double* y) const;
};

}  // namespace quarel
