// Incomplete factorisation of the Newton matrix, ordered with the flow (see
// ilu.h).
#include "ilu.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "nested_dissection.h"
#include "sparse_lu.h"

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

void SparseIlu::Factor(const SparseRows& a, const int& level, const std::vector<int>* segments) {
    // Pattern of the factors by levels of fill: an entry of the matrix has
    // level 0, a fill entry made by eliminating with row q has level
    // lev(r, q) + lev(q, c) + 1 and is kept up to `level`.  The pattern of
    // the Newton matrix changes only where a node turns supersonic or
    // subsonic, so the pattern of the factors is usually that of the step
    // before, or differs from it in some rows only.
    const bool samePattern =
        a.n == n_ && level == level_ && a.start == patternStart_ && a.col == patternCol_;
    if (!samePattern) {
        FactorPattern(a, level);
        n_ = a.n;
        level_ = level;
        patternStart_ = a.start;
        patternCol_ = a.col;
    }
    std::vector<int> groups = segments ? *segments : std::vector<int>{0};
    if (!samePattern || groups != segments_) {
        segments_ = groups;
        PlanSweeps();
    }
    FactorValues(a);
}

void SparseIlu::PlanSweeps() {
    // Two groups A (rows a0 .. a1-1) and B (b0 .. b1-1, after A) can be
    // swept forward side by side, A `lead` rows ahead (row a0+lead+t beside
    // row b0+t), when no row b0+t needs a row of A from a0+lead+t on;
    // backward, B ahead (row a1-1-t beside b1-1-lead-t), when no row
    // a1-1-t needs a row of B up to b1-1-lead-t.  The rows of the lead and
    // those left over are swept alone, as are groups that cannot be
    // paired with a lead up to kMaxLead (the columns on the two sides of
    // a wake cut are coupled near the cut).
    constexpr int kMaxLead = 8;
    std::vector<int> seg;
    for (int s : segments_)
        if (s >= 0 && s < n_ && (seg.empty() || s > seg.back())) seg.push_back(s);
    if (seg.empty() || seg[0] != 0) seg.insert(seg.begin(), 0);
    seg.push_back(n_);
    const int groups = static_cast<int>(seg.size()) - 1;
    // The smallest lead that pairs groups g and g+1, or -1.
    auto forwardLead = [&](int g) {
        const int a0 = seg[g], a1 = seg[g + 1], b0 = seg[g + 1], b1 = seg[g + 2];
        for (int lead = 0; lead <= kMaxLead && lead < a1 - a0; ++lead) {
            bool ok = true;
            for (int t = 0; ok && t < std::min(a1 - a0 - lead, b1 - b0); ++t)
                for (int e = start_[b0 + t]; ok && e < diag_[b0 + t]; ++e)
                    ok = !(col_[e] >= a0 + lead + t && col_[e] < a1);
            if (ok) return lead;
        }
        return -1;
    };
    auto backwardLead = [&](int g) {
        const int a0 = seg[g], a1 = seg[g + 1], b0 = seg[g + 1], b1 = seg[g + 2];
        for (int lead = 0; lead <= kMaxLead && lead < b1 - b0; ++lead) {
            bool ok = true;
            for (int t = 0; ok && t < std::min(a1 - a0, b1 - b0 - lead); ++t)
                for (int e = diag_[a1 - 1 - t] + 1; ok && e < start_[a1 - t]; ++e)
                    ok = !(col_[e] >= b0 && col_[e] <= b1 - 1 - lead - t);
            if (ok) return lead;
        }
        return -1;
    };
    forward_.clear();
    for (int g = 0; g < groups;) {
        const int lead = g + 1 < groups ? forwardLead(g) : -1;
        if (lead >= 0) {
            forward_.push_back({seg[g], seg[g + 1], seg[g + 1], seg[g + 2], lead});
            g += 2;
        } else {
            forward_.push_back({seg[g], seg[g + 1], seg[g + 1], seg[g + 1], 0});
            g += 1;
        }
    }
    backward_.clear();
    for (int g = groups - 1; g >= 0;) {
        const int lead = g >= 1 ? backwardLead(g - 1) : -1;
        if (lead >= 0) {
            backward_.push_back({seg[g - 1], seg[g], seg[g], seg[g + 1], lead});
            g -= 2;
        } else {
            backward_.push_back({seg[g], seg[g + 1], seg[g + 1], seg[g + 1], 0});
            g -= 1;
        }
    }
}

