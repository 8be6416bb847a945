// The discrete conservative full-potential operator.
//
// Every node carries a flux balance over the cell around it: the xi-fluxes
// through its east and west i-faces and the eta-fluxes through its north
// and south j-faces.  The face densities are isentropic where the flow is
// subsonic; on supersonic faces the i-face density is biased upstream
// (flux biasing towards the sonic mass flux), and a shock-point
// correction carries the entropy jump of a normal shock.  Beyond local
// Mach 3 the isentropic law is continued by an exponential so that the
// density never vanishes.
#include "operator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "entropy_flux.h"
#include "matrix_entries.h"
#include "state.h"

namespace quarel {

// ---------------------------------------------------------------------
// Density law
// ---------------------------------------------------------------------

FlowConstants MakeFlowConstants(const double& mach, const double& gamma, const double& s2) {
    FlowConstants c;
    c.mach = mach;
    c.gamma = gamma;
    c.s2 = s2;
    const double m2 = mach * mach;
    c.kappa = 0.5 * (gamma - 1.0) * m2;
    const double exponent = 1.0 / (gamma - 1.0);
    const double whole = std::round(2.0 * exponent);
    c.excess = exponent - 0.5 * whole;
    c.halfPowers =
        whole >= 1.0 && whole <= 16.0 && std::fabs(c.excess) < 1.0e-6 ? static_cast<int>(whole) : 0;
    if (m2 == 0.0) {
        // Incompressible: the density is 1 everywhere, no speed is sonic
        // and no speed reaches the Mach-3 limit.
        const double inf = std::numeric_limits<double>::infinity();
        c.q3sq = inf;
        c.rho3 = 1.0;
        c.qstar = inf;
        c.rhostar = 1.0;
        return c;
    }
    c.q3sq = 9.0 * ((gamma - 1.0) * m2 + 2.0) / (m2 * (9.0 * (gamma - 1.0) + 2.0));
    c.rho3 = std::pow(1.0 + c.kappa * (1.0 - c.q3sq), 1.0 / (gamma - 1.0));
    c.qstar = std::sqrt((2.0 / m2 + (gamma - 1.0) * (1.0 - s2)) / (gamma + 1.0));
    c.rhostar = c.density(c.qstar * c.qstar);
    return c;
}

double FlowConstants::a2(double q2) const {
    return SoundSpeed2(mach * mach, gamma, q2, s2);
}

double FlowConstants::density(double q2) const {
    if (q2 + s2 > q3sq) {
        // Exponential continuation: continuous with the isentropic law and
        // with its slope d(rho)/d(q^2) = -rho/(2 a^2) at the Mach-3 speed.
        const double a3sq = 0.5 * (gamma - 1.0) * (1.0 - q3sq) + 1.0 / (mach * mach);
        return rho3 * std::exp(-(q2 + s2 - q3sq) / 2.0 / a3sq);
    }
    const double base = 1.0 + kappa * (1.0 - q2 - s2);
    if (halfPowers > 0 && base >= 0.01 && base <= 100.0) {
        // base^(n/2) by repeated squaring of its square root, times
        // base^excess = exp(t), t = excess ln(base) below 1e-5, to second
        // order in t: within two units of the last place of pow, at half
        // its cost (the density is evaluated some forty times per face
        // and Newton step when the exact matrix is formed).
        double r = 1.0, f = std::sqrt(base);
        for (int n = halfPowers; n > 0; n >>= 1) {
            if (n & 1) r *= f;
            f *= f;
        }
        const double t = excess * std::log(base);
        return r * (1.0 + t * (1.0 + 0.5 * t));
    }
    return std::pow(base, 1.0 / (gamma - 1.0));
}

double EntropyJump(const double& m2, const double& e, const double& gamma) {
    // (p2/p1)^(1/(gamma-1)) * (rho1/rho2)^(gamma/(gamma-1)) - 1 across a
    // normal shock with upstream Mach number squared m2.
    const double pressureRatio = ((2.0 * m2 - 1.0) * gamma + 1.0) / (gamma + 1.0);
    const double densityRatio = ((gamma - 1.0) * m2 + 2.0) / ((gamma + 1.0) * m2);
    return std::pow(pressureRatio, e) * std::pow(densityRatio, e * gamma) - 1.0;
}

// ---------------------------------------------------------------------
// Face densities
// ---------------------------------------------------------------------

namespace {

// While the exact rows are differenced, the residual passes of the
// perturbed potentials recompute only the faces whose stencil holds a
// perturbed node: the i-face states (faceState) of the base potential are
// recorded, and a face whose stencil is untouched takes them back, which
// gives the same numbers as computing them again.
}  // namespace

enum class FaceReuse { None, Record, Reuse };
// The state of one i-face as faceState leaves it, recorded for the base
// potential by grid offset.
struct FaceRecord {
    double rsi, eta, uj, q, m2, sonic, flux, uq, coef, der;
};
struct FaceReuseState {
    FaceReuse mode = FaceReuse::None;
    // Perturbed nodes of the present pass, by grid offset (FaceReuse::Reuse),
    // and the rows, i-faces and j-faces whose stencils hold one: row (i, j)
    // the nodes i-1 .. i+1 of lines j-1 .. j+1, i-face (f, j) of a line
    // j >= 2 the nodes f, f+1 of lines j-1 .. j+1, j-face (i, j) the nodes
    // i-1 .. i+1 of lines j, j+1.
    std::vector<unsigned char> movedNodes, touchedRows, touchedIFaces, touchedJFaces;
    std::vector<FaceRecord> faceRecords;

    bool moved(int i, int j) const { return movedNodes[GridArray::at(i, j)] != 0; }
    bool touchedRow(int i, int j) const { return touchedRows[GridArray::at(i, j)] != 0; }
    bool touchedIFace(int f, int j) const { return touchedIFaces[GridArray::at(f, j)] != 0; }
    bool touchedJFace(int i, int j) const { return touchedJFaces[GridArray::at(i, j)] != 0; }
    bool reusing() const { return mode == FaceReuse::Reuse; }
    bool recording() const { return mode == FaceReuse::Record; }

