// NSLefttoRight: one sweep from the lowest class upward, closing each group of adjacent
// classes as soon as its running proportion settles.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/group_report.hpp"

#include <vector>

namespace quorvel {
namespace {

// Columns 3..5: for each class that ends a group, its upper boundary and the group's count
// and share, summed over the group's classes in ascending order.
void reportGroups(const std::vector<bool>& endsGroup, int K, Eigen::MatrixXd& A) {
    double groupCount = 0.0;
    double groupShare = 0.0;
    for (int c = 1; c <= K; ++c) {
        groupCount += A(c, 1);
        groupShare += A(c, 2);
        if (endsGroup[static_cast<std::size_t>(c)]) {
            A(c, 3) = A(c, 0);
            A(c, 4) = groupCount;
            A(c, 5) = groupShare;
            groupCount = 0.0;
            groupShare = 0.0;
        }
    }
}

}  // namespace

double NSLefttoRight(const double* first, const double* last, int K, double z, double threshold,
                     Binning binning, double* H0out, double* Hout, Eigen::MatrixXd* A) {
    // Whether class c ends a group (c = 0 stands for the boundary below the first).
    std::vector<bool> endsGroup(static_cast<std::size_t>(K) + 1, false);
    endsGroup[0] = true;
    endsGroup[static_cast<std::size_t>(K)] = true;

    const ClassIndex index = classifyWindow(first, last, K, binning, LowestBoundary::Offset,
                                            PositionPrecision::Single, H0out, *A);

    *Hout = 0.0;
    for (int s = 1; s <= K;) {
        // The group s..e grows one class at a time until it settles or reaches class K.
        ClassGroup group(index);
        for (int e = s;; ++e) {
            group.add(e);
            // The group reaching class K closes untested.
            const bool closes = e == K || group.passes(z, threshold);
            if (!closes) continue;
            *Hout = subtractEntropyTerm(*Hout, group.share());
            if (groupsListenedTo())
                reportGroup({s, e, index.rangeCount(s, e), group.share(), GroupKind::Group});
            endsGroup[static_cast<std::size_t>(e)] = true;
            s = e + 1;
            break;
        }
    }
    const double result = 1.0 - *Hout / *H0out;
    reportGroups(endsGroup, K, *A);
    return result;
}

}  // namespace quorvel
