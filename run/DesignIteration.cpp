#include "DesignIteration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>

#include "CGRD1.h"
#include "FLUX1.h"
#include "RunDriver.h"
#include "SOLV1.h"
#include "constants.h"
#include "message.h"
#include "operator.h"
#include "state.h"

namespace quarel {

namespace {

constexpr double kPi = 3.141592653589793;

// Overlap of the two trailing-edge nodes (chord units) that a design step
// may leave before the section counts as folded.
constexpr double kTrailingEdgeOverlap = 1.0e-5;

// A change of the ordinates (chord units) beyond which the analysis of the
// new section starts on the next coarser level.  NACA 2412 designed from
// NACA 0012 at M 0.75 on 256 x 41: the first iteration (1.5e-2) took 14
// fine steps on the fine grid alone against 8 steps on 128 x 21 and 9 on
// 256 x 41; the second (3.5e-3) 11 against 9 and 10.
constexpr double kLargeSectionChange = 5.0e-3;

std::string sci(double v, const char* format = "%.3E") {
    char b[32];
    std::snprintf(b, sizeof b, format, v);
    return b;
}

// "i = 12, 13, 40" with at most `most` entries shown.
std::string faceList(const std::vector<int>& faces, size_t most = 12) {
    std::string s;
    for (size_t n = 0; n < faces.size() && n < most; ++n)
        s += (n ? ", " : "") + std::to_string(faces[n]);
    if (faces.size() > most) s += " and " + std::to_string(faces.size() - most) + " more";
    return s;
}

// The body condition of the design rows: the potential increment along
// face `f` (metrics of face f, transpiration vw) that gives the target
// speed squared q2, signed as the current flow runs (from node `from` to
// node `to`).  The tangential part of the speed is what is left of q2
// after the normal part vw; a target slower than vw cannot be carried:
// the face gets no tangential increment and, when it lies on a design
// stretch (`designed`), is recorded.
double prescribedIncrement(int f, double q2, double vw, int from, int to, bool designed,
                           std::set<int>& uncarried) {
    double t = (g22i(f, 1) * q2 - vw * vw) / (aji(f, 1) * aji(f, 1));
    if (!(t >= 0.0)) {
        if (designed) uncarried.insert(f);
        t = 0.0;
    }
    const double r = std::sqrt(t);
    return phi(to, 1) > phi(from, 1) ? r : -r;
}

}  // namespace

double TargetSpeedSquared(double cp, const FreeStream& flow) {
    if (flow.mach == 0.0) return 1.0 - cp - flow.sin2Sweep;
    const double e =
        RoundSingle(std::pow(1.0 + cp * flow.gamma * 0.5 * flow.mach2, 1.0 - 1.0 / flow.gamma));
    return 1.0 - (e - 1.0) * 2.0 / (flow.gamma - 1.0) / flow.mach2 - flow.sin2Sweep;
}

void CorrectTargetLift(int k, int L, double clift, double designLift) {
    if (k > L) return;
    const double xL = xg(L, 1);
    const double D = xg(k, 1) - xL;
    const double A = 2.0 * (clift - designLift) / D;
    for (int i = k; i <= L; ++i) {
        const double s = std::sin(kPi * (xg(i, 1) - xL) / D);
        cps(i) += s * s * A;
    }
}

namespace {

// The phases of a global iteration.  Each works on the fine grid in the
// arrays; `refuse` builds the exception of a refused iteration.
using Refusal = std::function<DesignRefused(const std::string&)>;

// 2. The target speed of the body rows from the target Cp (lift-corrected
// when asked).
void TargetSpeeds(const JobParameters& job, const GridLevel& level, const FreeStream& flow,
                  DesignState& design, const Results& results, int L) {
    const int NX = level.NX, k = level.k, iMid = level.iMid;
    if (job.liftCorrection == 1) CorrectTargetLift(k, L, results.clift, design.designLift);
    // qq2 is kept in the slot of the body row that uses it: slot i is face
    // i on the first half and face i-1 (nodes i-1, i) on the second, like
    // vfx; cps is per face everywhere.
    // The non-isentropic model's potential gives the pressure by the
    // isentropic law as well (entropy.h).
    auto target = [&](int f) { return TargetSpeedSquared(cps(f), flow); };
    for (int i = k; i <= iMid - 1; ++i) qq2(i) = target(i);
    for (int i = NX - k; i >= iMid + 1; --i) qq2(i) = target(i - 1);
}

// 3. The design run on the fine grid: Newton steps with the speed imposed
// on the design stretch, each followed by the transpiration update.
void DesignRun(const JobParameters& job, const GridLevel& level, const FreeStream& flow,
               const DesignState& design, RunStatus& status, IterationLog& log,
               NewtonSolver& newton, DesignReport& report, int L, const Refusal& refuse) {
    const int NX = level.NX, NY = level.NY, k = level.k, iMid = level.iMid;
    const int regime = job.designRegime;
    FarFieldValues(k, NX, NY, flow.cu, flow.su);
    const Tolerances tol = Tolerances::design(job.maxResidual);
    NewtonProblem problem = NewtonProblemOf(level, flow, job, tol);
    problem.designFlag = 1;
    problem.firstOnly = regime;
    problem.L = L;
    newton.beginLevel(problem);
    status.iterCount = 0;
    double R = tol.startResidual();
    log.append(" Grid: " + std::to_string(NX) + " x " + std::to_string(NY) +
               "   Calculation with modified boundary conditions");
    std::set<int> uncarried;
    try {
        while ((std::fabs(R) > job.maxResidual || status.iterCount <= 6) &&
               status.iterCount < kMaxDesignSteps) {
            for (int i = k; i <= iMid - 1; ++i)
                ptc(i) = prescribedIncrement(i, qq2(i), vfx(i), i, i + 1, i <= L, uncarried);
            for (int i = NX - k; i >= iMid + 1; --i)
                ptc(i) = prescribedIncrement(i - 1, qq2(i), vfx(i), i, i - 1,
                                             regime == 0 && i >= NX - L, uncarried);
            ++status.iterCount;
            const StepReport step = newton.step();
            R = step.residual;
            log.append(step.line);
            DesignTranspiration(NX, k, NY, flow.mach, flow.gamma, flow.sin2Sweep, regime,
                                design.iMaxThick, L);
        }
    } catch (const SolverError& e) {
        report.designSteps = status.iterCount;
        report.uncarriedFaces.assign(uncarried.begin(), uncarried.end());
        throw refuse(std::string("the design run broke down (") + e.what() + ").");
    }
    report.designSteps = status.iterCount;
    report.residual = R;
    report.uncarriedFaces.assign(uncarried.begin(), uncarried.end());
    status.iterCount = 0;
    if (std::fabs(R) > job.maxResidual) {
        report.stepBoundReached = true;
        msg::warning("The design run on the " + std::to_string(NX) + " x " + std::to_string(NY) +
                     " grid ended after " + std::to_string(kMaxDesignSteps) +
                     " steps at the residual " + sci(std::fabs(R)) + " (Max.residual " +
                     sci(job.maxResidual, "%.1E") +
                     "): the section was changed with the transpiration of its last step.");
    }
    if (!uncarried.empty()) {
        msg::warning("The target speed could not be carried at " +
                     std::to_string(uncarried.size()) + " faces of the design stretch (faces " +
                     faceList(report.uncarriedFaces) +
                     "): the transpiration there is faster than the target speed, so the "
                     "tangential speed was taken as 0.");
    }
}

// 4.-5. The ordinates of the body changed by the transpiration the design
// run left; refused when the section would fold.
void NewOrdinates(const GridLevel& level, DesignState& design, std::vector<double>& yOld,
                  const Refusal& refuse) {
    const int NX = level.NX, k = level.k, iMid = level.iMid;
    // 4. Ordinate change: the slopes integrated from the leading edge,
    // which stays in place.
    std::vector<double>& dy = design.dyCorr;
    auto at = [](int i) { return static_cast<size_t>(i); };
    dy[at(iMid)] = 0.0;
    for (int i = iMid - 1; i >= k; --i) {
        const double d = xg(i + 1, 1) - xg(i, 1);
        const double h = (xg(i, 2) + xg(i + 1, 2) - xg(i, 1) - xg(i + 1, 1)) * 0.5;
        const double w = vdu(i) / aji(i, 1) / d;
        dy[at(i)] = dy[at(i + 1)] - d * w / (d + vdu(i) * h);
    }
    for (int i = iMid + 1; i <= NX - k; ++i) {
        const double d = xg(i, 1) - xg(i - 1, 1);
        const double h = (xg(i, 2) + xg(i - 1, 2) - xg(i, 1) - xg(i - 1, 1)) * 0.5;
        const double w = vdu(i) / aji(i - 1, 1) / d;
        dy[at(i)] = dy[at(i - 1)] + d * w / (d + vdu(i) * h);
    }
    yOld.assign(at(NX + 1), 0.0);
    for (int i = k; i <= NX - k; ++i) yOld[at(i)] = yg(i, 1);

    // 5.
    for (int i = k; i <= NX - k; ++i)
        if (i != iMid) yg(i, 1) += dy[at(i)];

    // The new section must be a section: finite, and the upper surface
    // above the lower one at every station (nodes i and NX-i share x).
    for (int i = k; i <= NX - k; ++i) {
        if (!std::isfinite(yg(i, 1)))
            throw refuse("the ordinate change at surface node " + std::to_string(i) +
                         " is not a number.");
    }
    for (int i = k; i <= iMid - 1; ++i) {
        const double t = yg(i, 1) - yg(NX - i, 1);
        const double before = yOld[at(i)] - yOld[at(NX - i)];
        // A closed trailing edge stays closed only as far as the closure
        // reaches (a design stretch that ends short of the leading edge
        // leaves a small gap or overlap), so its gap may go below 0 by
        // kTrailingEdgeOverlap; every other station must keep a positive
        // thickness.
        const bool folds =
            i == k ? (t < -kTrailingEdgeOverlap && before >= 0.0) : (t <= 0.0 && before > 0.0);
        if (folds) {
            throw refuse("the new section would fold: at x = " + sci(xg(i, 1), "%.4f") +
                         " (surface nodes " + std::to_string(i) + " and " + std::to_string(NX - i) +
                         ") its thickness would be " + sci(t) + ".");
        }
    }
}

// 6.-7. The chord line turned back onto the x axis: the new contour at the
// start of line 1.
void TurnedContour(const GridLevel& level, const FreeStream& flow, DesignState& design,
                   DesignReport& report, const std::vector<double>& yOld) {
    const int NX = level.NX, k = level.k, iMid = level.iMid;
    auto at = [](int i) { return static_cast<size_t>(i); };
    // 6. Rotation of the chord line (leading edge to trailing-edge
    // midpoint).
    const double xT = (xg(k, 1) + xg(NX - k, 1)) * 0.5;
    const double yT = RoundSingle((yg(k, 1) + yg(NX - k, 1)) * 0.5);
    const double num = RoundSingle(yT - yg(iMid, 1));
    const double den = RoundSingle(xT - xg(iMid, 1));
    design.alphaShift = RoundSingle(std::atan(num / den));
    report.alphaShift = design.alphaShift;

    // 7. New contour at the start of line 1, sheared so that the
    // trailing-edge midpoint returns to the chord line.
    for (int n = 0; n <= NX - 2 * k; ++n) {
        xg(n + 1, 1) = xg(k + n, 1);
        yg(n + 1, 1) = yg(k + n, 1) - yT * xg(k + n, 1);
    }
    double largest = 0.0;
    for (int n = 0; n <= NX - 2 * k; ++n)
        largest = std::max(largest, std::fabs(yg(n + 1, 1) - yOld[at(k + n)]));
    report.largestOrdinateChange = largest * flow.ordinateDivisor();
}

// 9.-10. The grid round the new section, refused when it is not finite or
// folds more than the grid before it.
void NewGrid(JobParameters& job, const GridLevel& level, DesignState& design,
             const GridOptions& gridOptions, int foldedBefore, const Refusal& refuse) {
    const int NX = level.NX, NY = level.NY, k = level.k, npa = level.npa;
    int firstI = 0, firstJ = 0;
    // 9. Leading-edge parameter of the grid's square-root map, from the
    // nodes on either side of the leading edge.
    {
        const int i = design.iLead;
        const double a1 = xg(i, 1) / (1.0 - xg(i, 1));
        const double a2 = xg(i + 2, 1) / (1.0 - xg(i + 2, 1));
        const double t1 = std::atan(std::sqrt(a1));
        const double t2 = std::atan(std::sqrt(a2));
        const double d = (yg(i + 2, 1) - yg(i, 1)) / (2.0 * (t1 + t2));
        design.x0 = 2.0 * d * d;
    }

    // 10. The grid round the new section.
    int npaFine = npa, nyFine = NY, kFine = k;
    GridGen(nyFine, kFine, npaFine, design.x0, job.DSGRID, gridOptions);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            if (!std::isfinite(xg(i, j)) || !std::isfinite(yg(i, j)))
                throw refuse("the grid round the new section has a node that is not a number (i=" +
                             std::to_string(i) + ", j=" + std::to_string(j) + ").");
        }
    const int foldedAfter = FoldedCells(NX, NY, firstI, firstJ);
    if (foldedAfter > foldedBefore) {
        throw refuse("the grid round the new section would fold (" + std::to_string(foldedAfter) +
                     " of " + std::to_string(NX * (NY - 1)) + " cells turned over or degenerate).");
    }
    SaveFineGrid(NX, NY);
}

}  // namespace

