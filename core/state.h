// Solver state: the fixed-size arrays shared by every solver routine, the
// main window and the two dialogs.
//
// All arrays are static storage with compile-time bounds; nothing is
// allocated per run.  Values left by a previous run stay visible until
// they are overwritten.  Scalars (grid sizes, free-stream data,
// tolerances) are not part of the state: they belong to the run control
// and are passed to the routines by reference.
//
// C-grid indexing
//   i = 0 .. NX along the C line.  i = 0 is the downstream end of the upper
//   side of the wake cut, i = k the upper trailing edge, i = NX/2 the
//   leading edge, i = NX-k the lower trailing edge and i = NX the
//   downstream end of the lower side.  Cut node i < k coincides with node
//   NX-i.
//   j = 1 .. NY from the body and the cut (j = 1) to the far boundary.
//
// Array kinds (all double precision)
//   grid array   : i = 0..500, j = 1..160, column-major with i fastest,
//                  offset i + 501*(j-1).  Value at node (i, j).
//   i-face array : same storage; (i, j) is the face between nodes (i, j)
//                  and (i+1, j), used for i = 0..NX-1.
//   j-face array : same storage; (i, j) is the face between nodes (i, j)
//                  and (i, j+1), used for j = 1..NY-1.
//   contour array: index 0..503 (the computed Cp has 0..500); value at
//                  contour index i on line j = 1 (node or i-face).
//   line array   : index j = 1..160.
//
// Every accessor checks its indices in debug builds (assert), so the
// sanitizer build catches any out-of-range use.
#pragma once

#include <cassert>
#include <cstddef>
#include <vector>

// The relations of the flow state, for every routine that works on it.
#include "gas.h"

