// Run control of a Quarel job: "Open", "Grid Calculation", the coarse-to-
// fine analysis run, the iteration log and the result file.
#include "RunControl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "CGRD1.h"
#include "INPT1.h"
#include "LevelConvergence.h"
#include "SOLV1.h"
#include "SRV11.h"
#include "gmres.h"
#include "message.h"
#include "metrics.h"
#include "operator.h"
#include "splines.h"
#include "state.h"
#include "validate.h"

namespace quarel {

namespace {

// Newton steps allowed on one grid level.
constexpr int kMaxLevelSteps = 50;
// Linear tolerance of the Newton steps as a share of "Max.residual".
constexpr double kLinearShare = 0.1;

// The Cp plot buffers of the window hold 500 values: npa + 1 body nodes.
constexpr int kMaxPlotPanels = 499;
// Shortest input path: one character of name, a dot and a three-letter
// extension, so that the derived names (last three characters replaced)
// and the result names (last four characters replaced) keep a name.
constexpr int kMinPathLength = 5;

// Single-precision constants of the angle conversions, widened to double.
const double kPiSingle = static_cast<double>(3.1415927f);
const double kDeg180 = static_cast<double>(180.0f);

// Rounds to single precision.  Kept out of line: GCC 12 at -O2/-O3 was
// seen to drop an inlined double->float->double round trip when it
// vectorised the two products cu and su, which changes the last digits.
[[gnu::noinline]] double roundSingle(double v) {
    return static_cast<double>(static_cast<float>(v));
}

// The path with its last three characters replaced by `ext`.
std::string derivedName(const std::string& path, const char* ext) {
    return path.substr(0, path.size() - 3) + ext;
}

void copyName(char* field, int fieldSize, const std::string& name) {
    std::memset(field, 0, static_cast<size_t>(fieldSize));
    std::memcpy(field, name.data(), std::min<size_t>(name.size(), static_cast<size_t>(fieldSize)));
}

std::string fromInt(long v) {
    return std::to_string(v);
}

// Fixed notation with `decimals` digits after the point ("%.*f").
std::string fromDouble(double v, int decimals) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

}  // namespace

// Overwrites text.size() characters of `line` from `pos` with `text`, as
// FXString::replace(pos, n, text, n) does: a position past the end is
// taken as the end, and characters missing at the end are appended, so a
// long number lengthens the line.
void placeAt(std::string& line, int pos, const std::string& text) {
    const size_t len = line.size();
    size_t p = pos < 0 ? 0 : static_cast<size_t>(pos);
    if (p > len) p = len;
    const size_t m = std::min(text.size(), len - p);
    line.replace(p, m, text);
}

RunControl::RunControl() = default;

// ---------------------------------------------------------------------------
// Open
// ---------------------------------------------------------------------------

void RunControl::open(const std::string& path) {
    const int len = static_cast<int>(path.size());
    if (len > kNameField) {
        throw FileError("The path of the input file \"" + path + "\" is longer than " +
                        std::to_string(kNameField) +
                        " characters; the names of the job files cannot hold it.");
    }
    if (len < kMinPathLength) {
        throw FileError("The path of the input file \"" + path +
                        "\" is too short: it needs a name and a three-letter extension.");
    }
    const std::string ptl = derivedName(path, "ptl");
    const std::string itr = derivedName(path, "itr");
    const std::string cp = derivedName(path, "cp");
    if (ptl == path || itr == path || cp == path) {
        throw FileError("The input file \"" + path +
                        "\" has the name of a file the calculation writes; rename it (for "
                        "example to .dat).");
    }

    msg::console("File=" + path);

    FileNames n;
    n.nameLen = len;
    n.ptlLen = len;
    n.itrLen = len;
    n.cpLen = len - 1;
    copyName(n.inputName, sizeof n.inputName, path);
    copyName(n.ptlName, sizeof n.ptlName, ptl);
    copyName(n.itrName, sizeof n.itrName, itr);
    copyName(n.cpName, sizeof n.cpName, cp);

    // Read into temporaries: a file that fails leaves the job as it was.
    double rMach = 0, rAlpha = 0, rGamma = 0, rSweep = 0, rDiag = 0, rMaxRes = 0, rLead = 0;
    int rNpa = 0, rNco = 0, rNbh = 0, rKgrid = 0, rLin = 0, rDim = 0, rLiftCorr = 0;
    int rRegime = 0, rDesignMode = 0, rNcont = 0;
    ContourInput rX{}, rY{};
    GrowthRatios rDs = DSGRID;
    ReadGeom(n, rMach, rAlpha, rGamma, rSweep, rDiag, rMaxRes, rNpa, rNco, rNbh, rKgrid, rLin, rDim,
             rLiftCorr, rRegime, rLead, rDesignMode, rNcont, rX, rY, rDs);

    names = n;
    inputPath = path;
    pathLength = len;
    itrPath = itr;

    // The reader's working copies ...
    mach = rMach;
    alpha = rAlpha;
    gamma = rGamma;
    sweepRad = rSweep;
    diagFactor = rDiag;
    maxResidual = rMaxRes;
    npa = rNpa;
    NY = rNco;
    k = rNbh;
    gridStep = rKgrid;
    linearIterations = rLin;
    gmresDim = rDim;
    liftCorrection = rLiftCorr;
    designRegime = rRegime;
    designLeadBoundary = rLead;
    designMode = rDesignMode;
    NCONT = rNcont;
    XCONT = rX;
    YCONT = rY;
    DSGRID = rDs;
    // ... and the panel variables that show them.
    swept = sweepRad;
    Kgrid = gridStep;
    diagDom = diagFactor;
    NPA = npa;
    NCO = NY;
    NBH = k;

    globalIteration = 0;
    runStage = 1;
}

// ---------------------------------------------------------------------------
// Grid calculation
// ---------------------------------------------------------------------------

void RunControl::gridCalculation() {
    warnings.clear();
    if (!fileOpen()) throw ParameterError("There's no open DATA file.");
    // Every check comes before the first array is touched.
    ValidateGrid(NPA, NCO, NBH, Kgrid, gmresDim, XCONT, YCONT, NCONT);
    if (static_cast<long>(Kgrid) * NPA > kMaxPlotPanels) {
        throw ParameterError("Kgrid*NPA = " + std::to_string(static_cast<long>(Kgrid) * NPA) +
                             " panels: the Cp plot holds at most " +
                             std::to_string(kMaxPlotPanels) + ".");
    }

    // In design mode the restart file may be missing: keep what is needed
    // to put the job back as it was.
    RunControl savedRun;
    std::vector<double> savedArrays;
    const bool design = designMode == 1;
    if (design) {
        savedRun = *this;
        GridArray* grids[] = {&xg, &yg, &xgs, &ygs};
        for (GridArray* g : grids)
            savedArrays.insert(savedArrays.end(), g->data(), g->data() + kGridSize);
        savedArrays.insert(savedArrays.end(), vfx.data(), vfx.data() + kContourSize);
        savedArrays.insert(savedArrays.end(), vdu.data(), vdu.data() + kContourSize);
    }

    // 1.-5. Fine-grid sizes and free-stream factors.
    npa = Kgrid * NPA;
    NY = Kgrid * NCO + 1;
    k = Kgrid * NBH;
    alphaCorrFactor = 1.0;
    sweepRad = swept * kPiSingle / kDeg180;
    cosSweep = roundSingle(std::cos(sweepRad));
    const double sinSweep = roundSingle(std::sin(sweepRad));
    sin2Sweep = sinSweep * sinSweep;
    alphaN = alpha * kPiSingle / kDeg180 / cosSweep;
    alphaShift = 0.0;
    cu = cosSweep * roundSingle(std::cos(alphaN));
    su = cosSweep * roundSingle(std::sin(alphaN));
    diagFactor = diagDom + 1.0;
    NX = npa + 2 * k;
    iMid = NX / 2;
    gridStep = 1;
    iLead = npa / 2;
    mach2 = mach * mach;
    invGm1 = 1.0 / (gamma - 1.0);
    mach2Gm1 = mach2 * (gamma - 1.0) / 2.0;

    // 6. No transpiration on a new grid.
    for (int i = 0; i <= NX; ++i) {
        vfx(i) = 0.0;
        vdu(i) = 0.0;
        dyCorr[static_cast<size_t>(i)] = 0.0;
    }

    // 7. Surface distribution and grid.
    PrepContour(XCONT, YCONT, NCONT, npa, x0, chordInclination, cu);
    GridGen(NY, k, npa, x0, DSGRID);
    for (std::string& w : msg::takeWarnings()) warnings.push_back(std::move(w));

    // 8. Keep the fine grid and the body as generated.
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            xgs(i, j) = xg(i, j);
            ygs(i, j) = yg(i, j);
        }
    }
    yBody0.assign(static_cast<size_t>(NX - 2 * k + 1), 0.0);
    for (int i = k; i <= NX - k; ++i) yBody0[static_cast<size_t>(i - k)] = yg(i, 1);

    // 9.
    MaxThickness(k, NX, iMid, iMaxThick, maxThick);

    if (design) {
        // 10. Start from the potential of the previous analysis.
        try {
            ReadRestart(names, NY, NX, k, iterCount, iterTotal, designEnd, designLeadBoundary, cu,
                        su, cosSweep, designLift);
        } catch (...) {
            // A missing or short restart or Cp file: put the job back as it
            // was before this command, so the solution on screen stays.
            std::vector<std::string> w = std::move(warnings);
            *this = savedRun;
            warnings = std::move(w);
            size_t off = 0;
            GridArray* grids[] = {&xg, &yg, &xgs, &ygs};
            for (GridArray* g : grids) {
                std::copy(savedArrays.begin() + static_cast<long>(off),
                          savedArrays.begin() + static_cast<long>(off + kGridSize), g->data());
                off += kGridSize;
            }
            std::copy(savedArrays.begin() + static_cast<long>(off),
                      savedArrays.begin() + static_cast<long>(off + kContourSize), vfx.data());
            off += kContourSize;
            std::copy(savedArrays.begin() + static_cast<long>(off),
                      savedArrays.begin() + static_cast<long>(off + kContourSize), vdu.data());
            throw;
        }
        GridMetric(NY, NX);
        FarField(mach, NX, NY, cosSweep);
        initialiseFlowArrays();
        FarFieldValues(k, NX, NY, cu, su);
        if (mach > 0.0) {
            const double circ = phi(NX - k, 1) - phi(k, 1);
            for (int i = 1; i <= NX - 1; ++i) JFaceDensities(i, NY, mach, gamma, sin2Sweep);
            for (int j = 1; j <= NY - 1; ++j)
                IFaceDensities(j, k, NX, circ, mach, gamma, sin2Sweep);
        }
        clift = 0.0;
        SurfaceResults(NY, k, NX, mach, gamma, cdrag, clift, cu, su, cosSweep, sin2Sweep, cpStar);
        cpDeviation = computeCpDeviation();
    } else {
        // 11. Free stream on the fine grid, then the first (coarsest) level.
        iterCount = 0;
        iterTotal = 0;
        for (int j = 1; j <= NY; ++j) {
            for (int i = 0; i <= NX; ++i) {
                const double p = cu * xg(i, j) + su * yg(i, j);
                phi(i, j) = p;
                phis(i, j) = p;
            }
        }
        gridStep = Kgrid;
        npa = npa / Kgrid;
        NY = (NY - 1) / Kgrid + 1;
        k = k / Kgrid;
        NX = NX / Kgrid;
        iMid = NX / 2;
    }

    // 12.
    runStage = 2;
    computeGridExtents();
    for (std::string& w : msg::takeWarnings()) warnings.push_back(std::move(w));
}

