// Grid generation, the checks made before it, and the metrics of the
// grids it builds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CGRD1.h"
#include "FreeStream.h"
#include "GridLevel.h"
#include "INPT1.h"
#include "constants.h"
#include "message.h"
#include "metrics.h"
#include "quarel_job.h"
#include "splines.h"
#include "state.h"
#include "validate.h"

using namespace quarel;
namespace fs = std::filesystem;

namespace {

// Runs a block in the shared scratch directory, so that "grid.out" lands
// there, with the console quiet.
class ScratchDir : public testjob::ScratchDir {
public:
    ScratchDir() { msg::setQuiet(true); }
    ~ScratchDir() {
        msg::takeWarnings();
        msg::setQuiet(false);
    }
    fs::path path() const { return testjob::ScratchDir::path(); }
};

// NACA four-digit section (closed trailing edge), cosine spaced, from the
// upper trailing edge round the nose to the lower trailing edge.
void nacaContour(double camber, double camberPos, double thick, int perSide, ContourInput& X,
                 ContourInput& Y, int& n, bool commonAbscissae = true) {
    n = 2 * perSide - 1;
    for (int m = 1; m <= perSide; ++m) {
        const double b = M_PI * (perSide - m) / (perSide - 1);
        const double x = 0.5 * (1.0 - std::cos(b));
        const double t = 5.0 * thick *
                         (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x + 0.2843 * x * x * x -
                          0.1036 * x * x * x * x);
        double yc = 0.0, dyc = 0.0;
        if (camber > 0.0) {
            const double p = camberPos;
            if (x < p) {
                yc = camber / (p * p) * (2 * p * x - x * x);
                dyc = 2 * camber / (p * p) * (p - x);
            } else {
                yc = camber / ((1 - p) * (1 - p)) * (1 - 2 * p + 2 * p * x - x * x);
                dyc = 2 * camber / ((1 - p) * (1 - p)) * (p - x);
            }
        }
        // Thickness laid off at right angles to the mean line, as the
        // section is defined, or (commonAbscissae) vertically, so that the
        // nose stays the point of smallest x.
        const double th = commonAbscissae ? 0.0 : std::atan(dyc);
        X(m) = x - t * std::sin(th);
        Y(m) = yc + t * std::cos(th);
        X(n + 1 - m) = x + t * std::sin(th);
        Y(n + 1 - m) = yc - t * std::cos(th);
    }
}

struct Job {
    ContourInput X, Y;
    int n = 0;
    int NPA = 48, NCO = 10, NBH = 8, Kgrid = 4;
    double alpha = 0.0, sweep = 0.0;
    GridOptions options;
    GrowthRatios ds;
    Job() {
        const double r[7] = {1.10, 1.12, 1.12, 1.10, 1.12, 1.12, 1.10};
        const int s[7] = {1, 4, 6, 7, 8, 10, 13};
        for (int m = 1; m <= 13; ++m) ds(m) = 0.0;
        for (int m = 0; m < 7; ++m) ds(s[m]) = r[m];
    }
};

struct Built {
    int npa, NY, k, NX, faults;
    double x0;
};

Built build(Job& job) {
    const int gmres = 15;
    ValidateGrid(job.NPA, job.NCO, job.NBH, job.Kgrid, gmres, job.X, job.Y, job.n);
    // Sizes and ordinate divisor as the grid command computes them.
    const GridLevel fine = GridLevel::fine(job.NPA, job.NCO, job.NBH, job.Kgrid);
    Built b;
    b.npa = fine.npa;
    b.NY = fine.NY;
    b.k = fine.k;
    b.NX = fine.NX;
    double incl;
    const FreeStream flow = FreeStream::of(0.5, kGammaSingle, job.alpha, job.sweep);
    PrepContour(job.X, job.Y, job.n, b.npa, b.x0, incl, flow.ordinateDivisor());
    b.faults = GridGen(b.NY, b.k, b.npa, b.x0, job.ds, job.options);
    return b;
}

// Every face Jacobian finite and of one sign.
void expectSoundMetrics(const Built& b, const std::string& what) {
    GridMetric(b.NY, b.NX);
    int bad = 0;
    const double sign = aji(b.NX / 2, 1) > 0 ? 1.0 : -1.0;
    for (int j = 1; j <= b.NY - 1; ++j) {
        for (int i = 0; i <= b.NX - 1; ++i)
            if (!std::isfinite(aji(i, j)) || !(sign * aji(i, j) > 0.0)) {
                if (bad++ < 5)
                    ADD_FAILURE() << what << ": i-face " << i << "," << j << " J=" << aji(i, j);
            }
        for (int i = 1; i <= b.NX - 1; ++i)
            if (!std::isfinite(ajj(i, j)) || !(sign * ajj(i, j) > 0.0)) {
                if (bad++ < 5)
                    ADD_FAILURE() << what << ": j-face " << i << "," << j << " J=" << ajj(i, j);
            }
    }
    EXPECT_EQ(bad, 0) << what;
    EXPECT_EQ(b.faults, 0) << what;
    FarField(0.75, b.NX, b.NY, 1.0);
    for (int i = 0; i <= b.NX; ++i) {
        EXPECT_GT(ffo(i), 0.0) << what << " " << i;
        EXPECT_LT(ffo(i), 1.0) << what << " " << i;
    }
}

}  // namespace

