// The design transpiration update: the flux defect of a converged
// analysis is zero, the update of a symmetric flow is symmetric, and the
// three regimes give the trailing-edge, mirror and maximum-thickness
// relations they promise.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "FLUX1.h"
#include "RunControl.h"
#include "SRV11.h"
#include "message.h"
#include "quarel_job.h"
#include "state.h"

using namespace quarel;
using testjob::Job;
using testjob::ScratchDir;

namespace {

using testjob::Quiet;

// Analyses a small job; the arrays then hold its fine grid, metrics,
// densities and potential.
void analyse(RunControl& rc, const ScratchDir& dir, Job j) {
    j.NPA = 24;
    j.NCO = 8;
    j.NBH = 4;
    j.Kgrid = 2;
    j.maxResidual = 1e-11;
    rc.open(testjob::writeJob(dir.file("f.dat"), j));
    ASSERT_EQ(rc.calculate(), RunControl::CalcOutcome::Done);
}

double dx(int i) {
    return xg(i + 1, 1) - xg(i, 1);
}

// Ordinate change at the trailing edge that the slopes of a stretch give:
// the first surface integrated from its leading end down to k, the second
// from its leading end up to NX-k.
double upperTrailingEdgeShift(int k, int L) {
    double s = 0.0;
    for (int i = L; i >= k; --i) s -= FaceSlope(i, vdu(i)) * dx(i);
    return s;
}
double lowerShiftUpTo(int from, int to) {
    double s = 0.0;
    for (int i = from; i <= to; ++i) s += FaceSlope(i - 1, vdu(i)) * dx(i - 1);
    return s;
}

// A smooth change of the surface potential, the same at mirror nodes,
// that the wall condition does not hold for.
void disturbSurfacePotential(int k, int NX, double amount) {
    for (int i = k + 1; i <= NX - k - 1; ++i) {
        const double x = xg(i, 1);
        phi(i, 1) += amount * std::sin(3.0 * x) * x * (1.0 - x);
    }
}

}  // namespace

TEST(DesignTranspiration, ConvergedAnalysisHasNoDefect) {
    // A converged analysis satisfies the wall condition at every body node,
    // so the flux defect (with the shock-point share of a transonic flow)
    // and with it the transpiration stay zero to the tolerance.
    Quiet q;
    for (double mach : {0.0, 0.5, 0.75}) {
        ScratchDir dir;
        RunControl rc;
        Job j;
        j.mach = mach;
        j.alpha = 1.0;
        analyse(rc, dir, j);
        const GridLevel& l = rc.level();
        const FreeStream& f = rc.freeStream();
        DesignTranspiration(l.NX, l.k, l.NY, f.mach, f.gamma, f.sin2Sweep, 0, rc.design.iMaxThick,
                            l.iMid - 1);
        double vmax = 0.0, amax = 0.0;
        for (int i = l.k; i <= l.NX - l.k; ++i) {
            if (i == l.iMid) continue;
            vmax = std::max(vmax, std::fabs(vfx(i)));
            amax = std::max(amax, std::fabs(vdu(i)));
        }
        EXPECT_LT(amax, 1e-7) << "M = " << mach;
        EXPECT_LT(vmax, 1e-5) << "M = " << mach;
    }
}

TEST(DesignTranspiration, MirrorImageFlowGivesMirrorImageUpdate) {
    // A symmetric section at zero incidence: nodes i and NX-i are mirror
    // images, and so are transpiration slots i and NX-i.  A symmetric
    // disturbance must give the same transpiration on both sides and
    // opposite transpiration angles (the flow runs the other way round).
    Quiet q;
    ScratchDir dir;
    RunControl rc;
    Job j;
    j.mach = 0.5;
    j.alpha = 0.0;
    analyse(rc, dir, j);
    const GridLevel& l = rc.level();
    const FreeStream& f = rc.freeStream();
    // The grid is symmetric to the accuracy of its generation (the wake
    // line lies on the axis to about 1e-7).
    for (int jj = 1; jj <= l.NY; ++jj)
        for (int i = 0; i <= l.NX; ++i) {
            ASSERT_NEAR(xg(i, jj), xg(l.NX - i, jj), 1e-6);
            ASSERT_NEAR(yg(i, jj), -yg(l.NX - i, jj), 1e-6);
        }
    disturbSurfacePotential(l.k, l.NX, 0.01);
    for (int i = l.k; i <= l.iMid - 1; ++i) {
        vfx(i) = 0.5 * std::sin(5.0 * xg(i, 1));
        vfx(l.NX - i) = vfx(i);
    }
    for (int call = 0; call < 3; ++call)
        DesignTranspiration(l.NX, l.k, l.NY, f.mach, f.gamma, f.sin2Sweep, 0, rc.design.iMaxThick,
                            l.iMid - 1);
    double vmax = 0.0, amax = 0.0;
    for (int i = l.k; i <= l.iMid - 1; ++i) {
        vmax = std::max(vmax, std::fabs(vfx(i)));
        amax = std::max(amax, std::fabs(vdu(i)));
    }
    ASSERT_GT(amax, 1e-3);
    for (int i = l.k; i <= l.iMid - 1; ++i) {
        EXPECT_NEAR(vfx(l.NX - i), vfx(i), 1e-4 * vmax) << "slot " << i;
        EXPECT_NEAR(vdu(l.NX - i), -vdu(i), 1e-4 * amax) << "slot " << i;
    }
}

