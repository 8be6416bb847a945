// The viscous outer iteration of the run driver: boundary layer on the
// converged fine-level potential, transpiration from its relaxed mass
// defect, the fine level solved again, until the mass defect stops
// changing.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "RunDriver.h"
#include "ViscousCoupling.h"
#include "message.h"

namespace quarel {

void RunDriver::coupleBoundaryLayer(const JobParameters& job, const FreeStream& flow,
                                    const DesignRows& design, const ProgressHook& progress) {
    const ViscousOptions& o = job.viscous;
    ViscousCoupling coupling(level_, flow, o);
    double change = 1.0;
    int iterations = 0;
    while (iterations < o.couplingIterations) {
        ++iterations;
        change = coupling.update();
        if (std::getenv("QUAREL_BLDEBUG")) {
            const auto& L = coupling.layer();
            std::fprintf(stderr, "CL %.5f steps %d it %d change %g cd %g cdf %g xtr %g %g fail %d %d %d\n", results_.clift, status_.iterCount, iterations, change, L.cd, L.cdf, L.upper.xtr, L.lower.xtr, L.upper.failed, L.lower.failed, L.wake.failed);
            if (iterations == std::atoi(std::getenv("QUAREL_BLDEBUG")))
            for (const auto* sl : {&L.upper, &L.lower, &L.wake})
                for (const auto& st : sl->st)
                    std::fprintf(stderr, "%8.5f %9.6f %8.5f %10.3e %10.3e %7.3f %10.3e %8.4f %d %d\n", st.x, st.s, st.ue, st.dstar, st.theta, st.Hk, st.cf, st.ampl, st.turbulent, st.inverse);
        }
        iterateLevel(job, flow, design, progress);
        if (change < o.couplingTolerance && status_.converged) break;
    }
    ViscousResults r = coupling.results();
    r.iterations = iterations;
    r.change = change;
    r.converged = change < o.couplingTolerance && status_.converged && !coupling.layer().failed();
    char b[512];
    std::snprintf(b, sizeof b, " Viscous: %d boundary-layer solves, mass defect change %.2E",
                  iterations, change);
    log_.append(b);
    if (!r.converged) {
        std::snprintf(b, sizeof b,
                      "The viscous coupling did not converge: after %d boundary-layer solves the "
                      "mass defect still changes by %.2E (converged below %.1E)%s. The viscous "
                      "figures are not those of a converged flow.",
                      iterations, change, o.couplingTolerance,
                      coupling.layer().failed() ? ", and a boundary-layer station failed" : "");
        msg::warning(b);
        log_.append(std::string(" Warning: ") + b);
        status_.converged = false;
    }
    // Reversed wall shear over more than a tenth of the chord: the integral
    // layer and its weak coupling do not describe such a flow.
    const double separated = std::max(r.separatedUpper, r.separatedLower);
    if (separated > 0.1) {
        std::snprintf(b, sizeof b,
                      "The boundary layer separates over %.2f of the chord on the %s surface: "
                      "the viscous result does not describe this flow.",
                      separated, r.separatedUpper >= r.separatedLower ? "upper" : "lower");
        msg::warning(b);
        log_.append(std::string(" Warning: ") + b);
        status_.implausible = true;
    }
    results_.viscous = r;
}

}  // namespace quarel
