// The target pressure distribution for inverse design and the arithmetic
// of the Cp editor: plain C++ without any toolkit, shared by the editor
// dialog, the batch design run and the tests.
//
// Editor order.  The editor works on the N = NX - 2k faces of the body.
// Editor index m = 0 .. N-1 stands for the body face i = NX - k - 1 - m
// (between contour nodes i and i+1 on line 1), the reverse of the contour
// order: m = 0 .. N/2-1 is the lower surface from its trailing edge to the
// leading edge, m = N/2 .. N-1 the upper surface from the leading edge to
// its trailing edge.
//
// Surfaces are numbered as the editor labels them: 0 upper, 1 lower.
#pragma once

#include <string>
#include <vector>

namespace quarel {

// ---- Plot scale ---------------------------------------------------------

// The Cp axis of the editor's plot: Cp = cpTop at the top, cpTop + cpSpan
// = 0.5 at the bottom, horizontal grid lines at cpTop + 0.1 j for
// j = 0 .. nGridLines.
struct CpScale {
    double cpTop;
    double cpSpan;
    int nGridLines;
};

// Scale row for the most negative Cp of the data (strict tests: a value on
// a threshold falls to the next row).
CpScale cpScaleFor(double cpMin);

// Critical pressure coefficient of the free stream (ratio of specific
// heats 1.4); -67 (far off the plot) below Mach 0.0999.
double criticalCp(double mach);

// Pixel mapping of the plot: pixel column px = (x - x0)*sx, pixel row
// py = (Cp - cp0)*sy, truncated toward zero.
struct PlotMapping {
    double x0 = -0.1, cp0 = 0.0, sx = 1.0, sy = 1.0;
    int px(double x) const { return static_cast<int>((x - x0) * sx); }
    int py(double cp) const { return static_cast<int>((cp - cp0) * sy); }
    double xAt(int column) const { return column / sx + x0; }
    double cpAt(int row) const { return row / sy + cp0; }
};

// Mapping of a W x H canvas for the given scale: the chord 0 .. 1 from
// 0.1 to 1.1 of 0.89 W, the scale's span over 0.98 H.
PlotMapping plotMapping(int W, int H, const CpScale& scale);

// ---- Quiet Akima interpolation ----------------------------------------------

// Result of an interpolation of the editor.
enum class InterpFault { None, TooFewPoints, NoOutputPoints, OutOfSequence, IdenticalX };

// Akima's interpolation (the grid generator's AkimaInterp) through
// X[0..L-1], Y[0..L-1] at U[0..N-1] into V[0..N-1], without any console
// report: a fault is returned and V is left untouched.
InterpFault akimaQuiet(int L, const double* X, const double* Y, int N, const double* U, double* V);

// ---- Lift --------------------------------------------------------------------

// Integrated lift of a surface distribution f in contour order (f[i] on
// face i, i = k .. NX-k-1) over the body nodes x[i], y[i] (line 1):
// (cu Sx + su Sy)/cosSweep with Sx = sum f (x[i+1]-x[i]) and
// Sy = sum f (y[i+1]-y[i]).
double integratedLift(int NX, int k, const double* f, const double* x, const double* y, double cu,
                      double su, double cosSweep);

// ---- Target file -------------------------------------------------------------

// A target pressure distribution read from a file: the points (x, Cp) in
// file order, from the upper trailing edge round the leading edge to the
// lower trailing edge, with the file line of each point.
struct CpTable {
    std::vector<double> x, cp;
    std::vector<int> line;
    bool fromCpFile = false;  // read from a Cp file of an analysis
};

// Reads a target distribution.  Two layouts are understood:
//  - the Cp file written after every analysis (title, count, coordinates,
//    then "xc CpFact CpSpec" per face): the computed Cp of that analysis,
//    CpFact, is taken as the target;
//  - a plain table of two numbers x, Cp per line, blank lines and lines
//    starting with '#' ignored (the layout writeCpTable writes).
// Both must run round the section from the upper trailing edge: x falls
// to the leading edge (the smallest x) and rises again, every x within the
// chord (0 .. 1, with 0.005 of slack), at least three points on each
// surface.  Throws FileError naming the file, the line and the cause.
CpTable readCpTable(const std::string& path);

// Writes the plain table: a comment line with the title, then "x Cp" per
// point.  Throws FileError when the file cannot be written.
void writeCpTable(const std::string& path, const std::string& title, const CpTable& table);

// The table's Cp at chord position x on surface s (0 upper, 1 lower):
// linear between the table points of that surface, the end value beyond
// the table's ends.
double tableCpAt(const CpTable& table, int surface, double x);

// Fills the target cps(i) of the body faces i = k .. NX-k-1 from the
// table at the face midpoints of the nodes x[i] (line 1), the faces
// i <= NX-k-1-N/2 from the upper surface.  A table of one point per face
// at the face midpoints (the Cp file of an analysis on the same grid, or
// a table saved by the editor) is taken face by face, any other table is
// interpolated linearly.  The other entries of cps are not touched.  For
// the batch design run.
void targetFromTable(const CpTable& table, int NX, int k, const double* x, double* cps);

// ---- The editor ----------------------------------------------------------------

// The data and the commands of the Cp editor, without its widgets.  The
// dialog turns its controls' messages into these calls and draws what
// they leave; every call keeps the data consistent on its own.
class CpEditor {
public:
    static constexpr int kMaxControlPoints = 21;
    static constexpr int kMinControlPoints = 2;
    static constexpr double kMinGap = 0.001;  // least chord distance of neighbouring control points
    static constexpr int kNone = -1;          // no control point selected

