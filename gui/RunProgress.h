// The small window shown while a calculation runs: the level, the Newton
// step, the residual and the lift of the last step, and a "Stop" button
// (Escape does the same).  While it is up, the main window repaints but
// takes no input: what the user clicks or types there meanwhile is dropped,
// not replayed when the calculation ends.
#pragma once

#include <fx.h>

class RunProgress : public FXDialogBox {
    FXDECLARE(RunProgress)

public:
    enum { ID_STOP = FXDialogBox::ID_LAST, ID_LAST };

    explicit RunProgress(FXWindow* owner);

    // Shows `text` and handles the events that arrived since the last call
    // (the Stop button, Escape, repaints of every window); input for other
    // windows is dropped.
    void report(const FXString& text);

    bool stopRequested() const { return stop_; }
    FXButton* stopButton() const { return stopButton_; }

    long onCmdStop(FXObject*, FXSelector, void*);

protected:
    RunProgress() {}

private:
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    FXLabel* text_ = nullptr;
    FXButton* stopButton_ = nullptr;
    bool stop_ = false;
};
