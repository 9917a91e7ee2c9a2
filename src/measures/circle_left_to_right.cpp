// NSCircleLefttoRight: the left-to-right grouping tried from every class as a starting point,
// the classes read as a circle; the least partition entropy wins.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/worker_pool.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// Where the groups of left-to-right partitions end. A group starting at class g in an arc
// ending at b closes at the first class t < b at which the classes g..t pass the band test,
// else at b. That first passing class depends on g alone, so its search is remembered per g,
// and taken one candidate at a time only as far as the arcs asked about so far require.
//
// Empty classes add 0 to every running proportion and share, so they are stepped over wherever
// that gives the same result: with K far above the window length almost every class is empty,
// and walking them one by one for each of the K starts would take O(K^2).
class GroupEnds {
public:
    GroupEnds(const ClassIndex& index, double z, double threshold)
        : index_(index),
          z_(z),
          threshold_(threshold),
          searches_(static_cast<std::size_t>(index.K) + 1),
          nextNonEmpty_(static_cast<std::size_t>(index.K) + 2, index.K + 1) {
        for (int c = index.K; c >= 1; --c)
            nextNonEmpty_[static_cast<std::size_t>(c)] = isEmpty(c) ? nextNonEmpty(c + 1) : c;
        for (int c = 1; c <= index.K; ++c)
            searches_[static_cast<std::size_t>(c)].failedThrough = c - 1;
        // Every empty class alone has the same all-zero running proportion.
        for (int c = 1; c <= index.K; ++c) {
            if (!isEmpty(c)) continue;
            ClassGroup alone(index_);
            alone.add(c);
            emptyClassPasses_ = alone.passes(z_, threshold_);
            break;
        }
    }

    // Every non-empty class tested alone on the threads of `pool`: the first candidate of each
    // search, which the search would test itself, one after another, on the calling thread.
    void testAloneAhead(WorkerPool* pool) {
        if (pool == nullptr) return;
        const auto K = static_cast<std::size_t>(index_.K);
        std::vector<char> passes(K + 1, 0);
        pool->forEach(K, [&](std::size_t k) {
            const int c = static_cast<int>(k) + 1;
            if (isEmpty(c)) return;
            ClassGroup alone(index_);
            alone.add(c);
            passes[k + 1] = alone.passes(z_, threshold_) ? 1 : 0;
        });
        for (int c = 1; c <= index_.K; ++c) {
            if (isEmpty(c)) continue;
            Search& search = searches_[static_cast<std::size_t>(c)];
            (passes[static_cast<std::size_t>(c)] != 0 ? search.passedAt : search.failedThrough) = c;
        }
    }

    bool isEmpty(int c) const { return index_.count(c) == 0; }
    int nextNonEmpty(int c) const { return nextNonEmpty_[static_cast<std::size_t>(c)]; }
    bool emptyClassPasses() const { return emptyClassPasses_; }

    // The class whose search decides the group starting at g, the first non-empty one from g
    // on: leading empty classes keep the running proportion all zero, which fails here, until
    // that class; from there on it equals that of the group starting there.
    int searched(int g) const { return nextNonEmpty(g); }

    // The end of the group starting at g in an arc ending at b >= g, once known: the first t
    // in g..b-1 at which classes g..t pass, else b; 0 while unknown.
    int knownEnd(int g, int b) const {
        const int h = searched(g);
        if (h >= b) return b;
        const Search& search = searches_[static_cast<std::size_t>(h)];
        if (search.passedAt != 0) return std::min(search.passedAt, b);
        return search.failedThrough >= b - 1 ? b : 0;
    }

    // The shortest and the longest end that the group starting at g in an arc ending at b may
    // still have, as far as its search has gone.
    std::pair<int, int> possibleEnds(int g, int b) const {
        if (isEmpty(g)) return {b, b};
        const Search& search = searches_[static_cast<std::size_t>(g)];
        if (search.passedAt != 0)
            return {std::min(search.passedAt, b), std::min(search.passedAt, b)};
        return {std::min(search.failedThrough + 1, b),
                search.passesBy != 0 ? std::min(search.passesBy, b) : b};
    }