TEST(Grid, GrowthRatioAndOuterBoundary) {
    EXPECT_NEAR(GrowthRatio(10.0, 4), 1.660807, 2e-6);
    const double r = GrowthRatio(10.0, 4);
    EXPECT_LT(std::fabs(1 + r + r * r + r * r * r - 10.0), 0.001);
    EXPECT_NEAR(GrowthRatio(5.0, 5), 1.0, 1e-3);
    const double r2 = GrowthRatio(300.0, 40);
    EXPECT_LT(std::fabs((std::pow(r2, 40) - 1) / (r2 - 1) - 300.0), 0.001);

    // Circle and hyperbola meet with equal value and slope (to the
    // single-precision 1/sqrt 2 of the joining point).
    const double R = std::sqrt(7.0), a = R * 0.70710677;
    EXPECT_NEAR(OuterEta(0.0, R), R, 1e-15);
    EXPECT_NEAR(OuterEta(a - 1e-9, R), OuterEta(a + 1e-9, R), 1e-7);
    const double h = 1e-6;
    const double s1 = (OuterEta(a - h, R) - OuterEta(a - 2 * h, R)) / h;
    const double s2 = (OuterEta(a + 2 * h, R) - OuterEta(a + h, R)) / h;
    EXPECT_NEAR(s1, s2, 1e-4);
    EXPECT_NEAR(OuterEta(-2.0, R) * 2.0, a * a, 1e-12);
    EXPECT_EQ(OuterEta(-2.0, R), OuterEta(2.0, R));
}

