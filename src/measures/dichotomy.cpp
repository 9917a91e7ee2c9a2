// NSdichotomy: breadth-first splitting of the value range. Each pass splits every open stretch
// of classes at the inner boundary whose running shares settle best, or closes it.
#include "measures.hpp"

#include "../core/band_count.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// The running share p_t = fl(m / t) of the first t values of a stretch at or below a boundary,
// or its complement fl(1 - p_t): one rounding each, so the count alone gives them exactly.
struct ShareOfCount {
    bool complement;
    void enter(int) {}
    void take(int) {}
    double value(int t, std::int32_t count) const {
        const double p = static_cast<double>(count) / static_cast<double>(t);
        return complement ? 1.0 - p : p;
    }
};

// Splits the stretch s..e (boundary indices, at least one inner boundary) at its best-settling
// inner boundary when that one's score exceeds the threshold, else drops every inner boundary.
// `stretch` holds the classes of the stretch's values in window order (at least one); those at
// or below b[q] are those of classes s+1..q. A boundary's score is the smaller in-band count of
// its running share and of the complement (the fractions have the common divisor N, so counts
// order them the same way). Returns the chosen boundary, or 0 when the stretch is closed.
int splitStretch(const ClassIndex& stretch, const std::vector<double>& roots, int s, int e,
                 int level, int K, double threshold, std::vector<double>& marks,
                 const std::vector<double>& b, double z, int& decidedCount) {
    const int N = stretch.n;
    const double slack = 2.0 * std::numeric_limits<double>::epsilon();
    constexpr std::int64_t kOutOfReach = -1;
    std::vector<std::int64_t> scores;
    std::int64_t best = 0;
    for (int q = s + 1; q < e; ++q) {
        if (q > s + 1 && stretch.count(q) == 0) {
            // No value lies in (b[q-1], b[q]]: the running shares, and so the score, are those
            // of the boundary below.
            scores.push_back(scores.back());
            continue;
        }
        const double share =
            static_cast<double>(stretch.rangeCount(s + 1, q)) / static_cast<double>(N);
        // A boundary that cannot reach the best score so far is never a candidate.
        BandGoal goal;
        goal.atLeast = best;
        ShareOfCount below{false};
        const std::int64_t f1 =
            countInBlocks(stretch, s + 1, q, roots, Band(share, z, slack), false, goal, below)
                .inside;
        ShareOfCount above{true};
        const std::int64_t f2 = f1 < best
                                    ? f1
                                    : countInBlocks(stretch, s + 1, q, roots,
                                                    Band(1.0 - share, z, slack), true, goal, above)
                                          .inside;
        const std::int64_t score = std::min(f1, f2);
        scores.push_back(score < best ? kOutOfReach : score);
        best = std::max(best, score);
    }

    if (static_cast<double>(best) / static_cast<double>(N) > threshold) {
        const int M = (s + e) / 2;
        const double centre =
            (b[static_cast<std::size_t>(M)] + b[static_cast<std::size_t>(M) + 1]) * 0.5;
        // Among the best-scoring boundaries the one nearest the centre wins; every other inner
        // boundary counts as 1.0 away, and equal distances go to the lowest boundary.
        int chosen = s + 1;
        double nearest = 0.0;
        for (int q = s + 1; q < e; ++q) {
            const double distance = scores[static_cast<std::size_t>(q - s - 1)] == best
                                        ? std::fabs(b[static_cast<std::size_t>(q)] - centre)
                                        : 1.0;
            if (q == s + 1 || distance < nearest) {
                chosen = q;
                nearest = distance;
            }
        }
        marks[static_cast<std::size_t>(chosen)] = static_cast<double>(level);
        decidedCount += 1;
        return chosen;
    }
    for (int q = s + 1; q < e; ++q) marks[static_cast<std::size_t>(q)] = static_cast<double>(K);
    decidedCount += e - s - 1;
    return 0;
}

// A stretch of classes s+1..e still to be examined, with the classes of its values in window
// order. The boundaries ascend here (the lowest lies at or below the minimum), so the values in
// (b[s], b[e]] are exactly those of classes s+1..e; when the boundaries hold NaN every class is
// empty.
struct OpenStretch {
    int s;
    int e;
    std::vector<std::int32_t> labels;
};

// The parts of a stretch split at q that can still be split: two classes or more, and values.
void keepParts(const ClassIndex& values, int s, int e, int q, std::vector<OpenStretch>& next) {
    OpenStretch lower{s, q, {}};
    OpenStretch upper{q, e, {}};
    const int below = values.rangeCount(s + 1, q);
    lower.labels.reserve(static_cast<std::size_t>(below));
    upper.labels.reserve(static_cast<std::size_t>(values.n - below));
    for (const std::int32_t c : values.label) (c <= q ? lower : upper).labels.push_back(c);
    for (OpenStretch* part : {&lower, &upper})
        if (part->e - part->s >= 2 && !part->labels.empty()) next.push_back(std::move(*part));
}

}  // namespace

double NSdichotomy(const double* first, const double* last, int K, double z, double threshold,
                   int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSdichotomy");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Relative,
                                                  PositionPrecision::Single, *A);
    const ClassIndex index = classify(first, last, b, K);
    classFrequencies(index, H0out, *A);
    const std::vector<double> roots = inverseRoots(index.n);
    const int n = index.n;

    std::vector<double> marks(static_cast<std::size_t>(K) + 1, 0.0);
    marks[0] = 1.0;
    marks[static_cast<std::size_t>(K)] = 1.0;
    const auto mark = [&](int i) { return marks[static_cast<std::size_t>(i)]; };
    int decidedCount = 0;

    // Breadth first: each pass examines every stretch of two classes or more that holds values,
    // and its splits bound the stretches of the next pass. A stretch without values keeps its
    // inner marks at 0 and is never examined.
    std::vector<OpenStretch> open;
    if (K >= 2) {
        OpenStretch whole{0, K, {}};
        for (const std::int32_t c : index.label)
            if (c != 0) whole.labels.push_back(c);
        if (!whole.labels.empty()) open.push_back(std::move(whole));
    }
    for (int pass = 1; pass <= K - 1 && !open.empty() && decidedCount < K - 1; ++pass) {
        std::vector<OpenStretch> next;
        for (OpenStretch& stretch : open) {
            const ClassIndex values =
                indexLabels(std::move(stretch.labels), stretch.s + 1, stretch.e);
            const int q = splitStretch(values, roots, stretch.s, stretch.e, pass, K, threshold,
                                       marks, b, z, decidedCount);
            if (q != 0) keepParts(values, stretch.s, stretch.e, q, next);
        }
        open = std::move(next);
    }

    // Final partition between delimiters; an empty stretch is merged into the next one.
    *Hout = 0.0;
    const double dropped = static_cast<double>(K);
    int s = 0;
    for (int e = 1; e <= K; ++e) {
        if (mark(e) == 0.0 || mark(e) == dropped) continue;
        const std::int32_t count = index.rangeCount(s + 1, e);
        const double p = static_cast<double>(count) / static_cast<double>(n);
        (*A)(e, 4) = static_cast<double>(count);
        (*A)(e, 5) = p;
        if (count != 0) {
            *Hout = subtractEntropyTerm(*Hout, p);
            s = e;
        }
    }
    const double result = 1.0 - *Hout / *H0out;
    for (int i = 0; i <= K; ++i)
        (*A)(i, 3) = mark(i) == dropped ? 0.0 : b[static_cast<std::size_t>(i)];
    return result;
}

}  // namespace quorvel
