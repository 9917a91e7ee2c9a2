// The band test evaluated block by block instead of position by position.
//
// A running sequence v_1..v_n lies inside its band at position i when
//     c - z*sqrt(c(1-c)/i) <= v_i <= z*sqrt(c(1-c)/i) + c,   c = v_n,
// evaluated in double precision exactly as written. Where the sequence is known to stay within
// a range of values over a stretch of positions, the whole stretch is decided at once when that
// range lies clearly inside or clearly outside the band, with a margin that covers every
// rounding of the exact evaluation. Only positions within that margin of a band edge are
// evaluated exactly, with the same operations as the definition.
#pragma once

#include "class_index.hpp"
#include "interrupt.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace quorvel {

// When to stop counting early: once the count reaches `reach`, or once it can no longer reach
// `atLeast` with the positions left. The defaults count every position.
struct BandGoal {
    std::int64_t reach = std::numeric_limits<std::int64_t>::max();
    std::int64_t atLeast = 0;
};

// The least in-band count whose fraction count/n passes `threshold` (n + 1 when none does).
std::int64_t passingCount(int n, double threshold);

// Goal for a pass/fail verdict against `threshold`.
inline BandGoal verdictGoal(int n, double threshold) {
    const std::int64_t needed = passingCount(n, threshold);
    return BandGoal{needed, needed};
}

// 1/sqrt(i) for the first positions, filled once for the process: short windows, and the first
// blocks of every window, read it at most positions they judge.
constexpr int kTabledRoots = 4096;
extern const std::array<double, kTabledRoots> kInverseRoots;

// 1/sqrt(i), worked out where a judgement needs it past the table: a band test of a long window
// reads it at few positions, far fewer than a table over the window would cost to fill and to
// bring into memory.
inline double inverseRoot(int i) {
    if (i < kTabledRoots) return kInverseRoots[static_cast<std::size_t>(i)];
    return 1.0 / std::sqrt(static_cast<double>(i));
}

// The band around the last element c of a running sequence.
class Band {
public:
    enum class Verdict { Inside, Outside, Unsure };

    // `slack` bounds how far the sequence's computed elements may stray from the real values
    // that the callers' ranges describe.
    Band(double c, double z, double slack)
        : c_(c),
          f_((1.0 - c) * c),
          z_(z),
          // Ranges are judged only for finite, non-negative bands around a proportion.
          judged_(std::isfinite(z) && z >= 0.0 && c >= 0.0 && c <= 1.0),
          scale_(judged_ ? z * std::sqrt(f_) : 0.0),
          margin_(4.0 * (slack + 16.0 * std::numeric_limits<double>::epsilon()) *
                  (1.0 + (judged_ ? z : 0.0))) {}

    // The definition itself, for the element v at position i.
    bool contains(double v, int i) const {
        const double half = z_ * std::sqrt(f_ / static_cast<double>(i));
        const double lower = c_ - half;
        const double upper = half + c_;
        return v >= lower && upper >= v;
    }

    // Where elements lying within [least, most] at positions lo..hi all stand, given
    // rootLo ~ 1/sqrt(lo) and rootHi ~ 1/sqrt(hi) to within a few ulps.
    Verdict judge(double least, double most, double rootLo, double rootHi) const {
        if (!judged_) return Verdict::Unsure;
        const double farthest = std::max(most - c_, c_ - least);
        const double nearest =
            least <= c_ && c_ <= most ? 0.0 : std::min(std::fabs(least - c_), std::fabs(most - c_));
        if (farthest <= scale_ * rootHi - margin_) return Verdict::Inside;
        if (nearest >= scale_ * rootLo + margin_) return Verdict::Outside;
        return Verdict::Unsure;
    }

    // Where the element m / i stands, given root ~ 1/sqrt(i): the same judgement as above
    // scaled by i, which spares a division per position.
    Verdict judgeAt(double m, int i, double root) const {
        if (!judged_) return Verdict::Unsure;
        const double at = static_cast<double>(i);
        const double deviation = std::fabs(m - c_ * at);
        const double reach = scale_ * root * at;
        const double margin = margin_ * at;
        if (deviation <= reach - margin) return Verdict::Inside;
        if (deviation >= reach + margin) return Verdict::Outside;
        return Verdict::Unsure;
    }

    // The same judgement with the root only known to lie in [rootLow, rootHigh] (computed
    // roots of positions at or after i, and at or before it): a verdict here is the verdict
    // of judgeAt with i's own root, which sits between them.
    Verdict judgeAtWithin(double m, int i, double rootLow, double rootHigh) const {
        if (!judged_) return Verdict::Unsure;
        const double at = static_cast<double>(i);
        const double deviation = std::fabs(m - c_ * at);
        const double margin = margin_ * at;
        if (deviation <= scale_ * rootLow * at - margin) return Verdict::Inside;
        if (deviation >= scale_ * rootHigh * at + margin) return Verdict::Outside;
        return Verdict::Unsure;
    }

private:
    double c_;
    double f_;
    double z_;
    bool judged_;
    double scale_;  // z * sqrt(f): the half-width at position i is about scale / sqrt(i)
    double margin_;
};

