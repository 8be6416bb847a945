// The place of each entry of the exact Newton matrix in the stored rows
// (ad1 .. ad9, adm, adp, adg, adq, fmw and extraCouplings), shared by the
// two ways of forming it (exact_rows.cpp, operator.cpp).
#pragma once

namespace quarel::exact {

// The arguments of one ExactRows call.
struct RowsCase {
    int NY, k, NX;
    double mach, gamma, s2;
    int designFlag, firstOnly, L;
};

// Clears the stored rows, which are rebuilt, and sets the change of the
// first moment of the bound circulation per unit change of each body
// potential (see FarFieldValues), the circulation's share circ x_TE left
// to the circulation column.
//   rc [in]
void ClearRowsAndMomentWeights(const RowsCase& rc);

// Whether row (i, j) is the row of an unknown node.
//   rc, i, j [in]
bool IsUnknownRow(const RowsCase& rc, int i, int j);

// Adds D = -dR(i, j)/dphi(p, q) / scale of row (i, j) to the stored rows:
// the slot of (p, q) in the row's stencil, the circulation and the body
// potentials for a far-field node, or an extra coupling.
//   rc [in]; xTE [in] x of the trailing edge; i, j, p, q, D [in]
void AddEntry(const RowsCase& rc, double xTE, int i, int j, int p, int q, double D);

}  // namespace quarel::exact
