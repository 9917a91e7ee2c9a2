// The band test of a classified sequence's running share, decided block by block: runs of blocks
// whose shares lie clearly inside or outside the band at once, the blocks left unsure by a walk
// of their labels.
#pragma once

#include "band.hpp"
#include "band_walk.hpp"
#include "class_index.hpp"
#include "interrupt.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

namespace quorvel {

// When to stop counting early: once the count reaches `reach`, or once it can no longer reach
// `atLeast` with the positions left. The defaults count every position.
struct BandGoal {
    std::int64_t reach = std::numeric_limits<std::int64_t>::max();
    std::int64_t atLeast = 0;
};

// The least in-band count whose fraction count/n passes `threshold` (n + 1 when none does).
std::int64_t passingCount(int n, double threshold);

// The least count whose fraction count/n exceeds `threshold` strictly (n + 1 when none does).
std::int64_t exceedingCount(int n, double threshold);

// Goal for a pass/fail verdict against `threshold`.
inline BandGoal verdictGoal(int n, double threshold) {
    const std::int64_t needed = passingCount(n, threshold);
    return BandGoal{needed, needed};
}

// In-band count of the positions of one block, the count before the block being `fewest`.
template <typename Exact>
std::int64_t countBlockInBand(const ClassIndex& sequence, int block, int lowest, int highest,
                              std::int32_t fewest, const std::array<Band, 1>& band, Exact& exact) {
    const int begin = block * sequence.blockSize;
    const int end = std::min(begin + sequence.blockSize, sequence.n);
    pollInterrupt(end - begin);
    BandWalk<1, true, Exact> walk(sequence.label.data(), lowest, highest, highest, band, exact);
    WalkTally<1> tally{begin, fewest, {}, begin, kNoStop<1>};
    walk.walkUnsure(begin, end, 1U, tally);
    return tally.inside[0];
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
// (positions among the first i whose class lies in lowest..highest) / i, up to the rounding that
// the exact evaluator (as BandWalk's) reproduces; the index gives that count before every block
// boundary. Runs of blocks whose range of elements lies clearly inside or outside the band are
// decided at once; blocks that stay unsure are walked.
template <typename Exact>
std::int64_t countInBlocks(const ClassIndex& sequence, int lowest, int highest, const Band& band,
                           const BandGoal& goal, Exact& exact) {
    const std::array<Band, 1> bands{band};
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
        const BandVerdicts verdicts =
            judgeShares(bands, lo, hi, fewest, most, inverseRoot(lo), inverseRoot(hi), 1U);
        if (verdicts.inside != 0) inside += hi - lo + 1;
        if (verdicts.unsure(1U) != 0) {
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
        inside += countBlockInBand(sequence, block, lowest, highest, fewest, bands, exact);
        const int lo = block * B + 1;
        if (reached(lo, std::min(lo + B - 1, n))) return inside;
    }
    return inside;
}

}  // namespace quorvel
