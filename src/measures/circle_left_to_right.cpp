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
class ArcPartitions {
public:
    ArcPartitions(const ClassIndex& index, const std::vector<double>& roots, double z,
                  double threshold)
        : index_(index),
          roots_(roots),
          z_(z),
          threshold_(threshold),
          firstPass_(static_cast<std::size_t>(index.K) + 1, kNotSearched) {}

    // Entropy of the partition of the arc a..b, the groups' terms subtracted left to right.
    double arcPartitionEntropy(int a, int b) {
        double entropy = 0.0;
        for (int g = a; g <= b;) {
            const int t = std::min(firstPass(g), b);
            entropy = subtractEntropyTerm(entropy, groupShare(g, t));
            g = t + 1;
        }
        return entropy;
    }

private:
    static constexpr int kNotSearched = 0;

    // The first t in g..K-1 at which classes g..t pass, or K when none does.
    int firstPass(int g) {
        int& known = firstPass_[static_cast<std::size_t>(g)];
        if (known != kNotSearched) return known;
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

    // The share of classes g..t, summed in ascending class order.
    double groupShare(int g, int t) const {
        const double n = static_cast<double>(index_.n);
        double share = 0.0;
        for (int c = g; c <= t; ++c) share += static_cast<double>(index_.count(c)) / n;
        return share;
    }

    const ClassIndex& index_;
    const std::vector<double>& roots_;
    double z_;
    double threshold_;
    std::vector<int> firstPass_;
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
