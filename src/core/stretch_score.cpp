#include "stretch_score.hpp"

#include "band.hpp"
#include "band_walk.hpp"
#include "interrupt.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

namespace quorvel {

// The running share of classes first..q among the stretch's values, exactly as the band test
// evaluates it, and its complement.
struct ShareOfCount {
    double value(std::size_t k, int, std::int32_t position, std::int32_t count) const {
        const double p = static_cast<double>(count) / static_cast<double>(position);
        return k == 1 ? 1.0 - p : p;
    }
};

// Series 0 is the running share, series 1 its complement; a mask bit per series still open.
class StretchScorer::Boundary {
public:
    Boundary(const StretchScorer& scorer, int q)
        : scorer_(scorer),
          q_(q),
          bands_{band(share(), scorer.z_), band(1.0 - share(), scorer.z_)} {}

    std::int32_t countedBefore(int j) const {
        return scorer_.stretch_.source->rangeBefore(scorer_.stretch_.first, q_, j);
    }

    // Where the positions of blocks j..end-1 (at least one) stand, the counts before and after
    // them being `fewest` and `most`. The root before the first position bounds the roots of
    // all of them from above.
    BandVerdicts judgeBlocks(int j, int end, std::int32_t fewest, std::int32_t most) const {
        return judgeShares(bands_, scorer_.position_[static_cast<std::size_t>(j)] + 1,
                           scorer_.position_[static_cast<std::size_t>(end)], fewest, most,
                           scorer_.rootAt_[static_cast<std::size_t>(j)],
                           scorer_.rootAt_[static_cast<std::size_t>(end)], 3U);
    }

    // Adds `positions` to the tallies of the series settled outside, and of those settled inside
    // when `inside` is set.
    void settle(const BandVerdicts& verdicts, std::int32_t positions, bool inside) {
        for (int k = 0; k < 2; ++k) {
            if (inside && (verdicts.inside >> k & 1U) != 0) inside_[k] += positions;
            if ((verdicts.outside >> k & 1U) != 0) outside_[k] += positions;
        }
    }

    // The positions of source block j for the series in `open`, judged unsure together, the
    // stretch's count before the block being `count`. Stops partway once a series has more than
    // `allowed` positions outside its band.
    void walkBlock(int j, unsigned open, std::int32_t count, std::int64_t allowed) {
        const StretchView& stretch = scorer_.stretch_;
        const ClassIndex& source = *stretch.source;
        const int begin = j * source.blockSize;
        pollInterrupt(source.blockSize);
        const std::int32_t start = scorer_.position_[static_cast<std::size_t>(j)];
        ShareOfCount exact;
        BandWalk<2, false, ShareOfCount> walk(source.label.data(), stretch.first, stretch.last, q_,
                                              bands_, exact);
        WalkTally<2> tally{start, count, {}, start, {allowed - outside_[0], allowed - outside_[1]}};
        walk.walkUnsure(begin, std::min(begin + source.blockSize, source.n), open, tally);
        for (int k = 0; k < 2; ++k) {
            if ((open >> k & 1U) == 0) continue;
            inside_[k] += tally.inside[k];
            outside_[k] += tally.position - start - tally.inside[k];
        }
    }

    // Forgets the positions tallied so far.
    void restart() {
        inside_ = {};
        outside_ = {};
    }

    std::int64_t mostOutside() const { return std::max(outside_[0], outside_[1]); }
    std::int64_t leastInside() const { return std::min(inside_[0], inside_[1]); }

private:
    double share() const {
        const StretchView& stretch = scorer_.stretch_;
        return static_cast<double>(stretch.source->rangeCount(stretch.first, q_)) /
               static_cast<double>(scorer_.n_);
    }
    static Band band(double c, double z) {
        return Band(c, z, 2.0 * std::numeric_limits<double>::epsilon());
    }

