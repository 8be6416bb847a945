// The discrete conservative full-potential operator: face densities with
// upwind bias and shock-point correction, the residual and the
// approximate Jacobian row of every kind of node, and the far-field
// boundary values.
#pragma once

#include <memory>

namespace quarel {

class GridArray;

// Derived free-stream constants of the density law.
struct FlowConstants {
    double mach, gamma, s2;  // M, gamma, sin^2 sweep
    double kappa;            // (gamma-1)/2 M^2
    double q3sq;             // total speed squared at local Mach 3
    double rho3;             // density at that speed
    double qstar, rhostar;   // sonic speed in the section plane, its density
    // The density exponent 1/(gamma-1) as halfPowers/2 + excess, with
    // halfPowers a whole number and excess below 1e-6 (gamma 1.4 held in
    // single precision: 5/2 + 1.5e-7), so that the isentropic law is a
    // power of a square root times a factor close to 1; halfPowers 0 where
    // no such split exists.
    int halfPowers;
    double excess;
    // Speed of sound squared for a section-plane speed squared q2.
    double a2(double q2) const;
    // Density with the exponential continuation beyond local Mach 3.
    double density(double q2) const;
};
FlowConstants MakeFlowConstants(const double& mach, const double& gamma, const double& s2);

// One row of the approximate Jacobian (-dR/dphi) and its residual.  Slot
// order: 0 circulation, 1 diagonal, 2 (i-1,j), 3 (i+1,j), 4 (i,j+1),
// 5 (i,j-1), 6 unused, 7 phi(i-1)-phi(i-2), 8 phi(i+2)-phi(i+1),
// 9, 10 unused, 11 (i-1,j+1), 12 (i+1,j+1), 13 (i-1,j-1), 14 (i+1,j-1).
struct Row {
    double slot[15];
    double res;
};

// j-face densities of line i (j = 1..NY-1): writes rhoj, cfj.
//   i, NY, mach, gamma, s2 [in]
void JFaceDensities(const int& i, const int& NY, const double& mach, const double& gamma,
                    const double& s2);

// i-face densities of line j (faces 0..NX-1): writes rsi, rhoi, cfi, dsi,
// dri, shk.
//   j, k, NX [in]; circ [in] circulation phi(NX-k,1) - phi(k,1);
//   mach, gamma, s2 [in]
void IFaceDensities(const int& j, const int& k, const int& NX, const double& circ,
                    const double& mach, const double& gamma, const double& s2);

// Entropy-jump function of the normal shock for an upstream Mach number
// squared m2; e = 1/(gamma-1).
double EntropyJump(const double& m2, const double& e, const double& gamma);

// The residuals of the rows below have their exact derivative in
// exact_rows.cpp (one routine per row kind, term by term): a term added
// to a residual that depends on phi needs its derivative there, which the
// tests check against differences of the residual.

// Row of an interior node, 1 <= i <= NX-1, 2 <= j <= NY-1.
//   NX, NY, i, j [in]; row [out]
void InteriorRow(const int& NX, const int& NY, const int& i, const int& j, Row& row);

// Row of a wake-cut node (j = 1, 1 <= i <= k-1).
//   i, NX, k [in]; circ [in] circulation; row [out]
void WakeRow(const int& i, const int& NX, const int& k, const double& circ, Row& row);

// True when body node i carries a design row (a prescribed potential
// increment instead of the wall condition): designFlag 1 and i on the
// first design stretch k..L or, when firstOnly is 0, on the second
// NX-L..NX-k.
//   i, NX, k, designFlag, firstOnly, L [in]
bool IsDesignRow(const int& i, const int& NX, const int& k, const int& designFlag,
                 const int& firstOnly, const int& L);

// Transpiration of the two wall faces of body node i (east and west along
// the body): vfx is kept per face of the first half and per face i-1 of the
// second, so the leading-edge node takes one from each.
//   i, NX [in]; vE, vW [out]
void WallTranspiration(const int& i, const int& NX, double& vE, double& vW);

// Corrections of the four faces that end at the trailing edge for the
// corner flow there (the exact minus the discrete flux of the two corner
// modes, times their amplitudes in phi; see operator.cpp): [0] the upper
// half of the first cut face and [1] its lower half, both in the upper
// side's xi-direction (from node k-1 to k), [2] the half of the upper
// surface face k and [3] that of the lower surface face NX-k-1 that the
// body rows take, each in its own xi-direction.  Linear in phi; 0 where the
// edge cells are not small against the chord.
//   k, NX [in]; corr [out]
void TrailingEdgeFaceCorrections(const int& k, const int& NX, double (&corr)[4]);

// The terms of TrailingEdgeFaceCorrections, for their derivative: where
// active, corr[m] = weight (A defect[0][m] + turning B defect[1][m]).  A
// and B are the amplitudes of the two corner modes, solved from the
// measures m0 = phi(k,1) - phi(k-1,1) and m1 = (phi(k+1,1) - phi(k,1)) -
// (phi(NX-k-1,1) - phi(NX-k,1)) with the matrix a (determinant det):
// A = (m0 a11 - a01 m1)/det, B = (a00 m1 - a10 m0)/det.  defect[.][m] is
// proportional to the density rho[m] of face m (k-1, NX-k, k, NX-k-1 on
// line 1); turning falls linearly with 1 - cfi J/(rhoi g11) of face
// turningFace where turningVaries, and is constant otherwise.
struct EdgeCorrectionTerms {
    bool active = false;
    double weight = 0.0, A = 0.0, B = 0.0;
    double a00 = 0.0, a01 = 0.0, a10 = 0.0, a11 = 0.0, det = 1.0;
    double turning = 0.0;
    int turningFace = -1;
    bool turningVaries = false;
    double defect[2][4] = {}, rho[4] = {};
};
//   k, NX [in]; t [out]
void TrailingEdgeCorrectionTerms(const int& k, const int& NX, EdgeCorrectionTerms& t);

// Flux out of the half cell of a trailing-edge node through the first
// face of the wake cut beside it (i = k: face k-1, i = NX-k: face NX-k):
// half the xi-flux of that face, whose eta-derivative is taken across the
// cut as on every cut face, so that the two trailing-edge half cells
// together take exactly the flux the first cut cell gives off.
//   i, NX, k [in] (i = k or NX-k)
double TrailingEdgeCutOutflow(const int& i, const int& NX, const int& k);

// Row of a body node (j = 1, k <= i <= NX-k).
//   i, NX, k [in]; designFlag [in] 1 selects the design rows;
//   firstOnly [in] 0: design rows on both stretches; L [in] stretch end
//   row [out]
void BodyRow(const int& i, const int& NX, const int& k, const int& designFlag, const int& firstOnly,
             const int& L, Row& row);

// The flow arrays at the start of a level: no transpiration (vfx), unit
// densities, the incompressible coefficients cfi = g11/J, cfj = g22/J (the
// metrics must be those of the level), no upwind slopes (dsi, dri).
//   NY, NX [in]
void InitialiseFlowArrays(const int& NY, const int& NX);

// Far-field boundary values of phi on i = 0, i = NX and j = NY: the free
// stream, the vortex of the current circulation and the doublet of the
// first moment of the bound circulation (from phi on the body).
//   k, NX, NY, cu, su [in]
void FarFieldValues(const int& k, const int& NX, const int& NY, const double& cu, const double& su);

// The storage of ExactRows (the face states and residuals of the base
// potential, the colour groups; about 10 MB, made at the first call),
// owned by the caller.
class ExactRowsWorkspace {
public:
    ExactRowsWorkspace();
    ~ExactRowsWorkspace();
    ExactRowsWorkspace(const ExactRowsWorkspace&) = delete;
    ExactRowsWorkspace& operator=(const ExactRowsWorkspace&) = delete;
    struct Data;
    Data& data();

private:
    std::unique_ptr<Data> data_;
};

// Replaces the stored rows of the Newton matrix (ad1 .. ad9, adm, adp,
// adg) by the derivative of the residual that sp0 holds, scaled as sp0,
// formed from the derivatives of the face states (exact_rows.cpp); the
// couplings the stencil has no slot for go to adq, fmw and extraCouplings.
// sp0 and the preconditioner factors stay as BuildSystem left them; the
// face arrays are those of phi on return.
//   NY, k, NX, mach, gamma, s2 [in]; designFlag, firstOnly, L [in] as for
//   BodyRow; work [in,out] storage; step [in] up to 1e-7 the rows are the
//   derivative; a wider step asks for differences that wide, whose secant
//   spans the kinks of the switches (where the Newton iteration cycles on
//   one), and the rows are those of ExactRowsByDifferences with it
void ExactRows(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
               const double& s2, const int& designFlag, const int& firstOnly, const int& L,
               ExactRowsWorkspace& work, const double& step = 1.0e-7);

// The face arrays of phi (as IFaceDensities and JFaceDensities leave them)
// and the scale of every unknown row as BuildSystem scales sp0 (the
// diagonal of its approximate row with its share of the shock-point term),
// kept in work; returns the scales.
//   arguments as ExactRows
const GridArray& ExactRowScales(const int& NY, const int& k, const int& NX, const double& mach,
                                const double& gamma, const double& s2, const int& designFlag,
                                const int& firstOnly, const int& L, ExactRowsWorkspace& work);

// The same rows formed by one-sided differences of the whole residual
// with the columns taken in colour groups (about 26 residual evaluations):
// the check of ExactRows.
//   as ExactRows; step [in] the difference step relative to max(1, |phi|)
void ExactRowsByDifferences(const int& NY, const int& k, const int& NX, const double& mach,
                            const double& gamma, const double& s2, const int& designFlag,
                            const int& firstOnly, const int& L, ExactRowsWorkspace& work,
                            const double& step = 1.0e-7);

}  // namespace quarel
