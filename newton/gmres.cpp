// Line preconditioner, linear operator, line-1 block solver and one cycle
// of restarted GMRES for the Newton system of the full-potential equation.
//
// Vectors are grid arrays.  The unknowns are the nodes of lines
// j = 2 .. NY-1 (i = 1 .. NX-1) and of line 1 for i = 1 .. NX-k (the first
// side of the wake cut and the body).  The second-side cut nodes
// i = NX-k+1 .. NX-1 of line 1 are the same points as their partners NX-i
// seen across the cut, so a correction there is the partner's correction
// plus the change of circulation.  The preconditioner writes that value,
// so every vector built from its output (Krylov basis, GMRES result,
// Newton correction) keeps the jump across the cut consistent; linear
// combinations are therefore taken over all of lines 1 .. NY-1, while
// inner products and norms run over the unknowns only.  Boundary nodes
// (i = 0, i = NX, j = NY) are not unknowns and hold 0 in every vector the
// routines here write.
#include "gmres.h"

#include <algorithm>
#include <cmath>

namespace quarel {

namespace {

constexpr int S = kGridStride;

// Inverse of a 3 x 3 matrix by cofactors (adjugate over determinant).
// There is deliberately no test of the determinant: the blocks of the
// line-1 system are diagonally dominant for every sound grid.
inline void Inverse3(const double m[3][3], double inv[3][3]) {
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    const double r = 1.0 / det;
    inv[0][0] = c00 * r;
    inv[1][0] = c01 * r;
    inv[2][0] = c02 * r;
    inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * r;
    inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * r;
    inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * r;
    inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * r;
    inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * r;
    inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * r;
}

// Sum of a(i, j) b(i, j) over the unknowns.
double DotUnknowns(const int& NY, const int& k, const int& NX, const GridArray& a,
                   const GridArray& b) {
    const double* pa = a.data();
    const double* pb = b.data();
    double s = 0.0;
    for (int i = 1; i <= NX - k; ++i) s += pa[i] * pb[i];
    for (int j = 2; j <= NY - 1; ++j) {
        const double* la = pa + GridArray::at(0, j);
        const double* lb = pb + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) s += la[i] * lb[i];
    }
    return s;
}

// y = alpha x on lines 1 .. NY-1, i = 1 .. NX-1, 0 on the boundary.
void Scale(const int& NY, const int& NX, const double alpha, const GridArray& x, GridArray& y) {
    const double* px = x.data();
    double* py = y.data();
    for (int j = 1; j <= NY; ++j) {
        const double* lx = px + GridArray::at(0, j);
        double* ly = py + GridArray::at(0, j);
        if (j == NY) {
            for (int i = 0; i <= NX; ++i) ly[i] = 0.0;
            continue;
        }
        ly[0] = 0.0;
        for (int i = 1; i <= NX - 1; ++i) ly[i] = alpha * lx[i];
        ly[NX] = 0.0;
    }
}

// y = alpha x as Scale does, returning the sum of y(i, j) d(i, j) over the
// unknowns, accumulated in the order of DotUnknowns.
double ScaleDot(const int NY, const int k, const int NX, const double alpha, const GridArray& x,
                GridArray& y, const GridArray& d) {
    const double* px = x.data();
    double* py = y.data();
    const double* pd = d.data();
    double s = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        const double* lx = px + o;
        double* ly = py + o;
        const double* ld = pd + o;
        ly[0] = 0.0;
        const int last = j == 1 ? NX - k : NX - 1;  // last unknown of the line
        for (int i = 1; i <= last; ++i) {
            ly[i] = alpha * lx[i];
            s += ly[i] * ld[i];
        }
        for (int i = last + 1; i <= NX - 1; ++i) ly[i] = alpha * lx[i];
        ly[NX] = 0.0;
    }
    double* top = py + GridArray::at(0, NY);
    for (int i = 0; i <= NX; ++i) top[i] = 0.0;
    return s;
}

// y += alpha x as Axpy does, returning the sum of y(i, j) d(i, j) over the
// unknowns with the updated y, accumulated in the order of DotUnknowns.
// d may be y itself.
double AxpyDot(const int NY, const int k, const int NX, const double alpha, const GridArray& x,
               GridArray& y, const GridArray& d) {
    const double* px = x.data();
    double* py = y.data();
    const double* pd = d.data();
    double s = 0.0;
    for (int j = 1; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        const double* lx = px + o;
        double* ly = py + o;
        const double* ld = pd + o;
        const int last = j == 1 ? NX - k : NX - 1;
        for (int i = 1; i <= last; ++i) {
            ly[i] += alpha * lx[i];
            s += ly[i] * ld[i];
        }
        for (int i = last + 1; i <= NX - 1; ++i) ly[i] += alpha * lx[i];
    }
    return s;
}