namespace quarel {

// Bounds that follow from the storage.
constexpr int kMaxNX = 500;              // last i a grid array can hold
constexpr int kMaxNY = 160;              // last j a grid array can hold
constexpr int kMaxNXGrid = 499;          // last i the grid generator can build
constexpr int kGridStride = kMaxNX + 1;  // 501 nodes per grid line
constexpr int kGridSize = kGridStride * kMaxNY;
constexpr int kContourSize = 504;    // contour arrays, index 0..503
constexpr int kCpSize = 501;         // computed Cp, index 0..500
constexpr int kMaxKrylov = 30;       // largest GMRES dimension
constexpr int kBlockStations = 500;  // line-1 block system stations

// A grid, i-face or j-face array addressed as a(i, j).
class GridArray {
public:
    double& operator()(int i, int j) {
        assert(i >= 0 && i <= kMaxNX && j >= 1 && j <= kMaxNY);
        return v_[i + kGridStride * (j - 1)];
    }
    double operator()(int i, int j) const {
        assert(i >= 0 && i <= kMaxNX && j >= 1 && j <= kMaxNY);
        return v_[i + kGridStride * (j - 1)];
    }
    double* data() { return v_; }
    const double* data() const { return v_; }
    // Flat offset of node (i, j), for loops that walk a line.
    static constexpr int at(int i, int j) { return i + kGridStride * (j - 1); }

private:
    double v_[kGridSize];
};

// A one-dimensional array indexed from `First` to `First + N - 1`.
template <int N, int First>
class IndexedArray {
public:
    double& operator()(int i) {
        assert(i >= First && i < First + N);
        return v_[i - First];
    }
    double operator()(int i) const {
        assert(i >= First && i < First + N);
        return v_[i - First];
    }
    double* data() { return v_; }
    static constexpr int size() { return N; }

private:
    double v_[N];
};

using ContourArray = IndexedArray<kContourSize, 0>;  // i = 0..503
using CpArray = IndexedArray<kCpSize, 0>;            // i = 0..500
using LineArray = IndexedArray<kMaxNY, 1>;           // j = 1..160

// 3 x 3 blocks of the line-1 system: slice m = row + 3*column, entry
// (station i) at i-1.
class BlockArray {
public:
    double& operator()(int row, int col, int station) {
        assert(row >= 0 && row < 3 && col >= 0 && col < 3);
        assert(station >= 1 && station <= kBlockStations);
        return v_[row + 3 * col][station - 1];
    }
    double* slice(int m) { return v_[m]; }

private:
    double v_[9][kBlockStations];
};

// Three values per line-1 station (circulation column, right-hand sides).
class StationVector {
public:
    double& operator()(int row, int station) {
        assert(row >= 0 && row < 3);
        assert(station >= 1 && station <= kBlockStations);
        return v_[row][station - 1];
    }

private:
    double v_[3][kBlockStations];
};

// ---------------------------------------------------------------------
// Grid and geometry
// ---------------------------------------------------------------------
// Node coordinates x, y in chord units (chord from (0,0) to (1,0)).
// Written by GridGen and by the coarsening of the run driver; read by
// every solver routine and by the plots.
extern GridArray xg, yg;
// Copy of the fine grid, kept while a calculation runs on a coarser
// level.  Written by the run control, read by the coarse-to-fine
// transfer and by the refinement of the run driver.
extern GridArray xgs, ygs;
// i-face metrics (face (i,j)-(i+1,j)): inverse Jacobian
// aji = 1/(x_xi y_eta - x_eta y_xi) and the contravariant metrics
// g11 = (x_eta^2 + y_eta^2) J^2, g12 = -(x_xi x_eta + y_xi y_eta) J^2,
// g22 = (x_xi^2 + y_xi^2) J^2.  Written by GridMetric.
extern GridArray aji, g11i, g12i, g22i;
// The same four terms on j-faces (face (i,j)-(i,j+1)), i = 1..NX-1.
extern GridArray ajj, g11j, g12j, g22j;
// Far-field vortex factors (polar angle / 2 pi in the Prandtl-Glauert
// plane): ffo(i) on the far boundary node (i, NY), ff0(j) and ffn(j) on
// the downstream columns i = 0 and i = NX.  Written by FarField.
extern ContourArray ffo;
extern LineArray ff0, ffn;
// Far-field doublet factors on the same nodes: beta Y / (2 pi (X^2 +
// beta^2 Y^2)), X, Y measured from the vortex centre, i.e. the change of
// the vortex term per unit streamwise shift of the vortex times its
// strength.  Written by FarField; the far-field values multiply them by
// the first moment of the bound circulation.
extern ContourArray fdo;
extern LineArray fd0, fdn;
// Thickness doublet factors on the same nodes: X / (2 pi beta (X^2 +
// beta^2 Y^2)), the potential of the doublet that the section's volume
// gives in a unit stream along the chord, per unit section area (linear
// theory: the source distribution of the thickness).  Written by FarField;
// the far-field values multiply them by the chordwise free stream and the
// area of the section on the grid.
extern ContourArray fto;
extern LineArray ft0, ftn;

// ---------------------------------------------------------------------
// Flow state (free-stream speed in the section plane 1, density 1)
// ---------------------------------------------------------------------
// Velocity potential at node (i, j): the unknown.  Written by the run
// control (free stream), the Newton update and the far-field values.
extern GridArray phi;
// Circulation of the level in phi: the jump of the potential across the
// wake cut at the trailing edge, phi(NX-k, 1) - phi(k, 1) (lower minus
// upper trailing-edge node).  NX, k [in]
inline double Circulation(const int& NX, const int& k) {
    return phi(NX - k, 1) - phi(k, 1);
}
// The same jump of any potential-like vector (a correction, a Krylov
// vector).  v, NX, k [in]
inline double Circulation(const GridArray& v, const int& NX, const int& k) {
    return v(NX - k, 1) - v(k, 1);
}
// Saved potential of the fine grid: written by the run control and the
// coarse-to-fine transfer, stored in the restart file.
extern GridArray phis;
// i-face density used in the xi-flux (upwind-biased where supersonic),
// and the isentropic density before biasing.
extern GridArray rhoi, rsi;
// j-face density used in the eta-flux.
extern GridArray rhoj;
// Linearised coefficients: cfi = rho~ (g11 - U^2/a^2)/J on i-faces,
// cfj = rho (g22 - V^2/a^2)/J on j-faces.
extern GridArray cfi, cfj;
// Upwind Jacobian entries: derivative of the biasing term with respect
// to the upstream potentials (dsi when the upstream face is i+1, dri when
// it is i-1).
extern GridArray dsi, dri;
// Shock-point flux correction of face (i, j), added to the residual of
// node (i, j), and its slopes with respect to phi(i-1, j), phi(i, j) and
// phi(i+1, j) for the Newton matrix.
extern GridArray shk, ssw, ssc, sse;
// Entropy rise s/R (over the free stream) of i-face (i, j) in the
// non-isentropic model, carried downstream from the shocks along line j;
// 0 everywhere in the isentropic model.
extern GridArray ent;
// Local Mach number at the i-face midpoints (line 1 from the surface
// velocity without transpiration).  Written by the Mach field routine,
// read by the Mach picture.
extern GridArray amach;

// ---------------------------------------------------------------------
// Newton system and preconditioner (rebuilt at every Newton step)
// ---------------------------------------------------------------------
// Scaled residual of node (i, j): the Newton right-hand side.
extern GridArray sp0;
// Scaled Jacobian row: ad1 diagonal (1 after scaling), ad2..ad5 the
// neighbours (i-1,j), (i+1,j), (i,j+1), (i,j-1); ad6..ad9 the corners
// (i+1,j+1), (i-1,j+1), (i+1,j-1), (i-1,j-1); adm, adp the upwind
// differences phi(i-1)-phi(i-2) and phi(i+2)-phi(i+1); adg the
// circulation column.
extern GridArray ad1, ad2, ad3, ad4, ad5, ad6, ad7, ad8, ad9, adm, adp, adg;
// Row scale of node (i, j): the diagonal of its approximate Jacobian row
// (shock-point share included), by which BuildSystem divides the row and
// the residual; written by BuildSystem for the unknown nodes.
extern GridArray rsc;
// The Newton matrix beyond the stencil above, written only when the step
// uses the exact (differenced) matrix, see ExactRows:
//   adq  column of the first moment of the bound circulation: the far-field
//        doublet moves with every body potential, so row (i, j) adds
//        adq(i, j) times the sum of fmw(i) v(i, 1) over the body nodes
//        i = k .. NX-k (fmw: the change of the moment per unit change of
//        the body potential, the circulation's share excluded);
//   extra couplings of a row to nodes that the stencil has no slot for
//        (shock points and upwind densities reach two to four nodes
//        upstream, and across the line), as (row, node, value) with flat
//        grid offsets: row += value v(node).
extern GridArray adq;
extern ContourArray fmw;
constexpr int kMaxExtraCouplings = 1 << 16;
struct ExtraCouplings {
    int count = 0;
    int row[kMaxExtraCouplings];
    int node[kMaxExtraCouplings];
    double value[kMaxExtraCouplings];
    bool moment = false;  // adq and fmw are in use
};
extern ExtraCouplings extraCouplings;
// Couplings of the exact Newton matrix through the entropy of the
// non-isentropic model (flow/entropy.h), one per entropy jump at a shock
// face: the jump depends on a few potentials near it (node, weight) and
// changes the residual of every row downstream of it (row, value), so the
// matrix adds value times the sum of weight v(node) to each of those rows.
// Flat grid offsets; jump n has its nodes nodeStart[n] .. nodeStart[n+1]-1
// and its rows rowStart[n] .. rowStart[n+1]-1.  Empty unless the step uses
// the exact matrix with the model on.
struct EntropyCouplings {
    std::vector<int> nodeStart, node, rowStart, row;
    std::vector<double> weight, value;
    int count() const { return nodeStart.empty() ? 0 : static_cast<int>(nodeStart.size()) - 1; }
    void clear() {
        nodeStart.clear();
        node.clear();
        rowStart.clear();
        row.clear();
        weight.clear();
        value.clear();
    }
};
extern EntropyCouplings entropyCouplings;
// Factors of the line-by-line approximate factorisation.
extern GridArray pcw, pcs, pce, pmw, pme, pcn, ppv;
// Its upwind factors: pww couples node (i, j) to (i-2, j) in the lower
// factor, pcee to (i+2, j) in the upper factor (0 where the row has no
// upwind term, and pcee 0 on line 2).
extern GridArray pww, pcee;
// Line-1 block-tridiagonal system: bta couples station i to i+1, btb is
// the diagonal block, btc couples to i-1; btg is the circulation column
// and btr the right-hand sides / solution.
extern BlockArray bta, btb, btc;
extern StationVector btg, btr;
// Newton correction, linear residual, preconditioned residual and a
// work vector A v.
extern GridArray corr, gmr, gmz, gmw;
// Krylov basis: slot 0 is a work vector, slots 1..m+1 the basis.
extern GridArray krylov[kMaxKrylov + 2];
// Copy of sp0(i, 1) after each Newton step.
extern ContourArray sp1;

// ---------------------------------------------------------------------
// Surface results and design data
// ---------------------------------------------------------------------
// Computed Cp on the body i-faces i = 0..NX-1.
extern CpArray cpf;
// Surface speed and its square on the line-1 faces.
extern ContourArray qsf, q2f;
// Specified (target) Cp for design, per body face.
extern ContourArray cps;
// Target speed squared derived from cps (design driver).
extern ContourArray qq2;
// Prescribed potential increment between neighbouring surface nodes on
// the design stretch (design body condition).
extern ContourArray ptc;
// Transpiration: contravariant normal velocity imposed on the body
// faces.  Face (i,i+1) uses vfx(i) when i < NX/2 and vfx(i+1) otherwise.
extern ContourArray vfx;
// Source of each wake-cut row i (1 .. k-1): the growth of a viscous wake's
// mass defect over the node's cell, the jump of the normal mass flux across
// the cut.  Zero in inviscid flow.
extern ContourArray vwk;
// Transpiration angle V/U of the last design step.
extern ContourArray vdu;

}  // namespace quarel
