#include "RunControl.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

#include "ArraySnapshot.h"
#include "CGRD1.h"
#include "CoordinateFile.h"
#include "DesignFiles.h"
#include "DesignIteration.h"
#include "EntropyInput.h"
#include "INPT1.h"
#include "SRV11.h"
#include "StartPotential.h"
#include "ViscousInput.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "solution_files.h"
#include "splines.h"
#include "state.h"
#include "validate.h"

namespace quarel {

namespace {

// The Cp plot buffers of the window hold 500 values: npa + 1 body nodes.
constexpr int kMaxPlotPanels = 499;
// A turn of the section to its chord line that is reported (degrees).
constexpr double kReportedRotation = 0.01;

}  // namespace

void RunControl::takeWarnings() {
    for (std::string& w : messages_.takeWarnings()) warnings_.push_back(std::move(w));
}

// ---------------------------------------------------------------------------
// Open
// ---------------------------------------------------------------------------

namespace {

// Reads the program's own input file named in `names` (title stored there).
JobParameters readJob(FileNames& names, const JobParameters& start, int& designMode) {
    JobParameters read;
    read.DSGRID = start.DSGRID;
    double sweep = 0.0, diagDom = 0.0;
    ReadGeom(names, read.mach, read.alpha, read.gamma, sweep, diagDom, read.maxResidual, read.NPA,
             read.NCO, read.NBH, read.Kgrid, read.linearIterations, read.gmresDim,
             read.liftCorrection, read.designRegime, read.designLeadBoundary, designMode,
             read.NCONT, read.XCONT, read.YCONT, read.DSGRID);
    read.swept = sweep;
    read.diagDom = diagDom;
    const std::string path = nameOf(names.inputName, sizeof names.inputName);
    std::ifstream f(path, std::ios::binary);
    std::ostringstream text;
    text << f.rdbuf();
    ReadViscousSettings(text.str(), path, read.viscous);
    ReadEntropySettings(text.str(), path, read.entropy);
    return read;
}

void setTitle(FileNames& names, std::string title) {
    title = title.substr(0, kNameField);
    while (!title.empty() && title.back() == ' ') title.pop_back();
    std::memset(names.title, 0, sizeof names.title);
    std::memcpy(names.title, title.data(), title.size());
    names.titleLen = static_cast<int32_t>(title.size()) + 1;
}

}  // namespace

JobParameters ReadInputFile(const std::string& path, std::string& title) {
    FileNames names;
    std::snprintf(names.inputName, sizeof names.inputName, "%s", path.c_str());
    int designMode = 0;
    const JobParameters job = readJob(names, JobParameters{}, designMode);
    title = nameOf(names.title, kNameField);
    return job;
}

void RunControl::open(const std::string& path, const JobParameters* templ) {
    const msg::Scope scope(messages_);
    gridFresh_ = false;
    JobFiles files = JobFiles::forInput(path);
    msg::console("File=" + path);

    // Read into a fresh job: a file that fails leaves the job as it was.
    JobParameters read;
    int designMode = 0;
    std::vector<std::string> notes;
    std::string text;
    {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream s;
        if (f) s << f.rdbuf();
        text = s.str();
    }
    if (!text.empty() && RecogniseCoordinates(text) != CoordinateLayout::None) {
        const Section section = ReadSection(text, path);
        read = templ != nullptr ? *templ : DefaultJob();
        SetContour(read, section);
        setTitle(files.names, section.name);
        notes = section.notes;
    } else {
        read = readJob(files.names, job, designMode);
    }

    files_ = std::move(files);
    job = read;
    design = DesignState{};
    design.designMode = designMode;
    level_ = GridLevel{};
    stage_ = RunStage::Opened;
    rotationNote_.clear();
    warnings_ = notes;
}

std::string RunControl::title() const {
    return nameOf(files_.names.title, kNameField);
}

// Everything a command may change, to put back when it is refused, stopped
// or breaks down.
struct RunControl::Snapshot {
    ArraySnapshot arrays;
    JobParameters job;  // a design iteration turns the angle of attack
    GridLevel level;
    FreeStream flow;
    Results results;
    DesignState design;
    RunStatus status;
    RunStage stage;
    JobParameters resultsJob;
    std::vector<std::string> resultNotes;
};

RunControl::Snapshot RunControl::snapshot(ArraySnapshot arrays) const {
    return Snapshot{std::move(arrays), job,    level_,      flow_,       results, design,
                    status_,           stage_, resultsJob_, resultNotes_};
}

void RunControl::restore(const Snapshot& saved) {
    saved.arrays.restore();
    job = saved.job;
    level_ = saved.level;
    flow_ = saved.flow;
    results = saved.results;
    design = saved.design;
    status_ = saved.status;
    stage_ = saved.stage;
    resultsJob_ = saved.resultsJob;
    resultNotes_ = saved.resultNotes;
}

// ---------------------------------------------------------------------------
// Grid calculation
// ---------------------------------------------------------------------------

// The section is turned to put its chord on the x-axis; users who measure
// alpha from the file's x-axis need to know by how much.
void RunControl::noteRotation() {
    rotationNote_.clear();
    if (std::fabs(design.chordInclination) > kReportedRotation) {
        int le = 1;
        for (int m = 2; m <= job.NCONT; ++m)
            if (job.XCONT(m) < job.XCONT(le)) le = m;
        char b[400];
        std::snprintf(b, sizeof b,
                      "The section was turned %.3f degrees nose %s to put its chord on the "
                      "x-axis: the chord runs from the leading edge (the point of smallest x, "
                      "x = %.6g, y = %.6g) to the midpoint of the first and the last point, and "
                      "alpha is measured from it, not from the x-axis of the file.",
                      std::fabs(design.chordInclination),
                      design.chordInclination < 0.0 ? "down" : "up", job.XCONT(le), job.YCONT(le));
        rotationNote_ = b;
        log_.append(std::string(" Note: ") + b);
    }
}

// The grid round the prepared contour, with its folded cells counted.
// Growth ratios that do not suit the grid can make the spacing
// interpolation fail at many stations, each with a block of text: the user
// gets one message that counts them and shows the first.
void RunControl::generateGrid() {
    msg::ConsoleHold hold(true);
    // The listing is written after the grid is compared with the last one
    // listed: a calculation that makes the grid of the grid calculation
    // before it again (the batch program, every point of a sweep) leaves
    // the listing of that very grid in place.
    GridOptions options = gridOptions_;
    options.listing = false;
    GridGen(level_.NY, level_.k, level_.npa, design.x0, job.DSGRID, options);
    writeListing();
    foldedCells_ = FoldedCells(level_.NX, level_.NY, foldedI_, foldedJ_);
    std::vector<std::string> w = messages_.takeWarnings();
    std::vector<std::string> faults, others;
    for (std::string& t : w) (t.find("***") != std::string::npos ? faults : others).push_back(t);
    if (faults.size() > 1) {
        hold.drop();
        std::string first = faults.front();
        while (!first.empty() && (first.front() == ' ' || first.front() == '\n'))
            first.erase(first.begin());
        msg::warning("The grid generation met " + std::to_string(faults.size()) +
                     " interpolation faults (the spacing along the grid lines could not "
                     "be interpolated: the growth ratios do not suit these grid sizes). "
                     "The first:\n" +
                     first);
        for (const std::string& t : others) msg::warning(t);
    } else {
        for (const std::string& t : w) warnings_.push_back(t);
    }
}

void RunControl::writeListing() {
    const int NX = level_.NX, NY = level_.NY;
    bool same = listed_.size() == static_cast<size_t>(2 * (NX + 1) * (NY - 1));
    std::vector<double> grid;
    grid.reserve(listed_.size());
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 0; i <= NX; ++i) {
            grid.push_back(xg(i, j));
            grid.push_back(yg(i, j));
        }
    same = same && grid == listed_;
    struct stat st;
    if (same && ::stat("grid.out", &st) == 0) return;
    WriteGridListing(NX, NY);
    listed_ = std::move(grid);
}

