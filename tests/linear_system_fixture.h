// Small Newton systems for the tests of the linear solver: random scaled
// rows in the coefficient arrays, the line preconditioner factors and the
// line-1 blocks, and dense matrices of the operator and the
// preconditioner built node by node from the stored coefficients.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "CDEF1.h"
#include "metrics.h"
#include "state.h"

namespace quarel {
namespace testing {

using Matrix = std::vector<std::vector<double>>;

// C-grid of the parabolic coordinates x = xi^2 - eta^2 + 1/2, y = 2 xi eta:
// line j = 1 (eta = 0) is the slit y = 0, both sides of the cut coincide
// (xi and -xi), and the body is a plate; metrics and far-field factors
// computed.
inline void ParabolicPlateGrid(int NX, int NY) {
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            const double xi = 1.6 * (0.5 - static_cast<double>(i) / NX);
            const double eta = 1.2 * (j - 1) / (NY - 1);
            xg(i, j) = xi * xi - eta * eta + 0.5;
            yg(i, j) = 2.0 * xi * eta;
        }
    }
    GridMetric(NY, NX);
    FarField(0.0, NX, NY, 1.0);
}

// Largest |a - b| over two vectors of the same length.
inline double MaxAbsDiff(const std::vector<double>& a, const std::vector<double>& b) {
    double m = 0.0;
    for (size_t q = 0; q < a.size(); ++q) m = std::fmax(m, std::fabs(a[q] - b[q]));
    return m;
}

// A reproducible vector of entries in [-1, 1].
inline std::vector<double> RandomVector(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = u(gen);
    return x;
}

// Unknown numbering of a C-grid: line 1, i = 1 .. NX-k, then lines
// j = 2 .. NY-1, i = 1 .. NX-1.
struct Layout {
    int NX, NY, k;
    int count() const { return (NX - k) + (NY - 2) * (NX - 1); }
    bool unknown(int i, int j) const {
        if (j == 1) return i >= 1 && i <= NX - k;
        return j >= 2 && j <= NY - 1 && i >= 1 && i <= NX - 1;
    }
    int index(int i, int j) const {
        return j == 1 ? i - 1 : (NX - k) + (j - 2) * (NX - 1) + (i - 1);
    }
    bool secondSide(int i, int j) const { return j == 1 && i > NX - k && i < NX; }

    // Adds coef * (value of node (i, j)) to a dense row: unknown nodes
    // directly, second-side cut nodes as partner + circulation, boundary
    // nodes not at all.
    void add(std::vector<double>& row, int i, int j, double coef) const {
        if (unknown(i, j)) {
            row[index(i, j)] += coef;
        } else if (secondSide(i, j)) {
            row[index(NX - i, 1)] += coef;
            row[index(NX - k, 1)] += coef;
            row[index(k, 1)] -= coef;
        }
    }

    // Grid vector of a dense vector, extended to the second side of the cut
    // with the circulation jump, 0 on the boundary.
    void toGrid(const std::vector<double>& x, GridArray& v) const {
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) v(i, j) = 0.0;
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i)
                if (unknown(i, j)) v(i, j) = x[index(i, j)];
        const double dg = v(NX - k, 1) - v(k, 1);
        for (int i = 1; i <= k - 1; ++i) v(NX - i, 1) = v(i, 1) + dg;
    }
    std::vector<double> fromGrid(const GridArray& v) const {
        std::vector<double> x(count());
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i)
                if (unknown(i, j)) x[index(i, j)] = v(i, j);
        return x;
    }
};

// Dense Gaussian elimination with partial pivoting.
inline std::vector<double> DenseSolve(Matrix a, std::vector<double> b) {
    const int n = static_cast<int>(b.size());
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int q = c; q < n; ++q) a[r][q] -= f * a[c][q];
            b[r] -= f * b[c];
        }
    }
    std::vector<double> x(n);
    for (int r = n - 1; r >= 0; --r) {
        double t = b[r];
        for (int q = r + 1; q < n; ++q) t -= a[r][q] * x[q];
        x[r] = t / a[r][r];
    }
    return x;
}

