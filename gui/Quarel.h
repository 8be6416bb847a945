// The main window of Quarel: the parameter panels, the commands and the
// canvas with the grid picture and the Cp plot.
//
// Every job parameter and every run variable lives in one RunControl
// member; the text fields are bound to its members through data targets,
// the command handlers only call its methods and report failures, and
// every widget takes its enabled and checked state from the run control's
// state in its SEL_UPDATE handler.
#pragma once

#include <fx.h>

#include <vector>

#include "RunControl.h"
#include "plotmath.h"

class CpEdit;
class PolarView;
class RunProgress;
class ViscousPanel;
namespace quarel {
struct SweepSpec;
}

class Quarel : public FXMainWindow {
    FXDECLARE(Quarel)

public:
    enum {
        ID_CANVAS = FXMainWindow::ID_LAST,
        ID_OPEN,
        ID_ABOUT,
        ID_TABS,
        ID_ALPHA,
        ID_MACH,
        ID_SWEPT,
        ID_ALPHA_STEP,
        ID_MACH_STEP,
        ID_SWEPT_STEP,
        ID_ANALYSIS,
        ID_DESIGN,
        ID_REGIME_BOTH,
        ID_REGIME_THICKNESS,
        ID_REGIME_MAXTHICK,
        ID_SAVE,
        ID_CALCULATE,
        ID_GRID,
        ID_GRID_VIEW,
        ID_CP_VIEW,
        ID_M_VIEW,
        ID_CP_EDIT,
        ID_SAVE_PLOT,     // "Save Plot": the Cp plot as PNG and its data as CSV
        ID_GRID_WHOLE,    // "Whole Grid": the grid picture out to the far field
        ID_STATUS,        // the status line under the canvas
        ID_CP_DEVIATION,  // "Cp deviation=": empty until a design iteration measured it
        ID_KEEP,          // "Keep Cp": the current Cp becomes a reference curve
        ID_CLEAR_KEPT,    // "Clear Kept": no reference curves
        ID_SECTION_VIEW,  // "Section View": the section (start and designed) on the canvas
        ID_SAVE_SECTION,  // "Save Section": the section as an input file and as x y lines
        ID_SWEEP,         // "Sweep...": a range of angles or Mach numbers, into the polar view
        ID_POLAR_VIEW,    // "Polar View": the polar of the last sweep
        ID_ENTROPY,       // the non-isentropic model on or off
        ID_FIXED_LIFT,    // "Fixed lift": alpha found for the lift target
        ID_LIFT_TARGET,   // the lift target of a fixed-lift run
        ID_LAST
    };

    // The widgets that the handlers touch (owned by their toolkit parents).
    struct Widgets {
        FXMenuPane* fileMenu = nullptr;
        FXMenuCommand* openCommand = nullptr;
        FXTabBook* tabBook = nullptr;
        FXTabItem* gridTab = nullptr;
        FXTabItem* calculationTab = nullptr;
        FXTabItem* inverseTab = nullptr;
        FXRealSpinner* alphaSpinner = nullptr;
        FXRealSpinner* machSpinner = nullptr;
        FXRealSpinner* sweptSpinner = nullptr;
        FXRealSpinner* alphaStepSpinner = nullptr;
        FXRealSpinner* machStepSpinner = nullptr;
        FXRealSpinner* sweptStepSpinner = nullptr;
        FXRadioButton* analysisRadio = nullptr;
        FXRadioButton* designRadio = nullptr;
        FXRadioButton* regimeRadio[3] = {nullptr, nullptr, nullptr};
        FXButton* gridButton = nullptr;
        FXButton* gridViewButton = nullptr;
        FXButton* calculateButton = nullptr;         // on the Calculation tab
        FXButton* inverseCalculateButton = nullptr;  // on the Inverse tab
        FXButton* cpViewButton = nullptr;
        FXButton* mViewButton = nullptr;
        FXButton* cpEditButton = nullptr;
        FXButton* saveButton = nullptr;
        FXButton* savePlotButton = nullptr;
        FXButton* wholeGridButton = nullptr;
        FXButton* keepButton = nullptr;
        FXButton* clearKeptButton = nullptr;
        FXButton* sectionViewButton = nullptr;
        FXButton* saveSectionButton = nullptr;
        FXButton* sweepButton = nullptr;
        FXButton* polarViewButton = nullptr;
        FXCanvas* canvas = nullptr;
        FXLabel* statusLine = nullptr;
        ViscousPanel* viscousPanel = nullptr;  // "Viscous:" on the Calculation tab
        // Text fields in panel order: NPA, NCO, NBH, Kgrid, the seven growth
        // ratios, the four convergence parameters, Clift, Cdrag, the design
        // boundary, Global iteration, Cp deviation, Clift current, Clift
        // target.
        FXTextField* npaField = nullptr;
        FXTextField* ncoField = nullptr;
        FXTextField* nbhField = nullptr;
        FXTextField* kgridField = nullptr;
        FXTextField* cliftField = nullptr;
        FXTextField* cdragField = nullptr;
        FXTextField* cmomentField = nullptr;
        FXTextField* cdragPressureField = nullptr;
        FXTextField* cliftCurrentField = nullptr;
        FXTextField* cliftTargetField = nullptr;
        FXTextField* cpDeviationField = nullptr;
        FXTextField* globalIterationField = nullptr;
        std::vector<FXTextField*> fields;
    };

