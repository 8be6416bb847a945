// Test support for the run-control, result-file and batch tests: input
// geometry files of NACA 4-digit sections written from the published
// formulas, and a scratch directory that the test works in (the run writes
// grid.out into the current directory and the restart, Cp and result files
// beside the input).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tools/naca4.h"
#include "message.h"

namespace quarel {
namespace testjob {

struct Job {
    std::string title = "NACA 0012 test section";
    double mach = 0.0, alpha = 0.0, sweep = 0.0;
    double diagDom = 0.2, maxResidual = 1.0e-9, leadBoundary = 0.1;
    int NPA = 16, NCO = 6, NBH = 4, Kgrid = 2;
    int linearIterations = 10, gmresDim = 15, liftCorrection = 0, designRegime = 0;
    double thickness = 0.12, camber = 0.0, camberPos = 0.4;
    double yScale = 1.0;  // factor on every ordinate of the file
    // When noseThickness > 0 the section has that thickness ratio and the
    // camber noseCamber up to x = noseEnd, and `thickness`, `camber` from
    // x = noseEnd + noseRamp on, with a smooth (sin^2) change in between:
    // a section that shares its nose with another one.
    double noseThickness = 0.0, noseCamber = 0.0, noseEnd = 0.1, noseRamp = 0.2;
    // Bumps amp*sin^2(pi (x - bumpFrom)/(bumpTo - bumpFrom)) added to the
    // upper and the lower ordinates between bumpFrom and bumpTo.
    double bumpUpper = 0.0, bumpLower = 0.0, bumpFrom = 0.1, bumpTo = 1.0;
    int points = 41;  // per surface, leading edge shared
    double ratios[7] = {1.10, 1.12, 1.12, 1.10, 1.12, 1.12, 1.10};
};

// NACA 4-digit ordinate (closed trailing edge).
inline void naca(const Job& j, double x, double& yu, double& yl) {
    double t = j.thickness, m = j.camber;
    if (j.noseThickness > 0.0) {
        const double pi = 3.14159265358979323846;
        const double r = std::min(1.0, std::max(0.0, (x - j.noseEnd) / j.noseRamp));
        const double w = std::sin(0.5 * pi * r);
        t = j.noseThickness + (j.thickness - j.noseThickness) * w * w;
        m = j.noseCamber + (j.camber - j.noseCamber) * w * w;
    }
    double yc, dyc, yt;
    Naca4(m, j.camberPos, t, x, yc, dyc, yt);
    const double th = std::atan(dyc);
    yu = yc + yt * std::cos(th);
    yl = yc - yt * std::cos(th);
    if (x > j.bumpFrom && x < j.bumpTo) {
        const double pi = 3.14159265358979323846;
        const double s = std::sin(pi * (x - j.bumpFrom) / (j.bumpTo - j.bumpFrom));
        yu += j.bumpUpper * s * s;
        yl += j.bumpLower * s * s;
    }
    (void)th;
}

// Text of the input geometry file (point-list layout, from the trailing
// edge over the upper surface to the leading edge and back).
inline std::string jobText(const Job& j) {
    std::ostringstream s;
    char b[128];
    s << j.title << "\n";
    s << "   Mach     Alpha     Swept\n";
    std::snprintf(b, sizeof b, "%10.5f%10.5f%10.5f\n", j.mach, j.alpha, j.sweep);
    s << b << "  DiagDom   MaxRes    LeadBnd\n";
    std::snprintf(b, sizeof b, "%10.5f%10.3E%10.5f\n", j.diagDom, j.maxResidual, j.leadBoundary);
    s << b << "   NPA       NCO       NBH      Kgrid\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f%10.1f%10.1f\n", double(j.NPA), double(j.NCO),
                  double(j.NBH), double(j.Kgrid));
    s << b << "  LinIter   GmresDim  LiftCorr  Regime\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f%10.1f%10.1f\n", double(j.linearIterations),
                  double(j.gmresDim), double(j.liftCorrection), double(j.designRegime));
    const int n = 2 * j.points - 1;
    s << b << "  Layout    Points\n";
    std::snprintf(b, sizeof b, "%10.1f%10.1f\n", 0.0, double(n));
    s << b << "     x         y\n";
    const double pi = 3.14159265358979323846;
    for (int m = 0; m < n; ++m) {
        // Cosine spacing: m = 0 trailing edge (upper), points-1 leading edge.
        const bool upper = m < j.points;
        const int q = upper ? m : n - 1 - m;
        const double beta = pi * q / (j.points - 1);
        const double x = 0.5 * (1.0 + std::cos(beta));
        double yu, yl;
        naca(j, x, yu, yl);
        const double y = (upper ? yu : yl) * j.yScale;
        std::snprintf(b, sizeof b, "%10.7f%10.7f\n", x, y);
        s << b;
    }
    s << " Growth ratios\n";
    for (double r : j.ratios) {
        std::snprintf(b, sizeof b, "%5.3f", r);
        s << b;
    }
    s << "\n";
    return s.str();
}

