// Multifrontal LU factors on the tree of a nested dissection.
#include "multifrontal.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <cblas.h>
// LAPACK's LU factorisation with partial pivoting (Fortran interface).
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
}

namespace quarel {

bool MultifrontalLu::Analyse(const SparseRows& a, const Dissection& d) {
    n_ = 0;
    fronts_.clear();
    factorSize_ = 0;
    const int n = a.n;
    const int blocks = static_cast<int>(d.blocks.size());
    if (static_cast<int>(d.order.size()) != n) return false;
    std::vector<int> pos(n, -1);
    for (int q = 0; q < n; ++q) {
        const int r = d.order[q];
        if (r < 0 || r >= n || pos[r] >= 0) return false;
        pos[r] = q;
    }
    // Blocks: consecutive, covering the order, each below its parent; low[t]
    // is the first block of the subtree of t (the subtrees are consecutive).
    std::vector<int> blockOf(n, -1), low(blocks);
    std::vector<std::vector<int>> kids(blocks);
    int next = 0;
    for (int t = 0; t < blocks; ++t) {
        const DissectionBlock& b = d.blocks[t];
        if (b.first != next || b.last <= b.first || b.last > n || b.parent < -1 ||
            b.parent >= blocks || (b.parent >= 0 && b.parent <= t))
            return false;
        next = b.last;
        for (int q = b.first; q < b.last; ++q) blockOf[q] = t;
        if (b.parent >= 0) kids[b.parent].push_back(t);
    }
    if (next != n) return false;
    for (int t = 0; t < blocks; ++t) {
        low[t] = t;
        for (int c : kids[t]) low[t] = std::min(low[t], low[c]);
    }

    std::vector<int> adjStart, adj;
    Couplings(a, adjStart, adj);

    // Boundaries: the later positions coupled to a block's rows or to the
    // boundaries of the blocks below it.  An earlier position must lie in
    // the block's own subtree, and a child's boundary must lie in the block
    // or in its boundary, or the blocks do not dissect the matrix.
    std::vector<std::vector<int>> bound(blocks);
    std::vector<int> mark(n, -1);
    for (int t = 0; t < blocks; ++t) {
        const int f = d.blocks[t].first, l = d.blocks[t].last;
        std::vector<int>& B = bound[t];
        bool ok = true;
        auto add = [&](int q) {
            if (q >= l) {
                if (mark[q] != t) {
                    mark[q] = t;
                    B.push_back(q);
                }
            } else if (q < f && (blockOf[q] < low[t] || blockOf[q] >= t)) {
                ok = false;
            }
        };
        for (int q = f; q < l; ++q) {
            const int r = d.order[q];
            for (int e = adjStart[r]; e < adjStart[r + 1]; ++e) add(pos[adj[e]]);
        }
        for (int c : kids[t])
            for (int q : bound[c]) {
                if (q < f) ok = false;
                add(q);
            }
        if (!ok) return false;
        std::sort(B.begin(), B.end());
    }

    // Fronts, their places in the parent's front, storage.
    fronts_.resize(blocks);
    boundary_.clear();
    map_.clear();
    auto local = [&](int t, int q) {
        const int f = d.blocks[t].first, l = d.blocks[t].last;
        if (q >= f && q < l) return q - f;
        const auto it = std::lower_bound(bound[t].begin(), bound[t].end(), q);
        return (l - f) + static_cast<int>(it - bound[t].begin());
    };
    size_t offset = 0, pivots = 0;
    largestFront_ = 0;
    stackSize_ = 0;
    size_t stack = 0;
    std::vector<size_t> pending;  // Schur complement sizes of the blocks not yet assembled
    for (int t = 0; t < blocks; ++t) {
        Front& F = fronts_[t];
        F.first = d.blocks[t].first;
        F.pivots = d.blocks[t].last - d.blocks[t].first;
        F.boundary = static_cast<int>(bound[t].size());
        F.boundaryStart = static_cast<int>(boundary_.size());
        boundary_.insert(boundary_.end(), bound[t].begin(), bound[t].end());
        F.children = static_cast<int>(kids[t].size());
        F.subtreeFirst = low[t];
        const size_t p = F.pivots, b = F.boundary;
        F.lu = offset;
        F.upper = F.lu + p * p;
        F.lower = F.upper + p * b;
        offset = F.lower + b * p;
        F.pivotStart = pivots;
        pivots += p;
        largestFront_ = std::max(largestFront_, (p + b) * (p + b));
        // The children's Schur complements are the last ones pending.
        for (size_t c = 0; c < kids[t].size(); ++c) {
            if (pending.empty()) return false;
            stack -= pending.back();
            pending.pop_back();
        }
        pending.push_back(b * b);
        stack += b * b;
        stackSize_ = std::max(stackSize_, stack);
        const int parent = d.blocks[t].parent;
        F.mapStart = static_cast<int>(map_.size());
        if (parent >= 0)
            for (int q : bound[t]) map_.push_back(local(parent, q));
    }
    // The subtrees of a block's children must come one after the other,
    // right before it: its last child is the block before it, and each
    // child before that ends where the next one's subtree begins.
    for (int t = 0; t < blocks; ++t) {
        int child = t - 1;
        for (auto c = kids[t].rbegin(); c != kids[t].rend(); ++c) {
            if (*c != child) return false;
            child = low[child] - 1;
        }
        if (child != low[t] - 1) return false;
    }

    // Matrix entries: each into the front of the block of its
    // first-eliminated index.
    std::vector<int> count(blocks + 1, 0);
    std::vector<int> owner(a.start[n]);
    for (int r = 0; r < n; ++r)
        for (int e = a.start[r]; e < a.start[r + 1]; ++e) {
            owner[e] = blockOf[std::min(pos[r], pos[a.col[e]])];
            ++count[owner[e] + 1];
        }
    for (int t = 0; t < blocks; ++t) count[t + 1] += count[t];
    entry_.assign(a.start[n], 0);
    local_.assign(a.start[n], 0);
    for (int t = 0; t < blocks; ++t) {
        fronts_[t].entryStart = count[t];
        fronts_[t].entryEnd = count[t + 1];
    }
    for (int r = 0; r < n; ++r)
        for (int e = a.start[r]; e < a.start[r + 1]; ++e) {
            const int t = owner[e];
            const size_t nf = static_cast<size_t>(fronts_[t].pivots) + fronts_[t].boundary;
            const int k = count[t]++;
            entry_[k] = e;
            local_[k] = static_cast<size_t>(local(t, pos[r])) +
                        static_cast<size_t>(local(t, pos[a.col[e]])) * nf;
        }

    n_ = n;
    order_ = d.order;
    factorSize_ = offset;
    factors_.assign(offset, 0.0);
    pivot_.assign(pivots, 0);
    front_.assign(largestFront_, 0.0);
    stack_.assign(stackSize_, 0.0);
    w_.assign(n, 0.0);
    size_t widest = 0;
    for (const Front& F : fronts_) widest = std::max<size_t>(widest, F.boundary);
    t_.assign(widest, 0.0);
    return true;
}

bool MultifrontalLu::Factor(const SparseRows& a) {
    if (a.n != n_ || n_ == 0) return false;
    size_t top = 0;
    for (size_t t = 0; t < fronts_.size(); ++t) {
        const Front& F = fronts_[t];
        const int np = F.pivots, nb = F.boundary, nf = np + nb;
        double* W = front_.data();
        std::fill(W, W + static_cast<size_t>(nf) * nf, 0.0);
        for (int k = F.entryStart; k < F.entryEnd; ++k) W[local_[k]] += a.val[entry_[k]];
        // The Schur complements of the blocks below, the last pushed first.
        // (The last child is the block before t, and each child before it
        // ends where the next one's subtree begins.)
        for (int c = 0, child = static_cast<int>(t) - 1; c < F.children; ++c) {
            const Front& C = fronts_[child];
            const int nc = C.boundary;
            const size_t size = static_cast<size_t>(nc) * nc;
            const double* S = stack_.data() + top - size;
            const int* m = map_.data() + C.mapStart;
            for (int j = 0; j < nc; ++j) {
                double* col = W + static_cast<size_t>(m[j]) * nf;
                const double* s = S + static_cast<size_t>(j) * nc;
                for (int i = 0; i < nc; ++i) col[m[i]] += s[i];
            }
            top -= size;
            child = C.subtreeFirst - 1;
        }
        int info = 0;
        int* piv = pivot_.data() + F.pivotStart;
        dgetrf_(&np, &np, W, &nf, piv, &info);
        if (info != 0) return false;
        for (int i = 0; i < np; ++i)
            if (!std::isfinite(W[i + static_cast<size_t>(i) * nf])) return false;
        if (nb > 0) {
            double* W12 = W + static_cast<size_t>(np) * nf;
            for (int i = 0; i < np; ++i) {
                const int p = piv[i] - 1;
                if (p != i)
                    for (int j = 0; j < nb; ++j)
                        std::swap(W12[i + static_cast<size_t>(j) * nf],
                                  W12[p + static_cast<size_t>(j) * nf]);
            }
            cblas_dtrsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasUnit, np, nb, 1.0,
                        W, nf, W12, nf);
            cblas_dtrsm(CblasColMajor, CblasRight, CblasUpper, CblasNoTrans, CblasNonUnit, nb, np,
                        1.0, W, nf, W + np, nf);
            cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, nb, nb, np, -1.0, W + np, nf,
                        W12, nf, 1.0, W12 + np, nf);
        }
        double* lu = factors_.data() + F.lu;
        double* upper = factors_.data() + F.upper;
        double* lower = factors_.data() + F.lower;
        for (int j = 0; j < np; ++j) {
            const double* col = W + static_cast<size_t>(j) * nf;
            std::copy(col, col + np, lu + static_cast<size_t>(j) * np);
            std::copy(col + np, col + nf, lower + static_cast<size_t>(j) * nb);
        }
        double* S = stack_.data() + top;
        for (int j = 0; j < nb; ++j) {
            const double* col = W + static_cast<size_t>(np + j) * nf;
            std::copy(col, col + np, upper + static_cast<size_t>(j) * np);
            std::copy(col + np, col + nf, S + static_cast<size_t>(j) * nb);
        }
        top += static_cast<size_t>(nb) * nb;
    }
    return true;
}

