#include "boundary_layer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "closures.h"

namespace quarel {

namespace {

// Separation shape factors above which a station is solved inversely, and
// the least shape factors a station may take.
constexpr double kHmaxLaminar = 3.8;
constexpr double kHmaxTurbulent = 2.5;
constexpr double kHminLaminar = 1.02;
constexpr double kHminTurbulent = 1.05;
constexpr double kHminWake = 1.00005;
constexpr double kCtauMin = 1.0e-7;

enum class Regime { Laminar, Turbulent, Wake };

// Unknowns of a station: log theta, Hk, log ue and the third variable (N
// while laminar, log C_tau after).
struct Vars {
    double lt, hk, lu, c;
};

// Everything the residuals take from one station.
struct Terms {
    double theta, H, Hk, ue, Me2, rho, ret;
    double hs;   // H*
    double A;    // Cf/2 s/theta
    double B;    // H + 2 - Me^2
    double C;    // 2 H**/H* + 1 - H
    double D;    // (2 CD/H* - Cf/2) s/theta
    double E;    // (s/delta)(lag source) of the shear-stress equation
    double amp;  // dN/ds
    double cf;
};

double Hmin(Regime r) {
    return r == Regime::Laminar     ? kHminLaminar
           : r == Regime::Turbulent ? kHminTurbulent
                                    : kHminWake;
}

Terms Evaluate(const Vars& v, double s, Regime regime, double mach, const ViscousOptions& o) {
    Terms t{};
    t.theta = std::exp(v.lt);
    t.ue = std::exp(v.lu);
    t.Hk = std::max(v.hk, Hmin(regime));
    const EdgeState e = EdgeFlow(t.ue, mach, o);
    t.Me2 = e.M2;
    t.rho = e.rho;
    t.H = ShapeFromKinematic(t.Hk, t.Me2);
    t.ret = std::max(o.reynolds * t.ue * e.rho * t.theta / e.mu, 1.0);
    const double hss = DensityShape(t.Hk, t.Me2);
    double cd2;  // 2 CD / H*
    if (regime == Regime::Laminar) {
        t.hs = LaminarHstar(t.Hk);
        t.cf = 2.0 * LaminarSkinFriction(t.Hk) / t.ret;
        cd2 = LaminarDissipation(t.Hk) / t.ret;
        t.amp = AmplificationRate(t.Hk, t.theta, t.ret);
        t.E = 0.0;
    } else {
        const bool wake = regime == Regime::Wake;
        t.hs = TurbulentHstar(t.Hk, t.ret, t.Me2);
        t.cf = wake ? 0.0 : TurbulentSkinFriction(t.Hk, t.ret, t.Me2);
        const double ctau = std::exp(v.c);
        const double us = SlipVelocity(t.hs, t.Hk, t.H, wake);
        // The wake is both halves in one: twice the dissipation of a half
        // and the lag length of a half.
        const double cd = (0.5 * t.cf * us + ctau * (1.0 - us)) * (wake ? 2.0 : 1.0);
        cd2 = 2.0 * cd / t.hs;
        const double dstar = t.H * t.theta;
        const double delta =
            LayerThickness(wake ? 0.5 * t.theta : t.theta, t.Hk, wake ? 0.5 * dstar : dstar);
        const double ceq = EquilibriumShear(t.hs, t.Hk, t.H, us);
        const double g = (t.Hk - 1.0) / (6.7 * t.Hk);
        const double src =
            5.6 * (std::sqrt(ceq) - std::sqrt(ctau)) +
            2.0 * delta * 4.0 / (3.0 * (wake ? 0.5 * dstar : dstar)) * (0.5 * t.cf - g * g);
        t.E = s / delta * src;
        t.amp = 0.0;
    }
    t.A = 0.5 * t.cf * s / t.theta;
    t.B = t.H + 2.0 - t.Me2;
    t.C = 2.0 * hss / t.hs + 1.0 - t.H;
    t.D = (cd2 - 0.5 * t.cf) * s / t.theta;
    return t;
}

// What fixes the edge speed of the station being solved: the given speed,
// or with an interaction coefficient K > 0 the quasi-simultaneous law
// ue = ueGiven + K (m - mOld), the local response of the outer flow to a
// change of the mass defect m = rho_e ue delta* from the one it was solved
// with.
struct EdgeTarget {
    double ue = 1.0;
    double K = 0.0;
    double mOld = 0.0;
};

struct Interval {
    double s1, s2;
    Vars v1;
    Terms t1;
    Regime regime;
    EdgeTarget edge;
};

// Residuals of the station: momentum, shape, third equation and, with an
// interaction law, the edge speed.
std::array<double, 4> Residuals(const Interval& in, const Vars& v2, double mach,
                                const ViscousOptions& o) {
    const Terms t2 = Evaluate(v2, in.s2, in.regime, mach, o);
    const Terms& t1 = in.t1;
    const double ls = std::log(in.s2 / in.s1);
    const double lu = v2.lu - in.v1.lu;
    // The shear-lag equation is stiff where the lag length is short against
    // the step: its source is weighted towards the new station.
    const double wl = in.regime == Regime::Laminar ? 0.5 : 0.8;
    std::array<double, 4> r;
    r[0] = v2.lt - in.v1.lt + 0.5 * (t1.B + t2.B) * lu - 0.5 * (t1.A + t2.A) * ls;
    r[1] = std::log(t2.hs / t1.hs) + 0.5 * (t1.C + t2.C) * lu - 0.5 * (t1.D + t2.D) * ls;
    if (in.regime == Regime::Laminar)
        r[2] = v2.c - in.v1.c - 0.5 * (t1.amp + t2.amp) * (in.s2 - in.s1);
    else
        r[2] = v2.c - in.v1.c - ((1.0 - wl) * t1.E + wl * t2.E) * ls + 2.0 * lu;
    const double m = t2.rho * t2.ue * t2.H * t2.theta;
    r[3] = (t2.ue - in.edge.ue - in.edge.K * (m - in.edge.mOld)) / in.edge.ue;
    return r;
}

bool SolveLinear(int n, double a[4][4], double b[4]) {
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(a[i][k]) > std::fabs(a[p][k])) p = i;
        if (std::fabs(a[p][k]) < 1e-300) return false;
        if (p != k) {
            for (int j = 0; j < n; ++j) std::swap(a[k][j], a[p][j]);
            std::swap(b[k], b[p]);
        }
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i][k] / a[k][k];
            for (int j = k; j < n; ++j) a[i][j] -= f * a[k][j];
            b[i] -= f * b[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        for (int j = k + 1; j < n; ++j) b[k] -= a[k][j] * b[j];
        b[k] /= a[k][k];
    }
    return true;
}

