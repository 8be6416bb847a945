// Drawing of the plots with numbered axes (see plotdraw.h).
#include "plotdraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "message.h"

namespace quarel {
namespace draw {

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

// Lines through (x(n), y(n)) mapped by `f` and clipped to its rectangle.
void polyline(FXDC& dc, const plot::Frame& f, const double* x, const double* y, int count,
              const char* colour, bool dashed) {
    std::vector<FXSegment> segments;
    for (int n = 0; n + 1 < count; ++n) {
        double x0 = f.px(x[n]), y0 = f.py(y[n]), x1 = f.px(x[n + 1]), y1 = f.py(y[n + 1]);
        if (!std::isfinite(x0 + y0 + x1 + y1)) continue;
        if (!clipSegment(x0, y0, x1, y1, f.left, f.right, f.top, f.bottom)) continue;
        FXSegment s;
        s.x1 = static_cast<FXshort>(std::lround(x0));
        s.y1 = static_cast<FXshort>(std::lround(y0));
        s.x2 = static_cast<FXshort>(std::lround(x1));
        s.y2 = static_cast<FXshort>(std::lround(y1));
        segments.push_back(s);
    }
    dc.setLineStyle(dashed ? LINE_ONOFF_DASH : LINE_SOLID);
    dc.setForeground(fxcolorfromname(colour));
    if (!segments.empty())
        dc.drawLineSegments(segments.data(), static_cast<FXuint>(segments.size()));
    dc.setLineStyle(LINE_SOLID);
}

FXFont* clearPicture(FXDC& dc, FXApp* app, int W, int H) {
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);
    FXFont* font = app->getNormalFont();
    dc.setFont(font);
    dc.setForeground(fxcolorfromname("Black"));
    return font;
}

FXString tickLabel(double v, double step) {
    int decimals = 0;
    while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                     std::round(step * std::pow(10.0, decimals))) > 1e-6)
        ++decimals;
    FXString s;
    s.format("%.*f", decimals, v);
    if (s == "-0" || s == "-0.0" || s == "-0.00") s = s.mid(1, s.length() - 1);
    return s;
}

void axes(FXDC& dc, FXFont* font, const plot::Frame& f, const char* xTitle, const char* yTitle,
          bool gridLines) {
    const int textH = font->getFontHeight(), ascent = font->getFontAscent();
    double xStep = 1.0, yStep = 1.0;
    const int xTicks = std::max(2, (f.right - f.left) / (font->getTextWidth("-0.00") + 14));
    const int yTicks = std::max(2, (f.bottom - f.top) / (2 * textH));
    const std::vector<double> xs = plot::niceTicks(f.x0, f.x1, xTicks, &xStep);
    const std::vector<double> ys = plot::niceTicks(f.yTop, f.yBottom, yTicks, &yStep);
    if (gridLines) {
        dc.setForeground(fxcolorfromname("Orange"));
        dc.setLineStyle(LINE_ONOFF_DASH);
        for (double x : xs) {
            const int X = static_cast<int>(std::lround(f.px(x)));
            dc.drawLine(X, f.top, X, f.bottom);
        }
        for (double y : ys) {
            const int Y = static_cast<int>(std::lround(f.py(y)));
            dc.drawLine(f.left, Y, f.right, Y);
        }
        dc.setLineStyle(LINE_SOLID);
    }
    dc.setForeground(fxcolorfromname("Black"));
    dc.drawRectangle(f.left, f.top, f.right - f.left, f.bottom - f.top);
    dc.setFont(font);
    int lastRight = -100000;
    for (double x : xs) {
        const FXString label = tickLabel(x, xStep);
        const int X = static_cast<int>(std::lround(f.px(x)));
        const int tw = font->getTextWidth(label);
        dc.drawLine(X, f.bottom, X, f.bottom + 4);
        if (X - tw / 2 <= lastRight + 4) continue;
        dc.drawText(X - tw / 2, f.bottom + 5 + ascent, label.text(), label.length());
        lastRight = X + tw / 2;
    }
    for (double y : ys) {
        const FXString label = tickLabel(y, yStep);
        const int Y = static_cast<int>(std::lround(f.py(y)));
        dc.drawLine(f.left - 4, Y, f.left, Y);
        dc.drawText(f.left - 6 - font->getTextWidth(label), Y + ascent / 2, label.text(),
                    label.length());
    }
    const int xtw = font->getTextWidth(xTitle, static_cast<FXuint>(std::strlen(xTitle)));
    dc.drawText((f.left + f.right - xtw) / 2, f.bottom + 7 + textH + ascent, xTitle,
                static_cast<FXuint>(std::strlen(xTitle)));
    // The y title stands above the frame's top left corner, clear of a
    // neighbouring plot's numbers.
    dc.drawText(f.left, f.top - 4, yTitle, static_cast<FXuint>(std::strlen(yTitle)));
}

void markers(FXDC& dc, const plot::Frame& f, const double* x, const double* y, int count,
             const char* colour) {
    dc.setForeground(fxcolorfromname(colour));
    for (int n = 0; n < count; ++n) {
        const double X = f.px(x[n]), Y = f.py(y[n]);
        if (!std::isfinite(X + Y) || !f.contains(static_cast<int>(X), static_cast<int>(Y)))
            continue;
        dc.fillRectangle(static_cast<int>(std::lround(X)) - 2, static_cast<int>(std::lround(Y)) - 2,
                         5, 5);
    }
}

void writePng(FXPNGImage& image, const FXString& path) {
    FXFileStream stream;
    bool ok = stream.open(path, FXStreamSave) && image.savePixels(stream);
    ok = stream.close() && ok;
    if (!ok) throw FileError("Cannot write the picture \"" + std::string(path.text()) + "\".");
}

void savePicture(FXApp* app, const FXString& path, int W, int H,
                 const std::function<void(FXDC&)>& paint) {
    FXPNGImage image(app, NULL, IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP, W, H);
    image.create();
    {
        FXDCWindow dc(&image);
        paint(dc);
    }
    image.restore();
    writePng(image, path);
}

}  // namespace draw
}  // namespace quarel
