#include "ViscousCoupling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "FreeStream.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

double FaceLength(int f) {
    return std::hypot(xg(f + 1, 1) - xg(f, 1), yg(f + 1, 1) - yg(f, 1));
}

// Tangential speed of line-1 face f along increasing i.
double FaceSpeed(int f) {
    return (phi(f + 1, 1) - phi(f, 1)) / FaceLength(f);
}

// Index of the last station before the trailing-edge region (x beyond
// 1 - region) and of the station about one region length before it.
bool RegionStart(const EdgeStations& e, double region, size_t& a, size_t& b) {
    const size_t n = e.x.size();
    a = n;
    for (size_t i = 0; i < n; ++i) {
        if (e.x[i] > 1.0 - region) {
            a = i;
            break;
        }
    }
    if (a < 3 || a >= n) return false;
    --a;
    b = a;
    while (b > 1 && e.x[a] - e.x[b] < region) --b;
    return b < a;
}

// Near the trailing edge the potential flow decelerates towards the
// stagnation of the inviscid edge, which the viscous flow, merging into the
// wake, does not see: the layer marches there with the edge speed
// extrapolated linearly in s from the stations before, and the outer flow
// sees a mass defect extrapolated the same way.  Without this the
// displacement surface flares at the edge, the outer flow decelerates
// further and the weak coupling diverges.
void ExtrapolateEdge(EdgeStations& e, double region) {
    size_t a, b;
    if (!RegionStart(e, region, a, b)) return;
    const double slope = (e.ue[a] - e.ue[b]) / (e.s[a] - e.s[b]);
    for (size_t i = a + 1; i < e.ue.size(); ++i)
        e.ue[i] = std::max(e.ue[a] + slope * (e.s[i] - e.s[a]), 0.05);
}

}  // namespace

ViscousCoupling::ViscousCoupling(const GridLevel& level, const FreeStream& flow,
                                 const ViscousOptions& options)
    : level_(level),
      mach_(flow.mach),
      alpha_(flow.alphaN),
      options_(options),
      relaxation_(options.relaxation) {
    mass_.assign(static_cast<size_t>(level_.NX + 1), 0.0);
}

