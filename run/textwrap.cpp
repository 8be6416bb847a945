#include "textwrap.h"

namespace quarel {

std::string wrapText(const std::string& text, size_t width) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // One input line, filled word by word.
        size_t lineLength = 0;
        size_t pos = start;
        bool firstWord = true;
        while (pos < end) {
            size_t wordEnd = text.find(' ', pos);
            if (wordEnd == std::string::npos || wordEnd > end) wordEnd = end;
            const size_t wordLength = wordEnd - pos;
            if (wordLength > 0) {
                if (!firstWord && lineLength + 1 + wordLength > width) {
                    out += '\n';
                    lineLength = 0;
                    firstWord = true;
                }
                if (!firstWord) {
                    out += ' ';
                    ++lineLength;
                }
                out.append(text, pos, wordLength);
                lineLength += wordLength;
                firstWord = false;
            }
            pos = wordEnd + 1;
        }
        if (end == text.size()) break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

}  // namespace quarel