// ---------------------------------------------------------------------------
// Calculation
// ---------------------------------------------------------------------------

RunControl::CalcOutcome RunControl::calculate() {
    if (!fileOpen()) return CalcOutcome::NoFile;
    if (designMode == 1) {
        // The design global iteration belongs to a later version; refuse
        // before anything is changed so the analysis result stays intact.
        throw ParameterError("Inverse design is not available in this version.");
    }
    if (globalIteration == 0) gridCalculation();
    if (runStage > 2) return CalcOutcome::AlreadyDone;
    runDriver();
    for (std::string& w : msg::takeWarnings()) warnings.push_back(std::move(w));
    return CalcOutcome::Done;
}

void RunControl::runDriver() {
    runStage = 2;
    converged = false;
    // Every calculation starts with the plain line preconditioner; a level
    // that stalls adds the column sweep for the rest of the calculation.
    struct ColumnSweepOff {
        ColumnSweepOff() { AddColumnSweep(false); }
        ~ColumnSweepOff() { AddColumnSweep(false); }
    } columnSweepOff;
    try {
        for (;;) {
            prepareLevel();
            iterateLevel();
            if (gridStep == 1) {
                postProcess();
                break;
            }
            // Refine: the next level is sampled from the saved fine grid.
            restoreFineGrid();
            k = 2 * k;
            npa = 2 * npa;
            iterCount = 0;
            gridStep = gridStep / 2;
            iMid = NX;
            NY = 2 * (NY - 1) + 1;
            NX = 2 * NX;
        }
    } catch (const SolverError&) {
        // Leave a consistent job behind: the fine grid with its sizes, so
        // the grid picture and a new grid calculation start from sound data.
        restoreFineGrid();
        npa *= gridStep;
        k *= gridStep;
        NX *= gridStep;
        NY = gridStep * (NY - 1) + 1;
        gridStep = 1;
        iMid = NX / 2;
        runStage = 2;
        throw;
    }
    if (designMode == 1) {
        cliftTarget = integratedLift(cps.data());
    } else {
        cliftCurrent = integratedLift(cpf.data());
        SaveSolution(names, NY, NX, k, gridStep, iterCount, iterTotal, mach, alpha, sweepRad, clift,
                     cdrag);
    }
}

