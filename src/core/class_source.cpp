#include "class_source.hpp"

#include "worker_pool.hpp"

#include <algorithm>
#include <array>
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

// Where one range of blocks writes the labels it holds of classes first..last: from `at` to
// `end`, where the next range's begin. Every label is written and the next one overwrites it
// unless it belongs, so that no branch mispredicts when the classes are mixed; from the block
// that brings the range's last value on, that is guarded, so that no write lands at `end`.
class PartCursor {
public:
    PartCursor() = default;
    PartCursor(int first, int last, std::int32_t* at, std::int32_t* end)
        : first_(static_cast<std::uint32_t>(first)),
          span_(static_cast<std::uint32_t>(last - first)),
          at_(at),
          end_(end) {}

    void offer(std::int32_t c) {
        *at_ = c;
        at_ += belongs(c) ? 1 : 0;
    }
    void offerGuarded(std::int32_t c) {
        if (at_ != end_) offer(c);
    }

private:
    bool belongs(std::int32_t c) const { return static_cast<std::uint32_t>(c) - first_ <= span_; }

    std::uint32_t first_ = 0;
    std::uint32_t span_ = 0;
    std::int32_t* at_ = nullptr;
    std::int32_t* end_ = nullptr;
};

// Offers the labels [from, to) to every cursor. The cursors are worked on as a copy, which lives
// in registers: a label stored through a cursor could otherwise alias the cursors' own fields
// and force their reload at every label.
template <std::size_t Parts>
void offerBlock(std::array<PartCursor, Parts>& cursors, const std::int32_t* from,
                const std::int32_t* to, bool guarded) {
    std::array<PartCursor, Parts> local = cursors;
    if (guarded) {
        for (const std::int32_t* at = from; at < to; ++at) {
            const std::int32_t c = *at;
            for (PartCursor& cursor : local) cursor.offerGuarded(c);
        }
    } else {
        for (const std::int32_t* at = from; at < to; ++at) {
            const std::int32_t c = *at;
            for (PartCursor& cursor : local) cursor.offer(c);
        }
    }
    cursors = local;
}

// The labels of the consecutive class ranges `parts` (first, last), in sequence order, gathered
// from one scan of the blocks that hold any of them, on the threads of `pool`: each range of
// blocks writes its labels where the index's counts before its first block put them.
template <std::size_t Parts>
std::array<Labels, Parts> gatherParts(const ClassIndex& index,
                                      const std::array<std::pair<int, int>, Parts>& parts,
                                      WorkerPool* pool) {
    std::array<Labels, Parts> labels;
    for (std::size_t p = 0; p < Parts; ++p)
        labels[p].resize(
            static_cast<std::size_t>(index.rangeCount(parts[p].first, parts[p].second)));
    const int first = parts.front().first;
    const int last = parts.back().second;
    const auto partBefore = [&](std::size_t p, std::size_t j) {
        return index.rangeBefore(parts[p].first, parts[p].second, static_cast<int>(j));
    };
    const auto scan = [&](std::size_t, std::size_t from, std::size_t to) {
        std::array<PartCursor, Parts> cursors;
        // From the block that brings a part's last value of the range on, writes are guarded.
        std::size_t guardedFrom = to;
        for (std::size_t p = 0; p < Parts; ++p) {
            const std::int32_t total = partBefore(p, to);
            cursors[p] =
                PartCursor(parts[p].first, parts[p].second, labels[p].data() + partBefore(p, from),
                           labels[p].data() + total);
            // The first block boundary past `from` with every value of the range before it.
            std::size_t low = from;
            std::size_t high = to;
            while (low < high) {
                const std::size_t middle = low + (high - low) / 2;
                if (partBefore(p, middle + 1) < total)
                    low = middle + 1;
                else
                    high = middle;
            }
            guardedFrom = std::min(guardedFrom, low);
        }
        for (std::size_t j = from; j < to; ++j) {
            const auto block = static_cast<int>(j);
            if (index.rangeBefore(first, last, block + 1) == index.rangeBefore(first, last, block))
                continue;
            const std::size_t begin = j * static_cast<std::size_t>(index.blockSize);
            const std::size_t end = std::min(begin + static_cast<std::size_t>(index.blockSize),
                                             static_cast<std::size_t>(index.n));
            offerBlock(cursors, index.label.data() + begin, index.label.data() + end,
                       j >= guardedFrom);
        }
    };
    forEachRange(pool, static_cast<std::size_t>(index.blocks),
                 fewestBlocksPerRange(index.blockSize), scan);
    return labels;
}

}  // namespace

