#include "GridSnapshot.h"

#include <algorithm>

#include "state.h"

namespace quarel {

namespace {

GridArray* const kGrids[] = {&xg, &yg, &xgs, &ygs};
ContourArray* const kContours[] = {&vfx, &vdu};

}  // namespace

GridSnapshot::GridSnapshot() {
    data_.reserve(4 * static_cast<size_t>(kGridSize) + 2 * static_cast<size_t>(kContourSize));
    for (GridArray* g : kGrids) data_.insert(data_.end(), g->data(), g->data() + kGridSize);
    for (ContourArray* c : kContours)
        data_.insert(data_.end(), c->data(), c->data() + kContourSize);
}

void GridSnapshot::restore() const {
    auto from = data_.begin();
    for (GridArray* g : kGrids) {
        std::copy(from, from + kGridSize, g->data());
        from += kGridSize;
    }
    for (ContourArray* c : kContours) {
        std::copy(from, from + kContourSize, c->data());
        from += kContourSize;
    }
}

}  // namespace quarel
