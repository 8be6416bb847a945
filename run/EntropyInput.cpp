#include "EntropyInput.h"

#include <sstream>

#include "message.h"

namespace quarel {

namespace {
const char kHeader[] = "<Entropy >";
}

std::string EntropySettingsText(const EntropyOptions& o) {
    if (!o.enabled) return "";
    return std::string(kHeader) +
           "  shock entropy carried downstream (non-isentropic potential)\n        1.\n";
}

void ReadEntropySettings(const std::string& text, const std::string& fileName,
                         EntropyOptions& options) {
    const size_t at = text.find(std::string("\n") + kHeader);
    if (at == std::string::npos) return;
    const size_t line = text.find('\n', at + 1);
    std::istringstream in(line == std::string::npos ? std::string() : text.substr(line + 1));
    double v = -1.0;
    if (!(in >> v) || !(v == 0.0 || v == 1.0))
        throw FileError("Cannot read \"" + fileName +
                        "\": the line after <Entropy > needs 1 (non-isentropic) or 0.");
    options.enabled = v == 1.0;
}

}  // namespace quarel