    // Marks node (p, q) as perturbed (mark 1) or no longer (mark 0), with
    // the rows and faces whose stencils hold it.
    void markMoved(int p, int q, unsigned char mark) {
        auto set = [&](std::vector<unsigned char>& v, int i, int j) {
            if (i >= 0 && i <= kMaxNX && j >= 1 && j <= kMaxNY) v[GridArray::at(i, j)] = mark;
        };
        set(movedNodes, p, q);
        for (int j = q - 1; j <= q + 1; ++j)
            for (int i = p - 1; i <= p + 1; ++i) {
                set(touchedRows, i, j);
                if (i <= p) set(touchedIFaces, i, j);
                if (j <= q) set(touchedJFaces, i, j);
            }
    }
};

namespace {

// JFaceDensities; with the face states of ExactRows (fr), a face whose
// stencil is untouched keeps the density of the base potential.
void jFaceDensities(const int& i, const int& NY, const double& mach, const double& gamma,
                    const double& s2, const FaceReuseState* fr) {
    const FlowConstants c = MakeFlowConstants(mach, gamma, s2);
    const bool reuse = fr != nullptr && fr->reusing();
    for (int j = 1; j <= NY - 1; ++j) {
        // A face with its stencil untouched keeps the density of the base
        // potential, which rhoj holds between the passes.
        if (reuse && !fr->touchedJFace(i, j)) continue;
        const double pEta = phi(i, j + 1) - phi(i, j);
        const double pXi =
            0.25 * (phi(i + 1, j) + phi(i + 1, j + 1) - phi(i - 1, j + 1) - phi(i - 1, j));
        const double V = g22j(i, j) * pEta + g12j(i, j) * pXi;
        const double q2 = V * pEta + (g12j(i, j) * pEta + g11j(i, j) * pXi) * pXi;
        double rho = c.density(q2);
        // The entropy of the face: the mean of the four i-faces around it.
        const double sigma = 0.25 * (ent(i - 1, j) + ent(i, j) + ent(i - 1, j + 1) + ent(i, j + 1));
        if (sigma != 0.0) rho *= EntropyFluxFactor(sigma, q2, c.a2(q2), gamma);
        rhoj(i, j) = rho;
        cfj(i, j) = rho * (g22j(i, j) - V * V / c.a2(q2)) / ajj(i, j);
    }
}

// Per-face work data of one i-face line (faces 0..NX-1), kept between the
// face pass and the biasing pass of one call.
struct FaceLine {
    double wUJ[kMaxNX];     // U/J
    double wQ[kMaxNX];      // speed q in the section plane
    double wM2[kMaxNX];     // xi-Mach number squared U^2/(a^2 g11)
    double wSonic[kMaxNX];  // sonic-flux density rho* q*/q (rho where subsonic)
    double wFlux[kMaxNX];   // normalised mass flux rho q/(rho* q*) (1 where subsonic)
    double wUq[kMaxNX];     // direction cosine U/q (0 where subsonic)
    double wCoef[kMaxNX];   // linearised coefficient without the density
    double wDer[kMaxNX];    // derivative factor of the mass flux (0 where subsonic)
    double wEta[kMaxNX];    // eta-derivative of the potential used on the face
};

// Entropy-jump flux P = F(m^2) rho U/J of face f on line j for the given
// xi-derivative of the potential.  On the body faces the eta-derivative
// follows the xi-derivative through the wall condition V = V_w; elsewhere
// it is held at its face value.
double JumpFlux(const FlowConstants& c, int f, int j, bool wall, double vw, double pXi,
                double pEta) {
    const double J = aji(f, j);
    const double g11 = g11i(f, j), g12 = g12i(f, j), g22 = g22i(f, j);
    if (wall) pEta = (vw - g12 * pXi) / g22;
    const double U = g12 * pEta + g11 * pXi;
    const double q2 = pXi * U + pEta * (g12 * pXi + g22 * pEta);
    const double m2 = U * U / (c.a2(q2) * g11);
    return EntropyJump(m2, 1.0 / (c.gamma - 1.0), c.gamma) * c.density(q2) * U / J;
}

// d P / d(phi(f+1) - phi(f)) of face f by a central difference.
double JumpFluxSlope(const FlowConstants& c, const FaceLine& L, int f, int j, bool wall,
                     double vw) {
    const double pXi = phi(f + 1, j) - phi(f, j);
    const double h = 1.0e-6 * std::max(std::fabs(pXi), 1.0e-3);
    return (JumpFlux(c, f, j, wall, vw, pXi + h, L.wEta[f]) -
            JumpFlux(c, f, j, wall, vw, pXi - h, L.wEta[f])) /
           (2.0 * h);
}

// Fills the work data and rsi of face f on line j from its gradients.
void faceState(const FlowConstants& c, FaceLine& L, int f, int j, double pXi, double pEta) {
    const double J = aji(f, j);
    const double g11 = g11i(f, j), g12 = g12i(f, j), g22 = g22i(f, j);
    const double U = g12 * pEta + g11 * pXi;
    const double q2 = pXi * U + pEta * (g12 * pXi + g22 * pEta);
    const double q = std::sqrt(q2);
    const double rho = c.density(q2);
    const double a2 = c.a2(q2);
    rsi(f, j) = rho;
    L.wEta[f] = pEta;
    L.wUJ[f] = U / J;
    L.wQ[f] = q;
    L.wM2[f] = U * U / (a2 * g11);
    if (q > c.qstar) {
        const double sonicFlux = c.rhostar * c.qstar;
        L.wSonic[f] = sonicFlux / q;
        L.wFlux[f] = rho * q / sonicFlux;
        L.wUq[f] = U / q;
        L.wCoef[f] = (g11 - U * U / q2) / J;
        // d(rho q)/dq = rho (1 - q^2/a^2); beyond the Mach-3 speed the
        // ratio is frozen at its value on the limit.
        double qq = q2, aa = a2;
        if (q2 + c.s2 > c.q3sq) {
            qq = c.q3sq - c.s2;
            aa = c.a2(qq);
        }
        L.wDer[f] = (1.0 - qq / aa) * rho / sonicFlux;
    } else {
        L.wSonic[f] = rho;
        L.wFlux[f] = 1.0;
        L.wUq[f] = 0.0;
        L.wCoef[f] = (g11 - U * U / a2) / J;
        L.wDer[f] = 0.0;
    }
}

// Takes the recorded state of face f on line j (its stencil untouched).
void recordedFaceState(const FaceReuseState& fr, FaceLine& L, int f, int j) {
    const FaceRecord& r = fr.faceRecords[GridArray::at(f, j)];
    rsi(f, j) = r.rsi;
    L.wEta[f] = r.eta;
    L.wUJ[f] = r.uj;
    L.wQ[f] = r.q;
    L.wM2[f] = r.m2;
    L.wSonic[f] = r.sonic;
    L.wFlux[f] = r.flux;
    L.wUq[f] = r.uq;
    L.wCoef[f] = r.coef;
    L.wDer[f] = r.der;
}

// faceState of face f on line j, recorded when faces are recorded.
void faceStateAndRecord(const FlowConstants& c, FaceLine& L, FaceReuseState* fr, int f, int j,
                        double pXi, double pEta) {
    faceState(c, L, f, j, pXi, pEta);
    if (fr != nullptr && fr->recording()) {
        fr->faceRecords[GridArray::at(f, j)] = {rsi(f, j),  L.wEta[f],   L.wUJ[f],   L.wQ[f],
                                                L.wM2[f],   L.wSonic[f], L.wFlux[f], L.wUq[f],
                                                L.wCoef[f], L.wDer[f]};
    }
}

// Face pass of a line j >= 2: gradients, isentropic densities and the
// per-face data; with reuse, an untouched face takes its recorded state.
void innerLineFaceStates(const FlowConstants& c, FaceLine& L, int j, int NX, FaceReuseState* fr) {
    const bool reuse = fr != nullptr && fr->reusing();
    for (int f = 0; f <= NX - 1; ++f) {
        if (reuse && !fr->touchedIFace(f, j)) {
            recordedFaceState(*fr, L, f, j);
            continue;
        }
        const double pXi = phi(f + 1, j) - phi(f, j);
        const double pEta =
            0.25 * (phi(f, j + 1) + phi(f + 1, j + 1) - phi(f, j - 1) - phi(f + 1, j - 1));
        faceStateAndRecord(c, L, fr, f, j, pXi, pEta);
    }
}

// Face pass of line 1: the wake-cut faces, the body faces and the cut
// faces once more from the second side.
void bodyLineFaceStates(const FlowConstants& c, FaceLine& L, int k, int NX, double circ,
                        FaceReuseState* fr) {
    const bool reuse = fr != nullptr && fr->reusing();
    // First side of the wake cut: the row below is the other side of
    // the cut, whose potential is higher by the circulation.
    for (int f = 0; f <= k - 1; ++f) {
        if (reuse && !fr->moved(f, 1) && !fr->moved(f + 1, 1) && !fr->moved(f, 2) &&
            !fr->moved(f + 1, 2) && !fr->moved(NX - f, 2) && !fr->moved(NX - f - 1, 2)) {
            recordedFaceState(*fr, L, f, 1);
            continue;
        }
        const double pXi = phi(f + 1, 1) - phi(f, 1);
        const double pEta =
            0.25 * (phi(f, 2) + phi(f + 1, 2) - phi(NX - f, 2) - phi(NX - f - 1, 2) + 2.0 * circ);
        faceStateAndRecord(c, L, fr, f, 1, pXi, pEta);
    }
    // Body faces: the normal derivative follows from the wall condition
    // V = V_w (transpiration).
    const int mid = NX / 2;
    for (int f = k; f <= NX - k - 1; ++f) {
        if (reuse && !fr->moved(f, 1) && !fr->moved(f + 1, 1)) {
            recordedFaceState(*fr, L, f, 1);
            continue;
        }
        const double vw = f < mid ? vfx(f) : vfx(f + 1);
        const double pXi = phi(f + 1, 1) - phi(f, 1);
        const double pEta = (vw - g12i(f, 1) * pXi) / g22i(f, 1);
        faceStateAndRecord(c, L, fr, f, 1, pXi, pEta);
    }
    // Second side of the cut: the same faces seen in the opposite xi
    // direction, so U and everything odd in U change sign.
    for (int f = 0; f <= k - 1; ++f) {
        const int p = NX - 1 - f;
        rsi(p, 1) = rsi(f, 1);
        L.wUJ[p] = -L.wUJ[f];
        L.wQ[p] = L.wQ[f];
        L.wM2[p] = L.wM2[f];
        L.wSonic[p] = L.wSonic[f];
        L.wFlux[p] = L.wFlux[f];
        L.wUq[p] = -L.wUq[f];
        L.wCoef[p] = L.wCoef[f];
        L.wDer[p] = L.wDer[f];
        L.wEta[p] = -L.wEta[f];
    }
}

// The shock-point term S of face f on line j, and for the Newton matrix
// its slopes with respect to the xi-derivatives of faces f-1 (dm) and f
// (d0): S depends on phi(f-1), phi(f) and phi(f+1) of this line.
struct ShockPointTerm {
    double S = 0.0, dm = 0.0, d0 = 0.0;
};

// e = 1/(gamma - 1); backward where the upstream face is f-1.
inline ShockPointTerm shockPointTerm(const FlowConstants& c, const FaceLine& L, int f, int j, int k,
                                     int NX, double e, bool backward) {
    ShockPointTerm t;
    // xi-Mach number squared; faces off the line count as subsonic.
    auto m2 = [&](int g) { return (g < 0 || g > NX - 1) ? 0.0 : L.wM2[g]; };
    // Entropy-jump flux of face g (only evaluated on supersonic faces).
    auto P = [&](int g) { return EntropyJump(L.wM2[g], e, c.gamma) * rsi(g, j) * L.wUJ[g]; };
    const int mid = NX / 2;
    auto wallFace = [&](int g) { return j == 1 && g >= k && g <= NX - k - 1; };
    auto slope = [&](int g) {
        const double vw = g < mid ? vfx(g) : vfx(g + 1);
        return JumpFluxSlope(c, L, g, j, wallFace(g), vw);
    };
    // Delta = max(0, P(f) - P(f-1)) times a factor, with its slopes.
    auto jump = [&](double factor) {
        const double d = P(f) - P(f - 1);
        if (d > 0.0) {
            t.S = d * factor;
            t.d0 = slope(f) * factor;
            t.dm = -slope(f - 1) * factor;
        }
    };
    if (backward) {
        if (m2(f - 1) <= 1.0) {
        } else if (m2(f) <= 1.0) {
            t.S = -P(f - 1);
            t.dm = -slope(f - 1);
        } else if (m2(f + 1) < 1.0) {
            jump(1.0);
        } else if (m2(f + 2) < 1.0) {
            jump((1.0 - m2(f + 2)) / (m2(f + 1) - m2(f + 2)));
        }
    } else {
        if (m2(f) <= 1.0) {
        } else if (m2(f - 1) <= 1.0) {
            t.S = P(f);
            t.d0 = slope(f);
        } else if (m2(f - 2) < 1.0) {
            jump(1.0);
        } else if (m2(f - 3) < 1.0) {
            jump((1.0 - m2(f - 3)) / (m2(f - 2) - m2(f - 3)));
        }
    }
    return t;
}

// Biasing pass of line j: the upwind-biased densities, their derivative
// factors and the shock-point terms from the per-face data.
void biasedFaceDensities(const FlowConstants& c, const FaceLine& L, int j, int k, int NX) {
    for (int f = 0; f <= NX - 1; ++f) {
        dsi(f, j) = 0.0;
        dri(f, j) = 0.0;
        shk(f, j) = 0.0;
        ssw(f, j) = ssc(f, j) = sse(f, j) = 0.0;
    }
    const int ends[4] = {0, 1, NX - 2, NX - 1};
    for (int f : ends) {
        if (f < 0 || f > NX - 1) continue;
        rhoi(f, j) = rsi(f, j);
        cfi(f, j) = rsi(f, j) * L.wCoef[f];
    }

    const double e = 1.0 / (c.gamma - 1.0);
    for (int f = 2; f <= NX - 3; ++f) {
        const bool backward = L.wUJ[f] < 0.0;  // upstream face is f-1
        const int u = backward ? f - 1 : f + 1;
        double rho = L.wSonic[f];
        double D = 0.0;
        if (L.wQ[u] > c.qstar) {
            rho *= L.wFlux[u];
            D = L.wDer[u] * L.wSonic[f] * L.wUJ[f] * L.wUq[u];
        }
        const ShockPointTerm t = shockPointTerm(c, L, f, j, k, NX, e, backward);
        ssw(f, j) = -t.dm;
        ssc(f, j) = t.dm - t.d0;
        sse(f, j) = t.d0;

        rhoi(f, j) = rho;
        cfi(f, j) = rho * L.wCoef[f];
        if (backward) {
            dri(f, j) = D;
        } else {
            dsi(f, j) = D;
        }
        shk(f, j) = t.S;
    }
    // Faces with entropy (non-isentropic model, entropy.h): the flux
    // factor of their state; ent is 0 everywhere in the isentropic model.
    for (int f = 0; f <= NX - 1; ++f) {
        if (ent(f, j) == 0.0) continue;
        const double q2 = L.wQ[f] * L.wQ[f];
        const double m = EntropyFluxFactor(ent(f, j), q2, c.a2(q2), c.gamma);
        rhoi(f, j) *= m;
        cfi(f, j) *= m;
        dsi(f, j) *= m;
        dri(f, j) *= m;
    }
}

// IFaceDensities; with the face states of ExactRows (fr), recorded or
// reused.
void iFaceDensities(const int& j, const int& k, const int& NX, const double& circ,
                    const double& mach, const double& gamma, const double& s2, FaceReuseState* fr) {
    const FlowConstants c = MakeFlowConstants(mach, gamma, s2);
    FaceLine L;
    if (j >= 2) {
        innerLineFaceStates(c, L, j, NX, fr);
    } else {
        bodyLineFaceStates(c, L, k, NX, circ, fr);
    }
    biasedFaceDensities(c, L, j, k, NX);
}

}  // namespace

void JFaceDensities(const int& i, const int& NY, const double& mach, const double& gamma,
                    const double& s2) {
    jFaceDensities(i, NY, mach, gamma, s2, nullptr);
}

void IFaceDensities(const int& j, const int& k, const int& NX, const double& circ,
                    const double& mach, const double& gamma, const double& s2) {
    iFaceDensities(j, k, NX, circ, mach, gamma, s2, nullptr);
}

// ---------------------------------------------------------------------
// Node rows
// ---------------------------------------------------------------------

namespace {

void clearRow(Row& row) {
    for (double& s : row.slot) s = 0.0;
    row.res = 0.0;
}

// Eta-flux through j-face (i, j) (north face of node (i, j)).
double northFlux(int i, int j) {
    return rhoj(i, j) / ajj(i, j) *
           (g22j(i, j) * (phi(i, j + 1) - phi(i, j)) +
            g12j(i, j) * 0.25 *
                (phi(i + 1, j + 1) + phi(i + 1, j) - phi(i - 1, j) - phi(i - 1, j + 1)));
}

// Xi-flux through i-face (f, j) with the given cross derivative.
double eastFlux(int f, int j, double pEta) {
    return rhoi(f, j) / aji(f, j) * (g11i(f, j) * (phi(f + 1, j) - phi(f, j)) + g12i(f, j) * pEta);
}

// Cross factors of the linearised coefficients.
double crossI(int f, int j, double c) {
    return c * g12i(f, j) / (4.0 * g11i(f, j));
}
double crossJ(int i, int j, double c) {
    return c * g12j(i, j) / (4.0 * g22j(i, j));
}

// Flux balance of interior node (i, j), the residual of its row.
double InteriorResidual(int i, int j) {
    const double FE = eastFlux(
        i, j, 0.25 * (phi(i + 1, j + 1) + phi(i, j + 1) - phi(i, j - 1) - phi(i + 1, j - 1)));
    const double FW = eastFlux(
        i - 1, j, 0.25 * (phi(i - 1, j + 1) + phi(i, j + 1) - phi(i, j - 1) - phi(i - 1, j - 1)));
    return FE - FW + northFlux(i, j) - northFlux(i, j - 1);
}

}  // namespace

void InteriorRow(const int& NX, const int& NY, const int& i, const int& j, Row& row) {
    clearRow(row);
    row.res = InteriorResidual(i, j);

    const double e = cfi(i, j) - dsi(i - 1, j);
    const double w = cfi(i - 1, j) - dri(i, j);
    const double n = cfj(i, j);
    const double s = cfj(i, j - 1);
    const double xE = crossI(i, j, e);
    const double xW = crossI(i - 1, j, w);
    const double xN = crossJ(i, j, n);
    const double xS = crossJ(i, j - 1, s);

    double* a = row.slot;
    a[1] = e + w + n + s;
    a[2] = -w;
    a[3] = -e;
    a[4] = -n;
    a[5] = -s;
    a[7] = dri(i - 1, j);
    a[8] = -dsi(i, j);
    a[11] = xW + xN;
    a[12] = -xE - xN;
    a[13] = -xW - xS;
    a[14] = xE + xS;

    // Boundary neighbours are functions of the circulation through the
    // far-field vortex: their coefficients move into slot 0 (which holds
    // dR/dGamma, the opposite sign of the other slots).  All three moves
    // use the slots as they were before any of them.
    const double s2 = a[2], s3 = a[3], s4 = a[4];
    const double s11 = a[11], s12 = a[12], s13 = a[13], s14 = a[14];
    // d(boundary value)/dGamma: the vortex factor plus the doublet factor
    // times x_TE = 1, the part of the doublet's strength that moves with
    // the circulation (see FarFieldValues).
    auto v0 = [](int jj) { return ff0(jj) + fd0(jj); };
    auto vn = [](int jj) { return ffn(jj) + fdn(jj); };
    auto vo = [](int ii) { return ffo(ii) + fdo(ii); };
    if (i == 1) a[0] -= s2 * v0(j) + s11 * v0(j + 1) + s13 * v0(j - 1);
    if (i == NX - 1) a[0] -= s3 * vn(j) + s12 * vn(j + 1) + s14 * vn(j - 1);
    if (j == NY - 1) a[0] -= s4 * vo(i) + s11 * vo(i - 1) + s12 * vo(i + 1);
    if (i == 1) a[2] = a[11] = a[13] = 0.0;
    if (i == NX - 1) a[3] = a[12] = a[14] = 0.0;
    if (j == NY - 1) a[4] = a[11] = a[12] = 0.0;
}

namespace {

// ---------------------------------------------------------------------
// Flow round the trailing edge
// ---------------------------------------------------------------------
// A trailing edge of finite angle tau is a corner of the flow region with
// the exterior angle Omega = 2 pi - tau.  Near it the potential is a sum
// of corner modes r^mu, mu = m pi / Omega, that keep both surfaces
// streamlines; the Kutta condition removes the one with m = 1 (infinite
// speed), which leaves, with lambda = 2 pi / Omega:
//   the symmetric mode   Re Z^lambda: the flow leaves along the bisector
//                        at the speed lambda r^(lambda - 1), which varies
//                        like r^0.044 for a 15-degree edge;
//   the antisymmetric    Im Z^(3 lambda / 2): the flow turns at the edge,
//   mode                 its speed grows like r^0.57,
// Z the complex distance from the edge with the downstream bisector as
// real axis.  Neither is linear near the edge, and the face fluxes of the
// cells at the edge, which reach from the edge to one cell height
// (several first cell lengths along the surface), do not follow them: the
// fluxes of the two trailing-edge half cells come out several per cent low
// whatever the mesh width.  Those two cells decide the circulation, so the
// lift of a section with a finite trailing-edge angle then carries an
// error that does not fall with the mesh width (+0.5 per cent of the lift
// of a cambered 15-degree section at zero incidence).
//
// The four faces that end at the edge (the two halves of the first cut
// face and the first surface face on each side) therefore take, for each
// mode, the difference between its exact flux (the increase of its
// stream function across the face) and its discrete flux, times the
// mode's amplitude in the potential.  Two increments of the potential at
// the edge give the amplitudes: along the cut (the symmetric mode only)
// and the difference of those along the two surfaces.  The faces are then
// exact for both modes and for a constant; the correction is linear in
// the potential, depends on the grid alone otherwise, and each face keeps
// one flux for the rows on both of its sides.

// Size of the edge cells (distance of the first nodes from the edge, in
// chords) up to which the corner modes are used in full; they fade out
// between it and twice it.
constexpr double kEdgeCell = 0.005;

struct EdgeCorner {
    double x = 0.0, y = 0.0;    // the trailing edge
    double bx = 1.0, by = 0.0;  // unit bisector, downstream
    double lambda = 1.0;
};

EdgeCorner edgeCorner(int k, int NX) {
    EdgeCorner c;
    // The two trailing-edge nodes coincide up to rounding of the grid
    // generation (about 1e-7); their midpoint keeps a symmetric section's
    // corner symmetric.
    c.x = 0.5 * (xg(k, 1) + xg(NX - k, 1));
    c.y = 0.5 * (yg(k, 1) + yg(NX - k, 1));
    double ux = xg(k + 1, 1) - c.x, uy = yg(k + 1, 1) - c.y;
    double lx = xg(NX - k - 1, 1) - c.x, ly = yg(NX - k - 1, 1) - c.y;
    const double un = std::hypot(ux, uy), ln = std::hypot(lx, ly);
    if (!(un > 0.0 && ln > 0.0)) return c;
    ux /= un;
    uy /= un;
    lx /= ln;
    ly /= ln;
    const double sx = ux + lx, sy = uy + ly, sn = std::hypot(sx, sy);
    if (sn > 1.0e-12) {
        c.bx = -sx / sn;
        c.by = -sy / sn;
    } else {
        c.bx = uy;  // a flat edge: the normal of the surface
        c.by = -ux;
    }
    const double tau = std::acos(std::fmax(-1.0, std::fmin(1.0, ux * lx + uy * ly)));
    constexpr double kTwoPi = 6.283185307179586;
    c.lambda = kTwoPi / (kTwoPi - tau);
    return c;
}

// Potential and stream function of a corner mode at (x, y): mode 0 the
// symmetric flow Z^lambda, mode 1 the antisymmetric -i Z^(3 lambda / 2),
// which turns the flow at the edge.  Both have the two surfaces as
// streamlines.
void cornerFlow(const EdgeCorner& c, int mode, double x, double y, double& pot, double& stream) {
    const double dx = x - c.x, dy = y - c.y;
    const double X = dx * c.bx + dy * c.by, Y = dy * c.bx - dx * c.by;
    const double r = std::hypot(X, Y);
    if (r == 0.0) {
        pot = stream = 0.0;
        return;
    }
    const double mu = mode == 0 ? c.lambda : 1.5 * c.lambda;
    const double rl = std::pow(r, mu), t = mu * std::atan2(Y, X);
    if (mode == 0) {
        pot = rl * std::cos(t);
        stream = rl * std::sin(t);
    } else {
        pot = rl * std::sin(t);
        stream = -rl * std::cos(t);
    }
}

}  // namespace

void TrailingEdgeFaceCorrections(const int& k, const int& NX, double (&corr)[4]) {
    EdgeCorrectionTerms t;
    TrailingEdgeCorrectionTerms(k, NX, t);
    for (int m = 0; m < 4; ++m)
        corr[m] =
            t.active ? t.weight * (t.A * t.defect[0][m] + t.turning * t.B * t.defect[1][m]) : 0.0;
}

void TrailingEdgeCorrectionTerms(const int& k, const int& NX, EdgeCorrectionTerms& t) {
    t.active = false;
    if (k < 1 || NX - 2 * k < 2) return;
    const EdgeCorner c = edgeCorner(k, NX);
    // The two modes describe the flow only where the edge cells are small
    // against the chord, the scale on which the section's curvature and the
    // outer flow change; on coarser grids (the coarse levels of a run) the
    // amplitudes measured over the first cells are not those of the modes,
    // and the correction fades out.  An edge whose two nodes do not
    // coincide (an open trailing edge) is no corner.
    auto distance = [&](int i) { return std::hypot(xg(i, 1) - c.x, yg(i, 1) - c.y); };
    const double first = std::fmin(distance(k + 1), distance(NX - k - 1));
    const double reach =
        std::fmax(std::fmax(distance(k + 1), distance(NX - k - 1)), distance(k - 1));
    const double gap = std::hypot(xg(k, 1) - xg(NX - k, 1), yg(k, 1) - yg(NX - k, 1));
    const double weight = std::fmin(1.0, std::fmax(0.0, (2.0 * kEdgeCell - reach) / kEdgeCell));
    if (!(weight > 0.0) || gap > 0.01 * first) return;
    // The modes are those of subsonic flow: where the faces at the edge
    // take a density from a supersonic face upstream the edge is left
    // without them.
    for (int f : {k - 3, k - 2, k - 1, k, k + 1, k + 2, NX - k - 3, NX - k - 2, NX - k - 1, NX - k,
                  NX - k + 1, NX - k + 2})
        if (f >= 0 && f <= NX - 1 && (dsi(f, 1) != 0.0 || dri(f, 1) != 0.0)) return;
    // The nodes of the four faces' stencils.
    const int nodes[][2] = {{k - 1, 1},      {k, 1},          {k + 1, 1},      {k - 1, 2},
                            {k, 2},          {k + 1, 2},      {NX - k - 1, 1}, {NX - k, 1},
                            {NX - k + 1, 1}, {NX - k + 1, 2}, {NX - k, 2},     {NX - k - 1, 2}};
    constexpr int n = sizeof(nodes) / sizeof(nodes[0]);
    // Two linear measures of the corner modes in a potential: the increment
    // along the cut to the edge (symmetric mode only) and the difference of
    // the increments along the two surfaces from the edge (mostly the
    // antisymmetric mode).
    auto measures = [&](double out[2]) {
        out[0] = phi(k, 1) - phi(k - 1, 1);
        out[1] = (phi(k + 1, 1) - phi(k, 1)) - (phi(NX - k - 1, 1) - phi(NX - k, 1));
    };
    auto discreteFluxes = [&](double out[4]) {
        out[0] = -TrailingEdgeCutOutflow(k, NX, k);
        out[1] = -TrailingEdgeCutOutflow(NX - k, NX, k);
        out[2] = 0.5 * rhoi(k, 1) * (aji(k, 1) / g22i(k, 1)) * (phi(k + 1, 1) - phi(k, 1));
        out[3] = 0.5 * rhoi(NX - k - 1, 1) * (aji(NX - k - 1, 1) / g22i(NX - k - 1, 1)) *
                 (phi(NX - k, 1) - phi(NX - k - 1, 1));
    };
    double phiMeasure[2];
    measures(phiMeasure);
    double kept[n];
    for (int m = 0; m < n; ++m) kept[m] = phi(nodes[m][0], nodes[m][1]);
    double defect[2][4], modeMeasure[2][2];
    const double rho[4] = {rhoi(k - 1, 1), rhoi(NX - k, 1), rhoi(k, 1), rhoi(NX - k - 1, 1)};
    for (int mode = 0; mode < 2; ++mode) {
        double unused;
        for (int m = 0; m < n; ++m) {
            const int i = nodes[m][0], j = nodes[m][1];
            cornerFlow(c, mode, xg(i, j), yg(i, j), phi(i, j), unused);
        }
        measures(modeMeasure[mode]);
        double discrete[4];
        discreteFluxes(discrete);
        // Exact fluxes: the xi-flux through a face is the increase of the
        // stream function along it in the eta-direction.
        auto streamAt = [&](double x, double y) {
            double pot, psi;
            cornerFlow(c, mode, x, y, pot, psi);
            return psi;
        };
        auto quad = [&](int i) {  // the cell corner (i + 1/2, 3/2)
            return streamAt(0.25 * (xg(i, 1) + xg(i + 1, 1) + xg(i, 2) + xg(i + 1, 2)),
                            0.25 * (yg(i, 1) + yg(i + 1, 1) + yg(i, 2) + yg(i + 1, 2)));
        };
        auto mid = [&](int i) {  // the midpoint of face (i, 1)
            return streamAt(0.5 * (xg(i, 1) + xg(i + 1, 1)), 0.5 * (yg(i, 1) + yg(i + 1, 1)));
        };
        // Each half of the cut face from its own side's line 1.
        const double exact[4] = {quad(k - 1) - mid(k - 1), mid(NX - k) - quad(NX - k),
                                 quad(k) - mid(k), quad(NX - k - 1) - mid(NX - k - 1)};
        for (int m = 0; m < 4; ++m) defect[mode][m] = rho[m] * exact[m] - discrete[m];
    }
    for (int m = 0; m < n; ++m) phi(nodes[m][0], nodes[m][1]) = kept[m];
    // Amplitudes of the two modes in phi.
    const double a00 = modeMeasure[0][0], a01 = modeMeasure[1][0];
    const double a10 = modeMeasure[0][1], a11 = modeMeasure[1][1];
    const double det = a00 * a11 - a01 * a10;
    if (!(std::fabs(det) > 1.0e-12 * std::fabs(a00 * a11))) return;
    const double A = (phiMeasure[0] * a11 - a01 * phiMeasure[1]) / det;
    const double B = (a00 * phiMeasure[1] - a10 * phiMeasure[0]) / det;
    // The antisymmetric mode is that of incompressible flow, and it alone
    // changes the split of the flow at the edge: with it in flows near
    // sonic speed the discrete equations gain solutions of their own, which
    // runs from the free stream find.  It fades out between the local Mach
    // numbers 0.1 and 0.3 of the edge faces (from their linearised
    // coefficient, rho (g11 - U^2/a^2) / J); the symmetric mode stays.
    double m2 = 0.0;
    t.turningFace = -1;
    for (int f : {k - 1, k, NX - k - 1, NX - k}) {
        const double m2f = 1.0 - cfi(f, 1) * aji(f, 1) / (rhoi(f, 1) * g11i(f, 1));
        if (m2f > m2) t.turningFace = f;
        m2 = std::fmax(m2, m2f);
    }
    const double turning = std::fmin(1.0, std::fmax(0.0, (0.09 - m2) / (0.09 - 0.01)));
    t.turningVaries = t.turningFace >= 0 && turning > 0.0 && turning < 1.0;
    t.active = true;
    t.weight = weight;
    t.A = A;
    t.B = B;
    t.a00 = a00;
    t.a01 = a01;
    t.a10 = a10;
    t.a11 = a11;
    t.det = det;
    t.turning = turning;
    for (int m = 0; m < 4; ++m) {
        t.rho[m] = rho[m];
        t.defect[0][m] = defect[0][m];
        t.defect[1][m] = defect[1][m];
    }
}

void WakeRow(const int& i, const int& NX, const int& k, const double& circ, Row& row) {
    clearRow(row);
    const int p = NX - i;  // the same point seen from the other side of the cut
    double FE =
        eastFlux(i, 1, 0.25 * (phi(i + 1, 2) + phi(i, 2) - phi(p - 1, 2) - phi(p, 2) + 2.0 * circ));
    if (i == k - 1) {
        // The first cut face ends at the trailing edge (see TrailingEdgeFaceCorrections).
        double edge[4];
        TrailingEdgeFaceCorrections(k, NX, edge);
        FE += edge[0] + edge[1];
    }
    const double FW = eastFlux(
        i - 1, 1, 0.25 * (phi(i - 1, 2) + phi(i, 2) - phi(p + 1, 2) - phi(p, 2) + 2.0 * circ));
    row.res = northFlux(i, 1) + northFlux(p, 1) + FE - FW;
    // A viscous wake's displacement: a source sheet along the cut.
    if (vwk(i) != 0.0) row.res += vwk(i);

    const double e = cfi(i, 1) - dsi(i - 1, 1);
    const double w = cfi(i - 1, 1) - dri(i, 1);
    const double n = cfj(i, 1);
    const double np = cfj(p, 1);
    const double xE = crossI(i, 1, e);
    const double xW = crossI(i - 1, 1, w);
    const double xN = crossJ(i, 1, n);
    const double xNp = crossJ(p, 1, np);

    double* a = row.slot;
    a[1] = e + w + n + np;
    a[2] = -w;
    a[3] = -e;
    a[4] = -n;
    a[5] = -np;  // the partner's phi(p, 2) plays the node below
    a[7] = dri(i - 1, 1);
    a[8] = -dsi(i, 1);
    a[11] = xW + xN;
    a[12] = -xE - xN;
    a[13] = -xW - xNp;  // partner-side node (p+1, 2)
    a[14] = xE + xNp;   // partner-side node (p-1, 2)
    // The partner's potential on the cut is phi(i, 1) + Gamma.
    a[0] = a[5];
    if (i == 1) {
        // Neighbours (0, 2) and (NX, 2) lie on the downstream boundary; the
        // node (0, 1) has a vortex factor of 0.
        a[0] = a[5] - a[11] * (ff0(2) + fd0(2)) - a[13] * (ffn(2) + fdn(2));
        a[2] = a[11] = a[13] = 0.0;
    }
}

void WallTranspiration(const int& i, const int& NX, double& vE, double& vW) {
    const int mid = NX / 2;
    if (i < mid) {
        vE = vfx(i);
        vW = vfx(i - 1);
    } else if (i > mid) {
        vE = vfx(i + 1);
        vW = vfx(i);
    } else {
        vE = vfx(i + 1);
        vW = vfx(i - 1);
    }
}

bool IsDesignRow(const int& i, const int& NX, const int& k, const int& designFlag,
                 const int& firstOnly, const int& L) {
    return designFlag == 1 &&
           ((k <= i && i <= L) || (NX - L <= i && i <= NX - k && firstOnly == 0));
}

void BodyRow(const int& i, const int& NX, const int& k, const int& designFlag, const int& firstOnly,
             const int& L, Row& row) {
    clearRow(row);
    const int mid = NX / 2;
    double* a = row.slot;

    if (IsDesignRow(i, NX, k, designFlag, firstOnly, L)) {
        // Prescribed tangential potential increment along the surface.
        a[1] = 1.0;
        if (i < mid) {
            row.res = phi(i + 1, 1) - phi(i, 1) - ptc(i);
            a[3] = -1.0;
        } else {
            row.res = phi(i - 1, 1) - phi(i, 1) - ptc(i);
            a[2] = -1.0;
        }
        return;
    }

    // Half cell on the wall with the transpiration flux.  The half cells
    // of the two trailing-edge nodes end on the first face of the cut,
    // which is no wall: the flux through it is that of the cut face.
    double vE, vW;
    WallTranspiration(i, NX, vE, vW);
    const int E = i, W = i - 1;
    const bool upperTE = i == k, lowerTE = i == NX - k;
    row.res = northFlux(i, 1);
    // The faces that end at the trailing edge take the corner flow's
    // correction (see TrailingEdgeFaceCorrections): the two halves of the first cut
    // face and the first surface face on each side.
    if (i == k || i == k + 1 || i == NX - k - 1 || i == NX - k) {
        double edge[4];
        TrailingEdgeFaceCorrections(k, NX, edge);
        if (E == k) row.res += edge[2];
        if (W == k) row.res -= edge[2];
        if (E == NX - k - 1) row.res += edge[3];
        if (W == NX - k - 1) row.res -= edge[3];
        if (upperTE) row.res -= edge[0];
        if (lowerTE) row.res -= edge[1];
    }
    if (lowerTE) {
        row.res += TrailingEdgeCutOutflow(i, NX, k);
    } else {
        row.res += 0.5 * rhoi(E, 1) * (aji(E, 1) / g22i(E, 1)) * (phi(i + 1, 1) - phi(i, 1)) -
                   0.5 * vE * rhoi(E, 1) / aji(E, 1);
    }
    if (upperTE) {
        row.res += TrailingEdgeCutOutflow(i, NX, k);
    } else {
        row.res -= 0.5 * rhoi(W, 1) * (aji(W, 1) / g22i(W, 1)) * (phi(i, 1) - phi(i - 1, 1)) +
                   0.5 * vW * rhoi(W, 1) / aji(W, 1);
    }

    const double e = 0.5 * (cfi(E, 1) - dsi(i - 1, 1));
    const double w = 0.5 * (cfi(W, 1) - dri(i, 1));
    const double x = 0.25 * rhoj(i, 1) * g12j(i, 1) / ajj(i, 1);
    a[1] = e + w + cfj(i, 1);
    a[2] = -w;
    a[3] = -e;
    a[4] = -cfj(i, 1);
    // The upwind terms belong to the half-cell xi-fluxes, like e and w.
    a[7] = 0.5 * dri(i - 1, 1);
    a[8] = -0.5 * dsi(i, 1);
    a[11] = x;
    a[12] = -x;
    // The cross derivative of a trailing-edge cut face: this side's
    // line-2 nodes, the circulation, and the other side's line-2 nodes in
    // the partner slots of the cut rows (5 for the node NX-i, 13 and 14
    // for NX-i+1 and NX-i-1).
    if (upperTE) {
        const double xW = crossI(W, 1, w);
        a[4] += xW;
        a[11] += xW;
        a[5] = -xW;
        a[13] = -xW;
        a[0] = -2.0 * xW;
    } else if (lowerTE) {
        const double xE = crossI(E, 1, e);
        a[4] -= xE;
        a[12] -= xE;
        a[5] = xE;
        a[14] = xE;
        a[0] = -2.0 * xE;
    }
}

double TrailingEdgeCutOutflow(const int& i, const int& NX, const int& k) {
    // Across the cut the potential is higher on the lower side by the
    // circulation; the face's eta-derivative is the central one of the
    // two line-2 pairs, as in the cut rows.
    const double circ = Circulation(NX, k);
    if (i == k) {
        const int p = NX - k;  // the same point on the lower side
        const double pEta =
            0.25 * (phi(k - 1, 2) + phi(k, 2) - phi(p + 1, 2) - phi(p, 2) + 2.0 * circ);
        return -0.5 * eastFlux(k - 1, 1, pEta);
    }
    const double pEta = 0.25 * (phi(i, 2) + phi(i + 1, 2) - phi(k - 1, 2) - phi(k, 2) - 2.0 * circ);
    return 0.5 * eastFlux(i, 1, pEta);
}

// ---------------------------------------------------------------------
// Start of a level and far field
// ---------------------------------------------------------------------

void InitialiseFlowArrays(const int& NY, const int& NX) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) ent(i, j) = 0.0;
    for (int i = 0; i <= NX - 1; ++i) {
        vfx(i) = 0.0;
        vwk(i) = 0.0;
        for (int j = 1; j <= NY - 1; ++j) {
            rhoi(i, j) = 1.0;
            rhoj(i, j) = 1.0;
            cfi(i, j) = g11i(i, j) / aji(i, j);
            if (i >= 1) cfj(i, j) = g22j(i, j) / ajj(i, j);
            dsi(i, j) = 0.0;
            dri(i, j) = 0.0;
        }
    }
}