inline std::vector<double> MatVec(const Matrix& a, const std::vector<double>& x) {
    std::vector<double> y(a.size(), 0.0);
    for (size_t r = 0; r < a.size(); ++r)
        for (size_t c = 0; c < x.size(); ++c) y[r] += a[r][c] * x[c];
    return y;
}

// Dense Newton matrix from ad1 .. ad9, adm, adp, adg: the row of node
// (i, j) couples to its neighbours as the slots describe; on the wake cut
// the south neighbours are the partner-side nodes of line 2.
inline Matrix DenseOperator(const Layout& L) {
    const int n = L.count();
    Matrix a(n, std::vector<double>(n, 0.0));
    for (int j = 1; j <= L.NY - 1; ++j) {
        for (int i = 1; i <= L.NX - 1; ++i) {
            if (!L.unknown(i, j)) continue;
            std::vector<double>& row = a[L.index(i, j)];
            L.add(row, i, j, ad1(i, j));
            L.add(row, i - 1, j, ad2(i, j));
            L.add(row, i + 1, j, ad3(i, j));
            L.add(row, i, j + 1, ad4(i, j));
            L.add(row, i + 1, j + 1, ad6(i, j));
            L.add(row, i - 1, j + 1, ad7(i, j));
            if (j >= 2) {
                L.add(row, i, j - 1, ad5(i, j));
                L.add(row, i + 1, j - 1, ad8(i, j));
                L.add(row, i - 1, j - 1, ad9(i, j));
            } else if (i <= L.k || i == L.NX - L.k) {
                const int p = L.NX - i;
                L.add(row, p, 2, ad5(i, j));
                L.add(row, p - 1, 2, ad8(i, j));
                L.add(row, p + 1, 2, ad9(i, j));
            }
            if (i > 2) {
                L.add(row, i - 1, j, adm(i, j));
                L.add(row, i - 2, j, -adm(i, j));
            }
            if (i < L.NX - 2) {
                L.add(row, i + 2, j, adp(i, j));
                L.add(row, i + 1, j, -adp(i, j));
            }
            L.add(row, L.NX - L.k, 1, -adg(i, j));
            L.add(row, L.k, 1, adg(i, j));
        }
    }
    return a;
}

// Dense matrix P of the line preconditioner, from its defining relations:
// y = U z on lines 2 .. NY-1 (z + pcs z_S + pce z_E + pcw z_SW), L y = r
// there (ppv y + pmw y_W + pcn y_N + pme y_NE), and on line 1 the Newton
// row restricted to its east, west, north and partner neighbours.
inline Matrix DensePreconditioner(const Layout& L) {
    const int n = L.count();
    Matrix p(n, std::vector<double>(n, 0.0));
    std::vector<double> e(n);
    static GridArray z, y;
    for (int c = 0; c < n; ++c) {
        std::fill(e.begin(), e.end(), 0.0);
        e[c] = 1.0;
        L.toGrid(e, z);
        for (int j = 1; j <= L.NY; ++j)
            for (int i = 0; i <= L.NX; ++i) y(i, j) = 0.0;
        for (int j = 2; j <= L.NY - 1; ++j)
            for (int i = 1; i <= L.NX - 1; ++i)
                y(i, j) = z(i, j) + pcs(i, j) * z(i, j - 1) + pce(i, j) * z(i + 1, j) +
                          pcw(i, j) * z(i - 1, j - 1) +
                          (i + 2 <= L.NX ? pcee(i, j) * z(i + 2, j) : 0.0);
        for (int j = 2; j <= L.NY - 1; ++j)
            for (int i = 1; i <= L.NX - 1; ++i)
                p[L.index(i, j)][c] = ppv(i, j) * y(i, j) + pmw(i, j) * y(i - 1, j) +
                                      pcn(i, j) * y(i, j + 1) + pme(i, j) * y(i + 1, j + 1) +
                                      (i >= 2 ? pww(i, j) * y(i - 2, j) : 0.0);
        for (int i = 1; i <= L.NX - L.k; ++i) {
            double v =
                z(i, 1) + ad2(i, 1) * z(i - 1, 1) + ad3(i, 1) * z(i + 1, 1) + ad4(i, 1) * z(i, 2);
            if (i < L.k) v += ad5(i, 1) * z(L.NX - i, 2);
            p[L.index(i, 1)][c] = v;
        }
    }
    return p;
}

