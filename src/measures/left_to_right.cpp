// NSLefttoRight: one sweep from the lowest class upward, closing each group of adjacent
// classes as soon as its running proportion settles.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/singles_ahead.hpp"

#include <optional>
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

ClassifiedWindow classifyForLefttoRight(const double* first, const double* last,
                                        const MeasureSettings& settings, MeasureResult& result) {
    // Offset lowest boundary and single-precision positions, as the reference records have them
    // for this measure (single precision differs from exact positions only past 2^24 values).
    return classifyWith(LowestBoundary::Offset, PositionPrecision::Single, first, last, settings,
                        result);
}

void lefttoRightOnClasses(ClassIndex index, const std::vector<double>& /*b*/,
                          const MeasureSettings& settings, MeasureResult& result) {
    const int K = settings.K;
    // Whether class c ends a group (c = 0 stands for the boundary below the first).
    std::vector<bool> endsGroup(static_cast<std::size_t>(K) + 1, false);
    endsGroup[0] = true;
    endsGroup[static_cast<std::size_t>(K)] = true;

    result.H = 0.0;
    // Class K closes its group untested, so the classes tested ahead end below it.
    SinglesAhead singles(index, settings.z, settings.threshold, settings.pool, 1, K - 1);
    for (int s = 1; s <= K;) {
        // The group s..e grows one class at a time until it settles or reaches class K.
        ClassGroup group(index);
        for (int e = s;; ++e) {
            group.add(e);
            // The group reaching class K closes untested.
            const std::optional<bool> alone = e == s ? singles.settles(s) : std::nullopt;
            const bool closes =
                e == K || (alone ? *alone : group.passes(settings.z, settings.threshold));
            if (!closes) continue;
            singles.closed(s == e);
            result.H = subtractEntropyTerm(result.H, group.share());
            if (settings.groups)
                result.groups.push_back(
                    {s, e, index.rangeCount(s, e), group.share(), GroupKind::Group});
            endsGroup[static_cast<std::size_t>(e)] = true;
            s = e + 1;
            break;
        }
    }
    result.value = 1.0 - result.H / result.H0;
    reportGroups(endsGroup, K, result.table);
}

}  // namespace

const MeasureSteps kLefttoRightSteps{&classifyForLefttoRight, &lefttoRightOnClasses};

void NSLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                   MeasureResult& result) {
    runSteps(kLefttoRightSteps, first, last, settings, result);
}

}  // namespace quorvel
