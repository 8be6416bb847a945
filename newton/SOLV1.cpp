// Newton step of the full-potential equation and its restarted,
// preconditioned GMRES driver.
#include "SOLV1.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "CDEF1.h"
#include "SRV11.h"
#include "fgmres.h"
#include "fixedformat.h"
#include "gmres.h"
#include "ilu.h"
#include "message.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

// Largest |v| over the unknowns (lines 2 .. NY-1, i = 1 .. NX-1, and
// line 1, i = 1 .. NX-k).
double MaxAbsUnknowns(const int& NY, const int& k, const int& NX, const GridArray& v) {
    double m = 0.0;
    for (int i = 1; i <= NX - k; ++i) m = std::fmax(m, std::fabs(v(i, 1)));
    for (int j = 2; j <= NY - 1; ++j) {
        const double* l = v.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) m = std::fmax(m, std::fabs(l[i]));
    }
    return m;
}

// Number of unknowns: line 1 from i = 1 to NX-k, lines 2 .. NY-1 from
// i = 1 to NX-1.
int UnknownCount(const int NY, const int k, const int NX) {
    return (NX - k) + (NY - 2) * (NX - 1);
}

// 2-norm of v over the unknowns.
double NormUnknowns(const int& NY, const int& k, const int& NX, const GridArray& v) {
    double s = 0.0;
    for (int i = 1; i <= NX - k; ++i) s += v(i, 1) * v(i, 1);
    for (int j = 2; j <= NY - 1; ++j) {
        const double* l = v.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) s += l[i] * l[i];
    }
    return std::sqrt(s);
}

// The value of largest magnitude of a over i = 1 .. NX-1, j = 1 .. NY-1
// with its indices; scanned j outer, i inner, the first of equal
// magnitudes kept; 0 at (1, 1) when all vanish.
void LargestEntry(const int& NY, const int& NX, const GridArray& a, double& value, int& iMax,
                  int& jMax) {
    value = 0.0;
    iMax = jMax = 1;
    double mag = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        const double* l = a.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) {
            if (std::fabs(l[i]) > mag) {
                mag = std::fabs(l[i]);
                value = l[i];
                iMax = i;
                jMax = j;
            }
        }
    }
}

// Step control.  Newton's method on the transonic equations, with its
// approximate matrix, can run away from a poor start (a free stream on a
// strongly stretched grid, a shock moving across cells): the residual grows
// and the densities degenerate until a diagonal vanishes.  The step
// therefore remembers the potential before its update, and the next step
// judges the update by the 2-norm of the scaled residual over the unknowns
// (the largest residual alone follows a single node and jumps when a shock
// moves by a cell).  When the system cannot be built, or the norm has grown
// beyond kGrowth times the largest of the last kWindow accepted norms, the
// last correction is halved, at most kHalvings times; when no fraction is
// acceptable, the step goes on from the whole correction if its norm is
// within kBlowUp times the reference, else from the fraction with the
// smallest norm.
// The window lets the norm rise for a step or two while a shock settles.
// After kCreepSteps steps in a row that were cut back, the bound is kGrowth
// times that reference: a shock that moves through the field moves by a
// cell per Newton step at best, and each such step first raises the norm
// (the residual of the cells the shock leaves and enters) before the next
// one takes it down.  Fractions of such a step smear the shock over the
// cells between and keep the norm down, but the shock then moves by a
// fraction of a cell per step: on the 92 x 15 level of NACA 0012 at M 0.85
// and 1 degree, with the reference itself as the bound, the shock in the
// field crept aft over 50 steps cut to 1/2 .. 1/4 (and by the Mach limit
// below); with the wider bound the level converges in 36.  The wider bound
// waits for a run of cut steps because on the largest grids the fine level
// depends on where the coarse levels left the shock: with it from the start,
// NACA 0012 at M 0.8 on 496 x 97 no longer converged.  A run away still
// meets the test: its norm grows by far more than kGrowth.
// While a shock travels far on the start level of a run (see kTravelSteps)
// the bound is the wider one from the first step: no coarser level's shock
// is there for the finer ones to depend on, and the steps that move the
// shock by a cell each raise the norm (NACA 0012 at M 0.75 and +-6 degrees:
// with the wider bound after one cut step, 35 to 48 steps on the 92 x 15,
// 124 x 20 and 124 x 25 levels; from the first step, 31 to 42).  Not on
// every start level: with the wider bound and the wider Mach limit from the
// first step, NACA 0012 at M 0.85 and 1 degree, whose first steps do not
// meet the Mach limit, cycled at the leading edge of the 92 x 15 level at
// the residual 2e-3 until its 50 steps were used up.
// A converging run never meets the test, and the converged potential does
// not depend on it.
constexpr double kGrowth = 2.0;
constexpr int kCreepSteps = 3;
// On the start level of a run no coarser level has placed the shock, and
// one cut step is enough to widen the bound: NACA 0012 at M 0.85 and
// 1 degree took 49 steps on the 124 x 25 level of 496 x 97 at 1e-9 with
// kCreepSteps there, every other step cut to a half while its shock
// travelled, and takes 43 with this; over the whole case matrix no run
// takes more than one step more, none changes its lift, and the most steps
// any level takes fall from 49 to 43.
constexpr int kCreepStepsStart = 1;
constexpr int kHalvings = 6;
constexpr int kWindow = 3;
constexpr double kBlowUp = 4.0;
double acceptedNorm[kWindow] = {};  // residual norms of the last accepted steps, newest first
int cutSteps = 0;                   // steps in a row that cut back their predecessor
GridArray phiEntry;                 // potential the step was given
GridArray phiBefore;                // potential before the last update
bool haveBefore = false;            // phiBefore belongs to the current level
int lastItr = 0, lastNX = 0, lastNY = 0, lastK = 0;  // the step phiBefore belongs to
double linearReduction = 0.0;                        // what the last solve left of the residual
double largestCorrection = 0.0;                      // max |corr| of the last step
double keptFraction = 1.0;           // share of the last step's correction this step kept
int linearIterations = 0;            // GMRES iterations of the last step
std::function<void()> stepObserver;  // called after every step (tools)
// Forcing term of the inexact method: start, factor, upper bound; the
// residual and forcing term of the last step.
constexpr double kForcingStart = 0.1;
constexpr double kForcingGamma = 0.9;
constexpr double kForcingMax = 0.1;
// The ilu method's solves are cheap enough to be three times tighter, which
// saves Newton steps on transonic cases.
constexpr double kForcingMaxIlu = 0.03;
double lastForcingRes = 0.0;
// Share of the residual that the linear solve may leave with the exact
// matrix, and the loosest linear tolerance of those solves (that of the
// run tolerance 1e-7: a looser run solves as that one does).
constexpr double kExactForcing = 1.0e-2;
constexpr double kExactLinearTolerance = 1.0e-8;
double lastEta = kForcingStart;
// Fallback of a stalled solve.  Restarted GMRES can stagnate outright:
// near the solution of a transonic case on the finest grids the exact
// matrix, preconditioned by the factors of the approximate one, has a few
// eigenvalues that a Krylov space of the run's dimension does not resolve,
// and every restart begins where the last one left off (on the 496 x 77
// grid of NACA 0012 at M 0.8 each cycle of 30 kept 96 % of the residual,
// step after step, and the iteration ended at 2.2e-9 against 1e-9).  Far
// from the solution, or with a shock that the coarse levels of the V-cycle
// do not resolve, the multilevel preconditioner can stall flexible GMRES as
// well.  A solve that leaves more than kFallbackShare times its tolerance
// is therefore repeated with kFallbackDimension times the dimension (with
// it that grid reached 1.6e-10 in 14 steps), and if that stalls too, with
// the incomplete factors of the fine grid alone, which do not depend on
// the coarse levels.
constexpr double kFallbackShare = 2.0;
constexpr int kFallbackDimension = 4;
bool fellBack = false;  // the last step's solve was repeated

