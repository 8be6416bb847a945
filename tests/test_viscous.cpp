// The integral boundary layer on its own: closures against the exact
// Falkner-Skan profiles, the flat plate against Blasius and a turbulent
// friction law, and the e^N transition point.
#include <gtest/gtest.h>

#include <cmath>

#include "boundary_layer.h"
#include "closures.h"

namespace quarel {
namespace {

// Exact similarity solutions: Blasius (m = 0) and Hiemenz (m = 1),
// H, H*, Cf Ret/2 and 2 CD Ret/H* from the tabulated profiles.
TEST(ViscousClosures, FalknerSkanProfiles) {
    const double blasiusH = 2.5916;
    EXPECT_NEAR(LaminarHstar(blasiusH), 1.5727, 0.002);
    EXPECT_NEAR(LaminarSkinFriction(blasiusH), 0.2205, 0.002);
    EXPECT_NEAR(LaminarDissipation(blasiusH), 0.2205, 0.002);
    const double hiemenzH = 2.2162;
    EXPECT_NEAR(LaminarHstar(hiemenzH), 1.6257, 0.005);
    EXPECT_NEAR(LaminarSkinFriction(hiemenzH), 0.3603, 0.012);
    // Turbulent flat plate near Ret 1e4 (Coles): H about 1.33, Cf 0.0026.
    EXPECT_NEAR(TurbulentSkinFriction(1.33, 1.0e4, 0.0), 0.0026, 0.0001);
    // Whitfield's shape factor round trip, and the critical Ret of the
    // Blasius profile (neutral point near Re_x 1e5).
    EXPECT_NEAR(KinematicShape(ShapeFromKinematic(1.4, 0.5), 0.5), 1.4, 1e-12);
    EXPECT_GT(CriticalReTheta(blasiusH), 150.0);
    EXPECT_LT(CriticalReTheta(blasiusH), 300.0);
}

EdgeStations FlatPlate(double x0, double x1, int n) {
    EdgeStations e;
    for (int i = 0; i < n; ++i) {
        const double x = x0 * std::pow(x1 / x0, double(i) / (n - 1));
        e.s.push_back(x);
        e.x.push_back(x);
        e.y.push_back(0.0);
        e.ue.push_back(1.0);
    }
    return e;
}

TEST(ViscousFlatPlate, LaminarIsBlasius) {
    ViscousOptions o;
    o.reynolds = 1.0e6;
    o.ncrit = 1e9;
    const SurfaceLayer l = SolveSurface(FlatPlate(1e-3, 1.0, 120), 0.0, 2.0, o);
    ASSERT_FALSE(l.failed);
    for (const Station& st : l.st) {
        const double rex = o.reynolds * st.x;
        EXPECT_NEAR(st.theta / (0.664 * st.x / std::sqrt(rex)), 1.0, 0.02) << st.x;
        EXPECT_NEAR(st.cf / (0.664 / std::sqrt(rex)), 1.0, 0.02) << st.x;
    }
    // Friction drag of one side from x0 on: 1.328 (1 - sqrt(x0)) / sqrt(Re).
    EXPECT_NEAR(l.cdf / (1.328 * (1.0 - std::sqrt(1e-3)) / std::sqrt(o.reynolds)), 1.0, 0.02);
}

TEST(ViscousFlatPlate, TurbulentFrictionLaw) {
    ViscousOptions o;
    o.reynolds = 1.0e8;
    // Transition forced at Re_x 1e5.  Compared at the same Re_theta, which
    // does not depend on where the turbulent layer effectively started: the
    // Karman-Schoenherr law in White's Re_theta form,
    // 1/Cf = 17.08 lg^2 Re_theta + 25.11 lg Re_theta + 6.012.  The closures
    // give 1.5 % less at Re_theta 2e3, 2.3 % more at 8e4.  (Against White's
    // Re_x law they are 5 % low at Re_x 1e6: the tripped layer's origin.)
    const SurfaceLayer l = SolveSurface(FlatPlate(1e-5, 1.0, 300), 0.0, 1e-3, o);
    ASSERT_FALSE(l.failed);
    for (const Station& st : l.st) {
        if (o.reynolds * st.x < 1e6) continue;
        const double lg = std::log10(o.reynolds * st.theta);
        EXPECT_NEAR(st.cf * (17.08 * lg * lg + 25.11 * lg + 6.012), 1.0, 0.03) << st.x;
    }
    // Compressible: less friction at M 0.8 (at the adiabatic wall).
    const SurfaceLayer m = SolveSurface(FlatPlate(1e-5, 1.0, 300), 0.8, 1e-3, o);
    EXPECT_LT(m.st.back().cf, l.st.back().cf);
}

TEST(ViscousFlatPlate, TransitionMovesUpstreamAsNFalls) {
    ViscousOptions o;
    o.reynolds = 1.0e7;
    double last = 2.0;
    for (double n : {11.0, 9.0, 6.0, 3.0}) {
        o.ncrit = n;
        const SurfaceLayer l = SolveSurface(FlatPlate(1e-4, 1.0, 200), 0.0, 2.0, o);
        ASSERT_FALSE(l.failed);
        EXPECT_LT(l.xtr, last) << n;
        EXPECT_FALSE(l.forced);
        last = l.xtr;
    }
}

}  // namespace
}  // namespace quarel
