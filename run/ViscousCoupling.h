// The boundary layer coupled to the potential flow by wall transpiration:
// the edge speed of the layer is the tangential speed of the potential on
// the body line and along the wake cut, and the layer's mass defect
// m = rho_e u_e delta* leaves the wall as the normal flux dm/ds of each
// body face (the transpiration slot of the wall condition).  The outer
// iteration under-relaxes the mass defect between boundary-layer solves.
#pragma once

#include <string>
#include <vector>

#include "GridLevel.h"
#include "ViscousResults.h"
#include "boundary_layer.h"
#include "viscous_options.h"

namespace quarel {

struct FreeStream;

class ViscousCoupling {
public:
    ViscousCoupling(const GridLevel& level, const FreeStream& flow, const ViscousOptions& options);

    // Solves the boundary layer on the current potential and sets the
    // transpiration of the body faces and the source of the wake-cut rows
    // from the relaxed mass defect.  Returns the root-mean-square change of
    // the mass defect the layer asked for, relative to its root mean
    // square.  Throws SolverError when the edge speed has no stagnation
    // point on the body.
    double update();

    // Takes back half of the last update's change (for an outer flow that
    // did not converge with it); false once less than a sixteenth of it
    // was left.
    bool retreat();
    // Back to the mass defect before the last update.
    void revert() { apply(0.0); }

    // Halves the relaxation of the mass defect (down to a quarter): for an
    // iteration that alternates between two states, a shock between two
    // faces.
    void damp();
    // Doubles it again (up to the option's value): for an iteration that
    // has not alternated or stalled for a while.
    void undamp();
    // The next update passes on this multiple of its share (the share at
    // most 4): one step extrapolated to the limit of a steadily converging
    // iteration.
    void accelerate(double factor);

    const BoundaryLayerResult& layer() const { return layer_; }
    // Share of the last update's change passed to the outer flow.
    double share() const { return share_; }
    ViscousResults results() const;

private:
    BoundaryLayerInput edgeFromPotential();
    // Mass defect = the one before the last update plus share times the
    // change that update asked for; transpiration and wake source from it.
    void apply(double share);

    GridLevel level_;
    double mach_, alpha_;
    ViscousOptions options_;
    int stagnation_ = 0;        // last body node of the upper surface's stations
    std::vector<double> mass_;  // relaxed mass defect per body node
    std::vector<double> massBefore_, massTarget_;
    std::vector<double> wake_, wakeBefore_, wakeTarget_;  // per wake node 0 .. k
    double share_ = 1.0;
    double boost_ = 1.0;
    BoundaryLayerInput edge_;
    bool first_ = true;
    double relaxation_;
    std::vector<double> history_;  // change of every update
    BoundaryLayerResult layer_;
};

// The boundary-layer file of a viscous run: one line per station of the
// upper surface, the lower surface and the wake (from the stagnation point
// and the trailing edge on).
std::string BoundaryLayerText(const ViscousResults& results);

}  // namespace quarel