enum class Mode { Direct, Inverse, Interact };

// Newton's method on one station.  Direct: log theta, Hk and the third
// variable with ue given; inverse: log theta, log ue and the third
// variable with Hk given; interacting: all four with the interaction law.
// The Jacobian is taken by differences: a few closure evaluations each.
bool NewtonStation(const Interval& in, Vars& v, Mode mode, double mach, const ViscousOptions& o) {
    const double hmin = Hmin(in.regime);
    const int n = mode == Mode::Interact ? 4 : 3;
    auto slot = [mode](Vars& w, int j) -> double& {
        if (j == 0) return w.lt;
        if (j == 1) return mode == Mode::Inverse ? w.lu : w.hk;
        if (j == 2) return w.c;
        return w.lu;
    };
    auto norm = [n](const std::array<double, 4>& r) {
        double m = 0.0;
        for (int i = 0; i < n; ++i) m = std::max(m, std::fabs(r[i]));
        return m;
    };
    for (int it = 0; it < 40; ++it) {
        const auto r = Residuals(in, v, mach, o);
        const double rn = norm(r);
        if (!std::isfinite(rn)) return false;
        if (rn < 1e-11) return true;
        double J[4][4];
        for (int j = 0; j < n; ++j) {
            Vars w = v;
            double& x = slot(w, j);
            const double h = 1e-7 * std::max(1.0, std::fabs(x));
            x += h;
            const auto rp = Residuals(in, w, mach, o);
            for (int i = 0; i < n; ++i) J[i][j] = (rp[i] - r[i]) / h;
        }
        double d[4] = {-r[0], -r[1], -r[2], -r[3]};
        if (!SolveLinear(n, J, d)) return false;
        // Limit the step so that the iteration cannot leave the range of
        // the closures in one go.
        const double limits[4] = {0.7, mode == Mode::Inverse ? 0.3 : 0.4,
                                  in.regime == Regime::Laminar ? 4.0 : 1.0, 0.3};
        double f = 1.0, dn = 0.0;
        for (int j = 0; j < n; ++j) {
            f = std::min(f, 1.0 / std::max(1.0, std::fabs(d[j]) / limits[j]));
            dn = std::max(dn, std::fabs(d[j]));
        }
        for (int j = 0; j < n; ++j) slot(v, j) += f * d[j];
        v.hk = std::max(v.hk, hmin);
        if (f == 1.0 && dn < 1e-12) return true;
    }
    return norm(Residuals(in, v, mach, o)) < 1e-8;
}

