// A main window for the GUI tests that records its message boxes instead
// of running a modal dialog, and answers its questions from `answer`.
#pragma once

#include <string>
#include <vector>

#include "Quarel.h"

class RecordingQuarel : public Quarel {
public:
    explicit RecordingQuarel(FXApp* app) : Quarel(app) {}
    void inform(const FXString& caption, const FXString& text, Notice kind) override {
        captions.push_back(caption.text());
        texts.push_back(text.text());
        kinds.push_back(kind);
    }
    bool confirm(const FXString& caption, const FXString& text) override {
        questions.push_back(std::string(caption.text()) + ": " + text.text());
        return answer;
    }
    std::vector<std::string> captions, texts, questions;
    std::vector<Notice> kinds;
    bool answer = false;
};
