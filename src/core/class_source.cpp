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

std::shared_ptr<const ClassSource> ClassSource::extract(int first, int last) const {
    const std::int32_t values = index_.rangeCount(first, last);
    // A large part costs about the same either way; a small one in proportion to its values.
    constexpr std::int64_t kSmall = 16;
    // The window's positions serve any part once built; until then a part's own are built,
    // which costs in proportion to the part instead of the window.
    const ClassSource& positions =
        window().byClassBuilt_.load(std::memory_order_acquire) ? window() : *this;
    Labels labels = kSmall * values < index_.n ? positions.mergeFor(first, last, values)
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

// The positions of each class ascend in the table. They are spread into buckets of positions,
// about one value to a bucket, class after class, so that a bucket holds a few runs of
// ascending positions; one insertion pass then puts them in sequence order. Each position
// carries its class in the low half of a 64-bit key: the keys order as the positions do, and no
// label is looked up afterwards.
const std::vector<std::int32_t>& ClassSource::positionsByClass() const {
    std::call_once(byClassOnce_, [this] {
        byClass_.resize(static_cast<std::size_t>(index_.n));
        std::vector<std::size_t> next(index_.counts.size());
        for (int c = index_.lowest; c <= index_.K; ++c)
            next[static_cast<std::size_t>(c - index_.lowest)] = classStart(index_, c);
        for (int i = 0; i < index_.n; ++i) {
            const auto c =
                static_cast<std::size_t>(index_.label[static_cast<std::size_t>(i)] - index_.lowest);
            byClass_[next[c]++] = i;
        }
        byClassBuilt_.store(true, std::memory_order_release);
    });
    return byClass_;
}

Labels ClassSource::mergeFor(int first, int last, std::int32_t values) const {
    const std::vector<std::int32_t>& byClass = positionsByClass();
    int shift = 0;
    while (values > 0 && (index_.n >> (shift + 1)) >= values) ++shift;
    const auto bucket = [shift](std::int32_t position) {
        return static_cast<std::size_t>(position >> shift);
    };
    std::vector<std::size_t> next(bucket(index_.n) + 2, 0);
    const std::size_t from = classStart(index_, first);
    const std::size_t to = classStart(index_, last + 1);
    for (std::size_t k = from; k < to; ++k) ++next[bucket(byClass[k]) + 1];
    for (std::size_t b = 1; b < next.size(); ++b) next[b] += next[b - 1];
    std::vector<std::uint64_t> keys(to - from);
    for (int c = first; c <= last; ++c) {
        const std::size_t end = classStart(index_, c + 1);
        for (std::size_t k = classStart(index_, c); k < end; ++k)
            keys[next[bucket(byClass[k])]++] =
                static_cast<std::uint64_t>(byClass[k]) << 32 | static_cast<std::uint32_t>(c);
    }
    for (std::size_t k = 1; k < keys.size(); ++k) {
        const std::uint64_t key = keys[k];
        std::size_t at = k;
        for (; at > 0 && keys[at - 1] > key; --at) keys[at] = keys[at - 1];
        keys[at] = key;
    }
    Labels labels(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) labels[k] = static_cast<std::int32_t>(keys[k]);
    return labels;
}

}  // namespace quorvel