BoundaryLayerInput ViscousCoupling::edgeFromPotential() {
    const int NX = level_.NX, k = level_.k, mid = NX / 2;
    // Node speeds along increasing i on the body: the mean of the two faces,
    // at the trailing edge the body face alone.
    std::vector<double> q(static_cast<size_t>(NX + 1), 0.0), S(static_cast<size_t>(NX + 1), 0.0);
    for (int i = k; i <= NX - k; ++i) {
        if (i == k)
            q[i] = FaceSpeed(k);
        else if (i == NX - k)
            q[i] = FaceSpeed(NX - k - 1);
        else
            q[i] = 0.5 * (FaceSpeed(i - 1) + FaceSpeed(i));
        if (i > k) S[i] = S[i - 1] + FaceLength(i - 1);
    }
    // The stagnation point: the sign change of the speed nearest the
    // leading edge.
    int a = -1;
    // The last one is kept while the speeds on either side of it are still
    // within 1e-3 of the sign change: at zero lift the speed at the
    // leading-edge node is zero to rounding, and the stagnation point
    // hopped between two nodes at every update, the layer's mass defect
    // near the leading edge with it (a change of 1.8e-3 that never fell).
    double qmax = 0.0;
    for (int i = k; i <= NX - k; ++i) qmax = std::max(qmax, std::fabs(q[i]));
    const double eps = 1e-3 * qmax;
    if (!first_ && stagnation_ >= k && stagnation_ < NX - k && q[stagnation_] < eps &&
        q[stagnation_ + 1] > -eps && q[stagnation_ + 1] - q[stagnation_] > 0.0)
        a = stagnation_;
    for (int d = 0; a < 0 && d < mid - k; ++d) {
        for (int i : {mid - d, mid + d - 1}) {
            if (a < 0 && i >= k && i < NX - k && q[i] < 0.0 && q[i + 1] >= 0.0) a = i;
        }
        if (a >= 0) break;
    }
    if (a < 0) throw SolverError("The boundary layer found no stagnation point on the section.");
    stagnation_ = a;
    const double sStag = S[a] + (S[a + 1] - S[a]) * std::clamp(-q[a] / (q[a + 1] - q[a]), 0.0, 1.0);
    BoundaryLayerInput in;
    in.mach = mach_;
    in.alpha = alpha_;
    auto add = [](EdgeStations& e, double s, int i, double ue) {
        e.s.push_back(std::max(s, 1e-7));
        e.x.push_back(xg(i, 1));
        e.y.push_back(yg(i, 1));
        e.ue.push_back(std::max(ue, 1e-5));
    };
    // Interaction coefficient of a body node: the mean speed change over the
    // node's cell that a hat-shaped mass defect of unit height and half
    // width h induces through the thin-aerofoil source integral,
    // 1.05/(pi h) times pi, with the Prandtl-Glauert factor of the local
    // Mach number (kept away from sonic).
    const ViscousOptions& o = options_;
    auto couple = [&](EdgeStations& e, int i) {
        const double h = i == k        ? S[k + 1] - S[k]
                         : i == NX - k ? S[NX - k] - S[NX - k - 1]
                                       : 0.5 * (S[i + 1] - S[i - 1]);
        const EdgeState st = EdgeFlow(std::fabs(q[i]), mach_, o);
        const double beta = std::sqrt(std::max(std::fabs(1.0 - st.M2), 0.09));
        e.K.push_back(1.05 / (h * beta * st.rho));
        e.massOld.push_back(mass_[i]);
    };
    for (int i = a; i >= k; --i) {
        add(in.upper, sStag - S[i], i, -q[i]);
        couple(in.upper, i);
    }
    for (int i = a + 1; i <= NX - k; ++i) {
        add(in.lower, S[i] - sStag, i, q[i]);
        couple(in.lower, i);
    }
    ExtrapolateEdge(in.upper, options_.trailingEdgeRegion);
    ExtrapolateEdge(in.lower, options_.trailingEdgeRegion);
    // Wake: nodes k .. 0 of the upper side of the cut, the speed the mean of
    // both sides' faces.
    auto cutSpeed = [NX](int f) { return 0.5 * (-FaceSpeed(f) + FaceSpeed(NX - 1 - f)); };
    double sw = 0.0;
    for (int i = k; i >= 0; --i) {
        if (i < k) sw += FaceLength(i);
        const double u = i == k   ? cutSpeed(k - 1)
                         : i == 0 ? cutSpeed(0)
                                  : 0.5 * (cutSpeed(i - 1) + cutSpeed(i));
        add(in.wake, sw, i, u);
    }
    // The wake's interaction coefficients: a source sheet in the open
    // flow sends half its flux to each side, so half the body's.
    const bool wakeCoupled = options_.wakeDisplacement && !first_ && !wake_.empty();
    for (int i = k; i >= 0; --i) {
        const double h = i == k   ? FaceLength(k - 1)
                         : i == 0 ? FaceLength(0)
                                  : 0.5 * (FaceLength(i - 1) + FaceLength(i));
        const EdgeState st = EdgeFlow(std::fabs(in.wake.ue[static_cast<size_t>(k - i)]), mach_, o);
        const double beta = std::sqrt(std::max(std::fabs(1.0 - st.M2), 0.09));
        in.wake.K.push_back(wakeCoupled ? 0.5 * 1.05 / (h * beta * st.rho) : 0.0);
        in.wake.massOld.push_back(wakeCoupled ? wake_[static_cast<size_t>(i)] : 0.0);
    }
    // The wake leaves the edge with the speed of the layers there and joins
    // the potential flow's speed over twice the trailing-edge region.
    const double ueTE = 0.5 * (in.upper.ue.back() + in.lower.ue.back());
    const double sr = 2.0 * options_.trailingEdgeRegion;
    size_t r = 0;
    while (r + 1 < in.wake.s.size() && in.wake.s[r] < sr) ++r;
    for (size_t n = 0; n < r; ++n)
        in.wake.ue[n] = ueTE + (in.wake.ue[r] - ueTE) * in.wake.s[n] / in.wake.s[r];
    return in;
}

