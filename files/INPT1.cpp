// Input and restart readers: the input geometry file of a job, and the
// restart (.ptl) and Cp (.cp) files of the preceding analysis for a design
// run.
//
// Both readers first read and check everything into local storage and
// only then write their outputs, so a file that is missing, short or
// damaged leaves the program's state exactly as it was.
#include "INPT1.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "SRV11.h"
#include "constants.h"
#include "fixedformat.h"
#include "message.h"

namespace quarel {

std::string nameOf(const char* field, int fieldSize) {
    int limit = fieldSize < kNameField ? fieldSize : kNameField;
    int n = 0;
    while (n < limit && field[n] != '\0') ++n;
    // A name field is blank-padded like any character field: trailing
    // blanks are not part of the path.
    while (n > 0 && field[n - 1] == ' ') --n;
    return std::string(field, static_cast<size_t>(n));
}

namespace {

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

// Sequential reader of the lines of a text file, with messages that name
// the file and the line.
class LineReader {
public:
    LineReader(const std::string& name, const std::string& kind) : name_(name), kind_(kind) {
        errno = 0;
        in_.open(name, std::ios::in | std::ios::binary);
        if (!in_) {
            int err = errno;
            throw FileError("Cannot open " + kind_ + quoted(name_) + ": " +
                            (err ? std::strerror(err) : "cannot be opened"));
        }
    }

