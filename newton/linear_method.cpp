// The choice of the linear method, and the forcing term the inexact
// methods share.
#include "linear_method.h"

#include <cmath>

namespace quarel {

namespace {

// Forcing term: start, factor.
constexpr double kForcingStart = 0.1;
constexpr double kForcingGamma = 0.9;

}  // namespace

std::unique_ptr<LinearMethodSolve> MakeLinearMethod(const NewtonOptions& options) {
    switch (options.method) {
        case LinearMethod::Line:
            return MakeLineMethod();
        case LinearMethod::Inexact:
            return MakeInexactMethod();
        case LinearMethod::Ilu:
        case LinearMethod::Multilevel:
            return MakeFactoredMethod(options);
        case LinearMethod::Direct:
            break;
    }
    return MakeDirectMethod(options);
}

double ForcingTerm::tolerance(const LinearStep& step, double etaMax) {
    double eta = kForcingStart;
    if (step.sameLevel && lastResidual_ > 0.0) {
        const double ratio = step.residual / lastResidual_;
        eta = kForcingGamma * ratio * ratio;
        const double kept = kForcingGamma * lastEta_ * lastEta_;
        if (kept > 0.1) eta = std::fmax(eta, kept);
    }
    eta = std::fmin(eta, etaMax);
    lastEta_ = eta;
    lastResidual_ = step.residual;
    return std::fmax(eta * step.residual, step.tol.forcingFloor());
}

}  // namespace quarel
