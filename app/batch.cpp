// quarel-batch: the grid calculation and analysis run of the main window
// without a display.  Opens the input file as "Open" does, applies the
// overrides as the spinners would, runs "Grid Calculation" and
// "Calculation" on the same run control, prints Clift= and Cdrag= and
// writes the iteration-log file at the end.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <string>

#include "RunControl.h"
#include "message.h"

namespace {

enum Exit {
    kOk = 0,
    kUsage = 1,         // bad command line or an override out of range
    kFile = 2,          // input file unreadable, result or log file not written
    kParameter = 3,     // parameters the grid or the solver cannot take
    kSolver = 4,        // numerical breakdown of the solver
    kNotConverged = 5,  // the fine grid did not converge (residual or lift)
};

const char* const kHelp =
    "Usage: quarel-batch [options] FILE.dat\n"
    "Runs the grid calculation and the coarse-to-fine analysis of FILE.dat, prints\n"
    "the iteration lines and the final Clift= and Cdrag=, and writes the restart\n"
    "and Cp files beside FILE.dat, grid.out in the current directory and the\n"
    "iteration log FILE.itr at the end.\n"
    "\n"
    "Options (applied after the file is read, as the panel spinners would):\n"
    "  --alpha DEG   angle of attack, -85 .. 85 degrees\n"
    "  --mach M      free-stream Mach number, 0 .. 0.9\n"
    "  --swept DEG   sweep angle, 0 .. 85 degrees\n"
    "  --method M    linear solve of the Newton steps: line (restarted GMRES with\n"
    "                the line preconditioner, the default) or inexact (fewer GMRES\n"
    "                iterations, for comparison: on transonic cases it can end with\n"
    "                a lift several per cent off and still pass the level test)\n"
    "  --save        also write the result file FILE_1.out\n"
    "  --quiet       do not print the iteration lines\n"
    "  --help        show this text\n"
    "\n"
    "Exit codes: 0 done; 1 bad command line or value out of range; 2 file error\n"
    "(input unreadable, result or log file not written); 3 parameters the grid or\n"
    "the solver cannot take; 4 solver breakdown; 5 not converged: the fine grid\n"
    "ended without its largest residual below Max.residual and a settled lift (a\n"
    "warning gives both figures; Clift= and Cdrag= are printed but are not those\n"
    "of the grid).\n";

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "quarel-batch: %s\n", text.c_str());
    return code;
}

// Parses a real number that must lie in [lo, hi].
bool parseValue(const char* text, double lo, double hi, double& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= lo && v <= hi)) return false;
    value = v;
    return true;
}

// Shows each warning once (the calculation regenerates the grid and
// repeats the warnings of the grid calculation).
void showWarnings(const std::vector<std::string>& warnings, std::set<std::string>& shown) {
    for (const std::string& w : warnings) {
        if (shown.insert(w).second) std::fprintf(stderr, "warning: %s\n", w.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    struct Override {
        const char* option;
        double lo, hi;
        bool given = false;
        double value = 0.0;
    } overrides[] = {{"--alpha", -85.0, 85.0}, {"--mach", 0.0, 0.9}, {"--swept", 0.0, 85.0}};
    bool save = false, quiet = false;
    quarel::LinearMethod method = quarel::NewtonOptions{}.method;
    std::string file;

    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kOk;
        }
        if (arg == "--save") {
            save = true;
            continue;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg == "--method") {
            if (a + 1 >= argc) return fail(kUsage, arg + " needs a value.");
            const char* text = argv[++a];
            if (!quarel::ParseLinearMethod(text, method)) {
                return fail(kUsage, arg + " " + text + ": the method must be line or inexact.");
            }
            continue;
        }
        bool matched = false;
        for (Override& o : overrides) {
            if (arg != o.option) continue;
            matched = true;
            if (a + 1 >= argc) return fail(kUsage, arg + " needs a value.");
            const char* text = argv[++a];
            if (!parseValue(text, o.lo, o.hi, o.value)) {
                char range[64];
                std::snprintf(range, sizeof range, "%g .. %g", o.lo, o.hi);
                return fail(kUsage,
                            arg + " " + text + ": the value must be a number in " + range + ".");
            }
            o.given = true;
        }
        if (matched) continue;
        if (arg.size() > 1 && arg[0] == '-') return fail(kUsage, "unknown option " + arg + ".");
        if (!file.empty()) return fail(kUsage, "only one input file can be given.");
        file = arg;
    }
    if (file.empty()) return fail(kUsage, "no input file given (see --help).");

    quarel::msg::setQuiet(quiet);
    quarel::RunControl run;
    run.newtonOptions.method = method;
    int code = kOk;
    std::set<std::string> shown;
    try {
        run.open(file);
        if (overrides[0].given) run.alpha = overrides[0].value;
        if (overrides[1].given) run.mach = overrides[1].value;
        if (overrides[2].given) run.swept = overrides[2].value;
        run.flowChanged();
        run.gridCalculation();
        showWarnings(run.warnings, shown);
        const auto outcome = run.calculate();
        showWarnings(run.warnings, shown);
        if (outcome != quarel::RunControl::CalcOutcome::Done) {
            code = fail(kParameter, "no calculation was made.");
        } else {
            std::printf("Clift= %.6f\nCdrag= %.6f\n", run.clift, run.cdrag);
            std::fflush(stdout);
            if (!run.converged) code = fail(kNotConverged, "the solution is not converged.");
            if (save) {
                const std::string path = run.saveResult();
                if (!quiet) std::printf("Result file: %s\n", path.c_str());
            }
        }
    } catch (const quarel::FileError& e) {
        showWarnings(run.warnings, shown);
        code = fail(kFile, e.what());
    } catch (const quarel::ParameterError& e) {
        code = fail(kParameter, e.what());
    } catch (const quarel::SolverError& e) {
        showWarnings(run.warnings, shown);
        code = fail(kSolver, e.what());
    } catch (const std::exception& e) {
        code = fail(kSolver, e.what());
    }
    // As the window does when it closes: the log of everything that ran.
    if (run.fileOpen() && !run.writeIterationLog()) {
        const int c = fail(kFile, "cannot write the iteration log \"" + run.itrPath + "\".");
        if (code == kOk) code = c;
    }
    return code;
}
