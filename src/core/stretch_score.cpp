#include "stretch_score.hpp"

#include "band_count.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace quorvel {

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

    // The series whose band block j does not settle, the counts before and after it being
    // `fewest` and `most`; the others are settled into the tallies when `settle` is set. The
    // running element lies within the corners fewest/last and most/first of the block.
    unsigned judgeBlock(int j, std::int32_t fewest, std::int32_t most, bool settle) {
        const std::int32_t first = scorer_.position_[static_cast<std::size_t>(j)] + 1;
        const std::int32_t last = scorer_.position_[static_cast<std::size_t>(j) + 1];
        const double a = static_cast<double>(fewest) / static_cast<double>(last);
        const double b = static_cast<double>(most) / static_cast<double>(first);
        unsigned unsure = 0;
        for (int k = 0; k < 2; ++k) {
            const double x = k == 1 ? 1.0 - a : a;
            const double y = k == 1 ? 1.0 - b : b;
            switch (bands_[k].judge(std::min(x, y), std::max(x, y),
                                    scorer_.rootFirst_[static_cast<std::size_t>(j)],
                                    scorer_.rootLast_[static_cast<std::size_t>(j)])) {
                case Band::Verdict::Inside:
                    if (settle) inside_[k] += last - first + 1;
                    break;
                case Band::Verdict::Outside:
                    outside_[k] += last - first + 1;
                    break;
                case Band::Verdict::Unsure:
                    unsure |= 1U << k;
                    break;
            }
        }
        return unsure;
    }

    // The positions of source block j for the series in `open`, the stretch's count before the
    // block being `count`.
    void countBlock(int j, unsigned open, std::int32_t count) {
        constexpr int kChunk = 32;
        const ClassIndex& source = *scorer_.stretch_.source;
        const int begin = j * source.blockSize;
        const std::int32_t start = scorer_.position_[static_cast<std::size_t>(j)];
        Walk walk{start, count, {}};
        countLabels(begin, std::min(begin + source.blockSize, source.n), kChunk, open, walk);
        for (int k = 0; k < 2; ++k) {
            if ((open >> k & 1U) == 0) continue;
            inside_[k] += walk.inside[k];
            outside_[k] += walk.position - start - walk.inside[k];
        }
    }

    std::int64_t mostOutside() const { return std::max(outside_[0], outside_[1]); }
    std::int64_t leastInside() const { return std::min(inside_[0], inside_[1]); }

private:
    // The stretch's position and count after the labels walked so far, and the positions found
    // inside each band.
    struct Walk {
        std::int32_t position;
        std::int32_t count;
        std::array<std::int64_t, 2> inside;
    };

    // The labels from..to-1 of the source for the series in `open`, in chunks of `width`. A
    // chunk is judged from the counts at its ends; an unsure one in chunks a quarter as wide,
    // and below that position by position, exactly where still unsure.
    void countLabels(int from, int to, int width, unsigned open, Walk& walk) const {
        constexpr int kNarrowest = 8;
        const std::int32_t* labels = scorer_.stretch_.source->label.data();
        // One unsigned comparison per label and range, so the chunk counts vectorise.
        const auto lowest = static_cast<std::uint32_t>(scorer_.stretch_.first);
        const auto memberSpan =
            static_cast<std::uint32_t>(scorer_.stretch_.last - scorer_.stretch_.first);
        const auto countedSpan = static_cast<std::uint32_t>(q_ - scorer_.stretch_.first);
        for (int chunk = from; chunk < to; chunk += width) {
            const int end = std::min(chunk + width, to);
            std::int32_t members = 0;
            std::int32_t counted = 0;
            for (int i = chunk; i < end; ++i) {
                const std::uint32_t offset = static_cast<std::uint32_t>(labels[i]) - lowest;
                members += static_cast<std::int32_t>(offset <= memberSpan);
                counted += static_cast<std::int32_t>(offset <= countedSpan);
            }
            if (members == 0) continue;
            unsigned unsure = 0;
            for (int k = 0; k < 2; ++k) {
                if ((open >> k & 1U) == 0) continue;
                const Band::Verdict verdict =
                    judgeSpan(bands_[k], walk.count, walk.count + counted, walk.position + 1,
                              walk.position + members, k == 1, *scorer_.roots_);
                if (verdict == Band::Verdict::Inside) walk.inside[k] += members;
                if (verdict == Band::Verdict::Unsure) unsure |= 1U << k;
            }
            if (unsure == 0) {
                walk.position += members;
                walk.count += counted;
            } else if (width > kNarrowest) {
                countLabels(chunk, end, width / 4, unsure, walk);
            } else {
                for (int i = chunk; i < end; ++i) {
                    const std::uint32_t offset = static_cast<std::uint32_t>(labels[i]) - lowest;
                    if (offset > memberSpan) continue;
                    ++walk.position;
                    if (offset <= countedSpan) ++walk.count;
                    for (int k = 0; k < 2; ++k)
                        if ((unsure >> k & 1U) != 0 && inBand(k, walk.position, walk.count))
                            ++walk.inside[k];
                }
            }
        }
    }

    double share() const {
        const StretchView& stretch = scorer_.stretch_;
        return static_cast<double>(stretch.source->rangeCount(stretch.first, q_)) /
               static_cast<double>(scorer_.n_);
    }
    static Band band(double c, double z) {
        return Band(c, z, 2.0 * std::numeric_limits<double>::epsilon());
    }

    // Whether element t of series k, whose count of classes first..q is `count`, lies in its
    // band; exactly as the band test evaluates it where the judgement is unsure.
    bool inBand(int k, std::int32_t t, std::int32_t count) const {
        const Band& band = bands_[k];
        const double m = static_cast<double>(k == 1 ? t - count : count);
        const Band::Verdict verdict =
            band.judgeAt(m, t, (*scorer_.roots_)[static_cast<std::size_t>(t)]);
        if (verdict != Band::Verdict::Unsure) return verdict == Band::Verdict::Inside;
        const double p = static_cast<double>(count) / static_cast<double>(t);
        return band.contains(k == 1 ? 1.0 - p : p, t);
    }

    const StretchScorer& scorer_;
    int q_;
    std::array<Band, 2> bands_;
    std::array<std::int64_t, 2> inside_{};
    std::array<std::int64_t, 2> outside_{};
};

