// "Sweep": the dialog that asks for a range of angles of attack or Mach
// numbers.  The range is checked by the sweep's own parser, so the window
// takes exactly what the batch program's --alpha-sweep and --mach-sweep
// take.
#pragma once

#include <fx.h>

#include "Sweep.h"

class SweepDialog : public FXDialogBox {
    FXDECLARE(SweepDialog)

public:
    enum { ID_ALPHA = FXDialogBox::ID_LAST, ID_MACH, ID_LAST };

    // Starts with the range `start` (its variable checked).
    SweepDialog(FXWindow* owner, const quarel::SweepSpec& start);

    // The range in the fields; false with a message when it is not one.
    bool range(quarel::SweepSpec& spec, std::string& error) const;

    FXTextField* fromField() const { return from_; }
    FXTextField* toField() const { return to_; }
    FXTextField* stepField() const { return step_; }

    long onCmdAlpha(FXObject*, FXSelector, void*);
    long onCmdMach(FXObject*, FXSelector, void*);
    long onUpdAlpha(FXObject*, FXSelector, void*);
    long onUpdMach(FXObject*, FXSelector, void*);
    long onCmdAccept(FXObject*, FXSelector, void*);

protected:
    SweepDialog() {}

private:
    SweepDialog(const SweepDialog&) = delete;
    SweepDialog& operator=(const SweepDialog&) = delete;

    quarel::SweepSpec::Variable variable_ = quarel::SweepSpec::Variable::Alpha;
    FXTextField* from_ = nullptr;
    FXTextField* to_ = nullptr;
    FXTextField* step_ = nullptr;
};
