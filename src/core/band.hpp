// The band around the last element c of a running sequence v_1..v_n: the sequence lies inside
// its band at position i when
//     c - z*sqrt(c(1-c)/i) <= v_i <= z*sqrt(c(1-c)/i) + c,   c = v_n,
// evaluated in double precision exactly as written. Where the sequence is known to stay within
// a range of values over a stretch of positions, the whole stretch is decided at once when that
// range lies clearly inside or clearly outside the band, with a margin that covers every
// rounding of the exact evaluation. Only positions within that margin of a band edge are
// evaluated exactly, with the same operations as the definition.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

namespace quorvel {

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

// Verdicts on series judged together over the same positions, a bit per series: series 0 is a
// running share, series 1 (where there is one) its complement.
struct BandVerdicts {
    unsigned inside = 0;
    unsigned outside = 0;

    // The series of `open` that neither verdict settles.
    unsigned unsure(unsigned open) const { return open & ~(inside | outside); }
};

// Where the series of `open` stand over positions first..last while the share's count grows from
// `fewest` (before first) to `most` (at last), given rootLast ~ 1/sqrt(last) and rootFirst at
// least about 1/sqrt(first) (a larger one only widens the band that "outside" must clear). The
// complement's range is one minus the share's. Declared inline, which a template need not be,
// for the compiler's sake: without it the stretch probes called it, at 3-5% of NSdichotomy.
template <std::size_t kSeries>
inline BandVerdicts judgeShares(const std::array<Band, kSeries>& bands, std::int32_t first,
                                std::int32_t last, std::int32_t fewest, std::int32_t most,
                                double rootFirst, double rootLast, unsigned open) {
    const auto [least, greatest] = runningShareRange(fewest, most, first, last);
    BandVerdicts verdicts;
    for (std::size_t k = 0; k < kSeries; ++k) {
        if ((open >> k & 1U) == 0) continue;
        const double low = k == 1 ? 1.0 - greatest : least;
        const double high = k == 1 ? 1.0 - least : greatest;
        switch (bands[k].judge(low, high, rootFirst, rootLast)) {
            case Band::Verdict::Inside:
                verdicts.inside |= 1U << k;
                break;
            case Band::Verdict::Outside:
                verdicts.outside |= 1U << k;
                break;
            case Band::Verdict::Unsure:
                break;
        }
    }
    return verdicts;
}

}  // namespace quorvel