double ViscousCoupling::update() {
    const int NX = level_.NX, k = level_.k;
    edge_ = edgeFromPotential();
    layer_ = SolveBoundaryLayer(edge_, options_);
    const int a = stagnation_;
    // Mass defect of the layer per body node, its displacement thickness
    // held below a twentieth of the chord: a station whose Newton iteration
    // failed could hand on 1e5 (NACA 0012 at 8 degrees), and the outer flow
    // solved with that ran away to Clift 4.
    static constexpr double kMaxDisplacement = 0.05;
    auto defect = [](const Station& s) {
        return s.rhoe * s.ue * std::min(s.dstar, kMaxDisplacement);
    };
    massTarget_.assign(static_cast<size_t>(NX + 1), 0.0);
    std::vector<double>& m = massTarget_;
    for (size_t n = 0; n < layer_.upper.st.size(); ++n) {
        const Station& s = layer_.upper.st[n];
        m[a - static_cast<int>(n)] = defect(s);
    }
    for (size_t n = 0; n < layer_.lower.st.size(); ++n) {
        const Station& s = layer_.lower.st[n];
        m[a + 1 + static_cast<int>(n)] = defect(s);
    }
    // The mass defect the outer flow sees in the trailing-edge region,
    // extrapolated before the change is measured: the layer's own values
    // there never reach the outer flow, and counting them kept the change
    // of NACA 0012 at 6 degrees at 1.4 % for ever.
    auto extrapolate = [&](const EdgeStations& e, int step, int first) {
        size_t ia, ib;
        if (!RegionStart(e, options_.trailingEdgeRegion, ia, ib)) return;
        const int na = first + step * static_cast<int>(ia);
        const int nb = first + step * static_cast<int>(ib);
        const double slope = (m[na] - m[nb]) / (e.s[ia] - e.s[ib]);
        for (size_t n = ia + 1; n < e.s.size(); ++n)
            m[first + step * static_cast<int>(n)] =
                std::max(m[na] + slope * (e.s[n] - e.s[ia]), 0.0);
    };
    extrapolate(edge_.upper, -1, a);
    extrapolate(edge_.lower, 1, a + 1);
    // ... and per wake node (k at the trailing edge, 0 at the far
    // boundary); where the wake's march ended the defect stays as it was.
    wakeTarget_.assign(static_cast<size_t>(k + 1), 0.0);
    for (int n = 0; n <= k; ++n) {
        const size_t w = std::min(static_cast<size_t>(n), layer_.wake.st.size() - 1);
        const Station& s = layer_.wake.st[w];
        wakeTarget_[static_cast<size_t>(k - n)] = defect(s);
    }
    // The change is measured in the root mean square over the body nodes:
    // a transition point that moves by one station changes the mass
    // defect of that station by half, and the largest change would not
    // fall below the tolerance while the flow has settled.
    double sumM = 0.0, sumD = 0.0;
    for (int i = k; i <= NX - k; ++i) {
        sumM += m[i] * m[i];
        sumD += (m[i] - mass_[i]) * (m[i] - mass_[i]);
    }
    const double change = sumM > 0.0 ? std::sqrt(sumD / sumM) : 0.0;
    history_.push_back(change);
    if (wake_.empty()) wake_.assign(static_cast<size_t>(k + 1), 0.0);
    massBefore_ = mass_;
    wakeBefore_ = wake_;
    share_ = first_
                 ? 1.0
                 : std::min(relaxation_ * boost_, std::max(relaxation_, 4.0 * options_.relaxation));
    boost_ = 1.0;
    first_ = false;
    apply(share_);
    return change;
}

bool ViscousCoupling::retreat() {
    if (share_ < 0.1) return false;
    share_ *= 0.5;
    apply(share_);
    return true;
}

