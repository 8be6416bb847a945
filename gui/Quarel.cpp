// The main window: widget tree, data bindings, commands and enabling rules.
#include "Quarel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "CpEdit.h"
#include "GLView3D.h"
#include "PolarView.h"
#include "RunProgress.h"
#include "Sweep.h"
#include "SweepDialog.h"
#include "ViscousPanel.h"
#include "message.h"
#include "state.h"
#include "textwrap.h"

// clang-format off
FXDEFMAP(Quarel) QuarelMap[] = {
    //________Message_Type__________ID___________________________Message_Handler_______
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_OPEN,             Quarel::onCmdOpen),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ABOUT,            Quarel::onCmdAbout),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_TABS,             Quarel::onCmdTabs),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ALPHA,            Quarel::onCmdAlpha),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_MACH,             Quarel::onCmdMach),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ENTROPY,          Quarel::onCmdEntropy),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_ENTROPY,          Quarel::onUpdEntropy),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_FIXED_LIFT,       Quarel::onCmdFixedLift),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_FIXED_LIFT,       Quarel::onUpdFixedLift),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_LIFT_TARGET,      Quarel::onCmdLiftTarget),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_LIFT_TARGET,      Quarel::onUpdLiftTarget),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SWEPT,            Quarel::onCmdSwept),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ALPHA_STEP,       Quarel::onCmdStep),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_MACH_STEP,        Quarel::onCmdStep),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SWEPT_STEP,       Quarel::onCmdStep),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ANALYSIS,         Quarel::onCmdProblem),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_DESIGN,           Quarel::onCmdProblem),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_REGIME_BOTH,      Quarel::onCmdRegime),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_REGIME_THICKNESS, Quarel::onCmdRegime),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_REGIME_MAXTHICK,  Quarel::onCmdRegime),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SAVE,             Quarel::onCmdSave),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_CALCULATE,        Quarel::onCmdCalculate),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_GRID,             Quarel::onCmdGrid),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_GRID_VIEW,        Quarel::onCmdGridView),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_CP_VIEW,          Quarel::onCmdCpView),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_M_VIEW,           Quarel::onCmdMView),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_CP_EDIT,          Quarel::onCmdCpEdit),
    FXMAPFUNC(SEL_CHANGED,           Quarel::ID_CP_EDIT,          Quarel::onChgCpEdit),
    FXMAPFUNC(SEL_PAINT,             Quarel::ID_CANVAS,           Quarel::onPaint),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS,   Quarel::ID_CANVAS,           Quarel::onLeftPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, Quarel::ID_CANVAS,           Quarel::onLeftRelease),
    FXMAPFUNC(SEL_MOTION,            Quarel::ID_CANVAS,           Quarel::onMotion),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_OPEN,             Quarel::onUpdOpen),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_TABS,             Quarel::onUpdTabs),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_ANALYSIS,         Quarel::onUpdProblem),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_DESIGN,           Quarel::onUpdProblem),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_REGIME_BOTH,      Quarel::onUpdRegime),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_REGIME_THICKNESS, Quarel::onUpdRegime),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_REGIME_MAXTHICK,  Quarel::onUpdRegime),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_SAVE,             Quarel::onUpdResults),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_CALCULATE,        Quarel::onUpdCalculate),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_GRID,             Quarel::onUpdGrid),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_GRID_VIEW,        Quarel::onUpdGridView),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_CP_VIEW,          Quarel::onUpdResults),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_M_VIEW,           Quarel::onUpdResults),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_CP_EDIT,          Quarel::onUpdCpEdit),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SAVE_PLOT,        Quarel::onCmdSavePlot),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_SAVE_PLOT,        Quarel::onUpdResults),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_GRID_WHOLE,       Quarel::onCmdWholeGrid),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_GRID_WHOLE,       Quarel::onUpdGridView),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_STATUS,           Quarel::onUpdStatus),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_CP_DEVIATION,     Quarel::onUpdCpDeviation),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_KEEP,             Quarel::onCmdKeep),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_KEEP,             Quarel::onUpdKeep),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_CLEAR_KEPT,       Quarel::onCmdClearKept),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_CLEAR_KEPT,       Quarel::onUpdClearKept),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SECTION_VIEW,     Quarel::onCmdSectionView),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_SECTION_VIEW,     Quarel::onUpdSection),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SAVE_SECTION,     Quarel::onCmdSaveSection),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_SAVE_SECTION,     Quarel::onUpdGridView),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_SWEEP,            Quarel::onCmdSweep),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_SWEEP,            Quarel::onUpdSweep),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_POLAR_VIEW,       Quarel::onCmdPolarView),
    FXMAPFUNC(SEL_UPDATE,            Quarel::ID_POLAR_VIEW,       Quarel::onUpdPolarView),
};
// clang-format on

FXIMPLEMENT(Quarel, FXMainWindow, QuarelMap, ARRAYNUMBER(QuarelMap))

namespace {
long enableIf(FXObject* sender, FXObject* self, bool on);
}

namespace {

// Layout of the frames: 4 pixels of padding and spacing.
constexpr int kPad = 4;

// The window opens large enough for a Cp plot that can be read; below the
// minimum the panels would be cut and the plot's labels run together.
constexpr int kWindowWidth = 1100, kWindowHeight = 840;
constexpr int kMinWidth = 860, kMinHeight = 660;

// Options of a parameter field.
constexpr FXuint kFieldOptions = JUSTIFY_RIGHT | FRAME_SUNKEN | FRAME_THICK;

// Width of an output field in columns.
constexpr int kOutputColumns = 13;

// Options of a right-justified field label.
constexpr FXuint kLabelOptions = JUSTIFY_RIGHT | LAYOUT_FILL_X | LAYOUT_CENTER_Y;

FXMatrix* twoColumns(FXComposite* parent) {
    return new FXMatrix(parent, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_X, 0, 0, 0, 0, kPad, kPad, kPad,
                        kPad, kPad, kPad);
}

FXGroupBox* group(FXComposite* parent, const char* title, FXuint extra = 0) {
    return new FXGroupBox(parent, title, GROUPBOX_NORMAL | FRAME_GROOVE | LAYOUT_FILL_X | extra, 0,
                          0, 0, 0, kPad, kPad, kPad, kPad, kPad, kPad);
}

// A command button in a frame of its own.
FXButton* button(FXComposite* parent, const char* text, FXObject* target, FXSelector id) {
    FXHorizontalFrame* frame = new FXHorizontalFrame(parent, LAYOUT_FILL_X, 0, 0, 0, 0, kPad, kPad,
                                                     kPad, kPad, kPad, kPad);
    return new FXButton(frame, text, NULL, target, id,
                        BUTTON_NORMAL | LAYOUT_FILL_X | LAYOUT_CENTER_Y);
}

}  // namespace

