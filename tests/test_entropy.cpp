// The non-isentropic model: the normal-shock entropy rise, its transport
// along a line and the input-file and sweep-table switches.
#include <gtest/gtest.h>

#include <cmath>

#include "EntropyInput.h"
#include "Sweep.h"
#include "entropy.h"
#include "message.h"

namespace quarel {
namespace {

// s/R across a normal shock from the Rankine-Hugoniot relations written
// through the total-pressure ratio: s/R = -ln(p02/p01).
double RankineHugoniotEntropy(double m1, double g) {
    const double m2 = m1 * m1;
    const double a = std::pow((g + 1.0) * m2 / ((g - 1.0) * m2 + 2.0), g / (g - 1.0));
    const double b = std::pow((g + 1.0) / (2.0 * g * m2 - (g - 1.0)), 1.0 / (g - 1.0));
    return -std::log(a * b);
}

TEST(Entropy, ShockRiseIsTheRankineHugoniotEntropyJump) {
    for (double g : {1.4, 1.3})
        for (double m1 : {1.05, 1.2, 1.4, 2.0, 3.0})
            EXPECT_NEAR(ShockEntropyRise(m1 * m1, g), RankineHugoniotEntropy(m1, g),
                        1e-12 * (1.0 + RankineHugoniotEntropy(m1, g)));
    // Third order in m^2 - 1 for weak shocks: 2 gamma/(gamma+1)^2 (m^2-1)^3/3.
    const double e = 1e-2;
    EXPECT_NEAR(ShockEntropyRise(1.0 + e, 1.4) / (2.0 * 1.4 / (2.4 * 2.4) * e * e * e / 3.0), 1.0,
                0.05);
    EXPECT_EQ(ShockEntropyRise(1.0, 1.4), 0.0);
    EXPECT_EQ(ShockEntropyRise(0.5, 1.4), 0.0);
}

TEST(Entropy, CarriedDownstreamFromBothSidesOfAStagnationPoint) {
    // Flow leaves face 3/4 both ways; a jump on each side is carried to the
    // line's ends and not upstream of itself.
    const double flow[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    const double jump[8] = {0, 0.2, 0.1, 0, 0, 0, 0.3, 0};
    double s[8];
    CarryAlongLine(jump, flow, 8, s);
    const double want[8] = {0.3, 0.3, 0.1, 0, 0, 0, 0.3, 0.3};
    for (int f = 0; f < 8; ++f) EXPECT_DOUBLE_EQ(s[f], want[f]) << f;
}

// The flux factor against the thermodynamics of the state it stands for:
// the pressure of the isentropic speed g, the entropy s, the free
// stream's total enthalpy; mass flux rho q over the isentropic rho_g g,
// times exp(s/R) (the shock-point correction's share).
TEST(Entropy, FluxFactorIsTheMassFluxAtThePressureOfThePotential) {
    const double g = 1.4, M = 0.8;
    const double hInf = 1.0 / (M * M) / (g - 1.0), H = hInf + 0.5;  // free stream q = 1
    for (double speed : {0.6, 0.8, 1.1})
        for (double sigma : {0.0, 0.01, 0.05}) {
            const double hg = H - 0.5 * speed * speed;
            const double p = std::pow(hg / hInf, g / (g - 1.0));  // over p_inf
            const double rhoG = std::pow(hg / hInf, 1.0 / (g - 1.0));
            // p / rho^gamma = exp((gamma - 1) s/R) at the same pressure.
            const double rho = std::pow(p * std::exp(-(g - 1.0) * sigma), 1.0 / g);
            const double h = hInf * p / rho;
            const double q = std::sqrt(2.0 * (H - h));
            const double want = std::exp(sigma) * rho * q / (rhoG * speed);
            EXPECT_NEAR(EntropyFluxFactor(sigma, speed * speed, (g - 1.0) * hg, g), want,
                        1e-12 * want)
                << speed << " " << sigma;
        }
    EXPECT_EQ(EntropyFluxFactor(0.0, 0.5, 1.5, 1.4), 1.0);
}

TEST(Entropy, InputLinesRoundTripAndBadValueRefused) {
    EntropyOptions on;
    on.enabled = true;
    EXPECT_EQ(EntropySettingsText(EntropyOptions()), "");
    EntropyOptions read;
    ReadEntropySettings("title\n" + EntropySettingsText(on), "a.dat", read);
    EXPECT_TRUE(read.enabled);
    EntropyOptions untouched;
    ReadEntropySettings("title\n<Reynolds>\n", "a.dat", untouched);
    EXPECT_FALSE(untouched.enabled);
    EXPECT_THROW(ReadEntropySettings("t\n<Entropy >\n  2.\n", "a.dat", read), FileError);
}

TEST(Entropy, SweepTableNamesTheModelOnlyWhenOn) {
    std::vector<SweepPoint> points(1);
    points[0].done = true;
    const std::string off = SweepTable(points);
    EXPECT_EQ(off.find("model"), std::string::npos);
    points[0].entropy = true;
    const std::string on = SweepTable(points);
    EXPECT_NE(on.find(",model\n"), std::string::npos);
    EXPECT_NE(on.find(",non-isentropic\n"), std::string::npos);
}

}  // namespace
}  // namespace quarel
