// The viscous outer iteration of the run driver: boundary layer on the
// converged fine-level potential, transpiration from its relaxed mass
// defect, the fine level solved again, until the mass defect stops
// changing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "RunDriver.h"
#include "ViscousCoupling.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

// A flow the coupling can fall back on: the potential, alpha, the coupling
// and the transpiration as they were.  The transpiration is kept as it was:
// set again from the coupling, it would take the face densities of the last
// (failed) flow, and the flow re-solved on it broke down (NACA 0012 at 10
// degrees printed Cdrag=-2.6E+06).
struct CouplingFlow {
    std::vector<double> phi_, vfx_, vwk_;
    double alphaN;
    ViscousCoupling coupling;
    CouplingFlow(const ViscousCoupling& c, double alpha)
        : phi_(phi.data(), phi.data() + kGridSize),
          vfx_(vfx.data(), vfx.data() + kContourSize),
          vwk_(vwk.data(), vwk.data() + kContourSize),
          alphaN(alpha),
          coupling(c) {}
    void take(const ViscousCoupling& c, double alpha) {
        std::copy(phi.data(), phi.data() + kGridSize, phi_.begin());
        std::copy(vfx.data(), vfx.data() + kContourSize, vfx_.begin());
        std::copy(vwk.data(), vwk.data() + kContourSize, vwk_.begin());
        alphaN = alpha;
        coupling = c;
    }
    // The potential and the coupling back; the transpiration as kept, or
    // none.
    void restore(ViscousCoupling& c, bool withTranspiration) const {
        std::copy(phi_.begin(), phi_.end(), phi.data());
        c = coupling;
        if (withTranspiration) {
            std::copy(vfx_.begin(), vfx_.end(), vfx.data());
            std::copy(vwk_.begin(), vwk_.end(), vwk.data());
        } else {
            for (int i = 0; i < kContourSize; ++i) vfx(i) = vwk(i) = 0.0;
        }
    }
};

// How much of each change of the mass defect the coupling passes on, from
// the history of the lift and of that change, and what is left of the
// lift's change.
class CouplingPace {
public:
    explicit CouplingPace(const ViscousOptions& o) : o_(o) {}
    // After a solve: dl the change of the lift (or of its measure), change
    // the rms change of the mass defect.  Returns the estimate of the lift
    // change still to come.
    double after(double dl, double change, ViscousCoupling& coupling) {
        // The lift converges geometrically: what is left of its change is
        // the last change over (1 - rate), the rate that of the last two.
        double rate = 0.0;
        if (liftChange_ != 0.0) rate = dl / liftChange_;
        // An iteration that alternates (the lift) or stalls (the mass
        // defect, a transition point hopping between two stations) takes
        // less of each change.
        changes_.push_back(change);
        const size_t n = changes_.size();
        const bool stalled = n >= 12 && n - lastDamped_ >= 6 && change > 0.95 * changes_[n - 6];
        // (Lift changes below a tenth of the lift tolerance are noise: at
        // zero incidence they alternated at 1e-7 and damped a converging
        // iteration.)
        const bool noise = std::fabs(dl) < 0.1 * o_.liftTolerance;
        if ((rate < -0.5 && !noise && ++alternations_ >= 3) || stalled) {
            coupling.damp();
            alternations_ = 0;
            lastDamped_ = n;
        } else if (rates_.size() >= 3 && accelerating()) {
            // The lift creeps geometrically (the circulation follows the
            // displacement at the trailing edge slowly under the local
            // interaction law): the change is passed on extrapolated to
            // the limit of the sequence: the share times 1/(1 - rate).
            coupling.accelerate(1.0 / (1.0 - rate));
            rates_.clear();
        } else if (n - lastDamped_ >= 10 && alternations_ == 0 && rate > 0.0) {
            // A damped iteration that has crept along steadily for ten
            // solves takes larger steps again (NACA 0012 at 8 degrees crept
            // at a quarter of each change for over a hundred solves).
            coupling.undamp();
            lastDamped_ = n;
        }
        if (rate < 0.0 || noise)
            rates_.clear();
        else if (liftChange_ != 0.0)
            rates_.push_back(rate);
        liftChange_ = dl;
        return std::fabs(dl) / (1.0 - std::clamp(rate, 0.0, 0.98));
    }

private:
    // Three rates of the lift in a row between 0.5 and 0.98 and within 0.15
    // of each other: a steady geometric approach.
    bool accelerating() const {
        const size_t m = rates_.size();
        double lo = 1.0, hi = 0.0;
        for (size_t i = m - 3; i < m; ++i) {
            lo = std::min(lo, rates_[i]);
            hi = std::max(hi, rates_[i]);
        }
        return lo > 0.5 && hi < 0.98 && hi - lo < 0.15;
    }