// Solves the station at s2 from the solved station (v1, s1): direct (or
// interacting), falling back on the inverse mode where the shape factor
// would pass the separation limit.  A station whose Newton iteration fails
// is tried again directly, then in shorter steps.
bool Step(double s1, const Vars& v1, double s2, const EdgeTarget& edge, Regime regime, double mach,
          const ViscousOptions& o, Vars& v2, bool& inverse, int depth = 0) {
    Interval in{s1, s2, v1, Evaluate(v1, s1, regime, mach, o), regime, edge};
    v2 = v1;
    v2.lu = std::log(edge.ue);
    inverse = false;
    const bool interact = edge.K > 0.0;
    bool ok = NewtonStation(in, v2, interact ? Mode::Interact : Mode::Direct, mach, o);
    if (!ok && interact) {
        in.edge.K = 0.0;
        v2 = v1;
        v2.lu = std::log(edge.ue);
        ok = NewtonStation(in, v2, Mode::Direct, mach, o);
    }
    if (!ok && depth < 2) {
        // Shorter steps with the edge speed interpolated in log s.
        const int parts = 4;
        Vars v = v1;
        const double lu1 = v1.lu, lu2 = std::log(edge.ue);
        ok = true;
        for (int p = 1; p <= parts && ok; ++p) {
            const double a =
                std::exp(std::log(s1) + (std::log(s2) - std::log(s1)) * (p - 1) / parts);
            const double b = std::exp(std::log(s1) + (std::log(s2) - std::log(s1)) * p / parts);
            EdgeTarget t{std::exp(lu1 + (lu2 - lu1) * double(p) / parts), 0.0, 0.0};
            Vars w;
            bool inv = false;
            ok = Step(a, v, b, t, regime, mach, o, w, inv, depth + 1);
            v = w;
            inverse = inverse || inv;
        }
        if (ok) {
            v2 = v;
            return true;
        }
        return false;
    }
    if (!ok) return false;
    const double hmax = regime == Regime::Laminar     ? kHmaxLaminar
                        : regime == Regime::Turbulent ? kHmaxTurbulent
                                                      : 1e9;
    // The interaction law keeps the station regular through separation;
    // the wake has no inverse mode.
    if (regime == Regime::Wake || interact || v2.hk <= hmax) return true;
    // Inverse: the shape factor grows along a laminar separation bubble
    // and falls back towards the limit in turbulent flow.
    const double th1 = std::exp(v1.lt);
    double target =
        regime == Regime::Laminar ? v1.hk + 0.03 * (s2 - s1) / th1 : v1.hk - 0.15 * (s2 - s1) / th1;
    target = std::min(std::max(target, hmax), v2.hk);
    Vars w = v1;
    w.lu = std::log(edge.ue);
    w.hk = target;
    if (!NewtonStation(in, w, Mode::Inverse, mach, o)) return true;
    v2 = w;
    inverse = true;
    return true;
}

Station Record(const Vars& v, double s, double x, double y, double ueInv, Regime regime,
               bool inverse, double mach, const ViscousOptions& o) {
    const Terms t = Evaluate(v, s, regime, mach, o);
    Station st;
    st.x = x;
    st.y = y;
    st.s = s;
    st.ue = t.ue;
    st.ueInviscid = ueInv;
    st.theta = t.theta;
    st.H = t.H;
    st.Hk = t.Hk;
    st.dstar = t.H * t.theta;
    st.cf = t.cf;
    st.ampl = regime == Regime::Laminar ? v.c : std::exp(v.c);
    st.rhoe = t.rho;
    st.turbulent = regime != Regime::Laminar;
    st.wake = regime == Regime::Wake;
    st.inverse = inverse;
    return st;
}

// Shear stress coefficient at the start of turbulent flow (Drela 1989).
double InitialShear(const Vars& v, double mach, const ViscousOptions& o) {
    const double ue = std::exp(v.lu);
    const EdgeState e = EdgeFlow(ue, mach, o);
    const double hk = std::max(v.hk, kHminTurbulent);
    const double H = ShapeFromKinematic(hk, e.M2);
    const double ret = std::max(o.reynolds * ue * e.rho * std::exp(v.lt) / e.mu, 200.0);
    const double hs = TurbulentHstar(hk, ret, e.M2);
    const double us = SlipVelocity(hs, hk, H, false);
    const double ctr = 1.8 * std::exp(-3.3 / (hk - 1.0));
    return std::max(ctr * EquilibriumShear(hs, hk, H, us), kCtauMin);
}

