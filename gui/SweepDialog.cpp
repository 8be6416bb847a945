#include "SweepDialog.h"

#include <string>

// clang-format off
FXDEFMAP(SweepDialog) SweepDialogMap[] = {
    //________Message_Type____ID___________________________Message_Handler_______
    FXMAPFUNC(SEL_COMMAND,     SweepDialog::ID_ALPHA,       SweepDialog::onCmdAlpha),
    FXMAPFUNC(SEL_COMMAND,     SweepDialog::ID_MACH,        SweepDialog::onCmdMach),
    FXMAPFUNC(SEL_UPDATE,      SweepDialog::ID_ALPHA,       SweepDialog::onUpdAlpha),
    FXMAPFUNC(SEL_UPDATE,      SweepDialog::ID_MACH,        SweepDialog::onUpdMach),
    FXMAPFUNC(SEL_COMMAND,     FXDialogBox::ID_ACCEPT,      SweepDialog::onCmdAccept),
};
// clang-format on

FXIMPLEMENT(SweepDialog, FXDialogBox, SweepDialogMap, ARRAYNUMBER(SweepDialogMap))

namespace {

FXString number(double v) {
    FXString s;
    s.format("%g", v);
    return s;
}

}  // namespace

SweepDialog::SweepDialog(FXWindow* owner, const quarel::SweepSpec& start)
    : FXDialogBox(owner, "Sweep", DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, 10, 10, 10, 10, 8, 8),
      variable_(start.variable) {
    FXGroupBox* which =
        new FXGroupBox(this, "Sweep over", GROUPBOX_TITLE_LEFT | FRAME_GROOVE | LAYOUT_FILL_X);
    new FXRadioButton(which, "Angle of attack (degrees)", this, ID_ALPHA);
    new FXRadioButton(which, "Mach number", this, ID_MACH);
    FXMatrix* fields = new FXMatrix(this, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_X);
    const FXuint options = TEXTFIELD_REAL | JUSTIFY_RIGHT | FRAME_SUNKEN | FRAME_THICK;
    new FXLabel(fields, "From=", NULL, JUSTIFY_RIGHT | LAYOUT_FILL_X);
    from_ = new FXTextField(fields, 10, NULL, 0, options);
    new FXLabel(fields, "To=", NULL, JUSTIFY_RIGHT | LAYOUT_FILL_X);
    to_ = new FXTextField(fields, 10, NULL, 0, options);
    new FXLabel(fields, "Step=", NULL, JUSTIFY_RIGHT | LAYOUT_FILL_X);
    step_ = new FXTextField(fields, 10, NULL, 0, options);
    from_->setText(number(start.from));
    to_->setText(number(start.to));
    step_->setText(number(start.step));
    new FXLabel(this,
                "Each point starts from the one before it on the same grid.\n"
                "The polar view shows the points as they finish.",
                NULL, JUSTIFY_LEFT);
    new FXHorizontalSeparator(this, SEPARATOR_GROOVE | LAYOUT_FILL_X);
    FXHorizontalFrame* buttons = new FXHorizontalFrame(this, LAYOUT_FILL_X | PACK_UNIFORM_WIDTH);
    new FXButton(buttons, "&Cancel", NULL, this, ID_CANCEL, BUTTON_NORMAL | LAYOUT_RIGHT);
    new FXButton(buttons, "&Run", NULL, this, ID_ACCEPT,
                 BUTTON_NORMAL | BUTTON_DEFAULT | BUTTON_INITIAL | LAYOUT_RIGHT);
}

bool SweepDialog::range(quarel::SweepSpec& spec, std::string& error) const {
    const std::string text = std::string(from_->getText().text()) + ":" + to_->getText().text() +
                             ":" + step_->getText().text();
    return quarel::ParseSweep(text, variable_, spec, error);
}

long SweepDialog::onCmdAlpha(FXObject*, FXSelector, void*) {
    variable_ = quarel::SweepSpec::Variable::Alpha;
    return 1;
}

long SweepDialog::onCmdMach(FXObject*, FXSelector, void*) {
    variable_ = quarel::SweepSpec::Variable::Mach;
    return 1;
}

long SweepDialog::onUpdAlpha(FXObject* sender, FXSelector, void*) {
    const bool on = variable_ == quarel::SweepSpec::Variable::Alpha;
    sender->handle(this, FXSEL(SEL_COMMAND, on ? ID_CHECK : ID_UNCHECK), NULL);
    return 1;
}

long SweepDialog::onUpdMach(FXObject* sender, FXSelector, void*) {
    const bool on = variable_ == quarel::SweepSpec::Variable::Mach;
    sender->handle(this, FXSEL(SEL_COMMAND, on ? ID_CHECK : ID_UNCHECK), NULL);
    return 1;
}

// A range that is not one is refused in the dialog, which stays open.
long SweepDialog::onCmdAccept(FXObject* sender, FXSelector sel, void* ptr) {
    quarel::SweepSpec spec;
    std::string error;
    if (!range(spec, error)) {
        FXMessageBox::error(this, MBOX_OK, "Sweep", "%s", error.c_str());
        return 1;
    }
    return FXDialogBox::onCmdAccept(sender, sel, ptr);
}
