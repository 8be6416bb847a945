// The main window under a real (virtual) X display: the widget states the
// commands leave behind, the values the fields show, the canvas drawing,
// and a whole analysis through the same code paths as the buttons.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BoundaryLayerView.h"
#include "GLView3D.h"
#include "PolarView.h"
#include "Quarel.h"
#include "RunProgress.h"
#include "Sweep.h"
#include "ViscousPanel.h"
#include "gui_app.h"
#include "gui_window.h"
#include "message.h"
#include "state.h"

// After fx.h, which it needs.
#include <FXPNGImage.h>
#include <fxkeys.h>

namespace {

// The recording window that can also press "Stop" during a run.
class TestQuarel : public RecordingQuarel {
public:
    explicit TestQuarel(FXApp* app) : RecordingQuarel(app) {}
    // Presses "Stop" in the progress window after step `stopAfter` of the
    // run (0: never), and records what the window showed meanwhile.
    void afterStep(RunProgress& progress) override {
        ++steps;
        if (onStep) onStep(progress);
        statusDuringRun = widgets().statusLine->getText().text();
        if (steps == stopAfter) {
            progress.handle(progress.stopButton(), FXSEL(SEL_COMMAND, RunProgress::ID_STOP),
                            nullptr);
        }
    }
    int steps = 0, stopAfter = 0;
    std::string statusDuringRun;
    std::function<void(RunProgress&)> onStep;
};

std::string makeTempDir() {
    char pattern[] = "/tmp/quarel_gui_XXXXXX";
    const char* dir = mkdtemp(pattern);
    // Never "/tmp" itself: the test removes its directory afterwards.
    if (dir == nullptr) throw std::runtime_error("no temporary directory could be made");
    return dir;
}

bool fileExists(const std::string& path) {
    return std::ifstream(path).good();
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A NACA 0012 input file in the point-list layout on a small grid (fine
// grid 80 x 17), from the published thickness formula with a closed
// trailing edge: a quick but complete subsonic analysis.
void writeNaca0012(const std::string& path, double mach, double alpha) {
    const int half = 40;
    std::ofstream f(path);
    char line[128];
    f << "NACA 0012 small test grid\n";
    f << "      Mach     Alpha     Swept\n";
    std::snprintf(line, sizeof line, "%10.5f%10.5f%10.5f\n", mach, alpha, 0.0);
    f << line;
    f << "  Diag.dom   Max.res  Lead.bnd\n";
    f << "   0.10000   1.0E-07   0.10000\n";
    f << "       NPA       NCO       NBH     Kgrid\n";
    f << "  32.00000   8.00000   4.00000   2.00000\n";
    f << "      Lin.     GMRES   LiftCor    Regime\n";
    f << "   4.00000  20.00000   0.00000   1.00000\n";
    f << "    Layout    Points\n";
    std::snprintf(line, sizeof line, "%10.5f%10.5f\n", 0.0, double(2 * half + 1));
    f << line;
    f << "         X         Y\n";
    for (int n = 0; n <= 2 * half; ++n) {
        // Upper side from the trailing edge to the leading edge, then back
        // along the lower side; cosine spacing.
        const double theta = M_PI * n / half;
        const double x = 0.5 * (1.0 + std::cos(theta));
        const double t = 0.6 * (0.2969 * std::sqrt(x) - 0.1260 * x - 0.3516 * x * x +
                                0.2843 * x * x * x - 0.1036 * x * x * x * x);
        std::snprintf(line, sizeof line, "%10.5f%10.5f\n", x, n <= half ? t : -t);
        f << line;
    }
    f << "Growth ratios\n";
    f << "1.2001.1501.1501.1501.1501.1501.200\n";
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (testApp() == nullptr) GTEST_SKIP() << "no X display";
        app = testApp();
        dir = makeTempDir();
        window = new TestQuarel(app);
        window->create();
        settle();
    }
    void TearDown() override {
        delete window;  // writes the iteration log into the temporary folder
        if (app) app->runWhileEvents();
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
    // Lets the window be mapped and painted, and the fields take their
    // values from the bound variables.
    void settle() {
        app->flush(true);
        app->runWhileEvents();
        app->forceRefresh();
        app->repaint();
        app->flush(true);
    }
    long command(FXSelector id) { return window->handle(app, FXSEL(SEL_COMMAND, id), nullptr); }
    const Quarel::Widgets& w() const { return window->widgets(); }

    // Counts the pixels of the canvas that have the given colour.
    int countPixels(FXColor color) {
        settle();
        FXCanvas* canvas = w().canvas;
        const int W = canvas->getWidth(), H = canvas->getHeight();
        FXImage image(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, W, H);
        image.create();
        {
            FXDCWindow dc(&image);
            dc.drawArea(canvas, 0, 0, W, H, 0, 0);
        }
        image.restore();
        int count = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                if ((image.getPixel(x, y) & FXRGB(255, 255, 255)) == (color & FXRGB(255, 255, 255)))
                    ++count;
            }
        }
        return count;
    }

    FXApp* app = nullptr;
    TestQuarel* window = nullptr;
    std::string dir;
};

TEST_F(MainWindow, InitialStateMessagesAndWidgets) {
    EXPECT_STREQ(window->getTitle().text(), "Brenvoli Calculation");
    // Room for a Cp plot that can be read, and a smallest size that keeps
    // the panels whole.
    EXPECT_EQ(window->getWidth(), 1100);
    EXPECT_EQ(window->getHeight(), 840);
    EXPECT_GE(window->getDefaultWidth(), 860);
    EXPECT_GE(window->getDefaultHeight(), 660);

    // The window's identifiers continue those of the main window class.
    EXPECT_EQ(static_cast<int>(Quarel::ID_CANVAS), static_cast<int>(FXMainWindow::ID_LAST));
    EXPECT_EQ(Quarel::ID_CP_EDIT - Quarel::ID_CANVAS, 21);
    EXPECT_EQ(Quarel::ID_SAVE - Quarel::ID_CANVAS, 15);

    // Nothing that needs a file can be used yet.
    EXPECT_TRUE(w().openCommand->isEnabled());
    for (FXWindow* off : std::vector<FXWindow*>{
             w().saveButton, w().gridButton, w().gridViewButton, w().calculateButton,
             w().cpViewButton, w().mViewButton, w().cpEditButton, w().analysisRadio,
             w().designRadio, w().gridTab, w().calculationTab, w().inverseTab}) {
        EXPECT_FALSE(off->isEnabled());
    }
    EXPECT_TRUE(w().inverseCalculateButton->isEnabled());
    for (FXRadioButton* r : w().regimeRadio) EXPECT_TRUE(r->isEnabled());
    EXPECT_TRUE(w().regimeRadio[0]->getCheck());
    EXPECT_TRUE(w().analysisRadio->getCheck());
    ASSERT_EQ(w().fields.size(), 24u);  // with Cmoment= and Cdrag(p)= in the output group
    for (FXTextField* field : w().fields) EXPECT_TRUE(field->isEnabled());
    EXPECT_STREQ(w().npaField->getText().text(), "0");
    EXPECT_STREQ(w().kgridField->getText().text(), "0");
    EXPECT_EQ(w().canvas->getDefaultCursor(), app->getDefaultCursor(DEF_CROSSHAIR_CURSOR));

    // Spinners: ranges, steps, wrap-around and the increment tool tips.
    double lo, hi;
    w().alphaSpinner->getRange(lo, hi);
    EXPECT_DOUBLE_EQ(lo, -85.0);
    EXPECT_DOUBLE_EQ(hi, 85.0);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getIncrement(), 0.1);
    w().machSpinner->getRange(lo, hi);
    EXPECT_DOUBLE_EQ(hi, 0.99);  // any subsonic Mach number the solver takes
    EXPECT_DOUBLE_EQ(w().machSpinner->getIncrement(), 0.02);
    EXPECT_DOUBLE_EQ(w().machSpinner->getValue(), 0.5);
    EXPECT_DOUBLE_EQ(w().sweptSpinner->getIncrement(), 1.0);
    EXPECT_FALSE(w().sweptSpinner->isCyclic());  // the values stop at their limits
    EXPECT_FALSE(w().machSpinner->isCyclic());
    EXPECT_FALSE(w().sweptStepSpinner->isCyclic());
    EXPECT_DOUBLE_EQ(w().machStepSpinner->getValue(), 0.01);
    EXPECT_STREQ(w().machStepSpinner->getTipText().text(), "Increment for Mach");
    EXPECT_DOUBLE_EQ(window->runControl().job.mach, 0.5);

