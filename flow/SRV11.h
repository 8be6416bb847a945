// Surface results, the Mach field and the coarse-to-fine transfer.
#pragma once

#include "entropy.h"

namespace quarel {

// Velocity on face i of line 1 (nodes (i,1)-(i+1,1)).
//   i, k, NX [in]; vw [in] transpiration V on the face
//   U, V [out] contravariant velocities; u, v [out] Cartesian; q2 [out]
void FaceVelocity(const int& i, const int& k, const int& NX, const double& vw, double& U, double& V,
                  double& u, double& v, double& q2);

// Surface Cp (cpf), qsf, q2f, lift, wave drag and Cp*.
//   NY, k, NX, mach, gamma [in]
//   CD [in,out] wave drag (recomputed when CL = 0 on entry and M != 0)
//   CL [in,out] lift; only Cp* and the surface arrays when CL != 0
//   cu, su, liftRef, s2 [in]
//   entropy [in] the non-isentropic model: the entropy field is formed
//   from phi and the pressures are lower by exp(-s/R)
//   cpStar [in,out] set when M > 0.1
void SurfaceResults(const int& NY, const int& k, const int& NX, const double& mach,
                    const double& gamma, double& CD, double& CL, const double& cu, const double& su,
                    const double& liftRef, const double& s2, const EntropyOptions& entropy,
                    double& cpStar);

// Lift of a surface pressure distribution f (cpf or cps, one value per
// body face i = k .. NX-k-1): the pressure force Sx = sum f dx,
// Sy = sum f dy on the line-1 faces, turned into the lift direction of the
// section plane and referred to liftRef (cos sweep):
// (cu Sx + su Sy) / liftRef.
//   f [in] indexed by contour face; k, NX, cu, su, liftRef [in]
double IntegratedLift(const double* f, const int& k, const int& NX, const double& cu,
                      const double& su, const double& liftRef);

// Pitching moment about the quarter chord and pressure drag from the
// surface pressures cpf of the body faces i = k .. NX-k-1 (run
// SurfaceResults first).  The chord runs from (0, 0) to (1, 0); the
// moment is positive nose up; both are referred to the same reference
// as the lift.  The pressure drag is the streamwise component of the
// pressure force: the wave drag plus whatever drag the discretisation
// adds (it vanishes with the mesh width in shock-free flow).
//   k, NX [in]; cu, su [in] free-stream direction; liftRef [in]
//   cmoment [out] moment coefficient; cdragPressure [out] drag coefficient
void PressureForces(const int& k, const int& NX, const double& cu, const double& su,
                    const double& liftRef, double& cmoment, double& cdragPressure);

// Local Mach number at the i-face midpoints into amach.
//   gamma, mach2, s2, k, NY, NX [in]
void MachField(const double& gamma, const double& mach2, const double& s2, const int& k,
               const int& NY, const int& NX);

// Maximum thickness y(i,1) - y(NX-i,1) over i = k..iMid.
//   k, NX, iMid [in]; iMax [out]; dMax [out]
void MaxThickness(const int& k, const int& NX, const int& iMid, int& iMax, double& dMax);

// Carries phi of the level just solved to every node of the fine grid
// (phis), interpolating in arc length on xgs, ygs.
//   NXf, NYf [in] fine sizes; d [in] coarsening factor 1, 2 or 4
void CoarseToFine(const int& NXf, const int& NYf, const int& d);

}  // namespace quarel
