// Word wrapping of message texts for the window's information boxes,
// which show each line at its full length.
#pragma once

#include <string>

namespace quarel {

// Breaks every line of `text` at spaces so that no line is longer than
// `width` characters; a single word longer than that (a long file path)
// keeps a line of its own.  Existing line breaks are kept.
std::string wrapText(const std::string& text, size_t width);

}  // namespace quarel
