// Target pressure distribution and the arithmetic of the Cp editor.
#include "cptarget.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "SRV21.h"
#include "message.h"

namespace quarel {

// ---- Plot scale -------------------------------------------------------------

CpScale cpScaleFor(double cpMin) {
    // Rows (threshold, top of the axis, span); the bottom is always 0.5.
    struct Row {
        double above, top, span;
    };
    static const Row rows[] = {
        {-0.4, -0.6, 1.1}, {-0.6, -0.8, 1.3}, {-0.8, -1.0, 1.5},  {-1.0, -1.2, 1.7},
        {-1.2, -1.4, 1.9}, {-1.4, -1.6, 2.1}, {-1.6, -1.8, 2.3},  {-1.8, -2.0, 2.5},
        {-2.0, -2.2, 2.7}, {-2.2, -2.4, 2.9}, {-2.4, -2.6, 3.1},  {-2.6, -2.8, 3.3},
        {-2.8, -3.0, 3.5}, {-3.0, -3.2, 3.7}, {-3.25, -3.5, 4.0}, {-3.5, -3.8, 4.3},
    };
    CpScale s{-5.0, 5.5, 0};
    for (const Row& r : rows) {
        if (cpMin > r.above) {
            s.cpTop = r.top;
            s.cpSpan = r.span;
            break;
        }
    }
    // The integer part of span/0.1 in double arithmetic: 1.9/0.1 is just
    // below 19, so that scale has 18 steps and its last grid line lies one
    // step short of the bottom (likewise 2.3, 2.9, 3.3, 4.3).
    s.nGridLines = static_cast<int>(s.cpSpan / 0.1);
    return s;
}

double criticalCp(double mach) {
    if (!(mach > 0.0999)) return -67.0;
    // Isentropic Cp at local Mach 1, gamma = 1.4; 0.5282817877171742 is
    // (1/1.2)^3.5, the sonic pressure over the stagnation pressure.
    const double m2 = mach * mach;
    return (std::pow(1.0 + 0.2 * m2, 3.5) * 0.5282817877171742 - 1.0) / (0.7 * m2);
}

PlotMapping plotMapping(int W, int H, const CpScale& scale) {
    PlotMapping m;
    m.sx = 0.89 * W;
    m.sy = 0.98 * H / scale.cpSpan;
    m.x0 = -0.1;
    m.cp0 = scale.cpTop - 0.01;
    return m;
}

// ---- Quiet Akima ---------------------------------------------------------------

InterpFault akimaQuiet(int L, const double* X, const double* Y, int N, const double* U, double* V) {
    // The checks of AkimaInterp, in its order, made here so that it is only
    // called on data it accepts and never writes a report.
    if (L < 2) return InterpFault::TooFewPoints;
    if (N < 1) return InterpFault::NoOutputPoints;
    for (int i = 1; i < L; ++i) {
        if (X[i - 1] > X[i]) return InterpFault::OutOfSequence;
        if (X[i - 1] == X[i]) return InterpFault::IdenticalX;
        // NaN abscissae compare false both ways: refuse them as well.
        if (!(X[i - 1] < X[i])) return InterpFault::OutOfSequence;
    }
    const int unit = 6;
    AkimaInterp(unit, L, X, Y, N, U, V);
    return InterpFault::None;
}

// ---- Lift -----------------------------------------------------------------------

double integratedLift(int NX, int k, const double* f, const double* x, const double* y, double cu,
                      double su, double cosSweep) {
    double sx = 0.0, sy = 0.0;
    for (int i = k; i <= NX - k - 1; ++i) {
        sx += f[i] * (x[i + 1] - x[i]);
        sy += f[i] * (y[i + 1] - y[i]);
    }
    return (cu * sx + su * sy) / cosSweep;
}

// ---- Target file -------------------------------------------------------------------

namespace {

constexpr double kChordSlack = 0.005;

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

[[noreturn]] void refuse(const std::string& path, int line, const std::string& why) {
    std::string text = "Cannot read target file " + quoted(path);
    if (line > 0) text += ", line " + std::to_string(line);
    throw FileError(text + ": " + why + ".");
}

std::string numberText(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

// Parses one number filling the whole of `text` (blanks around it
// allowed).  False for empty text, trailing characters or a value out of
// the double range.
bool parseNumber(const std::string& text, double& value) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '\0') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(s, &end);
    if (end == s || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
    return *end == '\0';
}

// Splits a plain-table line into its fields (blanks, tabs or commas).
std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

bool isBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

std::string trimmed(const std::string& line) {
    const auto a = line.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    const auto b = line.find_last_not_of(" \t\r");
    return line.substr(a, b - a + 1);
}

// Reads the face table of a Cp file: lines[0] is line 1 of the file.
void readCpFileFaces(const std::string& path, const std::vector<std::string>& lines,
                     CpTable& table) {
    double count = 0.0;
    if (lines.size() < 2 || !parseNumber(lines[1], count) || count != std::floor(count) ||
        count < 1.0 || count > 1000.0) {
        refuse(path, 2, "the number of surface intervals of the Cp file is missing or unreadable");
    }
    const int n = static_cast<int>(count);
    // Title, count, caption, n+1 coordinate lines, caption, then the faces.
    const std::size_t firstFace = 3 + static_cast<std::size_t>(n) + 1 + 1;
    const std::size_t caption = firstFace - 1;
    if (lines.size() <= caption || trimmed(lines[caption]) != "<   xc   >< CpFact >< CpSpec >") {
        refuse(path, static_cast<int>(std::min(lines.size(), caption) + 1),
               "expected the caption \"<   xc   >< CpFact >< CpSpec >\" of the Cp file here");
    }
    for (int f = 0; f < n; ++f) {
        const std::size_t at = firstFace + static_cast<std::size_t>(f);
        const int lineNo = static_cast<int>(at) + 1;
        if (at >= lines.size()) {
            refuse(path, lineNo,
                   "the Cp file ends after " + std::to_string(f) + " of its " + std::to_string(n) +
                       " face lines");
        }
        const std::string& l = lines[at];
        double xc = 0.0, cpFact = 0.0;
        if (l.size() < 20 || !parseNumber(l.substr(0, 10), xc) ||
            !parseNumber(l.substr(10, 10), cpFact)) {
            refuse(path, lineNo,
                   "expected the face midpoint x and the computed Cp in columns 1-10 and 11-20");
        }
        table.x.push_back(xc);
        table.cp.push_back(cpFact);
        table.line.push_back(lineNo);
    }
    table.fromCpFile = true;
}

void readPlainTable(const std::string& path, const std::vector<std::string>& lines,
                    CpTable& table) {
    for (std::size_t at = 0; at < lines.size(); ++at) {
        const std::string& l = lines[at];
        const int lineNo = static_cast<int>(at) + 1;
        if (isBlank(l) || trimmed(l)[0] == '#') continue;
        const std::vector<std::string> f = fieldsOf(l);
        double x = 0.0, cp = 0.0;
        if (f.size() != 2 || !parseNumber(f[0], x) || !parseNumber(f[1], cp)) {
            refuse(path, lineNo, "expected two numbers, x and Cp");
        }
        table.x.push_back(x);
        table.cp.push_back(cp);
        table.line.push_back(lineNo);
    }
}

// Leading edge of a table: the upper surface is points 0 .. upEnd, the
// lower surface loStart .. n-1.  Equal smallest abscissae in a row (a
// leading-edge point given once for each surface) are split between the
// surfaces.
void leadingEdge(const CpTable& t, std::size_t& upEnd, std::size_t& loStart) {
    upEnd = 0;
    for (std::size_t i = 1; i < t.x.size(); ++i) {
        if (t.x[i] < t.x[upEnd]) upEnd = i;
    }
    loStart = upEnd;
    while (loStart + 1 < t.x.size() && t.x[loStart + 1] == t.x[upEnd]) ++loStart;
}

void checkTable(const std::string& path, const CpTable& t, int lastLine) {
    const std::size_t n = t.x.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(t.x[i]) || t.x[i] < -kChordSlack || t.x[i] > 1.0 + kChordSlack) {
            refuse(path, t.line[i],
                   "x = " + numberText(t.x[i]) + " lies outside the chord (0 to 1)");
        }
        if (!std::isfinite(t.cp[i])) refuse(path, t.line[i], "the Cp value is not a number");
    }
    if (n < 5) {
        refuse(path, lastLine,
               "the table has only " + std::to_string(n) +
                   " points; it needs at least three on each surface");
    }
    std::size_t upEnd = 0, loStart = 0;
    leadingEdge(t, upEnd, loStart);
    if (upEnd < 2) {
        refuse(path, t.line[upEnd],
               "the upper surface is missing: the smallest x, the leading edge, comes after only " +
                   std::to_string(upEnd) +
                   " points (the table must start at the upper trailing edge)");
    }
    if (n - 1 - loStart < 2) {
        refuse(path, t.line[loStart],
               "the lower surface is missing: only " + std::to_string(n - 1 - loStart) +
                   " points follow the leading edge (the table must end at the lower trailing "
                   "edge)");
    }
    for (std::size_t i = 1; i <= upEnd; ++i) {
        if (t.x[i] > t.x[i - 1]) {
            refuse(path, t.line[i],
                   "x rises again on the upper surface (it must fall from the upper trailing "
                   "edge to the leading edge)");
        }
    }
    for (std::size_t i = loStart + 1; i < n; ++i) {
        if (t.x[i] < t.x[i - 1]) {
            refuse(path, t.line[i],
                   "x falls again on the lower surface (it must rise from the leading edge to "
                   "the lower trailing edge)");
        }
    }
}

}  // namespace