// Complete factors cost a good part of a step on the large grids (on
// 496 x 97 0.09 s, against 0.005 s for a solve with them and 0.05 s for
// the exact matrix), and those of the step before precondition the next
// step's matrix nearly as well: in the steps with the exact matrix they
// are kept while the solve with them takes at most kReuseIterations
// iterations, and made anew after a solve that took more (NACA 0012 at
// M 0.8 on 496 x 97 to 1e-9, with factors that then took 0.13 s: the fine
// level's 11 steps took 4.3 s with new factors at every step and 2.8 s
// with this, the same steps and lift, 4 to 12 iterations per solve instead
// of 4 to 7; with the present factors a limit of 15, 20 or none costs more
// than the factorisations it saves).  The steps with the approximate
// matrix always factor it anew: kept factors there change the path of the
// early steps (a step more on each of the finer levels).
constexpr int kReuseIterations = 10;

// Chord steps.  Forming the exact matrix costs some forty residual
// evaluations, more than all the rest of a step.  Near the solution it
// changes little from step to step: a step whose largest residual has
// fallen to at most NewtonOptions::chordRate times that of the step before
// keeps the exact rows of that step (brought to the present row scale) and
// their incomplete factors.  The iteration then converges at the rate by
// which the held matrix differs from the present one, and a step that
// falls short of the rate forms the matrix anew.  The converged potential
// does not depend on it: the residual is always that of the present
// potential.  The derivative jumps where a face turns supersonic or subsonic
// or a shock point moves (the upwind and shock-point terms switch on or
// off): the rows are held only while every face has the pattern it had
// when they were formed (on the 496 x 77 grid of a transonic case, chord
// steps across such a switch raised the residual 15-fold).
struct HeldExactRows {
    bool valid = false;
    int NX = 0, NY = 0, k = 0;
    int itr = 0;       // the last step that used them
    double res = 0.0;  // largest residual of that step
    std::vector<double> rows[13];
    std::vector<double> scale;         // row scale they were formed with
    std::vector<double> extra;         // values of the couplings beyond the stencil
    std::vector<unsigned char> faces;  // upwind and shock-point pattern of the i-faces
    int extraCount = 0;
    bool moment = false;
    bool chordStep = false;  // the last step that used them was a chord step
};
HeldExactRows heldRows;
bool chordsFailed = false;  // a chord step of this level raised the residual
std::vector<unsigned char> facePatternNow;
GridArray* const kHeldArrays[13] = {&ad1, &ad2, &ad3, &ad4, &ad5, &ad6, &ad7,
                                    &ad8, &ad9, &adm, &adp, &adg, &adq};

// Which terms of the Newton rows are switched on at each i-face: upwind
// density from the face before or after, shock-point correction.
void FacePattern(int NY, int NX, std::vector<unsigned char>& faces) {
    faces.clear();
    for (int j = 1; j <= NY - 1; ++j)
        for (int f = 0; f <= NX - 1; ++f)
            faces.push_back(static_cast<unsigned char>((dsi(f, j) != 0.0 ? 1 : 0) |
                                                       (dri(f, j) != 0.0 ? 2 : 0) |
                                                       (shk(f, j) != 0.0 ? 4 : 0)));
}

// Keeps the present exact rows (after ExactRows) for chord steps.
void HoldExactRows(int NY, int k, int NX, int itr, double res) {
    HeldExactRows& h = heldRows;
    FacePattern(NY, NX, h.faces);
    const size_t n = static_cast<size_t>(GridArray::at(NX, NY - 1)) + 1;
    for (int a = 0; a < 13; ++a)
        h.rows[a].assign(kHeldArrays[a]->data(), kHeldArrays[a]->data() + n);
    h.scale.assign(rsc.data(), rsc.data() + n);
    h.extraCount = extraCouplings.count;
    h.moment = extraCouplings.moment;
    h.extra.assign(extraCouplings.value, extraCouplings.value + extraCouplings.count);
    h.valid = true;
    h.chordStep = false;
    h.NX = NX;
    h.NY = NY;
    h.k = k;
    h.itr = itr;
    h.res = res;
}