    // "Calculation" without a file says so and changes nothing.
    EXPECT_EQ(command(Quarel::ID_CALCULATE), 1);
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_EQ(window->captions[0], "There's no open DATA file.");
    EXPECT_EQ(window->texts[0], "");
    EXPECT_EQ(window->runControl().runStage(), 0);

    // Nothing to draw yet: the canvas stays white, nothing divides by zero.
    command(Quarel::ID_GRID_VIEW);
    window->drawCpPlot();
    EXPECT_EQ(countPixels(FXRGB(0, 0, 0)), 0);
}

TEST_F(MainWindow, OpenShowsTheFileAndABadFileChangesNothing) {
    // A file that does not exist, then one that is not an input file.
    EXPECT_FALSE(window->openFile((dir + "/missing.dat").c_str()));
    const std::string junk = dir + "/junk.dat";
    std::ofstream(junk) << "title\n\nnot a number\n";
    EXPECT_FALSE(window->openFile(junk.c_str()));
    ASSERT_EQ(window->captions.size(), 2u);
    EXPECT_NE(window->texts[0].find("missing.dat"), std::string::npos);
    EXPECT_NE(window->texts[1].find("junk.dat"), std::string::npos);
    EXPECT_TRUE(w().openCommand->isEnabled());
    EXPECT_FALSE(w().gridButton->isEnabled());
    EXPECT_FALSE(w().gridTab->isEnabled());
    settle();
    EXPECT_STREQ(w().npaField->getText().text(), "0");

    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    settle();
    EXPECT_EQ(window->captions.size(), 2u);
    quarel::RunControl& rc = window->runControl();
    EXPECT_EQ(rc.job.NPA, 32);
    EXPECT_STREQ(w().npaField->getText().text(), "32");
    EXPECT_STREQ(w().ncoField->getText().text(), "8");
    EXPECT_STREQ(w().nbhField->getText().text(), "4");
    EXPECT_STREQ(w().kgridField->getText().text(), "2");
    EXPECT_DOUBLE_EQ(w().machSpinner->getValue(), 0.6);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getValue(), 1.5);
    EXPECT_DOUBLE_EQ(w().sweptSpinner->getValue(), 0.0);
    // The regime read from the file is checked, the others are not.
    EXPECT_FALSE(w().regimeRadio[0]->getCheck());
    EXPECT_TRUE(w().regimeRadio[1]->getCheck());
    EXPECT_FALSE(w().regimeRadio[2]->getCheck());

    // The "Open" enabling row.
    EXPECT_FALSE(w().openCommand->isEnabled());
    EXPECT_TRUE(w().gridTab->isEnabled());
    EXPECT_TRUE(w().gridButton->isEnabled());
    for (FXWindow* off :
         std::vector<FXWindow*>{w().saveButton, w().gridViewButton, w().calculateButton,
                                w().cpViewButton, w().mViewButton, w().calculationTab}) {
        EXPECT_FALSE(off->isEnabled());
    }

    // An edit of a field reaches the bound variable, and only that one.
    w().npaField->setText("36", TRUE);
    EXPECT_EQ(rc.job.NPA, 36);
    EXPECT_EQ(rc.job.NCO, 8);

    // Grid parameters the arrays cannot hold: a message, and "Calculation"
    // does not become usable.
    w().kgridField->setText("0", TRUE);
    EXPECT_EQ(rc.job.Kgrid, 0);
    command(Quarel::ID_GRID);
    EXPECT_EQ(window->captions.size(), 3u);
    EXPECT_FALSE(w().calculationTab->isEnabled());
    EXPECT_FALSE(w().calculateButton->isEnabled());
    EXPECT_FALSE(w().gridViewButton->isEnabled());
}

TEST_F(MainWindow, SpinnerAndRadioHandlersChangeOnlyTheirVariable) {
    const std::string input = dir + "/spin.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();

    w().sweptSpinner->setValue(10.0);
    command(Quarel::ID_SWEPT);
    EXPECT_DOUBLE_EQ(rc.job.swept, 10.0);
    EXPECT_DOUBLE_EQ(rc.job.alpha, 1.5);
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.6);
    EXPECT_EQ(rc.runStage(), 2);
    EXPECT_TRUE(w().calculateButton->isEnabled());

    w().alphaSpinner->setValue(-2.0);
    command(Quarel::ID_ALPHA);
    EXPECT_DOUBLE_EQ(rc.job.alpha, -2.0);
    EXPECT_DOUBLE_EQ(rc.job.swept, 10.0);
    w().machSpinner->setValue(0.7);
    command(Quarel::ID_MACH);
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.7);
    EXPECT_DOUBLE_EQ(rc.job.alpha, -2.0);

    // The increment spinners leave the steps of the value spinners alone.
    w().alphaStepSpinner->setValue(2.0);
    command(Quarel::ID_ALPHA_STEP);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getIncrement(), 0.1);
    EXPECT_DOUBLE_EQ(rc.job.alpha, -2.0);

    // Problem and regime radio buttons.
    command(Quarel::ID_DESIGN);
    EXPECT_EQ(rc.design.designMode, 1);
    EXPECT_TRUE(w().designRadio->getCheck());
    EXPECT_FALSE(w().analysisRadio->getCheck());
    command(Quarel::ID_ANALYSIS);
    EXPECT_EQ(rc.design.designMode, 0);
    EXPECT_TRUE(w().analysisRadio->getCheck());
    EXPECT_FALSE(w().designRadio->getCheck());
    command(Quarel::ID_REGIME_MAXTHICK);
    EXPECT_EQ(rc.job.designRegime, 2);
    EXPECT_TRUE(w().regimeRadio[2]->getCheck());
    EXPECT_FALSE(w().regimeRadio[1]->getCheck());
    command(Quarel::ID_REGIME_BOTH);
    EXPECT_EQ(rc.job.designRegime, 0);
    EXPECT_TRUE(w().regimeRadio[0]->getCheck());
    EXPECT_FALSE(w().regimeRadio[2]->getCheck());
    EXPECT_TRUE(window->captions.empty());
}

