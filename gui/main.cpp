// Entry point of the Quarel program: the toolkit application, the main
// window and the event loop.
#include <fx.h>

#include <cstdio>
#include <cstring>

#include "Quarel.h"

namespace {

// The display named by a "-display NAME" option, or NULL for $DISPLAY.
// Looked up before the toolkit's initialisation, which consumes the option.
const char* displayOption(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-display") == 0) return argv[i + 1];
    }
    return NULL;
}

}  // namespace

int main(int argc, char** argv) {
    FXApp app("Quarel", "FOX Quarel");
    const char* display = displayOption(argc, argv);

    // Connect to the display ourselves: without one the toolkit would
    // abort with a terse message, and a user deserves to know what to do.
    app.init(argc, argv, false);
    if (!app.openDisplay(display)) {
        std::fprintf(stderr,
                     "Quarel needs a graphical display. Run it on a desktop, or under a virtual "
                     "display: xvfb-run -a build/quarel\n");
        return 1;
    }
    new Quarel(&app);
    app.create();
    return app.run();
}