void ViscousCoupling::apply(double share) {
    const int NX = level_.NX, k = level_.k, mid = NX / 2, a = stagnation_;
    for (int i = k; i <= NX - k; ++i)
        mass_[i] = std::max(massBefore_[i] + share * (massTarget_[i] - massBefore_[i]), 0.0);
    for (int i = 0; i <= k; ++i)
        wake_[i] = std::max(wakeBefore_[i] + share * (wakeTarget_[i] - wakeBefore_[i]), 0.0);
    // Flux out of each body face: the growth of the mass defect along it
    // in the direction of the flow (both ways from the stagnation face).
    for (int f = k; f <= NX - k - 1; ++f) {
        const double out = f < a    ? mass_[f] - mass_[f + 1]
                           : f == a ? mass_[f] + mass_[f + 1]
                                    : mass_[f + 1] - mass_[f];
        const double rho = rhoi(f, 1) > 0.0 ? rhoi(f, 1) : 1.0;
        vfx(f < mid ? f : f + 1) = -aji(f, 1) * out / rho;
    }
    if (!options_.wakeDisplacement) return;
    // The wake: the growth of its mass defect along each cut face, half to
    // each end's row (the trailing-edge half to the first wake row).  The
    // wake starts from the layers' own thicknesses at the edge; the
    // difference from the extrapolated mass defect the surfaces end with
    // is left out (a point source there flared the displacement surface).
    const std::vector<double>& w = wake_;
    for (int i = 0; i <= NX - 1; ++i) vwk(i) = 0.0;
    for (int f = 0; f <= k - 1; ++f) {
        const double out = w[f] - w[f + 1];
        if (f == k - 1) {
            vwk(f) += out;
        } else {
            if (f >= 1) vwk(f) += 0.5 * out;
            vwk(f + 1) += 0.5 * out;
        }
    }
}

void ViscousCoupling::damp() {
    relaxation_ = std::max(0.5 * relaxation_, 0.25);
}

void ViscousCoupling::accelerate(double factor) {
    boost_ = factor;
}

void ViscousCoupling::undamp() {
    relaxation_ = std::max(relaxation_, std::min(2.0 * relaxation_, options_.relaxation));
}

ViscousResults ViscousCoupling::results() const {
    ViscousResults r;
    r.valid = true;
    r.cdTotal = layer_.cd;
    r.cdFriction = layer_.cdf;
    r.xtrUpper = layer_.upper.xtr;
    r.xtrLower = layer_.lower.xtr;
    auto extent = [](const SurfaceLayer& l) {
        double e = 0.0;
        for (size_t n = 1; n < l.st.size(); ++n)
            if (l.st[n].cf < 0.0) e += std::fabs(l.st[n].x - l.st[n - 1].x);
        return e;
    };
    r.separatedUpper = extent(layer_.upper);
    r.separatedLower = extent(layer_.lower);
    r.layer = layer_;
    return r;
}

std::string BoundaryLayerText(const ViscousResults& r) {
    std::string out;
    char b[256];
    std::snprintf(b, sizeof b,
                  "# Cdrag(total)= %.6f Cdrag(f)= %.6f Xtr(upper)= %.4f Xtr(lower)= %.4f "
                  "converged= %s solves= %d\n",
                  r.cdTotal, r.cdFriction, r.xtrUpper, r.xtrLower, r.converged ? "yes" : "no",
                  r.iterations);
    out += b;
    out +=
        "# part          x          s         Ue     delta*      theta        H         Cf  "
        "N/Ctau  regime\n";
    auto part = [&](const char* name, const SurfaceLayer& l) {
        for (const Station& st : l.st) {
            std::snprintf(b, sizeof b,
                          "%-6s %10.6f %10.6f %10.6f %10.4e %10.4e %8.4f %10.3e %8.5f  %s\n", name,
                          st.x, st.s, st.ue, st.dstar, st.theta, st.H, st.cf, st.ampl,
                          st.wake        ? "wake"
                          : st.turbulent ? (st.inverse ? "turbulent-inverse" : "turbulent")
                                         : (st.inverse ? "laminar-inverse" : "laminar"));
            out += b;
        }
    };
    part("upper", r.layer.upper);
    part("lower", r.layer.lower);
    part("wake", r.layer.wake);
    return out;
}

}  // namespace quarel
