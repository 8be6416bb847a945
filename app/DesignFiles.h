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

// A target pressure distribution: points (x, Cp) in contour order, from
// the trailing edge over the upper surface to the leading edge and back
// over the lower surface.
struct TargetCp {
    std::vector<double> x, cp;
};

// Reads the computed Cp (the "CpFact" column) of a Cp file written by this
// program as a target.  Throws FileError, naming the file and the line,
// when the file cannot be read, is short, holds a field that is not a
// number, or its abscissae do not run from the trailing edge to the
// leading edge and back.
TargetCp ReadCpFileTarget(const std::string& path);

// Puts a target on the body faces i = k .. NX-k-1 of `level` (the fine
// grid in xg): each face takes the value at its midpoint, interpolated
// linearly along the surface it lies on (faces beyond the end of the
// target's surface take its end value).  Writes cps.
void SetTargetOnFaces(const TargetCp& target, const GridLevel& level);

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
