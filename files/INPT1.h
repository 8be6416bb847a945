// Input and restart readers.
#pragma once

#include <cstdint>
#include <string>

#include "contour.h"
#include "state.h"

namespace quarel {

constexpr int kMaxCommonAbscissa = 180;  // lines of the common-abscissa layout
constexpr int kNameField = 80;           // characters of a file name field

// The names of one job's files.  Routines that open one of them take the
// name up to its first NUL, at most 80 characters.
struct FileNames {
    int32_t titleLen = 0;  // length of the trimmed title plus 1
    int32_t nameLen = 0;   // length of the input path
    int32_t cpLen = 0;     // length of the Cp file name (nameLen - 1)
    int32_t itrLen = 0;    // length of the iteration-log name (nameLen)
    int32_t ptlLen = 0;    // length of the restart file name (nameLen)
    char title[80] = {};   // title line without trailing blanks, NUL when shorter than 80
    char inputName[160] = {};
    char cpName[80] = {};
    char itrName[80] = {};
    char ptlName[80] = {};
};

// The name stored in a name field: up to the first NUL, at most 80
// characters.
std::string nameOf(const char* field, int fieldSize);

// Reads the input geometry file named by names.inputName.
//   names [in,out]  reads inputName, writes title and titleLen
//   mach, alpha [out] free-stream Mach number and angle of attack (deg)
//   gamma [out]     ratio of specific heats: 1.4 in single precision
//   sweepRad [out]  sweep angle as read (degrees; the grid command
//                   converts the panel copy)
//   diagFactor, maxResidual, designLeadBoundary [out]
//   npa, NY, k, gridStep [out]  NPA, NCO, NBH, Kgrid as read
//   linearIterations, gmresDim, liftCorrection, designRegime [out]
//   designMode [out] reset to 0
//   NCONT, XCONT, YCONT [out] the contour, expanded when the layout code is 1
//   DSGRID [out]    entries 1, 4, 6, 7, 8, 10, 13
// Everything is read and checked before any output is written: on a
// file that cannot be opened, a line missing, a field that is not a
// number or a contour the arrays cannot hold, throws FileError (naming
// the file, the line and the cause) and leaves every output untouched.
void ReadGeom(FileNames& names, double& mach, double& alpha, double& gamma, double& sweepRad,
              double& diagFactor, double& maxResidual, int& npa, int& NY, int& k, int& gridStep,
              int& linearIterations, int& gmresDim, int& liftCorrection, int& designRegime,
              double& designLeadBoundary, int& designMode, int& NCONT, ContourInput& XCONT,
              ContourInput& YCONT, GrowthRatios& DSGRID);

// Loads the potential of the previous analysis for a design run.
//   names [in]                 restart (.ptl) and Cp (.cp) file names
//   NY, NX, k [in]             grid sizes of the fine grid
//   iterCount, iterTotal [out] counters of the restart file
//   designEnd [in,out]         first design column: set when found
//   designLeadBoundary [in]    leading boundary of the design region
//   cu, su, cosSweep [in]      free-stream factors
//   designLift [out]           lift of the target Cp (cps)
// Fills phi and phis.  A missing restart or Cp file, a restart file with
// another number of records than the grid needs, or a short Cp file throws
// FileError before phi, phis or any output is changed; grid sizes that do
// not fit the arrays throw ParameterError.
void ReadRestart(const FileNames& names, const int& NY, const int& NX, const int& k, int& iterCount,
                 int& iterTotal, int& designEnd, const double& designLeadBoundary, const double& cu,
                 const double& su, const double& cosSweep, double& designLift);

}  // namespace quarel
