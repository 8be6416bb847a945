// C-grid generation.
//
// The grid is built in the plane of the square-root transformation
// w = sqrt((z - x0)/(1 - x0)), which opens the section into a nearly flat
// slit along the real axis and the wake cut into the rest of that axis.
// There a sheared, stretched mesh is laid out: 13 station columns get
// geometric normal spacings, the other columns are interpolated between
// them line by line, and the surface offset is added on top.  Squaring
// back gives a smooth C-grid that wraps round the section and follows
// both sides of the wake cut.  Where the interpolation between the
// stations makes two lines cross, those lines are interpolated again with
// monotone slopes (repairFolds); every other grid is left as built.
#include "CGRD1.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "SRV21.h"
#include "file_replace.h"
#include "fixedformat.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

constexpr int kStations = 13;
constexpr int kLineWork = 500;                           // points of the per-line interpolation
constexpr double kInvSqrt2 = 0.70710677;                 // 1/sqrt 2, single precision
constexpr double kSqrt7 = 2.6457513110645907;            // radius of the far circle
constexpr double kTwoSqrt2 = 2.8284271247461903;         // half width of the far boundary
constexpr double kTwoPi = 6.2831855;                     // single precision
constexpr double kHalfPi = 1.5707963705062866;           // single precision
constexpr double kXiExponent = 1.39999997615814;         // 1.4 in single precision
constexpr double kSumTolerance = 0.0010000000474974513;  // 0.001 in single precision

// 1 + r + ... + r^(n-1).
double geometricSum(double r, int n) {
    double s = 0.0, p = 1.0;
    for (int m = 0; m < n; ++m) {
        s += p;
        p *= r;
    }
    return s;
}

// Twice the signed area of cell (i, j) from its diagonals: negative for a
// sound cell (i runs clockwise round the section, j outward).
inline double cellArea(int i, int j) {
    return (xg(i + 1, j + 1) - xg(i, j)) * (yg(i, j + 1) - yg(i + 1, j)) -
           (yg(i + 1, j + 1) - yg(i, j)) * (xg(i, j + 1) - xg(i + 1, j));
}

// Lines over which a repaired slope blends back into Akima's slope on
// either side of the repaired lines, so that the normal spacing keeps
// varying smoothly from line to line.
constexpr int kRepairTaper = 3;

void writeListing(const int& NX, const int& NY) {
    std::string text = ff::format("(8h NXGRID=,i4,10h   NYGRID=,i4)", {NX, NY - 1});
    text += '\n';
    text.reserve(static_cast<size_t>(NY) * static_cast<size_t>(NX + 2) * 36);
    for (int j = 1; j <= NY - 1; ++j) {
        text += ff::format("(5h    i,10x,1hx,14x,1hy,12h      JGRID=,i4)", {j});
        text += '\n';
        for (int i = 0; i <= NX; ++i) {
            // "(i5,2e15.6)", built field by field: this is the bulk of the file.
            text += ff::fmtI(i, 5);
            text += ff::fmtE(xg(i, j), 15, 6);
            text += ff::fmtE(yg(i, j), 15, 6);
            text += '\n';
        }
    }
    // Replaced whole, so that a kill or another run in the same directory
    // never leaves a listing cut short.  The listing is for the user's
    // inspection only; the grid itself is complete, so the command goes on
    // and the user is told.
    try {
        ReplaceFile("grid.out", text, "the grid listing", false);
    } catch (const FileError& e) {
        msg::warning(std::string(e.what()) + ".");
    }
}

// One grid generation: the phases of the construction and the work
// arrays they share (the transformed plane is kept for a repair).  Made on
// the heap for each grid: the planes are the size of a grid array.
class GridBuilder {
public:
    GridBuilder(int NY, int k, int npa, double x0, const GridOptions& options)
        : NY_(NY),
          k_(k),
          npa_(npa),
          NX_(npa + 2 * k),
          mid_((npa + 2 * k) / 2),
          x0_(x0),
          // The boundary of the input file's grid at the scale 1 (a factor
          // 1.0 leaves every product exact, so that grid is unchanged).
          scale_(options.farBoundary / 7.0),
          root_(std::sqrt(scale_)),
          repair_(options.repairFolds),
          listing_(options.listing) {}