void FarFieldValues(const int& k, const int& NX, const int& NY, const double& cu,
                    const double& su) {
    // Free stream plus the vortex of the current circulation.
    const double circ = Circulation(NX, k);
    // The vortex sits at x = 0, but the circulation is bound along the
    // chord: the section's far field is that of the vortex at the centre
    // of the bound circulation, which to the next order in 1/r is the
    // vortex at x = 0 plus a doublet of strength equal to the first moment
    // of the bound circulation about x = 0.  With the jump of the
    // potential across the section, dG(x) = phi_lower(x) - phi_upper(x)
    // (0 at the leading edge, circ at the trailing edge), that moment is
    // the integral of x dG = circ x_TE - (integral of dG dx).  Without
    // the doublet the far boundary, some seven chords out, sees the lift
    // at the leading edge instead of near its centre of pressure, which
    // for a cambered section biases the lift by about half a per cent.
    const int mid = NX / 2;
    double upper = 0.0, lower = 0.0;  // integrals of phi dx over the two surfaces
    for (int i = k; i < mid; ++i)
        upper += 0.5 * (phi(i, 1) + phi(i + 1, 1)) * (xg(i, 1) - xg(i + 1, 1));
    for (int i = mid; i < NX - k; ++i)
        lower += 0.5 * (phi(i, 1) + phi(i + 1, 1)) * (xg(i + 1, 1) - xg(i, 1));
    const double moment = circ * xg(k, 1) - (lower - upper);
    // The section's volume displaces the stream: a doublet along the chord
    // of strength (chordwise free stream) x (area) / (2 pi beta), that of
    // the sources of the thickness in linear theory.  Its strength follows
    // from the grid alone, so the boundary values add no coupling to the
    // Newton matrix.  Without it the flow round the whole section is some
    // 1e-3 in Cp too slow and the lift 0.06 to 0.08 per cent low.
    double area = 0.0;  // the contour integral of x dy, anticlockwise round the body
    for (int i = k; i < NX - k; ++i)
        area += 0.5 * (xg(i, 1) + xg(i + 1, 1)) * (yg(i + 1, 1) - yg(i, 1));
    const double volume = cu * area;
    for (int i = 0; i <= NX; ++i) {
        phi(i, NY) =
            cu * xg(i, NY) + su * yg(i, NY) + circ * ffo(i) + moment * fdo(i) + volume * fto(i);
    }
    if (NY < 2) return;
    for (int j = 1; j <= NY - 1; ++j) {
        phi(0, j) =
            cu * xg(0, j) + su * yg(0, j) + circ * ff0(j) + moment * fd0(j) + volume * ft0(j);
        phi(NX, j) =
            cu * xg(NX, j) + su * yg(NX, j) + circ * ffn(j) + moment * fdn(j) + volume * ftn(j);
    }
}

