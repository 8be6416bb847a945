// Colour scale and view geometry of the Mach-number picture.
#include "machcolour.h"

#include <cmath>
#include <cstdio>

namespace quarel {

namespace {

struct Breakpoints {
    float bp[7];
    Breakpoints() {
        // Accumulated in single precision, exactly as the scale is defined:
        // the breakpoints are not the correctly rounded values of q/3.
        const float step = 1.0f / 3.0f;
        bp[0] = kMachScaleMin;
        for (int q = 1; q <= 6; ++q) bp[q] = bp[q - 1] + step;
    }
};

const Breakpoints& table() {
    static const Breakpoints t;
    return t;
}

}  // namespace

const float* machBreakpoints() {
    return table().bp;
}

MachRgb machColour(float m) {
    const float* bp = table().bp;
    const float step = 1.0f / 3.0f;
    if (!(m > kMachScaleMin)) m = kMachScaleMin;  // also catches NaN
    if (m > kMachScaleMax) m = kMachScaleMax;

    // Interval d with bp[d] < m <= bp[d+1]; d = 0 for m <= bp[1].  The
    // accumulated bp[6] need not equal 2 exactly, so the last interval
    // takes everything above bp[5].
    int d = 0;
    while (d < 5 && m > bp[d + 1]) ++d;
    float t = (m - bp[d]) / step;
    if (t < 0.0f) t = 0.0f;
    if (t > 1.0f) t = 1.0f;

    switch (d) {
        case 0:
            return {0.0f, t, 1.0f};  // blue -> cyan
        case 1:
            return {0.0f, 1.0f, 1.0f - t};  // cyan -> green
        case 2:
            return {t, 1.0f, 0.0f};  // green -> yellow
        case 3:
            return {1.0f, 1.0f - t, 0.0f};  // yellow -> red
        case 4:
            return {1.0f, 0.5f * t, 0.5f * t};  // red -> light red
        default:
            return {1.0f, 0.5f + 0.5f * t, 0.5f + 0.5f * t};  // light red -> white
    }
}

float viewAspectOf(int width, int height) {
    return height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
}

ViewRect viewRectangle(int width, int height, float centreX, float centreY, float halfWidth,
                       float zoom) {
    const float aspect = viewAspectOf(width, height);
    const float hw = halfWidth * zoom;
    const float hh = hw / aspect;
    return {centreX - hw, centreX + hw, centreY - hh, centreY + hh};
}

ColourBarLayout colourBarLayout(const ViewRect& view) {
    ColourBarLayout c;
    c.p = (view.right - view.left) / 22.0f;
    c.x1 = view.left + c.p;
    c.x2 = view.right - c.p;
    c.y1 = view.bottom + c.p;
    c.y2 = view.bottom + 3.0f * c.p;
    c.yc = c.y1 + 0.7f * c.p;
    c.d = (c.x2 - c.x1) / 20.0f;
    c.e = (kMachScaleMax - kMachScaleMin) / 20.0f;
    return c;
}

char* colourBarLabel(float v, char* buf, std::size_t size) {
    if (size == 0) return buf;
    std::snprintf(buf, size, "%.3g", static_cast<double>(v));
    return buf;
}

}  // namespace quarel