// The potential of the previous analysis of this grid (the restart and Cp
// files) as the start of a design, with its densities and surface results;
// a missing or short file puts the job back as `saved` holds it.
void RunControl::startFromRestart(const Snapshot& saved) {
    const int NX = level_.NX, NY = level_.NY, k = level_.k;
    try {
        ReadRestart(files_.names, level_.NY, level_.NX, level_.k, status_.iterCount,
                    status_.iterTotal, design.designEnd, job.designLeadBoundary, flow_.cu, flow_.su,
                    flow_.cosSweep, design.designLift);
    } catch (...) {
        // A missing or short restart or Cp file: put the job back as it
        // was before this command, so the solution on screen stays.
        restore(saved);
        throw;
    }
    GridMetric(level_.NY, level_.NX);
    FarField(flow_.mach, level_.NX, level_.NY, flow_.cosSweep);
    InitialiseFlowArrays(level_.NY, level_.NX);
    FarFieldValues(level_.k, level_.NX, level_.NY, flow_.cu, flow_.su);
    if (flow_.mach > 0.0) {
        const double circ = Circulation(NX, k);
        for (int i = 1; i <= NX - 1; ++i)
            JFaceDensities(i, NY, flow_.mach, flow_.gamma, flow_.sin2Sweep);
        for (int j = 1; j <= NY - 1; ++j)
            IFaceDensities(j, k, NX, circ, flow_.mach, flow_.gamma, flow_.sin2Sweep);
    }
    results.clift = 0.0;
    SurfaceResults(NY, k, NX, flow_.mach, flow_.gamma, results.cdrag, results.clift, flow_.cu,
                   flow_.su, flow_.cosSweep, flow_.sin2Sweep, job.entropy, results.cpStar);
    results.cpDeviation =
        CpDeviation(level_, DesignRows{design.designMode, job.designRegime, design.designEnd});
}

