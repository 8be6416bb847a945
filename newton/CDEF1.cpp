// Assembly of the Newton system: the scaled Jacobian rows and residuals of
// every unknown node, the factors of the line preconditioner and the
// block-tridiagonal system of the body and wake-cut line.
#include "CDEF1.h"

#include <cmath>
#include <string>

#include "fixedformat.h"
#include "message.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

// Kind of row, as printed in the breakdown line.
enum RowKind { kInterior = 1, kWakeCut = 2, kBody = 3 };

const char* KindName(int kind) {
    switch (kind) {
        case kInterior:
            return "interior";
        case kWakeCut:
            return "wake-cut";
        default:
            return "body";
    }
}

// Tests the diagonal of a row, scales the row by it and stores it into the
// coefficient arrays; the residual (with the shock-point correction of the
// node's i-face) goes to sp0.  Returns the scaled row in `row`.
//   kind, i, j [in]; shock [in] shk(i, j) or 0; row [in,out]
void ScaleAndStore(const int kind, const int i, const int j, const double shock, Row& row) {
    if (shock != 0.0) {
        // The correction of the node's east face enters the Newton matrix
        // with the share it has in the residual.
        const double share = shock / shk(i, j);
        row.slot[1] -= share * ssc(i, j);
        row.slot[2] -= share * ssw(i, j);
        row.slot[3] -= share * sse(i, j);
    }
    const double d = row.slot[1];
    if (std::fabs(d) < static_cast<double>(1.0e-16f)) {
        msg::console(ff::format("(1x,11hBrakedown (,i1,25h): zero diagonal element ,i3,1h,,i3,1h.)",
                                {kind, i, j}));
        throw SolverError("The Newton system has a zero diagonal element at the " +
                          std::string(KindName(kind)) + " node (" + std::to_string(i) + ", " +
                          std::to_string(j) +
                          "); the calculation was stopped. Check the grid and the flow "
                          "parameters.");
    }
    for (double& s : row.slot) s /= d;
    rsc(i, j) = d;
    row.res = (shock + row.res) / d;
    sp0(i, j) = row.res;
    adg(i, j) = row.slot[0];
    ad1(i, j) = row.slot[1];
    ad2(i, j) = row.slot[2];
    ad3(i, j) = row.slot[3];
    ad4(i, j) = row.slot[4];
    ad5(i, j) = row.slot[5];
    adm(i, j) = row.slot[7];
    adp(i, j) = row.slot[8];
    ad7(i, j) = row.slot[11];
    ad6(i, j) = row.slot[12];
    ad9(i, j) = row.slot[13];
    ad8(i, j) = row.slot[14];
}

// Factors of the line preconditioner at interior node (i, j) from the
// scaled row, the factors of line j+1 and of nodes (i-1, j), (i-2, j).
// The diagonal neighbours and the circulation column are left out.
//
// In supersonic regions the row carries the upwind differences
// adm (phi(i-1) - phi(i-2)) and adp (phi(i+2) - phi(i+1)); there the
// equation marches along the lines, and a factorisation without them
// leaves P^-1 A with eigenvalues near zero: restarted GMRES then makes no
// progress at all on the smooth residual that a shock leaves behind, and
// the Newton iteration stalls short of the tolerance.  The factors
// therefore keep them, the (i-2) term in the lower factor (pww) and the
// (i+2) term in the upper one (pcee).  Line 2 has no (i+2) term: its
// upper factor is part of the block system of line 1, which couples only
// neighbouring stations.
void Factor(const int i, const int j, const int NX, const double dprime, const Row& row) {
    const double a1 = ad1(i, j), a4 = ad4(i, j), a5 = ad5(i, j);
    double a2 = ad2(i, j), a3 = ad3(i, j), aww = 0.0, aee = 0.0;
    if (i > 2) {
        a2 += adm(i, j);
        aww = -adm(i, j);
    }
    if (i < NX - 2 && j > 2) {
        a3 -= adp(i, j);
        aee = adp(i, j);
    }
    const double ceW = i > 2 ? pce(i - 2, j) : 0.0;
    const double ceeW = i > 2 ? pcee(i - 2, j) : 0.0;
    const double w = a2 - pcw(i, j + 1) * a4 - aww * ceW;
    const double e = -pce(i, j + 1) * a4;
    const double p = dprime * a1 - a4 * pcs(i, j + 1) - (pce(i - 1, j) - pcw(i - 1, j)) * w -
                     (pcw(i + 1, j + 1) - pce(i + 1, j + 1)) * e - aww * ceeW;
    pcn(i, j) = a4;
    pmw(i, j) = w;
    pme(i, j) = e;
    pww(i, j) = aww;
    ppv(i, j) = p;
    if (std::fabs(p) <= static_cast<double>(1.0e-8f)) {
        // A small pivot: list the scaled row for diagnosis and go on.
        for (int s = 0; s < 15; ++s) msg::console(ff::format("(i3,e15.6)", {s, row.slot[s]}));
        msg::console(ff::format("(3x,e15.6)", {row.res}));
    }
    pce(i, j) = (a3 - e * pcs(i + 1, j + 1) - w * pcee(i - 1, j)) / p;
    pcee(i, j) = aee / p;
    pcs(i, j) = a5 / p;
    pcw(i, j) = -w * pcs(i - 1, j) / p;
}

}  // namespace