// Sets the boundary nodes i = 0, i = NX (j = 1 .. NY) and j = NY to 0.
void ClearBoundary(const int& NY, const int& NX, GridArray& v) {
    double* p = v.data();
    for (int j = 1; j <= NY; ++j) {
        p[GridArray::at(0, j)] = 0.0;
        p[GridArray::at(NX, j)] = 0.0;
    }
    double* top = p + GridArray::at(0, NY);
    for (int i = 0; i <= NX; ++i) top[i] = 0.0;
}

template <bool Store, bool Dots>
void OperatorPass(const LineSolver& ls, int NY, int k, int NX, const double* pv, double* pa,
                  const double* pw, double& s1, double& s2);
template <bool Factored>
void Precondition(LineSolver& ls, int NY, int k, int NX, const GridArray& r, GridArray& z);

// B(x) of the GMRES cycle: w = A x, z = P^-1 w, result (s2/s1) z with
// s1 = |A z|^2 and s2 = (A z, w).  Leaves z in out and returns the factor
// s2/s1, which the caller applies.  Uses gmw as
// a work vector.
double ScaledPreconditionedOperator(LineSolver& ls, const int& NY, const int& k, const int& NX,
                                    const GridArray& x, GridArray& out) {
    ApplyOperator(ls, NY, k, NX, x, gmw);
    Precondition<true>(ls, NY, k, NX, gmw, out);
    double s1, s2;
    OperatorPass<false, true>(ls, NY, k, NX, out.data(), nullptr, gmw.data(), s1, s2);
    // A vanishing A z (only for x = 0) gives B(x) = 0: the Arnoldi
    // process then stops at this dimension.
    return s1 > 0.0 ? s2 / s1 : 0.0;
}

// ---------------------------------------------------------------------
// Sweeps of the line preconditioner
// ---------------------------------------------------------------------
//
// Within a line each node of a sweep depends on its neighbour just
// computed, a chain of dependent multiplications, subtractions and (in the
// backward sweep) a division, so one line at a time runs at the latency
// of that chain.  Node i of a line needs only nodes i and i+1 (backward)
// or i and i-1 (forward) of the line before it, so several lines are swept
// together along a skewed front, each line two nodes behind the one before
// it: the lines' chains are independent and overlap in the processor.
// Every node is computed by exactly the same expression as in a plain
// line-by-line sweep, so the result is bit-for-bit the same.

constexpr int kFront = 6;  // lines swept together

// Backward sweep on line j: z(i, j) from r(i, j), z(i-1, j), z(i-2, j) and
// line j+1.  pww is 0 for i <= 2, where z(i-2, j) lies before the line.
struct BackLine {
    const double* r;
    double* z;
    const double* zn;
    const double* pmw;
    const double* pww;
    const double* pcn;
    const double* pme;
    const double* ppv;
    void set(const double* pr, double* pz, int j) {
        const int o = GridArray::at(0, j);
        r = pr + o;
        z = pz + o;
        zn = pz + o + S;
        pmw = quarel::pmw.data() + o;
        pww = quarel::pww.data() + o;
        pcn = quarel::pcn.data() + o;
        pme = quarel::pme.data() + o;
        ppv = quarel::ppv.data() + o;
    }
    inline void node(int i) const {
        z[i] =
            (r[i] - pmw[i] * z[i - 1] - pww[i] * z[i - 2] - pcn[i] * zn[i] - pme[i] * zn[i + 1]) /
            ppv[i];
    }
};

// Forward sweep on line j: z(i, j) corrected with z(i+1, j), z(i+2, j) and
// line j-1.  pcee is 0 for i >= NX-2, where z(i+2, j) lies beyond the line.
struct ForeLine {
    double* z;
    const double* zs;
    const double* pcs;
    const double* pce;
    const double* pcee;
    const double* pcw;
    void set(double* pz, int j) {
        const int o = GridArray::at(0, j);
        z = pz + o;
        zs = pz + o - S;
        pcs = quarel::pcs.data() + o;
        pce = quarel::pce.data() + o;
        pcee = quarel::pcee.data() + o;
        pcw = quarel::pcw.data() + o;
    }
    inline void node(int i) const {
        z[i] -= pcs[i] * zs[i] + pce[i] * z[i + 1] + pcee[i] * z[i + 2] + pcw[i] * zs[i - 1];
    }
};