// A left-button drag on the canvas from (x0, y0) to (x1, y1).
void drag(Quarel* window, int x0, int y0, int x1, int y1, bool control) {
    FXEvent press;
    press.last_x = x0;
    press.last_y = y0;
    press.state = control ? CONTROLMASK : 0;
    window->handle(window->widgets().canvas, FXSEL(SEL_LEFTBUTTONPRESS, Quarel::ID_CANVAS), &press);
    FXEvent release;
    release.state = press.state;
    release.last_x = x1;
    release.last_y = y1;
    window->handle(window->widgets().canvas, FXSEL(SEL_LEFTBUTTONRELEASE, Quarel::ID_CANVAS),
                   &release);
}

TEST_F(MainWindow, GridPictureKeepsEqualScalesAndRefusesInvertedExtents) {
    const std::string input = dir + "/grid.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);  // grid.out goes to the current folder
    EXPECT_EQ(command(Quarel::ID_GRID), 1);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(window->captions.empty()) << window->texts.front();

    // The "grid calculation" enabling row.
    EXPECT_TRUE(w().calculationTab->isEnabled());
    EXPECT_TRUE(w().gridViewButton->isEnabled());
    EXPECT_TRUE(w().calculateButton->isEnabled());
    EXPECT_FALSE(w().cpViewButton->isEnabled());
    EXPECT_EQ(window->gridShown, 1);
    EXPECT_EQ(window->cpShown, 0);

    // Equal scales, and the picture fits inside the margins.
    const int W = w().canvas->getWidth(), H = w().canvas->getHeight();
    EXPECT_DOUBLE_EQ(window->scaleX, window->scaleY);
    EXPECT_LE(window->scaleX * (window->gridExtents.xMax - window->gridExtents.xMin),
              W - 50 + 1e-9);
    EXPECT_LE(window->scaleY * (window->gridExtents.yMax - window->gridExtents.yMin),
              H - 25 + 1e-9);
    EXPECT_TRUE(std::abs(window->scaleX * (window->gridExtents.xMax - window->gridExtents.xMin) -
                         (W - 50)) < 1e-6 ||
                std::abs(window->scaleY * (window->gridExtents.yMax - window->gridExtents.yMin) -
                         (H - 25)) < 1e-6);
    const int drawn = countPixels(FXRGB(0, 0, 0));
    EXPECT_GT(drawn, 1000);

    // A repaint draws the same picture again.
    w().canvas->update();
    w().canvas->repaint();
    EXPECT_EQ(countPixels(FXRGB(0, 0, 0)), drawn);

    // Pan: the extents follow the pointer by the drag over the scale.
    const double x0 = window->gridExtents.xMin, x1 = window->gridExtents.xMax,
                 y0 = window->gridExtents.yMin, y1 = window->gridExtents.yMax;
    const double scale = window->scaleX;
    drag(window, 100, 100, 80, 130, false);
    EXPECT_NEAR(window->gridExtents.xMin, x0 + 20 / scale, 1e-12);
    EXPECT_NEAR(window->gridExtents.xMax, x1 + 20 / scale, 1e-12);
    EXPECT_NEAR(window->gridExtents.yMin, y0 + 30 / scale, 1e-12);
    EXPECT_NEAR(window->gridExtents.yMax, y1 + 30 / scale, 1e-12);

    // Zoom with Control: dragging upward by 100 pixels doubles the extents.
    const double wide = window->gridExtents.xMax - window->gridExtents.xMin;
    drag(window, 100, 200, 100, 100, true);
    EXPECT_NEAR(window->gridExtents.xMax - window->gridExtents.xMin, 2.0 * wide, 1e-9 * wide);

    // A long Control-drag downward zooms in as far as it goes, never turns
    // the picture inside out, and the picture is still drawn.
    drag(window, 100, 0, 100, 190, true);
    EXPECT_NEAR(window->gridExtents.xMax - window->gridExtents.xMin, 2.0 * wide * std::exp2(-1.9),
                1e-9 * wide);
    EXPECT_GT(countPixels(FXRGB(0, 0, 0)), 1000);

    // The picture opened on the section; "Whole Grid" shows the far field,
    // "Grid View" the section again.
    command(Quarel::ID_GRID_WHOLE);
    const quarel::plot::Extents whole = quarel::plot::gridExtents(window->runControl().level());
    EXPECT_EQ(window->gridExtents.xMin, whole.xMin);
    EXPECT_EQ(window->gridExtents.xMax, whole.xMax);
    command(Quarel::ID_GRID_VIEW);
    EXPECT_NEAR(window->gridExtents.xMax - window->gridExtents.xMin, 1.5, 1e-6);

    // Far outside the picture: the segments are clipped, nothing wraps.
    drag(window, 0, 0, 30000, 0, false);
    EXPECT_EQ(countPixels(FXRGB(0, 0, 0)), 0);
}

// Runs the batch program on `input` and returns its "Clift= ...\nCdrag= ..."
// lines.
std::string batchResult(const std::string& input) {
    const std::string command = std::string(QUAREL_BATCH) + " --quiet '" + input + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
    std::string result;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Clift=", 0) == 0 || line.rfind("Cdrag=", 0) == 0) result += line + "\n";
    }
    return result;
}