// Puts the held exact rows in place of the approximate ones that
// BuildSystem has just formed, each row multiplied by the ratio of its
// held scale to its present one.
void RestoreExactRows(int NY, int NX, int itr, double res) {
    HeldExactRows& h = heldRows;
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) {
            const int o = GridArray::at(i, j);
            const double f = h.scale[o] / rsc(i, j);
            for (int a = 0; a < 13; ++a) kHeldArrays[a]->data()[o] = h.rows[a][o] * f;
        }
    ExtraCouplings& x = extraCouplings;
    x.count = h.extraCount;
    x.moment = h.moment;
    for (int n = 0; n < x.count; ++n)
        x.value[n] = h.extra[n] * h.scale[x.row[n]] / rsc.data()[x.row[n]];
    h.itr = itr;
    h.res = res;
    h.chordStep = true;
}

// Wider differences for the exact matrix where the iteration cycles on a
// kink (see step 3 of NewtonStep): the steps without a new lowest residual
// that start it, the difference step, and the level's record.
constexpr int kKinkSteps = 4;
constexpr double kKinkStep = 1.0e-5;
double lowestRes = 0.0;
int stepsSinceLowest = 0;

// Limit on the growth of the supersonic regions.  A correction from a
// start far from the solution (the first steps of a level, the fine level
// started from the coarser one's shock) can accelerate the flow far beyond
// any Mach number of the flow sought: the densities of such a state are
// close to vacuum, its rows hardly diagonally dominant, and the iteration
// does not find its way back.  The correction is therefore cut back by
// halving, at most kMachHalvings times, until the local Mach number of
// every face after the step is at most kMachRise above the larger of the
// largest one before and kMachFree.  A converging iteration changes the
// Mach numbers by little and never meets the limit; a flow that really
// goes on accelerating still gets there, by kMachRise per step.
// The largest Mach number before counts up to kMachCap only, and a face
// already beyond the limit may keep its Mach number but not exceed it:
// a state that has one face far beyond any flow sought (a start
// interpolated from a coarse level that wandered, a face past the speed
// the isentropic model allows, whose Mach number is infinite) would
// otherwise lift the limit for every other face, and the run away it is
// there to stop would spread from that face through the field.
// A shock that the first steps from the free stream form near mid-chord
// may have to travel far to where it stands, one cell per Newton step at
// best, and the step that moves it by a cell takes the face behind it,
// whose linearised density is that of a subsonic face, far beyond the flow
// sought (past the speed the isentropic model allows, where the shock
// settles at about Mach 1.7).  With the rise kMachRise every such step was
// cut to 1/4 .. 1/8 and the shock moved by a fraction of a cell per step:
// with NACA 0012 at M 0.75 and 6 degrees, whose shock stands 18 cells
// (92 x 15) and 24 cells (124 x 20) aft of where it forms, the 92 x 15,
// 124 x 20 and 124 x 25 levels ran out of their 50 steps.  On the start
// level of a run (NewtonOptions::startLevel) whose first or second step
// from the free stream already met the limit (kTravelSteps), the rise is
// therefore kMachRiseStart for the rest of the level.  The limit then
// still ends at Mach 3 (kMachCap + kMachRiseStart), where the density law
// leaves the isentropic one; with a rise of 2, past it (and the wider norm
// bound from the first step), NACA 0012 at M 0.85 and 1 degree ran away on
// the 92 x 15 level.  Only the first steps decide: they meet the limit
// when the flow sought is supersonic far beyond the sonic line, whereas
// the later cuts of a transonic start (a shock that travels a few cells)
// also come with shocks the finer levels are sensitive to: with the wider
// limit on every start level that met it, the fine level of NACA 0012 at
// M 0.75 and -4 degrees on 256 x 41, whose Newton steps cycle on a kink for
// a while, ended in 50 steps instead of 41 (at 1e-9 the other way round).
constexpr double kMachFree = 1.55;
constexpr double kMachRise = 0.15;
constexpr double kMachRiseStart = 1.0;
constexpr int kTravelSteps = 2;
constexpr double kMachCap = 2.0;
constexpr int kMachHalvings = 6;
double machFraction = 1.0;  // share of its correction the last step kept by this limit
bool travelling = false;    // a shock travels on the start level (kTravelSteps)
GridArray faceMach;         // local Mach number of every i-face (FaceMachNumbers)
GridArray faceMachBefore;   // the same before the correction

// Local Mach number of the section-plane velocity on the i-faces of lines
// 1 .. NY-1 (i = 0 .. NX-1) with the current potential, into m, and the
// largest of them; HUGE_VAL where the speed reaches the limit of the
// isentropic model (no speed of sound left).  All 0 in incompressible
// flow.
//   NY, k, NX, mach, gamma, s2 [in]; m [out]
double FaceMachNumbers(const int& NY, const int& k, const int& NX, const double& mach,
                       const double& gamma, const double& s2, GridArray& m) {
    const double ainf2 = mach > 0.0 ? 1.0 / (mach * mach) : 0.0;
    const double h = 0.5 * (gamma - 1.0);
    double largest = 0.0;
    auto take = [&](int i, int j, double q2) {
        double v = 0.0;
        if (mach > 0.0) {
            const double a2 = ainf2 + h * (1.0 - q2 - s2);
            v = a2 > 0.0 ? std::sqrt(std::fmax(q2, 0.0) / a2) : HUGE_VAL;
        }
        m(i, j) = v;
        largest = std::fmax(largest, v);
    };
    for (int i = 0; i <= NX - 1; ++i) {
        double U, V, u, v, q2;
        FaceVelocity(i, k, NX, 0.0, U, V, u, v, q2);
        take(i, 1, q2);
    }
    for (int j = 2; j <= NY - 1; ++j) {
        for (int i = 0; i <= NX - 1; ++i) {
            const double pXi = phi(i + 1, j) - phi(i, j);
            const double pEta =
                0.25 * (phi(i, j + 1) + phi(i + 1, j + 1) - phi(i, j - 1) - phi(i + 1, j - 1));
            take(i, j,
                 pXi * (g11i(i, j) * pXi + g12i(i, j) * pEta) +
                     pEta * (g12i(i, j) * pXi + g22i(i, j) * pEta));
        }
    }
    return largest;
}

