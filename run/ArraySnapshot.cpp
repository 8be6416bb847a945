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

namespace {

constexpr std::size_t kGrid = kGridSize, kContour = kContourSize;

// The arrays a new grid overwrites.
std::vector<std::pair<double*, std::size_t>> gridArrays() {
    return {{xg.data(), kGrid},  {yg.data(), kGrid},     {xgs.data(), kGrid},
            {ygs.data(), kGrid}, {vfx.data(), kContour}, {vdu.data(), kContour},
            {vwk.data(), kContour}};
}

}  // namespace

ArraySnapshot ArraySnapshot::ofGrid() {
    std::vector<Span> spans;
    for (const auto& a : gridArrays()) spans.push_back({a.first, a.second});
    return ArraySnapshot(std::move(spans));
}

ArraySnapshot ArraySnapshot::ofResults() {
    std::vector<Span> spans;
    for (const auto& a : gridArrays()) spans.push_back({a.first, a.second});
    const std::vector<std::pair<double*, std::size_t>> more = {
        {phi.data(), kGrid},    {phis.data(), kGrid},
        {amach.data(), kGrid},  {cpf.data(), static_cast<std::size_t>(kCpSize)},
        {qsf.data(), kContour}, {q2f.data(), kContour},
        {cps.data(), kContour}, {qq2.data(), kContour},
        {ptc.data(), kContour}};
    for (const auto& a : more) spans.push_back({a.first, a.second});
    return ArraySnapshot(std::move(spans));
}

void ArraySnapshot::restore() const {
    auto from = data_.begin();
    for (const Span& s : spans_) {
        std::copy(from, from + static_cast<long>(s.size), s.data);
        from += static_cast<long>(s.size);
    }
}

}  // namespace quarel
