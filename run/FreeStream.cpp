#include "FreeStream.h"

#include <cmath>

#include "constants.h"

namespace quarel {

FreeStream FreeStream::of(double mach, double gamma, double alphaDeg, double sweptDeg) {
    FreeStream f;
    f.mach = mach;
    f.gamma = gamma;
    f.sweepRad = sweptDeg * kPiSingle / kDeg180Single;
    f.cosSweep = RoundSingle(std::cos(f.sweepRad));
    const double sinSweep = RoundSingle(std::sin(f.sweepRad));
    f.sin2Sweep = sinSweep * sinSweep;
    f.setAlphaN(alphaDeg * kPiSingle / kDeg180Single / f.cosSweep);
    f.mach2 = mach * mach;
    f.invGm1 = 1.0 / (gamma - 1.0);
    f.mach2Gm1 = f.mach2 * (gamma - 1.0) / 2.0;
    return f;
}

void FreeStream::setAlphaN(double a) {
    alphaN = a;
    cu = cosSweep * RoundSingle(std::cos(alphaN));
    su = cosSweep * RoundSingle(std::sin(alphaN));
}

void FreeStream::setAlphaNExact(double a) {
    alphaN = a;
    cu = cosSweep * std::cos(alphaN);
    su = cosSweep * std::sin(alphaN);
}

double FreeStream::alphaDegrees() const {
    return alphaN * cosSweep * kDeg180Single / kPiSingle;
}

}  // namespace quarel
