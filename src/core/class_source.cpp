#include "class_source.hpp"

#include <algorithm>
#include <utility>

namespace quorvel {
namespace {

// The positions of each class ascend in the table. They are spread into buckets of positions,
// about one value to a bucket, class after class, so that a bucket holds a few runs of
// ascending positions; one insertion pass then puts them in sequence order. Each position
// carries its class in the low half of a 64-bit key: the keys order as the positions do, and no
// label is looked up afterwards.
Labels mergeFrom(const PositionsByClass& table, int first, int last) {
    const auto classStart = [&](int c) {
        return table.start[static_cast<std::size_t>(std::max(c, table.lowest) - table.lowest)];
    };
    const std::size_t from = classStart(first);
    const std::size_t to = classStart(last + 1);
    const auto values = static_cast<std::int32_t>(to - from);
    const std::vector<std::int32_t>& byClass = table.positions;
    int shift = 0;
    while (values > 0 && (table.n >> (shift + 1)) >= values) ++shift;
    const auto bucket = [shift](std::int32_t position) {
        return static_cast<std::size_t>(position >> shift);
    };
    std::vector<std::size_t> next(bucket(table.n) + 2, 0);
    for (std::size_t k = from; k < to; ++k) ++next[bucket(byClass[k]) + 1];
    for (std::size_t b = 1; b < next.size(); ++b) next[b] += next[b - 1];
    std::vector<std::uint64_t> keys(to - from);
    for (int c = first; c <= last; ++c) {
        const std::size_t end = classStart(c + 1);
        for (std::size_t k = classStart(c); k < end; ++k)
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

}  // namespace

const PositionsByClass& PositionsByClass::of(const ClassIndex& index) {
    std::call_once(once_, [&] {
        n = index.n;
        lowest = index.lowest;
        start.assign(index.counts.size() + 1, 0);
        for (std::size_t k = 0; k < index.counts.size(); ++k)
            start[k + 1] = start[k] + static_cast<std::size_t>(index.counts[k]);
        positions.resize(static_cast<std::size_t>(index.n));
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (int i = 0; i < index.n; ++i)
            positions[next[static_cast<std::size_t>(index.label[static_cast<std::size_t>(i)] -
                                                    index.lowest)]++] = i;
        built_.store(true, std::memory_order_release);
    });
    return *this;
}

// A large part costs about the same either way; a small one in proportion to its values.
bool ClassSource::mergesPart(std::int32_t values) const {
    constexpr std::int64_t kSmall = 16;
    return kSmall * values < index_.n;
}

std::shared_ptr<const ClassSource> ClassSource::indexed(Labels labels, int first, int last) const {
    return std::make_shared<const ClassSource>(indexLabels(std::move(labels), first, last),
                                               windowPositions_);
}

std::shared_ptr<const ClassSource> ClassSource::extract(int first, int last) const {
    const std::int32_t values = index_.rangeCount(first, last);
    // The window's positions serve any part once built; until then a part's own are built,
    // which costs in proportion to the part instead of the window.
    Labels labels =
        mergesPart(values)
            ? mergeFrom(windowPositions_->built() ? *windowPositions_ : positions_->of(index_),
                        first, last)
            : scanFor(first, last, values);
    return indexed(std::move(labels), first, last);
}

std::pair<std::shared_ptr<const ClassSource>, std::shared_ptr<const ClassSource>>
ClassSource::extractBoth(int first, int split, int last) const {
    const std::int32_t lowValues = index_.rangeCount(first, split);
    const std::int32_t highValues = index_.rangeCount(split + 1, last);
    if (mergesPart(lowValues) || mergesPart(highValues))
        return {extract(first, split), extract(split + 1, last)};
    // As scanFor, each label written to both parts and kept by the one it belongs to.
    Labels low(static_cast<std::size_t>(lowValues) + 1);
    Labels high(static_cast<std::size_t>(highValues) + 1);
    std::size_t keptLow = 0;
    std::size_t keptHigh = 0;
    const auto lowFirst = static_cast<std::uint32_t>(first);
    const auto lowSpan = static_cast<std::uint32_t>(split - first);
    const auto highFirst = static_cast<std::uint32_t>(split + 1);
    const auto highSpan = static_cast<std::uint32_t>(last - split - 1);
    for (int j = 0; j < index_.blocks; ++j) {
        if (index_.rangeBefore(first, last, j + 1) == index_.rangeBefore(first, last, j)) continue;
        const int end = std::min((j + 1) * index_.blockSize, index_.n);
        for (int i = j * index_.blockSize; i < end; ++i) {
            const std::int32_t c = index_.label[static_cast<std::size_t>(i)];
            low[keptLow] = c;
            high[keptHigh] = c;
            keptLow += static_cast<std::uint32_t>(c) - lowFirst <= lowSpan ? 1 : 0;
            keptHigh += static_cast<std::uint32_t>(c) - highFirst <= highSpan ? 1 : 0;
        }
    }
    low.pop_back();
    high.pop_back();
    return {indexed(std::move(low), first, split), indexed(std::move(high), split + 1, last)};
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

}  // namespace quorvel
