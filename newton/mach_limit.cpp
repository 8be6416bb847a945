// The limit on the growth of the supersonic regions in one Newton step.
#include "mach_limit.h"

#include <cmath>

#include "SRV11.h"
#include "gas.h"

namespace quarel {

namespace {

// Local Mach number of the section-plane velocity on the i-faces of lines
// 1 .. NY-1 (i = 0 .. NX-1) with the current potential, into m, and the
// largest of them; HUGE_VAL where the speed reaches the limit of the
// isentropic model (no speed of sound left).  All 0 in incompressible
// flow.
//   NY, k, NX, mach, gamma, s2 [in]; m [out]
double FaceMachNumbers(const int& NY, const int& k, const int& NX, const double& mach,
                       const double& gamma, const double& s2, GridArray& m) {
    double largest = 0.0;
    auto take = [&](int i, int j, double q2) {
        double v = 0.0;
        if (mach > 0.0) {
            const double a2 = SoundSpeed2(mach * mach, gamma, q2, s2);
            v = a2 > 0.0 ? std::sqrt(std::fmax(q2, 0.0) / a2) : HUGE_VAL;
        }
        m(i, j) = v;
        largest = std::fmax(largest, v);
    };
    for (int i = 0; i <= NX - 1; ++i) {
        double U, V, u, v, q2;
        FaceVelocity(i, k, NX, 0.0, U, V, u, v, q2);
        take(i, 1, q2);
    }
    for (int j = 2; j <= NY - 1; ++j) {
        for (int i = 0; i <= NX - 1; ++i) {
            const double pXi = phi(i + 1, j) - phi(i, j);
            const double pEta =
                0.25 * (phi(i, j + 1) + phi(i + 1, j + 1) - phi(i, j - 1) - phi(i + 1, j - 1));
            take(i, j,
                 pXi * (g11i(i, j) * pXi + g12i(i, j) * pEta) +
                     pEta * (g12i(i, j) * pXi + g22i(i, j) * pEta));
        }
    }
    return largest;
}

// The Mach number every face may reach after a correction, from the
// largest one before it and the rise allowed per step.
//   largestBefore, rise [in]
double MachAllowed(const double& largestBefore, const double& rise) {
    return std::fmax(std::fmin(largestBefore, kMachCap), kMachFree) + rise;
}

}  // namespace

MachLimit::MachLimit()
    : faceMach_(NewZeroed<GridArray>()), faceMachBefore_(NewZeroed<GridArray>()) {}
MachLimit::~MachLimit() = default;

double MachLimit::allowed(const int& NY, const int& k, const int& NX, const double& mach,
                          const double& gamma, const double& s2) {
    return MachAllowed(FaceMachNumbers(NY, k, NX, mach, gamma, s2, *faceMachBefore_),
                       travelling_ ? kMachRiseStart : kMachRise);
}

// Whether the potential as it stands keeps the limit: every face at most
// at allowed or at its own Mach number before (faceMachBefore).
//   NY, k, NX, mach, gamma, s2, allowed [in]
bool MachLimit::kept(const int& NY, const int& k, const int& NX, const double& mach,
                     const double& gamma, const double& s2, const double& allowed) {
    GridArray& faceMach = *faceMach_;
    const GridArray& faceMachBefore = *faceMachBefore_;
    if (FaceMachNumbers(NY, k, NX, mach, gamma, s2, faceMach) <= allowed) return true;
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i)
            if (!(faceMach(i, j) <= std::fmax(allowed, faceMachBefore(i, j)))) return false;
    return true;
}

}  // namespace quarel
