// "M picture": OpenGL view of the local Mach-number field.
#include "GLView3D.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

// After fx.h (through GLView3D.h), which it needs.
#include <FXPNGImage.h>

#include "GridLevel.h"
#include "constants.h"
#include "machcolour.h"
#include "message.h"
#include "plotdraw.h"
#include "state.h"

// clang-format off
FXDEFMAP(GLView3D) GLView3DMap[] = {
    FXMAPFUNC(SEL_PAINT,             GLView3D::ID_CANVAS, GLView3D::onCanvasPaint),
    FXMAPFUNC(SEL_CONFIGURE,         GLView3D::ID_CANVAS, GLView3D::onCanvasConfigure),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS,   GLView3D::ID_CANVAS, GLView3D::onCanvasLeftPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, GLView3D::ID_CANVAS, GLView3D::onCanvasLeftRelease),
    FXMAPFUNC(SEL_MOTION,            GLView3D::ID_CANVAS, GLView3D::onCanvasMotion),
    FXMAPFUNC(SEL_COMMAND,           GLView3D::ID_SAVE,   GLView3D::onCmdSave),
};
// clang-format on

FXIMPLEMENT(GLView3D, FXDialogBox, GLView3DMap, ARRAYNUMBER(GLView3DMap))

FXint GLView3D::showLegend = 1;

namespace {

// ---- Label glyphs ---------------------------------------------------------
//
// The colour-bar labels are drawn with display lists 1000 + character
// code, one per character, each drawing its glyph and then moving the
// pen to the start of the next character.  The glyphs are strokes (lines)
// in glyph units: digits occupy a box 0.5 wide and 1 high standing on the
// baseline y = 0 and advance the pen by 0.65; the point is 0.12 wide and
// advances by 0.3.  The view scales the labels by 0.06*viewZoom, so one
// glyph unit is 0.44 of a colour-bar division (the division is
// 2*1.5*viewZoom/22 chord units) whatever the zoom: a digit is 0.44 of a
// division high and fits in the black band between the bottom of the bar
// and its coloured strip, and the widest label ("1.9", 1.45 units) takes
// 0.64 of a division, leaving a clear gap before the next label.  At the
// initial view of the 750-pixel dialog a digit is about 15 pixels high
// and 7 wide.
constexpr GLuint kGlyphBase = 1000;
constexpr float kDigitAdvance = 0.65f;
constexpr float kPointAdvance = 0.3f;
// The strokes below are laid out in a 0.6 x 1 box and squeezed to the
// 0.5-wide digit box as they are emitted.
constexpr float kSqueeze = 0.5f / 0.6f;

void vertex(float x, float y) {
    glVertex2f(kSqueeze * x, y);
}

// Vertices of an elliptic arc, centre (cx, cy), radii (rx, ry), from angle
// a0 to a1 in degrees (counter-clockwise when a1 > a0); inside glBegin.
void arc(float cx, float cy, float rx, float ry, float a0, float a1) {
    const int n = std::max(2, static_cast<int>(std::abs(a1 - a0) / 15.0f));
    for (int s = 0; s <= n; ++s) {
        const float a = (a0 + (a1 - a0) * static_cast<float>(s) / static_cast<float>(n)) *
                        static_cast<float>(quarel::kPiSingle) / 180.0f;
        vertex(cx + rx * std::cos(a), cy + ry * std::sin(a));
    }
}

void polyline(std::initializer_list<float> xy) {
    glBegin(GL_LINE_STRIP);
    for (auto p = xy.begin(); p != xy.end(); p += 2) vertex(p[0], p[1]);
    glEnd();
}

// Strokes of one digit.
void digitStrokes(char c) {
    switch (c) {
        case '0':
            glBegin(GL_LINE_LOOP);
            arc(0.3f, 0.5f, 0.3f, 0.5f, 0.0f, 345.0f);
            glEnd();
            break;
        case '1':
            polyline({0.1f, 0.78f, 0.32f, 1.0f, 0.32f, 0.0f});
            polyline({0.1f, 0.0f, 0.54f, 0.0f});
            break;
        case '2':
            glBegin(GL_LINE_STRIP);
            arc(0.3f, 0.72f, 0.29f, 0.28f, 160.0f, -40.0f);
            vertex(0.0f, 0.0f);
            vertex(0.6f, 0.0f);
            glEnd();
            break;
        case '3':
            glBegin(GL_LINE_STRIP);
            arc(0.3f, 0.76f, 0.27f, 0.24f, 150.0f, -90.0f);
            arc(0.3f, 0.27f, 0.3f, 0.25f, 90.0f, -150.0f);
            glEnd();
            break;
        case '4':
            polyline({0.45f, 0.0f, 0.45f, 1.0f, 0.0f, 0.3f, 0.6f, 0.3f});
            break;
        case '5':
            glBegin(GL_LINE_STRIP);
            vertex(0.56f, 1.0f);
            vertex(0.08f, 1.0f);
            vertex(0.04f, 0.56f);
            arc(0.3f, 0.32f, 0.3f, 0.32f, 130.0f, -150.0f);
            glEnd();
            break;
        case '6':
            glBegin(GL_LINE_STRIP);
            arc(0.3f, 0.5f, 0.3f, 0.5f, 60.0f, 195.0f);
            glEnd();
            glBegin(GL_LINE_LOOP);
            arc(0.3f, 0.3f, 0.3f, 0.3f, 0.0f, 345.0f);
            glEnd();
            break;
        case '7':
            polyline({0.0f, 1.0f, 0.6f, 1.0f, 0.18f, 0.0f});
            break;
        case '8':
            glBegin(GL_LINE_LOOP);
            arc(0.3f, 0.77f, 0.25f, 0.23f, 0.0f, 345.0f);
            glEnd();
            glBegin(GL_LINE_LOOP);
            arc(0.3f, 0.27f, 0.3f, 0.27f, 0.0f, 345.0f);
            glEnd();
            break;
        case '9':  // the 6 turned by half a turn about the centre of its box
            glBegin(GL_LINE_STRIP);
            arc(0.3f, 0.5f, 0.3f, 0.5f, 240.0f, 375.0f);
            glEnd();
            glBegin(GL_LINE_LOOP);
            arc(0.3f, 0.7f, 0.3f, 0.3f, 0.0f, 345.0f);
            glEnd();
            break;
        default:
            break;
    }
}

}  // namespace

