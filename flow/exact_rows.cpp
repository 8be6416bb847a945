// The exact Newton matrix from the derivatives of the face states (see
// exact_rows.h).  Each routine below follows the residual routine of
// operator.cpp named in its comment, term by term.
#include "exact_rows.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "entropy_flux.h"
#include "operator.h"

namespace quarel::exact {

namespace {

// ---------------------------------------------------------------------
// Forward-mode arithmetic on the two face gradients.  The values are
// formed in the order of the residual routines, so that every test on
// them takes the branch the residual took.
// ---------------------------------------------------------------------

using D = FaceDual;
inline D operator+(const D& a, const D& b) {
    return {a.v + b.v, a.x + b.x, a.e + b.e};
}
inline D operator-(const D& a, const D& b) {
    return {a.v - b.v, a.x - b.x, a.e - b.e};
}
inline D operator-(const D& a) {
    return {-a.v, -a.x, -a.e};
}
inline D operator*(const D& a, const D& b) {
    return {a.v * b.v, a.x * b.v + a.v * b.x, a.e * b.v + a.v * b.e};
}
inline D operator*(double s, const D& a) {
    return {s * a.v, s * a.x, s * a.e};
}
inline D operator*(const D& a, double s) {
    return {a.v * s, a.x * s, a.e * s};
}
inline D operator/(const D& a, const D& b) {
    const double r = a.v / b.v;
    return {r, (a.x - r * b.x) / b.v, (a.e - r * b.e) / b.v};
}
inline D operator/(const D& a, double s) {
    return {a.v / s, a.x / s, a.e / s};
}
inline D operator/(double s, const D& b) {
    const double r = s / b.v;
    return {r, -r * b.x / b.v, -r * b.e / b.v};
}
// f(a) with f(a.v) = value and f'(a.v) = slope.
inline D chain(double value, double slope, const D& a) {
    return {value, slope * a.x, slope * a.e};
}

// d(rho)/d(q^2) of FlowConstants::density.
double densitySlope(const FlowConstants& c, double q2, double rho) {
    if (q2 + c.s2 > c.q3sq) {
        const double a3sq = 0.5 * (c.gamma - 1.0) * (1.0 - c.q3sq) + 1.0 / (c.mach * c.mach);
        return -rho / (2.0 * a3sq);
    }
    if (c.kappa == 0.0) return 0.0;
    const double base = 1.0 + c.kappa * (1.0 - q2 - c.s2);
    return -c.kappa * rho / ((c.gamma - 1.0) * base);
}

// d/d(q^2) of EntropyFluxFactor(sigma, q^2, a^2(q^2), gamma), a^2 falling
// by (gamma - 1)/2 per unit of q^2.
double entropyFactorSlope(const FlowConstants& c, double sigma, double q2) {
    if (sigma == 0.0 || !(q2 > 0.0)) return 0.0;
    const double g = c.gamma;
    const double e1 = std::expm1(sigma * (g - 1.0) / g);
    const double drop = 2.0 * c.a2(q2) / (g - 1.0) * e1;
    double r = 1.0 - drop / q2;
    double dr = (drop + e1 * q2) / (q2 * q2);
    if (r < 0.5) {
        dr *= 0.25 / ((1.0 - r) * (1.0 - r));
        r = 0.25 / (1.0 - r);
    }
    return std::exp(sigma / g) * dr / (2.0 * std::sqrt(r));
}

// F(m2) of EntropyJump with its derivative.
D entropyJump(const D& m2, double e, double gamma) {
    const double F = EntropyJump(m2.v, e, gamma);
    const double pr = ((2.0 * m2.v - 1.0) * gamma + 1.0) / (gamma + 1.0);
    const double dr = ((gamma - 1.0) * m2.v + 2.0) / ((gamma + 1.0) * m2.v);
    const double slope = (F + 1.0) * (e * (2.0 * gamma / (gamma + 1.0)) / pr +
                                      e * gamma * (-2.0 / ((gamma + 1.0) * m2.v * m2.v)) / dr);
    return chain(F, slope, m2);
}

// The state of an i-face from its gradients (faceState of operator.cpp).
void faceState(const FlowConstants& c, int f, int j, const D& pXi, const D& pEta,
               FaceDerivative& s) {
    const double J = aji(f, j);
    const double g11 = g11i(f, j), g12 = g12i(f, j), g22 = g22i(f, j);
    const D U = g12 * pEta + g11 * pXi;
    const D q2 = pXi * U + pEta * (g12 * pXi + g22 * pEta);
    const double qv = std::sqrt(q2.v);
    const D q = chain(qv, qv > 0.0 ? 0.5 / qv : 0.0, q2);
    const double rhoV = c.density(q2.v);
    const D rho = chain(rhoV, densitySlope(c, q2.v, rhoV), q2);
    const D a2 = chain(c.a2(q2.v), -0.5 * (c.gamma - 1.0), q2);
    s.rs = rho;
    s.q2 = q2;
    s.uj = U.v / J;
    s.g = g11 * pXi.v + g12 * pEta.v;
    s.m2 = U * U / (a2 * g11);
    s.sup = q.v > c.qstar;
    if (s.sup) {
        const double sonicFlux = c.rhostar * c.qstar;
        s.sonic = sonicFlux / q;
        s.flux = rho * q / sonicFlux;
        s.turn = U * U / (q2 * g11);
    } else {
        s.sonic = rho;
        s.flux = {1.0, 0.0, 0.0};
        s.turn = s.m2;
    }
    if (s.m2.v > 1.0) {
        const D uj = U / J;
        s.jump = entropyJump(s.m2, 1.0 / (c.gamma - 1.0), c.gamma) * rho * uj;
    } else {
        s.jump = {};
    }
}

// The flux factors of the faces' entropy (the non-isentropic model, held
// fixed as the entropy field is; biasedFaceDensities), from the speed of
// each face's own state.
void entropyFactors(const FlowConstants& c, const RowsCase& rc, int j, FaceDerivative* faces) {
    for (int f = 0; f <= rc.NX - 1; ++f) {
        FaceDerivative& s = faces[f];
        const double sigma = ent(f, j);
        if (sigma == 0.0) {
            s.ent = {1.0, 0.0, 0.0};
            continue;
        }
        const double q2 = s.q2.v;
        s.ent = chain(EntropyFluxFactor(sigma, q2, c.a2(q2), c.gamma),
                      entropyFactorSlope(c, sigma, q2), s.q2);
    }
}

// The i-faces of line j (innerLineFaceStates, bodyLineFaceStates).
void faceLine(const FlowConstants& c, const RowsCase& rc, double circ, int j,
              FaceDerivative* faces) {
    const int NX = rc.NX, k = rc.k;
    const D dx{0.0, 1.0, 0.0}, de{0.0, 0.0, 1.0};
    auto gradients = [&](double pXi, double pEta, D& x, D& e) {
        x = dx;
        x.v = pXi;
        e = de;
        e.v = pEta;
    };
    D x, e;
    if (j >= 2) {
        for (int f = 0; f <= NX - 1; ++f) {
            gradients(
                phi(f + 1, j) - phi(f, j),
                0.25 * (phi(f, j + 1) + phi(f + 1, j + 1) - phi(f, j - 1) - phi(f + 1, j - 1)), x,
                e);
            faceState(c, f, j, x, e, faces[f]);
            faces[f].src = f;
        }
        entropyFactors(c, rc, j, faces);
        return;
    }
    for (int f = 0; f <= k - 1; ++f) {
        gradients(
            phi(f + 1, 1) - phi(f, 1),
            0.25 * (phi(f, 2) + phi(f + 1, 2) - phi(NX - f, 2) - phi(NX - f - 1, 2) + 2.0 * circ),
            x, e);
        faceState(c, f, 1, x, e, faces[f]);
        faces[f].src = f;
    }
    // Body faces: the eta-gradient follows the xi-gradient through the wall
    // condition; it is carried as a gradient of its own here and folded
    // into the xi-gradient where the derivatives are spread over the nodes.
    const int mid = NX / 2;
    for (int f = k; f <= NX - k - 1; ++f) {
        const double vw = f < mid ? vfx(f) : vfx(f + 1);
        const double pXi = phi(f + 1, 1) - phi(f, 1);
        gradients(pXi, (vw - g12i(f, 1) * pXi) / g22i(f, 1), x, e);
        faceState(c, f, 1, x, e, faces[f]);
        faces[f].src = f;
    }
    // The second side of the cut: the first side's faces seen backwards.
    for (int f = 0; f <= k - 1; ++f) {
        FaceDerivative& p = faces[NX - 1 - f];
        p = faces[f];
        p.uj = -p.uj;
        p.g = -p.g;
        p.jump = -p.jump;
    }
    entropyFactors(c, rc, 1, faces);
}

// The eta-flux derivatives of the j-faces of line j (jFaceDensities,
// northFlux).
void jFaceLine(const FlowConstants& c, const RowsCase& rc, int j, JFaceDerivative* out) {
    for (int i = 1; i <= rc.NX - 1; ++i) {
        const double pEta = phi(i, j + 1) - phi(i, j);
        const double pXi =
            0.25 * (phi(i + 1, j) + phi(i + 1, j + 1) - phi(i - 1, j + 1) - phi(i - 1, j));
        const double g11 = g11j(i, j), g12 = g12j(i, j), g22 = g22j(i, j), J = ajj(i, j);
        const double V = g22 * pEta + g12 * pXi;
        const double W = g12 * pEta + g11 * pXi;
        const double q2 = V * pEta + W * pXi;
        const double rho = rhoj(i, j);
        double slope = densitySlope(c, q2, rho);
        // The flux factor of the face's entropy (held fixed), which rho holds.
        const double sigma = 0.25 * (ent(i - 1, j) + ent(i, j) + ent(i - 1, j + 1) + ent(i, j + 1));
        if (sigma != 0.0) slope += c.density(q2) * entropyFactorSlope(c, sigma, q2);
        out[i].eta = (2.0 * slope * V * V + rho * g22) / J;
        out[i].xi = (2.0 * slope * W * V + rho * g12) / J;
    }
}

// ---------------------------------------------------------------------
// Accumulating the derivative of one row
// ---------------------------------------------------------------------

// Sparse derivative over nodes and the circulation: nodes (i-3..i+3,
// j-1..j+1) of the row (i, j) in a box, others in a list.
struct NodeSum {
    static constexpr int kList = 96;
    int i = 0, j = 0;
    double box[3][7];
    int n = 0;
    int p[kList], q[kList];
    double v[kList];
    double circ = 0.0;

