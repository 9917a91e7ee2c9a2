#include "class_index.hpp"

#include "interrupt.hpp"
#include "monotone_buckets.hpp"
#include "worker_pool.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace quorvel {
namespace {

// Classes 1..K are consecutive intervals when b_1..b_K ascend (ties allowed) and hold no NaN:
// then the class of x is the first c >= 1 with x <= b_c, provided b_{c-1} < x.
bool searchable(const std::vector<double>& b) {
    if (std::any_of(b.begin(), b.end(), [](double x) { return std::isnan(x); })) return false;
    return std::is_sorted(b.begin() + 1, b.end());
}

// Labels by searchable boundaries. A monotone bucket map narrows each value's class to the
// classes whose upper boundary shares its bucket (plus the next one): with a few buckets per
// class that is mostly one comparison instead of a binary search over all K. Where skewed or
// heavy-tailed values crowd many boundaries into one bucket, that bucket gets a finer map of its
// own, over just its boundaries.
class BucketedSearch {
public:
    // `values`: how many values will be labelled, which bounds what the tables are worth.
    BucketedSearch(const std::vector<double>& b, std::size_t values)
        : K_(static_cast<int>(b.size() - 1)), bounds_(b), fewestBuckets_(fewestBuckets(values)) {
        // b_K is left out of the first range: with equal frequencies it is the maximum, and
        // one far outlier would squeeze every other class into a few buckets.
        addLevel(1, K_ + 1, b[1], b[std::max<std::size_t>(1, b.size() - 2)], 0);
        // A sentinel above every value, so that "past b_K" needs no test of its own.
        bounds_.push_back(std::numeric_limits<double>::infinity());
    }

    // Labels x[0..count) into out.
    void labelAll(const double* x, std::size_t count, std::int32_t* out) const {
        forEachBucket(levels_.front().map, x, x + count,
                      [this, out](std::size_t i, double value, std::int32_t bucket) {
                          out[i] = label(value, static_cast<std::size_t>(bucket));
                      });
    }

private:
    // The class of x, given its first-level bucket k.
    std::int32_t label(double x, std::size_t k) const {
        const Level* level = &levels_.front();
        while (level->finer[k] != kNone) {
            level = &levels_[static_cast<std::size_t>(level->finer[k])];
            k = static_cast<std::size_t>(level->map(x));
        }
        int c = level->firstAtLeast[k];
        const int span = level->firstAtLeast[k + 1] - c;
        // The first c in the span with x <= b_c, else its end. Most spans hold one class or
        // none, and are decided without a branch on the value.
        if (span > 1)
            c = lowerBound(x, c, span);
        else
            c += span & static_cast<int>(bounds_[static_cast<std::size_t>(c)] < x);
        // Above b_1 a class's lower boundary holds by construction; class 1 also needs b_0 < x.
        const bool inside = c <= K_ && (c > 1 || bounds_[0] < x);
        return inside ? c : 0;
    }

    static constexpr std::int32_t kNone = -1;
    // Spans up to this many classes are searched; longer ones get a finer map, to this depth.
    static constexpr int kSearchedSpan = 4;
    static constexpr int kMaxDepth = 4;

    struct Level {
        MonotoneBuckets map;
        // firstAtLeast[k]: the first class c of the level's classes whose b_c falls in bucket
        // k or later (the level's end if none). A value in bucket k then lies in one of the
        // classes firstAtLeast[k] up to firstAtLeast[k + 1]: every b_c in an earlier bucket is
        // below it, every b_c in a later bucket above it.
        std::vector<std::int32_t> firstAtLeast;
        std::vector<std::int32_t> finer;  // the level refining bucket k, or kNone
    };

