// The non-isentropic model in the program's input file: two optional lines
// after the growth ratios (and the viscous lines),
//   <Entropy >  shock entropy carried downstream (non-isentropic potential)
//          1.
// written only when the model is on, so that every other file is as before;
// a file without them is an isentropic job.
#pragma once

#include <string>

#include "entropy.h"

namespace quarel {

// The two lines for `options` ("" when the model is off).
std::string EntropySettingsText(const EntropyOptions& options);

// Reads the two lines from the text of an input file into `options` when
// present; leaves `options` alone otherwise.  Throws FileError naming
// `fileName` when the value under the header is not 0 or 1.
void ReadEntropySettings(const std::string& text, const std::string& fileName,
                         EntropyOptions& options);

}  // namespace quarel