// Similarity start at the first station for an edge speed growing like
// s^m: the momentum and shape equations with theta^2 ~ s and constant H.
Vars SimilarityStart(double s, double ue, double m, double mach, const ViscousOptions& o) {
    m = std::clamp(m, 0.0, 1.0);
    auto f = [m](double hk) {
        const double F = LaminarSkinFriction(hk), D = LaminarDissipation(hk);
        return (D - F) * (0.5 + (hk + 2.0) * m) - F * (1.0 - hk) * m;
    };
    double a = 1.8, b = 3.5;
    for (int i = 0; i < 80; ++i) {
        const double c = 0.5 * (a + b);
        (f(a) * f(c) <= 0 ? b : a) = c;
    }
    const double hk = 0.5 * (a + b);
    const double q = (0.5 + (hk + 2.0) * m) / LaminarSkinFriction(hk);
    const EdgeState e = EdgeFlow(ue, mach, o);
    const double theta = std::sqrt(s * e.mu / (e.rho * ue * o.reynolds * q));
    return Vars{std::log(theta), hk, std::log(ue), 0.0};
}

double FrictionDrag(const std::vector<Station>& st, double alpha) {
    double cd = 0.0;
    for (size_t i = 1; i < st.size(); ++i) {
        const double t1 = st[i - 1].cf * st[i - 1].rhoe * st[i - 1].ue * st[i - 1].ue;
        const double t2 = st[i].cf * st[i].rhoe * st[i].ue * st[i].ue;
        cd +=
            0.5 * (t1 + t2) *
            ((st[i].x - st[i - 1].x) * std::cos(alpha) + (st[i].y - st[i - 1].y) * std::sin(alpha));
    }
    return cd;
}

SurfaceLayer March(const EdgeStations& edge, double mach, double xtr, const ViscousOptions& o,
                   double alpha, Vars* last, Regime* lastRegime) {
    SurfaceLayer out;
    const size_t n = edge.s.size();
    if (n < 2) {
        out.failed = true;
        return out;
    }
    const double m = std::log(std::max(edge.ue[1], 1e-6) / std::max(edge.ue[0], 1e-6)) /
                     std::log(edge.s[1] / edge.s[0]);
    Vars v = SimilarityStart(edge.s[0], std::max(edge.ue[0], 1e-6), m, mach, o);
    Regime regime = Regime::Laminar;
    out.st.push_back(
        Record(v, edge.s[0], edge.x[0], edge.y[0], edge.ue[0], regime, false, mach, o));
    for (size_t i = 1; i < n; ++i) {
        const double s1 = edge.s[i - 1], s2 = edge.s[i];
        const double ue2 = std::max(edge.ue[i], 1e-6);
        EdgeTarget target{ue2, 0.0, 0.0};
        if (edge.K.size() == n && edge.massOld.size() == n) {
            target.K = edge.K[i];
            target.mOld = edge.massOld[i];
        }
        Vars v2;
        bool inverse = false;
        bool ok = Step(s1, v, s2, target, regime, mach, o, v2, inverse);
        if (regime == Regime::Laminar && ok) {
            // Transition inside this interval: where N reaches its critical
            // value or at the forced point, whichever comes first.
            const double fFree =
                v2.c >= o.ncrit ? (o.ncrit - v.c) / std::max(v2.c - v.c, 1e-12) : 2.0;
            double f = fFree;
            if (edge.x[i] >= xtr && edge.x[i] > edge.x[i - 1])
                f = std::min(f, (xtr - edge.x[i - 1]) / (edge.x[i] - edge.x[i - 1]));
            if (f <= 1.0) {
                f = std::clamp(f, 0.0, 1.0);
                const double st = s1 + f * (s2 - s1);
                const double u1 = std::exp(v.lu), u2 = std::exp(v2.lu);
                Vars vt = v;
                bool inv = false;
                if (f > 1e-6)
                    ok = Step(s1, v, st, EdgeTarget{u1 + f * (u2 - u1), 0.0, 0.0}, regime, mach, o,
                              vt, inv);
                out.xtr = edge.x[i - 1] + f * (edge.x[i] - edge.x[i - 1]);
                out.forced = f < fFree;
                regime = Regime::Turbulent;
                vt.c = std::log(InitialShear(vt, mach, o));
                if (s2 - st > 1e-9 * s2) {
                    ok = ok && Step(st, vt, s2, target, regime, mach, o, v2, inverse);
                } else {
                    v2 = vt;
                }
            }
        }
        if (!ok) out.failed = true;
        v = v2;
        Station rec = Record(v, s2, edge.x[i], edge.y[i], edge.ue[i], regime, inverse, mach, o);
        if (inverse) ++out.inverse;
        if (rec.cf < 0.0) ++out.separated;
        out.st.push_back(rec);
    }
    out.cdf = FrictionDrag(out.st, alpha);
    if (last) *last = v;
    if (lastRegime) *lastRegime = regime;
    return out;
}

}  // namespace

