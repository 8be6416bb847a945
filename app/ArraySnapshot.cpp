#include "ArraySnapshot.h"

#include <algorithm>
#include <utility>

#include "state.h"

namespace quarel {

ArraySnapshot::ArraySnapshot(std::vector<Span> spans) : spans_(std::move(spans)) {
    std::size_t total = 0;
    for (const Span& s : spans_) total += s.size;
    data_.reserve(total);
    for (const Span& s : spans_) data_.insert(data_.end(), s.data, s.data + s.size);
}

ArraySnapshot ArraySnapshot::ofGrid() {
    const std::size_t g = kGridSize, c = kContourSize;
    return ArraySnapshot({{xg.data(), g},
                          {yg.data(), g},
                          {xgs.data(), g},
                          {ygs.data(), g},
                          {vfx.data(), c},
                          {vdu.data(), c}});
}

ArraySnapshot ArraySnapshot::ofResults() {
    const std::size_t g = kGridSize, c = kContourSize;
    return ArraySnapshot({{xg.data(), g},
                          {yg.data(), g},
                          {xgs.data(), g},
                          {ygs.data(), g},
                          {vfx.data(), c},
                          {vdu.data(), c},
                          {phi.data(), g},
                          {phis.data(), g},
                          {amach.data(), g},
                          {cpf.data(), static_cast<std::size_t>(kCpSize)},
                          {qsf.data(), c},
                          {q2f.data(), c},
                          {cps.data(), c},
                          {qq2.data(), c},
                          {ptc.data(), c}});
}

void ArraySnapshot::restore() const {
    auto from = data_.begin();
    for (const Span& s : spans_) {
        std::copy(from, from + static_cast<long>(s.size), s.data);
        from += static_cast<long>(s.size);
    }
}

}  // namespace quarel
