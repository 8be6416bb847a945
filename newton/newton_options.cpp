// Names of the linear methods of the Newton step.
#include "newton_options.h"

#include <cstdlib>
#include <cstring>

namespace quarel {

const char* LinearMethodName(LinearMethod method) {
    switch (method) {
        case LinearMethod::Inexact:
            return "inexact";
        case LinearMethod::Ilu:
            return "ilu";
        case LinearMethod::Multilevel:
            return "multilevel";
        case LinearMethod::Direct:
            return "direct";
        default:
            return "line";
    }
}

int ThreadsFromEnvironment() {
    const char* text = std::getenv("QUAREL_THREADS");
    if (text == nullptr) return 0;
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && n >= 1 && n <= 256 ? static_cast<int>(n) : 0;
}

bool ParseLinearMethod(const char* name, LinearMethod& method) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "line") == 0) {
        method = LinearMethod::Line;
        return true;
    }
    if (std::strcmp(name, "inexact") == 0) {
        method = LinearMethod::Inexact;
        return true;
    }
    if (std::strcmp(name, "ilu") == 0) {
        method = LinearMethod::Ilu;
        return true;
    }
    if (std::strcmp(name, "multilevel") == 0) {
        method = LinearMethod::Multilevel;
        return true;
    }
    if (std::strcmp(name, "direct") == 0) {
        method = LinearMethod::Direct;
        return true;
    }
    return false;
}

}  // namespace quarel
