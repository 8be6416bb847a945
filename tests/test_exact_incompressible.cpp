// Incompressible flow past a cambered Karman-Trefftz section, whose
// potential flow is known in closed form through the conformal map of a
// circle: the computed lift, surface Cp and pitching moment must converge
// to the exact values as the grid is refined, at the rate of a
// second-order scheme, and the pressure drag must vanish (d'Alembert).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RunControl.h"
#include "fixedformat.h"
#include "message.h"
#include "operator.h"
#include "quarel_job.h"
#include "state.h"

namespace {

namespace fs = std::filesystem;
using cplx = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;

// Karman-Trefftz section: the circle through zeta = 1 with centre mu,
// mapped by z = n ((1 + r^n) / (1 - r^n)), r = (zeta - 1)/(zeta + 1),
// n = 2 - tau/pi for a trailing-edge angle tau.  Im mu > 0 gives camber.
struct KarmanTrefftz {
    cplx mu{-0.12, 0.05};
    double n = 2.0 - 15.0 / 180.0;  // 15 degree trailing edge
    double a() const { return std::abs(1.0 - mu); }
    double thetaTE() const { return std::arg(1.0 - mu); }

    cplx zeta(double theta) const { return mu + a() * std::exp(cplx(0.0, theta)); }
    cplx map(cplx zt) const {
        cplx rn = std::exp(n * std::log((zt - 1.0) / (zt + 1.0)));
        return n * (1.0 + rn) / (1.0 - rn);
    }
    cplx dmap(cplx zt) const {
        cplx r = (zt - 1.0) / (zt + 1.0);
        cplx rn = std::exp(n * std::log(r));
        return 4.0 * n * n * rn / r / ((1.0 - rn) * (1.0 - rn) * (zt + 1.0) * (zt + 1.0));
    }
    // Circulation (clockwise) that puts the rear stagnation point on the
    // trailing edge, for a unit free stream at angle alpha (radians).
    double circulation(double alpha) const { return 4.0 * kPi * a() * std::sin(alpha - thetaTE()); }
    // Speed squared on the surface.
    double speed2(double theta, double alpha) const {
        cplx zt = zeta(theta);
        cplx dw = std::exp(cplx(0.0, -alpha)) -
                  a() * a() * std::exp(cplx(0.0, alpha)) / ((zt - mu) * (zt - mu)) +
                  cplx(0.0, circulation(alpha) / (2.0 * kPi)) / (zt - mu);
        return std::norm(dw / dmap(zt));
    }
};

// The section as the program sees it: leading edge (the contour point of
// smallest abscissa) at the origin, trailing edge at (1, 0).
struct Section {
    std::vector<cplx> z;  // normalised contour, trailing edge - upper - leading edge - lower
    cplx zLE;
    double chord = 1.0, angle = 0.0;
    cplx normalise(cplx p) const { return (p - zLE) * std::exp(cplx(0.0, -angle)) / chord; }
};

Section section(const KarmanTrefftz& kt, int points) {
    std::vector<cplx> z;
    for (int q = 0; q < points; ++q) {
        double th = kt.thetaTE() + 2.0 * kPi * q / (points - 1);
        z.push_back(q == 0 || q == points - 1 ? kt.map(kt.zeta(kt.thetaTE() + 1e-9))
                                              : kt.map(kt.zeta(th)));
    }
    z.back() = z.front();
    size_t le = 0;
    for (size_t m = 1; m < z.size(); ++m)
        if (z[m].real() < z[le].real()) le = m;
    Section s;
    s.zLE = z[le];
    cplx d = 0.5 * (z.front() + z.back()) - z[le];
    s.chord = std::abs(d);
    s.angle = std::arg(d);
    for (const cplx& p : z) s.z.push_back(s.normalise(p));
    return s;
}

void writeInput(const std::string& path, const Section& s, int npa, int nco, int nbh, int kgrid,
                double ratio) {
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    using quarel::ff::format;
    std::fprintf(f, "Karman-Trefftz section\n  Mach     Alpha     Swept\n");
    std::fprintf(f, "%s\n", format("(3f10.5)", {0.0, 0.0, 0.0}).c_str());
    std::fprintf(f, "  Diag      Res       Xdes\n%s\n",
                 format("(f10.5,e10.3,f10.5)", {0.2, 1.0e-11, 0.1}).c_str());
    std::fprintf(
        f, "  NPA       NCO       NBH       Kgrid\n%s\n",
        format("(4f10.1)", {double(npa), double(nco), double(nbh), double(kgrid)}).c_str());
    std::fprintf(f, "  Lin       Dim       Lift      Regime\n%s\n",
                 format("(4f10.1)", {40.0, 25.0, 0.0, 0.0}).c_str());
    std::fprintf(f, "  Layout    Points\n%s\n  x         y\n",
                 format("(2f10.1)", {0.0, double(s.z.size())}).c_str());
    for (const cplx& p : s.z)
        std::fprintf(f, "%s\n", format("(2f10.6)", {p.real(), p.imag()}).c_str());
    std::fprintf(f, "  Ratios\n%s\n",
                 format("(7f5.3)", {ratio, ratio, ratio, ratio, ratio, ratio, ratio}).c_str());
    std::fclose(f);
}

// Exact surface Cp of the normalised section, densely sampled.
struct ExactSurface {
    std::vector<cplx> z;
    std::vector<double> cp;
    size_t le = 0;
    double lift = 0.0, moment = 0.0;  // moment about the quarter chord, nose up