void RunControl::gridCalculation() {
    const msg::Scope scope(messages_);
    gridFresh_ = false;
    warnings_.clear();
    if (!fileOpen()) throw ParameterError("There's no open DATA file.");
    // Every check comes before the first array is touched.
    ValidateGrid(job.NPA, job.NCO, job.NBH, job.Kgrid, job.gmresDim, job.XCONT, job.YCONT,
                 job.NCONT);
    ValidateFlow(job.mach, job.alpha, job.swept, job.diagDom, job.maxResidual,
                 job.linearIterations);
    ValidateGrowthRatios(job.DSGRID);
    if (!(gridOptions_.farBoundary >= kMinFarBoundary &&
          gridOptions_.farBoundary <= kMaxFarBoundary))
        throw ParameterError("The far boundary at " + std::to_string(gridOptions_.farBoundary) +
                             " chords: it lies 7 to 1000 chords from the section.");
    if (static_cast<long>(job.Kgrid) * job.NPA > kMaxPlotPanels) {
        throw ParameterError(
            "Kgrid*NPA = " + std::to_string(static_cast<long>(job.Kgrid) * job.NPA) +
            " panels: the Cp plot holds at most " + std::to_string(kMaxPlotPanels) + ".");
    }

    // In design mode the restart file may be missing: keep what is needed
    // to put the job back as it was.
    const bool designRun = design.designMode == 1;
    std::unique_ptr<Snapshot> saved;
    if (designRun) saved.reset(new Snapshot(snapshot(ArraySnapshot::ofGrid())));

    // A converged solution of the same grid can start the next calculation.
    const GridLevel previousFine = level_.fineLevel();
    const bool previousSolution = warmStart_ && hasResults() && !designRun;

    // 1.-5. Fine-grid sizes and free-stream factors.
    level_ = GridLevel::fine(job.NPA, job.NCO, job.NBH, job.Kgrid);
    flow_ = FreeStream::of(job.mach, job.gamma, job.alpha, job.swept);
    design.alphaCorrFactor = 1.0;
    design.alphaShift = 0.0;
    design.iLead = level_.npa / 2;
    const int NX = level_.NX, NY = level_.NY, k = level_.k;

    // 6. No transpiration on a new grid.
    ClearTranspiration(NX, design.dyCorr);

    // 7. Surface distribution and grid.
    const double divisor = flow_.ordinateDivisor();
    PrepContour(job.XCONT, job.YCONT, job.NCONT, level_.npa, design.x0, design.chordInclination,
                divisor);
    noteRotation();
    generateGrid();
    takeWarnings();

    // 8. Keep the fine grid and the body as generated.
    bool sameGrid =
        previousSolution && previousFine.NX == NX && previousFine.NY == NY && previousFine.k == k;
    for (int j = 1; j <= NY && sameGrid; ++j) {
        for (int i = 0; i <= NX; ++i) {
            if (xgs(i, j) != xg(i, j) || ygs(i, j) != yg(i, j)) {
                sameGrid = false;
                break;
            }
        }
    }
    warmStarted_ = sameGrid;
    SaveFineGrid(NX, NY);
    design.yBody0.assign(static_cast<size_t>(NX - 2 * k + 1), 0.0);
    design.xBody0.assign(design.yBody0.size(), 0.0);
    for (int i = k; i <= NX - k; ++i) {
        design.yBody0[static_cast<size_t>(i - k)] = yg(i, 1);
        design.xBody0[static_cast<size_t>(i - k)] = xg(i, 1);
    }

    // 9.
    MaxThickness(level_.k, level_.NX, level_.iMid, design.iMaxThick, design.maxThick);

    if (designRun) {
        // 10. Start from the potential of the previous analysis.
        startFromRestart(*saved);
    } else {
        // 11. Free stream on the fine grid, then the first (coarsest) level;
        // or, for a warm start, the previous solution of this very grid, on
        // the fine grid alone.
        status_.iterCount = 0;
        status_.iterTotal = 0;
        if (warmStarted_) {
            // The next coarser level moves the shock from where the
            // neighbour had it at a quarter of the cost of a fine step,
            // and starts the fine level as close as a cold run does.
            if (warmBefore_.size() == static_cast<size_t>(NX + 1) * NY)
                ExtrapolatedPotential(warmBefore_, warmRatio_, NX, NY);
            if (job.Kgrid >= 2 && !warmFineOnly_) level_ = level_.coarsened(2);
            gridReady(hasResults());
            takeWarnings();
            return;
        }
        FreeStreamPotential(flow_, NX, NY);
        level_ = level_.coarsened(job.Kgrid);
        // The arrays now hold the new grid and its free stream: results of
        // an earlier calculation can no longer be shown or saved from them.
        resultNotes_.clear();
    }

    // 12.
    gridReady(designRun && hasResults());
    takeWarnings();
    gridFresh_ = !designRun;
    if (gridFresh_) gridJob_ = job;
}

