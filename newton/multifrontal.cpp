// Multifrontal LU factors on the tree of a nested dissection.
#include "multifrontal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

extern "C" {
#include <cblas.h>
// LAPACK's LU factorisation with partial pivoting (Fortran interface).
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
#if QUAREL_THREADSAFE_BLAS
// OpenBLAS's own threads off: the calls come from the subtrees' threads.
void openblas_set_num_threads(int threads);
// 0 for its serial build.
int openblas_get_parallel(void);
#endif
}

namespace quarel {

namespace {

// Subtrees the analysis cuts the dissection into for the threads: enough
// for the dynamic schedule to even out their different costs on two to
// four cores, few enough that the top part above them stays small.
constexpr size_t kSubtrees = 8;

// Calls work(s, thread) for s = 0 .. count-1 on `threads` threads (the
// caller's being thread 0), each taking the next s when it is done.  The
// threads are started per call and joined, not kept spinning: on a machine
// shared with other work, OpenMP's spinning waits made the two-thread run
// of NACA 0012 on 496 x 97 slower than one thread (user time 4.7 s against
// 2.7 s, wall time 1.4 times as long, at a load of 18 on 2 cores).
template <typename Work>
void SideBySide(int count, int threads, const Work& work) {
    threads = std::max(1, std::min(threads, count));
    std::atomic<int> next{0};
    auto take = [&](int thread) {
        for (int s = next++; s < count; s = next++) work(s, thread);
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t) others.emplace_back(take, t);
    take(0);
    for (std::thread& t : others) t.join();
}

}  // namespace

int MultifrontalLu::Threads() const {
    if (threads_ > 0) return threads_;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

struct MultifrontalLu::Tree {
    explicit Tree(const Dissection& dissection) : d(dissection) {}
    const Dissection& d;
    int n = 0, blocks = 0;
    std::vector<int> pos;                 // position of each row in the order
    std::vector<int> blockOf, low;        // block of each position; first block of each subtree
    std::vector<std::vector<int>> kids;   // blocks directly below each block
    std::vector<std::vector<int>> bound;  // boundary of each block, ascending

    // The place of position q in the front of block t.
    int local(int t, int q) const {
        const int f = d.blocks[t].first, l = d.blocks[t].last;
        if (q >= f && q < l) return q - f;
        const auto it = std::lower_bound(bound[t].begin(), bound[t].end(), q);
        return (l - f) + static_cast<int>(it - bound[t].begin());
    }
};

bool MultifrontalLu::Analyse(const SparseRows& a, const Dissection& d) {
    n_ = 0;
    fronts_.clear();
    subtrees_.clear();
    factorSize_ = 0;
    Tree tree(d);
    size_t offset = 0, pivots = 0;
    if (!ReadBlocks(a, d, tree) || !FindBoundaries(a, d, tree) ||
        !LayOutFronts(tree, offset, pivots))
        return false;
    SplitSubtrees(tree);
    PlaceEntries(a, tree);
    n_ = a.n;
    order_ = d.order;
    factorSize_ = offset;
    Allocate(offset, pivots);
    return true;
}

// The order must be a permutation, and the blocks consecutive, covering the
// order, each below its parent; low[t] is the first block of the subtree of
// t (the subtrees are consecutive).
bool MultifrontalLu::ReadBlocks(const SparseRows& a, const Dissection& d, Tree& tree) {
    const int n = a.n;
    const int blocks = static_cast<int>(d.blocks.size());
    tree.n = n;
    tree.blocks = blocks;
    if (static_cast<int>(d.order.size()) != n) return false;
    std::vector<int>& pos = tree.pos;
    pos.assign(n, -1);
    for (int q = 0; q < n; ++q) {
        const int r = d.order[q];
        if (r < 0 || r >= n || pos[r] >= 0) return false;
        pos[r] = q;
    }
    tree.blockOf.assign(n, -1);
    tree.low.assign(blocks, 0);
    tree.kids.assign(blocks, {});
    int next = 0;
    for (int t = 0; t < blocks; ++t) {
        const DissectionBlock& b = d.blocks[t];
        if (b.first != next || b.last <= b.first || b.last > n || b.parent < -1 ||
            b.parent >= blocks || (b.parent >= 0 && b.parent <= t))
            return false;
        next = b.last;
        for (int q = b.first; q < b.last; ++q) tree.blockOf[q] = t;
        if (b.parent >= 0) tree.kids[b.parent].push_back(t);
    }
    if (next != n) return false;
    for (int t = 0; t < blocks; ++t) {
        tree.low[t] = t;
        for (int c : tree.kids[t]) tree.low[t] = std::min(tree.low[t], tree.low[c]);
    }
    return true;
}

// Boundaries: the later positions coupled to a block's rows or to the
// boundaries of the blocks below it.  An earlier position must lie in the
// block's own subtree, and a child's boundary must lie in the block or in
// its boundary, or the blocks do not dissect the matrix.
bool MultifrontalLu::FindBoundaries(const SparseRows& a, const Dissection& d, Tree& tree) {
    std::vector<int> adjStart, adj;
    Couplings(a, adjStart, adj);
    tree.bound.assign(tree.blocks, {});
    std::vector<int> mark(tree.n, -1);
    for (int t = 0; t < tree.blocks; ++t) {
        const int f = d.blocks[t].first, l = d.blocks[t].last;
        std::vector<int>& B = tree.bound[t];
        bool ok = true;
        auto add = [&](int q) {
            if (q >= l) {
                if (mark[q] != t) {
                    mark[q] = t;
                    B.push_back(q);
                }
            } else if (q < f && (tree.blockOf[q] < tree.low[t] || tree.blockOf[q] >= t)) {
                ok = false;
            }
        };
        for (int q = f; q < l; ++q) {
            const int r = d.order[q];
            for (int e = adjStart[r]; e < adjStart[r + 1]; ++e) add(tree.pos[adj[e]]);
        }
        for (int c : tree.kids[t])
            for (int q : tree.bound[c]) {
                if (q < f) ok = false;
                add(q);
            }
        if (!ok) return false;
        std::sort(B.begin(), B.end());
    }
    return true;
}

// Fronts, their places in the parent's front, storage: offset [out] the
// size of the factors, pivots [out] the number of pivots.
bool MultifrontalLu::LayOutFronts(const Tree& tree, size_t& offset, size_t& pivots) {
    const Dissection& d = tree.d;
    const int blocks = tree.blocks;
    fronts_.resize(blocks);
    boundary_.clear();
    map_.clear();
    offset = 0;
    pivots = 0;
    largestFront_ = 0;
    stackSize_ = 0;
    size_t stack = 0;
    std::vector<size_t> pending;  // Schur complement sizes of the blocks not yet assembled
    for (int t = 0; t < blocks; ++t) {
        Front& F = fronts_[t];
        const std::vector<int>& bound = tree.bound[t];
        F.first = d.blocks[t].first;
        F.pivots = d.blocks[t].last - d.blocks[t].first;
        F.boundary = static_cast<int>(bound.size());
        F.boundaryStart = static_cast<int>(boundary_.size());
        boundary_.insert(boundary_.end(), bound.begin(), bound.end());
        F.children = static_cast<int>(tree.kids[t].size());
        F.subtreeFirst = tree.low[t];
        const size_t p = F.pivots, b = F.boundary;
        F.lu = offset;
        F.upper = F.lu + p * p;
        F.lower = F.upper + p * b;
        offset = F.lower + b * p;
        F.pivotStart = pivots;
        pivots += p;
        largestFront_ = std::max(largestFront_, (p + b) * (p + b));
        // The children's Schur complements are the last ones pending.
        for (size_t c = 0; c < tree.kids[t].size(); ++c) {
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
            for (int q : bound) map_.push_back(tree.local(parent, q));
    }
    // The subtrees of a block's children must come one after the other,
    // right before it: its last child is the block before it, and each
    // child before that ends where the next one's subtree begins.
    for (int t = 0; t < blocks; ++t) {
        int child = t - 1;
        for (auto c = tree.kids[t].rbegin(); c != tree.kids[t].rend(); ++c) {
            if (*c != child) return false;
            child = tree.low[child] - 1;
        }
        if (child != tree.low[t] - 1) return false;
    }
    return true;
}

// Subtrees for the threads: the largest one (by the work of its fronts) is
// split into its children's until there are enough; the blocks it was
// split at form the top part.
void MultifrontalLu::SplitSubtrees(const Tree& tree) {
    const Dissection& d = tree.d;
    const int blocks = tree.blocks;
    const auto& kids = tree.kids;
    std::vector<double> work(blocks);
    std::vector<int> cut;
    for (int t = 0; t < blocks; ++t) {
        const double p = fronts_[t].pivots, b = fronts_[t].boundary;
        work[t] = p * p * p / 3.0 + p * p * b + p * b * b + 1.0;
        for (int c : kids[t]) work[t] += work[c];
        if (d.blocks[t].parent < 0) cut.push_back(t);
    }
    subtreeOf_.assign(blocks, -1);
    while (cut.size() < kSubtrees) {
        const auto largest = std::max_element(cut.begin(), cut.end(),
                                              [&](int x, int y) { return work[x] < work[y]; });
        const int t = *largest;
        if (kids[t].empty()) break;
        cut.erase(largest);
        cut.insert(cut.end(), kids[t].begin(), kids[t].end());
    }
    std::sort(cut.begin(), cut.end());
    auto schur = [&](int t) {
        return static_cast<size_t>(fronts_[t].boundary) * fronts_[t].boundary;
    };
    for (int root : cut) {
        Subtree s;
        s.first = tree.low[root];
        s.last = root;
        s.end = d.blocks[root].last;
        size_t stack = 0;
        for (int t = s.first; t <= s.last; ++t) {
            subtreeOf_[t] = static_cast<int>(subtrees_.size());
            for (int c : kids[t]) stack -= schur(c);
            stack += schur(t);
            s.stack = std::max(s.stack, stack);
        }
        subtrees_.push_back(s);
    }
    // The top part keeps its own stack; a subtree's root leaves its Schur
    // complement at the start of the subtree's.
    stackSize_ = 0;
    size_t stack = 0;
    units_.clear();
    for (int t = 0; t < blocks;) {
        const int s = subtreeOf_[t];
        if (s >= 0) {
            units_.push_back(-1 - s);
            t = subtrees_[s].last + 1;
            continue;
        }
        for (int c : kids[t])
            if (subtreeOf_[c] < 0) stack -= schur(c);
        stack += schur(t);
        stackSize_ = std::max(stackSize_, stack);
        units_.push_back(t++);
    }
}

// Matrix entries: each into the front of the block of its first-eliminated
// index.
void MultifrontalLu::PlaceEntries(const SparseRows& a, const Tree& tree) {
    const int n = tree.n, blocks = tree.blocks;
    const std::vector<int>& pos = tree.pos;
    std::vector<int> count(blocks + 1, 0);
    std::vector<int> owner(a.start[n]);
    for (int r = 0; r < n; ++r)
        for (int e = a.start[r]; e < a.start[r + 1]; ++e) {
            owner[e] = tree.blockOf[std::min(pos[r], pos[a.col[e]])];
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
            local_[k] = static_cast<size_t>(tree.local(t, pos[r])) +
                        static_cast<size_t>(tree.local(t, pos[a.col[e]])) * nf;
        }
}

// The factors and the work arrays of the factorisation and the solve.
void MultifrontalLu::Allocate(size_t offset, size_t pivots) {
    factors_.assign(offset, 0.0);
    pivot_.assign(pivots, 0);
    front_.assign(largestFront_, 0.0);
    stack_.assign(stackSize_, 0.0);
    w_.assign(n_, 0.0);
    size_t widest = 0;
    for (const Front& F : fronts_) widest = std::max<size_t>(widest, F.boundary);
    t_.assign(widest, 0.0);
    subtreeStack_.resize(subtrees_.size());
    outside_.resize(subtrees_.size());
    for (size_t s = 0; s < subtrees_.size(); ++s) subtreeStack_[s].assign(subtrees_[s].stack, 0.0);
    frontWork_.clear();
    solveWork_.clear();
}

bool MultifrontalLu::Factor(const SparseRows& a) {
    if (a.n != n_ || n_ == 0) return false;
#if QUAREL_THREADSAFE_BLAS
    // The subtrees side by side: each front is factored by the same calls
    // whichever thread takes it, so the factors are the one-thread ones.
    // A process that loaded the serial build first (numpy does, before the
    // Python module) has only that one under the same name: one thread.
    openblas_set_num_threads(1);
    const int threads = openblas_get_parallel() == 0
                            ? 1
                            : std::max(1, std::min(Threads(), static_cast<int>(subtrees_.size())));
#else
    // One thread: the serial OpenBLAS is not safe to call from two
    // threads at once in its LAPACK and level-3 routines (with the
    // subtrees factored side by side, up to 42 in 300 factorisations of a
    // 200 x 60 grid matrix differed from the one-thread factors; none of
    // 500 with the dense kernels serialised, see docs/benchmarks.md).  Its
    // level-2 routines, which the solves use, gave the same bits in every
    // one of 1650 two-thread solves.
    const int threads = 1;
#endif
    frontWork_.resize(static_cast<size_t>(threads));
    for (std::vector<double>& w : frontWork_)
        if (w.size() != largestFront_) w.assign(largestFront_, 0.0);
    std::atomic<bool> ok{true};
    SideBySide(static_cast<int>(subtrees_.size()), threads, [&](int s, int thread) {
        size_t top = 0;
        for (int t = subtrees_[s].first; t <= subtrees_[s].last && ok; ++t)
            if (!FactorFront(a, t, frontWork_[thread].data(), subtreeStack_[s].data(), top))
                ok = false;
    });
    if (!ok) return false;
    size_t top = 0;
    for (int t = 0; t < static_cast<int>(fronts_.size()); ++t)
        if (subtreeOf_[t] < 0 && !FactorFront(a, t, front_.data(), stack_.data(), top))
            return false;
    return true;
}

bool MultifrontalLu::FactorFront(const SparseRows& a, int t, double* W, double* stack,
                                 size_t& top) {
    const Front& F = fronts_[t];
    const int np = F.pivots, nb = F.boundary, nf = np + nb;
    std::fill(W, W + static_cast<size_t>(nf) * nf, 0.0);
    for (int k = F.entryStart; k < F.entryEnd; ++k) W[local_[k]] += a.val[entry_[k]];
    // The Schur complements of the blocks below, the last pushed first.
    // (The last child is the block before t, and each child before it
    // ends where the next one's subtree begins.)  A block of the top part
    // finds a subtree root's at the start of that subtree's stack.
    for (int c = 0, child = t - 1; c < F.children; ++c) {
        const Front& C = fronts_[child];
        const int nc = C.boundary;
        const size_t size = static_cast<size_t>(nc) * nc;
        const double* S;
        if (subtreeOf_[t] < 0 && subtreeOf_[child] >= 0) {
            S = subtreeStack_[subtreeOf_[child]].data();
        } else {
            S = stack + top - size;
            top -= size;
        }
        const int* m = map_.data() + C.mapStart;
        for (int j = 0; j < nc; ++j) {
            double* col = W + static_cast<size_t>(m[j]) * nf;
            const double* s = S + static_cast<size_t>(j) * nc;
            for (int i = 0; i < nc; ++i) col[m[i]] += s[i];
        }
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
        cblas_dtrsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasUnit, np, nb, 1.0, W,
                    nf, W12, nf);
        cblas_dtrsm(CblasColMajor, CblasRight, CblasUpper, CblasNoTrans, CblasNonUnit, nb, np, 1.0,
                    W, nf, W + np, nf);
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, nb, nb, np, -1.0, W + np, nf, W12,
                    nf, 1.0, W12 + np, nf);
    }
    double* lu = factors_.data() + F.lu;
    double* upper = factors_.data() + F.upper;
    double* lower = factors_.data() + F.lower;
    for (int j = 0; j < np; ++j) {
        const double* col = W + static_cast<size_t>(j) * nf;
        std::copy(col, col + np, lu + static_cast<size_t>(j) * np);
        std::copy(col + np, col + nf, lower + static_cast<size_t>(j) * nb);
    }
    double* S = stack + top;
    for (int j = 0; j < nb; ++j) {
        const double* col = W + static_cast<size_t>(np + j) * nf;
        std::copy(col, col + np, upper + static_cast<size_t>(j) * np);
        std::copy(col + np, col + nf, S + static_cast<size_t>(j) * nb);
    }
    top += static_cast<size_t>(nb) * nb;
    return true;
}

void MultifrontalLu::ForwardFront(int t, double* w, double* tw, int end,
                                  std::vector<std::pair<int, double>>* out) const {
    const Front& F = fronts_[t];
    const int np = F.pivots, nb = F.boundary;
    double* z = w + F.first;
    const int* piv = pivot_.data() + F.pivotStart;
    for (int i = 0; i < np; ++i) {
        const int p = piv[i] - 1;
        if (p != i) std::swap(z[i], z[p]);
    }
    cblas_dtrsv(CblasColMajor, CblasLower, CblasNoTrans, CblasUnit, np, factors_.data() + F.lu, np,
                z, 1);
    if (nb > 0) {
        cblas_dgemv(CblasColMajor, CblasNoTrans, nb, np, 1.0, factors_.data() + F.lower, nb, z, 1,
                    0.0, tw, 1);
        const int* b = boundary_.data() + F.boundaryStart;
        for (int i = 0; i < nb; ++i) {
            if (b[i] < end)
                w[b[i]] -= tw[i];
            else
                out->emplace_back(b[i], tw[i]);
        }
    }
}

void MultifrontalLu::BackFront(int t, double* w, double* tw) const {
    const Front& F = fronts_[t];
    const int np = F.pivots, nb = F.boundary;
    double* z = w + F.first;
    if (nb > 0) {
        const int* b = boundary_.data() + F.boundaryStart;
        for (int i = 0; i < nb; ++i) tw[i] = w[b[i]];
        cblas_dgemv(CblasColMajor, CblasNoTrans, np, nb, -1.0, factors_.data() + F.upper, np, tw, 1,
                    1.0, z, 1);
    }
    cblas_dtrsv(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, np, factors_.data() + F.lu,
                np, z, 1);
}

void MultifrontalLu::Solve(const double* r, double* y) const {
    double* w = w_.data();
    const int threads = Threads();
    const int count = static_cast<int>(subtrees_.size());
    if (static_cast<int>(solveWork_.size()) < threads) solveWork_.resize(threads);
    for (std::vector<double>& v : solveWork_)
        if (v.size() != t_.size()) v.assign(t_.size(), 0.0);
    for (int q = 0; q < n_; ++q) w[q] = r[order_[q]];
    // Forward: the subtrees side by side, keeping their updates of the
    // positions above them, which are then applied in the order of
    // elimination between the blocks of the top part.
    SideBySide(count, threads, [&](int s, int thread) {
        double* tw = solveWork_[thread].data();
        outside_[s].clear();
        for (int t = subtrees_[s].first; t <= subtrees_[s].last; ++t)
            ForwardFront(t, w, tw, subtrees_[s].end, &outside_[s]);
    });
    for (int u : units_) {
        if (u >= 0) {
            ForwardFront(u, w, t_.data(), n_, nullptr);
        } else {
            for (const std::pair<int, double>& o : outside_[-1 - u]) w[o.first] -= o.second;
        }
    }
    // Backward: the top part, whose blocks read only blocks above them,
    // then the subtrees side by side.
    for (auto u = units_.rbegin(); u != units_.rend(); ++u)
        if (*u >= 0) BackFront(*u, w, t_.data());
    SideBySide(count, threads, [&](int s, int thread) {
        double* tw = solveWork_[thread].data();
        for (int t = subtrees_[s].last; t >= subtrees_[s].first; --t) BackFront(t, w, tw);
    });
    for (int q = 0; q < n_; ++q) y[order_[q]] = w[q];
}

}  // namespace quarel