    const StretchScorer& scorer_;
    int q_;
    std::array<Band, 2> bands_;
    std::array<std::int64_t, 2> inside_{};
    std::array<std::int64_t, 2> outside_{};
};

StretchScorer::StretchScorer(const StretchView& stretch, double z, std::vector<double>& strayAt)
    : stretch_(stretch), z_(z), n_(stretch.size()), strayAt_(&strayAt) {
    const int blocks = stretch.source->blocks;
    position_.resize(static_cast<std::size_t>(blocks) + 1);
    rootAt_.resize(static_cast<std::size_t>(blocks) + 1);
    probedIn_.assign(static_cast<std::size_t>(blocks), 0);
    for (int j = 0; j <= blocks; ++j) position_[static_cast<std::size_t>(j)] = stretch.before(j);
    for (std::size_t j = 0; j < rootAt_.size(); ++j)
        rootAt_[j] = inverseRoot(std::max(position_[j], std::int32_t{1}));
}

int StretchScorer::blockAt(double fraction) const {
    const auto t = static_cast<std::int32_t>(
        std::clamp(fraction * static_cast<double>(n_), 1.0, static_cast<double>(n_)));
    // The last block boundary with fewer than t values before it.
    const auto after = std::lower_bound(position_.begin(), position_.end(), t);
    return static_cast<int>(after - position_.begin()) - 1;
}

std::int64_t StretchScorer::outOfReach(int q, int j, std::int64_t mostOutside) {
    lastOutside_ = j;
    const std::size_t at = static_cast<std::size_t>(j);
    (*strayAt_)[static_cast<std::size_t>(q)] =
        0.5 * static_cast<double>(position_[at] + position_[at + 1]) / static_cast<double>(n_);
    return n_ - mostOutside;
}

// The phases of settledCount are inline, as its one caller is: calls of their own cost the
// scores of short stretches several per cent in measurements.
inline bool StretchScorer::empty(int j) const {
    return position_[static_cast<std::size_t>(j) + 1] == position_[static_cast<std::size_t>(j)];
}

inline BandVerdicts StretchScorer::judgeWhole(Boundary& boundary, int j) {
    probedIn_[static_cast<std::size_t>(j)] = probeRound_;
    const BandVerdicts verdicts =
        boundary.judgeBlocks(j, j + 1, boundary.countedBefore(j), boundary.countedBefore(j + 1));
    boundary.settle(
        verdicts,
        position_[static_cast<std::size_t>(j) + 1] - position_[static_cast<std::size_t>(j)], false);
    return verdicts;
}

std::int64_t StretchScorer::settledCount(int q, std::int64_t atLeast) {
    // With no value of the stretch on one side of q (coinciding boundaries leave empty classes
    // there), both series are exactly their last element c throughout, and the band around c has
    // the same zero half-width z*sqrt(0/i) at every position: one evaluation decides them all.
    const std::int32_t counted = stretch_.source->rangeCount(stretch_.first, q);
    if (counted == 0 || counted == n_) {
        const double c = counted == 0 ? 0.0 : 1.0;
        return Band(c, z_, 0.0).contains(c, 1) ? n_ : 0;
    }
    Boundary boundary(*this, q);
    // Counted as if every block were judged: a score costs at most about that, walks aside.
    pollInterrupt(stretch_.source->blocks);
    // Either count falls short of atLeast once more positions than this lie outside its band.
    const std::int64_t allowed = n_ - atLeast;
    if (atLeast > 0) {
        ++probeRound_;
        if (const std::optional<std::int64_t> short_ = probeStrayed(boundary, q, allowed))
            return *short_;
        if (const std::optional<std::int64_t> short_ = probeSpread(boundary, q, allowed))
            return *short_;
    }
    return countRuns(boundary, q, allowed);
}

inline std::optional<std::int64_t> StretchScorer::probeStrayed(Boundary& boundary, int q,
                                                               std::int64_t allowed) {
    // The block where this boundary strayed before, then, on a source of many blocks, the one
    // where the boundary scored before it strayed (neighbouring shares differ by a class), each
    // walked where judging it whole is unsure: its values often settle just short of the band
    // there. On a few blocks the second probe costs more than the count it may spare.
    constexpr int kNeighbourProbeBlocks = 256;
    const double strayed = (*strayAt_)[static_cast<std::size_t>(q)];
    const int own = strayed < 0.0 ? -1 : blockAt(strayed);
    const int neighbours = stretch_.source->blocks >= kNeighbourProbeBlocks ? lastOutside_ : -1;
    for (const int j : {own, neighbours}) {
        if (j < 0 || empty(j) || probedIn_[static_cast<std::size_t>(j)] == probeRound_) continue;
        const BandVerdicts verdicts = judgeWhole(boundary, j);
        const unsigned unsure = verdicts.unsure(3U);
        if (unsure != 0 && boundary.mostOutside() <= allowed)
            boundary.walkBlock(j, unsure, boundary.countedBefore(j), allowed);
        if (boundary.mostOutside() > allowed) return outOfReach(q, j, boundary.mostOutside());
    }
    return std::nullopt;
}

inline std::optional<std::int64_t> StretchScorer::probeSpread(Boundary& boundary, int q,
                                                              std::int64_t allowed) {
    // A boundary far from the best usually shows it in blocks lying wholly outside a band,
    // found by judging whole blocks before any is walked: first the block that showed it for
    // the previous boundary, then blocks in bit-reversed order, so that the blocks judged so
    // far are spread over the source, each followed by the blocks after it while they lie
    // outside too (the running share strays for long stretches). The probing goes on while the
    // blocks found outside, in proportion, would suffice.
    constexpr int kProbes = 16;
    const int blocks = stretch_.source->blocks;
    int bits = 0;
    while ((1 << bits) < blocks) ++bits;
    int probes = 0;
    // Judges block j unless judged already in this round; whether it lay outside.
    const auto outside = [&](int j) {
        if (probedIn_[static_cast<std::size_t>(j)] == probeRound_ || empty(j)) return false;
        ++probes;
        return judgeWhole(boundary, j).outside != 0;
    };
    // What the probes of whole blocks have to find, the walked block aside.
    const std::int64_t walked = boundary.mostOutside();
    for (int p = -1; p < (1 << bits); ++p) {
        int j = lastOutside_;
        if (p >= 0) {
            j = 0;
            for (int bit = 0; bit < bits; ++bit) j = j << 1 | (p >> bit & 1);
        }
        if (j >= blocks) continue;
        while (j < blocks && outside(j) && boundary.mostOutside() <= allowed) ++j;
        if (boundary.mostOutside() > allowed)
            return outOfReach(q, std::min(j, blocks - 1), boundary.mostOutside());
        if (probes >= kProbes &&
            (boundary.mostOutside() - walked) * blocks <= (allowed - walked) * probes)
            break;
    }
    return std::nullopt;
}

inline std::int64_t StretchScorer::countRuns(Boundary& boundary, int q, std::int64_t allowed) {
    // Blocks that settle whole suggest that their neighbours do too: runs of blocks are judged
    // at once, doubling while they settle, and single blocks again from the first that does not.
    boundary.restart();
    constexpr int kLongestRun = 64;
    const int blocks = stretch_.source->blocks;
    int run = 1;
    std::int32_t fewest = 0;
    for (int j = 0; j < blocks;) {
        const int end = std::min(j + run, blocks);
        const std::int32_t most = boundary.countedBefore(end);
        const std::int32_t positions =
            position_[static_cast<std::size_t>(end)] - position_[static_cast<std::size_t>(j)];
        if (positions != 0) {
            const BandVerdicts verdicts = boundary.judgeBlocks(j, end, fewest, most);
            const unsigned unsure = verdicts.unsure(3U);
            if (unsure != 0 && end - j > 1) {
                run = 1;
                continue;
            }
            boundary.settle(verdicts, positions, true);
            if (unsure != 0) boundary.walkBlock(j, unsure, fewest, allowed);
            run = unsure == 0 ? std::min(2 * run, kLongestRun) : 1;
            if (boundary.mostOutside() > allowed) return outOfReach(q, j, boundary.mostOutside());
        }
        j = end;
        fewest = most;
    }
    return boundary.leastInside();
}

}  // namespace quorvel