// Sweeps nodes 1 .. n of nb lines L[0 .. nb-1] along a front: line d handles
// node t - 2d at step t (position counted in the sweep direction, node(i)
// maps it).  Line d needs position p+1 of line d-1, done one step before.
template <int B, class Line, class Node>
inline void FrontSweep(const Line (&L)[B], const int nb, const int n, Node node) {
    const int lag = 2 * (nb - 1);
    int t = 1;
    if (nb == B && n > lag) {
        // Ramp-up: the lines start one after another.
        for (; t <= lag; ++t)
            for (int d = 0; 2 * d < t; ++d) node(L[d], t - 2 * d);
        // Steady state: every line has a node at every step.
        for (; t <= n; ++t)
            for (int d = 0; d < B; ++d) node(L[d], t - 2 * d);
    }
    // Ramp-down, and the general case of fewer lines or short lines.
    for (; t <= n + lag; ++t) {
        for (int d = 0; d < nb; ++d) {
            const int p = t - 2 * d;
            if (p >= 1 && p <= n) node(L[d], p);
        }
    }
}

// Backward sweep, lines NY-1 down to 2, i = 1 .. NX-1 ascending.
void BackwardSweep(const int NY, const int NX, const double* pr, double* pz) {
    BackLine L[kFront];
    for (int top = NY - 1; top >= 2; top -= kFront) {
        const int nb = top - 2 + 1 < kFront ? top - 2 + 1 : kFront;
        for (int d = 0; d < nb; ++d) L[d].set(pr, pz, top - d);
        FrontSweep<kFront>(L, nb, NX - 1, [](const BackLine& l, int p) { l.node(p); });
    }
}

// Forward sweep, lines 3 .. NY-1, i = NX-1 down to 1.
void ForwardSweep(const int NY, const int NX, double* pz) {
    ForeLine L[kFront];
    for (int bottom = 3; bottom <= NY - 1; bottom += kFront) {
        const int nb = NY - 1 - bottom + 1 < kFront ? NY - 1 - bottom + 1 : kFront;
        for (int d = 0; d < nb; ++d) L[d].set(pz, bottom + d);
        FrontSweep<kFront>(L, nb, NX - 1, [NX](const ForeLine& l, int p) { l.node(NX - p); });
    }
}

}  // namespace

