#include "class_group.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>

namespace quorvel {

// The group's running proportion between two of its values: the per-class counts are fixed,
// so v_i = sum(count_c / i) in summation order, close to (total count) / i. The group's values
// come in window order from a k-way merge of its classes' position lists.
class ClassGroup::Walk {
public:
    explicit Walk(const ClassGroup& group)
        : group_(group),
          index_(*group.index_),
          counts_(static_cast<std::size_t>(group.highest_ - group.lowest_ + 1), 0) {}

    int length() const { return index_.n; }
    double last() const { return group_.share(); }
    double slack() const {
        return (static_cast<double>(group_.classes_.size()) + 1.0) *
               std::numeric_limits<double>::epsilon();
    }
    void restart() {
        std::fill(counts_.begin(), counts_.end(), 0);
        total_ = 0;
        heads_.clear();
        for (const int c : group_.classes_)
            if (index_.count(c) > 0) heads_.push_back({*index_.begin(c), c});
        std::make_heap(heads_.begin(), heads_.end(), std::greater<>());
    }
    bool next(int& p) const {
        if (heads_.empty()) return false;
        p = heads_.front().first + 1;
        return true;
    }
    void advance() {
        std::pop_heap(heads_.begin(), heads_.end(), std::greater<>());
        auto& [position, c] = heads_.back();
        ++counts_[static_cast<std::size_t>(c - group_.lowest_)];
        ++total_;
        const std::int32_t* following = index_.positions.data() + index_.firstOf[static_cast<std::size_t>(c)] +
                                        counts_[static_cast<std::size_t>(c - group_.lowest_)];
        if (following != index_.end(c)) {
            position = *following;
            std::push_heap(heads_.begin(), heads_.end(), std::greater<>());
        } else {
            heads_.pop_back();
        }
    }
    double approx(int i) const { return static_cast<double>(total_) / static_cast<double>(i); }
    double exact(int i) const {
        const double j = static_cast<double>(i);
        double v = 0.0;
        for (const int c : group_.classes_) {
            const int m = counts_[static_cast<std::size_t>(c - group_.lowest_)];
            if (m != 0) v += static_cast<double>(m) / j;
        }
        return v;
    }

private:
    const ClassGroup& group_;
    const ClassIndex& index_;
    std::vector<int> counts_;  // values taken in so far, per class (offset by lowest_)
    int total_ = 0;
    std::vector<std::pair<std::int32_t, int>> heads_;  // next position of each class, min-heap
};

void ClassGroup::add(int c) {
    lowest_ = classes_.empty() ? c : std::min(lowest_, c);
    highest_ = classes_.empty() ? c : std::max(highest_, c);
    classes_.push_back(c);
}

double ClassGroup::share() const {
    const double n = static_cast<double>(index_->n);
    double v = 0.0;
    for (const int c : classes_) v += static_cast<double>(index_->count(c)) / n;
    return v;
}

BandCount ClassGroup::countInBand(double z, const BandGoal& goal) const {
    Walk walk(*this);
    return quorvel::countInBand(walk, z, goal);
}

bool ClassGroup::passes(double z, double threshold) const {
    const BandGoal goal = verdictGoal(index_->n, threshold);
    return countInBand(z, goal).inside >= goal.atLeast;
}

}  // namespace quorvel
