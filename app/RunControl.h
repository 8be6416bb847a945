// Run control of a Quarel job: the parameters of the panels, the grid
// calculation, the coarse-to-fine analysis run, the iteration log and
// the result file.  Plain C++: the main window owns one and binds its
// fields to the members; the batch program and the tests drive the same
// object without a display.
#pragma once

#include <string>
#include <vector>

#include "INPT1.h"
#include "newton_options.h"

namespace quarel {

class RunControl {
public:
    RunControl();

    // ---- Panel variables (bound to the main window's fields) ----------
    int NPA = 0, NCO = 0, NBH = 0, Kgrid = 0;  // grid parameters of the coarsest grid
    GrowthRatios DSGRID{};                     // entries 1,4,6,7,8,10,13 shown
    double alpha = 0.0;                        // angle of attack, degrees
    double mach = 0.5;                         // free-stream Mach number
    double swept = 0.0;                        // sweep angle, degrees
    double diagDom = 0.0;                      // "Diagonal dom."
    double maxResidual = 0.0;                  // "Max.residual"
    int linearIterations = 0;                  // GMRES cycles per Newton step
    int gmresDim = 0;                          // Krylov dimension
    double clift = 0.0, cdrag = 0.0;           // "Clift=", "Cdrag="
    double designLeadBoundary = 0.0;           // leading boundary of the design region
    int globalIteration = 0;
    double cpDeviation = 0.0;
    double cliftCurrent = 0.0, cliftTarget = 0.0;

    // ---- Job state ------------------------------------------------------
    int designMode = 0;    // 1 after a target Cp has been accepted
    int designRegime = 0;  // 0 both surfaces, 1 thickness distribution, 2 max thickness
    int liftCorrection = 0;
    int runStage = 0;  // 0 nothing open, 1 file open, 2 grid/changed, 3 calculated
    int saveCounter = 0;
    FileNames names;
    std::string inputPath;   // as chosen at "Open"
    std::string itrPath;     // iteration-log file
    std::string resultPath;  // last result file written
    int pathLength = 0;

    // Input contour.
    int NCONT = 0;
    ContourInput XCONT{}, YCONT{};

    // ---- Run variables passed to the solver -----------------------------
    int npa = 0, k = 0, NX = 0, NY = 0, gridStep = 1, iMid = 0, iLead = 0;
    double sweepRad = 0.0, cosSweep = 1.0, sin2Sweep = 0.0;
    double alphaN = 0.0, alphaShift = 0.0, alphaCorrFactor = 1.0;
    double cu = 1.0, su = 0.0;
    double diagFactor = 1.0;
    double mach2 = 0.0, invGm1 = 0.0, mach2Gm1 = 0.0;
    double gamma = 1.4;
    int iterCount = 0, iterTotal = 0;
    int designFlag = 0, designEnd = 0;
    double residual = 0.0;
    std::vector<double> yBody0;
    char lineBuffer[81] = {};
    int iMaxThick = 0;
    double maxThick = 0.0;
    double designLift = 0.0;
    double cpStar = 0.0;
    double x0 = 0.0, chordInclination = 0.0;
    std::string levelTitle;      // " Grid: NX x NY" of the current level
    int fineNX = 0, fineNY = 0;  // fine-grid sizes of the last coarse-to-fine transfer
    // Change of the section ordinates made by a design global iteration,
    // per contour node 0..500; cleared by every grid calculation.
    std::vector<double> dyCorr = std::vector<double>(501, 0.0);
    // Warnings of the last grid calculation or calculation (folded grid
    // lines, interpolation faults), for the window or the batch program
    // to show.
    std::vector<std::string> warnings;
    // Linear solve of the Newton steps.
    NewtonOptions newtonOptions;
    // The fine level of the last calculation ended with the largest
    // residual below "Max.residual" and a settled lift (LevelConvergence).
    bool converged = false;

    // ---- Iteration log ---------------------------------------------------
    std::vector<std::string> log;  // every line of every run
    int logCount = 0;