    void start(int ii, int jj) {
        i = ii;
        j = jj;
        std::memset(box, 0, sizeof box);
        n = 0;
        circ = 0.0;
    }
    void add(int pp, int qq, double val) {
        const int di = pp - i + 3, dj = qq - j + 1;
        if (di >= 0 && di < 7 && dj >= 0 && dj < 3) {
            box[dj][di] += val;
            return;
        }
        for (int m = 0; m < n; ++m)
            if (p[m] == pp && q[m] == qq) {
                v[m] += val;
                return;
            }
        assert(n < kList);
        if (n == kList) return;
        p[n] = pp;
        q[n] = qq;
        v[n] = val;
        ++n;
    }
    // Adds s times another sum.
    void add(const NodeSum& o, double s) {
        for (int dj = 0; dj < 3; ++dj)
            for (int di = 0; di < 7; ++di)
                if (o.box[dj][di] != 0.0) add(o.i + di - 3, o.j + dj - 1, s * o.box[dj][di]);
        for (int m = 0; m < o.n; ++m) add(o.p[m], o.q[m], s * o.v[m]);
        circ += s * o.circ;
    }
};

class RowDerivatives {
public:
    RowDerivatives(DerivativeWork& w, const RowsCase& rc, double circ, const GridArray& scale)
        : w_(w), rc_(rc), circ_(circ), scale_(scale), NX(rc.NX), k(rc.k) {}
    void run();

private:
    DerivativeWork& w_;
    const RowsCase& rc_;
    const double circ_;
    const GridArray& scale_;
    const int NX, k;
    FlowConstants c_{};
    const JFaceDerivative* jNorth_ = nullptr;  // j-faces of the row's line
    const JFaceDerivative* jSouth_ = nullptr;  // and of the line below
    NodeSum acc_, edge_[4];
    bool edgeActive_ = false;

