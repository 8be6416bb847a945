// Assembly of the Newton system and of the preconditioner factors.
#pragma once

namespace quarel {

// Builds the scaled Newton system (sp0, ad1..ad9, adm, adp, adg), the
// line preconditioner factors (pcw, pcs, pce, pmw, pme, pcn, ppv) and the
// line-1 block system (bta, btb, btc, btg).
//   NY, k, NX, mach, gamma [in]
//   diagFactor [in] 1 + diagonal dominance of the preconditioner
//   s2 [in] sin^2 sweep
//   designFlag, firstOnly, L [in] design rows (see BodyRow)
// Throws SolverError after printing the "Brakedown" console line when a
// diagonal vanishes.
void BuildSystem(const int& NY, const int& k, const int& NX, const double& mach,
                 const double& gamma, const double& diagFactor, const double& s2,
                 const int& designFlag, const int& firstOnly, const int& L);

// The 3 x 3 blocks of station i of the line-1 system (bta, btb, btc, btg)
// from the scaled rows of line 1 and the factors of line 2: the rows are
// the forward-sweep relation of (i, 2), the Newton row of (i, 1) and, on
// the wake cut (i < k), the forward-sweep relation of the partner
// (NX-i, 2).  i, k, NX [in]
void StationBlocks(const int& i, const int& k, const int& NX);

}  // namespace quarel
