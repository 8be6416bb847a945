// Akima's local interpolation.
#pragma once

#include <cmath>

namespace quarel {

// Interpolates the points X(1..L), Y(1..L) (pointers to entry 1) at
// U(1..N) into V(1..N), extrapolating on both sides.
//   iu [in]  unit of the fault messages (6: standard output, reported to
//            the user as a warning)
//   L, X, Y [in]; N, U [in]; V [out] untouched on a fault
// Returns true when V was filled, false after a fault report.
bool AkimaInterp(const int& iu, const int& L, const double* X, const double* Y, const int& N,
                 const double* U, double* V);

// Akima's slope at a data point from the chord slopes, two on its left
// (ma, mb) and two on its right (mc, md): the weights are the jumps of the
// chord slopes further out, an equal mean where the data are locally
// straight.
inline double akimaSlope(double ma, double mb, double mc, double md) {
    double w1 = std::fabs(md - mc);
    double w2 = std::fabs(mb - ma);
    if (w1 == 0.0 && w2 == 0.0) {
        w1 = 0.5;
        w2 = 0.5;
    }
    return (w1 * mb + w2 * mc) / (w1 + w2);
}

}  // namespace quarel
