// Grid metrics and far-field angle factors.
//
// GridMetric turns the node coordinates into the inverse Jacobian and the
// contravariant metric coefficients on every cell face; FarField computes
// the angle factors of the far-field vortex and of its doublet in the
// Prandtl-Glauert plane.
#include "metrics.h"

#include <cmath>

#include "constants.h"
#include "state.h"

namespace quarel {

namespace {

// pi and its multiples in single precision: the far-field factors were
// always computed with these, and the potential at the far boundary
// depends on them in the last digits.
constexpr double kPi = kPiSingle;
constexpr double kTwoPi = kTwoPiSingle;
constexpr double kHalfPi = kHalfPiSingle;
constexpr double kThreeHalfPi = kThreeHalfPiSingle;

// Stores J and the three contravariant metrics of one face.
inline void faceMetric(double xXi, double yXi, double xEta, double yEta, double& J, double& g11,
                       double& g12, double& g22) {
    J = 1.0 / (xXi * yEta - yXi * xEta);
    const double J2 = J * J;
    g11 = (xEta * xEta + yEta * yEta) * J2;
    g12 = -(xXi * xEta + yXi * yEta) * J2;
    g22 = (xXi * xXi + yXi * yXi) * J2;
}

// Polar angle, counter-clockwise from the positive x axis in [0, 2 pi),
// of (x, beta*(y - yr)).  A point on the positive x axis gets `onAxis`
// (0, or 2 pi on the lower downstream column); a point at the reference
// point itself keeps `previous`.
double stretchedAngle(double x, double y, double yr, double beta, double onAxis, double previous) {
    const double d = y - yr;
    if (x == 0.0) {
        if (d > 0.0) return kHalfPi;
        if (d < 0.0) return kThreeHalfPi;
        return previous;
    }
    if (d == 0.0) return x > 0.0 ? onAxis : kPi;
    const double a = std::atan(beta * d / x);
    if (x < 0.0) return a + kPi;
    return d > 0.0 ? a : a + kTwoPi;
}

}  // namespace

void GridMetric(const int& NY, const int& NX) {
    // j-faces: face (i, j)-(i, j+1), central differences along the C line.
    for (int j = 1; j <= NY - 1; ++j) {
        for (int i = 1; i <= NX - 1; ++i) {
            const double xEta = xg(i, j + 1) - xg(i, j);
            const double yEta = yg(i, j + 1) - yg(i, j);
            const double xXi =
                (xg(i + 1, j + 1) + xg(i + 1, j) - xg(i - 1, j + 1) - xg(i - 1, j)) / 4.0;
            const double yXi =
                (yg(i + 1, j + 1) + yg(i + 1, j) - yg(i - 1, j + 1) - yg(i - 1, j)) / 4.0;
            faceMetric(xXi, yXi, xEta, yEta, ajj(i, j), g11j(i, j), g12j(i, j), g22j(i, j));
        }
    }
    // i-faces on the body line and the cut: one-sided difference in eta.
    for (int i = 0; i <= NX - 1; ++i) {
        const double xXi = xg(i + 1, 1) - xg(i, 1);
        const double yXi = yg(i + 1, 1) - yg(i, 1);
        const double xEta = ((xg(i + 1, 2) - xg(i + 1, 1)) + (xg(i, 2) - xg(i, 1))) / 2.0;
        const double yEta = ((yg(i + 1, 2) - yg(i + 1, 1)) + (yg(i, 2) - yg(i, 1))) / 2.0;
        faceMetric(xXi, yXi, xEta, yEta, aji(i, 1), g11i(i, 1), g12i(i, 1), g22i(i, 1));
    }
    // i-faces of the interior lines: central differences in eta.
    for (int j = 2; j <= NY - 1; ++j) {
        for (int i = 0; i <= NX - 1; ++i) {
            const double xXi = xg(i + 1, j) - xg(i, j);
            const double yXi = yg(i + 1, j) - yg(i, j);
            const double xEta =
                (xg(i + 1, j + 1) + xg(i, j + 1) - xg(i + 1, j - 1) - xg(i, j - 1)) / 4.0;
            const double yEta =
                (yg(i + 1, j + 1) + yg(i, j + 1) - yg(i + 1, j - 1) - yg(i, j - 1)) / 4.0;
            faceMetric(xXi, yXi, xEta, yEta, aji(i, j), g11i(i, j), g12i(i, j), g22i(i, j));
        }
    }
}

void FarField(const double& mach, const int& NX, const int& NY, const double& cosSweep) {
    const double beta = std::sqrt(1.0 - mach * mach * cosSweep * cosSweep);

    // Far boundary, around the downstream end of the upper cut side.
    const double yr0 = yg(0, 1);
    double prev = 0.0;
    for (int i = 0; i <= NX; ++i) {
        prev = stretchedAngle(xg(i, NY), yg(i, NY), yr0, beta, 0.0, prev);
        ffo(i) = prev;
    }
    // Upper downstream column.
    prev = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        prev = stretchedAngle(xg(0, j), yg(0, j), yr0, beta, 0.0, prev);
        ff0(j) = prev;
    }
    ff0(NY) = 0.0;
    // Lower downstream column: the positive x axis counts as a full turn,
    // so that the jump of the angle lies on the cut.
    const double yrN = yg(NX, 1);
    prev = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        prev = stretchedAngle(xg(NX, j), yg(NX, j), yrN, beta, kTwoPi, prev);
        ffn(j) = prev;
    }
    ffn(NY) = 0.0;

    // ff0(1) = 0 and ffn(1) = 2 pi: D is one full turn.
    const double D = ffn(1) - ff0(1);
    for (int i = 0; i <= NX; ++i) ffo(i) /= D;
    for (int j = 1; j <= NY - 1; ++j) {
        ff0(j) /= D;
        ffn(j) /= D;
    }

    // Doublet factors about the same centre: moving the vortex
    // downstream by dx changes its angle term by dx times this factor
    // (d(theta)/dx with the sign reversed, over 2 pi).
    auto doublet = [&](int i, int j) {
        const double X = xg(i, j), Y = beta * (yg(i, j) - yr0);
        const double r2 = X * X + Y * Y;
        return r2 > 0.0 ? Y / (kTwoPi * r2) : 0.0;
    };
    for (int i = 0; i <= NX; ++i) fdo(i) = doublet(i, NY);
    for (int j = 1; j <= NY - 1; ++j) {
        fd0(j) = doublet(0, j);
        fdn(j) = doublet(NX, j);
    }
    fd0(NY) = fdn(NY) = 0.0;

    // Thickness doublet factors about the same centre, axis along the
    // chord: the far field of the sources sigma = U t'(x) of a section of
    // thickness t, whose first moment is minus U times the area.
    auto thickness = [&](int i, int j) {
        const double X = xg(i, j), Y = beta * (yg(i, j) - yr0);
        const double r2 = X * X + Y * Y;
        return r2 > 0.0 ? X / (kTwoPi * beta * r2) : 0.0;
    };
    for (int i = 0; i <= NX; ++i) fto(i) = thickness(i, NY);
    for (int j = 1; j <= NY - 1; ++j) {
        ft0(j) = thickness(0, j);
        ftn(j) = thickness(NX, j);
    }
    ft0(NY) = ftn(NY) = 0.0;
}

}  // namespace quarel
