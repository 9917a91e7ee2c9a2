// The band test walked along a run of labels: the running share of the positions whose class
// lies in a range, and optionally its complement, judged together. A window's class group
// follows every label; a stretch of classes follows only the labels of its own classes.
#pragma once

#include "band.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace quorvel {

// How far a walk has gone, for series 0..kSeries-1: the positions of the sequence taken so far,
// how many of them the share counts, and how many each series found inside its band.
template <std::size_t kSeries>
struct WalkTally {
    std::int32_t position;
    std::int32_t count;
    std::array<std::int64_t, kSeries> inside{};
    std::int32_t start;  // the position before the walk
    // Positions outside its band that each series may add before the walk can stop.
    std::array<std::int64_t, kSeries> spare;

    // Whether a series in `open` has already gone past its spare.
    bool exhausted(unsigned open) const {
        for (std::size_t k = 0; k < kSeries; ++k)
            if ((open >> k & 1U) != 0 && position - start - inside[k] > spare[k]) return true;
        return false;
    }
};

// What a walk spares for none of its series: it walks to the end.
template <std::size_t kSeries>
constexpr std::array<std::int64_t, kSeries> kNoStop = [] {
    std::array<std::int64_t, kSeries> spare{};
    for (std::int64_t& each : spare) each = std::numeric_limits<std::int64_t>::max();
    return spare;
}();

// Labels are read as offsets from the lowest class of the sequence: the label at source index i
// is a position of the sequence when its offset is at most memberSpan (every label when
// kEveryLabel), and counted by the share when at most countedSpan. One unsigned comparison per
// label and range lets the chunk counts vectorise.
//
// Chunks of labels are judged from the counts at their ends, and an unsure chunk position by
// position, where only the positions that stay unsure are evaluated exactly. Over a subsequence,
// whose positions cost more to walk, an unsure chunk is first judged in chunks a quarter as wide;
// over every label that judgement cost more than it saved, in measurements.
//
// Exact interface (a template parameter, no virtual calls):
//   double value(std::size_t k, int i, std::int32_t position, std::int32_t count);
//       element `position` of series k, as the definition computes it, the label of that
//       position standing at source index i and the share's count there being `count`;
//       called with rising i along a walk.
template <std::size_t kSeries, bool kEveryLabel, typename Exact>
class BandWalk {
public:
    BandWalk(const std::int32_t* labels, int lowest, int highestMember, int highestCounted,
             const std::array<Band, kSeries>& bands, Exact& exact)
        : labels_(labels),
          lowest_(static_cast<std::uint32_t>(lowest)),
          memberSpan_(static_cast<std::uint32_t>(highestMember - lowest)),
          countedSpan_(static_cast<std::uint32_t>(highestCounted - lowest)),
          bands_(bands),
          exact_(exact) {}

    // The labels at source indices from..to-1 for the series in `open`, whose positions were
    // judged unsure all together: a run of one chunk goes straight to narrower ones.
    void walkUnsure(int from, int to, unsigned open, WalkTally<kSeries>& tally) {
        if (to - from > kJudgedChunk)
            countLabels<kJudgedChunk>(from, to, open, tally);
        else
            walkNarrower<kJudgedChunk>(from, to, countIn(from, to).members, open, tally);
    }

private:
    // Chunks of kWidth labels; the walk stops once a series of `open` has exhausted its spare.
    template <int kWidth>
    void countLabels(int from, int to, unsigned open, WalkTally<kSeries>& tally) {
        for (int chunk = from; chunk < to; chunk += kWidth) {
            // A full chunk's fixed length lets the compiler unroll its count completely.
            const int end = std::min(chunk + kWidth, to);
            const LabelCount added =
                end - chunk == kWidth ? countIn(chunk, chunk + kWidth) : countIn(chunk, end);
            if (added.members == 0) continue;
            const std::int32_t first = tally.position + 1;
            const std::int32_t last = tally.position + added.members;
            const BandVerdicts verdicts =
                judgeShares(bands_, first, last, tally.count, tally.count + added.counted,
                            inverseRoot(first), inverseRoot(last), open);
            for (std::size_t k = 0; k < kSeries; ++k)
                if ((verdicts.inside >> k & 1U) != 0) tally.inside[k] += added.members;
            const unsigned unsure = verdicts.unsure(open);
            if (unsure == 0) {
                tally.position = last;
                tally.count += added.counted;
            } else {
                walkNarrower<kWidth>(chunk, end, added.members, unsure, tally);
            }
            if (tally.exhausted(open)) return;
        }
    }

