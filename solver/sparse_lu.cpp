// Complete LU factors: multifrontal on a given dissection, or UMFPACK.
#include "sparse_lu.h"

#include <suitesparse/umfpack.h>

namespace quarel {

namespace {

// UMFPACK's control settings: large matrices ordered by nested dissection
// (METIS), which on a C-grid of 496 x 97 keeps 5.6 million entries in the
// factors against 7.8 million by approximate minimum degree; small
// matrices by the cheaper minimum degree.  No iterative refinement: the
// factors precondition a Krylov solve that corrects what rounding leaves.
constexpr int kNestedDissectionFrom = 20000;

void Defaults(double* control, const int n) {
    umfpack_di_defaults(control);
    control[UMFPACK_ORDERING] =
        n >= kNestedDissectionFrom ? UMFPACK_ORDERING_METIS : UMFPACK_ORDERING_AMD;
    control[UMFPACK_IRSTEP] = 0;
}

}  // namespace

SparseLu::~SparseLu() {
    Clear();
}

void SparseLu::Clear() {
    if (numeric_ != nullptr) umfpack_di_free_numeric(&numeric_);
    if (symbolic_ != nullptr) umfpack_di_free_symbolic(&symbolic_);
    numeric_ = symbolic_ = nullptr;
    n_ = 0;
    entries_ = 0.0;
    start_.clear();
    col_.clear();
    frontalOrder_.clear();
}

bool SparseLu::Factor(const SparseRows& a, const Dissection* d) {
    if (d != nullptr) {
        if (numeric_ != nullptr) umfpack_di_free_numeric(&numeric_);
        if (symbolic_ != nullptr) umfpack_di_free_symbolic(&symbolic_);
        numeric_ = symbolic_ = nullptr;
        entries_ = 0.0;
        const bool same = !frontalOrder_.empty() && a.n == n_ && a.start == start_ &&
                          a.col == col_ && d->order == frontalOrder_;
        if (!same) {
            frontalOrder_.clear();
            n_ = 0;
            if (!frontal_.Analyse(a, *d)) return false;
            n_ = a.n;
            start_ = a.start;
            col_ = a.col;
            frontalOrder_ = d->order;
        }
        if (!frontal_.Factor(a)) return false;
        entries_ = frontal_.entries();
        return true;
    }
    frontalOrder_.clear();
    double control[UMFPACK_CONTROL], info[UMFPACK_INFO];
    Defaults(control, a.n);
    if (numeric_ != nullptr) umfpack_di_free_numeric(&numeric_);
    numeric_ = nullptr;
    entries_ = 0.0;
    // The rows of A are the columns of A^T: UMFPACK, which stores
    // columns, factors A^T, and Solve asks it for the system with A.
    const bool samePattern =
        symbolic_ != nullptr && a.n == n_ && a.start == start_ && a.col == col_;
    if (!samePattern) {
        if (symbolic_ != nullptr) umfpack_di_free_symbolic(&symbolic_);
        symbolic_ = nullptr;
        n_ = a.n;
        start_ = a.start;
        col_ = a.col;
        if (umfpack_di_symbolic(n_, n_, start_.data(), col_.data(), a.val.data(), &symbolic_,
                                control, info) != UMFPACK_OK) {
            Clear();
            return false;
        }
    }
    val_ = a.val;
    const int status = umfpack_di_numeric(start_.data(), col_.data(), val_.data(), symbolic_,
                                          &numeric_, control, info);
    if (status != UMFPACK_OK) {
        // UMFPACK_WARNING_singular_matrix leaves factors with a zero
        // pivot: of no use to a solve.
        if (numeric_ != nullptr) umfpack_di_free_numeric(&numeric_);
        numeric_ = nullptr;
        return false;
    }
    entries_ = info[UMFPACK_LNZ] + info[UMFPACK_UNZ];
    wi_.resize(static_cast<size_t>(n_));
    w_.resize(5 * static_cast<size_t>(n_));
    return true;
}

void SparseLu::Solve(const double* r, double* y) const {
    if (!frontalOrder_.empty()) {
        frontal_.Solve(r, y);
        return;
    }
    double control[UMFPACK_CONTROL], info[UMFPACK_INFO];
    Defaults(control, n_);
    umfpack_di_wsolve(UMFPACK_At, start_.data(), col_.data(), val_.data(), y, r, numeric_, control,
                      info, wi_.data(), w_.data());
}

}  // namespace quarel
