#include "RunControl.h"

#include <memory>
#include <utility>

#include "CGRD1.h"
#include "DesignIteration.h"
#include "GridSnapshot.h"
#include "INPT1.h"
#include "SRV11.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "splines.h"
#include "state.h"
#include "validate.h"

namespace quarel {

namespace {

// The Cp plot buffers of the window hold 500 values: npa + 1 body nodes.
constexpr int kMaxPlotPanels = 499;

}  // namespace

void RunControl::takeWarnings() {
    for (std::string& w : msg::takeWarnings()) warnings_.push_back(std::move(w));
}

// ---------------------------------------------------------------------------
// Open
// ---------------------------------------------------------------------------

void RunControl::open(const std::string& path) {
    JobFiles files = JobFiles::forInput(path);
    msg::console("File=" + path);

    // Read into a fresh job: a file that fails leaves the job as it was.
    JobParameters read;
    read.DSGRID = job.DSGRID;
    double sweep = 0.0, diagDom = 0.0;
    int designMode = 0;
    ReadGeom(files.names, read.mach, read.alpha, read.gamma, sweep, diagDom, read.maxResidual,
             read.NPA, read.NCO, read.NBH, read.Kgrid, read.linearIterations, read.gmresDim,
             read.liftCorrection, read.designRegime, read.designLeadBoundary, designMode,
             read.NCONT, read.XCONT, read.YCONT, read.DSGRID);
    read.swept = sweep;
    read.diagDom = diagDom;

    files_ = std::move(files);
    job = read;
    design = DesignState{};
    design.designMode = designMode;
    level_ = GridLevel{};
    runStage_ = 1;
    gridMade_ = false;
    calculationArmed_ = false;
    hasResults_ = false;
}

// ---------------------------------------------------------------------------
// Grid calculation
// ---------------------------------------------------------------------------

void RunControl::gridCalculation() {
    warnings_.clear();
    if (!fileOpen()) throw ParameterError("There's no open DATA file.");
    // Every check comes before the first array is touched.
    ValidateGrid(job.NPA, job.NCO, job.NBH, job.Kgrid, job.gmresDim, job.XCONT, job.YCONT,
                 job.NCONT);
    if (static_cast<long>(job.Kgrid) * job.NPA > kMaxPlotPanels) {
        throw ParameterError(
            "Kgrid*NPA = " + std::to_string(static_cast<long>(job.Kgrid) * job.NPA) +
            " panels: the Cp plot holds at most " + std::to_string(kMaxPlotPanels) + ".");
    }

    // In design mode the restart file may be missing: keep what is needed
    // to put the job back as it was.
    const bool designRun = design.designMode == 1;
    struct Saved {
        GridSnapshot arrays;
        GridLevel level;
        FreeStream flow;
        DesignState design;
        RunStatus status;
    };
    std::unique_ptr<Saved> saved;
    if (designRun) saved.reset(new Saved{GridSnapshot(), level_, flow_, design, status_});

    // 1.-5. Fine-grid sizes and free-stream factors.
    level_ = GridLevel::fine(job.NPA, job.NCO, job.NBH, job.Kgrid);
    flow_ = FreeStream::of(job.mach, job.gamma, job.alpha, job.swept);
    design.alphaCorrFactor = 1.0;
    design.alphaShift = 0.0;
    design.iLead = level_.npa / 2;
    const int NX = level_.NX, NY = level_.NY, k = level_.k;

    // 6. No transpiration on a new grid.
    for (int i = 0; i <= NX; ++i) {
        vfx(i) = 0.0;
        vdu(i) = 0.0;
        design.dyCorr[static_cast<size_t>(i)] = 0.0;
    }

    // 7. Surface distribution and grid.
    const double divisor = flow_.ordinateDivisor();
    PrepContour(job.XCONT, job.YCONT, job.NCONT, level_.npa, design.x0, design.chordInclination,
                divisor);
    GridGen(level_.NY, level_.k, level_.npa, design.x0, job.DSGRID);
    takeWarnings();

    // 8. Keep the fine grid and the body as generated.
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            xgs(i, j) = xg(i, j);
            ygs(i, j) = yg(i, j);
        }
    }
    design.yBody0.assign(static_cast<size_t>(NX - 2 * k + 1), 0.0);
    for (int i = k; i <= NX - k; ++i) design.yBody0[static_cast<size_t>(i - k)] = yg(i, 1);

    // 9.
    MaxThickness(level_.k, level_.NX, level_.iMid, design.iMaxThick, design.maxThick);

    if (designRun) {
        // 10. Start from the potential of the previous analysis.
        try {
            ReadRestart(files_.names, level_.NY, level_.NX, level_.k, status_.iterCount,
                        status_.iterTotal, design.designEnd, job.designLeadBoundary, flow_.cu,
                        flow_.su, flow_.cosSweep, design.designLift);
        } catch (...) {
            // A missing or short restart or Cp file: put the job back as it
            // was before this command, so the solution on screen stays.
            saved->arrays.restore();
            level_ = saved->level;
            flow_ = saved->flow;
            design = saved->design;
            status_ = saved->status;
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
                       flow_.su, flow_.cosSweep, flow_.sin2Sweep, results.cpStar);
        results.cpDeviation =
            CpDeviation(level_, DesignRows{design.designMode, job.designRegime, design.designEnd});
    } else {
        // 11. Free stream on the fine grid, then the first (coarsest) level.
        status_.iterCount = 0;
        status_.iterTotal = 0;
        for (int j = 1; j <= NY; ++j) {
            for (int i = 0; i <= NX; ++i) {
                const double p = flow_.cu * xg(i, j) + flow_.su * yg(i, j);
                phi(i, j) = p;
                phis(i, j) = p;
            }
        }
        level_ = level_.coarsened(job.Kgrid);
    }

    // 12.
    runStage_ = 2;
    gridMade_ = true;
    calculationArmed_ = true;
    takeWarnings();
}