TEST_F(MainWindow, AnalysisEndToEndMatchesTheBatchProgram) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    command(Quarel::ID_GRID);
    command(Quarel::ID_CALCULATE);
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(window->captions.empty())
        << window->captions.front() << ": " << window->texts.front();
    settle();

    // The run reached the fine grid and the fields show its results.
    EXPECT_EQ(rc.runStage(), 3);
    EXPECT_EQ(rc.level().gridStep, 1);
    EXPECT_GT(rc.results.clift, 0.05);  // positive incidence lifts
    EXPECT_LT(rc.results.clift, 1.0);
    const double shown = FXDoubleVal(w().cliftField->getText());
    EXPECT_NEAR(shown, rc.results.clift, 1e-5 * std::abs(rc.results.clift));
    EXPECT_EQ(w().cliftCurrentField->getText(), w().cliftField->getText());
    EXPECT_NEAR(FXDoubleVal(w().cdragField->getText()), rc.results.cdrag, 1e-6);
    // Moment and pressure drag next to them, with tool tips that say what
    // they are.
    EXPECT_NE(rc.results.cmoment, 0.0);
    EXPECT_NEAR(FXDoubleVal(w().cmomentField->getText()), rc.results.cmoment, 1e-6);
    EXPECT_NEAR(FXDoubleVal(w().cdragPressureField->getText()), rc.results.cdragPressure, 1e-6);
    EXPECT_NE(w().cmomentField->getTipText().find("quarter chord"), -1);
    EXPECT_NE(w().cdragPressureField->getTipText().find("surface pressures"), -1);

    // The "calculation" enabling row after an analysis.
    EXPECT_TRUE(w().cpViewButton->isEnabled());
    EXPECT_TRUE(w().mViewButton->isEnabled());
    EXPECT_TRUE(w().saveButton->isEnabled());
    EXPECT_TRUE(w().cpEditButton->isEnabled());
    EXPECT_FALSE(w().calculateButton->isEnabled());
    EXPECT_EQ(window->cpShown, 1);
    EXPECT_GT(countPixels(FXRGB(0, 0, 0)), 200);  // the curve and the labels
    EXPECT_GT(countPixels(fxcolorfromname("Orange")), 200);
    EXPECT_EQ(countPixels(fxcolorfromname("Red")), 0);  // no target in analysis mode

    // Restart and Cp files beside the input file; Save Result numbers its
    // files.
    EXPECT_TRUE(fileExists(dir + "/wing.ptl"));
    EXPECT_TRUE(fileExists(dir + "/wing.cp"));
    command(Quarel::ID_SAVE);
    command(Quarel::ID_SAVE);
    EXPECT_TRUE(fileExists(dir + "/wing_1.out"));
    EXPECT_TRUE(fileExists(dir + "/wing_2.out"));
    EXPECT_TRUE(window->captions.empty());

    // The batch program on the same input gives the same numbers and the
    // same Cp file.
    const std::string batchDir = dir + "/batch";
    std::filesystem::create_directory(batchDir);
    writeNaca0012(batchDir + "/wing.dat", 0.6, 1.5);
    std::filesystem::current_path(batchDir);
    const std::string batch = batchResult(batchDir + "/wing.dat");
    std::filesystem::current_path(cwd);
    char expected[128];
    std::snprintf(expected, sizeof expected, "Clift= %.6f\nCdrag= %.6f\n", rc.results.clift,
                  rc.results.cdrag);
    EXPECT_EQ(batch, expected);
    EXPECT_EQ(readFile(batchDir + "/wing.cp"), readFile(dir + "/wing.cp"));

    // A second "Calculation" after a spinner change runs again.
    w().alphaSpinner->setValue(0.0);
    command(Quarel::ID_ALPHA);
    EXPECT_TRUE(w().calculateButton->isEnabled());
    std::filesystem::current_path(dir);
    command(Quarel::ID_CALCULATE);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(window->captions.empty());
    EXPECT_EQ(rc.runStage(), 3);
    EXPECT_NEAR(rc.results.clift, 0.0, 1e-4);  // the symmetric section at zero incidence

    // The widgets follow the run control's state, whoever changes it: an
    // accepted target opens the Inverse tab and the problem choice with
    // "Design" checked, and closes the Grid tab.
    EXPECT_FALSE(w().inverseTab->isEnabled());
    EXPECT_FALSE(w().designRadio->isEnabled());
    rc.acceptTarget();
    window->refreshState();
    EXPECT_TRUE(w().inverseTab->isEnabled());
    EXPECT_TRUE(w().designRadio->isEnabled());
    EXPECT_TRUE(w().analysisRadio->isEnabled());
    EXPECT_TRUE(w().designRadio->getCheck());
    EXPECT_FALSE(w().analysisRadio->getCheck());
    EXPECT_FALSE(w().gridTab->isEnabled());
    EXPECT_TRUE(w().calculateButton->isEnabled());
    command(Quarel::ID_ANALYSIS);
    EXPECT_TRUE(w().analysisRadio->getCheck());
    EXPECT_FALSE(w().designRadio->getCheck());

    // In design mode "Calculation" makes a global iteration (here towards
    // the section's own pressures); afterwards the grid command and "Cp
    // Edit" are disabled, the results can be saved.
    for (int i = 0; i <= rc.level().NX; ++i) quarel::cps(i) = quarel::cpf(i);
    command(Quarel::ID_DESIGN);
    std::filesystem::current_path(dir);
    command(Quarel::ID_CALCULATE);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(window->captions.empty());
    EXPECT_EQ(rc.design.globalIteration, 1);
    window->refreshState();
    EXPECT_FALSE(w().gridButton->isEnabled());
    EXPECT_FALSE(w().cpEditButton->isEnabled());
    EXPECT_TRUE(w().saveButton->isEnabled());

    // Closing the window writes the iteration log: a header, then the
    // level titles and iteration lines of both runs.
    delete window;
    window = nullptr;
    const std::string log = readFile(dir + "/wing.itr");
    EXPECT_EQ(log.rfind("<ITR>", 0), 0u);
    std::size_t levels = 0;
    for (std::size_t at = log.find(" Grid: "); at != std::string::npos;
         at = log.find(" Grid: ", at + 1)) {
        ++levels;
    }
    // two levels (Kgrid = 2) in each of the two analyses, the design run,
    // and the fine level on which the analysis of the design continues
    EXPECT_EQ(levels, 6u);
}

}  // namespace

// A calculation shows its progress and can be stopped; a stopped run keeps
// the previous results; results of changed inputs are greyed, and "Save
// Result" and "Save Plot" write what the results were computed with.
TEST_F(MainWindow, ProgressStopStaleResultsAndExport) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    command(Quarel::ID_CALCULATE);
    ASSERT_TRUE(window->captions.empty()) << window->texts.front();
    EXPECT_GT(window->steps, 2);
    EXPECT_NE(window->statusDuringRun.find("Level 2 of 2, 80 x 17"), std::string::npos)
        << window->statusDuringRun;
    settle();
    const double lift = rc.results.clift;
    const FXString liftShown = w().cliftField->getText();
    const std::string cp = readFile(dir + "/wing.cp");
    EXPECT_TRUE(w().cliftField->isEnabled());

    // A changed input greys the results and says so.
    w().alphaSpinner->setValue(3.0);
    command(Quarel::ID_ALPHA);
    settle();
    EXPECT_FALSE(w().cliftField->isEnabled());
    EXPECT_FALSE(w().cdragField->isEnabled());
    EXPECT_NE(std::string(w().statusLine->getText().text()).find("inputs changed"),
              std::string::npos);
    EXPECT_GT(countPixels(fxcolorfromname("Red")), 20);  // the note on the plot
    // "Save Result" writes the angle the results were computed with.
    command(Quarel::ID_SAVE);
    EXPECT_NE(readFile(dir + "/wing_1.out").find("   0.60000   1.50000"), std::string::npos);

    // Stop after the third step: the previous results, files and fields stay.
    window->steps = 0;
    window->stopAfter = 3;
    command(Quarel::ID_CALCULATE);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(window->steps, 3);
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_NE(window->texts[0].find("stopped"), std::string::npos);
    EXPECT_EQ(rc.results.clift, lift);
    EXPECT_EQ(readFile(dir + "/wing.cp"), cp);
    settle();
    EXPECT_EQ(w().cliftField->getText(), liftShown);
    EXPECT_TRUE(w().saveButton->isEnabled());
    EXPECT_TRUE(w().calculateButton->isEnabled());  // it can be run again
    EXPECT_FALSE(w().cliftField->isEnabled());      // still the results of alpha 1.5

    // Export: the picture and the plotted data.
    const std::string png = dir + "/plot.png";
    window->savePlot(png.c_str(), 400, 300);
    const std::string picture = readFile(png);
    ASSERT_GT(picture.size(), 100u);
    EXPECT_EQ(picture.substr(1, 3), "PNG");
    FXPNGImage back(app);
    {
        FXFileStream stream;
        ASSERT_TRUE(stream.open(png.c_str(), FXStreamLoad));
        ASSERT_TRUE(back.loadPixels(stream));
    }
    EXPECT_EQ(back.getWidth(), 400);
    EXPECT_EQ(back.getHeight(), 300);
    const std::string csv = readFile(dir + "/plot.csv");
    std::istringstream lines(csv);
    std::vector<std::string> rows;
    for (std::string l; std::getline(lines, l);) rows.push_back(l);
    ASSERT_EQ(rows.size(), 2u + 64u);  // note, header, one row per body face
    EXPECT_NE(rows[0].find("alpha 1.50000"), std::string::npos);
    EXPECT_EQ(rows[1], "face,surface,x,y,Cp,Mach");
    // Faces numbered as the Cp editor numbers them (0 at the lower trailing
    // edge), rows from the upper trailing edge.
    EXPECT_EQ(rows[2].rfind("63,upper,", 0), 0u);
    EXPECT_EQ(rows.back().rfind("0,lower,", 0), 0u);
}

