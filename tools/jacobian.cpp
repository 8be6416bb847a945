// quarel-jacobian: checks the Newton matrix of the full-potential operator
// against the finite-difference Jacobian of the scaled residual on a small
// grid, and runs Newton's method with each of them.
//
//   quarel-jacobian [M alpha NPA NCO NBH Kgrid tol [trim [exact]]]
//
// The case (the transonic sample's section and settings with the given
// flow and grid) is run through the run control to the tolerance tol, a
// state near but not at the solution.  From there the tool
//   - forms the stored matrix column by column (the operator product with
//     unit vectors) and the central-difference Jacobian of the scaled
//     residual, the far-field values recomputed with every perturbation,
//     and prints their largest difference by row kind and neighbour
//     offset ("far": beyond the node's stencil, e.g. the far-field
//     doublet's dependence on the body potentials);
//   - runs eight Newton steps with the difference Jacobian and eight with
//     the stored matrix, each solved directly (dense LU), and prints the
//     largest residual and the circulation after each step.  With the
//     environment variable JAC_GMRES=tol the stored matrix's steps use the
//     program's GMRES driver with that linear tolerance instead.
// trim 1 drops the entries of the difference Jacobian that the stencil of
// the rows cannot hold (far-field doublet and beyond the stencil), 2 only
// those beyond the stencil, 3 only the far-field doublet; exact 1 stores
// the exact rows (ExactRows, from the face derivatives) instead of the
// approximate ones and also prints their largest difference from the rows
// by coloured differences (ExactRowsByDifferences), exact 2 stores the
// latter.
// Every unknown counts, the circulation included: a column of (k, 1) or
// (NX-k, 1) also moves the second side of the wake cut.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CDEF1.h"
#include "RunControl.h"
#include "SOLV1.h"
#include "gmres.h"
#include "line_solve.h"
#include "message.h"
#include "operator.h"
#include "state.h"

using namespace quarel;

namespace {

int NX, NY, K;
double gMach, gGamma = 1.4, gS2, gCu, gSu;
std::vector<std::pair<int, int>> unknowns;

void fillSecondSide(GridArray& v) {
    const double dG = v(NX - K, 1) - v(K, 1);
    for (int i = NX - K + 1; i <= NX - 1; ++i) v(i, 1) = v(NX - i, 1) + dG;
}

void clear(GridArray& v) {
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) v(i, j) = 0.0;
}

int gExact = 0;  // 1 ExactRows, 2 ExactRowsByDifferences
void build() {
    FarFieldValues(K, NX, NY, gCu, gSu);
    BuildSystem(NY, K, NX, gMach, gGamma, 1.2, gS2, 0, 0, 0);
}
void buildMatrix() {
    build();
    static ExactRowsWorkspace work;
    if (gExact == 1) ExactRows(NY, K, NX, gMach, gGamma, gS2, 0, 0, 0, work);
    if (gExact == 2) ExactRowsByDifferences(NY, K, NX, gMach, gGamma, gS2, 0, 0, 0, work);
}

std::vector<double> residualVector() {
    std::vector<double> r(unknowns.size());
    for (size_t n = 0; n < unknowns.size(); ++n) r[n] = sp0(unknowns[n].first, unknowns[n].second);
    return r;
}

// Dense LU solve of a x = b (a is overwritten), partial pivoting.
bool solveDense(std::vector<double>& a, std::vector<double>& b) {
    const int n = static_cast<int>(b.size());
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[size_t(r) * n + c]) > std::fabs(a[size_t(p) * n + c])) p = r;
        if (a[size_t(p) * n + c] == 0.0) return false;
        if (p != c) {
            for (int q = 0; q < n; ++q) std::swap(a[size_t(p) * n + q], a[size_t(c) * n + q]);
            std::swap(b[p], b[c]);
        }
        const double d = a[size_t(c) * n + c];
        for (int r = c + 1; r < n; ++r) {
            const double m = a[size_t(r) * n + c] / d;
            if (m == 0.0) continue;
            double* ar = &a[size_t(r) * n];
            const double* ac = &a[size_t(c) * n];
            for (int q = c + 1; q < n; ++q) ar[q] -= m * ac[q];
            b[r] -= m * b[c];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double s = b[r];
        for (int q = r + 1; q < n; ++q) s -= a[size_t(r) * n + q] * b[q];
        b[r] = s / a[size_t(r) * n + r];
    }
    return true;
}

// Matrix (row-major, rows = unknowns) by columns: assembled or by differences.
std::vector<double> assembled() {
    const size_t n = unknowns.size();
    std::vector<double> a(n * n);
    static GridArray v, av;
    const std::unique_ptr<LineSolver> plain(new LineSolver());
    for (size_t c = 0; c < n; ++c) {
        clear(v);
        v(unknowns[c].first, unknowns[c].second) = 1.0;
        fillSecondSide(v);
        ApplyOperator(*plain, NY, K, NX, v, av);
        for (size_t r = 0; r < n; ++r) a[r * n + c] = av(unknowns[r].first, unknowns[r].second);
    }
    return a;
}

