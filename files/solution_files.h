// The restart and Cp files written after every analysis.
#pragma once

#include "INPT1.h"

namespace quarel {

// Writes the restart file (ptlName) and the Cp file (cpName).
//   names, NY, NX, k, gridStep, iterCount, iterTotal, mach, alpha,
//   sweepRad, clift, cdrag [in]
// Throws FileError when a file cannot be written (the files of the
// previous run are then left as they were), ParameterError when the grid
// sizes do not fit the arrays.
void SaveSolution(const FileNames& names, const int& NY, const int& NX, const int& k,
                  const int& gridStep, const int& iterCount, const int& iterTotal,
                  const double& mach, const double& alpha, const double& sweepRad,
                  const double& clift, const double& cdrag);

}  // namespace quarel