// ---------------------------------------------------------------------------
// Calculation
// ---------------------------------------------------------------------------

RunControl::CalcOutcome RunControl::calculate() {
    const msg::Scope scope(messages_);
    if (!fileOpen()) return CalcOutcome::NoFile;
    ValidateViscous(job.viscous);
    // The design does not take the displacement thickness out of the
    // contour: a viscous design would give a wrong section.
    if (design.designMode == 1 && job.viscous.enabled) throw DesignRefused(kViscousDesignRefused);
    if (design.designMode == 1 && job.fixedLift)
        throw ParameterError("A fixed lift is for an analysis: a design run sets its own alpha.");
    if (job.fixedLift && !newton_.bordered())
        throw ParameterError(
            "A fixed lift needs a linear method with factors (direct, multilevel or ilu).");
    // A run that is stopped or breaks down must not leave a half-finished
    // solution behind: the previous results (or none) stay, consistent with
    // the arrays, the files and the fields.
    const Snapshot before = snapshot(ArraySnapshot::ofResults());
    auto putBack = [&]() {
        std::vector<std::string> w = std::move(warnings_);
        restore(before);
        warnings_ = std::move(w);
        takeWarnings();
    };
    try {
        // Once the section has been changed by a design iteration, the grid
        // calculation (which would build the grid of the input contour
        // again) no longer runs.
        if (design.globalIteration == 0) {
            const bool fresh = gridFresh_ && stage_ == RunStage::GridReady &&
                               design.designMode == 0 && SameInputs(job, gridJob_);
            if (!fresh) gridCalculation();
            gridFresh_ = false;
            if (foldedCells_ > 0) {
                // The flow cannot be solved on cells that are turned over:
                // say so now instead of breaking down on them.
                putBack();
                throw ParameterError(
                    "The grid is folded (" + std::to_string(foldedCells_) +
                    " cells turned over, the first at i=" + std::to_string(foldedI_) +
                    ", j=" + std::to_string(foldedJ_) +
                    "), so no flow can be calculated on it. Choose smaller growth ratios or "
                    "other grid sizes (NPA, NCO, NBH, Kgrid) and look at it after Grid "
                    "Calculation.");
            }
        } else {
            warnings_.clear();
        }
        if (design.designMode == 1) {
            // One global iteration changes the section and restarts the flow
            // on the coarsest level; a refused one leaves everything as it
            // was.
            const double before = results.cpDeviation;
            const Snapshot beforeIteration = snapshot(ArraySnapshot::ofResults());
            // The iteration lists the grid round the new section.
            listed_.clear();
            try {
                DesignGlobalIteration(job, level_, flow_, design, results, status_, log_, newton_,
                                      lastDesign_, gridOptions_);
            } catch (const DesignRefused&) {
                restore(beforeIteration);
                takeWarnings();
                throw;
            }
            takeWarnings();
            design.globalIteration += 1;
            runDriver();
            takeWarnings();
            const std::string stall = DesignStallWarning(
                before, results.cpDeviation, level_,
                DesignRows{design.designMode, job.designRegime, design.designEnd},
                job.designLeadBoundary);
            designStalled_ = !stall.empty();
            if (designStalled_) {
                warnings_.push_back(stall);
                log_.append(" Warning: " + stall);
            }
            stage_ = RunStage::CalculatedOffered;
            resultNotes_ = warnings_;
            return CalcOutcome::Done;
        }
        if (runStage() > 2) return CalcOutcome::AlreadyDone;
        runDriver();
    } catch (const RunStopped&) {
        putBack();
        return CalcOutcome::Stopped;
    } catch (const SolverError&) {
        putBack();
        throw;
    }
    takeWarnings();
    resultNotes_ = warnings_;
    // After an analysis the same flow is not calculated again until an
    // input changes; in design mode every "Calculation" is a new iteration.
    stage_ = design.designMode == 1 ? RunStage::CalculatedOffered : RunStage::Calculated;
    return CalcOutcome::Done;
}

