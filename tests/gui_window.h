// A main window for the GUI tests that records its information boxes
// instead of running a modal dialog.
#pragma once

#include <string>
#include <vector>

#include "Quarel.h"

class RecordingQuarel : public Quarel {
public:
    explicit RecordingQuarel(FXApp* app) : Quarel(app) {}
    void inform(const FXString& caption, const FXString& text) override {
        captions.push_back(caption.text());
        texts.push_back(text.text());
    }
    std::vector<std::string> captions, texts;
};
