// Checks made before a grid is built or a calculation starts, so that no
// routine writes past the fixed-size arrays.
#pragma once

#include "contour.h"

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

// The growth ratios of the normal grid spacing given on the panels
// (entries 1, 4, 6, 7, 8, 10, 13): from 1 (even spacing) to below
// kMaxGrowthRatio.  Throws ParameterError naming the field.
//   DSGRID [in]
constexpr double kMaxGrowthRatio = 2.0;
void ValidateGrowthRatios(const GrowthRatios& DSGRID);

// Limits of the flow and convergence inputs.
constexpr double kMaxAlpha = 20.0;        // |angle of attack|, degrees
constexpr double kMaxSweep = 70.0;        // sweep angle, degrees
constexpr double kMaxNormalAlpha = 25.0;  // |alpha / cos sweep|, degrees
constexpr double kMaxTrailingGap = 0.01;  // open trailing edge, share of the chord

// Checks the free stream and the convergence settings.  Throws
// ParameterError naming the field and its range.
//   mach, alpha, swept [in] Mach number, angles in degrees
//   diagDom, maxResidual, linearIterations [in] the convergence fields
void ValidateFlow(const double& mach, const double& alpha, const double& swept,
                  const double& diagDom, const double& maxResidual, const int& linearIterations);

}  // namespace quarel
