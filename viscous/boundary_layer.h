// Integral boundary layer on both surfaces of a section and along its wake,
// marched station by station from the stagnation point for a given edge
// velocity.  Each station is solved by Newton's method on the momentum,
// kinetic-energy shape and third (amplification or shear-lag) equations in
// logarithmic form between it and the station before; where the direct
// solution would exceed the separation shape factor the station is solved
// inversely with the shape factor prescribed and the edge velocity an
// unknown.  Laminar until the e^N envelope reaches N (or the forced
// transition point), turbulent after; the wake starts from both surfaces'
// thicknesses summed at the trailing edge and has no wall shear.
#pragma once

#include <vector>

#include "viscous_options.h"

namespace quarel {

// Stations along one surface, from the one nearest the stagnation point to
// the trailing edge (or along the wake from the trailing edge on).  s is the
// arc length from the stagnation point (for the wake: from the trailing
// edge), x and y the position in chords, ue the edge speed over the
// free-stream speed.
// With K and massOld given (one per station), the edge speed follows the
// interaction law ue = ue_given + K (m - massOld) with the layer's mass
// defect m = rho_e ue delta* (quasi-simultaneous coupling): K is the local
// response of the outer flow's speed to the mass defect of the station.
struct EdgeStations {
    std::vector<double> s, x, y, ue;
    std::vector<double> K, massOld;
};

struct BoundaryLayerInput {
    EdgeStations upper, lower, wake;
    double mach = 0.0;
    double alpha = 0.0;  // radians: the drag direction (cos, sin)
};

struct Station {
    double x = 0, y = 0, s = 0;
    double ue = 0;          // edge speed the layer was solved with
    double ueInviscid = 0;  // edge speed given
    double dstar = 0, theta = 0, H = 0, Hk = 0, cf = 0;
    double ampl = 0;  // N while laminar, C_tau (max shear over rho ue^2) when turbulent
    double rhoe = 1;  // edge density over the free-stream one
    bool turbulent = false, inverse = false, wake = false;
};

struct SurfaceLayer {
    std::vector<Station> st;
    double xtr = 1.0;     // transition x/c (1 when laminar to the end)
    bool forced = false;  // transition forced rather than free
    double cdf = 0.0;     // friction drag of this surface
    int separated = 0;    // stations with reversed wall shear
    int inverse = 0;      // stations solved with prescribed shape factor
    bool failed = false;  // a station whose Newton iteration did not converge
};

struct BoundaryLayerResult {
    SurfaceLayer upper, lower, wake;
    double cd = 0.0;    // Squire-Young at the end of the wake (or the trailing edge)
    double cdTE = 0.0;  // Squire-Young applied at the trailing edge
    double cdf = 0.0;
    bool failed() const { return upper.failed || lower.failed || wake.failed; }
};

// Edge state from the edge speed ratio (isentropic from the free stream).
struct EdgeState {
    double M2, rho, mu;
};
EdgeState EdgeFlow(double ue, double mach, const ViscousOptions& options);

BoundaryLayerResult SolveBoundaryLayer(const BoundaryLayerInput& input,
                                       const ViscousOptions& options);

// One surface alone (a flat plate, a test), from a similarity start at its
// first station.
SurfaceLayer SolveSurface(const EdgeStations& edge, double mach, double xtr,
                          const ViscousOptions& options);

}  // namespace quarel
