// NSLocaltoGlobal: a core group grown outward from the middle classes, then the classes above
// it grouped upward and those below it grouped downward.
#include "measures.hpp"

#include "../core/band_test.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"

#include <cmath>
#include <vector>

namespace quorvel {
namespace {

using Sequence = std::vector<double>;

enum class TailResult { NotTested, Failed, Passed };

// Running proportions of groups of adjacent classes and their band tests.
class Groups {
public:
    Groups(const Eigen::MatrixXd& table, double z, double threshold)
        : table_(table), z_(z), threshold_(threshold), n_(static_cast<int>(table.rows())) {}

    Sequence zeros() const { return Sequence(static_cast<std::size_t>(n_), 0.0); }

    // sum + the column of class c (1-based), element by element.
    Sequence plus(const Sequence& sum, int c) const {
        Sequence result = sum;
        add(result, c);
        return result;
    }

    void add(Sequence& sum, int c) const {
        const auto column = table_.col(c - 1);
        for (int j = 0; j < n_; ++j) sum[static_cast<std::size_t>(j)] += column(j);
    }

    bool passes(const Sequence& v) const {
        double fraction = 0.0;
        return bandTest(v.data(), n_, z_, threshold_, fraction);
    }

    double fraction(const Sequence& v) const {
        double fraction = 0.0;
        bandTest(v.data(), n_, z_, threshold_, fraction);
        return fraction;
    }

private:
    const Eigen::MatrixXd& table_;
    double z_;
    double threshold_;
    int n_;
};

double entropyTerm(double s) { return subtractEntropyTerm(0.0, s); }

}  // namespace

double NSLocaltoGlobal(const double* first, const double* last, int K, double z, double threshold,
                       int mode, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    requireClasses(K, "NSLocaltoGlobal");
    std::vector<double> cutMarks(static_cast<std::size_t>(K) + 1, 0.0);
    cutMarks[0] = 1.0;
    cutMarks[static_cast<std::size_t>(K)] = 1.0;
    const auto mark = [&](int boundary, double value) {
        cutMarks[static_cast<std::size_t>(boundary)] = value;
    };

    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Offset,
                                                  PositionPrecision::Single, *A);
    const Eigen::MatrixXd table = runningProportions(first, last, b, K, H0out, *A);
    const Groups groups(table, z, threshold);

    // Core search: the core group lo..hi-1 grows outward from between classes m-1 and m.
    const int m = static_cast<int>(std::floor(static_cast<double>(K) * 0.5) + 1.0);
    int lo = m;
    int hi = m;
    Sequence S = groups.zeros();
    bool haveCore = false;
    while (m <= K && lo >= 2) {
        Sequence L = groups.plus(S, lo - 1);
        Sequence R = groups.plus(S, hi);
        const double fL = groups.fraction(L);
        const double fR = groups.fraction(R);
        const bool takeRight = fR > fL;
        if ((takeRight ? fR : fL) >= threshold) {
            if (takeRight) {
                ++hi;
                S = std::move(R);
            } else {
                --lo;
                S = std::move(L);
            }
            haveCore = true;
            break;
        }
        // Neither side settles the core alone: both join it.
        S = groups.plus(L, hi);
        --lo;
        ++hi;
        if (hi > K) break;
    }
    double F = 0.0;
    if (haveCore) {
        F = entropyTerm(S.back());
        for (int i = lo - 1; i <= hi - 1; ++i) mark(i, static_cast<double>(K));
    }

    // Upper side: groups from hi upward; the candidate reaching class K is the upper tail.
    double upperSum = 0.0;
    TailResult upperResult = TailResult::NotTested;
    double u = 0.0;
    for (int h = hi; h <= K;) {
        Sequence T = groups.zeros();
        for (int c = h;; ++c) {
            groups.add(T, c);
            const bool passed = groups.passes(T);
            if (c == K) {
                upperResult = passed ? TailResult::Passed : TailResult::Failed;
                u = T.back();
                if (passed)
                    upperSum = subtractEntropyTerm(upperSum, u);
                else
                    mark(K, 0.0);
                h = K + 1;
                break;
            }
            if (passed) {
                upperSum = subtractEntropyTerm(upperSum, T.back());
                mark(c, 1.0);
                h = c + 1;
                break;
            }
        }
    }

    // Lower side: groups from lo-1 downward, the columns added in descending class order; the
    // candidate reaching class 1 is the lower tail.
    double lowerSum = 0.0;
    TailResult lowerResult = TailResult::NotTested;
    double v = 0.0;
    while (lo >= 2) {
        Sequence T = groups.zeros();
        for (int c = lo - 1;; --c) {
            groups.add(T, c);
            const bool passed = groups.passes(T);
            if (c == 1) {
                lowerResult = passed ? TailResult::Passed : TailResult::Failed;
                v = T.back();
                if (passed)
                    lowerSum = subtractEntropyTerm(lowerSum, v);
                else
                    mark(0, 0.0);
                lo = 1;
                break;
            }
            if (passed) {
                lowerSum = subtractEntropyTerm(lowerSum, T.back());
                lo = c;
                mark(lo - 1, 1.0);
                break;
            }
        }
    }

    // A failed tail joins no group; its share enters H only here, and only when the other
    // side was tested too.
    double I = 0.0;
    if (lowerResult == TailResult::Failed && upperResult == TailResult::Failed)
        I = entropyTerm(u + v);
    else if (lowerResult == TailResult::Failed && upperResult == TailResult::Passed)
        I = entropyTerm(v);
    else if (lowerResult == TailResult::Passed && upperResult == TailResult::Failed)
        I = entropyTerm(u);

    *Hout = ((lowerSum + upperSum) + F) + I;
    const double result = 1.0 - *Hout / *H0out;
    for (int i = 0; i <= K; ++i) (*A)(i, 3) = cutMarks[static_cast<std::size_t>(i)];
    return result;
}

}  // namespace quorvel