    // The steps of the construction; returns the fault count of GridGen.
    int build(GrowthRatios& DSGRID) {
        placeSurface();
        farBoundary();
        stationHeights(DSGRID);
        wakeCut();
        openSurface();
        stationColumns(DSGRID);
        interiorLines();
        // 10-13. Surface offset, back to the physical plane, the cut offset
        // and bent.  The transformed plane is kept for a repair.
        for (int j = 1; j <= NY_; ++j)
            for (int i = 0; i <= NX_; ++i) {
                xiPlane_(i, j) = xg(i, j);
                etaPlane_(i, j) = yg(i, j);
            }
        toPhysicalPlane();
        if (repair_ && faults_ == 0) repairConstructionFolds();
        // 14. Listing.
        if (listing_) writeListing(NX_, NY_);
        reportFolds();
        return faults_;
    }

private:
    void placeSurface();
    void farBoundary();
    void stationHeights(GrowthRatios& DSGRID);
    void wakeCut();
    void openSurface();
    void stationColumns(const GrowthRatios& DSGRID);
    void interiorLines();
    void toPhysicalPlane();
    void bendCut();
    void repairConstructionFolds();
    bool repairFolds(int& lines);
    bool monotoneLine(int j);
    void reportFolds();

    const int NY_, k_, npa_, NX_, mid_;
    const double x0_, scale_, root_;
    const bool repair_;
    const bool listing_;
    int ib_[kStations + 1] = {};     // station columns (1..13)
    double hs_[kStations + 1] = {};  // first-cell heights of the stations
    double dsTE_ = 0.0;              // chordwise length of the first surface interval
    int faults_ = 0;
    double etaBody_[kMaxNX + 1] = {};  // surface offset eta_b(i) in the transformed plane
    double lineEta_[kLineWork] = {};   // result of the per-line interpolation
    double lineXi_[kLineWork] = {};    // abscissae of one line
    // The transformed plane as the construction left it after the per-line
    // interpolation (xi, and eta without the surface offset), and the eta
    // of a repair in progress.
    GridArray xiPlane_, etaPlane_, etaRepair_;
    // repairFlag_[j][p]: the slope of line j at its p-th station point (in
    // increasing xi) is made monotone.
    bool repairFlag_[kMaxNY + 1][kStations] = {};
};

// 1-2. Chordwise length of the first surface interval; move the surface
// points to their columns k .. k+npa.
void GridBuilder::placeSurface() {
    const int k = k_, npa = npa_;
    dsTE_ = std::fabs(xg(1, 1) - xg(2, 1));
    for (int i = npa + 1; i >= 1; --i) {
        xg(i + k - 1, 1) = xg(i, 1);
        yg(i + k - 1, 1) = yg(i, 1);
    }
}

// 3. Far boundary of the transformed plane (xg holds xi, yg eta until
// step 11): a circle of radius sqrt 7 continued by hyperbolae.
void GridBuilder::farBoundary() {
    const int NX = NX_, NY = NY_, mid = mid_;
    for (int i = 0; i <= NX; ++i) {
        xg(i, NY) = (mid - i) * (kTwoSqrt2 * root_) / mid;
        yg(i, NY) = OuterEta(xg(i, NY), kSqrt7 * root_);
    }
}

// 4. Station columns and their first-cell heights.  The user's ratios
// fix the heights at stations 1, 4, 6, 7, 8, 10, 13; each neighbour of
// the trailing edge and of the cut ends shares the height of its user
// station and gets its own ratio so as to reach its own far boundary.
void GridBuilder::stationHeights(GrowthRatios& DSGRID) {
    const int NX = NX_, NY = NY_, k = k_, mid = mid_;
    const int q = (k + mid) / 2;
    const int columns[kStations + 1] = {0,   0,      1,          k - 1,  k,          k + 1,  q,
                                        mid, NX - q, NX - k - 1, NX - k, NX - k + 1, NX - 1, NX};
    std::copy(columns, columns + kStations + 1, ib_);
    for (int s : {1, 4, 6, 7, 8, 10, 13}) hs_[s] = yg(ib_[s], NY) / geometricSum(DSGRID(s), NY - 1);
    hs_[2] = hs_[1];
    hs_[3] = hs_[5] = hs_[4];
    hs_[9] = hs_[11] = hs_[10];
    hs_[12] = hs_[13];
    for (int s : {2, 3, 5, 9, 11, 12}) DSGRID(s) = GrowthRatio(yg(ib_[s], NY) / hs_[s], NY - 1);
}

