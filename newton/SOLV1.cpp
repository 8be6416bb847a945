// The Newton iteration of the full-potential equation: each step judges
// the last update, chooses the matrix, solves for the correction, limits
// and applies it, and reports.
#include "SOLV1.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "CDEF1.h"
#include "SRV11.h"
#include "fixedformat.h"
#include "held_rows.h"
#include "line_solve.h"
#include "linear_method.h"
#include "mach_limit.h"
#include "message.h"
#include "operator.h"
#include "state.h"
#include "zeroed.h"

namespace quarel {

namespace {

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

// Wider differences for the exact matrix where the iteration cycles on a
// kink (see NewtonSolver::Impl::chooseMatrix): the steps without a new
// lowest residual that start it, and the difference step.
constexpr int kKinkSteps = 3;
constexpr double kKinkStep = 1.0e-5;
constexpr double kDifferenceStep = 1.0e-7;
// Share of the residual that the linear solve may leave with the exact
// matrix.
constexpr double kExactForcing = 1.0e-2;

// Fixed lift: the difference step in alphaN (radians) of the column of the
// system and of the lift's derivative, the share of the column's largest
// entry the second solve may leave, the largest change of alphaN in one step
// (2 degrees), and the largest change of the surface potential along which
// the lift's derivative is differenced.
constexpr double kAlphaStep = 1.0e-5;
constexpr double kColumnForcing = 1.0e-2;
constexpr double kMaxAlphaStep = 0.035;
constexpr double kLiftProbe = 1.0e-6;

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

// to = from on lines 1 .. NY-1, i = 0 .. NX.
void CopyLines(const int& NY, const int& NX, const GridArray& from, GridArray& to) {
    for (int j = 1; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        std::memcpy(to.data() + o, from.data() + o, sizeof(double) * (NX + 1));
    }
}

}  // namespace

struct NewtonSolver::Impl {
    NewtonOptions options;
    NewtonProblem p;
    bool startLevel = false;
    int itr = 0;            // steps begun on this level
    bool lastDone = false;  // the step before completed: phiBefore and corr are its
    // Step control.
    double acceptedNorm[kWindow] = {};  // residual norms of the last accepted steps, newest first
    int cutSteps = 0;                   // steps in a row that cut back their predecessor
    double keptFraction = 1.0;          // share of the last step's correction this step kept
    Zeroed<GridArray> phiEntry{NewZeroed<GridArray>()};   // potential the step was given
    Zeroed<GridArray> phiBefore{NewZeroed<GridArray>()};  // potential before the last update
    // Choice of the matrix.
    HeldExactRows held;
    bool chordsFailed = false;  // a chord step of this level raised the residual
    double lowestRes = 0.0;     // the level's lowest residual
    int stepsSinceLowest = 0;
    ExactRowsWorkspace exactWork;
    MachLimit machLimit;
    std::unique_ptr<LinearMethodSolve> linear;
    // Fixed lift: alphaN (in p) before the last update and as the step was
    // given it, the step's change of alphaN, and the column of the system
    // in alphaN (d sp0 / d alphaN) at the potential the step was given.
    double alphaBefore = 0.0, alphaEntry = 0.0, dAlpha = 0.0;
    bool haveColumn = false;
    std::unique_ptr<GridArray> alphaColumn{new GridArray()};
    std::unique_ptr<GridArray> borderWork[3];

    void setAlpha(double a) {
        p.alphaN = a;
        p.cu = p.liftRef * std::cos(a);
        p.su = p.liftRef * std::sin(a);
    }
    // The integrated surface lift of phi as it stands (the surface Cp
    // without the wave drag, which SurfaceResults skips when handed a lift).
    double surfaceLift() const {
        double cd = 0.0, cl = 1.0, cpStar = 0.0;
        SurfaceResults(p.NY, p.k, p.NX, p.mach, p.gamma, cd, cl, p.cu, p.su, p.liftRef, p.s2,
                       p.entropy, cpStar);
        return IntegratedLift(cpf.data(), p.k, p.NX, p.cu, p.su, p.liftRef);
    }
    void liftColumn();
    void borderStep(const StepReport& r, bool sameLevel);

