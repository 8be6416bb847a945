// Akima's local interpolation.
#pragma once

namespace quarel {

// Interpolates the points X(1..L), Y(1..L) (pointers to entry 1) at
// U(1..N) into V(1..N), extrapolating on both sides.
//   iu [in]  unit of the fault messages (6: standard output, reported to
//            the user as a warning)
//   L, X, Y [in]; N, U [in]; V [out] untouched on a fault
// Returns true when V was filled, false after a fault report.
bool AkimaInterp(const int& iu, const int& L, const double* X, const double* Y, const int& N,
                 const double* U, double* V);

}  // namespace quarel
