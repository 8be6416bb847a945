// quarel-gridpicture: builds the fine grid of an input geometry file as the
// grid command does and draws it into PPM pictures, for looking at the
// grid without the GUI.
//
//   quarel-gridpicture INPUT.dat OUTPREFIX [NPA NCO NBH Kgrid [POWER]]
//
// The optional sizes replace those of the file; POWER raises the file's
// growth ratios to that power (e.g. 40/159 keeps the overall stretching of
// 40 cells on a grid of 159 cells).
// writes OUTPREFIX_whole.ppm (the whole grid), OUTPREFIX_le.ppm (the
// leading edge), OUTPREFIX_te.ppm (the trailing edge) and
// OUTPREFIX_far.ppm (the region around the section), each 900 x 900
// pixels.  The section row is drawn red, the wake cut blue.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "CGRD1.h"
#include "FreeStream.h"
#include "GridLevel.h"
#include "INPT1.h"
#include "message.h"
#include "splines.h"
#include "state.h"
#include "validate.h"

using namespace quarel;

namespace {

struct Rgb {
    unsigned char r, g, b;
};

class Picture {
public:
    Picture(int w, int h, double xmin, double xmax, double ycentre)
        : w_(w), h_(h), pix_(static_cast<size_t>(w) * h, Rgb{255, 255, 255}) {
        scale_ = w / (xmax - xmin);
        x0_ = xmin;
        y0_ = ycentre + 0.5 * h / scale_;
    }
    // Draws the segment between two points of the plane, clipped to the
    // picture.
    void line(double xa, double ya, double xb, double yb, Rgb c) {
        double px = (xa - x0_) * scale_, py = (y0_ - ya) * scale_;
        double qx = (xb - x0_) * scale_, qy = (y0_ - yb) * scale_;
        if (!clip(px, py, qx, qy)) return;
        const int steps = static_cast<int>(std::max(std::fabs(qx - px), std::fabs(qy - py))) + 1;
        for (int s = 0; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            const int ix = static_cast<int>(std::lround(px + t * (qx - px)));
            const int iy = static_cast<int>(std::lround(py + t * (qy - py)));
            if (ix >= 0 && ix < w_ && iy >= 0 && iy < h_)
                pix_[static_cast<size_t>(iy) * w_ + ix] = c;
        }
    }
    bool write(const std::string& name) const {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (!f) return false;
        std::fprintf(f, "P6\n%d %d\n255\n", w_, h_);
        std::fwrite(pix_.data(), sizeof(Rgb), pix_.size(), f);
        return std::fclose(f) == 0;
    }

private:
    // Liang-Barsky clipping to the pixel rectangle.
    bool clip(double& px, double& py, double& qx, double& qy) const {
        if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(qx) || !std::isfinite(qy))
            return false;
        double t0 = 0.0, t1 = 1.0;
        const double dx = qx - px, dy = qy - py;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {px, w_ - 1 - px, py, h_ - 1 - py};
        for (int m = 0; m < 4; ++m) {
            if (p[m] == 0.0) {
                if (q[m] < 0.0) return false;
                continue;
            }
            const double r = q[m] / p[m];
            if (p[m] < 0.0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
            if (t0 > t1) return false;
        }
        const double ax = px + t0 * dx, ay = py + t0 * dy;
        qx = px + t1 * dx;
        qy = py + t1 * dy;
        px = ax;
        py = ay;
        return true;
    }