std::vector<double> differences() {
    const size_t n = unknowns.size();
    std::vector<double> a(n * n);
    static GridArray base, v;
    base = phi;
    for (size_t c = 0; c < n; ++c) {
        clear(v);
        v(unknowns[c].first, unknowns[c].second) = 1.0;
        fillSecondSide(v);
        const double h = 1.0e-6;
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i) phi(i, j) = base(i, j) + h * v(i, j);
        build();
        const std::vector<double> rp = residualVector();
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i) phi(i, j) = base(i, j) - h * v(i, j);
        build();
        const std::vector<double> rm = residualVector();
        for (size_t r = 0; r < n; ++r) a[r * n + c] = -(rp[r] - rm[r]) / (2.0 * h);
    }
    phi = base;
    build();
    return a;
}

double maxAbs(const std::vector<double>& r) {
    double m = 0.0;
    for (double x : r) m = std::max(m, std::fabs(x));
    return m;
}

// Whether the stencil of the stored rows can hold entry (r, c).
int gMode = 0;
bool representable1(size_t r, size_t c, bool other);
bool representable(size_t r, size_t c) {
    return representable1(r, c, false) || representable1(r, c, true);
}
bool representable1(size_t r, size_t c, bool other) {
    const int i = unknowns[r].first, j = unknowns[r].second;
    int ic = unknowns[c].first;
    const int jc = unknowns[c].second;
    if (other) {
        if (jc != 1 || ic >= K) return false;
        ic = NX - ic;  // the same point on the second side of the cut
    }
    if (jc == 1 && (ic == K || ic == NX - K)) return true;
    const bool edgeRow = j == NY - 1 || i == 1 || i == NX - 1;
    if (gMode == 2 && edgeRow && jc == 1) return true;  // far-field moment kept
    if (gMode == 3 && !(edgeRow && jc == 1 && std::abs(jc - j) > 1)) {
        const int di = ic - i, dj = jc - j;
        if (std::abs(di) <= 4 && std::abs(dj) <= 1) return true;
        if (j == 1 && i < K && jc == 2 && std::abs(ic - (NX - i)) <= 4) return true;
        return false;
    }
    const int di = ic - i, dj = jc - j;
    if (std::abs(di) <= 1 && std::abs(dj) <= 1) return true;
    if (std::abs(di) == 2 && dj == 0) return true;
    if (j == 1 && i < K && jc == 2 && std::abs(ic - (NX - i)) <= 1) return true;
    return false;
}

void newton(bool exact, int steps) {
    static GridArray start;
    start = phi;
    std::printf("Newton with the %s matrix, direct solves\n", exact ? "difference" : "assembled");
    build();
    for (int s = 1; s <= steps; ++s) {
        std::vector<double> r = residualVector();
        if (!exact && std::getenv("JAC_GMRES")) {
            buildMatrix();
            // The line method's solve (its tolerance is 0.75 of the given one).
            LineSolve().solve(NY, K, NX, 0.75 * std::atof(std::getenv("JAC_GMRES")), 20, 30, false,
                              false);
            std::vector<double> rr = residualVector();
            double lr = 0.0;
            for (size_t n = 0; n < unknowns.size(); ++n)
                lr = std::max(lr, std::fabs(gmr(unknowns[n].first, unknowns[n].second)));
            std::printf("  linear residual left %.3e\n", lr);
            for (int j = 1; j <= NY - 1; ++j)
                for (int i = 1; i <= NX - 1; ++i) phi(i, j) += corr(i, j);
            build();
            double cm = 0.0;
            for (int j = 1; j <= NY - 1; ++j)
                for (int i = 1; i <= NX - 1; ++i) cm = std::max(cm, std::fabs(corr(i, j)));
            std::printf("  step %2d  res before %.3e  max corr %.3e  circulation %.12f (gmres)\n",
                        s, maxAbs(rr), cm, Circulation(NX, K));
            continue;
        }
        std::vector<double> a;
        if (exact) {
            a = differences();
        } else {
            buildMatrix();
            a = assembled();
        }
        if (exact && gMode >= 1) {
            const size_t n = unknowns.size();
            for (size_t rr = 0; rr < n; ++rr)
                for (size_t cc = 0; cc < n; ++cc)
                    if (!representable(rr, cc)) a[rr * n + cc] = 0.0;
        }
        const double res = maxAbs(r);
        if (!solveDense(a, r)) {
            std::printf("  singular\n");
            break;
        }
        static GridArray c;
        clear(c);
        for (size_t n = 0; n < unknowns.size(); ++n)
            c(unknowns[n].first, unknowns[n].second) = r[n];
        fillSecondSide(c);
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 1; i <= NX - 1; ++i) phi(i, j) += c(i, j);
        build();
        std::printf("  step %2d  res before %.3e  max corr %.3e  circulation %.12f\n", s, res,
                    maxAbs(r), Circulation(NX, K));
        if (res < 1e-14) break;
    }
    phi = start;
    build();
}

}  // namespace

