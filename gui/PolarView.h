// "Polar": the results of a sweep drawn as they come in.  Over angles of
// attack: Clift against alpha, Clift against Cdrag, Cmoment against alpha;
// over Mach numbers: Clift, Cdrag and Cmoment against Mach.  Cdrag is the
// wave drag, or in viscous mode the total drag.  Points that
// did not converge are marked red.  "Save Table" writes the sweep's CSV.
#pragma once

#include <fx.h>

#include <string>
#include <vector>

#include "Sweep.h"

class PolarView : public FXDialogBox {
    FXDECLARE(PolarView)

public:
    enum { ID_CANVAS = FXDialogBox::ID_LAST, ID_SAVE, ID_LAST };

    explicit PolarView(FXWindow* owner);

    // The points so far of a sweep over `variable`; `title` names the
    // section and the fixed conditions.  Repaints.
    void setPoints(const std::vector<quarel::SweepPoint>& points,
                   quarel::SweepSpec::Variable variable, const std::string& title);
    const std::vector<quarel::SweepPoint>& points() const { return points_; }

    // Writes the sweep table (the batch program's CSV).  Throws
    // quarel::FileError.
    void saveTable(const std::string& path) const;

    FXCanvas* canvas() const { return canvas_; }
    // Draws the three plots into `dc` of W x H pixels.
    void paint(FXDC& dc, int W, int H);

    long onPaint(FXObject*, FXSelector, void*);
    long onCmdSave(FXObject*, FXSelector, void*);

protected:
    PolarView() {}

private:
    PolarView(const PolarView&) = delete;
    PolarView& operator=(const PolarView&) = delete;

    std::vector<quarel::SweepPoint> points_;
    quarel::SweepSpec::Variable variable_ = quarel::SweepSpec::Variable::Alpha;
    std::string title_;
    FXCanvas* canvas_ = nullptr;
};
