// NSdichotomy: breadth-first splitting of the value range. Each pass splits every open stretch
// of classes at the inner boundary whose running shares settle best, or closes it.
#include "measures.hpp"

#include "../core/band_count.hpp"
#include "../core/class_source.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/stretch_score.hpp"
#include "../core/worker_pool.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// The scores of a stretch's inner boundaries, learnt only as far as asked: a boundary whose
// classes below are the same as those of the boundary under it (an empty class between them)
// shares that one's score.
class BoundaryScores {
public:
    BoundaryScores(const StretchView& stretch, double z, int s, int e, std::vector<double>& strayAt)
        : scorer_(stretch, z, strayAt),
          s_(s),
          n_(stretch.size()),
          known_(static_cast<std::size_t>(e - s - 1)),
          same_(static_cast<std::size_t>(e - s - 1)) {
        for (int q = s + 1; q < e; ++q)
            same_[slot(q)] =
                q > s + 1 && stretch.source->count(q) == 0 ? same_[slot(q - 1)] : slot(q);
    }

    // The score of q when it reaches `need`; otherwise some value below `need`.
    std::int64_t atLeast(int q, std::int64_t need) {
        Known& known = known_[same_[slot(q)]];
        if (known.asked >= 0 && (known.score >= known.asked || known.asked <= need))
            return known.score;
        // No boundary settles at more than all of the stretch's positions.
        const std::int64_t score = need > n_ ? n_ : scorer_.settledCount(q, need);
        known = Known{score, need};
        return score;
    }

private:
    // A score found exact when at least `asked`, else only known to lie below `asked`.
    struct Known {
        std::int64_t score = 0;
        std::int64_t asked = -1;  // never asked
    };

    std::size_t slot(int q) const { return static_cast<std::size_t>(q - s_ - 1); }

    StretchScorer scorer_;
    int s_;
    std::int64_t n_;
    std::vector<Known> known_;
    std::vector<std::size_t> same_;  // the slot whose score each boundary shares
};

// What earlier passes learnt of each boundary, to spare work in later ones; no result depends on
// it.
struct ScoringHints {
    explicit ScoringHints(int K)
        : strayAt(static_cast<std::size_t>(K) + 1, -1.0),
          heldIn(static_cast<std::size_t>(K) + 1),
          peeledAt(static_cast<std::size_t>(K) + 1) {}

    std::vector<double> strayAt;  // see StretchScorer
    std::vector<int> heldIn;      // the last pass in which the boundary held its stretch's best
    std::vector<char> peeledAt;   // whether the split there fell short of a best held past 1.0
};

// The inner boundary of s..e that held the best most recently, else the lowest.
int likelyHolder(int s, int e, const std::vector<int>& heldIn) {
    int likely = s + 1;
    for (int q = s + 2; q < e; ++q)
        if (heldIn[static_cast<std::size_t>(q)] > heldIn[static_cast<std::size_t>(likely)])
            likely = q;
    return likely;
}

// The marks of the boundaries (column 3 of the table is built from them): 1 for the two ends,
// the pass that split there, K when dropped, 0 while undecided.
using Marks = std::vector<int>;

// What the passes share: the boundaries, the band test's settings, the marks and the hints.
struct Splitting {
    const std::vector<double>& b;
    double z;
    double threshold;
    int K;
    Marks marks;
    int decidedCount = 0;
    ScoringHints hints;
};