// ---------------------------------------------------------------------
// Exact Newton matrix
// ---------------------------------------------------------------------

namespace {

// The face arrays that Residuals fills, kept for the base potential and
// put back at the end instead of being computed once more.
GridArray* const faceArrays[] = {&rhoi, &rsi, &cfi, &dsi,  &dri, &shk,
                                 &ssw,  &ssc, &sse, &rhoj, &cfj};
constexpr int kFaceArrays = sizeof(faceArrays) / sizeof(faceArrays[0]);

}  // namespace

// What ExactRows keeps from call to call.
struct ExactRowsWorkspace::Data {
    FaceReuseState faces;
    GridArray baseFaces[kFaceArrays];
    GridArray baseRes, colourRes, rowScale, basePhi;
    // Nodes of the colours (colourFirst[c] .. colourFirst[c + 1] - 1).
    std::vector<int> colourFirst;
    std::vector<std::pair<int, int>> colourNodes;
    // The lines a colour changes.
    std::vector<unsigned char> colourLines;

    // The kept copy of face array a.
    const GridArray& kept(const GridArray& a) const {
        int n = 0;
        while (faceArrays[n] != &a) ++n;
        return baseFaces[n];
    }
    // Copies lines 1 .. NY, columns 0 .. NX, of the face arrays into the
    // kept ones (save) or back.
    void copyFaceArrays(const bool save, const int NX, const int NY) {
        for (int a = 0; a < kFaceArrays; ++a) {
            GridArray& copy = baseFaces[a];
            GridArray& face = *faceArrays[a];
            for (int j = 1; j <= NY; ++j) {
                double* to = save ? &copy(0, j) : &face(0, j);
                const double* from = save ? &face(0, j) : &copy(0, j);
                std::memcpy(to, from, sizeof(double) * (NX + 1));
            }
        }
    }
};

