// The main window's canvas: the grid picture (equal scales, pan and zoom
// with the mouse) and the surface pressure plot.
#include <algorithm>
#include <cmath>
#include <vector>

#include "Quarel.h"
#include "plotmath.h"
#include "state.h"

namespace {

// Segments are clipped to this band around the canvas before they are
// converted to the 16-bit coordinates of the window system, so that a
// strongly zoomed picture neither wraps around nor overflows.
constexpr double kClipBand = 2000.0;

// Liang-Barsky clipping of the segment (x0,y0)-(x1,y1) to the rectangle
// [xl, xh] x [yl, yh].  Returns false when nothing of it is inside.
bool clipSegment(double& x0, double& y0, double& x1, double& y1, double xl, double xh, double yl,
                 double yh) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - xl, xh - x0, y0 - yl, yh - y0};
    for (int n = 0; n < 4; ++n) {
        if (p[n] == 0.0) {
            if (q[n] < 0.0) return false;
            continue;
        }
        const double t = q[n] / p[n];
        if (p[n] < 0.0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
    }
    const double ax = x0 + t0 * dx, ay = y0 + t0 * dy;
    x1 = x0 + t1 * dx;
    y1 = y0 + t1 * dy;
    x0 = ax;
    y0 = ay;
    return true;
}

}  // namespace

// Draws the points (x(n), y(n)), n = first .. count-1, joined by straight
// segments, in the named colour, solid or dashed; the line style is solid
// again afterwards.  The points are mapped with the grid-picture rule or,
// with cpMapping, with the Cp-plot rule.
void Quarel::polyline(FXDC& dc, const double* x, const double* y, int first, int count,
                      const char* color, bool dashed, bool cpMapping) {
    if (count - first < 2) return;
    const int W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    std::vector<FXSegment> segments;
    segments.reserve(static_cast<std::size_t>(count - first - 1));
    auto screenX = [&](double v) {
        return cpMapping ? scaleX * (v + xOffset) : marginLeft + scaleX * (v - plotXMin);
    };
    auto screenY = [&](double v) {
        return cpMapping ? scaleY * (v - cpRef) : (H - marginBottom) - scaleY * (v - plotYMin);
    };
    for (int n = first; n + 1 < count; ++n) {
        double x0 = screenX(x[n]), y0 = screenY(y[n]);
        double x1 = screenX(x[n + 1]), y1 = screenY(y[n + 1]);
        if (!clipSegment(x0, y0, x1, y1, -kClipBand, W + kClipBand, -kClipBand, H + kClipBand)) {
            continue;
        }
        FXSegment s;
        s.x1 = static_cast<FXshort>(x0);
        s.y1 = static_cast<FXshort>(y0);
        s.x2 = static_cast<FXshort>(x1);
        s.y2 = static_cast<FXshort>(y1);
        segments.push_back(s);
    }
    dc.setLineStyle(dashed ? LINE_ONOFF_DASH : LINE_SOLID);
    dc.setForeground(fxcolorfromname(color));
    if (!segments.empty()) {
        dc.drawLineSegments(segments.data(), static_cast<FXuint>(segments.size()));
    }
    dc.setLineStyle(LINE_SOLID);
}

void Quarel::drawGrid() {
    if (!w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    paintGrid(dc);
}

void Quarel::paintGrid(FXDC& dc) {
    using namespace quarel;
    const int W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);

    plotXMin = gridExtents.xMin;
    plotXMax = gridExtents.xMax;
    plotYMin = gridExtents.yMin;
    plotYMax = gridExtents.yMax;
    marginLeft = plot::kMarginLeft;
    marginRight = plot::kMarginRight;
    marginTop = plot::kMarginTop;
    marginBottom = plot::kMarginBottom;
    double scale = 0.0;
    // No room on the canvas, or no grid yet (the extents still hold their
    // seeds): nothing to draw.
    if (!plot::gridScale(W, H, plotXMin, plotXMax, plotYMin, plotYMax, scale)) return;
    scaleX = scaleY = scale;

    const int nodesI = std::min(rc_.level().fineNX() + 1, kMaxNX + 1);
    const int nodesJ = std::min(rc_.level().fineNY(), kMaxNY);
    if (nodesI < 1 || nodesJ < 1) return;
    std::vector<double> px(static_cast<std::size_t>(nodesI)), py(px.size());
    for (int j = 1; j <= nodesJ; ++j) {
        for (int i = 0; i < nodesI; ++i) {
            px[i] = xg(i, j);
            py[i] = yg(i, j);
        }
        polyline(dc, px.data(), py.data(), 0, nodesI, "Black", false, false);
    }
    std::vector<double> qx(static_cast<std::size_t>(nodesJ)), qy(qx.size());
    for (int i = 0; i < nodesI; ++i) {
        for (int j = 1; j <= nodesJ; ++j) {
            qx[j - 1] = xg(i, j);
            qy[j - 1] = yg(i, j);
        }
        polyline(dc, qx.data(), qy.data(), 0, nodesJ, "Black", false, false);
    }
}