// The Mach number every face may reach after a correction, from the
// largest one before it and the rise allowed per step.
//   largestBefore, rise [in]
double MachAllowed(const double& largestBefore, const double& rise) {
    return std::fmax(std::fmin(largestBefore, kMachCap), kMachFree) + rise;
}

// Whether the potential as it stands keeps the limit: every face at most
// at allowed or at its own Mach number before (faceMachBefore).
//   NY, k, NX, mach, gamma, s2, allowed [in]
bool MachLimitKept(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& s2, const double& allowed) {
    if (FaceMachNumbers(NY, k, NX, mach, gamma, s2, faceMach) <= allowed) return true;
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i)
            if (!(faceMach(i, j) <= std::fmax(allowed, faceMachBefore(i, j)))) return false;
    return true;
}

}  // namespace

namespace {

GridArray gammaColumn;    // column of the circulation change in the Newton matrix
GridArray gammaResponse;  // its solution with the circulation held

// Restarted GMRES for A x = b (x in sol, work in gmr, gmz, gmw): at most
// `cycles` cycles, until the largest residual is at most tau.  With warm,
// sol holds a start value on entry; otherwise the solve starts from 0.
// With inexact, each cycle stops once its own residual has fallen by the
// share that the largest residual still has to fall, and the basis is
// built without the rescaling product.
//   b [in]; sol [in,out]; tau, cycles, m, warm, inexact [in]
void SolveLinear(const int& NY, const int& k, const int& NX, const GridArray& b, GridArray& sol,
                 const double tau, const int& cycles, const int& m, const bool warm = false,
                 const bool inexact = false) {
    if (warm) {
        ApplyOperator(NY, k, NX, sol, gmw);
        for (int j = 1; j <= NY; ++j) {
            const int o = GridArray::at(0, j);
            for (int i = 0; i <= NX; ++i) gmr.data()[o + i] = b.data()[o + i] - gmw.data()[o + i];
        }
    } else {
        for (int j = 1; j <= NY; ++j) {
            const int o = GridArray::at(0, j);
            std::memcpy(gmr.data() + o, b.data() + o, sizeof(double) * (NX + 1));
            std::memset(sol.data() + o, 0, sizeof(double) * (NX + 1));
        }
    }
    double left = inexact || warm ? MaxAbsUnknowns(NY, k, NX, gmr) : 0.0;
    if (warm && left <= tau) return;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        ApplyPreconditioner(NY, k, NX, gmr, gmz);
        const double target = inexact && left > 0.0 ? 0.5 * tau / left : 0.0;
        linearIterations += GmresCycle(NY, k, NX, m, gmz, target, !inexact);
        ApplyOperator(NY, k, NX, gmz, gmw);
        for (int j = 1; j <= NY - 1; ++j) {
            const int o = GridArray::at(0, j);
            double* c = sol.data() + o;
            double* r = gmr.data() + o;
            const double* z = gmz.data() + o;
            const double* w = gmw.data() + o;
            for (int i = 1; i <= NX - 1; ++i) {
                c[i] += z[i];
                r[i] -= w[i];
            }
        }
        left = MaxAbsUnknowns(NY, k, NX, gmr);
        if (left <= tau) break;
    }
}

}  // namespace

namespace {

// The correction for the Newton residual sp0 (see GmresDriver).  tau is the
// largest linear residual the solve of the held-circulation system may
// leave; with inexact the solves stop inside their cycles.  The
// circulation response starts from gammaResponse when keepResponse says it
// belongs to the system before (same grid).  With accurateResponse the
// circulation response is solved as far as the whole correction needs to
// meet tau (the exact matrix), else to a fixed relative accuracy.
void SolveCorrection(const int& NY, const int& k, const int& NX, const double tau,
                     const int& cycles, const int& m, const bool inexact, const bool keepResponse,
                     const bool accurateResponse = false) {
    // The circulation Gamma = phi(NX-k, 1) - phi(k, 1) couples every node
    // to the trailing edge, and the error of a wrong circulation is a
    // smooth field whose residual restarted GMRES does not reduce at all.
    // The correction is therefore split: x = y - g h + g s, where s is 1 on
    // the second-side cut nodes (the jump), y solves the system with the
    // circulation held, h solves it for the column c that a unit change
    // of circulation adds, and the scalar g follows from the definition of
    // the circulation, g = y(NX-k) - y(k) - g (h(NX-k) - h(k)).
    linearIterations = 0;
    FreezeCirculation(true);
    SolveLinear(NY, k, NX, sp0, corr, tau, cycles, m, false, inexact);

    // c = (A without the circulation column) s - adg.
    for (int j = 1; j <= NY; ++j) {
        std::memset(gmw.data() + GridArray::at(0, j), 0, sizeof(double) * (NX + 1));
    }
    for (int i = NX - k + 1; i <= NX - 1; ++i) gmw(i, 1) = 1.0;
    ApplyOperator(NY, k, NX, gmw, gammaColumn);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gammaColumn(i, j) -= adg(i, j);
    for (int i = NX - k + 1; i <= NX - 1; ++i) gammaColumn(i, 1) = 0.0;
    // h is solved to the relative accuracy asked of y (at least 1e-3).
    // The matrix changes little from one Newton step to the next, nor
    // does h: the inexact solve, and the solve of a step with the exact
    // matrix, start from the h of the step before on the same grid.
    const double cMax = MaxAbsUnknowns(NY, k, NX, gammaColumn);
    const double rMax = MaxAbsUnknowns(NY, k, NX, sp0);
    const double relative = rMax > 0.0 ? std::fmin(1.0e-3, tau / rMax) : 1.0e-3;
    const int hCycles = cycles < 3 || accurateResponse ? cycles : 3;
    double hTol = relative * cMax;
    if (accurateResponse) {
        // The error of h enters the correction times the change of
        // circulation g, about dy: with the exact matrix the whole
        // correction must meet tau, or the circulation, and with it the
        // lift, converges only linearly (at the share of h's error).
        const double dy = std::fabs(Circulation(corr, NX, k));
        if (dy > 0.0) hTol = std::fmin(hTol, 0.5 * tau / dy);
    }
    SolveLinear(NY, k, NX, gammaColumn, gammaResponse, hTol, hCycles, m, keepResponse, inexact);
    FreezeCirculation(false);

    const double dy = Circulation(corr, NX, k);
    const double dh = Circulation(gammaResponse, NX, k);
    const double g = std::fabs(1.0 + dh) > 1.0e-12 ? dy / (1.0 + dh) : 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        double* c = corr.data() + GridArray::at(0, j);
        const double* h = gammaResponse.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) c[i] -= g * h[i];
    }
    for (int i = 1; i <= k - 1; ++i) corr(NX - i, 1) = corr(i, 1) + g;
    // The linear residual of the whole system, for the record.
    ApplyOperator(NY, k, NX, corr, gmw);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gmr(i, j) = sp0(i, j) - gmw(i, j);
}

}  // namespace