CpTable readCpTable(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw FileError("Cannot open target file " + quoted(path) + ": " + std::strerror(errno) +
                        ".");
    }
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(l);
    }
    if (in.bad()) throw FileError("Cannot read target file " + quoted(path) + ".");

    CpTable table;
    const bool cpFile = lines.size() >= 3 && trimmed(lines[2]) == "<   x    ><   y    >";
    if (cpFile) {
        readCpFileFaces(path, lines, table);
    } else {
        readPlainTable(path, lines, table);
    }
    checkTable(path, table, static_cast<int>(lines.size()));
    return table;
}

void writeCpTable(const std::string& path, const std::string& title, const CpTable& table) {
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        throw FileError("Cannot write target file " + quoted(path) + ": " + std::strerror(errno) +
                        ".");
    }
    out << "# " << title << "\n";
    out << "# x, Cp from the upper trailing edge round the leading edge to the lower trailing "
           "edge\n";
    char b[64];
    for (std::size_t i = 0; i < table.x.size(); ++i) {
        std::snprintf(b, sizeof b, "%12.8f %12.8f\n", table.x[i], table.cp[i]);
        out << b;
    }
    out.close();
    if (!out) throw FileError("Cannot write target file " + quoted(path) + ".");
}

double tableCpAt(const CpTable& t, int surface, double x) {
    std::size_t upEnd = 0, loStart = 0;
    leadingEdge(t, upEnd, loStart);
    // The surface's points in increasing x.
    std::vector<double> xs, cs;
    if (surface == 0) {
        for (std::size_t i = upEnd + 1; i-- > 0;) {
            xs.push_back(t.x[i]);
            cs.push_back(t.cp[i]);
        }
    } else {
        for (std::size_t i = loStart; i < t.x.size(); ++i) {
            xs.push_back(t.x[i]);
            cs.push_back(t.cp[i]);
        }
    }
    if (xs.empty()) return 0.0;
    if (x <= xs.front()) return cs.front();
    for (std::size_t j = 0; j + 1 < xs.size(); ++j) {
        // x > xs[j] here, so the interval below has a positive width.
        if (x <= xs[j + 1]) {
            const double w = (x - xs[j]) / (xs[j + 1] - xs[j]);
            return (1.0 - w) * cs[j] + w * cs[j + 1];
        }
    }
    return cs.back();
}