// The split of one stretch s..e (boundary indices, at least one inner boundary) in pass
// `level`: at its best-settling inner boundary when that one's score exceeds the threshold,
// else every inner boundary is dropped. `stretch` holds the values of classes s+1..e (at least
// one); those at or below b[q] are those of classes s+1..q. A boundary's score is the smaller
// in-band count of its running share and of the complement (the fractions have the common
// divisor N, so counts order them the same way).
//
// Among the best-scoring boundaries the one nearest the centre wins; every other boundary
// counts as 1.0 away, and equal distances go to the lowest boundary. So a boundary's score is
// needed exactly only where it may raise the best, or tie it nearer the centre (within 1.0)
// than the best-scoring boundary found so far; past that, only the lowest boundary that falls
// short of the best may matter. The boundaries are scored in any order: of two as near, the
// lower wins. A score that cannot exceed the threshold matters to nothing (the stretch then
// closes, or a higher score decides), so no score is learnt below that: on a stretch far from
// settling, each boundary is ruled out as soon as a few of its blocks stray.
class StretchSplit {
public:
    StretchSplit(Splitting& splitting, const StretchView& stretch, int s, int e, int level)
        : splitting_(splitting),
          s_(s),
          e_(e),
          level_(level),
          N_(stretch.size()),
          splitsAt_(exceedingCount(N_, splitting.threshold)),
          scores_(stretch, splitting.z, s, e, splitting.hints.strayAt) {
        const std::vector<double>& b = splitting.b;
        const auto M = static_cast<std::size_t>((s + e) / 2);
        centre_ = (b[M] + b[M + 1]) * 0.5;
        lowestNear_ = e;
        for (int q = s + 1; q < e; ++q) ordered_ = ordered_ && !std::isnan(distance(q));
        for (int q = s + 1; q < e && lowestNear_ == e; ++q)
            if (!far(q)) lowestNear_ = q;
    }

    // Returns the chosen boundary, or 0 when the stretch is closed. Writes only the marks and
    // hints of the stretch's inner boundaries, so that the stretches of a pass can be split on
    // several threads at once.
    int split() {
        const int likely = likelyHolder(s_, e_, splitting_.hints.heldIn);
        scoreLikelyFirst(likely);
        int chosen = far(holder_) && passes() ? lowestPastFarHolder() : 0;
        if (chosen == 0)
            for (int q = s_ + 2; q < e_; ++q)
                if (q != likely && far(q)) score(q);
        if (holder_ != 0) splitting_.hints.heldIn[static_cast<std::size_t>(holder_)] = level_;

        if (!passes()) {
            for (int q = s_ + 1; q < e_; ++q)
                splitting_.marks[static_cast<std::size_t>(q)] = splitting_.K;
            return 0;
        }
        if (chosen == 0) chosen = nearestBest();
        splitting_.marks[static_cast<std::size_t>(chosen)] = level_;
        splitting_.hints.peeledAt[static_cast<std::size_t>(chosen)] =
            far(holder_) && chosen != holder_;
        return chosen;
    }

private:
    double distance(int q) const {
        return std::fabs(splitting_.b[static_cast<std::size_t>(q)] - centre_);
    }
    bool far(int q) const { return ordered_ && distance(q) > 1.0; }
    bool passes() const {
        return static_cast<double>(best_) / static_cast<double>(N_) > threshold();
    }
    double threshold() const { return splitting_.threshold; }
    bool scoresBest(int q) { return scores_.atLeast(q, best_) >= best_; }

    // Whether q, scoring the best, would win over the holder: nearer, or as near and lower.
    bool nearer(int q) const {
        if (holder_ == 0 || !ordered_) return true;
        const double away = distance(q);
        return away <= 1.0 &&
               (away < distance(holder_) || (away == distance(holder_) && q < holder_));
    }

    void score(int q) {
        const std::int64_t need = std::max(nearer(q) ? best_ : best_ + 1, splitsAt_);
        const std::int64_t atLeast = scores_.atLeast(q, need);
        if (atLeast >= need) {
            best_ = atLeast;
            holder_ = q;
        }
    }

    // The lowest boundary first, then the one that held the best of the stretch this one was
    // split from (it usually holds it again), then the far boundaries below those within 1.0:
    // a high best found early makes the others cheaper to rule out. When that holder lay far
    // from the centre, or the split that bounds the stretch below fell short of a best held far
    // from it, the stretch is being peeled from below: the best then mostly lies just above the
    // lowest boundary, and the far ones past the next few are left until they are needed.
    void scoreLikelyFirst(int likely) {
        constexpr int kRaisers = 32;
        const ScoringHints& hints = splitting_.hints;
        const bool peeled = hints.peeledAt[static_cast<std::size_t>(s_)] != 0 ||
                            (hints.heldIn[static_cast<std::size_t>(likely)] != 0 && far(likely));
        score(s_ + 1);
        if (likely != s_ + 1) score(likely);
        const int raisedTo = peeled ? std::min(lowestNear_, s_ + kRaisers + 1) : lowestNear_;
        for (int q = s_ + 2; q < raisedTo; ++q)
            if (q != likely) score(q);
        for (int q = std::max(lowestNear_, s_ + 2); q < e_; ++q)
            if (q != likely && !far(q)) score(q);
    }