TEST(Grid, SymmetricSectionGrid) {
    ScratchDir scratch;
    Job job;
    nacaContour(0.0, 0.0, 0.12, 61, job.X, job.Y, job.n);
    job.NPA = 100;
    job.NBH = 20;
    job.NCO = 31;
    job.Kgrid = 1;
    const int npa = 100;
    double x0, incl;
    PrepContour(job.X, job.Y, job.n, npa, x0, incl, 1.0);
    std::vector<double> xs(npa + 2), ys(npa + 2);
    for (int i = 1; i <= npa + 1; ++i) {
        xs[i] = xg(i, 1);
        ys[i] = yg(i, 1);
    }
    const Built b = build(job);
    ASSERT_EQ(b.NX, 140);
    EXPECT_EQ(b.faults, 0);
    const int NX = b.NX, NY = b.NY, k = b.k;

    // The surface points come back at i = k .. NX-k (the lower surface up to
    // the single-precision 2 pi added to its polar angle).
    for (int i = 1; i <= npa + 1; ++i) {
        const double tol = i <= npa / 2 ? 1e-14 : 2e-7;
        EXPECT_NEAR(xg(i + k - 1, 1), xs[i], tol) << i;
        EXPECT_NEAR(yg(i + k - 1, 1), ys[i], tol) << i;
    }
    // Mirror symmetry (up to the single-precision 2 pi of the opening
    // angle); the cut stays on the chord line: t = 0.
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) {
            EXPECT_NEAR(xg(i, j), xg(NX - i, j), 2e-6) << i << "," << j;
            EXPECT_NEAR(yg(i, j), -yg(NX - i, j), 2e-6) << i << "," << j;
        }
    for (int m = 0; m < k; ++m) EXPECT_NEAR(yg(m, 1), 0.0, 1e-6) << m;
    // The cut is 7 chords long (offset and bending change only y), with
    // the first wake interval 1.5 times the first surface interval and the
    // wake intervals growing downstream.
    EXPECT_NEAR(xg(0, 1), xg(k, 1) + 7.0, 1e-12);
    EXPECT_NEAR(xg(NX, 1), xg(0, 1), 1e-15);
    const double dsTE = std::fabs(xs[1] - xs[2]);
    EXPECT_NEAR(xg(k - 1, 1) - xg(k, 1), 1.5 * dsTE, 1e-12);
    for (int m = 1; m < k; ++m) EXPECT_GT(xg(m - 1, 1) - xg(m, 1), xg(m, 1) - xg(m + 1, 1)) << m;

    // Station columns 1, 19, 21, 119, 121 and 139 share the first-cell
    // height of their neighbouring user station and reach their own far
    // boundary: their ratios follow from the far-boundary heights of the
    // transformed plane at those columns.
    const double c = 2.0 * std::sqrt(2.0), R = std::sqrt(7.0);
    auto farEta = [&](int i) { return OuterEta((NX / 2 - i) * c / (NX / 2), R); };
    auto sum = [&](double r) {
        double s = 0, p = 1;
        for (int m = 0; m < NY - 1; ++m, p *= r) s += p;
        return s;
    };
    const double h1 = farEta(0) / sum(1.10), h4 = farEta(20) / sum(1.12);
    EXPECT_DOUBLE_EQ(job.ds(2), GrowthRatio(farEta(1) / h1, NY - 1));
    EXPECT_DOUBLE_EQ(job.ds(3), GrowthRatio(farEta(19) / h4, NY - 1));
    EXPECT_DOUBLE_EQ(job.ds(5), GrowthRatio(farEta(21) / h4, NY - 1));
    EXPECT_DOUBLE_EQ(job.ds(9), GrowthRatio(farEta(119) / h4, NY - 1));
    EXPECT_DOUBLE_EQ(job.ds(11), GrowthRatio(farEta(121) / h4, NY - 1));
    EXPECT_DOUBLE_EQ(job.ds(12), GrowthRatio(farEta(139) / h1, NY - 1));
    EXPECT_EQ(job.ds(1), 1.10);  // the user's ratios are kept
    EXPECT_EQ(job.ds(7), 1.10);

    // The listing: sizes, NY-1 blocks of NX+1 lines, the outermost line absent.
    std::ifstream f(scratch.path() / "grid.out");
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + (NY - 1) * (NX + 2));
    EXPECT_EQ(lines[0], " NXGRID= 140   NYGRID=  31");
    EXPECT_EQ(lines[1], "    i          x              y      JGRID=   1");
    EXPECT_EQ(lines[2].size(), 35u);
    EXPECT_EQ(lines[2].substr(0, 5), "    0");
    EXPECT_NEAR(std::atof(lines[2].substr(5, 15).c_str()), xg(0, 1), 1e-6 * xg(0, 1));
    EXPECT_EQ(lines[2 + 70].substr(0, 5), "   70");
    EXPECT_EQ(lines[1 + (NY - 2) * (NX + 2)], "    i          x              y      JGRID=  31");
}

// The far boundary moved out by the grid option: the cut ends at the
// distance asked for and the boundary upstream moves out with it; at 7
// chords the grid is that of the input file to the last bit.
TEST(Grid, FarBoundaryDistance) {
    ScratchDir scratch;
    Job job;
    nacaContour(0.0, 0.0, 0.12, 61, job.X, job.Y, job.n);
    const Built a = build(job);
    const std::vector<double> x7(xg.data(), xg.data() + kGridSize);
    const double upstream7 = -xg(a.NX / 2, a.NY);
    job.options.farBoundary = 7.0;
    build(job);
    EXPECT_TRUE(std::equal(x7.begin(), x7.end(), xg.data()));
    job.options.farBoundary = 28.0;
    const Built b = build(job);
    EXPECT_NEAR(xg(0, 1), xg(b.k, 1) + 28.0, 1e-11);
    // Upstream too the boundary is (about) four times as far.
    EXPECT_NEAR(-xg(b.NX / 2, b.NY) / upstream7, 4.0, 0.25);
    EXPECT_EQ(a.NY, b.NY);
}

