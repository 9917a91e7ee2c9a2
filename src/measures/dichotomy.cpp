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

// In-band count of a boundary's running share (or of its complement) over the stretch; stops
// early, reporting fewer, once it cannot reach `atLeast`.
std::int64_t splitCount(const ClassIndex& stretch, int s, int q,
                        const std::vector<std::int32_t>& countBefore, double share, bool complement,
                        double z, std::int64_t atLeast) {
    const Band band(share, z, 2.0 * std::numeric_limits<double>::epsilon());
    ShareOfCount exact{complement};
    BandGoal goal;
    goal.atLeast = atLeast;
    return countInBlocks(stretch, s + 1, q, countBefore, band, complement, goal, exact).inside;
}

// Splits the stretch s..e (boundary indices, at least one inner boundary) at its best-settling
// inner boundary when that one's score exceeds the threshold, else drops every inner boundary.
// A boundary's score is the smaller in-band count of its running share and of the complement
// (the fractions have the common divisor N, so counts order them the same way).
void splitStretch(const ClassIndex& stretch, int s, int e, int level, int K, double threshold,
                  std::vector<double>& marks, const std::vector<double>& b, double z,
                  int& decidedCount) {
    const int N = stretch.n;
    constexpr std::int64_t kOutOfReach = -1;
    std::vector<std::int64_t> scores;
    std::int64_t best = 0;
    // The stretch's values at or below b[q] are those of its classes s+1..q.
    std::vector<std::int32_t> countBefore(static_cast<std::size_t>(stretch.blocks) + 1, 0);
    std::int32_t below = 0;
    for (int q = s + 1; q < e; ++q) {
        const std::int32_t* classBefore = stretch.before(q);
        for (std::size_t j = 0; j < countBefore.size(); ++j) countBefore[j] += classBefore[j];
        below += stretch.count(q);
        const double share = static_cast<double>(below) / static_cast<double>(N);
        // A boundary that cannot reach the best score so far is never a candidate.
        const std::int64_t f1 = splitCount(stretch, s, q, countBefore, share, false, z, best);
        const std::int64_t f2 =
            f1 < best ? f1 : splitCount(stretch, s, q, countBefore, 1.0 - share, true, z, best);
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
    } else {
        for (int q = s + 1; q < e; ++q) marks[static_cast<std::size_t>(q)] = static_cast<double>(K);
        decidedCount += e - s - 1;
    }
}

// The labels of the window's values in each stretch of classes s+1..e, in window order, from
// one sweep over the window. The boundaries ascend here (the lowest lies at or below the
// minimum), so a value lies in (b[s], b[e]] exactly when its class is one of s+1..e; when they
// hold NaN, every class and every stretch is empty.
std::vector<std::vector<std::int32_t>> stretchLabels(const ClassIndex& index,
                                                     const std::vector<std::pair<int, int>>& stretches) {
    std::vector<int> stretchOfClass(static_cast<std::size_t>(index.K) + 1, -1);
    std::vector<std::vector<std::int32_t>> labels(stretches.size());
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        const auto [s, e] = stretches[k];
        std::size_t size = 0;
        for (int c = s + 1; c <= e; ++c) {
            stretchOfClass[static_cast<std::size_t>(c)] = static_cast<int>(k);
            size += static_cast<std::size_t>(index.count(c));
        }
        labels[k].reserve(size);
    }
    for (const std::int32_t c : index.label) {
        const int k = stretchOfClass[static_cast<std::size_t>(c)];
        if (k >= 0) labels[static_cast<std::size_t>(k)].push_back(c);
    }
    return labels;
}

}  // namespace

double NSdichotomy(const double* first, const double* last, int K, double z, double threshold,
                   int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSdichotomy");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Relative,
                                                  PositionPrecision::Single, *A);
    const ClassIndex index = classify(first, last, b, K);
    classFrequencies(index, H0out, *A);
    const int n = index.n;

    std::vector<double> marks(static_cast<std::size_t>(K) + 1, 0.0);
    marks[0] = 1.0;
    marks[static_cast<std::size_t>(K)] = 1.0;
    const auto mark = [&](int i) { return marks[static_cast<std::size_t>(i)]; };
    int decidedCount = 0;

    // Breadth first: a mark set in one pass bounds stretches from the next pass on. A pass that
    // decides nothing leaves the marks as they were, so every later pass would repeat it: stop
    // there (stretches without values would otherwise cost K passes over K classes).
    for (int pass = 1; K >= 2 && pass <= K - 1; ++pass) {
        const int decidedBefore = decidedCount;
        // The stretches of this pass are fixed before any of them is split: a mark set now
        // bounds stretches from the next pass on.
        std::vector<std::pair<int, int>> stretches;
        int s = 0;
        int e = 0;
        do {
            e = s + 1;
            while (mark(e) == 0.0) ++e;
            if (e - s >= 2) stretches.emplace_back(s, e);
            s = e;
        } while (e < K - 1);
        std::vector<std::vector<std::int32_t>> labels = stretchLabels(index, stretches);
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            if (labels[k].empty()) continue;
            const auto [lower, upper] = stretches[k];
            const ClassIndex stretch = indexLabels(std::move(labels[k]), upper, index.inverseRoots);
            splitStretch(stretch, lower, upper, pass, K, threshold, marks, b, z, decidedCount);
        }
        if (decidedCount >= K - 1 || decidedCount == decidedBefore) break;
    }

    // Final partition between delimiters; an empty stretch is merged into the next one.
    *Hout = 0.0;
    const double dropped = static_cast<double>(K);
    int s = 0;
    for (int e = 1; e <= K; ++e) {
        if (mark(e) == 0.0 || mark(e) == dropped) continue;
        std::int64_t count = 0;
        for (int c = s + 1; c <= e; ++c) count += index.count(c);
        const double p = static_cast<double>(count) / static_cast<double>(n);
        (*A)(e, 4) = static_cast<double>(count);
        (*A)(e, 5) = p;
        if (count != 0) {
            *Hout = subtractEntropyTerm(*Hout, p);
            s = e;
        }
    }
    const double result = 1.0 - *Hout / *H0out;
    for (int i = 0; i <= K; ++i) (*A)(i, 3) = mark(i) == dropped ? 0.0 : b[static_cast<std::size_t>(i)];
    return result;
}

}  // namespace quorvel