namespace {

// The table's Cp on the N faces with midpoints xMid[m] in editor order
// (m >= N/2 upper surface).  A table with one point per face at the face
// midpoints (to the six decimals of a Cp file) is taken face by face;
// any other table is interpolated.
void tableOnFaces(const CpTable& table, int n, const double* xMid, double* out) {
    const int half = n / 2;
    bool sameFaces = static_cast<int>(table.x.size()) == n;
    for (int q = 0; sameFaces && q < n; ++q) {
        sameFaces = std::fabs(table.x[q] - xMid[n - 1 - q]) <= 1.0e-6;
    }
    for (int m = 0; m < n; ++m) {
        out[m] = sameFaces ? table.cp[n - 1 - m] : tableCpAt(table, m >= half ? 0 : 1, xMid[m]);
    }
}

}  // namespace

void targetFromTable(const CpTable& table, int NX, int k, const double* x, double* cps) {
    const int n = NX - 2 * k;
    if (n < 1) return;
    std::vector<double> mid(n), value(n);
    for (int m = 0; m < n; ++m) {
        const int i = NX - k - 1 - m;
        mid[m] = 0.5 * (x[i] + x[i + 1]);
    }
    tableOnFaces(table, n, mid.data(), value.data());
    for (int m = 0; m < n; ++m) cps[NX - k - 1 - m] = value[m];
}

