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
#include <vector>

namespace quorvel {
namespace {

// The running share p_t = (values among the first t at or below a boundary) / t of a stretch's
// values, or its complement 1 - p_t; `below` holds the 0-based indices of the values at or below.
class SplitSeries {
public:
    SplitSeries(const std::vector<std::int32_t>& below, int N, bool complement)
        : below_(below), N_(N), complement_(complement) {}

    int length() const { return N_; }
    double last() const { return value(static_cast<int>(below_.size()), N_); }
    double slack() const { return 2.0 * std::numeric_limits<double>::epsilon(); }
    void restart() { count_ = 0; }
    bool next(int& p) const {
        if (static_cast<std::size_t>(count_) == below_.size()) return false;
        p = below_[static_cast<std::size_t>(count_)] + 1;
        return true;
    }
    void advance() { ++count_; }
    double approx(int t) const { return value(count_, t); }
    double exact(int t) const { return value(count_, t); }

private:
    double value(int count, int t) const {
        const double p = static_cast<double>(count) / static_cast<double>(t);
        return complement_ ? 1.0 - p : p;
    }

    const std::vector<std::int32_t>& below_;
    int N_;
    bool complement_;
    int count_ = 0;
};

// In-band count of a boundary's running share, or of its complement; stops early (and reports
// fewer) once it cannot reach `atLeast`.
std::int64_t splitCount(const std::vector<std::int32_t>& below, int N, bool complement, double z,
                        std::int64_t atLeast) {
    SplitSeries series(below, N, complement);
    BandGoal goal;
    goal.atLeast = atLeast;
    return countInBand(series, z, goal).inside;
}

// Splits the stretch s..e (boundary indices, at least one inner boundary) at its best-settling
// inner boundary when that one's score exceeds the threshold, else drops every inner boundary.
// A boundary's score is the smaller in-band count of its running share and of the complement
// (the fractions have the common divisor N, so counts order them the same way).
void splitStretch(const std::vector<double>& values, int s, int e, int level, int K,
                  double threshold, std::vector<double>& marks, const std::vector<double>& b,
                  double z, int& decidedCount) {
    const int N = static_cast<int>(values.size());
    constexpr std::int64_t kOutOfReach = -1;
    std::vector<std::int64_t> scores;
    std::int64_t best = 0;
    std::vector<std::int32_t> below;
    for (int q = s + 1; q < e; ++q) {
        below.clear();
        const double boundary = b[static_cast<std::size_t>(q)];
        for (int t = 0; t < N; ++t)
            if (values[static_cast<std::size_t>(t)] <= boundary) below.push_back(t);
        // A boundary that cannot reach the best score so far is never a candidate.
        const std::int64_t f1 = splitCount(below, N, false, z, best);
        const std::int64_t f2 = f1 < best ? f1 : splitCount(below, N, true, z, best);
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

// The window's values in the stretch (b[s], b[e]], in window order.
std::vector<double> stretchValues(const double* first, const ClassIndex& index,
                                  const std::vector<double>& b, int s, int e) {
    std::vector<double> values;
    const double lower = b[static_cast<std::size_t>(s)];
    const double upper = b[static_cast<std::size_t>(e)];
    for (int j = 0; j < index.n; ++j) {
        const int c = index.label[static_cast<std::size_t>(j)];
        const bool inside = index.ordered ? s < c && c <= e : inClass(first[j], lower, upper);
        if (inside) values.push_back(first[j]);
    }
    return values;
}

// The number of window values in (b[s], b[e]].
std::int64_t stretchCount(const double* first, const ClassIndex& index,
                          const std::vector<double>& b, int s, int e) {
    if (index.ordered) {
        std::int64_t count = 0;
        for (int c = s + 1; c <= e; ++c) count += index.count(c);
        return count;
    }
    const double lower = b[static_cast<std::size_t>(s)];
    const double upper = b[static_cast<std::size_t>(e)];
    return std::count_if(first, first + index.n, [&](double x) { return inClass(x, lower, upper); });
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

    // Breadth first: a mark set in one pass bounds stretches from the next pass on.
    for (int pass = 1; K >= 2 && pass <= K - 1; ++pass) {
        int s = 0;
        int e = 0;
        do {
            e = s + 1;
            while (mark(e) == 0.0) ++e;
            if (e - s >= 2) {
                const std::vector<double> values = stretchValues(first, index, b, s, e);
                if (!values.empty())
                    splitStretch(values, s, e, pass, K, threshold, marks, b, z, decidedCount);
            }
            s = e;
        } while (e < K - 1);
        if (decidedCount >= K - 1) break;
    }

    // Final partition between delimiters; an empty stretch is merged into the next one.
    *Hout = 0.0;
    const double dropped = static_cast<double>(K);
    int s = 0;
    for (int e = 1; e <= K; ++e) {
        if (mark(e) == 0.0 || mark(e) == dropped) continue;
        const std::int64_t count = stretchCount(first, index, b, s, e);
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