    int w_, h_;
    std::vector<Rgb> pix_;
    double scale_, x0_, y0_;
};

void draw(Picture& pic, int NX, int NY, int k) {
    const Rgb grey{90, 90, 90}, red{220, 0, 0}, blue{0, 0, 230};
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i < NX; ++i) pic.line(xg(i, j), yg(i, j), xg(i + 1, j), yg(i + 1, j), grey);
    for (int i = 0; i <= NX; ++i)
        for (int j = 1; j < NY; ++j) pic.line(xg(i, j), yg(i, j), xg(i, j + 1), yg(i, j + 1), grey);
    for (int i = 0; i < NX; ++i) {
        const bool body = i >= k && i < NX - k;
        pic.line(xg(i, 1), yg(i, 1), xg(i + 1, 1), yg(i + 1, 1), body ? red : blue);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: %s INPUT.dat OUTPREFIX [NPA NCO NBH Kgrid [POWER]]\n",
                     argv[0]);
        return 2;
    }
    try {
        FileNames names;
        std::snprintf(names.inputName, sizeof names.inputName, "%s", argv[1]);
        double mach, alpha, gamma, swept, diag, maxRes, lead;
        int NPA, NCO, NBH, Kgrid, lin, gmres, liftCorr, regime, designMode, NCONT;
        static ContourInput XCONT, YCONT;
        static GrowthRatios DSGRID;
        ReadGeom(names, mach, alpha, gamma, swept, diag, maxRes, NPA, NCO, NBH, Kgrid, lin, gmres,
                 liftCorr, regime, lead, designMode, NCONT, XCONT, YCONT, DSGRID);
        if (argc >= 7) {
            NPA = std::atoi(argv[3]);
            NCO = std::atoi(argv[4]);
            NBH = std::atoi(argv[5]);
            Kgrid = std::atoi(argv[6]);
        }
        if (argc == 8)
            for (int m : {1, 4, 6, 7, 8, 10, 13})
                DSGRID(m) = std::pow(DSGRID(m), std::atof(argv[7]));
        ValidateGrid(NPA, NCO, NBH, Kgrid, gmres, XCONT, YCONT, NCONT);

        // Fine-grid sizes and the ordinate divisor, as the grid command
        // computes them.
        const GridLevel fine = GridLevel::fine(NPA, NCO, NBH, Kgrid);
        const int npa = fine.npa, NY = fine.NY, k = fine.k, NX = fine.NX;
        const FreeStream flow = FreeStream::of(mach, gamma, alpha, swept);

        double x0, incl;
        PrepContour(XCONT, YCONT, NCONT, npa, x0, incl, flow.ordinateDivisor());
        const int faults = GridGen(NY, k, npa, x0, DSGRID, quarel::GridOptions{});
        std::printf("NX=%d NY=%d k=%d x0=%.6f faults=%d\n", NX, NY, k, x0, faults);
        std::printf("ratios:");
        for (int s = 1; s <= 13; ++s) std::printf(" %.4f", DSGRID(s));
        std::printf("\n");

        double xmin = 1e30, xmax = -1e30, ymin = 1e30, ymax = -1e30;
        for (int j = 1; j <= NY; ++j)
            for (int i = 0; i <= NX; ++i) {
                xmin = std::min(xmin, xg(i, j));
                xmax = std::max(xmax, xg(i, j));
                ymin = std::min(ymin, yg(i, j));
                ymax = std::max(ymax, yg(i, j));
            }
        const double span = std::max(xmax - xmin, ymax - ymin) * 1.04;
        const std::string prefix = argv[2];
        struct View {
            const char* name;
            double xmin, xmax, yc;
        };
        const View views[] = {{"whole", 0.5 * (xmin + xmax) - 0.5 * span,
                               0.5 * (xmin + xmax) + 0.5 * span, 0.5 * (ymin + ymax)},
                              {"far", -0.6, 1.8, 0.0},
                              {"le", -0.04, 0.08, 0.0},
                              {"te", 0.92, 1.12, yg(k, 1)}};
        for (const View& v : views) {
            Picture pic(900, 900, v.xmin, v.xmax, v.yc);
            draw(pic, NX, NY, k);
            const std::string name = prefix + "_" + v.name + ".ppm";
            if (!pic.write(name)) {
                std::fprintf(stderr, "cannot write %s\n", name.c_str());
                return 1;
            }
        }
        // A close view of the first cell that is turned over, if any.
        for (int j = 1; j <= NY - 1; ++j)
            for (int i = 0; i <= NX - 1; ++i) {
                const double area = (xg(i + 1, j + 1) - xg(i, j)) * (yg(i, j + 1) - yg(i + 1, j)) -
                                    (yg(i + 1, j + 1) - yg(i, j)) * (xg(i, j + 1) - xg(i + 1, j));
                if (area < 0.0) continue;
                const double size = 12.0 * std::max(std::fabs(xg(i + 1, j + 1) - xg(i, j)),
                                                    std::fabs(yg(i + 1, j + 1) - yg(i, j)));
                std::printf("first folded cell i=%d j=%d at (%.6g, %.6g)\n", i, j, xg(i, j),
                            yg(i, j));
                Picture pic(900, 900, xg(i, j) - size, xg(i, j) + size, yg(i, j));
                draw(pic, NX, NY, k);
                pic.write(prefix + "_fold.ppm");
                return 3;
            }
        return faults == 0 ? 0 : 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
