#include "class_source.hpp"

#include <algorithm>
#include <utility>

namespace quorvel {
namespace {

// Where the positions of class c begin in a table ordered by class: the classes below c hold them.
std::size_t classStart(const ClassIndex& index, int c) {
    return c <= index.lowest ? 0 : static_cast<std::size_t>(index.rangeCount(index.lowest, c - 1));
}

}  // namespace

ClassIndex ClassSource::extract(int first, int last) const {
    const std::int32_t values = index_.rangeCount(first, last);
    // A large part costs about the same either way; a small one in proportion to its values.
    constexpr std::int64_t kSmall = 16;
    Labels labels =
        kSmall * values < index_.n ? mergeFor(first, last, values) : scanFor(first, last, values);
    return indexLabels(std::move(labels), first, last);
}

// Every block holding such values is scanned. Every label is written and the next one
// overwrites it unless it belongs: no branch to mispredict when the classes are mixed.
Labels ClassSource::scanFor(int first, int last, std::int32_t values) const {
    Labels labels(static_cast<std::size_t>(values) + 1);
    std::size_t kept = 0;
    const auto lowest = static_cast<std::uint32_t>(first);
    const auto span = static_cast<std::uint32_t>(last - first);
    for (int j = 0; j < index_.blocks; ++j) {
        if (index_.rangeBefore(first, last, j + 1) == index_.rangeBefore(first, last, j)) continue;
        const int end = std::min((j + 1) * index_.blockSize, index_.n);
        for (int i = j * index_.blockSize; i < end; ++i) {
            const std::int32_t c = index_.label[static_cast<std::size_t>(i)];
            labels[kept] = c;
            kept += static_cast<std::uint32_t>(c) - lowest <= span ? 1 : 0;
        }
    }
    labels.pop_back();
    return labels;
}

// The positions of each class ascend in the table, so merging the classes' runs pairwise puts
// them in sequence order.
Labels ClassSource::mergeFor(int first, int last, std::int32_t values) const {
    if (byClass_.empty()) {
        byClass_.resize(static_cast<std::size_t>(index_.n));
        std::vector<std::size_t> next(index_.counts.size());
        for (int c = index_.lowest; c <= index_.K; ++c)
            next[static_cast<std::size_t>(c - index_.lowest)] = classStart(index_, c);
        for (int i = 0; i < index_.n; ++i) {
            const auto c =
                static_cast<std::size_t>(index_.label[static_cast<std::size_t>(i)] - index_.lowest);
            byClass_[next[c]++] = i;
        }
    }
    const std::size_t begin = classStart(index_, first);
    Labels positions(byClass_.begin() + static_cast<std::ptrdiff_t>(begin),
                     byClass_.begin() + static_cast<std::ptrdiff_t>(begin + values));
    std::vector<std::size_t> runs;  // where each class's run begins, and the end
    for (int c = first; c <= last + 1; ++c)
        runs.push_back(c > last ? positions.size() : classStart(index_, c) - begin);
    while (runs.size() > 2) {
        std::vector<std::size_t> merged;
        std::size_t r = 0;
        for (; r + 2 < runs.size(); r += 2) {
            std::inplace_merge(positions.begin() + static_cast<std::ptrdiff_t>(runs[r]),
                               positions.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]),
                               positions.begin() + static_cast<std::ptrdiff_t>(runs[r + 2]));
            merged.push_back(runs[r]);
        }
        for (; r < runs.size(); ++r) merged.push_back(runs[r]);
        runs = std::move(merged);
    }
    for (std::int32_t& p : positions) p = index_.label[static_cast<std::size_t>(p)];
    return positions;
}

}  // namespace quorvel
