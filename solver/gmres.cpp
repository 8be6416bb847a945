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

// Work storage of the block elimination: X = M^-1 A (coupling to the next
// station) and Y = M^-1 (right-hand side | -btg | two border columns) per
// station; after back substitution Y holds each unknown as an affine
// function of (1, dGamma, w2, w3).
double g_x[kBlockStations + 1][3][3];
double g_y[kBlockStations + 1][3][4];

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

// y(i, j) += alpha x(i, j) on lines 1 .. NY-1, i = 1 .. NX-1.
void Axpy(const int& NY, const int& NX, const double alpha, const GridArray& x, GridArray& y) {
    const double* px = x.data();
    double* py = y.data();
    for (int j = 1; j <= NY - 1; ++j) {
        const double* lx = px + GridArray::at(0, j);
        double* ly = py + GridArray::at(0, j);
        for (int i = 1; i <= NX - 1; ++i) ly[i] += alpha * lx[i];
    }
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

// B(x) of the GMRES cycle: w = A x, z = P^-1 w, result (s2/s1) z with
// s1 = |A z|^2 and s2 = (A z, w), written into out.  Uses gmw and
// krylov[0] as work vectors.
double ScaledPreconditionedOperator(const int& NY, const int& k, const int& NX,
                                    const GridArray& x, GridArray& out) {
    ApplyOperator(NY, k, NX, x, gmw);
    ApplyPreconditioner(NY, k, NX, gmw, out);
    ApplyOperator(NY, k, NX, out, krylov[0]);
    const double s1 = DotUnknowns(NY, k, NX, krylov[0], krylov[0]);
    const double s2 = DotUnknowns(NY, k, NX, krylov[0], gmw);
    // A vanishing A z (only for x = 0) gives B(x) = 0: the Arnoldi
    // process then stops at this dimension.
    const double c = s1 > 0.0 ? s2 / s1 : 0.0;
    Scale(NY, NX, c, out, out);
    return c;
}

}  // namespace

void ApplyPreconditioner(const int& NY, const int& k, const int& NX, const GridArray& r,
                         GridArray& z) {
    // r and z may be the same array: every r(i, j) is read before z(i, j)
    // is written.  The boundary values of z must be 0 for the sweeps.
    const double* pr = r.data();
    double* pz = z.data();
    ClearBoundary(NY, NX, z);

    // 1. Backward sweep with the lower factor, from the far field to
    //    line 2.
    for (int j = NY - 1; j >= 2; --j) {
        const int o = GridArray::at(0, j);
        const double* lr = pr + o;
        double* lz = pz + o;
        const double* lzn = pz + o + S;
        const double* lpmw = pmw.data() + o;
        const double* lpcn = pcn.data() + o;
        const double* lpme = pme.data() + o;
        const double* lppv = ppv.data() + o;
        for (int i = 1; i <= NX - 1; ++i) {
            lz[i] = (lr[i] - lpmw[i] * lz[i - 1] - lpcn[i] * lzn[i] - lpme[i] * lzn[i + 1]) /
                    lppv[i];
        }
    }

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
    BlockSolveLine1(NX, k);
    for (int i = 1; i <= N; ++i) {
        z(i, 1) = btr(1, i);
        if (NY >= 3) {
            z(i, 2) = btr(0, i);
            if (i < k) z(NX - i, 2) = btr(2, i);
        }
    }
    // The second-side cut nodes: partner value plus the circulation change.
    const double dGamma = z(NX - k, 1) - z(k, 1);
    for (int i = 1; i <= k - 1; ++i) z(NX - i, 1) = z(i, 1) + dGamma;

    // 3. Forward sweep with the upper factor, outward from line 3.
    for (int j = 3; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        double* lz = pz + o;
        const double* lzs = pz + o - S;
        const double* lpcs = pcs.data() + o;
        const double* lpce = pce.data() + o;
        const double* lpcw = pcw.data() + o;
        for (int i = NX - 1; i >= 1; --i) {
            lz[i] -= lpcs[i] * lzs[i] + lpce[i] * lz[i + 1] + lpcw[i] * lzs[i - 1];
        }
    }
}

