// Flexible GMRES with classical Gram-Schmidt and re-orthogonalisation.
#include "fgmres.h"

#include <cmath>

namespace quarel {

void FgmresWorkspace::Reserve(const int n, const int m) {
    const size_t nn = static_cast<size_t>(n);
    if (v.size() < (m + 1) * nn) v.resize((m + 1) * nn);
    if (z.size() < m * nn) z.resize(m * nn);
    if (r.size() < nn) r.resize(nn);
}

namespace {

double Dot(const int n, const double* a, const double* b) {
    // Four partial sums: independent chains the processor can overlap.
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int i = 0;
    for (; i + 3 < n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

}  // namespace

int Fgmres(const int& n, const int& m, const int& cycles, const LinearMap& A,
           const VaryingPreconditioner& P, const CycleTarget& target, const double* b, double* x,
           FgmresWorkspace& work) {
    const int mm = m < 1 ? 1 : m;
    work.Reserve(n, mm);
    const size_t nn = static_cast<size_t>(n);
    double* r = work.r.data();
    std::vector<double> h((mm + 1) * mm, 0.0);  // h[row + (mm+1) * column]
    std::vector<double> g(mm + 1), cs(mm), sn(mm), y(mm), c(mm + 1);
    int steps = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        A(x, r);
        for (int i = 0; i < n; ++i) r[i] = b[i] - r[i];
        const double beta = std::sqrt(Dot(n, r, r));
        const double goal = target(r, beta);
        if (goal < 0.0 || !(beta > 0.0)) break;
        double* v0 = work.v.data();
        for (int i = 0; i < n; ++i) v0[i] = r[i] / beta;
        for (double& e : h) e = 0.0;
        for (double& e : g) e = 0.0;
        g[0] = beta;
        int dim = 0;
        for (int l = 0; l < mm; ++l) {
            const double* vl = work.v.data() + l * nn;
            double* zl = work.z.data() + l * nn;
            double* w = work.v.data() + (l + 1) * nn;
            P(vl, zl, l);
            A(zl, w);
            ++steps;
            // Two passes of classical Gram-Schmidt.
            double* hl = h.data() + (mm + 1) * l;
            for (int pass = 0; pass < 2; ++pass) {
                for (int p = 0; p <= l; ++p) c[p] = Dot(n, work.v.data() + p * nn, w);
                for (int p = 0; p <= l; ++p) {
                    const double* vp = work.v.data() + p * nn;
                    const double cp = c[p];
                    for (int i = 0; i < n; ++i) w[i] -= cp * vp[i];
                    hl[p] += cp;
                }
            }
            const double hn = std::sqrt(Dot(n, w, w));
            hl[l + 1] = hn;
            // Givens rotations of the earlier columns, then this one's own.
            for (int p = 0; p < l; ++p) {
                const double t = cs[p] * hl[p] + sn[p] * hl[p + 1];
                hl[p + 1] = -sn[p] * hl[p] + cs[p] * hl[p + 1];
                hl[p] = t;
            }
            const double rr = std::sqrt(hl[l] * hl[l] + hl[l + 1] * hl[l + 1]);
            cs[l] = rr > 0.0 ? hl[l] / rr : 1.0;
            sn[l] = rr > 0.0 ? hl[l + 1] / rr : 0.0;
            hl[l] = rr;
            hl[l + 1] = 0.0;
            g[l + 1] = -sn[l] * g[l];
            g[l] = cs[l] * g[l];
            dim = l + 1;
            if (hn == 0.0 || std::fabs(g[l + 1]) <= goal) break;
            for (int i = 0; i < n; ++i) w[i] /= hn;
        }
        // Triangular solve; a vanishing diagonal leaves its coefficient 0.
        for (int l = dim - 1; l >= 0; --l) {
            double t = g[l];
            for (int p = l + 1; p < dim; ++p) t -= h[l + (mm + 1) * p] * y[p];
            const double d = h[l + (mm + 1) * l];
            y[l] = d != 0.0 ? t / d : 0.0;
        }
        for (int l = 0; l < dim; ++l) {
            const double* zl = work.z.data() + l * nn;
            const double yl = y[l];
            for (int i = 0; i < n; ++i) x[i] += yl * zl[i];
        }
    }
    return steps;
}

}  // namespace quarel