    // While the holder lies farther than 1.0, no boundary within 1.0 reaches the best found, so
    // none scores the best and every distance is at least 1.0: the lowest boundary within 1.0
    // or short of the best wins, whatever the other far ones score. A far one known to score
    // the best is passed over; known only when the best is all N (no score is higher). 0 when
    // the far ones left unscored may still matter.
    int lowestPastFarHolder() {
        for (int q = s_ + 1; q < e_; ++q) {
            if (!far(q) || scores_.atLeast(q, best_) < best_) return q;
            if (best_ < N_) break;
        }
        return 0;
    }

    // The winner once every score that matters is known.
    int nearestBest() {
        int chosen = 0;
        if (ordered_ && distance(holder_) < 1.0) {
            chosen = holder_;
        } else if (ordered_) {
            // Past 1.0 the lowest boundary short of the best wins, unless every one scores it.
            for (int q = s_ + 1; q < e_ && chosen == 0; ++q)
                if (!scoresBest(q)) chosen = q;
            if (chosen != 0 && distance(holder_) == 1.0) chosen = std::min(chosen, holder_);
        }
        if (chosen != 0) return chosen;
        chosen = s_ + 1;
        double nearest = 0.0;
        for (int q = s_ + 1; q < e_; ++q) {
            const double away = scoresBest(q) ? distance(q) : 1.0;
            if (q == s_ + 1 || away < nearest) {
                chosen = q;
                nearest = away;
            }
        }
        return chosen;
    }

    Splitting& splitting_;
    int s_;
    int e_;
    int level_;
    int N_;
    std::int64_t splitsAt_;  // the least score that splits the stretch
    BoundaryScores scores_;
    double centre_ = 0.0;
    bool ordered_ = true;  // no distance is NaN
    int lowestNear_ = 0;   // the lowest boundary within 1.0 of the centre, e when none
    std::int64_t best_ = 0;
    int holder_ = 0;  // the nearest best-scoring boundary that may win, 0 while none
};

// A stretch of classes s+1..e still to be examined, seen through the index of a sequence that
// holds its values in window order. The boundaries ascend here (the lowest lies at or below the
// minimum), so the values in (b[s], b[e]] are exactly those of classes s+1..e; when the
// boundaries hold NaN every class is empty.
struct OpenStretch {
    int s;
    int e;
    std::shared_ptr<const ClassSource> source;

    StretchView view() const { return StretchView{&source->index(), s + 1, e}; }
};

// The parts of a stretch split at q that can still be split: two classes or more, and values.
// A part that holds at least half of its source's values is followed through that source; a
// smaller one is taken out, so that examining it costs in proportion to its own values.
struct Part {
    int s;
    int e;
    bool takenOut;
};
struct Parts {
    std::array<Part, 2> part;
    int count = 0;
};

Parts partsOf(const OpenStretch& stretch, int q) {
    const ClassIndex& source = stretch.source->index();
    Parts parts;
    for (const auto& [s, e] : {std::pair{stretch.s, q}, std::pair{q, stretch.e}}) {
        const std::int32_t values = e - s >= 2 ? source.rangeCount(s + 1, e) : 0;
        if (values != 0)
            parts.part[static_cast<std::size_t>(parts.count++)] =
                Part{s, e, 2 * static_cast<std::int64_t>(values) < source.n};
    }
    return parts;
}

