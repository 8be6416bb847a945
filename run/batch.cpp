// quarel-batch: the grid calculation and analysis run of the main window
// without a display.  Opens the input file as "Open" does, applies the
// overrides as the spinners would, runs "Grid Calculation" and
// "Calculation" on the same run control, prints Clift=, Cdrag=, Cmoment=
// and Cdrag(p)= and writes the iteration-log file at the end.  With a
// target, the design global iterations follow and the designed section is
// written as a new input file.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <string>

#include "CaseTable.h"
#include "CoordinateFile.h"
#include "DesignFiles.h"
#include "RunControl.h"
#include "Sweep.h"
#include "ViscousCoupling.h"
#include "cptarget.h"
#include "message.h"
#include "state.h"
#include "validate.h"

namespace {

enum Exit {
    kOk = 0,
    kUsage = 1,      // bad command line or an override out of range
    kFile = 2,       // input file unreadable, result or log file not written
    kParameter = 3,  // parameters the grid or the solver cannot take
    kSolver = 4,     // numerical breakdown of the solver
    kNotConverged =
        5,          // the fine grid did not converge (residual or lift), or a sweep point failed
    kWarnings = 6,  // converged, with a warning about the result (implausible, lift jump)
};

const char* const kHelp =
    "Usage: quarel-batch [options] FILE.dat\n"
    "Runs the grid calculation and the coarse-to-fine analysis of FILE.dat, prints\n"
    "the iteration lines and the final Clift=, Cdrag= (wave drag of the scheme),\n"
    "Cmoment= (about the quarter chord, nose up) and Cdrag(p)= (drag of the\n"
    "surface pressures), and writes the restart and Cp files beside FILE.dat,\n"
    "grid.out in the current directory and the iteration log FILE.itr at the end.\n"
    "\n"
    "FILE may also be a section coordinate file: a name line and x y pairs from\n"
    "the upper trailing edge round the leading edge to the lower trailing edge,\n"
    "or a name line, the point counts of the two surfaces and the upper and\n"
    "lower surfaces from the leading edge.  The grid and convergence settings\n"
    "then come from --template, or built-in defaults.\n"
    "\n"
    "Options (applied after the file is read, as the panel spinners would):\n"
    "  --alpha DEG   angle of attack, -85 .. 85 degrees\n"
    "  --mach M      free-stream Mach number, 0 .. 0.9\n"
    "  --swept DEG   sweep angle, 0 .. 85 degrees\n"
    "  --far-boundary D  distance of the far boundary, 7 (the grid of the input\n"
    "                file, the default) .. 1000 chords; the same grid lines are\n"
    "                spread out to it\n"
    "  --method M    linear solve of the Newton steps: direct (flexible GMRES\n"
    "                preconditioned by complete sparse LU factors of the Newton\n"
    "                matrix on grids of 10000 unknowns or more, by the multilevel\n"
    "                preconditioner on smaller ones; the default) or multilevel\n"
    "                (an incomplete factorisation ordered with the flow and a\n"
    "                two-level V-cycle on every grid) or ilu (the same on one\n"
    "                level) or line (restarted GMRES with the line\n"
    "                preconditioner) or inexact (the line preconditioner with\n"
    "                a loose solve, for comparison: on transonic cases it can end\n"
    "                with a lift several per cent off)\n"
    "  --re RE       viscous analysis at this Reynolds number (chord, free stream):\n"
    "                an integral boundary layer with e^N transition on both\n"
    "                surfaces and the wake, coupled to the potential flow; prints\n"
    "                Cdrag(total)= (Squire-Young from the wake), Cdrag(f)=\n"
    "                (friction), Cdrag(p)= (total minus friction), Xtr(upper)= and\n"
    "                Xtr(lower)=, and writes the layer to FILE.bl\n"
    "  --ncrit N     transition when the envelope reaches e^N (default 9)\n"
    "  --xtr U L     forced transition x/c on the upper and lower surface (1: free)\n"
    "  --entropy     non-isentropic potential: the entropy of the shocks is carried\n"
    "                downstream and lowers the density and pressure behind them\n"
    "  --save        also write the result file FILE_1.out\n"
    "  --quiet       do not print the iteration lines\n"
    "  --alpha-sweep A0:A1:STEP  a polar: one calculation per angle, each started\n"
    "                from the previous converged solution; the table goes to\n"
    "                FILE_sweep.csv and each point's Cp to FILE_sweep_NN.cp\n"
    "  --mach-sweep M0:M1:STEP   the same over Mach numbers\n"
    "  --cold        start every point of a sweep from the free stream\n"
    "  --threads N   threads of the sparse solves (default: QUAREL_THREADS or all\n"
    "                cores; the results are the same for any number)\n"
    "  --template T.dat   take the parameters of a coordinate file from T.dat\n"
    "  --write-input OUT.dat  write the job (parameters and contour) as an input\n"
    "                file of this program and stop\n"
    "  --help        show this text\n"
    "\n"
    "Inverse design (after the analysis of FILE.dat):\n"
    "  --target FILE           target pressures: the computed Cp of a Cp file\n"
    "                          written by this program, or a table of x and Cp\n"
    "                          round the section from the upper trailing edge (read\n"
    "                          before the analysis, so it may be FILE.cp itself)\n"
    "  --design-iterations N   design global iterations to run, 1 .. 200\n"
    "  --regime R              0 design both surfaces, 1 maintain the thickness\n"
    "                          distribution, 2 maintain the maximal thickness\n"
    "                          (default: the regime of FILE.dat)\n"
    "  One line per iteration: iteration, Cp deviation, Clift of the designed\n"
    "  section, Clift of the target, alpha and the largest ordinate change (chord\n"
    "  units).  The designed section is written as FILE_design.dat (an input file\n"
    "  in the program's format, with the corrected alpha) only when every\n"
    "  iteration was made.\n"

