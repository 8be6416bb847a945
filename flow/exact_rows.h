// The exact Newton matrix from the derivatives of the face states.
//
// Every residual is a sum of face fluxes and shock-point terms.  The state
// of a face (isentropic and sonic-flux density, mass flux, Mach number,
// entropy-jump flux) is a function of the two potential gradients of that
// face alone; the upwind-biased density and the shock-point term combine
// the states of a few faces of a line.  The derivatives of the states with
// respect to their face's gradients are carried with the values (forward
// mode, FaceDual), combined into the derivative of each row, and spread
// over the nodes each gradient is made of.  Where the
// operator switches (upwind direction, sonic test, the cases and the
// max(0, .) of the shock-point term, the trailing-edge turning limits) the
// derivative is that of the branch the present potential takes.
#pragma once

#include "matrix_entries.h"
#include "state.h"

namespace quarel::exact {

// A value with its derivatives with respect to the xi- (x) and
// eta-derivative (e) of the potential on one face.
struct FaceDual {
    double v = 0.0, x = 0.0, e = 0.0;
};

// One i-face with the derivatives of what the residual takes from it.
struct FaceDerivative {
    FaceDual sonic;   // the sonic-flux density (the density where subsonic)
    FaceDual flux;    // normalised mass flux (1 where subsonic)
    FaceDual rs;      // isentropic density
    FaceDual m2;      // xi-Mach number squared
    FaceDual jump;    // entropy-jump flux (where m2 > 1)
    FaceDual turn;    // 1 - cfi J/(rhoi g11), for the trailing-edge turning
    FaceDual q2;      // speed squared
    FaceDual ent;     // flux factor of the face's entropy (1 without)
    double uj = 0.0;  // U/J
    double g = 0.0;   // g11 pXi + g12 pEta
    bool sup = false;
    // The face whose gradients the derivatives are taken in: the face
    // itself, or on line 1 for the second side of the cut the first-side
    // face it mirrors.
    int src = 0;
};

// d(eta-flux)/d(pEta) and d(eta-flux)/d(pXi) of one j-face.
struct JFaceDerivative {
    double eta = 0.0, xi = 0.0;
};

// Storage of DerivativeRows: the i-faces of one line, the j-faces of two.
struct DerivativeWork {
    FaceDerivative faces[kMaxNX + 1];
    JFaceDerivative jFaces[2][kMaxNX + 1];
};

// Adds -dR/dphi / scale (and dR/dGamma / scale in adg) of every unknown
// row to the cleared stored rows, R the residual that the face arrays of
// phi (as IFaceDensities and JFaceDensities leave them) give, its share
// of the shock-point term included.
//   work [out] scratch; rc [in]; circ [in] circulation; scale [in] the
//   scale of each row
void DerivativeRows(DerivativeWork& work, const RowsCase& rc, const double& circ,
                    const GridArray& scale);

}  // namespace quarel::exact
