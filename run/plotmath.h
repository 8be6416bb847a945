// Arithmetic of the two pictures on the main canvas, kept apart from the
// drawing so that it can be checked without a display: the Cp axis, the
// layout of the Cp plot, the equal-scale grid picture and its pan and
// zoom by the mouse.
#pragma once

#include <string>
#include <vector>

namespace quarel {
struct GridLevel;
namespace plot {

// Extents of the grid picture in chord units.  The seeds (min above max)
// stand for "no grid yet": gridScale refuses them.
struct Extents {
    double xMin = 1.0e6, xMax = -1.0e6, yMin = 1.0e6, yMax = -1.0e6;
};
// Extents of the fine grid of `level` as it stands in xg, yg.
Extents gridExtents(const GridLevel& level);
// A square of 1.5 chords around the section of the fine grid of `level`:
// the grid picture as it opens.
Extents sectionExtents(const GridLevel& level);

// Margins of the grid picture in pixels.
constexpr int kMarginLeft = 45, kMarginRight = 5, kMarginTop = 5, kMarginBottom = 20;

// Top of the Cp axis (negative Cp is plotted upward) and the spacing of
// the horizontal grid lines, chosen by the smallest computed Cp.  The
// conditions are strict: cpMin = -0.5 gives top -1.
struct CpAxis {
    double top;
    double step;
};
CpAxis cpAxisTop(double cpMin);

// Bottom of the Cp axis by the largest computed Cp: 0.4, 0.6, 0.8 or 1, and
// beyond 1 (the stagnation Cp of compressible flow) the next multiple of
// 0.2, so that the stagnation point stays on the plot.
double cpAxisBottom(double cpMax);

// Layout of the Cp plot on a W x H canvas for body abscissae bxMin..bxMax.
//   X = scaleX (x + xOffset),  Y = scaleY (Cp - cpRef)
struct CpLayout {
    double top, step, bottom;  // axis
    int vLines;                // m: vertical grid lines 0..m+1, every 0.1 chord
    int hLines;                // n: horizontal grid lines 0..n
    double xOffset;            // 0.1 D
    double scaleX, scaleY;     // pixels per unit
    double cpRef;              // Cp at screen line 0: top + 0.01
};
// The axis spans 98 % of the height less `bottomMargin` pixels kept free
// below it for the chord labels.  Returns false (draw nothing) for a
// canvas without area or a body of zero extent in x.
bool cpLayout(int W, int H, double bxMin, double bxMax, double cpMin, double cpMax, CpLayout& out,
              int bottomMargin = 0);

// Equal scales of the grid picture: pixels per unit for the extents
// xMin..xMax, yMin..yMax inside the margins.  Returns false (draw
// nothing) when the canvas leaves no room inside the margins or an extent
// is empty, zero or not finite.
bool gridScale(int W, int H, double xMin, double xMax, double yMin, double yMax, double& scale);

// Screen position of grid point (x, y) for a picture of height H.
int gridScreenX(double x, double plotXMin, double scale);
int gridScreenY(double y, double plotYMin, double scale, int H);

// Pan or zoom on mouse release, from the press (pressX, pressY) to the
// release (relX, relY).  Control held zooms about the centre: every
// kZoomPixels of upward drag doubles the extents (shows more), downward
// halves them, so no drag can turn the picture inside out.  Otherwise the
// picture follows the pointer.  Extents that would not be finite are
// refused: they stay as they were and the function returns false.
constexpr double kZoomPixels = 100.0;
double zoomFactor(int pressY, int relY);
bool panZoom(double& xMin, double& xMax, double& yMin, double& yMax, int pressX, int pressY,
             int relX, int relY, bool control, double scaleX, double scaleY);

// ---- Plots with numbered axes (Cp plot, section, polars) -------------------

// A rectangle of pixels and the data ranges mapped onto it: x0 at the left
// edge, x1 at the right, yTop at the top edge, yBottom at the bottom (so
// negative Cp can be plotted upward with yTop < yBottom).
struct Frame {
    int left = 0, top = 0, right = 1, bottom = 1;
    double x0 = 0.0, x1 = 1.0, yTop = 1.0, yBottom = 0.0;
    double px(double x) const { return left + (x - x0) / (x1 - x0) * (right - left); }
    double py(double y) const { return top + (y - yTop) / (yBottom - yTop) * (bottom - top); }
    double xAt(double p) const { return x0 + (p - left) / (right - left) * (x1 - x0); }
    double yAt(double p) const { return yTop + (p - top) / (bottom - top) * (yBottom - yTop); }
    bool contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// Tick values inside [lo, hi] (either order) at a step of 1, 2 or 5 times a
// power of ten, the smallest such step that gives at most maxTicks ticks.
std::vector<double> niceTicks(double lo, double hi, int maxTicks, double* step = nullptr);

// Data ranges of a zoom box dragged from (ax, ay) to (bx, by) in `frame`,
// the orientation of the frame kept.  False (frame unchanged) for a box
// less than minPixels wide or high.
bool zoomToBox(Frame& frame, int ax, int ay, int bx, int by, int minPixels = 5);

// Equal scales: widens the x or the y range of `frame` about its centre so
// that one unit is as many pixels across as up.
void equalScales(Frame& frame);

// Cp curves kept to be drawn under the current one for comparison.
struct KeptCurve {
    std::string label;          // the conditions and the lift of its run
    std::vector<double> x, cp;  // x/c and Cp along the surface
};
class KeptCurves {
public:
    static constexpr int kMax = 6;
    // False (nothing kept) when kMax curves are kept already.
    bool add(KeptCurve curve);
    void clear() { curves_.clear(); }
    const std::vector<KeptCurve>& curves() const { return curves_; }
    bool full() const { return static_cast<int>(curves_.size()) >= kMax; }

private:
    std::vector<KeptCurve> curves_;
};

// Extents of a set of values, widened by `margin` of their span on both
// sides (a span of zero gets +-0.5 around the value).  False for no finite
// value.
bool paddedRange(const std::vector<double>& v, double margin, double& lo, double& hi);

}  // namespace plot
}  // namespace quarel