    // ---- Grid picture extents -------------------------------------------
    double gxMin = 1.0e6, gxMax = -1.0e6, gyMin = 1.0e6, gyMax = -1.0e6;

    // ---- Commands ---------------------------------------------------------
    // "Open": fills the file names, reads the file, copies the values into
    // the panel variables.  Writes the console line "File=<path>".  The
    // derived names replace the last three characters of the path, so the
    // path must have 5 .. 80 characters (the name fields hold 80) and must
    // not itself be one of the derived names.  Throws FileError (nothing
    // changed) on a bad path or file.  runStage = 1 afterwards.
    void open(const std::string& path);

    // True once a file has been opened.
    bool fileOpen() const { return runStage >= 1; }

    // "Grid Calculation".  Throws ParameterError before any array is
    // touched when the panel values do not fit; FileError in design mode
    // when the restart or Cp file is missing (solution untouched).
    void gridCalculation();

    enum class CalcOutcome { NoFile, AlreadyDone, Done };
    // "Calculation": the grid calculation when no design iteration has
    // been made, then the run driver.  NoFile when no file is open.
    // Throws ParameterError (nothing changed; also in design mode, which
    // this version does not calculate), FileError or SolverError; after a
    // SolverError runStage is 2, xg/yg and the sizes are the fine grid's,
    // and no restart or Cp file is written.  A FileError from writing the
    // restart/Cp files comes after a complete run (runStage 3).
    CalcOutcome calculate();

    // The coarse-to-fine run over all grid levels.
    void runDriver();

    // Integrated lift of a surface distribution (cpf or cps); stored in
    // clift as well.
    double integratedLift(const double* f);

    // "Save Result": advances saveCounter, writes NAME_N.out.  Returns the
    // path; throws FileError when the file cannot be written.
    std::string saveResult();

    // Writes the iteration-log file (header and every log line).  Returns
    // false when there is no name or the file cannot be written.
    bool writeIterationLog() const;

    // Extents of the fine grid for the picture.
    void computeGridExtents();

    // A spinner changed alpha, mach or swept: a new calculation may start
    // (only meaningful once a file is open; without one the stage stays 0
    // so that "Calculation" still reports the missing file).
    void flowChanged() {
        if (runStage >= 1) runStage = 2;
    }

    // Name of the result file number `counter`: the input path without
    // its last four characters, "_", the counter, ".out".
    std::string resultName(int counter) const;

private:
    void appendLog(const std::string& line);
    void prepareLevel();
    void iterateLevel();
    // "The Newton iteration on the NX x NY grid <what> <residual>
    // (Max.residual <tolerance>)", the start of a warning about the level.
    std::string levelReport(const std::string& what) const;
    // Carries the potential to the next finer grid.
    void finishLevel();
    void postProcess();
    void restoreFineGrid();
    void initialiseFlowArrays();
    double computeCpDeviation() const;
};

// Watches the Newton steps of one grid level for a stall: a step whose
// linear solve left more than 99 % of the largest residual and whose
// correction was below 1 % of that residual changes nothing, and three such
// steps in a row make a stall (the run then strengthens the preconditioner,
// or ends the level if it already has).  A weak solve (few short GMRES cycles) may also leave the
// residual in place, but its corrections are of the residual's size, so it
// does not count.
class StallWatch {
public:
    static constexpr int kSteps = 3;
    static constexpr double kLeftShare = 0.99;
    static constexpr double kCorrectionShare = 0.01;
    // One step: the share of the largest residual its solve left, its
    // largest correction and its largest residual (all magnitudes).
    // Returns true when the steps so far make a stall.
    bool step(double leftShare, double largestCorrection, double residual);
    void reset() { count_ = 0; }

private:
    int count_ = 0;
};

// Overwrites text.size() characters of `line` from `pos` with `text` (as
// FXString::replace does); a text reaching past the end lengthens the line.
void placeAt(std::string& line, int pos, const std::string& text);

}  // namespace quarel