const PositionsByClass& PositionsByClass::of(const ClassIndex& index, WorkerPool* pool) {
    std::call_once(once_, [&] {
        n = index.n;
        lowest = index.lowest;
        start.assign(index.counts.size() + 1, 0);
        for (std::size_t k = 0; k < index.counts.size(); ++k)
            start[k + 1] = start[k] + static_cast<std::size_t>(index.counts[k]);
        positions.resize(static_cast<std::size_t>(index.n));  // every entry is written below
        // Each range of blocks places its positions after those of the blocks before it, which
        // the block counts give per class.
        const auto place = [&](std::size_t, std::size_t from, std::size_t to) {
            std::vector<std::size_t> next(start.begin(), start.end() - 1);
            for (int c = index.lowest; c <= index.K; ++c)
                next[static_cast<std::size_t>(c - index.lowest)] +=
                    static_cast<std::size_t>(index.rangeBefore(c, c, static_cast<int>(from)));
            const std::size_t end = std::min(to * static_cast<std::size_t>(index.blockSize),
                                             static_cast<std::size_t>(index.n));
            for (std::size_t i = from * static_cast<std::size_t>(index.blockSize); i < end; ++i)
                positions[next[static_cast<std::size_t>(index.label[i] - index.lowest)]++] =
                    static_cast<std::int32_t>(i);
        };
        forEachRange(pool, static_cast<std::size_t>(index.blocks),
                     fewestBlocksPerRange(index.blockSize), place);
        built_.store(true, std::memory_order_release);
    });
    return *this;
}

// A large part costs about the same either way; a small one in proportion to its values.
bool ClassSource::mergesPart(std::int32_t values) const {
    constexpr std::int64_t kSmall = 16;
    return kSmall * values < index_.n;
}

std::shared_ptr<const ClassSource> ClassSource::indexed(Labels labels, int first, int last,
                                                        WorkerPool* pool) const {
    return std::make_shared<const ClassSource>(
        indexLabels(std::move(labels), first, last, kFewestPerBlock, pool), windowPositions_);
}

std::shared_ptr<const ClassSource> ClassSource::extract(int first, int last,
                                                        WorkerPool* pool) const {
    // The window's positions serve any part once built; until then a part's own are built,
    // which costs in proportion to the part instead of the window.
    Labels labels = mergesPart(index_.rangeCount(first, last))
                        ? mergeFrom(windowPositions_->built() ? *windowPositions_
                                                              : positions_->of(index_, pool),
                                    first, last)
                        : std::move(gatherParts<1>(index_, {{{first, last}}}, pool)[0]);
    return indexed(std::move(labels), first, last, pool);
}

bool ClassSource::extractBuildsTable(int first, int last) const {
    return mergesPart(index_.rangeCount(first, last)) && !windowPositions_->built() &&
           !positions_->built();
}

void ClassSource::prepareExtract(int first, int last, WorkerPool* pool) const {
    if (extractBuildsTable(first, last)) positions_->of(index_, pool);
}

std::pair<std::shared_ptr<const ClassSource>, std::shared_ptr<const ClassSource>>
ClassSource::extractBoth(int first, int split, int last, WorkerPool* pool) const {
    if (mergesPart(index_.rangeCount(first, split)) ||
        mergesPart(index_.rangeCount(split + 1, last)))
        return {extract(first, split, pool), extract(split + 1, last, pool)};
    // One scan offers every label to both parts.
    auto [low, high] = gatherParts<2>(index_, {{{first, split}, {split + 1, last}}}, pool);
    return {indexed(std::move(low), first, split, pool),
            indexed(std::move(high), split + 1, last, pool)};
}

}  // namespace quorvel
