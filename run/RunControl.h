// Run control of a Quarel job: the commands of the main window ("Open",
// "Grid Calculation", "Calculation", "Save Result", the problem and regime
// choice) and the state they leave, from which the window derives what it
// shows and which commands it offers.  Plain C++: the main window owns one
// and binds its fields to `job`, `results` and `design`; the batch program
// and the tests drive the same object without a display.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ArraySnapshot.h"
#include "CGRD1.h"
#include "DesignIteration.h"
#include "FreeStream.h"
#include "GridLevel.h"
#include "JobFiles.h"
#include "JobParameters.h"
#include "RunDriver.h"
#include "message.h"

namespace quarel {

// Where a job stands in its run: which commands the window offers and
// what the arrays hold.  "Offered": the Calculation command may run (a flow
// input changed, a target was accepted, or a design iteration may follow).
enum class RunStage {
    Closed,             // no file open
    ClosedOffered,      // no file, a flow input changed (Calculation says there is no file)
    Opened,             // a file open, no grid yet
    OpenedOffered,      // a file open, no grid, a flow input changed
    GridReady,          // a grid without results: a calculation may start
    ResultsReady,       // results of an earlier calculation kept; a calculation may start
    Calculated,         // results of the last calculation, nothing changed since
    CalculatedOffered,  // results of the last calculation; the next one is offered
};

class RunControl {
public:
    // ---- Data the panels bind to ----------------------------------------
    JobParameters job;
    Results results;
    DesignState design;

    // ---- Commands ---------------------------------------------------------
    // "Open": derives the file names, reads the file and puts its values on
    // the panels.  Writes the console line "File=<path>".  Throws FileError
    // (nothing changed) on a bad path or file.  A section coordinate file
    // (CoordinateFile.h) is taken with the parameters of `templ`, or the
    // built-in defaults; what had to be changed on the section is listed
    // in warnings().
    void open(const std::string& path, const JobParameters* templ = nullptr);

    // The title of the job (the input file's first line, or the name line
    // of a coordinate file).
    std::string title() const;

    // "Grid Calculation".  Throws ParameterError before any array is
    // touched when the panel values do not fit; FileError in design mode
    // when the restart or Cp file is missing (everything as it was).
    void gridCalculation();

    enum class CalcOutcome { NoFile, AlreadyDone, Done, Stopped };
    // "Calculation": the grid calculation when no design iteration has
    // been made; in design mode one design global iteration (globalIteration
    // counts them); then the coarse-to-fine run.  NoFile when no file is
    // open.  Throws ParameterError (nothing changed), FileError (in design
    // mode also a missing restart or Cp file), DesignRefused (the
    // iteration could not be made; section, grid, potential and angle as
    // before) or SolverError.  A run that breaks down (SolverError) or is
    // stopped by the progress hook (Stopped) leaves the job, the arrays,
    // the results and the files as they were before the command; only the
    // iteration log keeps its lines.  A FileError from writing the
    // restart/Cp files comes after a complete run.
    CalcOutcome calculate();

    // With `on`, a calculation on the same fine grid as the last one starts
    // from its converged solution (polars and Mach sweeps), on the next
    // coarser level and then the fine one; otherwise, and whenever the
    // grid differs, from the free stream on the coarsest level.  With
    // `before` the potential of the solution before the last
    // (finePotential()), the start is extrapolated from the two
    // (ExtrapolatedPotential, `ratio` the next step over the last).  With
    // `fineOnly` the warm start runs the fine level alone: for a change so
    // small that the coarser level would only undo the fine grid's own
    // solution (the last steps of a fixed-lift search).
    void setWarmStart(bool on, std::vector<double> before = std::vector<double>(),
                      double ratio = 0.0, bool fineOnly = false) {
        warmStart_ = on;
        gridFresh_ = false;
        warmBefore_ = std::move(before);
        warmRatio_ = ratio;
        warmFineOnly_ = fineOnly;
    }
    // The potential of the fine grid (FinePotential).
    std::vector<double> finePotential() const;
    // True when the last grid calculation kept the previous solution.
    bool warmStarted() const { return warmStarted_; }

