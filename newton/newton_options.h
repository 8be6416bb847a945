// Choice of the linear solve inside the Newton step.
#pragma once

namespace quarel {

enum class LinearMethod {
    // Line preconditioner and restarted GMRES, every cycle of full
    // dimension, until the largest linear residual is below 0.75 times
    // the tolerance of the run; the circulation response is solved anew
    // at every step.
    Line,
    // Inexact Newton with the same preconditioner: each solve reduces the
    // residual only as far as the Newton iteration can use (a relative
    // tolerance that tightens as the Newton residual falls, after
    // Eisenstat and Walker), GMRES stops inside a cycle once it is there,
    // the circulation response starts from that of the step before, and
    // the Krylov basis is built without the rescaling product.
    Inexact,
    // Inexact Newton as above, with flexible GMRES on the whole system (the
    // circulation included) preconditioned by an incomplete factorisation
    // of the Newton matrix ordered with the flow (ilu.h).
    Ilu,
    // The ilu method with a multilevel preconditioner: a V-cycle over the
    // coarse levels of the grid (every other node in both directions,
    // Galerkin operators), the incomplete factors of each level as
    // smoother.
    Multilevel,
    // The multilevel method with complete instead of incomplete factors
    // on grids of at least NewtonOptions::directFrom unknowns: the sparse
    // LU factorisation (sparse_lu.h) of the approximate rows' stencil
    // preconditions flexible GMRES on the whole system, which then needs
    // a handful of iterations for what the factors leave out (the exact
    // rows, the far-field doublet, the overhang of upwind terms).  Should
    // the matrix be singular, the multilevel preconditioner takes over.
    Direct,
};

// Name used by the batch option and the tools ("line", "inexact", "ilu",
// "multilevel", "direct"), and the reverse; ParseLinearMethod returns false
// for an unknown name.
const char* LinearMethodName(LinearMethod method);
bool ParseLinearMethod(const char* name, LinearMethod& method);

// Options of the Newton step, set by the caller.
struct NewtonOptions {
    LinearMethod method = LinearMethod::Direct;
    // The step solves with the exact Newton matrix (the derivative of the
    // residual, see ExactRows) once the largest residual it starts from is
    // at most this; above it, and far from the solution, the approximate
    // matrix of the node rows, whose diagonal dominance carries the early
    // steps through large changes of the flow.  0: never.
    double exactBelow = 1.0e-3;
    // A step with the exact matrix keeps the exact rows of the step before
    // (a chord step) when its largest residual has fallen to at most this
    // share of that step's; 0: the matrix is formed at every step.
    double chordRate = 0.05;
    // The linear solve of a step with the exact matrix need not reduce the
    // residual below this share of it; 0: down to the linear tolerance
    // (Newton's quadratic rate, at a cost in Krylov iterations).
    double exactSolveFloor = 1.0e-3;
    // Level of fill of the incomplete factorisation (ilu method): level 2
    // kept restarted GMRES from stalling on the transonic cases where level
    // 1 did, at about 1.7 times the entries of level 0.
    int fill = 2;
    // Grid levels of the multilevel preconditioner (multilevel method).
    int gridLevels = 2;
    // The direct method factors completely a grid of at least this many
    // unknowns; below it, the incomplete factors of the multilevel method
    // cost less than the complete ones, and they converge as well there.
    // At 10 000 unknowns (256 x 41) a transonic step costs about 0.10 s
    // with complete factors against 0.06 s with incomplete ones, but the
    // exact solves take fewer steps and end the cycle of NACA 0012 at
    // M 0.75 and -4 degrees, which ran out of its 50 fine-grid steps at
    // 1e-9; on 368 x 57 the two cost the same per step, and on 496 x 77
    // the complete factors take a quarter of the time (all measured with
    // the factors of a general-purpose sparse LU, slower than the present
    // ones).  The transonic sample's 224 x 33 (7 000 unknowns) keeps the
    // incomplete factors: with complete ones it takes as long.
    // 0: every grid.
    int directFrom = 10000;
    // The level is the first of a run on a grid coarser than the fine one:
    // it starts from the free stream, and its shocks may have to travel far
    // from where they form to where they stand.  When one of its first steps
    // has met the limit on the growth of the supersonic regions, the step
    // control lets the residual and the Mach numbers rise further per step
    // for the rest of the level (SOLV1.cpp, kTravelSteps).
    bool startLevel = false;
};

}  // namespace quarel
