#include "ViscousPanel.h"

#include "BoundaryLayerView.h"
#include "RunControl.h"

// clang-format off
FXDEFMAP(ViscousPanel) ViscousPanelMap[] = {
    //________Message_Type____ID_____________________________Message_Handler_______
    FXMAPFUNC(SEL_COMMAND,     ViscousPanel::ID_VISCOUS,      ViscousPanel::onCmdViscous),
    FXMAPFUNC(SEL_UPDATE,      ViscousPanel::ID_VISCOUS,      ViscousPanel::onUpdViscous),
    FXMAPFUNC(SEL_COMMAND,     ViscousPanel::ID_CHANGED,      ViscousPanel::onCmdChanged),
    FXMAPFUNC(SEL_COMMAND,     ViscousPanel::ID_BL_VIEW,      ViscousPanel::onCmdView),
    FXMAPFUNC(SEL_UPDATE,      ViscousPanel::ID_BL_VIEW,      ViscousPanel::onUpdView),
};
// clang-format on

FXIMPLEMENT(ViscousPanel, FXGroupBox, ViscousPanelMap, ARRAYNUMBER(ViscousPanelMap))

namespace {

// A Reynolds number to start from when the mode is switched on without one.
constexpr double kDefaultReynolds = 3.0e6;

}  // namespace

ViscousPanel::ViscousPanel(FXComposite* parent, quarel::RunControl& run, FXuint opts, FXint pad)
    : FXGroupBox(parent, "", opts, 0, 0, 0, 0, pad, pad, pad, pad, pad, pad), run_(&run) {
    quarel::ViscousOptions& o = run.job.viscous;
    // Two short rows, so that the tab keeps its size: the switch with the
    // Reynolds number and N, then the transition points and "BL View".
    FXHorizontalFrame* rows[2];
    for (FXHorizontalFrame*& row : rows)
        row = new FXHorizontalFrame(this, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, pad, pad);
    // The check button is the Reynolds number's label: on, the run is
    // viscous at that Reynolds number.
    check_ = new FXCheckButton(rows[0],
                               "Re=\tViscous analysis at this Reynolds number (chord, free "
                               "stream); off: inviscid",
                               this, ID_VISCOUS, CHECKBUTTON_NORMAL | LAYOUT_CENTER_Y);
    struct Field {
        int row;
        const char* label;  // none: the one before labels both
        double* value;
        int columns;
        const char* tip;
    } fields[4] = {
        {0, nullptr, &o.reynolds, 6, "Reynolds number on the chord and the free stream"},
        {0, "Ncrit=", &o.ncrit, 3, "N of the e^N transition criterion (9: a quiet wind tunnel)"},
        {1, "Xtr=", &o.xtrUpper, 4, "Forced transition x/c on the upper surface (1: free)"},
        {1, nullptr, &o.xtrLower, 4, "Forced transition x/c on the lower surface (1: free)"},
    };
    for (int n = 0; n < 4; ++n) {
        targets_[n].connect(*fields[n].value);
        targets_[n].setTarget(this);
        targets_[n].setSelector(ID_CHANGED);
        if (fields[n].label != nullptr)
            new FXLabel(rows[fields[n].row], fields[n].label, NULL,
                        JUSTIFY_RIGHT | LAYOUT_CENTER_Y);
        fields_[n] = new FXTextField(rows[fields[n].row], fields[n].columns, &targets_[n],
                                     FXDataTarget::ID_VALUE,
                                     JUSTIFY_RIGHT | FRAME_SUNKEN | FRAME_THICK | TEXTFIELD_REAL);
        fields_[n]->setTipText(fields[n].tip);
    }
    viewButton_ = new FXButton(rows[1], "BL View\tH, Cf and delta* of the last viscous run", NULL,
                               this, ID_BL_VIEW, BUTTON_NORMAL | LAYOUT_RIGHT | LAYOUT_CENTER_Y);
}

ViscousPanel::~ViscousPanel() {
    delete view_;
}

long ViscousPanel::onCmdViscous(FXObject*, FXSelector, void*) {
    quarel::ViscousOptions& o = run_->job.viscous;
    o.enabled = check_->getCheck() == TRUE;
    if (o.enabled && o.reynolds <= 0.0) o.reynolds = kDefaultReynolds;
    run_->flowChanged();
    getShell()->forceRefresh();
    return 1;
}

// The check button shows the job's mode, and the fields take input only
// while it is on.
long ViscousPanel::onUpdViscous(FXObject*, FXSelector, void*) {
    const bool on = run_->job.viscous.enabled;
    if ((check_->getCheck() == TRUE) != on) check_->setCheck(on);
    for (FXTextField* f : fields_) {
        if ((f->isEnabled() != FALSE) == on) continue;
        if (on) {
            f->enable();
        } else {
            f->disable();
        }
    }
    return 1;
}

long ViscousPanel::onCmdChanged(FXObject*, FXSelector, void*) {
    run_->flowChanged();
    getShell()->forceRefresh();
    return 1;
}

long ViscousPanel::onCmdView(FXObject*, FXSelector, void*) {
    showView();
    return 1;
}

void ViscousPanel::showView() {
    if (view_ == nullptr) {
        view_ = new BoundaryLayerView(getShell(), *run_);
        view_->create();
    }
    view_->update();
    view_->show(PLACEMENT_OWNER);
    view_->raise();
}

void ViscousPanel::resultsChanged() {
    if (view_ != nullptr && view_->shown()) view_->redraw();
}

long ViscousPanel::onUpdView(FXObject* sender, FXSelector, void*) {
    const bool on = BoundaryLayerView::available(*run_);
    sender->handle(this, FXSEL(SEL_COMMAND, on ? FXWindow::ID_ENABLE : FXWindow::ID_DISABLE), NULL);
    return 1;
}