    // The linear solve of the Newton steps, for the analysis and the design
    // run alike (the direct method unless chosen otherwise).
    void setNewtonOptions(const NewtonOptions& options) { newton_.setOptions(options); }
    const NewtonOptions& newtonOptions() const { return newton_.options(); }
    // The solver of the Newton steps (its column-sweep state).
    const NewtonSolver& newtonSolver() const { return newton_; }
    // The grid generation's options (the distance of the far boundary).
    void setGridOptions(const GridOptions& options) {
        gridOptions_ = options;
        gridFresh_ = false;
    }
    const GridOptions& gridOptions() const { return gridOptions_; }
    // The fine level of the last calculation met the tolerance with a
    // settled lift.
    bool converged() const { return hasResults() && status_.converged; }
    // The last calculation's result was flagged as one the isentropic
    // model does not carry, or as far from the coarser grid's.
    bool resultFlagged() const { return hasResults() && status_.implausible; }
    // The last design global iteration left a Cp deviation that has
    // stopped falling (DesignStallWarning, among the warnings).
    bool designStalled() const { return designStalled_; }

    // Called after every Newton step of a calculation (progress display,
    // stop request); an empty hook removes it.
    void setProgressHook(ProgressHook hook) { progress_ = std::move(hook); }

    // "Save Result": advances the save counter, writes NAME_N.out.  Returns
    // the path; throws FileError when the file cannot be written or there
    // are no results (a new grid has replaced them).
    std::string saveResult();

    // Writes the iteration-log file (header and every log line).  Returns
    // false when there is no name or the file cannot be written.
    bool writeIterationLog() const;

    // A spinner changed alpha, mach or swept: a new calculation may start.
    void flowChanged();
    // The "Analysis" / "Design" radio buttons.
    void setDesignMode(bool design) {
        this->design.designMode = design ? 1 : 0;
        gridFresh_ = false;
    }
    // The design-regime radio buttons (0, 1, 2).
    void setDesignRegime(int regime) { job.designRegime = regime; }
    // The Cp editor handed over a target distribution (in cps): the job
    // goes into design mode.
    void acceptTarget();

    // ---- State -------------------------------------------------------------
    // 0 nothing open, 1 file open, 2 grid made or flow changed (a
    // calculation may start), 3 calculated.
    int runStage() const;
    RunStage stage() const { return stage_; }
    bool fileOpen() const { return stage_ >= RunStage::Opened; }
    // The grid level in the solver arrays (after a run, the fine grid).
    const GridLevel& level() const { return level_; }
    const FreeStream& freeStream() const { return flow_; }
    const JobFiles& files() const { return files_; }
    const IterationLog& log() const { return log_; }
    const RunStatus& status() const { return status_; }
    int saveCounter() const { return saveCounter_; }
    // Warnings of the last grid calculation or calculation (folded grid
    // lines, interpolation faults, unconverged levels), for the window or
    // the batch program to show.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // True while the arrays hold the results of a finished calculation.
    bool hasResults() const { return stage_ >= RunStage::ResultsReady; }
    // The panel values the results were computed with.
    const JobParameters& resultsInputs() const { return resultsJob_; }
    // True when a flow, grid or convergence input has changed since the
    // results were computed: they belong to the previous inputs.
    bool resultsStale() const;
    // What the last design global iteration did.
    const DesignReport& lastDesign() const { return lastDesign_; }
    // Warnings of the calculation whose results are kept (a flagged result
    // keeps saying why, whatever was shown since).
    const std::vector<std::string>& resultNotes() const { return resultNotes_; }

    // A section outline in chord units with true ordinates, from the
    // trailing edge over the upper side to the leading edge and back.
    struct Outline {
        std::vector<double> x, y;
    };
    // The contour of the input file (empty before "Open").
    Outline inputSection() const;
    // The section the last grid was generated on (empty before a grid).
    Outline startSection() const;
    // The section now in the saved fine grid: after design iterations the
    // designed one (empty before a grid).
    Outline currentSection() const;
    // The computed Cp (y) over the face centres (x) of the section, from the
    // upper trailing edge round to the lower one (empty without results).
    Outline surfaceCp() const;
    // In design mode on the fine grid, the target Cp (y) over the face
    // centres (x) of the section; empty otherwise.
    Outline designTarget() const;
    // Writes the current section as an input file (the job's parameters,
    // so that opening it gives this section again) at `inputPath` and as a
    // plain list of x y lines at `coordinatePath` (either may be empty).
    // Throws FileError.
    void saveSection(const std::string& inputPath, const std::string& coordinatePath) const;
    // The turn of the section to its chord line made by the last grid
    // calculation (degrees, positive nose up; design.chordInclination),
    // and the note that says so when it exceeds 0.01 degrees (else empty).
    double chordRotation() const { return design.chordInclination; }
    const std::string& rotationNote() const { return rotationNote_; }

