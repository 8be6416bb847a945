// The direct method: the multilevel method with complete instead of
// incomplete factors on grids of at least NewtonOptions::directFrom
// unknowns.  The sparse LU factors of the approximate rows' stencil
// precondition flexible GMRES on the whole system, which then needs a
// handful of iterations for what the factors leave out (the exact rows, the
// far-field doublet, the overhang of upwind terms).
#include "linear_factored.h"

namespace quarel {

namespace {

// Complete factors cost a good part of a step on the large grids (on
// 496 x 97 0.09 s, against 0.005 s for a solve with them and 0.05 s for
// the exact matrix), and those of the step before precondition the next
// step's matrix nearly as well: in the steps with the exact matrix they
// are kept while the solve with them takes at most kReuseIterations
// iterations, and made anew after a solve that took more.  The steps with
// the approximate matrix always factor it anew: kept factors there change
// the path of the early steps (a step more on each of the finer levels).
constexpr int kReuseIterations = 10;

class DirectMethod : public FactoredMethod {
public:
    explicit DirectMethod(const NewtonOptions& options)
        : FactoredMethod(options), directFrom_(options.directFrom) {}

protected:
    bool completeFactors(const LinearStep& s) const override {
        const int unknowns = (s.NX - s.k) + (s.NY - 2) * (s.NX - 1);
        return unknowns >= directFrom_;
    }
    bool keepFactors(const LinearStep& s) const override {
        return completeFactors(s) && s.sameLevel && !fellBack() && ilu_.complete() &&
               iterations() <= kReuseIterations;
    }

private:
    int directFrom_;
};

}  // namespace

std::unique_ptr<LinearMethodSolve> MakeDirectMethod(const NewtonOptions& options) {
    return std::unique_ptr<LinearMethodSolve>(new DirectMethod(options));
}

}  // namespace quarel
