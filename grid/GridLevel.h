// Sizes of one grid level of the coarse-to-fine run.  The fine grid has
// npa = Kgrid*NPA panels on the section, k = Kgrid*NBH wake cells on each
// side of the cut, NY = Kgrid*NCO + 1 lines and NX = npa + 2k; a level of
// step s takes every s-th node of it.
#pragma once

namespace quarel {

struct GridLevel {
    int npa = 0;       // panels along the section
    int k = 0;         // trailing-edge index (the result file's nbh)
    int NX = 0;        // last i index, npa + 2k
    int NY = 0;        // last j index (the result file's nco)
    int gridStep = 1;  // stride in fine-grid nodes: Kgrid on the coarsest level, 1 on the fine
    int iMid = 0;      // NX / 2, the leading edge

    // The fine grid of the panel parameters.
    static GridLevel fine(int NPA, int NCO, int NBH, int Kgrid) {
        GridLevel l;
        l.npa = Kgrid * NPA;
        l.NY = Kgrid * NCO + 1;
        l.k = Kgrid * NBH;
        l.NX = l.npa + 2 * l.k;
        l.iMid = l.NX / 2;
        l.gridStep = 1;
        return l;
    }
    // The first level of a run: every step-th node of this (fine) level.
    GridLevel coarsened(int step) const {
        GridLevel l;
        l.gridStep = step;
        l.npa = npa / step;
        l.NY = (NY - 1) / step + 1;
        l.k = k / step;
        l.NX = NX / step;
        l.iMid = l.NX / 2;
        return l;
    }
    // The next finer level (half the step).
    GridLevel refined() const {
        GridLevel l;
        l.k = 2 * k;
        l.npa = 2 * npa;
        l.gridStep = gridStep / 2;
        l.iMid = NX;
        l.NY = 2 * (NY - 1) + 1;
        l.NX = 2 * NX;
        return l;
    }
    // The fine grid this level was taken from.
    GridLevel fineLevel() const {
        GridLevel l;
        l.npa = npa * gridStep;
        l.k = k * gridStep;
        l.NX = NX * gridStep;
        l.NY = gridStep * (NY - 1) + 1;
        l.gridStep = 1;
        l.iMid = l.NX / 2;
        return l;
    }
    int fineNX() const { return gridStep * NX; }
    int fineNY() const { return gridStep * (NY - 1) + 1; }
    bool isFine() const { return gridStep == 1; }
};

}  // namespace quarel