GLView3D::GLView3D(FXWindow* owner, const quarel::GridLevel* gridLevel)
    : FXDialogBox(owner, "M picture", DECOR_ALL, 0, 0, 750, 735, 0, 0, 0, 0, 4, 4) {
    build(gridLevel);
}

void GLView3D::build(const quarel::GridLevel* gridLevel) {
    level = gridLevel;
    // The title across the top, the save button across the bottom, an
    // empty column against the right side, then the canvas in a sunken
    // frame filling the rest.
    title = new FXLabel(this, "Mach number", NULL, LAYOUT_SIDE_TOP | LAYOUT_FILL_X | JUSTIFY_LEFT);
    FXHorizontalFrame* bottom = new FXHorizontalFrame(this, LAYOUT_SIDE_BOTTOM | LAYOUT_FILL_X);
    new FXButton(bottom, "Save Picture\tThe picture with its title as a PNG file", NULL, this,
                 ID_SAVE, BUTTON_NORMAL | LAYOUT_RIGHT);
    new FXLabel(bottom, "Black line: sonic (M = 1).  Drag: pan;  Ctrl-drag: zoom.", NULL,
                LAYOUT_LEFT | LAYOUT_CENTER_Y);
    new FXVerticalFrame(this, LAYOUT_SIDE_RIGHT | LAYOUT_FILL_Y);
    FXVerticalFrame* area = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    FXVerticalFrame* well = new FXVerticalFrame(
        area, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    // Double-buffered visual with the toolkit's default sizes (8 bits per
    // colour, 24-bit depth buffer).  FOX 1.6 GL visuals always draw into a
    // window; it has no separate flag for that.
    glVisual = new FXGLVisual(getApp(), VISUAL_DOUBLEBUFFER);
    glCanvas = new FXGLCanvas(well, glVisual, this, ID_CANVAS, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    // The colour scale's breakpoint table is built on first use and never
    // changes.
    quarel::machBreakpoints();
}

GLView3D::~GLView3D() {
    // The canvas goes before the visual it was made with.
    delete glCanvas;
    glCanvas = nullptr;
    delete glVisual;
    glVisual = nullptr;
}

void GLView3D::create() {
    // The title takes its lines before the first layout: set only at the
    // first paint, its second line stayed cut off until something else
    // laid the dialog out again (never, without a window manager).
    if (caption) title->setText(caption());
    FXDialogBox::create();
}

// ---- Canvas messages --------------------------------------------------------

long GLView3D::onCanvasPaint(FXObject*, FXSelector, void*) {
    render();
    return 1;
}

long GLView3D::onCanvasConfigure(FXObject*, FXSelector, void*) {
    if (glCanvas->makeCurrent()) {
        glViewport(0, 0, glCanvas->getWidth(), glCanvas->getHeight());
        glCanvas->makeNonCurrent();
    }
    return 1;
}

long GLView3D::onCanvasLeftPress(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    dragStartX = event->last_x;
    dragStartY = event->last_y;
    return 1;
}

long GLView3D::onCanvasLeftRelease(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    const float w = static_cast<float>(glCanvas->getWidth());
    const float h = static_cast<float>(glCanvas->getHeight());
    const float dx = static_cast<float>(dragStartX - event->last_x);
    const float dy = static_cast<float>(dragStartY - event->last_y);
    if (w > 0.0f && h > 0.0f) {
        if (event->state & CONTROLMASK) {
            // Upwards enlarges the view rectangle (the picture shrinks),
            // downwards reduces it.  A downward drag longer than the canvas
            // would make the factor zero or negative, i.e. an empty or
            // mirrored projection; the factor is kept at 0.05 or above.
            viewZoom *= std::max(1.0f + dy / h, 0.05f);
        } else {
            // The picture follows the pointer: a drag across the whole
            // canvas moves the view by 2 chord units.
            viewCentreX += 2.0f * dx / w;
            viewCentreY -= 2.0f * dy / h;
        }
    }
    render();
    return 1;
}

long GLView3D::onCanvasMotion(FXObject*, FXSelector, void*) {
    // The view changes only when the button is released.
    return 1;
}

long GLView3D::onCmdSave(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save Picture");
    dialog.setPatternList("PNG image (*.png)");
    if (!dialog.execute(PLACEMENT_CURSOR)) return 1;
    FXString path = dialog.getFilename();
    if (FXPath::extension(path).lower() != "png") path += ".png";
    if (FXStat::exists(path) &&
        FXMessageBox::question(this, MBOX_YES_NO, "Save Picture", "%s exists already. Replace it?",
                               path.text()) != MBOX_CLICKED_YES) {
        return 1;
    }
    try {
        savePicture(path);
    } catch (const std::exception& e) {
        FXMessageBox::error(this, MBOX_OK, "Save Picture", "%s", e.what());
    }
    return 1;
}

void GLView3D::savePicture(const FXString& path) {
    const FXint w = glCanvas->getWidth(), h = glCanvas->getHeight();
    FXFont* font = getApp()->getNormalFont();
    const FXint band = (title->getText().contains('\n') + 1) * font->getFontHeight() + 8;
    if (w <= 0 || h <= 0 || !drawFrame()) throw quarel::FileError("There is no picture to save.");
    glFinish();
    std::vector<unsigned char> rgb(static_cast<std::size_t>(3 * w * h));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glCanvas->makeNonCurrent();
    FXPNGImage image(getApp(), NULL, IMAGE_KEEP | IMAGE_OWNED, w, h + band);
    for (FXint y = 0; y < band; ++y)
        for (FXint x = 0; x < w; ++x) image.setPixel(x, y, FXRGB(255, 255, 255));
    for (FXint y = 0; y < h; ++y) {
        for (FXint x = 0; x < w; ++x) {
            const unsigned char* p = &rgb[static_cast<std::size_t>(3 * ((h - 1 - y) * w + x))];
            image.setPixel(x, band + y, FXRGB(p[0], p[1], p[2]));
        }
    }
    image.create();
    {
        FXDCWindow dc(&image);
        dc.setFont(font);
        dc.setForeground(FXRGB(0, 0, 0));
        // One line per line of the title.
        const FXString text = title->getText();
        for (FXint n = 0, y = 4; n < text.contains('\n') + 1; ++n) {
            y += font->getFontHeight();
            const FXString line = text.section('\n', n);
            dc.drawText(6, y - font->getFontDescent(), line.text(), line.length());
        }
    }
    image.restore();
    quarel::draw::writePng(image, path);
}

// ---- Rendering ----------------------------------------------------------------

void GLView3D::render() {
    if (caption) {
        const FXString text = caption();
        if (text != title->getText()) title->setText(text);
    }
    if (!drawFrame()) return;
    if (glVisual->isDoubleBuffer()) glCanvas->swapBuffers();
    glCanvas->makeNonCurrent();
}

bool GLView3D::drawFrame() {
    const FXint w = glCanvas->getWidth();
    const FXint h = glCanvas->getHeight();
    viewAspect = quarel::viewAspectOf(w, h);
    if (!glCanvas->makeCurrent()) return false;
    // The label glyphs live in the context: build them the first time it is
    // used (also after the canvas has been re-created).
    if (!glIsList(kGlyphBase + static_cast<unsigned char>('0'))) buildGlyphs();

    glViewport(0, 0, w, h);
    glClearColor(FXREDVAL(background) / 255.0f, FXGREENVAL(background) / 255.0f,
                 FXBLUEVAL(background) / 255.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
    glDisable(GL_DITHER);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (viewAspect != 0.0f) drawPicture();
    return true;
}

void GLView3D::drawPicture() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();

    const quarel::ViewRect v =
        quarel::viewRectangle(glCanvas->getWidth(), glCanvas->getHeight(), viewCentreX, viewCentreY,
                              viewHalfWidth, viewZoom);
    viewLeft = v.left;
    viewRight = v.right;
    viewBottom = v.bottom;
    viewTop = v.top;
    glOrtho(viewLeft, viewRight, viewBottom, viewTop, zNear, zFar);

    drawField();
    if (showLegend == 1) drawColourBar();

    glPopMatrix();
}

void GLView3D::drawField() {
    if (level == nullptr || (hasField && !hasField())) return;
    // Never read past the storage, whatever the sizes say.
    const int nx = std::min(level->NX, quarel::kMaxNX);
    const int ny = std::min(level->NY, quarel::kMaxNY);
    if (ny <= 2 || nx < 1) return;

    using quarel::amach;
    using quarel::xg;
    using quarel::yg;
    // One triangle strip between each pair of lines j, j+1 (j = 1..NY-2):
    // the vertices are the midpoints of the i-faces, where amach lives,
    // coloured by their Mach number.  Line NY is not drawn.
    for (int j = 1; j <= ny - 2; ++j) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int k = 0; k <= nx - 1; ++k) {
            for (int jj = j; jj <= j + 1; ++jj) {
                const quarel::MachRgb c = quarel::machColour(static_cast<float>(amach(k, jj)));
                glColor3f(c.r, c.g, c.b);
                glVertex3f(static_cast<float>(0.5 * (xg(k, jj) + xg(k + 1, jj))),
                           static_cast<float>(0.5 * (yg(k, jj) + yg(k + 1, jj))), 0.0f);
            }
        }
        glEnd();
    }
    drawSonicLine(nx, ny);
}