Quarel::Quarel(FXApp* app)
    : FXMainWindow(app, "Brenvoli Calculation", NULL, NULL, DECOR_ALL & ~DECOR_SHRINKABLE, 0, 0,
                   kWindowWidth, kWindowHeight) {
    quarel::JobParameters& job = rc_.job;
    quarel::Results& res = rc_.results;
    npaTarget_.connect(job.NPA);
    ncoTarget_.connect(job.NCO);
    nbhTarget_.connect(job.NBH);
    kgridTarget_.connect(job.Kgrid);
    const int dsEntries[7] = {1, 4, 6, 7, 8, 10, 13};
    for (int n = 0; n < 7; ++n) dsTarget_[n].connect(job.DSGRID(dsEntries[n]));
    diagDomTarget_.connect(job.diagDom);
    maxResidualTarget_.connect(job.maxResidual);
    linearIterationsTarget_.connect(job.linearIterations);
    gmresDimTarget_.connect(job.gmresDim);
    cliftTarget_.connect(res.clift);
    cdragTarget_.connect(res.cdrag);
    cmomentTarget_.connect(res.cmoment);
    cdragPressureTarget_.connect(res.cdragPressure);
    designBoundaryTarget_.connect(job.designLeadBoundary);
    globalIterationTarget_.connect(rc_.design.globalIteration);
    cpDeviationTarget_.connect(res.cpDeviation);
    cliftCurrentTarget_.connect(res.cliftCurrent);
    cliftTargetTarget_.connect(res.cliftTarget);

    // 1. Tool tips for the whole application.
    new FXToolTip(getApp(), TOOLTIP_PERMANENT);

    // 2. Menu bar.
    FXMenuBar* menuBar = new FXMenuBar(this, LAYOUT_SIDE_TOP | LAYOUT_FILL_X);
    w_.fileMenu = new FXMenuPane(this);
    new FXMenuTitle(menuBar, "&File", NULL, w_.fileMenu);
    w_.openCommand =
        new FXMenuCommand(w_.fileMenu, "&Open...\tCtl-O\tOpen document file.", NULL, this, ID_OPEN);
    new FXMenuCommand(w_.fileMenu, "&About", NULL, this, ID_ABOUT);
    new FXMenuCommand(w_.fileMenu, "&Quit\tCtl-Q", NULL, getApp(), FXApp::ID_QUIT);
    new FXHorizontalSeparator(this, SEPARATOR_GROOVE | LAYOUT_FILL_X);

    // 3. Two columns: panels on the left, the canvas on the right.
    FXHorizontalFrame* columns = new FXHorizontalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0,
                                                       0, kPad, kPad, kPad, kPad, kPad, kPad);
    FXVerticalFrame* left =
        new FXVerticalFrame(columns, LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, kPad, kPad);
    FXGroupBox* tabGroup = group(left, "", LAYOUT_FILL_Y);
    w_.tabBook = new FXTabBook(
        tabGroup, this, ID_TABS,
        TABBOOK_TOPTABS | PACK_UNIFORM_WIDTH | PACK_UNIFORM_HEIGHT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    const FXuint pageOptions = FRAME_RAISED | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y;
    w_.gridTab = new FXTabItem(w_.tabBook, "Grid");
    buildGridTab(new FXGroupBox(w_.tabBook, "", pageOptions, 0, 0, 0, 0, kPad, kPad, kPad, kPad,
                                kPad, kPad));
    w_.calculationTab = new FXTabItem(w_.tabBook, "Calculation");
    buildCalculationTab(new FXGroupBox(w_.tabBook, "", pageOptions, 0, 0, 0, 0, kPad, kPad, kPad,
                                       kPad, kPad, kPad));
    w_.inverseTab = new FXTabItem(w_.tabBook, "Inverse");
    buildInverseTab(new FXGroupBox(w_.tabBook, "", pageOptions, 0, 0, 0, 0, kPad, kPad, kPad, kPad,
                                   kPad, kPad));

    FXMatrix* saveFrame = twoColumns(left);
    w_.saveButton = button(saveFrame, "Save Result", this, ID_SAVE);
    w_.savePlotButton =
        button(saveFrame, "Save Plot\tSave the Cp plot as a PNG picture and its data as CSV", this,
               ID_SAVE_PLOT);
    w_.keepButton = button(
        saveFrame, "Keep Cp\tKeep the current Cp as a reference curve (up to six)", this, ID_KEEP);
    w_.clearKeptButton =
        button(saveFrame, "Clear Kept\tRemove the reference curves", this, ID_CLEAR_KEPT);
    w_.sectionViewButton =
        button(saveFrame, "Section View\tThe section; after a design the start section too", this,
               ID_SECTION_VIEW);
    w_.saveSectionButton =
        button(saveFrame, "Save Section\tThe section as an input file and as a list of x y lines",
               this, ID_SAVE_SECTION);
    w_.sweepButton =
        button(saveFrame, "Sweep...\tA range of angles of attack or Mach numbers", this, ID_SWEEP);
    w_.polarViewButton =
        button(saveFrame, "Polar View\tThe polar of the last sweep", this, ID_POLAR_VIEW);

    FXVerticalFrame* right =
        new FXVerticalFrame(columns, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0);
    w_.canvas = new FXCanvas(right, this, ID_CANVAS,
                             FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    w_.canvas->setDefaultCursor(getApp()->getDefaultCursor(DEF_CROSSHAIR_CURSOR));
    w_.statusLine = new FXLabel(right, "Open an input file (File > Open...).", NULL,
                                JUSTIFY_LEFT | LAYOUT_FILL_X | FRAME_SUNKEN);
    w_.statusLine->setTarget(this);
    w_.statusLine->setSelector(ID_STATUS);

    // 5. Nothing can be calculated or viewed before a file is open: the
    // update handlers below switch every command on and off from the state
    // of the run control.
    refreshState();
}

FXTextField* Quarel::addField(FXComposite* matrix, const char* label, FXDataTarget& target,
                              int columns, bool integerEntry) {
    new FXLabel(matrix, label, NULL, kLabelOptions);
    FXTextField* field =
        new FXTextField(matrix, columns, &target, FXDataTarget::ID_VALUE,
                        kFieldOptions | (integerEntry ? TEXTFIELD_INTEGER : TEXTFIELD_REAL));
    w_.fields.push_back(field);
    return field;
}

void Quarel::buildGridTab(FXComposite* page) {
    FXGroupBox* params = group(page, "Grid parameters:", LAYOUT_FILL_Y);
    FXVerticalFrame* column = new FXVerticalFrame(params, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                                                  0, 0, 0, 0, kPad, kPad);
    FXMatrix* sizes = twoColumns(column);
    w_.npaField = addField(sizes, "NPA=", npaTarget_, 8, true);
    w_.ncoField = addField(sizes, "NCO=", ncoTarget_, 8, true);
    w_.nbhField = addField(sizes, "NBH=", nbhTarget_, 8, true);
    w_.kgridField = addField(sizes, "Kgrid=", kgridTarget_, 8, true);

    FXMatrix* upper = twoColumns(group(column, "Upper surface:"));
    addField(upper, "Vortex sheet=", dsTarget_[0], 8, false);
    addField(upper, "Trailingedge=", dsTarget_[1], 8, false);
    addField(upper, "Mid-chord=", dsTarget_[2], 8, false);

    FXHorizontalFrame* leading = new FXHorizontalFrame(column, LAYOUT_FILL_X, 0, 0, 0, 0, kPad,
                                                       kPad, kPad, kPad, kPad, kPad);
    addField(leading, "Leading edge=", dsTarget_[3], 8, false);

    FXMatrix* lower = twoColumns(group(column, "Lower surface:"));
    addField(lower, "Mid-chord=", dsTarget_[4], 8, false);
    addField(lower, "Trailingedge=", dsTarget_[5], 8, false);
    addField(lower, "Vortex sheet=", dsTarget_[6], 8, false);

    FXMatrix* buttons = twoColumns(column);
    w_.gridButton = button(buttons, "Grid Calculation", this, ID_GRID);
    w_.gridViewButton =
        button(buttons, "Grid View\tThe grid around the section", this, ID_GRID_VIEW);
    w_.wholeGridButton =
        button(buttons, "Whole Grid\tThe grid out to its far boundary", this, ID_GRID_WHOLE);
}

void Quarel::buildCalculationTab(FXComposite* page) {
    FXMatrix* input = new FXMatrix(group(page, "Input Data:"), 3, MATRIX_BY_COLUMNS | LAYOUT_FILL_X,
                                   0, 0, 0, 0, kPad, kPad, kPad, kPad, kPad, kPad);
    struct SpinnerRow {
        const char* label;
        FXSelector valueId, stepId;
        double lo, hi, step, value;       // value spinner
        double stepLo, stepHi, stepStep;  // increment spinner
        double increment;
        const char* tip;
        FXRealSpinner** valueSpinner;
        FXRealSpinner** stepSpinner;
    };
    const SpinnerRow rows[3] = {
        {"Alpha=", ID_ALPHA, ID_ALPHA_STEP, quarel::kAlphaRange.lo, quarel::kAlphaRange.hi, 0.1,
         rc_.job.alpha, 0.0001, 5.0, 0.01, 0.1, "Increment for Alpha", &w_.alphaSpinner,
         &w_.alphaStepSpinner},
        {"Mach=", ID_MACH, ID_MACH_STEP, quarel::kMachRange.lo, quarel::kMachRange.hi, 0.02,
         rc_.job.mach, 0.0001, 0.1, 0.01, 0.01, "Increment for Mach", &w_.machSpinner,
         &w_.machStepSpinner},
        {"Swept=", ID_SWEPT, ID_SWEPT_STEP, quarel::kSweptRange.lo, quarel::kSweptRange.hi, 1.0,
         rc_.job.swept, 0.0001, 5.0, 0.01, 0.1, "Increment for Swept", &w_.sweptSpinner,
         &w_.sweptStepSpinner},
    };
    for (const SpinnerRow& row : rows) {
        new FXLabel(input, row.label, NULL, kLabelOptions);
        // The value spinners stop at the ends of their ranges: a Mach
        // number that wrapped from 0.9 to 0 would be an unseen jump.
        FXRealSpinner* value = new FXRealSpinner(input, 7, this, row.valueId,
                                                 REALSPIN_NORMAL | FRAME_SUNKEN | FRAME_THICK);
        value->setRange(row.lo, row.hi);
        value->setIncrement(row.step);
        value->setGranularity(0.001);
        value->setValue(row.value);
        FXRealSpinner* step = new FXRealSpinner(input, 4, this, row.stepId,
                                                REALSPIN_NORMAL | FRAME_SUNKEN | FRAME_THICK);
        step->setRange(row.stepLo, row.stepHi);
        step->setIncrement(row.stepStep);
        step->setGranularity(0.001);
        step->setValue(row.increment);
        step->setTipText(row.tip);
        *row.valueSpinner = value;
        *row.stepSpinner = step;
    }

    FXMatrix* convergence = twoColumns(group(page, "Convergence params:"));
    addField(convergence, "Diagonal dom.=", diagDomTarget_, 7, false);
    addField(convergence, "Max.residual=", maxResidualTarget_, 7, false);
    // Integer variables take integer entry: a real text such as "1e3" would
    // otherwise be cut to its leading digits when stored.
    addField(convergence, "Linear itererations=", linearIterationsTarget_, 7, true);
    addField(convergence, "GMRES dim.=", gmresDimTarget_, 7, true);
    new FXCheckButton(page,
                      "Non-isentropic shocks\tCarry the entropy of the shocks downstream "
                      "(lower mass flux and speed behind them)",
                      this, ID_ENTROPY);
    FXHorizontalFrame* lift =
        new FXHorizontalFrame(page, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, kPad, kPad);
    new FXCheckButton(lift,
                      "Fixed lift, Clift=\tFind the angle of attack at which the converged Clift "
                      "is this value (Alpha= is where the search starts)",
                      this, ID_FIXED_LIFT, CHECKBUTTON_NORMAL | LAYOUT_CENTER_Y);
    new FXTextField(lift, 8, this, ID_LIFT_TARGET, kFieldOptions | TEXTFIELD_REAL);

    w_.viscousPanel =
        new ViscousPanel(page, rc_, GROUPBOX_NORMAL | FRAME_GROOVE | LAYOUT_FILL_X, kPad);

    FXMatrix* output = twoColumns(group(page, "Output Data:"));
    // Output fields are wide enough for a signed value with six significant
    // digits and an exponent.
    w_.cliftField = addField(output, "Clift=", cliftTarget_, kOutputColumns, false);
    w_.cdragField = addField(output, "Cdrag=", cdragTarget_, kOutputColumns, false);
    w_.cmomentField = addField(output, "Cmoment=", cmomentTarget_, kOutputColumns, false);
    w_.cmomentField->setTipText(
        "Pitching-moment coefficient about the quarter chord, nose up "
        "positive, from the surface pressures");
    w_.cdragPressureField =
        addField(output, "Cdrag(p)=", cdragPressureTarget_, kOutputColumns, false);
    w_.cdragPressureField->setTipText(
        "Drag coefficient from the surface pressures (wave drag); "
        "published full-potential drags compare with this one");

    FXMatrix* buttons = twoColumns(page);
    w_.calculateButton = button(buttons, "Calculation", this, ID_CALCULATE);
    w_.cpViewButton = button(buttons, "Cp View", this, ID_CP_VIEW);
    w_.mViewButton = button(buttons, "M View", this, ID_M_VIEW);
    w_.cpEditButton = button(buttons, "Cp Edit", this, ID_CP_EDIT);
}

void Quarel::buildInverseTab(FXComposite* page) {
    FXVerticalFrame* column = new FXVerticalFrame(page, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                                                  0, 0, 0, 0, kPad, kPad);
    FXGroupBox* problem = group(column, "Problem");
    w_.analysisRadio = new FXRadioButton(problem, "Analysis", this, ID_ANALYSIS);
    w_.designRadio = new FXRadioButton(problem, "Design", this, ID_DESIGN);

    FXGroupBox* boundary = group(column, "");
    FXHorizontalFrame* boundaryRow =
        new FXHorizontalFrame(boundary, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, kPad, kPad);
    addField(boundaryRow,
             "Leading boundary \t  of the design region (relative):", designBoundaryTarget_, 6,
             false);

    FXGroupBox* regime = group(column, "Design regime");
    w_.regimeRadio[0] = new FXRadioButton(regime, "Design both surfaces", this, ID_REGIME_BOTH);
    w_.regimeRadio[1] =
        new FXRadioButton(regime, "Maintain thickness distrib.", this, ID_REGIME_THICKNESS);
    w_.regimeRadio[2] =
        new FXRadioButton(regime, "Maintain maximal thickness", this, ID_REGIME_MAXTHICK);

    FXMatrix* progress = twoColumns(column);
    w_.globalIterationField =
        addField(progress, "Global iteration=", globalIterationTarget_, 3, true);
    w_.cpDeviationField =
        addField(progress, "Cp deviation=", cpDeviationTarget_, kOutputColumns, false);
    // Before the first design iteration there is no deviation to show: the
    // window's own handler leaves the field empty until then.
    w_.cpDeviationField->setTarget(this);
    w_.cpDeviationField->setSelector(ID_CP_DEVIATION);
    w_.cliftCurrentField =
        addField(progress, "Clift current=", cliftCurrentTarget_, kOutputColumns, false);
    w_.cliftTargetField =
        addField(progress, "Clift target=", cliftTargetTarget_, kOutputColumns, false);

    w_.inverseCalculateButton = button(column, "Calculation", this, ID_CALCULATE);
}

Quarel::~Quarel() {
    rc_.writeIterationLog();
    delete cpEdit_;
    delete polar_;
    delete w_.fileMenu;
}

// Without shrinking decorations the window manager keeps the window at
// least this large.
FXint Quarel::getDefaultWidth() {
    return std::max(FXMainWindow::getDefaultWidth(), kMinWidth);
}

FXint Quarel::getDefaultHeight() {
    return std::max(FXMainWindow::getDefaultHeight(), kMinHeight);
}

void Quarel::create() {
    FXMainWindow::create();
    show(PLACEMENT_SCREEN);
}

void Quarel::refreshState() {
    forceRefresh();
    // The menu pane is a popup, not a child of the window.
    w_.fileMenu->forceRefresh();
}

void Quarel::inform(const FXString& caption, const FXString& text, Notice kind) {
    // The box shows every line at its full length: long messages are
    // wrapped so that it fits on the screen.
    const std::string wrapped = quarel::wrapText(text.text(), 90);
    switch (kind) {
        case Notice::Info:
            FXMessageBox::information(this, MBOX_OK, caption.text(), "%s", wrapped.c_str());
            break;
        case Notice::Warning:
            FXMessageBox::warning(this, MBOX_OK, caption.text(), "%s", wrapped.c_str());
            break;
        case Notice::Error:
            FXMessageBox::error(this, MBOX_OK, caption.text(), "%s", wrapped.c_str());
            break;
    }
}

bool Quarel::confirm(const FXString& caption, const FXString& text) {
    const std::string wrapped = quarel::wrapText(text.text(), 90);
    return FXMessageBox::question(this, MBOX_YES_NO, caption.text(), "%s", wrapped.c_str()) ==
           MBOX_CLICKED_YES;
}

// ---- Open ------------------------------------------------------------------

long Quarel::onCmdOpen(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Open Input Geometry file", 0, 0, 0, 500, 300);
    // The program's input files, and section coordinate files as libraries
    // publish them.
    dialog.setPatternList("Files (*.dat)\nCoordinate files (*.dat,*.txt)\nAll files (*)");
    // A cancelled dialog leaves everything as it was: "&Open..." stays
    // usable and nothing that needs a file becomes enabled.
    if (dialog.execute(PLACEMENT_CURSOR)) openFile(dialog.getFilename());
    return 1;
}

bool Quarel::openFile(const FXString& path) {
    // The run control writes the console line "File=<path>".
    try {
        jobLock_.acquire(path.text(), false);
        rc_.open(path.text());
    } catch (const quarel::FileError& e) {
        jobLock_.release();
        inform("Open Input Geometry file", e.what(), Notice::Error);
        return false;
    }
    showWarnings();  // what was changed on a coordinate file's section
    showFlowInputs();
    kept.clear();
    cpZoomed = false;
    gridShown = cpShown = 0;
    sectionShown = 1;
    drawSection();

    const std::size_t buffer = 500;
    bodyX_.assign(buffer, 0.0);
    bodyY_.assign(buffer, 0.0);
    faceX_.assign(buffer, 0.0);
    cpComputed_.assign(buffer, 0.0);
    cpTarget_.assign(buffer, 0.0);

    refreshState();
    return true;
}

long Quarel::onCmdAbout(FXObject*, FXSelector, void*) {
    inform("About",
           "Quarel: transonic full-potential analysis and design of wing sections, "
           "by the Quarel developers.");
    return 1;
}

long Quarel::onCmdTabs(FXObject*, FXSelector, void*) {
    return 1;
}

// ---- Spinners and radio buttons --------------------------------------------

long Quarel::onCmdAlpha(FXObject*, FXSelector, void*) {
    rc_.job.alpha = w_.alphaSpinner->getValue();
    rc_.flowChanged();
    refreshState();
    return 1;
}

long Quarel::onCmdMach(FXObject*, FXSelector, void*) {
    rc_.job.mach = w_.machSpinner->getValue();
    rc_.flowChanged();
    refreshState();
    return 1;
}

long Quarel::onCmdEntropy(FXObject* sender, FXSelector, void*) {
    rc_.job.entropy.enabled = static_cast<FXCheckButton*>(sender)->getCheck() == TRUE;
    rc_.flowChanged();
    refreshState();
    return 1;
}

long Quarel::onUpdEntropy(FXObject* sender, FXSelector, void*) {
    static_cast<FXCheckButton*>(sender)->setCheck(rc_.job.entropy.enabled ? TRUE : FALSE);
    return 1;
}

long Quarel::onCmdFixedLift(FXObject* sender, FXSelector, void*) {
    rc_.job.fixedLift = static_cast<FXCheckButton*>(sender)->getCheck() == TRUE;
    rc_.flowChanged();
    refreshState();
    return 1;
}

long Quarel::onUpdFixedLift(FXObject* sender, FXSelector, void*) {
    static_cast<FXCheckButton*>(sender)->setCheck(rc_.job.fixedLift ? TRUE : FALSE);
    return 1;
}

long Quarel::onCmdLiftTarget(FXObject* sender, FXSelector, void*) {
    rc_.job.clTarget = FXDoubleVal(static_cast<FXTextField*>(sender)->getText());
    rc_.flowChanged();
    refreshState();
    return 1;
}

long Quarel::onUpdLiftTarget(FXObject* sender, FXSelector, void*) {
    FXTextField* field = static_cast<FXTextField*>(sender);
    if (!field->hasFocus()) field->setText(FXString().format("%g", rc_.job.clTarget));
    field->handle(this, FXSEL(SEL_COMMAND, rc_.job.fixedLift ? ID_ENABLE : ID_DISABLE), NULL);
    return 1;
}

long Quarel::onCmdSwept(FXObject*, FXSelector, void*) {
    rc_.job.swept = w_.sweptSpinner->getValue();
    rc_.flowChanged();
    refreshState();
    return 1;
}

// The increment spinners are for show: the value spinners keep their steps.
long Quarel::onCmdStep(FXObject*, FXSelector, void*) {
    return 1;
}

long Quarel::onCmdProblem(FXObject*, FXSelector sel, void*) {
    rc_.setDesignMode(FXSELID(sel) == ID_DESIGN);
    refreshState();
    return 1;
}

long Quarel::onCmdRegime(FXObject*, FXSelector sel, void*) {
    rc_.setDesignRegime(static_cast<int>(FXSELID(sel)) - ID_REGIME_BOTH);
    refreshState();
    return 1;
}

// ---- Commands ---------------------------------------------------------------

void Quarel::showWarnings() {
    if (rc_.warnings().empty()) return;
    std::string text;
    for (const std::string& w : rc_.warnings()) {
        if (!text.empty()) text += "\n\n";
        text += w;
    }
    inform("Warning", text.c_str(), Notice::Warning);
}

long Quarel::onCmdSave(FXObject*, FXSelector, void*) {
    try {
        const std::string path = rc_.saveResult();
        w_.statusLine->setText(("Saved " + path).c_str());
    } catch (const quarel::FileError& e) {
        inform("Save Result", e.what(), Notice::Error);
    }
    return 1;
}

// The grid calculation with its messages; true when a grid was made.
bool Quarel::runGridCalculation() {
    try {
        rc_.gridCalculation();
    } catch (const quarel::ParameterError& e) {
        inform("Grid Calculation", e.what(), Notice::Error);
        return false;
    } catch (const quarel::FileError& e) {
        inform("Grid Calculation", e.what(), Notice::Error);
        return false;
    } catch (const quarel::SolverError& e) {
        inform("Grid Calculation", e.what(), Notice::Error);
        return false;
    }
    gridExtents = quarel::plot::sectionExtents(rc_.level());
    showWarnings();
    return true;
}

long Quarel::onCmdGrid(FXObject*, FXSelector, void*) {
    if (runGridCalculation()) {
        gridShown = 1;
        cpShown = 0;
        drawGrid();
    }
    refreshState();
    return 1;
}

long Quarel::onCmdCalculate(FXObject*, FXSelector, void*) {
    // While the run goes on, a small window shows its progress and offers
    // "Stop"; the main window repaints but takes no input.
    RunProgress progress(this);
    takeTargetCurve();
    running_ = true;
    progress.create();
    progress.show(PLACEMENT_OWNER);
    // The design step and the grid come before the first Newton step: the
    // window and its Stop button are painted now, not at that step.
    progress.report(rc_.design.designMode == 1 ? "Design global iteration ...\n\n"
                                               : "Grid calculation ...\n\n");
    getApp()->beginWaitCursor();
    rc_.setProgressHook(
        [this, &progress](const quarel::Progress& p) { return onRunProgress(progress, p); });
    struct Done {
        Quarel* window;
        ~Done() {
            window->running_ = false;
            window->rc_.setProgressHook(nullptr);
            window->getApp()->endWaitCursor();
            // A design iteration turns the angle of attack; a stopped one
            // puts it back.  The spinners show the angle of the job.
            window->showFlowInputs();
        }
    } done{this};

    quarel::RunControl::CalcOutcome outcome;
    try {
        outcome = rc_.calculate();
    } catch (const quarel::SolverError& e) {
        progress.hide();
        // The run control has put back what the run changed: the fields,
        // the plot and the files are those of before the command.
        inform("Calculation",
               FXString("The calculation was abandoned: ") + e.what() +
                   "\nThe results of the previous calculation (if any) are kept. "
                   "Change the parameters and run the calculation again.",
               Notice::Error);
        w_.statusLine->setText(statusText());
        refreshState();
        w_.canvas->update();
        return 1;
    } catch (const std::exception& e) {  // ParameterError, FileError
        progress.hide();
        inform("Calculation", e.what(), Notice::Error);
        refreshState();
        w_.canvas->update();
        return 1;
    }
    progress.hide();
    switch (outcome) {
        case quarel::RunControl::CalcOutcome::NoFile:
            inform("There's no open DATA file.", "");
            return 1;
        case quarel::RunControl::CalcOutcome::AlreadyDone:
            inform("", "Calculations have already been made.");
            return 1;
        case quarel::RunControl::CalcOutcome::Stopped:
            w_.statusLine->setText(statusText());
            refreshState();
            w_.canvas->update();
            inform("Calculation",
                   rc_.hasResults()
                       ? "The calculation was stopped. The results, files and log of the "
                         "previous calculation are kept."
                       : "The calculation was stopped. There are no results yet.");
            return 1;
        case quarel::RunControl::CalcOutcome::Done:
            break;
    }
    // The plot drawn now is that of the results: its header must not say
    // "calculating ..." (the flag is otherwise reset only on leaving).
    running_ = false;
    gridExtents = quarel::plot::sectionExtents(rc_.level());
    takeTargetCurve();
    showWarnings();
    drawCpPlot();
    refreshState();
    w_.viscousPanel->resultsChanged();
    return 1;
}

bool Quarel::onRunProgress(RunProgress& progress, const quarel::Progress& p) {
    FXString line;
    line.format("Level %d of %d, %d x %d, step %d: residual %.2E, Clift %.5f", p.level, p.levels,
                p.NX, p.NY, p.step, std::fabs(p.residual), p.clift);
    FXString text;
    text.format(
        "Grid %d x %d (level %d of %d), Newton step %d\n"
        "Largest residual %.3E (Max.residual %.1E)\nClift %.5f",
        p.NX, p.NY, p.level, p.levels, p.step, std::fabs(p.residual), p.maxResidual, p.clift);
    text = progressPrefix_ + text;
    w_.statusLine->setText(line);
    // The Cp plot of the level being solved: the surface Cp is computed at
    // every Newton step, so drawing it costs one polyline.
    drawCpPlot();
    progress.report(text);
    afterStep(progress);
    return !progress.stopRequested();
}

long Quarel::onCmdGridView(FXObject*, FXSelector, void*) {
    gridExtents = quarel::plot::sectionExtents(rc_.level());
    gridShown = 1;
    cpShown = 0;
    drawGrid();
    return 1;
}

long Quarel::onCmdWholeGrid(FXObject*, FXSelector, void*) {
    gridExtents = quarel::plot::gridExtents(rc_.level());
    gridShown = 1;
    cpShown = 0;
    drawGrid();
    return 1;
}

long Quarel::onCmdSavePlot(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save Plot");
    dialog.setPatternList("PNG image (*.png)");
    const std::string input = rc_.files().inputPath;
    dialog.setFilename((input.substr(0, input.size() - 4) + "_cp.png").c_str());
    if (dialog.execute(PLACEMENT_CURSOR)) savePlotAs(dialog.getFilename());
    return 1;
}

bool Quarel::savePlotAs(FXString path) {
    if (FXPath::extension(path).lower() != "png") path += ".png";
    const FXString csv = FXPath::stripExtension(path) + ".csv";
    if (FXStat::exists(path) || FXStat::exists(csv)) {
        if (!confirm("Save Plot", path + " or " + csv + " exists already. Replace it?")) {
            w_.statusLine->setText("Nothing saved: " + path + " exists.");
            return false;
        }
    }
    try {
        savePlot(path);
        w_.statusLine->setText("Saved " + path + " and " + csv);
    } catch (const std::exception& e) {
        inform("Save Plot", e.what(), Notice::Error);
        return false;
    }
    return true;
}

long Quarel::onCmdCpView(FXObject*, FXSelector, void*) {
    drawCpPlot();
    return 1;
}

long Quarel::onCmdMView(FXObject*, FXSelector, void*) {
    GLView3D* view = new GLView3D(this, &rc_.level());
    view->hasField = [this]() { return rc_.hasResults(); };
    view->caption = [this]() {
        if (!rc_.hasResults()) return FXString("Mach number: no results of the current grid");
        const quarel::JobParameters& in = rc_.resultsInputs();
        FXString text;
        text.format("%s\nMach number at M %.3f, alpha %.3f deg, sweep %.1f deg, grid %d x %d",
                    rc_.title().c_str(), in.mach, in.alpha, in.swept, rc_.level().NX,
                    rc_.level().NY);
        return text;
    };
    view->create();
    view->show(PLACEMENT_OWNER);
    return 1;
}

long Quarel::onCmdCpEdit(FXObject*, FXSelector, void*) {
    // One editor at a time writes the target.  An editor that is open and
    // still shows the last analysis is raised with its edits; a closed one,
    // or one of an earlier calculation, is replaced by a fresh editor on
    // the current Cp.
    if (cpEdit_ != nullptr && cpEdit_->shown() &&
        cpEdit_->editor().loadedFrom(rc_.level().NX, rc_.level().k, quarel::cpf.data())) {
        cpEdit_->raise();
        return 1;
    }
    delete cpEdit_;
    // The editor works on the flow the Cp was computed for.
    const quarel::FreeStream& flow = rc_.freeStream();
    CpEdit::Input in;
    in.NX = rc_.level().NX;
    in.k = rc_.level().k;
    in.mach = flow.mach;
    in.cu = flow.cu;
    in.su = flow.su;
    in.cosSweep = flow.cosSweep;
    in.clift = &rc_.results.clift;
    in.cliftTarget = &rc_.results.cliftTarget;
    cpEdit_ = new CpEdit(this, in, this, ID_CP_EDIT);
    cpEdit_->create();
    cpEdit_->show(PLACEMENT_SCREEN);
    return 1;
}

// "Cp design save" of the Cp editor: the target in cps is accepted and the
// window goes into design mode on the "Inverse" tab.
long Quarel::onChgCpEdit(FXObject*, FXSelector, void* ptr) {
    if (ptr == nullptr || ptr != cpEdit_ ||
        !cpEdit_->editor().loadedFrom(rc_.level().NX, rc_.level().k, quarel::cpf.data())) {
        inform("Cp Edit",
               "The Cp editor shows the Cp of an earlier calculation. Open it again with "
               "\"Cp Edit\" to edit the target on the last one.");
        return 1;
    }
    // Design mode: the widgets follow the run control's state.
    rc_.acceptTarget();
    takeTargetCurve();
    refreshState();
    drawCpPlot();
    w_.tabBook->setCurrent(2);
    return 1;
}

// ---- Canvas events -------------------------------------------------------------

long Quarel::onLeftPress(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    pressX = event->last_x;
    pressY = event->last_y;
    dragX = dragY = -1;
    // A double click on the Cp plot shows all of it again.
    if (cpShown && event->click_count == 2 && cpZoomed) {
        cpZoomed = false;
        drawCpPlot();
    }
    return 1;
}

long Quarel::onLeftRelease(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    if (cpShown) {
        // The box dragged on the Cp plot becomes the plot.
        quarel::plot::Frame f = cpFrame;
        if (f.contains(pressX, pressY) &&
            quarel::plot::zoomToBox(f, pressX, pressY, event->last_x, event->last_y)) {
            cpFrame = f;
            cpZoomed = true;
        }
        dragX = dragY = -1;
        drawCpPlot();
        return 1;
    }
    panOrZoom(event->last_x, event->last_y, (event->state & CONTROLMASK) != 0);
    return 1;
}

long Quarel::onMotion(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    if (cpShown) {
        if (event->state & LEFTBUTTONMASK) {
            zoomFeedback(event->win_x, event->win_y);
        } else if (cpFrame.contains(event->win_x, event->win_y) && !running_) {
            FXString text;
            text.format("x/c %.4f   Cp %.4f", cpFrame.xAt(event->win_x), cpFrame.yAt(event->win_y));
            w_.statusLine->setText(text);
        }
        return 1;
    }
    if (event->state & LEFTBUTTONMASK) {
        dragFeedback(event->win_x, event->win_y, (event->state & CONTROLMASK) != 0);
    }
    return 1;
}

// ---- Sweeps -----------------------------------------------------------------------

long Quarel::onCmdSweep(FXObject*, FXSelector, void*) {
    quarel::SweepSpec start;
    start.from = rc_.job.alpha;
    start.to = rc_.job.alpha + 4.0;
    start.step = 0.5;
    SweepDialog dialog(this, start);
    quarel::SweepSpec spec;
    std::string error;
    if (dialog.execute(PLACEMENT_OWNER) && dialog.range(spec, error)) runSweep(spec);
    return 1;
}

int Quarel::runSweep(const quarel::SweepSpec& spec) {
    if (!rc_.fileOpen()) return 0;
    if (polar_ == nullptr) {
        polar_ = new PolarView(this);
        polar_->create();
    }
    const bool alpha = spec.variable == quarel::SweepSpec::Variable::Alpha;
    char title[256];
    if (alpha) {
        std::snprintf(title, sizeof title, "%s: polar at M %.3f, sweep %.1f deg",
                      rc_.title().c_str(), rc_.job.mach, rc_.job.swept);
    } else {
        std::snprintf(title, sizeof title, "%s: Mach sweep at alpha %.3f deg, sweep %.1f deg",
                      rc_.title().c_str(), rc_.job.alpha, rc_.job.swept);
    }
    polar_->setPoints({}, spec.variable, title);
    polar_->show(PLACEMENT_OWNER);

    // The same progress window and Stop as a calculation.
    RunProgress progress(this);
    running_ = true;
    progress.create();
    progress.show(PLACEMENT_OWNER);
    progress.report("Sweep ...\n\n");
    getApp()->beginWaitCursor();
    rc_.setProgressHook(
        [this, &progress](const quarel::Progress& p) { return onRunProgress(progress, p); });
    const std::size_t total = quarel::SweepValues(spec).size();
    std::vector<quarel::SweepPoint> done;
    progressPrefix_.format("Sweep point 1 of %d\n", static_cast<int>(total));
    const std::vector<quarel::SweepPoint> points =
        quarel::RunSweep(rc_, spec, true, [&](const quarel::SweepPoint& p) {
            done.push_back(p);
            polar_->setPoints(done, spec.variable, title);
            progressPrefix_.format("Sweep point %d of %d\n", p.index + 1, static_cast<int>(total));
        });
    progressPrefix_ = "";
    running_ = false;
    rc_.setProgressHook(nullptr);
    getApp()->endWaitCursor();
    progress.hide();
    showFlowInputs();
    int computed = 0, converged = 0;
    for (const quarel::SweepPoint& p : points) {
        computed += p.done;
        converged += p.converged;
    }
    FXString text;
    text.format("Sweep: %d of %d points computed, %d converged%s", computed,
                static_cast<int>(total), converged,
                !points.empty() && points.back().stopped ? "; stopped" : "");
    if (rc_.hasResults()) {
        gridExtents = quarel::plot::sectionExtents(rc_.level());
        drawCpPlot();
    }
    refreshState();
    w_.statusLine->setText(text);
    return computed;
}

long Quarel::onCmdPolarView(FXObject*, FXSelector, void*) {
    if (polar_ != nullptr) polar_->show(PLACEMENT_OWNER);
    return 1;
}

long Quarel::onUpdSweep(FXObject* sender, FXSelector, void*) {
    // A sweep is an analysis: not in design mode.
    return enableIf(sender, this, rc_.fileOpen() && rc_.design.designMode == 0);
}

long Quarel::onUpdPolarView(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, polar_ != nullptr);
}