    // ---- What the window offers ---------------------------------------------
    // One file per program run.
    bool canOpen() const { return !fileOpen(); }
    bool gridTabEnabled() const { return fileOpen() && !design.targetAccepted; }
    // Not once a design iteration has changed the section: the grid
    // calculation would build the grid of the input contour again.
    bool canGridCalculate() const { return fileOpen() && design.globalIteration == 0; }
    bool calculationTabEnabled() const { return gridMade(); }
    bool canViewGrid() const { return gridMade(); }
    // The Calculation tab's "Calculation": after a grid calculation, a
    // spinner change or an accepted target; not after an analysis run.
    bool calculationOffered() const;
    bool canViewResults() const { return hasResults(); }  // "Cp View", "M View", "Save Result"
    bool canEditCp() const { return hasResults() && design.globalIteration == 0; }
    // "Analysis", "Design" and the "Inverse" tab.
    bool problemChoiceEnabled() const { return design.targetAccepted; }

private:
    bool gridMade() const { return stage_ >= RunStage::GridReady; }
    // The stage with Calculation offered (a flow input changed, a target
    // was accepted, a design iteration may follow).
    void offerCalculation();
    // A grid in the arrays, ready for a calculation; `keepResults` keeps
    // the results of an earlier calculation.
    void gridReady(bool keepResults);
    void runDriver();
    void takeWarnings();
    // Everything a command changes (the solver arrays `arrays` holds and
    // the state of this object), taken before it and put back when it is
    // refused, stopped or breaks down.
    struct Snapshot;
    Snapshot snapshot(ArraySnapshot arrays) const;
    void restore(const Snapshot& saved);
    void generateGrid();
    void noteRotation();
    void startFromRestart(const Snapshot& saved);

    GridLevel level_;
    FreeStream flow_;
    JobFiles files_;
    IterationLog log_;
    RunStatus status_;
    std::vector<std::string> warnings_;
    // The run's own message channel: its warnings are its own.
    msg::Context messages_;
    RunStage stage_ = RunStage::Closed;
    int saveCounter_ = 0;
    bool warmStart_ = false, warmStarted_ = false, warmFineOnly_ = false;
    std::vector<double> warmBefore_;
    double warmRatio_ = 0.0;
    // Cells of the last grid that are turned over, and the first of them.
    int foldedCells_ = 0, foldedI_ = 0, foldedJ_ = 0;
    JobParameters resultsJob_;
    // The last grid calculation started from the free stream with the
    // inputs gridJob_, and nothing has changed its state since: the
    // calculation that follows starts from it instead of making the same
    // grid again (the batch program's grid calculation before
    // "Calculation", the window's "Grid Calculation").
    bool gridFresh_ = false;
    JobParameters gridJob_;
    ProgressHook progress_;
    NewtonSolver newton_;
    GridOptions gridOptions_;
    // The grid of the last listing this run control wrote (x and y of
    // lines 1 .. NY-1), and writeListing() that writes "grid.out" unless
    // it holds the grid in xg, yg already.
    std::vector<double> listed_;
    void writeListing();
    DesignReport lastDesign_;
    std::vector<std::string> resultNotes_;
    std::string rotationNote_;
    bool designStalled_ = false;
};

// Reads the program's own input file at `path` (the job and its title).
// Throws FileError.
JobParameters ReadInputFile(const std::string& path, std::string& title);

// True when the two jobs have the same flow, grid and convergence inputs
// (the values a result depends on).
bool SameInputs(const JobParameters& a, const JobParameters& b);

}  // namespace quarel
