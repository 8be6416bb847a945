// Surface results of the potential: velocities on the body line, pressure
// coefficients, lift from the pressure integral, wave drag from the
// upwind and entropy terms of the scheme, the local Mach-number field,
// the maximum thickness of the section and the transfer of a coarse
// solution to the fine grid.  (The solution files are written in
// solution_files.cpp.)
#include "SRV11.h"

#include <cmath>
#include <string>

#include "gas.h"
#include "message.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

// Transpiration of body face i: the second half of the contour uses the
// shifted slot.
double wallV(int i, int NX) {
    return i < NX / 2 ? vfx(i) : vfx(i + 1);
}

}  // namespace

void FaceVelocity(const int& i, const int& k, const int& NX, const double& vw, double& U, double& V,
                  double& u, double& v, double& q2) {
    const double circ = Circulation(NX, k);
    const double pXi = phi(i + 1, 1) - phi(i, 1);
    double pEta;
    if (i < k - 1) {
        // First side of the cut: the row below is the other side, whose
        // potential is higher by the circulation.
        pEta =
            0.25 * (2.0 * circ + phi(i + 1, 2) + phi(i, 2) - phi(NX - i - 1, 2) - phi(NX - i, 2));
    } else if (i > NX - k) {
        pEta =
            0.25 * (phi(i + 1, 2) + phi(i, 2) - phi(NX - i - 1, 2) - phi(NX - i, 2) - 2.0 * circ);
    } else {
        // Wall condition: the contravariant normal velocity is vw.
        pEta = (vw - g12i(i, 1) * pXi) / g22i(i, 1);
    }
    U = g12i(i, 1) * pEta + g11i(i, 1) * pXi;
    V = g22i(i, 1) * pEta + g12i(i, 1) * pXi;
    q2 = pEta * V + pXi * U;
    // Velocity vector U r_xi + V r_eta with the one-sided r_eta of the
    // body line.
    u = (xg(i + 1, 1) - xg(i, 1)) * U +
        0.5 * (xg(i + 1, 2) + xg(i, 2) - xg(i + 1, 1) - xg(i, 1)) * V;
    v = (yg(i + 1, 1) - yg(i, 1)) * U +
        0.5 * (yg(i + 1, 2) + yg(i, 2) - yg(i + 1, 1) - yg(i, 1)) * V;
}

namespace {

// The wave-drag sum over the i-face lines: the x-velocity u, averaged over
// two neighbouring faces, times the difference of their biasing flux
// defects Q = (rho - rho_isentropic) U / J (the face densities must be
// those of phi).
double waveDragSum(int NY, int k, int NX) {
    double CD = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        const double weight = j == 1 ? 1.0 : 2.0;  // the body line is a half cell
        double lastQ = 0.0, lastU = 0.0;
        for (int f = 0; f <= NX - 1; ++f) {
            double U, u;
            if (j == 1) {
                double V, v, q2;
                FaceVelocity(f, k, NX, wallV(f, NX), U, V, u, v, q2);
            } else {
                const double pXi = phi(f + 1, j) - phi(f, j);
                const double pEta =
                    0.25 * (phi(f, j + 1) + phi(f + 1, j + 1) - phi(f, j - 1) - phi(f + 1, j - 1));
                U = g11i(f, j) * pXi + g12i(f, j) * pEta;
                const double V = g12i(f, j) * pXi + g22i(f, j) * pEta;
                const double xXi = xg(f + 1, j) - xg(f, j);
                const double xEta =
                    0.25 * (xg(f + 1, j + 1) + xg(f, j + 1) - xg(f + 1, j - 1) - xg(f, j - 1));
                u = xXi * U + xEta * V;
            }
            const double Q = (rhoi(f, j) - rsi(f, j)) * U / aji(f, j);
            if (f >= 1) CD += weight * 0.5 * (lastU + u) * (Q - lastQ);
            lastQ = Q;
            lastU = u;
        }
    }
    return CD;
}

}  // namespace

