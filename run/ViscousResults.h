// What a viscous run reports besides the inviscid figures.
#pragma once

#include "boundary_layer.h"

namespace quarel {

struct ViscousResults {
    bool valid = false;
    bool converged = false;
    int iterations = 0;       // boundary-layer solves of the outer iteration
    double change = 0.0;      // last relative change of the mass defect
    double cdTotal = 0.0;     // Squire-Young at the end of the wake
    double cdFriction = 0.0;  // integrated wall shear
    double xtrUpper = 1.0, xtrLower = 1.0;
    // Extents in x/c of reversed wall shear on each surface.
    double separatedUpper = 0.0, separatedLower = 0.0;
    BoundaryLayerResult layer;
};

}  // namespace quarel