    explicit Quarel(FXApp* app);
    virtual ~Quarel();

    virtual void create();
    virtual FXint getDefaultWidth();
    virtual FXint getDefaultHeight();

    // The job: parameters, run variables, iteration log.
    quarel::RunControl& runControl() { return rc_; }
    const Widgets& widgets() const { return w_; }
    // The Cp editor made by the last "Cp Edit" (null before the first).
    CpEdit* cpEditor() const { return cpEdit_; }

    // Everything the Open command does after the file dialog: reads the
    // file and refreshes the window.  On failure an information box names
    // the problem, nothing changes and false is returned.
    bool openFile(const FXString& path);

    // Drawings on the canvas.
    void drawGrid();
    void drawCpPlot();
    void drawSection();

    // Writes the Cp plot as a PNG picture of `width` x `height` pixels
    // (the canvas size when 0) and the plotted data as CSV beside it (the
    // same name with ".csv").  Throws quarel::FileError.
    void savePlot(const FXString& pngPath, int width = 0, int height = 0);

    // Called after every Newton step of a calculation, once the window
    // shows its progress; tests override it to act during a run.
    virtual void afterStep(RunProgress& progress) { (void)progress; }

    // Brings every widget's enabled and checked state, and every field, up
    // to date with the run control now (the toolkit also does so when idle).
    void refreshState();

    // Shows a message box with an OK button and the icon of its kind.  The
    // one way the window reports to the user; tests override it to record
    // the messages.
    enum class Notice { Info, Warning, Error };
    virtual void inform(const FXString& caption, const FXString& text, Notice kind = Notice::Info);
    // Asks a yes/no question (before a file is overwritten); true for yes.
    virtual bool confirm(const FXString& caption, const FXString& text);

    // "Save Plot" after its file dialog: asks before an existing picture or
    // table is replaced, then writes both and says so on the status line.
    // False when nothing was written.
    bool savePlotAs(FXString path);

    // Which picture a repaint redraws (the Cp plot wins when both are set,
    // the section shows when neither is).
    int gridShown = 0;
    int cpShown = 0;
    int sectionShown = 0;

    // The Cp plot's data frame as last drawn, and whether it is zoomed.
    quarel::plot::Frame cpFrame;
    bool cpZoomed = false;
    // Reference Cp curves ("Keep Cp").
    quarel::plot::KeptCurves kept;

    // "Save Section" after its file dialog: the input file at `path` (".dat"
    // added when missing) and the x y lines beside it with ".txt"; asks
    // before replacing either.  False when nothing was written.
    bool saveSectionAs(FXString path);
    // "Keep Cp": false (and a note on the status line) when six are kept.
    bool keepCurrentCp();

    // "Sweep..." after its dialog: the batch program's sweep in the window,
    // with the progress window and Stop, into the polar view.  Returns the
    // number of points computed.
    int runSweep(const quarel::SweepSpec& spec);
    // The polar view of the last sweep (null before the first).
    PolarView* polarView() const { return polar_; }

