// quarel-batch: the grid calculation and analysis run of the main window
// without a display.  Opens the input file as "Open" does, applies the
// overrides as the spinners would, runs "Grid Calculation" and
// "Calculation" on the same run control, prints Clift=, Cdrag=, Cmoment=
// and Cdrag(p)= and writes the iteration-log file at the end.  With a
// target, the design global iterations follow and the designed section is
// written as a new input file.  With --cases, a table of cases runs instead.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "CaseTable.h"
#include "CoordinateFile.h"
#include "DesignFiles.h"
#include "FixedLift.h"
#include "FreeStream.h"
#include "RunControl.h"
#include "Sweep.h"
#include "ViscousCoupling.h"
#include "ViscousInput.h"
#include "cptarget.h"
#include "message.h"
#include "state.h"
#include "textwrap.h"
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

const char* const kDescription =
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
    "then come from --template, or built-in defaults.  Overrides are applied\n"
    "after the file is read, as the panel spinners would.\n";

const char* const kFooter =
    "Inverse design (after the analysis of FILE.dat): one line per iteration:\n"
    "iteration, Cp deviation, Clift of the designed section, Clift of the target,\n"
    "alpha and the largest ordinate change (chord units).  The designed section is\n"
    "written as FILE_design.dat (an input file in the program's format, with the\n"
    "corrected alpha) only when every iteration was made.\n"
    "\n"
    "Case tables: --cases runs every row of a CSV table (section, mach, alpha and\n"
    "optional columns) and writes TABLE_results.csv, or with --shard K/N every\n"
    "N-th row from row K to TABLE_results_K_of_N.csv; --merge joins the shard\n"
    "results into TABLE_results.csv.  --template, --method and --quiet also apply.\n"
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
    "whose Cp deviation has stopped falling short of the target).";

const char* const kMethodHelp =
    "linear solve of the Newton steps: direct (flexible GMRES preconditioned by "
    "complete sparse LU factors of the Newton matrix on grids of 10000 unknowns or "
    "more, by the multilevel preconditioner on smaller ones; the default) or "
    "multilevel (an incomplete factorisation ordered with the flow and a two-level "
    "V-cycle on every grid) or ilu (the same on one level) or line (restarted GMRES "
    "with the line preconditioner) or inexact (the line preconditioner with a loose "
    "solve, for comparison: on transonic cases it can end with a lift several per "
    "cent off)";

// The command line of one run (or of a case table).
struct Args {
    std::vector<std::string> files;
    double alpha = 0.0, mach = 0.0, swept = 0.0, farBoundary = 0.0, cl = 0.0;
    bool save = false, quiet = false, cold = false, entropy = false;
    std::string templatePath, writeInput;
    quarel::SweepSpec sweep;
    bool sweeping = false;
    quarel::NewtonOptions newton;
    std::string targetFile;
    int designIterations = 0, designRegime = -1;
    quarel::ViscousOptions viscous;
    std::vector<double> xtr;
    bool viscousGiven = false;
    quarel::CaseCommandArgs cases;
    // The options given, to tell an override from its default.
    CLI::Option *alphaOpt, *clOpt, *machOpt, *sweptOpt, *farOpt, *reOpt, *ncritOpt, *xtrOpt,
        *casesOpt, *mergeOpt;
};

// The help text: the usage line first, the option texts wrapped to the
// terminal's 80 columns.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_description(const CLI::App* app) const override {
        return CLI::Formatter::make_usage(app, app->get_name()) + "\n" + app->get_description();
    }
    std::string make_usage(const CLI::App*, std::string) const override { return ""; }
    std::string make_option_desc(const CLI::Option* opt) const override {
        return quarel::wrapText(opt->get_description(), 80 - get_column_width());
    }
};

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "quarel-batch: %s\n", text.c_str());
    return code;
}

std::string rangeText(double lo, double hi) {
    char text[64];
    std::snprintf(text, sizeof text, "%g .. %g", lo, hi);
    return text;
}

// A real number in [lo, hi]; not a number is refused (CLI::Range lets NaN
// through).
CLI::Validator realIn(double lo, double hi) {
    const std::string range = rangeText(lo, hi);
    return CLI::Validator(
        [lo, hi, range](std::string& text) -> std::string {
            char* end = nullptr;
            errno = 0;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || errno != 0 || *end != '\0' || !(v >= lo && v <= hi))
                return text + ": the value must be a number in " + range + ".";
            return {};
        },
        "");
}

