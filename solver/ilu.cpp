// Incomplete factorisation of the Newton matrix, ordered with the flow (see
// ilu.h).
#include "ilu.h"

#include <algorithm>
#include <cmath>

namespace quarel {

namespace {

// One row under construction: columns (compact indices) with their
// coefficients, merged when two grid neighbours map to the same unknown.
struct RowBuilder {
    std::vector<int> col;
    std::vector<double> val;
    double gamma = 0.0;  // coefficient of the circulation
    void clear() {
        col.clear();
        val.clear();
        gamma = 0.0;
    }
    void add(int c, double v) {
        for (size_t p = 0; p < col.size(); ++p) {
            if (col[p] == c) {
                val[p] += v;
                return;
            }
        }
        col.push_back(c);
        val.push_back(v);
    }
};

}  // namespace

void SparseRows::Multiply(const double* x, double* y) const {
    for (int r = 0; r < n; ++r) {
        double s = 0.0;
        for (int e = start[r]; e < start[r + 1]; ++e) s += val[e] * x[col[e]];
        y[r] = s;
    }
}

void SparseIlu::Factor(const SparseRows& a, const int& level) {
    // Pattern of the factors by levels of fill: an entry of the matrix has
    // level 0, a fill entry made by eliminating with row q has level
    // lev(r, q) + lev(q, c) + 1 and is kept up to `level`.  The pattern of
    // the Newton matrix changes only where a node turns supersonic or
    // subsonic, so the pattern of the factors is usually that of the step
    // before.
    const bool samePattern =
        a.n == n_ && level == level_ && a.start == patternStart_ && a.col == patternCol_;
    if (!samePattern) {
        n_ = a.n;
        level_ = level;
        patternStart_ = a.start;
        patternCol_ = a.col;
        FactorPattern(a, level);
    }
    FactorValues(a);
}

void SparseIlu::FactorPattern(const SparseRows& a, const int level) {
    std::vector<int> lev(n_, -1);  // level of column c in the current row
    std::vector<int> luLev;        // levels of the kept U entries
    std::vector<int> cols;
    start_.assign(1, 0);
    col_.clear();
    luLev.clear();
    diag_.assign(n_, 0);
    for (int r = 0; r < n_; ++r) {
        cols.assign(a.col.begin() + a.start[r], a.col.begin() + a.start[r + 1]);
        for (int c : cols) lev[c] = 0;
        for (size_t p = 0; p < cols.size() && cols[p] < r; ++p) {
            const int q = cols[p];
            const int lq = lev[q];
            for (int e = diag_[q] + 1; e < start_[q + 1]; ++e) {
                const int c = col_[e];
                const int l = lq + luLev[e] + 1;
                if (l > level) continue;
                if (lev[c] < 0) {
                    lev[c] = l;
                    cols.insert(std::upper_bound(cols.begin() + p + 1, cols.end(), c), c);
                } else if (l < lev[c]) {
                    lev[c] = l;
                }
            }
        }
        for (int c : cols) {
            if (c == r) diag_[r] = static_cast<int>(col_.size());
            col_.push_back(c);
            luLev.push_back(lev[c]);
            lev[c] = -1;
        }
        start_.push_back(static_cast<int>(col_.size()));
    }
}

void SparseIlu::FactorValues(const SparseRows& a) {
    // Numerical factorisation, row by row (IKJ), on the pattern.
    val_.assign(col_.size(), 0.0);
    for (int r = 0; r < n_; ++r) {
        int e = start_[r];
        for (int q = a.start[r]; q < a.start[r + 1]; ++q) {
            while (col_[e] < a.col[q]) ++e;
            val_[e] = a.val[q];
        }
    }
    pos_.assign(n_, -1);
    int* pos = pos_.data();
    for (int r = 0; r < n_; ++r) {
        for (int e = start_[r]; e < start_[r + 1]; ++e) pos[col_[e]] = e;
        for (int e = start_[r]; e < diag_[r]; ++e) {
            const int q = col_[e];
            const double f = val_[e] * val_[diag_[q]];  // diag holds the inverse
            val_[e] = f;
            for (int u = diag_[q] + 1; u < start_[q + 1]; ++u) {
                const int p = pos[col_[u]];
                if (p >= 0) val_[p] -= f * val_[u];
            }
        }
        // A vanishing pivot (not met on a sound system, whose rows are
        // scaled to a unit diagonal) is replaced by 1 rather than divided
        // by: the preconditioner then stays finite and GMRES still
        // converges, only more slowly.
        const double d = val_[diag_[r]];
        val_[diag_[r]] = std::fabs(d) > 1.0e-14 ? 1.0 / d : 1.0;
        for (int e = start_[r]; e < start_[r + 1]; ++e) pos[col_[e]] = -1;
    }
}

void SparseIlu::Solve(const double* r, double* y) const {
    const int* start = start_.data();
    const int* col = col_.data();
    const int* diag = diag_.data();
    const double* val = val_.data();
    for (int q = 0; q < n_; ++q) {
        double s = r[q];
        for (int e = start[q]; e < diag[q]; ++e) s -= val[e] * y[col[e]];
        y[q] = s;
    }
    for (int q = n_ - 1; q >= 0; --q) {
        double s = y[q];
        for (int e = diag[q] + 1; e < start[q + 1]; ++e) s -= val[e] * y[col[e]];
        y[q] = s * val[diag[q]];
    }
}

void FlowOrderedIlu::Build(const int& NY, const int& k, const int& NX, const int& level) {
    NX_ = NX;
    NY_ = NY;
    k_ = k;
    index_.assign(static_cast<size_t>(GridArray::at(0, NY + 1)), -1);
    node_.clear();

    // Columns outward from the leading edge, each from the body (or the
    // cut) to the last line before the far boundary.
    const int mid = NX / 2;
    auto addColumn = [&](int i) {
        if (i < 1 || i > NX - 1) return;
        for (int j = 1; j <= NY - 1; ++j) {
            if (j == 1 && i > NX - k) continue;  // second side of the cut
            index_[GridArray::at(i, j)] = static_cast<int>(node_.size());
            node_.push_back(GridArray::at(i, j));
        }
    };
    addColumn(mid);
    for (int d = 1; mid - d >= 1 || mid + d <= NX - 1; ++d) {
        addColumn(mid - d);
        addColumn(mid + d);
    }
    n_ = static_cast<int>(node_.size());
    first_ = index_[GridArray::at(k, 1)];
    last_ = index_[GridArray::at(NX - k, 1)];

    // Rows of A0 and the circulation column c, from the same terms as the
    // operator product: a second-side cut node counts for its partner and
    // for the circulation, a boundary node not at all.
    RowBuilder row;
    auto add = [&](int i, int j, double coef) {
        if (coef == 0.0 || i <= 0 || i >= NX || j >= NY) return;
        if (j == 1 && i > NX - k) {
            row.add(index_[GridArray::at(NX - i, 1)], coef);
            row.gamma += coef;
            return;
        }
        row.add(index_[GridArray::at(i, j)], coef);
    };
    a0_.n = n_;
    a0_.start.assign(1, 0);
    a0_.col.clear();
    a0_.val.clear();
    gammaCol_.assign(n_, 0.0);
    std::vector<std::pair<int, double>> sorted;
    for (int r = 0; r < n_; ++r) {
        const int o = node_[r];
        const int i = o % kGridStride, j = o / kGridStride + 1;
        row.clear();
        add(i, j, ad1(i, j));
        add(i - 1, j, ad2(i, j));
        add(i + 1, j, ad3(i, j));
        add(i, j + 1, ad4(i, j));
        add(i + 1, j + 1, ad6(i, j));
        add(i - 1, j + 1, ad7(i, j));
        if (j == 1) {
            if (i < k) {
                // South neighbours across the cut, on line 2.
                add(NX - i, 2, ad5(i, j));
                add(NX - i - 1, 2, ad8(i, j));
                add(NX - i + 1, 2, ad9(i, j));
            }
        } else {
            add(i, j - 1, ad5(i, j));
            add(i + 1, j - 1, ad8(i, j));
            add(i - 1, j - 1, ad9(i, j));
        }
        if (i > 2) {
            add(i - 1, j, adm(i, j));
            add(i - 2, j, -adm(i, j));
        }
        if (i < NX - 2) {
            add(i + 2, j, adp(i, j));
            add(i + 1, j, -adp(i, j));
        }
        row.add(r, 0.0);  // the diagonal is always in the pattern
        gammaCol_[r] = row.gamma - adg(i, j);
        sorted.clear();
        for (size_t p = 0; p < row.col.size(); ++p) sorted.emplace_back(row.col[p], row.val[p]);
        std::sort(sorted.begin(), sorted.end());
        for (const auto& e : sorted) {
            a0_.col.push_back(e.first);
            a0_.val.push_back(e.second);
        }
        a0_.start.push_back(static_cast<int>(a0_.col.size()));
    }

    factors_.Factor(a0_, level);

    // Response of the factors to the circulation column.
    response_.assign(n_, 0.0);
    factors_.Solve(gammaCol_.data(), response_.data());
    responseJump_ = 1.0 + Jump(response_.data());
}

void FlowOrderedIlu::Multiply(const double* x, double* y) const {
    const double g = Jump(x);
    const int* start = a0_.start.data();
    const int* col = a0_.col.data();
    const double* val = a0_.val.data();
    for (int r = 0; r < n_; ++r) {
        double s = gammaCol_[r] * g;
        for (int e = start[r]; e < start[r + 1]; ++e) s += val[e] * x[col[e]];
        y[r] = s;
    }
}

void FlowOrderedIlu::Precondition(const double* r, double* z) const {
    factors_.Solve(r, z);
    // A vanishing 1 + d^T h would make the circulation singular in the
    // preconditioner; the circulation is then left as M0 gives it.
    if (std::fabs(responseJump_) <= 1.0e-12) return;
    const double g = Jump(z) / responseJump_;
    const double* h = response_.data();
    for (int q = 0; q < n_; ++q) z[q] -= g * h[q];
}

void FlowOrderedIlu::Gather(const GridArray& v, double* x) const {
    const double* p = v.data();
    for (int q = 0; q < n_; ++q) x[q] = p[node_[q]];
}

void FlowOrderedIlu::Scatter(const double* x, GridArray& v) const {
    for (int j = 1; j <= NY_; ++j)
        for (int i = 0; i <= NX_; ++i) v(i, j) = 0.0;
    double* p = v.data();
    for (int q = 0; q < n_; ++q) p[node_[q]] = x[q];
    const double g = Jump(x);
    for (int i = 1; i <= k_ - 1; ++i) v(NX_ - i, 1) = v(i, 1) + g;
}

}  // namespace quarel