void GmresDriver(const int& NY, const int& k, const int& NX, const double& linTol,
                 const int& cycles, const int& m) {
    SolveCorrection(NY, k, NX, 0.75 * linTol, cycles, m, false, false);
}

void InexactDriver(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
                   const int& m, const bool& keepResponse) {
    SolveCorrection(NY, k, NX, tau, cycles, m, true, keepResponse);
}

namespace {

// Factors and Krylov storage of the incomplete-factorisation solve, kept
// from step to step so that their storage is reused.
struct IluSolver {
    FlowOrderedIlu ilu;
    FgmresWorkspace work;
    std::vector<double> b, x;
    GridArray v, av;  // grid images of a Krylov vector and its product
};
IluSolver iluSolver;

}  // namespace

void BuildIluFactors(const int& NY, const int& k, const int& NX, const int& fill,
                     const int& gridLevels, const bool& complete) {
    iluSolver.ilu.Build(NY, k, NX, fill, gridLevels, complete);
}

void IluDriver(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
               const int& m, const int& fill, const int& gridLevels, const bool& factorsBuilt,
               const bool& complete) {
    IluSolver& s = iluSolver;
    if (!factorsBuilt) s.ilu.Build(NY, k, NX, fill, gridLevels, complete);
    const int n = s.ilu.size();
    s.b.assign(n, 0.0);
    s.x.assign(n, 0.0);
    s.ilu.Gather(sp0, s.b.data());
    const FlowOrderedIlu& ilu = s.ilu;
    // Each cycle stops once its residual has fallen by the share that the
    // largest residual still has to fall (the 2-norm and the largest entry
    // fall alike once the error is smooth), and the solve ends when the
    // largest residual is at most tau.
    // A cycle that has not reduced the residual by a hundredth has stalled
    // (a system far from a flow, or one the preconditioner does not reach):
    // further cycles would not do better, and the Newton step goes on with
    // what it has, as a step of a weak solve.
    double lastNorm = HUGE_VAL;
    auto target = [&](const double* r, double norm2) {
        double left = 0.0;
        for (int q = 0; q < n; ++q) left = std::fmax(left, std::fabs(r[q]));
        const bool stalled = norm2 > 0.99 * lastNorm;
        lastNorm = norm2;
        return left <= tau || stalled ? -1.0 : 0.5 * norm2 * tau / left;
    };
    // The exact Newton matrix couples some rows beyond the stencil that the
    // factors were copied from (the far-field doublet, the overhang of the
    // upwind terms): the product then goes through the grid operator, which
    // holds them, and the factors precondition the stencil part.
    const bool beyondStencil = extraCouplings.count > 0 || extraCouplings.moment;
    auto multiply = [&](const double* x, double* y) {
        if (!beyondStencil) {
            ilu.Multiply(x, y);
            return;
        }
        ilu.Scatter(x, s.v);
        ApplyOperator(NY, k, NX, s.v, s.av);
        ilu.Gather(s.av, y);
    };
    linearIterations = Fgmres(
        n, m, cycles, multiply, [&](const double* v, double* z, int) { ilu.Precondition(v, z); },
        target, s.b.data(), s.x.data(), s.work);
    s.ilu.Scatter(s.x.data(), corr);
    // The linear residual of the whole system, for the record.
    ApplyOperator(NY, k, NX, corr, gmw);
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) gmr(i, j) = sp0(i, j) - gmw(i, j);
}

double LastLinearReduction() {
    return linearReduction;
}
double LastLargestCorrection() {
    return largestCorrection;
}
double LastKeptFraction() {
    return keptFraction;
}
int LastLinearIterations() {
    return linearIterations;
}
void SetNewtonStepObserver(std::function<void()> observer) {
    stepObserver = std::move(observer);
}

void NewtonStep(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
                const double& diagFactor, const double& linTol, const int& cycles, const int& m,
                const int& designFlag, const int& firstOnly, const int& L, const int& ITR,
                double& RES, double& CD, double& CL, const double& cu, const double& su,
                const double& liftRef, const double& s2, char* lineBuffer) {
    NewtonStep(NY, k, NX, mach, gamma, diagFactor, linTol, cycles, m, designFlag, firstOnly, L, ITR,
               RES, CD, CL, cu, su, liftRef, s2, lineBuffer, NewtonOptions{});
}

