#include "CaseTable.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "message.h"

namespace fs = std::filesystem;

namespace quarel {

// ---------------------------------------------------------------------------
// Scratch folder
// ---------------------------------------------------------------------------

ScratchFolder::ScratchFolder() {
    // The solver's file names hold 80 characters: a long TMPDIR is passed over.
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0' && std::strlen(t) < 48)
        base = t;
    std::string pattern = base + "/quarel-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw FileError("A scratch folder could not be made in \"" + base +
                        "\": " + std::strerror(errno) + ".");
    path_ = buf.data();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// ---------------------------------------------------------------------------
// One analysis
// ---------------------------------------------------------------------------

void OpenInScratch(RunControl& run, const std::string& section, const std::string& scratch,
                   const JobParameters* templ) {
    const std::string copy = scratch + "/case.dat";
    std::error_code ec;
    if (!fs::is_regular_file(section, ec) ||
        !fs::copy_file(section, copy, fs::copy_options::overwrite_existing, ec))
        throw FileError("The section file \"" + section + "\" cannot be read.");
    run.open(copy, templ);
}

namespace {

void addWarnings(CaseResult& r, const std::vector<std::string>& list) {
    for (const std::string& w : list)
        if (std::find(r.warnings.begin(), r.warnings.end(), w) == r.warnings.end())
            r.warnings.push_back(w);
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

void ApplyInputs(RunControl& run, const AnalysisInputs& in) {
    if (in.hasMach) run.job.mach = in.mach;
    if (in.hasAlpha) run.job.alpha = in.alpha;
    if (in.hasSweep) run.job.swept = in.sweep;
    if (in.tolerance > 0.0) run.job.maxResidual = in.tolerance;
    if (in.NPA > 0) run.job.NPA = in.NPA;
    if (in.NCO > 0) run.job.NCO = in.NCO;
    if (in.NBH > 0) run.job.NBH = in.NBH;
    if (in.Kgrid > 0) run.job.Kgrid = in.Kgrid;
    if (in.viscous.enabled) run.job.viscous = in.viscous;
    if (in.hasCl) {
        run.job.fixedLift = true;
        run.job.clTarget = in.cl;
    }
}

CaseResult Analyse(RunControl& run, const AnalysisInputs& in) {
    CaseResult r;
    addWarnings(r, run.warnings());  // what opening the section changed on it
    std::string failure;
    try {
        ApplyInputs(run, in);
        run.flowChanged();
        if (in.timeout > 0.0) {
            const auto start = std::chrono::steady_clock::now();
            run.setProgressHook([start, limit = in.timeout](const Progress&) {
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                           .count() < limit;
            });
        }
        const RunControl::CalcOutcome outcome = run.calculate();
        run.setProgressHook(ProgressHook());
        addWarnings(r, run.warnings());
        if (outcome == RunControl::CalcOutcome::Stopped) {
            r.exitCode = kCaseNotConverged;
            char b[96];
            std::snprintf(b, sizeof b, "the run was stopped at the time limit of %g s.",
                          in.timeout);
            failure = b;
        } else if (outcome != RunControl::CalcOutcome::Done) {
            r.exitCode = kCaseParameter;
            failure = "no calculation was made.";
        } else {
            r.done = true;
            r.converged = run.converged();
            r.CL = run.results.clift;
            r.CD = run.results.cdragPressure;
            r.CDw = run.results.cdrag;
            r.CDp = r.CD;
            r.CDf = 0.0;
            const ViscousResults& v = run.results.viscous;
            if (v.valid) {
                r.CD = v.cdTotal;
                r.CDf = v.cdFriction;
                r.CDp = v.cdTotal - v.cdFriction;
            }
            r.CM = run.results.cmoment;
            // A fixed lift's alpha only where its run converged.
            if (r.converged || !in.hasCl) r.alpha = run.job.alpha;
            if (!r.converged) {
                r.exitCode = kCaseNotConverged;
                failure = "the solution is not converged.";
            } else if (run.resultFlagged()) {
                r.exitCode = kCaseWarnings;
            }
        }
    } catch (const FileError& e) {
        r.exitCode = kCaseFile;
        failure = e.what();
    } catch (const ParameterError& e) {
        r.exitCode = kCaseParameter;
        failure = e.what();
    } catch (const std::exception& e) {  // SolverError, DesignRefused, anything else
        addWarnings(r, run.warnings());
        r.exitCode = kCaseSolver;
        failure = e.what();
    }
    r.message = oneLine(failure);
    for (const std::string& w : r.warnings) {
        const std::string line = oneLine(w);
        if (line.empty()) continue;
        if (!r.message.empty()) r.message += " ";
        r.message += line;
    }
    return r;
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

namespace {

const char* const kRequired[] = {"section", "mach", "alpha"};
const char* const kKnown[] = {"section", "mach",      "alpha",     "sweep",   "re",
                              "ncrit",   "xtr_upper", "xtr_lower", "entropy", "cl"};

// Options a row may ask for that this build does not have: such a row
// fails with a plain message instead of running without them.
struct Unavailable {
    const char* column;
    const char* what;
};
const Unavailable kUnavailable[] = {
    {"entropy", "the entropy correction"},
};

bool hasColumn(const CaseTable& table, const char* name) {
    for (const std::string& c : table.columns)
        if (c == name) return true;
    return false;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

// Splits one CSV line; a quoted field may hold commas and doubled quotes.
bool splitCsv(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    size_t p = 0;
    while (true) {
        std::string f;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
        if (p < line.size() && line[p] == '"') {
            ++p;
            while (true) {
                if (p >= line.size()) return false;  // no closing quote
                if (line[p] == '"') {
                    if (p + 1 < line.size() && line[p + 1] == '"') {
                        f += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                f += line[p++];
            }
            while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
            if (p < line.size() && line[p] != ',') return false;
        } else {
            const size_t c = line.find(',', p);
            f = trim(line.substr(p, c == std::string::npos ? std::string::npos : c - p));
            p = c == std::string::npos ? line.size() : c;
        }
        fields.push_back(f);
        if (p >= line.size()) return true;
        ++p;  // the comma
    }
}

std::string csvField(const std::string& f) {
    if (f.find_first_of(",\"") == std::string::npos) return f;
    std::string q = "\"";
    for (char c : f) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

int columnOf(const CaseTable& t, const char* name) {
    for (size_t c = 0; c < t.columns.size(); ++c)
        if (t.columns[c] == name) return static_cast<int>(c);
    return -1;
}

std::string fieldOf(const CaseTable& t, size_t row, const char* name) {
    const int c = columnOf(t, name);
    return c < 0 ? std::string() : t.rows[row][static_cast<size_t>(c)];
}

// A number in [lo, hi] written in a field; the message as quarel-batch
// words it for an option value.
bool caseValue(const std::string& text, const char* column, double lo, double hi, double& v,
               std::string& error) {
    char* end = nullptr;
    errno = 0;
    const double x = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(x >= lo && x <= hi)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g .. %g", lo, hi);
        error =
            std::string(column) + " \"" + text + "\": the value must be a number in " + range + ".";
        return false;
    }
    v = x;
    return true;
}

std::string stemOf(const std::string& table) {
    const fs::path p(table);
    return (p.parent_path() / p.stem()).string();
}

std::string readFile(const std::string& path, const char* what) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw FileError(std::string("The ") + what + " \"" + path + "\" cannot be read.");
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

CaseTable ReadCaseTable(const std::string& path) {
    const std::string text = readFile(path, "case table");
    CaseTable t;
    t.path = path;
    t.folder = fs::path(path).parent_path().string();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<std::string> fields;
    auto refuse = [&](const std::string& why) {
        throw FileError("Case table \"" + path + "\", line " + std::to_string(number) + ": " + why);
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (trim(line).empty()) continue;
        if (!splitCsv(line, fields)) refuse("a quoted field is not closed.");
        if (t.columns.empty()) {
            for (std::string f : fields) {
                std::transform(f.begin(), f.end(), f.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                if (std::find(std::begin(kKnown), std::end(kKnown), f) == std::end(kKnown))
                    refuse("unknown column \"" + f +
                           "\" (the columns are section, mach, alpha, sweep, re, ncrit, "
                           "xtr_upper, xtr_lower, entropy and cl).");
                if (std::find(t.columns.begin(), t.columns.end(), f) != t.columns.end())
                    refuse("the column \"" + f + "\" is named twice.");
                t.columns.push_back(f);
            }
            for (const char* r : kRequired)
                if (columnOf(t, r) < 0)
                    refuse(std::string("the header has no column \"") + r +
                           "\" (section, mach and alpha are required).");
            continue;
        }
        if (fields.size() != t.columns.size())
            refuse(std::to_string(fields.size()) + " fields, but the header names " +
                   std::to_string(t.columns.size()) + " columns.");
        t.rows.push_back(fields);
    }
    if (t.columns.empty()) {
        number = 1;
        refuse("there is no header row.");
    }
    return t;
}

CaseResult RunCase(const CaseTable& table, size_t row, const JobParameters* templ,
                   const NewtonOptions& newton) {
    CaseResult r;
    auto refused = [&](int code, const std::string& why) {
        r.exitCode = code;
        r.message = oneLine(why);
        return r;
    };
    for (const Unavailable& u : kUnavailable) {
        if (!fieldOf(table, row, u.column).empty())
            return refused(kCaseUsage, std::string("column ") + u.column + ": " + u.what +
                                           " is not available in this build.");
    }
    AnalysisInputs in;
    std::string error;
    in.hasMach = in.hasAlpha = true;
    if (!caseValue(fieldOf(table, row, "mach"), "mach", 0.0, 0.9, in.mach, error) ||
        !caseValue(fieldOf(table, row, "alpha"), "alpha", -85.0, 85.0, in.alpha, error))
        return refused(kCaseUsage, error);
    const std::string sweep = fieldOf(table, row, "sweep");
    if (!sweep.empty()) {
        in.hasSweep = true;
        if (!caseValue(sweep, "sweep", 0.0, 85.0, in.sweep, error))
            return refused(kCaseUsage, error);
    }
    // A fixed lift, with the range of --cl: alpha is then the start.
    const std::string cl = fieldOf(table, row, "cl");
    if (!cl.empty()) {
        in.hasCl = true;
        if (!caseValue(cl, "cl", -5.0, 5.0, in.cl, error)) return refused(kCaseUsage, error);
    }
    // The viscous columns, with the ranges of the batch program's options.
    const std::string re = fieldOf(table, row, "re");
    if (!re.empty()) {
        in.viscous.enabled = true;
        if (!caseValue(re, "re", 1.0e4, 1.0e9, in.viscous.reynolds, error))
            return refused(kCaseUsage, error);
    }
    const struct {
        const char* column;
        double hi;
        double& value;
    } viscousColumns[] = {{"ncrit", 20.0, in.viscous.ncrit},
                          {"xtr_upper", 1.0, in.viscous.xtrUpper},
                          {"xtr_lower", 1.0, in.viscous.xtrLower}};
    for (const auto& v : viscousColumns) {
        const std::string text = fieldOf(table, row, v.column);
        if (text.empty()) continue;
        if (re.empty())
            return refused(kCaseUsage, std::string("column ") + v.column +
                                           " needs a Reynolds number (column re).");
        if (!caseValue(text, v.column, 0.0, v.hi, v.value, error))
            return refused(kCaseUsage, error);
    }
    std::string section = fieldOf(table, row, "section");
    if (section.empty()) return refused(kCaseUsage, "no section given.");
    if (fs::path(section).is_relative() && !table.folder.empty())
        section = (fs::path(table.folder) / section).string();
    try {
        ScratchFolder scratch;
        RunControl run;
        run.setNewtonOptions(newton);
        OpenInScratch(run, section, scratch.path(), templ);
        return Analyse(run, in);
    } catch (const FileError& e) {
        return refused(kCaseFile, e.what());
    } catch (const ParameterError& e) {
        return refused(kCaseParameter, e.what());
    } catch (const std::exception& e) {
        return refused(kCaseSolver, e.what());
    }
}

std::string CaseResultHeader(const CaseTable& table) {
    std::string h;
    for (const std::string& c : table.columns) h += c + ",";
    // A table with fixed lifts gets the alpha each one found.
    if (hasColumn(table, "cl")) h += "alpha_cl,";
    return h + "CL,CD,CDw,CDp,CDf,CM,converged,exit_code,message\n";
}

std::string CaseResultRow(const CaseTable& table, size_t row, const CaseResult& r) {
    std::string out;
    for (const std::string& f : table.rows[row]) out += csvField(f) + ",";
    if (hasColumn(table, "cl")) {
        char b[32] = "";
        if (r.done && std::isfinite(r.alpha)) std::snprintf(b, sizeof b, "%.12g", r.alpha);
        out += std::string(b) + ",";
    }
    if (r.done) {
        char b[256];
        std::snprintf(b, sizeof b, "%.12g,%.12g,%.12g,%.12g,%.12g,%.12g,", r.CL, r.CD, r.CDw, r.CDp,
                      r.CDf, r.CM);
        out += b;
    } else {
        out += ",,,,,,";
    }
    out += r.converged ? "yes," : "no,";
    out += std::to_string(r.exitCode) + ",\"";
    for (char c : oneLine(r.message)) out += c == '"' ? '\'' : c;
    return out + "\"\n";
}

std::vector<size_t> ShardRows(size_t rows, int k, int n) {
    std::vector<size_t> v;
    for (size_t r = static_cast<size_t>(k - 1); r < rows; r += static_cast<size_t>(n))
        v.push_back(r);
    return v;
}

std::string CaseResultPath(const std::string& table, int k, int n) {
    if (n == 0) return stemOf(table) + "_results.csv";
    return stemOf(table) + "_results_" + std::to_string(k) + "_of_" + std::to_string(n) + ".csv";
}

std::string MergeShards(const std::string& table) {
    const CaseTable t = ReadCaseTable(table);
    const std::string header = CaseResultHeader(t);
    const fs::path stem(stemOf(table));
    const fs::path dir = stem.parent_path().empty() ? fs::path(".") : stem.parent_path();
    const std::regex name(std::regex_replace(stem.filename().string(),
                                             std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                          R"(_results_([0-9]+)_of_([0-9]+)\.csv)");
    std::map<int, std::vector<int>> found;  // N -> the K present
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        std::smatch m;
        const std::string f = e.path().filename().string();
        if (std::regex_match(f, m, name) && m[1].length() < 8 && m[2].length() < 8)
            found[std::stoi(m[2])].push_back(std::stoi(m[1]));
    }
    if (found.empty())
        throw FileError("No shard results of \"" + table + "\" were found (files named like \"" +
                        CaseResultPath(table, 1, 2) + "\").");
    if (found.size() > 1)
        throw FileError("The shard results of \"" + table +
                        "\" come from splits into different numbers of shards (" +
                        std::to_string(found.begin()->first) + " and " +
                        std::to_string(std::next(found.begin())->first) +
                        "); remove the files of the split not wanted.");
    const int n = found.begin()->first;
    std::vector<std::string> lines(t.rows.size());
    for (int k = 1; k <= n; ++k) {
        const std::string path = CaseResultPath(table, k, n);
        std::string text;
        try {
            text = readFile(path, "shard result");
        } catch (const FileError&) {
            throw FileError("The shard result \"" + path + "\" is missing: run --shard " +
                            std::to_string(k) + "/" + std::to_string(n) + " first.");
        }
        std::istringstream in(text);
        std::string line;
        std::getline(in, line);
        if (line + "\n" != header)
            throw FileError("The shard result \"" + path +
                            "\" does not start with the header of this table.");
        const std::vector<size_t> rows = ShardRows(t.rows.size(), k, n);
        size_t m = 0;
        while (std::getline(in, line)) {
            if (m >= rows.size()) break;
            lines[rows[m++]] = line + "\n";
        }
        if (m != rows.size() || in.good())
            throw FileError("The shard result \"" + path + "\" has " +
                            (m < rows.size() ? "fewer" : "more") + " rows than the " +
                            std::to_string(rows.size()) + " cases of its shard (unfinished?).");
    }
    std::string out = header;
    for (const std::string& l : lines) out += l;
    return out;
}

// ---------------------------------------------------------------------------
// The command
// ---------------------------------------------------------------------------

namespace {

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "quarel-batch: %s\n", text.c_str());
    return code;
}

}  // namespace

bool ParseShard(const std::string& text, int& k, int& n) {
    const size_t s = text.find('/');
    if (s == std::string::npos) return false;
    char* e1 = nullptr;
    char* e2 = nullptr;
    const std::string a = text.substr(0, s), b = text.substr(s + 1);
    const long kk = std::strtol(a.c_str(), &e1, 10), nn = std::strtol(b.c_str(), &e2, 10);
    if (a.empty() || b.empty() || *e1 != '\0' || *e2 != '\0' || nn < 1 || nn > 1000000 || kk < 1 ||
        kk > nn)
        return false;
    k = static_cast<int>(kk);
    n = static_cast<int>(nn);
    return true;
}

int CaseCommand(const CaseCommandArgs& args) {
    const std::string& table = args.table;
    const std::string& merge = args.merge;
    const std::string& templatePath = args.templatePath;
    std::string output = args.output;
    const int k = args.k, n = args.n;
    const bool quiet = args.quiet;
    const NewtonOptions& newton = args.newton;
    if (table.empty() == merge.empty())
        return fail(kCaseUsage, "give either --cases TABLE.csv or --merge TABLE.csv.");
    if (!merge.empty()) {
        if (n != 0 || !output.empty() || !templatePath.empty())
            return fail(kCaseUsage, "--merge takes no other option.");
        try {
            const std::string out = CaseResultPath(merge);
            WriteTextFile(out, MergeShards(merge), "case results");
            if (!quiet) std::printf("Case results: %s\n", out.c_str());
        } catch (const FileError& e) {
            return fail(kCaseFile, e.what());
        }
        return kCaseOk;
    }

    CaseTable t;
    JobParameters templ;
    try {
        t = ReadCaseTable(fs::absolute(table).string());
        t.path = table;
        if (!templatePath.empty()) {
            std::string title;
            templ = ReadInputFile(templatePath, title);
        }
    } catch (const FileError& e) {
        return fail(kCaseFile, e.what());
    }
    const bool toStdout = output == "-";
    if (output.empty()) output = CaseResultPath(table, k, n);
    std::FILE* out = toStdout ? stdout : std::fopen(output.c_str(), "w");
    if (out == nullptr)
        return fail(kCaseFile, "The case results \"" + output +
                                   "\" cannot be written: " + std::strerror(errno) + ".");
    const bool progress = !quiet && !toStdout;
    std::vector<size_t> rows =
        n == 0 ? ShardRows(t.rows.size(), 1, 1) : ShardRows(t.rows.size(), k, n);
    // The grid listing every grid calculation writes into the current
    // folder goes to a scratch folder of this run.
    int code = kCaseOk;
    try {
        ScratchFolder work;
        const fs::path home = fs::current_path();
        fs::current_path(work.path());
        msg::setQuiet(true);
        bool written = std::fputs(CaseResultHeader(t).c_str(), out) >= 0;
        size_t count = 0;
        for (size_t row : rows) {
            const CaseResult r = RunCase(t, row, templatePath.empty() ? nullptr : &templ, newton);
            written = written && std::fputs(CaseResultRow(t, row, r).c_str(), out) >= 0 &&
                      std::fflush(out) == 0;
            if (r.exitCode == kCaseWarnings && code == kCaseOk) code = kCaseWarnings;
            if (r.exitCode != kCaseOk && r.exitCode != kCaseWarnings) code = kCaseNotConverged;
            if (progress) {
                std::printf("case %zu of %zu (row %zu): %s\n", ++count, rows.size(), row + 1,
                            r.exitCode == kCaseOk         ? "converged"
                            : r.exitCode == kCaseWarnings ? "converged, with a warning"
                                                          : ("failed: " + r.message).c_str());
                std::fflush(stdout);
            }
        }
        msg::setQuiet(quiet);
        fs::current_path(home);
        if (!toStdout) written = std::fclose(out) == 0 && written;
        if (!written)
            return fail(kCaseFile, "The case results \"" + output + "\" could not be written.");
    } catch (const std::exception& e) {
        return fail(kCaseFile, e.what());
    }
    if (progress) std::printf("Case results: %s\n", output.c_str());
    return code;
}

}  // namespace quarel
