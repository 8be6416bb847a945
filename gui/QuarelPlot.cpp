// The main window's canvas: the grid picture (equal scales, pan and zoom
// with the mouse) and the surface pressure plot.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "JobFiles.h"
#include "Quarel.h"
#include "message.h"

// After fx.h (through Quarel.h), which it needs.
#include <FXPNGImage.h>

#include "plotdraw.h"
#include "plotmath.h"
#include "state.h"

namespace {

// Segments are clipped to this band around the canvas before they are
// converted to the 16-bit coordinates of the window system, so that a
// strongly zoomed picture neither wraps around nor overflows.
constexpr double kClipBand = 2000.0;

}  // namespace

// Draws the points (x(n), y(n)), n = first .. count-1, joined by straight
// segments, in the named colour, solid or dashed; the line style is solid
// again afterwards.  The points are mapped with the grid-picture rule or,
// with cpMapping, with the Cp-plot rule.
void Quarel::polyline(FXDC& dc, const double* x, const double* y, int first, int count,
                      const char* color, bool dashed, bool cpMapping) {
    if (count - first < 2) return;
    const int W = paintW_, H = paintH_;
    std::vector<FXSegment> segments;
    segments.reserve(static_cast<std::size_t>(count - first - 1));
    auto screenX = [&](double v) {
        return cpMapping ? scaleX * (v + xOffset) : marginLeft + scaleX * (v - plotXMin);
    };
    auto screenY = [&](double v) {
        return cpMapping ? scaleY * (v - cpRef) : (H - marginBottom) - scaleY * (v - plotYMin);
    };
    for (int n = first; n + 1 < count; ++n) {
        double x0 = screenX(x[n]), y0 = screenY(y[n]);
        double x1 = screenX(x[n + 1]), y1 = screenY(y[n + 1]);
        if (!quarel::draw::clipSegment(x0, y0, x1, y1, -kClipBand, W + kClipBand, -kClipBand,
                                       H + kClipBand)) {
            continue;
        }
        FXSegment s;
        s.x1 = static_cast<FXshort>(x0);
        s.y1 = static_cast<FXshort>(y0);
        s.x2 = static_cast<FXshort>(x1);
        s.y2 = static_cast<FXshort>(y1);
        segments.push_back(s);
    }
    dc.setLineStyle(dashed ? LINE_ONOFF_DASH : LINE_SOLID);
    dc.setForeground(fxcolorfromname(color));
    if (!segments.empty()) {
        dc.drawLineSegments(segments.data(), static_cast<FXuint>(segments.size()));
    }
    dc.setLineStyle(LINE_SOLID);
}

void Quarel::drawGrid() {
    if (!w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    paintGrid(dc);
}

void Quarel::paintGrid(FXDC& dc) {
    using namespace quarel;
    const int W = w_.canvas->getWidth(), H = w_.canvas->getHeight();
    paintW_ = W;
    paintH_ = H;
    dragX = dragY = -1;
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);

    plotXMin = gridExtents.xMin;
    plotXMax = gridExtents.xMax;
    plotYMin = gridExtents.yMin;
    plotYMax = gridExtents.yMax;
    marginLeft = plot::kMarginLeft;
    marginRight = plot::kMarginRight;
    marginTop = plot::kMarginTop;
    marginBottom = plot::kMarginBottom;
    double scale = 0.0;
    // No room on the canvas, or no grid yet (the extents still hold their
    // seeds): nothing to draw.
    if (!plot::gridScale(W, H, plotXMin, plotXMax, plotYMin, plotYMax, scale)) return;
    scaleX = scaleY = scale;
    // Equal scales leave room in one direction: centre the picture in it.
    plotXMin -= 0.5 * ((W - marginLeft - marginRight) / scale - (plotXMax - plotXMin));
    plotYMin -= 0.5 * ((H - marginTop - marginBottom) / scale - (plotYMax - plotYMin));

    const int nodesI = std::min(rc_.level().fineNX() + 1, kMaxNX + 1);
    const int nodesJ = std::min(rc_.level().fineNY(), kMaxNY);
    if (nodesI < 1 || nodesJ < 1) return;
    std::vector<double> px(static_cast<std::size_t>(nodesI)), py(px.size());
    for (int j = 1; j <= nodesJ; ++j) {
        for (int i = 0; i < nodesI; ++i) {
            px[i] = xg(i, j);
            py[i] = yg(i, j);
        }
        polyline(dc, px.data(), py.data(), 0, nodesI, "Black", false, false);
    }
    std::vector<double> qx(static_cast<std::size_t>(nodesJ)), qy(qx.size());
    for (int i = 0; i < nodesI; ++i) {
        for (int j = 1; j <= nodesJ; ++j) {
            qx[j - 1] = xg(i, j);
            qy[j - 1] = yg(i, j);
        }
        polyline(dc, qx.data(), qy.data(), 0, nodesJ, "Black", false, false);
    }
}