ExactRowsWorkspace::ExactRowsWorkspace() = default;
ExactRowsWorkspace::~ExactRowsWorkspace() = default;

ExactRowsWorkspace::Data& ExactRowsWorkspace::data() {
    if (!data_) data_.reset(new Data());
    return *data_;
}

namespace {

// Bit-for-bit equality of two numbers.
bool same(double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

using exact::RowsCase;

// Unscaled residual of every unknown node (with its share of the
// shock-point correction), the densities computed from phi with the
// circulation circ; with diag, also the diagonal of the approximate row
// (the scale of the stored rows).  Only the i-face lines and the rows of
// the lines jFirst .. jLast are computed (a residual of line j depends on
// the i-faces of line j alone); the others keep what they hold.
// With base, the residuals of the base potential whose face arrays
// baseFaces holds: an interior row whose stencil holds no perturbed node
// (touchedRows) and whose face densities and shock term are those of the
// base has the base's residual, and takes it.
void Residuals(ExactRowsWorkspace::Data& w, const RowsCase& rc, const double circ, GridArray& res,
               GridArray* diag, const std::vector<unsigned char>* jLines = nullptr, int jFirst = 1,
               int jLast = -1, const GridArray* base = nullptr) {
    const int NY = rc.NY, k = rc.k, NX = rc.NX;
    if (jLast < 0) jLast = NY - 1;
    // With jLines, the j-face densities of the lines i it marks only; the
    // others hold those of the potential at hand already.
    for (int i = 1; i <= NX - 1; ++i)
        if (!jLines || (*jLines)[i]) jFaceDensities(i, NY, rc.mach, rc.gamma, rc.s2, &w.faces);
    for (int j = jFirst; j <= jLast; ++j)
        iFaceDensities(j, k, NX, circ, rc.mach, rc.gamma, rc.s2, &w.faces);
    Row row;
    auto store = [&](int i, int j, double share) {
        const double shock = share * shk(i, j);
        res(i, j) = row.res + shock;
        if (diag) (*diag)(i, j) = row.slot[1] - (shock != 0.0 ? share * ssc(i, j) : 0.0);
    };
    const GridArray &baseRhoi = w.kept(rhoi), &baseShk = w.kept(shk), &baseRhoj = w.kept(rhoj);
    auto unchanged = [&](int i, int j) {
        if (w.faces.touchedRow(i, j)) return false;
        return same(rhoi(i, j), baseRhoi(i, j)) && same(rhoi(i - 1, j), baseRhoi(i - 1, j)) &&
               same(rhoj(i, j), baseRhoj(i, j)) && same(rhoj(i, j - 1), baseRhoj(i, j - 1)) &&
               same(shk(i, j), baseShk(i, j));
    };
    for (int j = std::max(jFirst, 2); j <= jLast; ++j)
        for (int i = 1; i <= NX - 1; ++i) {
            if (base && unchanged(i, j)) {
                res(i, j) = (*base)(i, j);
                continue;
            }
            if (diag) {
                InteriorRow(NX, NY, i, j, row);
            } else {
                row.res = InteriorResidual(i, j);  // the slots are not needed
            }
            store(i, j, 1.0);
        }
    if (jFirst > 1) return;
    for (int i = 1; i <= k - 1; ++i) {
        WakeRow(i, NX, k, circ, row);
        store(i, 1, 1.0);
    }
    for (int i = k; i <= NX - k; ++i) {
        BodyRow(i, NX, k, rc.designFlag, rc.firstOnly, rc.L, row);
        store(i, 1, IsDesignRow(i, NX, k, rc.designFlag, rc.firstOnly, rc.L) ? 0.0 : 0.5);
    }
}

// Reach of a residual along the grid lines: the upwind density of a face
// comes from its upstream neighbour, and the shock-point correction of a
// face looks up to three faces upstream for the end of the supersonic
// region; across the lines a residual reaches one node.
constexpr int kReach = 3;
constexpr int kPeriod = 2 * kReach + 1;

// Colour of node (i, j) for the differenced columns: nodes of one colour
// are `period` apart along the lines or three across them, so that no
// residual depends on two of them.  Near the trailing edge the rows of
// line 1 also reach lines 1 and 2 across the cut (the wake-cut faces'
// cross derivative, and the second side's line-1 faces, which are the
// first side's seen backwards): there node p of the second side acts as
// node NX-p of the first.  The nodes of lines 1 and 2 at the second side
// therefore have colours of their own, counted from the cut's far end, up
// to `period` nodes beyond the trailing edge.  There are 5 period colours.
int Colour(const int i, const int j, const int NX, const int k, const int period) {
    if (j <= 2 && i >= NX - k - period) return 3 * period + (NX - i) % period + period * (j - 1);
    return i % period + period * (j % 3);
}

// Residuals and row scales of the base potential, its face states
// recorded for the passes of the colours, its face arrays and potential
// kept.
void baseResiduals(ExactRowsWorkspace::Data& w, const RowsCase& rc, double circ) {
    FaceReuseState& faces = w.faces;
    faces.faceRecords.resize(kGridSize);
    faces.movedNodes.assign(kGridSize, 0);
    faces.touchedRows.assign(kGridSize, 0);
    faces.touchedIFaces.assign(kGridSize, 0);
    faces.touchedJFaces.assign(kGridSize, 0);
    faces.mode = FaceReuse::Record;
    Residuals(w, rc, circ, w.baseRes, &w.rowScale);
    faces.mode = FaceReuse::None;
    w.copyFaceArrays(true, rc.NX, rc.NY);
    for (int j = 1; j <= rc.NY; ++j)
        for (int i = 0; i <= rc.NX; ++i) w.basePhi(i, j) = phi(i, j);
}

// The nodes of each colour, in one list ordered by colour (colourNodes,
// colour c from colourFirst[c]); returns the number of colours.
int colourLists(ExactRowsWorkspace::Data& w, const RowsCase& rc, int period) {
    const int NX = rc.NX, NY = rc.NY, k = rc.k;
    const int colours = 5 * period;
    std::vector<int>& first = w.colourFirst;
    std::vector<std::pair<int, int>>& nodes = w.colourNodes;
    first.assign(colours + 1, 0);
    nodes.resize(static_cast<size_t>(NY) * (NX + 1));
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) ++first[Colour(i, j, NX, k, period) + 1];
    for (int c = 0; c < colours; ++c) first[c + 1] += first[c];
    std::vector<int> next(first.begin(), first.end() - 1);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) nodes[next[Colour(i, j, NX, k, period)]++] = {i, j};
    return colours;
}

