// Complete LU factors of a sparse matrix by the multifrontal method, on
// the tree of a nested dissection (nested_dissection.h).
//
// Each block of the dissection is eliminated in a dense frontal matrix
// that holds its own rows and columns and those of the later blocks they
// couple to (its boundary).  The front is assembled from the matrix
// entries whose first-eliminated index is in the block and from the Schur
// complements that the blocks below it leave on their boundaries; its
// block rows are factored with partial pivoting among them (LAPACK), the
// off-diagonal blocks follow by triangular solves and the Schur
// complement on the boundary by one matrix product (BLAS).  Pivots are
// not exchanged between blocks: the matrices factored here (the Newton
// rows of the approximate scheme) have a dominant diagonal, and a block
// whose own rows hold no usable pivot makes the factorisation fail rather
// than give factors of another matrix.
//
// The analysis (fronts, assembly maps, storage) depends on the pattern and
// the dissection alone and is made once; Factor then only computes.
//
// Disjoint subtrees of the dissection are independent: the analysis cuts
// the tree into a few of them (about equal work) below a top part of
// separators; Factor and Solve run the subtrees on the threads and the
// top part after them (Factor only with a BLAS that is safe to call from
// several threads at once, see there).  Every front is computed by the
// same operations in the same order whatever the number of threads, and
// the updates a subtree's forward solve makes outside itself are applied
// in the order of elimination, so the solutions are the same to the last
// bit with one thread or several.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "nested_dissection.h"
#include "sparse_rows.h"

namespace quarel {

class MultifrontalLu {
public:
    // Analysis for the pattern of a [in] and the dissection d [in] of its
    // rows.  Returns false when d does not dissect a (a coupling between
    // two blocks of which neither lies above the other).
    bool Analyse(const SparseRows& a, const Dissection& d);
    // Factors the values of a [in], whose pattern must be the analysed
    // one.  Returns false when a block has a zero pivot or the values are
    // not finite; Solve must not be called then.
    bool Factor(const SparseRows& a);
    // y = A^-1 r.  r [in]; y [out] (may be r)
    void Solve(const double* r, double* y) const;
    // Entries held by the factors (the dense blocks).
    double entries() const { return static_cast<double>(factorSize_); }
    int size() const { return n_; }
    // Threads for Factor and Solve (0: all cores).
    void setThreads(int threads) { threads_ = threads; }
    int threads() const { return threads_; }

private:
    struct Front {
        int first = 0, pivots = 0;            // its rows: positions first .. first+pivots-1
        int boundary = 0;                     // later positions it couples to
        int boundaryStart = 0;                // into boundary_
        int children = 0;                     // blocks directly below it
        int subtreeFirst = 0;                 // the first block of its subtree
        size_t lu = 0, upper = 0, lower = 0;  // offsets of its factor blocks
        size_t pivotStart = 0;                // into pivot_
        int entryStart = 0, entryEnd = 0;     // into entry_, local_
        int mapStart = 0;  // into map_: its boundary's places in its parent's front
    };
    struct Subtree {
        int first = 0, last = 0;  // blocks first .. last (its root)
        int end = 0;              // positions below it: < end
        size_t stack = 0;         // the most entries of its pending Schur complements
    };
    // The block tree of a dissection as the analysis checks and uses it.
    struct Tree;
    // The phases of Analyse; each returns false when the dissection does
    // not fit the matrix.
    static bool ReadBlocks(const SparseRows& a, const Dissection& d, Tree& tree);
    static bool FindBoundaries(const SparseRows& a, const Dissection& d, Tree& tree);
    bool LayOutFronts(const Tree& tree, size_t& offset, size_t& pivots);
    void SplitSubtrees(const Tree& tree);
    void PlaceEntries(const SparseRows& a, const Tree& tree);
    void Allocate(size_t offset, size_t pivots);
    // Factors block t: W [out] its frontal matrix; the Schur complements of
    // its children are popped from stack [in,out] at top [in,out] (or taken
    // from their subtree's stack) and its own pushed.
    bool FactorFront(const SparseRows& a, int t, double* W, double* stack, size_t& top);
    // Forward elimination of block t on w [in,out] with the work vector tw;
    // updates of positions at or after end go to out (when given).
    void ForwardFront(int t, double* w, double* tw, int end,
                      std::vector<std::pair<int, double>>* out) const;
    void BackFront(int t, double* w, double* tw) const;
    int Threads() const;

    int threads_ = 0;
    int n_ = 0;
    std::vector<int> order_;     // order_[q] = row eliminated q-th
    std::vector<Front> fronts_;  // in the order of elimination
    std::vector<int> boundary_;  // positions of each front's boundary, ascending
    std::vector<int> map_;       // local index in the parent's front
    std::vector<int> entry_;     // matrix entry assembled into a front
    std::vector<size_t> local_;  // its place in the front (column-major)
    size_t factorSize_ = 0;
    size_t largestFront_ = 0;  // the most entries of one frontal matrix
    size_t stackSize_ = 0;     // the most entries of pending Schur complements
    std::vector<double> factors_;
    std::vector<int> pivot_;  // row exchanges of each front (LAPACK, from 1)
    std::vector<double> front_, stack_;
    mutable std::vector<double> w_, t_;  // work of the solve
    std::vector<Subtree> subtrees_;      // in the order of elimination
    std::vector<int> subtreeOf_;         // of each block (-1: the top part)
    // In the order of elimination: a block of the top part (>= 0) or a
    // subtree s (-1 - s).
    std::vector<int> units_;
    std::vector<std::vector<double>> subtreeStack_;  // ends with its root's Schur complement
    std::vector<std::vector<double>> frontWork_;     // frontal matrix of the subtrees
    mutable std::vector<std::vector<double>> solveWork_;
    mutable std::vector<std::vector<std::pair<int, double>>> outside_;  // of each subtree
};

}  // namespace quarel
