#include "class_group.hpp"

#include "interrupt.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace quorvel {

void ClassGroup::add(int c) {
    lowest_ = std::min(lowest_, c);
    highest_ = std::max(highest_, c);
    // An empty class adds exactly 0 to every sum; leaving it out keeps groups that span many
    // empty classes (K far above the window length) as cheap as their values.
    if (index_->count(c) == 0) return;
    // Room for a few classes at once: most groups stay small, and growing one class at a time
    // cost a short window's run a reallocation per class.
    constexpr std::size_t kFewClasses = 8;
    if (classes_.capacity() == 0) classes_.reserve(kFewClasses);
    classes_.push_back(c);
    share_ += static_cast<double>(index_->count(c)) / static_cast<double>(index_->n);
    last_.reset();
}

// The group's running proportion as the definition sums it: per-class counts over i, added in
// summation order. Set up only when a position needs it, which is rare; the counts follow the
// labels from the start of the block of the position asked for.
class ClassGroup::ExactSum {
public:
    explicit ExactSum(const ClassGroup& group) : group_(group) {}

    double value(std::size_t, int i, std::int32_t position, std::int32_t) {
        const ClassIndex& index = *group_.index_;
        const int block = i / index.blockSize;
        if (block != block_) enter(block);
        for (; taken_ <= i; ++taken_) {
            const int c = index.label[static_cast<std::size_t>(taken_)];
            if (group_.lowest_ <= c && c <= group_.highest_) take(c);
        }
        // A term per class: in a wide group these evaluations are most of a band test's work.
        pollInterrupt(static_cast<std::int64_t>(counts_.size()));
        const double at = static_cast<double>(position);
        double v = 0.0;
        for (const std::int32_t m : counts_)
            if (m != 0) v += static_cast<double>(m) / at;
        return v;
    }

private:
    // The counts before the first position of `block`.
    void enter(int block) {
        const std::vector<int>& classes = group_.classes_;
        if (slots_.empty()) {
            for (std::size_t k = 0; k < classes.size(); ++k) slots_.emplace_back(classes[k], k);
            std::sort(slots_.begin(), slots_.end());
            counts_.resize(classes.size());
        }
        for (std::size_t k = 0; k < classes.size(); ++k)
            counts_[k] = group_.index_->rangeBefore(classes[k], classes[k], block);
        block_ = block;
        taken_ = block * group_.index_->blockSize;
    }
    // Every class of the group's range is in it, and an empty one never comes.
    void take(int c) {
        const auto slot =
            std::lower_bound(slots_.begin(), slots_.end(), std::make_pair(c, std::size_t{0}));
        ++counts_[slot->second];
    }

    const ClassGroup& group_;
    std::vector<std::pair<int, std::size_t>> slots_;  // (class, its place in summation order)
    std::vector<std::int32_t> counts_;                // in summation order
    int block_ = -1;                                  // the block the counts are in
    int taken_ = 0;                                   // the labels before this one are counted
};

std::int64_t ClassGroup::countInBand(double z, const BandGoal& goal) const {
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    if (last_ && same(last_->z, z) && last_->goal.reach == goal.reach &&
        last_->goal.atLeast == goal.atLeast)
        return last_->inside;
    last_ = Evaluation{z, goal, count(z, goal)};
    return last_->inside;
}

std::int64_t ClassGroup::count(double z, const BandGoal& goal) const {
    if (classes_.empty()) {
        // All zero, and so is its last element: every band has half-width z * 0, which holds
        // the zeros unless z is infinite or NaN.
        return std::isfinite(z) ? index_->n : 0;
    }
    // Each class's term carries one rounding, and each addition another.
    const double slack =
        (static_cast<double>(classes_.size()) + 1.0) * std::numeric_limits<double>::epsilon();
    const Band band(share_, z, slack);
    ExactSum exact(*this);
    return countInBlocks(*index_, lowest_, highest_, band, goal, exact);
}

bool ClassGroup::passes(double z, double threshold) const {
    const BandGoal goal = verdictGoal(index_->n, threshold);
    return countInBand(z, goal) >= goal.atLeast;
}

}  // namespace quorvel
