// Incomplete factorisation of the Newton matrix, ordered with the flow.
//
// The Newton matrix of a Newton step (the scaled rows ad1 .. ad9, adm, adp,
// adg of BuildSystem) is copied into compressed rows over the unknowns,
// numbered column by column of the C-grid (j fastest, from the body out),
// the columns taken outward from the leading edge in pairs i, NX-i: each
// surface, and the wake, is then ordered from its upstream end, so the
// upwind differences of supersonic rows fall in the lower factor and the
// factorisation marches with the characteristics, and the two sides of the
// wake cut, which are coupled, are neighbours in the ordering.
//
// The unknowns are the first-side nodes (line 1, i = 1 .. NX-k, and lines
// 2 .. NY-1); a second-side cut node is its partner NX-i plus the
// circulation Gamma = x(NX-k, 1) - x(k, 1).  The matrix is therefore
// A = A0 + c d^T: A0 with the circulation held, c the column of a unit
// change of circulation and d^T x = x(NX-k, 1) - x(k, 1).  The
// preconditioner factors A0 incompletely (ILU with the fill of a given
// level) and removes the rank-one term exactly (Sherman-Morrison), with
// h = M0^-1 c computed once per factorisation:
//   M^-1 r = y - h (d^T y) / (1 + d^T h),   y = M0^-1 r.
#pragma once

#include <memory>
#include <vector>

#include "sparse_rows.h"
#include "state.h"

namespace quarel {

class SparseLu;
struct Dissection;

// Incomplete LU factors of a sparse matrix with the fill of a given level,
// in the order of its rows, without pivoting.
class SparseIlu {
public:
    // Factors a [in] with fill level `level` [in] (0: the pattern of a).
    // The pattern of the factors is kept while that of a stays the same.
    // segments [in], if given, are the first rows of groups of consecutive
    // rows (grid columns) of which two neighbouring groups are often
    // independent of each other; Solve then sweeps such pairs of groups
    // together, row beside row, which keeps two sums in flight.  The
    // results do not depend on it.
    void Factor(const SparseRows& a, const int& level, const std::vector<int>* segments = nullptr);
    // y = (L U)^-1 r.  r [in]; y [out] (may be r)
    void Solve(const double* r, double* y) const;
    // Nonzeros of the factors (L and U together, diagonal included).
    int entries() const { return static_cast<int>(val_.size()); }

private:
    void FactorPattern(const SparseRows& a, const int level);
    void FactorValues(const SparseRows& a);
    // Plans the paired sweeps of Solve over segments_.
    void PlanSweeps();

    // One step of a sweep: rows a0 .. a1-1 and b0 .. b1-1 (a1 <= b0), swept
    // side by side, the one swept first `lead` rows ahead; b0 == b1 for
    // rows swept alone.
    struct Sweep {
        int a0, a1, b0, b1, lead;
    };
    std::vector<Sweep> forward_, backward_;
    std::vector<int> segments_;

    int n_ = 0;
    // Row r holds L (columns < r, unit diagonal implied), the inverse
    // diagonal at diag_[r] and U (columns > r).
    std::vector<int> start_, col_, diag_;
    std::vector<double> val_;
    // The pattern of the matrix and the level the factor pattern was made
    // for.
    std::vector<int> patternStart_, patternCol_;
    int level_ = -1;
    // Fill levels of the factor entries, and the factor pattern before
    // the last change (work of FactorPattern).
    std::vector<int> luLev_;
    std::vector<int> oldStart_, oldCol_, oldDiag_, oldLuLev_;
    std::vector<char> changed_;  // rows of the factors that came out different
    std::vector<int> lev_, rowCols_;
    std::vector<int> pos_;  // work: position of each column in a row
};

class FlowOrderedIlu {
public:
    FlowOrderedIlu();
    ~FlowOrderedIlu();
    // Copies the Newton matrix of the NX x NY grid with cut index k from the
    // coefficient arrays and factors it with fill level `level` (0: the
    // pattern of A0 itself).  NY, k, NX, level [in]
    // With gridLevels > 1 the preconditioner is a V-cycle over that many
    // levels of the grid (every other node in both directions, Galerkin
    // operators P^T A P with bilinear prolongation P), the incomplete
    // factors of each level as smoother.  gridLevels [in]
    // With `complete` [in] the preconditioner is instead the complete LU
    // factorisation of A0 (sparse_lu.h), and with it M = A exactly; should
    // A0 be singular, Build falls back to the incomplete factors and
    // complete() says so.
    void Build(const int& NY, const int& k, const int& NX, const int& level,
               const int& gridLevels = 1, const bool& complete = false);
    // Build in two parts: CopyRows reads the coefficient arrays, Factor
    // then works on this object's own copy alone, so it may run on another
    // thread while the arrays change.
    void CopyRows(const int& NY, const int& k, const int& NX, const bool& complete);
    void Factor(const int& level, const int& gridLevels, const bool& complete);
    // Threads of the complete factors (0: all cores; the results do not
    // depend on it).
    void setThreads(int threads) { threads_ = threads; }
    // Whether the last Build made complete factors.
    bool complete() const { return complete_; }