void RunControl::restoreFineGrid() {
    const int nxf = gridStep * NX;
    const int nyf = gridStep * (NY - 1) + 1;
    for (int j = 1; j <= nyf; ++j) {
        for (int i = 0; i <= nxf; ++i) {
            xg(i, j) = xgs(i, j);
            yg(i, j) = ygs(i, j);
        }
    }
}

void RunControl::initialiseFlowArrays() {
    for (int i = 0; i <= NX - 1; ++i) {
        vfx(i) = 0.0;
        for (int j = 1; j <= NY - 1; ++j) {
            rhoi(i, j) = 1.0;
            rhoj(i, j) = 1.0;
            cfi(i, j) = g11i(i, j) / aji(i, j);
            if (i >= 1) cfj(i, j) = g22j(i, j) / ajj(i, j);
            dsi(i, j) = 0.0;
            dri(i, j) = 0.0;
        }
    }
}

void RunControl::prepareLevel() {
    for (int j = 1; j <= NY; ++j) {
        const int jf = (j - 1) * gridStep + 1;
        for (int i = 0; i <= NX; ++i) {
            const int i_f = i * gridStep;
            xg(i, j) = xgs(i_f, jf);
            yg(i, j) = ygs(i_f, jf);
            phi(i, j) = phis(i_f, jf);
        }
    }
    GridMetric(NY, NX);
    FarField(mach, NX, NY, cosSweep);
    initialiseFlowArrays();
    FarFieldValues(k, NX, NY, cu, su);
}

