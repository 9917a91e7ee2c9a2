// NSCircleLefttoRight: the left-to-right grouping tried from every class as a starting point,
// the classes read as a circle; the least partition entropy wins.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// Groups of the left-to-right partition of any arc a..b of classes. A group starting at class
// g closes at the first class t < b at which the classes g..t pass the band test, else at b.
// That first passing class depends on g alone, so its search is remembered per g, and taken
// only as far as the arcs asked about so far require.
//
// Empty classes add 0 to every running proportion and share, so they are stepped over wherever
// that gives the same result: with K far above the window length almost every class is empty,
// and walking them one by one for each of the K starts would take O(K^2).
class ArcPartitions {
public:
    // An arc a..last being partitioned: the groups before class `next` are closed, and their
    // terms subtracted from `entropy`.
    struct Walk {
        int next;
        int last;
        double entropy = 0.0;

        bool done() const { return next > last; }
    };

    ArcPartitions(const ClassIndex& index, const std::vector<double>& roots, double z,
                  double threshold)
        : index_(index),
          roots_(roots),
          z_(z),
          threshold_(threshold),
          searches_(static_cast<std::size_t>(index.K) + 1),
          nextNonEmpty_(static_cast<std::size_t>(index.K) + 2, index.K + 1),
          countUpTo_(static_cast<std::size_t>(index.K) + 1, 0) {
        for (int c = index.K; c >= 1; --c)
            nextNonEmpty_[static_cast<std::size_t>(c)] = isEmpty(c) ? nextNonEmpty(c + 1) : c;
        for (int c = 1; c <= index.K; ++c)
            countUpTo_[static_cast<std::size_t>(c)] =
                countUpTo_[static_cast<std::size_t>(c) - 1] + index.count(c);
        // Every empty class alone has the same all-zero running proportion.
        for (int c = 1; c <= index.K; ++c) {
            if (!isEmpty(c)) continue;
            ClassGroup alone(index_, roots_);
            alone.add(c);
            emptyClassPasses_ = alone.passes(z_, threshold_);
            break;
        }
    }

    // Entropy of the partition of the arc a..b, the groups' terms subtracted left to right.
    double arcPartitionEntropy(int a, int b) {
        Walk walk{a, b};
        while (!walk.done()) close(walk);
        return walk.entropy;
    }

    // Closes the next group of the walk.
    void close(Walk& walk) {
        const int g = walk.next;
        if (emptyClassPasses_ && isEmpty(g)) {
            // Each empty class is a group of its own with share 0: nothing to subtract.
            walk.next = std::min(nextNonEmpty(g), walk.last + 1);
            return;
        }
        const int t = groupEnd(g, walk.last);
        walk.entropy = subtractEntropyTerm(walk.entropy, groupShare(g, t));
        walk.next = t + 1;
    }

    // A lower bound of the walk's final entropy, up to rounding: -p ln p is subadditive, so
    // the classes still open give at least the term of their summed share.
    double least(const Walk& walk) const {
        if (walk.done()) return walk.entropy;
        const std::int64_t count = countUpTo_[static_cast<std::size_t>(walk.last)] -
                                   countUpTo_[static_cast<std::size_t>(walk.next) - 1];
        const double p = static_cast<double>(count) / static_cast<double>(index_.n);
        return subtractEntropyTerm(walk.entropy, p);
    }

private:
    // How far the search for the first passing class of a group has gone.
    struct Search {
        int passedAt = 0;       // the first passing class, 0 while none is known
        int failedThrough = 0;  // every candidate g..t with t <= failedThrough fails
    };

    bool isEmpty(int c) const { return index_.count(c) == 0; }
    int nextNonEmpty(int c) const { return nextNonEmpty_[static_cast<std::size_t>(c)]; }