    // One band test towards the end of the group starting at `next` in an arc ending at
    // `last`: the next candidate in class order, or first, when `guess`, one likely to pass. A
    // pass bounds the group's end from above; groups that mostly pass at once are left to the
    // order, which finds that as fast.
    void advance(int next, int last, bool guess) {
        const int g = searched(next);
        Search& search = searches_[static_cast<std::size_t>(g)];
        if (guess && search.passesBy == 0 && search.guesses < kGuesses &&
            search.failedThrough - g + 1 >= kPatience) {
            for (const int t : likelyPasses(g)) {
                if (t <= search.failedThrough + 1 || t >= last || t == search.failedGuess) continue;
                ++search.guesses;
                const int tried =
                    settledNear(g, t, search.failedThrough + 2, last - 1, search.failedGuess);
                ClassGroup group(index_);
                for (int c = g; c <= tried; c = nextNonEmpty(c + 1)) group.add(c);
                (group.passes(z_, threshold_) ? search.passesBy : search.failedGuess) = tried;
                return;
            }
        }
        // An empty class leaves the running proportion as it was, so only non-empty ones can
        // turn a failing candidate into a passing one.
        const int t = nextNonEmpty(search.failedThrough + 1);
        if (t >= last) {
            search.failedThrough = last - 1;
            return;
        }
        if (t == search.passesBy || grow(g, t).passes(z_, threshold_))
            search.passedAt = t;
        else
            search.failedThrough = t;
    }

private:
    // How far the search for the first passing class of a group has gone.
    struct Search {
        int passedAt = 0;       // the first passing class, 0 while none is known
        int failedThrough = 0;  // every candidate g..t with t <= failedThrough fails
        int passesBy = 0;       // a passing class beyond failedThrough, 0 while none is known
        int failedGuess = 0;    // the last guess that failed
        int guesses = 0;
    };

    static constexpr int kGuesses = 2;
    static constexpr int kPatience = 2;  // candidates failed in order before a guess
    static constexpr int kReach = 6;     // how far from a group to look for passes to guess from
    static constexpr int kBefore = 4;    // how far before and after a likely pass to look for a
    static constexpr int kAfter = 8;     // more settled end
    static constexpr int kSamples = 64;
    static constexpr double kSettled = 0.75;

    // Ends likely to pass for the group starting at g, from the passes of nearby groups: a
    // neighbour's first pass, then the line through the two nearest first passes on either
    // side, two classes further as a pass tends to hold for a few classes beyond the first,
    // then the line through any known passes.
    std::array<int, 6> likelyPasses(int g) const {
        const auto near = [&](int c) {
            return c >= 1 && c <= index_.K ? searches_[static_cast<std::size_t>(c)] : Search{};
        };
        const auto firstPass = [&](int c) { return near(c).passedAt; };
        const auto anyPass = [&](int c) {
            const Search search = near(c);
            return search.passedAt != 0 ? search.passedAt : search.passesBy;
        };
        const auto line = [&](int step, const auto& pass, int further) {
            int nearest = 0;
            int next = 0;
            for (int c = g + step; std::abs(c - g) <= kReach && next == 0; c += step)
                if (pass(c) != 0) (nearest == 0 ? nearest : next) = c;
            if (next == 0) return 0;
            const double slope = static_cast<double>(pass(nearest) - pass(next)) / (nearest - next);
            return static_cast<int>(std::lround(pass(nearest) + slope * (g - nearest))) + further;
        };
        return {firstPass(g - 1),      firstPass(g + 1),     line(-1, firstPass, 2),
                line(1, firstPass, 2), line(-1, anyPass, 0), line(1, anyPass, 0)};
    }

    // Near a likely pass t, the end whose group looks most settled at a sample of block
    // boundaries, within kSettled of its band's half-width: a test of a group well inside its
    // band is decided from far fewer blocks than one that only just passes.
    int settledNear(int g, int t, int lowest, int highest, int avoided) const {
        const double n = static_cast<double>(index_.n);
        int best = t;
        int bestSettled = -1;
        for (int end = std::max(lowest, t - kBefore); end <= std::min(highest, t + kAfter); ++end) {
            if (end == avoided) continue;
            const double c = static_cast<double>(index_.rangeCount(g, end)) / n;
            const double scale = kSettled * z_ * std::sqrt(c * (1.0 - c));
            int settled = 0;
            for (int k = 1; k <= kSamples; ++k) {
                const int j =
                    static_cast<int>(static_cast<std::int64_t>(index_.blocks) * k / kSamples);
                if (j == 0) continue;
                const double at = std::min(static_cast<double>(j) * index_.blockSize, n);
                const double deviation = index_.rangeBefore(g, end, j) / at - c;
                settled += std::fabs(deviation) <= scale / std::sqrt(at);
            }
            if (settled > bestSettled ||
                (settled == bestSettled && std::abs(end - t) < std::abs(best - t))) {
                best = end;
                bestSettled = settled;
            }
        }
        return best;
    }