    void face(NodeSum& s, int f, int j, double cx, double ce) const;
    void jFace(NodeSum& s, int i, int j, const JFaceDerivative& d, double sign) const;
    void rhoi(NodeSum& s, int f, int j, double coef) const;
    void xiFlux(NodeSum& s, int f, int j, double sign) const;
    void shock(NodeSum& s, int f, int j, double coef) const;
    void edgeCorrections();
    void interiorRow(int i, int j);
    void wakeRow(int i);
    void bodyRow(int i);
    void cutOutflow(int i);
    void flush();
};

// Spreads cx d/d(pXi) + ce d/d(pEta) of i-face f on line j over the nodes
// its gradients are made of.
void RowDerivatives::face(NodeSum& s, int f, int j, double cx, double ce) const {
    if (cx == 0.0 && ce == 0.0) return;
    if (j >= 2) {
        s.add(f + 1, j, cx);
        s.add(f, j, -cx);
        const double q = 0.25 * ce;
        s.add(f, j + 1, q);
        s.add(f + 1, j + 1, q);
        s.add(f, j - 1, -q);
        s.add(f + 1, j - 1, -q);
        return;
    }
    const int g = w_.faces[f].src;
    if (g < k) {
        // A cut face: the eta-gradient reaches across the cut.
        s.add(g + 1, 1, cx);
        s.add(g, 1, -cx);
        const double q = 0.25 * ce;
        s.add(g, 2, q);
        s.add(g + 1, 2, q);
        s.add(NX - g, 2, -q);
        s.add(NX - g - 1, 2, -q);
        s.circ += 0.5 * ce;
        return;
    }
    // A body face: pEta = (vw - g12 pXi) / g22.
    const double x = cx - ce * g12i(g, 1) / g22i(g, 1);
    s.add(g + 1, 1, x);
    s.add(g, 1, -x);
}

// coef times the derivative of the eta-flux of j-face (i, j).
void RowDerivatives::jFace(NodeSum& s, int i, int j, const JFaceDerivative& d, double sign) const {
    const double ce = sign * d.eta, cx = 0.25 * sign * d.xi;
    s.add(i, j + 1, ce);
    s.add(i, j, -ce);
    s.add(i + 1, j, cx);
    s.add(i + 1, j + 1, cx);
    s.add(i - 1, j + 1, -cx);
    s.add(i - 1, j, -cx);
}

// coef times the derivative of the biased density rhoi of face f
// (biasedFaceDensities).
void RowDerivatives::rhoi(NodeSum& s, int f, int j, double coef) const {
    // rhoi = the biased density b times the entropy's flux factor m.
    const FaceDerivative& F = w_.faces[f];
    const double m = F.ent.v;
    if (f < 2 || f > NX - 3) {
        face(s, f, j, coef * (m * F.rs.x + F.rs.v * F.ent.x),
             coef * (m * F.rs.e + F.rs.v * F.ent.e));
        return;
    }
    const int u = F.uj < 0.0 ? f - 1 : f + 1;
    const FaceDerivative& U = w_.faces[u];
    const double fu = U.sup ? U.flux.v : 1.0, b = F.sonic.v * fu;
    face(s, f, j, coef * (m * fu * F.sonic.x + b * F.ent.x),
         coef * (m * fu * F.sonic.e + b * F.ent.e));
    if (U.sup) face(s, u, j, coef * m * F.sonic.v * U.flux.x, coef * m * F.sonic.v * U.flux.e);
}

// sign times the derivative of the xi-flux of face f with the face's own
// gradients (eastFlux).
void RowDerivatives::xiFlux(NodeSum& s, int f, int j, double sign) const {
    const double J = aji(f, j);
    rhoi(s, f, j, sign * w_.faces[f].g / J);
    const double r = sign * quarel::rhoi(f, j) / J;
    face(s, f, j, r * g11i(f, j), r * g12i(f, j));
}

// coef times the derivative of the shock-point term of face f
// (shockPointTerm).
void RowDerivatives::shock(NodeSum& s, int f, int j, double coef) const {
    if (f < 2 || f > NX - 3) return;
    const FaceDerivative* F = w_.faces;
    auto m2 = [&](int g) { return (g < 0 || g > NX - 1) ? 0.0 : F[g].m2.v; };
    auto jump = [&](int g, double c) { face(s, g, j, c * F[g].jump.x, c * F[g].jump.e); };
    auto m2d = [&](int g, double c) {
        if (g >= 0 && g <= NX - 1) face(s, g, j, c * F[g].m2.x, c * F[g].m2.e);
    };
    // max(0, P(f) - P(f-1)) times the factor (1 - m2(a)) / (m2(b) - m2(a))
    // of the faces a (further) and b (nearer) beyond the shock, or 1.
    auto difference = [&](int a, int b, bool interpolated) {
        const double d = F[f].jump.v - F[f - 1].jump.v;
        if (!(d > 0.0)) return;
        double factor = 1.0;
        if (interpolated) {
            const double ma = m2(a), mb = m2(b);
            factor = (1.0 - ma) / (mb - ma);
            const double den = (mb - ma) * (mb - ma);
            m2d(a, coef * d * (1.0 - mb) / den);
            m2d(b, -coef * d * (1.0 - ma) / den);
        }
        jump(f, coef * factor);
        jump(f - 1, -coef * factor);
    };
    if (F[f].uj < 0.0) {
        if (m2(f - 1) <= 1.0) {
        } else if (m2(f) <= 1.0) {
            jump(f - 1, -coef);
        } else if (m2(f + 1) < 1.0) {
            difference(0, 0, false);
        } else if (m2(f + 2) < 1.0) {
            difference(f + 2, f + 1, true);
        }
    } else {
        if (m2(f) <= 1.0) {
        } else if (m2(f - 1) <= 1.0) {
            jump(f, coef);
        } else if (m2(f - 2) < 1.0) {
            difference(0, 0, false);
        } else if (m2(f - 3) < 1.0) {
            difference(f - 3, f - 2, true);
        }
    }
}

// The derivatives of the four trailing-edge face corrections
// (TrailingEdgeFaceCorrections) into edge_[0..3]; needs the faces of line 1.
void RowDerivatives::edgeCorrections() {
    EdgeCorrectionTerms t;
    TrailingEdgeCorrectionTerms(k, NX, t);
    edgeActive_ = t.active;
    if (!t.active) return;
    const int faceOf[4] = {k - 1, NX - k, k, NX - k - 1};
    for (int m = 0; m < 4; ++m) {
        NodeSum& d = edge_[m];
        d.start(k, 1);
        const double w = t.weight, D0 = t.defect[0][m], D1 = t.defect[1][m];
        // Through the amplitudes: the measures m0 and m1.
        const double c0 = w * (t.a11 / t.det * D0 - t.turning * t.a10 / t.det * D1);
        const double c1 = w * (-t.a01 / t.det * D0 + t.turning * t.a00 / t.det * D1);
        d.add(k, 1, c0);
        d.add(k - 1, 1, -c0);
        d.add(k + 1, 1, c1);
        d.add(k, 1, -c1);
        d.add(NX - k - 1, 1, -c1);
        d.add(NX - k, 1, c1);
        // Through the density of face m, to which both defects are
        // proportional.
        rhoi(d, faceOf[m], 1, w * (t.A * D0 + t.turning * t.B * D1) / t.rho[m]);
        // Through the turning factor.
        if (t.turningVaries) {
            const FaceDerivative& T = w_.faces[t.turningFace];
            const double s = -w * t.B * D1 / (0.09 - 0.01);
            face(d, t.turningFace, 1, s * T.turn.x, s * T.turn.e);
        }
    }
}

void RowDerivatives::interiorRow(int i, int j) {
    acc_.start(i, j);
    xiFlux(acc_, i, j, 1.0);
    xiFlux(acc_, i - 1, j, -1.0);
    jFace(acc_, i, j, jNorth_[i], 1.0);
    jFace(acc_, i, j - 1, jSouth_[i], -1.0);
    shock(acc_, i, j, 1.0);
    flush();
}

// WakeRow.
void RowDerivatives::wakeRow(int i) {
    acc_.start(i, 1);
    xiFlux(acc_, i, 1, 1.0);
    xiFlux(acc_, i - 1, 1, -1.0);
    jFace(acc_, i, 1, jNorth_[i], 1.0);
    jFace(acc_, NX - i, 1, jNorth_[NX - i], 1.0);
    if (i == k - 1 && edgeActive_) {
        acc_.add(edge_[0], 1.0);
        acc_.add(edge_[1], 1.0);
    }
    shock(acc_, i, 1, 1.0);
    flush();
}

// The flux of a trailing-edge half cell through the first cut face
// (TrailingEdgeCutOutflow), whose eta-gradient takes the circulation
// from the potential.
void RowDerivatives::cutOutflow(int i) {
    const bool upper = i == k;
    const int f = upper ? k - 1 : NX - k;
    const double sign = upper ? -0.5 : 0.5;
    const double circ = Circulation(NX, k);
    const double pXi = phi(f + 1, 1) - phi(f, 1);
    const double pEta =
        upper
            ? 0.25 * (phi(k - 1, 2) + phi(k, 2) - phi(NX - k + 1, 2) - phi(NX - k, 2) + 2.0 * circ)
            : 0.25 * (phi(NX - k, 2) + phi(NX - k + 1, 2) - phi(k - 1, 2) - phi(k, 2) - 2.0 * circ);
    const double J = aji(f, 1), g11 = g11i(f, 1), g12 = g12i(f, 1);
    rhoi(acc_, f, 1, sign * (g11 * pXi + g12 * pEta) / J);
    const double r = sign * quarel::rhoi(f, 1) / J;
    acc_.add(f + 1, 1, r * g11);
    acc_.add(f, 1, -r * g11);
    // pEta, with Gamma = phi(NX-k, 1) - phi(k, 1).
    const double q = 0.25 * r * g12 * (upper ? 1.0 : -1.0);
    acc_.add(k - 1, 2, q);
    acc_.add(k, 2, q);
    acc_.add(NX - k + 1, 2, -q);
    acc_.add(NX - k, 2, -q);
    acc_.add(NX - k, 1, 2.0 * q);
    acc_.add(k, 1, -2.0 * q);
}

// BodyRow.
void RowDerivatives::bodyRow(int i) {
    acc_.start(i, 1);
    const int mid = NX / 2;
    if (IsDesignRow(i, NX, k, rc_.designFlag, rc_.firstOnly, rc_.L)) {
        acc_.add(i < mid ? i + 1 : i - 1, 1, 1.0);
        acc_.add(i, 1, -1.0);
        flush();
        return;
    }
    double vE, vW;
    WallTranspiration(i, NX, vE, vW);
    const int E = i, W = i - 1;
    const bool upperTE = i == k, lowerTE = i == NX - k;
    jFace(acc_, i, 1, jNorth_[i], 1.0);
    if (edgeActive_) {
        if (E == k) acc_.add(edge_[2], 1.0);
        if (W == k) acc_.add(edge_[2], -1.0);
        if (E == NX - k - 1) acc_.add(edge_[3], 1.0);
        if (W == NX - k - 1) acc_.add(edge_[3], -1.0);
        if (upperTE) acc_.add(edge_[0], -1.0);
        if (lowerTE) acc_.add(edge_[1], -1.0);
    }
    if (lowerTE) {
        cutOutflow(i);
    } else {
        const double h = aji(E, 1) / g22i(E, 1);
        rhoi(acc_, E, 1, 0.5 * h * (phi(i + 1, 1) - phi(i, 1)) - 0.5 * vE / aji(E, 1));
        const double r = 0.5 * quarel::rhoi(E, 1) * h;
        acc_.add(i + 1, 1, r);
        acc_.add(i, 1, -r);
    }
    if (upperTE) {
        cutOutflow(i);
    } else {
        const double h = aji(W, 1) / g22i(W, 1);
        rhoi(acc_, W, 1, -(0.5 * h * (phi(i, 1) - phi(i - 1, 1)) + 0.5 * vW / aji(W, 1)));
        const double r = 0.5 * quarel::rhoi(W, 1) * h;
        acc_.add(i, 1, -r);
        acc_.add(i - 1, 1, r);
    }
    shock(acc_, i, 1, 0.5);
    flush();
}

// The row's derivative into the stored rows.
void RowDerivatives::flush() {
    const int i = acc_.i, j = acc_.j;
    const double s = scale_(i, j), xTE = xg(k, 1);
    if (j >= 2 && j <= rc_.NY - 2 && i >= 4 && i <= NX - 4 && acc_.n == 0) {
        // The nodes next to an interior row far from the boundaries have
        // their slots (see AddEntry); three nodes along the line are
        // extra couplings.
        const double(&b)[3][7] = acc_.box;
        ad1(i, j) -= b[1][3] / s;
        ad2(i, j) -= b[1][2] / s;
        ad3(i, j) -= b[1][4] / s;
        ad4(i, j) -= b[2][3] / s;
        ad6(i, j) -= b[2][4] / s;
        ad7(i, j) -= b[2][2] / s;
        ad5(i, j) -= b[0][3] / s;
        ad8(i, j) -= b[0][4] / s;
        ad9(i, j) -= b[0][2] / s;
        adm(i, j) += b[1][1] / s;
        ad2(i, j) -= b[1][1] / s;
        adp(i, j) -= b[1][5] / s;
        ad3(i, j) -= b[1][5] / s;
        for (int dj = 0; dj < 3; ++dj)
            for (int di : {0, 6})
                if (b[dj][di] != 0.0)
                    AddEntry(rc_, xTE, i, j, i + di - 3, j + dj - 1, -b[dj][di] / s);
        for (int di : {1, 5})
            for (int dj : {0, 2})
                if (b[dj][di] != 0.0)
                    AddEntry(rc_, xTE, i, j, i + di - 3, j + dj - 1, -b[dj][di] / s);
        if (acc_.circ != 0.0) adg(i, j) += acc_.circ / s;
        return;
    }
    for (int dj = 0; dj < 3; ++dj)
        for (int di = 0; di < 7; ++di)
            if (acc_.box[dj][di] != 0.0)
                AddEntry(rc_, xTE, i, j, i + di - 3, j + dj - 1, -acc_.box[dj][di] / s);
    for (int m = 0; m < acc_.n; ++m) AddEntry(rc_, xTE, i, j, acc_.p[m], acc_.q[m], -acc_.v[m] / s);
    if (acc_.circ != 0.0) adg(i, j) += acc_.circ / s;
}

void RowDerivatives::run() {
    c_ = MakeFlowConstants(rc_.mach, rc_.gamma, rc_.s2);
    for (int j = 1; j <= rc_.NY - 1; ++j) {
        faceLine(c_, rc_, circ_, j, w_.faces);
        jFaceLine(c_, rc_, j, w_.jFaces[j & 1]);
        jNorth_ = w_.jFaces[j & 1];
        jSouth_ = w_.jFaces[(j - 1) & 1];
        if (j == 1) {
            edgeCorrections();
            for (int i = 1; i <= k - 1; ++i) wakeRow(i);
            for (int i = k; i <= NX - k; ++i) bodyRow(i);
        } else {
            for (int i = 1; i <= NX - 1; ++i) interiorRow(i, j);
        }
    }
}

}  // namespace

void DerivativeRows(DerivativeWork& work, const RowsCase& rc, const double& circ,
                    const GridArray& scale) {
    RowDerivatives(work, rc, circ, scale).run();
}

}  // namespace quarel::exact

namespace quarel {

void ExactRows(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
               const double& s2, const int& designFlag, const int& firstOnly, const int& L,
               ExactRowsWorkspace& work, const double& step) {
    // Differences wider than 1e-7 are asked for where the iteration cycles
    // on a kink of the switches: their secant spans it, which the
    // derivative of either side does not.
    constexpr double kDerivativeStep = 1.0e-7;
    if (step > kDerivativeStep) {
        ExactRowsByDifferences(NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L, work, step);
        return;
    }
    const exact::RowsCase rc{NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L};
    const GridArray& scale =
        ExactRowScales(NY, k, NX, mach, gamma, s2, designFlag, firstOnly, L, work);
    exact::ClearRowsAndMomentWeights(rc);
    const std::unique_ptr<exact::DerivativeWork> faces(new exact::DerivativeWork());
    exact::DerivativeRows(*faces, rc, Circulation(NX, k), scale);
}

}  // namespace quarel