// ---- Reference curves and the section -----------------------------------------

bool Quarel::keepCurrentCp() {
    if (!rc_.hasResults()) return false;
    if (kept.full()) {
        w_.statusLine->setText("Six Cp curves are kept already: Clear Kept first.");
        return false;
    }
    const quarel::RunControl::Outline cp = rc_.surfaceCp();
    const quarel::JobParameters& in = rc_.resultsInputs();
    quarel::plot::KeptCurve c;
    char label[128];
    std::snprintf(label, sizeof label, "M %.3f, alpha %.2f: Clift %.4f", in.mach, in.alpha,
                  rc_.results.clift);
    c.label = label;
    c.x = cp.x;
    c.cp = cp.y;
    kept.add(std::move(c));
    if (cpShown) drawCpPlot();
    return true;
}

long Quarel::onCmdKeep(FXObject*, FXSelector, void*) {
    keepCurrentCp();
    return 1;
}

long Quarel::onCmdClearKept(FXObject*, FXSelector, void*) {
    kept.clear();
    if (cpShown) drawCpPlot();
    return 1;
}

long Quarel::onCmdSectionView(FXObject*, FXSelector, void*) {
    gridShown = cpShown = 0;
    sectionShown = 1;
    drawSection();
    return 1;
}

long Quarel::onCmdSaveSection(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Save Section");
    dialog.setPatternList("Input files (*.dat)");
    const std::string input = rc_.files().inputPath;
    dialog.setFilename((input.substr(0, input.size() - 4) + "_section.dat").c_str());
    if (dialog.execute(PLACEMENT_CURSOR)) saveSectionAs(dialog.getFilename());
    return 1;
}

