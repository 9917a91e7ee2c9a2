#include "class_source.hpp"

#include <algorithm>
#include <utility>

namespace quorvel {
namespace {

// Where the positions of class c begin in a table ordered by class: the classes below c hold them.
std::size_t classStart(const ClassIndex& index, int c) {
    return c <= index.lowest ? 0 : static_cast<std::size_t>(index.rangeCount(index.lowest, c - 1));
}

// Merges the ascending runs [a, aEnd) and [b, bEnd) of distinct keys into `out`. Which run
// the next key comes from is as unpredictable as the positions, so no branch decides it.
void mergeRuns(const std::uint64_t* a, const std::uint64_t* aEnd, const std::uint64_t* b,
               const std::uint64_t* bEnd, std::uint64_t* out) {
    while (a != aEnd && b != bEnd) {
        const bool fromB = *b < *a;
        *out++ = fromB ? *b : *a;
        a += fromB ? 0 : 1;
        b += fromB ? 1 : 0;
    }
    std::copy(b, bEnd, std::copy(a, aEnd, out));
}

}  // namespace

std::shared_ptr<const ClassSource> ClassSource::extract(int first, int last) const {
    const std::int32_t values = index_.rangeCount(first, last);
    // A large part costs about the same either way; a small one in proportion to its values.
    constexpr std::int64_t kSmall = 16;
    Labels labels = kSmall * values < index_.n ? window().mergeFor(first, last, values)
                                               : scanFor(first, last, values);
    return std::make_shared<const ClassSource>(indexLabels(std::move(labels), first, last),
                                               window_ ? window_ : shared_from_this());
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
// them in window order. Each position carries its class in the low half of a 64-bit key: the
// keys order as the positions do, and no label is looked up afterwards.
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
    const auto size = static_cast<std::size_t>(values);
    std::vector<std::uint64_t> keys(size);
    std::vector<std::uint64_t> merged(size);
    std::vector<std::size_t> runs;  // where each class's run begins, and the end
    for (int c = first; c <= last; ++c) {
        const std::size_t from = classStart(index_, c);
        const std::size_t to = classStart(index_, c + 1);
        runs.push_back(from - begin);
        for (std::size_t k = from; k < to; ++k)
            keys[k - begin] =
                static_cast<std::uint64_t>(byClass_[k]) << 32 | static_cast<std::uint32_t>(c);
    }
    runs.push_back(size);
    while (runs.size() > 2) {
        std::vector<std::size_t> joined;
        std::size_t r = 0;
        for (; r + 2 < runs.size(); r += 2) {
            mergeRuns(keys.data() + runs[r], keys.data() + runs[r + 1], keys.data() + runs[r + 1],
                      keys.data() + runs[r + 2], merged.data() + runs[r]);
            joined.push_back(runs[r]);
        }
        if (r + 1 < runs.size())
            std::copy(keys.begin() + static_cast<std::ptrdiff_t>(runs[r]), keys.end(),
                      merged.begin() + static_cast<std::ptrdiff_t>(runs[r]));
        for (; r < runs.size(); ++r) joined.push_back(runs[r]);
        runs = std::move(joined);
        keys.swap(merged);
    }
    Labels labels(size);
    for (std::size_t k = 0; k < size; ++k) labels[k] = static_cast<std::int32_t>(keys[k]);
    return labels;
}

}  // namespace quorvel