// Blocks of station i of the line-1 system (rows: forward-sweep relation
// of (i, 2), Newton row of (i, 1), forward-sweep relation of the partner
// (NX-i, 2) on the wake cut).
void StationBlocks(const int& i, const int& k, const int& NX) {
    for (int m = 0; m < 9; ++m) {
        bta.slice(m)[i - 1] = 0.0;
        btb.slice(m)[i - 1] = 0.0;
        btc.slice(m)[i - 1] = 0.0;
    }
    btg(0, i) = btg(1, i) = btg(2, i) = 0.0;
    btb(0, 0, i) = 1.0;
    btb(0, 1, i) = pcs(i, 2);
    btb(1, 0, i) = ad4(i, 1);
    btb(1, 1, i) = 1.0;
    btb(2, 2, i) = 1.0;
    btc(0, 1, i) = pcw(i, 2);
    btc(1, 1, i) = ad2(i, 1);
    bta(0, 0, i) = pce(i, 2);
    bta(1, 1, i) = ad3(i, 1);
    if (i < k) {
        const int p = NX - i;
        btb(1, 2, i) = ad5(i, 1);
        btb(2, 1, i) = pcs(p, 2);
        btc(2, 2, i) = pce(p, 2);
        bta(2, 1, i) = pcw(p, 2);
        btg(2, i) = pcw(p, 2) + pcs(p, 2);
    }
}

void BuildSystem(const int& NY, const int& k, const int& NX, const double& mach,
                 const double& gamma, const double& diagFactor, const double& s2,
                 const int& designFlag, const int& firstOnly, const int& L) {
    const double circ = Circulation(NX, k);
    // The rows below are the whole (approximate) matrix.
    extraCouplings.count = 0;
    extraCouplings.moment = false;

    // Factors beyond the last line and the two downstream columns are 0.
    for (int i = 1; i <= NX - 1; ++i) pce(i, NY) = pcs(i, NY) = pcw(i, NY) = pcee(i, NY) = 0.0;
    for (int j = 2; j <= NY; ++j) {
        pce(0, j) = pcs(0, j) = pcw(0, j) = pcee(0, j) = 0.0;
        pce(NX, j) = pcs(NX, j) = pcw(NX, j) = pcee(NX, j) = 0.0;
    }
    // The second-side cut nodes are represented by their partners.
    for (int i = NX - k + 1; i <= NX - 1; ++i) sp0(i, 1) = 0.0;

    if (mach > 0.0) {
        for (int i = 1; i <= NX - 1; ++i) JFaceDensities(i, NY, mach, gamma, s2);
        for (int j = 1; j <= NY - 1; ++j) IFaceDensities(j, k, NX, circ, mach, gamma, s2);
    }
    // The shock-point correction exists only in compressible flow; with
    // M = 0 the densities are not recomputed and shk may still hold the
    // values of an earlier transonic run, which must not leak into the
    // Laplace residual.
    const bool shocks = mach > 0.0;

    Row row;
    for (int j = NY - 1; j >= 2; --j) {
        for (int i = 1; i <= NX - 1; ++i) {
            InteriorRow(NX, NY, i, j, row);
            ScaleAndStore(kInterior, i, j, shocks ? shk(i, j) : 0.0, row);
            Factor(i, j, NX, diagFactor, row);
        }
    }
    for (int i = 1; i <= k - 1; ++i) {
        WakeRow(i, NX, k, circ, row);
        ScaleAndStore(kWakeCut, i, 1, shocks ? shk(i, 1) : 0.0, row);
        StationBlocks(i, k, NX);
    }
    for (int i = k; i <= NX - k; ++i) {
        BodyRow(i, NX, k, designFlag, firstOnly, L, row);
        // The body cell is a half cell: its xi-fluxes, and with them the
        // shock-point correction of the flux, count half.  A design row
        // prescribes a potential increment and balances no flux.
        const bool flux = shocks && !IsDesignRow(i, NX, k, designFlag, firstOnly, L);
        ScaleAndStore(kBody, i, 1, flux ? 0.5 * shk(i, 1) : 0.0, row);
        StationBlocks(i, k, NX);
    }
}

}  // namespace quarel