// Takes out or follows the parts of a stretch split at q, on the threads of `pool` (null: the
// calling thread alone).
void keepParts(const OpenStretch& stretch, int q, WorkerPool* pool,
               std::vector<OpenStretch>& next) {
    const Parts parts = partsOf(stretch, q);
    if (parts.count == 2 && parts.part[0].takenOut && parts.part[1].takenOut) {
        // Both taken out: one pass over the source for the two.
        auto [low, high] = stretch.source->extractBoth(stretch.s + 1, q, stretch.e, pool);
        next.push_back(OpenStretch{stretch.s, q, std::move(low)});
        next.push_back(OpenStretch{q, stretch.e, std::move(high)});
        return;
    }
    for (int k = 0; k < parts.count; ++k) {
        const Part& part = parts.part[static_cast<std::size_t>(k)];
        next.push_back(OpenStretch{
            part.s, part.e,
            part.takenOut ? stretch.source->extract(part.s + 1, part.e, pool) : stretch.source});
    }
}

// Whether taking out the parts of a stretch split at q builds a table of positions by class.
bool partsBuildTable(const OpenStretch& stretch, int q) {
    const Parts parts = partsOf(stretch, q);
    for (int k = 0; k < parts.count; ++k) {
        const Part& part = parts.part[static_cast<std::size_t>(k)];
        if (part.takenOut && stretch.source->extractBuildsTable(part.s + 1, part.e)) return true;
    }
    return false;
}

// Builds on the threads of `pool` the tables that taking out the parts of a stretch split at q
// would build on the thread that does it.
void prepareParts(const OpenStretch& stretch, int q, WorkerPool* pool) {
    const Parts parts = partsOf(stretch, q);
    for (int k = 0; k < parts.count; ++k) {
        const Part& part = parts.part[static_cast<std::size_t>(k)];
        if (part.takenOut) stretch.source->prepareExtract(part.s + 1, part.e, pool);
    }
}

// The stretches of a pass are split on the run's threads from this many values between them.
constexpr std::int64_t kSharedPass = std::int64_t{1} << 16;

ClassifiedWindow classifyForDichotomy(const double* first, const double* last,
                                      const MeasureSettings& settings, MeasureResult& result) {
    requireClasses(settings.K, "NSdichotomy");
    // Lowest boundary relative to the minimum (min - 0.01 |min|), unlike the other measures, and
    // single-precision positions: the reference records have them so for this measure.
    return classifyWith(LowestBoundary::Relative, PositionPrecision::Single, first, last, settings,
                        result);
}