// The sonic line: where the Mach number, linear over each triangle of the
// strips as the shading is, passes 1.  Black and two pixels wide over the
// yellow of the sonic colour; drawn without the depth test, as it lies in
// the plane of the field.
void GLView3D::drawSonicLine(int nx, int ny) {
    using quarel::amach;
    using quarel::xg;
    using quarel::yg;
    struct Node {
        float x, y, m;
    };
    auto node = [](int k, int j) {
        return Node{static_cast<float>(0.5 * (xg(k, j) + xg(k + 1, j))),
                    static_cast<float>(0.5 * (yg(k, j) + yg(k + 1, j))),
                    static_cast<float>(amach(k, j)) - 1.0f};
    };
    // Two pixels wide, as quadrilaterals: wide GL lines are not drawn by
    // every implementation.
    const float half = glCanvas->getWidth() > 0
                           ? (viewRight - viewLeft) / static_cast<float>(glCanvas->getWidth())
                           : 0.0f;
    glDisable(GL_DEPTH_TEST);
    glColor3f(0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    for (int j = 1; j <= ny - 2; ++j) {
        for (int k = 0; k + 1 <= nx - 1; ++k) {
            const Node q[4] = {node(k, j), node(k, j + 1), node(k + 1, j), node(k + 1, j + 1)};
            for (int t = 0; t < 2; ++t) {
                const Node* v[3] = {&q[t], &q[t + 1], &q[t + 2]};
                float px[2], py[2];
                int found = 0;
                for (int e = 0; e < 3 && found < 2; ++e) {
                    const Node& a = *v[e];
                    const Node& b = *v[(e + 1) % 3];
                    if (!(a.m * b.m < 0.0f)) continue;
                    const float s = a.m / (a.m - b.m);
                    px[found] = a.x + s * (b.x - a.x);
                    py[found] = a.y + s * (b.y - a.y);
                    ++found;
                }
                if (found < 2) continue;
                const float dx = px[1] - px[0], dy = py[1] - py[0];
                const float len = std::sqrt(dx * dx + dy * dy);
                if (!(len > 0.0f)) continue;
                // Half a width across, and as much along, so that the
                // pieces join.
                const float nx2 = -dy / len * half, ny2 = dx / len * half;
                const float ex = dx / len * half, ey = dy / len * half;
                glVertex3f(px[0] - ex + nx2, py[0] - ey + ny2, 0.0f);
                glVertex3f(px[1] + ex + nx2, py[1] + ey + ny2, 0.0f);
                glVertex3f(px[1] + ex - nx2, py[1] + ey - ny2, 0.0f);
                glVertex3f(px[0] - ex - nx2, py[0] - ey - ny2, 0.0f);
            }
        }
    }
    glEnd();
    glEnable(GL_DEPTH_TEST);
}

void GLView3D::drawColourBar() {
    const quarel::ColourBarLayout b =
        quarel::colourBarLayout({viewLeft, viewRight, viewBottom, viewTop});

    // The bar lies in the plane of the field, and with the depth test on
    // it would lose every fragment where the field already covers the
    // bottom of the view (and its strip, ticks and labels would lose
    // against its own black rectangle).  A user wants to read the scale,
    // so the bar is drawn without the depth test, on top of the field, its
    // parts in painting order.
    glDisable(GL_DEPTH_TEST);

    glColor3f(0.0f, 0.0f, 0.0f);
    glRectf(b.x1, b.y1, b.x2, b.y2);

    glBegin(GL_QUAD_STRIP);
    for (int q = 0; q <= 20; ++q) {
        const float x = b.x1 + static_cast<float>(q) * b.d;
        const quarel::MachRgb c = quarel::machColour(static_cast<float>(q) * b.e);
        glColor3f(c.r, c.g, c.b);
        glVertex3f(x, b.yc, 0.0f);
        glVertex3f(x, b.y2, 0.0f);
    }
    glEnd();
    glColor3f(0.0f, 0.0f, 0.0f);

    glBegin(GL_LINES);
    for (int q = 0; q <= 20; ++q) {
        const float x = b.x1 + static_cast<float>(q) * b.d;
        glVertex3f(x, b.yc, 0.0f);
        glVertex3f(x, b.y2, 0.0f);
    }
    glEnd();

    // Value labels at the interior ticks, placed in the modelview matrix so
    // the projection stack (only two deep in some implementations) is not
    // pushed again.
    const float scale = 0.06f * viewZoom;
    glLineWidth(1.5f);
    glListBase(kGlyphBase);
    glMatrixMode(GL_MODELVIEW);
    float value = 0.0f;
    char text[16];
    for (int q = 1; q <= quarel::kColourBarLabels; ++q) {
        value += b.e;
        quarel::colourBarLabel(value, text, sizeof text);
        // White on the black band: labels in the scale's own colours were
        // too faint at the blue end to be read.
        glColor3f(1.0f, 1.0f, 1.0f);
        glPushMatrix();
        glTranslatef(b.x1 + static_cast<float>(q) * b.d - 0.2f * b.d, b.yc - b.d / 2.0f, 0.0f);
        glScalef(scale, scale, 1.0f);
        glCallLists(static_cast<GLsizei>(std::strlen(text)), GL_UNSIGNED_BYTE, text);
        glPopMatrix();
    }
    glMatrixMode(GL_PROJECTION);
    glListBase(0);
    glLineWidth(1.0f);

    glEnable(GL_DEPTH_TEST);
}

void GLView3D::buildGlyphs() {
    for (char c = '0'; c <= '9'; ++c) {
        glNewList(kGlyphBase + static_cast<unsigned char>(c), GL_COMPILE);
        digitStrokes(c);
        glTranslatef(kDigitAdvance, 0.0f, 0.0f);
        glEndList();
    }
    glNewList(kGlyphBase + static_cast<unsigned char>('.'), GL_COMPILE);
    glRectf(0.04f, 0.0f, 0.16f, 0.12f);
    glTranslatef(kPointAdvance, 0.0f, 0.0f);
    glEndList();
}
