#include "constants.h"

namespace quarel {

double RoundSingle(double v) {
    return static_cast<double>(static_cast<float>(v));
}

}  // namespace quarel
