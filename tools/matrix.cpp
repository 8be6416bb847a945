// quarel-matrix: runs a matrix of analysis cases (sections, flow
// conditions, grids, tolerances) through the run control of the program
// and prints one line per run: grid, tolerance, Newton steps per level,
// median GMRES iterations per fine-level step, wall time, Clift, Cdrag,
// the last change of the lift on the fine level and whether the run
// converged: every level reached its tolerance without a breakdown, and the
// fine level's lift settled.
//
//   quarel-matrix [--grids ABCDE] [--tols 5,7,9] [--cases LIST] [--method M]
//                 [--exact-below R] [--chord-rate R] [--solve-floor R] [--dir DIR] [--list]
//
// --exact-below R: the Newton steps use the exact matrix once the residual
// is at most R (0: the approximate matrix throughout).
// --chord-rate R: a step keeps the exact rows of the step before while the
// residual falls to R times its value or less (0: formed at every step).
// --solve-floor R: the solves with the exact matrix stop at R times the
// residual (0: down to the linear tolerance).
//
// Grids (Kgrid 4, three levels; growth ratios r0^(40/(NY-1)) with r0 the
// samples' 1.10 at the vortex sheet and the leading edge and 1.12 elsewhere):
//   A 192 x 29, B 256 x 41 (the samples' grid), C 368 x 57, D 496 x 77,
//   E 496 x 97.
// Cases: NACA 0012 at (M, alpha) = (0.5, 2), (0.75, 2), (0.8, 1.25),
// (0.85, 1) and 0.75 at -6 .. 6 degrees; NACA 2412 at (0.7, 2); the
// samples in examples/ are run on their own grid and settings with the
// tolerance of the matrix ("sample:" cases, grid column "own").
// The sections are written from the published NACA formulas with a closed
// trailing edge, 41 cosine-spaced stations per surface.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RunControl.h"
#include "SOLV1.h"
#include "message.h"
#include "naca4.h"

namespace {

namespace fs = std::filesystem;

struct Grid {
    char name;
    int NPA, NCO, NBH;
};
const Grid kGrids[] = {
    {'A', 36, 7, 6}, {'B', 48, 10, 8}, {'C', 68, 14, 12}, {'D', 92, 19, 16}, {'E', 92, 24, 16}};

struct Case {
    std::string name;  // e.g. "0012 M0.80 a1.25" or "sample:naca0012_m080"
    int digits = 12;   // NACA mpxx as a number (12 = 0012, 2412)
    double mach = 0.0, alpha = 0.0;
    std::string sample;  // file name in examples/ for a sample case
};

std::vector<Case> allCases() {
    std::vector<Case> c;
    auto naca = [&](int digits, double m, double a) {
        char b[64];
        std::snprintf(b, sizeof b, "%04d M%.2f a%g", digits, m, a);
        c.push_back({b, digits, m, a, ""});
    };
    naca(12, 0.5, 2.0);
    naca(12, 0.75, 2.0);
    naca(12, 0.8, 1.25);
    naca(12, 0.85, 1.0);
    for (int a = -6; a <= 6; a += 2)
        if (a != 2) naca(12, 0.75, a);
    naca(2412, 0.7, 2.0);
    for (const char* s : {"naca0012", "naca0012_m080", "naca2412"})
        c.push_back({std::string("sample:") + s, 0, 0.0, 0.0, std::string(s) + ".dat"});
    return c;
}

// NACA 4-digit ordinates (closed trailing edge), thickness normal to the
// camber line.
void naca(int digits, double x, double& xu, double& yu, double& xl, double& yl) {
    const double m = (digits / 1000) / 100.0, p = ((digits / 100) % 10) / 10.0;
    const double t = (digits % 100) / 100.0;
    double yc, dyc, yt;
    quarel::Naca4(m, p, t, x, yc, dyc, yt);
    const double th = std::atan(dyc);
    xu = x - yt * std::sin(th);
    yu = yc + yt * std::cos(th);
    xl = x + yt * std::sin(th);
    yl = yc - yt * std::cos(th);
}

// Writes the input file of a NACA case on grid g at tolerance tol.
void writeNaca(const std::string& path, const Case& c, const Grid& g, double tol) {
    std::ofstream f(path);
    char b[160];
    f << "NACA " << (c.digits < 1000 ? "00" : "") << c.digits << " matrix case\n";
    f << "   Mach     Alpha     Swept\n";
    std::snprintf(b, sizeof b, "%10.5f%10.5f%10.5f\n", c.mach, c.alpha, 0.0);
    f << b << "  DiagDom   MaxRes    LeadBnd\n";
    std::snprintf(b, sizeof b, "%10.5f%10.1E%10.5f\n", c.digits == 12 ? 0.2 : 0.5, tol, 0.1);
    f << b << "   NPA       NCO       NBH      Kgrid\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f%10.1f%10.1f\n", double(g.NPA), double(g.NCO),
                  double(g.NBH), 4.0);
    f << b << "  LinIter   GmresDim  LiftCorr  Regime\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f%10.1f%10.1f\n", 20.0, 30.0, 0.0, 0.0);
    const int points = 41, n = 2 * points - 1;
    f << b << "  Layout    Points\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f\n", 0.0, double(n));
    f << b << "     x         y\n";
    const double pi = 3.14159265358979323846;
    for (int q = 0; q < n; ++q) {
        const bool upper = q < points;
        const int s = upper ? q : n - 1 - q;
        const double x = 0.5 * (1.0 + std::cos(pi * s / (points - 1)));
        double xu, yu, xl, yl;
        naca(c.digits, x, xu, yu, xl, yl);
        std::snprintf(b, sizeof b, "%10.6f%10.6f\n", upper ? xu : xl, upper ? yu : yl);
        f << b;
    }
    const int ny = 4 * g.NCO + 1;
    const double e = 40.0 / (ny - 1);
    const double r0[7] = {1.10, 1.12, 1.12, 1.10, 1.12, 1.12, 1.10};
    f << " growth ratios\n";
    for (double r : r0) {
        std::snprintf(b, sizeof b, "%5.3f", std::pow(r, e));
        f << b;
    }
    f << "\n";
}

