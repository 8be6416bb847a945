// "M picture": the OpenGL view of the local Mach-number field of the last
// calculation, drawn over the grid as smoothly shaded colour with a colour
// bar, with pan and zoom by the left mouse button.
//
// The view stores no picture: every paint reads the grid (xg, yg), the
// Mach field (amach) and the grid sizes NX, NY of the run's level again,
// so an open view shows a later calculation at its next paint.
#pragma once

#include <fx.h>
#include <fx3d.h>

#include <functional>

namespace quarel {
struct GridLevel;
}

class GLView3D : public FXDialogBox {
    FXDECLARE(GLView3D)

protected:
    GLView3D() {}

private:
    GLView3D(const GLView3D&);
    GLView3D& operator=(const GLView3D&);

public:
    enum {
        ID_CANVAS = FXDialogBox::ID_LAST,
        ID_SAVE,  // "Save Picture": the picture with its title as PNG
        ID_LAST
    };

    // The view of the run whose grid level in the solver arrays is
    // `level` (it must outlive the view; nullptr shows the colour bar only).
    GLView3D(FXWindow* owner, const quarel::GridLevel* level);
    virtual ~GLView3D();

    virtual void create();

    long onCanvasPaint(FXObject*, FXSelector, void*);
    long onCanvasConfigure(FXObject*, FXSelector, void*);
    long onCanvasLeftPress(FXObject*, FXSelector, void*);
    long onCanvasLeftRelease(FXObject*, FXSelector, void*);
    long onCanvasMotion(FXObject*, FXSelector, void*);
    long onCmdSave(FXObject*, FXSelector, void*);

    // Writes the picture as it is drawn now, with the title above it, as a
    // PNG file.  Throws quarel::FileError.
    void savePicture(const FXString& path);

    // Draws the picture into the canvas and shows it.
    void render();
    // Draws the picture into the canvas's drawing buffer and leaves the GL
    // context current without swapping buffers, so the caller can read
    // the pixels back (then it must call canvas()->makeNonCurrent()).
    // Returns false when the context could not be made current.
    bool drawFrame();

    FXGLCanvas* canvas() const { return glCanvas; }

    // ---- View state (chord units unless said otherwise) -----------------
    FXColor background = FXRGB(0, 0, 0);  // clear colour
    float viewCentreX = 0.5f, viewCentreY = 0.0f;
    float viewHalfWidth = 1.5f;  // base half-width of the view
    float viewZoom = 1.0f;       // factor on the half-width
    float viewAspect = 1.0f;     // canvas width / height, set at each paint
    float viewLeft = 0.0f, viewRight = 0.0f, viewBottom = 0.0f, viewTop = 0.0f;  // last projection
    float zNear = 1.0f, zFar = -1.0f;      // depth limits of the projection
    FXint dragStartX = 0, dragStartY = 0;  // pointer at the last left press (pixels)
    // 1: draw the colour bar.  One switch for every view.
    static FXint showLegend;
    // When set and false, the arrays hold no Mach field of the level (a
    // new grid has replaced the results): only the colour bar is drawn.
    std::function<bool()> hasField;
    // The title above the picture (the section and the flow of the field),
    // asked again at every paint.
    std::function<FXString()> caption;
    FXLabel* titleLabel() const { return title; }

private:
    void build(const quarel::GridLevel* level);
    void drawPicture();
    void drawField();
    void drawSonicLine(int nx, int ny);
    void drawColourBar();
    void buildGlyphs();

    const quarel::GridLevel* level = nullptr;  // source of NX, NY
    FXLabel* title = nullptr;
    FXGLVisual* glVisual = nullptr;
    FXGLCanvas* glCanvas = nullptr;
};