bool Quarel::saveSectionAs(FXString path) {
    if (FXPath::extension(path).lower() != "dat") path += ".dat";
    const FXString txt = FXPath::stripExtension(path) + ".txt";
    if (FXStat::exists(path) || FXStat::exists(txt)) {
        if (!confirm("Save Section", path + " or " + txt + " exists already. Replace it?")) {
            w_.statusLine->setText("Nothing saved: " + path + " exists.");
            return false;
        }
    }
    try {
        rc_.saveSection(path.text(), txt.text());
    } catch (const std::exception& e) {
        inform("Save Section", e.what(), Notice::Error);
        return false;
    }
    w_.statusLine->setText("Saved " + path + " and " + txt);
    return true;
}

long Quarel::onUpdKeep(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.hasResults() && !kept.full());
}

long Quarel::onUpdClearKept(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, !kept.curves().empty());
}

long Quarel::onUpdSection(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.fileOpen());
}

// ---- Enabling: every widget follows the state of the run control ------------

namespace {

long enableIf(FXObject* sender, FXObject* self, bool on) {
    sender->handle(self, FXSEL(SEL_COMMAND, on ? FXWindow::ID_ENABLE : FXWindow::ID_DISABLE), NULL);
    return 1;
}

long checkIf(FXObject* sender, FXObject* self, bool on) {
    sender->handle(self, FXSEL(SEL_COMMAND, on ? FXWindow::ID_CHECK : FXWindow::ID_UNCHECK), NULL);
    return 1;
}

}  // namespace

