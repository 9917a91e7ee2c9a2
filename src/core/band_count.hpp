// The band test evaluated stretch by stretch instead of position by position.
//
// A running sequence v_1..v_n lies inside its band at position i when
//     c - z*sqrt(c(1-c)/i) <= v_i <= z*sqrt(c(1-c)/i) + c,   c = v_n,
// evaluated in double precision exactly as written. Where the sequence is known to stay within
// a range of values over a stretch of positions, the whole stretch is decided at once when that
// range lies clearly inside or clearly outside the band, with a margin that covers every
// rounding of the exact evaluation. Only positions within that margin of a band edge are
// evaluated exactly, with the same operations as the definition.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quorvel {

// When to stop counting early: once the count reaches `reach`, or once it can no longer reach
// `atLeast` with the positions left. The defaults count every position.
struct BandGoal {
    std::int64_t reach = std::numeric_limits<std::int64_t>::max();
    std::int64_t atLeast = 0;
};

struct BandCount {
    std::int64_t inside = 0;
    bool complete = true;  // false when the goal stopped the count early
};

// The least in-band count whose fraction count/n passes `threshold` (n + 1 when none does).
std::int64_t passingCount(int n, double threshold);

// Goal for a pass/fail verdict against `threshold`.
inline BandGoal verdictGoal(int n, double threshold) {
    const std::int64_t needed = passingCount(n, threshold);
    return BandGoal{needed, needed};
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
          margin_(4.0 * (slack + 16.0 * std::numeric_limits<double>::epsilon()) *
                  (1.0 + (judged_ ? z : 0.0))) {}

    // The definition itself, for the element v at position i.
    bool contains(double v, int i) const {
        const double half = z_ * std::sqrt(f_ / static_cast<double>(i));
        const double lower = c_ - half;
        const double upper = half + c_;
        return v >= lower && upper >= v;
    }

    // Where elements lying within [least, most] at positions lo..hi all stand.
    Verdict judge(double least, double most, int lo, int hi) const {
        if (!judged_) return Verdict::Unsure;
        const double farthest = std::max(most - c_, c_ - least);
        const double nearest = least <= c_ && c_ <= most
                                   ? 0.0
                                   : std::min(std::fabs(least - c_), std::fabs(most - c_));
        if (farthest <= z_ * std::sqrt(f_ / static_cast<double>(hi)) - margin_)
            return Verdict::Inside;
        if (nearest >= z_ * std::sqrt(f_ / static_cast<double>(lo)) + margin_)
            return Verdict::Outside;
        return Verdict::Unsure;
    }

private:
    double c_;
    double f_;
    double z_;
    bool judged_;
    double margin_;
};

// Counts in-band positions of a sequence given by its events, positions where its state
// changes; between two events its elements follow a closed form that is monotone in the
// position. Series interface (a template parameter, no virtual calls):
//   int length() const;                 n
//   double last() const;                the exact last element c
//   double slack() const;               bound on |exact(i) - approx(i)|, plus a few ulps
//   void restart();                     state before position 1
//   bool next(int& p);                  the 1-based position of the next event, ascending;
//                                       false after the last one
//   void advance();                     take the event found by next() into the state
//   double approx(int i) const;         the closed form at i for the current state
//   double exact(int i) const;          v_i for the current state, as the definition computes it
template <typename Series>
BandCount countInBand(Series& series, double z, const BandGoal& goal) {
    const int n = series.length();
    const Band band(series.last(), z, series.slack());
    BandCount result;
    std::int64_t decided = 0;
    std::vector<std::pair<int, int>> pending;
    const auto countRun = [&](int a, int b) {
        pending.assign(1, {a, b});
        while (!pending.empty()) {
            const auto [lo, hi] = pending.back();
            pending.pop_back();
            const double xa = series.approx(lo);
            const double xb = series.approx(hi);
            const Band::Verdict verdict = band.judge(std::min(xa, xb), std::max(xa, xb), lo, hi);
            if (verdict == Band::Verdict::Inside) {
                result.inside += hi - lo + 1;
            } else if (verdict == Band::Verdict::Unsure && hi - lo >= 8) {
                const int mid = lo + (hi - lo) / 2;
                pending.push_back({mid + 1, hi});
                pending.push_back({lo, mid});
            } else if (verdict == Band::Verdict::Unsure) {
                for (int i = lo; i <= hi; ++i) result.inside += band.contains(series.exact(i), i) ? 1 : 0;
            }
        }
        decided += b - a + 1;
    };
    const auto goalReached = [&] {
        return result.inside >= goal.reach || result.inside + (n - decided) < goal.atLeast;
    };

    series.restart();
    int position = 1;
    int p = 0;
    while (series.next(p)) {
        if (p > position) {
            countRun(position, p - 1);
            if (goalReached()) {
                result.complete = false;
                return result;
            }
        }
        series.advance();
        position = p;
    }
    countRun(position, n);
    return result;
}

}  // namespace quorvel
