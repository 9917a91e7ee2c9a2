// NSdichotomy: breadth-first splitting of the value range. Each pass splits every open stretch
// of classes at the inner boundary whose running shares settle best, or closes it.
#include "measures.hpp"

#include "../core/class_source.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/stretch_score.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// Splits the stretch s..e (boundary indices, at least one inner boundary) at its best-settling
// inner boundary when that one's score exceeds the threshold, else drops every inner boundary.
// `stretch` holds the values of classes s+1..e (at least one); those at or below b[q] are those
// of classes s+1..q. A boundary's score is the smaller in-band count of its running share and
// of the complement (the fractions have the common divisor N, so counts order them the same
// way). Returns the chosen boundary, or 0 when the stretch is closed.
int splitStretch(const StretchView& stretch, const InverseRoots& roots, int s, int e, int level,
                 int K, double threshold, std::vector<double>& marks, const std::vector<double>& b,
                 double z, int& decidedCount, std::vector<double>& strayAt) {
    const int N = stretch.size();
    constexpr std::int64_t kOutOfReach = -1;
    std::vector<std::int64_t> scores;
    std::int64_t best = 0;
    StretchScorer scorer(stretch, roots, z, strayAt);
    for (int q = s + 1; q < e; ++q) {
        if (q > s + 1 && stretch.source->count(q) == 0) {
            // No value lies in (b[q-1], b[q]]: the running shares, and so the score, are those
            // of the boundary below.
            scores.push_back(scores.back());
            continue;
        }
        // A boundary that cannot reach the best score so far is never a candidate.
        const std::int64_t score = scorer.settledCount(q, best);
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

// A stretch of classes s+1..e still to be examined, seen through the index of a sequence that
// holds its values in window order. The boundaries ascend here (the lowest lies at or below the
// minimum), so the values in (b[s], b[e]] are exactly those of classes s+1..e; when the
// boundaries hold NaN every class is empty.
struct OpenStretch {
    int s;
    int e;
    std::shared_ptr<const ClassSource> source;

    StretchView view() const { return StretchView{&source->index(), s + 1, e}; }
};

// The parts of a stretch split at q that can still be split: two classes or more, and values.
// A part that holds at least half of its source's values is followed through that source; a
// smaller one is taken out, so that examining it costs in proportion to its own values.
void keepParts(const OpenStretch& stretch, int q, std::vector<OpenStretch>& next) {
    const ClassIndex& source = stretch.source->index();
    for (const auto& [s, e] : {std::pair{stretch.s, q}, std::pair{q, stretch.e}}) {
        const std::int32_t values = source.rangeCount(s + 1, e);
        if (e - s < 2 || values == 0) continue;
        if (2 * static_cast<std::int64_t>(values) >= source.n)
            next.push_back(OpenStretch{s, e, stretch.source});
        else
            next.push_back(OpenStretch{
                s, e, std::make_shared<const ClassSource>(stretch.source->extract(s + 1, e))});
    }
}

}  // namespace

double NSdichotomy(const double* first, const double* last, int K, double z, double threshold,
                   int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSdichotomy");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Relative,
                                                  PositionPrecision::Single, *A);
    const auto window = std::make_shared<const ClassSource>(classify(first, last, b, K));
    const ClassIndex& index = window->index();
    classFrequencies(index, H0out, *A);
    const InverseRoots roots = inverseRoots(index.n);
    const int n = index.n;

    std::vector<double> marks(static_cast<std::size_t>(K) + 1, 0.0);
    marks[0] = 1.0;
    marks[static_cast<std::size_t>(K)] = 1.0;
    const auto mark = [&](int i) { return marks[static_cast<std::size_t>(i)]; };
    int decidedCount = 0;
    std::vector<double> strayAt(static_cast<std::size_t>(K) + 1, -1.0);

    // Breadth first: each pass examines every stretch of two classes or more that holds values,
    // and its splits bound the stretches of the next pass. A stretch without values keeps its
    // inner marks at 0 and is never examined.
    std::vector<OpenStretch> open;
    if (K >= 2 && index.rangeCount(1, K) != 0) open.push_back(OpenStretch{0, K, window});
    for (int pass = 1; pass <= K - 1 && !open.empty() && decidedCount < K - 1; ++pass) {
        std::vector<OpenStretch> next;
        for (const OpenStretch& stretch : open) {
            const int q = splitStretch(stretch.view(), roots, stretch.s, stretch.e, pass, K,
                                       threshold, marks, b, z, decidedCount, strayAt);
            if (q != 0) keepParts(stretch, q, next);
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