// The least and the greatest of the running shares count/i over positions first..last, the
// count being `fewest` before first and `most` at last. The count grows by at most one a
// position, so the share is lowest no later than the last position where the count may still
// be `fewest`, and highest no earlier than the first where it may have reached `most`.
inline std::pair<double, double> runningShareRange(std::int32_t fewest, std::int32_t most,
                                                   std::int32_t first, std::int32_t last) {
    const std::int32_t gain = most - fewest;
    const double a =
        static_cast<double>(fewest) / static_cast<double>(std::max(first, last - gain));
    const double b =
        static_cast<double>(most) / static_cast<double>(std::max(first, first + gain - 1));
    return {std::min(a, b), std::max(a, b)};
}

// Where the running elements count/i, or 1 - count/i for the complement, stand over positions
// lo..hi while the count grows from `fewest` (before lo) to `most` (at hi).
inline Band::Verdict judgeSpan(const Band& band, std::int32_t fewest, std::int32_t most, int lo,
                               int hi, bool complement) {
    const auto [least, greatest] = runningShareRange(fewest, most, lo, hi);
    return complement ? band.judge(1.0 - greatest, 1.0 - least, inverseRoot(lo), inverseRoot(hi))
                      : band.judge(least, greatest, inverseRoot(lo), inverseRoot(hi));
}

// How many of labels[from..to) lie in lowest..lowest + span. One unsigned comparison per label
// lets the compiler vectorise the count, and unroll it for a chunk of fixed length.
inline std::int32_t labelsWithin(const std::int32_t* labels, int from, int to, std::uint32_t lowest,
                                 std::uint32_t span) {
    std::int32_t within = 0;
    for (int i = from; i < to; ++i)
        within += static_cast<std::int32_t>(static_cast<std::uint32_t>(labels[i]) - lowest <= span);
    return within;
}

// Positions a band walk judges at once from the counts at their ends, before it walks them one
// by one.
constexpr int kJudgedChunk = 32;

// In-band count of the positions of one block, the count of the block's first position being
// fewest + (that position counted or not). Chunks of positions are judged from the counts at
// their ends; positions of unsure chunks one by one, and only those that stay unsure are
// evaluated exactly, with the exact evaluator brought up to date lazily.
template <typename Exact>
std::int64_t countBlockInBand(const ClassIndex& sequence, int block, int lowest, int highest,
                              std::int32_t fewest, const Band& band, bool complement,
                              Exact& exact) {
    const int lo = block * sequence.blockSize + 1;
    const int hi = std::min(lo + sequence.blockSize - 1, sequence.n);
    pollInterrupt(hi - lo + 1);
    const std::int32_t* labels = sequence.label.data();
    const auto first = static_cast<std::uint32_t>(lowest);
    const auto span = static_cast<std::uint32_t>(highest - lowest);
    const auto counted = [&](int i) { return labelsWithin(labels, i - 1, i, first, span) != 0; };
    int synced = -1;  // the exact evaluator has taken the positions lo..synced (-1: not entered)
    const auto exactAt = [&](int i, std::int32_t count) {
        if (synced < 0) {
            exact.enter(block);
            synced = lo - 1;
        }
        for (; synced < i; ++synced) {
            const int c = sequence.label[static_cast<std::size_t>(synced)];
            if (lowest <= c && c <= highest) exact.take(c);
        }
        return exact.value(i, count);
    };

    std::int64_t inside = 0;
    std::int32_t count = fewest;
    for (int start = lo; start <= hi; start += kJudgedChunk) {
        const int stop = std::min(start + kJudgedChunk - 1, hi);
        // A block of one chunk comes here only when its own span was judged unsure: judging
        // the chunk again would give the same.
        if (start != lo || stop != hi) {
            // A full chunk's fixed length lets the compiler unroll its count completely.
            const std::int32_t added =
                stop - start + 1 == kJudgedChunk
                    ? labelsWithin(labels, start - 1, start - 1 + kJudgedChunk, first, span)
                    : labelsWithin(labels, start - 1, stop, first, span);
            const Band::Verdict chunk =
                judgeSpan(band, count, count + added, start, stop, complement);
            if (chunk != Band::Verdict::Unsure) {
                if (chunk == Band::Verdict::Inside) inside += stop - start + 1;
                count += added;
                continue;
            }
        }
        const auto judged = [&](int i, Band::Verdict verdict) {
            const double m = static_cast<double>(complement ? i - count : count);
            if (verdict == Band::Verdict::Unsure) verdict = band.judgeAt(m, i, inverseRoot(i));
            return verdict == Band::Verdict::Inside ||
                   (verdict == Band::Verdict::Unsure && band.contains(exactAt(i, count), i));
        };
        if (stop < kTabledRoots) {
            // Tabled roots cost a load: every position is judged with its own.
            for (int i = start; i <= stop; ++i) {
                if (counted(i)) ++count;
                if (judged(i, Band::Verdict::Unsure)) ++inside;
            }
            continue;
        }
        // The roots at the chunk's ends bound every root within it, so most positions are
        // judged without one of their own.
        const double rootStart = inverseRoot(start);
        const double rootStop = inverseRoot(stop);
        for (int i = start; i <= stop; ++i) {
            if (counted(i)) ++count;
            const double m = static_cast<double>(complement ? i - count : count);
            if (judged(i, band.judgeAtWithin(m, i, rootStop, rootStart))) ++inside;
        }
    }
    return inside;
}