// A whole number in [lo, hi].
CLI::Validator wholeIn(long lo, long hi) {
    return CLI::Validator(
        [lo, hi](std::string& text) -> std::string {
            char* end = nullptr;
            errno = 0;
            const long v = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || errno != 0 || *end != '\0' || v < lo || v > hi)
                return text + ": the value must be a whole number in " +
                       rangeText(static_cast<double>(lo), static_cast<double>(hi)) + ".";
            return {};
        },
        "");
}

// A real option with its range in the help text.
CLI::Option* addReal(CLI::App& app, const char* name, double& value, double lo, double hi,
                     const char* type, const std::string& help) {
    return app.add_option(name, value, help + ", " + rangeText(lo, hi))
        ->type_name(type)
        ->check(realIn(lo, hi));
}

// The options of a single run: analysis, overrides, sweeps and viscous flow.
void describeRun(CLI::App& app, Args& a) {
    a.alphaOpt = addReal(app, "--alpha", a.alpha, quarel::kAlphaRange.lo, quarel::kAlphaRange.hi,
                         "DEG", "angle of attack, degrees");
    a.clOpt = addReal(app, "--cl", a.cl, -5.0, 5.0, "CL",
                      "fixed lift: find the angle of attack at which the converged analysis "
                      "gives this Clift, starting from the file's alpha (or --alpha), and print "
                      "it as Alpha(cl)=; the results and files are those of that angle. With "
                      "--mach-sweep every point finds its alpha (the alpha column)");
    a.machOpt = addReal(app, "--mach", a.mach, quarel::kMachRange.lo, quarel::kMachRange.hi, "M",
                        "free-stream Mach number");
    a.sweptOpt = addReal(app, "--swept", a.swept, quarel::kSweptRange.lo, quarel::kSweptRange.hi,
                         "DEG", "sweep angle, degrees");
    a.farOpt = addReal(app, "--far-boundary", a.farBoundary, quarel::kMinFarBoundary,
                       quarel::kMaxFarBoundary, "D",
                       "distance of the far boundary in chords (default: the grid of the input "
                       "file, 7); the same grid lines are spread out to it");
    app.add_option_function<std::string>(
           "--method",
           [&a](const std::string& text) {
               if (!quarel::ParseLinearMethod(text.c_str(), a.newton.method))
                   throw CLI::ValidationError("--method " + text,
                                              "the method must be direct, multilevel, ilu, line "
                                              "or inexact.");
           },
           kMethodHelp)
        ->type_name("M");
    app.add_flag("--entropy", a.entropy,
                 "non-isentropic potential: the entropy of the shocks is carried downstream and "
                 "lowers the mass flux and the speed of the flow behind them");
    app.add_flag("--save", a.save, "also write the result file FILE_1.out");
    app.add_flag("--quiet", a.quiet, "do not print the iteration lines");
    app.add_option("--threads", a.newton.threads,
                   "threads of the sparse solves (default: QUAREL_THREADS or all cores; the "
                   "results are the same for any number), 1 .. 256")
        ->type_name("N")
        ->check(wholeIn(1, 256));
    app.add_option("--template", a.templatePath,
                   "take the parameters of a coordinate file from T.dat")
        ->type_name("T.dat");
    app.add_option("--write-input", a.writeInput,
                   "write the job (parameters and contour) as an input file of this program and "
                   "stop")
        ->type_name("OUT.dat");
    for (const auto variable :
         {quarel::SweepSpec::Variable::Alpha, quarel::SweepSpec::Variable::Mach}) {
        const bool alpha = variable == quarel::SweepSpec::Variable::Alpha;
        const std::string name = alpha ? "--alpha-sweep" : "--mach-sweep";
        app.add_option_function<std::string>(
               name,
               [&a, variable, name](const std::string& text) {
                   std::string error;
                   if (!quarel::ParseSweep(text, variable, a.sweep, error))
                       throw CLI::ValidationError(name, error);
                   a.sweeping = true;
               },
               alpha ? "a polar: one calculation per angle, each started from the previous "
                       "converged solution; the table goes to FILE_sweep.csv and each point's Cp "
                       "to FILE_sweep_NN.cp"
                     : "the same over Mach numbers")
            ->type_name(alpha ? "A0:A1:STEP" : "M0:M1:STEP");
    }
    app.add_flag("--cold", a.cold, "start every point of a sweep from the free stream");
    a.reOpt = app.add_option(
                     "--re", a.viscous.reynolds,
                     "viscous analysis at this Reynolds number (chord, free stream): an integral "
                     "boundary layer with e^N transition on both surfaces and the wake, coupled to "
                     "the potential flow; prints Cdrag(total)= (Squire-Young from the wake), "
                     "Cdrag(f)= (friction), Cdrag(p)= (total minus friction), Xtr(upper)= and "
                     "Xtr(lower)=, and writes the layer to FILE.bl; 10000 .. 1e+09")
                  ->type_name("RE")
                  ->check(realIn(1.0e4, 1.0e9));
    a.ncritOpt = addReal(app, "--ncrit", a.viscous.ncrit, 0.0, 20.0, "N",
                         "transition when the envelope reaches e^N (default 9)");
    a.xtrOpt = app.add_option("--xtr", a.xtr,
                              "forced transition x/c on the upper and lower surface (1: free), 0 "
                              ".. 1")
                   ->type_name("X")
                   ->option_text("U L")
                   ->expected(2)
                   ->allow_extra_args(false)
                   ->check(realIn(0.0, 1.0));
}