    // The end of the group starting at g in an arc ending at b >= g: the first t in g..b-1 at
    // which classes g..t pass, else b.
    int groupEnd(int g, int b) {
        if (isEmpty(g)) {
            // Leading empty classes keep the running proportion all zero, which fails here,
            // until the first non-empty class h; from h on it equals that of the group from h.
            const int h = nextNonEmpty(g);
            return h < b ? groupEnd(h, b) : b;
        }
        Search& search = searches_[static_cast<std::size_t>(g)];
        if (search.passedAt != 0) return std::min(search.passedAt, b);
        if (search.failedThrough == 0) search.failedThrough = g - 1;
        if (search.failedThrough >= b - 1) return b;
        // An empty class leaves the running proportion as it was, so only non-empty ones can
        // turn a failing candidate into a passing one.
        ClassGroup group(index_, roots_);
        for (int c = g; c <= search.failedThrough; c = nextNonEmpty(c + 1)) group.add(c);
        for (int t = nextNonEmpty(search.failedThrough + 1); t < b; t = nextNonEmpty(t + 1)) {
            group.add(t);
            if (group.passes(z_, threshold_)) {
                search.passedAt = t;
                return t;
            }
            search.failedThrough = t;
        }
        search.failedThrough = b - 1;
        return b;
    }

    // The share of classes g..t, summed in ascending class order (an empty class adds 0).
    double groupShare(int g, int t) const {
        const double n = static_cast<double>(index_.n);
        double share = 0.0;
        for (int c = nextNonEmpty(g); c <= t; c = nextNonEmpty(c + 1))
            share += static_cast<double>(index_.count(c)) / n;
        return share;
    }

    const ClassIndex& index_;
    const std::vector<double>& roots_;
    double z_;
    double threshold_;
    std::vector<Search> searches_;
    std::vector<int> nextNonEmpty_;
    std::vector<std::int64_t> countUpTo_;  // values in classes 1..c
    bool emptyClassPasses_ = false;
};

// The score w(s) of start s >= 2, the arcs 1..s-1 and s..K partitioned each on its own; or
// nothing once it provably exceeds `ceiling`, before all its groups are searched.
bool startScoreBelow(ArcPartitions& arcs, int s, int K, double ceiling, double& score) {
    ArcPartitions::Walk low{1, s - 1};
    ArcPartitions::Walk high{s, K};
    while (!low.done() || !high.done()) {
        if (arcs.least(low) + arcs.least(high) > ceiling) return false;
        arcs.close(high.done() || (!low.done() && low.next <= high.next - s) ? low : high);
    }
    score = low.entropy + high.entropy;
    return true;
}

}  // namespace

double NSCircleLefttoRight(const double* first, const double* last, int K, double z,
                           double threshold, int mode, double* H0out, double* Hout,
                           Eigen::MatrixXd* A) {
    requireClasses(K, "NSCircleLefttoRight");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Offset,
                                                  PositionPrecision::Double, *A);
    const ClassIndex index = classify(first, last, b, K);
    const std::vector<double> roots = inverseRoots(index.n);
    classFrequencies(index, H0out, *A);

    ArcPartitions arcs(index, roots, z, threshold);
    // Start s scans s..K, then 1..s-1; the two arcs never share a group. H is the least score,
    // so a start whose score provably exceeds the least found so far need not be partitioned
    // in full. The most promising starts go first; `margin` covers the rounding of the scores
    // and of their bounds (a few ulps per class).
    double smallest = arcs.arcPartitionEntropy(1, K);
    const double margin =
        4096.0 * (static_cast<double>(K) + 2.0) * std::numeric_limits<double>::epsilon();
    std::vector<std::pair<double, int>> starts;
    for (int s = 2; s <= K; ++s) {
        const double least =
            arcs.least(ArcPartitions::Walk{1, s - 1}) + arcs.least(ArcPartitions::Walk{s, K});
        starts.emplace_back(least, s);
    }
    std::sort(starts.begin(), starts.end());
    for (const auto& [least, s] : starts) {
        if (least > smallest + margin) break;
        double score = 0.0;
        if (startScoreBelow(arcs, s, K, smallest + margin, score) && score < smallest)
            smallest = score;
    }
    *Hout = smallest;
    return 1.0 - *Hout / *H0out;
}

}  // namespace quorvel