void MultifrontalLu::Solve(const double* r, double* y) const {
    double* w = w_.data();
    double* t = t_.data();
    for (int q = 0; q < n_; ++q) w[q] = r[order_[q]];
    for (const Front& F : fronts_) {
        const int np = F.pivots, nb = F.boundary;
        double* z = w + F.first;
        const int* piv = pivot_.data() + F.pivotStart;
        for (int i = 0; i < np; ++i) {
            const int p = piv[i] - 1;
            if (p != i) std::swap(z[i], z[p]);
        }
        cblas_dtrsv(CblasColMajor, CblasLower, CblasNoTrans, CblasUnit, np, factors_.data() + F.lu,
                    np, z, 1);
        if (nb > 0) {
            cblas_dgemv(CblasColMajor, CblasNoTrans, nb, np, 1.0, factors_.data() + F.lower, nb, z,
                        1, 0.0, t, 1);
            const int* b = boundary_.data() + F.boundaryStart;
            for (int i = 0; i < nb; ++i) w[b[i]] -= t[i];
        }
    }
    for (auto it = fronts_.rbegin(); it != fronts_.rend(); ++it) {
        const Front& F = *it;
        const int np = F.pivots, nb = F.boundary;
        double* z = w + F.first;
        if (nb > 0) {
            const int* b = boundary_.data() + F.boundaryStart;
            for (int i = 0; i < nb; ++i) t[i] = w[b[i]];
            cblas_dgemv(CblasColMajor, CblasNoTrans, np, nb, -1.0, factors_.data() + F.upper, np, t,
                        1, 1.0, z, 1);
        }
        cblas_dtrsv(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, np,
                    factors_.data() + F.lu, np, z, 1);
    }
    for (int q = 0; q < n_; ++q) y[order_[q]] = w[q];
}

}  // namespace quarel