EdgeState EdgeFlow(double ue, double mach, const ViscousOptions& o) {
    const double g1 = o.gamma - 1.0;
    const double T = std::max(1.0 + 0.5 * g1 * mach * mach * (1.0 - ue * ue), 1e-3);
    EdgeState e;
    e.M2 = ue * ue * mach * mach / T;
    e.rho = std::pow(T, 1.0 / g1);
    e.mu = std::pow(T, 1.5) * (1.0 + o.sutherland) / (T + o.sutherland);
    return e;
}

SurfaceLayer SolveSurface(const EdgeStations& edge, double mach, double xtr,
                          const ViscousOptions& options) {
    return March(edge, mach, xtr, options, 0.0, nullptr, nullptr);
}

BoundaryLayerResult SolveBoundaryLayer(const BoundaryLayerInput& in, const ViscousOptions& o) {
    BoundaryLayerResult r;
    Vars vu, vl;
    Regime ru = Regime::Laminar, rl = Regime::Laminar;
    r.upper = March(in.upper, in.mach, o.xtrUpper, o, in.alpha, &vu, &ru);
    r.lower = March(in.lower, in.mach, o.xtrLower, o, in.alpha, &vl, &rl);
    r.cdf = r.upper.cdf + r.lower.cdf;
    if (r.upper.st.empty() || r.lower.st.empty()) return r;
    const Station& tu = r.upper.st.back();
    const Station& tl = r.lower.st.back();
    const double thTE = tu.theta + tl.theta;
    const double dsTE = tu.dstar + tl.dstar;
    const double ueTE = 0.5 * (tu.ue + tl.ue);
    r.cdTE = 2.0 * (tu.theta * std::pow(tu.ue, 0.5 * (tu.H + 5.0)) +
                    tl.theta * std::pow(tl.ue, 0.5 * (tl.H + 5.0)));
    r.cd = r.cdTE;
    const EdgeStations& w = in.wake;
    if (w.s.size() < 2) return r;
    // The wake starts from the sum of both layers; its shear stress is the
    // theta-weighted mean of theirs (laminar layers enter with the stress
    // at the start of turbulent flow).
    const double cu = ru == Regime::Laminar ? InitialShear(vu, in.mach, o) : std::exp(vu.c);
    const double cl = rl == Regime::Laminar ? InitialShear(vl, in.mach, o) : std::exp(vl.c);
    const double ctau = (cu * tu.theta + cl * tl.theta) / thTE;
    const double s0 = 0.5 * (tu.s + tl.s);
    const EdgeState e = EdgeFlow(ueTE, in.mach, o);
    Vars v{std::log(thTE), KinematicShape(dsTE / thTE, e.M2), std::log(std::max(w.ue[0], 1e-6)),
           std::log(ctau)};
    r.wake.st.push_back(
        Record(v, s0 + w.s[0], w.x[0], w.y[0], w.ue[0], Regime::Wake, false, in.mach, o));
    r.wake.xtr = 0.0;
    for (size_t i = 1; i < w.s.size(); ++i) {
        Vars v2;
        bool inverse = false;
        // Far downstream the wake's shape factor runs towards 1, where the
        // closures end; the drag follows from any station of the wake, so
        // the march may stop there.
        EdgeTarget target{std::max(w.ue[i], 1e-6), 0.0, 0.0};
        if (w.K.size() == w.s.size() && w.massOld.size() == w.s.size()) {
            target.K = w.K[i];
            target.mOld = w.massOld[i];
        }
        if (!Step(s0 + w.s[i - 1], v, s0 + w.s[i], target, Regime::Wake, in.mach, o, v2, inverse)) {
            if (w.s[i] < 1.0) r.wake.failed = true;
            break;
        }
        v = v2;
        r.wake.st.push_back(
            Record(v, s0 + w.s[i], w.x[i], w.y[i], w.ue[i], Regime::Wake, false, in.mach, o));
    }
    const Station& end = r.wake.st.back();
    r.cd = 2.0 * end.theta * std::pow(end.ue, 0.5 * (end.H + 5.0));
    return r;
}

}  // namespace quarel
