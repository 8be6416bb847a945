// The files of a job: the names derived from the input path, the result
// file written by "Save Result" and the iteration log.
#pragma once

#include <string>
#include <vector>

#include "FreeStream.h"
#include "GridLevel.h"
#include "INPT1.h"
#include "JobParameters.h"

namespace quarel {

// The input path as chosen at "Open" and the names derived from it: the
// last three characters replaced by "ptl" (restart file), "itr" (iteration
// log) and "cp" (Cp file).
struct JobFiles {
    FileNames names;
    std::string inputPath;
    std::string itrPath;
    int pathLength = 0;

    // The names of an input path.  The path must have 5 .. 80 characters
    // (a name, a dot and a three-letter extension; the name fields hold
    // 80) and must not itself be one of the derived names.  Throws
    // FileError otherwise.
    static JobFiles forInput(const std::string& path);

    // Name of the result file number `counter`: the input path without
    // its last four characters, "_", the counter, ".out".
    std::string resultName(int counter) const;
};

// The text of a result file: title, sizes, free stream and coefficients,
// and one line per body face (x, y, Cp, Mach, and in design mode the
// target Cp) of the grid level given (after a run, the fine grid).
std::string ResultFileText(const FileNames& names, const GridLevel& level, const JobParameters& job,
                           const Results& results, const FreeStream& flow, bool design);

// Writes `text` to `path` (created or truncated).  Throws FileError.
void WriteTextFile(const std::string& path, const std::string& text, const std::string& what);

// The iteration log: one title line per grid level and one line per
// Newton step, across every run of the program.  It grows as needed, so a
// long session never loses or truncates lines.
class IterationLog {
public:
    void append(const std::string& line) { lines_.push_back(line); }
    const std::vector<std::string>& lines() const { return lines_; }
    size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    const std::string& operator[](size_t n) const { return lines_[n]; }
    std::vector<std::string>::const_iterator begin() const { return lines_.begin(); }
    std::vector<std::string>::const_iterator end() const { return lines_.end(); }
    // Writes the header and every line to `path`; false when it cannot.
    bool write(const std::string& path) const;

private:
    std::vector<std::string> lines_;
};

// Overwrites text.size() characters of `line` from `pos` with `text` (as
// FXString::replace does); a text reaching past the end lengthens the line.
void placeAt(std::string& line, int pos, const std::string& text);

}  // namespace quarel