// Escape in the progress window stops the run as its button does.
TEST_F(MainWindow, EscapeInTheProgressWindowStops) {
    RunProgress progress(window);
    progress.create();
    EXPECT_FALSE(progress.stopRequested());
    FXEvent event;
    event.type = SEL_KEYPRESS;
    event.code = KEY_Escape;
    event.state = 0;
    event.text = "";
    progress.handle(window, FXSEL(SEL_KEYPRESS, 0), &event);
    EXPECT_TRUE(progress.stopRequested());
    EXPECT_FALSE(progress.stopButton()->isEnabled());
}

namespace {

// Pixels of `colour` on a canvas as it is now.
int countCanvasPixels(FXApp* app, FXCanvas* canvas, FXColor colour) {
    const int W = canvas->getWidth(), H = canvas->getHeight();
    FXImage image(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, W, H);
    image.create();
    {
        FXDCWindow dc(&image);
        dc.drawArea(canvas, 0, 0, W, H, 0, 0);
    }
    image.restore();
    int count = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            count +=
                (image.getPixel(x, y) & FXRGB(255, 255, 255)) == (colour & FXRGB(255, 255, 255));
    return count;
}

// Pixels of `colour` in the Cp plot saved as a 600 x 400 picture.
int plotPixels(FXApp* app, Quarel* window, const std::string& png, FXColor colour) {
    window->savePlot(png.c_str(), 600, 400);
    FXPNGImage image(app);
    FXFileStream stream;
    if (!stream.open(png.c_str(), FXStreamLoad) || !image.loadPixels(stream)) return -1;
    int count = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            count +=
                (image.getPixel(x, y) & FXRGB(255, 255, 255)) == (colour & FXRGB(255, 255, 255));
    return count;
}

// Runs the rest of a scope in `dir` (the grid listing goes to the current
// folder).
struct InDir {
    explicit InDir(const std::string& dir) : back(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDir() { std::filesystem::current_path(back); }
    std::filesystem::path back;
};

// Types `text` into a text field and presses Return, as a user does.
void typeInto(FXTextField* field, const char* text) {
    field->setFocus();
    field->selectAll();
    field->handle(field, FXSEL(SEL_COMMAND, FXTextField::ID_DELETE_SEL), nullptr);
    for (const char* c = text; *c; ++c) {
        FXEvent ev;
        ev.type = SEL_KEYPRESS;
        ev.code = static_cast<FXuint>(*c);
        ev.state = 0;
        ev.text = FXString(*c, 1);
        field->handle(field, FXSEL(SEL_KEYPRESS, 0), &ev);
    }
    FXEvent ret;
    ret.type = SEL_KEYPRESS;
    ret.code = KEY_Return;
    ret.state = 0;
    ret.text = "\r";
    field->handle(field, FXSEL(SEL_KEYPRESS, 0), &ret);
}

}  // namespace

// A grid calculation after a run replaces the grid under the results: the
// Cp plot, the Mach view and "Save Result" are out of reach until the next
// calculation, and nothing writes wake rows as surface rows.  The same
// after a new grid whose calculation is stopped.
TEST_F(MainWindow, GridCalculationAfterARunRetiresTheResults) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    InDir inDir(dir);
    command(Quarel::ID_CALCULATE);
    ASSERT_TRUE(rc.hasResults());
    auto retired = [&]() {
        settle();
        EXPECT_FALSE(rc.hasResults());
        EXPECT_FALSE(w().cpViewButton->isEnabled());
        EXPECT_FALSE(w().mViewButton->isEnabled());
        EXPECT_FALSE(w().saveButton->isEnabled());
        EXPECT_FALSE(w().savePlotButton->isEnabled());
        EXPECT_THROW(rc.saveResult(), quarel::FileError);
        // Even asked directly, the canvas draws no curve of the old run.
        command(Quarel::ID_CP_VIEW);
        EXPECT_EQ(countPixels(fxcolorfromname("Blue")), 0);
        EXPECT_EQ(countPixels(FXRGB(0, 0, 0)), 0);
    };
    command(Quarel::ID_GRID);  // NPA unchanged
    retired();

    w().npaField->setText("36", TRUE);
    command(Quarel::ID_GRID);
    window->stopAfter = 2;
    window->steps = 0;
    command(Quarel::ID_CALCULATE);
    EXPECT_EQ(window->steps, 2);
    retired();
    EXPECT_FALSE(fileExists(dir + "/wing_1.out"));
}

// A design global iteration: the progress window and its Stop are up from
// the start, the live curves are not drawn as stale ones, the target stays
// the fine grid's on the coarse levels, the Alpha spinner shows the angle
// the run used and "Cp deviation=" is empty until an iteration measured it.
// Stop during the next iteration puts everything back.
TEST_F(MainWindow, DesignIterationProgressStopAndAngle) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    InDir inDir(dir);
    command(Quarel::ID_CALCULATE);
    ASSERT_TRUE(window->captions.empty()) << window->texts.front();
    // A target with more lift: the iteration turns the angle of attack.
    for (int i = 0; i <= rc.level().NX; ++i) quarel::cps(i) = 1.4 * quarel::cpf(i);
    rc.acceptTarget();
    window->refreshState();
    settle();
    EXPECT_STREQ(w().cpDeviationField->getText().text(), "");
    const std::size_t fineFaces = static_cast<std::size_t>(rc.level().npa);

    int blue = 1 << 30, coarseSteps = 0;
    bool targetFine = true, stopShown = true;
    window->stopAfter = 0;
    window->steps = 0;
    window->onStep = [&](RunProgress& progress) {
        stopShown = stopShown && progress.shown() && progress.stopButton()->shown();
        // The live plot as the window draws it (the canvas itself may be
        // covered by the progress window): the curves are the run's own.
        blue = std::min(blue, plotPixels(app, window, dir + "/live.png", fxcolorfromname("Blue")));
        if (!rc.level().isFine()) {
            ++coarseSteps;
            targetFine = targetFine && window->targetX.size() == fineFaces;
        }
    };
    command(Quarel::ID_CALCULATE);
    for (Quarel::Notice kind : window->kinds) EXPECT_EQ(kind, Quarel::Notice::Warning);
    EXPECT_EQ(rc.design.globalIteration, 1);
    EXPECT_TRUE(stopShown);
    EXPECT_GT(blue, 50);  // the lower surface in its own colour, not greyed
    EXPECT_GT(coarseSteps, 0);
    EXPECT_TRUE(targetFine);
    settle();
    EXPECT_NE(rc.job.alpha, 1.5);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getValue(), rc.job.alpha);
    EXPECT_NE(w().cpDeviationField->getText(), "");
    EXPECT_NEAR(FXDoubleVal(w().cpDeviationField->getText()), rc.results.cpDeviation,
                1e-5 * rc.results.cpDeviation);
    EXPECT_GT(countPixels(fxcolorfromname("Red")), 50);  // the target
    // A warning of the run (on this small grid) stays on the plot after its
    // box was closed.
    ASSERT_FALSE(rc.resultNotes().empty());
    EXPECT_NE(std::string(w().statusLine->getText().text())
                  .find("Warning: " + rc.resultNotes().front().substr(0, 20)),
              std::string::npos)
        << w().statusLine->getText().text();

    // Stop during the second iteration: iteration count, angle and
    // section stay those of the first.
    const double alpha = rc.job.alpha;
    const quarel::RunControl::Outline section = rc.currentSection();
    window->onStep = nullptr;
    window->steps = 0;
    window->stopAfter = 2;
    window->captions.clear();
    window->texts.clear();
    command(Quarel::ID_CALCULATE);
    EXPECT_EQ(window->steps, 2);
    ASSERT_FALSE(window->captions.empty());
    EXPECT_NE(window->texts.back().find("stopped"), std::string::npos);
    EXPECT_EQ(rc.design.globalIteration, 1);
    EXPECT_EQ(rc.job.alpha, alpha);
    EXPECT_EQ(rc.currentSection().y, section.y);
    settle();
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getValue(), alpha);
}