// ---- The editor ------------------------------------------------------------------------

bool CpEditor::load(int NX, int k, const double* x, const double* y, const double* cpf) {
    ready = 0;
    const int n = NX - 2 * k;
    // The initial stretches need nHalf >= 6 and N - 4 >= nHalf + 2.
    if (k < 1 || NX > 500 || n < 12) return false;
    nx_ = NX;
    k_ = k;
    nFaces = n;
    nHalf = n / 2;
    xNode_.assign(x, x + NX + 1);
    yNode_.assign(y, y + NX + 1);
    xMid.assign(n + 1, 0.0);
    cpCur.assign(n, 0.0);
    for (int m = 0; m <= n; ++m) {
        const int i = NX - k - 1 - m;
        xMid[m] = 0.5 * (x[i] + x[i + 1]);
        if (m < n) cpCur[m] = cpf[i];
    }
    cpDes = cpCur;
    // A stretch never exceeds half the faces: the work arrays hold it whole.
    workX_.assign(n, 0.0);
    workCp_.assign(n, 0.0);

    nSpl[0] = nSpl[1] = 8;
    splineOn[0] = splineOn[1] = 0;
    corrMode[0] = 1;
    corrMode[1] = 0;
    surface = 0;
    dragging = 0;
    selCtl = kNone;
    upFirst = nHalf + 2;
    upLast = n - 4;
    upMark = (n + nHalf) / 2 - 1;
    loFirst = 3;
    loLast = nHalf - 3;
    loMark = (nHalf + 2) / 2 - 1;
    for (auto& row : ctlX) row[0] = row[1] = 0.0;
    for (auto& row : ctlCp) row[0] = row[1] = 0.0;
    ready = 1;
    return true;
}

void CpEditor::selectSurface(int s) {
    s = s == 0 ? 0 : 1;
    // A control point picked on one surface is not one of the other's: a
    // drag there must not move the point of the same number.
    if (s != surface) selCtl = kNone;
    surface = s;
}

void CpEditor::setCorrection(int s, int mode) {
    selectSurface(s);
    corrMode[surface] = mode == 0 ? 0 : 1;
    if (corrMode[surface] == 0) {
        for (int m = surfaceFirst(surface); m <= surfaceLast(surface); ++m) cpDes[m] = cpCur[m];
    }
}

void CpEditor::boundRange(int which, int& lo, int& hi) const {
    switch (which) {
        case 0:  // "U1="
            lo = nHalf + 2;
            hi = upLast;
            break;
        case 1:  // "U2="
            lo = upFirst;
            hi = nFaces - 4;
            break;
        case 2:  // "L1="
            lo = 3;
            hi = loLast;
            break;
        default:  // "L2="
            lo = loFirst;
            hi = nHalf - 3;
            break;
    }
}

