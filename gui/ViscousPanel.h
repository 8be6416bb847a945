// The viscous inputs on the Calculation tab: the boundary layer switched
// on ("Re=") and its inputs (Reynolds number, N of the transition, forced transition x/c on
// each surface), and "BL View", the window of the boundary-layer plots.
// The drag split and the transition points of a viscous run show on the
// status line, the Cp plot's title and the boundary-layer plots.  The fields are bound
// to the job's viscous options; a change marks the results as those of the
// previous inputs, as the spinners do.
#pragma once

#include <fx.h>

namespace quarel {
class RunControl;
}
class BoundaryLayerView;

class ViscousPanel : public FXGroupBox {
    FXDECLARE(ViscousPanel)

public:
    enum {
        ID_VISCOUS = FXGroupBox::ID_LAST,  // the check button
        ID_CHANGED,                        // a field's data target changed its value
        ID_BL_VIEW,                        // "BL View"
        ID_LAST
    };

    ViscousPanel(FXComposite* parent, quarel::RunControl& run, FXuint opts, FXint pad);
    virtual ~ViscousPanel();

    FXCheckButton* check() const { return check_; }
    FXButton* viewButton() const { return viewButton_; }
    FXTextField* reynoldsField() const { return fields_[0]; }
    // The boundary-layer plots (null before the first "BL View").
    BoundaryLayerView* view() const { return view_; }
    // Opens (or raises) the boundary-layer plots of the last run.
    void showView();
    // Repaints an open view with the results now held (after a calculation).
    void resultsChanged();

    long onCmdViscous(FXObject*, FXSelector, void*);
    long onUpdViscous(FXObject*, FXSelector, void*);
    long onCmdChanged(FXObject*, FXSelector, void*);
    long onCmdView(FXObject*, FXSelector, void*);
    long onUpdView(FXObject*, FXSelector, void*);

protected:
    ViscousPanel() {}

private:
    ViscousPanel(const ViscousPanel&) = delete;
    ViscousPanel& operator=(const ViscousPanel&) = delete;

    quarel::RunControl* run_ = nullptr;
    FXCheckButton* check_ = nullptr;
    FXButton* viewButton_ = nullptr;
    FXTextField* fields_[4] = {nullptr, nullptr, nullptr, nullptr};
    FXDataTarget targets_[4];
    BoundaryLayerView* view_ = nullptr;
};