// 5. Wake cut: the spacing runs smoothly from 1.5 dsTE at the trailing
// edge to the first-cell height h1 at the downstream end, stretched by
// a linear factor so that the cut is exactly 7 chords long.
void GridBuilder::wakeCut() {
    const int NX = NX_, k = k_;
    const double px[4] = {0.0, 1.0, double(k - 1), double(k)};
    const double py[4] = {hs_[1], hs_[1], 2.0 * dsTE_, 1.5 * dsTE_};
    const int four = 4, unit = 6;
    for (int m = 1; m <= k; ++m) lineXi_[m - 1] = m;
    for (int m = 0; m < k; ++m) lineEta_[m] = 0.0;
    if (!AkimaInterp(unit, four, px, py, k, lineXi_, lineEta_)) ++faults_;
    double T = 0.0, W = 0.0;
    for (int m = 1; m <= k; ++m) {
        T += lineEta_[m - 1];
        W += lineEta_[m - 1] * (k - m);
    }
    const double g = (7.0 * scale_ - T) / W;
    for (int qq = 0; qq <= k - 1; ++qq)
        xg(k - qq - 1, 1) = xg(k - qq, 1) + lineEta_[k - qq - 1] * (1.0 + qq * g);
    for (int qq = 0; qq <= k - 1; ++qq) {
        xg(NX - k + 1 + qq, 1) = xg(k - qq - 1, 1);
        yg(k - qq - 1, 1) = 0.0;
        yg(NX - k + 1 + qq, 1) = 0.0;
    }
}

// 6. Square-root transformation of row 1.  The surface is opened at
// the leading edge: the polar angle runs from 0 at the upper trailing
// edge to 2 pi at the lower one and is halved.
void GridBuilder::openSurface() {
    const int NX = NX_, k = k_, mid = mid_;
    const double x0 = x0_;
    for (int i = 0; i <= NX; ++i) {
        const double S = (xg(i, 1) - x0) / (1.0 - x0);
        const double y = yg(i, 1);
        const double w = std::pow(S * S + y * y, 0.25);
        if (i < k) {
            xg(i, 1) = w;
        } else if (i > NX - k) {
            xg(i, 1) = -w;
        } else {
            double half;
            if (i == mid) {
                half = kHalfPi;
            } else {
                double phiAng = std::atan2(y, S);
                if (i > mid) phiAng += kTwoPi;
                half = phiAng / 2.0;
            }
            xg(i, 1) = w * std::cos(half);
            etaBody_[i] = w * std::sin(half);
        }
        yg(i, 1) = 0.0;
    }
}

// 7. Geometric normal distribution on the station columns.
void GridBuilder::stationColumns(const GrowthRatios& DSGRID) {
    const int NY = NY_;
    for (int s = 1; s <= kStations; ++s) {
        const int i = ib_[s];
        const double r = DSGRID(s);
        double sum = 0.0, power = 1.0;
        yg(i, 1) = 0.0;
        for (int j = 2; j <= NY; ++j) {
            sum += power;
            power *= r;
            yg(i, j) = hs_[s] * sum;
        }
    }
}

// 8. Interior xi: from the surface value to the far value, following
// the normal distribution of the upper trailing-edge column.
void GridBuilder::interiorLines() {
    const int NX = NX_, NY = NY_, k = k_;
    for (int j = 2; j <= NY - 1; ++j) {
        const double f = std::pow(yg(k, j) / yg(k, NY), kXiExponent);
        for (int i = 0; i <= NX; ++i) xg(i, j) = xg(i, 1) + (xg(i, NY) - xg(i, 1)) * f;
    }

    // 9. Interior eta: each line, far boundary included, interpolated
    // between its 13 station points.  Folded stations (xi not increasing)
    // are reported by the interpolation; the line then keeps the ordinates
    // of the line before.
    double sx[kStations], sy[kStations];
    const int n13 = kStations, unit = 6, count = NX + 1;
    for (int i = 0; i <= NX; ++i) lineEta_[i] = 0.0;
    for (int j = 2; j <= NY; ++j) {
        for (int s = kStations; s >= 1; --s) {
            sx[kStations - s] = xg(ib_[s], j);
            sy[kStations - s] = yg(ib_[s], j);
        }
        for (int i = 0; i <= NX; ++i) lineXi_[i] = xg(i, j);
        if (!AkimaInterp(unit, n13, sx, sy, count, lineXi_, lineEta_)) ++faults_;
        for (int i = 0; i <= NX; ++i) yg(i, j) = lineEta_[i];
    }
}

