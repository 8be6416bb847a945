// The Cp editor under a real (virtual) X display, driven through the main
// window: "Cp Edit" after an analysis, spline editing switched on, a
// control point dragged with synthesised pointer events, the target and
// the lift values checked, the plot read back, and "Cp design save"
// handing the target to the main window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CpEdit.h"
#include "Quarel.h"
#include "gui_app.h"
#include "gui_window.h"
#include "quarel_job.h"
#include "state.h"

namespace {

// Lets the windows be mapped, exposed and painted, and the fields take
// their values from the bound variables.
void settle(FXApp* app) {
    for (int n = 0; n < 2; ++n) {
        app->flush(true);
        app->runWhileEvents();
        app->repaint();
        app->forceRefresh();
        app->flush(true);
    }
}

// Counts the pixels of a canvas that have the given colour, inside the
// rectangle (x0, y0, w, h) or the whole canvas.
int countPixels(FXApp* app, FXCanvas* canvas, FXColor color, int x0 = 0, int y0 = 0, int w = -1,
                int h = -1) {
    settle(app);
    const int W = canvas->getWidth(), H = canvas->getHeight();
    FXImage image(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, W, H);
    image.create();
    {
        FXDCWindow dc(&image);
        dc.drawArea(canvas, 0, 0, W, H, 0, 0);
    }
    image.restore();
    if (w < 0) w = W;
    if (h < 0) h = H;
    int count = 0;
    for (int y = std::max(0, y0); y < std::min(H, y0 + h); ++y) {
        for (int x = std::max(0, x0); x < std::min(W, x0 + w); ++x) {
            if ((image.getPixel(x, y) & FXRGB(255, 255, 255)) == (color & FXRGB(255, 255, 255)))
                ++count;
        }
    }
    return count;
}

// A pointer event at canvas pixel (x, y).
FXEvent pointerAt(int x, int y) {
    FXEvent ev;
    ev.win_x = ev.last_x = x;
    ev.win_y = ev.last_y = y;
    ev.state = 0;
    return ev;
}

// Sends a pointer message to the canvas itself, which passes it on to the
// dialog as the X server's events would.
void pointer(FXCanvas* canvas, FXSelType type, int x, int y) {
    FXEvent ev = pointerAt(x, y);
    if (type == SEL_LEFTBUTTONPRESS) ev.state = LEFTBUTTONMASK;
    canvas->handle(canvas, FXSEL(type, 0), &ev);
}

class CpEditDialog : public ::testing::Test {
protected:
    void SetUp() override {
        if (testApp() == nullptr) GTEST_SKIP() << "no X display";
        app = testApp();
        scratch = std::make_unique<quarel::testjob::ScratchDir>();
        window = new RecordingQuarel(app);
        window->create();
        settle(app);
    }
    void TearDown() override {
        delete window;  // and its editor
        if (app) app->runWhileEvents();
        scratch.reset();
        // The target array is shared by the whole program: later tests in
        // this process start without one.
        for (int i = 0; i < quarel::kContourSize; ++i) quarel::cps(i) = 0.0;
    }
    // Opens `input`, makes the grid and runs the analysis.
    void analyse(const std::string& input) {
        ASSERT_TRUE(window->openFile(input.c_str()));
        command(Quarel::ID_GRID);
        command(Quarel::ID_CALCULATE);
        ASSERT_TRUE(window->captions.empty()) << window->texts.front();
        ASSERT_EQ(window->runControl().runStage(), 3);
        settle(app);
    }
    long command(FXSelector id) { return window->handle(app, FXSEL(SEL_COMMAND, id), nullptr); }
    // The main window at the left edge of the screen and the editor beside
    // it: windows that cover each other cannot be read back.
    // The two side by side on the 1280-pixel test screen.
    void sideBySide(CpEdit* dialog) {
        window->position(0, 0, 1270 - dialog->getWidth(), window->getHeight());
        dialog->move(window->getWidth() + 10, 0);
        settle(app);
    }
    long dialogCommand(CpEdit* d, FXObject* sender, FXSelector id) {
        return d->handle(sender, FXSEL(SEL_COMMAND, id), nullptr);
    }