    // Adds the map of the values whose class lies in first..end, where b_first..b_{end-1} are
    // the boundaries to place (b_end lies above them all); returns its index.
    std::int32_t addLevel(int first, int end, double low, double high, int depth) {
        const auto classes = static_cast<std::size_t>(end - first);
        Level level{MonotoneBuckets(low, high, bucketCount(classes)), {}, {}};
        const int buckets = level.map.count();
        level.firstAtLeast.resize(static_cast<std::size_t>(buckets) + 1);
        level.finer.assign(static_cast<std::size_t>(buckets), kNone);
        int c = first;
        for (int k = 0; k <= buckets; ++k) {
            while (c < end && level.map(bounds_[static_cast<std::size_t>(c)]) < k) ++c;
            level.firstAtLeast[static_cast<std::size_t>(k)] = c;
        }
        const auto index = static_cast<std::int32_t>(levels_.size());
        levels_.push_back(std::move(level));
        if (depth + 1 == kMaxDepth || buckets == 1) return index;
        for (std::size_t k = 0; k < static_cast<std::size_t>(buckets); ++k) {
            const int from = levels_[static_cast<std::size_t>(index)].firstAtLeast[k];
            const int to = levels_[static_cast<std::size_t>(index)].firstAtLeast[k + 1];
            if (to - from <= kSearchedSpan) continue;
            const std::int32_t finer =
                addLevel(from, to, bounds_[static_cast<std::size_t>(from)],
                         bounds_[static_cast<std::size_t>(to - 1)], depth + 1);
            levels_[static_cast<std::size_t>(index)].finer[k] = finer;
        }
        return index;
    }

    // A few buckets per class keeps most buckets to at most one boundary.
    int bucketCount(std::size_t classes) const {
        return static_cast<int>(
            std::clamp<std::size_t>(8 * classes, fewestBuckets_, std::size_t{1} << 16));
    }

    // At least 256 buckets, but not many more than values: filling a table costs about as much
    // a bucket as labelling does a value.
    static std::size_t fewestBuckets(std::size_t values) {
        return std::clamp<std::size_t>(values / 8, 1, 256);
    }

    // Branch-free binary search: the comparisons are as unpredictable as the values.
    int lowerBound(double x, int first, int length) const {
        const double* base = bounds_.data() + first;
        while (length > 1) {
            const int half = length / 2;
            base = base[half - 1] < x ? base + half : base;
            length -= half;
        }
        if (*base < x) ++base;
        return static_cast<int>(base - bounds_.data());
    }

    int K_;
    std::vector<double> bounds_;
    std::size_t fewestBuckets_;
    std::vector<Level> levels_;
};

// The first class (b_{c-1}, b_c] that holds x, else 0.
std::int32_t labelByScan(double x, const std::vector<double>& b) {
    for (std::size_t c = 1; c < b.size(); ++c)
        if (b[c - 1] < x && x <= b[c]) return static_cast<std::int32_t>(c);
    return 0;
}

}  // namespace

namespace {

// Writes a zero to every page of a fresh table, the pages cut into a share per thread: its
// rows are recorded below a part per thread, so each page would otherwise be faulted in, and
// zeroed by the system, by whichever thread came first while the other waited.
void touchPages(std::int32_t* table, std::size_t size, WorkerPool* pool) {
    constexpr std::size_t kPerPage = 4096 / sizeof(std::int32_t);
    const std::size_t pages = (size + kPerPage - 1) / kPerPage;
    forEachRange(pool, pages, 1, [&](std::size_t, std::size_t from, std::size_t to) {
        for (std::size_t page = from; page < to; ++page) table[page * kPerPage] = 0;
    });
}

}  // namespace

std::size_t fewestBlocksPerRange(int blockSize) {
    return std::max<std::size_t>(1, (std::size_t{1} << 18) / static_cast<std::size_t>(blockSize));
}

