// The one toolkit application object shared by every GUI test of a test
// program.  FOX allows a single FXApp per process, so each GUI test file
// calls testApp() instead of building its own.
//
// The application is created on first use with the program's own
// application and vendor names, initialised with a dummy command line and
// created (connected to the X display).  Without a display (DISPLAY unset)
// testApp() returns nullptr and the caller should skip its test: FOX would
// otherwise end the process when it cannot open the display.
#pragma once

#include <fx.h>

#include <cstdlib>

inline FX::FXApp* testApp() {
    static FX::FXApp* app = [] {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || display[0] == '\0') return static_cast<FX::FXApp*>(nullptr);
        // Deliberately never deleted: windows made by the tests refer to it
        // until the process ends.
        auto* a = new FX::FXApp("Quarel", "FOX Quarel");
        static char arg0[] = "quarel_gui_tests";
        static char* argv[] = {arg0, nullptr};
        int argc = 1;
        a->init(argc, argv);
        a->create();
        return a;
    }();
    return app;
}

// Skips the current test when no display is available.
#define QUAREL_REQUIRE_APP()                                      \
    do {                                                          \
        if (testApp() == nullptr) GTEST_SKIP() << "no X display"; \
    } while (0)