    struct Matrix {
        bool exact = false;  // the exact derivative of the residual
        bool chord = false;  // the exact rows held from the step before
    };

    void buildSystem() {
        // The entropy field of phi, which the face densities take.
        UpdateEntropyField(p.entropy, p.NY, p.k, p.NX, p.mach, p.gamma, p.s2);
        BuildSystem(p.NY, p.k, p.NX, p.mach, p.gamma, p.diagFactor, p.s2, p.designFlag, p.firstOnly,
                    p.L);
        entropyCouplings.clear();
    }
    // What the linear method needs to know of the step.
    LinearStep linearStep(bool sameLevel, double res) const {
        LinearStep step;
        step.NY = p.NY;
        step.k = p.k;
        step.NX = p.NX;
        step.cycles = p.cycles;
        step.m = p.m;
        step.sameLevel = sameLevel;
        step.residual = res;
        step.tol = p.tol;
        return step;
    }
    // phi = phiBefore + factor corr, and the far-field values that go with it.
    void takeFraction(double factor);
    void judgeAndBackTrack(StepReport& r, bool sameLevel);
    Matrix chooseMatrix(const StepReport& r, bool sameLevel);
    void solve(StepReport& r, const Matrix& matrix, bool sameLevel);
    void limitedUpdate(StepReport& r);
    void report(StepReport& r);
};

NewtonSolver::NewtonSolver(const NewtonOptions& options) : impl_(new Impl()) {
    setOptions(options);
}

NewtonSolver::~NewtonSolver() = default;

NewtonSolver::NewtonSolver(const NewtonSolver& other) : NewtonSolver(other.options()) {}

NewtonSolver& NewtonSolver::operator=(const NewtonSolver& other) {
    if (this != &other) setOptions(other.options());
    return *this;
}

void NewtonSolver::setOptions(const NewtonOptions& options) {
    const bool sweep = impl_->linear && impl_->linear->columnSweep();
    impl_->options = options;
    impl_->linear = MakeLinearMethod(options);
    impl_->linear->setColumnSweep(sweep);
    impl_->lastDone = false;
}

const NewtonOptions& NewtonSolver::options() const {
    return impl_->options;
}

void NewtonSolver::setColumnSweep(bool on) {
    impl_->linear->setColumnSweep(on);
}

bool NewtonSolver::columnSweep() const {
    return impl_->linear->columnSweep();
}

void NewtonSolver::beginLevel(const NewtonProblem& problem, bool startLevel) {
    Impl& s = *impl_;
    s.p = problem;
    s.startLevel = startLevel;
    s.itr = 0;
    s.lastDone = false;
    s.machLimit.beginLevel();
    s.linear->beginLevel();
    if (problem.fixedLift) s.setAlpha(problem.alphaN);
}

StepReport NewtonSolver::step() {
    Impl& s = *impl_;
    StepReport r;
    r.step = ++s.itr;
    // Only the step that directly follows a completed one of the same level
    // may take that step back or build on what it kept.
    const bool sameLevel = s.lastDone;
    s.lastDone = false;
    if (!sameLevel) s.machLimit.beginLevel();
    if (s.p.fixedLift) s.liftColumn();
    s.judgeAndBackTrack(r, sameLevel);
    const Impl::Matrix matrix = s.chooseMatrix(r, sameLevel);
    s.solve(r, matrix, sameLevel);
    if (s.p.fixedLift) s.borderStep(r, sameLevel);
    s.limitedUpdate(r);
    s.lastDone = true;
    s.report(r);
    return r;
}

double NewtonSolver::alphaN() const {
    return impl_->p.alphaN;
}

bool NewtonSolver::bordered() const {
    return impl_->linear->canSolveAgain();
}

void NewtonSolver::Impl::takeFraction(double factor) {
    if (p.fixedLift) setAlpha(alphaBefore + factor * dAlpha);
    for (int j = 1; j <= p.NY - 1; ++j) {
        const double* b = phiBefore->data() + GridArray::at(0, j);
        const double* c = corr.data() + GridArray::at(0, j);
        double* q = phi.data() + GridArray::at(0, j);
        for (int i = 1; i <= p.NX - 1; ++i) q[i] = b[i] + factor * c[i];
    }
    FarFieldValues(p.k, p.NX, p.NY, p.cu, p.su);
}

// The scaled Newton system and its largest residual; a step that made
// things worse is taken back in part (see the step control above).
void NewtonSolver::Impl::judgeAndBackTrack(StepReport& r, bool sameLevel) {
    const int NY = p.NY, k = p.k, NX = p.NX;
    msg::ConsoleHold hold(sameLevel);
    double norm = 0.0;
    std::exception_ptr failure;
    auto assemble = [&]() {
        buildSystem();
        LargestEntry(NY, NX, sp0, r.residual, r.resI, r.resJ);
        norm = NormUnknowns(NY, k, NX, sp0);
    };
    auto tryFraction = [&](double factor) -> bool {
        takeFraction(factor);
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
        if (!sameLevel) throw;
        failure = std::current_exception();
    }
    if (sameLevel) {
        CopyLines(NY, NX, phi, *phiEntry);
        alphaEntry = p.alphaN;
        double reference = 0.0;
        for (double n : acceptedNorm) reference = std::fmax(reference, n);
        const bool creep =
            machLimit.travelling() || cutSteps >= (startLevel ? kCreepStepsStart : kCreepSteps);
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
        if (!ok && bestFactor < 0.0) {
            // No fraction could be built: the potential the step was given
            // stays, and the failure of the full step is reported.
            CopyLines(NY, NX, *phiEntry, phi);
            if (p.fixedLift) setAlpha(alphaEntry);
            FarFieldValues(k, NX, NY, p.cu, p.su);
            std::rethrow_exception(failure);
        }
        if (!ok && bestFactor != factor) {
            // Go on from the best fraction that could be built.
            hold.drop();
            if (bestFactor == 1.0) {
                CopyLines(NY, NX, *phiEntry, phi);
                if (p.fixedLift) setAlpha(alphaEntry);
                FarFieldValues(k, NX, NY, p.cu, p.su);
                assemble();
            } else {
                tryFraction(bestFactor);
            }
        }
    } else {
        for (double& n : acceptedNorm) n = 0.0;
        keptFraction = 1.0;
    }
    cutSteps = keptFraction < 1.0 ? cutSteps + 1 : 0;
    for (int w = kWindow - 1; w > 0; --w) acceptedNorm[w] = acceptedNorm[w - 1];
    acceptedNorm[0] = norm;
    r.keptFraction = keptFraction;
}

// Near the solution the matrix is the exact derivative of the residual, so
// that the iteration converges quadratically instead of at the rate the
// approximate matrix leaves (some 0.8 per step on the fine grid of a
// transonic case); held from the step before when it still fits.
NewtonSolver::Impl::Matrix NewtonSolver::Impl::chooseMatrix(const StepReport& r, bool sameLevel) {
    const double res = std::fabs(r.residual);
    Matrix m;
    m.exact = res <= options.exactBelow;
    // Newton's method can cycle on a kink of the residual: near the top of
    // a supersonic region faces switch their upwind density and shock-point
    // correction on and off, the residual is continuous there but not
    // differentiable, and the derivative takes one side of the kink (NACA
    // 0012 at M 0.75 and 4 degrees on 256 x 41 ran to its 50 steps at the
    // residual 4e-6 without them).  Once the residual has not reached a new
    // low of the level for kKinkSteps steps, the matrix is formed with
    // differences kKinkStep wide, which span the kink.
    if (!sameLevel || res < lowestRes) {
        lowestRes = res;
        stepsSinceLowest = 0;
    } else {
        ++stepsSinceLowest;
    }
    const double differenceStep = stepsSinceLowest >= kKinkSteps ? kKinkStep : kDifferenceStep;
    // A chord step that raised the largest residual ends chord steps on
    // this level: near a shock the exact matrix can be nearly singular in
    // the direction of the circulation, and the held rows of a state only
    // a little different then return a large correction for a tiny
    // residual (NACA 0012 at M 0.8 on 496 x 77 ran a cycle of four steps,
    // the residual 1e-9 after each fresh matrix and 1e-6 after each chord
    // step, until the level's 50 steps were used up).
    if (!sameLevel) chordsFailed = false;
    if (held.chordRaised(itr, res)) chordsFailed = true;
    m.chord = m.exact && sameLevel && !chordsFailed && keptFraction == 1.0 &&
              res <= options.chordRate * held.residual() && held.fitFor(p.NY, p.k, p.NX, itr);
    if (m.exact) linear->beforeExactRows(linearStep(sameLevel, res), m.chord);
    if (m.chord) {
        held.restore(p.NY, p.NX, itr, res);
    } else if (m.exact) {
        ExactRows(p.NY, p.k, p.NX, p.mach, p.gamma, p.s2, p.designFlag, p.firstOnly, p.L, exactWork,
                  differenceStep);
        EntropyCouplingRows(p.entropy, p.NY, p.k, p.NX, p.mach, p.gamma, p.s2, p.designFlag,
                            p.firstOnly, p.L);
        held.hold(p.NY, p.k, p.NX, itr, res);
    } else {
        held.drop();
    }
    return m;
}

// The column of the system in alphaN: the angle of attack enters the rows
// only through the far-boundary values, so a central difference of the
// residual is exact to the curvature of the densities there.
void NewtonSolver::Impl::liftColumn() {
    const int NY = p.NY, k = p.k, NX = p.NX;
    for (auto& w : borderWork)
        if (!w) w.reset(new GridArray());
    const double a = p.alphaN;
    haveColumn = false;
    try {
        setAlpha(a + kAlphaStep);
        FarFieldValues(k, NX, NY, p.cu, p.su);
        buildSystem();
        CopyLines(NY, NX, sp0, *alphaColumn);
        setAlpha(a - kAlphaStep);
        FarFieldValues(k, NX, NY, p.cu, p.su);
        buildSystem();
        for (int j = 1; j <= NY - 1; ++j) {
            double* g = alphaColumn->data() + GridArray::at(0, j);
            const double* m = sp0.data() + GridArray::at(0, j);
            for (int i = 0; i <= NX; ++i) g[i] = (g[i] - m[i]) / (2.0 * kAlphaStep);
        }
        haveColumn = true;
    } catch (const SolverError&) {
        // The step's own build says what is wrong; this step keeps alphaN.
    }
    setAlpha(a);
    FarFieldValues(k, NX, NY, p.cu, p.su);
}

// Block elimination of the bordered system
//   [ A      -g     ] [dphi]   [ sp0           ]
//   [ dL/dphi dL/da ] [ da ] = [ target - Clift ]
// with g = d sp0 / d alphaN: corr holds x1 = A^-1 sp0; the second solve
// with the same factors gives x2 = A^-1 g, so that dphi = x1 + x2 da, and
// the lift row gives da.  The lift's derivatives are differences of the
// surface lift (the integrated Cp, a function of the surface potential and
// of the direction of the free stream) along x1, x2 and alphaN.
void NewtonSolver::Impl::borderStep(const StepReport& r, bool sameLevel) {
    const int NY = p.NY, k = p.k, NX = p.NX;
    dAlpha = 0.0;
    if (!haveColumn) return;
    GridArray &x1 = *borderWork[0], &x2 = *borderWork[1], &keep = *borderWork[2];
    CopyLines(NY, NX, corr, x1);
    CopyLines(NY, NX, sp0, keep);
    CopyLines(NY, NX, *alphaColumn, sp0);
    const double gMax = MaxAbsUnknowns(NY, k, NX, sp0);
    const bool solved =
        gMax > 0.0 &&
        linear->solveAgain(linearStep(sameLevel, std::fabs(r.residual)), kColumnForcing * gMax);
    CopyLines(NY, NX, corr, x2);
    CopyLines(NY, NX, keep, sp0);
    CopyLines(NY, NX, x1, corr);
    if (!solved) return;
    const double lift = surfaceLift();
    // The surface Cp does not depend on the direction of the free stream:
    // alphaN only turns the direction in which the pressures are summed.
    const double liftA = IntegratedLift(cpf.data(), k, NX, -p.su, p.cu, p.liftRef);
    // The change of the lift along x (the surface potential moved by at
    // most kLiftProbe).
    auto along = [&](const GridArray& x) {
        const double xMax = MaxAbsUnknowns(NY, k, NX, x);
        if (!(xMax > 0.0)) return 0.0;
        const double eps = kLiftProbe / xMax;
        CopyLines(NY, NX, phi, keep);
        for (int j = 1; j <= NY - 1; ++j) {
            const double* c = x.data() + GridArray::at(0, j);
            double* q = phi.data() + GridArray::at(0, j);
            for (int i = 1; i <= NX - 1; ++i) q[i] += eps * c[i];
        }
        const double moved = surfaceLift();
        CopyLines(NY, NX, keep, phi);
        return (moved - lift) / eps;
    };
    const double lift1 = along(x1), lift2 = along(x2);
    const double slope = liftA + lift2;
    const double d = (p.liftTarget - lift - lift1) / slope;
    if (!std::isfinite(d)) return;
    dAlpha = std::fmax(-kMaxAlphaStep, std::fmin(kMaxAlphaStep, d));
    for (int j = 1; j <= NY - 1; ++j) {
        const double* c = x2.data() + GridArray::at(0, j);
        double* q = corr.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) q[i] += dAlpha * c[i];
    }
    // The surface arrays of the potential as it stands, as before.
    surfaceLift();
}

