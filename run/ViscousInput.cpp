#include "ViscousInput.h"

#include <cstdio>
#include <sstream>

#include "message.h"

namespace quarel {

namespace {
const char kHeader[] = "<Reynolds><  Ncrit ><Xtr up  ><Xtr low >";
}

std::string ViscousSettingsText(const ViscousOptions& o) {
    if (!o.enabled) return "";
    char b[128];
    std::snprintf(b, sizeof b, "%s  viscous analysis\n%10.3E%10.5f%10.5f%10.5f\n", kHeader,
                  o.reynolds, o.ncrit, o.xtrUpper, o.xtrLower);
    return b;
}

void ReadViscousSettings(const std::string& text, const std::string& fileName,
                         ViscousOptions& options) {
    const size_t at = text.find(std::string("\n") + kHeader);
    if (at == std::string::npos) return;
    const size_t line = text.find('\n', at + 1);
    std::istringstream in(line == std::string::npos ? std::string() : text.substr(line + 1));
    double re = 0, n = 0, xu = 0, xl = 0;
    if (!(in >> re >> n >> xu >> xl) || !(re >= 1e4 && re <= 1e9) || !(n >= 0 && n <= 20) ||
        !(xu >= 0 && xu <= 1) || !(xl >= 0 && xl <= 1))
        throw FileError("Cannot read \"" + fileName +
                        "\": the line after <Reynolds> needs the Reynolds number (1E4 .. 1E9), "
                        "N (0 .. 20) and the transition x/c of both surfaces (0 .. 1).");
    options.enabled = true;
    options.reynolds = re;
    options.ncrit = n;
    options.xtrUpper = xu;
    options.xtrLower = xl;
}

void ValidateViscous(const ViscousOptions& o) {
    if (!o.enabled) return;
    struct Range {
        const char* name;
        double value, lo, hi;
    } ranges[] = {{"The Reynolds number", o.reynolds, 1.0e4, 1.0e9},
                  {"N of the transition", o.ncrit, 0.0, 20.0},
                  {"The transition x/c on the upper surface", o.xtrUpper, 0.0, 1.0},
                  {"The transition x/c on the lower surface", o.xtrLower, 0.0, 1.0}};
    for (const Range& r : ranges) {
        if (r.value >= r.lo && r.value <= r.hi) continue;
        char b[200];
        std::snprintf(b, sizeof b, "%s, %g, is outside %g .. %g.", r.name, r.value, r.lo, r.hi);
        throw ParameterError(b);
    }
}

const char kViscousDesignRefused[] =
    "inverse design works in inviscid mode only: run it with no Reynolds number (no --re, the "
    "Re= box cleared, no viscous lines in the input file).";

}  // namespace quarel
