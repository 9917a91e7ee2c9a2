// NSdichotomy: breadth-first splitting of the value range. Each pass splits every open stretch
// of classes at the inner boundary whose running shares settle best, or closes it.
#include "measures.hpp"

#include "../core/band_test.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvel {
namespace {

// Score of an inner boundary: the smaller in-band fraction of the running share of the
// stretch's values at or below it and of its complement (the first on equality).
double boundaryScore(const std::vector<double>& values, double boundary, double z,
                     std::vector<double>& below, std::vector<double>& above) {
    const int N = static_cast<int>(values.size());
    int count = 0;
    for (int t = 1; t <= N; ++t) {
        if (values[static_cast<std::size_t>(t - 1)] <= boundary) ++count;
        const double p = static_cast<double>(count) / static_cast<double>(t);
        below[static_cast<std::size_t>(t - 1)] = p;
        above[static_cast<std::size_t>(t - 1)] = 1.0 - p;
    }
    double f1 = 0.0;
    double f2 = 0.0;
    bandTest(below.data(), N, z, 0.0, f1);
    bandTest(above.data(), N, z, 0.0, f2);
    return f1 > f2 ? f2 : f1;
}

// Splits the stretch s..e (boundary indices, at least one inner boundary) at its best-settling
// inner boundary when that one's score exceeds the threshold, else drops every inner boundary.
void splitStretch(const std::vector<double>& values, int s, int e, int level, int K,
                  double threshold, std::vector<double>& marks, const std::vector<double>& b,
                  double z, int& decidedCount) {
    const std::size_t N = values.size();
    std::vector<double> below(N);
    std::vector<double> above(N);
    std::vector<double> scores;
    scores.reserve(static_cast<std::size_t>(e - s - 1));
    for (int q = s + 1; q < e; ++q)
        scores.push_back(boundaryScore(values, b[static_cast<std::size_t>(q)], z, below, above));
    double best = scores.front();
    for (const double score : scores)
        if (score > best) best = score;

    if (best > threshold) {
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
std::vector<double> stretchValues(const double* first, const double* last, double lower,
                                  double upper) {
    std::vector<double> values;
    for (const double* x = first; x != last; ++x)
        if (inClass(*x, lower, upper)) values.push_back(*x);
    return values;
}

}  // namespace

double NSdichotomy(const double* first, const double* last, int K, double z, double threshold,
                   int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSdichotomy");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Relative,
                                                  PositionPrecision::Single, *A);
    classFrequencies(first, last, b, K, H0out, *A);
    const auto boundary = [&](int i) { return b[static_cast<std::size_t>(i)]; };
    const int n = static_cast<int>(last - first);

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
                const std::vector<double> values = stretchValues(first, last, boundary(s), boundary(e));
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
        const double lower = boundary(s);
        const double upper = boundary(e);
        const auto count = std::count_if(first, last, [&](double x) { return inClass(x, lower, upper); });
        const double p = static_cast<double>(count) / static_cast<double>(n);
        (*A)(e, 4) = static_cast<double>(count);
        (*A)(e, 5) = p;
        if (count != 0) {
            *Hout = subtractEntropyTerm(*Hout, p);
            s = e;
        }
    }
    const double result = 1.0 - *Hout / *H0out;
    for (int i = 0; i <= K; ++i) (*A)(i, 3) = mark(i) == dropped ? 0.0 : boundary(i);
    return result;
}

}  // namespace quorvel