    "\n"
    "Exit codes: 0 done; 1 bad command line or value out of range; 2 file error\n"
    "(input or target unreadable or refused, result, log or designed section not\n"
    "written);\n"
    "3 input the grid or the solver cannot take (checked before any work);\n"
    "4 solver breakdown or a refused design iteration; 5 not converged: the fine\n"
    "grid ended without its largest residual below Max.residual and a settled\n"
    "lift (a warning gives both figures; Clift= and Cdrag= are printed but are not\n"
    "those of the grid), or a sweep point failed, or in a design run an analysis\n"
    "did not converge (no designed section is written); 6 converged, but with a\n"
    "warning about the result (a surface Mach number beyond what the isentropic\n"
    "model carries, or a fine-grid lift far from the coarser grid's, or a design\n"
    "whose Cp deviation has stopped falling short of the target).\n";

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

// A polar or Mach sweep: one line per point on standard output, the table
// as CSV beside the input.  Exit 0 when every point converged, 5 otherwise.
int runSweep(quarel::RunControl& run, const quarel::SweepSpec& spec, bool warm, bool quiet) {
    // Every point of the range must be one the solver takes: checked before
    // the first point runs.
    int index = 0;
    for (double value : quarel::SweepValues(spec)) {
        ++index;
        quarel::JobParameters point = run.job;
        (spec.variable == quarel::SweepSpec::Variable::Alpha ? point.alpha : point.mach) = value;
        try {
            quarel::ValidateFlow(point.mach, point.alpha, point.swept, point.diagDom,
                                 point.maxResidual, point.linearIterations);
        } catch (const quarel::ParameterError& e) {
            throw quarel::ParameterError("sweep point " + std::to_string(index) +
                                         " cannot be calculated, so no point was run: " + e.what());
        }
    }
    quarel::msg::setQuiet(true);  // the iteration lines of every point would drown the table
    std::printf(
        "point     alpha      mach      Clift      Cdrag  converged  levels  steps  time/s\n");
    const auto points = quarel::RunSweep(run, spec, warm, [&](const quarel::SweepPoint& p) {
        if (p.done) {
            std::printf("%5d %9.4f %9.4f %10.6f %10.6f  %-9s  %6d  %5d  %6.2f\n", p.index, p.alpha,
                        p.mach, p.clift, p.cdrag, p.converged ? "yes" : "no", p.levels, p.steps,
                        p.seconds);
        } else {
            std::printf("%5d %9.4f %9.4f  failed: %s\n", p.index, p.alpha, p.mach,
                        p.problem.c_str());
        }
        std::fflush(stdout);
    });
    quarel::msg::setQuiet(quiet);
    const std::string input = run.files().inputPath;
    const std::string table = input.substr(0, input.size() - 4) + "_sweep.csv";
    int code = kOk;
    try {
        quarel::WriteTextFile(table, quarel::SweepTable(points), "sweep table");
        if (!quiet) std::printf("Sweep table: %s\n", table.c_str());
    } catch (const std::exception& e) {
        code = fail(kFile, e.what());
    }
    for (const quarel::SweepPoint& p : points) {
        if (!p.done || !p.converged) {
            if (code == kOk) code = kNotConverged;
        }
    }
    if (!run.writeIterationLog() && code == kOk)
        code = fail(kFile, "cannot write the iteration log \"" + run.files().itrPath + "\".");
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Case tables (--cases, --shard, --merge) have their own options.
    if (quarel::IsCaseCommand(argc, argv)) return quarel::CaseCommand(argc, argv);
    struct Override {
        const char* option;
        double lo, hi;
        bool given = false;
        double value = 0.0;
    } overrides[] = {{"--alpha", -85.0, 85.0},
                     {"--mach", 0.0, 0.9},
                     {"--swept", 0.0, 85.0},
                     {"--far-boundary", quarel::kMinFarBoundary, quarel::kMaxFarBoundary}};
    bool save = false, quiet = false, entropy = false;
    std::string templatePath, writeInput;
    quarel::SweepSpec sweep;
    bool sweeping = false, cold = false;
    quarel::LinearMethod method = quarel::NewtonOptions{}.method;
    int threads = quarel::NewtonOptions{}.threads;
    std::string file;
    // Inverse design.
    std::string targetFile;
    int designIterations = 0, designRegime = -1;
    // Viscous analysis.
    quarel::ViscousOptions viscous;
    bool viscousGiven = false;

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
        if (arg == "--entropy") {
            entropy = true;
            continue;
        }
        if (arg == "--alpha-sweep" || arg == "--mach-sweep") {
            if (a + 1 >= argc) return fail(kUsage, arg + " needs FROM:TO:STEP.");
            std::string error;
            const auto variable = arg == "--alpha-sweep" ? quarel::SweepSpec::Variable::Alpha
                                                         : quarel::SweepSpec::Variable::Mach;
            if (!quarel::ParseSweep(argv[++a], variable, sweep, error))
                return fail(kUsage, arg + " " + error);
            sweeping = true;
            continue;
        }
        if (arg == "--cold") {
            cold = true;
            continue;
        }
        if (arg == "--threads") {
            double v = 0.0;
            if (a + 1 >= argc || !parseValue(argv[++a], 1.0, 256.0, v) || v != static_cast<int>(v))
                return fail(kUsage, "--threads needs a whole number in 1 .. 256.");
            threads = static_cast<int>(v);
            continue;
        }
        if (arg == "--template" || arg == "--write-input") {
            if (a + 1 >= argc) return fail(kUsage, arg + " needs a file name.");
            (arg == "--template" ? templatePath : writeInput) = argv[++a];
            continue;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg == "--target" || arg == "--design-iterations" || arg == "--regime") {
            if (a + 1 >= argc) return fail(kUsage, arg + " needs a value.");
            const char* text = argv[++a];
            double v = 0.0;
            if (arg == "--target") {
                targetFile = text;
            } else if (arg == "--design-iterations") {
                if (!parseValue(text, 1.0, 200.0, v) || v != static_cast<int>(v))
                    return fail(kUsage, arg + " " + text +
                                            ": the value must be a whole number "
                                            "in 1 .. 200.");
                designIterations = static_cast<int>(v);
            } else {
                if (!parseValue(text, 0.0, 2.0, v) || v != static_cast<int>(v))
                    return fail(kUsage, arg + " " + text + ": the value must be 0, 1 or 2.");
                designRegime = static_cast<int>(v);
            }
            continue;
        }
        if (arg == "--re" || arg == "--ncrit" || arg == "--xtr") {
            const int values = arg == "--xtr" ? 2 : 1;
            if (a + values >= argc) return fail(kUsage, arg + " needs a value.");
            for (int n = 0; n < values; ++n) {
                const char* text = argv[++a];
                double v = 0.0;
                const double lo = arg == "--re" ? 1.0e4 : 0.0;
                const double hi = arg == "--re" ? 1.0e9 : arg == "--ncrit" ? 20.0 : 1.0;
                if (!parseValue(text, lo, hi, v)) {
                    char range[64];
                    std::snprintf(range, sizeof range, "%g .. %g", lo, hi);
                    return fail(kUsage, arg + " " + text + ": the value must be a number in " +
                                            range + ".");
                }
                if (arg == "--re") viscous.reynolds = v;
                if (arg == "--ncrit") viscous.ncrit = v;
                if (arg == "--xtr") (n == 0 ? viscous.xtrUpper : viscous.xtrLower) = v;
            }
            if (arg == "--re") viscous.enabled = true;
            viscousGiven = true;
            continue;
        }
        if (arg == "--method") {
            if (a + 1 >= argc) return fail(kUsage, arg + " needs a value.");
            const char* text = argv[++a];
            if (!quarel::ParseLinearMethod(text, method)) {
                return fail(kUsage,
                            arg + " " + text +
                                ": the method must be direct, multilevel, ilu, line or inexact.");
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
    if (targetFile.empty() != (designIterations == 0))
        return fail(kUsage, "--target and --design-iterations go together.");
    if (viscousGiven && !viscous.enabled) return fail(kUsage, "--ncrit and --xtr need --re.");
    if (designRegime >= 0 && designIterations == 0)
        return fail(kUsage, "--regime needs --target and --design-iterations.");
    // The target is read before the analysis, which may replace it.
    quarel::CpTable target;
    std::string designedPath;
    if (designIterations > 0) {
        try {
            target = quarel::readCpTable(targetFile);
        } catch (const quarel::FileError& e) {
            return fail(kFile, e.what());
        }
        designedPath = quarel::DesignedInputPath(file);
        if (designedPath.size() > static_cast<size_t>(quarel::kNameField))
            return fail(kUsage, "the designed section's file \"" + designedPath +
                                    "\" would have a path of more than " +
                                    std::to_string(quarel::kNameField) +
                                    " characters, which the program cannot open.");
    }

    quarel::msg::setQuiet(quiet);
    quarel::JobLock jobLock;
    quarel::RunControl run;
    // With the output going to a file and standard error to a terminal, a
    // progress line on the terminal that is rewritten after every Newton
    // step and kept at the end of each level.  (On a terminal the iteration
    // lines themselves show the progress.)
    const bool terminal = !quiet && isatty(STDERR_FILENO) && !isatty(STDOUT_FILENO);
    int shownLevel = 0;
    if (terminal) {
        run.setProgressHook([&shownLevel](const quarel::Progress& p) {
            if (shownLevel != 0 && p.level != shownLevel) std::fputc('\n', stderr);
            shownLevel = p.level;
            std::fprintf(stderr, "\rlevel %d of %d, %d x %d: step %2d, residual %.2E, Clift %.5f ",
                         p.level, p.levels, p.NX, p.NY, p.step, std::fabs(p.residual), p.clift);
            std::fflush(stderr);
            return true;
        });
    }
    quarel::NewtonOptions options;
    options.method = method;
    options.threads = threads;
    run.setNewtonOptions(options);
    quarel::GridOptions grid;
    if (overrides[3].given) grid.farBoundary = overrides[3].value;
    run.setGridOptions(grid);
    int code = kOk;
    std::set<std::string> shown;
    try {
        quarel::JobParameters templ;
        if (!templatePath.empty()) {
            std::string title;
            templ = quarel::ReadInputFile(templatePath, title);
        }
        run.open(file, templatePath.empty() ? nullptr : &templ);
        showWarnings(run.warnings(), shown);
        // One run of a job at a time: a second one waits for the first.
        jobLock.acquire(file, true, [&file]() {
            std::fprintf(stderr, "quarel-batch: waiting for another run of %s to end.\n",
                         file.c_str());
        });
        if (overrides[0].given) run.job.alpha = overrides[0].value;
        if (overrides[1].given) run.job.mach = overrides[1].value;
        if (overrides[2].given) run.job.swept = overrides[2].value;
        if (viscousGiven) run.job.viscous = viscous;
        if (entropy) run.job.entropy.enabled = true;
        // The design iteration does not yet take the displacement thickness
        // out of the designed contour: a viscous design would be wrong.
        if (designIterations > 0 && run.job.viscous.enabled)
            return fail(kUsage,
                        "inverse design works in inviscid mode only (no --re, and no "
                        "Reynolds number in the input file).");
        if (!writeInput.empty()) {
            // The job as it would run: the overrides are part of it.
            quarel::WriteTextFile(writeInput, quarel::InputFileText(run.title(), run.job),
                                  "input file");
            if (!quiet) std::printf("Input file: %s\n", writeInput.c_str());
            return code;
        }
        run.flowChanged();
        if (sweeping) return runSweep(run, sweep, !cold, quiet);
        run.gridCalculation();
        showWarnings(run.warnings(), shown);
        if (!run.rotationNote().empty())
            std::fprintf(stderr, "note: %s\n", run.rotationNote().c_str());
        quarel::RunControl::CalcOutcome outcome;
        try {
            outcome = run.calculate();
        } catch (...) {
            if (terminal && shownLevel != 0) std::fputc('\n', stderr);
            throw;
        }
        if (terminal && shownLevel != 0) std::fputc('\n', stderr);
        showWarnings(run.warnings(), shown);
        if (outcome != quarel::RunControl::CalcOutcome::Done) {
            code = fail(kParameter, "no calculation was made.");
        } else {
            std::printf("Clift= %.6f\nCdrag= %.6f\n", run.results.clift, run.results.cdrag);
            const quarel::ViscousResults& v = run.results.viscous;
            if (v.valid) {
                std::printf("Cmoment= %.6f\nCdrag(total)= %.6f\nCdrag(f)= %.6f\nCdrag(p)= %.6f\n",
                            run.results.cmoment, v.cdTotal, v.cdFriction, v.cdTotal - v.cdFriction);
                std::printf("Xtr(upper)= %.4f\nXtr(lower)= %.4f\n", v.xtrUpper, v.xtrLower);
                const std::string input = run.files().inputPath;
                quarel::WriteTextFile(input.substr(0, input.size() - 4) + ".bl",
                                      quarel::BoundaryLayerText(v), "boundary-layer file");
            } else {
                std::printf("Cmoment= %.6f\nCdrag(p)= %.6f\n", run.results.cmoment,
                            run.results.cdragPressure);
            }
            std::fflush(stdout);
            // A design starts from the analysis and every iteration ends
            // with one: each must meet the end test, or nothing is vouched
            // for (no designed section is written).
            const bool analysed = run.converged();
            if (designIterations > 0 && !analysed) {
                code = fail(kNotConverged,
                            "the analysis is not converged: no design iteration was made.");
            } else if (designIterations > 0) {
                // The design: the target on the faces of the analysed
                // section, then one global iteration per "Calculation".
                if (designRegime >= 0) run.setDesignRegime(designRegime);
                quarel::targetFromTable(target, run.level().NX, run.level().k, quarel::xg.data(),
                                        quarel::cps.data());
                run.acceptTarget();
                std::printf(
                    "  Itr  Cp deviation      Clift  Clift target       Alpha    Largest dy\n");
                bool flagged = run.resultFlagged();
                for (int n = 1; n <= designIterations; ++n) {
                    run.calculate();
                    showWarnings(run.warnings(), shown);
                    std::printf("%5d  %12.5E  %9.5f  %12.5f  %10.5f  %12.5E\n",
                                run.design.globalIteration, run.results.cpDeviation,
                                run.results.cliftCurrent, run.results.cliftTarget, run.job.alpha,
                                run.lastDesign().largestOrdinateChange);
                    std::fflush(stdout);
                    flagged = flagged || run.resultFlagged() || run.designStalled();
                    if (!run.converged()) {
                        code = fail(kNotConverged,
                                    "the analysis of design iteration " + std::to_string(n) +
                                        " is not converged: the designed section is not written.");
                        break;
                    }
                }
                if (code == kOk) {
                    quarel::ReplaceTextFile(
                        designedPath,
                        quarel::DesignedInputText(
                            quarel::nameOf(run.files().names.title, sizeof run.files().names.title),
                            run.job, run.level(), run.freeStream().ordinateDivisor()),
                        "designed section");
                    std::printf("Designed section: %s\n", designedPath.c_str());
                    if (flagged) code = kWarnings;
                }
            } else if (!analysed) {
                code = fail(kNotConverged, "the solution is not converged.");
            } else if (run.resultFlagged()) {
                code = kWarnings;
            }
            if (save) {
                const std::string path = run.saveResult();
                if (!quiet) std::printf("Result file: %s\n", path.c_str());
            }
        }
    } catch (const quarel::FileError& e) {
        showWarnings(run.warnings(), shown);
        code = fail(kFile, e.what());
    } catch (const quarel::ParameterError& e) {
        code = fail(kParameter, e.what());
    } catch (const quarel::SolverError& e) {
        showWarnings(run.warnings(), shown);
        code = fail(kSolver, e.what());
    } catch (const quarel::DesignRefused& e) {
        showWarnings(run.warnings(), shown);
        code = fail(kSolver, e.what());
    } catch (const std::exception& e) {
        code = fail(kSolver, e.what());
    }
    // As the window does when it closes: the log of everything that ran.
    if (run.fileOpen() && !run.writeIterationLog()) {
        const int c =
            fail(kFile, "cannot write the iteration log \"" + run.files().itrPath + "\".");
        if (code == kOk) code = c;
    }
    return code;
}
