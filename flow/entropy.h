// The non-isentropic potential model: the entropy a shock generates is
// carried downstream along the grid lines that leave it, and the flow
// behind the shock carries it in its mass balance and its velocity.
//
// The potential's gradient g is taken as the speed that isentropic flow
// would have at the local pressure (the pressure is that of the
// isentropic law of |grad phi|), and the velocity is q = lambda grad phi
// with the speed q of the same pressure and total enthalpy at the
// entropy s: q^2 = g^2 - 2 h_g (exp(s (gamma-1)/(gamma R)) - 1), h_g the
// enthalpy of g.  This is a Clebsch decomposition q = grad phi + s grad
// zeta with grad zeta taken along the stream: along a streamline it holds
// the momentum equation exactly (q dq = -dp/rho at constant s), across
// the edge of an entropy layer the pressure is continuous and the speed
// jumps (a slip line), and across the wake, where the two sides carry
// different entropies, the pressure is equal when grad phi is: the
// Kutta condition of equal pressures keeps one circulation along the
// whole cut, and the far field's vortex is that circulation.
//
// The mass flux of a face is rho(p, s) q = rho_isentropic(g) g times
// exp(-s/R) exp(s/(gamma R)) q/g; the scheme's shock-point correction
// already makes the isentropic flux behind a shock exp(s/R) times the
// one in front, so a face with entropy takes its isentropic density
// times the flux factor exp(s/(gamma R)) q/g.  Off by default.
#pragma once

#include "entropy_flux.h"

namespace quarel {

struct EntropyOptions {
    bool enabled = false;
};

// Entropy rise s/R across a normal shock with the upstream Mach number
// squared m2 (0 for m2 <= 1): ln(1 + F(m2)), F the entropy-jump function,
// i.e. -ln of the ratio of the total pressures across the shock.
//   m2, gamma [in]
double ShockEntropyRise(const double& m2, const double& gamma);

// Carries entropy along one line of n faces: face f flows towards higher
// f where flow[f] > 0, towards lower f otherwise, and takes its own jump
// plus the entropy of its upstream neighbour when that one flows the same
// way (a face whose neighbour flows towards it from the other side is a
// stagnation point and starts at 0).
//   jump, flow [in] n values each; n [in]; s [out] n values
void CarryAlongLine(const double* jump, const double* flow, const int& n, double* s);

// The entropy of every i-face (ent): on each line the face downstream of a
// node with a shock-point correction S (shk, from IFaceDensities of the
// present potential) takes ln(1 + S / the mass flux rsi |U/J| of the face
// upstream), which is carried along the line; the two sides of the wake cut, which meet on line 1,
// take the mean of what they carry.  With the model off, nothing is written.
//   options [in]; NY, k, NX [in]; circ [in] circulation; mach, gamma, s2 [in];
//   reads phi, rsi, shk
void EntropyField(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                  const double& circ, const double& mach, const double& gamma, const double& s2);

// The entropy field of the present potential (EntropyField after the
// i-face densities that give the shock-point terms), which the face
// densities of the following residual use; nothing with the model off.
//   options [in]; NY, k, NX, mach, gamma, s2 [in]
void UpdateEntropyField(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                        const double& mach, const double& gamma, const double& s2);

// The couplings of the exact Newton matrix through the entropy
// (entropyCouplings): for every entropy jump at a shock face, its
// derivative with respect to the potentials near it (by differences) and
// the change of the residuals downstream per unit jump, scaled as the
// stored rows (by rsc).  Needs the face arrays and the entropy field of
// the present potential; leaves them so.  Empty with the model off.
//   options [in]; NY, k, NX, mach, gamma, s2 [in]; designFlag, firstOnly,
//   L [in] as for BodyRow
void EntropyCouplingRows(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                         const double& mach, const double& gamma, const double& s2,
                         const int& designFlag, const int& firstOnly, const int& L);

// Drag coefficient of the entropy the shocks give the flow (Oswatitsch):
// 2/(gamma M^2) times the sum over the lines of the mass flux through the
// last face of each wake branch times its entropy, referred to liftRef.
// Needs the face densities of the present potential (rhoi) and its
// entropy field.
//   NY, k, NX, mach, gamma, liftRef [in]
double EntropyDrag(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& liftRef);

}  // namespace quarel