void CpEditor::restoreOutside(int s) {
    // The faces outside the stretch and its two end faces keep the current
    // Cp: the edited piece joins the computed distribution at both ends.
    if (s == 0) {
        for (int m = nHalf; m <= upFirst; ++m) cpDes[m] = cpCur[m];
        for (int m = upLast; m <= nFaces - 1; ++m) cpDes[m] = cpCur[m];
    } else {
        for (int m = 0; m <= loFirst; ++m) cpDes[m] = cpCur[m];
        for (int m = loLast; m <= nHalf - 1; ++m) cpDes[m] = cpCur[m];
    }
}

void CpEditor::setBound(int which, int value) {
    if (!ready) return;
    int lo = 0, hi = 0;
    boundRange(which, lo, hi);
    value = std::clamp(value, lo, hi);
    surface = which < 2 ? 0 : 1;
    switch (which) {
        case 0:
            upFirst = value;
            break;
        case 1:
            upLast = value;
            break;
        case 2:
            loFirst = value;
            break;
        default:
            loLast = value;
            break;
    }
    upMark = std::clamp(upMark, upFirst, upLast);
    loMark = std::clamp(loMark, loFirst, loLast);
    restoreOutside(surface);
    if (splineOn[surface]) {
        placeControlPoints(surface);
        interpolateStretch(surface);
    }
}

void CpEditor::setSpline(bool on) {
    splineOn[surface] = on ? 1 : 0;
    if (on && ready) {
        placeControlPoints(surface);
        interpolateStretch(surface);
    }
}

int CpEditor::setControlPointCount(int n) {
    n = std::clamp(n, kMinControlPoints, kMaxControlPoints);
    nSpl[surface] = n;
    if (splineOn[surface] && ready) {
        placeControlPoints(surface);
        interpolateStretch(surface);
    }
    return n;
}

void CpEditor::placeControlPoints(int s) {
    if (!ready) return;
    const int n = nSpl[s];
    double a, b, ya, yb;
    if (s == 0) {
        a = xMid[upFirst - 1];
        b = xMid[upLast + 1];
        ya = cpDes[upFirst - 1];
        yb = cpDes[upLast + 1];
    } else {
        a = xMid[loLast + 1];
        b = xMid[loFirst - 1];
        ya = cpDes[loLast + 1];
        yb = cpDes[loFirst - 1];
    }
    const double step = (b - a) / (n - 1);
    for (int c = 1; c <= n - 2; ++c) {
        const double x = a + step * c;
        ctlX[c][s] = x;
        // Cp read off the edited distribution, linearly between faces; the
        // last interval that holds x counts, none leaves the value alone.
        if (s == 0) {
            for (int i = nHalf; i <= nFaces - 2; ++i) {
                if (xMid[i] < x && x <= xMid[i + 1]) {
                    ctlCp[c][s] = cpDes[i] + (cpDes[i + 1] - cpDes[i]) * (x - xMid[i]) /
                                                 (xMid[i + 1] - xMid[i]);
                }
            }
        } else {
            for (int i = 1; i <= nHalf - 1; ++i) {
                if (xMid[i] < x && x <= xMid[i - 1]) {
                    ctlCp[c][s] = cpDes[i - 1] + (cpDes[i - 1] - cpDes[i]) * (x - xMid[i - 1]) /
                                                     (xMid[i - 1] - xMid[i]);
                }
            }
        }
    }
    ctlX[0][s] = a;
    ctlCp[0][s] = ya;
    ctlX[n - 1][s] = b;
    ctlCp[n - 1][s] = yb;
}

InterpFault CpEditor::interpolateStretch(int s) {
    if (!ready) return InterpFault::TooFewPoints;
    // Abscissae in increasing chord order: the upper stretch runs with the
    // chord in editor order, the lower one against it.
    const int first = s == 0 ? upFirst : loFirst;
    const int last = s == 0 ? upLast : loLast;
    const int count = last - first + 1;
    for (int q = 0; q < count; ++q) workX_[q] = xMid[s == 0 ? first + q : last - q];

    // Control points as columns of the 21 x 2 table.
    const int n = nSpl[s];
    double cx[kMaxControlPoints], cy[kMaxControlPoints];
    for (int c = 0; c < n; ++c) {
        cx[c] = ctlX[c][s];
        cy[c] = ctlCp[c][s];
    }
    const InterpFault fault = akimaQuiet(n, cx, cy, count, workX_.data(), workCp_.data());
    // On a fault (control points dragged out of order) the stretch keeps
    // what it had.
    if (fault != InterpFault::None) return fault;
    for (int q = 0; q < count; ++q) cpDes[s == 0 ? first + q : last - q] = workCp_[q];
    return fault;
}