// Room for `count` elements, on the stack while they are few: short windows make many band
// tests, and a heap allocation would be a good part of each. Elements are left unset.
template <typename T, std::size_t kLocal>
class ScratchArray {
public:
    explicit ScratchArray(std::size_t count)
        : heap_(count > kLocal ? std::make_unique<T[]>(count) : nullptr),
          data_(heap_ ? heap_.get() : local_) {}
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;

    T& operator[](std::size_t k) { return data_[k]; }

private:
    T local_[kLocal];
    std::unique_ptr<T[]> heap_;
    T* data_;
};

// Blocks first .. end-1 of a sequence, with the counts before and after them. Made unset, so
// that room for many costs nothing until it is written.
struct BlockRun {
    BlockRun() {}
    BlockRun(int first, int end, std::int32_t fewest, std::int32_t most)
        : first(first), end(end), fewest(fewest), most(most) {}

    int first;
    int end;
    std::int32_t fewest;
    std::int32_t most;
};

// A block left unsure, with the count before it. Made unset, as a BlockRun.
struct UnsureBlock {
    UnsureBlock() {}
    UnsureBlock(int block, std::int32_t fewest) : block(block), fewest(fewest) {}

    int block;
    std::int32_t fewest;
};

// In-band count of a running proportion over a classified sequence: element i is
// (positions among the first i whose class lies in lowest..highest) / i, or one minus that for
// the complement, up to the rounding that the exact evaluator reproduces; the index gives that
// count before every block boundary. Runs of blocks whose range of elements lies clearly inside
// or outside the band are decided at once; blocks that stay unsure are walked position by
// position.
//
// Exact interface (a template parameter, no virtual calls):
//   void enter(int block);                     state before the block's first position
//   void take(int c);                          a counted position, of class c
//   double value(int i, std::int32_t count);   element i, as the definition computes it
template <typename Exact>
std::int64_t countInBlocks(const ClassIndex& sequence, int lowest, int highest, const Band& band,
                           bool complement, const BandGoal& goal, Exact& exact) {
    const int n = sequence.n;
    const int B = sequence.blockSize;
    // Counted as if every block were judged: a test costs at most about that.
    pollInterrupt(sequence.blocks);
    std::int64_t inside = 0;
    // Runs of blocks are judged from the counts at their ends and halved while unsure, the
    // coarsest first: a verdict often follows from a few long runs, wherever they lie. Blocks
    // that stay unsure are walked last, and only as far as the verdict still needs them.
    std::int64_t decided = 0;
    const auto reached = [&](int lo, int hi) {
        decided += hi - lo + 1;
        return inside >= goal.reach || inside + (n - decided) < goal.atLeast;
    };
    // Halving never makes twice as many runs as blocks: room for all of them at once,
    // left unset, is cheaper than a growing list for the many tests that stop after a few runs.
    constexpr std::size_t kLocalBlocks = 64;
    const auto blocks = static_cast<std::size_t>(sequence.blocks);
    ScratchArray<BlockRun, 2 * kLocalBlocks + 1> runs(2 * blocks + 1);
    std::size_t made = 0;
    runs[made++] = BlockRun(0, sequence.blocks, sequence.rangeBefore(lowest, highest, 0),
                            sequence.rangeBefore(lowest, highest, sequence.blocks));
    ScratchArray<UnsureBlock, kLocalBlocks> unsure(blocks);
    std::size_t unsureCount = 0;
    for (std::size_t next = 0; next < made; ++next) {
        const auto [first, end, fewest, most] = runs[next];
        const int lo = first * B + 1;  // 1-based positions lo..hi
        const int hi = std::min(end * B, n);
        switch (judgeSpan(band, fewest, most, lo, hi, complement)) {
            case Band::Verdict::Inside:
                inside += hi - lo + 1;
                break;
            case Band::Verdict::Outside:
                break;
            case Band::Verdict::Unsure:
                if (end - first > 1) {
                    // The halves share the count at their common end.
                    const int middle = first + (end - first) / 2;
                    const std::int32_t before = sequence.rangeBefore(lowest, highest, middle);
                    runs[made++] = BlockRun(first, middle, fewest, before);
                    runs[made++] = BlockRun(middle, end, before, most);
                } else {
                    unsure[unsureCount++] = UnsureBlock(first, fewest);
                }
                continue;
        }
        if (reached(lo, hi)) return inside;
    }
    // The latest first: in measurements that settled verdicts with fewer walks than the earliest.
    for (std::size_t next = unsureCount; next-- > 0;) {
        const auto [block, fewest] = unsure[next];
        inside +=
            countBlockInBand(sequence, block, lowest, highest, fewest, band, complement, exact);
        const int lo = block * B + 1;
        if (reached(lo, std::min(lo + B - 1, n))) return inside;
    }
    return inside;
}

}  // namespace quorvel
