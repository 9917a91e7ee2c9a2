#include "class_index.hpp"

#include "classes.hpp"
#include "monotone_buckets.hpp"

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

// Labels by searchable boundaries. A monotone bucket map over [b_1, b_K] narrows each value's
// class to the classes whose upper boundary shares its bucket (plus the next one): with a few
// buckets per class that is mostly one comparison instead of a binary search over all K.
class BucketedSearch {
public:
    explicit BucketedSearch(const std::vector<double>& b)
        : K_(static_cast<int>(b.size() - 1)),
          buckets_(b[1], b.back(), bucketCount(b.size() - 1)),
          bounds_(b) {
        // firstAtLeast_[k]: the first class c whose b_c falls in bucket k or later (K + 1 if
        // none). A value in bucket k then lies in one of the classes firstAtLeast_[k] up to
        // firstAtLeast_[k + 1]: every b_c in an earlier bucket is below it, every b_c in a later
        // bucket above it.
        firstAtLeast_.resize(static_cast<std::size_t>(buckets_.count()) + 1);
        int c = 1;
        for (int k = 0; k <= buckets_.count(); ++k) {
            while (c <= K_ && buckets_(b[static_cast<std::size_t>(c)]) < k) ++c;
            firstAtLeast_[static_cast<std::size_t>(k)] = c;
        }
        // A sentinel above every value, so that "past b_K" needs no test of its own.
        bounds_.push_back(std::numeric_limits<double>::infinity());
    }

    std::int32_t operator()(double x) const {
        const auto k = static_cast<std::size_t>(buckets_(x));
        int c = firstAtLeast_[k];
        const int span = firstAtLeast_[k + 1] - c;
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

private:
    // A few buckets per class keeps most buckets to at most one boundary.
    static int bucketCount(std::size_t K) {
        return static_cast<int>(std::clamp<std::size_t>(8 * K, 256, std::size_t{1} << 16));
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
    MonotoneBuckets buckets_;
    std::vector<double> bounds_;
    std::vector<std::int32_t> firstAtLeast_;
};

std::int32_t labelByScan(double x, const std::vector<double>& b) {
    for (std::size_t c = 1; c < b.size(); ++c)
        if (inClass(x, b[c - 1], b[c])) return static_cast<std::int32_t>(c);
    return 0;
}

}  // namespace

ClassIndex indexLabels(std::vector<std::int32_t> labels, int lowest, int K) {
    ClassIndex index;
    index.n = static_cast<int>(labels.size());
    index.K = K;
    index.lowest = lowest;
    index.label = std::move(labels);
    const auto classes = static_cast<std::size_t>(K - lowest + 1);
    index.counts.assign(classes, 0);
    index.blockSize = std::max(256, static_cast<int>(classes));
    index.blocks = (index.n + index.blockSize - 1) / index.blockSize;
    const std::size_t stride = static_cast<std::size_t>(index.blocks) + 1;
    index.upToBefore.assign(classes * stride, 0);
    const auto recordBoundary = [&](std::size_t boundary) {
        std::int32_t upTo = 0;
        for (std::size_t c = 0; c < classes; ++c) {
            upTo += index.counts[c];
            index.upToBefore[c * stride + boundary] = upTo;
        }
    };
    for (int j = 0; j < index.blocks; ++j) {
        recordBoundary(static_cast<std::size_t>(j));
        const auto from = static_cast<std::size_t>(j) * static_cast<std::size_t>(index.blockSize);
        const std::size_t to =
            std::min(from + static_cast<std::size_t>(index.blockSize), index.label.size());
        for (std::size_t i = from; i < to; ++i)
            ++index.counts[static_cast<std::size_t>(index.label[i] - lowest)];
    }
    recordBoundary(stride - 1);
    return index;
}

std::vector<double> inverseRoots(int n) {
    std::vector<double> roots(static_cast<std::size_t>(n) + 1, 0.0);
    for (int i = 1; i <= n; ++i)
        roots[static_cast<std::size_t>(i)] = 1.0 / std::sqrt(static_cast<double>(i));
    return roots;
}

ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K) {
    const auto n = static_cast<std::size_t>(last - first);
    std::vector<std::int32_t> labels(n);
    if (K >= 1 && searchable(b)) {
        const BucketedSearch label(b);
        for (std::size_t j = 0; j < n; ++j) labels[j] = label(first[j]);
    } else {
        for (std::size_t j = 0; j < n; ++j) labels[j] = labelByScan(first[j], b);
    }
    return indexLabels(std::move(labels), 0, K);
}

}  // namespace quorvel
