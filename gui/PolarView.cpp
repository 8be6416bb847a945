#include "PolarView.h"

#include <algorithm>

#include "JobFiles.h"
#include "message.h"
#include "plotdraw.h"
#include "plotmath.h"

// clang-format off
FXDEFMAP(PolarView) PolarViewMap[] = {
    //________Message_Type____ID___________________________Message_Handler_______
    FXMAPFUNC(SEL_PAINT,       PolarView::ID_CANVAS,        PolarView::onPaint),
    FXMAPFUNC(SEL_COMMAND,     PolarView::ID_SAVE,          PolarView::onCmdSave),
};
// clang-format on

FXIMPLEMENT(PolarView, FXDialogBox, PolarViewMap, ARRAYNUMBER(PolarViewMap))

PolarView::PolarView(FXWindow* owner)
    : FXDialogBox(owner, "Polar", DECOR_ALL, 0, 0, 1000, 460, 0, 0, 0, 0, 4, 4) {
    FXHorizontalFrame* bottom = new FXHorizontalFrame(this, LAYOUT_SIDE_BOTTOM | LAYOUT_FILL_X);
    new FXButton(bottom, "Save Table\tThe points of the sweep as CSV", NULL, this, ID_SAVE,
                 BUTTON_NORMAL | LAYOUT_RIGHT);
    new FXLabel(bottom, "Red points did not converge.", NULL, LAYOUT_LEFT | LAYOUT_CENTER_Y);
    FXVerticalFrame* well = new FXVerticalFrame(
        this, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    canvas_ = new FXCanvas(well, this, ID_CANVAS, LAYOUT_FILL_X | LAYOUT_FILL_Y);
}

void PolarView::setPoints(const std::vector<quarel::SweepPoint>& points,
                          quarel::SweepSpec::Variable variable, const std::string& title) {
    points_ = points;
    variable_ = variable;
    title_ = title;
    if (canvas_->id()) {
        FXDCWindow dc(canvas_);
        paint(dc, canvas_->getWidth(), canvas_->getHeight());
    }
}

void PolarView::saveTable(const std::string& path) const {
    quarel::WriteTextFile(path, quarel::SweepTable(points_), "sweep table");
}

long PolarView::onPaint(FXObject*, FXSelector, void*) {
    FXDCWindow dc(canvas_);
    paint(dc, canvas_->getWidth(), canvas_->getHeight());
    return 1;
}

void PolarView::paint(FXDC& dc, int W, int H) {
    using namespace quarel;
    FXFont* font = draw::clearPicture(dc, getApp(), W, H);
    const int textH = font->getFontHeight();
    FXString title = title_.c_str();
    while (title.length() > 4 && font->getTextWidth(title) > W - 16) {
        title.trunc(title.length() - 4);
        title += "...";
    }
    dc.drawText(8, textH + 4, title.text(), title.length());

    const bool alpha = variable_ == SweepSpec::Variable::Alpha;
    std::vector<double> a, m, cl, cd, cm;
    for (const SweepPoint& p : points_) {
        if (!p.done) continue;
        a.push_back(p.alpha);
        m.push_back(p.mach);
        cl.push_back(p.clift);
        // A viscous polar is one of the total drag, not of the wave drag.
        cd.push_back(p.viscous ? p.cdTotal : p.cdrag);
        cm.push_back(p.cmoment);
    }
    struct Panel {
        const std::vector<double>* x;
        const std::vector<double>* y;
        const char* xTitle;
        const char* yTitle;
    };
    const std::vector<double>& var = alpha ? a : m;
    const char* varTitle = alpha ? "alpha (deg)" : "Mach";
    const char* cdTitle = !points_.empty() && points_.front().viscous ? "Cdrag(total)" : "Cdrag";
    const Panel panels[3] = {
        {&var, &cl, varTitle, "Clift"},
        alpha ? Panel{&cd, &cl, cdTitle, "Clift"} : Panel{&var, &cd, varTitle, cdTitle},
        {&var, &cm, varTitle, "Cmoment"}};
    const int labelW = font->getTextWidth("-0.0000") + 12;
    const int panelW = (W - 8) / 3;
    for (int n = 0; n < 3; ++n) {
        const Panel& p = panels[n];
        plot::Frame f;
        f.left = 8 + n * panelW + labelW;
        f.right = 8 + (n + 1) * panelW - 12;
        f.top = 2 * textH + 16;
        f.bottom = H - 2 * textH - 16;
        if (f.right - f.left < 40 || f.bottom - f.top < 40) continue;
        double x0, x1, y0, y1;
        if (!plot::paddedRange(*p.x, 0.08, x0, x1) || !plot::paddedRange(*p.y, 0.08, y0, y1)) {
            x0 = 0.0;
            x1 = 1.0;
            y0 = 0.0;
            y1 = 1.0;
        }
        f.x0 = x0;
        f.x1 = x1;
        f.yTop = y1;
        f.yBottom = y0;
        draw::axes(dc, font, f, p.xTitle, p.yTitle, true);
        const int count = static_cast<int>(p.x->size());
        draw::polyline(dc, f, p.x->data(), p.y->data(), count, "Blue", false);
        draw::markers(dc, f, p.x->data(), p.y->data(), count, "Blue");
        // Points that did not converge, in red over the blue ones.
        std::vector<double> bx, by;
        std::size_t at = 0;
        for (const SweepPoint& s : points_) {
            if (!s.done) continue;
            if (!s.converged) {
                bx.push_back((*p.x)[at]);
                by.push_back((*p.y)[at]);
            }
            ++at;
        }
        draw::markers(dc, f, bx.data(), by.data(), static_cast<int>(bx.size()), "Red");
    }
}

long PolarView::onCmdSave(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save Table");
    dialog.setPatternList("CSV table (*.csv)");
    if (!dialog.execute(PLACEMENT_CURSOR)) return 1;
    FXString path = dialog.getFilename();
    if (FXPath::extension(path).lower() != "csv") path += ".csv";
    if (FXStat::exists(path) &&
        FXMessageBox::question(this, MBOX_YES_NO, "Save Table", "%s exists already. Replace it?",
                               path.text()) != MBOX_CLICKED_YES) {
        return 1;
    }
    try {
        saveTable(path.text());
    } catch (const std::exception& e) {
        FXMessageBox::error(this, MBOX_OK, "Save Table", "%s", e.what());
    }
    return 1;
}
