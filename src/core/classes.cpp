#include "classes.hpp"

#include "entropy.hpp"
#include "order_statistics.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorvel {
namespace {

// 1-based positions p_1..p_K of the equal-frequency boundaries in the sorted window: the first
// r = n mod K classes get q + 1 values, the others q, with q = floor(n / K) evaluated in Real.
template <typename Real>
std::vector<int> equalFrequencyPositions(int n, int K) {
    const int r = n % K;
    const Real q = std::floor(static_cast<Real>(n) / static_cast<Real>(K));
    const Real q1 = q + Real(1);
    std::vector<int> positions(static_cast<std::size_t>(K));
    for (int i = 1; i <= K; ++i) {
        Real p;
        if (i <= r) {
            p = static_cast<Real>(i) * q1;
        } else {
            const Real tail = static_cast<Real>(i - r) * q;
            const Real head = static_cast<Real>(r) * q1;
            p = tail + head;
        }
        // Single precision is inexact beyond 2^24; keep every position inside the window (and
        // clamp before truncating, so that no rounded-up value overflows the int).
        positions[static_cast<std::size_t>(i - 1)] =
            static_cast<int>(std::clamp(static_cast<double>(p), 1.0, static_cast<double>(n)));
    }
    return positions;
}

double lowestBoundary(double min, bool equalFrequency, LowestBoundary lowest) {
    if (lowest == LowestBoundary::Relative) return min - std::fabs(min) * 0.01;
    return equalFrequency ? min - 0.01 : 0.99 * min;
}

}  // namespace

void requireClasses(int K, const char* measure) {
    if (K < 1)
        throw std::invalid_argument(std::string(measure) + " needs at least one class (K >= 1)");
}

std::vector<double> classBoundaries(const double* first, const double* last, int K, Binning binning,
                                    LowestBoundary lowest, PositionPrecision precision,
                                    Eigen::MatrixXd& A, WorkerPool* pool) {
    const int n = static_cast<int>(last - first);
    const bool equalFrequency = binning == Binning::EqualFrequency;
    if (K < 0 || (equalFrequency && K < 1))
        throw std::invalid_argument("equal-frequency classes need K >= 1");

    std::vector<double> b;
    if (equalFrequency) {
        const std::vector<int> positions = precision == PositionPrecision::Single
                                               ? equalFrequencyPositions<float>(n, K)
                                               : equalFrequencyPositions<double>(n, K);
        // The minimum and the values at the K positions: a selection, not a sort.
        std::vector<std::size_t> ranks(static_cast<std::size_t>(K) + 1, 0);
        for (int i = 1; i <= K; ++i)
            ranks[static_cast<std::size_t>(i)] =
                static_cast<std::size_t>(positions[static_cast<std::size_t>(i - 1)] - 1);
        b = valuesAtRanks(first, last, ranks, pool);
        b[0] = lowestBoundary(b[0], equalFrequency, lowest);
    } else {
        // Equal widths need only the extremes of the window.
        const auto [lowestValue, highestValue] = std::minmax_element(first, last);
        const double min = *lowestValue;
        const double max = *highestValue;
        b.resize(static_cast<std::size_t>(K) + 1);
        b[0] = lowestBoundary(min, equalFrequency, lowest);
        for (int i = 1; i <= K; ++i)
            b[static_cast<std::size_t>(i)] =
                ((max - min) * static_cast<double>(i)) / static_cast<double>(K) + min;
    }
    for (int i = 0; i <= K; ++i) A(i, 0) = b[static_cast<std::size_t>(i)];
    return b;
}

ClassIndex classifyWindow(const double* first, const double* last, int K, Binning binning,
                          LowestBoundary lowest, PositionPrecision precision,
                          std::vector<double>& b, double* H0out, Eigen::MatrixXd& A,
                          WorkerPool* pool) {
    b = classBoundaries(first, last, K, binning, lowest, precision, A, pool);
    ClassIndex index = classify(first, last, b, K, pool);
    classFrequencies(index, H0out, A);
    return index;
}

ClassIndex classifyWindow(const double* first, const double* last, int K, Binning binning,
                          LowestBoundary lowest, PositionPrecision precision, double* H0out,
                          Eigen::MatrixXd& A, WorkerPool* pool) {
    std::vector<double> b;
    return classifyWindow(first, last, K, binning, lowest, precision, b, H0out, A, pool);
}

void classFrequencies(const ClassIndex& index, double* H0out, Eigen::MatrixXd& A) {
    *H0out = 0.0;
    for (int c = 1; c <= index.K; ++c) {
        const double count = static_cast<double>(index.count(c));
        const double p = count / static_cast<double>(index.n);
        A(c, 1) = count;
        A(c, 2) = p;
        *H0out = subtractEntropyTerm(*H0out, p);
    }
}

}  // namespace quorvel