    // Number of unknowns.
    int size() const { return n_; }
    // Nonzeros of the factors (L and U together, diagonal included).
    int factorEntries() const { return factors_.entries(); }

    // y = A x, the Newton matrix itself.  x [in]; y [out]
    void Multiply(const double* x, double* y) const;
    // z = M^-1 r.  r [in]; z [out] (may be r)
    void Precondition(const double* r, double* z) const;

    // Compact vector of a grid vector over the unknowns, and back (second
    // side of the cut = partner + circulation, boundary 0).
    //   v [in]; x [out]
    void Gather(const GridArray& v, double* x) const;
    //   x [in]; v [out]
    void Scatter(const double* x, GridArray& v) const;

private:
    // What Product keeps of its last call into one matrix: the patterns of
    // the left operand X and of the product Z, the rows of Z whose pattern
    // changed then, and work vectors.
    struct ProductMemo {
        bool valid = false;
        std::vector<int> xStart, xCol, zStart, zCol;
        std::vector<char> zChanged;
        std::vector<double> acc;
        std::vector<int> where;
    };
    // Z = X Y (Y with `columns` columns), reusing the patterns of the last
    // call (see ilu.cpp).  X, Y, yChanged, columns [in]; Z [out];
    // memo [in,out]
    static void Product(const SparseRows& X, const SparseRows& Y, const std::vector<char>* yChanged,
                        const int columns, SparseRows& Z, ProductMemo& memo);
    // A coarse level: its operator and factors, the prolongation from it to
    // the level above and its transpose, and work vectors.
    struct Level {
        ProductMemo apMemo, aMemo;  // of A P and of P^T (A P)
        SparseRows a, p, pt;
        SparseRows ap;             // work: A P of the level above
        std::vector<int> columns;  // first unknown of each grid column
        SparseIlu smoother;
        mutable std::vector<double> t, rc, zc;
    };
    // Numbers the unknowns of the NX_ x NY_ grid and makes the table of
    // terms from which Build assembles the rows of A0.
    void Number();
    // Forms the operators of the coarse levels and their factors.
    void BuildCoarseLevels(const int level, const int gridLevels);
    // Numbers the nodes of up to gridLevels - 1 coarse levels and makes
    // their prolongations.
    void NumberCoarseLevels(const int gridLevels);
    // z = (V-cycle from level c) r.  c [in]; r [in]; z [out]
    void Cycle(const int c, const double* r, double* z) const;
    double Jump(const double* x) const { return x[last_] - x[first_]; }

    int NX_ = 0, NY_ = 0, k_ = 0, n_ = 0;
    int first_ = 0, last_ = 0;  // compact index of (k, 1) and (NX-k, 1)
    std::vector<int> node_;     // grid offset of each compact unknown
    std::vector<int> index_;    // compact index of each grid offset (-1: none)
    // One coefficient of a row of A0: array(i, j) of the row's node at
    // `offset` (negated if `negate`), added to slot `slot` of the row and,
    // for a second-side cut node, to the circulation column.
    struct Term {
        const GridArray* array;
        int offset;
        bool negate, gamma;
        int slot;
    };
    std::vector<Term> terms_;
    std::vector<int> termStart_;  // terms of row r: termStart_[r] .. termStart_[r+1]-1
    std::vector<int> slotCol_;    // column of each slot, ascending in a row
    std::vector<int> slotStart_;  // slots of row r
    std::vector<int> diagSlot_;   // slot of the diagonal of row r
    std::vector<double> rowSum_;  // work: the sums of the slots
    std::vector<char> rowPresent_;
    int coarseKey_ = -1;            // gridLevels the coarse levels were numbered for
    std::vector<int> columns_;      // first unknown of each grid column
    SparseRows a0_;                 // A0
    std::vector<double> gammaCol_;  // c
    SparseIlu factors_;
    std::unique_ptr<SparseLu> direct_;  // complete factors (made on first use)
    int threads_ = 0;
    std::unique_ptr<Dissection> dissection_;  // their order of elimination (made once per grid)
    bool complete_ = false;                   // the last Build factored completely
    std::vector<Level> coarse_;
    int coarseCount_ = 0;               // levels of coarse_ in use
    mutable std::vector<double> copy_;  // r when the caller passes z = r
    std::vector<double> response_;      // h = M0^-1 c
    double responseJump_ = 0.0;         // 1 + d^T h
};

}  // namespace quarel
