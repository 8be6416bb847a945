// The published NACA 4-digit section: thickness distribution with the
// trailing edge closed (last coefficient -0.1036) and the two-parabola
// camber line.  Shared by the programs and tests that write sections of
// their own.
#pragma once

#include <cmath>

namespace quarel {

// At chord station x (0..1), for maximum camber m at position p (both as
// fractions of the chord) and thickness ratio t: the camber ordinate yc,
// its slope dyc and the half thickness yt.  m = 0 gives a symmetric
// section whatever p.
inline void Naca4(double m, double p, double t, double x, double& yc, double& dyc, double& yt) {
    yt = 5.0 * t *
         (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x + 0.2843 * x * x * x -
          0.1036 * x * x * x * x);
    yc = 0.0;
    dyc = 0.0;
    if (m > 0.0 && p > 0.0) {
        if (x < p) {
            yc = m / (p * p) * (2 * p * x - x * x);
            dyc = 2 * m / (p * p) * (p - x);
        } else {
            yc = m / ((1 - p) * (1 - p)) * (1 - 2 * p + 2 * p * x - x * x);
            dyc = 2 * m / ((1 - p) * (1 - p)) * (p - x);
        }
    }
}

}  // namespace quarel