int RunControl::runStage() const {
    switch (stage_) {
        case RunStage::Closed:
        case RunStage::ClosedOffered:
            return 0;
        case RunStage::Opened:
            return 1;
        case RunStage::OpenedOffered:
        case RunStage::GridReady:
        case RunStage::ResultsReady:
            return 2;
        case RunStage::Calculated:
        case RunStage::CalculatedOffered:
            return 3;
    }
    return 0;
}

bool RunControl::calculationOffered() const {
    return stage_ != RunStage::Closed && stage_ != RunStage::Opened &&
           stage_ != RunStage::Calculated;
}

void RunControl::offerCalculation() {
    if (stage_ == RunStage::Closed) stage_ = RunStage::ClosedOffered;
    if (stage_ == RunStage::Opened) stage_ = RunStage::OpenedOffered;
    if (stage_ == RunStage::Calculated) stage_ = RunStage::CalculatedOffered;
}

void RunControl::gridReady(bool keepResults) {
    stage_ = keepResults ? RunStage::ResultsReady : RunStage::GridReady;
}

void RunControl::runDriver() {
    const bool offered = calculationOffered();
    gridReady(hasResults());
    const JobParameters inputs = job;
    RunDriver driver(level_, status_, log_, results, newton_);
    driver.run(job, flow_, DesignRows{design.designMode, job.designRegime, design.designEnd},
               progress_);
    stage_ = offered ? RunStage::CalculatedOffered : RunStage::Calculated;
    resultsJob_ = inputs;
    if (job.fixedLift) {
        // The results are those of the alpha the run found.
        flow_ = driver.flow();
        job.alpha = resultsJob_.alpha = flow_.alphaDegrees();
    }
    const GridLevel& l = level_;
    if (design.designMode == 1) {
        // "Clift current=" follows the designed section; "Clift=" and
        // "Clift target=" show the lift of the target.
        results.cliftCurrent =
            IntegratedLift(cpf.data(), l.k, l.NX, flow_.cu, flow_.su, flow_.cosSweep);
        results.clift = IntegratedLift(cps.data(), l.k, l.NX, flow_.cu, flow_.su, flow_.cosSweep);
        results.cliftTarget = results.clift;
    } else {
        results.clift = IntegratedLift(cpf.data(), l.k, l.NX, flow_.cu, flow_.su, flow_.cosSweep);
        results.cliftCurrent = results.clift;
        SaveSolution(files_.names, l.NY, l.NX, l.k, l.gridStep, status_.iterCount,
                     status_.iterTotal, job.mach, job.alpha, flow_.sweepRad, results.clift,
                     results.cdrag);
    }
}