// Steps 10-13: surface offset, squaring back to the physical plane, and the
// trailing-edge offset and bending of the cut.  xg, yg hold xi and eta on
// entry (eta without the surface offset), x and y on return.
void GridBuilder::toPhysicalPlane() {
    const int NX = NX_, NY = NY_, k = k_;
    const double x0 = x0_;
    // 10. Surface offset.
    for (int j = 1; j <= NY; ++j)
        for (int i = k; i <= NX - k; ++i) yg(i, j) += etaBody_[i];

    // 11. Back to the physical plane.
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            const double xi = xg(i, j), eta = yg(i, j);
            xg(i, j) = x0 + (1.0 - x0) * (xi * xi - eta * eta);
            yg(i, j) = 2.0 * xi * eta;
        }

    // 12. Each side of the cut starts at its own trailing-edge point.
    const double yUpperTE = yg(k, 1), yLowerTE = yg(NX - k, 1);
    for (int j = 1; j <= NY; ++j)
        for (int m = 0; m <= k - 1; ++m) {
            yg(m, j) += yUpperTE;
            yg(NX - m, j) += yLowerTE;
        }
    bendCut();
}

// 13. Bends the cut: it leaves the trailing edge along the bisector of
// the two surfaces and turns back to the free-stream direction
// downstream.
void GridBuilder::bendCut() {
    const int NX = NX_, NY = NY_, k = k_;
    // The bisector of the two surface directions (the mean of their
    // angles; the mean of the slopes turns it by 0.0015 rad on a
    // cambered 15-degree trailing edge).  The flow leaves a
    // finite-angle trailing edge along it, and the body rows impose
    // that direction on the first cut faces: the lift follows it
    // closely (on 240 x 41, 0.26 per cent of the lift per 10 per cent
    // of t).
    const double sUpper = (yg(k, 1) - yg(k + 1, 1)) / (xg(k, 1) - xg(k + 1, 1));
    const double sLower = (yg(NX - k, 1) - yg(NX - k - 1, 1)) / (xg(NX - k, 1) - xg(NX - k - 1, 1));
    const double t = std::tan(0.5 * (std::atan(sUpper) + std::atan(sLower)));
    const double L = 0.4 * (xg(0, 1) - xg(k - 1, 1));
    const double xStart = xg(k - 1, 1);
    for (int m = 0; m <= k - 1; ++m) {
        const double xm = xg(m, 1);
        const double delta = std::exp((xStart - xm) / L) * (xm - 1.0) * t;
        for (int j = 1; j <= NY; ++j) {
            yg(m, j) += delta;
            yg(NX - m, j) += delta;
        }
    }
}

// A grid that the construction folds is repaired where the per-line
// interpolation made it fold (see repairFolds); a sound grid is left
// exactly as built.  Lines that the interpolation could not build (their
// stations out of order) hold copies of the line before and are not
// repaired.
void GridBuilder::repairConstructionFolds() {
    const int NX = NX_, NY = NY_;
    int firstI = 0, firstJ = 0, lines = 0;
    const int folded = FoldedCells(NX, NY, firstI, firstJ);
    if (folded > 0 && repairFolds(lines)) {
        msg::console("The grid had " + std::to_string(folded) + " folded cells (the first at i=" +
                     std::to_string(firstI) + ", j=" + std::to_string(firstJ) +
                     "); they were repaired by a monotone "
                     "interpolation of " +
                     std::to_string(lines) + " grid lines between their station columns.");
    }
}

