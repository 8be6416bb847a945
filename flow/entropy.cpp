// The non-isentropic potential model (see entropy.h).
//
// The entropy is carried along the grid lines rather than along the
// streamlines: near the section and in the wake the lines of constant
// eta follow the flow closely, and a line is where the shock-capturing
// scheme sees the shock, face by face.  The rise is the one the scheme's
// shock-point correction gives the mass flux, so the entropy behind the
// shock is the one the scheme's mass balance holds: an isentropic
// recompression (no shock-point term) carries none.  (Taking instead the
// fall of ln(1 + F(m^2)) along every slowing supersonic face counted the
// smooth recompression at the top of a supersonic region as a shock and
// gave an entropy drag of 0.078 against a pressure drag of 0.041, NACA 0012
// at M 0.8, 1.25 degrees, 224 x 33.)
#include "entropy.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "operator.h"
#include "state.h"

namespace quarel {

double ShockEntropyRise(const double& m2, const double& gamma) {
    if (!(m2 > 1.0)) return 0.0;
    return std::log1p(EntropyJump(m2, 1.0 / (gamma - 1.0), gamma));
}

void CarryAlongLine(const double* jump, const double* flow, const int& n, double* s) {
    for (int f = 0; f < n; ++f)
        if (flow[f] > 0.0) s[f] = jump[f] + (f > 0 && flow[f - 1] > 0.0 ? s[f - 1] : 0.0);
    for (int f = n - 1; f >= 0; --f)
        if (!(flow[f] > 0.0)) s[f] = jump[f] + (f < n - 1 && !(flow[f + 1] > 0.0) ? s[f + 1] : 0.0);
}

namespace {

// xi-Mach number squared m2 and direction of the flow (towards higher
// face numbers where positive) of face f on line j, from the gradients
// the face densities use.
void FaceFlow(const FlowConstants& c, int f, int j, int k, int NX, double circ, double& m2,
              double& flow, double* speed2 = nullptr) {
    const double pXi = phi(f + 1, j) - phi(f, j);
    double pEta;
    if (j >= 2) {
        pEta = 0.25 * (phi(f, j + 1) + phi(f + 1, j + 1) - phi(f, j - 1) - phi(f + 1, j - 1));
    } else if (f < k) {
        pEta =
            0.25 * (phi(f, 2) + phi(f + 1, 2) - phi(NX - f, 2) - phi(NX - f - 1, 2) + 2.0 * circ);
    } else {
        const double vw = f < NX / 2 ? vfx(f) : vfx(f + 1);
        pEta = (vw - g12i(f, 1) * pXi) / g22i(f, 1);
    }
    const double g11 = g11i(f, j), g12 = g12i(f, j), g22 = g22i(f, j);
    const double U = g12 * pEta + g11 * pXi;
    const double q2 = pXi * U + pEta * (g12 * pXi + g22 * pEta);
    m2 = U * U / (c.a2(q2) * g11);
    if (speed2) *speed2 = q2;
    // The upwind bias of the scheme takes face f-1 as upstream where U/J < 0.
    flow = -U / aji(f, j);
}

// The entropy jumps of line j (jump, faces 0 .. NX-1) and the direction
// of the flow on its faces, from the present i-face densities of the line.
void LineJumps(const FlowConstants& c, int j, int k, int NX, double circ, std::vector<double>& m2,
               std::vector<double>& flow, std::vector<double>& jump) {
    // Line 1 beyond the body is the first side of the cut seen backwards.
    const int last = j == 1 ? NX - k - 1 : NX - 1;
    for (int f = 0; f <= last; ++f) FaceFlow(c, f, j, k, NX, circ, m2[f], flow[f]);
    for (int f = last + 1; f <= NX - 1; ++f) {
        m2[f] = m2[NX - 1 - f];
        flow[f] = -flow[NX - 1 - f];
    }
    // The shock-point correction S of node f adds S to the mass flux
    // rsi |U/J| of the face upstream of it; the face downstream takes the
    // entropy rise ln(1 + S / that flux), i.e. ln(1 + F) of the normal
    // shock when S is the whole jump on one face.
    for (int f = 0; f <= NX - 1; ++f) jump[f] = 0.0;
    const int lastRow = j == 1 ? NX - k : NX - 1;
    for (int f = 1; f <= lastRow; ++f) {
        if (!(shk(f, j) > 0.0)) continue;
        const int u = flow[f] > 0.0 ? f - 1 : f;  // the faces up- and downstream of node f
        const int d = flow[f] > 0.0 ? f : f - 1;
        const double flux = rsi(u, j) * std::fabs(flow[u]);
        if (flux > 0.0) jump[d] += std::log1p(shk(f, j) / flux);
    }
}

// The entropy the jumps of line j give its faces (s, faces 0 .. NX-1):
// carried along the line, the two sides of the wake cut on line 1 taking
// the mean of what they carry.
void LineEntropy(int j, int k, int NX, const std::vector<double>& jump,
                 const std::vector<double>& flow, std::vector<double>& s) {
    CarryAlongLine(jump.data(), flow.data(), NX, s.data());
    if (j == 1)
        for (int f = 0; f <= k - 1; ++f) s[f] = s[NX - 1 - f] = 0.5 * (s[f] + s[NX - 1 - f]);
}

}  // namespace

void EntropyField(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                  const double& circ, const double& mach, const double& gamma, const double& s2) {
    if (!options.enabled) return;
    for (int j = 1; j <= NY; ++j)
        for (int f = 0; f <= NX; ++f) ent(f, j) = 0.0;
    if (!(mach > 0.0)) return;
    const FlowConstants c = MakeFlowConstants(mach, gamma, s2);
    std::vector<double> m2(NX), flow(NX), jump(NX), s(NX);
    for (int j = 1; j <= NY - 1; ++j) {
        LineJumps(c, j, k, NX, circ, m2, flow, jump);
        LineEntropy(j, k, NX, jump, flow, s);
        for (int f = 0; f <= NX - 1; ++f) ent(f, j) = s[f];
    }
}

void UpdateEntropyField(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                        const double& mach, const double& gamma, const double& s2) {
    if (!options.enabled || !(mach > 0.0)) return;
    const double circ = Circulation(NX, k);
    for (int j = 1; j <= NY - 1; ++j) IFaceDensities(j, k, NX, circ, mach, gamma, s2);
    EntropyField(options, NY, k, NX, circ, mach, gamma, s2);
}

namespace {

// d ln(flux factor) / d sigma of a face (EntropyFluxFactor): 1/gamma plus
// half the relative change of r = q^2/g^2 (or of its continuation).
double FluxFactorSlope(double sigma, double q2, double a2, double gamma) {
    if (!(q2 > 0.0)) return 0.0;
    const double e = (gamma - 1.0) / gamma;
    const double r = 1.0 - 2.0 * a2 / (gamma - 1.0) * std::expm1(sigma * e) / q2;
    const double dr = -2.0 * a2 / gamma * std::exp(sigma * e) / q2;
    return 1.0 / gamma + 0.5 * (r >= 0.5 ? dr / r : dr / (1.0 - r));
}

// Speed squared of j-face (i, j), as the j-face densities take it.
double JFaceSpeed2(int i, int j) {
    const double pEta = phi(i, j + 1) - phi(i, j);
    const double pXi =
        0.25 * (phi(i + 1, j) + phi(i + 1, j + 1) - phi(i - 1, j + 1) - phi(i - 1, j));
    const double V = g22j(i, j) * pEta + g12j(i, j) * pXi;
    return V * pEta + (g12j(i, j) * pEta + g11j(i, j) * pXi) * pXi;
}

// A jump of the entropy at face d of line j.
struct Jump {
    int j, d;
};

}  // namespace

void EntropyCouplingRows(const EntropyOptions& options, const int& NY, const int& k, const int& NX,
                         const double& mach, const double& gamma, const double& s2,
                         const int& designFlag, const int& firstOnly, const int& L) {
    EntropyCouplings& out = entropyCouplings;
    out.clear();
    if (!options.enabled || !(mach > 0.0)) return;
    const FlowConstants c = MakeFlowConstants(mach, gamma, s2);
    const double circ = Circulation(NX, k);
    // The jumps of the present potential (the face arrays are its own).
    std::vector<std::vector<double>> jumps(NY), flows(NY);
    std::vector<double> m2(NX), flow(NX), jump(NX), s(NX);
    std::vector<Jump> list;
    for (int j = 1; j <= NY - 1; ++j) {
        LineJumps(c, j, k, NX, circ, m2, flow, jump);
        jumps[j] = jump;
        flows[j] = flow;
        for (int f = 0; f <= NX - 1; ++f)
            if (jump[f] != 0.0) list.push_back({j, f});
    }
    if (list.empty()) return;

    // 1. The weights: each jump by differences in the potentials near it
    // (the shock-point term reaches three faces upstream of its node and
    // the eta-derivatives of the faces one line across).
    auto unknown = [&](int p, int q) {
        return q >= 1 && q <= NY - 1 && p >= 1 && (q == 1 ? p <= NX - k : p <= NX - 1);
    };
    std::vector<std::vector<std::pair<int, double>>> weights(list.size());
    std::vector<int> nodes;
    for (const Jump& J : list)
        for (int q = J.j - 1; q <= J.j + 1; ++q)
            for (int p = J.d - 3; p <= J.d + 4; ++p)
                if (unknown(p, q)) nodes.push_back(GridArray::at(p, q));
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    // The nodes are perturbed in colours: nodes of one colour are nine
    // apart along the lines or three across them, so that no jump sees two
    // of them; the lines next to them are formed anew and then put back.
    constexpr int kPeriod = 9;
    std::vector<std::vector<int>> colours(3 * kPeriod);
    for (int n : nodes) {
        const int q = n / kGridStride + 1, p = n % kGridStride;
        colours[p % kPeriod + kPeriod * (q % 3)].push_back(n);
    }
    std::vector<std::vector<int>> onLine(NY + 1);
    for (size_t m = 0; m < list.size(); ++m) onLine[list[m].j].push_back(static_cast<int>(m));
    GridArray* const lineArrays[] = {&rsi, &rhoi, &cfi, &dsi, &dri, &shk, &ssw, &ssc, &sse};
    constexpr int kLineArrays = sizeof(lineArrays) / sizeof(lineArrays[0]);
    std::vector<double> saved(static_cast<size_t>(kLineArrays) * kGridSize);
    for (int a = 0; a < kLineArrays; ++a)
        std::copy(lineArrays[a]->data(), lineArrays[a]->data() + kGridSize,
                  saved.begin() + static_cast<size_t>(a) * kGridSize);
    std::vector<double> step(kGridSize, 0.0), kept(kGridSize), changed(NX);
    std::vector<unsigned char> lines(NY + 1);
    for (int colour = 0; colour < 3 * kPeriod; ++colour) {
        if (colours[colour].empty()) continue;
        std::fill(lines.begin(), lines.end(), 0);
        for (int n : colours[colour]) {
            const int q = n / kGridStride + 1;
            kept[n] = phi.data()[n];
            step[n] = 1.0e-7 * std::fmax(1.0, std::fabs(kept[n]));
            phi.data()[n] = kept[n] + step[n];
            for (int j = std::max(q - 1, 1); j <= std::min(q + 1, NY - 1); ++j) lines[j] = 1;
        }
        for (int j = 1; j <= NY - 1; ++j) {
            if (!lines[j] || onLine[j].empty()) continue;
            IFaceDensities(j, k, NX, circ, mach, gamma, s2);
            LineJumps(c, j, k, NX, circ, m2, flow, changed);
            for (int m : onLine[j]) {
                const int d = list[m].d;
                for (int q = std::max(j - 1, 1); q <= std::min(j + 1, NY - 1); ++q)
                    for (int p = std::max(d - 3, 0); p <= d + 4; ++p) {
                        const int n = GridArray::at(p, q);
                        if (step[n] == 0.0) continue;
                        const double w = (changed[d] - jumps[j][d]) / step[n];
                        if (w != 0.0) weights[m].push_back({n, w});
                    }
            }
        }
        for (int n : colours[colour]) {
            phi.data()[n] = kept[n];
            step[n] = 0.0;
        }
        for (int j = 1; j <= NY - 1; ++j) {
            if (!lines[j] || onLine[j].empty()) continue;
            for (int a = 0; a < kLineArrays; ++a) {
                const size_t o = static_cast<size_t>(a) * kGridSize + GridArray::at(0, j);
                std::copy(saved.begin() + o, saved.begin() + o + NX, &(*lineArrays[a])(0, j));
            }
        }
    }

    // 2. The rows: the residual is linear in the face densities, so with
    // every density replaced by its change per unit jump (the slope of the
    // flux factor times the entropy the jump gives the face) the rows
    // give the change of their residuals.
    auto copy = [&](const GridArray& a) {
        return std::vector<double>(a.data(), a.data() + kGridSize);
    };
    const std::vector<double> keptRhoi = copy(rhoi), keptCfi = copy(cfi), keptRhoj = copy(rhoj),
                              keptCfj = copy(cfj), keptVwk(vwk.data(), vwk.data() + kContourSize);
    for (int f = 0; f < kContourSize; ++f) vwk.data()[f] = 0.0;
    std::vector<double> slopeI(kGridSize, 0.0), slopeJ(kGridSize, 0.0);
    for (int j = 1; j <= NY - 1; ++j) {
        const int last = j == 1 ? NX - k - 1 : NX - 1;
        for (int f = 0; f <= NX - 1; ++f) {
            double mm, fl, q2;
            FaceFlow(c, f <= last ? f : NX - 1 - f, j, k, NX, circ, mm, fl, &q2);
            slopeI[GridArray::at(f, j)] = FluxFactorSlope(ent(f, j), q2, c.a2(q2), gamma);
        }
        for (int i = 1; i <= NX - 1; ++i) {
            const double sigma =
                0.25 * (ent(i - 1, j) + ent(i, j) + ent(i - 1, j + 1) + ent(i, j + 1));
            const double q2 = JFaceSpeed2(i, j);
            slopeJ[GridArray::at(i, j)] = FluxFactorSlope(sigma, q2, c.a2(q2), gamma);
        }
    }
    auto setLine = [&](int j, const double* e) {  // i-faces of line j, e = nullptr: none
        for (int f = 0; f <= NX - 1; ++f) {
            const int o = GridArray::at(f, j);
            const double x = e ? slopeI[o] * e[f] : 0.0;
            rhoi.data()[o] = keptRhoi[o] * x;
            cfi.data()[o] = keptCfi[o] * x;
        }
    };
    auto setJFaces = [&](int j, const double* below, const double* above) {
        for (int i = 1; i <= NX - 1; ++i) {
            const int o = GridArray::at(i, j);
            double e = 0.0;
            if (below) e += 0.25 * (below[i - 1] + below[i]);
            if (above) e += 0.25 * (above[i - 1] + above[i]);
            rhoj.data()[o] = keptRhoj[o] * slopeJ[o] * e;
            cfj.data()[o] = keptCfj[o] * slopeJ[o] * e;
        }
    };
    std::vector<double> unit(NX);
    Row row;
    for (size_t m = 0; m < list.size(); ++m) {
        const int j = list[m].j;
        if (weights[m].empty()) continue;
        for (int f = 0; f <= NX - 1; ++f) unit[f] = f == list[m].d ? 1.0 : 0.0;
        LineEntropy(j, k, NX, unit, flows[j], s);
        // Face f changes the rows f and f+1 (and the j-faces of node f).
        int first = NX, last = -1;
        for (int f = 0; f <= NX - 1; ++f)
            if (s[f] != 0.0) {
                first = std::min(first, f);
                last = f;
            }
        const int iFirst = std::max(first, 1), iLast = std::min(last + 1, NX - 1);
        const int lo = std::max(j - 1, 1), hi = std::min(j + 1, NY - 1);
        for (int jj = lo; jj <= hi; ++jj) setLine(jj, jj == j ? s.data() : nullptr);
        for (int jj = std::max(lo - 1, 1); jj <= hi; ++jj)
            setJFaces(jj, jj == j ? s.data() : nullptr, jj + 1 == j ? s.data() : nullptr);
        out.nodeStart.push_back(static_cast<int>(out.node.size()));
        out.rowStart.push_back(static_cast<int>(out.row.size()));
        for (const auto& [n, w] : weights[m]) {
            out.node.push_back(n);
            out.weight.push_back(w);
        }
        auto take = [&](int i, int jj, double res) {
            if (res != 0.0) {
                out.row.push_back(GridArray::at(i, jj));
                out.value.push_back(-res / rsc(i, jj));
            }
        };
        for (int jj = lo; jj <= hi; ++jj) {
            if (jj >= 2) {
                for (int i = iFirst; i <= iLast; ++i) {
                    InteriorRow(NX, NY, i, jj, row);
                    take(i, jj, row.res);
                }
                continue;
            }
            for (int i = iFirst; i <= std::min(k - 1, iLast); ++i) {
                WakeRow(i, NX, k, circ, row);
                take(i, 1, row.res);
            }
            for (int i = std::max(k, iFirst); i <= std::min(NX - k, iLast); ++i) {
                if (IsDesignRow(i, NX, k, designFlag, firstOnly, L)) continue;
                BodyRow(i, NX, k, designFlag, firstOnly, L, row);
                take(i, 1, row.res);
            }
        }
        for (int jj = lo; jj <= hi; ++jj) setLine(jj, nullptr);
        for (int jj = std::max(lo - 1, 1); jj <= hi; ++jj) setJFaces(jj, nullptr, nullptr);
    }
    out.nodeStart.push_back(static_cast<int>(out.node.size()));
    out.rowStart.push_back(static_cast<int>(out.row.size()));
    std::copy(keptRhoi.begin(), keptRhoi.end(), rhoi.data());
    std::copy(keptCfi.begin(), keptCfi.end(), cfi.data());
    std::copy(keptRhoj.begin(), keptRhoj.end(), rhoj.data());
    std::copy(keptCfj.begin(), keptCfj.end(), cfj.data());
    std::copy(keptVwk.begin(), keptVwk.end(), vwk.data());
}

double EntropyDrag(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& liftRef) {
    if (!(mach > 0.0)) return 0.0;
    const double circ = Circulation(NX, k);
    double sum = 0.0;
    for (int j = 1; j <= NY - 1; ++j)
        for (int f : {0, NX - 1}) {
            if (j == 1 && f != 0) continue;  // the two sides of the cut are one face
            double pEta;
            if (j >= 2) {
                pEta =
                    0.25 * (phi(f, j + 1) + phi(f + 1, j + 1) - phi(f, j - 1) - phi(f + 1, j - 1));
            } else {
                pEta = 0.25 * (phi(f, 2) + phi(f + 1, 2) - phi(NX - f, 2) - phi(NX - f - 1, 2) +
                               2.0 * circ);
            }
            const double flux = rhoi(f, j) / aji(f, j) *
                                (g11i(f, j) * (phi(f + 1, j) - phi(f, j)) + g12i(f, j) * pEta);
            // rhoi is the isentropic density times the flux factor, which counts
            // exp(s/R) of the shock-point correction: the mass flux is lower by
            // exp(-s/R).
            sum += std::fabs(flux) * std::exp(-ent(f, j)) * ent(f, j);
        }
    return 2.0 / (gamma * mach * mach) * sum / liftRef;
}

}  // namespace quarel