    // The next line, without its line end.
    const std::string& next() {
        ++lineNo_;
        if (!std::getline(in_, line_)) {
            if (in_.bad()) fail("the file cannot be read");
            fail("the file ends before this line");
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        return line_;
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw FileError("Cannot read " + kind_ + quoted(name_) + ", line " +
                        std::to_string(lineNo_) + ": " + why);
    }

    // Error for the field of `width` columns that starts at `column` (1-based).
    [[noreturn]] void badField(int column, int width, const std::string& why) const {
        int field = (column - 1) / width + 1;
        std::string text;
        if (static_cast<size_t>(column - 1) < line_.size())
            text = line_.substr(static_cast<size_t>(column - 1), static_cast<size_t>(width));
        fail("field " + std::to_string(field) + " (columns " + std::to_string(column) + "-" +
             std::to_string(column + width - 1) + ") " + why + ": " + quoted(trimmed(text)));
    }

    // `count` double-precision fields of `width` columns with `d` implied
    // decimals from the next line.
    std::vector<double> doubles(int count, int width, int d) {
        next();
        std::vector<double> v;
        int bad = 0;
        if (!ff::readReals(list(count, width, d), line_, count, v, bad))
            badField(bad, width, "is not a number");
        return v;
    }

    // The same fields read as single-precision reals.
    std::vector<float> singles(int count, int width, int d) {
        next();
        std::vector<float> v;
        int bad = 0;
        if (!ff::readReals(list(count, width, d), line_, count, v, bad))
            badField(bad, width, "is not a number");
        return v;
    }

    // Single-precision fields truncated toward zero to integers.
    std::vector<int> integers(int count, int width, int d) {
        std::vector<float> f = singles(count, width, d);
        std::vector<int> v;
        for (int n = 0; n < count; ++n) {
            float x = f[static_cast<size_t>(n)];
            if (!(x < 2147483648.0f && x >= -2147483648.0f))
                badField(n * width + 1, width, "is too large for an integer");
            v.push_back(static_cast<int>(x));
        }
        return v;
    }

    int lineNo() const { return lineNo_; }

private:
    static std::string list(int count, int width, int d) {
        return "(" + std::to_string(count) + "f" + std::to_string(width) + "." + std::to_string(d) +
               ")";
    }

    std::ifstream in_;
    std::string name_;
    std::string kind_;
    std::string line_;
    int lineNo_ = 0;
};

}  // namespace

void ReadGeom(FileNames& names, double& mach, double& alpha, double& gamma, double& sweepRad,
              double& diagFactor, double& maxResidual, int& npa, int& NY, int& k, int& gridStep,
              int& linearIterations, int& gmresDim, int& liftCorrection, int& designRegime,
              double& designLeadBoundary, int& designMode, int& NCONT, ContourInput& XCONT,
              ContourInput& YCONT, GrowthRatios& DSGRID) {
    LineReader in(nameOf(names.inputName, sizeof names.inputName), "");

    // Line 1: the title, first 80 characters without trailing blanks.
    std::string title = in.next().substr(0, 80);
    while (!title.empty() && title.back() == ' ') title.pop_back();

    in.next();
    std::vector<double> flow = in.doubles(3, 10, 5);  // Mach, alpha, sweep
    in.next();
    std::vector<double> conv = in.doubles(3, 10, 5);  // diag. dominance, residual, design LE
    in.next();
    std::vector<int> grid = in.integers(4, 10, 5);  // NPA, NCO, NBH, Kgrid
    in.next();
    std::vector<int> solver = in.integers(4, 10, 5);  // linear its, GMRES, lift corr, regime
    in.next();
    std::vector<int> layout = in.integers(2, 10, 5);  // layout code, point count
    in.next();

    const bool commonAbscissa = layout[0] == 1;
    const int n = layout[1];
    const int countLine = in.lineNo() - 1;
    if (commonAbscissa && n > kMaxCommonAbscissa) {
        throw FileError("Cannot read " + quoted(nameOf(names.inputName, sizeof names.inputName)) +
                        ", line " + std::to_string(countLine) + ": " + std::to_string(n) +
                        " contour lines in the common-abscissa layout; at most " +
                        std::to_string(kMaxCommonAbscissa) + " fit");
    }
    if (!commonAbscissa && n > kMaxContour) {
        throw FileError("Cannot read " + quoted(nameOf(names.inputName, sizeof names.inputName)) +
                        ", line " + std::to_string(countLine) + ": " + std::to_string(n) +
                        " contour points; at most " + std::to_string(kMaxContour) + " fit");
    }

    // Contour points, index 1..ncont.
    std::vector<double> x(kMaxContour + 1, 0.0), y(kMaxContour + 1, 0.0);
    int ncont;
    if (commonAbscissa) {
        // Lines run from the leading edge (1) to the trailing edge (n); line
        // m becomes point n-m+1 on the y1 side and point n+m-1 on the y2
        // side, so the contour runs TE -> y1 side -> LE -> y2 side -> TE.
        for (int m = 1; m <= n; ++m) {
            std::vector<float> p = in.singles(3, 10, 5);
            x[static_cast<size_t>(n - m + 1)] = p[0];
            y[static_cast<size_t>(n - m + 1)] = p[1];
            if (m > 1) {
                x[static_cast<size_t>(n + m - 1)] = p[0];
                y[static_cast<size_t>(n + m - 1)] = p[2];
            }
        }
        ncont = 2 * n - 1;
    } else {
        for (int m = 1; m <= n; ++m) {
            std::vector<double> p = in.doubles(2, 10, 5);
            x[static_cast<size_t>(m)] = p[0];
            y[static_cast<size_t>(m)] = p[1];
        }
        ncont = n;
    }
    in.next();
    std::vector<double> ratios = in.doubles(7, 5, 3);

    // Everything is read: store it.
    std::memset(names.title, 0, sizeof names.title);
    std::memcpy(names.title, title.data(), title.size());
    names.titleLen = static_cast<int32_t>(title.size()) + 1;

    mach = flow[0];
    alpha = flow[1];
    sweepRad = flow[2];
    diagFactor = conv[0];
    maxResidual = conv[1];
    designLeadBoundary = conv[2];
    npa = grid[0];
    NY = grid[1];
    k = grid[2];
    gridStep = grid[3];
    linearIterations = solver[0];
    gmresDim = solver[1];
    liftCorrection = solver[2];
    designRegime = solver[3];
    gamma = kGammaSingle;
    designMode = 0;
    NCONT = ncont;
    for (int m = 1; m <= ncont; ++m) {
        XCONT(m) = x[static_cast<size_t>(m)];
        YCONT(m) = y[static_cast<size_t>(m)];
    }
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    for (int m = 0; m < 7; ++m) DSGRID(entries[m]) = ratios[static_cast<size_t>(m)];
}

namespace {

// One 8-byte record of the restart file: little-endian length markers
// around a little-endian IEEE double.
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double leDouble(const unsigned char* p) {
    uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = bits << 8 | p[b];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

int counter(double v, const std::string& name, int record) {
    if (!(std::fabs(v) < 2147483648.0))
        throw FileError("Cannot read restart file " + quoted(name) + ": record " +
                        std::to_string(record) + " holds no iteration count");
    return static_cast<int>(v);
}

}  // namespace

void ReadRestart(const FileNames& names, const int& NY, const int& NX, const int& k, int& iterCount,
                 int& iterTotal, int& designEnd, const double& designLeadBoundary, const double& cu,
                 const double& su, const double& cosSweep, double& designLift) {
    if (NX < 0 || NX > kMaxNX || NY < 1 || NY > kMaxNY || k < 0 || 2 * k > NX)
        throw ParameterError("Restart: grid " + std::to_string(NX) + " x " + std::to_string(NY) +
                             " with trailing edge at " + std::to_string(k) +
                             " does not fit the solver arrays");

    // 1. The restart file: three counters and (NX+1)*NY potential values.
    const std::string ptl = nameOf(names.ptlName, sizeof names.ptlName);
    errno = 0;
    std::ifstream in(ptl, std::ios::in | std::ios::binary);
    if (!in) {
        int err = errno;
        throw FileError("Cannot open restart file " + quoted(ptl) + ": " +
                        (err ? std::strerror(err) : "cannot be opened"));
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (in.bad()) throw FileError("Cannot read restart file " + quoted(ptl));
    in.close();
    const long needed = 3L + static_cast<long>(NX + 1) * NY;
    const long present = static_cast<long>(bytes.size() / 16);
    // The analysis writes exactly the records of its grid: a longer file
    // comes from another grid and would be read out of step.
    if (present != needed)
        throw FileError("Cannot read restart file " + quoted(ptl) + ": it holds " +
                        std::to_string(present) + " records, the grid " + std::to_string(NX) +
                        " x " + std::to_string(NY) + " needs " + std::to_string(needed) +
                        " (it was not written for this grid)");
    std::vector<double> values(static_cast<size_t>(needed));
    for (long r = 0; r < needed; ++r) {
        const unsigned char* p = bytes.data() + 16 * r;
        if (le32(p) != 8 || le32(p + 12) != 8)
            throw FileError("Cannot read restart file " + quoted(ptl) + ": record " +
                            std::to_string(r + 1) +
                            " is not an 8-byte record (the file is damaged)");
        values[static_cast<size_t>(r)] = leDouble(p + 4);
    }
    const int count = counter(values[0], ptl, 1);
    const int total = counter(values[1], ptl, 2);

    // 2. The Cp file must hold at least its header, coordinates and the
    // second caption (the target Cp itself comes from memory).
    const std::string cpn = nameOf(names.cpName, sizeof names.cpName);
    {
        LineReader cp(cpn, "Cp file ");
        const int lines = NX - 2 * k + 5;
        for (int n = 0; n < lines; ++n) cp.next();
    }

    // Everything is checked: store the potential and the counters.
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            double v = values[static_cast<size_t>(3 + (NX + 1) * (j - 1) + i)];
            phi(i, j) = v;
            phis(i, j) = v;
        }
    }
    iterCount = count;
    iterTotal = total;

    // First design column: the upper-surface node with
    // x(s) <= leading boundary < x(s-1); x falls from the trailing edge to
    // the leading edge.
    for (int s = k > 1 ? k : 1; s <= NX / 2; ++s) {
        if (xg(s, 1) <= designLeadBoundary && designLeadBoundary < xg(s - 1, 1)) {
            designEnd = s;
            break;
        }
    }

    // Lift of the target distribution: the pressure force on the surface
    // panels, turned into the lift direction of the normal section.
    designLift = IntegratedLift(cps.data(), k, NX, cu, su, cosSweep);

    // The diagnostic file of design runs: created empty.
    if (std::FILE* f = std::fopen("coef.out", "w")) {
        std::fclose(f);
    } else {
        msg::warning(std::string("Cannot create \"coef.out\": ") + std::strerror(errno));
    }
}

}  // namespace quarel
