// Flexible GMRES (right preconditioning) on compact vectors.
//
// The preconditioner is applied to each basis vector and its result kept
// (z_l = P_l^-1 v_l), so it may change from one iteration to the next (an
// inner iteration, a cycle of a multilevel method); the correction is
// x += Z y with y minimising |b - A x| over the cycle.  The residual the
// Arnoldi process tracks is that of the system itself, not a preconditioned
// one.  Gram-Schmidt is classical with one re-orthogonalisation: two passes
// of inner products that each read the basis once, as accurate as the
// modified process.
#pragma once

#include <functional>
#include <vector>

namespace quarel {

// Basis storage of a flexible GMRES cycle, kept by the caller between
// solves of the same size.
struct FgmresWorkspace {
    std::vector<double> v;  // m+1 basis vectors
    std::vector<double> z;  // m preconditioned vectors
    std::vector<double> r;  // residual
    void Reserve(int n, int m);
};

// y = A x (x [in], y [out]).
using LinearMap = std::function<void(const double* x, double* y)>;
// z = P^-1 v for basis vector l (0-based) of the cycle; v [in], z [out].
using VaryingPreconditioner = std::function<void(const double* v, double* z, int l)>;
// Judges the true residual r [in] (2-norm norm2 [in]) at the start of a
// cycle: returns the 2-norm the cycle should reach, or a negative value
// when the solve is done.
using CycleTarget = std::function<double(const double* r, double norm2)>;

// Restarted flexible GMRES for A x = b: cycles of dimension m until target
// says done or `cycles` cycles have run.  x holds the start value on entry.
// Returns the number of Arnoldi steps (operator products of the basis).
//   n, m, cycles [in]; A, P, target [in]; b [in]; x [in,out]; work [in,out]
int Fgmres(const int& n, const int& m, const int& cycles, const LinearMap& A,
           const VaryingPreconditioner& P, const CycleTarget& target, const double* b, double* x,
           FgmresWorkspace& work);

}  // namespace quarel
