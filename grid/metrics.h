// Grid metrics and far-field angle factors.
#pragma once

namespace quarel {

// Face Jacobians and contravariant metrics of the grid in xg, yg.
//   NY, NX [in]; writes aji, g11i, g12i, g22i, ajj, g11j, g12j, g22j.
void GridMetric(const int& NY, const int& NX);

// Polar angle / 2 pi of the far-boundary and downstream nodes in the
// Prandtl-Glauert plane about the vortex centre (0, yg(0,1)), and the
// doublet factors about the same centre.
//   mach, NX, NY, cosSweep [in]; writes ffo, ff0, ffn, fdo, fd0, fdn, fto,
//   ft0, ftn.
void FarField(const double& mach, const int& NX, const int& NY, const double& cosSweep);

}  // namespace quarel
