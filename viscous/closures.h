// Closure relations of the two-equation integral boundary layer (momentum
// and kinetic-energy shape equations), after Drela & Giles, AIAA J. 25(10),
// 1987, and Drela, "XFOIL", Lecture Notes in Engineering 54, 1989: laminar
// profiles from the Falkner-Skan family, turbulent ones from Swafford's
// profiles with Whitfield's compressibility corrections, Green's shear-lag
// constants, and the e^N envelope of the Orr-Sommerfeld amplification rates.
//
// Notation: Hk kinematic shape factor, H* = theta*/theta energy shape factor,
// H** = delta**/theta density shape factor, Ret the momentum-thickness
// Reynolds number, Me2 the edge Mach number squared.
#pragma once

namespace quarel {

// Kinematic shape factor from the compressible H (Whitfield).
double KinematicShape(double H, double Me2);
// The compressible H of a kinematic shape factor (inverse of the above).
double ShapeFromKinematic(double Hk, double Me2);

double LaminarHstar(double Hk);
// Cf * Ret / 2 of the laminar profiles.
double LaminarSkinFriction(double Hk);
// 2 CD Ret / H* of the laminar profiles.
double LaminarDissipation(double Hk);

double TurbulentHstar(double Hk, double Ret, double Me2);
// Skin friction coefficient (on the edge dynamic pressure).
double TurbulentSkinFriction(double Hk, double Ret, double Me2);
double DensityShape(double Hk, double Me2);

// Normalised wall slip velocity of the outer layer and the equilibrium
// shear stress coefficient of Green's lag-entrainment method in the form of
// Drela & Giles (G-beta locus constants A = 6.7, B = 0.75).
double SlipVelocity(double Hstar, double Hk, double H, bool wake);
double EquilibriumShear(double Hstar, double Hk, double H, double Us);
// Boundary-layer thickness delta from theta and delta* (for the lag length).
double LayerThickness(double theta, double Hk, double dstar);

// Critical Ret of the envelope and the rate dN/ds of the envelope method
// at a station with shape Hk, thickness theta and Ret.
double CriticalReTheta(double Hk);
double AmplificationRate(double Hk, double theta, double Ret);

}  // namespace quarel