// Errors come with the error icon and name the file; a typed Mach number
// above 0.9 is taken as typed; saving says where it wrote, and "Save Plot"
// asks before it replaces a picture.
TEST_F(MainWindow, ErrorsMachEntryAndSaving) {
    const std::string bad = dir + "/bad.dat";
    std::ofstream(bad) << "Bad section\n1.0 0.0\n0.5 0.06\n0.0 0.0\n0.5 -0.06\n0.9 x\n1.0 0.0\n";
    EXPECT_FALSE(window->openFile(bad.c_str()));
    ASSERT_EQ(window->kinds.size(), 1u);
    EXPECT_EQ(window->kinds[0], Quarel::Notice::Error);
    EXPECT_NE(window->texts[0].find("bad.dat"), std::string::npos);

    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    // A typed 0.95 is taken as typed (the solver takes any subsonic free
    // stream); above the range the field shows where it stopped.
    typeInto(static_cast<FXTextField*>(w().machSpinner->getFirst()), "0.95");
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.95);
    EXPECT_DOUBLE_EQ(w().machSpinner->getValue(), 0.95);
    typeInto(static_cast<FXTextField*>(w().machSpinner->getFirst()), "0.995");
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.99);
    EXPECT_DOUBLE_EQ(FXDoubleVal(static_cast<FXTextField*>(w().machSpinner->getFirst())->getText()),
                     0.99);
    typeInto(static_cast<FXTextField*>(w().machSpinner->getFirst()), "0.6");
    EXPECT_DOUBLE_EQ(rc.job.mach, 0.6);

    InDir inDir(dir);
    command(Quarel::ID_CALCULATE);
    command(Quarel::ID_SAVE);
    EXPECT_EQ(std::string(w().statusLine->getText().text()), "Saved " + dir + "/wing_1.out");

    const std::string png = dir + "/plot.png";
    EXPECT_TRUE(window->savePlotAs(png.c_str()));
    EXPECT_TRUE(window->questions.empty());
    EXPECT_NE(std::string(w().statusLine->getText().text()).find("plot.png"), std::string::npos);
    std::ofstream(png) << "mine";
    window->answer = false;
    EXPECT_FALSE(window->savePlotAs(png.c_str()));
    EXPECT_EQ(window->questions.size(), 1u);
    EXPECT_EQ(readFile(png), "mine");
    window->answer = true;
    EXPECT_TRUE(window->savePlotAs(png.c_str()));
    EXPECT_EQ(readFile(png).substr(1, 3), "PNG");
}

// The section is drawn as soon as a file is open and can be saved both
// ways; Cp curves can be kept (six at most) and cleared; a box dragged on
// the Cp plot zooms to it, a double click shows all of it again, and the
// pointer's x/c and Cp are read out.
TEST_F(MainWindow, SectionKeptCurvesZoomAndReadOut) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    EXPECT_EQ(window->sectionShown, 1);
    EXPECT_GT(countPixels(FXRGB(0, 0, 0)), 300);  // outline, axes, numbers
    quarel::RunControl& rc = window->runControl();
    InDir inDir(dir);
    command(Quarel::ID_CALCULATE);

    // Kept curves: the first one shows once the flow has changed.
    EXPECT_TRUE(window->keepCurrentCp());
    w().alphaSpinner->setValue(0.0);
    command(Quarel::ID_ALPHA);
    command(Quarel::ID_CALCULATE);
    EXPECT_GT(countPixels(fxcolorfromname("Magenta3")), 50);
    for (int n = 2; n <= 6; ++n) EXPECT_TRUE(window->keepCurrentCp());
    settle();
    EXPECT_FALSE(w().keepButton->isEnabled());
    EXPECT_FALSE(window->keepCurrentCp());
    EXPECT_NE(std::string(w().statusLine->getText().text()).find("Six"), std::string::npos);
    command(Quarel::ID_CLEAR_KEPT);
    EXPECT_TRUE(window->kept.curves().empty());
    EXPECT_EQ(countPixels(fxcolorfromname("Magenta3")), 0);

    // Zoom box from (x/c 0.2, Cp -0.5) to (0.6, 0.1), then a double click.
    const quarel::plot::Frame all = window->cpFrame;
    auto pointer = [&](FXSelector type, double x, double cp, FXuint state, int clicks = 1) {
        FXEvent ev;
        ev.type = type;
        ev.state = state;
        ev.click_count = clicks;
        ev.last_x = ev.win_x = static_cast<int>(std::lround(all.px(x)));
        ev.last_y = ev.win_y = static_cast<int>(std::lround(all.py(cp)));
        window->handle(w().canvas, FXSEL(type, Quarel::ID_CANVAS), &ev);
    };
    pointer(SEL_MOTION, 0.5, -0.25, 0);
    const std::string readOut = w().statusLine->getText().text();
    EXPECT_EQ(readOut.rfind("x/c 0.50", 0), 0u) << readOut;
    EXPECT_NE(readOut.find("Cp -0.2"), std::string::npos) << readOut;
    pointer(SEL_LEFTBUTTONPRESS, 0.2, -0.5, 0);
    pointer(SEL_MOTION, 0.6, 0.1, LEFTBUTTONMASK);
    pointer(SEL_LEFTBUTTONRELEASE, 0.6, 0.1, 0);
    ASSERT_TRUE(window->cpZoomed);
    const double px = (all.x1 - all.x0) / (all.right - all.left);
    EXPECT_NEAR(window->cpFrame.x0, 0.2, px);
    EXPECT_NEAR(window->cpFrame.x1, 0.6, px);
    EXPECT_NEAR(window->cpFrame.yTop, -0.5, 0.01);
    EXPECT_NEAR(window->cpFrame.yBottom, 0.1, 0.01);
    pointer(SEL_LEFTBUTTONPRESS, 0.4, 0.0, 0, 2);
    pointer(SEL_LEFTBUTTONRELEASE, 0.4, 0.0, 0, 2);
    EXPECT_FALSE(window->cpZoomed);
    EXPECT_EQ(window->cpFrame.x0, all.x0);
    EXPECT_EQ(window->cpFrame.yBottom, all.yBottom);

    // Save Section: an input file and x y lines that read back as the
    // section; a second save asks first.
    ASSERT_TRUE(window->saveSectionAs((dir + "/shape").c_str()));
    quarel::RunControl back;
    back.open(dir + "/shape.txt");
    const quarel::RunControl::Outline saved = back.inputSection(), now = rc.currentSection();
    ASSERT_EQ(saved.x.size(), now.x.size());
    for (std::size_t n = 0; n < now.x.size(); ++n) {
        EXPECT_NEAR(saved.x[n], now.x[n], 1e-6);  // seven decimals, chord normalised again
        EXPECT_NEAR(saved.y[n], now.y[n], 1e-6);
    }
    quarel::RunControl job;
    job.open(dir + "/shape.dat");
    EXPECT_EQ(job.job.NPA, rc.job.NPA);
    EXPECT_EQ(job.job.mach, rc.job.mach);
    window->answer = false;
    EXPECT_FALSE(window->saveSectionAs((dir + "/shape.dat").c_str()));
    EXPECT_EQ(window->questions.size(), 1u);
}

