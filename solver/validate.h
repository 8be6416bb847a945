// Checks made before a grid is built or a calculation starts, so that no
// routine writes past the fixed-size arrays.
#pragma once

#include "INPT1.h"

namespace quarel {

// Checks the fine-grid sizes (npa = Kgrid*NPA, NY = Kgrid*NCO + 1,
// k = Kgrid*NBH, NX = npa + 2k), Kgrid, the GMRES dimension and the
// contour.  Throws ParameterError with a message for the user.
//   NPA, NCO, NBH, Kgrid [in] the panel values
//   gmresDim [in] Krylov dimension;  linearIterations [in]
//   XCONT, YCONT, NCONT [in] the contour as read
void ValidateGrid(const int& NPA, const int& NCO, const int& NBH, const int& Kgrid,
                  const int& gmresDim, const ContourInput& XCONT, const ContourInput& YCONT,
                  const int& NCONT);

}  // namespace quarel