    // The group of classes g..t, grown from the last one asked for when that started at g.
    const ClassGroup& grow(int g, int t) {
        if (!growing_ || growingFrom_ != g || grownTo_ > t) {
            growing_.emplace(index_);
            growingFrom_ = g;
            grownTo_ = g - 1;
        }
        for (int c = nextNonEmpty(grownTo_ + 1); c <= t; c = nextNonEmpty(c + 1)) growing_->add(c);
        grownTo_ = t;
        return *growing_;
    }

    const ClassIndex& index_;
    double z_;
    double threshold_;
    std::vector<Search> searches_;
    std::vector<int> nextNonEmpty_;
    bool emptyClassPasses_ = false;
    std::optional<ClassGroup> growing_;
    int growingFrom_ = 0;
    int grownTo_ = 0;
};

// Left-to-right partitions of arcs a..b of classes, and their entropies.
class ArcPartitions {
public:
    // An arc a..last being partitioned: the groups before class `next` are closed, and their
    // terms subtracted from `entropy`.
    struct ArcWalk {
        int next;
        int last;
        double entropy = 0.0;

        bool done() const { return next > last; }
    };

    ArcPartitions(const ClassIndex& index, double z, double threshold, WorkerPool* pool)
        : index_(index),
          ends_(index, z, threshold),
          closed_(static_cast<std::size_t>(index.K) + 1) {
        ends_.testAloneAhead(pool);
    }

    // Entropy of the partition of the arc a..b, the groups' terms subtracted left to right.
    double arcPartitionEntropy(int a, int b) {
        ArcWalk walk{a, b};
        for (closeKnown(walk); !walk.done(); closeKnown(walk)) advance(walk, false);
        return walk.entropy;
    }

    // Closes the walk's groups as far as their ends are known without a further band test.
    void closeKnown(ArcWalk& walk) {
        while (!walk.done() && closeIfKnown(walk)) {
        }
    }

    // One band test towards the end of the walk's next group (see GroupEnds::advance).
    void advance(const ArcWalk& walk, bool guess) { ends_.advance(walk.next, walk.last, guess); }

    // A lower bound of the walk's final entropy, up to rounding. -p ln p is subadditive, so
    // the classes after a group give at least the term of their summed share; and as a
    // concave function of the group's share, the sum of the two terms is least at one of the
    // ends that the next group may still have.
    double least(const ArcWalk& walk) const {
        if (walk.done()) return walk.entropy;
        const int g = walk.next;
        const int b = walk.last;
        const auto [shortest, longest] = ends_.possibleEnds(g, b);
        return walk.entropy + std::min(splitEntropy(g, shortest, b), splitEntropy(g, longest, b));
    }

private:
    // Closes the walk's next group if its end is known without a further band test.
    bool closeIfKnown(ArcWalk& walk) {
        const int g = walk.next;
        if (ends_.emptyClassPasses() && ends_.searched(g) != g) {
            // Each empty class is a group of its own with share 0: nothing to subtract.
            walk.next = std::min(ends_.searched(g), walk.last + 1);
            return true;
        }
        const int t = ends_.knownEnd(g, walk.last);
        if (t == 0) return false;
        walk.entropy -= groupProduct(g, t);
        walk.next = t + 1;
        return true;
    }

    // The group last closed from a class: its end and ln(p)*p of its share.
    struct ClosedGroup {
        int end = 0;
        double product = 0.0;
    };

    // ln(p)*p for the share p of classes g..t. Most starts close the same groups, so the last
    // one closed from each class is remembered.
    double groupProduct(int g, int t) {
        ClosedGroup& closed = closed_[static_cast<std::size_t>(g)];
        if (closed.end != t) closed = {t, entropyProduct(groupShare(g, t))};
        return closed.product;
    }

    // The share of classes g..t, summed in ascending class order (an empty class adds 0).
    double groupShare(int g, int t) const {
        const double n = static_cast<double>(index_.n);
        double share = 0.0;
        for (int c = ends_.nextNonEmpty(g); c <= t; c = ends_.nextNonEmpty(c + 1))
            share += static_cast<double>(index_.count(c)) / n;
        return share;
    }