void RunControl::iterateLevel() {
    iterCount = 0;
    iterTotal = 0;
    designFlag = 0;
    residual = 10.0 * maxResidual;
    levelTitle = " Grid: " + std::to_string(NX) + " x " + std::to_string(NY);
    appendLog(levelTitle);
    StallWatch stall;
    // The level ends when the residual is below the tolerance and the lift
    // has stopped changing.
    LevelConvergence test(maxResidual);
    // The linear solves go well below the tolerance: with a linear
    // tolerance at the tolerance itself, the steps near the end of a level
    // leave most of their residual in place and change the lift by little
    // because they change little, not because the lift has settled.
    const double linearTolerance = kLinearShare * maxResidual;
    // A tolerance of 0 asks for no step at all (the start value of the
    // residual, ten times the tolerance, is not above it); such a level has
    // not converged.
    const bool anyStep = std::fabs(residual) > maxResidual;
    while (anyStep && !test.converged() && iterCount < kMaxLevelSteps) {
        ++iterTotal;
        ++iterCount;
        NewtonStep(NY, k, NX, mach, gamma, diagFactor, linearTolerance, linearIterations, gmresDim,
                   designFlag, designRegime, designEnd, iterCount, residual, cdrag, clift, cu, su,
                   cosSweep, sin2Sweep, lineBuffer, newtonOptions);
        lineBuffer[sizeof lineBuffer - 1] = '\0';
        appendLog(lineBuffer);
        test.step(residual, clift, LastKeptFraction() == 1.0);
        if (stall.step(LastLinearReduction(), LastLargestCorrection(), std::fabs(residual)) &&
            !test.converged()) {
            if (!ColumnSweepAdded()) {
                // The line factorisation leaves GMRES stalled: march through
                // the supersonic regions with column solves from here on.
                AddColumnSweep(true);
                stall.reset();
                continue;
            }
            msg::warning(levelReport("stalled at the residual") +
                         ": the linear solver no longer reduces it, so the level was ended "
                         "after " +
                         std::to_string(iterCount) +
                         " steps. The solution is not converged: near a shock or sonic line "
                         "the lift can then be several per cent from the converged value of "
                         "this grid.");
            finishLevel();
            return;
        }
    }
    // The result of the run is that of the fine grid: say so when it did
    // not converge (a coarse level only provides a start).
    if (gridStep == 1) {
        converged = test.converged();
        if (!converged) {
            char change[32], limit[32];
            std::snprintf(change, sizeof change, "%.3E", test.liftChange());
            std::snprintf(limit, sizeof limit, "%.1E", test.liftLimit());
            msg::warning(
                levelReport("ended after " + std::to_string(iterCount) + " steps at the residual") +
                " with the lift still changing by " + change + " per step (settled below " + limit +
                "): the solution is not converged, and Clift and Cdrag are not those "
                "of this grid.");
        }
    }
    finishLevel();
}

