// The main window's canvas: the grid picture (equal scales, pan and zoom
// with the mouse) and the surface pressure plot.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "JobFiles.h"
#include "Quarel.h"
#include "message.h"

// After fx.h (through Quarel.h), which it needs.
#include <FXPNGImage.h>

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
    const int W = paintW_, H = paintH_;
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
    paintW_ = W;
    paintH_ = H;
    dragX = dragY = -1;
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
    // Equal scales leave room in one direction: centre the picture in it.
    plotXMin -= 0.5 * ((W - marginLeft - marginRight) / scale - (plotXMax - plotXMin));
    plotYMin -= 0.5 * ((H - marginTop - marginBottom) / scale - (plotYMax - plotYMin));

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
    paintCpPlot(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
}

namespace {

// Colours of the Cp plot: the two surfaces of the computed distribution,
// the target of design mode, results of earlier inputs, the critical Cp.
const char* const kUpperColour = "Black";
const char* const kLowerColour = "Blue";
const char* const kTargetColour = "Red";
const char* const kStaleColour = "Gray60";
const char* const kCriticalColour = "ForestGreen";

}  // namespace

void Quarel::paintCpPlot(FXDC& dc, int W, int H) {
    using namespace quarel;
    cpShown = 1;
    paintW_ = W;
    paintH_ = H;
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

    // 3.-5. Axis and layout, with room below the axis for the chord
    // numbers and the axis title.
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();
    plot::CpLayout layout;
    if (!plot::cpLayout(W, H, bxMin, bxMax, cpMin, cpMax, layout, 2 * textH + 4)) return;
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
    const int yAxisBottom = static_cast<int>((layout.bottom - cpRef) * scaleY);

    // 6. Orange dashed grid: a vertical line every tenth of the chord, a
    // horizontal line at every step of Cp.
    dc.setForeground(fxcolorfromname("Orange"));
    dc.setLineStyle(LINE_ONOFF_DASH);
    const int yHigh = static_cast<int>(0.01 * H);
    for (int i = 0; i <= layout.vLines + 1; ++i) {
        const int X = static_cast<int>((0.1 * i + xOffset) * scaleX);
        dc.drawLine(X, yAxisBottom, X, yHigh);
    }
    const int xLeft = static_cast<int>(scaleX * xOffset);
    const int xRight = static_cast<int>(scaleX * 1.1 * D);
    for (int i = 0; i <= layout.hLines; ++i) {
        const int Y = static_cast<int>((i * layout.step + cpTop - cpRef) * scaleY);
        dc.drawLine(xLeft, Y, xRight, Y);
    }

    // 7. Cp labels at the horizontal lines, chord labels under the
    // vertical ones (every tenth, or every fifth when they would crowd),
    // and the axis titles.
    dc.setLineStyle(LINE_SOLID);
    dc.setFont(font);
    dc.setForeground(fxcolorfromname("Black"));
    for (int i = 0; i <= layout.hLines; ++i) {
        const double value = i * layout.step + cpTop;
        const int Y = static_cast<int>((value - cpRef) * scaleY);
        const FXString label = FXStringVal(value, 1, FALSE);
        dc.drawText(static_cast<int>(0.01 * W), Y, label.text(), label.length());
    }
    const int every = 0.1 * scaleX > 3 * font->getTextWidth("0.0", 3) / 2 ? 1 : 2;
    for (int i = 0; i <= layout.vLines; i += every) {
        const FXString label = FXStringVal(bxMin + 0.1 * i, 1, FALSE);
        const int X = static_cast<int>((0.1 * i + xOffset) * scaleX);
        const int tw = font->getTextWidth(label);
        dc.drawText(std::min(X - tw / 2, W - tw - 2), yAxisBottom + textH + 1, label.text(),
                    label.length());
    }
    const FXString xTitle = "x/c";
    dc.drawText(xRight - font->getTextWidth(xTitle), yAxisBottom + 2 * textH + 2, xTitle.text(),
                xTitle.length());
    dc.drawText(xLeft + 4, yHigh + textH, "-Cp up", 6);

    // The critical Cp (local Mach 1) as a dashed line, where it is known.
    const bool stale = rc_.resultsStale();
    plotStale = stale;
    const double cpStar = rc_.results.cpStar;
    if (rc_.resultsInputs().mach > 0.1 && cpStar < 0.0 && cpStar > cpTop) {
        const int Y = static_cast<int>((cpStar - cpRef) * scaleY);
        dc.setForeground(fxcolorfromname(kCriticalColour));
        dc.setLineStyle(LINE_ONOFF_DASH);
        dc.drawLine(xLeft, Y, xRight, Y);
        dc.setLineStyle(LINE_SOLID);
        const FXString label = "Cp*";
        dc.drawText(xRight - font->getTextWidth(label) - 2, Y - 2, label.text(), label.length());
    }

    // 8. Target (design mode) and computed pressure distributions: the
    // upper surface from the trailing edge to the leading edge (faces
    // 0 .. npa/2-1), the lower one on to the trailing edge.
    if (rc_.design.designMode == 1) {
        polyline(dc, faceX_.data(), cpTarget_.data(), 0, npa, kTargetColour, false, true);
    }
    const int lead = npa / 2;
    polyline(dc, faceX_.data(), cpComputed_.data(), 0, lead, stale ? kStaleColour : kUpperColour,
             false, true);
    polyline(dc, faceX_.data(), cpComputed_.data(), lead - 1, npa,
             stale ? kStaleColour : kLowerColour, false, true);

    // Legend in the upper right corner.
    struct Entry {
        const char* colour;
        const char* text;
    };
    std::vector<Entry> legend = {{kUpperColour, "upper surface"}, {kLowerColour, "lower surface"}};
    if (rc_.design.designMode == 1) legend.push_back({kTargetColour, "target"});
    int Y = yHigh + textH + 2;
    for (const Entry& e : legend) {
        const int tw = font->getTextWidth(e.text, static_cast<FXuint>(std::strlen(e.text)));
        const int X = W - tw - 8;
        dc.setForeground(fxcolorfromname(stale ? kStaleColour : e.colour));
        dc.fillRectangle(X - 24, Y - textH / 2, 18, 3);
        dc.setForeground(fxcolorfromname("Black"));
        dc.drawText(X, Y, e.text, static_cast<FXuint>(std::strlen(e.text)));
        Y += textH + 2;
    }
    if (stale) {
        // Above the chord axis, where the distribution leaves room.
        const quarel::JobParameters& in = rc_.resultsInputs();
        FXString note[2];
        note[0] = "Results of the previous inputs:";
        note[1].format("M %g, alpha %g, sweep %g", in.mach, in.alpha, in.swept);
        dc.setForeground(fxcolorfromname("Red"));
        for (int n = 0; n < 2; ++n) {
            dc.drawText(xLeft + 4, yAxisBottom - (2 - n) * (textH + 2), note[n].text(),
                        note[n].length());
        }
    }
}

