// The non-isentropic potential model: the entropy a shock generates is
// carried downstream along the grid lines that leave it, and the state
// behind the shock has the pressure and density of the isentropic law
// times exp(-s/R) at the total enthalpy of the free stream (the speed of
// sound, a function of the speed alone, is unchanged).
//
// The flow equation needs no change for it: the scheme's shock-point
// correction already makes the isentropic mass flux behind a shock
// (1 + F) times the one in front, F the entropy-jump function, and with
// s/R = ln(1 + F) constant along the stream that is the mass balance of
// the true density rho_isentropic exp(-s/R).  The potential is therefore
// that of the isentropic run, bit for bit, and the model changes what is
// derived from it: the surface pressures (Cp, lift, moment) and the drag
// of the entropy.  Off by default.
#pragma once

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

// Drag coefficient of the entropy the shocks give the flow (Oswatitsch):
// 2/(gamma M^2) times the sum over the lines of the mass flux through the
// last face of each wake branch times its entropy, referred to liftRef.
// Needs the face densities of the present potential (rhoi) and its
// entropy field.
//   NY, k, NX, mach, gamma, liftRef [in]
double EntropyDrag(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& liftRef);

}  // namespace quarel