std::string RunControl::levelReport(const std::string& what) const {
    char res[32];
    std::snprintf(res, sizeof res, "%.3E", std::fabs(residual));
    char tol[32];
    std::snprintf(tol, sizeof tol, "%.1E", maxResidual);
    return "The Newton iteration on the " + std::to_string(NX) + " x " + std::to_string(NY) +
           " grid " + what + " " + res + " (Max.residual " + tol + ")";
}

void RunControl::finishLevel() {
    fineNX = NX * gridStep;
    fineNY = gridStep * (NY - 1) + 1;
    CoarseToFine(fineNX, fineNY, gridStep);
}

bool StallWatch::step(double leftShare, double largestCorrection, double residual) {
    const bool stuck = leftShare > kLeftShare && largestCorrection < kCorrectionShare * residual;
    count_ = stuck ? count_ + 1 : 0;
    return count_ >= kSteps;
}

void RunControl::postProcess() {
    if (mach != 0.0) MachField(gamma, mach2, sin2Sweep, k, NY, NX);
    clift = 0.0;
    SurfaceResults(NY, k, NX, mach, gamma, cdrag, clift, cu, su, cosSweep, sin2Sweep, cpStar);
    if (designMode == 1) cpDeviation = computeCpDeviation();
    runStage = 3;
}

double RunControl::computeCpDeviation() const {
    double dev = 0.0;
    auto scan = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            const double d = std::fabs(roundSingle(cpf(i) - cps(i)));
            dev = std::max(dev, d);
        }
    };
    scan(k, designEnd);
    if (designRegime == 0) scan(NX - designEnd - 1, NX - k - 1);
    return dev;
}