    // Extents of the grid picture (moved by pan and zoom).
    quarel::plot::Extents gridExtents;

    // Extents, scales and offsets of the last drawing.
    double plotXMin = 0.0, plotXMax = 0.0, plotYMin = 0.0, plotYMax = 0.0;
    double scaleX = 0.0, scaleY = 0.0;
    int marginLeft = 45, marginRight = 5, marginTop = 5, marginBottom = 20;
    double xOffset = 0.0;
    double cpTop = 0.0, cpRef = 0.0;
    double bxMin = 0.0, bxMax = 0.0, byMin = 0.0, byMax = 0.0, cpMin = 0.0, cpMax = 0.0;

    // Pointer position of the last left-button press on the canvas, and
    // the end of the rubber line drawn since (-1: none).
    int pressX = 0, pressY = 0;
    int dragX = -1, dragY = -1;
    // The stale state the plot was last drawn in.
    bool plotStale = false;
    // True while a calculation runs; the status line text last derived from
    // the state.
    bool running_ = false;
    // Size of the drawable the current drawing goes to (canvas or image).
    int paintW_ = 0, paintH_ = 0;
    FXString lastStatus_;

    long onCmdOpen(FXObject*, FXSelector, void*);
    long onCmdAbout(FXObject*, FXSelector, void*);
    long onCmdTabs(FXObject*, FXSelector, void*);
    long onCmdAlpha(FXObject*, FXSelector, void*);
    long onCmdMach(FXObject*, FXSelector, void*);
    long onCmdEntropy(FXObject*, FXSelector, void*);
    long onUpdEntropy(FXObject*, FXSelector, void*);
    long onCmdFixedLift(FXObject*, FXSelector, void*);
    long onUpdFixedLift(FXObject*, FXSelector, void*);
    long onCmdLiftTarget(FXObject*, FXSelector, void*);
    long onUpdLiftTarget(FXObject*, FXSelector, void*);
    long onCmdSwept(FXObject*, FXSelector, void*);
    long onCmdStep(FXObject*, FXSelector, void*);
    long onCmdProblem(FXObject*, FXSelector, void*);
    long onCmdRegime(FXObject*, FXSelector, void*);
    long onCmdSave(FXObject*, FXSelector, void*);
    long onCmdCalculate(FXObject*, FXSelector, void*);
    long onCmdGrid(FXObject*, FXSelector, void*);
    long onCmdGridView(FXObject*, FXSelector, void*);
    long onCmdCpView(FXObject*, FXSelector, void*);
    long onCmdMView(FXObject*, FXSelector, void*);
    long onCmdCpEdit(FXObject*, FXSelector, void*);
    long onChgCpEdit(FXObject*, FXSelector, void*);
    long onCmdSavePlot(FXObject*, FXSelector, void*);
    long onCmdWholeGrid(FXObject*, FXSelector, void*);
    long onPaint(FXObject*, FXSelector, void*);
    long onLeftPress(FXObject*, FXSelector, void*);
    long onLeftRelease(FXObject*, FXSelector, void*);
    long onMotion(FXObject*, FXSelector, void*);
    long onCmdKeep(FXObject*, FXSelector, void*);
    long onCmdClearKept(FXObject*, FXSelector, void*);
    long onCmdSectionView(FXObject*, FXSelector, void*);
    long onCmdSaveSection(FXObject*, FXSelector, void*);
    long onUpdKeep(FXObject*, FXSelector, void*);
    long onUpdClearKept(FXObject*, FXSelector, void*);
    long onUpdSection(FXObject*, FXSelector, void*);
    long onCmdSweep(FXObject*, FXSelector, void*);
    long onCmdPolarView(FXObject*, FXSelector, void*);
    long onUpdSweep(FXObject*, FXSelector, void*);
    long onUpdPolarView(FXObject*, FXSelector, void*);