void Quarel::savePlot(const FXString& pngPath, int width, int height) {
    if (!rc_.hasResults()) throw quarel::FileError("There is no Cp plot to save yet.");
    const int W = width > 0 ? width : std::max(w_.canvas->getWidth(), 200);
    const int H = height > 0 ? height : std::max(w_.canvas->getHeight(), 150);
    FXPNGImage image(getApp(), NULL, IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP, W, H);
    image.create();
    {
        FXDCWindow dc(&image);
        paintCpPlot(dc, W, H);
    }
    image.restore();
    FXFileStream stream;
    bool ok = stream.open(pngPath, FXStreamSave) && image.savePixels(stream);
    ok = stream.close() && ok;
    if (!ok)
        throw quarel::FileError("Cannot write the picture \"" + std::string(pngPath.text()) +
                                "\".");
    writePlotData((FXPath::stripExtension(pngPath) + ".csv").text());
    // The canvas shows the plot that was saved.
    drawCpPlot();
}

void Quarel::writePlotData(const std::string& path) const {
    using namespace quarel;
    const GridLevel& l = rc_.level();
    const bool design = rc_.design.designMode == 1;
    const JobParameters& in = rc_.resultsInputs();
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line,
                  "# M %.5f, alpha %.5f deg, sweep %.5f deg, Clift %.6f, Cdrag %.6f\n", in.mach,
                  in.alpha, in.swept, rc_.results.clift, rc_.results.cdrag);
    out += line;
    out += design ? "face,surface,x,y,Cp,Mach,Cp target\n" : "face,surface,x,y,Cp,Mach\n";
    const int lead = l.NX / 2;
    for (int i = l.k; i <= l.NX - l.k - 1; ++i) {
        std::snprintf(line, sizeof line, "%d,%s,%.10f,%.10f,%.10f,%.10f", i - l.k + 1,
                      i < lead ? "upper" : "lower", (xg(i, 1) + xg(i + 1, 1)) * 0.5,
                      (yg(i, 1) + yg(i + 1, 1)) * 0.5, cpf(i), amach(i, 1));
        out += line;
        if (design) {
            std::snprintf(line, sizeof line, ",%.10f", cps(i));
            out += line;
        }
        out += "\n";
    }
    WriteTextFile(path, out, "plot data");
}

long Quarel::onPaint(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    FXDCWindow dc(w_.canvas, const_cast<FXEvent*>(event));
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(event->rect.x, event->rect.y, event->rect.w, event->rect.h);
    if (cpShown) {
        paintCpPlot(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
    } else if (gridShown) {
        paintGrid(dc);
    }
    return 1;
}

void Quarel::panOrZoom(int releaseX, int releaseY, bool zoom) {
    // The mouse moves the grid picture only while it is the one shown.
    if (!gridShown || cpShown) return;
    const bool moved = quarel::plot::panZoom(gridExtents.xMin, gridExtents.xMax, gridExtents.yMin,
                                             gridExtents.yMax, pressX, pressY, releaseX, releaseY,
                                             zoom, scaleX, scaleY);
    if (!moved) w_.statusLine->setText("The grid picture cannot be moved: there is no grid yet.");
    drawGrid();
}

// While the left button is held on the grid picture, a dashed line from
// the press to the pointer and the status line show what the release will
// do.  The line is drawn with XOR, so drawing it again erases it.
void Quarel::dragFeedback(int x, int y, bool zoom) {
    if (!gridShown || cpShown || !w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    dc.setFunction(BLT_SRC_XOR_DST);
    dc.setForeground(FXRGB(255, 0, 0) ^ FXRGB(255, 255, 255));
    dc.setLineStyle(LINE_ONOFF_DASH);
    if (dragX >= 0) dc.drawLine(pressX, pressY, dragX, dragY);
    dc.drawLine(pressX, pressY, x, y);
    dragX = x;
    dragY = y;
    FXString text;
    if (zoom) {
        const double f = quarel::plot::zoomFactor(pressY, y);
        text.format(f >= 1.0 ? "Zoom out: %.2f times the extent" : "Zoom in: %.2f times the extent",
                    f);
    } else {
        text.format("Pan by %d x %d pixels", x - pressX, y - pressY);
    }
    w_.statusLine->setText(text);
}