namespace {

// Line-1 solve with the block factors kept by FactorLine1 (used inside a
// GMRES cycle, where the blocks do not change).
void SolveLine1Factored(LineSolver& ls, const int NX, const int k);
void FactorLine1(LineSolver& ls, const int NX, const int k);

// One Gauss-Seidel sweep over the grid columns, after the line
// factorisation: each column i (lines j = 2 .. NY-1) is solved exactly in
// j against its neighbours' latest values, the columns taken outward from
// the leading edge, i.e. with the flow on both surfaces and in the wake.
// In a supersonic region the equation marches along the flow, and a
// factorisation along the grid lines leaves P^-1 A with a cluster of tiny
// eigenvalues there (the position of a shock, the top of the supersonic
// region); the sweep marches with the characteristics and removes them.
// Line 1 keeps the values of the block solve.
//   r [in] right-hand side; z [in,out] preconditioned vector
void ColumnSweep(LineSolver& ls, const int NY, const int k, const int NX, const GridArray& r,
                 GridArray& z) {
    double* b = ls.colB;
    double* c = ls.colC;
    double* d = ls.colD;
    const double circ = ls.frozen ? 0.0 : Circulation(z, NX, k);
    const int n = NY - 2;
    const int mid = NX / 2;
    for (int s = 0; s < NX - 1; ++s) {
        const int i = s < mid ? mid - s : s + 1;
        if (i < 1 || i > NX - 1) continue;
        for (int j = 2; j <= NY - 1; ++j) {
            double az = ad1(i, j) * z(i, j) + ad2(i, j) * z(i - 1, j) + ad3(i, j) * z(i + 1, j) +
                        ad4(i, j) * z(i, j + 1) + ad5(i, j) * z(i, j - 1) +
                        ad6(i, j) * z(i + 1, j + 1) + ad7(i, j) * z(i - 1, j + 1) +
                        ad8(i, j) * z(i + 1, j - 1) + ad9(i, j) * z(i - 1, j - 1) -
                        adg(i, j) * circ;
            if (i > 2) az += adm(i, j) * (z(i - 1, j) - z(i - 2, j));
            if (i < NX - 2) az += adp(i, j) * (z(i + 2, j) - z(i + 1, j));
            // Forward elimination of the column's tridiagonal system
            // (ad5, ad1, ad4) for the correction.
            const int q = j - 2;
            b[q] = ad1(i, j);
            c[q] = j < NY - 1 ? ad4(i, j) : 0.0;
            d[q] = r(i, j) - az;
            if (q > 0) {
                const double m = ad5(i, j) / b[q - 1];
                b[q] -= m * c[q - 1];
                d[q] -= m * d[q - 1];
            }
        }
        d[n - 1] /= b[n - 1];
        for (int q = n - 2; q >= 0; --q) d[q] = (d[q] - c[q] * d[q + 1]) / b[q];
        for (int j = 2; j <= NY - 1; ++j) z(i, j) += d[j - 2];
    }
}

// z = P^-1 r; Factored selects the line-1 solve with the kept factors.
template <bool Factored>
void Precondition(LineSolver& ls, const int NY, const int k, const int NX, const GridArray& r,
                  GridArray& z) {
    const bool columns = ls.columns && NY >= 4;
    if (columns) ls.columnRhs = r;
    // r and z may be the same array: every r(i, j) is read before z(i, j)
    // is written.  The boundary values of z must be 0 for the sweeps.
    const double* pr = r.data();
    double* pz = z.data();
    ClearBoundary(NY, NX, z);

    // 1. Backward sweep with the lower factor, from the far field to
    //    line 2.
    BackwardSweep(NY, NX, pr, pz);

    // 2. Lines 1 and 2 together: the block-tridiagonal system of line 1.
    const int N = NX - k;
    if (NY >= 3) {
        for (int i = 1; i <= N; ++i) {
            btr(0, i) = z(i, 2);
            btr(1, i) = r(i, 1);
            btr(2, i) = i < k ? z(NX - i, 2) : 0.0;
        }
    } else {
        for (int i = 1; i <= N; ++i) {
            btr(0, i) = 0.0;
            btr(1, i) = r(i, 1);
            btr(2, i) = 0.0;
        }
    }
    if (Factored) {
        SolveLine1Factored(ls, NX, k);
    } else {
        BlockSolveLine1(ls, NX, k);
    }
    for (int i = 1; i <= N; ++i) {
        z(i, 1) = btr(1, i);
        if (NY >= 3) {
            z(i, 2) = btr(0, i);
            if (i < k) z(NX - i, 2) = btr(2, i);
        }
    }
    // The second-side cut nodes: partner value plus the circulation change.
    const double dGamma = ls.frozen ? 0.0 : Circulation(z, NX, k);
    for (int i = 1; i <= k - 1; ++i) z(NX - i, 1) = z(i, 1) + dGamma;

    // 3. Forward sweep with the upper factor, outward from line 3.
    ForwardSweep(NY, NX, pz);

    // 4. Column sweep, when asked for.
    if (columns) ColumnSweep(ls, NY, k, NX, ls.columnRhs, z);
}

}  // namespace

void ApplyPreconditioner(LineSolver& ls, const int& NY, const int& k, const int& NX,
                         const GridArray& r, GridArray& z) {
    Precondition<false>(ls, NY, k, NX, r, z);
}

