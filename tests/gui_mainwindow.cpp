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
#include <string>
#include <vector>

#include "Quarel.h"
#include "gui_app.h"
#include "state.h"

namespace {

// A main window that records its information boxes instead of running a
// modal dialog.
class RecordingQuarel : public Quarel {
public:
    explicit RecordingQuarel(FXApp* app) : Quarel(app) {}
    void inform(const FXString& caption, const FXString& text) override {
        captions.push_back(caption.text());
        texts.push_back(text.text());
    }
    std::vector<std::string> captions, texts;
};

std::string makeTempDir() {
    char pattern[] = "/tmp/quarel_gui_XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
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
        window = new RecordingQuarel(app);
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
    RecordingQuarel* window = nullptr;
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
    EXPECT_TRUE(w().sweptSpinner->isCyclic());
    EXPECT_FALSE(w().sweptStepSpinner->isCyclic());
    EXPECT_DOUBLE_EQ(w().machStepSpinner->getValue(), 0.01);
    EXPECT_STREQ(w().machStepSpinner->getTipText().text(), "Increment for Mach");
    EXPECT_DOUBLE_EQ(window->runControl().mach, 0.5);

    // "Calculation" without a file says so and changes nothing.
    EXPECT_EQ(command(Quarel::ID_CALCULATE), 1);
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_EQ(window->captions[0], "There's no open DATA file.");
    EXPECT_EQ(window->texts[0], "");
    EXPECT_EQ(window->runControl().runStage, 0);

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
    EXPECT_EQ(rc.NPA, 32);
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
    EXPECT_EQ(rc.NPA, 36);
    EXPECT_EQ(rc.NCO, 8);

    // Grid parameters the arrays cannot hold: a message, and "Calculation"
    // does not become usable.
    w().kgridField->setText("0", TRUE);
    EXPECT_EQ(rc.Kgrid, 0);
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
    EXPECT_DOUBLE_EQ(rc.swept, 10.0);
    EXPECT_DOUBLE_EQ(rc.alpha, 1.5);
    EXPECT_DOUBLE_EQ(rc.mach, 0.6);
    EXPECT_EQ(rc.runStage, 2);
    EXPECT_TRUE(w().calculateButton->isEnabled());

    w().alphaSpinner->setValue(-2.0);
    command(Quarel::ID_ALPHA);
    EXPECT_DOUBLE_EQ(rc.alpha, -2.0);
    EXPECT_DOUBLE_EQ(rc.swept, 10.0);
    w().machSpinner->setValue(0.7);
    command(Quarel::ID_MACH);
    EXPECT_DOUBLE_EQ(rc.mach, 0.7);
    EXPECT_DOUBLE_EQ(rc.alpha, -2.0);

    // The increment spinners leave the steps of the value spinners alone.
    w().alphaStepSpinner->setValue(2.0);
    command(Quarel::ID_ALPHA_STEP);
    EXPECT_DOUBLE_EQ(w().alphaSpinner->getIncrement(), 0.1);
    EXPECT_DOUBLE_EQ(rc.alpha, -2.0);

    // Problem and regime radio buttons.
    command(Quarel::ID_DESIGN);
    EXPECT_EQ(rc.designMode, 1);
    EXPECT_TRUE(w().designRadio->getCheck());
    EXPECT_FALSE(w().analysisRadio->getCheck());
    command(Quarel::ID_ANALYSIS);
    EXPECT_EQ(rc.designMode, 0);
    EXPECT_TRUE(w().analysisRadio->getCheck());
    EXPECT_FALSE(w().designRadio->getCheck());
    command(Quarel::ID_REGIME_MAXTHICK);
    EXPECT_EQ(rc.designRegime, 2);
    EXPECT_TRUE(w().regimeRadio[2]->getCheck());
    EXPECT_FALSE(w().regimeRadio[1]->getCheck());
    command(Quarel::ID_REGIME_BOTH);
    EXPECT_EQ(rc.designRegime, 0);
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
    const quarel::RunControl& rc = window->runControl();
    const int W = w().canvas->getWidth(), H = w().canvas->getHeight();
    EXPECT_DOUBLE_EQ(window->scaleX, window->scaleY);
    EXPECT_LE(window->scaleX * (rc.gxMax - rc.gxMin), W - 50 + 1e-9);
    EXPECT_LE(window->scaleY * (rc.gyMax - rc.gyMin), H - 25 + 1e-9);
    EXPECT_TRUE(std::abs(window->scaleX * (rc.gxMax - rc.gxMin) - (W - 50)) < 1e-6 ||
                std::abs(window->scaleY * (rc.gyMax - rc.gyMin) - (H - 25)) < 1e-6);
    const int drawn = countPixels(FXRGB(0, 0, 0));
    EXPECT_GT(drawn, 1000);

    // A repaint draws the same picture again.
    w().canvas->update();
    w().canvas->repaint();
    EXPECT_EQ(countPixels(FXRGB(0, 0, 0)), drawn);

    // Pan: the extents follow the pointer by the drag over the scale.
    const double x0 = rc.gxMin, x1 = rc.gxMax, y0 = rc.gyMin, y1 = rc.gyMax;
    const double scale = window->scaleX;
    drag(window, 100, 100, 80, 130, false);
    EXPECT_NEAR(rc.gxMin, x0 + 20 / scale, 1e-12);
    EXPECT_NEAR(rc.gxMax, x1 + 20 / scale, 1e-12);
    EXPECT_NEAR(rc.gyMin, y0 + 30 / scale, 1e-12);
    EXPECT_NEAR(rc.gyMax, y1 + 30 / scale, 1e-12);

    // Zoom with Control: dragging upward shows more.
    const double wide = rc.gxMax - rc.gxMin;
    const double zoomScale = window->scaleX;
    drag(window, 100, 100, 100, 90, true);
    EXPECT_NEAR(rc.gxMax - rc.gxMin, wide + 20 / zoomScale, 1e-9);

    // A Control-drag downward far enough to invert the extents changes
    // nothing, and the picture is still drawn.
    const double before[4] = {rc.gxMin, rc.gxMax, rc.gyMin, rc.gyMax};
    drag(window, 100, 0, 100, 100000, true);
    EXPECT_EQ(rc.gxMin, before[0]);
    EXPECT_EQ(rc.gxMax, before[1]);
    EXPECT_EQ(rc.gyMin, before[2]);
    EXPECT_EQ(rc.gyMax, before[3]);
    EXPECT_GT(countPixels(FXRGB(0, 0, 0)), 1000);

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
    EXPECT_EQ(rc.runStage, 3);
    EXPECT_EQ(rc.gridStep, 1);
    EXPECT_GT(rc.clift, 0.05);  // positive incidence lifts
    EXPECT_LT(rc.clift, 1.0);
    const double shown = FXDoubleVal(w().cliftField->getText());
    EXPECT_NEAR(shown, rc.clift, 1e-5 * std::abs(rc.clift));
    EXPECT_EQ(w().cliftCurrentField->getText(), w().cliftField->getText());
    EXPECT_NEAR(FXDoubleVal(w().cdragField->getText()), rc.cdrag, 1e-6);
    // Moment and pressure drag next to them, with tool tips that say what
    // they are.
    EXPECT_NE(rc.cmoment, 0.0);
    EXPECT_NEAR(FXDoubleVal(w().cmomentField->getText()), rc.cmoment, 1e-6);
    EXPECT_NEAR(FXDoubleVal(w().cdragPressureField->getText()), rc.cdragPressure, 1e-6);
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
    std::snprintf(expected, sizeof expected, "Clift= %.6f\nCdrag= %.6f\n", rc.clift, rc.cdrag);
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
    EXPECT_EQ(rc.runStage, 3);
    EXPECT_NEAR(rc.clift, 0.0, 1e-4);  // the symmetric section at zero incidence

    // Design mode cannot be calculated by this version: a message, and
    // the analysis results stay.
    const double lift = rc.clift;
    command(Quarel::ID_DESIGN);
    command(Quarel::ID_CALCULATE);
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_EQ(rc.clift, lift);
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
    EXPECT_EQ(levels, 4u);  // two levels (Kgrid = 2) in each of two runs
}

}  // namespace