bool CpEditor::pointerMoved(double x, double cp) {
    ptrX = x;
    ptrCp = cp;
    if (!ready || dragging != 1 || splineOn[surface] != 1) return false;
    const int n = nSpl[surface];
    // A selection made with more control points (or on the other surface)
    // may no longer name an interior point: it moves nothing then.
    const int sel = selCtl;
    if (sel < 1 || sel > n - 2) return false;
    const double xl = ctlX[sel - 1][surface];
    const double xr = ctlX[sel + 1][surface];
    if (ptrX < xl + minGap) {
        ctlX[sel][surface] = xl + minGap;
    } else {
        ctlX[sel][surface] = std::min(ptrX, xr - minGap);
    }
    ctlCp[sel][surface] = ptrCp;
    interpolateStretch(surface);
    return true;
}

bool CpEditor::press(int W, int H) {
    dragging = 1;
    if (!ready || splineOn[surface] != 1 || W <= 0 || H <= 0) return false;
    const int n = nSpl[surface];
    if (n <= 2) return false;
    const double cpTol = 0.01 * W / H;
    for (int c = 1; c <= n - 2; ++c) {
        if (std::fabs(ptrX - ctlX[c][surface]) < 0.01 &&
            std::fabs(ptrCp - ctlCp[c][surface]) < cpTol) {
            selCtl = c;
            return true;
        }
    }
    return false;
}

void CpEditor::loadTarget(const CpTable& table) {
    if (!ready) return;
    tableOnFaces(table, nFaces, xMid.data(), cpDes.data());
    for (int s = 0; s < 2; ++s) {
        if (splineOn[s]) placeControlPoints(s);
    }
}

CpTable CpEditor::targetTable() const {
    CpTable t;
    for (int m = nFaces - 1; m >= 0; --m) {
        t.x.push_back(xMid[m]);
        t.cp.push_back(cpDes[m]);
        t.line.push_back(0);
    }
    return t;
}

double CpEditor::scaleCpMin() const {
    double v = cpCur[1];
    for (int m = 3; m <= nFaces - 1; ++m) v = std::min(v, cpCur[m]);
    return v;
}

int CpEditor::sonicIndex(double cpStar) const {
    for (int m = nFaces - 1; m >= 3; --m) {
        if ((cpCur[m - 1] - cpStar) * (cpCur[m] - cpStar) < 0.0) return m;
    }
    return nFaces;
}

void CpEditor::writeTarget(double* cps) const {
    for (int m = 0; m < nFaces; ++m) cps[faceIndex(m)] = cpDes[m];
}

double CpEditor::lift(const std::vector<double>& values, double cu, double su,
                      double cosSweep) const {
    std::vector<double> f(static_cast<std::size_t>(nx_) + 1, 0.0);
    for (int m = 0; m < nFaces; ++m) f[faceIndex(m)] = values[m];
    return integratedLift(nx_, k_, f.data(), xNode_.data(), yNode_.data(), cu, su, cosSweep);
}

double CpEditor::liftCurrent(double cu, double su, double cosSweep) const {
    return ready ? lift(cpCur, cu, su, cosSweep) : 0.0;
}

double CpEditor::liftEdited(double cu, double su, double cosSweep) const {
    return ready ? lift(cpDes, cu, su, cosSweep) : 0.0;
}

bool CpEditor::loadedFrom(int NX, int k, const double* cpf) const {
    if (!ready || NX != nx_ || k != k_) return false;
    for (int m = 0; m < nFaces; ++m) {
        if (cpf[faceIndex(m)] != cpCur[m]) return false;
    }
    return true;
}

}  // namespace quarel