void SurfaceResults(const int& NY, const int& k, const int& NX, const double& mach,
                    const double& gamma, double& CD, double& CL, const double& cu, const double& su,
                    const double& liftRef, const double& s2, const EntropyOptions& entropy,
                    double& cpStar) {
    const double m2 = mach * mach;
    UpdateEntropyField(entropy, NY, k, NX, mach, gamma, s2);
    const FlowConstants c = MakeFlowConstants(mach, gamma, s2);
    const double gexp = gamma / (gamma - 1.0);

    // Pressure coefficient at sonic speed (not meaningful at very low Mach
    // numbers, where the previous value is kept).
    if (mach > static_cast<double>(0.1f)) {
        cpStar = 2.0 *
                 (std::pow(2.0 / (gamma + 1.0) * (1.0 + 0.5 * (gamma - 1.0) * m2), gexp) - 1.0) /
                 (gamma * m2);
    }

    // Surface pressures; beyond local Mach 3 the pressure of the limit.
    for (int i = 0; i <= NX - 1; ++i) {
        double U, V, u, v, q2;
        FaceVelocity(i, k, NX, wallV(i, NX), U, V, u, v, q2);
        if (mach == 0.0) {
            cpf(i) = 1.0 - q2 - s2;
        } else {
            const double r = (q2 + s2 <= c.q3sq) ? 1.0 - q2 - s2 : 1.0 - c.q3sq;
            // The isentropic law of the potential's speed; in the
            // non-isentropic model too (entropy.h), whose potential
            // gives the pressure that way.
            const double p = std::pow(1.0 + c.kappa * r, gexp);
            cpf(i) = 2.0 * (p - 1.0) / (gamma * m2);
        }
        qsf(i) = std::sqrt(q2);
        q2f(i) = q2;
    }
    if (CL != 0.0) return;

    CL = IntegratedLift(cpf.data(), k, NX, cu, su, liftRef);

    if (mach == 0.0) return;

    // Wave drag: the momentum defect of the upwind-biased mass flux.
    const double circ = Circulation(NX, k);
    for (int j = 1; j <= NY - 1; ++j) IFaceDensities(j, k, NX, circ, mach, gamma, s2);
    CD = waveDragSum(NY, k, NX);
}

double IntegratedLift(const double* f, const int& k, const int& NX, const double& cu,
                      const double& su, const double& liftRef) {
    double sx = 0.0, sy = 0.0;
    for (int i = k; i <= NX - k - 1; ++i) {
        sx += f[i] * (xg(i + 1, 1) - xg(i, 1));
        sy += f[i] * (yg(i + 1, 1) - yg(i, 1));
    }
    return (cu * sx + su * sy) / liftRef;
}

void PressureForces(const int& k, const int& NX, const double& cu, const double& su,
                    const double& liftRef, double& cmoment, double& cdragPressure) {
    // The body faces run anticlockwise round the section (upper trailing
    // edge, leading edge, lower trailing edge), so the pressure force per
    // unit dynamic pressure is (-sum Cp dy, sum Cp dx) and its moment
    // about the quarter chord, anticlockwise, is sum Cp ((x - 1/4) dx +
    // y dy); nose up is clockwise.
    double sx = 0.0, sy = 0.0, sm = 0.0;
    for (int i = k; i <= NX - k - 1; ++i) {
        const double dx = xg(i + 1, 1) - xg(i, 1);
        const double dy = yg(i + 1, 1) - yg(i, 1);
        const double xm = 0.5 * (xg(i + 1, 1) + xg(i, 1));
        const double ym = 0.5 * (yg(i + 1, 1) + yg(i, 1));
        sx += cpf(i) * dx;
        sy += cpf(i) * dy;
        sm += cpf(i) * ((xm - 0.25) * dx + ym * dy);
    }
    // The lift and the drag carry the cos(sweep) of cu and su over the
    // lift reference; the moment carries it too, so that on a swept wing
    // all four scale alike against the normal section.
    cmoment = -sm * std::hypot(cu, su) / liftRef;
    // Drag: the force component along the free stream (cu, su).
    cdragPressure = (su * sx - cu * sy) / liftRef;
}