// A sweep from the window runs the batch program's sweep with the same
// progress window: the polar view fills point by point and saves the
// table; Stop ends the sweep, not just its point.
TEST_F(MainWindow, SweepIntoThePolarViewAndStop) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.6, 1.5);
    ASSERT_TRUE(window->openFile(input.c_str()));
    InDir inDir(dir);
    quarel::SweepSpec spec;
    std::string error;
    ASSERT_TRUE(quarel::ParseSweep("0:2:1", quarel::SweepSpec::Variable::Alpha, spec, error));
    EXPECT_EQ(window->runSweep(spec), 3);
    ASSERT_NE(window->polarView(), nullptr);
    EXPECT_TRUE(window->polarView()->shown());
    const std::vector<quarel::SweepPoint>& points = window->polarView()->points();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_NEAR(points[0].clift, 0.0, 1e-4);  // the symmetric section at zero incidence
    EXPECT_GT(points[1].clift, points[0].clift);
    EXPECT_GT(points[2].clift, points[1].clift);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getValue(), 2.0);  // the job of the last point
    settle();
    EXPECT_GT(countCanvasPixels(app, window->polarView()->canvas(), fxcolorfromname("Blue")), 50);
    window->polarView()->saveTable(dir + "/polar.csv");
    std::istringstream table(readFile(dir + "/polar.csv"));
    std::vector<std::string> rows;
    for (std::string l; std::getline(table, l);) rows.push_back(l);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].rfind("point,alpha,mach,clift,cdrag,cmoment,", 0), 0u);

    window->steps = 0;
    window->stopAfter = 2;
    EXPECT_EQ(window->runSweep(spec), 0);
    EXPECT_EQ(window->steps, 2);
    ASSERT_EQ(window->polarView()->points().size(), 1u);
    EXPECT_TRUE(window->polarView()->points()[0].stopped);
    EXPECT_NE(std::string(w().statusLine->getText().text()).find("stopped"), std::string::npos);
}

