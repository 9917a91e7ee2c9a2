// NSLocaltoGlobal: a core group grown outward from the middle classes, then the classes above
// it grouped upward and those below it grouped downward.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/singles_ahead.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

double entropyTerm(double s) {
    return subtractEntropyTerm(0.0, s);
}

// The groups the measure forms, as it forms them: the marks of the boundaries that close them
// (column 3 of the table: 1 for a group's outer boundary, K for the core's, 0 for none) and
// their reports.
class Grouping {
public:
    Grouping(const ClassIndex& index, const MeasureSettings& settings, MeasureResult& result)
        : index(index),
          z(settings.z),
          threshold(settings.threshold),
          pool(settings.pool),
          settings_(settings),
          result_(result),
          marks_(static_cast<std::size_t>(index.K) + 1) {
        marks_.front() = 1;
        marks_.back() = 1;
    }

    void mark(int boundary, int value) { marks_[static_cast<std::size_t>(boundary)] = value; }

    void report(int from, int to, const ClassGroup& group, GroupKind kind) {
        if (settings_.groups)
            result_.groups.push_back({from, to, index.rangeCount(from, to), group.share(), kind});
    }

    void writeMarks(Eigen::MatrixXd& A) const {
        for (std::size_t i = 0; i < marks_.size(); ++i)
            A(static_cast<Eigen::Index>(i), 3) = static_cast<double>(marks_[i]);
    }

    const ClassIndex& index;
    const double z;
    const double threshold;
    WorkerPool* const pool;

private:
    const MeasureSettings& settings_;
    MeasureResult& result_;
    std::vector<int> marks_;
};

// The core group lo..hi-1, grown outward from between classes m-1 and m; `found` when a
// candidate settled, else the classes merged on the way.
struct Core {
    int lo;
    int hi;
    ClassGroup group;
    bool found;
};

Core searchCore(const Grouping& grouping) {
    const ClassIndex& index = grouping.index;
    const int K = index.K;
    const auto joined = [](ClassGroup group, int c) {
        group.add(c);
        return group;
    };
    const int m = static_cast<int>(std::floor(static_cast<double>(K) * 0.5) + 1.0);
    Core core{m, m, ClassGroup(index), false};
    // Only a candidate that reaches the acceptance count needs its exact fraction, to compare
    // it with the other one; below that count the band walks may stop early.
    const std::int64_t needed = passingCount(index.n, grouping.threshold);
    const BandGoal reachAcceptance{std::numeric_limits<std::int64_t>::max(), needed};
    while (m <= K && core.lo >= 2) {
        ClassGroup L = joined(core.group, core.lo - 1);
        ClassGroup R = joined(core.group, core.hi);
        const std::int64_t countL = L.countInBand(grouping.z, reachAcceptance);
        const std::int64_t countR = R.countInBand(grouping.z, reachAcceptance);
        // The better candidate is R when its fraction is larger, L on a tie.
        const bool takeRight = countR > countL;
        if ((takeRight ? countR : countL) >= needed) {
            if (takeRight) {
                ++core.hi;
                core.group = std::move(R);
            } else {
                --core.lo;
                core.group = std::move(L);
            }
            core.found = true;
            break;
        }
        // Neither side settles the core alone: both join it.
        core.group = joined(std::move(L), core.hi);
        --core.lo;
        ++core.hi;
        if (core.hi > K) break;
    }
    return core;
}

enum class TailResult { NotTested, Failed, Passed };

// One side of the core, grouped away from it: the entropy terms of its groups, and its tail,
// the candidate that reached the last class of the side.
struct Side {
    double sum = 0.0;
    TailResult tail = TailResult::NotTested;
    double tailShare = 0.0;
};

