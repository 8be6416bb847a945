// The main window under a real (virtual) X display: the widget states the
// commands leave behind, the values the fields show, the canvas drawing,
// and a whole analysis through the same code paths as the buttons.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quarel.h"
#include "RunProgress.h"
#include "gui_app.h"
#include "gui_window.h"
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
        statusDuringRun = widgets().statusLine->getText().text();
        if (steps == stopAfter) {
            progress.handle(progress.stopButton(), FXSEL(SEL_COMMAND, RunProgress::ID_STOP),
                            nullptr);
        }
    }
    int steps = 0, stopAfter = 0;
    std::string statusDuringRun;
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
    EXPECT_EQ(window->getWidth(), 593);
    EXPECT_EQ(window->getHeight(), 627);

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
    EXPECT_DOUBLE_EQ(hi, 0.9);
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
    // two levels (Kgrid = 2) in each of three runs, and the design run
    EXPECT_EQ(levels, 7u);
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
    EXPECT_EQ(rows[2].rfind("1,upper,", 0), 0u);
    EXPECT_EQ(rows.back().rfind("64,lower,", 0), 0u);
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
