// "Cp editor 2D": widgets, commands and the plot of the target Cp editor.
#include "CpEdit.h"

#include <sys/stat.h>

#include <cmath>

#include "message.h"
#include "state.h"

// clang-format off
FXDEFMAP(CpEdit) CpEditMap[] = {
    //________Message_Type__________ID_from______________________ID_to____________________Message_Handler_______
    FXMAPFUNCS(SEL_COMMAND,          CpEdit::ID_UPPER,            CpEdit::ID_LOWER,        CpEdit::onCmdSurface),
    FXMAPFUNCS(SEL_COMMAND,          CpEdit::ID_UP_NO_CORRECTION, CpEdit::ID_LO_CORRECTION, CpEdit::onCmdCorrection),
    FXMAPFUNCS(SEL_COMMAND,          CpEdit::ID_U1,               CpEdit::ID_L2,           CpEdit::onCmdBound),
    FXMAPFUNCS(SEL_COMMAND,          CpEdit::ID_UP_SPLINE,        CpEdit::ID_LO_SPLINE,    CpEdit::onCmdSpline),
    FXMAPFUNC(SEL_COMMAND,           CpEdit::ID_NSPL,                                      CpEdit::onCmdNspl),
    FXMAPFUNC(SEL_COMMAND,           CpEdit::ID_DESIGN_SAVE,                               CpEdit::onCmdDesignSave),
    FXMAPFUNC(SEL_COMMAND,           CpEdit::ID_LOAD_TARGET,                               CpEdit::onCmdLoadTarget),
    FXMAPFUNC(SEL_COMMAND,           CpEdit::ID_SAVE_TARGET,                               CpEdit::onCmdSaveTarget),
    FXMAPFUNC(SEL_PAINT,             CpEdit::ID_CANVAS,                                    CpEdit::onPaint),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS,   CpEdit::ID_CANVAS,                                    CpEdit::onLeftPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, CpEdit::ID_CANVAS,                                    CpEdit::onLeftRelease),
    FXMAPFUNC(SEL_MOTION,            CpEdit::ID_CANVAS,                                    CpEdit::onMotion),
};
// clang-format on

FXIMPLEMENT(CpEdit, FXDialogBox, CpEditMap, ARRAYNUMBER(CpEditMap))

namespace {

constexpr FXuint kGroupOptions = GROUPBOX_NORMAL | FRAME_GROOVE | LAYOUT_FILL_X;
constexpr FXuint kSpinnerOptions = SPIN_NORMAL | FRAME_SUNKEN | FRAME_THICK;
constexpr FXuint kLabelOptions = JUSTIFY_RIGHT | LAYOUT_FILL_X | LAYOUT_CENTER_Y;

// The surface a control's identifier belongs to: 0 upper, 1 lower.
int surfaceOf(FXSelector id, FXSelector upperId) {
    return id == upperId ? 0 : 1;
}

}  // namespace