int main(int argc, char** argv) {
    double mach = 0.8, alpha = 1.25, tol = 1.0e-4;
    int NPA = 40, NCO = 8, NBH = 8, Kgrid = 2;
    if (argc >= 8) {
        mach = std::atof(argv[1]);
        alpha = std::atof(argv[2]);
        NPA = std::atoi(argv[3]);
        NCO = std::atoi(argv[4]);
        NBH = std::atoi(argv[5]);
        Kgrid = std::atoi(argv[6]);
        tol = std::atof(argv[7]);
    }
    namespace fs = std::filesystem;
    msg::setQuiet(true);
    const fs::path dir = fs::temp_directory_path() / "quarel-jacobian";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / "naca0012_m080.dat", dir / "m.dat",
                  fs::copy_options::overwrite_existing);
    RunControl rc;
    rc.open((dir / "m.dat").string());
    rc.job.mach = mach;
    rc.job.alpha = alpha;
    rc.job.NPA = NPA;
    rc.job.NCO = NCO;
    rc.job.NBH = NBH;
    rc.job.Kgrid = Kgrid;
    rc.job.maxResidual = tol;
    try {
        rc.calculate();
    } catch (const std::exception& e) {
        std::printf("run: %s\n", e.what());
    }
    NX = rc.level().NX;
    NY = rc.level().NY;
    K = rc.level().k;
    gMach = rc.freeStream().mach;
    gGamma = rc.freeStream().gamma;
    gS2 = rc.freeStream().sin2Sweep;
    gCu = rc.freeStream().cu;
    gSu = rc.freeStream().su;
    std::printf("grid %d x %d, k %d, Clift %.6f, residual %.3e\n", NX, NY, K, rc.results.clift,
                rc.status().residual);
    for (int i = 1; i <= NX - K; ++i) unknowns.push_back({i, 1});
    for (int j = 2; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) unknowns.push_back({i, j});
    const size_t n = unknowns.size();
    if (argc >= 10) gExact = std::atoi(argv[9]);
    if (gExact == 1) {
        // The two forms of the exact rows against each other.
        gExact = 2;
        buildMatrix();
        const std::vector<double> b = assembled();
        gExact = 1;
        buildMatrix();
        const std::vector<double> a = assembled();
        double worst = 0.0, big = 0.0;
        size_t at = 0;
        for (size_t m = 0; m < a.size(); ++m) {
            big = std::max(big, std::fabs(b[m]));
            if (std::fabs(a[m] - b[m]) > worst) {
                worst = std::fabs(a[m] - b[m]);
                at = m;
            }
        }
        std::printf(
            "exact rows from the face derivatives against coloured differences: largest "
            "difference %.3e (largest entry %.3e), row (%d,%d) col (%d,%d): %.8e, %.8e\n",
            worst, big, unknowns[at / n].first, unknowns[at / n].second, unknowns[at % n].first,
            unknowns[at % n].second, a[at], b[at]);
    }
    buildMatrix();
    const std::vector<double> a = assembled();
    const std::vector<double> d = differences();
    // Differences by row kind and neighbour offset.
    std::map<std::string, double> worst;
    std::map<std::string, std::string> where;
    double scale = 0.0;
    for (double x : d) scale = std::max(scale, std::fabs(x));
    for (size_t r = 0; r < n; ++r) {
        const int i = unknowns[r].first, j = unknowns[r].second;
        const char* kind = j == 1 ? (i < K ? "wake" : "body") : (j == NY - 1 ? "top" : "int");
        const bool sup = rhoi(i, j) != rsi(i, j) || rhoi(i - 1, j) != rsi(i - 1, j);
        for (size_t c = 0; c < n; ++c) {
            const double diff = std::fabs(a[r * n + c] - d[r * n + c]);
            if (diff < 1e-7) continue;
            const int di = unknowns[c].first - i, dj = unknowns[c].second - j;
            char key[96];
            const bool far = std::abs(di) > 2 || std::abs(dj) > 1;
            std::snprintf(key, sizeof key, "%s%s %s", kind, sup ? "(sup)" : "",
                          far ? "far" : (std::to_string(di) + "," + std::to_string(dj)).c_str());
            if (diff > worst[key]) {
                worst[key] = diff;
                char w[128];
                std::snprintf(w, sizeof w, "row (%d,%d) col (%d,%d) asm %.4e fd %.4e", i, j,
                              unknowns[c].first, unknowns[c].second, a[r * n + c], d[r * n + c]);
                where[key] = w;
            }
        }
    }
    std::printf("largest |FD entry| %.3e; differences above 1e-7:\n", scale);
    for (auto& [key, v] : worst)
        std::printf("  %-22s %.3e  %s\n", key.c_str(), v, where[key].c_str());
    if (argc >= 9) gMode = std::atoi(argv[8]);
    newton(true, 8);
    if (gMode == 0) newton(false, 8);
    return 0;
}