    // The term of the classes g..t plus that of t+1..b, from their counts.
    double splitEntropy(int g, int t, int b) const {
        const auto share = [&](int first, int last) {
            return static_cast<double>(index_.rangeCount(first, last)) /
                   static_cast<double>(index_.n);
        };
        const double whole = subtractEntropyTerm(0.0, share(g, t));
        return t < b ? subtractEntropyTerm(whole, share(t + 1, b)) : whole;
    }

    const ClassIndex& index_;
    GroupEnds ends_;
    std::vector<ClosedGroup> closed_;
};

// A start s >= 2 whose score w(s) is sought: its arcs 1..s-1 and s..K, each partitioned on its
// own and so far, and a lower bound of the score.
struct Start {
    double least;
    int s;
    ArcPartitions::ArcWalk low;
    ArcPartitions::ArcWalk high;

    bool operator>(const Start& other) const {
        return least > other.least || (least == other.least && s > other.s);
    }
};

// The least of the scores w(2) .. w(K) if below `smallest`, else `smallest`. Starts advance
// one band test at a time, always the one with the least bound, and are dropped once their
// bound exceeds the least score found by more than `margin`: those that cannot win stop early.
double leastStartScore(ArcPartitions& arcs, int K, double smallest, double margin) {
    std::priority_queue<Start, std::vector<Start>, std::greater<Start>> open;
    for (int s = 2; s <= K; ++s) {
        Start start{0.0, s, {1, s - 1}, {s, K}};
        start.least = arcs.least(start.low) + arcs.least(start.high);
        open.push(start);
    }
    while (!open.empty() && open.top().least <= smallest + margin) {
        Start start = open.top();
        open.pop();
        for (bool tested = false;;) {
            // Groups known without a test close at once; only a test is worth a bound.
            arcs.closeKnown(start.low);
            arcs.closeKnown(start.high);
            if (start.low.done() && start.high.done()) {
                smallest = std::min(smallest, start.low.entropy + start.high.entropy);
                break;
            }
            start.least = arcs.least(start.low) + arcs.least(start.high);
            if (start.least > smallest + margin) break;
            if (tested) {
                open.push(start);
                break;
            }
            arcs.advance(start.high.done() ? start.low : start.high, true);
            tested = true;
        }
    }
    return smallest;
}

ClassifiedWindow classifyForCircleLefttoRight(const double* first, const double* last,
                                              const MeasureSettings& settings,
                                              MeasureResult& result) {
    requireClasses(settings.K, "NSCircleLefttoRight");
    // Offset lowest boundary and double-precision positions, as the reference records have them
    // for this measure (unlike the other three, whose positions are single precision).
    return classifyWith(LowestBoundary::Offset, PositionPrecision::Double, first, last, settings,
                        result);
}

void circleLefttoRightOnClasses(ClassIndex index, const std::vector<double>& /*b*/,
                                const MeasureSettings& settings, MeasureResult& result) {
    const int K = settings.K;
    ArcPartitions arcs(index, settings.z, settings.threshold, settings.pool);
    // Start s scans s..K, then 1..s-1; the two arcs never share a group. H is the least score,
    // so a start whose score provably exceeds the least found so far need not be partitioned
    // in full. The most promising starts go first; `margin` covers the rounding of the scores
    // and of their bounds (a few ulps per class).
    double smallest = arcs.arcPartitionEntropy(1, K);
    const double margin =
        4096.0 * (static_cast<double>(K) + 2.0) * std::numeric_limits<double>::epsilon();
    result.H = leastStartScore(arcs, K, smallest, margin);
    result.value = 1.0 - result.H / result.H0;
    // No groups, even when asked for: the search keeps each start's entropy, not its groups, and
    // drops starts on their bounds, so the winning partition is never held. It could be had
    // cheaply (keep the least-scoring start, the lowest on a tie, and walk its arcs again, every
    // end then known), but the analysis layer documents none for this measure.
}

}  // namespace

const MeasureSteps kCircleLefttoRightSteps{&classifyForCircleLefttoRight,
                                           &circleLefttoRightOnClasses};

void NSCircleLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                         MeasureResult& result) {
    runSteps(kCircleLefttoRightSteps, first, last, settings, result);
}

}  // namespace quorvel
