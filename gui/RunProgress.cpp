#include "RunProgress.h"

// clang-format off
FXDEFMAP(RunProgress) RunProgressMap[] = {
    //________Message_Type____ID___________________________Message_Handler_______
    FXMAPFUNC(SEL_COMMAND,     RunProgress::ID_STOP,        RunProgress::onCmdStop),
    FXMAPFUNC(SEL_COMMAND,     FXDialogBox::ID_CANCEL,      RunProgress::onCmdStop),
};
// clang-format on

FXIMPLEMENT(RunProgress, FXDialogBox, RunProgressMap, ARRAYNUMBER(RunProgressMap))

RunProgress::RunProgress(FXWindow* owner)
    : FXDialogBox(owner, "Calculation", DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, 10, 10, 10, 10, 8,
                  8) {
    // Three lines from the start: the window takes its size from them.
    text_ = new FXLabel(this, "Starting the calculation ...\n\n", NULL,
                        JUSTIFY_LEFT | LAYOUT_FILL_X | LAYOUT_FIX_WIDTH, 0, 0, 360, 0);
    new FXHorizontalSeparator(this, SEPARATOR_GROOVE | LAYOUT_FILL_X);
    FXHorizontalFrame* buttons = new FXHorizontalFrame(this, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
    stopButton_ =
        new FXButton(buttons, "&Stop\tEnd the calculation after the current step (Esc)", NULL, this,
                     ID_STOP, BUTTON_NORMAL | BUTTON_DEFAULT | BUTTON_INITIAL | LAYOUT_RIGHT);
}

void RunProgress::report(const FXString& text) {
    text_->setText(text);
    if (!shown()) return;
    // The modal loop delivers input to this window only; every window
    // still repaints.
    getApp()->runModalWhileEvents(this);
    // Exposed windows are painted when the toolkit is idle, which it is not
    // during a calculation: paint them now.
    getApp()->repaint();
    getApp()->flush();
}

long RunProgress::onCmdStop(FXObject*, FXSelector, void*) {
    stop_ = true;
    stopButton_->disable();
    text_->setText(text_->getText() + "\nStopping after this step ...");
    return 1;
}