StretchScorer::StretchScorer(const StretchView& stretch, const std::vector<double>& inverseRoots,
                             double z)
    : stretch_(stretch), roots_(&inverseRoots), z_(z), n_(stretch.size()) {
    const int blocks = stretch.source->blocks;
    position_.resize(static_cast<std::size_t>(blocks) + 1);
    rootFirst_.resize(static_cast<std::size_t>(blocks));
    rootLast_.resize(static_cast<std::size_t>(blocks));
    for (int j = 0; j <= blocks; ++j) position_[static_cast<std::size_t>(j)] = stretch.before(j);
    for (std::size_t j = 0; j < rootFirst_.size(); ++j) {
        rootFirst_[j] = inverseRoots[static_cast<std::size_t>(position_[j]) + 1];
        rootLast_[j] = inverseRoots[static_cast<std::size_t>(position_[j + 1])];
    }
}

std::int64_t StretchScorer::settledCount(int q, std::int64_t atLeast) {
    Boundary boundary(*this, q);
    const int blocks = stretch_.source->blocks;
    const auto empty = [&](int j) {
        return position_[static_cast<std::size_t>(j) + 1] == position_[static_cast<std::size_t>(j)];
    };
    // Either count falls short of atLeast once more positions than this lie outside its band.
    const std::int64_t allowed = n_ - atLeast;
    if (atLeast > 0) {
        // A boundary far from the best usually shows it in a few blocks, tried before the walk:
        // the block that showed it for the previous boundary, then blocks spread over the source.
        Boundary probe(*this, q);
        constexpr int kProbes = 16;
        for (int p = -1; p < kProbes && p < blocks; ++p) {
            int j = lastOutside_;
            if (p >= 0) {
                // Bit-reversed order, so that every prefix of the probes is spread out.
                int spread = 0;
                for (int bit = 1, rest = p; bit < kProbes; bit <<= 1, rest >>= 1)
                    spread = spread << 1 | (rest & 1);
                j = static_cast<int>((2 * static_cast<std::int64_t>(spread) + 1) * blocks /
                                     (2 * kProbes));
            }
            if (j >= blocks || empty(j)) continue;
            probe.judgeBlock(j, probe.countedBefore(j), probe.countedBefore(j + 1), false);
            if (probe.mostOutside() > allowed) {
                lastOutside_ = j;
                return n_ - probe.mostOutside();
            }
        }
    }
    std::int32_t fewest = 0;
    for (int j = 0; j < blocks; ++j) {
        const std::int32_t most = boundary.countedBefore(j + 1);
        if (!empty(j)) {
            const unsigned unsure = boundary.judgeBlock(j, fewest, most, true);
            if (unsure != 0) boundary.countBlock(j, unsure, fewest);
            if (boundary.mostOutside() > allowed) {
                lastOutside_ = j;
                return n_ - boundary.mostOutside();
            }
        }
        fewest = most;
    }
    return boundary.leastInside();
}

}  // namespace quorvel
