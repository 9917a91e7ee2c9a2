// NSLocaltoGlobal: a core group grown outward from the middle classes, then the classes above
// it grouped upward and those below it grouped downward.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/group_report.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace quorvel {
namespace {

enum class TailResult { NotTested, Failed, Passed };

double entropyTerm(double s) {
    return subtractEntropyTerm(0.0, s);
}

}  // namespace

double NSLocaltoGlobal(const double* first, const double* last, int K, double z, double threshold,
                       int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSLocaltoGlobal");
    std::vector<double> cutMarks(static_cast<std::size_t>(K) + 1, 0.0);
    cutMarks[0] = 1.0;
    cutMarks[static_cast<std::size_t>(K)] = 1.0;
    const auto mark = [&](int boundary, double value) {
        cutMarks[static_cast<std::size_t>(boundary)] = value;
    };

    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Offset,
                                                  PositionPrecision::Single, *A);
    const ClassIndex index = classify(first, last, b, K);
    classFrequencies(index, H0out, *A);
    const auto joined = [](ClassGroup group, int c) {
        group.add(c);
        return group;
    };
    const auto report = [&](int from, int to, const ClassGroup& group, GroupKind kind) {
        if (groupsListenedTo())
            reportGroup({from, to, index.rangeCount(from, to), group.share(), kind});
    };

    // Core search: the core group lo..hi-1 grows outward from between classes m-1 and m.
    const int m = static_cast<int>(std::floor(static_cast<double>(K) * 0.5) + 1.0);
    int lo = m;
    int hi = m;
    ClassGroup S(index);
    bool haveCore = false;
    // Only a candidate that reaches the acceptance count needs its exact fraction, to compare
    // it with the other one; below that count the band walks may stop early.
    const std::int64_t needed = passingCount(index.n, threshold);
    const BandGoal reachAcceptance{std::numeric_limits<std::int64_t>::max(), needed};
    while (m <= K && lo >= 2) {
        ClassGroup L = joined(S, lo - 1);
        ClassGroup R = joined(S, hi);
        const std::int64_t countL = L.countInBand(z, reachAcceptance).inside;
        const std::int64_t countR = R.countInBand(z, reachAcceptance).inside;
        // The better candidate is R when its fraction is larger, L on a tie.
        const bool takeRight = countR > countL;
        if ((takeRight ? countR : countL) >= needed) {
            if (takeRight) {
                ++hi;
                S = std::move(R);
            } else {
                --lo;
                S = std::move(L);
            }
            haveCore = true;
            break;
        }
        // Neither side settles the core alone: both join it.
        S = joined(std::move(L), hi);
        --lo;
        ++hi;
        if (hi > K) break;
    }
    double F = 0.0;
    if (haveCore) {
        F = entropyTerm(S.share());
        for (int i = lo - 1; i <= hi - 1; ++i) mark(i, static_cast<double>(K));
        report(lo, hi - 1, S, GroupKind::Core);
    } else if (lo < hi) {
        report(lo, hi - 1, S, GroupKind::FailedCore);
    }

    // Upper side: groups from hi upward; the candidate reaching class K is the upper tail.
    double upperSum = 0.0;
    TailResult upperResult = TailResult::NotTested;
    double u = 0.0;
    for (int h = hi; h <= K;) {
        ClassGroup T(index);
        for (int c = h;; ++c) {
            T.add(c);
            const bool passed = T.passes(z, threshold);
            if (c == K) {
                upperResult = passed ? TailResult::Passed : TailResult::Failed;
                u = T.share();
                if (passed)
                    upperSum = subtractEntropyTerm(upperSum, u);
                else
                    mark(K, 0.0);
                report(h, K, T, passed ? GroupKind::Group : GroupKind::Unsettled);
                h = K + 1;
                break;
            }
            if (passed) {
                upperSum = subtractEntropyTerm(upperSum, T.share());
                mark(c, 1.0);
                report(h, c, T, GroupKind::Group);
                h = c + 1;
                break;
            }
        }
    }

    // Lower side: groups from lo-1 downward, the columns added in descending class order; the
    // candidate reaching class 1 is the lower tail.
    double lowerSum = 0.0;
    TailResult lowerResult = TailResult::NotTested;
    double v = 0.0;
    while (lo >= 2) {
        ClassGroup T(index);
        for (int c = lo - 1;; --c) {
            T.add(c);
            const bool passed = T.passes(z, threshold);
            if (c == 1) {
                lowerResult = passed ? TailResult::Passed : TailResult::Failed;
                v = T.share();
                if (passed)
                    lowerSum = subtractEntropyTerm(lowerSum, v);
                else
                    mark(0, 0.0);
                report(1, lo - 1, T, passed ? GroupKind::Group : GroupKind::Unsettled);
                lo = 1;
                break;
            }
            if (passed) {
                lowerSum = subtractEntropyTerm(lowerSum, T.share());
                report(c, lo - 1, T, GroupKind::Group);
                lo = c;
                mark(lo - 1, 1.0);
                break;
            }
        }
    }

    // A failed tail joins no group; its share enters H only here, and only when the other
    // side was tested too.
    double I = 0.0;
    if (lowerResult == TailResult::Failed && upperResult == TailResult::Failed)
        I = entropyTerm(u + v);
    else if (lowerResult == TailResult::Failed && upperResult == TailResult::Passed)
        I = entropyTerm(v);
    else if (lowerResult == TailResult::Passed && upperResult == TailResult::Failed)
        I = entropyTerm(u);

    *Hout = ((lowerSum + upperSum) + F) + I;
    const double result = 1.0 - *Hout / *H0out;
    for (int i = 0; i <= K; ++i) (*A)(i, 3) = cutMarks[static_cast<std::size_t>(i)];
    return result;
}

}  // namespace quorvel