void NewtonSolver::Impl::solve(StepReport& r, const Matrix& matrix, bool sameLevel) {
    const double res = std::fabs(r.residual);
    const LinearStep step = linearStep(sameLevel, res);
    if (matrix.exact) {
        // Newton's rate needs a solve that reduces the residual by a fixed
        // share at least.  The circulation is the weak mode of the system
        // (a small residual can hide a sizeable error of the circulation,
        // and with it of the lift), so the solve also goes down to the
        // linear tolerance of the run, as in the line method.  A solve need
        // not go below NewtonOptions::exactSolveFloor of the residual,
        // though: while a shock settles, a Newton step gains a factor of
        // two or three at most, and the last thousandth cost most of the
        // Krylov iterations.  A looser run tolerance ends the level sooner
        // but does not loosen these solves (Tolerances::exactSolve): the
        // circulation then converges by a constant factor per step.
        const double tau = std::fmax(std::fmin(kExactForcing * res, p.tol.exactSolve()),
                                     options.exactSolveFloor * res);
        RowsAccess rows;
        rows.approximate = [this]() { buildSystem(); };
        rows.exact = [this, res, &matrix]() {
            held.restore(p.NY, p.NX, itr, res);
            held.setChordStep(matrix.chord);
        };
        linear->solveExact(step, tau, rows);
    } else {
        linear->solveApproximate(step);
    }
    r.linearIterations = linear->iterations();
    // The residual is the largest entry of sp0 (0 on the second-side cut
    // nodes).
    r.linearReduction = r.residual != 0.0 ? MaxAbsUnknowns(p.NY, p.k, p.NX, gmr) / res : 0.0;
}