    // Loads the computed Cp of the last analysis: NX, k of the grid, the
    // body nodes x[i], y[i] of line 1 (i = 0 .. NX) and the face Cp cpf[i].
    // Returns false, and stays unloaded (ready = 0), when the grid is too
    // small for the editor's stretches (N < 12), k < 1 or NX > 500.
    bool load(int NX, int k, const double* x, const double* y, const double* cpf);

    // ---- Commands ---------------------------------------------------------
    // "Upper surface" / "Lower surface".  Changing the surface ends the
    // selection of a control point.
    void selectSurface(int s);
    // "No correction" (mode 0: the surface's edited Cp back to the current
    // one) or "Cp correction" (mode 1) of surface s; the surface becomes
    // the current one.
    void setCorrection(int s, int mode);
    // Stretch bounds: which = 0 "U1=" (upFirst), 1 "U2=" (upLast), 2 "L1="
    // (loFirst), 3 "L2=" (loLast).  The value is kept within the bound's
    // range; the mark follows into the stretch; faces outside the stretch
    // and its end faces get the current Cp again; with spline editing on,
    // the control points are placed again and the stretch interpolated.
    void setBound(int which, int value);
    // "Spl.interp." of the current surface.
    void setSpline(bool on);
    // "Nspl=": the number of control points of the current surface, kept
    // within 2 .. 21.  Returns the value used.
    int setControlPointCount(int n);
    // Replaces the edited Cp of both surfaces by a target table (as
    // targetFromTable does); control points that are on are placed again.
    void loadTarget(const CpTable& table);
    // The edited distribution as a table in contour order.
    CpTable targetTable() const;

    // ---- Pointer ----------------------------------------------------------------
    // Pointer motion to (x, Cp) in plot units.  Returns true when a drag
    // moved a control point (the stretch was interpolated again).
    bool pointerMoved(double x, double cp);
    // Left button press at the last pointer position on a W x H plot;
    // returns true when it selected an interior control point.
    bool press(int W, int H);
    void release() { dragging = 0; }

    // ---- Spline editing ------------------------------------------------------------
    // Places the nSpl[s] control points evenly over the span of surface s's
    // stretch (the faces just outside it), their Cp read off the edited
    // distribution.
    void placeControlPoints(int s);
    // Akima interpolation of the stretch of surface s through its control
    // points.  On a fault the stretch keeps its edited values and the fault
    // is returned.
    InterpFault interpolateStretch(int s);

    // ---- Plot data ----------------------------------------------------------------
    // Smallest of cpCur[1] and cpCur[3 .. N-1].
    double scaleCpMin() const;
    // Largest m in N-1 .. 3 where the current Cp crosses cpStar between
    // faces m-1 and m; N when it does not cross.
    int sonicIndex(double cpStar) const;
    // Editor index where the sonic line starts: sonicIndex - 4, but never
    // before the first face.
    static int sonicLineStart(int sonic) { return sonic - 4 < 0 ? 0 : sonic - 4; }
    // Editor index range of surface s: [first, last].
    int surfaceFirst(int s) const { return s == 0 ? nHalf : 0; }
    int surfaceLast(int s) const { return s == 0 ? nFaces - 1 : nHalf - 1; }
    int stretchFirst(int s) const { return s == 0 ? upFirst : loFirst; }
    int stretchLast(int s) const { return s == 0 ? upLast : loLast; }
    int mark(int s) const { return s == 0 ? upMark : loMark; }
    // Range of a bound spinner (which as for setBound).
    void boundRange(int which, int& lo, int& hi) const;

    // ---- Hand-over ------------------------------------------------------------------
    // Contour index of editor face m.
    int faceIndex(int m) const { return nx_ - k_ - 1 - m; }
    // cps(NX-k-1-m) = cpDes[m] for m = 0 .. N-1; nothing else is written.
    void writeTarget(double* cps) const;
    // Lift of the current and of the edited distribution over the body
    // nodes of the load.
    double liftCurrent(double cu, double su, double cosSweep) const;
    double liftEdited(double cu, double su, double cosSweep) const;
    // True when the editor was loaded from this grid size and this computed
    // Cp (the analysis it shows is still the last one).
    bool loadedFrom(int NX, int k, const double* cpf) const;

    int gridNX() const { return nx_; }
    int gridK() const { return k_; }

    // ---- State (the names of the editor's fields) ---------------------------------
    int nFaces = 0;
    int nHalf = 0;
    std::vector<double> xMid;   // [N+1] face midpoints; xMid[N] the wake face beyond node k
    std::vector<double> cpCur;  // [N] computed Cp
    std::vector<double> cpDes;  // [N] edited Cp
    int surface = 0;
    int corrMode[2] = {1, 0};
    int splineOn[2] = {0, 0};
    int nSpl[2] = {8, 8};
    int upFirst = 0, upLast = 0, loFirst = 0, loLast = 0;
    int upMark = 0, loMark = 0;
    double ctlX[kMaxControlPoints][2] = {};
    double ctlCp[kMaxControlPoints][2] = {};
    int selCtl = kNone;
    int dragging = 0;
    double ptrX = 0.0, ptrCp = 0.0;
    int ready = 0;
    double minGap = kMinGap;

private:
    void restoreOutside(int s);
    double lift(const std::vector<double>& editorValues, double cu, double su,
                double cosSweep) const;

    int nx_ = 0, k_ = 0;
    std::vector<double> xNode_, yNode_;  // body nodes i = 0 .. NX of the load
    // Work arrays of one interpolation, as long as the longest stretch.
    std::vector<double> workX_, workCp_;
};

}  // namespace quarel