void ApplyOperator(const int& NY, const int& k, const int& NX, const GridArray& v,
                   GridArray& av) {
    const double* pv = v.data();
    double* pa = av.data();
    const double dGamma = pv[GridArray::at(NX - k, 1)] - pv[GridArray::at(k, 1)];

    // Interior lines j = 2 .. NY-1.
    for (int j = 2; j <= NY - 1; ++j) {
        const int o = GridArray::at(0, j);
        const double* c = pv + o;       // line j
        const double* n = c + S;        // line j+1
        const double* s = c - S;        // line j-1
        const double* a1 = ad1.data() + o;
        const double* a2 = ad2.data() + o;
        const double* a3 = ad3.data() + o;
        const double* a4 = ad4.data() + o;
        const double* a5 = ad5.data() + o;
        const double* a6 = ad6.data() + o;
        const double* a7 = ad7.data() + o;
        const double* a8 = ad8.data() + o;
        const double* a9 = ad9.data() + o;
        const double* am = adm.data() + o;
        const double* ap = adp.data() + o;
        const double* ag = adg.data() + o;
        double* out = pa + o;
        for (int i = 1; i <= NX - 1; ++i) {
            out[i] = a1[i] * c[i] + a2[i] * c[i - 1] + a3[i] * c[i + 1] + a4[i] * n[i] +
                     a6[i] * n[i + 1] + a7[i] * n[i - 1] + a5[i] * s[i] + a8[i] * s[i + 1] +
                     a9[i] * s[i - 1] - ag[i] * dGamma;
        }
        for (int i = 3; i <= NX - 1; ++i) out[i] += am[i] * (c[i - 1] - c[i - 2]);
        for (int i = 1; i <= NX - 3; ++i) out[i] += ap[i] * (c[i + 2] - c[i + 1]);
        out[0] = 0.0;
        out[NX] = 0.0;
    }

    // Line 1: wake-cut nodes (south neighbours across the cut on line 2),
    // body nodes (no south neighbours), second-side cut nodes (0).
    {
        const double* c = pv;
        const double* n = pv + S;
        double* out = pa;
        for (int i = 1; i <= NX - k; ++i) {
            double sum = ad1(i, 1) * c[i] + ad2(i, 1) * c[i - 1] + ad3(i, 1) * c[i + 1] +
                         ad4(i, 1) * n[i] + ad6(i, 1) * n[i + 1] + ad7(i, 1) * n[i - 1];
            if (i < k) {
                sum += ad5(i, 1) * n[NX - i] + ad8(i, 1) * n[NX - i - 1] +
                       ad9(i, 1) * n[NX - i + 1];
            }
            if (i > 2) sum += adm(i, 1) * (c[i - 1] - c[i - 2]);
            if (i < NX - 2) sum += adp(i, 1) * (c[i + 2] - c[i + 1]);
            out[i] = sum - adg(i, 1) * dGamma;
        }
        for (int i = NX - k + 1; i <= NX; ++i) out[i] = 0.0;
        out[0] = 0.0;
    }
    double* top = pa + GridArray::at(0, NY);
    for (int i = 0; i <= NX; ++i) top[i] = 0.0;
    if (NY >= 2) {
        for (int j = 2; j <= NY - 1; ++j) {
            pa[GridArray::at(0, j)] = 0.0;
            pa[GridArray::at(NX, j)] = 0.0;
        }
    }
}

void BlockSolveLine1(const int& NX, const int& k) {
    const int N = NX - k;
    if (N < 1) return;

    // Forward elimination.  Column 0 of the right-hand side is btr, column
    // 1 the circulation column -btg, columns 2 and 3 the border unknowns
    // w2 = z(N+1, 1) and w3 = z(N+1, 2) that the last station couples to.
    for (int s = 1; s <= N; ++s) {
        double m[3][3], rhs[3][4];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] = btb(r, c, s);
            rhs[r][0] = btr(r, s);
            rhs[r][1] = -btg(r, s);
            rhs[r][2] = s == N ? -bta(r, 1, s) : 0.0;
            rhs[r][3] = s == N ? -bta(r, 0, s) : 0.0;
        }
        if (s > 1) {
            double cb[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) cb[r][c] = btc(r, c, s);
            const double(&xp)[3][3] = g_x[s - 1];
            const double(&yp)[3][4] = g_y[s - 1];
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    m[r][c] -= cb[r][0] * xp[0][c] + cb[r][1] * xp[1][c] + cb[r][2] * xp[2][c];
                for (int c = 0; c < 4; ++c)
                    rhs[r][c] -= cb[r][0] * yp[0][c] + cb[r][1] * yp[1][c] + cb[r][2] * yp[2][c];
            }
        }
        double inv[3][3];
        Inverse3(m, inv);
        if (s < N) {
            double a[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) a[r][c] = bta(r, c, s);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    g_x[s][r][c] = inv[r][0] * a[0][c] + inv[r][1] * a[1][c] + inv[r][2] * a[2][c];
        }
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                g_y[s][r][c] = inv[r][0] * rhs[0][c] + inv[r][1] * rhs[1][c] + inv[r][2] * rhs[2][c];
    }

    // Back substitution: every unknown as an affine function of the border
    // unknowns (1, dGamma, w2, w3).
    for (int s = N - 1; s >= 1; --s) {
        const double(&xs)[3][3] = g_x[s];
        const double(&yn)[3][4] = g_y[s + 1];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                g_y[s][r][c] -= xs[r][0] * yn[0][c] + xs[r][1] * yn[1][c] + xs[r][2] * yn[2][c];
    }

    // The border unknowns: dGamma = u2(N) - u2(k), w2 = u2(k-1) + dGamma,
    // w3 = u3(k-1) (the second-side images of station k-1).  Without a
    // wake cut (k = 1) the east neighbours of station N are boundary
    // nodes and w2 = w3 = 0.
    double m[3][3], inv[3][3], rhs[3];
    {
        const double(&yn)[3][4] = g_y[N];
        const double(&yk)[3][4] = g_y[k];
        m[0][0] = 1.0 - (yn[1][1] - yk[1][1]);
        m[0][1] = -(yn[1][2] - yk[1][2]);
        m[0][2] = -(yn[1][3] - yk[1][3]);
        rhs[0] = yn[1][0] - yk[1][0];
        if (k >= 2) {
            const double(&yc)[3][4] = g_y[k - 1];
            m[1][0] = -1.0 - yc[1][1];
            m[1][1] = 1.0 - yc[1][2];
            m[1][2] = -yc[1][3];
            rhs[1] = yc[1][0];
            m[2][0] = -yc[2][1];
            m[2][1] = -yc[2][2];
            m[2][2] = 1.0 - yc[2][3];
            rhs[2] = yc[2][0];
        } else {
            m[1][0] = 0.0, m[1][1] = 1.0, m[1][2] = 0.0, rhs[1] = 0.0;
            m[2][0] = 0.0, m[2][1] = 0.0, m[2][2] = 1.0, rhs[2] = 0.0;
        }
    }
    Inverse3(m, inv);
    double b[3];
    for (int r = 0; r < 3; ++r) b[r] = inv[r][0] * rhs[0] + inv[r][1] * rhs[1] + inv[r][2] * rhs[2];
    for (int s = 1; s <= N; ++s) {
        const double(&ys)[3][4] = g_y[s];
        for (int r = 0; r < 3; ++r)
            btr(r, s) = ys[r][0] + ys[r][1] * b[0] + ys[r][2] * b[1] + ys[r][3] * b[2];
    }
}