TEST(Grid, UniformNormalSpacingWithUnitRatios) {
    ScratchDir scratch;
    Job job;
    nacaContour(0.0, 0.0, 0.12, 41, job.X, job.Y, job.n);
    job.NPA = 32;
    job.NCO = 12;
    job.NBH = 6;
    job.Kgrid = 2;
    for (int s : {1, 4, 6, 7, 8, 10, 13}) job.ds(s) = 1.0;
    const Built b = build(job);
    EXPECT_EQ(b.faults, 0);
    // On the leading-edge column the transformed abscissa is 0, so
    // eta = sqrt((x0 - x)/(1 - x0)) there; with unit ratios it grows by
    // sqrt 7/(NY-1) per cell, the far-boundary height over the cell count.
    const int mid = b.NX / 2;
    const double step = std::sqrt(7.0) / (b.NY - 1);
    for (int j = 2; j <= b.NY; ++j) {
        const double e1 = std::sqrt((b.x0 - xg(mid, j)) / (1.0 - b.x0));
        const double e0 = std::sqrt((b.x0 - xg(mid, j - 1)) / (1.0 - b.x0));
        EXPECT_NEAR(e1 - e0, step, 1e-6) << j;
        EXPECT_NEAR(yg(mid, j), 0.0, 1e-6);
    }
    // The neighbours of the trailing edges and the cut ends adapt their
    // ratios to their own far-boundary heights: close to 1.
    for (int s = 1; s <= 13; ++s) EXPECT_NEAR(job.ds(s), 1.0, 5e-3) << s;
}

TEST(Grid, SampleAndFormulaSectionsGiveUnfoldedGrids) {
    ScratchDir scratch;
    struct Size {
        int NPA, NCO, NBH, Kgrid;
    };
    const Size sizes[] = {{48, 10, 8, 4},  {40, 8, 8, 4},  {24, 8, 4, 2},
                          {64, 20, 16, 1}, {32, 10, 8, 8}, {320, 159, 89, 1}};

    std::vector<std::pair<std::string, Job>> jobs;
    {
        Job j0012, j2412, j4415;
        nacaContour(0.0, 0.0, 0.12, 81, j0012.X, j0012.Y, j0012.n);
        nacaContour(0.02, 0.4, 0.12, 81, j2412.X, j2412.Y, j2412.n);
        nacaContour(0.04, 0.4, 0.15, 61, j4415.X, j4415.Y, j4415.n);
        j2412.alpha = 2.0;
        j4415.alpha = -1.0;
        j4415.sweep = 30.0;
        jobs.push_back({"NACA 0012 (formula)", j0012});
        jobs.push_back({"NACA 2412 (formula)", j2412});
        jobs.push_back({"NACA 4415 swept (formula)", j4415});
    }
    const fs::path examples = fs::path(QUAREL_SOURCE_DIR) / "examples";
    if (fs::exists(examples)) {
        for (const auto& entry : fs::directory_iterator(examples)) {
            if (entry.path().extension() != ".dat") continue;
            FileNames names;
            std::snprintf(names.inputName, sizeof names.inputName, "%s",
                          entry.path().string().c_str());
            Job job;
            double mach, gamma, sweepDeg, diag, maxRes, lead;
            int lin, gmres, liftCorr, regime, designMode;
            ReadGeom(names, mach, job.alpha, gamma, sweepDeg, diag, maxRes, job.NPA, job.NCO,
                     job.NBH, job.Kgrid, lin, gmres, liftCorr, regime, lead, designMode, job.n,
                     job.X, job.Y, job.ds);
            job.sweep = sweepDeg;
            // The file's own sizes first, then the common sizes.
            const Built b = build(job);
            expectSoundMetrics(b, entry.path().filename().string() + " as given");
            jobs.push_back({entry.path().filename().string(), job});
        }
    }
    for (auto& [name, job] : jobs) {
        // (The construction folds a few cells off the lower nose of the thick,
        // cambered swept section on the largest grid; they are repaired.)
        for (const Size& s : sizes) {
            job.NPA = s.NPA;
            job.NCO = s.NCO;
            job.NBH = s.NBH;
            job.Kgrid = s.Kgrid;
            // The sample ratios suit 40 cells from the section outward; other
            // cell counts get ratios of the same overall stretching.
            Job scaled = job;
            const int cells = s.Kgrid * s.NCO;
            for (int m : {1, 4, 6, 7, 8, 10, 13}) scaled.ds(m) = std::pow(job.ds(m), 40.0 / cells);
            const Built b = build(scaled);
            expectSoundMetrics(b, name + " NX=" + std::to_string(b.NX) + " NY=" +
                                      std::to_string(b.NY) + " Kgrid=" + std::to_string(s.Kgrid));
        }
    }
}