// The viscous mode from the Calculation tab: the run is the batch
// program's (the same figures), the boundary-layer plots fill and save,
// the input file saved from the window keeps the settings and an inviscid
// one has none; a viscous design is refused; an inviscid run leaves the
// plots unavailable.  The Mach picture shows both lines of its title.
TEST_F(MainWindow, ViscousRunBoundaryLayerPlotsAndMachTitle) {
    const std::string input = dir + "/wing.dat";
    writeNaca0012(input, 0.5, 2.0);
    ASSERT_TRUE(window->openFile(input.c_str()));
    quarel::RunControl& rc = window->runControl();
    ViscousPanel* panel = w().viscousPanel;
    InDir inDir(dir);
    command(Quarel::ID_GRID);
    ASSERT_TRUE(window->saveSectionAs((dir + "/inviscid.dat").c_str()));
    EXPECT_EQ(readFile(dir + "/inviscid.dat").find("<Reynolds>"), std::string::npos);

    panel->check()->setCheck(TRUE);
    panel->handle(panel->check(), FXSEL(SEL_COMMAND, ViscousPanel::ID_VISCOUS), (void*)1);
    typeInto(panel->reynoldsField(), "3e6");
    EXPECT_EQ(rc.job.viscous.reynolds, 3.0e6);
    command(Quarel::ID_CALCULATE);
    settle();
    const quarel::ViscousResults& v = rc.results.viscous;
    ASSERT_TRUE(v.valid);
    // quarel-batch --re 3e6 on this file: Cdrag(total)= 0.006235,
    // Cdrag(f)= 0.005150, Xtr(upper)= 0.2559, Xtr(lower)= 0.6207.
    EXPECT_NEAR(v.cdTotal, 0.006235, 6e-7);
    EXPECT_NEAR(v.cdFriction, 0.005150, 6e-7);
    EXPECT_NEAR(v.xtrUpper, 0.2559, 6e-5);
    EXPECT_NEAR(v.xtrLower, 0.6207, 6e-5);
    EXPECT_NE(std::string(w().statusLine->getText().text()).find("Cdrag(total) 0.00623"),
              std::string::npos)
        << w().statusLine->getText().text();
    EXPECT_TRUE(panel->viewButton()->isEnabled());
    panel->showView();
    settle();
    BoundaryLayerView* view = panel->view();
    EXPECT_GT(countCanvasPixels(app, view->canvas(), fxcolorfromname("Blue")), 200);
    EXPECT_GT(countCanvasPixels(app, view->canvas(), FXRGB(0, 0, 0)), 200);
    view->savePlot((dir + "/bl.png").c_str());
    EXPECT_TRUE(fileExists(dir + "/bl.png"));
    const std::string csv = readFile(dir + "/bl.csv");
    EXPECT_EQ(csv.rfind("surface,x/c,H,Cf,delta*/c,theta/c,regime\n", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'),
              static_cast<long>(v.layer.upper.st.size() + v.layer.lower.st.size() + 2));

    ASSERT_TRUE(window->saveSectionAs((dir + "/viscous.dat").c_str()));
    std::string title;
    const quarel::JobParameters back = quarel::ReadInputFile(dir + "/viscous.dat", title);
    EXPECT_TRUE(back.viscous.enabled);
    EXPECT_EQ(back.viscous.reynolds, 3.0e6);
    EXPECT_EQ(back.viscous.ncrit, 9.0);

    // A changed viscous input makes the results those of the previous inputs.
    typeInto(panel->reynoldsField(), "4e6");
    EXPECT_TRUE(rc.resultsStale());
    EXPECT_TRUE(rc.calculationOffered());
    typeInto(panel->reynoldsField(), "3e6");

    // A sweep from the window is viscous too: its polar is one of the
    // total drag, and its table has the drag split.
    quarel::SweepSpec spec;
    std::string error;
    ASSERT_TRUE(quarel::ParseSweep("2:3:1", quarel::SweepSpec::Variable::Alpha, spec, error));
    EXPECT_EQ(window->runSweep(spec), 2);
    const quarel::SweepPoint& first = window->polarView()->points()[0];
    EXPECT_TRUE(first.viscous);
    EXPECT_NEAR(first.cdTotal, 0.006235, 6e-7);
    window->polarView()->saveTable(dir + "/polar.csv");
    EXPECT_NE(readFile(dir + "/polar.csv").find(",cdrag_total,cdrag_f,cdrag_p,"),
              std::string::npos);
    window->polarView()->hide();

    {
        command(Quarel::ID_M_VIEW);
        settle();
        GLView3D* mach = dynamic_cast<GLView3D*>(app->getRootWindow()->getLast());
        ASSERT_NE(mach, nullptr);
        EXPECT_TRUE(mach->titleLabel()->getText().contains('\n'));
        EXPECT_GE(mach->titleLabel()->getHeight(), mach->titleLabel()->getDefaultHeight());
        delete mach;
    }

    for (int i = 0; i <= rc.level().NX; ++i) quarel::cps(i) = quarel::cpf(i);
    rc.acceptTarget();
    window->texts.clear();
    command(Quarel::ID_CALCULATE);
    ASSERT_EQ(window->texts.size(), 1u);
    EXPECT_NE(window->texts[0].find("inviscid mode only"), std::string::npos);
    EXPECT_EQ(rc.design.globalIteration, 0);
    rc.setDesignMode(false);

    panel->check()->setCheck(FALSE);
    panel->handle(panel->check(), FXSEL(SEL_COMMAND, ViscousPanel::ID_VISCOUS), (void*)0);
    command(Quarel::ID_CALCULATE);
    settle();
    EXPECT_TRUE(rc.hasResults());
    EXPECT_FALSE(v.valid);
    EXPECT_FALSE(panel->viewButton()->isEnabled());
    EXPECT_EQ(countCanvasPixels(app, view->canvas(), fxcolorfromname("Blue")), 0);
    EXPECT_THROW(view->savePlot((dir + "/bl2.png").c_str()), quarel::FileError);
}

// Screenshots of every view at the default and at the smallest size, for a
// look by eye: run with --gtest_also_run_disabled_tests and
// QUAREL_SHOTS=<folder>.
TEST_F(MainWindow, DISABLED_Screenshots) {
    const char* shots = std::getenv("QUAREL_SHOTS");
    ASSERT_NE(shots, nullptr);
    const std::string input = dir + "/naca0012_m080.dat";
    std::filesystem::copy_file(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012_m080.dat",
                               input);
    InDir inDir(dir);
    window->move(0, 0);
    auto shot = [&](const std::string& name) {
        for (const auto& size :
             {std::make_pair(1100, 800),
              std::make_pair(window->getDefaultWidth(), window->getDefaultHeight())}) {
            window->resize(size.first, size.second);
            settle();
            if (window->cpShown) window->drawCpPlot();
            settle();
            const std::string cmd = "import -window root " + std::string(shots) + "/" + name + "_" +
                                    std::to_string(size.first) + ".png";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
        }
        window->resize(1100, 800);
        settle();
    };
    ASSERT_TRUE(window->openFile(input.c_str()));
    shot("open_section");
    command(Quarel::ID_GRID);
    shot("grid");
    command(Quarel::ID_CALCULATE);
    shot("cp");
    {
        command(Quarel::ID_M_VIEW);
        FXWindow* view = app->getRootWindow()->getLast();
        view->move(0, 0);
        settle();
        ASSERT_EQ(std::system(("import -window root " + std::string(shots) + "/mach.png").c_str()),
                  0);
        delete view;
        settle();
    }
    window->keepCurrentCp();
    w().alphaSpinner->setValue(0.5);
    command(Quarel::ID_ALPHA);
    command(Quarel::ID_CALCULATE);
    window->keepCurrentCp();
    w().alphaSpinner->setValue(2.0);
    command(Quarel::ID_ALPHA);
    command(Quarel::ID_CALCULATE);
    shot("cp_kept");
    const quarel::plot::Frame f = window->cpFrame;
    FXEvent ev;
    ev.click_count = 1;
    ev.state = 0;
    ev.last_x = ev.win_x = static_cast<int>(f.px(0.3));
    ev.last_y = ev.win_y = static_cast<int>(f.py(-1.4));
    window->handle(w().canvas, FXSEL(SEL_LEFTBUTTONPRESS, Quarel::ID_CANVAS), &ev);
    ev.last_x = ev.win_x = static_cast<int>(f.px(0.8));
    ev.last_y = ev.win_y = static_cast<int>(f.py(-0.2));
    window->handle(w().canvas, FXSEL(SEL_LEFTBUTTONRELEASE, Quarel::ID_CANVAS), &ev);
    shot("cp_zoomed");
    command(Quarel::ID_SECTION_VIEW);
    shot("section");
    window->cpZoomed = false;
    w().tabBook->setCurrent(1);
    command(Quarel::ID_CP_VIEW);
    shot("calculation_tab");

    quarel::SweepSpec spec;
    std::string error;
    ASSERT_TRUE(quarel::ParseSweep("-1:3:0.5", quarel::SweepSpec::Variable::Alpha, spec, error));
    window->runSweep(spec);
    window->polarView()->move(0, 0);
    settle();
    ASSERT_EQ(std::system(("import -window root " + std::string(shots) + "/polar.png").c_str()), 0);
    window->polarView()->resize(600, 320);
    settle();
    ASSERT_EQ(
        std::system(("import -window root " + std::string(shots) + "/polar_small.png").c_str()), 0);
    window->polarView()->hide();

    // A design iteration towards a target with more lift on the upper side.
    quarel::RunControl& rc = window->runControl();
    w().alphaSpinner->setValue(1.25);
    command(Quarel::ID_ALPHA);
    command(Quarel::ID_CALCULATE);
    for (int i = 0; i <= rc.level().NX; ++i) quarel::cps(i) = 1.03 * quarel::cpf(i);
    rc.acceptTarget();
    w().tabBook->setCurrent(2);
    window->captions.clear();
    window->texts.clear();
    command(Quarel::ID_CALCULATE);
    command(Quarel::ID_CALCULATE);
    for (std::size_t n = 0; n < window->texts.size(); ++n)
        std::printf("%s: %s\n", window->captions[n].c_str(), window->texts[n].c_str());
    shot("design_cp");
    command(Quarel::ID_SECTION_VIEW);
    shot("design_section");
}

// Screenshots of the viscous mode (Calculation tab, the boundary-layer
// plots and the Mach picture), for a look by eye: run with
// --gtest_also_run_disabled_tests and QUAREL_SHOTS=<folder>.
TEST_F(MainWindow, DISABLED_ViscousScreenshots) {
    const char* shots = std::getenv("QUAREL_SHOTS");
    ASSERT_NE(shots, nullptr);
    const std::string input = dir + "/naca0012.dat";
    std::filesystem::copy_file(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012.dat", input);
    InDir inDir(dir);
    auto shot = [&](const std::string& name) {
        settle();
        const std::string cmd = "import -window root " + std::string(shots) + "/" + name + ".png";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    };
    window->move(0, 0);
    ASSERT_TRUE(window->openFile(input.c_str()));
    w().tabBook->setCurrent(1);
    ViscousPanel* panel = w().viscousPanel;
    panel->check()->setCheck(TRUE);
    panel->handle(panel->check(), FXSEL(SEL_COMMAND, ViscousPanel::ID_VISCOUS), (void*)1);
    typeInto(panel->reynoldsField(), "6e6");
    command(Quarel::ID_CALCULATE);
    window->drawCpPlot();
    shot("viscous_cp_1100");
    window->resize(window->getDefaultWidth(), window->getDefaultHeight());
    settle();
    window->drawCpPlot();
    shot("viscous_cp_min");
    window->resize(1100, 800);
    panel->showView();
    panel->view()->move(0, 0);
    shot("viscous_bl");
    panel->view()->resize(520, 420);
    shot("viscous_bl_small");
    panel->view()->hide();
    command(Quarel::ID_M_VIEW);
    FXWindow* mach = app->getRootWindow()->getLast();
    mach->move(0, 0);
    shot("viscous_mach");
    delete mach;
    quarel::SweepSpec spec;
    std::string error;
    ASSERT_TRUE(quarel::ParseSweep("0:2:0.5", quarel::SweepSpec::Variable::Alpha, spec, error));
    window->runSweep(spec);
    window->polarView()->move(0, 0);
    shot("viscous_polar");
}
