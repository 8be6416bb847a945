// The free stream of a calculation in the section normal to the leading
// edge of an infinite swept wing: the sweep enters through the normal
// angle of attack alphaN = alpha/cos(sweep) and the spanwise speed, whose
// square sin^2(sweep) the density law subtracts.  Velocities are scaled
// by the free-stream speed.
#pragma once

namespace quarel {

// The ranges of the flow inputs a user sets: the window's spinners and the
// batch program's overrides take the same values.  Mach goes to 0.99, not
// 0.9: the solver takes any subsonic free stream, and a typed 0.95 must not
// become 0.9 unseen.
struct InputRange {
    double lo, hi;
};
constexpr InputRange kAlphaRange{-85.0, 85.0}, kMachRange{0.0, 0.99}, kSweptRange{0.0, 85.0};

struct FreeStream {
    double mach = 0.5;
    double gamma = 1.4;
    double sweepRad = 0.0;   // sweep angle, radians
    double cosSweep = 1.0;   // cos(sweep), single precision
    double sin2Sweep = 0.0;  // sin^2(sweep), the sine in single precision
    double alphaN = 0.0;     // normal-section angle of attack, radians
    double cu = 1.0;         // cosSweep * cos(alphaN), the cosine in single precision
    double su = 0.0;         // cosSweep * sin(alphaN), the sine in single precision
    double mach2 = 0.0;      // M^2
    double invGm1 = 0.0;     // 1/(gamma - 1)
    double mach2Gm1 = 0.0;   // M^2 (gamma - 1)/2

    // From the panel values: Mach number, gamma, angle of attack and sweep
    // in degrees.  The angle conversions use pi and 180 in single precision.
    static FreeStream of(double mach, double gamma, double alphaDeg, double sweptDeg);
    // Sets alphaN and the components cu, su that follow from it.
    void setAlphaN(double a);
    // The same in full precision (a fixed-lift run, whose lift must be
    // smooth in alphaN).
    void setAlphaNExact(double a);
    // The angle of attack in degrees that gives alphaN (the inverse of of()).
    double alphaDegrees() const;
    // What the contour preparation divides the ordinates by: the sweep
    // conversion to the section normal to the leading edge, cos(sweep).
    // The section analysed is the section given (no factor of the angle of
    // attack); multiply by it to return to the user's frame.
    double ordinateDivisor() const { return cosSweep; }
};

}  // namespace quarel