ClassIndex indexLabels(Labels labels, int lowest, int K, int fewestPerBlock, WorkerPool* pool) {
    ClassIndex index;
    index.n = static_cast<int>(labels.size());
    index.K = K;
    index.lowest = lowest;
    index.label = std::move(labels);
    const auto classes = static_cast<std::size_t>(K - lowest + 1);
    // Blocks of a few hundred values would leave a short window a block or two, which every band
    // test then walks position by position; blocks of K values keep the table near one count a
    // position whatever n is. A long sequence takes blocks of half as many values again as it
    // has classes, so that its labels and block counts together stay within the size of the
    // window's values (blocks of K values made the counts as large as the labels), at about
    // the same speed.
    constexpr std::size_t kLongSequence = std::size_t{1} << 20;
    const std::size_t perBlock =
        index.label.size() >= kLongSequence ? classes + classes / 2 : classes;
    index.blockSize = std::max(
        fewestPerBlock, static_cast<int>(std::min<std::size_t>(
                            perBlock, static_cast<std::size_t>(std::numeric_limits<int>::max()))));
    index.blocks = (index.n + index.blockSize - 1) / index.blockSize;
    const std::size_t stride = static_cast<std::size_t>(index.blocks) + 1;
    index.upToBefore.resize(classes * stride);  // every entry is recorded below
    if (pool != nullptr) touchPages(index.upToBefore.data(), index.upToBefore.size(), pool);
    const auto blockStart = [&](std::size_t j) {
        return std::min(j * static_cast<std::size_t>(index.blockSize), index.label.size());
    };
    const auto countBlock = [&](std::size_t j, std::int32_t* counts) {
        const std::size_t from = blockStart(j);
        const std::size_t to = blockStart(j + 1);
        pollInterrupt(static_cast<std::int64_t>(to - from));
        for (std::size_t i = from; i < to; ++i)
            ++counts[static_cast<std::size_t>(index.label[i] - lowest)];
    };
    // The blocks are counted in ranges, one per thread, each from zero: its part of the table
    // records the counts within the range. Then every range but the first adds, row by row,
    // the counts of the ranges before it, a pass over contiguous entries. The totals are the
    // sums of the ranges' own counts.
    const auto blocks = static_cast<std::size_t>(index.blocks);
    const std::size_t fewest = fewestBlocksPerRange(index.blockSize);
    const std::size_t ranges = rangeCount(pool, blocks, fewest);
    // Slot k: the counts of range k, per class.
    std::vector<std::int32_t> within(ranges * classes, 0);
    std::vector<std::size_t> firstBlock(ranges + 1, blocks);
    forEachRange(pool, blocks, fewest, [&](std::size_t k, std::size_t from, std::size_t to) {
        firstBlock[k] = from;
        std::int32_t* counts = within.data() + k * classes;
        const auto recordBoundary = [&](std::size_t boundary) {
            std::int32_t upTo = 0;
            for (std::size_t c = 0; c < classes; ++c) {
                upTo += counts[c];
                index.upToBefore[c * stride + boundary] = upTo;
            }
        };
        for (std::size_t j = from; j < to; ++j) {
            recordBoundary(j);
            countBlock(j, counts);
        }
        if (to == blocks) recordBoundary(blocks);
    });
    // before[k * classes + c]: positions of the ranges before range k whose class lies in
    // lowest..lowest + c.
    std::vector<std::int32_t> before(ranges * classes, 0);
    for (std::size_t k = 1; k < ranges; ++k) {
        std::int32_t upTo = 0;
        for (std::size_t c = 0; c < classes; ++c) {
            upTo += within[(k - 1) * classes + c];
            before[k * classes + c] = before[(k - 1) * classes + c] + upTo;
        }
    }
    index.counts.assign(classes, 0);
    for (std::size_t k = 0; k < ranges; ++k)
        for (std::size_t c = 0; c < classes; ++c) index.counts[c] += within[k * classes + c];
    if (ranges > 1) {
        const std::size_t fewestRows = std::max<std::size_t>(1, (std::size_t{1} << 16) / stride);
        forEachRange(pool, classes, fewestRows, [&](std::size_t, std::size_t from, std::size_t to) {
            for (std::size_t c = from; c < to; ++c) {
                std::int32_t* row = index.upToBefore.data() + c * stride;
                for (std::size_t k = 1; k < ranges; ++k) {
                    const std::int32_t add = before[k * classes + c];
                    const std::size_t end = k + 1 == ranges ? blocks + 1 : firstBlock[k + 1];
                    for (std::size_t j = firstBlock[k]; j < end; ++j) row[j] += add;
                }
            }
        });
    }
    return index;
}

ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K,
                    WorkerPool* pool) {
    const auto n = static_cast<std::size_t>(last - first);
    Labels labels(n);
    if (K >= 1 && searchable(b)) {
        const BucketedSearch search(b, n);
        forEachRange(pool, n, std::size_t{1} << 18,
                     [&](std::size_t, std::size_t from, std::size_t to) {
                         search.labelAll(first + from, to - from, labels.data() + from);
                     });
    } else {
        for (std::size_t j = 0; j < n; ++j) labels[j] = labelByScan(first[j], b);
    }
    return indexLabels(std::move(labels), 0, K, fewestPerBlockOfWindow(n), pool);
}

}  // namespace quorvel
