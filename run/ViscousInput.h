// The viscous settings in the program's input file: two optional lines
// after the growth ratios,
//   <Reynolds><  Ncrit ><Xtr up  ><Xtr low >  viscous analysis
//     6.5E+06   9.00000   0.03000   0.03000
// written only for a viscous job, so that every other file is as before;
// a file without them is an inviscid job.
#pragma once

#include <string>

#include "viscous_options.h"

namespace quarel {

// The two lines for `options` ("" when the analysis is inviscid).
std::string ViscousSettingsText(const ViscousOptions& options);

// Reads the two lines from the text of an input file into `options`
// (enabled) when present; leaves `options` alone otherwise.  Throws
// FileError naming `fileName` for a header without four numbers in range.
void ReadViscousSettings(const std::string& text, const std::string& fileName,
                         ViscousOptions& options);

// Throws ParameterError when an enabled `options` has a value outside the
// ranges the input file and the batch program take (Reynolds number 1E4 ..
// 1E9, N 0 .. 20, transition x/c 0 .. 1); a disabled one passes.
void ValidateViscous(const ViscousOptions& options);

// Why the design iteration does not run in viscous mode: it does not yet
// take the displacement thickness out of the designed contour.
extern const char kViscousDesignRefused[];

}  // namespace quarel