void Quarel::drawCpPlot() {
    cpShown = 1;
    if (!w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    paintCpPlot(dc);
}

void Quarel::paintCpPlot(FXDC& dc) {
    using namespace quarel;
    cpShown = 1;
    const int W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    const int k = rc_.level().k, npa = rc_.level().npa;

    // 1. Plot buffers: body nodes, face centres, computed and target Cp.
    if (npa >= 1 && k >= 0 && k + npa + 1 <= kMaxNX) {
        const std::size_t count = static_cast<std::size_t>(npa) + 1;
        if (bodyX_.size() < count) {
            for (std::vector<double>* b : {&bodyX_, &bodyY_, &faceX_, &cpComputed_, &cpTarget_}) {
                b->resize(count, 0.0);
            }
        }
        bxMin = byMin = cpMin = 1.0e30;
        bxMax = byMax = cpMax = -1.0e30;
        for (int n = 0; n <= npa; ++n) {
            bodyX_[n] = xg(k + n, 1);
            bodyY_[n] = yg(k + n, 1);
            faceX_[n] = (xg(k + n, 1) + xg(k + n + 1, 1)) * 0.5;
            cpComputed_[n] = cpf(k + n);
            cpTarget_[n] = cps(k + n);
            bxMin = std::min(bxMin, bodyX_[n]);
            bxMax = std::max(bxMax, bodyX_[n]);
            byMin = std::min(byMin, bodyY_[n]);
            byMax = std::max(byMax, bodyY_[n]);
            if (n < npa) {
                cpMin = std::min(cpMin, cpComputed_[n]);
                cpMax = std::max(cpMax, cpComputed_[n]);
            }
        }
    }

    // 2. White background.
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);
    if (npa < 1 || bodyX_.empty()) return;

    // 3.-5. Axis and layout.
    plot::CpLayout layout;
    if (!plot::cpLayout(W, H, bxMin, bxMax, cpMin, cpMax, layout)) return;
    cpTop = layout.top;
    cpMax = layout.bottom;
    const double D = bxMax - bxMin;
    plotXMin = bxMin;
    plotXMax = bxMax;
    plotYMin = layout.bottom;
    plotYMax = layout.top;
    xOffset = layout.xOffset;
    scaleX = layout.scaleX;
    scaleY = layout.scaleY;
    cpRef = layout.cpRef;

    // 6. Orange dashed grid: a vertical line every tenth of the chord, a
    // horizontal line at every step of Cp.
    dc.setForeground(fxcolorfromname("Orange"));
    dc.setLineStyle(LINE_ONOFF_DASH);
    const int yLow = static_cast<int>(0.99 * H), yHigh = static_cast<int>(0.01 * H);
    for (int i = 0; i <= layout.vLines + 1; ++i) {
        const int X = static_cast<int>((0.1 * i + xOffset) * scaleX);
        dc.drawLine(X, yLow, X, yHigh);
    }
    const int xLeft = static_cast<int>(scaleX * xOffset);
    const int xRight = static_cast<int>(scaleX * 1.1 * D);
    for (int i = 0; i <= layout.hLines; ++i) {
        const int Y = static_cast<int>((i * layout.step + cpTop - cpRef) * scaleY);
        dc.drawLine(xLeft, Y, xRight, Y);
    }

    // 7. Cp labels at the horizontal lines.
    dc.setLineStyle(LINE_SOLID);
    dc.setFont(getApp()->getNormalFont());
    dc.setForeground(fxcolorfromname("Black"));
    for (int i = 0; i <= layout.hLines; ++i) {
        const double value = i * layout.step + cpTop;
        const int Y = static_cast<int>((value - cpRef) * scaleY);
        const FXString label = FXStringVal(value, 1, FALSE);
        dc.drawText(static_cast<int>(0.01 * W), Y, label.text(), label.length());
    }

    // 8. Target (design mode) and computed pressure distributions.
    if (rc_.design.designMode == 1) {
        polyline(dc, faceX_.data(), cpTarget_.data(), 0, npa, "Red", false, true);
    }
    polyline(dc, faceX_.data(), cpComputed_.data(), 0, npa, "Black", false, true);
}

long Quarel::onPaint(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    FXDCWindow dc(w_.canvas, const_cast<FXEvent*>(event));
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(event->rect.x, event->rect.y, event->rect.w, event->rect.h);
    if (cpShown) {
        paintCpPlot(dc);
    } else if (gridShown) {
        paintGrid(dc);
    }
    return 1;
}

void Quarel::panOrZoom(int releaseX, int releaseY, bool zoom) {
    // The mouse moves the grid picture only while it is the one shown.
    if (!gridShown || cpShown) return;
    quarel::plot::panZoom(gridExtents.xMin, gridExtents.xMax, gridExtents.yMin, gridExtents.yMax,
                          pressX, pressY, releaseX, releaseY, zoom, scaleX, scaleY);
    drawGrid();
}
