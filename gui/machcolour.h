// Colour scale and view geometry of the Mach-number picture, kept free of
// the GUI toolkit and of OpenGL so that they can be checked on their own.
//
// All quantities are single precision, like the picture itself.
#pragma once

#include <cstddef>

namespace quarel {

// Red, green and blue in [0, 1].
struct MachRgb {
    float r, g, b;
};

// Largest and smallest Mach number the colour scale resolves.
constexpr float kMachScaleMin = 0.0f;
constexpr float kMachScaleMax = 2.0f;

// The seven breakpoints q/3, q = 0..6, of the colour scale, formed by
// adding the single-precision step 1/3 six times (so the upper ones carry
// the rounding of that sum).
const float* machBreakpoints();

// Colour of the local Mach number m.  m is clamped to [0, 2]; the range is
// cut into six intervals of width 1/3:
//   0   .. 1/3  blue -> cyan          1   .. 4/3  yellow -> red
//   1/3 .. 2/3  cyan -> green         4/3 .. 5/3  red -> light red
//   2/3 .. 1    green -> yellow       5/3 .. 2    light red -> white
// Sonic flow (m = 1) is pure yellow.  A NaN (a diverged field) is shown as
// m = 0, so it can never reach OpenGL as a colour.
MachRgb machColour(float m);

// Left, right, bottom and top of an orthographic view, in chord units.
struct ViewRect {
    float left, right, bottom, top;
};

// Canvas width / height as the picture uses it: 1 when the height is not
// positive.
float viewAspectOf(int width, int height);

// View rectangle of a canvas of width x height pixels for the view centre
// (centreX, centreY), the base half-width and the zoom factor: the
// half-width is halfWidth*zoom, the half-height follows from the aspect.
ViewRect viewRectangle(int width, int height, float centreX, float centreY, float halfWidth,
                       float zoom);

// Geometry of the colour bar along the bottom of a view rectangle.
//   p      margin and unit height: (right - left)/22
//   x1, x2 ends of the bar, y1, y2 its bottom and top (black rectangle)
//   yc     bottom of the coloured strip, 0.7 p above y1
//   d      spacing of the 21 ticks, (x2 - x1)/20
//   e      Mach-number step between ticks, (2 - 0)/20
struct ColourBarLayout {
    float p, x1, x2, y1, y2, yc, d, e;
};
ColourBarLayout colourBarLayout(const ViewRect& view);

// Number of interior ticks that carry a value label.
constexpr int kColourBarLabels = 19;

// Text of the colour-bar value v with three significant digits ("0.1",
// "1", "1.9").  Writes at most size bytes including the terminating NUL
// and returns buf.
char* colourBarLabel(float v, char* buf, std::size_t size);

}  // namespace quarel