inline std::string writeJob(const std::string& path, const Job& j) {
    std::ofstream f(path);
    f << jobText(j);
    return path;
}

// A fresh scratch directory that becomes the current directory for the
// lifetime of the object.  Only a directory it made itself is removed: when
// none can be made the test fails at once instead of working (and
// cleaning up) in a shared one.
class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "/tmp/quarel_test_XXXXXX";
        const char* d = mkdtemp(tmpl);
        if (d == nullptr) throw std::runtime_error("no scratch directory could be made in /tmp");
        path_ = d;
        char cwd[4096];
        old_ = getcwd(cwd, sizeof cwd) ? cwd : "/tmp";
        if (chdir(path_.c_str()) != 0) std::perror("chdir");
    }
    ~ScratchDir() {
        if (chdir(old_.c_str()) != 0) std::perror("chdir");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_, old_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Silences the solver's console for the lifetime of the object.
struct Quiet {
    Quiet() { msg::setQuiet(true); }
    ~Quiet() { msg::setQuiet(false); }
};

#ifdef QUAREL_BATCH
// What one run of quarel-batch printed and returned.
struct BatchResult {
    int code;
    std::string out, err;
};

// Runs quarel-batch with `args` in the current (scratch) directory.
inline BatchResult runBatch(const std::string& args) {
    const std::string cmd = std::string("'") + QUAREL_BATCH + "' " + args + " 2>batch.err";
    BatchResult r{-1, "", ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = readFile("batch.err");
    return r;
}
#endif

// A scratch directory of this process under the system's temporary
// directory: ctest runs the tests in parallel processes, and a fixed name
// would let two of them write the same files at once.
inline std::string scratchPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid())))
        .string();
}

// Runs the shipped example `sample` from a copy in a scratch directory of
// this process (the run control writes its files beside the input and the
// grid listing into the current directory), after adjust(rc.job) has
// changed its settings; the calculation must not throw.  rc [in,out] a run
// control.
template <class Run, class Adjust>
void runExample(Run& rc, const std::string& scratch, const std::string& sample, Adjust adjust) {
    namespace fs = std::filesystem;
    msg::setQuiet(true);
    const fs::path cwd = fs::current_path();
    const fs::path dir = fs::path(scratchPath(scratch));
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / sample, dir / "m.dat",
                  fs::copy_options::overwrite_existing);
    rc.open((dir / "m.dat").string());
    adjust(rc.job);
    EXPECT_NO_THROW(rc.calculate());
    fs::current_path(cwd);
}

// Newton steps of each grid level, counted from a run's iteration log (a
// " Grid: " line opens a level).
template <class Log>
std::vector<int> stepsPerLevel(const Log& log) {
    std::vector<int> steps;
    for (const std::string& line : log) {
        if (line.rfind(" Grid: ", 0) == 0)
            steps.push_back(0);
        else if (!steps.empty())
            ++steps.back();
    }
    return steps;
}

}  // namespace testjob
}  // namespace quarel