namespace {

// Rows i = lo .. hi of (A v) on interior line j (o = offset of the line):
// the nine-point part and the circulation column, then the upwind
// differences of the west (West: i > 2) and east (East: i < NX-2) faces.
// The pointers do not alias the output, which lets the loop run in vector
// registers; every row is the same expression evaluated in the same order.
template <bool West, bool East>
inline void InteriorRows(const int o, const int lo, const int hi, const double* pv,
                         const double dGamma, double* __restrict out) {
    const double* __restrict c = pv + o;
    const double* __restrict n = c + S;
    const double* __restrict s = c - S;
    const double* __restrict a1 = ad1.data() + o;
    const double* __restrict a2 = ad2.data() + o;
    const double* __restrict a3 = ad3.data() + o;
    const double* __restrict a4 = ad4.data() + o;
    const double* __restrict a5 = ad5.data() + o;
    const double* __restrict a6 = ad6.data() + o;
    const double* __restrict a7 = ad7.data() + o;
    const double* __restrict a8 = ad8.data() + o;
    const double* __restrict a9 = ad9.data() + o;
    const double* __restrict am = adm.data() + o;
    const double* __restrict ap = adp.data() + o;
    const double* __restrict ag = adg.data() + o;
    for (int i = lo; i <= hi; ++i) {
        double r = a1[i] * c[i] + a2[i] * c[i - 1] + a3[i] * c[i + 1] + a4[i] * n[i] +
                   a6[i] * n[i + 1] + a7[i] * n[i - 1] + a5[i] * s[i] + a8[i] * s[i + 1] +
                   a9[i] * s[i - 1] - ag[i] * dGamma;
        if (West) r += am[i] * (c[i - 1] - c[i - 2]);
        if (East) r += ap[i] * (c[i + 2] - c[i + 1]);
        out[i] = r;
    }
}

// A v over the unknowns, in one pass: line 1 first, then lines 2 .. NY-1,
// i ascending.  Store writes A v into pa (with 0 on the boundary and the
// second-side cut nodes).  Dots accumulates s1 = sum (A v)^2 and
// s2 = sum (A v) w over the unknowns in the same order as DotUnknowns, so
// the sums are bit-for-bit those of a separate product and dot products.
template <bool Store, bool Dots>
void OperatorPass(const LineSolver& ls, const int NY, const int k, const int NX, const double* pv,
                  double* pa, const double* pw, double& s1, double& s2) {
    const double dGamma = ls.frozen ? 0.0 : pv[GridArray::at(NX - k, 1)] - pv[GridArray::at(k, 1)];
    double t1 = 0.0, t2 = 0.0;

    // Line 1: wake-cut nodes (south neighbours across the cut on line 2),
    // body nodes (no south neighbours), second-side cut nodes (0).
    {
        const double* c = pv;
        const double* n = pv + S;
        for (int i = 1; i <= NX - k; ++i) {
            double sum = ad1(i, 1) * c[i] + ad2(i, 1) * c[i - 1] + ad3(i, 1) * c[i + 1] +
                         ad4(i, 1) * n[i] + ad6(i, 1) * n[i + 1] + ad7(i, 1) * n[i - 1];
            // Cut nodes and the two trailing-edge nodes, whose first cut
            // face reaches across the cut.
            if (i <= k || i == NX - k) {
                sum +=
                    ad5(i, 1) * n[NX - i] + ad8(i, 1) * n[NX - i - 1] + ad9(i, 1) * n[NX - i + 1];
            }
            if (i > 2) sum += adm(i, 1) * (c[i - 1] - c[i - 2]);
            if (i < NX - 2) sum += adp(i, 1) * (c[i + 2] - c[i + 1]);
            const double r = sum - adg(i, 1) * dGamma;
            if (Store) pa[i] = r;
            if (Dots) {
                t1 += r * r;
                t2 += r * pw[i];
            }
        }
        if (Store) {
            for (int i = NX - k + 1; i <= NX; ++i) pa[i] = 0.0;
            pa[0] = 0.0;
        }
    }

    // Interior lines j = 2 .. NY-1: i = 1, 2 have no west difference,
    // NX-2, NX-1 no east difference.  Without Store the rows go through a
    // line buffer.
    double line[kGridStride];
    for (int j = 2; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        double* out = Store ? pa + o : line;
        if (NX >= 6) {
            InteriorRows<false, true>(o, 1, 2, pv, dGamma, out);
            InteriorRows<true, true>(o, 3, NX - 3, pv, dGamma, out);
            InteriorRows<true, false>(o, NX - 2, NX - 1, pv, dGamma, out);
        } else {
            for (int i = 1; i <= NX - 1; ++i) {
                if (i >= 3 && i <= NX - 3) {
                    InteriorRows<true, true>(o, i, i, pv, dGamma, out);
                } else if (i >= 3) {
                    InteriorRows<true, false>(o, i, i, pv, dGamma, out);
                } else if (i <= NX - 3) {
                    InteriorRows<false, true>(o, i, i, pv, dGamma, out);
                } else {
                    InteriorRows<false, false>(o, i, i, pv, dGamma, out);
                }
            }
        }
        if (Dots) {
            const double* w = pw + o;
            for (int i = 1; i <= NX - 1; ++i) {
                t1 += out[i] * out[i];
                t2 += out[i] * w[i];
            }
        }
        if (Store) {
            out[0] = 0.0;
            out[NX] = 0.0;
        }
    }
    if (Store) {
        double* top = pa + GridArray::at(0, NY);
        for (int i = 0; i <= NX; ++i) top[i] = 0.0;
    }
    s1 = t1;
    s2 = t2;
}

}  // namespace

