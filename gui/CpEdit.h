// "Cp editor 2D": the dialog in which the target pressure distribution for
// inverse design is prepared.  It shows the computed surface Cp of the
// last analysis over the chord, lets the engineer reshape a stretch of one
// surface by dragging spline control points, and writes the edited
// distribution into the target array cps at every redraw.  "Cp design
// save" tells the owner (message SEL_CHANGED to the target given at
// construction, with the dialog as data) that the target is accepted.
//
// The arithmetic lives in quarel::CpEditor (cptarget.h); this class holds
// the widgets, turns their messages into editor calls and draws the plot.
#pragma once

#include <fx.h>

#include <string>

#include "cptarget.h"

class CpEdit : public FXDialogBox {
    FXDECLARE(CpEdit)

protected:
    CpEdit() {}

private:
    CpEdit(const CpEdit&);
    CpEdit& operator=(const CpEdit&);

public:
    enum {
        ID_CANVAS = FXDialogBox::ID_LAST,
        ID_UPPER,
        ID_LOWER,
        ID_UP_NO_CORRECTION,
        ID_UP_CORRECTION,
        ID_LO_NO_CORRECTION,
        ID_LO_CORRECTION,
        ID_U1,
        ID_U2,
        ID_L1,
        ID_L2,
        ID_UP_SPLINE,
        ID_LO_SPLINE,
        ID_NSPL,
        ID_DESIGN_SAVE,
        ID_LOAD_TARGET,
        ID_SAVE_TARGET,
        ID_LAST
    };

    // What the editor needs of the run besides the solver state (xg, yg,
    // cpf, cps): the grid sizes, the free-stream Mach number for the
    // critical Cp, the free-stream factors of the lift, and where the two
    // lift values go (either may be null).
    struct Input {
        int NX = 0, k = 0;
        double mach = 0.0;
        double cu = 1.0, su = 0.0, cosSweep = 1.0;
        double* clift = nullptr;        // receives the lift of the computed Cp
        double* cliftTarget = nullptr;  // receives the lift of the edited Cp
    };

    // Builds the dialog over `owner` and loads the computed Cp (cpf) of the
    // grid in xg, yg.  "Cp design save" sends SEL_CHANGED, `selector` to
    // `target`.
    CpEdit(FXWindow* owner, const Input& input, FXObject* target, FXSelector selector);
    virtual ~CpEdit();

    // The widgets the handlers touch (owned by their toolkit parents).
    struct Widgets {
        FXTextField* xField = nullptr;
        FXTextField* cytField = nullptr;
        FXTextField* cydField = nullptr;
        FXSpinner* nsplSpinner = nullptr;
        FXRadioButton* surfaceRadio[2] = {nullptr, nullptr};  // upper, lower
        FXRadioButton* noCorrectionRadio[2] = {nullptr, nullptr};
        FXRadioButton* correctionRadio[2] = {nullptr, nullptr};
        FXCheckButton* splineCheck[2] = {nullptr, nullptr};
        FXSpinner* firstSpinner[2] = {nullptr, nullptr};  // "U1=", "L1="
        FXSpinner* lastSpinner[2] = {nullptr, nullptr};   // "U2=", "L2="
        FXButton* designSaveButton = nullptr;
        FXButton* loadButton = nullptr;
        FXButton* saveButton = nullptr;
        FXCanvas* canvas = nullptr;
    };
    const Widgets& widgets() const { return w_; }
    const quarel::CpEditor& editor() const { return ed_; }

    long onCmdSurface(FXObject*, FXSelector, void*);
    long onCmdCorrection(FXObject*, FXSelector, void*);
    long onCmdBound(FXObject*, FXSelector, void*);
    long onCmdSpline(FXObject*, FXSelector, void*);
    long onCmdNspl(FXObject*, FXSelector, void*);
    long onCmdDesignSave(FXObject*, FXSelector, void*);
    long onCmdLoadTarget(FXObject*, FXSelector, void*);
    long onCmdSaveTarget(FXObject*, FXSelector, void*);
    long onPaint(FXObject*, FXSelector, void*);
    long onLeftPress(FXObject*, FXSelector, void*);
    long onLeftRelease(FXObject*, FXSelector, void*);
    long onMotion(FXObject*, FXSelector, void*);

    // Draws the whole plot, writes the target into cps and updates the lift
    // values.
    void redrawPlot();
    // Writes the target and tells the owner that it is accepted.
    void designSave();
    // Loads / saves the target table; false with the reason in lastError()
    // (the editor's data unchanged on a failed load).
    bool loadTargetFile(const std::string& path);
    bool saveTargetFile(const std::string& path);
    const std::string& lastError() const { return lastError_; }

    // Lift coefficients of the computed and of the edited distribution.
    double cyCur = 0.0, cyDes = 0.0;
    // Plot mapping of the last redraw.
    double plotX0 = -0.1, plotCp0 = 0.0, plotSx = 1.0, plotSy = 1.0;

private:
    void loadEditor();
    void updateControls();
    void updateLift();
    void drawControlPoints(FXDC& dc);
    void drawCurve(FXDC& dc, int s, bool edited);
    quarel::PlotMapping mapping() const;

    Input in_;
    quarel::CpEditor ed_;
    Widgets w_;
    std::string lastError_;
    FXDataTarget xTarget_, cytTarget_, cydTarget_;
};
