// A monotone map of doubles onto a fixed number of buckets.
#pragma once

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

    // x must not be NaN.
    int operator()(double x) const {
        if (last_ == 0) return 0;
        const double t = (x - origin_) * scale_;
        if (!(t > 0.0)) return 0;
        return t >= static_cast<double>(last_) ? last_ : static_cast<int>(t);
    }

    // The buckets of x[0..count), into out: the same as one call per value, in a loop the
    // compiler can vectorise.
    void map(const double* x, std::size_t count, std::int32_t* out) const {
        const double last = static_cast<double>(last_);
        for (std::size_t i = 0; i < count; ++i) {
            double t = (x[i] - origin_) * scale_;
            t = t > 0.0 ? t : 0.0;
            t = t < last ? t : last;
            out[i] = static_cast<std::int32_t>(t);
        }
    }

private:
    double origin_;
    double scale_ = 0.0;
    int last_ = 0;
};

}  // namespace quorvel