void SparseIlu::FactorPattern(const SparseRows& a, const int level) {
    // Row r of the factors follows from row r of the matrix and the U parts
    // (columns and levels) of the rows q of its L part.  With the pattern
    // of the factors at hand for a matrix of the same size and fill level,
    // a row whose matrix row is the same and whose L part holds no row that
    // came out different is the same as before and is copied; the others
    // are computed and compared.
    const int n = a.n;
    const bool update = n == n_ && level == level_;
    std::swap(start_, oldStart_);
    std::swap(col_, oldCol_);
    std::swap(diag_, oldDiag_);
    std::swap(luLev_, oldLuLev_);
    changed_.assign(n, 1);
    lev_.assign(n, -1);  // level of column c in the current row
    int* lev = lev_.data();
    std::vector<int>& cols = rowCols_;
    start_.assign(1, 0);
    col_.clear();
    luLev_.clear();
    diag_.assign(n, 0);
    for (int r = 0; r < n; ++r) {
        const int a0 = a.start[r], a1 = a.start[r + 1];
        if (update) {
            const int p0 = patternStart_[r], p1 = patternStart_[r + 1];
            bool same = a1 - a0 == p1 - p0 && std::equal(a.col.begin() + a0, a.col.begin() + a1,
                                                         patternCol_.begin() + p0);
            for (int e = oldStart_[r]; same && e < oldDiag_[r]; ++e) same = !changed_[oldCol_[e]];
            if (same) {
                const int o0 = oldStart_[r], o1 = oldStart_[r + 1];
                diag_[r] = static_cast<int>(col_.size()) + (oldDiag_[r] - o0);
                col_.insert(col_.end(), oldCol_.begin() + o0, oldCol_.begin() + o1);
                luLev_.insert(luLev_.end(), oldLuLev_.begin() + o0, oldLuLev_.begin() + o1);
                start_.push_back(static_cast<int>(col_.size()));
                changed_[r] = 0;
                continue;
            }
        }
        cols.assign(a.col.begin() + a0, a.col.begin() + a1);
        for (int c : cols) lev[c] = 0;
        for (size_t p = 0; p < cols.size() && cols[p] < r; ++p) {
            const int q = cols[p];
            const int lq = lev[q];
            for (int e = diag_[q] + 1; e < start_[q + 1]; ++e) {
                const int c = col_[e];
                const int l = lq + luLev_[e] + 1;
                if (l > level) continue;
                if (lev[c] < 0) {
                    lev[c] = l;
                    cols.insert(std::upper_bound(cols.begin() + p + 1, cols.end(), c), c);
                } else if (l < lev[c]) {
                    lev[c] = l;
                }
            }
        }
        const int row0 = static_cast<int>(col_.size());
        for (int c : cols) {
            if (c == r) diag_[r] = static_cast<int>(col_.size());
            col_.push_back(c);
            luLev_.push_back(lev[c]);
            lev[c] = -1;
        }
        start_.push_back(static_cast<int>(col_.size()));
        if (update) {
            const int o0 = oldStart_[r], o1 = oldStart_[r + 1];
            changed_[r] =
                !(o1 - o0 == static_cast<int>(cols.size()) &&
                  std::equal(col_.begin() + row0, col_.end(), oldCol_.begin() + o0) &&
                  std::equal(luLev_.begin() + row0, luLev_.end(), oldLuLev_.begin() + o0));
        }
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
    // Each row sums its terms in the order of its columns, whether it is
    // swept alone or beside a row of another group.
    auto lower = [&](int q) {
        double s = r[q];
        for (int e = start[q]; e < diag[q]; ++e) s -= val[e] * y[col[e]];
        y[q] = s;
    };
    auto upper = [&](int q) {
        double s = y[q];
        for (int e = diag[q] + 1; e < start[q + 1]; ++e) s -= val[e] * y[col[e]];
        y[q] = s * val[diag[q]];
    };
    // s -= the terms e0 .. e1-1 and u -= the terms f0 .. f1-1, the two sums
    // advanced together.
    auto sumPair = [&](double& s, double& u, int e0, const int e1, int f0, const int f1) {
        const int common = std::min(e1 - e0, f1 - f0);
        const double *ve = val + e0, *vf = val + f0;
        const int *ce = col + e0, *cf = col + f0;
        double a = s, b = u;
        for (int t = 0; t < common; ++t) {
            a -= ve[t] * y[ce[t]];
            b -= vf[t] * y[cf[t]];
        }
        for (int e = e0 + common; e < e1; ++e) a -= val[e] * y[col[e]];
        for (int f = f0 + common; f < f1; ++f) b -= val[f] * y[col[f]];
        s = a;
        u = b;
    };
    for (const Sweep& w : forward_) {
        const int ahead = w.b0 < w.b1 ? w.lead : 0;
        const int m = std::min(w.a1 - w.a0 - ahead, w.b1 - w.b0);
        for (int p = w.a0; p < w.a0 + ahead; ++p) lower(p);
        for (int t = 0; t < m; ++t) {
            const int p = w.a0 + ahead + t, q = w.b0 + t;
            double s = r[p], u = r[q];
            sumPair(s, u, start[p], diag[p], start[q], diag[q]);
            y[p] = s;
            y[q] = u;
        }
        for (int p = w.a0 + ahead + m; p < w.a1; ++p) lower(p);
        for (int q = w.b0 + m; q < w.b1; ++q) lower(q);
    }
    for (const Sweep& w : backward_) {
        const int ahead = w.lead;
        const int m = std::min(w.a1 - w.a0, w.b1 - w.b0 - ahead);
        for (int q = w.b1 - 1; q >= w.b1 - ahead; --q) upper(q);
        for (int t = 0; t < m; ++t) {
            const int p = w.a1 - 1 - t, q = w.b1 - 1 - ahead - t;
            double s = y[p], u = y[q];
            sumPair(s, u, diag[p] + 1, start[p + 1], diag[q] + 1, start[q + 1]);
            y[p] = s * val[diag[p]];
            y[q] = u * val[diag[q]];
        }
        for (int q = w.b1 - 1 - ahead - m; q >= w.b0; --q) upper(q);
        for (int p = w.a1 - 1 - m; p >= w.a0; --p) upper(p);
    }
}

FlowOrderedIlu::FlowOrderedIlu() = default;
FlowOrderedIlu::~FlowOrderedIlu() = default;

void FlowOrderedIlu::Build(const int& NY, const int& k, const int& NX, const int& level,
                           const int& gridLevels, const bool& complete) {
    CopyRows(NY, k, NX, complete);
    Factor(level, gridLevels, complete);
}

void FlowOrderedIlu::CopyRows(const int& NY, const int& k, const int& NX, const bool& complete) {
    if (NX != NX_ || NY != NY_ || k != k_ || n_ == 0) {
        NX_ = NX;
        NY_ = NY;
        k_ = k;
        Number();
        coarseKey_ = -1;  // the coarse levels follow the numbering
    }

    // Rows of A0 and the circulation column c from the table of terms: the
    // coefficients of each row, added up per column in the order of the
    // terms, a zero coefficient dropped, the diagonal always kept.  For the
    // complete factors every slot is kept, zero or not, so that the
    // pattern, and with it the analysis of the factorisation, stays that of
    // the grid.
    a0_.n = n_;
    a0_.start.assign(1, 0);
    a0_.col.clear();
    a0_.val.clear();
    gammaCol_.assign(n_, 0.0);
    std::vector<double>& acc = rowSum_;
    std::vector<char>& present = rowPresent_;
    for (int r = 0; r < n_; ++r) {
        const int s0 = slotStart_[r], s1 = slotStart_[r + 1];
        for (int q = s0; q < s1; ++q) {
            acc[q] = 0.0;
            present[q] = 0;
        }
        double gamma = 0.0;  // coefficient of the circulation
        for (int t = termStart_[r]; t < termStart_[r + 1]; ++t) {
            const Term& term = terms_[t];
            double coef = term.array->data()[term.offset];
            if (term.negate) coef = -coef;
            if (coef == 0.0 && !complete) continue;
            acc[term.slot] += coef;
            present[term.slot] = 1;
            if (term.gamma) gamma += coef;
        }
        acc[diagSlot_[r]] += 0.0;
        present[diagSlot_[r]] = 1;
        for (int q = s0; q < s1; ++q) {
            if (!present[q]) continue;
            a0_.col.push_back(slotCol_[q]);
            a0_.val.push_back(acc[q]);
        }
        a0_.start.push_back(static_cast<int>(a0_.col.size()));
        const int o = node_[r];
        gammaCol_[r] = gamma - adg(o % kGridStride, o / kGridStride + 1);
    }
}

void FlowOrderedIlu::Factor(const int& level, const int& gridLevels, const bool& complete) {
    complete_ = false;
    if (complete) {
        if (!direct_) direct_ = std::make_unique<SparseLu>();
        direct_->setThreads(threads_);
        if (!dissection_) {
            // Nested dissection along the grid lines; the pattern of the
            // complete factors' matrix is that of the grid (every slot
            // kept), so the order holds until the grid changes.
            std::vector<int> gi(n_), gj(n_);
            for (int r = 0; r < n_; ++r) {
                gi[r] = node_[r] % kGridStride;
                gj[r] = node_[r] / kGridStride + 1;
            }
            dissection_ = std::make_unique<Dissection>(GridNestedDissection(a0_, gi, gj));
        }
        complete_ = direct_->Factor(a0_, *dissection_);
    }
    if (!complete_) {
        factors_.Factor(a0_, level, &columns_);
        BuildCoarseLevels(level, gridLevels);
    }

    // Response of the preconditioner to the circulation column.
    response_.assign(n_, 0.0);
    Cycle(0, gammaCol_.data(), response_.data());
    responseJump_ = 1.0 + Jump(response_.data());
}

void FlowOrderedIlu::Number() {
    dissection_.reset();
    index_.assign(static_cast<size_t>(GridArray::at(0, NY_ + 1)), -1);
    node_.clear();
    const int NX = NX_, NY = NY_, k = k_;

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
    columns_.clear();
    for (int r = 0; r < n_; ++r)
        if (r == 0 || node_[r] % kGridStride != node_[r - 1] % kGridStride) columns_.push_back(r);
    first_ = index_[GridArray::at(k, 1)];
    last_ = index_[GridArray::at(NX - k, 1)];

    // The terms of each row, from the same couplings as the operator
    // product: a second-side cut node counts for its partner and for the
    // circulation, a boundary node not at all.  Each term adds its
    // coefficient (or its negative) to the slot of its column; the slots
    // of a row are its columns in ascending order.
    terms_.clear();
    termStart_.assign(1, 0);
    slotCol_.clear();
    slotStart_.assign(1, 0);
    diagSlot_.assign(n_, 0);
    std::vector<int> cols;
    for (int r = 0; r < n_; ++r) {
        const int o = node_[r];
        const int i = o % kGridStride, j = o / kGridStride + 1;
        const size_t t0 = terms_.size();
        cols.clear();
        auto add = [&](int p, int q, const GridArray& a, bool negate = false) {
            if (p <= 0 || p >= NX || q >= NY) return;
            Term term{&a, GridArray::at(i, j), negate, false, 0};
            if (q == 1 && p > NX - k) {
                term.gamma = true;
                term.slot = index_[GridArray::at(NX - p, 1)];
            } else {
                term.slot = index_[GridArray::at(p, q)];
            }
            cols.push_back(term.slot);  // the column, until the slots are known
            terms_.push_back(term);
        };
        add(i, j, ad1);
        add(i - 1, j, ad2);
        add(i + 1, j, ad3);
        add(i, j + 1, ad4);
        add(i + 1, j + 1, ad6);
        add(i - 1, j + 1, ad7);
        if (j == 1) {
            if (i <= k || i == NX - k) {
                // South neighbours across the cut, on line 2 (cut nodes, and
                // the trailing-edge nodes whose first cut face reaches
                // across it).
                add(NX - i, 2, ad5);
                add(NX - i - 1, 2, ad8);
                add(NX - i + 1, 2, ad9);
            }
        } else {
            add(i, j - 1, ad5);
            add(i + 1, j - 1, ad8);
            add(i - 1, j - 1, ad9);
        }
        if (i > 2) {
            add(i - 1, j, adm);
            add(i - 2, j, adm, true);
        }
        if (i < NX - 2) {
            add(i + 2, j, adp);
            add(i + 1, j, adp, true);
        }
        cols.push_back(r);  // the diagonal is always in the pattern
        std::sort(cols.begin(), cols.end());
        cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
        const int base = static_cast<int>(slotCol_.size());
        auto slotOf = [&](int c) {
            return base +
                   static_cast<int>(std::lower_bound(cols.begin(), cols.end(), c) - cols.begin());
        };
        for (size_t t = t0; t < terms_.size(); ++t) terms_[t].slot = slotOf(terms_[t].slot);
        diagSlot_[r] = slotOf(r);
        slotCol_.insert(slotCol_.end(), cols.begin(), cols.end());
        slotStart_.push_back(static_cast<int>(slotCol_.size()));
        termStart_.push_back(static_cast<int>(terms_.size()));
    }
    rowSum_.assign(slotCol_.size(), 0.0);
    rowPresent_.assign(slotCol_.size(), 0);
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
    if (r == z && (coarseCount_ > 0 || complete_)) {
        // The cycle reads r after writing z.
        copy_.assign(r, r + n_);
        r = copy_.data();
    }
    Cycle(0, r, z);
    // A vanishing 1 + d^T h would make the circulation singular in the
    // preconditioner; the circulation is then left as M0 gives it.
    if (std::fabs(responseJump_) <= 1.0e-12) return;
    const double g = Jump(z) / responseJump_;
    const double* h = response_.data();
    for (int q = 0; q < n_; ++q) z[q] -= g * h[q];
}

namespace {}  // namespace

// Z = X Y.  X, Y [in]; Z [out]; memo [in,out]
// memo keeps the patterns of X and Z of the call before.  A row of Z whose
// row of X has the same pattern as then, and whose rows of Y all have the
// same pattern too (yChanged [in]: the rows of Y whose pattern changed
// since, or null if none did), has the pattern it had: its sums are formed
// in the same order as before and stored in that pattern, without
// gathering and sorting its columns afresh.
void FlowOrderedIlu::Product(const SparseRows& X, const SparseRows& Y,
                             const std::vector<char>* yChanged, const int columns, SparseRows& Z,
                             ProductMemo& memo) {
    std::vector<double>& acc = memo.acc;
    std::vector<int>& where = memo.where;
    acc.assign(columns, 0.0);
    where.assign(columns, -1);
    std::vector<int> used;
    const bool known = memo.valid && memo.xStart.size() == X.start.size();
    memo.zChanged.assign(X.n, 1);
    Z.n = X.n;
    Z.start.assign(1, 0);
    Z.col.clear();
    Z.val.clear();
    for (int r = 0; r < X.n; ++r) {
        const int x0 = X.start[r], x1 = X.start[r + 1];
        bool same =
            known && x1 - x0 == memo.xStart[r + 1] - memo.xStart[r] &&
            std::equal(X.col.begin() + x0, X.col.begin() + x1, memo.xCol.begin() + memo.xStart[r]);
        for (int e = x0; same && yChanged && e < x1; ++e) same = !(*yChanged)[X.col[e]];
        if (same) {
            for (int e = x0; e < x1; ++e) {
                const int q = X.col[e];
                const double x = X.val[e];
                for (int f = Y.start[q]; f < Y.start[q + 1]; ++f) acc[Y.col[f]] += x * Y.val[f];
            }
            for (int e = memo.zStart[r]; e < memo.zStart[r + 1]; ++e) {
                const int c = memo.zCol[e];
                Z.col.push_back(c);
                Z.val.push_back(acc[c]);
                acc[c] = 0.0;
            }
            Z.start.push_back(static_cast<int>(Z.col.size()));
            memo.zChanged[r] = 0;
            continue;
        }
        used.clear();
        for (int e = x0; e < x1; ++e) {
            const int q = X.col[e];
            const double x = X.val[e];
            for (int f = Y.start[q]; f < Y.start[q + 1]; ++f) {
                const int c = Y.col[f];
                if (where[c] < 0) {
                    where[c] = 1;
                    used.push_back(c);
                }
                acc[c] += x * Y.val[f];
            }
        }
        std::sort(used.begin(), used.end());
        const int z0 = static_cast<int>(Z.col.size());
        for (int c : used) {
            Z.col.push_back(c);
            Z.val.push_back(acc[c]);
            acc[c] = 0.0;
            where[c] = -1;
        }
        Z.start.push_back(static_cast<int>(Z.col.size()));
        if (known && r < static_cast<int>(memo.zStart.size()) - 1)
            memo.zChanged[r] =
                !(memo.zStart[r + 1] - memo.zStart[r] == static_cast<int>(used.size()) &&
                  std::equal(Z.col.begin() + z0, Z.col.end(), memo.zCol.begin() + memo.zStart[r]));
    }
    memo.xStart = X.start;
    memo.xCol = X.col;
    memo.zStart = Z.start;
    memo.zCol = Z.col;
    memo.valid = true;
}

namespace {

// T = X^T for X with `columns` columns.  X [in]; T [out]
void Transpose(const SparseRows& X, const int columns, SparseRows& T) {
    T.n = columns;
    T.start.assign(columns + 1, 0);
    for (int c : X.col) ++T.start[c + 1];
    for (int c = 0; c < columns; ++c) T.start[c + 1] += T.start[c];
    T.col.assign(X.col.size(), 0);
    T.val.assign(X.col.size(), 0.0);
    std::vector<int> next(T.start.begin(), T.start.end() - 1);
    for (int r = 0; r < X.n; ++r) {
        for (int e = X.start[r]; e < X.start[r + 1]; ++e) {
            const int p = next[X.col[e]]++;
            T.col[p] = r;
            T.val[p] = X.val[e];
        }
    }
}

}  // namespace

void FlowOrderedIlu::BuildCoarseLevels(const int level, const int gridLevels) {
    // The levels are kept from call to call, so that their factor patterns
    // can be reused; their nodes and prolongations depend on the grid
    // alone and are made when it changes.
    if (gridLevels <= 1) {
        coarseCount_ = 0;
        return;
    }
    if (coarseKey_ != gridLevels) {
        NumberCoarseLevels(gridLevels);
        coarseKey_ = gridLevels;
    }
    const SparseRows* a = &a0_;
    for (int c = 0; c < coarseCount_; ++c) {
        Level& L = coarse_[c];
        const int nc = L.pt.n;
        // Galerkin operator of the coarse level: P^T A P.
        // (The prolongation's pattern is that of the call before: the
        // memos are cleared when the levels are numbered.)
        Product(*a, L.p, nullptr, nc, L.ap, L.apMemo);
        Product(L.pt, L.ap, &L.apMemo.zChanged, nc, L.a, L.aMemo);
        // Every row keeps its diagonal for the factorisation.
        for (int r = 0; r < nc; ++r) {
            bool has = false;
            for (int e = L.a.start[r]; e < L.a.start[r + 1]; ++e) has = has || L.a.col[e] == r;
            if (!has) {
                // Not met on a connected grid; an empty coarse row would
                // leave its unknown undetermined.
                L.a.col.insert(L.a.col.begin() + L.a.start[r], r);
                L.a.val.insert(L.a.val.begin() + L.a.start[r], 1.0);
                for (int q = r + 1; q <= nc; ++q) ++L.a.start[q];
            }
        }
        L.smoother.Factor(L.a, level, &L.columns);
        a = &L.a;
    }
}

void FlowOrderedIlu::NumberCoarseLevels(const int gridLevels) {
    coarseCount_ = 0;
    if (static_cast<int>(coarse_.size()) < gridLevels - 1) coarse_.resize(gridLevels - 1);
    // Position of every unknown relative to the leading edge, (a, b) =
    // (i - NX/2, j - 1); a coarse level keeps the nodes with even a and b,
    // as the run's own coarse grids do, and numbers them in the order of
    // the level above, so that it is ordered with the flow too.
    const int mid = NX_ / 2;
    std::vector<int> posA(n_), posB(n_);
    for (int r = 0; r < n_; ++r) {
        posA[r] = node_[r] % kGridStride - mid;
        posB[r] = node_[r] / kGridStride;
    }
    // Unknown of the fine level at (a, b): -1 on the boundary, the partner
    // on the second side of the cut (the correction there is the
    // partner's, the circulation held).
    auto fineAt = [&](int a, int b) -> int {
        const int i = a + mid, j = b + 1;
        if (i <= 0 || i >= NX_ || j >= NY_ || j < 1) return -1;
        if (j == 1 && i > NX_ - k_) return index_[GridArray::at(NX_ - i, 1)];
        return index_[GridArray::at(i, j)];
    };
    // coarseOf[c][q]: index on level c+1 of unknown q of level c, or -1.
    std::vector<std::vector<int>> coarseOf;
    std::function<int(int, int, int)> at = [&](int c, int a, int b) -> int {
        if (c == 0) return fineAt(a, b);
        const int q = at(c - 1, 2 * a, 2 * b);
        return q < 0 ? -1 : coarseOf[c - 1][q];
    };
    int n = n_;  // unknowns of level c
    for (int c = 0; c + 1 < gridLevels; ++c) {
        std::vector<int> map(n, -1), nextA, nextB;
        int nc = 0;
        for (int r = 0; r < n; ++r) {
            if (posA[r] % 2 == 0 && posB[r] % 2 == 0) {
                map[r] = nc++;
                nextA.push_back(posA[r] / 2);
                nextB.push_back(posB[r] / 2);
            }
        }
        if (nc < 4 || nc == n) break;
        coarseOf.push_back(map);
        Level& L = coarse_[coarseCount_++];
        L.apMemo.valid = L.aMemo.valid = false;
        L.columns.clear();
        for (int r = 0; r < nc; ++r)
            if (r == 0 || nextA[r] != nextA[r - 1]) L.columns.push_back(r);
        // Bilinear prolongation: a node between coarse nodes takes their
        // mean; a coarse node missing (the boundary, where corrections
        // vanish) counts as 0.
        L.p.n = n;
        L.p.start.assign(1, 0);
        L.p.col.clear();
        L.p.val.clear();
        RowBuilder row;
        std::vector<std::pair<int, double>> sorted;
        for (int r = 0; r < n; ++r) {
            row.clear();
            const int pa = posA[r], pb = posB[r];
            const int na = pa % 2 == 0 ? 1 : 2, nb = pb % 2 == 0 ? 1 : 2;
            const double w = 1.0 / (na * nb);
            for (int da = 0; da < na; ++da) {
                for (int db = 0; db < nb; ++db) {
                    const int xa = na == 1 ? pa : pa - 1 + 2 * da;
                    const int xb = nb == 1 ? pb : pb - 1 + 2 * db;
                    const int q = at(c, xa, xb);
                    if (q < 0 || map[q] < 0) continue;
                    row.add(map[q], w);
                }
            }
            sorted.clear();
            for (size_t e = 0; e < row.col.size(); ++e) sorted.emplace_back(row.col[e], row.val[e]);
            std::sort(sorted.begin(), sorted.end());
            for (const auto& e : sorted) {
                L.p.col.push_back(e.first);
                L.p.val.push_back(e.second);
            }
            L.p.start.push_back(static_cast<int>(L.p.col.size()));
        }
        Transpose(L.p, nc, L.pt);
        L.t.assign(n, 0.0);
        L.rc.assign(nc, 0.0);
        L.zc.assign(nc, 0.0);
        posA = nextA;
        posB = nextB;
        n = nc;
    }
}

void FlowOrderedIlu::Cycle(const int c, const double* r, double* z) const {
    const SparseRows& a = c == 0 ? a0_ : coarse_[c - 1].a;
    if (c == 0 && complete_) {
        direct_->Solve(r, z);
        return;
    }
    const SparseIlu& smoother = c == 0 ? factors_ : coarse_[c - 1].smoother;
    smoother.Solve(r, z);
    if (c >= coarseCount_) return;
    // Coarse-grid correction of the smoothed residual, then one more
    // smoothing step.
    const Level& L = coarse_[c];
    const int n = a.n;
    double* t = L.t.data();
    a.Residual(r, z, t);
    L.pt.Multiply(t, L.rc.data());
    Cycle(c + 1, L.rc.data(), L.zc.data());
    L.p.MultiplyAdd(L.zc.data(), z);
    a.Residual(r, z, t);
    smoother.Solve(t, t);
    for (int q = 0; q < n; ++q) z[q] += t[q];
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