// Copies a sample with its tolerance replaced (line 5, columns 11 .. 20).
void writeSample(const std::string& path, const std::string& sample, double tol) {
    std::ifstream in(fs::path(QUAREL_SOURCE_DIR) / "examples" / sample);
    std::ofstream out(path);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (n == 5 && line.size() >= 20) {
            char b[16];
            std::snprintf(b, sizeof b, "%10.1E", tol);
            line.replace(10, 10, b);
        }
        out << line << "\n";
    }
}

struct Level {
    int steps = 0;
    double res = 0.0;  // residual of the last step
};

// Reads ITR, RES and CL of an iteration line.
bool parseLine(const std::string& l, double& res, double& cl) {
    int itr, i1, j1, i2, j2;
    double cor, cd;
    return std::sscanf(l.c_str(), "%d %lf %d %d %lf %d %d %lf %lf", &itr, &cor, &i1, &j1, &res, &i2,
                       &j2, &cl, &cd) == 9;
}

}  // namespace

int main(int argc, char** argv) {
    std::string grids = "ABCDE", tols = "5,7,9", only, dir = "/tmp/quarel-matrix";
    std::string method;
    quarel::NewtonOptions options;  // the program's, but for the options given
    bool list = false, trace = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto value = [&]() -> std::string {
            if (a + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(1);
            }
            return argv[++a];
        };
        if (arg == "--grids") {
            grids = value();
        } else if (arg == "--tols") {
            tols = value();
        } else if (arg == "--cases") {
            only = value();
        } else if (arg == "--dir") {
            dir = value();
        } else if (arg == "--method") {
            method = value();
        } else if (arg == "--exact-below") {
            options.exactBelow = std::atof(value().c_str());
        } else if (arg == "--chord-rate") {
            options.chordRate = std::atof(value().c_str());
        } else if (arg == "--solve-floor") {
            options.exactSolveFloor = std::atof(value().c_str());
        } else if (arg == "--levels") {
            options.gridLevels = std::atoi(value().c_str());
        } else if (arg == "--direct-from") {
            options.directFrom = std::atoi(value().c_str());
        } else if (arg == "--fill") {
            options.fill = std::atoi(value().c_str());
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--trace") {
            trace = true;
        } else {
            std::fprintf(
                stderr,
                "usage: quarel-matrix [--grids ABCDE] [--tols 5,7,9] [--cases a,b] "
                "[--method M] [--exact-below R] [--chord-rate R] [--solve-floor R] [--fill N] "
                "[--levels N] [--direct-from N] [--dir DIR] "
                "[--list] [--trace]\n  --trace prints every step's GMRES iterations and time on "
                "stderr\n  cases are "
                "numbered from 1 in "
                "--list order\n");
            return 1;
        }
    }
    const std::vector<Case> cases = allCases();
    if (list) {
        for (size_t n = 0; n < cases.size(); ++n)
            std::printf("%2zu %s\n", n + 1, cases[n].name.c_str());
        return 0;
    }
    std::vector<int> chosen;
    if (only.empty()) {
        for (size_t n = 0; n < cases.size(); ++n) chosen.push_back(static_cast<int>(n));
    } else {
        for (size_t p = 0; p < only.size();) {
            const size_t q = only.find(',', p);
            chosen.push_back(std::atoi(only.substr(p, q - p).c_str()) - 1);
            p = q == std::string::npos ? only.size() : q + 1;
        }
    }
    std::vector<int> exps;
    for (size_t p = 0; p < tols.size();) {
        const size_t q = tols.find(',', p);
        exps.push_back(std::atoi(tols.substr(p, q - p).c_str()));
        p = q == std::string::npos ? tols.size() : q + 1;
    }
    if (!method.empty() && !quarel::ParseLinearMethod(method.c_str(), options.method)) {
        std::fprintf(stderr, "unknown method %s (line, inexact, ilu, multilevel, direct)\n",
                     method.c_str());
        return 1;
    }

    fs::create_directories(dir);
    fs::current_path(dir);
    quarel::msg::setQuiet(true);

    std::printf(
        "| case | grid | tol | steps per level | median GMRES it./step | time s | Clift | "
        "Cdrag | last dCL | converged |\n|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (int ci : chosen) {
        if (ci < 0 || ci >= static_cast<int>(cases.size())) continue;
        const Case& c = cases[static_cast<size_t>(ci)];
        const bool sample = !c.sample.empty();
        for (char gname : sample ? std::string("-") : grids) {
            const Grid* g = nullptr;
            for (const Grid& gg : kGrids)
                if (gg.name == gname) g = &gg;
            if (!sample && g == nullptr) continue;
            for (int e : exps) {
                const double tol = std::pow(10.0, -e);
                const std::string path = dir + "/case.dat";
                if (sample) {
                    writeSample(path, c.sample, tol);
                } else {
                    writeNaca(path, c, *g, tol);
                }
                quarel::RunControl rc;
                rc.setNewtonOptions(options);
                std::vector<int> fineIterations;
                auto stepStart = std::chrono::steady_clock::now();
                rc.setProgressHook([&](const quarel::Progress& p) {
                    if (p.level == p.levels) fineIterations.push_back(p.report.linearIterations);
                    if (trace) {
                        const auto now = std::chrono::steady_clock::now();
                        std::fprintf(stderr, "%4dx%-3d %s  GMRES %4d  kept %.3f  %.3f s\n", p.NX,
                                     p.NY, p.report.line.c_str(), p.report.linearIterations,
                                     p.report.keptFraction,
                                     std::chrono::duration<double>(now - stepStart).count());
                        stepStart = now;
                    }
                    return true;
                });
                std::string error;
                const auto t0 = std::chrono::steady_clock::now();
                try {
                    rc.open(path);
                    rc.calculate();
                } catch (const std::exception& ex) {
                    error = ex.what();
                }
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                // Steps and last residual of each level from the log.
                std::vector<Level> levels;
                double lastCl = 0.0, dCl = 0.0;
                for (const std::string& l : rc.log()) {
                    if (l.rfind(" Grid:", 0) == 0) {
                        levels.push_back({});
                        continue;
                    }
                    double res, cl;
                    if (levels.empty() || !parseLine(l, res, cl)) continue;
                    levels.back().steps += 1;
                    levels.back().res = res;
                    dCl = levels.back().steps > 1 ? cl - lastCl : 0.0;
                    lastCl = cl;
                }
                // Every level below its tolerance, and the fine level with a
                // settled lift as well.
                bool converged = error.empty() && levels.size() == 3 && rc.converged();
                std::string steps;
                for (const Level& lv : levels) {
                    if (!steps.empty()) steps += ", ";
                    steps += std::to_string(lv.steps);
                    if (std::fabs(lv.res) > tol) converged = false;
                }
                // Why not: a breakdown, or the levels that ran out of steps
                // (a coarse level that does is refined anyway, and the fine
                // level may still converge).
                std::string why;
                if (!error.empty()) {
                    why = " (breakdown)";
                } else {
                    for (size_t n = 0; n < levels.size(); ++n)
                        if (std::fabs(levels[n].res) > tol)
                            why += (why.empty() ? " (level " : ", ") + std::to_string(n + 1);
                    if (!why.empty()) why += " unconverged)";
                }
                std::sort(fineIterations.begin(), fineIterations.end());
                const int median =
                    fineIterations.empty() ? 0 : fineIterations[fineIterations.size() / 2];
                char gridText[32];
                if (sample) {
                    std::snprintf(gridText, sizeof gridText, "own %dx%d", rc.level().NX,
                                  rc.level().NY);
                } else {
                    std::snprintf(gridText, sizeof gridText, "%c %dx%d", g->name,
                                  4 * (g->NPA + 2 * g->NBH), 4 * g->NCO + 1);
                }
                std::printf("| %s | %s | 1e-%d | %s | %d | %.2f | %.5f | %.5f | %.1e | %s |\n",
                            c.name.c_str(), gridText, e, steps.c_str(), median, seconds,
                            error.empty() ? rc.results.clift : std::nan(""),
                            error.empty() ? rc.results.cdrag : std::nan(""), dCl,
                            converged ? "yes" : ("no" + why).c_str());
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
