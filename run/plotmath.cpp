// Arithmetic of the grid picture and the Cp plot (see plotmath.h).
#include "plotmath.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "GridLevel.h"
#include "state.h"

namespace quarel {
namespace plot {

double zoomFactor(int pressY, int relY) {
    return std::exp2((pressY - relY) / kZoomPixels);
}

Extents sectionExtents(const GridLevel& level) {
    const GridLevel fine = level.fineLevel();
    Extents e;
    if (fine.NX <= 0) return e;
    double xl = 1.0e30, xh = -1.0e30, yl = 1.0e30, yh = -1.0e30;
    for (int i = fine.k; i <= fine.NX - fine.k; ++i) {
        xl = std::min(xl, xg(i, 1));
        xh = std::max(xh, xg(i, 1));
        yl = std::min(yl, yg(i, 1));
        yh = std::max(yh, yg(i, 1));
    }
    const double half = 0.75 * (xh - xl);
    const double cx = 0.5 * (xl + xh), cy = 0.5 * (yl + yh);
    e.xMin = cx - half;
    e.xMax = cx + half;
    e.yMin = cy - half;
    e.yMax = cy + half;
    return e;
}

Extents gridExtents(const GridLevel& level) {
    Extents e;
    const int nxf = level.fineNX();
    const int nyf = level.fineNY();
    for (int j = 1; j <= nyf; ++j) {
        for (int i = 0; i <= nxf; ++i) {
            e.xMin = std::min(e.xMin, xg(i, j));
            e.xMax = std::max(e.xMax, xg(i, j));
            e.yMin = std::min(e.yMin, yg(i, j));
            e.yMax = std::max(e.yMax, yg(i, j));
        }
    }
    return e;
}

CpAxis cpAxisTop(double cpMin) {
    // (lower bound of cpMin, top, step), tried in order.
    static const double table[][3] = {
        {-0.5, -0.8, 0.1}, {-0.75, -1.0, 0.1}, {-1.0, -1.5, 0.1}, {-1.5, -2.0, 0.2},
        {-2.0, -2.5, 0.2}, {-2.5, -3.0, 0.2},  {-3.0, -3.5, 0.2}, {-3.5, -4.0, 0.2},
        {-4.0, -4.5, 0.5}, {-4.5, -5.0, 0.5},  {-5.0, -5.5, 0.5}, {-5.5, -6.0, 0.5},
        {-6.0, -6.5, 0.5}, {-6.5, -7.0, 0.5},  {-7.0, -7.5, 0.5}, {-7.5, -8.0, 0.5},
    };
    for (const auto& row : table) {
        if (cpMin > row[0]) return {row[1], row[2]};
    }
    return {-10.0, 1.0};
}

double cpAxisBottom(double cpMax) {
    if (cpMax > 1.0 && std::isfinite(cpMax)) return 0.2 * std::ceil(cpMax / 0.2 - 1e-9);
    if (cpMax > 0.8) return 1.0;
    if (cpMax > 0.6) return 0.8;
    if (cpMax > 0.4) return 0.6;
    return 0.4;
}

bool cpLayout(int W, int H, double bxMin, double bxMax, double cpMin, double cpMax, CpLayout& out,
              int bottomMargin) {
    const double D = bxMax - bxMin;
    if (W <= 0 || H <= 0 || !(D > 0.0) || !std::isfinite(D)) return false;
    const CpAxis axis = cpAxisTop(cpMin);
    out.top = axis.top;
    out.step = axis.step;
    out.bottom = cpAxisBottom(cpMax);
    out.vLines = static_cast<int>(D / 0.1);
    out.hLines = static_cast<int>((out.bottom - out.top) / out.step);
    out.xOffset = 0.1 * D;
    out.scaleX = W / (1.11 * D);
    out.scaleY = (0.98 * H - bottomMargin) / (out.bottom - out.top);
    if (!(out.scaleY > 0.0)) return false;
    out.cpRef = out.top + 0.01;
    return true;
}

bool gridScale(int W, int H, double xMin, double xMax, double yMin, double yMax, double& scale) {
    const int w = W - kMarginLeft - kMarginRight;
    const int h = H - kMarginTop - kMarginBottom;
    const double dx = xMax - xMin, dy = yMax - yMin;
    if (w <= 0 || h <= 0) return false;
    if (!(dx > 0.0) || !(dy > 0.0) || !std::isfinite(dx) || !std::isfinite(dy)) return false;
    scale = std::min(w / dx, h / dy);
    return true;
}

int gridScreenX(double x, double plotXMin, double scale) {
    return static_cast<int>(kMarginLeft + scale * (x - plotXMin));
}

int gridScreenY(double y, double plotYMin, double scale, int H) {
    return static_cast<int>((H - kMarginBottom) - scale * (y - plotYMin));
}

bool panZoom(double& xMin, double& xMax, double& yMin, double& yMax, int pressX, int pressY,
             int relX, int relY, bool control, double scaleX, double scaleY) {
    if (!(scaleX > 0.0) || !(scaleY > 0.0)) return false;
    const double dx = pressX - relX, dy = pressY - relY;
    double x0 = xMin, x1 = xMax, y0 = yMin, y1 = yMax;
    if (control) {
        const double f = zoomFactor(pressY, relY);
        const double cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
        const double hx = 0.5 * (x1 - x0) * f, hy = 0.5 * (y1 - y0) * f;
        x0 = cx - hx;
        x1 = cx + hx;
        y0 = cy - hy;
        y1 = cy + hy;
    } else {
        x0 += dx / scaleX;
        x1 += dx / scaleX;
        y0 -= dy / scaleY;
        y1 -= dy / scaleY;
    }
    if (!(x0 <= x1) || !(y0 <= y1) || !std::isfinite(x0) || !std::isfinite(x1) ||
        !std::isfinite(y0) || !std::isfinite(y1)) {
        return false;
    }
    xMin = x0;
    xMax = x1;
    yMin = y0;
    yMax = y1;
    return true;
}

std::vector<double> niceTicks(double lo, double hi, int maxTicks, double* stepOut) {
    std::vector<double> ticks;
    if (lo > hi) std::swap(lo, hi);
    const double span = hi - lo;
    if (!(span > 0.0) || !std::isfinite(span) || maxTicks < 2) return ticks;
    double step = std::pow(10.0, std::floor(std::log10(span / maxTicks)));
    for (int n = 0; n < 40; ++n) {
        const double first = std::ceil(lo / step - 1e-9);
        const double last = std::floor(hi / step + 1e-9);
        if (last - first + 1 <= maxTicks) break;
        // 1, 2, 5, 10, ...
        const double m = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        step *= m < 1.5 ? 2.0 : (m < 3.0 ? 2.5 : 2.0);
    }
    const double first = std::ceil(lo / step - 1e-9), last = std::floor(hi / step + 1e-9);
    for (double k = first; k <= last; k += 1.0) {
        const double v = k * step;
        ticks.push_back(std::fabs(v) < 1e-12 * step ? 0.0 : v);
    }
    if (stepOut) *stepOut = step;
    return ticks;
}

bool zoomToBox(Frame& frame, int ax, int ay, int bx, int by, int minPixels) {
    if (std::abs(bx - ax) < minPixels || std::abs(by - ay) < minPixels) return false;
    const double xa = frame.xAt(std::min(ax, bx)), xb = frame.xAt(std::max(ax, bx));
    const double ya = frame.yAt(std::min(ay, by)), yb = frame.yAt(std::max(ay, by));
    if (!std::isfinite(xa) || !std::isfinite(xb) || !std::isfinite(ya) || !std::isfinite(yb))
        return false;
    frame.x0 = xa;
    frame.x1 = xb;
    frame.yTop = ya;
    frame.yBottom = yb;
    return true;
}

void equalScales(Frame& f) {
    const double w = f.right - f.left, h = f.bottom - f.top;
    if (w <= 0 || h <= 0) return;
    const double sx = w / std::fabs(f.x1 - f.x0), sy = h / std::fabs(f.yBottom - f.yTop);
    if (sx > sy) {
        const double c = 0.5 * (f.x0 + f.x1), half = 0.5 * w / sy;
        f.x0 = c - (f.x1 > f.x0 ? half : -half);
        f.x1 = c + (f.x1 > f.x0 ? half : -half);
    } else {
        const double c = 0.5 * (f.yTop + f.yBottom), half = 0.5 * h / sx;
        const double sign = f.yBottom > f.yTop ? 1.0 : -1.0;
        f.yTop = c - sign * half;
        f.yBottom = c + sign * half;
    }
}

bool KeptCurves::add(KeptCurve curve) {
    if (full()) return false;
    curves_.push_back(std::move(curve));
    return true;
}

bool paddedRange(const std::vector<double>& v, double margin, double& lo, double& hi) {
    lo = HUGE_VAL;
    hi = -HUGE_VAL;
    for (double x : v) {
        if (!std::isfinite(x)) continue;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    if (lo > hi) return false;
    const double span = hi - lo;
    if (span == 0.0) {
        lo -= 0.5;
        hi += 0.5;
    } else {
        lo -= margin * span;
        hi += margin * span;
    }
    return true;
}

}  // namespace plot
}  // namespace quarel