void Quarel::drawCpPlot() {
    cpShown = 1;
    if (!w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    paintCpPlot(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
}

namespace {

// Colours of the Cp plot: the two surfaces of the computed distribution,
// the target of design mode, results of earlier inputs, the critical Cp,
// warnings of the run, the kept reference curves, the start section.
const char* const kUpperColour = "Black";
const char* const kLowerColour = "Blue";
const char* const kTargetColour = "Red";
const char* const kStaleColour = "Gray60";
const char* const kCriticalColour = "ForestGreen";
const char* const kWarningColour = "Firebrick";
const char* const kKeptColours[quarel::plot::KeptCurves::kMax] = {
    "Magenta3", "DarkCyan", "SaddleBrown", "Purple", "OliveDrab", "DeepPink"};
const char* const kStartSectionColour = "SteelBlue";

// The first sentence of a message.
std::string firstSentence(const std::string& text) {
    const std::size_t end = text.find(". ");
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

// `text` cut to `width` pixels with "..." at the end.
FXString fitText(FXFont* font, FXString text, int width) {
    while (text.length() > 4 && font->getTextWidth(text) > width) {
        text.trunc(text.length() - 4);
        text += "...";
    }
    return text;
}

}  // namespace

std::vector<Quarel::HeaderLine> Quarel::cpHeader() const {
    std::vector<HeaderLine> lines;
    const quarel::JobParameters& in = running_ ? rc_.job : rc_.resultsInputs();
    FXString title = rc_.title().c_str();
    if (title.empty()) title = FXPath::name(rc_.files().inputPath.c_str());
    lines.push_back({title + ": surface pressure", "Black"});
    FXString conditions;
    conditions.format("M %.3f   alpha %.3f deg   sweep %.1f deg", in.mach, in.alpha, in.swept);
    FXString results;
    if (running_) {
        results = "   calculating ...";
    } else {
        const quarel::Results& r = rc_.results;
        results.format("      Clift %.5f   Cdrag %.5f   Cmoment %.5f   grid %d x %d", r.clift,
                       r.cdrag, r.cmoment, rc_.level().NX, rc_.level().NY);
        if (rc_.design.designMode == 1 && rc_.design.globalIteration > 0) {
            FXString d;
            d.format("   design iteration %d, Clift current %.5f", rc_.design.globalIteration,
                     r.cliftCurrent);
            results += d;
        }
    }
    lines.push_back({conditions + results, "Black"});
    const quarel::ViscousResults& v = rc_.results.viscous;
    if (!running_ && v.valid) {
        FXString viscous;
        viscous.format(
            "Re %.2fe6: Cdrag(total) %.5f = %.5f f + %.5f p   Xtr upper %.3f, lower %.3f",
            in.viscous.reynolds / 1.0e6, v.cdTotal, v.cdFriction, v.cdTotal - v.cdFriction,
            v.xtrUpper, v.xtrLower);
        lines.push_back({viscous, "Black"});
    }
    const bool stale = !running_ && rc_.resultsStale();
    if (stale) {
        FXString note;
        note.format("Results of the previous inputs: M %g, alpha %g, sweep %g", in.mach, in.alpha,
                    in.swept);
        lines.push_back({note, "Red"});
    }
    // Warnings of the calculation (a strong shock, a lift jump) stay on the
    // plot of its result.
    if (!running_) {
        int shown = 0;
        for (const std::string& note : rc_.resultNotes()) {
            if (++shown > 2) break;
            lines.push_back({("Warning: " + firstSentence(note)).c_str(), kWarningColour});
        }
    }
    return lines;
}

int Quarel::paintHeader(FXDC& dc, const std::vector<HeaderLine>& lines, int W) {
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();
    dc.setFont(font);
    int y = 4;
    for (const HeaderLine& l : lines) {
        // A line too long for the canvas breaks at its wide gaps first.
        std::vector<FXString> parts;
        FXString rest = l.text;
        while (font->getTextWidth(rest) > W - 16 && rest.find("      ") > 0) {
            const FXint gap = rest.find("      ");
            parts.push_back(rest.left(gap));
            rest = rest.mid(gap + 6, rest.length());
        }
        parts.push_back(rest);
        for (const FXString& part : parts) {
            y += textH + 2;
            const FXString text = fitText(font, part, W - 16);
            dc.setForeground(fxcolorfromname(l.colour));
            dc.drawText(8, y - font->getFontDescent(), text.text(), text.length());
        }
    }
    return y + 6;
}

void Quarel::paintOutlines(FXDC& dc, const quarel::plot::Frame& f, bool legend) {
    const quarel::RunControl::Outline current =
        rc_.canViewGrid() ? rc_.currentSection() : rc_.inputSection();
    const bool designed = rc_.design.globalIteration > 0;
    if (designed) {
        const quarel::RunControl::Outline start = rc_.startSection();
        quarel::draw::polyline(dc, f, start.x.data(), start.y.data(),
                               static_cast<int>(start.x.size()), kStartSectionColour, true);
    }
    quarel::draw::polyline(dc, f, current.x.data(), current.y.data(),
                           static_cast<int>(current.x.size()), "Black", false);
    if (!legend) return;
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();
    std::vector<std::pair<const char*, FXString>> entries;
    if (designed) {
        FXString d;
        d.format("designed section (iteration %d)", rc_.design.globalIteration);
        entries.push_back({"Black", d});
        entries.push_back({kStartSectionColour, "start section (dashed)"});
    } else {
        entries.push_back(
            {"Black", rc_.canViewGrid() ? "section on the grid" : "section as read from the file"});
    }
    int y = f.top + textH + 4;
    for (const auto& e : entries) {
        const int tw = font->getTextWidth(e.second);
        const int x = f.right - tw - 8;
        dc.setForeground(fxcolorfromname(e.first));
        dc.fillRectangle(x - 24, y - textH / 2, 18, 3);
        dc.setForeground(fxcolorfromname("Black"));
        dc.drawText(x, y, e.second.text(), e.second.length());
        y += textH + 2;
    }
}

void Quarel::fillCpBuffers(int k, int npa) {
    using namespace quarel;
    if (npa >= 1 && k >= 0 && k + npa + 1 <= kMaxNX) {
        const std::size_t count = static_cast<std::size_t>(npa) + 1;
        if (bodyX_.size() < count) {
            for (std::vector<double>* b : {&bodyX_, &bodyY_, &faceX_, &cpComputed_, &cpTarget_}) {
                b->resize(count, 0.0);
            }
        }
        bxMin = byMin = cpMin = 1.0e30;
        bxMax = byMax = cpMax = -1.0e30;
        for (int n = 0; n <= npa; ++n) {
            bodyX_[n] = xg(k + n, 1);
            bodyY_[n] = yg(k + n, 1);
            faceX_[n] = (xg(k + n, 1) + xg(k + n + 1, 1)) * 0.5;
            cpComputed_[n] = cpf(k + n);
            cpTarget_[n] = cps(k + n);
            bxMin = std::min(bxMin, bodyX_[n]);
            bxMax = std::max(bxMax, bodyX_[n]);
            byMin = std::min(byMin, bodyY_[n]);
            byMax = std::max(byMax, bodyY_[n]);
            if (n < npa) {
                cpMin = std::min(cpMin, cpComputed_[n]);
                cpMax = std::max(cpMax, cpComputed_[n]);
            }
        }
    }
}

// The Cp range of the computed curve, the design target and the kept
// curves (lo: the most negative, hi: the most positive).
std::pair<double, double> Quarel::cpRange() const {
    double lo = cpMin, hi = cpMax;
    if (rc_.design.designMode == 1) {
        for (double v : targetCp) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    for (const quarel::plot::KeptCurve& c : kept.curves()) {
        for (double v : c.cp) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    return {lo, hi};
}

void Quarel::paintCriticalCp(FXDC& dc, const quarel::plot::Frame& f) {
    using namespace quarel;
    FXFont* font = getApp()->getNormalFont();
    // The critical Cp (local Mach 1) as a dashed line, where it is known.
    const double cpStar = rc_.results.cpStar;
    if (rc_.resultsInputs().mach > 0.1 && cpStar < 0.0) {
        const double Y = f.py(cpStar);
        if (Y > f.top && Y < f.bottom) {
            dc.setForeground(fxcolorfromname(kCriticalColour));
            dc.setLineStyle(LINE_ONOFF_DASH);
            dc.drawLine(f.left, static_cast<int>(Y), f.right, static_cast<int>(Y));
            dc.setLineStyle(LINE_SOLID);
            const FXString label = "Cp*";
            dc.drawText(f.right - font->getTextWidth(label) - 4, static_cast<int>(Y) - 3,
                        label.text(), label.length());
        }
    }
}

// The legend in the lower right corner, where a pressure distribution
// leaves room, on white.
void Quarel::paintCpLegend(FXDC& dc, const quarel::plot::Frame& f, bool stale) {
    using namespace quarel;
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();
    std::vector<std::pair<const char*, FXString>> legend = {
        {stale ? kStaleColour : kUpperColour, "upper surface"},
        {stale ? kStaleColour : kLowerColour, "lower surface"}};
    if (rc_.design.designMode == 1 && !targetX.empty()) legend.push_back({kTargetColour, "target"});
    for (std::size_t n = 0; n < kept.curves().size(); ++n)
        legend.push_back({kKeptColours[n], kept.curves()[n].label.c_str()});
    int legendW = 0;
    for (const auto& e : legend) legendW = std::max(legendW, font->getTextWidth(e.second));
    legendW += 36;
    const int legendH = static_cast<int>(legend.size()) * (textH + 2) + 6;
    if (legendW < f.right - f.left - 8 && legendH < f.bottom - f.top - 8) {
        const int lx = f.right - legendW - 4, ly = f.bottom - legendH - 4;
        dc.setForeground(fxcolorfromname("White"));
        dc.fillRectangle(lx, ly, legendW, legendH);
        dc.setForeground(fxcolorfromname("Gray70"));
        dc.drawRectangle(lx, ly, legendW, legendH);
        int y = ly + 3 + textH - font->getFontDescent();
        for (const auto& e : legend) {
            dc.setForeground(fxcolorfromname(e.first));
            dc.fillRectangle(lx + 6, y - textH / 2, 20, 3);
            dc.setForeground(fxcolorfromname("Black"));
            dc.drawText(lx + 30, y, e.second.text(), e.second.length());
            y += textH + 2;
        }
    }
}

// The section in the strip under the Cp frame f, at equal scales on the
// plot's x.
void Quarel::paintSectionStrip(FXDC& dc, const quarel::plot::Frame& f, int H, double thickness) {
    using namespace quarel;
    const int textH = getApp()->getNormalFont()->getFontHeight();
    plot::Frame s;
    s.left = f.left;
    s.right = f.right;
    s.top = f.bottom + 2 * textH + 12;
    s.bottom = H - 4;
    if (s.bottom - s.top >= 8) {
        s.x0 = f.x0;
        s.x1 = f.x1;
        // Equal scales, unless a zoomed plot would leave the section
        // thicker than the strip.
        const double scale =
            std::min((s.right - s.left) / (f.x1 - f.x0), (s.bottom - s.top) / (1.2 * thickness));
        const double half = 0.5 * (s.bottom - s.top) / scale, mid = 0.5 * (byMin + byMax);
        s.yTop = mid + half;
        s.yBottom = mid - half;
        paintOutlines(dc, s, false);
    }
}

void Quarel::paintCpPlot(FXDC& dc, int W, int H) {
    using namespace quarel;
    cpShown = 1;
    paintW_ = W;
    paintH_ = H;
    const int k = rc_.level().k, npa = rc_.level().npa;

    // 1. Plot buffers: body nodes, face centres, computed and target Cp.
    fillCpBuffers(k, npa);

    // 2. White background.  Without results (none yet, or a new grid has
    // replaced them) there is nothing to plot, except the live curves of a
    // run.
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);
    if (npa < 1 || bodyX_.empty()) return;
    if (!rc_.hasResults() && !running_) return;
    const double D = bxMax - bxMin;
    if (!(D > 0.0)) return;

    // 3. Header: the section, the conditions and the results, notes.
    const int top = paintHeader(dc, cpHeader(), W);
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();

    // 4. The axis range covers the computed Cp, the target and the kept
    // curves: the table of tops and bottoms, unless zoomed.
    const plot::CpAxis axis = plot::cpAxisTop(cpRange().first);
    const double bottomCp = plot::cpAxisBottom(cpRange().second);
    cpTop = axis.top;
    cpMax = bottomCp;

    // 5. Layout: the Cp frame, its x labels and title, then a strip with
    // the section at equal scales under it.
    const int labelW = font->getTextWidth("-10.00") + 10;
    const double thickness = std::max(byMax - byMin, 0.02 * D);
    const int plotW = W - labelW - 16;
    int strip = static_cast<int>(std::ceil(thickness / (1.1 * D) * plotW)) + 12;
    strip = std::min(strip, H / 5);
    plot::Frame f;
    f.left = labelW;
    f.right = W - 16;
    f.top = top + textH + 4;
    f.bottom = H - strip - 2 * textH - 16;
    if (f.right - f.left < 60 || f.bottom - f.top < 60) return;
    if (cpZoomed) {
        f.x0 = cpFrame.x0;
        f.x1 = cpFrame.x1;
        f.yTop = cpFrame.yTop;
        f.yBottom = cpFrame.yBottom;
    } else {
        f.x0 = bxMin - 0.05 * D;
        f.x1 = bxMax + 0.05 * D;
        f.yTop = axis.top;
        f.yBottom = bottomCp;
    }
    cpFrame = f;
    plotXMin = f.x0;
    plotXMax = f.x1;
    plotYMin = f.yBottom;
    plotYMax = f.yTop;
    quarel::draw::axes(dc, getApp()->getNormalFont(), f, "x/c", "Cp", true);
    dc.setForeground(fxcolorfromname("Black"));
    dc.drawText(f.left + 4, f.top + textH, "-Cp up", 6);

    const bool stale = !running_ && rc_.resultsStale();
    plotStale = stale;
    paintCriticalCp(dc, f);

    // 6. Kept curves, the target of design mode and the computed pressure
    // distribution: the upper surface from the trailing edge to the
    // leading edge (faces 0 .. npa/2-1), the lower one on to the trailing
    // edge.
    for (std::size_t n = 0; n < kept.curves().size(); ++n) {
        const plot::KeptCurve& c = kept.curves()[n];
        quarel::draw::polyline(dc, f, c.x.data(), c.cp.data(), static_cast<int>(c.x.size()),
                               kKeptColours[n], false);
    }
    if (rc_.design.designMode == 1 && !targetX.empty()) {
        quarel::draw::polyline(dc, f, targetX.data(), targetCp.data(),
                               static_cast<int>(targetX.size()), kTargetColour, false);
    }
    const int lead = npa / 2;
    quarel::draw::polyline(dc, f, faceX_.data(), cpComputed_.data(), lead,
                           stale ? kStaleColour : kUpperColour, false);
    quarel::draw::polyline(dc, f, faceX_.data() + lead - 1, cpComputed_.data() + lead - 1,
                           npa - lead + 1, stale ? kStaleColour : kLowerColour, false);

    // 7. Legend in the lower right corner.
    paintCpLegend(dc, f, stale);

    // 8. The section under the plot, at equal scales on the plot's x.
    paintSectionStrip(dc, f, H, thickness);
}

void Quarel::drawSection() {
    if (!w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    paintSection(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
}

void Quarel::paintSection(FXDC& dc, int W, int H) {
    using namespace quarel;
    paintW_ = W;
    paintH_ = H;
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(0, 0, W, H);
    if (!rc_.fileOpen()) return;
    const RunControl::Outline shown = rc_.canViewGrid() ? rc_.currentSection() : rc_.inputSection();
    double x0, x1, y0, y1;
    if (!plot::paddedRange(shown.x, 0.05, x0, x1) || !plot::paddedRange(shown.y, 0.3, y0, y1))
        return;
    FXString title = rc_.title().c_str();
    if (title.empty()) title = FXPath::name(rc_.files().inputPath.c_str());
    std::vector<HeaderLine> header = {{title + ": section", "Black"}};
    if (rc_.design.globalIteration > 0) {
        FXString d;
        d.format("after %d design iteration%s, largest change of an ordinate in the last %.2E",
                 rc_.design.globalIteration, rc_.design.globalIteration == 1 ? "" : "s",
                 rc_.lastDesign().largestOrdinateChange);
        header.push_back({d, "Black"});
    }
    const int top = paintHeader(dc, header, W);
    FXFont* font = getApp()->getNormalFont();
    const int textH = font->getFontHeight();
    // After design iterations the change of the ordinates, too small to
    // see on the section, gets a plot of its own below it.
    const bool designed = rc_.design.globalIteration > 0 && rc_.canViewGrid();
    plot::Frame f;
    f.left = font->getTextWidth("-0.0000") + 14;
    f.right = W - 16;
    f.top = top + textH + 4;
    f.bottom = designed ? top + (H - top) * 55 / 100 : H - 2 * textH - 16;
    if (f.right - f.left < 60 || f.bottom - f.top < 40) return;
    f.x0 = x0;
    f.x1 = x1;
    f.yTop = y1;
    f.yBottom = y0;
    plot::equalScales(f);
    quarel::draw::axes(dc, font, f, "x/c", "y/c", true);
    paintOutlines(dc, f, true);
    if (!designed) return;

    const RunControl::Outline start = rc_.startSection();
    if (start.x.size() != shown.x.size()) return;
    std::vector<double> dy(shown.y.size());
    for (std::size_t n = 0; n < dy.size(); ++n) dy[n] = shown.y[n] - start.y[n];
    double d0, d1;
    if (!plot::paddedRange(dy, 0.1, d0, d1)) return;
    plot::Frame d;
    d.left = f.left;
    d.right = f.right;
    d.top = f.bottom + 3 * textH + 20;
    d.bottom = H - 2 * textH - 16;
    if (d.bottom - d.top < 40) return;
    d.x0 = x0;
    d.x1 = x1;
    d.yTop = d1;
    d.yBottom = d0;
    quarel::draw::axes(dc, font, d, "x/c", "y designed - y start", true);
    // Upper side (trailing edge to leading edge) and lower side apart.
    const int half = static_cast<int>(dy.size()) / 2;
    quarel::draw::polyline(dc, d, shown.x.data(), dy.data(), half + 1, "Black", false);
    quarel::draw::polyline(dc, d, shown.x.data() + half, dy.data() + half,
                           static_cast<int>(dy.size()) - half, "Blue", false);
    const char* const note = "black: upper side, blue: lower side";
    dc.setForeground(fxcolorfromname("Black"));
    dc.drawText(d.right - font->getTextWidth(note, std::strlen(note)) - 6, d.top + textH + 2, note,
                static_cast<FXuint>(std::strlen(note)));
}

void Quarel::savePlot(const FXString& pngPath, int width, int height) {
    if (!rc_.hasResults()) throw quarel::FileError("There is no Cp plot to save yet.");
    const int W = width > 0 ? width : std::max(w_.canvas->getWidth(), 200);
    const int H = height > 0 ? height : std::max(w_.canvas->getHeight(), 150);
    quarel::draw::savePicture(getApp(), pngPath, W, H, [&](FXDC& dc) { paintCpPlot(dc, W, H); });
    writePlotData((FXPath::stripExtension(pngPath) + ".csv").text());
    // The canvas shows the plot that was saved.
    drawCpPlot();
}

void Quarel::writePlotData(const std::string& path) const {
    using namespace quarel;
    const GridLevel& l = rc_.level();
    const bool design = rc_.design.designMode == 1;
    const JobParameters& in = rc_.resultsInputs();
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line,
                  "# M %.5f, alpha %.5f deg, sweep %.5f deg, Clift %.6f, Cdrag %.6f\n", in.mach,
                  in.alpha, in.swept, rc_.results.clift, rc_.results.cdrag);
    out += line;
    out += design ? "face,surface,x,y,Cp,Mach,Cp target\n" : "face,surface,x,y,Cp,Mach\n";
    const int lead = l.NX / 2;
    for (int i = l.k; i <= l.NX - l.k - 1; ++i) {
        // Faces numbered as the Cp editor numbers them: 0 at the lower
        // trailing edge, round the leading edge to the upper one.
        std::snprintf(line, sizeof line, "%d,%s,%.10f,%.10f,%.10f,%.10f", l.NX - l.k - 1 - i,
                      i < lead ? "upper" : "lower", (xg(i, 1) + xg(i + 1, 1)) * 0.5,
                      (yg(i, 1) + yg(i + 1, 1)) * 0.5, cpf(i), amach(i, 1));
        out += line;
        if (design) {
            std::snprintf(line, sizeof line, ",%.10f", cps(i));
            out += line;
        }
        out += "\n";
    }
    WriteTextFile(path, out, "plot data");
}

long Quarel::onPaint(FXObject*, FXSelector, void* ptr) {
    const FXEvent* event = static_cast<const FXEvent*>(ptr);
    FXDCWindow dc(w_.canvas, const_cast<FXEvent*>(event));
    dc.setForeground(fxcolorfromname("White"));
    dc.fillRectangle(event->rect.x, event->rect.y, event->rect.w, event->rect.h);
    if (cpShown) {
        paintCpPlot(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
    } else if (gridShown) {
        paintGrid(dc);
    } else if (sectionShown) {
        paintSection(dc, w_.canvas->getWidth(), w_.canvas->getHeight());
    }
    return 1;
}

void Quarel::panOrZoom(int releaseX, int releaseY, bool zoom) {
    // The mouse moves the grid picture only while it is the one shown.
    if (!gridShown || cpShown) return;
    const bool moved = quarel::plot::panZoom(gridExtents.xMin, gridExtents.xMax, gridExtents.yMin,
                                             gridExtents.yMax, pressX, pressY, releaseX, releaseY,
                                             zoom, scaleX, scaleY);
    if (!moved) w_.statusLine->setText("The grid picture cannot be moved: there is no grid yet.");
    drawGrid();
}

// While the left button is held on the grid picture, a dashed line from
// the press to the pointer and the status line show what the release will
// do.  The line is drawn with XOR, so drawing it again erases it.
void Quarel::dragFeedback(int x, int y, bool zoom) {
    if (!gridShown || cpShown || !w_.canvas->id()) return;
    FXDCWindow dc(w_.canvas);
    dc.setFunction(BLT_SRC_XOR_DST);
    dc.setForeground(FXRGB(255, 0, 0) ^ FXRGB(255, 255, 255));
    dc.setLineStyle(LINE_ONOFF_DASH);
    if (dragX >= 0) dc.drawLine(pressX, pressY, dragX, dragY);
    dc.drawLine(pressX, pressY, x, y);
    dragX = x;
    dragY = y;
    FXString text;
    if (zoom) {
        const double f = quarel::plot::zoomFactor(pressY, y);
        text.format(f >= 1.0 ? "Zoom out: %.2f times the extent" : "Zoom in: %.2f times the extent",
                    f);
    } else {
        text.format("Pan by %d x %d pixels", x - pressX, y - pressY);
    }
    w_.statusLine->setText(text);
}

// While the left button is held on the Cp plot, an XOR rectangle from the
// press to the pointer shows the box the release will zoom to.
void Quarel::zoomFeedback(int x, int y) {
    if (!cpShown || !w_.canvas->id() || !cpFrame.contains(pressX, pressY)) return;
    FXDCWindow dc(w_.canvas);
    dc.setFunction(BLT_SRC_XOR_DST);
    dc.setForeground(FXRGB(0, 0, 255) ^ FXRGB(255, 255, 255));
    dc.setLineStyle(LINE_ONOFF_DASH);
    auto box = [&](int bx, int by) {
        dc.drawRectangle(std::min(pressX, bx), std::min(pressY, by), std::abs(bx - pressX),
                         std::abs(by - pressY));
    };
    if (dragX >= 0) box(dragX, dragY);
    box(x, y);
    dragX = x;
    dragY = y;
    FXString text;
    text.format("Zoom to x/c %.3f .. %.3f, Cp %.3f .. %.3f (double click: all)",
                cpFrame.xAt(std::min(pressX, x)), cpFrame.xAt(std::max(pressX, x)),
                cpFrame.yAt(std::min(pressY, y)), cpFrame.yAt(std::max(pressY, y)));
    w_.statusLine->setText(text);
}
