// A copy of the arrays that a grid calculation overwrites before it can
// know whether it will succeed (the grids xg, yg, the saved fine grid xgs,
// ygs and the transpiration vfx, vdu), to put them back when it is refused.
#pragma once

#include <vector>

namespace quarel {

class GridSnapshot {
public:
    // Copies the arrays now.
    GridSnapshot();
    // Puts them back as they were at construction.
    void restore() const;

private:
    std::vector<double> data_;
};

}  // namespace quarel