TEST(DesignTranspiration, RegimesKeepTheirPromises) {
    Quiet q;
    ScratchDir dir;
    RunControl rc;
    Job j;
    j.mach = 0.5;
    j.alpha = 1.0;
    analyse(rc, dir, j);
    const GridLevel& l = rc.level();
    const FreeStream& f = rc.freeStream();
    const int NX = l.NX, k = l.k, mid = l.iMid, iT = rc.design.iMaxThick;
    const std::vector<double> phi1(&phi(0, 1), &phi(0, 1) + kGridStride);
    auto start = [&]() {
        for (int i = 0; i <= NX; ++i) {
            phi(i, 1) = phi1[static_cast<size_t>(i)];
            vfx(i) = 0.0;
            vdu(i) = 0.0;
        }
        disturbSurfacePotential(k, NX, 0.01);
    };
    auto update = [&](int mode, int L) {
        DesignTranspiration(NX, k, l.NY, f.mach, f.gamma, f.sin2Sweep, mode, iT, L);
    };

    // Mode 0 over the whole section: both trailing-edge nodes move by the
    // same amount, so a closed trailing edge stays closed.  The same holds
    // for stretches that end short of the leading edge.
    for (int L : {mid - 1, mid - 4}) {
        start();
        update(0, L);
        const double upper = upperTrailingEdgeShift(k, L);
        const double lower = lowerShiftUpTo(NX - L, NX - k);
        ASSERT_GT(std::fabs(upper), 1e-5);
        EXPECT_NEAR(upper, lower, 1e-12) << "L = " << L;
        for (int i = L + 1; i <= mid - 1; ++i) EXPECT_EQ(vdu(i), 0.0);
        for (int i = mid + 1; i <= NX - L - 1; ++i) EXPECT_EQ(vdu(i), 0.0);
    }

    // Mode 1: every face of the second surface takes the slope of its
    // mirror face: both surfaces move by the same ordinate at every x.
    start();
    update(1, mid - 1);
    for (int i = mid + 1; i <= NX - k; ++i)
        EXPECT_NEAR(FaceSlope(i - 1, vdu(i)), FaceSlope(NX - i, vdu(NX - i)), 1e-12) << i;
    EXPECT_NEAR(lowerShiftUpTo(mid + 1, NX - k), upperTrailingEdgeShift(k, mid - 1), 1e-9);

    // Mode 2: the second surface moves with the first at the maximum
    // thickness and at the trailing edge, so both the maximum thickness and
    // the trailing-edge gap stay as they were.
    const int L = mid - 3;
    ASSERT_GT(iT, k);
    ASSERT_LT(iT, L);
    start();
    update(2, L);
    double atT = 0.0;
    for (int i = mid - 1; i >= iT; --i) atT -= FaceSlope(i, vdu(i)) * dx(i);
    const double te = upperTrailingEdgeShift(k, mid - 1);
    ASSERT_GT(std::fabs(te), 1e-5);
    EXPECT_NEAR(lowerShiftUpTo(NX - L, NX - iT), atT, 1e-12);
    EXPECT_NEAR(lowerShiftUpTo(NX - L, NX - k), te, 1e-12);
}

TEST(DesignTranspiration, EmptyStretchChangesNothingAndAnglesInvert) {
    Quiet q;
    ScratchDir dir;
    RunControl rc;
    Job j;
    j.mach = 0.5;
    j.alpha = 1.0;
    analyse(rc, dir, j);
    const GridLevel& l = rc.level();
    const FreeStream& f = rc.freeStream();
    // L < k: no slot of the first surface is touched.
    disturbSurfacePotential(l.k, l.NX, 0.01);
    for (int i = 0; i <= l.NX; ++i) {
        vfx(i) = 0.25;
        vdu(i) = 0.0;
    }
    DesignTranspiration(l.NX, l.k, l.NY, f.mach, f.gamma, f.sin2Sweep, 1, rc.design.iMaxThick,
                        l.k - 1);
    for (int i = l.k; i <= l.iMid - 1; ++i) {
        EXPECT_EQ(vdu(i), 0.0);
        EXPECT_EQ(vfx(i), 0.25);
    }
    // The slope of a face and the transpiration angle are inverse.
    for (int i = l.k; i <= l.iMid - 1; i += 3)
        for (double a : {-0.05, 0.0, 0.02}) EXPECT_NEAR(FaceAngle(i, FaceSlope(i, a)), a, 1e-14);
}
