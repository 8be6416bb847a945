// Design transpiration update.
//
// On the design stretches the Newton step prescribes the tangential
// potential increments, so the wall condition no longer holds there.  The
// flux defect D of each body half cell (the xi-fluxes of its two half
// faces and the eta-flux through its top, with the wall flux left out) is
// the mass the prescribed flow would push through the wall.  Averaged to
// the faces and divided by the density it gives the transpiration V that
// carries it; V/U is the angle by which the surface would have to turn
// for the flow to follow it without transpiration: the slope change the
// design driver integrates into new ordinates.
#include "FLUX1.h"

#include <cmath>
#include <vector>

#include "SRV11.h"
#include "constants.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

// Geometry of body face i: dx along the surface and the one-sided x_eta.
double faceDx(int i) {
    return xg(i + 1, 1) - xg(i, 1);
}
double faceXEta(int i) {
    return 0.5 * (xg(i + 1, 2) + xg(i, 2) - xg(i + 1, 1) - xg(i, 1));
}

// Contravariant tangential velocity of face i with wall transpiration vw.
double tangential(int i, int k, int NX, double vw) {
    double U, V, u, v, q2;
    FaceVelocity(i, k, NX, vw, U, V, u, v, q2);
    return U;
}

// Flux defect of body node i with the transpiration vE, vW of its two
// faces E = i, W = i-1: the mass balance of the half cell without its wall
// face.  The half xi-fluxes are those of the face velocity with the wall
// condition: with phi_eta = (V - g12 phi_xi)/g22 the flux rho U/J becomes
// rho (J/g22) phi_xi + rho (g12/g22) V/J.  Its V part enters with the
// sign of its face (+E, -W), so the defect of a section and that of its
// mirror image are the same.
double fluxDefect(int i, double vE, double vW, int k, int NX) {
    const int E = i, W = i - 1;
    // A trailing-edge half cell ends on the first face of the wake cut,
    // whose flux is that of the cut face, as in the analysis rows.
    const double east =
        i == NX - k ? TrailingEdgeCutOutflow(i, NX, k)
                    : 0.5 * rhoi(E, 1) * (aji(E, 1) / g22i(E, 1)) * (phi(i + 1, 1) - phi(i, 1)) +
                          0.5 * vE * rhoi(E, 1) * (g12i(E, 1) / g22i(E, 1)) / aji(E, 1);
    const double west =
        i == k ? TrailingEdgeCutOutflow(i, NX, k)
               : -0.5 * rhoi(W, 1) * (aji(W, 1) / g22i(W, 1)) * (phi(i, 1) - phi(i - 1, 1)) -
                     0.5 * vW * rhoi(W, 1) * (g12i(W, 1) / g22i(W, 1)) / aji(W, 1);
    // The faces that end at the trailing edge carry the corner flow's
    // correction, as in the analysis rows.
    double edge = 0.0;
    if (i == k || i == k + 1 || i == NX - k - 1 || i == NX - k) {
        double corr[4];
        TrailingEdgeFaceCorrections(k, NX, corr);
        if (E == k) edge += corr[2];
        if (W == k) edge -= corr[2];
        if (E == NX - k - 1) edge += corr[3];
        if (W == NX - k - 1) edge -= corr[3];
        if (i == k) edge -= corr[0];
        if (i == NX - k) edge -= corr[1];
    }
    return east + west + edge + rhoj(i, 1) * (g22j(i, 1) / ajj(i, 1)) * (phi(i, 2) - phi(i, 1)) +
           0.25 * rhoj(i, 1) * (g12j(i, 1) / ajj(i, 1)) *
               (phi(i + 1, 2) + phi(i + 1, 1) - phi(i - 1, 2) - phi(i - 1, 1));
}

}  // namespace

double FaceSlope(const int& i, const double& vdu) {
    const double dx = faceDx(i);
    return ((vdu / aji(i, 1)) / dx) / (vdu * faceXEta(i) + dx);
}

double FaceAngle(const int& i, const double& slope) {
    const double dx = faceDx(i);
    return slope * dx / ((1.0 / aji(i, 1)) / dx - slope * faceXEta(i));
}