// The columns of the nodes of one colour: the nodes are perturbed
// together, the residuals they can change computed once, and each node
// gives its column to the rows within its reach.
void colourColumns(ExactRowsWorkspace::Data& w, const RowsCase& rc, double circ, double step,
                   double xTE, int colour) {
    const int NX = rc.NX, NY = rc.NY, k = rc.k;
    const int begin = w.colourFirst[colour], end = w.colourFirst[colour + 1];
    const GridArray &basePhi = w.basePhi, &baseRes = w.baseRes, &rowScale = w.rowScale;
    GridArray& colourRes = w.colourRes;
    FaceReuseState& faces = w.faces;
    // The j-face densities of line i depend on the potential of lines
    // i-1 .. i+1 only: a colour leaves those of most lines as they are at
    // the base potential, and only the lines next to its nodes are
    // computed anew (and put back afterwards).
    std::vector<unsigned char>& jLines = w.colourLines;
    jLines.assign(NX + 1, 0);
    int qFirst = NY, qLast = 1;
    for (int n = begin; n < end; ++n) {
        const auto [p, q] = w.colourNodes[n];
        phi(p, q) = basePhi(p, q) + step * std::fmax(1.0, std::fabs(basePhi(p, q)));
        for (int i = std::max(p - 1, 1); i <= std::min(p + 1, NX - 1); ++i) jLines[i] = 1;
        qFirst = std::min(qFirst, q);
        qLast = std::max(qLast, q);
        faces.markMoved(p, q, 1);
    }
    // The residuals that can change are those of the lines next to the
    // perturbed nodes (the colours of the trailing-edge region hold
    // nodes of lines 1 and 2 only); the rows taken below lie there.
    faces.mode = FaceReuse::Reuse;
    Residuals(w, rc, circ, colourRes, nullptr, &jLines, std::max(qFirst - 1, 1),
              std::min(qLast + 1, NY - 1), &baseRes);
    faces.mode = FaceReuse::None;
    const GridArray& baseRhoj = w.kept(rhoj);
    for (int i = 1; i <= NX - 1; ++i)
        if (jLines[i])
            for (int j = 1; j <= NY - 1; ++j) rhoj(i, j) = baseRhoj(i, j);
    // Each perturbed node gives its column to the rows within their
    // reach: along the lines kReach nodes, across them one, and, near
    // the trailing edge, the line-1 rows across the cut.
    for (int n = begin; n < end; ++n) {
        const auto [p, q] = w.colourNodes[n];
        const double h = phi(p, q) - basePhi(p, q);
        auto take = [&](int i, int j) {
            if (!exact::IsUnknownRow(rc, i, j)) return;
            exact::AddEntry(rc, xTE, i, j, p, q,
                            -(colourRes(i, j) - baseRes(i, j)) / h / rowScale(i, j));
        };
        for (int j = std::max(q - 1, 1); j <= std::min(q + 1, NY - 1); ++j)
            for (int i = std::max(p - kReach, 1); i <= std::min(p + kReach, NX - 1); ++i)
                take(i, j);
        if (q <= 2) {
            for (int i = std::max(NX - p - kReach, 1); i <= std::min(NX - p + kReach, NX - 1); ++i)
                if ((i <= k + kReach || i >= NX - k - kReach) && (p < i - kReach || p > i + kReach))
                    take(i, 1);
        }
        phi(p, q) = basePhi(p, q);
        faces.markMoved(p, q, 0);
    }
}

