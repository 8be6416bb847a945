// The non-isentropic potential model: the entropy a shock generates is
// carried downstream along the grid lines that leave it, and every face
// downstream takes the density rho = rho_isentropic exp(-s/R) at the
// total enthalpy of the free stream (so the speed of sound, a function of
// the speed alone, is unchanged).  Off by default; with it off the
// operator is the isentropic one, bit for bit.
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

// The entropy of every i-face (ent) from the potential: on each line every
// face where the flow slows takes the fall of ShockEntropyRise of the
// xi-Mach number from its upstream neighbour, which is carried along the
// line (a shock from M1 to subsonic flow gives the normal-shock rise of
// M1 however many faces it spans); the two sides of the wake cut, which meet on line 1, take
// the mean of what they carry.  With the model off, nothing is written.
//   options [in]; NY, k, NX [in]; circ [in] circulation; mach, gamma, s2 [in]
void EntropyField(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                  const double& circ, const double& mach, const double& gamma, const double& s2);

// Factor exp(-s/R) of j-face (i, j), from the entropy of the i-faces on
// both sides of the nodes (i, j) and (i, j+1).  i, j [in]
double JFaceEntropyFactor(const int& i, const int& j);

// Drag coefficient of the entropy the shocks give the flow (Oswatitsch):
// 2/(gamma M^2) times the sum over the lines of the mass flux through the
// last face of each wake branch times its entropy, referred to liftRef.
// Needs the face densities of the present potential (rhoi).
//   NY, k, NX, mach, gamma, liftRef [in]
double EntropyDrag(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& liftRef);

}  // namespace quarel
