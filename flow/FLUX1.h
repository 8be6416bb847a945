// Design transpiration update: after a Newton step with the design rows,
// the mass that the prescribed surface flow pushes through the wall is
// turned into an under-relaxed transpiration velocity (vfx) and into the
// change of surface slope it asks for (vdu).
#pragma once

namespace quarel {

// Relaxation of the transpiration: new = kKeep*old + kTake*measured, the
// single-precision constants 0.8 and 0.2.
constexpr double kTranspirationKeep = static_cast<double>(0.8f);
constexpr double kTranspirationTake = static_cast<double>(0.2f);

// One transpiration update.
//   NX, k, NY [in]  grid sizes
//   mach, gamma [in] free stream (the densities of the body faces are
//                   refreshed only when mach > 0)
//   s2 [in]         sin^2 sweep
//   mode [in]       0: both surfaces designed, trailing edge kept closed;
//                   1: the second surface takes the slope changes of the
//                   first (thickness distribution kept); 2: the second
//                   surface gets half-sine slope changes that keep the
//                   maximum thickness
//   iT [in]         index of the maximum thickness on the first half (mode 2)
//   L [in]          end of the first design stretch k..L; the second is
//                   NX-L..NX-k
// Reads phi, xg, the metrics; refreshes rhoi (line 1) and rhoj (body
// columns) when mach > 0; vfx [in,out] on the body faces (second half in
// the shifted slot), vdu [out] on the design stretches, 0 elsewhere on
// the body.
void DesignTranspiration(const int& NX, const int& k, const int& NY, const double& mach,
                         const double& gamma, const double& s2, const int& mode, const int& iT,
                         const int& L);

// Surface slope dy/dx that a transpiration angle vdu gives the body face
// i (nodes i, i+1 of line 1), and its inverse.  The slope is measured in
// the section frame; the face's own tangent and normal grid directions
// enter through dx = x(i+1,1) - x(i,1) and the one-sided x_eta.
//   i [in] face; vdu [in] transpiration angle; slope [in]
double FaceSlope(const int& i, const double& vdu);
double FaceAngle(const int& i, const double& slope);

}  // namespace quarel
