// The values of a job that the main window's panels show and edit, and the
// results it shows: plain data, bound field by field to the window's data
// targets and read by the run control.
#pragma once

#include "INPT1.h"
#include "ViscousResults.h"
#include "constants.h"
#include "entropy.h"
#include "viscous_options.h"

namespace quarel {

// Everything the input file gives and the panels can change.
struct JobParameters {
    // Grid parameters of the coarsest grid: panels on the section, cells
    // outward, cells along the wake, refinement factor to the fine grid.
    int NPA = 0, NCO = 0, NBH = 0, Kgrid = 0;
    GrowthRatios DSGRID{};  // entries 1, 4, 6, 7, 8, 10, 13 on the panels

    double alpha = 0.0;  // angle of attack, degrees
    double mach = 0.5;   // free-stream Mach number
    double swept = 0.0;  // sweep angle, degrees
    double gamma = 1.4;  // ratio of specific heats (the reader sets 1.4 in single precision)

    double diagDom = 0.0;      // diagonal dominance of the preconditioner
    double maxResidual = 0.0;  // tolerance of the largest scaled residual
    int linearIterations = 0;  // GMRES cycles per Newton step
    int gmresDim = 0;          // Krylov dimension

    double designLeadBoundary = 0.0;  // x/c where the design region starts
    int designRegime = 0;  // 0 both surfaces, 1 thickness distribution, 2 maximal thickness
    int liftCorrection = 0;

    // The section contour as read (at most 360 points).
    int NCONT = 0;
    ContourInput XCONT{}, YCONT{};

    // The boundary layer (off unless asked for).
    ViscousOptions viscous;
    // The entropy of the shocks carried downstream (off unless asked for).
    EntropyOptions entropy;
    // Fixed lift: alpha is found so that the converged Clift is clTarget
    // (off unless asked for; alpha is then the start and, after the run,
    // the angle found).
    bool fixedLift = false;
    double clTarget = 0.0;
};

// What a calculation reports: the fields of "Output Data:" and of the
// "Inverse" tab.
struct Results {
    double clift = 0.0;          // integrated lift of the surface Cp
    double cdrag = 0.0;          // wave drag
    double cmoment = 0.0;        // pitching moment about the quarter chord, nose up
    double cdragPressure = 0.0;  // drag of the integrated surface pressures
    double cpStar = 0.0;         // critical Cp of the free stream
    double cpDeviation = 0.0;    // largest |Cp - target Cp| on the design stretch
    double cliftCurrent = 0.0;   // lift of the computed Cp (analysis)
    double cliftTarget = 0.0;    // lift of the target Cp (design)
    ViscousResults viscous;      // viscous runs only
};

}  // namespace quarel