void NewtonStep(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
                const double& diagFactor, const double& linTol, const int& cycles, const int& m,
                const int& designFlag, const int& firstOnly, const int& L, const int& ITR,
                double& RES, double& CD, double& CL, const double& cu, const double& su,
                const double& liftRef, const double& s2, char* lineBuffer,
                const NewtonOptions& options) {
    // 1. Scaled Newton system and preconditioner, and 2. the largest
    //    residual; a step that made things worse is taken back in part.
    // Only the step that directly follows the last one on the same grid may
    // take that step back.
    const bool sameLevel = ITR == lastItr + 1 && NX == lastNX && NY == lastNY && k == lastK;
    if (!sameLevel) {
        haveBefore = false;
        travelling = false;
    }
    int resI = 1, resJ = 1;
    {
        msg::ConsoleHold hold(haveBefore);
        double norm = 0.0;
        std::exception_ptr failure;
        auto assemble = [&]() {
            BuildSystem(NY, k, NX, mach, gamma, diagFactor, s2, designFlag, firstOnly, L);
            LargestEntry(NY, NX, sp0, RES, resI, resJ);
            norm = NormUnknowns(NY, k, NX, sp0);
        };
        auto tryFraction = [&](double factor) -> bool {
            for (int j = 1; j <= NY - 1; ++j) {
                const double* b = phiBefore.data() + GridArray::at(0, j);
                const double* c = corr.data() + GridArray::at(0, j);
                double* p = phi.data() + GridArray::at(0, j);
                for (int i = 1; i <= NX - 1; ++i) p[i] = b[i] + factor * c[i];
            }
            FarFieldValues(k, NX, NY, cu, su);
            try {
                assemble();
            } catch (const SolverError&) {
                failure = std::current_exception();
                return false;
            }
            return std::isfinite(norm);
        };
        try {
            assemble();
        } catch (const SolverError&) {
            if (!haveBefore) throw;
            failure = std::current_exception();
        }
        if (haveBefore) {
            for (int j = 1; j <= NY - 1; ++j) {
                const int o = GridArray::at(0, j);
                std::memcpy(phiEntry.data() + o, phi.data() + o, sizeof(double) * (NX + 1));
            }
            double reference = 0.0;
            for (double n : acceptedNorm) reference = std::fmax(reference, n);
            const bool creep =
                travelling || cutSteps >= (options.startLevel ? kCreepStepsStart : kCreepSteps);
            const double bound = (creep ? kGrowth : 1.0) * reference;
            bool ok = !failure && norm <= bound;
            // corr still holds the correction of the last step.
            double factor = 1.0, bestFactor = failure ? -1.0 : 1.0;
            double bestNorm = failure ? HUGE_VAL : norm;
            const double fullNorm = bestNorm;
            for (int h = 1; !ok && h <= kHalvings; ++h) {
                hold.drop();
                factor *= 0.5;
                const bool built = tryFraction(factor);
                if (built && norm < bestNorm) {
                    bestNorm = norm;
                    bestFactor = factor;
                }
                ok = built && norm <= bound;
            }
            // No fraction brings the norm down: with its approximate matrix
            // the correction need not be a direction of descent (a shock
            // moving across a cell), and small fractions of it would only
            // stall the iteration.  The whole correction stays unless it
            // has made the norm grow beyond kBlowUp times the reference.
            if (!ok && fullNorm <= kBlowUp * reference) bestFactor = 1.0;
            keptFraction = ok ? factor : bestFactor;
            if (!ok) {
                // No fraction was acceptable: go on from the best one that
                // could be built, or report the failure of the full step.
                if (bestFactor < 0.0) {
                    // The potential the step was given stays.
                    for (int j = 1; j <= NY - 1; ++j) {
                        const int o = GridArray::at(0, j);
                        std::memcpy(phi.data() + o, phiEntry.data() + o, sizeof(double) * (NX + 1));
                    }
                    FarFieldValues(k, NX, NY, cu, su);
                    std::rethrow_exception(failure);
                }
                if (bestFactor != factor) {
                    hold.drop();
                    if (bestFactor == 1.0) {
                        // The potential the step was given.
                        for (int j = 1; j <= NY - 1; ++j) {
                            const int o = GridArray::at(0, j);
                            std::memcpy(phi.data() + o, phiEntry.data() + o,
                                        sizeof(double) * (NX + 1));
                        }
                        FarFieldValues(k, NX, NY, cu, su);
                        assemble();
                    } else {
                        tryFraction(bestFactor);
                    }
                }
            }
        } else {
            for (double& n : acceptedNorm) n = 0.0;
            keptFraction = 1.0;
        }
        cutSteps = keptFraction < 1.0 ? cutSteps + 1 : 0;
        for (int w = kWindow - 1; w > 0; --w) acceptedNorm[w] = acceptedNorm[w - 1];
        acceptedNorm[0] = norm;
    }

    // 3. Correction.  Near the solution the matrix is the exact derivative
    //    of the residual, so that the iteration converges quadratically
    //    instead of at the rate the approximate matrix leaves (some 0.8 per
    //    step on the fine grid of a transonic case).
    const bool exact = std::fabs(RES) <= options.exactBelow;
    // Newton's method can cycle on a kink of the residual: near the top of
    // a supersonic region faces switch their upwind density and shock-point
    // correction on and off, the residual is continuous there but not
    // differentiable, and a derivative by differences 1e-7 wide takes one
    // side of the kink (NACA 0012 at M 0.75 and 4 degrees on 256 x 41 ran
    // to its 50 steps at the residual 4e-6, the lift going back and forth
    // by 1e-3).  Once the residual has not reached a new low of the level
    // for kKinkSteps steps, the matrix is formed with differences
    // kKinkStep wide, which span the kink: that case then converges to
    // 1.51422, and -4 degrees to -1.51425.
    if (!sameLevel || std::fabs(RES) < lowestRes) {
        lowestRes = std::fabs(RES);
        stepsSinceLowest = 0;
    } else {
        ++stepsSinceLowest;
    }
    const double differenceStep = stepsSinceLowest >= kKinkSteps ? kKinkStep : 1.0e-7;
    const bool direct =
        options.method == LinearMethod::Direct && UnknownCount(NY, k, NX) >= options.directFrom;
    const bool iluMethod = options.method == LinearMethod::Ilu ||
                           options.method == LinearMethod::Multilevel ||
                           options.method == LinearMethod::Direct;
    const int iluLevels = options.method == LinearMethod::Ilu ? 1 : options.gridLevels;
    const bool keepFactors = direct && exact && sameLevel && !fellBack &&
                             iluSolver.ilu.complete() && linearIterations <= kReuseIterations;
    // The incomplete factors are those of the approximate rows, whose
    // diagonal dominance suits an incomplete factorisation: factors of the
    // exact rows stall the solve near a shock.  The complete factors are
    // those of the approximate rows too: on 496 x 97 at M 0.8 they
    // precondition the exact matrix in 4 to 7 iterations, where complete
    // factors of the exact rows' stencil took 60 to 180 (that stencil,
    // without the couplings beyond it, appears to be nearly singular).
    // A chord step that raised the largest residual ends chord steps on
    // this level: near a shock the exact matrix can be nearly singular in
    // the direction of the circulation, and the held rows of a state only
    // a little different then return a large correction for a tiny
    // residual (NACA 0012 at M 0.8 on 496 x 77 ran a cycle of four steps,
    // the residual 1e-9 after each fresh matrix and 1e-6 after each chord
    // step, until the level's 50 steps were used up).
    if (!sameLevel) chordsFailed = false;
    if (heldRows.valid && heldRows.chordStep && heldRows.itr == ITR - 1 &&
        std::fabs(RES) > heldRows.res)
        chordsFailed = true;
    const bool chord = exact && sameLevel && !chordsFailed && keptFraction == 1.0 &&
                       heldRows.valid && heldRows.NX == NX && heldRows.NY == NY &&
                       heldRows.k == k && heldRows.itr == ITR - 1 &&
                       std::fabs(RES) <= options.chordRate * heldRows.res && [&] {
                           FacePattern(NY, NX, facePatternNow);
                           return facePatternNow == heldRows.faces;
                       }();
    fellBack = false;
    if (exact && iluMethod && !chord && !keepFactors)
        BuildIluFactors(NY, k, NX, options.fill, iluLevels, direct);
    // A solve that leaves more than kFallbackShare times its tolerance is
    // repeated with a wider Krylov space, then on the fine grid alone; for
    // the latter, with the exact matrix, the factors are built anew from the
    // approximate rows and the exact rows put back.
    auto fallBackIfStalled = [&](double tau, bool exactRows) {
        auto stalled = [&]() { return MaxAbsUnknowns(NY, k, NX, gmr) > kFallbackShare * tau; };
        if (!stalled()) return;
        int total = linearIterations;
        const int wide = kFallbackDimension * m;
        IluDriver(NY, k, NX, tau, cycles, wide, options.fill, iluLevels, true);
        total += linearIterations;
        if (iluLevels > 1 && stalled()) {
            if (exactRows) {
                BuildSystem(NY, k, NX, mach, gamma, diagFactor, s2, designFlag, firstOnly, L);
                BuildIluFactors(NY, k, NX, options.fill, 1);
                RestoreExactRows(NY, NX, ITR, std::fabs(RES));
                heldRows.chordStep = chord;
            }
            IluDriver(NY, k, NX, tau, cycles, wide, options.fill, 1, exactRows);
            total += linearIterations;
        }
        linearIterations = total;
        fellBack = true;
    };
    if (chord) {
        RestoreExactRows(NY, NX, ITR, std::fabs(RES));
    } else if (exact) {
        ExactRows(NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L, differenceStep);
        HoldExactRows(NY, k, NX, ITR, std::fabs(RES));
    } else {
        heldRows.valid = false;
    }
    if (exact) {
        // Newton's rate needs a solve that reduces the residual by a fixed
        // share at least.  The circulation is the weak mode of the system
        // (a small residual can hide a sizeable error of the circulation,
        // and with it of the lift), so the solve also goes down to the
        // linear tolerance of the run, as in the line method: a looser
        // solve (a share of the residual only) leaves the circulation
        // creeping on the middle level of the transonic sample for its 50
        // steps.  A solve need not go below a thousandth of the residual,
        // though: while a shock settles, a Newton step gains a factor of
        // two or three at most, and the last thousandth cost most of the
        // Krylov iterations (NACA 0012 at M 0.8 on 496 x 77: 150 per step
        // and 26 s to the residual 1e-7, against 90 and 14.5 s with the
        // floor, the same steps and lift).  A looser run tolerance ends the
        // level sooner but does not loosen these solves: with the linear
        // tolerance of the run 1e-5 they stopped at a hundredth of the
        // residual while the shock settled, the circulation converged by a
        // constant factor per step, and NACA 0012 at M 0.8 took 33
        // fine-level steps and 52 s on 496 x 97 (15 and 20 s at 1e-7) and
        // ended 0.05 per cent below the lift of 1e-7 on 496 x 77.
        lastForcingRes = 0.0;
        const double capped = linTol > 2.0 * kExactLinearTolerance ? kExactLinearTolerance : linTol;
        const double tau = std::fmax(std::fmin(kExactForcing * std::fabs(RES), 0.75 * capped),
                                     options.exactSolveFloor * std::fabs(RES));
        if (iluMethod) {
            // The incomplete factors hold the circulation column exactly,
            // so the same tolerance reaches the circulation too.
            IluDriver(NY, k, NX, tau, cycles, m, options.fill, iluLevels, true);
            fallBackIfStalled(tau, true);
        } else {
            SolveCorrection(NY, k, NX, tau, cycles, m, options.method == LinearMethod::Inexact,
                            sameLevel, true);
        }
    } else if (options.method != LinearMethod::Line) {
        // Forcing term of the inexact Newton iteration (Eisenstat and
        // Walker, choice 2): far from the solution a rough correction is as
        // good as an exact one, near it the solve tightens with the square
        // of the residual's fall, so the iteration keeps Newton's rate.
        // A twentieth of the tolerance of the run bounds it from below: a
        // bound at the tolerance itself (as in the line method) lets a
        // step near the end do nothing, and the lift then looks settled
        // when it is not.
        double eta = kForcingStart;
        if (sameLevel && lastForcingRes > 0.0) {
            const double ratio = std::fabs(RES) / lastForcingRes;
            eta = kForcingGamma * ratio * ratio;
            const double kept = kForcingGamma * lastEta * lastEta;
            if (kept > 0.1) eta = std::fmax(eta, kept);
        }
        eta =
            std::fmin(eta, options.method == LinearMethod::Inexact ? kForcingMax : kForcingMaxIlu);
        lastEta = eta;
        lastForcingRes = std::fabs(RES);
        const double tau = std::fmax(eta * std::fabs(RES), 0.05 * linTol);
        if (options.method == LinearMethod::Ilu) {
            IluDriver(NY, k, NX, tau, cycles, m, options.fill, 1);
            fallBackIfStalled(tau, false);
        } else if (options.method == LinearMethod::Multilevel ||
                   options.method == LinearMethod::Direct) {
            IluDriver(NY, k, NX, tau, cycles, m, options.fill, options.gridLevels, false, direct);
            fallBackIfStalled(tau, false);
        } else {
            InexactDriver(NY, k, NX, tau, cycles, m, sameLevel);
        }
    } else {
        lastForcingRes = 0.0;
        GmresDriver(NY, k, NX, linTol, cycles, m);
    }
    // RES is the largest entry of sp0 (0 on the second-side cut nodes).
    linearReduction = RES != 0.0 ? MaxAbsUnknowns(NY, k, NX, gmr) / std::fabs(RES) : 0.0;

    // 4. Largest correction; a correction that would make the potential
    //    infinite or not a number ends the calculation before phi is
    //    touched, so the potential of the previous step survives.
    double cor = 0.0;
    int corI = 1, corJ = 1;
    LargestEntry(NY, NX, corr, cor, corI, corJ);
    largestCorrection = std::fabs(cor);
    for (int j = 1; j <= NY - 1; ++j) {
        const double* c = corr.data() + GridArray::at(0, j);
        const double* p = phi.data() + GridArray::at(0, j);
        const double* r = sp0.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) {
            // A residual that is not a number (a poisoned metric or flow
            // array) leaves a solve that need not pass the NaN on: the
            // ilu methods can return a finite correction of the rest.
            if (!std::isfinite(p[i] + c[i]) || !std::isfinite(r[i])) {
                throw SolverError(
                    "Newton step " + std::to_string(ITR) + " on the " + std::to_string(NX) + " x " +
                    std::to_string(NY) +
                    " grid produced a potential or a residual that is infinite or not a "
                    "number at node (" +
                    std::to_string(i) + ", " + std::to_string(j) +
                    "); the calculation was stopped and the potential of the "
                    "previous step kept.");
            }
        }
    }
    auto update = [&](double factor) {
        for (int j = 1; j <= NY - 1; ++j) {
            const double* c = corr.data() + GridArray::at(0, j);
            const double* b = phiBefore.data() + GridArray::at(0, j);
            double* p = phi.data() + GridArray::at(0, j);
            for (int i = 1; i <= NX - 1; ++i) p[i] = b[i] + factor * c[i];
        }
    };
    for (int j = 1; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        std::memcpy(phiBefore.data() + o, phi.data() + o, sizeof(double) * (NX + 1));
    }
    // The correction, cut back where it would accelerate the flow beyond
    // the limit on the growth of the supersonic regions.
    machFraction = 1.0;
    const double machAllowed =
        MachAllowed(FaceMachNumbers(NY, k, NX, mach, gamma, s2, faceMachBefore),
                    travelling ? kMachRiseStart : kMachRise);
    for (int h = 0; mach > 0.0; ++h) {
        update(machFraction);
        FarFieldValues(k, NX, NY, cu, su);
        if (h == kMachHalvings || MachLimitKept(NY, k, NX, mach, gamma, s2, machAllowed)) break;
        machFraction *= 0.5;
    }
    if (options.startLevel && ITR <= kTravelSteps && machFraction < 1.0) travelling = true;
    if (machFraction < 1.0) {
        for (int j = 1; j <= NY - 1; ++j) {
            double* c = corr.data() + GridArray::at(0, j);
            for (int i = 1; i <= NX - 1; ++i) c[i] *= machFraction;
        }
        LargestEntry(NY, NX, corr, cor, corI, corJ);
        largestCorrection = std::fabs(cor);
    }
    update(1.0);
    haveBefore = true;
    lastItr = ITR;
    lastNX = NX;
    lastNY = NY;
    lastK = k;

    // 5. Far-field values with the new circulation.
    FarFieldValues(k, NX, NY, cu, su);

    // 6. Grid sizes at the first step of a level.
    if (ITR == 1) msg::console(ff::format("(7h  Grid:,i3,3h x ,i3)", {NX, NY}));

    // 7. Surface results and the iteration line.
    double last1, last2;
    if (designFlag == 0) {
        CD = 0.0;
        CL = 0.0;
        double cpStar = 0.0;
        SurfaceResults(NY, k, NX, mach, gamma, CD, CL, cu, su, liftRef, s2, cpStar);
        last1 = CL;
        last2 = CD;
    } else {
        // Design: the largest transpiration velocity (normalised by the
        // face metric) and the largest transpiration angle.
        double vmax = 0.0, amax = 0.0;
        for (int i = k; i <= NX - k; ++i) {
            const double g = i > NX / 2 ? g22i(i - 1, 1) : g22i(i, 1);
            const double v = std::fabs(vfx(i) / std::sqrt(g));
            if (v >= vmax) vmax = v;
            const double a = std::fabs(vdu(i));
            if (a >= amax) amax = a;
        }
        last1 = vmax;
        last2 = amax;
    }
    std::string line = ff::format("(2x,i2.2,2(2x,e11.4,2x,i3.3,2x,i3.3),2f10.5)",
                                  {ITR, cor, corI, corJ, RES, resI, resJ, last1, last2});
    if (line.size() > 80) line.resize(80);
    const size_t end = line.find_last_not_of(' ');
    line.resize(end == std::string::npos ? 0 : end + 1);
    msg::console(line);
    std::memcpy(lineBuffer, line.data(), line.size());
    lineBuffer[line.size()] = '\0';

    // 8. Residual of line 1 for the record.
    for (int i = 0; i <= NX; ++i) sp1(i) = sp0(i, 1);
    if (stepObserver) stepObserver();
}

}  // namespace quarel
