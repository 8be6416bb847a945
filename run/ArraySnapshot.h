// A copy of solver arrays taken before a command that may be refused or
// stopped half-way, to put them back as they were.
#pragma once

#include <cstddef>
#include <vector>

namespace quarel {

class ArraySnapshot {
public:
    // The arrays a grid calculation overwrites before it can know whether
    // it will succeed: the grids xg, yg, the saved fine grid xgs, ygs and
    // the transpiration vfx, vdu, vwk.
    static ArraySnapshot ofGrid();
    // Everything a calculation changes that the window, the Mach view, the
    // result file and the next design iteration read afterwards: the arrays
    // of ofGrid, the potentials phi, phis, the surface results cpf, qsf,
    // q2f, the Mach field, and the design target cps, qq2, ptc.
    static ArraySnapshot ofResults();

    // Puts the arrays back as they were when the snapshot was taken.
    void restore() const;

private:
    struct Span {
        double* data;
        std::size_t size;
    };
    explicit ArraySnapshot(std::vector<Span> spans);

    std::vector<Span> spans_;
    std::vector<double> data_;
};

}  // namespace quarel
