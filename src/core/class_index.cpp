#include "class_index.hpp"

#include "classes.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel {
namespace {

// Classes 1..K are consecutive intervals when b_1..b_K ascend (ties allowed) and hold no NaN:
// then the class of x is the first c >= 1 with x <= b_c, provided b_{c-1} < x.
bool searchable(const std::vector<double>& b) {
    if (std::any_of(b.begin(), b.end(), [](double x) { return std::isnan(x); })) return false;
    return std::is_sorted(b.begin() + 1, b.end());
}

// A branch-free lower bound over b_1..b_K: the comparisons of a binary search over random
// values are unpredictable, and conditional moves avoid their mispredictions.
std::int32_t labelBySearch(double x, const std::vector<double>& b) {
    const double* base = b.data() + 1;
    std::size_t length = b.size() - 1;
    if (length == 0) return 0;
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half - 1] < x ? base + half : base;
        length -= half;
    }
    if (*base < x) ++base;
    if (base == b.data() + b.size()) return 0;
    const auto c = static_cast<std::int32_t>(base - b.data());
    return inClass(x, b[static_cast<std::size_t>(c) - 1], *base) ? c : 0;
}

std::int32_t labelByScan(double x, const std::vector<double>& b) {
    for (std::size_t c = 1; c < b.size(); ++c)
        if (inClass(x, b[c - 1], b[c])) return static_cast<std::int32_t>(c);
    return 0;
}

}  // namespace

ClassIndex indexLabels(std::vector<std::int32_t> labels, int lowest, int K) {
    ClassIndex index;
    index.n = static_cast<int>(labels.size());
    index.K = K;
    index.lowest = lowest;
    index.label = std::move(labels);
    const auto classes = static_cast<std::size_t>(K - lowest + 1);
    index.counts.assign(classes, 0);
    index.blockSize = std::max(256, static_cast<int>(classes));
    index.blocks = (index.n + index.blockSize - 1) / index.blockSize;
    const std::size_t stride = static_cast<std::size_t>(index.blocks) + 1;
    index.upToBefore.assign(classes * stride, 0);
    const auto recordBoundary = [&](std::size_t boundary) {
        std::int32_t upTo = 0;
        for (std::size_t c = 0; c < classes; ++c) {
            upTo += index.counts[c];
            index.upToBefore[c * stride + boundary] = upTo;
        }
    };
    for (int j = 0; j < index.n; ++j) {
        if (j % index.blockSize == 0) recordBoundary(static_cast<std::size_t>(j / index.blockSize));
        ++index.counts[static_cast<std::size_t>(index.label[static_cast<std::size_t>(j)] - lowest)];
    }
    recordBoundary(stride - 1);
    return index;
}

std::vector<double> inverseRoots(int n) {
    std::vector<double> roots(static_cast<std::size_t>(n) + 1, 0.0);
    for (int i = 1; i <= n; ++i)
        roots[static_cast<std::size_t>(i)] = 1.0 / std::sqrt(static_cast<double>(i));
    return roots;
}

ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K) {
    const auto n = static_cast<std::size_t>(last - first);
    std::vector<std::int32_t> labels(n);
    const bool bySearch = searchable(b);
    for (std::size_t j = 0; j < n; ++j)
        labels[j] = bySearch ? labelBySearch(first[j], b) : labelByScan(first[j], b);
    return indexLabels(std::move(labels), 0, K);
}

}  // namespace quorvel
