// The main window: widget tree, data bindings, commands and enabling rules.
#include "Quarel.h"

#include <string>

#include "GLView3D.h"
#include "message.h"
#include "textwrap.h"

// clang-format off
FXDEFMAP(Quarel) QuarelMap[] = {
    //________Message_Type__________ID___________________________Message_Handler_______
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_OPEN,             Quarel::onCmdOpen),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ABOUT,            Quarel::onCmdAbout),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_TABS,             Quarel::onCmdTabs),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_ALPHA,            Quarel::onCmdAlpha),
    FXMAPFUNC(SEL_COMMAND,           Quarel::ID_MACH,             Quarel::onCmdMach),
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
    FXMAPFUNC(SEL_PAINT,             Quarel::ID_CANVAS,           Quarel::onPaint),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS,   Quarel::ID_CANVAS,           Quarel::onLeftPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, Quarel::ID_CANVAS,           Quarel::onLeftRelease),
    FXMAPFUNC(SEL_MOTION,            Quarel::ID_CANVAS,           Quarel::onMotion),
};
// clang-format on

FXIMPLEMENT(Quarel, FXMainWindow, QuarelMap, ARRAYNUMBER(QuarelMap))

namespace {

// Layout of the frames: 4 pixels of padding and spacing.
constexpr int kPad = 4;

// Options of a parameter field.
constexpr FXuint kFieldOptions = JUSTIFY_RIGHT | FRAME_SUNKEN | FRAME_THICK;
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
    : FXMainWindow(app, "Brenvoli Calculation", NULL, NULL, DECOR_ALL, 0, 0, 593, 627) {
    quarel::RunControl& r = rc_;
    npaTarget_.connect(r.NPA);
    ncoTarget_.connect(r.NCO);
    nbhTarget_.connect(r.NBH);
    kgridTarget_.connect(r.Kgrid);
    const int dsEntries[7] = {1, 4, 6, 7, 8, 10, 13};
    for (int n = 0; n < 7; ++n) dsTarget_[n].connect(r.DSGRID(dsEntries[n]));
    diagDomTarget_.connect(r.diagDom);
    maxResidualTarget_.connect(r.maxResidual);
    linearIterationsTarget_.connect(r.linearIterations);
    gmresDimTarget_.connect(r.gmresDim);
    cliftTarget_.connect(r.clift);
    cdragTarget_.connect(r.cdrag);
    cmomentTarget_.connect(r.cmoment);
    cdragPressureTarget_.connect(r.cdragPressure);
    designBoundaryTarget_.connect(r.designLeadBoundary);
    globalIterationTarget_.connect(r.globalIteration);
    cpDeviationTarget_.connect(r.cpDeviation);
    cliftCurrentTarget_.connect(r.cliftCurrent);
    cliftTargetTarget_.connect(r.cliftTarget);

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

    FXHorizontalFrame* saveFrame =
        new FXHorizontalFrame(left, LAYOUT_FILL_X, 0, 0, 0, 0, kPad, kPad, kPad, kPad, kPad, kPad);
    w_.saveButton = new FXButton(saveFrame, "Save Result", NULL, this, ID_SAVE, BUTTON_NORMAL);

    FXVerticalFrame* right =
        new FXVerticalFrame(columns, FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0);
    w_.canvas = new FXCanvas(right, this, ID_CANVAS,
                             FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    w_.canvas->setDefaultCursor(getApp()->getDefaultCursor(DEF_CROSSHAIR_CURSOR));

    // 5. Nothing can be calculated or viewed before a file is open.
    w_.saveButton->disable();
    w_.gridButton->disable();
    w_.gridViewButton->disable();
    w_.calculateButton->disable();
    w_.cpViewButton->disable();
    w_.mViewButton->disable();
    w_.cpEditButton->disable();
    w_.analysisRadio->disable();
    w_.designRadio->disable();
    w_.gridTab->disable();
    w_.calculationTab->disable();
    w_.inverseTab->disable();
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
    w_.gridViewButton = button(buttons, "Grid View", this, ID_GRID_VIEW);
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
        {"Alpha=", ID_ALPHA, ID_ALPHA_STEP, -85.0, 85.0, 0.1, rc_.alpha, 0.0001, 5.0, 0.01, 0.1,
         "Increment for Alpha", &w_.alphaSpinner, &w_.alphaStepSpinner},
        {"Mach=", ID_MACH, ID_MACH_STEP, 0.0, 0.9, 0.02, rc_.mach, 0.0001, 0.1, 0.01, 0.01,
         "Increment for Mach", &w_.machSpinner, &w_.machStepSpinner},
        {"Swept=", ID_SWEPT, ID_SWEPT_STEP, 0.0, 85.0, 1.0, rc_.swept, 0.0001, 5.0, 0.01, 0.1,
         "Increment for Swept", &w_.sweptSpinner, &w_.sweptStepSpinner},
    };
    for (const SpinnerRow& row : rows) {
        new FXLabel(input, row.label, NULL, kLabelOptions);
        FXRealSpinner* value = new FXRealSpinner(input, 7, this, row.valueId,
                                                 REALSPIN_CYCLIC | FRAME_SUNKEN | FRAME_THICK);
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

    FXMatrix* output = twoColumns(group(page, "Output Data:"));
    w_.cliftField = addField(output, "Clift=", cliftTarget_, 10, false);
    w_.cdragField = addField(output, "Cdrag=", cdragTarget_, 10, false);
    w_.cmomentField = addField(output, "Cmoment=", cmomentTarget_, 10, false);
    w_.cmomentField->setTipText(
        "Pitching-moment coefficient about the quarter chord, nose up "
        "positive, from the surface pressures");
    w_.cdragPressureField = addField(output, "Cdrag(p)=", cdragPressureTarget_, 10, false);
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
    w_.analysisRadio->setCheck(TRUE);

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
    w_.regimeRadio[0]->setCheck(TRUE);

    FXMatrix* progress = twoColumns(column);
    w_.globalIterationField =
        addField(progress, "Global iteration=", globalIterationTarget_, 3, true);
    addField(progress, "Cp deviation=", cpDeviationTarget_, 10, false);
    w_.cliftCurrentField = addField(progress, "Clift current=", cliftCurrentTarget_, 10, false);
    addField(progress, "Clift target=", cliftTargetTarget_, 10, false);

    w_.inverseCalculateButton = button(column, "Calculation", this, ID_CALCULATE);
}

Quarel::~Quarel() {
    rc_.writeIterationLog();
    delete w_.fileMenu;
}

void Quarel::create() {
    FXMainWindow::create();
    show(PLACEMENT_SCREEN);
}

void Quarel::inform(const FXString& caption, const FXString& text) {
    // The box shows every line at its full length: long messages are
    // wrapped so that it fits on the screen.
    const std::string wrapped = quarel::wrapText(text.text(), 90);
    FXMessageBox::information(this, MBOX_OK, caption.text(), "%s", wrapped.c_str());
}

// ---- Open ------------------------------------------------------------------

long Quarel::onCmdOpen(FXObject*, FXSelector, void*) {
    FXFileDialog dialog(this, "Open Input Geometry file", 0, 0, 0, 500, 300);
    dialog.setPatternList("Files (*.dat)");
    // A cancelled dialog leaves everything as it was: "&Open..." stays
    // usable and nothing that needs a file becomes enabled.
    if (dialog.execute(PLACEMENT_CURSOR)) openFile(dialog.getFilename());
    return 1;
}

bool Quarel::openFile(const FXString& path) {
    // The run control writes the console line "File=<path>".
    try {
        rc_.open(path.text());
    } catch (const quarel::FileError& e) {
        inform("Open Input Geometry file", e.what());
        return false;
    }
    // One file per program run.
    w_.openCommand->disable();

    w_.alphaSpinner->setValue(rc_.alpha);
    w_.machSpinner->setValue(rc_.mach);
    w_.sweptSpinner->setValue(rc_.swept);

    w_.gridTab->enable();
    w_.gridButton->enable();
    w_.saveButton->disable();
    w_.gridViewButton->disable();
    w_.calculateButton->disable();
    w_.cpViewButton->disable();
    w_.mViewButton->disable();

    const std::size_t buffer = 500;
    bodyX_.assign(buffer, 0.0);
    bodyY_.assign(buffer, 0.0);
    faceX_.assign(buffer, 0.0);
    cpComputed_.assign(buffer, 0.0);
    cpTarget_.assign(buffer, 0.0);

    setRegimeRadios(rc_.designRegime);
    forceRefresh();
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
    rc_.alpha = w_.alphaSpinner->getValue();
    rc_.flowChanged();
    w_.calculateButton->enable();
    return 1;
}

long Quarel::onCmdMach(FXObject*, FXSelector, void*) {
    rc_.mach = w_.machSpinner->getValue();
    rc_.flowChanged();
    w_.calculateButton->enable();
    return 1;
}

long Quarel::onCmdSwept(FXObject*, FXSelector, void*) {
    rc_.swept = w_.sweptSpinner->getValue();
    rc_.flowChanged();
    w_.calculateButton->enable();
    return 1;
}

// The increment spinners are for show: the value spinners keep their steps.
long Quarel::onCmdStep(FXObject*, FXSelector, void*) {
    return 1;
}

long Quarel::onCmdProblem(FXObject*, FXSelector sel, void*) {
    const bool design = FXSELID(sel) == ID_DESIGN;
    w_.analysisRadio->setCheck(!design);
    w_.designRadio->setCheck(design);
    rc_.designMode = design ? 1 : 0;
    return 1;
}

long Quarel::onCmdRegime(FXObject*, FXSelector sel, void*) {
    setRegimeRadios(static_cast<int>(FXSELID(sel)) - ID_REGIME_BOTH);
    rc_.designRegime = static_cast<int>(FXSELID(sel)) - ID_REGIME_BOTH;
    return 1;
}

void Quarel::setRegimeRadios(int regime) {
    for (int n = 0; n < 3; ++n) w_.regimeRadio[n]->setCheck(n == regime);
}

// ---- Commands ---------------------------------------------------------------

void Quarel::showWarnings() {
    if (rc_.warnings.empty()) return;
    std::string text;
    for (const std::string& w : rc_.warnings) {
        if (!text.empty()) text += "\n\n";
        text += w;
    }
    inform("Warning", text.c_str());
}

long Quarel::onCmdSave(FXObject*, FXSelector, void*) {
    try {
        rc_.saveResult();
    } catch (const quarel::FileError& e) {
        inform("Save Result", e.what());
    }
    return 1;
}

void Quarel::enableAfterGridCalculation() {
    w_.calculationTab->enable();
    w_.gridViewButton->enable();
    w_.calculateButton->enable();
}

// The grid calculation with its messages; true when a grid was made.
bool Quarel::runGridCalculation() {
    try {
        rc_.gridCalculation();
    } catch (const quarel::ParameterError& e) {
        inform("Grid Calculation", e.what());
        return false;
    } catch (const quarel::FileError& e) {
        inform("Grid Calculation", e.what());
        return false;
    } catch (const quarel::SolverError& e) {
        inform("Grid Calculation", e.what());
        return false;
    }
    showWarnings();
    enableAfterGridCalculation();
    return true;
}

long Quarel::onCmdGrid(FXObject*, FXSelector, void*) {
    if (runGridCalculation()) {
        gridShown = 1;
        cpShown = 0;
        drawGrid();
    }
    forceRefresh();
    return 1;
}

long Quarel::onCmdCalculate(FXObject*, FXSelector, void*) {
    quarel::RunControl::CalcOutcome outcome;
    try {
        outcome = rc_.calculate();
    } catch (const quarel::SolverError& e) {
        // The arrays hold a half-finished run: the results of an earlier
        // run can no longer be shown or saved consistently.
        w_.cpViewButton->disable();
        w_.mViewButton->disable();
        w_.saveButton->disable();
        cpShown = 0;
        inform("Calculation", FXString("The calculation was abandoned: ") + e.what() +
                                  "\nChange the parameters and run the calculation again.");
        forceRefresh();
        return 1;
    } catch (const std::exception& e) {  // ParameterError, FileError
        inform("Calculation", e.what());
        forceRefresh();
        return 1;
    }
    switch (outcome) {
        case quarel::RunControl::CalcOutcome::NoFile:
            inform("There's no open DATA file.", "");
            return 1;
        case quarel::RunControl::CalcOutcome::AlreadyDone:
            inform("", "Calculations have already been made.");
            return 1;
        case quarel::RunControl::CalcOutcome::Done:
            break;
    }
    showWarnings();
    enableAfterGridCalculation();
    w_.cpViewButton->enable();
    w_.mViewButton->enable();
    w_.saveButton->enable();
    if (rc_.globalIteration == 0) {
        w_.cpEditButton->enable();
    } else {
        w_.cpEditButton->disable();
    }
    if (rc_.designMode == 0) w_.calculateButton->disable();
    drawCpPlot();
    forceRefresh();
    return 1;
}

long Quarel::onCmdGridView(FXObject*, FXSelector, void*) {
    gridShown = 1;
    cpShown = 0;
    drawGrid();
    return 1;
}

long Quarel::onCmdCpView(FXObject*, FXSelector, void*) {
    drawCpPlot();
    return 1;
}

long Quarel::onCmdMView(FXObject*, FXSelector, void*) {
    GLView3D* view = new GLView3D(this);
    view->create();
    view->show(PLACEMENT_OWNER);
    return 1;
}

long Quarel::onCmdCpEdit(FXObject*, FXSelector, void*) {
    inform("Cp Edit", "The Cp editor is not part of this version of Quarel.");
    return 1;
}

// ---- Canvas events -------------------------------------------------------------

long Quarel::onLeftPress(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    pressX = event->last_x;
    pressY = event->last_y;
    return 1;
}

long Quarel::onLeftRelease(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    panOrZoom(event->last_x, event->last_y, (event->state & CONTROLMASK) != 0);
    return 1;
}

long Quarel::onMotion(FXObject*, FXSelector, void*) {
    return 1;
}