long Quarel::onUpdOpen(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.canOpen());
}

long Quarel::onUpdTabs(FXObject*, FXSelector, void*) {
    const bool on[3] = {rc_.gridTabEnabled(), rc_.calculationTabEnabled(),
                        rc_.problemChoiceEnabled()};
    FXTabItem* items[3] = {w_.gridTab, w_.calculationTab, w_.inverseTab};
    for (int n = 0; n < 3; ++n) {
        if (on[n] != (items[n]->isEnabled() != FALSE)) {
            if (on[n]) {
                items[n]->enable();
            } else {
                items[n]->disable();
            }
        }
    }
    return 1;
}

long Quarel::onUpdProblem(FXObject* sender, FXSelector sel, void*) {
    enableIf(sender, this, rc_.problemChoiceEnabled());
    return checkIf(sender, this, (rc_.design.designMode == 1) == (FXSELID(sel) == ID_DESIGN));
}

long Quarel::onUpdRegime(FXObject* sender, FXSelector sel, void*) {
    return checkIf(sender, this,
                   rc_.job.designRegime == static_cast<int>(FXSELID(sel)) - ID_REGIME_BOTH);
}

long Quarel::onUpdGrid(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.canGridCalculate());
}

long Quarel::onUpdGridView(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.canViewGrid());
}

