// Checks made before a grid is built, so that the grid generator and the
// solver never write past their fixed-size arrays or divide by zero.
#include "validate.h"

#include <cmath>
#include <sstream>
#include <string>

#include "message.h"
#include "state.h"

namespace quarel {

namespace {

// The contour parametrisation of the surface-point preparation (same
// constants): kappa = cos^2(pi/130) and pi in single precision.
constexpr double kKappa = 0.9994161133836734;
constexpr double kPiPlus = 3.1906801275908947;  // pi + pi/64
constexpr double kPi64 = 0.04908738657832146;   // pi/64
constexpr double kTwoOverPi = 0.6366197466850281;
constexpr double kTwoPi = 6.2831854820251465;

[[noreturn]] void refuse(const std::string& text) {
    throw ParameterError(text);
}

std::string num(double v) {
    std::ostringstream s;
    s.precision(6);
    s << v;
    return s.str();
}

void checkContour(const ContourInput& XCONT, const ContourInput& YCONT, const int& NCONT) {
    const int n = NCONT;
    if (n < 3 || n > kMaxContour)
        refuse("The section contour has " + std::to_string(n) +
               " points; it needs at least 3 and at most " + std::to_string(kMaxContour) + ".");
    for (int m = 1; m <= n; ++m)
        if (!std::isfinite(XCONT(m)) || !std::isfinite(YCONT(m)))
            refuse("Contour point " + std::to_string(m) + " is not a finite number.");

    // Normalisation exactly as the surface-point preparation does it.
    int mLE = 1;
    for (int m = 2; m <= n; ++m)
        if (XCONT(m) < XCONT(mLE)) mLE = m;
    const double xLE = XCONT(mLE), yLE = YCONT(mLE);
    const double dx = 0.5 * (XCONT(1) + XCONT(n)) - xLE;
    const double dy = 0.5 * (YCONT(1) + YCONT(n)) - yLE;
    const double chord = std::sqrt(dx * dx + dy * dy);
    if (!(chord > 0.0) || !(dx > 0.0))
        refuse(
            "The section contour has no chord: the trailing edge (midway between the first "
            "and the last point) must lie downstream of the leading edge (the point of "
            "smallest x).");
    const double cosT = dx / chord, sinT = dy / chord;
    // A closed contour: the two trailing-edge points meet (an open, blunt
    // trailing edge has no place for the wake cut to leave from).
    const double gap = std::hypot(XCONT(1) - XCONT(n), YCONT(1) - YCONT(n));
    if (gap > kMaxTrailingGap * chord)
        refuse("The section contour is open at the trailing edge: its first and last points are " +
               num(gap / chord * 100.0) + " % of the chord apart (at most " +
               num(kMaxTrailingGap * 100.0) +
               " % is taken). Close the trailing edge, or open the section as a coordinate file, "
               "which closes it.");

    // Each interior point must have a normalised abscissa in [0, 1/kappa],
    // where the surface parameter is defined, and the parameter must
    // increase strictly along the contour, or the spline through the
    // ordinates has coinciding knots.
    double prevTheta = 0.0;
    for (int m = 2; m <= n; ++m) {
        double theta = kTwoPi;
        if (m < n) {
            const double px = XCONT(m) - xLE, py = YCONT(m) - yLE;
            const double xn = (px * cosT + py * sinT) / chord;
            if (!(xn >= 0.0 && xn <= 1.0 / kKappa))
                refuse("Contour point " + std::to_string(m) + " (x=" + num(XCONT(m)) +
                       ", y=" + num(YCONT(m)) + ") lies at " + num(xn) +
                       " chords from the leading edge along the chord; every point must lie "
                       "between 0 and " +
                       num(1.0 / kKappa) + " (leading edge to trailing edge).");
            const double kx = kKappa * xn;
            const double s = kTwoOverPi * std::atan(std::sqrt(kx / (1.0 - kx)));
            theta = m <= mLE ? (1.0 - s) * kPiPlus - kPi64 : (1.0 + s) * kPiPlus - kPi64;
        }
        if (!(theta > prevTheta))
            refuse("Contour points " + std::to_string(m - 1) + " and " + std::to_string(m) +
                   " do not advance along the surface: the contour must run from the trailing "
                   "edge over the upper surface to the leading edge and back over the lower "
                   "surface, with x falling and then rising and no repeated point.");
        prevTheta = theta;
    }
    // No two edges of the contour may cross (a figure eight, a folded
    // surface).  Neighbouring edges share a point and are skipped.
    auto cross = [](double ax, double ay, double bx, double by, double cx, double cy) {
        return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    };
    for (int a = 1; a < n; ++a) {
        for (int b = a + 2; b < n; ++b) {
            if (a == 1 && b == n - 1) continue;  // they meet at the trailing edge
            const double d1 =
                cross(XCONT(a), YCONT(a), XCONT(a + 1), YCONT(a + 1), XCONT(b), YCONT(b));
            const double d2 =
                cross(XCONT(a), YCONT(a), XCONT(a + 1), YCONT(a + 1), XCONT(b + 1), YCONT(b + 1));
            const double d3 =
                cross(XCONT(b), YCONT(b), XCONT(b + 1), YCONT(b + 1), XCONT(a), YCONT(a));
            const double d4 =
                cross(XCONT(b), YCONT(b), XCONT(b + 1), YCONT(b + 1), XCONT(a + 1), YCONT(a + 1));
            if (((d1 > 0.0 && d2 < 0.0) || (d1 < 0.0 && d2 > 0.0)) &&
                ((d3 > 0.0 && d4 < 0.0) || (d3 < 0.0 && d4 > 0.0)))
                refuse("The section contour crosses itself: the edge from point " +
                       std::to_string(a) + " to " + std::to_string(a + 1) +
                       " crosses the edge from point " + std::to_string(b) + " to " +
                       std::to_string(b + 1) + ".");
        }
    }
}

}  // namespace

void ValidateGrid(const int& NPA, const int& NCO, const int& NBH, const int& Kgrid,
                  const int& gmresDim, const ContourInput& XCONT, const ContourInput& YCONT,
                  const int& NCONT) {
    if (NPA <= 0)
        refuse("NPA=" + std::to_string(NPA) +
               ": the number of surface intervals must be positive.");
    if (NCO <= 0)
        refuse("NCO=" + std::to_string(NCO) + ": the number of cell layers must be positive.");
    if (NBH <= 0)
        refuse("NBH=" + std::to_string(NBH) +
               ": the number of vortex-sheet intervals must be positive.");
    if (Kgrid <= 0)
        refuse("Kgrid=" + std::to_string(Kgrid) + ": the refinement factor must be positive.");
    if ((Kgrid & (Kgrid - 1)) != 0)
        refuse("Kgrid=" + std::to_string(Kgrid) +
               ": the refinement factor must be a power of two (1, 2, 4, 8, ...) so that the "
               "grid halves exactly down to the finest level.");

    // Products in 64 bits: large panel values must not overflow.
    const long long npa = static_cast<long long>(Kgrid) * NPA;
    const long long NY = static_cast<long long>(Kgrid) * NCO + 1;
    const long long k = static_cast<long long>(Kgrid) * NBH;
    const long long NX = npa + 2 * k;
    const std::string fine = " on the fine grid (Kgrid=" + std::to_string(Kgrid) + ")";

    if (npa % 2 != 0)
        refuse("NPA=" + std::to_string(NPA) + ", Kgrid=" + std::to_string(Kgrid) +
               ": the fine grid has NPA x Kgrid = " + std::to_string(npa) +
               " surface intervals; this must be even, so that the leading edge is a grid "
               "node.");
    // The grid's station columns k+1 < (k + NX/2)/2 < NX/2 are distinct
    // only from npa = 8 on; with fewer intervals two stations coincide and
    // every grid line folds.
    if (npa < 8)
        refuse("NPA=" + std::to_string(NPA) + ": NPA x Kgrid = " + std::to_string(npa) +
               " surface intervals" + fine + " are too few; at least 8 are needed.");
    if (NY < 3)
        refuse("NCO=" + std::to_string(NCO) + ": NCO x Kgrid + 1 = " + std::to_string(NY) +
               " grid lines" + fine + " are too few; at least 3 are needed.");
    if (NY > kMaxNY)
        refuse("NCO=" + std::to_string(NCO) + ": NCO x Kgrid + 1 = " + std::to_string(NY) +
               " grid lines" + fine + " exceed the limit of " + std::to_string(kMaxNY) + ".");
    // The wake spacing is interpolated through the columns 0, 1, k-1, k,
    // which must be distinct and increasing: k >= 3.
    if (k < 3)
        refuse("NBH=" + std::to_string(NBH) + ": NBH x Kgrid = " + std::to_string(k) +
               " intervals along the vortex sheet" + fine + " are too few; at least 3 are needed.");
    if (NX > kMaxNXGrid)
        refuse("NPA=" + std::to_string(NPA) + ", NBH=" + std::to_string(NBH) +
               ": the fine grid has NX = (NPA + 2 x NBH) x Kgrid = " + std::to_string(NX) +
               " intervals along the C line; the limit is " + std::to_string(kMaxNXGrid) + ".");
    if (gmresDim < 1 || gmresDim > kMaxKrylov)
        refuse("GMRES dim.=" + std::to_string(gmresDim) +
               ": the Krylov dimension must lie between 1 and " + std::to_string(kMaxKrylov) + ".");

    checkContour(XCONT, YCONT, NCONT);
}

void ValidateGrowthRatios(const GrowthRatios& DSGRID) {
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    const char* names[7] = {"Upper surface: Vortex sheet=", "Upper surface: Trailingedge=",
                            "Upper surface: Mid-chord=",    "Leading edge=",
                            "Lower surface: Mid-chord=",    "Lower surface: Trailingedge=",
                            "Lower surface: Vortex sheet="};
    for (int m = 0; m < 7; ++m) {
        const double r = DSGRID(entries[m]);
        if (!(r >= 1.0 && r < kMaxGrowthRatio))
            refuse(std::string(names[m]) + num(r) +
                   ": a growth ratio of the normal grid spacing must lie in 1 <= r < " +
                   num(kMaxGrowthRatio) +
                   " (below 1 the cells would shrink away from the section).");
    }
}

void ValidateFlow(const double& mach, const double& alpha, const double& swept,
                  const double& diagDom, const double& maxResidual, const int& linearIterations) {
    if (!(mach >= 0.0 && mach < 1.0))
        refuse("Mach=" + num(mach) +
               ": the free-stream Mach number must lie in 0 <= M < 1 (the far field of the "
               "solution is subsonic).");
    if (!(std::fabs(alpha) <= kMaxAlpha))
        refuse("Alpha=" + num(alpha) + ": the angle of attack must lie between " + num(-kMaxAlpha) +
               " and " + num(kMaxAlpha) +
               " degrees; beyond that the flow separates and no potential flow describes it.");
    if (!(swept >= 0.0 && swept <= kMaxSweep))
        refuse("Swept=" + num(swept) + ": the sweep angle must lie between 0 and " +
               num(kMaxSweep) + " degrees.");
    const double normal = alpha / std::cos(swept * 3.14159265358979323846 / 180.0);
    if (!(std::fabs(normal) <= kMaxNormalAlpha))
        refuse("Alpha=" + num(alpha) + ", Swept=" + num(swept) +
               ": the angle of attack normal to the leading edge, alpha / cos(sweep) = " +
               num(normal) + " degrees, must lie between " + num(-kMaxNormalAlpha) + " and " +
               num(kMaxNormalAlpha) + ".");
    if (!(diagDom > -1.0) || !std::isfinite(diagDom))
        refuse("Diagonal dom.=" + num(diagDom) +
               ": the diagonal dominance must be greater than -1 (the preconditioner divides "
               "by 1 + it).");
    if (!(maxResidual > 0.0) || !std::isfinite(maxResidual))
        refuse("Max.residual=" + num(maxResidual) +
               ": the tolerance must be a positive number; with 0 or less no Newton step "
               "could end a level honestly.");
    if (linearIterations < 1)
        refuse("Linear itererations=" + std::to_string(linearIterations) +
               ": at least one GMRES cycle per Newton step is needed.");
}

}  // namespace quarel
