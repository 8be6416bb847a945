// The ilu and multilevel methods.
#include "linear_factored.h"

#include <utility>

#include "line_solve.h"

namespace quarel {

namespace {

// The ilu methods' solves are cheap enough to be three times tighter than
// the inexact method's, which saves Newton steps on transonic cases.
constexpr double kForcingMaxIlu = 0.03;

// Fallback of a stalled solve.  Restarted GMRES can stagnate outright:
// near the solution of a transonic case on the finest grids the exact
// matrix, preconditioned by the factors of the approximate one, has a few
// eigenvalues that a Krylov space of the run's dimension does not resolve,
// and every restart begins where the last one left off (on the 496 x 77
// grid of NACA 0012 at M 0.8 each cycle of 30 kept 96 % of the residual).
// Far from the solution, or with a shock that the coarse levels of the
// V-cycle do not resolve, the multilevel preconditioner can stall flexible
// GMRES as well.  A solve that leaves more than kFallbackShare times its
// tolerance is therefore repeated with kFallbackDimension times the
// dimension, and if that stalls too, with the incomplete factors of the
// fine grid alone, which do not depend on the coarse levels.
constexpr double kFallbackShare = 2.0;
constexpr int kFallbackDimension = 4;

}  // namespace

FactoredMethod::FactoredMethod(const NewtonOptions& options)
    : fill_(options.fill),
      levels_(options.method == LinearMethod::Ilu ? 1 : options.gridLevels),
      overlap_(options.threads > 1 ||
               (options.threads == 0 && std::thread::hardware_concurrency() > 1)) {
    ilu_.setThreads(options.threads);
}

FactoredMethod::~FactoredMethod() {
    if (factoring_.joinable()) factoring_.join();
}

void FactoredMethod::factorsMade() {
    if (factoring_.joinable()) factoring_.join();
    if (factorFault_) std::rethrow_exception(std::exchange(factorFault_, nullptr));
}

void FactoredMethod::beforeExactRows(const LinearStep& step, bool chord) {
    factorsMade();
    // The factors are those of the approximate rows, whose diagonal
    // dominance suits an incomplete factorisation: factors of the exact
    // rows stall the solve near a shock.  The complete factors are those
    // of the approximate rows too: on 496 x 97 at M 0.8 they precondition
    // the exact matrix in 4 to 7 iterations, where complete factors of the
    // exact rows' stencil took 60 to 180.
    if (chord || keepFactors(step)) return;
    // The rows are copied now; the factors, which need nothing else, are
    // made on a second thread while the exact rows replace the approximate
    // ones in the arrays (the same operations as on one thread).
    const bool complete = completeFactors(step);
    ilu_.copyRows(step.NY, step.k, step.NX, complete);
    auto factor = [this, complete]() { ilu_.factor(fill_, levels_, complete); };
    if (!overlap_) {
        factor();
        return;
    }
    factoring_ = std::thread([this, factor]() {
        try {
            factor();
        } catch (...) {
            factorFault_ = std::current_exception();
        }
    });
}

void FactoredMethod::solveExact(const LinearStep& s, double tau, const RowsAccess& rows) {
    factorsMade();
    forcing_.reset();
    fellBack_ = false;
    // The factors hold the circulation column exactly, so the same
    // tolerance reaches the circulation too.
    iterations_ = ilu_.solve(s.NY, s.k, s.NX, tau, s.cycles, s.m);
    fallBackIfStalled(s, tau, &rows);
}

void FactoredMethod::solveApproximate(const LinearStep& s) {
    factorsMade();
    fellBack_ = false;
    const double tau = forcing_.tolerance(s, kForcingMaxIlu);
    ilu_.build(s.NY, s.k, s.NX, fill_, levels_, completeFactors(s));
    iterations_ = ilu_.solve(s.NY, s.k, s.NX, tau, s.cycles, s.m);
    fallBackIfStalled(s, tau, nullptr);
}

bool FactoredMethod::solveAgain(const LinearStep& s, double tau) {
    // The factors in hand, whatever built them; no fallback (it would
    // build other factors from rows that have to be formed again).
    iterations_ += ilu_.solve(s.NY, s.k, s.NX, tau, s.cycles, kFallbackDimension * s.m);
    return true;
}

void FactoredMethod::fallBackIfStalled(const LinearStep& s, double tau,
                                       const RowsAccess* exactRows) {
    auto stalled = [&]() { return MaxAbsUnknowns(s.NY, s.k, s.NX, gmr) > kFallbackShare * tau; };
    if (!stalled()) return;
    const int wide = kFallbackDimension * s.m;
    int total = iterations_;
    total += ilu_.solve(s.NY, s.k, s.NX, tau, s.cycles, wide);
    if (levels_ > 1 && stalled()) {
        // The incomplete factors of the fine grid alone, made from the
        // approximate rows; with the exact matrix its rows are put back.
        if (exactRows != nullptr) exactRows->approximate();
        ilu_.build(s.NY, s.k, s.NX, fill_, 1);
        if (exactRows != nullptr) exactRows->exact();
        total += ilu_.solve(s.NY, s.k, s.NX, tau, s.cycles, wide);
    }
    iterations_ = total;
    fellBack_ = true;
}

std::unique_ptr<LinearMethodSolve> MakeFactoredMethod(const NewtonOptions& options) {
    return std::unique_ptr<LinearMethodSolve>(new FactoredMethod(options));
}

}  // namespace quarel