// Both "Calculation" buttons send ID_CALCULATE: the one on the Inverse tab
// is always offered, the one on the Calculation tab while a calculation
// may start.
long Quarel::onUpdCalculate(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, sender != w_.calculateButton || rc_.calculationOffered());
}

long Quarel::onUpdResults(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.canViewResults());
}

long Quarel::onUpdCpEdit(FXObject* sender, FXSelector, void*) {
    return enableIf(sender, this, rc_.canEditCp());
}

// The status line also keeps the result fields and the Cp plot honest:
// once an input has changed after a calculation, they are greyed and the
// plot says whose results it shows.
long Quarel::onUpdStatus(FXObject*, FXSelector, void*) {
    const bool stale = rc_.resultsStale();
    for (FXTextField* f : {w_.cliftField, w_.cdragField, w_.cmomentField, w_.cdragPressureField,
                           w_.cpDeviationField, w_.cliftCurrentField, w_.cliftTargetField}) {
        if (stale == (f->isEnabled() != FALSE)) {
            if (stale) {
                f->disable();
            } else {
                f->enable();
            }
        }
    }
    if (stale != plotStale && cpShown) w_.canvas->update();
    // A new state replaces whatever the line showed (progress, a note).
    const FXString text = statusText();
    if (!running_ && text != lastStatus_) {
        lastStatus_ = text;
        w_.statusLine->setText(text);
    }
    return 1;
}

