// "Boundary layer": the shape factor H, the skin friction Cf and the
// displacement thickness delta*/c of the last viscous run against x/c,
// upper surface black, lower blue, the transition points marked, in three
// plots one above the other under a title with the section, the flow and
// the drag split.  "Save Plot" writes the picture as PNG and the plotted
// data as CSV beside it.  The view stores no copy: it draws the results
// the run control holds at every paint.
#pragma once

#include <fx.h>

#include <string>

namespace quarel {
class RunControl;
}

class BoundaryLayerView : public FXDialogBox {
    FXDECLARE(BoundaryLayerView)

public:
    enum { ID_CANVAS = FXDialogBox::ID_LAST, ID_SAVE, ID_LAST };

    BoundaryLayerView(FXWindow* owner, const quarel::RunControl& run);

    // True when `run` holds the results of a viscous calculation.
    static bool available(const quarel::RunControl& run);

    // Repaints the canvas from the results held now.
    void redraw();
    // Draws the title and the three plots into `dc` of W x H pixels.
    void paint(FXDC& dc, int W, int H);
    // Writes the picture (PNG of the canvas size) at `pngPath` and the data
    // (surface, x/c, H, Cf, delta*/c, theta/c, transition) with ".csv".
    // Throws quarel::FileError, also when there are no viscous results.
    void savePlot(const FXString& pngPath);
    // The plotted data as CSV text.
    std::string plotData() const;

    FXCanvas* canvas() const { return canvas_; }

    long onPaint(FXObject*, FXSelector, void*);
    long onCmdSave(FXObject*, FXSelector, void*);

protected:
    BoundaryLayerView() {}

private:
    BoundaryLayerView(const BoundaryLayerView&) = delete;
    BoundaryLayerView& operator=(const BoundaryLayerView&) = delete;

    const quarel::RunControl* run_ = nullptr;
    FXCanvas* canvas_ = nullptr;
};
