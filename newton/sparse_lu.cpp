// Complete LU factors on a nested dissection, the analysis kept.
#include "sparse_lu.h"

namespace quarel {

void SparseLu::Clear() {
    frontal_ = MultifrontalLu();
    start_.clear();
    col_.clear();
    order_.clear();
    entries_ = 0.0;
}

bool SparseLu::Factor(const SparseRows& a, const Dissection& d) {
    entries_ = 0.0;
    const bool same = !order_.empty() && a.start == start_ && a.col == col_ && d.order == order_;
    if (!same) {
        Clear();
        if (!frontal_.Analyse(a, d)) return false;
        start_ = a.start;
        col_ = a.col;
        order_ = d.order;
    }
    if (!frontal_.Factor(a)) return false;
    entries_ = frontal_.entries();
    return true;
}

}  // namespace quarel