// Groups the classes from `next` to `end` one step at a time (+1 upward, -1 downward), each
// group closing as soon as it settles; the group that reaches `end` is the side's tail.
Side groupSide(Grouping& grouping, int next, int end, int step) {
    // A group closes at the boundary on its far side from the core.
    const auto outer = [&](int c) { return step > 0 ? c : c - 1; };
    const auto lowHigh = [&](int from, int to) {
        return step > 0 ? std::pair{from, to} : std::pair{to, from};
    };
    Side side;
    SinglesAhead singles(grouping.index, grouping.z, grouping.threshold, grouping.pool, step, end);
    while (step > 0 ? next <= end : next >= end) {
        ClassGroup T(grouping.index);
        for (int c = next;; c += step) {
            T.add(c);
            const std::optional<bool> alone = c == next ? singles.settles(c) : std::nullopt;
            const bool passed = alone ? *alone : T.passes(grouping.z, grouping.threshold);
            const auto [low, high] = lowHigh(next, c);
            if (c == end) {
                side.tail = passed ? TailResult::Passed : TailResult::Failed;
                side.tailShare = T.share();
                if (passed)
                    side.sum = subtractEntropyTerm(side.sum, side.tailShare);
                else
                    grouping.mark(outer(end), 0);
                grouping.report(low, high, T, passed ? GroupKind::Group : GroupKind::Unsettled);
                next = end + step;
                break;
            }
            if (passed) {
                singles.closed(c == next);
                side.sum = subtractEntropyTerm(side.sum, T.share());
                grouping.mark(outer(c), 1);
                grouping.report(low, high, T, GroupKind::Group);
                next = c + step;
                break;
            }
        }
    }
    return side;
}

// A failed tail joins no group; its share enters H only here, and only when the other side was
// tested too.
double failedTailsTerm(const Side& lower, const Side& upper) {
    if (lower.tail == TailResult::Failed && upper.tail == TailResult::Failed)
        return entropyTerm(upper.tailShare + lower.tailShare);
    if (lower.tail == TailResult::Failed && upper.tail == TailResult::Passed)
        return entropyTerm(lower.tailShare);
    if (lower.tail == TailResult::Passed && upper.tail == TailResult::Failed)
        return entropyTerm(upper.tailShare);
    return 0.0;
}

ClassifiedWindow classifyForLocaltoGlobal(const double* first, const double* last,
                                          const MeasureSettings& settings, MeasureResult& result) {
    requireClasses(settings.K, "NSLocaltoGlobal");
    // Offset lowest boundary and single-precision positions, as the reference records have them
    // for this measure (single precision differs from exact positions only past 2^24 values).
    return classifyWith(LowestBoundary::Offset, PositionPrecision::Single, first, last, settings,
                        result);
}

void localtoGlobalOnClasses(ClassIndex index, const std::vector<double>& /*b*/,
                            const MeasureSettings& settings, MeasureResult& result) {
    const int K = settings.K;
    Grouping grouping(index, settings, result);

    const Core core = searchCore(grouping);
    double F = 0.0;
    if (core.found) {
        F = entropyTerm(core.group.share());
        for (int i = core.lo - 1; i <= core.hi - 1; ++i) grouping.mark(i, K);
        grouping.report(core.lo, core.hi - 1, core.group, GroupKind::Core);
    } else if (core.lo < core.hi) {
        grouping.report(core.lo, core.hi - 1, core.group, GroupKind::FailedCore);
    }
    // The upper side first, then the lower one, its columns added in descending class order.
    const Side upper = groupSide(grouping, core.hi, K, 1);
    const Side lower = groupSide(grouping, core.lo - 1, 1, -1);

    result.H = ((lower.sum + upper.sum) + F) + failedTailsTerm(lower, upper);
    result.value = 1.0 - result.H / result.H0;
    grouping.writeMarks(result.table);
}

}  // namespace

const MeasureSteps kLocaltoGlobalSteps{&classifyForLocaltoGlobal, &localtoGlobalOnClasses};

void NSLocaltoGlobal(const double* first, const double* last, const MeasureSettings& settings,
                     MeasureResult& result) {
    runSteps(kLocaltoGlobalSteps, first, last, settings, result);
}

}  // namespace quorvel