    ExactSurface(const KarmanTrefftz& kt, const Section& s, double alphaZ, double alpha) {
        const int dense = 40000;
        for (int q = 0; q <= dense; ++q) {
            double th = kt.thetaTE() + 2.0 * kPi * (q + 0.5) / (dense + 1);
            z.push_back(s.normalise(kt.map(kt.zeta(th))));
            cp.push_back(1.0 - kt.speed2(th, alphaZ));
            if (z.back().real() < z[le].real()) le = z.size() - 1;
        }
        double sx = 0.0, sy = 0.0, sm = 0.0;
        for (size_t q = 0; q + 1 < z.size(); ++q) {
            double c = 0.5 * (cp[q] + cp[q + 1]);
            cplx m = 0.5 * (z[q] + z[q + 1]), d = z[q + 1] - z[q];
            sx += c * d.real();
            sy += c * d.imag();
            sm += c * ((m.real() - 0.25) * d.real() + m.imag() * d.imag());
        }
        lift = std::cos(alpha) * sx + std::sin(alpha) * sy;
        moment = -sm;
    }
    double cpAt(double x, bool upper) const {
        size_t from = upper ? 0 : le, to = upper ? le : z.size() - 1;
        for (size_t q = from; q < to; ++q) {
            double xa = z[q].real(), xb = z[q + 1].real();
            if ((x - xa) * (x - xb) <= 0.0 && xa != xb)
                return cp[q] + (x - xa) / (xb - xa) * (cp[q + 1] - cp[q]);
        }
        return std::nan("");
    }
};

struct Result {
    double lift, liftExact;  // computed and exact lift
    double cpRms;            // rms Cp error over the faces with 0.02 < x < 0.98
    double moment, momentExact;
    double pressureDrag;
    double liftError() const { return lift / liftExact - 1.0; }
};

Result solve(int npa, int nco, int nbh, int kgrid, double ratio, double alphaDeg) {
    KarmanTrefftz kt;
    Section s = section(kt, 359);

    fs::path dir = fs::path(quarel::testjob::scratchPath("quarel-kt"));
    fs::create_directories(dir);
    fs::current_path(dir);
    std::string path = (dir / ("kt" + std::to_string(npa) + ".dat")).string();
    writeInput(path, s, npa, nco, nbh, kgrid, ratio);

    quarel::RunControl rc;
    rc.open(path);
    rc.job.alpha = alphaDeg;
    rc.job.mach = 0.0;
    rc.calculate();

    // The free stream makes alpha with the normalised chord.
    const double alpha = alphaDeg * kPi / 180.0;
    ExactSurface ex(kt, s, alpha + s.angle, alpha);

    double sum = 0.0;
    int count = 0;
    for (int i = rc.level().k; i < rc.level().NX - rc.level().k; ++i) {
        double x = 0.5 * (quarel::xg(i, 1) + quarel::xg(i + 1, 1));
        if (x < 0.02 || x > 0.98) continue;
        double e = quarel::cpf(i) - ex.cpAt(x, i < rc.level().NX / 2);
        sum += e * e;
        ++count;
    }
    // The pressure-integrated lift agrees with the circulation of the map.
    EXPECT_NEAR(ex.lift, 2.0 * kt.circulation(alpha + s.angle) / s.chord, 1e-6);
    return {rc.results.clift,   ex.lift,   std::sqrt(sum / count),
            rc.results.cmoment, ex.moment, rc.results.cdragPressure};
}

TEST(ExactIncompressible, CamberedKarmanTrefftzConvergesToTheExactSolution) {
    quarel::msg::setQuiet(true);
    fs::path cwd = fs::current_path();
    // Nested grids 120 x 21 and 240 x 41 (the finer grid halves every cell,
    // so its normal growth ratio is the square root of the coarser one's)
    // at 0 degrees, where all the lift (0.31) comes from the camber, and at
    // 8 degrees (lift 1.31).
    std::vector<Result> r;
    for (double alpha : {0.0, 8.0}) {
        r.push_back(solve(80, 20, 20, 1, 1.15, alpha));
        r.push_back(solve(160, 40, 40, 1, 1.072, alpha));
    }
    fs::current_path(cwd);
    for (const Result& e : r)
        std::printf(
            "lift %.6f (exact %.6f, error %+.3f %%), rms Cp error %.2e, Cm %.5f (exact "
            "%.5f), pressure drag %.1e\n",
            e.lift, e.liftExact, 100.0 * e.liftError(), e.cpRms, e.moment, e.momentExact,
            e.pressureDrag);
    for (int a = 0; a < 2; ++a) {
        const Result& coarse = r[2 * a];
        const Result& fine = r[2 * a + 1];
        // The lift converges to the exact value.  Without the corner flow at
        // the trailing edge (the faces that end at the 15-degree edge come
        // out several per cent low whatever the mesh width) the lift carries
        // a bias that does not fall with the mesh width: at 0 degrees it
        // crosses zero near 240 x 41 and ends 0.5 per cent high (-1.43 and
        // -0.24 per cent here), at 8 degrees the errors fall by only three
        // per halving (-1.20 and -0.39 per cent).  With it and the far
        // field's thickness doublet: +0.13 and +0.03 per cent at 0 degrees,
        // -0.33 and -0.07 at 8 degrees.
        if (a == 0) {
            EXPECT_LT(std::fabs(coarse.liftError()), 1.5e-3);
            EXPECT_LT(std::fabs(fine.liftError()), 0.6e-3);
        } else {
            EXPECT_LT(coarse.liftError(), -0.002);
            EXPECT_LT(std::fabs(fine.liftError()), 1.0e-3);
            EXPECT_GT(coarse.liftError() / fine.liftError(), 3.0);
        }
        // The surface pressures converge; the coarse level carries most of
        // the error at the leading edge, so the ratio exceeds two.  Without
        // the thickness doublet in the far field the flow round the whole
        // section is some 1e-3 in Cp too slow (3.8e-3 and 4.3e-3 rms on the
        // finer grid instead of 3.2e-3 and 3.6e-3).
        EXPECT_GT(coarse.cpRms / fine.cpRms, 1.9) << a;
        EXPECT_LT(fine.cpRms, a == 0 ? 3.5e-3 : 4.0e-3) << a;
        // Moment about the quarter chord (nose-down from the camber),
        // converging at second order (at 8 degrees 1.9e-3 and 4.8e-4 off),
        // and d'Alembert's zero drag.
        EXPECT_LT(fine.momentExact, -0.07) << a;
        EXPECT_LT(std::fabs(fine.moment - fine.momentExact),
                  0.3 * std::fabs(coarse.moment - coarse.momentExact) + 5.0e-5)
            << a;
        EXPECT_NEAR(fine.moment, fine.momentExact, a == 0 ? 2.0e-4 : 6.0e-4) << a;
        EXPECT_GT(std::fabs(coarse.pressureDrag) / std::fabs(fine.pressureDrag), 3.0) << a;
        EXPECT_LT(std::fabs(fine.pressureDrag), 3.0e-3) << a;
    }
}

// The exact potential of the section's flow on the nodes of the current
// grid (i = 0..NX, j = 1..NY), with the program's conventions: unit
// free stream at alpha to the chord, the jump across the wake cut equal to
// the circulation (lower minus upper side).  The angle term is followed
// continuously along each grid line from the cut's downstream end.
struct ExactPotential {
    KarmanTrefftz kt;
    Section s = section(kt, 359);
    double alphaZ = 0.0;  // free-stream angle in the map's own plane
    // zeta - mu of a point of the normalised plane: of the roots of the
    // Karman-Trefftz map the one outside the circle.
    cplx circlePoint(double x, double y) const {
        const cplx z = s.zLE + s.chord * std::exp(cplx(0.0, s.angle)) * cplx(x, y);
        const cplx w = (z - kt.n) / (z + kt.n);
        double best = -1.0;
        cplx pick;
        for (int m = -2; m <= 2; ++m) {
            const cplx lr = (std::log(w) + cplx(0.0, 2.0 * kPi * m)) / kt.n;
            if (std::fabs(lr.imag()) > kPi) continue;
            const cplx r = std::exp(lr);
            const cplx zt = (1.0 + r) / (1.0 - r) - kt.mu;
            if (std::abs(zt) > best) {
                best = std::abs(zt);
                pick = zt;
            }
        }
        return pick;
    }
    // Circulation in the program's convention.
    double circulation() const { return -kt.circulation(alphaZ) / s.chord; }
    void fill(int NX, int NY) const {
        using quarel::xg;
        using quarel::yg;
        const double a2 = kt.a() * kt.a(), circ = circulation();
        auto value = [&](cplx zt, double angle) {
            const cplx W =
                std::exp(cplx(0.0, -alphaZ)) * zt + a2 * std::exp(cplx(0.0, alphaZ)) / zt;
            return W.real() / s.chord + circ * angle / (2.0 * kPi);
        };
        auto follow = [](double previous, double angle) {
            return previous + std::remainder(angle - previous, 2.0 * kPi);
        };
        double column = 0.0;
        for (int j = 1; j <= NY; ++j) {
            cplx zt = circlePoint(xg(0, j), yg(0, j));
            column = j == 1 ? std::arg(zt) : follow(column, std::arg(zt));
            double angle = column;
            quarel::phi(0, j) = value(zt, angle);
            for (int i = 1; i <= NX; ++i) {
                zt = circlePoint(xg(i, j), yg(i, j));
                angle = follow(angle, std::arg(zt));
                quarel::phi(i, j) = value(zt, angle);
            }
        }
    }
};

// The rows of the two trailing-edge nodes are consistent: on the exact
// flow their residual (the truncation error of the half cells' flux
// balance) falls faster than the mesh width.  Those two rows decide the
// circulation, whose sensitivity to them grows as the mesh width falls, so
// an error that falls only like h there (as it does without the corner
// flow: the faces that end at a 15-degree edge come out several per cent
// low whatever the mesh width, and the residuals fall by 2.1 and 2.4 per
// halving) leaves a lift error that does not fall with the mesh width.
TEST(ExactIncompressible, TrailingEdgeRowsAreConsistentOnTheExactFlow) {
    quarel::msg::setQuiet(true);
    fs::path cwd = fs::current_path();
    fs::path dir = fs::path(quarel::testjob::scratchPath("quarel-kt"));
    fs::create_directories(dir);
    fs::current_path(dir);
    ExactPotential exact;
    const double alpha = 4.0;
    exact.alphaZ = alpha * kPi / 180.0 + exact.s.angle;
    struct Grid {
        int npa, nco, nbh;
        double ratio;
    };
    double upper[3], lower[3], interior[3];
    const Grid grids[] = {{80, 20, 20, 1.15}, {160, 40, 40, std::sqrt(1.15)}};
    for (int g = 0; g < 2; ++g) {
        const std::string path = (dir / ("kt-edge" + std::to_string(g) + ".dat")).string();
        writeInput(path, exact.s, grids[g].npa, grids[g].nco, grids[g].nbh, 1, grids[g].ratio);
        quarel::RunControl rc;
        rc.open(path);
        rc.job.alpha = alpha;
        rc.job.mach = 0.0;
        rc.job.maxResidual = 1.0e-6;  // the level's metrics are what counts
        rc.calculate();
        const int NX = rc.level().NX, NY = rc.level().NY, k = rc.level().k;
        exact.fill(NX, NY);
        // The two edge nodes coincide up to the rounding of the grid.
        ASSERT_NEAR(quarel::Circulation(NX, k), exact.circulation(), 1e-7);
        quarel::Row row;
        quarel::BodyRow(k, NX, k, 0, 0, 0, row);
        upper[g] = row.res;
        quarel::BodyRow(NX - k, NX, k, 0, 0, 0, row);
        lower[g] = row.res;
        // An interior node at mid-chord, the fifth line out (on the finer
        // grid the same point: the indices from the cut's end and the body
        // double).
        const int i = (g + 1) * 40, j = g == 0 ? 5 : 9;
        quarel::InteriorRow(NX, NY, i, j, row);
        interior[g] = row.res;
        std::printf(
            "%d x %d: residual of the exact flow, upper edge %.2e, lower edge %.2e, "
            "interior %.2e\n",
            NX, NY, upper[g], lower[g], interior[g]);
    }
    fs::current_path(cwd);
    EXPECT_GT(std::fabs(upper[0] / upper[1]), 3.0);
    EXPECT_GT(std::fabs(lower[0] / lower[1]), 3.0);
    // The interior rows, for scale: third order (the flux balance of a
    // cell of area h^2).
    EXPECT_GT(std::fabs(interior[0] / interior[1]), 6.0);
}

// The corner modes at the trailing edge are those of subsonic flow.  With
// a supersonic region that reaches the edge (NACA 2412 at M 0.8 and 2
// degrees: Mach 1.68 at x = 0.991) the faces at the edge keep their plain
// fluxes; with the modes there the fine level ran out its 50 steps with the
// lift still changing by 0.016 per step.
TEST(TrailingEdgeCorner, SupersonicEdgeKeepsThePlainFaces) {
    quarel::RunControl rc;
    quarel::testjob::runExample(rc, "quarel-kt", "naca2412.dat", [](quarel::JobParameters& job) {
        job.alpha = 2.0;
        job.mach = 0.8;
    });
    const std::vector<int> steps = quarel::testjob::stepsPerLevel(rc.log());
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_LT(steps.back(), 50);
    EXPECT_TRUE(rc.converged());
    EXPECT_NEAR(rc.results.clift, 1.2431, 0.002);
}

// A transonic run from the free stream on a single grid (the transonic
// sample's section at M 0.8 on 128 x 17, Kgrid 1) converges to the lift it
// has without the corner flow at the edge (0.58).  With the antisymmetric
// mode at this speed it ended its 50 steps unconverged, and with that mode
// held to a share of the symmetric one it converged to other solutions
// (0.39, -0.29).
TEST(TrailingEdgeCorner, TransonicStartOnOneGridFindsTheSolution) {
    quarel::RunControl rc;
    quarel::testjob::runExample(rc, "quarel-kt", "naca0012_m080.dat",
                                [](quarel::JobParameters& job) {
                                    job.NPA = 112;
                                    job.NCO = 16;
                                    job.NBH = 8;
                                    job.Kgrid = 1;
                                });
    EXPECT_TRUE(rc.converged());
    EXPECT_NEAR(rc.results.clift, 0.583, 0.01);
}

// The convergence table of the README: nested grids 60 x 11 .. 480 x 81 at
// 0, 4 and 8 degrees.  Slow (about a minute); run with
// --gtest_also_run_disabled_tests --gtest_filter='*ConvergenceTable*'.
TEST(ExactIncompressible, DISABLED_ConvergenceTable) {
    quarel::msg::setQuiet(true);
    fs::path cwd = fs::current_path();
    struct Grid {
        const char* name;
        int npa, nco, nbh, kgrid;
        double ratio;
    };
    const Grid grids[] = {{"60 x 11", 40, 10, 10, 1, 1.3225},
                          {"120 x 21", 80, 20, 20, 1, 1.15},
                          {"240 x 41", 160, 40, 40, 1, std::sqrt(1.15)},
                          {"480 x 81", 80, 20, 20, 4, std::pow(1.3225, 0.125)}};
    for (double alpha : {0.0, 4.0, 8.0})
        for (const Grid& g : grids) {
            const Result e = solve(g.npa, g.nco, g.nbh, g.kgrid, g.ratio, alpha);
            std::printf("| %g | %s | %+.3f %% | %.2e | %.5f (%.5f) | %.4f |\n", alpha, g.name,
                        100.0 * e.liftError(), e.cpRms, e.moment, e.momentExact, e.pressureDrag);
        }
    fs::current_path(cwd);
}

// The section analysed is the one given: at incidence the body row of the
// grid carries the file's ordinates (the contour spline between them), not
// ordinates stretched by the incidence.
TEST(ExactIncompressible, GridCarriesTheGivenSection) {
    quarel::msg::setQuiet(true);
    fs::path cwd = fs::current_path();
    KarmanTrefftz kt;
    Section s = section(kt, 359);
    fs::path dir = fs::path(quarel::testjob::scratchPath("quarel-kt"));
    fs::create_directories(dir);
    fs::current_path(dir);
    std::string path = (dir / "kt-grid.dat").string();
    writeInput(path, s, 80, 10, 10, 1, 1.15);
    quarel::RunControl rc;
    rc.open(path);
    rc.job.alpha = 8.0;
    rc.gridCalculation();
    fs::current_path(cwd);
    ExactSurface ex(kt, s, 0.0, 0.0);
    // Ordinate of the exact section at x on one surface, by interpolation
    // in the dense samples.
    auto yAt = [&](double x, bool upper) {
        size_t from = upper ? 0 : ex.le, to = upper ? ex.le : ex.z.size() - 1;
        for (size_t q = from; q < to; ++q) {
            double xa = ex.z[q].real(), xb = ex.z[q + 1].real();
            if ((x - xa) * (x - xb) <= 0.0 && xa != xb)
                return ex.z[q].imag() +
                       (x - xa) / (xb - xa) * (ex.z[q + 1].imag() - ex.z[q].imag());
        }
        return std::nan("");
    };
    double worst = 0.0;
    for (int i = rc.level().k; i <= rc.level().NX - rc.level().k; ++i) {
        const double x = quarel::xg(i, 1);
        if (x < 0.01 || x > 0.99) continue;
        worst = std::max(worst, std::fabs(quarel::yg(i, 1) - yAt(x, i < rc.level().NX / 2)));
    }
    // Six-decimal file ordinates and the contour spline; a division by
    // cos 8 degrees would put the crest (y 0.10) 1e-3 off.
    EXPECT_LT(worst, 5.0e-5);
}

}  // namespace
