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

}  // namespace quarel