    long onUpdOpen(FXObject*, FXSelector, void*);
    long onUpdTabs(FXObject*, FXSelector, void*);
    long onUpdProblem(FXObject*, FXSelector, void*);
    long onUpdRegime(FXObject*, FXSelector, void*);
    long onUpdGrid(FXObject*, FXSelector, void*);
    long onUpdGridView(FXObject*, FXSelector, void*);
    long onUpdCalculate(FXObject*, FXSelector, void*);
    long onUpdResults(FXObject*, FXSelector, void*);
    long onUpdCpEdit(FXObject*, FXSelector, void*);
    long onUpdStatus(FXObject*, FXSelector, void*);
    long onUpdCpDeviation(FXObject*, FXSelector, void*);

protected:
    Quarel() {}

private:
    Quarel(const Quarel&) = delete;
    Quarel& operator=(const Quarel&) = delete;

    void buildGridTab(FXComposite* page);
    void buildCalculationTab(FXComposite* page);
    void buildInverseTab(FXComposite* page);
    FXTextField* addField(FXComposite* matrix, const char* label, FXDataTarget& target, int columns,
                          bool integerEntry);
    void showWarnings();
    bool runGridCalculation();
    void showFlowInputs();
    void takeTargetCurve();

    bool onRunProgress(RunProgress& progress, const quarel::Progress& p);
    // The status line's text when no calculation runs.
    FXString statusText() const;

    // Canvas helpers (QuarelPlot.cpp).
    void paintGrid(FXDC& dc);
    void paintCpPlot(FXDC& dc, int W, int H);
    // Phases of paintCpPlot.
    void fillCpBuffers(int k, int npa);
    std::pair<double, double> cpRange() const;
    void paintCriticalCp(FXDC& dc, const quarel::plot::Frame& f);
    void paintCpLegend(FXDC& dc, const quarel::plot::Frame& f, bool stale);
    void paintSectionStrip(FXDC& dc, const quarel::plot::Frame& f, int H, double thickness);
    void paintSection(FXDC& dc, int W, int H);
    // The header lines of a picture: text and colour name.
    struct HeaderLine {
        FXString text;
        const char* colour;
    };
    std::vector<HeaderLine> cpHeader() const;
    // Draws the header lines from the top; returns the y below them.
    int paintHeader(FXDC& dc, const std::vector<HeaderLine>& lines, int W);
    // Numbered, titled axes with dashed grid lines at the ticks.
    void paintAxes(FXDC& dc, const quarel::plot::Frame& f, const char* xTitle, const char* yTitle,
                   bool gridLines);
    // Draws the section outlines (start dashed, current solid) in `f`.
    void paintOutlines(FXDC& dc, const quarel::plot::Frame& f, bool legend);
    // Zoom box on the Cp plot: XOR rectangle from the press to (x, y).
    void zoomFeedback(int x, int y);
    void writePlotData(const std::string& path) const;
    // Rubber line from the press to the pointer while the grid is dragged.
    void dragFeedback(int x, int y, bool zoom);
    void polyline(FXDC& dc, const double* x, const double* y, int first, int count,
                  const char* color, bool dashed, bool cpMapping);
    void panOrZoom(int releaseX, int releaseY, bool zoom);

    quarel::RunControl rc_;
    quarel::JobLock jobLock_;  // the open job is run by this window alone
    Widgets w_;
    // The one Cp editor: the target has a single author.
    CpEdit* cpEdit_ = nullptr;
    // The one polar view, refilled by every sweep.
    PolarView* polar_ = nullptr;
    // What the progress window says before the step (the sweep point).
    FXString progressPrefix_;

    // One data target per text field.
    FXDataTarget npaTarget_, ncoTarget_, nbhTarget_, kgridTarget_;
    FXDataTarget dsTarget_[7];
    FXDataTarget diagDomTarget_, maxResidualTarget_, linearIterationsTarget_, gmresDimTarget_;
    FXDataTarget cliftTarget_, cdragTarget_;
    FXDataTarget cmomentTarget_, cdragPressureTarget_;
    FXDataTarget designBoundaryTarget_, globalIterationTarget_, cpDeviationTarget_;
    FXDataTarget cliftCurrentTarget_, cliftTargetTarget_;

    // Plot buffers: body x, body y, face-centre x, computed Cp, target Cp.
    std::vector<double> bodyX_, bodyY_, faceX_, cpComputed_, cpTarget_;

public:
    // The target Cp over the faces of the fine grid, taken when a design
    // calculation starts: the coarse levels of the run cannot index it.
    std::vector<double> targetX, targetCp;
};
