// NSCircleLefttoRight: the left-to-right grouping tried from every class as a starting point,
// the classes read as a circle; the least partition entropy wins.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"

#include <algorithm>
#include <vector>

namespace quorvel {
namespace {

// Groups of the left-to-right partition of any arc a..b of classes. A group starting at class
// g closes at the first class t < b at which the classes g..t pass the band test, else at b.
// That first passing class depends on g alone, so it is searched once per g and remembered.
//
// Empty classes add 0 to every running proportion and share, so they are stepped over wherever
// that gives the same result: with K far above the window length almost every class is empty,
// and walking them one by one for each of the K starts would take O(K^2).
class ArcPartitions {
public:
    ArcPartitions(const ClassIndex& index, const std::vector<double>& roots, double z,
                  double threshold)
        : index_(index),
          roots_(roots),
          z_(z),
          threshold_(threshold),
          firstPass_(static_cast<std::size_t>(index.K) + 1, kNotSearched),
          nextNonEmpty_(static_cast<std::size_t>(index.K) + 2, index.K + 1) {
        for (int c = index.K; c >= 1; --c)
            nextNonEmpty_[static_cast<std::size_t>(c)] = isEmpty(c) ? nextNonEmpty(c + 1) : c;
        // Every empty class alone has the same all-zero running proportion.
        for (int c = 1; c <= index.K; ++c) {
            if (!isEmpty(c)) continue;
            ClassGroup alone(index_, roots_);
            alone.add(c);
            emptyClassPasses_ = alone.passes(z_, threshold_);
            break;
        }
    }

    // Entropy of the partition of the arc a..b, the groups' terms subtracted left to right.
    double arcPartitionEntropy(int a, int b) {
        double entropy = 0.0;
        for (int g = a; g <= b;) {
            if (emptyClassPasses_ && isEmpty(g)) {
                // Each empty class is a group of its own with share 0: nothing to subtract.
                g = std::min(nextNonEmpty(g), b + 1);
                continue;
            }
            const int t = std::min(firstPass(g), b);
            entropy = subtractEntropyTerm(entropy, groupShare(g, t));
            g = t + 1;
        }
        return entropy;
    }

private:
    static constexpr int kNotSearched = 0;

    bool isEmpty(int c) const { return index_.count(c) == 0; }
    int nextNonEmpty(int c) const { return nextNonEmpty_[static_cast<std::size_t>(c)]; }

    // The first t in g..K-1 at which classes g..t pass, or K when none does.
    int firstPass(int g) {
        int& known = firstPass_[static_cast<std::size_t>(g)];
        if (known != kNotSearched) return known;
        if (isEmpty(g)) {
            // Leading empty classes keep the running proportion all zero until the first
            // non-empty class h; from h on it equals that of the group starting at h.
            const int h = nextNonEmpty(g);
            if (emptyClassPasses_ && g < index_.K)
                known = g;
            else
                known = h < index_.K ? firstPass(h) : index_.K;
            return known;
        }
        known = index_.K;
        ClassGroup group(index_, roots_);
        for (int t = g; t < index_.K; ++t) {
            group.add(t);
            if (group.passes(z_, threshold_)) {
                known = t;
                break;
            }
        }
        return known;
    }

    // The share of classes g..t, summed in ascending class order (an empty class adds 0).
    double groupShare(int g, int t) const {
        const double n = static_cast<double>(index_.n);
        double share = 0.0;
        for (int c = nextNonEmpty(g); c <= t; c = nextNonEmpty(c + 1))
            share += static_cast<double>(index_.count(c)) / n;
        return share;
    }

    const ClassIndex& index_;
    const std::vector<double>& roots_;
    double z_;
    double threshold_;
    std::vector<int> firstPass_;
    std::vector<int> nextNonEmpty_;
    bool emptyClassPasses_ = false;
};

}  // namespace

double NSCircleLefttoRight(const double* first, const double* last, int K, double z,
                           double threshold, int mode, double* H0out, double* Hout,
                           Eigen::MatrixXd* A) {
    requireClasses(K, "NSCircleLefttoRight");
    const std::vector<double> b = classBoundaries(first, last, K, mode, LowestBoundary::Offset,
                                                  PositionPrecision::Double, *A);
    const ClassIndex index = classify(first, last, b, K);
    const std::vector<double> roots = inverseRoots(index.n);
    classFrequencies(index, H0out, *A);

    ArcPartitions arcs(index, roots, z, threshold);
    // Start s scans s..K, then 1..s-1; the two arcs never share a group.
    double smallest = arcs.arcPartitionEntropy(1, K);
    for (int s = 2; s <= K; ++s) {
        const double score = arcs.arcPartitionEntropy(1, s - 1) + arcs.arcPartitionEntropy(s, K);
        if (score < smallest) smallest = score;
    }
    *Hout = smallest;
    return 1.0 - *Hout / *H0out;
}

}  // namespace quorvel