void ApplyOperator(const LineSolver& ls, const int& NY, const int& k, const int& NX,
                   const GridArray& v, GridArray& av) {
    double s1, s2;
    OperatorPass<true, false>(ls, NY, k, NX, v.data(), av.data(), nullptr, s1, s2);
    // Couplings of the exact Newton matrix that the stencil has no slot
    // for (none with the approximate matrix).
    const ExtraCouplings& x = extraCouplings;
    const double* pv = v.data();
    double* pa = av.data();
    for (int n = 0; n < x.count; ++n) pa[x.row[n]] += x.value[n] * pv[x.node[n]];
    const EntropyCouplings& e = entropyCouplings;
    for (int n = 0; n < e.count(); ++n) {
        double m = 0.0;
        for (int c = e.nodeStart[n]; c < e.nodeStart[n + 1]; ++c) m += e.weight[c] * pv[e.node[c]];
        for (int r = e.rowStart[n]; r < e.rowStart[n + 1]; ++r) pa[e.row[r]] += e.value[r] * m;
    }
    if (x.moment) {
        double m = 0.0;
        for (int i = k; i <= NX - k; ++i) m += fmw(i) * v(i, 1);
        // adq is 0 but on the rows within a few nodes of the
        // far boundary: near the downstream ends and on the last line.
        auto add = [&](int i, int j) { av(i, j) += adq(i, j) * m; };
        for (int j = 1; j <= NY - 2; ++j) {
            const int last = j == 1 ? NX - k : NX - 1;
            for (int i = 1; i <= 4 && i <= last; ++i) add(i, j);
            for (int i = std::max(5, NX - 4); i <= last; ++i) add(i, j);
        }
        for (int i = 1; i <= NX - 1; ++i) add(i, NY - 1);
    }
}

void BlockSolveLine1(LineSolver& ls, const int& NX, const int& k) {
    // The factors serve one solve here; a GMRES cycle keeps them for all
    // its preconditioner applications.
    FactorLine1(ls, NX, k);
    SolveLine1Factored(ls, NX, k);
}

namespace {

// Factors of the line-1 block elimination, which depend on the blocks
// only: per station the inverse of the reduced diagonal block, X = M^-1 A,
// and columns 1 .. 3 of Y (circulation and border columns) after back
// substitution; the inverse of the border system.  A solve then only
// carries the right-hand side column through.  Block Gaussian elimination
// from station 1 to NX-k without pivoting, explicit 3 x 3 inverses by
// cofactors; the border unknowns dGamma = u2(NX-k) - u2(k) (0 while the
// circulation is held), w2 = z(NX-k+1, 1) = u2(k-1) + dGamma and
// w3 = z(NX-k+1, 2) = u3(k-1) close the system.

void FactorLine1(LineSolver& ls, const int NX, const int k) {
    const int N = NX - k;
    if (N < 1) return;
    for (int s = 1; s <= N; ++s) {
        double m[3][3], rhs[3][4];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] = btb(r, c, s);
            rhs[r][0] = 0.0;
            rhs[r][1] = -btg(r, s);
            rhs[r][2] = s == N ? -bta(r, 1, s) : 0.0;
            rhs[r][3] = s == N ? -bta(r, 0, s) : 0.0;
        }
        if (s > 1) {
            double cb[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) cb[r][c] = btc(r, c, s);
            const double(&xp)[3][3] = ls.x[s - 1];
            const double(&yp)[3][4] = ls.y[s - 1];
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    m[r][c] -= cb[r][0] * xp[0][c] + cb[r][1] * xp[1][c] + cb[r][2] * xp[2][c];
                for (int c = 1; c < 4; ++c)
                    rhs[r][c] -= cb[r][0] * yp[0][c] + cb[r][1] * yp[1][c] + cb[r][2] * yp[2][c];
            }
        }
        double(&inv)[3][3] = ls.inv[s];
        Inverse3(m, inv);
        if (s < N) {
            double a[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) a[r][c] = bta(r, c, s);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    ls.x[s][r][c] = inv[r][0] * a[0][c] + inv[r][1] * a[1][c] + inv[r][2] * a[2][c];
        }
        for (int r = 0; r < 3; ++r)
            for (int c = 1; c < 4; ++c)
                ls.y[s][r][c] =
                    inv[r][0] * rhs[0][c] + inv[r][1] * rhs[1][c] + inv[r][2] * rhs[2][c];
    }
    for (int s = N - 1; s >= 1; --s) {
        const double(&xs)[3][3] = ls.x[s];
        const double(&yn)[3][4] = ls.y[s + 1];
        for (int r = 0; r < 3; ++r)
            for (int c = 1; c < 4; ++c)
                ls.y[s][r][c] -= xs[r][0] * yn[0][c] + xs[r][1] * yn[1][c] + xs[r][2] * yn[2][c];
    }
    double m[3][3];
    {
        const double(&yn)[3][4] = ls.y[N];
        const double(&yk)[3][4] = ls.y[k];
        m[0][0] = 1.0 - (yn[1][1] - yk[1][1]);
        m[0][1] = -(yn[1][2] - yk[1][2]);
        m[0][2] = -(yn[1][3] - yk[1][3]);
        if (ls.frozen) m[0][0] = 1.0, m[0][1] = m[0][2] = 0.0;  // dGamma = 0
        if (k >= 2) {
            const double(&yc)[3][4] = ls.y[k - 1];
            m[1][0] = -1.0 - yc[1][1];
            m[1][1] = 1.0 - yc[1][2];
            m[1][2] = -yc[1][3];
            m[2][0] = -yc[2][1];
            m[2][1] = -yc[2][2];
            m[2][2] = 1.0 - yc[2][3];
        } else {
            m[1][0] = 0.0, m[1][1] = 1.0, m[1][2] = 0.0;
            m[2][0] = 0.0, m[2][1] = 0.0, m[2][2] = 1.0;
        }
    }
    Inverse3(m, ls.binv);
}