// Interpolates line j of etaRepair again between its station points, with
// the slopes at flagged stations made monotone: zero where the station is a
// local extremum of the station ordinates, otherwise Akima's slope, at most
// three times the smaller neighbouring chord slope.  Between two stations
// with such slopes the cubic stays within the ordinates of its ends.  Lines
// up to kRepairTaper from a flagged one take the blend (1 - d/(taper + 1))
// of the monotone and (d/(taper + 1)) of Akima's slope at distance d.  Only
// the intervals next to a changed slope are evaluated again; the station
// columns keep their own ordinates.
//   j [in] line (2..NY); the line's xi, eta in xiPlane_, etaPlane_ [in]
// Returns true when a slope of the line was changed.
bool GridBuilder::monotoneLine(int j) {
    const int NY = NY_;
    const int* ib = ib_;
    double sx[kStations], sy[kStations];
    for (int p = 0; p < kStations; ++p) {
        sx[p] = xiPlane_(ib[kStations - p], j);
        sy[p] = etaPlane_(ib[kStations - p], j);
    }
    // Chord slopes, two extrapolated at either end as the interpolation
    // does: chord[q + 2] joins points q and q + 1.
    double chord[kStations + 3];
    for (int q = 0; q < kStations - 1; ++q)
        chord[q + 2] = (sy[q + 1] - sy[q]) / (sx[q + 1] - sx[q]);
    chord[1] = 2.0 * chord[2] - chord[3];
    chord[0] = 2.0 * chord[1] - chord[2];
    chord[kStations + 1] = 2.0 * chord[kStations] - chord[kStations - 1];
    chord[kStations + 2] = 2.0 * chord[kStations + 1] - chord[kStations];
    double slope[kStations];
    bool changed[kStations];
    for (int p = 0; p < kStations; ++p) {
        const double left = chord[p + 1], right = chord[p + 2];
        const double akima = akimaSlope(chord[p], left, right, chord[p + 3]);
        slope[p] = akima;
        changed[p] = false;
        double share = 0.0;  // share of the monotone slope
        for (int d = 0; d <= kRepairTaper; ++d)
            if ((j - d >= 2 && repairFlag_[j - d][p]) || (j + d <= NY && repairFlag_[j + d][p])) {
                share = 1.0 - double(d) / (kRepairTaper + 1);
                break;
            }
        if (share == 0.0) continue;
        double t = 0.0;
        if (left * right > 0.0) {
            const double bound = 3.0 * std::min(std::fabs(left), std::fabs(right));
            t = std::copysign(std::min(std::fabs(akima), bound), left);
        }
        t = akima + share * (t - akima);
        if (t != akima) {
            slope[p] = t;
            changed[p] = true;
        }
    }
    bool any = false;
    for (int q = 0; q + 1 < kStations; ++q) {
        if (!changed[q] && !changed[q + 1]) continue;
        any = true;
        // Cubic of interval q in power form (as the interpolation writes it).
        const double a = sx[q + 1] - sx[q], m = chord[q + 2];
        const double p1 = slope[q];
        const double p2 = (3.0 * m - 2.0 * slope[q] - slope[q + 1]) / a;
        const double p3 = (slope[q] + slope[q + 1] - 2.0 * m) / (a * a);
        // Point q is station 13 - q: columns decrease as xi increases.
        for (int i = ib[kStations - q - 1] + 1; i < ib[kStations - q]; ++i) {
            const double d = xiPlane_(i, j) - sx[q];
            etaRepair_(i, j) = ((p3 * d + p2) * d + p1) * d + sy[q];
        }
    }
    return any;
}

