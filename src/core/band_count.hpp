// The band test evaluated stretch by stretch instead of position by position.
//
// A running sequence v_1..v_n lies inside its band at position i when
//     c - z*sqrt(c(1-c)/i) <= v_i <= z*sqrt(c(1-c)/i) + c,   c = v_n,
// evaluated in double precision exactly as written. Between two events (positions where the
// sequence's counts change) v_i follows a closed form that is monotone in i, so a whole run of
// positions is decided at once when it lies clearly inside or clearly outside the band, with a
// margin that covers every rounding of the exact evaluation. Only positions within that margin of
// a band edge are evaluated exactly, with the same operations as the definition.
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

// Series interface (a template parameter, no virtual calls):
//   int length() const;                 n
//   double last() const;                the exact last element c
//   double slack() const;               bound on |exact(i) - x(i)| for the real closed form x
//   void restart();                     state before position 1
//   bool next(int& p);                  the 1-based position of the next event, ascending;
//                                       false after the last one
//   void advance();                     take the event found by next() into the state
//   double approx(int i) const;         x(i) for the current state, to within a few ulps
//   double exact(int i) const;          v_i for the current state, as the definition computes it
template <typename Series>
BandCount countInBand(Series& series, double z, const BandGoal& goal) {
    const int n = series.length();
    const double c = series.last();
    const double f = (1.0 - c) * c;
    const auto inBand = [&](int i) {
        const double v = series.exact(i);
        const double half = z * std::sqrt(f / static_cast<double>(i));
        const double lower = c - half;
        const double upper = half + c;
        return v >= lower && upper >= v;
    };
    // Closed-form decisions need finite, non-negative bands around a proportion.
    const bool closedForm = std::isfinite(z) && z >= 0.0 && c >= 0.0 && c <= 1.0;
    const double margin = 4.0 * (series.slack() + 16.0 * std::numeric_limits<double>::epsilon()) *
                          (1.0 + (closedForm ? z : 0.0));

    BandCount result;
    std::int64_t decided = 0;
    std::vector<std::pair<int, int>> pending;
    const auto countRun = [&](int a, int b) {
        pending.assign(1, {a, b});
        while (!pending.empty()) {
            const auto [lo, hi] = pending.back();
            pending.pop_back();
            if (closedForm) {
                const double xa = series.approx(lo);
                const double xb = series.approx(hi);
                const double least = std::min(xa, xb);
                const double most = std::max(xa, xb);
                const double farthest = std::max(most - c, c - least);
                const double nearest =
                    least <= c && c <= most ? 0.0 : std::min(std::fabs(least - c), std::fabs(most - c));
                const double widest = z * std::sqrt(f / static_cast<double>(lo));
                const double narrowest = z * std::sqrt(f / static_cast<double>(hi));
                if (farthest <= narrowest - margin) {
                    result.inside += hi - lo + 1;
                    continue;
                }
                if (nearest >= widest + margin) continue;
                if (hi - lo >= 8) {
                    const int mid = lo + (hi - lo) / 2;
                    pending.push_back({mid + 1, hi});
                    pending.push_back({lo, mid});
                    continue;
                }
            }
            for (int i = lo; i <= hi; ++i) result.inside += inBand(i) ? 1 : 0;
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