// The correction, cut back where it would accelerate the flow beyond the
// limit on the growth of the supersonic regions, is added to phi.  A
// correction that would make the potential infinite or not a number ends
// the calculation before phi is touched, so the potential of the previous
// step survives.
void NewtonSolver::Impl::limitedUpdate(StepReport& r) {
    const int NY = p.NY, k = p.k, NX = p.NX;
    LargestEntry(NY, NX, corr, r.correction, r.corI, r.corJ);
    r.largestCorrection = std::fabs(r.correction);
    for (int j = 1; j <= NY - 1; ++j) {
        const double* c = corr.data() + GridArray::at(0, j);
        const double* q = phi.data() + GridArray::at(0, j);
        const double* res = sp0.data() + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) {
            // A residual that is not a number (a poisoned metric or flow
            // array) leaves a solve that need not pass the NaN on: the
            // ilu methods can return a finite correction of the rest.
            if (!std::isfinite(q[i] + c[i]) || !std::isfinite(res[i])) {
                throw SolverError(
                    "Newton step " + std::to_string(itr) + " on the " + std::to_string(NX) + " x " +
                    std::to_string(NY) +
                    " grid produced a potential or a residual that is infinite or not a "
                    "number at node (" +
                    std::to_string(i) + ", " + std::to_string(j) +
                    "); the calculation was stopped and the potential of the "
                    "previous step kept.");
            }
        }
    }
    CopyLines(NY, NX, phi, *phiBefore);
    alphaBefore = p.alphaN;
    double fraction = 1.0;
    const double allowed = machLimit.allowed(NY, k, NX, p.mach, p.gamma, p.s2);
    for (int h = 0; p.mach > 0.0; ++h) {
        takeFraction(fraction);
        if (h == kMachHalvings || machLimit.kept(NY, k, NX, p.mach, p.gamma, p.s2, allowed)) break;
        fraction *= 0.5;
    }
    if (startLevel && itr <= kTravelSteps && fraction < 1.0) machLimit.setTravelling();
    if (fraction < 1.0) {
        for (int j = 1; j <= NY - 1; ++j) {
            double* c = corr.data() + GridArray::at(0, j);
            for (int i = 1; i <= NX - 1; ++i) c[i] *= fraction;
        }
        LargestEntry(NY, NX, corr, r.correction, r.corI, r.corJ);
        r.largestCorrection = std::fabs(r.correction);
    }
    takeFraction(1.0);
}

