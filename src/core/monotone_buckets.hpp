// A monotone map of doubles onto a fixed number of buckets.
#pragma once

#include "interrupt.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quorvel {

// Buckets of equal width over [low, high]; values outside fall into the first or last one.
// x <= y always gives bucket(x) <= bucket(y), whatever the rounding: a subtraction, a product by
// a positive constant and a clamp are each monotone. Exact order is therefore kept across
// buckets, and only values within one bucket need comparing.
class MonotoneBuckets {
public:
    // A range that is empty, infinite, or too narrow to scale collapses to one bucket.
    MonotoneBuckets(double low, double high, int buckets) : origin_(low) {
        const double range = high - low;
        const double scale = static_cast<double>(buckets) / range;
        if (buckets > 1 && range > 0.0 && std::isfinite(range) && std::isfinite(scale)) {
            scale_ = scale;
            last_ = buckets - 1;
        }
    }

    int count() const { return last_ + 1; }

    // Tables built with one call per value and look-ups made in bulk must agree exactly, so
    // both go through the same arithmetic.
    int operator()(double x) const { return bucketOf(x); }

    // The buckets of x[0..count), into out, in a loop the compiler can vectorise.
    void map(const double* x, std::size_t count, std::int32_t* out) const {
        for (std::size_t i = 0; i < count; ++i) out[i] = bucketOf(x[i]);
    }

private:
    // A NaN position (an infinite x with an empty range) falls into the first bucket.
    std::int32_t bucketOf(double x) const {
        const double last = static_cast<double>(last_);
        double t = (x - origin_) * scale_;
        t = t > 0.0 ? t : 0.0;
        t = t < last ? t : last;
        return static_cast<std::int32_t>(t);
    }

    double origin_;
    double scale_ = 0.0;
    int last_ = 0;
};

// Calls visit(i, x, bucket of x) for every value x, the i-th of [first, last), in order, the
// buckets mapped a chunk at a time so that the mapping vectorises.
template <typename Visit>
void forEachBucket(const MonotoneBuckets& bucketOf, const double* first, const double* last,
                   Visit&& visit) {
    constexpr std::size_t kMappedChunk = 512;
    std::int32_t buckets[kMappedChunk];
    for (std::size_t at = 0; first != last; at += kMappedChunk) {
        const std::size_t count =
            std::min<std::size_t>(kMappedChunk, static_cast<std::size_t>(last - first));
        pollInterrupt(static_cast<std::int64_t>(count));
        bucketOf.map(first, count, buckets);
        for (std::size_t i = 0; i < count; ++i) visit(at + i, first[i], buckets[i]);
        first += count;
    }
}

}  // namespace quorvel