void GmresCycle(const int& NY, const int& k, const int& NX, const int& m, GridArray& b) {
    const int mMax = m < 1 ? 1 : (m > kMaxKrylov ? kMaxKrylov : m);
    double h[kMaxKrylov + 1][kMaxKrylov] = {};  // h[row][column], 0-based
    double g[kMaxKrylov + 1] = {};
    double scale[kMaxKrylov] = {};  // factor s2/s1 of B for each basis vector

    const double beta = std::sqrt(DotUnknowns(NY, k, NX, b, b));
    if (!(beta > 0.0)) {
        // A zero start vector: the result is zero.
        Scale(NY, NX, 0.0, b, b);
        return;
    }
    Scale(NY, NX, 1.0 / beta, b, krylov[1]);
    g[0] = beta;

    // Arnoldi process with modified Gram-Schmidt.
    int dim = mMax;
    for (int l = 1; l <= mMax; ++l) {
        GridArray& w = krylov[l + 1];
        scale[l - 1] = ScaledPreconditionedOperator(NY, k, NX, krylov[l], w);
        for (int p = 1; p <= l; ++p) {
            const double hp = DotUnknowns(NY, k, NX, w, krylov[p]);
            h[p - 1][l - 1] = hp;
            Axpy(NY, NX, -hp, krylov[p], w);
        }
        const double hn = std::sqrt(DotUnknowns(NY, k, NX, w, w));
        h[l][l - 1] = hn;
        if (hn == 0.0) {
            dim = l;
            break;
        }
        Scale(NY, NX, 1.0 / hn, w, w);
    }

    // Givens rotations, column by column, with g rotated alongside.
    double cs[kMaxKrylov], sn[kMaxKrylov];
    for (int l = 0; l < dim; ++l) {
        for (int p = 0; p < l; ++p) {
            const double t = cs[p] * h[p][l] + sn[p] * h[p + 1][l];
            h[p + 1][l] = -sn[p] * h[p][l] + cs[p] * h[p + 1][l];
            h[p][l] = t;
        }
        const double r = std::sqrt(h[l][l] * h[l][l] + h[l + 1][l] * h[l + 1][l]);
        if (r > 0.0) {
            cs[l] = h[l][l] / r;
            sn[l] = h[l + 1][l] / r;
        } else {
            cs[l] = 1.0;
            sn[l] = 0.0;
        }
        h[l][l] = r;
        h[l + 1][l] = 0.0;
        g[l + 1] = -sn[l] * g[l];
        g[l] = cs[l] * g[l];
    }

    // Triangular solve; a vanishing diagonal (B(v) = 0) leaves its
    // coefficient at 0.
    double y[kMaxKrylov];
    for (int l = dim - 1; l >= 0; --l) {
        double t = g[l];
        for (int p = l + 1; p < dim; ++p) t -= h[l][p] * y[p];
        y[l] = h[l][l] != 0.0 ? t / h[l][l] : 0.0;
    }

    // Result over the start vector.
    Scale(NY, NX, scale[0] * y[0], krylov[1], b);
    for (int l = 1; l < dim; ++l) Axpy(NY, NX, scale[l] * y[l], krylov[l + 1], b);
}

}  // namespace quarel
