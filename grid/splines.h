// Cubic interpolating spline and the preparation of the section contour.
#pragma once

#include "contour.h"

namespace quarel {

// Coefficients of a cubic spline by its second derivatives.
//   e1, en [in]  end conditions: first derivatives when iend = 1,
//                otherwise second derivatives (0, 0: natural spline)
//   n [in]       number of points (at most 1201)
//   X, Y [in]    points X(1..n) strictly increasing (pointers to entry 1)
//   M [out]      second derivatives M(1..n)
//   iend [in]    end-condition switch
void SplineCoef(const double& e1, const double& en, const int& n, const double* X, const double* Y,
                double* M, const int& iend);

// Value and derivatives of the spline at x.
//   n [in] unused;  X, Y, M [in] as above (entry 1 first)
//   x [in]; s, s1, s2 [out] S(x), S'(x), S''(x).  x must not exceed X(n).
void SplineEval(const int& n, const double* X, const double* Y, const double* M, const double& x,
                double& s, double& s1, double& s2);

// Normalises the contour (leading edge at the origin, chord to (1, 0)),
// redistributes npa+1 points with cosine clustering into xg(1..npa+1, 1),
// yg(1..npa+1, 1).
//   XCONT, YCONT, NCONT [in] the input contour
//   npa [in]   number of surface intervals (even)
//   x0 [out]   abscissa of the singular point of the square-root map
//   chordInclination [out] degrees
//   cosSweep [in] ordinate divisor: the cosine of the sweep angle, which
//              turns the streamwise section of a swept wing into the
//              section normal to the leading edge
void PrepContour(const ContourInput& XCONT, const ContourInput& YCONT, const int& NCONT,
                 const int& npa, double& x0, double& chordInclination, const double& cosSweep);

}  // namespace quarel