void DesignTranspiration(const int& NX, const int& k, const int& NY, const double& mach,
                         const double& gamma, const double& s2, const int& mode, const int& iT,
                         const int& L) {
    const int mid = NX / 2;

    // 1. Densities of the current potential on the faces of the body cells.
    if (mach > 0.0) {
        const double circ = Circulation(NX, k);
        for (int i = k; i <= NX - k - 1; ++i) JFaceDensities(i, NY, mach, gamma, s2);
        IFaceDensities(1, k, NX, circ, mach, gamma, s2);
    }

    // 2. No slope change between the design stretches.
    for (int i = L + 1; i <= mid - 1; ++i) vdu(i) = 0.0;
    for (int i = mid + 1; i <= NX - L - 1; ++i) vdu(i) = 0.0;

    // 3. Projected extents of the two design stretches (the whole surfaces
    // when they reach the leading edge).
    const double X1 = xg(L + 1, 1) - xg(k, 1);
    const double X2 = xg(NX - k, 1) - xg(NX - L - 1, 1);

    // 4. Flux defect of the body nodes, 0 at the leading edge.  The
    // trailing-edge nodes count as well: their balance carries the
    // loading of the trailing edge (with it left out, a lifting target
    // leaves the circulation of the designed section short and the
    // iteration stalls).  In compressible flow every half cell also
    // carries half the shock-point correction of its east face, as in the
    // wall row of the analysis: without it the defect of a section at its
    // own pressures would not vanish at a shock point.
    std::vector<double> D(static_cast<size_t>(NX + 1), 0.0);
    auto shock = [&mach](int i) { return mach > 0.0 ? 0.5 * shk(i, 1) : 0.0; };
    for (int i = k; i <= mid - 1; ++i)
        D[static_cast<size_t>(i)] = fluxDefect(i, vfx(i), vfx(i - 1), k, NX) + shock(i);
    if (mode == 0) {
        for (int i = mid + 1; i <= NX - k; ++i)
            D[static_cast<size_t>(i)] = fluxDefect(i, vfx(i + 1), vfx(i), k, NX) + shock(i);
    }
    auto defect = [&D](int i) { return D[static_cast<size_t>(i)]; };

    // 5. First stretch, from its leading end to the trailing edge.
    double A1 = 0.0;
    for (int i = L; i >= k; --i) {
        const double measured = 0.5 * (defect(i) + defect(i + 1)) * aji(i, 1) / rhoi(i, 1);
        vfx(i) = kTranspirationKeep * vfx(i) + kTranspirationTake * measured;
        const double U = tangential(i, k, NX, vfx(i));
        vdu(i) = vfx(i) / U;
        A1 += FaceSlope(i, vdu(i)) * faceDx(i);
    }

    if (mode == 0) {
        // 6. Second stretch (face i-1 .. i, transpiration slot i).
        double A2 = 0.0;
        for (int i = NX - L; i <= NX - k; ++i) {
            const double measured =
                0.5 * (defect(i - 1) + defect(i)) * aji(i - 1, 1) / rhoi(i - 1, 1);
            vfx(i) = kTranspirationKeep * vfx(i) + kTranspirationTake * measured;
            const double U = tangential(i - 1, k, NX, vfx(i));
            vdu(i) = vfx(i) / U;
            A2 += FaceSlope(i - 1, vdu(i)) * faceDx(i - 1);
        }
        // Closure: A1 and A2 are the displacements of the two trailing-edge
        // nodes; taking their mean off each stretch in proportion to x
        // moves both by the same amount, so the trailing edge stays closed.
        const double Abar = 0.5 * (A1 + A2);
        for (int i = L; i >= k; --i) {
            const double slope = FaceSlope(i, vdu(i)) - Abar / X1;
            vdu(i) = FaceAngle(i, slope);
            vfx(i) = tangential(i, k, NX, vfx(i)) * vdu(i);
        }
        for (int i = NX - L; i <= NX - k; ++i) {
            const double slope = FaceSlope(i - 1, vdu(i)) - Abar / X2;
            vdu(i) = FaceAngle(i - 1, slope);
            vfx(i) = tangential(i - 1, k, NX, vfx(i)) * vdu(i);
        }
    } else if (mode == 1) {
        // 7. The second surface takes the slope changes of the mirror faces
        // of the first: both move by the same ordinate at every x.
        for (int i = mid + 1; i <= NX - k; ++i) {
            const double slope = FaceSlope(NX - i, vdu(NX - i));
            vdu(i) = FaceAngle(i - 1, slope);
            vfx(i) = tangential(i - 1, k, NX, vfx(i)) * vdu(i);
        }
    } else if (mode == 2) {
        // 8. Displacement of the first surface at the trailing edge (Dte)
        // and at the maximum-thickness station (Dt).
        double Dte = 0.0, Dt = 0.0;
        for (int i = mid - 1; i >= k; --i) {
            Dte -= faceDx(i) * FaceSlope(i, vdu(i));
            if (i == iT) Dt = Dte;
        }
        // Half-sine slope changes of the second surface in two segments,
        // scaled so that its displacement is Dt at the maximum-thickness
        // station and Dte at the trailing edge: the maximum thickness and
        // the trailing-edge gap stay as they were.
        auto segment = [&](int first, int last, double x0, double len, double target) {
            double sum = 0.0;
            for (int i = first; i <= last; ++i)
                sum += std::sin(kPiSingle * (xg(i, 1) - x0) / len) * (xg(i, 1) - xg(i - 1, 1));
            // An empty segment (the maximum thickness outside the design
            // stretch) gets no change instead of a division by zero.
            const double a = sum != 0.0 ? target / sum : 0.0;
            for (int i = first; i <= last; ++i) {
                const double slope = a * std::sin(kPiSingle * (xg(i, 1) - x0) / len);
                vdu(i) = FaceAngle(i - 1, slope);
                vfx(i) = tangential(i - 1, k, NX, vfx(i)) * vdu(i);
            }
        };
        const double xA = xg(NX - L - 1, 1);
        segment(NX - L, NX - iT, xA, xg(NX - iT, 1) - xA, Dt);
        const double xB = xg(NX - iT, 1);
        segment(NX - iT + 1, NX - k, xB, xg(NX - k, 1) - xB, Dte - Dt);
    }
}

}  // namespace quarel
