#include "matrix_entries.h"

#include "state.h"

namespace quarel::exact {

void ClearRowsAndMomentWeights(const RowsCase& rc) {
    const int NX = rc.NX, k = rc.k, mid = NX / 2;
    for (int j = 1; j <= rc.NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) {
            ad1(i, j) = ad2(i, j) = ad3(i, j) = ad4(i, j) = ad5(i, j) = 0.0;
            ad6(i, j) = ad7(i, j) = ad8(i, j) = ad9(i, j) = 0.0;
            adm(i, j) = adp(i, j) = adg(i, j) = adq(i, j) = 0.0;
        }
    extraCouplings.count = 0;
    extraCouplings.moment = true;
    for (int i = 0; i < kContourSize; ++i) fmw(i) = 0.0;
    for (int i = k; i < mid; ++i) {
        const double dx = 0.5 * (xg(i, 1) - xg(i + 1, 1));
        fmw(i) += dx;
        fmw(i + 1) += dx;
    }
    for (int i = mid; i < NX - k; ++i) {
        const double dx = 0.5 * (xg(i + 1, 1) - xg(i, 1));
        fmw(i) -= dx;
        fmw(i + 1) -= dx;
    }
}

bool IsUnknownRow(const RowsCase& rc, int i, int j) {
    return j >= 1 && j <= rc.NY - 1 && i >= 1 && (j == 1 ? i <= rc.NX - rc.k : i <= rc.NX - 1);
}

void AddEntry(const RowsCase& rc, double xTE, int i, int j, int p, int q, double D) {
    const int NX = rc.NX, NY = rc.NY, k = rc.k;
    if (D == 0.0) return;
    if (p == 0 || p == NX || q == NY) {
        // A far-field node: its value moves with the circulation (vortex
        // and the circulation's share of the doublet) and with the body
        // potentials (the rest of the doublet).
        const double ff = q == NY ? ffo(p) : (p == 0 ? ff0(q) : ffn(q));
        const double fd = q == NY ? fdo(p) : (p == 0 ? fd0(q) : fdn(q));
        adg(i, j) -= D * (ff + fd * xTE);
        adq(i, j) += D * fd;
        return;
    }
    const int di = p - i, dj = q - j;
    const bool wake = j == 1 && i < k;
    if (dj == 0 && di == 0) {
        ad1(i, j) += D;
    } else if (dj == 0 && di == -1) {
        ad2(i, j) += D;
    } else if (dj == 0 && di == 1) {
        ad3(i, j) += D;
    } else if (dj == 1 && di == 0) {
        ad4(i, j) += D;
    } else if (dj == 1 && di == 1) {
        ad6(i, j) += D;
    } else if (dj == 1 && di == -1) {
        ad7(i, j) += D;
    } else if (!wake && j >= 2 && dj == -1 && di == 0) {
        ad5(i, j) += D;
    } else if (!wake && j >= 2 && dj == -1 && di == 1) {
        ad8(i, j) += D;
    } else if (!wake && j >= 2 && dj == -1 && di == -1) {
        ad9(i, j) += D;
    } else if (wake && q == 2 && p == NX - i) {
        ad5(i, j) += D;
    } else if (wake && q == 2 && p == NX - i - 1) {
        ad8(i, j) += D;
    } else if (wake && q == 2 && p == NX - i + 1) {
        ad9(i, j) += D;
    } else if (dj == 0 && di == -2 && i > 2) {
        // adm (v(i-1) - v(i-2))
        adm(i, j) -= D;
        ad2(i, j) += D;
    } else if (dj == 0 && di == 2 && i < NX - 2) {
        // adp (v(i+2) - v(i+1))
        adp(i, j) += D;
        ad3(i, j) += D;
    } else if (extraCouplings.count < kMaxExtraCouplings) {
        ExtraCouplings& x = extraCouplings;
        x.row[x.count] = GridArray::at(i, j);
        x.node[x.count] = GridArray::at(p, q);
        x.value[x.count] = D;
        ++x.count;
    }
}

}  // namespace quarel::exact
