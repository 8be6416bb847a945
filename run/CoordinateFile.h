// Section coordinate files as section libraries publish them, and the
// program's own input file written from a job.
//
// Two layouts are recognised from their content:
//   point list  a name line, then one "x y" pair per line from the
//               trailing edge over the upper surface round the leading edge
//               to the trailing edge on the lower surface;
//   two blocks  a name line, a line with the point counts of the upper and
//               the lower surface, then the upper surface and the lower
//               surface, each from the leading edge to the trailing edge.
// Anything else (in particular the program's own input file, whose second
// line is a caption) is not a coordinate file.
#pragma once

#include <string>
#include <vector>

#include "JobParameters.h"

namespace quarel {

enum class CoordinateLayout { None, PointList, TwoBlocks };

// The layout of `text`, or None when it is no coordinate file.
CoordinateLayout RecogniseCoordinates(const std::string& text);

// A section read from a coordinate file, brought into the order of the
// program's point list (trailing edge, upper surface, leading edge, lower
// surface, trailing edge) with at most kMaxContour points.
struct Section {
    std::string name;
    std::vector<double> x, y;
    // What was changed on the way, in words for the user (reversed order,
    // dropped duplicate points, a closed trailing edge, resampling).
    std::vector<std::string> notes;
};

// Reads a coordinate file.  `fileName` names it in messages.  Throws
// FileError naming the line for a file that is not a usable section.
Section ReadSection(const std::string& text, const std::string& fileName);

// Resamples a contour in point-list order (trailing edge, upper surface,
// leading edge, lower surface) along the arc length of each surface when it
// has more points than the program holds, and says so in `notes`.
void FitContour(std::vector<double>& x, std::vector<double>& y, std::vector<std::string>& notes);

// The job the program runs for a coordinate file when no template is
// given: the sample's grid and convergence settings at M 0.5, alpha 0.
JobParameters DefaultJob();

// Puts the section into the job's contour (point-list layout).
void SetContour(JobParameters& job, const Section& section);

// The text of the program's input file for `job` with the given title, in
// the point-list layout; every number is written with its decimal point.
// Throws ParameterError for a value that does not fit its field.
std::string InputFileText(const std::string& title, const JobParameters& job);

}  // namespace quarel
