#include "CoordinateFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "EntropyInput.h"
#include "INPT1.h"
#include "ViscousInput.h"
#include "message.h"
#include "splines.h"
#include "validate.h"

namespace quarel {

namespace {

struct Row {
    int line;  // 1-based line number in the file
    double a, b;
};

// Splits a line into numbers (blanks, tabs or commas between them).  False
// when the line holds anything else.
bool numbers(const std::string& line, std::vector<double>& out) {
    out.clear();
    std::string s = line;
    for (char& c : s) {
        if (c == ',' || c == '\t' || c == ';' || c == '\r') c = ' ';
    }
    std::istringstream in(s);
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0' || !std::isfinite(v)) return false;
        out.push_back(v);
    }
    return true;
}

// CR LF and a CR alone (old Mac files) end a line as LF does.
std::string unixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t n = 0; n < text.size(); ++n) {
        if (text[n] != '\r') {
            out += text[n];
        } else if (n + 1 >= text.size() || text[n + 1] != '\n') {
            out += '\n';
        }
    }
    return out;
}

// The number of words of a line when every one is a number (infinities
// and NaN included), else 0.
int numberWords(const std::string& line) {
    std::string s = line;
    for (char& c : s) {
        if (c == ',' || c == '\t' || c == ';') c = ' ';
    }
    std::istringstream in(s);
    std::string word;
    int count = 0;
    while (in >> word) {
        char* end = nullptr;
        std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0') return 0;
        ++count;
    }
    return count;
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

// The name line and the numeric rows of a coordinate file; false when a
// line after the name is neither blank, a comment, nor two numbers.
bool parse(const std::string& text, std::string& name, std::vector<Row>& rows, int& badLine) {
    std::istringstream in(unixLineEnds(text));
    std::string line;
    int n = 0;
    bool named = false;
    std::vector<double> v;
    while (std::getline(in, line)) {
        ++n;
        if (blank(line) || line[line.find_first_not_of(" \t")] == '#') continue;
        const bool pair = numbers(line, v) && v.size() == 2;
        if (!pair) {
            if (!named && rows.empty()) {
                name = line;
                while (!name.empty() && (name.back() == '\r' || name.back() == ' '))
                    name.pop_back();
                named = true;
                continue;
            }
            badLine = n;
            return false;
        }
        rows.push_back({n, v[0], v[1]});
    }
    badLine = 0;
    return true;
}

bool isCount(double v) {
    return v >= 2.0 && v <= 100000.0 && v == std::floor(v);
}

bool twoBlocks(const std::vector<Row>& rows) {
    return !rows.empty() && isCount(rows[0].a) && isCount(rows[0].b) &&
           static_cast<size_t>(rows[0].a + rows[0].b) == rows.size() - 1;
}

std::string where(const std::string& fileName, int line) {
    return "Cannot read the section coordinates \"" + fileName + "\"" +
           (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": ";
}

// Points of one surface resampled to `count` points, spaced by arc length
// with clustering at both ends (cosine), through a cubic spline in the arc
// length.
void resample(std::vector<double>& x, std::vector<double>& y, int count) {
    const int n = static_cast<int>(x.size());
    std::vector<double> s(static_cast<size_t>(n) + 1, 0.0), xs(s.size()), ys(s.size());
    for (int m = 0; m < n; ++m) {
        xs[static_cast<size_t>(m) + 1] = x[static_cast<size_t>(m)];
        ys[static_cast<size_t>(m) + 1] = y[static_cast<size_t>(m)];
        if (m > 0) {
            s[static_cast<size_t>(m) + 1] =
                s[static_cast<size_t>(m)] +
                std::hypot(x[static_cast<size_t>(m)] - x[static_cast<size_t>(m) - 1],
                           y[static_cast<size_t>(m)] - y[static_cast<size_t>(m) - 1]);
        }
    }
    std::vector<double> mx(s.size()), my(s.size());
    const double zero = 0.0;
    const int natural = 0;
    SplineCoef(zero, zero, n, &s[1], &xs[1], &mx[1], natural);
    SplineCoef(zero, zero, n, &s[1], &ys[1], &my[1], natural);
    std::vector<double> nx(static_cast<size_t>(count)), ny(nx.size());
    const double length = s[static_cast<size_t>(n)];
    const double pi = std::acos(-1.0);
    for (int m = 0; m < count; ++m) {
        double t = length * 0.5 * (1.0 - std::cos(pi * m / (count - 1)));
        if (m == count - 1) t = length;
        double d1, d2;
        SplineEval(n, &s[1], &xs[1], &mx[1], t, nx[static_cast<size_t>(m)], d1, d2);
        SplineEval(n, &s[1], &ys[1], &my[1], t, ny[static_cast<size_t>(m)], d1, d2);
    }
    nx.front() = x.front();
    ny.front() = y.front();
    nx.back() = x.back();
    ny.back() = y.back();
    x = nx;
    y = ny;
}

// The largest number of points the spline routines take per surface.
constexpr int kMaxSplinePoints = 1201;

// Resamples both surfaces (each from the leading edge) when together they
// have more points than the contour holds.
void fitSurfaces(std::vector<double>& ux, std::vector<double>& uy, std::vector<double>& lx,
                 std::vector<double>& ly, std::vector<std::string>& notes,
                 const std::string& fileName) {
    const int total = static_cast<int>(ux.size() + lx.size()) - 1;
    if (static_cast<int>(std::max(ux.size(), lx.size())) > kMaxSplinePoints)
        throw FileError(where(fileName, 0) + "a surface has more than " +
                        std::to_string(kMaxSplinePoints) + " points.");
    if (total <= kMaxContour) return;
    const int each = (kMaxContour + 1) / 2;  // per surface, leading edge shared
    resample(ux, uy, each);
    resample(lx, ly, each);
    notes.push_back("The section has " + std::to_string(total) + " points, more than the " +
                    std::to_string(kMaxContour) +
                    " the program holds; each surface was resampled to " + std::to_string(each) +
                    " points along its arc length with a cubic spline.");
}

}  // namespace

void FitContour(std::vector<double>& x, std::vector<double>& y, std::vector<std::string>& notes) {
    size_t le = 0;
    for (size_t m = 1; m < x.size(); ++m)
        if (x[m] < x[le]) le = m;
    std::vector<double> ux, uy, lx, ly;
    for (size_t m = le + 1; m-- > 0;) ux.push_back(x[m]), uy.push_back(y[m]);
    for (size_t m = le; m < x.size(); ++m) lx.push_back(x[m]), ly.push_back(y[m]);
    fitSurfaces(ux, uy, lx, ly, notes, "section");
    x.clear();
    y.clear();
    for (size_t m = ux.size(); m-- > 0;) x.push_back(ux[m]), y.push_back(uy[m]);
    for (size_t m = 1; m < lx.size(); ++m) x.push_back(lx[m]), y.push_back(ly[m]);
}

CoordinateLayout RecogniseCoordinates(const std::string& text) {
    // The layout is that of the file as a whole, decided by its head: the
    // program's own input file has a caption line and then three numbers
    // after its title; a coordinate file has a point (or the point counts)
    // right after its name.  A bad line further down is then reported as a
    // bad line of the coordinate file instead of being read in the fixed
    // columns of an input file.
    std::istringstream in(unixLineEnds(text));
    std::string line;
    int n = 0, nameLine = 0;
    while (std::getline(in, line)) {
        ++n;
        if (blank(line) || line[line.find_first_not_of(" \t")] == '#') continue;
        const int words = numberWords(line);
        if (words == 0 || (nameLine == 0 && words != 2)) {
            if (nameLine != 0) return CoordinateLayout::None;  // a caption
            nameLine = n;
            continue;
        }
        if (words != 2 && nameLine != 0 && n > nameLine + 1) return CoordinateLayout::None;
        std::string name;
        std::vector<Row> rows;
        int bad = 0;
        if (parse(text, name, rows, bad) && twoBlocks(rows)) return CoordinateLayout::TwoBlocks;
        return CoordinateLayout::PointList;
    }
    return CoordinateLayout::None;
}

namespace {

// Upper and lower surface, each from the leading edge to the trailing edge.
struct Surfaces {
    std::vector<double> ux, uy, lx, ly;
};

// The surfaces of a list of points round the section (from either
// trailing edge, or both surfaces from the leading edge one after the
// other).
Surfaces splitPointList(const std::vector<Row>& rows, const std::string& fileName,
                        std::vector<std::string>& notes) {
    // A first line of two whole numbers whose sum misses the number of
    // points that follow: point counts that do not match.
    if (rows.size() > 1 && isCount(rows[0].a) && isCount(rows[0].b) && rows[1].a < rows[0].a &&
        rows[1].a <= 1.0) {
        throw FileError(where(fileName, rows[0].line) + "the point counts " +
                        std::to_string(static_cast<long>(rows[0].a)) + " and " +
                        std::to_string(static_cast<long>(rows[0].b)) + " add up to " +
                        std::to_string(static_cast<long>(rows[0].a + rows[0].b)) + ", but " +
                        std::to_string(rows.size() - 1) + " points follow.");
    }
    if (rows.size() < 5)
        throw FileError(where(fileName, 0) + "a section needs at least 5 points, this file has " +
                        std::to_string(rows.size()) + ".");
    Surfaces s;
    // The leading edge is the point of smallest x.
    size_t le = 0;
    for (size_t m = 1; m < rows.size(); ++m)
        if (rows[m].a < rows[le].a) le = m;
    if (le == 0 || le == rows.size() - 1) {
        // The list starts (or ends) at the leading edge: two surfaces from
        // the leading edge, one after the other.
        size_t split = 0;
        for (size_t m = 1; m + 1 < rows.size(); ++m)
            if (rows[m + 1].a < rows[m].a && split == 0) split = m + 1;
        if (le != 0 || split == 0)
            throw FileError(where(fileName, rows[le].line) +
                            "the points do not go round the section: expected the trailing "
                            "edge, one surface to the leading edge and the other back.");
        for (size_t m = 0; m < split; ++m) s.ux.push_back(rows[m].a), s.uy.push_back(rows[m].b);
        for (size_t m = split; m < rows.size(); ++m)
            s.lx.push_back(rows[m].a), s.ly.push_back(rows[m].b);
        notes.push_back(
            "The surfaces were given one after the other from the leading edge; "
            "they were joined round the leading edge.");
    } else {
        for (size_t m = le + 1; m-- > 0;) s.ux.push_back(rows[m].a), s.uy.push_back(rows[m].b);
        for (size_t m = le; m < rows.size(); ++m)
            s.lx.push_back(rows[m].a), s.ly.push_back(rows[m].b);
    }
    return s;
}

// The surfaces of the rows: two blocks after their point counts, or a
// list of points.
Surfaces splitSurfaces(const std::vector<Row>& rows, const std::string& fileName,
                       std::vector<std::string>& notes) {
    if (!twoBlocks(rows)) return splitPointList(rows, fileName, notes);
    Surfaces s;
    const size_t nu = static_cast<size_t>(rows[0].a), nl = static_cast<size_t>(rows[0].b);
    if (nu < 2 || nl < 2)
        throw FileError(where(fileName, rows[0].line) + "a surface needs 2 points.");
    for (size_t m = 1; m <= nu; ++m) s.ux.push_back(rows[m].a), s.uy.push_back(rows[m].b);
    for (size_t m = nu + 1; m <= nu + nl; ++m) s.lx.push_back(rows[m].a), s.ly.push_back(rows[m].b);
    return s;
}

// The upper surface is the one of the larger mean ordinate; each surface
// must run from the leading edge downstream.
void orderSurfaces(Surfaces& s, const std::string& fileName, std::vector<std::string>& notes) {
    auto mean = [](const std::vector<double>& v) {
        double sum = 0.0;
        for (double a : v) sum += a;
        return sum / static_cast<double>(v.size());
    };
    if (mean(s.uy) < mean(s.ly)) {
        std::swap(s.ux, s.lx);
        std::swap(s.uy, s.ly);
        notes.push_back("The points ran round the lower surface first; their order was reversed.");
    }
    for (const std::vector<double>* x : {&s.ux, &s.lx}) {
        for (size_t m = 1; m < x->size(); ++m) {
            if ((*x)[m] < (*x)[m - 1] - 1e-12 * std::fabs((*x).back() - (*x).front())) {
                char b[32];
                std::snprintf(b, sizeof b, "%.6g", (*x)[m - 1]);
                throw FileError(where(fileName, 0) + "the " + (x == &s.ux ? "upper" : "lower") +
                                " surface turns back at x = " + b +
                                ": x must fall from the trailing edge to the leading edge and "
                                "rise again.");
            }
        }
    }
}

// Drops repeated points and gives both surfaces one leading-edge point.
// Returns the chord.
double joinLeadingEdge(Surfaces& s, const std::string& fileName, std::vector<std::string>& notes) {
    std::vector<double>&ux = s.ux, &uy = s.uy, &lx = s.lx, &ly = s.ly;
    const double chord = std::max(ux.back(), lx.back()) - std::min(ux.front(), lx.front());
    if (!(chord > 0.0)) throw FileError(where(fileName, 0) + "the section has no chord.");
    const double tiny = 1e-9 * chord;
    auto dedupe = [&](std::vector<double>& x, std::vector<double>& y) {
        size_t dropped = 0;
        std::vector<double> nx{x[0]}, ny{y[0]};
        for (size_t m = 1; m < x.size(); ++m) {
            if (std::hypot(x[m] - nx.back(), y[m] - ny.back()) <= tiny) {
                ++dropped;
                continue;
            }
            nx.push_back(x[m]);
            ny.push_back(y[m]);
        }
        x = nx;
        y = ny;
        return dropped;
    };
    size_t dropped = dedupe(ux, uy) + dedupe(lx, ly);
    if (std::hypot(ux[0] - lx[0], uy[0] - ly[0]) > tiny) {
        // Two leading-edge points: the one of smaller x starts both.
        if (lx[0] < ux[0]) {
            ux.insert(ux.begin(), lx[0]);
            uy.insert(uy.begin(), ly[0]);
        } else {
            lx.insert(lx.begin(), ux[0]);
            ly.insert(ly.begin(), uy[0]);
        }
    }
    if (dropped > 0) notes.push_back(std::to_string(dropped) + " repeated point(s) were dropped.");
    if (ux.size() < 3 || lx.size() < 3)
        throw FileError(where(fileName, 0) + "each surface needs at least 3 distinct points.");
    return chord;
}

// An open (blunt) trailing edge is closed by shearing each surface
// linearly from the leading edge, so that both end at the midpoint.
void closeTrailingEdge(Surfaces& s, double chord, const std::string& fileName,
                       std::vector<std::string>& notes) {
    std::vector<double>&ux = s.ux, &uy = s.uy, &lx = s.lx, &ly = s.ly;
    const double tiny = 1e-9 * chord;
    const double gap = std::hypot(ux.back() - lx.back(), uy.back() - ly.back());
    if (gap > kMaxTrailingGap * chord) {
        // Shearing a wide gap shut would analyse another section (a file
        // cut short leaves one surface ending mid-chord).
        char b[240];
        std::snprintf(b, sizeof b,
                      "the trailing edge is open by %.3g %% of the chord (the surfaces end at x "
                      "= %.6g and x = %.6g); at most %g %% is closed. Is the file complete?",
                      100.0 * gap / chord, ux.back(), lx.back(), 100.0 * kMaxTrailingGap);
        throw FileError(where(fileName, 0) + b);
    }
    if (!(gap > tiny)) return;
    const double xm = 0.5 * (ux.back() + lx.back()), ym = 0.5 * (uy.back() + ly.back());
    for (auto* side : {&ux, &lx}) {
        std::vector<double>& x = *side;
        std::vector<double>& y = side == &ux ? uy : ly;
        const double x0 = x.front(), dx = x.back() - x0;
        const double ex = xm - x.back(), ey = ym - y.back();
        for (size_t m = 1; m < x.size(); ++m) {
            const double f = (x[m] - x0) / dx;
            x[m] += f * ex;
            y[m] += f * ey;
        }
    }
    char b[160];
    std::snprintf(b, sizeof b,
                  "The trailing edge was open (gap %.3g %% of the chord); each surface was "
                  "sheared linearly to close it at its midpoint.",
                  100.0 * gap / chord);
    notes.push_back(b);
}

}  // namespace

Section ReadSection(const std::string& text, const std::string& fileName) {
    Section sec;
    std::vector<Row> rows;
    int bad = 0;
    if (!parse(text, sec.name, rows, bad)) {
        throw FileError(where(fileName, bad) +
                        "a coordinate line holds two finite numbers, x and y (this line holds "
                        "something else).");
    }
    if (sec.name.empty()) sec.name = fileName;
    Surfaces s = splitSurfaces(rows, fileName, sec.notes);
    orderSurfaces(s, fileName, sec.notes);
    const double chord = joinLeadingEdge(s, fileName, sec.notes);
    closeTrailingEdge(s, chord, fileName, sec.notes);
    // At most kMaxContour points: both surfaces resampled alike.
    fitSurfaces(s.ux, s.uy, s.lx, s.ly, sec.notes, fileName);
    for (size_t m = s.ux.size(); m-- > 0;) sec.x.push_back(s.ux[m]), sec.y.push_back(s.uy[m]);
    for (size_t m = 1; m < s.lx.size(); ++m) sec.x.push_back(s.lx[m]), sec.y.push_back(s.ly[m]);
    return sec;
}

JobParameters DefaultJob() {
    JobParameters job;
    job.mach = 0.5;
    job.alpha = 0.0;
    job.swept = 0.0;
    job.gamma = kGammaSingle;
    job.diagDom = 0.2;
    job.maxResidual = 1.0e-7;
    job.designLeadBoundary = 0.1;
    job.NPA = 40;
    job.NCO = 8;
    job.NBH = 8;
    job.Kgrid = 4;
    job.linearIterations = 20;
    job.gmresDim = 30;
    job.liftCorrection = 0;
    job.designRegime = 0;
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    const double ratios[7] = {1.10, 1.12, 1.12, 1.10, 1.12, 1.12, 1.10};
    for (int m = 1; m <= 13; ++m) job.DSGRID(m) = 0.0;
    for (int m = 0; m < 7; ++m) job.DSGRID(entries[m]) = ratios[m];
    return job;
}

void SetContour(JobParameters& job, const Section& section) {
    job.NCONT = static_cast<int>(section.x.size());
    for (int m = 1; m <= job.NCONT; ++m) {
        job.XCONT(m) = section.x[static_cast<size_t>(m) - 1];
        job.YCONT(m) = section.y[static_cast<size_t>(m) - 1];
    }
}

namespace {

// A 10-column field with a decimal point, as many decimals as fit.
std::string field(double v, int decimals, const char* what) {
    char b[64];
    for (int d = decimals; d >= 1; --d) {
        std::snprintf(b, sizeof b, "%10.*f", d, v + 0.0);
        if (std::string(b).size() == 10) return b;
    }
    throw ParameterError(std::string(what) + " = " + std::to_string(v) +
                         " does not fit the 10 columns of its field in the input file.");
}

std::string count(int v) {
    char b[32];
    std::snprintf(b, sizeof b, "%9d.", v);
    return b;
}

}  // namespace

std::string InputFileText(const std::string& title, const JobParameters& job) {
    std::string t = title.substr(0, 80);
    std::string out = t + "\n";
    out += "<  Mach  >< Alpha  >< Sweep  >  (angles in degrees)\n";
    out += field(job.mach, 5, "Mach") + field(job.alpha, 7, "Alpha") +
           field(job.swept, 5, "Sweep") + "\n";
    out += "<Diag.dom><Max.res.><Des.lead>  (design region from this x/c)\n";
    char res[32];
    std::snprintf(res, sizeof res, "%10.3E", job.maxResidual);
    out += field(job.diagDom, 5, "Diagonal dominance") + res +
           field(job.designLeadBoundary, 5, "Design boundary") + "\n";
    out += "<  NPA   ><  NCO   ><  NBH   >< Kgrid  >\n";
    out += count(job.NPA) + count(job.NCO) + count(job.NBH) + count(job.Kgrid) + "\n";
    out += "<Lin.its.><GMRESdim><LiftCorr><Regime  >\n";
    out += count(job.linearIterations) + count(job.gmresDim) + count(job.liftCorrection) +
           count(job.designRegime) + "\n";
    out += "<Layout  ><Lines   >  layout 0: x,y TE-upper-LE-lower-TE; layout 1: x,y1,y2 LE to TE\n";
    out += count(0) + count(job.NCONT) + "\n";
    out += "<   x    ><   y    >\n";
    for (int m = 1; m <= job.NCONT; ++m)
        out += field(job.XCONT(m), 7, "x") + field(job.YCONT(m), 7, "y") + "\n";
    out +=
        " VSup TEup MCup   LE MClo TElo VSlo  (growth ratios: vortex sheet, trailing edge, "
        "mid-chord, leading edge)\n";
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    for (int e : entries) {
        char b[16];
        std::snprintf(b, sizeof b, "%5.3f", job.DSGRID(e));
        if (std::string(b).size() != 5)
            throw ParameterError("Growth ratio " + std::string(b) + " does not fit its 5 columns.");
        out += b;
    }
    out += "\n";
    out += ViscousSettingsText(job.viscous);
    out += EntropySettingsText(job.entropy);
    return out;
}

}  // namespace quarel
