// C-grid generation.
#pragma once

#include "contour.h"

namespace quarel {

// Options of the grid generation that the input file does not carry.
struct GridOptions {
    // Distance of the far boundary from the section, chords: the wake cut
    // ends this far behind the trailing edge, and the far circle of the
    // transformed plane has the radius sqrt(farBoundary), so the boundary
    // lies about this far from the section all round.  7 is the grid of
    // the input file; a larger distance with the same lines and growth
    // ratios spreads every line outward (add lines to keep the spacing).
    double farBoundary = 7.0;
    // Repair a grid that the construction folds (see GridGen); off, to look
    // at the grid of the construction itself.
    bool repairFolds = true;
    // Write the listing "grid.out" (WriteGridListing) at the end.
    bool listing = true;
};
constexpr double kMinFarBoundary = 7.0, kMaxFarBoundary = 1000.0;

// Builds the C-grid around the surface points in xg, yg(1..npa+1, 1).
//   NY [in]      last grid line
//   k [in]       trailing-edge index (intervals along each cut side)
//   npa [in]     surface intervals (even)
//   x0 [in]      singular point of the square-root transformation
//   DSGRID [in,out] user ratios at stations 1,4,6,7,8,10,13 in, the other
//                six computed
// Writes xg, yg for i = 0..NX, j = 1..NY (NX = npa + 2k) and, unless the
// options say not, the listing "grid.out" into the current directory.  A grid whose lines cross
// because the interpolation between the station columns overshoots is repaired by a monotone
// interpolation of the lines concerned (a console line says how many cells were folded); every
// other grid is left as constructed. Returns the number of fault reports of the interpolation, plus
// one when the grid is still folded (0 for a sound grid).
//   options [in] the distance of the far boundary, the repair
int GridGen(const int& NY, const int& k, const int& npa, const double& x0, GrowthRatios& DSGRID,
            const GridOptions& options);

// Writes the grid in xg, yg (i = 0..NX, lines 1..NY-1) as the listing
// "grid.out" into the current directory, replaced whole; a failure is a
// warning.
//   NX, NY [in]
void WriteGridListing(const int& NX, const int& NY);

// Counts the cells of the grid in xg, yg that are turned over or
// degenerate.  i runs clockwise round the section and j outward, so every
// sound cell has a negative cross product of its diagonals.
//   NX, NY [in]; firstI, firstJ [out] the first such cell (0 when none)
int FoldedCells(const int& NX, const int& NY, int& firstI, int& firstJ);

// Ratio r > 0 with 1 + r + ... + r^(n-1) = S (Newton, at most 50 steps).
double GrowthRatio(const double& S, const int& n);

// Far-boundary ordinate of the transformed plane: circle of radius R
// continued by the hyperbola |xi| eta = (R/sqrt 2)^2.
double OuterEta(const double& xi, const double& R);

}  // namespace quarel
