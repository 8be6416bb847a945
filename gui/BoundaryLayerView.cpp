#include "BoundaryLayerView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "JobFiles.h"
#include "RunControl.h"
#include "message.h"
#include "plotdraw.h"
#include "plotmath.h"

// After fx.h, which it needs.
#include <FXPNGImage.h>

// clang-format off
FXDEFMAP(BoundaryLayerView) BoundaryLayerViewMap[] = {
    //________Message_Type____ID___________________________________Message_Handler_______
    FXMAPFUNC(SEL_PAINT,       BoundaryLayerView::ID_CANVAS,        BoundaryLayerView::onPaint),
    FXMAPFUNC(SEL_COMMAND,     BoundaryLayerView::ID_SAVE,          BoundaryLayerView::onCmdSave),
};
// clang-format on

FXIMPLEMENT(BoundaryLayerView, FXDialogBox, BoundaryLayerViewMap, ARRAYNUMBER(BoundaryLayerViewMap))

namespace {

// One surface's curves over x/c, from the stagnation point to the
// trailing edge.
struct Curves {
    std::vector<double> x, H, cf, dstar;
    double xtr = 1.0;
};

Curves curvesOf(const quarel::SurfaceLayer& layer) {
    Curves c;
    for (const quarel::Station& st : layer.st) {
        c.x.push_back(st.x);
        c.H.push_back(st.H);
        c.cf.push_back(st.cf);
        c.dstar.push_back(st.dstar);
    }
    c.xtr = layer.xtr;
    return c;
}

// The value of y at x along the curve (linear between stations), NaN off it.
double valueAt(const std::vector<double>& x, const std::vector<double>& y, double at) {
    for (std::size_t n = 1; n < x.size(); ++n) {
        const double a = x[n - 1], b = x[n];
        if ((at - a) * (at - b) <= 0.0 && a != b)
            return y[n - 1] + (y[n] - y[n - 1]) * (at - a) / (b - a);
    }
    return std::nan("");
}

}  // namespace