// The grid sizes at the first step of a level, the surface results and the
// iteration line.
void NewtonSolver::Impl::report(StepReport& r) {
    const int NX = p.NX, k = p.k;
    if (itr == 1) msg::console(ff::format("(7h  Grid:,i3,3h x ,i3)", {NX, p.NY}));
    double last1, last2;
    if (p.designFlag == 0) {
        double cpStar = 0.0;
        SurfaceResults(p.NY, k, NX, p.mach, p.gamma, r.cdrag, r.clift, p.cu, p.su, p.liftRef, p.s2,
                       p.entropy, cpStar);
        last1 = r.clift;
        last2 = r.cdrag;
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
    std::string line =
        ff::format("(2x,i2.2,2(2x,e11.4,2x,i3.3,2x,i3.3),2f10.5)",
                   {itr, r.correction, r.corI, r.corJ, r.residual, r.resI, r.resJ, last1, last2});
    // A lift or drag too wide for its column (after a breakdown) would
    // print as asterisks: exponent form instead, and NaN when it is not a
    // number.
    for (int field = 0; field < 2; ++field) {
        const double v = field == 0 ? last1 : last2;
        const size_t at = 50 + 10 * static_cast<size_t>(field);
        if (line.size() >= at + 10 && line.compare(at, 10, "**********") == 0) {
            char b[32];
            if (std::isfinite(v)) {
                std::snprintf(b, sizeof b, "%10.3E", v);
            } else {
                std::snprintf(b, sizeof b, "%10s", "NaN");
            }
            line.replace(at, 10, b, 10);
        }
    }
    if (line.size() > 80) line.resize(80);
    const size_t end = line.find_last_not_of(' ');
    line.resize(end == std::string::npos ? 0 : end + 1);
    msg::console(line);
    r.line = line;
    // The residual of line 1 for the record.
    for (int i = 0; i <= NX; ++i) sp1(i) = sp0(i, 1);
}

}  // namespace quarel
