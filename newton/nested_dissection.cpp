// Nested dissection of a structured grid's unknowns along its grid lines.
#include "nested_dissection.h"

#include <algorithm>

namespace quarel {

namespace {

class Dissector {
public:
    Dissector(const SparseRows& a, const std::vector<int>& gi, const std::vector<int>& gj, int leaf)
        : gi_(gi), gj_(gj), leaf_(std::max(leaf, 1)), side_(a.n, kOutside) {
        Couplings(a, start_, adj_);
        result_.order.reserve(a.n);
    }

    Dissection Run(std::vector<int> nodes) {
        if (!nodes.empty()) Split(nodes);
        return std::move(result_);
    }

private:
    static constexpr char kOutside = 0, kFirst = 1, kSecond = 2, kSeparator = 3;

    // Marks the nodes on either side of the median grid line of the
    // direction (i or j) and moves into the separator every node of the
    // second half coupled to the first; returns the separator's size, or
    // nodes.size() when the cut leaves a half empty.
    size_t Cut(const std::vector<int>& nodes, bool alongI) {
        const std::vector<int>& g = alongI ? gi_ : gj_;
        key_.resize(nodes.size());
        for (size_t q = 0; q < nodes.size(); ++q) key_[q] = g[nodes[q]];
        std::nth_element(key_.begin(), key_.begin() + key_.size() / 2, key_.end());
        const int median = key_[key_.size() / 2];
        size_t first = 0, second = 0;
        for (int v : nodes) {
            side_[v] = g[v] < median ? kFirst : g[v] > median ? kSecond : kSeparator;
            first += side_[v] == kFirst;
            second += side_[v] == kSecond;
        }
        if (first == 0 || second == 0) return nodes.size();
        for (int v : nodes) {
            if (side_[v] != kFirst) continue;
            for (int p = start_[v]; p < start_[v + 1]; ++p)
                if (side_[adj_[p]] == kSecond) side_[adj_[p]] = kSeparator;
        }
        size_t separator = 0;
        for (int v : nodes) separator += side_[v] == kSeparator;
        return separator;
    }

    // Orders the nodes, the halves before their separator; returns the
    // index of the block that comes last.
    int Split(std::vector<int>& nodes) {
        // A part too small to split, or one that no cut splits (all its
        // nodes on one line of each direction), is one block.
        size_t acrossI = nodes.size(), acrossJ = nodes.size();
        if (nodes.size() > static_cast<size_t>(leaf_)) {
            acrossI = Cut(nodes, true);
            acrossJ = Cut(nodes, false);
        }
        if (std::min(acrossI, acrossJ) >= nodes.size()) {
            for (int v : nodes) side_[v] = kOutside;
            return Append(nodes);
        }
        // The direction with the smaller separator.
        if (acrossI < acrossJ) Cut(nodes, true);
        std::vector<int> first, second, separator;
        for (int v : nodes) {
            (side_[v] == kFirst ? first : side_[v] == kSecond ? second : separator).push_back(v);
            side_[v] = kOutside;
        }
        nodes.clear();
        nodes.shrink_to_fit();
        int below[2] = {-1, -1};
        if (!first.empty()) below[0] = Split(first);
        if (!second.empty()) below[1] = Split(second);
        const int block = Append(separator);
        for (int b : below)
            if (b >= 0) result_.blocks[b].parent = block;
        return block;
    }

    int Append(const std::vector<int>& nodes) {
        DissectionBlock b;
        b.first = static_cast<int>(result_.order.size());
        result_.order.insert(result_.order.end(), nodes.begin(), nodes.end());
        b.last = static_cast<int>(result_.order.size());
        result_.blocks.push_back(b);
        return static_cast<int>(result_.blocks.size()) - 1;
    }

    const std::vector<int>& gi_;
    const std::vector<int>& gj_;
    const int leaf_;
    std::vector<char> side_;
    std::vector<int> start_, adj_;
    std::vector<int> key_;
    Dissection result_;
};

}  // namespace

void Couplings(const SparseRows& a, std::vector<int>& start, std::vector<int>& adj) {
    start.assign(a.n + 1, 0);
    for (int r = 0; r < a.n; ++r)
        for (int p = a.start[r]; p < a.start[r + 1]; ++p)
            if (a.col[p] != r) {
                ++start[r + 1];
                ++start[a.col[p] + 1];
            }
    for (int r = 0; r < a.n; ++r) start[r + 1] += start[r];
    std::vector<int> next(start.begin(), start.end() - 1);
    adj.resize(start[a.n]);
    for (int r = 0; r < a.n; ++r)
        for (int p = a.start[r]; p < a.start[r + 1]; ++p)
            if (a.col[p] != r) {
                adj[next[r]++] = a.col[p];
                adj[next[a.col[p]]++] = r;
            }
}

Dissection GridNestedDissection(const SparseRows& a, const std::vector<int>& gi,
                                const std::vector<int>& gj, int leaf) {
    std::vector<int> all(a.n);
    for (int r = 0; r < a.n; ++r) all[r] = r;
    return Dissector(a, gi, gj, leaf).Run(std::move(all));
}

}  // namespace quarel
