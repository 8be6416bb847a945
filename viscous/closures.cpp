#include "closures.h"

#include <algorithm>
#include <cmath>

namespace quarel {

double KinematicShape(double H, double Me2) {
    return (H - 0.290 * Me2) / (1.0 + 0.113 * Me2);
}

double ShapeFromKinematic(double Hk, double Me2) {
    return Hk * (1.0 + 0.113 * Me2) + 0.290 * Me2;
}

double LaminarHstar(double Hk) {
    const double d = Hk - 4.0;
    return Hk < 4.0 ? 1.515 + 0.076 * d * d / Hk : 1.515 + 0.040 * d * d / Hk;
}

double LaminarSkinFriction(double Hk) {
    if (Hk < 7.4) return -0.067 + 0.01977 * (7.4 - Hk) * (7.4 - Hk) / (Hk - 1.0);
    const double r = 1.0 - 1.4 / (Hk - 6.0);
    return -0.067 + 0.022 * r * r;
}

double LaminarDissipation(double Hk) {
    if (Hk < 4.0) return 0.207 + 0.00205 * std::pow(4.0 - Hk, 5.5);
    const double d = Hk - 4.0;
    return 0.207 - 0.003 * d * d / (1.0 + 0.02 * d * d);
}

double TurbulentHstar(double Hk, double Ret, double Me2) {
    Ret = std::max(Ret, 200.0);
    const double H0 = Ret > 400.0 ? 3.0 + 400.0 / Ret : 4.0;
    double hs;
    if (Hk < H0) {
        hs = 1.505 + 4.0 / Ret + (0.165 - 1.6 / std::sqrt(Ret)) * std::pow(H0 - Hk, 1.6) / Hk;
    } else {
        const double lr = std::log(Ret);
        const double d = Hk - H0;
        hs = 1.505 + 4.0 / Ret +
             d * d * (0.04 / Hk + 0.007 * lr / ((d + 4.0 / lr) * (d + 4.0 / lr)));
    }
    return (hs + 0.028 * Me2) / (1.0 + 0.014 * Me2);
}

double TurbulentSkinFriction(double Hk, double Ret, double Me2) {
    const double Fc = std::sqrt(1.0 + 0.2 * Me2);
    const double lr = std::log10(std::max(Ret / Fc, 10.0));
    const double cf = 0.3 * std::exp(-1.33 * Hk) * std::pow(lr, -1.74 - 0.31 * Hk) +
                      0.00011 * (std::tanh(4.0 - Hk / 0.875) - 1.0);
    return cf / Fc;
}

double DensityShape(double Hk, double Me2) {
    return (0.064 / (Hk - 0.8) + 0.251) * Me2;
}

double SlipVelocity(double Hstar, double Hk, double H, bool wake) {
    const double us = 0.5 * Hstar * (1.0 - 4.0 * (Hk - 1.0) / (3.0 * H));
    return std::min(us, wake ? 0.99995 : 0.98);
}

double EquilibriumShear(double Hstar, double Hk, double H, double Us) {
    const double h = Hk - 1.0;
    return Hstar * 0.015 / (1.0 - Us) * h * h * h / (Hk * Hk * H);
}

double LayerThickness(double theta, double Hk, double dstar) {
    return theta * (3.15 + 1.72 / (Hk - 1.0)) + dstar;
}

double CriticalReTheta(double Hk) {
    const double h = 1.0 / (Hk - 1.0);
    const double lg = (1.415 * h - 0.489) * std::tanh(20.0 * h - 12.9) + 3.295 * h + 0.44;
    return std::pow(10.0, lg);
}

double AmplificationRate(double Hk, double theta, double Ret) {
    // The envelope grows from the critical Ret on, switched on over a short
    // ramp in log(Ret) so that the rate is continuous for the Newton
    // iteration.
    const double rc = CriticalReTheta(Hk);
    const double g = std::log10(Ret / rc);
    if (g <= -0.08) return 0.0;
    const double ramp = g >= 0.08 ? 1.0 : 0.5 + 0.5 * std::sin(M_PI * g / 0.16);
    const double a = 2.4 * Hk - 3.7 + 2.5 * std::tanh(1.5 * Hk - 4.65);
    const double dndr = 0.01 * std::sqrt(a * a + 0.25);
    const double l = (6.54 * Hk - 14.07) / (Hk * Hk);
    const double m = (0.058 * (Hk - 4.0) * (Hk - 4.0) / (Hk - 1.0) - 0.068) / l;
    return ramp * dndr * 0.5 * (m + 1.0) * l / theta;
}

}  // namespace quarel