long Quarel::onUpdCpDeviation(FXObject* sender, FXSelector, void*) {
    FXTextField* field = static_cast<FXTextField*>(sender);
    if (rc_.design.globalIteration == 0) {
        if (!field->getText().empty()) field->setText("");
        return 1;
    }
    // The value as the data targets show theirs.
    double value = rc_.results.cpDeviation;
    return field->handle(this, FXSEL(SEL_COMMAND, FXWindow::ID_SETREALVALUE), &value);
}

// The spinners after a command that may change the flow inputs, without
// notification (nothing has changed for the user to calculate again).
void Quarel::showFlowInputs() {
    w_.alphaSpinner->setValue(rc_.job.alpha);
    w_.machSpinner->setValue(rc_.job.mach);
    w_.sweptSpinner->setValue(rc_.job.swept);
}

void Quarel::takeTargetCurve() {
    quarel::RunControl::Outline t = rc_.designTarget();
    if (t.x.empty()) return;
    targetX = std::move(t.x);
    targetCp = std::move(t.y);
}

FXString Quarel::statusText() const {
    if (!rc_.fileOpen()) return "Open an input file (File > Open...).";
    const quarel::JobParameters& in = rc_.resultsInputs();
    FXString text;
    if (rc_.resultsStale()) {
        text.format("Results are for M %g, alpha %g, sweep %g: inputs changed", in.mach, in.alpha,
                    in.swept);
    } else if (rc_.hasResults()) {
        text.format("M %g, alpha %g, sweep %g, %d x %d: Clift %.5f", in.mach, in.alpha, in.swept,
                    rc_.level().NX, rc_.level().NY, rc_.results.clift);
        const quarel::ViscousResults& v = rc_.results.viscous;
        if (v.valid) {
            FXString drag;
            drag.format(", Cdrag(total) %.5f = %.5f f + %.5f p", v.cdTotal, v.cdFriction,
                        v.cdTotal - v.cdFriction);
            text += drag;
        }
        // A warning of the run stays in view with its result.
        if (!rc_.resultNotes().empty()) {
            text += ". Warning: ";
            text += rc_.resultNotes().front().c_str();
        }
    } else if (rc_.canViewGrid()) {
        text = "Grid ready: press Calculation.";
    } else {
        text = "Press Grid Calculation.";
    }
    // The turn of the section to its chord line, when there is one to tell
    // (first, where the narrow line cuts off nothing else that matters).
    if (rc_.canViewGrid() && !rc_.rotationNote().empty()) {
        FXString turn;
        const double t = std::fabs(rc_.chordRotation());
        const char* way = rc_.chordRotation() < 0.0 ? "down" : "up";
        if (rc_.hasResults()) {
            turn.format(" (turned %.3f deg nose %s)", t, way);
            text += turn;
        } else {
            turn.format("Section turned %.3f deg nose %s to its chord. ", t, way);
            text = turn + text;
        }
    }
    return text;
}