std::vector<double> RunControl::finePotential() const {
    const GridLevel f = level_.fineLevel();
    return FinePotential(f.NX, f.NY);
}

void RunControl::flowChanged() {
    gridFresh_ = false;
    // Without a file the stage stays closed, so that "Calculation" still
    // reports the missing file.  Results are kept (they are shown as those
    // of the earlier inputs) but a calculation may start.
    if (hasResults()) {
        stage_ = RunStage::ResultsReady;
    } else if (fileOpen() && !gridMade()) {
        stage_ = RunStage::OpenedOffered;
    } else {
        offerCalculation();
    }
}

void RunControl::acceptTarget() {
    gridFresh_ = false;
    design.targetAccepted = true;
    design.designMode = 1;
    offerCalculation();
}

// ---------------------------------------------------------------------------
// Result and iteration-log files
// ---------------------------------------------------------------------------

std::string RunControl::saveResult() {
    saveCounter_ += 1;
    if (!fileOpen()) throw FileError("There's no open DATA file: no result file is written.");
    if (!hasResults()) {
        throw FileError(
            "There are no results to write: the grid was calculated again since the last "
            "calculation. Press Calculation first.");
    }
    const std::string path = files_.resultName(saveCounter_);
    // The file describes the results: it carries the inputs they were
    // computed with, even when a panel value has changed since.
    const JobParameters& inputs = hasResults() ? resultsJob_ : job;
    WriteTextFile(
        path, ResultFileText(files_.names, level_, inputs, results, flow_, design.designMode == 1),
        "result file");
    return path;
}

bool RunControl::writeIterationLog() const {
    return log_.write(files_.itrPath);
}

}  // namespace quarel

