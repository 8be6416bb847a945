// Files of a headless design: the target pressure distribution read from
// a file and put on the section's faces, and the designed section written
// as a new input file.
#pragma once

#include <string>
#include <vector>

#include "GridLevel.h"
#include "INPT1.h"
#include "JobParameters.h"

namespace quarel {

// Name of the designed section's input file: the input path without its
// four-character extension, then "_design.dat".
std::string DesignedInputPath(const std::string& inputPath);

// Text of an input file (point-list layout) with the job's parameters and
// the section in xgs, ygs on the fine grid `fine`, ordinates multiplied by
// `divisor` (what the contour preparation divided them by), so that the
// file, opened and analysed, gives the designed section again.
std::string DesignedInputText(const std::string& title, const JobParameters& job,
                              const GridLevel& fine, double divisor);

// Writes `text` to a temporary file beside `path` and renames it: an
// existing file is replaced only by a complete new one.  Throws FileError.
void ReplaceTextFile(const std::string& path, const std::string& text, const std::string& what);

}  // namespace quarel