// Line-1 blocks of every station, as the assembly makes them.
inline void FillBlocks(const Layout& L) {
    for (int i = 1; i <= L.NX - L.k; ++i) StationBlocks(i, L.k, L.NX);
}

// Random scaled system on a small grid: diagonal 1, neighbour slots
// negative with a dominant diagonal, small corner, upwind and circulation
// entries, slots that would reach a boundary node zeroed, and the
// factors of the line preconditioner computed from it (diagonal factor
// dprime), so that P is a sound approximation of A.
inline void FillRandomSystem(const Layout& L, unsigned seed, double dprime = 1.0) {
    // The stored rows are the whole matrix (no couplings of an exact one).
    extraCouplings.count = 0;
    extraCouplings.moment = false;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    GridArray* all[] = {&ad1, &ad2, &ad3, &ad4, &ad5, &ad6, &ad7, &ad8, &ad9, &adm,  &adp,
                        &adg, &pcw, &pcs, &pce, &pmw, &pme, &pcn, &ppv, &pww, &pcee, &sp0};
    for (GridArray* a : all)
        for (int j = 1; j <= kMaxNY; ++j)
            for (int i = 0; i <= kMaxNX; ++i) (*a)(i, j) = 0.0;
    const int NX = L.NX, NY = L.NY, k = L.k;
    for (int j = 1; j <= NY - 1; ++j) {
        for (int i = 1; i <= NX - 1; ++i) {
            if (!L.unknown(i, j)) continue;
            ad1(i, j) = 1.0;
            ad2(i, j) = -0.1 - 0.15 * u(gen);
            ad3(i, j) = -0.1 - 0.15 * u(gen);
            ad4(i, j) = -0.1 - 0.15 * u(gen);
            const bool body = j == 1 && i >= k;
            ad5(i, j) = body ? 0.0 : -0.1 - 0.15 * u(gen);
            ad6(i, j) = 0.04 * (u(gen) - 0.5);
            ad7(i, j) = 0.04 * (u(gen) - 0.5);
            ad8(i, j) = body ? 0.0 : 0.04 * (u(gen) - 0.5);
            ad9(i, j) = body ? 0.0 : 0.04 * (u(gen) - 0.5);
            adm(i, j) = 0.05 * u(gen);
            adp(i, j) = -0.05 * u(gen);
            adg(i, j) = (j == 1 && i < k) || i == 1 || i == NX - 1 || j == NY - 1
                            ? 0.1 * (u(gen) - 0.5)
                            : 0.0;
            sp0(i, j) = u(gen) - 0.5;
            if (i == 1) ad2(i, j) = ad7(i, j) = ad9(i, j) = 0.0;
            if (i == NX - 1) ad3(i, j) = ad6(i, j) = ad8(i, j) = 0.0;
            if (j == NY - 1) ad4(i, j) = ad6(i, j) = ad7(i, j) = 0.0;
        }
    }
    // Factors, line by line from the far field, as the assembly does.
    for (int j = NY - 1; j >= 2; --j) {
        for (int i = 1; i <= NX - 1; ++i) {
            pcn(i, j) = ad4(i, j);
            pmw(i, j) = ad2(i, j) - pcw(i, j + 1) * ad4(i, j);
            pme(i, j) = -pce(i, j + 1) * ad4(i, j);
            ppv(i, j) = dprime * ad1(i, j) - ad4(i, j) * pcs(i, j + 1) -
                        (pce(i - 1, j) - pcw(i - 1, j)) * pmw(i, j) -
                        (pcw(i + 1, j + 1) - pce(i + 1, j + 1)) * pme(i, j);
            pce(i, j) = (ad3(i, j) - pme(i, j) * pcs(i + 1, j + 1)) / ppv(i, j);
            pcs(i, j) = ad5(i, j) / ppv(i, j);
            pcw(i, j) = -pmw(i, j) * pcs(i - 1, j) / ppv(i, j);
        }
    }
    FillBlocks(L);
}

inline double MaxAbs(const std::vector<double>& x) {
    double m = 0.0;
    for (double v : x) m = std::fmax(m, std::fabs(v));
    return m;
}

}  // namespace testing
}  // namespace quarel