// Repairs the folded cells of the grid in xg, yg (physical plane) built
// from xiPlane_, etaPlane_.  The per-line interpolation between the 13
// stations can make two neighbouring lines cross.  Akima's slope at a
// station weights the chord slopes on its two sides by the jumps of the
// chord slopes further out; where both weights pass through zero on nearly
// the same line the slope is ill-conditioned and, for a line or two, jumps
// to the full chord slope of one side.  On a cambered section this happens
// at the leading-edge station: its neighbouring mid-chord stations have
// equal ordinates on slightly different abscissae, and the growth ratio of
// the leading edge, smaller than theirs, turns the line there from convex
// to concave (NACA 2412 on 496 x 97: lines 15 and 16 get slopes -0.025 and
// +0.019 at the leading edge where 14 and 17 have -0.007 and +0.008; line
// 15 overshoots the leading-edge ordinate on the lower side and crosses
// line 16 over 26 cells).  The repair makes the slopes of both lines of
// each folded cell monotone at the two stations of its interval (blended
// back into Akima's slopes over the next kRepairTaper lines on either
// side), rebuilds the physical grid and repeats until no cell is folded or
// no further slope can be changed.
//   lines [out] number of lines interpolated again
// Returns true when no cell is folded.  xg, yg hold the repaired grid then,
// otherwise the grid of the construction.
bool GridBuilder::repairFolds(int& lines) {
    const int NX = NX_, NY = NY_;
    const int* ib = ib_;
    for (int j = 0; j <= NY; ++j)
        for (int p = 0; p < kStations; ++p) repairFlag_[j][p] = false;
    lines = 0;
    bool sound = false;
    while (true) {
        // Flag both lines of every folded cell at the two stations of its
        // interval; the surface line (j = 1) is never changed.
        bool any = false;
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 0; i <= NX - 1; ++i) {
                if (cellArea(i, j) < 0.0) continue;
                int q = 0;  // interval q: columns ib[13 - q - 1] .. ib[13 - q]
                while (q + 1 < kStations - 1 && i + 1 <= ib[kStations - q - 1]) ++q;
                for (int jj = std::max(j, 2); jj <= j + 1; ++jj)
                    for (int p = q; p <= q + 1; ++p)
                        if (!repairFlag_[jj][p]) {
                            repairFlag_[jj][p] = true;
                            any = true;
                        }
            }
        if (!any) break;  // folded still, and nothing left to change
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) etaRepair_(i, j) = etaPlane_(i, j);
        lines = 0;
        for (int j = 2; j <= NY; ++j)
            if (monotoneLine(j)) ++lines;
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) {
                xg(i, j) = xiPlane_(i, j);
                yg(i, j) = etaRepair_(i, j);
            }
        toPhysicalPlane();
        int firstI = 0, firstJ = 0;
        if (FoldedCells(NX, NY, firstI, firstJ) == 0) {
            sound = true;
            break;
        }
    }
    if (!sound) {
        // Beyond repair: the grid of the construction, as it was.
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) {
                xg(i, j) = xiPlane_(i, j);
                yg(i, j) = etaPlane_(i, j);
            }
        toPhysicalPlane();
    }
    return sound;
}

// A grid can also fold between the stations (growth ratios too large
// for the number of cells), which the interpolation cannot see.
void GridBuilder::reportFolds() {
    const int NX = NX_, NY = NY_;
    int firstI = 0, firstJ = 0;
    const int folded = FoldedCells(NX, NY, firstI, firstJ);
    if (folded > 0) {
        msg::warning("The grid is folded: " + std::to_string(folded) + " of " +
                     std::to_string(NX * (NY - 1)) +
                     " cells are turned over or degenerate (the first at i=" +
                     std::to_string(firstI) + ", j=" + std::to_string(firstJ) +
                     "). Smaller growth ratios or other grid sizes (NPA, NCO, NBH, Kgrid) give a "
                     "sound grid.");
        ++faults_;
    }
}

}  // namespace

double GrowthRatio(const double& S, const int& n) {
    double r = std::pow(2.0 * S + 1.0, 1.0 / n);
    for (int corrections = 0;; ++corrections) {
        // Sum and derivative of 1 + r + ... + r^(n-1) by Horner's rule.
        double e = 1.0, de = 0.0;
        for (int m = 1; m <= n - 1; ++m) {
            de = de * r + e;
            e = e * r + 1.0;
        }
        if (std::fabs(e - S) < kSumTolerance || corrections == 50) break;
        r -= (e - S) / de;
    }
    return r;
}

double OuterEta(const double& xi, const double& R) {
    const double a = R * kInvSqrt2;
    const double ax = std::fabs(xi);
    if (ax <= a) return std::sqrt(R * R - xi * xi);
    return a * a / ax;
}

void WriteGridListing(const int& NX, const int& NY) {
    writeListing(NX, NY);
}

int GridGen(const int& NY, const int& k, const int& npa, const double& x0, GrowthRatios& DSGRID,
            const GridOptions& options) {
    return std::make_unique<GridBuilder>(NY, k, npa, x0, options)->build(DSGRID);
}

int FoldedCells(const int& NX, const int& NY, int& firstI, int& firstJ) {
    int folded = 0;
    firstI = firstJ = 0;
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX - 1; ++i) {
            if (!(cellArea(i, j) < 0.0) && folded++ == 0) {
                firstI = i;
                firstJ = j;
            }
        }
    return folded;
}

}  // namespace quarel
