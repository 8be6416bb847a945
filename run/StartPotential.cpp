#include "StartPotential.h"

#include <cmath>

#include "state.h"

namespace quarel {

void FreeStreamPotential(const FreeStream& flow, const int& NX, const int& NY) {
    for (int j = 1; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            const double p = flow.cu * xg(i, j) + flow.su * yg(i, j);
            phi(i, j) = p;
            phis(i, j) = p;
        }
    }
}

std::vector<double> FinePotential(const int& NX, const int& NY) {
    std::vector<double> v;
    v.reserve(static_cast<size_t>(NX + 1) * NY);
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i) v.push_back(phis(i, j));
    return v;
}

void ExtrapolatedPotential(const std::vector<double>& before, const double& ratio, const int& NX,
                           const int& NY) {
    size_t n = 0;
    for (int j = 1; j <= NY; ++j)
        for (int i = 0; i <= NX; ++i, ++n) phis(i, j) += ratio * (phis(i, j) - before[n]);
}

}  // namespace quarel
