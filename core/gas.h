// Relations of the isentropic flow, velocities scaled by the free-stream
// speed in the section plane.
#pragma once

namespace quarel {

// Speed of sound squared where the section-plane speed squared is q2 and
// the spanwise speed squared s2 (the energy equation):
// a^2 = 1/M^2 + (gamma - 1)/2 (1 - q2 - s2).
//   mach2 [in] free-stream Mach number squared (> 0); gamma [in]
inline double SoundSpeed2(double mach2, double gamma, double q2, double s2) {
    return 1.0 / mach2 + 0.5 * (gamma - 1.0) * (1.0 - q2 - s2);
}

}  // namespace quarel
