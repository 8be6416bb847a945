// Newton step and GMRES driver.
#pragma once

#include <functional>

#include "newton_options.h"

namespace quarel {

// Solves A corr = sp0 by restarted preconditioned GMRES (corr, gmr).
//   NY, k, NX [in]; linTol [in] linear tolerance (0.75 of it is used);
//   cycles [in] at most this many GMRES cycles; m [in] Krylov dimension
void GmresDriver(const int& NY, const int& k, const int& NX, const double& linTol,
                 const int& cycles, const int& m);

// The solve of the inexact method for A corr = sp0: the held-circulation
// system until its largest residual is at most tau, GMRES cycles stopped as
// soon as they get there, the circulation response started from the one
// kept from the call before when keepResponse (same grid, next step).
//   NY, k, NX [in]; tau [in] absolute linear tolerance; cycles, m [in];
//   keepResponse [in]
void InexactDriver(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
                   const int& m, const bool& keepResponse);

// The solve of the ilu method for A corr = sp0: flexible GMRES on the whole
// system with the flow-ordered incomplete factorisation of fill level
// `fill`, until the largest linear residual is at most tau.
//   NY, k, NX [in]; tau [in] absolute linear tolerance; cycles, m [in];
//   fill [in]; gridLevels [in] levels of the preconditioner;
//   factorsBuilt [in] the factors are those of the present rows already
//   (see BuildIluFactors); complete [in] complete instead of incomplete
//   factors (when factorsBuilt is false)
void IluDriver(const int& NY, const int& k, const int& NX, const double& tau, const int& cycles,
               const int& m, const int& fill, const int& gridLevels = 1,
               const bool& factorsBuilt = false, const bool& complete = false);
// Builds the factors of the ilu solve from the rows of the Newton matrix as
// they stand: complete LU factors when `complete`, or when that finds the
// matrix singular, the incomplete ones.  NY, k, NX, fill, gridLevels,
// complete [in]
void BuildIluFactors(const int& NY, const int& k, const int& NX, const int& fill,
                     const int& gridLevels, const bool& complete = false);

// The largest linear residual that the last Newton step's GMRES solve left,
// divided by the largest Newton residual it started from (0 when that was
// 0): near 1 when the solve could not reduce the residual at all.
double LastLinearReduction();
// The largest |correction| of the last Newton step.
double LastLargestCorrection();
// The share of the previous step's correction that the step control of the
// last Newton step kept (1 when it kept all of it or had nothing to judge).
double LastKeptFraction();
// GMRES iterations (Arnoldi steps, all cycles and the circulation
// response together) of the last Newton step's linear solve.
int LastLinearIterations();
// Calls observer [in] at the end of every Newton step (an empty function
// removes it): the convergence tools record the step's figures through
// the functions above.
void SetNewtonStepObserver(std::function<void()> observer);

// One Newton iteration of the full-potential equation.
//   NY, k, NX, mach, gamma [in]
//   diagFactor [in]  1 + diagonal dominance
//   linTol [in]      "Max.residual"
//   cycles [in]      GMRES cycles ("Linear itererations")
//   m [in]           Krylov dimension (1..30)
//   designFlag, firstOnly, L [in] design rows
//   ITR [in]         iteration number (incremented by the caller)
//   RES [out]        largest residual
//   CD, CL [in,out]  wave drag and lift (analysis only)
//   cu, su, liftRef, s2 [in] free-stream factors, cos sweep, sin^2 sweep
//   lineBuffer [out] the iteration line, trailing blanks removed,
//                    NUL-terminated, at most 80 characters (81 bytes)
// Throws SolverError on a zero diagonal or a non-finite potential; phi
// is then left as it was before the step.
void NewtonStep(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
                const double& diagFactor, const double& linTol, const int& cycles, const int& m,
                const int& designFlag, const int& firstOnly, const int& L, const int& ITR,
                double& RES, double& CD, double& CL, const double& cu, const double& su,
                const double& liftRef, const double& s2, char* lineBuffer);
// The same with the choice of the linear solve; the call above uses the
// line method.  options [in]
void NewtonStep(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
                const double& diagFactor, const double& linTol, const int& cycles, const int& m,
                const int& designFlag, const int& firstOnly, const int& L, const int& ITR,
                double& RES, double& CD, double& CL, const double& cu, const double& su,
                const double& liftRef, const double& s2, char* lineBuffer,
                const NewtonOptions& options);

}  // namespace quarel