CpEdit::CpEdit(FXWindow* owner, const Input& input, FXObject* tgt, FXSelector sel)
    : FXDialogBox(owner, "Cp editor 2D", DECOR_ALL, 0, 0, 600, 560, 0, 0, 0, 0, 4, 4), in_(input) {
    setTarget(tgt);
    setSelector(sel);
    xTarget_.connect(ed_.ptrX);
    cytTarget_.connect(cyCur);
    cydTarget_.connect(cyDes);

    // 1. Separator under the title bar.
    new FXHorizontalSeparator(this, SEPARATOR_GROOVE | LAYOUT_FILL_X);

    // 2. The read-outs: pointer abscissa, the two lift values, the number
    // of control points.
    FXMatrix* values = new FXMatrix(this, 12, MATRIX_BY_COLUMNS | FRAME_RIDGE | LAYOUT_FILL_X);
    const FXuint fieldOptions = TEXTFIELD_REAL | JUSTIFY_RIGHT | FRAME_SUNKEN | FRAME_THICK;
    new FXLabel(values, "X=", NULL, kLabelOptions);
    w_.xField = new FXTextField(values, 9, &xTarget_, FXDataTarget::ID_VALUE, fieldOptions);
    new FXLabel(values, "Cyt=", NULL, kLabelOptions);
    w_.cytField = new FXTextField(values, 9, &cytTarget_, FXDataTarget::ID_VALUE, fieldOptions);
    new FXLabel(values, "Cyd=", NULL, kLabelOptions);
    w_.cydField = new FXTextField(values, 9, &cydTarget_, FXDataTarget::ID_VALUE, fieldOptions);
    new FXLabel(values, "Nspl=", NULL, kLabelOptions);
    w_.nsplSpinner = new FXSpinner(values, 3, this, ID_NSPL, kSpinnerOptions);
    // At least two control points are needed and the table holds 21.
    w_.nsplSpinner->setRange(quarel::CpEditor::kMinControlPoints,
                             quarel::CpEditor::kMaxControlPoints);
    new FXFrame(values, LAYOUT_FILL_X);

    // 3. Controls on the left, the plot on the right.
    FXVerticalFrame* body = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    FXHorizontalFrame* columns =
        new FXHorizontalFrame(body, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    FXVerticalFrame* controls = new FXVerticalFrame(columns, LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    const char* surfaceNames[2] = {"Upper surface", "Lower surface"};
    const char* lastNames[2] = {"U2=", "L2="};
    const char* firstNames[2] = {"U1=", "L1="};
    for (int s = 0; s < 2; ++s) {
        FXVerticalFrame* column =
            new FXVerticalFrame(controls, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
        w_.surfaceRadio[s] = new FXRadioButton(column, surfaceNames[s], this, ID_UPPER + s);
        FXGroupBox* group = new FXGroupBox(column, "", kGroupOptions);
        w_.noCorrectionRadio[s] =
            new FXRadioButton(group, "No correction", this, ID_UP_NO_CORRECTION + 2 * s);
        w_.correctionRadio[s] =
            new FXRadioButton(group, "Cp correction", this, ID_UP_CORRECTION + 2 * s);
        FXGroupBox* spline = new FXGroupBox(group, "", kGroupOptions);
        w_.splineCheck[s] = new FXCheckButton(spline, "Spl.interp.", this, ID_UP_SPLINE + s);
        FXGroupBox* range = new FXGroupBox(spline, "", kGroupOptions);
        FXMatrix* bounds = new FXMatrix(range, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_X);
        new FXLabel(bounds, lastNames[s], NULL, kLabelOptions);
        w_.lastSpinner[s] = new FXSpinner(bounds, 5, this, s == 0 ? ID_U2 : ID_L2, kSpinnerOptions);
        new FXLabel(bounds, firstNames[s], NULL, kLabelOptions);
        w_.firstSpinner[s] =
            new FXSpinner(bounds, 5, this, s == 0 ? ID_U1 : ID_L1, kSpinnerOptions);
    }
    FXHorizontalFrame* saveRow = new FXHorizontalFrame(controls, LAYOUT_FILL_X);
    w_.designSaveButton = new FXButton(saveRow, "Cp design save", NULL, this, ID_DESIGN_SAVE,
                                       BUTTON_NORMAL | LAYOUT_FILL_X);
    // The target as a file: loaded instead of edited, or kept for later.
    FXHorizontalFrame* fileRow =
        new FXHorizontalFrame(controls, LAYOUT_FILL_X | PACK_UNIFORM_WIDTH);
    w_.loadButton = new FXButton(fileRow, "Load...\tLoad a target Cp table or Cp file", NULL, this,
                                 ID_LOAD_TARGET, BUTTON_NORMAL | LAYOUT_FILL_X);
    w_.saveButton = new FXButton(fileRow, "Save...\tSave the edited target as a table", NULL, this,
                                 ID_SAVE_TARGET, BUTTON_NORMAL | LAYOUT_FILL_X);
    new FXFrame(controls, LAYOUT_FILL_Y);

    FXVerticalFrame* plot = new FXVerticalFrame(
        columns, FRAME_GROOVE | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
    w_.canvas = new FXCanvas(plot, this, ID_CANVAS, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    w_.canvas->setDefaultCursor(getApp()->getDefaultCursor(DEF_CROSSHAIR_CURSOR));

    // Everything but "X=" and the hand-over waits for the data.
    w_.cytField->disable();
    w_.cydField->disable();
    w_.nsplSpinner->disable();
    for (int s = 0; s < 2; ++s) {
        w_.surfaceRadio[s]->disable();
        w_.noCorrectionRadio[s]->disable();
        w_.correctionRadio[s]->disable();
        w_.splineCheck[s]->disable();
        w_.splineCheck[s]->setCheck(FALSE);
        w_.firstSpinner[s]->disable();
        w_.lastSpinner[s]->disable();
    }
    w_.loadButton->disable();
    w_.saveButton->disable();
    w_.canvas->disable();

    loadEditor();
}

CpEdit::~CpEdit() {}

void CpEdit::loadEditor() {
    using namespace quarel;
    // Line 1 of a grid array is its first kGridStride values: x[i] = xg(i, 1).
    if (!ed_.load(in_.NX, in_.k, xg.data(), yg.data(), cpf.data())) return;
    w_.canvas->enable();
    w_.loadButton->enable();
    w_.saveButton->enable();
    updateControls();
    cyCur = ed_.liftCurrent(in_.cu, in_.su, in_.cosSweep);
    cyDes = ed_.liftEdited(in_.cu, in_.su, in_.cosSweep);
}

void CpEdit::updateControls() {
    if (!ed_.ready) return;
    const int cur = ed_.surface;
    for (int s = 0; s < 2; ++s) {
        w_.surfaceRadio[s]->setCheck(cur == s);
        w_.noCorrectionRadio[s]->setCheck(ed_.corrMode[s] == 0);
        w_.correctionRadio[s]->setCheck(ed_.corrMode[s] == 1);
    }
    // Each spinner shows an editor index within its range.
    const int first[2] = {0, 2}, last[2] = {1, 3};
    for (int s = 0; s < 2; ++s) {
        int lo = 0, hi = 0;
        ed_.boundRange(first[s], lo, hi);
        w_.firstSpinner[s]->setRange(lo, hi);
        w_.firstSpinner[s]->setValue(ed_.stretchFirst(s));
        ed_.boundRange(last[s], lo, hi);
        w_.lastSpinner[s]->setRange(lo, hi);
        w_.lastSpinner[s]->setValue(ed_.stretchLast(s));
    }
    w_.nsplSpinner->setValue(ed_.nSpl[cur]);

    for (int s = 0; s < 2; ++s) {
        w_.surfaceRadio[s]->enable();
        const bool editable = s == cur && ed_.corrMode[s] == 1;
        for (FXWindow* c :
             {static_cast<FXWindow*>(w_.splineCheck[s]), static_cast<FXWindow*>(w_.firstSpinner[s]),
              static_cast<FXWindow*>(w_.lastSpinner[s])}) {
            if (editable) {
                c->enable();
            } else {
                c->disable();
            }
        }
        if (s == cur) {
            w_.noCorrectionRadio[s]->enable();
            w_.correctionRadio[s]->enable();
        } else {
            w_.noCorrectionRadio[s]->disable();
            w_.correctionRadio[s]->disable();
        }
    }
    if (ed_.corrMode[cur] == 1 && ed_.splineOn[cur] == 1) {
        w_.nsplSpinner->enable();
    } else {
        w_.nsplSpinner->disable();
    }
}

// ---- Commands -----------------------------------------------------------------

long CpEdit::onCmdSurface(FXObject*, FXSelector sel, void*) {
    ed_.selectSurface(surfaceOf(FXSELID(sel), ID_UPPER));
    updateControls();
    redrawPlot();
    return 1;
}

long CpEdit::onCmdCorrection(FXObject*, FXSelector sel, void*) {
    const FXSelector id = FXSELID(sel);
    const int s = id <= ID_UP_CORRECTION ? 0 : 1;
    const bool correction = id == ID_UP_CORRECTION || id == ID_LO_CORRECTION;
    ed_.setCorrection(s, correction ? 1 : 0);
    // "No correction" shows the restored surface at once; "Cp correction"
    // changes nothing that is drawn.
    if (!correction) redrawPlot();
    updateControls();
    return 1;
}

long CpEdit::onCmdBound(FXObject*, FXSelector sel, void*) {
    const int which = static_cast<int>(FXSELID(sel) - ID_U1);
    FXSpinner* spinner = which == 0   ? w_.firstSpinner[0]
                         : which == 1 ? w_.lastSpinner[0]
                         : which == 2 ? w_.firstSpinner[1]
                                      : w_.lastSpinner[1];
    ed_.setBound(which, spinner->getValue());
    updateControls();
    redrawPlot();
    return 1;
}

long CpEdit::onCmdSpline(FXObject*, FXSelector, void*) {
    const int s = ed_.surface;
    ed_.setSpline(w_.splineCheck[s]->getCheck() == TRUE);
    updateControls();
    redrawPlot();
    return 1;
}

long CpEdit::onCmdNspl(FXObject*, FXSelector, void*) {
    const int used = ed_.setControlPointCount(w_.nsplSpinner->getValue());
    w_.nsplSpinner->setValue(used);
    redrawPlot();
    return 1;
}

long CpEdit::onCmdDesignSave(FXObject*, FXSelector, void*) {
    designSave();
    return 1;
}

void CpEdit::designSave() {
    if (!ed_.ready) return;
    ed_.writeTarget(quarel::cps.data());
    if (target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), this);
}

long CpEdit::onCmdLoadTarget(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Load target Cp");
    dialog.setPatternList("Cp tables (*.cp,*.txt,*.tab)\nAll Files (*)");
    if (!dialog.execute(PLACEMENT_OWNER)) return 1;
    if (!loadTargetFile(dialog.getFilename().text())) {
        FXMessageBox::error(this, MBOX_OK, "Load target Cp", "%s", lastError_.c_str());
    }
    return 1;
}

long CpEdit::onCmdSaveTarget(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save target Cp");
    dialog.setPatternList("Cp tables (*.txt,*.tab)\nAll Files (*)");
    if (!dialog.execute(PLACEMENT_OWNER)) return 1;
    const FXString path = dialog.getFilename();
    struct stat info;
    if (stat(path.text(), &info) == 0 &&
        FXMessageBox::question(this, MBOX_YES_NO, "Save target Cp", "Replace the file %s?",
                               path.text()) != MBOX_CLICKED_YES) {
        return 1;
    }
    if (!saveTargetFile(path.text())) {
        FXMessageBox::error(this, MBOX_OK, "Save target Cp", "%s", lastError_.c_str());
    }
    return 1;
}

bool CpEdit::loadTargetFile(const std::string& path) {
    if (!ed_.ready) return false;
    try {
        // Read and checked completely before anything of the editor changes.
        const quarel::CpTable table = quarel::readCpTable(path);
        ed_.loadTarget(table);
    } catch (const quarel::FileError& e) {
        lastError_ = e.what();
        return false;
    }
    redrawPlot();
    return true;
}

bool CpEdit::saveTargetFile(const std::string& path) {
    if (!ed_.ready) return false;
    try {
        quarel::writeCpTable(path, "Quarel target Cp", ed_.targetTable());
    } catch (const quarel::FileError& e) {
        lastError_ = e.what();
        return false;
    }
    return true;
}

// ---- Canvas ------------------------------------------------------------------------

long CpEdit::onPaint(FXObject*, FXSelector, void* ptr) {
    {
        FXDCWindow dc(w_.canvas, static_cast<FXEvent*>(ptr));
        const FXEvent* ev = static_cast<const FXEvent*>(ptr);
        dc.setForeground(FXRGB(255, 255, 255));
        dc.fillRectangle(ev->rect.x, ev->rect.y, ev->rect.w, ev->rect.h);
        if (!ed_.ready) {
            // Nothing to edit: say why instead of showing an empty plot.
            dc.setFont(getApp()->getNormalFont());
            dc.setForeground(fxcolorfromname("Black"));
            const int line = getApp()->getNormalFont()->getFontHeight();
            dc.drawText(10, 10 + line, "No computed Cp to edit: the grid has fewer than");
            dc.drawText(10, 10 + 2 * line, "12 faces on the body, or no analysis was made.");
        }
    }
    if (ed_.ready) redrawPlot();
    return 1;
}

long CpEdit::onMotion(FXObject*, FXSelector, void* ptr) {
    const FXEvent* ev = static_cast<const FXEvent*>(ptr);
    const quarel::PlotMapping m = mapping();
    if (ed_.pointerMoved(m.xAt(ev->win_x), m.cpAt(ev->win_y))) redrawPlot();
    return 1;
}

long CpEdit::onLeftPress(FXObject*, FXSelector, void*) {
    // The pick uses the pointer position of the last motion message.
    if (ed_.press(w_.canvas->getWidth(), w_.canvas->getHeight()) && w_.canvas->id()) {
        FXDCWindow dc(w_.canvas);
        drawControlPoints(dc);
    }
    return 1;
}

long CpEdit::onLeftRelease(FXObject*, FXSelector, void*) {
    ed_.release();
    return 1;
}

// ---- Plot -----------------------------------------------------------------------------

quarel::PlotMapping CpEdit::mapping() const {
    quarel::PlotMapping m;
    m.x0 = plotX0;
    m.cp0 = plotCp0;
    m.sx = plotSx;
    m.sy = plotSy;
    return m;
}

void CpEdit::drawCurve(FXDC& dc, int s, bool edited) {
    const quarel::PlotMapping m = mapping();
    const FXint W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    const bool current = s == ed_.surface;
    const int first = ed_.surfaceFirst(s), last = ed_.surfaceLast(s);
    if (!edited) {
        // The computed Cp as a polyline: solid on the surface being edited,
        // dashed on the other.
        dc.setLineStyle(current ? LINE_SOLID : LINE_ONOFF_DASH);
        for (int i = first + 1; i <= last; ++i) {
            dc.drawLine(m.px(ed_.xMid[i - 1]), m.py(ed_.cpCur[i - 1]), m.px(ed_.xMid[i]),
                        m.py(ed_.cpCur[i]));
        }
        dc.setLineStyle(LINE_SOLID);
        return;
    }
    // The edited Cp as crosses, large on the surface being edited.
    const double d = current ? 4.0 : 2.0;
    const double dy = d * H / W;
    for (int i = first; i <= last; ++i) {
        const double px = (ed_.xMid[i] - m.x0) * m.sx;
        const double py = (ed_.cpDes[i] - m.cp0) * m.sy;
        dc.drawLine(static_cast<int>(px - d), static_cast<int>(py), static_cast<int>(px + d),
                    static_cast<int>(py));
        dc.drawLine(static_cast<int>(px), static_cast<int>(py - dy), static_cast<int>(px),
                    static_cast<int>(py + dy));
    }
}

void CpEdit::drawControlPoints(FXDC& dc) {
    const int s = ed_.surface;
    if (ed_.splineOn[s] != 1) return;
    const quarel::PlotMapping m = mapping();
    for (int c = 0; c < ed_.nSpl[s]; ++c) {
        dc.setForeground(c == ed_.selCtl ? fxcolorfromname("Red") : fxcolorfromname("Blue"));
        dc.drawEllipse(m.px(ed_.ctlX[c][s]) - 5, m.py(ed_.ctlCp[c][s]) - 5, 10, 10);
    }
    dc.setForeground(fxcolorfromname("Black"));
}

void CpEdit::redrawPlot() {
    if (!ed_.ready) return;
    const FXint W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    const quarel::CpScale scale = quarel::cpScaleFor(ed_.scaleCpMin());
    const double cpStar = quarel::criticalCp(in_.mach);
    const int sonic = ed_.sonicIndex(cpStar);
    if (W > 0 && H > 0) {
        const quarel::PlotMapping m = quarel::plotMapping(W, H, scale);
        plotX0 = m.x0;
        plotCp0 = m.cp0;
        plotSx = m.sx;
        plotSy = m.sy;
    }
    const quarel::PlotMapping m = mapping();
    const int N = ed_.nFaces;

    if (w_.canvas->id() && W > 0 && H > 0) {
        FXDCWindow dc(w_.canvas);
        dc.setForeground(fxcolorfromname("White"));
        dc.fillRectangle(0, 0, W, H);

        // Grid: every tenth of the chord, every 0.1 of Cp.
        dc.setForeground(fxcolorfromname("Orange"));
        dc.setLineStyle(LINE_ONOFF_DASH);
        for (int j = 0; j <= 10; ++j) {
            const int px = m.px(0.1 * j);
            dc.drawLine(px, m.py(0.5), px, m.py(scale.cpTop));
        }
        for (int j = 0; j <= scale.nGridLines; ++j) {
            const int py = m.py(scale.cpTop + 0.1 * j);
            dc.drawLine(m.px(1.0), py, m.px(0.0), py);
        }
        dc.setLineStyle(LINE_SOLID);

        // Cp labels, left of the chord.  The top line lies a few pixels
        // below the canvas edge: its label is pushed down just far enough
        // to show whole.
        FXFont* font = getApp()->getNormalFont();
        dc.setFont(font);
        dc.setForeground(fxcolorfromname("Black"));
        const int ascent = font->getFontAscent();
        for (int j = 0; j <= scale.nGridLines; ++j) {
            const double value = scale.cpTop + 0.1 * j;
            FXString text;
            text.format("%.*f", 1, value);
            int baseline = m.py(value);
            if (baseline < ascent) baseline = ascent;
            dc.drawText(m.px(-0.065), baseline, text);
        }

        // Critical Cp just ahead of the last sonic crossing.
        if (sonic < N) {
            dc.setForeground(fxcolorfromname("Blue"));
            const int py = m.py(cpStar);
            dc.drawLine(m.px(ed_.xMid[quarel::CpEditor::sonicLineStart(sonic)]), py,
                        m.px(ed_.xMid[sonic + 1]), py);
            dc.setForeground(fxcolorfromname("Black"));
        }

        // Curves: the other surface first, the edited one on top.
        const int other = 1 - ed_.surface;
        drawCurve(dc, other, false);
        drawCurve(dc, other, true);
        drawCurve(dc, ed_.surface, false);
        drawCurve(dc, ed_.surface, true);

        // Stretch of the edited surface: a bar at the top (upper surface)
        // or at the bottom (lower surface) with lines down to the curve.
        const int s = ed_.surface;
        const double a = s == 0 ? scale.cpTop : 0.5;
        const double b = s == 0 ? 0.01 : -0.01;
        const int f = ed_.stretchFirst(s), l = ed_.stretchLast(s);
        const int x1 = m.px(ed_.xMid[f]), x2 = m.px(ed_.xMid[l]);
        dc.drawLine(x1, m.py(a), x1, m.py(ed_.cpCur[f]));
        dc.drawLine(x2, m.py(a), x2, m.py(ed_.cpCur[l]));
        dc.setForeground(fxcolorfromname("Red"));
        const int ya = m.py(a), yb = m.py(a + b);
        dc.drawLine(x1, ya, x2, ya);
        dc.drawLine(x2, ya, x2, yb);
        dc.drawLine(x2, yb, x1, yb);
        dc.drawLine(x1, yb, x1, ya);

        // The marked face.
        const int mk = ed_.mark(s);
        const double mx = (ed_.xMid[mk] - m.x0) * m.sx;
        const double my = (ed_.cpDes[mk] - m.cp0) * m.sy;
        const double mh = 5.0 * H / W;
        dc.setLineWidth(2);
        dc.drawLine(static_cast<int>(mx - 5), static_cast<int>(my), static_cast<int>(mx + 5),
                    static_cast<int>(my));
        dc.drawLine(static_cast<int>(mx), static_cast<int>(my - mh), static_cast<int>(mx),
                    static_cast<int>(my + mh));
        dc.setLineWidth(1);
        dc.setForeground(fxcolorfromname("Black"));

        drawControlPoints(dc);
    }
    updateLift();
}

void CpEdit::updateLift() {
    // The target array holds the edited distribution from the first redraw
    // on, whether or not it is handed over.
    ed_.writeTarget(quarel::cps.data());
    cyDes = ed_.liftEdited(in_.cu, in_.su, in_.cosSweep);
    if (in_.cliftTarget) *in_.cliftTarget = cyDes;
    cyCur = ed_.liftCurrent(in_.cu, in_.su, in_.cosSweep);
    if (in_.clift) *in_.clift = cyCur;
}