namespace quarel {

bool RunControl::resultsStale() const {
    return hasResults() && !SameInputs(job, resultsJob_);
}

bool SameInputs(const JobParameters& a, const JobParameters& b) {
    for (int m = 1; m <= 13; ++m) {
        if (a.DSGRID(m) != b.DSGRID(m)) return false;
    }
    return a.NPA == b.NPA && a.NCO == b.NCO && a.NBH == b.NBH && a.Kgrid == b.Kgrid &&
           a.alpha == b.alpha && a.mach == b.mach && a.swept == b.swept && a.gamma == b.gamma &&
           a.diagDom == b.diagDom && a.maxResidual == b.maxResidual &&
           a.linearIterations == b.linearIterations && a.gmresDim == b.gmresDim &&
           a.viscous.enabled == b.viscous.enabled && a.viscous.reynolds == b.viscous.reynolds &&
           a.viscous.ncrit == b.viscous.ncrit && a.viscous.xtrUpper == b.viscous.xtrUpper &&
           a.viscous.xtrLower == b.viscous.xtrLower && a.entropy.enabled == b.entropy.enabled &&
           a.fixedLift == b.fixedLift && (!a.fixedLift || a.clTarget == b.clTarget);
}

}  // namespace quarel

// ---------------------------------------------------------------------------
// The section
// ---------------------------------------------------------------------------

namespace quarel {

RunControl::Outline RunControl::inputSection() const {
    Outline o;
    if (!fileOpen()) return o;
    for (int m = 1; m <= job.NCONT; ++m) {
        o.x.push_back(job.XCONT(m));
        o.y.push_back(job.YCONT(m));
    }
    return o;
}

RunControl::Outline RunControl::startSection() const {
    Outline o;
    if (!gridMade()) return o;
    o.x = design.xBody0;
    o.y = design.yBody0;
    // The grid is generated on ordinates divided by the sweep factor.
    for (double& y : o.y) y *= flow_.ordinateDivisor();
    return o;
}

RunControl::Outline RunControl::currentSection() const {
    Outline o;
    if (!gridMade()) return o;
    // The saved fine grid follows every design iteration; the grid of the
    // level being solved may be a coarse one.
    const GridLevel fine = level_.fineLevel();
    for (int i = fine.k; i <= fine.NX - fine.k; ++i) {
        o.x.push_back(xgs(i, 1));
        o.y.push_back(ygs(i, 1) * flow_.ordinateDivisor());
    }
    return o;
}

RunControl::Outline RunControl::surfaceCp() const {
    Outline o;
    const GridLevel& l = level_;
    if (!hasResults()) return o;
    for (int i = l.k; i <= l.NX - l.k - 1; ++i) {
        o.x.push_back(0.5 * (xg(i, 1) + xg(i + 1, 1)));
        o.y.push_back(cpf(i));
    }
    return o;
}

RunControl::Outline RunControl::designTarget() const {
    Outline o;
    const GridLevel& l = level_;
    if (design.designMode != 1 || !gridMade() || !l.isFine()) return o;
    for (int i = l.k; i <= l.NX - l.k - 1; ++i) {
        o.x.push_back(0.5 * (xg(i, 1) + xg(i + 1, 1)));
        o.y.push_back(cps(i));
    }
    return o;
}

void RunControl::saveSection(const std::string& inputPath,
                             const std::string& coordinatePath) const {
    if (!gridMade()) throw FileError("There is no section on a grid yet: press Grid Calculation.");
    if (!inputPath.empty()) {
        ReplaceTextFile(
            inputPath, DesignedInputText(title(), job, level_.fineLevel(), flow_.ordinateDivisor()),
            "section input file");
    }
    if (!coordinatePath.empty()) {
        const Outline o = currentSection();
        std::string text = title() + "\n";
        char line[64];
        for (std::size_t n = 0; n < o.x.size(); ++n) {
            std::snprintf(line, sizeof line, "%.7f %.7f\n", o.x[n], o.y[n]);
            text += line;
        }
        ReplaceTextFile(coordinatePath, text, "section coordinate file");
    }
}

}  // namespace quarel