double RunControl::integratedLift(const double* f) {
    double sx = 0.0, sy = 0.0;
    for (int i = k; i <= NX - k - 1; ++i) {
        sx += f[i] * (xg(i + 1, 1) - xg(i, 1));
        sy += f[i] * (yg(i + 1, 1) - yg(i, 1));
    }
    clift = (cu * sx + su * sy) / cosSweep;
    return clift;
}

// The log keeps every line of every run of the program: a std::vector
// grows as needed, so a long session never loses or truncates lines (a
// fixed table of 3000 lines would have to drop some).
void RunControl::appendLog(const std::string& line) {
    log.push_back(line);
    logCount = static_cast<int>(log.size());
}

// ---------------------------------------------------------------------------
// Result and iteration-log files
// ---------------------------------------------------------------------------

std::string RunControl::resultName(int counter) const {
    return inputPath.substr(0, inputPath.size() - 4) + "_" + std::to_string(counter) + ".out";
}

std::string RunControl::saveResult() {
    saveCounter += 1;
    if (inputPath.size() < static_cast<size_t>(kMinPathLength)) {
        throw FileError("There's no open DATA file: no result file is written.");
    }
    const std::string path = resultName(saveCounter);

    std::string out;
    out += nameOf(names.title, kNameField) + "\n";
    out += "    npa       nbh       nco       kgr   \n";
    std::string line(68, ' ');
    placeAt(line, 5, fromInt(npa));
    placeAt(line, 15, fromInt(k));
    placeAt(line, 25, fromInt(NY));
    placeAt(line, 35, fromInt(Kgrid));
    out += line + "\n\n";
    out += "    Mach     Alpha     Swept      Cy        Cx    \n";
    line.assign(68, ' ');
    placeAt(line, 3, fromDouble(mach, 5));
    placeAt(line, 13, fromDouble(alpha, 5));
    placeAt(line, 23, fromDouble(swept, 5));
    placeAt(line, 33, fromDouble(clift, 5));
    placeAt(line, 43, fromDouble(cdrag, 5));
    out += line + "\n\n";
    const bool design = designMode == 1;
    if (design) {
        out += "   i        x              y              Cp             M          Cpd\n";
    } else {
        out += "   i        x              y              Cp             M\n";
    }
    for (int i = k; i <= NX - k - 1; ++i) {
        line.assign(73, ' ');
        placeAt(line, 3, fromInt(i - k + 1));
        placeAt(line, 7, fromDouble((xg(i, 1) + xg(i + 1, 1)) * 0.5, 10));
        placeAt(line, 22, fromDouble((yg(i, 1) + yg(i + 1, 1)) * 0.5 * cu, 10));
        placeAt(line, 37, fromDouble(cpf(i), 10));
        placeAt(line, 52, fromDouble(amach(i, 1), 10));
        if (design) placeAt(line, 67, fromDouble(cps(i), 10));
        out += line + "\n";
    }

    std::ofstream f(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (f) f << out;
    if (f) f.close();
    if (!f) throw FileError("Cannot write the result file \"" + path + "\".");
    resultPath = path;
    return path;
}

bool RunControl::writeIterationLog() const {
    if (itrPath.empty()) return false;
    std::ofstream f(itrPath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!f) return false;
    f << "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n";
    for (const std::string& line : log) f << line << '\n';
    f.close();
    return static_cast<bool>(f);
}

void RunControl::computeGridExtents() {
    gxMin = 1.0e6;
    gyMin = 1.0e6;
    gxMax = -1.0e6;
    gyMax = -1.0e6;
    const int nxf = gridStep * NX;
    const int nyf = gridStep * (NY - 1) + 1;
    for (int j = 1; j <= nyf; ++j) {
        for (int i = 0; i <= nxf; ++i) {
            gxMin = std::min(gxMin, xg(i, j));
            gxMax = std::max(gxMax, xg(i, j));
            gyMin = std::min(gyMin, yg(i, j));
            gyMax = std::max(gyMax, yg(i, j));
        }
    }
}

}  // namespace quarel
