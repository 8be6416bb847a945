// Incompressible flow past a Karman-Trefftz section, whose potential flow
// is known in closed form through the conformal map of a circle: the
// computed surface Cp and lift must converge to the exact values as the
// grid is refined, at the rate a second-order scheme shows.
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
#include "state.h"

namespace {

namespace fs = std::filesystem;
using cplx = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;

// Karman-Trefftz section: the circle through zeta = 1 with centre mu,
// mapped by z = n ((1 + r^n) / (1 - r^n)), r = (zeta - 1)/(zeta + 1),
// n = 2 - tau/pi for a trailing-edge angle tau.
struct KarmanTrefftz {
    cplx mu{-0.08, 0.0};
    double n = 2.0 - 12.0 / 180.0;  // 12 degree trailing edge
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
    // Speed squared on the surface for a unit free stream at angle alpha
    // (radians) with the circulation that puts the rear stagnation point on
    // the trailing edge.
    double speed2(double theta, double alpha) const {
        cplx zt = zeta(theta);
        double gam = 4.0 * kPi * a() * std::sin(alpha - thetaTE());
        cplx dw = std::exp(cplx(0.0, -alpha)) -
                  a() * a() * std::exp(cplx(0.0, alpha)) / ((zt - mu) * (zt - mu)) +
                  cplx(0.0, gam / (2.0 * kPi)) / (zt - mu);
        return std::norm(dw / dmap(zt));
    }
    double circulation(double alpha) const { return 4.0 * kPi * a() * std::sin(alpha - thetaTE()); }
};

struct Normalised {
    double xLE, yLE, chord, angle;  // leading edge, chord length, inclination (rad)
};

// The section as the program sees it: contour points from the trailing
// edge over the upper surface to the leading edge and back.
std::vector<cplx> contour(const KarmanTrefftz& kt, int points) {
    std::vector<cplx> z;
    for (int q = 0; q < points; ++q) {
        double th = kt.thetaTE() + 2.0 * kPi * q / (points - 1);
        z.push_back(q == 0 || q == points - 1 ? kt.map(kt.zeta(kt.thetaTE() + 1e-9))
                                              : kt.map(kt.zeta(th)));
    }
    z.back() = z.front();
    return z;
}

// Leading edge = the point of smallest abscissa, trailing edge = the
// midpoint of the first and last points: the normalisation of the
// contour preparation.
Normalised normalisation(const std::vector<cplx>& z) {
    size_t le = 0;
    for (size_t m = 1; m < z.size(); ++m)
        if (z[m].real() < z[le].real()) le = m;
    cplx te = 0.5 * (z.front() + z.back());
    cplx d = te - z[le];
    return {z[le].real(), z[le].imag(), std::abs(d), std::arg(d)};
}

void writeInput(const std::string& path, const std::vector<cplx>& z, double scaleY, int npa,
                int nco, int nbh) {
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    using quarel::ff::format;
    std::fprintf(f, "Karman-Trefftz section\n  Mach     Alpha     Swept\n");
    std::fprintf(f, "%s\n", format("(3f10.5)", {0.0, 0.0, 0.0}).c_str());
    std::fprintf(f, "  Diag      Res       Xdes\n%s\n",
                 format("(f10.5,e10.3,f10.5)", {0.2, 1.0e-10, 0.1}).c_str());
    std::fprintf(f, "  NPA       NCO       NBH       Kgrid\n%s\n",
                 format("(4f10.1)", {double(npa), double(nco), double(nbh), 1.0}).c_str());
    std::fprintf(f, "  Lin       Dim       Lift      Regime\n%s\n",
                 format("(4f10.1)", {40.0, 25.0, 0.0, 0.0}).c_str());
    std::fprintf(f, "  Layout    Points\n%s\n  x         y\n",
                 format("(2f10.1)", {0.0, double(z.size())}).c_str());
    for (const cplx& p : z)
        std::fprintf(f, "%s\n", format("(2f10.6)", {p.real(), p.imag() * scaleY}).c_str());
    std::fprintf(f, "  Ratios\n%s\n",
                 format("(7f5.3)", {1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15}).c_str());
    std::fclose(f);
}

struct Errors {
    double cp;    // root-mean-square Cp error over the faces with 0.05 < x < 0.9
    double lift;  // |CL - CL exact|
};

Errors solve(int npa, int nco, int nbh, double alphaDeg) {
    KarmanTrefftz kt;
    std::vector<cplx> z = contour(kt, 359);
    Normalised nz = normalisation(z);

    fs::path dir = fs::temp_directory_path() / "quarel-kt";
    fs::create_directories(dir);
    fs::current_path(dir);
    std::string path = (dir / ("kt" + std::to_string(npa) + ".dat")).string();
    // The contour preparation divides the ordinates by cos(alpha) (the
    // swept-wing similarity); scale them the other way so that the grid
    // carries the exact section.
    double alpha = alphaDeg * kPi / 180.0;
    writeInput(path, z, std::cos(alpha), npa, nco, nbh);

    quarel::RunControl rc;
    rc.open(path);
    rc.job.alpha = alphaDeg;
    rc.job.mach = 0.0;
    rc.calculate();

    // Exact solution in the frame of the normalised section: free stream
    // at alpha to the chord line.
    double alphaZ = alpha + nz.angle;
    double clExact = 2.0 * kt.circulation(alphaZ) / nz.chord;

    // Exact Cp along each surface, as a function of the normalised x.
    const int dense = 40000;
    std::vector<double> xs(dense + 1), cps(dense + 1);
    for (int q = 0; q <= dense; ++q) {
        double th = kt.thetaTE() + 2.0 * kPi * (q + 0.5) / (dense + 1);
        cplx p = kt.map(kt.zeta(th)) - cplx(nz.xLE, nz.yLE);
        xs[q] = (p * std::exp(cplx(0.0, -nz.angle))).real() / nz.chord;
        cps[q] = 1.0 - kt.speed2(th, alphaZ);
    }
    auto exactCp = [&](double x, bool upper) {
        int qLE = 0;
        for (int q = 1; q <= dense; ++q)
            if (xs[q] < xs[qLE]) qLE = q;
        int from = upper ? 0 : qLE, to = upper ? qLE : dense;
        for (int q = from; q < to; ++q) {
            double xa = xs[q], xb = xs[q + 1];
            if ((x - xa) * (x - xb) <= 0.0 && xa != xb) {
                double t = (x - xa) / (xb - xa);
                return cps[q] + t * (cps[q + 1] - cps[q]);
            }
        }
        return std::nan("");
    };

    double sum = 0.0;
    int count = 0;
    for (int i = rc.level().k; i < rc.level().NX - rc.level().k; ++i) {
        double x = 0.5 * (quarel::xg(i, 1) + quarel::xg(i + 1, 1));
        if (x < 0.05 || x > 0.9) continue;
        double e = quarel::cpf(i) - exactCp(x, i < rc.level().NX / 2);
        sum += e * e;
        ++count;
    }
    return {std::sqrt(sum / count), std::fabs(rc.results.clift - clExact)};
}

TEST(ExactIncompressible, KarmanTrefftzConvergesAtSecondOrder) {
    quarel::msg::setQuiet(true);
    fs::path cwd = fs::current_path();
    std::vector<Errors> e;
    for (int s : {1, 2, 4}) e.push_back(solve(32 * s, 8 * s, 8 * s, 2.0));
    fs::current_path(cwd);
    for (size_t l = 0; l < e.size(); ++l)
        std::printf("level %zu: rms Cp error %.3e, lift error %.3e\n", l, e[l].cp, e[l].lift);
    // Halving the mesh width must cut the discretisation error by about
    // four.  On the finest grid the Cp error approaches a floor of about
    // 2e-3 that further refinement does not lower: the far boundary, some
    // seven chords out, carries only the free stream and the vortex, not
    // the doublet of the section's thickness.
    EXPECT_GT(e[0].cp / e[1].cp, 3.5);
    EXPECT_GT(e[1].cp / e[2].cp, 2.0);
    EXPECT_LT(e[2].cp, 3.0e-3);
    EXPECT_GT(e[0].lift / e[1].lift, 3.5);
    EXPECT_GT(e[1].lift / e[2].lift, 3.5);
    EXPECT_LT(e[2].lift, 5.0e-4);
}

}  // namespace