namespace {

// The grid of a job as the construction builds it, without the repair.
struct Nodes {
    std::vector<double> x, y;
    int NX = 0, NY = 0;
    double at(const std::vector<double>& v, int i, int j) const { return v[j * (NX + 1) + i]; }
};

Nodes copyGrid(const Built& b) {
    Nodes n;
    n.NX = b.NX;
    n.NY = b.NY;
    n.x.assign((b.NY + 1) * (b.NX + 1), 0.0);
    n.y = n.x;
    for (int j = 1; j <= b.NY; ++j)
        for (int i = 0; i <= b.NX; ++i) {
            n.x[j * (b.NX + 1) + i] = xg(i, j);
            n.y[j * (b.NX + 1) + i] = yg(i, j);
        }
    return n;
}

Nodes constructionGrid(Job job, Built& b) {
    job.options.repairFolds = false;
    b = build(job);
    return copyGrid(b);
}

std::string fileText(const fs::path& p) {
    std::ifstream f(p);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The growth ratios of the sample files (made for 40 cells from the section
// outward) carried to another cell count, written with three decimals as a
// job file holds them.
void scaleRatios(Job& job) {
    const int cells = job.Kgrid * job.NCO;
    for (int m : {1, 4, 6, 7, 8, 10, 13})
        job.ds(m) = std::round(1000.0 * std::pow(job.ds(m), 40.0 / cells)) / 1000.0;
}

}  // namespace

TEST(Grid, LinesCrossedByTheInterpolationAreRepaired) {
    ScratchDir scratch;
    std::vector<std::string> console;
    // NACA 2412 on 496 x 97: round the leading edge the interpolation
    // between the stations crosses lines 15 and 16 on the lower side.
    Job job;
    nacaContour(0.02, 0.4, 0.12, 41, job.X, job.Y, job.n, false);
    job.alpha = 2.0;
    job.NPA = 92;
    job.NCO = 24;
    job.NBH = 16;
    job.Kgrid = 4;
    scaleRatios(job);
    Built b0;
    const Nodes built = constructionGrid(job, b0);
    int firstI = 0, firstJ = 0;
    const int folded = FoldedCells(b0.NX, b0.NY, firstI, firstJ);
    ASSERT_GT(folded, 0) << "the construction no longer folds this grid";
    EXPECT_EQ(b0.faults, 1);  // the fold, no interpolation fault
    EXPECT_GT(firstI, b0.NX / 2);
    msg::takeWarnings();

    msg::setSink([&](msg::Kind kind, const std::string& text) {
        if (kind == msg::Kind::Console) console.push_back(text);
    });
    const Built b = build(job);
    msg::setSink(nullptr);
    const int NX = b.NX, NY = b.NY;
    EXPECT_EQ(b.faults, 0);
    EXPECT_TRUE(msg::takeWarnings().empty());
    EXPECT_EQ(FoldedCells(NX, NY, firstI, firstJ), 0);
    expectSoundMetrics(b, "repaired NACA 2412");
    ASSERT_EQ(console.size(), 1u);
    EXPECT_EQ(console[0].rfind("The grid had " + std::to_string(folded) + " folded cells", 0), 0u)
        << console[0];
    EXPECT_NE(console[0].find("repaired"), std::string::npos) << console[0];

    // The surface row, the cut and the station columns are those of the
    // construction, bit for bit; only a band of lines round the fold moved.
    const int k = b.k, mid = NX / 2, q = (k + mid) / 2;
    for (int i = 0; i <= NX; ++i) {
        EXPECT_EQ(xg(i, 1), built.at(built.x, i, 1)) << i;
        EXPECT_EQ(yg(i, 1), built.at(built.y, i, 1)) << i;
    }
    for (int i :
         {0, 1, k - 1, k, k + 1, q, mid, NX - q, NX - k - 1, NX - k, NX - k + 1, NX - 1, NX})
        for (int j = 1; j <= NY; ++j) {
            EXPECT_EQ(xg(i, j), built.at(built.x, i, j)) << i << "," << j;
            EXPECT_EQ(yg(i, j), built.at(built.y, i, j)) << i << "," << j;
        }
    int lowest = NY + 1, highest = 0;
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i)
            if (xg(i, j) != built.at(built.x, i, j) || yg(i, j) != built.at(built.y, i, j)) {
                lowest = std::min(lowest, j);
                highest = std::max(highest, j);
            }
    EXPECT_LE(highest - lowest, 8) << lowest << ".." << highest;

    // The normal spacing grows smoothly through the repaired band on the
    // columns between the leading edge and the lower mid-chord station,
    // where the construction crossed the lines.
    for (int i = mid + 1; i < NX - q; ++i)
        for (int j = 2; j <= 30; ++j) {
            const double d0 = std::hypot(xg(i, j) - xg(i, j - 1), yg(i, j) - yg(i, j - 1));
            const double d1 = std::hypot(xg(i, j + 1) - xg(i, j), yg(i, j + 1) - yg(i, j));
            EXPECT_GT(d1 / d0, 0.95) << i << "," << j;
            EXPECT_LT(d1 / d0, 1.15) << i << "," << j;
        }
}

TEST(Grid, SoundGridsAreLeftAsConstructed) {
    ScratchDir scratch;
    std::vector<std::pair<std::string, Job>> jobs;
    Job j2412, j0012;
    nacaContour(0.02, 0.4, 0.12, 41, j2412.X, j2412.Y, j2412.n, false);
    nacaContour(0.0, 0.0, 0.12, 41, j0012.X, j0012.Y, j0012.n, false);
    j2412.alpha = j0012.alpha = 2.0;
    for (Job* j : {&j2412, &j0012}) {
        j->NPA = 92;
        j->NBH = 16;
        j->Kgrid = 4;
    }
    Job d2412 = j2412, e0012 = j0012;
    d2412.NCO = 19;  // 496 x 77
    e0012.NCO = 24;  // 496 x 97
    scaleRatios(d2412);
    scaleRatios(e0012);
    for (const Job& job : {d2412, e0012, Job(j2412)}) {
        Built b0;
        const Nodes built = constructionGrid(job, b0);
        const std::string listing = fileText(scratch.path() / "grid.out");
        int firstI = 0, firstJ = 0;
        ASSERT_EQ(FoldedCells(b0.NX, b0.NY, firstI, firstJ), 0) << b0.NY;
        Job again = job;
        const Built b = build(again);
        EXPECT_EQ(b.faults, b0.faults);
        bool same = true;
        for (int j = 1; j <= b.NY; ++j)
            for (int i = 0; i <= b.NX; ++i)
                same = same && xg(i, j) == built.at(built.x, i, j) &&
                       yg(i, j) == built.at(built.y, i, j);
        EXPECT_TRUE(same) << b.NX << " x " << b.NY;
        EXPECT_EQ(fileText(scratch.path() / "grid.out"), listing);
    }
}

TEST(Grid, FoldedGridIsReported) {
    ScratchDir scratch;
    std::vector<std::string> warnings, console;
    msg::setSink([&](msg::Kind kind, const std::string& text) {
        (kind == msg::Kind::Warning ? warnings : console).push_back(text);
    });
    // Ratios of 1.27 and 1.33 over 159 cells make the first cells 1e-17 of
    // the far-boundary height: the trailing-edge region folds between the
    // stations, and no monotone interpolation of the lines unfolds it.
    Job job;
    nacaContour(0.0, 0.0, 0.12, 81, job.X, job.Y, job.n);
    job.NPA = 320;
    job.NCO = 159;
    job.NBH = 89;
    job.Kgrid = 1;
    for (int m : {1, 4, 6, 7, 8, 10, 13}) job.ds(m) = std::pow(job.ds(m), 2.5);
    Built b0;
    const Nodes built = constructionGrid(job, b0);
    int firstI = 0, firstJ = 0;
    const int folded = FoldedCells(b0.NX, b0.NY, firstI, firstJ);
    warnings.clear();
    const Built b = build(job);
    msg::setSink(nullptr);
    EXPECT_EQ(b.faults, 1);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings.back().find("The grid is folded: " + std::to_string(folded) + " of"),
              std::string::npos)
        << warnings.back();
    for (const std::string& line : console)
        EXPECT_EQ(line.find("repaired"), std::string::npos) << line;
    // The grid stays the construction's, so the run refuses it.
    bool same = true;
    for (int j = 1; j <= b.NY; ++j)
        for (int i = 0; i <= b.NX; ++i)
            same =
                same && xg(i, j) == built.at(built.x, i, j) && yg(i, j) == built.at(built.y, i, j);
    EXPECT_TRUE(same);
}

