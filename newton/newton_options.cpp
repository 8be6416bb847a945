// Names of the linear methods of the Newton step.
#include "newton_options.h"

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
