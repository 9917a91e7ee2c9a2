// A group of adjacent classes followed as one running proportion.
#pragma once

#include "band_count.hpp"
#include "class_index.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quorvel {

// The running proportion of a group at position j is the sum, over the group's classes in the
// order they were added, of (values of the class among the first j) / j. It is never stored:
// the band test reads the group's running count block by block and walks single positions only
// in blocks where the band edge may pass.
class ClassGroup {
public:
    explicit ClassGroup(const ClassIndex& index) : index_(&index) {}

    // Takes in class c, adjacent to the classes already in; its share is added after theirs.
    void add(int c);

    // The group's share of the window: the last element of its running proportion, its
    // classes' shares summed in the order they were added.
    double share() const { return share_; }

    // The band test of the running proportion: its in-band count, possibly stopped early.
    std::int64_t countInBand(double z, const BandGoal& goal) const;

    // The band test's verdict alone.
    bool passes(double z, double threshold) const;

private:
    class ExactSum;

    std::int64_t count(double z, const BandGoal& goal) const;

    // The last band test and what it was asked: a group that has since taken in only empty
    // classes has the same running proportion, so the same answer.
    struct Evaluation {
        double z;
        BandGoal goal;
        std::int64_t inside;
    };

    const ClassIndex* index_;
    mutable std::optional<Evaluation> last_;
    std::vector<int> classes_;  // the non-empty ones, in summation order
    double share_ = 0.0;
    int lowest_ = std::numeric_limits<int>::max();  // the classes span lowest_..highest_
    int highest_ = std::numeric_limits<int>::min();
};

}  // namespace quorvel