void describeDesignAndCases(CLI::App& app, Args& a) {
    const char* design = "Inverse design";
    app.add_option("--target", a.targetFile,
                   "target pressures: the computed Cp of a Cp file written by this program, or a "
                   "table of x and Cp round the section from the upper trailing edge (read before "
                   "the analysis, so it may be FILE.cp itself)")
        ->type_name("FILE")
        ->group(design);
    app.add_option("--design-iterations", a.designIterations,
                   "design global iterations to run, 1 .. 200")
        ->type_name("N")
        ->check(wholeIn(1, 200))
        ->group(design);
    app.add_option("--regime", a.designRegime,
                   "0 design both surfaces, 1 maintain the thickness distribution, 2 maintain the "
                   "maximal thickness (default: the regime of FILE.dat)")
        ->type_name("R")
        ->check(wholeIn(0, 2))
        ->group(design);
    const char* cases = "Case tables";
    a.casesOpt = app.add_option("--cases", a.cases.table, "run every case of a CSV table")
                     ->option_text("TABLE.csv")
                     ->group(cases);
    a.mergeOpt = app.add_option("--merge", a.cases.merge,
                                "join the shard results of the table into TABLE_results.csv")
                     ->option_text("TABLE.csv")
                     ->group(cases)
                     ->excludes(a.casesOpt);
    app.add_option_function<std::string>(
           "--shard",
           [&a](const std::string& text) {
               if (!quarel::ParseShard(text, a.cases.k, a.cases.n))
                   throw CLI::ValidationError("--shard " + text,
                                              "the shard is K/N, whole numbers with 1 <= K <= N.");
           },
           "run every N-th row of the table from row K")
        ->option_text("K/N")
        ->group(cases)
        ->needs(a.casesOpt);
    app.add_option("--output", a.cases.output,
                   "the results of --cases to this file (- for standard output)")
        ->option_text("FILE")
        ->group(cases)
        ->needs(a.casesOpt);
}

// --cases and --merge take --template, --method and --quiet besides their own.
int runCases(const CLI::App& app, Args& a) {
    static const std::set<std::string> kCaseOptions = {
        "--cases", "--merge", "--shard", "--output", "--template", "--method", "--quiet", "--help"};
    for (const CLI::Option* o : app.get_options()) {
        const std::string name = o->get_name();
        if (o->count() > 0 && kCaseOptions.count(name) == 0)
            return fail(kUsage, "with --cases or --merge, " +
                                    (name == "FILE" ? "an input file" : name) +
                                    " is not an option (see --help).");
    }
    a.cases.templatePath = a.templatePath;
    a.cases.quiet = a.quiet;
    a.cases.newton = a.newton;
    return quarel::CaseCommand(a.cases);
}