void dichotomyOnClasses(ClassIndex index, const std::vector<double>& b,
                        const MeasureSettings& settings, MeasureResult& result) {
    const int K = settings.K;
    const double z = settings.z;
    const double threshold = settings.threshold;
    Eigen::MatrixXd* A = &result.table;
    auto window = std::make_shared<const ClassSource>(std::move(index));
    const int n = window->index().n;
    // The counts of classes 1..c, for the final partition: the window itself is released as
    // soon as no stretch is followed through it.
    std::vector<std::int32_t> upTo(static_cast<std::size_t>(K) + 1, 0);
    for (int c = 1; c <= K; ++c)
        upTo[static_cast<std::size_t>(c)] =
            upTo[static_cast<std::size_t>(c) - 1] + window->index().count(c);
    const auto rangeCount = [&](int s, int e) {
        return upTo[static_cast<std::size_t>(e)] - upTo[static_cast<std::size_t>(s) - 1];
    };

    Splitting splitting{
        b, z, threshold, K, Marks(static_cast<std::size_t>(K) + 1, 0), 0, ScoringHints(K)};
    const Marks& marks = splitting.marks;
    splitting.marks.front() = 1;
    splitting.marks.back() = 1;
    const auto mark = [&](int i) { return marks[static_cast<std::size_t>(i)]; };

    // Breadth first: each pass examines every stretch of two classes or more that holds values,
    // and its splits bound the stretches of the next pass. A stretch without values keeps its
    // inner marks at 0 and is never examined.
    std::vector<OpenStretch> open;
    if (K >= 2 && rangeCount(1, K) != 0) open.push_back(OpenStretch{0, K, std::move(window)});
    // What each stretch of a pass chose and kept; their room is reused from pass to pass, as a
    // short window makes many passes of little work.
    std::vector<int> chosen;
    std::vector<std::vector<OpenStretch>> parts;
    for (int pass = 1; pass <= K - 1 && !open.empty() && splitting.decidedCount < K - 1; ++pass) {
        chosen.assign(open.size(), 0);
        if (parts.size() < open.size()) parts.resize(open.size());
        for (std::size_t k = 0; k < open.size(); ++k) parts[k].clear();
        // Each stretch lets go of its source once its parts are kept: a source no part follows
        // any longer is released then, rather than at the end of the pass.
        const auto keep = [&](std::size_t k, WorkerPool* partsPool) {
            if (chosen[k] != 0) keepParts(open[k], chosen[k], partsPool, parts[k]);
            open[k].source.reset();
        };
        const auto split = [&](std::size_t k) {
            const OpenStretch& stretch = open[k];
            chosen[k] = StretchSplit(splitting, stretch.view(), stretch.s, stretch.e, pass).split();
        };
        std::int64_t values = 0;
        for (const OpenStretch& stretch : open) values += stretch.view().size();
        if (settings.pool != nullptr && open.size() > 1 && values >= kSharedPass) {
            // The stretches are shared out among the run's threads. One whose parts need a
            // table not yet built waits until it is built on all threads after the others.
            std::vector<char> waits(open.size(), 0);
            settings.pool->forEach(open.size(), [&](std::size_t k) {
                split(k);
                waits[k] = chosen[k] != 0 && partsBuildTable(open[k], chosen[k]);
                if (waits[k] == 0) keep(k, nullptr);
            });
            std::vector<std::size_t> waiting;
            for (std::size_t k = 0; k < open.size(); ++k)
                if (waits[k] != 0) waiting.push_back(k);
            if (!waiting.empty()) {
                for (const std::size_t k : waiting) prepareParts(open[k], chosen[k], settings.pool);
                settings.pool->forEach(waiting.size(),
                                       [&](std::size_t i) { keep(waiting[i], nullptr); });
            }
        } else {
            // One after another, each stretch's parts taken out on all threads.
            for (std::size_t k = 0; k < open.size(); ++k) {
                split(k);
                keep(k, settings.pool);
            }
        }
        std::vector<OpenStretch> next;
        for (std::size_t k = 0; k < open.size(); ++k) {
            splitting.decidedCount += chosen[k] == 0 ? open[k].e - open[k].s - 1 : 1;
            next.insert(next.end(), parts[k].begin(), parts[k].end());
        }
        open = std::move(next);
    }

    // Final partition between delimiters; an empty stretch is merged into the next one.
    result.H = 0.0;
    const int dropped = K;
    int s = 0;
    for (int e = 1; e <= K; ++e) {
        if (mark(e) == 0 || mark(e) == dropped) continue;
        const std::int32_t count = rangeCount(s + 1, e);
        const double p = static_cast<double>(count) / static_cast<double>(n);
        (*A)(e, 4) = static_cast<double>(count);
        (*A)(e, 5) = p;
        if (count != 0) {
            result.H = subtractEntropyTerm(result.H, p);
            if (settings.groups) result.groups.push_back({s + 1, e, count, p, GroupKind::Group});
            s = e;
        } else if (e == K) {
            // Empty classes above the last that holds values: a group of their own, adding 0.
            if (settings.groups) result.groups.push_back({s + 1, e, 0, 0.0, GroupKind::Group});
        }
    }
    result.value = 1.0 - result.H / result.H0;
    for (int i = 0; i <= K; ++i)
        (*A)(i, 3) = mark(i) == dropped ? 0.0 : b[static_cast<std::size_t>(i)];
}

}  // namespace

const MeasureSteps kDichotomySteps{&classifyForDichotomy, &dichotomyOnClasses};

void NSdichotomy(const double* first, const double* last, const MeasureSettings& settings,
                 MeasureResult& result) {
    runSteps(kDichotomySteps, first, last, settings, result);
}

}  // namespace quorvel
