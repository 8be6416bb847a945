// The limit on the growth of the supersonic regions in one Newton step.
#pragma once

#include <memory>

#include "state.h"
#include "zeroed.h"

namespace quarel {

// Limit on the growth of the supersonic regions.  A correction from a
// start far from the solution (the first steps of a level, the fine level
// started from the coarser one's shock) can accelerate the flow far beyond
// any Mach number of the flow sought: the densities of such a state are
// close to vacuum, its rows hardly diagonally dominant, and the iteration
// does not find its way back.  The correction is therefore cut back by
// halving, at most kMachHalvings times, until the local Mach number of
// every face after the step is at most kMachRise above the larger of the
// largest one before and kMachFree.  A converging iteration changes the
// Mach numbers by little and never meets the limit; a flow that really
// goes on accelerating still gets there, by kMachRise per step.
// The largest Mach number before counts up to kMachCap only, and a face
// already beyond the limit may keep its Mach number but not exceed it:
// a state that has one face far beyond any flow sought (a start
// interpolated from a coarse level that wandered, a face past the speed
// the isentropic model allows, whose Mach number is infinite) would
// otherwise lift the limit for every other face, and the run away it is
// there to stop would spread from that face through the field.
// A shock that the first steps from the free stream form near mid-chord
// may have to travel far to where it stands, one cell per Newton step at
// best, and the step that moves it by a cell takes the face behind it,
// whose linearised density is that of a subsonic face, far beyond the flow
// sought (past the speed the isentropic model allows, where the shock
// settles at about Mach 1.7).  With the rise kMachRise every such step was
// cut to 1/4 .. 1/8 and the shock moved by a fraction of a cell per step:
// with NACA 0012 at M 0.75 and 6 degrees, whose shock stands 18 cells
// (92 x 15) and 24 cells (124 x 20) aft of where it forms, the 92 x 15,
// 124 x 20 and 124 x 25 levels ran out of their 50 steps.  On the start
// level of a run (NewtonOptions::startLevel) whose first or second step
// from the free stream already met the limit (kTravelSteps), the rise is
// therefore kMachRiseStart for the rest of the level.  The limit then
// still ends at Mach 3 (kMachCap + kMachRiseStart), where the density law
// leaves the isentropic one; with a rise of 2, past it (and the wider norm
// bound from the first step), NACA 0012 at M 0.85 and 1 degree ran away on
// the 92 x 15 level.  Only the first steps decide: they meet the limit
// when the flow sought is supersonic far beyond the sonic line, whereas
// the later cuts of a transonic start (a shock that travels a few cells)
// also come with shocks the finer levels are sensitive to: with the wider
// limit on every start level that met it, the fine level of NACA 0012 at
// M 0.75 and -4 degrees on 256 x 41, whose Newton steps cycle on a kink for
// a while, ended in 50 steps instead of 41 (at 1e-9 the other way round).
constexpr double kMachFree = 1.55;
constexpr double kMachRise = 0.15;
constexpr double kMachRiseStart = 1.0;
constexpr int kTravelSteps = 2;
constexpr double kMachCap = 2.0;
constexpr int kMachHalvings = 6;

class MachLimit {
public:
    MachLimit();
    ~MachLimit();
    // The level begins: no shock is known to travel.
    void beginLevel() { travelling_ = false; }
    // The Mach number every face may reach after the correction, from the
    // potential before it (whose face Mach numbers are kept).
    //   NY, k, NX, mach, gamma, s2 [in]
    double allowed(const int& NY, const int& k, const int& NX, const double& mach,
                   const double& gamma, const double& s2);
    // Whether the potential as it stands keeps the limit: every face at
    // most at allowed or at its own Mach number before.
    //   NY, k, NX, mach, gamma, s2, allowed [in]
    bool kept(const int& NY, const int& k, const int& NX, const double& mach, const double& gamma,
              const double& s2, const double& allowed);
    // A shock travels on the start level: the wider rise for the rest of it.
    void setTravelling() { travelling_ = true; }
    bool travelling() const { return travelling_; }

private:
    bool travelling_ = false;
    Zeroed<GridArray> faceMach_;        // local Mach number of every i-face
    Zeroed<GridArray> faceMachBefore_;  // the same before the correction
};

}  // namespace quarel
