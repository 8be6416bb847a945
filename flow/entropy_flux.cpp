#include "entropy_flux.h"

#include <cmath>

namespace quarel {

double EntropyFluxFactor(const double& sigma, const double& q2, const double& a2,
                         const double& gamma) {
    if (sigma == 0.0) return 1.0;
    const double drop = 2.0 * a2 / (gamma - 1.0) * std::expm1(sigma * (gamma - 1.0) / gamma);
    double r = q2 > 0.0 ? 1.0 - drop / q2 : -HUGE_VAL;
    if (r < 0.5) r = 0.25 / (1.0 - r);
    return std::exp(sigma / gamma) * std::sqrt(r);
}

}  // namespace quarel
