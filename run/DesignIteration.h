// One design global iteration: the target pressures become a target
// surface speed, the flow is solved once more with that speed imposed on
// the design stretch, the transpiration this needs becomes a change of the
// section ordinates, the grid is regenerated round the new section, the
// angle of attack follows the rotation of the chord, and the flow restarts
// from the free stream on the coarsest level.  The coarse-to-fine run that
// follows (RunDriver) then analyses the new section.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "CGRD1.h"
#include "FreeStream.h"
#include "GridLevel.h"
#include "JobFiles.h"
#include "JobParameters.h"
#include "RunDriver.h"

namespace quarel {

// What inverse design needs to keep between the grid calculation and the
// design global iterations.
struct DesignState {
    int designMode = 0;             // 0 analysis, 1 design (the "Design" radio button)
    int globalIteration = 0;        // design global iterations since the file was opened
    bool targetAccepted = false;    // a target Cp has been accepted in the Cp editor
    int designEnd = 0;              // end index of the design stretch (restart reader)
    double designLift = 0.0;        // lift of the target Cp (restart reader)
    double alphaShift = 0.0;        // correction of alphaN made by the design step
    double alphaCorrFactor = 1.0;   // factor of that correction
    int iLead = 0;                  // npa/2 of the fine grid
    int iMaxThick = 0;              // index of the maximum thickness of the section
    double maxThick = 0.0;          // its value
    double x0 = 0.0;                // chord origin found by the contour preparation
    double chordInclination = 0.0;  // chord inclination of the input contour, degrees
    // Body ordinates yg(i, 1), i = k .. NX-k, of the fine grid as generated.
    std::vector<double> yBody0;
    // Their abscissae: with yBody0 the start section of a design.
    std::vector<double> xBody0;
    // Change of the section ordinates made by a design global iteration,
    // per contour node 0..500; cleared by every grid calculation.
    std::vector<double> dyCorr = std::vector<double>(501, 0.0);
};

// A design iteration that could not be made (a section or grid that would
// fold, a breakdown of the design run).  The run control puts everything
// back as it was before the iteration: the section, the grid, the
// potential, the target and the angle of attack; the results of the last
// run stay valid.
class DesignRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Newton steps the design run may take when its residual does not reach
// the tolerance; the run then goes on with the transpiration it has, with
// a warning.
constexpr int kMaxDesignSteps = 50;

// What one global iteration did, for the "Inverse" tab and the batch
// program.
struct DesignReport {
    int designSteps = 0;                 // Newton steps of the design run
    bool stepBoundReached = false;       // it ended at kMaxDesignSteps
    double residual = 0.0;               // its last residual
    double largestOrdinateChange = 0.0;  // max |y new - y old| of the body, chord units
    double alphaShift = 0.0;             // rotation of the chord line, radians
    // Body faces (face i: nodes i, i+1) of the design stretches whose
    // target speed the local metrics could not carry (negative t in the
    // body condition), in any step.
    std::vector<int> uncarriedFaces;
};

// Runs one global iteration on the fine grid held in the arrays (the grid
// of the last run, with its metrics and potential).  `report` [out] is
// filled as far as the iteration got, also when it is refused.
//   job [in,out]    alpha follows the corrected angle of attack
//   level [in,out]  the fine grid on entry; on return the level where the
//                   analysis of the new section continues from the flow
//                   of the design run (the fine one, or the next coarser
//                   one after a large change of the section)
//   flow [in,out]   alphaN, cu, su corrected
//   design [in,out] dyCorr, alphaShift; designEnd, designLift,
//                   iMaxThick, iLead, alphaCorrFactor [in]
//   results [in]    clift (the lift correction of the target)
//   status, log [in,out] the design run's steps and log lines
//   newton [in,out] the Newton solver of the run, with its linear method
//   gridOptions [in] those of the grid calculation
// Modifies cps (lift correction), qq2, ptc, vfx, vdu, phi, phis, xg, yg,
// xgs, ygs.  Throws DesignRefused; the caller puts back what it changed
// (RunControl keeps a snapshot of the run).
void DesignGlobalIteration(JobParameters& job, GridLevel& level, FreeStream& flow,
                           DesignState& design, const Results& results, RunStatus& status,
                           IterationLog& log, NewtonSolver& newton, DesignReport& report,
                           const GridOptions& gridOptions);

// Lift correction of the target: a sin^2 hump over the first design
// stretch k..L (x from x(L,1) to x(k,1)), 2 (clift - designLift)/D high
// with D its projected length, added to cps; it changes the lift of the
// target by about designLift - clift.  Nothing when k > L.
//   k, L [in]; clift [in] lift of the last run; designLift [in] target lift
void CorrectTargetLift(int k, int L, double clift, double designLift);

// Target speed squared of a target Cp in the section plane, with the
// spanwise share sin^2(sweep) taken off: the isentropic relation (the
// power rounded to single precision), or 1 - Cp - s2 when mach = 0.
double TargetSpeedSquared(double cp, const FreeStream& flow);

// A design whose Cp deviation has stopped falling while still above
// kStalledDeviation: the deviation after an iteration is more than
// kStalledRatio times the one before it.
constexpr double kStalledDeviation = 2.0e-3;
constexpr double kStalledRatio = 0.9;

// The warning for a design that has stopped approaching its target (empty
// when it has not): the deviation reached, the face where it is largest,
// and that the section ahead of the design region cannot change.  Reads
// cpf, cps and xg of the fine grid held in the arrays.
//   before, after [in] Cp deviation before and after the iteration
//   level [in] the fine grid; design [in] the design rows;
//   leadBoundary [in] the leading boundary of the design region (x/c)
std::string DesignStallWarning(double before, double after, const GridLevel& level,
                               const DesignRows& design, double leadBoundary);

}  // namespace quarel
