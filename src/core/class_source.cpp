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

// The labels of classes first..last (`values` of them) gathered from a scan: every label is
// written and the next one overwrites it unless it belongs, so that no branch mispredicts when
// the classes are mixed.
class GatheredPart {
public:
    GatheredPart(int first, int last, std::int32_t values)
        : labels_(static_cast<std::size_t>(values) + 1),
          first_(static_cast<std::uint32_t>(first)),
          span_(static_cast<std::uint32_t>(last - first)) {}

    void offer(std::int32_t c) {
        labels_[kept_] = c;
        kept_ += static_cast<std::uint32_t>(c) - first_ <= span_ ? 1 : 0;
    }

    Labels take() {
        labels_.pop_back();
        return std::move(labels_);
    }

private:
    Labels labels_;
    std::size_t kept_ = 0;
    std::uint32_t first_;
    std::uint32_t span_;
};

// visit(label) for every position of the blocks that hold values of classes first..last.
template <typename Visit>
void scanBlocks(const ClassIndex& index, int first, int last, Visit visit) {
    for (int j = 0; j < index.blocks; ++j) {
        if (index.rangeBefore(first, last, j + 1) == index.rangeBefore(first, last, j)) continue;
        const int end = std::min((j + 1) * index.blockSize, index.n);
        for (int i = j * index.blockSize; i < end; ++i)
            visit(index.label[static_cast<std::size_t>(i)]);
    }
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
    // One scan offers every label to both parts.
    GatheredPart low(first, split, lowValues);
    GatheredPart high(split + 1, last, highValues);
    scanBlocks(index_, first, last, [&](std::int32_t c) {
        low.offer(c);
        high.offer(c);
    });
    return {indexed(low.take(), first, split), indexed(high.take(), split + 1, last)};
}

Labels ClassSource::scanFor(int first, int last, std::int32_t values) const {
    GatheredPart part(first, last, values);
    scanBlocks(index_, first, last, [&](std::int32_t c) { part.offer(c); });
    return part.take();
}

}  // namespace quorvel
