// The Mach-number picture: its colour scale and view geometry, pan and
// zoom with the mouse, and the colours of a rendered picture read back
// from the canvas.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

#include "GLView3D.h"
#include "GridLevel.h"
#include "gui_app.h"
#include "machcolour.h"
#include "state.h"

// After fx.h, which it needs.
#include <FXPNGImage.h>

namespace {

using quarel::machColour;
using quarel::MachRgb;

void expectColour(const MachRgb& c, float r, float g, float b, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_NEAR(c.r, r, 1e-6f);
    EXPECT_NEAR(c.g, g, 1e-6f);
    EXPECT_NEAR(c.b, b, 1e-6f);
}

TEST(MachColour, ScaleValuesClampingAndContinuity) {
    expectColour(machColour(0.5f), 0.0f, 1.0f, 0.5f, "M = 0.5");
    expectColour(machColour(1.0f), 1.0f, 1.0f, 0.0f, "sonic");
    expectColour(machColour(1.5f), 1.0f, 0.25f, 0.25f, "M = 1.5");
    expectColour(machColour(0.0f), 0.0f, 0.0f, 1.0f, "M = 0");
    expectColour(machColour(-0.7f), 0.0f, 0.0f, 1.0f, "below the range");
    expectColour(machColour(2.0f), 1.0f, 1.0f, 1.0f, "M = 2");
    expectColour(machColour(3.4f), 1.0f, 1.0f, 1.0f, "above the range");
    expectColour(machColour(std::numeric_limits<float>::infinity()), 1.0f, 1.0f, 1.0f, "inf");
    expectColour(machColour(std::numeric_limits<float>::quiet_NaN()), 0.0f, 0.0f, 1.0f, "NaN");

    // Breakpoints accumulated from the single-precision step: close to
    // q/3, strictly increasing, with the float rounding of the sum.
    const float* bp = quarel::machBreakpoints();
    float sum = 0.0f;
    for (int q = 0; q <= 6; ++q) {
        EXPECT_EQ(bp[q], sum) << q;
        EXPECT_NEAR(bp[q], q / 3.0, 1e-6) << q;
        sum += 1.0f / 3.0f;
    }

    // The scale is continuous: no jump in colour across any breakpoint, and
    // every component stays within [0, 1].
    for (int q = 1; q <= 5; ++q) {
        const MachRgb lo = machColour(bp[q] - 1e-4f), hi = machColour(bp[q] + 1e-4f);
        EXPECT_NEAR(lo.r, hi.r, 1e-3f) << q;
        EXPECT_NEAR(lo.g, hi.g, 1e-3f) << q;
        EXPECT_NEAR(lo.b, hi.b, 1e-3f) << q;
    }
    for (float m = -0.1f; m <= 2.1f; m += 0.01f) {
        const MachRgb c = machColour(m);
        for (float v : {c.r, c.g, c.b}) {
            EXPECT_GE(v, 0.0f) << m;
            EXPECT_LE(v, 1.0f) << m;
        }
    }
}

TEST(MachViewGeometry, InitialViewColourBarAndLabels) {
    // A canvas twice as wide as high at the initial view parameters.
    const quarel::ViewRect v = quarel::viewRectangle(800, 400, 0.5f, 0.0f, 1.5f, 1.0f);
    EXPECT_FLOAT_EQ(v.left, -1.0f);
    EXPECT_FLOAT_EQ(v.right, 2.0f);
    EXPECT_FLOAT_EQ(v.bottom, -0.75f);
    EXPECT_FLOAT_EQ(v.top, 0.75f);
    // No height: the aspect falls back to 1.
    const quarel::ViewRect flat = quarel::viewRectangle(800, 0, 0.5f, 0.0f, 1.5f, 2.0f);
    EXPECT_FLOAT_EQ(flat.top - flat.bottom, flat.right - flat.left);

    // Colour bar: inset by one unit P = width/22 from the left, right and
    // bottom, two units high, 20 divisions over its length.
    const quarel::ColourBarLayout b = quarel::colourBarLayout(v);
    EXPECT_FLOAT_EQ(b.p, 3.0f / 22.0f);
    EXPECT_FLOAT_EQ(b.x1, -1.0f + b.p);
    EXPECT_FLOAT_EQ(b.x2, 2.0f - b.p);
    EXPECT_FLOAT_EQ(b.y2 - b.y1, 2.0f * b.p);
    EXPECT_FLOAT_EQ(b.yc - b.y1, 0.7f * b.p);
    EXPECT_FLOAT_EQ(b.d * 20.0f, b.x2 - b.x1);
    EXPECT_FLOAT_EQ(b.e, 0.1f);

    // The 19 labels, from values accumulated in single precision, read
    // 0.1 .. 1.9 with no rounding noise.
    float value = 0.0f;
    char text[16];
    for (int q = 1; q <= quarel::kColourBarLabels; ++q) {
        value += b.e;
        char expect[16];
        std::snprintf(expect, sizeof expect, q == 10 ? "%.0f" : "%.1f", q / 10.0);
        EXPECT_EQ(std::string(quarel::colourBarLabel(value, text, sizeof text)), expect);
    }
    EXPECT_EQ(std::string(quarel::colourBarLabel(0.25f, text, 3)), "0.");  // truncated safely
}

// ---- With a display --------------------------------------------------------

struct Rgb8 {
    int r, g, b;
};

class MachViewGui : public ::testing::Test {
protected:
    void SetUp() override {
        if (testApp() == nullptr) GTEST_SKIP() << "no X display";
        owner = new FXMainWindow(testApp(), "owner", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
        owner->create();
        view = new GLView3D(owner, &level);
        view->create();
        view->show(PLACEMENT_OWNER);
        testApp()->runWhileEvents();
        testApp()->flush(true);
        W = view->canvas()->getWidth();
        H = view->canvas()->getHeight();
        ASSERT_GT(W, 100);
        ASSERT_GT(H, 100);
    }
    void TearDown() override {
        delete view;
        delete owner;
    }

    void release(int fromX, int fromY, int toX, int toY, FXuint state) {
        FXEvent ev;
        ev.last_x = fromX;
        ev.last_y = fromY;
        ev.state = 0;
        const FXSelector id = GLView3D::ID_CANVAS;
        view->handle(view->canvas(), FXSEL(SEL_LEFTBUTTONPRESS, id), &ev);
        ev.last_x = toX;
        ev.last_y = toY;
        view->handle(view->canvas(), FXSEL(SEL_MOTION, id), &ev);
        ev.state = state;
        view->handle(view->canvas(), FXSEL(SEL_LEFTBUTTONRELEASE, id), &ev);
    }

    // Pixel column and row (from the bottom) of chord position x, y in
    // the last projection.
    int toPx(float x) const {
        return static_cast<int>((x - view->viewLeft) / (view->viewRight - view->viewLeft) * W);
    }
    int toPy(float y) const {
        return static_cast<int>((y - view->viewBottom) / (view->viewTop - view->viewBottom) * H);
    }

    // Renders into the back buffer and reads the pixel at chord position
    // (x, y) of the current view.
    Rgb8 pixelAt(float x, float y) {
        EXPECT_TRUE(view->drawFrame());
        glFinish();
        const int px = toPx(x), py = toPy(y);
        unsigned char p[3] = {0, 0, 0};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(px, py, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
        view->canvas()->makeNonCurrent();
        return {p[0], p[1], p[2]};
    }

    quarel::GridLevel level;
    FXMainWindow* owner = nullptr;
    GLView3D* view = nullptr;
    int W = 0, H = 0;
};

void expectPixel(const Rgb8& p, const MachRgb& c, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_NEAR(p.r, c.r * 255.0f, 3.0f);
    EXPECT_NEAR(p.g, c.g * 255.0f, 3.0f);
    EXPECT_NEAR(p.b, c.b * 255.0f, 3.0f);
}

TEST_F(MachViewGui, PanAndZoomOnRelease) {
    EXPECT_EQ(view->getTitle(), FXString("M picture"));
    EXPECT_FLOAT_EQ(view->viewZoom, 1.0f);

    // Control-drag upwards by half the canvas height: the view rectangle
    // grows by half.
    const int y0 = H - 10;
    release(50, y0, 50, y0 - H / 2, CONTROLMASK);
    EXPECT_NEAR(view->viewZoom, 1.5f, 1.0f / H);
    if (H % 2 == 0) {
        EXPECT_FLOAT_EQ(view->viewZoom, 1.5f);
    }
    EXPECT_FLOAT_EQ(view->viewCentreX, 0.5f);
    EXPECT_FLOAT_EQ(view->viewCentreY, 0.0f);

    // A plain drag moves the centre against the pointer: right by half the
    // width and down by a quarter of the height.
    release(10, 10, 10 + W / 2, 10 + H / 4, 0);
    EXPECT_NEAR(view->viewCentreX, 0.5f - 1.0f, 2.0f / W);
    EXPECT_NEAR(view->viewCentreY, 0.5f, 2.0f / H);
    EXPECT_NEAR(view->viewZoom, 1.5f, 1.0f / H);

    // A Control-drag downwards longer than the canvas cannot turn the view
    // inside out.
    release(10, 0, 10, 3 * H, CONTROLMASK);
    EXPECT_GT(view->viewZoom, 0.0f);
}

TEST_F(MachViewGui, RenderedColoursFieldAndColourBar) {
    // A rectangular grid over [-4, 5] x [-4, 4] with spacing 0.1, free
    // stream Mach 0.5 everywhere except a sonic patch over
    // [0.2, 0.8] x [-0.3, 0.3].
    level.NX = 90;
    level.NY = 81;
    for (int j = 1; j <= level.NY; ++j) {
        for (int i = 0; i <= level.NX; ++i) {
            quarel::xg(i, j) = -4.0 + 0.1 * i;
            quarel::yg(i, j) = -4.0 + 0.1 * (j - 1);
        }
    }
    for (int j = 1; j <= level.NY; ++j) {
        for (int i = 0; i < level.NX; ++i) {
            const double xm = -4.0 + 0.1 * i + 0.05, ym = -4.0 + 0.1 * (j - 1);
            const bool patch = xm > 0.2 && xm < 0.8 && ym > -0.3 && ym < 0.3;
            quarel::amach(i, j) = patch ? 1.0 : 0.5;
        }
    }

    expectPixel(pixelAt(-0.6f, 0.55f), machColour(0.5f), "free stream, upper left");
    expectPixel(pixelAt(1.7f, -0.4f), machColour(0.5f), "free stream, right");
    expectPixel(pixelAt(0.5f, 0.0f), machColour(1.0f), "sonic patch");

    // The colour bar is drawn over the field: blue at its left end, white
    // at its right end, black in the band below the strip between labels.
    const quarel::ColourBarLayout b =
        quarel::colourBarLayout({view->viewLeft, view->viewRight, view->viewBottom, view->viewTop});
    const float ym = 0.5f * (b.yc + b.y2);
    expectPixel(pixelAt(b.x1 + 0.1f * b.d, ym), {0.0f, 0.03f, 1.0f}, "bar, left end");
    const Rgb8 right = pixelAt(b.x2 - 0.1f * b.d, ym);
    EXPECT_EQ(right.r, 255);
    EXPECT_GE(right.g, 245);
    EXPECT_GE(right.b, 245);
    expectPixel(pixelAt(b.x1 + 0.5f * b.d, b.y1 + 0.1f * b.p), {0, 0, 0}, "bar, below labels");

    // The label "1" at the middle tick is drawn in white on the black band:
    // some pixel of its box carries that colour.
    ASSERT_TRUE(view->drawFrame());
    glFinish();
    const float x0 = b.x1 + 10.0f * b.d - 0.2f * b.d, y0 = b.yc - 0.5f * b.d;
    const float s = 0.06f * view->viewZoom;
    const int px0 = toPx(x0), px1 = toPx(x0 + 0.65f * s) + 1;
    const int py0 = toPy(y0), py1 = toPy(y0 + s) + 1;
    std::unique_ptr<unsigned char[]> box(new unsigned char[3 * (px1 - px0) * (py1 - py0)]);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(px0, py0, px1 - px0, py1 - py0, GL_RGB, GL_UNSIGNED_BYTE, box.get());
    view->canvas()->makeNonCurrent();
    int white = 0;
    for (int n = 0; n < (px1 - px0) * (py1 - py0); ++n) {
        const unsigned char* p = &box[3 * n];
        if (p[0] > 200 && p[1] > 200 && p[2] > 200) ++white;
    }
    EXPECT_GE(white, 8) << "label pixels in a " << px1 - px0 << " x " << py1 - py0 << " box";

    // Without a grid (NY <= 2) only the colour bar is drawn.
    level.NY = 2;
    expectPixel(pixelAt(0.5f, 0.0f), {0, 0, 0}, "no grid: background");
    expectPixel(pixelAt(b.x1 + 0.1f * b.d, ym), {0.0f, 0.03f, 1.0f}, "no grid: bar");
}

// A field that rises through Mach 1 along x: the sonic line is drawn in
// black where M = 1 and nowhere else; the picture is saved with its title.
TEST_F(MachViewGui, SonicLineTitleAndSave) {
    level.NX = 90;
    level.NY = 81;
    for (int j = 1; j <= level.NY; ++j) {
        for (int i = 0; i <= level.NX; ++i) {
            quarel::xg(i, j) = -4.0 + 0.1 * i;
            quarel::yg(i, j) = -4.0 + 0.1 * (j - 1);
            quarel::amach(i, j) = 0.5 + (-4.0 + 0.1 * i + 0.05) + 0.013;  // M = 1 at x = 0.487
        }
    }
    view->caption = [] { return FXString("Mach number: test field"); };
    int darkest = 3 * 255;
    pixelAt(0.0f, 0.0f);  // a paint sets the view rectangle
    const float pixel = (view->viewRight - view->viewLeft) / W;
    for (int n = -3; n <= 3; ++n) {
        const Rgb8 p = pixelAt(0.487f + n * pixel, 0.5f);
        darkest = std::min(darkest, p.r + p.g + p.b);
    }
    EXPECT_LT(darkest, 60) << "sonic line";
    // Away from it the shading (linear within one interval of the scale).
    expectPixel(pixelAt(0.7f, 0.5f), quarel::machColour(1.213f), "supersonic side");
    expectPixel(pixelAt(0.3f, 0.5f), quarel::machColour(0.813f), "subsonic side");
    view->render();
    EXPECT_STREQ(view->titleLabel()->getText().text(), "Mach number: test field");

    char pattern[] = "/tmp/quarel_mach_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string png = std::string(pattern) + "/mach.png";
    view->savePicture(png.c_str());
    FXPNGImage back(testApp());
    FXFileStream stream;
    ASSERT_TRUE(stream.open(png.c_str(), FXStreamLoad));
    ASSERT_TRUE(back.loadPixels(stream));
    EXPECT_EQ(back.getWidth(), W);
    EXPECT_GT(back.getHeight(), H);  // the title band above the picture
    std::filesystem::remove_all(pattern);
}

}  // namespace