    // An unsure chunk of kWidth labels at most, holding `members` positions.
    template <int kWidth>
    void walkNarrower(int from, int to, std::int32_t members, unsigned open,
                      WalkTally<kSeries>& tally) {
        if constexpr (kWidth > kNarrowest)
            countLabels<kWidth / 4>(from, to, open, tally);
        else
            countPositions(from, to, members, open, tally);
    }

    // The labels from..to-1, holding `members` positions, one by one: a verdict each, and the
    // exact evaluation only where it is unsure.
    void countPositions(int from, int to, std::int32_t members, unsigned open,
                        WalkTally<kSeries>& tally) {
        // Past the table a root costs a division and a square root: the roots of the first and
        // the last position bound every root between them, and most positions are judged
        // without one of their own.
        if (tally.position + members < kTabledRoots)
            countPositions<true>(from, to, members, open, tally);
        else
            countPositions<false>(from, to, members, open, tally);
    }

    template <bool kTabled>
    void countPositions(int from, int to, std::int32_t members, unsigned open,
                        WalkTally<kSeries>& tally) {
        // On locals: the labels are of the counts' type, and the tally's fields could alias them.
        std::int32_t position = tally.position;
        std::int32_t count = tally.count;
        std::array<std::int64_t, kSeries> inside = tally.inside;
        const double rootLow = inverseRoot(position + members);
        const double rootHigh = inverseRoot(position + 1);
        for (int i = from; i < to; ++i) {
            const std::uint32_t offset = offsetAt(i);
            count += offset <= countedSpan_ ? 1 : 0;
            if (!kEveryLabel && offset > memberSpan_) continue;
            const std::int32_t t = ++position;
            for (std::size_t k = 0; k < kSeries; ++k) {
                if (kSeries > 1 && (open >> k & 1U) == 0) continue;
                const Band& band = bands_[k];
                const double m = static_cast<double>(k == 1 ? t - count : count);
                Band::Verdict verdict =
                    kTabled ? band.judgeAt(m, t, kInverseRoots[static_cast<std::size_t>(t)])
                            : band.judgeAtWithin(m, t, rootLow, rootHigh);
                if (!kTabled && verdict == Band::Verdict::Unsure)
                    verdict = band.judgeAt(m, t, inverseRoot(t));
                if (verdict == Band::Verdict::Unsure)
                    inside[k] += band.contains(exact_.value(k, i, t, count), t) ? 1 : 0;
                else
                    inside[k] += verdict == Band::Verdict::Inside ? 1 : 0;
            }
        }
        tally.position = position;
        tally.count = count;
        tally.inside = inside;
    }

    // The positions among labels from..to-1, and how many of them the share counts.
    struct LabelCount {
        std::int32_t members;
        std::int32_t counted;
    };
    LabelCount countIn(int from, int to) const {
        LabelCount labels{0, 0};
        for (int i = from; i < to; ++i) {
            const std::uint32_t offset = offsetAt(i);
            labels.members += kEveryLabel ? 1 : static_cast<std::int32_t>(offset <= memberSpan_);
            labels.counted += static_cast<std::int32_t>(offset <= countedSpan_);
        }
        return labels;
    }

    std::uint32_t offsetAt(int i) const { return static_cast<std::uint32_t>(labels_[i]) - lowest_; }

    // Labels a chunk holds at first; unsure chunks of at most kNarrowest are walked position by
    // position.
    static constexpr int kJudgedChunk = 32;
    static constexpr int kNarrowest = kEveryLabel ? kJudgedChunk : kJudgedChunk / 4;

    const std::int32_t* labels_;
    std::uint32_t lowest_;
    std::uint32_t memberSpan_;
    std::uint32_t countedSpan_;
    const std::array<Band, kSeries>& bands_;
    Exact& exact_;
};

}  // namespace quorvel