    const ViscousOptions& o_;
    double liftChange_ = 0.0;
    int alternations_ = 0;
    std::vector<double> changes_, rates_;
    size_t lastDamped_ = 0;
};

std::string NotConvergedText(int iterations, double change, double tolerance, bool failed,
                             bool stuck) {
    char b[512];
    std::snprintf(b, sizeof b,
                  "The viscous coupling did not converge: after %d boundary-layer solves the "
                  "mass defect still changes by %.2E (converged below %.1E)%s%s. The viscous "
                  "figures are not those of a converged flow.",
                  iterations, change, tolerance,
                  failed ? ", and a boundary-layer station failed" : "",
                  stuck ? ", and the potential flow did not converge with the last change" : "");
    return b;
}

std::string SeparationText(double separated, bool upper) {
    char b[256];
    std::snprintf(b, sizeof b,
                  "The boundary layer separates over %.2f of the chord on the %s surface: "
                  "the viscous result does not describe this flow.",
                  separated, upper ? "upper" : "lower");
    return b;
}

}  // namespace

void RunDriver::coupleBoundaryLayer(const JobParameters& job, const FreeStream& flow,
                                    const ProgressHook& progress, ViscousCoupling& coupling) {
    const ViscousOptions& o = job.viscous;
    double change = 1.0;
    int iterations = 0;
    const double liftInviscid = results_.clift;
    // With a fixed lift the lift stays at its target and alpha moves
    // instead: the coupling follows alpha in lift units (thin-aerofoil
    // slope) where it would follow the lift.
    auto liftMeasure = [&]() {
        return job.fixedLift ? 2.0 * M_PI * flowNow_.alphaN : results_.clift;
    };
    auto setAlpha = [&](double alphaN) {
        if (job.fixedLift) flowNow_.setAlphaNExact(alphaN);
    };
    double lift = liftMeasure();
    bool settled = false;
    double remaining = 0.0;
    CouplingPace pace(o);
    // The fine level is solved to its tolerance after every boundary-layer
    // solve: with only a few Newton steps in between, the transonic cases
    // (RAE 2822 at M 0.729) diverged.  A solve that ends unconverged is
    // kept (on 384 x 65 the shock reached its viscous position over several
    // such solves); one that breaks down or ends with a large residual is
    // taken back and tried with half the change of the mass defect, so that
    // a run that cannot follow the layer ends on the last flow it solved and
    // says so, rather than breaking down.
    // An unconverged solve is also taken back when its lift jumped by more
    // than half or its wave drag passed one: such flows (NACA 0012 at 8
    // degrees, RAE 2822 at M 0.734 on 384 x 65) were wild, not on the way.
    constexpr double kKeptResidual = 1.0e-3, kKeptLiftJump = 0.5;
    std::vector<double> phiKept(static_cast<size_t>(kGridSize));
    auto solve = [&](double before) {
        try {
            iterateLevel(job, flow, progress, true);
        } catch (const SolverError&) {
            return false;
        }
        return status_.converged || (std::fabs(status_.residual) < kKeptResidual &&
                                     std::fabs(results_.clift - before) < kKeptLiftJump &&
                                     std::fabs(results_.cdrag) < 1.0);
    };
    // The last flow whose solve converged, with the coupling that gave it:
    // a run that ends unconverged ends on it, not on a kept unconverged one
    // (before, NACA 0012 at 8 degrees ended with Clift 8.4).
    const CouplingFlow start(coupling, flowNow_.alphaN);
    CouplingFlow good = start;
    int retreats = 0;
    bool stuck = false;
    while (iterations < o.couplingIterations) {
        ++iterations;
        std::copy(phi.data(), phi.data() + kGridSize, phiKept.begin());
        const double liftKept = results_.clift, alphaKept = flowNow_.alphaN;
        change = coupling.update();
        bool solved = solve(liftKept);
        while (!solved) {
            std::copy(phiKept.begin(), phiKept.end(), phi.data());
            setAlpha(alphaKept);
            if (!coupling.retreat()) break;
            ++retreats;
            solved = solve(liftKept);
        }
        if (!solved) {
            // Not even a sixteenth of the change: the flow with the
            // previous mass defect is what is left.
            coupling.revert();
            results_.clift = liftKept;
            stuck = true;
            break;
        }
        // (A layer that asked for more than a fifth of its mass defect again, or
        // failed a station, gave no flow to fall back on.)
        // Nor did a flow with more lift than the inviscid one or a wave
        // drag above one: NACA 0012 at 10 degrees fell back on Clift 1.50
        // (inviscid 1.23) with a wave drag of 5E+51 at M 0.2.
        const bool plausible = std::fabs(results_.clift) < std::fabs(liftInviscid) + 0.02 &&
                               std::fabs(results_.cdrag) < 1.0;
        if (status_.converged && change < 0.2 && !coupling.layer().failed() && plausible)
            good.take(coupling, flowNow_.alphaN);
        const double dl = liftMeasure() - lift;
        remaining = pace.after(dl, change, coupling);
        // An extrapolated step is not a test of convergence: the step after
        // it is.
        settled = change < o.couplingTolerance && remaining < o.liftTolerance &&
                  status_.converged && coupling.share() <= 1.0;
        {
            char line[160];
            std::snprintf(line, sizeof line,
                          " Viscous solve %3d: Clift %.6f, mass defect change %.2E, share %.3f%s",
                          iterations, results_.clift, change, coupling.share(),
                          status_.converged ? "" : ", level not converged");
            log_.append(line);
        }
        lift = liftMeasure();
        if (settled) break;
    }
    char b[512];
    std::snprintf(b, sizeof b,
                  " Viscous: %d boundary-layer solves (%d halved), mass defect change %.2E, lift "
                  "within %.1E",
                  iterations, retreats, change, remaining);
    log_.append(b);
    const bool converged = settled && !stuck && status_.converged && !coupling.layer().failed();
    if (!converged) {
        // Solved once more, so that every array the results are taken from
        // is that of this flow (on RAE 2822, 480 x 81, the wave drag printed
        // after a failed coupling was -1E+145); where even that fails
        // (NACA 0012 at 10 degrees), the inviscid flow it started from.
        auto resolve = [&]() {
            try {
                iterateLevel(job, flow, progress, true);
            } catch (const SolverError&) {
                return false;
            }
            return status_.converged;
        };
        good.restore(coupling, true);
        setAlpha(good.alphaN);
        if (!resolve()) {
            start.restore(coupling, false);
            setAlpha(start.alphaN);
            resolve();
        }
        status_.converged = false;
    }
    ViscousResults r = coupling.results();
    r.iterations = iterations;
    r.change = change;
    r.converged = converged;
    auto warn = [&](const std::string& text) {
        msg::warning(text);
        log_.append(" Warning: " + text);
    };
    if (!r.converged) {
        warn(NotConvergedText(iterations, change, o.couplingTolerance, coupling.layer().failed(),
                              stuck));
        status_.converged = false;
    }
    // Reversed wall shear over more than a tenth of the chord: the integral
    // layer and its weak coupling do not describe such a flow.
    const double separated = std::max(r.separatedUpper, r.separatedLower);
    if (separated > 0.1) {
        warn(SeparationText(separated, r.separatedUpper >= r.separatedLower));
        status_.implausible = true;
    }
    results_.viscous = r;
}

}  // namespace quarel
