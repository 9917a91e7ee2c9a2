#include "order_statistics.hpp"

#include "monotone_buckets.hpp"
#include "sort.hpp"
#include "worker_pool.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>

namespace quorvel {
namespace {

// Below this size, or past this depth of refinement, a set is simply sorted.
constexpr std::size_t kSortBelow = 4096;
constexpr int kMaxDepth = 4;
// Windows hold fewer than 2^31 values, so 32-bit positions serve, and keep the per-bucket tables
// small enough to stay in cache.
using Position = std::uint32_t;
constexpr Position kNotWanted = std::numeric_limits<Position>::max();

void sortAndPick(const double* first, const double* last, const std::size_t* rank,
                 const std::size_t* rankEnd, std::size_t rankBase, double* out) {
    std::vector<double> values(first, last);
    sortAscending(values);
    for (; rank != rankEnd; ++rank, ++out) *out = values[*rank - rankBase];
}

// The least and the greatest value; four independent lanes let the loop vectorise. Which of
// -0.0 and +0.0 comes out is left open, as it is for their order.
std::pair<double, double> valueRange(const double* first, const double* last) {
    constexpr std::size_t kLanes = 4;
    double low[kLanes], high[kLanes];
    std::fill(low, low + kLanes, *first);
    std::fill(high, high + kLanes, *first);
    const auto n = static_cast<std::size_t>(last - first);
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const double x = first[i + lane];
            low[lane] = x < low[lane] ? x : low[lane];
            high[lane] = high[lane] < x ? x : high[lane];
        }
    }
    for (; i < n; ++i) {
        low[0] = first[i] < low[0] ? first[i] : low[0];
        high[0] = high[0] < first[i] ? first[i] : high[0];
    }
    return {*std::min_element(low, low + kLanes), *std::max_element(high, high + kLanes)};
}

// A range holding all but the outer 1% or so of the values, from an evenly spaced sample: buckets
// spread over it stay fine where the values are dense, whatever outliers lie beyond it (those
// share the end buckets).
std::pair<double, double> sampledRange(const double* first, const double* last) {
    constexpr std::size_t kSample = 1024;
    constexpr std::size_t kTrimmed = 10;
    const auto n = static_cast<std::size_t>(last - first);
    std::vector<double> sample(kSample);
    for (std::size_t i = 0; i < kSample; ++i) sample[i] = first[i * n / kSample];
    std::sort(sample.begin(), sample.end());
    return {sample[kTrimmed], sample[kSample - 1 - kTrimmed]};
}

