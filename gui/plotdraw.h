// Drawing of plots with numbered axes on a toolkit drawing context: the
// Cp plot, the section picture and the polars share it.  The arithmetic
// (frames, ticks) is in plotmath.h.
#pragma once

#include <fx.h>
// after fx.h, which it needs
#include <FXPNGImage.h>

#include <functional>

#include "plotmath.h"

namespace quarel {
namespace draw {

// Liang-Barsky clipping of the segment (x0,y0)-(x1,y1) to the rectangle
// [xl, xh] x [yl, yh].  Returns false when nothing of it is inside.
//   x0, y0, x1, y1 [in,out]
bool clipSegment(double& x0, double& y0, double& x1, double& y1, double xl, double xh, double yl,
                 double yh);

// Lines through (x(n), y(n)), n < count, mapped by `f` and clipped to its
// rectangle; solid or dashed, in the named colour.
void polyline(FXDC& dc, const plot::Frame& f, const double* x, const double* y, int count,
              const char* colour, bool dashed);
// A small square at every point inside the frame.
void markers(FXDC& dc, const plot::Frame& f, const double* x, const double* y, int count,
             const char* colour);
// The frame's box, numbered ticks on both axes, the axis titles, and with
// `gridLines` orange dashed lines at the ticks.
void axes(FXDC& dc, FXFont* font, const plot::Frame& f, const char* xTitle, const char* yTitle,
          bool gridLines);
// Clears a W x H picture to white and sets the application's normal font
// and black for what follows; returns the font.
FXFont* clearPicture(FXDC& dc, FXApp* app, int W, int H);
// A tick label with as few decimals as the step needs.
FXString tickLabel(double v, double step);

// Paints a W x H picture with `paint` and writes it as the PNG file `path`;
// throws FileError when the file cannot be written.
void savePicture(FXApp* app, const FXString& path, int W, int H,
                 const std::function<void(FXDC&)>& paint);
// Writes `image` (already painted) as the PNG file `path`, or throws.
void writePng(FXPNGImage& image, const FXString& path);

}  // namespace draw
}  // namespace quarel
