#include "class_index.hpp"

#include "classes.hpp"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

// Classes 1..K are consecutive intervals when b_1..b_K ascend (ties allowed) and hold no NaN:
// then the class of x is the first c >= 1 with x <= b_c, provided b_{c-1} < x.
bool searchable(const std::vector<double>& b) {
    if (std::any_of(b.begin(), b.end(), [](double x) { return std::isnan(x); })) return false;
    return std::is_sorted(b.begin() + 1, b.end());
}

std::int32_t labelBySearch(double x, const std::vector<double>& b) {
    const auto it = std::lower_bound(b.begin() + 1, b.end(), x);
    if (it == b.end()) return 0;
    const auto c = static_cast<std::int32_t>(it - b.begin());
    return inClass(x, b[static_cast<std::size_t>(c) - 1], *it) ? c : 0;
}

std::int32_t labelByScan(double x, const std::vector<double>& b) {
    for (std::size_t c = 1; c < b.size(); ++c)
        if (inClass(x, b[c - 1], b[c])) return static_cast<std::int32_t>(c);
    return 0;
}

}  // namespace

ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K) {
    ClassIndex index;
    index.n = static_cast<int>(last - first);
    index.K = K;
    index.label.resize(static_cast<std::size_t>(index.n));
    const bool bySearch = searchable(b);
    index.ordered = bySearch && (K == 0 || b[0] <= b[1]);
    for (int j = 0; j < index.n; ++j)
        index.label[static_cast<std::size_t>(j)] =
            bySearch ? labelBySearch(first[j], b) : labelByScan(first[j], b);

    index.counts.assign(static_cast<std::size_t>(K) + 1, 0);
    index.blockSize = std::max(256, K);
    index.blocks = (index.n + index.blockSize - 1) / index.blockSize;
    const std::size_t stride = static_cast<std::size_t>(index.blocks) + 1;
    index.countsBefore.assign((static_cast<std::size_t>(K) + 1) * stride, 0);
    for (int j = 0; j < index.n; ++j) {
        if (j % index.blockSize == 0) {
            const std::size_t block = static_cast<std::size_t>(j / index.blockSize);
            for (std::size_t c = 0; c <= static_cast<std::size_t>(K); ++c)
                index.countsBefore[c * stride + block] = index.counts[c];
        }
        ++index.counts[static_cast<std::size_t>(index.label[static_cast<std::size_t>(j)])];
    }
    for (std::size_t c = 0; c <= static_cast<std::size_t>(K); ++c)
        index.countsBefore[c * stride + stride - 1] = index.counts[c];
    return index;
}

}  // namespace quorvel
