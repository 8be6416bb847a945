// The input section contour and the grid growth ratios, as the input
// geometry file and the coordinate files give them to the grid generator.
#pragma once

#include "state.h"

namespace quarel {

// Input contour: at most 360 points, index 1..360.
using ContourInput = IndexedArray<360, 1>;
// Growth ratios of the normal grid spacing at the 13 grid stations,
// index 1..13 (the user gives entries 1, 4, 6, 7, 8, 10, 13).
using GrowthRatios = IndexedArray<13, 1>;

constexpr int kMaxContour = 360;  // points after expansion

}  // namespace quarel