// ---------------------------------------------------------------------------
// Calculation
// ---------------------------------------------------------------------------

RunControl::CalcOutcome RunControl::calculate() {
    if (!fileOpen()) return CalcOutcome::NoFile;
    // Once the section has been changed by a design iteration, the grid
    // calculation (which would build the grid of the input contour again)
    // no longer runs.
    if (design.globalIteration == 0) {
        gridCalculation();
    } else {
        warnings_.clear();
    }
    if (design.designMode == 1) {
        // One global iteration changes the section and restarts the flow on
        // the coarsest level; a refused one leaves everything as it was.
        try {
            DesignGlobalIteration(job, level_, flow_, design, results, status_, log_, lastDesign_);
        } catch (const DesignRefused&) {
            takeWarnings();
            throw;
        }
        takeWarnings();
        design.globalIteration += 1;
        runDriver();
        takeWarnings();
        calculationArmed_ = true;
        return CalcOutcome::Done;
    }
    if (runStage_ > 2) return CalcOutcome::AlreadyDone;
    runDriver();
    takeWarnings();
    // After an analysis the same flow is not calculated again until an
    // input changes; in design mode every "Calculation" is a new iteration.
    calculationArmed_ = design.designMode == 1;
    return CalcOutcome::Done;
}

void RunControl::runDriver() {
    runStage_ = 2;
    RunDriver driver(level_, status_, log_, results);
    try {
        driver.run(job, flow_, DesignRows{design.designMode, job.designRegime, design.designEnd});
    } catch (const SolverError&) {
        // The arrays hold a half-finished run: neither it nor an earlier
        // run can be shown or saved consistently.
        runStage_ = 2;
        hasResults_ = false;
        throw;
    }
    runStage_ = 3;
    hasResults_ = true;
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

void RunControl::flowChanged() {
    // Without a file the stage stays 0, so that "Calculation" still reports
    // the missing file.
    if (runStage_ >= 1) runStage_ = 2;
    calculationArmed_ = true;
}

void RunControl::acceptTarget() {
    design.targetAccepted = true;
    design.designMode = 1;
    calculationArmed_ = true;
}

// ---------------------------------------------------------------------------
// Result and iteration-log files
// ---------------------------------------------------------------------------

std::string RunControl::saveResult() {
    saveCounter_ += 1;
    if (!fileOpen()) throw FileError("There's no open DATA file: no result file is written.");
    const std::string path = files_.resultName(saveCounter_);
    WriteTextFile(path,
                  ResultFileText(files_.names, level_, job, results, flow_, design.designMode == 1),
                  "result file");
    return path;
}

bool RunControl::writeIterationLog() const {
    return log_.write(files_.itrPath);
}

}  // namespace quarel