void SolveLine1Factored(LineSolver& ls, const int NX, const int k) {
    const int N = NX - k;
    if (N < 1) return;
    for (int s = 1; s <= N; ++s) {
        double rhs[3];
        for (int r = 0; r < 3; ++r) rhs[r] = btr(r, s);
        if (s > 1) {
            const double(&yp)[3][4] = ls.y[s - 1];
            for (int r = 0; r < 3; ++r)
                rhs[r] -=
                    btc(r, 0, s) * yp[0][0] + btc(r, 1, s) * yp[1][0] + btc(r, 2, s) * yp[2][0];
        }
        const double(&inv)[3][3] = ls.inv[s];
        for (int r = 0; r < 3; ++r)
            ls.y[s][r][0] = inv[r][0] * rhs[0] + inv[r][1] * rhs[1] + inv[r][2] * rhs[2];
    }
    for (int s = N - 1; s >= 1; --s) {
        const double(&xs)[3][3] = ls.x[s];
        const double(&yn)[3][4] = ls.y[s + 1];
        for (int r = 0; r < 3; ++r)
            ls.y[s][r][0] -= xs[r][0] * yn[0][0] + xs[r][1] * yn[1][0] + xs[r][2] * yn[2][0];
    }
    double rhs[3];
    rhs[0] = ls.frozen ? 0.0 : ls.y[N][1][0] - ls.y[k][1][0];
    if (k >= 2) {
        rhs[1] = ls.y[k - 1][1][0];
        rhs[2] = ls.y[k - 1][2][0];
    } else {
        rhs[1] = 0.0;
        rhs[2] = 0.0;
    }
    double b[3];
    for (int r = 0; r < 3; ++r)
        b[r] = ls.binv[r][0] * rhs[0] + ls.binv[r][1] * rhs[1] + ls.binv[r][2] * rhs[2];
    for (int s = 1; s <= N; ++s) {
        const double(&ys)[3][4] = ls.y[s];
        for (int r = 0; r < 3; ++r)
            btr(r, s) = ys[r][0] + ys[r][1] * b[0] + ys[r][2] * b[1] + ys[r][3] * b[2];
    }
}

}  // namespace