// Writes to out[i] the value of rank rank[i] - rankBase in [first, last), for ascending distinct
// ranks. The values are spread over monotone buckets; only the buckets holding a wanted rank are
// kept, and each of them is resolved the same way within its own, narrower range.
void select(const double* first, const double* last, const std::size_t* rank,
            const std::size_t* rankEnd, std::size_t rankBase, double* out, int depth,
            WorkerPool* pool) {
    const auto n = static_cast<std::size_t>(last - first);
    const auto wanted = static_cast<std::size_t>(rankEnd - rank);
    // Many wanted ranks leave few buckets to drop: then a sort is cheaper.
    if (n < kSortBelow || depth == kMaxDepth || wanted > n / 64) {
        sortAndPick(first, last, rank, rankEnd, rankBase, out);
        return;
    }
    auto [low, high] = sampledRange(first, last);
    if (!(low < high)) {
        std::tie(low, high) = valueRange(first, last);
        if (low == high) {
            std::fill(out, out + wanted, low);
            return;
        }
    }
    const MonotoneBuckets bucketOf(low, high,
                                   static_cast<int>(std::min<std::size_t>(n / 16, 1 << 16)));
    if (bucketOf.count() == 1) {
        sortAndPick(first, last, rank, rankEnd, rankBase, out);
        return;
    }

    const auto buckets = static_cast<std::size_t>(bucketOf.count());
    // The values are counted and gathered in ranges of the window, one per thread; each range
    // has its own tally per bucket, and gathers after the ranges before it, so that the kept
    // values lie in the same order as one pass over the window would put them.
    constexpr std::size_t kFewestPerRange = std::size_t{1} << 18;
    const std::size_t ranges = rangeCount(pool, n, kFewestPerRange);
    std::vector<std::vector<Position>> tally(ranges, std::vector<Position>(buckets, 0));
    forEachRange(pool, n, kFewestPerRange, [&](std::size_t k, std::size_t from, std::size_t to) {
        std::vector<Position>& count = tally[k];
        forEachBucket(bucketOf, first + from, first + to, [&](std::size_t, double, std::int32_t b) {
            ++count[static_cast<std::size_t>(b)];
        });
    });
    std::vector<Position> start(buckets + 1, 0);
    for (std::size_t b = 0; b < buckets; ++b) {
        Position inBucket = 0;
        for (const std::vector<Position>& count : tally) inBucket += count[b];
        start[b + 1] = start[b] + inBucket;
    }

    // Where each wanted bucket's values go in the gathered array.
    std::vector<Position> cursor(buckets, kNotWanted);
    Position gathered = 0;
    for (const std::size_t* r = rank; r != rankEnd; ++r) {
        const auto k = static_cast<std::size_t>(
            std::upper_bound(start.begin(), start.end(), *r - rankBase) - start.begin() - 1);
        if (cursor[k] == kNotWanted) {
            cursor[k] = gathered;
            gathered += start[k + 1] - start[k];
        }
    }
    // Each range's own cursors, past the values of the ranges before it.
    for (std::size_t b = 0; b < buckets; ++b) {
        Position at = cursor[b];
        for (std::vector<Position>& count : tally) {
            const Position values = count[b];
            count[b] = at;
            if (at != kNotWanted) at += values;
        }
    }
    std::vector<double> kept(gathered);
    forEachRange(pool, n, kFewestPerRange, [&](std::size_t k, std::size_t from, std::size_t to) {
        std::vector<Position>& at = tally[k];
        forEachBucket(bucketOf, first + from, first + to,
                      [&](std::size_t, double x, std::int32_t b) {
                          // Bounded, should the values differ from those counted (changed
                          // under the run by the caller): the ranks are then meaningless, but
                          // no value lands outside the gathered ones.
                          Position& next = at[static_cast<std::size_t>(b)];
                          if (next < gathered) kept[next++] = x;
                      });
    });

    // The wanted buckets, in ascending order, hold consecutive stretches of kept; each is
    // resolved on its own, on the pool's threads where there is one (the outer buckets, which
    // hold every outlier, can take as long as all the others).
    struct WantedBucket {
        const std::size_t* rank;
        const std::size_t* rankEnd;
        std::size_t base;  // the rank of the bucket's least value
        std::size_t offset;
        std::size_t size;
        double* out;
    };
    std::vector<WantedBucket> wantedBuckets;
    std::size_t offset = 0;
    while (rank != rankEnd) {
        const std::size_t local = *rank - rankBase;
        const auto k = static_cast<std::size_t>(
            std::upper_bound(start.begin(), start.end(), local) - start.begin() - 1);
        const std::size_t size = start[k + 1] - start[k];
        const std::size_t* bucketEnd = rank;
        while (bucketEnd != rankEnd && *bucketEnd - rankBase < start[k + 1]) ++bucketEnd;
        wantedBuckets.push_back(
            WantedBucket{rank, bucketEnd, rankBase + start[k], offset, size, out});
        out += bucketEnd - rank;
        rank = bucketEnd;
        offset += size;
    }
    const auto resolve = [&](std::size_t i) {
        const WantedBucket& bucket = wantedBuckets[i];
        const double* part = kept.data() + bucket.offset;
        select(part, part + bucket.size, bucket.rank, bucket.rankEnd, bucket.base, bucket.out,
               depth + 1, nullptr);
    };
    if (pool != nullptr)
        pool->forEach(wantedBuckets.size(), resolve);
    else
        for (std::size_t i = 0; i < wantedBuckets.size(); ++i) resolve(i);
}

}  // namespace

std::vector<double> valuesAtRanks(const double* first, const double* last,
                                  const std::vector<std::size_t>& ranks, WorkerPool* pool) {
    std::vector<double> result(ranks.size());
    // A short window is sorted whole anyway: picking from it needs no distinct ranks.
    if (static_cast<std::size_t>(last - first) < kSortBelow) {
        sortAndPick(first, last, ranks.data(), ranks.data() + ranks.size(), 0, result.data());
        return result;
    }
    std::vector<std::size_t> distinct(ranks);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<double> distinctValues(distinct.size());
    select(first, last, distinct.data(), distinct.data() + distinct.size(), 0,
           distinctValues.data(), 0, pool);

    for (std::size_t i = 0; i < ranks.size(); ++i) {
        const auto at = std::lower_bound(distinct.begin(), distinct.end(), ranks[i]);
        result[i] = distinctValues[static_cast<std::size_t>(at - distinct.begin())];
    }
    return result;
}

}  // namespace quorvel
