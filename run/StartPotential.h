// The potential a calculation starts from on the fine grid: the free
// stream, or a converged solution of the same grid carried over to a new
// free stream.
#pragma once

#include <vector>

#include "FreeStream.h"

namespace quarel {

// phi = phis = the free stream on the grid in xg, yg (lines 1 .. NY).
//   flow [in]; NX, NY [in]
void FreeStreamPotential(const FreeStream& flow, const int& NX, const int& NY);

// The fine-grid potential in phis, lines 1 .. NY one after the other.
//   NX, NY [in]
std::vector<double> FinePotential(const int& NX, const int& NY);

// phis += ratio (phis - before): the start of the next point of a sweep
// extrapolated from the converged solutions of the last two, `before`
// (FinePotential of the one before the last) and phis (the last);
// ratio is the next step of the swept value over the last one.  The
// change of the flow from point to point (the free stream, the
// circulation, the shock moving by a cell or two) is then carried on
// instead of being found again by the Newton steps.
//   before, ratio [in]; NX, NY [in]
void ExtrapolatedPotential(const std::vector<double>& before, const double& ratio, const int& NX,
                           const int& NY);

}  // namespace quarel