BoundaryLayerView::BoundaryLayerView(FXWindow* owner, const quarel::RunControl& run)
    : FXDialogBox(owner, "Boundary layer", DECOR_ALL, 0, 0, 760, 720, 0, 0, 0, 0, 4, 4),
      run_(&run) {
    FXHorizontalFrame* bottom = new FXHorizontalFrame(this, LAYOUT_SIDE_BOTTOM | LAYOUT_FILL_X);
    new FXButton(bottom, "Save Plot\tThe plots as a PNG picture and their data as CSV", NULL, this,
                 ID_SAVE, BUTTON_NORMAL | LAYOUT_RIGHT);
    new FXLabel(bottom, "Upper surface black, lower blue; squares: transition.", NULL,
                LAYOUT_LEFT | LAYOUT_CENTER_Y);
    FXVerticalFrame* well = new FXVerticalFrame(
        this, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    canvas_ = new FXCanvas(well, this, ID_CANVAS, LAYOUT_FILL_X | LAYOUT_FILL_Y);
}

bool BoundaryLayerView::available(const quarel::RunControl& run) {
    return run.hasResults() && run.results.viscous.valid;
}

void BoundaryLayerView::redraw() {
    if (!canvas_->id()) return;
    FXDCWindow dc(canvas_);
    paint(dc, canvas_->getWidth(), canvas_->getHeight());
}

long BoundaryLayerView::onPaint(FXObject*, FXSelector, void*) {
    redraw();
    return 1;
}

void BoundaryLayerView::paint(FXDC& dc, int W, int H) {
    using namespace quarel;
    FXFont* font = draw::clearPicture(dc, getApp(), W, H);
    const int textH = font->getFontHeight();

    std::vector<FXString> title;
    if (!available(*run_)) {
        title.push_back("No boundary layer: the last calculation was inviscid.");
    } else {
        const JobParameters& in = run_->resultsInputs();
        const ViscousResults& v = run_->results.viscous;
        FXString line = run_->title().c_str();
        title.push_back(line + ": boundary layer");
        line.format("M %.3f   alpha %.3f deg   Re %.2fe6   Ncrit %g   grid %d x %d", in.mach,
                    in.alpha, in.viscous.reynolds / 1.0e6, in.viscous.ncrit, run_->level().NX,
                    run_->level().NY);
        title.push_back(line);
        line.format(
            "Clift %.5f   Cdrag(total) %.5f = %.5f friction + %.5f pressure   "
            "Xtr upper %.3f, lower %.3f%s",
            run_->results.clift, v.cdTotal, v.cdFriction, v.cdTotal - v.cdFriction, v.xtrUpper,
            v.xtrLower, v.converged ? "" : "   (not converged)");
        title.push_back(line);
    }
    int y = 4;
    for (FXString& line : title) {
        while (line.length() > 4 && font->getTextWidth(line) > W - 16) {
            line.trunc(line.length() - 4);
            line += "...";
        }
        y += textH;
        dc.drawText(8, y - font->getFontDescent(), line.text(), line.length());
    }
    if (!available(*run_)) return;

    const ViscousResults& v = run_->results.viscous;
    const Curves surfaces[2] = {curvesOf(v.layer.upper), curvesOf(v.layer.lower)};
    const char* colours[2] = {"Black", "Blue"};
    struct Panel {
        const char* yTitle;
        std::vector<double> Curves::*values;
    };
    const Panel panels[3] = {{"H", &Curves::H}, {"Cf", &Curves::cf}, {"delta*/c", &Curves::dstar}};
    const int labelW = font->getTextWidth("0.0000") + 12;
    const int top = y + 8;
    const int panelH = (H - top) / 3;
    for (int n = 0; n < 3; ++n) {
        const Panel& p = panels[n];
        plot::Frame f;
        f.left = 8 + labelW;
        f.right = W - 16;
        f.top = top + n * panelH + textH + 6;
        f.bottom = top + (n + 1) * panelH - 2 * textH - 12;
        if (f.right - f.left < 40 || f.bottom - f.top < 30) continue;
        // The range of the values away from the stagnation point, where the
        // skin friction of the thin start would flatten every other value.
        std::vector<double> shown;
        for (const Curves& c : surfaces)
            for (std::size_t m = 0; m < c.x.size(); ++m)
                if (c.x[m] >= 0.02 && c.x[m] <= 1.0) shown.push_back((c.*p.values)[m]);
        double y0 = 0.0, y1 = 1.0;
        if (!plot::paddedRange(shown, 0.08, y0, y1)) y0 = 0.0, y1 = 1.0;
        if (p.values != &Curves::H) y0 = std::min(y0, 0.0);  // Cf and delta* from zero
        f.x0 = 0.0;
        f.x1 = 1.0;
        f.yTop = y1;
        f.yBottom = y0;
        draw::axes(dc, font, f, "x/c", p.yTitle, true);
        for (int s = 0; s < 2; ++s) {
            const Curves& c = surfaces[s];
            const std::vector<double>& values = c.*p.values;
            draw::polyline(dc, f, c.x.data(), values.data(), static_cast<int>(c.x.size()),
                           colours[s], false);
            const double xt = c.xtr, yt = valueAt(c.x, values, c.xtr);
            if (c.xtr < 1.0) draw::markers(dc, f, &xt, &yt, 1, colours[s]);
        }
    }
}

std::string BoundaryLayerView::plotData() const {
    if (!available(*run_)) return "";
    const quarel::ViscousResults& v = run_->results.viscous;
    std::string out = "surface,x/c,H,Cf,delta*/c,theta/c,regime\n";
    char b[256];
    auto part = [&](const char* name, const quarel::SurfaceLayer& l) {
        for (const quarel::Station& st : l.st) {
            std::snprintf(b, sizeof b, "%s,%.6f,%.5f,%.6e,%.6e,%.6e,%s\n", name, st.x, st.H, st.cf,
                          st.dstar, st.theta, st.turbulent ? "turbulent" : "laminar");
            out += b;
        }
    };
    part("upper", v.layer.upper);
    part("lower", v.layer.lower);
    std::snprintf(b, sizeof b, "# transition x/c: upper %.5f, lower %.5f\n", v.xtrUpper,
                  v.xtrLower);
    out += b;
    return out;
}

void BoundaryLayerView::savePlot(const FXString& pngPath) {
    if (!available(*run_)) throw quarel::FileError("There are no boundary-layer results to save.");
    const int W = std::max(canvas_->getWidth(), 400), H = std::max(canvas_->getHeight(), 400);
    quarel::draw::savePicture(getApp(), pngPath, W, H, [&](FXDC& dc) { paint(dc, W, H); });
    quarel::WriteTextFile((FXPath::stripExtension(pngPath) + ".csv").text(), plotData(),
                          "boundary-layer table");
}

long BoundaryLayerView::onCmdSave(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save Plot");
    dialog.setPatternList("PNG image (*.png)");
    const std::string input = run_->files().inputPath;
    if (input.size() > 4)
        dialog.setFilename((input.substr(0, input.size() - 4) + "_bl.png").c_str());
    if (!dialog.execute(PLACEMENT_CURSOR)) return 1;
    FXString path = dialog.getFilename();
    if (FXPath::extension(path).lower() != "png") path += ".png";
    const FXString csv = FXPath::stripExtension(path) + ".csv";
    if ((FXStat::exists(path) || FXStat::exists(csv)) &&
        FXMessageBox::question(this, MBOX_YES_NO, "Save Plot",
                               "%s or %s exists already. Replace it?", path.text(),
                               csv.text()) != MBOX_CLICKED_YES) {
        return 1;
    }
    try {
        savePlot(path);
    } catch (const std::exception& e) {
        FXMessageBox::error(this, MBOX_OK, "Save Plot", "%s", e.what());
    }
    return 1;
}