TEST(Grid, ValidationRefusals) {
    Job job;
    nacaContour(0.0, 0.0, 0.12, 41, job.X, job.Y, job.n);
    const ContourInput& X = job.X;
    const ContourInput& Y = job.Y;
    auto refusal = [&](int NPA, int NCO, int NBH, int Kgrid, int gmres, const ContourInput& cx,
                       const ContourInput& cy, int n) -> std::string {
        try {
            ValidateGrid(NPA, NCO, NBH, Kgrid, gmres, cx, cy, n);
        } catch (const ParameterError& e) {
            return e.what();
        }
        return "";
    };
    const int n = job.n;
    EXPECT_EQ(refusal(48, 10, 8, 4, 15, X, Y, n), "");
    EXPECT_EQ(refusal(160, 159, 89, 1, 30, X, Y, n), "");  // NX = 338, NY = 160
    EXPECT_EQ(refusal(4, 1, 3, 2, 1, X, Y, n), "");        // the smallest sound grid

    auto has = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    EXPECT_TRUE(has(refusal(0, 10, 8, 4, 15, X, Y, n), "NPA=0"));
    EXPECT_TRUE(has(refusal(48, -1, 8, 4, 15, X, Y, n), "NCO=-1"));
    EXPECT_TRUE(has(refusal(48, 10, 0, 4, 15, X, Y, n), "NBH=0"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 0, 15, X, Y, n), "Kgrid=0"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 3, 15, X, Y, n), "power of two"));
    EXPECT_TRUE(has(refusal(47, 10, 8, 1, 15, X, Y, n), "even"));
    EXPECT_TRUE(has(refusal(6, 10, 8, 1, 15, X, Y, n), "at least 8"));
    EXPECT_TRUE(has(refusal(48, 1, 8, 1, 15, X, Y, n), "at least 3"));
    EXPECT_TRUE(has(refusal(48, 80, 8, 2, 15, X, Y, n), "limit of 160"));
    EXPECT_TRUE(has(refusal(48, 10, 1, 2, 15, X, Y, n), "NBH=1"));
    EXPECT_EQ(refusal(48, 10, 3, 1, 15, X, Y, n), "");
    EXPECT_TRUE(has(refusal(300, 10, 100, 1, 15, X, Y, n), "limit is 499"));
    EXPECT_TRUE(has(refusal(300, 2, 100000000, 64, 15, X, Y, n), "limit is 499"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 0, X, Y, n), "GMRES dim.=0"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 31, X, Y, n), "30"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 15, X, Y, 2), "at least 3"));
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 15, X, Y, 361), "at most 360"));

    // A point ahead of the leading edge along a tilted chord, a point behind
    // the trailing edge, and a repeated point are refused.
    ContourInput X2 = X, Y2 = Y;
    const int mLE = (n + 1) / 2;
    Y2(1) = Y2(n) = 0.2;
    X2(mLE + 1) = X2(mLE) + 0.001;
    Y2(mLE + 1) = -0.05;
    EXPECT_TRUE(
        has(refusal(48, 10, 8, 4, 15, X2, Y2, n), "Contour point " + std::to_string(mLE + 1)));
    X2 = X;
    Y2 = Y;
    X2(3) = 1.01;
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 15, X2, Y2, n), "Contour point 3"));
    X2 = X;
    X2(mLE + 3) = X2(mLE + 2);
    Y2 = Y;
    Y2(mLE + 3) = Y2(mLE + 2);
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 15, X2, Y2, n), "do not advance"));
    // Leading edge at the trailing edge: no chord.
    X2 = X;
    for (int m = 1; m <= n; ++m) X2(m) = 1.0;
    EXPECT_TRUE(has(refusal(48, 10, 8, 4, 15, X2, Y, n), "no chord"));
}