int GmresCycle(LineSolver& ls, const int& NY, const int& k, const int& NX, const int& m,
               GridArray& b, const double& target, const bool& rescale) {
    const int mMax = m < 1 ? 1 : (m > kMaxKrylov ? kMaxKrylov : m);
    double h[kMaxKrylov + 1][kMaxKrylov] = {};  // h[row][column], 0-based
    double g[kMaxKrylov + 1] = {};
    double scale[kMaxKrylov] = {};  // factor s2/s1 of B for each basis vector

    const double beta = std::sqrt(DotUnknowns(NY, k, NX, b, b));
    if (!(beta > 0.0)) {
        // A zero start vector: the result is zero.
        Scale(NY, NX, 0.0, b, b);
        return 0;
    }
    Scale(NY, NX, 1.0 / beta, b, krylov[1]);
    g[0] = beta;
    // The blocks of line 1 stay the same for the whole cycle.
    FactorLine1(ls, NX, k);

    // Arnoldi process with modified Gram-Schmidt; each new column of H is
    // reduced to upper-triangular form at once by the Givens rotations of
    // the columns before it and its own (cosine H(l, l)/r, sine
    // H(l+1, l)/r), with g rotated alongside, so |g(l+1)| is the residual
    // norm of the cycle after l steps.  The arithmetic of every column is
    // that of a reduction after the whole process.
    double cs[kMaxKrylov], sn[kMaxKrylov];
    int dim = mMax;
    for (int l = 1; l <= mMax; ++l) {
        GridArray& w = krylov[l + 1];
        double c = 1.0;
        if (rescale) {
            c = ScaledPreconditionedOperator(ls, NY, k, NX, krylov[l], w);
        } else {
            ApplyOperator(ls, NY, k, NX, krylov[l], gmw);
            Precondition<true>(ls, NY, k, NX, gmw, w);
        }
        scale[l - 1] = c;
        // Each pass over w applies one update and forms the next inner
        // product: w = c z with (w, v_1), then w -= h_p v_p with (w, v_p+1),
        // the last one with (w, w).
        double hp = ScaleDot(NY, k, NX, c, w, w, krylov[1]);
        double ww = 0.0;
        for (int p = 1; p <= l; ++p) {
            h[p - 1][l - 1] = hp;
            const GridArray& next = p < l ? krylov[p + 1] : w;
            const double t = AxpyDot(NY, k, NX, -hp, krylov[p], w, next);
            if (p < l) {
                hp = t;
            } else {
                ww = t;
            }
        }
        const double hn = std::sqrt(ww);
        h[l][l - 1] = hn;

        const int q = l - 1;
        for (int p = 0; p < q; ++p) {
            const double t = cs[p] * h[p][q] + sn[p] * h[p + 1][q];
            h[p + 1][q] = -sn[p] * h[p][q] + cs[p] * h[p + 1][q];
            h[p][q] = t;
        }
        const double r = std::sqrt(h[q][q] * h[q][q] + h[q + 1][q] * h[q + 1][q]);
        if (r > 0.0) {
            cs[q] = h[q][q] / r;
            sn[q] = h[q + 1][q] / r;
        } else {
            cs[q] = 1.0;
            sn[q] = 0.0;
        }
        h[q][q] = r;
        h[q + 1][q] = 0.0;
        g[q + 1] = -sn[q] * g[q];
        g[q] = cs[q] * g[q];

        if (hn == 0.0 || std::fabs(g[q + 1]) <= target * beta) {
            dim = l;
            break;
        }
        Scale(NY, NX, 1.0 / hn, w, w);
    }

    // Triangular solve; a vanishing diagonal (B(v) = 0) leaves its
    // coefficient at 0.
    double y[kMaxKrylov];
    for (int l = dim - 1; l >= 0; --l) {
        double t = g[l];
        for (int p = l + 1; p < dim; ++p) t -= h[l][p] * y[p];
        y[l] = h[l][l] != 0.0 ? t / h[l][l] : 0.0;
    }

    // Result over the start vector, line by line: b = c_0 v_1, then
    // b += c_l v_l+1 in turn, each line finished while it is in cache.
    double coef[kMaxKrylov];
    for (int l = 0; l < dim; ++l) coef[l] = scale[l] * y[l];
    double* pb = b.data();
    for (int j = 1; j <= NY; ++j) {
        double* lb = pb + GridArray::at(0, j);
        if (j == NY) {
            for (int i = 0; i <= NX; ++i) lb[i] = 0.0;
            continue;
        }
        const double* lv = krylov[1].data() + GridArray::at(0, j);
        lb[0] = 0.0;
        for (int i = 1; i <= NX - 1; ++i) lb[i] = coef[0] * lv[i];
        lb[NX] = 0.0;
        for (int l = 1; l < dim; ++l) {
            lv = krylov[l + 1].data() + GridArray::at(0, j);
            for (int i = 1; i <= NX - 1; ++i) lb[i] += coef[l] * lv[i];
        }
    }
    return dim;
}

}  // namespace quarel