void DesignGlobalIteration(JobParameters& job, GridLevel& level, FreeStream& flow,
                           DesignState& design, const Results& results, RunStatus& status,
                           IterationLog& log, NewtonSolver& newton, DesignReport& report,
                           const GridOptions& gridOptions) {
    const int NX = level.NX, NY = level.NY, iMid = level.iMid;
    // The design stretches end before the leading-edge node, which stays
    // in place (a design region from x = 0 would let them overlap there).
    const int L = std::min(design.designEnd, iMid - 1);
    report = DesignReport{};

    const Refusal refuse = [](const std::string& why) {
        return DesignRefused("The design iteration was refused: " + why +
                             " The previous section was kept.");
    };
    // Folded cells of the grid the iteration starts from: a new grid may
    // not add to them.
    int firstI = 0, firstJ = 0;
    const int foldedBefore = FoldedCells(NX, NY, firstI, firstJ);

    // 1.
    ClearTranspiration(NX, design.dyCorr);
    TargetSpeeds(job, level, flow, design, results, L);
    DesignRun(job, level, flow, design, status, log, newton, report, L, refuse);
    std::vector<double> yOld;
    NewOrdinates(level, design, yOld, refuse);
    TurnedContour(level, flow, design, report, yOld);

    // 8.
    ClearTranspiration(NX, design.dyCorr);
    // The perturbation of the free stream that the design run left in phi,
    // on the grid it was computed on (still in xgs, ygs).
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i)
            phis(i, j) = phi(i, j) - (flow.cu * xgs(i, j) + flow.su * ygs(i, j));
    NewGrid(job, level, design, gridOptions, foldedBefore, refuse);

    // 11. The section turned by alphaShift: the angle of attack follows.
    flow.setAlphaN(flow.alphaN - design.alphaCorrFactor * design.alphaShift);
    job.alpha = flow.alphaN * flow.cosSweep * 180.0 / kPi;

    // 12. The analysis of the new section continues from the flow of the
    // design run, carried over to the new grid and the new angle of
    // attack: from the free stream the coarse-to-fine run takes more steps.
    // After a large change of the section its shock has several cells to
    // travel, which the next coarser level does at a quarter of the cost
    // of a fine step; after a small one the fine grid alone is quicker.
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            phis(i, j) += flow.cu * xg(i, j) + flow.su * yg(i, j);
            phi(i, j) = phis(i, j);
        }
    if (report.largestOrdinateChange > kLargeSectionChange && job.Kgrid >= 2)
        level = level.coarsened(2);
}

std::string DesignStallWarning(double before, double after, const GridLevel& level,
                               const DesignRows& design, double leadBoundary) {
    if (!(after > kStalledDeviation) || !(before > 0.0) || after <= kStalledRatio * before)
        return std::string();
    // Where the deviation is largest: the rows CpDeviation scans.
    int worst = level.k;
    double largest = -1.0;
    auto scan = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            const double d = std::fabs(cpf(i) - cps(i));
            if (d > largest) {
                largest = d;
                worst = i;
            }
        }
    };
    scan(level.k, design.designEnd);
    if (design.designRegime == 0) scan(level.NX - design.designEnd - 1, level.NX - level.k - 1);
    char b[600];
    std::snprintf(b, sizeof b,
                  "The design no longer approaches its target: the Cp deviation is %.3E after "
                  "%.3E before this iteration, largest at x = %.4f on the %s surface. The "
                  "section ahead of the design region (x < %.3f) is not changed by the design, "
                  "so a target whose nose differs from this section's cannot be reached there: "
                  "the designed section is not the target's.",
                  after, before, 0.5 * (xg(worst, 1) + xg(worst + 1, 1)),
                  worst < level.NX / 2 ? "upper" : "lower", leadBoundary);
    return b;
}

}  // namespace quarel
