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

// The group's running proportion as the definition sums it: per-class counts over i, added in
// summation order.
class ClassGroup::ExactSum {
public:
    explicit ExactSum(const ClassGroup& group)
        : group_(group), counts_(static_cast<std::size_t>(group.highest_ - group.lowest_ + 1)) {}

    void enter(int block) {
        for (const int c : group_.classes_) slot(c) = group_.index_->before(c)[block];
    }
    void take(int c) { ++slot(c); }
    double value(int i, std::int32_t) const {
        const double at = static_cast<double>(i);
        double v = 0.0;
        for (const int c : group_.classes_) {
            const int m = counts_[static_cast<std::size_t>(c - group_.lowest_)];
            if (m != 0) v += static_cast<double>(m) / at;
        }
        return v;
    }

private:
    std::int32_t& slot(int c) { return counts_[static_cast<std::size_t>(c - group_.lowest_)]; }

    const ClassGroup& group_;
    std::vector<std::int32_t> counts_;
};

BandCount ClassGroup::countInBand(double z, const BandGoal& goal) const {
    // Each class's term carries one rounding, and each addition another.
    const double slack =
        (static_cast<double>(classes_.size()) + 1.0) * std::numeric_limits<double>::epsilon();
    const Band band(share(), z, slack);
    ExactSum exact(*this);
    return countInBlocks(*index_, lowest_, highest_, countBefore_, *inverseRoots_, band, false, goal,
                         exact);
}

bool ClassGroup::passes(double z, double threshold) const {
    const BandGoal goal = verdictGoal(index_->n, threshold);
    return countInBand(z, goal).inside >= goal.atLeast;
}

}  // namespace quorvel
