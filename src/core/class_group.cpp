#include "class_group.hpp"

#include <algorithm>
#include <limits>

namespace quorvel {

void ClassGroup::add(int c) {
    lowest_ = classes_.empty() ? c : std::min(lowest_, c);
    highest_ = classes_.empty() ? c : std::max(highest_, c);
    classes_.push_back(c);
    const std::int32_t* before = index_->before(c);
    for (std::size_t j = 0; j < countBefore_.size(); ++j) countBefore_[j] += before[j];
}

double ClassGroup::share() const {
    const double n = static_cast<double>(index_->n);
    double v = 0.0;
    for (const int c : classes_) v += static_cast<double>(index_->count(c)) / n;
    return v;
}

std::int64_t ClassGroup::countBlock(const Band& band, int block) const {
    const int B = index_->blockSize;
    const int first = block * B;  // 0-based
    const int end = std::min(first + B, index_->n);
    // Per-class counts for the exact sum, in summation order; the approximate running
    // proportion total / i differs from it by a few ulps per class.
    std::vector<int> counts(static_cast<std::size_t>(highest_ - lowest_ + 1));
    for (const int c : classes_)
        counts[static_cast<std::size_t>(c - lowest_)] = index_->before(c)[block];
    std::int32_t total = countBefore_[static_cast<std::size_t>(block)];
    std::int64_t inside = 0;
    for (int j = first; j < end; ++j) {
        const int c = index_->label[static_cast<std::size_t>(j)];
        if (lowest_ <= c && c <= highest_) {
            ++counts[static_cast<std::size_t>(c - lowest_)];
            ++total;
        }
        const int i = j + 1;
        const double x = static_cast<double>(total) / static_cast<double>(i);
        Band::Verdict verdict = band.judge(x, x, i, i);
        if (verdict == Band::Verdict::Unsure) {
            const double at = static_cast<double>(i);
            double v = 0.0;
            for (const int k : classes_) {
                const int m = counts[static_cast<std::size_t>(k - lowest_)];
                if (m != 0) v += static_cast<double>(m) / at;
            }
            verdict = band.contains(v, i) ? Band::Verdict::Inside : Band::Verdict::Outside;
        }
        if (verdict == Band::Verdict::Inside) ++inside;
    }
    return inside;
}

BandCount ClassGroup::countInBand(double z, const BandGoal& goal) const {
    const int n = index_->n;
    const int B = index_->blockSize;
    const Band band(share(), z,
                    (static_cast<double>(classes_.size()) + 1.0) * std::numeric_limits<double>::epsilon());
    BandCount result;
    for (int block = 0; block < index_->blocks; ++block) {
        // Over the block the running count lies between its values at the block's ends.
        const int lo = block * B + 1;
        const int hi = std::min(lo + B - 1, n);
        const double least = static_cast<double>(countBefore_[static_cast<std::size_t>(block)]) /
                             static_cast<double>(hi);
        const double most = static_cast<double>(countBefore_[static_cast<std::size_t>(block) + 1]) /
                            static_cast<double>(lo);
        switch (band.judge(least, most, lo, hi)) {
            case Band::Verdict::Inside: result.inside += hi - lo + 1; break;
            case Band::Verdict::Outside: break;
            case Band::Verdict::Unsure: result.inside += countBlock(band, block); break;
        }
        if (result.inside >= goal.reach || result.inside + (n - hi) < goal.atLeast) {
            result.complete = hi == n;
            return result;
        }
    }
    return result;
}

bool ClassGroup::passes(double z, double threshold) const {
    const BandGoal goal = verdictGoal(index_->n, threshold);
    return countInBand(z, goal).inside >= goal.atLeast;
}

}  // namespace quorvel