// The column of the circulation as it enters the wake-cut faces and rows.
void circulationColumn(ExactRowsWorkspace::Data& w, const RowsCase& rc, double circ) {
    const double hc = 1.0e-7;
    // The j-faces do not see the circulation, and of the i-faces only those
    // of line 1 (the cut faces): the rows of lines 3 and beyond keep their
    // residuals exactly, their differences vanish and add nothing.
    w.colourLines.assign(rc.NX + 1, 0);
    const int circLast = std::min(2, rc.NY - 1);
    Residuals(w, rc, circ + hc, w.colourRes, nullptr, &w.colourLines, 1, circLast);
    for (int j = 1; j <= circLast; ++j)
        for (int i = 1; i <= rc.NX - 1; ++i)
            if (exact::IsUnknownRow(rc, i, j))
                adg(i, j) += (w.colourRes(i, j) - w.baseRes(i, j)) / hc / w.rowScale(i, j);
}

}  // namespace

const GridArray& ExactRowScales(const int& NY, const int& k, const int& NX, const double& mach,
                                const double& gamma, const double& s2, const int& designFlag,
                                const int& firstOnly, const int& L, ExactRowsWorkspace& work) {
    ExactRowsWorkspace::Data& w = work.data();
    const RowsCase rc{NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L};
    w.faces.mode = FaceReuse::None;
    Residuals(w, rc, Circulation(NX, k), w.baseRes, &w.rowScale);
    return w.rowScale;
}

void ExactRowsByDifferences(const int& NY, const int& k, const int& NX, const double& mach,
                            const double& gamma, const double& s2, const int& designFlag,
                            const int& firstOnly, const int& L, ExactRowsWorkspace& work,
                            const double& step) {
    ExactRowsWorkspace::Data& w = work.data();
    const RowsCase rc{NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L};
    const double circ = Circulation(NX, k);
    baseResiduals(w, rc, circ);
    exact::ClearRowsAndMomentWeights(rc);
    const double xTE = xg(k, 1);
    // The colours hold as long as the rows near the trailing edge reach no
    // node of the other side's colours on their own side, i.e. the section
    // has more than period + 2 kReach panels; on smaller grids every node
    // of a line has a colour of its own.
    const int period = NX - 2 * k > kPeriod + 2 * kReach ? kPeriod : NX + 1;
    const int colours = colourLists(w, rc, period);
    for (int colour = 0; colour < colours; ++colour)
        if (w.colourFirst[colour] != w.colourFirst[colour + 1])
            colourColumns(w, rc, circ, step, xTE, colour);
    circulationColumn(w, rc, circ);
    // The face arrays of the potential itself, as the first pass left them.
    w.copyFaceArrays(false, NX, NY);
}

}  // namespace quarel
