#include "DesignFiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "message.h"
#include "state.h"

namespace quarel {

namespace {

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// Reads numbers from a line; false when a field is not a number.
bool numbers(const std::string& line, int count, std::vector<double>& v) {
    v.clear();
    const char* p = line.c_str();
    for (int n = 0; n < count; ++n) {
        char* end = nullptr;
        errno = 0;
        const double d = std::strtod(p, &end);
        if (end == p || errno != 0 || !std::isfinite(d)) return false;
        v.push_back(d);
        p = end;
    }
    return true;
}

// A value in a fixed field of `width` columns with as many decimals as
// fit (at most `most`), or in exponent form when fixed notation does not
// fit.
std::string field(double v, int width, int most) {
    char b[64];
    for (int d = most; d >= 1; --d) {
        std::snprintf(b, sizeof b, "%*.*f", width, d, v);
        if (static_cast<int>(std::strlen(b)) <= width) return b;
    }
    std::snprintf(b, sizeof b, "%*.3E", width, v);
    return b;
}

std::string count(int v, int width) {
    char b[64];
    std::snprintf(b, sizeof b, "%*d.", width - 1, v);
    return b;
}

}  // namespace

TargetCp ReadCpFileTarget(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FileError("Cannot open the target Cp file " + quoted(path) + ": " +
                        std::strerror(errno));
    }
    int lineNo = 0;
    std::string line;
    auto next = [&]() {
        ++lineNo;
        if (!std::getline(in, line)) {
            throw FileError("Cannot read the target Cp file " + quoted(path) + ", line " +
                            std::to_string(lineNo) + ": the file ends before this line.");
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
    };
    auto bad = [&](const std::string& why) {
        return FileError("Cannot read the target Cp file " + quoted(path) + ", line " +
                         std::to_string(lineNo) + ": " + why);
    };
    std::vector<double> v;
    next();  // title
    next();
    if (!numbers(line, 1, v) || v[0] != std::floor(v[0]) || v[0] < 4 || v[0] > kMaxNX)
        throw bad("the number of surface faces must be a whole number from 4 to " +
                  std::to_string(kMaxNX) + ".");
    const int faces = static_cast<int>(v[0]);
    next();                                   // caption
    for (int n = 0; n <= faces; ++n) next();  // surface nodes
    next();                                   // caption
    TargetCp t;
    for (int n = 0; n < faces; ++n) {
        next();
        if (!numbers(line, 3, v)) throw bad("a face line holds x, CpFact and CpSpec as numbers.");
        t.x.push_back(v[0]);
        t.cp.push_back(v[1]);
    }
    // The faces run from the trailing edge to the leading edge (x falling)
    // and back (x rising).
    const size_t le = static_cast<size_t>(std::min_element(t.x.begin(), t.x.end()) - t.x.begin());
    bool ordered = le > 0 && le + 1 < t.x.size();
    // The two faces at the leading edge may share their (rounded) abscissa.
    for (size_t n = 1; ordered && n < t.x.size(); ++n)
        ordered = n <= le       ? t.x[n] < t.x[n - 1]
                  : n == le + 1 ? t.x[n] >= t.x[n - 1]
                                : t.x[n] > t.x[n - 1];
    if (!ordered) {
        throw FileError("The target Cp file " + quoted(path) +
                        " does not describe a section: its face abscissae must fall from the "
                        "trailing edge to the leading edge and rise again to the trailing edge.");
    }
    return t;
}

void SetTargetOnFaces(const TargetCp& target, const GridLevel& level) {
    const size_t le =
        static_cast<size_t>(std::min_element(target.x.begin(), target.x.end()) - target.x.begin());
    // Each surface with rising abscissae: the upper one reversed.
    std::vector<double> ux, ucp, lx, lcp;
    for (size_t n = le + 1; n-- > 0;) {
        ux.push_back(target.x[n]);
        ucp.push_back(target.cp[n]);
    }
    for (size_t n = le + 1; n < target.x.size(); ++n) {
        lx.push_back(target.x[n]);
        lcp.push_back(target.cp[n]);
    }
    auto interpolate = [](const std::vector<double>& x, const std::vector<double>& y, double at) {
        if (at <= x.front()) return y.front();
        if (at >= x.back()) return y.back();
        const size_t m = static_cast<size_t>(std::upper_bound(x.begin(), x.end(), at) - x.begin());
        const double w = (at - x[m - 1]) / (x[m] - x[m - 1]);
        return y[m - 1] + w * (y[m] - y[m - 1]);
    };
    for (int i = level.k; i <= level.NX - level.k - 1; ++i) {
        const double xm = 0.5 * (xg(i, 1) + xg(i + 1, 1));
        cps(i) = i < level.iMid ? interpolate(ux, ucp, xm) : interpolate(lx, lcp, xm);
    }
}

std::string DesignedInputPath(const std::string& inputPath) {
    return inputPath.substr(0, inputPath.size() >= 4 ? inputPath.size() - 4 : 0) + "_design.dat";
}

std::string DesignedInputText(const std::string& title, const JobParameters& job,
                              const GridLevel& fine, double divisor) {
    std::string s;
    std::string t = title;
    const std::string tag = " (designed)";
    if (t.size() + tag.size() <= 80) t += tag;
    s += t.substr(0, 80) + "\n";
    s += "<  Mach  >< Alpha  >< Sweep  >\n";
    s += field(job.mach, 10, 5) + field(job.alpha, 10, 7) + field(job.swept, 10, 5) + "\n";
    s += "<Diag.dom><Max.res.><Des.lead>\n";
    char res[32];
    std::snprintf(res, sizeof res, "%10.3E", job.maxResidual);
    s += field(job.diagDom, 10, 5) + res + field(job.designLeadBoundary, 10, 5) + "\n";
    s += "<  NPA   ><  NCO   ><  NBH   >< Kgrid  >\n";
    s += count(job.NPA, 10) + count(job.NCO, 10) + count(job.NBH, 10) + count(job.Kgrid, 10) + "\n";
    s += "<Lin.its.><GMRESdim><LiftCorr><Regime  >\n";
    s += count(job.linearIterations, 10) + count(job.gmresDim, 10) + count(job.liftCorrection, 10) +
         count(job.designRegime, 10) + "\n";
    s += "<Layout  ><Points  >\n";
    s += count(0, 10) + count(fine.NX - 2 * fine.k + 1, 10) + "\n";
    s += "<   x    ><   y    >\n";
    for (int i = fine.k; i <= fine.NX - fine.k; ++i)
        s += field(xgs(i, 1), 10, 7) + field(ygs(i, 1) * divisor, 10, 7) + "\n";
    s += " Growth ratios\n";
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    for (int e : entries) {
        char b[16];
        std::snprintf(b, sizeof b, "%5.3f", job.DSGRID(e));
        s += b;
    }
    s += "\n";
    return s;
}

void ReplaceTextFile(const std::string& path, const std::string& text, const std::string& what) {
    const std::string temp = path + ".new";
    bool ok = false;
    int err = 0;
    if (std::FILE* f = std::fopen(temp.c_str(), "wb")) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (!ok) err = errno;
        if (std::fclose(f) != 0 && ok) {
            ok = false;
            err = errno;
        }
    } else {
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw FileError("Cannot write the " + what + " " + quoted(path) + ": " +
                        (err ? std::strerror(err) : "the data could not be written") + ".");
    }
}

}  // namespace quarel