// Checks between options that the parser cannot make.
int checkJob(Args& a) {
    a.viscousGiven = a.reOpt->count() + a.ncritOpt->count() + a.xtrOpt->count() > 0;
    a.viscous.enabled = a.reOpt->count() > 0;
    if (a.xtr.size() == 2) {
        a.viscous.xtrUpper = a.xtr[0];
        a.viscous.xtrLower = a.xtr[1];
    }
    if (a.files.empty()) return fail(kUsage, "no input file given (see --help).");
    if (a.files.size() > 1) return fail(kUsage, "only one input file can be given.");
    if (a.targetFile.empty() != (a.designIterations == 0))
        return fail(kUsage, "--target and --design-iterations go together.");
    if (a.viscousGiven && !a.viscous.enabled) return fail(kUsage, "--ncrit and --xtr need --re.");
    if (a.clOpt->count() > 0 && a.designIterations > 0)
        return fail(kUsage, "--cl is for an analysis: a design run sets its own alpha.");
    if (a.clOpt->count() > 0 && a.sweeping && a.sweep.variable != quarel::SweepSpec::Variable::Mach)
        return fail(kUsage, "--cl sets alpha: it goes with --mach-sweep only.");
    if (a.designRegime >= 0 && a.designIterations == 0)
        return fail(kUsage, "--regime needs --target and --design-iterations.");
    return kOk;
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

// One run of the batch program on the run control the window drives.
class BatchRun {
public:
    explicit BatchRun(const Args& args) : a_(args), file_(args.files.front()) {}

    int execute() {
        if (const int code = readTarget(); code != kOk) return code;
        quarel::msg::setQuiet(a_.quiet);
        showProgress();
        run_.setNewtonOptions(a_.newton);
        quarel::GridOptions grid;
        if (a_.farOpt->count() > 0) grid.farBoundary = a_.farBoundary;
        run_.setGridOptions(grid);
        int code = kOk;
        try {
            bool stop = false;
            code = openJob(stop);
            if (stop) return code;
            run_.flowChanged();
            if (a_.sweeping) {
                // A Mach sweep at a fixed lift: every point finds its alpha.
                if (a_.clOpt->count() > 0) {
                    run_.job.fixedLift = true;
                    run_.job.clTarget = a_.cl;
                }
                return runSweep(run_, a_.sweep, !a_.cold, a_.quiet);
            }
            code = analyse();
        } catch (const quarel::FileError& e) {
            showWarnings(run_.warnings(), shown_);
            code = fail(kFile, e.what());
        } catch (const quarel::ParameterError& e) {
            code = fail(kParameter, e.what());
        } catch (const quarel::SolverError& e) {
            showWarnings(run_.warnings(), shown_);
            code = fail(kSolver, e.what());
        } catch (const quarel::DesignRefused& e) {
            showWarnings(run_.warnings(), shown_);
            code = fail(kSolver, e.what());
        } catch (const std::exception& e) {
            code = fail(kSolver, e.what());
        }
        // As the window does when it closes: the log of everything that ran.
        if (run_.fileOpen() && !run_.writeIterationLog()) {
            const int c =
                fail(kFile, "cannot write the iteration log \"" + run_.files().itrPath + "\".");
            if (code == kOk) code = c;
        }
        return code;
    }

private:
    // The target is read before the analysis, which may replace it.
    int readTarget() {
        if (a_.designIterations == 0) return kOk;
        try {
            target_ = quarel::readCpTable(a_.targetFile);
        } catch (const quarel::FileError& e) {
            return fail(kFile, e.what());
        }
        designedPath_ = quarel::DesignedInputPath(file_);
        if (designedPath_.size() > static_cast<size_t>(quarel::kNameField))
            return fail(kUsage, "the designed section's file \"" + designedPath_ +
                                    "\" would have a path of more than " +
                                    std::to_string(quarel::kNameField) +
                                    " characters, which the program cannot open.");
        return kOk;
    }

    // With the output going to a file and standard error to a terminal, a
    // progress line on the terminal that is rewritten after every Newton
    // step and kept at the end of each level.  (On a terminal the iteration
    // lines themselves show the progress.)
    void showProgress() {
        terminal_ = !a_.quiet && isatty(STDERR_FILENO) && !isatty(STDOUT_FILENO);
        if (!terminal_) return;
        run_.setProgressHook([this](const quarel::Progress& p) {
            if (shownLevel_ != 0 && p.level != shownLevel_) std::fputc('\n', stderr);
            shownLevel_ = p.level;
            std::fprintf(stderr, "\rlevel %d of %d, %d x %d: step %2d, residual %.2E, Clift %.5f ",
                         p.level, p.levels, p.NX, p.NY, p.step, std::fabs(p.residual), p.clift);
            std::fflush(stderr);
            return true;
        });
    }

    void endProgressLine() {
        if (terminal_ && shownLevel_ != 0) std::fputc('\n', stderr);
    }

    // Opens the job, takes its lock and applies the overrides.  Sets `stop`
    // when the command ends here (a refused design, --write-input).
    int openJob(bool& stop) {
        quarel::JobParameters templ;
        if (!a_.templatePath.empty()) {
            std::string title;
            templ = quarel::ReadInputFile(a_.templatePath, title);
        }
        run_.open(file_, a_.templatePath.empty() ? nullptr : &templ);
        showWarnings(run_.warnings(), shown_);
        // One run of a job at a time: a second one waits for the first.
        jobLock_.acquire(file_, true, [this]() {
            std::fprintf(stderr, "quarel-batch: waiting for another run of %s to end.\n",
                         file_.c_str());
        });
        if (a_.alphaOpt->count() > 0) run_.job.alpha = a_.alpha;
        if (a_.machOpt->count() > 0) run_.job.mach = a_.mach;
        if (a_.sweptOpt->count() > 0) run_.job.swept = a_.swept;
        if (a_.viscousGiven) run_.job.viscous = a_.viscous;
        if (a_.entropy) run_.job.entropy.enabled = true;
        stop = true;
        // The design iteration does not yet take the displacement thickness
        // out of the designed contour: a viscous design would be wrong.
        if (a_.designIterations > 0 && run_.job.viscous.enabled)
            return fail(kUsage, quarel::kViscousDesignRefused);
        if (!a_.writeInput.empty()) {
            // The job as it would run: the overrides are part of it.
            quarel::WriteTextFile(a_.writeInput, quarel::InputFileText(run_.title(), run_.job),
                                  "input file");
            if (!a_.quiet) std::printf("Input file: %s\n", a_.writeInput.c_str());
            return kOk;
        }
        stop = false;
        return kOk;
    }

    // The grid calculation, the analysis and what follows it.
    int analyse() {
        run_.gridCalculation();
        showWarnings(run_.warnings(), shown_);
        if (!run_.rotationNote().empty())
            std::fprintf(stderr, "note: %s\n", run_.rotationNote().c_str());
        quarel::RunControl::CalcOutcome outcome;
        const bool fixedLift = a_.clOpt->count() > 0;
        quarel::FixedLiftResult lift;
        try {
            if (fixedLift && run_.newtonSolver().bordered()) {
                // Alpha is one more unknown of the Newton iteration.
                run_.job.fixedLift = true;
                run_.job.clTarget = a_.cl;
                run_.flowChanged();
                outcome = run_.calculate();
                lift.found = outcome == quarel::RunControl::CalcOutcome::Done && run_.converged();
                lift.alpha = run_.job.alpha;
                lift.clift = run_.results.clift;
                if (!lift.found) lift.problem = "the analysis did not converge.";
            } else if (fixedLift) {
                // A linear method without factors to solve again: the search
                // over whole analyses.
                quarel::FixedLiftOptions options;
                options.target = a_.cl;
                lift = quarel::RunFixedLift(run_, options, [this](const quarel::FixedLiftStep& s) {
                    endProgressLine();
                    shownLevel_ = 0;
                    if (a_.quiet) return;
                    std::printf("Fixed lift: alpha %.6f, Clift %.6f%s\n", s.alpha, s.clift,
                                s.converged ? "" : " (not converged)");
                    std::fflush(stdout);
                });
                outcome = quarel::RunControl::CalcOutcome::Done;
            } else {
                outcome = run_.calculate();
            }
        } catch (...) {
            endProgressLine();
            throw;
        }
        endProgressLine();
        showWarnings(run_.warnings(), shown_);
        if (outcome != quarel::RunControl::CalcOutcome::Done)
            return fail(kParameter, "no calculation was made.");
        printResults();
        if (fixedLift && lift.found) {
            std::printf("Alpha(cl)= %.6f\n", lift.alpha);
            std::fflush(stdout);
        }
        // A design starts from the analysis and every iteration ends with
        // one: each must meet the end test, or nothing is vouched for (no
        // designed section is written).
        const bool analysed = run_.converged();
        int code = kOk;
        if (a_.designIterations > 0 && !analysed) {
            code =
                fail(kNotConverged, "the analysis is not converged: no design iteration was made.");
        } else if (a_.designIterations > 0) {
            code = design();
        } else if (fixedLift && !lift.found) {
            code = fail(kNotConverged, "no angle of attack was found for Clift " +
                                           std::to_string(a_.cl) + ": " + lift.problem);
        } else if (!analysed) {
            code = fail(kNotConverged, "the solution is not converged.");
        } else if (run_.resultFlagged()) {
            code = kWarnings;
        }
        if (a_.save) {
            const std::string path = run_.saveResult();
            if (!a_.quiet) std::printf("Result file: %s\n", path.c_str());
        }
        return code;
    }

    void printResults() {
        const quarel::Results& r = run_.results;
        std::printf("Clift= %.6f\nCdrag= %.6f\n", r.clift, r.cdrag);
        const quarel::ViscousResults& v = r.viscous;
        if (v.valid) {
            std::printf("Cmoment= %.6f\nCdrag(total)= %.6f\nCdrag(f)= %.6f\nCdrag(p)= %.6f\n",
                        r.cmoment, v.cdTotal, v.cdFriction, v.cdTotal - v.cdFriction);
            std::printf("Xtr(upper)= %.4f\nXtr(lower)= %.4f\n", v.xtrUpper, v.xtrLower);
            const std::string input = run_.files().inputPath;
            quarel::WriteTextFile(input.substr(0, input.size() - 4) + ".bl",
                                  quarel::BoundaryLayerText(v), "boundary-layer file");
        } else {
            std::printf("Cmoment= %.6f\nCdrag(p)= %.6f\n", r.cmoment, r.cdragPressure);
        }
        std::fflush(stdout);
    }

    // The target on the faces of the analysed section, then one global
    // iteration per "Calculation".
    int design() {
        if (a_.designRegime >= 0) run_.setDesignRegime(a_.designRegime);
        quarel::targetFromTable(target_, run_.level().NX, run_.level().k, quarel::xg.data(),
                                quarel::cps.data());
        run_.acceptTarget();
        std::printf("  Itr  Cp deviation      Clift  Clift target       Alpha    Largest dy\n");
        bool flagged = run_.resultFlagged();
        for (int n = 1; n <= a_.designIterations; ++n) {
            run_.calculate();
            showWarnings(run_.warnings(), shown_);
            std::printf("%5d  %12.5E  %9.5f  %12.5f  %10.5f  %12.5E\n", run_.design.globalIteration,
                        run_.results.cpDeviation, run_.results.cliftCurrent,
                        run_.results.cliftTarget, run_.job.alpha,
                        run_.lastDesign().largestOrdinateChange);
            std::fflush(stdout);
            flagged = flagged || run_.resultFlagged() || run_.designStalled();
            if (!run_.converged())
                return fail(kNotConverged,
                            "the analysis of design iteration " + std::to_string(n) +
                                " is not converged: the designed section is not written.");
        }
        quarel::ReplaceTextFile(
            designedPath_,
            quarel::DesignedInputText(
                quarel::nameOf(run_.files().names.title, sizeof run_.files().names.title), run_.job,
                run_.level(), run_.freeStream().ordinateDivisor()),
            "designed section");
        std::printf("Designed section: %s\n", designedPath_.c_str());
        return flagged ? kWarnings : kOk;
    }

    const Args& a_;
    const std::string file_;
    quarel::CpTable target_;
    std::string designedPath_;
    quarel::JobLock jobLock_;
    quarel::RunControl run_;
    std::set<std::string> shown_;
    bool terminal_ = false;
    int shownLevel_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Args args;
    CLI::App app(kDescription, "quarel-batch");
    app.footer(kFooter);
    app.formatter(std::make_shared<HelpFormatter>());
    app.get_formatter()->column_width(28);
    // As before: an option given twice takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("FILE", args.files, "the input file (FILE.dat) or a section coordinate file")
        ->option_text(" ");
    describeRun(app, args);
    describeDesignAndCases(app, args);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::string text = e.what();
        std::replace(text.begin(), text.end(), '\n', ' ');
        return fail(kUsage, text);
    }
    if (args.casesOpt->count() > 0 || args.mergeOpt->count() > 0) return runCases(app, args);
    if (const int code = checkJob(args); code != kOk) return code;
    return BatchRun(args).execute();
}
