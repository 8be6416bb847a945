// The exact Newton rows held for chord steps.
#include "held_rows.h"

#include "state.h"

namespace quarel {

namespace {

GridArray* const kHeldArrays[13] = {&ad1, &ad2, &ad3, &ad4, &ad5, &ad6, &ad7,
                                    &ad8, &ad9, &adm, &adp, &adg, &adq};

// Which terms of the Newton rows are switched on at each i-face: upwind
// density from the face before or after, shock-point correction.
void FacePattern(int NY, int NX, std::vector<unsigned char>& faces) {
    faces.clear();
    for (int j = 1; j <= NY - 1; ++j)
        for (int f = 0; f <= NX - 1; ++f)
            faces.push_back(static_cast<unsigned char>((dsi(f, j) != 0.0 ? 1 : 0) |
                                                       (dri(f, j) != 0.0 ? 2 : 0) |
                                                       (shk(f, j) != 0.0 ? 4 : 0)));
}

}  // namespace

void HeldExactRows::hold(int NY, int k, int NX, int itr, double res) {
    FacePattern(NY, NX, faces_);
    const size_t n = static_cast<size_t>(GridArray::at(NX, NY - 1)) + 1;
    for (int a = 0; a < 13; ++a)
        rows_[a].assign(kHeldArrays[a]->data(), kHeldArrays[a]->data() + n);
    scale_.assign(rsc.data(), rsc.data() + n);
    extraCount_ = extraCouplings.count;
    moment_ = extraCouplings.moment;
    extra_.assign(extraCouplings.value, extraCouplings.value + extraCouplings.count);
    entropy_ = entropyCouplings;
    valid_ = true;
    chordStep_ = false;
    NX_ = NX;
    NY_ = NY;
    k_ = k;
    itr_ = itr;
    res_ = res;
}

void HeldExactRows::restore(int NY, int NX, int itr, double res) {
    for (int j = 1; j <= NY - 1; ++j)
        for (int i = 1; i <= NX - 1; ++i) {
            const int o = GridArray::at(i, j);
            const double f = scale_[o] / rsc(i, j);
            for (int a = 0; a < 13; ++a) kHeldArrays[a]->data()[o] = rows_[a][o] * f;
        }
    ExtraCouplings& x = extraCouplings;
    x.count = extraCount_;
    x.moment = moment_;
    for (int n = 0; n < x.count; ++n)
        x.value[n] = extra_[n] * scale_[x.row[n]] / rsc.data()[x.row[n]];
    entropyCouplings = entropy_;
    for (size_t r = 0; r < entropy_.row.size(); ++r)
        entropyCouplings.value[r] *= scale_[entropy_.row[r]] / rsc.data()[entropy_.row[r]];
    itr_ = itr;
    res_ = res;
    chordStep_ = true;
}

bool HeldExactRows::fitFor(int NY, int k, int NX, int itr) {
    if (!(valid_ && NX_ == NX && NY_ == NY && k_ == k && itr_ == itr - 1)) return false;
    FacePattern(NY, NX, facesNow_);
    return facesNow_ == faces_;
}

}  // namespace quarel
