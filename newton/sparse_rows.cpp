#include "sparse_rows.h"

namespace quarel {

void SparseRows::Multiply(const double* x, double* y) const {
    for (int r = 0; r < n; ++r) {
        double s = 0.0;
        for (int e = start[r]; e < start[r + 1]; ++e) s += val[e] * x[col[e]];
        y[r] = s;
    }
}

void SparseRows::Residual(const double* b, const double* x, double* t) const {
    for (int r = 0; r < n; ++r) {
        double s = 0.0;
        for (int e = start[r]; e < start[r + 1]; ++e) s += val[e] * x[col[e]];
        t[r] = b[r] - s;
    }
}

void SparseRows::MultiplyAdd(const double* x, double* y) const {
    for (int r = 0; r < n; ++r) {
        double s = 0.0;
        for (int e = start[r]; e < start[r + 1]; ++e) s += val[e] * x[col[e]];
        y[r] += s;
    }
}

}  // namespace quarel
