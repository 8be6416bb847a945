// Case tables: one analysis per row of a CSV table, one result row per case,
// and the analysis of one section in a scratch folder that the Python module
// shares.  Every case runs on a fresh run control from the free stream, so a
// row's result does not depend on the rows run before it in the same
// process: a table split into shards and merged again gives the serial
// table byte for byte.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "JobParameters.h"
#include "RunControl.h"
#include "viscous_options.h"

namespace quarel {

// The exit codes of quarel-batch, also given per case in a result row.
enum CaseExit {
    kCaseOk = 0,
    kCaseUsage = 1,         // bad command line, or a value the program cannot take
    kCaseFile = 2,          // a file could not be read or written
    kCaseParameter = 3,     // input refused before any grid or flow work
    kCaseSolver = 4,        // solver breakdown, or a refused design iteration
    kCaseNotConverged = 5,  // not converged (or a case of a table failed)
    kCaseWarnings = 6,      // converged, with a warning about the result
};

// A folder of its own under the system's temporary folder, removed with
// everything in it when the object goes.  Restart, Cp and log files of a
// case land there, so cases run side by side never share a file.
class ScratchFolder {
public:
    ScratchFolder();  // throws FileError
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// What one analysis takes besides the section.  Unset values keep those of
// the input file (or of the template or the built-in defaults for a
// coordinate file).
struct AnalysisInputs {
    bool hasMach = false, hasAlpha = false, hasSweep = false;
    double mach = 0.0, alpha = 0.0, sweep = 0.0;
    double tolerance = 0.0;                    // Max.residual; 0 keeps the file's
    int NPA = 0, NCO = 0, NBH = 0, Kgrid = 0;  // grid sizes; 0 keeps the file's
    double timeout = 0.0;    // seconds; the run stops after the Newton step that passes it
    ViscousOptions viscous;  // the viscous analysis when enabled; else the file's setting
    // Fixed lift: alpha is found so that Clift is cl (alpha, if given, is the start).
    bool hasCl = false;
    double cl = 0.0;
};

// Sets the inputs given in `in` on the job of `run`; the others keep the
// file's values.
void ApplyInputs(RunControl& run, const AnalysisInputs& in);

// The figures of one analysis.  CDw is the wave drag of the scheme
// (Cdrag).  Inviscid, CD is the drag of the surface pressures (Cdrag(p)),
// CDp equals CD and CDf is 0; viscous, CD is the total drag from the wake
// (Cdrag(total)), CDf the friction drag and CDp = CD - CDf.
struct CaseResult {
    bool done = false;       // figures were computed (converged or not)
    bool converged = false;  // the fine grid met the tolerance with a settled lift
    int exitCode = kCaseOk;
    std::string message;  // why it failed, or its warnings
    std::vector<std::string> warnings;
    double CL = 0.0, CD = 0.0, CDw = 0.0, CDp = 0.0, CDf = 0.0, CM = 0.0;
    double alpha = std::nan("");  // the alpha of the figures (a fixed lift's: the one found)
};

// Copies the section file into `scratch` (so its restart and Cp files land
// there) and opens it on `run`.  Throws FileError.
void OpenInScratch(RunControl& run, const std::string& section, const std::string& scratch,
                   const JobParameters* templ);

// Applies `in` to the opened job, runs the grid calculation and the
// analysis and fills the figures; never throws: a refused input, a file
// error or a breakdown comes back as the exit code and message of the
// batch program.
CaseResult Analyse(RunControl& run, const AnalysisInputs& in);

// ---- Tables ---------------------------------------------------------------

struct CaseTable {
    std::string path;                            // as given
    std::string folder;                          // relative section paths start here
    std::vector<std::string> columns;            // header names, lower case, trimmed
    std::vector<std::vector<std::string>> rows;  // the fields of each case as written
};

// Reads a table: a header row naming the columns (section, mach and alpha
// required; sweep, re, ncrit, xtr_upper, xtr_lower, entropy and cl
// optional; no others), then one row per case; blank lines are skipped and
// fields may be quoted.  Throws FileError naming the file and the line.
CaseTable ReadCaseTable(const std::string& path);

// Runs case `row` (0-based) of the table in a scratch folder of its own.
CaseResult RunCase(const CaseTable& table, size_t row, const JobParameters* templ,
                   const NewtonOptions& newton);

// The header line of the result table, and one result row (each with its
// line feed).  Numbers are printed with 12 significant digits, so that
// equal runs give equal files.
std::string CaseResultHeader(const CaseTable& table);
std::string CaseResultRow(const CaseTable& table, size_t row, const CaseResult& result);

// The rows of shard k of n (1 <= k <= n): every n-th row from row k-1.
std::vector<size_t> ShardRows(size_t rows, int k, int n);

// "cases.csv" -> "cases_results.csv", or "cases_results_K_of_N.csv".
std::string CaseResultPath(const std::string& table, int k = 0, int n = 0);

// Joins the shard files of the table (all of one N, 1..N present) into the
// serial result table's text.  Throws FileError naming what is missing or
// does not fit.
std::string MergeShards(const std::string& table);

// "K/N" with whole numbers 1 <= K <= N: the shard of a case run.
bool ParseShard(const std::string& text, int& k, int& n);

// quarel-batch with --cases or --merge (parsed by the batch program).
struct CaseCommandArgs {
    std::string table;         // --cases TABLE.csv
    std::string merge;         // --merge TABLE.csv
    std::string output;        // --output FILE, "-" for standard output
    std::string templatePath;  // --template T.dat
    int k = 0, n = 0;          // --shard K/N (0: every row)
    bool quiet = false;
    NewtonOptions newton;
};
// Runs the table or merges its shard results; returns the exit code.
int CaseCommand(const CaseCommandArgs& args);

}  // namespace quarel
