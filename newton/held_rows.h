// The exact Newton rows held for chord steps.
#pragma once

#include <vector>

#include "state.h"

namespace quarel {

// Chord steps.  Forming the exact matrix costs some forty residual
// evaluations, more than all the rest of a step.  Near the solution it
// changes little from step to step: a step whose largest residual has
// fallen to at most NewtonOptions::chordRate times that of the step before
// keeps the exact rows of that step (brought to the present row scale) and
// their factors.  The iteration then converges at the rate by which the
// held matrix differs from the present one, and a step that falls short of
// the rate forms the matrix anew.  The converged potential does not depend
// on it: the residual is always that of the present potential.  The
// derivative jumps where a face turns supersonic or subsonic or a shock
// point moves (the upwind and shock-point terms switch on or off): the rows
// are held only while every face has the pattern it had when they were
// formed (on the 496 x 77 grid of a transonic case, chord steps across such
// a switch raised the residual 15-fold).
class HeldExactRows {
public:
    // Keeps the present exact rows (after ExactRows) of step itr, whose
    // largest residual was res.  NY, k, NX, itr, res [in]
    void hold(int NY, int k, int NX, int itr, double res);
    // Puts the held rows in place of the approximate ones that BuildSystem
    // has just formed, each row multiplied by the ratio of its held scale
    // to its present one, for step itr with residual res.
    void restore(int NY, int NX, int itr, double res);
    void drop() { valid_ = false; }

    // The rows of step itr-1 on this grid are held and every face still
    // has the pattern it had when they were formed.
    bool fitFor(int NY, int k, int NX, int itr);
    // The last step that used them was a chord step (itr) that raised the
    // largest residual to res.
    bool chordRaised(int itr, double res) const {
        return valid_ && chordStep_ && itr_ == itr - 1 && res > res_;
    }
    double residual() const { return res_; }
    // Marks the last use as a chord step or not.
    void setChordStep(bool chord) { chordStep_ = chord; }

private:
    bool valid_ = false;
    int NX_ = 0, NY_ = 0, k_ = 0;
    int itr_ = 0;       // the last step that used them
    double res_ = 0.0;  // largest residual of that step
    std::vector<double> rows_[13];
    std::vector<double> scale_;         // row scale they were formed with
    std::vector<double> extra_;         // values of the couplings beyond the stencil
    EntropyCouplings entropy_;          // the entropy couplings as they were
    std::vector<unsigned char> faces_;  // upwind and shock-point pattern of the i-faces
    std::vector<unsigned char> facesNow_;
    int extraCount_ = 0;
    bool moment_ = false;
    bool chordStep_ = false;  // the last step that used them was a chord step
};

}  // namespace quarel