    FXApp* app = nullptr;
    RecordingQuarel* window = nullptr;
    std::unique_ptr<quarel::testjob::ScratchDir> scratch;
};

TEST_F(CpEditDialog, DragAControlPointAndHandTheTargetToDesign) {
    quarel::testjob::Job job;
    job.mach = 0.75;
    job.alpha = 1.0;
    job.NPA = 32;
    job.NCO = 8;
    job.NBH = 4;
    job.Kgrid = 2;
    job.maxResidual = 1.0e-7;
    analyse(quarel::testjob::writeJob(scratch->file("wing.dat"), job));
    quarel::RunControl& rc = window->runControl();
    const int NX = rc.level().NX, k = rc.level().k, N = NX - 2 * k;
    ASSERT_EQ(N, 64);

    // Slots of the target outside the body faces must survive the editor.
    for (int i = 0; i < quarel::kContourSize; ++i) quarel::cps(i) = 123.0;

    command(Quarel::ID_CP_EDIT);
    CpEdit* dialog = window->cpEditor();
    ASSERT_NE(dialog, nullptr);
    sideBySide(dialog);
    const CpEdit::Widgets& w = dialog->widgets();
    const quarel::CpEditor& ed = dialog->editor();
    EXPECT_STREQ(dialog->getTitle().text(), "Cp editor 2D");
    EXPECT_EQ(dialog->getWidth(), 600);
    EXPECT_EQ(dialog->getHeight(), 560);
    EXPECT_TRUE(dialog->shown());
    EXPECT_EQ(ed.ready, 1);

    // Right after the analysis both curves coincide: the target holds the
    // computed Cp on exactly the body faces, and "Cyt=" shows what "Cyd="
    // shows, the lift of the analysis.
    for (int i = 0; i < quarel::kContourSize; ++i) {
        if (i < k || i > NX - k - 1) {
            EXPECT_EQ(quarel::cps(i), 123.0) << i;
        } else {
            EXPECT_EQ(quarel::cps(i), quarel::cpf(i)) << i;
        }
    }
    EXPECT_EQ(w.cytField->getText(), w.cydField->getText());
    EXPECT_NEAR(dialog->cyCur, rc.results.cliftCurrent, 1e-12);
    EXPECT_NEAR(FXDoubleVal(w.cydField->getText()), dialog->cyDes, 1e-5);

    // Initial enabling: the upper surface in "Cp correction", spline
    // editing off.
    EXPECT_TRUE(w.surfaceRadio[0]->getCheck());
    EXPECT_TRUE(w.correctionRadio[0]->getCheck());
    EXPECT_TRUE(w.noCorrectionRadio[1]->getCheck());
    EXPECT_TRUE(w.splineCheck[0]->isEnabled());
    EXPECT_TRUE(w.firstSpinner[0]->isEnabled());
    EXPECT_FALSE(w.nsplSpinner->isEnabled());
    EXPECT_FALSE(w.splineCheck[1]->isEnabled());
    EXPECT_FALSE(w.firstSpinner[1]->isEnabled());
    EXPECT_FALSE(w.correctionRadio[1]->isEnabled());
    EXPECT_FALSE(w.cytField->isEnabled());
    EXPECT_FALSE(w.cydField->isEnabled());
    EXPECT_TRUE(w.xField->isEnabled());
    EXPECT_TRUE(w.designSaveButton->isEnabled());
    EXPECT_EQ(w.firstSpinner[0]->getValue(), N / 2 + 2);
    EXPECT_EQ(w.lastSpinner[0]->getValue(), N - 4);
    // The plot: orange grid, black curves and labels, the red stretch bar
    // and mark, no control points yet.
    EXPECT_GT(countPixels(app, w.canvas, fxcolorfromname("Orange")), 300);
    EXPECT_GT(countPixels(app, w.canvas, fxcolorfromname("Black")), 300);
    EXPECT_GT(countPixels(app, w.canvas, fxcolorfromname("Red")), 20);
    // The transonic run has a supersonic region: the sonic line is drawn.
    EXPECT_LT(ed.sonicIndex(quarel::criticalCp(rc.job.mach)), N);
    const int blueBefore = countPixels(app, w.canvas, fxcolorfromname("Blue"));
    EXPECT_GT(blueBefore, 3);

    // Spline editing on: a click on the check button.
    w.splineCheck[0]->setCheck(TRUE, TRUE);
    settle(app);
    EXPECT_EQ(ed.splineOn[0], 1);
    EXPECT_TRUE(w.nsplSpinner->isEnabled());
    EXPECT_EQ(w.nsplSpinner->getValue(), 8);
    EXPECT_GT(countPixels(app, w.canvas, fxcolorfromname("Blue")), blueBefore + 8 * 10);

    // Drag the interior control point 3 upward by 40 pixels.
    const quarel::PlotMapping m{dialog->plotX0, dialog->plotCp0, dialog->plotSx, dialog->plotSy};
    const int cx = m.px(ed.ctlX[3][0]), cy = m.py(ed.ctlCp[3][0]);
    const double liftBefore = dialog->cyDes;
    const std::vector<double> before = ed.cpDes;
    pointer(w.canvas, SEL_MOTION, cx + 1, cy);
    pointer(w.canvas, SEL_LEFTBUTTONPRESS, cx + 1, cy);
    EXPECT_EQ(ed.selCtl, 3);
    pointer(w.canvas, SEL_MOTION, cx + 1, cy - 20);
    pointer(w.canvas, SEL_MOTION, cx + 1, cy - 40);
    pointer(w.canvas, SEL_LEFTBUTTONRELEASE, cx + 1, cy - 40);
    EXPECT_EQ(ed.dragging, 0);
    EXPECT_NEAR(ed.ctlCp[3][0], m.cpAt(cy - 40), 1e-12);
    EXPECT_NEAR(ed.ctlX[3][0], m.xAt(cx + 1), 1e-12);
    settle(app);

    // The stretch changed, nothing else did, and the target follows.
    int changed = 0;
    for (int q = 0; q < N; ++q) {
        if (q < ed.upFirst || q > ed.upLast) {
            EXPECT_EQ(ed.cpDes[q], before[q]) << q;
        } else {
            changed += ed.cpDes[q] != before[q];
        }
        EXPECT_EQ(quarel::cps(NX - k - 1 - q), ed.cpDes[q]) << q;
    }
    EXPECT_GT(changed, 5);
    EXPECT_EQ(quarel::cps(k - 1), 123.0);
    EXPECT_EQ(quarel::cps(NX - k), 123.0);
    // More suction on the upper surface: "Cyd=" rises above "Cyt=", and the
    // main window's target lift follows.
    EXPECT_GT(dialog->cyDes, liftBefore + 0.005);
    EXPECT_NEAR(FXDoubleVal(w.cydField->getText()), dialog->cyDes, 1e-5);
    EXPECT_NE(w.cydField->getText(), w.cytField->getText());
    EXPECT_EQ(rc.results.cliftTarget, dialog->cyDes);
    EXPECT_NEAR(rc.results.clift, rc.results.cliftCurrent, 1e-12);
    // "X=" shows where the pointer is.
    EXPECT_NEAR(FXDoubleVal(w.xField->getText()), m.xAt(cx + 1), 1e-4);
    // The plot shows the selected control point in red where it was
    // dropped.
    EXPECT_GT(countPixels(app, w.canvas, fxcolorfromname("Red"), cx + 1 - 7, cy - 40 - 7, 15, 15),
              10);
    EXPECT_LT(countPixels(app, w.canvas, fxcolorfromname("Blue"), cx + 1 - 7, cy - 40 - 7, 15, 15),
              3);

    // Dragging it past its left neighbour leaves it minGap to the right of
    // it.
    const int left = m.px(ed.ctlX[2][0]);
    pointer(w.canvas, SEL_LEFTBUTTONPRESS, cx + 1, cy - 40);
    pointer(w.canvas, SEL_MOTION, left - 30, cy - 40);
    pointer(w.canvas, SEL_LEFTBUTTONRELEASE, left - 30, cy - 40);
    EXPECT_EQ(ed.ctlX[3][0], ed.ctlX[2][0] + 0.001);

    // A file that does not fit is refused with its line, and the editor
    // keeps its data.
    const std::vector<double> edited = ed.cpDes;
    const std::string bad = scratch->file("bad.txt");
    std::ofstream(bad) << "1 0\n0.5 -0.5\n0.5 -0.6\n0 1\n2.0 0\n1 0\n";
    EXPECT_FALSE(dialog->loadTargetFile(bad));
    EXPECT_NE(dialog->lastError().find("line 5"), std::string::npos) << dialog->lastError();
    EXPECT_EQ(ed.cpDes, edited);
    // Saved and loaded again, the target is the same.
    const std::string table = scratch->file("target.txt");
    ASSERT_TRUE(dialog->saveTargetFile(table));
    ASSERT_TRUE(dialog->loadTargetFile(table));
    for (int q = 0; q < N; ++q) EXPECT_NEAR(ed.cpDes[q], edited[q], 5.0000001e-9) << q;

    // "Cp design save": the main window goes into design mode on the
    // "Inverse" tab and shows the red target curve.
    const Quarel::Widgets& mw = window->widgets();
    EXPECT_FALSE(mw.designRadio->isEnabled());
    dialogCommand(dialog, w.designSaveButton, CpEdit::ID_DESIGN_SAVE);
    settle(app);
    EXPECT_TRUE(window->captions.empty());
    EXPECT_EQ(rc.design.designMode, 1);
    EXPECT_TRUE(mw.designRadio->getCheck());
    EXPECT_FALSE(mw.analysisRadio->getCheck());
    EXPECT_TRUE(mw.designRadio->isEnabled());
    EXPECT_TRUE(mw.analysisRadio->isEnabled());
    EXPECT_TRUE(mw.calculateButton->isEnabled());
    EXPECT_TRUE(mw.inverseTab->isEnabled());
    EXPECT_FALSE(mw.gridTab->isEnabled());
    EXPECT_EQ(mw.tabBook->getCurrent(), 2);
    EXPECT_EQ(window->cpShown, 1);
    EXPECT_GT(countPixels(app, mw.canvas, fxcolorfromname("Red")), 50);
    for (int q = 0; q < N; ++q) EXPECT_EQ(quarel::cps(NX - k - 1 - q), ed.cpDes[q]);
    // The editor stays open with its state.
    EXPECT_TRUE(dialog->shown());
    EXPECT_EQ(ed.splineOn[0], 1);

    // A second "Cp Edit" raises the open editor: still one author of the
    // target, the edits kept.
    command(Quarel::ID_CP_EDIT);
    EXPECT_EQ(window->cpEditor(), dialog);
    EXPECT_EQ(window->cpEditor()->editor().cpDes, ed.cpDes);
    // Once closed, "Cp Edit" builds a fresh editor on the computed Cp.
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
    EXPECT_FALSE(dialog->shown());
    command(Quarel::ID_CP_EDIT);
    CpEdit* fresh = window->cpEditor();
    ASSERT_NE(fresh, nullptr);
    sideBySide(fresh);
    EXPECT_TRUE(fresh->shown());
    EXPECT_EQ(fresh->editor().splineOn[0], 0);
    EXPECT_EQ(fresh->editor().cpDes, fresh->editor().cpCur);

    // After another calculation (here: a changed computed Cp) the open
    // editor shows an earlier one: its hand-over is refused with a message,
    // and "Cp Edit" replaces it by an editor on the new Cp.
    quarel::cpf(NX / 2) += 0.01;
    rc.design.designMode = 0;
    fresh->designSave();
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_EQ(window->captions[0], "Cp Edit");
    EXPECT_EQ(rc.design.designMode, 0);
    command(Quarel::ID_CP_EDIT);
    ASSERT_NE(window->cpEditor(), nullptr);
    EXPECT_TRUE(window->cpEditor()->editor().loadedFrom(NX, k, quarel::cpf.data()));
    EXPECT_TRUE(window->cpEditor()->shown());
}

// Screenshots of the editor on the transonic sample for a look by eye:
// run with --gtest_also_run_disabled_tests and QUAREL_SHOTS=<folder>.
TEST_F(CpEditDialog, DISABLED_Screenshots) {
    const char* shots = std::getenv("QUAREL_SHOTS");
    ASSERT_NE(shots, nullptr);
    const std::string input = scratch->file("naca0012_m080.dat");
    std::filesystem::copy_file(std::string(QUAREL_SOURCE_DIR) + "/examples/naca0012_m080.dat",
                               input);
    analyse(input);
    command(Quarel::ID_CP_EDIT);
    CpEdit* dialog = window->cpEditor();
    ASSERT_NE(dialog, nullptr);
    const CpEdit::Widgets& w = dialog->widgets();
    const quarel::CpEditor& ed = dialog->editor();
    window->hide();
    dialog->move(0, 0);
    auto shot = [&](const char* name) {
        settle(app);
        const std::string cmd =
            "import -window " + std::to_string(dialog->id()) + " " + shots + "/" + name + ".png";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    };
    shot("cpedit_opened");
    w.splineCheck[0]->setCheck(TRUE, TRUE);
    shot("cpedit_spline");
    const quarel::PlotMapping m{dialog->plotX0, dialog->plotCp0, dialog->plotSx, dialog->plotSy};
    const int cx = m.px(ed.ctlX[4][0]), cy = m.py(ed.ctlCp[4][0]);
    pointer(w.canvas, SEL_MOTION, cx, cy);
    pointer(w.canvas, SEL_LEFTBUTTONPRESS, cx, cy);
    pointer(w.canvas, SEL_MOTION, cx + 10, cy - 50);
    pointer(w.canvas, SEL_LEFTBUTTONRELEASE, cx + 10, cy - 50);
    shot("cpedit_dragged");
    dialog->resize(1100, 900);
    shot("cpedit_enlarged");
    // The lower surface with its stretch at the bottom.
    dialogCommand(dialog, w.surfaceRadio[1], CpEdit::ID_LOWER);
    dialogCommand(dialog, w.correctionRadio[1], CpEdit::ID_LO_CORRECTION);
    w.splineCheck[1]->setCheck(TRUE, TRUE);
    shot("cpedit_lower");
}

}  // namespace
