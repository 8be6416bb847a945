// The mass flux of a face with entropy in the non-isentropic potential
// model (see entropy.h), apart from the rest of the model so that the
// face densities of the operator can take it.
#pragma once

namespace quarel {

// Flux factor exp(s/(gamma R)) q/g of a face with the entropy rise sigma =
// s/R, the potential's speed squared q2 (g^2) and the speed of sound
// squared a2 of that speed: q is the speed of the pressure of g at the
// entropy s and the free stream's total enthalpy, q^2 = g^2 - 2 a2/(gamma
// - 1) (exp(s (gamma-1)/(gamma R)) - 1).  1 for sigma = 0.  Where the
// entropy would take the whole speed (q^2/g^2 = r below 1/2, only next to
// a stagnation point) r is continued smoothly by 1/(4 (1 - r)).
//   sigma, q2, a2, gamma [in]
double EntropyFluxFactor(const double& sigma, const double& q2, const double& a2,
                         const double& gamma);

}  // namespace quarel