void MachField(const double& gamma, const double& mach2, const double& s2, const int& k,
               const int& NY, const int& NX) {
    // Body line and cut, without transpiration.
    for (int i = 0; i <= NX - 1; ++i) {
        double U, V, u, v, q2;
        FaceVelocity(i, k, NX, 0.0, U, V, u, v, q2);
        const double a2 = SoundSpeed2(mach2, gamma, q2, s2);
        amach(i, 1) = std::sqrt(q2 / a2);
    }
    for (int j = 2; j <= NY - 1; ++j) {
        for (int i = 0; i <= NX - 1; ++i) {
            const double pXi = phi(i + 1, j) - phi(i, j);
            const double pEta =
                0.25 * (phi(i, j + 1) + phi(i + 1, j + 1) - phi(i, j - 1) - phi(i + 1, j - 1));
            const double q2 = pXi * (g11i(i, j) * pXi + g12i(i, j) * pEta) +
                              pEta * (g12i(i, j) * pXi + g22i(i, j) * pEta);
            const double a2 = SoundSpeed2(mach2, gamma, q2, s2);
            amach(i, j) = std::sqrt(q2 / a2);
        }
    }
}

void MaxThickness(const int& k, const int& NX, const int& iMid, int& iMax, double& dMax) {
    iMax = k;
    dMax = yg(k, 1) - yg(NX - k, 1);
    for (int i = k + 1; i <= iMid; ++i) {
        const double d = yg(i, 1) - yg(NX - i, 1);
        if (d > dMax) {
            dMax = d;
            iMax = i;
        }
    }
}

namespace {

// Fine node m between the known nodes a and b of the same grid line:
// linear interpolation in arc length (straight-line distances).
void interpolate(int im, int jm, int ia, int ja, int ib, int jb) {
    const double sa = std::hypot(xgs(im, jm) - xgs(ia, ja), ygs(im, jm) - ygs(ia, ja));
    const double sb = std::hypot(xgs(ib, jb) - xgs(im, jm), ygs(ib, jb) - ygs(im, jm));
    phis(im, jm) = (phis(ib, jb) * sa + phis(ia, ja) * sb) / (sa + sb);
}

}  // namespace

void CoarseToFine(const int& NXf, const int& NYf, const int& d) {
    if (d < 1 || (d & (d - 1)) != 0) {
        throw ParameterError("Coarsening factor " + std::to_string(d) +
                             " is not supported (a power of two: 1, 2, 4, 8, ...).");
    }
    if (d == 1) {
        for (int j = 1; j <= NYf; ++j)
            for (int i = 0; i <= NXf; ++i) phis(i, j) = phi(i, j);
        return;
    }

    // Injection of the coarse nodes.
    for (int jc = 1; jc <= (NYf - 1) / d + 1; ++jc)
        for (int ic = 0; ic <= NXf / d; ++ic) phis(d * ic, d * (jc - 1) + 1) = phi(ic, jc);

    // Then halving the spacing until every node is set: at spacing h the
    // midpoints of the known nodes 2h apart along the lines j = 1 + m 2h,
    // then along j the rows between them.
    for (int h = d / 2; h >= 1; h /= 2) {
        for (int j = 1; j <= NYf; j += 2 * h)
            for (int i = 0; i <= NXf - 2 * h; i += 2 * h) interpolate(i + h, j, i, j, i + 2 * h, j);
        for (int j = 1 + h; j <= NYf - h; j += 2 * h)
            for (int i = 0; i <= NXf; i += h) interpolate(i, j, i, j - h, i, j + h);
    }
}

}  // namespace quarel
